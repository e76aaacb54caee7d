#include "common/Pump.h"

#include <thread>

namespace quovix {
namespace {
using Clock = std::chrono::steady_clock;

std::function<void()>& PumpSlot() {
  static std::function<void()> pump;
  return pump;
}
std::function<bool()>& AbortSlot() {
  static std::function<bool()> check;
  return check;
}
std::function<Clock::time_point()>& ClockSlot() {
  static std::function<Clock::time_point()> clock;
  return clock;
}
Clock::time_point Now() { return ClockSlot() ? ClockSlot()() : Clock::now(); }
Clock::time_point& LastPump() {
  static Clock::time_point last;
  return last;
}
// Output was added since the pump last ran.
bool& OutputWaiting() {
  static bool waiting = false;
  return waiting;
}
std::thread::id& UiThread() {
  static std::thread::id id;
  return id;
}
// The stop flag of the calling worker thread's work, if it was given one.
const std::atomic<bool>*& WorkerStopFlag() {
  thread_local const std::atomic<bool>* flag = nullptr;
  return flag;
}
}  // namespace

void SetMessagePump(std::function<void()> pump) {
  PumpSlot() = std::move(pump);
  UiThread() = std::this_thread::get_id();
}

void ProcessPendingMessages() {
  if (std::this_thread::get_id() != UiThread()) return;
  NotePumped();
  // Copy: the pump may install another pump while it runs.
  auto pump = PumpSlot();
  if (pump) pump();
}

void ProcessPendingMessagesIfDue() {
  if (std::this_thread::get_id() != UiThread()) return;
  if (OutputWaiting() || Now() - LastPump() >= std::chrono::milliseconds(kWaitSliceMs))
    ProcessPendingMessages();
}

bool OutputPumpDue() {
  if (Now() - LastPump() >= std::chrono::milliseconds(kFrameMs)) return true;
  OutputWaiting() = true;
  return false;
}

void NotePumped() {
  LastPump() = Now();
  OutputWaiting() = false;
}

void SetPumpClock(std::function<Clock::time_point()> clock) { ClockSlot() = std::move(clock); }

void SetAbortCheck(std::function<bool()> check) { AbortSlot() = std::move(check); }

WorkerStop::WorkerStop(const std::atomic<bool>& stop) : previous_(WorkerStopFlag()) {
  WorkerStopFlag() = &stop;
}

WorkerStop::~WorkerStop() { WorkerStopFlag() = previous_; }

bool AbortRequested() {
  if (std::this_thread::get_id() != UiThread()) {
    const std::atomic<bool>* stop = WorkerStopFlag();
    return stop && stop->load();
  }
  const auto& check = AbortSlot();
  return check && check();
}

}  // namespace quovix
