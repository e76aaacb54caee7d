// The HTTP/2 exchange on whatever a server may send after the handshake:
// frames in pieces as a socket gives them, the request's own frames
// written into nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "clients/Http2Exchange.h"

namespace {

class MemoryStream : public quovix::IHttpStream {
 public:
  MemoryStream(const uint8_t* data, size_t size, size_t piece) : data_(data), size_(size), piece_(piece) {}
  size_t Read(char* buf, size_t n) override {
    const size_t take = std::min({n, piece_, size_ - pos_});
    for (size_t i = 0; i < take; ++i) buf[i] = static_cast<char>(data_[pos_ + i]);
    pos_ += take;
    return take;
  }
  void Write(const std::string&) override {}

 private:
  const uint8_t* data_;
  size_t size_;
  size_t piece_;
  size_t pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The first byte chooses the piece size and whether the body is wanted.
  MemoryStream stream(data + 1, size - 1, 1 + data[0] % 64);
  quovix::Http2Request request;
  request.Authority = "127.0.0.1:443";
  request.WantBody = data[0] & 0x80;
  request.Headers = {{"user-agent", "fuzz"}};
  quovix::HttpLimits limits;
  limits.MaxBodyBytes = 1 << 16;
  limits.MaxLineLength = 512;
  limits.MaxHeaderLines = 20;
  quovix::Http2Answer answer;
  try {
    quovix::Http2Exchange(stream, request, limits, answer);
  } catch (const quovix::HttpError&) {
  }
  if (answer.Body.size() > limits.MaxBodyBytes) __builtin_trap();
  if (answer.Head.RawHeaders.size() > static_cast<size_t>(limits.MaxHeaderLines)) __builtin_trap();
  for (const auto& h : answer.Head.RawHeaders)
    if (h.size() > limits.MaxLineLength) __builtin_trap();
  return 0;
}
