// RDAP: the bootstrap files (RFC 9224 matching) and the reading of answers
// into lines (RFC 9083 objects, RFC 9537 redactions), hostile texts included.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "clients/RdapAnswer.h"
#include "clients/RdapBootstrap.h"
#include "common/fMain.h"

using namespace quovix;

namespace {

std::string Services(const std::string& services) {
  return R"({"version":"1.0","publication":"2025-01-01T00:00:00Z","services":[)" + services + "]}";
}

std::vector<std::string> TextsOf(const RdapAnswer& a) {
  std::vector<std::string> texts;
  for (const RdapLine& l : a.Lines) texts.push_back(l.Text);
  return texts;
}

std::vector<std::string> Lines(const std::string& json, bool withNotices = false) {
  return TextsOf(RenderRdapAnswer(json, {.WithNotices = withNotices}));
}

}  // namespace

TEST(RdapBootstrap, DomainTakesTheLongestLabelMatchAndPrefersHttps) {
  const auto b = RdapBootstrap::Parse(
      Services(R"([["uk"],["http://plain.test/uk","https://rdap.test/uk"]],
                  [["co.uk","ORG.UK"],["https://rdap.test/co.uk/"]],
                  [["test"],["http://only-plain.test/"]],
                  [["example"],["ftp://rdap.test/","javascript:void","https://a b.test/"]])"),
      RdapRegistry::Dns);
  ASSERT_TRUE(b.Valid());
  EXPECT_EQ(b.ForDomain("example.co.uk"), "https://rdap.test/co.uk/");
  EXPECT_EQ(b.ForDomain("Shop.Example.ORG.uk."), "https://rdap.test/co.uk/");
  EXPECT_EQ(b.ForDomain("example.uk"), "https://rdap.test/uk/");  // slash added, https chosen
  EXPECT_EQ(b.ForDomain("uk"), "https://rdap.test/uk/");
  EXPECT_EQ(b.ForDomain("example.test"), "http://only-plain.test/");
  EXPECT_EQ(b.ForDomain("xco.uk"), "https://rdap.test/uk/");  // labels, not characters
  EXPECT_EQ(b.ForDomain("example.example"), "");               // no usable URL
  EXPECT_EQ(b.ForDomain("example.org"), "");
  EXPECT_EQ(b.ForDomain(""), "");
}

TEST(RdapBootstrap, AddressTakesTheMostSpecificPrefix) {
  const auto v4 = RdapBootstrap::Parse(
      Services(R"([["192.0.0.0/8","198.51.100.0/24"],["https://wide.test/"]],
                  [["192.0.2.0/24"],["https://narrow.test/"]],
                  [["203.0.113.0/33","2001:db8::/32","bad"],["https://never.test/"]])"),
      RdapRegistry::Ipv4);
  EXPECT_EQ(v4.ForAddress("192.0.2.77"), "https://narrow.test/");
  EXPECT_EQ(v4.ForAddress("192.200.1.1"), "https://wide.test/");
  EXPECT_EQ(v4.ForAddress("198.51.100.255"), "https://wide.test/");
  EXPECT_EQ(v4.ForAddress("198.51.101.0"), "");
  EXPECT_EQ(v4.ForAddress("203.0.113.1"), "");  // a /33 is no IPv4 prefix
  EXPECT_EQ(v4.ForAddress("2001:db8::1"), "");  // an IPv6 entry in the IPv4 file is skipped

  const auto v6 = RdapBootstrap::Parse(
      Services(R"([["2001:db8::/32"],["https://wide.test/"]],
                  [["2001:db8:8000::/33"],["https://narrow.test/"]],
                  [["2001:db8:8000:1::/64"],["https://narrowest.test/"]])"),
      RdapRegistry::Ipv6);
  EXPECT_EQ(v6.ForAddress("2001:db8:7fff::1"), "https://wide.test/");
  EXPECT_EQ(v6.ForAddress("2001:db8:8000::1"), "https://narrow.test/");
  EXPECT_EQ(v6.ForAddress("2001:DB8:8000:1:ffff::"), "https://narrowest.test/");
  EXPECT_EQ(v6.ForAddress("2001:db9::1"), "");
  EXPECT_EQ(v6.ForAddress("192.0.2.1"), "");
}

TEST(RdapBootstrap, AsnTakesTheNarrowestRange) {
  const auto b = RdapBootstrap::Parse(
      Services(R"([["1-100000"],["https://wide.test/"]],
                  [["64496-64511"],["https://doc.test/"]],
                  [["64500"],["https://one.test/"]],
                  [["70000-60000","4294967296","x-1"],["https://never.test/"]])"),
      RdapRegistry::Asn);
  EXPECT_EQ(b.ForAsn(64500), "https://one.test/");
  EXPECT_EQ(b.ForAsn(64496), "https://doc.test/");
  EXPECT_EQ(b.ForAsn(64511), "https://doc.test/");
  EXPECT_EQ(b.ForAsn(64512), "https://wide.test/");
  EXPECT_EQ(b.ForAsn(100000), "https://wide.test/");
  EXPECT_EQ(b.ForAsn(100001), "");
  EXPECT_EQ(b.ForAsn(0), "");
  EXPECT_EQ(b.Entries(), 3u);

  std::uint32_t asn = 0;
  EXPECT_TRUE(ParseAsNumber("AS64500", asn));
  EXPECT_EQ(asn, 64500u);
  EXPECT_TRUE(ParseAsNumber("as4294967295", asn));
  EXPECT_EQ(asn, 4294967295u);
  for (const char* no : {"AS", "AS-1", "AS4294967296", "64500", "ASN64500", "AS 64500", "AS1x"})
    EXPECT_FALSE(ParseAsNumber(no, asn)) << no;
}

TEST(RdapBootstrap, WhatIsNoBootstrapFileNamesNothing) {
  for (const std::string& bad :
       {std::string(), std::string("not json"), std::string("[1,2]"), std::string(R"({"services":5})"),
        std::string(R"({"services":[[["com"]]]})"), std::string(20, '[') + std::string(20, ']')}) {
    const auto b = RdapBootstrap::Parse(bad, RdapRegistry::Dns);
    EXPECT_EQ(b.ForDomain("example.com"), "") << bad;
    EXPECT_EQ(b.Entries(), 0u) << bad;
  }
  // Broken services among good ones are skipped, the good ones stay.
  const auto b = RdapBootstrap::Parse(
      Services(R"(7, [], [["com"]], [[5,null,["x"]],["https://a.test/"]], [["com"],["https://ok.test/"]])"),
      RdapRegistry::Dns);
  EXPECT_EQ(b.ForDomain("example.com"), "https://ok.test/");
}

TEST(RdapBootstrap, FilesBesideTheProgramAreReadAgainWhenChanged) {
  const std::string saved = ProgramFolder;
  char tmpl[] = "/tmp/quovix-rdap-XXXXXX";
  const std::string dir = std::string(mkdtemp(tmpl)) + "/";
  std::filesystem::create_directories(dir + "RDAP");
  ProgramFolder = dir;
  ResetRdapBootstrapCache();
  auto write = [&](const char* name, const std::string& text) {
    std::ofstream(dir + "RDAP/" + name, std::ios::binary | std::ios::trunc) << text;
  };
  EXPECT_EQ(RdapBaseUrlForDomain("example.test"), "");
  write("dns.json", Services(R"([["test"],["https://first.test/"]])"));
  write("ipv4.json", Services(R"([["127.0.0.0/8"],["https://v4.test/"]])"));
  write("ipv6.json", Services(R"([["::1/128"],["https://v6.test/"]])"));
  write("asn.json", Services(R"([["64496-64511"],["https://as.test/"]])"));
  EXPECT_EQ(RdapBaseUrlForDomain("example.test"), "https://first.test/");
  EXPECT_EQ(RdapBaseUrlForAddress("127.0.0.1"), "https://v4.test/");
  EXPECT_EQ(RdapBaseUrlForAddress("::1"), "https://v6.test/");
  EXPECT_EQ(RdapBaseUrlForAddress("not an address"), "");
  EXPECT_EQ(RdapBaseUrlForAsn(64500), "https://as.test/");

  write("dns.json", Services(R"([["test"],["https://second-and-longer.test/"]])"));
  EXPECT_EQ(RdapBaseUrlForDomain("example.test"), "https://second-and-longer.test/");
  write("dns.json", "{ broken");
  EXPECT_EQ(RdapBaseUrlForDomain("example.test"), "");
  std::filesystem::remove(dir + "RDAP/dns.json");
  EXPECT_EQ(RdapBaseUrlForDomain("example.test"), "");

  std::filesystem::remove_all(dir);
  ProgramFolder = saved;
  ResetRdapBootstrapCache();
}

// ---- Answers --------------------------------------------------------------------------

namespace {

// A registry's answer for a domain, shaped like the gTLD registries' answers.
const char* kRegistryDomain = R"({
  "objectClassName": "domain",
  "rdapConformance": ["rdap_level_0", "icann_rdap_response_profile_1"],
  "handle": "2336799_DOMAIN_TEST-VRSN",
  "ldhName": "XN--BCHER-KVA.TEST",
  "unicodeName": "bücher.test",
  "status": ["client delete prohibited", "client transfer prohibited"],
  "events": [
    {"eventAction": "registration", "eventDate": "1995-08-14T04:00:00Z"},
    {"eventAction": "expiration", "eventDate": "2026-08-13T04:00:00Z"},
    {"eventAction": "last changed", "eventDate": "2025-08-14T07:01:34Z"},
    {"eventAction": "last update of RDAP database", "eventDate": "2025-09-01T10:00:00Z"}
  ],
  "entities": [{
    "objectClassName": "entity", "handle": "376", "roles": ["registrar"],
    "publicIds": [{"type": "IANA Registrar ID", "identifier": "376"}],
    "vcardArray": ["vcard", [["version", {}, "text", "4.0"], ["fn", {}, "text", "Example Registrar, Inc."]]],
    "links": [{"rel": "about", "href": "https://registrar.test/", "type": "text/html"}],
    "entities": [{
      "objectClassName": "entity", "roles": ["abuse"],
      "vcardArray": ["vcard", [["version", {}, "text", "4.0"], ["fn", {}, "text", ""],
        ["tel", {"type": "voice"}, "uri", "tel:+1.5555551234"],
        ["tel", {"type": "fax"}, "uri", "tel:+1.5555559999"],
        ["email", {}, "text", "abuse@registrar.test"]]]
    }]
  }],
  "nameservers": [
    {"objectClassName": "nameserver", "ldhName": "A.NS.TEST"},
    {"objectClassName": "nameserver", "ldhName": "B.NS.TEST"}
  ],
  "secureDNS": {"delegationSigned": true,
                "dsData": [{"keyTag": 370, "algorithm": 13, "digestType": 2, "digest": "BE74359954660069D5C63D200C39F5603827D7DD02B56F120EE9F3A86764247C"}]},
  "links": [
    {"value": "https://rdap.registry.test/domain/XN--BCHER-KVA.TEST", "rel": "self",
     "href": "https://rdap.registry.test/domain/XN--BCHER-KVA.TEST", "type": "application/rdap+json"},
    {"value": "https://rdap.registry.test/domain/XN--BCHER-KVA.TEST", "rel": "related",
     "href": "https://rdap.registrar.test/domain/XN--BCHER-KVA.TEST", "type": "application/rdap+json"}
  ],
  "notices": [{"title": "Terms of Use", "description": ["Service subject to the terms of use."],
               "links": [{"href": "https://registry.test/terms", "type": "text/html"}]}]
})";

}  // namespace

TEST(RdapAnswer, RegistryDomainBecomesReadableLines) {
  const RdapAnswer a = RenderRdapAnswer(kRegistryDomain);
  ASSERT_TRUE(a.Ok) << a.Refusal;
  EXPECT_EQ(a.ObjectClass, "domain");
  EXPECT_EQ(a.RelatedUrl, "https://rdap.registrar.test/domain/XN--BCHER-KVA.TEST");
  EXPECT_EQ(TextsOf(a), (std::vector<std::string>{
                         "Name:             XN--BCHER-KVA.TEST",
                         "Unicode-Name:     bücher.test",
                         "Handle:           2336799_DOMAIN_TEST-VRSN",
                         "Status:           client delete prohibited",
                         "Status:           client transfer prohibited",
                         "Registriert:      1995-08-14T04:00:00Z",
                         "Läuft ab:         2026-08-13T04:00:00Z",
                         "Geändert:         2025-08-14T07:01:34Z",
                         "Ereignis:         last update of RDAP database: 2025-09-01T10:00:00Z",
                         "Registrar:        Example Registrar, Inc.",
                         "  IANA-ID:        376",
                         "  Abuse-E-Mail:   abuse@registrar.test",
                         "  Abuse-Telefon:  +1.5555551234",
                         "  RDAP-Link:      https://rdap.registrar.test/domain/XN--BCHER-KVA.TEST",
                         "Nameserver:       A.NS.TEST",
                         "Nameserver:       B.NS.TEST",
                         "DNSSEC:           signiert",
                         "  DS:             370 13 2 "
                         "BE74359954660069D5C63D200C39F5603827D7DD02B56F120EE9F3A86764247C",
                     }));

  // Each line names the field it shows, with the value as received.
  auto field = [&a](size_t i) { return a.Lines.at(i).Field + "=" + a.Lines.at(i).Value; };
  EXPECT_EQ(field(0), "name=XN--BCHER-KVA.TEST");
  EXPECT_EQ(field(3), "status=client delete prohibited");
  EXPECT_EQ(field(5), "registration=1995-08-14T04:00:00Z");
  EXPECT_EQ(field(9), "registrar=Example Registrar, Inc.");
  EXPECT_EQ(field(12), "abuse_phone=+1.5555551234");
  EXPECT_EQ(field(16), "dnssec=signed");

  // Unformatted output: the notices follow.
  const auto all = Lines(kRegistryDomain, true);
  ASSERT_EQ(all.size(), a.Lines.size() + 3);
  EXPECT_EQ(all[all.size() - 3], "Hinweis:          Terms of Use");
  EXPECT_EQ(all[all.size() - 2], "  Service subject to the terms of use.");
  EXPECT_EQ(all[all.size() - 1], "  https://registry.test/terms");
}

TEST(RdapAnswer, RedactedFieldsReadRedactedNeverEmpty) {
  const char* json = R"({
    "objectClassName": "domain", "ldhName": "example.test",
    "entities": [{
      "objectClassName": "entity", "roles": ["registrant"],
      "vcardArray": ["vcard", [["version", {}, "text", "4.0"],
        ["fn", {}, "text", ""],
        ["org", {}, "text", "Exa"],
        ["adr", {"cc": "DE"}, "text", ["", "", "", "", "", "", ""]]]]
    }, {
      "objectClassName": "entity", "roles": ["technical"], "handle": "",
      "vcardArray": ["vcard", [["version", {}, "text", "4.0"], ["email", {}, "text", "tech@example.test"]]]
    }],
    "redacted": [
      {"name": {"type": "Registrant Name"}, "method": "emptyValue",
       "postPath": "$.entities[?(@.roles[0]=='registrant')].vcardArray[1][?(@[0]=='fn')][3]",
       "reason": {"type": "Server policy"}},
      {"name": {"description": "Registrant e-mail"}, "method": "removal",
       "prePath": "$.entities[?(@.roles[0]=='registrant')].vcardArray[1][?(@[0]=='email')]"},
      {"name": {"type": "Registrant Organization"}, "method": "partialValue",
       "postPath": "$.entities[?(@.roles[0]=='registrant')].vcardArray[1][?(@[0]=='org')][3]"},
      {"name": {"type": "Registry Tech ID"}, "method": "emptyValue",
       "postPath": "$.entities[?(@.roles[0]=='technical')].handle"},
      {"name": {"type": "Registrant Phone"}, "method": "removal", "reason": {"description": "Privacy"}},
      {"method": "removal"}
    ]
  })";
  EXPECT_EQ(Lines(json), (std::vector<std::string>{
                             "Name:             example.test",
                             "Kontakt:          registrant",
                             "  Name:           [redigiert]",
                             "  Organisation:   Exa [redigiert]",
                             "  E-Mail:         [redigiert]",
                             "  Land:           DE",
                             "Kontakt:          technical",
                             "  Handle:         [redigiert]",
                             "  E-Mail:         tech@example.test",
                             "Redigiert:        Registrant Phone (Privacy)",
                             "Redigiert:        (ohne Namen)",
                         }));
}

TEST(RdapAnswer, NetworksAndAsNumbers) {
  // A regional registry's network with the CIDR extension and a contact
  // organisation holding its own contacts.
  EXPECT_EQ(Lines(R"({
    "objectClassName": "ip network", "handle": "NET-192-0-2-0-1",
    "startAddress": "192.0.2.0", "endAddress": "192.0.2.255", "ipVersion": "v4",
    "name": "EXAMPLE-NET", "type": "DIRECT ALLOCATION", "country": "US",
    "parentHandle": "NET-192-0-0-0-0",
    "cidr0_cidrs": [{"v4prefix": "192.0.2.0", "length": 24}],
    "status": ["active"],
    "events": [{"eventAction": "registration", "eventDate": "2010-01-01T00:00:00-05:00"}],
    "entities": [{"objectClassName": "entity", "handle": "EXAMPLE-ORG", "roles": ["registrant"],
      "vcardArray": ["vcard", [["version", {}, "text", "4.0"], ["fn", {}, "text", "Example Org"],
        ["adr", {"label": "1 Main St"}, "text", ["", "", "1 Main St", "Town", "ST", "00000", "United States"]]]],
      "entities": [{"objectClassName": "entity", "handle": "ABUSE-ARIN", "roles": ["abuse"],
        "vcardArray": ["vcard", [["version", {}, "text", "4.0"], ["fn", {}, "text", "Abuse Desk"],
          ["email", {}, "text", "abuse@example.test"]]]}]}],
    "remarks": [{"title": "Registration Comments", "description": ["Only shown unformatted."]}]
  })"),
            (std::vector<std::string>{
                "Handle:           NET-192-0-2-0-1",
                "Bereich:          192.0.2.0 - 192.0.2.255",
                "CIDR:             192.0.2.0/24",
                "Name:             EXAMPLE-NET",
                "Typ:              DIRECT ALLOCATION",
                "Land:             US",
                "Übergeordnet:     NET-192-0-0-0-0",
                "Status:           active",
                "Registriert:      2010-01-01T00:00:00-05:00",
                "Kontakt:          registrant",
                "  Handle:         EXAMPLE-ORG",
                "  Name:           Example Org",
                "  Land:           United States",
                "Kontakt:          abuse",
                "  Handle:         ABUSE-ARIN",
                "  Name:           Abuse Desk",
                "  E-Mail:         abuse@example.test",
            }));

  // Without the extension the prefixes are worked out from the range.
  auto cidrs = [](const std::string& first, const std::string& last) {
    std::vector<std::string> out;
    for (const auto& l : Lines(R"({"objectClassName":"ip network","startAddress":")" + first +
                               R"(","endAddress":")" + last + R"("})"))
      if (l.rfind("CIDR:", 0) == 0) out.push_back(l.substr(18));
    return out;
  };
  EXPECT_EQ(cidrs("192.0.2.0", "192.0.3.255"), (std::vector<std::string>{"192.0.2.0/23"}));
  EXPECT_EQ(cidrs("192.0.2.128", "192.0.3.0"),
            (std::vector<std::string>{"192.0.2.128/25", "192.0.3.0/32"}));
  EXPECT_EQ(cidrs("0.0.0.0", "255.255.255.255"), (std::vector<std::string>{"0.0.0.0/0"}));
  EXPECT_EQ(cidrs("::", "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff"),
            (std::vector<std::string>{"::/0"}));
  EXPECT_EQ(cidrs("2001:db8::", "2001:db8:ffff:ffff:ffff:ffff:ffff:ffff"),
            (std::vector<std::string>{"2001:db8::/32"}));
  EXPECT_EQ(cidrs("255.255.255.255", "255.255.255.255"),
            (std::vector<std::string>{"255.255.255.255/32"}));
  EXPECT_TRUE(cidrs("0.0.0.1", "255.255.255.254").empty());  // too scattered to list
  EXPECT_TRUE(cidrs("192.0.3.0", "192.0.2.0").empty());
  EXPECT_TRUE(cidrs("192.0.2.0", "2001:db8::").empty());

  EXPECT_EQ(Lines(R"({"objectClassName": "autnum", "handle": "AS64496", "startAutnum": 64496,
                      "endAutnum": 64511, "name": "DOC-AS", "type": "DIRECT ALLOCATION",
                      "country": "NL"})"),
            (std::vector<std::string>{"Handle:           AS64496",
                                      "AS-Nummern:       AS64496 - AS64511",
                                      "Name:             DOC-AS", "Typ:              DIRECT ALLOCATION",
                                      "Land:             NL"}));
  EXPECT_EQ(Lines(R"({"objectClassName": "autnum", "startAutnum": 64500, "endAutnum": 64500})"),
            (std::vector<std::string>{"AS-Nummern:       AS64500"}));
}

TEST(RdapAnswer, ErrorAnswersAndHostileTexts) {
  const RdapAnswer e = RenderRdapAnswer(
      R"({"errorCode": 404, "title": "Not Found", "description": ["No such domain."]})");
  EXPECT_TRUE(e.Ok);
  EXPECT_EQ(e.ErrorCode, 404);
  EXPECT_EQ(TextsOf(e), (std::vector<std::string>{"Fehler:           404 Not Found", "  No such domain."}));

  // Refused: too long, too deep, no JSON, no object.
  EXPECT_EQ(RenderRdapAnswer(std::string(kRdapMaxAnswer + 1, ' ')).Refusal,
            "Die RDAP-Antwort ist länger als 1048576 Bytes.");
  const std::string deep = std::string(kRdapMaxNesting + 1, '[') + std::string(kRdapMaxNesting + 1, ']');
  EXPECT_EQ(RenderRdapAnswer(deep).Refusal, "Die RDAP-Antwort ist zu tief verschachtelt.");
  EXPECT_TRUE(RenderRdapAnswer(std::string(kRdapMaxNesting, '[') + std::string(kRdapMaxNesting, ']'))
                  .Refusal.find("kein RDAP-Objekt") != std::string::npos);
  // Brackets inside strings do not count as nesting.
  EXPECT_TRUE(RenderRdapAnswer(R"({"ldhName": ")" + std::string(100, '[') + R"(\""})").Ok);
  for (const char* bad : {"", "{", "{\"a\":}", "\xff\xfe{}", "{\"ldhName\":\"\xc3\x28\"}"})
    EXPECT_EQ(RenderRdapAnswer(bad).Refusal, "Die RDAP-Antwort ist kein gültiges JSON.") << bad;
  for (const char* notObject : {"[]", "5", "\"text\"", "null"}) {
    const RdapAnswer a = RenderRdapAnswer(notObject);
    EXPECT_FALSE(a.Ok);
    EXPECT_EQ(a.Refusal, "Die RDAP-Antwort enthält kein RDAP-Objekt.");
  }

  // Control and reordering characters never reach a line; long values are cut.
  const auto lines = Lines(R"({"ldhName": "a\u0000b\u001b[31mc\td\u202Ee\u0085f",
                               "handle": ")" + std::string(5000, 'x') + R"("})");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "Name:             a?b?[31mc d?e?f");
  EXPECT_EQ(lines[1].size(), 18u + 1024u);

  // Members of the wrong types are passed over, a flood of values is cut.
  EXPECT_TRUE(RenderRdapAnswer(R"({"objectClassName": 5, "status": {"a": 1}, "entities": "x",
      "events": [1, null, {"eventAction": []}], "nameservers": [[]], "secureDNS": [],
      "links": [{"rel": "related", "type": "application/rdap+json", "href": "javascript:x"}],
      "redacted": [5, {"name": 5, "prePath": []}],
      "entities": [{"roles": "registrar", "vcardArray": ["vcard", [[1], ["fn"], ["fn", {}, "text", [[["x"]]]]]]},
                   {"roles": ["registrar"], "vcardArray": 7, "entities": [{"roles": ["abuse"], "vcardArray": ["vcard", 5]}]}]})")
                  .Ok);
  // Each list is cut at 500 items; together they still make more than the
  // line limit.
  std::string flood = "{";
  auto list = [&](const char* name, const std::string& item) {
    flood += std::string(flood.size() > 1 ? "," : "") + "\"" + name + "\": [";
    for (int i = 0; i < 600; ++i) flood += (i ? "," : "") + item;
    flood += "]";
  };
  list("status", R"("active")");
  list("events", R"({"eventAction": "registration", "eventDate": "2000-01-01"})");
  list("nameservers", R"({"ldhName": "ns.test"})");
  list("entities", R"({"roles": ["technical"], "handle": "H"})");
  flood += R"(, "secureDNS": {"dsData": [)";
  for (int i = 0; i < 600; ++i) flood += std::string(i ? "," : "") + R"({"keyTag": 1})";
  flood += "]}}";
  const auto cut = Lines(flood);
  EXPECT_EQ(cut.size(), kRdapMaxLines + 1);
  EXPECT_EQ(cut.back(), "Die Antwort ergibt mehr als 2000 Zeilen; der Rest wurde weggelassen.");
  EXPECT_TRUE(RenderRdapAnswer(R"({"links": [{"rel": "related", "type": "application/rdap+json",
                                   "href": "https://ok.test/x y"}]})")
                  .RelatedUrl.empty());
}

TEST(RdapBootstrap, ShippedFilesAreReadable) {
  const std::string dir = std::string(QUOVIX_BIN_DIR) + "/";
  auto load = [&](RdapRegistry r) {
    return RdapBootstrap::Parse(ReadWholeFile(dir + RdapBootstrapFileName(r)), r);
  };
  const auto dns = load(RdapRegistry::Dns), v4 = load(RdapRegistry::Ipv4),
             v6 = load(RdapRegistry::Ipv6), asn = load(RdapRegistry::Asn);
  EXPECT_GT(dns.Entries(), 1000u);
  EXPECT_EQ(dns.ForDomain("example.com").rfind("https://", 0), 0u);
  EXPECT_GT(v4.Entries(), 50u);
  EXPECT_GT(v6.Entries(), 5u);
  EXPECT_GT(asn.Entries(), 20u);
  EXPECT_EQ(asn.ForAsn(64500), "");  // documentation numbers belong to no registry
}
