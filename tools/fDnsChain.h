// The DNS tool's DNSSEC check: the chain walk asked of the configured
// server, and its lines.
#pragma once

#include <cstdint>
#include <string>

#include "clients/DnsClient.h"
#include "clients/DnssecChain.h"
#include "clients/Iterative.h"

namespace quovix {

// One query of the check: the resolver's settings with the DO and CD bits
// (a validating server hands out what fails its validation too), the whole
// reply whatever its code, or why none came. Defined with the DNS tool,
// whose failure texts it shares.
TChainReply AskWithDnssec(const TIdDNSResolver& base, const std::string& name,
                          std::uint16_t type);

// The trust anchor file: root.key beside the program when there is one,
// else dns-root-data's.
std::string TrustAnchorPath();

}  // namespace quovix

namespace quovix {

// One query of the walk from the root: the server at address, port 53,
// without recursion. Defined with the DNS tool.
TIterReply AskIteratively(const TIdDNSResolver& base, const std::string& address,
                          const std::string& name, std::uint16_t type);

// The root hints file: root.hints beside the program when there is one,
// else dns-root-data's.
std::string RootHintsPath();

}  // namespace quovix
