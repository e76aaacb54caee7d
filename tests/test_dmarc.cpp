// DMARC policy discovery and the record's tags, over a table of DNS answers:
// where the record is found, what each tag may hold, and the authorization
// records of report addresses outside the domain.
#include <gtest/gtest.h>

#include <algorithm>

#include "clients/Dmarc.h"
#include "support/PolicyDns.h"

using namespace quovix;
using namespace quovix::dmarc;
using quovix::test::TableDns;

namespace {
std::vector<std::string> Codes(const Record& r) {
  std::vector<std::string> out;
  for (const Problem& p : r.Problems) out.push_back(p.Code);
  return out;
}
}  // namespace

TEST(DmarcRecord, TagsAreReadAndCheckedInOrder) {
  struct Case {
    const char* text;
    bool valid;
    const char* policy;
    const char* subdomain;
    std::vector<std::string> problems;
  };
  const Case cases[] = {
      {"v=DMARC1; p=reject", true, "reject", "reject", {}},
      {"v=DMARC1;p=quarantine;sp=none;pct=50;adkim=s;aspf=r;fo=0:d:s;ri=3600;rf=afrf", true, "quarantine", "none", {}},
      {"v=DMARC1; p=none; rua=mailto:agg@example.com!10m, mailto:b@example.com", true, "none", "none", {}},
      {"v=DMARC1; rua=mailto:agg@example.com", true, "none", "none", {}},  // no p, a valid rua
      {"v=DMARC1", false, "", "", {"policy"}},
      {"p=reject; v=DMARC1", false, "reject", "reject", {"version", "version"}},
      {"v=DMARC1; p=block", false, "", "", {"policy"}},
      {"v=DMARC1; p=reject; sp=all; pct=101; adkim=x; aspf=; fo=2; ri=-1; rf=iodef", true, "reject", "reject",
       {"sp", "pct", "adkim", "aspf", "fo", "ri", "rf"}},
      {"v=DMARC1; p=reject; p=none; foo=bar; junk", true, "none", "none", {"duplicate", "unknown", "syntax"}},
      {"v=DMARC1; p=reject; rua=https://example.com/r, mailto:@x", true, "reject", "reject", {"uri", "uri"}},
  };
  for (const Case& c : cases) {
    const Record r = ParseRecord(c.text);
    EXPECT_EQ(r.Valid, c.valid) << c.text;
    EXPECT_EQ(r.Policy, c.policy) << c.text;
    EXPECT_EQ(r.SubdomainPolicy, c.subdomain) << c.text;
    EXPECT_EQ(Codes(r), c.problems) << c.text;
  }
  const Record r = ParseRecord("v=DMARC1; p=reject; pct=20; adkim=s; rua=mailto:a@x.example!5k");
  EXPECT_EQ(r.Pct, 20);
  EXPECT_EQ(r.Adkim, "s");
  ASSERT_EQ(r.Uris.size(), 1u);
  EXPECT_EQ(r.Uris[0].Address, "a@x.example");
  EXPECT_EQ(r.Uris[0].Domain, "x.example");
}

TEST(DmarcDiscovery, DomainThenOrganizationalDomainSeveralAndFailures) {
  struct Case {
    const char* domain;
    const char* foundAt;
    bool several;
    bool failed;
  };
  TableDns dns;
  dns.Txt("_dmarc.example.com", {"v=DMARC1; p=reject", "some other text"})
      .Txt("_dmarc.own.example.com", {"v=DMARC1; p=none"})
      .Txt("_dmarc.example.net", {"v=DMARC1; p=none", "v=DMARC1; p=reject"})
      .Txt("_dmarc.sub.example.org", {"!fail"});
  const Case cases[] = {
      {"example.com", "_dmarc.example.com", false, false},
      {"mail.example.com", "_dmarc.example.com", false, false},  // from the organizational domain
      {"own.example.com", "_dmarc.own.example.com", false, false},
      {"example.net", "_dmarc.example.net", true, false},
      {"example.org", "", false, false},
      {"sub.example.org", "", false, true},
  };
  for (const Case& c : cases) {
    // The organizational domain: the last two labels here.
    const std::string domain = c.domain;
    const std::size_t before = domain.rfind('.', domain.rfind('.') - 1);
    const Discovery d = Discover(dns, domain, before == std::string::npos ? domain : domain.substr(before + 1));
    EXPECT_EQ(d.FoundAt, c.foundAt) << c.domain;
    EXPECT_EQ(d.Several, c.several) << c.domain;
    EXPECT_EQ(d.DnsFailed, c.failed) << c.domain;
  }
}

TEST(DmarcDiscovery, ExternalReportAddressesNeedTheDestinationsAuthorization) {
  TableDns dns;
  dns.Txt("_dmarc.example.com",
          {"v=DMARC1; p=reject; rua=mailto:d@example.com,mailto:d@sub.example.com,mailto:r@reports.example.net,"
           "mailto:r@missing.example.org; ruf=mailto:f@down.example.net"})
      .Txt("example.com._report._dmarc.reports.example.net", {"v=DMARC1"})
      .Put("example.com._report._dmarc.down.example.net", spf::kTxt, {"!fail"});
  const Discovery d = Discover(dns, "example.com", "example.com");
  ASSERT_EQ(d.Policy.Uris.size(), 5u);
  struct Want {
    bool external, authorized, unknown;
    const char* authName;
  };
  const Want want[] = {
      {false, false, false, ""},
      {false, false, false, ""},
      {true, true, false, "example.com._report._dmarc.reports.example.net"},
      {true, false, false, "example.com._report._dmarc.missing.example.org"},
      {true, false, true, "example.com._report._dmarc.down.example.net"},
  };
  for (std::size_t i = 0; i < 5; ++i) {
    const ReportUri& u = d.Policy.Uris[i];
    EXPECT_EQ(u.External, want[i].external) << u.Uri;
    EXPECT_EQ(u.Authorized, want[i].authorized) << u.Uri;
    EXPECT_EQ(u.AuthUnknown, want[i].unknown) << u.Uri;
    EXPECT_EQ(u.AuthName, want[i].authName) << u.Uri;
  }
}
