#include "clients/SmtpClient.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>

#include "common/Pump.h"
#include "common/fMain.h"

namespace quovix {
namespace {

long long NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Waits for the socket in slices, running the message pump between them.
// True when ready, false on time-out.
bool WaitReady(int fd, short events, long long deadline) {
  for (;;) {
    long long left = deadline - NowMs();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    int r = poll(&p, 1, static_cast<int>(left < kWaitSliceMs ? left : kWaitSliceMs));
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
    ProcessPendingMessages();
  }
}

// Length of an enhanced status code such as "2.1.0 " at the start of a text.
size_t EnhancedCodeLength(const std::string& s) {
  if (s.empty() || (s[0] != '2' && s[0] != '4' && s[0] != '5')) return 0;
  size_t i = 1;
  for (int part = 0; part < 2; ++part) {
    if (i >= s.size() || s[i] != '.') return 0;
    ++i;
    size_t digits = 0;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])) && digits < 3) {
      ++i;
      ++digits;
    }
    if (digits == 0) return 0;
  }
  if (i >= s.size() || s[i] != ' ') return 0;
  return i + 1;
}

}  // namespace

std::string SmtpReply::Text() const {
  std::string text;
  for (size_t i = 0; i < Lines.size(); ++i) {
    if (i) text += "\r\n";
    text += Lines[i];
  }
  return text;
}

std::string SmtpReply::Display() const { return Trim(CodeText + " " + Text()); }

TIdSMTP::~TIdSMTP() { Drop(); }

void TIdSMTP::Drop() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  buffer_.clear();
}

bool TIdSMTP::Connect() {
  Drop();
  LastReply = {};
  const long long deadline = NowMs() + ConnectTimeout;
  std::string address = IsHostName(Host) ? ResolveHostToIp(Host, ConnectTimeout) : Host;
  if (address.empty()) return false;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* res = nullptr;
  if (getaddrinfo(address.c_str(), std::to_string(Port).c_str(), &hints, &res) != 0 || !res)
    return false;
  int fd = socket(res->ai_family, res->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, res->ai_protocol);
  bool ok = fd >= 0;
  if (ok && connect(fd, res->ai_addr, res->ai_addrlen) != 0) {
    ok = errno == EINPROGRESS && WaitReady(fd, POLLOUT, deadline);
    if (ok) {
      int err = 0;
      socklen_t len = sizeof err;
      ok = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
  }
  freeaddrinfo(res);
  if (!ok) {
    if (fd >= 0) close(fd);
    return false;
  }
  fd_ = fd;
  bool greeted = ReadReply() && LastReply.Code == 220;
  if (greeted) {
    std::string name = HeloName;
    if (name.empty()) {
      char buf[256] = {};
      gethostname(buf, sizeof buf - 1);
      name = buf;
    }
    greeted = (UseEhlo && SendCmd("EHLO " + name, 250)) ||
              (Connected() && SendCmd("HELO " + name, 250));
  }
  if (!greeted) {
    SmtpReply failed = LastReply;
    Disconnect();
    LastReply = failed;  // the caller shows the reply that failed, not QUIT's
    return false;
  }
  return true;
}

bool TIdSMTP::SendCmd(const std::string& line, int expected) {
  LastReply = {};
  if (!Connected()) return false;
  if (!SendLine(line) || !ReadReply()) {
    Drop();
    return false;
  }
  return LastReply.Code == expected;
}

void TIdSMTP::Disconnect() {
  if (Connected() && SendLine("QUIT")) ReadReply();
  Drop();
}

bool TIdSMTP::SendLine(const std::string& line) {
  std::string data = line + "\r\n";
  const long long deadline = NowMs() + ReadTimeout;
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!WaitReady(fd_, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

bool TIdSMTP::ReadLine(std::string& line, long long deadline) {
  for (;;) {
    size_t lf = buffer_.find('\n');
    if (lf != std::string::npos) {
      if (lf > kMaxLineLength) return false;
      line = buffer_.substr(0, lf);
      buffer_.erase(0, lf + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return true;
    }
    if (buffer_.size() > kMaxLineLength) return false;  // a line that never ends
    if (!WaitReady(fd_, POLLIN, deadline)) return false;
    char buf[4096];
    ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) return false;
    buffer_.append(buf, static_cast<size_t>(n));
  }
}

bool TIdSMTP::ReadReply() {
  LastReply = {};
  const long long deadline = NowMs() + ReadTimeout;
  SmtpReply r;
  for (size_t count = 0;; ++count) {
    if (count >= kMaxReplyLines) return false;
    std::string line;
    if (!ReadLine(line, deadline)) return false;
    if (count == 0) {
      r.CodeText = line.substr(0, 3);
      r.Code = StrToIntDef(r.CodeText, 0);
      if (r.CodeText.size() != 3 || r.Code < 100 || r.Code > 599) return false;
    }
    std::string text = line.size() > 4 ? line.substr(4) : std::string();
    text.erase(0, EnhancedCodeLength(text));
    r.Lines.push_back(text);
    // "250-…" continues the reply; "250 …" (or a bare code) ends it.
    if (line.size() < 4 || line[3] != '-') break;
  }
  LastReply = r;
  return true;
}

}  // namespace quovix
