// One request over HTTP/2 on a byte stream that already carries it (a TLS
// session whose ALPN agreed on "h2"). libnghttp2 does the framing, the
// header compression and the flow control; here the request goes out and
// the answer is collected under the client's caps, every read and write
// through the stream's own limits (the exchange's deadline, the abort).
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "clients/HttpResponse.h"

namespace quovix {

// A source the answer comes from that also takes what goes out.
class IHttpStream : public IHttpSource {
 public:
  // The whole of data, or HttpError.
  virtual void Write(const std::string& data) = 0;
};

struct Http2Request {
  std::string Method = "HEAD";
  std::string Scheme = "https";
  std::string Authority;  // "host", "[v6]:port", as the Host header would say it
  std::string Path = "/";
  // Further request headers, names in lower case as HTTP/2 wants them;
  // an empty value is left out.
  std::vector<std::pair<std::string, std::string>> Headers;
  bool WantBody = false;
};

struct Http2Answer {
  // "HTTP/2 200" as the status line, each header "name: value" as the
  // server sent it (HTTP/2 names are lower case); the pseudo-headers are
  // left out. Filled as far as it got when the exchange fails.
  HttpResponseHead Head;
  std::string Body;
  // When the first header frame of the answer arrived (the server's own
  // settings and the like do not count).
  std::optional<std::chrono::steady_clock::time_point> FirstHeaders;
};

// The exchange; raises HttpError: Closed when the server ends the
// connection or the stream before the answer is whole, Protocol when it
// breaks HTTP/2 or a cap (header lines, line length, interim answers,
// body size), and whatever the stream raises (time-out, abort).
void Http2Exchange(IHttpStream& stream, const Http2Request& request, const HttpLimits& limits,
                   Http2Answer& answer);

}  // namespace quovix
