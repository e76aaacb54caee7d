// Any bytes as an NTP server's answer to an NTS request: its extension
// fields as read, and what the client makes of them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "clients/NtsKe.h"
#include "clients/NtsNtp.h"

using namespace quovix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  const std::string packet(reinterpret_cast<const char*>(data), size);
  std::vector<NtpExtensionField> fields;
  if (ParseNtpExtensionFields(packet, std::min<std::size_t>(48, size), fields)) {
    if (fields.size() > kNtpMaxFields) std::abort();
    std::size_t used = 0;
    for (const NtpExtensionField& f : fields) used += 4 + f.Body.size();
    if (used + std::min<std::size_t>(48, size) != size) std::abort();
  }
  // The identifier the corpus' answers echo, and keys of every length.
  const std::string uid(32, 'u');
  for (const std::uint16_t aead : {kNtsAeadAesSivCmac256, kNtsAeadAesSivCmac512}) {
    const NtsSession session{aead, std::string(NtsAeadKeyLength(aead), 'c'),
                             std::string(NtsAeadKeyLength(aead), 's'), {}};
    std::vector<std::string> cookies;
    const NtsAnswer a = CheckNtsAnswer(packet, uid, session, cookies);
    if (a != NtsAnswer::Ok && !cookies.empty()) std::abort();
    if (cookies.size() > kNtsCookiesKept) std::abort();
    for (const std::string& c : cookies)
      if (c.empty() || c.size() > 1024) std::abort();
  }
  return 0;
}
