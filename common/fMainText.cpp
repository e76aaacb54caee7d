// Text and URL helpers.
#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include <openssl/evp.h>

#include "common/fMain.h"
#include "common/IpAddress.h"

namespace quovix {

std::string ProgramFolder;
std::string IniFilePath;

std::string Base64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

int CountOccurrences(const std::string& text, const std::string& search) {
  if (search.empty()) return 0;
  int n = 0;
  for (size_t p = text.find(search); p != std::string::npos;
       p = text.find(search, p + search.size()))
    ++n;
  return n;
}

std::string GetField(const std::string& text, const std::string& separator, int n) {
  if (n < 1 || separator.empty()) return n == 1 && separator.empty() ? text : std::string();
  size_t start = 0;
  for (int i = 1;; ++i) {
    size_t end = text.find(separator, start);
    if (i == n) return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (end == std::string::npos) return {};
    start = end + separator.size();
  }
}

std::string LastLabel(const std::string& name) {
  size_t p = name.rfind('.');
  if (p == std::string::npos) return name;
  return name.substr(p + 1);
}

std::pair<std::string, int> SplitUrlPort(const std::string& text) {
  size_t hostStart = 0;
  if (size_t p = text.find(":///"); p != std::string::npos)
    hostStart = p + 4;
  else if (size_t q = text.find("://"); q != std::string::npos)
    hostStart = q + 3;
  size_t slash = text.find('/', hostStart);
  size_t hostEnd = slash == std::string::npos ? text.size() : slash;  // one past the end
  // The host itself begins after any "user:password@" part.
  size_t host = hostStart;
  if (size_t at = text.rfind('@', hostEnd == 0 ? 0 : hostEnd - 1);
      at != std::string::npos && at >= hostStart && at < hostEnd)
    host = at + 1;
  size_t colon;
  if (host < hostEnd && text[host] == '[') {
    // An IPv6 literal carries its colons inside "[ ]": a port can only
    // follow the closing bracket.
    const size_t close = text.find(']', host);
    if (close == std::string::npos || close + 1 >= hostEnd || text[close + 1] != ':')
      return {text, -1};
    colon = close + 1;
  } else {
    // Unbracketed, a host part with more than one colon is an IPv6 literal
    // and has no port.
    const auto first = text.begin() + static_cast<std::ptrdiff_t>(host);
    if (std::count(first, text.begin() + static_cast<std::ptrdiff_t>(hostEnd), ':') > 1)
      return {text, -1};
    size_t i = hostEnd;
    while (i > hostStart && text[i - 1] != ':') --i;
    if (i == hostStart) return {text, -1};
    colon = i - 1;
  }
  std::string portText = text.substr(colon + 1, hostEnd - colon - 1);
  std::string rest = text.substr(0, colon) + text.substr(hostEnd);
  int port = portText.empty() ? -1 : StrToIntDef(portText, -1);
  return {rest, port};
}

namespace {
// Length of the valid UTF-8 sequence starting at s[i], 0 when invalid.
size_t Utf8SeqLen(const std::string& s, size_t i) {
  unsigned char c = static_cast<unsigned char>(s[i]);
  size_t n;
  unsigned cp;
  if (c < 0x80) return 1;
  if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; }
  else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; }
  else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; }
  else return 0;
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    unsigned char d = static_cast<unsigned char>(s[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

void AppendLatin1(std::string& out, unsigned char c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}
}  // namespace

std::string DecodeUtf8(const std::string& bytes) {
  // Valid UTF-8 passes unchanged. Text with no valid multi-byte sequence at
  // all is taken as Latin-1 (an answer in a legacy 8-bit encoding stays
  // readable); mixed text keeps its valid sequences and shows each stray byte
  // as the Latin-1 character of that byte.
  bool anyMulti = false, anyBad = false;
  for (size_t i = 0; i < bytes.size();) {
    size_t n = Utf8SeqLen(bytes, i);
    if (n == 0) { anyBad = true; ++i; continue; }
    if (n > 1) anyMulti = true;
    i += n;
  }
  if (!anyBad) return bytes;
  std::string out;
  out.reserve(bytes.size() * 2);
  for (size_t i = 0; i < bytes.size();) {
    size_t n = anyMulti ? Utf8SeqLen(bytes, i) : 1;
    if (n == 0 || (!anyMulti && static_cast<unsigned char>(bytes[i]) >= 0x80)) {
      AppendLatin1(out, static_cast<unsigned char>(bytes[i]));
      ++i;
    } else {
      out.append(bytes, i, n);
      i += n;
    }
  }
  return out;
}

// Blanks, tabs and line ends; other control characters are text to be shown
// (a leading ESC that vanished would hide what follows it).
static bool IsBlankOrControl(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

std::string MaskControls(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out += (c < 0x20 && c != '\t') || c == 0x7F ? '?' : static_cast<char>(c);
      ++i;
      continue;
    }
    const size_t n = Utf8SeqLen(text, i);
    if (n == 0) {
      // A stray byte: 0x80-0x9F is a C1 control to an 8-bit terminal (0x9B
      // starts an escape sequence there); other stray bytes are harmless.
      out += c <= 0x9F ? '?' : static_cast<char>(c);
      ++i;
      continue;
    }
    unsigned cp = c & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
    for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    // C1 controls, and the bidirectional embeddings, overrides and isolates
    // that would reorder what is shown around them.
    const bool control = (cp >= 0x80 && cp <= 0x9F) || (cp >= 0x202A && cp <= 0x202E) ||
                         (cp >= 0x2066 && cp <= 0x2069);
    if (control)
      out += '?';
    else
      out.append(text, i, n);
    i += n;
  }
  return out;
}

std::string Trim(const std::string& s) { return TrimLeft(TrimRight(s)); }

std::string TrimLeft(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && IsBlankOrControl(s[i])) ++i;
  return s.substr(i);
}

std::string TrimRight(const std::string& s) {
  size_t n = s.size();
  while (n > 0 && IsBlankOrControl(s[n - 1])) --n;
  return s.substr(0, n);
}

std::string LowerAscii(std::string s) {
  for (auto& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

std::string UpperAscii(std::string s) {
  for (auto& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  return s;
}

bool SameTextAscii(const std::string& a, const std::string& b) {
  return a.size() == b.size() && LowerAscii(a) == LowerAscii(b);
}

std::string LowerLatin(std::string s) {
  for (size_t i = 0; i < s.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 'A' && c <= 'Z') {
      s[i] = static_cast<char>(c + 32);
    } else if (c == 0xC3 && i + 1 < s.size()) {
      // U+00C0..U+00DE are C3 80..C3 9E; their lower case is 0x20 above,
      // except U+00D7 (multiplication sign).
      unsigned char d = static_cast<unsigned char>(s[i + 1]);
      if (d >= 0x80 && d <= 0x9E && d != 0x97) s[i + 1] = static_cast<char>(d + 0x20);
      ++i;
    }
  }
  return s;
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && LowerLatin(a) == LowerLatin(b);
}

std::string ReplaceAll(std::string s, const std::string& from, const std::string& to) {
  if (from.empty()) return s;
  size_t p = s.find(from);
  if (p == std::string::npos) return s;
  // Built anew in one pass: replacing in place would move the rest of the
  // text at every occurrence.
  std::string out;
  out.reserve(s.size());
  size_t start = 0;
  for (; p != std::string::npos; p = s.find(from, start)) {
    out.append(s, start, p - start);
    out += to;
    start = p + from.size();
  }
  out.append(s, start, std::string::npos);
  return out;
}

int StrToIntDef(const std::string& s, int def) {
  if (s.empty()) return def;
  size_t i = 0;
  bool neg = false;
  if (s[i] == '+' || s[i] == '-') {
    neg = s[i] == '-';
    ++i;
  }
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= s.size()) return def;
  long long v = 0;
  for (; i < s.size(); ++i) {
    int d;
    char c = s[i];
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    else return def;
    v = v * base + d;
    if (v > (long long)INT_MAX + 1) return def;
  }
  if (neg) v = -v;
  if (v > INT_MAX || v < INT_MIN) return def;
  return static_cast<int>(v);
}

std::string Cut(const std::string& s, size_t n) { return s.size() > n ? s.substr(0, n) : s; }

std::string CutUtf8(const std::string& s, size_t n) {
  if (s.size() <= n) return s;
  size_t end = n;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return s.substr(0, end);
}

std::string FormatDecimal1(double value) {
  // Not through the C locale: the point stays a point whatever it says.
  if (!(value == value)) return "0.0";  // NaN
  const double rounded = std::round(std::clamp(value, -1e15, 1e15) * 10.0);
  const long long tenths = static_cast<long long>(rounded);
  const long long whole = (tenths < 0 ? -tenths : tenths) / 10;
  return std::string(tenths < 0 ? "-" : "") + std::to_string(whole) + "." +
         std::to_string((tenths < 0 ? -tenths : tenths) % 10);
}

namespace {

// Length of the UTF-8 character starting at i (1 for a stray byte) and
// whether it can be part of a host name, an address or a zone: letters and
// digits of any script, ".", "-", "_", ":" and "%". Non-ASCII punctuation
// (Latin-1 signs, general punctuation and symbols up to U+2BFF, CJK
// punctuation) ends a name like ASCII punctuation does.
std::pair<size_t, bool> HostCharAt(const std::string& s, size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  if (c < 0x80) return {1, std::isalnum(c) || std::strchr(".-_:%", c) != nullptr};
  size_t n = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
  if (i + n > s.size()) n = 1;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) n = 1;
  if (n == 1) return {1, false};
  char32_t cp = c & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
  for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  const bool sign = cp < 0xC0 || cp == 0xD7 || cp == 0xF7 || (cp >= 0x2000 && cp <= 0x2BFF) ||
                    (cp >= 0x3000 && cp <= 0x303F);
  return {n, !sign};
}

// Start of the character that byte i belongs to.
size_t CharStart(const std::string& s, size_t i) {
  while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) --i;
  return i;
}

}  // namespace

std::pair<size_t, size_t> HostSpanAt(const std::string& line, size_t at) {
  if (line.empty()) return {std::min(at, line.size()), 0};
  at = CharStart(line, std::min(at, line.size() - 1));
  // A click just behind a name (on the blank after it) still means the name.
  if (!HostCharAt(line, at).second) {
    if (at == 0) return {at, 0};
    const size_t before = CharStart(line, at - 1);
    if (!HostCharAt(line, before).second) return {at, 0};
    at = before;
  }
  size_t first = at;
  while (first > 0) {
    const size_t prev = CharStart(line, first - 1);
    if (!HostCharAt(line, prev).second) break;
    first = prev;
  }
  size_t end = at;
  while (end < line.size()) {
    const auto [n, ok] = HostCharAt(line, end);
    if (!ok) break;
    end += n;
  }
  // "example.org." ends a sentence, "Name:" a label; "fe80::" keeps its
  // double colon.
  auto strip = [&](char c) { return line[end - 1] == c; };
  while (end > first && (strip('.') || strip('-') ||
                         (strip(':') && (end - first < 2 || line[end - 2] != ':'))))
    --end;
  while (first < end && (line[first] == '.' || line[first] == '-')) ++first;
  return {first, end - first};
}

bool IsHostName(const std::string& text) { return !IsIpAddress(text); }

std::uint32_t IpToNumber(const std::string& address) {
  if (CountOccurrences(address, ".") != 3) return 0;
  std::uint32_t r = 0;
  for (int f = 1; f <= 4; ++f)
    r = r * 256u + static_cast<std::uint32_t>(StrToIntDef(GetField(address, ".", f), 0));
  return r;
}

std::string NumberToIp(std::uint32_t a) {
  return std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 255) + "." +
         std::to_string((a >> 8) & 255) + "." + std::to_string(a & 255);
}

}  // namespace quovix
