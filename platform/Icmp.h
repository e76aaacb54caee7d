// ICMP echo: one echo request on the wire (the service, replaceable in tests)
// and SendIcmpEcho, the routine Ping and Trace call, which prepares the
// request data and judges what came back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "common/IpAddress.h"
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

// Why a destination was unreachable, as the answering router (or this
// computer's own stack) told it; the same reasons for both families.
enum class IcmpUnreachable : std::uint8_t {
  None,            // the answer was no unreachable message
  Network,         // network unreachable or unknown
  Host,            // host or address unreachable
  Protocol,        // protocol unreachable
  Port,            // port unreachable
  Prohibited,      // communication administratively prohibited
  NoRoute,         // no route to the destination (ICMPv6)
  BeyondScope,     // beyond the scope of the source address (ICMPv6)
  SourcePolicy,    // the source address failed an ingress/egress policy (ICMPv6)
  RejectRoute,     // a reject route to the destination (ICMPv6)
  PacketTooBig,    // too big for the path (and must not be fragmented)
  SourceRoute,     // source route failed
};

// The reason an unreachable status stands for when nothing more precise is
// known; None for every other status.
IcmpUnreachable UnreachableForStatus(int status);

namespace platform {

// What one echo request brought back.
struct IcmpReply {
  int Status = kIcmpNoService;
  IcmpUnreachable Unreachable = IcmpUnreachable::None;
  std::string Address;         // address of the node that answered (RFC 5952 for IPv6)
  std::uint8_t Ttl = 0;        // time-to-live of the answering packet (0: unknown)
  std::string Data;            // the echoed bytes (echo replies only)
  std::uint32_t RoundTripMs = 0;
  std::uint32_t RoundTripUs = 0;  // the same in microseconds (0: known to the ms only)
  int OpenError = 0;           // errno when no socket could be opened
};

// Echo requests of one run that are in flight at the same time, each with a
// tag of the caller's; every answer is matched to its request by identifier
// and sequence (for an error message: those of the request it quotes).
struct IIcmpProbes {
  virtual ~IIcmpProbes() = default;
  // Sends a request with the given time-to-live (hop limit); its answer, its
  // time-out or the reason it could not be sent comes from Next.
  virtual void Send(int tag, int ttl) = 0;
  // The next request that became final, with its tag: an answer, a send
  // failure, or kIcmpTimedOut once its time limit passed. Waits at most
  // waitMs (running the window's messages between slices); none when
  // nothing became final by then or an abort request ended the wait.
  virtual std::optional<std::pair<int, IcmpReply>> Next(int waitMs) = 0;
  // Forgets the requests not yet final (a round is over): answers that
  // still come for them are dropped. The socket, and with it the flow the
  // routers see, stays the same.
  virtual void Forget() = 0;
};

struct IIcmp {
  virtual ~IIcmp() = default;
  // Sends one echo request carrying data to address (ICMP for IPv4, ICMPv6
  // for IPv6) with the given time-to-live (hop limit) and waits at most
  // timeoutMs for its answer.
  virtual IcmpReply Echo(const IpAddress& address, const std::string& data, int timeoutMs,
                         int ttl) = 0;
  // Opens a run of requests to address carrying data, each waited for at
  // most timeoutMs after it was sent. This default serves a service that
  // knows single echoes only: Next makes the oldest request not yet asked
  // with Echo, so its requests are never in flight together.
  virtual std::unique_ptr<IIcmpProbes> Probes(const IpAddress& address, const std::string& data,
                                              int timeoutMs);
};

// The installed service: a datagram ICMP socket where the system allows
// unprivileged ones (net.ipv4.ping_group_range governs both families), else
// a raw socket.
IIcmp& Icmp();

// ---- Reading packets (exposed for tests and the fuzz target) --------------

// The request an answer has to belong to.
struct IcmpProbe {
  std::uint32_t Target = 0;     // IPv4, network byte order
  std::uint16_t Id = 0;         // host order
  std::uint16_t Sequence = 0;   // host order
  std::array<std::uint8_t, 16> Target6{};  // IPv6
  // Requests of several sequences are out: any sequence matches, and the
  // parsed answer tells which one it carries.
  bool AnySequence = false;
};

// What a received packet turned out to be.
struct IcmpParsed {
  bool Matched = false;         // it answers the probe
  int Status = kIcmpGeneralFailure;
  IcmpUnreachable Unreachable = IcmpUnreachable::None;
  bool HaveSource = false;      // Source and Ttl come from the packet's IP header
  std::uint32_t Source = 0;     // network byte order (raw IPv4 packets only)
  std::uint8_t Ttl = 0;         // raw IPv4 packets only
  std::size_t DataOffset = 0;   // echoed data within the buffer (echo replies)
  std::size_t DataSize = 0;
  std::uint16_t Sequence = 0;   // of the echo, or of the request an error quotes
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
IcmpUnreachable UnreachableForIcmpError(int type, int code);
// Status for a local send error (errno).
int StatusForErrno(int err);
IcmpUnreachable UnreachableForErrno(int err);

// The same for ICMPv6 (RFC 4443). A raw ICMPv6 socket hands over the ICMPv6
// message without the IPv6 header, as a datagram socket does; the source
// and hop limit come with the message. An error message quotes the IPv6
// header and the start of the packet that caused it.
IcmpParsed ParseRawIcmp6(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe);
IcmpParsed ParseDgramIcmp6(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe);
bool ErrorQueueMatches6(const std::uint8_t* buf, std::size_t len, const IcmpProbe& probe);
int StatusForIcmp6Error(int type, int code);
IcmpUnreachable UnreachableForIcmp6Error(int type, int code);

}  // namespace platform

// Result of SendIcmpEcho.
struct IcmpEchoResult {
  int Status = kIcmpNoService;       // 0: an echo reply arrived
  IcmpUnreachable Unreachable = IcmpUnreachable::None;  // set for unreachable answers
  std::string ReplyAddress;
  std::uint8_t ReplyTtl = 0;
  int ReplyDataSize = 0;
  std::uint32_t RoundTripMs = 0;
  std::uint32_t RoundTripUs = 0;     // the same in microseconds
  int DataVerdict = 0;               // 0 correct, -1 size differs, -2 contents differ
  int OpenError = 0;                 // errno when Status is -1
};

// Largest data size of a request.
constexpr int kIcmpMaxDataSize = 65500;

// One echo with a check of the echoed data. target is an address of either
// family; a host name in it is resolved (fixed 2000 ms limit; its IPv4
// address, else its IPv6 one, the other way round with preferIPv6) and
// replaced by that address, or by the empty text when it does not resolve,
// so later calls with the same variable skip the look-up.
IcmpEchoResult SendIcmpEcho(std::string& target, int dataSize, int timeoutMs, int ttl,
                            bool preferIPv6 = false);

// The judgement of one reply to a request that carried sent.
IcmpEchoResult EchoResultOf(const platform::IcmpReply& reply, const std::string& sent);

}  // namespace quovix
