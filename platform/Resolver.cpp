#include "platform/Resolver.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "common/fMain.h"
#include "platform/SockAddr.h"

namespace quovix::platform {
namespace {

std::string AddressText(const in_addr& a) {
  char buf[INET_ADDRSTRLEN] = {};
  if (!inet_ntop(AF_INET, &a, buf, sizeof buf)) return {};
  return buf;
}

// More addresses than this for one name are never used and bound the answer.
constexpr std::size_t kMaxAddresses = 64;

class LinuxResolver : public IResolver {
 public:
  std::vector<IpAddress> Addresses(const std::string& name) override {
    std::vector<IpAddress> out;
    if (name.empty() || name.find('\0') != std::string::npos) return out;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
    addrinfo* res = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &res) != 0 || !res) return out;
    for (addrinfo* p = res; p && out.size() < kMaxAddresses; p = p->ai_next) {
      IpAddress a = FromSockAddr(p->ai_addr, p->ai_addrlen);
      if (!a.Empty() && std::find(out.begin(), out.end(), a) == out.end()) out.push_back(std::move(a));
    }
    freeaddrinfo(res);
    return out;
  }

  std::string AddressToHost(const IpAddress& address) override {
    sockaddr_storage ss{};
    const socklen_t len = ToSockAddr(address, 0, ss);
    if (len == 0) return {};
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<sockaddr*>(&ss), len, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0)
      return {};
    return host;
  }

  std::string HostToIp(const std::string& name) override {
    // A name with an embedded zero byte would be looked up cut short.
    if (name.empty() || name.find('\0') != std::string::npos) return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &res) != 0 || !res) return {};
    std::string text;
    for (addrinfo* p = res; p; p = p->ai_next) {
      if (p->ai_family == AF_INET && p->ai_addr) {
        text = AddressText(reinterpret_cast<sockaddr_in*>(p->ai_addr)->sin_addr);
        break;
      }
    }
    freeaddrinfo(res);
    return text;
  }

  std::string IpToHost(std::uint32_t address) override {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address);
    char host[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<sockaddr*>(&sa), sizeof sa, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0)
      return {};
    return host;
  }

  std::string OwnAddress() override {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return "127.0.0.1";
    std::string text;
    for (ifaddrs* p = list; p && text.empty(); p = p->ifa_next) {
      if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET) continue;
      if (!(p->ifa_flags & IFF_UP) || (p->ifa_flags & IFF_LOOPBACK)) continue;
      text = AddressText(reinterpret_cast<sockaddr_in*>(p->ifa_addr)->sin_addr);
    }
    freeifaddrs(list);
    return text.empty() ? "127.0.0.1" : text;
  }

  std::string SystemHostName() override {
    char buf[HOST_NAME_MAX + 1] = {};
    if (gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
  }
};

std::shared_ptr<IResolver>& Installed() {
  static std::shared_ptr<IResolver> p;
  return p;
}

}  // namespace

std::vector<IpAddress> IResolver::Addresses(const std::string& name) {
  const IpAddress a = IpAddress::Parse(Trim(HostToIp(name)));
  if (a.Empty()) return {};
  return {a};
}

std::string IResolver::AddressToHost(const IpAddress& address) {
  return address.IsV4() ? IpToHost(address.V4Number()) : std::string();
}

std::shared_ptr<IResolver> Resolver() {
  if (auto p = Installed()) return p;
  static const std::shared_ptr<IResolver> system = std::make_shared<LinuxResolver>();
  return system;
}

ScopedResolver::ScopedResolver(std::shared_ptr<IResolver> replacement)
    : previous_(std::move(Installed())) {
  Installed() = std::move(replacement);
}

ScopedResolver::~ScopedResolver() { Installed() = std::move(previous_); }

}  // namespace quovix::platform
