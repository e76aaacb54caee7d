// Source of the configured DNS servers: the resolver configuration file, with
// the upstream list of a local stub resolver where one is in front.
#pragma once

#include <string>
#include <vector>

#include "platform/Seam.h"

namespace quovix::platform {

struct IDnsConfig {
  virtual ~IDnsConfig() = default;
  // The configured IPv4 name servers in the system's order; empty when none
  // or the configuration cannot be read.
  virtual std::vector<std::string> NameServers() = 0;
  // The configured name servers of both families in the system's order,
  // IPv6 ones in RFC 5952 form (a zone kept). A source that knows only IPv4
  // answers with NameServers.
  virtual std::vector<std::string> AllNameServers() { return NameServers(); }
};

// Reads resolv.conf-style files. When the only IPv4 server of the main file
// is a loopback address (a local stub resolver such as 127.0.0.53) and the
// stub's upstream file lists servers, those are the answer: they are the
// servers the stub itself asks.
class LinuxDnsConfig : public IDnsConfig {
 public:
  explicit LinuxDnsConfig(std::string resolvConf = "/etc/resolv.conf",
                          std::string stubUpstream = "/run/systemd/resolve/resolv.conf")
      : resolvConf_(std::move(resolvConf)), stubUpstream_(std::move(stubUpstream)) {}
  std::vector<std::string> NameServers() override;
  std::vector<std::string> AllNameServers() override;

 private:
  std::vector<std::string> Read(bool withIPv6);
  std::string resolvConf_;
  std::string stubUpstream_;
};

// The IPv4 addresses of the "nameserver" lines of a resolv.conf text, in file
// order, each as dotted text; other lines, IPv6 servers (unless withIPv6)
// and malformed addresses are skipped. IPv6 servers come in RFC 5952 form.
std::vector<std::string> ParseResolvConfServers(const std::string& text, bool withIPv6 = false);

IDnsConfig& DnsConfig();

}  // namespace quovix::platform
