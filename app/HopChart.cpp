#include "app/HopChart.h"

#include <algorithm>
#include <cmath>

#include "app/PingChart.h"

namespace quovix {

bool HopChart::Add(const TLineFields& fields) {
  const TLineValue* hop = FindField(fields, "hop");
  if (!hop || hop->Kind() != TLineValue::TKind::Integer || FindField(fields, "sent")) return false;
  if (hop->AsInteger() < 1 || hop->AsInteger() > kMaxHop) return false;
  HopSample s;
  s.Hop = static_cast<int>(hop->AsInteger());
  const TLineValue* rtt = FindField(fields, "rtt_ms");
  const TLineValue* verdict = FindField(fields, "verdict");
  const TLineValue* timeout = FindField(fields, "timeout");
  if (rtt && (rtt->Kind() == TLineValue::TKind::Integer || rtt->Kind() == TLineValue::TKind::Real)) {
    const double ms = rtt->Kind() == TLineValue::TKind::Real ? rtt->AsReal()
                                                              : static_cast<double>(rtt->AsInteger());
    if (!(ms >= 0) || !std::isfinite(ms)) return false;
    s.RttMs = ms;
  } else if (!(timeout && timeout->AsBool()) &&
             !(verdict && verdict->Kind() == TLineValue::TKind::Text && verdict->AsText() == "unreachable")) {
    return false;
  }
  const auto at = std::lower_bound(hops_.begin(), hops_.end(), s.Hop,
                                   [](const HopSample& h, int n) { return h.Hop < n; });
  if (at != hops_.end() && at->Hop == s.Hop)
    *at = s;
  else
    hops_.insert(at, s);
  return true;
}

std::vector<double> HopChart::Ticks() const {
  double top = 0;
  for (const HopSample& h : hops_)
    if (h.RttMs) top = std::max(top, *h.RttMs);
  return NiceTicks(top);
}

}  // namespace quovix
