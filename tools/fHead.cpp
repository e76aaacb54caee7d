// HTTP-Header tool: the status line and response headers a web server
// returns for a URL, following further redirects when asked to.
#include <arpa/inet.h>

#include <algorithm>
#include <optional>
#include <utility>

#include "app/fJsonLines.h"
#include "app/formMain.h"
#include "common/DateTime.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"
#include "tools/fHeadLines.h"
#include "tools/fHttpTools.h"
#include "tools/fTlsLines.h"

namespace quovix {

namespace {
// Rounds of the redirect repetition before the tool gives up on a server
// whose redirects never end.
constexpr int kMaxHeadRounds = 15;
constexpr int kDefaultTimeoutMs = 2000;

// The user's date and time formats; exactly midnight shows the date alone.
std::string DateText(double value) {
  DateTimeParts p;
  if (DecodeDateTime(value, p) && p.Hour == 0 && p.Minute == 0 && p.Second == 0 &&
      p.Millisecond == 0)
    return Trim(FormatDateTime(value, UserFormats().Date, ""));
  return FormatDateTimeUser(value);
}
}  // namespace

ToolUrl SplitToolUrl(const std::string& url) {
  ToolUrl u;
  std::string rest = url;
  if (const size_t sep = rest.find("://"); sep != std::string::npos) {
    u.Scheme = rest.substr(0, sep + 3);
    rest.erase(0, sep + 3);
  } else {
    u.Scheme = "http://";
  }
  if (const size_t slash = rest.find('/'); slash != std::string::npos) {
    u.Path = rest.substr(slash);
    rest.resize(slash);
  }
  u.Host = rest;
  return u;
}

std::string IdnHostPart(const std::string& host, const char** refusal) {
  if (refusal) *refusal = nullptr;
  std::string user, name = host, port;
  if (const size_t at = name.rfind('@'); at != std::string::npos) {
    user = name.substr(0, at + 1);
    name.erase(0, at + 1);
  }
  if (!name.empty() && name[0] == '[') {
    // A bracketed IPv6 address needs no encoding.
    return host;
  }
  if (const size_t colon = name.rfind(':'); colon != std::string::npos) {
    port = name.substr(colon);
    name.resize(colon);
  }
  std::string idn;
  if (const char* why = EncodeHostName(name, idn)) {
    if (refusal) *refusal = why;
    idn = name;
  }
  return user + idn + port;
}

void TfrmMain::cmbHeadURLExit(TComboBox& sender) {
  if (sender.Text().find("://") == std::string::npos)
    sender.SetText("http://" + Trim(sender.Text()));
}

void TfrmMain::btnHeadStartClick() {
  if (ToolRunGuard::AbortClick(btnHeadStart)) return;
  ToolRunGuard::Options run;
  run.Start = &btnHeadStart;
  run.Inputs = {&lblHeadURL, &cmbHeadURL, &lblHeadTimeout, &cmbHeadTimeout, &chkHeadRedirect,
                &chkHeadTls, &chkHeadHttp2};
  run.MainInput = &cmbHeadURL;
  run.Pane = &reHead;
  run.StatusKey = "Main|sbMainHeadGet";
  run.StatusDefault = "Headerdaten von \"%s1%\" werden abgefragt...";
  run.StatusArg = cmbHeadURL.Text();
  run.Abortable = true;
  ToolRunGuard guard(*this, std::move(run));
  // Each round is exactly one request, shown under its own URL: the client
  // follows no redirect for this tool, the rounds below walk the chain hop by
  // hop. The other HTTP tools keep the client's own redirect handling.
  struct ClientRedirectsOff {
    HttpClient& http;
    bool saved = http.HandleRedirects;
    explicit ClientRedirectsOff(HttpClient& h) : http(h) { http.HandleRedirects = false; }
    ~ClientRedirectsOff() { http.HandleRedirects = saved; }
  } redirectsOff{IdHTTP};
  // HTTP/2 as the box says for this tool alone; the others stay with HTTP/1.1.
  struct Http2AsBoxSays {
    HttpClient& http;
    bool saved = http.AllowHttp2;
    Http2AsBoxSays(HttpClient& h, bool allow) : http(h) { http.AllowHttp2 = allow; }
    ~Http2AsBoxSays() { http.AllowHttp2 = saved; }
  } http2{IdHTTP, chkHeadHttp2.Checked()};
  const int timeout = StrToIntDef(cmbHeadTimeout.Text(), kDefaultTimeoutMs);
  std::string current = Trim(cmbHeadURL.Text());
  std::vector<std::string> visited;
  // The final answer's status (0: none arrived) and how many requests it took.
  int finalStatus = 0, requests = 0;
  struct Summary {
    TfrmMain& f;
    const std::string url;
    const std::string& last;
    const int &status, &requests;
    ~Summary() {
      f.SetToolResult(pgHead, {{"url", url},
                               {"final_url", last},
                               {"status_code", status > 0 ? TLineValue(status) : TLineValue()},
                               {"requests", requests}});
    }
  } summary{*this, current, current, finalStatus, requests};
  // Each host's DNS HTTPS record is asked once a run.
  std::vector<std::string> httpsRecordHosts;
  auto httpsRecord = [&](const std::string& url, const TLineFields& hop) {
    std::string host;
    try {
      host = LowerAscii(ParseHttpUrl(url).Host);
    } catch (const HttpError&) {
      return;
    }
    unsigned char buf[16];
    if (host.empty() || inet_pton(AF_INET, host.c_str(), buf) == 1 ||
        inet_pton(AF_INET6, host.c_str(), buf) == 1 ||
        std::find(httpsRecordHosts.begin(), httpsRecordHosts.end(), host) != httpsRecordHosts.end())
      return;
    TIdDNSResolver dns = IdDNSResolver;
    dns.Host = DnsServerSwitch.empty() ? ActiveDnsServerIP : DnsServerSwitch;
    if (dns.Host.empty()) return;  // no DNS server set: nobody to ask
    httpsRecordHosts.push_back(host);
    dns.QuestionType = kTypeHTTPS;
    dns.WaitingTime = std::max(100, std::min(timeout, NameResTimeout));
    std::string failure;
    std::vector<const TResultRecord*> records;
    try {
      dns.SendQuery(host);
      records = AnswerRecords(dns.QueryResult, host, kTypeHTTPS);
    } catch (const EIdDnsResolverError& e) {
      // A name without the record is no failure: there is none.
      if (e.Rcode != 3) failure = e.what();
    }
    for (auto& l : HttpsRecordLines(host, records, failure, hop))
      AppendOutput(reHead, l.Text, l.Color, std::move(l.Fields));
  };
  // The last hop's answer, for the security headers after it.
  std::vector<std::string> lastHeaders;
  bool lastAnswered = false, lastHttps = false;
  TLineFields lastHop;
  auto abortLine = [this] {
    AppendOutput(reHead, "\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."), clRed);
  };

  for (int round = 1;; ++round) {
    IdHTTP.ClearResponse();
    // The fields of this hop's lines: which request they belong to.
    const TLineFields hop{{"hop", round}, {"url", current}};
    lastAnswered = false;
    lastHop = hop;
    lastHttps = LowerAscii(SplitToolUrl(current).Scheme) == "https://";
    auto hopFields = [&hop](const TLineFields& more) { return JoinFields(hop, more); };
    AppendOutput(reHead, LangText("Main|OutHeadOverview", "Übersicht:"), clBlue);
    AppendOutput(reHead, LangText("Main|OutHeadInfoQueryWith", "  Anfrage mit:      %s1%", {current}),
                 clNavy, hop);
    ToolUrl parts = SplitToolUrl(current);
    if (parts.Host.empty()) parts.Host = "localhost";
    const char* refusal = nullptr;
    const std::string idn = IdnHostPart(parts.Host, &refusal);
    AppendOutput(reHead, LangText("Main|OutHeadInfoHostName", "  Hostname:         %s1%", {parts.Host}),
                 clNavy);
    if (refusal) {
      AppendIdnFailure(reHead, parts.Host, refusal, hop);
      return;
    }
    if (idn != parts.Host)
      AppendOutput(reHead, LangText("Main|OutHeadInfoIdnEncoded", "  IDN-kodiert:      %s1%", {idn}),
                   clNavy);
    const std::string requestUrl = parts.Scheme + idn + parts.Path;
    // Compared with the URL of this round, so a followed redirect that needs
    // no change shows none.
    if (requestUrl != current)
      AppendOutput(reHead,
                   LangText("Main|OutHeadInfoQueryChangedTo", "  Geändert auf:     %s1%", {requestUrl}),
                   clNavy);
    visited.push_back(current);
    visited.push_back(requestUrl);

    if (IdHTTP.Connected()) IdHTTP.Disconnect();
    IdHTTP.ConnectTimeout = timeout;
    IdHTTP.ReadTimeout = timeout;
    ApplyProxyOptions(IdHTTP);
    std::string malformed, brokeOff;
    std::optional<HttpFailure> failure;
    ++requests;
    finalStatus = 0;
    try {
      IdHTTP.Head(requestUrl);
    } catch (const HttpError& e) {
      if (e.kind() == HttpError::Kind::Aborted) {
        if (IdHTTP.Connected()) IdHTTP.Disconnect();
        return abortLine();
      }
      failure = DescribeHttpFailure(e);
      if (e.kind() == HttpError::Kind::Socket && failure->Unreached) {
        AppendOutput(reHead, "\r\n" + HttpFailureLine(*failure), clRed,
                     hopFields({{"reason", "not_reachable"}, {"cause", failure->Cause}}));
        return;
      }
      // Timeouts and error statuses are not fatal: whatever arrived is shown.
      if (failure->Cause == "malformed") malformed = e.what();
      if (e.kind() != HttpError::Kind::Status) brokeOff = e.what();
    }

    // What the connection showed, under the headers and before the line
    // that ends the hop: a chain that does not verify is seen in full.
    auto connectionDetails = [&] {
      const TlsReport& tls = IdHTTP.LastTls;
      if (chkHeadTls.Checked() && (tls.HandshakeDone || !tls.Chain.empty())) {
        AppendOutput(reHead, "", clBlue);
        AppendTlsReport(*this, reHead, tls, hop);
      }
      for (auto& l : HeadTimingLines(IdHTTP.LastTiming, hop))
        AppendOutput(reHead, l.Text, l.Color, std::move(l.Fields));
    };

    const HttpResponseInfo& r = IdHTTP.Response;
    if (!r.ResponseText.empty() || !r.RawHeaders.empty()) {
      finalStatus = r.ResponseCode;
      AppendOutput(reHead, "\r\n" + LangText("Main|OutHeadHeaderInfo", "Header-Informationen:"), clBlue);
      AppendOutput(reHead, LangText("Main|OutHeadServerReply", "  Serverantwort:    %s1%", {r.ResponseText}),
                   clNavy, hopFields({{"status_code", r.ResponseCode}}));
      if (!r.Server.empty())
        AppendOutput(reHead, LangText("Main|OutHeadServerSystem", "  Server (System):  %s1%", {r.Server}),
                     clNavy);
      if (r.Date != 0)
        AppendOutput(reHead,
                     LangText("Main|OutHeadServerTime", "  Systemzeit:       %s1%", {DateText(r.Date)}),
                     clNavy);
      if (r.LastModified != 0)
        AppendOutput(reHead,
                     LangText("Main|OutHeadLastModified", "  Zuletzt geändert: %s1%",
                              {DateText(r.LastModified)}),
                     clNavy);
      AppendOutput(reHead, "\r\n" + LangText("Main|OutHeadReply", "Antwort des Servers:") + "\r\n", clBlue);
      std::string block = r.ResponseText + "\r\n";
      for (size_t i = 0; i < r.RawHeaders.size(); ++i)
        block += (i ? "\r\n" : "") + r.RawHeaders[i];
      // The status line and each header, with their parts as fields, under
      // the hop they belong to.
      AppendOutputLines(reHead, Trim(block), clBlack, [&](const std::string& line) -> TLineFields {
        if (line == Trim(r.ResponseText)) return hopFields({{"status_code", r.ResponseCode}});
        const size_t colon = line.find(':');
        if (colon == std::string::npos) return {};
        return hopFields({{"name", line.substr(0, colon)}, {"value", Trim(line.substr(colon + 1))}});
      });
      lastAnswered = true;
      lastHeaders = r.RawHeaders;
      std::vector<std::string> h3;
      for (const auto& line : r.RawHeaders)
        if (const size_t colon = line.find(':');
            colon != std::string::npos && SameText(Trim(line.substr(0, colon)), "Alt-Svc"))
          for (auto& e : AltSvcH3Entries(line.substr(colon + 1))) h3.push_back(std::move(e));
      if (!h3.empty()) {
        AppendOutput(reHead, "\r\n" + LangText("Main|OutHeadHttp3", "HTTP/3 angeboten (Alt-Svc):"), clBlue);
        for (const auto& e : h3)
          AppendOutput(reHead, "  " + e, clNavy, hopFields({{"alt_svc_h3", e}}));
      }
      httpsRecord(requestUrl, hop);
      connectionDetails();
      // Headers of an answer that broke off are not the whole answer.
      if (!r.HeaderComplete)
        AppendOutput(reHead,
                     "\r\n" + LangText("Main|OutHeadAnswerIncomplete",
                                       "Die Antwort ist unvollständig, der Header-Block bricht ab: %s1%",
                                       {brokeOff}),
                     clRed, hopFields({{"reason", "incomplete"}}));
    } else if (connectionDetails(); !malformed.empty()) {
      AppendOutput(reHead,
                   "\r\n" + LangText("Main|OutHeadAnswerMalformed", "Fehlerhafte Antwort des Servers: %s1%",
                                     {malformed}),
                   clRed, hopFields({{"reason", "malformed"}}));
    } else if (failure && failure->Cause == "bad_url") {
      AppendOutput(reHead, "\r\n" + LangText("Main|OutHeadBadUrl", "Diese URL kann nicht abgefragt werden: %s1%",
                                             {brokeOff}),
                   clRed, hopFields({{"reason", "bad_url"}}));
    } else if (failure && failure->Cause == "tls") {
      // The handshake failed for a reason of its own: that is the whole
      // story, the server was reached.
      AppendOutput(reHead,
                   "\r\n" + LangText("Main|OutHeadTlsFailed", "Sichere Verbindung fehlgeschlagen: %s1%",
                                     {brokeOff}),
                   clRed, hopFields({{"reason", "tls"}}));
    } else if (failure && !failure->Unreached) {
      // Reached, then nothing came: the server's fault, not the network's.
      AppendOutput(reHead,
                   "\r\n" + LangText("Main|OutHeadNoAnswer", "Keine Antwort des Servers: %s1%.",
                                     {failure->Text}),
                   failure->TimedOut ? clMaroon : clRed,
                   hopFields({{"reason", failure->TimedOut ? "timeout" : "no_answer"},
                              {"cause", failure->Cause}}));
    } else {
      AppendOutput(reHead, "\r\n" + (failure ? HttpFailureLine(*failure)
                                              : LangText("Main|OutHeadServerNotReachable",
                                                         "Server nicht erreichbar!")),
                   clRed,
                   hopFields(failure ? TLineFields{{"reason", "not_reachable"}, {"cause", failure->Cause}}
                                     : TLineFields{{"reason", "not_reachable"}}));
    }
    if (IdHTTP.Connected()) IdHTTP.Disconnect();
    if (guard.Aborted()) return abortLine();

    const std::string next = chkHeadRedirect.Checked() ? r.Location : std::string();
    if (next.empty()) break;
    AppendOutput(reHead, "\r\n" + LangText("Main|OutHeadRedirectTo", "Umleitung nach: \"%s1%\":", {next}) + "\r\n",
                 clBlue, hopFields({{"location", next}}));
    if (std::find(visited.begin(), visited.end(), next) != visited.end()) {
      AppendOutput(reHead,
                   LangText("Main|OutHeadRedirectRepeated",
                            "Diese Adresse wurde bereits abgefragt, die Umleitung wird nicht weiter verfolgt."),
                   clRed, hopFields({{"reason", "redirect_repeated"}}));
      break;
    }
    if (round >= kMaxHeadRounds) {
      AppendOutput(reHead,
                   LangText("Main|OutHeadRedirectLimit",
                            "Nach %s1% Abfragen wird die Umleitung nicht weiter verfolgt.",
                            {std::to_string(kMaxHeadRounds)}),
                   clRed, hopFields({{"reason", "redirect_limit"}}));
      break;
    }
    current = next;
  }
  if (lastAnswered) {
    // A finding of these lines is no failure of the run: the server answered.
    const bool faultBefore = std::any_of(reHead.Lines().begin(), reHead.Lines().end(),
                                         [](const TOutputLine& l) { return IsFailureColor(l.Color); });
    for (auto& l : SecurityHeaderLines(lastHeaders, lastHttps, lastHop))
      AppendOutput(reHead, l.Text, l.Color, std::move(l.Fields));
    if (!faultBefore) SetToolAnswered(pgHead);
  }
  AppendOutput(reHead, "\r\n" + LangText("Main|OutHeadQueryDone", "Anfrage beendet."), clBlue);
}

}  // namespace quovix
