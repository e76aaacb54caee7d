#include "platform/DnsConfig.h"

#include <arpa/inet.h>

#include <fstream>

#include "common/IpAddress.h"

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

std::vector<std::string> ParseResolvConfServers(const std::string& text, bool withIPv6) {
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
    if (withIPv6 && addr.find(':') != std::string::npos) {
      const IpAddress v6 = IpAddress::Parse(addr);
      if (v6.IsV6() && addr.front() != '[') servers.push_back(v6.ToString());
      continue;
    }
    in_addr a{};
    if (addr.size() > 15 || inet_pton(AF_INET, addr.c_str(), &a) != 1) continue;
    char buf[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &a, buf, sizeof buf)) servers.emplace_back(buf);
  }
  return servers;
}

std::vector<std::string> LinuxDnsConfig::NameServers() { return Read(false); }

std::vector<std::string> LinuxDnsConfig::AllNameServers() { return Read(true); }

std::vector<std::string> LinuxDnsConfig::Read(bool withIPv6) {
  std::string text;
  if (!ReadConf(resolvConf_, text)) return {};
  // The stub is recognised by the IPv4 servers of the main file, whatever
  // IPv6 servers stand beside it.
  const std::vector<std::string> v4 = ParseResolvConfServers(text);
  if (v4.size() == 1 && v4[0].rfind("127.", 0) == 0) {
    std::string upstreamText;
    if (ReadConf(stubUpstream_, upstreamText)) {
      std::vector<std::string> upstream = ParseResolvConfServers(upstreamText);
      // A stub that lists only itself upstream has nothing better to offer.
      if (!upstream.empty() && upstream != v4)
        return withIPv6 ? ParseResolvConfServers(upstreamText, true) : upstream;
    }
  }
  return withIPv6 ? ParseResolvConfServers(text, true) : v4;
}

IDnsConfig& DnsConfig() { return SeamGet<IDnsConfig, LinuxDnsConfig>(); }

}  // namespace quovix::platform
