// quovix-cli: the window's model without a window. Pane lines go to stdout,
// status texts and message boxes to stderr.
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <streambuf>
#include <string>
#include <vector>

#include "app/fConsole.h"
#include "common/fMain.h"
#include "platform/Capabilities.h"
#include "shell/gIni.h"

using namespace quovix;

namespace {

volatile std::sig_atomic_t g_interrupts = 0;
// Set while an output line is being written; a second Ctrl+C then only
// marks the exit, which follows once the line is out whole.
volatile std::sig_atomic_t g_writing = 0;
volatile std::sig_atomic_t g_exitPending = 0;

void OnSigint(int) {
  g_interrupts = g_interrupts + 1;
  // The second Ctrl+C ends the program even when a tool is stuck in a wait
  // that does not look at the first.
  if (g_interrupts < 2) return;
  if (!g_writing) _exit(kExitInterrupted);
  g_exitPending = 1;
  // A reader that takes nothing more would keep the line from ever being
  // finished: then the program ends regardless, a little later.
  alarm(2);
}

void OnAlarm(int) { _exit(kExitInterrupted); }

void Writing(bool on) {
  g_writing = on ? 1 : 0;
  if (!on && g_exitPending) _exit(kExitInterrupted);
}

// Standard output on the descriptor itself: a write that a signal
// interrupts goes on where it stopped (a line is never left half), and a
// failed one (a full disk, a closed pipe) fails the stream.
class FdOutBuf : public std::streambuf {
 public:
  explicit FdOutBuf(int fd) : fd_(fd) { setp(buf_, buf_ + sizeof buf_); }
  ~FdOutBuf() override { sync(); }

 protected:
  int_type overflow(int_type c) override {
    if (sync() != 0) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override {
    const char* p = pbase();
    size_t left = static_cast<size_t>(pptr() - pbase());
    setp(buf_, buf_ + sizeof buf_);
    while (left > 0) {
      const ssize_t n = ::write(fd_, p, left);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (n == 0) errno = EIO;
        return -1;
      }
      p += n;
      left -= static_cast<size_t>(n);
    }
    return 0;
  }

 private:
  int fd_;
  char buf_[8192];
};

std::string ProgramFile() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("quovix-cli") : p.string();
}

}  // namespace

int main(int argc, char** argv) {
  // Before anything else runs, and before any thread holds them too.
  platform::DropUnneededCapabilities();
  // Both front ends share the data and the settings file; the console only
  // reads it (before the window's first start in the user's config folder,
  // the site default beside the program).
  const TSettingsLocation settings = ChooseSettingsLocation(ProgramFile(), SettingsEnvironment());
  ProgramFolder = settings.ProgramFolder;
  IniFilePath = SettingsFileToRead(settings);

  struct sigaction sa {};
  sa.sa_handler = OnSigint;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sa.sa_handler = OnAlarm;
  sigaction(SIGALRM, &sa, nullptr);

  FdOutBuf outBuf(STDOUT_FILENO);
  std::ostream out(&outBuf);
  ConsoleOptions options;
  options.Colour = isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr;
  options.Interrupts = [] { return static_cast<int>(g_interrupts); };
  options.Writing = Writing;
  std::vector<std::string> args(argv, argv + argc);
  return RunConsole(args, out, std::cerr, options);
}
