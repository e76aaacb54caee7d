// What servers send and users type is text, never markup: each tool path
// that puts a server's text into a language text gets that text with the
// language markers in it and must show it letter for letter, without a
// forged line; and an input the IDN encoder refuses ends every tool with a
// red line instead of turning into this computer.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "HttpTestPeers.h"
#include "app/formMain.h"
#include "clients/WhoisClient.h"
#include "common/fMain.h"
#include "dns_test_support.h"
#include "icmp_test_util.h"
#include "platform/Icmp.h"
#include "platform/Resolver.h"
#include "shell/gIni.h"
#include "support/DribblePeer.h"
#include "support/TableResolver.h"
#include "support/TcpTestServer.h"

using namespace quovix;
using quovix::test::TableResolver;
using quovix::test::TcpTestServer;

namespace {

// The markers of the language texts, and a second "entry" after a line break.
const std::string kForged = "x%w%  2. Eintrag: FORGED%t%%n%%r%$%$%_%%s1%";

std::vector<std::string> Texts(const TRichEdit& pane) {
  std::vector<std::string> out;
  for (const auto& l : pane.Lines()) out.push_back(l.Text);
  return out;
}

bool Has(const TRichEdit& pane, const std::string& text) {
  const auto t = Texts(pane);
  return std::find(t.begin(), t.end(), text) != t.end();
}

// No line of the pane begins a forged entry.
bool Unforged(const TRichEdit& pane) {
  for (const auto& l : pane.Lines())
    if (l.Text.rfind("  2. Eintrag: FORGED", 0) == 0) return false;
  return true;
}

struct Settings {
  std::string dns = ActiveDnsServerIP, ext = ExtIpUrl;
  int nameRes = NameResTimeout;
  Settings() {
    ActiveDnsServerIP = "127.0.0.1";
    ExtIpUrl.clear();
    NameResTimeout = 1000;
  }
  ~Settings() {
    ActiveDnsServerIP = dns;
    ExtIpUrl = ext;
    NameResTimeout = nameRes;
  }
};

}  // namespace

TEST(ServerText, DnsRecordsAndReverseNamesStayText) {
  using namespace dnstest;
  dnstest::ScriptedDnsServer server([](const std::string& query) {
    const Question q = ParseQuestion(query);
    const std::string apex = Bytes().ptr(12).b;
    using Answer = std::vector<ScriptedDnsServer::Datagram>;
    if (q.type == 16) return Answer{{Reply(q, 0, {Rr(apex, 16, TxtRdata({"v=spf1 -all" + kForged}))})}};
    if (q.type == 15) return Answer{{Reply(q, 0, {Rr(apex, 15, MxRdata(10, "mx%w%.quovix.test"))})}};
    // No address records, but the name exists: the other sections are asked.
    return Answer{{Reply(q, 0, {})}};
  });
  Settings settings;
  auto names = std::make_shared<TableResolver>();
  names->Forward["quovix.test"] = "192.0.2.10";
  names->Reverse["192.0.2.10"] = "rev" + kForged;
  platform::ScopedResolver resolver(names);
  TfrmMain f;
  f.IdDNSResolver.Port = server.Port();
  f.chkDnsReverse.SetChecked(true);
  f.chkDnsExtended.SetChecked(true);
  f.chkDnsDirectQuery.SetChecked(true);
  f.cmbDnsHost.SetText("quovix.test");
  f.btnDnsStart.Click();
  EXPECT_TRUE(Has(f.reDns, "  1. Eintrag: v=spf1 -all" + kForged));
  EXPECT_TRUE(Has(f.reDns, "  Hostname:    rev" + kForged));
  EXPECT_TRUE(Has(f.reDns, "  1. MX-Server: mx%w%.quovix.test, Preference=10"));
  EXPECT_TRUE(Has(f.reDns, "Primärer Mail Exchange Server: mx%w%.quovix.test"));
  EXPECT_TRUE(Unforged(f.reDns));

  // The Mail-Check tool names the same exchanger before it connects.
  names->Forward["mx%w%.quovix.test"] = "127.0.0.86";
  f.cmbEMailAddress.SetText("user@quovix.test");
  f.cmbEMailTimeout.SetItemIndex(f.cmbEMailTimeout.IndexOf("250"));
  f.btnEMailStart.Click();
  EXPECT_TRUE(Has(f.reEMail, "Überprüfe die Adresse \"user@quovix.test\" mit dem MX-Server "
                             "\"mx%w%.quovix.test\"..."))
      << ::testing::PrintToString(Texts(f.reEMail));
}

TEST(ServerText, HttpHeadersAndRedirectTargetsStayText) {
  httptest::ScriptedServer s([](httptest::ScriptConn& c, const std::string&, int) {
    c.Send("HTTP/1.1 302 Found" + kForged + "\r\nServer: srv" + kForged +
           "\r\nLocation: /next" + kForged + "\r\nContent-Length: 0\r\n\r\n");
  });
  TfrmMain f;
  f.chkHeadRedirect.SetCheckedSilently(true);
  f.cmbHeadURL.SetText(s.Url("/"));
  f.btnHeadStart.Click();
  EXPECT_TRUE(Has(f.reHead, "  Serverantwort:    HTTP/1.1 302 Found" + kForged));
  EXPECT_TRUE(Has(f.reHead, "  Server (System):  srv" + kForged));
  // The Location as a request URL: its raw bytes percent-encoded, the
  // markers kept as they are in the line that names it.
  EXPECT_TRUE(Has(f.reHead, "Umleitung nach: \"" + s.Url("/next" + kForged) + "\":"))
      << ::testing::PrintToString(Texts(f.reHead));
  EXPECT_TRUE(Unforged(f.reHead));
}

TEST(ServerText, WhoisReferralsStayText) {
  // The registry's answer names a registrar server with markers in it.
  TcpTestServer registry("127.0.0.1", 0, [](int fd) {
    TcpTestServer::ReadLine(fd);
    TcpTestServer::SendAll(fd, "Domain Name: QUOVIX.TEST\nWhois Server: who%w%is.test" + kForged +
                                   "\n");
  });
  ASSERT_TRUE(registry.ok());
  Settings settings;
  platform::ScopedResolver resolver(std::make_shared<TableResolver>());
  TfrmMain f;
  f.chkWhoisDirectQuery.SetChecked(true);
  f.chkWhoisRedirect.SetCheckedSilently(true);
  f.chkWhoisFormat.SetCheckedSilently(false);
  f.cmbWhoisTimeout.SetText("3000");
  f.cmbWhoisHost.SetText("quovix.test");
  f.cmbWhoisServer.SetText("127.0.0.1:" + std::to_string(registry.port()));
  f.btnWhoisStart.Click();
  const std::string server = "who%w%is.test" + kForged;
  EXPECT_TRUE(Has(f.reWhois, "Umgeleitete Domainanfrage für \"quovix.test\" bei \"" + server + "\":"))
      << ::testing::PrintToString(Texts(f.reWhois));
  // A name without an address is said at once, with the name as it came.
  EXPECT_TRUE(Has(f.reWhois, "Der Server \"" + server + "\" wurde nicht gefunden."));
  EXPECT_TRUE(Unforged(f.reWhois));
}

TEST(ServerText, ExternalAddressServiceAndReverseNamesStayText) {
  httptest::ScriptedServer service([](httptest::ScriptConn& c, const std::string&, int) {
    const std::string body = "192.0.2.1\n198.51.100.7" + kForged + "\nhost" + kForged + "\n";
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  });
  Settings settings;
  ExtIpUrl = service.Url("/ip");
  auto names = std::make_shared<TableResolver>();
  names->Reverse["127.0.0.1"] = "ping" + kForged;
  platform::ScopedResolver resolver(names);
  TfrmMain f;
  f.chkOwnResolve.SetCheckedSilently(true);
  f.btnOwnStart.Click();
  EXPECT_TRUE(Has(f.reOwn, "  Proxy-IP:   198.51.100.7" + kForged));
  EXPECT_TRUE(Has(f.reOwn, "  Hostname:   host" + kForged));
  EXPECT_TRUE(Unforged(f.reOwn));

  // Ping's and Trace's host lines carry the reverse name as it came.
  quovix::icmptest::FakeIcmp icmp;
  platform::ScopedSeam<platform::IIcmp> seam{&icmp};
  icmp.Default = quovix::icmptest::EchoReply("127.0.0.1", std::string(32, 'A'), 1);
  f.chkPingResolve.SetCheckedSilently(true);
  f.cmbPingHost.SetText("127.0.0.1");
  f.cmbPingCount.SetItemIndex(0);
  f.cmbPingPause.SetText("0");
  f.btnPingStart.Click();
  EXPECT_TRUE(Has(f.rePing, "  Hostname:    ping" + kForged));
  EXPECT_TRUE(Unforged(f.rePing));
  f.chkTraceResolve.SetCheckedSilently(true);
  f.cmbTraceHost.SetText("127.0.0.1");
  f.btnTraceStart.Click();
  EXPECT_TRUE(Has(f.reTrace, "  Hostname:    ping" + kForged));
  EXPECT_TRUE(Unforged(f.reTrace));
}

TEST(BadInput, NamesTheIdnEncoderRefusesEndEveryLookUp) {
  // U+2764 is no letter of any IDN: the encoder refuses it. The empty text
  // it gives must never go on as "this computer".
  const std::string bad = "i\xE2\x9D\xA4.ws";
  ASSERT_EQ(EncodeIdn(bad), "");
  Settings settings;
  auto names = std::make_shared<TableResolver>();
  platform::ScopedResolver resolver(names);
  quovix::icmptest::FakeIcmp icmp;
  platform::ScopedSeam<platform::IIcmp> seam{&icmp};
  TfrmMain f;
  auto refused = [](const std::string& name) {
    return "Der Name \"" + name + "\" lässt sich nicht IDN-kodieren, die Abfrage wird nicht ausgeführt.";
  };
  const std::string line = refused(bad);
  auto endsRed = [&](const TRichEdit& pane, const char* tool) {
    ASSERT_FALSE(pane.Lines().empty()) << tool;
    EXPECT_EQ(pane.Lines().back().Text, line) << tool;
    EXPECT_EQ(pane.Lines().back().Color, clRed) << tool;
    for (const auto& l : pane.Lines()) {
      EXPECT_EQ(l.Text.find("192.0.2.99"), std::string::npos) << tool << ": " << l.Text;
      EXPECT_EQ(l.Text.find("testbox"), std::string::npos) << tool << ": " << l.Text;
      EXPECT_EQ(l.Text.find("IDN-kodiert"), std::string::npos) << tool << ": " << l.Text;
    }
  };
  f.cmbDnsHost.SetText(bad);
  f.btnDnsStart.Click();
  endsRed(f.reDns, "DNS");
  f.cmbPingHost.SetText(bad);
  f.btnPingStart.Click();
  endsRed(f.rePing, "Ping");
  f.cmbTraceHost.SetText(bad);
  f.btnTraceStart.Click();
  endsRed(f.reTrace, "Trace");
  EXPECT_TRUE(icmp.Calls.empty());
  f.cmbWhoisHost.SetText(bad);
  f.btnWhoisStart.Click();
  endsRed(f.reWhois, "Whois");
  f.cmbEMailAddress.SetText("user@" + bad);
  f.btnEMailStart.Click();
  endsRed(f.reEMail, "Mail-Check");
  // The sender and the mail server are inputs too.
  f.cmbEMailAddress.SetText("user@quovix.test");
  f.cmbEMailSender.SetText("me@" + bad);
  f.btnEMailStart.Click();
  endsRed(f.reEMail, "Mail-Check sender");
  f.cmbEMailSender.SetText("");
  f.cmbEMailMXServer.SetText(bad + ":25");
  f.btnEMailStart.Click();
  EXPECT_EQ(f.reEMail.Lines().back().Text, refused(bad + ":25"));
  f.cmbHeadURL.SetText("http://" + bad + "/");
  f.btnHeadStart.Click();
  endsRed(f.reHead, "HTTP-Header");
  EXPECT_NE(Texts(f.reHead).back().find("IDN-kodieren"), std::string::npos);
  f.cmbTimeServer.SetText(bad);
  f.btnTimeQuery.Click();
  endsRed(f.reTime, "Time");
}
