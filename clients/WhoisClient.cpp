#include "clients/WhoisClient.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "common/Deadline.h"
#include "common/fMain.h"
#include "platform/Connect.h"
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
  bool truncated = false;
  TWhoisEnd end = TWhoisEnd::TimeLimit;
  int fd = -1;
  std::string answer;  // grows as the answer arrives
};

int RemainingMs(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left < 0 ? 0 : static_cast<int>(left);
}

TWhoisEnd EndForErrno(int err) {
  return err == ECONNREFUSED ? TWhoisEnd::Refused : TWhoisEnd::Unreachable;
}

// Connects to one of the server's addresses before the deadline; -1 on
// failure, with *why set. The socket is published in ex.fd so the caller can
// shut it down when it gives up; a caller that gave up during the connection
// ends it too.
int ConnectBefore(Exchange& ex, const std::vector<IpAddress>& addresses, int port,
                  Clock::time_point deadline, TWhoisEnd* why) {
  *why = TWhoisEnd::NotFound;
  if (addresses.empty()) return -1;
  const platform::Reach reach =
      platform::ConnectTcp(addresses, static_cast<std::uint16_t>(port), Deadline::At(deadline),
                           [&ex] {
                             std::lock_guard<std::mutex> lk(ex.m);
                             return ex.abandoned;
                           });
  switch (reach.End) {
    case platform::ReachEnd::Reached:
      break;
    case platform::ReachEnd::Failed:
      *why = EndForErrno(reach.Error);
      return -1;
    case platform::ReachEnd::NoAddress:
      return -1;
    case platform::ReachEnd::TimedOut:
    case platform::ReachEnd::Aborted:
      *why = TWhoisEnd::TimeLimit;
      return -1;
  }
  std::lock_guard<std::mutex> lk(ex.m);
  if (ex.abandoned) {
    close(reach.Fd);
    *why = TWhoisEnd::TimeLimit;
    return -1;
  }
  ex.fd = reach.Fd;
  return reach.Fd;
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

// Ends the exchange: how it ended, for a caller that may have given up.
void Finish(Exchange& ex, TWhoisEnd end, bool truncated) {
  std::lock_guard<std::mutex> lk(ex.m);
  if (ex.fd >= 0) {
    close(ex.fd);
    ex.fd = -1;
  }
  ex.end = end;
  ex.truncated = truncated;
  ex.done = true;
  ex.cv.notify_all();
}

void Worker(std::shared_ptr<Exchange> ex, std::shared_ptr<platform::IResolver> resolver,
            std::string host, int port, std::string line, Clock::time_point deadline) {
  // The server's name is looked up here, inside the exchange's time limit:
  // every address of either family, tried in the resolver's order. A literal
  // of either family ("[2001:db8::43]" too) is the server's one address.
  std::vector<IpAddress> addresses;
  if (IsHostName(host)) {
    addresses = resolver->Addresses(host);
  } else if (const IpAddress literal = IpAddress::Parse(host); !literal.Empty()) {
    addresses.push_back(literal);
  }
  TWhoisEnd why = TWhoisEnd::TimeLimit;
  int fd = ConnectBefore(*ex, addresses, port, deadline, &why);
  if (fd < 0) return Finish(*ex, why, false);
  if (!SendAll(fd, line, deadline))
    return Finish(*ex, RemainingMs(deadline) > 0 ? TWhoisEnd::Closed : TWhoisEnd::TimeLimit, false);
  char buf[16384];
  size_t received = 0;
  for (;;) {
    int left = RemainingMs(deadline);
    if (left <= 0) return Finish(*ex, TWhoisEnd::TimeLimit, false);
    pollfd p{fd, POLLIN, 0};
    int r = poll(&p, 1, left);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0) return Finish(*ex, TWhoisEnd::TimeLimit, false);
    if (r < 0) return Finish(*ex, TWhoisEnd::Unreachable, false);
    ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    // Closed, or reset after the answer (or shut down by the caller).
    if (n <= 0) return Finish(*ex, received > 0 ? TWhoisEnd::Complete : TWhoisEnd::Closed, false);
    const size_t room = kWhoisMaxAnswer - received;
    const size_t take = std::min(room, static_cast<size_t>(n));
    {
      std::lock_guard<std::mutex> lk(ex->m);
      if (ex->abandoned) return;
      ex->answer.append(buf, take);
    }
    received += take;
    // Keep what fits; the rest is not read.
    if (take < static_cast<size_t>(n)) return Finish(*ex, TWhoisEnd::Complete, true);
  }
}

}  // namespace

std::string WhoisNormaliseLineEnds(const std::string& answer) {
  // One kind of line end only (CR alone or LF alone) becomes CR LF; an
  // answer with both kinds is left as it is. One pass over the answer.
  const bool hasLf = answer.find('\n') != std::string::npos;
  const bool hasCr = answer.find('\r') != std::string::npos;
  if (hasLf == hasCr) return answer;
  const char end = hasLf ? '\n' : '\r';
  std::string out;
  out.reserve(answer.size() + answer.size() / 8);
  for (char c : answer) {
    if (c == end)
      out += "\r\n";
    else
      out += c;
  }
  return out;
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
  WhoisExchangeInfo local;
  WhoisExchangeInfo& result = info ? *info : local;
  result = {};
  result.End = TWhoisEnd::NotFound;
  if (server.empty() || limitMs <= 0 || port <= 0 || port > 65535) return {};
  auto ex = std::make_shared<Exchange>();
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  try {
    std::thread(Worker, ex, platform::Resolver(), server, port, query + "\r\n", deadline).detach();
  } catch (...) {
    result.End = TWhoisEnd::Unreachable;
    return {};
  }
  // The worker ends at the deadline itself; the grace lets its last read
  // arrive. The window keeps painting, and an abort ends the wait.
  const WaitEnd waited =
      WaitSliced(Deadline::At(deadline + std::chrono::milliseconds(50)), [&](int sliceMs) {
        std::unique_lock<std::mutex> lk(ex->m);
        return ex->cv.wait_for(lk, std::chrono::milliseconds(sliceMs), [&] { return ex->done; });
      });
  std::string answer;
  {
    std::lock_guard<std::mutex> lk(ex->m);
    answer = std::move(ex->answer);
    if (ex->done) {
      result.End = ex->end;
      result.Truncated = ex->truncated;
    } else {
      // Too late (a look-up that hangs) or aborted: fence the worker off and
      // end its connection. It closes the socket itself when it notices.
      result.End = waited == WaitEnd::Aborted ? TWhoisEnd::Aborted : TWhoisEnd::TimeLimit;
      ex->abandoned = true;
      if (ex->fd >= 0) shutdown(ex->fd, SHUT_RDWR);
    }
  }
  if (result.End == TWhoisEnd::Aborted) return {};
  answer = WhoisNormaliseLineEnds(answer);
  // Cut before the cleaning, which holds every line at once.
  size_t at = 0;
  for (size_t lines = 0; at != std::string::npos && lines < kWhoisMaxLines; ++lines) {
    at = answer.find('\n', at);
    if (at != std::string::npos) ++at;
  }
  if (at != std::string::npos && at < answer.size()) {
    answer.resize(at);
    result.LinesCut = true;
  }
  if (format) answer = WhoisCleanFormat(answer);
  return answer;
}

}  // namespace quovix
