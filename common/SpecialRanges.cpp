#include "common/SpecialRanges.h"

#include <cstdint>

namespace quovix {

namespace {

struct Row {
  const char* Prefix;  // parsed on every look-up: the table is small
  SpecialRange Kind;
};

// Most specific first within a family: the first match wins.
constexpr Row kV4[] = {
    {"255.255.255.255/32", SpecialRange::Broadcast},
    {"192.0.2.0/24", SpecialRange::Documentation},
    {"198.51.100.0/24", SpecialRange::Documentation},
    {"203.0.113.0/24", SpecialRange::Documentation},
    {"192.0.0.0/24", SpecialRange::Protocol},
    {"192.88.99.0/24", SpecialRange::Relay6to4},
    {"169.254.0.0/16", SpecialRange::LinkLocal},
    {"192.168.0.0/16", SpecialRange::Private},
    {"198.18.0.0/15", SpecialRange::Benchmarking},
    {"172.16.0.0/12", SpecialRange::Private},
    {"100.64.0.0/10", SpecialRange::Shared},
    {"0.0.0.0/8", SpecialRange::ThisNetwork},
    {"10.0.0.0/8", SpecialRange::Private},
    {"127.0.0.0/8", SpecialRange::Loopback},
    {"224.0.0.0/4", SpecialRange::Multicast},
    {"240.0.0.0/4", SpecialRange::Reserved},
};
constexpr Row kV6[] = {
    {"::/128", SpecialRange::Unspecified},
    {"::1/128", SpecialRange::Loopback},
    {"100::/64", SpecialRange::Discard},
    {"2001:2::/48", SpecialRange::Benchmarking},
    {"2001::/32", SpecialRange::Teredo},
    {"2001:db8::/32", SpecialRange::Documentation},
    {"3fff::/20", SpecialRange::Documentation},
    {"2002::/16", SpecialRange::SixToFour},
    {"fe80::/10", SpecialRange::LinkLocal},
    {"ff00::/8", SpecialRange::Multicast},
    {"fc00::/7", SpecialRange::UniqueLocal},
};

bool InPrefix(const IpAddress& a, const IpAddress& base, int bits) {
  const auto& x = a.Bytes();
  const auto& y = base.Bytes();
  for (int i = 0; bits > 0; ++i, bits -= 8) {
    const std::uint8_t mask = bits >= 8 ? 0xFF : static_cast<std::uint8_t>(0xFF << (8 - bits));
    if ((x[i] & mask) != (y[i] & mask)) return false;
  }
  return true;
}

template <size_t N>
SpecialRangeMatch Match(const IpAddress& a, const Row (&rows)[N]) {
  for (const Row& r : rows) {
    const std::string prefix = r.Prefix;
    const size_t slash = prefix.find('/');
    const IpAddress base = IpAddress::Parse(prefix.substr(0, slash));
    if (InPrefix(a, base, std::stoi(prefix.substr(slash + 1)))) return {r.Kind, prefix};
  }
  return {};
}

}  // namespace

SpecialRangeMatch FindSpecialRange(const IpAddress& address) {
  if (address.IsV4()) return Match(address, kV4);
  if (!address.IsV6()) return {};
  if (address.IsV4Mapped()) {
    std::uint32_t v4 = 0;
    for (int i = 12; i < 16; ++i) v4 = v4 << 8 | address.Bytes()[i];
    return Match(IpAddress::FromV4(v4), kV4);
  }
  return Match(address, kV6);
}

SpecialRangeMatch FindSpecialRange(const std::string& address) {
  return FindSpecialRange(IpAddress::Parse(address));
}

bool IsLocalRange(SpecialRange kind) {
  switch (kind) {
    case SpecialRange::ThisNetwork:
    case SpecialRange::Unspecified:
    case SpecialRange::Private:
    case SpecialRange::Shared:
    case SpecialRange::Loopback:
    case SpecialRange::LinkLocal:
    case SpecialRange::UniqueLocal:
    case SpecialRange::Broadcast:
      return true;
    default:
      return false;
  }
}

const char* SpecialRangeName(SpecialRange kind) {
  switch (kind) {
    case SpecialRange::None: return "";
    case SpecialRange::ThisNetwork: return "this_network";
    case SpecialRange::Unspecified: return "unspecified";
    case SpecialRange::Private: return "private";
    case SpecialRange::Shared: return "shared";
    case SpecialRange::Loopback: return "loopback";
    case SpecialRange::LinkLocal: return "link_local";
    case SpecialRange::Protocol: return "protocol";
    case SpecialRange::Documentation: return "documentation";
    case SpecialRange::Benchmarking: return "benchmarking";
    case SpecialRange::Relay6to4: return "6to4_relay";
    case SpecialRange::SixToFour: return "6to4";
    case SpecialRange::Teredo: return "teredo";
    case SpecialRange::UniqueLocal: return "unique_local";
    case SpecialRange::Discard: return "discard";
    case SpecialRange::Multicast: return "multicast";
    case SpecialRange::Broadcast: return "broadcast";
    case SpecialRange::Reserved: return "reserved";
  }
  return "";
}

}  // namespace quovix
