// Fuzz target of the DNS reply reader: any bytes as a reply to the query whose
// identifier the reply itself carries, so the reader gets past the
// identifier check and into the records (OPT, CAA, AAAA and every type with
// fields of its own, printed in presentation format); the CNAME
// walk over what was read; and the same bytes as a TCP stream of framed
// messages, each checked against a query's question and read.
#include <cstddef>
#include <cstdint>
#include <string>

#include "clients/DnsClient.h"

namespace {

// Touches every decoded field so a bad length or offset shows up here.
size_t Touch(const quovix::TQueryResult& result) {
  size_t total = 0;
  for (const auto& rec : result) {
    // An IPv6 address record holds exactly one address, at most 39 characters.
    if (rec.Kind == quovix::TRecordKind::AAAA && (rec.RDataLength != 16 || rec.IPAddress.size() > 39))
      __builtin_trap();
    total += rec.Name.size() + rec.RData.size() + rec.HostName.size() + rec.IPAddress.size() +
             rec.Primary.size() + rec.Responsible.size() + rec.CaaTag.size() +
             rec.CaaValue.size();
    for (const auto& t : rec.Text) total += t.size();
    // Presentation: at most a type bitmap's ten characters per bit, and the
    // record stands alone in wire form (names written out, within a record's
    // limits).
    const std::string text = quovix::RecordText(rec);
    if (text.size() > 80 * rec.RData.size() + 4 * rec.OwnerWire.size() + 64) __builtin_trap();
    if (rec.RData.size() > 65535 || rec.OwnerWire.empty() || rec.OwnerWire.size() > 255)
      __builtin_trap();
    total += text.size() / 80 + quovix::RecordWire(rec).size();
    // Decoding the data again from itself gives the same kind.
    quovix::TResultRecord again;
    again.TypeCode = rec.TypeCode;
    again.RData = rec.RData;
    quovix::DecodeRecordData(again);
    if (again.Kind != rec.Kind || quovix::RDataText(again) != quovix::RDataText(rec))
      __builtin_trap();
  }
  return total;
}

void Walk(const quovix::TQueryResult& result) {
  // From the question's name, and from the first record's owner, which a
  // chain in the reply may start at.
  std::string names[2] = {result.QName, result.Count() > 0 ? result[0].Name : std::string()};
  for (const std::string& name : names)
    for (std::uint16_t type : {quovix::kTypeA, quovix::kTypeAAAA, quovix::kTypeCNAME,
                               quovix::kTypeTXT, quovix::kTypeCAA})
      for (const quovix::TResultRecord* rec : quovix::AnswerRecords(result, name, type))
        if (rec->TypeCode != type) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  quovix::TIdDNSResolver resolver;
  const std::uint16_t id = size >= 2 ? static_cast<std::uint16_t>((data[0] << 8) | data[1]) : 0;
  try {
    resolver.ReadReply(data, size, id);
    if (Touch(resolver.QueryResult) > 64 * size + 65536) __builtin_trap();  // a runaway
    Walk(resolver.QueryResult);
  } catch (const quovix::EIdDnsResolverError&) {
  }

  // The bytes as a TCP stream, against a query with EDNS for example.org.
  quovix::TIdDNSResolver asker;
  asker.QueryType = {quovix::qtA};
  std::string stream(reinterpret_cast<const char*>(data), size);
  std::string message;
  size_t taken = 0;
  while (quovix::NextTcpMessage(stream, message)) {
    taken += 2 + message.size();
    if (taken > size) __builtin_trap();  // more taken off than there was
    const auto* bytes = reinterpret_cast<const unsigned char*>(message.data());
    try {
      const std::uint16_t mid =
          message.size() >= 2 ? static_cast<std::uint16_t>((bytes[0] << 8) | bytes[1]) : 0;
      const std::string query = asker.QueryMessage("example.org", 1, mid);
      if (quovix::ReplyMatchesQuery(bytes, message.size(), query)) {
        quovix::TIdDNSResolver reader;
        reader.ReadReply(bytes, message.size(), mid);
        Walk(reader.QueryResult);
      }
    } catch (const quovix::EIdDnsResolverError&) {
    }
  }
  return 0;
}
