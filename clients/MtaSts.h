// The transport policies a mail domain publishes for the servers that send
// to it: MTA-STS (the TXT record at _mta-sts.<domain> and the policy file
// served at https://mta-sts.<domain>/.well-known/mta-sts.txt, which says
// which exchangers are genuine and whether TLS to them is mandatory) and
// TLS reporting (the TXT record at _smtp._tls.<domain>, where the senders
// report failed TLS sessions). Parsed from untrusted text: every count and
// length is capped.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quovix::sts {

// The most a sender reads of a policy file.
constexpr std::size_t kMaxPolicyBytes = 64 * 1024;
constexpr std::size_t kMaxPolicyLines = 1000;
constexpr std::size_t kMaxPolicyLineLength = 1000;
constexpr std::size_t kMaxMxPatterns = 100;
constexpr long long kMaxMaxAge = 31557600;  // one year in seconds
constexpr std::size_t kMaxReportDestinations = 16;

// What the TXT records at one name amount to.
enum class TxtState {
  None,       // no record of the kind (others are ignored)
  Valid,      // exactly one, well-formed
  Several,    // more than one: none applies
  Malformed,  // one, but broken (Problem says how)
};

struct Problem {
  // TXT records: version (the version tag is not first or not exact), id
  // (missing or not 1-32 letters and digits), rua (missing), scheme (a
  // destination neither mailto: nor https:), syntax (a part that is no
  // tag=value), duplicate (a tag twice).
  // Policies: lines (more than kMaxPolicyLines; the rest is not read),
  // line_length (a line longer than kMaxPolicyLineLength), syntax (a line
  // without "key:"), duplicate (version, mode or max_age twice), version,
  // mode, max_age (missing or a bad value), mx (a pattern that is no host
  // name), no_mx (none in mode enforce or testing), mx_count (more than
  // kMaxMxPatterns).
  std::string Code;
  std::string Detail;  // the value or line concerned, as written
};

// The record at _mta-sts.<domain>: "v=STSv1; id=20240101T000000".
struct StsRecord {
  TxtState State = TxtState::None;
  std::string Text;  // the record (Valid, Malformed)
  std::string Id;
  Problem Fault;     // Malformed
};
// From the TXT strings at that name (each record's strings joined).
StsRecord ReadStsRecords(const std::vector<std::string>& txts);

// The record at _smtp._tls.<domain>: "v=TLSRPTv1; rua=mailto:…,https://…".
struct TlsRptRecord {
  TxtState State = TxtState::None;
  std::string Text;
  std::vector<std::string> Rua;  // the report destinations, in order
  Problem Fault;
};
TlsRptRecord ReadTlsRptRecords(const std::vector<std::string>& txts);

// A policy file. A policy with problems is invalid: senders act as if the
// domain had none.
struct Policy {
  std::string Version, Mode;      // as written; empty when missing
  std::vector<std::string> Mx;    // the well-formed patterns, in order
  long long MaxAge = -1;          // seconds; -1 when missing or bad
  std::vector<std::string> Ignored;  // keys the standard does not define, ignored by senders
  std::vector<Problem> Problems;
  bool Valid() const { return Problems.empty(); }
};
// Lines end in CR LF or LF; keys are case-sensitive, blanks after the ":"
// and at the end of a line do not count.
Policy ParsePolicy(std::string_view text);

// Whether an exchanger's name is covered by a policy's mx pattern: case does
// not matter, a trailing dot neither; "*.example.com" stands for exactly
// one label before example.com.
bool MxMatches(std::string_view pattern, std::string_view host);
// The index of the first pattern that covers host; -1 when none does.
int MatchingPattern(const std::vector<std::string>& patterns, std::string_view host);

}  // namespace quovix::sts
