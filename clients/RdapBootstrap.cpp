#include "clients/RdapBootstrap.h"

#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>

#include "clients/RdapShared.h"
#include "common/fMain.h"
#include "common/fRangePack.h"

namespace quovix {

std::string RdapBootstrapUrl;

namespace {

using rdap::Json;

// Bounds of one file: IANA's files hold a few hundred services and a few
// thousand entries; these leave room for files made by hand.
constexpr std::size_t kMaxServices = 20000;
constexpr std::size_t kMaxEntries = 200000;
constexpr std::size_t kMaxUrlsPerService = 16;
constexpr std::size_t kMaxUrlLength = 2048;
constexpr int kMaxDepth = 8;

bool StartsWithNoCase(const std::string& s, const char* prefix) {
  const size_t n = std::strlen(prefix);
  return s.size() >= n && LowerAscii(s.substr(0, n)) == prefix;
}

// A usable base URL: http(s), no blanks or control characters, bounded.
bool UsableUrl(const std::string& url) {
  if (url.empty() || url.size() > kMaxUrlLength) return false;
  for (unsigned char c : url)
    if (c <= 0x20 || c >= 0x7F) return false;
  return StartsWithNoCase(url, "https://") || StartsWithNoCase(url, "http://");
}

// The URL of a service: the first HTTPS one (the file may list a plain HTTP
// URL beside it), else the first HTTP one; with a trailing "/" so that a
// path can follow.
std::string ChooseUrl(const Json& urls) {
  std::string http;
  size_t seen = 0;
  for (const Json& u : urls) {
    if (++seen > kMaxUrlsPerService) break;
    if (!u.is_string()) continue;
    const std::string& url = u.get_ref<const std::string&>();
    if (!UsableUrl(url)) continue;
    std::string withSlash = url.back() == '/' ? url : url + "/";
    if (StartsWithNoCase(url, "https://")) return withSlash;
    if (http.empty()) http = std::move(withSlash);
  }
  return http;
}

std::string NormaliseDomain(std::string d) {
  d = LowerAscii(Trim(d));
  while (!d.empty() && d.back() == '.') d.pop_back();
  return d;
}

int CountLabels(const std::string& name) {
  return name.empty() ? 0 : 1 + CountOccurrences(name, ".");
}

bool ParseDecimal(const std::string& s, std::uint32_t& out) {
  if (s.empty() || s.size() > 10) return false;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  if (v > 0xFFFFFFFFull) return false;
  out = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace

std::string RdapBootstrapFileName(RdapRegistry registry) {
  switch (registry) {
    case RdapRegistry::Dns: return "RDAP/dns.json";
    case RdapRegistry::Ipv4: return "RDAP/ipv4.json";
    case RdapRegistry::Ipv6: return "RDAP/ipv6.json";
    case RdapRegistry::Asn: return "RDAP/asn.json";
  }
  return {};
}

RdapBootstrap RdapBootstrap::Parse(const std::string& text, RdapRegistry registry) {
  RdapBootstrap b;
  Json doc;
  if (rdap::ParseBoundedJson(text, kRdapMaxBootstrapBytes, kMaxDepth, doc) !=
      rdap::JsonRefusal::None)
    return b;
  const Json* services = rdap::Member(doc, "services");
  if (!services || !services->is_array()) return b;
  b.valid_ = true;
  // A time is short; anything else is no publication date worth showing.
  if (std::string p = rdap::StringMember(doc, "publication"); p.size() <= 40) {
    bool printable = true;
    for (unsigned char c : p) printable = printable && c > 0x20 && c < 0x7F;
    if (printable) b.publication_ = std::move(p);
  }
  size_t entries = 0;
  size_t serviceCount = 0;
  for (const Json& service : *services) {
    if (++serviceCount > kMaxServices || entries >= kMaxEntries) break;
    // A service is [[entry, …], [url, …]].
    if (!service.is_array() || service.size() < 2 || !service[0].is_array() ||
        !service[1].is_array())
      continue;
    const std::string url = ChooseUrl(service[1]);
    if (url.empty()) continue;
    const size_t urlIndex = b.urls_.size();
    bool used = false;
    for (const Json& e : service[0]) {
      if (entries >= kMaxEntries) break;
      if (!e.is_string()) continue;
      const std::string entry = Trim(e.get_ref<const std::string&>());
      if (entry.empty() || entry.size() > 255) continue;
      switch (registry) {
        case RdapRegistry::Dns: {
          const std::string name = NormaliseDomain(entry);
          if (name.empty()) continue;
          b.labels_.push_back({name, CountLabels(name), urlIndex});
          break;
        }
        case RdapRegistry::Ipv4:
        case RdapRegistry::Ipv6: {
          const size_t slash = entry.find('/');
          const IpAddress a = IpAddress::Parse(entry.substr(0, slash));
          const IpFamily family = registry == RdapRegistry::Ipv4 ? IpFamily::V4 : IpFamily::V6;
          if (a.Family() != family || !a.Zone().empty()) continue;
          const auto width = static_cast<std::uint32_t>(8 * a.Size());
          std::uint32_t bits = width;
          if (slash != std::string::npos &&
              (!ParseDecimal(entry.substr(slash + 1), bits) || bits > width))
            continue;
          b.prefixes_.push_back({a, static_cast<int>(bits), urlIndex});
          break;
        }
        case RdapRegistry::Asn: {
          const size_t dash = entry.find('-');
          std::uint32_t first = 0, last = 0;
          if (!ParseDecimal(Trim(entry.substr(0, dash)), first)) continue;
          last = first;
          if (dash != std::string::npos && !ParseDecimal(Trim(entry.substr(dash + 1)), last))
            continue;
          if (last < first) continue;
          b.ranges_.push_back({first, last, urlIndex});
          break;
        }
      }
      ++entries;
      used = true;
    }
    if (used) b.urls_.push_back(url);
  }
  return b;
}

std::string RdapBootstrap::ForDomain(const std::string& domainIn) const {
  const std::string domain = NormaliseDomain(domainIn);
  if (domain.empty()) return {};
  const Label* best = nullptr;
  for (const Label& l : labels_) {
    if (best && l.Labels <= best->Labels) continue;
    const bool match =
        domain == l.Name ||
        (domain.size() > l.Name.size() &&
         domain.compare(domain.size() - l.Name.size(), l.Name.size(), l.Name) == 0 &&
         domain[domain.size() - l.Name.size() - 1] == '.');
    if (match) best = &l;
  }
  return best ? urls_[best->Url] : std::string();
}

std::string RdapBootstrap::ForAddress(const std::string& address) const {
  const IpAddress a = IpAddress::Parse(Trim(address));
  if (a.Empty()) return {};
  const Prefix* best = nullptr;
  for (const Prefix& p : prefixes_) {
    if (best && p.Bits <= best->Bits) continue;
    if (rdap::SamePrefix(a, p.Address, p.Bits)) best = &p;
  }
  return best ? urls_[best->Url] : std::string();
}

std::string RdapBootstrap::ForAsn(std::uint32_t asn) const {
  const Range* best = nullptr;
  for (const Range& r : ranges_) {
    if (asn < r.First || asn > r.Last) continue;
    if (!best || r.Last - r.First < best->Last - best->First) best = &r;
  }
  return best ? urls_[best->Url] : std::string();
}

// ---- The files beside the program ---------------------------------------------------

namespace {

struct CachedFile {
  bool Present = false;
  off_t Size = 0;
  struct timespec Modified {};
  std::shared_ptr<const RdapBootstrap> File;
};

std::mutex gCacheMutex;
std::map<std::string, CachedFile> gCache;  // by path

// The file at path as it is on disk now (read again after a change);
// modified receives its modification time when it is there.
std::shared_ptr<const RdapBootstrap> FileAt(const std::string& path, RdapRegistry registry,
                                            struct timespec* modified = nullptr) {
  struct stat st {};
  const bool present = !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  if (modified) *modified = present ? st.st_mtim : timespec{};
  std::lock_guard<std::mutex> lk(gCacheMutex);
  CachedFile& c = gCache[path];
  if (c.File && c.Present == present &&
      (!present || (c.Size == st.st_size && c.Modified.tv_sec == st.st_mtim.tv_sec &&
                    c.Modified.tv_nsec == st.st_mtim.tv_nsec)))
    return c.File;
  c = CachedFile{};
  c.Present = present;
  RdapBootstrap file;
  if (present) {
    c.Size = st.st_size;
    c.Modified = st.st_mtim;
    if (static_cast<std::uint64_t>(st.st_size) <= kRdapMaxBootstrapBytes) {
      try {
        file = RdapBootstrap::Parse(ReadWholeFile(path), registry);
      } catch (...) {
        // Unreadable: names no URL, like a missing file.
      }
    }
  }
  c.File = std::make_shared<const RdapBootstrap>(std::move(file));
  return c.File;
}

struct InUse {
  std::shared_ptr<const RdapBootstrap> File;
  bool Current = false;
};

// The file of a registry in use now: the one beside the program or the
// fetched copy, whichever was published later (RFC 3339 times in UTC
// compare as text); the one beside the program when they tie.
InUse Current(RdapRegistry registry) {
  auto local = FileAt(ProgramFolder + RdapBootstrapFileName(registry), registry);
  struct timespec fetchedAt {};
  auto fetched = FileAt(RdapBootstrapCachePath(registry), registry, &fetchedAt);
  const bool fetchedUsable = fetched->Valid() && fetched->Entries() > 0;
  InUse use{local, RdapBootstrapUrl.empty()};
  if (fetchedUsable && (!local->Valid() || fetched->Publication() > local->Publication()))
    use.File = fetched;
  if (!use.Current && fetchedUsable) {
    const auto age = std::time(nullptr) - fetchedAt.tv_sec;
    use.Current = age >= -kRdapBootstrapRefreshSeconds && age <= kRdapBootstrapCurrentSeconds &&
                  use.File->Publication() >= fetched->Publication();
  }
  return use;
}

}  // namespace

std::string RdapBootstrapCachePath(RdapRegistry registry) {
  const std::string folder = QuovixCacheFolder();
  return folder.empty() ? std::string() : folder + "/" + RdapBootstrapFileName(registry);
}

std::string RdapBaseUrlForDomain(const std::string& domain) {
  return Current(RdapRegistry::Dns).File->ForDomain(domain);
}

RdapRegistry RdapRegistryForAddress(const std::string& address) {
  return IpAddress::Parse(Trim(address)).IsV6() ? RdapRegistry::Ipv6 : RdapRegistry::Ipv4;
}

std::string RdapBaseUrlForAddress(const std::string& address) {
  const IpAddress a = IpAddress::Parse(Trim(address));
  if (a.Empty()) return {};
  return Current(RdapRegistryForAddress(address)).File->ForAddress(address);
}

std::string RdapBaseUrlForAsn(std::uint32_t asn) {
  return Current(RdapRegistry::Asn).File->ForAsn(asn);
}

std::string RdapBootstrapPublication(RdapRegistry registry) {
  const InUse use = Current(registry);
  return use.File->Valid() ? use.File->Publication() : std::string();
}

bool RdapBootstrapIsCurrent(RdapRegistry registry) { return Current(registry).Current; }

void ResetRdapBootstrapCache() {
  std::lock_guard<std::mutex> lk(gCacheMutex);
  gCache.clear();
}

bool ParseAsNumber(const std::string& text, std::uint32_t& asn) {
  if (text.size() < 3 || (text[0] != 'A' && text[0] != 'a') || (text[1] != 'S' && text[1] != 's'))
    return false;
  return ParseDecimal(text.substr(2), asn);
}

}  // namespace quovix
