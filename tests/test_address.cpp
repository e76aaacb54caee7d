// Addresses of both families: text forms, host:port texts, and the
// family-aware look-ups.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>

#include "common/IpAddress.h"
#include "common/fMain.h"
#include "platform/Resolver.h"
#include "platform/SockAddr.h"

using namespace quovix;

TEST(IpAddressText, IPv6IsPrintedInItsRfc5952Form) {
  const std::pair<const char*, const char*> cases[] = {
      {"2001:0DB8:0000:0000:0000:0000:0000:0001", "2001:db8::1"},
      {"2001:db8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},        // the first of two equal runs
      {"2001:db8:0:0:0:1:0:0", "2001:db8::1:0:0"},          // the longer run wins
      {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},     // one zero group stays "0"
      {"0:0:0:0:0:0:0:0", "::"},
      {"0:0:0:0:0:0:0:1", "::1"},
      {"1:0:0:0:0:0:0:0", "1::"},
      {"::ffff:192.0.2.1", "::ffff:192.0.2.1"},              // IPv4-mapped keeps its tail
      {"::FFFF:C000:0201", "::ffff:192.0.2.1"},
      {"64:ff9b::192.0.2.33", "64:ff9b::c000:221"},
      {"[fd00::0001]", "fd00::1"},
      {"FE80::1%eth0", "fe80::1%eth0"},
      {"[fe80::1%2]", "fe80::1%2"},
      {"1:2:3:4:5:6:7::", "1:2:3:4:5:6:7:0"},
  };
  for (auto [in, out] : cases) {
    const IpAddress a = IpAddress::Parse(in);
    EXPECT_TRUE(a.IsV6()) << in;
    EXPECT_EQ(a.ToString(), out) << in;
    EXPECT_EQ(IpAddress::Parse(a.ToString()), a) << in;
  }
  EXPECT_EQ(IpAddress::Parse("::1").UrlHost(), "[::1]");
  EXPECT_EQ(IpAddress::Parse("fe80::1%eth0").Zone(), "eth0");
}

TEST(IpAddressText, MalformedTextIsNoAddress) {
  for (const char* bad :
       {"", ":", ":::", "1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7", "1::2::3", "12345::", "g::1",
        ":1::", "1::2:", "1:2:3:4:5:6:7:8::", "::1.2.3", "::1.2.3.256", "::01.2.3.4",
        "1.2.3.4::", "::1%", "::1%a b", "[::1", "::1]", "[]", "[1.2.3.4]", "::1 ", " ::1",
        "fe80::1%eth0%1", "1:2:3:4:5:6:1.2.3.4:5"}) {
    EXPECT_TRUE(IpAddress::Parse(bad).Empty()) << bad;
    EXPECT_TRUE(IsHostName(bad)) << bad;
  }
  EXPECT_TRUE(IpAddress::Parse(std::string(40, 'a') + "::1").Empty());
  EXPECT_TRUE(IpAddress::Parse("fe80::1%" + std::string(33, 'x')).Empty());
}

TEST(IpAddressText, IPv4KeepsTheProgramsDottedReading) {
  // The same reading as IsHostName and IpToNumber always had.
  EXPECT_EQ(IpAddress::Parse("010.0.0.1").ToString(), "10.0.0.1");
  EXPECT_EQ(IpAddress::Parse("192.0.2.7").V4Number(), IpToNumber("192.0.2.7"));
  EXPECT_TRUE(IpAddress::Parse("192.168.1.300").Empty());
  EXPECT_EQ(CanonicalAddress("010.0.0.1"), "010.0.0.1");  // IPv4 text stays as typed
  EXPECT_EQ(CanonicalAddress("[FD00::1]"), "fd00::1");
  EXPECT_EQ(CanonicalAddress("host.example"), "host.example");
}

TEST(IpAddressText, IPv6LiteralsAreAddressesNotHostNames) {
  for (const char* a : {"::1", "[::1]", "2001:db8::5", "fe80::1%eth0", "[fe80::1%eth0]",
                        "::ffff:192.0.2.1"})
    EXPECT_FALSE(IsHostName(a)) << a;
  EXPECT_TRUE(IsHostName("[::1]:53"));
  EXPECT_TRUE(IsHostName("host.example"));
}

TEST(IpAddressText, ReverseNames) {
  EXPECT_EQ(IpAddress::Parse("192.0.2.7").ReverseName(), "7.2.0.192.in-addr.arpa");
  EXPECT_EQ(IpAddress::Parse("2001:db8::567:89ab").ReverseName(),
            "b.a.9.8.7.6.5.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa");
  EXPECT_EQ(IpAddress().ReverseName(), "");
}

TEST(IpAddressText, SocketAddressesKeepTheZone) {
  sockaddr_storage ss{};
  const IpAddress lo = IpAddress::Parse("fe80::1%lo");
  const socklen_t len = platform::ToSockAddr(lo, 7, ss);
  ASSERT_GT(len, 0u);
  EXPECT_EQ(platform::FromSockAddr(reinterpret_cast<sockaddr*>(&ss), len), lo);
  EXPECT_EQ(platform::PortOf(reinterpret_cast<sockaddr*>(&ss), len), 7);
  // A zone that names no interface of this computer cannot be used.
  EXPECT_EQ(platform::ToSockAddr(IpAddress::Parse("fe80::1%nosuchif0"), 0, ss), 0u);
  const IpAddress v4 = IpAddress::Parse("192.0.2.9");
  EXPECT_EQ(platform::FromSockAddr(reinterpret_cast<sockaddr*>(&ss),
                                   platform::ToSockAddr(v4, 0, ss)),
            v4);
}

TEST(TextUrl, SplitUrlPortTakesBracketedIPv6) {
  using R = std::pair<std::string, int>;
  EXPECT_EQ(SplitUrlPort("[::1]:5353"), R("[::1]", 5353));
  EXPECT_EQ(SplitUrlPort("[::1]"), R("[::1]", -1));
  EXPECT_EQ(SplitUrlPort("[::1]:"), R("[::1]", -1));
  EXPECT_EQ(SplitUrlPort("[fe80::1%eth0]:43"), R("[fe80::1%eth0]", 43));
  EXPECT_EQ(SplitUrlPort("http://[2001:db8::1]:8080/a:b"), R("http://[2001:db8::1]/a:b", 8080));
  EXPECT_EQ(SplitUrlPort("http://[2001:db8::1]/x"), R("http://[2001:db8::1]/x", -1));
  // Unbracketed, the colons belong to the address.
  EXPECT_EQ(SplitUrlPort("::1"), R("::1", -1));
  EXPECT_EQ(SplitUrlPort("2001:db8::53"), R("2001:db8::53", -1));
  // Credentials before the host do not hide its port.
  EXPECT_EQ(SplitUrlPort("http://u:p@[::1]:81/"), R("http://u:p@[::1]/", 81));
  EXPECT_EQ(SplitUrlPort("http://u:p@host:81/"), R("http://u:p@host/", 81));
}

TEST(DataPacks, RegisteredDomainOfAnIPv6AddressIsTheAddress) {
  EXPECT_EQ(RegisteredDomain("2001:DB8::1", {}), "2001:db8::1");
  EXPECT_EQ(RegisteredDomain("http://[2001:db8::1]:8080/x", {}), "2001:db8::1");
}

namespace {

// Answers from tables; "slow.example" blocks until released.
class DualResolver : public platform::IResolver {
 public:
  std::map<std::string, std::vector<IpAddress>> Names;
  std::map<std::string, std::string> Reverse;  // address text -> name

  std::string HostToIp(const std::string&) override { return "198.51.100.99"; }
  std::string IpToHost(std::uint32_t) override { return "v4-only-path"; }
  std::string OwnAddress() override { return "192.0.2.50"; }
  std::string SystemHostName() override { return "box"; }
  std::vector<IpAddress> Addresses(const std::string& name) override {
    if (name == "slow.example") {
      std::unique_lock<std::mutex> lock(m_);
      cv_.wait(lock, [&] { return released_; });
    }
    auto it = Names.find(name);
    return it == Names.end() ? std::vector<IpAddress>{} : it->second;
  }
  std::string AddressToHost(const IpAddress& a) override {
    auto it = Reverse.find(a.ToString());
    return it == Reverse.end() ? std::string() : it->second;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(m_);
    released_ = true;
    cv_.notify_all();
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool released_ = false;
};

IpAddress A(const char* s) { return IpAddress::Parse(s); }

}  // namespace

TEST(HostLookup, FamilyAwareLookupsKeepTheResolversOrderAndChooseByFamily) {
  auto fake = std::make_shared<DualResolver>();
  fake->Names["dual.example"] = {A("2001:db8::7"), A("192.0.2.7"), A("192.0.2.8")};
  fake->Names["v6only.example"] = {A("2001:db8::6"), A("2001:db8::66")};
  fake->Names["v4only.example"] = {A("192.0.2.4")};
  fake->Reverse["2001:db8::7"] = " dual.example\n";
  platform::ScopedResolver use(fake);

  EXPECT_EQ(ResolveHostAddresses("dual.example", 5000), fake->Names["dual.example"]);
  EXPECT_EQ(ResolveHostToAddress("dual.example", 5000, false), "192.0.2.7");
  EXPECT_EQ(ResolveHostToAddress("dual.example", 5000, true), "2001:db8::7");
  EXPECT_EQ(ResolveHostToAddress("v6only.example", 5000, false), "2001:db8::6");
  EXPECT_EQ(ResolveHostToAddress("v4only.example", 5000, true), "192.0.2.4");
  EXPECT_EQ(ResolveHostToAddress("none.example", 5000, false), "");
  // The empty name is this computer, as for ResolveHostToIp.
  EXPECT_EQ(ResolveHostAddresses("", 5000), std::vector<IpAddress>{A("192.0.2.50")});
  // Reverse look-ups of IPv6 addresses, in any spelling, trimmed.
  EXPECT_EQ(ResolveIpToHost("2001:DB8:0::7", 5000), "dual.example");
  EXPECT_EQ(ResolveIpToHost("[2001:db8::7]", 5000), "dual.example");
  EXPECT_EQ(ResolveIpToHost("2001:db8::8", 5000), "");
  // The IPv4 paths stay as they were.
  EXPECT_EQ(ResolveHostToIp("dual.example", 5000), "198.51.100.99");
}

TEST(HostLookup, FamilyAwareLookupIsBoundedByItsLimit) {
  auto fake = std::make_shared<DualResolver>();
  fake->Names["slow.example"] = {A("2001:db8::1")};
  platform::ScopedResolver use(fake);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ResolveHostAddresses("slow.example", 150).empty());
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(140));
  EXPECT_LT(waited, std::chrono::seconds(5));
  fake->Release();  // the abandoned worker ends alone
}

TEST(HostLookup, AnIPv4OnlyResolverStillAnswersTheFamilyAwareLookups) {
  struct V4Only : platform::IResolver {
    std::string HostToIp(const std::string& n) override { return n == "a.example" ? "192.0.2.1" : ""; }
    std::string IpToHost(std::uint32_t a) override { return a == 0xC0000201 ? "a.example" : ""; }
    std::string OwnAddress() override { return "127.0.0.1"; }
    std::string SystemHostName() override { return "box"; }
  };
  platform::ScopedResolver use(std::make_shared<V4Only>());
  EXPECT_EQ(ResolveHostAddresses("a.example", 5000), std::vector<IpAddress>{A("192.0.2.1")});
  EXPECT_EQ(ResolveIpToHost("192.0.2.1", 5000), "a.example");
  EXPECT_EQ(ResolveIpToHost("2001:db8::1", 5000), "");
}

TEST(HostLookup, SystemResolverGivesLiteralsBack) {
  // No name server is asked for a literal.
  EXPECT_EQ(ResolveHostAddresses("::1", 5000), std::vector<IpAddress>{A("::1")});
  EXPECT_EQ(ResolveHostToAddress("127.0.0.1", 5000, true), "127.0.0.1");
}
