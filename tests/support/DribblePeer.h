// A hostile TCP peer on loopback for the time-limit tests: after reading
// what the client says first, it sends a prefix at once and then its drip one
// byte at a time with a pause between the bytes (again and again when told
// to), then holds the connection open without a word until the client gives
// up. Slowloris headers, a trickling body, a TLS handshake that never ends,
// a dribbling SMTP or whois server, and an answer from a server that never
// closes are all scripts of this one peer.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <memory>
#include <string>

#include "TcpTestServer.h"

namespace quovix::test {

class DribblePeer {
 public:
  // What the peer reads before it speaks.
  enum class First {
    Nothing,  // speaks at once (an SMTP greeting, a TLS server facing a hello)
    Line,     // one line (a whois query)
    Head,     // up to an empty line (an HTTP request)
  };
  struct Script {
    First first = First::Head;
    std::string prefix;   // sent at once
    std::string drip;     // then byte by byte
    int pauseMs = 100;    // between two bytes of the drip
    bool repeat = true;   // the drip again and again, for ever
  };

  explicit DribblePeer(Script script, const std::string& address = "127.0.0.1")
      : script_(std::move(script)) {
    server_ = std::make_unique<TcpTestServer>(address, 0, [this](int fd) { Serve(fd); });
  }
  ~DribblePeer() {
    stop_ = true;
    server_.reset();
  }
  bool ok() const { return server_->ok(); }
  int Port() const { return server_->port(); }
  int Connections() const { return server_->connections(); }
  std::string Url(const std::string& path = "/") const {
    return "http://127.0.0.1:" + std::to_string(Port()) + path;
  }

 private:
  // Waits up to ms; false when the client has closed (or the peer stops).
  bool Pause(int fd, int ms) {
    for (int waited = 0; waited < ms && !stop_; waited += 20) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) {
        char buf[4096];
        if (recv(fd, buf, sizeof buf, MSG_DONTWAIT) == 0) return false;
      }
    }
    return !stop_;
  }
  void Serve(int fd) {
    if (script_.first == First::Line) {
      TcpTestServer::ReadLine(fd);
    } else if (script_.first == First::Head) {
      std::string head;
      while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        std::string line = TcpTestServer::ReadLine(fd);
        if (line.empty()) break;
        head += line;
      }
    }
    TcpTestServer::SendAll(fd, script_.prefix);
    do {
      for (char c : script_.drip) {
        if (!Pause(fd, script_.pauseMs)) return;
        if (send(fd, &c, 1, MSG_NOSIGNAL) != 1) return;
      }
    } while (script_.repeat && !script_.drip.empty() && !stop_);
    while (Pause(fd, 100)) {
    }
  }

  Script script_;
  std::atomic<bool> stop_{false};
  std::unique_ptr<TcpTestServer> server_;
};

}  // namespace quovix::test
