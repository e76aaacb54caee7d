// The RDAP exchange (RFC 7480, RFC 9082): one GET of an RDAP URL over the
// HTTP client the tools share (certificates verified, proxy settings
// honoured), redirects walked hop by hop with a bound, the whole exchange
// under one time limit, the answer read into lines (clients/RdapAnswer.h).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "clients/HttpResponse.h"
#include "clients/RdapAnswer.h"
#include "clients/RdapBootstrap.h"

namespace quovix {

class HttpClient;

// Redirects followed for one query: a regional registry sends a query for
// addresses it does not hold to the one that does, seldom further.
constexpr int kRdapMaxRedirects = 5;
// The media type asked for and the one a registrar link must name.
inline constexpr const char* kRdapMediaType = "application/rdap+json";

// How an exchange ended.
enum class RdapEnd {
  Answered,     // 2xx with an answer that could be read (Answer holds its lines)
  NotFound,     // 404: the registry holds no such object
  RateLimited,  // 429: the server wants fewer queries
  HttpStatus,   // any other final status (Detail: the status line)
  BadAnswer,    // 2xx, but not an RDAP answer, too large or not JSON (Detail: why)
  Redirects,    // more than kRdapMaxRedirects redirects, or one without a usable target
  Downgrade,    // a redirect from HTTPS to plain HTTP, not followed (Detail: its target)
  TimedOut,     // the time limit passed
  Unreachable,  // no address, refused, reset, closed (Detail: the client's text)
  TlsFailed,    // handshake or certificate verification failed (Detail: why)
  Aborted,      // the user asked the running work to stop
};

struct RdapExchange {
  RdapEnd End = RdapEnd::Unreachable;
  int Status = 0;       // the last HTTP status received, 0 when none
  std::string Url;      // the URL of the last request (after redirects)
  std::string Detail;   // why, in the program's words (empty where Error tells it)
  // The client's error where the connection failed (Unreachable), for the
  // tool to say why as it says it for every HTTP request.
  std::shared_ptr<const HttpError> Error;
  RdapAnswer Answer;    // read when End is Answered
};

// The query URLs below a base URL of the bootstrap files (which ends in
// "/"): a domain in A-label form, an address (IPv4, or IPv6 in RFC 5952
// form; a zone is left out), an AS number.
std::string RdapDomainUrl(const std::string& base, const std::string& aLabel);
std::string RdapAddressUrl(const std::string& base, const std::string& address);
std::string RdapAsnUrl(const std::string& base, std::uint32_t asn);

// Whether a URL's scheme is https (any letter case): a link or redirect from
// such a URL to one that is not would leave the verified connection.
bool IsHttpsUrl(const std::string& url);

// Asks url on http, within limitMs as a whole (name look-ups, connections,
// TLS, every redirect and the whole answer), and reads the answer. The
// client's per-request settings are restored afterwards; its proxy settings
// are taken from the options. Never throws for what a server does.
RdapExchange RdapQuery(HttpClient& http, const std::string& url, int limitMs,
                       const RdapRenderOptions& options);

// A refresh of a registry's bootstrap file from RdapBootstrapUrl.
enum class RdapRefreshEnd {
  NotDue,   // no refresh set up or no cache folder, or tried within the last day
  Fetched,  // a sound file arrived and is kept in the cache folder
  Failed,   // asked, but no sound file came (Detail: why); the files at hand stay
};
struct RdapRefreshResult {
  RdapRefreshEnd End = RdapRefreshEnd::NotDue;
  std::string Url;
  std::string Detail;                      // why it failed, or empty where Error tells it
  std::shared_ptr<const HttpError> Error;  // the connection's failure
  std::string Publication;                 // of the file fetched
};

// Fetches the registry's file when it is due (at most once a day, a failed
// try included), within limitMs, over the shared client: no redirects, no
// cookies, the size bounded, the proxy settings honoured. The file is kept
// only when it reads as a bootstrap file of that registry with entries.
RdapRefreshResult RefreshRdapBootstrap(HttpClient& http, RdapRegistry registry, int limitMs);

}  // namespace quovix
