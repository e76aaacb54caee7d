#include "clients/RdapClient.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>

#include "clients/HttpClient.h"
#include "common/Deadline.h"
#include "common/IpAddress.h"
#include "common/fMain.h"
#include "common/fRangePack.h"
#include "shell/fLanguage.h"

namespace quovix {

namespace {

// The client's settings of one request, put back however the query ends:
// the client belongs to all HTTP tools.
struct SavedRequestSettings {
  HttpClient& http;
  std::string accept = http.Accept;
  bool redirects = http.HandleRedirects;
  bool cookies = http.AllowCookies;
  size_t maxBody = http.Limits.MaxBodyBytes;
  int connectTimeout = http.ConnectTimeout;
  int readTimeout = http.ReadTimeout;
  ~SavedRequestSettings() {
    if (http.Connected()) http.Disconnect();
    http.Accept = accept;
    http.HandleRedirects = redirects;
    http.AllowCookies = cookies;
    http.Limits.MaxBodyBytes = maxBody;
    http.ConnectTimeout = connectTimeout;
    http.ReadTimeout = readTimeout;
  }
};

// The client's error text on one line.
std::string OneLine(const std::string& text) {
  std::string out = text;
  for (size_t p; (p = out.find("\r\n")) != std::string::npos;) out.replace(p, 2, ": ");
  std::replace(out.begin(), out.end(), '\n', ' ');
  return Trim(out);
}

// Why a TLS handshake or an answer failed, in the program's own words: the
// client's texts are English library texts, which have no place in
// translated output. Connection failures are told by the tools
// (DescribeHttpFailure) from the error the exchange keeps.
std::string ReasonText(const HttpError& e) {
  if (e.kind() == HttpError::Kind::Tls) {
    if (std::string(e.what()).find("verification") != std::string::npos)
      return LangText("Main|OutRdapReasonCertificate",
                      "Das Zertifikat des Servers wurde nicht bestätigt.");
    return LangText("Main|OutRdapReasonTls", "Der TLS-Handshake ist gescheitert.");
  }
  return LangText("Main|OutRdapReasonProtocol", "Die Antwort verletzt das HTTP-Protokoll.");
}

}  // namespace

bool IsHttpsUrl(const std::string& url) { return LowerAscii(url.substr(0, 8)) == "https://"; }

std::string RdapDomainUrl(const std::string& base, const std::string& aLabel) {
  std::string name = LowerAscii(aLabel);
  while (!name.empty() && name.back() == '.') name.pop_back();
  return base + "domain/" + name;
}

std::string RdapAddressUrl(const std::string& base, const std::string& address) {
  const IpAddress a = IpAddress::Parse(Trim(address));
  if (a.Empty()) return base + "ip/" + Trim(address);
  // A zone names an interface of this computer; no registry knows it.
  return base + "ip/" + (a.IsV6() ? IpAddress::FromV6(a.Bytes()).ToString() : a.ToString());
}

std::string RdapAsnUrl(const std::string& base, std::uint32_t asn) {
  return base + "autnum/" + std::to_string(asn);
}

RdapExchange RdapQuery(HttpClient& http, const std::string& url, int limitMs,
                       const RdapRenderOptions& options) {
  RdapExchange x;
  x.Url = url;
  try {
    (void)ParseHttpUrl(url);
  } catch (const HttpError& e) {
    // A base URL of a bootstrap file that the client cannot use.
    x.Error = std::make_shared<const HttpError>(e);
    return x;
  }
  const Deadline deadline = Deadline::In(limitMs);
  SavedRequestSettings saved{http};
  http.Accept = kRdapMediaType;
  // Hop by hop here, so that the whole walk keeps one limit and a redirect
  // cannot take a verified HTTPS query to plain HTTP.
  http.HandleRedirects = false;
  http.AllowCookies = false;
  http.Limits.MaxBodyBytes = kRdapMaxAnswer;
  ApplyProxyOptions(http);
  const std::string tooLarge = HttpError::Malformed("body too large").what();

  for (int redirects = 0;; ++redirects) {
    if (deadline.Passed()) {
      x.End = RdapEnd::TimedOut;
      return x;
    }
    http.ConnectTimeout = http.ReadTimeout = std::max(1, deadline.LeftMs());
    http.ClearResponse();
    std::string body;
    try {
      body = http.Get(x.Url);
    } catch (const HttpError& e) {
      switch (e.kind()) {
        case HttpError::Kind::Aborted:
          x.End = RdapEnd::Aborted;
          return x;
        case HttpError::Kind::ConnectTimeout:
        case HttpError::Kind::ReadTimeout:
          x.End = RdapEnd::TimedOut;
          return x;
        case HttpError::Kind::Tls:
          x.End = RdapEnd::TlsFailed;
          x.Detail = ReasonText(e);
          return x;
        case HttpError::Kind::Protocol:
          x.End = RdapEnd::BadAnswer;
          x.Status = http.ResponseCode();
          x.Detail = e.what() == tooLarge
                         ? LangText("Main|OutRdapTooLarge",
                                    "Die RDAP-Antwort ist länger als %s1% Bytes.",
                                    {std::to_string(kRdapMaxAnswer)})
                         : ReasonText(e);
          return x;
        case HttpError::Kind::Socket:
        case HttpError::Kind::Closed:
          // A deadline that passed during the name look-up or the
          // connection is a timeout, whatever the call reports.
          x.End = deadline.Passed() ? RdapEnd::TimedOut : RdapEnd::Unreachable;
          x.Error = std::make_shared<const HttpError>(e);
          return x;
        case HttpError::Kind::Status:
          break;  // looked at below
      }
    }
    x.Status = http.ResponseCode();
    if (x.Status >= 300 && x.Status <= 399) {
      const std::string next = http.Response.Location;
      if (next.empty() || redirects >= kRdapMaxRedirects) {
        x.End = RdapEnd::Redirects;
        x.Detail = OneLine(http.ResponseText());
        return x;
      }
      if (IsHttpsUrl(x.Url) && !IsHttpsUrl(next)) {
        x.End = RdapEnd::Downgrade;
        x.Detail = next;
        return x;
      }
      try {
        (void)ParseHttpUrl(next);
      } catch (const HttpError&) {
        x.End = RdapEnd::Redirects;
        x.Detail = OneLine(http.ResponseText());
        return x;
      }
      x.Url = next;
      continue;
    }
    if (x.Status == 404) {
      x.End = RdapEnd::NotFound;
      return x;
    }
    if (x.Status == 429) {
      x.End = RdapEnd::RateLimited;
      return x;
    }
    if (x.Status < 200 || x.Status > 299) {
      x.End = RdapEnd::HttpStatus;
      x.Detail = OneLine(http.ResponseText());
      return x;
    }
    x.Answer = RenderRdapAnswer(body, options);
    if (!x.Answer.Ok) {
      x.End = RdapEnd::BadAnswer;
      x.Detail = x.Answer.Refusal;
      return x;
    }
    x.End = RdapEnd::Answered;
    return x;
  }
}

RdapRefreshResult RefreshRdapBootstrap(HttpClient& http, RdapRegistry registry, int limitMs) {
  RdapRefreshResult r;
  const std::string file = RdapBootstrapCachePath(registry);
  if (RdapBootstrapUrl.empty() || file.empty()) return r;
  // The time of the last try is the stamp file's modification time; one in
  // the future (a clock set back) does not hold the refresh off.
  const std::string stampFile = file + ".tried";
  struct stat st {};
  const std::time_t now = std::time(nullptr);
  if (::stat(stampFile.c_str(), &st) == 0 && st.st_mtim.tv_sec <= now &&
      now - st.st_mtim.tv_sec < kRdapBootstrapRefreshSeconds)
    return r;
  if (!WriteFileAtomically(stampFile, std::to_string(now) + "\n")) return r;

  std::string base = RdapBootstrapUrl;
  if (base.back() != '/') base += '/';
  const std::string name = RdapBootstrapFileName(registry);
  r.Url = base + name.substr(name.rfind('/') + 1);
  r.End = RdapRefreshEnd::Failed;
  SavedRequestSettings saved{http};
  http.Accept = "application/json";
  http.HandleRedirects = false;
  http.AllowCookies = false;
  http.Limits.MaxBodyBytes = kRdapMaxBootstrapBytes;
  http.ConnectTimeout = http.ReadTimeout = std::max(1, limitMs);
  ApplyProxyOptions(http);
  http.ClearResponse();
  std::string body;
  try {
    body = http.Get(r.Url);
  } catch (const HttpError& e) {
    if (e.kind() == HttpError::Kind::Status)
      r.Detail = OneLine(http.ResponseText());
    else if (e.kind() == HttpError::Kind::Tls || e.kind() == HttpError::Kind::Protocol)
      r.Detail = ReasonText(e);
    else
      r.Error = std::make_shared<const HttpError>(e);
    return r;
  }
  if (http.ResponseCode() != 200) {
    r.Detail = OneLine(http.ResponseText());
    return r;
  }
  const RdapBootstrap parsed = RdapBootstrap::Parse(body, registry);
  if (!parsed.Valid() || parsed.Entries() == 0) {
    r.Detail = LangText("Main|OutRdapBootstrapUnusable", "Die Datei ist keine RDAP-Bootstrap-Datei.");
    return r;
  }
  if (!WriteFileAtomically(file, body)) {
    r.Detail = LangText("Main|OutRdapBootstrapNotKept",
                        "Die Datei kann im Cache-Ordner nicht abgelegt werden.");
    return r;
  }
  r.End = RdapRefreshEnd::Fetched;
  r.Publication = parsed.Publication();
  return r;
}

}  // namespace quovix
