// check_host() of the Sender Policy Framework with the tree it walks. Every
// limit a receiving server applies is applied here too; the walk that goes on
// after the decision (to show the rest of the tree) has bounds of its own:
// nesting depth, the number of DNS queries, the number of records and one
// deadline for the whole evaluation.
#include "clients/Spf.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <optional>

#include "common/Deadline.h"

namespace quovix::spf {

const char* ResultName(Result r) {
  switch (r) {
    case Result::None: return "none";
    case Result::Neutral: return "neutral";
    case Result::Pass: return "pass";
    case Result::Fail: return "fail";
    case Result::SoftFail: return "softfail";
    case Result::TempError: return "temperror";
    case Result::PermError: return "permerror";
  }
  return "none";
}

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
std::string LowerText(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}
bool IsAlpha(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return IsAlpha(c) || IsDigit(c); }
bool IsDelimiter(char c) {
  return c == '.' || c == '-' || c == '+' || c == ',' || c == '/' || c == '_' || c == '=';
}
const char kHex[] = "0123456789abcdef";

// Unreserved characters stay, everything else becomes %XX (upper-case macro
// letters ask for this).
std::string UrlEscape(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    if (IsAlnum(static_cast<char>(c)) || c == '-' || c == '.' || c == '_' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += static_cast<char>(std::toupper(kHex[c >> 4]));
      out += static_cast<char>(std::toupper(kHex[c & 15]));
    }
  }
  return out;
}

// The address as the macros want it: a v4-mapped IPv6 address is its IPv4
// address.
IpAddress Effective(const IpAddress& ip) {
  if (!ip.IsV6() || !ip.IsV4Mapped()) return ip;
  const auto& b = ip.Bytes();
  return IpAddress::FromV4((std::uint32_t(b[12]) << 24) | (std::uint32_t(b[13]) << 16) |
                           (std::uint32_t(b[14]) << 8) | b[15]);
}

std::string DottedNibbles(const IpAddress& ip) {
  std::string out;
  for (std::size_t i = 0; i < 16; ++i) {
    if (!out.empty()) out += '.';
    out += kHex[ip.Bytes()[i] >> 4];
    out += '.';
    out += kHex[ip.Bytes()[i] & 15];
  }
  return out;
}

void SplitSender(const Identity& who, std::string& local, std::string& domain) {
  const std::size_t at = who.Sender.rfind('@');
  if (who.Sender.empty() || at == std::string::npos) {
    local = "postmaster";
    domain = who.Sender.empty() ? who.Domain : who.Sender;
  } else {
    local = at == 0 ? "postmaster" : who.Sender.substr(0, at);
    domain = who.Sender.substr(at + 1);
  }
}

// Splits on the delimiters, reverses when asked, keeps the rightmost parts,
// joins with dots.
std::string Transform(const std::string& value, int keep, bool reverse, const std::string& delims) {
  std::vector<std::string> parts;
  std::string cur;
  for (char c : value) {
    if (delims.find(c) != std::string::npos) {
      parts.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  parts.push_back(cur);
  if (reverse) std::reverse(parts.begin(), parts.end());
  std::size_t from = 0;
  if (keep > 0 && static_cast<std::size_t>(keep) < parts.size()) from = parts.size() - static_cast<std::size_t>(keep);
  std::string out;
  for (std::size_t i = from; i < parts.size(); ++i) {
    if (i > from) out += '.';
    out += parts[i];
  }
  return out;
}

bool Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return false;
}

// A top label: alphanumerics with at least one letter, or alphanumerics and
// inner hyphens.
bool IsTopLabel(std::string_view l) {
  if (l.empty() || l.size() > 63 || l.front() == '-' || l.back() == '-') return false;
  bool alpha = false, hyphen = false;
  for (char c : l) {
    if (c == '-') hyphen = true;
    else if (IsAlpha(c)) alpha = true;
    else if (!IsDigit(c)) return false;
  }
  return alpha || hyphen;
}

// A domain argument: a macro-string whose end is "." toplabel ["."] or a macro.
bool ValidTermDomain(std::string_view text, std::string* error) {
  if (text.empty()) return Fail(error, "domain");
  std::string ignored;
  MacroContext syntaxOnly;
  Identity nobody;
  syntaxOnly.Who = &nobody;
  syntaxOnly.Explanation = false;
  bool unresolved = false;
  if (!ExpandMacros(text, syntaxOnly, ignored, error, &unresolved)) return false;
  if (text.back() == '}') return true;
  if (text.size() >= 2 && text[text.size() - 2] == '%') return true;  // %% %_ %-
  std::string_view s = text;
  if (s.back() == '.') s.remove_suffix(1);
  const std::size_t dot = s.rfind('.');
  if (dot == std::string_view::npos || !IsTopLabel(s.substr(dot + 1))) return Fail(error, "domain");
  return true;
}

// "/n" with no leading zero and at most max.
bool ParseCidr(std::string_view digits, int max, int& out) {
  if (digits.empty() || digits.size() > 3 || (digits.size() > 1 && digits[0] == '0')) return false;
  int v = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return false;
    v = v * 10 + (c - '0');
  }
  if (v > max) return false;
  out = v;
  return true;
}

// Takes a trailing "/digits" off s (digits without a slash before them).
bool TakeCidr(std::string_view& s, bool doubleSlash, int max, int& out, bool& bad) {
  const std::size_t slash = s.rfind('/');
  if (slash == std::string_view::npos) return false;
  const std::string_view digits = s.substr(slash + 1);
  if (digits.empty() || !std::all_of(digits.begin(), digits.end(), IsDigit)) return false;
  const bool twoSlashes = slash > 0 && s[slash - 1] == '/';
  if (twoSlashes != doubleSlash) return false;
  if (!ParseCidr(digits, max, out)) bad = true;
  s = s.substr(0, slash - (twoSlashes ? 1 : 0));
  return true;
}

bool ParseNetwork(std::string_view text, bool v6, IpAddress& out) {
  const std::string s(text);
  unsigned char buf[16] = {};
  if (inet_pton(v6 ? AF_INET6 : AF_INET, s.c_str(), buf) != 1) return false;
  if (v6) {
    std::array<std::uint8_t, 16> b{};
    std::copy(buf, buf + 16, b.begin());
    out = IpAddress::FromV6(b);
  } else {
    out = IpAddress::FromV4((std::uint32_t(buf[0]) << 24) | (std::uint32_t(buf[1]) << 16) |
                            (std::uint32_t(buf[2]) << 8) | buf[3]);
  }
  return true;
}

bool InNetwork(const IpAddress& ip, const IpAddress& net, int bits) {
  if (ip.Family() != net.Family() || ip.Empty()) return false;
  const auto& a = ip.Bytes();
  const auto& b = net.Bytes();
  int i = 0;
  for (; bits >= 8; bits -= 8, ++i)
    if (a[static_cast<std::size_t>(i)] != b[static_cast<std::size_t>(i)]) return false;
  if (bits == 0) return true;
  const unsigned mask = (0xFFu << (8 - bits)) & 0xFFu;
  return (a[static_cast<std::size_t>(i)] & mask) == (b[static_cast<std::size_t>(i)] & mask);
}

bool ParseTerm(std::string_view text, Term& t, std::string& error) {
  t = Term();
  t.Text = std::string(text);
  // A modifier: name "=" macro-string.
  std::size_t n = 0;
  if (!text.empty() && IsAlpha(text[0])) {
    n = 1;
    while (n < text.size() && (IsAlnum(text[n]) || text[n] == '-' || text[n] == '_' || text[n] == '.')) ++n;
  }
  if (n > 0 && n < text.size() && text[n] == '=') {
    const std::string name = LowerText(text.substr(0, n));
    t.Arg = std::string(text.substr(n + 1));
    if (name == "redirect" || name == "exp") {
      t.Kind = name == "redirect" ? TermKind::Redirect : TermKind::Exp;
      return ValidTermDomain(t.Arg, &error);
    }
    t.Kind = TermKind::Modifier;
    std::string ignored;
    Identity nobody;
    MacroContext syntaxOnly;
    syntaxOnly.Who = &nobody;
    return ExpandMacros(t.Arg, syntaxOnly, ignored, &error);
  }
  std::string_view s = text;
  if (!s.empty() && (s[0] == '+' || s[0] == '-' || s[0] == '~' || s[0] == '?')) {
    t.Qualifier = s[0];
    s.remove_prefix(1);
  }
  std::size_t end = 0;
  while (end < s.size() && IsAlnum(s[end])) ++end;
  const std::string name = LowerText(s.substr(0, end));
  std::string_view rest = s.substr(end);
  auto needDomain = [&](TermKind kind) {
    t.Kind = kind;
    if (rest.size() < 2 || rest[0] != ':') return Fail(&error, "domain");
    t.Arg = std::string(rest.substr(1));
    return ValidTermDomain(t.Arg, &error);
  };
  if (name == "all") {
    t.Kind = TermKind::All;
    return rest.empty() || Fail(&error, "syntax");
  }
  if (name == "include") return needDomain(TermKind::Include);
  if (name == "exists") return needDomain(TermKind::Exists);
  if (name == "a" || name == "mx" || name == "ptr") {
    t.Kind = name == "a" ? TermKind::A : name == "mx" ? TermKind::Mx : TermKind::Ptr;
    if (t.Kind != TermKind::Ptr) {
      bool bad = false;
      TakeCidr(rest, true, 128, t.Cidr6, bad);
      TakeCidr(rest, false, 32, t.Cidr4, bad);
      if (bad) return Fail(&error, "cidr");
    }
    if (rest.empty()) return true;
    if (rest[0] != ':') return Fail(&error, "syntax");
    t.Arg = std::string(rest.substr(1));
    return ValidTermDomain(t.Arg, &error);
  }
  if (name == "ip4" || name == "ip6") {
    const bool v6 = name == "ip6";
    t.Kind = v6 ? TermKind::Ip6 : TermKind::Ip4;
    if (rest.size() < 2 || rest[0] != ':') return Fail(&error, "network");
    rest.remove_prefix(1);
    const std::size_t slash = rest.find('/');
    int& cidr = v6 ? t.Cidr6 : t.Cidr4;
    if (slash != std::string_view::npos && !ParseCidr(rest.substr(slash + 1), v6 ? 128 : 32, cidr))
      return Fail(&error, "cidr");
    t.Arg = std::string(rest.substr(0, slash));
    if (!ParseNetwork(t.Arg, v6, t.Network)) return Fail(&error, "network");
    return true;
  }
  return Fail(&error, "mechanism");
}

}  // namespace

bool Term::CausesLookup() const {
  return Kind == TermKind::Include || Kind == TermKind::A || Kind == TermKind::Mx ||
         Kind == TermKind::Ptr || Kind == TermKind::Exists || Kind == TermKind::Redirect;
}

bool ExpandMacros(std::string_view text, const MacroContext& cx, std::string& out, std::string* error,
                  bool* unresolved) {
  out.clear();
  static const Identity kNobody;
  const Identity& who = cx.Who ? *cx.Who : kNobody;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c != '%') {
      // Visible characters only (and the blank of an explanation).
      if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7E) {
        if (!(cx.Explanation && c == ' ')) return Fail(error, "character");
      }
      out += c;
      continue;
    }
    if (++i >= text.size()) return Fail(error, "macro");
    if (text[i] == '%') { out += '%'; continue; }
    if (text[i] == '_') { out += ' '; continue; }
    if (text[i] == '-') { out += "%20"; continue; }
    if (text[i] != '{' || ++i >= text.size()) return Fail(error, "macro");
    const char letter = text[i++];
    const char l = Lower(letter);
    int keep = 0;
    std::size_t digits = 0;
    while (i < text.size() && IsDigit(text[i])) {
      if (++digits > 3) return Fail(error, "macro");
      keep = keep * 10 + (text[i++] - '0');
    }
    if (digits > 0 && keep == 0) return Fail(error, "macro");
    bool reverse = false;
    if (i < text.size() && Lower(text[i]) == 'r') { reverse = true; ++i; }
    std::string delims;
    while (i < text.size() && IsDelimiter(text[i])) delims += text[i++];
    if (i >= text.size() || text[i] != '}') return Fail(error, "macro");
    if (delims.empty()) delims = ".";
    std::string local, senderDomain;
    SplitSender(who, local, senderDomain);
    const IpAddress ip = Effective(who.Ip);
    auto needIp = [&]() {
      if (ip.Empty() && unresolved) *unresolved = true;
      return !ip.Empty();
    };
    std::string value;
    switch (l) {
      case 's': value = local + "@" + senderDomain; break;
      case 'l': value = local; break;
      case 'o': value = senderDomain; break;
      case 'd': value = cx.Domain; break;
      case 'i':
        if (needIp()) value = ip.IsV4() ? ip.ToString() : DottedNibbles(ip);
        break;
      case 'p':
        if (needIp()) value = cx.ValidatedName;
        break;
      case 'v': value = ip.IsV6() ? "ip6" : "in-addr"; break;
      case 'h': value = who.Helo.empty() ? "unknown" : who.Helo; break;
      case 'c':
      case 'r':
      case 't':
        if (!cx.Explanation) return Fail(error, "macro");
        if (l == 'c') {
          if (needIp()) value = ip.ToString();
        } else if (l == 'r') {
          value = who.Receiver.empty() ? "unknown" : who.Receiver;
        } else {
          value = std::to_string(who.Now ? who.Now : static_cast<std::int64_t>(std::time(nullptr)));
        }
        break;
      default: return Fail(error, "macro");
    }
    value = Transform(value, keep, reverse, delims);
    if (IsAlpha(letter) && letter != l) value = UrlEscape(value);
    out += value;
  }
  return true;
}

bool IsSpfRecord(std::string_view text) {
  if (text.size() < 6 || LowerText(text.substr(0, 6)) != "v=spf1") return false;
  return text.size() == 6 || text[6] == ' ';
}

ParsedRecord ParseRecord(std::string_view record) {
  ParsedRecord out;
  std::string_view rest = record.substr(std::min<std::size_t>(6, record.size()));
  bool redirect = false, exp = false;
  while (!rest.empty()) {
    if (rest[0] == ' ') { rest.remove_prefix(1); continue; }
    const std::size_t sp = rest.find(' ');
    const std::string_view text = rest.substr(0, sp);
    rest = sp == std::string_view::npos ? std::string_view() : rest.substr(sp);
    Term t;
    std::string error;
    if (!ParseTerm(text, t, error)) {
      out.Error = error.empty() ? "syntax" : error;
      out.ErrorTerm = std::string(text);
      return out;
    }
    bool& seen = t.Kind == TermKind::Redirect ? redirect : exp;
    if (t.Kind == TermKind::Redirect || t.Kind == TermKind::Exp) {
      if (seen) {
        out.Error = "duplicate";
        out.ErrorTerm = std::string(text);
        return out;
      }
      seen = true;
    }
    out.Terms.push_back(std::move(t));
  }
  return out;
}

namespace {

// A name fit to be asked: labels of 1..63 bytes, at most 253 in all. A longer
// expansion loses labels on the left, as the macros' rules say.
std::optional<std::string> Askable(std::string name) {
  if (!name.empty() && name.back() == '.') name.pop_back();
  while (name.size() > 253) {
    const std::size_t dot = name.find('.');
    if (dot == std::string::npos) return std::nullopt;
    name.erase(0, dot + 1);
  }
  if (name.empty()) return std::nullopt;
  std::size_t start = 0;
  while (start <= name.size()) {
    std::size_t dot = name.find('.', start);
    if (dot == std::string::npos) dot = name.size();
    if (dot == start || dot - start > 63) return std::nullopt;
    start = dot + 1;
  }
  return name;
}

struct Outcome {
  Result R = Result::Neutral;
  std::string Term;
  std::string Reason;
  std::string ExpDomainText, ExpDomain;  // the explanation's domain argument and the domain it belongs to
};

class Evaluator {
 public:
  Evaluator(IDns& dns, const Identity& who, const Limits& limits)
      : dns_(dns), who_(who), lim_(limits), deadline_(Deadline::In(limits.TimeMs)),
        ip_(Effective(who.Ip)) {}

  Evaluation Run() {
    ev_.Evaluated = !ip_.Empty();
    std::vector<std::string> path;
    Outcome top = Check(LowerText(who_.Domain), 0, !ev_.Evaluated, path);
    if (ev_.Evaluated) {
      ev_.Outcome = top.R;
      ev_.Term = top.Term;
      ev_.Reason = top.Reason;
      if (top.R == Result::Fail && !top.ExpDomainText.empty()) ev_.Explanation = Explain(top);
    } else {
      // Without an address the outcome is what the walk alone proves: the
      // domain's own record missing or broken, or the limits passed.
      ev_.Outcome = top.R;
      ev_.Reason = top.Reason;
      ev_.Term = top.Term;
      if (top.R == Result::Neutral) {
        if (ev_.Lookups > lim_.Lookups) {
          ev_.Outcome = Result::PermError;
          ev_.Reason = "limit";
          ev_.Term = firstPast_;
        } else if (ev_.VoidLookups > lim_.VoidLookups) {
          ev_.Outcome = Result::PermError;
          ev_.Reason = "void_limit";
        }
      }
    }
    return std::move(ev_);
  }

 private:
  DnsAnswer Ask(const std::string& name, std::uint16_t type) {
    if (queries_ >= lim_.MaxQueries || deadline_.Passed()) {
      ev_.Truncated = true;
      return {DnsStatus::Failed, {}};
    }
    ++queries_;
    DnsAnswer a = dns_.Query(name, type);
    if (a.Values.size() > 64) a.Values.resize(64);
    return a;
  }

  MacroContext Context(const std::string& domain, bool explanation = false) {
    MacroContext cx;
    cx.Who = &who_;
    cx.Domain = domain;
    cx.Explanation = explanation;
    cx.ValidatedName = validated_;
    return cx;
  }

  // The target of a term: its expanded domain argument, or the current domain.
  std::optional<std::string> Target(const Term& t, const std::string& domain, ShownTerm& st) {
    if (t.Arg.empty()) return domain;
    if (t.Arg.find("%{p") != std::string::npos || t.Arg.find("%{P") != std::string::npos) Validate(domain);
    std::string out;
    bool unresolved = false;
    if (!ExpandMacros(t.Arg, Context(domain), out, nullptr, &unresolved)) return std::nullopt;
    if (unresolved) {
      st.Note = "unresolved";
      return std::nullopt;
    }
    auto name = Askable(LowerText(out));
    if (!name) st.Note = "bad_name";
    return name;
  }

  // %{p}: a name of the address whose own addresses include it, preferring
  // the current domain and its subdomains.
  void Validate(const std::string& domain) {
    if (validatedDone_ || ip_.Empty()) return;
    validatedDone_ = true;
    const auto names = ValidatedNames();
    for (const std::string& n : names)
      if (Within(n, domain)) { validated_ = n; return; }
    if (!names.empty()) validated_ = names.front();
  }

  static bool Within(const std::string& name, const std::string& domain) {
    const std::string n = LowerText(name), d = LowerText(domain);
    return n == d || (n.size() > d.size() && n.compare(n.size() - d.size(), d.size(), d) == 0 &&
                      n[n.size() - d.size() - 1] == '.');
  }

  std::vector<std::string> ValidatedNames(bool* voidAnswer = nullptr) {
    std::vector<std::string> out;
    DnsAnswer ptr = Ask(ip_.ReverseName(), kPtr);
    if (voidAnswer) *voidAnswer = ptr.Status == DnsStatus::NoName || (ptr.Status == DnsStatus::Ok && ptr.Values.empty());
    if (ptr.Status != DnsStatus::Ok) return out;
    if (ptr.Values.size() > static_cast<std::size_t>(lim_.PtrNames)) ptr.Values.resize(static_cast<std::size_t>(lim_.PtrNames));
    for (std::string name : ptr.Values) {
      if (!name.empty() && name.back() == '.') name.pop_back();
      const DnsAnswer addrs = Ask(name, ip_.IsV4() ? kA : kAaaa);
      if (addrs.Status != DnsStatus::Ok) continue;
      for (const std::string& a : addrs.Values)
        if (IpAddress::Parse(a) == ip_) { out.push_back(LowerText(name)); break; }
    }
    return out;
  }

  bool AnyInNetwork(const std::vector<std::string>& addresses, const Term& t) {
    for (const std::string& a : addresses)
      if (InNetwork(ip_, IpAddress::Parse(a), ip_.IsV4() ? t.Cidr4 : t.Cidr6)) return true;
    return false;
  }

  // Counts a void look-up; true once the limit is passed.
  bool CountVoid(ShownTerm& st) {
    st.Void = true;
    return ++ev_.VoidLookups > lim_.VoidLookups;
  }

  static bool IsVoid(const DnsAnswer& a) {
    return a.Status == DnsStatus::NoName || (a.Status == DnsStatus::Ok && a.Values.empty());
  }

  // check_host() for domain. walk: only walk (count and follow), never decide.
  Outcome Check(const std::string& domain, int depth, bool walk, std::vector<std::string>& path) {
    Outcome o;
    const std::size_t index = ev_.Tree.size();
    if (index >= static_cast<std::size_t>(lim_.MaxRecords)) {
      ev_.Truncated = true;
      o.R = Result::PermError;
      o.Reason = "bound";
      return o;
    }
    ev_.Tree.push_back(ShownRecord{domain, depth, {}, {}, {}});
    auto record = [&]() -> ShownRecord& { return ev_.Tree[index]; };
    auto end = [&](Result r, const char* reason) {
      o.R = r;
      o.Reason = reason;
      record().Problem = reason;
      return o;
    };
    // A malformed or single-label domain has no policy.
    const auto askable = Askable(domain);
    if (!askable || askable->find('.') == std::string::npos) return end(Result::None, "bad_domain");
    const DnsAnswer txt = Ask(domain, kTxt);
    if (txt.Status == DnsStatus::Failed) return end(Result::TempError, "dns");
    // The record an include or redirect names is a look-up of its term.
    if (depth > 0 && IsVoid(txt)) ++ev_.VoidLookups;
    std::vector<std::string> spf;
    for (const std::string& t : txt.Values)
      if (IsSpfRecord(t)) spf.push_back(t);
    if (spf.empty()) return end(Result::None, txt.Status == DnsStatus::NoName ? "no_domain" : "no_record");
    if (spf.size() > 1) return end(Result::PermError, "several");
    record().Text = spf.front();
    const ParsedRecord parsed = ParseRecord(spf.front());
    if (!parsed.Error.empty()) {
      o.Term = parsed.ErrorTerm;
      record().ErrorTerm = parsed.ErrorTerm;
      return end(Result::PermError, "syntax");
    }
    path.push_back(domain);
    bool decided = walk;  // from here on only walked
    bool hasAll = false;
    const Term* redirect = nullptr;
    const Term* exp = nullptr;
    for (const Term& t : parsed.Terms) {
      if (t.Kind == TermKind::All) hasAll = true;
      if (t.Kind == TermKind::Redirect) redirect = &t;
      if (t.Kind == TermKind::Exp) exp = &t;
    }
    auto decide = [&](Result r, const std::string& term, const char* reason, ShownTerm& st, TermState state) {
      if (decided) return;
      decided = true;
      o.R = r;
      o.Term = term;
      o.Reason = reason;
      st.State = state;
      if (state == TermState::Error && st.Note.empty()) st.Note = reason;
    };
    auto countLookup = [&](ShownTerm& st, const Term& t) {
      st.Lookup = ++ev_.Lookups;
      if (st.Lookup > lim_.Lookups) {
        st.PastLimit = true;
        if (firstPast_.empty()) firstPast_ = t.Text;
        decide(Result::PermError, t.Text, "limit", st, TermState::Error);
      }
    };
    for (const Term& t : parsed.Terms) {
      if (t.Kind == TermKind::Redirect || t.Kind == TermKind::Exp || t.Kind == TermKind::Modifier) continue;
      record().Terms.push_back(ShownTerm{t.Text, 0, false, false, TermState::Walked, {}, -1});
      const std::size_t termIndex = record().Terms.size() - 1;
      auto shown = [&]() -> ShownTerm& { return ev_.Tree[index].Terms[termIndex]; };
      if (t.CausesLookup()) countLookup(shown(), t);
      const bool evaluate = !decided;
      if (!evaluate && t.Kind != TermKind::Include) continue;
      const Result qualified = t.Qualifier == '-'   ? Result::Fail
                               : t.Qualifier == '~' ? Result::SoftFail
                               : t.Qualifier == '?' ? Result::Neutral
                                                    : Result::Pass;
      bool match = false;
      switch (t.Kind) {
        case TermKind::All: match = true; break;
        case TermKind::Ip4:
        case TermKind::Ip6: match = InNetwork(ip_, t.Network, t.Kind == TermKind::Ip4 ? t.Cidr4 : t.Cidr6); break;
        case TermKind::Include: {
          ShownTerm scratch = shown();
          const auto target = Target(t, domain, scratch);
          shown().Note = scratch.Note;
          if (!target) {
            if (evaluate && scratch.Note != "unresolved") decide(Result::PermError, t.Text, "bad_name", shown(), TermState::Error);
            break;
          }
          if (std::find(path.begin(), path.end(), *target) != path.end()) {
            shown().Note = "loop";
            decide(Result::PermError, t.Text, "loop", shown(), TermState::Error);
            break;
          }
          if (depth + 1 > lim_.MaxDepth) {
            ev_.Truncated = true;
            decide(Result::PermError, t.Text, "bound", shown(), TermState::Error);
            break;
          }
          const int child = static_cast<int>(ev_.Tree.size());
          const Outcome inner = Check(*target, depth + 1, !evaluate, path);
          if (static_cast<int>(ev_.Tree.size()) > child) shown().Child = child;
          if (!evaluate) break;
          switch (inner.R) {
            case Result::Pass: match = true; break;
            case Result::Fail:
            case Result::SoftFail:
            case Result::Neutral: break;
            case Result::TempError: decide(Result::TempError, inner.Term.empty() ? t.Text : inner.Term, inner.Reason.c_str(), shown(), TermState::Error); break;
            case Result::PermError: decide(Result::PermError, inner.Term.empty() ? t.Text : inner.Term, inner.Reason.c_str(), shown(), TermState::Error); break;
            case Result::None: decide(Result::PermError, t.Text, "include_none", shown(), TermState::Error); break;
          }
          break;
        }
        case TermKind::A:
        case TermKind::Mx:
        case TermKind::Exists: {
          const auto target = Target(t, domain, shown());
          if (!target) {
            // An unusable name is a look-up that finds nothing.
            if (CountVoid(shown())) decide(Result::PermError, t.Text, "void_limit", shown(), TermState::Error);
            break;
          }
          const std::uint16_t type = t.Kind == TermKind::Mx ? kMx : (t.Kind == TermKind::Exists || ip_.IsV4()) ? kA : kAaaa;
          const DnsAnswer a = Ask(*target, type);
          if (a.Status == DnsStatus::Failed) {
            decide(Result::TempError, t.Text, "dns", shown(), TermState::Error);
            break;
          }
          if (IsVoid(a)) {
            if (CountVoid(shown())) decide(Result::PermError, t.Text, "void_limit", shown(), TermState::Error);
            break;
          }
          if (t.Kind == TermKind::Exists) { match = true; break; }
          if (t.Kind == TermKind::A) { match = AnyInNetwork(a.Values, t); break; }
          if (a.Values.size() > static_cast<std::size_t>(lim_.MxNames)) {
            decide(Result::PermError, t.Text, "mx_names", shown(), TermState::Error);
            break;
          }
          for (std::string name : a.Values) {
            if (!name.empty() && name.back() == '.') name.pop_back();
            if (name.empty()) continue;
            const DnsAnswer addrs = Ask(name, ip_.IsV4() ? kA : kAaaa);
            if (addrs.Status == DnsStatus::Failed) {
              decide(Result::TempError, t.Text, "dns", shown(), TermState::Error);
              break;
            }
            if (AnyInNetwork(addrs.Values, t)) { match = true; break; }
          }
          break;
        }
        case TermKind::Ptr: {
          const auto target = Target(t, domain, shown());
          if (!target) break;
          bool voidAnswer = false;
          const auto names = ValidatedNames(&voidAnswer);
          if (voidAnswer && CountVoid(shown())) {
            decide(Result::PermError, t.Text, "void_limit", shown(), TermState::Error);
            break;
          }
          match = std::any_of(names.begin(), names.end(), [&](const std::string& n) { return Within(n, *target); });
          break;
        }
        default: break;
      }
      if (!evaluate || decided) continue;
      if (match) decide(qualified, t.Text, "", shown(), TermState::Match);
      else shown().State = TermState::NoMatch;
    }
    // A redirect applies when no mechanism matched and the record has no
    // "all"; it is walked under the same condition.
    if (redirect && !hasAll) {
      record().Terms.push_back(ShownTerm{redirect->Text, 0, false, false, TermState::Walked, {}, -1});
      const std::size_t termIndex = record().Terms.size() - 1;
      auto shown = [&]() -> ShownTerm& { return ev_.Tree[index].Terms[termIndex]; };
      countLookup(shown(), *redirect);
      const bool evaluate = !decided;
      ShownTerm scratch = shown();
      const auto target = Target(*redirect, domain, scratch);
      shown().Note = scratch.Note;
      if (!target) {
        if (evaluate) decide(Result::PermError, redirect->Text, "bad_name", shown(), TermState::Error);
      } else if (std::find(path.begin(), path.end(), *target) != path.end()) {
        shown().Note = "loop";
        decide(Result::PermError, redirect->Text, "loop", shown(), TermState::Error);
      } else if (depth + 1 > lim_.MaxDepth) {
        ev_.Truncated = true;
        decide(Result::PermError, redirect->Text, "bound", shown(), TermState::Error);
      } else {
        const int child = static_cast<int>(ev_.Tree.size());
        Outcome inner = Check(*target, depth + 1, !evaluate, path);
        if (static_cast<int>(ev_.Tree.size()) > child) shown().Child = child;
        if (evaluate) {
          decided = true;
          if (inner.R == Result::None) {
            o = Outcome{Result::PermError, redirect->Text, "redirect_none", {}, {}};
            shown().State = TermState::Error;
            shown().Note = "redirect_none";
          } else {
            o = inner;  // the target's explanation, not this record's
            shown().State = inner.R == Result::PermError || inner.R == Result::TempError ? TermState::Error
                                                                                          : TermState::Match;
          }
          exp = nullptr;
        }
      }
    } else if (redirect) {
      record().Terms.push_back(ShownTerm{redirect->Text, 0, false, false, TermState::Walked, "ignored", -1});
    }
    for (const Term& t : parsed.Terms)
      if (t.Kind == TermKind::Exp || t.Kind == TermKind::Modifier)
        record().Terms.push_back(ShownTerm{t.Text, 0, false, false, TermState::Walked, {}, -1});
    if (!decided) {
      o.R = Result::Neutral;  // the default when nothing matched
      o.Term.clear();
    }
    if (exp && o.R == Result::Fail && o.ExpDomainText.empty()) {
      o.ExpDomainText = exp->Arg;
      o.ExpDomain = domain;
    }
    path.pop_back();
    return o;
  }

  // The explanation of a fail: exactly one TXT record at the expanded
  // domain argument, itself expanded. Not a counted look-up; any problem means
  // no explanation.
  std::string Explain(const Outcome& o) {
    std::string name;
    if (!ExpandMacros(o.ExpDomainText, Context(o.ExpDomain), name)) return {};
    const auto askable = Askable(LowerText(name));
    if (!askable) return {};
    const DnsAnswer txt = Ask(*askable, kTxt);
    if (txt.Status != DnsStatus::Ok || txt.Values.size() != 1) return {};
    std::string text;
    if (!ExpandMacros(txt.Values.front(), Context(o.ExpDomain, true), text)) return {};
    return text.size() > 1024 ? text.substr(0, 1024) : text;
  }

  IDns& dns_;
  const Identity& who_;
  Limits lim_;
  Deadline deadline_;
  IpAddress ip_;
  Evaluation ev_;
  int queries_ = 0;
  bool validatedDone_ = false;
  std::string firstPast_;  // the first term past the look-up limit
  std::string validated_ = "unknown";
};

}  // namespace

Evaluation CheckHost(IDns& dns, const Identity& who, const Limits& limits) {
  return Evaluator(dns, who, limits).Run();
}

}  // namespace quovix::spf
