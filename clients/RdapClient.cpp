#include "clients/RdapClient.h"

#include <algorithm>

#include "clients/HttpClient.h"
#include "common/Deadline.h"
#include "common/IpAddress.h"
#include "common/fMain.h"
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

bool IsHttps(const std::string& url) { return LowerAscii(url.substr(0, 8)) == "https://"; }

}  // namespace

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
    x.Detail = OneLine(e.what());
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
          x.Detail = OneLine(e.what());
          return x;
        case HttpError::Kind::Protocol:
          x.End = RdapEnd::BadAnswer;
          x.Status = http.ResponseCode();
          x.Detail = e.what() == tooLarge
                         ? LangText("Main|OutRdapTooLarge",
                                    "Die RDAP-Antwort ist länger als %s1% Bytes.",
                                    {std::to_string(kRdapMaxAnswer)})
                         : OneLine(e.what());
          return x;
        case HttpError::Kind::Socket:
        case HttpError::Kind::Closed:
          // A deadline that passed during the name look-up or the
          // connection is a timeout, whatever the call reports.
          x.End = deadline.Passed() ? RdapEnd::TimedOut : RdapEnd::Unreachable;
          x.Detail = OneLine(e.what());
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
      if (IsHttps(x.Url) && !IsHttps(next)) {
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

}  // namespace quovix
