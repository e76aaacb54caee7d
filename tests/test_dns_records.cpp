// Record types of the DNS client: each type's data read from a hand-built
// reply into its typed fields and printed in presentation format, data that
// does not fit its type refused, names in the data written out in full, type
// mnemonics both ways, and the query's one-type question, CD bit and NSID.
#include <gtest/gtest.h>

#include "clients/DnsClient.h"
#include "common/fMain.h"
#include "dns_test_support.h"

using namespace quovix;
using namespace dnstest;

namespace {

// Reads a reply to "example.org" of the given type holding one answer record
// with the data given; its owner points at the question's name.
TResultRecord ReadOne(unsigned type, const std::string& rdata) {
  const std::string msg = Header(9, 0x8180, 1, 1, 0, 0) + WireName("example.org") +
                          Bytes().u16(type).u16(1).b + Rr(Bytes().ptr(12).b, type, rdata, 300);
  TIdDNSResolver r;
  r.ReadReply(reinterpret_cast<const unsigned char*>(msg.data()), msg.size(), 9);
  EXPECT_EQ(r.QueryResult.Count(), 1);
  return r.QueryResult.Count() == 1 ? r.QueryResult[0] : TResultRecord();
}

std::string CharStr(const std::string& s) {
  return Bytes().u8(static_cast<unsigned>(s.size())).raw(s).b;
}
std::string Param(unsigned key, const std::string& value) {
  return Bytes().u16(key).u16(static_cast<unsigned>(value.size())).raw(value).b;
}
// A type bitmap of window 0 with the given bits set.
std::string Bitmap0(std::initializer_list<unsigned> types) {
  std::string bits(32, '\0');
  size_t used = 0;
  for (unsigned t : types) {
    bits[t / 8] = static_cast<char>(bits[t / 8] | (0x80 >> (t % 8)));
    used = std::max<size_t>(used, t / 8 + 1);
  }
  return Bytes().u8(0).u8(static_cast<unsigned>(used)).raw(bits.substr(0, used)).b;
}
const std::string kV6 = std::string("\x20\x01\x0d\xb8", 4) + std::string(11, '\0') + "\x01";

struct PresentationCase {
  const char* what;
  unsigned type;
  std::string rdata;
  TRecordKind kind;
  std::string text;
};

}  // namespace

TEST(DnsRecords, EveryTypeReadAndPrintedInPresentationFormat) {
  const PresentationCase cases[] = {
      {"A", 1, ARdata(192, 0, 2, 1), TRecordKind::A, "192.0.2.1"},
      {"AAAA", 28, kV6, TRecordKind::AAAA, "2001:db8::1"},
      {"NS", 2, WireName("ns1.example.org"), TRecordKind::NS, "ns1.example.org."},
      {"CNAME", 5, WireName("www.example.net"), TRecordKind::Name, "www.example.net."},
      {"DNAME", 39, WireName("example.net"), TRecordKind::DNAME, "example.net."},
      {"PTR", 12, WireName("host.example.org"), TRecordKind::PTR, "host.example.org."},
      {"MX", 15, MxRdata(10, "mx.example.org"), TRecordKind::MX, "10 mx.example.org."},
      {"SOA", 6, SoaRdata("ns.example.org", "h.example.org", 7, 1, 2, 3, 4), TRecordKind::SOA,
       "ns.example.org. h.example.org. 7 1 2 3 4"},
      {"TXT", 16, TxtRdata({"a \"b\"", "c\\"}), TRecordKind::Text, R"("a \"b\"" "c\\")"},
      {"SPF", 99, TxtRdata({"v=spf1 -all"}), TRecordKind::Text, "\"v=spf1 -all\""},
      {"SRV", 33, Bytes().u16(1).u16(2).u16(5060).name("sip.example.org").b, TRecordKind::SRV,
       "1 2 5060 sip.example.org."},
      {"NAPTR", 35,
       Bytes().u16(100).u16(10).raw(CharStr("S")).raw(CharStr("SIP+D2U")).raw(CharStr("")).name(
           "_sip._udp.example.org").b,
       TRecordKind::NAPTR, "100 10 \"S\" \"SIP+D2U\" \"\" _sip._udp.example.org."},
      {"CAA", 257, Bytes().u8(128).raw(CharStr("issue")).raw("ca.example").b, TRecordKind::CAA,
       "128 issue \"ca.example\""},
      {"TLSA", 52, Bytes().u8(3).u8(1).u8(1).raw("\xAB\x01").b, TRecordKind::TLSA, "3 1 1 AB01"},
      {"SSHFP", 44, Bytes().u8(4).u8(2).raw("\x0F\xF0").b, TRecordKind::SSHFP, "4 2 0FF0"},
      {"DS", 43, Bytes().u16(2371).u8(13).u8(2).raw("\x12\x34").b, TRecordKind::DS,
       "2371 13 2 1234"},
      {"CDS", 59, Bytes().u16(0).u8(0).u8(0).raw(std::string(1, '\0')).b, TRecordKind::DS,
       "0 0 0 00"},
      {"DNSKEY", 48, Bytes().u16(257).u8(3).u8(13).raw("key").b, TRecordKind::DNSKEY,
       "257 3 13 a2V5"},
      {"CDNSKEY", 60, Bytes().u16(256).u8(3).u8(8).raw("ab").b, TRecordKind::DNSKEY,
       "256 3 8 YWI="},
      {"RRSIG", 46,
       Bytes().u16(1).u8(13).u8(2).u32(300).u32(1767225600).u32(1764547200).u16(2371).name(
           "example.org").raw("sig").b,
       TRecordKind::RRSIG, "A 13 2 300 20260101000000 20251201000000 2371 example.org. c2ln"},
      {"NSEC", 47, WireName("b.example.org") + Bitmap0({1, 2, 6, 46, 47}), TRecordKind::NSEC,
       "b.example.org. A NS SOA RRSIG NSEC"},
      {"NSEC with a second window", 47,
       WireName("c.example.org") + Bitmap0({1}) + Bytes().u8(1).u8(1).u8(0x40).b,
       TRecordKind::NSEC, "c.example.org. A CAA"},
      {"NSEC3", 50,
       Bytes().u8(1).u8(1).u16(10).raw(CharStr("\xAA\xBB")).raw(CharStr(std::string(5, '\0'))).b +
           Bitmap0({1, 16}),
       TRecordKind::NSEC3, "1 1 10 AABB 00000000 A TXT"},
      {"NSEC3PARAM without salt", 51, Bytes().u8(1).u8(0).u16(0).u8(0).b,
       TRecordKind::NSEC3PARAM, "1 0 0 -"},
      {"HTTPS in service mode", 65,
       Bytes().u16(1).name("").b + Param(0, Bytes().u16(1).u16(3).b) +
           Param(1, CharStr("h2") + CharStr("h3")) + Param(2, "") + Param(3, Bytes().u16(8443).b) +
           Param(4, ARdata(192, 0, 2, 1) + ARdata(192, 0, 2, 2)) + Param(5, "ech") +
           Param(6, kV6) + Param(65000, "x\"y") + Param(65001, ""),
       TRecordKind::SVCB,
       "1 . mandatory=alpn,port alpn=\"h2,h3\" no-default-alpn port=8443 "
       "ipv4hint=192.0.2.1,192.0.2.2 ech=ZWNo ipv6hint=2001:db8::1 key65000=\"x\\\"y\" key65001"},
      {"SVCB alias with a comma in a protocol", 64,
       Bytes().u16(0).name("svc.example.net").b + Param(1, CharStr("a,b")), TRecordKind::SVCB,
       "0 svc.example.net. alpn=\"a\\\\,b\""},
      {"a type without a form of its own", 65534, "\x01\xFF", TRecordKind::Other, "\\# 2 01FF"},
      {"empty data of an unknown type", 4660, "", TRecordKind::Other, "\\# 0"},
  };
  for (const PresentationCase& c : cases) {
    SCOPED_TRACE(c.what);
    const TResultRecord rec = ReadOne(c.type, c.rdata);
    EXPECT_EQ(rec.Kind, c.kind);
    EXPECT_EQ(RDataText(rec), c.text);
    EXPECT_EQ(RecordText(rec), "example.org. 300 IN " + TypeName(static_cast<std::uint16_t>(c.type)) +
                                   " " + c.text);
  }
}

TEST(DnsRecords, TypedFieldsOfTheDnssecAndServiceTypes) {
  const TResultRecord sig = ReadOne(
      46, Bytes().u16(48).u8(8).u8(1).u32(3600).u32(200).u32(100).u16(7).name("org").raw("s").b);
  ASSERT_NE(sig.Get<TRrsigData>(), nullptr);
  EXPECT_EQ(sig.Get<TRrsigData>()->TypeCovered, 48);
  EXPECT_EQ(sig.Get<TRrsigData>()->Expiration, 200u);
  EXPECT_EQ(sig.Get<TRrsigData>()->Inception, 100u);
  EXPECT_EQ(sig.Get<TRrsigData>()->SignerName, "org");
  EXPECT_EQ(sig.Get<TRrsigData>()->Signature, "s");
  EXPECT_EQ(sig.Get<TDsData>(), nullptr);

  const TResultRecord svc =
      ReadOne(65, Bytes().u16(2).name("cdn.example.net").b + Param(1, CharStr("h3")) +
                      Param(3, Bytes().u16(443).b) + Param(6, kV6));
  const TSvcbData* s = svc.Get<TSvcbData>();
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->Priority, 2);
  EXPECT_EQ(s->Target, "cdn.example.net");
  EXPECT_EQ(s->Alpn, std::vector<std::string>{"h3"});
  EXPECT_EQ(s->Port, 443);
  EXPECT_EQ(s->Ipv6Hints, std::vector<std::string>{"2001:db8::1"});
  EXPECT_FALSE(s->HasEch);
  EXPECT_EQ(s->Params.size(), 3u);

  const TResultRecord key = ReadOne(48, Bytes().u16(257).u8(3).u8(15).raw("pk").b);
  ASSERT_NE(key.Get<TDnskeyData>(), nullptr);
  EXPECT_EQ(key.Get<TDnskeyData>()->Flags, 257);
  EXPECT_EQ(key.Get<TDnskeyData>()->Algorithm, 15);
  EXPECT_EQ(key.Get<TDnskeyData>()->PublicKey, "pk");
}

TEST(DnsRecords, DataThatDoesNotFitItsTypeIsAMalformedReply) {
  const struct {
    const char* what;
    unsigned type;
    std::string rdata;
  } cases[] = {
      {"TLSA without its matching type", 52, "\x03\x01"},
      {"DS without its digest type", 43, Bytes().u16(1).u8(8).b},
      {"RRSIG cut inside its fixed part", 46, Bytes().u16(1).u8(8).u8(1).u32(1).b},
      {"NSEC windows out of order", 47, WireName("a") + Bytes().u8(1).u8(1).u8(1).u8(0).u8(1).u8(1).b},
      {"NSEC window of 33 bytes", 47, WireName("a") + Bytes().u8(0).u8(33).raw(std::string(33, 'x')).b},
      {"NSEC3 with an empty next owner", 50, Bytes().u8(1).u8(0).u16(0).u8(0).u8(0).b},
      {"NSEC3PARAM with bytes after its salt", 51, Bytes().u8(1).u8(0).u16(0).u8(0).u8(9).b},
      {"SVCB parameters out of order", 64,
       Bytes().u16(1).name("").b + Param(3, Bytes().u16(1).b) + Param(1, CharStr("h2"))},
      {"SVCB parameter twice", 64, Bytes().u16(1).name("").b + Param(2, "") + Param(2, "")},
      {"SVCB port of three bytes", 64, Bytes().u16(1).name("").b + Param(3, "abc")},
      {"SVCB empty protocol identifier", 65, Bytes().u16(1).name("").b + Param(1, CharStr(""))},
      {"SVCB address hint of five bytes", 65, Bytes().u16(1).name("").b + Param(4, "12345")},
      {"SVCB no-default-alpn with a value", 65, Bytes().u16(1).name("").b + Param(2, "x")},
      {"SVCB parameter value past the data", 65,
       Bytes().u16(1).name("").b + Bytes().u16(1).u16(9).raw("ab").b},
      {"SRV target past the data", 33, Bytes().u16(1).u16(1).u16(1).u8(5).raw("ab").b},
      {"NAPTR without its replacement", 35, Bytes().u16(1).u16(1).u8(0).u8(0).u8(0).b},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_THROW(
        {
          try {
            ReadOne(c.type, c.rdata);
          } catch (const EIdDnsResolverError& e) {
            EXPECT_EQ(e.Kind, TDnsFailure::Malformed);
            throw;
          }
        },
        EIdDnsResolverError);
  }
}

TEST(DnsRecords, NamesInTheDataAreWrittenOutAndTheRecordStandsAlone) {
  // The exchange points back at the question's name.
  const TResultRecord mx = ReadOne(15, Bytes().u16(5).labels("mail").ptr(12).b);
  EXPECT_EQ(mx.RData, Bytes().u16(5).name("mail.example.org").b);
  EXPECT_EQ(mx.RDataLength, 9);
  EXPECT_EQ(mx.OwnerWire, WireName("example.org"));
  EXPECT_EQ(RecordWire(mx), WireName("example.org") + Bytes().u16(15).u16(1).u32(300).u16(20).b +
                                mx.RData);
  // The data of a type read as it is keeps its bytes even where they look
  // like a pointer.
  EXPECT_EQ(ReadOne(4660, "\xC0\x0C").RData, "\xC0\x0C");
}

TEST(DnsRecords, NamesAndStringsEscapedForPresentation) {
  const struct {
    std::string wire;
    const char* text;
  } names[] = {
      {WireName(""), "."},
      {Bytes().u8(3).raw("a.b").u8(3).raw("org").u8(0).b, "a\\.b.org."},
      {Bytes().u8(4).raw("a b\x01").u8(0).b, "a\\032b\\001."},
      {Bytes().u8(3).raw("(;)").u8(0).b, "\\(\\;\\)."},
  };
  for (const auto& n : names) EXPECT_EQ(WireNameText(n.wire), n.text);
  EXPECT_EQ(RDataText(ReadOne(16, TxtRdata({std::string("a\x1b[0m\xC3\xA4", 7)}))),
            "\"a\\027[0m\\195\\164\"");
}

TEST(DnsRecords, TypeMnemonicsBothWays) {
  for (unsigned code : {1u, 2u, 5u, 6u, 12u, 15u, 16u, 28u, 33u, 35u, 39u, 43u, 44u, 46u, 47u,
                        48u, 50u, 51u, 52u, 59u, 60u, 64u, 65u, 99u, 255u, 257u, 65534u, 0u}) {
    const std::string name = TypeName(static_cast<std::uint16_t>(code));
    EXPECT_EQ(TypeCodeOf(name), static_cast<int>(code)) << name;
    EXPECT_EQ(TypeCodeOf(LowerAscii(name)), static_cast<int>(code)) << name;
  }
  EXPECT_EQ(TypeName(65534), "TYPE65534");
  EXPECT_EQ(TypeCodeOf("TYPE65"), 65);
  for (const char* bad : {"", "TYPE", "TYPE65536", "TYPE-1", "TYPE1x", "FOO", "TYPE0000000001"})
    EXPECT_EQ(TypeCodeOf(bad), -1) << bad;
  EXPECT_EQ(ClassName(1), "IN");
  EXPECT_EQ(ClassName(7), "CLASS7");
}

TEST(DnsQuery, OneTypeAskedDirectlyWithCheckingDisabledAndNsid) {
  TIdDNSResolver r;
  r.QuestionType = 65534;
  r.CheckingDisabled = true;
  r.RequestNsid = true;
  const std::string q = r.QueryMessage("example.org", 1, 0x4242);
  const Question parsed = ParseQuestion(q);
  EXPECT_EQ(parsed.type, 65534u);
  EXPECT_EQ(parsed.name, "example.org");
  EXPECT_EQ(static_cast<unsigned char>(q[3]) & 0x10, 0x10);  // CD
  EXPECT_TRUE(parsed.edns);
  // The OPT record ends in one option: NSID, empty.
  EXPECT_EQ(q.substr(q.size() - 6), Bytes().u16(4).u16(3).u16(0).b);

  // The reply's NSID is kept; a later option running past the data is not read.
  const std::string opt = Bytes().u8(0).u16(41).u16(1232).u32(0).u16(12).u16(3).u16(3).raw("ns1")
                              .u16(10).u16(40).raw("x").b;
  TIdDNSResolver reader;
  const std::string msg = Header(0x4242, 0x8180, 1, 0, 0, 1) + parsed.section + opt;
  reader.ReadReply(reinterpret_cast<const unsigned char*>(msg.data()), msg.size(), 0x4242);
  EXPECT_TRUE(reader.QueryResult.HasNsid);
  EXPECT_EQ(reader.QueryResult.Nsid, "ns1");
}

TEST(DnsReply, WholeReplyKeepsAnErrorCodeAndAnEmptyAnswer) {
  const Question q = ParseQuestion(Header(5, 0, 1, 0, 0, 0) + WireName("nx.example.org") +
                                   Bytes().u16(65).u16(1).b);
  const std::string soa = Rr(WireName("example.org"), 6,
                             SoaRdata("ns.example.org", "h.example.org", 1, 2, 3, 4, 5));
  const struct {
    unsigned flags;
    std::vector<std::string> authority;
    int rcode;
    int records;
  } cases[] = {{0x8183, {soa}, 3, 1}, {0x8582, {}, 2, 0}, {0x8580, {}, 0, 0}};
  for (const auto& c : cases) {
    TIdDNSResolver r;
    r.WholeReply = true;
    r.QueryResult.HasQuestion = false;
    const std::string msg = ReplyFlags(q, c.flags, {}, c.authority);
    r.ReadReply(reinterpret_cast<const unsigned char*>(msg.data()), msg.size(), 5);
    EXPECT_EQ(r.QueryResult.Rcode(), c.rcode);
    EXPECT_EQ(r.QueryResult.Count(), c.records);
    EXPECT_EQ(r.QueryResult.Flags, c.flags);
    EXPECT_TRUE(r.QueryResult.HasQuestion);
    EXPECT_EQ(r.QueryResult.QType, 65);
  }
}
