// Fuzz target of the DNS reply reader: any bytes as a reply to the query whose
// identifier the reply itself carries, so the reader gets past the
// identifier check and into the records.
#include <cstddef>
#include <cstdint>

#include "clients/DnsClient.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quovix::TIdDNSResolver resolver;
  const std::uint16_t id = size >= 2 ? static_cast<std::uint16_t>((data[0] << 8) | data[1]) : 0;
  try {
    resolver.ReadReply(data, size, id);
    // Touch every decoded field so a bad length or offset shows up here.
    size_t total = 0;
    for (const auto& rec : resolver.QueryResult) {
      total += rec.Name.size() + rec.RData.size() + rec.HostName.size() + rec.IPAddress.size() +
               rec.Primary.size() + rec.Responsible.size();
      for (const auto& t : rec.Text) total += t.size();
    }
    if (total > 64 * size + 65536) __builtin_trap();  // far more text than bytes: a runaway
  } catch (const quovix::EIdDnsResolverError&) {
  }
  return 0;
}
