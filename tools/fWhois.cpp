// Whois tab: host information, the domain query at the responsible server
// with its referral, and the network query along the regional registries.
#include <functional>

#include "app/formMain.h"
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

}  // namespace

void TfrmMain::chkWhoisDirectQueryClick() {
  const bool direct = chkWhoisDirectQuery.Checked();
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
                                        &chkWhoisNetwork},
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
  // "domain_referral", "network", "network_referral") and its server. Its
  // heading, answer and failure lines carry them.
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
        out(LangText("Main|OutWhoisServerNotFound", "Der Server \"%s1%\" wurde nicht gefunden.",
                     {server}) + "\r\n",
            clRed, JoinFields(exchange, {{"reason", "not_found"}}));
        return;
      case TWhoisEnd::Refused:
        out(LangText("Main|OutWhoisServerRefused",
                     "Der Server \"%s1%\" hat die Verbindung abgelehnt.", {server}) + "\r\n",
            clRed, JoinFields(exchange, {{"reason", "refused"}}));
        return;
      case TWhoisEnd::Unreachable:
        out(LangText("Main|OutWhoisServerUnreachable", "Der Server \"%s1%\" ist nicht erreichbar.",
                     {server}) + "\r\n",
            clRed, JoinFields(exchange, {{"reason", "unreachable"}}));
        return;
    }
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

  // Domain query.
  if (!host.empty() && !server.empty() && IsHostName(host)) {
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

  // Network query along the regional registries.
  if (chkWhoisNetwork.Checked() && !direct) {
    if (address.empty()) {
      out(LangText("Main|OutWhoisNetworkQueryNotPos", "Netzwerkanfrage nicht möglich.") + "\r\n",
          clRed, {{"section", "network"}, {"reason", "not_possible"}});
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
