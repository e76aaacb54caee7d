// DKIM key records: the TXT record at <selector>._domainkey.<domain>, its
// tags read, the key's type and size (RSA read with OpenSSL; Ed25519 by its
// 32 bytes), a testing flag, the hash algorithms, an empty key as revoked.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "clients/Spf.h"

namespace quovix::dkim {

struct Key {
  std::string Selector;
  std::string Name;        // <selector>._domainkey.<domain>
  bool Found = false;      // a key record is there
  bool DnsFailed = false;
  bool Several = false;    // more than one record: the key is not defined
  std::string Text;        // the record
  std::string Type = "rsa";  // k=, lower case
  int Bits = 0;            // 0: not known
  bool Revoked = false;    // p= empty
  bool Testing = false;    // t=y
  std::string Hashes;      // h=, as written (empty: all)
  // Problems: version (v= not DKIM1 or not first), key (p= missing or not a
  // key of its type), type (k= unknown), syntax (a part that is no tag=value),
  // selector (not a DNS label: not asked).
  std::vector<std::string> Problems;
  bool Weak() const { return Type == "rsa" && Bits > 0 && Bits < 1024; }
};

// Reads a key record's tags into key (Selector and Name as given).
void ParseRecord(std::string_view text, Key& key);

// The selectors looked up when the user gives none of these: common ones of
// mail services and software.
const std::vector<std::string>& BuiltInSelectors();

// Looks up each selector (at most 32, each a DNS label).
std::vector<Key> LookUp(spf::IDns& dns, const std::string& domain, const std::vector<std::string>& selectors);

}  // namespace quovix::dkim
