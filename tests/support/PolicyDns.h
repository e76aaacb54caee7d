// A DNS for the mail policy checks: answers from a table, nothing asked of a
// real server.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "clients/Spf.h"

namespace quovix::test {

// Answers by (name, type); a name with no entry of any type does not exist,
// one with entries of other types has no data of this type. "!fail" as the
// only value makes the query fail.
struct TableDns : spf::IDns {
  std::map<std::pair<std::string, std::uint16_t>, std::vector<std::string>> Zone;
  std::vector<std::pair<std::string, std::uint16_t>> Asked;
  spf::DnsAnswer Query(const std::string& name, std::uint16_t type) override {
    Asked.emplace_back(name, type);
    auto it = Zone.find({name, type});
    if (it != Zone.end()) {
      if (it->second == std::vector<std::string>{"!fail"}) return {spf::DnsStatus::Failed, {}};
      return {spf::DnsStatus::Ok, it->second};
    }
    for (const auto& [key, values] : Zone)
      if (key.first == name) return {spf::DnsStatus::Ok, {}};
    return {spf::DnsStatus::NoName, {}};
  }
  TableDns& Txt(const std::string& name, std::vector<std::string> v) { return Put(name, spf::kTxt, std::move(v)); }
  TableDns& Put(const std::string& name, std::uint16_t type, std::vector<std::string> v) {
    Zone[{name, type}] = std::move(v);
    return *this;
  }
};

}  // namespace quovix::test
