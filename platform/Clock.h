// The system clock: reading it, the local time zone's offset, setting it, and
// whether this process is allowed to set it. Tests install a fake so that no
// test ever touches the machine's real clock.
#pragma once

#include <ctime>

#include "platform/Seam.h"

namespace quovix::platform {

struct IClock {
  virtual ~IClock() = default;
  // The real-time clock now (UTC).
  virtual timespec Now() = 0;
  // Seconds by which local time is ahead of UTC at the given instant, from
  // the system's time-zone rules (daylight-saving time included). Throws
  // std::runtime_error with the system's message when the rules can't be read.
  virtual long UtcOffset(time_t at) = 0;
  // Sets the real-time clock; 0 on success, else the errno of the refusal.
  virtual int SetNow(const timespec& utc) = 0;
  // True when this process holds the privilege to set the clock.
  virtual bool MaySetClock() = 0;
  // A clock that only runs forward, for measuring how long an exchange took
  // whatever happens to the real-time clock meanwhile.
  virtual timespec Monotonic() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts;
  }
};

IClock& Clock();

}  // namespace quovix::platform
