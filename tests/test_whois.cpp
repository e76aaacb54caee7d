#include <gtest/gtest.h>

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "HttpTestPeers.h"
#include "app/formMain.h"
#include "clients/RdapBootstrap.h"
#include "clients/WhoisClient.h"
#include "common/Pump.h"
#include "common/fMain.h"
#include "platform/Resolver.h"
#include "shell/formInfo.h"
#include "shell/gIni.h"
#include "support/TableResolver.h"
#include "support/DribblePeer.h"
#include "support/LoopbackPort.h"
#include "support/TcpTestServer.h"
#include "icmp_test_util.h"

using namespace quovix;
using quovix::test::TableResolver;
using quovix::test::TcpTestServer;

namespace {

// A whois server that answers every query with a fixed text and closes.
TcpTestServer::Handler Answer(std::string text, TcpTestServer** self = nullptr) {
  return [text, self](int fd) {
    std::string q = TcpTestServer::ReadLine(fd);
    if (self && *self) (*self)->Record(q);
    TcpTestServer::SendAll(fd, text);
  };
}

// Holds the connection open without a word until the server stops.
void Silent(int fd, TcpTestServer& s) {
  TcpTestServer::ReadLine(fd);
  while (!s.stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  (void)fd;
}

std::vector<std::string> Texts(const TRichEdit& pane) {
  std::vector<std::string> v;
  for (const auto& l : pane.Lines()) v.push_back(l.Text);
  return v;
}

bool HasLine(const TRichEdit& pane, const std::string& text, TColor colour) {
  for (const auto& l : pane.Lines())
    if (l.Text == text && l.Color == colour) return true;
  return false;
}

}  // namespace

TEST(WhoisFormat, LineEndsAreNormalised) {
  EXPECT_EQ(WhoisNormaliseLineEnds("a\nb\n"), "a\r\nb\r\n");
  EXPECT_EQ(WhoisNormaliseLineEnds("a\rb"), "a\r\nb");
  EXPECT_EQ(WhoisNormaliseLineEnds("a\r\nb\nc"), "a\r\nb\nc");  // both kinds: unchanged
}

TEST(WhoisFormat, CommentsAndBlankRunsAreCleaned) {
  EXPECT_EQ(WhoisCleanFormat("% comment\r\n\r\n\r\nDomain: x   \r\n\r\n\r\n# c\r\n; c\r\n"
                             "Status: ok\r\n   % not a comment\r\n\r\n"),
            "Domain: x\r\n\r\nStatus: ok\r\n   % not a comment");
  EXPECT_EQ(WhoisCleanFormat("% only\r\n\r\n# comments\r\n  \r\n"), "");
  EXPECT_EQ(WhoisCleanFormat("a\r\n%c\r\n\r\n%c\r\n\r\nb"), "a\r\n\r\nb");
}

TEST(WhoisExchange, SendsQueryLineAndReadsUntilClose) {
  TcpTestServer* self = nullptr;
  TcpTestServer s("127.0.0.1", 0, Answer("line 1\nline 2\n", &self));
  self = &s;
  ASSERT_TRUE(s.ok());
  EXPECT_EQ(WhoisQuery("example.org", "127.0.0.1", 3000, false, s.port()),
            "line 1\r\nline 2\r\n");
  ASSERT_EQ(s.Received().size(), 1u);
  EXPECT_EQ(s.Received()[0], "example.org\r\n");
}

TEST(WhoisExchange, SilenceRefusalAndEmptyCloseAllGiveEmpty) {
  TcpTestServer* silentSelf = nullptr;
  TcpTestServer silent("127.0.0.1", 0, [&](int fd) { Silent(fd, *silentSelf); });
  silentSelf = &silent;
  TcpTestServer closer("127.0.0.1", 0, [](int) {});
  ASSERT_TRUE(silent.ok() && closer.ok());
  EXPECT_EQ(WhoisQuery("q", "127.0.0.1", 300, false, silent.port()), "");
  EXPECT_EQ(WhoisQuery("q", "127.0.0.1", 2000, false, closer.port()), "");
  // A port nobody listens on: the closer's port after it is gone.
  int freePort;
  {
    TcpTestServer gone("127.0.0.1", 0, [](int) {});
    freePort = gone.port();
  }
  EXPECT_EQ(WhoisQuery("q", "127.0.0.1", 2000, false, freePort), "");
  EXPECT_EQ(WhoisQuery("q", "", 2000, false, 43), "");
}

TEST(WhoisExchange, LateAnswerNeverReachesTheNextExchange) {
  TcpTestServer slow("127.0.0.1", 0, [](int fd) {
    TcpTestServer::ReadLine(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    TcpTestServer::SendAll(fd, "LATE ANSWER\n");
  });
  TcpTestServer fast("127.0.0.1", 0, Answer("fresh answer\n"));
  ASSERT_TRUE(slow.ok() && fast.ok());
  EXPECT_EQ(WhoisQuery("q", "127.0.0.1", 100, false, slow.port()), "");
  EXPECT_EQ(WhoisQuery("q", "127.0.0.1", 3000, false, fast.port()), "fresh answer\r\n");
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(WhoisQuery("q", "127.0.0.1", 3000, false, fast.port()), "fresh answer\r\n");
}

TEST(WhoisExchange, HugeAnswerIsCutAndReported) {
  TcpTestServer s("127.0.0.1", 0, [](int fd) {
    TcpTestServer::ReadLine(fd);
    std::string chunk(64 * 1024, 'x');
    for (int i = 0; i < 80; ++i) TcpTestServer::SendAll(fd, chunk);  // 5 MiB
  });
  ASSERT_TRUE(s.ok());
  WhoisExchangeInfo info;
  std::string a = WhoisQuery("q", "127.0.0.1", 10000, false, s.port(), &info);
  EXPECT_TRUE(info.Truncated);
  EXPECT_EQ(a.size(), kWhoisMaxAnswer);  // cut; no line ends to add
}

TEST(WhoisExchange, AnswerOfMillionsOfLinesIsCutToTheLineCap) {
  TcpTestServer s("127.0.0.1", 0, [](int fd) {
    TcpTestServer::ReadLine(fd);
    std::string lines;
    for (int i = 0; i < 512 * 1024; ++i) lines += "a\n";  // 1 MiB
    TcpTestServer::SendAll(fd, lines);
  });
  ASSERT_TRUE(s.ok());
  WhoisExchangeInfo info;
  const std::string a = WhoisQuery("q", "127.0.0.1", 10000, true, s.port(), &info);
  EXPECT_TRUE(info.LinesCut);
  EXPECT_FALSE(info.Truncated);
  EXPECT_EQ(static_cast<size_t>(std::count(a.begin(), a.end(), '\n')) + 1, kWhoisMaxLines);
}

class WhoisRun : public ::testing::Test {
 protected:
  std::shared_ptr<TableResolver> names = std::make_shared<TableResolver>();
  platform::ScopedResolver resolver{names};
  void SetUp() override {
    // Whatever settings the form read, no test asks the real bootstrap service.
    RdapBootstrapUrl.clear();
    f.chkWhoisDirectQuery.SetChecked(true);
    f.chkWhoisFormat.SetCheckedSilently(true);
    f.chkWhoisRedirect.SetCheckedSilently(true);
    f.cmbWhoisTimeout.SetText("3000");
  }
  TfrmMain f;
};

TEST_F(WhoisRun, DirectQueryAsksTheServerBoxOnItsPortAndNothingElse) {
  TcpTestServer* self = nullptr;
  TcpTestServer s("127.0.0.1", 0, Answer("% header\nDomain: example.test\n\n\n% footer\n", &self));
  self = &s;
  ASSERT_TRUE(s.ok());
  f.cmbWhoisHost.SetText("  example.test ");
  f.cmbWhoisServer.SetText("127.0.0.1:" + std::to_string(s.port()));
  f.btnWhoisStart.Click();

  const auto& lines = f.reWhois.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].Text, "Host-Informationen für \"  example.test \":");
  EXPECT_EQ(lines[0].Color, clBlue);
  EXPECT_TRUE(HasLine(f.reWhois, "  Hostname:    example.test", clNavy));
  EXPECT_TRUE(HasLine(f.reWhois,
                      "Domainanfrage für \"example.test\" bei \"127.0.0.1\":", clBlue));
  EXPECT_TRUE(HasLine(f.reWhois, "Domain: example.test", clBlack));
  EXPECT_TRUE(HasLine(f.reWhois, "Anfragen beendet.", clBlue));
  for (const auto& t : Texts(f.reWhois)) {
    EXPECT_EQ(t.find("Top-Level"), std::string::npos);
    EXPECT_EQ(t.find("Netzwerkanfrage"), std::string::npos);
    EXPECT_EQ(t.find("% header"), std::string::npos);
  }
  ASSERT_EQ(s.Received().size(), 1u);
  EXPECT_EQ(s.Received()[0], "example.test\r\n");
  // Ready state with histories and option dependencies.
  EXPECT_EQ(f.btnWhoisStart.RunState, 0);
  EXPECT_EQ(f.btnWhoisStart.Caption(), "&Start");
  EXPECT_TRUE(f.ToolIdle);
  EXPECT_EQ(f.cmbWhoisHost.Items().at(0), "example.test");
  EXPECT_TRUE(f.cmbWhoisServer.Enabled());
  EXPECT_FALSE(f.chkWhoisCheck.Enabled());
  EXPECT_EQ(f.sbMain.SimpleText(), " Bereit.");
}

TEST_F(WhoisRun, SecondClickAbortsAtTheNextCheckpoint) {
  TcpTestServer s("127.0.0.1", 0, Answer("Domain: a.test\nWhois Server: 127.0.0.1\n"));
  ASSERT_TRUE(s.ok());
  f.cmbWhoisHost.SetText("a.test");
  f.cmbWhoisServer.SetText("127.0.0.1:" + std::to_string(s.port()));
  int pumps = 0;
  f.ProcessMessages = [&] {
    if (++pumps == 3) f.btnWhoisStart.Click();  // the user's second click
  };
  f.btnWhoisStart.Click();
  const auto& lines = f.reWhois.Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().Text, "Abbruch durch Benutzer.");
  EXPECT_EQ(lines.back().Color, clRed);
  EXPECT_FALSE(HasLine(f.reWhois, "Anfragen beendet.", clBlue));
  EXPECT_EQ(f.btnWhoisStart.RunState, 0);
  EXPECT_TRUE(f.ToolIdle);
  EXPECT_TRUE(f.cmbWhoisHost.Enabled());
}

TEST_F(WhoisRun, AnswerOfOnlyCommentsCountsAsTimeout) {
  TcpTestServer s("127.0.0.1", 0, Answer("% nothing here\n# nor here\n\n"));
  ASSERT_TRUE(s.ok());
  f.cmbWhoisHost.SetText("a.test");
  f.cmbWhoisServer.SetText("127.0.0.1:" + std::to_string(s.port()));
  f.btnWhoisStart.Click();
  EXPECT_TRUE(HasLine(f.reWhois, "Nach Zeitüberschreitung abgebrochen.", clRed));
}

TEST_F(WhoisRun, RefusedServerAtOnceHeldAnswerShownAtTheLimit) {
  const quovix::test::ClosedLoopbackPort closed;
  const int closedPort = closed.port();
  f.cmbWhoisTimeout.SetText("15000");
  f.cmbWhoisHost.SetText("a.test");
  f.cmbWhoisServer.SetText("127.0.0.1:" + std::to_string(closedPort));
  auto start = std::chrono::steady_clock::now();
  f.btnWhoisStart.Click();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
  EXPECT_TRUE(HasLine(f.reWhois, "Der Server \"127.0.0.1\" hat die Verbindung abgelehnt.", clRed));
  EXPECT_FALSE(HasLine(f.reWhois, "Nach Zeitüberschreitung abgebrochen.", clRed));

  // All of the answer is there, but the server never closes.
  quovix::test::DribblePeer holder({.first = quovix::test::DribblePeer::First::Line,
                                    .prefix = "Domain Name: A.TEST\nStatus: active\n"});
  ASSERT_TRUE(holder.ok());
  f.cmbWhoisTimeout.SetText("1000");
  f.cmbWhoisServer.SetText("127.0.0.1:" + std::to_string(holder.Port()));
  start = std::chrono::steady_clock::now();
  f.btnWhoisStart.Click();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_TRUE(HasLine(f.reWhois, "Domain Name: A.TEST", clBlack));
  EXPECT_TRUE(HasLine(f.reWhois, "Status: active", clBlack));
  EXPECT_TRUE(HasLine(f.reWhois,
                      "Der Server hat die Verbindung bis zum Zeitlimit offen gehalten; die Antwort "
                      "ist das, was bis dahin ankam.",
                      clMaroon));
  EXPECT_TRUE(HasLine(f.reWhois, "Anfragen beendet.", clBlue));
}

TEST(WhoisFormat, LineEndsAreNormalisedInLinearTime) {
  // 1 MiB of LF lines: one pass, not one move of the rest per line.
  const std::string answer = [] {
    std::string a;
    while (a.size() < (1u << 20)) a += "status: clientTransferProhibited\n";
    return a;
  }();
  const auto start = std::chrono::steady_clock::now();
  const std::string out = WhoisNormaliseLineEnds(answer);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_EQ(out.size(), answer.size() + static_cast<size_t>(std::count(answer.begin(), answer.end(), '\n')));
  EXPECT_EQ(out.substr(0, 35), "status: clientTransferProhibited\r\ns");
}

TEST_F(WhoisRun, Latin1AnswerStaysReadable) {
  TcpTestServer s("127.0.0.1", 0, Answer("Inhaber: J\xFCrgen M\xFCller\n"));
  ASSERT_TRUE(s.ok());
  f.cmbWhoisHost.SetText("a.test");
  f.cmbWhoisServer.SetText("127.0.0.1:" + std::to_string(s.port()));
  f.btnWhoisStart.Click();
  EXPECT_TRUE(HasLine(f.reWhois, "Inhaber: Jürgen Müller", clBlack));
}

TEST_F(WhoisRun, OptionDependencies) {
  f.chkWhoisDirectQuery.SetChecked(false);
  EXPECT_TRUE(f.chkWhoisCheck.Enabled());
  EXPECT_TRUE(f.chkWhoisNetwork.Enabled());
  EXPECT_FALSE(f.cmbWhoisServer.Enabled());
  EXPECT_FALSE(f.lblWhoisServer.Enabled());
  f.chkWhoisDirectQuery.SetChecked(true);
  EXPECT_FALSE(f.chkWhoisCheck.Enabled());
  EXPECT_FALSE(f.chkWhoisNetwork.Enabled());
  EXPECT_TRUE(f.cmbWhoisServer.Enabled());
}

// Whois servers of either family: an IPv6 literal in the server box (with
// its port in brackets), and a server name with IPv6 addresses only.
TEST_F(WhoisRun, ServersOfEitherFamilyAreAsked) {
  TcpTestServer* self = nullptr;
  TcpTestServer s("::1", 0, Answer("Domain: example.test\n", &self));
  self = &s;
  ASSERT_TRUE(s.ok());
  f.cmbWhoisServer.SetText("[::1]:" + std::to_string(s.port()));
  f.cmbWhoisHost.SetText("example.test");
  f.btnWhoisStart.Click();
  EXPECT_TRUE(HasLine(f.reWhois, "Domain: example.test", clBlack));
  names->All["whois6.test"] = {"::1"};
  WhoisExchangeInfo info;
  EXPECT_EQ(WhoisQuery("q", "whois6.test", 3000, false, s.port(), &info), "Domain: example.test\r\n");
  EXPECT_EQ(info.End, TWhoisEnd::Complete);
  EXPECT_EQ(s.Received(), (std::vector<std::string>{"example.test\r\n", "q\r\n"}));
}

// ---- Runs with a data pack and registry servers on port 43 ------------------

namespace {

// A program folder with its own Whois.pak; the data-pack cache is reset so the
// look-ups read it.
class PackFolder {
 public:
  explicit PackFolder(const std::string& rows) {
    dir_ = std::filesystem::temp_directory_path() /
           ("quovix-whois-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
    std::filesystem::create_directories(dir_);
    Add("Whois.pak", rows);
    saved_ = ProgramFolder;
    ProgramFolder = dir_.string() + "/";
    ResetDataPackCache();
  }
  ~PackFolder() {
    ProgramFolder = saved_;
    ResetDataPackCache();
    std::filesystem::remove_all(dir_);
  }
  // Another pack beside Whois.pak.
  void Add(const std::string& name, const std::string& rows) const {
    uLongf size = compressBound(rows.size());
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size,
             reinterpret_cast<const Bytef*>(rows.data()), rows.size());
    packed.resize(size);
    std::ofstream(dir_ / name, std::ios::binary) << packed;
    ResetDataPackCache();
  }

 private:
  static inline int counter_ = 0;
  std::filesystem::path dir_;
  std::string saved_;
};

// A whois server on port 43 of a loopback address, answering by the query.
struct Port43Server {
  std::map<std::string, std::string> answers;  // query -> answer; others get nothing
  bool silent = false;
  std::unique_ptr<TcpTestServer> server;
  Port43Server(const std::string& address, std::map<std::string, std::string> a, bool quiet = false)
      : answers(std::move(a)), silent(quiet) {
    server = std::make_unique<TcpTestServer>(address, 43, [this](int fd) {
      std::string q = TcpTestServer::ReadLine(fd);
      server->Record(q);
      if (silent) {
        while (!server->stopping()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return;
      }
      if (q.size() >= 2) q.resize(q.size() - 2);
      auto it = answers.find(q);
      if (it != answers.end()) TcpTestServer::SendAll(fd, it->second);
    });
  }
  std::vector<std::string> Queries() { return server->Received(); }
};

class WhoisRegistries : public WhoisRun {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to listen on port 43";
    WhoisRun::SetUp();
    f.chkWhoisDirectQuery.SetChecked(false);
    f.chkWhoisCheck.SetCheckedSilently(true);
    f.chkWhoisNetwork.SetCheckedSilently(true);
    f.cmbWhoisTimeout.SetText("1000");
    savedInterNic = WhoisInterNicServer;
  }
  void TearDown() override { WhoisInterNicServer = savedInterNic; }
  std::string savedInterNic;
};

std::string Registries(const std::string& net) {
  return "NET-ARIN|" + net + ".2|n + |\nNET-APNIC|" + net + ".3||\nNET-LACNIC|" + net +
         ".4||\nNET-RIPE|" + net + ".5||\n";
}

}  // namespace

TEST_F(WhoisRegistries, AddressGoesHostBlockDomainQueryReferralThenRegistryChain) {
  const std::string net = "127.43.1";
  PackFolder pack("TEST|Testland|Testland|W|" + net + ".10|-Q |/X\n" + Registries(net));
  names->Reverse["192.0.2.7"] = "www.example.test";
  Port43Server registry(net + ".10", {{"-Q example.test/X",
                                       "Domain: example.test\nWhois Server: " + net + ".11\n"}});
  Port43Server registrar(net + ".11", {{"example.test", "Registrant: Example Org\n"}});
  // The referral on the last line, without a line break after it.
  Port43Server arin(net + ".2", {{"n + 192.0.2.7", "NetRange: 192.0.2.0\nReferralServer: whois://" +
                                                       net + ".12:43"}});
  Port43Server apnic(net + ".3", {});
  Port43Server referred(net + ".12", {{"192.0.2.7", "inetnum: 192.0.2.0 - 192.0.2.255\n"}});

  f.cmbWhoisHost.SetText("192.0.2.7");
  f.btnWhoisStart.Click();

  const std::vector<std::string> expected = {
      "Host-Informationen für \"192.0.2.7\":",
      "  Hostname:    www.example.test",
      "  IP-Adresse:  192.0.2.7",
      "  Domainname:  example.test",
      "  Top-Level:   TEST",
      "  Land (EN):   Testland",
      "  Land (DE):   Testland",
      "  Server:      " + net + ".10",
      "",
      "Domainanfrage für \"example.test\" bei \"" + net + ".10\":",
      "",
      "Domain: example.test",
      "Whois Server: " + net + ".11",
      "",
      "Umgeleitete Domainanfrage für \"example.test\" bei \"" + net + ".11\":",
      "",
      "Registrant: Example Org",
      "",
      "Netzwerkanfrage für \"192.0.2.7\" bei \"" + net + ".2\":",
      "",
      "NetRange: 192.0.2.0",
      "ReferralServer: whois://" + net + ".12:43",
      "",
      "Umgeleitete Netzwerkanfrage für \"192.0.2.7\" bei \"" + net + ".12\":",
      "",
      "inetnum: 192.0.2.0 - 192.0.2.255",
      "",
      "Anfragen beendet."};
  EXPECT_EQ(Texts(f.reWhois), expected);
  EXPECT_TRUE(apnic.Queries().empty());  // the referral skips the other registries
  EXPECT_EQ(registrar.Queries(), (std::vector<std::string>{"example.test\r\n"}));
}

TEST_F(WhoisRegistries, ComDomainGoesToInterNicAndTakesTheReferralAfterItsOwnName) {
  const std::string net = "127.43.2";
  PackFolder pack(Registries(net));  // no row for COM
  WhoisInterNicServer = net + ".10";
  names->Forward["shop.example.com"] = "192.0.2.8";
  Port43Server internic(net + ".10",
                        {{"=example.com",
                          "   Server Name: EXAMPLE.COM.EVIL\r\n   Whois Server: wrong.example\r\n\r\n"
                          "   Domain Name: EXAMPLE.COM\r\n   Whois Server: " + net + ".11\r\n"}});
  Port43Server registrar(net + ".11", {{"example.com", "Registrar data\n"}});
  Port43Server arin(net + ".2", {{"n + 192.0.2.8", "OrgName: Test\n"}});

  f.cmbWhoisHost.SetText("shop.example.com");
  f.btnWhoisStart.Click();

  EXPECT_TRUE(HasLine(f.reWhois, "  Domainname:  example.com", clNavy));
  EXPECT_EQ(internic.Queries(), (std::vector<std::string>{"=example.com\r\n"}));
  EXPECT_TRUE(HasLine(f.reWhois,
                      "Umgeleitete Domainanfrage für \"example.com\" bei \"" + net + ".11\":",
                      clBlue));
  EXPECT_TRUE(HasLine(f.reWhois, "Registrar data", clBlack));
  EXPECT_TRUE(HasLine(f.reWhois, "OrgName: Test", clBlack));
  EXPECT_TRUE(HasLine(f.reWhois, "Anfragen beendet.", clBlue));
}

TEST_F(WhoisRegistries, SilentRegistriesAreAskedInTurnThenNoInformation) {
  const std::string net = "127.43.3";
  PackFolder pack("TEST|||L|https://registry.example/lookup||\n" + Registries(net));
  names->Reverse["192.0.2.9"] = "host.example.test";
  Port43Server arin(net + ".2", {}, true);
  Port43Server apnic(net + ".3", {}, true);
  Port43Server lacnic(net + ".4", {}, true);
  Port43Server ripe(net + ".5", {}, true);
  f.cmbWhoisTimeout.SetText("250");
  f.cmbWhoisHost.SetText("192.0.2.9");
  f.btnWhoisStart.Click();

  EXPECT_TRUE(HasLine(f.reWhois, "  Abfragelink: https://registry.example/lookup", clNavy));
  // An address was asked about: no domain to ask is a note.
  EXPECT_TRUE(HasLine(f.reWhois, "Domainanfrage nicht möglich.", clNavy));
  for (const char* last : {".2", ".3", ".4", ".5"})
    EXPECT_TRUE(HasLine(f.reWhois,
                        "Anfrage bei \"" + net + last +
                            "\" wurde nach Zeitüberschreitung abgebrochen.",
                        clRed))
        << last;
  EXPECT_EQ(arin.Queries(), (std::vector<std::string>{"n + 192.0.2.9\r\n"}));
  EXPECT_EQ(ripe.Queries(), (std::vector<std::string>{"192.0.2.9\r\n"}));
  const auto& lines = f.reWhois.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2].Text, "Keine Informationen verfügbar.");
  EXPECT_EQ(lines.back().Text, "Anfragen beendet.");
}

TEST_F(WhoisRegistries, UnresolvableNameReportsBothQueriesImpossible) {
  PackFolder pack("");
  f.cmbWhoisHost.SetText("192.0.2.250");  // no reverse name
  f.btnWhoisStart.Click();
  EXPECT_TRUE(HasLine(f.reWhois, "  Hostname:    ", clNavy));
  EXPECT_TRUE(HasLine(f.reWhois, "Domainanfrage nicht möglich.", clNavy));
  f.cmbWhoisHost.SetText("nowhere.test");  // no address
  f.btnWhoisStart.Click();
  EXPECT_TRUE(HasLine(f.reWhois, "Netzwerkanfrage nicht möglich.", clRed));
}

TEST_F(WhoisRegistries, PublicSuffixIsNoDomainToAskAbout) {
  const std::string net = "127.43.4";
  PackFolder pack("UK|United Kingdom|Vereinigtes Königreich|W|" + net + ".10||\n" + Registries(net));
  Port43Server registry(net + ".10", {{"co.uk", "Domain: co.uk\n"}});
  f.SldList = {"uk", "co.uk"};
  f.chkWhoisNetwork.SetCheckedSilently(false);
  f.cmbWhoisHost.SetText("co.uk");
  f.btnWhoisStart.Click();
  EXPECT_TRUE(HasLine(f.reWhois, "  Domainname:  ", clNavy));
  EXPECT_TRUE(HasLine(f.reWhois, "Domainanfrage nicht möglich.", clRed));
  EXPECT_TRUE(HasLine(f.reWhois, "Anfragen beendet.", clBlue));
  EXPECT_TRUE(registry.Queries().empty());
  // One label more is a domain, asked at the registry's server.
  f.cmbWhoisHost.SetText("www.example.co.uk");
  f.btnWhoisStart.Click();
  EXPECT_TRUE(HasLine(f.reWhois, "  Domainname:  example.co.uk", clNavy));
  EXPECT_EQ(registry.Queries(), (std::vector<std::string>{"example.co.uk\r\n"}));
}

// The network query for an IPv6 address, typed or the address of a name,
// along the registries exactly as for IPv4, all servers IPv6 addresses of
// the test's own namespace on port 43; the country from the IPv6 pack.
TEST_F(WhoisRegistries, Ipv6AddressGoesAlongTheRegistryChain) {
  if (const std::string why = icmptest::NetnsSkipReason(); !why.empty()) GTEST_SKIP() << why;
  icmptest::NetnsSet nets;
  const std::string ns = nets.Add("whois");
  ASSERT_FALSE(ns.empty());
  const std::string net = "fd00:43::";
  for (const char* host : {"2", "3", "4", "5", "10", "11", "12"})
    ASSERT_TRUE(icmptest::Sh("ip -n " + ns + " addr add " + net + host + "/128 dev lo nodad"));
  PackFolder pack("TEST|Testland|Testland|W|" + net + "10|-Q |/X\nNET-ARIN|" + net +
                  "2|n + |\nNET-APNIC|" + net + "3||\nNET-LACNIC|" + net + "4||\nNET-RIPE|" +
                  net + "5||\n");
  pack.Add("IPCountry6.pak", "2001:db8::|2001:db8:ffff:ffff:ffff:ffff:ffff:ffff|TL|Testland\n");
  names->Reverse["2001:db8::7"] = "www.example.test";
  names->All["v6only.example.test"] = {"2001:db8::8"};

  const std::string report = icmptest::RunInNetns(ns, false, [&] {
    Port43Server registry(net + "10", {{"-Q example.test/X",
                                        "Domain: example.test\nWhois Server: " + net + "11\n"}});
    Port43Server registrar(net + "11", {{"example.test", "Registrant: Example Org\n"}});
    Port43Server arin(net + "2", {{"n + 2001:db8::7", "NetRange: 2001:db8::/32\nReferralServer: whois://[" +
                                                          net + "12]:43"},
                                  {"n + 2001:db8::8", "NetRange: 2001:db8::/32\n"}});
    Port43Server apnic(net + "3", {});
    Port43Server referred(net + "12", {{"2001:db8::7", "inet6num: 2001:db8::/32\n"}});
    std::string out;
    f.cmbWhoisHost.SetText("2001:DB8:0::7");
    f.btnWhoisStart.Click();
    for (const auto& t : Texts(f.reWhois)) out += t + "\n";
    f.cmbWhoisHost.SetText("v6only.example.test");
    f.btnWhoisStart.Click();
    out += "--\n";
    for (const auto& q : arin.Queries()) out += "arin: " + q;
    for (const auto& q : apnic.Queries()) out += "apnic: " + q;
    return out;
  });
  const std::vector<std::string> expected = {
      "Host-Informationen für \"2001:DB8:0::7\":",
      "  Hostname:    www.example.test",
      "  IP-Adresse:  2001:db8::7",
      "  Land:        (Dokumentation)",  // whatever the pack says
      "  Domainname:  example.test",
      "  Top-Level:   TEST",
      "  Land (EN):   Testland",
      "  Land (DE):   Testland",
      "  Server:      " + net + "10",
      "",
      "Domainanfrage für \"example.test\" bei \"" + net + "10\":",
      "",
      "Domain: example.test",
      "Whois Server: " + net + "11",
      "",
      "Umgeleitete Domainanfrage für \"example.test\" bei \"" + net + "11\":",
      "",
      "Registrant: Example Org",
      "",
      "Netzwerkanfrage für \"2001:db8::7\" bei \"" + net + "2\":",
      "",
      "NetRange: 2001:db8::/32",
      "ReferralServer: whois://[" + net + "12]:43",
      "",
      "Umgeleitete Netzwerkanfrage für \"2001:db8::7\" bei \"[" + net + "12]\":",
      "",
      "inet6num: 2001:db8::/32",
      "",
      "Anfragen beendet.",
      "--",
      "arin: n + 2001:db8::7\r",
      "arin: n + 2001:db8::8\r"};
  std::vector<std::string> lines;
  for (size_t start = 0; start < report.size();) {
    const size_t end = report.find('\n', start);
    lines.push_back(report.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  EXPECT_EQ(lines, expected) << report;
}

// ---- RDAP before port 43 ------------------------------------------------------

namespace {

// An RDAP service on loopback: nginx over HTTPS with the test CA, static
// answers of a registry (with the link to the registrar), the registrar, a
// regional registry that redirects to the holder of a network, an AS number,
// a 404 and a 429; a second server with a certificate for another name.
class RdapPeer {
 public:
  httptest::TempDir dir;
  httptest::TestCerts certs{dir};
  int port = 0, wrongPort = 0;
  std::unique_ptr<httptest::NginxPeer> nginx;
  std::string skip;

  RdapPeer() {
    if (!certs.ok) {
      skip = "openssl could not make the test certificates";
      return;
    }
    port = httptest::FreePort();
    wrongPort = httptest::FreePort();
    const std::string at = "https://127.0.0.1:" + std::to_string(port);
    dir.Write("rdap/registry/domain/example.test", R"({"objectClassName": "domain",
      "ldhName": "EXAMPLE.TEST", "handle": "D1-TEST", "status": ["active"],
      "events": [{"eventAction": "registration", "eventDate": "2001-02-03T04:05:06Z"}],
      "entities": [{"objectClassName": "entity", "roles": ["registrar"],
        "publicIds": [{"type": "IANA Registrar ID", "identifier": "9999"}],
        "vcardArray": ["vcard", [["version", {}, "text", "4.0"],
                                 ["fn", {}, "text", "Test Registrar"]]]}],
      "links": [{"rel": "related", "type": "application/rdap+json",
                 "href": ")" + at + R"(/registrar/domain/example.test"}],
      "nameservers": [{"objectClassName": "nameserver", "ldhName": "NS1.EXAMPLE.TEST"}],
      "secureDNS": {"delegationSigned": false},
      "notices": [{"title": "Terms", "description": ["Use it kindly."]}]})");
    dir.Write("rdap/registrar/domain/example.test", R"({"objectClassName": "domain",
      "ldhName": "example.test",
      "entities": [{"objectClassName": "entity", "roles": ["registrant"],
        "vcardArray": ["vcard", [["version", {}, "text", "4.0"], ["fn", {}, "text", ""],
                                 ["org", {}, "text", "Example Org"]]]}],
      "redacted": [{"name": {"type": "Registrant Name"}, "method": "emptyValue"}]})");
    dir.Write("rdap/holder/ip/192.0.2.7", R"({"objectClassName": "ip network",
      "handle": "NET-192-0-2-0-1", "startAddress": "192.0.2.0", "endAddress": "192.0.2.255",
      "name": "TEST-NET-1", "type": "ASSIGNED", "country": "ZZ", "parentHandle": "NET-192-0-0-0-0"})");
    dir.Write("rdap/rir/autnum/64500", R"({"objectClassName": "autnum", "handle": "AS64500",
      "startAutnum": 64500, "endAutnum": 64500, "name": "TEST-AS"})");
    auto server = [&](int p, const std::string& cert, const std::string& key) {
      return "  server {\n    listen 127.0.0.1:" + std::to_string(p) + " ssl;\n" +
             "    ssl_certificate " + cert + ";\n    ssl_certificate_key " + key + ";\n" +
             "    access_log " + dir.File("requests.log") + " rdap;\n"
             "    root " + dir.File("rdap") + ";\n"
             "    default_type application/rdap+json;\n"
             "    location /rir/ip/ { rewrite ^/rir/(.*)$ /holder/$1 redirect; }\n"
             "    location /limited/ { return 429; }\n"
             "    location /plain/ { return 302 http://127.0.0.1:1/; }\n"
             "  }\n";
    };
    nginx = std::make_unique<httptest::NginxPeer>(
        dir,
        "  log_format rdap '$request_uri $http_accept';\n" +
            server(port, certs.goodCert, certs.goodKey) +
            server(wrongPort, certs.wrongCert, certs.wrongKey),
        std::vector<int>{port, wrongPort});
    skip = nginx->skipReason;
  }
  std::string Base(const std::string& path, bool wrongHost = false) const {
    return "https://127.0.0.1:" + std::to_string(wrongHost ? wrongPort : port) + path;
  }
  // "uri accept" per request, in order; nginx logs a request after its
  // answer, so the last line may take a moment when `expected` are due.
  std::vector<std::string> Requests(size_t expected = 0) const {
    std::vector<std::string> lines;
    for (int i = 0; i < 50; ++i) {
      lines.clear();
      std::istringstream in(httptest::ReadFile(dir.File("requests.log")));
      for (std::string l; std::getline(in, l);) lines.push_back(l);
      if (lines.size() >= expected) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return lines;
  }
};

// Bootstrap files of one registry kind in the program folder.
void WriteBootstrap(const char* file, const std::string& services) {
  std::filesystem::create_directories(ProgramFolder + "RDAP");
  std::ofstream(ProgramFolder + "RDAP/" + file)
      << R"({"version": "1.0", "publication": "2026-01-01T00:00:00Z", "services": [)" << services
      << "]}";
  ResetRdapBootstrapCache();
}

class WhoisRdap : public WhoisRegistries {
 protected:
  void SetUp() override {
    WhoisRegistries::SetUp();
    if (IsSkipped()) return;
    if (!peer.skip.empty()) GTEST_SKIP() << peer.skip;
    f.chkWhoisRdap.SetCheckedSilently(true);
    f.IdHTTP.TlsExtraCaFile = peer.certs.ca;
  }
  void TearDown() override {
    WhoisRegistries::TearDown();
    RdapBootstrapUrl.clear();  // never the default service
    setenv("XDG_CACHE_HOME", QUOVIX_TEST_CACHE_DIR, 1);
    ResetRdapBootstrapCache();
  }
  RdapPeer peer;
};

}  // namespace

TEST_F(WhoisRdap, RegistryRegistrarAndNetworkAnsweredWithoutPort43) {
  const std::string net = "127.43.10";
  PackFolder pack("TEST|Testland|Testland|W|" + net + ".10||\n" + Registries(net));
  WriteBootstrap("dns.json", R"([["test"], [")" + peer.Base("/registry") + R"("]])");
  WriteBootstrap("ipv4.json", R"([["192.0.2.0/24"], [")" + peer.Base("/rir/") + R"("]])");
  names->Forward["www.example.test"] = "192.0.2.7";
  Port43Server registry(net + ".10", {{"example.test", "Domain: example.test\n"}});
  Port43Server arin(net + ".2", {{"n + 192.0.2.7", "NetRange: 192.0.2.0\n"}});

  f.cmbWhoisHost.SetText("www.example.test");
  f.btnWhoisStart.Click();

  const std::string related = peer.Base("/registrar/domain/example.test");
  const std::vector<std::string> expected = {
      "Host-Informationen für \"www.example.test\":",
      "  Hostname:    www.example.test",
      "  IP-Adresse:  192.0.2.7",
      "  Domainname:  example.test",
      "  Top-Level:   TEST",
      "  Land (EN):   Testland",
      "  Land (DE):   Testland",
      "  Server:      " + net + ".10",
      "",
      "RDAP-Anfrage für \"example.test\" bei \"" + peer.Base("/registry/") + "\":",
      "",
      "Name:             EXAMPLE.TEST",
      "Handle:           D1-TEST",
      "Status:           active",
      "Registriert:      2001-02-03T04:05:06Z",
      "Registrar:        Test Registrar",
      "  IANA-ID:        9999",
      "  RDAP-Link:      " + related,
      "Nameserver:       NS1.EXAMPLE.TEST",
      "DNSSEC:           nicht signiert",
      "",
      "Umgeleitete RDAP-Anfrage für \"example.test\" bei \"" + related + "\":",
      "",
      "Name:             example.test",
      "Kontakt:          registrant",
      "  Name:           [redigiert]",
      "  Organisation:   Example Org",
      "",
      "RDAP-Anfrage für \"192.0.2.7\" bei \"" + peer.Base("/rir/") + "\":",
      "",
      "Handle:           NET-192-0-2-0-1",
      "Bereich:          192.0.2.0 - 192.0.2.255",
      "CIDR:             192.0.2.0/24",
      "Name:             TEST-NET-1",
      "Typ:              ASSIGNED",
      "Land:             ZZ",
      "Übergeordnet:     NET-192-0-0-0-0",
      "",
      "Anfragen beendet."};
  EXPECT_EQ(Texts(f.reWhois), expected);
  EXPECT_TRUE(HasLine(f.reWhois, "Registrar:        Test Registrar", clBlack));
  EXPECT_TRUE(HasLine(f.reWhois, "Umgeleitete RDAP-Anfrage für \"example.test\" bei \"" + related +
                                     "\":", clBlue));
  EXPECT_TRUE(registry.Queries().empty());
  EXPECT_TRUE(arin.Queries().empty());
  EXPECT_EQ(peer.Requests(4), (std::vector<std::string>{
                                 "/registry/domain/example.test application/rdap+json",
                                 "/registrar/domain/example.test application/rdap+json",
                                 "/rir/ip/192.0.2.7 application/rdap+json",
                                 "/holder/ip/192.0.2.7 application/rdap+json"}));

  // Unformatted: the registry's notices too. Without "Automatische
  // Umleitung" the registrar is not asked.
  f.chkWhoisFormat.SetCheckedSilently(false);
  f.chkWhoisRedirect.SetCheckedSilently(false);
  f.chkWhoisNetwork.SetCheckedSilently(false);
  f.btnWhoisStart.Click();
  EXPECT_TRUE(HasLine(f.reWhois, "Hinweis:          Terms", clBlack));
  EXPECT_TRUE(HasLine(f.reWhois, "  Use it kindly.", clBlack));
  EXPECT_FALSE(HasLine(f.reWhois, "  Name:           [redigiert]", clBlack));
  EXPECT_EQ(peer.Requests(5).size(), 5u);
  EXPECT_TRUE(registry.Queries().empty());
}

TEST_F(WhoisRdap, AsNumberNotFoundAndRateLimited) {
  const std::string net = "127.43.11";
  PackFolder pack("TEST|||W|" + net + ".10||\n" + Registries(net));
  WriteBootstrap("asn.json", R"([["64496-64511"], [")" + peer.Base("/rir/") + R"("]])");
  WriteBootstrap("dns.json", R"([["test"], [")" + peer.Base("/registry/") + R"("]],
                                [["busy.test"], [")" + peer.Base("/limited/") + R"("]])");
  Port43Server registry(net + ".10", {{"busy.test", "Domain: busy.test\n"}});
  f.chkWhoisNetwork.SetCheckedSilently(false);

  f.cmbWhoisHost.SetText("as64500");
  f.btnWhoisStart.Click();
  EXPECT_EQ(Texts(f.reWhois),
            (std::vector<std::string>{
                "Host-Informationen für \"as64500\":", "  AS-Nummer:   AS64500", "",
                "RDAP-Anfrage für \"AS64500\" bei \"" + peer.Base("/rir/") + "\":", "",
                "Handle:           AS64500", "AS-Nummern:       AS64500",
                "Name:             TEST-AS", "", "Anfragen beendet."}));

  // Not registered: a red line ends the domain part, port 43 is not asked.
  f.cmbWhoisHost.SetText("missing.test");
  f.btnWhoisStart.Click();
  EXPECT_TRUE(HasLine(f.reWhois,
                      "RDAP: Zu \"missing.test\" ist nichts registriert (HTTP 404, nicht gefunden).",
                      clRed));
  EXPECT_TRUE(HasLine(f.reWhois, "Anfragen beendet.", clBlue));
  EXPECT_TRUE(registry.Queries().empty());

  // Rate-limited: a red line of its own, then the answer from port 43.
  f.cmbWhoisHost.SetText("busy.test");
  f.btnWhoisStart.Click();
  EXPECT_TRUE(HasLine(f.reWhois,
                      "RDAP: \"" + peer.Base("/limited/domain/busy.test") +
                          "\" nimmt vorerst keine weiteren Anfragen an (HTTP 429, zu viele "
                          "Anfragen).",
                      clRed));
  EXPECT_TRUE(HasLine(f.reWhois, "Domain: busy.test", clBlack));
  EXPECT_EQ(registry.Queries(), (std::vector<std::string>{"busy.test\r\n"}));
}

TEST_F(WhoisRdap, FailuresSayWhyAndFallBackToPort43) {
  const std::string net = "127.43.12";
  PackFolder pack("TEST|||W|" + net + ".10||\n" + Registries(net));
  Port43Server registry(net + ".10", {{"a.test", "Domain: a.test\n"}, {"b.test", "Domain: b.test\n"},
                                      {"c.test", "Domain: c.test\n"}, {"d.test", "Domain: d.test\n"}});
  Port43Server arin(net + ".2", {{"n + 192.0.2.8", "NetRange: 192.0.2.0\n"}});
  f.chkWhoisNetwork.SetCheckedSilently(false);
  const quovix::test::ClosedLoopbackPort closed;
  const int closedPort = closed.port();
  WriteBootstrap("dns.json", R"([["b.test"], [")" + peer.Base("/", true) + R"("]],
                                [["c.test"], ["http://127.0.0.1:)" + std::to_string(closedPort) +
                                 R"(/"]], [["d.test"], [")" + peer.Base("/plain/") + R"("]])");
  auto run = [&](const std::string& name) {
    f.cmbWhoisHost.SetText(name);
    f.ToolAnswered.fill(false);
    f.btnWhoisStart.Click();
    // Port 43 answered after the RDAP note or failure: an answered run.
    EXPECT_TRUE(f.ToolAnswered[pgWhois]) << name;
    EXPECT_TRUE(HasLine(f.reWhois, "Domainanfrage für \"" + name + "\" bei \"" + net + ".10\":",
                        clBlue)) << name;
    EXPECT_TRUE(HasLine(f.reWhois, "Domain: " + name, clBlack)) << name;
  };
  run("a.test");  // no entry in the bootstrap file: a note, no fault
  EXPECT_TRUE(HasLine(f.reWhois, "RDAP: Für \"a.test\" ist kein RDAP-Dienst bekannt.", clNavy));
  run("b.test");  // a certificate for another name
  EXPECT_TRUE(HasLine(f.reWhois,
                      "RDAP: Sichere Verbindung zu \"" + peer.Base("/domain/b.test", true) +
                          "\" fehlgeschlagen: Das Zertifikat des Servers wurde nicht bestätigt.",
                      clMaroon))
      << ::testing::PrintToString(Texts(f.reWhois));
  run("c.test");  // nobody listens
  EXPECT_TRUE(HasLine(f.reWhois,
                      "RDAP: \"http://127.0.0.1:" + std::to_string(closedPort) +
                          "/domain/c.test\" ist nicht erreichbar: Verbindung abgelehnt",
                      clMaroon))
      << ::testing::PrintToString(Texts(f.reWhois));
  run("d.test");  // a redirect from HTTPS to plain HTTP
  EXPECT_TRUE(HasLine(f.reWhois,
                      "RDAP: Der Umleitung von \"" + peer.Base("/plain/domain/d.test") +
                          "\" auf das unverschlüsselte \"http://127.0.0.1:1/\" wird nicht gefolgt.",
                      clMaroon));

  // The address without an RDAP service: the registry chain as before.
  f.chkWhoisNetwork.SetCheckedSilently(true);
  names->Forward["a.test"] = "192.0.2.8";
  run("a.test");
  EXPECT_TRUE(HasLine(f.reWhois, "RDAP: Für \"192.0.2.8\" ist kein RDAP-Dienst bekannt.", clNavy));
  EXPECT_TRUE(HasLine(f.reWhois, "NetRange: 192.0.2.0", clBlack));

  // Direct query: the typed server on port 43, no RDAP at all.
  const size_t before = peer.Requests(1).size();
  f.chkWhoisDirectQuery.SetChecked(true);
  EXPECT_FALSE(f.chkWhoisRdap.Enabled());
  f.cmbWhoisServer.SetText(net + ".10");
  f.cmbWhoisHost.SetText("b.test");
  f.btnWhoisStart.Click();
  EXPECT_TRUE(HasLine(f.reWhois, "Domain: b.test", clBlack));
  for (const auto& t : Texts(f.reWhois)) EXPECT_EQ(t.find("RDAP"), std::string::npos) << t;
  EXPECT_EQ(peer.Requests().size(), before);
}

TEST_F(WhoisRdap, SilentServerTimesOutThenPort43AbortEndsTheExchangeAtOnce) {
  const std::string net = "127.43.13";
  PackFolder pack("TEST|||W|" + net + ".10||\n" + Registries(net));
  Port43Server registry(net + ".10", {{"a.test", "Domain: a.test\n"}});
  quovix::test::DribblePeer silent({.prefix = "HTTP/1.1 200 OK\r\n", .drip = "X-Slow: yes\r\n"});
  ASSERT_TRUE(silent.ok());
  WriteBootstrap("dns.json", R"([["test"], [")" + silent.Url("/") + R"("]])");
  f.chkWhoisNetwork.SetCheckedSilently(false);
  f.cmbWhoisHost.SetText("a.test");
  auto start = std::chrono::steady_clock::now();
  f.btnWhoisStart.Click();  // timeout 1000 ms
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000 + 1500));
  EXPECT_TRUE(HasLine(f.reWhois,
                      "RDAP: Keine Antwort von \"" + silent.Url("/domain/a.test") +
                          "\" innerhalb des Zeitlimits.",
                      clMaroon));
  EXPECT_TRUE(HasLine(f.reWhois, "Domain: a.test", clBlack));

  // The abort click ends the waiting request, not the time limit.
  f.cmbWhoisTimeout.SetText("15000");
  SetMessagePump([this] { f.Pump(); });
  SetAbortCheck([this] { return f.StopRequested(); });
  start = std::chrono::steady_clock::now();
  f.ProcessMessages = [&] {
    if (f.btnWhoisStart.RunState == 1 &&
        std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300))
      f.btnWhoisStart.Click();
  };
  f.btnWhoisStart.Click();
  const auto ms = std::chrono::steady_clock::now() - start;
  SetAbortCheck(nullptr);
  SetMessagePump(nullptr);
  EXPECT_LT(ms, std::chrono::milliseconds(300 + 250 + 1000));
  EXPECT_EQ(Texts(f.reWhois).back(), "Abbruch durch Benutzer.");
  EXPECT_EQ(registry.Queries().size(), 1u);  // only the first run's
}

TEST_F(WhoisRegistries, ReferralOnItsOwnPortAndNoRegistryForALocalAddress) {
  const std::string net = "127.43.20";
  PackFolder pack("TEST|Testland|Testland|W|" + net + ".10||\n" + Registries(net));
  TcpTestServer registrar(net + ".11", 0, Answer("Registrant: Example Org\n"));
  ASSERT_TRUE(registrar.ok());
  const std::string at = net + ".11:" + std::to_string(registrar.port());
  Port43Server registry(net + ".10", {{"example.test", "Domain: example.test\nWhois Server: " + at + "\n"}});
  Port43Server arin(net + ".2", {});
  names->Forward["example.test"] = "10.1.2.3";
  f.cmbWhoisHost.SetText("example.test");
  f.btnWhoisStart.Click();
  EXPECT_TRUE(HasLine(f.reWhois, "Umgeleitete Domainanfrage für \"example.test\" bei \"" + at + "\":",
                      clBlue));
  // The answer's lines name the server and the port they came from.
  const auto& lines = f.reWhois.Lines();
  auto answer = std::find_if(lines.begin(), lines.end(),
                             [](const TOutputLine& l) { return l.Text == "Registrant: Example Org"; });
  ASSERT_NE(answer, lines.end());
  EXPECT_EQ(FindField(answer->Fields, "server")->AsText(), net + ".11");
  EXPECT_EQ(FindField(answer->Fields, "port")->AsInteger(), registrar.port());
  // No registry hands out 10.0.0.0/8: one line says so, none is asked.
  EXPECT_TRUE(HasLine(f.reWhois,
                      "Keine Netzwerkanfrage: \"10.1.2.3\" gehört zum Bereich 10.0.0.0/8 (privat), "
                      "den keine Registry vergibt.",
                      clNavy));
  EXPECT_TRUE(arin.Queries().empty());
  for (const auto& l : lines) EXPECT_FALSE(l.Color == clRed && l.Text.empty());
  EXPECT_TRUE(f.ToolAnswered[pgWhois]);
}

TEST_F(WhoisRdap, RegistrarLinkOverPlainHttpIsNotFollowed) {
  const std::string net = "127.43.21";
  PackFolder pack("TEST|||W|" + net + ".10||\n" + Registries(net));
  const std::string plain = "http://127.0.0.1:" + std::to_string(httptest::FreePort()) +
                            "/registrar/domain/plain.test";
  peer.dir.Write("rdap/registry/domain/plain.test",
                 R"({"objectClassName": "domain", "ldhName": "PLAIN.TEST", "links": [{"rel": "related",
                     "type": "application/rdap+json", "href": ")" + plain + R"("}]})");
  WriteBootstrap("dns.json", R"([["test"], [")" + peer.Base("/registry/") + R"("]])");
  f.chkWhoisNetwork.SetCheckedSilently(false);
  f.cmbWhoisHost.SetText("plain.test");
  f.btnWhoisStart.Click();
  EXPECT_TRUE(HasLine(f.reWhois,
                      "RDAP: Dem Verweis von \"" + peer.Base("/registry/domain/plain.test") +
                          "\" auf das unverschlüsselte \"" + plain + "\" wird nicht gefolgt.",
                      clMaroon))
      << ::testing::PrintToString(Texts(f.reWhois));
  for (const auto& t : Texts(f.reWhois)) EXPECT_EQ(t.find("Umgeleitete RDAP-Anfrage"), std::string::npos);
  EXPECT_TRUE(HasLine(f.reWhois, "Anfragen beendet.", clBlue));
}

// The bootstrap file is fetched from its URL at most once a day and wins
// over an older one beside the program; when the refresh fails, a 404 from
// the old file's service does not count as "nothing registered".
TEST_F(WhoisRdap, BootstrapRefreshedOnceADayAndAnOldFilesNotFoundAsksPort43) {
  const std::string net = "127.43.22";
  PackFolder pack("TEST|||W|" + net + ".10||\n" + Registries(net));
  Port43Server registry(net + ".10", {{"example.test", "Domain: example.test\n"}});
  const auto cache = std::filesystem::temp_directory_path() / ("quovix-rdap-cache-" + std::to_string(getpid()));
  std::filesystem::remove_all(cache);
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  WriteBootstrap("dns.json", R"([["test"], [")" + peer.Base("/old/") + R"("]])");  // 2026-01-01
  peer.dir.Write("rdap/bootstrap/dns.json",
                 R"({"version": "1.0", "publication": "2026-06-01T00:00:00Z", "services": [[["test"], [")" +
                     peer.Base("/registry/") + R"("]]]})");
  RdapBootstrapUrl = peer.Base("/bootstrap");
  f.chkWhoisNetwork.SetCheckedSilently(false);
  f.chkWhoisRedirect.SetCheckedSilently(false);
  f.cmbWhoisHost.SetText("example.test");
  for (int run = 0; run < 2; ++run) {
    f.btnWhoisStart.Click();
    EXPECT_EQ(HasLine(f.reWhois,
                      "RDAP: Bootstrap-Datei \"" + peer.Base("/bootstrap/dns.json") +
                          "\" erneuert (Stand 2026-06-01T00:00:00Z).",
                      clNavy),
              run == 0);
    EXPECT_TRUE(HasLine(f.reWhois, "Name:             EXAMPLE.TEST", clBlack)) << run;
  }
  size_t fetches = 0;
  for (const auto& r : peer.Requests(3)) fetches += r.rfind("/bootstrap/dns.json", 0) == 0;
  EXPECT_EQ(fetches, 1u);
  EXPECT_TRUE(registry.Queries().empty());
  // The about dialog names the files in use by their publication.
  EXPECT_EQ(TfrmInfo(f).lblData.Caption(), "RDAP-Bootstrap-Dateien: DNS 2026-06-01, IPv4 -, IPv6 -, AS -");

  // The refresh fails: the old file serves, its service's 404 is no verdict.
  std::filesystem::remove_all(cache);
  RdapBootstrapUrl = "http://127.0.0.1:" + std::to_string(httptest::FreePort()) + "/";
  ResetRdapBootstrapCache();
  f.btnWhoisStart.Click();
  EXPECT_TRUE(HasLine(f.reWhois,
                      "RDAP: \"" + peer.Base("/old/domain/example.test") +
                          "\" kennt \"example.test\" nicht (HTTP 404); die Bootstrap-Datei ist nicht "
                          "aktuell, daher wird Port 43 gefragt.",
                      clMaroon))
      << ::testing::PrintToString(Texts(f.reWhois));
  EXPECT_TRUE(HasLine(f.reWhois, "Domain: example.test", clBlack));
  RdapBootstrapUrl.clear();
  setenv("XDG_CACHE_HOME", QUOVIX_TEST_CACHE_DIR, 1);
  std::filesystem::remove_all(cache);
}
