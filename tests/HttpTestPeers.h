// Test peers for the HTTP tests, all on loopback: a scripted TCP server,
// nginx and tinyproxy started from the Debian packages with a configuration
// written into a temporary folder, and a small test certificate authority.
#pragma once

#include "support/LoopbackPort.h"
#include "support/TestCa.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace httptest {

// Full path of an installed program, empty when it is missing.
inline std::string FindProgram(const std::string& name) {
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  path += ":/usr/sbin:/sbin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string candidate = path.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return {};
}

// A fresh folder, removed with everything in it at the end.
class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/quovix-http-XXXXXX";
    path_ = mkdtemp(tmpl);
    // Worker processes of nginx may run as another user.
    chmod(path_.c_str(), 0755);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& text) const {
    std::filesystem::create_directories(std::filesystem::path(File(name)).parent_path());
    std::ofstream(File(name), std::ios::binary) << text;
    chmod(File(name).c_str(), 0644);
  }

 private:
  std::string path_;
};

// A loopback port that was free a moment ago.
inline int FreePort() { return quovix::test::FreeLoopbackPort(SOCK_STREAM); }

inline bool PortAccepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// A child process that is ended (SIGTERM, then SIGKILL) with the object.
class ChildProcess {
 public:
  bool Start(const std::vector<std::string>& argv, const std::string& logFile) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    const int r = posix_spawn(&pid_, args[0], &fa, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (r != 0) pid_ = -1;
    return pid_ > 0;
  }
  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return false;
    }
    return true;
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  ~ChildProcess() { Stop(); }

 private:
  pid_t pid_ = -1;
};

// Waits until the port accepts connections or the child has died.
inline bool WaitForPort(ChildProcess& child, int port) {
  for (int i = 0; i < 250; ++i) {
    if (PortAccepts(port)) return true;
    if (!child.Running()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// ---- Scripted server ------------------------------------------------------------------

// One accepted connection of the scripted server.
class ScriptConn {
 public:
  explicit ScriptConn(int fd) : fd_(fd) {}
  ~ScriptConn() { close(fd_); }
  // The request head up to its empty line ("" when the client closed first).
  std::string ReadRequest(int timeoutMs = 5000) {
    std::string req;
    char buf[4096];
    while (req.find("\r\n\r\n") == std::string::npos) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) break;
      const ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) break;
      req.append(buf, static_cast<size_t>(n));
    }
    return req;
  }
  void Send(const std::string& data) { send(fd_, data.data(), data.size(), MSG_NOSIGNAL); }
  // Keeps the connection open without sending until the client closes it or
  // the limit passes.
  void Hold(int limitMs) {
    pollfd p{fd_, POLLIN, 0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    char buf[256];
    while (std::chrono::steady_clock::now() < end) {
      if (poll(&p, 1, 50) > 0 && recv(fd_, buf, sizeof buf, 0) <= 0) return;
    }
  }

 private:
  int fd_;
};

// Listens on 127.0.0.1 and runs the script for each connection, one after
// another, on its own thread. Every request head is recorded.
class ScriptedServer {
 public:
  using Script = std::function<void(ScriptConn&, const std::string& request, int index)>;
  // address: IPv4, or IPv6 without brackets.
  explicit ScriptedServer(Script script, const char* address = "127.0.0.1")
      : script_(std::move(script)), host_(address) {
    const bool v6 = host_.find(':') != std::string::npos;
    sockaddr_storage ss{};
    socklen_t len = v6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
    ss.ss_family = v6 ? AF_INET6 : AF_INET;
    if (v6)
      inet_pton(AF_INET6, address, &reinterpret_cast<sockaddr_in6*>(&ss)->sin6_addr);
    else
      inet_pton(AF_INET, address, &reinterpret_cast<sockaddr_in*>(&ss)->sin_addr);
    fd_ = socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    bind(fd_, reinterpret_cast<sockaddr*>(&ss), len);
    listen(fd_, 16);
    getsockname(fd_, reinterpret_cast<sockaddr*>(&ss), &len);
    port_ = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    if (v6) host_ = "[" + host_ + "]";
    thread_ = std::thread([this] { Loop(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    thread_.join();
    close(fd_);
  }
  int Port() const { return port_; }
  std::string Url(const std::string& path = "/") const {
    return "http://" + host_ + ":" + std::to_string(port_) + path;
  }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> l(m_);
    return requests_;
  }

 private:
  void Loop() {
    int index = 0;
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      ScriptConn conn(c);
      const std::string req = conn.ReadRequest();
      {
        std::lock_guard<std::mutex> l(m_);
        requests_.push_back(req);
      }
      script_(conn, req, index++);
    }
  }
  Script script_;
  std::string host_;  // as a URL writes it
  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex m_;
  std::vector<std::string> requests_;
};

// The request line of a recorded request head.
inline std::string RequestLine(const std::string& request) {
  return request.substr(0, request.find("\r\n"));
}

// ---- Certificates ----------------------------------------------------------------------

// A test CA and three server certificates: "good" for 127.0.0.1 and
// localhost signed by the CA, "wronghost" for another name signed by the
// CA, and "self" self-signed for 127.0.0.1; "expired" for 127.0.0.1, from
// the CA, expired in 2020.
struct TestCerts {
  bool ok = false;
  std::string ca, goodCert, goodKey, wrongCert, wrongKey, selfCert, selfKey, expiredCert, expiredKey;

  explicit TestCerts(const TempDir& dir) {
    if (FindProgram("openssl").empty()) return;
    quovix::test::TestCa authority(dir.Path());
    const auto good = authority.Issue("good", "/CN=127.0.0.1", "IP:127.0.0.1,DNS:localhost");
    const auto wrong = authority.Issue("wrong", "/CN=wrong.test", "DNS:wrong.test");
    const auto self = authority.SelfSigned("self", "/CN=127.0.0.1", "IP:127.0.0.1");
    const auto expired = authority.Issue("expired", "/CN=127.0.0.1", "IP:127.0.0.1", true);
    ok = authority.Ok() && good.ok && wrong.ok && self.ok && expired.ok;
    ca = authority.Ca();
    goodCert = good.cert, goodKey = good.key;
    wrongCert = wrong.cert, wrongKey = wrong.key;
    selfCert = self.cert, selfKey = self.key;
    expiredCert = expired.cert, expiredKey = expired.key;
  }
};

// openssl s_server on a loopback port with the arguments given (certificate,
// key, -alpn, -status_file …), stopped with the object. Without -www it
// echoes and writes what it learnt of each connection into its log.
class OpensslServer {
 public:
  int port = 0;
  std::string skipReason;
  OpensslServer(const TempDir& dir, const std::string& name, const std::vector<std::string>& args) {
    const std::string openssl = FindProgram("openssl");
    if (openssl.empty()) {
      skipReason = "openssl is not installed (Debian package openssl)";
      return;
    }
    port = FreePort();
    log_ = dir.File(name + ".s_server.log");
    std::vector<std::string> argv{openssl, "s_server", "-accept", "127.0.0.1:" + std::to_string(port)};
    argv.insert(argv.end(), args.begin(), args.end());
    if (!child_.Start(argv, log_) || !WaitForPort(child_, port)) {
      skipReason = "openssl s_server did not start: " + ReadFile(log_);
      child_.Stop();
    }
  }
  bool Ok() const { return skipReason.empty(); }
  std::string Log() const { return ReadFile(log_); }

 private:
  std::string log_;
  ChildProcess child_;
};

// ---- nginx -----------------------------------------------------------------------------

// Whether a TCP port of ::1 can be had (IPv6 may be switched off).
inline bool Ipv6PortFree(int port) {
  int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  a.sin6_port = htons(static_cast<uint16_t>(port));
  const bool ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

// nginx from the Debian package with the server blocks given (and whatever
// else belongs into its http block), its files in the folder, stopped with
// the object.
class NginxPeer {
 public:
  std::string skipReason;

  // ports: the ports the servers listen on; the start waits for them all.
  NginxPeer(const TempDir& dir, const std::string& servers, const std::vector<int>& ports) {
    const std::string nginx = FindProgram("nginx");
    if (nginx.empty()) {
      skipReason = "nginx is not installed (Debian package nginx)";
      return;
    }
    const std::string d = dir.Path();
    const std::string conf =
        "worker_processes 1;\n"
        "daemon off;\n"
        "pid " + d + "/nginx.pid;\n"
        "error_log " + d + "/error.log;\n" +
        (geteuid() == 0 ? "user root;\n" : "") +
        "events { worker_connections 64; }\n"
        "http {\n"
        "  access_log off;\n"
        "  client_body_temp_path " + d + "/t_body;\n"
        "  proxy_temp_path " + d + "/t_proxy;\n"
        "  fastcgi_temp_path " + d + "/t_fcgi;\n"
        "  uwsgi_temp_path " + d + "/t_uwsgi;\n"
        "  scgi_temp_path " + d + "/t_scgi;\n"
        "  default_type text/html;\n" + servers +
        "}\n";
    dir.Write("nginx.conf", conf);
    const std::string log = d + "/nginx.out";
    bool up = child_.Start({nginx, "-p", d, "-e", d + "/error.log", "-c", d + "/nginx.conf"}, log);
    for (int port : ports) up = up && WaitForPort(child_, port);
    if (!up) {
      skipReason = "nginx did not start: " + ReadFile(log) + ReadFile(d + "/error.log");
      child_.Stop();
    }
  }
  bool Ok() const { return skipReason.empty(); }

 private:
  ChildProcess child_;
};

// nginx on four loopback ports: plain HTTP with pages, redirects and a
// chunked page (on [::1] too when IPv6 is there: http6), and three HTTPS
// servers (good, wrong host, self-signed).
class Nginx {
 public:
  int http = 0, httpsGood = 0, httpsWrong = 0, httpsSelf = 0;
  bool http6 = false;
  std::string skipReason;

  Nginx(const TempDir& dir, const TestCerts* certs) {
    const std::string d = dir.Path();
    http = FreePort();
    http6 = Ipv6PortFree(http);
    dir.Write("www/index.html", "<html><body>Quovix test page</body></html>\n");
    dir.Write("www/chunked.html", "first part, <!--# echo var=\"ssi_marker\" default=\"middle\" -->, last part\n");
    std::string tls;
    std::vector<int> ports{http};
    if (certs && certs->ok) {
      httpsGood = FreePort();
      httpsWrong = FreePort();
      httpsSelf = FreePort();
      auto server = [&](int port, const std::string& cert, const std::string& key) {
        return "  server {\n    listen 127.0.0.1:" + std::to_string(port) + " ssl;\n" +
               "    ssl_certificate " + cert + ";\n    ssl_certificate_key " + key + ";\n" +
               "    location / { return 200 \"secure page\\n\"; }\n" +
               "    location = /to-plain { return 302 http://127.0.0.1:" + std::to_string(http) +
               "/; }\n  }\n";
      };
      tls = server(httpsGood, certs->goodCert, certs->goodKey) +
            server(httpsWrong, certs->wrongCert, certs->wrongKey) +
            server(httpsSelf, certs->selfCert, certs->selfKey);
      ports.push_back(httpsSelf);
    }
    const std::string servers =
        "  server {\n"
        "    listen 127.0.0.1:" + std::to_string(http) + ";\n" +
        (http6 ? "    listen [::1]:" + std::to_string(http) + " ipv6only=on;\n" : "") +
        "    root " + d + "/www;\n"
        "    location = /host { add_header X-Host $http_host; return 200 \"host\\n\"; }\n"
        "    location = /page { return 200 \"plain page\\n\"; }\n"
        "    location = /c3 { return 301 /c2; }\n"
        "    location = /c2 { return 301 /c1; }\n"
        "    location = /c1 { return 301 /page; }\n"
        "    location = /moved { return 302 /page; }\n"
        "    location = /loop { return 301 /loop; }\n"
        "    location ~ ^/grow(x*)$ { return 301 /grow$1x; }\n"
        "    location = /chunked.html { ssi on; }\n"
        "    location = /cookie { add_header Set-Cookie \"sid=abc123; Path=/\"; return 302 /echo-cookie; }\n"
        "    location = /echo-cookie { return 200 \"cookie=$http_cookie\\n\"; }\n"
        "    location = /to-https { return 301 https://127.0.0.1:" + std::to_string(httpsGood) + "/; }\n"
        "  }\n" + tls;
    peer_ = std::make_unique<NginxPeer>(dir, servers, ports);
    skipReason = peer_->skipReason;
  }
  bool Ok() const { return skipReason.empty(); }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(http) + path;
  }
  std::string Url6(const std::string& path) const {
    return "http://[::1]:" + std::to_string(http) + path;
  }

 private:
  std::unique_ptr<NginxPeer> peer_;
};

// nginx with TLS from a test CA of its own on loopback ports: a good chain
// (the server's certificate and the intermediate that issued it), an
// expired certificate, one for another name, a self-signed one, and two
// that staple the CA's OCSP answer (made by openssl ocsp from the CA's
// index: good, and revoked for key compromise). Every server speaks HTTP/2
// beside HTTP/1.1 and answers / with 200, /secure with the security headers
// browsers act on, /moved with a redirect to /secure, and /upstream with
// what the plain HTTP server on the upstream port (when given) answers.
class NginxTls {
 public:
  int good = 0, expired = 0, wrongName = 0, self = 0, stapledGood = 0, stapledRevoked = 0;
  std::string ca;  // the root to trust
  std::string skipReason;

  explicit NginxTls(const TempDir& dir, int upstream = 0) {
    if (FindProgram("openssl").empty()) {
      skipReason = "openssl is not installed (Debian package openssl)";
      return;
    }
    std::filesystem::create_directories(dir.File("tlsca"));
    quovix::test::TestCa authority(dir.File("tlsca"));
    const auto goodCert = authority.Issue("good", "/CN=localhost", "IP:127.0.0.1,DNS:localhost", false, true);
    const auto expiredCert = authority.Issue("expired", "/CN=127.0.0.1", "IP:127.0.0.1", true);
    const auto wrongCert = authority.Issue("wrong", "/CN=wrong.test", "DNS:wrong.test");
    const auto selfCert = authority.SelfSigned("self", "/CN=127.0.0.1", "IP:127.0.0.1");
    const auto okStapled = authority.Issue("stapled", "/CN=127.0.0.1", "IP:127.0.0.1");
    const auto revoked = authority.Issue("revoked", "/CN=127.0.0.1", "IP:127.0.0.1");
    const std::string okOcsp = dir.File("tlsca/stapled.ocsp"), revokedOcsp = dir.File("tlsca/revoked.ocsp");
    if (!authority.Ok() || !goodCert.ok || !expiredCert.ok || !wrongCert.ok || !selfCert.ok ||
        !okStapled.ok || !revoked.ok || !authority.OcspAnswer(okStapled, okOcsp) ||
        !authority.Revoke(revoked) || !authority.OcspAnswer(revoked, revokedOcsp)) {
      skipReason = "openssl could not make the test certificates: " + authority.Log();
      return;
    }
    ca = authority.Ca();
    std::string servers;
    std::vector<int> ports;
    auto server = [&](int& port, const quovix::test::TestCa::Cert& c, const std::string& ocsp) {
      port = FreePort();
      ports.push_back(port);
      servers += "  server {\n    listen 127.0.0.1:" + std::to_string(port) + " ssl http2;\n" +
                 "    ssl_certificate " + c.chain + ";\n    ssl_certificate_key " + c.key + ";\n" +
                 (ocsp.empty() ? "" : "    ssl_stapling on;\n    ssl_stapling_file " + ocsp + ";\n") +
                 "    location / { return 200 \"secure page\\n\"; }\n"
                 "    location = /moved { return 301 /secure; }\n" +
                 (upstream ? "    location = /upstream { proxy_pass http://127.0.0.1:" + std::to_string(upstream) +
                                 "/; proxy_read_timeout 30s; }\n"
                           : std::string()) +
                 "    location = /secure {\n"
                 "      add_header Strict-Transport-Security \"max-age=31536000; includeSubDomains; preload\";\n"
                 "      add_header Content-Security-Policy \"default-src 'self'; frame-ancestors 'none'\";\n"
                 "      add_header X-Content-Type-Options nosniff;\n"
                 "      add_header X-Frame-Options DENY;\n"
                 "      add_header Referrer-Policy no-referrer;\n"
                 "      add_header Permissions-Policy \"camera=()\";\n"
                 "      add_header Cross-Origin-Opener-Policy same-origin;\n"
                 "      add_header Set-Cookie \"sid=1; Secure; HttpOnly; SameSite=Strict\";\n"
                 "      add_header Set-Cookie \"theme=dark\";\n"
                 "      add_header Alt-Svc 'h3=\":" + std::to_string(port) + "\"; ma=86400, h2=\":443\"';\n"
                 "      return 200 \"headers\\n\";\n    }\n  }\n";
    };
    server(good, goodCert, "");
    server(expired, expiredCert, "");
    server(wrongName, wrongCert, "");
    server(self, selfCert, "");
    server(stapledGood, okStapled, okOcsp);
    server(stapledRevoked, revoked, revokedOcsp);
    peer_ = std::make_unique<NginxPeer>(dir, servers, ports);
    skipReason = peer_->skipReason;
  }
  bool Ok() const { return skipReason.empty(); }
  static std::string Url(int port, const std::string& path = "/") {
    return "https://127.0.0.1:" + std::to_string(port) + path;
  }

 private:
  std::unique_ptr<NginxPeer> peer_;
};

// ---- tinyproxy ---------------------------------------------------------------------------

// tinyproxy on loopback requiring basic authentication.
class Tinyproxy {
 public:
  int port = 0;
  std::string skipReason;
  Tinyproxy(const TempDir& dir, const std::string& user, const std::string& password) {
    const std::string tinyproxy = FindProgram("tinyproxy");
    if (tinyproxy.empty()) {
      skipReason = "tinyproxy is not installed (Debian package tinyproxy)";
      return;
    }
    const std::string d = dir.Path();
    port = FreePort();
    std::string conf = "Port " + std::to_string(port) +
                       "\nListen 127.0.0.1\nTimeout 30\nAllow 127.0.0.1\nMaxClients 20\n"
                       "LogLevel Info\nLogFile \"" + d + "/tinyproxy.log\"\n"
                       "PidFile \"" + d + "/tinyproxy.pid\"\n"
                       "BasicAuth " + user + " " + password + "\n"
                       "DisableViaHeader Yes\n";
    if (geteuid() == 0) conf += "User root\nGroup root\n";
    dir.Write("tinyproxy.conf", conf);
    const std::string log = d + "/tinyproxy.out";
    if (!child_.Start({tinyproxy, "-d", "-c", d + "/tinyproxy.conf"}, log) ||
        !WaitForPort(child_, port)) {
      skipReason = "tinyproxy did not start: " + ReadFile(log) + ReadFile(d + "/tinyproxy.log");
      child_.Stop();
    }
  }
  bool Ok() const { return skipReason.empty(); }

 private:
  ChildProcess child_;
};

}  // namespace httptest
