// DNS tool: the name-server look-up of a host name or address through the
// system's resolver, and, when asked for, the A, AAAA, PTR, NS, MX, TXT, CAA
// and SOA records of the domain asked directly of the configured DNS server.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

#include "app/formMain.h"
#include "clients/DnsClient.h"
#include "common/Pump.h"
#include "common/fCaseFold.h"
#include "common/fMain.h"
#include "platform/SockAddr.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"
#include "tools/fAddressInfo.h"

namespace quovix {

namespace {

const std::string kNotFound = "???";

// Names and texts from a DNS reply are arbitrary bytes: control characters
// would break or forge output lines, so they are shown as \ddd escapes.
std::string Printable(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7F) {
      char esc[5] = {'\\', static_cast<char>('0' + c / 100), static_cast<char>('0' + c / 10 % 10),
                     static_cast<char>('0' + c % 10), 0};
      out += esc;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The user's mail address form of an SOA responsible-person name.
std::string MailboxOf(const std::string& name) {
  std::string mail = name;
  if (size_t dot = mail.find('.'); dot != std::string::npos) mail[dot] = '@';
  return mail;
}

// A section lists at most this many records; the rest is counted.
constexpr size_t kMaxListed = 50;

// A CAA value in the quoted form zone files use: a quote or backslash inside
// is escaped, so the closing quote is the value's end.
std::string QuotedValue(const std::string& value) {
  std::string out;
  for (char c : value) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return Printable(out);
}

// Whether host name a comes before b in a list: letters without regard to
// case, a run of digits by its number, so that ns2 stands before ns10 and a
// list reads the same in every run whatever order the server chose.
bool NameBefore(const std::string& a, const std::string& b) {
  return NaturalLess(LowerAscii(a), LowerAscii(b));
}

// How one query of the extended information ended.
struct QueryEnd {
  TIdDNSResolver Resolver;  // its result and how the exchange went
  std::optional<EIdDnsResolverError> Error;
  // The user asked the run to stop before the query ended.
  bool Aborted = false;

  bool Answered() const { return !Error && Resolver.LastExchange().Answered; }
  // The server says the name does not exist. Behind an alias a name error
  // speaks of the alias's target, not of the name asked for.
  bool NameDoesNotExist() const {
    return Error && Error->Kind == TDnsFailure::ServerCode && Error->Rcode == 3 &&
           !Error->AnswerHasRecords;
  }
};

QueryEnd Finish(TDnsQueryJob& job) {
  QueryEnd end;
  try {
    end.Resolver = job.Wait();
    end.Aborted = !end.Resolver.LastExchange().Answered && AbortRequested();
  } catch (const EIdDnsResolverError& e) {
    end.Error = e;
  } catch (const std::exception& e) {
    end.Error = EIdDnsResolverError(TDnsFailure::Other, e.what());
  }
  return end;
}

// Whether the query's last exchange went over TCP.
bool QueryOverTcp(const QueryEnd& end) {
  return end.Error ? end.Error->OverTcp : end.Resolver.LastExchange().Transport == TDnsTransport::Tcp;
}

// The transport of the query's last exchange ("udp", "tcp", "tls", "https").
std::string TransportOf(const QueryEnd& end, const std::string& server) {
  const TDnsTransport configured = ParseDnsServer(server).Transport;
  if (configured != TDnsTransport::Udp) return TransportName(configured);
  return QueryOverTcp(end) ? "tcp" : "udp";
}

// Whether the server cannot be asked at all: its port refuses, its name or
// zone gives no address, the network has no way to it. Every further query
// would only end the same way.
bool ServerUnusable(const QueryEnd& end) {
  if (!end.Error || end.Error->OverTcp) return false;
  const TDnsFailure kind = end.Error->Kind;
  return kind == TDnsFailure::Refused || kind == TDnsFailure::NoServer ||
         kind == TDnsFailure::BadZone || kind == TDnsFailure::Network;
}

// Why the server gave a section no answer, as the user reads it; empty when
// the server is not to blame (a name that cannot be asked) or its answer
// says there is nothing (a name error: no records of the name).

std::string FailureReason(const QueryEnd& end, const std::string& server) {
  const bool tcp = QueryOverTcp(end);
  if (!end.Error) {
    if (end.Resolver.LastExchange().Answered) return {};
    return tcp ? LangText("Main|OutDnsInfoReasonTimeoutTcp", "Zeitüberschreitung über TCP")
               : LangText("Main|OutDnsInfoReasonTimeout", "Zeitüberschreitung");
  }
  const EIdDnsResolverError& e = *end.Error;
  switch (e.Kind) {
    case TDnsFailure::ServerCode:
      return e.Rcode == 3 ? std::string() : RcodeName(e.Rcode);
    case TDnsFailure::Malformed:
      return LangText("Main|OutDnsInfoReasonMalformed", "fehlerhafte Antwort");
    case TDnsFailure::Mismatch:
      return LangText("Main|OutDnsInfoReasonMismatch", "Antwort passt nicht zur Anfrage");
    case TDnsFailure::Refused:
      return tcp ? LangText("Main|OutDnsInfoReasonRefusedTcp", "TCP-Verbindung abgelehnt")
                 : LangText("Main|OutDnsInfoReasonRefused", "Verbindung abgelehnt");
    case TDnsFailure::Closed:
      if (tcp)
        return LangText("Main|OutDnsInfoReasonClosedTcp",
                        "TCP-Verbindung ohne Antwort geschlossen");
      [[fallthrough]];
    case TDnsFailure::Network:
      return LangText("Main|OutDnsInfoReasonNetwork", "Netzwerkfehler: %s1%",
                      {std::strerror(e.SystemError)});
    case TDnsFailure::NoServer:
      return LangText("Main|OutDnsInfoReasonNoServer", "DNS-Server nicht gefunden");
    case TDnsFailure::BadZone:
      return LangText("Main|OutDnsInfoReasonBadZone", "Zone \"%s1%\" unbekannt",
                      {IpAddress::Parse(ParseDnsServer(server).Host).Zone()});
    case TDnsFailure::Tls:
      return LangText("Main|OutDnsInfoReasonTls", "TLS: %s1%", {Printable(e.what())});
    case TDnsFailure::Http:
      return e.HttpStatus > 0 ? LangText("Main|OutDnsInfoReasonHttp", "HTTP-Status %s1%",
                                         {std::to_string(e.HttpStatus)})
                              : LangText("Main|OutDnsInfoReasonNoDnsMessage",
                                         "keine DNS-Nachricht in der HTTP-Antwort");
    case TDnsFailure::NoQuestion:
    case TDnsFailure::BadName:
    case TDnsFailure::Other:
      break;
  }
  return {};
}

// The record's type and value as named fields of its output line.
TLineFields RecordFields(const TResultRecord& r) {
  TLineFields f{{"type", TypeName(r.TypeCode)}};
  switch (r.Kind) {
    case TRecordKind::A:
    case TRecordKind::AAAA: f.push_back({"value", r.IPAddress}); break;
    case TRecordKind::NS:
    case TRecordKind::Name:
    case TRecordKind::PTR: f.push_back({"value", r.HostName}); break;
    case TRecordKind::MX:
      f.push_back({"value", r.HostName});
      f.push_back({"preference", r.Preference});
      break;
    case TRecordKind::Text:
      f.push_back({"value", r.Text.empty() ? std::string() : r.Text.front()});
      break;
    case TRecordKind::CAA:
      f.insert(f.end(), {{"value", r.CaaValue}, {"flags", r.CaaFlags}, {"tag", r.CaaTag}});
      break;
    case TRecordKind::SOA:
      f.insert(f.end(), {{"value", r.Primary},     {"responsible", r.Responsible},
                         {"serial", r.Serial},     {"refresh", r.Refresh},
                         {"retry", r.Retry},       {"expire", r.Expire},
                         {"minimum_ttl", r.MinimumTTL}});
      break;
    default: break;
  }
  f.push_back({"ttl", r.TTL});
  return f;
}

// The server's verdict on one query as a script reads it: the response
// code of its reply, "timeout" without one, or what else went wrong.
std::string Verdict(const QueryEnd& end) {
  if (!end.Error) return end.Resolver.LastExchange().Answered ? "NOERROR" : "timeout";
  switch (end.Error->Kind) {
    case TDnsFailure::ServerCode: return RcodeName(end.Error->Rcode);
    case TDnsFailure::Malformed: return "malformed";
    case TDnsFailure::Mismatch: return "mismatch";
    case TDnsFailure::Refused: return "connection_refused";
    case TDnsFailure::Closed:
    case TDnsFailure::Network: return "network";
    case TDnsFailure::NoServer:
    case TDnsFailure::BadZone: return "no_server";
    default: return "error";
  }
}

// The names of the header flags a reply has set, in the header's order.
TLineValue HeaderFlags(std::uint16_t flags, std::string& text) {
  static const std::pair<std::uint16_t, const char*> kFlags[] = {
      {0x8000, "QR"}, {0x0400, "AA"}, {0x0200, "TC"}, {0x0100, "RD"},
      {0x0080, "RA"}, {0x0020, "AD"}, {0x0010, "CD"}};
  std::vector<TLineValue> names;
  for (auto [bit, name] : kFlags) {
    if (!(flags & bit)) continue;
    text += (text.empty() ? "" : " ") + std::string(name);
    names.emplace_back(name);
  }
  if (text.empty()) text = "-";
  return TLineValue::List(std::move(names));
}

// A server's identifier as hex and as the text it holds (bytes outside
// printable ASCII as dots).
std::pair<std::string, std::string> NsidTexts(const std::string& nsid) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex, text;
  for (unsigned char c : nsid) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 0x0F];
    text += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
  }
  return {hex, text};
}

// The record types a direct query asks with the DO bit, so that their
// signatures come along.
bool IsDnssecType(std::uint16_t type) {
  switch (type) {
    case kTypeDS: case kTypeDNSKEY: case kTypeRRSIG: case kTypeNSEC: case kTypeNSEC3:
    case kTypeNSEC3PARAM: case kTypeCDS: case kTypeCDNSKEY: return true;
    default: return false;
  }
}

const char* SectionName(TRecordSection s) {
  switch (s) {
    case TRecordSection::Answer: return "answer";
    case TRecordSection::Authority: return "authority";
    case TRecordSection::Additional: return "additional";
  }
  return "";
}

// One section of the extended information: the query, its heading and how a
// record becomes its line.
struct Section {
  TQueryRecordType Type;
  std::string Name;  // asked for
  std::string Heading;
  // The host names of its records get their "(address)".
  bool Resolve = false;
  // Only the first record counts (SOA).
  bool Single = false;
  // The order the records are listed in (null: the server's).
  std::function<bool(const TResultRecord&, const TResultRecord&)> Before;
  // Whether a record has a line at all (null: every one has).
  std::function<bool(const TResultRecord&)> Shown;
  // The line of a record: its number, and its host name as shown.
  std::function<std::string(const TResultRecord&, const std::string& number,
                            const std::string& host)>
      Line;
  // A line under the list, from all the section's records.
  std::function<std::string(const std::vector<const TResultRecord*>&)> Footer;
};

}  // namespace

void TfrmMain::chkDnsExtendedClick() {
  const bool on = chkDnsExtended.Checked();
  chkDnsExtendedResolve.SetEnabled(on);
  chkDnsDirectQuery.SetEnabled(on);
}

void TfrmMain::btnDnsStartClick() {
  // The leave steps of the run enable all four check boxes; the two that
  // depend on the extended option follow it again afterwards (this object is
  // made before the guard, so it is undone after it), however the run ends.
  struct ReapplyExtended {
    TfrmMain& f;
    ~ReapplyExtended() { f.chkDnsExtendedClick(); }
  };
  ReapplyExtended reapply{*this};
  (void)reapply;
  ToolRunGuard guard(*this, {.Start = &btnDnsStart,
                             .Inputs = {&lblDnsHost, &cmbDnsHost, &chkDnsReverse, &chkDnsExtended,
                                        &chkDnsExtendedResolve, &chkDnsDirectQuery, &lblDnsType,
                                        &cmbDnsType},
                             .MainInput = &cmbDnsHost,
                             .Pane = &reDns,
                             .StatusKey = "Main|sbMainDnsNSL",
                             .StatusDefault = "Nameserver-Lookup für \"%s1%\"...",
                             .StatusArg = cmbDnsHost.Text()});

  IdDNSResolver.Host = DnsServerSwitch.empty() ? ActiveDnsServerIP : DnsServerSwitch;

  // The query text.
  std::string query = Trim(cmbDnsHost.Text());
  // What the run found, however it ends: the look-up block's answers and
  // the server's verdict on each section's query.
  std::string hostName, address, address6, domain;
  TLineFields rcodes;
  struct Summary {
    TfrmMain& f;
    const std::string &query, &hostName, &address, &address6, &domain;
    const TLineFields& rcodes;
    ~Summary() {
      TLineFields r{{"query", query}, {"host_name", hostName}, {"address", address},
                    {"server", f.IdDNSResolver.Host}};
      if (!address6.empty()) r.push_back({"ipv6_address", address6});
      if (!domain.empty()) r.push_back({"domain", domain});
      if (!rcodes.empty()) r.push_back({"rcode", rcodes});
      f.SetToolResult(pgDns, std::move(r));
      // A name without an address (or an address without a name) is a
      // failed look-up, though its "???" line is no error line.
      if (address == kNotFound || hostName == kNotFound) f.SetToolFailed(pgDns);
    }
  } summary{*this, query, hostName, address, address6, domain, rcodes};
  // A type in the field "Typ": that type asked directly, nothing else.
  const std::string typeText = Trim(cmbDnsType.Text());
  const int type = typeText.empty() ? -1 : TypeCodeOf(typeText);
  if (typeText.empty())
    AppendOutput(reDns, LangText("Main|OutDnsNslFor", "Nameserver-Lookup für \"%s1%\":", {query}),
                 clBlue);
  else
    AppendOutput(reDns,
                 LangText("Main|OutDnsTypeFor", "Direkte Abfrage von \"%s1%\", Typ %s2%:",
                          {query, Printable(UpperAscii(typeText))}),
                 clBlue, {{"query", query}, {"qtype", Printable(UpperAscii(typeText))}});
  if (!typeText.empty() && type <= 0) {
    const std::string text = LangText("Main|OutDnsTypeUnknown",
                                      "Unbekannter Eintragstyp \"%s1%\" (A … HTTPS oder TYPEnnn).",
                                      {Printable(typeText)});
    AppendOutput(reDns, "\r\n" + text, clRed);
    guard.SetEndStatus(text);
    SetToolFailed(pgDns);
    return;
  }
  std::string encoded;
  if (!EncodeHostOrSay(reDns, query, encoded)) return;
  if (encoded != query) {
    AppendOutput(reDns, LangText("Main|OutInfoIdnEncoded", "  IDN-kodiert: %s1%", {encoded}),
                 clNavy);
    query = encoded;
  }
  if (type > 0) return DnsTypeQuery(guard, query, static_cast<std::uint16_t>(type), rcodes);

  // Name-server look-up. An address of either family is looked up by its
  // host name; the reverse check then asks for the name's address of the
  // same family.
  auto firstOf = [](const std::vector<IpAddress>& all, IpFamily family) {
    for (const IpAddress& a : all)
      if (a.Family() == family) return a;
    return IpAddress();
  };
  if (!IsHostName(query)) {
    const IpAddress typed = IpAddress::Parse(query);
    const bool v6 = typed.IsV6();
    // A zone that names no interface here cannot be looked up: said as such,
    // not as an address without a name.
    sockaddr_storage unused;
    if (v6 && !typed.Zone().empty() && platform::ToSockAddr(typed, 0, unused) == 0) {
      const std::string text = LangText("Main|OutInfoBadZone",
                                        "Die Zone \"%s1%\" bezeichnet keine Schnittstelle dieses Computers.",
                                        {typed.Zone()});
      AppendOutput(reDns, "\r\n" + text, clRed, {{"zone", typed.Zone()}});
      guard.SetEndStatus(text);
      SetToolFailed(pgDns);
      return;
    }
    hostName = ResolveIpToHost(query, NameResTimeout);
    address = v6 ? CanonicalAddress(query) : query;
    if (hostName.empty()) {
      AppendOutput(reDns,
                   "\r\n" + LangText("Main|OutInfoNoHostName",
                                     "Der Hostname konnte nicht ermittelt werden."),
                   clRed);
      return;
    }
    AppendOutput(reDns, LangText("Main|OutInfoHostName", "  Hostname:    %s1%", {hostName}),
                 clNavy);
    if (chkDnsReverse.Checked() && v6) {
      address = firstOf(ResolveHostAddresses(hostName, NameResTimeout), IpFamily::V6).ToString();
      if (address.empty()) address = kNotFound;
      AppendOutput(reDns, LangText("Main|OutInfoIp6Addr", "  IPv6-Adresse: %s1%", {address}),
                   clNavy);
    } else if (chkDnsReverse.Checked()) {
      address = ResolveHostToIp(hostName, NameResTimeout);
      if (address.empty()) address = kNotFound;
      AppendOutput(reDns, LangText("Main|OutInfoIpAddr", "  IP-Adresse:  %s1%", {address}),
                   clNavy);
    }
  } else {
    // One look-up for both families: the IPv4 line as ever, the name's first
    // IPv6 address below it when it has one. A name with IPv6 addresses only
    // is looked up further at its IPv6 address.
    const std::vector<IpAddress> all = ResolveHostAddresses(query, NameResTimeout);
    const IpAddress v4 = firstOf(all, IpFamily::V4), v6 = firstOf(all, IpFamily::V6);
    address = v4.Empty() ? kNotFound : v4.ToString();
    hostName = query;
    AppendOutput(reDns, LangText("Main|OutInfoIpAddr", "  IP-Adresse:  %s1%", {address}),
                 clNavy);
    if (!v6.Empty()) {
      address6 = v6.ToString();
      AppendOutput(reDns, LangText("Main|OutInfoIp6Addr", "  IPv6-Adresse: %s1%", {address6}),
                   clNavy);
      if (v4.Empty()) address = address6;
    }
    if (chkDnsReverse.Checked() && address != kNotFound) {
      hostName = ResolveIpToHost(address, NameResTimeout);
      if (hostName.empty()) hostName = kNotFound;
      AppendOutput(reDns, LangText("Main|OutInfoHostName", "  Hostname:    %s1%", {hostName}),
                   clNavy);
    }
  }
  AppendPlaceLines(*this, reDns, address);

  IdDNSResolver.WaitingTime = NameResTimeout;
  std::string server = IdDNSResolver.Host;
  // The server's name is that of its address, without a port it may name.
  if (chkDnsExtendedResolve.Checked())
    server += " (" + ResolveIpToHost(ParseDnsServer(server).Host, NameResTimeout) + ")";
  AppendOutput(reDns, "\r\n" + LangText("Main|OutDnsNslDNS", "DNS-Server: %s1%", {server}),
               clNavy);

  // A look-up that found no address is what the status bar names at the end,
  // unless the server says more about it below.
  const bool noAddress = address == kNotFound;
  if (noAddress)
    guard.SetEndStatus(LangText("Main|sbMainDnsNoAddress", "Keine Adresse für \"%s1%\" gefunden.",
                                {query}));
  // A close request or Ctrl+C ends the run with that said: the queries it
  // cut short write nothing.
  auto userAbort = [this] {
    AppendOutput(reDns, "\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."), clRed);
  };
  if (AbortRequested()) return userAbort();

  if (!chkDnsExtended.Checked()) {
    AppendOutput(reDns, "\r\n" + LangText("Main|OutQueriesFinished", "Anfragen beendet."),
                 clBlue);
    return;
  }

  // The domain for the extended information.
  domain = query;
  if (!chkDnsDirectQuery.Checked()) {
    if (!IsHostName(domain)) domain = ResolveIpToHost(domain, NameResTimeout);
    domain = RegisteredDomain(domain, SldList);
  }
  if (domain.empty()) {
    AppendOutput(reDns,
                 "\r\n" + LangText("Main|OutDnsInfoNoDomain",
                                   "Für DNS-Informationen muss eine Domain angegeben werden."),
                 clBlue);
    return;
  }
  SetStatus(" " + LangText("Main|sbMainDnsInfo", "DNS Informationen für \"%s1%\"...", {domain}));
  AppendOutput(reDns,
               "\r\n" + LangText("Main|OutDnsInfoFor", "DNS Informationen für \"%s1%\":", {domain}),
               clBlue);

  const bool resolve = chkDnsExtendedResolve.Checked();
  auto num = [](int n) { return std::to_string(n); };
  auto hostLine = [](const char* key, const char* text) {
    return [key, text](const TResultRecord&, const std::string& n, const std::string& host) {
      return LangText(key, text, {n, host});
    };
  };

  // The primary exchanger: the first record of the lowest preference; a
  // preference of 65535 is never chosen.
  auto primaryExchanger = [](const std::vector<const TResultRecord*>& records) {
    std::uint16_t lowest = 65535;
    std::string primary;
    for (const TResultRecord* r : records) {
      if (r->Preference < lowest) {
        lowest = r->Preference;
        primary = r->HostName;
      }
    }
    if (lowest == 65535) return std::string();
    return LangText("Main|OutDnsInfoMXPrimary", "Primärer Mail Exchange Server: %s1%",
                    {Printable(primary)});
  };

  // The reverse name of the look-up address: ip6.arpa for an IPv6 one.
  // Empty when the look-up block found no address: the placeholder is never
  // turned into a name to ask for.
  const std::string reverse = IpAddress::Parse(address).ReverseName();
  std::vector<Section> sections = {
      {.Type = qtA,
       .Name = domain,
       .Heading = LangText("Main|OutDnsInfoIPs", "IP-Adressen:"),
       .Line = [](const TResultRecord& r, const std::string& n, const std::string&) {
         return LangText("Main|OutDnsInfoIPList", "  %s1%. IP-Adresse: %s2%", {n, r.IPAddress});
       }},
      {.Type = qtAAAA,
       .Name = domain,
       .Heading = LangText("Main|OutDnsInfoIP6s", "IPv6-Adressen:"),
       .Line = [](const TResultRecord& r, const std::string& n, const std::string&) {
         return LangText("Main|OutDnsInfoIP6List", "  %s1%. IPv6-Adresse: %s2%",
                         {n, r.IPAddress});
       }},
      {.Type = qtPTR,
       .Name = reverse,
       .Heading =
           LangText("Main|OutDnsInfoReverseFor", "Reverse DNS-Abfrage für \"%s1%\":", {reverse}),
       .Resolve = resolve,
       .Line = hostLine("Main|OutDnsInfoHostList", "  %s1%. Hostname: %s2%")},
      {.Type = qtNS,
       .Name = domain,
       .Heading = LangText("Main|OutDnsInfoNS", "Nameserver:"),
       .Resolve = resolve,
       .Before = [](const TResultRecord& a, const TResultRecord& b) {
         return NameBefore(a.HostName, b.HostName);
       },
       .Line = hostLine("Main|OutDnsInfoNSList", "  %s1%. Nameserver: %s2%")},
      {.Type = qtMX,
       .Name = domain,
       .Heading = LangText("Main|OutDnsInfoMXServer", "Mail Exchange Server:"),
       .Resolve = resolve,
       // The most preferred first, so the primary exchanger heads the list.
       .Before = [](const TResultRecord& a, const TResultRecord& b) {
         if (a.Preference != b.Preference) return a.Preference < b.Preference;
         return NameBefore(a.HostName, b.HostName);
       },
       .Line =
           [](const TResultRecord& r, const std::string& n, const std::string& host) {
             return LangText("Main|OutDnsInfoMXList", "  %s1%. MX-Server: %s2%, Preference=%s3%",
                             {n, host, std::to_string(r.Preference)});
           },
       .Footer = primaryExchanger},
      {.Type = qtTXT,
       .Name = domain,
       .Heading = LangText("Main|OutDnsInfoTxt", "Texteinträge:"),
       // A record whose strings are all empty has no entry to show.
       .Shown = [](const TResultRecord& r) { return !r.Text.empty(); },
       .Line = [](const TResultRecord& r, const std::string& n, const std::string&) {
         return LangText("Main|OutDnsInfoTxtList", "  %s1%. Eintrag: %s2%",
                         {n, Printable(Trim(r.Text.front()))});
       }},
      {.Type = qtCAA,
       .Name = domain,
       .Heading = LangText("Main|OutDnsInfoCaa", "CAA-Einträge:"),
       .Line = [](const TResultRecord& r, const std::string& n, const std::string&) {
         return LangText("Main|OutDnsInfoCaaList", "  %s1%. CAA: %s2% %s3% \"%s4%\"",
                         {n, std::to_string(r.CaaFlags), Printable(r.CaaTag),
                          QuotedValue(r.CaaValue)});
       }},
      {.Type = qtSOA,
       .Name = domain,
       .Heading = LangText("Main|OutDnsInfoSOA", "Start of Authority (Autoritätsursprung):"),
       .Single = true,
       .Line = [](const TResultRecord& r, const std::string&, const std::string&) {
         const std::string person = Printable(r.Responsible);
         return LangText("Main|OutDnsInfoSoaServer", "  Servername:     %s1%",
                         {Printable(Trim(r.Primary))}) +
                "\r\n" +
                LangText("Main|OutDnsInfoSoaPerson", "  Kontakt E-Mail: %s1% (%s2%)",
                         {MailboxOf(person), person}) +
                "\r\n" +
                LangText("Main|OutDnsInfoSoaSerial", "  Seriennummer:   %s1%",
                         {std::to_string(r.Serial)}) +
                "\r\n" +
                LangText("Main|OutDnsInfoSoaRefresh", "  Aktualisierung: %s1%",
                         {std::to_string(r.Refresh)}) +
                "\r\n" +
                LangText("Main|OutDnsInfoSoaRetry", "  Wiederholung:   %s1%",
                         {std::to_string(r.Retry)}) +
                "\r\n" +
                LangText("Main|OutDnsInfoSoaExpire", "  Ablauf:         %s1%",
                         {std::to_string(r.Expire)}) +
                "\r\n" +
                LangText("Main|OutDnsInfoSoaMinimumTTL", "  Minimale TTL:   %s1%",
                         {std::to_string(r.MinimumTTL)});
       }},
  };

  // Writes one section: the server's verdict when it gave no answer, else
  // the heading and one line per record of the asked type that belongs to
  // the name, at most kMaxListed of them and then their count. Records of
  // other sections of the reply are not the name's own data (an authority's
  // name servers, additional glue addresses) and are passed over. A query
  // the server answered without such records, or with a name error, leaves
  // the section out; a record that cannot be formatted is skipped alone.
  auto writeSection = [&](const Section& s, const QueryEnd& end) {
    const std::string typeName = TypeName(QueryTypeCode(s.Type));
    rcodes.push_back({typeName, Verdict(end)});
    if (const std::string reason = FailureReason(end, IdDNSResolver.Host); !reason.empty()) {
      AppendOutput(reDns, "\r\n" + s.Heading, clNavy);
      AppendOutput(reDns,
                   LangText("Main|OutDnsInfoQueryFailed", "  Keine Antwort vom DNS-Server (%s1%).",
                            {reason}),
                   clMaroon,
                   {{"section", typeName},
                    {"rcode", Verdict(end)},
                    {"reason", reason},
                    {"transport", TransportOf(end, IdDNSResolver.Host)}});
      return;
    }
    if (!end.Answered()) return;
    std::vector<const TResultRecord*> records;
    for (const TResultRecord* r :
         AnswerRecords(end.Resolver.QueryResult, s.Name, QueryTypeCode(s.Type)))
      if (!s.Shown || s.Shown(*r)) records.push_back(r);
    if (s.Before)
      std::stable_sort(records.begin(), records.end(),
                       [&s](const TResultRecord* a, const TResultRecord* b) { return s.Before(*a, *b); });
    if (s.Single && records.size() > 1) records.erase(records.begin() + 1, records.end());
    const size_t listed = std::min(records.size(), kMaxListed);

    // The addresses of the listed names together, under one time limit.
    std::vector<std::string> hosts;
    for (size_t i = 0; i < listed; ++i) hosts.push_back(records[i]->HostName);
    std::vector<std::string> addresses;
    if (s.Resolve) addresses = ResolveHostsToIp(hosts, NameResTimeout);
    for (size_t i = 0; i < listed; ++i) {
      hosts[i] = Printable(hosts[i]);
      if (s.Resolve) hosts[i] += " (" + addresses[i] + ")";
    }

    std::vector<std::pair<std::string, TLineFields>> lines;
    int number = 0;
    for (size_t i = 0; i < listed; ++i) {
      try {
        std::string line = s.Line(*records[i], num(number + 1), hosts[i]);
        if (line.empty()) continue;
        lines.emplace_back(std::move(line), RecordFields(*records[i]));
        ++number;
      } catch (...) {
      }
    }
    if (lines.empty()) return;
    AppendOutput(reDns, "\r\n" + s.Heading, clNavy);
    for (auto& [line, fields] : lines) AppendOutput(reDns, line, clNavy, std::move(fields));
    if (records.size() > listed)
      AppendOutput(reDns,
                   LangText("Main|OutDnsInfoMore", "  … und %s1% weitere.",
                            {std::to_string(records.size() - listed)}),
                   clNavy);
    if (s.Footer) {
      const std::string tail = s.Footer(records);
      if (!tail.empty()) AppendOutput(reDns, tail, clNavy);
    }
  };

  // Each query on its own worker with a copy of the client's settings; the
  // DO bit only on the address query, whose answer tells the DNSSEC state.
  auto ask = [&](TQueryRecordType type, const std::string& name, bool dnssecOk) {
    TIdDNSResolver resolver = IdDNSResolver;
    resolver.QueryType = {type};
    resolver.QueryResult.Clear();
    resolver.DnssecOk = dnssecOk;
    return std::make_unique<TDnsQueryJob>(std::move(resolver), name, 1);
  };
  auto start = [&](const Section& s) { return ask(s.Type, s.Name, s.Type == qtA); };

  // A typed address asked as it is (direct query) has only its reverse name
  // to be asked about: it is no domain, and the server's name error for it
  // would read as if a domain did not exist.
  const bool domainIsName = IsHostName(domain);
  std::erase_if(sections, [&](const Section& s) {
    return s.Type == qtPTR ? reverse.empty() : !domainIsName;
  });
  auto finished = [this] {
    AppendOutput(reDns, "\r\n" + LangText("Main|OutQueriesFinished", "Anfragen beendet."), clBlue);
  };
  size_t next = 0;

  // The address query first: a name that does not exist needs no more, nor
  // does a server that cannot be asked.
  if (!sections.empty() && sections.front().Type == qtA) {
    const QueryEnd first = Finish(*start(sections.front()));
    if (first.Aborted) return userAbort();
    if (first.NameDoesNotExist()) {
      rcodes.push_back({"A", Verdict(first)});
      const std::string text = LangText("Main|OutDnsInfoNxDomain",
                                        "Die Domain \"%s1%\" existiert nicht.", {domain});
      AppendOutput(reDns, "\r\n" + text, clRed, {{"domain", domain}, {"rcode", "NXDOMAIN"}});
      guard.SetEndStatus(text);
      SetToolFailed(pgDns);
      return finished();
    }
    if (ServerUnusable(first)) {
      rcodes.push_back({"A", Verdict(first)});
      const std::string text = LangText(
          "Main|OutDnsInfoServerUnusable",
          "Der DNS-Server %s1% ist nicht erreichbar (%s2%), die Anfragen entfallen.",
          {IdDNSResolver.Host, FailureReason(first, IdDNSResolver.Host)});
      AppendOutput(reDns, "\r\n" + text, clRed,
                   {{"server", IdDNSResolver.Host},
                    {"rcode", Verdict(first)},
                    {"reason", FailureReason(first, IdDNSResolver.Host)}});
      guard.SetEndStatus(text);
      SetToolFailed(pgDns);
      return finished();
    }
    if (first.Answered() && first.Resolver.QueryResult.AuthenticData() &&
        first.Resolver.LastExchange().DnssecOk)
      AppendOutput(reDns,
                   LangText("Main|OutDnsInfoDnssec", "  DNSSEC: vom DNS-Server bestätigt"),
                   clNavy, {{"dnssec", "authenticated"}});
    writeSection(sections.front(), first);
    next = 1;
  }

  // The other queries are under way together and written in their order as
  // they end, so a silent server costs one waiting time, not six. A name
  // that had no address is asked about too when it is not the domain: the
  // server may say that it does not exist.
  std::vector<std::unique_ptr<TDnsQueryJob>> jobs;
  for (size_t i = next; i < sections.size(); ++i) jobs.push_back(start(sections[i]));
  std::unique_ptr<TDnsQueryJob> nameJob;
  if (noAddress && IsHostName(query) && !SameTextAscii(query, domain))
    nameJob = ask(qtA, query, false);
  for (size_t i = next; i < sections.size(); ++i) {
    const QueryEnd end = Finish(*jobs[i - next]);
    if (end.Aborted) return userAbort();
    writeSection(sections[i], end);
  }
  if (nameJob) {
    const QueryEnd end = Finish(*nameJob);
    if (end.Aborted) return userAbort();
    // Last before the closing line, so the view that follows the output shows it.
    if (end.NameDoesNotExist()) {
      const std::string text = LangText("Main|OutDnsInfoNameNxDomain",
                                        "Der Name \"%s1%\" existiert nicht (NXDOMAIN).", {query});
      AppendOutput(reDns, "\r\n" + text, clRed, {{"name", query}, {"rcode", "NXDOMAIN"}});
      guard.SetEndStatus(text);
    }
  }
  finished();
}

void TfrmMain::DnsTypeQuery(ToolRunGuard& guard, const std::string& name, std::uint16_t type,
                            TLineFields& rcodes) {
  TIdDNSResolver resolver = IdDNSResolver;
  resolver.QueryType.clear();
  resolver.QuestionType = type;
  resolver.QueryResult.Clear();
  resolver.WholeReply = true;
  resolver.RequestNsid = true;
  resolver.DnssecOk = IsDnssecType(type);
  resolver.WaitingTime = NameResTimeout;
  const std::string server = resolver.Host;
  const auto started = std::chrono::steady_clock::now();
  TDnsQueryJob job(std::move(resolver), name, 1);
  const QueryEnd end = Finish(job);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
  auto finished = [this] {
    AppendOutput(reDns, "\r\n" + LangText("Main|OutQueriesFinished", "Anfragen beendet."), clBlue);
  };
  if (end.Aborted) {
    AppendOutput(reDns, "\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."), clRed);
    return;
  }
  const std::string typeName = TypeName(type);
  const std::string transport = TransportOf(end, server);
  if (!end.Answered()) {
    rcodes.push_back({typeName, Verdict(end)});
    std::string reason = FailureReason(end, server);
    if (reason.empty()) reason = end.Error ? Printable(end.Error->what()) : Verdict(end);
    const std::string text = LangText("Main|OutDnsInfoQueryFailed",
                                      "  Keine Antwort vom DNS-Server (%s1%).", {reason});
    AppendOutput(reDns, "\r\n" + Trim(text), clMaroon,
                 {{"section", typeName},
                  {"rcode", Verdict(end)},
                  {"reason", reason},
                  {"transport", transport}});
    guard.SetEndStatus(Trim(text));
    SetToolFailed(pgDns);
    return finished();
  }

  // The reply as the usual look-up command shows it: header, EDNS, the
  // question and each section's records in presentation format.
  const TQueryResult& r = end.Resolver.QueryResult;
  const std::string rcode = RcodeName(r.Rcode());
  rcodes.push_back({typeName, rcode});
  int counts[3] = {0, 0, 0};
  for (const TResultRecord& rec : r) ++counts[static_cast<int>(rec.Section)];
  AppendOutput(reDns,
               "\r\n" + LangText("Main|OutDnsTypeStatus", "  Status: %s1%, ID: %s2%",
                                  {rcode, std::to_string(end.Resolver.LastQueryId())}),
               r.Rcode() == 0 ? clNavy : clRed,
               {{"rcode", rcode}, {"id", static_cast<int>(end.Resolver.LastQueryId())}});
  std::string flagText;
  TLineValue flags = HeaderFlags(r.Flags, flagText);
  AppendOutput(reDns,
               LangText("Main|OutDnsTypeFlags",
                        "  Flags: %s1%; Antwort: %s2%, Autorität: %s3%, Zusätzlich: %s4%",
                        {flagText, std::to_string(counts[0]), std::to_string(counts[1]),
                         std::to_string(counts[2])}),
               clNavy,
               {{"flags", flags},
                {"answer_count", counts[0]},
                {"authority_count", counts[1]},
                {"additional_count", counts[2]}});
  if (r.HasOpt)
    AppendOutput(reDns,
                 LangText("Main|OutDnsTypeEdns", "  EDNS: Version %s1%, Flags: %s2%, UDP: %s3%",
                          {std::to_string(r.OptVersion), r.OptDnssecOk ? "DO" : "-",
                           std::to_string(r.OptPayloadSize)}),
                 clNavy,
                 {{"edns_version", static_cast<int>(r.OptVersion)},
                  {"edns_dnssec_ok", r.OptDnssecOk},
                  {"edns_udp_size", static_cast<int>(r.OptPayloadSize)}});
  if (r.HasNsid) {
    const auto [hex, text] = NsidTexts(r.Nsid);
    AppendOutput(reDns, LangText("Main|OutDnsTypeNsid", "  NSID: %s1% (\"%s2%\")", {hex, text}),
                 clNavy, {{"nsid", hex}, {"nsid_text", text}});
  }
  if (r.HasQuestion) {
    AppendOutput(reDns, "\r\n" + LangText("Main|OutDnsTypeQuestion", "Frage:"), clNavy);
    AppendOutput(reDns,
                 "  " + WireNameText(r.QNameWire) +
                     " " + ClassName(r.QClass) + " " + TypeName(r.QType),
                 clNavy);
  }
  const std::pair<TRecordSection, std::string> headings[] = {
      {TRecordSection::Answer, LangText("Main|OutDnsTypeAnswer", "Antwort:")},
      {TRecordSection::Authority, LangText("Main|OutDnsTypeAuthority", "Autorität:")},
      {TRecordSection::Additional, LangText("Main|OutDnsTypeAdditional", "Zusätzlich:")}};
  for (const auto& [section, heading] : headings) {
    if (counts[static_cast<int>(section)] == 0) continue;
    AppendOutput(reDns, "\r\n" + heading, clNavy);
    for (const TResultRecord& rec : r) {
      if (rec.Section != section) continue;
      TLineFields fields = RecordFields(rec);
      fields.insert(fields.end(), {{"name", WireNameText(rec.OwnerWire)},
                                   {"class", ClassName(rec.Class)},
                                   {"data", RDataText(rec)},
                                   {"dns_section", SectionName(rec.Section)}});
      AppendOutput(reDns, "  " + RecordText(rec), clBlack, std::move(fields));
    }
  }
  AppendOutput(reDns,
               "\r\n" + LangText("Main|OutDnsTypeTime", "Zeit: %s1% ms, Server: %s2% (%s3%)",
                                  {FormatDecimal1(ms), server, UpperAscii(transport)}),
               clNavy,
               {{"time_ms", ms}, {"server", server}, {"transport", transport}});
  if (r.Rcode() != 0) {
    guard.SetEndStatus(LangText("Main|OutDnsTypeFailed", "Der DNS-Server antwortete %s1%.", {rcode}));
    SetToolFailed(pgDns);
  }
  finished();
}

}  // namespace quovix
