#include "platform/SockAddr.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>

#include <cstring>

#include "common/fMain.h"

namespace quovix::platform {

socklen_t ToSockAddr(const IpAddress& address, std::uint16_t port, sockaddr_storage& out) {
  out = {};
  if (address.IsV4()) {
    auto* sin = reinterpret_cast<sockaddr_in*>(&out);
    sin->sin_family = AF_INET;
    sin->sin_port = htons(port);
    std::memcpy(&sin->sin_addr, address.Data(), 4);
    return sizeof(sockaddr_in);
  }
  if (!address.IsV6()) return 0;
  auto* sin6 = reinterpret_cast<sockaddr_in6*>(&out);
  sin6->sin6_family = AF_INET6;
  sin6->sin6_port = htons(port);
  std::memcpy(&sin6->sin6_addr, address.Data(), 16);
  if (const std::string& zone = address.Zone(); !zone.empty()) {
    unsigned index = if_nametoindex(zone.c_str());
    if (index == 0) {
      const int n = StrToIntDef(zone, -1);
      if (n <= 0 || zone.find_first_not_of("0123456789") != std::string::npos) return 0;
      index = static_cast<unsigned>(n);
    }
    sin6->sin6_scope_id = index;
  }
  return sizeof(sockaddr_in6);
}

IpAddress FromSockAddr(const sockaddr* sa, socklen_t len) {
  if (!sa || len < static_cast<socklen_t>(sizeof(sa_family_t))) return {};
  if (sa->sa_family == AF_INET && len >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
    sockaddr_in sin;
    std::memcpy(&sin, sa, sizeof sin);
    return IpAddress::FromV4(ntohl(sin.sin_addr.s_addr));
  }
  if (sa->sa_family == AF_INET6 && len >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
    sockaddr_in6 sin6;
    std::memcpy(&sin6, sa, sizeof sin6);
    std::array<std::uint8_t, 16> bytes;
    std::memcpy(bytes.data(), &sin6.sin6_addr, 16);
    std::string zone;
    if (sin6.sin6_scope_id != 0) {
      char name[IF_NAMESIZE] = {};
      zone = if_indextoname(sin6.sin6_scope_id, name) ? std::string(name)
                                                      : std::to_string(sin6.sin6_scope_id);
    }
    return IpAddress::FromV6(bytes, std::move(zone));
  }
  return {};
}

std::uint16_t PortOf(const sockaddr* sa, socklen_t len) {
  if (!sa) return 0;
  if (sa->sa_family == AF_INET && len >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
    sockaddr_in sin;
    std::memcpy(&sin, sa, sizeof sin);
    return ntohs(sin.sin_port);
  }
  if (sa->sa_family == AF_INET6 && len >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
    sockaddr_in6 sin6;
    std::memcpy(&sin6, sa, sizeof sin6);
    return ntohs(sin6.sin6_port);
  }
  return 0;
}

}  // namespace quovix::platform
