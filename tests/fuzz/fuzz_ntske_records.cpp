// Any bytes as what an NTS-KE server sends: the records as the client reads
// them, and what it takes from them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "clients/NtsKe.h"

using namespace quovix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string answer(reinterpret_cast<const char*>(data), size);
  std::vector<NtsKeRecord> records;
  bool complete = false;
  if (!ParseNtsKeRecords(answer, records, complete)) return 0;
  if (records.size() > kNtsKeMaxRecords) std::abort();
  std::size_t used = 0;
  for (const NtsKeRecord& r : records) used += 4 + r.Body.size();
  if (used > size) std::abort();
  if (complete != (!records.empty() && records.back().Type == kNtsKeEnd)) std::abort();
  NtsKeResult result;
  ReadNtsKeAnswer(records, result);
  if (result.Status == NtsKeStatus::Ok && (result.Cookies.empty() || result.NtpPort == 0))
    std::abort();
  if (result.Cookies.size() > 8) std::abort();
  for (const char c : result.NtpServer)
    if (c <= 0x20 || c >= 0x7F) std::abort();
  return 0;
}
