// One time limit for a whole exchange, and the waits that honour it: in
// slices of at most kWaitSliceMs with the message pump in between, ended
// early when the user asks the running work to stop. Every client waits
// through these, so a peer that dribbles its answer byte by byte cannot
// stretch an exchange beyond its limit, and an abort click, a close request
// or Ctrl+C ends any wait within one slice.
#pragma once

#include <chrono>
#include <functional>

namespace quovix {

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  // ms from now; 0 or less: already passed.
  static Deadline In(int ms);
  static Deadline At(Clock::time_point when) { return Deadline(when); }

  Clock::time_point When() const { return at_; }
  bool Passed() const { return Clock::now() >= at_; }
  // Milliseconds left, 0 once passed (rounded up, so a wait of LeftMs()
  // never ends before the deadline).
  int LeftMs() const;
  // The earlier of this deadline and one ms from now: a step inside an
  // exchange with a limit of its own.
  Deadline Within(int ms) const;

 private:
  explicit Deadline(Clock::time_point at) : at_(at) {}
  Clock::time_point at_;
};

enum class WaitEnd {
  Ready,     // what was waited for has happened
  TimedOut,  // the deadline passed first
  Aborted,   // the user asked the running work to stop
};

// Waits until waitSlice reports success, the deadline passes or an abort is
// requested; a deadline already passed gives TimedOut without a look.
// waitSlice waits for at most the milliseconds it is given (1 to
// kWaitSliceMs) and returns true when what is waited for has happened.
// Pending window messages run between slices.
WaitEnd WaitSliced(const Deadline& deadline, const std::function<bool(int sliceMs)>& waitSlice);

// Waits until fd is ready for events (poll). An error or hang-up on the
// socket counts as ready: the next call on it reports what happened.
WaitEnd WaitForSocket(int fd, short events, const Deadline& deadline);

// A pause until the deadline that keeps the window alive and ends at once
// when an abort is requested (Aborted) — TimedOut when it ran to its end.
WaitEnd PauseUntil(const Deadline& deadline);

}  // namespace quovix
