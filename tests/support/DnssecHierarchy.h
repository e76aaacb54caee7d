// A signed DNS hierarchy of the tests' own: a root zone, the TLD "test" and
// domains under it (see dnssec-zones.sh for what each one is), served by
// three nsd instances on port 53 of loopback addresses of a 127.x.y.0/24 of
// their own (root .1, TLD .2, domains .3), and unbound at .9 on a free port
// as the validating resolver in front, with the hierarchy's root hints and
// trust anchor. Port 53 needs root; Start says why it cannot run otherwise.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackPort.h"

namespace quovix::test {

class DnssecHierarchy {
 public:
  DnssecHierarchy() = default;
  DnssecHierarchy(const DnssecHierarchy&) = delete;
  DnssecHierarchy& operator=(const DnssecHierarchy&) = delete;
  ~DnssecHierarchy() {
    for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) Stop(*it);
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // Empty when the servers run, else why they do not. extra: records added
  // to a domain's zone before it is signed, by domain ("good", "insecure"),
  // "@NET@" in them standing for the hierarchy's net ("127.x.y.").
  std::string Start(const std::map<std::string, std::string>& extra = {}) {
    if (geteuid() != 0) return "needs root (name servers on port 53 of loopback addresses)";
    for (const char* tool : {"/usr/sbin/nsd", "/usr/sbin/unbound", "/usr/bin/ldns-signzone",
                             "/usr/bin/ldns-keygen"})
      if (access(tool, X_OK) != 0)
        return std::string(tool) + " missing (packages nsd, unbound, ldnsutils)";
    std::random_device rd;
    for (int attempt = 0; attempt < 5; ++attempt) {
      Clear();
      const unsigned x = 100 + rd() % 100, y = 1 + rd() % 250;
      net_ = "127." + std::to_string(x) + "." + std::to_string(y) + ".";
      char tmpl[] = "/tmp/quovix-dnssec-XXXXXX";
      if (!mkdtemp(tmpl)) return "no temporary folder";
      dir_ = tmpl;
      for (const auto& [domain, records] : extra) {
        std::string text = records;
        for (size_t at; (at = text.find("@NET@")) != std::string::npos;) text.replace(at, 5, net_);
        std::ofstream(dir_ + "/extra-" + domain + ".zone") << text;
      }
      const std::string script = std::string(QUOVIX_SOURCE_DIR) + "/tests/support/dnssec-zones.sh";
      const std::string cmd = "sh '" + script + "' '" + dir_ + "' " + RootAddress() + " " +
                              TldAddress() + " " + DomainAddress() + " >'" + dir_ +
                              "/zones.log' 2>&1";
      if (std::system(cmd.c_str()) != 0) return "zone script failed: " + Log("zones.log");
      bool up = true;
      for (const char* server : {"root", "tld", "domains"}) {
        pids_.push_back(Spawn({"/usr/sbin/nsd", "-d", "-c", dir_ + "/" + server + ".conf"}));
        up = up && WaitFor(std::string(server) + ".log", "nsd started", pids_.back());
      }
      if (up) {
        resolverPort_ = FreeLoopbackPort(SOCK_DGRAM);
        WriteUnboundConfig();
        pids_.push_back(Spawn({"/usr/sbin/unbound", "-d", "-c", dir_ + "/unbound.conf"}));
        if (WaitFor("unbound.log", "start of service", pids_.back())) return {};
      }
    }
    return "the name servers did not start: " + Log("root.log") + Log("unbound.log");
  }

  std::string RootAddress() const { return net_ + "1"; }
  std::string TldAddress() const { return net_ + "2"; }
  std::string DomainAddress() const { return net_ + "3"; }
  // An address of the hierarchy's net for a server of the test's ("25": "127.x.y.25").
  std::string NetAddress(const std::string& host) const { return net_ + host; }
  // The validating resolver, as the DNS server setting takes it.
  std::string Resolver() const { return net_ + "9:" + std::to_string(resolverPort_); }
  const std::string& Folder() const { return dir_; }
  // The hierarchy's trust anchor and root hints (dns-root-data's formats).
  std::string TrustAnchorFile() const { return dir_ + "/root.key"; }
  std::string RootHintsFile() const { return dir_ + "/root.hints"; }

 private:
  static pid_t Spawn(std::vector<std::string> args) {
    const pid_t pid = fork();
    if (pid == 0) {
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      const int devnull = ::open("/dev/null", O_RDWR);
      dup2(devnull, 1);
      dup2(devnull, 2);
      execv(argv[0], argv.data());
      _exit(127);
    }
    return pid;
  }
  static void Stop(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid, nullptr, WNOHANG) == pid) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  void Clear() {
    for (auto it = pids_.rbegin(); it != pids_.rend(); ++it) Stop(*it);
    pids_.clear();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
    dir_.clear();
  }
  std::string Log(const std::string& name) const {
    std::ifstream f(dir_ + "/" + name);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
  }
  // Waits up to 10 s for the line in the server's log, false when the
  // server exited instead.
  bool WaitFor(const std::string& log, const std::string& text, pid_t pid) {
    for (int i = 0; i < 500; ++i) {
      if (Log(log).find(text) != std::string::npos) return true;
      if (waitpid(pid, nullptr, WNOHANG) == pid) {
        pids_.back() = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  void WriteUnboundConfig() {
    std::ofstream c(dir_ + "/unbound.conf");
    c << "server:\n  interface: " << net_ << "9@" << resolverPort_
      << "\n  do-ip6: no\n  username: \"\"\n  chroot: \"\"\n  directory: \"" << dir_
      << "\"\n  pidfile: \"" << dir_ << "/unbound.pid\"\n  logfile: \"" << dir_
      << "/unbound.log\"\n  use-syslog: no\n  do-not-query-localhost: no\n  root-hints: \""
      << RootHintsFile() << "\"\n  trust-anchor-file: \"" << TrustAnchorFile()
      << "\"\n  access-control: 127.0.0.0/8 allow\n  num-threads: 1\n  verbosity: 1\n"
         "  local-zone: \"test.\" nodefault\n  so-reuseport: no\n"
         "remote-control:\n  control-enable: no\n";
  }

  std::string net_, dir_;
  int resolverPort_ = 0;
  std::vector<pid_t> pids_;
};

}  // namespace quovix::test
