// The console trace on a line of network namespaces (10 routers and a
// target, see tests/support/RouterChain.h), beside Debian's traceroute
// making the same trace (ICMP, one probe per hop, the same time limit):
// for 0, 4 and 8 routers that never answer, and for a target that answers
// nothing. Each iteration runs both programs in turn, so that a load change
// on the machine hits both alike. Root only; nothing leaves the chain. The
// closing lines give the ratio of the two for each case.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench/RunProgram.h"
#include "tests/support/RouterChain.h"


namespace fs = std::filesystem;
using quovix::testsupport::RouterChain;

namespace {

using quovix::bench::Run;

constexpr int kRouters = 10;
constexpr int kTimeLimitMs = 1000;

std::unique_ptr<RouterChain> g_chain;
fs::path g_dir;
std::string g_cli;

// quovix-cli beside its packs, its settings pointing at loopback only.
std::string PrepareProgram() {
  const fs::path bin = QUOVIX_BIN_DIR;
  char tmpl[] = "/tmp/quovix-bench-trace-XXXXXX";
  if (!mkdtemp(tmpl)) return {};
  g_dir = tmpl;
  const fs::path dir = g_dir / "program";
  fs::create_directories(dir);
  fs::copy_file(bin / "quovix-cli", dir / "quovix-cli");
  for (const char* pack : {"IPCountry.pak", "IPCountry6.pak", "ASN.pak", "ASN6.pak"})
    if (fs::exists(bin / pack)) fs::create_symlink(bin / pack, dir / pack);
  std::ofstream(dir / "Quovix.ini") << "[Settings]\nActiveDnsServerIP=127.0.0.1\n";
  setenv("XDG_CACHE_HOME", (g_dir / "cache").c_str(), 1);
  return (dir / "quovix-cli").string();
}

// The routers 1..n of the chain stop answering, the others answer again.
void SilenceFirst(int n) {
  for (int k = 1; k <= kRouters; ++k) g_chain->Answering(k, k <= n ? 0 : 3);
}

struct Case {
  const char* Name;
  int Silent;
  bool SilentTarget;
  double OursMs = 0, PeerMs = 0;
};
Case g_cases[] = {{"0 silent", 0, false}, {"4 silent", 4, false}, {"8 silent", 8, false},
                  {"silent target", 0, true}};

void BM_TraceBesideTraceroute(benchmark::State& state) {
  Case& c = g_cases[state.range(0)];
  SilenceFirst(c.Silent);
  g_chain->SilentTarget(c.SilentTarget);
  const std::string target = g_chain->Target4();
  const std::string ns = g_chain->Client();
  double ours = 0, peer = 0;
  auto timed = [](const std::vector<std::string>& args, double& total) {
    const auto t0 = std::chrono::steady_clock::now();
    const int rc = Run(args);
    total += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    return rc;
  };
  for (auto _ : state) {
    timed({"ip", "netns", "exec", ns, g_cli, "/Trace:" + target, "/TraceR:0",
           "/TraceT:" + std::to_string(kTimeLimitMs), "/TraceC:30"},
          ours);
    if (timed({"ip", "netns", "exec", ns, "traceroute", "-I", "-n", "-q", "1", "-w",
               std::to_string(kTimeLimitMs / 1000), "-m", "30", target},
              peer) < 0)
      state.SkipWithError("traceroute is not installed (scripts/deps/trace.list)");
  }
  const double n = static_cast<double>(std::max<benchmark::IterationCount>(1, state.iterations()));
  c.OursMs = ours / n;
  c.PeerMs = peer / n;
  state.counters["quovix_ms"] = c.OursMs;
  state.counters["traceroute_ms"] = c.PeerMs;
  g_chain->SilentTarget(false);
  SilenceFirst(0);
}

}  // namespace

int main(int argc, char** argv) {
  if (geteuid() != 0) {
    std::fprintf(stderr, "bench_trace: skipped: needs root for network namespaces\n");
    return 0;
  }
  g_chain = std::make_unique<RouterChain>(kRouters);
  if (!g_chain->Error.empty()) {
    std::fprintf(stderr, "bench_trace: skipped: %s\n", g_chain->Error.c_str());
    return 0;
  }
  g_cli = PrepareProgram();
  if (g_cli.empty()) {
    std::fprintf(stderr, "bench_trace: skipped: no temporary folder\n");
    return 0;
  }
  // Neighbour discovery and the country table's cache file before timing.
  Run({"ip", "netns", "exec", g_chain->Client(), g_cli, "/Trace:" + g_chain->Target4(),
       "/TraceR:0", "/TraceT:1000"});
  benchmark::RegisterBenchmark("BM_TraceBesideTraceroute", BM_TraceBesideTraceroute)
      ->DenseRange(0, static_cast<int>(std::size(g_cases)) - 1)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(5)
      ->UseRealTime();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  for (const Case& c : g_cases)
    if (c.PeerMs > 0)
      std::printf("%-14s quovix-cli %8.1f ms, traceroute %8.1f ms: ratio %.2f\n", c.Name, c.OursMs,
                  c.PeerMs, c.OursMs / c.PeerMs);
  g_chain.reset();
  fs::remove_all(g_dir);
  return 0;
}
