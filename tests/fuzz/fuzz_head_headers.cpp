// The readers of what a web server's headers say: the security headers
// (HSTS directives, CSP frame-ancestors, cookie attributes) and Alt-Svc's
// HTTP/3 entries, on header lines from the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/fHeadLines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte says whether the page came over HTTPS; one header a line.
  const bool https = data[0] & 1;
  std::vector<std::string> headers;
  std::string line;
  for (size_t i = 1; i < size; ++i) {
    if (data[i] == '\n') {
      headers.push_back(line);
      line.clear();
    } else {
      line += static_cast<char>(data[i]);
    }
  }
  headers.push_back(line);
  const auto lines = quovix::SecurityHeaderLines(headers, https, {});
  // A heading, seven headers, at most fifty cookies; each line bounded.
  if (lines.size() > 2 + 7 + 50) __builtin_trap();
  for (const auto& l : lines)
    if (l.Text.size() > 1024) __builtin_trap();
  for (const auto& h : headers) {
    const auto entries = quovix::AltSvcH3Entries(h);
    if (entries.size() > 20) __builtin_trap();
    for (const auto& e : entries)
      if (e.size() > 200) __builtin_trap();
  }
  return 0;
}
