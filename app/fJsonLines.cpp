#include "app/fJsonLines.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace quovix {

namespace {

using nlohmann::ordered_json;

ordered_json ToJson(const TLineValue& v) {
  switch (v.Kind()) {
    case TLineValue::TKind::Null: return nullptr;
    case TLineValue::TKind::Bool: return v.AsBool();
    case TLineValue::TKind::Integer: return v.AsInteger();
    case TLineValue::TKind::Real:
      // JSON has no NaN or infinity.
      if (!std::isfinite(v.AsReal())) return nullptr;
      return v.AsReal();
    case TLineValue::TKind::Text: return v.AsText();
    case TLineValue::TKind::Object: {
      ordered_json o = ordered_json::object();
      for (const TLineField& f : v.AsObject()) o[f.Name] = ToJson(f.Value);
      return o;
    }
    case TLineValue::TKind::List: {
      ordered_json a = ordered_json::array();
      for (const TLineValue& item : v.AsList()) a.push_back(ToJson(item));
      return a;
    }
  }
  return nullptr;
}

// The fields beside the names the object already has (those stay its own).
void AddFields(ordered_json& o, const TLineFields& fields) {
  for (const TLineField& f : fields) {
    if (o.contains(f.Name)) continue;
    o[f.Name] = ToJson(f.Value);
  }
}

// The code point of the UTF-8 sequence at s[i] when it is one that must not
// stand raw in the output (a valid sequence; the dump guarantees that), else 0.
unsigned Unsafe(const std::string& s, size_t i, size_t& length) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char c = b(0);
  if (c == 0x7F) {
    length = 1;
    return 0x7F;
  }
  if (c == 0xC2 && i + 1 < s.size() && b(1) >= 0x80 && b(1) <= 0x9F) {
    length = 2;
    return b(1);  // C1 controls U+0080 … U+009F
  }
  if (c == 0xD8 && i + 1 < s.size() && b(1) == 0x9C) {
    length = 2;
    return 0x061C;  // Arabic letter mark
  }
  if ((c == 0xE2 || c == 0xEF) && i + 2 < s.size()) {
    const unsigned cp = ((c & 0x0Fu) << 12) | ((b(1) & 0x3Fu) << 6) | (b(2) & 0x3Fu);
    if ((cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) ||
        (cp >= 0x2060 && cp <= 0x2069) || cp == 0xFEFF) {
      length = 3;
      return cp;
    }
  }
  return 0;
}

// The object as one line of valid UTF-8 with the unsafe characters escaped.
std::string Dump(const ordered_json& o) {
  const std::string raw = o.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
  std::string out;
  out.reserve(raw.size());
  for (size_t i = 0; i < raw.size();) {
    size_t length = 0;
    if (const unsigned cp = Unsafe(raw, i, length)) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", cp);
      out += esc;
      i += length;
    } else {
      out += raw[i++];
    }
  }
  return out;
}

}  // namespace

const char* LineKind(TColor color) {
  switch (color) {
    case clBlue: return "heading";
    case clNavy: return "info";
    case clGreen: return "ok";
    case clRed: return "error";
    case clMaroon: return "timeout";
    default: return "data";
  }
}

bool IsFailureColor(TColor color) { return color == clRed || color == clMaroon; }

std::string JsonLine(const std::string& tool, const TOutputLine& line) {
  ordered_json o = ordered_json::object();
  o["tool"] = tool;
  o["kind"] = LineKind(line.Color);
  o["text"] = line.Text;
  AddFields(o, line.Fields);
  return Dump(o);
}

std::string JsonResult(const std::string& tool, const std::string& status,
                       const TLineFields& fields) {
  ordered_json o = ordered_json::object();
  o["tool"] = tool;
  o["kind"] = "result";
  o["status"] = status;
  AddFields(o, fields);
  return Dump(o);
}

}  // namespace quovix
