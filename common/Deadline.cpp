#include "common/Deadline.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <thread>

#include "common/Pump.h"

namespace quovix {

Deadline Deadline::In(int ms) {
  return Deadline(Clock::now() + std::chrono::milliseconds(std::max(0, ms)));
}

int Deadline::LeftMs() const {
  const auto left = at_ - Clock::now();
  if (left <= Clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

Deadline Deadline::Within(int ms) const {
  const Deadline step = In(ms);
  return step.at_ < at_ ? step : *this;
}

WaitEnd WaitSliced(const Deadline& deadline, const std::function<bool(int sliceMs)>& waitSlice) {
  for (;;) {
    ProcessPendingMessagesIfDue();
    // An abort asked for before or during the wait ends it before the next
    // slice: nothing that arrives afterwards is wanted any more.
    if (AbortRequested()) return WaitEnd::Aborted;
    // A passed deadline ends the wait even while data keeps coming: a peer
    // that floods cannot keep a loop of waits going.
    const int left = deadline.LeftMs();
    if (left <= 0) return WaitEnd::TimedOut;
    if (waitSlice(std::min(left, kWaitSliceMs))) return WaitEnd::Ready;
    ProcessPendingMessages();
  }
}

WaitEnd WaitForSocket(int fd, short events, const Deadline& deadline) {
  return WaitSliced(deadline, [fd, events](int sliceMs) {
    pollfd p{fd, events, 0};
    const int r = poll(&p, 1, sliceMs);
    return r > 0 || (r < 0 && errno != EINTR);
  });
}

WaitEnd PauseUntil(const Deadline& deadline) {
  return WaitSliced(deadline, [](int sliceMs) {
    if (sliceMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(sliceMs));
    return false;
  });
}

}  // namespace quovix
