#include "platform/Icmp.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <vector>

#include "common/Pump.h"
#include "common/fMain.h"
#include "platform/IcmpFamily.h"
#include "platform/SockAddr.h"

namespace quovix {

IcmpUnreachable UnreachableForStatus(int status) {
  switch (status) {
    case kIcmpDestNetUnreachable: return IcmpUnreachable::Network;
    case kIcmpDestHostUnreachable: return IcmpUnreachable::Host;
    case kIcmpDestProtUnreachable: return IcmpUnreachable::Protocol;
    case kIcmpDestPortUnreachable: return IcmpUnreachable::Port;
    case kIcmpPacketTooBig: return IcmpUnreachable::PacketTooBig;
    case kIcmpBadRoute: return IcmpUnreachable::SourceRoute;
    default: return IcmpUnreachable::None;
  }
}

namespace platform {

int StatusForErrno(int err) {
  switch (err) {
    case EHOSTUNREACH: case EHOSTDOWN: return kIcmpDestHostUnreachable;
    case ENETUNREACH: case ENETDOWN: return kIcmpDestNetUnreachable;
    case ECONNREFUSED: return kIcmpDestPortUnreachable;
    // A "prohibit" route or a local firewall rule refuses the request.
    case EACCES: case EPERM: return kIcmpDestHostUnreachable;
    case EMSGSIZE: return kIcmpPacketTooBig;
    case ENOBUFS: case ENOMEM: return kIcmpNoResources;
    case ETIMEDOUT: return kIcmpTimedOut;
    default: return kIcmpGeneralFailure;
  }
}

IcmpUnreachable UnreachableForErrno(int err) {
  if (err == EACCES || err == EPERM) return IcmpUnreachable::Prohibited;
  // This computer's routing table has no route to the address.
  if (err == ENETUNREACH) return IcmpUnreachable::NoRoute;
  return UnreachableForStatus(StatusForErrno(err));
}

IcmpParsed detail::ParseDgramEcho(const std::uint8_t* buf, std::size_t len,
                                  const IcmpProbe& probe, std::uint8_t replyType) {
  IcmpParsed out;
  if (!buf || !detail::IsEchoOf(buf, len, replyType, probe, probe.Id != 0)) return out;
  out.Matched = true;
  out.Status = kIcmpSuccess;
  out.DataOffset = 8;
  out.DataSize = len - 8;
  return out;
}

bool detail::ReadControlOf(const cmsghdr* c, ControlData& out, int level, int ttlType,
                           int errType) {
  if (c->cmsg_level != level) return false;
  const std::size_t payload = c->cmsg_len >= CMSG_LEN(0) ? c->cmsg_len - CMSG_LEN(0) : 0;
  if (c->cmsg_type == ttlType && payload >= sizeof(int)) {
    std::memcpy(&out.Ttl, CMSG_DATA(c), sizeof(int));
    return true;
  }
  if (c->cmsg_type != errType) return false;
  if (payload < sizeof(sock_extended_err)) return true;
  std::memcpy(&out.ExtErr, CMSG_DATA(c), sizeof(sock_extended_err));
  out.HaveExtErr = true;
  // The offender's address follows the extended error.
  const std::size_t rest = std::min(payload - sizeof(sock_extended_err), sizeof(sockaddr_storage));
  sockaddr_storage off{};
  std::memcpy(&off, CMSG_DATA(c) + sizeof(sock_extended_err), rest);
  out.Offender = FromSockAddr(reinterpret_cast<const sockaddr*>(&off), static_cast<socklen_t>(rest));
  return true;
}

namespace {

std::uint16_t Checksum(const std::uint8_t* p, std::size_t n) {
  std::uint32_t sum = 0;
  for (; n > 1; p += 2, n -= 2) sum += detail::Get16(p);
  if (n) sum += static_cast<std::uint32_t>(p[0]) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { if (fd_ >= 0) close(fd_); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

// One received message with what its control data told.
struct Received {
  ssize_t Length = -1;
  int Error = 0;
  IpAddress From;
  bool HaveStamp = false;
  timespec Stamp{};
  detail::ControlData Control;
};

Received ReceiveOne(const detail::IcmpFamilyOps& ops, int fd, std::vector<std::uint8_t>& buf,
                    int flags) {
  Received r;
  sockaddr_storage from{};
  iovec iov{buf.data(), buf.size()};
  alignas(cmsghdr) char control[512];
  msghdr msg{};
  msg.msg_name = &from;
  msg.msg_namelen = sizeof from;
  msg.msg_iov = &iov;
  msg.msg_iovlen = 1;
  msg.msg_control = control;
  msg.msg_controllen = sizeof control;
  r.Length = recvmsg(fd, &msg, flags | MSG_DONTWAIT);
  if (r.Length < 0) {
    r.Error = errno;
    return r;
  }
  r.From = FromSockAddr(reinterpret_cast<sockaddr*>(&from), msg.msg_namelen);
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
    const std::size_t payload = c->cmsg_len >= CMSG_LEN(0) ? c->cmsg_len - CMSG_LEN(0) : 0;
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS &&
        payload >= sizeof(timespec)) {
      std::memcpy(&r.Stamp, CMSG_DATA(c), sizeof(timespec));
      r.HaveStamp = true;
    } else {
      ops.ReadControl(c, r.Control);
    }
  }
  return r;
}

std::uint16_t NextSequence() {
  static std::atomic<std::uint16_t> seq{0};
  return static_cast<std::uint16_t>(seq.fetch_add(1) + 1);
}

class LinuxIcmp : public IIcmp {
 public:
  IcmpReply Echo(const IpAddress& address, const std::string& data, int timeoutMs,
                 int ttl) override {
    IcmpReply reply;
    if (address.Empty()) {
      reply.Status = kIcmpBadDestination;
      return reply;
    }
    const detail::IcmpFamilyOps& ops = address.IsV6() ? detail::Icmp6Ops() : detail::Icmp4Ops();
    sockaddr_storage to{};
    const socklen_t toLen = ToSockAddr(address, 0, to);
    if (toLen == 0) {  // a zone that names no interface here
      reply.Status = kIcmpBadDestination;
      return reply;
    }

    // A datagram ICMP socket needs no privilege where net.ipv4.ping_group_range
    // admits the user's group; a raw socket needs CAP_NET_RAW.
    bool raw = false;
    int fd = socket(ops.Domain, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, ops.Protocol);
    if (fd < 0) {
      const int dgramErr = errno;
      fd = socket(ops.Domain, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, ops.Protocol);
      if (fd < 0) {
        const int rawErr = errno;
        const bool dgramDenied = dgramErr == EACCES || dgramErr == EPERM ||
                                 dgramErr == EPROTONOSUPPORT || dgramErr == EAFNOSUPPORT;
        reply.Status = kIcmpNoService;
        reply.OpenError = dgramDenied ? rawErr : dgramErr;
        return reply;
      }
      raw = true;
    }
    Fd sock(fd);

    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    ops.Configure(fd, raw, ttl);

    IcmpProbe probe;
    if (address.IsV4())
      std::memcpy(&probe.Target, address.Data(), 4);
    else
      probe.Target6 = address.Bytes();
    probe.Id = raw ? static_cast<std::uint16_t>(getpid() & 0xFFFF) : 0;
    probe.Sequence = NextSequence();

    std::vector<std::uint8_t> packet(8 + data.size());
    packet[0] = ops.EchoRequest;
    packet[4] = static_cast<std::uint8_t>(probe.Id >> 8);
    packet[5] = static_cast<std::uint8_t>(probe.Id & 0xFF);
    packet[6] = static_cast<std::uint8_t>(probe.Sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(probe.Sequence & 0xFF);
    std::memcpy(packet.data() + 8, data.data(), data.size());
    if (!ops.KernelChecksum) {
      const std::uint16_t sum = Checksum(packet.data(), packet.size());
      packet[2] = static_cast<std::uint8_t>(sum >> 8);
      packet[3] = static_cast<std::uint8_t>(sum & 0xFF);
    }

    timespec sentWall{};
    clock_gettime(CLOCK_REALTIME, &sentWall);
    const auto sentSteady = std::chrono::steady_clock::now();
    if (sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), toLen) < 0) {
      const int err = errno;
      reply.Status = StatusForErrno(err);
      reply.Unreachable = UnreachableForErrno(err);
      return reply;
    }
    if (!raw) {
      // The kernel chose the identifier: it is the socket's port.
      sockaddr_storage self{};
      socklen_t selfLen = sizeof self;
      if (getsockname(fd, reinterpret_cast<sockaddr*>(&self), &selfLen) == 0)
        probe.Id = PortOf(reinterpret_cast<sockaddr*>(&self), selfLen);
    }

    // Round-trip time from the kernel's receive stamp where there is one, so
    // time spent running pending window messages does not count.
    auto roundTrip = [&](const Received& r) -> std::uint32_t {
      const auto steadyMs = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - sentSteady)
                                .count() / 1000;
      if (r.HaveStamp) {
        const long long us = (static_cast<long long>(r.Stamp.tv_sec) - sentWall.tv_sec) * 1000000LL +
                             (r.Stamp.tv_nsec - sentWall.tv_nsec) / 1000;
        if (us >= 0 && us / 1000 <= steadyMs + 1) return static_cast<std::uint32_t>(us / 1000);
      }
      return static_cast<std::uint32_t>(std::max<long long>(0, steadyMs));
    };

    std::vector<std::uint8_t> buf(65536 + 512);
    const auto deadline = sentSteady + std::chrono::milliseconds(std::max(0, timeoutMs));
    constexpr int kMaxPerWake = 256;  // packets read before the clock is looked at again
    // Output still waiting for its frame is painted before the wait.
    ProcessPendingMessagesIfDue();
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      const long long left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
      pollfd p{fd, POLLIN, 0};
      const int n = poll(&p, 1, static_cast<int>(std::clamp<long long>(left, 0, kWaitSliceMs)));
      if (n > 0) {
        if (!raw && (p.revents & POLLERR)) {
          for (int i = 0; i < kMaxPerWake; ++i) {
            Received r = ReceiveOne(ops, fd, buf, MSG_ERRQUEUE);
            if (r.Length < 0) break;
            if (!r.Control.HaveExtErr ||
                !ops.ErrorQueueMatches(buf.data(), static_cast<std::size_t>(r.Length), probe))
              continue;
            reply.RoundTripMs = roundTrip(r);
            const sock_extended_err& e = r.Control.ExtErr;
            if (e.ee_origin == ops.IcmpOrigin) {
              reply.Status = ops.StatusForError(e.ee_type, e.ee_code);
              reply.Unreachable = ops.UnreachableForError(e.ee_type, e.ee_code);
              reply.Address = r.Control.Offender.ToString();
            } else {
              reply.Status = StatusForErrno(static_cast<int>(e.ee_errno));
              reply.Unreachable = UnreachableForErrno(static_cast<int>(e.ee_errno));
            }
            return reply;
          }
        }
        for (int i = 0; i < kMaxPerWake; ++i) {
          Received r = ReceiveOne(ops, fd, buf, 0);
          if (r.Length < 0) break;
          const auto len = static_cast<std::size_t>(r.Length);
          const IcmpParsed parsed = raw ? ops.ParseRaw(buf.data(), len, probe)
                                        : ops.ParseDgram(buf.data(), len, probe);
          if (!parsed.Matched) continue;
          reply.Status = parsed.Status;
          reply.Unreachable = parsed.Unreachable;
          reply.RoundTripMs = roundTrip(r);
          if (parsed.HaveSource) {
            in_addr a{};
            a.s_addr = parsed.Source;
            reply.Address = IpAddress::FromV4(ntohl(a.s_addr)).ToString();
            reply.Ttl = parsed.Ttl;
          } else {
            reply.Address = r.From.ToString();
            reply.Ttl = static_cast<std::uint8_t>(std::clamp(r.Control.Ttl, 0, 255));
          }
          if (parsed.Status == kIcmpSuccess)
            reply.Data.assign(reinterpret_cast<const char*>(buf.data() + parsed.DataOffset),
                              parsed.DataSize);
          return reply;
        }
      } else if (n < 0 && errno != EINTR) {
        reply.Status = StatusForErrno(errno);
        return reply;
      }
      if (left <= 0) break;
      ProcessPendingMessages();
      // An abort or a close request ends the wait; the caller sees a
      // time-out and looks at its abort next.
      if (AbortRequested()) break;
    }
    reply.Status = kIcmpTimedOut;
    return reply;
  }
};

}  // namespace

IIcmp& Icmp() { return SeamGet<IIcmp, LinuxIcmp>(); }

}  // namespace platform

IcmpEchoResult SendIcmpEcho(std::string& target, int dataSize, int timeoutMs, int ttl,
                            bool preferIPv6) {
  IcmpEchoResult result;
  // An empty target is what an unresolvable name leaves behind; the resolver
  // would answer it with this computer's own address, which is not the host
  // the user asked for.
  if (target.empty()) {
    result.Status = kIcmpBadDestination;
    return result;
  }
  if (IsHostName(target)) target = ResolveHostToAddress(target, 2000, preferIPv6);
  // A dotted text is read field by field, as IsHostName judged it.
  const IpAddress address = IpAddress::Parse(target);
  if (address.Empty()) {
    result.Status = kIcmpBadDestination;
    return result;
  }

  const int size = std::clamp(dataSize, 0, kIcmpMaxDataSize);
  const std::string sent(static_cast<std::size_t>(size), 'A');
  const platform::IcmpReply reply =
      platform::Icmp().Echo(address, sent, std::max(0, timeoutMs), std::clamp(ttl, 1, 255));
  result.Status = reply.Status;
  result.OpenError = reply.OpenError;
  if (reply.Status == kIcmpNoService) return result;

  result.Unreachable = reply.Unreachable != IcmpUnreachable::None
                           ? reply.Unreachable
                           : UnreachableForStatus(reply.Status);
  result.ReplyAddress = reply.Address;
  result.ReplyTtl = reply.Ttl;
  result.ReplyDataSize = static_cast<int>(std::min<std::size_t>(reply.Data.size(), 0x7FFFFFFF));
  result.RoundTripMs = reply.RoundTripMs;
  if (reply.Status == kIcmpSuccess) {
    if (reply.Data.size() != sent.size())
      result.DataVerdict = -1;
    else if (reply.Data != sent)
      result.DataVerdict = -2;
  }
  return result;
}

}  // namespace quovix
