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
constexpr int kExitFailed = 1;
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
  // Called with true before an output line is written and with false once
  // it is out whole (the program holds back its second Ctrl+C meanwhile, so
  // that no line is cut).
  std::function<void(bool)> Writing;
};

// Runs the command line argv (program first) and returns the exit status:
// 0 when every requested tool ran and none failed, 1 when one did (an error
// or time-out line, or the tool's own verdict in TfrmMain::ToolFailed), 130
// after Ctrl+C, 2 for a command line that names no tool
// or asks for an unknown output format (a short usage goes to err).
// "--help" or "-h" as the only argument prints the parameters to out and
// returns 0. "--json" or "--format=json" anywhere writes JSON Lines instead
// of text ("--format=text" is the default); these options are taken out
// before the tool parameters are read.
int RunConsole(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err,
               const ConsoleOptions& options);

// The result controls of a tab that are not panes (PageRank, Lists, Time)
// as output lines; none for the other tabs. A run that found nothing (its
// result names an error) shows that line in red.
std::vector<TOutputLine> ResultControlLines(TfrmMain& f, int page);

// One output line as the console prints it: control characters that a
// server may have sent are made visible as "?" (they could drive the
// terminal), and with colour the line is wrapped in ANSI escapes.
std::string ConsoleLine(const std::string& text, std::uint32_t color, bool colour);

}  // namespace quovix
