#include "clients/MailPolicy.h"

#include <algorithm>
#include <exception>

namespace quovix {

spf::DnsAnswer TResolverPolicyDns::Query(const std::string& name, std::uint16_t type) {
  if ((aborted_ && aborted_()) || deadline_.Passed()) return {spf::DnsStatus::Failed, {}};
  TQueryRecordType qt = qtTXT;
  switch (type) {
    case spf::kA: qt = qtA; break;
    case spf::kAaaa: qt = qtAAAA; break;
    case spf::kMx: qt = qtMX; break;
    case spf::kPtr: qt = qtPTR; break;
    default: qt = qtTXT; break;
  }
  ++queries_;
  const int configured = resolver_.WaitingTime;
  resolver_.WaitingTime = std::max(1, std::min(configured, deadline_.LeftMs()));
  resolver_.QueryType = {qt};
  resolver_.QueryResult.Clear();
  spf::DnsAnswer out;
  try {
    resolver_.SendQuery(name, 1);
  } catch (const EIdDnsResolverError& e) {
    resolver_.WaitingTime = configured;
    // A name error is an answer; every other failure leaves the question open.
    return {e.Kind == TDnsFailure::ServerCode && e.Rcode == 3 ? spf::DnsStatus::NoName : spf::DnsStatus::Failed,
            {}};
  } catch (const std::exception&) {
    resolver_.WaitingTime = configured;
    return {spf::DnsStatus::Failed, {}};
  }
  resolver_.WaitingTime = configured;
  if (!resolver_.LastExchange().Answered) return {spf::DnsStatus::Failed, {}};
  // A reverse name is asked as it is; PtrQueryName leaves names under
  // in-addr.arpa and ip6.arpa alone.
  for (const TResultRecord* r : AnswerRecords(resolver_.QueryResult, name, type)) {
    switch (r->Kind) {
      case TRecordKind::Text:
        for (const std::string& t : r->Text) out.Values.push_back(t);
        if (r->Text.empty()) out.Values.emplace_back();
        break;
      case TRecordKind::A:
      case TRecordKind::AAAA: out.Values.push_back(r->IPAddress); break;
      case TRecordKind::MX:
      case TRecordKind::PTR: out.Values.push_back(r->HostName); break;
      default: break;
    }
  }
  return out;
}

}  // namespace quovix
