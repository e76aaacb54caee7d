// Range packs: data packs whose rows map ranges of a key space (IPv4 or IPv6
// addresses) to a text, and the look-up table made from them. Building the
// table means inflating and parsing the whole pack, which takes far longer
// than a console run may spend on one country line; so the table, once
// made, is kept in the user's cache folder ($XDG_CACHE_HOME/quovix/, else
// ~/.cache/quovix/) and read back on later starts while the pack is the
// same (its size, modification time and CRC-32). The pack files themselves
// stay as they are: users may replace them, and a replaced or damaged pack,
// or a damaged cache file, just makes a fresh table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// What identifies one state of a pack file.
struct PackStamp {
  std::uint64_t Size = 0;
  std::int64_t MtimeSec = 0, MtimeNsec = 0;
  std::uint32_t Crc = 0;
};

// The look-up table: the key space cut into segments, each with the text of
// the last row covering it (or none). It lives in one byte string, the same
// as the cache file holds, so a table read back is used as it is.
class RangeIndex {
 public:
  // Loads the table of the pack at packPath: from the cache when the cache
  // was made from this very pack, else from the pack (then the cache is
  // written, when a cache folder can be had). A missing or damaged pack
  // gives an empty table.
  void Load(const std::string& packPath, const RangePackFormat& format);
  // The table made from rows (no pack, no cache).
  void Build(const RangeRows& rows, unsigned keyBytes, const PackStamp& stamp = {});
  // Takes a cache file's bytes when they hold a sound table for a pack with
  // this stamp and key width; false leaves the table empty. Every bound is
  // checked here, so a look-up never reads outside the bytes. checkCrc
  // false skips the checksums (the fuzz target reaches the rest so).
  bool Adopt(std::string bytes, unsigned keyBytes, const PackStamp& stamp, bool checkCrc = true);
  void Clear();

  bool Empty() const { return segments_ == 0; }
  // The text of the segment holding key, empty when no row covers it.
  std::string Find(RangeKey key) const;
  // The table's bytes (what the cache file holds).
  const std::string& Bytes() const { return bytes_; }
  // Whether the last Load read the table from the cache.
  bool FromCache() const { return fromCache_; }

 private:
  std::string bytes_;
  unsigned keyBytes_ = 4;
  std::uint32_t segments_ = 0, texts_ = 0;
  size_t startsAt_ = 0, idsAt_ = 0, offsetsAt_ = 0, textAt_ = 0;
  bool fromCache_ = false;
};

// The cache file of a pack, empty when there is no cache folder (neither an
// absolute $XDG_CACHE_HOME nor $HOME).
std::string RangeCachePath(const std::string& packPath, const std::string& name);

}  // namespace quovix
