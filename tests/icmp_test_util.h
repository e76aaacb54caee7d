// Test aids for the Ping and Trace tools: a scripted ICMP service, network
// namespaces built for one test, and running code inside one of them.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "app/formMain.h"
#include "platform/Icmp.h"

namespace quovix::icmptest {

// Answers echo requests from a script; records every request.
class FakeIcmp : public platform::IIcmp {
 public:
  struct Call {
    std::uint32_t Address;  // IPv4 in network byte order; 0 for IPv6
    std::string Data;
    int TimeoutMs;
    int Ttl;
    IpAddress Target;       // the address of either family
  };
  std::vector<Call> Calls;
  // Replies in order; when the script runs out, Default answers.
  std::deque<platform::IcmpReply> Script;
  // Builds the reply from the request when set (used before Default).
  std::function<platform::IcmpReply(const Call&)> Responder;
  platform::IcmpReply Default;

  platform::IcmpReply Echo(const IpAddress& target, const std::string& data, int timeoutMs,
                           int ttl) override {
    std::uint32_t v4 = 0;
    if (target.IsV4()) std::memcpy(&v4, target.Data(), 4);
    Calls.push_back({v4, data, timeoutMs, ttl, target});
    if (!Script.empty()) {
      platform::IcmpReply r = Script.front();
      Script.pop_front();
      return r;
    }
    if (Responder) return Responder(Calls.back());
    return Default;
  }
};

inline platform::IcmpReply EchoReply(const std::string& from, const std::string& data,
                                     std::uint32_t rtt, std::uint8_t ttl = 64) {
  platform::IcmpReply r;
  r.Status = kIcmpSuccess;
  r.Address = from;
  r.Data = data;
  r.RoundTripMs = rtt;
  r.Ttl = ttl;
  return r;
}

inline platform::IcmpReply StatusReply(int status, const std::string& from = {},
                                       std::uint32_t rtt = 0) {
  platform::IcmpReply r;
  r.Status = status;
  r.Address = from;
  r.RoundTripMs = rtt;
  return r;
}

inline std::uint32_t Addr(const char* dotted) {
  in_addr a{};
  inet_pton(AF_INET, dotted, &a);
  return a.s_addr;
}

// ---- Network namespaces --------------------------------------------------

inline bool HaveIpTool() { return std::system("ip -V >/dev/null 2>&1") == 0; }

// Why namespace tests cannot run here; empty when they can.
inline std::string NetnsSkipReason() {
  if (geteuid() != 0) return "needs root to create network namespaces";
  if (!HaveIpTool()) return "the ip tool (iproute2) is missing";
  return {};
}

// Runs a shell command; true on exit status 0.
inline bool Sh(const std::string& cmd) {
  return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}

// A set of network namespaces with unique names, removed when it ends.
class NetnsSet {
 public:
  // Creates a namespace for key (loopback up) and returns its name.
  std::string Add(const std::string& key) {
    static std::atomic<int> serial{0};
    std::string name = "qvx" + std::to_string(getpid()) + "-" + std::to_string(++serial) + key;
    if (!Sh("ip netns add " + name)) return {};
    names_.push_back(name);
    Sh("ip -n " + name + " link set lo up");
    return name;
  }
  ~NetnsSet() {
    for (const auto& n : names_) Sh("ip netns del " + n);
  }

 private:
  std::vector<std::string> names_;
};

// Drops CAP_NET_RAW from the calling process (raw sockets fail afterwards).
inline bool DropNetRaw() {
  __user_cap_header_struct hdr{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2]{};
  if (syscall(SYS_capget, &hdr, data) != 0) return false;
  data[0].effective &= ~(1u << CAP_NET_RAW);
  data[0].permitted &= ~(1u << CAP_NET_RAW);
  data[0].inheritable &= ~(1u << CAP_NET_RAW);
  return syscall(SYS_capset, &hdr, data) == 0;
}

// Runs body in a child process that has entered the namespace (and dropped
// CAP_NET_RAW when asked); returns what body returned, or a text beginning
// with "ERROR:" when the child could not get there. The child is killed when
// it takes longer than limitMs.
inline std::string RunInNetns(const std::string& ns, bool dropNetRaw,
                              const std::function<std::string()>& body, int limitMs = 30000) {
  int fds[2];
  if (pipe(fds) != 0) return "ERROR: pipe";
  pid_t pid = fork();
  if (pid < 0) return "ERROR: fork";
  if (pid == 0) {
    close(fds[0]);
    std::string out;
    int nsfd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (nsfd < 0 || setns(nsfd, CLONE_NEWNET) != 0)
      out = "ERROR: setns";
    else if (dropNetRaw && !DropNetRaw())
      out = "ERROR: capset";
    else
      out = body();
    size_t off = 0;
    while (off < out.size()) {
      ssize_t n = write(fds[1], out.data() + off, out.size() - off);
      if (n <= 0) break;
      off += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    end - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) {
      kill(pid, SIGKILL);
      out = "ERROR: child took too long; output so far: " + out;
      break;
    }
    pollfd p{fds[0], POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    char buf[4096];
    ssize_t n = read(fds[0], buf, sizeof buf);
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  return out;
}

// Pane lines as "colour|text" rows, one per line, for comparing across a pipe.
inline std::string PaneDump(const TRichEdit& pane) {
  std::string s;
  for (const auto& l : pane.Lines()) {
    char c[16];
    std::snprintf(c, sizeof c, "%06X|", l.Color);
    s += c + l.Text + "\n";
  }
  return s;
}

using Lines = std::vector<std::pair<std::string, TColor>>;

inline Lines LinesOf(const TRichEdit& pane) {
  Lines out;
  for (const auto& l : pane.Lines()) out.emplace_back(l.Text, l.Color);
  return out;
}

// Round-trip times vary on a real network: "12 ms" and "1/2.5/4 ms" become "N ms".
inline std::string MaskTimes(const std::string& s) {
  return std::regex_replace(s, std::regex(R"(: [\d./]+ ms)"), ": N ms");
}

}  // namespace quovix::icmptest
