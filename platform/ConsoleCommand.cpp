#include "platform/ConsoleCommand.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "common/Pump.h"

extern char** environ;

namespace quovix::platform {
namespace {

// Closes a descriptor when it leaves scope.
struct Fd {
  int fd = -1;
  explicit Fd(int f = -1) : fd(f) {}
  ~Fd() {
    if (fd >= 0) close(fd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
};

std::string TempRoot() {
  const char* t = std::getenv("TMPDIR");
  std::string root = t && *t ? t : "/tmp";
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  return root;
}

// A fresh private folder (mode 0700) under $TMPDIR, else /tmp.
std::string MakePrivateDir() {
  for (const std::string& root : {TempRoot(), std::string("/tmp")}) {
    std::string tmpl = root + "/quovix-cmd-XXXXXX";
    if (mkdtemp(tmpl.data())) return tmpl;
  }
  return {};
}

// Waits for the child in slices; true when it ended within limitMs.
bool WaitForChild(pid_t pid, int sliceMs, int limitMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  if (sliceMs <= 0) sliceMs = 1;
  // A process descriptor lets poll wake the moment the child ends.
  Fd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  // Output still waiting for its frame is painted before the wait.
  ProcessPendingMessagesIfDue();
  for (;;) {
    int status = 0;
    pid_t r = waitpid(pid, &status, WNOHANG);
    if (r == pid || (r < 0 && errno != EINTR)) return true;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    int wait = static_cast<int>(std::min<long long>(left, sliceMs));
    if (pidfd.fd >= 0) {
      pollfd p{pidfd.fd, POLLIN, 0};
      poll(&p, 1, wait);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(wait, 10)));
    }
  }
}

std::string ReadOutput(int fd, size_t maxBytes) {
  std::string out;
  if (lseek(fd, 0, SEEK_SET) < 0) return out;
  char buf[65536];
  while (out.size() < maxBytes) {
    ssize_t n = read(fd, buf, std::min(sizeof buf, maxBytes - out.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  // The text ends at the first zero byte.
  if (size_t z = out.find('\0'); z != std::string::npos) out.resize(z);
  return out;
}

}  // namespace

std::string LinuxConsoleCommand::Run(const std::string& command, int waitSliceMs) {
  const std::string dir = MakePrivateDir();
  if (dir.empty()) return {};
  Fd dirFd(open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  const std::string path = dir + "/" + kCmdOutFileName;
  Fd out(dirFd.fd < 0 ? -1
                      : openat(dirFd.fd, kCmdOutFileName,
                               O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  std::string result;
  if (out.fd >= 0) {
    if (OnOutputFile) OnOutputFile(path);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out.fd, STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // A group of its own, so a command that outlives the limit is stopped
    // together with whatever it started.
    posix_spawnattr_setpgroup(&attr, 0);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETSIGDEF);
    const char* argv[] = {"sh", "-c", command.c_str(), nullptr};
    pid_t pid = -1;
    int rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc == 0) {
      if (!WaitForChild(pid, waitSliceMs, LimitMs)) {
        kill(-pid, SIGKILL);
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
      }
      result = ReadOutput(out.fd, MaxOutputBytes);
    }
  }
  if (dirFd.fd >= 0) unlinkat(dirFd.fd, kCmdOutFileName, 0);
  rmdir(dir.c_str());
  return result;
}

IConsoleCommand& ConsoleCommand() { return SeamGet<IConsoleCommand, LinuxConsoleCommand>(); }

}  // namespace quovix::platform
