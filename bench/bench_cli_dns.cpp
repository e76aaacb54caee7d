// The whole console DNS run (look-up block with the country line, then the
// eight queries: A, AAAA, PTR, NS, MX, TXT, CAA, SOA) against dnsmasq on loopback,
// beside one dig process making the same eight queries plus "getent hosts"
// for the look-up. Both run in a
// network and mount namespace of this process's own (root only), where
// /etc/resolv.conf points at that dnsmasq: nothing leaves the machine.
// The closing line gives the ratio of the two.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <net/if.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/RunProgram.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

using quovix::bench::Run;

fs::path g_dir;
pid_t g_dnsmasq = 0;
double g_consoleMs = 0, g_digMs = 0;

bool EnterOwnNetwork(std::string& why) {
  if (geteuid() != 0) return why = "needs root for a network namespace of its own", false;
  if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) return why = std::strerror(errno), false;
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    return why = "mount propagation: " + std::string(std::strerror(errno)), false;
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  ifreq ifr{};
  std::strcpy(ifr.ifr_name, "lo");
  ioctl(s, SIOCGIFFLAGS, &ifr);
  ifr.ifr_flags |= IFF_UP;
  const bool up = ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
  close(s);
  if (!up) return why = "loopback does not come up", false;
  char tmpl[] = "/tmp/quovix-bench-dns-XXXXXX";
  if (!mkdtemp(tmpl)) return why = "no temporary folder", false;
  g_dir = tmpl;
  std::ofstream(g_dir / "resolv.conf") << "nameserver 127.0.0.1\n";
  if (mount((g_dir / "resolv.conf").c_str(), "/etc/resolv.conf", nullptr, MS_BIND, nullptr) != 0)
    return why = "resolv.conf: " + std::string(std::strerror(errno)), false;
  return true;
}

bool StartDnsmasq(std::string& why) {
  std::ofstream(g_dir / "dnsmasq.conf")
      << "port=53\nlisten-address=127.0.0.1\nbind-interfaces\nno-resolv\nno-hosts\nno-poll\n"
         "keep-in-foreground\nuser=\npid-file=\n"
         "auth-server=ns1.quovix.test,127.0.0.1\n"
         "auth-zone=quovix.test,192.0.2.0/24\n"
         "auth-soa=2024010101,hostmaster.quovix.test,7200,3600,1209600\n"
         "host-record=quovix.test,192.0.2.10\nhost-record=ns1.quovix.test,192.0.2.53\n"
         "mx-host=quovix.test,mx.quovix.test,10\ntxt-record=quovix.test,\"v=spf1 -all\"\n";
  const std::string conf = (g_dir / "dnsmasq.conf").string();
  char* argv[] = {const_cast<char*>("dnsmasq"), const_cast<char*>("-C"), const_cast<char*>(conf.c_str()),
                  nullptr};
  if (posix_spawnp(&g_dnsmasq, "dnsmasq", nullptr, nullptr, argv, environ) != 0)
    return why = "dnsmasq is not installed (scripts/deps/dns.list)", false;
  for (int i = 0; i < 50; ++i) {
    if (Run({"dig", "@127.0.0.1", "+short", "+time=1", "+tries=1", "quovix.test", "SOA"}) == 0)
      return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return why = "dnsmasq does not answer (is dig installed?)", false;
}

// quovix-cli beside the data packs, with settings that ask the loopback server.
std::string PrepareProgram() {
  const fs::path bin = QUOVIX_BIN_DIR;
  const fs::path dir = g_dir / "program";
  fs::create_directories(dir);
  fs::copy_file(bin / "quovix-cli", dir / "quovix-cli");
  for (const char* pack : {"IPCountry.pak", "SLDs.pak", "Whois.pak"})
    if (fs::exists(bin / pack)) fs::create_symlink(bin / pack, dir / pack);
  std::ofstream(dir / "Quovix.ini") << "[Settings]\nActiveDnsServerIP=127.0.0.1\n";
  setenv("XDG_CACHE_HOME", (g_dir / "cache").c_str(), 1);
  return (dir / "quovix-cli").string();
}

template <class F>
void Timed(benchmark::State& state, double& meanMs, F&& f) {
  double total = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    if (!f()) state.SkipWithError("the run failed");
    total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  }
  if (state.iterations() > 0) meanMs = total / static_cast<double>(state.iterations());
}

std::string g_cli;

void BM_ConsoleDnsRun(benchmark::State& state) {
  Timed(state, g_consoleMs, [] {
    return Run({g_cli, "/Dns:quovix.test", "/DnsV:1", "/DnsD:1", "/DnsI:1", "/DnsR:0"}) == 0;
  });
}

void BM_DigEightQueriesPlusGetent(benchmark::State& state) {
  Timed(state, g_digMs, [] {
    return Run({"dig", "@127.0.0.1", "+short", "quovix.test", "A", "quovix.test", "AAAA", "-x",
                "192.0.2.10", "quovix.test", "NS", "quovix.test", "MX", "quovix.test", "TXT", "quovix.test", "CAA", "quovix.test", "SOA"}) == 0 &&
           Run({"getent", "hosts", "quovix.test"}) == 0;
  });
}

}  // namespace

int main(int argc, char** argv) {
  std::string why;
  if (!EnterOwnNetwork(why) || !StartDnsmasq(why)) {
    std::fprintf(stderr, "bench_cli_dns: skipped: %s\n", why.c_str());
    if (g_dnsmasq > 0) kill(g_dnsmasq, SIGTERM);
    return 0;
  }
  g_cli = PrepareProgram();
  // The first run makes the country table's cache file, as any first start
  // after an installation or a pack update does.
  Run({g_cli, "/Dns:quovix.test", "/DnsI:1"});
  // Each side in turn, several rounds, so that a load change on the machine
  // hits both alike.
  benchmark::RegisterBenchmark("BM_ConsoleDnsRun", BM_ConsoleDnsRun)->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();
  benchmark::RegisterBenchmark("BM_DigEightQueriesPlusGetent", BM_DigEightQueriesPlusGetent)
      ->Unit(benchmark::kMillisecond)->MinTime(2)->UseRealTime();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_digMs > 0)
    std::printf("console DNS run %.2f ms, dig + getent %.2f ms: ratio %.2f\n", g_consoleMs, g_digMs,
                g_consoleMs / g_digMs);
  kill(g_dnsmasq, SIGTERM);
  waitpid(g_dnsmasq, nullptr, 0);
  fs::remove_all(g_dir);
  return 0;
}
