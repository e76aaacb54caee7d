// quovix-cli: the window's model without a window. Pane lines go to stdout,
// status texts and message boxes to stderr.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "app/fConsole.h"
#include "common/fMain.h"

using namespace quovix;

namespace {

volatile std::sig_atomic_t g_interrupts = 0;

void OnSigint(int) {
  g_interrupts = g_interrupts + 1;
  // The second Ctrl+C ends the program even when a tool is stuck in a wait
  // that does not look at the first.
  if (g_interrupts >= 2) _exit(kExitInterrupted);
}

std::string ProgramFile() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("quovix-cli") : p.string();
}

}  // namespace

int main(int argc, char** argv) {
  std::string exe = ProgramFile();
  ProgramFolder = exe.substr(0, exe.find_last_of('/') + 1);
  // Both front ends share the settings file beside the program.
  IniFilePath = ProgramFolder + "Quovix.ini";

  struct sigaction sa {};
  sa.sa_handler = OnSigint;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);

  ConsoleOptions options;
  options.Colour = isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr;
  options.Interrupts = [] { return static_cast<int>(g_interrupts); };
  std::vector<std::string> args(argv, argv + argc);
  int status = RunConsole(args, std::cout, std::cerr, options);
  std::cout.flush();
  return status;
}
