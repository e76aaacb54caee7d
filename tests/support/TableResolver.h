// A resolver for tests: names and addresses from tables, nothing asked of a
// real name server.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "common/fMain.h"
#include "platform/Resolver.h"

namespace quovix::test {

class TableResolver : public platform::IResolver {
 public:
  std::map<std::string, std::string> Forward;  // name -> address
  std::map<std::string, std::string> Reverse;  // address -> name (IPv6 in RFC 5952 form)
  // name -> addresses of both families in the resolver's order; a name
  // missing here has the address of Forward only.
  std::map<std::string, std::vector<std::string>> All;
  std::string HostToIp(const std::string& name) override {
    auto it = Forward.find(name);
    return it == Forward.end() ? std::string() : it->second;
  }
  std::string IpToHost(std::uint32_t address) override {
    auto it = Reverse.find(NumberToIp(address));
    return it == Reverse.end() ? std::string() : it->second;
  }
  std::vector<IpAddress> Addresses(const std::string& name) override {
    auto it = All.find(name);
    if (it == All.end()) return IResolver::Addresses(name);
    std::vector<IpAddress> out;
    for (const auto& a : it->second) out.push_back(IpAddress::Parse(a));
    return out;
  }
  std::string AddressToHost(const IpAddress& address) override {
    auto it = Reverse.find(address.ToString());
    return it == Reverse.end() ? std::string() : it->second;
  }
  std::string OwnAddress() override { return "192.0.2.99"; }
  std::string SystemHostName() override { return "testbox"; }
};

}  // namespace quovix::test
