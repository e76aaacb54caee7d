// Data packs.
#include <stdexcept>

#include "common/fMain.h"

namespace quovix {

// Built with the data packs; until then every pack is missing.
std::string ReadWholeFile(const std::string& path) { throw std::runtime_error("cannot open " + path); }
std::string InflateText(const std::string&) { throw std::runtime_error("no data"); }
std::string LoadPak(const std::string& path) { return InflateText(ReadWholeFile(path)); }
TldInfo LookupTld(const std::string&) { return {}; }
void LookupNetworkRegistry(const std::string&, NetworkRegistry&) {}
std::string LookupIpCountry(const std::string&) { return {}; }
std::string RegisteredDomain(const std::string& text, const std::vector<std::string>&) { return text; }
int ListDataFiles(const std::string&, const std::string&, std::vector<std::string>&) { return 0; }

}  // namespace quovix
