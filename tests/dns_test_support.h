// Helpers of the DNS tests: a byte builder for DNS messages and a scripted
// responder on the loopback address that answers each UDP query with the
// datagrams a test function makes for it, and each TCP query with the bytes
// another one makes.
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

// What a query asks: its identifier, name and type (one question), and its
// OPT record when it carries one.
struct Question {
  unsigned id = 0;
  std::string name;
  unsigned type = 0;
  std::string section;  // the question's bytes, to echo in a reply
  bool edns = false;
  unsigned payload = 0;  // the advertised UDP payload size
  bool dnssecOk = false;
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
  // An OPT record right after the question: root name, type 41.
  p += 4;
  const unsigned arCount = (at(10) << 8) | at(11);
  if (arCount > 0 && p + 11 <= q.size() && at(p) == 0 && at(p + 1) == 0 && at(p + 2) == 41) {
    out.edns = true;
    out.payload = (at(p + 3) << 8) | at(p + 4);
    out.dnssecOk = (at(p + 7) & 0x80) != 0;
  }
  return out;
}

// A reply to q with the given header flags: the question echoed, then the
// given sections' records.
inline std::string ReplyFlags(const Question& q, unsigned flags,
                              const std::vector<std::string>& answer,
                              const std::vector<std::string>& authority = {},
                              const std::vector<std::string>& additional = {}) {
  std::string msg = Header(q.id, flags, 1, static_cast<unsigned>(answer.size()),
                           static_cast<unsigned>(authority.size()),
                           static_cast<unsigned>(additional.size())) +
                    q.section;
  for (const auto* list : {&answer, &authority, &additional})
    for (const auto& r : *list) msg += r;
  return msg;
}
// The usual reply: response, recursion desired and available, the code.
inline std::string Reply(const Question& q, unsigned rcode, const std::vector<std::string>& answer,
                         const std::vector<std::string>& authority = {},
                         const std::vector<std::string>& additional = {}) {
  return ReplyFlags(q, 0x8180 | rcode, answer, authority, additional);
}
// An OPT record: payload size, extended code, DO bit.
inline std::string OptRr(unsigned payload, unsigned extendedRcode = 0, bool dnssecOk = false) {
  return Bytes().u8(0).u16(41).u16(payload).u8(extendedRcode).u8(0)
      .u16(dnssecOk ? 0x8000 : 0).u16(0).b;
}
// A message with its two-byte length in front, as TCP carries it.
inline std::string Framed(const std::string& msg) {
  return Bytes().u16(static_cast<unsigned>(msg.size())).raw(msg).b;
}

// Scripted responder on 127.0.0.1. For each UDP query the script returns
// the datagrams to send back, in order; a datagram may come from a second
// socket (another port) to play a stranger. The TCP port of the same number
// is held too: without a TCP script it refuses connections; with one, each
// query read from a connection (two-byte length, message) is answered with
// the byte chunks the script returns, written as they are (a test frames
// them), and the connection stays open until the client closes it or a
// chunk asks to close it.
class ScriptedDnsServer {
 public:
  struct Datagram {
    std::string bytes;
    bool fromOtherPort = false;
    bool close = false;  // TCP: close the connection after these bytes
  };
  using Script = std::function<std::vector<Datagram>(const std::string& query)>;

  explicit ScriptedDnsServer(Script script, Script tcpScript = nullptr)
      : script_(std::move(script)), tcpScript_(std::move(tcpScript)) {
    // A port number free for both UDP and TCP.
    for (int attempt = 0; attempt < 50 && tcp_ < 0; ++attempt) {
      if (fd_ >= 0) ::close(fd_);
      fd_ = Bind(SOCK_DGRAM, 0);
      sockaddr_in a{};
      socklen_t len = sizeof a;
      getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
      port_ = ntohs(a.sin_port);
      tcp_ = Bind(SOCK_STREAM, port_);
    }
    if (tcp_ >= 0 && tcpScript_) ::listen(tcp_, 16);
    other_ = Bind(SOCK_DGRAM, 0);
    thread_ = std::thread([this] { Run(); });
  }
  ~ScriptedDnsServer() {
    stop_ = true;
    thread_.join();
    for (int c : connections_) ::close(c);
    ::close(fd_);
    ::close(other_);
    if (tcp_ >= 0) ::close(tcp_);
  }
  std::uint16_t Port() const { return port_; }
  int Queries() const { return queries_; }
  int TcpQueries() const { return tcpQueries_; }
  std::vector<std::string> Received() {
    std::lock_guard<std::mutex> lock(mu_);
    return received_;
  }
  std::vector<std::string> TcpReceived() {
    std::lock_guard<std::mutex> lock(mu_);
    return tcpReceived_;
  }

 private:
  static int Bind(int type, std::uint16_t port) {
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }
  void Run() {
    char buf[65536];
    while (!stop_) {
      std::vector<pollfd> p{{fd_, POLLIN, 0}};
      if (tcpScript_) p.push_back({tcp_, POLLIN, 0});
      for (int c : connections_) p.push_back({c, POLLIN, 0});
      if (::poll(p.data(), p.size(), 20) <= 0) continue;
      if (p[0].revents & POLLIN) Udp(buf, sizeof buf);
      if (tcpScript_ && (p[1].revents & POLLIN)) {
        const int c = ::accept4(tcp_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c >= 0) {
          connections_.push_back(c);
          streams_.emplace_back();
        }
      }
      const size_t first = tcpScript_ ? 2 : 1;
      for (size_t i = p.size(); i-- > first;) {
        if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        if (!Tcp(i - first, buf, sizeof buf)) {
          ::close(connections_[i - first]);
          connections_.erase(connections_.begin() + static_cast<long>(i - first));
          streams_.erase(streams_.begin() + static_cast<long>(i - first));
        }
      }
    }
  }
  void Udp(char* buf, size_t size) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(fd_, buf, size, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return;
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
  // Reads from connection i; false when it is to be closed.
  bool Tcp(size_t i, char* buf, size_t size) {
    const int c = connections_[i];
    const ssize_t n = ::recv(c, buf, size, 0);
    if (n <= 0) return false;
    std::string& stream = streams_[i];
    stream.append(buf, static_cast<size_t>(n));
    while (stream.size() >= 2) {
      const size_t length = (static_cast<unsigned char>(stream[0]) << 8) |
                            static_cast<unsigned char>(stream[1]);
      if (stream.size() < 2 + length) break;
      const std::string query = stream.substr(2, length);
      stream.erase(0, 2 + length);
      {
        std::lock_guard<std::mutex> lock(mu_);
        tcpReceived_.push_back(query);
      }
      ++tcpQueries_;
      for (const Datagram& d : tcpScript_(query)) {
        ::send(c, d.bytes.data(), d.bytes.size(), MSG_NOSIGNAL);
        if (d.close) return false;
        // Separate writes, so the client reads them in pieces.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    return true;
  }

  Script script_, tcpScript_;
  int fd_ = -1, other_ = -1, tcp_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> queries_{0}, tcpQueries_{0};
  std::mutex mu_;
  std::vector<std::string> received_, tcpReceived_;
  std::vector<int> connections_;
  std::vector<std::string> streams_;
  std::thread thread_;
};

}  // namespace dnstest
