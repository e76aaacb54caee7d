#include "common/Pump.h"

#include <thread>

namespace quovix {
namespace {
std::function<void()>& PumpSlot() {
  static std::function<void()> pump;
  return pump;
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
  // Copy: the pump may install another pump while it runs.
  auto pump = PumpSlot();
  if (pump) pump();
}

}  // namespace quovix
