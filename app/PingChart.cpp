#include "app/PingChart.h"

#include <algorithm>
#include <cmath>

#include "common/RoundTripStats.h"

namespace quovix {

namespace {

std::optional<double> Number(const TLineFields& fields, const char* name) {
  const TLineValue* v = FindField(fields, name);
  if (!v) return std::nullopt;
  if (v->Kind() == TLineValue::TKind::Real) return v->AsReal();
  if (v->Kind() == TLineValue::TKind::Integer) return static_cast<double>(v->AsInteger());
  return std::nullopt;
}

RoundTripStats StatsOf(const std::deque<PingSample>& samples) {
  RoundTripStats stats;
  for (const PingSample& s : samples)
    if (s.RttMs) stats.Add(*s.RttMs);
  return stats;
}

}  // namespace

std::vector<double> NiceTicks(double top, int wanted) {
  if (!(top > 0) || !std::isfinite(top)) top = 1;
  wanted = std::max(wanted, 2);
  const double raw = top / (wanted - 1);
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  double step = 10 * power;
  for (double m : {1.0, 2.0, 5.0})
    if (m * power >= raw * (1 - 1e-9)) {
      step = m * power;
      break;
    }
  std::vector<double> ticks;
  // Bounded: top / step is below wanted by the choice of step.
  for (int i = 0; ticks.empty() || ticks.back() < top * (1 - 1e-9); ++i) ticks.push_back(i * step);
  if (ticks.size() < 2) ticks.push_back(step);
  return ticks;
}

PingChart::PingChart(double windowSeconds) : window_(std::max(windowSeconds, 1.0)) {}

bool PingChart::Add(const TLineFields& fields) {
  const std::optional<double> seq = Number(fields, "seq");
  const TLineValue* verdict = FindField(fields, "verdict");
  if (!seq || !verdict || verdict->Kind() != TLineValue::TKind::Text) return false;
  const std::string& v = verdict->AsText();
  PingSample s;
  s.Seq = static_cast<long long>(*seq);
  const std::optional<double> elapsed = Number(fields, "elapsed_ms");
  s.AtS = elapsed ? *elapsed / 1000.0 : *seq - 1;
  if (v == "ok" || v == "size_differs" || v == "data_changed") {
    s.RttMs = Number(fields, "rtt_ms");
    // An answer without its round trip says nothing the chart could show.
    if (!s.RttMs || !(*s.RttMs >= 0) || !std::isfinite(*s.RttMs)) return false;
  } else if (v != "timeout" && v != "unreachable") {
    return false;
  }
  if (!std::isfinite(s.AtS)) return false;
  Add(s);
  return true;
}

void PingChart::Add(const PingSample& s) {
  samples_.push_back(s);
  const double latest = samples_.back().AtS;
  while (samples_.size() > kMaxSamples || (samples_.size() > 1 && samples_.front().AtS < latest - window_))
    samples_.pop_front();
  ++revision_;
}

void PingChart::Clear() {
  samples_.clear();
  ++revision_;
}

std::size_t PingChart::Losses() const {
  return static_cast<std::size_t>(
      std::count_if(samples_.begin(), samples_.end(), [](const PingSample& s) { return !s.RttMs; }));
}

std::optional<double> PingChart::Mean() const { return StatsOf(samples_).Mean(); }
std::optional<double> PingChart::StdDev() const { return StatsOf(samples_).StdDev(); }

double PingChart::TimeFrom() const {
  if (samples_.empty()) return 0;
  const double latest = samples_.back().AtS;
  return latest > window_ ? latest - window_ : std::min(0.0, samples_.front().AtS);
}

double PingChart::TimeTo() const {
  const double from = TimeFrom();
  return samples_.empty() ? from + 1 : std::max(samples_.back().AtS, from + 1);
}

std::vector<double> PingChart::Ticks() const {
  const RoundTripStats stats = StatsOf(samples_);
  double top = stats.Max().value_or(0);
  if (stats.Count() > 0) top = std::max(top, *stats.Mean() + *stats.StdDev());
  return NiceTicks(top);
}

PingChart::Frame PingChart::Axes() const { return {TimeFrom(), TimeTo(), Ticks().back()}; }

double PingChart::Frame::X(double atS) const {
  return std::clamp((atS - From) / (To - From), 0.0, 1.0);
}

double PingChart::Frame::Y(double ms) const { return std::clamp(ms / Top, 0.0, 1.0); }

}  // namespace quovix
