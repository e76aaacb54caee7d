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
#include <deque>
#include <optional>
#include <vector>

#include "common/Pump.h"
#include "common/fMain.h"
#include "platform/IcmpFamily.h"
#include "platform/ProbeRun.h"
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
  out.Sequence = detail::Get16(buf + 6);
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

std::uint32_t detail::OnesSum(const std::uint8_t* p, std::size_t n, std::uint32_t sum) {
  for (; n > 1; p += 2, n -= 2) sum += detail::Get16(p);
  if (n) sum += static_cast<std::uint32_t>(p[0]) << 8;
  return sum;
}

std::uint16_t detail::FoldChecksum(std::uint32_t sum) {
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

detail::Received detail::ReceiveOne(const IcmpFamilyOps& ops, int fd,
                                    std::vector<std::uint8_t>& buf, int flags) {
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
  r.FromPort = PortOf(reinterpret_cast<sockaddr*>(&from), msg.msg_namelen);
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

// ---- Requests in flight ------------------------------------------------------

detail::ProbeRun::ProbeRun(const IcmpFamilyOps& ops, const IpAddress& address, int timeoutMs)
    : ops_(ops), timeoutMs_(std::max(0, timeoutMs)), buf_(65536 + 512) {
  // No address, or a zone that names no interface here.
  if (address.Empty() || (toLen_ = ToSockAddr(address, 0, to_)) == 0)
    openStatus_ = kIcmpBadDestination;
}

detail::ProbeRun::~ProbeRun() {
  if (fd_ >= 0) close(fd_);
}

void detail::ProbeRun::Send(int tag, int ttl) {
  if (fd_ < 0) {
    IcmpReply r;
    r.Status = openStatus_;
    r.OpenError = openError_;
    done_.emplace_back(tag, r);
    return;
  }
  Pending p;
  p.Tag = tag;
  ops_.SetTtl(fd_, ttl);
  clock_gettime(CLOCK_REALTIME, &p.SentWall);
  p.SentSteady = std::chrono::steady_clock::now();
  p.Until = p.SentSteady + std::chrono::milliseconds(timeoutMs_);
  // An error message for an earlier request leaves its errno pending on the
  // socket (IP_RECVERR, and hard errors on a raw socket), and the next send
  // would report that instead of sending: it is taken away first, and a
  // send that fails with such an errno is tried again (one that arrived in
  // between); a failure of this computer's own route stays.
  int err = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    int pendingErr = 0;
    socklen_t len = sizeof pendingErr;
    getsockopt(fd_, SOL_SOCKET, SO_ERROR, &pendingErr, &len);
    err = Transmit(p, ttl);
    if (err != EHOSTUNREACH && err != ENETUNREACH && err != ECONNREFUSED && err != EHOSTDOWN &&
        err != ENETDOWN && err != EPROTO)
      break;
  }
  if (err != 0) {
    IcmpReply r;
    r.Status = StatusForErrno(err);
    r.Unreachable = UnreachableForErrno(err);
    done_.emplace_back(tag, r);
    return;
  }
  pending_.push_back(p);
}

void detail::ProbeRun::Forget() {
  pending_.clear();
  done_.clear();
}

std::optional<std::pair<int, IcmpReply>> detail::ProbeRun::Next(int waitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, waitMs));
  // Output still waiting for its frame is painted before the wait.
  ProcessPendingMessagesIfDue();
  for (;;) {
    if (!done_.empty()) {
      auto out = std::move(done_.front());
      done_.pop_front();
      return out;
    }
    if (pending_.empty()) return std::nullopt;
    if (auto answer = ReadAnswer()) return answer;
    const auto now = std::chrono::steady_clock::now();
    // The oldest request runs out first: all share one time limit.
    if (pending_.front().Until <= now) {
      IcmpReply r;
      r.Status = kIcmpTimedOut;
      const int tag = pending_.front().Tag;
      pending_.erase(pending_.begin());
      return std::make_pair(tag, r);
    }
    if (now >= end) return std::nullopt;
    const auto until = std::min(end, pending_.front().Until);
    const long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(until - now).count() + 1;
    pollfd p{fd_, POLLIN, 0};
    const int n = poll(&p, 1, static_cast<int>(std::clamp<long long>(left, 0, kWaitSliceMs)));
    if (n < 0 && errno != EINTR) {
      // The socket failed: every request still out ends with that.
      const int err = errno;
      for (const Pending& q : pending_) {
        IcmpReply r;
        r.Status = StatusForErrno(err);
        done_.emplace_back(q.Tag, r);
      }
      pending_.clear();
      continue;
    }
    if (n > 0) continue;
    ProcessPendingMessages();
    // An abort or a close request ends the wait; the caller looks at its
    // abort next.
    if (AbortRequested()) return std::nullopt;
  }
}

std::vector<detail::ProbeRun::Pending>::iterator detail::ProbeRun::Find(std::uint16_t key) {
  return std::find_if(pending_.begin(), pending_.end(),
                      [&](const Pending& q) { return q.Key == key; });
}

std::pair<int, IcmpReply> detail::ProbeRun::Take(std::vector<Pending>::iterator it,
                                                 IcmpReply reply) {
  const int tag = it->Tag;
  pending_.erase(it);
  return {tag, std::move(reply)};
}

void detail::ProbeRun::SetRoundTrip(IcmpReply& reply, const Pending& p, const Received& r) {
  const long long steadyUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                 std::chrono::steady_clock::now() - p.SentSteady)
                                 .count();
  long long us = std::max<long long>(0, steadyUs);
  if (r.HaveStamp) {
    const long long stamped = (static_cast<long long>(r.Stamp.tv_sec) - p.SentWall.tv_sec) * 1000000LL +
                              (r.Stamp.tv_nsec - p.SentWall.tv_nsec) / 1000;
    // A wall clock stepped in between gives no usable stamp.
    if (stamped >= 0 && stamped / 1000 <= steadyUs / 1000 + 1) us = stamped;
  }
  us = std::min<long long>(us, 0xFFFFFFFFLL);
  reply.RoundTripUs = static_cast<std::uint32_t>(us);
  reply.RoundTripMs = static_cast<std::uint32_t>(us / 1000);
}

void detail::ProbeRun::FromExtendedError(const Received& r, IcmpReply& reply) const {
  const sock_extended_err& e = r.Control.ExtErr;
  if (e.ee_origin == ops_.IcmpOrigin) {
    reply.Status = ops_.StatusForError(e.ee_type, e.ee_code);
    reply.Unreachable = ops_.UnreachableForError(e.ee_type, e.ee_code);
    reply.Address = r.Control.Offender.ToString();
  } else {
    reply.Status = StatusForErrno(static_cast<int>(e.ee_errno));
    reply.Unreachable = UnreachableForErrno(static_cast<int>(e.ee_errno));
  }
}

namespace {

std::uint16_t NextSequence() {
  static std::atomic<std::uint16_t> seq{0};
  return static_cast<std::uint16_t>(seq.fetch_add(1) + 1);
}

// Echo requests on one socket: a datagram ICMP socket where the system
// allows unprivileged ones, else a raw one. Each request gets a sequence of
// its own, so the answers of many hops in flight at once find their
// requests; the identifier stays the socket's for the whole run. With
// steadyChecksum the last two bytes of the data carry the complement of the
// sequence, so every request of the run has the same checksum: load
// balancers that hash it keep the run on one path.
class EchoProbes : public detail::ProbeRun {
 public:
  EchoProbes(const IpAddress& address, const std::string& data, int timeoutMs, bool steadyChecksum)
      : ProbeRun(address.IsV6() ? detail::Icmp6Ops() : detail::Icmp4Ops(), address, timeoutMs),
        steadyChecksum_(steadyChecksum && data.size() >= 2 && data.size() % 2 == 0) {
    if (openStatus_ == kIcmpBadDestination) return;
    // A datagram ICMP socket needs no privilege where net.ipv4.ping_group_range
    // admits the user's group; a raw socket needs CAP_NET_RAW.
    int fd = socket(ops_.Domain, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, ops_.Protocol);
    if (fd < 0) {
      const int dgramErr = errno;
      fd = socket(ops_.Domain, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, ops_.Protocol);
      if (fd < 0) {
        const int rawErr = errno;
        const bool dgramDenied = dgramErr == EACCES || dgramErr == EPERM ||
                                 dgramErr == EPROTONOSUPPORT || dgramErr == EAFNOSUPPORT;
        openStatus_ = kIcmpNoService;
        openError_ = dgramDenied ? rawErr : dgramErr;
        return;
      }
      raw_ = true;
    }
    fd_ = fd;
    const int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    ops_.Configure(fd_, raw_, 64);
    if (address.IsV4())
      std::memcpy(&probe_.Target, address.Data(), 4);
    else
      probe_.Target6 = address.Bytes();
    probe_.Id = raw_ ? static_cast<std::uint16_t>(getpid() & 0xFFFF) : 0;
    probe_.AnySequence = true;
    packet_.assign(8 + data.size(), 0);
    packet_[0] = ops_.EchoRequest;
    packet_[4] = static_cast<std::uint8_t>(probe_.Id >> 8);
    packet_[5] = static_cast<std::uint8_t>(probe_.Id & 0xFF);
    std::memcpy(packet_.data() + 8, data.data(), data.size());
  }

 private:
  int Transmit(Pending& p, int) override {
    p.Key = NextSequence();
    packet_[6] = static_cast<std::uint8_t>(p.Key >> 8);
    packet_[7] = static_cast<std::uint8_t>(p.Key & 0xFF);
    if (steadyChecksum_) {
      const std::uint16_t fill = static_cast<std::uint16_t>(~p.Key);
      packet_[packet_.size() - 2] = static_cast<std::uint8_t>(fill >> 8);
      packet_[packet_.size() - 1] = static_cast<std::uint8_t>(fill & 0xFF);
    }
    packet_[2] = packet_[3] = 0;
    if (!ops_.KernelChecksum) {
      const std::uint16_t sum = detail::FoldChecksum(detail::OnesSum(packet_.data(), packet_.size()));
      packet_[2] = static_cast<std::uint8_t>(sum >> 8);
      packet_[3] = static_cast<std::uint8_t>(sum & 0xFF);
    }
    if (sendto(fd_, packet_.data(), packet_.size(), 0, reinterpret_cast<sockaddr*>(&to_), toLen_) < 0)
      return errno;
    if (!raw_ && probe_.Id == 0) {
      // The kernel chose the identifier: it is the socket's port.
      sockaddr_storage self{};
      socklen_t selfLen = sizeof self;
      if (getsockname(fd_, reinterpret_cast<sockaddr*>(&self), &selfLen) == 0)
        probe_.Id = PortOf(reinterpret_cast<sockaddr*>(&self), selfLen);
    }
    return 0;
  }

  std::optional<std::pair<int, IcmpReply>> ReadAnswer() override {
    if (!raw_) {
      for (int i = 0; i < detail::kMaxPerWake; ++i) {
        detail::Received r = detail::ReceiveOne(ops_, fd_, buf_, MSG_ERRQUEUE);
        if (r.Length < 0) break;
        const auto len = static_cast<std::size_t>(r.Length);
        if (!r.Control.HaveExtErr || !ops_.ErrorQueueMatches(buf_.data(), len, probe_)) continue;
        const auto it = Find(detail::Get16(buf_.data() + 6));
        if (it == pending_.end()) continue;
        IcmpReply reply;
        SetRoundTrip(reply, *it, r);
        FromExtendedError(r, reply);
        return Take(it, reply);
      }
    }
    for (int i = 0; i < detail::kMaxPerWake; ++i) {
      detail::Received r = detail::ReceiveOne(ops_, fd_, buf_, 0);
      if (r.Length < 0) break;
      const auto len = static_cast<std::size_t>(r.Length);
      const IcmpParsed parsed = raw_ ? ops_.ParseRaw(buf_.data(), len, probe_)
                                     : ops_.ParseDgram(buf_.data(), len, probe_);
      if (!parsed.Matched) continue;
      const auto it = Find(parsed.Sequence);
      if (it == pending_.end()) continue;
      IcmpReply reply;
      reply.Status = parsed.Status;
      reply.Unreachable = parsed.Unreachable;
      SetRoundTrip(reply, *it, r);
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
        reply.Data.assign(reinterpret_cast<const char*>(buf_.data() + parsed.DataOffset),
                          parsed.DataSize);
      return Take(it, reply);
    }
    return std::nullopt;
  }

  bool raw_ = false;
  const bool steadyChecksum_;
  IcmpProbe probe_;
  std::vector<std::uint8_t> packet_;
};

class LinuxIcmp : public IIcmp {
 public:
  IcmpReply Echo(const IpAddress& address, const std::string& data, int timeoutMs,
                 int ttl) override {
    EchoProbes probes(address, data, timeoutMs, false);
    probes.Send(0, ttl);
    // Next ends early only for an abort (or a close request); the caller
    // sees a time-out then and looks at its abort next.
    if (auto answer = probes.Next(std::max(0, timeoutMs) + 1)) return answer->second;
    IcmpReply reply;
    reply.Status = kIcmpTimedOut;
    return reply;
  }

  std::unique_ptr<IIcmpProbes> Probes(const IpAddress& address, const std::string& data,
                                      int timeoutMs) override {
    return std::make_unique<EchoProbes>(address, data, timeoutMs, true);
  }
};

// Requests of a service that knows single echoes: each is asked when Next
// wants the next final one.
class SequentialProbes : public IIcmpProbes {
 public:
  SequentialProbes(IIcmp& icmp, const IpAddress& address, std::string data, int timeoutMs)
      : icmp_(icmp), address_(address), data_(std::move(data)), timeoutMs_(timeoutMs) {}
  void Send(int tag, int ttl) override { queued_.emplace_back(tag, ttl); }
  void Forget() override { queued_.clear(); }
  std::optional<std::pair<int, IcmpReply>> Next(int) override {
    if (queued_.empty()) return std::nullopt;
    const auto [tag, ttl] = queued_.front();
    queued_.pop_front();
    return std::make_pair(tag, icmp_.Echo(address_, data_, timeoutMs_, ttl));
  }

 private:
  IIcmp& icmp_;
  IpAddress address_;
  std::string data_;
  int timeoutMs_;
  std::deque<std::pair<int, int>> queued_;
};

}  // namespace

std::unique_ptr<IIcmpProbes> IIcmp::Probes(const IpAddress& address, const std::string& data,
                                           int timeoutMs) {
  return std::make_unique<SequentialProbes>(*this, address, data, timeoutMs);
}

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
  return EchoResultOf(
      platform::Icmp().Echo(address, sent, std::max(0, timeoutMs), std::clamp(ttl, 1, 255)), sent);
}

IcmpEchoResult EchoResultOf(const platform::IcmpReply& reply, const std::string& sent) {
  IcmpEchoResult result;
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
  // A reply known to the millisecond only counts as that many whole ones.
  result.RoundTripUs = reply.RoundTripUs != 0 ? reply.RoundTripUs : reply.RoundTripMs * 1000U;
  if (reply.Status == kIcmpSuccess) {
    if (reply.Data.size() != sent.size())
      result.DataVerdict = -1;
    else if (reply.Data != sent)
      result.DataVerdict = -2;
  }
  return result;
}

}  // namespace quovix
