// The message pump that long waits run between their slices, so the window
// keeps painting and an abort click gets through. The front end installs it.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>

namespace quovix {

// Installs the pump (empty function: none) for the calling thread, which
// becomes the user-interface thread.
void SetMessagePump(std::function<void()> pump);
// Runs the pump when called on the user-interface thread; does nothing on
// any other thread or when no pump is installed.
void ProcessPendingMessages();
// The same when the pump last ran a wait slice ago or longer: waits call it
// also while data keeps arriving, so a peer that sends a byte now and then
// neither freezes the window nor hides an abort click.
// A wait that begins runs it as well when output is still waiting for its
// frame (see OutputPumpDue).
void ProcessPendingMessagesIfDue();

// Output was added: true when the pump last ran a frame (kFrameMs) ago or
// longer, and the caller is to run it now. Otherwise the output waits for
// the next line a frame later or for the next wait, whichever comes first:
// a run that prints many lines at once is painted once per frame, not once
// per line.
bool OutputPumpDue();
// The pump has run (a front end's own call of it counts as well).
void NotePumped();

// The clock the pump's timing reads; empty: the steady clock. For tests
// that count pumps without depending on the machine's speed.
void SetPumpClock(std::function<std::chrono::steady_clock::time_point()> clock);

// Installs the question the waits ask between their slices: has the user
// asked the running work to stop (an abort click, a close request, Ctrl+C)?
// Empty function: never.
void SetAbortCheck(std::function<bool()> check);
// The answer on the user-interface thread; on another thread the stop flag
// its work was given (see WorkerStop), else false: such work is bounded by
// its own limits.
bool AbortRequested();

// While it lives, AbortRequested on the thread that made it reads the flag:
// work on a worker thread (which never pumps) then ends its waits within a
// slice once the user-interface thread sets the flag.
class WorkerStop {
 public:
  explicit WorkerStop(const std::atomic<bool>& stop);
  ~WorkerStop();
  WorkerStop(const WorkerStop&) = delete;
  WorkerStop& operator=(const WorkerStop&) = delete;

 private:
  const std::atomic<bool>* previous_;
};

// Longest single wait slice of a blocking network wait, in milliseconds.
constexpr int kWaitSliceMs = 250;
// One frame of the window's painting, in milliseconds.
constexpr int kFrameMs = 16;

}  // namespace quovix
