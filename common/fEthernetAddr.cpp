#include "common/fEthernetAddr.h"

#include <algorithm>
#include <cstdio>

#include "platform/ConsoleCommand.h"
#include "platform/DnsConfig.h"
#include "platform/NetInterfaces.h"

namespace quovix {
namespace {

constexpr size_t kMaxHwAddrShown = 8;
constexpr size_t kMaxDescription = 256;

// Cut to at most n bytes without splitting a UTF-8 character.
std::string CutUtf8(const std::string& s, size_t n) {
  if (s.size() <= n) return s;
  size_t end = n;
  while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
  return s.substr(0, end);
}

}  // namespace

std::string DefaultDnsServer() {
  std::vector<std::string> servers = SystemDnsServers();
  return servers.empty() ? std::string() : servers.front();
}

std::vector<std::string> SystemDnsServers() {
  std::vector<std::string> servers = platform::DnsConfig().NameServers();
  if (!servers.empty() && servers.front().empty()) servers.clear();
  return servers;
}

std::vector<std::string> AllSystemDnsServers() {
  std::vector<std::string> servers = platform::DnsConfig().AllNameServers();
  if (!servers.empty() && servers.front().empty()) servers.clear();
  return servers;
}

std::string FirstSystemDnsServer() {
  std::vector<std::string> servers = AllSystemDnsServers();
  return servers.empty() ? std::string() : servers.front();
}

std::vector<LocalIPv6Address> LocalIPv6Addresses() {
  std::vector<platform::NetAddressRow> rows = platform::NetInterfaces().Addresses6();
  std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) {
    if (a.Index != b.Index) return a.Index < b.Index;
    return !a.Address.IsLinkLocal() && b.Address.IsLinkLocal();
  });
  std::vector<LocalIPv6Address> out;
  for (const auto& row : rows) {
    const IpAddress& a = row.Address;
    if (!a.IsV6() || a.IsLoopback() || a.Bytes()[0] == 0xFF) continue;
    const std::string text = IpAddress::FromV6(a.Bytes()).ToString();
    out.push_back({text, CutUtf8(row.Name, kMaxDescription), a.IsLinkLocal()});
  }
  return out;
}

std::string FormatHardwareAddress(const std::string& bytes) {
  std::string out;
  const size_t n = std::min(bytes.size(), kMaxHwAddrShown);
  for (size_t i = 0; i < n; ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, "%.2x", static_cast<unsigned char>(bytes[i]));
    if (i > 0) out += ':';
    out += pair;
  }
  return out;
}

std::vector<std::string> EthernetAdapterList() {
  std::vector<platform::NetInterfaceRow> rows = platform::NetInterfaces().Rows();
  std::stable_sort(rows.begin(), rows.end(),
                   [](const auto& a, const auto& b) { return a.Index < b.Index; });
  std::vector<std::string> list;
  for (const auto& row : rows) {
    // Wireless adapters report the Ethernet link type too, but are not
    // Ethernet adapters.
    if (row.LinkType != platform::kLinkEthernet || row.Wireless) continue;
    std::string hw = FormatHardwareAddress(row.HwAddr);
    if (hw.empty()) continue;
    std::string description = row.Model.empty() ? row.Name : row.Name + " (" + row.Model + ")";
    list.push_back(hw + "|" + CutUtf8(description, kMaxDescription));
  }
  return list;
}

std::string RunConsoleCommand(const std::string& command, int waitSliceMs, bool /*keepOem*/) {
  return platform::ConsoleCommand().Run(command, waitSliceMs);
}

}  // namespace quovix
