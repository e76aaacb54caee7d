// Case folding of UTF-8 text for searches that ignore letter case: ASCII,
// Latin-1, Latin Extended-A, Greek and Cyrillic letters fold to lower case;
// everything else (and every invalid byte) stays as it is.
#pragma once

#include <string>

namespace quovix {

std::string FoldCaseUtf8(const std::string& s);

}  // namespace quovix
