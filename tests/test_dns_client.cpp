// The DNS message client: the query on the wire, the reading of hand-built
// replies (compression, loops, truncation, sections, EDNS, CAA, the CNAME
// chain) and the UDP and TCP exchanges with a scripted responder on the
// loopback address.
#include <gtest/gtest.h>

#include <chrono>

#include "clients/DnsClient.h"
#include "common/Pump.h"
#include "dns_test_support.h"

using namespace quovix;
using namespace dnstest;

namespace {

const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

void Read(TIdDNSResolver& r, const std::string& msg, unsigned id) {
  r.ReadReply(U(msg), msg.size(), static_cast<std::uint16_t>(id));
}

// A reply to "example.org" MX with the question at offset 12 and one MX.
std::string SmallMxReply(unsigned id) {
  return Header(id, 0x8180, 1, 1, 0, 0) + Bytes().name("example.org").u16(15).u16(1).b +
         Rr(Bytes().ptr(12).b, 15, MxRdata(10, "mail.example.org"));
}

}  // namespace

// ---- Query ---------------------------------------------------------------------

TEST(DnsQuery, MxQueryForExampleOrgIsTheExpected29Bytes) {
  TIdDNSResolver r;
  r.QueryType = {qtMX};
  const std::string q = r.BuildQuery("example.org", 1, 0x1234);
  const std::string expected = Header(0x1234, 0x0100, 1, 0, 0, 0) +
                               std::string("\x07" "example" "\x03" "org" "\x00", 13) +
                               Bytes().u16(15).u16(1).b;
  EXPECT_EQ(q.size(), 29u);
  EXPECT_EQ(q, expected);

  r.AllowRecursiveQueries = false;
  EXPECT_EQ(r.BuildQuery("example.org", 1, 0x1234).substr(2, 2), std::string("\0\0", 2));
  // A fully qualified name (trailing dot) is the same question.
  r.AllowRecursiveQueries = true;
  EXPECT_EQ(r.BuildQuery("example.org.", 1, 0x1234), expected);
}

TEST(DnsQuery, QuestionsFollowTheTypeOrderAndPtrAsksForTheReverseName) {
  TIdDNSResolver r;
  r.QueryType = {qtPTR, qtA};
  const Question qa = ParseQuestion(r.BuildQuery("192.0.2.10", 1, 7));
  const std::string q = r.BuildQuery("192.0.2.10", 1, 7);
  EXPECT_EQ(q.substr(4, 2), std::string("\0\2", 2));  // QDCOUNT 2
  // A first (the type list's order), with the name as given …
  EXPECT_EQ(qa.name, "192.0.2.10");
  EXPECT_EQ(qa.type, 1u);
  // … then PTR with the reverse name.
  const std::string ptrQuestion = WireName("10.2.0.192.in-addr.arpa") + Bytes().u16(12).u16(1).b;
  EXPECT_EQ(q.substr(q.size() - ptrQuestion.size()), ptrQuestion);

  EXPECT_EQ(PtrQueryName("192.0.2.10"), "10.2.0.192.in-addr.arpa");
  EXPECT_EQ(PtrQueryName("10.2.0.192.in-addr.arpa"), "10.2.0.192.in-addr.arpa");
  EXPECT_EQ(PtrQueryName("10.2.0.192.IN-ADDR.ARPA"), "10.2.0.192.IN-ADDR.ARPA");
  EXPECT_EQ(PtrQueryName("1.0.0.0.ip6.arpa"), "1.0.0.0.ip6.arpa");
}

TEST(DnsQuery, NamesThatCannotBeWrittenAreRefusedBeforeSending) {
  TIdDNSResolver r;
  EXPECT_THROW(r.BuildQuery("example.org", 1, 1), EIdDnsResolverError);  // no type
  r.QueryType = {qtA};
  for (const std::string& bad : std::vector<std::string>{"a..b", ".example.org", std::string(64, 'x') + ".org",
                                std::string(130, 'a') + "." + std::string(60, 'b') + "." +
                                    std::string(63, 'c')}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(r.BuildQuery(bad, 1, 1), EIdDnsResolverError);
  }
  EXPECT_NO_THROW(r.BuildQuery(std::string(63, 'x') + ".org", 1, 1));
  // The root name is a single zero byte.
  EXPECT_EQ(r.BuildQuery("", 1, 1).size(), 12u + 1 + 4);
}

// ---- Reading replies -------------------------------------------------------------

TEST(DnsReply, CompressionPointersIncludingPointerToPointerGiveFullNames) {
  // Question example.org at 12; answer 1: owner -> 12, CNAME www + ->12;
  // answer 2: owner is a pointer to answer 1's owner pointer (a pointer to a
  // pointer), A 192.0.2.1; answer 3: MX whose exchange points into the CNAME.
  Bytes m;
  m.raw(Header(9, 0x8180, 1, 3, 0, 0)).name("example.org").u16(5).u16(1);
  const unsigned owner1 = static_cast<unsigned>(m.size());
  m.ptr(12).u16(5).u16(1).u32(60);
  const unsigned rdlenAt = static_cast<unsigned>(m.size());
  m.u16(0);
  const unsigned www = static_cast<unsigned>(m.size());
  m.labels("www").ptr(12);
  m.b[rdlenAt + 1] = static_cast<char>(m.size() - www);
  m.ptr(owner1).u16(1).u16(1).u32(60).u16(4).raw(ARdata(192, 0, 2, 1));
  m.ptr(12).u16(15).u16(1).u32(60).u16(4).u16(10).ptr(www);

  TIdDNSResolver r;
  Read(r, m.b, 9);
  ASSERT_EQ(r.QueryResult.Count(), 3);
  EXPECT_TRUE(r.QueryResult.HasQuestion);
  EXPECT_EQ(r.QueryResult.QName, "example.org");
  EXPECT_EQ(r.QueryResult[0].Name, "example.org");
  EXPECT_EQ(r.QueryResult[0].Kind, TRecordKind::Name);
  EXPECT_EQ(r.QueryResult[0].HostName, "www.example.org");
  EXPECT_EQ(r.QueryResult[1].Name, "example.org");
  EXPECT_EQ(r.QueryResult[1].IPAddress, "192.0.2.1");
  EXPECT_EQ(r.QueryResult[2].Preference, 10);
  EXPECT_EQ(r.QueryResult[2].HostName, "www.example.org");
}

TEST(DnsReply, PointerLoopsAndOverlongNamesAreMalformed) {
  const std::string q = Header(1, 0x8180, 0, 1, 0, 0);
  // A pointer to itself.
  std::string self = q + Bytes().ptr(12).u16(1).u16(1).u32(0).u16(4).raw(ARdata(1, 2, 3, 4)).b;
  // Two pointers pointing at each other.
  std::string pair = q + Bytes().ptr(14).ptr(12).u16(99).u16(1).u32(0).u16(0).b;
  // A label followed by a pointer back to the label: grows without end.
  std::string growing = q + Bytes().labels("abc").ptr(12).u16(99).u16(1).u32(0).u16(0).b;
  // Five labels of 60 bytes: 306 bytes on the wire.
  std::string longName = q + Bytes().name(std::string(60, 'a') + "." + std::string(60, 'b') + "." +
                                          std::string(60, 'c') + "." + std::string(60, 'd') + "." +
                                          std::string(60, 'e'))
                                 .u16(99).u16(1).u32(0).u16(0).b;
  // A pointer past the end of the message.
  std::string outside = q + Bytes().ptr(0x3FFF).u16(99).u16(1).u32(0).u16(0).b;
  for (const std::string* m : {&self, &pair, &growing, &longName, &outside}) {
    TIdDNSResolver r;
    EXPECT_THROW(Read(r, *m, 1), EIdDnsResolverError);
    EXPECT_EQ(r.QueryResult.Count(), 0);
  }
  // 253 bytes on the wire is still a name.
  const std::string okName = std::string(62, 'a') + "." + std::string(62, 'b') + "." +
                             std::string(62, 'c') + "." + std::string(61, 'd');
  TIdDNSResolver r;
  Read(r, q + Rr(WireName(okName), 1, ARdata(1, 2, 3, 4)), 1);
  ASSERT_EQ(r.QueryResult.Count(), 1);
  EXPECT_EQ(r.QueryResult[0].Name, okName);
}

TEST(DnsReply, LabelLengths64To191AreReadAsLengths) {
  const std::string label(100, 'x');
  const std::string m = Header(1, 0x8180, 0, 1, 0, 0) +
                        Bytes().u8(100).raw(label).u8(0).u16(99).u16(1).u32(0).u16(0).b;
  TIdDNSResolver r;
  Read(r, m, 1);
  ASSERT_EQ(r.QueryResult.Count(), 1);
  EXPECT_EQ(r.QueryResult[0].Name, label);
}

TEST(DnsReply, EveryTruncationIsAnErrorOrNothingAndKeepsTheOldResult) {
  const Question q = ParseQuestion(Header(5, 0, 1, 0, 0, 0) + WireName("example.org") +
                                   Bytes().u16(6).u16(1).b);
  const std::string full =
      Reply(q, 0,
            {Rr(Bytes().ptr(12).b, 6,
                SoaRdata("ns1.example.org", "hostmaster.example.org", 1, 2, 3, 4, 5)),
             Rr(Bytes().ptr(12).b, 16, TxtRdata({"one", " two"}))},
            {Rr(Bytes().ptr(12).b, 2, WireName("ns1.example.org"))},
            {Rr(WireName("ns1.example.org"), 1, ARdata(192, 0, 2, 53))});
  TIdDNSResolver r;
  Read(r, full, 5);
  ASSERT_EQ(r.QueryResult.Count(), 4);
  for (size_t len = 0; len < full.size(); ++len) {
    SCOPED_TRACE(len);
    if (len == 12) {
      EXPECT_NO_THROW(Read(r, full.substr(0, len), 5));
    } else {
      EXPECT_THROW(Read(r, full.substr(0, len), 5), EIdDnsResolverError);
    }
    EXPECT_EQ(r.QueryResult.Count(), 4);
  }
}

TEST(DnsReply, SectionsInOrderAndEveryRecordKindDecoded) {
  const Question q = ParseQuestion(Header(77, 0, 1, 0, 0, 0) + WireName("example.org") +
                                   Bytes().u16(15).u16(1).b);
  const std::string owner = Bytes().ptr(12).b;
  const std::string m = Reply(
      q, 0,
      {Rr(owner, 15, MxRdata(20, "mx.example.org")), Rr(owner, 16, TxtRdata({"v=spf1", " -all"})),
       Rr(owner, 16, TxtRdata({"", ""})), Rr(owner, 12, WireName("host.example.org")),
       Rr(owner, 65280, "\x01\x02\x03")},
      {Rr(owner, 6, SoaRdata("ns1.example.org", "hostmaster.example.org", 2024010101, 7200,
                             3600, 1209600, 300)),
       Rr(owner, 2, WireName("ns1.example.org"))},
      {Rr(WireName("mx.example.org"), 1, ARdata(192, 0, 2, 25))});
  TIdDNSResolver r;
  Read(r, m, 77);
  ASSERT_EQ(r.QueryResult.Count(), 8);
  const auto& res = r.QueryResult;
  EXPECT_EQ(res.QType, 15);
  EXPECT_EQ(res.QClass, 1);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(res[i].Section, TRecordSection::Answer);
  EXPECT_EQ(res[5].Section, TRecordSection::Authority);
  EXPECT_EQ(res[6].Section, TRecordSection::Authority);
  EXPECT_EQ(res[7].Section, TRecordSection::Additional);

  EXPECT_EQ(res[0].Kind, TRecordKind::MX);
  EXPECT_EQ(res[0].Preference, 20);
  EXPECT_EQ(res[0].HostName, "mx.example.org");
  EXPECT_EQ(res[0].TTL, 3600u);
  EXPECT_EQ(res[1].Text, std::vector<std::string>{"v=spf1 -all"});
  EXPECT_TRUE(res[2].Text.empty());
  EXPECT_EQ(res[3].Kind, TRecordKind::PTR);
  EXPECT_EQ(res[3].HostName, "host.example.org");
  EXPECT_EQ(res[4].Kind, TRecordKind::Other);
  EXPECT_EQ(res[4].TypeCode, 65280);
  EXPECT_EQ(res[4].RData, "\x01\x02\x03");
  EXPECT_EQ(res[5].Primary, "ns1.example.org");
  EXPECT_EQ(res[5].Responsible, "hostmaster.example.org");
  EXPECT_EQ(res[5].Serial, 2024010101u);
  EXPECT_EQ(res[5].Refresh, 7200u);
  EXPECT_EQ(res[5].Retry, 3600u);
  EXPECT_EQ(res[5].Expire, 1209600u);
  EXPECT_EQ(res[5].MinimumTTL, 300u);
  EXPECT_EQ(res[6].Kind, TRecordKind::NS);
  EXPECT_EQ(res[7].IPAddress, "192.0.2.25");
}

TEST(DnsReply, ServerErrorsAndForeignIdsRaiseAndLeaveTheResult) {
  const Question q = ParseQuestion(Header(300, 0, 1, 0, 0, 0) + WireName("nx.example.org") +
                                   Bytes().u16(1).u16(1).b);
  TIdDNSResolver r;
  Read(r, SmallMxReply(300), 300);
  ASSERT_EQ(r.QueryResult.Count(), 1);

  // Name error, even with an SOA in the authority section.
  const std::string nx = Reply(q, 3, {}, {Rr(WireName("example.org"), 6,
                                              SoaRdata("a.example.org", "b.example.org", 1, 2, 3,
                                                       4, 5))});
  try {
    Read(r, nx, 300);
    ADD_FAILURE() << "no error for RCODE 3";
  } catch (const EIdDnsResolverError& e) {
    EXPECT_EQ(e.Rcode, 3);
  }
  EXPECT_EQ(r.QueryResult.Count(), 1);
  EXPECT_THROW(Read(r, SmallMxReply(301), 300), EIdDnsResolverError);
  EXPECT_THROW(Read(r, Reply(q, 9, {}), 300), EIdDnsResolverError);
  EXPECT_EQ(r.QueryResult.Count(), 1);
  EXPECT_EQ(r.QueryResult[0].HostName, "mail.example.org");

  // No records at all: nothing is read, the list keeps what it held.
  Read(r, Reply(q, 0, {}), 300);
  EXPECT_EQ(r.QueryResult.Count(), 1);
}

TEST(DnsReply, RecordDataThatDoesNotAddUpIsMalformed) {
  const std::string h = Header(1, 0x8180, 0, 1, 0, 0);
  const std::string owner = WireName("example.org");
  const std::vector<std::string> bad = {
      h + Rr(owner, 1, "\x01\x02\x03"),                               // short address
      h + Rr(owner, 15, "\x00"),                                      // MX without exchange
      h + Rr(owner, 16, "\x05" "abc"),                                // string past its RDATA
      h + Rr(owner, 6, WireName("a.b") + WireName("c.d") + "\x00\x01"),  // SOA short of numbers
      h + Rr(owner, 2, "\x03" "abc") + WireName("example.org"),        // name leaves RDATA
      h + owner + Bytes().u16(1).u16(1).u32(0).u16(200).raw("ab").b,  // RDATA past the end
  };
  for (size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    TIdDNSResolver r;
    EXPECT_THROW(Read(r, bad[i], 1), EIdDnsResolverError);
  }
  // Several questions are passed over, not read as records.
  const std::string two = Header(2, 0x8180, 2, 1, 0, 0) + WireName("a.example") +
                          Bytes().u16(1).u16(1).b + WireName("b.example") +
                          Bytes().u16(1).u16(1).b + Rr(owner, 1, ARdata(10, 0, 0, 1));
  TIdDNSResolver r;
  Read(r, two, 2);
  EXPECT_FALSE(r.QueryResult.HasQuestion);
  ASSERT_EQ(r.QueryResult.Count(), 1);
  EXPECT_EQ(r.QueryResult[0].IPAddress, "10.0.0.1");
}

TEST(DnsReply, AaaaRecordsInRfc5952FormShortOnesMalformedAndIp6ArpaQuestions) {
  const std::string h = Header(1, 0x8180, 0, 1, 0, 0);
  const std::string owner = WireName("example.org");
  std::string v6(16, '\0');
  v6[0] = 0x20, v6[1] = 0x01, v6[2] = 0x0d, v6[3] = static_cast<char>(0xb8), v6[15] = 0x01;
  TIdDNSResolver r;
  Read(r, h + Rr(owner, 28, v6), 1);
  ASSERT_EQ(r.QueryResult.Count(), 1);
  EXPECT_EQ(r.QueryResult[0].Kind, TRecordKind::AAAA);
  EXPECT_EQ(r.QueryResult[0].IPAddress, "2001:db8::1");
  EXPECT_THROW(Read(r, h + Rr(owner, 28, v6.substr(0, 15)), 1), EIdDnsResolverError);
  EXPECT_EQ(PtrQueryName("2001:DB8::1"),
            "1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.8.b.d.0.1.0.0.2.ip6.arpa");
  EXPECT_EQ(PtrQueryName("192.0.2.1"), "1.2.0.192.in-addr.arpa");
}

// ---- Exchange over UDP -------------------------------------------------------------

namespace {

std::vector<ScriptedDnsServer::Datagram> AnswerA(const std::string& query, unsigned d) {
  const Question q = ParseQuestion(query);
  return {{Reply(q, 0, {Rr(Bytes().ptr(12).b, 1, ARdata(192, 0, 2, d))})}};
}

TIdDNSResolver ResolverFor(const ScriptedDnsServer& s, int waitMs = 2000) {
  TIdDNSResolver r;
  r.Host = "127.0.0.1";
  r.Port = s.Port();
  r.WaitingTime = waitMs;
  r.QueryType = {qtA};
  return r;
}

}  // namespace

TEST(DnsExchange, AnswerArrivesAndIdentifiersVary) {
  ScriptedDnsServer s([](const std::string& q) { return AnswerA(q, 1); });
  TIdDNSResolver r = ResolverFor(s);
  std::set<std::uint16_t> ids;
  for (int i = 0; i < 6; ++i) {
    r.QueryResult.Clear();
    r.SendQuery("example.org", 1);
    ASSERT_EQ(r.QueryResult.Count(), 1);
    EXPECT_EQ(r.QueryResult[0].IPAddress, "192.0.2.1");
    ids.insert(r.LastQueryId());
  }
  EXPECT_GT(ids.size(), 1u);
  const Question sent = ParseQuestion(s.Received().front());
  EXPECT_EQ(sent.name, "example.org");
  EXPECT_EQ(sent.type, 1u);
}

TEST(DnsExchange, StrangersAndForeignIdentifiersAreNotTakenAsTheAnswer) {
  ScriptedDnsServer s([](const std::string& query) {
    const Question q = ParseQuestion(query);
    Question wrong = q;
    wrong.id = (q.id + 1) & 0xFFFF;
    const std::string forged = Rr(Bytes().ptr(12).b, 1, ARdata(203, 0, 113, 66));
    return std::vector<ScriptedDnsServer::Datagram>{
        {Reply(q, 0, {forged}), true},       // right id, other port
        {Reply(wrong, 0, {forged}), false},  // right port, wrong id
        {"\x01\x02", false},                 // too short to be anything
        {Reply(q, 0, {Rr(Bytes().ptr(12).b, 1, ARdata(192, 0, 2, 7))}), false}};
  });
  TIdDNSResolver r = ResolverFor(s);
  r.SendQuery("example.org", 1);
  ASSERT_EQ(r.QueryResult.Count(), 1);
  EXPECT_EQ(r.QueryResult[0].IPAddress, "192.0.2.7");
}

TEST(DnsExchange, OnlyAForeignIdentifierEndsInAnErrorAfterTheWait) {
  ScriptedDnsServer s([](const std::string& query) {
    Question q = ParseQuestion(query);
    q.id = (q.id + 1) & 0xFFFF;
    return std::vector<ScriptedDnsServer::Datagram>{
        {Reply(q, 0, {Rr(Bytes().ptr(12).b, 1, ARdata(203, 0, 113, 66))})}};
  });
  TIdDNSResolver r = ResolverFor(s, 400);
  EXPECT_THROW(r.SendQuery("example.org", 1), EIdDnsResolverError);
  EXPECT_EQ(r.QueryResult.Count(), 0);
}

TEST(DnsExchange, NoReplyReturnsAfterTheWaitingTimePumpingBetweenSlices) {
  ScriptedDnsServer s([](const std::string&) { return std::vector<ScriptedDnsServer::Datagram>{}; });
  int pumps = 0;
  SetMessagePump([&] { ++pumps; });
  TIdDNSResolver r = ResolverFor(s, 700);
  r.QueryResult.Clear();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NO_THROW(r.SendQuery("example.org", 1));
  const auto took = std::chrono::steady_clock::now() - start;
  SetMessagePump({});
  EXPECT_EQ(r.QueryResult.Count(), 0);
  EXPECT_EQ(s.Queries(), 1);
  // Slices of at most 250 ms: a 700 ms wait lets the pump run at least thrice.
  EXPECT_GE(pumps, 3);
  EXPECT_GE(took, std::chrono::milliseconds(650));
}

TEST(DnsExchange, MalformedReplyAndClosedPortAreErrors) {
  ScriptedDnsServer s([](const std::string& query) {
    return std::vector<ScriptedDnsServer::Datagram>{{AnswerA(query, 1).front().bytes.substr(0, 40)}};
  });
  TIdDNSResolver r = ResolverFor(s);
  EXPECT_THROW(r.SendQuery("example.org", 1), EIdDnsResolverError);

  // A port where nothing listens: the refusal is reported, not waited out.
  std::uint16_t closedPort;
  {
    ScriptedDnsServer gone([](const std::string&) { return std::vector<ScriptedDnsServer::Datagram>{}; });
    closedPort = gone.Port();
  }
  TIdDNSResolver c;
  c.Host = "127.0.0.1";
  c.Port = closedPort;
  c.WaitingTime = 3000;
  c.QueryType = {qtA};
  EXPECT_THROW(c.SendQuery("example.org", 1), EIdDnsResolverError);
  try {
    c.SendQuery("example.org", 1);
  } catch (const EIdDnsResolverError& e) {
    EXPECT_EQ(e.Kind, TDnsFailure::Refused);
    EXPECT_FALSE(e.OverTcp);
  }

  c.QueryType.clear();
  EXPECT_THROW(c.SendQuery("example.org", 1), EIdDnsResolverError);
  c.QueryType = {qtA};
  c.Host = "";
  EXPECT_THROW(c.SendQuery("example.org", 1), EIdDnsResolverError);
}

// ---- EDNS, truncation and the question asked ------------------------------------------

TEST(DnsQuery, OptRecordAdvertises1232AndTheDoBitWhenAsked) {
  TIdDNSResolver r;
  r.QueryType = {qtMX};
  const std::string plain = r.BuildQuery("example.org", 1, 0x1234);
  const std::string q = r.QueryMessage("example.org", 1, 0x1234);
  EXPECT_EQ(q.substr(0, 10), plain.substr(0, 10));
  EXPECT_EQ(q.substr(10, 2), std::string("\0\1", 2));  // ARCOUNT 1
  EXPECT_EQ(q.substr(12, plain.size() - 12), plain.substr(12));
  EXPECT_EQ(q.substr(plain.size()), OptRr(1232));
  r.DnssecOk = true;
  EXPECT_EQ(r.QueryMessage("example.org", 1, 0x1234).substr(plain.size()), OptRr(1232, 0, true));
  r.UseEdns = false;
  EXPECT_EQ(r.QueryMessage("example.org", 1, 0x1234), plain);
}

TEST(DnsReply, OptRecordIsReadNotListedAndExtendsTheCode) {
  const Question q = ParseQuestion(Header(4, 0, 1, 0, 0, 0) + WireName("example.org") +
                                   Bytes().u16(1).u16(1).b);
  const std::string a = Rr(Bytes().ptr(12).b, 1, ARdata(192, 0, 2, 1));
  TIdDNSResolver r;
  // Authentic data (AD) with an OPT that has the DO bit.
  Read(r, ReplyFlags(q, 0x81A0, {a}, {}, {OptRr(1232, 0, true)}), 4);
  ASSERT_EQ(r.QueryResult.Count(), 1);
  EXPECT_TRUE(r.QueryResult.HasOpt);
  EXPECT_EQ(r.QueryResult.OptPayloadSize, 1232);
  EXPECT_TRUE(r.QueryResult.OptDnssecOk);
  EXPECT_TRUE(r.QueryResult.AuthenticData());
  EXPECT_FALSE(r.QueryResult.Truncated());

  EXPECT_THROW(Read(r, Reply(q, 0, {a}, {}, {OptRr(1232), OptRr(512)}), 4), EIdDnsResolverError);
  try {  // BADVERS: extended code 1, header code 0
    Read(r, Reply(q, 0, {}, {}, {OptRr(1232, 1)}), 4);
    ADD_FAILURE() << "no error for an extended response code";
  } catch (const EIdDnsResolverError& e) {
    EXPECT_EQ(e.Kind, TDnsFailure::ServerCode);
    EXPECT_EQ(e.Rcode, 16);
    EXPECT_EQ(RcodeName(e.Rcode), "BADVERS");
  }
  EXPECT_EQ(r.QueryResult[0].IPAddress, "192.0.2.1");
}

TEST(DnsReply, CaaRecordsDecodedAndShortOnesMalformed) {
  const std::string h = Header(1, 0x8180, 0, 2, 0, 0);
  const std::string owner = WireName("example.org");
  const std::string value = "ca.example; account=\"x\"";
  TIdDNSResolver r;
  Read(r, h + Rr(owner, 257, Bytes().u8(128).u8(5).raw("issue").raw(value).b) +
              Rr(owner, 257, Bytes().u8(0).u8(5).raw("iodef").b), 1);
  ASSERT_EQ(r.QueryResult.Count(), 2);
  EXPECT_EQ(r.QueryResult[0].Kind, TRecordKind::CAA);
  EXPECT_EQ(r.QueryResult[0].CaaFlags, 128);
  EXPECT_EQ(r.QueryResult[0].CaaTag, "issue");
  EXPECT_EQ(r.QueryResult[0].CaaValue, value);
  EXPECT_EQ(r.QueryResult[1].CaaValue, "");
  const std::string one = Header(1, 0x8180, 0, 1, 0, 0);
  EXPECT_THROW(Read(r, one + Rr(owner, 257, "\x00"), 1), EIdDnsResolverError);
  EXPECT_THROW(Read(r, one + Rr(owner, 257, Bytes().u8(0).u8(9).raw("issue").b), 1),
               EIdDnsResolverError);
  EXPECT_EQ(QueryTypeCode(qtCAA), 257);
}

TEST(DnsAnswer, OnlyRecordsOfTheNameAndOfItsCnameChain) {
  // example.org -> www.example.org -> edge.example.net; records of another
  // name, of the authority section and of another class around them.
  const std::string h = Header(1, 0x8180, 0, 7, 1, 0);
  auto classRr = [](const std::string& owner, unsigned cls, const std::string& rdata) {
    return Bytes().raw(owner).u16(1).u16(cls).u32(60).u16(4).raw(rdata).b;
  };
  TIdDNSResolver r;
  Read(r, h + Rr(WireName("other.example"), 1, ARdata(203, 0, 113, 1)) +
              Rr(WireName("example.org"), 5, WireName("WWW.example.org")) +
              Rr(WireName("www.Example.ORG"), 5, WireName("edge.example.net.")) +
              Rr(WireName("edge.example.net"), 1, ARdata(192, 0, 2, 2)) +
              classRr(WireName("edge.example.net"), 3, ARdata(192, 0, 2, 3)) +
              Rr(WireName("example.org"), 1, ARdata(192, 0, 2, 1)) +
              Rr(WireName("loop.example"), 5, WireName("loop.example")) +
              Rr(WireName("example.org"), 1, ARdata(198, 51, 100, 1)),
       1);
  std::vector<std::string> got;
  for (const TResultRecord* rec : AnswerRecords(r.QueryResult, "Example.Org.", kTypeA))
    got.push_back(rec->IPAddress);
  EXPECT_EQ(got, (std::vector<std::string>{"192.0.2.2", "192.0.2.1"}));
  EXPECT_TRUE(AnswerRecords(r.QueryResult, "loop.example", kTypeA).empty());
  EXPECT_EQ(AnswerRecords(r.QueryResult, "example.org", kTypeCNAME).size(), 1u);

  // A chain longer than any resolver follows is cut off.
  std::string longChain;
  for (int i = 0; i < 20; ++i)
    longChain += Rr(WireName("c" + std::to_string(i) + ".example"), 5,
                    WireName("c" + std::to_string(i + 1) + ".example"));
  TIdDNSResolver c;
  Read(c, Header(1, 0x8180, 0, 22, 0, 0) + longChain +
              Rr(WireName("c5.example"), 1, ARdata(192, 0, 2, 5)) +
              Rr(WireName("c20.example"), 1, ARdata(192, 0, 2, 20)),
       1);
  const auto viaChain = AnswerRecords(c.QueryResult, "c0.example", kTypeA);
  ASSERT_EQ(viaChain.size(), 1u);
  EXPECT_EQ(viaChain[0]->IPAddress, "192.0.2.5");
}

namespace {

// The whole answer of 40 TXT records, and the truncated UDP reply with the
// first of them only.
std::string ManyTxt(const Question& q, unsigned flags, int count) {
  std::vector<std::string> answer;
  for (int i = 1; i <= count; ++i)
    answer.push_back(Rr(Bytes().ptr(12).b, 16,
                        TxtRdata({"site-verification-" + std::to_string(i) + "=0123456789abcdef"})));
  return ReplyFlags(q, flags, answer);
}

}  // namespace

TEST(DnsExchange, TruncatedReplyIsAskedAgainOverTcpAndTheWholeAnswerTaken) {
  ScriptedDnsServer s(
      [](const std::string& query) {  // TC set, and nothing else but the header
        return std::vector<ScriptedDnsServer::Datagram>{
            {Header(ParseQuestion(query).id, 0x8380, 0, 0, 0, 0)}};
      },
      [](const std::string& query) {
        Question q = ParseQuestion(query);
        const std::string whole = Framed(ManyTxt(q, 0x8180, 40));
        Question other = q;
        other.id ^= 0x5A5A;
        // A message of another query first, then the reply in pieces, the
        // first piece one byte of its length.
        return std::vector<ScriptedDnsServer::Datagram>{
            {Framed(ManyTxt(other, 0x8180, 2))},
            {whole.substr(0, 1)},
            {whole.substr(1, 700)},
            {whole.substr(701)}};
      });
  TIdDNSResolver r = ResolverFor(s);
  r.QueryType = {qtTXT};
  r.SendQuery("example.org", 1);
  ASSERT_EQ(r.QueryResult.Count(), 40);
  EXPECT_EQ(r.QueryResult[39].Text.front(), "site-verification-40=0123456789abcdef");
  EXPECT_TRUE(r.LastExchange().Answered);
  EXPECT_EQ(r.LastExchange().Transport, TDnsTransport::Tcp);
  ASSERT_EQ(s.TcpQueries(), 1);
  const Question overTcp = ParseQuestion(s.TcpReceived().front());
  EXPECT_EQ(overTcp.name, "example.org");
  EXPECT_EQ(overTcp.type, 16u);
  EXPECT_TRUE(overTcp.edns);
}

TEST(DnsExchange, TcpRefusedSilentOrClosedIsReportedWithinItsTimeLimit) {
  auto truncated = [](const std::string& query) {
    return std::vector<ScriptedDnsServer::Datagram>{{ManyTxt(ParseQuestion(query), 0x8380, 1)}};
  };
  auto failure = [](TIdDNSResolver& r) {
    try {
      r.SendQuery("example.org", 1);
    } catch (const EIdDnsResolverError& e) {
      EXPECT_TRUE(e.OverTcp) << e.what();
      return e.Kind;
    }
    return TDnsFailure::Other;
  };
  {  // Nothing listens on the TCP port.
    ScriptedDnsServer s(truncated);
    TIdDNSResolver r = ResolverFor(s);
    EXPECT_EQ(failure(r), TDnsFailure::Refused);
  }
  {  // Closed after a part of a message.
    ScriptedDnsServer s(truncated, [](const std::string& query) {
      return std::vector<ScriptedDnsServer::Datagram>{
          {Framed(ManyTxt(ParseQuestion(query), 0x8180, 40)).substr(0, 100), false, true}};
    });
    TIdDNSResolver r = ResolverFor(s);
    EXPECT_EQ(failure(r), TDnsFailure::Closed);
    EXPECT_EQ(r.QueryResult.Count(), 0);
  }
  {  // Accepted, then silent: no reply, after the TCP exchange's own limit.
    ScriptedDnsServer s(truncated, [](const std::string&) {
      return std::vector<ScriptedDnsServer::Datagram>{};
    });
    TIdDNSResolver r = ResolverFor(s, 400);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NO_THROW(r.SendQuery("example.org", 1));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(r.LastExchange().Answered);
    EXPECT_EQ(r.LastExchange().Transport, TDnsTransport::Tcp);
    EXPECT_EQ(r.QueryResult.Count(), 0);
    EXPECT_GE(took, std::chrono::milliseconds(350));
    EXPECT_LT(took, std::chrono::milliseconds(1500));
  }
}

TEST(DnsExchange, FormerrToEdnsIsAskedAgainWithoutItOtherCodesAreNot) {
  ScriptedDnsServer s([](const std::string& query) {
    const Question q = ParseQuestion(query);
    if (q.edns) return std::vector<ScriptedDnsServer::Datagram>{{Reply(q, 1, {})}};
    return AnswerA(query, 9);
  });
  TIdDNSResolver r = ResolverFor(s);
  r.SendQuery("example.org", 1);
  ASSERT_EQ(r.QueryResult.Count(), 1);
  EXPECT_EQ(r.QueryResult[0].IPAddress, "192.0.2.9");
  EXPECT_TRUE(r.LastExchange().EdnsDropped);
  EXPECT_FALSE(r.LastExchange().Edns);
  const auto sent = s.Received();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(ParseQuestion(sent[0]).edns);
  EXPECT_EQ(ParseQuestion(sent[0]).payload, 1232u);
  EXPECT_FALSE(ParseQuestion(sent[1]).edns);

  ScriptedDnsServer failing([](const std::string& query) {
    return std::vector<ScriptedDnsServer::Datagram>{{Reply(ParseQuestion(query), 2, {})}};
  });
  TIdDNSResolver f = ResolverFor(failing);
  try {
    f.SendQuery("example.org", 1);
    ADD_FAILURE() << "no error for SERVFAIL";
  } catch (const EIdDnsResolverError& e) {
    EXPECT_EQ(e.Kind, TDnsFailure::ServerCode);
    EXPECT_EQ(RcodeName(e.Rcode), "SERVFAIL");
  }
  EXPECT_EQ(failing.Queries(), 1);
}

TEST(DnsExchange, RepliesToAnotherQuestionAndEchoedQueriesAreNotTheAnswer) {
  auto script = [](bool withAnswer) {
    return [withAnswer](const std::string& query) {
      const Question q = ParseQuestion(query);
      const std::string forged = Rr(Bytes().ptr(12).b, 1, ARdata(203, 0, 113, 66));
      Question otherName = q, otherType = q, upper = q;
      otherName.section = WireName("example.net") + Bytes().u16(1).u16(1).b;
      otherType.section = WireName("example.org") + Bytes().u16(28).u16(1).b;
      upper.section = WireName("EXAMPLE.Org") + Bytes().u16(1).u16(1).b;
      std::vector<ScriptedDnsServer::Datagram> out = {
          {Reply(otherName, 0, {forged})}, {Reply(otherType, 0, {forged})}, {query}};
      if (withAnswer) out.push_back({Reply(upper, 0, {Rr(Bytes().ptr(12).b, 1, ARdata(192, 0, 2, 8))})});
      return out;
    };
  };
  ScriptedDnsServer s(script(true));
  TIdDNSResolver r = ResolverFor(s);
  r.SendQuery("example.org", 1);
  ASSERT_EQ(r.QueryResult.Count(), 1);
  EXPECT_EQ(r.QueryResult[0].IPAddress, "192.0.2.8");

  ScriptedDnsServer wrong(script(false));
  TIdDNSResolver w = ResolverFor(wrong, 400);
  try {
    w.SendQuery("example.org", 1);
    ADD_FAILURE() << "no error when only replies to other questions came";
  } catch (const EIdDnsResolverError& e) {
    EXPECT_EQ(e.Kind, TDnsFailure::Mismatch);
  }
  EXPECT_EQ(w.QueryResult.Count(), 0);

  // The check itself: question count, name without regard to case, type, class.
  const std::string query = w.BuildQuery("example.org", 1, 3);
  const Question q = ParseQuestion(query);
  auto matches = [&](const std::string& reply) {
    return ReplyMatchesQuery(reinterpret_cast<const unsigned char*>(reply.data()), reply.size(),
                             query);
  };
  EXPECT_TRUE(matches(Reply(q, 0, {})));
  Question cls = q;
  cls.section = WireName("example.org") + Bytes().u16(1).u16(3).b;
  EXPECT_FALSE(matches(Reply(cls, 0, {})));
  EXPECT_FALSE(matches(Header(3, 0x8180, 0, 0, 0, 0)));
  EXPECT_THROW(matches(Header(3, 0x8180, 1, 0, 0, 0) + "\x07" "exam"), EIdDnsResolverError);
}

// The server's text may name its port, which then wins over Port.
TEST(DnsExchange, ServerTextWithItsPort) {
  ScriptedDnsServer s([](const std::string& q) { return AnswerA(q, 4); });
  TIdDNSResolver r = ResolverFor(s);
  r.Host = "127.0.0.1:" + std::to_string(s.Port());
  r.Port = 1;
  r.SendQuery("example.org", 1);
  ASSERT_EQ(r.QueryResult.Count(), 1);
  EXPECT_EQ(r.QueryResult[0].IPAddress, "192.0.2.4");
  r.Host = "127.0.0.1:99999";
  EXPECT_THROW(r.SendQuery("example.org", 1), EIdDnsResolverError);
}
