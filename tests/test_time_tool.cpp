#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>

#include "app/formMain.h"
#include "common/DateTime.h"
#include "common/Pump.h"
#include "platform/Desktop.h"
#include "shell/gIni.h"
#include "tests/NtpTestPeers.h"

using namespace quovix;
using namespace quovix::testing;
using Datagram = ScriptedNtpPeer::Datagram;

namespace {

constexpr double kSecond = 1.0 / kSecondsPerDay;
constexpr std::int64_t kNowUnix = 1709294400;  // 2024-03-01 12:00:00 UTC

struct RecordingDesktop : platform::IDesktop {
  std::vector<std::pair<std::string, std::string>> boxes;
  void MessageBox(const std::string& title, const std::string& text) override {
    boxes.emplace_back(title, text);
  }
  bool OpenUrl(const std::string&) override { return false; }
};

std::vector<Datagram> AnswerAt(const std::vector<std::uint8_t>& req, std::int64_t unix,
                               int delayMs = 0) {
  return {{ServerReply(req, NtpOfUnix(unix), NtpOfUnix(unix)), false, delayMs}};
}

struct TimeToolTest : ::testing::Test {
  FakeClock clock;
  RecordingDesktop desktop;
  platform::ScopedSeam<platform::IClock> clockSeam{&clock};
  platform::ScopedSeam<platform::IDesktop> desktopSeam{&desktop};
  TfrmMain f;
  int savedTimeout = NameResTimeout;

  void SetUp() override {
    clock.now = {kNowUnix, 0};
    clock.offsetSeconds = 3600;
    NameResTimeout = 1500;
    SetMessagePump([this] { f.Pump(); });
  }
  void TearDown() override {
    SetMessagePump({});
    NameResTimeout = savedTimeout;
  }
  void Query(const std::string& server) {
    f.cmbTimeServer.SetText(server);
    f.btnTimeQuery.Click();
  }
  static std::string At(const ScriptedNtpPeer& peer) {
    return "127.0.0.1:" + std::to_string(peer.Port());
  }
};

}  // namespace

TEST_F(TimeToolTest, EmptyServerAsksForOneAndTouchesNothing) {
  f.lblTimeNet.SetCaption("unchanged");
  Query("  \t ");
  ASSERT_EQ(desktop.boxes.size(), 1u);
  EXPECT_EQ(desktop.boxes[0].first, "NTP-Server fehlt");
  EXPECT_EQ(desktop.boxes[0].second, "Zur Abfrage der Zeit muss ein NTP-Server angegeben werden!");
  EXPECT_EQ(f.lblTimeNet.Caption(), "unchanged");
  EXPECT_EQ(f.lblTimeNetTime.Caption(), "00.00.0000 00:00:00");
  EXPECT_EQ(f.lblTimeLocTime.Caption(), "00.00.0000 00:00:00");
  EXPECT_EQ(f.cmbTimeServer.Count(), 0);
  EXPECT_TRUE(f.btnTimeQuery.Enabled());
}

TEST_F(TimeToolTest, QueryShowsTheServerClockRunningOneSecondPerTick) {
  ScriptedNtpPeer peer([](const auto& req) { return AnswerAt(req, kNowUnix + 42); });
  std::vector<std::string> statuses;
  f.sbMain.OnText = [&](const std::string& t) { statuses.push_back(t); };
  Query("  " + At(peer) + " ");

  const double expected = EncodeDateTime(2024, 3, 1, 13, 0, 42);
  EXPECT_NEAR(f.NtpTime, expected, 1e-3 * kSecond);
  EXPECT_EQ(f.lblTimeNet.Caption(), "Zeit von \"127.0.0.1\":");
  EXPECT_EQ(f.lblTimeNetTime.Caption(), FormatDateTimeUser(expected));
  EXPECT_EQ(f.lblTimeLocTime.Caption(), FormatDateTimeUser(EncodeDateTime(2024, 3, 1, 13, 0, 0)));
  EXPECT_TRUE(f.btnTimeUpdate.Enabled());
  EXPECT_TRUE(f.btnTimeQuery.Enabled());
  EXPECT_TRUE(f.cmbTimeServer.Enabled());
  EXPECT_TRUE(f.ToolIdle);
  ASSERT_GE(statuses.size(), 2u);
  EXPECT_EQ(statuses.front(), " Hole Zeit von NTP-Server \"" + At(peer) + "\"...");
  EXPECT_EQ(statuses.back(), " Bereit.");
  ASSERT_GE(f.cmbTimeServer.Count(), 1);
  EXPECT_EQ(f.cmbTimeServer.Items()[0], At(peer));

  for (int tick = 1; tick <= 3; ++tick) {
    f.tmrTime.OnTimer();
    EXPECT_EQ(f.lblTimeNetTime.Caption(), FormatDateTimeUser(expected + tick * kSecond));
  }
  EXPECT_NEAR(f.NtpTime, expected + 3 * kSecond, 1e-3 * kSecond);
}

TEST_F(TimeToolTest, WithoutTheClockPrivilegeTheUpdateButtonStaysDisabled) {
  clock.maySet = false;
  ScriptedNtpPeer peer([](const auto& req) { return AnswerAt(req, kNowUnix); });
  Query(At(peer));
  EXPECT_GT(f.NtpTime, 0.0);
  EXPECT_FALSE(f.btnTimeUpdate.Enabled());
}

TEST_F(TimeToolTest, AnswerBefore1980OrNoneLeavesNoNetworkTime) {
  // A first good answer, then a server that answers slowly with 1975: while
  // it waits the network clock shows "---", afterwards it stays so.
  ScriptedNtpPeer good([](const auto& req) { return AnswerAt(req, kNowUnix); });
  Query(At(good));
  ASSERT_TRUE(f.btnTimeUpdate.Enabled());

  std::vector<std::string> duringWait;
  f.ProcessMessages = [&] {
    f.tmrTime.OnTimer();
    duringWait.push_back(f.lblTimeNetTime.Caption());
  };
  ScriptedNtpPeer old([](const auto& req) { return AnswerAt(req, 157766400, 600); });  // 1975
  Query(At(old));
  ASSERT_FALSE(duringWait.empty());
  for (const auto& s : duringWait) EXPECT_EQ(s, "---");
  EXPECT_EQ(f.NtpTime, 0.0);
  EXPECT_EQ(f.lblTimeNetTime.Caption(), "---");
  EXPECT_EQ(f.lblTimeNet.Caption(), "Zeit vom NTP-Server:");
  EXPECT_FALSE(f.btnTimeUpdate.Enabled());

  // A server that does not answer.
  f.ProcessMessages = nullptr;
  NameResTimeout = 300;
  ScriptedNtpPeer silent([](const auto&) { return std::vector<Datagram>{}; });
  Query(At(silent));
  EXPECT_EQ(f.lblTimeNetTime.Caption(), "---");
  EXPECT_TRUE(desktop.boxes.empty());
  EXPECT_TRUE(f.btnTimeQuery.Enabled());
}

TEST_F(TimeToolTest, UpdateSetsTheClockToTheNetworkTimeInUtc) {
  ScriptedNtpPeer peer([](const auto& req) {
    auto reply = ServerReply(req, NtpOfUnix(kNowUnix + 90), NtpOfUnix(kNowUnix + 90, 0x80000000u));
    return std::vector<Datagram>{{reply}};
  });
  Query(At(peer));
  f.tmrTime.OnTimer();  // the network clock ran on by one second
  f.btnTimeUpdate.Click();
  ASSERT_EQ(clock.sets.size(), 1u);
  EXPECT_EQ(clock.sets[0].tv_sec, kNowUnix + 91);
  EXPECT_EQ(clock.sets[0].tv_nsec, 500000000);
  EXPECT_TRUE(desktop.boxes.empty());
  EXPECT_TRUE(f.btnTimeUpdate.Enabled());
  EXPECT_TRUE(f.btnTimeQuery.Enabled());
  EXPECT_EQ(f.Cursor, TCursor::Default);

  // The system refuses.
  clock.setResult = EPERM;
  f.btnTimeUpdate.Click();
  ASSERT_EQ(desktop.boxes.size(), 1u);
  EXPECT_EQ(desktop.boxes[0].first, "Systemzeit setzen");
  EXPECT_EQ(desktop.boxes[0].second, "Die Systemzeit konnte nicht gesetzt werden!");
}

TEST_F(TimeToolTest, UpdateWithoutValidNetworkTimeRefuses) {
  f.NtpTime = 0;
  f.btnTimeUpdateClick();
  f.NtpTime = 73051;
  f.btnTimeUpdateClick();
  EXPECT_TRUE(clock.sets.empty());
  ASSERT_EQ(desktop.boxes.size(), 2u);
  EXPECT_EQ(desktop.boxes[0].first, "Systemzeit ungültig");
  EXPECT_EQ(desktop.boxes[0].second, "Die Systemzeit kann nicht gesetzt werden!");
}

// ---- against a real NTP server ------------------------------------------------

namespace {

// Asks until chronyd answers (it needs a moment to open its port).
double QueryUntilAnswered(SntpClient& client, ChronyServer& chrony) {
  for (int attempt = 0; attempt < 40 && chrony.Running(); ++attempt) {
    const double t = client.DateTime();
    if (client.Status() == TSntpStatus::Ok) return t;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return 0;
}

}  // namespace

TEST(TimeWithChrony, ClientGetsThePlausibleTimeOfARealServer) {
  ChronyServer chrony;
  if (std::string why = chrony.Start(); !why.empty()) GTEST_SKIP() << why;
  SntpClient client;
  client.Host = "127.0.0.1";
  client.Port = chrony.Port();
  client.ReceiveTimeout = 300;
  const double t = QueryUntilAnswered(client, chrony);
  ASSERT_EQ(client.Status(), TSntpStatus::Ok) << chrony.Log();
  EXPECT_EQ(client.LastReply().Stratum, 8);
  EXPECT_EQ(client.LastReply().Mode, 4);
  // chronyd serves this machine's own clock: the answer lies within a second.
  EXPECT_LT(std::fabs(t - LocalNow()), kSecond);
  EXPECT_LT(std::fabs(client.ClockOffset()), kSecond);
  EXPECT_GT(client.RoundTripDelay(), -0.01 * kSecond);
  EXPECT_LT(client.RoundTripDelay(), kSecond);
}

TEST(TimeWithChrony, TimeTabShowsTheServersClock) {
  ChronyServer chrony;
  if (std::string why = chrony.Start(); !why.empty()) GTEST_SKIP() << why;
  {
    SntpClient probe;  // wait until it serves
    probe.Host = "127.0.0.1";
    probe.Port = chrony.Port();
    probe.ReceiveTimeout = 300;
    QueryUntilAnswered(probe, chrony);
    ASSERT_EQ(probe.Status(), TSntpStatus::Ok) << chrony.Log();
  }
  // The real clock is read, never set.
  ReadOnlyClock clock;
  clock.real = &platform::Clock();
  platform::ScopedSeam<platform::IClock> seam(&clock);

  TfrmMain f;
  f.cmbTimeServer.SetText("127.0.0.1:" + std::to_string(chrony.Port()));
  f.btnTimeQuery.Click();
  EXPECT_EQ(f.lblTimeNet.Caption(), "Zeit von \"127.0.0.1\":");
  EXPECT_NE(f.lblTimeNetTime.Caption(), "---");
  EXPECT_LT(std::fabs(f.NtpTime - LocalNow()), 2 * kSecond);
  EXPECT_EQ(f.lblTimeNetTime.Caption(), FormatDateTimeUser(f.NtpTime));
  EXPECT_TRUE(f.btnTimeUpdate.Enabled());
  EXPECT_TRUE(clock.sets.empty());
}

// The Time tab asks an NTP server over IPv6, its port given as "[::1]:port".
TEST(TimeWithChrony, TimeTabAsksOverIpv6) {
  ChronyServer chrony;
  if (std::string why = chrony.Start(true); !why.empty()) GTEST_SKIP() << why;
  {
    SntpClient probe;
    probe.Host = "::1";
    probe.Port = chrony.Port();
    probe.ReceiveTimeout = 300;
    QueryUntilAnswered(probe, chrony);
    ASSERT_EQ(probe.Status(), TSntpStatus::Ok) << chrony.Log();
    EXPECT_EQ(probe.LastReply().Stratum, 8);
  }
  ReadOnlyClock clock;
  clock.real = &platform::Clock();
  platform::ScopedSeam<platform::IClock> seam(&clock);
  TfrmMain f;
  f.cmbTimeServer.SetText("[::1]:" + std::to_string(chrony.Port()));
  f.btnTimeQuery.Click();
  EXPECT_EQ(f.lblTimeNet.Caption(), "Zeit von \"[::1]\":");
  EXPECT_LT(std::fabs(f.NtpTime - LocalNow()), 2 * kSecond);
  EXPECT_TRUE(clock.sets.empty());
}
