// Mail-Check's DANE part (RFC 7672): the TLSA records of a mail exchanger,
// asked with the DO bit, and each matched against the chain the exchanger
// sent in its TLS handshake.
#pragma once

#include <string>
#include <vector>

#include "app/Controls.h"
#include "clients/DnsClient.h"
#include "clients/TlsReport.h"

namespace quovix {

class TfrmMain;

struct DaneAnswer {
  enum class TState { NotAsked, Failed, None, Records };
  TState State = TState::NotAsked;
  std::string Name;   // "_25._tcp.mx.example.org"
  std::string Error;  // why Failed
  bool Validated = false;  // the resolver set AD: DNSSEC vouches for the records
  std::vector<TTlsaData> Records;
};

// DANE applies to an exchanger named by a host name; an address literal
// has no name to hold TLSA records.
bool DaneApplies(const std::string& exchanger);

// Asks the TLSA records at _<port>._tcp.<exchanger> of the resolver's server
// (a copy of the window's, set up for the Mail-Check), with the DO bit. Safe
// on a worker thread: every wait is bounded and honours its stop flag.
DaneAnswer AskTlsa(TIdDNSResolver resolver, const std::string& exchanger, int port);

// What the records are held against: the chain of a session that ran over
// TLS, a session without TLS (no chain: a validated record makes that a
// refusal), or nothing, when no connection is made at all (the records
// are only shown).
enum class TDaneAgainst { Chain, NoTls, NoConnection };

// Appends the answer's lines: each record with whether it fits the chain of
// the report (only against Chain), and the verdict. Returns the verdict's
// name for the result: "match", "no_match", "unusable", "unvalidated",
// "none", "no_tls", "failed"; "records" for validated records not compared.
std::string AppendDaneLines(TfrmMain& f, TRichEdit& pane, const DaneAnswer& answer, const TlsReport& tls,
                            TDaneAgainst against, const TLineFields& context);

}  // namespace quovix
