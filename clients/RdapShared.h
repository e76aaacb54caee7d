// What the RDAP bootstrap reader and the RDAP answer reader share: reading
// untrusted JSON text with its size and nesting bounded, careful member
// access, and the prefix test on addresses.
// Internal to clients/Rdap*.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "common/IpAddress.h"

namespace quovix::rdap {

using Json = nlohmann::json;

// Why a JSON text was refused.
enum class JsonRefusal { None, TooLarge, TooDeep, NotJson };

// Parses text into out when it is at most maxBytes long and nests arrays and
// objects at most maxDepth deep (checked before the parser sees the text, so
// no recursion over the value can run away). Never throws.
JsonRefusal ParseBoundedJson(const std::string& text, std::size_t maxBytes, int maxDepth,
                             Json& out);

// The member of an object, null when v is no object or lacks it.
const Json* Member(const Json& v, const char* key);
// The text of a string, or of a number or boolean; empty for anything else.
std::string ScalarText(const Json* v);
// The text of a string member; empty when absent or not a string.
std::string StringMember(const Json& v, const char* key);

// Whether the first bits of a and b are equal (same family required, bits
// within the family's width).
bool SamePrefix(const IpAddress& a, const IpAddress& b, int bits);

}  // namespace quovix::rdap
