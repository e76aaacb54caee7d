// The tag lists of mail policy records ("v=DMARC1; p=reject", "v=DKIM1;
// k=rsa; p=…"): parts between semicolons, each a name and a value.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quovix {

struct TTagPart {
  std::string Text;   // the part as written, blanks around it trimmed
  std::string Name;   // lower case; empty when the part has no "="
  std::string Value;  // blanks around it trimmed
  bool HasValue = false;  // the part is name=value
};

// The non-empty parts of a tag list, at most max of them; truncated says
// that more followed.
std::vector<TTagPart> SplitTagList(std::string_view text, std::size_t max, bool* truncated = nullptr);

}  // namespace quovix
