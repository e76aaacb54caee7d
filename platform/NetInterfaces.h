// The system's network interface table.
#pragma once

#include <string>
#include <vector>

#include "common/IpAddress.h"
#include "platform/Seam.h"

namespace quovix::platform {

// Link types as the kernel reports them (ARPHRD_*).
constexpr unsigned kLinkEthernet = 1;
constexpr unsigned kLinkLoopback = 772;

struct NetInterfaceRow {
  unsigned Index = 0;       // interface index
  std::string Name;         // e.g. "eth0"
  unsigned LinkType = 0;    // ARPHRD_* value
  bool Wireless = false;    // a WLAN/WWAN device that reports the Ethernet link type
  std::string HwAddr;       // hardware address bytes (length as the kernel gives it)
  std::string Model;        // device model where the system knows it, else empty
};

// One IPv6 address of an interface.
struct NetAddressRow {
  unsigned Index = 0;       // interface index
  std::string Name;         // interface name
  IpAddress Address;        // a link-local one with the interface as its zone
};

struct INetInterfaces {
  virtual ~INetInterfaces() = default;
  // Every interface, in no particular order; empty when the table cannot be read.
  virtual std::vector<NetInterfaceRow> Rows() = 0;
  // The IPv6 addresses of the interfaces, in no particular order; empty when
  // none or the table cannot be read. A table without addresses has none.
  virtual std::vector<NetAddressRow> Addresses6() { return {}; }
};

// Reads the table from sysfs (one directory per interface) and the device
// models from the udev database; both roots can be pointed at a test tree.
class LinuxNetInterfaces : public INetInterfaces {
 public:
  explicit LinuxNetInterfaces(std::string sysClassNet = "/sys/class/net",
                              std::string udevData = "/run/udev/data")
      : sysClassNet_(std::move(sysClassNet)), udevData_(std::move(udevData)) {}
  std::vector<NetInterfaceRow> Rows() override;
  // From the kernel's address list (getifaddrs), whatever the roots say.
  std::vector<NetAddressRow> Addresses6() override;

 private:
  std::string sysClassNet_;
  std::string udevData_;
};

INetInterfaces& NetInterfaces();

}  // namespace quovix::platform
