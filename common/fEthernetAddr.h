// Local host information: configured DNS servers, Ethernet adapters and the
// output of console commands. Every call asks the system anew; failures give
// an empty result, never an error.
#pragma once

#include <string>
#include <vector>

namespace quovix {

// The first configured DNS server as dotted IPv4 text; empty when none.
std::string DefaultDnsServer();
// All configured DNS servers in the system's order; empty when none. IPv4 only.
std::vector<std::string> SystemDnsServers();
// The configured DNS servers of both families in the system's order (IPv6
// in RFC 5952 form); empty when none.
std::vector<std::string> AllSystemDnsServers();
// The first of them, of either family: the server the DNS tool asks unless
// the user chose another; empty when none.
std::string FirstSystemDnsServer();

// One IPv6 address of this computer.
struct LocalIPv6Address {
  std::string Address;    // RFC 5952 form, without a zone
  std::string Interface;  // the interface that has it
  bool LinkLocal = false;
};
// This computer's global and link-local IPv6 addresses (no loopback, no
// multicast), in interface-index order, the global ones of an interface
// before its link-local ones.
std::vector<LocalIPv6Address> LocalIPv6Addresses();
// One entry per Ethernet adapter in interface-index order:
// "00:1a:2b:3c:4d:5e|description".
std::vector<std::string> EthernetAdapterList();
// Hardware address bytes (at most the first 8) as lower-case hex pairs joined
// by ":" (as ip and ifconfig show them); empty for no bytes.
std::string FormatHardwareAddress(const std::string& bytes);
// Runs command through the shell and returns what it wrote to standard
// output; waits in slices of waitSliceMs. keepOem changes nothing here: the
// console and the window share one encoding (UTF-8).
std::string RunConsoleCommand(const std::string& command, int waitSliceMs, bool keepOem);

}  // namespace quovix
