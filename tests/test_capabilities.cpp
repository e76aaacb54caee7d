// Least privilege: what the programs keep of the capabilities they were
// started with.
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Capabilities.h"

using quovix::platform::CapabilitySets;

namespace {
constexpr std::uint64_t Cap(int n) { return std::uint64_t{1} << n; }
constexpr std::uint64_t kRaw = Cap(CAP_NET_RAW), kTime = Cap(CAP_SYS_TIME);
constexpr std::uint64_t kAll = ~std::uint64_t{0} >> (63 - CAP_LAST_CAP);
}  // namespace

TEST(Capabilities, OnlyRawSocketsAndTheClockAreKept) {
  struct Case {
    const char* what;
    CapabilitySets held, kept;
  };
  const Case cases[] = {
      {"root", {kAll, kAll, 0}, {kRaw | kTime, kRaw | kTime, 0}},
      {"setcap cap_net_raw+ep", {kRaw, kRaw, 0}, {kRaw, kRaw, 0}},
      {"permitted, not effective", {0, kRaw | Cap(CAP_SYS_ADMIN), 0}, {0, kRaw, 0}},
      {"inheritable given on", {kTime, kTime, kRaw | kTime}, {kTime, kTime, 0}},
      {"a user without any", {0, 0, 0}, {0, 0, 0}},
  };
  for (const Case& c : cases) EXPECT_EQ(quovix::platform::KeepNeeded(c.held), c.kept) << c.what;
}

TEST(Capabilities, RootKeepsRawSocketsAfterTheDrop) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root (capabilities to drop)";
  // In a child: the drop is for good.
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    CapabilitySets now;
    if (!quovix::platform::DropUnneededCapabilities() || !quovix::platform::ReadCapabilities(now))
      _exit(1);
    if (now.Permitted != (kRaw | kTime) || now.Effective != now.Permitted || now.Inheritable != 0)
      _exit(2);
    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
    if (fd < 0) _exit(3);
    close(fd);
    _exit(0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1 failed call, 2 wrong sets, 3 no raw socket";
}
