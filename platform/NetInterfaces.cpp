#include "platform/NetInterfaces.h"

#include <dirent.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <memory>

#include "common/fMain.h"
#include "platform/SockAddr.h"

namespace quovix::platform {
namespace {

// Bounds against a strange or hostile tree: attribute files are short, and a
// machine with more interfaces than this is not one we list.
constexpr std::streamsize kMaxAttrBytes = 4096;
constexpr std::streamsize kMaxUdevRecordBytes = 64 * 1024;
constexpr size_t kMaxInterfaces = 4096;
constexpr size_t kMaxHwAddrBytes = 32;

std::string ReadAttr(const std::string& path, std::streamsize maxBytes = kMaxAttrBytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::string text(static_cast<size_t>(maxBytes), '\0');
  in.read(text.data(), maxBytes);
  text.resize(static_cast<size_t>(in.gcount()));
  return Trim(text);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "00:1a:2b:3c:4d:5e" → the bytes; empty when malformed.
std::string ParseHwAddr(const std::string& text) {
  std::string bytes;
  for (size_t i = 0; i < text.size() && bytes.size() < kMaxHwAddrBytes; i += 3) {
    if (i + 2 > text.size()) return {};
    int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0 || (i + 2 < text.size() && text[i + 2] != ':')) return {};
    bytes += static_cast<char>(hi * 16 + lo);
  }
  return bytes;
}

// Value of the line "prefix…" in a list of lines (uevent "NAME=", udev "E:NAME=").
std::string LineValue(const std::string& lines, const std::string& prefix) {
  size_t p = 0;
  while (p < lines.size()) {
    size_t e = lines.find('\n', p);
    if (e == std::string::npos) e = lines.size();
    if (lines.compare(p, prefix.size(), prefix) == 0)
      return Trim(lines.substr(p + prefix.size(), e - p - prefix.size()));
    p = e + 1;
  }
  return {};
}

std::string BaseName(const std::string& path) { return path.substr(path.find_last_of('/') + 1); }

bool Exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

std::vector<NetInterfaceRow> LinuxNetInterfaces::Rows() {
  std::vector<NetInterfaceRow> rows;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(sysClassNet_.c_str()), closedir);
  if (!dir) return rows;
  while (dirent* de = readdir(dir.get())) {
    std::string name = de->d_name;
    if (name.empty() || name[0] == '.') continue;
    if (rows.size() >= kMaxInterfaces) break;
    const std::string base = sysClassNet_ + "/" + name + "/";
    NetInterfaceRow row;
    row.Name = name;
    int index = StrToIntDef(ReadAttr(base + "ifindex"), -1);
    int type = StrToIntDef(ReadAttr(base + "type"), -1);
    if (index < 0 || type < 0) continue;
    row.Index = static_cast<unsigned>(index);
    row.LinkType = static_cast<unsigned>(type);
    row.HwAddr = ParseHwAddr(ReadAttr(base + "address"));
    int addrLen = StrToIntDef(ReadAttr(base + "addr_len"), -1);
    if (addrLen >= 0 && static_cast<size_t>(addrLen) < row.HwAddr.size()) row.HwAddr.resize(addrLen);

    const std::string devType = LineValue(ReadAttr(base + "uevent"), "DEVTYPE=");
    row.Wireless = devType == "wlan" || devType == "wwan" || Exists(base + "wireless") ||
                   Exists(base + "phy80211");

    // The model: udev's hardware database names it; a USB adapter names
    // itself; otherwise the driver's name is the best the system knows.
    const std::string record = ReadAttr(udevData_ + "/n" + std::to_string(index), kMaxUdevRecordBytes);
    std::string vendor = LineValue(record, "E:ID_VENDOR_FROM_DATABASE=");
    std::string model = LineValue(record, "E:ID_MODEL_FROM_DATABASE=");
    if (model.empty()) model = ReadAttr(base + "device/../product");
    if (!model.empty() && !vendor.empty() && model.rfind(vendor, 0) != 0) model = vendor + " " + model;
    if (model.empty()) {
      char link[4096];
      ssize_t n = readlink((base + "device/driver").c_str(), link, sizeof link - 1);
      if (n > 0) model = BaseName(std::string(link, static_cast<size_t>(n)));
    }
    row.Model = model;
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<NetAddressRow> LinuxNetInterfaces::Addresses6() {
  std::vector<NetAddressRow> out;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return out;
  for (ifaddrs* p = list; p && out.size() < kMaxInterfaces; p = p->ifa_next) {
    if (!p->ifa_addr || p->ifa_addr->sa_family != AF_INET6 || !p->ifa_name) continue;
    NetAddressRow row;
    row.Name = p->ifa_name;
    row.Index = if_nametoindex(p->ifa_name);
    row.Address = FromSockAddr(p->ifa_addr, sizeof(sockaddr_in6));
    if (!row.Address.Empty()) out.push_back(std::move(row));
  }
  freeifaddrs(list);
  return out;
}

INetInterfaces& NetInterfaces() { return SeamGet<INetInterfaces, LinuxNetInterfaces>(); }

}  // namespace quovix::platform
