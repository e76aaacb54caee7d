#include "tools/fHeadLines.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "common/fMain.h"
#include "shell/fLanguage.h"

namespace quovix {

namespace {

TLineValue MsOrNull(double ms) { return ms < 0 ? TLineValue() : TLineValue(ms); }

// Most of a server's text kept in one line.
constexpr size_t kMaxShownValue = 200;
constexpr size_t kMaxAltSvcEntries = 20;
constexpr size_t kMaxCookies = 50;

// The value of each header with that name (any case), in order.
std::vector<std::string> HeaderValues(const std::vector<std::string>& headers, const char* name) {
  std::vector<std::string> out;
  for (const std::string& h : headers) {
    const size_t colon = h.find(':');
    if (colon != std::string::npos && SameText(Trim(h.substr(0, colon)), name))
      out.push_back(Trim(h.substr(colon + 1)));
  }
  return out;
}

// The parts of a value between separators, trimmed, empty ones left out;
// separators inside double quotes do not count.
std::vector<std::string> SplitOutsideQuotes(const std::string& v, char sep) {
  std::vector<std::string> out;
  std::string part;
  bool quoted = false;
  for (char c : v) {
    if (c == '"') quoted = !quoted;
    if (c == sep && !quoted) {
      if (!Trim(part).empty()) out.push_back(Trim(part));
      part.clear();
    } else {
      part += c;
    }
  }
  if (!Trim(part).empty()) out.push_back(Trim(part));
  return out;
}

std::string Shown(const std::string& v) { return CutUtf8(v, kMaxShownValue); }

}  // namespace

std::vector<TOutputLine> HeadTimingLines(const HttpTiming& t, const TLineFields& hop) {
  std::vector<TOutputLine> out;
  if (t.ConnectMs < 0 && !t.Reused) return out;
  // The figures are rounded to the tenth the lines show, so text and
  // fields never disagree.
  auto tenth = [](double ms) { return ms < 0 ? ms : std::round(ms * 10.0) / 10.0; };
  out.push_back({"", clBlue, {}});
  out.push_back({LangText("Main|OutHeadTiming", "Zeitverlauf:"), clBlue,
                 JoinFields(hop, {{"lookup_ms", MsOrNull(tenth(t.LookupMs))},
                                  {"connect_ms", MsOrNull(tenth(t.ConnectMs))},
                                  {"tls_ms", MsOrNull(tenth(t.TlsMs))},
                                  {"first_byte_ms", MsOrNull(tenth(t.FirstByteMs))},
                                  {"total_ms", MsOrNull(tenth(t.TotalMs))},
                                  {"reused", t.Reused}})});
  auto phase = [&](const char* key, const char* german, double ms) {
    if (ms < 0) return;
    out.push_back({LangText(key, german, {FormatDecimal1(ms)}), clNavy, {}});
  };
  if (t.Reused)
    out.push_back({LangText("Main|OutHeadTimingReused", "  Verbindung:       wiederverwendet"),
                   clNavy, {}});
  phase("Main|OutHeadTimingLookup", "  Namensauflösung:  %s1% ms", t.LookupMs);
  phase("Main|OutHeadTimingConnect", "  Verbindung:       %s1% ms", t.ConnectMs);
  phase("Main|OutHeadTimingTls", "  TLS-Handshake:    %s1% ms", t.TlsMs);
  phase("Main|OutHeadTimingFirstByte", "  Erstes Byte:      %s1% ms", t.FirstByteMs);
  phase("Main|OutHeadTimingTotal", "  Gesamt:           %s1% ms", t.TotalMs);
  return out;
}

std::vector<std::string> AltSvcH3Entries(const std::string& value) {
  std::vector<std::string> out;
  for (const std::string& entry : SplitOutsideQuotes(value, ',')) {
    if (out.size() >= kMaxAltSvcEntries) break;
    const std::string protocol = LowerAscii(Trim(entry.substr(0, entry.find('='))));
    if (protocol == "h3" || protocol.rfind("h3-", 0) == 0) out.push_back(Shown(entry));
  }
  return out;
}

std::vector<TOutputLine> HttpsRecordLines(const std::string& host,
                                          const std::vector<const TResultRecord*>& records,
                                          const std::string& failure, const TLineFields& hop) {
  std::vector<TOutputLine> out;
  out.push_back({"", clBlue, {}});
  out.push_back({LangText("Main|OutHeadHttpsRr", "DNS-HTTPS-Eintrag von %s1%:", {host}), clBlue, {}});
  if (!failure.empty()) {
    out.push_back({LangText("Main|OutHeadHttpsRrFailed", "  nicht abfragbar: %s1%", {Shown(failure)}), clNavy,
                   JoinFields(hop, {{"https_rr", "failed"}})});
    return out;
  }
  std::vector<const TSvcbData*> bindings;
  for (const TResultRecord* r : records)
    if (const TSvcbData* d = r->Get<TSvcbData>()) bindings.push_back(d);
  std::stable_sort(bindings.begin(), bindings.end(),
                   [](const TSvcbData* a, const TSvcbData* b) { return a->Priority < b->Priority; });
  if (bindings.empty()) {
    out.push_back({LangText("Main|OutHeadHttpsRrNone", "  keiner"), clNavy, JoinFields(hop, {{"https_rr", "none"}})});
    return out;
  }
  for (size_t i = 0; i < bindings.size() && i < kMaxAltSvcEntries; ++i) {
    const TSvcbData& d = *bindings[i];
    const std::string target = d.Target.empty() ? "." : MaskControls(Shown(d.Target));
    auto list = [](const std::vector<std::string>& items) {
      std::vector<TLineValue> v;
      std::string text;
      for (const auto& s : items) {
        v.emplace_back(MaskControls(Shown(s)));
        text += (text.empty() ? "" : ",") + MaskControls(Shown(s));
      }
      return std::make_pair(TLineValue::List(std::move(v)), text);
    };
    const auto alpn = list(d.Alpn), v4 = list(d.Ipv4Hints), v6 = list(d.Ipv6Hints);
    std::string text = d.Priority == 0
                           ? LangText("Main|OutHeadHttpsRrAlias", "  Alias auf %s1%", {target})
                           : LangText("Main|OutHeadHttpsRrService", "  Priorität %s1%, Ziel %s2%",
                                      {std::to_string(d.Priority), target});
    if (!alpn.second.empty()) text += ", alpn=" + alpn.second;
    if (d.Port >= 0) text += ", port=" + std::to_string(d.Port);
    if (!v4.second.empty()) text += ", ipv4hint=" + v4.second;
    if (!v6.second.empty()) text += ", ipv6hint=" + v6.second;
    if (d.HasEch) text += ", ech";
    out.push_back({text, clNavy,
                   JoinFields(hop, {{"https_rr", "record"},
                                    {"https_priority", static_cast<int>(d.Priority)},
                                    {"https_target", target},
                                    {"https_alpn", alpn.first},
                                    {"https_port", d.Port >= 0 ? TLineValue(d.Port) : TLineValue()},
                                    {"https_ipv4hint", v4.first},
                                    {"https_ipv6hint", v6.first}})});
  }
  return out;
}

std::vector<TOutputLine> SecurityHeaderLines(const std::vector<std::string>& headers, bool https,
                                             const TLineFields& hop) {
  std::vector<TOutputLine> out;
  const TColor missing = https ? clMaroon : clNavy;
  out.push_back({"", clBlue, {}});
  out.push_back({LangText("Main|OutHeadSecurity", "Sicherheits-Header:"), clBlue, {}});
  auto line = [&](const std::string& name, const std::string& said, TColor color, TLineFields more) {
    std::string label = "  " + name + ":";
    label.resize(std::max<size_t>(label.size() + 1, 30), ' ');
    out.push_back({label + said, color, JoinFields(hop, JoinFields({{"security_header", name}}, more))});
  };
  const std::string missingText = LangText("Main|OutHeadSecMissing", "fehlt");
  // A header browsers take as it stands: its value is what it says.
  auto plain = [&](const char* name) {
    const auto v = HeaderValues(headers, name);
    if (v.empty())
      line(name, missingText, missing, {{"present", false}});
    else
      line(name, Shown(v.front()), clNavy, {{"present", true}, {"header_value", Shown(v.front())}});
  };

  if (const auto v = HeaderValues(headers, "Strict-Transport-Security"); v.empty()) {
    line("Strict-Transport-Security", missingText, missing, {{"present", false}});
  } else {
    long long maxAge = -1;
    bool sub = false, preload = false;
    for (const std::string& d : SplitOutsideQuotes(v.front(), ';')) {
      const size_t eq = d.find('=');
      const std::string key = LowerAscii(Trim(d.substr(0, eq)));
      std::string val = eq == std::string::npos ? std::string() : Trim(d.substr(eq + 1));
      if (val.size() >= 2 && val.front() == '"' && val.back() == '"') val = val.substr(1, val.size() - 2);
      if (key == "max-age" && !val.empty() && val.size() <= 12 &&
          val.find_first_not_of("0123456789") == std::string::npos)
        maxAge = std::stoll(val);
      else if (key == "includesubdomains")
        sub = true;
      else if (key == "preload")
        preload = true;
    }
    std::string said = maxAge < 0 ? LangText("Main|OutHeadSecHstsNoAge", "ohne gültiges max-age")
                                   : LangText("Main|OutHeadSecHstsDays", "max-age %s1% Tage",
                                              {std::to_string(maxAge / 86400)});
    if (sub) said += ", includeSubDomains";
    if (preload) said += ", preload";
    line("Strict-Transport-Security", said, maxAge < 0 ? missing : clNavy,
         {{"present", true},
          {"header_value", Shown(v.front())},
          {"max_age", maxAge < 0 ? TLineValue() : TLineValue(maxAge)},
          {"include_subdomains", sub},
          {"preload", preload}});
  }

  if (const auto v = HeaderValues(headers, "Content-Security-Policy"); v.empty()) {
    line("Content-Security-Policy", missingText, missing, {{"present", false}});
  } else {
    std::string frameAncestors;
    bool found = false;
    for (const std::string& policy : v)
      for (const std::string& d : SplitOutsideQuotes(policy, ';')) {
        const std::string name = LowerAscii(d.substr(0, d.find(' ')));
        if (!found && name == "frame-ancestors") {
          found = true;
          frameAncestors = Trim(d.substr(name.size()));
        }
      }
    const std::string said =
        found ? LangText("Main|OutHeadSecCspFrame", "vorhanden, frame-ancestors %s1%", {Shown(frameAncestors)})
              : LangText("Main|OutHeadSecCspNoFrame", "vorhanden, ohne frame-ancestors");
    line("Content-Security-Policy", said, clNavy,
         {{"present", true},
          {"header_value", Shown(v.front())},
          {"frame_ancestors", found ? TLineValue(Shown(frameAncestors)) : TLineValue()}});
  }
  for (const char* name : {"X-Content-Type-Options", "X-Frame-Options", "Referrer-Policy",
                           "Permissions-Policy", "Cross-Origin-Opener-Policy"})
    plain(name);

  const auto cookies = HeaderValues(headers, "Set-Cookie");
  for (size_t i = 0; i < cookies.size() && i < kMaxCookies; ++i) {
    const auto parts = SplitOutsideQuotes(cookies[i], ';');
    if (parts.empty()) continue;
    const std::string name = Shown(Trim(parts[0].substr(0, parts[0].find('='))));
    bool secure = false, httpOnly = false;
    std::string sameSite;
    for (size_t k = 1; k < parts.size(); ++k) {
      const size_t eq = parts[k].find('=');
      const std::string key = LowerAscii(Trim(parts[k].substr(0, eq)));
      if (key == "secure") secure = true;
      if (key == "httponly") httpOnly = true;
      if (key == "samesite" && eq != std::string::npos) sameSite = Shown(Trim(parts[k].substr(eq + 1)));
    }
    std::string said = secure ? "Secure" : LangText("Main|OutHeadSecWithout", "ohne %s1%", {"Secure"});
    said += ", " + (httpOnly ? std::string("HttpOnly")
                             : LangText("Main|OutHeadSecWithout", "ohne %s1%", {"HttpOnly"}));
    said += ", " + (sameSite.empty() ? LangText("Main|OutHeadSecWithout", "ohne %s1%", {"SameSite"})
                                     : "SameSite=" + sameSite);
    const bool whole = secure && httpOnly && !sameSite.empty();
    std::string label = "  " + LangText("Main|OutHeadSecCookie", "Cookie %s1%", {name}) + ":";
    label.resize(std::max<size_t>(label.size() + 1, 30), ' ');
    out.push_back({label + said, whole ? clNavy : missing,
                   JoinFields(hop, {{"cookie", name},
                                    {"secure", secure},
                                    {"http_only", httpOnly},
                                    {"same_site", sameSite.empty() ? TLineValue() : TLineValue(sameSite)}})});
  }
  return out;
}

}  // namespace quovix
