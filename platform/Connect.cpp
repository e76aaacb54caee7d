#include "platform/Connect.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/SockAddr.h"

namespace quovix::platform {
namespace {

constexpr int kAttemptDelayMs = 250;
constexpr int kMinAttemptDelayMs = 10;
// The largest datagram there is; a reply is read whole.
constexpr std::size_t kMaxDatagram = 65535;

enum class Step { Pending, Won, Failed };

struct Running {
  std::size_t attempt;
  int fd;
};

// The schedule both kinds of exchange share: attempts start in order, the
// next when the delay has passed or at once when every running one has
// failed; all running sockets are watched together. start opens attempt i's
// socket (fd) and returns 0, or the errno of a failure at once; check reads
// what a socket reports and says how the attempt stands.
Reach Staggered(const std::vector<IpAddress>& order, const Deadline& deadline, short events,
                const std::function<int(std::size_t, int& fd)>& start,
                const std::function<Step(std::size_t, int fd, int& err, Reach& won)>& check,
                const std::function<bool()>& stop) {
  Reach out;
  if (order.empty()) return out;
  std::vector<Running> running;
  auto closeAll = [&running] {
    for (const Running& r : running) ::close(r.fd);
    running.clear();
  };
  std::size_t next = 0;
  Deadline nextStart = Deadline::In(0);
  for (;;) {
    while (next < order.size() && (running.empty() || nextStart.Passed()) && !deadline.Passed()) {
      const std::size_t i = next++;
      int fd = -1;
      if (const int err = start(i, fd); err != 0) {
        if (fd >= 0) ::close(fd);
        out.Error = err;
        continue;
      }
      running.push_back({i, fd});
      nextStart = Deadline::In(AttemptDelayMs(deadline.LeftMs(), order.size() - next));
    }
    if (running.empty()) {
      out.End = next >= order.size() && !deadline.Passed() ? ReachEnd::Failed : ReachEnd::TimedOut;
      return out;
    }
    const Deadline wake = next < order.size() ? deadline.Within(nextStart.LeftMs()) : deadline;
    std::vector<pollfd> polled;
    bool stopped = false;
    const WaitEnd end = WaitSliced(wake, [&](int sliceMs) {
      if (stop && stop()) return stopped = true;
      polled.clear();
      for (const Running& r : running) polled.push_back({r.fd, events, 0});
      const int n = ::poll(polled.data(), polled.size(), sliceMs);
      return n > 0 || (n < 0 && errno != EINTR);
    });
    if (stopped || end == WaitEnd::Aborted) {
      closeAll();
      out.End = ReachEnd::Aborted;
      return out;
    }
    if (end == WaitEnd::TimedOut) {
      if (!deadline.Passed()) continue;  // the next attempt is due
      closeAll();
      out.End = ReachEnd::TimedOut;
      return out;
    }
    bool anyFailed = false;
    for (std::size_t k = polled.size(); k-- > 0;) {
      if (polled[k].revents == 0) continue;
      const Running r = running[k];
      int err = 0;
      switch (check(r.attempt, r.fd, err, out)) {
        case Step::Pending:
          break;
        case Step::Won:
          running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
          closeAll();
          out.End = ReachEnd::Reached;
          out.Fd = r.fd;
          out.Address = order[r.attempt];
          out.Attempt = r.attempt;
          return out;
        case Step::Failed:
          ::close(r.fd);
          running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
          out.Error = err;
          anyFailed = true;
          break;
      }
    }
    // A failed attempt hands its turn to the next address at once.
    if (anyFailed) nextStart = Deadline::In(0);
  }
}

int SocketFor(const IpAddress& address, std::uint16_t port, int type, sockaddr_storage& sa,
              socklen_t& len, int& fd) {
  len = ToSockAddr(address, port, sa);
  if (len == 0) return EINVAL;
  fd = ::socket(sa.ss_family, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  return fd < 0 ? errno : 0;
}

}  // namespace

std::vector<IpAddress> AttemptOrder(const std::vector<IpAddress>& addresses) {
  std::vector<IpAddress> first, other;
  for (const IpAddress& a : addresses) {
    if (a.Empty()) continue;
    if (std::find(first.begin(), first.end(), a) != first.end() ||
        std::find(other.begin(), other.end(), a) != other.end())
      continue;
    (first.empty() || a.Family() == first.front().Family() ? first : other).push_back(a);
  }
  std::vector<IpAddress> order;
  for (std::size_t i = 0; i < std::max(first.size(), other.size()); ++i) {
    if (i < first.size()) order.push_back(first[i]);
    if (i < other.size()) order.push_back(other[i]);
  }
  if (order.size() > kMaxAttempts) order.resize(kMaxAttempts);
  return order;
}

int AttemptDelayMs(int leftMs, std::size_t attemptsToCome) {
  if (attemptsToCome == 0) return kAttemptDelayMs;
  const int share = leftMs / static_cast<int>(attemptsToCome + 1);
  return std::clamp(share, kMinAttemptDelayMs, kAttemptDelayMs);
}

Reach ConnectTcp(const std::vector<IpAddress>& addresses, std::uint16_t port,
                 const Deadline& deadline, const std::function<bool()>& stop) {
  const std::vector<IpAddress> order = AttemptOrder(addresses);
  return Staggered(
      order, deadline, POLLOUT,
      [&](std::size_t i, int& fd) {
        sockaddr_storage sa{};
        socklen_t len = 0;
        if (const int err = SocketFor(order[i], port, SOCK_STREAM, sa, len, fd); err != 0)
          return err;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), len) == 0 || errno == EINPROGRESS)
          return 0;
        return errno;
      },
      [](std::size_t, int fd, int& err, Reach&) {
        socklen_t len = sizeof err;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
        return err == 0 ? Step::Won : Step::Failed;
      },
      stop);
}

Reach ExchangeDatagram(
    const std::vector<IpAddress>& addresses, std::uint16_t port, const Deadline& deadline,
    const std::function<std::string(std::size_t attempt)>& request,
    const std::function<bool(std::size_t attempt, const std::string& data)>& accept) {
  const std::vector<IpAddress> order = AttemptOrder(addresses);
  std::string buffer(kMaxDatagram, '\0');
  Reach r = Staggered(
      order, deadline, POLLIN,
      [&](std::size_t i, int& fd) {
        sockaddr_storage sa{};
        socklen_t len = 0;
        if (const int err = SocketFor(order[i], port, SOCK_DGRAM, sa, len, fd); err != 0)
          return err;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), len) != 0) return errno;
        const std::string datagram = request(i);
        ssize_t sent;
        do {
          sent = ::send(fd, datagram.data(), datagram.size(), 0);
        } while (sent < 0 && errno == EINTR);
        if (sent < 0) return errno;
        return 0;
      },
      [&](std::size_t i, int fd, int& err, Reach& won) {
        for (;;) {
          const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
          if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return Step::Pending;
            err = errno;  // an unreachable port, say
            return Step::Failed;
          }
          std::string data(buffer.data(), static_cast<std::size_t>(n));
          if (accept(i, data)) {
            won.Reply = std::move(data);
            return Step::Won;
          }
        }
      },
      {});
  // The datagram sockets are done with once the reply is in.
  if (r.Fd >= 0) {
    ::close(r.Fd);
    r.Fd = -1;
  }
  return r;
}

}  // namespace quovix::platform
