// MTA-STS and TLS reporting records and the MTA-STS policy file as a
// sending server reads them, and the matching of exchangers to patterns.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clients/MtaSts.h"

using namespace quovix;
using sts::TxtState;
using Txts = std::vector<std::string>;

namespace {
const char* StateName(TxtState s) {
  switch (s) {
    case TxtState::None: return "none";
    case TxtState::Valid: return "valid";
    case TxtState::Several: return "several";
    case TxtState::Malformed: return "malformed";
  }
  return "?";
}
}  // namespace

TEST(MtaStsRecord, OneRecordOfTheKindWithAValidId) {
  struct Case {
    Txts txts;
    const char* state;
    const char* id;     // Valid
    const char* fault;  // Malformed
  };
  const std::vector<Case> cases = {
      {{}, "none", "", ""},
      {{"v=spf1 -all", "hello"}, "none", "", ""},
      {{"v=STSv1; id=20240101T000000"}, "valid", "20240101T000000", ""},
      {{"v=spf1 -all", "v=STSv1;id=abc;"}, "valid", "abc", ""},
      {{"v=STSv1 ; id=a1 ; ext-x=1"}, "valid", "a1", ""},
      {{"v=STSv1; id=1", "v=STSv1; id=2"}, "several", "", ""},
      // A look-alike is discarded beside a proper record, else named.
      {{"v=STSv1; id=1", "v=STSv2; id=2"}, "valid", "1", ""},
      {{"v=STSv2; id=2"}, "malformed", "", "version"},
      {{"id=2"}, "malformed", "", "version"},
      {{"v=stsv1; id=2"}, "malformed", "", "version"},
      {{"v=STSv1"}, "malformed", "", "id"},
      {{"v=STSv1; id="}, "malformed", "", "id"},
      {{"v=STSv1; id=abc-def"}, "malformed", "", "id"},
      {{"v=STSv1; id=" + std::string(33, 'a')}, "malformed", "", "id"},
      {{"v=STSv1; id=1; id=2"}, "malformed", "", "duplicate"},
      {{"v=STSv1; id=1; garbage"}, "malformed", "", "syntax"},
      {{"v=STSv1x; id=1"}, "malformed", "", "version"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.txts));
    const sts::StsRecord r = sts::ReadStsRecords(c.txts);
    EXPECT_STREQ(StateName(r.State), c.state);
    EXPECT_EQ(r.Id, c.id);
    EXPECT_EQ(r.Fault.Code, c.fault);
  }
}

TEST(MtaStsRecord, TlsReportingDestinations) {
  struct Case {
    Txts txts;
    const char* state;
    std::vector<std::string> rua;
    const char* fault;
  };
  const std::vector<Case> cases = {
      {{"v=DMARC1; p=none"}, "none", {}, ""},
      {{"v=TLSRPTv1; rua=mailto:tls@example.com"}, "valid", {"mailto:tls@example.com"}, ""},
      {{"v=TLSRPTv1;rua=mailto:a@example.com, https://r.example.net/tls"},
       "valid",
       {"mailto:a@example.com", "https://r.example.net/tls"},
       ""},
      {{"v=TLSRPTv1; rua=mailto:a@x.test", "v=TLSRPTv1; rua=mailto:b@x.test"}, "several", {}, ""},
      {{"rua=mailto:a@x.test"}, "malformed", {}, "version"},
      {{"v=TLSRPTv2; rua=mailto:a@x.test"}, "malformed", {}, "version"},
      {{"v=TLSRPTv1"}, "malformed", {}, "rua"},
      {{"v=TLSRPTv1; rua=http://r.example.net/"}, "malformed", {}, "scheme"},
      {{"v=TLSRPTv1; rua=mailto:nobody"}, "malformed", {}, "scheme"},
      {{"v=TLSRPTv1; rua=mailto:a@x.test,"}, "malformed", {}, "scheme"},
      {{"v=TLSRPTv1; rua=mailto:a@x.test; rua=mailto:b@x.test"}, "malformed", {}, "duplicate"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.txts));
    const sts::TlsRptRecord r = sts::ReadTlsRptRecords(c.txts);
    EXPECT_STREQ(StateName(r.State), c.state);
    if (r.State == TxtState::Valid) {
      EXPECT_EQ(r.Rua, c.rua);
    }
    EXPECT_EQ(r.Fault.Code, c.fault);
  }
  // More destinations than a record may name.
  std::string many = "v=TLSRPTv1; rua=";
  for (std::size_t i = 0; i <= sts::kMaxReportDestinations; ++i) many += (i ? "," : "") + std::string("mailto:r@x.test");
  EXPECT_EQ(sts::ReadTlsRptRecords({many}).Fault.Code, "rua");
}

TEST(MtaStsPolicy, GoodPoliciesInEitherLineEnd) {
  const sts::Policy crlf =
      sts::ParsePolicy("version: STSv1\r\nmode: enforce\r\nmx: mail.example.com\r\nmx: *.example.net\r\n"
                       "max_age: 604800\r\n");
  EXPECT_TRUE(crlf.Valid()) << ::testing::PrintToString(crlf.Problems.size());
  EXPECT_EQ(crlf.Version, "STSv1");
  EXPECT_EQ(crlf.Mode, "enforce");
  EXPECT_EQ(crlf.Mx, (std::vector<std::string>{"mail.example.com", "*.example.net"}));
  EXPECT_EQ(crlf.MaxAge, 604800);
  // LF, blanks after the colon and at the ends, an extension key, no final line end.
  const sts::Policy lf = sts::ParsePolicy("version:STSv1\nmode:  testing \n\nmx: mx.example.org.\nfoo_ext: 1\nmax_age: 0");
  EXPECT_TRUE(lf.Valid());
  EXPECT_EQ(lf.Mode, "testing");
  EXPECT_EQ(lf.Mx, (std::vector<std::string>{"mx.example.org."}));
  EXPECT_EQ(lf.MaxAge, 0);
  EXPECT_EQ(lf.Ignored, (std::vector<std::string>{"foo_ext"}));
  // Mode none needs no mx.
  EXPECT_TRUE(sts::ParsePolicy("version: STSv1\nmode: none\nmax_age: 31557600\n").Valid());
}

TEST(MtaStsPolicy, EachErrorIsNamed) {
  const std::string ok = "version: STSv1\nmode: enforce\nmx: mx.example.com\nmax_age: 86400\n";
  struct Case {
    std::string text;
    std::vector<std::string> codes;
  };
  const std::vector<Case> cases = {
      {"mode: enforce\nmx: mx.example.com\nmax_age: 86400\n", {"version"}},
      {"version: STSv2\nmode: enforce\nmx: mx.example.com\nmax_age: 86400\n", {"version"}},
      {"version: STSv1\nmx: mx.example.com\nmax_age: 86400\n", {"mode"}},
      {"version: STSv1\nmode: Enforce\nmx: mx.example.com\nmax_age: 86400\n", {"mode"}},
      {"version: STSv1\nmode: enforce\nmx: mx.example.com\n", {"max_age"}},
      {"version: STSv1\nmode: enforce\nmx: mx.example.com\nmax_age: 31557601\n", {"max_age"}},
      {"version: STSv1\nmode: enforce\nmx: mx.example.com\nmax_age: -1\n", {"max_age"}},
      {"version: STSv1\nmode: enforce\nmx: mx.example.com\nmax_age: 99999999999\n", {"max_age"}},
      {"version: STSv1\nmode: testing\nmax_age: 86400\n", {"no_mx"}},
      {"version: STSv1\nmode: enforce\nmx: mx example.com\nmax_age: 86400\n", {"mx", "no_mx"}},
      {"version: STSv1\nmode: enforce\nmx: a.*.example.com\nmx: mx.example.com\nmax_age: 86400\n", {"mx"}},
      {ok + "mode: testing\n", {"duplicate"}},
      {ok + "just words\n", {"syntax"}},
      {ok + ": no key\n", {"syntax"}},
      {ok + "mx: " + std::string(sts::kMaxPolicyLineLength, 'a') + "\n", {"line_length"}},
      {"", {"version", "mode", "max_age"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 120));
    std::vector<std::string> codes;
    for (const sts::Problem& p : sts::ParsePolicy(c.text).Problems) codes.push_back(p.Code);
    EXPECT_EQ(codes, c.codes);
  }
}

TEST(MtaStsPolicy, LinesAndPatternsAreCapped) {
  std::string many = "version: STSv1\nmode: enforce\nmax_age: 1\n";
  for (std::size_t i = 0; i < sts::kMaxMxPatterns + 5; ++i) many += "mx: mx" + std::to_string(i) + ".example.com\n";
  const sts::Policy capped = sts::ParsePolicy(many);
  EXPECT_EQ(capped.Mx.size(), sts::kMaxMxPatterns);
  ASSERT_EQ(capped.Problems.size(), 1u);
  EXPECT_EQ(capped.Problems[0].Code, "mx_count");
  std::string lines;
  for (std::size_t i = 0; i < sts::kMaxPolicyLines + 10; ++i) lines += "x: 1\n";
  const sts::Policy cut = sts::ParsePolicy(lines);
  ASSERT_FALSE(cut.Problems.empty());
  EXPECT_EQ(cut.Problems[0].Code, "lines");
}

TEST(MtaStsMatch, WildcardCoversExactlyOneLabel) {
  struct Case {
    const char* pattern;
    const char* host;
    bool matches;
  };
  const std::vector<Case> cases = {
      {"mx.example.com", "mx.example.com", true},
      {"mx.example.com", "MX.Example.COM.", true},
      {"mx.example.com.", "mx.example.com", true},
      {"mx.example.com", "mx2.example.com", false},
      {"mx.example.com", "a.mx.example.com", false},
      {"*.example.com", "mx.example.com", true},
      {"*.example.com", "MX.EXAMPLE.COM", true},
      {"*.example.com", "a.b.example.com", false},
      {"*.example.com", "example.com", false},
      {"*.example.com", ".example.com", false},
      {"*.example.com", "mxexample.com", false},
      {"*.example.com", "mx.example.org", false},
      {"", "mx.example.com", false},
  };
  for (const Case& c : cases) EXPECT_EQ(sts::MxMatches(c.pattern, c.host), c.matches) << c.pattern << " " << c.host;
  EXPECT_EQ(sts::MatchingPattern({"mx1.example.com", "*.example.com"}, "mx2.example.com"), 1);
  EXPECT_EQ(sts::MatchingPattern({"mx1.example.com"}, "mx2.example.com"), -1);
}
