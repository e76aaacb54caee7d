// Any bytes as what an SMTP server sends: replies are taken off one after
// another as the client does, within its limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "clients/SmtpClient.h"

using namespace quovix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
  std::string buffer(reinterpret_cast<const char*>(data), size);
  for (;;) {
    SmtpReply reply;
    size_t used = 0;
    const TSmtpTake r = TakeSmtpReply(buffer, reply, used);
    if (r != TSmtpTake::Complete) break;
    if (used == 0 || used > buffer.size()) std::abort();
    if (reply.Code < 100 || reply.Code > 599 || reply.CodeText.size() != 3) std::abort();
    if (reply.Lines.empty() || reply.Lines.size() > kSmtpMaxReplyLines) std::abort();
    if (reply.Sent.size() != reply.Lines.size()) std::abort();
    for (const std::string& line : reply.Sent)
      if (line.size() > kSmtpMaxLineLength || line.find('\n') != std::string::npos) std::abort();
    (void)reply.Display();
    (void)reply.AsSent();
    buffer.erase(0, used);
  }
  return 0;
}
