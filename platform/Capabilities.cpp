#include "platform/Capabilities.h"

#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace quovix::platform {

std::uint64_t NeededCapabilities() {
  return (std::uint64_t{1} << CAP_NET_RAW) | (std::uint64_t{1} << CAP_SYS_TIME);
}

CapabilitySets KeepNeeded(const CapabilitySets& held) {
  const std::uint64_t keep = NeededCapabilities();
  return {held.Effective & held.Permitted & keep, held.Permitted & keep, 0};
}

// The kernel's interface directly: no dependency on libcap for two calls.
bool ReadCapabilities(CapabilitySets& out) {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  auto join = [](std::uint32_t low, std::uint32_t high) {
    return std::uint64_t{low} | std::uint64_t{high} << 32;
  };
  out.Effective = join(data[0].effective, data[1].effective);
  out.Permitted = join(data[0].permitted, data[1].permitted);
  out.Inheritable = join(data[0].inheritable, data[1].inheritable);
  return true;
}

bool DropUnneededCapabilities() {
  // Nothing inherited past this process, whatever happens below.
  prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
  CapabilitySets held;
  if (!ReadCapabilities(held)) return false;
  const CapabilitySets kept = KeepNeeded(held);
  if (kept == held) return true;
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  for (int i = 0; i < 2; ++i) {
    data[i].effective = static_cast<std::uint32_t>(kept.Effective >> (32 * i));
    data[i].permitted = static_cast<std::uint32_t>(kept.Permitted >> (32 * i));
    data[i].inheritable = 0;
  }
  return syscall(SYS_capset, &header, data) == 0;
}

}  // namespace quovix::platform
