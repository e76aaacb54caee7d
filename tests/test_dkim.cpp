// DKIM key records: the tags of a record with keys made fresh by OpenSSL,
// and the look-up of the user's selectors beside the built-in ones.
#include <gtest/gtest.h>

#include "clients/Dkim.h"
#include "support/DkimKeys.h"
#include "support/PolicyDns.h"

using namespace quovix;
using namespace quovix::dkim;
using quovix::test::DkimPublicKey;
using quovix::test::TableDns;

TEST(DkimRecord, KeyTypeSizeFlagsAndProblems) {
  const std::string rsa512 = DkimPublicKey(512), rsa2048 = DkimPublicKey(2048);
  const std::string bare1024 = DkimPublicKey(1024, true), ed = DkimPublicKey(0);
  ASSERT_FALSE(rsa512.empty() || rsa2048.empty() || bare1024.empty() || ed.empty());
  struct Case {
    std::string text;
    const char* type;
    int bits;
    bool weak, revoked, testing;
    std::vector<std::string> problems;
  };
  const Case cases[] = {
      {"v=DKIM1; k=rsa; p=" + rsa2048, "rsa", 2048, false, false, false, {}},
      {"v=DKIM1; p=" + rsa512, "rsa", 512, true, false, false, {}},
      {"p=" + bare1024.substr(0, 40) + " " + bare1024.substr(40) + "; t=s:y; h=sha256", "rsa", 1024, false, false, true, {}},
      {"v=DKIM1; k=ed25519; p=" + ed, "ed25519", 256, false, false, false, {}},
      {"v=DKIM1; p=", "rsa", 0, false, true, false, {}},
      {"v=DKIM1; k=rsa", "rsa", 0, false, false, false, {"key"}},
      {"v=DKIM1; p=not*base64", "rsa", 0, false, false, false, {"key"}},
      {"v=DKIM1; k=ed25519; p=" + rsa512, "ed25519", 0, false, false, false, {"key"}},
      {"v=DKIM1; k=dsa; p=" + rsa512, "dsa", 0, false, false, false, {"type"}},
      {"k=rsa; v=DKIM1; junk; p=" + rsa2048, "rsa", 2048, false, false, false, {"version", "syntax"}},
  };
  for (const Case& c : cases) {
    Key k;
    ParseRecord(c.text, k);
    const std::string label = c.text.substr(0, 40);
    EXPECT_EQ(k.Type, c.type) << label;
    EXPECT_EQ(k.Bits, c.bits) << label;
    EXPECT_EQ(k.Weak(), c.weak) << label;
    EXPECT_EQ(k.Revoked, c.revoked) << label;
    EXPECT_EQ(k.Testing, c.testing) << label;
    EXPECT_EQ(k.Problems, c.problems) << label;
  }
  Key h;
  ParseRecord("h=sha1:sha256; p=" + rsa2048, h);
  EXPECT_EQ(h.Hashes, "sha1:sha256");
}

TEST(DkimLookUp, EachSelectorAtItsNameSeveralFailedAndBadSelectors) {
  TableDns dns;
  dns.Txt("sel1._domainkey.example.com", {"v=DKIM1; p=" + DkimPublicKey(1024)})
      .Txt("two._domainkey.example.com", {"v=DKIM1; p=", "v=DKIM1; p="})
      .Txt("down._domainkey.example.com", {"!fail"});
  const std::vector<Key> keys = LookUp(dns, "example.com", {"sel1", "two", "down", "absent", "bad.sel"});
  ASSERT_EQ(keys.size(), 5u);
  EXPECT_EQ(keys[0].Name, "sel1._domainkey.example.com");
  EXPECT_TRUE(keys[0].Found);
  EXPECT_EQ(keys[0].Bits, 1024);
  EXPECT_TRUE(keys[1].Several);
  EXPECT_TRUE(keys[2].DnsFailed);
  EXPECT_FALSE(keys[3].Found);
  EXPECT_EQ(keys[4].Problems, std::vector<std::string>{"selector"});
  EXPECT_EQ(dns.Asked.size(), 4u);  // the bad selector is not asked
}
