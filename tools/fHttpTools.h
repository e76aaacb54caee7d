// What the HTTP-Header and PageRank tools share: taking a typed URL apart
// and putting it together again with the host in its IDN form.
#pragma once

#include <string>

namespace quovix {

struct ToolUrl {
  std::string Scheme;  // up to and including "://" ("http://" when none was typed)
  std::string Host;    // between the scheme and the first "/" (port and user stay in it)
  std::string Path;    // from the first "/" to the end; empty when there is none
};

// Splits a trimmed URL text. An empty host stays empty.
ToolUrl SplitToolUrl(const std::string& url);

// The host part in its IDN form, cut to 256 characters. A user part and a
// port are kept as they are; only the name itself is encoded. A name the
// encoder refuses stays as typed, and *encodable (when given) says so.
std::string IdnHostPart(const std::string& host, bool* encodable = nullptr);

}  // namespace quovix
