// Local host information: configured DNS servers, Ethernet adapters and the
// output of console commands. Every call asks the system anew; failures give
// an empty result, never an error.
#pragma once

#include <string>
#include <vector>

namespace quovix {

// The first configured DNS server as dotted IPv4 text; empty when none.
std::string DefaultDnsServer();
// All configured DNS servers in the system's order; empty when none.
std::vector<std::string> SystemDnsServers();
// One entry per Ethernet adapter in interface-index order:
// "00-1a-2b-3c-4d-5e|description".
std::vector<std::string> EthernetAdapterList();
// Hardware address bytes (at most the first 8) as lower-case hex pairs joined
// by "-"; empty for no bytes.
std::string FormatHardwareAddress(const std::string& bytes);
// Runs command through the shell and returns what it wrote to standard
// output; waits in slices of waitSliceMs. keepOem changes nothing here: the
// console and the window share one encoding (UTF-8).
std::string RunConsoleCommand(const std::string& command, int waitSliceMs, bool keepOem);

}  // namespace quovix
