// Data packs: zlib-compressed text files beside the program, and the
// look-ups over their rows.
#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <unordered_map>

#include "common/AsLookup.h"
#include "common/IpAddress.h"
#include "common/SpecialRanges.h"
#include "common/fMain.h"
#include "common/fRangePack.h"

namespace quovix {

// ---- Container -------------------------------------------------------------------

int OpenRegularFile(const std::string& path) {
  // Looked at before it is opened: opening a FIFO waits for a writer, and
  // opening a device may do something. The open itself does not wait, and
  // what was opened is looked at again (it may have been swapped meanwhile).
  struct stat st {};
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  if (::stat(path.c_str(), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

std::string ReadWholeFile(const std::string& path) {
  int fd = OpenRegularFile(path);
  if (fd < 0)
    throw std::runtime_error("not a readable file: " + path + ": " + std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw std::runtime_error("not a readable file: " + path);
  if (static_cast<unsigned long long>(st.st_size) > kMaxPakBytes)
    throw std::runtime_error("file too large: " + path);
  std::string data(static_cast<size_t>(st.st_size), '\0');
  size_t got = 0;
  while (got < data.size()) {
    ssize_t n = ::read(fd, data.data() + got, data.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::runtime_error("cannot read " + path + ": " + std::strerror(errno));
    }
    if (n == 0) break;  // the file shrank meanwhile
    got += static_cast<size_t>(n);
  }
  data.resize(got);
  return data;
}

std::string InflateText(const std::string& bytes) { return InflateText(bytes, kMaxPakBytes); }

std::string InflateText(const std::string& bytes, std::size_t maxBytes) {
  if (bytes.empty()) throw std::runtime_error("empty pack");
  if (bytes.size() > kMaxPakBytes) throw std::runtime_error("pack too large");
  z_stream zs{};
  if (inflateInit(&zs) != Z_OK) throw std::runtime_error("inflate cannot start");
  struct Ender {
    z_stream* z;
    ~Ender() { inflateEnd(z); }
  } ender{&zs};
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  zs.avail_in = static_cast<uInt>(bytes.size());
  // The output grows in steps of the input size rounded up to 256 bytes
  // (std::string keeps the storage growth itself geometric); the cap keeps a
  // hostile pack from inflating without bound.
  const size_t step = (bytes.size() + 255) / 256 * 256;
  std::string out;
  size_t produced = 0;
  for (;;) {
    if (produced == out.size()) {
      if (out.size() >= maxBytes) throw std::runtime_error("pack inflates past its size limit");
      out.resize(std::min(out.size() + step, maxBytes));
    }
    zs.next_out = reinterpret_cast<Bytef*>(out.data() + produced);
    zs.avail_out = static_cast<uInt>(out.size() - produced);
    int rc = inflate(&zs, Z_NO_FLUSH);
    produced = out.size() - zs.avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc == Z_OK || (rc == Z_BUF_ERROR && zs.avail_out == 0)) continue;
    // Z_BUF_ERROR with room left: the input ended before the stream did.
    throw std::runtime_error(std::string("damaged pack: ") + (zs.msg ? zs.msg : "truncated"));
  }
  out.resize(produced);
  return out;
}

std::string LoadPak(const std::string& path) { return InflateText(ReadWholeFile(path)); }

namespace {

// Calls f for every row of text (see SplitPakRows).
template <class F>
void ForEachRow(std::string_view text, F&& f) {
  if (size_t z = text.find('\0'); z != std::string_view::npos) text = text.substr(0, z);
  size_t i = 0;
  while (i < text.size()) {
    size_t e = i;
    while (e < text.size() && text[e] != '\n' && text[e] != '\r') ++e;
    f(text.substr(i, e - i));
    if (e == text.size()) return;
    i = e + 1;
    if (text[e] == '\r' && i < text.size() && text[i] == '\n') ++i;
  }
}

// Field n (1-based) of a row split at "|"; empty when the row has fewer
// (then a view at the row's end, so it still points into the row).
std::string_view RowField(std::string_view row, int n) {
  size_t start = 0;
  for (int i = 1; i < n; ++i) {
    size_t bar = row.find('|', start);
    if (bar == std::string_view::npos) return row.substr(row.size());
    start = bar + 1;
  }
  size_t end = row.find('|', start);
  return row.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

bool IsRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// ---- Whois.pak -------------------------------------------------------------------

struct WhoisPack {
  bool exists = false;
  std::vector<std::string> rows;
  // Lower-cased first field -> index of the first row with that key.
  std::unordered_map<std::string, size_t> firstRow;
};

WhoisPack& WhoisStore() {
  static WhoisPack pack;
  return pack;
}

const WhoisPack& WhoisRows() {
  WhoisPack& p = WhoisStore();
  if (p.exists) return p;
  p.exists = true;  // a failed load is not retried during the run
  try {
    p.rows = SplitPakRows(LoadPak(ProgramFolder + "Whois.pak"));
  } catch (const std::exception&) {
    p.rows.clear();
  }
  for (size_t i = 0; i < p.rows.size(); ++i) {
    size_t bar = p.rows[i].find('|');
    if (bar != std::string::npos) p.firstRow.emplace(LowerAscii(p.rows[i].substr(0, bar)), i);
  }
  return p;
}

// The first row that begins with key + "|", letter case aside; nullptr when none.
const std::string* FindWhoisRow(const std::string& key) {
  const WhoisPack& p = WhoisRows();
  if (key.find('|') != std::string::npos) {
    // Such a key reaches past the first field; only a scan can match it.
    const std::string prefix = key + "|";
    for (const auto& row : p.rows)
      if (row.size() >= prefix.size() && SameTextAscii(row.substr(0, prefix.size()), prefix))
        return &row;
    return nullptr;
  }
  auto it = p.firstRow.find(LowerAscii(key));
  return it == p.firstRow.end() ? nullptr : &p.rows[it->second];
}

// ---- IPCountry.pak, IPCountry6.pak -------------------------------------------

// An unsigned decimal IPv4 bound; anything else counts as 0.
RangeKey ParseV4Bound(std::string_view s) {
  if (s.empty() || s.size() > 10) return 0;
  std::uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  return v > 0xFFFFFFFFull ? 0 : static_cast<std::uint32_t>(v);
}

// An IPv6 address as one 128-bit key.
RangeKey V6Key(const IpAddress& a) {
  RangeKey k = 0;
  for (int i = 0; i < 16; ++i) k = k << 8 | a.Bytes()[i];
  return k;
}

// An IPv6 bound in its text form; anything else counts as 0, as for IPv4.
RangeKey ParseV6Bound(std::string_view s) {
  const IpAddress a = IpAddress::Parse(s);
  return a.IsV6() && a.Zone().empty() ? V6Key(a) : 0;
}

// Rows "first|last|code|name"; the text is "name (code)", or the one of
// them a row has.
void ReadIpCountryRows(std::string_view text, RangeRows& rows, RangeKey (*parseBound)(std::string_view)) {
  rows.Ranges.reserve(text.size() / 24);
  // Rows share few texts: they are keyed by their "code|name" part, which
  // stays in text while the rows are read.
  std::unordered_map<std::string_view, int> textIds;
  ForEachRow(text, [&](std::string_view row) {
    std::string_view code = RowField(row, 3), name = RowField(row, 4);
    if (code.empty() && name.empty()) return;  // such a row changes nothing
    const RangeKey first = parseBound(RowField(row, 1)), last = parseBound(RowField(row, 2));
    if (first > last) return;  // matches no address
    const size_t from = static_cast<size_t>(code.data() - row.data());
    const std::string_view key = row.substr(from, static_cast<size_t>(name.data() - code.data()) + name.size());
    auto [it, added] = textIds.emplace(key, static_cast<int>(rows.Texts.size()));
    if (added) {
      rows.Texts.push_back(name.empty() ? std::string(code)
                           : code.empty() ? std::string(name)
                                          : std::string(name) + " (" + std::string(code) + ")");
    }
    rows.Ranges.push_back({first, last, it->second});
  });
}

// One range pack's table, made (or read from the cache) on first use.
struct IpCountryPack {
  bool exists = false;
  RangeIndex index;
};

IpCountryPack& IpCountryStore() {
  static IpCountryPack pack;
  return pack;
}

IpCountryPack& IpCountry6Store() {
  static IpCountryPack pack;
  return pack;
}

// The IPv4 pack has decimal bounds in 4-byte keys, the IPv6 pack address
// texts in 16-byte keys; both are read and cached the same way.
const RangeIndex& IpCountryRows(bool v6) {
  IpCountryPack& p = v6 ? IpCountry6Store() : IpCountryStore();
  if (p.exists) return p.index;
  p.exists = true;  // a failed load is not retried during the run
  if (v6)
    p.index.Load(ProgramFolder + "IPCountry6.pak",
                 {"IPCountry6", 16, [](std::string_view text, RangeRows& rows) {
                    ReadIpCountryRows(text, rows, ParseV6Bound);
                  }});
  else
    p.index.Load(ProgramFolder + "IPCountry.pak",
                 {"IPCountry", 4, [](std::string_view text, RangeRows& rows) {
                    ReadIpCountryRows(text, rows, ParseV4Bound);
                  }});
  return p.index;
}

// ---- ASN.pak, ASN6.pak ---------------------------------------------------------

// Rows "first|last|asn|name"; the text is "asn|name", one per AS and name.
void ReadAsRows(std::string_view text, RangeRows& rows, RangeKey (*parseBound)(std::string_view)) {
  rows.Ranges.reserve(text.size() / 40);
  std::unordered_map<std::string_view, int> textIds;
  ForEachRow(text, [&](std::string_view row) {
    const std::string_view asn = RowField(row, 3), name = RowField(row, 4);
    if (asn.empty() || asn.size() > 10 || asn.find_first_not_of("0123456789") != std::string_view::npos)
      return;  // no AS number: the row says nothing
    const RangeKey first = parseBound(RowField(row, 1)), last = parseBound(RowField(row, 2));
    if (first > last) return;
    const size_t from = static_cast<size_t>(asn.data() - row.data());
    const std::string_view key = row.substr(from, static_cast<size_t>(name.data() - asn.data()) + name.size());
    auto [it, added] = textIds.emplace(key, static_cast<int>(rows.Texts.size()));
    if (added) rows.Texts.emplace_back(key);
    rows.Ranges.push_back({first, last, it->second});
  });
}

struct AsPack {
  bool exists = false;
  RangeIndex index;
};

std::mutex gAsMutex;  // the trace looks up the routers of many hops at once

AsPack& AsStore(bool v6) {
  static AsPack v4Pack, v6Pack;
  return v6 ? v6Pack : v4Pack;
}

// A copy of the table (it shares the bytes), safe to use while another
// thread loads the other pack.
RangeIndex AsRows(bool v6) {
  std::lock_guard<std::mutex> lock(gAsMutex);
  AsPack& p = AsStore(v6);
  if (!p.exists) {
    p.exists = true;  // a failed load is not retried during the run
    if (v6)
      p.index.Load(ProgramFolder + "ASN6.pak", {"ASN6", 16, [](std::string_view text, RangeRows& rows) {
                     ReadAsRows(text, rows, ParseV6Bound);
                   }});
    else
      p.index.Load(ProgramFolder + "ASN.pak", {"ASN", 4, [](std::string_view text, RangeRows& rows) {
                     ReadAsRows(text, rows, ParseV4Bound);
                   }});
  }
  return p.index;
}

// ---- SLDs: public suffix rules ----------------------------------------------------

// The rows are the rules of a public suffix list: "co.uk" (a suffix), "*.ck"
// (every label below ck is one) and "!www.ck" (no suffix after all). Lists are
// long and do not change once loaded, so a set is built for the list last
// asked about and kept while it stays the same list (same storage, size and
// sampled rows). A hit is always checked against the list itself.
struct SldIndex {
  const std::string* data = nullptr;
  size_t size = 0;
  size_t sample = 0;
  size_t maxLabels = 0;  // of the longest rule, so longer suffixes need no look-up
  std::unordered_map<std::string, size_t> rows;
};

SldIndex& SldStore() {
  static SldIndex index;
  return index;
}

size_t SampleOf(const std::vector<std::string>& list) {
  if (list.empty()) return 0;
  std::hash<std::string> h;
  return h(list.front()) ^ (h(list[list.size() / 2]) << 1) ^ (h(list.back()) << 2);
}

size_t LabelCount(const std::string& rule) {
  return static_cast<size_t>(std::count(rule.begin(), rule.end(), '.')) + 1;
}

// The rules of one list: short lists (tests, hand-made ones) are searched
// as they are, long ones through the index.
class SuffixRules {
 public:
  explicit SuffixRules(const std::vector<std::string>& list) : list_(list) {
    if (list.size() < 32) {
      for (const auto& r : list) maxLabels_ = std::max(maxLabels_, LabelCount(r));
      return;
    }
    SldIndex& ix = SldStore();
    const size_t sample = SampleOf(list);
    if (ix.data != list.data() || ix.size != list.size() || ix.sample != sample) {
      ix.rows.clear();
      ix.maxLabels = 0;
      for (size_t i = 0; i < list.size(); ++i) {
        ix.rows.emplace(list[i], i);
        ix.maxLabels = std::max(ix.maxLabels, LabelCount(list[i]));
      }
      ix.data = list.data();
      ix.size = list.size();
      ix.sample = sample;
    }
    index_ = &ix;
    maxLabels_ = ix.maxLabels;
  }

  bool Has(const std::string& rule) const {
    if (!index_) return std::find(list_.begin(), list_.end(), rule) != list_.end();
    auto it = index_->rows.find(rule);
    return it != index_->rows.end() && it->second < list_.size() && list_[it->second] == rule;
  }

  size_t MaxLabels() const { return maxLabels_; }

 private:
  const std::vector<std::string>& list_;
  const SldIndex* index_ = nullptr;
  size_t maxLabels_ = 0;
};

bool IsAsciiText(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

std::vector<std::string> SplitPakRows(const std::string& text) {
  std::vector<std::string> rows;
  ForEachRow(text, [&](std::string_view row) { rows.emplace_back(row); });
  return rows;
}

void ResetDataPackCache() {
  WhoisStore() = WhoisPack{};
  IpCountryStore() = IpCountryPack{};
  IpCountry6Store() = IpCountryPack{};
  {
    std::lock_guard<std::mutex> lock(gAsMutex);
    AsStore(false) = AsPack{};
    AsStore(true) = AsPack{};
  }
  SldStore() = SldIndex{};
}

// ---- Look-ups --------------------------------------------------------------------

TldInfo LookupTld(const std::string& tld) {
  TldInfo info;
  const std::string* row = FindWhoisRow(tld);
  if (!row) return info;
  info.CountryEn = GetField(*row, "|", 2);
  info.CountryDe = GetField(*row, "|", 3);
  std::string kind = GetField(*row, "|", 4);
  if (!kind.empty()) {
    // One character: a whole UTF-8 sequence when the first byte starts one.
    size_t n = 1;
    while (n < kind.size() && n < 4 && (static_cast<unsigned char>(kind[n]) & 0xC0) == 0x80) ++n;
    info.Kind = UpperAscii(kind.substr(0, n));
  }
  info.Target = GetField(*row, "|", 5);
  info.QueryPrefix = GetField(*row, "|", 6);
  info.QuerySuffix = GetField(*row, "|", 7);
  return info;
}

void LookupNetworkRegistry(const std::string& handle, NetworkRegistry& record) {
  const std::string* row = FindWhoisRow(handle);
  if (!row) return;
  record.Server = GetField(*row, "|", 2);
  record.QueryPrefix = GetField(*row, "|", 3);
  record.QuerySuffix = GetField(*row, "|", 4);
}

std::string LookupIpCountry(const std::string& address) {
  const IpAddress parsed = IpAddress::Parse(address);
  if (parsed.IsV6() && !parsed.IsV4Mapped()) {
    // Asked on every call, so a pack added after a miss is found next time.
    if (!IsRegularFile(ProgramFolder + "IPCountry6.pak")) return {};
    return IpCountryRows(true).Find(V6Key(parsed));
  }
  if (!IsRegularFile(ProgramFolder + "IPCountry.pak")) return {};
  // An IPv4-mapped IPv6 address is the IPv4 address it carries.
  std::uint32_t number = IpToNumber(address);
  if (parsed.IsV6()) {
    number = 0;
    for (int i = 12; i < 16; ++i) number = number << 8 | parsed.Bytes()[i];
  }
  return IpCountryRows(false).Find(number);
}

std::optional<AsInfo> LookupAs(const std::string& address) {
  const IpAddress parsed = IpAddress::Parse(address);
  if (parsed.Empty()) return std::nullopt;
  switch (FindSpecialRange(parsed).Kind) {
    case SpecialRange::None:
    // The relays are announced like any network, by whoever runs them.
    case SpecialRange::Relay6to4:
    case SpecialRange::SixToFour:
    case SpecialRange::Teredo:
      break;
    default:
      return std::nullopt;
  }
  std::string text;
  if (parsed.IsV6() && !parsed.IsV4Mapped()) {
    text = AsRows(true).Find(V6Key(parsed));
  } else {
    std::uint32_t number = 0;
    for (int i = parsed.IsV6() ? 12 : 0, end = i + 4; i < end; ++i) number = number << 8 | parsed.Bytes()[i];
    text = AsRows(false).Find(number);
  }
  const size_t bar = text.find('|');
  if (bar == std::string::npos || bar == 0) return std::nullopt;
  std::uint64_t asn = 0;
  for (size_t i = 0; i < bar; ++i) asn = asn * 10 + static_cast<unsigned>(text[i] - '0');
  if (asn > 0xFFFFFFFFull) return std::nullopt;
  return AsInfo{static_cast<std::uint32_t>(asn), text.substr(bar + 1)};
}

std::string RegisteredDomain(const std::string& text, const std::vector<std::string>& sldList) {
  std::string host = LowerAscii(text);
  if (host.starts_with("https://")) host.erase(0, 8);
  if (host.starts_with("http://")) host.erase(0, 7);
  host.resize(std::min(host.size(), host.find_first_of("/?#")));
  // An IPv6 literal is its own answer, bare or in brackets (a port after
  // them aside).
  if (size_t close = host.find(']'); host.starts_with('[') && close != std::string::npos)
    host.resize(close + 1);
  if (IsIpAddress(host)) return CanonicalAddress(host);
  // A port after the host and the root's trailing dot are no part of the name.
  if (size_t colon = host.rfind(':'); colon != std::string::npos &&
      host.find_first_not_of("0123456789", colon + 1) == std::string::npos)
    host.resize(colon);
  while (!host.empty() && host.back() == '.') host.pop_back();
  if (host.empty()) return {};
  if (!IsHostName(host)) return host;
  // The rules hold A-labels: a name typed in Unicode matches in its ACE form.
  if (!IsAsciiText(host)) host = LowerAscii(EncodeIdn(host));
  // An empty label (a leading dot, "..") belongs to no domain.
  if (host.empty() || host.front() == '.' || host.find("..") != std::string::npos) return {};

  std::vector<size_t> starts{0};  // where each label begins, left to right
  for (size_t i = 0; i < host.size(); ++i)
    if (host[i] == '.') starts.push_back(i + 1);
  const size_t labels = starts.size();
  auto suffix = [&](size_t k) { return std::string_view(host).substr(starts[labels - k]); };

  // The prevailing rule: an exception before any other, else the longest
  // match; without any, the implicit "*" makes the last label the suffix.
  const SuffixRules rules(sldList);
  size_t longest = 1, exception = 0;
  std::string key;
  // No DNS name has more than 127 labels, whatever a damaged pack holds.
  const size_t most = std::min({labels, rules.MaxLabels(), size_t{127}});
  for (size_t k = 1; k <= most; ++k) {
    key.assign("!").append(suffix(k));
    if (rules.Has(key)) exception = k;
    if (rules.Has(key.erase(0, 1))) longest = k;
    if (k > 1 && rules.Has(key.assign("*.").append(suffix(k - 1)))) longest = k;
  }
  const size_t suffixLabels = exception ? exception - 1 : longest;
  // A name that is itself a public suffix is no registrable domain.
  if (labels <= suffixLabels) return {};
  return host.substr(starts[labels - suffixLabels - 1]);
}

int ListDataFiles(const std::string& folder, const std::string& mask,
                  std::vector<std::string>& list) {
  list.clear();
  DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
  if (!dir) return 0;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    if (::fnmatch(mask.c_str(), name.c_str(), 0) != 0) continue;
    if (IsRegularFile(folder + name)) names.push_back(std::move(name));
  }
  ::closedir(dir);
  // Directory order on Linux follows hashing, not names; a sorted list keeps
  // the offered lists in a stable, readable order.
  std::sort(names.begin(), names.end());
  for (auto& n : names) list.push_back(folder + n);
  return static_cast<int>(list.size());
}

}  // namespace quovix
