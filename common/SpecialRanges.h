// The special-purpose address ranges (IANA's special-purpose address
// registries for IPv4 and IPv6, and the multicast and reserved blocks of the
// address space): addresses that belong to no country and, for the local
// ones, to no registry, whatever a data pack says about them.
#pragma once

#include <string>

#include "common/IpAddress.h"

namespace quovix {

enum class SpecialRange {
  None,
  ThisNetwork,    // 0.0.0.0/8
  Unspecified,    // ::/128
  Private,        // 10/8, 172.16/12, 192.168/16
  Shared,         // 100.64.0.0/10 (carrier-grade NAT)
  Loopback,       // 127/8, ::1
  LinkLocal,      // 169.254/16, fe80::/10
  Protocol,       // 192.0.0.0/24 (IETF protocol assignments)
  Documentation,  // 192.0.2/24, 198.51.100/24, 203.0.113/24, 2001:db8::/32, 3fff::/20
  Benchmarking,   // 198.18/15, 2001:2::/48
  Relay6to4,      // 192.88.99.0/24 (the former 6to4 relay anycast)
  SixToFour,      // 2002::/16
  Teredo,         // 2001::/32
  UniqueLocal,    // fc00::/7
  Discard,        // 100::/64
  Multicast,      // 224/4, ff00::/8
  Broadcast,      // 255.255.255.255
  Reserved,       // 240/4
};

struct SpecialRangeMatch {
  SpecialRange Kind = SpecialRange::None;
  std::string Prefix;  // the range in prefix form, "10.0.0.0/8"
};

// The most specific special range holding the address (an IPv4-mapped IPv6
// address counts as the IPv4 address it carries); Kind None when there is none.
SpecialRangeMatch FindSpecialRange(const IpAddress& address);
SpecialRangeMatch FindSpecialRange(const std::string& address);

// Ranges used only inside one network or host: no registry hands them out,
// so no registry can say who holds one.
bool IsLocalRange(SpecialRange kind);

// The range's name in the JSON output ("documentation", "private", …).
const char* SpecialRangeName(SpecialRange kind);

}  // namespace quovix
