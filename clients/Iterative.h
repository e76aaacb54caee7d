// Resolution of a name from the root servers down, as a resolver does it:
// each server asked without recursion, its referral followed to the servers
// of the next zone (their glue, or their names resolved on the way), until a
// server answers for the name with authority. Every step is kept for the
// display, every fault named: a lame server (no answer, or no authority),
// NS sets that differ between parent and child, a referral loop. Bounded by
// referrals, queries and one deadline for the whole walk.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "clients/DnsClient.h"

namespace quovix {

struct TIterServer {
  std::string Name;
  std::vector<std::string> Addresses;  // IPv4 first, then IPv6
};

// The root hints (dns-root-data's root.hints, a zone file of NS, A and AAAA
// records): the root's servers with their addresses. At most 64 KiB read.
std::vector<TIterServer> ParseRootHints(const std::string& text);

// What one query of the walk got.
struct TIterReply {
  bool Answered = false;
  std::uint16_t Flags = 0;
  int Rcode = 0;
  TQueryResult Result;  // the records (a NOERROR reply)
  std::string Failure;  // why there is no reply, as the user reads it
  double Ms = 0;
};
// Asks the server at address (without recursion) for name and type.
using TIterAsk =
    std::function<TIterReply(const std::string& address, const std::string& name, std::uint16_t type)>;

enum class TIterStepKind {
  Referral,   // Detail: the zone referred to; Servers, Glue
  Answer,     // Records
  NoData,     // the name has no records of the type
  NameError,  // the name does not exist
  Lame,       // Detail: why (no answer, not authoritative, a referral upward)
  Resolved,   // a server's name resolved on the way: Servers[0], Glue: its addresses
  Unresolved, // a server's name without address
  NsDiffer,   // Servers: the parent's NS set, Glue: the child's
};

struct TIterStep {
  TIterStepKind Kind = TIterStepKind::Lame;
  std::string Zone;     // the zone whose server was asked
  std::string Server;   // its name
  std::string Address;  // the address asked
  std::string Detail;
  std::vector<std::string> Servers;
  std::vector<std::string> Glue;     // "name address"
  std::vector<std::string> Records;  // "name TTL TYPE value"
  double Ms = 0;
  int Depth = 0;  // 1 and more: inside the resolution of a server's name
};

enum class TIterEnd {
  Answer,
  NoData,
  NameError,
  NoServer,        // no server of a zone answered usefully (Detail: the zone)
  Loop,            // Detail: the zone or name met again
  TooManyReferrals,
  TooManyQueries,
  Deadline,
  NoHints,
};

struct TIterResult {
  std::vector<TIterStep> Steps;
  TIterEnd End = TIterEnd::NoServer;
  std::string Detail;
  int Queries = 0, Referrals = 0;
};

struct TIterLimits {
  int MaxReferrals = 30;
  int MaxQueries = 100;
  int DeadlineMs = 30000;
};

TIterResult ResolveFromRoot(const std::string& name, std::uint16_t type,
                            const std::vector<TIterServer>& hints, const TIterAsk& ask,
                            const TIterLimits& limits = {});

}  // namespace quovix
