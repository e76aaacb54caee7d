// Any bytes as MTA-STS material: the first value (values are cut at zero
// bytes) is read as a policy file, every value as a TXT record of either
// kind, and each mx pattern of the policy matched against the other values
// as exchanger names. The caps on lines, patterns and destinations hold.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzValues.h"
#include "clients/MtaSts.h"

using namespace quovix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size > sts::kMaxPolicyBytes) return 0;
  const std::vector<std::string> values =
      fuzz::SplitAtZero(std::string(reinterpret_cast<const char*>(data), size));
  const sts::Policy p = sts::ParsePolicy(values.front());
  if (p.Mx.size() > sts::kMaxMxPatterns || p.MaxAge > sts::kMaxMaxAge) std::abort();
  if (p.Valid() && (p.Version != "STSv1" || p.MaxAge < 0)) std::abort();
  if (p.Valid() && p.Mode != "none" && p.Mx.empty()) std::abort();
  const sts::StsRecord r = sts::ReadStsRecords(values);
  if (r.State == sts::TxtState::Valid && (r.Id.empty() || r.Id.size() > 32)) std::abort();
  const sts::TlsRptRecord t = sts::ReadTlsRptRecords(values);
  if (t.Rua.size() > sts::kMaxReportDestinations) std::abort();
  if (t.State == sts::TxtState::Valid && t.Rua.empty()) std::abort();
  for (std::size_t i = 1; i < values.size() && i < 8; ++i) {
    const int at = sts::MatchingPattern(p.Mx, values[i]);
    if (at >= static_cast<int>(p.Mx.size())) std::abort();
  }
  return 0;
}
