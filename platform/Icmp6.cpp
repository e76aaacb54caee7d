// ICMPv6 (RFC 4443): messages, socket options and error codes.
#include <netinet/icmp6.h>
#include <netinet/in.h>

#include <cstring>

#include "platform/IcmpFamily.h"

namespace quovix::platform {

using detail::IsEchoOf;

namespace {

constexpr std::uint8_t kDestUnreachable = 1;
constexpr std::uint8_t kPacketTooBig = 2;
constexpr std::uint8_t kTimeExceeded = 3;
constexpr std::uint8_t kParamProblem = 4;
constexpr std::uint8_t kEchoRequest = 128;
constexpr std::uint8_t kEchoReply = 129;
constexpr std::size_t kIp6HeaderSize = 40;
constexpr std::uint8_t kNextHeaderIcmp6 = 58;

bool IsError(std::uint8_t type) {
  return type == kDestUnreachable || type == kPacketTooBig || type == kTimeExceeded ||
         type == kParamProblem;
}

void SetTtl(int fd, int ttl) {
  setsockopt(fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof ttl);
  setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_HOPS, &ttl, sizeof ttl);
}

void Configure(int fd, bool raw, int ttl) {
  const int one = 1;
  SetTtl(fd, ttl);
  setsockopt(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT, &one, sizeof one);
  if (raw) {
    // Only answers and errors can be ours: neighbour discovery, router
    // advertisements and the own requests stay out of the socket.
    icmp6_filter filter;
    ICMP6_FILTER_SETBLOCKALL(&filter);
    for (std::uint8_t t : {kEchoReply, kDestUnreachable, kPacketTooBig, kTimeExceeded, kParamProblem})
      ICMP6_FILTER_SETPASS(t, &filter);
    setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter);
  } else {
    setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &one, sizeof one);
  }
}

bool ReadControl(const cmsghdr* c, detail::ControlData& out) {
  return detail::ReadControlOf(c, out, IPPROTO_IPV6, IPV6_HOPLIMIT, IPV6_RECVERR);
}

}  // namespace

int StatusForIcmp6Error(int type, int code) {
  switch (type) {
    case kDestUnreachable:
      switch (code) {
        case 0: case 6: return kIcmpDestNetUnreachable;
        case 4: return kIcmpDestPortUnreachable;
        case 7: return kIcmpBadRoute;
        default: return kIcmpDestHostUnreachable;
      }
    case kPacketTooBig: return kIcmpPacketTooBig;
    case kTimeExceeded: return code == 1 ? kIcmpTtlExpiredReassembly : kIcmpTtlExpiredTransit;
    case kParamProblem: return kIcmpParamProblem;
    default: return kIcmpGeneralFailure;
  }
}

IcmpUnreachable UnreachableForIcmp6Error(int type, int code) {
  if (type == kPacketTooBig) return IcmpUnreachable::PacketTooBig;
  if (type != kDestUnreachable) return IcmpUnreachable::None;
  switch (code) {
    case 0: return IcmpUnreachable::NoRoute;
    case 1: return IcmpUnreachable::Prohibited;
    case 2: return IcmpUnreachable::BeyondScope;
    case 4: return IcmpUnreachable::Port;
    case 5: return IcmpUnreachable::SourcePolicy;
    case 6: return IcmpUnreachable::RejectRoute;
    case 7: return IcmpUnreachable::SourceRoute;  // error in the source routing header
    default: return IcmpUnreachable::Host;        // 3: address unreachable, and unknown codes
  }
}

IcmpParsed ParseRawIcmp6(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe) {
  IcmpParsed out;
  if (!buf || len < 8) return out;
  const std::uint8_t type = buf[0];
  if (type == kEchoReply) {
    if (!IsEchoOf(buf, len, kEchoReply, probe, true)) return out;
    out.Matched = true;
    out.Status = kIcmpSuccess;
    out.DataOffset = 8;
    out.DataSize = len - 8;
    out.Sequence = detail::Get16(buf + 6);
    return out;
  }
  if (!IsError(type)) return out;
  // The error quotes as much of the causing packet as fits: our request is
  // an IPv6 header without extension headers followed by the echo header.
  const std::uint8_t* inner = buf + 8;
  const std::size_t innerLen = len - 8;
  if (innerLen < kIp6HeaderSize + 8 || (inner[0] >> 4) != 6 || inner[6] != kNextHeaderIcmp6)
    return out;
  if (std::memcmp(inner + 24, probe.Target6.data(), 16) != 0) return out;
  if (!IsEchoOf(inner + kIp6HeaderSize, innerLen - kIp6HeaderSize, kEchoRequest, probe, true))
    return out;
  out.Matched = true;
  out.Sequence = detail::Get16(inner + kIp6HeaderSize + 6);
  out.Status = StatusForIcmp6Error(type, buf[1]);
  out.Unreachable = UnreachableForIcmp6Error(type, buf[1]);
  return out;
}

IcmpParsed ParseDgramIcmp6(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe) {
  return detail::ParseDgramEcho(buf, len, probe, kEchoReply);
}

bool ErrorQueueMatches6(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe) {
  return buf && IsEchoOf(buf, len, kEchoRequest, probe, probe.Id != 0);
}

const detail::IcmpFamilyOps& detail::Icmp6Ops() {
  static const IcmpFamilyOps ops{AF_INET6,           IPPROTO_ICMPV6,     kEchoRequest,
                                 true,               SO_EE_ORIGIN_ICMP6, Configure,          SetTtl,
                                 ParseRawIcmp6,      ParseDgramIcmp6,    ErrorQueueMatches6,
                                 StatusForIcmp6Error, UnreachableForIcmp6Error, ReadControl};
  return ops;
}

}  // namespace quovix::platform
