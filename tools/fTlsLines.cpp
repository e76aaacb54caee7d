#include "tools/fTlsLines.h"

#include <string>

#include "app/formMain.h"
#include "common/DateTime.h"
#include "shell/fLanguage.h"

namespace quovix {

namespace {

// A certificate time in the user's format and local time.
std::string LocalTime(std::int64_t unix) {
  if (unix == 0) return "?";
  double bias = 0;
  try {
    bias = LocalBiasDays();
  } catch (const std::exception&) {
    bias = 0;  // shown as UTC then
  }
  return FormatDateTimeUser(DateTimeFromUnix(static_cast<double>(unix)) - bias);
}

TLineValue IsoTime(std::int64_t unix) {
  if (unix == 0) return {};
  return Iso8601Utc(DateTimeFromUnix(static_cast<double>(unix)));
}

TLineValue TextOrNull(const std::string& s) { return s.empty() ? TLineValue() : TLineValue(s); }

std::string Joined(const std::vector<std::string>& parts) {
  std::string out;
  for (const auto& p : parts) out += (out.empty() ? "" : ", ") + p;
  return out;
}

}  // namespace

std::vector<TOutputLine> TlsReportLines(const TlsReport& r, const TLineFields& context,
                                        const TlsLinesOptions& o) {
  std::vector<TOutputLine> out;
  auto line = [&](std::string text, TColor color, TLineFields fields = {}) {
    out.push_back({std::move(text), color, JoinFields(context, fields)});
  };

  line(LangText("Main|OutTlsHeading", "TLS-Verbindung:"), clBlue);
  if (r.HandshakeDone) {
    // The connection's values in one object, on its first line.
    line(LangText("Main|OutTlsVersion", "  Protokoll:        %s1%", {r.Version}), clNavy,
         {{"tls_version", r.Version},
          {"cipher", r.Cipher},
          {"group", TextOrNull(r.Group)},
          {"alpn", TextOrNull(r.Alpn)}});
    line(LangText("Main|OutTlsCipher", "  Cipher:           %s1%", {r.Cipher}), clNavy);
    if (!r.Group.empty())
      line(LangText("Main|OutTlsGroup", "  Schlüsseltausch:  %s1%", {r.Group}), clNavy);
    line(r.Alpn.empty() ? LangText("Main|OutTlsAlpnNone", "  ALPN:             keine Einigung")
                        : LangText("Main|OutTlsAlpn", "  ALPN:             %s1%", {r.Alpn}),
         clNavy);
    const TlsOcsp& oc = r.Ocsp;
    const TLineFields ocspFields{{"ocsp", oc.State == TlsOcsp::Status::None ? std::string("none")
                                                                            : TlsOcspName(oc.State)},
                                 {"ocsp_this_update", IsoTime(oc.ThisUpdate)}};
    switch (oc.State) {
      case TlsOcsp::Status::None:
        line(LangText("Main|OutTlsOcspNone", "  OCSP (geheftet):  keine Antwort geheftet"), clNavy,
             ocspFields);
        break;
      case TlsOcsp::Status::Good:
        line(LangText("Main|OutTlsOcspGood", "  OCSP (geheftet):  gültig, Stand %s1%",
                      {LocalTime(oc.ThisUpdate)}),
             clNavy, ocspFields);
        break;
      case TlsOcsp::Status::Revoked:
        line(LangText("Main|OutTlsOcspRevoked", "  OCSP (geheftet):  widerrufen am %s1%%s2%",
                      {LocalTime(oc.RevokedAt),
                       oc.RevocationReason.empty() ? std::string() : " (" + oc.RevocationReason + ")"}),
             o.Fault, JoinFields(ocspFields, {{"ocsp_revoked_at", IsoTime(oc.RevokedAt)}}));
        break;
      case TlsOcsp::Status::Unknown:
        line(LangText("Main|OutTlsOcspUnknown", "  OCSP (geheftet):  dem Dienst unbekannt, Stand %s1%",
                      {LocalTime(oc.ThisUpdate)}),
             clMaroon, ocspFields);
        break;
      case TlsOcsp::Status::Invalid:
        line(LangText("Main|OutTlsOcspInvalid", "  OCSP (geheftet):  unbrauchbar: %s1%", {oc.Problem}),
             clMaroon, ocspFields);
        break;
    }
    if (oc.State != TlsOcsp::Status::None && oc.State != TlsOcsp::Status::Invalid &&
        (!oc.SignatureVerified || !oc.Problem.empty()))
      line(LangText("Main|OutTlsOcspProblem", "  OCSP-Prüfung:     %s1%", {oc.Problem}), clMaroon);
  }

  if (o.Chain && !r.Chain.empty()) {
    line(LangText("Main|OutTlsChain", "Zertifikatskette (wie gesendet):"), clBlue);
    for (size_t i = 0; i < r.Chain.size(); ++i) {
      const TlsCertificate& c = r.Chain[i];
      std::vector<TLineValue> san;
      for (const auto& s : c.San) san.emplace_back(s);
      const std::string n = std::to_string(i + 1);
      line(LangText("Main|OutTlsCertSubject", "  %s1%. Inhaber:     %s2%", {n, c.Subject}), clNavy,
           {{"cert", static_cast<int>(i + 1)},
            {"subject", c.Subject},
            {"issuer", c.Issuer},
            {"san", TLineValue::List(std::move(san))},
            {"not_before", IsoTime(c.NotBefore)},
            {"not_after", IsoTime(c.NotAfter)},
            {"days_left", c.DaysLeft},
            {"key_type", TextOrNull(c.KeyType)},
            {"key_bits", c.KeyBits},
            {"signature", TextOrNull(c.SignatureAlgorithm)},
            {"sha256", TextOrNull(c.Sha256)}});
      line(LangText("Main|OutTlsCertIssuer", "     Aussteller:    %s1%", {c.Issuer}), clNavy);
      if (!c.San.empty())
        line(LangText("Main|OutTlsCertSan", "     Alt. Namen:    %s1%", {Joined(c.San)}), clNavy);
      const bool early = c.NotYetValid;
      const std::string state =
          early ? LangText("Main|OutTlsCertNotYet", "noch nicht gültig")
          : c.DaysLeft < 0
              ? LangText("Main|OutTlsCertExpired", "abgelaufen seit %s1% Tagen", {std::to_string(-c.DaysLeft)})
              : LangText("Main|OutTlsCertDaysLeft", "noch %s1% Tage", {std::to_string(c.DaysLeft)});
      line(LangText("Main|OutTlsCertValid", "     Gültig:        %s1% bis %s2% (%s3%)",
                    {LocalTime(c.NotBefore), LocalTime(c.NotAfter), state}),
           early || c.DaysLeft < 0 ? o.Fault : clNavy);
      std::string key = c.KeyType.empty() ? "?" : c.KeyType;
      if (c.KeyBits > 0) key += " " + LangText("Main|OutTlsBits", "%s1% Bit", {std::to_string(c.KeyBits)});
      if (!c.KeyGroup.empty()) key += " (" + c.KeyGroup + ")";
      line(LangText("Main|OutTlsCertKey", "     Schlüssel:     %s1%", {key}), clNavy);
      line(LangText("Main|OutTlsCertSignature", "     Signatur:      %s1%", {c.SignatureAlgorithm}), clNavy);
    }
    if (r.ChainCut)
      line(LangText("Main|OutTlsChainCut", "  (weitere Zertifikate nicht gezeigt)"), clNavy);
  }

  if (!r.Chain.empty()) {
    if (r.Verified)
      line(LangText("Main|OutTlsVerified", "  Kette:            vertrauenswürdig"), clGreen,
           {{"verified", true}});
    else
      line(LangText("Main|OutTlsNotVerified", "  Kette:            nicht vertrauenswürdig: %s1% (Zertifikat %s2%)",
                    {r.VerifyError, std::to_string(r.VerifyErrorDepth + 1)}),
           o.Fault, {{"verified", false}, {"verify_error", r.VerifyError}});
    if (!r.CheckedName.empty())
      line(r.NameMatch ? LangText("Main|OutTlsNameMatch", "  Name:             \"%s1%\" passt zum Zertifikat",
                                  {r.CheckedName})
                       : LangText("Main|OutTlsNameMismatch",
                                  "  Name:             \"%s1%\" passt nicht zum Zertifikat", {r.CheckedName}),
           r.NameMatch ? clGreen : o.Fault, {{"name_match", r.NameMatch}, {"tls_name", r.CheckedName}});
  }
  return out;
}

void AppendTlsReport(TfrmMain& f, TRichEdit& pane, const TlsReport& report, const TLineFields& context,
                     const TlsLinesOptions& options) {
  for (auto& l : TlsReportLines(report, context, options)) f.AppendOutput(pane, l.Text, l.Color, std::move(l.Fields));
}

}  // namespace quovix
