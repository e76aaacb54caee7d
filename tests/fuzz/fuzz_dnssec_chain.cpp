// Fuzz target of the DNSSEC chain walk and of the walk from the root: any
// bytes read as a reply (whole, whatever its code), and every query of both
// walks answered with it, so that ldns reads the records from their wire
// form and the walks follow whatever names, keys, signatures, denials and
// referrals it holds, within their bounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "clients/DnsClient.h"
#include "clients/DnssecChain.h"
#include "clients/Iterative.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quovix::TIdDNSResolver resolver;
  resolver.WholeReply = true;
  const std::uint16_t id = size >= 2 ? static_cast<std::uint16_t>((data[0] << 8) | data[1]) : 0;
  try {
    resolver.ReadReply(data, size, id);
  } catch (const quovix::EIdDnsResolverError&) {
    return 0;
  }
  const quovix::TQueryResult& result = resolver.QueryResult;
  quovix::TChainReply reply;
  reply.Answered = true;
  reply.Rcode = result.Rcode();
  for (const quovix::TResultRecord& rec : result) {
    if (rec.Section == quovix::TRecordSection::Answer) reply.Answer.push_back(quovix::RecordWire(rec));
    if (rec.Section == quovix::TRecordSection::Authority)
      reply.Authority.push_back(quovix::RecordWire(rec));
  }
  // The anchor: the records of the reply's own DNSKEY and DS sets stand in
  // for the root's when there are any, so that the walk gets past the root.
  quovix::TTrustAnchor anchor = quovix::ParseTrustAnchor(
      ". IN DS 20326 8 2 E06D44B80B8F1D39A95C0B0D7C65D08458E880409BBC683457104237C7F8EC8D\n");
  for (const quovix::TResultRecord& rec : result)
    if ((rec.TypeCode == quovix::kTypeDNSKEY || rec.TypeCode == quovix::kTypeDS) && rec.Name.empty())
      anchor.Records.push_back(quovix::RecordText(rec));
  const std::string name = result.QName.empty() ? "www.example.test" : result.QName;
  int asked = 0;
  const quovix::TChainResult chain = quovix::WalkChain(
      name, anchor,
      [&](const std::string&, std::uint16_t) {
        ++asked;
        return reply;
      },
      0, 60);
  if (asked > 60 || chain.Queries != asked) __builtin_trap();

  quovix::TIterReply iter;
  iter.Answered = true;
  iter.Result = result;
  iter.Flags = result.Flags;
  iter.Rcode = result.Rcode();
  const std::vector<quovix::TIterServer> hints = quovix::ParseRootHints(
      ". 3600000 NS a.root.test.\na.root.test. 3600000 A 127.0.0.1\n");
  int queries = 0;
  const quovix::TIterResult walk = quovix::ResolveFromRoot(
      name, quovix::kTypeA, hints,
      [&](const std::string&, const std::string&, std::uint16_t) {
        ++queries;
        return iter;
      },
      {.MaxReferrals = 30, .MaxQueries = 100, .DeadlineMs = 5000});
  if (queries > 100 || walk.Referrals > 31) __builtin_trap();
  return 0;
}
