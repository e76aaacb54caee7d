// Address values: reading and writing the text forms of both families.
#include "common/IpAddress.h"

#include "common/fMain.h"

namespace quovix {
namespace {

// Longest zone taken: interface names are at most 15 bytes on Linux, and an
// index is a number; anything longer is not a zone of this system.
constexpr std::size_t kMaxZone = 32;
// "ffff:ffff:ffff:ffff:ffff:ffff:255.255.255.255" is the longest address text.
constexpr std::size_t kMaxV6Text = 45;

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ValidZone(std::string_view z) {
  if (z.empty() || z.size() > kMaxZone) return false;
  for (char c : z) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u >= 0x7F || c == '%' || c == '[' || c == ']' || c == '/') return false;
  }
  return true;
}

// A dotted quad inside an IPv6 literal: strictly four decimal numbers
// 0..255 without leading zeros, as RFC 4291 writes them.
bool ParseV4Tail(std::string_view s, std::uint8_t* out) {
  int part = 0;
  std::size_t i = 0;
  while (part < 4) {
    std::size_t start = i;
    int v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9' && i - start < 3) v = v * 10 + (s[i++] - '0');
    const std::size_t digits = i - start;
    if (digits == 0 || v > 255 || (digits > 1 && s[start] == '0')) return false;
    out[part++] = static_cast<std::uint8_t>(v);
    if (part < 4) {
      if (i >= s.size() || s[i] != '.') return false;
      ++i;
    }
  }
  return i == s.size();
}

// The 16-bit groups of one side of "::" (or of the whole text), at most max
// of them; an IPv4 tail counts as two groups and is allowed only where
// tailAllowed. False when the side is malformed.
bool ParseGroups(std::string_view s, bool tailAllowed, std::uint16_t* groups, int& count, int max) {
  count = 0;
  if (s.empty()) return true;
  std::size_t i = 0;
  for (;;) {
    std::size_t end = s.find(':', i);
    std::string_view g = s.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i);
    if (end == std::string_view::npos && tailAllowed && g.find('.') != std::string_view::npos) {
      std::uint8_t v4[4];
      if (count + 2 > max || !ParseV4Tail(g, v4)) return false;
      groups[count++] = static_cast<std::uint16_t>(v4[0] << 8 | v4[1]);
      groups[count++] = static_cast<std::uint16_t>(v4[2] << 8 | v4[3]);
      return true;
    }
    if (g.empty() || g.size() > 4 || count >= max) return false;
    unsigned v = 0;
    for (char c : g) {
      const int h = HexValue(c);
      if (h < 0) return false;
      v = v * 16 + static_cast<unsigned>(h);
    }
    groups[count++] = static_cast<std::uint16_t>(v);
    if (end == std::string_view::npos) return true;
    i = end + 1;
  }
}

bool ParseV6(std::string_view s, std::array<std::uint8_t, 16>& bytes) {
  if (s.size() < 2 || s.size() > kMaxV6Text) return false;
  std::uint16_t left[8], right[8];
  int nLeft = 0, nRight = 0;
  const std::size_t gap = s.find("::");
  if (gap == std::string_view::npos) {
    if (!ParseGroups(s, true, left, nLeft, 8) || nLeft != 8) return false;
  } else {
    if (s.find("::", gap + 1) != std::string_view::npos) return false;
    // "::" stands for at least one zero group, so the two sides hold seven
    // groups at most.
    if (!ParseGroups(s.substr(0, gap), false, left, nLeft, 7)) return false;
    if (!ParseGroups(s.substr(gap + 2), true, right, nRight, 7 - nLeft)) return false;
  }
  std::uint16_t all[8] = {};
  for (int k = 0; k < nLeft; ++k) all[k] = left[k];
  for (int k = 0; k < nRight; ++k) all[8 - nRight + k] = right[k];
  for (int k = 0; k < 8; ++k) {
    bytes[2 * k] = static_cast<std::uint8_t>(all[k] >> 8);
    bytes[2 * k + 1] = static_cast<std::uint8_t>(all[k] & 0xFF);
  }
  return true;
}

const char kHex[] = "0123456789abcdef";

}  // namespace

IpAddress IpAddress::FromV4(std::uint32_t number) {
  IpAddress a;
  a.family_ = IpFamily::V4;
  a.bytes_[0] = static_cast<std::uint8_t>(number >> 24);
  a.bytes_[1] = static_cast<std::uint8_t>(number >> 16);
  a.bytes_[2] = static_cast<std::uint8_t>(number >> 8);
  a.bytes_[3] = static_cast<std::uint8_t>(number);
  return a;
}

IpAddress IpAddress::FromV6(const std::array<std::uint8_t, 16>& bytes, std::string zone) {
  IpAddress a;
  a.family_ = IpFamily::V6;
  a.bytes_ = bytes;
  if (ValidZone(zone)) a.zone_ = std::move(zone);
  return a;
}

IpAddress IpAddress::Parse(std::string_view text) {
  if (text.empty()) return {};
  if (text.find(':') == std::string_view::npos) {
    // The dotted reading every tool has always used.
    const std::string s(text);
    if (CountOccurrences(s, ".") != 3) return {};
    for (int f = 1; f <= 4; ++f) {
      const int v = StrToIntDef(GetField(s, ".", f), 256);
      if (v < 0 || v > 255) return {};
    }
    return FromV4(IpToNumber(s));
  }
  if (text.front() == '[') {
    if (text.size() < 2 || text.back() != ']') return {};
    text = text.substr(1, text.size() - 2);
  }
  std::string_view zone;
  if (const std::size_t pct = text.find('%'); pct != std::string_view::npos) {
    zone = text.substr(pct + 1);
    text = text.substr(0, pct);
    if (!ValidZone(zone)) return {};
  }
  std::array<std::uint8_t, 16> bytes{};
  if (!ParseV6(text, bytes)) return {};
  return FromV6(bytes, std::string(zone));
}

std::size_t IpAddress::Size() const {
  return family_ == IpFamily::V4 ? 4 : family_ == IpFamily::V6 ? 16 : 0;
}

std::uint32_t IpAddress::V4Number() const {
  if (!IsV4()) return 0;
  return static_cast<std::uint32_t>(bytes_[0]) << 24 | static_cast<std::uint32_t>(bytes_[1]) << 16 |
         static_cast<std::uint32_t>(bytes_[2]) << 8 | bytes_[3];
}

bool IpAddress::IsV4Mapped() const {
  if (!IsV6()) return false;
  for (int i = 0; i < 10; ++i)
    if (bytes_[i] != 0) return false;
  return bytes_[10] == 0xFF && bytes_[11] == 0xFF;
}

bool IpAddress::IsLoopback() const {
  if (IsV4()) return bytes_[0] == 127;
  if (!IsV6()) return false;
  for (int i = 0; i < 15; ++i)
    if (bytes_[i] != 0) return false;
  return bytes_[15] == 1;
}

bool IpAddress::IsLinkLocal() const {
  if (IsV4()) return bytes_[0] == 169 && bytes_[1] == 254;
  return IsV6() && bytes_[0] == 0xFE && (bytes_[1] & 0xC0) == 0x80;
}

std::string IpAddress::ToString() const {
  if (IsV4()) return NumberToIp(V4Number());
  if (!IsV6()) return {};
  std::uint16_t g[8];
  for (int k = 0; k < 8; ++k) g[k] = static_cast<std::uint16_t>(bytes_[2 * k] << 8 | bytes_[2 * k + 1]);
  // The longest run of zero groups, the first of equal ones; a single zero
  // group is written as "0", never as "::" (RFC 5952, 4.2).
  int bestStart = -1, bestLen = 0;
  for (int k = 0; k < 8;) {
    if (g[k] != 0) {
      ++k;
      continue;
    }
    int e = k;
    while (e < 8 && g[e] == 0) ++e;
    if (e - k > bestLen) {
      bestStart = k;
      bestLen = e - k;
    }
    k = e;
  }
  if (bestLen < 2) bestStart = -1;
  auto hex = [](std::string& out, std::uint16_t v) {
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned d = (v >> shift) & 0xF;
      if (d != 0 || started || shift == 0) {
        out += kHex[d];
        started = true;
      }
    }
  };
  std::string out;
  const int hexGroups = IsV4Mapped() ? 6 : 8;
  for (int k = 0; k < hexGroups;) {
    if (k == bestStart) {
      out += "::";
      k += bestLen;
      continue;
    }
    if (!out.empty() && out.back() != ':') out += ':';
    hex(out, g[k]);
    ++k;
  }
  if (hexGroups == 6) {
    if (out.back() != ':') out += ':';
    out += std::to_string(bytes_[12]) + "." + std::to_string(bytes_[13]) + "." +
           std::to_string(bytes_[14]) + "." + std::to_string(bytes_[15]);
  }
  if (!zone_.empty()) out += "%" + zone_;
  return out;
}

std::string IpAddress::UrlHost() const { return IsV6() ? "[" + ToString() + "]" : ToString(); }

std::string IpAddress::ReverseName() const {
  if (IsV4())
    return std::to_string(bytes_[3]) + "." + std::to_string(bytes_[2]) + "." +
           std::to_string(bytes_[1]) + "." + std::to_string(bytes_[0]) + ".in-addr.arpa";
  if (!IsV6()) return {};
  std::string out;
  out.reserve(72);
  for (int i = 15; i >= 0; --i) {
    out += kHex[bytes_[i] & 0xF];
    out += '.';
    out += kHex[bytes_[i] >> 4];
    out += '.';
  }
  return out + "ip6.arpa";
}

bool IsIpAddress(std::string_view text) { return !IpAddress::Parse(text).Empty(); }

std::string CanonicalAddress(const std::string& text) {
  const IpAddress a = IpAddress::Parse(text);
  return a.IsV6() ? a.ToString() : text;
}

}  // namespace quovix
