#include "common/fCaseFold.h"

namespace quovix {
namespace {

char32_t Lower(char32_t c) {
  if (c >= 'A' && c <= 'Z') return c + 32;
  if (c < 0x80) return c;
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 32;       // À..Þ (not ×)
  if (c == 0x130) return 'i';                                    // İ (its pair ı is no capital)
  if (c >= 0x100 && c <= 0x137 && c % 2 == 0) return c + 1;      // Ā..ķ pairs
  if (c >= 0x139 && c <= 0x148 && c % 2 == 1) return c + 1;      // Ĺ..ň pairs
  if (c >= 0x14A && c <= 0x177 && c % 2 == 0) return c + 1;      // Ŋ..ŷ pairs
  if (c == 0x178) return 0xFF;                                   // Ÿ
  if (c >= 0x179 && c <= 0x17E && c % 2 == 1) return c + 1;      // Ź..ž pairs
  if (c == 0x17F) return 's';                                    // long s
  if (c == 0x386) return 0x3AC;                                  // Ά
  if (c >= 0x388 && c <= 0x38A) return c + 37;                   // Έ Ή Ί
  if (c == 0x38C) return 0x3CC;                                  // Ό
  if (c == 0x38E || c == 0x38F) return c + 63;                   // Ύ Ώ
  if (c == 0x3C2) return 0x3C3;                                  // final sigma
  if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) return c + 32;     // Greek capitals
  if (c >= 0x410 && c <= 0x42F) return c + 32;                   // Cyrillic А..Я
  if (c >= 0x400 && c <= 0x40F) return c + 80;                   // Ѐ..Џ
  return c;
}

void Append(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string FoldCaseUtf8(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    if (b < 0x80) {
      out += static_cast<char>(Lower(b));
      ++i;
      continue;
    }
    // Only two-byte sequences hold letters that fold here; copy the rest.
    if (b >= 0xC2 && b <= 0xDF && i + 1 < s.size() &&
        (static_cast<unsigned char>(s[i + 1]) & 0xC0) == 0x80) {
      char32_t c = (static_cast<char32_t>(b & 0x1F) << 6) | (s[i + 1] & 0x3F);
      Append(out, Lower(c));
      i += 2;
      continue;
    }
    out += s[i];
    ++i;
  }
  return out;
}

namespace {
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  // Leading zeros only decide between texts that are otherwise equal: the
  // first run where their counts differ.
  long zeros = 0;
  while (i < a.size() && j < b.size()) {
    if (!IsAsciiDigit(a[i]) || !IsAsciiDigit(b[j])) {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
      ++i, ++j;
      continue;
    }
    size_t si = i, sj = j;
    while (si < a.size() && a[si] == '0') ++si;
    while (sj < b.size() && b[sj] == '0') ++sj;
    size_t ei = si, ej = sj;
    while (ei < a.size() && IsAsciiDigit(a[ei])) ++ei;
    while (ej < b.size() && IsAsciiDigit(b[ej])) ++ej;
    // Without leading zeros, the longer run is the larger number.
    if (ei - si != ej - sj) return ei - si < ej - sj;
    if (const int c = a.compare(si, ei - si, b, sj, ej - sj); c != 0) return c < 0;
    if (zeros == 0) zeros = static_cast<long>(si - i) - static_cast<long>(sj - j);
    i = ei, j = ej;
  }
  if (i < a.size() || j < b.size()) return i == a.size();
  return zeros < 0;
}

}  // namespace quovix
