#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <regex>

#include "app/formMain.h"
#include "icmp_test_util.h"
#include "platform/Icmp.h"
#include "shell/gIni.h"
#include "support/TableResolver.h"

using namespace quovix;
using namespace quovix::icmptest;

namespace {

struct PingForm : ::testing::Test {
  TfrmMain f;
  FakeIcmp icmp;
  platform::ScopedSeam<platform::IIcmp> seam{&icmp};

  void SetUp() override {
    f.cmbPingCount.AddItem("...");
    f.chkPingResolve.SetCheckedSilently(false);
    f.cmbPingPause.SetText("0");
  }
};

const std::string k32(32, 'A');

}  // namespace

TEST_F(PingForm, NormalRunWritesHeadingEchoLinesAndTally) {
  f.cmbPingHost.SetText("  127.0.0.1 ");
  icmp.Script = {EchoReply("127.0.0.1", k32, 0), EchoReply("127.0.0.1", k32, 7),
                 EchoReply("127.0.0.1", k32, 1234)};
  f.btnPingStartClick();

  EXPECT_EQ(LinesOf(f.rePing),
            (Lines{{"Sende 3 Ping(s) mit 32 Byte an \"127.0.0.1\", Timeout sind 2000 ms:", clBlue},
                   {"", clBlue},
                   {"  1. Antwort von 127.0.0.1: 0 ms, Daten korrekt.", clGreen},
                   {"  2. Antwort von 127.0.0.1: 7 ms, Daten korrekt.", clGreen},
                   {"  3. Antwort von 127.0.0.1: 1234 ms, Daten korrekt.", clGreen},
                   {"", clBlue},
                   {"3 Ping(s) gesendet (3 korrekt, 0 fehlerhaft, 0 ohne Antwort).", clBlue},
                   {"Verlust: 0.0 %, Antwortzeit min/avg/max: 0/413.7/1234 ms", clBlue},
                   {"Antwortzeit min/avg/max/Standardabweichung: 0.0/413.7/1234.0/580.1 ms, Verlust: 0.0 %", clBlue}}));
  ASSERT_EQ(icmp.Calls.size(), 3u);
  for (const auto& c : icmp.Calls) {
    EXPECT_EQ(c.Address, Addr("127.0.0.1"));
    EXPECT_EQ(c.Data, k32);
    EXPECT_EQ(c.TimeoutMs, 2000);
    EXPECT_EQ(c.Ttl, 128);
  }
  // Ready state restored, the host entered its history as typed (trimmed).
  EXPECT_EQ(f.btnPingStart.Caption(), "&Start");
  EXPECT_EQ(f.btnPingStart.RunState, 0);
  EXPECT_TRUE(f.cmbPingHost.Enabled());
  EXPECT_TRUE(f.ToolIdle);
  EXPECT_EQ(f.sbMain.SimpleText(), " Bereit.");
  EXPECT_EQ(f.cmbPingHost.Items().at(0), "127.0.0.1");
}

TEST_F(PingForm, RoundTripsKeepTheirMicrosecondsInFieldsSummaryAndResult) {
  f.cmbPingHost.SetText("127.0.0.1");
  auto reply = [](std::uint32_t us) {
    platform::IcmpReply r = EchoReply("127.0.0.1", k32, us / 1000);
    r.RoundTripUs = us;
    return r;
  };
  icmp.Script = {reply(1500), StatusReply(kIcmpTimedOut), reply(2300)};
  f.btnPingStartClick();

  const auto& lines = f.rePing.Lines();
  ASSERT_EQ(lines.size(), 9u);
  // The echo lines keep whole milliseconds, their fields the fraction.
  EXPECT_EQ(lines[2].Text, "  1. Antwort von 127.0.0.1: 1 ms, Daten korrekt.");
  EXPECT_DOUBLE_EQ(FindField(lines[2].Fields, "rtt_ms")->AsReal(), 1.5);
  EXPECT_DOUBLE_EQ(FindField(lines[4].Fields, "rtt_ms")->AsReal(), 2.3);
  // Each echo says when it went out, in order.
  long long last = -1;
  for (int i = 2; i <= 4; ++i) {
    const TLineValue* at = FindField(lines[i].Fields, "elapsed_ms");
    ASSERT_NE(at, nullptr) << i;
    EXPECT_GE(at->AsInteger(), last);
    last = at->AsInteger();
  }
  EXPECT_EQ(lines[7].Text, "Verlust: 33.3 %, Antwortzeit min/avg/max: 1/1.5/2 ms");
  EXPECT_EQ(lines[8].Text,
            "Antwortzeit min/avg/max/Standardabweichung: 1.5/1.9/2.3/0.4 ms, Verlust: 33.3 %");
  const TLineFields& result = f.ToolResults.at(pgPing);
  EXPECT_DOUBLE_EQ(FindField(result, "rtt_min_ms")->AsReal(), 1.5);
  EXPECT_NEAR(FindField(result, "rtt_avg_ms")->AsReal(), 1.9, 1e-9);
  EXPECT_DOUBLE_EQ(FindField(result, "rtt_max_ms")->AsReal(), 2.3);
  EXPECT_NEAR(FindField(result, "rtt_stdev_ms")->AsReal(), 0.4, 1e-9);
}

TEST_F(PingForm, FaultyAndMissingAnswersAreToldApartAndTallied) {
  f.cmbPingHost.SetText("127.0.0.9");
  f.cmbPingCount.SetText("6");
  f.cmbPingByte.SetText("8");
  f.cmbPingTimeout.SetText("500");
  icmp.Script = {StatusReply(kIcmpTimedOut),
                 EchoReply("127.0.0.9", "AAAA", 3),                 // shorter
                 EchoReply("127.0.0.9", std::string(9, 'A'), 3),    // longer
                 EchoReply("127.0.0.9", "AAAAAAAB", 4),             // same size, changed
                 StatusReply(kIcmpDestHostUnreachable, "127.0.0.1", 1),
                 EchoReply("127.0.0.9", "AAAAAAAA", 2)};
  f.btnPingStartClick();

  EXPECT_EQ(LinesOf(f.rePing),
            (Lines{{"Sende 6 Ping(s) mit 8 Byte an \"127.0.0.9\", Timeout sind 500 ms:", clBlue},
                   {"", clBlue},
                   // No answer came: the line does not say one did.
                   {"  1. Keine Antwort von 127.0.0.9: Zeitüberschreitung.", clMaroon},
                   {"  2. Antwort von 127.0.0.9: 3 ms, Daten unterschiedlich groß!", clRed},
                   {"  3. Antwort von 127.0.0.9: 3 ms, Daten unterschiedlich groß!", clRed},
                   {"  4. Antwort von 127.0.0.9: 4 ms, Daten sind verändert!", clRed},
                   // A router's "unreachable" is no timeout; the line names the router.
                   {"  5. Antwort von 127.0.0.1: Ziel nicht erreichbar (Host).", clMaroon},
                   {"  6. Antwort von 127.0.0.9: 2 ms, Daten korrekt.", clGreen},
                   {"", clBlue},
                   {"6 Ping(s) gesendet (1 korrekt, 3 fehlerhaft, 2 ohne Antwort).", clBlue},
                   // Faulty answers came back: their times count, the missing ones are the loss.
                   {"Verlust: 33.3 %, Antwortzeit min/avg/max: 2/3.0/4 ms", clBlue},
                   {"Antwortzeit min/avg/max/Standardabweichung: 2.0/3.0/4.0/0.7 ms, Verlust: 33.3 %", clBlue}}));
  EXPECT_EQ(icmp.Calls.at(0).TimeoutMs, 500);
  EXPECT_EQ(icmp.Calls.at(0).Data, "AAAAAAAA");
}

TEST_F(PingForm, ContinuousRunStopsAtAbortAfterThirdEchoWithItsTally) {
  f.cmbPingHost.SetText("127.0.0.1");
  f.cmbPingCount.SetItemIndex(12);
  icmp.Script = {EchoReply("127.0.0.1", k32, 1), StatusReply(kIcmpTimedOut),
                 EchoReply("127.0.0.1", k32, 4)};
  bool sawBusy = false;
  f.ProcessMessages = [&] {
    if (icmp.Calls.size() == 3 && f.btnPingStart.RunState == 1) {
      sawBusy = f.btnPingStart.Caption() == "Abbrechen" && !f.cmbPingHost.Enabled() &&
                !f.chkPingResolve.Enabled() && !f.ToolIdle &&
                f.sbMain.SimpleText() == " Sende Ping(s) an \"127.0.0.1\"...";
      f.btnPingStart.Click();  // the user's second click
    }
  };
  f.btnPingStartClick();

  EXPECT_TRUE(sawBusy);
  EXPECT_EQ(icmp.Calls.size(), 3u);
  EXPECT_EQ(LinesOf(f.rePing),
            (Lines{{"Sende ... Ping(s) mit 32 Byte an \"127.0.0.1\", Timeout sind 2000 ms:", clBlue},
                   {"", clBlue},
                   {"  1. Antwort von 127.0.0.1: 1 ms, Daten korrekt.", clGreen},
                   {"  2. Keine Antwort von 127.0.0.1: Zeitüberschreitung.", clMaroon},
                   {"  3. Antwort von 127.0.0.1: 4 ms, Daten korrekt.", clGreen},
                   {"", clRed},
                   {"Abbruch durch Benutzer.", clRed},
                   {"", clBlue},
                   {"3 Ping(s) gesendet (2 korrekt, 0 fehlerhaft, 1 ohne Antwort).", clBlue},
                   {"Verlust: 33.3 %, Antwortzeit min/avg/max: 1/2.5/4 ms", clBlue},
                   {"Antwortzeit min/avg/max/Standardabweichung: 1.0/2.5/4.0/1.5 ms, Verlust: 33.3 %", clBlue}}));
  EXPECT_EQ(f.btnPingStart.Caption(), "&Start");
  EXPECT_EQ(f.btnPingStart.RunState, 0);
  EXPECT_TRUE(f.cmbPingHost.Enabled());
}

TEST_F(PingForm, MissingIcmpSocketIsExplainedOnceInRed) {
  f.cmbPingHost.SetText("127.0.0.1");
  icmp.Default.Status = kIcmpNoService;
  icmp.Default.OpenError = EPERM;
  f.btnPingStartClick();
  auto lines = LinesOf(f.rePing);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[2].second, clRed);
  EXPECT_NE(lines[2].first.find("net.ipv4.ping_group_range"), std::string::npos);
  EXPECT_NE(lines[2].first.find("CAP_NET_RAW"), std::string::npos);
  for (int i = 3; i < 6; ++i) {
    EXPECT_EQ(lines[i].second, clMaroon);
    EXPECT_EQ(lines[i].first, "  " + std::to_string(i - 2) +
                                  ". Keine Antwort von 127.0.0.1: Zeitüberschreitung.");
  }
  EXPECT_EQ(lines[7].first, "3 Ping(s) gesendet (0 korrekt, 0 fehlerhaft, 3 ohne Antwort).");
  EXPECT_EQ(lines[8].first, "Verlust: 100.0 %");

  // Another cause names the system's reason.
  icmp.Default.OpenError = EMFILE;
  f.cmbPingCount.SetText("1");
  f.btnPingStartClick();
  lines = LinesOf(f.rePing);
  EXPECT_EQ(lines.at(2), std::make_pair(std::string("ICMP-Socket konnte nicht geöffnet werden: "
                                                    "Too many open files"),
                                        clRed));
}

TEST_F(PingForm, EmptyHostPingsLoopbackAndUnresolvedNameTimesOutWithoutSending) {
  f.cmbPingCount.SetText("1");
  icmp.Default = EchoReply("127.0.0.1", k32, 0);
  f.btnPingStartClick();
  EXPECT_EQ(f.rePing.Lines().at(0).Text,
            "Sende 1 Ping(s) mit 32 Byte an \"127.0.0.1\", Timeout sind 2000 ms:");
  ASSERT_EQ(icmp.Calls.size(), 1u);
  EXPECT_EQ(icmp.Calls[0].Address, Addr("127.0.0.1"));
  // An empty history entry is not made.
  EXPECT_EQ(f.cmbPingHost.Count(), 0);
}

TEST_F(PingForm, IPv6LiteralIsPingedOverIPv6InItsRfc5952Form) {
  f.cmbPingHost.SetText("[2001:DB8::0005]");
  f.cmbPingCount.SetText("2");
  icmp.Responder = [](const FakeIcmp::Call& c) { return EchoReply("2001:db8::5", c.Data, 3); };
  f.btnPingStartClick();
  EXPECT_EQ(LinesOf(f.rePing),
            (Lines{{"Sende 2 Ping(s) mit 32 Byte an \"2001:db8::5\", Timeout sind 2000 ms:", clBlue},
                   {"", clBlue},
                   {"  1. Antwort von 2001:db8::5: 3 ms, Daten korrekt.", clGreen},
                   {"  2. Antwort von 2001:db8::5: 3 ms, Daten korrekt.", clGreen},
                   {"", clBlue},
                   {"2 Ping(s) gesendet (2 korrekt, 0 fehlerhaft, 0 ohne Antwort).", clBlue},
                   {"Verlust: 0.0 %, Antwortzeit min/avg/max: 3/3.0/3 ms", clBlue},
                   {"Antwortzeit min/avg/max/Standardabweichung: 3.0/3.0/3.0/0.0 ms, Verlust: 0.0 %", clBlue}}));
  ASSERT_EQ(icmp.Calls.size(), 2u);
  EXPECT_EQ(icmp.Calls[0].Target, IpAddress::Parse("2001:db8::5"));
  EXPECT_EQ(icmp.Calls[0].Address, 0u);

  // An unreachable answer of an IPv6 router, with its reason.
  icmp.Responder = nullptr;
  icmp.Default = StatusReply(kIcmpDestNetUnreachable, "fd00:2::2", 1);
  icmp.Default.Unreachable = IcmpUnreachable::NoRoute;
  f.cmbPingCount.SetText("1");
  f.cmbPingHost.SetText("fd00:9::1");
  f.btnPingStartClick();
  EXPECT_EQ(LinesOf(f.rePing).at(2),
            std::make_pair(std::string("  1. Antwort von fd00:2::2: Ziel nicht erreichbar (keine Route)."),
                           clMaroon));
  EXPECT_EQ(LinesOf(f.rePing).back().first, "Verlust: 100.0 %");

  // This computer's own stack refused: no node answered, none is named as
  // the one that did.
  icmp.Default = StatusReply(kIcmpDestNetUnreachable);
  icmp.Default.Unreachable = IcmpUnreachable::NoRoute;
  f.btnPingStartClick();
  EXPECT_EQ(LinesOf(f.rePing).at(2),
            std::make_pair(std::string("  1. Dieser Rechner kann fd00:9::1 nicht erreichen (keine Route)."),
                           clMaroon));
  EXPECT_TRUE(FindField(f.rePing.Lines().at(2).Fields, "local"));
}

TEST_F(PingForm, NameUsesIPv4WhenItHasOneAndIPv6OtherwiseOrWhenPreferred) {
  auto names = std::make_shared<test::TableResolver>();
  names->All["dual.example"] = {"2001:db8::7", "192.0.2.7"};
  names->All["v6.example"] = {"2001:db8::6"};
  names->Reverse["2001:db8::6"] = "v6.example";
  platform::ScopedResolver use(names);
  icmp.Responder = [](const FakeIcmp::Call& c) { return EchoReply(c.Target.ToString(), c.Data, 1); };
  f.cmbPingCount.SetText("1");
  auto pinged = [&](const std::string& host, bool resolve, bool prefer) {
    f.cmbPingHost.SetText(host);
    f.chkPingResolve.SetCheckedSilently(resolve);
    f.chkPingPreferIPv6.SetCheckedSilently(prefer);
    icmp.Calls.clear();
    f.btnPingStartClick();
    return icmp.Calls.size() == 1 ? icmp.Calls[0].Target.ToString() : "no echo";
  };
  EXPECT_EQ(pinged("dual.example", true, false), "192.0.2.7");
  EXPECT_EQ(pinged("dual.example", true, true), "2001:db8::7");
  EXPECT_EQ(pinged("v6.example", true, false), "2001:db8::6");
  EXPECT_EQ(LinesOf(f.rePing).at(1).first, "  Hostname:    v6.example");
  EXPECT_EQ(LinesOf(f.rePing).at(2).first, "  IP-Adresse:  2001:db8::6");
  // Unresolved in the tool, the echo routine chooses the same way.
  EXPECT_EQ(pinged("dual.example", false, false), "192.0.2.7");
  EXPECT_EQ(pinged("dual.example", false, true), "2001:db8::7");
  EXPECT_EQ(pinged("v6.example", false, false), "2001:db8::6");
}

// ---- The echo routine ----------------------------------------------------

TEST(SendIcmpEcho, PreparesRequestAndJudgesEchoedData) {
  FakeIcmp icmp;
  platform::ScopedSeam<platform::IIcmp> seam(&icmp);
  icmp.Responder = [](const FakeIcmp::Call& c) { return EchoReply("10.0.0.1", c.Data, 2, 55); };

  std::string target = "010.0.0.1";  // read field by field, as IsHostName does
  IcmpEchoResult r = SendIcmpEcho(target, 100000, -5, 0);
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.DataVerdict, 0);
  EXPECT_EQ(r.ReplyDataSize, kIcmpMaxDataSize);
  EXPECT_EQ(r.ReplyAddress, "10.0.0.1");
  EXPECT_EQ(r.ReplyTtl, 55);
  EXPECT_EQ(r.RoundTripMs, 2u);
  ASSERT_EQ(icmp.Calls.size(), 1u);
  EXPECT_EQ(icmp.Calls[0].Address, Addr("10.0.0.1"));
  EXPECT_EQ(icmp.Calls[0].Data, std::string(kIcmpMaxDataSize, 'A'));
  EXPECT_EQ(icmp.Calls[0].TimeoutMs, 0);
  EXPECT_EQ(icmp.Calls[0].Ttl, 1);

  icmp.Responder = [](const FakeIcmp::Call&) { return EchoReply("10.0.0.1", "", 2); };
  target = "10.0.0.1";
  r = SendIcmpEcho(target, 0, 100, 300);
  EXPECT_EQ(r.DataVerdict, 0);
  EXPECT_EQ(icmp.Calls.back().Ttl, 255);
  // Size differs before contents are looked at; a larger reply is also "size".
  icmp.Responder = [](const FakeIcmp::Call&) { return EchoReply("10.0.0.1", "BBBBBBBBB", 2); };
  EXPECT_EQ(SendIcmpEcho(target, 8, 100, 1).DataVerdict, -1);
  icmp.Responder = [](const FakeIcmp::Call&) { return EchoReply("10.0.0.1", std::string("AAAAAAA\0", 8), 2); };
  EXPECT_EQ(SendIcmpEcho(target, 8, 100, 1).DataVerdict, -2);
  // An error status is passed on as it is, with the router's address.
  icmp.Responder = [](const FakeIcmp::Call&) {
    return StatusReply(kIcmpTtlExpiredTransit, "10.9.9.9", 4);
  };
  r = SendIcmpEcho(target, 8, 100, 1);
  EXPECT_EQ(r.Status, kIcmpTtlExpiredTransit);
  EXPECT_EQ(r.ReplyAddress, "10.9.9.9");
  EXPECT_EQ(r.DataVerdict, 0);
}

TEST(SendIcmpEcho, NoAddressMeansNoRequest) {
  FakeIcmp icmp;
  platform::ScopedSeam<platform::IIcmp> seam(&icmp);
  std::string target;  // what an unresolvable name leaves behind
  IcmpEchoResult r = SendIcmpEcho(target, 32, 100, 128);
  EXPECT_NE(r.Status, 0);
  EXPECT_NE(r.Status, kIcmpNoService);
  EXPECT_TRUE(icmp.Calls.empty());

  // No socket: status -1 and nothing else set.
  icmp.Default.Status = kIcmpNoService;
  icmp.Default.OpenError = EACCES;
  icmp.Default.Address = "1.2.3.4";
  target = "127.0.0.1";
  r = SendIcmpEcho(target, 32, 100, 128);
  EXPECT_EQ(r.Status, kIcmpNoService);
  EXPECT_EQ(r.OpenError, EACCES);
  EXPECT_EQ(r.ReplyAddress, "");
}

// ---- Reading packets -------------------------------------------------------

namespace {

std::vector<std::uint8_t> Ip(std::uint8_t proto, const char* src, const char* dst,
                             std::uint8_t ttl, const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> p(20);
  p[0] = 0x45;
  const size_t total = 20 + payload.size();
  p[2] = static_cast<std::uint8_t>(total >> 8);
  p[3] = static_cast<std::uint8_t>(total);
  p[8] = ttl;
  p[9] = proto;
  std::uint32_t s = Addr(src), d = Addr(dst);
  std::memcpy(&p[12], &s, 4);
  std::memcpy(&p[16], &d, 4);
  p.insert(p.end(), payload.begin(), payload.end());
  return p;
}

std::vector<std::uint8_t> Icmp(std::uint8_t type, std::uint8_t code, std::uint16_t id,
                               std::uint16_t seq, const std::string& data) {
  std::vector<std::uint8_t> m(8 + data.size());
  m[0] = type;
  m[1] = code;
  m[4] = static_cast<std::uint8_t>(id >> 8);
  m[5] = static_cast<std::uint8_t>(id);
  m[6] = static_cast<std::uint8_t>(seq >> 8);
  m[7] = static_cast<std::uint8_t>(seq);
  if (!data.empty()) std::memcpy(m.data() + 8, data.data(), data.size());
  return m;
}

std::vector<std::uint8_t> Error(std::uint8_t type, std::uint8_t code,
                                const std::vector<std::uint8_t>& quoted) {
  std::vector<std::uint8_t> m(8 + quoted.size(), 0);
  m[0] = type;
  m[1] = code;
  std::copy(quoted.begin(), quoted.end(), m.begin() + 8);
  return m;
}

}  // namespace

TEST(IcmpPackets, RawEchoReplyMatchesOnlyItsOwnRequest) {
  platform::IcmpProbe probe{Addr("192.0.2.7"), 0x1234, 9};
  auto reply = Ip(1, "192.0.2.7", "192.0.2.1", 61, Icmp(0, 0, 0x1234, 9, "AAAA"));
  auto p = platform::ParseRawIcmp(reply.data(), reply.size(), probe);
  ASSERT_TRUE(p.Matched);
  EXPECT_EQ(p.Status, 0);
  EXPECT_EQ(p.Ttl, 61);
  EXPECT_EQ(p.Source, Addr("192.0.2.7"));
  EXPECT_EQ(std::string(reply.begin() + p.DataOffset, reply.begin() + p.DataOffset + p.DataSize),
            "AAAA");

  // A late reply to the previous echo, another program's echo, our own request.
  for (auto other : {Icmp(0, 0, 0x1234, 8, "AAAA"), Icmp(0, 0, 0x4321, 9, "AAAA"),
                     Icmp(8, 0, 0x1234, 9, "AAAA")}) {
    auto pkt = Ip(1, "192.0.2.7", "192.0.2.1", 61, other);
    EXPECT_FALSE(platform::ParseRawIcmp(pkt.data(), pkt.size(), probe).Matched);
  }
  // Cut short, a wrong header length, not ICMP, not IPv4.
  EXPECT_FALSE(platform::ParseRawIcmp(reply.data(), 27, probe).Matched);
  auto bad = reply;
  bad[0] = 0x4F;  // header longer than the packet
  EXPECT_FALSE(platform::ParseRawIcmp(bad.data(), bad.size(), probe).Matched);
  bad = reply;
  bad[9] = 17;
  EXPECT_FALSE(platform::ParseRawIcmp(bad.data(), bad.size(), probe).Matched);
  bad = reply;
  bad[0] = 0x65;
  EXPECT_FALSE(platform::ParseRawIcmp(bad.data(), bad.size(), probe).Matched);
  // The IP total length shortens what counts as data, never lengthens it.
  bad = reply;
  bad[3] = static_cast<std::uint8_t>(bad[3] - 2);
  EXPECT_EQ(platform::ParseRawIcmp(bad.data(), bad.size(), probe).DataSize, 2u);
  bad[2] = 0xFF;
  EXPECT_EQ(platform::ParseRawIcmp(bad.data(), bad.size(), probe).DataSize, 4u);
}

TEST(IcmpPackets, RawErrorsQuotingOurRequestGiveTheirStatus) {
  platform::IcmpProbe probe{Addr("203.0.113.2"), 0x0101, 300};
  auto request = Ip(1, "192.0.2.2", "203.0.113.2", 1, Icmp(8, 0, 0x0101, 300, "AAAAAAAA"));
  auto quoted = std::vector<std::uint8_t>(request.begin(), request.begin() + 28);
  auto tx = Ip(1, "192.0.2.1", "192.0.2.2", 64, Error(11, 0, quoted));
  auto p = platform::ParseRawIcmp(tx.data(), tx.size(), probe);
  ASSERT_TRUE(p.Matched);
  EXPECT_EQ(p.Status, kIcmpTtlExpiredTransit);
  EXPECT_EQ(p.Source, Addr("192.0.2.1"));

  const std::pair<std::pair<int, int>, int> cases[] = {
      {{3, 0}, kIcmpDestNetUnreachable}, {{3, 1}, kIcmpDestHostUnreachable},
      {{3, 3}, kIcmpDestPortUnreachable}, {{3, 4}, kIcmpPacketTooBig},
      {{3, 13}, kIcmpDestHostUnreachable}, {{11, 1}, kIcmpTtlExpiredReassembly},
      {{12, 0}, kIcmpParamProblem}, {{4, 0}, kIcmpSourceQuench}};
  for (auto [tc, status] : cases) {
    auto m = Ip(1, "192.0.2.1", "192.0.2.2", 64, Error(tc.first, tc.second, quoted));
    EXPECT_EQ(platform::ParseRawIcmp(m.data(), m.size(), probe).Status, status)
        << tc.first << "/" << tc.second;
  }
  // Errors about somebody else's packet: other target, other sequence, a UDP
  // packet, and a quote too short to show the echo header.
  auto otherTarget = Ip(1, "192.0.2.2", "203.0.113.3", 1, Icmp(8, 0, 0x0101, 300, ""));
  auto otherSeq = Ip(1, "192.0.2.2", "203.0.113.2", 1, Icmp(8, 0, 0x0101, 299, ""));
  auto udp = Ip(17, "192.0.2.2", "203.0.113.2", 1, Icmp(8, 0, 0x0101, 300, ""));
  auto shortQuote = std::vector<std::uint8_t>(request.begin(), request.begin() + 26);
  for (const auto& q : {otherTarget, otherSeq, udp, shortQuote}) {
    auto m = Ip(1, "192.0.2.1", "192.0.2.2", 64, Error(11, 0, q));
    EXPECT_FALSE(platform::ParseRawIcmp(m.data(), m.size(), probe).Matched);
  }
  // Unknown message types are never taken.
  auto redirect = Ip(1, "192.0.2.1", "192.0.2.2", 64, Error(5, 0, quoted));
  EXPECT_FALSE(platform::ParseRawIcmp(redirect.data(), redirect.size(), probe).Matched);
}

TEST(IcmpPackets, DatagramRepliesAndErrorQueueMatchBySequence) {
  platform::IcmpProbe probe{Addr("127.0.0.1"), 0, 77};
  auto reply = Icmp(0, 0, 999, 77, "AAA");
  auto p = platform::ParseDgramIcmp(reply.data(), reply.size(), probe);
  ASSERT_TRUE(p.Matched);
  EXPECT_EQ(p.DataOffset, 8u);
  EXPECT_EQ(p.DataSize, 3u);
  auto late = Icmp(0, 0, 999, 76, "AAA");
  EXPECT_FALSE(platform::ParseDgramIcmp(late.data(), late.size(), probe).Matched);
  EXPECT_FALSE(platform::ParseDgramIcmp(reply.data(), 7, probe).Matched);
  probe.Id = 998;
  EXPECT_FALSE(platform::ParseDgramIcmp(reply.data(), reply.size(), probe).Matched);

  probe.Id = 0;
  auto sent = Icmp(8, 0, 5, 77, "");
  EXPECT_TRUE(platform::ErrorQueueMatches(sent.data(), sent.size(), probe));
  auto earlier = Icmp(8, 0, 5, 76, "");
  EXPECT_FALSE(platform::ErrorQueueMatches(earlier.data(), earlier.size(), probe));
  EXPECT_FALSE(platform::ErrorQueueMatches(sent.data(), 4, probe));
}

namespace {

// An IPv6 header (40 bytes) from src to dst with an ICMPv6 payload.
std::vector<std::uint8_t> Ip6(const char* src, const char* dst, std::uint8_t next,
                              const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> p(40);
  p[0] = 0x60;
  p[4] = static_cast<std::uint8_t>(payload.size() >> 8);
  p[5] = static_cast<std::uint8_t>(payload.size());
  p[6] = next;
  p[7] = 64;
  inet_pton(AF_INET6, src, &p[8]);
  inet_pton(AF_INET6, dst, &p[24]);
  p.insert(p.end(), payload.begin(), payload.end());
  return p;
}

platform::IcmpProbe Probe6(const char* target, std::uint16_t id, std::uint16_t seq) {
  platform::IcmpProbe probe{0, id, seq};
  inet_pton(AF_INET6, target, probe.Target6.data());
  return probe;
}

}  // namespace

TEST(IcmpPackets, Icmp6EchoRepliesAndErrorsQuotingOurRequest) {
  const auto probe = Probe6("fd00:3::2", 0x0202, 41);
  auto reply = Icmp(129, 0, 0x0202, 41, "AAAA");
  auto p = platform::ParseRawIcmp6(reply.data(), reply.size(), probe);
  ASSERT_TRUE(p.Matched);
  EXPECT_EQ(p.Status, 0);
  EXPECT_FALSE(p.HaveSource);  // the source comes with the message, not in it
  EXPECT_EQ(std::string(reply.begin() + p.DataOffset, reply.end()), "AAAA");
  // An ICMPv4 echo reply, another sequence, our own request: not ours.
  for (auto other : {Icmp(0, 0, 0x0202, 41, "AAAA"), Icmp(129, 0, 0x0202, 40, "AAAA"),
                     Icmp(128, 0, 0x0202, 41, "AAAA")})
    EXPECT_FALSE(platform::ParseRawIcmp6(other.data(), other.size(), probe).Matched);

  auto request = Ip6("fd00:1::2", "fd00:3::2", 58, Icmp(128, 0, 0x0202, 41, "AAAAAAAA"));
  const std::pair<std::pair<int, int>, std::pair<int, IcmpUnreachable>> cases[] = {
      {{3, 0}, {kIcmpTtlExpiredTransit, IcmpUnreachable::None}},
      {{3, 1}, {kIcmpTtlExpiredReassembly, IcmpUnreachable::None}},
      {{1, 0}, {kIcmpDestNetUnreachable, IcmpUnreachable::NoRoute}},
      {{1, 1}, {kIcmpDestHostUnreachable, IcmpUnreachable::Prohibited}},
      {{1, 3}, {kIcmpDestHostUnreachable, IcmpUnreachable::Host}},
      {{1, 4}, {kIcmpDestPortUnreachable, IcmpUnreachable::Port}},
      {{1, 6}, {kIcmpDestNetUnreachable, IcmpUnreachable::RejectRoute}},
      {{2, 0}, {kIcmpPacketTooBig, IcmpUnreachable::PacketTooBig}},
      {{4, 0}, {kIcmpParamProblem, IcmpUnreachable::None}}};
  for (auto [tc, want] : cases) {
    auto m = Error(static_cast<std::uint8_t>(tc.first), static_cast<std::uint8_t>(tc.second), request);
    auto r = platform::ParseRawIcmp6(m.data(), m.size(), probe);
    ASSERT_TRUE(r.Matched) << tc.first << "/" << tc.second;
    EXPECT_EQ(r.Status, want.first) << tc.first << "/" << tc.second;
    EXPECT_EQ(r.Unreachable, want.second) << tc.first << "/" << tc.second;
  }
  // Errors about other packets: another target, a UDP packet, a quote cut
  // before the echo header, an IPv4 header inside.
  auto otherTarget = Ip6("fd00:1::2", "fd00:3::3", 58, Icmp(128, 0, 0x0202, 41, ""));
  auto udp = Ip6("fd00:1::2", "fd00:3::2", 17, Icmp(128, 0, 0x0202, 41, ""));
  auto cut = std::vector<std::uint8_t>(request.begin(), request.begin() + 46);
  auto v4 = request;
  v4[0] = 0x45;
  for (const auto& q : {otherTarget, udp, cut, v4}) {
    auto m = Error(3, 0, q);
    EXPECT_FALSE(platform::ParseRawIcmp6(m.data(), m.size(), probe).Matched);
  }
  // Redirects and neighbour messages are never answers.
  auto redirect = Error(137, 0, request);
  EXPECT_FALSE(platform::ParseRawIcmp6(redirect.data(), redirect.size(), probe).Matched);

  // Datagram sockets: replies and error-queue requests by sequence.
  auto d = platform::ParseDgramIcmp6(reply.data(), reply.size(), Probe6("::1", 0, 41));
  EXPECT_TRUE(d.Matched);
  EXPECT_FALSE(platform::ParseDgramIcmp6(reply.data(), reply.size(), Probe6("::1", 0, 42)).Matched);
  auto sent = Icmp(128, 0, 9, 41, "");
  EXPECT_TRUE(platform::ErrorQueueMatches6(sent.data(), sent.size(), Probe6("::1", 0, 41)));
  EXPECT_FALSE(platform::ErrorQueueMatches(sent.data(), sent.size(), Probe6("::1", 0, 41)));
}

TEST(IcmpPackets, UnreachableReasonsOfIPv4AndLocalErrors) {
  EXPECT_EQ(platform::UnreachableForIcmpError(3, 0), IcmpUnreachable::Network);
  EXPECT_EQ(platform::UnreachableForIcmpError(3, 1), IcmpUnreachable::Host);
  EXPECT_EQ(platform::UnreachableForIcmpError(3, 13), IcmpUnreachable::Prohibited);
  EXPECT_EQ(platform::UnreachableForIcmpError(11, 0), IcmpUnreachable::None);
  EXPECT_EQ(platform::UnreachableForErrno(ENETUNREACH), IcmpUnreachable::NoRoute);
  EXPECT_EQ(platform::UnreachableForErrno(EACCES), IcmpUnreachable::Prohibited);
  EXPECT_EQ(platform::UnreachableForErrno(ENOBUFS), IcmpUnreachable::None);
  EXPECT_EQ(UnreachableForStatus(kIcmpTimedOut), IcmpUnreachable::None);
}

// ---- The real kernel ----------------------------------------------------------

TEST(PingReal, LoopbackAnswersWithCorrectData) {
  TfrmMain f;
  f.chkPingResolve.SetCheckedSilently(false);
  f.cmbPingHost.SetText("127.0.0.1");
  f.cmbPingPause.SetText("0");
  f.btnPingStartClick();
  std::string text = MaskTimes(PaneDump(f.rePing));
  if (text.find("ICMP") != std::string::npos)
    GTEST_SKIP() << "no ICMP socket here (neither datagram nor raw): " << text;
  EXPECT_EQ(text,
            "0000FF|Sende 3 Ping(s) mit 32 Byte an \"127.0.0.1\", Timeout sind 2000 ms:\n"
            "0000FF|\n"
            "008000|  1. Antwort von 127.0.0.1: N ms, Daten korrekt.\n"
            "008000|  2. Antwort von 127.0.0.1: N ms, Daten korrekt.\n"
            "008000|  3. Antwort von 127.0.0.1: N ms, Daten korrekt.\n"
            "0000FF|\n"
            "0000FF|3 Ping(s) gesendet (3 korrekt, 0 fehlerhaft, 0 ohne Antwort).\n"
            "0000FF|Verlust: 0.0 %, Antwortzeit min/avg/max: N ms\n"
            "0000FF|Antwortzeit min/avg/max/Standardabweichung: N ms, Verlust: 0.0 %\n");
}

namespace {

// One echo inside the namespace, as text: status address ttl size verdict error.
std::string EchoIn(const std::string& ns, bool dropNetRaw, const std::string& to, int size,
                   int timeoutMs = 1000) {
  return RunInNetns(ns, dropNetRaw, [to, size, timeoutMs] {
    std::string t = to;
    IcmpEchoResult r = SendIcmpEcho(t, size, timeoutMs, 128);
    return std::to_string(r.Status) + " " + r.ReplyAddress + " " + std::to_string(r.ReplyTtl) +
           " " + std::to_string(r.ReplyDataSize) + " " + std::to_string(r.DataVerdict) + " " +
           std::to_string(r.OpenError);
  });
}

}  // namespace

TEST(PingReal, DatagramAndRawSocketsInOwnNamespaces) {
  if (auto why = NetnsSkipReason(); !why.empty()) GTEST_SKIP() << why;
  NetnsSet ns;
  const std::string dgram = ns.Add("d"), raw = ns.Add("r");
  ASSERT_FALSE(dgram.empty());
  ASSERT_FALSE(raw.empty());
  ASSERT_TRUE(Sh("ip netns exec " + dgram + " sysctl -w net.ipv4.ping_group_range='0 2147483647'"));
  // An address of the namespace's own beside its loopback.
  ASSERT_TRUE(Sh("ip -n " + dgram + " link add name qd0 type veth peer name qd1"));
  ASSERT_TRUE(Sh("ip -n " + dgram + " link set qd1 up"));
  ASSERT_TRUE(Sh("ip -n " + dgram + " addr add 198.51.100.9/24 dev qd0"));
  ASSERT_TRUE(Sh("ip -n " + dgram + " link set qd0 up"));

  // Without CAP_NET_RAW only the datagram socket can work.
  EXPECT_EQ(EchoIn(dgram, true, "127.0.0.1", 56), "0 127.0.0.1 64 56 0 0");
  EXPECT_EQ(EchoIn(dgram, true, "198.51.100.9", 1400), "0 198.51.100.9 64 1400 0 0");
  EXPECT_EQ(EchoIn(dgram, true, "127.0.0.1", kIcmpMaxDataSize),
            "0 127.0.0.1 64 " + std::to_string(kIcmpMaxDataSize) + " 0 0");
  // With ping_group_range at "1 0" even root gets no datagram socket: raw.
  EXPECT_EQ(EchoIn(raw, false, "127.0.0.1", 32), "0 127.0.0.1 64 32 0 0");
  EXPECT_EQ(EchoIn(raw, false, "127.0.0.1", 0), "0 127.0.0.1 64 0 0 0");
  // Neither: status -1 and the reason.
  const std::string err = EchoIn(raw, true, "127.0.0.1", 32);
  EXPECT_EQ(err.substr(0, 10), "-1  0 0 0 ");
  const int code = std::atoi(err.substr(err.rfind(' ') + 1).c_str());
  EXPECT_TRUE(code == EACCES || code == EPERM) << err;
  // ICMPv6 over the same two kinds of socket, the same sysctl deciding.
  EXPECT_EQ(EchoIn(dgram, true, "::1", 56), "0 ::1 64 56 0 0");
  EXPECT_EQ(EchoIn(raw, false, "::1", 32), "0 ::1 64 32 0 0");
  EXPECT_EQ(EchoIn(raw, false, "[::1]", 0), "0 ::1 64 0 0 0");
  const std::string err6 = EchoIn(raw, true, "::1", 32);
  EXPECT_EQ(err6.substr(0, 10), "-1  0 0 0 ") << err6;
  // Nobody answers on the veth link: the timeout passes. Where no route
  // leads, the network is unreachable.
  EXPECT_EQ(EchoIn(dgram, true, "198.51.100.50", 32, 200), "11010  0 0 0 0");
  EXPECT_EQ(EchoIn(raw, false, "198.51.100.50", 32, 200), "11002  0 0 0 0");
  EXPECT_EQ(EchoIn(dgram, true, "203.0.113.5", 32, 200), "11002  0 0 0 0");
}

TEST(PingReal, ToolWithoutPermissionExplainsWhy) {
  if (auto why = NetnsSkipReason(); !why.empty()) GTEST_SKIP() << why;
  NetnsSet ns;
  const std::string name = ns.Add("n");
  ASSERT_FALSE(name.empty());
  std::string out = RunInNetns(name, true, [] {
    TfrmMain f;
    f.chkPingResolve.SetCheckedSilently(false);
    f.cmbPingHost.SetText("127.0.0.1");
    f.cmbPingCount.SetText("2");
    f.cmbPingPause.SetText("0");
    f.btnPingStartClick();
    return PaneDump(f.rePing);
  });
  EXPECT_EQ(out,
            "0000FF|Sende 2 Ping(s) mit 32 Byte an \"127.0.0.1\", Timeout sind 2000 ms:\n"
            "0000FF|\n"
            "FF0000|Keine Berechtigung für ICMP-Sockets: net.ipv4.ping_group_range muss die "
            "eigene Gruppe enthalten, oder das Programm braucht CAP_NET_RAW.\n"
            "800000|  1. Keine Antwort von 127.0.0.1: Zeitüberschreitung.\n"
            "800000|  2. Keine Antwort von 127.0.0.1: Zeitüberschreitung.\n"
            "0000FF|\n"
            "0000FF|2 Ping(s) gesendet (0 korrekt, 0 fehlerhaft, 2 ohne Antwort).\n"
            "0000FF|Verlust: 100.0 %\n");
}

// Name look-ups in a namespace of its own: nothing can leave it, so a name
// that /etc/hosts does not know has no address.
TEST(PingReal, InformationBlockKeepsTheEnteredAddress) {
  if (auto why = NetnsSkipReason(); !why.empty()) GTEST_SKIP() << why;
  NetnsSet ns;
  const std::string name = ns.Add("i");
  ASSERT_FALSE(name.empty());
  FakeIcmp icmp;
  icmp.Responder = [](const FakeIcmp::Call& c) { return EchoReply("127.0.0.1", c.Data, 0); };
  platform::ScopedSeam<platform::IIcmp> seam(&icmp);
  auto run = [&](const std::string& host) {
    return RunInNetns(name, false, [&] {
      TfrmMain f;
      NameResTimeout = 500;
      f.chkPingResolve.SetCheckedSilently(true);
      f.cmbPingHost.SetText(host);
      f.cmbPingCount.SetText("1");
      f.cmbPingPause.SetText("0");
      f.btnPingStartClick();
      return PaneDump(f.rePing) + "echoes: " + std::to_string(icmp.Calls.size());
    });
  };

  // Empty: the local host, by its name, pinged at 127.0.0.1.
  const std::string local = run("");
  EXPECT_EQ(local.substr(0, local.find('\n')), "0000FF|Host-Informationen für \"\":");
  EXPECT_TRUE(std::regex_search(local, std::regex("\n000080\\|  Hostname:    [^\n]+\n"
                                                  "000080\\|  IP-Adresse:  127\\.0\\.0\\.1\n"
                                                  "000080\\|\n"
                                                  "0000FF\\|Sende 1 Ping\\(s\\) mit 32 Byte an "
                                                  "\"127\\.0\\.0\\.1\"")))
      << local;
  EXPECT_NE(local.find("1 Ping(s) gesendet (1 korrekt"), std::string::npos) << local;

  EXPECT_EQ(run("no-such-host.invalid"),
            "0000FF|Host-Informationen für \"no-such-host.invalid\":\n"
            "FF0000|\n"
            "FF0000|Die IP-Adresse konnte nicht ermittelt werden.\n"
            "echoes: 0");
}
