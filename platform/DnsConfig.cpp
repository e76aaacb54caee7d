#include "platform/DnsConfig.h"

#include <arpa/inet.h>

#include <fstream>

namespace quovix::platform {
namespace {

// resolv.conf is a few lines; a larger file is read only this far.
constexpr std::streamsize kMaxConfBytes = 64 * 1024;
// More servers than this are never useful and bound the result.
constexpr size_t kMaxServers = 64;

bool ReadConf(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text.assign(kMaxConfBytes, '\0');
  in.read(text.data(), kMaxConfBytes);
  text.resize(static_cast<size_t>(in.gcount()));
  return true;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\f' || c == '\v'; }

}  // namespace

std::vector<std::string> ParseResolvConfServers(const std::string& text) {
  std::vector<std::string> servers;
  size_t pos = 0;
  while (pos < text.size() && servers.size() < kMaxServers) {
    size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;

    size_t i = 0;
    while (i < line.size() && IsBlank(line[i])) ++i;
    static const std::string kKeyword = "nameserver";
    if (line.compare(i, kKeyword.size(), kKeyword) != 0) continue;
    i += kKeyword.size();
    if (i >= line.size() || !IsBlank(line[i])) continue;
    while (i < line.size() && IsBlank(line[i])) ++i;
    size_t j = i;
    while (j < line.size() && !IsBlank(line[j]) && line[j] != '#' && line[j] != ';') ++j;
    std::string addr = line.substr(i, j - i);
    in_addr a{};
    if (addr.size() > 15 || inet_pton(AF_INET, addr.c_str(), &a) != 1) continue;
    char buf[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &a, buf, sizeof buf)) servers.emplace_back(buf);
  }
  return servers;
}

std::vector<std::string> LinuxDnsConfig::NameServers() {
  std::string text;
  if (!ReadConf(resolvConf_, text)) return {};
  std::vector<std::string> servers = ParseResolvConfServers(text);
  if (servers.size() == 1 && servers[0].rfind("127.", 0) == 0) {
    std::string upstreamText;
    if (ReadConf(stubUpstream_, upstreamText)) {
      std::vector<std::string> upstream = ParseResolvConfServers(upstreamText);
      // A stub that lists only itself upstream has nothing better to offer.
      if (!upstream.empty() && upstream != servers) return upstream;
    }
  }
  return servers;
}

IDnsConfig& DnsConfig() { return SeamGet<IDnsConfig, LinuxDnsConfig>(); }

}  // namespace quovix::platform
