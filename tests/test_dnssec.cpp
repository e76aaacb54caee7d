// The DNSSEC check against a signed hierarchy of the tests' own (root, TLD,
// domains in each state), served by nsd with unbound validating in front:
// the queries carry CD, so unbound hands out what it would refuse. The
// hierarchy's trust anchor lies beside the program as root.key.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "app/formMain.h"
#include "clients/DnssecChain.h"
#include "common/Pump.h"
#include "common/fMain.h"
#include "platform/Resolver.h"
#include "shell/gIni.h"
#include "support/DnssecHierarchy.h"
#include "support/TableResolver.h"
#include "tools/fDnsChain.h"

using namespace quovix;

namespace {

constexpr int kSignedDays = 30;  // dnssec-zones.sh signs for an hour less than this

class DnssecChainTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    hierarchy_ = new test::DnssecHierarchy();
    why_ = hierarchy_->Start();
  }
  static void TearDownTestSuite() {
    delete hierarchy_;
    hierarchy_ = nullptr;
  }
  void SetUp() override {
    if (!why_.empty()) GTEST_SKIP() << why_;
    savedFolder_ = ProgramFolder;
    savedServer_ = ActiveDnsServerIP;
    savedTimeout_ = NameResTimeout;
    NameResTimeout = 3000;
    ProgramFolder = hierarchy_->Folder() + "/";
    ActiveDnsServerIP = hierarchy_->Resolver();
    SetMessagePump([] {});
  }
  void TearDown() override {
    if (!why_.empty()) return;
    ProgramFolder = savedFolder_;
    ActiveDnsServerIP = savedServer_;
    NameResTimeout = savedTimeout_;
    SetMessagePump({});
  }

  // The tool's lines from the block's heading on, with one of the two boxes.
  std::vector<TOutputLine> Run(const std::string& name, bool iterate) {
    platform::ScopedResolver resolver{std::make_shared<test::TableResolver>()};
    TfrmMain f;
    f.ProcessMessages = [] {};
    f.chkDnsReverse.SetChecked(false);
    f.chkDnsExtended.SetChecked(false);
    f.chkDnsDnssec.SetChecked(!iterate);
    f.chkDnsIterate.SetChecked(iterate);
    f.cmbDnsHost.SetText(name);
    f.btnDnsStart.Click();
    std::vector<TOutputLine> out;
    bool in = false;
    for (const TOutputLine& l : f.reDns.Lines()) {
      in = in || l.Text.rfind(iterate ? "Auflösung von" : "DNSSEC-Prüfung", 0) == 0;
      if (in && l.Text != "Anfragen beendet." && !l.Text.empty()) out.push_back(l);
    }
    return out;
  }
  std::vector<TOutputLine> Check(const std::string& name) { return Run(name, false); }
  std::vector<TOutputLine> Iterate(const std::string& name) { return Run(name, true); }
  // The key tags ldns-keygen gave a zone's keys (from the key files' names).
  static std::set<std::string> KeyTags(const std::string& zone) {
    std::set<std::string> tags;
    const std::regex file("K" + std::regex_replace(zone, std::regex("\\."), "\\.") +
                          "\\+\\d+\\+0*(\\d+)\\.key");
    for (const auto& e : std::filesystem::directory_iterator(hierarchy_->Folder())) {
      std::smatch m;
      const std::string n = e.path().filename().string();
      if (std::regex_match(n, m, file)) tags.insert(m[1]);
    }
    return tags;
  }
  static std::string Field(const TOutputLine& l, const std::string& name) {
    for (const auto& f : l.Fields)
      if (f.Name == name) return f.Value.Kind() == TLineValue::TKind::Text
                                     ? f.Value.AsText()
                                     : std::to_string(f.Value.AsInteger());
    return {};
  }

  static test::DnssecHierarchy* hierarchy_;
  static std::string why_;
  std::string savedFolder_, savedServer_;
  int savedTimeout_ = 0;
};
test::DnssecHierarchy* DnssecChainTest::hierarchy_ = nullptr;
std::string DnssecChainTest::why_;

// Each domain of the hierarchy gets its verdict as the first line, with the
// zone and the reason where the chain breaks.
TEST_F(DnssecChainTest, EachDomainGetsItsVerdictFirst) {
  const struct {
    const char* name;
    const char* verdict;
    TColor color;
  } cases[] = {
      {"www.good.test", "  sicher", clGreen},
      {"www.expired.test", "  fehlerhaft: Signatur abgelaufen bei expired.test", clRed},
      {"www.badds.test", "  fehlerhaft: kein DNSKEY passt zum DS-Digest bei badds.test", clRed},
      {"www.insecure.test", "  unsigniert ab insecure.test", clNavy},
      {"www.sha1.test", "  fehlerhaft: veralteter Algorithmus RSA/SHA-1 bei sha1.test", clRed},
  };
  for (const auto& c : cases) {
    const std::vector<TOutputLine> lines = Check(c.name);
    ASSERT_GE(lines.size(), 2u) << c.name;
    EXPECT_EQ(lines[1].Text, c.verdict) << c.name;
    EXPECT_EQ(lines[1].Color, c.color) << c.name;
  }
}

// The good chain lists every zone from the root down with the keys the zone
// was signed with, each confirmed DS, and its link valid.
TEST_F(DnssecChainTest, GoodChainListsEachZonesKeysAndLinks) {
  const std::vector<TOutputLine> lines = Check("www.good.test");
  for (const std::string zone : {".", "test", "good.test"}) {
    std::set<std::string> keys;
    bool valid = false, dsMatched = false;
    for (const TOutputLine& l : lines) {
      if (Field(l, "dnssec_zone") != zone) continue;
      if (Field(l, "record") == "DNSKEY") keys.insert(Field(l, "key_tag"));
      if (Field(l, "record") == "DS") dsMatched = Field(l, "matches") == "1";
      if (Field(l, "link") == "valid") valid = true;
    }
    EXPECT_EQ(keys, KeyTags(zone == "." ? zone : zone + ".")) << zone;
    EXPECT_TRUE(dsMatched) << zone;
    EXPECT_TRUE(valid) << zone;
  }
}

// Signatures show signer, times and the days left of the validity the zone
// was signed with.
TEST_F(DnssecChainTest, SignaturesShowTheirDaysLeft) {
  int sigs = 0;
  for (const TOutputLine& l : Check("www.good.test")) {
    if (Field(l, "record") != "RRSIG") continue;
    ++sigs;
    EXPECT_EQ(Field(l, "days_left"), std::to_string(kSignedDays - 1)) << l.Text;
    EXPECT_NE(l.Text.find("noch " + std::to_string(kSignedDays - 1) + " Tage): gültig"),
              std::string::npos)
        << l.Text;
  }
  EXPECT_GE(sigs, 4);  // over each DNSKEY set and DS set, and over the answer
}

// An unsigned delegation names the parent's NSEC record that proves no DS.
TEST_F(DnssecChainTest, UnsignedDelegationShowsTheNsecProof) {
  std::string proof;
  for (const TOutputLine& l : Check("www.insecure.test"))
    if (Field(l, "dnssec_zone") == "insecure.test" && !Field(l, "proof").empty())
      proof = Field(l, "proof");
  EXPECT_EQ(proof.rfind("insecure.test. ", 0), 0u) << proof;
  for (const char* word : {" NSEC ", " NS "}) EXPECT_NE(proof.find(word), std::string::npos) << proof;
  EXPECT_EQ(proof.find(" DS"), std::string::npos) << proof;
}

// A trust anchor beside the program replaces dns-root-data's: a key that is
// not this root's breaks the chain at the root.
TEST_F(DnssecChainTest, TrustAnchorBesideTheProgramIsTheOneUsed) {
  const std::string other = hierarchy_->Folder() + "/other";
  std::filesystem::create_directory(other);
  ASSERT_EQ(std::system(("cd '" + other +
                         "' && cp \"$(ldns-keygen -a ECDSAP256SHA256 -k .).key\" root.key")
                            .c_str()),
            0);
  ProgramFolder = other + "/";
  EXPECT_EQ(TrustAnchorPath(), other + "/root.key");
  const std::vector<TOutputLine> lines = Check("www.good.test");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1].Text, "  fehlerhaft: kein DNSKEY passt zum DS-Digest bei .");
}

// The walk from the test root's hints: each referral down to the answer,
// with the server and address asked, the NS set the child adds named.
TEST_F(DnssecChainTest, IterationListsEachReferralDownToTheAnswer) {
  const std::vector<TOutputLine> lines = Iterate("www.good.test");
  std::vector<std::string> steps;
  for (const TOutputLine& l : lines)
    if (!Field(l, "step").empty())
      steps.push_back(Field(l, "step") + " " + Field(l, "zone") + " " + Field(l, "server_address"));
  const std::vector<std::string> expected = {
      "referral . " + hierarchy_->RootAddress(),
      "referral test " + hierarchy_->TldAddress(),
      "answer good.test " + hierarchy_->DomainAddress(),
      "ns_differ good.test " + hierarchy_->DomainAddress(),
  };
  EXPECT_EQ(steps, expected);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().Color, clGreen) << lines.back().Text;
}

// A delegation to a server that does not serve the zone: the server is
// named lame, and the walk ends without an answer.
TEST_F(DnssecChainTest, IterationNamesTheLameServer) {
  const std::vector<TOutputLine> lines = Iterate("www.lame.test");
  bool lame = false;
  for (const TOutputLine& l : lines)
    lame = lame || (Field(l, "step") == "lame" && Field(l, "zone") == "lame.test" &&
                    Field(l, "server") == "ns1.lame.test" &&
                    Field(l, "server_address") == hierarchy_->RootAddress());
  EXPECT_TRUE(lame);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().Text, "  Kein Server der Zone lame.test antwortet.");
}

// Without a usable reply or anchor the walk says so instead of a verdict of
// the chain; a walk never asks more than its bound.
TEST(DnssecWalk, UnusableRepliesAndBoundsAreNamed) {
  const TTrustAnchor anchor = ParseTrustAnchor(
      ". IN DS 20326 8 2 E06D44B80B8F1D39A95C0B0D7C65D08458E880409BBC683457104237C7F8EC8D\n");
  ASSERT_EQ(anchor.Records.size(), 1u);
  int asked = 0;
  const struct {
    TTrustAnchor anchor;
    TChainReply reply;
    int maxQueries;
    TChainFault fault;
  } cases[] = {
      {TTrustAnchor{}, {}, 60, TChainFault::NoAnchor},
      {ParseTrustAnchor("; only a comment\nnot a record\n"), {}, 60, TChainFault::NoAnchor},
      {anchor, {.Failure = "Zeitüberschreitung"}, 60, TChainFault::NoAnswer},
      {anchor, {.Answered = true, .Answer = {std::string("\x03www\x00\x00", 6)}}, 60,
       TChainFault::NoAnswer},
      {anchor, {.Answered = true, .Rcode = 2}, 60, TChainFault::NoAnswer},
      {anchor, {.Failure = "x"}, 0, TChainFault::TooManyQueries},
  };
  for (const auto& c : cases) {
    asked = 0;
    const TChainResult r = WalkChain(
        "www.example.test", c.anchor,
        [&](const std::string&, std::uint16_t) {
          ++asked;
          return c.reply;
        },
        0, c.maxQueries);
    EXPECT_EQ(r.Verdict, TChainVerdict::Indeterminate);
    EXPECT_EQ(r.Fault, c.fault);
    EXPECT_LE(asked, std::max(c.maxQueries, 0));
  }
}

}  // namespace
