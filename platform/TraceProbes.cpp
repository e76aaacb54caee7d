#include "platform/TraceProbes.h"

#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "platform/ProbeRun.h"
#include "platform/SockAddr.h"

namespace quovix::platform {

namespace {

using detail::Get16;

const detail::IcmpFamilyOps& OpsOf(const IpAddress& a) {
  return a.IsV6() ? detail::Icmp6Ops() : detail::Icmp4Ops();
}

void SetPort(sockaddr_storage& to, std::uint16_t port) {
  if (to.ss_family == AF_INET6)
    reinterpret_cast<sockaddr_in6&>(to).sin6_port = htons(port);
  else
    reinterpret_cast<sockaddr_in&>(to).sin_port = htons(port);
}

// The target's own "port unreachable" tells that the probe arrived.
void TargetAnswered(IcmpReply& reply, const IpAddress& target) {
  if (reply.Unreachable == IcmpUnreachable::Port && IpAddress::Parse(reply.Address) == target) {
    reply.Status = kIcmpSuccess;
    reply.Unreachable = IcmpUnreachable::None;
  }
}

class UdpProbes : public detail::ProbeRun {
 public:
  UdpProbes(const IpAddress& address, int firstPort, int timeoutMs)
      : ProbeRun(OpsOf(address), address, timeoutMs),
        target_(address),
        firstPort_(std::clamp(firstPort, 1, 65535)) {
    if (openStatus_ == kIcmpBadDestination) return;
    fd_ = socket(ops_.Domain, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_UDP);
    if (fd_ < 0) {
      openStatus_ = kIcmpNoService;
      openError_ = errno;
      return;
    }
    const int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    // Error queue and hop limit of answers, as on a datagram ICMP socket.
    ops_.Configure(fd_, false, 64);
  }

 private:
  int Transmit(Pending& p, int) override {
    // Ports beyond the last one start again at the first.
    p.Key = static_cast<std::uint16_t>(firstPort_ + (p.Tag - 1) % (65536 - firstPort_));
    sockaddr_storage to = to_;
    SetPort(to, p.Key);
    static const char kPayload[8] = {'Q', 'U', 'O', 'V', 'I', 'X', 0, 0};
    if (sendto(fd_, kPayload, sizeof kPayload, 0, reinterpret_cast<sockaddr*>(&to), toLen_) < 0)
      return errno;
    return 0;
  }

  std::optional<std::pair<int, IcmpReply>> ReadAnswer() override {
    for (int i = 0; i < detail::kMaxPerWake; ++i) {
      // An error-queue entry is addressed with the probe's destination.
      detail::Received r = detail::ReceiveOne(ops_, fd_, buf_, MSG_ERRQUEUE);
      if (r.Length < 0) break;
      if (!r.Control.HaveExtErr || r.From != target_) continue;
      const auto it = Find(r.FromPort);
      if (it == pending_.end()) continue;
      IcmpReply reply;
      SetRoundTrip(reply, *it, r);
      FromExtendedError(r, reply);
      TargetAnswered(reply, target_);
      return Take(it, reply);
    }
    for (int i = 0; i < detail::kMaxPerWake; ++i) {
      detail::Received r = detail::ReceiveOne(ops_, fd_, buf_, 0);
      if (r.Length < 0) break;
      if (r.From != target_) continue;
      const auto it = Find(r.FromPort);
      if (it == pending_.end()) continue;
      IcmpReply reply;
      reply.Status = kIcmpSuccess;
      reply.Address = r.From.ToString();
      reply.Ttl = static_cast<std::uint8_t>(std::clamp(r.Control.Ttl, 0, 255));
      SetRoundTrip(reply, *it, r);
      return Take(it, reply);
    }
    return std::nullopt;
  }

  IpAddress target_;
  int firstPort_;
};

constexpr std::uint8_t kTcpSyn = 0x02, kTcpRst = 0x04, kTcpAck = 0x10;
constexpr std::size_t kTcpHeader = 20;

class TcpProbes : public detail::ProbeRun {
 public:
  TcpProbes(const IpAddress& address, int port, int timeoutMs)
      : ProbeRun(OpsOf(address), address, timeoutMs),
        target_(address),
        port_(static_cast<std::uint16_t>(std::clamp(port, 1, 65535))) {
    if (openStatus_ == kIcmpBadDestination) return;
    // The source address the route gives, for the checksum.
    const int probe = socket(ops_.Domain, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (probe >= 0) {
      sockaddr_storage to = to_;
      SetPort(to, port_);
      sockaddr_storage self{};
      socklen_t selfLen = sizeof self;
      if (connect(probe, reinterpret_cast<sockaddr*>(&to), toLen_) == 0 &&
          getsockname(probe, reinterpret_cast<sockaddr*>(&self), &selfLen) == 0)
        source_ = FromSockAddr(reinterpret_cast<sockaddr*>(&self), selfLen);
      close(probe);
    }
    fd_ = socket(ops_.Domain, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (fd_ < 0) {
      openStatus_ = kIcmpNoService;
      openError_ = errno;
      return;
    }
    const int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &one, sizeof one);
    if (address.IsV6()) {
      setsockopt(fd_, IPPROTO_IPV6, IPV6_RECVERR, &one, sizeof one);
      // The kernel fills in the checksum at this offset of the TCP header.
      const int offset = 16;
      setsockopt(fd_, IPPROTO_IPV6, IPV6_CHECKSUM, &offset, sizeof offset);
    } else {
      setsockopt(fd_, IPPROTO_IP, IP_RECVERR, &one, sizeof one);
    }
    // One run, one set of source ports (one per hop) above the usual
    // ephemeral range's start, and one sequence number.
    std::random_device rd;
    firstSource_ = static_cast<std::uint16_t>(33000 + rd() % 20000);
    sequence_ = rd();
  }

 private:
  int Transmit(Pending& p, int) override {
    p.Key = static_cast<std::uint16_t>(firstSource_ + (p.Tag - 1) % 256);
    std::uint8_t h[kTcpHeader] = {};
    h[0] = static_cast<std::uint8_t>(p.Key >> 8);
    h[1] = static_cast<std::uint8_t>(p.Key & 0xFF);
    h[2] = static_cast<std::uint8_t>(port_ >> 8);
    h[3] = static_cast<std::uint8_t>(port_ & 0xFF);
    for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<std::uint8_t>(sequence_ >> (24 - 8 * i));
    h[12] = 5 << 4;  // header length in 32-bit words
    h[13] = kTcpSyn;
    h[14] = 0xFA;    // window 64240
    h[15] = 0xF0;
    if (target_.IsV4() && source_.IsV4()) {
      std::uint8_t pseudo[12] = {};
      std::memcpy(pseudo, source_.Data(), 4);
      std::memcpy(pseudo + 4, target_.Data(), 4);
      pseudo[9] = IPPROTO_TCP;
      pseudo[11] = kTcpHeader;
      const std::uint16_t sum =
          detail::FoldChecksum(detail::OnesSum(h, sizeof h, detail::OnesSum(pseudo, sizeof pseudo)));
      h[16] = static_cast<std::uint8_t>(sum >> 8);
      h[17] = static_cast<std::uint8_t>(sum & 0xFF);
    }
    if (sendto(fd_, h, sizeof h, 0, reinterpret_cast<sockaddr*>(&to_), toLen_) < 0) return errno;
    return 0;
  }

  std::optional<std::pair<int, IcmpReply>> ReadAnswer() override {
    for (int i = 0; i < detail::kMaxPerWake; ++i) {
      // A router's error about a SYN: the entry holds the TCP header it quoted.
      detail::Received r = detail::ReceiveOne(ops_, fd_, buf_, MSG_ERRQUEUE);
      if (r.Length < 0) break;
      if (!r.Control.HaveExtErr || r.Length < 4 || Get16(buf_.data() + 2) != port_) continue;
      const auto it = Find(Get16(buf_.data()));
      if (it == pending_.end()) continue;
      IcmpReply reply;
      SetRoundTrip(reply, *it, r);
      FromExtendedError(r, reply);
      TargetAnswered(reply, target_);
      return Take(it, reply);
    }
    for (int i = 0; i < detail::kMaxPerWake; ++i) {
      detail::Received r = detail::ReceiveOne(ops_, fd_, buf_, 0);
      if (r.Length < 0) break;
      // Every TCP segment this computer receives comes here: only the
      // target's answer to one of our ports counts. IPv4 brings the IP
      // header along, IPv6 does not.
      const auto len = static_cast<std::size_t>(r.Length);
      std::size_t at = 0;
      IpAddress from = r.From;
      std::uint8_t ttl = static_cast<std::uint8_t>(std::clamp(r.Control.Ttl, 0, 255));
      if (target_.IsV4()) {
        if (len < 20 || (buf_[0] >> 4) != 4) continue;
        at = static_cast<std::size_t>(buf_[0] & 0x0F) * 4;
        if (at < 20) continue;
        std::uint32_t src;
        std::memcpy(&src, buf_.data() + 12, 4);
        from = IpAddress::FromV4(ntohl(src));
        ttl = buf_[8];
      }
      if (len < at + kTcpHeader || from != target_) continue;
      const std::uint8_t* tcp = buf_.data() + at;
      const std::uint8_t flags = tcp[13];
      const bool synAck = (flags & (kTcpSyn | kTcpAck)) == (kTcpSyn | kTcpAck);
      if (Get16(tcp) != port_ || (!synAck && !(flags & kTcpRst))) continue;
      const auto it = Find(Get16(tcp + 2));
      if (it == pending_.end()) continue;
      IcmpReply reply;
      reply.Status = kIcmpSuccess;
      reply.Address = from.ToString();
      reply.Ttl = ttl;
      SetRoundTrip(reply, *it, r);
      return Take(it, reply);
    }
    return std::nullopt;
  }

  IpAddress target_;
  IpAddress source_;
  std::uint16_t port_;
  std::uint16_t firstSource_ = 33000;
  std::uint32_t sequence_ = 0;
};

}  // namespace

std::unique_ptr<IIcmpProbes> OpenUdpProbes(const IpAddress& address, int firstPort, int timeoutMs) {
  return std::make_unique<UdpProbes>(address, firstPort, timeoutMs);
}

std::unique_ptr<IIcmpProbes> OpenTcpProbes(const IpAddress& address, int port, int timeoutMs) {
  return std::make_unique<TcpProbes>(address, port, timeoutMs);
}

}  // namespace quovix::platform
