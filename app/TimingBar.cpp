#include "app/TimingBar.h"

#include <algorithm>
#include <utility>

namespace quovix {

std::vector<TimingSegment> TimingBarOf(const TLineFields& fields) {
  std::vector<TimingSegment> out;
  auto ms = [&fields](const char* name) {
    const TLineValue* v = FindField(fields, name);
    if (!v) return -1.0;
    if (v->Kind() == TLineValue::TKind::Real) return v->AsReal();
    if (v->Kind() == TLineValue::TKind::Integer) return static_cast<double>(v->AsInteger());
    return -1.0;
  };
  const double total = ms("total_ms");
  if (!(total > 0)) return out;
  const std::pair<TimingPhase, const char*> phases[] = {{TimingPhase::Lookup, "lookup_ms"},
                                                        {TimingPhase::Connect, "connect_ms"},
                                                        {TimingPhase::Tls, "tls_ms"},
                                                        {TimingPhase::FirstByte, "first_byte_ms"}};
  double at = 0;
  for (const auto& [phase, name] : phases) {
    const double share = std::min(std::max(ms(name), 0.0) / total, 1.0 - at);
    if (share <= 0) continue;
    out.push_back({phase, at, share});
    at += share;
  }
  if (at < 1.0) out.push_back({TimingPhase::Rest, at, 1.0 - at});
  return out;
}

}  // namespace quovix
