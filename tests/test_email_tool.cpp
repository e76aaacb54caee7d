// The Mail-Check tool end to end: the window model's handler against the
// scripted SMTP server (for what a real server will not do on demand), a
// real SMTP server (aiosmtpd from Debian's packages) with one mailbox, MX
// look-ups through a scripted DNS responder, and the console front end.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <tuple>

#include "HttpTestPeers.h"
#include "app/formMain.h"
#include "clients/MtaSts.h"
#include "common/Pump.h"
#include "common/fMain.h"
#include "dns_test_support.h"
#include "platform/Resolver.h"
#include "shell/gIni.h"
#include "support/DkimKeys.h"
#include "support/DnssecHierarchy.h"
#include "support/SmtpTestServer.h"
#include "support/TestCa.h"

using namespace quovix;
using quovix::test::ScriptedSmtp;
using Lines = std::vector<std::string>;

namespace {

// Pane lines as "colour|text", so that a difference shows both at once.
Lines Shown(const TRichEdit& pane) {
  Lines out;
  for (const auto& l : pane.Lines()) {
    const char* c = l.Color == clBlue    ? "blue"
                    : l.Color == clNavy  ? "navy"
                    : l.Color == clRed   ? "red"
                    : l.Color == clGreen ? "green"
                    : l.Color == clBlack ? "black"
                                         : "other";
    out.push_back(std::string(c) + "|" + l.Text);
  }
  return out;
}

// The system resolver as the tests need it: this computer is 192.0.2.200
// named "testbox", and a few exchanger names; nothing asks a real server.
class FakeResolver : public platform::IResolver {
 public:
  std::map<std::string, std::string> Hosts;
  // Names with addresses of both families, in the resolver's order.
  std::map<std::string, std::vector<IpAddress>> All;
  std::string HostToIp(const std::string& name) override {
    auto it = Hosts.find(name);
    return it == Hosts.end() ? std::string() : it->second;
  }
  std::vector<IpAddress> Addresses(const std::string& name) override {
    auto it = All.find(name);
    return it == All.end() ? IResolver::Addresses(name) : it->second;
  }
  std::string IpToHost(std::uint32_t) override { return {}; }
  std::string OwnAddress() override { return "192.0.2.200"; }
  std::string SystemHostName() override { return "testbox"; }
};

// The window model on the Mail-Check tab, with the settings a run reads
// saved and restored around the test.
struct MailWindow {
  std::shared_ptr<FakeResolver> names = std::make_shared<FakeResolver>();
  platform::ScopedResolver resolver{names};
  TfrmMain f;
  std::string savedExtIpUrl = ExtIpUrl, savedDns = ActiveDnsServerIP;
  int savedNameRes = NameResTimeout;

  MailWindow() {
    SetMessagePump([] {});
    f.ProcessMessages = [] {};
    ExtIpUrl.clear();
    ActiveDnsServerIP = "127.0.0.1";
    NameResTimeout = 1000;
    Timeout("1000");
  }
  ~MailWindow() {
    SetMessagePump({});
    ExtIpUrl = savedExtIpUrl;
    ActiveDnsServerIP = savedDns;
    NameResTimeout = savedNameRes;
  }
  void Timeout(const std::string& item) {
    const auto& items = f.cmbEMailTimeout.Items();
    f.cmbEMailTimeout.SetItemIndex(
        static_cast<int>(std::find(items.begin(), items.end(), item) - items.begin()));
  }
  Lines Run(const std::string& address, const std::string& mx, const std::string& sender = "") {
    f.cmbEMailAddress.SetText(address);
    f.cmbEMailSender.SetText(sender);
    f.cmbEMailMXServer.SetText(mx);
    f.btnEMailStart.Click();
    return Shown(f.reEMail);
  }
};

// An HTTP response of the external-address service with that body.
std::string ServiceReply(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

std::string At(int port) { return "127.0.0.1:" + std::to_string(port); }

Lines Concat(std::initializer_list<Lines> blocks) {
  Lines out;
  for (const auto& b : blocks) out.insert(out.end(), b.begin(), b.end());
  return out;
}

// The lines up to the dialogue for user@quovix.test checked at 127.0.0.1 on
// that port.
Lines Head(int port) {
  return {"blue|Übersicht:",
          "navy|  Anfrage mit:      user@quovix.test",
          "navy|  Domainname:       quovix.test",
          "black|",
          "navy|Überprüfe die Adresse \"user@quovix.test\" mit dem MX-Server \"127.0.0.1\"...",
          "navy|",
          "navy|Verbunden mit MX-Server \"127.0.0.1\", Port " + std::to_string(port) + "."};
}
// The scripted server's greeting and its reply to EHLO, as sent.
const Lines kOpening = {"black|220 mx.test ESMTP", "blue|EHLO testbox", "black|250-mx.test",
                        "black|250-PIPELINING", "black|250 8BITMIME"};
const Lines kAccepted = {"green|", "green|Die Absenderadresse wurde akzeptiert.",
                         "green|Die Empfängeradresse wurde akzeptiert.", "blue|",
                         "blue|Anfrage beendet."};
const Lines kRecipientRefused = {"green|", "green|Die Absenderadresse wurde akzeptiert.",
                                 "red|Die Empfängeradresse wurde nicht akzeptiert.", "blue|",
                                 "blue|Anfrage beendet."};

}  // namespace

// ---- The scripted server ------------------------------------------------------------

TEST(MailCheckTool, HeloFallbackGreetingNameFromServiceAndGivenPort) {
  ScriptedSmtp smtp;
  smtp.replies["EHLO"] = "502 5.5.2 Error: command not recognized\r\n";
  ASSERT_TRUE(smtp.Start());
  // The external-address service: address, no proxy, the outside name.
  httptest::ScriptedServer service([](httptest::ScriptConn& c, const std::string&, int) {
    c.Send(ServiceReply("198.51.100.7\n\nrelay.quovix.test\nx\n  "));
  });
  MailWindow w;
  ExtIpUrl = service.Url("/ip");
  const Lines lines = w.Run("  user@quovix.test ", At(smtp.Port()));
  // The dialogue as it went: the refused EHLO, then HELO; every reply as sent.
  EXPECT_EQ(lines, Concat({Head(smtp.Port()),
                           {"black|220 mx.test ESMTP", "blue|EHLO relay.quovix.test",
                            "red|502 5.5.2 Error: command not recognized", "blue|HELO relay.quovix.test",
                            "black|250 mx.test", "blue|MAIL FROM: <mail-check@quovix.test>",
                            "black|250 2.1.0 Ok", "blue|RCPT TO: <user@quovix.test>", "black|250 2.1.5 Ok",
                            "blue|QUIT", "black|221 2.0.0 Bye", "navy|Verbindung wurde vom Server geschlossen."},
                           kAccepted}));
  EXPECT_EQ(smtp.Received(),
            (Lines{"EHLO relay.quovix.test\r\n", "HELO relay.quovix.test\r\n",
                   "MAIL FROM: <mail-check@quovix.test>\r\n", "RCPT TO: <user@quovix.test>\r\n",
                   "QUIT\r\n"}));
  ASSERT_EQ(service.Requests().size(), 1u);
  EXPECT_EQ(httptest::RequestLine(service.Requests()[0]), "GET /ip HTTP/1.1");
  EXPECT_FALSE(w.f.IdHTTP.Connected());
  EXPECT_EQ(w.f.IdHTTP.ConnectTimeout, 5000);
  EXPECT_EQ(w.f.IdSMTP.ReadTimeout, 1000);
  EXPECT_EQ(w.f.IdSMTP.Port, smtp.Port());
  // The ready state afterwards, the inputs in their histories.
  EXPECT_TRUE(w.f.ToolIdle);
  EXPECT_TRUE(w.f.btnEMailStart.Enabled());
  EXPECT_TRUE(w.f.cmbEMailMXServer.Enabled());
  EXPECT_EQ(w.f.sbMain.SimpleText(), " Bereit.");
  EXPECT_EQ(w.f.cmbEMailAddress.Items().front(), "user@quovix.test");
  EXPECT_EQ(w.f.cmbEMailMXServer.Items().front(), At(smtp.Port()));
}

TEST(MailCheckTool, GreetingNameFallsBackStepByStep) {
  // The service's body, one per run: an address without a name, a page that
  // is no address at all, a name with a blank in it; then no service.
  const std::vector<std::string> bodies = {"198.51.100.7", "<html><body>Hello</body></html>",
                                           "198.51.100.7\n\nevil name\r\nDATA", "2001:db8::7"};
  httptest::ScriptedServer service([&](httptest::ScriptConn& c, const std::string&, int index) {
    c.Send(ServiceReply(bodies.at(static_cast<size_t>(index))));
  });
  ScriptedSmtp smtp;
  ASSERT_TRUE(smtp.Start());
  MailWindow w;
  ExtIpUrl = service.Url("/");
  auto greeting = [&] {
    const Lines lines = w.Run("user@quovix.test", At(smtp.Port()));
    const size_t at = Head(smtp.Port()).size() + 1;  // after the greeting
    return lines.size() > at ? lines[at] : std::string();
  };
  // No name: the reverse look-up finds none, so the address as a literal.
  EXPECT_EQ(greeting(), "blue|EHLO [198.51.100.7]");
  // No address: this computer's own, which is named after the computer.
  EXPECT_EQ(greeting(), "blue|EHLO testbox");
  EXPECT_EQ(greeting(), "blue|EHLO [198.51.100.7]");
  // An IPv6 address over an IPv4 connection: the connection's own address.
  EXPECT_EQ(greeting(), "blue|EHLO [127.0.0.1]");
  ExtIpUrl.clear();
  EXPECT_EQ(greeting(), "blue|EHLO testbox");
  const Lines got = smtp.Received();
  EXPECT_EQ(std::count(got.begin(), got.end(), "EHLO [198.51.100.7]\r\n"), 2);
  EXPECT_EQ(std::count(got.begin(), got.end(), "EHLO testbox\r\n"), 2);
}

TEST(MailCheckTool, RefusalsAreRedAndDecideTheVerdict) {
  // MAIL FROM refused: no RCPT TO, QUIT still sent.
  {
    ScriptedSmtp smtp;
    smtp.replies["MAIL"] = "553 5.7.1 <me@sender.test>: Sender address rejected\r\n";
    ASSERT_TRUE(smtp.Start());
    MailWindow w;
    const Lines lines = w.Run("user@quovix.test", At(smtp.Port()), "me@sender.test");
    EXPECT_EQ(lines, Concat({Head(smtp.Port()), kOpening,
                             {"blue|MAIL FROM: <me@sender.test>",
                              "red|553 5.7.1 <me@sender.test>: Sender address rejected", "blue|QUIT",
                              "black|221 2.0.0 Bye", "navy|Verbindung wurde vom Server geschlossen.",
                              "red|", "red|Die Absenderadresse wurde nicht akzeptiert.", "blue|",
                              "blue|Anfrage beendet."}}));
    EXPECT_EQ(smtp.Received(), (Lines{"EHLO testbox\r\n", "MAIL FROM: <me@sender.test>\r\n",
                                      "QUIT\r\n"}));
  }
  // 251 is no acceptance; a refusal of several lines shows them all.
  for (const auto& [reply, shown] :
       std::vector<std::pair<std::string, Lines>>{
           {"251 2.1.5 User not local; will forward\r\n",
            {"red|251 2.1.5 User not local; will forward"}},
           {"550-5.1.1 The email account that you tried to reach does not exist.\r\n"
            "550-5.1.1 Please try double-checking the recipient's email\r\n"
            "550 5.1.1 address for typos.\r\n",
            {"red|550-5.1.1 The email account that you tried to reach does not exist.",
             "red|550-5.1.1 Please try double-checking the recipient's email",
             "red|550 5.1.1 address for typos."}}}) {
    ScriptedSmtp smtp;
    smtp.replies["RCPT"] = reply;
    ASSERT_TRUE(smtp.Start());
    MailWindow w;
    const Lines lines = w.Run("user@quovix.test", At(smtp.Port()));
    EXPECT_EQ(lines, Concat({Head(smtp.Port()), kOpening,
                             {"blue|MAIL FROM: <mail-check@quovix.test>", "black|250 2.1.0 Ok",
                              "blue|RCPT TO: <user@quovix.test>"},
                             shown,
                             {"blue|QUIT", "black|221 2.0.0 Bye",
                              "navy|Verbindung wurde vom Server geschlossen."},
                             kRecipientRefused}));
  }
}

TEST(MailCheckTool, NoGreetingOrEarlyCloseEndsWithoutConnection) {
  ScriptedSmtp silent;
  silent.silent = true;
  ScriptedSmtp closing;
  closing.closeAfterGreeting = true;
  closing.greeting = "220-mx.test ESMTP\r\n220 4.3.2 going away\r\n";
  ASSERT_TRUE(silent.Start() && closing.Start());
  MailWindow w;
  w.Timeout("250");
  const Lines head = {"blue|Übersicht:", "navy|  Anfrage mit:      user@quovix.test",
                      "navy|  Domainname:       quovix.test", "black|",
                      "navy|Überprüfe die Adresse \"user@quovix.test\" mit dem MX-Server \"127.0.0.1\"...",
                      "red|", "red|Die Verbindung konnte nicht hergestellt werden!"};
  EXPECT_EQ(w.Run("user@quovix.test", At(silent.Port())), head);
  EXPECT_EQ(silent.Received(), (Lines{"QUIT\r\n"}));
  EXPECT_TRUE(w.f.ToolIdle);
  EXPECT_EQ(w.Run("user@quovix.test", At(closing.Port())),
            Concat({head, {"red|", "red|220-mx.test ESMTP", "red|220 4.3.2 going away"}}));
}

TEST(MailCheckTool, ServerThatStopsAnsweringMidDialogue) {
  // RCPT TO gets no reply: the client gives up on the connection, QUIT
  // cannot go out any more, and the client is the one that closed it.
  ScriptedSmtp smtp;
  smtp.replies["RCPT"] = "";
  ASSERT_TRUE(smtp.Start());
  MailWindow w;
  w.Timeout("250");
  const Lines lines = w.Run("user@quovix.test", At(smtp.Port()));
  EXPECT_EQ(lines, Concat({Head(smtp.Port()), kOpening,
                           {"blue|MAIL FROM: <mail-check@quovix.test>", "black|250 2.1.0 Ok",
                            "blue|RCPT TO: <user@quovix.test>",
                            "red|Keine Antwort vom Server.", "blue|QUIT",
                            "red|Keine Antwort vom Server.",
                            "navy|Verbindung wurde vom Client geschlossen."},
                           kRecipientRefused}));
}

TEST(MailCheckTool, InputChecksEndTheRunEarly) {
  MailWindow w;
  EXPECT_EQ(w.Run("   ", "127.0.0.1:1"),
            (Lines{"red|Es muss eine E-Mail Adresse angegeben werden!"}));
  EXPECT_EQ(w.Run("user", "127.0.0.1:1", "me@sender.test"),
            (Lines{"red|Es muss eine gültige E-Mail Adresse (mit Domain) angegeben werden!"}));
  EXPECT_EQ(w.Run("user@", ""),
            (Lines{"red|Es muss eine gültige E-Mail Adresse (mit Domain) angegeben werden!"}));
  // The histories are still updated, the window is ready again.
  EXPECT_EQ(w.f.cmbEMailAddress.Items().front(), "user@");
  EXPECT_EQ(w.f.cmbEMailSender.Items().front(), "me@sender.test");
  EXPECT_EQ(w.f.sbMain.SimpleText(), " Bereit.");
  EXPECT_TRUE(w.f.cmbEMailAddress.Enabled());
  EXPECT_EQ(w.f.ActiveControl, &w.f.cmbEMailAddress);
}

TEST(MailCheckTool, InternationalisedDomainsGoOutEncoded) {
  ScriptedSmtp smtp;
  ASSERT_TRUE(smtp.Start());
  MailWindow w;
  const Lines lines = w.Run("jürgen@bücher.test", At(smtp.Port()), "ich@müller.test");
  const Lines expected = {
      "blue|Übersicht:",
      "navy|  Anfrage mit:      jürgen@bücher.test",
      "navy|  Domainname:       bücher.test",
      "navy|  IDN-kodiert:      xn--bcher-kva.test",
      "black|",
      "navy|Überprüfe die Adresse \"jürgen@bücher.test\" mit dem MX-Server \"127.0.0.1\"...",
      "navy|",
      "navy|Verbunden mit MX-Server \"127.0.0.1\", Port " + std::to_string(smtp.Port()) + ".",
      "black|220 mx.test ESMTP",
      "blue|EHLO testbox",
      "black|250-mx.test",
      "black|250-PIPELINING",
      "black|250 8BITMIME",
      "blue|MAIL FROM: <ich@xn--mller-kva.test>",
      "black|250 2.1.0 Ok",
      "blue|RCPT TO: <jürgen@xn--bcher-kva.test>",
      "black|250 2.1.5 Ok",
  };
  ASSERT_GE(lines.size(), expected.size());
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + static_cast<long>(expected.size())), expected);
  // Without a sender the encoded domain of the address is used.
  const Lines again = w.Run("jürgen@bücher.test", At(smtp.Port()));
  EXPECT_NE(std::find(again.begin(), again.end(), "blue|MAIL FROM: <mail-check@xn--bcher-kva.test>"),
            again.end());
}

TEST(MailCheckTool, LineBreaksInTheInputNeverReachTheServer) {
  // From the command line an input may carry CR LF: nothing after it (a
  // DATA, say) may go out as a command of its own.
  ScriptedSmtp smtp;
  ASSERT_TRUE(smtp.Start());
  MailWindow w;
  EXPECT_EQ(w.Run("user@quovix.test\r\nDATA", At(smtp.Port())),
            (Lines{"red|Es muss eine gültige E-Mail Adresse (mit Domain) angegeben werden!"}));
  EXPECT_EQ(smtp.Connections(), 0);
  const Lines lines = w.Run("user@quovix.test", At(smtp.Port()), "me@sender.test\r\nDATA");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "red|Die Absenderadresse wurde nicht akzeptiert."),
            lines.end());
  EXPECT_EQ(smtp.Received(), (Lines{"EHLO testbox\r\n", "QUIT\r\n"}));
}

// ---- MX look-up -----------------------------------------------------------------------

namespace {

using dnstest::ScriptedDnsServer;

// quovix.test with exchangers of preference 10 and 5 (and 5 again, which
// must not win over the first of its preference); other names do not exist.
std::vector<ScriptedDnsServer::Datagram> MxZone(const std::string& query) {
  using namespace dnstest;
  const Question q = ParseQuestion(query);
  const std::string apex = Bytes().ptr(12).b;
  if (q.name == "quovix.test" && q.type == 15)
    return {{Reply(q, 0,
                   {Rr(apex, 15, MxRdata(10, "mx10.quovix.test")),
                    Rr(apex, 15, MxRdata(5, "mx5.quovix.test")),
                    Rr(apex, 15, MxRdata(5, "mx5b.quovix.test"))})}};
  if (q.name == "nomail.test" && q.type == 15)  // 65535 and a null MX only
    return {{Reply(q, 0,
                   {Rr(apex, 15, MxRdata(65535, "mx.nomail.test")), Rr(apex, 15, MxRdata(0, ""))})}};
  return {{Reply(q, 3, {})}};
}

}  // namespace

TEST(MailCheckToolMx, LowestPreferenceIsUsedAndAskedOfTheSetServer) {
  ScriptedDnsServer dns(MxZone);
  MailWindow w;
  w.f.IdDNSResolver.Port = dns.Port();
  // mx5.quovix.test has no address here: the run ends at the connection,
  // having named the exchanger it chose.
  const Lines lines = w.Run("user@quovix.test", "");
  EXPECT_EQ(lines,
            (Lines{"blue|Übersicht:", "navy|  Anfrage mit:      user@quovix.test",
                   "navy|  Domainname:       quovix.test", "black|",
                   "navy|Überprüfe die Adresse \"user@quovix.test\" mit dem MX-Server \"mx5.quovix.test\"...",
                   "red|", "red|Die Verbindung konnte nicht hergestellt werden!"}));
  ASSERT_EQ(dns.Queries(), 1);
  const auto q = dnstest::ParseQuestion(dns.Received()[0]);
  EXPECT_EQ(q.name, "quovix.test");
  EXPECT_EQ(q.type, 15u);
  EXPECT_EQ(w.f.IdDNSResolver.WaitingTime, 1000);
  EXPECT_EQ(w.f.IdDNSResolver.Host, "127.0.0.1");
}

TEST(MailCheckToolMx, NoUsableExchangerOrNoAnswer) {
  ScriptedDnsServer dns(MxZone);
  MailWindow w;
  w.f.IdDNSResolver.Port = dns.Port();
  const Lines head = {"blue|Übersicht:", "navy|  Anfrage mit:      user@nomail.test",
                      "navy|  Domainname:       nomail.test", "black|"};
  EXPECT_EQ(w.Run("user@nomail.test", ""),
            Concat({head,
                    {"red|", "red|Es konnte kein gültiger MX-Eintrag für die Domain ermittelt werden!"}}));
  const Lines noServer = {"red|", "red|Der Mail Exchange Server für die Domain konnte nicht ermittelt werden!"};
  EXPECT_EQ(w.Run("user@nothing.test", "").back(), noServer.back());
  // A DNS server that never answers: the same message after its waiting time.
  ScriptedDnsServer mute([](const std::string&) { return std::vector<ScriptedDnsServer::Datagram>{}; });
  w.f.IdDNSResolver.Port = mute.Port();
  NameResTimeout = 300;
  const Lines lines = w.Run("user@quovix.test", "");
  EXPECT_EQ(Lines(lines.end() - 2, lines.end()), noServer);
}

// Port 25 of a loopback address of its own: the whole dialogue with the
// exchanger the MX records chose.
TEST(MailCheckToolMx, DialogueWithTheChosenExchangerOnPort25) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the exchanger listens on port 25";
  ScriptedSmtp smtp;
  if (!smtp.Start("127.77.0.25", 25)) GTEST_SKIP() << "port 25 of 127.77.0.25 is taken";
  ScriptedDnsServer dns(MxZone);
  MailWindow w;
  w.names->Hosts = {{"mx5.quovix.test", "127.77.0.25"}, {"mx10.quovix.test", "127.77.0.10"}};
  w.f.IdDNSResolver.Port = dns.Port();
  const Lines lines = w.Run("user@quovix.test", "");
  const Lines expected = {
      "navy|Überprüfe die Adresse \"user@quovix.test\" mit dem MX-Server \"mx5.quovix.test\"...",
      "navy|", "navy|Verbunden mit MX-Server \"mx5.quovix.test\", Port 25."};
  ASSERT_GE(lines.size(), 4 + expected.size());
  EXPECT_EQ(Lines(lines.begin() + 4, lines.begin() + 4 + static_cast<long>(expected.size())), expected);
  EXPECT_EQ(Lines(lines.end() - 5, lines.end()), kAccepted);
  EXPECT_EQ(smtp.Received().size(), 4u);
}

// ---- The sender policies ------------------------------------------------------------

namespace {

// TXT records by name, A records of host.quovix.test; other names do not exist.
ScriptedDnsServer::Script PolicyZone(std::map<std::string, std::string> txt) {
  return [txt](const std::string& query) -> std::vector<ScriptedDnsServer::Datagram> {
    using namespace dnstest;
    const Question q = ParseQuestion(query);
    const std::string owner = Bytes().ptr(12).b;
    auto it = txt.find(q.name);
    if (it != txt.end() && q.type == 16) return {{Reply(q, 0, {Rr(owner, 16, TxtRdata({it->second}))})}};
    if (q.name == "host.quovix.test" && q.type == 1) return {{Reply(q, 0, {Rr(owner, 1, ARdata(198, 51, 100, 1))})}};
    if (it != txt.end()) return {{Reply(q, 0, {})}};
    return {{Reply(q, 3, {})}};
  };
}

struct PolicyRun {
  ScriptedDnsServer dns;
  MailWindow w;
  explicit PolicyRun(std::map<std::string, std::string> txt) : dns(PolicyZone(std::move(txt))) {
    w.f.IdDNSResolver.Port = dns.Port();
    w.f.chkEMailPolicy.SetChecked(true);
    w.f.EMailConnect = false;
  }
  Lines Run(const std::string& ip) {
    w.f.cmbEMailSpfIp.SetText(ip);
    return w.Run("user@quovix.test", "");
  }
  TLineFields Spf() const {
    const TLineValue* v = FindField(w.f.ToolResults[pgEMail], "spf");
    return v && v->Kind() == TLineValue::TKind::Object ? v->AsObject() : TLineFields{};
  }
};

}  // namespace

TEST(MailCheckToolPolicy, TreeResultAndExplanationWithoutAConnection) {
  PolicyRun run({{"quovix.test", "v=spf1 include:_spf.quovix.test -all exp=why.quovix.test"},
                 {"_spf.quovix.test", "v=spf1 ip4:198.51.100.0/24 ~all"},
                 {"why.quovix.test", "%{i} is not one of ours"},
                 {"mx.quovix.test", "v=spf1 ip4:192.0.2.1 -all"}});
  EXPECT_EQ(run.Run("192.0.2.1"),
            (Lines{"blue|Übersicht:", "navy|  Anfrage mit:      user@quovix.test",
                   "navy|  Domainname:       quovix.test", "black|",
                   "blue|Absender-Richtlinien der Domain \"quovix.test\":",
                   "navy|  SPF für die Absender-IP 192.0.2.1:",
                   "navy|  quovix.test: v=spf1 include:_spf.quovix.test -all exp=why.quovix.test",
                   "black|    include:_spf.quovix.test  [Abfrage 1]",
                   "navy|      _spf.quovix.test: v=spf1 ip4:198.51.100.0/24 ~all",
                   "black|        ip4:198.51.100.0/24", "black|        ~all  – trifft zu",
                   "black|    -all  – trifft zu", "black|    exp=why.quovix.test",
                   "navy|  DNS-Abfragen: 1 (höchstens 10), davon ohne Ergebnis: 0 (höchstens 2)",
                   "black|  SPF-Ergebnis: fail (Term \"-all\")",
                   "black|  Erklärung der Domain: 192.0.2.1 is not one of ours", "navy|  DMARC:",
                   "navy|    Kein DMARC-Eintrag (gefragt: _dmarc.quovix.test).", "navy|  DKIM:",
                   "navy|    Ohne Eintrag (gängige Selektoren): default, dkim, mail, selector1, selector2, google, "
                   "k1, s1, s2",
                   "black|", "blue|Anfrage beendet."}));
  // With a HELO name the same check for that identity follows.
  run.w.f.EMailSpfHelo = "mx.quovix.test";
  const Lines withHelo = run.Run("192.0.2.1");
  const auto helo = std::find(withHelo.begin(), withHelo.end(), "navy|  SPF der HELO-Identität \"mx.quovix.test\":");
  ASSERT_NE(helo, withHelo.end());
  EXPECT_EQ(*(helo + 1), "navy|  mx.quovix.test: v=spf1 ip4:192.0.2.1 -all");
  const TLineValue* heloResult = FindField(run.w.f.ToolResults[pgEMail], "spf_helo");
  ASSERT_TRUE(heloResult && heloResult->Kind() == TLineValue::TKind::Object);
  EXPECT_EQ(FindField(heloResult->AsObject(), "result")->AsText(), "pass");
  run.w.f.EMailSpfHelo.clear();
  run.Run("192.0.2.1");
  const TLineFields spf = run.Spf();
  ASSERT_EQ(spf.size(), 4u);
  EXPECT_EQ(FindField(spf, "result")->AsText(), "fail");
  EXPECT_EQ(FindField(spf, "term")->AsText(), "-all");
  EXPECT_EQ(FindField(spf, "lookups")->AsInteger(), 1);
  // Without an address: the same tree walked, no result.
  const Lines walked = run.Run("");
  EXPECT_EQ(walked[5], "navy|  SPF ohne Absender-IP: die Einträge und ihre Abfragen");
  EXPECT_NE(std::find(walked.begin(), walked.end(), "navy|  Ohne Absender-IP kein SPF-Ergebnis."), walked.end());
  EXPECT_EQ(FindField(run.Spf(), "result")->Kind(), TLineValue::TKind::Null);
}

TEST(MailCheckToolPolicy, TwelveLookupsShowTheWholeTreeWithTheLastTwoMarkedRed) {
  std::map<std::string, std::string> txt;
  std::string top = "v=spf1";
  for (int i = 1; i <= 6; ++i) {
    const std::string name = "inc" + std::to_string(i) + ".quovix.test";
    top += " include:" + name;
    txt[name] = "v=spf1 a:host.quovix.test -all";
  }
  txt["quovix.test"] = top + " -all";
  PolicyRun run(txt);
  for (const std::string ip : {"192.0.2.1", ""}) {
    const Lines lines = run.Run(ip);
    Lines marked;
    int records = 0;
    for (const std::string& l : lines) {
      if (l.find("[Abfrage 1") != std::string::npos && l.find("Grenze") != std::string::npos) marked.push_back(l);
      if (l.rfind("navy|", 0) == 0 && l.find(": v=spf1 ") != std::string::npos) ++records;
    }
    EXPECT_EQ(marked, (Lines{"red|    include:inc6.quovix.test  [Abfrage 11: über der Grenze von 10]",
                             "red|        a:host.quovix.test  [Abfrage 12: über der Grenze von 10]"}))
        << ip;
    EXPECT_EQ(records, 7) << ip;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "red|  SPF-Ergebnis: permerror (Term \"include:inc6.quovix.test\")"),
              lines.end())
        << ip;
    EXPECT_NE(std::find(lines.begin(), lines.end(), "red|  Grund: mehr als 10 Terme mit DNS-Abfragen"), lines.end());
    EXPECT_EQ(FindField(run.Spf(), "lookups")->AsInteger(), 12);
  }
}

// A DNS server that never answers: each of SPF, DMARC and DKIM asks it
// once, every further name fails at once, and the run says so in red.
TEST(MailCheckToolPolicy, ASilentServerIsAskedOnce) {
  ScriptedDnsServer mute([](const std::string&) { return std::vector<ScriptedDnsServer::Datagram>{}; });
  MailWindow w;
  w.f.IdDNSResolver.Port = mute.Port();
  w.f.chkEMailPolicy.SetChecked(true);
  w.f.EMailConnect = false;
  NameResTimeout = 300;
  w.f.cmbEMailSpfIp.SetText("192.0.2.1");
  const Lines lines = w.Run("user@quovix.test", "");
  EXPECT_EQ(mute.Queries(), 3);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "red|  SPF-Ergebnis: temperror"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "red|    DNS-Fehler: der DMARC-Eintrag ist nicht bekannt."),
            lines.end());
  EXPECT_EQ(lines[lines.size() - 3],
            "red|    DNS-Fehler (gängige Selektoren): default, dkim, mail, selector1, selector2, google, k1, s1, s2");
}

TEST(MailCheckToolPolicy, DmarcRecordWithAnUnauthorizedExternalReportAddress) {
  PolicyRun run({{"quovix.test", "v=spf1 -all"},
                 {"_dmarc.quovix.test", "v=DMARC1; p=quarantine; pct=50; rua=mailto:d@reports.example.net; x=1"}});
  const Lines lines = run.Run("");
  const Lines dmarc(std::find(lines.begin(), lines.end(), "navy|  DMARC:"),
                    std::find(lines.begin(), lines.end(), "navy|  DKIM:"));
  EXPECT_EQ(dmarc, (Lines{"navy|  DMARC:",
                          "navy|    _dmarc.quovix.test: v=DMARC1; p=quarantine; pct=50; "
                          "rua=mailto:d@reports.example.net; x=1",
                          "green|    Richtlinie: quarantine, Subdomains: quarantine, Anteil: 50 %, adkim: r, aspf: r",
                          "navy|    unbekannter Tag: x",
                          "red|    rua mailto:d@reports.example.net: Freigabe "
                          "quovix.test._report._dmarc.reports.example.net fehlt, die Berichte werden verworfen"}));
  const TLineValue* d = FindField(run.w.f.ToolResults[pgEMail], "dmarc");
  ASSERT_TRUE(d && d->Kind() == TLineValue::TKind::Object);
  EXPECT_EQ(FindField(d->AsObject(), "policy")->AsText(), "quarantine");
  EXPECT_EQ(FindField(d->AsObject(), "found_at")->AsText(), "_dmarc.quovix.test");
  EXPECT_EQ(FindField(d->AsObject(), "unauthorized_uris")->AsList().size(), 1u);
}

TEST(MailCheckToolPolicy, DkimKeysOfTheUsersAndTheBuiltInSelectors) {
  PolicyRun run({{"quovix.test", "v=spf1 -all"},
                 {"sel1._domainkey.quovix.test", "v=DKIM1; p=" + quovix::test::DkimPublicKey(1024)},
                 {"default._domainkey.quovix.test", "v=DKIM1; t=y; p=" + quovix::test::DkimPublicKey(512)},
                 {"google._domainkey.quovix.test", "v=DKIM1; p="}});
  run.w.f.cmbEMailDkim.SetText("Sel1");
  const Lines lines = run.Run("");
  const Lines dkim(std::find(lines.begin(), lines.end(), "navy|  DKIM:"), lines.end() - 2);
  EXPECT_EQ(dkim, (Lines{"navy|  DKIM:", "black|    sel1._domainkey.quovix.test: RSA, 1024 Bit",
                         "red|    default._domainkey.quovix.test: RSA, 512 Bit – zu kurz, unter 1024 Bit, Testmodus (t=y)",
                         "navy|    google._domainkey.quovix.test: Schlüssel widerrufen (leeres p=)",
                         "navy|    Ohne Eintrag (gängige Selektoren): dkim, mail, selector1, selector2, k1, s1, s2"}));
  const TLineValue* keys = FindField(run.w.f.ToolResults[pgEMail], "dkim");
  ASSERT_TRUE(keys && keys->Kind() == TLineValue::TKind::List);
  ASSERT_EQ(keys->AsList().size(), 3u);
  EXPECT_TRUE(FindField(keys->AsList()[1].AsObject(), "weak")->AsBool());
}

// ---- A real SMTP server ---------------------------------------------------------------

namespace {

// aiosmtpd on 127.0.0.1 (or the address given) for the domain quovix.test
// with the one mailbox postmaster: RCPT TO it is accepted, any other user
// refused with 550. It writes the port it got into a file; a DATA command is
// logged. With a certificate and its key it offers STARTTLS, or (implicit)
// speaks TLS from the first byte; port 0 takes any free port.
class MailServer {
 public:
  static constexpr const char* kPython = "/usr/bin/python3";
  enum class Tls { None, StartTls, Implicit, Old };  // Old: STARTTLS, then TLS 1.1 at most

  explicit MailServer(const std::string& address = "127.0.0.1", Tls tls = Tls::None,
                      const std::string& cert = "", const std::string& key = "", int port = 0) {
    if (access(kPython, X_OK) != 0 ||
        std::system((std::string(kPython) + " -c 'import aiosmtpd' 2>/dev/null").c_str()) != 0)
      return;
    installed_ = true;
    dir_.Write("mailserver.py", kScript);
    const std::string portFile = dir_.File("port");
    if (!child_.Start({kPython, dir_.File("mailserver.py"), "quovix.test", "postmaster", portFile,
                       dir_.File("data.log"), address,
                       tls == Tls::None ? "none" : tls == Tls::Implicit ? "implicit" : tls == Tls::Old ? "old" : "starttls",
                       cert, key,
                       std::to_string(port)},
                      dir_.File("server.log")))
      return;
    for (int i = 0; i < 250 && port_ == 0 && child_.Running(); ++i) {
      port_ = std::atoi(httptest::ReadFile(portFile).c_str());
      if (port_ == 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  bool Installed() const { return installed_; }
  int Port() const { return port_; }
  std::string Log() const { return httptest::ReadFile(dir_.File("server.log")); }
  bool SawData() const { return !httptest::ReadFile(dir_.File("data.log")).empty(); }

 private:
  static constexpr const char* kScript = R"(import asyncio, os, ssl, sys
from aiosmtpd.smtp import SMTP

domain, mailbox, port_file, data_log, host, tls, cert, key, port = sys.argv[1:10]
context = None
if tls != 'none':
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    if tls == 'old':
        context.maximum_version = ssl.TLSVersion.TLSv1_1

class OneMailbox:
    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        local, _, host = address.rpartition('@')
        if host.lower() != domain:
            return '554 5.7.1 <%s>: Relay access denied' % address
        if local.lower() != mailbox:
            return '550 5.1.1 <%s>: Recipient address rejected: User unknown' % address
        envelope.rcpt_tos.append(address)
        return '250 2.1.5 Ok'

class Server(SMTP):
    async def smtp_DATA(self, arg):
        with open(data_log, 'a') as f:
            f.write('DATA\n')
        await super().smtp_DATA(arg)

async def main():
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: Server(OneMailbox(), hostname='mx.quovix.test', ident='Quovix test ESMTP',
                       tls_context=context if tls in ('starttls', 'old') else None),
        host, int(port), ssl=context if tls == 'implicit' else None)
    with open(port_file + '.tmp', 'w') as f:
        f.write(str(server.sockets[0].getsockname()[1]))
    os.rename(port_file + '.tmp', port_file)
    await server.serve_forever()

asyncio.run(main())
)";

  bool installed_ = false;
  httptest::TempDir dir_;
  httptest::ChildProcess child_;
  int port_ = 0;
};

// The server's dialogue from its greeting on, for a recipient and its reply.
Lines RealDialogue(const std::string& rcpt, const std::string& reply) {
  return {"black|220 mx.quovix.test Quovix test ESMTP",
          "blue|EHLO testbox",
          "black|250-mx.quovix.test",
          "black|250-SIZE 33554432",
          "black|250-8BITMIME",
          "black|250 HELP",
          "blue|MAIL FROM: <mail-check@quovix.test>",
          "black|250 OK",
          "blue|RCPT TO: <" + rcpt + ">",
          reply,
          "blue|QUIT",
          "black|221 Bye",
          "navy|Verbindung wurde vom Server geschlossen."};
}

}  // namespace

TEST(MailCheckToolRealServer, ExistingMailboxAcceptedUnknownUserRefused) {
  MailServer server;
  if (!server.Installed()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/deps/mail.list)";
  ASSERT_GT(server.Port(), 0) << "aiosmtpd did not start:\n" << server.Log();
  MailWindow w;
  const std::string mx = At(server.Port());
  const Lines head = {
      "blue|Übersicht:", "navy|  Anfrage mit:      %s", "navy|  Domainname:       quovix.test",
      "black|", "navy|Überprüfe die Adresse \"%s\" mit dem MX-Server \"127.0.0.1\"...", "navy|",
      "navy|Verbunden mit MX-Server \"127.0.0.1\", Port %p."};
  auto headFor = [&](const std::string& address) {
    Lines out;
    for (const auto& l : head)
      out.push_back(ReplaceAll(ReplaceAll(l, "%s", address), "%p", std::to_string(server.Port())));
    return out;
  };
  EXPECT_EQ(w.Run("postmaster@quovix.test", mx),
            Concat({headFor("postmaster@quovix.test"),
                    RealDialogue("postmaster@quovix.test", "black|250 2.1.5 Ok"), kAccepted}));
  EXPECT_EQ(w.Run("nobody@quovix.test", mx),
            Concat({headFor("nobody@quovix.test"),
                    RealDialogue("nobody@quovix.test",
                                 "red|550 5.1.1 <nobody@quovix.test>: Recipient address rejected: User unknown"),
                    kRecipientRefused}));
  EXPECT_FALSE(server.SawData());
}

// The console front end: quovix-cli beside a settings file of the test's
// own, whose external-address service is a scripted server on loopback, so
// that the greeting name needs no name look-up at all.
TEST(MailCheckToolRealServer, ConsoleFrontEndPrintsOverviewDialogueAndVerdict) {
  MailServer server;
  if (!server.Installed()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/deps/mail.list)";
  ASSERT_GT(server.Port(), 0) << "aiosmtpd did not start:\n" << server.Log();
  httptest::ScriptedServer service([](httptest::ScriptConn& c, const std::string&, int) {
    c.Send(ServiceReply("198.51.100.7\n\nrelay.quovix.test"));
  });
  // The domain's transport policies are asked of a DNS server that knows
  // no name.
  dnstest::ScriptedDnsServer dns([](const std::string& query) {
    return std::vector<dnstest::ScriptedDnsServer::Datagram>{
        {dnstest::Reply(dnstest::ParseQuestion(query), 3, {})}};
  });
  httptest::TempDir dir;
  std::filesystem::copy_file(std::string(QUOVIX_BIN_DIR) + "/quovix-cli", dir.File("quovix-cli"));
  dir.Write("Quovix.ini", "[Settings]\r\nActiveDnsServerIP=127.0.0.1:" + std::to_string(dns.Port()) +
                              "\r\nExtIpUrl=" + service.Url("/") + "\r\n");
  const std::string cmd = "cd " + dir.Path() + " && NO_COLOR=1 ./quovix-cli /EMail:nobody@quovix.test" +
                          " /EMailMX:" + At(server.Port()) + " /EMailT:5000 /EMailPolicy:0 >out.txt 2>err.txt";
  // The refused recipient is a red line: the exit status says so.
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status)) << httptest::ReadFile(dir.File("err.txt"));
  ASSERT_EQ(WEXITSTATUS(status), 1) << httptest::ReadFile(dir.File("err.txt"));
  std::ifstream in(dir.File("out.txt"));
  Lines out;
  for (std::string l; std::getline(in, l);) out.push_back(l);
  EXPECT_EQ(out, (Lines{"Übersicht:",
                        "  Anfrage mit:      nobody@quovix.test",
                        "  Domainname:       quovix.test",
                        "",
                        "Transport-Richtlinien der Domain \"quovix.test\":",
                        "  MTA-STS: kein Eintrag bei _mta-sts.quovix.test, keine Richtlinie.",
                        "  TLS-Berichte: kein Eintrag bei _smtp._tls.quovix.test, gescheiterte TLS-Verbindungen meldet niemand.",
                        "",
                        "Überprüfe die Adresse \"nobody@quovix.test\" mit dem MX-Server \"127.0.0.1\"...",
                        "",
                        "Verbunden mit MX-Server \"127.0.0.1\", Port " + std::to_string(server.Port()) + ".",
                        "220 mx.quovix.test Quovix test ESMTP",
                        "EHLO relay.quovix.test",
                        "250-mx.quovix.test",
                        "250-SIZE 33554432",
                        "250-8BITMIME",
                        "250 HELP",
                        "Der Server bietet kein STARTTLS an; die Sitzung läuft unverschlüsselt.",
                        "MAIL FROM: <mail-check@quovix.test>",
                        "250 OK",
                        "RCPT TO: <nobody@quovix.test>",
                        "550 5.1.1 <nobody@quovix.test>: Recipient address rejected: User unknown",
                        "QUIT",
                        "221 Bye",
                        "Verbindung wurde vom Server geschlossen.",
                        "",
                        "Die Absenderadresse wurde akzeptiert.",
                        "Die Empfängeradresse wurde nicht akzeptiert.",
                        "",
                        "Anfrage beendet."}));
  EXPECT_EQ(httptest::ReadFile(dir.File("err.txt")),
            "Überprüfe die E-Mail Adresse \"nobody@quovix.test\"...\nBereit.\n");
  EXPECT_FALSE(server.SawData());
}

// A mail exchanger is reached over either family, and the greeting follows
// the connection's: the external address when it is of that family, else
// the connection's own local address (never an IPv4 literal over IPv6).
TEST(MailCheckToolRealServer, GreetingFollowsTheFamilyOfTheConnection) {
  MailServer server("::1");
  if (!server.Installed()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/deps/mail.list)";
  if (server.Port() == 0) GTEST_SKIP() << "aiosmtpd could not listen on ::1:\n" << server.Log();
  std::string serviceBody;
  httptest::ScriptedServer service([&](httptest::ScriptConn& c, const std::string&, int) {
    c.Send(ServiceReply(serviceBody));
  });
  MailWindow w;
  ExtIpUrl = service.Url("/");
  w.names->All["mx6.quovix.test"] = {IpAddress::Parse("::1")};
  // Both families; this server listens on ::1 only.
  w.names->All["mx46.quovix.test"] = {IpAddress::Parse("127.0.0.1"), IpAddress::Parse("::1")};
  const std::string port = std::to_string(server.Port());
  for (const auto& [exchanger, external, greeting] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {"mx6.quovix.test", "2001:DB8::7\n", "blue|EHLO [IPv6:2001:db8::7]"},
           {"mx6.quovix.test", "198.51.100.7\n", "blue|EHLO [IPv6:::1]"},
           {"mx46.quovix.test", "198.51.100.7\n", "blue|EHLO [IPv6:::1]"}}) {
    serviceBody = external;
    const Lines lines = w.Run("postmaster@quovix.test", exchanger + ":" + port);
    ASSERT_GE(lines.size(), 9u) << exchanger;
    EXPECT_EQ(Lines(lines.begin() + 6, lines.begin() + 9),
              (Lines{"navy|Verbunden mit MX-Server \"" + exchanger + "\", Port " + port + ".",
                     "black|220 mx.quovix.test Quovix test ESMTP", greeting}))
        << exchanger << " " << external;
    EXPECT_EQ(Lines(lines.end() - 5, lines.end()), kAccepted) << exchanger;
  }
}

// ---- STARTTLS and implicit TLS against the real server ------------------------------

namespace {

// The lines of a run that contain part, as "colour|text" (maroon shown as "other").
Lines Containing(const Lines& shown, const std::string& part) {
  Lines out;
  for (const auto& l : shown)
    if (l.find(part) != std::string::npos) out.push_back(l);
  return out;
}

struct TrustCa {
  explicit TrustCa(const std::string& ca) { setenv("SSL_CERT_FILE", ca.c_str(), 1); }
  ~TrustCa() { unsetenv("SSL_CERT_FILE"); }
};

}  // namespace

// Each certificate case: the handshake's report beside the dialogue, the
// fault in red, and the dialogue finished over TLS up to RCPT TO and QUIT;
// a server without STARTTLS gets one maroon line and goes on in plain text.
TEST(MailCheckToolTls, StartTlsReportsTheChainAndFinishesTheDialogue) {
  httptest::TempDir caDir;
  quovix::test::TestCa ca(caDir.Path());
  ASSERT_TRUE(ca.Ok());
  const auto good = ca.Issue("good", "/CN=mx.quovix.test", "DNS:mx.quovix.test", false, true);
  const auto expired = ca.Issue("expired", "/CN=mx.quovix.test", "DNS:mx.quovix.test", true);
  const auto other = ca.Issue("other", "/CN=mail.elsewhere.test", "DNS:mail.elsewhere.test");
  const auto self = ca.SelfSigned("self", "/CN=mx.quovix.test", "DNS:mx.quovix.test");
  TrustCa trust(ca.Ca());
  struct Case {
    const char* name;
    MailServer::Tls tls;
    const quovix::test::TestCa::Cert* cert;
    const char* state;      // the result's tls
    Lines verdicts;         // the lines holding "Kette:", "Name:", "abgelaufen", "STARTTLS"
  };
  const std::vector<Case> cases = {
      {"good chain", MailServer::Tls::StartTls, &good, "done",
       {"green|  Kette:            vertrauenswürdig",
        "green|  Name:             \"mx.quovix.test\" passt zum Zertifikat"}},
      {"expired", MailServer::Tls::StartTls, &expired, "done",
       {"red|  Kette:            nicht vertrauenswürdig: certificate has expired (Zertifikat 1)",
        "green|  Name:             \"mx.quovix.test\" passt zum Zertifikat"}},
      {"other name", MailServer::Tls::StartTls, &other, "done",
       {"green|  Kette:            vertrauenswürdig",
        "red|  Name:             \"mx.quovix.test\" passt nicht zum Zertifikat"}},
      {"self-signed", MailServer::Tls::StartTls, &self, "done",
       {"red|  Kette:            nicht vertrauenswürdig: self-signed certificate (Zertifikat 1)",
        "green|  Name:             \"mx.quovix.test\" passt zum Zertifikat"}},
      {"no STARTTLS", MailServer::Tls::None, nullptr, "not_offered",
       {"other|Der Server bietet kein STARTTLS an; die Sitzung läuft unverschlüsselt."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MailServer server("127.0.0.1", c.tls, c.cert ? c.cert->chain : "", c.cert ? c.cert->key : "");
    if (!server.Installed()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/deps/mail.list)";
    ASSERT_GT(server.Port(), 0) << "aiosmtpd did not start:\n" << server.Log();
    MailWindow w;
    w.Timeout("5000");
    w.names->All["mx.quovix.test"] = {IpAddress::Parse("127.0.0.1")};
    w.f.chkEMailTls.SetChecked(true);
    const Lines shown = w.Run("postmaster@quovix.test", "mx.quovix.test:" + std::to_string(server.Port()));
    Lines verdicts = Containing(shown, "Kette:");
    for (const char* part : {"Name:  ", "STARTTLS an"})
      for (const auto& l : Containing(shown, part)) verdicts.push_back(l);
    EXPECT_EQ(verdicts, c.verdicts) << ::testing::PrintToString(shown);
    // The dialogue: EHLO twice around the handshake, then to the end.
    const Lines ehlo = Containing(shown, "blue|EHLO ");
    EXPECT_EQ(ehlo.size(), c.cert ? 2u : 1u) << ::testing::PrintToString(shown);
    EXPECT_EQ(Containing(shown, "blue|STARTTLS").size(), c.cert ? 1u : 0u);
    EXPECT_EQ(Containing(shown, "black|250 2.1.5 Ok").size(), 1u) << ::testing::PrintToString(shown);
    EXPECT_EQ(Containing(shown, "black|221 Bye").size(), 1u);
    // The server's close_notify after QUIT counts as its close.
    EXPECT_EQ(Containing(shown, "navy|Verbindung wurde vom Server geschlossen.").size(), 1u);
    EXPECT_EQ(shown.back(), "blue|Anfrage beendet.");
    if (c.cert == &expired) {
      EXPECT_EQ(Containing(shown, "red|     Gültig:").size(), 1u) << ::testing::PrintToString(shown);
      EXPECT_EQ(Containing(shown, "abgelaufen seit").size(), 1u);
    }
    if (c.cert) {
      EXPECT_EQ(Containing(shown, "blue|Zertifikatskette (wie gesendet):").size(), 1u);
    }
    if (c.cert == &good) {
      EXPECT_EQ(Containing(shown, ". Inhaber:").size(), 2u);  // with the intermediate
    }
    const TLineValue* tls = FindField(w.f.ToolResults[pgEMail], "tls");
    ASSERT_TRUE(tls);
    EXPECT_EQ(tls->AsText(), c.state);
    EXPECT_FALSE(server.SawData());
  }
}

// Port 465 speaks TLS from the first byte when the box is on; with the box
// off the dialogue is today's, STARTTLS or not.
TEST(MailCheckToolTls, ImplicitTlsOnPort465AndTheBoxOff) {
  httptest::TempDir caDir;
  quovix::test::TestCa ca(caDir.Path());
  ASSERT_TRUE(ca.Ok());
  const auto good = ca.Issue("good", "/CN=127.0.0.1", "IP:127.0.0.1");
  TrustCa trust(ca.Ca());
  {
    MailServer offering("127.0.0.1", MailServer::Tls::StartTls, good.chain, good.key);
    if (!offering.Installed()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/deps/mail.list)";
    ASSERT_GT(offering.Port(), 0) << offering.Log();
    MailWindow w;
    w.Timeout("5000");
    w.f.chkEMailTls.SetChecked(false);
    const Lines shown = w.Run("postmaster@quovix.test", At(offering.Port()));
    // Offered, not taken: no STARTTLS sent, no TLS line.
    EXPECT_EQ(Containing(shown, "black|250-STARTTLS").size(), 1u) << ::testing::PrintToString(shown);
    EXPECT_EQ(Containing(shown, "blue|STARTTLS").size(), 0u);
    EXPECT_EQ(Containing(shown, "TLS-Verbindung").size(), 0u);
    EXPECT_EQ(Containing(shown, "blue|EHLO").size(), 1u);
    EXPECT_EQ(shown.back(), "blue|Anfrage beendet.");
  }
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the implicit-TLS server listens on port 465";
  MailServer implicit("127.0.0.1", MailServer::Tls::Implicit, good.chain, good.key, 465);
  if (implicit.Port() == 0) GTEST_SKIP() << "port 465 of 127.0.0.1 is taken:\n" << implicit.Log();
  MailWindow w;
  w.Timeout("5000");
  w.f.chkEMailTls.SetChecked(true);
  const Lines shown = w.Run("postmaster@quovix.test", "127.0.0.1:465");
  EXPECT_EQ(Containing(shown, "green|  Kette:            vertrauenswürdig").size(), 1u)
      << ::testing::PrintToString(shown);
  EXPECT_EQ(Containing(shown, "STARTTLS").size(), 0u);
  EXPECT_EQ(Containing(shown, "black|221 Bye").size(), 1u);
  EXPECT_EQ(FindField(w.f.ToolResults[pgEMail], "tls")->AsText(), "done");
}

// A handshake that fails after STARTTLS (the server speaks no TLS version
// the client accepts) is a maroon finding with its reason; the check goes
// on over a new plain connection, as a sending server falls back.
TEST(MailCheckToolTls, FailedHandshakeFallsBackToANewPlainConnection) {
  httptest::TempDir caDir;
  quovix::test::TestCa ca(caDir.Path());
  ASSERT_TRUE(ca.Ok());
  const auto good = ca.Issue("good", "/CN=127.0.0.1", "IP:127.0.0.1");
  MailServer server("127.0.0.1", MailServer::Tls::Old, good.chain, good.key);
  if (!server.Installed()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/deps/mail.list)";
  ASSERT_GT(server.Port(), 0) << server.Log();
  MailWindow w;
  w.Timeout("5000");
  w.f.chkEMailTls.SetChecked(true);
  const Lines shown = w.Run("postmaster@quovix.test", At(server.Port()));
  const Lines failed = Containing(shown, "TLS-Handshake fehlgeschlagen: ");
  ASSERT_EQ(failed.size(), 1u) << ::testing::PrintToString(shown);
  EXPECT_EQ(failed[0].rfind("other|", 0), 0u);
  EXPECT_EQ(Containing(shown, "navy|Neue Verbindung ohne TLS mit \"127.0.0.1\", Port " +
                                  std::to_string(server.Port()) + ":")
                .size(),
            1u);
  EXPECT_EQ(Containing(shown, "blue|EHLO testbox").size(), 2u);
  EXPECT_EQ(Containing(shown, "blue|STARTTLS").size(), 1u);
  EXPECT_EQ(Containing(shown, "black|221 Bye").size(), 1u);
  EXPECT_EQ(std::vector<std::string>(shown.end() - 5, shown.end()), kAccepted);
  EXPECT_EQ(FindField(w.f.ToolResults[pgEMail], "tls")->AsText(), "failed");
}

// ---- Every exchanger, and DANE ---------------------------------------------------------

namespace {

// The SHA-256 of a certificate's SubjectPublicKeyInfo in upper-case hex,
// as the openssl command computes it (the data of a "3 1 1" record).
std::string SpkiSha256(const std::string& pem) {
  std::string out;
  const std::string cmd = "openssl x509 -in '" + pem +
                          "' -noout -pubkey | openssl pkey -pubin -outform DER | sha256sum | cut -c1-64";
  if (FILE* p = popen(cmd.c_str(), "r")) {
    char buf[128];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  out = Trim(out);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::toupper(c); });
  return out;
}

// The DANE lines of a run: the verdicts and the records.
Lines DaneLines(const Lines& shown) {
  Lines out;
  for (const auto& l : shown)
    if (l.find("DANE:") != std::string::npos || l.find("|  TLSA ") != std::string::npos) out.push_back(l);
  return out;
}

}  // namespace

// TLSA records in a signed zone behind a validating resolver, and the same
// record in a zone without DS: a validated record that fits is green, one
// that does not is red, an unvalidated one does not count (maroon). With
// every exchanger asked, each block carries its own DANE lines.
TEST(MailCheckToolDane, ValidatedRecordsDecideUnvalidatedOnesDoNotCount) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: name servers on port 53, exchangers on port 25";
  httptest::TempDir caDir;
  quovix::test::TestCa ca(caDir.Path());
  ASSERT_TRUE(ca.Ok());
  const auto cert = ca.Issue("mx", "/CN=mx.good.test", "DNS:mx.good.test,DNS:mx2.good.test,DNS:mx.insecure.test",
                             false, true);
  const auto other = ca.Issue("other", "/CN=mx.other.test", "DNS:mx.other.test");
  const std::string fits = SpkiSha256(cert.cert), wrong = SpkiSha256(other.cert);
  ASSERT_EQ(fits.size(), 64u);
  test::DnssecHierarchy dns;
  const std::string why =
      dns.Start({{"good", "good.test. IN MX 20 mx2.good.test.\ngood.test. IN MX 10 mx.good.test.\n"
                          "_25._tcp.mx.good.test. IN TLSA 3 1 1 " + fits + "\n"
                          "_25._tcp.mx2.good.test. IN TLSA 3 1 1 " + wrong + "\n"
                          "_25._tcp.mx3.good.test. IN TLSA 3 1 1 " + fits + "\n"
                          "_25._tcp.mx4.good.test. IN TLSA 1 1 1 " + fits + "\n"},
                 {"insecure", "_25._tcp.mx.insecure.test. IN TLSA 3 1 1 " + fits + "\n"}});
  if (!why.empty()) GTEST_SKIP() << why;
  MailServer first(dns.NetAddress("25"), MailServer::Tls::StartTls, cert.chain, cert.key, 25);
  MailServer second(dns.NetAddress("26"), MailServer::Tls::StartTls, cert.chain, cert.key, 25);
  MailServer plain(dns.NetAddress("27"), MailServer::Tls::None, "", "", 25);
  if (!first.Installed()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/deps/mail.list)";
  ASSERT_GT(first.Port(), 0) << first.Log();
  ASSERT_GT(second.Port(), 0) << second.Log();
  ASSERT_GT(plain.Port(), 0) << plain.Log();
  TrustCa trust(ca.Ca());
  MailWindow w;
  w.Timeout("5000");
  w.f.chkEMailTls.SetChecked(true);
  ActiveDnsServerIP = dns.Resolver();
  NameResTimeout = 5000;
  w.names->All = {{"mx.good.test", {IpAddress::Parse(dns.NetAddress("25"))}},
                  {"mx2.good.test", {IpAddress::Parse(dns.NetAddress("26"))}},
                  {"mx3.good.test", {IpAddress::Parse(dns.NetAddress("27"))}},
                  {"mx4.good.test", {IpAddress::Parse(dns.NetAddress("25"))}},
                  {"mx.insecure.test", {IpAddress::Parse(dns.NetAddress("25"))}}};
  const Lines matches = {"navy|DANE: TLSA-Einträge unter _25._tcp.mx.good.test (DNSSEC-validiert):",
                         "green|  TLSA 3 1 1 " + fits + "  – passt",
                         "green|DANE: Ein Eintrag passt zum Zertifikat des Servers."};
  const Lines refused = {"navy|DANE: TLSA-Einträge unter _25._tcp.mx2.good.test (DNSSEC-validiert):",
                         "red|  TLSA 3 1 1 " + wrong + "  – passt nicht",
                         "red|DANE: Kein Eintrag passt: ein DANE-fähiger Absender würde diesen Server ablehnen."};
  // Each case: the DANE lines, and the line after them (EHLO inside TLS,
  // or MAIL FROM when the session stayed in plain text).
  const std::string ehlo = "blue|EHLO testbox", mailFrom = "blue|MAIL FROM: <mail-check@quovix.test>";
  for (const auto& [server, lines, next, verdict] :
       std::vector<std::tuple<std::string, Lines, std::string, std::string>>{
           {"mx.good.test", matches, ehlo, "match"},
           {"mx2.good.test", refused, ehlo, "no_match"},
           {"mx3.good.test",
            {"navy|DANE: TLSA-Einträge unter _25._tcp.mx3.good.test (DNSSEC-validiert):",
             "red|  TLSA 3 1 1 " + fits + "  – ohne TLS kein Zertifikat zum Vergleich",
             "red|DANE: Validierte TLSA-Einträge, aber keine TLS-Sitzung: ein DANE-fähiger Absender stellt nicht zu."},
            mailFrom, "no_tls"},
           // A usage that does not apply to SMTP: TLS is mandatory, the
           // certificate goes unchecked.
           {"mx4.good.test",
            {"navy|DANE: TLSA-Einträge unter _25._tcp.mx4.good.test (DNSSEC-validiert):",
             "navy|  TLSA 1 1 1 " + fits + "  – Verwendung 1 gilt nicht für SMTP (RFC 7672), kein Vergleich",
             "other|DANE: Kein verwendbarer TLSA-Eintrag: ein DANE-fähiger Absender verlangt TLS, prüft das "
             "Zertifikat aber nicht."},
            ehlo, "unusable"},
           {"mx.insecure.test",
            {"other|DANE: TLSA-Einträge unter _25._tcp.mx.insecure.test, nicht validiert (kein AD-Bit): sie zählen "
             "nicht",
             "black|  TLSA 3 1 1 " + fits + "  – passt"},
            ehlo, "unvalidated"}}) {
    const Lines shown = w.Run("postmaster@quovix.test", server);
    EXPECT_EQ(DaneLines(shown), lines) << ::testing::PrintToString(shown);
    // Right behind the TLS report or the note that there is no TLS.
    const auto at = std::find(shown.begin(), shown.end(), lines.front());
    ASSERT_NE(at, shown.end());
    ASSERT_LT(at + static_cast<long>(lines.size()), shown.end());
    EXPECT_EQ(*(at + static_cast<long>(lines.size())), next) << server;
    EXPECT_EQ(FindField(w.f.ToolResults[pgEMail], "dane")->AsText(), verdict);
    EXPECT_EQ(Containing(shown, "black|250 2.1.5 Ok").size(), 1u) << server;
  }
  // Every exchanger: both blocks in preference order, each with its DANE
  // lines; the dialogue with the first, whose DANE lines come once more.
  w.f.chkEMailAllMx.SetChecked(true);
  const Lines shown = w.Run("postmaster@good.test", "");
  EXPECT_EQ(Containing(shown, "blue|Mail-Exchanger "),
            (Lines{"blue|Mail-Exchanger 1 von 2: \"mx.good.test\" (Präferenz 10)",
                   "blue|Mail-Exchanger 2 von 2: \"mx2.good.test\" (Präferenz 20)"}));
  EXPECT_EQ(DaneLines(shown), Concat({matches, refused, matches})) << ::testing::PrintToString(shown);
  EXPECT_EQ(Containing(shown, "mit dem MX-Server \"mx.good.test\"...").size(), 1u);
  const TLineValue* each = FindField(w.f.ToolResults[pgEMail], "exchangers");
  ASSERT_TRUE(each && each->Kind() == TLineValue::TKind::List);
  ASSERT_EQ(each->AsList().size(), 2u);
  EXPECT_EQ(FindField(each->AsList()[1].AsObject(), "dane")->AsText(), "no_match");
  EXPECT_EQ(FindField(each->AsList()[1].AsObject(), "tls")->AsText(), "done");

  // Without a connection the exchangers' records are shown, compared with
  // nothing, and no exchanger is asked.
  w.f.chkEMailAllMx.SetChecked(false);
  w.f.EMailConnect = false;
  const Lines alone = w.Run("postmaster@good.test", "");
  EXPECT_EQ(DaneLines(alone),
            (Lines{"navy|DANE: TLSA-Einträge unter _25._tcp.mx.good.test (DNSSEC-validiert):",
                   "navy|  TLSA 3 1 1 " + fits + "  – ohne Verbindung nicht verglichen",
                   "navy|DANE: TLSA-Einträge unter _25._tcp.mx2.good.test (DNSSEC-validiert):",
                   "navy|  TLSA 3 1 1 " + wrong + "  – ohne Verbindung nicht verglichen"}))
      << ::testing::PrintToString(alone);
  EXPECT_TRUE(Containing(alone, "Überprüfe die Adresse").empty());
  EXPECT_EQ(alone.back(), "blue|Anfrage beendet.");
}

namespace {

// quovix.test with a silent exchanger of preference 5, then two of 10 in
// the answer's order (STARTTLS first, then plain text), and a null MX.
std::vector<ScriptedDnsServer::Datagram> AllMxZone(const std::string& query) {
  using namespace dnstest;
  const Question q = ParseQuestion(query);
  const std::string apex = Bytes().ptr(12).b;
  if (q.name == "quovix.test" && q.type == 15)
    return {{Reply(q, 0,
                   {Rr(apex, 15, MxRdata(10, "mx-tls.quovix.test")), Rr(apex, 15, MxRdata(5, "mx-silent.quovix.test")),
                    Rr(apex, 15, MxRdata(0, "")), Rr(apex, 15, MxRdata(10, "mx-plain.quovix.test"))})}};
  return {{Reply(q, 3, {})}};
}

}  // namespace

// The blocks come out in preference order whatever order they finished in:
// the silent exchanger's ends on its own deadline, the others' complete;
// the dialogue runs with the first that answered. An abort stops them all.
TEST(MailCheckToolAllMx, BlocksInOrderSilentOneTimesOutDialogueWithTheFirstThatAnswered) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: the exchangers listen on port 25";
  httptest::TempDir caDir;
  quovix::test::TestCa ca(caDir.Path());
  ASSERT_TRUE(ca.Ok());
  const auto cert = ca.Issue("tls", "/CN=mx-tls.quovix.test", "DNS:mx-tls.quovix.test", false, true);
  ScriptedSmtp silent;
  silent.silent = true;
  if (!silent.Start("127.78.0.5", 25)) GTEST_SKIP() << "port 25 of 127.78.0.5 is taken";
  MailServer tls("127.78.0.10", MailServer::Tls::StartTls, cert.chain, cert.key, 25);
  MailServer plain("127.78.0.11", MailServer::Tls::None, "", "", 25);
  if (!tls.Installed()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/deps/mail.list)";
  ASSERT_GT(tls.Port(), 0) << tls.Log();
  ASSERT_GT(plain.Port(), 0) << plain.Log();
  TrustCa trust(ca.Ca());
  ScriptedDnsServer dns(AllMxZone);
  MailWindow w;
  w.Timeout("2000");
  w.f.IdDNSResolver.Port = dns.Port();
  w.f.chkEMailTls.SetChecked(true);
  w.f.chkEMailAllMx.SetChecked(true);
  w.names->All = {{"mx-silent.quovix.test", {IpAddress::Parse("127.78.0.5")}},
                  {"mx-tls.quovix.test", {IpAddress::Parse("127.78.0.10")}},
                  {"mx-plain.quovix.test", {IpAddress::Parse("127.78.0.11")}}};
  const Lines shown = w.Run("postmaster@quovix.test", "");
  const auto block = [&](const std::string& mx) {
    const auto from = std::find_if(shown.begin(), shown.end(), [&](const std::string& l) {
      return l.rfind("blue|Mail-Exchanger ", 0) == 0 && l.find("\"" + mx + "\"") != std::string::npos;
    });
    return Lines(from, std::find(from, shown.end(), "black|"));
  };
  EXPECT_EQ(block("mx-silent.quovix.test"),
            (Lines{"blue|Mail-Exchanger 1 von 3: \"mx-silent.quovix.test\" (Präferenz 5)",
                   "red|Keine Antwort vom Server.", "red|Die Verbindung konnte nicht hergestellt werden!"}))
      << ::testing::PrintToString(shown);
  EXPECT_EQ(block("mx-plain.quovix.test"),
            (Lines{"blue|Mail-Exchanger 3 von 3: \"mx-plain.quovix.test\" (Präferenz 10)",
                   "navy|Verbunden mit MX-Server \"mx-plain.quovix.test\", Port 25.",
                   "black|220 mx.quovix.test Quovix test ESMTP", "blue|EHLO testbox", "black|250-mx.quovix.test",
                   "black|250-SIZE 33554432", "black|250-8BITMIME", "black|250 HELP",
                   "other|Der Server bietet kein STARTTLS an; die Sitzung läuft unverschlüsselt.",
                   "navy|DANE: Kein TLSA-Eintrag unter _25._tcp.mx-plain.quovix.test."}));
  const Lines tlsBlock = block("mx-tls.quovix.test");
  ASSERT_FALSE(tlsBlock.empty());
  EXPECT_EQ(tlsBlock.front(), "blue|Mail-Exchanger 2 von 3: \"mx-tls.quovix.test\" (Präferenz 10)");
  EXPECT_EQ(Containing(tlsBlock, "green|  Kette:            vertrauenswürdig").size(), 1u)
      << ::testing::PrintToString(tlsBlock);
  EXPECT_EQ(Containing(tlsBlock, "blue|EHLO testbox").size(), 2u);
  // No MAIL FROM in the blocks: once, in the dialogue with mx-tls.
  EXPECT_EQ(Containing(shown, "blue|MAIL FROM:").size(), 1u);
  EXPECT_EQ(Containing(shown, "navy|Überprüfe die Adresse").size(), 1u);
  EXPECT_EQ(Containing(shown, "navy|Überprüfe die Adresse")[0],
            "navy|Überprüfe die Adresse \"postmaster@quovix.test\" mit dem MX-Server \"mx-tls.quovix.test\"...");
  EXPECT_EQ(Lines(shown.end() - 5, shown.end()), kAccepted);
  EXPECT_FALSE(tls.SawData());

  // An abort while the exchangers are asked ends every worker at once:
  // all three now silent.
  w.Timeout("10000");
  for (auto& [name, addresses] : w.names->All) addresses = {IpAddress::Parse("127.78.0.5")};
  const int before = silent.Connections();
  SetMessagePump([&] {
    if (silent.Connections() >= before + 3) w.f.CloseRequested = true;
  });
  SetAbortCheck([&w] { return w.f.StopRequested(); });
  const auto start = std::chrono::steady_clock::now();
  const Lines aborted = w.Run("postmaster@quovix.test", "");
  const auto took = std::chrono::steady_clock::now() - start;
  SetAbortCheck(nullptr);
  EXPECT_EQ(aborted.back(), "red|Abbruch durch Benutzer.") << ::testing::PrintToString(aborted);
  EXPECT_TRUE(Containing(aborted, "Mail-Exchanger ").empty());
  // Generous: far below the ten seconds each worker would otherwise wait.
  EXPECT_LT(took, std::chrono::seconds(5));
}

// ---- MTA-STS and TLS reporting ------------------------------------------------------

namespace {

// Each test domain's records: an MTA-STS record everywhere, a TLS reporting
// record everywhere but at testing.test, exchangers for testing.test.
std::vector<ScriptedDnsServer::Datagram> StsZone(const std::string& query) {
  using namespace dnstest;
  const Question q = ParseQuestion(query);
  const std::string owner = Bytes().ptr(12).b;
  auto starts = [&](const char* prefix) { return q.name.rfind(prefix, 0) == 0; };
  if (q.type == 16 && q.name == "_mta-sts.several.test")
    return {{Reply(q, 0, {Rr(owner, 16, TxtRdata({"v=STSv1; id=1"})), Rr(owner, 16, TxtRdata({"v=STSv1; id=2"}))})}};
  if (q.type == 16 && q.name == "_smtp._tls.several.test")
    return {{Reply(q, 0, {Rr(owner, 16, TxtRdata({"v=TLSRPTv1; rua=http://r.several.test/"}))})}};
  if (q.type == 16 && starts("_mta-sts.")) return {{Reply(q, 0, {Rr(owner, 16, TxtRdata({"v=STSv1; id=1"}))})}};
  if (q.type == 16 && starts("_smtp._tls.") && q.name != "_smtp._tls.testing.test")
    return {{Reply(q, 0, {Rr(owner, 16, TxtRdata({"v=TLSRPTv1; rua=mailto:tls@" + q.name.substr(11)}))})}};
  if (q.type == 15 && q.name == "testing.test")
    return {{Reply(q, 0,
                   {Rr(owner, 15, MxRdata(20, "mx2.testing.test")), Rr(owner, 15, MxRdata(10, "mx1.testing.test"))})}};
  return {{Reply(q, 3, {})}};
}

// nginx serving the policy of each domain as mta-sts.<domain> with one
// certificate of a test CA for them all; mta-sts.redirect.test redirects,
// mta-sts.badtype.test serves its policy as HTML.
struct StsPeers {
  httptest::TempDir dir;
  quovix::test::TestCa ca{dir.Path()};
  int port = httptest::FreePort();
  std::unique_ptr<httptest::NginxPeer> nginx;
  std::string skipReason;

  explicit StsPeers(const std::map<std::string, std::string>& policies) {
    std::string san;
    for (const char* d : {"redirect.test", "badtype.test"}) san += std::string(",DNS:mta-sts.") + d;
    for (const auto& [domain, body] : policies) {
      san += ",DNS:mta-sts." + domain;
      dir.Write("www/mta-sts." + domain + "/.well-known/mta-sts.txt", body);
    }
    dir.Write("www/mta-sts.badtype.test/.well-known/mta-sts.txt", policies.begin()->second);
    const auto cert = ca.Issue("mta-sts", "/CN=mta-sts.test", san.substr(1));
    if (!ca.Ok() || !cert.ok) {
      skipReason = "the test CA could not be made (openssl)";
      return;
    }
    const std::string listen = "    listen 127.0.0.1:" + std::to_string(port) + " ssl;\n    ssl_certificate " +
                               cert.chain + ";\n    ssl_certificate_key " + cert.key + ";\n";
    const std::string www = "    root " + dir.Path() + "/www/$host;\n";
    nginx = std::make_unique<httptest::NginxPeer>(
        dir,
        "  server {\n" + listen + www + "    types { text/plain txt; }\n  }\n"
        "  server {\n" + listen + "    server_name mta-sts.redirect.test;\n"
        "    return 301 https://mta-sts.enforce.test/.well-known/mta-sts.txt;\n  }\n"
        "  server {\n" + listen + "    server_name mta-sts.badtype.test;\n" + www + "    types { }\n  }\n",
        std::vector<int>{port});
    skipReason = nginx->skipReason;
  }
  // The window asks these peers: names of the policy hosts on loopback, the
  // test CA trusted, the HTTPS port moved to nginx's.
  void Use(MailWindow& w, const ScriptedDnsServer& dns) const {
    for (const char* d : {"enforce.test", "testing.test", "redirect.test", "large.test", "badtype.test",
                                 "invalid.test", "hook-enforce.test", "hook-testing.test", "hook-unlisted.test"})
      w.names->All[std::string("mta-sts.") + d] = {IpAddress::Parse("127.0.0.1")};
    w.f.IdHTTP.TlsExtraCaFile = ca.Ca();
    w.f.EMailStsPort = port;
    w.f.IdDNSResolver.Port = dns.Port();
    w.f.chkEMailTls.SetChecked(true);
  }
  std::string Url(const std::string& domain) const {
    return "https://mta-sts." + domain + ":" + std::to_string(port) + "/.well-known/mta-sts.txt";
  }
};

// The section's lines: from its heading to its closing empty line.
Lines StsSection(const Lines& shown) {
  auto from = std::find_if(shown.begin(), shown.end(),
                           [](const std::string& l) { return l.rfind("blue|Transport-Richtlinien", 0) == 0; });
  auto to = std::find(from, shown.end(), "black|");
  return Lines(from, to == shown.end() ? to : to + 1);
}

const std::string kPolicyHead = "navy|  _mta-sts.%d: v=STSv1; id=1";

}  // namespace

// The section without a connection: the record, the policy as fetched (or
// why it could not be), each exchanger against the patterns in the colour
// of the mode, and the TLS reporting destinations.
TEST(MailCheckToolSts, PolicyFetchedCheckedAndExchangersMatched) {
  std::string large = "version: STSv1\nmode: enforce\nmx: mx.large.test\nmax_age: 86400\n";
  while (large.size() <= sts::kMaxPolicyBytes) large += "# padding to go past the cap of a sender\n";
  StsPeers peers({{"enforce.test", "version: STSv1\nmode: enforce\nmx: mx.other.test\nmax_age: 86400\n"},
                  {"testing.test", "version: STSv1\r\nmode: testing\r\nmx: *.testing.test\r\nmx: mx1.testing.test\r\n"
                                   "max_age: 604800\r\n"},
                  {"large.test", large},
                  {"invalid.test", "version: STSv1\nmode: enforce\nmax_age: 99999999999\n"}});
  if (!peers.skipReason.empty()) GTEST_SKIP() << peers.skipReason;
  ScriptedDnsServer dns(StsZone);
  MailWindow w;
  peers.Use(w, dns);
  w.f.EMailConnect = false;
  w.Timeout("5000");
  struct Case {
    std::string domain, mx;  // mx: the server typed (empty: the domain's MX list)
    std::string mode;        // the result's sts_mode ("": null)
    Lines policy;            // the lines after the fetch line, up to the TLS reporting
    Lines reports;
  };
  auto rua = [](const std::string& d) {
    return Lines{"navy|  _smtp._tls." + d + ": v=TLSRPTv1; rua=mailto:tls@" + d,
                 "navy|  TLS-Berichte an: mailto:tls@" + d};
  };
  const std::vector<Case> cases = {
      {"enforce.test", "mx.enforce.test", "enforce",
       {"navy|    version: STSv1", "navy|    mode: enforce", "navy|    mx: mx.other.test", "navy|    max_age: 86400",
        "green|  Richtlinie gültig: Modus enforce, 1 mx-Muster, max_age 86400 s",
        "red|  MX mx.enforce.test: passt zu keinem Muster der Richtlinie (Modus enforce)"},
       rua("enforce.test")},
      // The exchangers in preference order; a wildcard covers one label only.
      {"testing.test", "", "testing",
       {"navy|    version: STSv1", "navy|    mode: testing", "navy|    mx: *.testing.test",
        "navy|    mx: mx1.testing.test", "navy|    max_age: 604800",
        "green|  Richtlinie gültig: Modus testing, 2 mx-Muster, max_age 604800 s",
        "green|  MX mx1.testing.test: passt zum Muster \"*.testing.test\" der Richtlinie",
        "green|  MX mx2.testing.test: passt zum Muster \"*.testing.test\" der Richtlinie"},
       {"navy|  TLS-Berichte: kein Eintrag bei _smtp._tls.testing.test, gescheiterte TLS-Verbindungen meldet niemand."}},
      {"testing.test", "a.mx.testing.test", "testing",
       {"navy|    version: STSv1", "navy|    mode: testing", "navy|    mx: *.testing.test",
        "navy|    mx: mx1.testing.test", "navy|    max_age: 604800",
        "green|  Richtlinie gültig: Modus testing, 2 mx-Muster, max_age 604800 s",
        "other|  MX a.mx.testing.test: passt zu keinem Muster der Richtlinie (Modus testing)"},
       {"navy|  TLS-Berichte: kein Eintrag bei _smtp._tls.testing.test, gescheiterte TLS-Verbindungen meldet niemand."}},
      // A redirect is not followed (its target's policy would be valid).
      {"redirect.test", "mx.redirect.test", "",
       {"other|  Richtlinie nicht abrufbar: Umleitung \"HTTP/1.1 301 Moved Permanently\" nach "
        "https://mta-sts.enforce.test/.well-known/mta-sts.txt; sendende Server folgen ihr nicht"},
       rua("redirect.test")},
      // A policy with errors counts as none: no exchanger is compared.
      {"invalid.test", "mx.invalid.test", "",
       {"navy|    version: STSv1", "navy|    mode: enforce",
        "other|    ungültiger Wert für max_age: \"99999999999\"", "other|    kein \"mx\" im Modus enforce",
        "other|  Richtlinie ungültig: sendende Server verfahren, als gäbe es keine."},
       rua("invalid.test")},
      {"large.test", "mx.large.test", "", {"other|  Richtlinie nicht abrufbar: mehr als 64 KiB"}, rua("large.test")},
      {"badtype.test", "mx.badtype.test", "",
       {"other|  Richtlinie nicht abrufbar: Inhaltstyp \"text/html\" statt text/plain, sendende Server verwerfen sie"},
       rua("badtype.test")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.domain + " " + c.mx);
    const Lines shown = w.Run("user@" + c.domain, c.mx);
    Lines expected = {"blue|Transport-Richtlinien der Domain \"" + c.domain + "\":",
                      ReplaceAll(kPolicyHead, "%d", c.domain), "navy|  Richtlinie von " + peers.Url(c.domain) + ":"};
    expected = Concat({expected, c.policy, c.reports, {"black|"}});
    EXPECT_EQ(StsSection(shown), expected) << ::testing::PrintToString(shown);
    EXPECT_EQ(shown.back(), "blue|Anfrage beendet.");
    // The result: the mode of a valid policy, the report destinations.
    const TLineValue* mode = FindField(w.f.ToolResults[pgEMail], "sts_mode");
    ASSERT_TRUE(mode);
    EXPECT_EQ(mode->Kind() == TLineValue::TKind::Null ? "" : mode->AsText(), c.mode);
    // The shared client's settings for the other tools are back.
    EXPECT_TRUE(w.f.IdHTTP.HandleRedirects);
    EXPECT_EQ(w.f.IdHTTP.Limits.MaxBodyBytes, HttpLimits().MaxBodyBytes);
  }
  // Records that do not count: several of MTA-STS, a report destination of
  // another scheme; nothing is fetched.
  EXPECT_EQ(StsSection(w.Run("user@several.test", "mx.several.test")),
            (Lines{"blue|Transport-Richtlinien der Domain \"several.test\":",
                   "other|  MTA-STS: mehrere Einträge bei _mta-sts.several.test: keiner gilt.",
                   "other|  TLS-Berichte: Eintrag bei _smtp._tls.several.test fehlerhaft, kein mailto:- oder "
                   "https:-Ziel: \"http://r.several.test/\": v=TLSRPTv1; rua=http://r.several.test/",
                   "black|"}));
  // With the box off the section is not there, and nothing is asked for it.
  w.f.chkEMailTls.SetChecked(false);
  const int asked = dns.Queries();
  EXPECT_EQ(StsSection(w.Run("user@enforce.test", "mx.enforce.test")), Lines{});
  EXPECT_EQ(dns.Queries(), asked);
  EXPECT_FALSE(FindField(w.f.ToolResults[pgEMail], "sts_mode"));
}

// After the handshake: in mode enforce a certificate that does not verify
// or names another host is red, in testing maroon; a good one green.
TEST(MailCheckToolSts, TlsOfTheExchangerAgainstThePolicy) {
  const std::string policy = "version: STSv1\nmode: %m\nmx: mx.quovix.test\nmax_age: 86400\n";
  StsPeers peers({{"hook-enforce.test", ReplaceAll(policy, "%m", "enforce")},
                  {"hook-testing.test", ReplaceAll(policy, "%m", "testing")},
                  {"hook-unlisted.test", ReplaceAll(ReplaceAll(policy, "%m", "enforce"), "mx.quovix", "mail.other")}});
  if (!peers.skipReason.empty()) GTEST_SKIP() << peers.skipReason;
  const auto good = peers.ca.Issue("good", "/CN=mx.quovix.test", "DNS:mx.quovix.test");
  const auto expired = peers.ca.Issue("expired", "/CN=mx.quovix.test", "DNS:mx.quovix.test", true);
  const auto other = peers.ca.Issue("other", "/CN=mail.elsewhere.test", "DNS:mail.elsewhere.test");
  TrustCa trust(peers.ca.Ca());
  ScriptedDnsServer dns(StsZone);
  struct Case {
    const char* domain;
    const quovix::test::TestCa::Cert* cert;  // null: no STARTTLS
    std::string line;
  };
  const std::vector<Case> cases = {
      {"hook-enforce.test", &good, "green|MTA-STS: TLS mit mx.quovix.test erfüllt die Richtlinie (Modus enforce)."},
      {"hook-enforce.test", &expired,
       "red|MTA-STS: Zertifikatskette nicht vertrauenswürdig bei mx.quovix.test, ein sendender Server stellt im "
       "Modus enforce nicht zu."},
      {"hook-enforce.test", &other,
       "red|MTA-STS: Name passt nicht zum Zertifikat bei mx.quovix.test, ein sendender Server stellt im Modus "
       "enforce nicht zu."},
      {"hook-enforce.test", nullptr,
       "red|MTA-STS: keine TLS-Verbindung bei mx.quovix.test, ein sendender Server stellt im Modus enforce nicht "
       "zu."},
      // Good TLS with an exchanger the policy does not list.
      {"hook-unlisted.test", &good,
       "red|MTA-STS: nicht in der Richtlinie aufgeführt bei mx.quovix.test, ein sendender Server stellt im Modus "
       "enforce nicht zu."},
      {"hook-testing.test", &expired,
       "other|MTA-STS: Zertifikatskette nicht vertrauenswürdig bei mx.quovix.test, im Modus testing wird das nur "
       "gemeldet."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.domain) + " " + (c.cert ? c.cert->cert : "plain"));
    MailServer server("127.0.0.1", c.cert ? MailServer::Tls::StartTls : MailServer::Tls::None,
                      c.cert ? c.cert->chain : "", c.cert ? c.cert->key : "");
    if (!server.Installed()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/deps/mail.list)";
    ASSERT_GT(server.Port(), 0) << "aiosmtpd did not start:\n" << server.Log();
    MailWindow w;
    peers.Use(w, dns);
    w.Timeout("5000");
    w.names->All["mx.quovix.test"] = {IpAddress::Parse("127.0.0.1")};
    const Lines shown = w.Run(std::string("postmaster@") + c.domain, "mx.quovix.test:" + std::to_string(server.Port()));
    EXPECT_EQ(Containing(shown, "MTA-STS: "), Lines{c.line}) << ::testing::PrintToString(shown);
    // Once, after the TLS report (or the line that there is none), before MAIL FROM.
    const auto at = std::find(shown.begin(), shown.end(), c.line);
    const auto after = std::find_if(shown.begin(), shown.end(), [&](const std::string& l) {
      return l.find(c.cert ? "  Name:  " : "STARTTLS an") != std::string::npos;
    });
    const auto mailFrom = std::find_if(shown.begin(), shown.end(),
                                       [](const std::string& l) { return l.rfind("blue|MAIL FROM:", 0) == 0; });
    EXPECT_LT(after, at);
    EXPECT_LT(at, mailFrom);
  }
}

// With every exchanger asked, the policy judges each block that answered,
// and the dialogue once more; an exchanger that never answered is no TLS
// finding.
TEST(MailCheckToolSts, EachExchangersBlockIsJudgedByThePolicy) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: exchangers on port 25";
  StsPeers peers(std::map<std::string, std::string>{
      {"testing.test", "version: STSv1\nmode: testing\nmx: *.testing.test\nmax_age: 86400\n"}});
  if (!peers.skipReason.empty()) GTEST_SKIP() << peers.skipReason;
  MailServer plain("127.79.0.1", MailServer::Tls::None, "", "", 25);
  if (!plain.Installed()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/deps/mail.list)";
  ASSERT_GT(plain.Port(), 0) << plain.Log();
  ScriptedDnsServer dns(StsZone);
  MailWindow w;
  peers.Use(w, dns);
  w.Timeout("3000");
  w.f.chkEMailAllMx.SetChecked(true);
  w.names->All["mx1.testing.test"] = {IpAddress::Parse("127.79.0.1")};
  w.names->All["mx2.testing.test"] = {IpAddress::Parse("127.79.0.2")};  // nothing listens
  const Lines shown = w.Run("postmaster@testing.test", "");
  const std::string judged =
      "other|MTA-STS: keine TLS-Verbindung bei mx1.testing.test, im Modus testing wird das nur gemeldet.";
  EXPECT_EQ(Containing(shown, "MTA-STS: "), (Lines{judged, judged})) << ::testing::PrintToString(shown);
  const auto block = std::find(shown.begin(), shown.end(),
                               "blue|Mail-Exchanger 1 von 2: \"mx1.testing.test\" (Präferenz 10)");
  const auto second = std::find(shown.begin(), shown.end(),
                                "blue|Mail-Exchanger 2 von 2: \"mx2.testing.test\" (Präferenz 20)");
  const auto first = std::find(shown.begin(), shown.end(), judged);
  EXPECT_LT(block, first);
  EXPECT_LT(first, second);
}

// The console's JSON lines: per record usage, selector, mtype, match and
// validated with the exchanger, and the result's dane. The resolver here
// is a scripted one that vouches for its answer (AD), as a validating
// resolver does; "localhost" is a name every system resolves.
TEST(MailCheckToolDane, ConsoleJsonCarriesTheRecordsAndTheVerdict) {
  httptest::TempDir caDir;
  quovix::test::TestCa ca(caDir.Path());
  ASSERT_TRUE(ca.Ok());
  const auto cert = ca.Issue("localhost", "/CN=localhost", "DNS:localhost");
  const auto other = ca.Issue("other", "/CN=mx.other.test", "DNS:mx.other.test");
  MailServer server("127.0.0.1", MailServer::Tls::StartTls, cert.chain, cert.key);
  if (!server.Installed()) GTEST_SKIP() << "python3-aiosmtpd is not installed (scripts/deps/mail.list)";
  ASSERT_GT(server.Port(), 0) << server.Log();
  auto bytes = [](const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
  };
  const std::string fits = bytes(SpkiSha256(cert.cert)), wrong = bytes(SpkiSha256(other.cert));
  ASSERT_EQ(fits.size(), 32u);
  const std::string tlsaName = "_" + std::to_string(server.Port()) + "._tcp.localhost";
  ScriptedDnsServer dns([&](const std::string& query) -> std::vector<ScriptedDnsServer::Datagram> {
    using namespace dnstest;
    const Question q = ParseQuestion(query);
    const std::string owner = Bytes().ptr(12).b;
    if (q.name == tlsaName && q.type == 52)
      return {{ReplyFlags(q, 0x81A0, {Rr(owner, 52, std::string("\x03\x01\x01", 3) + wrong),
                                      Rr(owner, 52, std::string("\x03\x01\x01", 3) + fits)})}};
    return {{Reply(q, 3, {})}};
  });
  httptest::ScriptedServer service([](httptest::ScriptConn& c, const std::string&, int) {
    c.Send(ServiceReply("198.51.100.7\n\nrelay.quovix.test"));
  });
  TrustCa trust(ca.Ca());
  httptest::TempDir dir;
  std::filesystem::copy_file(std::string(QUOVIX_BIN_DIR) + "/quovix-cli", dir.File("quovix-cli"));
  dir.Write("Quovix.ini", "[Settings]\r\nActiveDnsServerIP=127.0.0.1:" + std::to_string(dns.Port()) +
                              "\r\nExtIpUrl=" + service.Url("/") + "\r\n");
  const std::string cmd = "cd " + dir.Path() + " && ./quovix-cli --json /EMail:postmaster@quovix.test /EMailMX:localhost:" +
                          std::to_string(server.Port()) + " /EMailT:5000 /EMailPolicy:0 /EMailTls:1 >out.txt 2>err.txt";
  const int status = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(status)) << httptest::ReadFile(dir.File("err.txt"));
  std::ifstream in(dir.File("out.txt"));
  Lines records, result;
  for (std::string l; std::getline(in, l);) {
    if (l.find("\"usage\"") != std::string::npos) records.push_back(l);
    if (l.find("\"kind\":\"result\"") != std::string::npos) result.push_back(l);
  }
  ASSERT_EQ(records.size(), 2u) << httptest::ReadFile(dir.File("out.txt"));
  for (const auto& [line, match] : std::vector<std::pair<std::string, bool>>{{records[0], false}, {records[1], true}}) {
    for (const std::string field : {"\"mx\":\"localhost\"", "\"usage\":3", "\"selector\":1", "\"mtype\":1",
                                    "\"validated\":true"})
      EXPECT_NE(line.find(field), std::string::npos) << field << " in " << line;
    EXPECT_NE(line.find(match ? "\"match\":true" : "\"match\":false"), std::string::npos) << line;
  }
  ASSERT_EQ(result.size(), 1u);
  EXPECT_NE(result[0].find("\"dane\":\"match\""), std::string::npos) << result[0];
  EXPECT_NE(result[0].find("\"exchangers\":null"), std::string::npos) << result[0];
}

// More exchangers than are asked at once: the first ten in preference
// order, the cut said; none of them reachable ends the run in red.
TEST(MailCheckToolAllMx, TenAtMostAndNoneThatAnswers) {
  ScriptedDnsServer dns([](const std::string& query) -> std::vector<ScriptedDnsServer::Datagram> {
    using namespace dnstest;
    const Question q = ParseQuestion(query);
    std::vector<std::string> mx;
    for (int i = 12; i >= 1; --i)  // the answer lists the least preferred first
      mx.push_back(Rr(Bytes().ptr(12).b, 15, MxRdata(static_cast<unsigned>(i), "mx" + std::to_string(i) + ".quovix.test")));
    return {{Reply(q, q.name == "quovix.test" && q.type == 15 ? 0 : 3, q.type == 15 ? mx : std::vector<std::string>{})}};
  });
  MailWindow w;
  w.f.IdDNSResolver.Port = dns.Port();
  w.f.chkEMailTls.SetChecked(true);
  w.f.chkEMailAllMx.SetChecked(true);
  const Lines shown = w.Run("user@quovix.test", "");
  Lines headings;
  for (int i = 1; i <= 10; ++i)
    headings.push_back("blue|Mail-Exchanger " + std::to_string(i) + " von 10: \"mx" + std::to_string(i) +
                       ".quovix.test\" (Präferenz " + std::to_string(i) + ")");
  EXPECT_EQ(Containing(shown, "blue|Mail-Exchanger "), headings);
  EXPECT_EQ(Containing(shown, "Mail-Exchangern"), (Lines{"navy|Nur die ersten 10 von 12 Mail-Exchangern werden geprüft."}));
  EXPECT_EQ(Containing(shown, "red|Die Verbindung konnte nicht hergestellt werden!").size(), 10u);
  EXPECT_EQ(shown.back(), "red|Keiner der Mail-Exchanger hat geantwortet.");
  EXPECT_EQ(Containing(shown, "Überprüfe die Adresse").size(), 0u);
  const TLineValue* each = FindField(w.f.ToolResults[pgEMail], "exchangers");
  ASSERT_TRUE(each && each->Kind() == TLineValue::TKind::List);
  EXPECT_EQ(each->AsList().size(), 10u);
  EXPECT_FALSE(FindField(each->AsList()[0].AsObject(), "connected")->AsBool());
}
