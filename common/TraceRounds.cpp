#include "common/TraceRounds.h"

#include <algorithm>
#include <cmath>

#include "common/RoundTripStats.h"

namespace quovix {

namespace {

RoundTripStats StatsOf(const std::vector<std::optional<double>>& samples) {
  RoundTripStats stats;
  for (const auto& s : samples)
    if (s) stats.Add(*s);
  return stats;
}

}  // namespace

double TraceHopRow::LossPct() const {
  return Sent > 0 ? 100.0 * static_cast<double>(Sent - Received) / Sent : 0.0;
}

std::optional<double> TraceHopRow::Average() const { return StatsOf(Samples).Mean(); }
std::optional<double> TraceHopRow::Best() const { return StatsOf(Samples).Min(); }
std::optional<double> TraceHopRow::Worst() const { return StatsOf(Samples).Max(); }
std::optional<double> TraceHopRow::StdDev() const { return StatsOf(Samples).StdDev(); }

double TraceHopRow::SharePct(const Host& h) const {
  return Received > 0 ? 100.0 * h.Answers / Received : 0.0;
}

TraceHopRow& TraceRounds::RowOf(int hop) {
  while (static_cast<int>(rows_.size()) < hop) {
    rows_.emplace_back();
    rows_.back().Hop = static_cast<int>(rows_.size());
  }
  return rows_[static_cast<std::size_t>(hop - 1)];
}

void TraceRounds::Record(int hop, std::optional<double> rttMs, const std::string& from) {
  if (hop < 1 || hop > 255) return;
  TraceHopRow& row = RowOf(hop);
  ++row.Sent;
  if (rttMs) {
    ++row.Received;
    row.Last = rttMs;
    auto it = std::find_if(row.Hosts.begin(), row.Hosts.end(),
                           [&](const TraceHopRow::Host& h) { return h.Address == from; });
    if (it == row.Hosts.end()) {
      row.Hosts.push_back({from, {}, 0});
      it = row.Hosts.end() - 1;
    }
    ++it->Answers;
  }
  row.Samples.push_back(rttMs);
  if (row.Samples.size() > kMaxSamples) row.Samples.erase(row.Samples.begin());
  ++revision_;
}

void TraceRounds::EndAt(int hop) {
  if (hop >= 1 && static_cast<int>(rows_.size()) > hop) {
    rows_.resize(static_cast<std::size_t>(hop));
    ++revision_;
  }
}

void TraceRounds::SetName(const std::string& address, const std::string& name) {
  for (auto& row : rows_)
    for (auto& h : row.Hosts)
      if (h.Address == address && h.Name != name) {
        h.Name = name;
        ++revision_;
      }
}

HopLoss TraceRounds::LossOf(std::size_t row) const {
  if (row >= rows_.size() || rows_[row].Received == rows_[row].Sent) return HopLoss::None;
  // A hop behind that answered every probe proves that every probe passed
  // this router: its own loss is then only answers it left out (rate-limited
  // ICMP), even when a router between the two leaves some out as well.
  // Without such a witness the loss counts as the path's.
  for (std::size_t i = row + 1; i < rows_.size(); ++i)
    if (rows_[i].Sent > 0 && rows_[i].Received == rows_[i].Sent) return HopLoss::RouterOnly;
  return HopLoss::Path;
}

std::string RoundTripBar(const std::vector<std::optional<double>>& samples, std::size_t last) {
  static const char* const kBlocks[] = {"▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
  const std::size_t from = samples.size() > last ? samples.size() - last : 0;
  double top = 0;
  for (std::size_t i = from; i < samples.size(); ++i)
    if (samples[i]) top = std::max(top, *samples[i]);
  std::string bar;
  for (std::size_t i = from; i < samples.size(); ++i) {
    if (!samples[i]) {
      bar += ' ';
      continue;
    }
    const int level = top > 0 ? static_cast<int>(std::lround(*samples[i] / top * 7.0)) : 0;
    bar += kBlocks[std::clamp(level, 0, 7)];
  }
  return bar;
}

}  // namespace quovix
