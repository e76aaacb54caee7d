// The mail policy checks' view of DNS: the configured resolver behind the
// sender-policy seam, each query bounded by the resolver's waiting time and
// by one deadline for the whole check.
#pragma once

#include <functional>
#include <string>

#include "clients/DnsClient.h"
#include "clients/Spf.h"
#include "common/Deadline.h"

namespace quovix {

class TResolverPolicyDns : public spf::IDns {
 public:
  // The resolver's server, port and waiting time are used as set; its query
  // type and result are overwritten by each query. aborted, when set, is
  // asked before each query: true makes every further query a failure.
  TResolverPolicyDns(TIdDNSResolver& resolver, Deadline deadline, std::function<bool()> aborted = {})
      : resolver_(resolver), deadline_(deadline), aborted_(std::move(aborted)) {}
  spf::DnsAnswer Query(const std::string& name, std::uint16_t type) override;
  int Queries() const { return queries_; }

 private:
  TIdDNSResolver& resolver_;
  Deadline deadline_;
  std::function<bool()> aborted_;
  int queries_ = 0;
};

}  // namespace quovix
