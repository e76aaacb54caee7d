// The packs' cache files sit in the user's cache folder, where anything may
// replace them: a table read back must be refused or used without reading
// outside its bytes, also when only its header is checked.
#include <cstdint>
#include <cstring>
#include <string>

#include "common/fRangePack.h"

using namespace quovix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const unsigned keyBytes = data[0] & 1 ? 16 : 4;
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  // Keys from the input's tail, so that look-ups land everywhere.
  RangeKey keys[4] = {0, ~RangeKey{0}, 0, 0};
  if (size >= 17) std::memcpy(&keys[2], data + size - 16, 16);
  if (size >= 9) std::memcpy(&keys[3], data + size - 8, 8);
  RangeIndex t;
  if (t.Adopt(bytes, keyBytes, {}, false))
    for (RangeKey k : keys) (void)t.Find(k);
  // Taken on trust as a cache file is: only the header is checked, so the
  // look-ups themselves must stay inside the bytes.
  RangeIndex trusted;
  if (trusted.AdoptTrusted(bytes, keyBytes, {}))
    for (RangeKey k : keys)
      if (trusted.Find(k).size() > bytes.size()) __builtin_trap();
  // And a table built from the input as rows, read back.
  RangeRows rows;
  rows.Texts = {"a", "bc"};
  for (size_t i = 1; i + 2 <= size && rows.Ranges.size() < 64; i += 2) {
    const RangeKey first = RangeKey{data[i]} << (keyBytes * 8 - 8);
    const RangeKey last = first + (RangeKey{data[i + 1]} << (keyBytes * 8 - 16));
    rows.Ranges.push_back({first, last, data[i + 1] & 1});
  }
  RangeIndex built;
  built.Build(rows, keyBytes);
  RangeIndex again;
  if (!again.Adopt(built.Bytes(), keyBytes, {})) __builtin_trap();
  for (RangeKey k : keys)
    if (again.Find(k) != built.Find(k)) __builtin_trap();
  return 0;
}
