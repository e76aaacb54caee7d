#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <chrono>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "app/fCommandLine.h"
#include "app/fConsole.h"
#include "app/formMain.h"
#include "clients/NtsKe.h"
#include "common/DateTime.h"
#include "common/Pump.h"
#include "platform/Desktop.h"
#include "shell/gIni.h"
#include "support/LoopbackPort.h"
#include "support/TableResolver.h"
#include "support/TestCa.h"
#include "tests/HttpTestPeers.h"
#include "tests/NtpTestPeers.h"

using namespace quovix;
using namespace quovix::testing;
using Datagram = ScriptedNtpPeer::Datagram;

namespace {

constexpr double kSecond = 1.0 / kSecondsPerDay;
constexpr std::int64_t kNowUnix = 1709294400;  // 2024-03-01 12:00:00 UTC

struct RecordingDesktop : platform::IDesktop {
  std::vector<std::pair<std::string, std::string>> boxes;
  std::vector<std::string> questions;
  bool answer = false;
  void MessageBox(const std::string& title, const std::string& text) override {
    boxes.emplace_back(title, text);
  }
  bool OpenUrl(const std::string&) override { return false; }
  bool Confirm(const std::string&, const std::string& text) override {
    questions.push_back(text);
    return answer;
  }
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
  int savedSamples = TimeSamples;

  void SetUp() override {
    clock.now = {kNowUnix, 0};
    clock.offsetSeconds = 3600;
    NameResTimeout = 1500;
    // One exchange per query unless a test asks for more.
    TimeSamples = 1;
    f.IdSNTP.SampleSpacingMs = 20;
    SetMessagePump([this] { f.Pump(); });
  }
  void TearDown() override {
    SetMessagePump({});
    NameResTimeout = savedTimeout;
    TimeSamples = savedSamples;
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
    auto reply = ServerReply(req, NtpOfUnix(kNowUnix + 90, 0x80000000u),
                             NtpOfUnix(kNowUnix + 90, 0x80000000u));
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

// Every way a query can find no time names itself in a line of its colour,
// and the status bar says the same instead of "Bereit.".
TEST_F(TimeToolTest, AFailedQueryNamesWhyInItsLineAndTheStatusBar) {
  NameResTimeout = 400;
  ScriptedNtpPeer silent([](const auto&) { return std::vector<Datagram>{}; });
  ScriptedNtpPeer ahead([](const auto& req) {  // transmit 70 years after receive
    return std::vector<Datagram>{
        {ServerReply(req, NtpOfUnix(kNowUnix), NtpOfUnix(kNowUnix + 70LL * 365 * 86400))}};
  });
  ScriptedNtpPeer unsynchronised([](const auto& req) {
    auto reply = ServerReply(req, NtpOfUnix(kNowUnix), NtpOfUnix(kNowUnix));
    reply[0] |= 0xC0;
    return std::vector<Datagram>{{reply}};
  });
  auto names = std::make_shared<test::TableResolver>();
  platform::ScopedResolver resolver(names);
  const std::string closed = "127.0.0.1:" + std::to_string(test::FreeLoopbackPort(SOCK_DGRAM));
  struct Case {
    std::string server, line;
    TColor color;
    const char* reason;
  } cases[] = {
      {"nosuch.test", "Der NTP-Server \"nosuch.test\" wurde nicht gefunden.", clRed, "not_found"},
      {At(silent),
       "Keine Antwort von \"127.0.0.1\" innerhalb von 400 ms (Zeitüberschreitung).", clMaroon,
       "timeout"},
      {closed, "Der NTP-Server \"127.0.0.1\" ist nicht erreichbar (Port " +
                   closed.substr(10) + " abgewiesen).", clRed, "unreachable"},
      {At(ahead), "Die Antwort von \"127.0.0.1\" wurde verworfen: ihre Umlaufzeit ist negativ.",
       clRed, "negative_delay"},
      {At(unsynchronised),
       "Die Antwort von \"127.0.0.1\" wurde verworfen: der Server ist nicht synchronisiert "
       "(Leap Indicator 3).", clRed, "unsynchronised"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.server);
    std::string status;
    f.sbMain.OnText = [&](const std::string& t) { status = t; };
    Query(c.server);
    ASSERT_EQ(f.reTime.Lines().size(), 1u);
    EXPECT_EQ(f.reTime.Lines()[0].Text, c.line);
    EXPECT_EQ(f.reTime.Lines()[0].Color, c.color);
    EXPECT_EQ(status, " " + c.line);
    EXPECT_EQ(f.lblTimeNetTime.Caption(), "---");
    EXPECT_EQ(f.lblTimeDiffValue.Caption(), "---");
    EXPECT_FALSE(f.btnTimeUpdate.Enabled());
    const TLineFields& result = f.ToolResults[pgTime];
    ASSERT_NE(FindField(result, "reason"), nullptr);
    EXPECT_EQ(FindField(result, "reason")->AsText(), c.reason);
    EXPECT_EQ(FindField(result, "error")->AsText(), "no_answer");
  }
  EXPECT_TRUE(desktop.boxes.empty());
}

// A name in Unicode is asked under its IDN form, as in every other tool.
TEST_F(TimeToolTest, ServerNamesAreIdnEncoded) {
  ScriptedNtpPeer peer([](const auto& req) { return AnswerAt(req, kNowUnix + 10); });
  auto names = std::make_shared<test::TableResolver>();
  names->All["xn--bcher-kva.test"] = {"127.0.0.1"};
  platform::ScopedResolver resolver(names);
  Query("bücher.test:" + std::to_string(peer.Port()));
  ASSERT_FALSE(f.reTime.Lines().empty());
  EXPECT_EQ(f.reTime.Lines()[0].Text, "  IDN-kodiert: xn--bcher-kva.test");
  EXPECT_EQ(f.lblTimeNet.Caption(), "Zeit von \"xn--bcher-kva.test\":");
  EXPECT_EQ(peer.Requests().size(), 1u);
}

// The clock's difference to the server, in seconds with decimals, and the
// limit on how far the clock is stepped without the user's word.
TEST_F(TimeToolTest, ALargeStepNeedsConfirmationOrTheForceFlag) {
  // 70 years ahead, consistently: a believable exchange, an absurd time.
  const std::int64_t far = kNowUnix + 70LL * 365 * 86400 + 17;
  ScriptedNtpPeer farPeer([far](const auto& req) { return AnswerAt(req, far); });
  ScriptedNtpPeer nearPeer([](const auto& req) {
    return std::vector<Datagram>{{ServerReply(req, NtpOfUnix(kNowUnix + 10, 0x40000000u),
                                              NtpOfUnix(kNowUnix + 10, 0x40000000u))}};
  });
  Query(At(nearPeer));
  EXPECT_EQ(f.lblTimeDiffValue.Caption(), "+10,250000 s");
  f.btnTimeUpdate.Click();  // within the limit: no question
  EXPECT_TRUE(desktop.questions.empty());
  EXPECT_EQ(clock.sets.size(), 1u);

  Query(At(farPeer));
  ASSERT_TRUE(f.btnTimeUpdate.Enabled());
  struct Case {
    bool answer, forced;
    size_t questions, sets;
  } cases[] = {{false, false, 1, 0}, {true, false, 1, 1}, {false, true, 0, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.answer << c.forced);
    desktop.questions.clear();
    clock.sets.clear();
    f.reTime.Clear();
    desktop.answer = c.answer;
    f.TimeSetForced = c.forced;
    f.btnTimeUpdate.Click();
    EXPECT_EQ(desktop.questions.size(), c.questions);
    EXPECT_EQ(clock.sets.size(), c.sets);
    // Refused: a red line says so, and names the step and the limit.
    EXPECT_EQ(f.reTime.Lines().size(), 1 - c.sets);
    if (c.sets == 0) {
      EXPECT_EQ(f.reTime.Lines()[0].Color, clRed);
      EXPECT_NE(f.reTime.Lines()[0].Text.find("+2207520017,000 s"), std::string::npos);
      EXPECT_NE(f.reTime.Lines()[0].Text.find("1000 s"), std::string::npos);
    }
  }
}

// The console never asks: a step over the limit is refused (exit 1) unless
// /TimeForce:1 says otherwise.
TEST_F(TimeToolTest, ConsoleSetsAFarTimeOnlyWhenForced) {
  const std::int64_t far = kNowUnix + 70LL * 365 * 86400;
  ScriptedNtpPeer peer([far](const auto& req) { return AnswerAt(req, far); });
  const std::string savedFolder = ProgramFolder, savedIni = IniFilePath;
  ProgramFolder = "/nonexistent/quovix-test/";
  IniFilePath = ProgramFolder + "Quovix.ini";
  for (const bool force : {false, true}) {
    clock.sets.clear();
    std::vector<std::string> argv = {"quovix-cli", "/Time:" + At(peer), "/TimeN:1"};
    if (force) argv.push_back("/TimeForce:1");
    argv.push_back("/TimeSet");
    std::ostringstream out, err;
    const int status = RunConsole(argv, out, err, {});
    EXPECT_EQ(status, force ? kExitOk : kExitFailed) << out.str() << err.str();
    EXPECT_EQ(clock.sets.size(), force ? 1u : 0u);
    EXPECT_EQ(out.str().find("Die Systemzeit wurde nicht gesetzt") != std::string::npos, !force);
  }
  ProgramFolder = savedFolder;
  IniFilePath = savedIni;
  ParseCommandLine({});
}

// Several exchanges: each sample a line, the chosen one with the jitter,
// then the server's own fields, all of them in the result as well.
TEST_F(TimeToolTest, MeasuredAnswerShowsSamplesTheChoiceAndTheServersFields) {
  TimeSamples = 3;
  const std::uint32_t fractions[] = {0x40000000u, 0x80000000u, 0};  // +10.25, +10.5, +10 s
  auto asked = std::make_shared<int>(0);
  ScriptedNtpPeer peer([asked, fractions](const auto& req) {
    const NtpTimestamp t = NtpOfUnix(kNowUnix + 10, fractions[(*asked)++ % 3]);
    auto reply = ServerReply(req, t, t);
    SntpPacket p;
    DecodeSntpPacket(reply.data(), reply.size(), p);
    p.LeapIndicator = 1;
    p.ReferenceId = 0xC0000201u;
    p.Precision = -20;
    p.RootDelay = 0x00000800u;       // 31.25 ms
    p.RootDispersion = 0x00001000u;  // 62.5 ms
    p.Reference = NtpOfUnix(kNowUnix - 50);
    const auto bytes = EncodeSntpPacket(p);
    return std::vector<Datagram>{{{bytes.begin(), bytes.end()}}};
  });
  Query(At(peer));
  const std::vector<std::string> expected = {
      "Probe 1: Abweichung +10250,000 ms, Umlaufzeit 0,000 ms",
      "Probe 2: Abweichung +10500,000 ms, Umlaufzeit 0,000 ms",
      "Probe 3: Abweichung +10000,000 ms, Umlaufzeit 0,000 ms",
      "Gewählt: Probe 1 von 3 (kleinste Umlaufzeit), Abweichung +10250,000 ms, Umlaufzeit "
      "0,000 ms, Jitter 250,000 ms",
      "Stratum: 2",
      "Referenz-ID: 192.0.2.1",
      "Leap Indicator: 1 (Schaltsekunde angekündigt: die letzte Minute des Tages hat 61 Sekunden)",
      "Genauigkeit: 2^-20 s (0,954 µs)",
      "Root Delay: 31,250 ms, Root Dispersion: 62,500 ms",
      "Referenzzeit: 01.03.2024 12:59:10 (60,250 s vor der Antwort)",
  };
  std::vector<std::string> lines;
  for (const auto& l : f.reTime.Lines()) lines.push_back(l.Text);
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(peer.Requests().size(), 3u);
  EXPECT_EQ(f.lblTimeDiffValue.Caption(), "+10,250000 s");
  EXPECT_NEAR(f.NtpTime, EncodeDateTime(2024, 3, 1, 13, 0, 10, 250), 1e-3 * kSecond);

  const TLineFields& result = f.ToolResults[pgTime];
  struct Field {
    const char* name;
    double value;
  } numbers[] = {{"offset_ms", 10250}, {"delay_ms", 0},       {"jitter_ms", 250},
                 {"samples", 3},       {"stratum", 2},        {"leap", 1},
                 {"precision", -20},   {"root_delay_ms", 31.25}, {"root_dispersion_ms", 62.5}};
  for (const Field& n : numbers) {
    SCOPED_TRACE(n.name);
    const TLineValue* v = FindField(result, n.name);
    ASSERT_NE(v, nullptr);
    const double got = v->Kind() == TLineValue::TKind::Real ? v->AsReal()
                                                            : static_cast<double>(v->AsInteger());
    EXPECT_NEAR(got, n.value, 1e-6);
  }
  EXPECT_EQ(FindField(result, "refid")->AsText(), "192.0.2.1");
  EXPECT_FALSE(FindField(result, "nts")->AsBool());
  EXPECT_EQ(FindField(result, "reference_time")->AsText(), "2024-03-01T11:59:10.000Z");
}

// What the server says of its own state: a kiss-o'-death, an unsynchronised
// stratum, a reference far in the past, a forged reply passed over.
TEST_F(TimeToolTest, TheServersStateIsJudged) {
  auto with = [](auto change) {
    return [change](const std::vector<std::uint8_t>& req) {
      auto reply = ServerReply(req, NtpOfUnix(kNowUnix + 1), NtpOfUnix(kNowUnix + 1));
      change(reply);
      return std::vector<Datagram>{{reply}};
    };
  };
  ScriptedNtpPeer deny(with([](auto& b) {
    b[1] = 0;
    std::copy_n("DENY", 4, b.begin() + 12);
  }));
  ScriptedNtpPeer stratum16(with([](auto& b) { b[1] = 16; }));
  ScriptedNtpPeer stale(with([](auto& b) { b[16] -= 0x04; }));  // 2^26 s: some two years back
  ScriptedNtpPeer forger([](const auto& req) {
    auto forged = ServerReply(req, NtpOfUnix(kNowUnix + 9), NtpOfUnix(kNowUnix + 9));
    forged[31] ^= 0x01;
    return std::vector<Datagram>{{forged},
                                 {ServerReply(req, NtpOfUnix(kNowUnix), NtpOfUnix(kNowUnix)), false, 50}};
  });
  const std::string kissLine =
      "Der NTP-Server \"127.0.0.1\" sendet Kiss-o'-Death DENY (Zugang verweigert). Er wird nicht "
      "mehr gefragt.";
  struct Case {
    const ScriptedNtpPeer& peer;
    std::string line;
    TColor color;
    bool timeTaken;
    const char* reason;
  } cases[] = {
      {deny, kissLine, clRed, false, "kiss_of_death"},
      {deny,
       "Der NTP-Server \"127.0.0.1\" wird nicht mehr gefragt: er hat zuvor den Zugang verweigert "
       "(Kiss-o'-Death DENY).",
       clRed, false, "kiss_of_death"},
      {stratum16,
       "Die Antwort von \"127.0.0.1\" wurde verworfen: der Server ist nicht synchronisiert "
       "(Stratum 16).",
       clRed, false, "unsynchronised"},
      {stale,
       "Die Referenzzeit des Servers liegt 18641,4 Stunden zurück: seine Uhr wird vermutlich nicht "
       "mehr nachgeführt.",
       clMaroon, true, "stale_reference"},
      {forger,
       "1 Antwort(en) übergangen: sie nannten als Ursprungszeit nicht die unserer Anfrage "
       "(veraltet oder gefälscht).",
       clNavy, true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    f.ToolAnswered.at(pgTime) = false;
    Query(At(c.peer));
    const auto& lines = f.reTime.Lines();
    const auto hit = std::find_if(lines.begin(), lines.end(),
                                  [&](const TOutputLine& l) { return l.Text == c.line; });
    ASSERT_NE(hit, lines.end());
    EXPECT_EQ(hit->Color, c.color);
    const TLineValue* reason = FindField(hit->Fields, "reason");
    EXPECT_EQ(reason ? reason->AsText() : std::string(), c.reason ? c.reason : "");
    EXPECT_EQ(f.NtpTime > 0, c.timeTaken);
    EXPECT_EQ(f.ToolAnswered.at(pgTime), c.timeTaken);
  }
  EXPECT_EQ(deny.Requests().size(), 1u);
}

// A list of servers is asked side by side; the one 10 s off the others is
// the falseticker, and the clock is set from none of them.
TEST_F(TimeToolTest, ThreeServersOneOffByTenSecondsIsTheFalseticker) {
  TimeSamples = 2;
  auto at = [](std::int64_t unix, std::uint32_t fraction) {
    return [unix, fraction](const auto& req) {
      return std::vector<Datagram>{
          {ServerReply(req, NtpOfUnix(unix, fraction), NtpOfUnix(unix, fraction))}};
    };
  };
  ScriptedNtpPeer a(at(kNowUnix, 0)), b(at(kNowUnix, 0x00100000u)), off(at(kNowUnix + 10, 0));
  const auto started = std::chrono::steady_clock::now();
  Query(At(a) + ", " + At(off) + " ,," + At(b));
  // Side by side: the three together take about as long as one.
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1400));
  struct Row {
    ScriptedNtpPeer& peer;
    bool falseticker;
  } rows[] = {{a, false}, {off, true}, {b, false}};
  const auto& lines = f.reTime.Lines();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0].Text, "3 Server, gleichzeitig gefragt:");
  for (std::size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    const TOutputLine& l = lines[i + 1];
    EXPECT_EQ(l.Text.rfind(At(rows[i].peer) + ": Abweichung ", 0), 0u) << l.Text;
    EXPECT_EQ(l.Text.find("Falseticker") != std::string::npos, rows[i].falseticker);
    EXPECT_EQ(l.Color, rows[i].falseticker ? clMaroon : clBlack);
    EXPECT_EQ(FindField(l.Fields, "falseticker")->AsBool(), rows[i].falseticker);
    EXPECT_EQ(rows[i].peer.Requests().size(), 2u);
  }
  EXPECT_EQ(FindField(f.ToolResults[pgTime], "falsetickers")->AsInteger(), 1);
  EXPECT_EQ(f.NtpTime, 0.0);
  EXPECT_FALSE(f.btnTimeUpdate.Enabled());
  EXPECT_TRUE(f.ToolAnswered.at(pgTime));
}

// A name with several addresses (a pool) is asked at each of them; its first
// answering address that agrees gives the time the clock may be set from.
TEST_F(TimeToolTest, APoolNameIsAskedAtEveryAddressAndItsFirstGivesTheTime) {
  ScriptedNtpPeer four([](const auto& req) { return AnswerAt(req, kNowUnix + 30); });
  ScriptedNtpPeer six([](const auto& req) { return AnswerAt(req, kNowUnix + 30); }, true,
                      four.Port());
  auto names = std::make_shared<test::TableResolver>();
  names->All["pool.test"] = {"127.0.0.1", "::1"};
  platform::ScopedResolver resolver(names);
  Query("pool.test:" + std::to_string(four.Port()));
  const auto& lines = f.reTime.Lines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0].Text, "2 Server, gleichzeitig gefragt:");
  EXPECT_EQ(lines[1].Text.rfind("127.0.0.1:" + std::to_string(four.Port()) + ": Abweichung +30000,000 ms", 0), 0u)
      << lines[1].Text;
  EXPECT_EQ(lines[2].Text.rfind("[::1]:" + std::to_string(four.Port()) + ": Abweichung +30000,000 ms", 0), 0u)
      << lines[2].Text;
  EXPECT_EQ(four.Requests().size(), 1u);
  EXPECT_EQ(six.Requests().size(), 1u);
  EXPECT_EQ(f.lblTimeNet.Caption(), "Zeit von \"127.0.0.1\":");
  EXPECT_NEAR(f.NtpTime, EncodeDateTime(2024, 3, 1, 13, 0, 30), 1e-3 * kSecond);
  EXPECT_TRUE(f.btnTimeUpdate.Enabled());
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

// Waits until chronyd answers at host.
bool Serving(ChronyServer& chrony, const char* host) {
  SntpClient probe;
  probe.Host = host;
  probe.Port = chrony.Port();
  probe.ReceiveTimeout = 300;
  QueryUntilAnswered(probe, chrony);
  return probe.Status() == TSntpStatus::Ok;
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
  ASSERT_TRUE(Serving(chrony, "127.0.0.1")) << chrony.Log();
  // The real clock is read, never set.
  ReadOnlyClock clock;
  clock.real = &platform::Clock();
  platform::ScopedSeam<platform::IClock> seam(&clock);

  TfrmMain f;
  f.IdSNTP.SampleSpacingMs = 100;
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
  f.IdSNTP.SampleSpacingMs = 100;
  f.cmbTimeServer.SetText("[::1]:" + std::to_string(chrony.Port()));
  f.btnTimeQuery.Click();
  EXPECT_EQ(f.lblTimeNet.Caption(), "Zeit von \"[::1]\":");
  EXPECT_LT(std::fabs(f.NtpTime - LocalNow()), 2 * kSecond);
  EXPECT_TRUE(clock.sets.empty());
}

// The console's JSON against chronyd: offset and delay in milliseconds with
// their fractions, the stratum and the reference ID of the real server.
TEST(TimeWithChrony, JsonGivesOffsetDelayStratumAndReference) {
  ChronyServer chrony;
  if (std::string why = chrony.Start(); !why.empty()) GTEST_SKIP() << why;
  ASSERT_TRUE(Serving(chrony, "127.0.0.1")) << chrony.Log();
  ReadOnlyClock clock;
  clock.real = &platform::Clock();
  platform::ScopedSeam<platform::IClock> seam(&clock);
  const std::string savedFolder = ProgramFolder, savedIni = IniFilePath;
  ProgramFolder = "/nonexistent/quovix-test/";
  IniFilePath = ProgramFolder + "Quovix.ini";
  ConsoleOptions options;
  options.Prepare = [](TfrmMain& f) { f.IdSNTP.SampleSpacingMs = 50; };
  std::ostringstream out, err;
  const int status = RunConsole({"quovix-cli", "--json", "/Time:127.0.0.1:" +
                                 std::to_string(chrony.Port()), "/TimeN:3"},
                                out, err, options);
  ProgramFolder = savedFolder;
  IniFilePath = savedIni;
  ParseCommandLine({});
  ASSERT_EQ(status, kExitOk) << out.str() << err.str();

  std::istringstream lines(out.str());
  nlohmann::json result;
  int samples = 0;
  for (std::string l; std::getline(lines, l);) {
    const nlohmann::json o = nlohmann::json::parse(l);
    if (o.contains("sample") && !o.contains("jitter_ms")) ++samples;
    if (o["kind"] == "result") result = o;
  }
  EXPECT_EQ(samples, 3);
  ASSERT_TRUE(result.is_object()) << out.str();
  for (const char* name : {"offset_ms", "delay_ms", "jitter_ms", "root_delay_ms",
                           "root_dispersion_ms"})
    EXPECT_TRUE(result[name].is_number_float()) << name;
  EXPECT_LT(std::fabs(result["offset_ms"].get<double>()), 1000.0);
  EXPECT_GT(result["delay_ms"].get<double>(), 0.0);
  EXPECT_EQ(result["stratum"], 8);
  // chronyd's own clock as its reference: the local reference's address.
  EXPECT_EQ(result["refid"], "127.127.1.1");
  EXPECT_EQ(result["samples"], 3);
  EXPECT_TRUE(clock.sets.empty());
}

// The box "NTS verwenden" against chronyd's NTS server, through the console
// as scripts see it: key establishment, the NTP server it names, and every
// sample authenticated; with a certificate nobody trusts the TLS step is
// named and no NTP request goes out.
TEST(TimeWithChrony, NtsAuthenticatesTheAnswersOrNamesTheTlsStep) {
  httptest::TempDir dir;
  test::TestCa ca(dir.Path());
  const test::TestCa::Cert cert = ca.Issue("nts", "/CN=127.0.0.1", "IP:127.0.0.1");
  const test::TestCa::Cert self = ca.SelfSigned("self", "/CN=127.0.0.1", "IP:127.0.0.1");
  ASSERT_TRUE(ca.Ok() && cert.ok && self.ok);
  ReadOnlyClock clock;
  clock.real = &platform::Clock();
  platform::ScopedSeam<platform::IClock> seam(&clock);
  struct Case {
    const test::TestCa::Cert& cert;
    bool trusted;
  } cases[] = {{cert, true}, {self, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.trusted);
    ChronyServer chrony;
    const int kePort = test::FreeLoopbackPort(SOCK_STREAM);
    chrony.ExtraConfig = "ntsservercert " + c.cert.cert + "\nntsserverkey " + c.cert.key +
                         "\nntsport " + std::to_string(kePort) + "\n";
    if (std::string why = chrony.Start(); !why.empty()) GTEST_SKIP() << why;
    ASSERT_TRUE(Serving(chrony, "127.0.0.1")) << chrony.Log();
    for (int i = 0; i < 40 && NtsKeyExchange("127.0.0.1", static_cast<std::uint16_t>(kePort), 500)
                                      .Status == NtsKeStatus::Unreachable;
         ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string savedFolder = ProgramFolder, savedIni = IniFilePath;
    ProgramFolder = "/nonexistent/quovix-test/";
    IniFilePath = ProgramFolder + "Quovix.ini";
    ConsoleOptions options;
    options.Prepare = [&](TfrmMain& f) {
      f.IdSNTP.SampleSpacingMs = 50;
      f.TimeNtsCaFile = ca.Ca();
    };
    std::ostringstream out, err;
    const int status = RunConsole({"quovix-cli", "--json",
                                   "/Time:127.0.0.1:" + std::to_string(kePort), "/TimeNts:1",
                                   "/TimeN:2"},
                                  out, err, options);
    ProgramFolder = savedFolder;
    IniFilePath = savedIni;
    ParseCommandLine({});

    std::istringstream lines(out.str());
    nlohmann::json result, ke, failed;
    int authenticated = 0;
    for (std::string l; std::getline(lines, l);) {
      const nlohmann::json o = nlohmann::json::parse(l);
      if (o.contains("nts_ke_server")) ke = o;
      if (o.contains("sample") && o.value("nts", false) &&
          o["text"].get<std::string>().ends_with(", authentifiziert"))
        ++authenticated;
      if (o["kind"] == "error" && o.contains("reason")) failed = o;
      if (o["kind"] == "result") result = o;
    }
    ASSERT_TRUE(result.is_object()) << out.str();
    if (!c.trusted) {
      EXPECT_NE(status, kExitOk);
      EXPECT_EQ(result["reason"], "nts_tls_untrusted") << out.str();
      EXPECT_EQ(failed["text"],
                "NTS-Schlüsselaustausch mit \"127.0.0.1\" gescheitert: TLS: das Zertifikat des "
                "Servers ist nicht vertrauenswürdig.");
      continue;
    }
    ASSERT_EQ(status, kExitOk) << out.str() << err.str() << chrony.Log();
    EXPECT_EQ(ke["aead"], "AEAD_AES_SIV_CMAC_256");
    EXPECT_EQ(ke["cookies"], 8);
    EXPECT_EQ(authenticated, 2) << out.str();
    EXPECT_EQ(result["port"], chrony.Port());
    EXPECT_EQ(result["nts"], true);
    EXPECT_EQ(result["stratum"], 8);
  }
  EXPECT_TRUE(clock.sets.empty());
}
