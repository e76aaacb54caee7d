// Several NTP servers asked side by side, and which of them disagree with
// the others: NTP's selection by the intersection of their intervals.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "clients/SntpClient.h"

namespace quovix {

// The interval the true offset lies in by one server's answer: its offset
// plus or minus half the round-trip delay, widened by what the clocks'
// readings may be off by (the server's stated precision, at most a
// millisecond, and a microsecond of ours).
struct NtpInterval {
  double Low = 0, High = 0;  // seconds
};
NtpInterval OffsetInterval(const NtpMeasure& m, std::int8_t precision);

// The falsetickers among the intervals: the fewest servers f (below half)
// whose removal leaves n - f intervals sharing a common point; those whose
// interval misses that intersection are marked. When no majority agrees at
// all, no server can be told a falseticker and agreed is false.
std::vector<bool> Falsetickers(const std::vector<NtpInterval>& intervals, bool* agreed = nullptr);

// One server to ask (its client's Host, Port and settings) and what became
// of it: the client's results, and the time it gave (0: none).
struct NtpServerQuery {
  std::unique_ptr<SntpClient> Client = std::make_unique<SntpClient>();
  double Time = 0;
};

// Asks every server at once and returns when all have their results. The
// user's abort cannot cut the queries short; each ends by its own deadline.
void QueryInParallel(std::vector<NtpServerQuery>& servers);

}  // namespace quovix
