// A recording is a file anyone may hand over: every line is read, kept
// within the caps, and what is kept writes back as the console would.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "app/fJsonLines.h"
#include "app/fRecording.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::istringstream in(text);
  const quovix::TRecording rec = quovix::ReadRecording(in);
  if (rec.Lines.size() > quovix::kRecordingMaxLines) __builtin_trap();
  if ((rec.BadLines == 0) != (rec.FirstBadLine == 0)) __builtin_trap();
  for (const auto& l : rec.Lines) {
    // A kept line writes as a record that reads back to the same line.
    const std::string again = quovix::JsonLine(quovix::ToolName(l.Page), l.Line);
    quovix::TRecordedLine back;
    quovix::TRecordedResult result;
    bool isResult = true;
    if (!quovix::ParseRecordLine(again, back, result, isResult) || isResult) __builtin_trap();
    if (back.Page != l.Page || back.Line.Color != l.Line.Color) __builtin_trap();
    if (quovix::JsonLine(quovix::ToolName(back.Page), back.Line) != again) __builtin_trap();
  }
  quovix::OutputAsHtml("t", {});
  return 0;
}
