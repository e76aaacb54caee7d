// The figures of a trace measured round after round: per hop the nodes
// that answered (with their share), the round trip of every round, and loss,
// last, average, best, worst and spread over the rounds answered. Knows no
// toolkit: the window's table and the console's report are drawn from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quovix {

// What the loss of a hop means.
enum class HopLoss : std::uint8_t {
  None,        // every probe answered
  RouterOnly,  // a hop behind it answered every probe: the router leaves
               // probes unanswered (rate-limited answers), the path is clean
  Path,        // packets are lost on the way (no hop behind it answered
               // every probe)
};

struct TraceHopRow {
  struct Host {
    std::string Address;
    std::string Name;  // empty when unknown
    int Answers = 0;
  };
  int Hop = 0;
  std::vector<Host> Hosts;  // in the order they first answered
  int Sent = 0;
  int Received = 0;
  // Round trip in ms of each round kept, oldest first; none: no answer.
  std::vector<std::optional<double>> Samples;
  std::optional<double> Last;  // of the last round that got an answer

  // Of all rounds.
  double LossPct() const;
  // Over the answered rounds kept; none when no round was answered.
  std::optional<double> Average() const;
  std::optional<double> Best() const;
  std::optional<double> Worst() const;
  // Population standard deviation.
  std::optional<double> StdDev() const;
  // A host's share of the answers in percent.
  double SharePct(const Host& h) const;
};

class TraceRounds {
 public:
  // Samples kept per hop: a run until aborted stays bounded.
  static constexpr std::size_t kMaxSamples = 1000;

  // One probe of the current round: its round trip and the node that
  // answered, or none for a probe that got no answer.
  void Record(int hop, std::optional<double> rttMs, const std::string& from = {});
  // No hop at or behind this one is part of the route (the target was
  // reached there, or a router said it is unreachable).
  void EndAt(int hop);
  // Names a node (the look-up comes later than its first answer).
  void SetName(const std::string& address, const std::string& name);
  // A round is complete.
  void EndRound() { ++rounds_; ++revision_; }

  const std::vector<TraceHopRow>& Rows() const { return rows_; }
  int Rounds() const { return rounds_; }
  // Counts every change: a view redraws when it differs from the one it drew.
  std::uint64_t Revision() const { return revision_; }
  HopLoss LossOf(std::size_t row) const;

 private:
  TraceHopRow& RowOf(int hop);
  std::vector<TraceHopRow> rows_;  // by hop, 1 first
  int rounds_ = 0;
  std::uint64_t revision_ = 0;
};

// A small bar of round trips, one block character per sample (none: a
// space), scaled to the largest of them: "▁▃█ ▂".
std::string RoundTripBar(const std::vector<std::optional<double>>& samples, std::size_t last);

}  // namespace quovix
