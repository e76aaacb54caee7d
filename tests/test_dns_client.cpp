// The DNS message client: the query on the wire, the reading of hand-built
// replies (compression, loops, truncation, sections) and the UDP exchange
// with a scripted responder on the loopback address.
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
       Rr(owner, 99, "\x01\x02\x03")},
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
  EXPECT_EQ(res[4].TypeCode, 99);
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

  c.QueryType.clear();
  EXPECT_THROW(c.SendQuery("example.org", 1), EIdDnsResolverError);
  c.QueryType = {qtA};
  c.Host = "";
  EXPECT_THROW(c.SendQuery("example.org", 1), EIdDnsResolverError);
}
