// The console front end: the main window's model without a window. Pane
// lines go to the output stream as they are appended, status texts and
// message boxes to the error stream, and the result controls that are not
// panes (PageRank, Lists, Time) are printed after their tool ran.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace quovix {

class TfrmMain;
struct TOutputLine;

// Exit statuses of quovix-cli.
constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

struct ConsoleOptions {
  // ANSI colours on the output lines (a terminal without NO_COLOR).
  bool Colour = false;
  // Number of interrupts (Ctrl+C) so far; read at every message pump.
  std::function<int()> Interrupts;
  // Called after the window's creation steps, before its show steps (tests
  // replace tool handlers here).
  std::function<void(TfrmMain&)> Prepare;
};

// Runs the command line argv (program first) and returns the exit status:
// 0 when every requested tool ran to its end, 130 after Ctrl+C, 2 when the
// command line names no tool (a short usage goes to err). "--help" or "-h"
// as the only argument prints the parameters to out and returns 0.
int RunConsole(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err,
               const ConsoleOptions& options);

// One output line as the console prints it: control characters that a
// server may have sent are made visible as "?" (they could drive the
// terminal), and with colour the line is wrapped in ANSI escapes.
std::string ConsoleLine(const std::string& text, std::uint32_t color, bool colour);

}  // namespace quovix
