// The walk from the root down. Replies are read by the DNS client's parser;
// the walk itself only compares names and counts, bounded at every level:
// referrals, queries, servers per zone, addresses per server, the depth of
// name resolutions on the way, and one deadline.
#include "clients/Iterative.h"

#include <algorithm>
#include <map>
#include <set>
#include <sstream>

#include "common/Deadline.h"
#include "common/IpAddress.h"
#include "common/fMain.h"

namespace quovix {

namespace {

constexpr size_t kMaxHintsBytes = 64 * 1024;
constexpr size_t kMaxServers = 13;    // per zone, as many as the root has
constexpr size_t kMaxAddresses = 4;   // per server
constexpr int kMaxDepth = 2;          // name resolutions inside name resolutions
constexpr int kMaxAliases = 8;

std::string Key(std::string name) {
  name = LowerAscii(std::move(name));
  while (!name.empty() && name.back() == '.') name.pop_back();
  return name.empty() ? "." : name;
}

// Whether name is zone or lies below it.
bool Under(const std::string& name, const std::string& zone) {
  if (zone == ".") return true;
  if (name == zone) return true;
  return name.size() > zone.size() && name.compare(name.size() - zone.size(), zone.size(), zone) == 0 &&
         name[name.size() - zone.size() - 1] == '.';
}

int Labels(const std::string& name) {
  return name == "." ? 0 : 1 + static_cast<int>(std::count(name.begin(), name.end(), '.'));
}

// IPv4 addresses first, then IPv6, each in the order given.
void AddAddress(TIterServer& s, const std::string& address) {
  const IpAddress a = IpAddress::Parse(address);
  if (a.Empty() || s.Addresses.size() >= kMaxAddresses) return;
  const std::string text = a.ToString();
  if (std::find(s.Addresses.begin(), s.Addresses.end(), text) != s.Addresses.end()) return;
  if (a.IsV4()) {
    auto firstV6 = std::find_if(s.Addresses.begin(), s.Addresses.end(),
                                [](const std::string& x) { return IpAddress::Parse(x).IsV6(); });
    s.Addresses.insert(firstV6, text);
  } else {
    s.Addresses.push_back(text);
  }
}

class Walker {
 public:
  Walker(const std::vector<TIterServer>& hints, const TIterAsk& ask, const TIterLimits& limits,
         TIterResult& r)
      : hints_(hints), ask_(ask), limits_(limits), r_(r),
        deadline_(Deadline::In(limits.DeadlineMs)) {}

  // Ends the walk with end unless it already has one.
  void End(TIterEnd end, const std::string& detail) {
    if (ended_) return;
    ended_ = true;
    r_.End = end;
    r_.Detail = detail;
  }
  bool Ended() const { return ended_; }

  // Resolves name; the answer's addresses (A and AAAA) go to out when given.
  // depth 0 is the walk the user asked for.
  void Resolve(std::string name, std::uint16_t type, int depth, std::vector<std::string>* out) {
    name = Key(name);
    std::vector<TIterServer> servers = hints_;
    std::string zone = ".";
    std::set<std::string> zonesSeen{"."};
    int aliases = 0;
    for (;;) {
      if (Ended()) return;
      bool moved = false;
      bool anyUseful = false;
      std::vector<TIterServer> next;
      std::string nextZone;
      for (size_t s = 0; s < servers.size() && s < kMaxServers && !moved; ++s) {
        TIterServer& server = servers[s];
        if (server.Addresses.empty()) ResolveServerName(server, zone, depth);
        if (Ended()) return;
        for (const std::string& address : server.Addresses) {
          if (!Budget()) return;
          ++r_.Queries;
          const TIterReply reply = ask_(address, name, type);
          TIterStep step;
          step.Zone = zone;
          step.Server = server.Name;
          step.Address = address;
          step.Ms = reply.Ms;
          step.Depth = depth;
          const bool aa = (reply.Flags & 0x0400) != 0;
          if (!reply.Answered) {
            step.Kind = TIterStepKind::Lame;
            step.Detail = reply.Failure;
            Push(step);
            continue;
          }
          if (reply.Rcode == 3 && aa) {
            step.Kind = TIterStepKind::NameError;
            Push(step);
            if (depth == 0) End(TIterEnd::NameError, name);
            return;
          }
          if (reply.Rcode != 0) {
            step.Kind = TIterStepKind::Lame;
            step.Detail = RcodeName(reply.Rcode);
            Push(step);
            continue;
          }
          // The records for the name: of the type asked, or an alias.
          std::vector<const TResultRecord*> answer;
          const TResultRecord* alias = nullptr;
          for (const TResultRecord& rec : reply.Result) {
            if (rec.Section != TRecordSection::Answer || Key(rec.Name) != name) continue;
            if (rec.TypeCode == type) answer.push_back(&rec);
            if (rec.TypeCode == kTypeCNAME && !alias) alias = &rec;
          }
          if ((!answer.empty() || alias) && aa) {
            step.Kind = TIterStepKind::Answer;
            for (const TResultRecord& rec : reply.Result)
              if (rec.Section == TRecordSection::Answer) step.Records.push_back(RecordText(rec));
            Push(step);
            CompareNs(zone, server, address, depth);
            if (!answer.empty() || !alias) {
              if (out)
                for (const TResultRecord* rec : answer) out->push_back(rec->IPAddress);
              if (depth == 0) End(TIterEnd::Answer, name);
              return;
            }
            // An alias: its target from the root again.
            if (++aliases > kMaxAliases) {
              End(TIterEnd::Loop, Key(alias->HostName));
              return;
            }
            name = Key(alias->HostName);
            servers = hints_;
            zone = ".";
            moved = true;
            break;
          }
          // A referral: NS records of a zone in the authority section.
          std::string referred;
          std::vector<std::string> nsNames;
          for (const TResultRecord& rec : reply.Result) {
            if (rec.Section != TRecordSection::Authority || rec.TypeCode != kTypeNS) continue;
            if (referred.empty()) referred = Key(rec.Name);
            if (Key(rec.Name) == referred && nsNames.size() < kMaxServers)
              nsNames.push_back(Key(rec.HostName));
          }
          if (!referred.empty() && !aa) {
            if (!Under(name, referred) || Labels(referred) <= Labels(zone) ||
                !Under(referred, zone)) {
              step.Kind = TIterStepKind::Lame;
              step.Detail = "upward:" + referred;
              Push(step);
              continue;
            }
            if (zonesSeen.count(referred)) {
              Push(step);
              End(TIterEnd::Loop, referred);
              return;
            }
            step.Kind = TIterStepKind::Referral;
            step.Detail = referred;
            step.Servers = nsNames;
            next.clear();
            for (const std::string& ns : nsNames) {
              TIterServer target{ns, {}};
              for (const TResultRecord& rec : reply.Result)
                if (rec.Section == TRecordSection::Additional && Key(rec.Name) == ns &&
                    (rec.TypeCode == kTypeA || rec.TypeCode == kTypeAAAA))
                  AddAddress(target, rec.IPAddress);
              for (const std::string& a : target.Addresses) step.Glue.push_back(ns + " " + a);
              next.push_back(std::move(target));
            }
            Push(step);
            if (++r_.Referrals > limits_.MaxReferrals) {
              End(TIterEnd::TooManyReferrals, referred);
              return;
            }
            parentNs_[referred] = nsNames;
            zonesSeen.insert(referred);
            nextZone = referred;
            moved = true;
            anyUseful = true;
            break;
          }
          if (aa) {
            step.Kind = TIterStepKind::NoData;
            Push(step);
            CompareNs(zone, server, address, depth);
            if (depth == 0) End(TIterEnd::NoData, name);
            return;
          }
          step.Kind = TIterStepKind::Lame;
          step.Detail = "not_authoritative";
          Push(step);
        }
      }
      if (Ended()) return;
      if (!moved) {
        if (depth == 0) End(TIterEnd::NoServer, zone);
        return;
      }
      if (anyUseful) {
        servers = std::move(next);
        zone = nextZone;
      } else {
        zonesSeen = {"."};
      }
    }
  }

 private:
  bool Budget() {
    if (r_.Queries >= limits_.MaxQueries) {
      End(TIterEnd::TooManyQueries, "");
      return false;
    }
    if (deadline_.Passed()) {
      End(TIterEnd::Deadline, "");
      return false;
    }
    return true;
  }

  void Push(const TIterStep& s) {
    if (r_.Steps.size() < 400) r_.Steps.push_back(s);
  }

  // A server named without glue: its addresses resolved from the root.
  void ResolveServerName(TIterServer& server, const std::string& zone, int depth) {
    if (depth >= kMaxDepth || resolving_.count(server.Name)) {
      TIterStep step{.Kind = TIterStepKind::Unresolved, .Zone = zone, .Server = server.Name};
      step.Detail = resolving_.count(server.Name) ? "loop" : "depth";
      step.Depth = depth + 1;
      Push(step);
      return;
    }
    resolving_.insert(server.Name);
    std::vector<std::string> found;
    for (std::uint16_t t : {kTypeA, kTypeAAAA}) Resolve(server.Name, t, depth + 1, &found);
    resolving_.erase(server.Name);
    for (const std::string& a : found) AddAddress(server, a);
    TIterStep step{.Kind = server.Addresses.empty() ? TIterStepKind::Unresolved
                                                    : TIterStepKind::Resolved,
                   .Zone = zone,
                   .Server = server.Name};
    step.Depth = depth + 1;
    for (const std::string& a : server.Addresses) step.Glue.push_back(server.Name + " " + a);
    Push(step);
  }

  // After a referral into zone, the first server of the zone that answers
  // with authority is asked for the zone's own NS set, to be held against
  // the parent's.
  void CompareNs(const std::string& zone, const TIterServer& server, const std::string& address,
                 int depth) {
    auto parent = parentNs_.find(zone);
    if (parent == parentNs_.end() || compared_.count(zone) || !Budget()) return;
    compared_.insert(zone);
    ++r_.Queries;
    const TIterReply reply = ask_(address, zone, kTypeNS);
    if (!reply.Answered || reply.Rcode != 0) return;
    std::set<std::string> child, fromParent(parent->second.begin(), parent->second.end());
    for (const TResultRecord& rec : reply.Result)
      if (rec.Section == TRecordSection::Answer && rec.TypeCode == kTypeNS && Key(rec.Name) == zone)
        child.insert(Key(rec.HostName));
    if (child.empty() || child == fromParent) return;
    TIterStep step{.Kind = TIterStepKind::NsDiffer, .Zone = zone, .Server = server.Name,
                   .Address = address};
    step.Servers.assign(fromParent.begin(), fromParent.end());
    step.Glue.assign(child.begin(), child.end());
    step.Ms = reply.Ms;
    step.Depth = depth;
    Push(step);
  }

  const std::vector<TIterServer>& hints_;
  const TIterAsk& ask_;
  TIterLimits limits_;
  TIterResult& r_;
  Deadline deadline_;
  bool ended_ = false;
  std::set<std::string> resolving_, compared_;
  std::map<std::string, std::vector<std::string>> parentNs_;
};

}  // namespace

std::vector<TIterServer> ParseRootHints(const std::string& text) {
  std::vector<TIterServer> servers;
  std::vector<std::pair<std::string, std::string>> addresses;
  std::istringstream in(text.substr(0, kMaxHintsBytes));
  for (std::string line; std::getline(in, line);) {
    if (const size_t c = line.find(';'); c != std::string::npos) line.erase(c);
    std::istringstream words(line);
    std::vector<std::string> w;
    for (std::string x; words >> x && w.size() < 6;) w.push_back(x);
    // owner [TTL] [IN] TYPE value
    size_t t = 1;
    while (t < w.size() && (std::all_of(w[t].begin(), w[t].end(), ::isdigit) ||
                            UpperAscii(w[t]) == "IN"))
      ++t;
    if (t + 1 >= w.size()) continue;
    const std::string type = UpperAscii(w[t]);
    if (type == "NS" && Key(w[0]) == "." && servers.size() < kMaxServers)
      servers.push_back({Key(w[t + 1]), {}});
    else if (type == "A" || type == "AAAA")
      addresses.emplace_back(Key(w[0]), w[t + 1]);
  }
  for (TIterServer& s : servers)
    for (const auto& [name, address] : addresses)
      if (name == s.Name) AddAddress(s, address);
  std::erase_if(servers, [](const TIterServer& s) { return s.Addresses.empty(); });
  return servers;
}

TIterResult ResolveFromRoot(const std::string& name, std::uint16_t type,
                            const std::vector<TIterServer>& hints, const TIterAsk& ask,
                            const TIterLimits& limits) {
  TIterResult r;
  if (hints.empty()) {
    r.End = TIterEnd::NoHints;
    return r;
  }
  Walker walker(hints, ask, limits, r);
  walker.Resolve(name, type, 0, nullptr);
  walker.End(TIterEnd::NoServer, ".");
  return r;
}

}  // namespace quovix
