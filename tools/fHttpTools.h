// What the tools that use the shared HTTP client share: taking a typed URL
// apart and putting it together again with the host in its IDN form, and
// saying in the user's language why a request failed.
#pragma once

#include <string>

namespace quovix {

class HttpError;

struct ToolUrl {
  std::string Scheme;  // up to and including "://" ("http://" when none was typed)
  std::string Host;    // between the scheme and the first "/" (port and user stay in it)
  std::string Path;    // from the first "/" to the end; empty when there is none
};

// Splits a trimmed URL text. An empty host stays empty.
ToolUrl SplitToolUrl(const std::string& url);

// The host part in its IDN form. A user part and a port are kept as they
// are; only the name itself is encoded. A name that cannot be asked for
// (EncodeHostName: the encoder refuses it, or it is longer than DNS allows)
// stays as typed, and *refusal (when given) says why; else it is nullptr.
std::string IdnHostPart(const std::string& host, const char** refusal = nullptr);

// Why a request failed, for a line or a message box.
struct HttpFailure {
  // The server (or the proxy) was never reached: no name, refused, no
  // route, no connection in time. Otherwise a connection stood and then the
  // exchange failed (time-out, closed, TLS, malformed, status).
  bool Unreached = false;
  bool TimedOut = false;  // the failure was a time-out (either kind)
  // Neither for a URL that cannot be asked at all ("bad_url").
  // Stable name for the JSON lines: "not_found", "refused", "no_route",
  // "prohibited", "reset", "connect_timeout", "network", "bad_url", "tls_timeout",
  // "timeout", "closed", "tls", "malformed", "status", "aborted".
  std::string Cause;
  std::string Text;  // the reason in the user's language, no full stop
};
HttpFailure DescribeHttpFailure(const HttpError& e);
// "Server nicht erreichbar! (reason)" for a server never reached, the
// reason alone for one that was reached.
std::string HttpFailureLine(const HttpFailure& why);

}  // namespace quovix
