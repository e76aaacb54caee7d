#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/formMain.h"
#include "clients/WhoisClient.h"
#include "shell/gIni.h"
#include "support/TcpTestServer.h"

using namespace quovix;
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
