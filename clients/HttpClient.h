// The HTTP/1.1 client the main window owns (IdHTTP) and the tools share:
// HEAD and GET on a fresh connection each, redirects, in-memory cookies,
// a proxy with basic authentication, HTTPS with certificate verification.
// Every wait runs in short slices with the message pump in between.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "clients/HttpResponse.h"
#include "clients/TlsReport.h"
#include "common/Deadline.h"

namespace quovix {

// The parts of a URL the client needs.
struct HttpUrl {
  std::string Scheme;  // "http" or "https", lower case
  std::string Host;    // name, IPv4 address or IPv6 address (without brackets)
  int Port = 80;
  std::string PathAndQuery = "/";  // percent-encoded where the URL had raw bytes
  // "host" or "[v6]", followed by ":port" when not the scheme's default.
  std::string Authority() const;
  // scheme://authority/path
  std::string ToString() const;
};
// Splits a URL; a missing scheme means "http". Raises HttpError for an
// unsupported scheme, an unusable host or a bad port.
HttpUrl ParseHttpUrl(const std::string& url);
// A Location value (absolute, scheme-relative or relative) made absolute.
std::string ResolveHttpLocation(const HttpUrl& base, const std::string& location);

struct HttpProxyParams {
  std::string ProxyServer;  // empty: connect directly
  int ProxyPort = 0;
  std::string ProxyUsername;
  std::string ProxyPassword;
  bool BasicAuthentication = false;
  void Clear();
};

// The response of the last request (of the last hop when redirected).
struct HttpResponseInfo {
  int ResponseCode = 0;
  std::string ResponseText;             // the whole status line
  std::vector<std::string> RawHeaders;  // "Name: value", in order
  // The header block ended with its empty line; false when the answer broke
  // off (closed, timed out, too many lines) after its status line.
  bool HeaderComplete = false;
  std::string Server;
  double Date = 0;          // local date-time, 0 when absent
  double LastModified = 0;  // local date-time, 0 when absent
  std::string Location;     // absolute URL, empty when absent
  void Clear();
};

// Where the time of one exchange went, in milliseconds of the monotonic
// clock, each phase measured as it happened (never derived from another).
// A phase that was not needed (no look-up for an address, no TLS for plain
// HTTP) or not reached before a failure is negative.
struct HttpTiming {
  double LookupMs = -1;   // the name look-up of the server (of the proxy, when one is set)
  double ConnectMs = -1;  // the TCP connection, and through a proxy its tunnel
  double TlsMs = -1;      // the TLS handshake
  // From the request sent to the first byte of the answer: the server's
  // think time plus one round trip.
  double FirstByteMs = -1;
  // From the start to the end of the header block (or to the failure).
  double TotalMs = -1;
  // The exchange went over a connection an earlier one had opened.
  bool Reused = false;
};

// Cookies received during the program's lifetime, returned to their hosts.
class HttpCookieJar {
 public:
  // Stores the cookie of one Set-Cookie or Set-Cookie2 value sent by host.
  void Store(const std::string& host, const std::string& path, const std::string& setCookie);
  // "name=value; name2=value2" for a request to host and path; empty when none.
  std::string HeaderFor(const std::string& host, const std::string& path, bool secure) const;
  void Clear() { cookies_.clear(); }
  size_t Size() const { return cookies_.size(); }

 private:
  struct Cookie {
    std::string Name, Value, Domain, Path;
    bool HostOnly = true;
    bool Secure = false;
  };
  std::vector<Cookie> cookies_;
};

class HttpClient {
 public:
  HttpClient();
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // ---- fixed configuration
  std::string Accept = "text/html, */*";
  std::string UserAgent;  // set by the constructor
  bool HandleRedirects = true;
  int RedirectMaximum = 15;
  bool AllowCookies = true;
  HttpLimits Limits;
  // Offer HTTP/2 beside HTTP/1.1 in the TLS handshake (ALPN "h2",
  // "http/1.1"); when the server picks h2, the request goes over HTTP/2.
  // Off: no ALPN, HTTP/1.1 alone. Plain HTTP is always HTTP/1.1.
  bool AllowHttp2 = false;
  // A PEM file of certificate authorities trusted in addition to the
  // system's trust store (empty: the system store alone).
  std::string TlsExtraCaFile;

  // ---- per request
  // A Head or Get call as a whole (name look-up, connection, proxy tunnel,
  // TLS handshake, the whole response, every redirect followed) ends within
  // the larger of the two; the connection alone within ConnectTimeout, a
  // single wait for data within ReadTimeout.
  int ConnectTimeout = 0;  // ms; 0 or less: 30 s
  int ReadTimeout = 0;     // ms; 0 or less: 30 s
  HttpProxyParams ProxyParams;

  // ---- result of the last request
  HttpResponseInfo Response;
  int ResponseCode() const { return Response.ResponseCode; }
  const std::string& ResponseText() const { return Response.ResponseText; }
  void ClearResponse() { Response.Clear(); }
  HttpCookieJar Cookies;
  // What the TLS handshake of the last exchange showed (empty for plain
  // HTTP, and filled as far as it got when the handshake failed or the
  // certificate did not verify).
  TlsReport LastTls;
  // Where the time of the last exchange went (filled also when it failed).
  HttpTiming LastTiming;

  // The requests. Both raise HttpError, its stage saying how far the failed
  // exchange got; on a status error the response fields stay filled. An abort request (see AbortRequested) ends the wait
  // in progress with the error kind Aborted.
  void Head(const std::string& url);
  std::string Get(const std::string& url);
  // A POST of body (of that Content-Type); redirects are not followed.
  std::string Post(const std::string& url, const std::string& contentType,
                   const std::string& body);

  bool Connected() const;
  void Disconnect();

 private:
  class Connection;
  // One exchange without redirects: fills Response, returns the body.
  std::string Exchange(const std::string& method, const HttpUrl& url, bool wantBody,
                       const Deadline& deadline);
  // Its steps; stage follows them.
  std::string ExchangeSteps(const std::string& method, const HttpUrl& url, bool wantBody,
                            const Deadline& deadline, HttpError::Stage& stage);
  std::string Request(const std::string& method, const std::string& url);
  std::string BuildRequest(const std::string& method, const HttpUrl& url, bool viaProxy) const;
  // The exchange's request and answer over HTTP/2, once ALPN agreed on h2.
  std::string ExchangeHttp2(const std::string& method, const HttpUrl& url, bool wantBody,
                            std::optional<std::chrono::steady_clock::time_point>& firstByte);
  // "Basic …" from the proxy's user name and password; empty when no user
  // name is set or basic authentication is off.
  std::string ProxyAuthorization() const;
  void OpenTunnel(const HttpUrl& url);
  void TakeResponse(const HttpUrl& url, const HttpResponseHead& head);
  HttpResponseHead ReadHead(HttpReader& in, const HttpUrl& url);

  std::unique_ptr<Connection> conn_;
  // The body of the POST under way and its type.
  std::string postBody_, postType_;
};

// Applies the proxy options of the settings to a client: set with basic
// authentication when the proxy is switched on, cleared otherwise.
void ApplyProxyOptions(HttpClient& http);

}  // namespace quovix
