// Any datagram as a reply to an SNTP request: checks and time conversions.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "clients/SntpClient.h"
#include "common/DateTime.h"

using namespace quovix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  // The first 8 bytes, when present, are the request's transmit time, so that
  // replies that echo it reach the later checks.
  NtpTimestamp sent;
  if (size >= kSntpPacketSize) {
    SntpPacket p;
    DecodeSntpPacket(data, size, p);
    sent = p.Originate;
  }
  SntpPacket reply;
  const TSntpStatus status = EvaluateSntpReply(data, size, sent, true, reply);
  // The server's fields as shown: printable text whatever the bytes.
  for (const bool v6 : {false, true})
    for (const char c : ReferenceIdText(reply, v6))
      if (c < 0x21 || c > 0x7E) std::abort();
  if (status == TSntpStatus::KissOfDeath && KissCode(reply).empty()) std::abort();
  if (status == TSntpStatus::Ok) {
    const double bias = -(static_cast<int>(reply.Precision) * 900) / kSecondsPerDay;
    const double t = DateTimeFromNtp(reply.Transmit, bias);
    if (!std::isfinite(t)) std::abort();
    const NtpTimestamp back = NtpFromDateTime(t, bias);
    // A round trip keeps the whole seconds.
    if (back.Seconds != reply.Transmit.Seconds && back.Seconds + 1 != reply.Transmit.Seconds &&
        back.Seconds != reply.Transmit.Seconds + 1)
      std::abort();
    (void)FormatDateTimeUser(t);
  }
  return 0;
}
