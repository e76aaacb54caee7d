// The console's JSON Lines output: one object per output line, with the
// line's tool, its meaning (from its colour), its text and the fields the
// tool gave it, and one closing result object per tool.
#pragma once

#include <string>

#include "app/Controls.h"

namespace quovix {

// The meaning a line's colour carries: "heading" (blue), "info" (navy),
// "ok" (green), "error" (red), "timeout" (maroon), "data" (black and any
// other colour).
const char* LineKind(TColor color);

// True for the kinds that make the console's exit status 1.
bool IsFailureColor(TColor color);

// {"tool": tool, "kind": …, "text": …, fields…} on one line, without the
// line end. Texts are written as valid UTF-8 (invalid bytes become U+FFFD)
// with every control character escaped, C1 controls and the bidirectional
// formatting characters included, so a server's text can neither break the
// line nor drive a terminal that shows it. A field named "tool", "kind" or
// "text" is left out: those names are the line's own.
std::string JsonLine(const std::string& tool, const TOutputLine& line);

// {"tool": tool, "kind": "result", "status": status, fields…}: status is
// "ok" (no error or time-out line), "failed" or "aborted" (a field with one
// of these four names is left out).
std::string JsonResult(const std::string& tool, const std::string& status,
                       const TLineFields& fields);

}  // namespace quovix
