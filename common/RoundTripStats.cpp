#include "common/RoundTripStats.h"

#include <algorithm>
#include <cmath>

namespace quovix {

void RoundTripStats::Add(double ms) {
  min_ = n_ == 0 ? ms : std::min(min_, ms);
  max_ = n_ == 0 ? ms : std::max(max_, ms);
  ++n_;
  // The running form stays exact where a sum of squares would lose the
  // spread of many similar values.
  const double d = ms - mean_;
  mean_ += d / static_cast<double>(n_);
  m2_ += d * (ms - mean_);
}

std::optional<double> RoundTripStats::Min() const {
  return n_ ? std::optional<double>(min_) : std::nullopt;
}
std::optional<double> RoundTripStats::Max() const {
  return n_ ? std::optional<double>(max_) : std::nullopt;
}
std::optional<double> RoundTripStats::Mean() const {
  return n_ ? std::optional<double>(mean_) : std::nullopt;
}
std::optional<double> RoundTripStats::StdDev() const {
  if (!n_) return std::nullopt;
  return std::sqrt(std::max(0.0, m2_ / static_cast<double>(n_)));
}

}  // namespace quovix
