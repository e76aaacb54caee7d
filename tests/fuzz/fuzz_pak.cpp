// Packs are files anyone can replace: the container, the row split and the
// look-ups over hostile rows must neither crash nor hang.
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <string>

#include "common/fMain.h"

using namespace quovix;

namespace {

const std::string& Folder() {
  static const std::string folder = [] {
    char tmpl[] = "/tmp/quovix-fuzz-pak-XXXXXX";
    const char* d = ::mkdtemp(tmpl);
    const std::string folder = std::string(d ? d : "/tmp") + "/";
    // The country table's cache files stay beside the packs.
    ::setenv("XDG_CACHE_HOME", (folder + "cache").c_str(), 1);
    return folder;
  }();
  return folder;
}

void WritePack(const std::string& name, const std::string& bytes) {
  if (FILE* f = std::fopen((Folder() + name).c_str(), "wb")) {
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
  }
}

std::string Deflate(const std::string& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()), 1) != Z_OK)
    return {};
  out.resize(size);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // The raw bytes as a pack container (small limit: the fuzzer's memory).
  try {
    InflateText(input, 1 << 20);
  } catch (const std::exception&) {
  }

  // The bytes as the inflated text of both packs, then look-ups against it.
  ProgramFolder = Folder();
  const std::string packed = Deflate(input);
  WritePack("Whois.pak", packed);
  WritePack("IPCountry.pak", packed);
  WritePack("IPCountry6.pak", packed);
  ResetDataPackCache();
  const std::vector<std::string> rows = SplitPakRows(input);
  std::string key = rows.empty() ? std::string() : GetField(rows.front(), "|", 1);
  TldInfo t = LookupTld(key);
  (void)t;
  NetworkRegistry r;
  LookupNetworkRegistry(key, r);
  LookupIpCountry(rows.size() > 1 ? rows[1] : "1.2.3.4");
  LookupIpCountry("255.255.255.255");
  LookupIpCountry("0.0.0.0");
  LookupIpCountry(rows.size() > 1 ? GetField(rows[1], "|", 1) : "2001:db8::1");
  LookupIpCountry("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
  LookupIpCountry("::");

  // The bytes as a typed host name or URL, against the input's own rows and
  // against rules of every kind (wildcards, exceptions, a hostile "!" rule).
  static const std::vector<std::string> rules{"jp", "kobe.jp", "*.kobe.jp", "!city.kobe.jp", "ck",
                                              "*.ck", "!www.ck", "xn--55qx5d.cn", "!x", "*.", "*"};
  RegisteredDomain(input, rows);
  RegisteredDomain(input, rules);
  EncodeIdn(input);
  IsHostName(input);
  IpToNumber(input);
  return 0;
}
