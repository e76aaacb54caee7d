#include "common/Pump.h"

#include <chrono>
#include <thread>

namespace quovix {
namespace {
std::function<void()>& PumpSlot() {
  static std::function<void()> pump;
  return pump;
}
std::function<bool()>& AbortSlot() {
  static std::function<bool()> check;
  return check;
}
std::chrono::steady_clock::time_point& LastPump() {
  static std::chrono::steady_clock::time_point last;
  return last;
}
std::thread::id& UiThread() {
  static std::thread::id id;
  return id;
}
}  // namespace

void SetMessagePump(std::function<void()> pump) {
  PumpSlot() = std::move(pump);
  UiThread() = std::this_thread::get_id();
}

void ProcessPendingMessages() {
  if (std::this_thread::get_id() != UiThread()) return;
  LastPump() = std::chrono::steady_clock::now();
  // Copy: the pump may install another pump while it runs.
  auto pump = PumpSlot();
  if (pump) pump();
}

void ProcessPendingMessagesIfDue() {
  if (std::this_thread::get_id() != UiThread()) return;
  if (std::chrono::steady_clock::now() - LastPump() >= std::chrono::milliseconds(kWaitSliceMs))
    ProcessPendingMessages();
}

void SetAbortCheck(std::function<bool()> check) { AbortSlot() = std::move(check); }

bool AbortRequested() {
  if (std::this_thread::get_id() != UiThread()) return false;
  const auto& check = AbortSlot();
  return check && check();
}

}  // namespace quovix
