// Mail-Check tool: whether the mail exchanger of a domain accepts an e-mail
// address, by an SMTP dialogue that stops after RCPT TO. No DATA command is
// ever sent, so no message can be delivered by accident.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <exception>
#include <functional>
#include <system_error>
#include <thread>
#include <utility>

#include "app/formMain.h"
#include "common/Deadline.h"
#include "common/Pump.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"
#include "tools/fEMailDane.h"
#include "tools/fHttpTools.h"
#include "tools/fTlsLines.h"

namespace quovix {

namespace {
constexpr int kDefaultTimeoutMs = 2000;
constexpr int kExtIpTimeoutMs = 5000;
constexpr int kNameLookupMs = 2000;
constexpr int kDefaultSmtpPort = 25;
constexpr int kImplicitTlsPort = 465;
// How long the end of the dialogue waits for the server to close its side.
constexpr int kCloseWaitMs = 500;
constexpr int kCloseWaitSliceMs = 50;

// A name that may go out as the greeting name: letters, digits, "-", "_"
// and "." only. Names from a web service or a reverse look-up are untrusted
// and could carry blanks or control characters into the command line.
bool UsableGreetingName(const std::string& name) {
  if (name.empty() || name.size() > 253) return false;
  for (unsigned char c : name)
    if (!std::isalnum(c) && c != '-' && c != '_' && c != '.') return false;
  return true;
}

bool HasControlCharacter(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

bool IsDottedAddress(const std::string& text) { return !text.empty() && !IsHostName(text); }

// Most exchangers asked at once with "Alle Mail-Exchanger prüfen"; the
// rest of a longer list is left out (and the run says so).
constexpr std::size_t kMaxExchangers = 10;

using Exchanger = TMailExchanger;

// What one exchanger's opening showed, asked on a worker of its own.
struct MxProbe {
  Exchanger Mx;
  bool Connected = false;
  TSmtpTls TlsState = TSmtpTls::Off;
  TlsReport Tls;
  std::string TlsError;
  std::vector<SmtpStep> Opening;
  SmtpReply LastReply;
  DaneAnswer Dane;
};

// The settings every probe shares, copied before the workers start.
struct ProbeSettings {
  std::string HeloName;
  int Timeout = 0;
  bool Tls = false;
  TIdDNSResolver Resolver;  // for the TLSA records
};

// Connect, greeting, EHLO and STARTTLS with its handshake, then QUIT; the
// TLSA records after. Runs on a worker: its waits never pump and end once
// stop is set; the client's own limits bound the whole exchange.
void Probe(MxProbe& probe, const ProbeSettings& settings, const std::atomic<bool>& stop) {
  WorkerStop scope(stop);
  TIdSMTP smtp;
  smtp.Host = probe.Mx.Host;
  smtp.Port = kDefaultSmtpPort;
  smtp.HeloName = settings.HeloName;
  smtp.ConnectTimeout = settings.Timeout;
  smtp.ReadTimeout = settings.Timeout;
  smtp.StartTls = settings.Tls;
  probe.Connected = smtp.Connect();
  probe.TlsState = smtp.TlsState;
  probe.Tls = smtp.Tls;
  probe.TlsError = smtp.TlsError;
  probe.Opening = smtp.Opening;
  probe.LastReply = smtp.LastReply;
  if (probe.Connected) smtp.Disconnect();
  if (probe.Connected && settings.Tls && DaneApplies(probe.Mx.Host) && !AbortRequested())
    probe.Dane = AskTlsa(settings.Resolver, probe.Mx.Host, kDefaultSmtpPort);
}

// Every probe on a worker of its own; the user-interface thread keeps the
// window alive meanwhile and, on an abort request, stops them all. False
// when the user aborted.
bool ProbeInParallel(std::vector<MxProbe>& probes, const ProbeSettings& settings) {
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> done{0};
  std::vector<std::thread> workers;
  for (MxProbe& p : probes) {
    try {
      workers.emplace_back([&p, &settings, &stop, &done] {
        try {
          Probe(p, settings, stop);
        } catch (const std::exception&) {
          p.Connected = false;  // what it got so far stays; the block says it did not answer
        }
        ++done;
      });
    } catch (const std::system_error&) {
      ++done;  // no worker: that exchanger stays unanswered
    }
  }
  bool aborted = false;
  while (done.load() < probes.size())
    if (PauseUntil(Deadline::In(10)) == WaitEnd::Aborted) {
      aborted = true;
      stop = true;
      break;
    }
  for (std::thread& t : workers) t.join();
  return !aborted;
}
}  // namespace

namespace {

// A reply is shown line by line as the server sent it (codes, "-"
// continuations, enhanced status codes); one that never came is said so,
// not shown as an empty line.
void ShowReply(TfrmMain& f, const SmtpReply& reply, bool accepted) {
  if (reply.Code == 0)
    f.AppendOutput(f.reEMail, LangText("Main|OutEMailNoReply", "Keine Antwort vom Server."), clRed);
  else
    f.AppendOutput(f.reEMail, reply.AsSent(), accepted ? clBlack : clRed, {{"smtp_code", reply.Code}});
}

// The handshake's report; a failed one also says why (the dialogue goes on
// without TLS after STARTTLS, so this is a finding, not the end).
void ShowTls(TfrmMain& f, const TlsReport& report, TSmtpTls state, const std::string& error,
             const TLineFields& mxField) {
  AppendTlsReport(f, f.reEMail, report, mxField);
  if (state == TSmtpTls::Failed)
    f.AppendOutput(f.reEMail, LangText("Main|OutEMailTlsFailed", "TLS-Handshake fehlgeschlagen: %s1%", {error}),
                   clMaroon, JoinFields(mxField, {{"tls_error", error}}));
}

// A session that stayed in plain text although TLS was asked for.
void ShowTlsNote(TfrmMain& f, TSmtpTls state, const TLineFields& mxField) {
  if (state == TSmtpTls::NotOffered)
    f.AppendOutput(f.reEMail,
                   LangText("Main|OutEMailTlsNotOffered",
                            "Der Server bietet kein STARTTLS an; die Sitzung läuft unverschlüsselt."),
                   clMaroon, JoinFields(mxField, {{"starttls", false}}));
  else if (state == TSmtpTls::Refused)
    f.AppendOutput(f.reEMail,
                   LangText("Main|OutEMailTlsRefused",
                            "Der Server hat STARTTLS abgelehnt; die Sitzung läuft unverschlüsselt."),
                   clMaroon, JoinFields(mxField, {{"starttls", false}}));
}

TLineValue TlsStateName(TSmtpTls state) {
  switch (state) {
    case TSmtpTls::Off: return {};
    case TSmtpTls::NotOffered: return std::string("not_offered");
    case TSmtpTls::Refused: return std::string("refused");
    case TSmtpTls::Failed: return std::string("failed");
    case TSmtpTls::Done: return std::string("done");
  }
  return {};
}

// The opening as it went: the greeting, EHLO, and HELO after a refused
// EHLO, each command as sent; STARTTLS, the handshake (shown by onTls) and
// EHLO again.
void ShowOpening(TfrmMain& f, const std::vector<SmtpStep>& opening, const std::string& server, int port,
                 const std::function<void()>& onTls) {
  for (const SmtpStep& step : opening) {
    if (step.Kind == SmtpStep::TKind::Tls) {
      onTls();
      continue;
    }
    if (step.Kind == SmtpStep::TKind::Reconnect) {
      f.AppendOutput(f.reEMail,
                     LangText("Main|OutEMailTlsReconnect", "Neue Verbindung ohne TLS mit \"%s1%\", Port %s2%:",
                              {server, std::to_string(port)}),
                     clNavy);
      continue;
    }
    if (!step.Command.empty()) f.AppendOutput(f.reEMail, step.Command, clBlue);
    const int expected = step.Command.empty() || step.Command == "STARTTLS" ? 220 : 250;
    ShowReply(f, step.Reply, step.Reply.Code == expected);
  }
}

// The window's resolver set up for the Mail-Check's own questions.
TIdDNSResolver DaneResolver(TfrmMain& f) {
  TIdDNSResolver resolver = f.IdDNSResolver;
  resolver.Host = ActiveDnsServerIP;
  resolver.WaitingTime = NameResTimeout;
  return resolver;
}

// With no SMTP connection, DANE is the exchangers' TLSA records alone:
// shown with whether they were validated, held against no certificate.
// The exchanger typed (with its port), else the domain's, at most
// kMaxExchangers of them.
void DaneWithoutConnection(TfrmMain& f, const std::string& domain, const std::string& typed) {
  auto [host, port] = SplitUrlPort(typed);
  if (port < 1 || port > 65535) port = kDefaultSmtpPort;
  std::vector<std::string> hosts;
  if (!host.empty()) {
    hosts.push_back(host);
  } else {
    port = kDefaultSmtpPort;
    TIdDNSResolver mx = DaneResolver(f);
    mx.QueryResult.Clear();
    mx.QueryType = {qtMX};
    try {
      mx.SendQuery(domain, 1);
    } catch (const std::exception&) {
      return;  // no exchangers known; the transport policies have said so
    }
    for (const TMailExchanger& e : MailExchangers(mx.QueryResult))
      if (hosts.size() < kMaxExchangers) hosts.push_back(e.Host);
  }
  bool headed = false;
  for (const std::string& name : hosts) {
    if (!DaneApplies(name) || AbortRequested()) continue;
    if (!headed) {
      f.AppendOutput(f.reEMail,
                     LangText("Main|OutEMailDaneOnlyHead", "DANE der Mail-Exchanger (ohne SMTP-Verbindung):"), clBlue);
      headed = true;
    }
    const DaneAnswer answer = AskTlsa(DaneResolver(f), name, port);
    if (AbortRequested()) return;
    AppendDaneLines(f, f.reEMail, answer, TlsReport{}, TDaneAgainst::NoConnection, {{"mx", name}});
  }
  if (headed) f.AppendOutput(f.reEMail, "", clBlack);
}

// "Alle Mail-Exchanger prüfen": every exchanger's opening asked at once,
// each block written in preference order. Returns the first exchanger that
// answered, for the dialogue up to RCPT TO, and its TLSA answer in dane;
// empty when the run ends here (none answered, or the user aborted), which
// is said.
std::string AllExchangers(TfrmMain& f, std::vector<Exchanger> list, int timeout, TLineValue& result,
                          DaneAnswer& dane) {
  TRichEdit& pane = f.reEMail;
  if (list.size() > kMaxExchangers) {
    f.AppendOutput(pane,
                   LangText("Main|OutEMailMxCut", "Nur die ersten %s1% von %s2% Mail-Exchangern werden geprüft.",
                            {std::to_string(kMaxExchangers), std::to_string(list.size())}),
                   clNavy, {{"mx_count", static_cast<std::int64_t>(list.size())}});
    list.resize(kMaxExchangers);
  }
  ProbeSettings settings;
  settings.HeloName = f.IdSMTP.HeloName;
  settings.Timeout = timeout;
  settings.Tls = f.chkEMailTls.Checked();
  settings.Resolver = DaneResolver(f);
  std::vector<MxProbe> probes;
  for (const Exchanger& mx : list) probes.push_back({mx});
  if (!ProbeInParallel(probes, settings)) {
    f.AppendOutput(pane, "\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."), clRed);
    return {};
  }
  std::string first;
  std::vector<TLineValue> summary;
  const std::string port = std::to_string(kDefaultSmtpPort);
  for (std::size_t i = 0; i < probes.size(); ++i) {
    const MxProbe& p = probes[i];
    const TLineFields mxField{{"mx", p.Mx.Host}};
    f.AppendOutput(pane,
                   LangText("Main|OutEMailMxBlock", "Mail-Exchanger %s1% von %s2%: \"%s3%\" (Präferenz %s4%)",
                            {std::to_string(i + 1), std::to_string(probes.size()), p.Mx.Host,
                             std::to_string(p.Mx.Preference)}),
                   clBlue, JoinFields(mxField, {{"preference", p.Mx.Preference}}));
    if (p.Connected)
      f.AppendOutput(pane,
                     LangText("Main|OutEMailConnected", "Verbunden mit MX-Server \"%s1%\", Port %s2%.",
                              {p.Mx.Host, port}),
                     clNavy);
    ShowOpening(f, p.Opening, p.Mx.Host, kDefaultSmtpPort,
                [&] { ShowTls(f, p.Tls, p.TlsState, p.TlsError, mxField); });
    if (!p.Connected) {
      f.AppendOutput(pane, LangText("Main|OutEMailNoConnection", "Die Verbindung konnte nicht hergestellt werden!"),
                     clRed, mxField);
    } else {
      ShowTlsNote(f, p.TlsState, mxField);
      if (first.empty()) {
        first = p.Mx.Host;
        dane = p.Dane;
      }
    }
    const std::string dane =
        AppendDaneLines(f, pane, p.Dane, p.Tls, p.TlsState == TSmtpTls::Done ? TDaneAgainst::Chain : TDaneAgainst::NoTls,
                        mxField);
    // The domain's MTA-STS policy judges each exchanger that answered, as a
    // sending server would before it delivers there.
    if (p.Connected && settings.Tls)
      f.EMailStsAfterTls(p.Mx.Host, p.TlsState == TSmtpTls::Done ? &p.Tls : nullptr);
    summary.emplace_back(TLineFields{{"mx", p.Mx.Host},
                                     {"preference", p.Mx.Preference},
                                     {"connected", p.Connected},
                                     {"tls", p.Connected ? TlsStateName(p.TlsState) : TLineValue()},
                                     {"dane", dane.empty() ? TLineValue() : TLineValue(dane)}});
    f.AppendOutput(pane, "", clBlack);
  }
  result = TLineValue::List(std::move(summary));
  if (first.empty())
    f.AppendOutput(pane, LangText("Main|OutEMailMxNoneAnswered", "Keiner der Mail-Exchanger hat geantwortet."),
                   clRed);
  return first;
}

}  // namespace

void TfrmMain::btnEMailStartClick() {
  const std::string address = Trim(cmbEMailAddress.Text());
  ToolRunGuard::Options run;
  run.Start = &btnEMailStart;
  run.Inputs = {&lblEMailAddress, &cmbEMailAddress, &lblEMailSender,  &cmbEMailSender,
                &lblEMailMXServer, &cmbEMailMXServer, &lblEMailTimeout, &cmbEMailTimeout,
                &chkEMailPolicy, &lblEMailSpfIp, &cmbEMailSpfIp, &lblEMailDkim, &cmbEMailDkim,
                &chkEMailTls, &chkEMailAllMx};
  run.MainInput = &cmbEMailAddress;
  run.Histories = {&cmbEMailSender, &cmbEMailMXServer, &cmbEMailSpfIp, &cmbEMailDkim};
  run.Pane = &reEMail;
  run.StatusKey = "Main|sbMainEMailCheckAddr";
  run.StatusDefault = "Überprüfe die E-Mail Adresse \"%s1%\"...";
  run.StatusArg = address;
  ToolRunGuard guard(*this, std::move(run));
  // What the dialogue found, however it ends: the server asked and the
  // server's verdicts (null: not asked).
  std::string server;
  TLineValue senderVerdict, recipientVerdict, tlsState, daneState, exchangers;
  TLineFields policy;  // the sender policies' values, when checked
  struct Summary {
    TfrmMain& f;
    const std::string& address;
    const std::string& server;
    const TLineValue &sender, &recipient, &tls, &dane, &exchangers;
    const TLineFields& policy;
    ~Summary() {
      f.SetToolResult(pgEMail, JoinFields({{"address", address},
                                           {"server", server.empty() ? TLineValue() : TLineValue(server)},
                                           {"sender_accepted", sender},
                                           {"recipient_accepted", recipient},
                                           {"tls", tls},
                                           {"dane", dane},
                                           {"exchangers", exchangers}},
                                          policy));
    }
  } summary{*this, address, server, senderVerdict, recipientVerdict, tlsState, daneState, exchangers, policy};

  // ---- The input.
  if (address.empty()) {
    AppendOutput(reEMail, LangText("Main|OutEMailNotMailAddr", "Es muss eine E-Mail Adresse angegeben werden!"),
                 clRed);
    return;
  }
  std::string domain = GetField(address, "@", 2);
  // A control character (a line break from the command line, say) would
  // end the command it is sent in and start another: no valid address.
  if (domain.empty() || HasControlCharacter(address)) {
    AppendOutput(reEMail,
                 LangText("Main|OutEMailNotMailAddrDom",
                          "Es muss eine gültige E-Mail Adresse (mit Domain) angegeben werden!"),
                 clRed);
    return;
  }
  AppendOutput(reEMail, LangText("Main|OutEMailOverview", "Übersicht:"), clBlue);
  AppendOutput(reEMail, LangText("Main|OutEMailQueryWith", "  Anfrage mit:      %s1%", {address}), clNavy);
  AppendOutput(reEMail, LangText("Main|OutEMailDomainName", "  Domainname:       %s1%", {domain}), clNavy);
  std::string recipient = address;
  std::string idn;
  if (!EncodeHostOrSay(reEMail, domain, idn)) return;
  if (idn != domain) {
    AppendOutput(reEMail, LangText("Main|OutEMailIdnEncoded", "  IDN-kodiert:      %s1%", {idn}), clNavy);
    domain = idn;
    recipient = GetField(address, "@", 1) + "@" + domain;
  }

  // ---- The sender, and the mail server as given: names that cannot be
  // encoded end the check before anything is asked.
  std::string sender = Trim(cmbEMailSender.Text());
  // The policies are the sender's domain's, else the recipient's.
  std::string policyDomain = domain;
  if (sender.empty()) {
    sender = "mail-check@" + domain;
  } else {
    const std::string senderDomain = GetField(sender, "@", 2);
    std::string senderIdn;
    if (!EncodeHostOrSay(reEMail, senderDomain, senderIdn)) return;
    sender = GetField(sender, "@", 1) + "@" + senderIdn;
    if (!senderIdn.empty()) policyDomain = senderIdn;
  }
  const std::string mxTyped = Trim(cmbEMailMXServer.Text());
  const char* mxRefusal = nullptr;
  const std::string mxIdn = IdnHostPart(mxTyped, &mxRefusal);
  if (mxRefusal) return AppendIdnFailure(reEMail, mxTyped, mxRefusal);
  AppendOutput(reEMail, "", clBlack);

  if (chkEMailPolicy.Checked()) {
    EMailPolicySection(policyDomain, policy);
    if (AbortRequested()) {
      AppendOutput(reEMail, "\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."), clRed);
      return;
    }
    AppendOutput(reEMail, "", clBlack);
  }
  if (!EMailStsSection(domain, SplitUrlPort(mxIdn).first, policy)) return;
  if (!EMailConnect) {
    if (chkEMailTls.Checked()) DaneWithoutConnection(*this, domain, mxIdn);
    if (AbortRequested()) {
      AppendOutput(reEMail, "\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."), clRed);
      return;
    }
    AppendOutput(reEMail, LangText("Main|OutEMailQueryDone", "Anfrage beendet."), clBlue);
    return;
  }

  // A close request or Ctrl+C ends the waits of the dialogue; the check
  // then stops with that said, not with a server that seems to be silent.
  auto aborted = [this] {
    if (!IdSMTP.Aborted() && !AbortRequested()) return false;
    IdSMTP.Drop();
    AppendOutput(reEMail, "\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."), clRed);
    return true;
  };

  // ---- The greeting name: this computer as the outside sees it, else as
  // it knows itself.
  std::string ownAddress, hostName;
  if (!ExtIpUrl.empty()) {
    if (IdHTTP.Connected()) IdHTTP.Disconnect();
    IdHTTP.ConnectTimeout = kExtIpTimeoutMs;
    IdHTTP.ReadTimeout = kExtIpTimeoutMs;
    std::string body;
    try {
      body = Trim(IdHTTP.Get(ExtIpUrl));
    } catch (const std::exception&) {
      body.clear();
    }
    if (IdHTTP.Connected()) IdHTTP.Disconnect();
    if (!body.empty()) {
      // Line 1 the address, line 3 the name; anything else the service may
      // send (an error page with status 200, say) is not taken for either.
      const std::string line1 = Trim(GetField(body, "\n", 1));
      const std::string line3 = Trim(GetField(body, "\n", 3));
      if (IsDottedAddress(line1)) ownAddress = line1;
      if (UsableGreetingName(line3)) hostName = line3;
    }
  }
  if (ownAddress.empty()) ownAddress = ResolveHostToIp("", kNameLookupMs);
  if (hostName.empty()) hostName = ResolveIpToHost(ownAddress, kNameLookupMs);
  if (!UsableGreetingName(hostName)) hostName = IsDottedAddress(ownAddress) ? ownAddress : "";
  // Still empty: the client greets with this computer's host name.
  IdSMTP.HeloName = hostName;
  const int timeout = StrToIntDef(cmbEMailTimeout.Text(), kDefaultTimeoutMs);
  IdSMTP.ConnectTimeout = timeout;
  IdSMTP.ReadTimeout = timeout;

  // ---- The mail server: as given, or the domain's preferred exchanger.
  DaneAnswer firstDane;  // its TLSA answer, when every exchanger was asked
  auto [givenServer, port] = SplitUrlPort(mxIdn);
  server = givenServer;
  if (port < 1 || port > 65535) port = kDefaultSmtpPort;
  if (server.empty()) {
    port = kDefaultSmtpPort;
    IdDNSResolver.Host = ActiveDnsServerIP;
    IdDNSResolver.WaitingTime = NameResTimeout;
    IdDNSResolver.QueryResult.Clear();
    IdDNSResolver.QueryType = {qtMX};
    bool answered = true;
    try {
      IdDNSResolver.SendQuery(domain, 1);
    } catch (const std::exception&) {
      answered = false;
    }
    if (!answered || IdDNSResolver.QueryResult.Count() == 0) {
      if (aborted()) return;
      AppendOutput(reEMail,
                   "\r\n" + LangText("Main|OutEMailNoValidMXServer",
                                     "Der Mail Exchange Server für die Domain konnte nicht ermittelt werden!"),
                   clRed);
      return;
    }
    const std::vector<Exchanger> mxList = MailExchangers(IdDNSResolver.QueryResult);
    if (!mxList.empty()) server = mxList.front().Host;
    if (server.empty()) {
      AppendOutput(reEMail,
                   "\r\n" + LangText("Main|OutEMailNoValidMXEntry",
                                     "Es konnte kein gültiger MX-Eintrag für die Domain ermittelt werden!"),
                   clRed);
      return;
    }
    if (chkEMailAllMx.Checked()) {
      server = AllExchangers(*this, mxList, timeout, exchangers, firstDane);
      if (server.empty()) return;
    }
  }

  // ---- The dialogue.
  if (aborted()) return;
  AppendOutput(reEMail,
               LangText("Main|OutEMailCheckAddr", "Überprüfe die Adresse \"%s1%\" mit dem MX-Server \"%s2%\"...",
                        {address, server}),
               clNavy);
  IdSMTP.Host = server;
  IdSMTP.Port = port;
  IdSMTP.StartTls = chkEMailTls.Checked();
  // The submission port with TLS from the first byte.
  IdSMTP.ImplicitTls = IdSMTP.StartTls && port == kImplicitTlsPort;
  const TLineFields mxField{{"mx", server}};
  // DANE for an exchanger named by a host name, once its TLS is known.
  const bool dane = IdSMTP.StartTls && DaneApplies(server);
  auto showDane = [&, tlsaPort = port] {
    // The records the exchanger's block asked already serve the dialogue.
    DaneAnswer answer = firstDane;
    if (answer.State == DaneAnswer::TState::NotAsked)
      IdSMTP.Aside([&] { answer = AskTlsa(DaneResolver(*this), server, tlsaPort); });
    if (AbortRequested()) return;  // said once, by the dialogue's own check
    daneState = AppendDaneLines(*this, reEMail, answer, IdSMTP.Tls,
                                IdSMTP.TlsState == TSmtpTls::Done ? TDaneAgainst::Chain : TDaneAgainst::NoTls,
                                mxField);
  };
  if (!IdSMTP.Connect()) {
    if (aborted()) return;
    tlsState = TlsStateName(IdSMTP.TlsState);
    if (IdSMTP.ImplicitTls && IdSMTP.TlsState == TSmtpTls::Failed)
      ShowTls(*this, IdSMTP.Tls, IdSMTP.TlsState, IdSMTP.TlsError, mxField);
    // The client has closed the connection; what the server said last
    // (its greeting, say) tells why.
    AppendOutput(reEMail,
                 "\r\n" + LangText("Main|OutEMailNoConnection", "Die Verbindung konnte nicht hergestellt werden!"),
                 clRed);
    if (IdSMTP.LastReply.Code != 0)
      AppendOutput(reEMail, "\r\n" + IdSMTP.LastReply.AsSent(), clRed, {{"smtp_code", IdSMTP.LastReply.Code}});
    return;
  }
  tlsState = TlsStateName(IdSMTP.TlsState);
  AppendOutput(reEMail,
               "\r\n" + LangText("Main|OutEMailConnected", "Verbunden mit MX-Server \"%s1%\", Port %s2%.",
                                   {server, std::to_string(port)}),
               clNavy);
  // The DANE lines follow the TLS report of a handshake that worked, else
  // the opening's note on TLS.
  ShowOpening(*this, IdSMTP.Opening, server, port, [&] {
    ShowTls(*this, IdSMTP.Tls, IdSMTP.TlsState, IdSMTP.TlsError, mxField);
    if (dane && IdSMTP.TlsState == TSmtpTls::Done) showDane();
  });
  ShowTlsNote(*this, IdSMTP.TlsState, mxField);
  if (dane && IdSMTP.TlsState != TSmtpTls::Done) showDane();
  if (IdSMTP.StartTls) EMailStsAfterTls(server, IdSMTP.TlsState == TSmtpTls::Done ? &IdSMTP.Tls : nullptr);
  if (aborted()) return;

  const std::string mailFrom = "MAIL FROM: <" + sender + ">";
  AppendOutput(reEMail, mailFrom, clBlue);
  const bool senderOk = IdSMTP.SendCmd(mailFrom, 250);
  if (aborted()) return;
  ShowReply(*this, IdSMTP.LastReply, senderOk);
  bool recipientOk = false;
  if (senderOk) {
    const std::string rcptTo = "RCPT TO: <" + recipient + ">";
    AppendOutput(reEMail, rcptTo, clBlue);
    recipientOk = IdSMTP.SendCmd(rcptTo, 250);
    if (aborted()) return;
    ShowReply(*this, IdSMTP.LastReply, recipientOk);
  }
  AppendOutput(reEMail, "QUIT", clBlue);
  const bool quitOk = IdSMTP.SendCmd("QUIT", 221);
  ShowReply(*this, IdSMTP.LastReply, quitOk);

  // Give the server a moment to close its side; stop waiting once it has.
  const Deadline closeBy = Deadline::In(kCloseWaitMs);
  while (IdSMTP.Connected() && !closeBy.Passed())
    if (PauseUntil(closeBy.Within(kCloseWaitSliceMs)) == WaitEnd::Aborted) break;
  // A connection the client dropped after a reply that never came counts
  // as closed by the client, not by the server.
  const bool stillOpen = IdSMTP.Connected();
  if (stillOpen) IdSMTP.Disconnect();
  if (stillOpen || !IdSMTP.ServerClosed())
    AppendOutput(reEMail, LangText("Main|OutEMailClosedByClient", "Verbindung wurde vom Client geschlossen."),
                 clNavy);
  else
    AppendOutput(reEMail, LangText("Main|OutEMailClosedByServer", "Verbindung wurde vom Server geschlossen."),
                 clNavy);
  IdSMTP.Drop();

  // ---- The verdict.
  senderVerdict = senderOk;
  auto verdict = [](const char* check, bool accepted) -> TLineFields {
    return {{"check", check}, {"accepted", accepted}};
  };
  if (senderOk) {
    recipientVerdict = recipientOk;
    AppendOutput(reEMail, "\r\n" + LangText("Main|OutEMailFromOk", "Die Absenderadresse wurde akzeptiert."),
                 clGreen, verdict("sender", true));
    if (recipientOk)
      AppendOutput(reEMail, LangText("Main|OutEMailToOk", "Die Empfängeradresse wurde akzeptiert."), clGreen,
                   verdict("recipient", true));
    else
      AppendOutput(reEMail, LangText("Main|OutEMailToNotOk", "Die Empfängeradresse wurde nicht akzeptiert."),
                   clRed, verdict("recipient", false));
  } else {
    AppendOutput(reEMail,
                 "\r\n" + LangText("Main|OutEMailFromNotOk", "Die Absenderadresse wurde nicht akzeptiert."), clRed,
                 verdict("sender", false));
  }
  AppendOutput(reEMail, "\r\n" + LangText("Main|OutEMailQueryDone", "Anfrage beendet."), clBlue);
}

}  // namespace quovix
