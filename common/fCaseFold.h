// Case folding of UTF-8 text for searches that ignore letter case: ASCII,
// Latin-1, Latin Extended-A, Greek and Cyrillic letters fold to lower case;
// everything else (and every invalid byte) stays as it is.
#pragma once

#include <string>

namespace quovix {

std::string FoldCaseUtf8(const std::string& s);

// Order of texts as people read numbers in them: runs of digits compare by
// their value ("25/tcp" before "110/tcp"), everything else byte by byte.
// Equal values written with more leading zeros come later, so the order is
// strict and total.
bool NaturalLess(const std::string& a, const std::string& b);

}  // namespace quovix
