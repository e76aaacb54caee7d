// What the structured fuzz targets share: the input cut into values.
#pragma once

#include <string>
#include <vector>

namespace quovix::fuzz {

// The parts of raw between zero bytes (an input without one is one value).
inline std::vector<std::string> SplitAtZero(const std::string& raw) {
  std::vector<std::string> values;
  size_t start = 0;
  for (size_t i = 0; i <= raw.size(); ++i) {
    if (i == raw.size() || raw[i] == '\0') {
      values.push_back(raw.substr(start, i - start));
      start = i + 1;
    }
  }
  return values;
}

}  // namespace quovix::fuzz
