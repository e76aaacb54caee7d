// The HTTP response reader on arbitrary bytes: status line, header block and
// the body in every framing, fed in small pieces as a socket would.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "clients/HttpResponse.h"

namespace {

class MemorySource : public quovix::IHttpSource {
 public:
  MemorySource(const uint8_t* data, size_t size, size_t piece)
      : data_(data), size_(size), piece_(piece) {}
  size_t Read(char* buf, size_t n) override {
    const size_t take = std::min({n, piece_, size_ - pos_});
    for (size_t i = 0; i < take; ++i) buf[i] = static_cast<char>(data_[pos_ + i]);
    pos_ += take;
    return take;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t piece_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the piece size and the method.
  const size_t piece = 1 + data[0] % 64;
  const std::string method = (data[0] & 0x80) ? "HEAD" : "GET";
  MemorySource src(data + 1, size - 1, piece);
  quovix::HttpReader in(src);
  quovix::HttpLimits limits;
  limits.MaxBodyBytes = 1 << 16;
  limits.MaxLineLength = 512;
  quovix::HttpResponseHead head;
  try {
    quovix::ReadResponseHead(in, head, limits);
    for (const auto& h : head.RawHeaders) {
      if (h.compare(0, 5, "Date:") == 0) quovix::ParseHttpDate(h.substr(5));
    }
    if (quovix::ResponseHasBody(method, head.ResponseCode)) {
      const std::string body = quovix::ReadResponseBody(in, head, limits);
      if (body.size() > limits.MaxBodyBytes) __builtin_trap();
    }
  } catch (const quovix::HttpError&) {
  }
  if (head.RawHeaders.size() > static_cast<size_t>(limits.MaxHeaderLines)) __builtin_trap();
  return 0;
}
