#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <ctime>
#include <stdexcept>

#include "clients/NtpSelection.h"
#include "clients/SntpClient.h"
#include "common/DateTime.h"
#include "common/Pump.h"
#include "platform/Resolver.h"
#include "support/TableResolver.h"
#include "tests/NtpTestPeers.h"

using namespace quovix;
using namespace quovix::testing;
using Datagram = ScriptedNtpPeer::Datagram;

namespace {

constexpr double kMs = 1.0 / kMsPerDay;
// 2024-03-01 12:00:00 UTC
constexpr std::int64_t kNowUnix = 1709294400;

std::uint32_t FractionOfMs(int ms) {
  return static_cast<std::uint32_t>((std::uint64_t{static_cast<std::uint32_t>(ms)} << 32) / 1000 +
                                    1);
}

// A client aimed at the peer, with the fake clock installed.
struct SntpClientTest : ::testing::Test {
  FakeClock clock;
  platform::ScopedSeam<platform::IClock> seam{&clock};
  SntpClient client;
  void SetUp() override {
    clock.now = {kNowUnix, 0};
    clock.offsetSeconds = 3600;  // CET
    client.Host = "127.0.0.1";
    client.ReceiveTimeout = 1500;
  }
  void Aim(const ScriptedNtpPeer& peer) { client.Port = peer.Port(); }
};

}  // namespace

TEST(SntpConversion, KnownInstantBothWays) {
  // 2024-03-01 12:34:56.789 UTC, shown in a zone one hour east of Greenwich.
  const NtpTimestamp ts{3918285296u, FractionOfMs(789)};
  const double bias = -1.0 / 24;
  const double local = DateTimeFromNtp(ts, bias);
  EXPECT_NEAR(local, EncodeDateTime(2024, 3, 1, 13, 34, 56, 789), 0.01 * kMs);
  EXPECT_EQ(FormatDateTime(local, "%d.%m.%Y", "%H:%M:%S"), "01.03.2024 13:34:56");

  const NtpTimestamp back = NtpFromDateTime(local, bias);
  EXPECT_EQ(back.Seconds, ts.Seconds);
  EXPECT_NEAR(back.Fraction / 4294967296.0, 0.789, 1e-6);

  // Milliseconds are truncated, not rounded.
  const NtpTimestamp almost{3918285296u, 0xFFFFFFFFu};
  EXPECT_NEAR(DateTimeFromNtp(almost, 0), EncodeDateTime(2024, 3, 1, 12, 34, 56, 999), 0.01 * kMs);
}

TEST(SntpConversion, TimestampsAfter2036UseTheNextEra) {
  const double value = EncodeDateTime(2040, 6, 15, 8, 30, 0, 125);
  const NtpTimestamp ts = NtpFromDateTime(value, 0);
  EXPECT_EQ(ts.Seconds & 0x80000000u, 0u);  // the seconds count started again
  EXPECT_NEAR(DateTimeFromNtp(ts, 0), value, 0.01 * kMs);
  // A time from before 1980 stays in the first era.
  const double old = EncodeDateTime(1975, 1, 1);
  EXPECT_NEAR(DateTimeFromNtp(NtpFromDateTime(old, 0), 0), old, 0.01 * kMs);
}

TEST(SntpConversion, CalendarAgreesWithTheCLibrary) {
  // Every 97 hours and 13 seconds from 1901 to 2099, against gmtime.
  for (std::int64_t t = -2145916800LL; t < 4102444800LL; t += 97 * 3600 + 13) {
    const time_t tt = static_cast<time_t>(t);
    tm ref{};
    gmtime_r(&tt, &ref);
    DateTimeParts p;
    ASSERT_TRUE(DecodeDateTime(DateTimeFromUnix(static_cast<double>(t)), p));
    ASSERT_EQ(p.Year, ref.tm_year + 1900) << t;
    ASSERT_EQ(p.Month, ref.tm_mon + 1) << t;
    ASSERT_EQ(p.Day, ref.tm_mday) << t;
    ASSERT_EQ(p.Hour * 3600 + p.Minute * 60 + p.Second,
              ref.tm_hour * 3600 + ref.tm_min * 60 + ref.tm_sec)
        << t;
    ASSERT_EQ(p.DayOfWeek, ref.tm_wday) << t;
    ASSERT_EQ(p.DayOfYear, ref.tm_yday) << t;
  }
  EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1), 2.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1980, 1, 1), 29221.0);
  EXPECT_DOUBLE_EQ(EncodeDateTime(2099, 12, 31), 73050.0);
  EXPECT_EQ(FormatDateTime(std::nan(""), "%d.%m.%Y", "%H:%M:%S"), "");
  EXPECT_EQ(FormatDateTime(1e12, "%d.%m.%Y", "%H:%M:%S"), "");
}

TEST(SntpConversion, LocalBiasFollowsTheZoneRulesOfTheMoment) {
  // The real clock service with a zone that has daylight-saving time.
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  platform::IClock& real = platform::Clock();
  EXPECT_EQ(real.UtcOffset(1704067200), 3600);  // 2024-01-01
  EXPECT_EQ(real.UtcOffset(1719792000), 7200);  // 2024-07-01
  if (old)
    setenv("TZ", saved.c_str(), 1);
  else
    unsetenv("TZ");
  tzset();
}

// Offset and delay come from the four timestamps to well below a
// microsecond; times that no real exchange can give are refused.
TEST(SntpMeasure, OffsetAndDelayExactlyAndImpossibleTimesRefused) {
  const NtpTimestamp t1 = NtpOfUnix(kNowUnix, 0x12345678u);
  struct Case {
    double receive, hold, elapsed;  // seconds after t1, the server's hold, our round trip
    TSntpStatus expected;
    double offset, delay;
  } cases[] = {
      {10.251, 0.0005, 0.003, TSntpStatus::Ok, 10.24975, 0.0025},
      {-3600.0001, 0.0, 0.0002, TSntpStatus::Ok, -3600.0002, 0.0002},
      {0.001, 0.004, 0.003, TSntpStatus::NegativeDelay, 0, 0},   // held longer than the trip
      {0.001, -0.5, 0.003, TSntpStatus::DelayTooLong, 0, 0},     // sent before it arrived
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.receive);
    SntpPacket reply;
    reply.Precision = -20;
    reply.Receive = NtpAdd(t1, c.receive);
    reply.Transmit = NtpAdd(reply.Receive, c.hold);
    NtpMeasure m;
    EXPECT_EQ(MeasureSntpReply(reply, t1, NtpAdd(t1, c.elapsed), c.elapsed, m), c.expected);
    EXPECT_NEAR(m.Offset, c.offset, 1e-8);
    EXPECT_NEAR(m.Delay, c.delay, 1e-8);
  }
  // Across the era boundary of 2036 the difference stays right.
  EXPECT_NEAR(NtpDifference(NtpTimestamp{5, 0}, NtpTimestamp{0xFFFFFFFBu, 0x80000000u}), 9.5, 1e-9);
}

TEST_F(SntpClientTest, AnswerIsTheServersTransmitTimeInLocalTime) {
  // The server's clock is 10.25 s ahead; it answers with a 60-byte datagram.
  ScriptedNtpPeer peer([](const std::vector<std::uint8_t>& req) {
    auto reply = ServerReply(req, NtpOfUnix(kNowUnix + 10, FractionOfMs(250)),
                             NtpOfUnix(kNowUnix + 10, FractionOfMs(250)));
    reply.resize(60, 0xEE);
    return std::vector<Datagram>{{reply}};
  });
  Aim(peer);
  const double t = client.DateTime();
  EXPECT_EQ(client.Status(), TSntpStatus::Ok);
  EXPECT_NEAR(t, EncodeDateTime(2024, 3, 1, 13, 0, 10, 250), 0.01 * kMs);
  EXPECT_NEAR(client.ClockOffset(), 10.25 / kSecondsPerDay, 0.01 * kMs);
  EXPECT_NEAR(client.RoundTripDelay(), 0.0, 0.01 * kMs);

  // The request: 48 bytes, version 3 client mode, only the transmit time set.
  auto requests = peer.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  ASSERT_EQ(r.size(), 48u);
  EXPECT_EQ(r[0], 0x1B);
  for (size_t i = 1; i < 40; ++i) EXPECT_EQ(r[i], 0) << "byte " << i;
  SntpPacket q;
  ASSERT_TRUE(DecodeSntpPacket(r.data(), r.size(), q));
  EXPECT_EQ(q.Transmit, NtpOfUnix(kNowUnix));
}

TEST_F(SntpClientTest, RepliesThatCarryNoUsableTime) {
  struct Case {
    const char* what;
    std::function<void(std::vector<std::uint8_t>&)> spoil;
    TSntpStatus expected;
  };
  const std::vector<Case> cases = {
      {"47 bytes", [](auto& b) { b.resize(47); }, TSntpStatus::ShortReply},
      {"leap indicator 3", [](auto& b) { b[0] |= 0xC0; }, TSntpStatus::Unsynchronised},
      {"transmit time zero", [](auto& b) { std::fill(b.begin() + 40, b.begin() + 48, 0); },
       TSntpStatus::ZeroTimestamp},
      {"stratum 0", [](auto& b) { b[1] = 0; }, TSntpStatus::BadStratum},
      {"stratum 16", [](auto& b) { b[1] = 16; }, TSntpStatus::Unsynchronised},
      {"originate of another request", [](auto& b) { b[31] ^= 0x01; },
       TSntpStatus::WrongOriginate},
      {"client mode", [](auto& b) { b[0] = (b[0] & 0xF8) | 3; }, TSntpStatus::NotServer},
      {"receive time zero", [](auto& b) { std::fill(b.begin() + 32, b.begin() + 40, 0); },
       TSntpStatus::ZeroTimestamp},
      {"transmit some 70 years after receive", [](auto& b) { b[40] ^= 0x83; },
       TSntpStatus::NegativeDelay},
      {"transmit two seconds before receive", [](auto& b) { b[43] -= 2; },
       TSntpStatus::DelayTooLong},
  };
  client.ReceiveTimeout = 400;  // the replies passed over end in a time-out
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScriptedNtpPeer peer([&c](const std::vector<std::uint8_t>& req) {
      auto reply = ServerReply(req, NtpOfUnix(kNowUnix + 1), NtpOfUnix(kNowUnix + 1));
      c.spoil(reply);
      return std::vector<Datagram>{{reply}};
    });
    Aim(peer);
    EXPECT_EQ(client.DateTime(), 0.0);
    EXPECT_EQ(client.Status(), c.expected);
    EXPECT_EQ(client.ClockOffset(), 0.0);
  }

  // Without the stratum check a stratum-16 answer is taken.
  client.CheckStratum = false;
  ScriptedNtpPeer peer([](const std::vector<std::uint8_t>& req) {
    auto reply = ServerReply(req, NtpOfUnix(kNowUnix + 1), NtpOfUnix(kNowUnix + 1));
    reply[1] = 16;
    return std::vector<Datagram>{{reply}};
  });
  Aim(peer);
  EXPECT_NEAR(client.DateTime(), EncodeDateTime(2024, 3, 1, 13, 0, 1), 0.01 * kMs);
}

TEST_F(SntpClientTest, RepliesFromAnotherPortAreIgnored) {
  // A valid-looking answer from the wrong port arrives first; the real one
  // follows and is the one taken.
  ScriptedNtpPeer peer([](const std::vector<std::uint8_t>& req) {
    return std::vector<Datagram>{
        {ServerReply(req, NtpOfUnix(kNowUnix + 3600), NtpOfUnix(kNowUnix + 3600)), true, 0},
        {ServerReply(req, NtpOfUnix(kNowUnix + 5), NtpOfUnix(kNowUnix + 5)), false, 100}};
  });
  Aim(peer);
  EXPECT_NEAR(client.DateTime(), EncodeDateTime(2024, 3, 1, 13, 0, 5), 0.01 * kMs);
  EXPECT_EQ(client.Status(), TSntpStatus::Ok);

  // A reply to another request (a forged or stale one) comes first from
  // the right port: it is passed over and the true one taken.
  ScriptedNtpPeer forger([](const std::vector<std::uint8_t>& req) {
    auto forged = ServerReply(req, NtpOfUnix(kNowUnix + 3600), NtpOfUnix(kNowUnix + 3600));
    forged[47] ^= 0x01;
    forged[31] ^= 0x01;
    return std::vector<Datagram>{
        {forged, false, 0},
        {ServerReply(req, NtpOfUnix(kNowUnix + 5), NtpOfUnix(kNowUnix + 5)), false, 100}};
  });
  Aim(forger);
  EXPECT_NEAR(client.DateTime(), EncodeDateTime(2024, 3, 1, 13, 0, 5), 0.01 * kMs);
  EXPECT_EQ(client.Status(), TSntpStatus::Ok);

  // Only the wrong port answers: no answer at all.
  ScriptedNtpPeer stranger([](const std::vector<std::uint8_t>& req) {
    return std::vector<Datagram>{
        {ServerReply(req, NtpOfUnix(kNowUnix + 5), NtpOfUnix(kNowUnix + 5)), true, 0}};
  });
  Aim(stranger);
  client.ReceiveTimeout = 400;
  EXPECT_EQ(client.DateTime(), 0.0);
  EXPECT_EQ(client.Status(), TSntpStatus::NoAnswer);
}

TEST_F(SntpClientTest, SilentServerGivesZeroAfterWaitingInPumpedSlices) {
  ScriptedNtpPeer peer([](const std::vector<std::uint8_t>&) { return std::vector<Datagram>{}; });
  Aim(peer);
  int pumps = 0;
  SetMessagePump([&pumps] { ++pumps; });
  client.ReceiveTimeout = 800;
  const auto start = std::chrono::steady_clock::now();
  const double t = client.DateTime();
  const auto waited = std::chrono::steady_clock::now() - start;
  SetMessagePump({});
  EXPECT_EQ(t, 0.0);
  EXPECT_EQ(client.Status(), TSntpStatus::NoAnswer);
  EXPECT_GE(pumps, 3);  // 800 ms in slices of at most 250 ms
  EXPECT_LT(waited, std::chrono::seconds(30));
}

TEST_F(SntpClientTest, UnknownHostRaisesASocketError) {
  client.Host = "";
  try {
    client.DateTime();
    FAIL() << "no error raised";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()).substr(0, 12), "Socket Error");
  }
}

// An NTP server over IPv6, as a literal with or without brackets; a name
// whose first address has no server (its port unreachable) is asked at its
// next address at once, and the answer to that request is the one taken.
TEST_F(SntpClientTest, ServersOverIpv6AndTheNextAddressOfAName) {
  auto script = [](const std::vector<std::uint8_t>& req) {
    return std::vector<Datagram>{
        {ServerReply(req, NtpOfUnix(kNowUnix + 7), NtpOfUnix(kNowUnix + 7))}};
  };
  {
    ScriptedNtpPeer six(script, true);
    Aim(six);
    for (const char* host : {"::1", "[::1]"}) {
      client.Host = host;
      EXPECT_NEAR(client.DateTime(), EncodeDateTime(2024, 3, 1, 13, 0, 7), 0.01 * kMs) << host;
      EXPECT_EQ(client.Status(), TSntpStatus::Ok) << host;
    }
    EXPECT_EQ(six.Requests().size(), 2u);
  }

  ScriptedNtpPeer four(script);
  auto names = std::make_shared<test::TableResolver>();
  names->All["time.test"] = {"::1", "127.0.0.1"};
  platform::ScopedResolver resolver(names);
  Aim(four);
  client.Host = "time.test";
  client.ReceiveTimeout = 5000;
  EXPECT_NEAR(client.DateTime(), EncodeDateTime(2024, 3, 1, 13, 0, 7), 0.01 * kMs);
  EXPECT_EQ(client.Status(), TSntpStatus::Ok);
  EXPECT_EQ(four.Requests().size(), 1u);
}

// ---- several exchanges, the server's own fields, kiss-o'-death -------------

namespace {

// A reply with its header fields set as a server of that stratum would.
std::vector<std::uint8_t> ReplyWith(const std::vector<std::uint8_t>& req, std::uint8_t stratum,
                                    std::uint32_t refid) {
  auto reply = ServerReply(req, NtpOfUnix(kNowUnix + 1), NtpOfUnix(kNowUnix + 1));
  reply[1] = stratum;
  for (int i = 0; i < 4; ++i) reply[12 + i] = static_cast<std::uint8_t>(refid >> (24 - 8 * i));
  return reply;
}

constexpr std::uint32_t Code(const char (&c)[5]) {
  return (std::uint32_t{static_cast<unsigned char>(c[0])} << 24) |
         (std::uint32_t{static_cast<unsigned char>(c[1])} << 16) |
         (std::uint32_t{static_cast<unsigned char>(c[2])} << 8) | static_cast<unsigned char>(c[3]);
}

}  // namespace

TEST(SntpSamples, LeastDelayIsChosenAndJitterIsTheSpreadAroundIt) {
  struct Case {
    std::vector<std::pair<double, double>> samples;  // offset, delay (s)
    std::size_t chosen;
    double jitter;
  } cases[] = {
      {{{0.010, 0.004}}, 0, 0.0},
      {{{0.010, 0.004}, {0.012, 0.002}, {0.009, 0.003}}, 1,
       std::sqrt((0.002 * 0.002 + 0.003 * 0.003) / 2)},
      {{{-1.0, 0.001}, {-1.0, 0.001}}, 0, 0.0},  // equals: the first
      {{}, 0, 0.0},
  };
  for (const Case& c : cases) {
    std::vector<NtpSample> samples;
    for (const auto& [offset, delay] : c.samples) samples.push_back({{offset, delay}, {}, {}});
    EXPECT_EQ(LeastDelaySample(samples), c.chosen);
    EXPECT_NEAR(SampleJitter(samples, c.chosen), c.jitter, 1e-12);
  }
}

TEST(SntpFields, ReferenceIdAndKissCodeReadAsTheStratumSays) {
  struct Case {
    std::uint8_t stratum;
    std::uint32_t refid;
    bool overIpv6;
    std::string text, kind, kiss;
  } cases[] = {
      {1, Code("GPS\0"), false, "GPS", "code", ""},
      {1, Code("PPS\0"), true, "PPS", "code", ""},
      {1, Code("G\x1b[1"), false, "G?[1", "code", ""},  // no control character shown
      {2, 0xC0000201u, false, "192.0.2.1", "ipv4", ""},
      {3, 0x1A2B3C4Du, true, "0x1a2b3c4d", "ipv6_hash", ""},
      {0, Code("RATE"), false, "RATE", "code", "RATE"},
      {0, Code("DENY"), false, "DENY", "code", "DENY"},
      {0, Code("rate"), false, "rate", "code", ""},       // lower case: no kiss code
      {0, 0x7F000001u, false, "?", "code", ""},          // not letters at all
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    SntpPacket p;
    p.Stratum = c.stratum;
    p.ReferenceId = c.refid;
    const char* kind = nullptr;
    const std::string text = ReferenceIdText(p, c.overIpv6, &kind);
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(std::string(kind), c.kind);
    EXPECT_EQ(KissCode(p), c.kiss);
  }
  EXPECT_NEAR(NtpShortSeconds(0x00018000u), 1.5, 1e-12);
}

// Four exchanges with the real clock, the server slower to answer some of
// them: the quickest round trip is the sample taken.
TEST(SntpClientSamples, TheSampleWithTheLeastDelayIsChosen) {
  const int pauses[] = {60, 5, 90, 40};
  std::atomic<int> asked{0};
  ScriptedNtpPeer peer([&](const std::vector<std::uint8_t>& req) {
    const int n = asked++;
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const NtpTimestamp t = NtpAdd(NtpFromTimespec(now), 5.0);
    return std::vector<Datagram>{{ServerReply(req, t, t), false, pauses[n % 4]}};
  });
  SntpClient client;
  client.Host = "127.0.0.1";
  client.Port = peer.Port();
  client.ReceiveTimeout = 2000;
  client.SampleCount = 4;
  client.SampleSpacingMs = 150;
  client.DateTime();
  ASSERT_EQ(client.Status(), TSntpStatus::Ok);
  ASSERT_EQ(client.Samples().size(), 4u);
  EXPECT_EQ(peer.Requests().size(), 4u);
  EXPECT_EQ(client.Chosen(), 1u);
  for (const NtpSample& s : client.Samples()) EXPECT_GE(s.Measure.Delay, client.Measure().Delay);
  // The server stamps its times when it is done waiting: the later the
  // answer, the more the offset seems to shrink, so the samples spread.
  EXPECT_GT(client.Jitter(), 0.005);
  EXPECT_NEAR(client.Measure().Offset, 5.0, 0.05);
}

// A kiss-o'-death ends the query; after DENY and RSTR the server is not
// asked again, after RATE it is.
TEST_F(SntpClientTest, KissOfDeathEndsTheQueryAndDenyEndsTheServer) {
  struct Case {
    const char* code;
    bool askedAgain;
  } cases[] = {{"DENY", false}, {"RSTR", false}, {"RATE", true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const std::uint32_t refid = (std::uint32_t{static_cast<unsigned char>(c.code[0])} << 24) |
                                (std::uint32_t{static_cast<unsigned char>(c.code[1])} << 16) |
                                (std::uint32_t{static_cast<unsigned char>(c.code[2])} << 8) |
                                static_cast<unsigned char>(c.code[3]);
    ScriptedNtpPeer peer([refid](const std::vector<std::uint8_t>& req) {
      return std::vector<Datagram>{{ReplyWith(req, 0, refid)}};
    });
    Aim(peer);
    client.SampleCount = 3;
    client.SampleSpacingMs = 20;
    EXPECT_EQ(client.DateTime(), 0.0);
    EXPECT_EQ(client.Status(), TSntpStatus::KissOfDeath);
    EXPECT_EQ(client.Kiss(), c.code);
    EXPECT_FALSE(client.KissRemembered());
    EXPECT_EQ(peer.Requests().size(), 1u);

    client.DateTime();
    EXPECT_EQ(client.Status(), TSntpStatus::KissOfDeath);
    EXPECT_EQ(client.Kiss(), c.code);
    EXPECT_EQ(client.KissRemembered(), !c.askedAgain);
    EXPECT_EQ(peer.Requests().size(), c.askedAgain ? 2u : 1u);
  }
}

// NTP's selection: the fewest servers left out so that the rest share a
// point; those outside it are the falsetickers.
TEST(NtpSelection, IntervalsOutsideTheMajoritysIntersectionAreFalsetickers) {
  struct Case {
    const char* what;
    std::vector<NtpInterval> intervals;
    bool agreed;
    std::vector<bool> marked;
  } cases[] = {
      {"three agree", {{-0.01, 0.01}, {0.0, 0.02}, {-0.005, 0.005}}, true, {false, false, false}},
      {"one 10 s off", {{-0.01, 0.01}, {9.99, 10.01}, {-0.002, 0.012}}, true, {false, true, false}},
      {"touching ends agree", {{0.0, 1.0}, {1.0, 2.0}}, true, {false, false}},
      {"two apart: no majority", {{0.0, 1.0}, {5.0, 6.0}}, false, {false, false}},
      {"two of five off", {{0, 2}, {1, 3}, {1.5, 2.5}, {8, 9}, {-9, -8}}, true,
       {false, false, false, true, true}},
      {"one alone", {{3.0, 3.5}}, true, {false}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    bool agreed = !c.agreed;
    EXPECT_EQ(Falsetickers(c.intervals, &agreed), c.marked);
    EXPECT_EQ(agreed, c.agreed);
  }
  // Offset plus or minus half the delay, widened by the readings' precision.
  const NtpInterval i = OffsetInterval({0.5, 0.2}, -20);
  EXPECT_NEAR(i.Low, 0.4 - std::ldexp(1.0, -20) - 1e-6, 1e-12);
  EXPECT_NEAR(i.High, 0.6 + std::ldexp(1.0, -20) + 1e-6, 1e-12);
}
