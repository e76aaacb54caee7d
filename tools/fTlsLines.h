// One way for every tool to show what a TLS handshake showed: the
// connection (version, cipher, group, ALPN, stapled OCSP answer), the
// certificate chain as sent, and the verdicts on chain and name. The lines
// carry their values as fields for the JSON output: the first line
// tls_version, cipher, group, alpn; the OCSP line ocsp (none, good, revoked,
// unknown, invalid) and ocsp_this_update; per certificate one line with
// cert (1 = the server's own), subject, issuer, san (a list), not_before,
// not_after (ISO 8601, UTC), days_left, key_type, key_bits, signature,
// sha256; the verdicts verified (with verify_error) and name_match (with
// tls_name, the name checked).
#pragma once

#include <cstdint>
#include <vector>

#include "app/Controls.h"
#include "clients/TlsReport.h"

namespace quovix {

class TfrmMain;

struct TlsLinesOptions {
  // The certificates one by one (off: the connection and the verdicts only).
  bool Chain = true;
  // The colour of a verdict that fails (untrusted chain, other name,
  // expired or not yet valid, revoked). A tool for which such a finding
  // does not end its run may choose maroon.
  TColor Fault = clRed;
};

// The lines of a report, in order, each with its fields joined to context
// (a hop, a mail exchanger); times are shown in the user's format and
// local time; the days left are those the report was made with.
std::vector<TOutputLine> TlsReportLines(const TlsReport& report, const TLineFields& context,
                                        const TlsLinesOptions& options = {});

// The same appended to a pane.
void AppendTlsReport(TfrmMain& f, TRichEdit& pane, const TlsReport& report,
                     const TLineFields& context, const TlsLinesOptions& options = {});

}  // namespace quovix
