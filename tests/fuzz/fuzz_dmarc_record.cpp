// Any bytes as DMARC records: the first value (values are cut at zero bytes)
// is read as a record; then the discovery runs over a DNS whose every TXT
// answer is the next value in turn. Its look-ups stay bounded.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzValues.h"
#include "clients/Dmarc.h"

using namespace quovix;

namespace {
struct CyclingDns : spf::IDns {
  std::vector<std::string> values;
  std::size_t next = 0;
  int asked = 0;
  spf::DnsAnswer Query(const std::string&, std::uint16_t) override {
    ++asked;
    return {spf::DnsStatus::Ok, {values[next++ % values.size()]}};
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  CyclingDns dns;
  dns.values = fuzz::SplitAtZero(std::string(reinterpret_cast<const char*>(data), size));
  const dmarc::Record r = dmarc::ParseRecord(dns.values.front());
  if (r.Valid && r.Policy.empty()) std::abort();
  if (r.Pct < 0 || r.Pct > 100 || r.Uris.size() > 16) std::abort();
  const dmarc::Discovery d = dmarc::Discover(dns, "mail.example.com", "example.com");
  if (dns.asked > 2 + 8) std::abort();
  for (const dmarc::ReportUri& u : d.Policy.Uris)
    if (u.Address.find('@') == std::string::npos) std::abort();
  return 0;
}
