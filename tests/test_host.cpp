// Host names, addresses, bounded look-ups and IDN encoding.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "common/fMain.h"
#include "platform/Resolver.h"

using namespace quovix;
using namespace std::chrono_literals;

TEST(HostAddressText, DottedAddressesAndNames) {
  EXPECT_FALSE(IsHostName("192.168.1.1"));
  EXPECT_FALSE(IsHostName("0.0.0.0"));
  EXPECT_FALSE(IsHostName("255.255.255.255"));
  EXPECT_TRUE(IsHostName("192.168.1.300"));
  EXPECT_TRUE(IsHostName("192.168.1"));
  EXPECT_TRUE(IsHostName("1.2.3.4.5"));
  EXPECT_TRUE(IsHostName("1.2.3."));
  EXPECT_TRUE(IsHostName("1..2.3"));
  EXPECT_TRUE(IsHostName("-1.2.3.4"));
  EXPECT_TRUE(IsHostName(""));
  EXPECT_TRUE(IsHostName("www.example.com"));
  EXPECT_TRUE(IsHostName("a.b.c.d"));
}

TEST(HostAddressText, IpToNumber) {
  EXPECT_EQ(IpToNumber("1.2.3.4"), 16909060u);
  EXPECT_EQ(IpToNumber("1.2.3"), 0u);
  EXPECT_EQ(IpToNumber("1.2.3.4.5"), 0u);
  EXPECT_EQ(IpToNumber("255.255.255.255"), 4294967295u);
  EXPECT_EQ(IpToNumber("128.0.0.0"), 2147483648u);
  EXPECT_EQ(IpToNumber("10.x.0.1"), 167772161u);  // a field that is no number counts 0
  EXPECT_EQ(IpToNumber(""), 0u);
}

namespace {

// A resolver whose answers the test controls; "block:" names wait until
// released. Shared with the workers, so it outlives abandoned ones.
class FakeResolver : public platform::IResolver {
 public:
  std::string HostToIp(const std::string& name) override {
    std::unique_lock<std::mutex> lock(m_);
    ++calls_;
    if (name == "first") {
      cv_.wait(lock, [&] { return releaseFirst_; });
      firstAnswered_ = true;
      cv_.notify_all();
      return "192.0.2.1";
    }
    if (name == "second") {
      // Let the late first worker deliver its answer during this call's wait.
      releaseFirst_ = true;
      cv_.notify_all();
      cv_.wait(lock, [&] { return firstAnswered_; });
      cv_.wait(lock, [&] { return releaseSecond_; });
      return "192.0.2.2";
    }
    if (name == "slow") {
      cv_.wait(lock, [&] { return releaseSecond_; });
      return "192.0.2.3";
    }
    auto it = hosts.find(name);
    return it == hosts.end() ? std::string() : it->second;
  }
  std::string IpToHost(std::uint32_t address) override {
    std::lock_guard<std::mutex> lock(m_);
    ++calls_;
    lastReverse = address;
    auto it = reverse.find(address);
    return it == reverse.end() ? std::string() : it->second;
  }
  std::string OwnAddress() override { return own; }
  std::string SystemHostName() override { return "workstation7"; }

  void ReleaseAll() {
    std::lock_guard<std::mutex> lock(m_);
    releaseFirst_ = releaseSecond_ = true;
    cv_.notify_all();
  }
  int Calls() {
    std::lock_guard<std::mutex> lock(m_);
    return calls_;
  }

  std::map<std::string, std::string> hosts;
  std::map<std::uint32_t, std::string> reverse;
  std::string own = "192.0.2.50";
  std::uint32_t lastReverse = 0;

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool releaseFirst_ = false, releaseSecond_ = false, firstAnswered_ = false;
  int calls_ = 0;
};

}  // namespace

TEST(HostLookup, AnswersInTimeAreTrimmed) {
  auto fake = std::make_shared<FakeResolver>();
  fake->hosts["www.example.test"] = " 198.51.100.7\r\n";
  fake->reverse[0xC6336407] = "\twww.example.test ";
  platform::ScopedResolver use(fake);
  EXPECT_EQ(ResolveHostToIp("www.example.test", 5000), "198.51.100.7");
  EXPECT_EQ(ResolveHostToIp("unknown.example.test", 5000), "");
  EXPECT_EQ(ResolveIpToHost("198.51.100.7", 5000), "www.example.test");
  EXPECT_EQ(ResolveIpToHost("198.51.100.8", 5000), "");  // no reverse entry
}

TEST(HostLookup, ReverseLookupTakesOnlyDottedAddresses) {
  auto fake = std::make_shared<FakeResolver>();
  platform::ScopedResolver use(fake);
  EXPECT_EQ(ResolveIpToHost("www.example.test", 5000), "");
  EXPECT_EQ(ResolveIpToHost("1.2.3.256", 5000), "");
  EXPECT_EQ(fake->Calls(), 0);
  // The address is read the way the rest of the program reads it.
  ResolveIpToHost("010.0.0.1", 5000);
  EXPECT_EQ(fake->lastReverse, 0x0A000001u);
}

TEST(HostLookup, EmptyNameIsThisComputer) {
  auto fake = std::make_shared<FakeResolver>();
  platform::ScopedResolver use(fake);
  EXPECT_EQ(ResolveHostToIp("", 5000), "192.0.2.50");
  // Without a reverse entry the own address is named after the computer...
  EXPECT_EQ(ResolveIpToHost("192.0.2.50", 5000), "workstation7");
  // ...with one, the resolver's name wins; other addresses get no fallback.
  fake->reverse[0xC0000232] = "ws7.example.test";
  EXPECT_EQ(ResolveIpToHost("192.0.2.50", 5000), "ws7.example.test");
  EXPECT_EQ(ResolveIpToHost("192.0.2.51", 5000), "");
}

TEST(HostLookup, LateAnswerIsEmptyAtTheLimitAndNeverReachesTheNextCall) {
  auto fake = std::make_shared<FakeResolver>();
  platform::ScopedResolver use(fake);
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(ResolveHostToIp("first", 100), "");
  // Returned at the limit, long before the resolver would have answered.
  EXPECT_LT(std::chrono::steady_clock::now() - t0, 30s);
  // The first worker answers while the second call waits; its answer must
  // not show up as the second call's result.
  EXPECT_EQ(ResolveHostToIp("second", 1500), "");
  fake->ReleaseAll();
  // A later call gets its own answer.
  fake->hosts["third"] = "192.0.2.9";
  EXPECT_EQ(ResolveHostToIp("third", 5000), "192.0.2.9");
}

TEST(HostLookup, AbandonedWorkerKeepsItsResolverAlive) {
  std::weak_ptr<FakeResolver> watch;
  {
    auto fake = std::make_shared<FakeResolver>();
    watch = fake;
    platform::ScopedResolver use(fake);
    EXPECT_EQ(ResolveHostToIp("slow", 50), "");
  }
  // The test let go of the resolver; the blocked worker still owns a share.
  auto still = watch.lock();
  ASSERT_TRUE(still);
  still->ReleaseAll();
  still.reset();
  for (int i = 0; i < 500 && !watch.expired(); ++i) std::this_thread::sleep_for(10ms);
  EXPECT_TRUE(watch.expired());
}

TEST(HostLookup, SystemResolverKnowsLocalhost) {
  // /etc/hosts answers for these; no query leaves the machine.
  EXPECT_EQ(ResolveHostToIp("localhost", 5000), "127.0.0.1");
  EXPECT_FALSE(ResolveIpToHost("127.0.0.1", 5000).empty());
  std::string own = ResolveHostToIp("", 5000);
  EXPECT_FALSE(IsHostName(own)) << own;
}

TEST(Idn, AsciiLabelsStayExactlyAsTyped) {
  EXPECT_EQ(EncodeIdn("example.com"), "example.com");
  EXPECT_EQ(EncodeIdn("WWW.Example.COM"), "WWW.Example.COM");
  EXPECT_EQ(EncodeIdn(""), "");
  EXPECT_EQ(EncodeIdn("a..b."), "a..b.");
  EXPECT_EQ(EncodeIdn("under_score.test"), "under_score.test");
}

TEST(Idn, OtherLabelsBecomeAce) {
  EXPECT_EQ(EncodeIdn("münchen.de"), "xn--mnchen-3ya.de");
  EXPECT_EQ(EncodeIdn("WWW.München.DE"), "WWW.xn--mnchen-3ya.DE");
  EXPECT_EQ(EncodeIdn("münchen.de."), "xn--mnchen-3ya.de.");
  EXPECT_EQ(EncodeIdn("bücher.example.рф"), "xn--bcher-kva.example.xn--p1ai");
  EXPECT_EQ(EncodeIdn("faß.de"), "xn--fa-hia.de");  // ß is kept, not mapped to ss
}

TEST(Idn, FailuresGiveEmpty) {
  EXPECT_EQ(EncodeIdn("\xff\xfe.de"), "");  // not UTF-8
  std::string longLabel = "ä" + std::string(60, 'a');
  EXPECT_EQ(EncodeIdn(longLabel + ".de"), "");  // ACE label longer than 63
  EXPECT_EQ(EncodeIdn(std::string("m\xc3\xbc\0x.de", 7)), "");
}

// The lengths DNS allows, counted in the IDN form; a name is refused, never
// cut to one that fits.
TEST(Idn, NamesLongerThanDnsAllowsAreRefused) {
  const std::string l63(63, 'a'), l61(61, 'b');
  const std::string n253 = l63 + "." + l63 + "." + l63 + "." + l61;  // 253 octets
  const struct {
    std::string name;
    const char* refusal;  // nullptr: asked for
  } cases[] = {
      {n253, nullptr},
      {n253 + ".", nullptr},  // the final dot is no octet of the name
      {n253 + "c", "name_too_long"},
      {"x." + n253, "name_too_long"},
      {l63 + ".test", nullptr},
      {l63 + "a.test", "name_too_long"},
      // 233 bytes of UTF-8 whose ACE form is longer than 253 octets, and a
      // label whose ACE form is longer than 63.
      {[] {
         std::string s;
         for (int i = 0; i < 7; ++i) s += std::string(30, 'a') + "ü.";
         return s + "de";
       }(),
       "name_too_long"},
      {"ä" + std::string(60, 'a') + ".de", "name_too_long"},
      {"\xff\xfe.de", "idn_not_encodable"},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    std::string idn;
    const char* refusal = EncodeHostName(c.name, idn);
    EXPECT_STREQ(refusal, c.refusal) << c.name.size() << ": " << c.name;
  }
}
