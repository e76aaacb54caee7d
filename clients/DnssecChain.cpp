// The chain walk: which names are zone cuts, what each link holds, where the
// chain breaks. Every reply is read by ldns from untrusted bytes; the walk is
// bounded by its query count, and by the number of records it looks at in
// one reply.
#include "clients/DnssecChain.h"

#include <ldns/ldns.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "clients/DnsClient.h"
#include "common/fMain.h"

namespace quovix {

namespace {

constexpr size_t kMaxAnchorBytes = 64 * 1024;
// A DNSKEY or DS set of more than this many records is cut for the check;
// real zones have a handful.
constexpr size_t kMaxRecords = 64;
constexpr int kMaxLabels = 127;

struct PktFree {
  void operator()(ldns_pkt* p) const { ldns_pkt_free(p); }
};
using Pkt = std::unique_ptr<ldns_pkt, PktFree>;
struct RrFree {
  void operator()(ldns_rr* r) const { ldns_rr_free(r); }
};
using Rr = std::unique_ptr<ldns_rr, RrFree>;
struct RdfFree {
  void operator()(ldns_rdf* r) const { ldns_rdf_deep_free(r); }
};
using Rdf = std::unique_ptr<ldns_rdf, RdfFree>;

// A list of records that belong to someone else (a packet, an owning list).
class View {
 public:
  View() : list_(ldns_rr_list_new()) {}
  ~View() { ldns_rr_list_free(list_); }
  View(const View&) = delete;
  View& operator=(const View&) = delete;
  void Push(ldns_rr* rr) {
    if (Size() < kMaxRecords) ldns_rr_list_push_rr(list_, rr);
  }
  size_t Size() const { return ldns_rr_list_rr_count(list_); }
  ldns_rr* At(size_t i) const { return ldns_rr_list_rr(list_, i); }
  ldns_rr_list* get() const { return list_; }

 private:
  ldns_rr_list* list_;
};

// Records the walk owns (the trust anchor, copies of validated key sets).
class Owned {
 public:
  Owned() : list_(ldns_rr_list_new()) {}
  ~Owned() { ldns_rr_list_deep_free(list_); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  void Take(ldns_rr* rr) { ldns_rr_list_push_rr(list_, rr); }
  void CopyFrom(const View& v) {
    for (size_t i = 0; i < v.Size(); ++i) Take(ldns_rr_clone(v.At(i)));
  }
  size_t Size() const { return ldns_rr_list_rr_count(list_); }
  ldns_rr* At(size_t i) const { return ldns_rr_list_rr(list_, i); }
  ldns_rr_list* get() const { return list_; }

 private:
  ldns_rr_list* list_;
};

std::string Str(char* s) {
  if (!s) return {};
  std::string out(s);
  std::free(s);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}
std::string RdfText(const ldns_rdf* rdf) { return rdf ? Str(ldns_rdf2str(rdf)) : std::string(); }
// A record in presentation form on one line, its fields apart by blanks.
std::string RrText(const ldns_rr* rr) {
  std::string text = Str(ldns_rr2str(rr));
  std::replace(text.begin(), text.end(), '\t', ' ');
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// A name as shown: without the final dot, the root as ".".
std::string ZoneText(std::string name) {
  if (name.size() > 1 && name.back() == '.') name.pop_back();
  return name;
}

Rdf Dname(const std::string& name) { return Rdf(ldns_dname_new_frm_str(name.c_str())); }

bool SameName(const ldns_rdf* a, const ldns_rdf* b) {
  return a && b && ldns_dname_compare(a, b) == 0;
}

std::uint16_t U16(const ldns_rdf* r) {
  return r && ldns_rdf_size(r) == 2 ? ldns_rdf2native_int16(r) : 0;
}
std::uint8_t U8(const ldns_rdf* r) { return r && ldns_rdf_size(r) == 1 ? ldns_rdf2native_int8(r) : 0; }

// The records of a section owned by name, of a type (RRSIGs: covering it).
void Select(const ldns_rr_list* section, const ldns_rdf* owner, ldns_rr_type type, bool sigs,
            View& out) {
  for (size_t i = 0; i < ldns_rr_list_rr_count(section); ++i) {
    ldns_rr* rr = ldns_rr_list_rr(section, i);
    if (ldns_rr_get_class(rr) != LDNS_RR_CLASS_IN) continue;
    if (owner && !SameName(ldns_rr_owner(rr), owner)) continue;
    if (sigs) {
      if (ldns_rr_get_type(rr) != LDNS_RR_TYPE_RRSIG || ldns_rr_rd_count(rr) < 9) continue;
      if (ldns_rdf2rr_type(ldns_rr_rrsig_typecovered(rr)) != type) continue;
    } else if (ldns_rr_get_type(rr) != type) {
      continue;
    }
    out.Push(rr);
  }
}

TChainSig SigInfo(const ldns_rr* sig) {
  TChainSig s;
  s.Covered = static_cast<std::uint16_t>(ldns_rdf2rr_type(ldns_rr_rrsig_typecovered(sig)));
  s.Signer = ZoneText(RdfText(ldns_rr_rrsig_signame(sig)));
  s.KeyTag = U16(ldns_rr_rrsig_keytag(sig));
  s.Algorithm = U8(ldns_rr_rrsig_algorithm(sig));
  s.Inception = static_cast<std::int64_t>(ldns_rdf2native_time_t(ldns_rr_rrsig_inception(sig)));
  s.Expiration = static_cast<std::int64_t>(ldns_rdf2native_time_t(ldns_rr_rrsig_expiration(sig)));
  return s;
}

bool AlgorithmSupported(std::uint8_t a) {
  switch (a) {
    case 5: case 7: case 8: case 10: case 13: case 14: case 15: case 16: return true;
    default: return false;
  }
}

TChainFault StateOf(ldns_status status) {
  switch (status) {
    case LDNS_STATUS_OK: return TChainFault::None;
    case LDNS_STATUS_CRYPTO_SIG_EXPIRED: return TChainFault::SigExpired;
    case LDNS_STATUS_CRYPTO_SIG_NOT_INCEPTED: return TChainFault::SigNotYetValid;
    case LDNS_STATUS_CRYPTO_UNKNOWN_ALGO:
    case LDNS_STATUS_CRYPTO_ALGO_NOT_IMPL: return TChainFault::Unsupported;
    default: return TChainFault::SigInvalid;
  }
}

// Checks each signature over rrset with the keys of the set whose tag and
// algorithm it names; trusted limits which keys count for the verdict.
// Returns None when one signature by a counted key verifies, else the
// most telling fault.
TChainFault CheckSigs(const View& rrset, const View& sigs, const ldns_rr_list* keys,
                      const std::vector<bool>* trusted, std::int64_t now,
                      std::vector<TChainSig>& out) {
  TChainFault best = TChainFault::NoSignature;
  auto rank = [](TChainFault f) {
    switch (f) {
      case TChainFault::None: return 0;
      case TChainFault::SigExpired: return 1;
      case TChainFault::SigNotYetValid: return 2;
      case TChainFault::SigInvalid: return 3;
      case TChainFault::Unsupported: return 4;
      default: return 5;
    }
  };
  for (size_t i = 0; i < sigs.Size(); ++i) {
    ldns_rr* sig = sigs.At(i);
    TChainSig info = SigInfo(sig);
    info.State = TChainFault::NoDnskey;
    bool counted = false;
    for (size_t k = 0; keys && k < ldns_rr_list_rr_count(keys) && k < kMaxRecords; ++k) {
      ldns_rr* key = ldns_rr_list_rr(keys, k);
      if (ldns_calc_keytag(key) != info.KeyTag ||
          U8(ldns_rr_dnskey_algorithm(key)) != info.Algorithm)
        continue;
      const TChainFault state = StateOf(
          ldns_verify_rrsig_time(rrset.get(), sig, key, static_cast<time_t>(now)));
      if (info.State == TChainFault::NoDnskey || rank(state) < rank(info.State)) {
        info.State = state;
        counted = !trusted || (k < trusted->size() && (*trusted)[k]);
      }
      if (state == TChainFault::None) break;
    }
    if (counted && rank(info.State) < rank(best)) best = info.State;
    out.push_back(info);
  }
  return best;
}

// Whether an NSEC or NSEC3 type bitmap lists the type.
bool Covers(const ldns_rdf* bitmap, ldns_rr_type type) {
  return bitmap && ldns_nsec_bitmap_covers_type(bitmap, type);
}

struct Reply {
  Pkt pkt;
  std::string failure;
};

class Walk {
 public:
  Walk(const TChainAsk& ask, std::int64_t now, int maxQueries, TChainResult& result)
      : ask_(ask), now_(now), maxQueries_(maxQueries), r_(result) {}

  // A reply to the question, or false with the result's verdict set.
  bool Ask(const std::string& name, std::uint16_t type, Reply& out) {
    if (r_.Queries >= maxQueries_) {
      Fail(TChainVerdict::Indeterminate, TChainFault::TooManyQueries, "", ZoneText(name));
      return false;
    }
    ++r_.Queries;
    const TChainReply reply = ask_(name, type);
    if (!reply.Answered) {
      Fail(TChainVerdict::Indeterminate, TChainFault::NoAnswer, reply.Failure, ZoneText(name));
      return false;
    }
    // The records as ldns reads them, in a packet of their sections.
    out.pkt.reset(ldns_pkt_new());
    ldns_pkt* pkt = out.pkt.get();
    if (!pkt) {
      Fail(TChainVerdict::Indeterminate, TChainFault::NoAnswer, "memory", ZoneText(name));
      return false;
    }
    ldns_pkt_set_rcode(pkt, static_cast<uint8_t>(reply.Rcode & 0x0F));
    for (const auto& [records, section] :
         {std::pair{&reply.Answer, LDNS_SECTION_ANSWER},
          std::pair{&reply.Authority, LDNS_SECTION_AUTHORITY}}) {
      size_t taken = 0;
      for (const std::string& wire : *records) {
        if (++taken > 4 * kMaxRecords) break;
        size_t pos = 0;
        ldns_rr* rr = nullptr;
        if (ldns_wire2rr(&rr, reinterpret_cast<const uint8_t*>(wire.data()), wire.size(), &pos,
                         section) != LDNS_STATUS_OK ||
            !rr) {
          Fail(TChainVerdict::Indeterminate, TChainFault::NoAnswer, "malformed", ZoneText(name));
          return false;
        }
        ldns_pkt_push_rr(pkt, section, rr);
      }
    }
    const int rcode = reply.Rcode;
    if (rcode != 0 && rcode != 3) {
      Fail(TChainVerdict::Indeterminate, TChainFault::NoAnswer, RcodeName(rcode), ZoneText(name));
      return false;
    }
    return true;
  }

  void Fail(TChainVerdict v, TChainFault f, const std::string& detail, const std::string& zone) {
    if (r_.Verdict != TChainVerdict::Secure) return;  // the first word stands
    r_.Verdict = v;
    r_.Fault = f;
    r_.Detail = detail;
    r_.AtZone = zone;
  }

  // The zone's DNSKEY set checked against the DS records trusted for it;
  // on success keys_ holds the set.
  bool CheckZone(const std::string& zone, const Owned& ds, TChainZone& link) {
    for (size_t i = 0; i < ds.Size(); ++i) {
      TChainDs d;
      const ldns_rr* rr = ds.At(i);
      d.KeyTag = U16(ldns_rr_rdf(rr, 0));
      d.Algorithm = U8(ldns_rr_rdf(rr, 1));
      d.DigestType = U8(ldns_rr_rdf(rr, 2));
      link.Ds.push_back(d);
    }
    Reply reply;
    if (!Ask(zone, kTypeDNSKEY, reply)) return Broke(link);
    const Rdf owner = Dname(zone);
    View keys, sigs;
    Select(ldns_pkt_answer(reply.pkt.get()), owner.get(), LDNS_RR_TYPE_DNSKEY, false, keys);
    Select(ldns_pkt_answer(reply.pkt.get()), owner.get(), LDNS_RR_TYPE_DNSKEY, true, sigs);
    if (keys.Size() == 0) {
      link.Fault = TChainFault::NoDnskey;
      Fail(TChainVerdict::Bogus, link.Fault, "", ZoneText(zone));
      return false;
    }
    std::vector<bool> trusted(keys.Size(), false);
    // A DS of a digest type without a check counts as absent (RFC 4035, 5.2).
    auto digestKnown = [](std::uint8_t t) { return t == 1 || t == 2 || t == 4; };
    const bool anyDigest = std::any_of(link.Ds.begin(), link.Ds.end(), [&](const TChainDs& d) {
      return digestKnown(d.DigestType);
    });
    std::vector<std::uint8_t> trustedAlgorithms;
    for (size_t k = 0; k < keys.Size(); ++k) {
      ldns_rr* key = keys.At(k);
      TChainKey info;
      info.KeyTag = ldns_calc_keytag(key);
      info.Flags = U16(ldns_rr_dnskey_flags(key));
      info.Algorithm = U8(ldns_rr_dnskey_algorithm(key));
      info.Bits = ldns_rr_dnskey_key_size(key);
      // Only a zone key may sign the zone (RFC 4034, bit 7 of the flags).
      for (size_t i = 0; i < ds.Size() && (info.Flags & 0x0100); ++i) {
        if (!digestKnown(link.Ds[i].DigestType)) continue;
        if (link.Ds[i].KeyTag == info.KeyTag && link.Ds[i].Algorithm == info.Algorithm &&
            ldns_rr_compare_ds(ds.At(i), key)) {
          link.Ds[i].Matches = true;
          info.MatchesDs = true;
        }
      }
      trusted[k] = info.MatchesDs;
      if (info.MatchesDs) trustedAlgorithms.push_back(info.Algorithm);
      link.Keys.push_back(info);
    }
    const TChainFault sigFault =
        CheckSigs(keys, sigs, keys.get(), &trusted, now_, link.KeySigs);
    if (!anyDigest) {
      link.Fault = TChainFault::Unsupported;
      link.Detail = "DS digest " + std::to_string(link.Ds.empty() ? 0 : link.Ds[0].DigestType);
      Fail(TChainVerdict::Indeterminate, link.Fault, link.Detail, ZoneText(zone));
      return false;
    }
    if (trustedAlgorithms.empty()) {
      link.Fault = TChainFault::DsNoKey;
      Fail(TChainVerdict::Bogus, link.Fault, "", ZoneText(zone));
      return false;
    }
    if (std::all_of(trustedAlgorithms.begin(), trustedAlgorithms.end(), AlgorithmDeprecated)) {
      link.Fault = TChainFault::Deprecated;
      link.Detail = AlgorithmName(trustedAlgorithms.front());
      Fail(TChainVerdict::Bogus, link.Fault, link.Detail, ZoneText(zone));
      return false;
    }
    if (std::none_of(trustedAlgorithms.begin(), trustedAlgorithms.end(), AlgorithmSupported)) {
      link.Fault = TChainFault::Unsupported;
      link.Detail = AlgorithmName(trustedAlgorithms.front());
      Fail(TChainVerdict::Indeterminate, link.Fault, link.Detail, ZoneText(zone));
      return false;
    }
    if (sigFault != TChainFault::None) {
      link.Fault = sigFault;
      Fail(sigFault == TChainFault::Unsupported ? TChainVerdict::Indeterminate
                                                : TChainVerdict::Bogus,
           link.Fault, "", ZoneText(zone));
      return false;
    }
    keys_ = std::make_unique<Owned>();
    keys_->CopyFrom(keys);
    zone_ = zone;
    return true;
  }

  bool Broke(TChainZone& link) {
    link.Fault = r_.Fault;
    link.Detail = r_.Detail;
    return false;
  }

  // The records of a reply's authority section that deny a type at name:
  // the NSEC at the name, or the NSEC3 that ldns finds to match or cover
  // it; their signatures checked with the zone's keys. False: no proof.
  bool Denial(const Reply& reply, const std::string& name, ldns_rr_type type, bool nxdomain,
              std::string& proof, std::vector<TChainSig>& sigs, TChainFault& sigFault,
              bool* delegation) {
    const ldns_rr_list* auth = ldns_pkt_authority(reply.pkt.get());
    const Rdf owner = Dname(name);
    Rr question(ldns_rr_new_frm_type(type));
    if (!question || !owner) return false;
    ldns_rr_set_owner(question.get(), ldns_rdf_clone(owner.get()));
    View nsecs, nsec3s, allSigs;
    Select(auth, nullptr, LDNS_RR_TYPE_NSEC, false, nsecs);
    Select(auth, nullptr, LDNS_RR_TYPE_NSEC3, false, nsec3s);
    ldns_rr* match = nullptr;
    if (nsecs.Size() > 0) {
      if (nxdomain) {
        Select(auth, nullptr, LDNS_RR_TYPE_NSEC, true, allSigs);
        if (ldns_dnssec_verify_denial(question.get(), nsecs.get(), allSigs.get()) ==
            LDNS_STATUS_OK)
          match = nsecs.At(0);
      } else {
        for (size_t i = 0; i < nsecs.Size() && !match; ++i) {
          ldns_rr* nsec = nsecs.At(i);
          const ldns_rdf* bitmap = ldns_nsec_get_bitmap(nsec);
          if (SameName(ldns_rr_owner(nsec), owner.get()) && !Covers(bitmap, type) &&
              !Covers(bitmap, LDNS_RR_TYPE_CNAME))
            match = nsec;
        }
      }
    } else if (nsec3s.Size() > 0) {
      Select(auth, nullptr, LDNS_RR_TYPE_NSEC3, true, allSigs);
      if (ldns_dnssec_verify_denial_nsec3_match(
              question.get(), nsec3s.get(), allSigs.get(),
              nxdomain ? LDNS_RCODE_NXDOMAIN : LDNS_RCODE_NOERROR, type, !nxdomain,
              &match) != LDNS_STATUS_OK)
        match = nullptr;
    }
    if (!match) return false;
    proof = RrText(match);
    if (delegation) {
      const ldns_rdf* bitmap = ldns_rr_get_type(match) == LDNS_RR_TYPE_NSEC
                                   ? ldns_nsec_get_bitmap(match)
                                   : ldns_nsec3_bitmap(match);
      const bool exact = SameName(ldns_rr_owner(match), owner.get());
      *delegation = (exact && Covers(bitmap, LDNS_RR_TYPE_NS) && !Covers(bitmap, LDNS_RR_TYPE_SOA)) ||
                    (ldns_rr_get_type(match) == LDNS_RR_TYPE_NSEC3 &&
                     (Covers(bitmap, LDNS_RR_TYPE_NS) || ldns_nsec3_optout(match)));
    }
    View set, setSigs;
    Select(auth, ldns_rr_owner(match), ldns_rr_get_type(match), false, set);
    Select(auth, ldns_rr_owner(match), ldns_rr_get_type(match), true, setSigs);
    sigFault = CheckSigs(set, setSigs, keys_ ? keys_->get() : nullptr, nullptr, now_, sigs);
    return true;
  }

  // The DS records of a zone cut, checked with the parent's keys, into ds;
  // false when the chain ends here (unsigned, broken or not to be asked).
  bool ParentDs(const std::string& zone, Owned& ds, TChainZone& link) {
    Reply reply;
    if (!Ask(zone, kTypeDS, reply)) return Broke(link);
    const Rdf owner = Dname(zone);
    View set, sigs;
    Select(ldns_pkt_answer(reply.pkt.get()), owner.get(), LDNS_RR_TYPE_DS, false, set);
    Select(ldns_pkt_answer(reply.pkt.get()), owner.get(), LDNS_RR_TYPE_DS, true, sigs);
    if (set.Size() > 0) {
      const TChainFault f = CheckSigs(set, sigs, keys_->get(), nullptr, now_, link.DsSigs);
      if (f != TChainFault::None) {
        // The parent signed the DS records: its link breaks.
        link.Fault = f;
        Fail(TChainVerdict::Bogus, f, "", ZoneText(zone_));
        return false;
      }
      ds.CopyFrom(set);
      return true;
    }
    TChainFault sigFault = TChainFault::None;
    bool delegation = false;
    if (!Denial(reply, zone, LDNS_RR_TYPE_DS, false, link.Proof, link.DsSigs, sigFault,
                &delegation) ||
        !delegation) {
      link.Fault = TChainFault::NoDsProof;
      Fail(TChainVerdict::Bogus, link.Fault, "", ZoneText(zone));
      return false;
    }
    if (sigFault != TChainFault::None) {
      link.Fault = sigFault;
      Fail(TChainVerdict::Bogus, sigFault, "", ZoneText(zone_));
      return false;
    }
    link.Unsigned = true;
    Fail(TChainVerdict::Insecure, TChainFault::None, "", ZoneText(zone));
    return false;
  }

  // The answer to name (its address records, or the proof there are none),
  // checked with the keys of the last zone when the chain holds.
  void Answer(const std::string& name) {
    TChainAnswer& a = r_.Answer;
    a.Asked = true;
    a.Name = ZoneText(name);
    a.Type = 1;
    const bool check = r_.Verdict == TChainVerdict::Secure;
    Reply reply;
    if (!Ask(name, a.Type, reply)) {
      a.Fault = r_.Fault;
      a.Detail = r_.Detail;
      return;
    }
    a.Rcode = ldns_pkt_get_rcode(reply.pkt.get());
    const Rdf owner = Dname(name);
    View set, sigs;
    const ldns_rr_list* answer = ldns_pkt_answer(reply.pkt.get());
    ldns_rr_type type = LDNS_RR_TYPE_A;
    Select(answer, owner.get(), type, false, set);
    if (set.Size() == 0) {
      type = LDNS_RR_TYPE_CNAME;
      Select(answer, owner.get(), type, false, set);
    }
    for (size_t i = 0; i < set.Size(); ++i) a.Records.push_back(RrText(set.At(i)));
    if (!check) return;
    TChainFault f = TChainFault::None;
    if (set.Size() > 0) {
      Select(answer, owner.get(), type, true, sigs);
      f = CheckSigs(set, sigs, keys_->get(), nullptr, now_, a.Sigs);
    } else {
      const bool nx = a.Rcode == LDNS_RCODE_NXDOMAIN;
      if (!Denial(reply, name, LDNS_RR_TYPE_A, nx, a.Proof, a.Sigs, f, nullptr))
        f = nx ? TChainFault::NameMissing : TChainFault::NoSignature;
    }
    if (f != TChainFault::None) {
      a.Fault = f;
      Fail(f == TChainFault::Unsupported ? TChainVerdict::Indeterminate : TChainVerdict::Bogus, f,
           "", ZoneText(zone_));
    }
  }

  std::unique_ptr<Owned> keys_;  // the DNSKEY set of the last zone checked
  std::string zone_;

 private:
  const TChainAsk& ask_;
  std::int64_t now_;
  int maxQueries_;
  TChainResult& r_;
};

// The absolute lower-case name and its suffixes from the root down.
std::vector<std::string> Suffixes(std::string name) {
  name = LowerAscii(name);
  while (!name.empty() && name.back() == '.') name.pop_back();
  std::vector<std::string> labels;
  size_t start = 0;
  while (start < name.size() && static_cast<int>(labels.size()) < kMaxLabels) {
    size_t dot = name.find('.', start);
    if (dot == std::string::npos) dot = name.size();
    labels.push_back(name.substr(start, dot - start));
    start = dot + 1;
  }
  std::vector<std::string> out{"."};
  std::string suffix = ".";
  for (auto it = labels.rbegin(); it != labels.rend(); ++it) {
    suffix = *it + (suffix == "." ? "." : "." + suffix);
    out.push_back(suffix);
  }
  return out;
}

}  // namespace

std::string AlgorithmName(std::uint8_t algorithm) {
  switch (algorithm) {
    case 1: return "RSA/MD5";
    case 3: return "DSA/SHA-1";
    case 5: return "RSA/SHA-1";
    case 6: return "DSA-NSEC3-SHA1";
    case 7: return "RSA/SHA-1 (NSEC3)";
    case 12: return "GOST R 34.10-2001";
    default: break;
  }
  if (const ldns_lookup_table* t = ldns_lookup_by_id(ldns_algorithms, algorithm); t && t->name)
    return t->name;
  return std::to_string(algorithm);
}

bool AlgorithmDeprecated(std::uint8_t algorithm) {
  switch (algorithm) {
    case 1: case 3: case 5: case 6: case 7: case 12: return true;
    default: return false;
  }
}

TTrustAnchor ParseTrustAnchor(const std::string& text) {
  TTrustAnchor anchor;
  const std::string head = text.substr(0, kMaxAnchorBytes);
  size_t start = 0;
  while (start < head.size() && anchor.Records.size() < kMaxRecords) {
    size_t end = head.find('\n', start);
    if (end == std::string::npos) end = head.size();
    std::string line = Trim(head.substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';') continue;
    ldns_rr* rr = nullptr;
    if (ldns_rr_new_frm_str(&rr, line.c_str(), 3600, nullptr, nullptr) != LDNS_STATUS_OK || !rr)
      continue;
    Rr owned(rr);
    const Rdf root = Dname(".");
    const ldns_rr_type type = ldns_rr_get_type(rr);
    if ((type == LDNS_RR_TYPE_DNSKEY || type == LDNS_RR_TYPE_DS) &&
        SameName(ldns_rr_owner(rr), root.get()))
      anchor.Records.push_back(RrText(rr));
  }
  return anchor;
}

TChainResult WalkChain(const std::string& name, const TTrustAnchor& anchor, const TChainAsk& ask,
                       std::int64_t now, int maxQueries) {
  TChainResult r;
  r.Verdict = TChainVerdict::Secure;
  Walk walk(ask, now, maxQueries, r);

  // The anchor as DS records: a key given as itself stands for its digest.
  Owned ds;
  for (const std::string& text : anchor.Records) {
    ldns_rr* rr = nullptr;
    if (ldns_rr_new_frm_str(&rr, text.c_str(), 3600, nullptr, nullptr) != LDNS_STATUS_OK || !rr)
      continue;
    if (ldns_rr_get_type(rr) == LDNS_RR_TYPE_DNSKEY) {
      ldns_rr* digest = ldns_key_rr2ds(rr, LDNS_SHA256);
      ldns_rr_free(rr);
      rr = digest;
    }
    if (rr) ds.Take(rr);
  }
  if (ds.Size() == 0) {
    walk.Fail(TChainVerdict::Indeterminate, TChainFault::NoAnchor, "", ".");
    return r;
  }

  const std::vector<std::string> names = Suffixes(name);
  r.Zones.push_back({.Zone = ".", .FromAnchor = true});
  if (!walk.CheckZone(".", ds, r.Zones.back())) return r;
  for (size_t i = 1; i < names.size(); ++i) {
    const std::string& candidate = names[i];
    // A zone cut has its own SOA record.
    Reply reply;
    if (!walk.Ask(candidate, kTypeSOA, reply)) return r;
    if (ldns_pkt_get_rcode(reply.pkt.get()) == LDNS_RCODE_NXDOMAIN) break;
    View soa;
    const Rdf owner = Dname(candidate);
    Select(ldns_pkt_answer(reply.pkt.get()), owner.get(), LDNS_RR_TYPE_SOA, false, soa);
    if (soa.Size() == 0) continue;
    TChainZone link;
    link.Zone = ZoneText(candidate);
    Owned zoneDs;
    const bool signedCut = walk.ParentDs(candidate, zoneDs, link);
    const bool holds = signedCut && walk.CheckZone(candidate, zoneDs, link);
    r.Zones.push_back(std::move(link));
    if (!holds) break;
  }
  if (r.Verdict == TChainVerdict::Secure || r.Verdict == TChainVerdict::Insecure)
    walk.Answer(names.back());
  return r;
}

}  // namespace quovix
