// The DNSSEC chain of trust of a name, walked from the root's trust anchor
// down: for each zone cut the DS records at the parent, the zone's DNSKEY set
// and the signatures over both, then the signatures over the answer. The
// queries go through a function of the caller (the DNS tool asks its
// configured server with DO and CD set); canonical forms, digests and
// signature checks are ldns's.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "clients/DnsClient.h"

namespace quovix {

// What one query of the walk got: the reply's code and the records of its
// answer and authority sections, each in uncompressed wire form (as the DNS
// client's RecordWire gives them), or no reply and why.
struct TChainReply {
  bool Answered = false;
  int Rcode = 0;
  std::vector<std::string> Answer, Authority;
  std::string Failure;  // why there is no reply, as the user reads it
};
using TChainAsk = std::function<TChainReply(const std::string& name, std::uint16_t type)>;

enum class TChainVerdict { Secure, Insecure, Bogus, Indeterminate };

// What is wrong with a link (None: it holds).
enum class TChainFault {
  None,
  NoAnchor,        // no usable trust anchor
  NoAnswer,        // a query got no usable reply (Detail: why)
  NoDnskey,        // the zone has no DNSKEY set
  DsNoKey,         // no DNSKEY matches a DS digest
  NoSignature,     // no signature by a trusted key
  SigExpired,
  SigNotYetValid,
  SigInvalid,      // the signature does not verify
  Deprecated,      // only deprecated algorithms (Detail: the algorithm)
  Unsupported,     // only algorithms no check exists for (Detail: the algorithm)
  NoDsProof,       // no DS and no NSEC/NSEC3 proof of its absence
  NameMissing,     // the name does not exist (and the proof of it does not hold)
  TooManyQueries,  // the walk hit its query bound
};

struct TChainKey {
  std::uint16_t KeyTag = 0, Flags = 0;
  std::uint8_t Algorithm = 0;
  std::size_t Bits = 0;
  bool MatchesDs = false;  // a DS (or the trust anchor) names it
};

struct TChainDs {
  std::uint16_t KeyTag = 0;
  std::uint8_t Algorithm = 0, DigestType = 0;
  bool Matches = false;  // a DNSKEY of the zone has this digest
};

struct TChainSig {
  std::uint16_t Covered = 0;  // the type it signs
  std::string Signer;
  std::uint16_t KeyTag = 0;
  std::uint8_t Algorithm = 0;
  std::int64_t Inception = 0, Expiration = 0;  // Unix seconds
  TChainFault State = TChainFault::None;       // None: verified
};

// One zone of the chain. The DS records are those of the parent (the trust
// anchor's for the root); an unsigned delegation has no DNSKEY set checked,
// but the proof that no DS exists.
struct TChainZone {
  std::string Zone;  // "." for the root
  bool FromAnchor = false;
  std::vector<TChainDs> Ds;
  std::vector<TChainSig> DsSigs;
  std::vector<TChainKey> Keys;
  std::vector<TChainSig> KeySigs;
  bool Unsigned = false;
  std::string Proof;  // the NSEC/NSEC3 record that proves the missing DS
  TChainFault Fault = TChainFault::None;
  std::string Detail;
};

// The answer at the end of the chain: its records, or the proof that there
// are none.
struct TChainAnswer {
  bool Asked = false;
  std::string Name;
  std::uint16_t Type = 0;
  int Rcode = 0;
  std::vector<std::string> Records;  // presentation form
  std::string Proof;                 // for an empty answer: the denial record
  std::vector<TChainSig> Sigs;
  TChainFault Fault = TChainFault::None;
  std::string Detail;
};

struct TChainResult {
  TChainVerdict Verdict = TChainVerdict::Indeterminate;
  TChainFault Fault = TChainFault::None;
  std::string Detail;
  std::string AtZone;  // where the chain broke or ends unsigned
  std::vector<TChainZone> Zones;
  TChainAnswer Answer;
  int Queries = 0;
};

// The root's trust anchor records (DNSKEY or DS lines of the root in
// presentation form, as dns-root-data ships them); other lines are skipped.
// At most the first 64 KiB are read.
struct TTrustAnchor {
  std::vector<std::string> Records;  // presentation form, as read
  bool Empty() const { return Records.empty(); }
};
TTrustAnchor ParseTrustAnchor(const std::string& text);

// The walk for name with the root's anchor, asking with ask, checking
// signatures at the time now (Unix seconds). At most maxQueries queries.
TChainResult WalkChain(const std::string& name, const TTrustAnchor& anchor, const TChainAsk& ask,
                       std::int64_t now, int maxQueries = 60);

// The algorithm's mnemonic, "RSA/SHA-1" style for the deprecated ones.
std::string AlgorithmName(std::uint8_t algorithm);
// Whether the algorithm is one that is no longer to be used for signing.
bool AlgorithmDeprecated(std::uint8_t algorithm);

}  // namespace quovix
