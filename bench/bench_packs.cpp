// Pack look-ups with the shipped data: first call (load, inflate, index),
// later calls, and a faithful scan of every row per call for comparison.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <random>

#include "common/fMain.h"

using namespace quovix;

namespace {

void UseShippedPacks() {
  ProgramFolder = std::string(QUOVIX_BIN_DIR) + "/";
}

std::vector<std::string> Addresses() {
  std::mt19937 rng(7);
  std::vector<std::string> out;
  for (int i = 0; i < 1024; ++i) {
    std::uint32_t n = rng();
    out.push_back(std::to_string(n >> 24) + "." + std::to_string((n >> 16) & 255) + "." +
                  std::to_string((n >> 8) & 255) + "." + std::to_string(n & 255));
  }
  return out;
}

// The look-up as a plain scan over the text rows, every row every call.
std::string ScanIpCountry(const std::vector<std::string>& rows, const std::string& address) {
  std::string result;
  const std::uint32_t n = IpToNumber(address);
  for (const auto& row : rows) {
    std::uint32_t first = static_cast<std::uint32_t>(std::strtoull(GetField(row, "|", 1).c_str(), nullptr, 10));
    std::uint32_t last = static_cast<std::uint32_t>(std::strtoull(GetField(row, "|", 2).c_str(), nullptr, 10));
    if (n < first || n > last) continue;
    std::string code = GetField(row, "|", 3), name = GetField(row, "|", 4);
    if (!name.empty()) result = name;
    if (!code.empty()) result = name.empty() ? code : name + " (" + code + ")";
  }
  return result;
}

// The first look-up of a start: with the table in the cache folder (made by
// a look-up before the timing), or without a cache folder, so that the pack
// is inflated and parsed each time.
void FirstCall(benchmark::State& state, const char* address) {
  UseShippedPacks();
  const bool cached = state.range(0) != 0;
  const char* saved = std::getenv("XDG_CACHE_HOME");
  const std::string keep = saved ? saved : "";
  const std::string folder = std::string(QUOVIX_BIN_DIR) + "/bench-cache";
  setenv("XDG_CACHE_HOME", cached ? folder.c_str() : "relative/none", 1);
  const char* home = std::getenv("HOME");
  const std::string keepHome = home ? home : "";
  if (!cached) unsetenv("HOME");
  ResetDataPackCache();
  LookupIpCountry(address);
  for (auto _ : state) {
    ResetDataPackCache();
    benchmark::DoNotOptimize(LookupIpCountry(address));
  }
  if (saved) setenv("XDG_CACHE_HOME", keep.c_str(), 1); else unsetenv("XDG_CACHE_HOME");
  if (home) setenv("HOME", keepHome.c_str(), 1);
  state.SetLabel(cached ? "from the cache" : "from the pack");
}

void BM_IpCountryFirstCall(benchmark::State& state) { FirstCall(state, "193.0.0.1"); }
BENCHMARK(BM_IpCountryFirstCall)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_IpCountryLaterCalls(benchmark::State& state) {
  UseShippedPacks();
  ResetDataPackCache();
  auto addresses = Addresses();
  LookupIpCountry(addresses[0]);
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(LookupIpCountry(addresses[i++ & 1023]));
}
BENCHMARK(BM_IpCountryLaterCalls)->Unit(benchmark::kNanosecond);

void BM_IpCountryScanEveryRow(benchmark::State& state) {
  UseShippedPacks();
  auto rows = SplitPakRows(LoadPak(ProgramFolder + "IPCountry.pak"));
  auto addresses = Addresses();
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(ScanIpCountry(rows, addresses[i++ & 1023]));
}
BENCHMARK(BM_IpCountryScanEveryRow)->Unit(benchmark::kMillisecond)->Iterations(5);

std::vector<std::string> Addresses6() {
  std::mt19937_64 rng(7);
  std::vector<std::string> out;
  for (int i = 0; i < 1024; ++i) {
    std::array<std::uint8_t, 16> b{};
    const std::uint64_t hi = (rng() & 0x1FFFFFFFFFFFFFFFull) | 0x2000000000000000ull;  // 2000::/3
    const std::uint64_t lo = rng();
    for (int k = 0; k < 8; ++k) {
      b[k] = static_cast<std::uint8_t>(hi >> (56 - 8 * k));
      b[8 + k] = static_cast<std::uint8_t>(lo >> (56 - 8 * k));
    }
    out.push_back(IpAddress::FromV6(b).ToString());
  }
  return out;
}

void BM_IpCountry6FirstCall(benchmark::State& state) { FirstCall(state, "2001:200::1"); }
BENCHMARK(BM_IpCountry6FirstCall)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_IpCountry6LaterCalls(benchmark::State& state) {
  UseShippedPacks();
  ResetDataPackCache();
  auto addresses = Addresses6();
  LookupIpCountry(addresses[0]);
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(LookupIpCountry(addresses[i++ & 1023]));
}
BENCHMARK(BM_IpCountry6LaterCalls)->Unit(benchmark::kNanosecond);

const char* const kTlds[] = {"com", "DE", "uk", "xn--p1ai", "museum", "nosuchtld", "Jp", "ch"};

void BM_TldLaterCalls(benchmark::State& state) {
  UseShippedPacks();
  ResetDataPackCache();
  LookupTld("de");
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(LookupTld(kTlds[i++ & 7]));
}
BENCHMARK(BM_TldLaterCalls)->Unit(benchmark::kNanosecond);

void BM_TldScanEveryRow(benchmark::State& state) {
  UseShippedPacks();
  auto rows = SplitPakRows(LoadPak(ProgramFolder + "Whois.pak"));
  size_t i = 0;
  for (auto _ : state) {
    std::string prefix = LowerAscii(std::string(kTlds[i++ & 7]) + "|");
    TldInfo t;
    for (const auto& row : rows)
      if (LowerAscii(row.substr(0, prefix.size())) == prefix) {
        t.CountryEn = GetField(row, "|", 2);
        t.Target = GetField(row, "|", 5);
        break;
      }
    benchmark::DoNotOptimize(t);
  }
}
BENCHMARK(BM_TldScanEveryRow)->Unit(benchmark::kNanosecond);

const char* const kHosts[] = {"shop.example.co.uk", "www.example.com", "a.b.example.com.au",
                              "https://www.example.de/path", "mail.example.org"};

void BM_RegisteredDomainLaterCalls(benchmark::State& state) {
  auto slds = SplitPakRows(LoadPak(std::string(QUOVIX_BIN_DIR) + "/SLDs.pak"));
  RegisteredDomain("x.y.z", slds);
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(RegisteredDomain(kHosts[i++ % 5], slds));
}
BENCHMARK(BM_RegisteredDomainLaterCalls)->Unit(benchmark::kNanosecond);

// Names whose suffix has three or four labels, a wildcard or an exception.
const char* const kDeepHosts[] = {"a.b.ide.kyoto.jp", "www.city.kobe.jp", "x.y.c.kobe.jp",
                                  "www.test.k12.ak.us", "a.b.pvt.k12.ma.us"};

void BM_RegisteredDomainDeepSuffixes(benchmark::State& state) {
  auto slds = SplitPakRows(LoadPak(std::string(QUOVIX_BIN_DIR) + "/SLDs.pak"));
  RegisteredDomain("x.y.z", slds);
  size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(RegisteredDomain(kDeepHosts[i++ % 5], slds));
}
BENCHMARK(BM_RegisteredDomainDeepSuffixes)->Unit(benchmark::kNanosecond);

void BM_SldScanEveryRow(benchmark::State& state) {
  auto slds = SplitPakRows(LoadPak(std::string(QUOVIX_BIN_DIR) + "/SLDs.pak"));
  const char* const pairs[] = {"co.uk", "example.com", "com.au", "example.de", "example.org"};
  size_t i = 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(std::find(slds.begin(), slds.end(), pairs[i++ % 5]) != slds.end());
}
BENCHMARK(BM_SldScanEveryRow)->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();
