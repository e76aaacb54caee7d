// The network an address belongs to: the autonomous system (AS number and
// name) that announces it, from the AS packs beside the program (ASN.pak
// for IPv4, ASN6.pak for IPv6; rows "first|last|asn|name" like those of the
// country packs), read and cached the same way.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quovix {

struct AsInfo {
  std::uint32_t Asn = 0;
  std::string Name;  // as the data has it; may be empty
};

// The AS of an address text of either family (an IPv4-mapped IPv6 address
// counts as its IPv4 address). None for a text that is no address, for an
// address of a special-purpose range (private, documentation, loopback ...:
// whatever the data says, no AS announces those to the world), for one that
// no AS announces, and when the pack is missing or damaged. Safe to call
// from several threads.
std::optional<AsInfo> LookupAs(const std::string& address);

}  // namespace quovix
