// Whois tab: host information, the domain query at the responsible server
// with its referral, and the network query along the regional registries;
// RDAP first where the bootstrap files name a service, port 43 where RDAP
// has no service or fails.
#include <cstdint>
#include <functional>

#include "app/formMain.h"
#include "clients/RdapBootstrap.h"
#include "clients/RdapClient.h"
#include "clients/WhoisClient.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"

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
  auto out = [&](const std::string& text, TColor c, TLineFields f = {}) {
    AppendOutput(pane, text, c, std::move(f));
  };
  // The exchange under way: which query of the run ("domain",
  // "domain_referral", "network", "network_referral", and the "rdap_…" ones
  // below) and its server (an RDAP query's URL). Its heading, answer and
  // failure lines carry them.
  TLineFields exchange;
  auto asking = [&](const char* section, const std::string& server) {
    exchange = {{"section", section}, {"server", server}};
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
  std::string input = Cut(Trim(typed), 256);
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
      out(LangText(key, german, {server}) + "\r\n", clRed,
          JoinFields(exchange, {{"reason", reason}}));
    };
    switch (last.End) {
      case TWhoisEnd::Aborted:
        return;  // the checkpoint after the exchange says it
      case TWhoisEnd::TimeLimit:
        out(timeLimitLine + "\r\n", clRed, JoinFields(exchange, {{"reason", "timeout"}}));
        return;
      case TWhoisEnd::Closed:
      case TWhoisEnd::Complete:
        out(timeLimitLine + "\r\n", clRed, JoinFields(exchange, {{"reason", "no_answer"}}));
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
                     const std::string& url) {
    out(heading + "\r\n", clBlue, asking(section, url));
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
                        "RDAP: \"%s1%\" ist nicht erreichbar: %s2%", {x.Url, x.Detail});
        break;
    }
    out(line + "\r\n", colour, JoinFields(exchange, {{"reason", reason}}));
    return x;
  };
  // The query of an object at the service the bootstrap names for it (base,
  // empty when none); rdapLast receives the exchange.
  RdapExchange rdapLast;
  auto rdapAt = [&](const char* section, const std::string& object, const std::string& base,
                    const std::string& url) {
    rdapLast = RdapExchange{};
    if (base.empty()) {
      out(LangText("Main|OutWhoisRdapNoService",
                   "RDAP: Für \"%s1%\" ist kein RDAP-Dienst bekannt.", {object}) + "\r\n",
          clMaroon, {{"section", section}, {"reason", "no_service"}});
      return RdapStep::Fallback;
    }
    rdapLast = rdapAsk(section,
                       LangText("Main|OutWhoisRdapQuery",
                                "RDAP-Anfrage für \"%s1%\" bei \"%s2%\":", {object, base}),
                       object, url);
    if (checkpoint()) return RdapStep::Abort;
    return rdapLast.End == RdapEnd::Answered || rdapLast.End == RdapEnd::NotFound
               ? RdapStep::Done
               : RdapStep::Fallback;
  };

  out(LangText("Main|OutWhoisInfo", "Host-Informationen für \"%s1%\":", {typed}), clBlue);
  std::string idn;
  if (!TryEncodeIdn(input, idn)) return AppendIdnFailure(pane, input);
  idn = Cut(idn, 256);
  if (idn != input) {
    out(LangText("Main|OutWhoisInfoIdnEncoded", "  IDN-kodiert: %s1%", {idn}), clNavy);
    input = idn;
  }

  // The address of either family: an IPv6 one in its RFC 5952 form, as the
  // registries' queries want it; a name's first IPv4 address, else its
  // first IPv6 one.
  std::string host, address;
  struct Summary {
    TfrmMain& f;
    const std::string &query, &host, &address;
    const int &asked, &answered;
    ~Summary() {
      f.SetToolResult(pgWhois, {{"query", query},
                                {"host_name", host},
                                {"address", address},
                                {"servers_asked", asked},
                                {"answers", answered}});
    }
  } summary{*this, input, host, address, asked, answered};

  // An AS number ("AS64500") is asked of the registry that the bootstrap
  // names for it; there is no port-43 path for it.
  if (std::uint32_t asn = 0; rdap && ParseAsNumber(input, asn)) {
    const std::string as = "AS" + std::to_string(asn);
    out(LangText("Main|OutWhoisInfoAsNumber", "  AS-Nummer:   %s1%", {as}), clNavy);
    out("", clBlack);
    if (checkpoint()) return;
    const std::string base = RdapBaseUrlForAsn(asn);
    if (rdapAt("rdap_autnum", as, base, RdapAsnUrl(base, asn)) == RdapStep::Abort) return;
    out(LangText("Main|OutWhoisQueriesDone", "Anfragen beendet."), clBlue);
    return;
  }

  if (!IsHostName(input)) {
    address = CanonicalAddress(input);
    host = ResolveIpToHost(address, NameResTimeout);
  } else {
    host = input;
    address = ResolveHostToAddress(host, NameResTimeout, false);
  }
  out(LangText("Main|OutWhoisInfoHostName", "  Hostname:    %s1%", {host}), clNavy);
  out(LangText("Main|OutWhoisInfoIpAddr", "  IP-Adresse:  %s1%", {address}), clNavy);
  const std::string country = LookupIpCountry(address);
  if (!country.empty()) out(LangText("Main|OutInfoCountry", "  Land:        %s1%", {country}), clNavy);

  std::string server;
  if (chkWhoisCheck.Checked() && !direct) {
    host = RegisteredDomain(host, SldList);
    out(LangText("Main|OutWhoisInfoDomainName", "  Domainname:  %s1%", {host}), clNavy);
  } else {
    auto [s, p] = SplitUrlPort(Trim(Cut(cmbWhoisServer.Text(), 256)));
    server = s;
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
    const std::string base = RdapBaseUrlForDomain(host);
    const RdapStep step = rdapAt("rdap_domain", host, base, RdapDomainUrl(base, host));
    if (step != RdapStep::Done || rdapLast.End != RdapEnd::Answered) return step;
    const std::string related = rdapLast.Answer.RelatedUrl;
    if (chkWhoisRedirect.Checked() && !related.empty() && related != rdapLast.Url) {
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
    out(LangText("Main|OutWhoisDomainQuery", "Domainanfrage für \"%s1%\" bei \"%s2%\":",
                 {host, server}) + "\r\n",
        clBlue, asking("domain", server));
    std::string answer = query(info.QueryPrefix + host + info.QuerySuffix, server, port);
    if (!answer.empty()) {
      answerOut(answer);
      noteCut();
    } else {
      noAnswer(server, LangText("Main|OutWhoisTimoutAbort", "Nach Zeitüberschreitung abgebrochen."));
    }
    if (checkpoint()) return;
    if (chkWhoisRedirect.Checked()) {
      server = DomainReferral(answer, server, host);
      if (!server.empty()) {
        out(LangText("Main|OutWhoisDomainQueryRedirected",
                     "Umgeleitete Domainanfrage für \"%s1%\" bei \"%s2%\":", {host, server}) +
                "\r\n",
            clBlue, asking("domain_referral", server));
        answer = query(host, server, 43);
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
    out(LangText("Main|OutWhoisQueryNotPos", "Domainanfrage nicht möglich.") + "\r\n", clRed,
        {{"section", "domain"}, {"reason", "not_possible"}});
  }

  // Network query: RDAP at the registry the bootstrap names for the address
  // (which redirects to the holder), else along the regional registries.
  auto rdapNetwork = [&] {
    const std::string base = RdapBaseUrlForAddress(address);
    return rdapAt("rdap_network", address, base, RdapAddressUrl(base, address));
  };
  if (chkWhoisNetwork.Checked() && !direct) {
    if (address.empty()) {
      out(LangText("Main|OutWhoisNetworkQueryNotPos", "Netzwerkanfrage nicht möglich.") + "\r\n",
          clRed, {{"section", "network"}, {"reason", "not_possible"}});
    } else if (const RdapStep r = rdap ? rdapNetwork() : RdapStep::Fallback;
               r != RdapStep::Fallback) {
      if (r == RdapStep::Abort) return;
    } else {
      std::string answer;
      server.clear();
      NetworkRegistry reg;
      auto ask = [&](const char* handle) {
        if (!answer.empty() || !server.empty()) return;
        LookupNetworkRegistry(handle, reg);
        out(LangText("Main|OutWhoisNetworkQuery", "Netzwerkanfrage für \"%s1%\" bei \"%s2%\":",
                     {address, reg.Server}) + "\r\n",
            clBlue, asking("network", reg.Server));
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
          server = ValueAfter(answer, m, 15, true, &found);
          if (size_t s = server.find("://"); s != std::string::npos) server.erase(0, s + 3);
          // The server without its port; an IPv6 literal keeps its colons.
          server = SplitUrlPort(server).first;
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
        out(LangText("Main|OutWhoisNetworkQuery",
                     "Umgeleitete Netzwerkanfrage für \"%s1%\" bei \"%s2%\":", {address, server}) +
                "\r\n",
            clBlue, asking("network_referral", server));
        answer = query(address, server, 43);
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
