#include "platform/Icmp.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
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

namespace quovix {
namespace platform {

namespace {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestUnreachable = 3;
constexpr std::uint8_t kSourceQuench = 4;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParamProblem = 12;

std::uint16_t Get16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
std::uint32_t Get32Raw(const std::uint8_t* p) {  // kept in network byte order
  std::uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

bool IsEchoOf(const std::uint8_t* icmp, std::size_t len, std::uint8_t type,
              const IcmpProbe& probe, bool checkId) {
  if (len < 8 || icmp[0] != type || icmp[1] != 0) return false;
  if (checkId && Get16(icmp + 4) != probe.Id) return false;
  return Get16(icmp + 6) == probe.Sequence;
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

int StatusForErrno(int err) {
  switch (err) {
    case EHOSTUNREACH: case EHOSTDOWN: return kIcmpDestHostUnreachable;
    case ENETUNREACH: case ENETDOWN: return kIcmpDestNetUnreachable;
    case ECONNREFUSED: return kIcmpDestPortUnreachable;
    case EMSGSIZE: return kIcmpPacketTooBig;
    case ENOBUFS: case ENOMEM: return kIcmpNoResources;
    case ETIMEDOUT: return kIcmpTimedOut;
    default: return kIcmpGeneralFailure;
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
  out.Source = Get32Raw(buf + 12);
  out.Ttl = buf[8];

  const std::uint8_t type = icmp[0];
  if (type == kEchoReply) {
    if (!IsEchoOf(icmp, icmpLen, kEchoReply, probe, true)) return out;
    out.Matched = true;
    out.Status = kIcmpSuccess;
    out.DataOffset = ihl + 8;
    out.DataSize = icmpLen - 8;
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
  out.Status = StatusForIcmpError(type, icmp[1]);
  return out;
}

IcmpParsed ParseDgramIcmp(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe) {
  IcmpParsed out;
  if (!buf || !IsEchoOf(buf, len, kEchoReply, probe, probe.Id != 0)) return out;
  out.Matched = true;
  out.Status = kIcmpSuccess;
  out.DataOffset = 8;
  out.DataSize = len - 8;
  return out;
}

bool ErrorQueueMatches(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe) {
  return buf && IsEchoOf(buf, len, kEchoRequest, probe, probe.Id != 0);
}

namespace {

std::string AddressText(std::uint32_t networkOrder) {
  char s[INET_ADDRSTRLEN] = {};
  in_addr a{};
  a.s_addr = networkOrder;
  inet_ntop(AF_INET, &a, s, sizeof s);
  return s;
}

std::uint16_t Checksum(const std::uint8_t* p, std::size_t n) {
  std::uint32_t sum = 0;
  for (; n > 1; p += 2, n -= 2) sum += Get16(p);
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
  std::uint32_t From = 0;
  int Ttl = -1;
  bool HaveStamp = false;
  timespec Stamp{};
  bool HaveExtErr = false;
  sock_extended_err ExtErr{};
  std::uint32_t Offender = 0;
};

Received ReceiveOne(int fd, std::vector<std::uint8_t>& buf, int flags) {
  Received r;
  sockaddr_in from{};
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
  r.From = from.sin_addr.s_addr;
  for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
    const std::size_t payload = c->cmsg_len >= CMSG_LEN(0) ? c->cmsg_len - CMSG_LEN(0) : 0;
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS &&
        payload >= sizeof(timespec)) {
      std::memcpy(&r.Stamp, CMSG_DATA(c), sizeof(timespec));
      r.HaveStamp = true;
    } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL && payload >= sizeof(int)) {
      std::memcpy(&r.Ttl, CMSG_DATA(c), sizeof(int));
    } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR &&
               payload >= sizeof(sock_extended_err)) {
      std::memcpy(&r.ExtErr, CMSG_DATA(c), sizeof(sock_extended_err));
      r.HaveExtErr = true;
      // The offender's address follows the extended error.
      if (payload >= sizeof(sock_extended_err) + sizeof(sockaddr_in)) {
        sockaddr_in off{};
        std::memcpy(&off, CMSG_DATA(c) + sizeof(sock_extended_err), sizeof off);
        if (off.sin_family == AF_INET) r.Offender = off.sin_addr.s_addr;
      }
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
  IcmpReply Echo(std::uint32_t address, const std::string& data, int timeoutMs,
                 int ttl) override {
    IcmpReply reply;
    // A datagram ICMP socket needs no privilege where net.ipv4.ping_group_range
    // admits the user's group; a raw socket needs CAP_NET_RAW.
    bool raw = false;
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
    if (fd < 0) {
      const int dgramErr = errno;
      fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
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
    setsockopt(fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
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

    IcmpProbe probe;
    probe.Target = address;
    probe.Id = raw ? static_cast<std::uint16_t>(getpid() & 0xFFFF) : 0;
    probe.Sequence = NextSequence();

    std::vector<std::uint8_t> packet(8 + data.size());
    packet[0] = kEchoRequest;
    packet[4] = static_cast<std::uint8_t>(probe.Id >> 8);
    packet[5] = static_cast<std::uint8_t>(probe.Id & 0xFF);
    packet[6] = static_cast<std::uint8_t>(probe.Sequence >> 8);
    packet[7] = static_cast<std::uint8_t>(probe.Sequence & 0xFF);
    std::memcpy(packet.data() + 8, data.data(), data.size());
    const std::uint16_t sum = Checksum(packet.data(), packet.size());
    packet[2] = static_cast<std::uint8_t>(sum >> 8);
    packet[3] = static_cast<std::uint8_t>(sum & 0xFF);

    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = address;
    timespec sentWall{};
    clock_gettime(CLOCK_REALTIME, &sentWall);
    const auto sentSteady = std::chrono::steady_clock::now();
    if (sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) <
        0) {
      reply.Status = StatusForErrno(errno);
      return reply;
    }
    if (!raw) {
      // The kernel chose the identifier: it is the socket's port.
      sockaddr_in self{};
      socklen_t selfLen = sizeof self;
      if (getsockname(fd, reinterpret_cast<sockaddr*>(&self), &selfLen) == 0)
        probe.Id = ntohs(self.sin_port);
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
    for (;;) {
      const auto now = std::chrono::steady_clock::now();
      const long long left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
      pollfd p{fd, POLLIN, 0};
      const int n = poll(&p, 1, static_cast<int>(std::clamp<long long>(left, 0, kWaitSliceMs)));
      if (n > 0) {
        if (!raw && (p.revents & POLLERR)) {
          for (int i = 0; i < kMaxPerWake; ++i) {
            Received r = ReceiveOne(fd, buf, MSG_ERRQUEUE);
            if (r.Length < 0) break;
            if (!r.HaveExtErr ||
                !ErrorQueueMatches(buf.data(), static_cast<std::size_t>(r.Length), probe))
              continue;
            reply.RoundTripMs = roundTrip(r);
            if (r.ExtErr.ee_origin == SO_EE_ORIGIN_ICMP) {
              reply.Status = StatusForIcmpError(r.ExtErr.ee_type, r.ExtErr.ee_code);
              if (r.Offender) reply.Address = AddressText(r.Offender);
            } else {
              reply.Status = StatusForErrno(static_cast<int>(r.ExtErr.ee_errno));
            }
            return reply;
          }
        }
        for (int i = 0; i < kMaxPerWake; ++i) {
          Received r = ReceiveOne(fd, buf, 0);
          if (r.Length < 0) break;
          const auto len = static_cast<std::size_t>(r.Length);
          const IcmpParsed parsed = raw ? ParseRawIcmp(buf.data(), len, probe)
                                        : ParseDgramIcmp(buf.data(), len, probe);
          if (!parsed.Matched) continue;
          reply.Status = parsed.Status;
          reply.RoundTripMs = roundTrip(r);
          reply.Address = AddressText(raw ? parsed.Source : r.From);
          reply.Ttl = static_cast<std::uint8_t>(raw ? parsed.Ttl : std::clamp(r.Ttl, 0, 255));
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

IcmpEchoResult SendIcmpEcho(std::string& target, int dataSize, int timeoutMs, int ttl) {
  IcmpEchoResult result;
  // An empty target is what an unresolvable name leaves behind; the resolver
  // would answer it with this computer's own address, which is not the host
  // the user asked for.
  if (target.empty()) {
    result.Status = kIcmpBadDestination;
    return result;
  }
  if (IsHostName(target)) target = ResolveHostToIp(target, 2000);
  // The dotted text is read field by field, as IsHostName judged it.
  if (IsHostName(target)) {
    result.Status = kIcmpBadDestination;
    return result;
  }
  const std::uint32_t address = htonl(IpToNumber(target));

  const int size = std::clamp(dataSize, 0, kIcmpMaxDataSize);
  const std::string sent(static_cast<std::size_t>(size), 'A');
  const platform::IcmpReply reply =
      platform::Icmp().Echo(address, sent, std::max(0, timeoutMs), std::clamp(ttl, 1, 255));
  result.Status = reply.Status;
  result.OpenError = reply.OpenError;
  if (reply.Status == kIcmpNoService) return result;

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
