#include "clients/SntpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
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
  // A kiss-o'-death carries no time, whatever its other fields say.
  if (!KissCode(reply).empty()) return TSntpStatus::KissOfDeath;
  if (reply.LeapIndicator == 3) return TSntpStatus::Unsynchronised;
  if (reply.Transmit.IsZero() || reply.Receive.IsZero()) return TSntpStatus::ZeroTimestamp;
  if (checkStratum && reply.Stratum == 16) return TSntpStatus::Unsynchronised;
  if (checkStratum && (reply.Stratum == 0 || reply.Stratum > 15)) return TSntpStatus::BadStratum;
  return TSntpStatus::Ok;
}

std::string KissCode(const SntpPacket& reply) {
  if (reply.Stratum != 0) return {};
  std::string code;
  for (int shift = 24; shift >= 0; shift -= 8)
    code += static_cast<char>((reply.ReferenceId >> shift) & 0xFF);
  while (!code.empty() && (code.back() == '\0' || code.back() == ' ')) code.pop_back();
  if (code.empty()) return {};
  // Codes are upper-case letters and digits (RFC 5905, 7.4); anything else
  // in a stratum-0 reply is no kiss but a broken answer.
  for (const char c : code)
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) return {};
  return code;
}

bool KissForbidsQueries(const std::string& code) { return code == "DENY" || code == "RSTR"; }

std::string ReferenceIdText(const SntpPacket& reply, bool overIpv6, const char** kind) {
  const std::uint32_t id = reply.ReferenceId;
  auto set = [&](const char* k) {
    if (kind) *kind = k;
  };
  if (reply.Stratum <= 1) {
    std::string code;
    for (int shift = 24; shift >= 0; shift -= 8) {
      const char c = static_cast<char>((id >> shift) & 0xFF);
      if (c == '\0') break;
      // The server's text is never shown raw.
      code += (c >= 0x21 && c <= 0x7E) ? c : '?';
    }
    set("code");
    return code;
  }
  char buf[32];
  if (overIpv6) {
    std::snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(id));
    set("ipv6_hash");
  } else {
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", (id >> 24) & 0xFF, (id >> 16) & 0xFF,
                  (id >> 8) & 0xFF, id & 0xFF);
    set("ipv4");
  }
  return buf;
}

double NtpShortSeconds(std::uint32_t value) { return static_cast<double>(value) / 65536.0; }

std::size_t LeastDelaySample(const std::vector<NtpSample>& samples) {
  std::size_t best = 0;
  for (std::size_t i = 1; i < samples.size(); ++i)
    if (samples[i].Measure.Delay < samples[best].Measure.Delay) best = i;
  return best;
}

double SampleJitter(const std::vector<NtpSample>& samples, std::size_t chosen) {
  if (samples.size() < 2 || chosen >= samples.size()) return 0;
  double sum = 0;
  for (const NtpSample& s : samples) {
    const double d = s.Measure.Offset - samples[chosen].Measure.Offset;
    sum += d * d;
  }
  return std::sqrt(sum / static_cast<double>(samples.size() - 1));
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

double SntpClient::SinceChosen() const {
  if (chosen_ >= samples_.size()) return 0;
  return std::max(0.0, Seconds(platform::Clock().Monotonic()) - Seconds(samples_[chosen_].Received));
}

void SntpClient::Open() { open_ = true; }

void SntpClient::Close() { open_ = false; }

namespace {

// "address port": the key a DENY or RSTR is remembered under.
std::string DeniedKey(const IpAddress& a, std::uint16_t port) {
  return a.ToString() + " " + std::to_string(port);
}

}  // namespace

double SntpClient::DateTime() {
  measure_ = {};
  status_ = TSntpStatus::NoAnswer;
  reply_ = SntpPacket{};
  samples_.clear();
  chosen_ = 0;
  jitter_ = 0;
  kiss_.clear();
  kissRemembered_ = false;
  foreign_ = 0;
  answerer_ = {};

  const int samples = std::clamp(SampleCount, 1, kMaxSamples);
  const int spacing = std::clamp(SampleSpacingMs, 0, 2000);
  // One limit for all the exchanges; the name look-up shares the first
  // exchange's, as a single query's always did.
  const Deadline deadline = Deadline::In(ReceiveTimeout + (samples - 1) * spacing);
  const Deadline firstLimit = deadline.Within(ReceiveTimeout);
  std::vector<IpAddress> servers;
  try {
    servers = ServerAddresses(Host, firstLimit.LeftMs());
  } catch (...) {
    status_ = TSntpStatus::NoAddress;
    throw;
  }
  // A server that told us to go away is not asked again.
  std::erase_if(servers, [&](const IpAddress& a) {
    const auto d = denied_.find(DeniedKey(a, Port));
    if (d != denied_.end()) kiss_ = d->second;
    return d != denied_.end();
  });
  if (servers.empty()) {
    status_ = TSntpStatus::KissOfDeath;
    kissRemembered_ = true;
    return 0;
  }
  kiss_.clear();
  Open();
  const double bias = LocalBiasDays();

  TSntpStatus firstFailure = TSntpStatus::None;
  auto failed = [&](TSntpStatus s) {
    if (firstFailure == TSntpStatus::None) firstFailure = s;
  };
  bool replyKept = false;
  for (int n = 0; n < samples; ++n) {
    const auto started = Deadline::Clock::now();
    // The first exchange may go to any of the name's addresses; the later
    // ones go to the one that answered.
    const std::vector<IpAddress> asked =
        answerer_.Empty() ? servers : std::vector<IpAddress>{answerer_};
    // Each address that is asked gets a request of its own, stamped when it
    // goes out; the first reply that echoes one of them decides. Only the
    // address asked can answer its socket (connected).
    std::vector<NtpTimestamp> sent(platform::kMaxAttempts);
    std::vector<timespec> sentRunning(platform::kMaxAttempts);
    std::vector<std::string> uniqueIds(platform::kMaxAttempts);
    std::vector<std::vector<std::string>> newCookies(platform::kMaxAttempts);
    if (Nts && Nts->Cookies.empty()) {
      failed(TSntpStatus::NtsNoCookie);
      break;
    }
    timespec received{};
    TSntpStatus passedOver = TSntpStatus::NoAnswer;
    const platform::Reach reach = platform::ExchangeDatagram(
        asked, Port, n == 0 ? firstLimit : deadline.Within(ReceiveTimeout),
        [&](std::size_t attempt) {
          std::array<std::uint8_t, kSntpPacketSize> request{};
          // Leap 0, mode 3 (client); version 4 where extension fields follow.
          request[0] = Nts ? 0x23 : 0x1B;
          sent[attempt] = NtpFromTimespec(platform::Clock().Now());
          sentRunning[attempt] = platform::Clock().Monotonic();
          PutStamp(&request[40], sent[attempt]);
          std::string packet(request.begin(), request.end());
          if (Nts && !BuildNtsRequest(std::string(packet), *Nts, packet, uniqueIds[attempt]))
            packet.clear();  // no cookie left: nothing this server would answer
          return packet;
        },
        [&](std::size_t attempt, const std::string& data) {
          received = platform::Clock().Monotonic();
          SntpPacket r;
          const TSntpStatus s = EvaluateSntpReply(reinterpret_cast<const std::uint8_t*>(data.data()),
                                                  data.size(), sent[attempt], CheckStratum, r);
          // Stale or forged replies (and those too short to tell) are passed
          // over while the one to this request may still come.
          if (s == TSntpStatus::ShortReply || s == TSntpStatus::WrongOriginate) {
            if (s == TSntpStatus::WrongOriginate) ++foreign_;
            passedOver = s;
            return false;
          }
          if (!Nts) return true;
          // Under NTS only what answers our identifier and verifies is
          // taken (and a NAK, which cannot be authenticated); anything else
          // may be forged and is passed over.
          switch (CheckNtsAnswer(data, uniqueIds[attempt], *Nts, newCookies[attempt])) {
            case NtsAnswer::Ok:
            case NtsAnswer::Nak:
              return true;
            case NtsAnswer::Foreign:
              ++foreign_;
              passedOver = TSntpStatus::WrongOriginate;
              return false;
            default:
              passedOver = TSntpStatus::NtsAuthFailed;
              return false;
          }
        });
    if (reach.End == platform::ReachEnd::Failed) {
      failed(TSntpStatus::Unreachable);
      break;
    }
    if (reach.End == platform::ReachEnd::Aborted) {
      failed(passedOver);
      break;
    }
    if (reach.End != platform::ReachEnd::Reached) {
      // A silent server is given up at once; a lost later sample costs
      // only itself.
      failed(passedOver);
      if (answerer_.Empty()) break;
    } else {
      answerer_ = reach.Address;
      if (Nts)
        for (std::string& cookie : newCookies[reach.Attempt])
          if (Nts->Cookies.size() < kNtsCookiesKept) Nts->Cookies.push_back(std::move(cookie));
      const auto* data = reinterpret_cast<const std::uint8_t*>(reach.Reply.data());
      const NtpTimestamp t1 = sent[reach.Attempt];
      SntpPacket reply;
      TSntpStatus s = EvaluateSntpReply(data, reach.Reply.size(), t1, CheckStratum, reply);
      if (s == TSntpStatus::Ok) {
        // The reception time is the sending time moved on by what a clock
        // that only runs forward measured: a step of the real-time clock
        // meanwhile does not enter the result.
        const double elapsed =
            std::max(0.0, Seconds(received) - Seconds(sentRunning[reach.Attempt]));
        NtpMeasure m;
        s = MeasureSntpReply(reply, t1, NtpAdd(t1, elapsed), elapsed, m);
        if (s == TSntpStatus::Ok) samples_.push_back({m, reply, received, Nts != nullptr});
      }
      if (s != TSntpStatus::Ok) {
        failed(s);
        // The fields of the first rejected reply name why (stratum, kiss code).
        if (!replyKept) reply_ = reply;
        replyKept = true;
      }
      if (s == TSntpStatus::KissOfDeath) {
        kiss_ = KissCode(reply);
        if (KissForbidsQueries(kiss_)) denied_[DeniedKey(reach.Address, Port)] = kiss_;
        break;
      }
      // A server whose first answer is unusable gives no better one a
      // moment later.
      if (samples_.empty()) break;
    }
    if (n + 1 < samples) {
      const Deadline next = Deadline::At(started + std::chrono::milliseconds(spacing));
      // The next request must still have time for its answer.
      if (deadline.When() <= next.When()) break;
      if (PauseUntil(next) == WaitEnd::Aborted) break;
    }
  }
  if (samples_.empty()) {
    status_ = firstFailure == TSntpStatus::None ? TSntpStatus::NoAnswer : firstFailure;
    return 0;
  }
  status_ = TSntpStatus::Ok;
  chosen_ = LeastDelaySample(samples_);
  jitter_ = SampleJitter(samples_, chosen_);
  measure_ = samples_[chosen_].Measure;
  reply_ = samples_[chosen_].Reply;
  return DateTimeFromNtp(reply_.Transmit, bias);
}

}  // namespace quovix
