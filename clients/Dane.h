// DANE for SMTP (RFC 7672): whether a TLSA record fits the certificate
// chain a mail exchanger sent. Takes the decoded record and the chain's DER
// encodings; reads no text and asks nothing of the network.
#pragma once

#include <string>
#include <vector>

#include "clients/DnsClient.h"

namespace quovix {

enum class TDaneMatch {
  Match,       // the record's data is that of the certificate it names
  NoMatch,     // usable, but no certificate of the chain fits
  NotForSmtp,  // usage 0 (PKIX-TA) or 1 (PKIX-EE): RFC 7672 has SMTP ignore them
  Unusable,    // an unknown usage, selector or matching type: the record counts for nothing
};

// Matches one record against the chain as sent (the server's own
// certificate first): usage 3 (DANE-EE) the server's certificate alone,
// usage 2 (DANE-TA) any certificate of the chain; selector 0 the whole
// certificate, 1 its SubjectPublicKeyInfo; matching type 0 the bytes
// themselves, 1 their SHA-256, 2 their SHA-512. A chain entry that is no
// certificate fits nothing.
TDaneMatch MatchTlsa(const TTlsaData& record, const std::vector<std::string>& chainDer);

}  // namespace quovix
