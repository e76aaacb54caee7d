// The chart model of a ping run and the round-trip figures it shares with
// the Ping tool: which lines become samples, the axes, the scrolling
// window of an endless run, and the statistics.
#include <gtest/gtest.h>

#include <cmath>

#include "app/HopChart.h"
#include "app/PingChart.h"
#include "common/RoundTripStats.h"

using namespace quovix;

TEST(PingChart, EchoLinesBecomeSamplesAndEveryOtherLineIsIgnored) {
  struct Case {
    const char* what;
    TLineFields fields;
    bool taken;
    std::optional<double> rtt;
    double atS;
  };
  const Case cases[] = {
      {"answer", {{"seq", 1}, {"elapsed_ms", 250}, {"rtt_ms", 1.25}, {"verdict", "ok"}}, true, 1.25, 0.25},
      {"whole ms", {{"seq", 2}, {"elapsed_ms", 500}, {"rtt_ms", 3}, {"verdict", "data_changed"}}, true, 3.0, 0.5},
      {"timeout", {{"seq", 3}, {"elapsed_ms", 2750}, {"verdict", "timeout"}}, true, std::nullopt, 2.75},
      {"unreachable", {{"seq", 4}, {"verdict", "unreachable"}, {"reason", "host"}}, true, std::nullopt, 3},
      {"no time: a second per echo", {{"seq", 9}, {"rtt_ms", 2.0}, {"verdict", "size_differs"}}, true, 2.0, 8},
      {"answer without its time", {{"seq", 5}, {"verdict", "ok"}}, false, std::nullopt, 0},
      {"negative time", {{"seq", 5}, {"rtt_ms", -1.0}, {"verdict", "ok"}}, false, std::nullopt, 0},
      {"foreign verdict", {{"seq", 5}, {"rtt_ms", 1.0}, {"verdict", "maybe"}}, false, std::nullopt, 0},
      {"no seq (tally)", {{"sent", 3}, {"verdict", "ok"}, {"rtt_ms", 1.0}}, false, std::nullopt, 0},
      {"text line", {}, false, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    PingChart chart;
    EXPECT_EQ(chart.Add(c.fields), c.taken) << c.what;
    ASSERT_EQ(chart.Samples().size(), c.taken ? 1u : 0u) << c.what;
    if (!c.taken) continue;
    EXPECT_EQ(chart.Samples()[0].RttMs, c.rtt) << c.what;
    EXPECT_DOUBLE_EQ(chart.Samples()[0].AtS, c.atS) << c.what;
  }
}

TEST(PingChart, ValueTicksAreRoundStepsThatHoldTheTop) {
  const std::pair<double, std::vector<double>> cases[] = {
      {0, {0, 0.5, 1}},                 // nothing yet: a unit axis
      {7.3, {0, 2, 4, 6, 8}},
      {100, {0, 50, 100}},
      {0.42, {0, 0.2, 0.4, 0.6}},
      {1234, {0, 500, 1000, 1500}},
      {std::nan(""), {0, 0.5, 1}},
  };
  for (const auto& [top, want] : cases) {
    const std::vector<double> got = NiceTicks(top);
    ASSERT_EQ(got.size(), want.size()) << top;
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-9) << top;
  }
}

TEST(PingChart, MeanBandLossesAndAxesFollowTheSamples) {
  PingChart chart;
  for (auto [at, rtt] : std::vector<std::pair<double, std::optional<double>>>{
           {0, 10.0}, {1, std::nullopt}, {2, 20.0}, {3, 30.0}, {4, std::nullopt}})
    chart.Add(PingSample{static_cast<long long>(at) + 1, at, rtt});
  EXPECT_EQ(chart.Losses(), 2u);
  EXPECT_DOUBLE_EQ(*chart.Mean(), 20.0);
  EXPECT_NEAR(*chart.StdDev(), std::sqrt(200.0 / 3), 1e-9);
  // The top holds the largest sample and the band (20 + 8.2).
  EXPECT_EQ(chart.Ticks(), (std::vector<double>{0, 10, 20, 30}));
  const PingChart::Frame f = chart.Axes();
  EXPECT_DOUBLE_EQ(f.X(0), 0);
  EXPECT_DOUBLE_EQ(f.X(2), 0.5);
  EXPECT_DOUBLE_EQ(f.X(4), 1);
  EXPECT_DOUBLE_EQ(f.Y(15), 0.5);
  EXPECT_DOUBLE_EQ(f.Y(99), 1);  // clamped to the plot
  chart.Clear();
  EXPECT_TRUE(chart.Samples().empty());
  EXPECT_FALSE(chart.Mean());
}

TEST(PingChart, AnEndlessRunScrollsOverItsLastWindowInBoundedMemory) {
  PingChart chart(60);
  for (int s = 0; s <= 200; ++s) chart.Add(PingSample{s + 1, static_cast<double>(s), 1.0 + s % 3});
  EXPECT_DOUBLE_EQ(chart.TimeFrom(), 140);
  EXPECT_DOUBLE_EQ(chart.TimeTo(), 200);
  EXPECT_DOUBLE_EQ(chart.Samples().front().AtS, 140);
  EXPECT_EQ(chart.Samples().size(), 61u);

  // The shortest pause: the count bounds what is kept.
  PingChart fast(600);
  for (std::size_t i = 0; i < PingChart::kMaxSamples + 500; ++i)
    fast.Add(PingSample{static_cast<long long>(i) + 1, i * 0.001, 0.05});
  EXPECT_EQ(fast.Samples().size(), PingChart::kMaxSamples);
  EXPECT_EQ(fast.Samples().back().Seq, static_cast<long long>(PingChart::kMaxSamples + 500));
}

TEST(RoundTripStats, FiguresOfASeries) {
  struct Case {
    std::vector<double> ms;
    double min, mean, max, sd;
  };
  const Case cases[] = {
      {{5}, 5, 5, 5, 0},
      {{0, 7, 1234}, 0, 413.0 + 2.0 / 3, 1234, 580.0703},
      {{1.5, 2.3}, 1.5, 1.9, 2.3, 0.4},
      // Large values close together keep their spread.
      {{1e9 + 1, 1e9 + 2, 1e9 + 3}, 1e9 + 1, 1e9 + 2, 1e9 + 3, 0.8165},
  };
  for (const Case& c : cases) {
    RoundTripStats s;
    for (double v : c.ms) s.Add(v);
    EXPECT_EQ(s.Count(), c.ms.size());
    EXPECT_DOUBLE_EQ(*s.Min(), c.min);
    EXPECT_NEAR(*s.Mean(), c.mean, 1e-6);
    EXPECT_DOUBLE_EQ(*s.Max(), c.max);
    EXPECT_NEAR(*s.StdDev(), c.sd, 1e-4);
  }
  EXPECT_FALSE(RoundTripStats().Mean());
  EXPECT_FALSE(RoundTripStats().StdDev());
}

TEST(HopChart, HopLinesOfAClassicTraceBecomeOneBarEachInHopOrder) {
  HopChart chart;
  const std::pair<TLineFields, bool> lines[] = {
      {{{"hop", 2}, {"address", "192.0.2.2"}, {"rtt_ms", 12}}, true},
      {{{"hop", 1}, {"address", "192.0.2.1"}, {"rtt_ms", 1.5}}, true},
      {{{"hop", 3}, {"address", TLineValue()}, {"timeout", true}}, true},
      {{{"hop", 4}, {"address", "192.0.2.4"}, {"verdict", "unreachable"}, {"reason", "host"}}, true},
      {{{"hop", 2}, {"address", "192.0.2.2"}, {"rtt_ms", 30.0}}, true},  // the hop again: replaced
      {{{"hop", 5}, {"sent", 10}, {"rtt_ms", 3.0}}, false},               // a rounds record
      {{{"hop", 0}, {"rtt_ms", 3.0}}, false},
      {{{"hop", 256}, {"rtt_ms", 3.0}}, false},
      {{{"hop", 6}, {"address", "192.0.2.6"}}, false},                     // nothing to draw
      {{{"hop", 7}, {"rtt_ms", -2.0}}, false},
  };
  for (const auto& [fields, taken] : lines) EXPECT_EQ(chart.Add(fields), taken);
  ASSERT_EQ(chart.Hops().size(), 4u);
  const std::pair<int, std::optional<double>> want[] = {{1, 1.5}, {2, 30.0}, {3, std::nullopt}, {4, std::nullopt}};
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(chart.Hops()[i].Hop, want[i].first);
    EXPECT_EQ(chart.Hops()[i].RttMs, want[i].second);
  }
  EXPECT_EQ(chart.Ticks(), (std::vector<double>{0, 10, 20, 30}));
}
