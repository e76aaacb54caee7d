// A TCP server on a loopback address for tests: accepts connections on its
// own thread and hands each to a handler until stopped.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quovix::test {

class TcpTestServer {
 public:
  // Handler gets the connected socket; it may read and write and returns
  // when done (the server closes the socket afterwards).
  using Handler = std::function<void(int fd)>;

  // address: IPv4 or IPv6 (without brackets). port 0: any free port.
  // Returns with ok() false when binding failed.
  TcpTestServer(const std::string& address, int port, Handler h) : handler_(std::move(h)) {
    sockaddr_storage ss{};
    socklen_t len = 0;
    if (address.find(':') != std::string::npos) {
      auto* a = reinterpret_cast<sockaddr_in6*>(&ss);
      a->sin6_family = AF_INET6;
      a->sin6_port = htons(static_cast<uint16_t>(port));
      inet_pton(AF_INET6, address.c_str(), &a->sin6_addr);
      len = sizeof *a;
    } else {
      auto* a = reinterpret_cast<sockaddr_in*>(&ss);
      a->sin_family = AF_INET;
      a->sin_port = htons(static_cast<uint16_t>(port));
      inet_pton(AF_INET, address.c_str(), &a->sin_addr);
      len = sizeof *a;
    }
    fd_ = socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (bind(fd_, reinterpret_cast<sockaddr*>(&ss), len) != 0 || listen(fd_, 16) != 0) {
      close(fd_);
      fd_ = -1;
      return;
    }
    getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &len);
    port_ = ntohs(ss.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                                           : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    thread_ = std::thread([this] { Loop(); });
  }

  ~TcpTestServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    for (auto& t : clients_)
      if (t.joinable()) t.join();
    if (fd_ >= 0) close(fd_);
  }

  bool ok() const { return fd_ >= 0; }
  int port() const { return port_; }
  int connections() const { return connections_; }
  bool stopping() const { return stop_; }

  // Lines received by ReadLine helpers, for assertions.
  std::vector<std::string> Received() {
    std::lock_guard<std::mutex> lk(m_);
    return received_;
  }
  void Record(const std::string& s) {
    std::lock_guard<std::mutex> lk(m_);
    received_.push_back(s);
  }

  // Reads up to and including LF (at most 4 KiB, 5 s).
  static std::string ReadLine(int fd) {
    std::string s;
    char c;
    for (int i = 0; i < 4096; ++i) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 5000) != 1) break;
      if (recv(fd, &c, 1, 0) != 1) break;
      s += c;
      if (c == '\n') break;
    }
    return s;
  }
  static void SendAll(int fd, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
      ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
  }

 private:
  void Loop() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) != 1) continue;
      int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      ++connections_;
      clients_.emplace_back([this, c] {
        handler_(c);
        close(c);
      });
    }
  }

  Handler handler_;
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
  std::vector<std::thread> clients_;
  std::mutex m_;
  std::vector<std::string> received_;
};

}  // namespace quovix::test
