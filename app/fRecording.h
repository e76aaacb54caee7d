// A tab's output kept in a file, and a kept run read back: plain text, HTML
// with the line colours, or the console's JSON Lines (the one format that
// can be read back, since it carries every line's tool, kind and fields).
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

#include "app/Controls.h"

namespace quovix {

// The command-line name of a tab's tool ("dns", "ping", …; the /Focus names
// in lower case), "" for an index that names none.
const char* ToolName(int page);
// The tab of a tool name, -1 for a name of none.
int PageOfToolName(const std::string& name);
// The colour a line kind stands for (LineKind the other way round), false
// for a kind that is not one of a line.
bool ColorOfLineKind(const std::string& kind, TColor& color);

enum class TSaveFormat { Text, Html, JsonLines };
// By the file name's extension: .html/.htm HTML, .jsonl/.json JSON Lines,
// anything else plain text.
TSaveFormat SaveFormatOf(const std::string& path);

// The lines as the console prints them without colour, each ended by LF.
std::string OutputAsText(const std::vector<TOutputLine>& lines);
// A page of its own with the lines in their colours; every text escaped,
// so nothing a server sent becomes markup.
std::string OutputAsHtml(const std::string& title, const std::vector<TOutputLine>& lines);
// The lines as `quovix-cli --json` writes them, closed by the tool's result
// object (status "ok" or "failed").
std::string OutputAsJsonLines(const std::string& tool, const std::vector<TOutputLine>& lines,
                              const std::string& status, const TLineFields& result);

// Writes content to path so that the file is either the old one or the
// whole new one: a temporary file in the same folder, flushed to the disk,
// then renamed over path. False with the reason in error otherwise.
bool WriteFileAtomically(const std::string& path, const std::string& content, std::string& error);

// Reading a recording keeps its memory bounded: at most this many lines and
// bytes of text are kept; a longer line is one bad line and is skipped.
constexpr std::size_t kRecordingMaxLines = 200000;
constexpr std::size_t kRecordingMaxLineLength = 64 * 1024;
constexpr std::size_t kRecordingMaxBytes = 64 * 1024 * 1024;
// Nesting of objects and lists in a line beyond this is a bad line.
constexpr int kRecordingMaxDepth = 32;

struct TRecordedLine {
  int Page = -1;
  TOutputLine Line;
};

struct TRecordedResult {
  int Page = -1;
  std::string Status;
  TLineFields Fields;
};

struct TRecording {
  std::vector<TRecordedLine> Lines;
  std::vector<TRecordedResult> Results;
  // Lines that are no record of a known tool (empty lines are not counted),
  // the number of the first one (1 for the first line of the file, 0: none).
  std::size_t BadLines = 0;
  std::size_t FirstBadLine = 0;
  // The caps were reached: what followed was not read.
  bool Capped = false;
};

// One line of a recording; false for one that is no record of a known tool.
// A record is a line or a result (then line is left alone).
bool ParseRecordLine(const std::string& text, TRecordedLine& line, TRecordedResult& result,
                     bool& isResult);
// A whole recording, read piece by piece (never more than one capped line
// at a time beside what is kept).
TRecording ReadRecording(std::istream& in);

}  // namespace quovix
