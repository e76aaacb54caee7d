#include "clients/MtaSts.h"

#include <algorithm>
#include <cctype>

#include "clients/TagList.h"
#include "common/fMain.h"

namespace quovix::sts {

namespace {

constexpr std::size_t kMaxTags = 32;
constexpr std::size_t kMaxIdLength = 32;
constexpr std::size_t kMaxNameLength = 253;

bool IsWsp(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimWsp(std::string_view s) {
  while (!s.empty() && IsWsp(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsWsp(s.back())) s.remove_suffix(1);
  return s;
}

bool IsAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// The version tag opens the record, exactly as the standards spell it, and
// is followed by a separator or nothing.
bool OpensWith(std::string_view text, std::string_view version) {
  if (text.substr(0, version.size()) != version) return false;
  const std::string_view rest = TrimWsp(text.substr(version.size()));
  return rest.empty() || rest.front() == ';';
}

// A record of the kind that is broken at its start: a version tag of
// another spelling, or none at all but a tag only this kind has.
bool LooksLike(std::string_view text, std::string_view versionPrefix, std::string_view ownTag) {
  for (const TTagPart& p : SplitTagList(text, kMaxTags)) {
    if (p.Name == "v" && LowerAscii(p.Value.substr(0, versionPrefix.size())) == versionPrefix) return true;
    if (p.Name == ownTag) return true;
  }
  return false;
}

// The record of one kind among the TXT records at its name: those not
// opening with the version are discarded, and exactly one must remain.
// read fills the values of that one and returns its fault (an empty code:
// none).
template <class Record, class Read>
Record Pick(const std::vector<std::string>& txts, std::string_view version, std::string_view versionPrefix,
            std::string_view ownTag, Read read) {
  Record r;
  const std::string* found = nullptr;
  const std::string* lookalike = nullptr;
  int count = 0;
  for (const std::string& t : txts) {
    if (OpensWith(t, version)) {
      ++count;
      found = &t;
    } else if (!lookalike && LooksLike(t, versionPrefix, ownTag)) {
      lookalike = &t;
    }
  }
  if (count > 1) {
    r.State = TxtState::Several;
    return r;
  }
  if (count == 0) {
    if (!lookalike) return r;
    r.State = TxtState::Malformed;
    r.Text = *lookalike;
    r.Fault = {"version", std::string(version)};
    return r;
  }
  r.Text = *found;
  bool truncated = false;
  const std::vector<TTagPart> parts = SplitTagList(*found, kMaxTags, &truncated);
  std::vector<std::string> seen;
  for (std::size_t i = 1; i < parts.size() && r.Fault.Code.empty(); ++i) {
    const TTagPart& p = parts[i];
    if (!p.HasValue || p.Name.empty())
      r.Fault = {"syntax", p.Text};
    else if (std::find(seen.begin(), seen.end(), p.Name) != seen.end())
      r.Fault = {"duplicate", p.Name};
    else
      seen.push_back(p.Name);
  }
  if (r.Fault.Code.empty() && truncated) r.Fault = {"syntax", parts.back().Text};
  if (r.Fault.Code.empty()) r.Fault = read(parts, r);
  r.State = r.Fault.Code.empty() ? TxtState::Valid : TxtState::Malformed;
  return r;
}

const TTagPart* Tag(const std::vector<TTagPart>& parts, std::string_view name) {
  for (const TTagPart& p : parts)
    if (p.Name == name) return &p;
  return nullptr;
}

// A host name as a policy's mx pattern may give it: labels of letters,
// digits, "-" and "_", the first of them "*" for a wildcard.
bool IsPattern(std::string_view s) {
  if (s.substr(0, 2) == "*.") s.remove_prefix(2);
  if (!s.empty() && s.back() == '.') s.remove_suffix(1);
  if (s.empty() || s.size() > kMaxNameLength) return false;
  std::size_t label = 0;
  for (char c : s) {
    if (c == '.') {
      if (label == 0) return false;
      label = 0;
    } else if (IsAlnum(c) || c == '-' || c == '_') {
      if (++label > 63) return false;
    } else {
      return false;
    }
  }
  return label > 0;
}

std::string Normalized(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return LowerAscii(std::string(name));
}

}  // namespace

StsRecord ReadStsRecords(const std::vector<std::string>& txts) {
  return Pick<StsRecord>(txts, "v=STSv1", "sts", "id", [](const std::vector<TTagPart>& parts, StsRecord& r) {
    const TTagPart* id = Tag(parts, "id");
    if (!id) return Problem{"id", ""};
    if (id->Value.empty() || id->Value.size() > kMaxIdLength ||
        !std::all_of(id->Value.begin(), id->Value.end(), IsAlnum))
      return Problem{"id", id->Value};
    r.Id = id->Value;
    return Problem{};
  });
}

TlsRptRecord ReadTlsRptRecords(const std::vector<std::string>& txts) {
  return Pick<TlsRptRecord>(
      txts, "v=TLSRPTv1", "tlsrpt", "rua", [](const std::vector<TTagPart>& parts, TlsRptRecord& r) {
        const TTagPart* rua = Tag(parts, "rua");
        if (!rua || rua->Value.empty()) return Problem{"rua", ""};
        std::string_view rest = rua->Value;
        for (bool more = true; more;) {
          const std::size_t comma = rest.find(',');
          const std::string_view uri = TrimWsp(rest.substr(0, comma));
          more = comma != std::string_view::npos;
          if (more) rest.remove_prefix(comma + 1);
          const std::string scheme = LowerAscii(std::string(uri.substr(0, uri.find(':') + 1)));
          const bool mailto = scheme == "mailto:" && uri.size() > 7 && uri.find('@') != std::string_view::npos;
          const bool https = scheme == "https:" && uri.size() > 6;
          if (!mailto && !https) return Problem{"scheme", std::string(uri)};
          if (r.Rua.size() >= kMaxReportDestinations) return Problem{"rua", std::string(uri)};
          r.Rua.emplace_back(uri);
        }
        return Problem{};
      });
}

Policy ParsePolicy(std::string_view text) {
  Policy p;
  bool versionSeen = false, modeSeen = false, maxAgeSeen = false, mxCut = false;
  std::size_t lines = 0;
  while (!text.empty()) {
    const std::size_t lf = text.find('\n');
    std::string_view line = text.substr(0, lf);
    text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (++lines > kMaxPolicyLines) {
      p.Problems.push_back({"lines", std::to_string(kMaxPolicyLines)});
      break;
    }
    if (line.size() > kMaxPolicyLineLength) {
      p.Problems.push_back({"line_length", std::string(line.substr(0, 40))});
      continue;
    }
    line = TrimWsp(line);
    if (line.empty()) continue;
    const std::size_t colon = line.find(':');
    const std::string_view key = colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
    if (key.empty() || !std::all_of(key.begin(), key.end(), [](char c) {
          return IsAlnum(c) || c == '_' || c == '-' || c == '.';
        })) {
      p.Problems.push_back({"syntax", std::string(line)});
      continue;
    }
    const std::string value(TrimWsp(line.substr(colon + 1)));
    // The first of a key counts; a second one is named.
    auto once = [&](bool& seen) {
      if (seen) p.Problems.push_back({"duplicate", std::string(key)});
      const bool first = !seen;
      seen = true;
      return first;
    };
    if (key == "version") {
      if (!once(versionSeen)) continue;
      p.Version = value;
      if (value != "STSv1") p.Problems.push_back({"version", value});
    } else if (key == "mode") {
      if (!once(modeSeen)) continue;
      p.Mode = value;
      if (value != "enforce" && value != "testing" && value != "none") p.Problems.push_back({"mode", value});
    } else if (key == "max_age") {
      if (!once(maxAgeSeen)) continue;
      const bool digits = !value.empty() && value.size() <= 10 &&
                          std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
      const long long age = digits ? std::stoll(value) : -1;
      if (age < 0 || age > kMaxMaxAge)
        p.Problems.push_back({"max_age", value});
      else
        p.MaxAge = age;
    } else if (key == "mx") {
      if (!IsPattern(value)) {
        p.Problems.push_back({"mx", value});
      } else if (p.Mx.size() >= kMaxMxPatterns) {
        if (!mxCut) p.Problems.push_back({"mx_count", std::to_string(kMaxMxPatterns)});
        mxCut = true;
      } else {
        p.Mx.push_back(value);
      }
    } else if (p.Ignored.size() < kMaxMxPatterns) {
      p.Ignored.emplace_back(key);
    }
  }
  if (!versionSeen) p.Problems.push_back({"version", ""});
  if (!modeSeen) p.Problems.push_back({"mode", ""});
  if (!maxAgeSeen) p.Problems.push_back({"max_age", ""});
  if ((p.Mode == "enforce" || p.Mode == "testing") && p.Mx.empty()) p.Problems.push_back({"no_mx", p.Mode});
  return p;
}

bool MxMatches(std::string_view pattern, std::string_view host) {
  const std::string pat = Normalized(pattern), name = Normalized(host);
  if (pat.empty() || name.empty()) return false;
  if (pat.rfind("*.", 0) != 0) return pat == name;
  const std::string suffix = pat.substr(1);  // ".example.com"
  if (name.size() <= suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
    return false;
  return name.find('.') == name.size() - suffix.size();
}

int MatchingPattern(const std::vector<std::string>& patterns, std::string_view host) {
  for (std::size_t i = 0; i < patterns.size(); ++i)
    if (MxMatches(patterns[i], host)) return static_cast<int>(i);
  return -1;
}

}  // namespace quovix::sts
