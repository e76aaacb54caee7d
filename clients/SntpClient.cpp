#include "clients/SntpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "common/DateTime.h"
#include "common/Deadline.h"
#include "common/fMain.h"
#include "platform/Clock.h"
#include "platform/Connect.h"

namespace quovix {
namespace {

constexpr double kTwo32 = 4294967296.0;
// 1900-01-01 00:00 as a date-time value.
constexpr double kNtpEpochDays = 2.0;
// Unix seconds of the NTP epoch's start.
constexpr std::int64_t kNtpToUnix = 2208988800LL;

std::uint32_t Get32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

void Put32(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 24);
  p[1] = static_cast<std::uint8_t>(v >> 16);
  p[2] = static_cast<std::uint8_t>(v >> 8);
  p[3] = static_cast<std::uint8_t>(v);
}

NtpTimestamp GetStamp(const std::uint8_t* p) { return {Get32(p), Get32(p + 4)}; }

void PutStamp(std::uint8_t* p, NtpTimestamp t) {
  Put32(p, t.Seconds);
  Put32(p + 4, t.Fraction);
}

[[noreturn]] void ThrowSocketError(int code, const std::string& text) {
  throw std::runtime_error("Socket Error # " + std::to_string(code) + "\r\n" + text);
}

// Whole seconds since 1900 in the era of 1968-2104.
std::int64_t EraSeconds(NtpTimestamp t) {
  std::int64_t s = t.Seconds;
  if ((t.Seconds & 0x80000000u) == 0) s += std::int64_t{1} << 32;
  return s;
}

double Seconds(const timespec& ts) {
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// What the clocks' readings may be off by when the times of an exchange are
// compared: the server's precision (as it states it, at most a millisecond)
// and a microsecond for ours and the rounding of the timestamps.
double ReadingTolerance(const SntpPacket& reply) {
  return std::min(std::ldexp(1.0, std::max(-40, int{reply.Precision})), 1e-3) + 1e-6;
}

// The server's addresses: a literal of either family ("[::1]" too), or every
// address of the name in the resolver's order. Raises when there is none.
std::vector<IpAddress> ServerAddresses(const std::string& host, int limitMs) {
  std::vector<IpAddress> addresses;
  if (!IsHostName(host)) {
    if (const IpAddress literal = IpAddress::Parse(host); !literal.Empty())
      addresses.push_back(literal);
  } else if (!host.empty()) {
    addresses = ResolveHostAddresses(host, limitMs);
  }
  if (addresses.empty()) ThrowSocketError(11001, "Host not found.");
  return addresses;
}

}  // namespace

NtpTimestamp NtpFromTimespec(const timespec& ts) {
  const std::int64_t secs = static_cast<std::int64_t>(ts.tv_sec) + kNtpToUnix;
  const std::uint64_t frac = (static_cast<std::uint64_t>(ts.tv_nsec) << 32) / 1000000000ULL;
  return {static_cast<std::uint32_t>(secs), static_cast<std::uint32_t>(frac)};
}

double NtpDifference(NtpTimestamp a, NtpTimestamp b) {
  return static_cast<double>(EraSeconds(a) - EraSeconds(b)) +
         (static_cast<double>(a.Fraction) - static_cast<double>(b.Fraction)) / kTwo32;
}

NtpTimestamp NtpAdd(NtpTimestamp t, double seconds) {
  if (!std::isfinite(seconds)) return t;
  const double whole = std::floor(seconds);
  const std::uint64_t frac =
      std::uint64_t{t.Fraction} +
      static_cast<std::uint64_t>(std::clamp(std::floor((seconds - whole) * kTwo32), 0.0, kTwo32 - 1));
  const std::int64_t secs =
      static_cast<std::int64_t>(t.Seconds) + static_cast<std::int64_t>(whole) +
      static_cast<std::int64_t>(frac >> 32);
  // Modulo 2^32, as the wire carries it.
  return {static_cast<std::uint32_t>(secs), static_cast<std::uint32_t>(frac)};
}

std::array<std::uint8_t, kSntpPacketSize> EncodeSntpPacket(const SntpPacket& p) {
  std::array<std::uint8_t, kSntpPacketSize> b{};
  b[0] = static_cast<std::uint8_t>(((p.LeapIndicator & 3) << 6) | ((p.Version & 7) << 3) |
                                   (p.Mode & 7));
  b[1] = p.Stratum;
  b[2] = p.Poll;
  b[3] = static_cast<std::uint8_t>(p.Precision);
  Put32(&b[4], p.RootDelay);
  Put32(&b[8], p.RootDispersion);
  Put32(&b[12], p.ReferenceId);
  PutStamp(&b[16], p.Reference);
  PutStamp(&b[24], p.Originate);
  PutStamp(&b[32], p.Receive);
  PutStamp(&b[40], p.Transmit);
  return b;
}

bool DecodeSntpPacket(const std::uint8_t* d, size_t size, SntpPacket& p) {
  if (!d || size < kSntpPacketSize) return false;
  p.LeapIndicator = d[0] >> 6;
  p.Version = (d[0] >> 3) & 7;
  p.Mode = d[0] & 7;
  p.Stratum = d[1];
  p.Poll = d[2];
  p.Precision = static_cast<std::int8_t>(d[3]);
  p.RootDelay = Get32(d + 4);
  p.RootDispersion = Get32(d + 8);
  p.ReferenceId = Get32(d + 12);
  p.Reference = GetStamp(d + 16);
  p.Originate = GetStamp(d + 24);
  p.Receive = GetStamp(d + 32);
  p.Transmit = GetStamp(d + 40);
  return true;
}

NtpTimestamp NtpFromDateTime(double localValue, double biasDays) {
  const double seconds = (localValue + biasDays - kNtpEpochDays) * kSecondsPerDay;
  if (!std::isfinite(seconds)) return {};
  const double whole = std::floor(seconds);
  double frac = std::floor((seconds - whole) * kTwo32);
  frac = std::clamp(frac, 0.0, kTwo32 - 1);
  // Whole seconds modulo 2^32: from 2036 on the count starts again at 0.
  const double wrapped = whole - std::floor(whole / kTwo32) * kTwo32;
  return {static_cast<std::uint32_t>(wrapped), static_cast<std::uint32_t>(frac)};
}

double DateTimeFromNtp(NtpTimestamp ts, double biasDays) {
  // RFC 4330 era rule: with the top bit clear the time lies in 2036–2104,
  // not in 1900–1968, when no NTP server existed.
  double seconds = ts.Seconds;
  if ((ts.Seconds & 0x80000000u) == 0) seconds += kTwo32;
  const std::uint64_t ms = (std::uint64_t{ts.Fraction} * 1000) >> 32;
  return (seconds + static_cast<double>(ms) / 1000.0) / kSecondsPerDay + kNtpEpochDays - biasDays;
}

TSntpStatus EvaluateSntpReply(const std::uint8_t* data, size_t size, NtpTimestamp sent,
                              bool checkStratum, SntpPacket& reply) {
  if (!DecodeSntpPacket(data, size, reply)) return TSntpStatus::ShortReply;
  // A reply that does not echo our transmit time answers some other request
  // (or is forged) and says nothing about this one.
  if (reply.Originate != sent) return TSntpStatus::WrongOriginate;
  if (reply.Mode != 4) return TSntpStatus::NotServer;
  if (reply.LeapIndicator == 3) return TSntpStatus::Unsynchronised;
  if (reply.Transmit.IsZero() || reply.Receive.IsZero()) return TSntpStatus::ZeroTimestamp;
  if (checkStratum && (reply.Stratum == 0 || reply.Stratum > 15)) return TSntpStatus::BadStratum;
  return TSntpStatus::Ok;
}

TSntpStatus MeasureSntpReply(const SntpPacket& reply, NtpTimestamp t1, NtpTimestamp t4,
                             double elapsedSeconds, NtpMeasure& measure) {
  // The server's own stay of the request (T3 - T2) can be neither negative
  // nor longer than the whole round trip measured here; either means its
  // times are not those of this exchange, whatever they claim.
  const double hold = NtpDifference(reply.Transmit, reply.Receive);
  const double delay = NtpDifference(t4, t1) - hold;
  const double tolerance = ReadingTolerance(reply);
  measure = {};
  if (delay < -tolerance) return TSntpStatus::NegativeDelay;
  if (delay > std::max(elapsedSeconds, NtpDifference(t4, t1)) + tolerance)
    return TSntpStatus::DelayTooLong;
  measure.Delay = std::max(delay, 0.0);
  measure.Offset = (NtpDifference(reply.Receive, t1) + NtpDifference(reply.Transmit, t4)) / 2;
  return TSntpStatus::Ok;
}

SntpClient::~SntpClient() { Close(); }

void SntpClient::Open() { open_ = true; }

void SntpClient::Close() { open_ = false; }

double SntpClient::DateTime() {
  measure_ = {};
  status_ = TSntpStatus::NoAnswer;
  reply_ = SntpPacket{};

  // One limit for the name look-up and the wait for the reply.
  const Deadline deadline = Deadline::In(ReceiveTimeout);
  std::vector<IpAddress> servers;
  try {
    servers = ServerAddresses(Host, deadline.LeftMs());
  } catch (...) {
    status_ = TSntpStatus::NoAddress;
    throw;
  }
  Open();
  const double bias = LocalBiasDays();

  // Each address that is asked gets a request of its own, stamped when it
  // goes out; the first reply that echoes one of them decides, as a single
  // server's did. Only the address asked can answer its socket (connected).
  std::vector<NtpTimestamp> sent(platform::kMaxAttempts);
  std::vector<timespec> sentRunning(platform::kMaxAttempts);
  timespec received{};
  TSntpStatus passedOver = TSntpStatus::NoAnswer;
  const platform::Reach reach = platform::ExchangeDatagram(
      servers, Port, deadline,
      [&](std::size_t attempt) {
        std::array<std::uint8_t, kSntpPacketSize> request{};
        request[0] = 0x1B;  // leap 0, version 3, mode 3 (client)
        sent[attempt] = NtpFromTimespec(platform::Clock().Now());
        sentRunning[attempt] = platform::Clock().Monotonic();
        PutStamp(&request[40], sent[attempt]);
        return std::string(request.begin(), request.end());
      },
      [&](std::size_t attempt, const std::string& data) {
        received = platform::Clock().Monotonic();
        SntpPacket r;
        const TSntpStatus s = EvaluateSntpReply(reinterpret_cast<const std::uint8_t*>(data.data()),
                                                data.size(), sent[attempt], CheckStratum, r);
        // Stale or forged replies (and those too short to tell) are passed
        // over while the one to this request may still come.
        if (s == TSntpStatus::ShortReply || s == TSntpStatus::WrongOriginate) {
          passedOver = s;
          return false;
        }
        return true;
      });
  if (reach.End == platform::ReachEnd::Failed) {
    status_ = TSntpStatus::Unreachable;
    return 0;
  }
  // A time-out, an abort alike: no answer, or only ones passed over.
  if (reach.End != platform::ReachEnd::Reached) {
    status_ = passedOver;
    return 0;
  }
  const auto* data = reinterpret_cast<const std::uint8_t*>(reach.Reply.data());
  const NtpTimestamp t1 = sent[reach.Attempt];
  status_ = EvaluateSntpReply(data, reach.Reply.size(), t1, CheckStratum, reply_);
  if (status_ != TSntpStatus::Ok) return 0;
  // The reception time is the sending time moved on by what a clock that
  // only runs forward measured: a step of the real-time clock meanwhile
  // does not enter the result.
  const double elapsed = std::max(0.0, Seconds(received) - Seconds(sentRunning[reach.Attempt]));
  status_ = MeasureSntpReply(reply_, t1, NtpAdd(t1, elapsed), elapsed, measure_);
  if (status_ != TSntpStatus::Ok) return 0;
  return DateTimeFromNtp(reply_.Transmit, bias);
}

}  // namespace quovix
