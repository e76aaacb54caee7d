// Whois tab: host information, the domain query at the responsible server
// with its referral, and the network query along the regional registries;
// RDAP first where the bootstrap files name a service, port 43 where RDAP
// has no service or fails.
#include <cstdint>
#include <functional>
#include <tuple>
#include <utility>

#include "app/formMain.h"
#include "clients/RdapBootstrap.h"
#include "clients/RdapClient.h"
#include "clients/WhoisClient.h"
#include "common/SpecialRanges.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"
#include "tools/fAddressInfo.h"
#include "tools/fHttpTools.h"

namespace quovix {

namespace {

// Value after a marker of the lower-cased answer, cut from the answer itself:
// from `skip` characters after the marker start up to the next LF. Without an
// LF the value runs to the end only when toEndAllowed.
std::string ValueAfter(const std::string& answer, size_t markerPos, size_t skip, bool toEndAllowed,
                       bool* found) {
  *found = false;
  size_t from = markerPos + skip;
  size_t lf = answer.find('\n', markerPos);
  if (lf == std::string::npos) {
    if (!toEndAllowed) return {};
    *found = true;
    return from < answer.size() ? Trim(answer.substr(from)) : std::string();
  }
  *found = true;
  return from < lf ? Trim(answer.substr(from, lf - from)) : std::string();
}

// Referral of a domain answer: the "whois server:" line (after the
// "domain name:" line of the host when the InterNIC server answered).
std::string DomainReferral(const std::string& answer, const std::string& server,
                           const std::string& host) {
  const std::string lower = LowerAscii(answer);
  size_t from = 0;
  if (server == WhoisInterNicServer) {
    size_t d = lower.find("domain name: " + LowerAscii(host) + "\r\n");
    if (d != std::string::npos) from = d;
  }
  size_t m = lower.find("whois server:", from);
  if (m == std::string::npos) return {};
  // The answer has been trimmed, so a referral on its last line has no line
  // break after it; it still counts.
  bool found;
  return ValueAfter(answer, m, 14, true, &found);
}

// Where a referral points: "host", "host:port", "whois://host:port/",
// "[v6]:port"; port 43 unless it names another (valid) one.
// Anything else after a colon belongs to the name as it came.
std::pair<std::string, int> ReferralTarget(std::string value) {
  if (size_t s = value.find("://"); s != std::string::npos) value.erase(0, s + 3);
  if (size_t slash = value.find('/'); slash != std::string::npos) value.resize(slash);
  value = Trim(value);
  size_t colon = std::string::npos;
  if (value.starts_with('[')) {
    if (size_t close = value.find(']'); close != std::string::npos && close + 1 < value.size() &&
                                        value[close + 1] == ':')
      colon = close + 1;
  } else if (CountOccurrences(value, ":") == 1) {
    colon = value.find(':');
  }
  if (colon != std::string::npos && colon > 0) {
    const std::string digits = value.substr(colon + 1);
    const int port = digits.size() <= 5 && !digits.empty() &&
                             digits.find_first_not_of("0123456789") == std::string::npos
                         ? std::stoi(digits)
                         : 0;
    if (port >= 1 && port <= 65535) return {value.substr(0, colon), port};
  }
  return {value, 43};
}

// A referral's server as its heading names it: with its port when that is
// not 43.
std::string ServerShown(const std::string& server, int port) {
  return port == 43 ? server : server + ":" + std::to_string(port);
}

// How the RDAP part of a query ended for the tool.
enum class RdapStep {
  Done,      // answered, or the registry said there is no such object
  Fallback,  // no service or a failure: port 43 as without RDAP
  Abort,     // the user aborted; the abort line is written
};

// The lines of an RDAP answer enter the pane here and nowhere else, each
// with the fields of its exchange and the field it shows.
void AppendRdapLines(TfrmMain& f, TRichEdit& pane, const RdapAnswer& answer,
                     const TLineFields& exchange) {
  for (const RdapLine& line : answer.Lines)
    f.AppendOutput(pane, line.Text, clBlack,
                   JoinFields(exchange, {{"rdap_field", line.Field}, {"value", line.Value}}));
}

}  // namespace

void TfrmMain::chkWhoisDirectQueryClick() {
  const bool direct = chkWhoisDirectQuery.Checked();
  // A typed whois server is asked on port 43.
  chkWhoisRdap.SetEnabled(!direct);
  chkWhoisCheck.SetEnabled(!direct);
  chkWhoisNetwork.SetEnabled(chkWhoisCheck.Enabled());
  lblWhoisServer.SetEnabled(direct);
  cmbWhoisServer.SetEnabled(direct);
}

void TfrmMain::btnWhoisStartClick() {
  if (ToolRunGuard::AbortClick(btnWhoisStart)) return;

  // Applied after the guard has re-enabled the controls, however the run ends.
  struct DependenciesAtEnd {
    TfrmMain& f;
    ~DependenciesAtEnd() { f.chkWhoisDirectQueryClick(); }
  } dependencies{*this};

  ToolRunGuard guard(*this, {.Start = &btnWhoisStart,
                             .Inputs = {&lblWhoisHost, &cmbWhoisHost, &lblWhoisServer,
                                        &cmbWhoisServer, &lblWhoisTimeout, &cmbWhoisTimeout,
                                        &chkWhoisRedirect, &chkWhoisDirectQuery, &chkWhoisCheck,
                                        &chkWhoisNetwork, &chkWhoisRdap},
                             .MainInput = &cmbWhoisHost,
                             .Histories = {&cmbWhoisServer},
                             .Pane = &reWhois,
                             .StatusKey = "Main|sbMainWhoisFor",
                             .StatusDefault = "Sende Whois-Anfrage für \"%s1%\"...",
                             .StatusArg = cmbWhoisHost.Text(),
                             .Abortable = true});

  TRichEdit& pane = reWhois;
  // Whether a red line (a query that found nothing, the abort) was written:
  // without one, a run that got an answer has answered, also when a maroon
  // RDAP failure came before the port-43 answer.
  bool failureLine = false;
  auto out = [&](const std::string& text, TColor c, TLineFields f = {}) {
    if (c == clRed) failureLine = true;
    AppendOutput(pane, text, c, std::move(f));
  };
  // A line with the empty line that closes its block (which carries no
  // meaning of its own, so it is black).
  auto outBlock = [&](const std::string& text, TColor c, TLineFields f = {}) {
    out(text, c, std::move(f));
    out("", clBlack);
  };
  // The exchange under way: which query of the run ("domain",
  // "domain_referral", "network", "network_referral", and the "rdap_…" ones
  // below), its server (an RDAP query's URL) and a port-43 query's port. Its
  // heading, answer and failure lines carry them.
  TLineFields exchange;
  auto asking = [&](const char* section, const std::string& server, int onPort = 0) {
    exchange = {{"section", section}, {"server", server}};
    if (onPort > 0) exchange.push_back({"port", onPort});
    return exchange;
  };
  auto answerOut = [&](const std::string& answer) {
    AppendOutputLines(pane, answer + "\r\n", clBlack, [&](const std::string& line) {
      return line.empty() ? TLineFields{} : exchange;
    });
  };
  auto checkpoint = [&] {
    if (!guard.Aborted()) return false;
    out("\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."), clRed);
    return true;
  };

  const std::string typed = cmbWhoisHost.Text();
  std::string input = Trim(typed);
  const int timeout = StrToIntDef(cmbWhoisTimeout.Text(), 2000);
  int port = 43;
  const bool direct = chkWhoisDirectQuery.Checked();

  // Exchange with the decoded, trimmed answer; a cut answer gets a red note
  // after it has been printed, one that the time limit ended a note of its
  // own (the server kept the connection open: all may or may not be there).
  WhoisExchangeInfo last;
  // The servers asked, and how many of them answered.
  int asked = 0, answered = 0;
  auto query = [&](const std::string& q, const std::string& server, int p) {
    std::string a = Trim(DecodeUtf8(WhoisQuery(q, server, timeout, chkWhoisFormat.Checked(), p, &last)));
    ++asked;
    if (!a.empty()) ++answered;
    return a;
  };
  auto noteCut = [&] {
    if (last.Truncated)
      out(LangText("Main|OutWhoisAnswerCut",
                   "Die Antwort war länger als %s1% Bytes; der Rest wurde verworfen.",
                   {std::to_string(kWhoisMaxAnswer)}),
          clRed, JoinFields(exchange, {{"reason", "truncated"}}));
    else if (last.LinesCut)
      out(LangText("Main|OutWhoisAnswerLinesCut",
                   "Die Antwort hatte mehr als %s1% Zeilen; der Rest wurde verworfen.",
                   {std::to_string(kWhoisMaxLines)}),
          clRed, JoinFields(exchange, {{"reason", "truncated"}}));
    if (last.End == TWhoisEnd::TimeLimit)
      out(LangText("Main|OutWhoisNotClosed",
                   "Der Server hat die Verbindung bis zum Zeitlimit offen gehalten; die Antwort "
                   "ist das, was bis dahin ankam."),
          clMaroon, JoinFields(exchange, {{"reason", "time_limit"}}));
  };
  // An exchange without an answer says why: a refused or failed connection
  // at once with the server named; the time limit, and a server that closed
  // without a usable answer, in the words the caller gives.
  auto noAnswer = [&](const std::string& server, const std::string& timeLimitLine) {
    auto serverLine = [&](const char* key, const char* german, const char* reason) {
      outBlock(LangText(key, german, {server}), clRed, JoinFields(exchange, {{"reason", reason}}));
    };
    switch (last.End) {
      case TWhoisEnd::Aborted:
        return;  // the checkpoint after the exchange says it
      case TWhoisEnd::TimeLimit:
        outBlock(timeLimitLine, clRed, JoinFields(exchange, {{"reason", "timeout"}}));
        return;
      case TWhoisEnd::Closed:
      case TWhoisEnd::Complete:
        outBlock(timeLimitLine, clRed, JoinFields(exchange, {{"reason", "no_answer"}}));
        return;
      case TWhoisEnd::NotFound:
        return serverLine("Main|OutWhoisServerNotFound",
                          "Der Server \"%s1%\" wurde nicht gefunden.", "not_found");
      case TWhoisEnd::Refused:
        return serverLine("Main|OutWhoisServerRefused",
                          "Der Server \"%s1%\" hat die Verbindung abgelehnt.", "refused");
      case TWhoisEnd::Unreachable:
        return serverLine("Main|OutWhoisServerUnreachable",
                          "Der Server \"%s1%\" ist nicht erreichbar.", "unreachable");
    }
  };

  // RDAP: one query with its heading and what came of it; section names the
  // query of the run ("rdap_domain", "rdap_registrar", "rdap_network",
  // "rdap_autnum") for the line fields. A 404 and a 429 are red lines of
  // their own; every other failure a maroon line that says why, after which
  // the caller asks on port 43.
  const bool rdap = chkWhoisRdap.Checked() && !direct;
  auto rdapAsk = [&](const char* section, const std::string& heading, const std::string& object,
                     const std::string& url, bool trustNotFound = true) {
    outBlock(heading, clBlue, asking(section, url));
    RdapExchange x =
        RdapQuery(IdHTTP, url, timeout, {.WithNotices = !chkWhoisFormat.Checked()});
    ++asked;
    std::string line;
    const char* reason = "";
    TColor colour = clMaroon;
    switch (x.End) {
      case RdapEnd::Answered:
        ++answered;
        AppendRdapLines(*this, pane, x.Answer, exchange);
        out("", clBlack);
        return x;
      case RdapEnd::Aborted:
        return x;  // the checkpoint after the exchange says it
      case RdapEnd::NotFound:
        if (!trustNotFound) {
          // The service comes from an old bootstrap file: it may no longer
          // hold such objects at all, so port 43 is asked.
          reason = "stale_bootstrap";
          line = LangText("Main|OutWhoisRdapNotFoundStale",
                          "RDAP: \"%s1%\" kennt \"%s2%\" nicht (HTTP 404); die Bootstrap-Datei "
                          "ist nicht aktuell, daher wird Port 43 gefragt.",
                          {x.Url, object});
          break;
        }
        ++answered;  // the registry's verdict
        colour = clRed;
        reason = "not_found";
        line = LangText("Main|OutWhoisRdapNotFound",
                        "RDAP: Zu \"%s1%\" ist nichts registriert (HTTP 404, nicht gefunden).",
                        {object});
        break;
      case RdapEnd::RateLimited:
        colour = clRed;
        reason = "rate_limited";
        line = LangText("Main|OutWhoisRdapRateLimited",
                        "RDAP: \"%s1%\" nimmt vorerst keine weiteren Anfragen an (HTTP 429, "
                        "zu viele Anfragen).",
                        {x.Url});
        break;
      case RdapEnd::HttpStatus:
        reason = "http_status";
        line = LangText("Main|OutWhoisRdapHttpError",
                        "RDAP: \"%s1%\" antwortete mit \"%s2%\".", {x.Url, x.Detail});
        break;
      case RdapEnd::BadAnswer:
        reason = "bad_answer";
        line = LangText("Main|OutWhoisRdapBadAnswer",
                        "RDAP: Die Antwort von \"%s1%\" ist unbrauchbar: %s2%", {x.Url, x.Detail});
        break;
      case RdapEnd::Redirects:
        reason = "redirects";
        line = LangText("Main|OutWhoisRdapRedirects",
                        "RDAP: \"%s1%\" leitet ohne Ende oder ohne Ziel um (höchstens %s2% "
                        "Umleitungen).",
                        {x.Url, std::to_string(kRdapMaxRedirects)});
        break;
      case RdapEnd::Downgrade:
        reason = "downgrade";
        line = LangText("Main|OutWhoisRdapDowngrade",
                        "RDAP: Der Umleitung von \"%s1%\" auf das unverschlüsselte \"%s2%\" "
                        "wird nicht gefolgt.",
                        {x.Url, x.Detail});
        break;
      case RdapEnd::TimedOut:
        reason = "timeout";
        line = LangText("Main|OutWhoisRdapTimeout",
                        "RDAP: Keine Antwort von \"%s1%\" innerhalb des Zeitlimits.", {x.Url});
        break;
      case RdapEnd::TlsFailed:
        reason = "tls";
        line = LangText("Main|OutWhoisRdapTlsFailed",
                        "RDAP: Sichere Verbindung zu \"%s1%\" fehlgeschlagen: %s2%",
                        {x.Url, x.Detail});
        break;
      case RdapEnd::Unreachable:
        reason = "unreachable";
        line = LangText("Main|OutWhoisRdapUnreachable",
                        "RDAP: \"%s1%\" ist nicht erreichbar: %s2%",
                        {x.Url, x.Error ? DescribeHttpFailure(*x.Error).Text : x.Detail});
        break;
    }
    outBlock(line, colour, JoinFields(exchange, {{"reason", reason}}));
    return x;
  };
  // The bootstrap file of a registry, refreshed when it is due, before the
  // service for a query is looked up in it; the notes say what came of it.
  auto refreshBootstrap = [&](RdapRegistry registry) {
    const RdapRefreshResult r = RefreshRdapBootstrap(IdHTTP, registry, timeout);
    if (r.End == RdapRefreshEnd::Fetched)
      out(LangText("Main|OutWhoisRdapBootstrapFetched",
                   "RDAP: Bootstrap-Datei \"%s1%\" erneuert (Stand %s2%).", {r.Url, r.Publication}),
          clNavy, {{"section", "rdap_bootstrap"}, {"server", r.Url}});
    else if (r.End == RdapRefreshEnd::Failed)
      out(LangText("Main|OutWhoisRdapBootstrapFailed",
                   "RDAP: Bootstrap-Datei \"%s1%\" nicht erneuert: %s2% Es gilt die vorhandene "
                   "(Stand %s3%).",
                   {r.Url, r.Error ? DescribeHttpFailure(*r.Error).Text + "." : r.Detail,
                    RdapBootstrapPublication(registry)}),
          clNavy, {{"section", "rdap_bootstrap"}, {"server", r.Url}, {"reason", "bootstrap_failed"}});
  };
  // The query of an object at the service the bootstrap names for it (base,
  // empty when none); rdapLast receives the exchange.
  RdapExchange rdapLast;
  auto rdapAt = [&](const char* section, const std::string& object, RdapRegistry registry,
                    const std::string& base, const std::string& url) {
    rdapLast = RdapExchange{};
    if (base.empty()) {
      // No fault: many registries offer port 43 only, which is asked next.
      outBlock(LangText("Main|OutWhoisRdapNoService",
                        "RDAP: Für \"%s1%\" ist kein RDAP-Dienst bekannt.", {object}),
               clNavy, {{"section", section}, {"reason", "no_service"}});
      return RdapStep::Fallback;
    }
    const bool trusted = RdapBootstrapIsCurrent(registry);
    rdapLast = rdapAsk(section,
                       LangText("Main|OutWhoisRdapQuery",
                                "RDAP-Anfrage für \"%s1%\" bei \"%s2%\":", {object, base}),
                       object, url, trusted);
    if (checkpoint()) return RdapStep::Abort;
    return rdapLast.End == RdapEnd::Answered || (rdapLast.End == RdapEnd::NotFound && trusted)
               ? RdapStep::Done
               : RdapStep::Fallback;
  };

  out(LangText("Main|OutWhoisInfo", "Host-Informationen für \"%s1%\":", {typed}), clBlue);
  std::string idn;

  // The address of either family: an IPv6 one in its RFC 5952 form, as the
  // registries' queries want it; a name's first IPv4 address, else its
  // first IPv6 one.
  std::string host, address;
  struct Summary {
    TfrmMain& f;
    const std::string &query, &host, &address;
    const int &asked, &answered;
    const bool& failureLine;
    ~Summary() {
      if (answered > 0 && !failureLine) f.SetToolAnswered(pgWhois);
      f.SetToolResult(pgWhois, {{"query", query},
                                {"host_name", host},
                                {"address", address},
                                {"servers_asked", asked},
                                {"answers", answered}});
    }
  } summary{*this, input, host, address, asked, answered, failureLine};
  if (!EncodeHostOrSay(pane, input, idn)) return;
  if (idn != input) {
    out(LangText("Main|OutWhoisInfoIdnEncoded", "  IDN-kodiert: %s1%", {idn}), clNavy);
    input = idn;
  }

  // An AS number ("AS64500") is asked of the registry that the bootstrap
  // names for it; there is no port-43 path for it.
  if (std::uint32_t asn = 0; rdap && ParseAsNumber(input, asn)) {
    const std::string as = "AS" + std::to_string(asn);
    out(LangText("Main|OutWhoisInfoAsNumber", "  AS-Nummer:   %s1%", {as}), clNavy);
    out("", clBlack);
    if (checkpoint()) return;
    refreshBootstrap(RdapRegistry::Asn);
    const std::string base = RdapBaseUrlForAsn(asn);
    if (rdapAt("rdap_autnum", as, RdapRegistry::Asn, base, RdapAsnUrl(base, asn)) == RdapStep::Abort)
      return;
    out(LangText("Main|OutWhoisQueriesDone", "Anfragen beendet."), clBlue);
    return;
  }

  const bool typedAddress = !IsHostName(input);
  if (typedAddress) {
    address = CanonicalAddress(input);
    host = ResolveIpToHost(address, NameResTimeout);
  } else {
    host = input;
    address = ResolveHostToAddress(host, NameResTimeout, false);
  }
  out(LangText("Main|OutWhoisInfoHostName", "  Hostname:    %s1%", {host}), clNavy);
  out(LangText("Main|OutWhoisInfoIpAddr", "  IP-Adresse:  %s1%", {address}), clNavy);
  AppendPlaceLines(*this, pane, address);

  std::string server;
  if (chkWhoisCheck.Checked() && !direct) {
    host = RegisteredDomain(host, SldList);
    out(LangText("Main|OutWhoisInfoDomainName", "  Domainname:  %s1%", {host}), clNavy);
  } else {
    auto [s, p] = SplitUrlPort(Trim(cmbWhoisServer.Text()));
    if (!EncodeHostOrSay(pane, s, server)) return;
    port = p == -1 ? 43 : p;
  }

  std::string tld;
  TldInfo info;
  if (!direct) {
    tld = LastLabel(host);
    out(LangText("Main|OutWhoisInfoTLD", "  Top-Level:   %s1%", {UpperAscii(tld)}), clNavy);
    info = LookupTld(tld);
    if (!info.CountryEn.empty())
      out(LangText("Main|OutWhoisInfoCountryEN", "  Land (EN):   %s1%", {info.CountryEn}), clNavy);
    if (!info.CountryDe.empty())
      out(LangText("Main|OutWhoisInfoCountryDE", "  Land (DE):   %s1%", {info.CountryDe}), clNavy);
    if (info.Kind == "W" && !info.Target.empty()) {
      out(LangText("Main|OutWhoisInfoServer", "  Server:      %s1%", {info.Target}), clNavy);
      server = info.Target;
    }
    if (info.Kind == "L")
      out(LangText("Main|OutWhoisInfoLink", "  Abfragelink: %s1%", {info.Target}), clNavy);
  }
  out("", clBlack);

  if (server.empty() &&
      (SameTextAscii(tld, "COM") || SameTextAscii(tld, "NET") || SameTextAscii(tld, "EDU"))) {
    server = WhoisInterNicServer;
    info.QueryPrefix = "=";
    info.QuerySuffix.clear();
  }
  if (checkpoint()) return;

  // RDAP for the registrable domain, and the registrar's link from the
  // registry's answer. A name from the server box path (no domain check)
  // goes to port 43.
  auto rdapDomain = [&] {
    if (!rdap || !chkWhoisCheck.Checked() || host.empty() || !IsHostName(host))
      return RdapStep::Fallback;
    refreshBootstrap(RdapRegistry::Dns);
    const std::string base = RdapBaseUrlForDomain(host);
    const RdapStep step =
        rdapAt("rdap_domain", host, RdapRegistry::Dns, base, RdapDomainUrl(base, host));
    if (step != RdapStep::Done || rdapLast.End != RdapEnd::Answered) return step;
    const std::string related = rdapLast.Answer.RelatedUrl;
    if (chkWhoisRedirect.Checked() && !related.empty() && related != rdapLast.Url &&
        IsHttpsUrl(rdapLast.Url) && !IsHttpsUrl(related)) {
      // As for redirects: an answer that came verified is not continued in
      // the clear, where anyone on the way could change it.
      outBlock(LangText("Main|OutWhoisRdapLinkDowngrade",
                        "RDAP: Dem Verweis von \"%s1%\" auf das unverschlüsselte \"%s2%\" "
                        "wird nicht gefolgt.",
                        {rdapLast.Url, related}),
               clMaroon, {{"section", "rdap_registrar"}, {"server", related}, {"reason", "downgrade"}});
    } else if (chkWhoisRedirect.Checked() && !related.empty() && related != rdapLast.Url) {
      rdapAsk("rdap_registrar",
              LangText("Main|OutWhoisRdapRedirect",
                       "Umgeleitete RDAP-Anfrage für \"%s1%\" bei \"%s2%\":", {host, related}),
              host, related);
      if (checkpoint()) return RdapStep::Abort;
    }
    return RdapStep::Done;
  };

  // Domain query.
  const RdapStep rdapDomainStep = rdapDomain();
  if (rdapDomainStep == RdapStep::Abort) return;
  if (rdapDomainStep == RdapStep::Done) {
    // RDAP answered, or the registry holds no such domain: no port-43 query.
  } else if (!host.empty() && !server.empty() && IsHostName(host)) {
    outBlock(LangText("Main|OutWhoisDomainQuery", "Domainanfrage für \"%s1%\" bei \"%s2%\":",
                      {host, server}),
             clBlue, asking("domain", server, port));
    std::string answer = query(info.QueryPrefix + host + info.QuerySuffix, server, port);
    if (!answer.empty()) {
      answerOut(answer);
      noteCut();
    } else {
      noAnswer(server, LangText("Main|OutWhoisTimoutAbort", "Nach Zeitüberschreitung abgebrochen."));
    }
    if (checkpoint()) return;
    if (chkWhoisRedirect.Checked()) {
      std::tie(server, port) = ReferralTarget(DomainReferral(answer, server, host));
      if (!server.empty()) {
        outBlock(LangText("Main|OutWhoisDomainQueryRedirected",
                          "Umgeleitete Domainanfrage für \"%s1%\" bei \"%s2%\":",
                          {host, ServerShown(server, port)}),
                 clBlue, asking("domain_referral", server, port));
        answer = query(host, server, port);
        if (!answer.empty()) {
          answerOut(answer);
          noteCut();
        } else {
          noAnswer(server,
                   LangText("Main|OutWhoisTimoutAbort", "Nach Zeitüberschreitung abgebrochen."));
        }
      }
    }
    if (checkpoint()) return;
  } else {
    // For an address without a domain to ask about, the network query is
    // what was asked for: a note, no failure.
    outBlock(LangText("Main|OutWhoisQueryNotPos", "Domainanfrage nicht möglich."),
             typedAddress ? clNavy : clRed, {{"section", "domain"}, {"reason", "not_possible"}});
  }

  // Network query: RDAP at the registry the bootstrap names for the address
  // (which redirects to the holder), else along the regional registries.
  auto rdapNetwork = [&] {
    const RdapRegistry registry = RdapRegistryForAddress(address);
    refreshBootstrap(registry);
    const std::string base = RdapBaseUrlForAddress(address);
    return rdapAt("rdap_network", address, registry, base, RdapAddressUrl(base, address));
  };
  if (chkWhoisNetwork.Checked() && !direct) {
    if (address.empty()) {
      outBlock(LangText("Main|OutWhoisNetworkQueryNotPos", "Netzwerkanfrage nicht möglich."),
               clRed, {{"section", "network"}, {"reason", "not_possible"}});
    } else if (const SpecialRangeMatch local = FindSpecialRange(address); IsLocalRange(local.Kind)) {
      // No registry hands such an address out, so none can say who holds it.
      outBlock(LangText("Main|OutWhoisNetworkLocalRange",
                        "Keine Netzwerkanfrage: \"%s1%\" gehört zum Bereich %s2% %s3%, den keine "
                        "Registry vergibt.",
                        {address, local.Prefix, SpecialRangeText(local.Kind)}),
               clNavy,
               {{"section", "network"},
                {"reason", "local_range"},
                {"special_range", SpecialRangeName(local.Kind)},
                {"range", local.Prefix}});
    } else if (const RdapStep r = rdap ? rdapNetwork() : RdapStep::Fallback;
               r != RdapStep::Fallback) {
      if (r == RdapStep::Abort) return;
    } else {
      std::string answer;
      server.clear();
      port = 43;
      NetworkRegistry reg;
      auto ask = [&](const char* handle) {
        if (!answer.empty() || !server.empty()) return;
        LookupNetworkRegistry(handle, reg);
        outBlock(LangText("Main|OutWhoisNetworkQuery", "Netzwerkanfrage für \"%s1%\" bei \"%s2%\":",
                          {address, reg.Server}),
                 clBlue, asking("network", reg.Server, 43));
        answer = query(reg.QueryPrefix + address + reg.QuerySuffix, reg.Server, 43);
        if (!answer.empty()) {
          answerOut(answer);
          noteCut();
        } else {
          noAnswer(reg.Server, LangText("Main|OutWhoisNetworkTimeoutAborted",
                                        "Anfrage bei \"%s1%\" wurde nach Zeitüberschreitung "
                                        "abgebrochen.",
                                        {reg.Server}));
        }
      };
      const bool redirect = chkWhoisRedirect.Checked();

      ask("NET-ARIN");
      if (checkpoint()) return;
      if (redirect && !answer.empty()) {
        const std::string lower = LowerAscii(answer);
        if (size_t m = lower.find("referralserver:"); m != std::string::npos) {
          bool found;
          std::tie(server, port) = ReferralTarget(ValueAfter(answer, m, 15, true, &found));
        }
      }
      ask("NET-APNIC");
      if (checkpoint()) return;
      if (redirect && !answer.empty()) {
        const std::string lower = LowerAscii(answer);
        if (size_t m = lower.find("command line:"); m != std::string::npos) {
          bool found;
          std::string v = ValueAfter(answer, m, 13, false, &found);
          if (found) server = v;
        }
      }
      ask("NET-LACNIC");
      if (checkpoint()) return;
      ask("NET-RIPE");
      if (checkpoint()) return;

      if (!server.empty()) {
        outBlock(LangText("Main|OutWhoisNetworkQuery",
                          "Umgeleitete Netzwerkanfrage für \"%s1%\" bei \"%s2%\":",
                          {address, ServerShown(server, port)}),
                 clBlue, asking("network_referral", server, port));
        answer = query(address, server, port);
        answerOut(answer);
        if (!answer.empty()) noteCut();
        if (checkpoint()) return;
      }
      if (answer.empty())
        out(LangText("Main|OutWhoisNoInfoAvailable", "Keine Informationen verfügbar."), clRed,
            {{"section", "network"}, {"reason", "no_information"}});
    }
  }

  out(LangText("Main|OutWhoisQueriesDone", "Anfragen beendet."), clBlue);
}

}  // namespace quovix
