#include "common/fRangePack.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <queue>
#include <random>

#include "common/fMain.h"

namespace quovix {

namespace {

// ---- Cache file layout ------------------------------------------------------------
// Header (96 bytes, integers little-endian):
//   0 magic "QVXRIDX\0"   8 version   12 key bytes   16 pack size (u64)
//  24 pack mtime s (i64)  32 pack mtime ns (i64)     40 pack CRC-32
//  44 segments N          48 texts T                 52 text bytes B
//  56 CRC-32 of the body  60 zero
//  64 pack ctime s (i64)  72 pack ctime ns (i64)     80 pack inode (u64)
//  88 zero (u64)
// Body: N segment starts (key bytes each, big-endian, ascending, the first
// zero), N text numbers (i32, -1 for none), T+1 text offsets (u32, from 0
// rising to B), B text bytes.
constexpr char kMagic[8] = {'Q', 'V', 'X', 'R', 'I', 'D', 'X', 0};
constexpr std::uint32_t kVersion = 2;
constexpr size_t kHeader = 96;

void Put32(std::string& s, size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put64(std::string& s, size_t at, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::uint32_t Get32(const char* s, size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}
std::uint64_t Get64(const char* s, size_t at) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
  return v;
}

std::uint32_t Crc32(const char* data, size_t size) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (size > 0) {
    const uInt n = static_cast<uInt>(std::min<size_t>(size, 1u << 30));
    crc = crc32(crc, reinterpret_cast<const Bytef*>(data), n);
    data += n;
    size -= n;
  }
  return static_cast<std::uint32_t>(crc);
}

RangeKey MaxKey(unsigned keyBytes) {
  return keyBytes >= 16 ? ~RangeKey{0} : (RangeKey{1} << (8 * keyBytes)) - 1;
}

// ---- Segments -------------------------------------------------------------------------

struct Segments {
  std::vector<RangeKey> starts;  // ascending, starts[0] == 0
  std::vector<int> text;         // per segment: index into texts, or -1
};

// The same answer as scanning every row in order for each key.
Segments MakeSegments(const RangeRows& rows, RangeKey maxKey) {
  Segments s;
  // A range that matches no key, lies past the key space or names no text
  // changes nothing.
  std::vector<RangeRows::Range> ranges;
  ranges.reserve(rows.Ranges.size());
  for (RangeRows::Range r : rows.Ranges) {
    if (r.First > r.Last || r.First > maxKey || r.Text < 0 ||
        static_cast<size_t>(r.Text) >= rows.Texts.size())
      continue;
    r.Last = std::min(r.Last, maxKey);
    ranges.push_back(r);
  }
  // A segment with the text of the one before adds nothing.
  auto add = [&s](RangeKey start, int t) {
    if (!s.text.empty() && s.text.back() == t) return;
    s.starts.push_back(start);
    s.text.push_back(t);
  };

  // Shipped data comes sorted and without overlaps: one pass suffices.
  bool disjoint = true;
  for (size_t i = 1; i < ranges.size() && disjoint; ++i)
    disjoint = ranges[i].First > ranges[i - 1].Last;
  if (disjoint) {
    RangeKey next = 0;
    bool end = false;  // the last range reached the top of the key space
    for (const auto& r : ranges) {
      if (r.First > next) add(next, -1);
      add(r.First, r.Text);
      end = r.Last >= maxKey;
      next = r.Last + 1;
    }
    if (!end) add(next, -1);
    return s;
  }

  // Otherwise sweep over every range bound, keeping the covering rows with
  // the latest on top.
  std::vector<RangeKey> cuts{0};
  cuts.reserve(2 * ranges.size() + 1);
  for (const auto& r : ranges) {
    cuts.push_back(r.First);
    if (r.Last < maxKey) cuts.push_back(r.Last + 1);
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());

  std::vector<size_t> byFirst(ranges.size());
  for (size_t i = 0; i < byFirst.size(); ++i) byFirst[i] = i;
  std::stable_sort(byFirst.begin(), byFirst.end(),
                   [&](size_t a, size_t b) { return ranges[a].First < ranges[b].First; });
  std::priority_queue<size_t> open;
  size_t next = 0;
  for (RangeKey cut : cuts) {
    while (next < byFirst.size() && ranges[byFirst[next]].First <= cut) open.push(byFirst[next++]);
    while (!open.empty() && ranges[open.top()].Last < cut) open.pop();
    add(cut, open.empty() ? -1 : ranges[open.top()].Text);
  }
  return s;
}

// ---- Files ----------------------------------------------------------------------------

// The whole file, at most maxBytes; false when it cannot be read (or is no
// regular file: a FIFO put in its place must not block the open).
bool ReadFile(const std::string& path, size_t maxBytes, std::string& data, struct stat* st = nullptr) {
  const int fd = OpenRegularFile(path);
  if (fd < 0) return false;
  struct stat s {};
  bool ok = ::fstat(fd, &s) == 0 && S_ISREG(s.st_mode) &&
            static_cast<unsigned long long>(s.st_size) <= maxBytes;
  if (ok) {
    data.resize(static_cast<size_t>(s.st_size));
    size_t got = 0;
    while (got < data.size()) {
      const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    ok = got == data.size();
  }
  ::close(fd);
  if (ok && st) *st = s;
  return ok;
}

// A cache file mapped read-only for as long as a table uses it.
class MappedFile {
 public:
  MappedFile(void* at, size_t size) : at_(at), size_(size) {}
  ~MappedFile() { ::munmap(at_, size_); }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  const char* Data() const { return static_cast<const char*>(at_); }

 private:
  void* at_;
  size_t size_;
};

PackStamp StampOf(const struct stat& st) {
  PackStamp p;
  p.Size = static_cast<std::uint64_t>(st.st_size);
  p.MtimeSec = st.st_mtim.tv_sec;
  p.MtimeNsec = st.st_mtim.tv_nsec;
  p.CtimeSec = st.st_ctim.tv_sec;
  p.CtimeNsec = st.st_ctim.tv_nsec;
  p.Inode = static_cast<std::uint64_t>(st.st_ino);
  return p;
}

}  // namespace

PackStamp FileStamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  return StampOf(st);
}

bool WriteFileAtomically(const std::string& path, const std::string& data) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return false;
  // The folders up to the cache folder, for this user only.
  for (size_t p = 1; p <= slash; ++p)
    if (path[p] == '/' || p == slash) ::mkdir(path.substr(0, p).c_str(), 0700);
  std::random_device rd;
  const std::string tmp = path + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(rd());
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  size_t put = 0;
  while (put < data.size()) {
    const ssize_t n = ::write(fd, data.data() + put, data.size() - put);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    put += static_cast<size_t>(n);
  }
  const bool ok = ::close(fd) == 0 && put == data.size();
  if (ok && ::rename(tmp.c_str(), path.c_str()) == 0) return true;
  ::unlink(tmp.c_str());
  return false;
}

std::string QuovixCacheFolder() {
  if (const char* x = std::getenv("XDG_CACHE_HOME"); x && x[0] == '/') return std::string(x) + "/quovix";
  if (const char* h = std::getenv("HOME"); h && h[0] == '/') return std::string(h) + "/.cache/quovix";
  return {};
}

std::string RangeCachePath(const std::string& packPath, const std::string& name) {
  const std::string folder = QuovixCacheFolder();
  if (folder.empty()) return {};
  // One cache file per pack file: its name carries a hash of the pack's
  // whole path, so installations side by side do not undo each other.
  char real[PATH_MAX];
  const std::string key = ::realpath(packPath.c_str(), real) ? std::string(real) : packPath;
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : key) h = (h ^ c) * 1099511628211ull;
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
  return folder + "/" + name + "-" + hex + ".idx";
}

void RangeIndex::Clear() {
  owner_.reset();
  data_ = nullptr;
  size_ = 0;
  segments_ = texts_ = 0;
  startsAt_ = idsAt_ = offsetsAt_ = textAt_ = 0;
  fromCache_ = false;
}

void RangeIndex::Build(const RangeRows& rows, unsigned keyBytes, const PackStamp& stamp) {
  Clear();
  const Segments seg = MakeSegments(rows, MaxKey(keyBytes));
  size_t textBytes = 0;
  for (const auto& t : rows.Texts) textBytes += t.size();
  const size_t n = seg.starts.size(), t = rows.Texts.size();
  std::string b(kHeader + n * keyBytes + n * 4 + (t + 1) * 4 + textBytes, '\0');
  std::memcpy(b.data(), kMagic, sizeof kMagic);
  Put32(b, 8, kVersion);
  Put32(b, 12, keyBytes);
  Put64(b, 16, stamp.Size);
  Put64(b, 24, static_cast<std::uint64_t>(stamp.MtimeSec));
  Put64(b, 32, static_cast<std::uint64_t>(stamp.MtimeNsec));
  Put32(b, 40, stamp.Crc);
  Put32(b, 44, static_cast<std::uint32_t>(n));
  Put32(b, 48, static_cast<std::uint32_t>(t));
  Put32(b, 52, static_cast<std::uint32_t>(textBytes));
  Put64(b, 64, static_cast<std::uint64_t>(stamp.CtimeSec));
  Put64(b, 72, static_cast<std::uint64_t>(stamp.CtimeNsec));
  Put64(b, 80, stamp.Inode);
  size_t at = kHeader;
  for (RangeKey k : seg.starts)
    for (unsigned i = 0; i < keyBytes; ++i)
      b[at++] = static_cast<char>(static_cast<unsigned>(k >> (8 * (keyBytes - 1 - i))) & 0xFF);
  for (int id : seg.text) {
    Put32(b, at, static_cast<std::uint32_t>(id));
    at += 4;
  }
  std::uint32_t offset = 0;
  for (size_t i = 0; i <= t; ++i) {
    Put32(b, at, offset);
    at += 4;
    if (i < t) offset += static_cast<std::uint32_t>(rows.Texts[i].size());
  }
  for (const auto& text : rows.Texts) {
    std::memcpy(b.data() + at, text.data(), text.size());
    at += text.size();
  }
  Put32(b, 56, Crc32(b.data() + kHeader, b.size() - kHeader));
  Adopt(std::move(b), keyBytes, stamp, false);
}

bool RangeIndex::Adopt(std::string bytes, unsigned keyBytes, const PackStamp& stamp, bool checkCrc) {
  auto owner = std::make_shared<const std::string>(std::move(bytes));
  return Take(owner, owner->data(), owner->size(), keyBytes, stamp, true, checkCrc);
}

bool RangeIndex::AdoptTrusted(std::string bytes, unsigned keyBytes, const PackStamp& stamp) {
  auto owner = std::make_shared<const std::string>(std::move(bytes));
  return Take(owner, owner->data(), owner->size(), keyBytes, stamp, false, false);
}

bool RangeIndex::Take(std::shared_ptr<const void> owner, const char* b, size_t size,
                      unsigned keyBytes, const PackStamp& stamp, bool full, bool checkCrc) {
  Clear();
  if (keyBytes == 0 || keyBytes > 16 || size < kHeader) return false;
  if (std::memcmp(b, kMagic, sizeof kMagic) != 0 || Get32(b, 8) != kVersion ||
      Get32(b, 12) != keyBytes || Get32(b, 60) != 0 || Get64(b, 88) != 0)
    return false;
  // The pack's CRC is not compared: telling it would mean reading the pack.
  if (Get64(b, 16) != stamp.Size || static_cast<std::int64_t>(Get64(b, 24)) != stamp.MtimeSec ||
      static_cast<std::int64_t>(Get64(b, 32)) != stamp.MtimeNsec ||
      static_cast<std::int64_t>(Get64(b, 64)) != stamp.CtimeSec ||
      static_cast<std::int64_t>(Get64(b, 72)) != stamp.CtimeNsec || Get64(b, 80) != stamp.Inode)
    return false;
  // Sizes in 64 bits: 32-bit counts cannot overflow them.
  const std::uint64_t n = Get32(b, 44), t = Get32(b, 48), textBytes = Get32(b, 52);
  const std::uint64_t need = kHeader + n * keyBytes + n * 4 + (t + 1) * 4 + textBytes;
  if (n == 0 || need != size) return false;
  if (checkCrc && Get32(b, 56) != Crc32(b + kHeader, size - kHeader)) return false;
  const size_t starts = kHeader, ids = starts + n * keyBytes, offsets = ids + n * 4,
               text = offsets + (t + 1) * 4;
  if (full) {
    // Starts ascend from zero; text numbers and offsets stay inside the table.
    for (unsigned i = 0; i < keyBytes; ++i)
      if (b[starts + i] != 0) return false;
    for (std::uint64_t i = 1; i < n; ++i)
      if (std::memcmp(b + starts + (i - 1) * keyBytes, b + starts + i * keyBytes, keyBytes) >= 0)
        return false;
    for (std::uint64_t i = 0; i < n; ++i) {
      const std::int32_t id = static_cast<std::int32_t>(Get32(b, ids + i * 4));
      if (id < -1 || (id >= 0 && static_cast<std::uint64_t>(id) >= t)) return false;
    }
    std::uint32_t previous = 0;
    for (std::uint64_t i = 0; i <= t; ++i) {
      const std::uint32_t o = Get32(b, offsets + i * 4);
      if ((i == 0 && o != 0) || o < previous || o > textBytes) return false;
      previous = o;
    }
    if (previous != textBytes) return false;
  }
  owner_ = std::move(owner);
  data_ = b;
  size_ = size;
  keyBytes_ = keyBytes;
  segments_ = static_cast<std::uint32_t>(n);
  texts_ = static_cast<std::uint32_t>(t);
  startsAt_ = starts;
  idsAt_ = ids;
  offsetsAt_ = offsets;
  textAt_ = text;
  return true;
}

bool RangeIndex::AdoptFile(const std::string& path, unsigned keyBytes, const PackStamp& stamp) {
  Clear();
  const int fd = OpenRegularFile(path);
  if (fd < 0) return false;
  struct stat st {};
  void* at = MAP_FAILED;
  if (::fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(kHeader) &&
      static_cast<unsigned long long>(st.st_size) <= 2 * kMaxPakBytes)
    at = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
  ::close(fd);
  if (at == MAP_FAILED) return false;
  auto mapping = std::make_shared<const MappedFile>(at, static_cast<size_t>(st.st_size));
  // The file is the program's own, written whole under its pack's stamp: a
  // look-up stays inside it whatever it holds, so only its header is read.
  return Take(mapping, mapping->Data(), static_cast<size_t>(st.st_size), keyBytes, stamp, false,
              false);
}

std::string RangeIndex::Find(RangeKey key) const {
  if (segments_ == 0) return {};
  if (key > MaxKey(keyBytes_)) return {};
  unsigned char k[16];
  for (unsigned i = 0; i < keyBytes_; ++i)
    k[i] = static_cast<unsigned char>(static_cast<unsigned>(key >> (8 * (keyBytes_ - 1 - i))) & 0xFF);
  // The last segment whose start is not above the key (segment 0 starts at 0).
  std::uint32_t lo = 0, hi = segments_;
  while (hi - lo > 1) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    if (std::memcmp(data_ + startsAt_ + size_t{mid} * keyBytes_, k, keyBytes_) <= 0)
      lo = mid;
    else
      hi = mid;
  }
  // A table taken on trust is checked here, on the few values a look-up reads.
  const std::int32_t id = static_cast<std::int32_t>(Get32(data_, idsAt_ + size_t{lo} * 4));
  if (id < 0 || static_cast<std::uint32_t>(id) >= texts_) return {};
  const std::uint32_t from = Get32(data_, offsetsAt_ + size_t(id) * 4);
  const std::uint32_t to = Get32(data_, offsetsAt_ + size_t(id + 1) * 4);
  if (from > to || to > size_ - textAt_) return {};
  return std::string(data_ + textAt_ + from, to - from);
}

void RangeIndex::Load(const std::string& packPath, const RangePackFormat& format) {
  Clear();
  const std::string cachePath = RangeCachePath(packPath, format.Name);
  const PackStamp now = FileStamp(packPath);
  if (now.Size == 0) return;  // no pack (an empty one holds no table either)
  if (!cachePath.empty() && AdoptFile(cachePath, format.KeyBytes, now)) {
    fromCache_ = true;
    return;
  }
  {
    std::string pack;
    struct stat st {};
    if (!ReadFile(packPath, kMaxPakBytes, pack, &st)) return;
    PackStamp stamp = StampOf(st);
    stamp.Crc = Crc32(pack.data(), pack.size());
    RangeRows rows;
    try {
      const std::string text = InflateText(pack);
      format.ReadRows(text, rows);
    } catch (const std::exception&) {
      return;  // a damaged pack: no table (and no cache file for it)
    }
    pack = std::string();
    Build(rows, format.KeyBytes, stamp);
    if (!cachePath.empty() && !Empty()) {
      WriteFileAtomically(cachePath, std::string(data_, size_));
      // Used from the file from now on, like on every later start; the
      // table built in memory goes.
      RangeIndex mapped;
      if (mapped.AdoptFile(cachePath, format.KeyBytes, stamp)) *this = std::move(mapped);
    }
  }
  // Inflating and parsing took many times the table's size; hand it back
  // rather than keep it for the rest of the session.
  ::malloc_trim(0);
}

}  // namespace quovix
