// Socket addresses of both families from and to the address value: the one
// place where a zone becomes a scope id and back.
#pragma once

#include <sys/socket.h>

#include <cstdint>

#include "common/IpAddress.h"

namespace quovix::platform {

// Fills out with address and port (host order); returns the length to pass
// to the socket call, 0 for the empty address or a zone that names no
// interface of this system.
socklen_t ToSockAddr(const IpAddress& address, std::uint16_t port, sockaddr_storage& out);
// The address of a socket address of either family; an IPv6 scope id
// becomes the zone (the interface's name, else its number). Empty for any
// other family or a length too short.
IpAddress FromSockAddr(const sockaddr* sa, socklen_t len);
// The port of a socket address (host order); 0 for other families.
std::uint16_t PortOf(const sockaddr* sa, socklen_t len);

}  // namespace quovix::platform
