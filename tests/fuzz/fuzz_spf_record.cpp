// Any bytes as sender policy records and macro strings: the first value
// (values are cut at zero bytes) is parsed as a record and expanded as a
// macro string; then check_host() runs over a DNS whose every TXT answer is
// the next value in turn, every address answer 192.0.2.1, every MX and PTR
// answer a name under the domain. The walk must stay within its bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "FuzzValues.h"
#include "clients/Spf.h"

using namespace quovix;
using namespace quovix::spf;

namespace {
struct CyclingDns : IDns {
  std::vector<std::string> values;
  std::size_t next = 0;
  int asked = 0;
  DnsAnswer Query(const std::string& name, std::uint16_t type) override {
    ++asked;
    if (name.size() > 253) std::abort();
    switch (type) {
      case kTxt: return {DnsStatus::Ok, {values[next++ % values.size()]}};
      case kA: return {DnsStatus::Ok, {"192.0.2.1"}};
      case kAaaa: return {DnsStatus::Ok, {"2001:db8::1"}};
      default: return {DnsStatus::Ok, {"host.example.com"}};
    }
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  const std::string raw(reinterpret_cast<const char*>(data), size);
  CyclingDns dns;
  dns.values = fuzz::SplitAtZero(raw);
  const ParsedRecord parsed = ParseRecord(dns.values.front());
  if (parsed.Error.empty() != parsed.ErrorTerm.empty()) std::abort();

  for (const char* ip : {"192.0.2.1", "2001:db8::1", ""}) {
    Identity who;
    who.Ip = IpAddress::Parse(ip);
    who.Domain = "example.com";
    who.Sender = "a.b-c@example.com";
    MacroContext cx{&who, "example.com", true, "host.example.com"};
    std::string out;
    (void)ExpandMacros(dns.values.front(), cx, out);
    if (out.size() > 16 * raw.size() + 1024) std::abort();

    Limits limits;
    limits.TimeMs = 2000;
    dns.next = 0;
    dns.asked = 0;
    const Evaluation ev = CheckHost(dns, who, limits);
    if (dns.asked > limits.MaxQueries + 1) std::abort();  // + the explanation
    if (ev.Tree.empty() || ev.Tree.size() > static_cast<std::size_t>(limits.MaxRecords)) std::abort();
    // Every look-up term numbered once, 1 … Lookups.
    std::vector<bool> seen(static_cast<std::size_t>(ev.Lookups) + 1, false);
    int counted = 0;
    for (const ShownRecord& r : ev.Tree) {
      if (r.Depth > limits.MaxDepth) std::abort();
      for (const ShownTerm& t : r.Terms) {
        if (t.Lookup < 0 || t.Lookup > ev.Lookups) std::abort();
        if (t.Lookup > 0) {
          if (seen[static_cast<std::size_t>(t.Lookup)]) std::abort();
          seen[static_cast<std::size_t>(t.Lookup)] = true;
          ++counted;
        }
        if (t.PastLimit != (t.Lookup > limits.Lookups)) std::abort();
        if (t.Child >= static_cast<int>(ev.Tree.size())) std::abort();
      }
    }
    if (counted != ev.Lookups) std::abort();
  }
  return 0;
}
