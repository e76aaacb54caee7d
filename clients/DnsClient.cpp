// DNS message client over UDP, and over TCP for a truncated reply. The reply
// comes from the network and is read as untrusted bytes: every read is
// checked against the message length, compression pointers are followed a
// bounded number of times, and anything that does not add up is a malformed
// reply (an error), never a crash. Every exchange is bounded as a whole by
// the waiting time and waits in slices that let the window's messages run.
#include "clients/DnsClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <random>
#include <system_error>
#include <thread>

#include "clients/HttpClient.h"
#include "clients/TlsSession.h"
#include "common/Deadline.h"
#include "common/IpAddress.h"
#include "common/fMain.h"
#include "platform/SockAddr.h"

namespace quovix {

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kHeaderSize = 12;
// The largest UDP payload there is: a server that ignores the advertised
// size must still not have its datagram cut short.
constexpr size_t kReceiveBufferSize = 65535;
constexpr size_t kMaxNameWireLength = 255;
// A legitimate name has at most 127 labels, so it never needs more jumps
// than that; a chain longer than this can only be a loop.
constexpr int kMaxPointerJumps = 128;
// Messages a TCP connection may bring that are not the reply before the
// exchange gives up on it.
constexpr int kMaxForeignTcpMessages = 16;
// Resolvers follow CNAME chains of about this length at most; longer ones
// are broken zones.
constexpr int kMaxCnameLinks = 16;

constexpr std::uint16_t kFlagQR = 0x8000, kFlagTC = 0x0200, kFlagCD = 0x0010,
                        kOpcodeMask = 0x7800;
// The EDNS option that asks for and carries the server's identifier.
constexpr std::uint16_t kOptionNsid = 3;
constexpr int kRcodeFormErr = 1;

constexpr std::uint16_t kTypeCodes[] = {
    1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,  // qtA … qtTXT
    21, 22, 23, 24,                                                  // qtRT … qtSIG
    28, 33, 35,                                                      // qtAAAA, qtService, qtNAPTR
    37, 38, 39, 40, 41,                                              // qtCERT … qtOptional
    251, 252, 255,                                                   // qtIXFR, qtAXFR, qtSTAR
    257};                                                            // qtCAA
static_assert(sizeof(kTypeCodes) / sizeof(kTypeCodes[0]) == qtCAA + 1);

[[noreturn]] void Malformed(const char* what) {
  throw EIdDnsResolverError(TDnsFailure::Malformed, std::string("Malformed DNS reply: ") + what);
}

std::uint16_t Get16(const unsigned char* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
std::uint32_t Get32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}
void Put16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v >> 8);
  out += static_cast<char>(v & 0xFF);
}
const unsigned char* Bytes(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

std::vector<std::string> SplitDots(const std::string& s) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t dot = s.find('.', start);
    parts.push_back(s.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts;
}

// The name as labels on the wire. A label that is empty (two dots in a row, a
// leading dot) or longer than 63 bytes, or a name longer than 255 bytes,
// cannot be written without the server reading something else than was
// meant, so such a name is refused before anything is sent.
std::string EncodeName(std::string name) {
  if (!name.empty() && name.back() == '.') name.pop_back();  // fully qualified form
  auto refuse = [&](const char* why) {
    throw EIdDnsResolverError(TDnsFailure::BadName,
                              "Cannot encode the name \"" + name + "\": " + why);
  };
  std::string out;
  if (!name.empty()) {
    for (const std::string& label : SplitDots(name)) {
      if (label.empty()) refuse("empty label");
      if (label.size() > 63) refuse("label too long");
      out += static_cast<char>(label.size());
      out += label;
    }
  }
  out += '\0';
  if (out.size() > kMaxNameWireLength) refuse("name too long");
  return out;
}

const char* RcodeText(int rcode) {
  switch (rcode) {
    case 1: return "format error";
    case 2: return "server failure";
    case 3: return "name error";
    case 4: return "not implemented";
    case 5: return "refused";
    default: return "unrecognised server error";
  }
}

[[noreturn]] void ServerError(int rcode, bool answerHasRecords) {
  EIdDnsResolverError e(std::string("DNS server answered: ") + RcodeText(rcode) + " (" +
                            RcodeName(rcode) + ")",
                        rcode);
  e.AnswerHasRecords = answerHasRecords;
  throw e;
}

// The options of the reply's OPT record that are shown (the server's
// identifier); options that run past the record's data end the reading.
void ReadOptions(TQueryResult& result, const unsigned char* p, size_t length) {
  for (size_t at = 0; at + 4 <= length;) {
    const std::uint16_t code = Get16(p + at), size = Get16(p + at + 2);
    if (at + 4 + size > length) break;
    if (code == kOptionNsid && !result.HasNsid) {
      result.HasNsid = true;
      result.Nsid.assign(reinterpret_cast<const char*>(p + at + 4), size);
    }
    at += 4 + size;
  }
}

// The query's own name in the form records are compared in.
std::string NameKey(std::string name) {
  if (!name.empty() && name.back() == '.') name.pop_back();
  return LowerAscii(std::move(name));
}

// ---- Socket helpers ------------------------------------------------------------

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void SocketError(const char* what, int err, bool tcp = false) {
  const TDnsFailure kind = err == ECONNREFUSED ? TDnsFailure::Refused
                           : err == ECONNRESET || err == EPIPE ? TDnsFailure::Closed
                                                               : TDnsFailure::Network;
  throw EIdDnsResolverError(kind,
                            std::string("Socket Error: ") + (tcp ? "TCP " : "") + what + ": " +
                                std::strerror(err),
                            tcp, err);
}

// The server's socket address, of either family.
struct Endpoint {
  sockaddr_storage addr{};
  socklen_t len = 0;
  const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&addr); }
};

bool SameEndpoint(const sockaddr_storage& a, const sockaddr_storage& b) {
  if (a.ss_family != b.ss_family) return false;
  if (a.ss_family == AF_INET) {
    auto& x = reinterpret_cast<const sockaddr_in&>(a);
    auto& y = reinterpret_cast<const sockaddr_in&>(b);
    return x.sin_port == y.sin_port && x.sin_addr.s_addr == y.sin_addr.s_addr;
  }
  if (a.ss_family == AF_INET6) {
    auto& x = reinterpret_cast<const sockaddr_in6&>(a);
    auto& y = reinterpret_cast<const sockaddr_in6&>(b);
    return x.sin6_port == y.sin6_port &&
           std::memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
  }
  return false;
}

Endpoint ServerEndpoint(const std::string& host, std::uint16_t port, TIdIPVersion version,
                        int waitMs) {
  auto [name, givenPort] = SplitUrlPort(host);
  if (givenPort != -1) {
    if (givenPort < 1 || givenPort > 65535)
      throw EIdDnsResolverError(TDnsFailure::NoServer,
                                "Socket Error: DNS server \"" + host + "\" has no valid port");
    port = static_cast<std::uint16_t>(givenPort);
  }
  IpAddress address = IpAddress::Parse(name);
  if (address.Empty() && !name.empty() && IsHostName(name))
    address = ChooseAddress(ResolveHostAddresses(name, waitMs), version == TIdIPVersion::Id_IPv6);
  Endpoint server;
  server.len = address.Empty() ? 0 : platform::ToSockAddr(address, port, server.addr);
  if (server.len == 0 && !address.Zone().empty())
    throw EIdDnsResolverError(TDnsFailure::BadZone, "Socket Error: DNS server \"" + host +
                                                        "\": no interface \"" + address.Zone() + "\"");
  if (server.len == 0)
    throw EIdDnsResolverError(TDnsFailure::NoServer,
                              "Socket Error: DNS server \"" + host + "\" not found");
  return server;
}

std::uint16_t RandomId() {
  static std::random_device rd;
  return static_cast<std::uint16_t>(std::uniform_int_distribution<int>(0, 65534)(rd));
}

// What one message that arrived means for the query.
enum class Fit { Foreign, Ours };

// A message is the reply when it is a response (QR set, standard query) with
// the query's identifier that asks the query's question. A server error or a
// truncated reply without any question is the server's word on the query
// too: such replies carry no records to be taken for the name's.
Fit Examine(const unsigned char* msg, size_t n, std::uint16_t id, const std::string& query) {
  if (n < 2 || Get16(msg) != id) return Fit::Foreign;
  if (n < kHeaderSize) return Fit::Ours;  // read as the malformed reply it is
  const std::uint16_t flags = Get16(msg + 2);
  if (!(flags & kFlagQR) || (flags & kOpcodeMask) != 0) return Fit::Foreign;
  if (Get16(msg + 4) == 0 && ((flags & 0x0F) != 0 || (flags & kFlagTC))) return Fit::Ours;
  return ReplyMatchesQuery(msg, n, query) ? Fit::Ours : Fit::Foreign;
}

// Appends the OPT record to a query built without one.
std::string WithOpt(std::string query, std::uint16_t payload, bool dnssecOk, bool nsid) {
  const std::uint16_t arCount = static_cast<std::uint16_t>(Get16(Bytes(query) + 10) + 1);
  query[10] = static_cast<char>(arCount >> 8);
  query[11] = static_cast<char>(arCount & 0xFF);
  query += '\0';  // the root name
  Put16(query, kTypeOPT);
  Put16(query, payload);                    // CLASS: the UDP payload size
  Put16(query, 0);                          // TTL: extended RCODE 0, version 0 …
  Put16(query, dnssecOk ? 0x8000 : 0x0000);  // … and the DO bit
  if (!nsid) {
    Put16(query, 0);  // no options
    return query;
  }
  Put16(query, 4);
  Put16(query, kOptionNsid);
  Put16(query, 0);  // asked for by an empty one
  return query;
}

std::string WithId(std::string query, std::uint16_t id) {
  query[0] = static_cast<char>(id >> 8);
  query[1] = static_cast<char>(id & 0xFF);
  return query;
}

enum class UdpEnd { NoReply, Reply, Truncated };

// One UDP exchange: the query out, then datagrams until the reply or the
// deadline. A foreign datagram only is a mismatch error at the end.
UdpEnd UdpExchange(const Endpoint& server, const std::string& query, std::uint16_t id,
                   int waitMs, std::vector<unsigned char>& buffer, size_t& size) {
  Fd fd(::socket(server.addr.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) SocketError("socket", errno);
  // Connected: the kernel drops datagrams from any other address, and an
  // unreachable port is reported instead of waited out.
  if (::connect(fd.get(), server.get(), server.len) != 0) SocketError("connect", errno);
  ssize_t sent;
  do {
    sent = ::send(fd.get(), query.data(), query.size(), 0);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) SocketError("send", errno);

  const Deadline deadline = Deadline::In(waitMs);
  bool sawForeign = false;
  while (WaitForSocket(fd.get(), POLLIN, deadline) == WaitEnd::Ready) {
    sockaddr_storage from{};
    socklen_t fromLen = sizeof from;
    const ssize_t n = ::recvfrom(fd.get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) SocketError("recv", errno);
    } else if (!SameEndpoint(from, server.addr)) {
      // Not from the server asked: not the answer.
    } else if (n < 5) {
      // Too short to be a reply at all: ignored.
    } else if (Examine(buffer.data(), static_cast<size_t>(n), id, query) == Fit::Foreign) {
      // A stray or forged datagram; the real reply may still come.
      sawForeign = true;
    } else {
      size = static_cast<size_t>(n);
      return (Get16(buffer.data() + 2) & kFlagTC) ? UdpEnd::Truncated : UdpEnd::Reply;
    }
  }
  if (sawForeign)
    throw EIdDnsResolverError(TDnsFailure::Mismatch,
                              "DNS reply identifier or question does not match the query");
  return UdpEnd::NoReply;
}

// One TCP exchange (RFC 7766): connect, the query with its two-byte length,
// then messages until the reply; the whole of it within waitMs. False when
// the time ran out.
// A TCP connection to the server within the deadline; false when it did not
// stand in time.
bool TcpConnect(const Endpoint& server, const Deadline& deadline, Fd& fd) {
  if (fd.get() < 0) SocketError("socket", errno, true);
  if (::connect(fd.get(), server.get(), server.len) != 0) {
    if (errno != EINPROGRESS && errno != EINTR) SocketError("connect", errno, true);
    if (WaitForSocket(fd.get(), POLLOUT, deadline) != WaitEnd::Ready) return false;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) SocketError("connect", err, true);
  }
  return true;
}

// The byte stream a framed exchange runs over: the socket itself (plain DNS
// over TCP) or a TLS session on it (DNS over TLS).
class ByteStream {
 public:
  enum class Got { Data, End, Late };
  virtual ~ByteStream() = default;
  // The whole of out; false when the deadline passed first.
  virtual bool Send(const std::string& out, const Deadline& deadline) = 0;
  // Some bytes appended to stream, the end of the stream, or the deadline.
  virtual Got Receive(std::string& stream, const Deadline& deadline) = 0;
  virtual const char* Name() const = 0;
};

class SocketStream : public ByteStream {
 public:
  explicit SocketStream(int fd) : fd_(fd) {}
  bool Send(const std::string& out, const Deadline& deadline) override {
    for (size_t done = 0; done < out.size();) {
      const ssize_t n = ::send(fd_, out.data() + done, out.size() - done, MSG_NOSIGNAL);
      if (n >= 0) {
        done += static_cast<size_t>(n);
      } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
        if (WaitForSocket(fd_, POLLOUT, deadline) != WaitEnd::Ready) return false;
      } else {
        SocketError("send", errno, true);
      }
    }
    return true;
  }
  Got Receive(std::string& stream, const Deadline& deadline) override {
    char chunk[4096];
    for (;;) {
      if (WaitForSocket(fd_, POLLIN, deadline) != WaitEnd::Ready) return Got::Late;
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
      if (n > 0) {
        stream.append(chunk, static_cast<size_t>(n));
        return Got::Data;
      }
      if (n == 0) return Got::End;
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) SocketError("recv", errno, true);
    }
  }
  const char* Name() const override { return "TCP"; }

 private:
  int fd_;
};

[[noreturn]] void TlsError(const std::string& what) {
  throw EIdDnsResolverError(TDnsFailure::Tls, what, true);
}

class TlsStream : public ByteStream {
 public:
  explicit TlsStream(TlsSession& session) : s_(session) {}
  bool Send(const std::string& out, const Deadline& deadline) override {
    return Check(s_.Write(out, deadline));
  }
  Got Receive(std::string& stream, const Deadline& deadline) override {
    char chunk[4096];
    size_t got = 0;
    const TlsStatus status = s_.Read(chunk, sizeof chunk, got, deadline);
    if (status == TlsStatus::Closed) return Got::End;
    if (!Check(status)) return Got::Late;
    stream.append(chunk, got);
    return Got::Data;
  }
  const char* Name() const override { return "TLS"; }

 private:
  // False for the deadline (or an abort); raises for a failure.
  bool Check(TlsStatus status) {
    switch (status) {
      case TlsStatus::Ok: return true;
      case TlsStatus::TimedOut:
      case TlsStatus::Aborted: return false;
      case TlsStatus::Closed:
        throw EIdDnsResolverError(TDnsFailure::Closed,
                                  "The DNS server closed the TLS connection", true);
      case TlsStatus::Failed:
      case TlsStatus::Untrusted: break;
    }
    if (s_.SystemError() != 0) SocketError("TLS", s_.SystemError(), true);
    TlsError("TLS failure: " + s_.Error());
  }
  TlsSession& s_;
};

// The query framed with its length, then messages until the reply (those
// that are not it passed over, a bounded number of them). False when the
// deadline passed before the reply.
bool FramedExchange(ByteStream& io, const std::string& query, std::uint16_t id,
                    const Deadline& deadline, std::string& reply) {
  std::string out;
  Put16(out, static_cast<std::uint16_t>(query.size()));
  out += query;
  if (!io.Send(out, deadline)) return false;

  std::string stream, message;
  int foreign = 0;
  for (;;) {
    while (NextTcpMessage(stream, message)) {
      if (Examine(Bytes(message), message.size(), id, query) == Fit::Ours) {
        reply = std::move(message);
        return true;
      }
      if (++foreign > kMaxForeignTcpMessages) break;
    }
    if (foreign > kMaxForeignTcpMessages) break;
    const ByteStream::Got got = io.Receive(stream, deadline);
    if (got == ByteStream::Got::Late) {
      if (foreign > 0) break;
      return false;
    }
    if (got == ByteStream::Got::End) {
      if (foreign > 0) break;
      throw EIdDnsResolverError(TDnsFailure::Closed,
                                std::string("The DNS server closed the ") + io.Name() +
                                    " connection without a reply",
                                true);
    }
  }
  throw EIdDnsResolverError(TDnsFailure::Mismatch,
                            "DNS reply identifier or question does not match the query", true);
}

bool TcpExchange(const Endpoint& server, const std::string& query, std::uint16_t id, int waitMs,
                 std::string& reply) {
  const Deadline deadline = Deadline::In(waitMs);
  Fd fd(::socket(server.addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!TcpConnect(server, deadline, fd)) return false;
  SocketStream io(fd.get());
  return FramedExchange(io, query, id, deadline, reply);
}

// DNS over TLS: the connection, the handshake with the certificate checked
// against the server's name, then the framed exchange, all within one
// deadline.
bool TlsExchange(const Endpoint& server, const std::string& serverName, const std::string& query,
                 std::uint16_t id, int waitMs, std::string& reply) {
  const Deadline deadline = Deadline::In(waitMs);
  Fd fd(::socket(server.addr.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!TcpConnect(server, deadline, fd)) return false;
  TlsSession session;
  TlsOptions options;
  options.ServerName = serverName;
  options.Alpn = {"dot"};
  options.RequireTrusted = true;
  options.RequestOcsp = false;
  switch (session.Handshake(fd.get(), options, deadline)) {
    case TlsStatus::Ok: break;
    case TlsStatus::TimedOut:
    case TlsStatus::Aborted: return false;
    case TlsStatus::Closed:
      throw EIdDnsResolverError(TDnsFailure::Closed,
                                "The DNS server closed the connection in the TLS handshake", true);
    case TlsStatus::Untrusted: {
      const TlsReport& r = session.Report();
      TlsError(!r.Verified ? "certificate does not verify: " + r.VerifyError
                           : "certificate is not for \"" + serverName + "\"");
    }
    case TlsStatus::Failed:
      if (session.SystemError() != 0) SocketError("TLS", session.SystemError(), true);
      TlsError("TLS handshake failed: " + session.Error());
  }
  TlsStream io(session);
  const bool answered = FramedExchange(io, query, id, deadline, reply);
  session.Close();
  return answered;
}

// DNS over HTTPS: the query POSTed as application/dns-message over the HTTP
// client, the whole exchange within the waiting time. False when no answer
// came in time.
bool HttpsExchange(const std::string& url, const std::string& query, std::uint16_t id,
                   int waitMs, std::string& reply) {
  HttpClient http;
  ApplyProxyOptions(http);
  http.Accept = "application/dns-message";
  http.AllowCookies = false;
  http.ConnectTimeout = waitMs;
  http.ReadTimeout = waitMs;
  std::string body;
  try {
    body = http.Post(url, "application/dns-message", query);
  } catch (const HttpError& e) {
    switch (e.kind()) {
      case HttpError::Kind::ConnectTimeout:
      case HttpError::Kind::ReadTimeout:
      case HttpError::Kind::Aborted: return false;
      case HttpError::Kind::Status: {
        EIdDnsResolverError error(TDnsFailure::Http,
                                  "DNS over HTTPS: " + std::string(e.what()), true);
        error.HttpStatus = e.code();
        throw error;
      }
      case HttpError::Kind::Tls: TlsError(e.what());
      case HttpError::Kind::Closed:
        throw EIdDnsResolverError(TDnsFailure::Closed, e.what(), true);
      case HttpError::Kind::Socket:
        if (e.stage() == HttpError::Stage::Resolve)
          throw EIdDnsResolverError(TDnsFailure::NoServer, e.what(), true);
        if (e.code() != 0) SocketError("HTTPS", e.code(), true);
        throw EIdDnsResolverError(TDnsFailure::NoServer, e.what(), true);
      case HttpError::Kind::Protocol: Malformed("the HTTP answer is malformed");
    }
    throw;
  }
  std::string type;
  for (const std::string& h : http.Response.RawHeaders)
    if (const size_t colon = h.find(':');
        colon != std::string::npos && SameTextAscii(Trim(h.substr(0, colon)), "Content-Type"))
      type = LowerAscii(Trim(h.substr(colon + 1)));
  if (type.rfind("application/dns-message", 0) != 0 || body.size() > 65535)
    throw EIdDnsResolverError(TDnsFailure::Http, "DNS over HTTPS: the answer is no DNS message",
                              true);
  if (Examine(Bytes(body), body.size(), id, query) != Fit::Ours)
    throw EIdDnsResolverError(TDnsFailure::Mismatch,
                              "DNS reply identifier or question does not match the query", true);
  reply = std::move(body);
  return true;
}

}  // namespace

std::uint16_t QueryTypeCode(TQueryRecordType t) { return kTypeCodes[t]; }

std::string TransportName(TDnsTransport t) {
  switch (t) {
    case TDnsTransport::Udp: return "udp";
    case TDnsTransport::Tcp: return "tcp";
    case TDnsTransport::Tls: return "tls";
    case TDnsTransport::Https: return "https";
  }
  return "udp";
}

TDnsServer ParseDnsServer(const std::string& text) {
  TDnsServer s;
  const std::string lower = LowerAscii(text.substr(0, 8));
  if (lower.rfind("https://", 0) == 0) {
    s.Transport = TDnsTransport::Https;
    s.Url = text;
    // The authority: up to the path.
    const size_t end = text.find_first_of("/?#", 8);
    std::string authority = text.substr(8, end == std::string::npos ? end : end - 8);
    auto [host, port] = SplitUrlPort(authority);
    s.Port = port;
    s.Host = host;
  } else if (lower.rfind("tls://", 0) == 0) {
    s.Transport = TDnsTransport::Tls;
    std::string rest = text.substr(6);
    if (!rest.empty() && rest.back() == '/') rest.pop_back();
    auto [host, port] = SplitUrlPort(rest);
    s.Port = port;
    s.Host = host;
  } else {
    auto [host, port] = SplitUrlPort(text);
    s.Port = port;
    s.Host = host;
    return s;
  }
  if (s.Host.size() >= 2 && s.Host.front() == '[' && s.Host.back() == ']')
    s.Host = s.Host.substr(1, s.Host.size() - 2);
  return s;
}

std::string RcodeName(int rcode) {
  static const char* const kNames[] = {"NOERROR", "FORMERR", "SERVFAIL", "NXDOMAIN",
                                       "NOTIMP",  "REFUSED", "YXDOMAIN", "YXRRSET",
                                       "NXRRSET", "NOTAUTH", "NOTZONE"};
  if (rcode >= 0 && rcode < static_cast<int>(std::size(kNames))) return kNames[rcode];
  if (rcode == 16) return "BADVERS";
  return "RCODE " + std::to_string(rcode);
}

void TQueryResult::Clear() { *this = TQueryResult(); }

std::string DecodeDnsNameWire(const unsigned char* msg, size_t size, size_t& pos) {
  std::string wire;
  size_t p = pos;
  size_t resume = 0;  // just after the first pointer, once one was followed
  bool jumped = false;
  int jumps = 0;
  for (;;) {
    if (p >= size) Malformed("name runs past the end of the message");
    const unsigned char len = msg[p];
    if ((len & 0xC0) == 0xC0) {
      if (p + 1 >= size) Malformed("compression pointer runs past the end of the message");
      if (!jumped) resume = p + 2;
      jumped = true;
      if (++jumps > kMaxPointerJumps) Malformed("compression pointer loop");
      p = (static_cast<size_t>(len & 0x3F) << 8) | msg[p + 1];
      continue;
    }
    if (len == 0) {
      ++p;
      break;
    }
    // Lengths 64 to 191 carry flag bits that no current standard uses; they
    // are read as plain label lengths.
    if (p + 1 + len > size) Malformed("label runs past the end of the message");
    // With the terminating zero still to come.
    if (wire.size() + 1 + len + 1 > kMaxNameWireLength) Malformed("name longer than 255 bytes");
    wire.append(reinterpret_cast<const char*>(msg + p), 1 + len);
    p += 1 + len;
  }
  pos = jumped ? resume : p;
  wire += '\0';
  return wire;
}

std::string DecodeDnsName(const unsigned char* msg, size_t size, size_t& pos) {
  const std::string wire = DecodeDnsNameWire(msg, size, pos);
  std::string name;
  for (size_t p = 0; wire[p] != 0; p += 1 + static_cast<unsigned char>(wire[p])) {
    if (!name.empty()) name += '.';
    name.append(wire, p + 1, static_cast<unsigned char>(wire[p]));
  }
  return name;
}

std::string PtrQueryName(const std::string& name) {
  const std::string upper = UpperAscii(name);
  if (upper.find("IN-ADDR") != std::string::npos || upper.find("IP6.INT") != std::string::npos ||
      upper.find("IP6.ARPA") != std::string::npos)
    return name;
  if (const IpAddress v6 = IpAddress::Parse(name); v6.IsV6()) return v6.ReverseName();
  std::string address = name;
  if (!address.empty() && address.back() == '.') address.pop_back();
  std::vector<std::string> parts = SplitDots(address);
  std::string reverse;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) reverse += *it + ".";
  return reverse + "in-addr.arpa";
}

std::string TIdDNSResolver::BuildQuery(const std::string& name, std::uint16_t qclass,
                                       std::uint16_t id) const {
  if (QueryType.empty() && QuestionType == 0)
    throw EIdDnsResolverError(TDnsFailure::NoQuestion,
                              "No query type: there is no question to ask");
  std::string msg;
  Put16(msg, id);
  Put16(msg, static_cast<std::uint16_t>((AllowRecursiveQueries ? 0x0100 : 0x0000) |
                                        (CheckingDisabled ? kFlagCD : 0)));
  Put16(msg, static_cast<std::uint16_t>(QuestionType != 0 ? 1 : QueryType.size()));
  Put16(msg, 0);
  Put16(msg, 0);
  Put16(msg, 0);
  if (QuestionType != 0) {
    msg += EncodeName(QuestionType == kTypePTR ? PtrQueryName(name) : name);
    Put16(msg, QuestionType);
    Put16(msg, qclass);
    return msg;
  }
  for (TQueryRecordType t : QueryType) {  // std::set: in the order of the type list
    msg += EncodeName(t == qtPTR ? PtrQueryName(name) : name);
    Put16(msg, QueryTypeCode(t));
    Put16(msg, qclass);
  }
  return msg;
}

std::string TIdDNSResolver::QueryMessage(const std::string& name, std::uint16_t qclass,
                                         std::uint16_t id) const {
  std::string msg = BuildQuery(name, qclass, id);
  return UseEdns ? WithOpt(std::move(msg), EdnsPayloadSize, DnssecOk, RequestNsid) : msg;
}

TQueryResult TIdDNSResolver::ParseMessage(const unsigned char* msg, size_t size) {
  TQueryResult result;
  result.Flags = Get16(msg + 2);
  const unsigned qdCount = Get16(msg + 4);
  const unsigned counts[3] = {Get16(msg + 6), Get16(msg + 8), Get16(msg + 10)};
  size_t pos = kHeaderSize;
  for (unsigned q = 0; q < qdCount; ++q) {
    const size_t qStart = pos;
    std::string qname = DecodeDnsName(msg, size, pos);
    if (pos + 4 > size) Malformed("question runs past the end of the message");
    if (qdCount == 1) {
      result.HasQuestion = true;
      result.QName = std::move(qname);
      size_t again = qStart;
      result.QNameWire = DecodeDnsNameWire(msg, size, again);
      result.QType = Get16(msg + pos);
      result.QClass = Get16(msg + pos + 2);
    }
    pos += 4;
  }
  const TRecordSection sections[3] = {TRecordSection::Answer, TRecordSection::Authority,
                                      TRecordSection::Additional};
  for (int s = 0; s < 3; ++s) {
    for (unsigned i = 0; i < counts[s]; ++i) {
      TResultRecord rec;
      rec.Section = sections[s];
      {
        size_t namePos = pos;
        rec.OwnerWire = DecodeDnsNameWire(msg, size, namePos);
      }
      rec.Name = DecodeDnsName(msg, size, pos);
      if (pos + 10 > size) Malformed("record header runs past the end of the message");
      rec.TypeCode = Get16(msg + pos);
      rec.Class = Get16(msg + pos + 2);
      rec.TTL = Get32(msg + pos + 4);
      rec.RDataLength = Get16(msg + pos + 8);
      const size_t rdStart = pos + 10;
      const size_t rdEnd = rdStart + rec.RDataLength;
      if (rdEnd > size) Malformed("record data runs past the end of the message");
      pos = rdEnd;
      if (rec.TypeCode == kTypeOPT && rec.Section == TRecordSection::Additional &&
          rec.Name.empty()) {
        // The EDNS record is about the message, not data of the name.
        if (result.HasOpt) Malformed("more than one OPT record");
        result.HasOpt = true;
        result.OptPayloadSize = rec.Class;
        result.OptVersion = static_cast<std::uint8_t>(rec.TTL >> 16);
        result.OptDnssecOk = (rec.TTL & 0x8000) != 0;
        // The upper eight bits of the response code.
        if (const unsigned extended = rec.TTL >> 24; extended != 0)
          result.ExtendedRcode = static_cast<int>(extended << 4) | (result.Flags & 0x0F);
        ReadOptions(result, msg + rdStart, rec.RDataLength);
        continue;
      }
      rec.RData = ExpandRecordData(rec.TypeCode, msg, size, rdStart, rdEnd);
      DecodeRecordData(rec);
      result.records_.push_back(std::move(rec));
    }
  }
  return result;
}

void TIdDNSResolver::ReadReply(const unsigned char* msg, size_t size, std::uint16_t id) {
  if (size < kHeaderSize) Malformed("shorter than its header");
  if (Get16(msg) != id)
    throw EIdDnsResolverError(TDnsFailure::Mismatch,
                              "DNS reply identifier does not match the query");
  if (WholeReply) {
    QueryResult = ParseMessage(msg, size);
    return;
  }
  const int rcode = msg[3] & 0x0F;
  if (rcode != 0) {
    // The server's code decides; a readable rest only adds whether the
    // answer held records and the extended code.
    int full = rcode;
    bool records = false;
    try {
      const TQueryResult partial = ParseMessage(msg, size);
      if (partial.ExtendedRcode != 0) full = partial.ExtendedRcode;
      for (const TResultRecord& rec : partial)
        records = records || rec.Section == TRecordSection::Answer;
    } catch (const EIdDnsResolverError&) {
    }
    ServerError(full, records);
  }
  const unsigned counts = Get16(msg + 6) + Get16(msg + 8) + Get16(msg + 10);
  if (counts == 0 || size == kHeaderSize) return;

  // Read into a fresh list and take it over only when the whole reply read
  // cleanly, so that a malformed reply leaves the previous result.
  TQueryResult result = ParseMessage(msg, size);
  if (result.ExtendedRcode != 0) ServerError(result.ExtendedRcode, false);
  QueryResult = std::move(result);
}

void TIdDNSResolver::SendQuery(const std::string& name, std::uint16_t qclass) {
  exchange_ = {};
  // Built first: a query that cannot be asked is refused before any socket.
  const std::string plain = BuildQuery(name, qclass, 0);
  const TDnsServer named = ParseDnsServer(Host);
  if (named.Transport == TDnsTransport::Tls || named.Transport == TDnsTransport::Https) {
    // One exchange over the connection, with EDNS as over UDP; DNS over
    // HTTPS asks with identifier 0, so that caches can share the answer.
    exchange_.Transport = named.Transport;
    exchange_.Edns = UseEdns;
    exchange_.DnssecOk = UseEdns && DnssecOk;
    const std::uint16_t id = named.Transport == TDnsTransport::Https ? 0 : RandomId();
    lastId_ = id;
    const std::string query =
        UseEdns ? WithOpt(WithId(plain, id), EdnsPayloadSize, DnssecOk, RequestNsid)
                : WithId(plain, id);
    std::string reply;
    bool answered;
    if (named.Transport == TDnsTransport::Https) {
      answered = HttpsExchange(named.Url, query, id, WaitingTime, reply);
    } else {
      if (named.Port == 0 || named.Port > 65535)
        throw EIdDnsResolverError(TDnsFailure::NoServer,
                                  "Socket Error: DNS server \"" + Host + "\" has no valid port");
      const Endpoint server =
          ServerEndpoint(named.Host, named.Port > 0 ? static_cast<std::uint16_t>(named.Port) : 853,
                         IPVersion, WaitingTime);
      answered = TlsExchange(server, named.Host, query, id, WaitingTime, reply);
    }
    if (!answered) return;
    ReadReply(Bytes(reply), reply.size(), id);
    exchange_.Answered = true;
    return;
  }
  const Endpoint server = ServerEndpoint(Host, Port, IPVersion, WaitingTime);

  std::vector<unsigned char> buffer(kReceiveBufferSize);
  bool edns = UseEdns;
  auto message = [&](std::uint16_t id) {
    lastId_ = id;
    exchange_.Edns = edns;
    exchange_.DnssecOk = edns && DnssecOk;
    return edns ? WithOpt(WithId(plain, id), EdnsPayloadSize, DnssecOk, RequestNsid) : WithId(plain, id);
  };
  for (;;) {
    const std::uint16_t id = RandomId();
    const std::string query = message(id);
    size_t size = 0;
    const UdpEnd end = UdpExchange(server, query, id, WaitingTime, buffer, size);
    if (end == UdpEnd::NoReply) return;
    if (end == UdpEnd::Truncated) break;
    // A server that does not know EDNS answers FORMERR to the OPT record.
    if (edns && size >= kHeaderSize && (buffer[3] & 0x0F) == kRcodeFormErr) {
      edns = false;
      exchange_.EdnsDropped = true;
      continue;
    }
    ReadReply(buffer.data(), size, id);
    exchange_.Answered = true;
    return;
  }

  // Truncated: the whole answer over TCP, asked as the last UDP query was,
  // with a time limit of its own.
  exchange_.Transport = TDnsTransport::Tcp;
  const std::uint16_t id = RandomId();
  const std::string query = message(id);
  std::string reply;
  if (!TcpExchange(server, query, id, WaitingTime, reply)) return;
  ReadReply(Bytes(reply), reply.size(), id);
  exchange_.Answered = true;
}

// ---- Worker jobs ---------------------------------------------------------------

// What the worker and the waiting caller share; whoever lets go last frees
// it, so a worker whose caller stopped waiting writes into nothing anyone reads.
struct TDnsQueryJob::State {
  std::mutex mutex;
  std::condition_variable done_cv;
  bool done = false;
  TIdDNSResolver resolver;
  std::exception_ptr error;
};

TDnsQueryJob::TDnsQueryJob(TIdDNSResolver resolver, std::string name, std::uint16_t qclass)
    : resolver_(std::move(resolver)), name_(std::move(name)), qclass_(qclass) {
  auto state = std::make_shared<State>();
  state->resolver = resolver_;
  try {
    worker_ = std::thread([state, name = name_, qclass] {
      std::exception_ptr error;
      try {
        state->resolver.SendQuery(name, qclass);
      } catch (...) {
        error = std::current_exception();
      }
      std::lock_guard<std::mutex> lock(state->mutex);
      state->error = error;
      state->done = true;
      state->done_cv.notify_all();
    });
    state_ = std::move(state);
  } catch (const std::system_error&) {
    // No worker to be had: the query runs when it is waited for.
  }
}

TDnsQueryJob::~TDnsQueryJob() {
  if (!worker_.joinable()) return;
  bool done = false;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    done = state_->done;
  }
  // A finished worker only has its own end left to run.
  if (done)
    worker_.join();
  else
    worker_.detach();
}

TIdDNSResolver& TDnsQueryJob::Wait() {
  if (ran_) return resolver_;
  ran_ = true;
  if (!state_) {
    resolver_.SendQuery(name_, qclass_);
    return resolver_;
  }
  // The worker's exchanges are bounded by their own limits; only an abort
  // request ends this wait before the worker does.
  const WaitEnd end = WaitSliced(Deadline::In(INT_MAX), [&](int sliceMs) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->done_cv.wait_for(lock, std::chrono::milliseconds(sliceMs),
                                    [&] { return state_->done; });
  });
  if (end != WaitEnd::Ready) return resolver_;  // as asked, without an answer
  std::lock_guard<std::mutex> lock(state_->mutex);
  resolver_ = state_->resolver;
  if (state_->error) std::rethrow_exception(state_->error);
  return resolver_;
}

// ---- Reading the answer ------------------------------------------------------------

std::vector<const TResultRecord*> AnswerRecords(const TQueryResult& result,
                                                const std::string& name, std::uint16_t type,
                                                std::uint16_t qclass) {
  // The names the chain passes through, starting at the name asked for.
  std::vector<std::string> owners{NameKey(name)};
  if (type != kTypeCNAME) {
    for (int link = 0; link < kMaxCnameLinks; ++link) {
      const TResultRecord* next = nullptr;
      for (const TResultRecord& rec : result) {
        if (rec.Section == TRecordSection::Answer && rec.TypeCode == kTypeCNAME &&
            rec.Class == qclass && NameKey(rec.Name) == owners.back()) {
          next = &rec;
          break;
        }
      }
      if (!next) break;
      std::string target = NameKey(next->HostName);
      if (std::find(owners.begin(), owners.end(), target) != owners.end()) break;  // a loop
      owners.push_back(std::move(target));
    }
  }
  std::vector<const TResultRecord*> out;
  for (const TResultRecord& rec : result) {
    if (rec.Section != TRecordSection::Answer || rec.TypeCode != type || rec.Class != qclass)
      continue;
    if (std::find(owners.begin(), owners.end(), NameKey(rec.Name)) != owners.end())
      out.push_back(&rec);
  }
  return out;
}

bool ReplyMatchesQuery(const unsigned char* reply, size_t size, const std::string& query) {
  if (query.size() < kHeaderSize) return false;
  if (size < kHeaderSize) Malformed("shorter than its header");
  const unsigned char* q = Bytes(query);
  const unsigned count = Get16(q + 4);
  if (Get16(reply + 4) != count) return false;
  size_t qp = kHeaderSize, rp = kHeaderSize;
  for (unsigned i = 0; i < count; ++i) {
    const std::string asked = DecodeDnsName(q, query.size(), qp);
    const std::string answered = DecodeDnsName(reply, size, rp);
    if (qp + 4 > query.size()) return false;
    if (rp + 4 > size) Malformed("question runs past the end of the message");
    // DNS names compare without regard to ASCII case; servers may even echo
    // a name in the case mix they received it in or another.
    if (!SameTextAscii(asked, answered) || std::memcmp(q + qp, reply + rp, 4) != 0) return false;
    qp += 4;
    rp += 4;
  }
  return true;
}

bool NextTcpMessage(std::string& stream, std::string& message) {
  if (stream.size() < 2) return false;
  const size_t length = Get16(Bytes(stream));
  if (stream.size() < 2 + length) return false;
  message.assign(stream, 2, length);
  stream.erase(0, 2 + length);
  return true;
}

std::vector<TMailExchanger> MailExchangers(const TQueryResult& answer) {
  std::vector<TMailExchanger> out;
  for (const TResultRecord& rec : answer) {
    const std::string exchange = Trim(rec.HostName);
    if (rec.Kind != TRecordKind::MX || rec.Preference >= 65535 || exchange.empty() || exchange == ".") continue;
    out.push_back({exchange, rec.Preference});
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const TMailExchanger& a, const TMailExchanger& b) { return a.Preference < b.Preference; });
  return out;
}

}  // namespace quovix
