// DMARC policy discovery and check: the record at _dmarc.<domain>, else at
// the organizational domain; its tags read and checked; for every report
// address outside the domain the destination's authorization record asked
// for, since without it the destination drops the reports.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "clients/Spf.h"

namespace quovix::dmarc {

struct Problem {
  // version (v=DMARC1 not first), policy (p missing or not none, quarantine,
  // reject), sp, pct, adkim, aspf, fo, ri, rf (bad values), uri (a report
  // address that is no mailto URI), duplicate (a tag twice), syntax (a part
  // that is no tag=value), unknown (a tag DMARC does not define).
  std::string Code;
  std::string Detail;  // the tag or value concerned
};

// A report address of rua or ruf.
struct ReportUri {
  std::string Tag;      // "rua" or "ruf"
  std::string Uri;      // as written
  std::string Address;  // the mail address of a mailto URI
  std::string Domain;   // its domain, lower case
  bool External = false;      // outside the organizational domain of the policy
  bool Authorized = false;    // the destination's authorization record was found
  bool AuthUnknown = false;   // the look-up failed: neither found nor missing
  std::string AuthName;       // <domain>._report._dmarc.<destination>
};

struct Record {
  std::string Text;
  std::vector<std::pair<std::string, std::string>> Tags;  // in the order written
  std::string Policy, SubdomainPolicy;  // SubdomainPolicy: p's value when sp is absent
  int Pct = 100;
  std::string Adkim = "r", Aspf = "r", Fo = "0";
  long long Ri = 86400;
  std::vector<ReportUri> Uris;
  std::vector<Problem> Problems;
  // Usable as a policy: v=DMARC1 first and a valid p (or none given with a
  // valid rua, which reads as p=none).
  bool Valid = false;
};

// Whether a TXT string is a DMARC record ("v=DMARC1" as its first tag).
bool IsDmarcRecord(std::string_view text);
Record ParseRecord(std::string_view text);

struct Discovery {
  std::string Domain;         // the domain asked about
  std::string Organizational; // its organizational domain
  std::string FoundAt;        // the name the record was found at (empty: none)
  bool Several = false;       // more than one DMARC record at a name asked
  bool DnsFailed = false;     // a look-up failed, the answer is not known
  Record Policy;
};

// Asks _dmarc.<domain>, then _dmarc.<organizational> when that differs and
// the first holds no record; then the authorization record of each external
// report address (at most 8 look-ups of those).
Discovery Discover(spf::IDns& dns, const std::string& domain, const std::string& organizational);

}  // namespace quovix::dmarc
