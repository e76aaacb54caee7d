#include "tools/fEMailDane.h"

#include <algorithm>
#include <exception>

#include "app/formMain.h"
#include "clients/Dane.h"
#include "common/Pump.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"

namespace quovix {
namespace {
// Most records of one answer shown and matched; a longer answer is cut.
constexpr std::size_t kMaxTlsaRecords = 32;
// Longest record text shown: usage, selector, type and a SHA-512 hash fit.
constexpr std::size_t kMaxShownText = 140;
}  // namespace

bool DaneApplies(const std::string& exchanger) { return IsHostName(exchanger); }

DaneAnswer AskTlsa(TIdDNSResolver resolver, const std::string& exchanger, int port) {
  DaneAnswer answer;
  answer.Name = "_" + std::to_string(port) + "._tcp." + exchanger;
  resolver.QueryType.clear();
  resolver.QuestionType = kTypeTLSA;
  resolver.UseEdns = true;
  resolver.DnssecOk = true;
  resolver.WholeReply = true;
  resolver.QueryResult.Clear();
  try {
    resolver.SendQuery(answer.Name, 1);
  } catch (const std::exception& e) {
    answer.State = DaneAnswer::TState::Failed;
    answer.Error = e.what();
    return answer;
  }
  const TQueryResult& result = resolver.QueryResult;
  if (!resolver.LastExchange().Answered) {
    answer.State = DaneAnswer::TState::Failed;
    answer.Error = AbortRequested() ? "aborted" : "no answer";
    return answer;
  }
  // A name error or an empty answer: no records. Any other code (SERVFAIL
  // from a validator that found the answer bogus, say) is a failure.
  if (result.Rcode() != 0 && result.Rcode() != 3) {
    answer.State = DaneAnswer::TState::Failed;
    answer.Error = RcodeName(result.Rcode());
    return answer;
  }
  for (const TResultRecord* rec : AnswerRecords(result, answer.Name, kTypeTLSA))
    if (const auto* t = rec->Get<TTlsaData>(); t && answer.Records.size() < kMaxTlsaRecords)
      answer.Records.push_back(*t);
  answer.State = answer.Records.empty() ? DaneAnswer::TState::None : DaneAnswer::TState::Records;
  answer.Validated = result.AuthenticData();
  return answer;
}

std::string AppendDaneLines(TfrmMain& f, TRichEdit& pane, const DaneAnswer& answer, const TlsReport& tls,
                            TDaneAgainst against, const TLineFields& context) {
  const bool tlsDone = against == TDaneAgainst::Chain;
  const bool compared = against != TDaneAgainst::NoConnection;
  using S = DaneAnswer::TState;
  if (answer.State == S::NotAsked) return {};
  if (answer.State == S::Failed) {
    f.AppendOutput(pane,
                   LangText("Main|OutEMailDaneFailed", "DANE: Die TLSA-Abfrage für %s1% ist fehlgeschlagen: %s2%",
                            {answer.Name, answer.Error}),
                   clMaroon, JoinFields(context, {{"dane", "failed"}, {"tlsa_name", answer.Name}}));
    return "failed";
  }
  if (answer.State == S::None) {
    f.AppendOutput(pane, LangText("Main|OutEMailDaneNone", "DANE: Kein TLSA-Eintrag unter %s1%.", {answer.Name}),
                   clNavy, JoinFields(context, {{"dane", "none"}, {"tlsa_name", answer.Name}}));
    return "none";
  }
  const TLineFields head = JoinFields(context, {{"tlsa_name", answer.Name}, {"validated", answer.Validated}});
  if (answer.Validated)
    f.AppendOutput(pane,
                   LangText("Main|OutEMailDaneValidated", "DANE: TLSA-Einträge unter %s1% (DNSSEC-validiert):",
                            {answer.Name}),
                   clNavy, head);
  else
    f.AppendOutput(pane,
                   LangText("Main|OutEMailDaneUnvalidated",
                            "DANE: TLSA-Einträge unter %s1%, nicht validiert (kein AD-Bit): sie zählen nicht",
                            {answer.Name}),
                   clMaroon, head);
  std::vector<std::string> chain;
  if (tlsDone)
    for (const TlsCertificate& c : tls.Chain) chain.push_back(c.Der);
  std::vector<TDaneMatch> matches;
  for (const TTlsaData& t : answer.Records) matches.push_back(tlsDone ? MatchTlsa(t, chain) : TDaneMatch::NoMatch);
  const bool anyMatch = std::find(matches.begin(), matches.end(), TDaneMatch::Match) != matches.end();
  for (std::size_t i = 0; i < answer.Records.size(); ++i) {
    const TTlsaData& t = answer.Records[i];
    const TDaneMatch m = matches[i];
    // The record as the presentation format writes it, cut for the pane.
    TResultRecord rec;
    rec.TypeCode = kTypeTLSA;
    rec.Kind = TRecordKind::TLSA;
    rec.Data = t;
    std::string shown = RDataText(rec);
    if (shown.size() > kMaxShownText) shown = shown.substr(0, kMaxShownText) + "…";
    std::string verdict;
    TColor color = clBlack;
    TLineFields fields = JoinFields(context, {{"usage", t.Usage},
                                              {"selector", t.Selector},
                                              {"mtype", t.MatchingType},
                                              {"validated", answer.Validated}});
    if (!compared) {
      f.AppendOutput(pane,
                     "  TLSA " + shown + "  – " +
                         LangText("Main|OutEMailDaneNotCompared", "ohne Verbindung nicht verglichen"),
                     clNavy, fields);
      continue;
    }
    fields.insert(fields.end() - 1, TLineField{"match", m == TDaneMatch::Match});
    switch (m) {
      case TDaneMatch::Match:
        verdict = LangText("Main|OutEMailDaneMatch", "passt");
        color = answer.Validated ? clGreen : clBlack;
        break;
      case TDaneMatch::NoMatch:
        verdict = tlsDone ? LangText("Main|OutEMailDaneNoMatch", "passt nicht")
                          : LangText("Main|OutEMailDaneNoChain", "ohne TLS kein Zertifikat zum Vergleich");
        // Beside one that fits (a key rollover's next record, say) it is no fault.
        color = answer.Validated && !anyMatch ? clRed : clBlack;
        break;
      case TDaneMatch::NotForSmtp:
        verdict = LangText("Main|OutEMailDaneNotSmtp",
                           "Verwendung %s1% gilt nicht für SMTP (RFC 7672), kein Vergleich", {std::to_string(t.Usage)});
        color = clNavy;
        break;
      case TDaneMatch::Unusable:
        verdict = LangText("Main|OutEMailDaneUnusable", "unbekannte Parameter, der Eintrag zählt nicht");
        color = clNavy;
        break;
    }
    f.AppendOutput(pane, "  TLSA " + shown + "  – " + verdict, color, fields);
  }
  // The verdict a sending server that speaks DANE would come to.
  if (!answer.Validated) return "unvalidated";
  if (!compared) return "records";
  if (!tlsDone) {
    f.AppendOutput(pane,
                   LangText("Main|OutEMailDaneNoTls",
                            "DANE: Validierte TLSA-Einträge, aber keine TLS-Sitzung: ein DANE-fähiger Absender stellt "
                            "nicht zu."),
                   clRed, JoinFields(context, {{"dane", "no_tls"}}));
    return "no_tls";
  }
  // Records of which none can be used make TLS mandatory without saying
  // which certificate to expect: the sender still delivers over TLS.
  const bool anyUsable = std::any_of(matches.begin(), matches.end(), [](TDaneMatch m) {
    return m == TDaneMatch::Match || m == TDaneMatch::NoMatch;
  });
  if (!anyUsable) {
    f.AppendOutput(pane,
                   LangText("Main|OutEMailDaneUnusableAll",
                            "DANE: Kein verwendbarer TLSA-Eintrag: ein DANE-fähiger Absender verlangt TLS, prüft das "
                            "Zertifikat aber nicht."),
                   clMaroon, JoinFields(context, {{"dane", "unusable"}}));
    return "unusable";
  }
  if (anyMatch) {
    f.AppendOutput(pane, LangText("Main|OutEMailDaneOk", "DANE: Ein Eintrag passt zum Zertifikat des Servers."),
                   clGreen, JoinFields(context, {{"dane", "match"}}));
    return "match";
  }
  f.AppendOutput(pane,
                 LangText("Main|OutEMailDaneBad",
                          "DANE: Kein Eintrag passt: ein DANE-fähiger Absender würde diesen Server ablehnen."),
                 clRed, JoinFields(context, {{"dane", "no_match"}}));
  return "no_match";
}

}  // namespace quovix
