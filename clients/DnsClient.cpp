// DNS message client over UDP. The reply comes from the network and is read
// as untrusted bytes: every read is checked against the message length,
// compression pointers are followed a bounded number of times, and anything
// that does not add up is a malformed reply (an error), never a crash.
#include "clients/DnsClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>

#include "common/Pump.h"
#include "common/fMain.h"

namespace quovix {

namespace {

constexpr size_t kHeaderSize = 12;
constexpr size_t kReceiveBufferSize = 8192;
constexpr size_t kMaxNameWireLength = 255;
// A legitimate name has at most 127 labels, so it never needs more jumps
// than that; a chain longer than this can only be a loop.
constexpr int kMaxPointerJumps = 128;

constexpr std::uint16_t kTypeCodes[] = {
    1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16,  // qtA … qtTXT
    21, 22, 23, 24,                                                  // qtRT … qtSIG
    28, 33, 35,                                                      // qtAAAA, qtService, qtNAPTR
    37, 38, 39, 40, 41,                                              // qtCERT … qtOptional
    251, 252, 255};                                                  // qtIXFR, qtAXFR, qtSTAR
static_assert(sizeof(kTypeCodes) / sizeof(kTypeCodes[0]) == qtSTAR + 1);

[[noreturn]] void Malformed(const char* what) {
  throw EIdDnsResolverError(std::string("Malformed DNS reply: ") + what);
}

std::uint16_t Get16(const unsigned char* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
std::uint32_t Get32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}
void Put16(std::string& out, std::uint16_t v) {
  out += static_cast<char>(v >> 8);
  out += static_cast<char>(v & 0xFF);
}

std::vector<std::string> SplitDots(const std::string& s) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t dot = s.find('.', start);
    parts.push_back(s.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts;
}

// The name as labels on the wire. A label that is empty (two dots in a row, a
// leading dot) or longer than 63 bytes, or a name longer than 255 bytes,
// cannot be written without the server reading something else than was
// meant, so such a name is refused before anything is sent.
std::string EncodeName(std::string name) {
  if (!name.empty() && name.back() == '.') name.pop_back();  // fully qualified form
  std::string out;
  if (!name.empty()) {
    for (const std::string& label : SplitDots(name)) {
      if (label.empty())
        throw EIdDnsResolverError("Cannot encode the name \"" + name + "\": empty label");
      if (label.size() > 63)
        throw EIdDnsResolverError("Cannot encode the name \"" + name + "\": label too long");
      out += static_cast<char>(label.size());
      out += label;
    }
  }
  out += '\0';
  if (out.size() > kMaxNameWireLength)
    throw EIdDnsResolverError("Cannot encode the name \"" + name + "\": name too long");
  return out;
}

const char* RcodeText(int rcode) {
  switch (rcode) {
    case 1: return "format error";
    case 2: return "server failure";
    case 3: return "name error";
    case 4: return "not implemented";
    case 5: return "refused";
    default: return "unrecognised server error";
  }
}

TRecordKind KindOf(std::uint16_t type) {
  switch (type) {
    case kTypeA: return TRecordKind::A;
    case kTypeNS: return TRecordKind::NS;
    case kTypeCNAME: return TRecordKind::Name;
    case kTypePTR: return TRecordKind::PTR;
    case kTypeMX: return TRecordKind::MX;
    case kTypeTXT: return TRecordKind::Text;
    case kTypeSOA: return TRecordKind::SOA;
    default: return TRecordKind::Other;
  }
}

// A name inside RDATA: decoded against the whole message, but its own bytes
// must stay within the RDATA.
std::string RDataName(const unsigned char* msg, size_t size, size_t& p, size_t rdEnd) {
  std::string name = DecodeDnsName(msg, size, p);
  if (p > rdEnd) Malformed("name runs past its record data");
  return name;
}

// Decodes the fields of rec's kind from the RDATA at msg[rdStart, rdEnd).
void DecodeRData(TResultRecord& rec, const unsigned char* msg, size_t size, size_t rdStart,
                 size_t rdEnd) {
  size_t p = rdStart;
  switch (rec.Kind) {
    case TRecordKind::A:
      if (rdEnd - rdStart != 4) Malformed("address record of wrong length");
      rec.IPAddress = std::to_string(msg[p]) + "." + std::to_string(msg[p + 1]) + "." +
                      std::to_string(msg[p + 2]) + "." + std::to_string(msg[p + 3]);
      break;
    case TRecordKind::NS:
    case TRecordKind::Name:
    case TRecordKind::PTR:
      rec.HostName = RDataName(msg, size, p, rdEnd);
      break;
    case TRecordKind::MX:
      if (rdEnd - rdStart < 3) Malformed("mail exchanger record too short");
      rec.Preference = Get16(msg + p);
      p += 2;
      rec.HostName = RDataName(msg, size, p, rdEnd);
      break;
    case TRecordKind::Text: {
      std::string joined;
      while (p < rdEnd) {
        size_t len = msg[p];
        if (p + 1 + len > rdEnd) Malformed("character-string runs past its record data");
        joined.append(reinterpret_cast<const char*>(msg + p + 1), len);
        p += 1 + len;
      }
      if (!joined.empty()) rec.Text.push_back(std::move(joined));
      break;
    }
    case TRecordKind::SOA:
      rec.Primary = RDataName(msg, size, p, rdEnd);
      rec.Responsible = RDataName(msg, size, p, rdEnd);
      if (p + 20 > rdEnd) Malformed("start-of-authority record too short");
      rec.Serial = Get32(msg + p);
      rec.Refresh = Get32(msg + p + 4);
      rec.Retry = Get32(msg + p + 8);
      rec.Expire = Get32(msg + p + 12);
      rec.MinimumTTL = Get32(msg + p + 16);
      break;
    case TRecordKind::Other:
      break;
  }
}

// ---- Socket helpers ------------------------------------------------------------

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void SocketError(const char* what, int err) {
  throw EIdDnsResolverError(std::string("Socket Error: ") + what + ": " + std::strerror(err));
}

bool SameEndpoint(const sockaddr_storage& a, const sockaddr_storage& b) {
  if (a.ss_family != b.ss_family) return false;
  if (a.ss_family == AF_INET) {
    auto& x = reinterpret_cast<const sockaddr_in&>(a);
    auto& y = reinterpret_cast<const sockaddr_in&>(b);
    return x.sin_port == y.sin_port && x.sin_addr.s_addr == y.sin_addr.s_addr;
  }
  if (a.ss_family == AF_INET6) {
    auto& x = reinterpret_cast<const sockaddr_in6&>(a);
    auto& y = reinterpret_cast<const sockaddr_in6&>(b);
    return x.sin6_port == y.sin6_port &&
           std::memcmp(&x.sin6_addr, &y.sin6_addr, sizeof x.sin6_addr) == 0;
  }
  return false;
}

std::uint16_t RandomId() {
  static std::random_device rd;
  return static_cast<std::uint16_t>(std::uniform_int_distribution<int>(0, 65534)(rd));
}

}  // namespace

std::uint16_t QueryTypeCode(TQueryRecordType t) { return kTypeCodes[t]; }

void TQueryResult::Clear() {
  records_.clear();
  HasQuestion = false;
  QName.clear();
  QType = 0;
  QClass = 0;
}

std::string DecodeDnsName(const unsigned char* msg, size_t size, size_t& pos) {
  std::string name;
  size_t p = pos;
  size_t resume = 0;  // just after the first pointer, once one was followed
  bool jumped = false;
  int jumps = 0;
  size_t wireLength = 1;  // the terminating zero
  for (;;) {
    if (p >= size) Malformed("name runs past the end of the message");
    const unsigned char len = msg[p];
    if ((len & 0xC0) == 0xC0) {
      if (p + 1 >= size) Malformed("compression pointer runs past the end of the message");
      if (!jumped) resume = p + 2;
      jumped = true;
      if (++jumps > kMaxPointerJumps) Malformed("compression pointer loop");
      p = (static_cast<size_t>(len & 0x3F) << 8) | msg[p + 1];
      continue;
    }
    if (len == 0) {
      ++p;
      break;
    }
    // Lengths 64 to 191 carry flag bits that no current standard uses; they
    // are read as plain label lengths.
    if (p + 1 + len > size) Malformed("label runs past the end of the message");
    wireLength += 1 + len;
    if (wireLength > kMaxNameWireLength) Malformed("name longer than 255 bytes");
    name.append(reinterpret_cast<const char*>(msg + p + 1), len);
    name += '.';
    p += 1 + len;
  }
  pos = jumped ? resume : p;
  if (!name.empty()) name.pop_back();
  return name;
}

std::string PtrQueryName(const std::string& name) {
  const std::string upper = UpperAscii(name);
  if (upper.find("IN-ADDR") != std::string::npos || upper.find("IP6.INT") != std::string::npos ||
      upper.find("IP6.ARPA") != std::string::npos)
    return name;
  std::string address = name;
  if (!address.empty() && address.back() == '.') address.pop_back();
  std::vector<std::string> parts = SplitDots(address);
  std::string reverse;
  for (auto it = parts.rbegin(); it != parts.rend(); ++it) reverse += *it + ".";
  return reverse + "in-addr.arpa";
}

std::string TIdDNSResolver::BuildQuery(const std::string& name, std::uint16_t qclass,
                                       std::uint16_t id) const {
  if (QueryType.empty()) throw EIdDnsResolverError("No query type: there is no question to ask");
  std::string msg;
  Put16(msg, id);
  Put16(msg, AllowRecursiveQueries ? 0x0100 : 0x0000);
  Put16(msg, static_cast<std::uint16_t>(QueryType.size()));
  Put16(msg, 0);
  Put16(msg, 0);
  Put16(msg, 0);
  for (TQueryRecordType t : QueryType) {  // std::set: in the order of the type list
    msg += EncodeName(t == qtPTR ? PtrQueryName(name) : name);
    Put16(msg, QueryTypeCode(t));
    Put16(msg, qclass);
  }
  return msg;
}

void TIdDNSResolver::ReadReply(const unsigned char* msg, size_t size, std::uint16_t id) {
  if (size < kHeaderSize) Malformed("shorter than its header");
  if (Get16(msg) != id) throw EIdDnsResolverError("DNS reply identifier does not match the query");
  const int rcode = msg[3] & 0x0F;
  lastRcode_ = rcode;
  if (rcode != 0)
    throw EIdDnsResolverError(std::string("DNS server answered: ") + RcodeText(rcode), rcode);
  const unsigned qdCount = Get16(msg + 4);
  const unsigned counts[3] = {Get16(msg + 6), Get16(msg + 8), Get16(msg + 10)};
  if (counts[0] + counts[1] + counts[2] == 0 || size == kHeaderSize) return;

  // Read into a fresh list and take it over only when the whole reply read
  // cleanly, so that a malformed reply leaves the previous result.
  TQueryResult result;
  size_t pos = kHeaderSize;
  for (unsigned q = 0; q < qdCount; ++q) {
    std::string qname = DecodeDnsName(msg, size, pos);
    if (pos + 4 > size) Malformed("question runs past the end of the message");
    if (qdCount == 1) {
      result.HasQuestion = true;
      result.QName = std::move(qname);
      result.QType = Get16(msg + pos);
      result.QClass = Get16(msg + pos + 2);
    }
    pos += 4;
  }
  const TRecordSection sections[3] = {TRecordSection::Answer, TRecordSection::Authority,
                                      TRecordSection::Additional};
  for (int s = 0; s < 3; ++s) {
    for (unsigned i = 0; i < counts[s]; ++i) {
      TResultRecord rec;
      rec.Section = sections[s];
      rec.Name = DecodeDnsName(msg, size, pos);
      if (pos + 10 > size) Malformed("record header runs past the end of the message");
      rec.TypeCode = Get16(msg + pos);
      rec.Class = Get16(msg + pos + 2);
      rec.TTL = Get32(msg + pos + 4);
      rec.RDataLength = Get16(msg + pos + 8);
      rec.Kind = KindOf(rec.TypeCode);
      const size_t rdStart = pos + 10;
      const size_t rdEnd = rdStart + rec.RDataLength;
      if (rdEnd > size) Malformed("record data runs past the end of the message");
      rec.RData.assign(reinterpret_cast<const char*>(msg + rdStart), rec.RDataLength);
      DecodeRData(rec, msg, size, rdStart, rdEnd);
      result.records_.push_back(std::move(rec));
      pos = rdEnd;
    }
  }
  QueryResult = std::move(result);
}

void TIdDNSResolver::SendQuery(const std::string& name, std::uint16_t qclass) {
  const std::uint16_t id = RandomId();
  const std::string query = BuildQuery(name, qclass, id);
  lastId_ = id;
  lastRcode_ = -1;

  // The server's address.
  sockaddr_storage server{};
  socklen_t serverLen = 0;
  if (IPVersion == TIdIPVersion::Id_IPv4) {
    auto& sin = reinterpret_cast<sockaddr_in&>(server);
    sin.sin_family = AF_INET;
    sin.sin_port = htons(Port);
    std::string address = Host;
    if (inet_pton(AF_INET, address.c_str(), &sin.sin_addr) != 1) {
      address = Host.empty() ? std::string() : ResolveHostToIp(Host, WaitingTime);
      if (address.empty() || inet_pton(AF_INET, address.c_str(), &sin.sin_addr) != 1)
        throw EIdDnsResolverError("Socket Error: DNS server \"" + Host + "\" not found");
    }
    serverLen = sizeof(sockaddr_in);
  } else {
    auto& sin6 = reinterpret_cast<sockaddr_in6&>(server);
    sin6.sin6_family = AF_INET6;
    sin6.sin6_port = htons(Port);
    if (inet_pton(AF_INET6, Host.c_str(), &sin6.sin6_addr) != 1)
      throw EIdDnsResolverError("Socket Error: DNS server \"" + Host + "\" is no IPv6 address");
    serverLen = sizeof(sockaddr_in6);
  }

  Fd fd(::socket(server.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) SocketError("socket", errno);
  // Connected: the kernel drops datagrams from any other address, and an
  // unreachable port is reported instead of waited out.
  if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&server), serverLen) != 0)
    SocketError("connect", errno);
  ssize_t sent;
  do {
    sent = ::send(fd.get(), query.data(), query.size(), 0);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) SocketError("send", errno);

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(0, WaitingTime));
  bool sawForeignId = false;
  std::vector<unsigned char> buffer(kReceiveBufferSize);
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd pfd{fd.get(), POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left, kWaitSliceMs)));
    if (ready < 0 && errno != EINTR) SocketError("poll", errno);
    if (ready > 0) {
      sockaddr_storage from{};
      socklen_t fromLen = sizeof from;
      const ssize_t n = ::recvfrom(fd.get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &fromLen);
      if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) SocketError("recv", errno);
      } else if (!SameEndpoint(from, server)) {
        // Not from the server asked: not the answer.
      } else if (n < 5) {
        // Too short to be a reply at all: ignored.
      } else if (Get16(buffer.data()) != id) {
        // A stray or forged datagram; the real reply may still come.
        sawForeignId = true;
      } else {
        ReadReply(buffer.data(), static_cast<size_t>(n), id);
        return;
      }
    }
    ProcessPendingMessages();
  }
  if (sawForeignId) throw EIdDnsResolverError("DNS reply identifier does not match the query");
}

}  // namespace quovix
