// Probes of a trace other than echo requests, for paths that filter those:
// UDP datagrams to a port per hop, or TCP SYNs to one port. Answers are
// matched to their hop by the port the probe carries, which stays the same
// for every probe of a hop within a run (addresses and ports make the flow
// a load balancer sees).
#pragma once

#include <memory>

#include "common/IpAddress.h"
#include "platform/Icmp.h"

namespace quovix::platform {

// UDP needs no privilege: the routers' errors come over the socket's error
// queue (IP_RECVERR, IPV6_RECVERR). The probe of hop n goes to port
// firstPort + n - 1; the target's "port unreachable", or any datagram it
// sends back, is its answer (status kIcmpSuccess from the target).
std::unique_ptr<IIcmpProbes> OpenUdpProbes(const IpAddress& address, int firstPort, int timeoutMs);

// TCP SYNs to port over a raw socket, which needs CAP_NET_RAW (without it
// every probe reports kIcmpNoService with the errno). The target's SYN-ACK
// or RST is its answer (kIcmpSuccess); each hop has a source port of its own.
std::unique_ptr<IIcmpProbes> OpenTcpProbes(const IpAddress& address, int port, int timeoutMs);

}  // namespace quovix::platform
