// Data packs: container, rows, look-ups, caching and the shipped data.
#include <gtest/gtest.h>

#include <array>
#include <sys/stat.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "app/formMain.h"
#include "icmp_test_util.h"
#include "common/AsLookup.h"
#include "common/fMain.h"
#include "common/SpecialRanges.h"
#include "common/fRangePack.h"
#include "tools/fAddressInfo.h"

using namespace quovix;
namespace fs = std::filesystem;

namespace {

std::string Deflate(const std::string& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string out(size, '\0');
  EXPECT_EQ(compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                      reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()), 9),
            Z_OK);
  out.resize(size);
  return out;
}

void WriteFile(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

// A fresh program folder per test, with the pack cache forgotten around it.
class PackFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("quovix-packs-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    savedFolder_ = ProgramFolder;
    ProgramFolder = dir_.string() + "/";
    ResetDataPackCache();
  }
  void TearDown() override {
    ResetDataPackCache();
    ProgramFolder = savedFolder_;
    fs::remove_all(dir_);
  }
  void Pack(const std::string& name, const std::string& text) { WriteFile(dir_ / name, Deflate(text)); }

  fs::path dir_;
  std::string savedFolder_;
};

}  // namespace

// ---- Container -------------------------------------------------------------------

TEST(PakContainer, InflateRoundTripsAndGrowsPastTheInput) {
  EXPECT_EQ(InflateText(Deflate("DE|Germany")), "DE|Germany");
  std::string big(3 << 20, 'x');  // a few bytes in, megabytes out
  for (size_t i = 0; i < big.size(); i += 97) big[i] = static_cast<char>('a' + i % 26);
  EXPECT_EQ(InflateText(Deflate(big)), big);
  EXPECT_EQ(InflateText(Deflate("")), "");
}

TEST(PakContainer, EmptyDamagedAndTruncatedInputRaise) {
  EXPECT_THROW(InflateText(""), std::runtime_error);
  EXPECT_THROW(InflateText("not a zlib stream at all"), std::runtime_error);
  std::string packed = Deflate(std::string(5000, 'a') + "tail");
  EXPECT_THROW(InflateText(packed.substr(0, packed.size() / 2)), std::runtime_error);
  std::string badSum = packed;
  badSum.back() ^= 0x55;  // Adler-32 trailer no longer matches
  EXPECT_THROW(InflateText(badSum), std::runtime_error);
  // A gzip stream is not a pack.
  EXPECT_THROW(InflateText(std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00", 8) + packed), std::runtime_error);
}

TEST(PakContainer, OutputLimitCountsAsDamage) {
  std::string packed = Deflate(std::string(10000, 'z'));
  EXPECT_EQ(InflateText(packed, 10000).size(), 10000u);
  EXPECT_THROW(InflateText(packed, 9999), std::runtime_error);
}

TEST(PakContainer, HostilePackStopsAtTheDefaultCap) {
  // A few megabytes that would inflate past the cap.
  z_stream zs{};
  ASSERT_EQ(deflateInit(&zs, Z_BEST_SPEED), Z_OK);
  std::string zeros(1 << 20, '\0'), packed;
  std::string buf(1 << 16, '\0');
  for (size_t fed = 0; fed <= kMaxPakBytes; fed += zeros.size()) {
    zs.next_in = reinterpret_cast<Bytef*>(zeros.data());
    zs.avail_in = static_cast<uInt>(zeros.size());
    bool last = fed + zeros.size() > kMaxPakBytes;
    int rc;
    do {
      zs.next_out = reinterpret_cast<Bytef*>(buf.data());
      zs.avail_out = static_cast<uInt>(buf.size());
      rc = deflate(&zs, last ? Z_FINISH : Z_NO_FLUSH);
      packed.append(buf.data(), buf.size() - zs.avail_out);
    } while (zs.avail_out == 0 || (last && rc != Z_STREAM_END));
  }
  deflateEnd(&zs);
  ASSERT_LT(packed.size(), kMaxPakBytes / 64);
  EXPECT_THROW(InflateText(packed), std::runtime_error);
}

TEST_F(PackFolder, ReadWholeFileKeepsEveryByteAndRaisesOnMissingFiles) {
  std::string bytes("a\0b\r\n\xff", 6);
  WriteFile(dir_ / "raw.bin", bytes);
  EXPECT_EQ(ReadWholeFile((dir_ / "raw.bin").string()), bytes);
  EXPECT_THROW(ReadWholeFile((dir_ / "missing.pak").string()), std::runtime_error);
  EXPECT_THROW(ReadWholeFile(dir_.string()), std::runtime_error);  // a folder
  WriteFile(dir_ / "empty.pak", "");
  EXPECT_THROW(LoadPak((dir_ / "empty.pak").string()), std::runtime_error);
}

TEST(PakRows, LineEndsEmptyRowsAndZeroByte) {
  using V = std::vector<std::string>;
  EXPECT_EQ(SplitPakRows("a\r\nb\rc\nd"), (V{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitPakRows("a\n\nb\n"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitPakRows("\r\n\r\n"), (V{"", ""}));
  EXPECT_EQ(SplitPakRows("\n\r"), (V{"", ""}));  // LF then a lone CR
  EXPECT_EQ(SplitPakRows(std::string("a\nb\0c\nd", 7)), (V{"a", "b"}));
  EXPECT_EQ(SplitPakRows(""), V{});
}

// ---- Whois.pak -------------------------------------------------------------------

TEST_F(PackFolder, TldRowsMatchTheWholeKeyWithoutRegardToCase) {
  Pack("Whois.pak",
       "DEX|Not it|Nicht die|W|whois.wrong.test\n"
       "DE|Germany|Deutschland|W|whois.denic.de|-T dn,ace |\n"
       "de|Second|Zweite|W|whois.second.test\n"
       "AT|Austria|Österreich|whois|whois.nic.at\n"
       "VN|Viet Nam|Vietnam|link|https://www.vnnic.vn/\n"
       "XX|Short\n"
       "YY|Odd|Seltsam|?|ignored.test|p|s\n");
  for (const char* key : {"de", "DE", "De"}) {
    TldInfo t = LookupTld(key);
    EXPECT_EQ(t.CountryEn, "Germany") << key;
    EXPECT_EQ(t.CountryDe, "Deutschland");
    EXPECT_EQ(t.Kind, "W");
    EXPECT_EQ(t.Target, "whois.denic.de");
    EXPECT_EQ(t.QueryPrefix, "-T dn,ace ");
    EXPECT_EQ(t.QuerySuffix, "");
  }
  EXPECT_EQ(LookupTld("at").Kind, "W");  // only the first character counts
  EXPECT_EQ(LookupTld("at").CountryDe, "Österreich");
  EXPECT_EQ(LookupTld("vn").Kind, "L");
  EXPECT_EQ(LookupTld("yy").Kind, "?");
  TldInfo shortRow = LookupTld("xx");
  EXPECT_EQ(shortRow.CountryEn, "Short");
  EXPECT_EQ(shortRow.Kind, "");
  EXPECT_EQ(shortRow.Target, "");
  TldInfo none = LookupTld("d");
  EXPECT_EQ(none.CountryEn + none.CountryDe + none.Kind + none.Target + none.QueryPrefix +
                none.QuerySuffix, "");
  EXPECT_EQ(LookupTld("de|germany").Target, "whois.denic.de");  // the key reaches into field 2
}

TEST_F(PackFolder, RegistryRowsFillTheRecordOrLeaveIt) {
  Pack("Whois.pak", "NET-ARIN|whois.arin.net|n + |\nNET-RIPE|whois.ripe.net\n");
  NetworkRegistry r{"before", "p", "s"};
  LookupNetworkRegistry("NET-APNIC", r);
  EXPECT_EQ(r.Server, "before");
  LookupNetworkRegistry("net-arin", r);
  EXPECT_EQ(r.Server, "whois.arin.net");
  EXPECT_EQ(r.QueryPrefix, "n + ");
  EXPECT_EQ(r.QuerySuffix, "");
  LookupNetworkRegistry("NET-RIPE", r);
  EXPECT_EQ(r.Server, "whois.ripe.net");
  EXPECT_EQ(r.QueryPrefix, "");
}

TEST_F(PackFolder, WhoisPackIsReadOnceAndAFailedLoadIsNotRetried) {
  Pack("Whois.pak", "DE|Germany|Deutschland|W|whois.denic.de\n");
  EXPECT_EQ(LookupTld("de").Target, "whois.denic.de");
  Pack("Whois.pak", "DE|Changed|Geändert|W|whois.changed.test\n");
  EXPECT_EQ(LookupTld("de").Target, "whois.denic.de");

  ResetDataPackCache();
  WriteFile(dir_ / "Whois.pak", "damaged");
  EXPECT_EQ(LookupTld("de").Target, "");
  Pack("Whois.pak", "DE|Germany|Deutschland|W|whois.denic.de\n");
  EXPECT_EQ(LookupTld("de").Target, "");  // stays empty for the run
  ResetDataPackCache();
  EXPECT_EQ(LookupTld("de").Target, "whois.denic.de");
}

// ---- IPCountry.pak ---------------------------------------------------------------

TEST_F(PackFolder, CountryTextOfTheLastMatchingRow) {
  Pack("IPCountry.pak",
       "0|4294967295|ZZ|Everywhere\n"                 // covers all, overridden below
       "16777216|16777471|AU|Australia\n"
       "16777216|16777471|CN|China\n"                 // later row, same range: wins
       "167772160|184549375|NL|\n"                    // 10/8, code only
       "167772416|167772671||Inner name\n"            // 10.0.1/24, name only
       "167772672|167772927||\n"                      // 10.0.2/24, both empty: changes nothing
       "3232235520|3232301055|DE|Germany\n"           // 192.168/16, upper half
       "4294967040|4294967295|XX|Top\n"               // 255.255.255/24
       "300|200|BAD|Backwards\n"                      // first > last: matches nothing
       "x|5|NN|Not a number\n");                      // a bound that is no number is 0
  EXPECT_EQ(LookupIpCountry("1.0.0.1"), "China (CN)");
  EXPECT_EQ(LookupIpCountry("1.0.1.0"), "Everywhere (ZZ)");
  EXPECT_EQ(LookupIpCountry("10.0.0.9"), "NL");
  EXPECT_EQ(LookupIpCountry("10.0.1.9"), "Inner name");
  EXPECT_EQ(LookupIpCountry("10.0.2.9"), "NL");
  EXPECT_EQ(LookupIpCountry("192.168.200.1"), "Germany (DE)");
  EXPECT_EQ(LookupIpCountry("255.255.255.255"), "Top (XX)");
  EXPECT_EQ(LookupIpCountry("0.0.1.0"), "Everywhere (ZZ)");
  EXPECT_EQ(LookupIpCountry("0.0.0.5"), "Not a number (NN)");
  EXPECT_EQ(LookupIpCountry("www.example.com"), "Not a number (NN)");  // number 0
}

TEST_F(PackFolder, CountryPackAddedAfterAMissIsReadAndRemovedOneIsMissing) {
  EXPECT_EQ(LookupIpCountry("1.2.3.4"), "");
  Pack("IPCountry.pak", "16909056|16909311|AU|Australia\n");
  EXPECT_EQ(LookupIpCountry("1.2.3.4"), "Australia (AU)");
  fs::remove(dir_ / "IPCountry.pak");
  EXPECT_EQ(LookupIpCountry("1.2.3.4"), "");
  Pack("IPCountry.pak", "16909056|16909311|NZ|New Zealand\n");
  EXPECT_EQ(LookupIpCountry("1.2.3.4"), "Australia (AU)");  // the loaded rows stay
}

// The table is kept in the cache folder and read back while the pack stays
// the same; a changed pack or a damaged cache file makes a fresh one.
TEST_F(PackFolder, CountryTableComesFromTheCacheWhileThePackIsTheSame) {
  const fs::path cache = dir_ / "cache";
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  const std::string pack = (dir_ / "IPCountry.pak").string();
  // Rows "first|last|text".
  const RangePackFormat format{"IPCountry", 4, [](std::string_view text, RangeRows& rows) {
    for (const std::string& row : SplitPakRows(std::string(text))) {
      rows.Ranges.push_back({std::stoul(GetField(row, "|", 1)), std::stoul(GetField(row, "|", 2)),
                             static_cast<int>(rows.Texts.size())});
      rows.Texts.push_back(GetField(row, "|", 3));
    }
  }};
  Pack("IPCountry.pak", "16909056|16909311|AU\n");
  RangeIndex a;
  a.Load(pack, format);
  EXPECT_FALSE(a.FromCache());
  const std::string file = RangeCachePath(pack, "IPCountry");
  ASSERT_EQ(file.rfind(cache.string() + "/quovix/IPCountry-", 0), 0u) << file;
  ASSERT_TRUE(fs::exists(file));
  RangeIndex b;
  b.Load(pack, format);
  EXPECT_TRUE(b.FromCache());
  EXPECT_EQ(b.Find(16909060), "AU");
  EXPECT_EQ(b.Find(16909312), "");

  // The same size and modification time, another content: the rewrite
  // changed the file's change time, which tells.
  const auto size = fs::file_size(pack);
  const auto time = fs::last_write_time(pack);
  Pack("IPCountry.pak", "16909056|16909311|NZ\n");
  ASSERT_EQ(fs::file_size(pack), size);
  fs::last_write_time(pack, time);
  b.Load(pack, format);
  EXPECT_FALSE(b.FromCache());
  EXPECT_EQ(b.Find(16909060), "NZ");
  // A cache file is trusted by its header: one that does not fit the pack
  // or its own size is not taken, whatever header byte is hit (the
  // checksums aside, which only a build reads).
  std::string bytes;
  { std::ifstream in(file, std::ios::binary); bytes.assign(std::istreambuf_iterator<char>(in), {}); }
  ASSERT_GT(bytes.size(), 96u);
  for (size_t i = 0; i < 96; ++i) {
    if ((i >= 40 && i < 44) || (i >= 56 && i < 60)) continue;
    std::string bad = bytes;
    bad[i] = static_cast<char>(bad[i] ^ 0x20);
    WriteFile(file, bad);
    b.Load(pack, format);
    EXPECT_FALSE(b.FromCache()) << i;
    EXPECT_EQ(b.Find(16909060), "NZ");
  }
  // A damaged body is never read outside the table.
  for (size_t i = 96; i < bytes.size(); ++i) {
    std::string bad = bytes;
    bad[i] = static_cast<char>(bad[i] ^ 0x80);
    WriteFile(file, bad);
    b.Load(pack, format);
    for (RangeKey k : {RangeKey{0}, RangeKey{16909060}, RangeKey{16909312}, RangeKey{0xFFFFFFFF}})
      EXPECT_LE(b.Find(k).size(), 2u) << i;
  }
  WriteFile(file, bytes.substr(0, bytes.size() - 1));
  b.Load(pack, format);
  EXPECT_FALSE(b.FromCache());
  // A FIFO in the cache file's place is not opened (that would wait for a
  // writer for good): the table is built and the FIFO replaced.
  fs::remove(file);
  ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
  b.Load(pack, format);
  EXPECT_EQ(b.Find(16909060), "NZ");
  EXPECT_TRUE(fs::is_regular_file(file));
  // No cache folder at all: the table is made each time.
  setenv("XDG_CACHE_HOME", "relative/path", 1);
  const std::string home = getenv("HOME") ? getenv("HOME") : "";
  unsetenv("HOME");
  EXPECT_EQ(RangeCachePath(pack, "IPCountry"), "");
  b.Load(pack, format);
  EXPECT_EQ(b.Find(16909060), "NZ");
  if (!home.empty()) setenv("HOME", home.c_str(), 1);
  setenv("XDG_CACHE_HOME", QUOVIX_TEST_CACHE_DIR, 1);
}

// A table read from a file is checked whole before it is used: counts,
// ascending starts, text numbers and offsets (checksums aside).
TEST(RangeTable, HostileTablesAreRefusedAndWideKeysWork) {
  RangeRows rows;
  rows.Texts = {"low", "top"};
  const RangeKey top = ~RangeKey{0};
  rows.Ranges = {{1, 9, 0}, {top - 5, top, 1}};
  RangeIndex t;
  t.Build(rows, 16);
  EXPECT_EQ(t.Find(0), "");
  EXPECT_EQ(t.Find(9), "low");
  EXPECT_EQ(t.Find(top), "top");
  EXPECT_EQ(t.Find(top - 6), "");
  const std::string good = t.Bytes();
  RangeIndex u;
  EXPECT_TRUE(u.Adopt(good, 16, {}));
  EXPECT_FALSE(u.Adopt(good, 4, {}));                      // another key width
  EXPECT_FALSE(u.Adopt(good, 16, {.Size = 1}));            // another pack
  auto patched = [&](size_t at, char v) { std::string b = good; b[at] = v; return b; };
  EXPECT_FALSE(u.Adopt(patched(96 + 15, 1), 16, {}, false));    // the first start is not 0
  EXPECT_FALSE(u.Adopt(patched(96 + 16, '\xff'), 16, {}, false));  // starts out of order
  const size_t ids = 96 + 4 * 16;
  EXPECT_FALSE(u.Adopt(patched(ids, 9), 16, {}, false));       // a text that is not there
  EXPECT_FALSE(u.Adopt(patched(ids + 16 + 4, 100), 16, {}, false));  // an offset past the texts
  EXPECT_FALSE(u.Adopt(patched(44, 100), 16, {}, false));     // a count past the end
  EXPECT_TRUE(u.Adopt(good, 16, {}, false));
  EXPECT_EQ(u.Find(top), "top");
}

TEST_F(PackFolder, DamagedCountryPackStaysEmptyForTheRun) {
  WriteFile(dir_ / "IPCountry.pak", Deflate("16909056|16909311|AU|Australia\n").substr(0, 10));
  EXPECT_EQ(LookupIpCountry("1.2.3.4"), "");
  Pack("IPCountry.pak", "16909056|16909311|AU|Australia\n");
  EXPECT_EQ(LookupIpCountry("1.2.3.4"), "");
}

namespace {

struct RangeRow {
  std::uint32_t first, last;
  std::string code, name;
};

// Writes the rows as IPCountry.pak and compares random look-ups with going
// through every row in order.
void ExpectSameAsScan(const std::vector<RangeRow>& rows, std::mt19937& rng, std::uint32_t span) {
  std::string text;
  for (const RangeRow& r : rows)
    text += std::to_string(r.first) + "|" + std::to_string(r.last) + "|" + r.code + "|" + r.name + "\n";
  WriteFile(ProgramFolder + "IPCountry.pak", Deflate(text));
  ResetDataPackCache();
  for (int k = 0; k < 4000; ++k) {
    std::uint32_t n = k < 3 ? std::uint32_t{0} - k : rng() % span;
    std::string expect;
    for (const RangeRow& r : rows) {
      if (n < r.first || n > r.last) continue;
      if (!r.name.empty()) expect = r.name;
      if (!r.code.empty()) expect = r.name.empty() ? r.code : r.name + " (" + r.code + ")";
    }
    std::string address = std::to_string(n >> 24) + "." + std::to_string((n >> 16) & 255) + "." +
                          std::to_string((n >> 8) & 255) + "." + std::to_string(n & 255);
    ASSERT_EQ(LookupIpCountry(address), expect) << address;
  }
}

}  // namespace

TEST_F(PackFolder, CountryLookupAgreesWithAScanOfEveryRow) {
  std::mt19937 rng(4711);
  // Overlapping ranges in any order, some backwards, some texts empty.
  std::vector<RangeRow> rows;
  for (int i = 0; i < 3000; ++i) {
    std::uint32_t a = rng() % 100000, b = a + rng() % (i % 10 == 0 ? 30000 : 300);
    if (i % 50 == 0) b = a - 1;
    rows.push_back({a, b, (i % 7 == 0) ? "" : "C" + std::to_string(i % 40),
                    (i % 5 == 0) ? "" : "N" + std::to_string(i % 30)});
  }
  rows.push_back({4294967000u, 4294967295u, "TOP", ""});
  ExpectSameAsScan(rows, rng, 140000);

  // Sorted ranges without overlaps (the shape of the shipped data), with
  // gaps, neighbours of the same country and the very first address.
  rows.clear();
  std::uint32_t at = 0;
  for (int i = 0; i < 3000; ++i) {
    std::uint32_t len = 1 + rng() % 200;
    rows.push_back({at, at + len - 1, "C" + std::to_string(rng() % 4), i % 9 ? "" : "Name"});
    at += len + (i % 3 == 0 ? rng() % 50 : 0);
  }
  rows.push_back({at + 10, 4294967295u, "END", "Last"});
  ExpectSameAsScan(rows, rng, at + 1000);
}

// ---- IPCountry6.pak --------------------------------------------------------------

TEST_F(PackFolder, IPv6CountryFromItsOwnPack) {
  EXPECT_EQ(LookupIpCountry("2001:db8::1"), "");  // no pack yet
  Pack("IPCountry6.pak",
       "::|ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff|ZZ|Everywhere\n"
       "2001:db8::|2001:db8:ffff:ffff:ffff:ffff:ffff:ffff|DE|Germany\n"
       "2001:db8:1::|2001:db8:1::ff|FR|France\n"        // later row inside: wins
       "2001:db8:2::|2001:db8:2::|||\n"                 // both empty: changes nothing
       "ffff::|ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff|XX|Top\n"
       "2001:db8:5::|2001:db8:4::|BAD|Backwards\n"
       "x|::5|NN|Not an address\n");                    // a bound that is none is ::
  Pack("IPCountry.pak", "16909056|16909311|AU|Australia\n");
  EXPECT_EQ(LookupIpCountry("2001:DB8::1"), "Germany (DE)");
  EXPECT_EQ(LookupIpCountry("[2001:db8:1::80]"), "France (FR)");
  EXPECT_EQ(LookupIpCountry("2001:db8:1::100"), "Germany (DE)");
  EXPECT_EQ(LookupIpCountry("2001:db8:2::"), "Germany (DE)");
  EXPECT_EQ(LookupIpCountry("2001:db8:4::1"), "Germany (DE)");
  EXPECT_EQ(LookupIpCountry("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"), "Top (XX)");
  EXPECT_EQ(LookupIpCountry("::3"), "Not an address (NN)");
  EXPECT_EQ(LookupIpCountry("fe80::1%eth0"), "Everywhere (ZZ)");
  // IPv4 addresses, also as IPv4-mapped IPv6 ones, come from the IPv4 pack.
  EXPECT_EQ(LookupIpCountry("1.2.3.4"), "Australia (AU)");
  EXPECT_EQ(LookupIpCountry("::ffff:1.2.3.4"), "Australia (AU)");
}

// The IPv6 pack's table is cached as the IPv4 one is, with 16-byte keys, and
// the look-up takes it from there on the next start: a table planted under
// the pack's own stamp answers.
TEST_F(PackFolder, IPv6CountryTableComesFromTheCache) {
  const fs::path cache = dir_ / "cache";
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  Pack("IPCountry6.pak", "2001:db8::|2001:db8::ffff|DE|Germany\n");
  EXPECT_EQ(LookupIpCountry("2001:db8::1"), "Germany (DE)");
  const std::string pack = (dir_ / "IPCountry6.pak").string();
  const std::string file = RangeCachePath(pack, "IPCountry6");
  std::string bytes;
  { std::ifstream in(file, std::ios::binary); bytes.assign(std::istreambuf_iterator<char>(in), {}); }
  ASSERT_GE(bytes.size(), 64u) << file;
  EXPECT_EQ(static_cast<unsigned char>(bytes[12]), 16u);  // key bytes

  const PackStamp stamp = FileStamp(pack);
  RangeRows rows;
  rows.Texts = {"Cached"};
  rows.Ranges.push_back({RangeKey{0x20010db8} << 96, (RangeKey{0x20010db8} << 96) + 0xffff, 0});
  RangeIndex planted;
  planted.Build(rows, 16, stamp);
  WriteFile(file, planted.Bytes());
  ResetDataPackCache();
  EXPECT_EQ(LookupIpCountry("2001:db8::1"), "Cached");
  EXPECT_EQ(LookupIpCountry("2001:db8::1:0"), "");
  setenv("XDG_CACHE_HOME", QUOVIX_TEST_CACHE_DIR, 1);
}

TEST_F(PackFolder, IPv6CountryLookupAgreesWithAScanOfEveryRow) {
  // Ranges in a window around a 64-bit boundary of the 128-bit number, so
  // that both halves and the carry between them count.
  std::mt19937 rng(99);
  auto text = [](std::uint64_t hi, std::uint64_t lo) {
    std::array<std::uint8_t, 16> b{};
    for (int i = 0; i < 8; ++i) {
      b[i] = static_cast<std::uint8_t>(hi >> (56 - 8 * i));
      b[8 + i] = static_cast<std::uint8_t>(lo >> (56 - 8 * i));
    }
    return IpAddress::FromV6(b).ToString();
  };
  const std::uint64_t hi = 0x20010db800000000ull;
  // Offsets below 2^63 lie in hi, above in hi + 1 (lo wrapped around).
  auto key = [&](std::int64_t off) {
    const std::uint64_t lo = static_cast<std::uint64_t>(off) - 5000;  // may wrap below 0
    return std::make_pair(off < 5000 ? hi : hi + 1, lo);
  };
  struct Row6 { std::int64_t first, last; std::string code; };
  for (bool sorted : {false, true}) {
    std::vector<Row6> rows;
    std::int64_t at = 0;
    for (int i = 0; i < 2000; ++i) {
      if (sorted) {
        const std::int64_t len = 1 + rng() % 20;
        rows.push_back({at, at + len - 1, "C" + std::to_string(rng() % 3)});
        at += len + rng() % 3;
      } else {
        const std::int64_t a = rng() % 10000;
        rows.push_back({a, a + static_cast<std::int64_t>(rng() % 400), "C" + std::to_string(i % 40)});
      }
    }
    std::string pack;
    for (const auto& r : rows) {
      auto [fh, fl] = key(r.first);
      auto [lh, ll] = key(r.last);
      pack += text(fh, fl) + "|" + text(lh, ll) + "|" + r.code + "|\n";
    }
    WriteFile(ProgramFolder + "IPCountry6.pak", Deflate(pack));
    ResetDataPackCache();
    for (int k = 0; k < 3000; ++k) {
      const std::int64_t n = rng() % 11000;
      std::string expect;
      for (const auto& r : rows)
        if (n >= r.first && n <= r.last) expect = r.code;
      auto [h, l] = key(n);
      ASSERT_EQ(LookupIpCountry(text(h, l)), expect) << text(h, l);
    }
  }
}

// ---- Registrable domain ----------------------------------------------------------

TEST(RegisteredDomain, PartsOfNamesUrlsAndAddresses) {
  const std::vector<std::string> slds{"co.uk", "com.au"};
  EXPECT_EQ(RegisteredDomain("shop.example.com", slds), "example.com");
  EXPECT_EQ(RegisteredDomain("shop.example.co.uk", slds), "example.co.uk");
  EXPECT_EQ(RegisteredDomain("shop.example.co.uk", {}), "co.uk");
  EXPECT_EQ(RegisteredDomain("example.co.uk", slds), "example.co.uk");
  EXPECT_EQ(RegisteredDomain("co.uk", slds), "");  // itself a public suffix
  EXPECT_EQ(RegisteredDomain("HTTPS://WWW.Example.COM.AU/path/x.html", slds), "example.com.au");
  EXPECT_EQ(RegisteredDomain("http://a.b.example.org/", slds), "example.org");
  EXPECT_EQ(RegisteredDomain("example.org/only/path", slds), "example.org");
  EXPECT_EQ(RegisteredDomain("192.168.1.1", slds), "192.168.1.1");
  EXPECT_EQ(RegisteredDomain("http://10.0.0.1/admin", slds), "10.0.0.1");
  EXPECT_EQ(RegisteredDomain("", slds), "");
  EXPECT_EQ(RegisteredDomain("https:///x", slds), "");
  EXPECT_EQ(RegisteredDomain("localhost", slds), "");  // a top-level label by the implicit rule
}

TEST(RegisteredDomain, PortQueryAndRootDotAreNoPartOfTheName) {
  const std::vector<std::string> slds{"co.uk"};
  EXPECT_EQ(RegisteredDomain("http://www.example.co.uk:8080/x", slds), "example.co.uk");
  EXPECT_EQ(RegisteredDomain("https://shop.example.com?q=1", slds), "example.com");
  EXPECT_EQ(RegisteredDomain("www.example.com.", slds), "example.com");
}

TEST(RegisteredDomain, LongListsAndListsThatChange) {
  std::vector<std::string> slds;
  for (int i = 0; i < 500; ++i) slds.push_back("s" + std::to_string(i) + ".test");
  slds.push_back("co.uk");
  EXPECT_EQ(RegisteredDomain("a.b.co.uk", slds), "b.co.uk");
  EXPECT_EQ(RegisteredDomain("a.b.s499.test", slds), "b.s499.test");
  EXPECT_EQ(RegisteredDomain("a.b.s500.test", slds), "s500.test");
  std::vector<std::string> other(slds.begin(), slds.end() - 1);  // without co.uk
  EXPECT_EQ(RegisteredDomain("a.b.co.uk", other), "co.uk");
  slds.back() = "com.au";  // same storage and size, a different last row
  EXPECT_EQ(RegisteredDomain("a.b.co.uk", slds), "co.uk");
  EXPECT_EQ(RegisteredDomain("a.b.com.au", slds), "b.com.au");
}

TEST(RegisteredDomain, WildcardsExceptionsAndThePrevailingRule) {
  // Short lists are searched as they are, long ones through the index: both
  // must give the same answers.
  std::vector<std::string> slds{"jp", "kobe.jp", "*.kobe.jp", "!city.kobe.jp", "ck", "*.ck", "!www.ck",
                                "uk", "co.uk", "ac.uk", "*.sch.uk"};
  std::vector<std::string> padded = slds;
  for (int i = 0; i < 100; ++i) padded.push_back("p" + std::to_string(i) + ".test");
  for (const auto* list : {&slds, &padded}) {
    EXPECT_EQ(RegisteredDomain("a.b.c.kobe.jp", *list), "b.c.kobe.jp");
    EXPECT_EQ(RegisteredDomain("c.kobe.jp", *list), "");
    EXPECT_EQ(RegisteredDomain("www.city.kobe.jp", *list), "city.kobe.jp");
    EXPECT_EQ(RegisteredDomain("city.kobe.jp", *list), "city.kobe.jp");
    EXPECT_EQ(RegisteredDomain("kobe.jp", *list), "");
    EXPECT_EQ(RegisteredDomain("www.www.ck", *list), "www.ck");
    EXPECT_EQ(RegisteredDomain("test.ck", *list), "");
    EXPECT_EQ(RegisteredDomain("a.school.sch.uk", *list), "a.school.sch.uk");
    EXPECT_EQ(RegisteredDomain("sch.uk", *list), "sch.uk");  // the wildcard needs a label below
    EXPECT_EQ(RegisteredDomain("x.ac.uk", *list), "x.ac.uk");
    // Unlisted top-level domains: the implicit "*" rule.
    EXPECT_EQ(RegisteredDomain("a.b.example.example", *list), "example.example");
    EXPECT_EQ(RegisteredDomain("example", *list), "");
  }
}

TEST(RegisteredDomain, HostsOfUrlsPortsDotsAndIdnMatchTheRules) {
  const std::vector<std::string> slds{"jp", "kyoto.jp", "ide.kyoto.jp", "cn", "xn--55qx5d.cn", "de"};
  EXPECT_EQ(RegisteredDomain("HTTPS://A.B.IDE.Kyoto.JP:8443/x?y", slds), "b.ide.kyoto.jp");
  EXPECT_EQ(RegisteredDomain("a.b.ide.kyoto.jp.", slds), "b.ide.kyoto.jp");
  EXPECT_EQ(RegisteredDomain("http://kyoto.jp/", slds), "");
  // Rules hold A-labels; a Unicode name gives its registrable domain in ACE form.
  EXPECT_EQ(RegisteredDomain("www.食狮.公司.cn", slds), "xn--85x722f.xn--55qx5d.cn");
  EXPECT_EQ(RegisteredDomain("公司.cn", slds), "");
  EXPECT_EQ(RegisteredDomain("shop.Bücher.DE", slds), "xn--bcher-kva.de");
  // An empty label belongs to no domain; an address stays an address.
  EXPECT_EQ(RegisteredDomain(".example.de", slds), "");
  EXPECT_EQ(RegisteredDomain("a..example.de", slds), "");
  EXPECT_EQ(RegisteredDomain("http://192.0.2.1:80/", slds), "192.0.2.1");
}

// ---- Public suffix list test cases ------------------------------------------------

namespace {

// The cases of the list's own test file, Debian's copy when it is installed,
// else the copy beside the tests: checkPublicSuffix('input', 'expected');
// with null for no input or no registrable domain.
std::vector<std::pair<std::string, std::string>> PublicSuffixCases(std::string& from) {
  from = "/usr/share/doc/publicsuffix/examples/test_psl.txt";
  if (!fs::exists(from)) from = std::string(QUOVIX_SOURCE_DIR) + "/tests/data/test_psl.txt";
  std::ifstream in(from);
  std::vector<std::pair<std::string, std::string>> cases;
  auto arg = [](std::string_view s) {
    s = s.substr(s.find_first_not_of(' '));
    return s == "null" ? std::string() : std::string(s.substr(1, s.size() - 2));
  };
  for (std::string line; std::getline(in, line);) {
    if (!line.starts_with("checkPublicSuffix(")) continue;  // comments, commented-out cases
    const size_t open = line.find('('), comma = line.find(','), close = line.rfind(')');
    if (comma == std::string::npos || close == std::string::npos || close < comma) continue;
    cases.emplace_back(arg(std::string_view(line).substr(open + 1, comma - open - 1)),
                       arg(std::string_view(line).substr(comma + 1, close - comma - 1)));
  }
  return cases;
}

// The suffixes of the list's private section (hosting services), which the
// pack leaves out: from Debian's list when it is installed; else uk.com, the
// only one the test file asks about.
std::vector<std::string> PrivateSuffixes() {
  std::ifstream in("/usr/share/publicsuffix/public_suffix_list.dat");
  if (!in) return {"uk.com"};
  std::vector<std::string> out;
  bool inPrivate = false;
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with("// ===BEGIN PRIVATE DOMAINS===")) inPrivate = true;
    if (line.starts_with("// ===END PRIVATE DOMAINS===")) inPrivate = false;
    if (!inPrivate || line.empty() || line.starts_with("//")) continue;
    line = line.substr(0, line.find_first_of(" \t\r"));
    if (line.starts_with("!")) line.erase(0, 1);
    if (line.starts_with("*.")) line.erase(0, 2);
    out.push_back(LowerAscii(EncodeIdn(line)));
  }
  return out;
}

bool UnderAny(const std::string& name, const std::vector<std::string>& suffixes) {
  return std::any_of(suffixes.begin(), suffixes.end(), [&](const std::string& s) {
    return name == s || name.ends_with("." + s);
  });
}

}  // namespace

TEST(ShippedData, PublicSuffixListTestCasesGiveTheirRegistrableDomains) {
  const auto rules = SplitPakRows(LoadPak(std::string(QUOVIX_BIN_DIR) + "/SLDs.pak"));
  std::string from;
  const auto cases = PublicSuffixCases(from);
  const auto privateSuffixes = PrivateSuffixes();
  size_t icann = 0;
  for (const auto& [input, expected] : cases) {
    const std::string name = LowerAscii(EncodeIdn(input));
    if (UnderAny(name, privateSuffixes)) continue;  // answered by the private section
    ++icann;
    // The expected domain in the form the rules and the tools use.
    EXPECT_EQ(RegisteredDomain(input, rules), LowerAscii(EncodeIdn(expected)))
        << "'" << input << "' (" << from << ")";
  }
  EXPECT_GE(icann, 60u) << from;
  // The names of the wildcard and exception rules of the ICANN section.
  for (const char* tld : {"ck", "er", "fk", "jm", "mm", "np", "pg"}) {
    const std::string t = tld;
    EXPECT_EQ(RegisteredDomain("www.example.com." + t, rules), "example.com." + t) << t;
    EXPECT_EQ(RegisteredDomain("com." + t, rules), "") << t;
  }
  EXPECT_EQ(RegisteredDomain("example.com.bd", rules), "example.com.bd");
  EXPECT_EQ(RegisteredDomain("com.bd", rules), "");
  EXPECT_EQ(RegisteredDomain("www.city.kobe.jp", rules), "city.kobe.jp");
  EXPECT_EQ(RegisteredDomain("www.city.kawasaki.jp", rules), "city.kawasaki.jp");
  EXPECT_EQ(RegisteredDomain("x.y.kawasaki.jp", rules), "x.y.kawasaki.jp");
  EXPECT_EQ(RegisteredDomain("a.b.ide.kyoto.jp", rules), "b.ide.kyoto.jp");
  EXPECT_EQ(RegisteredDomain("www.test.k12.ak.us", rules), "test.k12.ak.us");
  EXPECT_EQ(RegisteredDomain("a.b.pvt.k12.ma.us", rules), "b.pvt.k12.ma.us");
  for (const char* suffix : {"com", "co.uk", "kyoto.jp", "k12.ak.us", "com.au"})
    EXPECT_EQ(RegisteredDomain(suffix, rules), "") << suffix;
  // Only the registries' own section: names below hosting services are theirs.
  EXPECT_EQ(RegisteredDomain("a.b.blogspot.com", rules), "blogspot.com");
}

// ---- List files ------------------------------------------------------------------

TEST_F(PackFolder, ListDataFilesTakesMatchingFilesOnly) {
  Pack("Ports.clf", "443/tcp  https\n");
  Pack("Länder.clf", "DE  Deutschland\n");
  Pack("notes.txt", "x");
  fs::create_directory(dir_ / "folder.clf");
  std::vector<std::string> list{"stale"};
  EXPECT_EQ(ListDataFiles(ProgramFolder, "*.clf", list), 2);
  EXPECT_EQ(list, (std::vector<std::string>{ProgramFolder + "Länder.clf", ProgramFolder + "Ports.clf"}));
  EXPECT_EQ(ListDataFiles(ProgramFolder + "missing/", "*.clf", list), 0);
  EXPECT_TRUE(list.empty());
}

// ---- The shipped data ------------------------------------------------------------

TEST(ShippedData, PacksAreBuiltAndRead) {
  const std::string saved = ProgramFolder;
  ProgramFolder = std::string(QUOVIX_BIN_DIR) + "/";
  ResetDataPackCache();
  TldInfo de = LookupTld("DE");
  EXPECT_EQ(de.Kind, "W");
  EXPECT_EQ(de.Target, "whois.denic.de");
  EXPECT_EQ(de.CountryDe, "Deutschland");
  NetworkRegistry r;
  for (const char* h : {"NET-ARIN", "NET-APNIC", "NET-LACNIC", "NET-RIPE"}) {
    r = {};
    LookupNetworkRegistry(h, r);
    EXPECT_FALSE(r.Server.empty()) << h;
  }
  // Every country-code row has names in both languages.
  for (const auto& row : SplitPakRows(LoadPak(ProgramFolder + "Whois.pak"))) {
    std::string key = GetField(row, "|", 1);
    if (key.size() == 2) {
      EXPECT_FALSE(GetField(row, "|", 2).empty()) << row;
      EXPECT_FALSE(GetField(row, "|", 3).empty()) << row;
    }
    std::string kind = GetField(row, "|", 4);
    if (key.rfind("NET-", 0) != 0) {
      EXPECT_TRUE(kind == "W" || kind == "L") << row;
    }
  }
  // Documentation and loopback addresses belong to no country.
  EXPECT_EQ(LookupIpCountry("127.0.0.1"), "");
  EXPECT_EQ(LookupIpCountry("192.0.2.1"), "");
  std::string c = LookupIpCountry("193.0.0.1");
  EXPECT_NE(c.find(" ("), std::string::npos) << c;
  // The IPv6 pack: loopback and link-local addresses are nobody's; the
  // first range of the pack has the country of its row.
  EXPECT_EQ(LookupIpCountry("::1"), "");
  EXPECT_EQ(LookupIpCountry("fe80::1"), "");
  const std::vector<std::string> rows6 = SplitPakRows(LoadPak(ProgramFolder + "IPCountry6.pak"));
  ASSERT_GT(rows6.size(), 1000u);
  EXPECT_EQ(LookupIpCountry(GetField(rows6[0], "|", 1)),
            GetField(rows6[0], "|", 4) + " (" + GetField(rows6[0], "|", 3) + ")");
  ResetDataPackCache();
  ProgramFolder = saved;
}

TEST(ShippedData, WindowLoadsSecondLevelDomainsAndOffersTheLists) {
  const std::string saved = ProgramFolder, savedIni = IniFilePath;
  ProgramFolder = std::string(QUOVIX_BIN_DIR) + "/";
  IniFilePath = (fs::temp_directory_path() / ("quovix-packs-" + std::to_string(::getpid()) + ".ini")).string();
  {
    TfrmMain f;
    f.FormCreate();
    EXPECT_GT(f.SldList.size(), 1000u);
    EXPECT_EQ(RegisteredDomain("shop.example.co.uk", f.SldList), "example.co.uk");
    EXPECT_EQ(RegisteredDomain("www.example.com.au", f.SldList), "example.com.au");
    EXPECT_EQ(RegisteredDomain("www.example.de", f.SldList), "example.de");
    const auto& names = f.cmbListList.Items();
    for (const char* want : {"Ports", "Top-Level-Domains", "Länder", "HTTP-Statuscodes", "DNS-Typen",
                             "SMTP-Codes", "ICMP-Typen"})
      EXPECT_NE(std::find(names.begin(), names.end(), want), names.end()) << want;
    EXPECT_EQ(f.cmbListList.ItemIndex(), 0);
  }
  fs::remove(IniFilePath);
  ProgramFolder = saved;
  IniFilePath = savedIni;
}

// ---- Special-purpose ranges ----------------------------------------------------------

TEST(SpecialRanges, EachRangeByItsMostSpecificPrefix) {
  const struct {
    const char* address;
    SpecialRange kind;
    const char* prefix;
  } cases[] = {
      {"10.1.2.3", SpecialRange::Private, "10.0.0.0/8"},
      {"172.31.255.255", SpecialRange::Private, "172.16.0.0/12"},
      {"172.32.0.0", SpecialRange::None, ""},
      {"100.64.0.1", SpecialRange::Shared, "100.64.0.0/10"},
      {"127.0.0.1", SpecialRange::Loopback, "127.0.0.0/8"},
      {"169.254.1.1", SpecialRange::LinkLocal, "169.254.0.0/16"},
      {"192.0.0.9", SpecialRange::Protocol, "192.0.0.0/24"},
      {"192.0.2.1", SpecialRange::Documentation, "192.0.2.0/24"},
      {"203.0.113.7", SpecialRange::Documentation, "203.0.113.0/24"},
      {"198.19.255.255", SpecialRange::Benchmarking, "198.18.0.0/15"},
      {"198.20.0.0", SpecialRange::None, ""},
      {"192.88.99.1", SpecialRange::Relay6to4, "192.88.99.0/24"},
      {"224.0.0.251", SpecialRange::Multicast, "224.0.0.0/4"},
      {"255.255.255.255", SpecialRange::Broadcast, "255.255.255.255/32"},
      {"250.0.0.1", SpecialRange::Reserved, "240.0.0.0/4"},
      {"8.8.8.8", SpecialRange::None, ""},
      {"::", SpecialRange::Unspecified, "::/128"},
      {"::1", SpecialRange::Loopback, "::1/128"},
      {"::ffff:192.168.1.1", SpecialRange::Private, "192.168.0.0/16"},
      {"2001:db8::1", SpecialRange::Documentation, "2001:db8::/32"},
      {"2001:da8::1", SpecialRange::None, ""},
      {"3fff:fff::1", SpecialRange::Documentation, "3fff::/20"},
      {"2001::1", SpecialRange::Teredo, "2001::/32"},
      {"2001:2::1", SpecialRange::Benchmarking, "2001:2::/48"},
      {"2002:c000:201::1", SpecialRange::SixToFour, "2002::/16"},
      {"fd12:3456::1", SpecialRange::UniqueLocal, "fc00::/7"},
      {"fe80::1%eth0", SpecialRange::LinkLocal, "fe80::/10"},
      {"ff02::1", SpecialRange::Multicast, "ff00::/8"},
      {"100::1", SpecialRange::Discard, "100::/64"},
      {"2a00:1450::1", SpecialRange::None, ""},
      {"not an address", SpecialRange::None, ""},
  };
  for (const auto& c : cases) {
    const SpecialRangeMatch m = FindSpecialRange(std::string(c.address));
    EXPECT_EQ(m.Kind, c.kind) << c.address;
    EXPECT_EQ(m.Prefix, c.prefix) << c.address;
  }
  EXPECT_TRUE(IsLocalRange(SpecialRange::Private));
  EXPECT_TRUE(IsLocalRange(SpecialRange::UniqueLocal));
  EXPECT_FALSE(IsLocalRange(SpecialRange::Documentation));
}

// Whatever the data says, a special range shows as such, in the host blocks
// of every tool; an ordinary address keeps its country.
TEST_F(PackFolder, CountryLineNamesTheSpecialRangeInsteadOfTheData) {
  Pack("IPCountry6.pak", "2001:db8::|2001:db8:ffff:ffff:ffff:ffff:ffff:ffff|JP|Japan\n"
                         "2001:da8::|2001:da8:ffff:ffff:ffff:ffff:ffff:ffff|AU|Australia\n");
  Pack("IPCountry.pak", "167772160|184549375|US|United States\n");  // 10.0.0.0/8
  TfrmMain f;
  AppendCountryLine(f, f.rePing, "2001:db8::1");
  AppendCountryLine(f, f.rePing, "2001:da8::1");
  AppendCountryLine(f, f.rePing, "10.0.0.1");
  AppendCountryLine(f, f.rePing, "2a00::1");  // no row: no line
  const auto& lines = f.rePing.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].Text, "  Land:        (Dokumentation)");
  EXPECT_EQ(lines[0].Color, clNavy);
  EXPECT_EQ(FindField(lines[0].Fields, "special_range")->AsText(), "documentation");
  EXPECT_EQ(FindField(lines[0].Fields, "range")->AsText(), "2001:db8::/32");
  EXPECT_EQ(lines[1].Text, "  Land:        Australia (AU)");
  EXPECT_EQ(lines[2].Text, "  Land:        (privat)");
}

// A start that finds the table in the cache neither reads the pack nor the
// whole table (the file is mapped; a look-up touches a few pages), and a
// cold start gives back what building took.
TEST(ShippedData, CachedCountryTableCostsNoReadAndBuildingKeepsNoMemory) {
  const std::string saved = ProgramFolder;
  ProgramFolder = std::string(QUOVIX_BIN_DIR) + "/";
  const fs::path cache = fs::temp_directory_path() / ("quovix-packs-cost-" + std::to_string(::getpid()));
  fs::remove_all(cache);
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  auto procValue = [](const char* file, const char* key) {
    std::ifstream in(file);
    for (std::string k; in >> k;) {
      long long v = 0;
      in >> v;
      if (k == key) return v;
    }
    return -1LL;
  };
  ResetDataPackCache();
  const long long rssBefore = procValue("/proc/self/status", "VmRSS:");
  EXPECT_FALSE(LookupIpCountry("2a00:1450::1").empty());  // cold: built and cached
  const long long rssAfter = procValue("/proc/self/status", "VmRSS:");
  EXPECT_LT(rssAfter - rssBefore, 16 * 1024) << "kB kept after building the table";

  ResetDataPackCache();
  const long long readBefore = procValue("/proc/self/io", "rchar:");
  EXPECT_FALSE(LookupIpCountry("2a00:1450::1").empty());  // warm: from the cache
  const long long read = procValue("/proc/self/io", "rchar:") - readBefore;
  EXPECT_LT(read, 64 * 1024) << "bytes read for a look-up from the cache";

  ResetDataPackCache();
  setenv("XDG_CACHE_HOME", QUOVIX_TEST_CACHE_DIR, 1);
  fs::remove_all(cache);
  ProgramFolder = saved;
}

// ---- The AS packs ----------------------------------------------------------------------

TEST_F(PackFolder, AsOfAnAddressFromItsPackNoneForSpecialOrUnannouncedOnes) {
  Pack("ASN.pak", "16777216|16777471|13335|Cloudflare, Inc.\n"   // 1.0.0.0/24
                  "167772160|184549375|64500|Private Holder\n"   // 10.0.0.0/8, as data may say
                  "3227017984|3227018239|6939|Relay Operator\n"  // 192.88.99.0/24
                  "16777472|16777727|x|No number\n");
  Pack("ASN6.pak", "2001:db8::|2001:db8:ffff:ffff:ffff:ffff:ffff:ffff|64501|Doc\n"
                   "2a00:1450::|2a00:1450:ffff:ffff:ffff:ffff:ffff:ffff|15169|Google LLC\n");
  const struct {
    const char* address;
    std::uint32_t asn;  // 0: none
    const char* name;
  } cases[] = {
      {"1.0.0.1", 13335, "Cloudflare, Inc."}, {"::ffff:1.0.0.200", 13335, "Cloudflare, Inc."},
      {"2a00:1450::1", 15169, "Google LLC"},  {"192.88.99.1", 6939, "Relay Operator"},
      {"10.1.2.3", 0, ""},                    {"2001:db8::1", 0, ""},
      {"1.0.1.1", 0, ""},                     {"9.9.9.9", 0, ""},
      {"no address", 0, ""},
  };
  for (const auto& c : cases) {
    const std::optional<AsInfo> as = LookupAs(c.address);
    EXPECT_EQ(as ? as->Asn : 0u, c.asn) << c.address;
    if (as) {
      EXPECT_EQ(as->Name, c.name) << c.address;
    }
  }
  TfrmMain f;
  AppendPlaceLines(f, f.reDns, "1.0.0.1");
  ASSERT_EQ(f.reDns.Lines().size(), 1u);  // no country pack: the network line alone
  EXPECT_EQ(f.reDns.Lines()[0].Text, "  Netz (AS):   AS13335 Cloudflare, Inc.");
  EXPECT_EQ(FindField(f.reDns.Lines()[0].Fields, "asn")->AsInteger(), 13335);
}

TEST_F(PackFolder, TraceHopRecordsCarryTheNetworkOfTheirNodeTheLinesStayAsTheyAre) {
  Pack("ASN.pak", "16777216|16777471|13335|Cloudflare, Inc.\n");  // 1.0.0.0/24
  icmptest::FakeIcmp icmp;
  platform::ScopedSeam<platform::IIcmp> seam{&icmp};
  icmp.Script = {icmptest::StatusReply(kIcmpTtlExpiredTransit, "1.0.0.1", 3),
                 icmptest::StatusReply(kIcmpTtlExpiredTransit, "192.0.2.1", 4),
                 icmptest::EchoReply("1.0.0.9", "AAAAAAAA", 5)};
  TfrmMain f;
  f.cmbTraceHost.SetText("1.0.0.9");
  f.cmbTraceTimeout.SetText("100");
  f.chkTraceResolve.SetCheckedSilently(false);
  f.btnTraceStartClick();
  const struct {
    const char* text;
    long long asn;  // 0: no AS fields
  } hops[] = {{"   1. Knoten: 1.0.0.1: 3 ms", 13335},
              {"   2. Knoten: 192.0.2.1: 4 ms", 0},
              {"   3. Knoten: 1.0.0.9: 5 ms", 13335}};
  for (const auto& h : hops) {
    const auto it = std::find_if(f.reTrace.Lines().begin(), f.reTrace.Lines().end(),
                                 [&](const auto& l) { return l.Text == h.text; });
    ASSERT_NE(it, f.reTrace.Lines().end()) << h.text;
    const auto* asn = FindField(it->Fields, "asn");
    EXPECT_EQ(asn ? asn->AsInteger() : 0, h.asn) << h.text;
    if (h.asn) {
      EXPECT_EQ(FindField(it->Fields, "as_name")->AsText(), "Cloudflare, Inc.");
    }
  }
}

TEST(ShippedData, AsPacksAreBuiltAndRead) {
  const std::string saved = ProgramFolder;
  ProgramFolder = std::string(QUOVIX_BIN_DIR) + "/";
  ResetDataPackCache();
  const std::optional<AsInfo> v4 = LookupAs("1.1.1.1"), v6 = LookupAs("2606:4700:4700::1111");
  ASSERT_TRUE(v4 && v6);
  EXPECT_EQ(v4->Asn, 13335u);
  EXPECT_EQ(v6->Asn, 13335u);
  EXPECT_FALSE(LookupAs("192.168.1.1"));
  ResetDataPackCache();
  ProgramFolder = saved;
}
