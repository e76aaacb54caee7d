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
  // The file's "publication" member (an RFC 3339 time), empty when it has none.
  const std::string& Publication() const { return publication_; }

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
  std::string publication_;
  std::vector<std::string> urls_;  // one per service
  std::vector<Label> labels_;
  std::vector<Prefix> prefixes_;
  std::vector<Range> ranges_;
};

// Where the bootstrap files are refreshed from: a base URL below which the
// four files lie under their own names (IANA's by default, set from the
// settings; a loopback URL in tests, an offline mirror). Empty: no refresh,
// and the files at hand are taken as current.
extern std::string RdapBootstrapUrl;
inline constexpr const char* kIanaRdapBootstrapUrl = "https://data.iana.org/rdap/";
// A file is fetched at most this often (a failed try counts).
constexpr int kRdapBootstrapRefreshSeconds = 24 * 60 * 60;
// A fetched file names today's services for this long.
constexpr int kRdapBootstrapCurrentSeconds = 7 * 24 * 60 * 60;

// The fetched copy of a registry's file in the cache folder
// ($XDG_CACHE_HOME/quovix/RDAP/…), empty when there is no cache folder.
std::string RdapBootstrapCachePath(RdapRegistry registry);

// The look-ups in the file of each registry: of the file beside the program
// (ProgramFolder, shipped with it or put there by the user) and the fetched
// copy, the one with the later publication. A file is read on first use and
// again whenever its size or modification time changed; a missing,
// oversized or unreadable file names no URL.
std::string RdapBaseUrlForDomain(const std::string& domain);
std::string RdapBaseUrlForAddress(const std::string& address);
std::string RdapBaseUrlForAsn(std::uint32_t asn);
// The registry of an address's file (Ipv4 or Ipv6).
RdapRegistry RdapRegistryForAddress(const std::string& address);
// The publication of the file in use, empty when none is.
std::string RdapBootstrapPublication(RdapRegistry registry);
// Whether the file in use names today's services: no refresh is set up, or
// it is at least as new as a copy fetched within kRdapBootstrapCurrentSeconds.
// A registry's "not found" counts only from a service of a current file: an
// old file may name a service that no longer holds the object.
bool RdapBootstrapIsCurrent(RdapRegistry registry);
// Forgets the files read (tests).
void ResetRdapBootstrapCache();

// "AS64500" (any letter case) as a number; false for anything else (a plain
// number is no AS number here: it may be meant as an address).
bool ParseAsNumber(const std::string& text, std::uint32_t& asn);

}  // namespace quovix
