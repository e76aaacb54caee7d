#include "platform/Clock.h"

#include <linux/capability.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

#include "platform/Capabilities.h"

namespace quovix::platform {
namespace {

class LinuxClock : public IClock {
 public:
  timespec Now() override {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts;
  }

  long UtcOffset(time_t at) override {
    // tzset() again each time: the zone (TZ or /etc/localtime) may have
    // changed since the last call, and localtime_r need not look.
    tzset();
    tm local{};
    errno = 0;
    if (!localtime_r(&at, &local)) {
      int e = errno ? errno : EOVERFLOW;
      throw std::runtime_error(std::strerror(e));
    }
    return local.tm_gmtoff;
  }

  int SetNow(const timespec& utc) override {
    return clock_settime(CLOCK_REALTIME, &utc) == 0 ? 0 : errno;
  }

  bool MaySetClock() override {
    // Setting the clock needs CAP_SYS_TIME in the effective set.
    CapabilitySets held;
    return ReadCapabilities(held) && (held.Effective & (std::uint64_t{1} << CAP_SYS_TIME)) != 0;
  }
};

}  // namespace

IClock& Clock() { return SeamGet<IClock, LinuxClock>(); }

}  // namespace quovix::platform
