// Mail-Check tool: whether the mail exchanger of a domain accepts an e-mail
// address, by an SMTP dialogue that stops after RCPT TO. No DATA command is
// ever sent, so no message can be delivered by accident.
#include <algorithm>
#include <cctype>
#include <exception>
#include <utility>

#include "app/formMain.h"
#include "common/Deadline.h"
#include "common/Pump.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"
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
}  // namespace

void TfrmMain::btnEMailStartClick() {
  const std::string address = Trim(cmbEMailAddress.Text());
  ToolRunGuard::Options run;
  run.Start = &btnEMailStart;
  run.Inputs = {&lblEMailAddress, &cmbEMailAddress, &lblEMailSender,  &cmbEMailSender,
                &lblEMailMXServer, &cmbEMailMXServer, &lblEMailTimeout, &cmbEMailTimeout,
                &chkEMailPolicy, &lblEMailSpfIp, &cmbEMailSpfIp, &lblEMailDkim, &cmbEMailDkim,
                &chkEMailTls};
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
  TLineValue senderVerdict, recipientVerdict, tlsState;
  TLineFields policy;  // the sender policies' values, when checked
  struct Summary {
    TfrmMain& f;
    const std::string& address;
    const std::string& server;
    const TLineValue &sender, &recipient, &tls;
    const TLineFields& policy;
    ~Summary() {
      f.SetToolResult(pgEMail, JoinFields({{"address", address},
                                           {"server", server.empty() ? TLineValue() : TLineValue(server)},
                                           {"sender_accepted", sender},
                                           {"recipient_accepted", recipient},
                                           {"tls", tls}},
                                          policy));
    }
  } summary{*this, address, server, senderVerdict, recipientVerdict, tlsState, policy};

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
    // Lowest preference wins, the first of equals; 65535 never. A record
    // without an exchange (a "null MX") says the domain takes no mail.
    unsigned lowest = 65535;
    for (const TResultRecord& rec : IdDNSResolver.QueryResult) {
      if (rec.Kind != TRecordKind::MX || rec.Preference >= lowest) continue;
      const std::string exchange = Trim(rec.HostName);
      if (exchange.empty() || exchange == ".") continue;
      lowest = rec.Preference;
      server = exchange;
    }
    if (server.empty()) {
      AppendOutput(reEMail,
                   "\r\n" + LangText("Main|OutEMailNoValidMXEntry",
                                     "Es konnte kein gültiger MX-Eintrag für die Domain ermittelt werden!"),
                   clRed);
      return;
    }
  }

  // ---- The dialogue.
  if (aborted()) return;
  AppendOutput(reEMail,
               LangText("Main|OutEMailCheckAddr", "Überprüfe die Adresse \"%s1%\" mit dem MX-Server \"%s2%\"...",
                        {address, server}),
               clNavy);
  // A reply is shown line by line as the server sent it (codes, "-"
  // continuations, enhanced status codes); one that never came is said so,
  // not shown as an empty line.
  auto showReply = [this](const SmtpReply& reply, bool accepted) {
    if (reply.Code == 0)
      AppendOutput(reEMail, LangText("Main|OutEMailNoReply", "Keine Antwort vom Server."), clRed);
    else
      AppendOutput(reEMail, reply.AsSent(), accepted ? clBlack : clRed, {{"smtp_code", reply.Code}});
  };
  IdSMTP.Host = server;
  IdSMTP.Port = port;
  IdSMTP.StartTls = chkEMailTls.Checked();
  // The submission port with TLS from the first byte.
  IdSMTP.ImplicitTls = IdSMTP.StartTls && port == kImplicitTlsPort;
  const TLineFields mxField{{"mx", server}};
  // The handshake's report; a failed one also says why (the dialogue goes
  // on without TLS after STARTTLS, so this is a finding, not the end).
  auto showTls = [&] {
    AppendTlsReport(*this, reEMail, IdSMTP.Tls, mxField);
    if (IdSMTP.TlsState == TSmtpTls::Failed)
      AppendOutput(reEMail,
                   LangText("Main|OutEMailTlsFailed", "TLS-Handshake fehlgeschlagen: %s1%", {IdSMTP.TlsError}),
                   clMaroon, JoinFields(mxField, {{"tls_error", IdSMTP.TlsError}}));
  };
  auto tlsName = [](TSmtpTls state) -> TLineValue {
    switch (state) {
      case TSmtpTls::Off: return {};
      case TSmtpTls::NotOffered: return std::string("not_offered");
      case TSmtpTls::Refused: return std::string("refused");
      case TSmtpTls::Failed: return std::string("failed");
      case TSmtpTls::Done: return std::string("done");
    }
    return {};
  };
  if (!IdSMTP.Connect()) {
    if (aborted()) return;
    tlsState = tlsName(IdSMTP.TlsState);
    if (IdSMTP.ImplicitTls && IdSMTP.TlsState == TSmtpTls::Failed) showTls();
    // The client has closed the connection; what the server said last
    // (its greeting, say) tells why.
    AppendOutput(reEMail,
                 "\r\n" + LangText("Main|OutEMailNoConnection", "Die Verbindung konnte nicht hergestellt werden!"),
                 clRed);
    if (IdSMTP.LastReply.Code != 0)
      AppendOutput(reEMail, "\r\n" + IdSMTP.LastReply.AsSent(), clRed, {{"smtp_code", IdSMTP.LastReply.Code}});
    return;
  }
  tlsState = tlsName(IdSMTP.TlsState);
  AppendOutput(reEMail,
               "\r\n" + LangText("Main|OutEMailConnected", "Verbunden mit MX-Server \"%s1%\", Port %s2%.",
                                   {server, std::to_string(port)}),
               clNavy);
  // The opening as it went: the greeting, EHLO, and HELO after a refused
  // EHLO, each command as sent; STARTTLS, the handshake and EHLO again.
  for (const SmtpStep& step : IdSMTP.Opening) {
    if (step.Kind == SmtpStep::TKind::Tls) {
      showTls();
      continue;
    }
    if (step.Kind == SmtpStep::TKind::Reconnect) {
      AppendOutput(reEMail,
                   LangText("Main|OutEMailTlsReconnect", "Neue Verbindung ohne TLS mit \"%s1%\", Port %s2%:",
                            {server, std::to_string(port)}),
                   clNavy);
      continue;
    }
    if (!step.Command.empty()) AppendOutput(reEMail, step.Command, clBlue);
    const int expected = step.Command.empty() || step.Command == "STARTTLS" ? 220 : 250;
    showReply(step.Reply, step.Reply.Code == expected);
  }
  if (IdSMTP.TlsState == TSmtpTls::NotOffered)
    AppendOutput(reEMail,
                 LangText("Main|OutEMailTlsNotOffered",
                          "Der Server bietet kein STARTTLS an; die Sitzung läuft unverschlüsselt."),
                 clMaroon, JoinFields(mxField, {{"starttls", false}}));
  else if (IdSMTP.TlsState == TSmtpTls::Refused)
    AppendOutput(reEMail,
                 LangText("Main|OutEMailTlsRefused",
                          "Der Server hat STARTTLS abgelehnt; die Sitzung läuft unverschlüsselt."),
                 clMaroon, JoinFields(mxField, {{"starttls", false}}));
  if (IdSMTP.StartTls) EMailStsAfterTls(server, IdSMTP.TlsState == TSmtpTls::Done ? &IdSMTP.Tls : nullptr);

  const std::string mailFrom = "MAIL FROM: <" + sender + ">";
  AppendOutput(reEMail, mailFrom, clBlue);
  const bool senderOk = IdSMTP.SendCmd(mailFrom, 250);
  if (aborted()) return;
  showReply(IdSMTP.LastReply, senderOk);
  bool recipientOk = false;
  if (senderOk) {
    const std::string rcptTo = "RCPT TO: <" + recipient + ">";
    AppendOutput(reEMail, rcptTo, clBlue);
    recipientOk = IdSMTP.SendCmd(rcptTo, 250);
    if (aborted()) return;
    showReply(IdSMTP.LastReply, recipientOk);
  }
  AppendOutput(reEMail, "QUIT", clBlue);
  const bool quitOk = IdSMTP.SendCmd("QUIT", 221);
  showReply(IdSMTP.LastReply, quitOk);

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
