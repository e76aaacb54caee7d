// Mail-Check's section of the recipient domain's transport policies: the
// MTA-STS record and policy (fetched as a sending server fetches it, with
// the certificate verified and no redirect followed), each exchanger
// compared with the policy's patterns, and the TLS reporting record; then,
// after an exchanger's handshake, whether that TLS would satisfy the policy.
#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "app/formMain.h"
#include "clients/MailPolicy.h"
#include "clients/MtaSts.h"
#include "common/Deadline.h"
#include "common/Pump.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"
#include "tools/fHttpTools.h"

namespace quovix {

namespace {

constexpr int kStsDnsTimeMs = 10000;
constexpr int kDefaultTimeoutMs = 2000;
constexpr std::size_t kMaxExchangers = 20;

// Why a TXT record is broken, in the user's words.
std::string RecordFaultText(const sts::Problem& p) {
  const std::string detail = MaskControls(p.Detail);
  if (p.Code == "version")
    return LangText("Main|OutStsTxtVersion", "\"%s1%\" steht nicht am Anfang", {detail});
  if (p.Code == "id")
    return LangText("Main|OutStsTxtId",
                    "\"id\" fehlt oder ist keine Folge von 1 bis 32 Buchstaben und Ziffern: \"%s1%\"", {detail});
  if (p.Code == "rua") return LangText("Main|OutStsTxtRua", "\"rua\" fehlt oder hat zu viele Ziele");
  if (p.Code == "scheme")
    return LangText("Main|OutStsTxtScheme", "kein mailto:- oder https:-Ziel: \"%s1%\"", {detail});
  if (p.Code == "duplicate") return LangText("Main|OutStsTxtDuplicate", "Tag doppelt: %s1%", {detail});
  return LangText("Main|OutStsTxtSyntax", "kein Tag=Wert: \"%s1%\"", {detail});
}

// A problem of a policy file, in the user's words.
std::string PolicyProblemText(const sts::Problem& p) {
  const std::string detail = MaskControls(p.Detail);
  if (p.Code == "lines")
    return LangText("Main|OutStsPolLines", "mehr als %s1% Zeilen, der Rest ist nicht gelesen", {detail});
  if (p.Code == "line_length")
    return LangText("Main|OutStsPolLineLength", "Zeile zu lang: \"%s1%…\"", {detail});
  if (p.Code == "syntax")
    return LangText("Main|OutStsPolSyntax", "keine Zeile \"Schlüssel: Wert\": \"%s1%\"", {detail});
  if (p.Code == "duplicate") return LangText("Main|OutStsPolDuplicate", "Schlüssel doppelt: %s1%", {detail});
  if (p.Code == "no_mx")
    return LangText("Main|OutStsPolNoMx", "kein \"mx\" im Modus %s1%", {detail});
  if (p.Code == "mx_count") return LangText("Main|OutStsPolMxCount", "mehr als %s1% mx-Muster", {detail});
  if (detail.empty()) return LangText("Main|OutStsPolMissing", "\"%s1%\" fehlt", {p.Code});
  if (p.Code == "mx") return LangText("Main|OutStsPolMx", "kein Hostname als mx-Muster: \"%s1%\"", {detail});
  return LangText("Main|OutStsPolBadValue", "ungültiger Wert für %s1%: \"%s2%\"", {p.Code, detail});
}

// The colour of a finding that a sending server would act on, by mode.
TColor ModeColor(const std::string& mode) {
  return mode == "enforce" ? clRed : mode == "testing" ? clMaroon : clNavy;
}

std::string ContentType(const HttpResponseInfo& r) {
  for (const std::string& h : r.RawHeaders) {
    const std::size_t colon = h.find(':');
    if (colon != std::string::npos && LowerAscii(Trim(h.substr(0, colon))) == "content-type")
      return Trim(h.substr(colon + 1));
  }
  return {};
}

// The exchangers of the domain in preference order (equal preferences as
// the reply gave them), a null MX left out.
std::vector<std::string> ExchangersOf(TIdDNSResolver& dns, const std::string& domain) {
  dns.QueryResult.Clear();
  dns.QueryType = {qtMX};
  try {
    dns.SendQuery(domain, 1);
  } catch (const std::exception&) {
    return {};
  }
  std::vector<std::string> out;
  for (const TMailExchanger& mx : MailExchangers(dns.QueryResult))
    if (out.size() < kMaxExchangers) out.push_back(mx.Host);
  return out;
}

}  // namespace

bool TfrmMain::EMailStsSection(const std::string& domain, const std::string& server, TLineFields& result) {
  EMailStsMode.clear();
  EMailStsMx.clear();
  if (!chkEMailTls.Checked()) return true;
  AppendOutput(reEMail, LangText("Main|OutStsHead", "Transport-Richtlinien der Domain \"%s1%\":", {domain}), clBlue);
  IdDNSResolver.Host = ActiveDnsServerIP;
  IdDNSResolver.WaitingTime = NameResTimeout;
  TResolverPolicyDns dns(IdDNSResolver, Deadline::In(kStsDnsTimeMs), [] { return AbortRequested(); });
  auto aborted = [this] {
    if (!AbortRequested()) return false;
    AppendOutput(reEMail, "\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."), clRed);
    return true;
  };
  TLineValue modeResult;
  // The maroon line of a record that is not known (DNS failure), not one
  // (several) or broken, told the same way for both kinds; false for a
  // valid record and for none.
  auto recordFault = [this](const std::string& label, const char* field, const std::string& name,
                            const spf::DnsAnswer& answer, sts::TxtState state, const std::string& text,
                            const sts::Problem& fault) {
    std::string line, code;
    if (answer.Status == spf::DnsStatus::Failed) {
      line = LangText("Main|OutStsRecordDns", "  %s1%: DNS-Fehler, der Eintrag bei %s2% ist nicht bekannt.",
                      {label, name});
      code = "dns";
    } else if (state == sts::TxtState::Several) {
      line = LangText("Main|OutStsRecordSeveral", "  %s1%: mehrere Einträge bei %s2%: keiner gilt.", {label, name});
      code = "several";
    } else if (state == sts::TxtState::Malformed) {
      line = LangText("Main|OutStsRecordBad", "  %s1%: Eintrag bei %s2% fehlerhaft, %s3%: %s4%",
                      {label, name, RecordFaultText(fault), MaskControls(text)});
      code = fault.Code;
    } else {
      return false;
    }
    AppendOutput(reEMail, line, clMaroon, {{field, code}});
    return true;
  };

  // ---- MTA-STS: the record, then the policy it announces.
  const std::string stsName = "_mta-sts." + domain;
  const spf::DnsAnswer stsTxt = dns.Query(stsName, spf::kTxt);
  if (aborted()) return false;
  const sts::StsRecord rec = sts::ReadStsRecords(stsTxt.Status == spf::DnsStatus::Ok ? stsTxt.Values
                                                                                 : std::vector<std::string>{});
  sts::Policy policy;
  bool inForce = false;
  const bool stsFault = recordFault("MTA-STS", "sts_problem", stsName, stsTxt, rec.State, rec.Text, rec.Fault);
  if (!stsFault && rec.State == sts::TxtState::None) {
    AppendOutput(reEMail, LangText("Main|OutStsNone", "  MTA-STS: kein Eintrag bei %s1%, keine Richtlinie.", {stsName}),
                 clNavy);
  } else if (!stsFault) {
    AppendOutput(reEMail, "  " + stsName + ": " + MaskControls(rec.Text), clNavy, {{"sts_id", rec.Id}});
    inForce = EMailStsFetch(domain, policy);
    if (aborted()) return false;
  }

  // ---- Each exchanger against the patterns of a policy in force.
  if (inForce) {
    EMailStsMode = policy.Mode;
    EMailStsMx = policy.Mx;
    modeResult = policy.Mode;
    std::vector<std::string> exchangers;
    if (!server.empty())
      exchangers.push_back(server);
    else
      exchangers = ExchangersOf(IdDNSResolver, domain);
    if (aborted()) return false;
    if (exchangers.empty())
      AppendOutput(reEMail,
                   LangText("Main|OutStsNoMx", "  Kein Mail-Exchanger zum Vergleich mit der Richtlinie bekannt."),
                   clNavy);
    for (const std::string& mx : exchangers) {
      const int at = sts::MatchingPattern(policy.Mx, mx);
      const std::string shown = MaskControls(mx);
      if (at >= 0)
        AppendOutput(reEMail,
                     LangText("Main|OutStsMxMatch", "  MX %s1%: passt zum Muster \"%s2%\" der Richtlinie",
                              {shown, policy.Mx[static_cast<std::size_t>(at)]}),
                     clGreen, {{"mx", mx}, {"mx_matches", true}});
      else
        AppendOutput(reEMail,
                     LangText("Main|OutStsMxNoMatch", "  MX %s1%: passt zu keinem Muster der Richtlinie (Modus %s2%)",
                              {shown, policy.Mode}),
                     ModeColor(policy.Mode), {{"mx", mx}, {"mx_matches", false}});
    }
  }

  // ---- TLS reporting.
  const std::string rptName = "_smtp._tls." + domain;
  const spf::DnsAnswer rptTxt = dns.Query(rptName, spf::kTxt);
  if (aborted()) return false;
  const sts::TlsRptRecord rpt = sts::ReadTlsRptRecords(rptTxt.Status == spf::DnsStatus::Ok ? rptTxt.Values
                                                                                      : std::vector<std::string>{});
  std::vector<TLineValue> rua;
  const bool rptFault = recordFault(LangText("Main|OutTlsRptLabel", "TLS-Berichte"), "tlsrpt_problem", rptName,
                                    rptTxt, rpt.State, rpt.Text, rpt.Fault);
  if (!rptFault && rpt.State == sts::TxtState::None) {
    AppendOutput(reEMail,
                 LangText("Main|OutTlsRptNone",
                          "  TLS-Berichte: kein Eintrag bei %s1%, gescheiterte TLS-Verbindungen meldet niemand.",
                          {rptName}),
                 clNavy);
  } else if (!rptFault) {
    AppendOutput(reEMail, "  " + rptName + ": " + MaskControls(rpt.Text), clNavy);
    std::string list;
    for (const std::string& u : rpt.Rua) {
      list += (list.empty() ? "" : ", ") + MaskControls(u);
      rua.emplace_back(u);
    }
    AppendOutput(reEMail, LangText("Main|OutTlsRptRua", "  TLS-Berichte an: %s1%", {list}), clNavy,
                 {{"tlsrpt_rua", TLineValue::List(rua)}});
  }
  result.push_back({"sts_mode", modeResult});
  result.push_back({"tlsrpt_rua", TLineValue::List(std::move(rua))});
  AppendOutput(reEMail, "", clBlack);
  return true;
}

bool TfrmMain::EMailStsFetch(const std::string& domain, sts::Policy& policy) {
  const std::string url = "https://mta-sts." + domain +
                          (EMailStsPort == 443 ? std::string() : ":" + std::to_string(EMailStsPort)) +
                          "/.well-known/mta-sts.txt";
  AppendOutput(reEMail, LangText("Main|OutStsFetch", "  Richtlinie von %s1%:", {url}), clNavy);
  // A sending server follows no redirect and reads no more than the cap;
  // the client's settings for the other tools come back afterwards.
  struct Kept {
    HttpClient& h;
    bool redirects = h.HandleRedirects;
    HttpLimits limits = h.Limits;
    int connect = h.ConnectTimeout, read = h.ReadTimeout;
    ~Kept() {
      h.HandleRedirects = redirects;
      h.Limits = limits;
      h.ConnectTimeout = connect;
      h.ReadTimeout = read;
    }
  } kept{IdHTTP};
  const int timeout = StrToIntDef(cmbEMailTimeout.Text(), kDefaultTimeoutMs);
  if (IdHTTP.Connected()) IdHTTP.Disconnect();
  IdHTTP.HandleRedirects = false;
  IdHTTP.Limits.MaxBodyBytes = sts::kMaxPolicyBytes;
  IdHTTP.ConnectTimeout = timeout;
  IdHTTP.ReadTimeout = timeout;
  ApplyProxyOptions(IdHTTP);
  IdHTTP.ClearResponse();
  auto failed = [this](const std::string& why, const std::string& cause) {
    AppendOutput(reEMail, LangText("Main|OutStsFetchFailed", "  Richtlinie nicht abrufbar: %s1%", {why}), clMaroon,
                 {{"sts_problem", "fetch"}, {"cause", cause}});
    return false;
  };
  std::string body;
  try {
    body = IdHTTP.Get(url);
  } catch (const HttpError& e) {
    if (IdHTTP.Connected()) IdHTTP.Disconnect();
    if (e.kind() == HttpError::Kind::Aborted) return false;
    const int code = IdHTTP.ResponseCode();
    if (e.kind() == HttpError::Kind::Status && code >= 300 && code <= 399)
      return failed(LangText("Main|OutStsRedirect", "Umleitung \"%s1%\" nach %s2%; sendende Server folgen ihr nicht",
                             {MaskControls(IdHTTP.ResponseText()), MaskControls(IdHTTP.Response.Location)}),
                    "redirect");
    // The reader's own words for a body past the cap.
    if (e.kind() == HttpError::Kind::Protocol &&
        std::string(e.what()) == HttpError::Malformed("body too large").what())
      return failed(LangText("Main|OutStsTooLarge", "mehr als %s1% KiB", {std::to_string(sts::kMaxPolicyBytes / 1024)}),
                    "too_large");
    const HttpFailure why = DescribeHttpFailure(e);
    return failed(HttpFailureLine(why), why.Cause);
  }
  if (IdHTTP.Connected()) IdHTTP.Disconnect();
  if (IdHTTP.ResponseCode() != 200)
    return failed(
        LangText("Main|OutStsStatus", "Antwort \"%s1%\", nur 200 zählt", {MaskControls(IdHTTP.ResponseText())}),
        "status");
  // Senders check the type, so that a page or an upload someone else could
  // place at that path is never taken for a policy.
  const std::string type = ContentType(IdHTTP.Response);
  if (LowerAscii(Trim(type.substr(0, type.find(';')))) != "text/plain")
    return failed(LangText("Main|OutStsType", "Inhaltstyp \"%s1%\" statt text/plain, sendende Server verwerfen sie",
                           {MaskControls(type)}),
                  "content_type");

  policy = sts::ParsePolicy(body);
  if (!policy.Version.empty()) AppendOutput(reEMail, "    version: " + MaskControls(policy.Version), clNavy);
  if (!policy.Mode.empty()) AppendOutput(reEMail, "    mode: " + MaskControls(policy.Mode), clNavy);
  for (const std::string& mx : policy.Mx) AppendOutput(reEMail, "    mx: " + mx, clNavy);
  if (policy.MaxAge >= 0) AppendOutput(reEMail, "    max_age: " + std::to_string(policy.MaxAge), clNavy);
  for (const std::string& key : policy.Ignored)
    AppendOutput(reEMail,
                 LangText("Main|OutStsPolIgnored", "    %s1%: unbekannter Schlüssel, ignoriert", {MaskControls(key)}),
                 clNavy);
  for (const sts::Problem& p : policy.Problems)
    AppendOutput(reEMail, "    " + PolicyProblemText(p), clMaroon, {{"sts_problem", p.Code}});
  if (!policy.Valid()) {
    AppendOutput(reEMail,
                 LangText("Main|OutStsInvalid",
                          "  Richtlinie ungültig: sendende Server verfahren, als gäbe es keine."),
                 clMaroon);
    return false;
  }
  std::vector<TLineValue> patterns(policy.Mx.begin(), policy.Mx.end());
  AppendOutput(reEMail,
               LangText("Main|OutStsValid", "  Richtlinie gültig: Modus %s1%, %s2% mx-Muster, max_age %s3% s",
                        {policy.Mode, std::to_string(policy.Mx.size()), std::to_string(policy.MaxAge)}),
               policy.Mode == "none" ? clNavy : clGreen,
               {{"sts_mode", policy.Mode},
                {"sts_mx", TLineValue::List(std::move(patterns))},
                {"sts_max_age", policy.MaxAge}});
  return true;
}

void TfrmMain::EMailStsAfterTls(const std::string& mx, const TlsReport* tls) {
  if (EMailStsMode != "enforce" && EMailStsMode != "testing") return;
  const std::string shown = MaskControls(mx);
  std::string fault;
  // A sender delivers only to a listed exchanger, however good its TLS.
  if (sts::MatchingPattern(EMailStsMx, mx) < 0)
    fault = LangText("Main|OutStsNotListed", "nicht in der Richtlinie aufgeführt");
  else if (!tls || !tls->HandshakeDone)
    fault = LangText("Main|OutStsNoTls", "keine TLS-Verbindung");
  else if (!tls->Verified)
    fault = LangText("Main|OutStsUntrusted", "Zertifikatskette nicht vertrauenswürdig");
  else if (!tls->NameMatch)
    fault = LangText("Main|OutStsOtherName", "Name passt nicht zum Zertifikat");
  if (fault.empty()) {
    AppendOutput(reEMail,
                 LangText("Main|OutStsTlsOk", "MTA-STS: TLS mit %s1% erfüllt die Richtlinie (Modus %s2%).",
                          {shown, EMailStsMode}),
                 clGreen, {{"mx", mx}, {"sts_tls_ok", true}});
    return;
  }
  AppendOutput(reEMail,
               EMailStsMode == "enforce"
                   ? LangText("Main|OutStsTlsEnforce",
                              "MTA-STS: %s1% bei %s2%, ein sendender Server stellt im Modus enforce nicht zu.",
                              {fault, shown})
                   : LangText("Main|OutStsTlsTesting",
                              "MTA-STS: %s1% bei %s2%, im Modus testing wird das nur gemeldet.", {fault, shown}),
               ModeColor(EMailStsMode), {{"mx", mx}, {"sts_tls_ok", false}});
}

}  // namespace quovix
