// check_host() over a table of DNS answers, grouped as the sender policy
// rules are: macros, record selection, term syntax, mechanisms, modifiers,
// look-up limits, and the bounds of the walk.
#include <gtest/gtest.h>

#include <map>
#include <utility>

#include "clients/Spf.h"
#include "support/PolicyDns.h"

using namespace quovix;
using namespace quovix::spf;
using quovix::test::TableDns;

namespace {

Identity Who(const std::string& ip, const std::string& domain = "example.com",
             const std::string& sender = "") {
  Identity who;
  who.Ip = IpAddress::Parse(ip);
  who.Domain = domain;
  who.Sender = sender.empty() ? "user@" + domain : sender;
  who.Helo = "mx.example.org";
  return who;
}

}  // namespace

// ---- Macros ---------------------------------------------------------------------

TEST(SpfMacros, ExamplesExpandAsPrinted) {
  struct Case {
    const char* ip;
    const char* macro;
    const char* expansion;
  };
  const Case cases[] = {
      {"192.0.2.3", "%{s}", "strong-bad@email.example.com"},
      {"192.0.2.3", "%{o}", "email.example.com"},
      {"192.0.2.3", "%{d}", "email.example.com"},
      {"192.0.2.3", "%{d4}", "email.example.com"},
      {"192.0.2.3", "%{d3}", "email.example.com"},
      {"192.0.2.3", "%{d2}", "example.com"},
      {"192.0.2.3", "%{d1}", "com"},
      {"192.0.2.3", "%{dr}", "com.example.email"},
      {"192.0.2.3", "%{d2r}", "example.email"},
      {"192.0.2.3", "%{l}", "strong-bad"},
      {"192.0.2.3", "%{l-}", "strong.bad"},
      {"192.0.2.3", "%{lr}", "strong-bad"},
      {"192.0.2.3", "%{lr-}", "bad.strong"},
      {"192.0.2.3", "%{l1r-}", "strong"},
      {"192.0.2.3", "%{ir}.%{v}._spf.%{d2}", "3.2.0.192.in-addr._spf.example.com"},
      {"192.0.2.3", "%{lr-}.lp._spf.%{d2}", "bad.strong.lp._spf.example.com"},
      {"192.0.2.3", "%{lr-}.lp.%{ir}.%{v}._spf.%{d2}", "bad.strong.lp.3.2.0.192.in-addr._spf.example.com"},
      {"192.0.2.3", "%{ir}.%{v}.%{l1r-}.lp._spf.%{d2}", "3.2.0.192.in-addr.strong.lp._spf.example.com"},
      {"192.0.2.3", "%{d2}.trusted-domains.example.net", "example.com.trusted-domains.example.net"},
      {"2001:db8::cb01", "%{ir}.%{v}._spf.%{d2}",
       "1.0.b.c.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6._spf.example.com"},
      // Upper-case letters are URL-escaped; the escapes of the grammar.
      {"192.0.2.3", "%{S}", "strong-bad%40email.example.com"},
      {"192.0.2.3", "a%%b%_c%-d", "a%b c%20d"},
  };
  for (const Case& c : cases) {
    Identity who = Who(c.ip, "email.example.com", "strong-bad@email.example.com");
    MacroContext cx;
    cx.Who = &who;
    cx.Domain = who.Domain;
    std::string out;
    ASSERT_TRUE(ExpandMacros(c.macro, cx, out)) << c.macro;
    EXPECT_EQ(out, c.expansion) << c.macro;
  }
}

TEST(SpfMacros, MalformedOrMisplacedMacrosAreSyntaxErrors) {
  Identity who = Who("192.0.2.3");
  MacroContext cx;
  cx.Who = &who;
  for (const char* bad : {"%", "%x", "%{", "%{d", "%{x}", "%{d0}", "%{c}", "%{r}", "%{t}", "a b", "%{d1234}"}) {
    std::string out;
    EXPECT_FALSE(ExpandMacros(bad, cx, out)) << bad;
  }
  // c, r and t belong to an explanation.
  cx.Explanation = true;
  std::string out;
  EXPECT_TRUE(ExpandMacros("%{c} is %{r}", cx, out));
  EXPECT_EQ(out, "192.0.2.3 is unknown");
}

// ---- Record selection -------------------------------------------------------------

TEST(SpfRecordSelection, NoneSeveralBrokenOrUnreachableRecords) {
  struct Case {
    std::vector<std::string> txt;  // empty: the domain does not exist
    Result result;
    const char* reason;
  };
  const Case cases[] = {
      {{}, Result::None, "no_domain"},
      {{"google-site-verification=x", "v=spf10 -all"}, Result::None, "no_record"},
      {{"v=spf1 -all", "V=SPF1 +all"}, Result::PermError, "several"},
      {{"v=spf1 ip4:192.0.2.300 -all"}, Result::PermError, "syntax"},
      {{"!fail"}, Result::TempError, "dns"},
      {{"v=spf1"}, Result::Neutral, ""},
  };
  for (const Case& c : cases) {
    TableDns dns;
    if (!c.txt.empty()) dns.Txt("example.com", c.txt);
    const Evaluation ev = CheckHost(dns, Who("192.0.2.1"));
    EXPECT_EQ(ev.Outcome, c.result) << (c.txt.empty() ? "" : c.txt[0]);
    EXPECT_EQ(ev.Reason, c.reason) << (c.txt.empty() ? "" : c.txt[0]);
    ASSERT_FALSE(ev.Tree.empty());
  }
  // A single-label or malformed domain is not asked at all.
  TableDns dns;
  EXPECT_EQ(CheckHost(dns, Who("192.0.2.1", "localhost")).Outcome, Result::None);
  EXPECT_EQ(CheckHost(dns, Who("192.0.2.1", "a..example")).Outcome, Result::None);
  EXPECT_TRUE(dns.Asked.empty());
}

// ---- Term syntax ------------------------------------------------------------------

TEST(SpfTermSyntax, RecordsAreParsedOrRefusedAsAWhole) {
  struct Case {
    const char* record;
    const char* error;  // "" valid
  };
  const Case cases[] = {
      {"v=spf1 a mx ptr -all", ""},
      {"v=spf1 a/24//64 mx:mail.example.com/28 ip4:192.0.2.0/24 ip6:2001:db8::/32 ~all", ""},
      {"v=spf1 a//64 ?exists:%{ir}.%{v}._spf.%{d2} include:_spf.example.net", ""},
      {"v=spf1 foo=bar%{d} redirect=_spf.example.com exp=explain.%{d}", ""},
      {"v=spf1   -all  ", ""},
      {"v=spf1 a/33", "cidr"},
      {"v=spf1 a//129", "cidr"},
      {"v=spf1 a/024", "cidr"},
      {"v=spf1 ip4:192.0.2.1/", "cidr"},
      {"v=spf1 ip4:010.0.0.1", "network"},
      {"v=spf1 ip6:192.0.2.1", "network"},
      {"v=spf1 include", "domain"},
      {"v=spf1 include:localhost", "domain"},
      {"v=spf1 include:example.123", "domain"},
      {"v=spf1 all:x", "syntax"},
      {"v=spf1 frobnicate", "mechanism"},
      {"v=spf1 =x", "mechanism"},
      {"v=spf1 redirect=a.example redirect=b.example", "duplicate"},
      {"v=spf1 exp=a.example exp=b.example", "duplicate"},
      {"v=spf1 exists:%{c}.example.com", "macro"},
      {"v=spf1 -all\tmx", "syntax"},
  };
  for (const Case& c : cases) {
    const ParsedRecord r = ParseRecord(c.record);
    EXPECT_EQ(r.Error, c.error) << c.record;
  }
  const ParsedRecord r = ParseRecord("v=spf1 -mx:mail.example.com/28//64 ~all");
  ASSERT_EQ(r.Terms.size(), 2u);
  EXPECT_EQ(r.Terms[0].Qualifier, '-');
  EXPECT_EQ(r.Terms[0].Kind, TermKind::Mx);
  EXPECT_EQ(r.Terms[0].Arg, "mail.example.com");
  EXPECT_EQ(r.Terms[0].Cidr4, 28);
  EXPECT_EQ(r.Terms[0].Cidr6, 64);
}

// ---- Mechanisms -------------------------------------------------------------------

TEST(SpfMechanisms, EachMechanismMatchesWhatItNames) {
  struct Case {
    const char* record;
    const char* ip;
    Result result;
    const char* term;
  };
  const Case cases[] = {
      {"v=spf1 -all", "192.0.2.1", Result::Fail, "-all"},
      {"v=spf1 ~all", "192.0.2.1", Result::SoftFail, "~all"},
      {"v=spf1 ?all", "192.0.2.1", Result::Neutral, "?all"},
      {"v=spf1 ip4:192.0.2.0/24 -all", "192.0.2.77", Result::Pass, "ip4:192.0.2.0/24"},
      {"v=spf1 ip4:192.0.2.0/25 -all", "192.0.2.200", Result::Fail, "-all"},
      {"v=spf1 ip6:2001:db8::/32 -all", "2001:db8:1::5", Result::Pass, "ip6:2001:db8::/32"},
      {"v=spf1 ip4:192.0.2.0/24 -all", "::ffff:192.0.2.9", Result::Pass, "ip4:192.0.2.0/24"},
      {"v=spf1 ip6:::/0 -all", "192.0.2.1", Result::Fail, "-all"},
      {"v=spf1 a -all", "192.0.2.10", Result::Pass, "a"},
      {"v=spf1 a/24 -all", "192.0.2.99", Result::Pass, "a/24"},
      {"v=spf1 a//64 -all", "2001:db8::99", Result::Pass, "a//64"},
      {"v=spf1 a:other.example.com -all", "198.51.100.7", Result::Pass, "a:other.example.com"},
      {"v=spf1 mx -all", "192.0.2.25", Result::Pass, "mx"},
      {"v=spf1 mx/30 -all", "192.0.2.26", Result::Pass, "mx/30"},
      {"v=spf1 mx -all", "192.0.2.26", Result::Fail, "-all"},
      {"v=spf1 ptr -all", "192.0.2.10", Result::Pass, "ptr"},
      {"v=spf1 ptr:example.net -all", "192.0.2.10", Result::Fail, "-all"},
      {"v=spf1 ptr -all", "192.0.2.11", Result::Fail, "-all"},  // its name does not point back
      {"v=spf1 exists:%{ir}.allow.example.com -all", "192.0.2.5", Result::Pass,
       "exists:%{ir}.allow.example.com"},
      {"v=spf1 exists:%{ir}.allow.example.com -all", "192.0.2.6", Result::Fail, "-all"},
      {"v=spf1 include:good.example.com -all", "192.0.2.50", Result::Pass, "include:good.example.com"},
      {"v=spf1 -include:good.example.com +all", "192.0.2.50", Result::Fail, "-include:good.example.com"},
      {"v=spf1 include:bad.example.com ~all", "192.0.2.50", Result::SoftFail, "~all"},
      {"v=spf1 include:nothing.example.com ~all", "192.0.2.50", Result::PermError, "include:nothing.example.com"},
      {"v=spf1 include:broken.example.com ~all", "192.0.2.50", Result::PermError, "ip4:1"},
      {"v=spf1 a:down.example.com -all", "192.0.2.50", Result::TempError, "a:down.example.com"},
      {"v=spf1 ip4:192.0.2.50", "192.0.2.51", Result::Neutral, ""},
  };
  for (const Case& c : cases) {
    TableDns dns;
    dns.Txt("example.com", {c.record})
        .Put("example.com", kA, {"192.0.2.10"})
        .Put("example.com", kAaaa, {"2001:db8::1"})
        .Put("other.example.com", kA, {"198.51.100.7"})
        .Put("example.com", kMx, {"mx1.example.com", "mx2.example.com"})
        .Put("mx1.example.com", kA, {"192.0.2.24"})
        .Put("mx2.example.com", kA, {"192.0.2.25"})
        .Put("10.2.0.192.in-addr.arpa", kPtr, {"host.example.com"})
        .Put("host.example.com", kA, {"192.0.2.10"})
        .Put("11.2.0.192.in-addr.arpa", kPtr, {"liar.example.com"})
        .Put("liar.example.com", kA, {"192.0.2.99"})
        .Put("5.2.0.192.allow.example.com", kA, {"127.0.0.2"})
        .Txt("good.example.com", {"v=spf1 ip4:192.0.2.50 -all"})
        .Txt("bad.example.com", {"v=spf1 -all"})
        .Txt("broken.example.com", {"v=spf1 ip4:1"})
        .Put("down.example.com", kA, {"!fail"});
    const Evaluation ev = CheckHost(dns, Who(c.ip));
    EXPECT_TRUE(ev.Evaluated);
    EXPECT_EQ(ResultName(ev.Outcome), std::string(ResultName(c.result))) << c.record << " for " << c.ip;
    EXPECT_EQ(ev.Term, c.term) << c.record << " for " << c.ip;
  }
}

// ---- Modifiers --------------------------------------------------------------------

TEST(SpfModifiers, RedirectAndExplanation) {
  struct Case {
    const char* record;
    Result result;
    const char* explanation;
  };
  const Case cases[] = {
      {"v=spf1 redirect=_spf.example.com", Result::Fail, "192.0.2.1 may not send for _spf.example.com"},
      {"v=spf1 -all redirect=_spf.example.com", Result::Fail, ""},  // ignored beside "all"
      {"v=spf1 ip4:192.0.2.1 redirect=_spf.example.com", Result::Pass, ""},
      {"v=spf1 redirect=nothing.example.com", Result::PermError, ""},
      {"v=spf1 -all exp=explain.example.com", Result::Fail, "192.0.2.1 may not send for example.com"},
      {"v=spf1 -all exp=missing.example.com", Result::Fail, ""},
      {"v=spf1 -all exp=two.example.com", Result::Fail, ""},
      {"v=spf1 -include:_spf.example.com", Result::Neutral, ""},  // the include's own exp is not used
  };
  for (const Case& c : cases) {
    TableDns dns;
    dns.Txt("example.com", {c.record})
        .Txt("_spf.example.com", {"v=spf1 ip4:198.51.100.0/24 -all exp=explain.example.com"})
        .Txt("explain.example.com", {"%{i} may not send for %{d}"})
        .Txt("two.example.com", {"one", "two"});
    const Evaluation ev = CheckHost(dns, Who("192.0.2.1"));
    EXPECT_EQ(ResultName(ev.Outcome), std::string(ResultName(c.result))) << c.record;
    EXPECT_EQ(ev.Explanation, c.explanation) << c.record;
  }
}

// ---- Look-up limits ---------------------------------------------------------------

namespace {
// example.com includes inc1 … inc6, each of which has one "a" and (for the
// first five) one more "a": 6 includes + 6 a-terms = 12 look-up terms.
TableDns TwelveLookups() {
  TableDns dns;
  std::string top = "v=spf1";
  for (int i = 1; i <= 6; ++i) {
    const std::string name = "inc" + std::to_string(i) + ".example.com";
    top += " include:" + name;
    dns.Txt(name, {"v=spf1 a:host.example.com -all"});
  }
  dns.Txt("example.com", {top + " -all"}).Put("host.example.com", kA, {"198.51.100.1"});
  return dns;
}
}  // namespace

TEST(SpfLimits, TwelveLookupsArePermerrorWithTheWholeTreeShownAndThePartPastTheLimitMarked) {
  for (const char* ip : {"192.0.2.1", ""}) {
    TableDns dns = TwelveLookups();
    const Evaluation ev = CheckHost(dns, Who(ip));
    EXPECT_EQ(ev.Outcome, Result::PermError) << ip;
    EXPECT_EQ(ev.Reason, "limit") << ip;
    EXPECT_EQ(ev.Lookups, 12) << ip;
    ASSERT_EQ(ev.Tree.size(), 7u) << ip;  // the record and all six includes
    std::vector<int> marked;
    for (const ShownRecord& r : ev.Tree)
      for (const ShownTerm& t : r.Terms)
        if (t.PastLimit) marked.push_back(t.Lookup);
    EXPECT_EQ(marked, (std::vector<int>{11, 12})) << ip;
    EXPECT_EQ(ev.Tree[6].Domain, "inc6.example.com");
    EXPECT_EQ(ev.Tree[6].Depth, 1);
  }
}

TEST(SpfLimits, VoidMxAndPtrLimitsAndUncountedExplanation) {
  struct Case {
    const char* record;
    Result result;
    const char* reason;
    int lookups;
    int voids;
  };
  const Case cases[] = {
      {"v=spf1 a:n1.example.com a:n2.example.com -all", Result::Fail, "", 2, 2},
      {"v=spf1 a:n1.example.com a:n2.example.com a:n3.example.com -all", Result::PermError, "void_limit", 3, 3},
      {"v=spf1 mx:many.example.com -all", Result::PermError, "mx_names", 1, 0},
      {"v=spf1 ptr -all", Result::Pass, "", 1, 0},  // the names past ten are ignored
      {"v=spf1 a a a a a a a a a a -all exp=explain.example.com", Result::Fail, "", 10, 0},
  };
  for (const Case& c : cases) {
    TableDns dns;
    std::vector<std::string> exchangers, ptrNames;
    for (int i = 0; i < 11; ++i) exchangers.push_back("mx" + std::to_string(i) + ".example.com");
    for (int i = 0; i < 11; ++i) ptrNames.push_back("p" + std::to_string(i) + ".example.com");
    dns.Txt("example.com", {c.record})
        .Put("example.com", kA, {"198.51.100.1"})
        .Put("many.example.com", kMx, exchangers)
        .Put("1.2.0.192.in-addr.arpa", kPtr, ptrNames)
        .Put("p9.example.com", kA, {"192.0.2.1"})
        .Put("p10.example.com", kA, {"!fail"})
        .Txt("explain.example.com", {"no"});
    const Evaluation ev = CheckHost(dns, Who("192.0.2.1"));
    EXPECT_EQ(ResultName(ev.Outcome), std::string(ResultName(c.result))) << c.record;
    EXPECT_EQ(ev.Reason, c.reason) << c.record;
    EXPECT_EQ(ev.Lookups, c.lookups) << c.record;
    EXPECT_EQ(ev.VoidLookups, c.voids) << c.record;
  }
}

// ---- Bounds of the walk -----------------------------------------------------------

TEST(SpfBounds, LoopsDepthAndQueriesEndTheWalk) {
  // A loop through two records, and a chain that would never end.
  TableDns loop;
  loop.Txt("example.com", {"v=spf1 include:b.example.com -all"})
      .Txt("b.example.com", {"v=spf1 include:example.com -all"});
  const Evaluation l = CheckHost(loop, Who("192.0.2.1"));
  EXPECT_EQ(l.Outcome, Result::PermError);
  EXPECT_EQ(l.Reason, "loop");
  EXPECT_EQ(l.Tree.size(), 2u);

  struct Chain : IDns {
    int asked = 0;
    DnsAnswer Query(const std::string& name, std::uint16_t) override {
      ++asked;
      return {DnsStatus::Ok, {"v=spf1 include:x." + name.substr(0, 200) + " -all"}};
    }
  } chain;
  Limits limits;
  const Evaluation c = CheckHost(chain, Who(""), limits);
  EXPECT_EQ(c.Outcome, Result::PermError);
  EXPECT_TRUE(c.Truncated);
  EXPECT_LE(chain.asked, limits.MaxQueries);
  EXPECT_LE(static_cast<int>(c.Tree.size()), limits.MaxDepth + 1);
}
