#include "platform/DnsCache.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace quovix::platform {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

// A listening service behind a Unix stream socket. A socket file left behind
// by a service that stopped refuses the connection.
bool SocketAccepts(const std::string& path) {
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof addr.sun_path) return false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  close(fd);
  return ok;
}

std::string FindIn(const std::string& dirs, const std::string& name) {
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    if (end > start) {
      const std::string candidate = dirs.substr(start, end - start) + "/" + name;
      if (access(candidate.c_str(), X_OK) == 0) return candidate;
    }
    start = end + 1;
  }
  return {};
}

// A path as one shell word.
std::string ShellWord(const std::string& s) {
  if (s.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._-+") ==
      std::string::npos)
    return s;
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

std::string LinuxDnsCache::Program(const std::string& name) const {
  std::string search = paths_.SearchPath;
  if (search.empty()) {
    const char* env = std::getenv("PATH");
    search = env ? env : "";
  }
  if (!FindIn(search, name).empty()) return name;
  return ShellWord(FindIn(paths_.SystemDirs, name));
}

std::string LinuxDnsCache::FlushCommand() {
  std::string command;
  // systemd-resolved: its varlink socket where it has one; older versions
  // only leave their runtime folder.
  const bool resolved = IsDirectory(paths_.ResolvedDir) &&
                        (Exists(paths_.ResolvedSocket) ? SocketAccepts(paths_.ResolvedSocket)
                                                       : true);
  if (resolved) {
    const std::string program = Program("resolvectl");
    if (!program.empty()) command = program + " flush-caches";
  }
  // nscd answers glibc's look-ups before any resolver is asked, so where it
  // runs beside resolved both caches are emptied.
  if (SocketAccepts(paths_.NscdSocket)) {
    const std::string program = Program("nscd");
    if (!program.empty()) command += (command.empty() ? "" : "; ") + program + " --invalidate=hosts";
  }
  return command;
}

IDnsCache& DnsCache() { return SeamGet<IDnsCache, LinuxDnsCache>(); }

}  // namespace quovix::platform
