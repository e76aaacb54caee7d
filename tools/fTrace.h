// The Trace tool's table of rounds: its column captions in the loaded
// language (the window's table and the console's report share them).
#pragma once

#include <string>
#include <vector>

namespace quovix {

std::vector<std::string> TraceTableCaptions();

}  // namespace quovix
