// Minimum, mean, maximum and spread of a series of round trips, gathered
// one at a time in constant memory (an endless run keeps its figures).
#pragma once

#include <cstddef>
#include <optional>

namespace quovix {

class RoundTripStats {
 public:
  void Add(double ms);
  std::size_t Count() const { return n_; }
  // None while nothing was added.
  std::optional<double> Min() const;
  std::optional<double> Max() const;
  std::optional<double> Mean() const;
  // Population standard deviation.
  std::optional<double> StdDev() const;

 private:
  std::size_t n_ = 0;
  double mean_ = 0, m2_ = 0;  // Welford's running mean and sum of squares
  double min_ = 0, max_ = 0;
};

}  // namespace quovix
