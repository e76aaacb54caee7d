// Where to ask RDAP: the bootstrap files beside the program, in the format of
// IANA's bootstrap registries (RFC 9224): RDAP/dns.json, RDAP/ipv4.json,
// RDAP/ipv6.json and RDAP/asn.json. Each maps domain labels, address
// prefixes or AS number ranges to base URLs. Any file of that format serves,
// so a user or a test can replace them; they are untrusted like everything
// else read from disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/IpAddress.h"

namespace quovix {

// Largest bootstrap file read; a larger one counts as missing.
constexpr std::size_t kRdapMaxBootstrapBytes = std::size_t{8} << 20;

enum class RdapRegistry { Dns, Ipv4, Ipv6, Asn };

// The file name of a registry inside ProgramFolder ("RDAP/dns.json", …).
std::string RdapBootstrapFileName(RdapRegistry registry);

// One bootstrap file, read and checked.
class RdapBootstrap {
 public:
  // Reads the text of a file of the given registry. Entries that are not of
  // that registry's kind, services without an http(s) URL and everything
  // beyond the bounds are skipped; Valid() is false when the text is not a
  // bootstrap file at all.
  static RdapBootstrap Parse(const std::string& json, RdapRegistry registry);

  bool Valid() const { return valid_; }
  std::size_t Entries() const { return labels_.size() + prefixes_.size() + ranges_.size(); }

  // The base URL (ending in "/") for a domain name in A-label form: the
  // entry with the most labels that equals the name or a suffix of it.
  std::string ForDomain(const std::string& domain) const;
  // For an IPv4 or IPv6 address text: the longest prefix that holds it.
  std::string ForAddress(const std::string& address) const;
  // For an AS number: the narrowest range that holds it.
  std::string ForAsn(std::uint32_t asn) const;

 private:
  struct Label {
    std::string Name;  // lower case, no trailing dot
    int Labels;
    std::size_t Url;
  };
  struct Prefix {
    IpAddress Address;
    int Bits;
    std::size_t Url;
  };
  struct Range {
    std::uint32_t First, Last;
    std::size_t Url;
  };
  bool valid_ = false;
  std::vector<std::string> urls_;  // one per service
  std::vector<Label> labels_;
  std::vector<Prefix> prefixes_;
  std::vector<Range> ranges_;
};

// The look-ups in the files of ProgramFolder. A file is read on first use
// and again whenever its size or modification time changed; a missing,
// oversized or unreadable file names no URL.
std::string RdapBaseUrlForDomain(const std::string& domain);
std::string RdapBaseUrlForAddress(const std::string& address);
std::string RdapBaseUrlForAsn(std::uint32_t asn);
// Forgets the files read (tests).
void ResetRdapBootstrapCache();

// "AS64500" (any letter case) as a number; false for anything else (a plain
// number is no AS number here: it may be meant as an address).
bool ParseAsNumber(const std::string& text, std::uint32_t& asn);

}  // namespace quovix
