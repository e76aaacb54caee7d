#include "clients/Dmarc.h"

#include "clients/TagList.h"

#include <algorithm>
#include <cctype>

namespace quovix::dmarc {

namespace {

constexpr std::size_t kMaxTags = 64;
constexpr std::size_t kMaxUris = 16;
constexpr int kMaxAuthLookups = 8;

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view TrimWsp(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool AllDigits(std::string_view s) {
  return !s.empty() && s.size() <= 10 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsPolicy(const std::string& v) { return v == "none" || v == "quarantine" || v == "reject"; }

bool Within(const std::string& name, const std::string& domain) {
  return name == domain ||
         (name.size() > domain.size() && name.compare(name.size() - domain.size(), domain.size(), domain) == 0 &&
          name[name.size() - domain.size() - 1] == '.');
}

// "mailto:addr[!size]" → the address; empty for anything else.
std::string MailtoAddress(std::string_view uri) {
  uri = TrimWsp(uri);
  if (uri.size() < 8 || Lower(uri.substr(0, 7)) != "mailto:") return {};
  std::string_view addr = uri.substr(7);
  if (const std::size_t bang = addr.find('!'); bang != std::string_view::npos) {
    const std::string_view size = addr.substr(bang + 1);
    std::string_view digits = size;
    if (!digits.empty() && std::string_view("kmgtKMGT").find(digits.back()) != std::string_view::npos)
      digits.remove_suffix(1);
    if (!AllDigits(digits)) return {};
    addr = addr.substr(0, bang);
  }
  const std::size_t at = addr.rfind('@');
  if (at == 0 || at == std::string_view::npos || at + 1 >= addr.size()) return {};
  for (char c : addr)
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) return {};
  return std::string(addr);
}

}  // namespace

bool IsDmarcRecord(std::string_view text) {
  text = TrimWsp(text);
  if (text.size() < 8 || text.substr(0, 2) != "v=") return false;
  const std::size_t semi = text.find(';');
  return TrimWsp(text.substr(2, semi == std::string_view::npos ? std::string_view::npos : semi - 2)) == "DMARC1";
}

Record ParseRecord(std::string_view text) {
  Record r;
  r.Text = std::string(text);
  bool first = true, hasP = false, truncated = false;
  for (const TTagPart& tag : SplitTagList(text, kMaxTags, &truncated)) {
    const std::string& part = tag.Text;
    if (!tag.HasValue) {
      r.Problems.push_back({"syntax", part});
      first = false;
      continue;
    }
    const std::string& name = tag.Name;
    const std::string& value = tag.Value;
    if (std::any_of(r.Tags.begin(), r.Tags.end(), [&](const auto& t) { return t.first == name; }))
      r.Problems.push_back({"duplicate", name});
    r.Tags.emplace_back(name, value);
    const std::string v = Lower(value);
    if (first) {
      first = false;
      if (name != "v" || value != "DMARC1") r.Problems.push_back({"version", part});
      if (name == "v") continue;
    }
    if (name == "v") {
      r.Problems.push_back({"version", part});
    } else if (name == "p") {
      hasP = true;
      if (IsPolicy(v)) r.Policy = v;
      else r.Problems.push_back({"policy", value});
    } else if (name == "sp") {
      if (IsPolicy(v)) r.SubdomainPolicy = v;
      else r.Problems.push_back({"sp", value});
    } else if (name == "pct") {
      if (AllDigits(v) && std::stoll(v) <= 100) r.Pct = static_cast<int>(std::stoll(v));
      else r.Problems.push_back({"pct", value});
    } else if (name == "adkim" || name == "aspf") {
      if (v == "r" || v == "s") (name == "adkim" ? r.Adkim : r.Aspf) = v;
      else r.Problems.push_back({name, value});
    } else if (name == "fo") {
      bool ok = !v.empty();
      std::size_t start = 0;
      while (ok && start <= v.size()) {
        std::size_t colon = v.find(':', start);
        if (colon == std::string::npos) colon = v.size();
        const std::string opt = std::string(TrimWsp(std::string_view(v).substr(start, colon - start)));
        ok = opt == "0" || opt == "1" || opt == "d" || opt == "s";
        start = colon + 1;
      }
      if (ok) r.Fo = v;
      else r.Problems.push_back({"fo", value});
    } else if (name == "ri") {
      if (AllDigits(v) && std::stoll(v) <= 4294967295LL) r.Ri = std::stoll(v);
      else r.Problems.push_back({"ri", value});
    } else if (name == "rf") {
      if (v != "afrf") r.Problems.push_back({"rf", value});
    } else if (name == "rua" || name == "ruf") {
      std::size_t start = 0;
      while (start <= value.size() && r.Uris.size() < kMaxUris) {
        std::size_t comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        const std::string uri(TrimWsp(std::string_view(value).substr(start, comma - start)));
        start = comma + 1;
        ReportUri u;
        u.Tag = name;
        u.Uri = uri;
        u.Address = MailtoAddress(uri);
        if (u.Address.empty()) {
          r.Problems.push_back({"uri", uri});
          continue;
        }
        u.Domain = Lower(u.Address.substr(u.Address.rfind('@') + 1));
        r.Uris.push_back(std::move(u));
      }
    } else {
      r.Problems.push_back({"unknown", name});
    }
  }
  if (truncated) r.Problems.push_back({"syntax", "…"});
  const bool versionOk = std::none_of(r.Problems.begin(), r.Problems.end(),
                                      [](const Problem& p) { return p.Code == "version"; });
  // Without p a record with a valid rua reads as p=none.
  if (!hasP) {
    const bool rua = std::any_of(r.Uris.begin(), r.Uris.end(), [](const ReportUri& u) { return u.Tag == "rua"; });
    if (rua) r.Policy = "none";
    else r.Problems.push_back({"policy", ""});
  }
  if (r.SubdomainPolicy.empty()) r.SubdomainPolicy = r.Policy;
  r.Valid = versionOk && !r.Policy.empty();
  return r;
}

Discovery Discover(spf::IDns& dns, const std::string& domain, const std::string& organizational) {
  Discovery d;
  d.Domain = Lower(domain);
  d.Organizational = organizational.empty() ? d.Domain : Lower(organizational);
  std::string policyDomain;
  std::vector<std::string> candidates{d.Domain};
  if (d.Organizational != d.Domain) candidates.push_back(d.Organizational);
  for (const std::string& at : candidates) {
    const std::string name = "_dmarc." + at;
    const spf::DnsAnswer a = dns.Query(name, spf::kTxt);
    if (a.Status == spf::DnsStatus::Failed) {
      d.DnsFailed = true;
      return d;
    }
    std::vector<std::string> found;
    for (const std::string& t : a.Values)
      if (IsDmarcRecord(t)) found.push_back(t);
    if (found.empty()) continue;
    d.FoundAt = name;
    policyDomain = at;
    if (found.size() > 1) {
      d.Several = true;
      return d;
    }
    d.Policy = ParseRecord(found.front());
    break;
  }
  if (policyDomain.empty()) return d;
  int lookups = 0;
  for (ReportUri& u : d.Policy.Uris) {
    u.External = !Within(u.Domain, d.Organizational);
    if (!u.External) continue;
    u.AuthName = policyDomain + "._report._dmarc." + u.Domain;
    if (++lookups > kMaxAuthLookups) {
      u.AuthUnknown = true;
      continue;
    }
    const spf::DnsAnswer a = dns.Query(u.AuthName, spf::kTxt);
    if (a.Status == spf::DnsStatus::Failed) {
      u.AuthUnknown = true;
      continue;
    }
    u.Authorized = std::any_of(a.Values.begin(), a.Values.end(), [](const std::string& t) { return IsDmarcRecord(t); });
  }
  return d;
}

}  // namespace quovix::dmarc
