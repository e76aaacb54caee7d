// ICMP echo: one echo request on the wire (the service, replaceable in tests)
// and SendIcmpEcho, the routine Ping and Trace call, which prepares the
// request data and judges what came back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Seam.h"

namespace quovix {

// Status numbers of an echo. They keep the values of the IP_STATUS codes
// administrators know from other systems' ping tools.
enum IcmpStatus : int {
  kIcmpSuccess = 0,
  kIcmpNoService = -1,            // no ICMP socket could be opened
  kIcmpDestNetUnreachable = 11002,
  kIcmpDestHostUnreachable = 11003,
  kIcmpDestProtUnreachable = 11004,
  kIcmpDestPortUnreachable = 11005,
  kIcmpNoResources = 11006,
  kIcmpPacketTooBig = 11009,
  kIcmpTimedOut = 11010,
  kIcmpBadRoute = 11012,
  kIcmpTtlExpiredTransit = 11013,
  kIcmpTtlExpiredReassembly = 11014,
  kIcmpParamProblem = 11015,
  kIcmpSourceQuench = 11016,
  kIcmpBadDestination = 11018,
  kIcmpGeneralFailure = 11050,
};

namespace platform {

// What one echo request brought back.
struct IcmpReply {
  int Status = kIcmpNoService;
  std::string Address;         // dotted IPv4 address of the node that answered
  std::uint8_t Ttl = 0;        // time-to-live of the answering packet (0: unknown)
  std::string Data;            // the echoed bytes (echo replies only)
  std::uint32_t RoundTripMs = 0;
  int OpenError = 0;           // errno when no socket could be opened
};

struct IIcmp {
  virtual ~IIcmp() = default;
  // Sends one echo request carrying data to address (network byte order)
  // with the given time-to-live and waits at most timeoutMs for its answer.
  virtual IcmpReply Echo(std::uint32_t address, const std::string& data, int timeoutMs,
                         int ttl) = 0;
};

// The installed service: a datagram ICMP socket where the system allows
// unprivileged ones, else a raw socket.
IIcmp& Icmp();

// ---- Reading packets (exposed for tests and the fuzz target) --------------

// The request an answer has to belong to.
struct IcmpProbe {
  std::uint32_t Target = 0;     // network byte order
  std::uint16_t Id = 0;         // host order
  std::uint16_t Sequence = 0;   // host order
};

// What a received packet turned out to be.
struct IcmpParsed {
  bool Matched = false;         // it answers the probe
  int Status = kIcmpGeneralFailure;
  std::uint32_t Source = 0;     // network byte order (raw packets only)
  std::uint8_t Ttl = 0;         // raw packets only
  std::size_t DataOffset = 0;   // echoed data within the buffer (echo replies)
  std::size_t DataSize = 0;
};

// A packet read from a raw ICMP socket: IP header, ICMP message. Takes an
// echo reply with the probe's identifier and sequence, or an error message
// (unreachable, time exceeded, …) that quotes the probe's request.
IcmpParsed ParseRawIcmp(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe);
// A message read from a datagram ICMP socket: ICMP header and data, no IP
// header. The kernel already sorted out other sockets' identifiers; the
// identifier is checked when probe.Id is non-zero.
IcmpParsed ParseDgramIcmp(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe);
// The original request that an error-queue entry of a datagram socket
// carries: tells whether it is the probe's.
bool ErrorQueueMatches(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe);
// Status for an ICMP error message type and code.
int StatusForIcmpError(int type, int code);
// Status for a local send error (errno).
int StatusForErrno(int err);

}  // namespace platform

// Result of SendIcmpEcho.
struct IcmpEchoResult {
  int Status = kIcmpNoService;       // 0: an echo reply arrived
  std::string ReplyAddress;
  std::uint8_t ReplyTtl = 0;
  int ReplyDataSize = 0;
  std::uint32_t RoundTripMs = 0;
  int DataVerdict = 0;               // 0 correct, -1 size differs, -2 contents differ
  int OpenError = 0;                 // errno when Status is -1
};

// Largest data size of a request.
constexpr int kIcmpMaxDataSize = 65500;

// One echo with a check of the echoed data. A host name in target is resolved
// (fixed 2000 ms limit) and replaced by its address, or by the empty text when
// it does not resolve, so later calls with the same variable skip the look-up.
IcmpEchoResult SendIcmpEcho(std::string& target, int dataSize, int timeoutMs, int ttl);

}  // namespace quovix
