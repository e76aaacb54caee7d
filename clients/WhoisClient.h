// Whois exchange over TCP (one query line, the answer is everything the
// server sends until it closes), bounded by a time limit that covers the
// connection and the answer.
#pragma once

#include <cstddef>
#include <string>

namespace quovix {

// The InterNIC whois server: the server of the COM/NET/EDU rule, and the
// server whose answers list several referrals (one name for both uses; tests
// point it at a loopback address).
extern std::string WhoisInterNicServer;

// Longest answer kept; the rest of a longer answer is dropped.
constexpr std::size_t kWhoisMaxAnswer = 1024 * 1024;
// Most lines kept of one answer: each line costs far more to show than its
// bytes, so an answer of a million short lines must not become a million
// lines. Real answers have a few hundred.
constexpr std::size_t kWhoisMaxLines = 10000;

// How an exchange ended.
enum class TWhoisEnd {
  Complete,     // the server closed the connection after its answer
  TimeLimit,    // the time limit ended it (the answer holds what arrived)
  NotFound,     // the server's name has no address
  Refused,      // nobody accepts connections on the server's port
  Unreachable,  // no route to the server, or another connection failure
  Closed,       // the server closed or reset the connection without a word
  Aborted,      // the user asked the running work to stop
};

// Reports of one exchange besides its answer.
struct WhoisExchangeInfo {
  bool Truncated = false;  // the answer was longer than kWhoisMaxAnswer
  bool LinesCut = false;   // it had more than kWhoisMaxLines lines
  TWhoisEnd End = TWhoisEnd::Complete;
};

// Sends query + CR LF to server:port and returns the answer with normalised
// line ends, cleaned of comment lines and blank runs when format is set.
// The name look-up, the connection and the whole answer share limitMs
// however the server dribbles; what arrived by then is the answer, also
// from a server that never closes. A refused or failed connection ends the
// exchange at once. Empty when nothing arrived; info tells why.
std::string WhoisQuery(const std::string& query, const std::string& server, int limitMs,
                       bool format, int port, WhoisExchangeInfo* info = nullptr);

// Line-end normalising and the format cleaning of an answer (steps shared by
// every exchange; exposed for tests).
std::string WhoisNormaliseLineEnds(const std::string& answer);
std::string WhoisCleanFormat(const std::string& answer);

}  // namespace quovix
