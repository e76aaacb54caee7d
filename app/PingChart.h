// The picture of a ping run: the round trip of every echo over time, the
// lost ones as marks on the time axis, their mean and a band of one standard
// deviation around it, and a value axis with round ticks. Fed from the
// fields of the pane's echo lines, so a run read back from a recording draws
// the same chart as the live one; the view only maps it onto pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "app/Controls.h"

namespace quovix {

struct PingSample {
  long long Seq = 0;
  double AtS = 0;               // when the request went out, from the run's start
  std::optional<double> RttMs;  // none: the echo was lost
};

// Ticks from 0 to the first round value at or above top, steps of 1, 2 or
// 5 times a power of ten, about wanted of them (never fewer than two).
std::vector<double> NiceTicks(double top, int wanted = 5);

class PingChart {
 public:
  // Samples kept at most, whatever the time span: an endless run at the
  // shortest pause stays bounded.
  static constexpr std::size_t kMaxSamples = 50000;
  // The time axis of a long run shows its last windowSeconds.
  explicit PingChart(double windowSeconds = 600);

  // Takes an output line: an echo line (one with "seq" and "verdict") adds
  // its sample and returns true; any other line is ignored. The time is the
  // line's "elapsed_ms"; a line without it counts one second per echo.
  bool Add(const TLineFields& fields);
  void Add(const PingSample& s);
  void Clear();

  const std::deque<PingSample>& Samples() const { return samples_; }
  std::size_t Losses() const;
  // Over the samples shown; none without an answered one.
  std::optional<double> Mean() const;
  std::optional<double> StdDev() const;

  // The time axis in seconds: the run so far, or the last window of it.
  double TimeFrom() const;
  double TimeTo() const;
  // The value axis in ms: from 0 to its last tick, which holds every
  // sample and the band.
  std::vector<double> Ticks() const;
  // The axes at once, for mapping every sample of a drawing.
  struct Frame {
    double From = 0, To = 1, Top = 1;
    // Where a time and a value sit on the axes, 0 … 1 (0: left, bottom).
    double X(double atS) const;
    double Y(double ms) const;
  };
  Frame Axes() const;

  // Counts every change: a view redraws when it differs from what it drew.
  std::uint64_t Revision() const { return revision_; }

 private:
  double window_;
  std::deque<PingSample> samples_;
  std::uint64_t revision_ = 0;
};

}  // namespace quovix
