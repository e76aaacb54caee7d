#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <optional>
#include <vector>

#include "app/formMain.h"
#include "common/TraceRounds.h"
#include "icmp_test_util.h"
#include "platform/Icmp.h"

using namespace quovix;
using namespace quovix::icmptest;

namespace {

using Samples = std::vector<std::optional<double>>;

TraceRounds OneHop(const Samples& samples) {
  TraceRounds t;
  for (const auto& s : samples) {
    t.Record(1, s, "192.0.2.1");
    t.EndRound();
  }
  return t;
}

// The figures by their definitions, over the answered samples.
struct Figures {
  double Loss, Avg, Best, Worst, StdDev;
};
Figures ByDefinition(const Samples& samples) {
  std::vector<double> known;
  for (const auto& s : samples)
    if (s) known.push_back(*s);
  Figures f{};
  f.Loss = 100.0 * static_cast<double>(samples.size() - known.size()) / samples.size();
  if (known.empty()) return f;
  f.Best = f.Worst = known[0];
  for (double v : known) {
    f.Avg += v / known.size();
    f.Best = std::min(f.Best, v);
    f.Worst = std::max(f.Worst, v);
  }
  for (double v : known) f.StdDev += (v - f.Avg) * (v - f.Avg) / known.size();
  f.StdDev = std::sqrt(f.StdDev);
  return f;
}

}  // namespace

TEST(TraceRoundsFigures, LossAverageBestWorstAndSpreadOverTheAnsweredRounds) {
  const Samples cases[] = {
      {10.0, 20.0, std::nullopt, 30.0},
      {5.0},
      {std::nullopt, std::nullopt},
      {1.0, 1.0, 1.0, 100.0, std::nullopt, std::nullopt},
  };
  for (const Samples& samples : cases) {
    const TraceRounds t = OneHop(samples);
    ASSERT_EQ(t.Rows().size(), 1u);
    const TraceHopRow& row = t.Rows()[0];
    const Figures want = ByDefinition(samples);
    EXPECT_EQ(row.Sent, static_cast<int>(samples.size()));
    EXPECT_DOUBLE_EQ(row.LossPct(), want.Loss);
    EXPECT_EQ(row.Samples, samples);
    if (want.Loss == 100.0) {
      EXPECT_FALSE(row.Average() || row.Best() || row.Worst() || row.StdDev() || row.Last);
      continue;
    }
    EXPECT_NEAR(*row.Average(), want.Avg, 1e-9);
    EXPECT_EQ(*row.Best(), want.Best);
    EXPECT_EQ(*row.Worst(), want.Worst);
    EXPECT_NEAR(*row.StdDev(), want.StdDev, 1e-9);
  }
}

TEST(TraceRoundsFigures, LossIsTheRoutersOwnOnlyWhenAHopBehindLosesNothing) {
  // Per hop: probes answered of 4. Expected kind of each hop.
  const struct {
    std::vector<int> answered;
    std::vector<HopLoss> kinds;
  } cases[] = {
      {{4, 2, 4, 4}, {HopLoss::None, HopLoss::RouterOnly, HopLoss::None, HopLoss::None}},
      {{4, 2, 3, 3}, {HopLoss::None, HopLoss::Path, HopLoss::Path, HopLoss::Path}},
      {{4, 4, 4, 1}, {HopLoss::None, HopLoss::None, HopLoss::None, HopLoss::Path}},
      {{3, 4, 2, 4}, {HopLoss::RouterOnly, HopLoss::None, HopLoss::RouterOnly, HopLoss::None}},
      // A router that never answers tells nothing about the path behind it.
      {{4, 2, 0, 4}, {HopLoss::None, HopLoss::RouterOnly, HopLoss::RouterOnly, HopLoss::None}},
      {{4, 3, 0, 0}, {HopLoss::None, HopLoss::Path, HopLoss::Path, HopLoss::Path}},
      // Two rate-limited routers in a row, or a silent one in front of a
      // rate-limited one: the target that lost nothing clears them all.
      {{4, 2, 3, 4}, {HopLoss::None, HopLoss::RouterOnly, HopLoss::RouterOnly, HopLoss::None}},
      {{4, 0, 2, 4}, {HopLoss::None, HopLoss::RouterOnly, HopLoss::RouterOnly, HopLoss::None}},
  };
  for (const auto& c : cases) {
    TraceRounds t;
    for (int round = 0; round < 4; ++round) {
      for (std::size_t hop = 0; hop < c.answered.size(); ++hop)
        t.Record(static_cast<int>(hop) + 1,
                 round < c.answered[hop] ? std::optional<double>(1.0) : std::nullopt, "192.0.2.9");
      t.EndRound();
    }
    for (std::size_t hop = 0; hop < c.kinds.size(); ++hop)
      EXPECT_EQ(t.LossOf(hop), c.kinds[hop]) << "hop " << hop + 1;
  }
}

TEST(TraceRoundsFigures, NodesOfAHopWithTheirSharesAndABoundedHistory) {
  TraceRounds t;
  const char* from[] = {"192.0.2.1", "192.0.2.2", "192.0.2.1", "192.0.2.1"};
  for (const char* a : from) t.Record(1, 2.0, a);
  const auto& hosts = t.Rows()[0].Hosts;
  ASSERT_EQ(hosts.size(), 2u);
  EXPECT_EQ(hosts[0].Address, "192.0.2.1");
  EXPECT_DOUBLE_EQ(t.Rows()[0].SharePct(hosts[0]), 75.0);
  EXPECT_DOUBLE_EQ(t.Rows()[0].SharePct(hosts[1]), 25.0);
  for (std::size_t i = 0; i < TraceRounds::kMaxSamples + 10; ++i) t.Record(2, 1.0, "192.0.2.5");
  EXPECT_EQ(t.Rows()[1].Samples.size(), TraceRounds::kMaxSamples);
  EXPECT_EQ(t.Rows()[1].Sent, static_cast<int>(TraceRounds::kMaxSamples + 10));
}

TEST(TraceRoundsFigures, BarScalesToTheLargestRoundTripAndShowsMissingOnesAsGaps) {
  const struct {
    Samples samples;
    std::size_t last;
    std::string bar;
  } cases[] = {
      {{1.0, 7.0, std::nullopt, 3.5}, 10, "▂█ ▅"},
      {{1.0, 2.0, 4.0}, 2, "▅█"},
      {{0.0, 0.0}, 5, "▁▁"},
  };
  for (const auto& c : cases) EXPECT_EQ(RoundTripBar(c.samples, c.last), c.bar);
}

// ---- The tool in rounds, against a scripted ICMP service ------------------------

namespace {

struct RoundsForm : ::testing::Test {
  TfrmMain f;
  FakeIcmp icmp;
  platform::ScopedSeam<platform::IIcmp> seam{&icmp};
  void SetUp() override {
    f.cmbTraceHost.SetText("203.0.113.2");
    f.cmbTraceTimeout.SetText("100");
    f.chkTraceResolve.SetCheckedSilently(false);
    f.chkTraceContinuous.SetCheckedSilently(true);
    f.TraceIntervalMs = 0;
    // Hop 1 answers from two routers in turn, hop 2 is the target.
    icmp.Responder = [n = 0](const FakeIcmp::Call& c) mutable {
      if (c.Ttl >= 2) return EchoReply("203.0.113.2", "AAAAAAAA", 4);
      return StatusReply(kIcmpTtlExpiredTransit, ++n % 2 ? "192.0.2.1" : "192.0.2.7", 2);
    };
  }
};

}  // namespace

TEST_F(RoundsForm, TableIsUpdatedInPlaceRoundAfterRoundAndReportedOnce) {
  f.TraceRoundCount = 4;
  std::vector<std::string> sentOfHop2;
  std::size_t mostRows = 0;
  f.ProcessMessages = [&] {
    const auto& rows = f.lvTraceRounds.Rows();
    mostRows = std::max(mostRows, rows.size());
    if (rows.size() == 2 && (sentOfHop2.empty() || sentOfHop2.back() != rows[1][4]))
      sentOfHop2.push_back(rows[1][4]);
  };
  f.btnTraceStartClick();
  EXPECT_EQ(mostRows, 2u);
  EXPECT_EQ(sentOfHop2, (std::vector<std::string>{"1", "2", "3", "4"}));
  EXPECT_TRUE(f.lvTraceRounds.Visible());
  ASSERT_EQ(f.lvTraceRounds.Rows().size(), 2u);
  EXPECT_EQ(f.lvTraceRounds.Rows()[0][1], "192.0.2.1 50 %, 192.0.2.7 50 %");
  EXPECT_EQ(f.lvTraceRounds.Rows()[1][3], "0.0");
  // The report: the table once after the rounds, one record per hop.
  int records = 0;
  for (const auto& l : f.reTrace.Lines())
    if (FindField(l.Fields, "samples")) {
      ++records;
      EXPECT_EQ(FindField(l.Fields, "samples")->AsList().size(), 4u);
      EXPECT_EQ(FindField(l.Fields, "loss")->AsText(), "none");
    }
  EXPECT_EQ(records, 2);
  EXPECT_EQ(icmp.Calls.size(), 8u);
}

TEST_F(RoundsForm, AbortEndsAnEndlessRunWithinTwoHundredMillisecondsAndKeepsTheTable) {
  f.TraceRoundCount = 0;
  f.TraceIntervalMs = 5000;
  std::chrono::steady_clock::time_point clicked{};
  f.ProcessMessages = [&] {
    if (clicked == std::chrono::steady_clock::time_point{} && f.TraceTable.Rounds() == 1) {
      clicked = std::chrono::steady_clock::now();
      f.btnTraceStart.Click();
    }
  };
  f.btnTraceStartClick();
  const auto took = std::chrono::steady_clock::now() - clicked;
  EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(took).count(), 200);
  EXPECT_EQ(f.TraceTable.Rounds(), 1);
  EXPECT_TRUE(f.lvTraceRounds.Visible());
  EXPECT_EQ(f.lvTraceRounds.Rows().size(), 2u);
  EXPECT_EQ(f.reTrace.Lines().back().Text, "Abbruch durch Benutzer.");
}
