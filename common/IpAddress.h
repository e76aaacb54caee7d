// One IP address of either family: the value the tools pass around where
// they need more than the text, parsed and printed here and nowhere else.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quovix {

enum class IpFamily : std::uint8_t { None, V4, V6 };

class IpAddress {
 public:
  // The empty value: no address (family None).
  IpAddress() = default;

  // An IPv4 address from its 32-bit number (host order, as IpToNumber gives it).
  static IpAddress FromV4(std::uint32_t number);
  // An IPv6 address from its 16 bytes (network order) and an optional zone
  // (interface name or index, without the "%").
  static IpAddress FromV6(const std::array<std::uint8_t, 16>& bytes, std::string zone = {});

  // Reads an address as a user or a server writes it: a dotted IPv4 address
  // in the program's long-standing reading (exactly three dots, each field an
  // integer 0..255 as StrToIntDef reads it, so "010.0.0.1" is 10.0.0.1), or an
  // IPv6 literal (RFC 4291 text, an IPv4 tail allowed), with or without
  // enclosing "[ ]", with or without a "%zone". Anything else gives the
  // empty value. Leading or trailing blanks are not taken.
  static IpAddress Parse(std::string_view text);

  IpFamily Family() const { return family_; }
  bool IsV4() const { return family_ == IpFamily::V4; }
  bool IsV6() const { return family_ == IpFamily::V6; }
  bool Empty() const { return family_ == IpFamily::None; }

  // The address bytes in network order: 4 for IPv4, 16 for IPv6, 0 when empty.
  const std::uint8_t* Data() const { return bytes_.data(); }
  std::size_t Size() const;
  const std::array<std::uint8_t, 16>& Bytes() const { return bytes_; }  // IPv4: the first 4
  // The IPv4 number in host order; 0 for anything else.
  std::uint32_t V4Number() const;
  const std::string& Zone() const { return zone_; }

  // The text: dotted decimal for IPv4; for IPv6 the RFC 5952 form (lower
  // case, no leading zeros, the longest run of two or more zero groups as
  // "::", an IPv4-mapped address as ::ffff:a.b.c.d) followed by "%zone" when
  // there is one. Empty for the empty value.
  std::string ToString() const;
  // The form for a URL or a host:port text: IPv6 in "[ ]", IPv4 as it is.
  std::string UrlHost() const;
  // The name a reverse (PTR) look-up asks for: "4.3.2.1.in-addr.arpa" or
  // the 32 nibbles, last first, under ".ip6.arpa". Empty for the empty value.
  std::string ReverseName() const;

  bool IsLoopback() const;    // 127.0.0.0/8, ::1
  bool IsLinkLocal() const;   // 169.254.0.0/16, fe80::/10
  bool IsV4Mapped() const;    // ::ffff:0:0/96

  friend bool operator==(const IpAddress&, const IpAddress&) = default;

 private:
  IpFamily family_ = IpFamily::None;
  std::array<std::uint8_t, 16> bytes_{};
  std::string zone_;
};

// True when text is an address of either family in the sense of Parse.
bool IsIpAddress(std::string_view text);

// An IPv6 literal in its RFC 5952 form (brackets dropped, zone kept); any
// other text, a dotted IPv4 address included, exactly as it came.
std::string CanonicalAddress(const std::string& text);

}  // namespace quovix
