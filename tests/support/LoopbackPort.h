// A loopback port that was free a moment ago, for test peers that take their
// port from their configuration.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quovix::test {

// Binds fd to a port of 127.0.0.1 that the kernel picks; returns the port.
inline int BindAnyLoopbackPort(int fd) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// type: SOCK_STREAM or SOCK_DGRAM.
inline int FreeLoopbackPort(int type = SOCK_STREAM) {
  const int fd = socket(AF_INET, type, 0);
  const int port = BindAnyLoopbackPort(fd);
  close(fd);
  return port;
}

// A loopback TCP port that refuses every connection for as long as the
// object lives: bound but never listening, so no other test's server can
// take it over in the meantime, as one that is closed again could be.
class ClosedLoopbackPort {
 public:
  ClosedLoopbackPort() : fd_(socket(AF_INET, SOCK_STREAM, 0)), port_(BindAnyLoopbackPort(fd_)) {}
  ~ClosedLoopbackPort() { close(fd_); }
  ClosedLoopbackPort(const ClosedLoopbackPort&) = delete;
  ClosedLoopbackPort& operator=(const ClosedLoopbackPort&) = delete;
  int port() const { return port_; }

 private:
  int fd_;
  int port_ = 0;
};

}  // namespace quovix::test
