// The lines the HTTP-Header tool adds beyond the headers: under each hop
// where the time of its exchange went and the HTTP/3 its server
// advertises, after the last hop the security headers browsers act on.
#pragma once

#include <vector>

#include "app/Controls.h"
#include "clients/DnsClient.h"
#include "clients/HttpClient.h"

namespace quovix {

// A heading that carries the figures as fields (lookup_ms, connect_ms,
// tls_ms, first_byte_ms, total_ms, reused; a phase not needed or not
// reached is null) and one line per phase measured, in ms with one decimal.
// Empty when the exchange never got as far as a connection.
std::vector<TOutputLine> HeadTimingLines(const HttpTiming& timing, const TLineFields& hop);

// The h3 entries ("h3" or a draft "h3-…") of an Alt-Svc value, each as
// sent ("h3=\":443\"; ma=86400"); at most 20. "clear" and every other
// protocol are left out.
std::vector<std::string> AltSvcH3Entries(const std::string& value);

// The host's DNS HTTPS records (type 65) under a heading: each with its
// priority and target (priority 0: an alias to the target) and the
// parameters a client acts on (alpn, port, address hints), fields
// https_priority, https_target, https_alpn, https_port, https_ipv4hint,
// https_ipv6hint. None: one line that says so; failure (not empty): one
// line with why the record could not be asked. All navy: the record is an
// offer, not a finding.
std::vector<TOutputLine> HttpsRecordLines(const std::string& host,
                                          const std::vector<const TResultRecord*>& records,
                                          const std::string& failure, const TLineFields& hop);

// Under a heading, one line per header browsers act on, with what it
// says: Strict-Transport-Security (max-age in days, includeSubDomains,
// preload), Content-Security-Policy (present, frame-ancestors),
// X-Content-Type-Options, X-Frame-Options, Referrer-Policy,
// Permissions-Policy, Cross-Origin-Opener-Policy, and each cookie set with
// its Secure, HttpOnly and SameSite. A header present is navy; one missing
// (and a cookie attribute missing) maroon on an HTTPS page, navy on a
// plain one. headers: "Name: value" as received.
std::vector<TOutputLine> SecurityHeaderLines(const std::vector<std::string>& headers, bool https,
                                             const TLineFields& hop);

}  // namespace quovix
