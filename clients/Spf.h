// Sender Policy Framework: check_host() as a receiving mail server evaluates
// it, over a small DNS seam so that the logic can be driven by tables. The
// evaluation also keeps the tree it walked (every record with its terms and
// the look-ups counted as it went), and walks on past the decision and past
// the look-up limit so that the whole tree can be shown.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/IpAddress.h"

namespace quovix::spf {

enum class Result { None, Neutral, Pass, Fail, SoftFail, TempError, PermError };
// "none", "neutral", "pass", "fail", "softfail", "temperror", "permerror".
const char* ResultName(Result r);

// ---- The DNS seam.
enum class DnsStatus {
  Ok,      // an answer (it may hold no records: no data)
  NoName,  // the name does not exist
  Failed,  // no usable answer: a server failure, no reply in time
};
struct DnsAnswer {
  DnsStatus Status = DnsStatus::Ok;
  // TXT: each record's strings joined; A and AAAA: the address as text; MX:
  // the exchanges in the order of the reply; PTR: the names.
  std::vector<std::string> Values;
};
class IDns {
 public:
  virtual ~IDns() = default;
  virtual DnsAnswer Query(const std::string& name, std::uint16_t type) = 0;
};
constexpr std::uint16_t kA = 1, kPtr = 12, kMx = 15, kTxt = 16, kAaaa = 28;

// Who is asking: the client's address (empty: no evaluation, the tree is
// walked for its counts and syntax only), the sender's address, the HELO
// name, the domain whose record is checked.
struct Identity {
  IpAddress Ip;
  std::string Sender;  // local-part@domain; "postmaster@<Domain>" when empty
  std::string Helo;
  std::string Domain;
  std::string Receiver = "unknown";  // %{r}
  std::int64_t Now = 0;              // %{t}, seconds since 1970
};

// ---- Macro expansion.
struct MacroContext {
  const Identity* Who = nullptr;
  std::string Domain;           // %{d}: the domain of the check_host() in progress
  bool Explanation = false;     // %{c}, %{r}, %{t} allowed (explanation text)
  std::string ValidatedName = "unknown";  // %{p}
};
// Expands text as a macro-string; false (and why in error) for a syntax
// error. A letter that needs the client's address while there is none
// leaves unresolved set and expands to nothing.
bool ExpandMacros(std::string_view text, const MacroContext& context, std::string& out,
                  std::string* error = nullptr, bool* unresolved = nullptr);

// ---- The record.
enum class TermKind { All, Include, A, Mx, Ptr, Ip4, Ip6, Exists, Redirect, Exp, Modifier };
struct Term {
  std::string Text;      // as written
  char Qualifier = '+';  // + - ~ ?
  TermKind Kind = TermKind::All;
  std::string Arg;      // the domain argument (or the network of ip4/ip6); empty: none given
  int Cidr4 = 32, Cidr6 = 128;
  IpAddress Network;     // ip4, ip6
  bool CausesLookup() const;
};
struct ParsedRecord {
  std::vector<Term> Terms;
  std::string Error;  // the first syntax error (empty: none); Terms then holds what came before
  std::string ErrorTerm;
};
// Parses a record's text ("v=spf1 …").
ParsedRecord ParseRecord(std::string_view record);
// Whether a TXT string is an SPF record: "v=spf1" alone or followed by a blank.
bool IsSpfRecord(std::string_view text);

// ---- The evaluation and its tree.
enum class TermState {
  Walked,   // only walked (no address, or after the decision)
  NoMatch,
  Match,    // it decided the record's result
  Error,    // it ended the evaluation with an error
};
struct ShownTerm {
  std::string Text;
  int Lookup = 0;          // its number among the look-up terms (0: causes none)
  bool PastLimit = false;  // beyond the limit of look-up terms
  bool Void = false;       // its look-up found nothing
  TermState State = TermState::Walked;
  std::string Note;        // the error, or a remark (loop, unresolved macro…)
  int Child = -1;          // the record it leads to (include, redirect), an index of the tree
};
struct ShownRecord {
  std::string Domain;
  int Depth = 0;
  std::string Text;     // the record (empty: none found)
  std::string Problem;  // why it has no usable record: a reason code (see Evaluation::Reason)
  std::string ErrorTerm;  // the term of a syntax error
  std::vector<ShownTerm> Terms;
};
struct Evaluation {
  bool Evaluated = false;  // a client address was given
  Result Outcome = Result::None;
  std::string Term;        // the term that decided (empty: the default)
  // Why a none, temperror or permerror came: limit, void_limit, mx_names,
  // several, syntax, dns, include_none, redirect_none, loop, bound, bad_name,
  // no_record, no_domain, bad_domain. Term notes use these and unresolved,
  // ignored.
  std::string Reason;
  std::string Explanation; // the domain's explanation of a fail
  int Lookups = 0;         // look-up terms of the whole tree walked
  int VoidLookups = 0;
  bool Truncated = false;  // the walk stopped at a bound (depth, queries, time)
  std::vector<ShownRecord> Tree;  // depth first, in the order walked
};
struct Limits {
  int Lookups = 10;
  int VoidLookups = 2;
  int MxNames = 10;
  int PtrNames = 10;
  int MaxDepth = 12;     // nesting of include and redirect
  int MaxQueries = 80;   // DNS queries of one evaluation, the walk included
  int MaxRecords = 60;   // records shown
  int TimeMs = 20000;    // the whole evaluation
};

Evaluation CheckHost(IDns& dns, const Identity& who, const Limits& limits = {});

}  // namespace quovix::spf
