// SNTP client (RFC 4330 packet, version 3 requests): one UDP exchange with a
// time server, the server's clock as a local date-time value.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

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
  Unsynchronised,  // leap indicator 3: the server's clock is not set
  ZeroTimestamp,   // the server sent no receive or no transmit time
  BadStratum,      // stratum 0 (kiss-o'-death) or above 15
  NegativeDelay,   // the server claims to have held the request longer than it took
  DelayTooLong,    // the round trip it implies is longer than the exchange took
};

// Checks a reply against the request whose transmit timestamp was sent.
// On a length of at least 48 bytes the fields are in reply.
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
  double DateTime();

  // Results of the last query (days; 0 when there was no valid reply).
  double RoundTripDelay() const { return measure_.Delay / 86400.0; }
  double ClockOffset() const { return measure_.Offset / 86400.0; }
  // The same in seconds, to the precision of the timestamps.
  const NtpMeasure& Measure() const { return measure_; }
  TSntpStatus Status() const { return status_; }
  // The last reply's fields (valid when Status is not None/NoAnswer/ShortReply).
  const SntpPacket& LastReply() const { return reply_; }

 private:
  bool open_ = false;
  NtpMeasure measure_;
  TSntpStatus status_ = TSntpStatus::None;
  SntpPacket reply_;
};

}  // namespace quovix
