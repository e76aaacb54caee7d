#include "clients/HttpClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/evp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>
#include <utility>

#include "clients/Http2Exchange.h"
#include "clients/TlsSession.h"
#include "common/DateTime.h"
#include "common/Deadline.h"
#include "common/Pump.h"
#include "common/fMain.h"
#include "platform/Connect.h"
#include "shell/gIni.h"

namespace quovix {

namespace {

// Product web site named in the User-Agent.
constexpr const char* kProductHost = "quovix.example.org";
constexpr int kDefaultTimeoutMs = 30000;
// Error number reported when a host name cannot be resolved (the resolver's
// HOST_NOT_FOUND); there is no errno for it.
constexpr int kHostNotFound = 1;

int Effective(int timeoutMs) { return timeoutMs > 0 ? timeoutMs : kDefaultTimeoutMs; }

std::string ErrnoText(int err) {
  std::string t = std::strerror(err);
  if (!t.empty() && t.back() != '.') t += '.';
  return t;
}

bool IsIpLiteral(const std::string& host) {
  unsigned char buf[16];
  return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// Waits until fd is ready for events before the deadline; raises the
// timeout error of the step, or the abort when the user asked for one.
void AwaitFd(int fd, short events, const Deadline& deadline, HttpError::Kind timeoutKind) {
  switch (WaitForSocket(fd, events, deadline)) {
    case WaitEnd::Ready:
      return;
    case WaitEnd::Aborted:
      throw HttpError::Aborted();
    case WaitEnd::TimedOut:
      break;
  }
  if (timeoutKind == HttpError::Kind::ConnectTimeout)
    throw HttpError(HttpError::Kind::ConnectTimeout, "Connect timed out.");
  throw HttpError(HttpError::Kind::ReadTimeout, "Read Timeout");
}

using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

HttpError HostNotFound() {
  HttpError e = HttpError::SocketError(kHostNotFound, "Host not found.");
  e.SetStage(HttpError::Stage::Resolve);
  return e;
}

}  // namespace

// ---- URLs ----------------------------------------------------------------------------------

std::string HttpUrl::Authority() const {
  std::string a = Host.find(':') != std::string::npos ? "[" + Host + "]" : Host;
  const int def = Scheme == "https" ? 443 : 80;
  if (Port != def) a += ":" + std::to_string(Port);
  return a;
}

std::string HttpUrl::ToString() const { return Scheme + "://" + Authority() + PathAndQuery; }

HttpUrl ParseHttpUrl(const std::string& urlText) {
  HttpUrl u;
  std::string rest = Trim(urlText);
  const size_t sep = rest.find("://");
  if (sep != std::string::npos) {
    u.Scheme = LowerAscii(rest.substr(0, sep));
    rest.erase(0, sep + 3);
  } else {
    u.Scheme = "http";
  }
  if (u.Scheme != "http" && u.Scheme != "https")
    throw HttpError(HttpError::Kind::Protocol, "Unsupported protocol: " + u.Scheme);
  u.Port = u.Scheme == "https" ? 443 : 80;

  const size_t pathStart = rest.find_first_of("/?#");
  std::string authority = rest.substr(0, pathStart);
  std::string path = pathStart == std::string::npos ? std::string() : rest.substr(pathStart);
  if (const size_t hash = path.find('#'); hash != std::string::npos) path.resize(hash);
  if (path.empty() || path[0] != '/') path = "/" + path;
  // Raw blanks, control bytes and non-ASCII bytes never reach the request line.
  static const char kHex[] = "0123456789ABCDEF";
  u.PathAndQuery.clear();
  for (unsigned char c : path) {
    if (c <= 0x20 || c >= 0x7F) {
      u.PathAndQuery += '%';
      u.PathAndQuery += kHex[c >> 4];
      u.PathAndQuery += kHex[c & 15];
    } else {
      u.PathAndQuery += static_cast<char>(c);
    }
  }

  if (const size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  std::string portText;
  if (!authority.empty() && authority[0] == '[') {
    const size_t close = authority.find(']');
    if (close == std::string::npos)
      throw HostNotFound();
    u.Host = authority.substr(1, close - 1);
    const std::string after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') throw HostNotFound();
      portText = after.substr(1);
    }
    unsigned char buf[16];
    if (inet_pton(AF_INET6, u.Host.c_str(), buf) != 1)
      throw HostNotFound();
  } else {
    const size_t colon = authority.find(':');
    u.Host = authority.substr(0, colon);
    if (colon != std::string::npos) portText = authority.substr(colon + 1);
    if (u.Host.empty()) throw HostNotFound();
    for (char c : u.Host) {
      const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '-' || c == '.' || c == '_';
      if (!ok) throw HostNotFound();
    }
  }
  if (!portText.empty()) {
    int port = 0;
    for (char c : portText) {
      if (c < '0' || c > '9' || port > 65535)
        throw HttpError(HttpError::Kind::Protocol, "Invalid port: " + CutUtf8(portText, 16));
      port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535)
      throw HttpError(HttpError::Kind::Protocol, "Invalid port: " + CutUtf8(portText, 16));
    u.Port = port;
  }
  return u;
}

std::string ResolveHttpLocation(const HttpUrl& base, const std::string& location) {
  std::string loc = Trim(location);
  if (const size_t hash = loc.find('#'); hash != std::string::npos) loc.resize(hash);
  // An absolute URL: a scheme of letters, digits, "+", "-", "." before "://".
  if (const size_t sep = loc.find("://"); sep != std::string::npos && sep > 0) {
    bool scheme = true;
    for (size_t i = 0; i < sep; ++i) {
      const char c = loc[i];
      scheme = scheme && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                          (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.')));
    }
    if (scheme) return loc;
  }
  if (loc.compare(0, 2, "//") == 0) return base.Scheme + ":" + loc;
  const std::string origin = base.Scheme + "://" + base.Authority();
  if (!loc.empty() && loc[0] == '/') return origin + loc;
  std::string path = base.PathAndQuery;
  if (const size_t q = path.find('?'); q != std::string::npos) path.resize(q);
  if (loc.empty()) return origin + base.PathAndQuery;
  if (loc[0] == '?') return origin + path + loc;
  return origin + path.substr(0, path.rfind('/') + 1) + loc;
}

// ---- Proxy and response fields -----------------------------------------------------

void HttpProxyParams::Clear() {
  ProxyServer.clear();
  ProxyPort = 0;
  ProxyUsername.clear();
  ProxyPassword.clear();
}

void HttpResponseInfo::Clear() { *this = HttpResponseInfo{}; }

void ApplyProxyOptions(HttpClient& http) {
  if (HttpProxyUseProxy) {
    http.ProxyParams.ProxyServer = HttpProxyServerName;
    http.ProxyParams.ProxyPort = HttpProxyServerPort;
    http.ProxyParams.ProxyUsername = HttpProxyUsername;
    http.ProxyParams.ProxyPassword = HttpProxyPassword;
    http.ProxyParams.BasicAuthentication = true;
  } else {
    http.ProxyParams.Clear();
  }
}

// ---- Cookies -------------------------------------------------------------------------------

namespace {

constexpr size_t kMaxCookies = 300;
constexpr size_t kMaxCookieBytes = 4096;

std::string Unquote(std::string v) {
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return v;
}

bool DomainMatch(const std::string& host, const std::string& domain) {
  if (host == domain) return true;
  return host.size() > domain.size() && host.compare(host.size() - domain.size(), domain.size(),
                                                     domain) == 0 &&
         host[host.size() - domain.size() - 1] == '.' && !IsIpLiteral(host);
}

bool PathMatch(const std::string& requestPath, const std::string& cookiePath) {
  if (requestPath.compare(0, cookiePath.size(), cookiePath) != 0) return false;
  return requestPath.size() == cookiePath.size() || cookiePath.back() == '/' ||
         requestPath[cookiePath.size()] == '/';
}

std::string PathOnly(const std::string& pathAndQuery) {
  std::string p = pathAndQuery.substr(0, pathAndQuery.find('?'));
  return p.empty() ? "/" : p;
}

}  // namespace

void HttpCookieJar::Store(const std::string& hostIn, const std::string& requestPath,
                          const std::string& setCookie) {
  if (setCookie.size() > kMaxCookieBytes) return;
  const std::string host = LowerAscii(hostIn);
  Cookie c;
  bool expired = false;
  size_t start = 0;
  for (int part = 0; start <= setCookie.size(); ++part) {
    size_t semi = setCookie.find(';', start);
    if (semi == std::string::npos) semi = setCookie.size();
    const std::string item = setCookie.substr(start, semi - start);
    start = semi + 1;
    const size_t eq = item.find('=');
    const std::string name = Trim(item.substr(0, eq));
    const std::string value = eq == std::string::npos ? std::string() : Unquote(Trim(item.substr(eq + 1)));
    if (part == 0) {
      if (eq == std::string::npos || name.empty()) return;
      c.Name = name;
      c.Value = value;
      continue;
    }
    const std::string attr = LowerAscii(name);
    if (attr == "domain" && !value.empty()) {
      std::string d = LowerAscii(value);
      if (d[0] == '.') d.erase(0, 1);
      if (d.empty() || !DomainMatch(host, d)) return;  // a cookie for someone else
      c.Domain = d;
      c.HostOnly = false;
    } else if (attr == "path" && !value.empty() && value[0] == '/') {
      c.Path = value;
    } else if (attr == "max-age") {
      if (StrToIntDef(value, 1) <= 0) expired = true;
    } else if (attr == "expires") {
      const double when = ParseHttpDateUtc(value);
      if (when != 0 && UnixFromDateTime(when) < static_cast<double>(std::time(nullptr)))
        expired = true;
    } else if (attr == "secure") {
      c.Secure = true;
    }
  }
  if (c.Domain.empty()) c.Domain = host;
  if (c.Path.empty()) {
    const std::string p = PathOnly(requestPath);
    const size_t slash = p.rfind('/');
    c.Path = slash == 0 || slash == std::string::npos ? "/" : p.substr(0, slash);
  }
  cookies_.erase(std::remove_if(cookies_.begin(), cookies_.end(),
                                [&](const Cookie& o) {
                                  return o.Name == c.Name && o.Domain == c.Domain &&
                                         o.Path == c.Path;
                                }),
                 cookies_.end());
  if (expired) return;
  if (cookies_.size() >= kMaxCookies) cookies_.erase(cookies_.begin());
  cookies_.push_back(std::move(c));
}

std::string HttpCookieJar::HeaderFor(const std::string& hostIn, const std::string& pathAndQuery,
                                     bool secure) const {
  const std::string host = LowerAscii(hostIn);
  const std::string path = PathOnly(pathAndQuery);
  std::string out;
  for (const auto& c : cookies_) {
    if (c.Secure && !secure) continue;
    if (c.HostOnly ? host != c.Domain : !DomainMatch(host, c.Domain)) continue;
    if (!PathMatch(path, c.Path)) continue;
    if (!out.empty()) out += "; ";
    out += c.Name + "=" + c.Value;
  }
  return out;
}

// ---- Connection ----------------------------------------------------------------------------

// One connection of one request. Every wait on it ends at the request's
// deadline however the peer dribbles, and a single wait for data also
// within the read timeout.
class HttpClient::Connection : public IHttpStream {
 public:
  Connection(Deadline exchange, int readTimeoutMs)
      : exchange_(exchange), readTimeoutMs_(readTimeoutMs) {}
  ~Connection() override { Close(); }

  void Connect(const std::string& host, int port, int connectTimeoutMs, HttpTiming& timing) {
    const Deadline connectBy = exchange_.Within(connectTimeoutMs);
    const Clock::time_point lookupStart = Clock::now();
    // A literal of either family (a proxy may be given as "[::1]"), else
    // every address of the name, both families, in the resolver's order.
    std::vector<IpAddress> addresses;
    if (IsIpLiteral(host) || (!host.empty() && host.front() == '[')) {
      if (const IpAddress literal = IpAddress::Parse(host); !literal.Empty())
        addresses.push_back(literal);
    } else if (!host.empty()) {
      addresses = ResolveHostAddresses(host, std::min(NameResTimeout, connectBy.LeftMs()));
      timing.LookupMs = MsBetween(lookupStart, Clock::now());
      if (addresses.empty() && AbortRequested()) throw HttpError::Aborted();
    }
    if (addresses.empty()) throw HostNotFound();
    if (port < 1 || port > 65535) throw HttpError::SocketError(EINVAL, ErrnoText(EINVAL));
    const Clock::time_point connectStart = Clock::now();
    const platform::Reach reach =
        platform::ConnectTcp(addresses, static_cast<std::uint16_t>(port), connectBy);
    switch (reach.End) {
      case platform::ReachEnd::Reached:
        timing.ConnectMs = MsBetween(connectStart, Clock::now());
        break;
      case platform::ReachEnd::Aborted:
        throw HttpError::Aborted();
      case platform::ReachEnd::TimedOut:
        throw HttpError(HttpError::Kind::ConnectTimeout, "Connect timed out.");
      case platform::ReachEnd::NoAddress:
        throw HostNotFound();
      case platform::ReachEnd::Failed: {
        const int err = reach.Error != 0 ? reach.Error : ECONNREFUSED;
        throw HttpError::SocketError(err, ErrnoText(err));
      }
    }
    fd_ = reach.Fd;
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }

  // The handshake; the report is kept whatever its verdict, and a chain
  // that does not verify or a name that does not match ends the exchange
  // here, before a request goes out.
  void StartTls(const TlsOptions& options, TlsReport& report, HttpTiming& timing) {
    const Clock::time_point start = Clock::now();
    const TlsStatus st = tls_.Handshake(fd_, options, exchange_.Within(readTimeoutMs_));
    timing.TlsMs = MsBetween(start, Clock::now());
    report = tls_.Report();
    if (st != TlsStatus::Ok) Raise(st);
    tlsOn_ = true;
    if (!report.Verified || !report.NameMatch)
      throw HttpError(HttpError::Kind::Tls,
                      "TLS certificate verification failed: " +
                          (!report.Verified ? report.VerifyError
                                            : std::string(IsIpLiteral(options.ServerName)
                                                              ? "IP address mismatch"
                                                              : "hostname mismatch")));
  }

  void Write(const std::string& data) override {
    if (tlsOn_) {
      if (const TlsStatus st = tls_.Write(data, exchange_.Within(readTimeoutMs_)); st != TlsStatus::Ok)
        Raise(st);
      return;
    }
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t r = send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
      if (r > 0) {
        done += static_cast<size_t>(r);
      } else if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        Await(POLLOUT);
      } else {
        throw HttpError::SocketError(errno, ErrnoText(errno));
      }
    }
  }

  size_t Read(char* buf, size_t n) override {
    const size_t got = ReadSome(buf, n);
    if (got > 0 && !firstByte_) firstByte_ = Clock::now();
    return got;
  }
  // When the first byte since the last call arrived (none yet: empty).
  std::optional<Clock::time_point> TakeFirstByte() { return std::exchange(firstByte_, std::nullopt); }

  void Close() {
    tls_.Close();
    tlsOn_ = false;
    if (fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  bool Open() const { return fd_ >= 0; }

 private:
  size_t ReadSome(char* buf, size_t n) {
    // Also when data keeps arriving without a pause: the request's limit
    // holds however fast or slow the peer sends.
    if (exchange_.Passed()) throw HttpError(HttpError::Kind::ReadTimeout, "Read Timeout");
    if (tlsOn_) {
      size_t got = 0;
      const TlsStatus st = tls_.Read(buf, n, got, exchange_.Within(readTimeoutMs_));
      if (st == TlsStatus::Ok) return got;
      if (st == TlsStatus::Closed) return 0;
      Raise(st);
    }
    for (;;) {
      const ssize_t r = recv(fd_, buf, n, 0);
      if (r >= 0) return static_cast<size_t>(r);
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        Await(POLLIN);
        continue;
      }
      throw HttpError::SocketError(errno, ErrnoText(errno));
    }
  }

  void Await(short events) {
    AwaitFd(fd_, events, exchange_.Within(readTimeoutMs_), HttpError::Kind::ReadTimeout);
  }

  // A TLS session's failure as the client's error.
  [[noreturn]] void Raise(TlsStatus st) {
    switch (st) {
      case TlsStatus::TimedOut:
        throw HttpError(HttpError::Kind::ReadTimeout, "Read Timeout");
      case TlsStatus::Aborted:
        throw HttpError::Aborted();
      case TlsStatus::Failed:
        if (tls_.SystemError() != 0) throw HttpError::SocketError(tls_.SystemError(), tls_.Error());
        throw HttpError(HttpError::Kind::Tls, tls_.Error());
      case TlsStatus::Closed:
        if (!tlsOn_) throw HttpError(HttpError::Kind::Tls, "TLS handshake failed: " + tls_.Error());
        throw HttpError(HttpError::Kind::Closed, "Connection Closed Gracefully.");
      case TlsStatus::Ok:
      case TlsStatus::Untrusted:
        break;
    }
    throw HttpError(HttpError::Kind::Tls, tls_.Error());
  }

  int fd_ = -1;
  std::optional<Clock::time_point> firstByte_;
  TlsSession tls_;
  bool tlsOn_ = false;
  Deadline exchange_;
  int readTimeoutMs_;
};

// ---- HttpClient ------------------------------------------------------------------------

HttpClient::HttpClient() {
  UserAgent = std::string("Mozilla/3.0 (compatible; Quovix; ") + kProductHost + ")";
  ProxyParams.BasicAuthentication = true;
}

HttpClient::~HttpClient() = default;

bool HttpClient::Connected() const { return conn_ && conn_->Open(); }

void HttpClient::Disconnect() { conn_.reset(); }

void HttpClient::Head(const std::string& url) { Request("HEAD", url); }

std::string HttpClient::Get(const std::string& url) { return Request("GET", url); }

std::string HttpClient::Post(const std::string& url, const std::string& contentType,
                             const std::string& body) {
  postBody_ = body;
  postType_ = contentType;
  const bool redirects = HandleRedirects;
  HandleRedirects = false;
  struct Restore {
    HttpClient& c;
    bool redirects;
    ~Restore() {
      c.HandleRedirects = redirects;
      c.postBody_.clear();
      c.postType_.clear();
    }
  } restore{*this, redirects};
  return Request("POST", url);
}

std::string HttpClient::ProxyAuthorization() const {
  // No user name, no credentials: an empty pair would only tell an open
  // proxy that we have none, and a closed one answers 407 either way.
  if (!ProxyParams.BasicAuthentication || ProxyParams.ProxyUsername.empty()) return {};
  return "Basic " + Base64(ProxyParams.ProxyUsername + ":" + ProxyParams.ProxyPassword);
}

std::string HttpClient::BuildRequest(const std::string& method, const HttpUrl& url,
                                     bool viaProxy) const {
  std::string r = method + " " + (viaProxy ? url.ToString() : url.PathAndQuery) + " HTTP/1.1\r\n";
  auto header = [&r](const char* name, const std::string& value) {
    if (!value.empty()) r += std::string(name) + ": " + value + "\r\n";
  };
  header("Host", url.Authority());
  header("Accept", Accept);
  header("Accept-Encoding", "identity");
  header("User-Agent", UserAgent);
  if (viaProxy) header("Proxy-Authorization", ProxyAuthorization());
  if (AllowCookies) header("Cookie", Cookies.HeaderFor(url.Host, url.PathAndQuery, url.Scheme == "https"));
  if (method == "POST") {
    header("Content-Type", postType_);
    r += "Content-Length: " + std::to_string(postBody_.size()) + "\r\n\r\n" + postBody_;
    return r;
  }
  r += "\r\n";
  return r;
}

void HttpClient::TakeResponse(const HttpUrl& url, const HttpResponseHead& head) {
  Response.ResponseCode = head.ResponseCode;
  Response.ResponseText = head.ResponseText;
  Response.RawHeaders = head.RawHeaders;
  Response.HeaderComplete = head.Complete;
  Response.Server = head.Value("Server");
  Response.Date = ParseHttpDate(head.Value("Date"));
  Response.LastModified = ParseHttpDate(head.Value("Last-Modified"));
  const std::string location = head.Value("Location");
  Response.Location = location.empty() ? std::string() : ResolveHttpLocation(url, location);
  if (AllowCookies) {
    for (const char* name : {"Set-Cookie", "Set-Cookie2"})
      for (const auto& v : head.Values(name)) Cookies.Store(url.Host, url.PathAndQuery, v);
  }
}

HttpResponseHead HttpClient::ReadHead(HttpReader& in, const HttpUrl& url) {
  HttpResponseHead head;
  try {
    ReadResponseHead(in, head, Limits);
  } catch (...) {
    // What arrived before the failure stays visible to the caller.
    TakeResponse(url, head);
    throw;
  }
  return head;
}

void HttpClient::OpenTunnel(const HttpUrl& url) {
  const std::string target =
      (url.Host.find(':') != std::string::npos ? "[" + url.Host + "]" : url.Host) + ":" +
      std::to_string(url.Port);
  std::string r = "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n";
  if (!UserAgent.empty()) r += "User-Agent: " + UserAgent + "\r\n";
  if (const std::string auth = ProxyAuthorization(); !auth.empty())
    r += "Proxy-Authorization: " + auth + "\r\n";
  r += "\r\n";
  conn_->Write(r);
  HttpReader in(*conn_);
  const HttpResponseHead head = ReadHead(in, url);
  if (head.ResponseCode < 200 || head.ResponseCode > 299) {
    TakeResponse(url, head);
    throw HttpError(HttpError::Kind::Status, head.ResponseText, head.ResponseCode);
  }
  // Nothing may follow the proxy's answer before our TLS handshake.
  if (in.Buffered() != 0) throw HttpError::Malformed("data after the proxy's CONNECT answer");
}

std::string HttpClient::Exchange(const std::string& method, const HttpUrl& url, bool wantBody,
                                 const Deadline& deadline) {
  // Every failure leaves with the step it happened in, so the caller can
  // tell a server never reached from one that was reached and then failed.
  HttpError::Stage stage = HttpError::Stage::Connect;
  try {
    return ExchangeSteps(method, url, wantBody, deadline, stage);
  } catch (HttpError& e) {
    if (e.stage() == HttpError::Stage::None) e.SetStage(stage);
    throw;
  }
}

std::string HttpClient::ExchangeSteps(const std::string& method, const HttpUrl& url,
                                      bool wantBody, const Deadline& deadline,
                                      HttpError::Stage& stage) {
  Disconnect();
  LastTls = {};
  LastTiming = {};
  conn_ = std::make_unique<Connection>(deadline, Effective(ReadTimeout));
  // The total and the first byte are taken however the exchange ends.
  struct TimeAndCloseAtEnd {
    HttpClient& c;
    Clock::time_point start = Clock::now();
    std::optional<Clock::time_point> requestSent;
    bool http2 = false;
    // Over HTTP/2 the answer's first header frame (the server's settings
    // come first and are not the answer).
    std::optional<Clock::time_point> http2FirstByte;
    ~TimeAndCloseAtEnd() {
      const auto first = http2 ? http2FirstByte : c.conn_ ? c.conn_->TakeFirstByte() : std::nullopt;
      if (requestSent && first) c.LastTiming.FirstByteMs = MsBetween(*requestSent, *first);
      c.LastTiming.TotalMs = MsBetween(start, Clock::now());
      c.Disconnect();
    }
  } atEnd{*this};

  const bool viaProxy = !ProxyParams.ProxyServer.empty();
  if (viaProxy)
    conn_->Connect(ProxyParams.ProxyServer, ProxyParams.ProxyPort, Effective(ConnectTimeout),
                   LastTiming);
  else
    conn_->Connect(url.Host, url.Port, Effective(ConnectTimeout), LastTiming);

  const bool tls = url.Scheme == "https";
  if (tls) {
    if (viaProxy) {
      stage = HttpError::Stage::Tunnel;
      // The tunnel is part of reaching the server: its time counts to the connection's.
      const Clock::time_point tunnelStart = Clock::now();
      OpenTunnel(url);
      LastTiming.ConnectMs += MsBetween(tunnelStart, Clock::now());
    }
    stage = HttpError::Stage::Tls;
    TlsOptions options;
    options.ServerName = url.Host;
    options.ExtraCaFile = TlsExtraCaFile;
    // A request with a body (POST) keeps to HTTP/1.1, which sends it.
    if (AllowHttp2 && method != "POST") options.Alpn = {"h2", "http/1.1"};
    conn_->StartTls(options, LastTls, LastTiming);
    if (LastTls.Alpn == "h2") {
      stage = HttpError::Stage::Response;
      atEnd.http2 = true;
      atEnd.requestSent = Clock::now();
      return ExchangeHttp2(method, url, wantBody, atEnd.http2FirstByte);
    }
  }

  stage = HttpError::Stage::Request;
  conn_->TakeFirstByte();  // a proxy's answer is not the server's
  conn_->Write(BuildRequest(method, url, viaProxy && !tls));
  atEnd.requestSent = Clock::now();
  stage = HttpError::Stage::Response;
  HttpReader in(*conn_);
  const HttpResponseHead head = ReadHead(in, url);
  TakeResponse(url, head);
  const int code = head.ResponseCode;
  // Only the body of a final success is wanted; a redirect's is dropped
  // with the connection.
  if (wantBody && code >= 200 && code <= 299 && Response.Location.empty() &&
      ResponseHasBody(method, code))
    return ReadResponseBody(in, head, Limits);
  return {};
}

std::string HttpClient::ExchangeHttp2(const std::string& method, const HttpUrl& url, bool wantBody,
                                      std::optional<Clock::time_point>& firstByte) {
  Http2Request request;
  request.Method = method;
  request.Authority = url.Authority();
  request.Path = url.PathAndQuery;
  request.Headers = {{"accept", Accept},
                     {"accept-encoding", "identity"},
                     {"user-agent", UserAgent},
                     {"cookie", AllowCookies ? Cookies.HeaderFor(url.Host, url.PathAndQuery, true) : ""}};
  // A redirect's body is dropped with the connection, as over HTTP/1.1.
  request.WantBody = wantBody;
  Http2Answer answer;
  try {
    Http2Exchange(*conn_, request, Limits, answer);
  } catch (...) {
    firstByte = answer.FirstHeaders;
    TakeResponse(url, answer.Head);
    throw;
  }
  firstByte = answer.FirstHeaders;
  TakeResponse(url, answer.Head);
  const int code = answer.Head.ResponseCode;
  if (wantBody && code >= 200 && code <= 299 && Response.Location.empty() &&
      ResponseHasBody(method, code))
    return std::move(answer.Body);
  return {};
}

std::string HttpClient::Request(const std::string& method, const std::string& urlText) {
  HttpUrl url = ParseHttpUrl(urlText);
  // One limit for the whole call, redirects included: however the servers
  // answer, the caller gets control back when its timeout has passed.
  const Deadline deadline =
      Deadline::In(std::max(Effective(ConnectTimeout), Effective(ReadTimeout)));
  std::string m = method;
  int redirects = 0;
  for (;;) {
    std::string body = Exchange(m, url, method == "GET" || method == "POST", deadline);
    const int code = Response.ResponseCode;
    const bool redirect = (code >= 300 && code <= 399 && code != 304) || !Response.Location.empty();
    if (HandleRedirects && redirect && !Response.Location.empty()) {
      ++redirects;
      if (redirects >= RedirectMaximum) return body;
      if (code == 302 || code == 303) m = "GET";
      url = ParseHttpUrl(Response.Location);
      continue;
    }
    if (code >= 200 && code <= 299) return body;
    throw HttpError(HttpError::Kind::Status, Response.ResponseText, code);
  }
}

}  // namespace quovix
