// A scripted SMTP server for the tests, for what a real server will not do
// on demand: a greeting, then a reply for each command by its first word
// (upper case); unknown commands get 500. It can keep silent instead of
// greeting, or close right after the greeting. Every line received is kept.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <cctype>
#include <chrono>
#include <thread>
#include <map>
#include <memory>
#include <string>

#include "TcpTestServer.h"

namespace quovix::test {

class ScriptedSmtp {
 public:
  std::string greeting = "220 mx.test ESMTP\r\n";
  std::map<std::string, std::string> replies = {
      {"EHLO", "250-mx.test\r\n250-PIPELINING\r\n250 8BITMIME\r\n"},
      {"HELO", "250 mx.test\r\n"},
      {"MAIL", "250 2.1.0 Ok\r\n"},
      {"RCPT", "250 2.1.5 Ok\r\n"},
      {"QUIT", "221 2.0.0 Bye\r\n"}};
  // No greeting at all: the server reads and records, but never answers.
  bool silent = false;
  bool closeAfterGreeting = false;
  // A pause before the greeting and before each reply: a server that
  // answers every time just before the client's limit for one reply.
  int delayMs = 0;
  // QUIT gets its reply (if any) but the server keeps the connection open.
  bool holdAfterQuit = false;

  // Starts listening (port 0: any free port). Set the script first.
  bool Start(const std::string& address = "127.0.0.1", int port = 0) {
    server_ = std::make_unique<TcpTestServer>(address, port, [this](int fd) { Serve(fd); });
    self_ = server_.get();
    return server_->ok();
  }
  int Port() const { return server_->port(); }
  int Connections() const { return server_->connections(); }
  std::vector<std::string> Received() { return server_->Received(); }
  // Ends the server before the script it uses goes away.
  ~ScriptedSmtp() { server_.reset(); }

 private:
  void Serve(int fd) {
    if (silent) {
      for (;;) {
        std::string line = ReadLineUnlessStopped(fd);
        if (line.empty()) return;
        self_->Record(line);
      }
    }
    Pause();
    TcpTestServer::SendAll(fd, greeting);
    if (closeAfterGreeting) return;
    for (;;) {
      std::string line = ReadLineUnlessStopped(fd);
      if (line.empty()) return;
      self_->Record(line);
      std::string word = line.substr(0, line.find_first_of(" \r\n"));
      for (auto& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      auto it = replies.find(word);
      Pause();
      TcpTestServer::SendAll(fd, it == replies.end() ? "500 unknown\r\n" : it->second);
      if (word == "QUIT" && !holdAfterQuit) return;
    }
  }
  void Pause() {
    for (int waited = 0; waited < delayMs && !self_->stopping(); waited += 10)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // One line up to LF; empty when the client closed or the server stops.
  std::string ReadLineUnlessStopped(int fd) {
    std::string s;
    while (s.size() < 4096) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) != 1) {
        if (self_->stopping()) return {};
        continue;
      }
      char c;
      if (recv(fd, &c, 1, 0) != 1) return {};
      s += c;
      if (c == '\n') break;
    }
    return s;
  }

  std::unique_ptr<TcpTestServer> server_;
  // The handlers' way to the server: still valid while it is being ended.
  TcpTestServer* self_ = nullptr;
};

}  // namespace quovix::test
