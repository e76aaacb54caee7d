// The DNSSEC check of the DNS tool: the verdict first, then each zone of the
// chain from the trust anchor down and the answer's signatures.
#include "tools/fDnsChain.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <cerrno>
#include <unistd.h>

#include "app/formMain.h"
#include "common/DateTime.h"
#include "common/Pump.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"

namespace quovix {

namespace {

constexpr size_t kMaxAnchorBytes = 64 * 1024;
// The whole walk: a name of many labels asks three times per zone cut.
constexpr int kMaxChainQueries = 60;

// Server text (records in presentation form, names) never carries a
// control character to the pane.
std::string Shown(const std::string& s) {
  std::string out;
  for (unsigned char c : s) out += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
  return out;
}

// The head of a regular file (a FIFO or folder in its place reads as
// nothing, without waiting); empty when it cannot be read.
std::string ReadHead(const std::string& path, size_t max) {
  const int fd = OpenRegularFile(path);
  if (fd < 0) return {};
  std::string out;
  char buf[4096];
  while (out.size() < max) {
    const ssize_t n = ::read(fd, buf, std::min(sizeof buf, max - out.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return out;
}

// Beside the program when there is a regular file of that name, else the
// system's.
std::string BesideOrSystem(const std::string& name, const std::string& system) {
  const std::string beside = ProgramFolder + name;
  const int fd = OpenRegularFile(beside);
  if (fd < 0) return system;
  ::close(fd);
  return beside;
}

const char* FaultCode(TChainFault f) {
  switch (f) {
    case TChainFault::None: return "";
    case TChainFault::NoAnchor: return "no_anchor";
    case TChainFault::NoAnswer: return "no_answer";
    case TChainFault::NoDnskey: return "no_dnskey";
    case TChainFault::DsNoKey: return "ds_matches_no_key";
    case TChainFault::NoSignature: return "no_signature";
    case TChainFault::SigExpired: return "signature_expired";
    case TChainFault::SigNotYetValid: return "signature_not_yet_valid";
    case TChainFault::SigInvalid: return "signature_invalid";
    case TChainFault::Deprecated: return "deprecated_algorithm";
    case TChainFault::Unsupported: return "unsupported_algorithm";
    case TChainFault::NoDsProof: return "no_ds_proof";
    case TChainFault::NameMissing: return "name_missing";
    case TChainFault::TooManyQueries: return "too_many_queries";
  }
  return "";
}

std::string FaultText(TChainFault f, const std::string& detail) {
  switch (f) {
    case TChainFault::None: return {};
    case TChainFault::NoAnchor:
      return LangText("Main|OutDnssecNoAnchor", "kein Vertrauensanker in %s1%", {detail});
    case TChainFault::NoAnswer:
      return LangText("Main|OutDnssecNoAnswer", "keine Antwort (%s1%)", {detail});
    case TChainFault::NoDnskey: return LangText("Main|OutDnssecNoDnskey", "kein DNSKEY");
    case TChainFault::DsNoKey:
      return LangText("Main|OutDnssecDsNoKey", "kein DNSKEY passt zum DS-Digest");
    case TChainFault::NoSignature: return LangText("Main|OutDnssecNoSig", "keine Signatur");
    case TChainFault::SigExpired:
      return LangText("Main|OutDnssecSigExpired", "Signatur abgelaufen");
    case TChainFault::SigNotYetValid:
      return LangText("Main|OutDnssecSigNotYet", "Signatur noch nicht gültig");
    case TChainFault::SigInvalid:
      return LangText("Main|OutDnssecSigInvalid", "Signatur ungültig");
    case TChainFault::Deprecated:
      return LangText("Main|OutDnssecDeprecated", "veralteter Algorithmus %s1%", {detail});
    case TChainFault::Unsupported:
      return LangText("Main|OutDnssecUnsupported", "nicht unterstützter Algorithmus %s1%",
                      {detail});
    case TChainFault::NoDsProof:
      return LangText("Main|OutDnssecNoDsProof", "kein NSEC/NSEC3-Nachweis, dass kein DS besteht");
    case TChainFault::NameMissing:
      return LangText("Main|OutDnssecNameMissing", "Name existiert nicht, ohne gültigen Nachweis");
    case TChainFault::TooManyQueries:
      return LangText("Main|OutDnssecTooMany", "mehr als %s1% Anfragen",
                      {std::to_string(kMaxChainQueries)});
  }
  return {};
}

// What a signature's own check said, as a word.
std::string SigState(TChainFault f) {
  switch (f) {
    case TChainFault::None: return LangText("Main|OutDnssecSigOk", "gültig");
    case TChainFault::NoDnskey:
      return LangText("Main|OutDnssecSigNoKey", "kein passender DNSKEY");
    default: return FaultText(f, "");
  }
}

std::string TimeText(std::int64_t unix) {
  return Iso8601Utc(DateTimeFromUnix(static_cast<double>(unix)));
}

std::string TypeText(std::uint16_t type) { return TypeName(type); }

std::string AlgorithmText(std::uint8_t a) {
  return std::to_string(a) + " (" + AlgorithmName(a) + ")";
}

}  // namespace

std::string TrustAnchorPath() { return BesideOrSystem("root.key", "/usr/share/dns/root.key"); }

void TfrmMain::DnsChainBlock(const std::string& name) {
  AppendOutput(reDns,
               "\r\n" + LangText("Main|OutDnssecFor", "DNSSEC-Prüfung für \"%s1%\":", {name}),
               clBlue);
  SetStatus(" " + LangText("Main|sbMainDnssec", "DNSSEC-Prüfung für \"%s1%\"...", {name}));
  const std::string anchorPath = TrustAnchorPath();
  const std::string anchorText = ReadHead(anchorPath, kMaxAnchorBytes);
  const TTrustAnchor anchor = ParseTrustAnchor(anchorText);
  const TIdDNSResolver base = IdDNSResolver;
  const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
  const TChainResult r = WalkChain(
      name, anchor,
      [&](const std::string& n, std::uint16_t type) { return AskWithDnssec(base, n, type); },
      now, kMaxChainQueries);
  if (AbortRequested()) return;

  // The verdict first.
  const std::string reason =
      FaultText(r.Fault, r.Fault == TChainFault::NoAnchor ? anchorPath : r.Detail);
  TLineFields verdict{{"zone", r.AtZone}, {"reason", FaultCode(r.Fault)}};
  switch (r.Verdict) {
    case TChainVerdict::Secure:
      AppendOutput(reDns, LangText("Main|OutDnssecSecure", "  sicher"), clGreen,
                   {{"dnssec_verdict", "secure"}});
      break;
    case TChainVerdict::Insecure:
      verdict.insert(verdict.begin(), {"dnssec_verdict", "insecure"});
      AppendOutput(reDns, LangText("Main|OutDnssecInsecure", "  unsigniert ab %s1%", {r.AtZone}),
                   clNavy, verdict);
      break;
    case TChainVerdict::Bogus:
      verdict.insert(verdict.begin(), {"dnssec_verdict", "bogus"});
      AppendOutput(reDns,
                   LangText("Main|OutDnssecBogus", "  fehlerhaft: %s1% bei %s2%",
                            {reason, r.AtZone}),
                   clRed, verdict);
      SetToolFailed(pgDns);
      break;
    case TChainVerdict::Indeterminate:
      verdict.insert(verdict.begin(), {"dnssec_verdict", "indeterminate"});
      AppendOutput(reDns,
                   r.Fault == TChainFault::NoAnchor
                       ? LangText("Main|OutDnssecIndeterminate", "  nicht prüfbar: %s1%", {reason})
                       : LangText("Main|OutDnssecIndeterminateAt", "  nicht prüfbar: %s1% bei %s2%",
                                  {reason, r.AtZone}),
                   clMaroon, verdict);
      SetToolFailed(pgDns);
      break;
  }
  AppendOutput(reDns,
               LangText("Main|OutDnssecAnchor", "  Vertrauensanker: %s1% (%s2% Einträge)",
                        {anchorPath, std::to_string(anchor.Records.size())}),
               clNavy, {{"anchor", anchorPath}});

  auto sigLine = [&](const std::string& zone, const TChainSig& s) {
    const std::int64_t days = (s.Expiration - now) / 86400;
    const std::string left =
        s.Expiration >= now
            ? LangText("Main|OutDnssecDaysLeft", "noch %s1% Tage", {std::to_string(days)})
            : LangText("Main|OutDnssecDaysAgo", "seit %s1% Tagen abgelaufen",
                       {std::to_string((now - s.Expiration) / 86400)});
    AppendOutput(reDns,
                 LangText("Main|OutDnssecSig",
                          "    RRSIG %s1%: Unterzeichner %s2%, Schlüssel %s3%, Algorithmus %s4%, "
                          "%s5% bis %s6% (%s7%): %s8%",
                          {TypeText(s.Covered), Shown(s.Signer), std::to_string(s.KeyTag),
                           AlgorithmText(s.Algorithm), TimeText(s.Inception),
                           TimeText(s.Expiration), left, SigState(s.State)}),
                 s.State == TChainFault::None ? clBlack : clRed,
                 {{"dnssec_zone", zone},
                  {"record", "RRSIG"},
                  {"covered", TypeText(s.Covered)},
                  {"signer", Shown(s.Signer)},
                  {"key_tag", static_cast<unsigned>(s.KeyTag)},
                  {"algorithm", static_cast<unsigned>(s.Algorithm)},
                  {"inception", TimeText(s.Inception)},
                  {"expiration", TimeText(s.Expiration)},
                  {"days_left", static_cast<long long>(days)},
                  {"valid", s.State == TChainFault::None}});
  };

  std::string parent;
  for (const TChainZone& z : r.Zones) {
    AppendOutput(reDns, LangText("Main|OutDnssecZone", "  Zone %s1%:", {z.Zone}), clBlue,
                 {{"dnssec_zone", z.Zone}});
    for (const TChainDs& d : z.Ds) {
      const std::string where =
          z.FromAnchor ? LangText("Main|OutDnssecAtAnchor", "im Vertrauensanker")
                       : LangText("Main|OutDnssecAtParent", "bei %s1%", {parent});
      AppendOutput(reDns,
                   LangText("Main|OutDnssecDs",
                            "    DS %s1%: Schlüssel %s2%, Algorithmus %s3%, Digest-Typ %s4%: %s5%",
                            {where, std::to_string(d.KeyTag), AlgorithmText(d.Algorithm),
                             std::to_string(d.DigestType),
                             d.Matches ? LangText("Main|OutDnssecDsMatch", "passt zum DNSKEY")
                                       : LangText("Main|OutDnssecDsNoMatch",
                                                  "passt zu keinem DNSKEY")}),
                   d.Matches ? clBlack : clRed,
                   {{"dnssec_zone", z.Zone},
                    {"record", "DS"},
                    {"key_tag", static_cast<unsigned>(d.KeyTag)},
                    {"algorithm", static_cast<unsigned>(d.Algorithm)},
                    {"digest_type", static_cast<unsigned>(d.DigestType)},
                    {"matches", d.Matches}});
    }
    if (z.Unsigned)
      AppendOutput(reDns,
                   LangText("Main|OutDnssecNoDs", "    kein DS bei %s1%, Nachweis: %s2%",
                            {parent, Shown(z.Proof)}),
                   clNavy, {{"dnssec_zone", z.Zone}, {"proof", Shown(z.Proof)}});
    for (const TChainSig& s : z.DsSigs) sigLine(z.Zone, s);
    for (const TChainKey& k : z.Keys) {
      const std::string role = (k.Flags & 0x0001) ? "KSK" : "ZSK";
      AppendOutput(reDns,
                   LangText("Main|OutDnssecKey",
                            "    DNSKEY: Schlüssel %s1%, Flags %s2% (%s3%), Algorithmus %s4%, "
                            "%s5% Bit%s6%",
                            {std::to_string(k.KeyTag), std::to_string(k.Flags), role,
                             AlgorithmText(k.Algorithm), std::to_string(k.Bits),
                             k.MatchesDs ? LangText("Main|OutDnssecKeyByDs", ", vom DS bestätigt")
                                         : std::string()}),
                   clBlack,
                   {{"dnssec_zone", z.Zone},
                    {"record", "DNSKEY"},
                    {"key_tag", static_cast<unsigned>(k.KeyTag)},
                    {"flags", static_cast<unsigned>(k.Flags)},
                    {"algorithm", static_cast<unsigned>(k.Algorithm)},
                    {"bits", static_cast<unsigned long>(k.Bits)},
                    {"matches_ds", k.MatchesDs}});
    }
    for (const TChainSig& s : z.KeySigs) sigLine(z.Zone, s);
    if (z.Fault != TChainFault::None)
      AppendOutput(reDns,
                   LangText("Main|OutDnssecLinkBroken", "    Glied gebrochen: %s1%",
                            {FaultText(z.Fault, z.Detail)}),
                   clRed, {{"dnssec_zone", z.Zone}, {"link", "broken"}, {"reason", FaultCode(z.Fault)}});
    else if (z.Unsigned)
      AppendOutput(reDns, LangText("Main|OutDnssecLinkUnsigned", "    unsigniert"), clNavy,
                   {{"dnssec_zone", z.Zone}, {"link", "unsigned"}});
    else
      AppendOutput(reDns, LangText("Main|OutDnssecLinkValid", "    Glied gültig"), clGreen,
                   {{"dnssec_zone", z.Zone}, {"link", "valid"}});
    parent = z.Zone;
  }

  const TChainAnswer& a = r.Answer;
  if (!a.Asked) return;
  AppendOutput(reDns,
               LangText("Main|OutDnssecAnswer", "  Antwort %s1% %s2%:", {a.Name, TypeText(a.Type)}),
               clBlue, {{"dnssec_answer", a.Name}});
  for (const std::string& rec : a.Records)
    AppendOutput(reDns, "    " + Shown(rec), clBlack, {{"record_text", Shown(rec)}});
  if (a.Records.empty() && a.Fault != TChainFault::NoAnswer)
    AppendOutput(reDns,
                 a.Rcode == 3 ? LangText("Main|OutDnssecAnswerNx", "    Name existiert nicht (NXDOMAIN)")
                              : LangText("Main|OutDnssecAnswerNone", "    keine Einträge dieses Typs"),
                 clNavy);
  if (!a.Proof.empty())
    AppendOutput(reDns, LangText("Main|OutDnssecProof", "    Nachweis: %s1%", {Shown(a.Proof)}),
                 clNavy, {{"proof", Shown(a.Proof)}});
  for (const TChainSig& s : a.Sigs) sigLine(a.Name, s);
  if (a.Fault != TChainFault::None)
    AppendOutput(reDns,
                 LangText("Main|OutDnssecAnswerBroken", "    Antwort nicht bestätigt: %s1%",
                          {FaultText(a.Fault, a.Detail)}),
                 clRed, {{"dnssec_answer", a.Name}, {"reason", FaultCode(a.Fault)}});
}

}  // namespace quovix

namespace quovix {

namespace {

constexpr size_t kMaxHintsBytes = 64 * 1024;

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& s : items) out += (out.empty() ? "" : ", ") + Shown(s);
  return out;
}

std::string MsText(double ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", ms);
  return buf;
}

const char* IterStepCode(TIterStepKind k) {
  switch (k) {
    case TIterStepKind::Referral: return "referral";
    case TIterStepKind::Answer: return "answer";
    case TIterStepKind::NoData: return "nodata";
    case TIterStepKind::NameError: return "nxdomain";
    case TIterStepKind::Lame: return "lame";
    case TIterStepKind::Resolved: return "resolved";
    case TIterStepKind::Unresolved: return "unresolved";
    case TIterStepKind::NsDiffer: return "ns_differ";
  }
  return "";
}

}  // namespace

std::string RootHintsPath() { return BesideOrSystem("root.hints", "/usr/share/dns/root.hints"); }

void TfrmMain::DnsIterateBlock(const std::string& name) {
  AppendOutput(reDns,
               "\r\n" + LangText("Main|OutDnsIterFor", "Auflösung von \"%s1%\" ab der Wurzel:",
                                 {name}),
               clBlue);
  SetStatus(" " + LangText("Main|sbMainDnsIter", "Auflösung von \"%s1%\" ab der Wurzel...", {name}));
  const std::string hintsPath = RootHintsPath();
  const std::string hintsText = ReadHead(hintsPath, kMaxHintsBytes);
  const std::vector<TIterServer> hints = ParseRootHints(hintsText);
  AppendOutput(reDns,
               LangText("Main|OutDnsIterHints", "  Wurzel-Hinweise: %s1% (%s2% Server)",
                        {hintsPath, std::to_string(hints.size())}),
               clNavy, {{"root_hints", hintsPath}});
  const TIdDNSResolver base = IdDNSResolver;
  TIterLimits limits;
  // One deadline for the whole walk: a few waiting times, never less than
  // the bounded number of queries needs against servers that answer.
  limits.DeadlineMs = std::max(10000, 6 * base.WaitingTime);
  const TIterResult r = ResolveFromRoot(
      name, kTypeA, hints,
      [&](const std::string& address, const std::string& n, std::uint16_t type) {
        return AskIteratively(base, address, n, type);
      },
      limits);
  if (AbortRequested()) return;

  for (const TIterStep& s : r.Steps) {
    const std::string indent(static_cast<size_t>(2 * s.Depth), ' ');
    const std::string zone = s.Zone, server = Shown(s.Server), address = s.Address,
                      ms = MsText(s.Ms);
    TLineFields fields{{"step", IterStepCode(s.Kind)}, {"zone", zone}, {"server", server},
                       {"server_address", address}, {"depth", s.Depth}};
    if (s.Kind != TIterStepKind::Resolved && s.Kind != TIterStepKind::Unresolved &&
        s.Kind != TIterStepKind::NsDiffer)
      fields.push_back({"ms", s.Ms});
    switch (s.Kind) {
      case TIterStepKind::Referral: {
        fields.push_back({"referral", s.Detail});
        std::vector<TLineValue> ns;
        for (const auto& n : s.Servers) ns.push_back(Shown(n));
        fields.push_back({"name_servers", TLineValue::List(ns)});
        AppendOutput(reDns,
                     indent + LangText("Main|OutDnsIterReferral",
                                       "  %s1% bei %s2% (%s3%): Verweis auf %s4% (%s5%), %s6% ms",
                                       {zone, server, address, Shown(s.Detail), Joined(s.Servers), ms}),
                     clBlack, fields);
        for (const std::string& g : s.Glue)
          AppendOutput(reDns, indent + LangText("Main|OutDnsIterGlue", "    Glue: %s1%", {Shown(g)}),
                       clNavy, {{"glue", Shown(g)}});
        if (s.Glue.empty())
          AppendOutput(reDns, indent + LangText("Main|OutDnsIterNoGlue", "    ohne Glue"), clNavy);
        break;
      }
      case TIterStepKind::Answer:
        AppendOutput(reDns,
                     indent + LangText("Main|OutDnsIterAnswer",
                                       "  %s1% bei %s2% (%s3%): Antwort, %s4% ms",
                                       {zone, server, address, ms}),
                     clGreen, fields);
        for (const std::string& rec : s.Records)
          AppendOutput(reDns, indent + "    " + Shown(rec), clBlack, {{"record_text", Shown(rec)}});
        break;
      case TIterStepKind::NoData:
        AppendOutput(reDns,
                     indent + LangText("Main|OutDnsIterNoData",
                                       "  %s1% bei %s2% (%s3%): keine Einträge dieses Typs "
                                       "(autoritativ), %s4% ms",
                                       {zone, server, address, ms}),
                     clNavy, fields);
        break;
      case TIterStepKind::NameError:
        AppendOutput(reDns,
                     indent + LangText("Main|OutDnsIterNxDomain",
                                       "  %s1% bei %s2% (%s3%): Name existiert nicht (NXDOMAIN, "
                                       "autoritativ), %s4% ms",
                                       {zone, server, address, ms}),
                     clNavy, fields);
        break;
      case TIterStepKind::Lame: {
        std::string why = s.Detail;
        if (why == "not_authoritative")
          why = LangText("Main|OutDnsIterNotAuth", "nicht autoritativ");
        else if (why.rfind("upward:", 0) == 0)
          why = LangText("Main|OutDnsIterUpward", "Verweis nach oben auf %s1%",
                         {Shown(why.substr(7))});
        else if (!why.empty() && std::isupper(static_cast<unsigned char>(why[0])) &&
                 why.find(' ') == std::string::npos)
          why = LangText("Main|OutDnsIterRcode", "antwortet %s1%", {why});
        fields.push_back({"reason", why});
        AppendOutput(reDns,
                     indent + LangText("Main|OutDnsIterLame", "  %s1% bei %s2% (%s3%): lahmer Server: %s4%",
                                       {zone, server, address, why}),
                     clRed, fields);
        break;
      }
      case TIterStepKind::Resolved:
        AppendOutput(reDns,
                     indent + LangText("Main|OutDnsIterResolved", "    Name unterwegs aufgelöst: %s1%",
                                       {Joined(s.Glue)}),
                     clNavy, fields);
        break;
      case TIterStepKind::Unresolved:
        AppendOutput(reDns,
                     indent + LangText("Main|OutDnsIterUnresolved", "    Keine Adresse für %s1% gefunden",
                                       {server}),
                     clRed, fields);
        break;
      case TIterStepKind::NsDiffer: {
        std::vector<TLineValue> parent, child;
        for (const auto& n : s.Servers) parent.push_back(Shown(n));
        for (const auto& n : s.Glue) child.push_back(Shown(n));
        fields.push_back({"parent_ns", TLineValue::List(parent)});
        fields.push_back({"child_ns", TLineValue::List(child)});
        AppendOutput(reDns,
                     indent + LangText("Main|OutDnsIterNsDiffer",
                                       "  NS-Einträge von %s1% verschieden: Elternzone %s2%, Kindzone %s3%",
                                       {zone, Joined(s.Servers), Joined(s.Glue)}),
                     clRed, fields);
        break;
      }
    }
  }
  const TLineFields counts{{"referrals", r.Referrals}, {"queries", r.Queries}};
  switch (r.End) {
    case TIterEnd::Answer:
    case TIterEnd::NoData:
    case TIterEnd::NameError:
      AppendOutput(reDns,
                   LangText("Main|OutDnsIterDone", "  Fertig: %s1% Verweise, %s2% Anfragen",
                            {std::to_string(r.Referrals), std::to_string(r.Queries)}),
                   clGreen, counts);
      break;
    case TIterEnd::NoServer:
      AppendOutput(reDns,
                   LangText("Main|OutDnsIterNoServer", "  Kein Server der Zone %s1% antwortet.",
                            {Shown(r.Detail)}),
                   clRed, counts);
      SetToolFailed(pgDns);
      break;
    case TIterEnd::Loop:
      AppendOutput(reDns,
                   LangText("Main|OutDnsIterLoop", "  Verweisschleife bei %s1%", {Shown(r.Detail)}),
                   clRed, counts);
      SetToolFailed(pgDns);
      break;
    case TIterEnd::TooManyReferrals:
      AppendOutput(reDns,
                   LangText("Main|OutDnsIterTooManyReferrals", "  Mehr als %s1% Verweise",
                            {std::to_string(limits.MaxReferrals)}),
                   clRed, counts);
      SetToolFailed(pgDns);
      break;
    case TIterEnd::TooManyQueries:
      AppendOutput(reDns,
                   LangText("Main|OutDnsIterTooManyQueries", "  Mehr als %s1% Anfragen",
                            {std::to_string(limits.MaxQueries)}),
                   clRed, counts);
      SetToolFailed(pgDns);
      break;
    case TIterEnd::Deadline:
      AppendOutput(reDns,
                   LangText("Main|OutDnsIterDeadline", "  Die Zeit für die Auflösung ist abgelaufen"),
                   clMaroon, counts);
      SetToolFailed(pgDns);
      break;
    case TIterEnd::NoHints:
      AppendOutput(reDns,
                   LangText("Main|OutDnsIterNoHints", "  Keine Wurzel-Hinweise in %s1%", {hintsPath}),
                   clMaroon, counts);
      SetToolFailed(pgDns);
      break;
  }
}

}  // namespace quovix
