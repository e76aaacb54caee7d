// The picture of a finished trace: the round trip of each hop as a bar, a
// hop without answer as a mark. Fed from the fields of the pane's hop
// lines, so a recording draws it as the live run did.
#pragma once

#include <optional>
#include <vector>

#include "app/Controls.h"

namespace quovix {

struct HopSample {
  int Hop = 0;
  std::optional<double> RttMs;  // none: no node answered for it
};

class HopChart {
 public:
  static constexpr int kMaxHop = 255;
  // Takes an output line: a hop line of a trace (a "hop" with "rtt_ms", or
  // with "timeout" or an unreachable "verdict") sets that hop and returns
  // true; the per-hop records of rounds (with "sent") and every other line
  // are ignored.
  bool Add(const TLineFields& fields);
  void Clear() { hops_.clear(); }
  // By hop, each once.
  const std::vector<HopSample>& Hops() const { return hops_; }
  // The value axis in ms, from 0 to a round value over the slowest hop.
  std::vector<double> Ticks() const;

 private:
  std::vector<HopSample> hops_;
};

}  // namespace quovix
