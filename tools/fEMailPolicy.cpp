// Mail-Check's section of the sender policies: the domain's SPF record
// evaluated for the given client address as a receiving server would, or
// walked for its look-up counts and syntax when no address is given; the
// tree of records shown either way.
#include <algorithm>
#include <string>
#include <vector>

#include "app/formMain.h"
#include "clients/Dkim.h"
#include "clients/Dmarc.h"
#include "clients/MailPolicy.h"
#include "clients/Spf.h"
#include "common/Deadline.h"
#include "common/Pump.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"

namespace quovix {

namespace {

constexpr int kPolicyTimeMs = 20000;

// Why an evaluation ended without an ordinary result, in the user's words.
std::string ReasonText(const std::string& code) {
  struct Text {
    const char* code;
    const char* key;
    const char* def;
  };
  static const Text kTexts[] = {
      {"limit", "Main|OutSpfWhyLimit", "mehr als 10 Terme mit DNS-Abfragen"},
      {"void_limit", "Main|OutSpfWhyVoid", "mehr als 2 DNS-Abfragen ohne Ergebnis"},
      {"mx_names", "Main|OutSpfWhyMxNames", "mehr als 10 Namen bei \"mx\""},
      {"several", "Main|OutSpfWhySeveral", "mehrere SPF-Einträge"},
      {"syntax", "Main|OutSpfWhySyntax", "Syntaxfehler"},
      {"dns", "Main|OutSpfWhyDns", "DNS-Fehler (keine Antwort oder Serverfehler)"},
      {"include_none", "Main|OutSpfWhyIncludeNone", "eingebundene Domain ohne SPF-Eintrag"},
      {"redirect_none", "Main|OutSpfWhyRedirectNone", "Umleitungsziel ohne SPF-Eintrag"},
      {"loop", "Main|OutSpfWhyLoop", "Schleife: die Domain bindet sich selbst ein"},
      {"bound", "Main|OutSpfWhyBound", "Grenze der Auswertung erreicht (Tiefe, Abfragen oder Zeit)"},
      {"bad_name", "Main|OutSpfWhyBadName", "kein gültiger Name nach der Makro-Ersetzung"},
      {"no_record", "Main|OutSpfWhyNoRecord", "kein SPF-Eintrag"},
      {"no_domain", "Main|OutSpfWhyNoDomain", "die Domain existiert nicht"},
      {"bad_domain", "Main|OutSpfWhyBadDomain", "kein gültiger Domainname"},
      {"unresolved", "Main|OutSpfWhyUnresolved", "ohne Absender-IP nicht auflösbar"},
      {"ignored", "Main|OutSpfWhyIgnored", "ignoriert, der Eintrag hat \"all\""},
  };
  for (const Text& t : kTexts)
    if (code == t.code) return LangText(t.key, t.def);
  return code;
}

const char* StateName(spf::TermState s) {
  switch (s) {
    case spf::TermState::Walked: return "walked";
    case spf::TermState::NoMatch: return "no_match";
    case spf::TermState::Match: return "match";
    case spf::TermState::Error: return "error";
  }
  return "walked";
}

// A problem of a DMARC record, in the user's words.
std::string DmarcProblemText(const dmarc::Problem& p) {
  const std::string detail = MaskControls(p.Detail);
  if (p.Code == "version")
    return LangText("Main|OutDmarcVersion", "\"v=DMARC1\" steht nicht am Anfang: \"%s1%\"", {detail});
  if (p.Code == "policy")
    return LangText("Main|OutDmarcPolicy", "\"p\" fehlt oder ist ungültig: \"%s1%\"", {detail});
  if (p.Code == "uri") return LangText("Main|OutDmarcUri", "keine mailto-Adresse: \"%s1%\"", {detail});
  if (p.Code == "duplicate") return LangText("Main|OutDmarcDuplicate", "Tag doppelt: %s1%", {detail});
  if (p.Code == "syntax") return LangText("Main|OutDmarcSyntax", "kein Tag=Wert: \"%s1%\"", {detail});
  if (p.Code == "unknown") return LangText("Main|OutDmarcUnknown", "unbekannter Tag: %s1%", {detail});
  return LangText("Main|OutDmarcBadValue", "ungültiger Wert für %s1%: \"%s2%\"", {p.Code, detail});
}

}  // namespace

void TfrmMain::EMailDmarcSection(const std::string& domain, TLineFields& result) {
  AppendOutput(reEMail, LangText("Main|OutDmarcHead", "  DMARC:"), clNavy);
  const std::string organizational = RegisteredDomain(domain, SldList);
  TResolverPolicyDns dns(IdDNSResolver, Deadline::In(kPolicyTimeMs), [] { return AbortRequested(); });
  const dmarc::Discovery d = dmarc::Discover(dns, domain, organizational);
  const dmarc::Record& r = d.Policy;
  bool valid = false;
  std::vector<TLineValue> unauthorized;
  if (d.DnsFailed) {
    AppendOutput(reEMail, LangText("Main|OutDmarcDns", "    DNS-Fehler: der DMARC-Eintrag ist nicht bekannt."), clRed);
  } else if (d.FoundAt.empty()) {
    std::string names = "_dmarc." + d.Domain;
    if (d.Organizational != d.Domain) names += ", _dmarc." + d.Organizational;
    AppendOutput(reEMail, LangText("Main|OutDmarcNone", "    Kein DMARC-Eintrag (gefragt: %s1%).", {names}), clNavy);
  } else if (d.Several) {
    AppendOutput(reEMail,
                 LangText("Main|OutDmarcSeveral", "    Mehrere DMARC-Einträge bei %s1%: keiner gilt.", {d.FoundAt}),
                 clRed);
  } else {
    AppendOutput(reEMail, "    " + d.FoundAt + ": " + MaskControls(r.Text), clNavy, {{"dmarc_found_at", d.FoundAt}});
    valid = r.Valid;
    if (r.Valid)
      AppendOutput(reEMail,
                   LangText("Main|OutDmarcPolicyLine",
                            "    Richtlinie: %s1%, Subdomains: %s2%, Anteil: %s3%, adkim: %s4%, aspf: %s5%",
                            {r.Policy, r.SubdomainPolicy, std::to_string(r.Pct) + " %", r.Adkim, r.Aspf}),
                   r.Policy == "none" ? clBlack : clGreen,
                   {{"dmarc_policy", r.Policy}, {"subdomain_policy", r.SubdomainPolicy}, {"pct", r.Pct}});
    for (const dmarc::Problem& p : r.Problems)
      AppendOutput(reEMail, "    " + DmarcProblemText(p), p.Code == "unknown" ? clNavy : clRed,
                   {{"dmarc_problem", p.Code}});
    for (const dmarc::ReportUri& u : r.Uris) {
      if (!u.External) continue;
      const std::string uri = MaskControls(u.Uri);
      if (u.Authorized)
        AppendOutput(reEMail,
                     LangText("Main|OutDmarcAuthOk", "    %s1% %s2%: Freigabe %s3% vorhanden", {u.Tag, uri, u.AuthName}),
                     clGreen, {{"dmarc_uri", u.Uri}, {"authorization", u.AuthName}, {"authorized", true}});
      else if (u.AuthUnknown)
        AppendOutput(reEMail,
                     LangText("Main|OutDmarcAuthUnknown", "    %s1% %s2%: Freigabe %s3% nicht geprüft (DNS-Fehler oder zu viele)",
                              {u.Tag, uri, u.AuthName}),
                     clRed, {{"dmarc_uri", u.Uri}, {"authorization", u.AuthName}, {"authorized", TLineValue()}});
      else {
        AppendOutput(reEMail,
                     LangText("Main|OutDmarcAuthMissing",
                              "    %s1% %s2%: Freigabe %s3% fehlt, die Berichte werden verworfen",
                              {u.Tag, uri, u.AuthName}),
                     clRed, {{"dmarc_uri", u.Uri}, {"authorization", u.AuthName}, {"authorized", false}});
        unauthorized.push_back(u.Uri);
      }
    }
  }
  result.push_back({"dmarc", TLineFields{{"policy", valid ? TLineValue(r.Policy) : TLineValue()},
                                         {"found_at", d.FoundAt.empty() ? TLineValue() : TLineValue(d.FoundAt)},
                                         {"valid", valid},
                                         {"unauthorized_uris", TLineValue::List(std::move(unauthorized))}}});
}

void TfrmMain::EMailDkimSection(const std::string& domain, TLineFields& result) {
  AppendOutput(reEMail, LangText("Main|OutDkimHead", "  DKIM:"), clNavy);
  // The user's selectors first, then the built-in ones not among them.
  std::vector<std::string> selectors;
  const std::string typed = Trim(cmbEMailDkim.Text());
  for (size_t start = 0; start <= typed.size();) {
    size_t end = typed.find_first_of(", ", start);
    if (end == std::string::npos) end = typed.size();
    const std::string sel = LowerAscii(typed.substr(start, end - start));
    if (!sel.empty() && std::find(selectors.begin(), selectors.end(), sel) == selectors.end())
      selectors.push_back(sel);
    start = end + 1;
  }
  const size_t given = selectors.size();
  for (const std::string& sel : dkim::BuiltInSelectors())
    if (std::find(selectors.begin(), selectors.end(), sel) == selectors.end()) selectors.push_back(sel);
  TResolverPolicyDns dns(IdDNSResolver, Deadline::In(kPolicyTimeMs), [] { return AbortRequested(); });
  const std::vector<dkim::Key> keys = dkim::LookUp(dns, domain, selectors);
  std::vector<TLineValue> shown;
  std::string missing;
  for (size_t i = 0; i < keys.size(); ++i) {
    const dkim::Key& k = keys[i];
    const bool userGiven = i < given;
    const std::string head = "    " + MaskControls(k.Name) + ": ";
    const TLineFields fields{{"dkim_selector", k.Selector}};
    if (!k.Found && !k.DnsFailed && k.Problems.empty()) {
      if (userGiven) {
        AppendOutput(reEMail, head + LangText("Main|OutDkimNone", "kein Eintrag"), clNavy, fields);
      } else {
        missing += (missing.empty() ? "" : ", ") + k.Selector;
        continue;
      }
    } else if (k.DnsFailed) {
      AppendOutput(reEMail, head + LangText("Main|OutDkimDns", "DNS-Fehler"), clRed, fields);
    } else if (k.Several) {
      AppendOutput(reEMail, head + LangText("Main|OutDkimSeveral", "mehrere Einträge: kein Schlüssel gilt"), clRed,
                   fields);
    } else if (k.Revoked) {
      AppendOutput(reEMail, head + LangText("Main|OutDkimRevoked", "Schlüssel widerrufen (leeres p=)"), clNavy,
                   fields);
    } else if (!k.Problems.empty()) {
      std::string list;
      for (const std::string& p : k.Problems) list += (list.empty() ? "" : ", ") + p;
      AppendOutput(reEMail, head + LangText("Main|OutDkimBroken", "Eintrag fehlerhaft (%s1%)", {list}), clRed,
                   JoinFields(fields, {{"dkim_problems", list}}));
    } else {
      std::string line = head + (k.Type == "ed25519" ? "Ed25519" : "RSA") + ", " +
                         LangText("Main|OutDkimBits", "%s1% Bit", {std::to_string(k.Bits)});
      if (k.Weak()) line += LangText("Main|OutDkimWeak", " – zu kurz, unter 1024 Bit");
      if (k.Testing) line += LangText("Main|OutDkimTesting", ", Testmodus (t=y)");
      if (!k.Hashes.empty()) line += ", h=" + MaskControls(k.Hashes);
      AppendOutput(reEMail, line, k.Weak() ? clRed : clBlack,
                   JoinFields(fields, {{"key_type", k.Type}, {"bits", k.Bits}, {"testing", k.Testing}}));
    }
    shown.push_back(TLineFields{{"selector", k.Selector},
                                {"found", k.Found},
                                {"key_type", k.Found && !k.Revoked && k.Bits > 0 ? TLineValue(k.Type) : TLineValue()},
                                {"bits", k.Bits > 0 ? TLineValue(k.Bits) : TLineValue()},
                                {"testing", k.Testing},
                                {"revoked", k.Revoked},
                                {"weak", k.Weak()}});
  }
  if (!missing.empty())
    AppendOutput(reEMail, LangText("Main|OutDkimMissing", "    Ohne Eintrag (gängige Selektoren): %s1%", {missing}),
                 clNavy);
  result.push_back({"dkim", TLineValue::List(std::move(shown))});
}

void TfrmMain::EMailPolicySection(const std::string& domain, TLineFields& result) {
  AppendOutput(reEMail, LangText("Main|OutEMailPolicyHead", "Absender-Richtlinien der Domain \"%s1%\":", {domain}),
               clBlue);
  const std::string ipText = Trim(cmbEMailSpfIp.Text());
  spf::Identity who;
  who.Domain = domain;
  who.Helo = EMailSpfHelo;
  const std::string sender = Trim(cmbEMailSender.Text());
  who.Sender = sender.empty() ? "postmaster@" + domain : GetField(sender, "@", 1) + "@" + domain;
  if (!ipText.empty()) {
    who.Ip = IpAddress::Parse(ipText);
    if (who.Ip.Empty() || !who.Ip.Zone().empty()) {
      AppendOutput(reEMail,
                   LangText("Main|OutSpfBadIp", "  Keine gültige Absender-IP: \"%s1%\"", {MaskControls(ipText)}),
                   clRed);
      result.push_back({"spf", TLineValue()});
      EMailDmarcSection(domain, result);
      EMailDkimSection(domain, result);
      return;
    }
  }
  if (who.Ip.Empty())
    AppendOutput(reEMail, LangText("Main|OutSpfWalkOnly", "  SPF ohne Absender-IP: die Einträge und ihre Abfragen"),
                 clNavy);
  else
    AppendOutput(reEMail, LangText("Main|OutSpfFor", "  SPF für die Absender-IP %s1%:", {who.Ip.ToString()}),
                 clNavy);

  IdDNSResolver.Host = ActiveDnsServerIP;
  IdDNSResolver.WaitingTime = NameResTimeout;
  TResolverPolicyDns dns(IdDNSResolver, Deadline::In(kPolicyTimeMs), [] { return AbortRequested(); });
  spf::Limits limits;
  limits.TimeMs = kPolicyTimeMs;
  // One evaluation shown: its tree, its counts and its result; its values
  // for the result record.
  auto showSpf = [&](const spf::Evaluation& ev) -> TLineValue {
    const bool overLimit = ev.Outcome == spf::Result::PermError && ev.Reason == "limit";

    // The tree: each record, then its terms, each include's or redirect's
    // record right below the term that leads to it.
    auto showRecord = [&](auto& self, int index) -> void {
      const spf::ShownRecord& r = ev.Tree[static_cast<size_t>(index)];
      const std::string indent(static_cast<size_t>(4 + 4 * r.Depth), ' ');
      const TLineFields fields{{"spf_domain", r.Domain}, {"depth", r.Depth}};
      if (!r.Text.empty())
        AppendOutput(reEMail, indent.substr(2) + MaskControls(r.Domain) + ": " + MaskControls(r.Text), clNavy, fields);
      if (!r.Problem.empty()) {
        std::string text = ReasonText(r.Problem);
        if (!r.ErrorTerm.empty()) text += ": \"" + MaskControls(r.ErrorTerm) + "\"";
        // A domain without a record is no fault of the domain asked about.
        const bool fault = r.Depth > 0 || (r.Problem != "no_record" && r.Problem != "no_domain");
        AppendOutput(reEMail, indent.substr(2) + MaskControls(r.Domain) + ": " + text, fault ? clRed : clNavy,
                     JoinFields(fields, {{"spf_problem", r.Problem}}));
      }
      for (const spf::ShownTerm& t : r.Terms) {
        std::string line = indent + MaskControls(t.Text);
        TColor color = clBlack;
        if (t.Lookup > 0) {
          if (t.PastLimit) {
            line += LangText("Main|OutSpfLookupPast", "  [Abfrage %s1%: über der Grenze von 10]",
                             {std::to_string(t.Lookup)});
            color = overLimit ? clRed : clNavy;
          } else {
            line += LangText("Main|OutSpfLookup", "  [Abfrage %s1%]", {std::to_string(t.Lookup)});
          }
        }
        if (t.Void) line += LangText("Main|OutSpfVoid", "  – ohne Ergebnis");
        if (t.State == spf::TermState::Match) line += LangText("Main|OutSpfMatch", "  – trifft zu");
        if (t.State == spf::TermState::Error) color = clRed;
        if (!t.Note.empty() && !(t.PastLimit && t.Note == "limit")) line += "  – " + ReasonText(t.Note);
        AppendOutput(reEMail, line, color,
                     {{"spf_term", t.Text},
                      {"depth", r.Depth},
                      {"lookup", t.Lookup > 0 ? TLineValue(t.Lookup) : TLineValue()},
                      {"past_limit", t.PastLimit},
                      {"state", StateName(t.State)}});
        if (t.Child >= 0) self(self, t.Child);
      }
    };
    if (!ev.Tree.empty()) showRecord(showRecord, 0);

    const std::string name = spf::ResultName(ev.Outcome);
    const bool failed = ev.Outcome == spf::Result::PermError || ev.Outcome == spf::Result::TempError;
    const TLineFields counts{{"lookups", ev.Lookups}, {"void_lookups", ev.VoidLookups}};
    AppendOutput(reEMail,
                 LangText("Main|OutSpfCounts", "  DNS-Abfragen: %s1% (höchstens 10), davon ohne Ergebnis: %s2% (höchstens 2)",
                          {std::to_string(ev.Lookups), std::to_string(ev.VoidLookups)}),
                 ev.Lookups > limits.Lookups && !ev.Evaluated ? clRed : clNavy, counts);
    const bool answered = ev.Evaluated || failed || ev.Outcome == spf::Result::None;
    if (answered) {
      std::string line = LangText("Main|OutSpfResult", "  SPF-Ergebnis: %s1%", {name});
      if (!ev.Term.empty()) line += LangText("Main|OutSpfResultTerm", " (Term \"%s1%\")", {MaskControls(ev.Term)});
      const TColor color = failed ? clRed : ev.Outcome == spf::Result::Pass ? clGreen : clBlack;
      AppendOutput(reEMail, line, color, {{"spf_result", name}});
      if (failed || ev.Outcome == spf::Result::None)
        AppendOutput(reEMail, LangText("Main|OutSpfReason", "  Grund: %s1%", {ReasonText(ev.Reason)}),
                     failed ? clRed : clNavy);
      if (!ev.Explanation.empty())
        AppendOutput(reEMail, LangText("Main|OutSpfExplanation", "  Erklärung der Domain: %s1%",
                                       {MaskControls(ev.Explanation)}),
                     clBlack);
    } else {
      AppendOutput(reEMail, LangText("Main|OutSpfNoResult", "  Ohne Absender-IP kein SPF-Ergebnis."), clNavy);
    }
    if (ev.Truncated)
      AppendOutput(reEMail, "  " + ReasonText("bound"), clRed);
    return TLineFields{{"result", answered ? TLineValue(name) : TLineValue()},
                       {"term", ev.Term.empty() ? TLineValue() : TLineValue(ev.Term)},
                       {"lookups", ev.Lookups},
                       {"void_lookups", ev.VoidLookups}};
  };
  result.push_back({"spf", showSpf(spf::CheckHost(dns, who, limits))});
  // The HELO identity, when a name and an address are given: the same
  // check for the name the client greets with.
  if (!who.Ip.Empty() && !EMailSpfHelo.empty()) {
    spf::Identity helo = who;
    helo.Domain = LowerAscii(Trim(EMailSpfHelo));
    helo.Sender = "postmaster@" + helo.Domain;
    AppendOutput(reEMail, LangText("Main|OutSpfHelo", "  SPF der HELO-Identität \"%s1%\":", {MaskControls(helo.Domain)}),
                 clNavy);
    result.push_back({"spf_helo", showSpf(spf::CheckHost(dns, helo, limits))});
  }
  EMailDmarcSection(domain, result);
  EMailDkimSection(domain, result);
}

}  // namespace quovix
