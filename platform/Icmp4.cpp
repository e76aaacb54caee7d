// ICMP for IPv4: messages, socket options and error codes.
#include <linux/icmp.h>
#include <netinet/in.h>

#include <cstring>

#include "platform/IcmpFamily.h"

namespace quovix::platform {

using detail::Get16;
using detail::IsEchoOf;

namespace {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestUnreachable = 3;
constexpr std::uint8_t kSourceQuench = 4;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParamProblem = 12;

std::uint32_t Get32Raw(const std::uint8_t* p) {  // kept in network byte order
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void SetTtl(int fd, int ttl) { setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl); }

void Configure(int fd, bool raw, int ttl) {
  const int one = 1;
  SetTtl(fd, ttl);
  if (raw) {
    // Only answers can be ours; the own requests seen on loopback and other
    // ICMP traffic stay out of the socket.
    icmp_filter filter{};
    filter.data = ~((1u << kEchoReply) | (1u << kDestUnreachable) | (1u << kSourceQuench) |
                    (1u << kTimeExceeded) | (1u << kParamProblem));
    setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  } else {
    setsockopt(fd, IPPROTO_IP, IP_RECVERR, &one, sizeof one);
    setsockopt(fd, IPPROTO_IP, IP_RECVTTL, &one, sizeof one);
  }
}

bool ReadControl(const cmsghdr* c, detail::ControlData& out) {
  return detail::ReadControlOf(c, out, IPPROTO_IP, IP_TTL, IP_RECVERR);
}

}  // namespace

int StatusForIcmpError(int type, int code) {
  switch (type) {
    case kDestUnreachable:
      switch (code) {
        case 0: case 6: case 9: case 11: return kIcmpDestNetUnreachable;
        case 2: return kIcmpDestProtUnreachable;
        case 3: return kIcmpDestPortUnreachable;
        case 4: return kIcmpPacketTooBig;
        case 5: return kIcmpBadRoute;
        default: return kIcmpDestHostUnreachable;
      }
    case kTimeExceeded:
      return code == 1 ? kIcmpTtlExpiredReassembly : kIcmpTtlExpiredTransit;
    case kParamProblem: return kIcmpParamProblem;
    case kSourceQuench: return kIcmpSourceQuench;
    default: return kIcmpGeneralFailure;
  }
}

IcmpUnreachable UnreachableForIcmpError(int type, int code) {
  if (type != kDestUnreachable) return IcmpUnreachable::None;
  switch (code) {
    case 0: case 6: case 11: return IcmpUnreachable::Network;
    case 2: return IcmpUnreachable::Protocol;
    case 3: return IcmpUnreachable::Port;
    case 4: return IcmpUnreachable::PacketTooBig;
    case 5: return IcmpUnreachable::SourceRoute;
    // Network, host and communication administratively prohibited; host
    // precedence violation and precedence cut-off are a router's policy too.
    case 9: case 10: case 13: case 14: case 15: return IcmpUnreachable::Prohibited;
    default: return IcmpUnreachable::Host;
  }
}

IcmpParsed ParseRawIcmp(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe) {
  IcmpParsed out;
  if (!buf || len < 20 || (buf[0] >> 4) != 4) return out;
  const std::size_t ihl = static_cast<std::size_t>(buf[0] & 0x0F) * 4;
  if (ihl < 20 || ihl > len || buf[9] != IPPROTO_ICMP) return out;
  // The total length may only shorten what was read, never lengthen it.
  std::size_t end = len;
  const std::size_t total = Get16(buf + 2);
  if (total >= ihl && total < end) end = total;
  const std::uint8_t* icmp = buf + ihl;
  const std::size_t icmpLen = end - ihl;
  if (icmpLen < 8) return out;
  out.HaveSource = true;
  out.Source = Get32Raw(buf + 12);
  out.Ttl = buf[8];

  const std::uint8_t type = icmp[0];
  if (type == kEchoReply) {
    if (!IsEchoOf(icmp, icmpLen, kEchoReply, probe, true)) return out;
    out.Matched = true;
    out.Status = kIcmpSuccess;
    out.DataOffset = ihl + 8;
    out.DataSize = icmpLen - 8;
    out.Sequence = Get16(icmp + 6);
    return out;
  }
  if (type != kDestUnreachable && type != kTimeExceeded && type != kParamProblem &&
      type != kSourceQuench)
    return out;
  // An error message quotes the IP header and the first bytes of the packet
  // that caused it: it is ours only if that was our echo request.
  const std::uint8_t* inner = icmp + 8;
  const std::size_t innerLen = icmpLen - 8;
  if (innerLen < 20 || (inner[0] >> 4) != 4) return out;
  const std::size_t innerIhl = static_cast<std::size_t>(inner[0] & 0x0F) * 4;
  if (innerIhl < 20 || innerLen < innerIhl + 8 || inner[9] != IPPROTO_ICMP) return out;
  if (Get32Raw(inner + 16) != probe.Target) return out;
  if (!IsEchoOf(inner + innerIhl, innerLen - innerIhl, kEchoRequest, probe, true)) return out;
  out.Matched = true;
  out.Sequence = Get16(inner + innerIhl + 6);
  out.Status = StatusForIcmpError(type, icmp[1]);
  out.Unreachable = UnreachableForIcmpError(type, icmp[1]);
  return out;
}

IcmpParsed ParseDgramIcmp(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe) {
  return detail::ParseDgramEcho(buf, len, probe, kEchoReply);
}

bool ErrorQueueMatches(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe) {
  return buf && IsEchoOf(buf, len, kEchoRequest, probe, probe.Id != 0);
}

const detail::IcmpFamilyOps& detail::Icmp4Ops() {
  static const IcmpFamilyOps ops{AF_INET,           IPPROTO_ICMP,      kEchoRequest,
                                 false,             SO_EE_ORIGIN_ICMP, Configure,         SetTtl,
                                 ParseRawIcmp,      ParseDgramIcmp,    ErrorQueueMatches,
                                 StatusForIcmpError, UnreachableForIcmpError, ReadControl};
  return ops;
}

}  // namespace quovix::platform
