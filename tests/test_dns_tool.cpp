// The DNS tool end to end: the window model's handlers against a scripted
// responder (byte-exact replies) and against a real dnsmasq on the loopback
// address serving a test zone.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/formMain.h"
#include "common/fMain.h"
#include "common/Pump.h"
#include "DnsTransportPeers.h"
#include "dns_test_support.h"
#include "platform/Resolver.h"
#include "shell/gIni.h"
#include "support/TableResolver.h"

extern char** environ;

using namespace quovix;
using namespace dnstest;

namespace {

// Pane lines as "colour|text" so that a difference shows both at once.
std::vector<std::string> Shown(const TRichEdit& pane) {
  std::vector<std::string> out;
  for (const auto& l : pane.Lines()) {
    const char* c = l.Color == clBlue     ? "blue"
                    : l.Color == clNavy   ? "navy"
                    : l.Color == clRed    ? "red"
                    : l.Color == clMaroon ? "maroon"
                                          : "other";
    out.push_back(std::string(c) + "|" + l.Text);
  }
  return out;
}

// The system resolver as the tests need it: a few fixed names, nothing
// asked of any real name server.
class FakeResolver : public platform::IResolver {
 public:
  std::string HostToIp(const std::string& name) override {
    for (const auto& [host, ip] : kTable)
      if (host == name) return ip;
    return {};
  }
  std::string IpToHost(std::uint32_t address) override {
    for (const auto& [host, ip] : kTable)
      if (IpToNumber(ip) == address) return host;
    return {};
  }
  std::string OwnAddress() override { return "192.0.2.200"; }
  std::string SystemHostName() override { return "testbox"; }

 private:
  static constexpr std::pair<const char*, const char*> kTable[] = {
      {"quovix.test", "192.0.2.10"},      {"ns1.quovix.test", "192.0.2.53"},
      {"mxb.quovix.test", "192.0.2.25"},  {"localhost", "127.0.0.1"},
      {"xn--bcher-kva.test", "192.0.2.77"}};
};

// A window model set up for the DNS tab, its DNS client pointed at a
// loopback port.
struct DnsWindow {
  platform::ScopedResolver resolver{std::make_shared<FakeResolver>()};
  TfrmMain f;
  int pumps = 0;
  std::string savedServer = ActiveDnsServerIP;
  int savedTimeout = NameResTimeout;

  explicit DnsWindow(std::uint16_t port) {
    SetMessagePump([this] { ++pumps; });
    f.ProcessMessages = [this] { ++pumps; };
    ActiveDnsServerIP = "127.0.0.1";
    NameResTimeout = 2000;
    f.IdDNSResolver.Port = port;
    f.chkDnsReverse.SetChecked(true);
    f.chkDnsExtended.SetChecked(true);
    f.chkDnsExtendedResolve.SetChecked(false);
    f.chkDnsDirectQuery.SetChecked(true);
  }
  ~DnsWindow() {
    SetMessagePump({});
    ActiveDnsServerIP = savedServer;
    NameResTimeout = savedTimeout;
  }
  std::vector<std::string> Run(const std::string& input) {
    f.cmbDnsHost.SetText(input);
    f.btnDnsStart.Click();
    return Shown(f.reDns);
  }
};

// The test zone as hand-built replies: records of other types and sections
// around those asked for, name servers and MX preferences 20, 10, 10 in an
// order that is not the listed one, a TXT of two strings and one with a
// control character inside.
std::vector<ScriptedDnsServer::Datagram> ZoneScript(const std::string& query) {
  const Question q = ParseQuestion(query);
  const std::string apex = Bytes().ptr(12).b;
  const std::string ns1 = WireName("ns1.quovix.test");
  auto glue = Rr(ns1, 1, ARdata(192, 0, 2, 53));
  switch (q.type) {
    case 1:  // A: a CNAME first, glue in the additional section
      return {{Reply(q, 0,
                     {Rr(apex, 5, WireName("www.quovix.test")),
                      Rr(WireName("www.quovix.test"), 1, ARdata(192, 0, 2, 11)),
                      Rr(WireName("www.quovix.test"), 1, ARdata(192, 0, 2, 12))},
                     {Rr(apex, 2, ns1)}, {glue})}};
    case 2:
      return {{Reply(q, 0, {Rr(apex, 2, WireName("ns2.quovix.test")), Rr(apex, 2, ns1)}, {},
                     {glue})}};
    case 15:
      return {{Reply(q, 0,
                     {Rr(apex, 15, MxRdata(20, "mxa.quovix.test")),
                      Rr(apex, 15, MxRdata(10, "mxc.quovix.test")),
                      Rr(apex, 15, MxRdata(10, "mxb.quovix.test"))},
                     {}, {Rr(WireName("mxa.quovix.test"), 1, ARdata(192, 0, 2, 25))})}};
    case 16:
      return {{Reply(q, 0,
                     {Rr(apex, 16, TxtRdata({"v=spf1 -all", " second part"})),
                      Rr(apex, 16, TxtRdata({"", ""})),
                      Rr(apex, 16, TxtRdata({"line\nbreak"}))})}};
    case 6:
      return {{Reply(q, 0,
                     {Rr(apex, 6, SoaRdata("ns1.quovix.test", "hostmaster.quovix.test",
                                           2024010101, 7200, 3600, 1209600, 300)),
                      Rr(apex, 6, SoaRdata("other.quovix.test", "x.quovix.test", 1, 1, 1, 1, 1))})}};
    case 12:
      return {{Reply(q, 0, {Rr(Bytes().ptr(12).b, 12, WireName("quovix.test"))},
                     {Rr(WireName("2.0.192.in-addr.arpa"), 2, ns1)})}};
    default:
      return {{Reply(q, 3, {})}};
  }
}


// Blocks of the expected output shared by the scripted and the real zone:
// the look-up block, the name servers by name, the mail exchangers by
// preference and name, and the SOA with the end.
const std::vector<std::string> kHeadLines = {
      "blue|Nameserver-Lookup für \"quovix.test\":",
      "navy|  IP-Adresse:  192.0.2.10",
      "navy|  Hostname:    quovix.test",
      "navy|",
      "navy|DNS-Server: 127.0.0.1",
      "blue|",
      "blue|DNS Informationen für \"quovix.test\":",
};
const std::vector<std::string> kPtrLines = {
    "navy|", "navy|Reverse DNS-Abfrage für \"10.2.0.192.in-addr.arpa\":",
    "navy|  1. Hostname: quovix.test"};
const std::vector<std::string> kNsLines = {
      "navy|",
      "navy|Nameserver:",
      "navy|  1. Nameserver: ns1.quovix.test",
      "navy|  2. Nameserver: ns2.quovix.test",
};
const std::vector<std::string> kMxLines = {
      "navy|",
      "navy|Mail Exchange Server:",
      "navy|  1. MX-Server: mxb.quovix.test, Preference=10",
      "navy|  2. MX-Server: mxc.quovix.test, Preference=10",
      "navy|  3. MX-Server: mxa.quovix.test, Preference=20",
      "navy|Primärer Mail Exchange Server: mxb.quovix.test",
};
const std::vector<std::string> kSoaAndEndLines = {
      "navy|",
      "navy|Start of Authority (Autoritätsursprung):",
      "navy|  Servername:     ns1.quovix.test",
      "navy|  Kontakt E-Mail: hostmaster@quovix.test (hostmaster.quovix.test)",
      "navy|  Seriennummer:   2024010101",
      "navy|  Aktualisierung: 7200",
      "navy|  Wiederholung:   3600",
      "navy|  Ablauf:         1209600",
      "navy|  Minimale TTL:   300",
      "blue|",
      "blue|Anfragen beendet.",
};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> blocks) {
  std::vector<std::string> out;
  for (const auto& b : blocks) out.insert(out.end(), b.begin(), b.end());
  return out;
}

}  // namespace

TEST(DnsTool, ExtendedInformationListsOnlyTheAskedRecordsNumbered) {
  ScriptedDnsServer server(ZoneScript);
  DnsWindow w(server.Port());
  const auto lines = w.Run("quovix.test");
  const auto expected = Join({kHeadLines,
                              {"navy|", "navy|IP-Adressen:", "navy|  1. IP-Adresse: 192.0.2.11",
                               "navy|  2. IP-Adresse: 192.0.2.12"},
                              kPtrLines, kNsLines, kMxLines,
                              {"navy|", "navy|Texteinträge:",
                               "navy|  1. Eintrag: v=spf1 -all second part",
                               "navy|  2. Eintrag: line\\010break"},
                              kSoaAndEndLines});
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(server.Queries(), 8);  // A, AAAA, PTR, NS, MX, TXT, CAA, SOA
  EXPECT_GT(w.pumps, 0);
  // The ready state afterwards, the input in the history.
  EXPECT_TRUE(w.f.ToolIdle);
  EXPECT_TRUE(w.f.btnDnsStart.Enabled());
  EXPECT_TRUE(w.f.cmbDnsHost.Enabled());
  EXPECT_EQ(w.f.sbMain.SimpleText(), " Bereit.");
  ASSERT_GT(w.f.cmbDnsHost.Count(), 0);
  EXPECT_EQ(w.f.cmbDnsHost.Items().front(), "quovix.test");
  EXPECT_EQ(w.f.IdDNSResolver.WaitingTime, 2000);
}

TEST(DnsTool, FailedQueriesTellTheServersVerdictAndTheRestRuns) {
  // MX all of preference 65535 (no primary), TXT refused, SOA malformed,
  // NS with a foreign identifier only, A with nothing at all.
  ScriptedDnsServer server([](const std::string& query) -> std::vector<ScriptedDnsServer::Datagram> {
    Question q = ParseQuestion(query);
    const std::string apex = Bytes().ptr(12).b;
    switch (q.type) {
      case 15:
        return {{Reply(q, 0,
                       {Rr(apex, 15, MxRdata(65535, "a.quovix.test")),
                        Rr(apex, 15, MxRdata(65535, "b.quovix.test"))})}};
      case 16:
        return {{Reply(q, 5, {})}};
      case 6:
        return {{Reply(q, 0, {Rr(apex, 6, "\x03" "ns1")})}};
      case 2:
        q.id ^= 1;
        return {{Reply(q, 0, {Rr(apex, 2, WireName("ns1.quovix.test"))})}};
      default:
        return {{Reply(q, 0, {})}};
    }
  });
  DnsWindow w(server.Port());
  NameResTimeout = 300;
  const auto lines = w.Run("  quovix.test  ");
  const auto expected = Join({kHeadLines, {
      "navy|",
      "navy|Nameserver:",
      "maroon|  Keine Antwort vom DNS-Server (Antwort passt nicht zur Anfrage).",
      "navy|",
      "navy|Mail Exchange Server:",
      "navy|  1. MX-Server: a.quovix.test, Preference=65535",
      "navy|  2. MX-Server: b.quovix.test, Preference=65535",
      "navy|",
      "navy|Texteinträge:",
      "maroon|  Keine Antwort vom DNS-Server (REFUSED).",
      "navy|",
      "navy|Start of Authority (Autoritätsursprung):",
      "maroon|  Keine Antwort vom DNS-Server (fehlerhafte Antwort).",
      "blue|",
      "blue|Anfragen beendet.",
  }});
  EXPECT_EQ(lines, expected);
}

TEST(DnsTool, WithoutExtendedInformationTheRunEndsAfterTheServerLine) {
  ScriptedDnsServer server(ZoneScript);
  DnsWindow w(server.Port());
  w.f.chkDnsExtended.SetChecked(false);
  EXPECT_FALSE(w.f.chkDnsExtendedResolve.Enabled());
  EXPECT_FALSE(w.f.chkDnsDirectQuery.Enabled());
  const auto lines = w.Run("unknown.test");
  EXPECT_EQ(lines, (std::vector<std::string>{"blue|Nameserver-Lookup für \"unknown.test\":",
                                             "navy|  IP-Adresse:  ???", "navy|",
                                             "navy|DNS-Server: 127.0.0.1", "blue|",
                                             "blue|Anfragen beendet."}));
  EXPECT_EQ(server.Queries(), 0);
  // The two options that depend on the extended one stay disabled after
  // the run as before it.
  EXPECT_FALSE(w.f.chkDnsExtendedResolve.Enabled());
  EXPECT_FALSE(w.f.chkDnsDirectQuery.Enabled());
  EXPECT_TRUE(w.f.chkDnsReverse.Enabled());
  w.f.chkDnsExtended.Toggle();
  EXPECT_TRUE(w.f.chkDnsExtendedResolve.Enabled());
  EXPECT_TRUE(w.f.chkDnsDirectQuery.Enabled());
}

TEST(DnsTool, TypedAddressWithResolveOptionAndRegisteredDomain) {
  ScriptedDnsServer server(ZoneScript);
  DnsWindow w(server.Port());
  w.f.chkDnsExtendedResolve.SetChecked(true);
  w.f.chkDnsDirectQuery.SetChecked(false);
  const auto lines = w.Run("192.0.2.10");
  const std::vector<std::string> expected = {
      "blue|Nameserver-Lookup für \"192.0.2.10\":",
      "navy|  Hostname:    quovix.test",
      "navy|  IP-Adresse:  192.0.2.10",
      "navy|",
      "navy|DNS-Server: 127.0.0.1 (localhost)",
      "blue|",
      "blue|DNS Informationen für \"quovix.test\":",
      "navy|",
      "navy|IP-Adressen:",
      "navy|  1. IP-Adresse: 192.0.2.11",
      "navy|  2. IP-Adresse: 192.0.2.12",
      "navy|",
      "navy|Reverse DNS-Abfrage für \"10.2.0.192.in-addr.arpa\":",
      "navy|  1. Hostname: quovix.test (192.0.2.10)",
      "navy|",
      "navy|Nameserver:",
      "navy|  1. Nameserver: ns1.quovix.test (192.0.2.53)",
      "navy|  2. Nameserver: ns2.quovix.test ()",
      "navy|",
      "navy|Mail Exchange Server:",
      "navy|  1. MX-Server: mxb.quovix.test (192.0.2.25), Preference=10",
      "navy|  2. MX-Server: mxc.quovix.test (), Preference=10",
      "navy|  3. MX-Server: mxa.quovix.test (), Preference=20",
      "navy|Primärer Mail Exchange Server: mxb.quovix.test",
  };
  ASSERT_GE(lines.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<long>(expected.size())),
            expected);
  // The reverse query went out for the address found, as its reverse name.
  bool askedPtr = false;
  for (const auto& q : server.Received()) {
    const Question question = ParseQuestion(q);
    if (question.type == 12) askedPtr = question.name == "10.2.0.192.in-addr.arpa";
  }
  EXPECT_TRUE(askedPtr);
}

TEST(DnsTool, InternationalisedNameIsShownEncodedAndUsedSo) {
  ScriptedDnsServer server(ZoneScript);
  DnsWindow w(server.Port());
  w.f.chkDnsExtended.SetChecked(false);
  EXPECT_EQ(w.Run("bücher.test"),
            (std::vector<std::string>{"blue|Nameserver-Lookup für \"bücher.test\":",
                                      "navy|  IDN-kodiert: xn--bcher-kva.test",
                                      "navy|  IP-Adresse:  192.0.2.77",
                                      "navy|  Hostname:    xn--bcher-kva.test", "navy|",
                                      "navy|DNS-Server: 127.0.0.1", "blue|",
                                      "blue|Anfragen beendet."}));
  EXPECT_EQ(w.f.cmbDnsHost.Items().front(), "bücher.test");
}

TEST(DnsTool, AddressWithoutHostNameAndEmptyDomainEndEarly) {
  ScriptedDnsServer server(ZoneScript);
  DnsWindow w(server.Port());
  // 192.0.2.1 (documentation range) has no name: red line, no closing line.
  EXPECT_EQ(w.Run("192.0.2.1"),
            (std::vector<std::string>{"blue|Nameserver-Lookup für \"192.0.2.1\":", "red|",
                                      "red|Der Hostname konnte nicht ermittelt werden."}));
  EXPECT_TRUE(w.f.ToolIdle);
  // No domain to ask about.
  const auto lines = w.Run("");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.front(), "blue|Nameserver-Lookup für \"\":");
  EXPECT_EQ(lines[lines.size() - 2], "blue|");
  EXPECT_EQ(lines.back(), "blue|Für DNS-Informationen muss eine Domain angegeben werden.");
  EXPECT_EQ(server.Queries(), 0);
}

TEST(DnsTool, InformationIsForTheRegistrableDomainAndNeverForAPublicSuffix) {
  ScriptedDnsServer server(ZoneScript);
  DnsWindow w(server.Port());
  w.f.chkDnsReverse.SetChecked(false);
  w.f.chkDnsDirectQuery.SetChecked(false);
  w.f.SldList = {"jp", "kyoto.jp", "ide.kyoto.jp"};
  auto lines = w.Run("a.b.ide.kyoto.jp");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "blue|DNS Informationen für \"b.ide.kyoto.jp\":"),
            lines.end());
  const int asked = server.Queries();
  EXPECT_GT(asked, 0);
  lines = w.Run("kyoto.jp");
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "blue|Für DNS-Informationen muss eine Domain angegeben werden.");
  EXPECT_EQ(server.Queries(), asked);  // nothing asked about the suffix
}

// ---- The server's verdict and hostile zones ----------------------------------------

TEST(DnsTool, EachSectionSaysWhyTheServerGaveNoAnswer) {
  ScriptedDnsServer server([](const std::string& query) -> std::vector<ScriptedDnsServer::Datagram> {
    const Question q = ParseQuestion(query);
    const std::string apex = Bytes().ptr(12).b;
    switch (q.type) {
      case 1:  // validated (AD) when asked with the DO bit
        return {{ReplyFlags(q, q.dnssecOk ? 0x81A0 : 0x8180, {Rr(apex, 1, ARdata(192, 0, 2, 10))},
                            {}, {OptRr(1232, 0, q.dnssecOk)})}};
      case 12:
        return {{Reply(q, 2, {})}};
      case 2:
        return {{Reply(q, 5, {})}};
      case 15:
        return {};
      case 16: {  // records of another question only
        Question other = q;
        other.section = WireName("other.test") + Bytes().u16(16).u16(1).b;
        return {{Reply(other, 0, {Rr(apex, 16, TxtRdata({"forged"}))})}};
      }
      case 257:  // FORMERR with EDNS and without
        return {{Reply(q, 1, {})}};
      case 6:  // truncated, and nothing listens on the TCP port
        return {{ReplyFlags(q, 0x8380, {})}};
      default:
        return {};
    }
  });
  DnsWindow w(server.Port());
  NameResTimeout = 400;
  const auto lines = w.Run("quovix.test");
  const auto expected = Join({kHeadLines, {
      "navy|  DNSSEC: vom DNS-Server bestätigt",
      "navy|", "navy|IP-Adressen:", "navy|  1. IP-Adresse: 192.0.2.10",
      "navy|", "navy|IPv6-Adressen:", "maroon|  Keine Antwort vom DNS-Server (Zeitüberschreitung).",
      "navy|", "navy|Reverse DNS-Abfrage für \"10.2.0.192.in-addr.arpa\":",
      "maroon|  Keine Antwort vom DNS-Server (SERVFAIL).",
      "navy|", "navy|Nameserver:", "maroon|  Keine Antwort vom DNS-Server (REFUSED).",
      "navy|", "navy|Mail Exchange Server:",
      "maroon|  Keine Antwort vom DNS-Server (Zeitüberschreitung).",
      "navy|", "navy|Texteinträge:",
      "maroon|  Keine Antwort vom DNS-Server (Antwort passt nicht zur Anfrage).",
      "navy|", "navy|CAA-Einträge:", "maroon|  Keine Antwort vom DNS-Server (FORMERR).",
      "navy|", "navy|Start of Authority (Autoritätsursprung):",
      "maroon|  Keine Antwort vom DNS-Server (TCP-Verbindung abgelehnt).",
      "blue|", "blue|Anfragen beendet."}});
  EXPECT_EQ(lines, expected);
  // The DO bit only on the address query; CAA asked again without EDNS.
  int caa = 0;
  for (const auto& sent : server.Received()) {
    const Question q = ParseQuestion(sent);
    EXPECT_EQ(q.dnssecOk, q.type == 1) << q.type;
    if (q.type == 257) {
      EXPECT_EQ(q.edns, caa++ == 0);
    }
  }
  EXPECT_EQ(caa, 2);
}

TEST(DnsTool, SilentServerTimesOutInEverySectionWithinTheLimits) {
  ScriptedDnsServer server([](const std::string&) { return std::vector<ScriptedDnsServer::Datagram>{}; });
  DnsWindow w(server.Port());
  NameResTimeout = 300;
  const auto start = std::chrono::steady_clock::now();
  const auto lines = w.Run("quovix.test");
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "maroon|  Keine Antwort vom DNS-Server (Zeitüberschreitung)."),
            8);
  EXPECT_EQ(lines.back(), "blue|Anfragen beendet.");
  EXPECT_EQ(server.Queries(), 8);
  EXPECT_LT(took, 7 * std::chrono::milliseconds(300));
}

TEST(DnsTool, NameErrorOnTheAddressQueryEndsTheRunUnlessItIsAnAlias) {
  ScriptedDnsServer server([](const std::string& query) {
    const Question q = ParseQuestion(query);
    if (q.name == "gone.quovix.test")
      return std::vector<ScriptedDnsServer::Datagram>{{Reply(q, 3, {})}};
    // An alias whose target is gone: the name error speaks of the target.
    if (q.type == 1)
      return std::vector<ScriptedDnsServer::Datagram>{
          {Reply(q, 3, {Rr(Bytes().ptr(12).b, 5, WireName("gone.quovix.test"))})}};
    return std::vector<ScriptedDnsServer::Datagram>{{Reply(q, 0, {})}};
  });
  DnsWindow w(server.Port());
  const auto gone = w.Run("gone.quovix.test");
  ASSERT_GE(gone.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(gone.end() - 5, gone.end()),
            (std::vector<std::string>{"blue|DNS Informationen für \"gone.quovix.test\":", "red|",
                                      "red|Die Domain \"gone.quovix.test\" existiert nicht.",
                                      "blue|", "blue|Anfragen beendet."}));
  EXPECT_EQ(server.Queries(), 1);

  const auto alias = w.Run("alias.quovix.test");
  EXPECT_EQ(std::count_if(alias.begin(), alias.end(),
                          [](const std::string& l) { return l.rfind("red|", 0) == 0; }),
            0);
  EXPECT_EQ(alias.back(), "blue|Anfragen beendet.");
  EXPECT_EQ(server.Queries(), 1 + 7);
  // No reverse name is made of "???".
  for (const auto& q : server.Received()) EXPECT_NE(ParseQuestion(q).type, 12u) << ParseQuestion(q).name;
}

// How a run ends when there is less to ask than usual: its last lines, the
// status bar, and the questions the server saw.
TEST(DnsTool, RunsWithLittleToAskEndWithTheirVerdict) {
  // nosuch.quovix.test does not exist; the rest is the test zone.
  auto script = [](const std::string& query) {
    const Question q = ParseQuestion(query);
    if (q.name == "nosuch.quovix.test")
      return std::vector<ScriptedDnsServer::Datagram>{{Reply(q, 3, {})}};
    return ZoneScript(query);
  };
  ScriptedDnsServer server(script);
  // A port where nothing listens any more.
  const std::uint16_t closedPort = ScriptedDnsServer(script).Port();
  struct Case {
    const char* input;
    bool direct;
    const char* server;  // empty: the scripted one
    std::vector<std::string> tail;
    const char* status;
    std::vector<unsigned> asked;  // types asked, in any order (the queries run together)
  } cases[] = {
      // A typed address asked as it is: only its reverse name, no "domain".
      {"192.0.2.10", true, "",
       {"blue|DNS Informationen für \"192.0.2.10\":", "navy|",
        "navy|Reverse DNS-Abfrage für \"10.2.0.192.in-addr.arpa\":",
        "navy|  1. Hostname: quovix.test", "blue|", "blue|Anfragen beendet."},
       " Bereit.", {12}},
      // A name without an address below a domain that exists: the domain's
      // information, and last the name's own verdict; no reverse name.
      {"nosuch.quovix.test", false, "",
       {"navy|  Minimale TTL:   300", "red|",
        "red|Der Name \"nosuch.quovix.test\" existiert nicht (NXDOMAIN).", "blue|",
        "blue|Anfragen beendet."},
       " Der Name \"nosuch.quovix.test\" existiert nicht (NXDOMAIN).", {1, 1, 2, 6, 15, 16, 28, 257}},
      // A refusing server: one line for all the queries.
      {"quovix.test", true, "127.0.0.1:closed",
       {"blue|DNS Informationen für \"quovix.test\":", "red|",
        "red|Der DNS-Server 127.0.0.1:closed ist nicht erreichbar (Verbindung abgelehnt), die "
        "Anfragen entfallen.",
        "blue|", "blue|Anfragen beendet."},
       " Der DNS-Server 127.0.0.1:closed ist nicht erreichbar (Verbindung abgelehnt), die Anfragen "
       "entfallen.",
       {}},
      // A typed address of a zone that is no interface here.
      {"fe80::1%nosuchif0", true, "",
       {"blue|Nameserver-Lookup für \"fe80::1%nosuchif0\":", "red|",
        "red|Die Zone \"nosuchif0\" bezeichnet keine Schnittstelle dieses Computers."},
       " Die Zone \"nosuchif0\" bezeichnet keine Schnittstelle dieses Computers.", {}},
      // A server whose zone names no interface of this computer.
      {"quovix.test", true, "fe80::53%nosuchif0",
       {"blue|DNS Informationen für \"quovix.test\":", "red|",
        "red|Der DNS-Server fe80::53%nosuchif0 ist nicht erreichbar (Zone \"nosuchif0\" "
        "unbekannt), die Anfragen entfallen.",
        "blue|", "blue|Anfragen beendet."},
       " Der DNS-Server fe80::53%nosuchif0 ist nicht erreichbar (Zone \"nosuchif0\" unbekannt), "
       "die Anfragen entfallen.",
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input + std::string(" ") + c.server);
    const int before = server.Queries();
    DnsWindow w(server.Port());
    std::string host = c.server;
    if (const size_t at = host.find("closed"); at != std::string::npos)
      host.replace(at, 6, std::to_string(closedPort));
    if (!host.empty()) ActiveDnsServerIP = host;
    w.f.chkDnsDirectQuery.SetChecked(c.direct);
    std::vector<std::string> tail = c.tail;
    for (auto& l : tail)
      if (const size_t at = l.find("closed"); at != std::string::npos)
        l.replace(at, 6, std::to_string(closedPort));
    std::string status = c.status;
    if (const size_t at = status.find("closed"); at != std::string::npos)
      status.replace(at, 6, std::to_string(closedPort));
    const auto lines = w.Run(c.input);
    ASSERT_GE(lines.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(lines.end() - static_cast<long>(tail.size()), lines.end()),
              tail);
    EXPECT_EQ(w.f.sbMain.SimpleText(), status);
    std::vector<unsigned> asked;
    const auto received = server.Received();
    for (size_t i = static_cast<size_t>(before); i < received.size(); ++i)
      asked.push_back(ParseQuestion(received[i]).type);
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, c.asked);
  }
}

// Ctrl+C or a close request while queries wait: the sections cut short
// write nothing, the run ends with the abort line.
TEST(DnsTool, AbortEndsTheRunWithTheAbortLineAndNoTimeouts) {
  struct Case {
    bool answerA;  // the address query answers, the others stay silent
    int abortAfter;  // queries the server has seen when the abort comes
    std::vector<std::string> afterHead;
  } cases[] = {
      {false, 1, {"red|", "red|Abbruch durch Benutzer."}},
      {true, 2,
       {"navy|", "navy|IP-Adressen:", "navy|  1. IP-Adresse: 192.0.2.10", "red|",
        "red|Abbruch durch Benutzer."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.abortAfter);
    ScriptedDnsServer server([&c](const std::string& query) {
      const Question q = ParseQuestion(query);
      if (c.answerA && q.type == 1)
        return std::vector<ScriptedDnsServer::Datagram>{
            {Reply(q, 0, {Rr(Bytes().ptr(12).b, 1, ARdata(192, 0, 2, 10))})}};
      return std::vector<ScriptedDnsServer::Datagram>{};
    });
    DnsWindow w(server.Port());
    NameResTimeout = 5000;
    SetMessagePump([&] {
      if (server.Queries() >= c.abortAfter) w.f.CloseRequested = true;
    });
    SetAbortCheck([&w] { return w.f.StopRequested(); });
    EXPECT_EQ(w.Run("quovix.test"), Join({kHeadLines, c.afterHead}));
    EXPECT_TRUE(w.f.ToolIdle);
    SetAbortCheck(nullptr);
  }
}

namespace {

// A system resolver that answers nothing in any useful time.
class StalledResolver : public platform::IResolver {
 public:
  std::string HostToIp(const std::string&) override { return Stall(); }
  std::string IpToHost(std::uint32_t) override { return Stall(); }
  std::string OwnAddress() override { return "192.0.2.200"; }
  std::string SystemHostName() override { return "testbox"; }

 private:
  static std::string Stall() {
    std::this_thread::sleep_for(std::chrono::seconds(2));
    return {};
  }
};

}  // namespace

TEST(DnsTool, HugeZoneIsListedInPartAndItsLookUpsAreBoundedTogether) {
  // 440 name servers, too many for UDP: the truncated reply sends the
  // client to TCP. A record of another name rides along. They come from
  // ns440 down and are listed by name from ns1, numbers as numbers.
  auto ns = [](const std::string& query, unsigned flags, bool whole) {
    const Question q = ParseQuestion(query);
    std::vector<std::string> answer = {
        Rr(WireName("other.test"), 2, WireName("ns.other.test"))};
    for (int i = 440; whole && i >= 1; --i)
      answer.push_back(Rr(Bytes().ptr(12).b, 2, WireName("ns" + std::to_string(i) + ".quovix.test")));
    return ReplyFlags(q, flags, answer);
  };
  ScriptedDnsServer server(
      [&](const std::string& query) -> std::vector<ScriptedDnsServer::Datagram> {
        const Question q = ParseQuestion(query);
        if (q.type == 2) return {{ns(query, 0x8380, false)}};
        if (q.type == 15)
          return {{Reply(q, 0, {Rr(Bytes().ptr(12).b, 15, MxRdata(10, "mx.quovix.test"))})}};
        return {{Reply(q, 0, {})}};
      },
      [&](const std::string& query) {
        return std::vector<ScriptedDnsServer::Datagram>{{Framed(ns(query, 0x8180, true))}};
      });
  DnsWindow w(server.Port());
  platform::ScopedResolver stalled{std::make_shared<StalledResolver>()};
  w.f.chkDnsExtendedResolve.SetChecked(true);
  NameResTimeout = 300;
  const auto start = std::chrono::steady_clock::now();
  const auto lines = w.Run("quovix.test");
  const auto took = std::chrono::steady_clock::now() - start;

  auto at = std::find(lines.begin(), lines.end(), "navy|Nameserver:");
  ASSERT_NE(at, lines.end());
  ASSERT_GE(lines.end() - at, 53);
  EXPECT_EQ(at[1], "navy|  1. Nameserver: ns1.quovix.test ()");
  EXPECT_EQ(at[50], "navy|  50. Nameserver: ns50.quovix.test ()");
  EXPECT_EQ(at[51], "navy|  … und 390 weitere.");
  EXPECT_EQ(at[52], "navy|");
  for (const auto& l : lines) EXPECT_EQ(l.find("other.test"), std::string::npos) << l;
  EXPECT_NE(std::find(lines.begin(), lines.end(), "navy|  1. MX-Server: mx.quovix.test (), Preference=10"),
            lines.end());
  EXPECT_EQ(server.TcpQueries(), 1);
  // Look-up block, server name, and one shared limit per section: well
  // within ten waiting times, though every single look-up stalls.
  EXPECT_LT(took, 10 * std::chrono::milliseconds(300));
}

// ---- A real DNS server -----------------------------------------------------------

namespace {

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) out += std::string{digits[c >> 4], digits[c & 15]};
  return out;
}
std::string ManyTxtToken(int i) {
  return "site-verification-" + std::to_string(i) + "=0123456789abcdef0123456789";
}
std::string ManyTxtConfig() {
  std::string out;
  for (int i = 1; i <= 40; ++i) out += "txt-record=many.quovix.test,\"" + ManyTxtToken(i) + "\"\n";
  return out;
}
// The entries listed under "Texteinträge:" (prefix: the colour part of a
// pane line, or nothing for console output).
std::vector<std::string> TextEntries(const std::vector<std::string>& lines,
                                     const std::string& prefix) {
  std::vector<std::string> out;
  auto at = std::find(lines.begin(), lines.end(), prefix + "Texteinträge:");
  if (at == lines.end()) return out;
  for (++at; at != lines.end() && at->find(". Eintrag: ") != std::string::npos; ++at)
    out.push_back(at->substr(at->find(". Eintrag: ") + 11));
  return out;
}
std::vector<std::string> AllManyTxtTokens() {
  std::vector<std::string> out;
  for (int i = 1; i <= 40; ++i) out.push_back(ManyTxtToken(i));
  std::sort(out.begin(), out.end());
  return out;
}

// dnsmasq serving the test zone quovix.test, authoritative, without any
// upstream server, on a loopback address and port (port 0: a free one), and
// on an IPv6 loopback address too when one is given. The zone's names with
// IPv6 addresses (v6.quovix.test, mx6.quovix.test with IPv6 only) have their
// ip6.arpa names.
class Dnsmasq {
 public:
  explicit Dnsmasq(std::string address = "127.0.0.1", std::uint16_t port = 0,
                   std::string address6 = {})
      : address_(std::move(address)), address6_(std::move(address6)), port_(port) {
    for (const char* p : {"/usr/sbin/dnsmasq", "/usr/bin/dnsmasq"})
      if (access(p, X_OK) == 0) binary_ = p;
    if (binary_.empty()) return;
    dir_ = std::filesystem::temp_directory_path() /
           ("quovix-dnsmasq-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir_);
    autoPort_ = port_ == 0;
    Start();
  }
  // Writes the configuration and starts dnsmasq.
  void Start() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
      pid_ = 0;
    }
    if (autoPort_) {
      // A free port: bound and let go again just before dnsmasq takes it.
      ScriptedDnsServer probe([](const std::string&) {
        return std::vector<ScriptedDnsServer::Datagram>{};
      });
      port_ = probe.Port();
    }
    const std::string conf = (dir_ / "dnsmasq.conf").string();
    std::ofstream(conf) << "port=" << port_ << "\n"
                        << "listen-address=" << address_
                        << (address6_.empty() ? "" : "," + address6_) << "\n"
                        << "bind-interfaces\n"
                           "no-resolv\n"
                           "no-hosts\n"
                           "no-poll\n"
                           "no-negcache\n"
                           "keep-in-foreground\n"
                           "user=\n"
                           "pid-file=\n"
                           "log-facility=" << (dir_ / "dnsmasq.log").string() << "\n"
                        << "auth-server=ns1.quovix.test," << address_ << "\n"
                        << "auth-sec-servers=ns2.quovix.test\n"
                           "auth-zone=quovix.test,192.0.2.0/24,2001:db8::/32\n"
                           "auth-soa=2024010101,hostmaster.quovix.test,7200,3600,1209600\n"
                           "auth-ttl=300\n"
                           "host-record=quovix.test,192.0.2.10\n"
                           "host-record=www.quovix.test,192.0.2.11\n"
                           "host-record=ns1.quovix.test,192.0.2.53\n"
                           "host-record=ns2.quovix.test,192.0.2.54\n"
                           "host-record=v6.quovix.test,192.0.2.60,2001:db8::60\n"
                           "host-record=mx6.quovix.test,2001:db8::25\n"
                           "mx-host=v6.quovix.test,mx6.quovix.test,10\n"
                           "cname=alias.quovix.test,www.quovix.test\n"
                           // dnsmasq answers these in the reverse order of the file
                           "mx-host=quovix.test,mxc.quovix.test,10\n"
                           "mx-host=quovix.test,mxb.quovix.test,10\n"
                           "mx-host=quovix.test,mxa.quovix.test,20\n"
                           "txt-record=quovix.test,\"v=spf1 -all\",\" second part\"\n"
                           // 40 TXT records: far more than one UDP reply holds
                           "host-record=many.quovix.test,192.0.2.40\n"
                        << ManyTxtConfig()
                        << "host-record=caa.quovix.test,192.0.2.41\n"
                        << "dns-rr=caa.quovix.test,257,"
                        << Hex(std::string("\0\5issue", 7) + "letsencrypt.org") << "\n"
                        << "dns-rr=caa.quovix.test,257,"
                        << Hex(std::string("\x80\5iodef", 7) + "mailto:ca@quovix.test") << "\n"
                        // Records of the field "Typ": a service binding, a
                        // certificate association and a type without a name.
                        << "dns-rr=types.quovix.test,65,"
                        << Hex(Bytes().u16(1).u8(0).u16(1).u16(6).u8(2).raw("h2").u8(2).raw("h3")
                                   .u16(3).u16(2).u16(8443).u16(4).u16(4).u8(192).u8(0).u8(2).u8(1).b)
                        << "\n"
                        << "dns-rr=_443._tcp.types.quovix.test,52,"
                        << Hex(std::string("\3\1\1\xAB\xCD\xEF\x01", 7)) << "\n"
                        << "dns-rr=types.quovix.test,65534," << Hex("\x01\xFF") << "\n";
    std::vector<std::string> args = {binary_, "-C", conf};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, binary_.c_str(), nullptr, nullptr, argv.data(), environ) != 0) pid_ = 0;
  }
  ~Dnsmasq() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  bool Installed() const { return !binary_.empty(); }
  const std::string& Binary() const { return binary_; }
  std::uint16_t Port() const { return port_; }
  // Waits until the server answers (it needs a moment to start). A free UDP
  // port may still be taken for TCP by a test running beside this one; then
  // dnsmasq exits and is started again on another port.
  bool Ready() {
    for (int attempt = 0; attempt < 5; ++attempt) {
      if (WaitAnswering()) return true;
      if (!autoPort_ || binary_.empty()) return false;
      Start();
    }
    return false;
  }
  bool WaitAnswering() {
    if (pid_ <= 0) return false;
    TIdDNSResolver r;
    r.Host = address_;
    r.Port = port_;
    r.WaitingTime = 200;
    r.QueryType = {qtSOA};
    for (int i = 0; i < 50; ++i) {
      try {
        r.QueryResult.Clear();
        r.SendQuery("quovix.test", 1);
        if (r.QueryResult.Count() > 0) return true;
      } catch (const EIdDnsResolverError&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = 0;
        return false;
      }
    }
    return false;
  }
  const std::filesystem::path& Dir() const { return dir_; }
  std::string Log() const {
    std::ifstream in(dir_ / "dnsmasq.log");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string address_, address6_;
  std::uint16_t port_;
  std::string binary_;
  std::filesystem::path dir_;
  pid_t pid_ = 0;
  bool autoPort_ = false;
};

}  // namespace

TEST(DnsToolRealServer, TestZoneFromDnsmasqLineByLine) {
  Dnsmasq dnsmasq;
  if (!dnsmasq.Installed()) GTEST_SKIP() << "dnsmasq is not installed (scripts/deps/dns.list)";
  ASSERT_TRUE(dnsmasq.Ready()) << "dnsmasq did not start:\n" << dnsmasq.Log();

  DnsWindow w(dnsmasq.Port());
  const auto lines = w.Run("quovix.test");
  const auto expected = Join({kHeadLines,
                              {"navy|", "navy|IP-Adressen:", "navy|  1. IP-Adresse: 192.0.2.10"},
                              kPtrLines, kNsLines, kMxLines,
                              {"navy|", "navy|Texteinträge:",
                               "navy|  1. Eintrag: v=spf1 -all second part"},
                              kSoaAndEndLines});
  EXPECT_EQ(lines, expected);

  // A name behind a CNAME: only its address records, numbered from 1.
  const auto alias = w.Run("alias.quovix.test");
  const std::vector<std::string> aliasHead = {
      "blue|DNS Informationen für \"alias.quovix.test\":", "navy|", "navy|IP-Adressen:",
      "navy|  1. IP-Adresse: 192.0.2.11"};
  auto at = std::find(alias.begin(), alias.end(), aliasHead.front());
  ASSERT_NE(at, alias.end());
  EXPECT_EQ(std::vector<std::string>(at, at + static_cast<long>(aliasHead.size())), aliasHead);

  // A name that does not exist says so, and nothing more is asked.
  const auto none = w.Run("nothing.quovix.test");
  ASSERT_GE(none.size(), 6u);
  EXPECT_EQ(std::vector<std::string>(none.end() - 6, none.end()),
            (std::vector<std::string>{"blue|", "blue|DNS Informationen für \"nothing.quovix.test\":",
                                      "red|", "red|Die Domain \"nothing.quovix.test\" existiert nicht.",
                                      "blue|", "blue|Anfragen beendet."}));
}

TEST(DnsToolRealServer, FortyTextRecordsOverTcpAndCaaFromDnsmasq) {
  Dnsmasq dnsmasq;
  if (!dnsmasq.Installed()) GTEST_SKIP() << "dnsmasq is not installed (scripts/deps/dns.list)";
  ASSERT_TRUE(dnsmasq.Ready()) << "dnsmasq did not start:\n" << dnsmasq.Log();
  DnsWindow w(dnsmasq.Port());
  std::vector<std::string> entries = TextEntries(w.Run("many.quovix.test"), "navy|");
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, AllManyTxtTokens());

  const auto caa = w.Run("caa.quovix.test");
  auto at = std::find(caa.begin(), caa.end(), "navy|CAA-Einträge:");
  ASSERT_NE(at, caa.end());
  ASSERT_GE(caa.end() - at, 3);
  std::vector<std::string> listed = {at[1].substr(at[1].find(". CAA: ") + 7),
                                     at[2].substr(at[2].find(". CAA: ") + 7)};
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, (std::vector<std::string>{"0 issue \"letsencrypt.org\"",
                                              "128 iodef \"mailto:ca@quovix.test\""}));
  EXPECT_EQ(at[3], "blue|");  // a name below the apex has no start of authority
}

TEST(DnsToolRealServer, ClientReadsNameErrorAndPtrFromDnsmasq) {
  Dnsmasq dnsmasq;
  if (!dnsmasq.Installed()) GTEST_SKIP() << "dnsmasq is not installed (scripts/deps/dns.list)";
  ASSERT_TRUE(dnsmasq.Ready()) << "dnsmasq did not start:\n" << dnsmasq.Log();
  TIdDNSResolver r;
  r.Host = "127.0.0.1";
  r.Port = dnsmasq.Port();
  r.WaitingTime = 2000;
  r.QueryType = {qtA};
  try {
    r.SendQuery("nothing.quovix.test", 1);
    ADD_FAILURE() << "no error for a name that does not exist";
  } catch (const EIdDnsResolverError& e) {
    EXPECT_EQ(e.Rcode, 3);
  }
  r.QueryType = {qtPTR};
  r.QueryResult.Clear();
  r.SendQuery("192.0.2.11", 1);
  ASSERT_GE(r.QueryResult.Count(), 1);  // the zone's name servers may follow
  EXPECT_EQ(r.QueryResult[0].Section, TRecordSection::Answer);
  EXPECT_EQ(r.QueryResult.QName, "11.2.0.192.in-addr.arpa");
  EXPECT_EQ(r.QueryResult[0].Kind, TRecordKind::PTR);
  EXPECT_EQ(r.QueryResult[0].HostName, "www.quovix.test");

  // The 40 TXT records do not fit one UDP reply: dnsmasq truncates it and
  // the whole answer comes by TCP.
  r.QueryType = {qtTXT};
  r.QueryResult.Clear();
  r.SendQuery("many.quovix.test", 1);
  EXPECT_EQ(AnswerRecords(r.QueryResult, "many.quovix.test", kTypeTXT).size(), 40u);
  EXPECT_EQ(r.LastExchange().Transport, TDnsTransport::Tcp);
  EXPECT_TRUE(r.LastExchange().Edns);
}

// The console front end against dnsmasq on port 53. The program's own look-ups
// go through the system resolver, so the test gives the program a private
// mount namespace whose /etc/resolv.conf names the test server and whose
// /etc/hosts knows only localhost: nothing leaves the loopback address.
TEST(DnsToolRealServer, ConsoleFrontEndPrintsTheWholeRun) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: DNS on port 53 and a private mount namespace";
  if (access("/usr/bin/unshare", X_OK) != 0) GTEST_SKIP() << "unshare (util-linux) is missing";
  Dnsmasq dnsmasq("127.77.0.53", 53);
  if (!dnsmasq.Installed()) GTEST_SKIP() << "dnsmasq is not installed (scripts/deps/dns.list)";
  ASSERT_TRUE(dnsmasq.Ready()) << "dnsmasq did not start:\n" << dnsmasq.Log();

  // The program beside its own settings file in the test's folder.
  const auto dir = dnsmasq.Dir();
  std::filesystem::copy_file(std::string(QUOVIX_BIN_DIR) + "/quovix-cli", dir / "quovix-cli");
  std::ofstream(dir / "Quovix.ini") << "[Settings]\r\nActiveDnsServerIP=127.77.0.53\r\n";
  std::ofstream(dir / "hosts") << "127.0.0.1 localhost\n";
  std::ofstream(dir / "resolv.conf") << "nameserver 127.77.0.53\noptions timeout:1 attempts:1\n";

  auto run = [&](const std::string& args) {
    const std::string out = (dir / "out.txt").string();
    const std::string cmd =
        "NO_COLOR=1 /usr/bin/unshare -m sh -c 'mount --bind " + (dir / "hosts").string() +
        " /etc/hosts && mount --bind " + (dir / "resolv.conf").string() +
        " /etc/resolv.conf && exec " + (dir / "quovix-cli").string() + " " + args + "' >" + out +
        " 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(out);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  };

  const std::vector<std::string> expected = {
      "Nameserver-Lookup für \"quovix.test\":",
      "  IP-Adresse:  192.0.2.10",
      "  Hostname:    quovix.test",
      "",
      "DNS-Server: 127.77.0.53 ()",
      "",
      "DNS Informationen für \"quovix.test\":",
      "",
      "IP-Adressen:",
      "  1. IP-Adresse: 192.0.2.10",
      "",
      "Reverse DNS-Abfrage für \"10.2.0.192.in-addr.arpa\":",
      "  1. Hostname: quovix.test (192.0.2.10)",
      "",
      "Nameserver:",
      "  1. Nameserver: ns1.quovix.test (192.0.2.53)",
      "  2. Nameserver: ns2.quovix.test (192.0.2.54)",
      "",
      "Mail Exchange Server:",
      "  1. MX-Server: mxb.quovix.test (), Preference=10",
      "  2. MX-Server: mxc.quovix.test (), Preference=10",
      "  3. MX-Server: mxa.quovix.test (), Preference=20",
      "Primärer Mail Exchange Server: mxb.quovix.test",
      "",
      "Texteinträge:",
      "  1. Eintrag: v=spf1 -all second part",
      "",
      "Start of Authority (Autoritätsursprung):",
      "  Servername:     ns1.quovix.test",
      "  Kontakt E-Mail: hostmaster@quovix.test (hostmaster.quovix.test)",
      "  Seriennummer:   2024010101",
      "  Aktualisierung: 7200",
      "  Wiederholung:   3600",
      "  Ablauf:         1209600",
      "  Minimale TTL:   300",
      "",
      "Anfragen beendet.",
  };
  EXPECT_EQ(run("/Dns:quovix.test /DnsV:1 /DnsD:0 /DnsI:1 /DnsR:1"), expected);
  // 40 TXT records, over 512 bytes: all of them (by TCP).
  std::vector<std::string> entries = TextEntries(run("/Dns:many.quovix.test /DnsD:1 /DnsI:1"), "");
  std::sort(entries.begin(), entries.end());
  EXPECT_EQ(entries, AllManyTxtTokens());
  EXPECT_EQ(run("/Dns:quovix.test /DnsI:0 /DnsR:0"),
            (std::vector<std::string>{"Nameserver-Lookup für \"quovix.test\":",
                                      "  IP-Adresse:  192.0.2.10", "  Hostname:    quovix.test",
                                      "", "DNS-Server: 127.77.0.53", "", "Anfragen beendet."}));
}

// ---- IPv6 ------------------------------------------------------------------------

namespace {

// The system resolver's view of the zone's IPv6 names, as the tests give it.
std::shared_ptr<test::TableResolver> Ipv6Names() {
  auto names = std::make_shared<test::TableResolver>();
  names->Forward = {{"v6.quovix.test", "192.0.2.60"}};
  names->All = {{"v6.quovix.test", {"192.0.2.60", "2001:db8::60"}},
                {"mx6.quovix.test", {"2001:db8::25"}}};
  names->Reverse = {{"192.0.2.60", "v6.quovix.test"},
                    {"2001:db8::60", "v6.quovix.test"},
                    {"::1", "localhost"}};
  return names;
}

const char* const kIp6Reverse =
    "0.6.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa";

}  // namespace

// The DNS server asked over IPv6 as "[::1]:port": a name's IPv6 address in
// the look-up block and its AAAA records in their own section; a name with
// IPv6 addresses only shown with its IPv6 address; a typed IPv6 address
// looked up by its ip6.arpa name.
TEST(DnsToolRealServer, Ipv6ServerAaaaSectionAndIp6ArpaFromDnsmasq) {
  Dnsmasq dnsmasq("127.0.0.1", 0, "::1");
  if (!dnsmasq.Installed()) GTEST_SKIP() << "dnsmasq is not installed (scripts/deps/dns.list)";
  ASSERT_TRUE(dnsmasq.Ready()) << "dnsmasq did not start:\n" << dnsmasq.Log();
  DnsWindow w(53);  // the port comes with the server's text
  platform::ScopedResolver names{Ipv6Names()};
  const std::string server = "[::1]:" + std::to_string(dnsmasq.Port());
  ActiveDnsServerIP = server;
  w.f.chkDnsExtendedResolve.SetChecked(true);

  EXPECT_EQ(w.Run("v6.quovix.test"),
            (std::vector<std::string>{
                "blue|Nameserver-Lookup für \"v6.quovix.test\":",
                "navy|  IP-Adresse:  192.0.2.60",
                "navy|  IPv6-Adresse: 2001:db8::60",
                "navy|  Hostname:    v6.quovix.test",
                "navy|",
                "navy|DNS-Server: " + server + " (localhost)",
                "blue|",
                "blue|DNS Informationen für \"v6.quovix.test\":",
                "navy|", "navy|IP-Adressen:", "navy|  1. IP-Adresse: 192.0.2.60",
                "navy|", "navy|IPv6-Adressen:", "navy|  1. IPv6-Adresse: 2001:db8::60",
                "navy|", "navy|Reverse DNS-Abfrage für \"60.2.0.192.in-addr.arpa\":",
                "navy|  1. Hostname: v6.quovix.test (192.0.2.60)",
                "navy|", "navy|Mail Exchange Server:",
                "navy|  1. MX-Server: mx6.quovix.test (2001:db8::25), Preference=10",
                "navy|Primärer Mail Exchange Server: mx6.quovix.test",
                "blue|", "blue|Anfragen beendet."}));

  // Typed in any IPv6 spelling: the host name by the reverse look-up, the
  // check by the name's IPv6 address, the reverse section by ip6.arpa.
  w.f.chkDnsDirectQuery.SetChecked(false);
  const auto typed = w.Run("2001:DB8:0::60");
  ASSERT_GE(typed.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(typed.begin(), typed.begin() + 3),
            (std::vector<std::string>{"blue|Nameserver-Lookup für \"2001:DB8:0::60\":",
                                      "navy|  Hostname:    v6.quovix.test",
                                      "navy|  IPv6-Adresse: 2001:db8::60"}));
  auto at = std::find(typed.begin(), typed.end(),
                      "navy|Reverse DNS-Abfrage für \"" + std::string(kIp6Reverse) + "\":");
  ASSERT_NE(at, typed.end());
  EXPECT_EQ(at[1], "navy|  1. Hostname: v6.quovix.test (192.0.2.60)");
}

// The console front end asks the IPv6 server of its settings; the program's
// own look-ups read a hosts file of the test's own in a private mount
// namespace (the resolver configuration names a loopback address where no
// server listens), so nothing leaves this computer.
TEST(DnsToolRealServer, ConsoleAsksAnIpv6ServerAndShowsTheIpv6Sections) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root: a private mount namespace";
  if (access("/usr/bin/unshare", X_OK) != 0) GTEST_SKIP() << "unshare (util-linux) is missing";
  Dnsmasq dnsmasq("127.0.0.1", 0, "::1");
  if (!dnsmasq.Installed()) GTEST_SKIP() << "dnsmasq is not installed (scripts/deps/dns.list)";
  ASSERT_TRUE(dnsmasq.Ready()) << "dnsmasq did not start:\n" << dnsmasq.Log();
  const auto dir = dnsmasq.Dir();
  const std::string server = "[::1]:" + std::to_string(dnsmasq.Port());
  std::filesystem::copy_file(std::string(QUOVIX_BIN_DIR) + "/quovix-cli", dir / "quovix-cli");
  std::ofstream(dir / "Quovix.ini") << "[Settings]\r\nActiveDnsServerIP=" << server << "\r\n";
  std::ofstream(dir / "hosts") << "127.0.0.1 localhost\n::1 localhost\n"
                                  "192.0.2.60 v6.quovix.test\n2001:db8::60 v6.quovix.test\n"
                                  "2001:db8::25 mx6.quovix.test\n";
  std::ofstream(dir / "resolv.conf") << "nameserver 127.77.0.99\noptions timeout:1 attempts:1\n";
  const std::string out = (dir / "out.txt").string();
  // A network of its own with only loopback, and a dnsmasq of the same
  // configuration in it: the system resolver sorts a name's addresses by
  // connecting to each, which would make the kernel look for this
  // computer's real gateway for the 2001:db8:: documentation addresses.
  const std::string port = std::to_string(dnsmasq.Port());
  const std::string cmd =
      "NO_COLOR=1 /usr/bin/unshare -m -n sh -c 'ip link set lo up && mount --bind " +
      (dir / "hosts").string() + " /etc/hosts && mount --bind " + (dir / "resolv.conf").string() +
      " /etc/resolv.conf && { " + dnsmasq.Binary() + " -C " + (dir / "dnsmasq.conf").string() +
      " & p=$!; for i in $(seq 50); do dig +short +time=1 +tries=1 -p " + port +
      " @::1 quovix.test SOA | grep -q . && break; sleep 0.1; done; " + (dir / "quovix-cli").string() +
      " /Dns:v6.quovix.test /DnsV:1 /DnsD:1 /DnsI:1 /DnsR:1; rc=$?; kill $p; wait $p; exit $rc; }' >" +
      out + " 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::ifstream in(out);
  std::vector<std::string> lines;
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "Nameserver-Lookup für \"v6.quovix.test\":",
                       "  IP-Adresse:  192.0.2.60",
                       "  IPv6-Adresse: 2001:db8::60",
                       "  Hostname:    v6.quovix.test",
                       "",
                       "DNS-Server: " + server + " (localhost)",
                       "",
                       "DNS Informationen für \"v6.quovix.test\":",
                       "",
                       "IP-Adressen:",
                       "  1. IP-Adresse: 192.0.2.60",
                       "",
                       "IPv6-Adressen:",
                       "  1. IPv6-Adresse: 2001:db8::60",
                       "",
                       "Reverse DNS-Abfrage für \"60.2.0.192.in-addr.arpa\":",
                       "  1. Hostname: v6.quovix.test (192.0.2.60)",
                       "",
                       "Mail Exchange Server:",
                       "  1. MX-Server: mx6.quovix.test (2001:db8::25), Preference=10",
                       "Primärer Mail Exchange Server: mx6.quovix.test",
                       "",
                       "Anfragen beendet."}));
}

// The field "Typ" asks that one type of the server and shows the whole
// reply as the usual look-up command does: status and identifier, the
// header's flags and counts, EDNS, the question, each section's records in
// presentation format with their TTLs, the time and the server. A name the
// zone does not hold is the server's NXDOMAIN with its SOA, a failed run.
TEST(DnsToolRealServer, TypeFieldShowsTheWholeReplyOfThatType) {
  Dnsmasq dnsmasq;
  if (!dnsmasq.Installed()) GTEST_SKIP() << "dnsmasq is not installed (scripts/deps/dns.list)";
  ASSERT_TRUE(dnsmasq.Ready()) << "dnsmasq did not start:\n" << dnsmasq.Log();
  DnsWindow w(dnsmasq.Port());
  const std::string server = "127.0.0.1";
  const struct {
    const char* type;
    const char* name;
    const char* status;
    const char* section;
    const char* record;
  } cases[] = {
      {"HTTPS", "types.quovix.test", "NOERROR", "Antwort:",
       "types.quovix.test. 300 IN HTTPS 1 . alpn=\"h2,h3\" port=8443 ipv4hint=192.0.2.1"},
      {"tlsa", "_443._tcp.types.quovix.test", "NOERROR", "Antwort:",
       "_443._tcp.types.quovix.test. 300 IN TLSA 3 1 1 ABCDEF01"},
      {"TYPE65534", "types.quovix.test", "NOERROR", "Antwort:",
       "types.quovix.test. 300 IN TYPE65534 \\# 2 01FF"},
      {"CAA", "caa.quovix.test", "NOERROR", "Antwort:",
       "caa.quovix.test. 300 IN CAA 128 iodef \"mailto:ca@quovix.test\""},
      {"TXT", "nowhere.quovix.test", "NXDOMAIN", "Autorität:",
       "quovix.test. 300 IN SOA ns1.quovix.test. hostmaster.quovix.test. 2024010101 7200 3600 1209600 300"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    w.f.ToolFailed = {};
    w.f.cmbDnsType.SetText(c.type);
    const std::vector<std::string> lines = w.Run(c.name);
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines.front(), "blue|Direkte Abfrage von \"" + std::string(c.name) + "\", Typ " +
                                 UpperAscii(c.type) + ":");
    const bool ok = std::string(c.status) == "NOERROR";
    EXPECT_EQ(lines[2].rfind(std::string(ok ? "navy" : "red") + "|  Status: " + c.status + ", ID: ", 0), 0u)
        << lines[2];
    EXPECT_EQ(lines[3].rfind("navy|  Flags: QR AA RD", 0), 0u) << lines[3];
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "navy|  " + std::string(c.name) + ". IN " + UpperAscii(c.type)),
              lines.end());
    auto at = std::find(lines.begin(), lines.end(), "navy|" + std::string(c.section));
    ASSERT_NE(at, lines.end());
    EXPECT_NE(std::find(at, lines.end(), "other|  " + std::string(c.record)), lines.end());
    const std::string time = lines[lines.size() - 3];
    EXPECT_EQ(time.rfind("navy|Zeit: ", 0), 0u) << time;
    EXPECT_NE(time.find(" ms, Server: " + server + " (UDP)"), std::string::npos) << time;
    EXPECT_EQ(lines.back(), "blue|Anfragen beendet.");
    EXPECT_EQ(w.f.ToolFailed[pgDns], !ok);
  }
  // A type that has no name and is no TYPEnnn is refused before anything is asked.
  w.f.cmbDnsType.SetText("TYPO");
  const std::vector<std::string> refused = w.Run("types.quovix.test");
  ASSERT_EQ(refused.size(), 3u);
  EXPECT_EQ(refused[2], "red|Unbekannter Eintragstyp \"TYPO\" (A … HTTPS oder TYPEnnn).");
  EXPECT_TRUE(w.f.ToolFailed[pgDns]);
}

// The look-up's information asked over DNS over TLS and over DNS over HTTPS
// reads line for line as over plain DNS; the server line names the server
// with its transport.
TEST(DnsToolRealServer, InformationOverTlsAndHttpsReadsAsOverPlainDns) {
  SKIP_WITHOUT_PEERS();
  DnsWindow w(53);  // the port comes with the server's text
  auto run = [&](const std::string& server) {
    ActiveDnsServerIP = server;
    std::vector<std::string> lines = w.Run("quovix.test");
    auto at = std::find(lines.begin(), lines.end(), "navy|DNS-Server: " + server);
    EXPECT_NE(at, lines.end()) << server;
    if (at != lines.end()) lines.erase(at);
    return lines;
  };
  const std::vector<std::string> plain = run("127.0.0.1:" + std::to_string(Peers().udp));
  ASSERT_NE(std::find(plain.begin(), plain.end(), "navy|  1. IP-Adresse: 192.0.2.10"), plain.end());
  for (const std::string& server :
       {"tls://127.0.0.1:" + std::to_string(Peers().tls),
        "https://127.0.0.1:" + std::to_string(Peers().doh) + "/dns-query"})
    EXPECT_EQ(run(server), plain) << server;
}
