// Reaching a peer at one of its addresses, both families: the attempts
// start one after another in the manner of Happy Eyeballs (RFC 8305), so an
// address that never answers costs a short delay, not the whole time limit,
// before the next one is tried, and earlier attempts keep running while later
// ones start. Every client that talks TCP or UDP to a named peer goes through
// here, on the exchange's Deadline: the waits pump the window and end on an
// abort request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "common/Deadline.h"
#include "common/IpAddress.h"

namespace quovix::platform {

enum class ReachEnd {
  Reached,    // a connection (TCP) or an accepted reply (UDP)
  NoAddress,  // no address to try
  Failed,     // every attempt failed (Error holds the last errno)
  TimedOut,   // the deadline passed first
  Aborted,    // the user asked the running work to stop, or stop() said so
};

struct Reach {
  ReachEnd End = ReachEnd::NoAddress;
  int Fd = -1;           // TCP: the connected non-blocking socket; the caller closes it
  IpAddress Address;     // the address that answered
  std::size_t Attempt = 0;  // its place in AttemptOrder
  int Error = 0;         // errno of the last attempt that failed (0: none failed)
  std::string Reply;     // UDP: the datagram that was accepted
};

// The order the addresses are tried in: the resolver's first one first, then
// alternating between the families in the resolver's order within each
// (RFC 8305, section 4), each address once, at most kMaxAttempts of them.
constexpr std::size_t kMaxAttempts = 16;
std::vector<IpAddress> AttemptOrder(const std::vector<IpAddress>& addresses);

// How long an attempt runs alone before the next one starts: RFC 8305's
// 250 ms, less when the time left shared by the attempts still to come and
// this one would not leave each a fair part of it (at least 10 ms).
int AttemptDelayMs(int leftMs, std::size_t attemptsToCome);

// A TCP connection to port at one of the addresses (in AttemptOrder), within
// the deadline. stop, when given, is asked between wait slices (a worker
// whose caller gave up).
Reach ConnectTcp(const std::vector<IpAddress>& addresses, std::uint16_t port,
                 const Deadline& deadline, const std::function<bool()>& stop = {});

// A UDP exchange with port at one of the addresses: the attempts start as
// for ConnectTcp, each a connected datagram socket of its own (so only the
// peer asked can answer, and an unreachable port fails that attempt at once)
// that sends request(attempt) when it starts; the first datagram that
// accept(attempt, data) takes ends the exchange. Datagrams accept refuses are
// passed over while the attempts go on.
Reach ExchangeDatagram(const std::vector<IpAddress>& addresses, std::uint16_t port,
                       const Deadline& deadline,
                       const std::function<std::string(std::size_t attempt)>& request,
                       const std::function<bool(std::size_t attempt, const std::string& data)>& accept);

}  // namespace quovix::platform
