// Least privilege: of the capabilities a process was started with (as root,
// or from a file granted some with setcap) the program keeps only the two it
// uses, CAP_NET_RAW for raw sockets (ping, trace route) and CAP_SYS_TIME for
// setting the clock.
#pragma once

#include <cstdint>

namespace quovix::platform {

// A thread's capability sets, bit n for capability n.
struct CapabilitySets {
  std::uint64_t Effective = 0;
  std::uint64_t Permitted = 0;
  std::uint64_t Inheritable = 0;
  bool operator==(const CapabilitySets&) const = default;
};

// CAP_NET_RAW and CAP_SYS_TIME.
std::uint64_t NeededCapabilities();

// What is left of held: the needed capabilities it holds, none inheritable
// (a program started from here gets nothing from this process).
CapabilitySets KeepNeeded(const CapabilitySets& held);

// The calling thread's sets; false when the kernel does not tell.
bool ReadCapabilities(CapabilitySets& out);

// Drops every other capability from the calling thread and clears its
// ambient set. Capabilities belong to threads: call it first in main, before
// any thread starts. The bounding set stays, so a command run as root (the
// DNS cache flush) still has root's rights. False when the kernel refused.
bool DropUnneededCapabilities();

}  // namespace quovix::platform
