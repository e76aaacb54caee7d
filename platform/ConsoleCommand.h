// Runs a shell command and collects what it writes to standard output.
#pragma once

#include <string>

#include "platform/Seam.h"

namespace quovix::platform {

struct IConsoleCommand {
  virtual ~IConsoleCommand() = default;
  // Runs command through the shell and returns its standard output; empty
  // when it could not be started. Blocks until the command ends, checking in
  // slices of waitSliceMs.
  virtual std::string Run(const std::string& command, int waitSliceMs) = 0;
};

// Name of the output file inside the private temporary folder of one run.
constexpr const char* kCmdOutFileName = "Quovix_CmdOut.tmp";

// /bin/sh -c with standard input from /dev/null and standard error discarded
// (the command has no console to show it on). Standard output goes into
// kCmdOutFileName inside a folder of its own that mkdtemp makes in $TMPDIR
// (else /tmp): no other user can plant a link there, and two runs at once,
// from this program or another, never share a file.
class LinuxConsoleCommand : public IConsoleCommand {
 public:
  std::string Run(const std::string& command, int waitSliceMs) override;

  // A command still running after this long is killed (with everything it
  // started) and its output so far returned, so a hung command cannot freeze
  // the window for good.
  int LimitMs = 120000;
  // Output beyond this many bytes is not read.
  size_t MaxOutputBytes = 16 * 1024 * 1024;
  // Called with the path of the output file while the command runs (tests).
  void (*OnOutputFile)(const std::string& path) = nullptr;
};

IConsoleCommand& ConsoleCommand();

}  // namespace quovix::platform
