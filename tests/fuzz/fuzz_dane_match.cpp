// DANE matching on what a DNS answer and a TLS server may send: a TLSA
// record's fields and data, and a chain of certificate bytes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "clients/Dane.h"

// Input: usage, selector, matching type, the data's length (one byte), the
// data, then the chain's certificates, each behind a two-byte length.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  quovix::TTlsaData record;
  record.Usage = data[0];
  record.Selector = data[1];
  record.MatchingType = data[2];
  size_t pos = 4;
  const size_t length = std::min<size_t>(data[3], size - pos);
  record.Data.assign(reinterpret_cast<const char*>(data) + pos, length);
  pos += length;
  std::vector<std::string> chain;
  while (pos + 2 <= size && chain.size() < 10) {
    const size_t n = std::min<size_t>((size_t{data[pos]} << 8) | data[pos + 1], size - pos - 2);
    chain.emplace_back(reinterpret_cast<const char*>(data) + pos + 2, n);
    pos += 2 + n;
  }
  (void)quovix::MatchTlsa(record, chain);
  return 0;
}
