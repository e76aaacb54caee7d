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
#include "platform/Capabilities.h"
#include "shell/gIni.h"

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

  ConsoleOptions options;
  options.Colour = isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr;
  options.Interrupts = [] { return static_cast<int>(g_interrupts); };
  std::vector<std::string> args(argv, argv + argc);
  int status = RunConsole(args, std::cout, std::cerr, options);
  std::cout.flush();
  return status;
}
