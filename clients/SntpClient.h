// SNTP client (RFC 4330 packet, version 3 requests): one or several UDP
// exchanges with a time server, the server's clock as a local date-time
// value, with offset, delay and jitter measured as an NTP client does.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "clients/NtsNtp.h"
#include "common/IpAddress.h"

namespace quovix {

constexpr size_t kSntpPacketSize = 48;

// Seconds since 1900-01-01 00:00 UTC and the fraction in units of 2^-32 s.
struct NtpTimestamp {
  std::uint32_t Seconds = 0;
  std::uint32_t Fraction = 0;
  bool operator==(const NtpTimestamp&) const = default;
  bool IsZero() const { return Seconds == 0 && Fraction == 0; }
};

struct SntpPacket {
  std::uint8_t LeapIndicator = 0;  // 2 bits
  std::uint8_t Version = 0;        // 3 bits
  std::uint8_t Mode = 0;           // 3 bits
  std::uint8_t Stratum = 0;
  std::uint8_t Poll = 0;
  std::int8_t Precision = 0;
  std::uint32_t RootDelay = 0;
  std::uint32_t RootDispersion = 0;
  std::uint32_t ReferenceId = 0;
  NtpTimestamp Reference, Originate, Receive, Transmit;
};

std::array<std::uint8_t, kSntpPacketSize> EncodeSntpPacket(const SntpPacket& p);
// Reads the first 48 bytes; false when there are fewer.
bool DecodeSntpPacket(const std::uint8_t* data, size_t size, SntpPacket& p);

// Timestamp conversions with the local bias (UTC minus local time, in days).
// Timestamps with the top bit clear belong to the era that begins in 2036.
NtpTimestamp NtpFromDateTime(double localValue, double biasDays);
// Milliseconds of the fraction are truncated.
double DateTimeFromNtp(NtpTimestamp ts, double biasDays);

// The difference a - b in seconds, each timestamp taken in the era of the
// years 1968-2104 (the rule DateTimeFromNtp follows), exact to 2^-32 s.
double NtpDifference(NtpTimestamp a, NtpTimestamp b);
// The timestamp of a real-time clock reading; t plus seconds (may be negative).
NtpTimestamp NtpFromTimespec(const timespec& ts);
NtpTimestamp NtpAdd(NtpTimestamp t, double seconds);

// What became of the last query.
enum class TSntpStatus {
  None,            // no query yet
  Ok,              // the answer is the server's transmit time
  NoAddress,       // the server's name has no address
  NoAnswer,        // nothing from the server within ReceiveTimeout
  Unreachable,     // the server's port or network refused the request
  ShortReply,      // fewer than 48 bytes
  WrongOriginate,  // only replies to other requests (stale or forged) came
  NotServer,       // the reply is not in server mode
  Unsynchronised,  // leap indicator 3 or stratum 16: the server's clock is not set
  KissOfDeath,     // stratum 0 with a four-letter code: the server sends no time (KissCode)
  ZeroTimestamp,   // the server sent no receive or no transmit time
  BadStratum,      // stratum 0 (kiss-o'-death) or above 15
  NegativeDelay,   // the server claims to have held the request longer than it took
  DelayTooLong,    // the round trip it implies is longer than the exchange took
  NtsAuthFailed,   // NTS: the answers to our requests do not verify
  NtsNoCookie,     // NTS: no cookie left for a request
};

// Checks a reply against the request whose transmit timestamp was sent.
// On a length of at least 48 bytes the fields are in reply. A kiss-o'-death
// (stratum 0, the reference ID four printable letters) is told apart from a
// plain stratum 0 whether or not the stratum is checked.
TSntpStatus EvaluateSntpReply(const std::uint8_t* data, size_t size, NtpTimestamp sent,
                              bool checkStratum, SntpPacket& reply);

// Offset and round-trip delay of a reply that passed EvaluateSntpReply, in
// seconds: t1 the request's transmit time, t4 the local time of reception,
// elapsedSeconds how long the exchange took by a clock that only runs
// forward. NegativeDelay or DelayTooLong when the reply's times cannot be
// those of a real exchange (beyond the clocks' precision).
struct NtpMeasure {
  double Offset = 0, Delay = 0;  // seconds
};
TSntpStatus MeasureSntpReply(const SntpPacket& reply, NtpTimestamp t1, NtpTimestamp t4,
                             double elapsedSeconds, NtpMeasure& measure);

// The kiss code of a reply ("DENY", "RATE", …; trailing blanks and NULs
// dropped), empty when the reply is none.
std::string KissCode(const SntpPacket& reply);
// Codes after which a server must not be asked again (RFC 5905, 7.4).
bool KissForbidsQueries(const std::string& code);

// The reference ID as readable text: the code of a stratum 0 or 1 server
// ("GPS", "PPS"), else the upstream server's IPv4 address, or for a server
// asked over IPv6 the start of the hash of its upstream's IPv6 address
// ("0x1a2b3c4d"). kind is "code", "ipv4" or "ipv6_hash".
std::string ReferenceIdText(const SntpPacket& reply, bool overIpv6, const char** kind = nullptr);

// Root delay and dispersion (NTP short format, 16.16) in seconds.
double NtpShortSeconds(std::uint32_t value);

// One exchange that gave a believable time.
struct NtpSample {
  NtpMeasure Measure;
  SntpPacket Reply;
  timespec Received{};  // by the clock that only runs forward
  bool Authenticated = false;  // NTS verified it
};

// The sample with the least delay (the one NTP's clock filter trusts most),
// the first of equals; 0 for none.
std::size_t LeastDelaySample(const std::vector<NtpSample>& samples);
// The jitter of the samples: the root mean square of their offsets' distance
// to the chosen one's, over n - 1 (RFC 5905, 10); 0 for fewer than two.
double SampleJitter(const std::vector<NtpSample>& samples, std::size_t chosen);

class SntpClient {
 public:
  SntpClient() = default;
  ~SntpClient();
  SntpClient(const SntpClient&) = delete;
  SntpClient& operator=(const SntpClient&) = delete;

  std::string Host;              // host name or address of either family ("[::1]" too)
  std::uint16_t Port = 123;
  int ReceiveTimeout = 2000;     // milliseconds
  bool CheckStratum = true;      // reject stratum 0 and above 15
  int SampleCount = 1;           // exchanges per query, 1 to kMaxSamples
  int SampleSpacingMs = 2000;    // from one request to the next
  static constexpr int kMaxSamples = 16;
  // With a session from NTS key establishment every request is NTPv4 with
  // its extension fields and spends a cookie; only answers that echo our
  // identifier and verify count (an NTS NAK ends the query as kiss code
  // NTSN), and their new cookies refill the session. Not owned.
  NtsSession* Nts = nullptr;

  // Marks the client ready; each query opens a datagram socket of its own
  // for every address it asks and closes them again.
  void Open();
  void Close();
  bool IsOpen() const { return open_; }

  // One query: the server's transmit time in local time, or 0 when there is
  // no usable answer. A name's addresses of both families are asked in the
  // resolver's order, the next one after a short delay while the earlier
  // ones may still answer, all within ReceiveTimeout. Replies that do not
  // echo the request's transmit time are passed over. A name without an
  // address throws std::runtime_error ("Socket Error # n\r\ntext"), the
  // status then NoAddress.
  //
  // With SampleCount above 1 the address that answered is asked again,
  // SampleSpacingMs after the last request, until the samples are complete
  // or one deadline for all (ReceiveTimeout plus the spacings) has passed;
  // the time, offset and delay are those of the sample with the least
  // delay. Once the first exchange is answered, later losses and rejected
  // replies only cost their sample; a kiss-o'-death ends the sampling, and
  // after DENY or RSTR that address is not asked again by this client.
  double DateTime();

  // Results of the last query (days; 0 when there was no valid reply).
  double RoundTripDelay() const { return measure_.Delay / 86400.0; }
  double ClockOffset() const { return measure_.Offset / 86400.0; }
  // The same in seconds, to the precision of the timestamps.
  const NtpMeasure& Measure() const { return measure_; }
  TSntpStatus Status() const { return status_; }
  // The last reply's fields (valid when Status is not None/NoAnswer/ShortReply).
  const SntpPacket& LastReply() const { return reply_; }
  // The samples of the last query, the chosen one and their jitter (s).
  const std::vector<NtpSample>& Samples() const { return samples_; }
  std::size_t Chosen() const { return chosen_; }
  double Jitter() const { return jitter_; }
  // Seconds since the chosen sample arrived (0 without one): what the
  // server's time given by DateTime has moved on since.
  double SinceChosen() const;
  // The kiss code of the last query ("" when none came); Remembered when
  // the server was not asked because it had sent DENY or RSTR before.
  const std::string& Kiss() const { return kiss_; }
  bool KissRemembered() const { return kissRemembered_; }
  // Replies passed over because they did not echo our request (stale or
  // forged), and the address that answered (empty when none did).
  int ForeignReplies() const { return foreign_; }
  const IpAddress& Answerer() const { return answerer_; }

 private:
  bool open_ = false;
  NtpMeasure measure_;
  TSntpStatus status_ = TSntpStatus::None;
  SntpPacket reply_;
  std::vector<NtpSample> samples_;
  std::size_t chosen_ = 0;
  double jitter_ = 0;
  std::string kiss_;
  bool kissRemembered_ = false;
  int foreign_ = 0;
  IpAddress answerer_;
  // Addresses ("address port") that sent DENY or RSTR, with the code.
  std::map<std::string, std::string> denied_;
};

}  // namespace quovix
