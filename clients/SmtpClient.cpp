#include "clients/SmtpClient.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include "common/Deadline.h"
#include "common/Pump.h"
#include "common/fMain.h"
#include "platform/Connect.h"
#include "platform/Resolver.h"
#include "platform/SockAddr.h"

namespace quovix {
namespace {

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// The three-digit code at the start of a reply line, 0 when there is none.
int ReplyCode(const std::string& line) {
  if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) return 0;
  if (line.size() > 3 && line[3] != ' ' && line[3] != '-') return 0;
  const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  return code >= 100 && code <= 599 ? code : 0;
}

// "250-…" continues a reply; "250 …" or a bare code ends it.
bool EndsReply(const std::string& line) { return line.size() < 4 || line[3] != '-'; }

}  // namespace

size_t EnhancedStatusCodeLength(const std::string& s) {
  if (s.empty() || (s[0] != '2' && s[0] != '4' && s[0] != '5')) return 0;
  size_t i = 1;
  for (int part = 0; part < 2; ++part) {
    if (i >= s.size() || s[i] != '.') return 0;
    ++i;
    size_t digits = 0;
    while (i < s.size() && IsDigit(s[i]) && digits < 3) {
      ++i;
      ++digits;
    }
    if (digits == 0) return 0;
  }
  if (i >= s.size() || s[i] != ' ') return 0;
  return i + 1;
}

bool ParseSmtpReply(const std::vector<std::string>& lines, SmtpReply& reply) {
  reply = {};
  if (lines.empty() || ReplyCode(lines.front()) == 0) return false;
  reply.CodeText = lines.front().substr(0, 3);
  reply.Code = ReplyCode(lines.front());
  for (const std::string& line : lines) {
    reply.Sent.push_back(line);
    std::string text = line.size() > 4 ? line.substr(4) : std::string();
    text.erase(0, EnhancedStatusCodeLength(text));
    reply.Lines.push_back(std::move(text));
  }
  return true;
}

TSmtpTake TakeSmtpReply(const std::string& data, SmtpReply& reply, size_t& consumed) {
  std::vector<std::string> lines;
  size_t pos = 0;
  for (;;) {
    const size_t lf = data.find('\n', pos);
    if (lf == std::string::npos) {
      // A first line that cannot start a reply fails now, not at the time-out.
      if (lines.empty() && data.size() - pos >= 4 && ReplyCode(data.substr(pos, 4)) == 0)
        return TSmtpTake::Bad;
      return data.size() - pos > kSmtpMaxLineLength ? TSmtpTake::Bad : TSmtpTake::Incomplete;
    }
    if (lf - pos > kSmtpMaxLineLength || lines.size() >= kSmtpMaxReplyLines) return TSmtpTake::Bad;
    std::string line = data.substr(pos, lf - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (lines.empty() && ReplyCode(line) == 0) return TSmtpTake::Bad;
    pos = lf + 1;
    const bool last = EndsReply(line);
    lines.push_back(std::move(line));
    if (last) break;
  }
  if (!ParseSmtpReply(lines, reply)) return TSmtpTake::Bad;
  consumed = pos;
  return TSmtpTake::Complete;
}

namespace {
std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) text += "\r\n";
    text += lines[i];
  }
  return text;
}
}  // namespace

std::string SmtpReply::Text() const { return JoinLines(Lines); }

std::string SmtpReply::AsSent() const { return JoinLines(Sent); }

std::string SmtpReply::Display() const { return Trim(CodeText + " " + Text()); }

TIdSMTP::~TIdSMTP() { Drop(); }

std::string TIdSMTP::HeloArgument() const {
  std::string name = Trim(HeloName);
  if (name.empty()) name = Trim(platform::Resolver()->SystemHostName());
  if (name.empty()) name = "localhost";
  if (!IsHostName(name)) {
    // An address goes out as the address literal RFC 5321 asks for:
    // "[a.b.c.d]", or "[IPv6:…]" in its RFC 5952 form (without a zone,
    // which means nothing to the server). One of the other family than the
    // connection (the outside address of an IPv4 NAT over an IPv6
    // connection, say) would name another host than the one the server
    // sees: the connection's local address is the honest literal then.
    IpAddress a = IpAddress::Parse(name);
    if (!local_.Empty() && a.Family() != local_.Family()) a = local_;
    if (a.IsV6())
      name = "[IPv6:" + IpAddress::FromV6(a.Bytes()).ToString() + "]";
    else if (a.IsV4())
      name = "[" + a.ToString() + "]";
  }
  return name;
}

bool SmtpOffers(const SmtpReply& ehlo, const std::string& keyword) {
  // The first line is the server's greeting name, not an extension.
  for (size_t i = 1; i < ehlo.Lines.size(); ++i) {
    const std::string& line = ehlo.Lines[i];
    const std::string word = line.substr(0, line.find(' '));
    if (word.size() == keyword.size() &&
        std::equal(word.begin(), word.end(), keyword.begin(),
                   [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; }))
      return true;
  }
  return false;
}

void TIdSMTP::Drop() {
  tls_.reset();  // freed without close_notify: this end says nothing more
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  buffer_.clear();
}

bool TIdSMTP::Connected() const {
  if (fd_ < 0) return false;
  if (tls_) {
    // Inside TLS the server's end is its close_notify, which may come well
    // before it lets the connection go, and may already sit in the
    // session's buffer: a peek reads it without taking data.
    char c;
    ERR_clear_error();
    const int n = SSL_peek(tls_->Native(), &c, 1);
    if (n > 0) return true;
    const int e = SSL_get_error(tls_->Native(), n);
    ERR_clear_error();
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) return true;
    serverClosed_ = true;
    return false;
  }
  pollfd p{fd_, static_cast<short>(POLLIN | POLLRDHUP), 0};
  if (poll(&p, 1, 0) <= 0) return true;
  // Readable: either data the server sent unasked, or its end of the stream.
  char c;
  if (!(p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) &&
      recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT) != 0)
    return true;
  serverClosed_ = true;
  return false;
}

bool TIdSMTP::WaitReady(int fd, short events, const Deadline& deadline) {
  const WaitEnd end = WaitForSocket(fd, events, deadline);
  if (end == WaitEnd::Aborted) aborted_ = true;
  return end == WaitEnd::Ready;
}

bool TIdSMTP::Connect() {
  Drop();
  LastReply = {};
  received_ = {};
  Opening.clear();
  peer_ = local_ = {};
  serverClosed_ = false;
  aborted_ = false;
  TlsState = StartTls || ImplicitTls ? TSmtpTls::NotOffered : TSmtpTls::Off;
  Tls = {};
  TlsError.clear();
  // One limit for the whole exchange, a fallback connection included; the
  // name look-up and the connection share the first part of it.
  exchangeBy_ = Deadline::In(std::max(ConnectTimeout, ReadTimeout));
  return Open(StartTls && !ImplicitTls);
}

bool TIdSMTP::Handshake() {
  TlsOptions options;
  options.ServerName = Host;
  tls_ = std::make_unique<TlsSession>();
  const TlsStatus st = tls_->Handshake(fd_, options, exchangeBy_.Within(ReadTimeout));
  Tls = tls_->Report();
  Opening.push_back({SmtpStep::TKind::Tls, {}, {}});
  if (st == TlsStatus::Ok) {
    TlsState = TSmtpTls::Done;
    return true;
  }
  if (st == TlsStatus::Aborted) aborted_ = true;
  TlsError = st == TlsStatus::TimedOut ? std::string("timed out")
             : st == TlsStatus::Closed ? std::string("connection closed by the server")
             : tls_->Error().empty()   ? std::string("handshake failed")
                                       : tls_->Error();
  TlsState = TSmtpTls::Failed;
  tls_.reset();
  return false;
}

bool TIdSMTP::Open(bool startTls) {
  const Deadline connectBy = exchangeBy_.Within(ConnectTimeout);
  std::vector<IpAddress> addresses;
  if (!IsHostName(Host)) {
    if (const IpAddress literal = IpAddress::Parse(Host); !literal.Empty())
      addresses.push_back(literal);
  } else {
    // Both families as every client reaches a name: the greeting follows
    // the family of the connection that was made (HeloArgument).
    addresses = ResolveHostAddresses(Host, connectBy.LeftMs());
  }
  if (addresses.empty()) {
    aborted_ = AbortRequested();
    return false;
  }
  if (Port < 1 || Port > 65535) return false;
  const platform::Reach reach =
      platform::ConnectTcp(addresses, static_cast<std::uint16_t>(Port), connectBy);
  if (reach.End == platform::ReachEnd::Aborted) aborted_ = true;
  if (reach.End != platform::ReachEnd::Reached) return false;
  fd_ = reach.Fd;
  peer_ = reach.Address;
  sockaddr_storage own{};
  socklen_t ownLength = sizeof own;
  if (getsockname(fd_, reinterpret_cast<sockaddr*>(&own), &ownLength) == 0)
    local_ = platform::FromSockAddr(reinterpret_cast<sockaddr*>(&own), ownLength);
  if (ImplicitTls && !Handshake()) {
    // Nothing can be said in plain text on such a port.
    Drop();
    return false;
  }
  bool greeted = ReadReply(exchangeBy_.Within(ReadTimeout)) && LastReply.Code == 220;
  Opening.push_back({SmtpStep::TKind::Reply, "", LastReply});
  auto greet = [this](const std::string& command) {
    const bool accepted = SendCmd(command, 250);
    Opening.push_back({SmtpStep::TKind::Reply, command, LastReply});
    return accepted;
  };
  const std::string name = greeted ? HeloArgument() : std::string();
  bool extended = false;
  if (greeted) {
    // HELO only after a reply to EHLO: a time-out has dropped the connection.
    extended = UseEhlo && greet("EHLO " + name);
    greeted = extended || (fd_ >= 0 && greet("HELO " + name));
  }
  if (greeted && startTls && extended && SmtpOffers(received_, "STARTTLS")) {
    const bool ready = SendCmd("STARTTLS", 220);
    Opening.push_back({SmtpStep::TKind::Reply, "STARTTLS", LastReply});
    if (!ready && fd_ >= 0 && LastReply.Code != 0) {
      // Refused: the session goes on in plain text, as it stands.
      TlsState = TSmtpTls::Refused;
    } else if (!ready) {
      greeted = false;
    } else {
      // Whatever the server sent behind its 220 came before the handshake
      // and must not pass for an answer inside TLS.
      buffer_.clear();
      if (!Handshake()) {
        if (aborted_) {
          Drop();
          return false;
        }
        // The connection is in no state to go on; a new plain one, as a
        // sending server would fall back.
        Drop();
        Opening.push_back({SmtpStep::TKind::Reconnect, {}, {}});
        return Open(false);
      }
      greeted = greet("EHLO " + name);
    }
  }
  if (!greeted) {
    const SmtpReply failed = received_;
    Disconnect();
    LastReply = failed;  // the caller shows the reply that failed, not QUIT's
    return false;
  }
  return true;
}

bool TIdSMTP::SendCmd(const std::string& line, int expected) {
  LastReply = {};
  if (line.find_first_of(std::string("\r\n\0", 3)) != std::string::npos) return false;
  if (!Connected()) {
    Drop();
    return false;
  }
  // One limit for the command and its whole reply, within the exchange's.
  const Deadline deadline = exchangeBy_.Within(ReadTimeout);
  if (!SendLine(line, deadline) || !ReadReply(deadline)) {
    Drop();
    return false;
  }
  return LastReply.Code == expected;
}

void TIdSMTP::Aside(const std::function<void()>& work) {
  const auto start = Deadline::Clock::now();
  work();
  exchangeBy_ = Deadline::At(exchangeBy_.When() + (Deadline::Clock::now() - start));
}

void TIdSMTP::Disconnect() {
  // A short grace of its own: this QUIT follows a failure or the end of the
  // dialogue, when the exchange's limit may be spent already.
  const Deadline deadline = Deadline::In(std::min(kSmtpQuitGraceMs, std::max(ReadTimeout, 1)));
  if (!aborted_ && Connected() && SendLine("QUIT", deadline)) ReadReply(deadline);
  if (tls_) tls_->Close();
  Drop();
}

bool TIdSMTP::SendLine(const std::string& line, const Deadline& deadline) {
  std::string data = line + "\r\n";
  if (tls_) {
    const TlsStatus st = tls_->Write(data, deadline);
    if (st == TlsStatus::Aborted) aborted_ = true;
    if (st == TlsStatus::Closed) serverClosed_ = true;
    return st == TlsStatus::Ok;
  }
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!WaitReady(fd_, POLLOUT, deadline)) return false;
    } else {
      serverClosed_ = errno == EPIPE || errno == ECONNRESET;
      return false;
    }
  }
  return true;
}

bool TIdSMTP::ReadReply(const Deadline& deadline) {
  LastReply = {};
  // One deadline for the whole reply: a server trickling continuation
  // lines cannot stretch the wait.
  for (;;) {
    size_t used = 0;
    switch (TakeSmtpReply(buffer_, LastReply, used)) {
      case TSmtpTake::Complete:
        buffer_.erase(0, used);
        received_ = LastReply;
        return true;
      case TSmtpTake::Bad:
        LastReply = {};
        return false;
      case TSmtpTake::Incomplete:
        break;
    }
    char buf[4096];
    if (tls_) {
      size_t got = 0;
      const TlsStatus st = tls_->Read(buf, sizeof buf, got, deadline);
      if (st == TlsStatus::Aborted) aborted_ = true;
      if (st != TlsStatus::Ok || got == 0) {
        serverClosed_ = st == TlsStatus::Closed;
        return false;
      }
      buffer_.append(buf, got);
      continue;
    }
    if (!WaitReady(fd_, POLLIN, deadline)) return false;
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) {
      serverClosed_ = n == 0 || errno == ECONNRESET;
      return false;
    }
    buffer_.append(buf, static_cast<size_t>(n));
  }
}

}  // namespace quovix
