// Reading an HTTP/1.1 response from an untrusted peer: status line, header
// lines and the body in its three framings, every length capped.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace quovix {

// Every failure of an HTTP exchange. The message is what the user sees; the
// tools look at its first 12 characters ("Socket Error" = not reachable).
class HttpError : public std::runtime_error {
 public:
  enum class Kind {
    Socket,          // "Socket Error # n\r\ntext"
    ConnectTimeout,  // "Connect timed out."
    ReadTimeout,     // "Read Timeout"
    Closed,          // "Connection Closed Gracefully."
    Status,          // final status not 2xx: the status line
    Tls,             // handshake or certificate verification failed
    Protocol,        // the peer broke the protocol (malformed or oversized)
    Aborted,         // the user asked the running work to stop
  };
  // How far the exchange had got when it failed: a failure before the
  // connection stood means the server was not reached at all.
  enum class Stage {
    None,      // not known (raised outside an exchange)
    Resolve,   // looking up the host name
    Connect,   // establishing the TCP connection (to the proxy, when one is set)
    Tunnel,    // asking the proxy for a tunnel
    Tls,       // the TLS handshake
    Request,   // sending the request
    Response,  // waiting for and reading the answer
  };
  HttpError(Kind kind, const std::string& message, int code = 0)
      : std::runtime_error(message), kind_(kind), code_(code) {}
  Kind kind() const { return kind_; }
  // The system error number (Socket) or the status code (Status).
  int code() const { return code_; }
  Stage stage() const { return stage_; }
  void SetStage(Stage s) { stage_ = s; }
  // A connection to the server (or the proxy) stood when it failed.
  bool Connected() const { return stage_ > Stage::Connect; }

  static HttpError SocketError(int code, const std::string& text);
  static HttpError Malformed(const std::string& what);
  static HttpError Aborted();

 private:
  Kind kind_;
  int code_;
  Stage stage_ = Stage::None;
};

// Where the response bytes come from: a socket, a TLS session, memory.
class IHttpSource {
 public:
  virtual ~IHttpSource() = default;
  // Up to n bytes, waiting as long as the source's read limit allows;
  // 0 when the peer has closed. Raises HttpError on timeout or failure.
  virtual size_t Read(char* buf, size_t n) = 0;
};

// Caps that keep a hostile or broken server from exhausting memory.
struct HttpLimits {
  size_t MaxLineLength = 8192;          // status, header, chunk-size lines
  int MaxHeaderLines = 255;             // per header block (and per trailer)
  size_t MaxBodyBytes = 16u << 20;      // body of a GET
  int MaxInterimResponses = 10;         // 1xx responses before the real one
};

// A buffered reader over a source.
class HttpReader {
 public:
  explicit HttpReader(IHttpSource& src) : src_(src) {}
  // One line without its line end (LF or CR LF). Raises Closed when the peer
  // closes before the line ends, Protocol when it is longer than maxLength.
  std::string ReadLine(size_t maxLength);
  // Exactly n bytes appended to out (Closed when the peer closes before).
  void ReadExact(std::string& out, size_t n);
  // Everything until the peer closes, appended to out; Protocol when out
  // would grow beyond cap.
  void ReadToClose(std::string& out, size_t cap);
  // Bytes read from the source but not yet consumed.
  size_t Buffered() const { return buf_.size() - pos_; }

 private:
  bool Fill();  // false when the peer has closed
  IHttpSource& src_;
  std::string buf_;
  size_t pos_ = 0;
};

// Status line and header lines of one response.
struct HttpResponseHead {
  int ResponseCode = 0;
  std::string ResponseText;              // the whole status line
  std::vector<std::string> RawHeaders;   // "Name: value", in order
  bool Complete = false;                 // the block ended with its empty line

  // Value of the first header with that name (any case); empty when absent.
  std::string Value(const std::string& name) const;
  bool Has(const std::string& name) const;
  std::vector<std::string> Values(const std::string& name) const;
};

// Reads the status line and header lines, skipping interim 1xx responses.
// The head is filled as far as it was read when an error is raised.
void ReadResponseHead(HttpReader& in, HttpResponseHead& head, const HttpLimits& limits);

// Parses "HTTP/x.y nnn reason"; false when the line is not a status line.
bool ParseStatusLine(const std::string& line, int& code);

// Whether a response to this request has a body at all.
bool ResponseHasBody(const std::string& method, int code);

// Reads the body framed by chunked coding, Content-Length or the close of
// the connection (in that order of precedence).
std::string ReadResponseBody(HttpReader& in, const HttpResponseHead& head,
                             const HttpLimits& limits);

// A date in the RFC 1123, RFC 850 or asctime form (zone offsets honoured) as
// a UTC date-time value; 0 when it is none of them.
double ParseHttpDateUtc(const std::string& text);
// The same converted to the local time of this machine; 0 when unparseable.
double ParseHttpDate(const std::string& text);

}  // namespace quovix
