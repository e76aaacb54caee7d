// Requests of one run in flight on one socket, whatever they are (echo
// requests, UDP datagrams, TCP SYNs): their time limits, the answers found
// by a key each request carries, and the round-trip times. Icmp.cpp and
// TraceProbes.cpp build their kinds of probe on it.
#pragma once

#include <sys/socket.h>
#include <time.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

#include "platform/Icmp.h"
#include "platform/IcmpFamily.h"

namespace quovix::platform::detail {

// The one's complement sum of RFC 1071 over n bytes, added to sum; the
// checksum is its complement.
std::uint32_t OnesSum(const std::uint8_t* p, std::size_t n, std::uint32_t sum = 0);
std::uint16_t FoldChecksum(std::uint32_t sum);

// One received message with what its control data told.
struct Received {
  long Length = -1;
  int Error = 0;
  IpAddress From;
  std::uint16_t FromPort = 0;  // of the sender; of the original destination for an error
  bool HaveStamp = false;
  timespec Stamp{};
  ControlData Control;
};

// Reads one message (of the error queue with MSG_ERRQUEUE) without waiting.
Received ReceiveOne(const IcmpFamilyOps& ops, int fd, std::vector<std::uint8_t>& buf, int flags);

class ProbeRun : public IIcmpProbes {
 public:
  ~ProbeRun() override;
  ProbeRun(const ProbeRun&) = delete;
  ProbeRun& operator=(const ProbeRun&) = delete;

  void Send(int tag, int ttl) final;
  std::optional<std::pair<int, IcmpReply>> Next(int waitMs) final;
  void Forget() final;

 protected:
  struct Pending {
    int Tag = 0;
    std::uint16_t Key = 0;  // what the answer carries to find its request
    timespec SentWall{};
    std::chrono::steady_clock::time_point SentSteady, Until;
  };

  ProbeRun(const IcmpFamilyOps& ops, const IpAddress& address, int timeoutMs);

  // Sends the request of p.Tag with the time-to-live and sets p.Key; 0 or
  // the errno of the failure.
  virtual int Transmit(Pending& p, int ttl) = 0;
  // Reads what the socket holds until a message answers a request still
  // out; none when nothing more is there (bounded per call).
  virtual std::optional<std::pair<int, IcmpReply>> ReadAnswer() = 0;

  std::vector<Pending>::iterator Find(std::uint16_t key);
  std::pair<int, IcmpReply> Take(std::vector<Pending>::iterator it, IcmpReply reply);
  // Round-trip time from the kernel's receive stamp where there is one, so
  // time spent running pending window messages does not count; sets the
  // reply's microseconds and its whole milliseconds.
  static void SetRoundTrip(IcmpReply& reply, const Pending& p, const Received& r);
  // Status, reason and node of an error-queue entry.
  void FromExtendedError(const Received& r, IcmpReply& reply) const;

  const IcmpFamilyOps& ops_;
  const int timeoutMs_;
  sockaddr_storage to_{};
  socklen_t toLen_ = 0;
  int fd_ = -1;
  int openStatus_ = kIcmpNoService;  // why fd_ is missing
  int openError_ = 0;
  std::vector<std::uint8_t> buf_;
  std::vector<Pending> pending_;                // in the order sent
  std::deque<std::pair<int, IcmpReply>> done_;  // final without an answer to wait for
};

// Packets read before the clock is looked at again.
constexpr int kMaxPerWake = 256;

}  // namespace quovix::platform::detail
