// Helpers of the DNS tests: a byte builder for DNS messages and a scripted
// UDP responder on the loopback address that answers each query with the
// datagrams a test function makes for it.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace dnstest {

// Appends DNS wire data.
struct Bytes {
  std::string b;
  Bytes& u8(unsigned v) {
    b += static_cast<char>(v & 0xFF);
    return *this;
  }
  Bytes& u16(unsigned v) { return u8(v >> 8).u8(v); }
  Bytes& u32(std::uint32_t v) { return u16(v >> 16).u16(v & 0xFFFF); }
  Bytes& raw(const std::string& s) {
    b += s;
    return *this;
  }
  // Labels of a dotted name and the terminating zero ("" is the root).
  Bytes& name(const std::string& dotted) { return labels(dotted).u8(0); }
  // Labels only, to be ended by a pointer.
  Bytes& labels(const std::string& dotted) {
    size_t start = 0;
    while (start < dotted.size()) {
      size_t dot = dotted.find('.', start);
      if (dot == std::string::npos) dot = dotted.size();
      u8(static_cast<unsigned>(dot - start)).raw(dotted.substr(start, dot - start));
      start = dot + 1;
    }
    return *this;
  }
  Bytes& ptr(unsigned offset) { return u8(0xC0 | (offset >> 8)).u8(offset); }
  size_t size() const { return b.size(); }
};

inline std::string Header(unsigned id, unsigned flags, unsigned qd, unsigned an, unsigned ns,
                          unsigned ar) {
  return Bytes().u16(id).u16(flags).u16(qd).u16(an).u16(ns).u16(ar).b;
}

// One resource record: owner (wire form), type, class IN, TTL, RDATA.
inline std::string Rr(const std::string& owner, unsigned type, const std::string& rdata,
                      std::uint32_t ttl = 3600) {
  return Bytes().raw(owner).u16(type).u16(1).u32(ttl).u16(static_cast<unsigned>(rdata.size()))
      .raw(rdata).b;
}
inline std::string WireName(const std::string& dotted) { return Bytes().name(dotted).b; }
inline std::string ARdata(unsigned a, unsigned b, unsigned c, unsigned d) {
  return Bytes().u8(a).u8(b).u8(c).u8(d).b;
}
inline std::string MxRdata(unsigned pref, const std::string& host) {
  return Bytes().u16(pref).name(host).b;
}
inline std::string TxtRdata(std::initializer_list<std::string> strings) {
  Bytes out;
  for (const auto& s : strings) out.u8(static_cast<unsigned>(s.size())).raw(s);
  return out.b;
}
inline std::string SoaRdata(const std::string& primary, const std::string& person,
                            std::uint32_t serial, std::uint32_t refresh, std::uint32_t retry,
                            std::uint32_t expire, std::uint32_t minimum) {
  return Bytes().name(primary).name(person).u32(serial).u32(refresh).u32(retry).u32(expire)
      .u32(minimum).b;
}

// What a query asks: its identifier, name and type (one question).
struct Question {
  unsigned id = 0;
  std::string name;
  unsigned type = 0;
  std::string section;  // the question's bytes, to echo in a reply
};
inline Question ParseQuestion(const std::string& q) {
  Question out;
  if (q.size() < 12) return out;
  auto at = [&](size_t i) { return static_cast<unsigned char>(q[i]); };
  out.id = (at(0) << 8) | at(1);
  size_t p = 12;
  while (p < q.size() && at(p) != 0) {
    unsigned len = at(p);
    if (!out.name.empty()) out.name += '.';
    out.name += q.substr(p + 1, len);
    p += 1 + len;
  }
  p += 1;
  if (p + 4 <= q.size()) {
    out.type = (at(p) << 8) | at(p + 1);
    out.section = q.substr(12, p + 4 - 12);
  }
  return out;
}

// A reply to q: the question echoed, then the given sections' records.
inline std::string Reply(const Question& q, unsigned rcode, const std::vector<std::string>& answer,
                         const std::vector<std::string>& authority = {},
                         const std::vector<std::string>& additional = {}) {
  std::string msg = Header(q.id, 0x8180 | rcode, 1, static_cast<unsigned>(answer.size()),
                           static_cast<unsigned>(authority.size()),
                           static_cast<unsigned>(additional.size())) +
                    q.section;
  for (const auto* list : {&answer, &authority, &additional})
    for (const auto& r : *list) msg += r;
  return msg;
}

// Scripted responder on 127.0.0.1. For each query the script returns the
// datagrams to send back, in order; a datagram may come from a second socket
// (another port) to play a stranger.
class ScriptedDnsServer {
 public:
  struct Datagram {
    std::string bytes;
    bool fromOtherPort = false;
  };
  using Script = std::function<std::vector<Datagram>(const std::string& query)>;

  explicit ScriptedDnsServer(Script script) : script_(std::move(script)) {
    fd_ = Bind();
    other_ = Bind();
    sockaddr_in a{};
    socklen_t len = sizeof a;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedDnsServer() {
    stop_ = true;
    thread_.join();
    ::close(fd_);
    ::close(other_);
  }
  std::uint16_t Port() const { return port_; }
  int Queries() const { return queries_; }
  std::vector<std::string> Received() {
    std::lock_guard<std::mutex> lock(mu_);
    return received_;
  }

 private:
  static int Bind() {
    int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
  }
  void Run() {
    char buf[4096];
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      sockaddr_in from{};
      socklen_t len = sizeof from;
      ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
      if (n < 0) continue;
      std::string query(buf, static_cast<size_t>(n));
      {
        std::lock_guard<std::mutex> lock(mu_);
        received_.push_back(query);
      }
      ++queries_;
      for (const Datagram& d : script_(query)) {
        ::sendto(d.fromOtherPort ? other_ : fd_, d.bytes.data(), d.bytes.size(), 0,
                 reinterpret_cast<sockaddr*>(&from), len);
        // Keep the order of arrival the order of the script.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
  }

  Script script_;
  int fd_ = -1, other_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> queries_{0};
  std::mutex mu_;
  std::vector<std::string> received_;
  std::thread thread_;
};

}  // namespace dnstest
