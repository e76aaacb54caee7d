// The system's DNS resolver cache: which caching service runs, and the
// command that empties it.
#pragma once

#include <string>

#include "platform/Seam.h"

namespace quovix::platform {

struct IDnsCache {
  virtual ~IDnsCache() = default;
  // The shell command that empties the running resolver cache (several
  // joined with "; " when more than one cache runs); empty when no system
  // cache runs.
  virtual std::string FlushCommand() = 0;
};

// Looks for systemd-resolved and nscd. A service counts as running when its
// socket accepts a connection (for resolved without its varlink socket, when
// its runtime folder exists) and its control program is found on PATH or in
// the system program folders.
class LinuxDnsCache : public IDnsCache {
 public:
  struct Paths {
    std::string ResolvedDir = "/run/systemd/resolve";
    std::string ResolvedSocket = "/run/systemd/resolve/io.systemd.Resolve";
    std::string NscdSocket = "/run/nscd/socket";
    // Program search path; empty: $PATH.
    std::string SearchPath;
    // Searched after the search path (a user's PATH often lacks them).
    std::string SystemDirs = "/usr/sbin:/sbin:/usr/bin:/bin";
  };
  LinuxDnsCache() = default;
  explicit LinuxDnsCache(Paths paths) : paths_(std::move(paths)) {}
  std::string FlushCommand() override;

 private:
  // The program as the command names it: its bare name when the search path
  // finds it, else its full path in a system folder; empty when missing.
  std::string Program(const std::string& name) const;
  Paths paths_;
};

IDnsCache& DnsCache();

}  // namespace quovix::platform
