// The system's DNS server list for tests: one documentation address, so no
// test reads the machine's resolver configuration.
#pragma once

#include <string>
#include <vector>

#include "platform/DnsConfig.h"

namespace quovix::test {

class FixedDnsConfig : public platform::IDnsConfig {
 public:
  std::vector<std::string> NameServers() override { return {"192.0.2.53"}; }
};

}  // namespace quovix::test
