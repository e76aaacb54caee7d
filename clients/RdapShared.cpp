#include "clients/RdapShared.h"

#include <cstring>

namespace quovix::rdap {

JsonRefusal ParseBoundedJson(const std::string& text, std::size_t maxBytes, int maxDepth,
                             Json& out) {
  out = Json();
  if (text.size() > maxBytes) return JsonRefusal::TooLarge;
  // Depth of brackets outside strings. A text that is no JSON may fool the
  // count in either direction; the parser refuses it afterwards anyway, and
  // an accepted text really nests no deeper than counted.
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > maxDepth) return JsonRefusal::TooDeep;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  try {
    Json v = Json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (v.is_discarded()) return JsonRefusal::NotJson;
    out = std::move(v);
    return JsonRefusal::None;
  } catch (...) {
    return JsonRefusal::NotJson;
  }
}

const Json* Member(const Json& v, const char* key) {
  if (!v.is_object()) return nullptr;
  const auto it = v.find(key);
  return it == v.end() ? nullptr : &*it;
}

std::string ScalarText(const Json* v) {
  if (!v) return {};
  if (v->is_string()) return v->get_ref<const std::string&>();
  if (v->is_number_unsigned()) return std::to_string(v->get<std::uint64_t>());
  if (v->is_number_integer()) return std::to_string(v->get<std::int64_t>());
  if (v->is_number_float()) {
    const double d = v->get<double>();
    // Whole numbers sent as floats (1.0e3) read as whole numbers.
    if (d >= -9.0e15 && d <= 9.0e15 && d == static_cast<double>(static_cast<long long>(d)))
      return std::to_string(static_cast<long long>(d));
    return std::to_string(d);
  }
  if (v->is_boolean()) return v->get<bool>() ? "true" : "false";
  return {};
}

std::string StringMember(const Json& v, const char* key) {
  const Json* m = Member(v, key);
  return m && m->is_string() ? m->get_ref<const std::string&>() : std::string();
}

bool SamePrefix(const IpAddress& a, const IpAddress& b, int bits) {
  if (a.Empty() || a.Family() != b.Family() || bits < 0 ||
      static_cast<size_t>(bits) > 8 * a.Size())
    return false;
  const size_t whole = static_cast<size_t>(bits) / 8;
  if (std::memcmp(a.Data(), b.Data(), whole) != 0) return false;
  const int rest = bits % 8;
  if (rest == 0) return true;
  const unsigned mask = (0xFFu << (8 - rest)) & 0xFFu;
  return (a.Data()[whole] & mask) == (b.Data()[whole] & mask);
}

}  // namespace quovix::rdap
