// Test peers for the SNTP client and the Time tool: a fake system clock, a
// scripted NTP responder on loopback and a real chronyd serving time on a
// loopback port.
#pragma once

#include "support/LoopbackPort.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clients/SntpClient.h"
#include "platform/Clock.h"

namespace quovix::testing {

// A clock that stands still at a chosen instant in a fixed zone and records
// instead of setting anything.
struct FakeClock : platform::IClock {
  timespec now{};
  timespec running{};  // the clock that only runs forward
  long offsetSeconds = 3600;  // local time ahead of UTC
  bool maySet = true;
  int setResult = 0;
  std::vector<timespec> sets;

  timespec Now() override { return now; }
  long UtcOffset(time_t) override { return offsetSeconds; }
  int SetNow(const timespec& utc) override {
    sets.push_back(utc);
    return setResult;
  }
  bool MaySetClock() override { return maySet; }
  timespec Monotonic() override { return running; }
};

// Reads the real clock and zone but never sets the clock.
struct ReadOnlyClock : platform::IClock {
  platform::IClock* real = nullptr;
  std::vector<timespec> sets;
  bool maySet = true;
  timespec Now() override { return real->Now(); }
  long UtcOffset(time_t at) override { return real->UtcOffset(at); }
  int SetNow(const timespec& utc) override {
    sets.push_back(utc);
    return 0;
  }
  bool MaySetClock() override { return maySet; }
};

inline NtpTimestamp NtpOfUnix(std::int64_t unixSeconds, std::uint32_t fraction = 0) {
  return {static_cast<std::uint32_t>(unixSeconds + 2208988800LL), fraction};
}

// A well-formed server reply to request, with the given receive and transmit times.
inline std::vector<std::uint8_t> ServerReply(const std::vector<std::uint8_t>& request,
                                             NtpTimestamp receive, NtpTimestamp transmit) {
  SntpPacket p;
  p.Version = 3;
  p.Mode = 4;
  p.Stratum = 2;
  p.ReferenceId = 0x7F000001;
  p.Reference = receive;
  if (request.size() >= kSntpPacketSize) {
    SntpPacket q;
    DecodeSntpPacket(request.data(), request.size(), q);
    p.Originate = q.Transmit;
  }
  p.Receive = receive;
  p.Transmit = transmit;
  auto bytes = EncodeSntpPacket(p);
  return {bytes.begin(), bytes.end()};
}

// Answers each request on 127.0.0.1 with the datagrams a script returns.
class ScriptedNtpPeer {
 public:
  struct Datagram {
    std::vector<std::uint8_t> Bytes;
    bool FromOtherPort = false;  // sent from a second socket of the peer
    int DelayMs = 0;             // pause before sending
  };
  using Script = std::function<std::vector<Datagram>(const std::vector<std::uint8_t>& request)>;

  // On 127.0.0.1, or on ::1 when v6; on a free port, or the one given (the
  // addresses of one name share a port).
  explicit ScriptedNtpPeer(Script script, bool v6 = false, std::uint16_t port = 0)
      : script_(std::move(script)) {
    main_ = Bound(v6, port);
    other_ = Bound(v6, 0);
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    getsockname(main_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(v6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                     : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedNtpPeer() {
    stop_ = true;
    thread_.join();
    close(main_);
    close(other_);
  }
  ScriptedNtpPeer(const ScriptedNtpPeer&) = delete;
  ScriptedNtpPeer& operator=(const ScriptedNtpPeer&) = delete;

  std::uint16_t Port() const { return port_; }
  std::vector<std::vector<std::uint8_t>> Requests() {
    std::lock_guard<std::mutex> lock(mu_);
    return requests_;
  }

 private:
  static int Bound(bool v6, std::uint16_t port) {
    int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (v6) {
      sockaddr_in6 a{};
      a.sin6_family = AF_INET6;
      a.sin6_addr = in6addr_loopback;
      a.sin6_port = htons(port);
      bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      a.sin_port = htons(port);
      bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    return fd;
  }

  void Run() {
    while (!stop_) {
      pollfd pfd{main_, POLLIN, 0};
      if (poll(&pfd, 1, 20) <= 0) continue;
      std::uint8_t buf[1024];
      sockaddr_storage from{};
      socklen_t len = sizeof from;
      ssize_t n = recvfrom(main_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) continue;
      std::vector<std::uint8_t> request(buf, buf + n);
      {
        std::lock_guard<std::mutex> lock(mu_);
        requests_.push_back(request);
      }
      for (const Datagram& d : script_(request)) {
        for (int waited = 0; waited < d.DelayMs && !stop_; waited += 10)
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        sendto(d.FromOtherPort ? other_ : main_, d.Bytes.data(), d.Bytes.size(), 0,
               reinterpret_cast<sockaddr*>(&from), len);
      }
    }
  }

  Script script_;
  int main_ = -1, other_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::mutex mu_;
  std::vector<std::vector<std::uint8_t>> requests_;
  std::thread thread_;
};

// chronyd serving its own clock at stratum 8 on 127.0.0.1:<free port>, with
// control of the system clock switched off (-x). Stopped on destruction.
class ChronyServer {
 public:
  static std::string Binary() {
    for (const char* p : {"/usr/sbin/chronyd", "/sbin/chronyd", "/usr/bin/chronyd"})
      if (access(p, X_OK) == 0) return p;
    return {};
  }

  // Empty when it started; otherwise why not. With v6 it serves on ::1 too.
  std::string Start(bool v6 = false) {
    const std::string bin = Binary();
    if (bin.empty()) return "chronyd not installed (Debian package chrony)";
    char tmpl[] = "/tmp/quovix-chrony-XXXXXX";
    if (!mkdtemp(tmpl)) return "no temporary folder";
    dir_ = tmpl;
    port_ = FreeUdpPort();
    const std::string conf = dir_ + "/chrony.conf";
    {
      std::ofstream c(conf);
      c << "port " << port_ << "\n"
        << "bindaddress 127.0.0.1\n"
        << (v6 ? "bindaddress ::1\nallow ::1\n" : "")
        << "local stratum 8\n"
        << "allow 127.0.0.1\n"
        << "cmdport 0\n"
        << "pidfile " << dir_ << "/chronyd.pid\n"
        << "driftfile " << dir_ << "/chrony.drift\n"
        << ExtraConfig;
    }
    const std::string log = dir_ + "/chronyd.log";
    std::vector<std::string> args = {bin, "-x", "-d", "-f", conf, "-t", "120"};
    if (geteuid() == 0) {
      args.push_back("-u");
      args.push_back("root");
    } else {
      args.push_back("-U");
    }
    pid_ = fork();
    if (pid_ == 0) {
      int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (fd >= 0) {
        dup2(fd, 1);
        dup2(fd, 2);
      }
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (pid_ < 0) return "fork failed";
    return {};
  }

  ~ChronyServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      for (int i = 0; i < 200 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      if (waitpid(pid_, &status, WNOHANG) == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
      }
    }
    if (!dir_.empty()) {
      std::error_code ec;
      std::filesystem::remove_all(dir_, ec);
    }
  }

  // Further lines of chrony.conf (NTS: ntsservercert, ntsserverkey, ntsport).
  std::string ExtraConfig;

  std::uint16_t Port() const { return port_; }
  std::string Log() const {
    std::ifstream f(dir_ + "/chronyd.log");
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }
  // False once chronyd has exited (it is then reaped).
  bool Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == 0) return true;
    pid_ = -1;
    return false;
  }

 private:
  static std::uint16_t FreeUdpPort() {
    return static_cast<std::uint16_t>(quovix::test::FreeLoopbackPort(SOCK_DGRAM));
  }

  std::string dir_;
  std::uint16_t port_ = 0;
  pid_t pid_ = -1;
};

}  // namespace quovix::testing
