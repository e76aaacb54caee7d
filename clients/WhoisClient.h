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

// Reports of one exchange besides its answer.
struct WhoisExchangeInfo {
  bool Truncated = false;  // the answer was longer than kWhoisMaxAnswer
};

// Sends query + CR LF to server:port and returns the answer with normalised
// line ends, cleaned of comment lines and blank runs when format is set.
// Empty when nothing complete arrived within limitMs, the exchange failed or
// the server sent nothing.
std::string WhoisQuery(const std::string& query, const std::string& server, int limitMs,
                       bool format, int port, WhoisExchangeInfo* info = nullptr);

// Line-end normalising and the format cleaning of an answer (steps shared by
// every exchange; exposed for tests).
std::string WhoisNormaliseLineEnds(const std::string& answer);
std::string WhoisCleanFormat(const std::string& answer);

}  // namespace quovix
