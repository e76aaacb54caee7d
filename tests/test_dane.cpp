// DANE matching of TLSA records against a chain: the expected association
// data comes from the openssl command, not from the code under test.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "HttpTestPeers.h"
#include "clients/Dane.h"
#include "support/TestCa.h"

using namespace quovix;

namespace {

// The standard output of a shell command, as bytes.
std::string Output(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    pclose(p);
  }
  return out;
}

std::string Der(const std::string& pem) { return Output("openssl x509 -in '" + pem + "' -outform DER"); }
std::string Spki(const std::string& pem) {
  return Output("openssl x509 -in '" + pem + "' -noout -pubkey | openssl pkey -pubin -outform DER");
}
std::string Digest(const std::string& bytes, const char* algorithm, const std::string& dir) {
  const std::string file = dir + "/digest.in";
  FILE* f = fopen(file.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
  return Output(std::string("openssl dgst -") + algorithm + " -binary '" + file + "'");
}

TTlsaData Tlsa(std::uint8_t usage, std::uint8_t selector, std::uint8_t matchingType, std::string data) {
  TTlsaData t;
  t.Usage = usage;
  t.Selector = selector;
  t.MatchingType = matchingType;
  t.Data = std::move(data);
  return t;
}

}  // namespace

TEST(Dane, RecordsMatchedAgainstTheChainAsSent) {
  httptest::TempDir dir;
  quovix::test::TestCa ca(dir.Path());
  ASSERT_TRUE(ca.Ok()) << ca.Log();
  const auto leaf = ca.Issue("leaf", "/CN=mx.dane.test", "DNS:mx.dane.test", false, true);
  const auto other = ca.Issue("other", "/CN=mx.other.test", "DNS:mx.other.test");
  ASSERT_TRUE(leaf.ok && other.ok);
  const std::vector<std::string> chain = {Der(leaf.cert), Der(ca.Intermediate())};
  ASSERT_FALSE(chain[0].empty());
  ASSERT_FALSE(chain[1].empty());
  const std::string leafSpki = Spki(leaf.cert);
  struct Case {
    const char* name;
    TTlsaData record;
    std::vector<std::string> chain;
    TDaneMatch expected;
  };
  const std::vector<Case> cases = {
      {"3 0 0 the whole certificate", Tlsa(3, 0, 0, chain[0]), chain, TDaneMatch::Match},
      {"3 1 1 key SHA-256", Tlsa(3, 1, 1, Digest(leafSpki, "sha256", dir.Path())), chain, TDaneMatch::Match},
      {"3 1 2 key SHA-512", Tlsa(3, 1, 2, Digest(leafSpki, "sha512", dir.Path())), chain, TDaneMatch::Match},
      {"3 0 1 certificate SHA-256", Tlsa(3, 0, 1, Digest(chain[0], "sha256", dir.Path())), chain, TDaneMatch::Match},
      {"2 0 1 the intermediate", Tlsa(2, 0, 1, Digest(chain[1], "sha256", dir.Path())), chain, TDaneMatch::Match},
      {"2 1 1 the intermediate's key", Tlsa(2, 1, 1, Digest(Spki(ca.Intermediate()), "sha256", dir.Path())), chain,
       TDaneMatch::Match},
      // DANE-EE looks at the server's own certificate alone.
      {"3 0 1 with the intermediate's hash", Tlsa(3, 0, 1, Digest(chain[1], "sha256", dir.Path())), chain,
       TDaneMatch::NoMatch},
      {"3 1 1 of another key", Tlsa(3, 1, 1, Digest(Spki(other.cert), "sha256", dir.Path())), chain,
       TDaneMatch::NoMatch},
      {"2 0 1 of an authority not sent", Tlsa(2, 0, 1, Digest(Der(ca.Ca()), "sha256", dir.Path())), chain,
       TDaneMatch::NoMatch},
      {"3 1 1 against no chain", Tlsa(3, 1, 1, Digest(leafSpki, "sha256", dir.Path())), {}, TDaneMatch::NoMatch},
      {"3 0 0 against bytes that are no certificate", Tlsa(3, 0, 0, "garbage"), {"garbage"}, TDaneMatch::NoMatch},
      {"1 1 1 PKIX-EE, though it fits", Tlsa(1, 1, 1, Digest(leafSpki, "sha256", dir.Path())), chain,
       TDaneMatch::NotForSmtp},
      {"0 0 1 PKIX-TA", Tlsa(0, 0, 1, Digest(chain[1], "sha256", dir.Path())), chain, TDaneMatch::NotForSmtp},
      {"4 1 1 unknown usage", Tlsa(4, 1, 1, Digest(leafSpki, "sha256", dir.Path())), chain, TDaneMatch::Unusable},
      {"3 2 1 unknown selector", Tlsa(3, 2, 1, Digest(leafSpki, "sha256", dir.Path())), chain, TDaneMatch::Unusable},
      {"3 1 3 unknown matching type", Tlsa(3, 1, 3, leafSpki), chain, TDaneMatch::Unusable},
  };
  for (const Case& c : cases) {
    ASSERT_FALSE(c.record.Data.empty()) << c.name;
    EXPECT_EQ(MatchTlsa(c.record, c.chain), c.expected) << c.name;
  }
}
