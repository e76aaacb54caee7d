#include <gtest/gtest.h>

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "app/formMain.h"
#include "clients/WhoisClient.h"
#include "common/fMain.h"
#include "platform/Resolver.h"
#include "shell/gIni.h"
#include "support/TableResolver.h"
#include "support/DribblePeer.h"
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

class WhoisRun : public ::testing::Test {
 protected:
  std::shared_ptr<TableResolver> names = std::make_shared<TableResolver>();
  platform::ScopedResolver resolver{names};
  void SetUp() override {
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
  EXPECT_EQ(f.btnWhoisStart.Caption(), "Start");
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
  int closedPort;
  {
    TcpTestServer gone("127.0.0.1", 0, [](int) {});
    closedPort = gone.port();
  }
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
  EXPECT_TRUE(HasLine(f.reWhois, "Domainanfrage nicht möglich.", clRed));
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
  EXPECT_TRUE(HasLine(f.reWhois, "Domainanfrage nicht möglich.", clRed));
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
      "  Land:        Testland (TL)",
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
