// Range packs: data packs whose rows map ranges of a key space (IPv4 or IPv6
// addresses) to a text, and the look-up table made from them. Building the
// table means inflating and parsing the whole pack, which takes far longer
// than a console run may spend on one country line; so the table, once
// made, is kept in the user's cache folder ($XDG_CACHE_HOME/quovix/, else
// ~/.cache/quovix/) and used from there on later starts while the pack is
// the same file (its size, modification and change times and inode, which
// any rewrite changes). Neither the pack nor the whole table is read for
// that: the table file is mapped, and a look-up touches the few pages of
// its search. Checksums are made and checked when a table is built. The
// pack files themselves stay as they are: users may replace them, and a
// replaced or damaged pack, or a cache file that does not fit its header,
// just makes a fresh table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quovix {

// A key of up to 128 bits (IPv4 keys use the low 32).
using RangeKey = unsigned __int128;

// The rows of a range pack as ranges over the key space, each with an index
// into texts, in row order (a later row wins where ranges overlap).
struct RangeRows {
  struct Range {
    RangeKey First = 0, Last = 0;
    int Text = 0;
  };
  std::vector<Range> Ranges;
  std::vector<std::string> Texts;
};

// How a range pack is read: its cache file's name part, its key width and
// the reader that turns the inflated pack text into ranges.
struct RangePackFormat {
  std::string Name;           // e.g. "IPCountry"
  unsigned KeyBytes = 4;      // 4 or 16
  std::function<void(std::string_view text, RangeRows& rows)> ReadRows;
};

// What identifies one state of a pack file. The CRC-32 of its bytes is
// recorded when a table is built; a cached table is matched by the rest.
struct PackStamp {
  std::uint64_t Size = 0;
  std::int64_t MtimeSec = 0, MtimeNsec = 0;
  std::uint32_t Crc = 0;
  std::int64_t CtimeSec = 0, CtimeNsec = 0;
  std::uint64_t Inode = 0;
};

// The stamp of the file at path as it is now (CRC left 0); all zero when it
// is no regular file.
PackStamp FileStamp(const std::string& path);

// The look-up table: the key space cut into segments, each with the text of
// the last row covering it (or none). It lives in one byte string, the same
// as the cache file holds, so a table read back is used as it is.
class RangeIndex {
 public:
  // Loads the table of the pack at packPath: from the cache when the cache
  // was made from this very pack, else from the pack (then the cache is
  // written, when a cache folder can be had, and used from there). A
  // missing or damaged pack gives an empty table. The memory that building
  // took goes back to the system.
  void Load(const std::string& packPath, const RangePackFormat& format);
  // The table made from rows (no pack, no cache).
  void Build(const RangeRows& rows, unsigned keyBytes, const PackStamp& stamp = {});
  // Takes a cache file's bytes when they hold a sound table for a pack with
  // this stamp and key width; false leaves the table empty. Every bound is
  // checked here, so a look-up never reads outside the bytes. checkCrc
  // false skips the checksums (the fuzz target reaches the rest so).
  bool Adopt(std::string bytes, unsigned keyBytes, const PackStamp& stamp, bool checkCrc = true);
  // Takes a table as a cache file is taken: only its header and sizes are
  // looked at, and look-ups stay inside the bytes whatever the body holds.
  bool AdoptTrusted(std::string bytes, unsigned keyBytes, const PackStamp& stamp);
  void Clear();

  bool Empty() const { return segments_ == 0; }
  // The text of the segment holding key, empty when no row covers it.
  std::string Find(RangeKey key) const;
  // The table's bytes (what the cache file holds).
  std::string Bytes() const { return std::string(data_, size_); }
  // Whether the last Load read the table from the cache.
  bool FromCache() const { return fromCache_; }

 private:
  // Takes the bytes that owner keeps alive (a string, or a mapped cache
  // file): the header checks, and the full ones of every segment, text
  // number and offset when full is set.
  bool Take(std::shared_ptr<const void> owner, const char* data, size_t size, unsigned keyBytes,
            const PackStamp& stamp, bool full, bool checkCrc);
  bool AdoptFile(const std::string& path, unsigned keyBytes, const PackStamp& stamp);

  std::shared_ptr<const void> owner_;  // shared: copies of a table share its bytes
  const char* data_ = nullptr;
  size_t size_ = 0;
  unsigned keyBytes_ = 4;
  std::uint32_t segments_ = 0, texts_ = 0;
  size_t startsAt_ = 0, idsAt_ = 0, offsetsAt_ = 0, textAt_ = 0;
  bool fromCache_ = false;
};

// The program's cache folder: $XDG_CACHE_HOME/quovix (an absolute one), else
// ~/.cache/quovix; empty when neither can be had.
std::string QuovixCacheFolder();

// The cache file of a pack, empty when there is no cache folder.
std::string RangeCachePath(const std::string& packPath, const std::string& name);

// Writes a file of the cache folder whole or not at all (a reader never sees
// half a file), making the folders up to it for this user only.
bool WriteFileAtomically(const std::string& path, const std::string& data);

}  // namespace quovix
