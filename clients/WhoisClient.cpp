#include "clients/WhoisClient.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/fMain.h"
#include "platform/Resolver.h"

namespace quovix {

std::string WhoisInterNicServer = "whois.internic.net";

namespace {

using Clock = std::chrono::steady_clock;

// State of one exchange, shared by the waiting caller and its worker. The
// worker owns everything it touches through this object, so an abandoned
// worker can never reach a later exchange's result.
struct Exchange {
  std::mutex m;
  std::condition_variable cv;
  bool done = false;
  bool abandoned = false;
  bool ok = false;
  bool truncated = false;
  int fd = -1;
  std::string answer;
};

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

// Connects to host:port before the deadline; -1 on failure. The socket is
// published in ex.fd so the caller can shut it down when it gives up.
int ConnectBefore(Exchange& ex, const std::string& address, int port, Clock::time_point deadline) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST;
  addrinfo* res = nullptr;
  if (address.empty() ||
      getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &res) != 0 || !res)
    return -1;
  int result = -1;
  for (addrinfo* ai = res; ai && result < 0 && RemainingMs(deadline) > 0; ai = ai->ai_next) {
    int fd = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    {
      std::lock_guard<std::mutex> lk(ex.m);
      if (ex.abandoned) {
        close(fd);
        break;
      }
      ex.fd = fd;
    }
    bool connected = connect(fd, ai->ai_addr, ai->ai_addrlen) == 0;
    if (!connected && errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, RemainingMs(deadline)) == 1) {
        int err = 0;
        socklen_t len = sizeof err;
        connected = getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
      }
    }
    if (connected) {
      result = fd;
    } else {
      std::lock_guard<std::mutex> lk(ex.m);
      ex.fd = -1;
      close(fd);
    }
  }
  freeaddrinfo(res);
  return result;
}

bool SendAll(int fd, const std::string& data, Clock::time_point deadline) {
  size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, RemainingMs(deadline)) != 1) return false;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return false;
  }
  return true;
}

void Worker(std::shared_ptr<Exchange> ex, std::shared_ptr<platform::IResolver> resolver,
            std::string host, int port, std::string line, Clock::time_point deadline) {
  std::string answer;
  bool ok = false, truncated = false;
  // The server's name is looked up here, inside the exchange's time limit.
  const std::string address =
      IsHostName(host) ? resolver->HostToIp(host) : NumberToIp(IpToNumber(host));
  int fd = ConnectBefore(*ex, address, port, deadline);
  if (fd >= 0 && SendAll(fd, line, deadline)) {
    char buf[16384];
    for (;;) {
      int left = RemainingMs(deadline);
      if (left <= 0) break;
      pollfd p{fd, POLLIN, 0};
      int r = poll(&p, 1, left);
      if (r < 0 && errno == EINTR) continue;
      if (r != 1) break;
      ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n < 0) break;  // reset or shut down by the caller
      if (n == 0) {
        ok = true;  // the server closed: the answer is complete
        break;
      }
      size_t room = kWhoisMaxAnswer - answer.size();
      if (static_cast<size_t>(n) > room) {
        answer.append(buf, room);
        truncated = true;
        ok = true;  // keep what fits; the rest is not read
        break;
      }
      answer.append(buf, static_cast<size_t>(n));
    }
  }
  std::lock_guard<std::mutex> lk(ex->m);
  if (ex->fd >= 0) {
    close(ex->fd);
    ex->fd = -1;
  }
  ex->ok = ok;
  ex->truncated = truncated;
  ex->answer = std::move(answer);
  ex->done = true;
  ex->cv.notify_all();
}

}  // namespace

std::string WhoisNormaliseLineEnds(const std::string& answer) {
  if (answer.find('\n') == std::string::npos) return ReplaceAll(answer, "\r", "\r\n");
  if (answer.find('\r') == std::string::npos) return ReplaceAll(answer, "\n", "\r\n");
  return answer;
}

std::string WhoisCleanFormat(const std::string& answer) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    size_t p = answer.find("\r\n", start);
    lines.push_back(answer.substr(start, p == std::string::npos ? std::string::npos : p - start));
    if (p == std::string::npos) break;
    start = p + 2;
  }
  std::vector<std::string> kept;  // collected from the last line up
  bool belowBlank = true;
  for (size_t i = lines.size(); i-- > 0;) {
    std::string l = TrimRight(lines[i]);
    if (!l.empty() && (l[0] == '%' || l[0] == '#' || l[0] == ';')) continue;
    if (!l.empty()) {
      belowBlank = false;
      kept.push_back(std::move(l));
    } else {
      if (!belowBlank) kept.push_back(std::string());
      belowBlank = true;
    }
  }
  std::string out;
  for (size_t i = kept.size(); i-- > 0;) out += kept[i] + "\r\n";
  return Trim(out);
}

std::string WhoisQuery(const std::string& query, const std::string& server, int limitMs,
                       bool format, int port, WhoisExchangeInfo* info) {
  if (info) *info = {};
  if (server.empty() || limitMs <= 0 || port <= 0 || port > 65535) return {};
  auto ex = std::make_shared<Exchange>();
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  try {
    std::thread(Worker, ex, platform::Resolver(), server, port, query + "\r\n", deadline).detach();
  } catch (...) {
    return {};
  }
  std::string answer;
  bool ok = false, truncated = false;
  {
    std::unique_lock<std::mutex> lk(ex->m);
    ex->cv.wait_until(lk, deadline + std::chrono::milliseconds(50), [&] { return ex->done; });
    if (ex->done) {
      ok = ex->ok;
      truncated = ex->truncated;
      answer = std::move(ex->answer);
    } else {
      // Too late: fence the worker off and end its connection. It closes
      // the socket itself when it notices.
      ex->abandoned = true;
      if (ex->fd >= 0) shutdown(ex->fd, SHUT_RDWR);
    }
  }
  if (!ok) return {};
  if (info) info->Truncated = truncated;
  answer = WhoisNormaliseLineEnds(answer);
  if (format) answer = WhoisCleanFormat(answer);
  return answer;
}

}  // namespace quovix
