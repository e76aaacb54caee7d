// Host names, addresses and IDN (bounded look-ups on workers).
#include "common/fMain.h"

namespace quovix {

// Built with the host helpers; until then look-ups find nothing.
std::string ResolveHostToIp(const std::string&, int) { return {}; }
std::string ResolveIpToHost(const std::string&, int) { return {}; }
std::string EncodeIdn(const std::string& name) { return name; }

}  // namespace quovix
