// The message pump that long waits run between their slices, so the window
// keeps painting and an abort click gets through. The front end installs it.
#pragma once

#include <functional>

namespace quovix {

// Installs the pump (empty function: none) for the calling thread, which
// becomes the user-interface thread.
void SetMessagePump(std::function<void()> pump);
// Runs the pump when called on the user-interface thread; does nothing on
// any other thread or when no pump is installed.
void ProcessPendingMessages();

// Longest single wait slice of a blocking network wait, in milliseconds.
constexpr int kWaitSliceMs = 250;

}  // namespace quovix
