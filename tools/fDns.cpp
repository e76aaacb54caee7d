// DNS tool: the name-server look-up of a host name or address through the
// system's resolver, and, when asked for, the A, PTR, NS, MX, TXT and SOA
// records of the domain asked directly of the configured DNS server.
#include <functional>
#include <iterator>

#include "app/formMain.h"
#include "clients/DnsClient.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"

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

// The in-addr.arpa name of an address: its four fields in reverse order.
std::string ReverseName(const std::string& address) {
  return GetField(address, ".", 4) + "." + GetField(address, ".", 3) + "." +
         GetField(address, ".", 2) + "." + GetField(address, ".", 1) + ".in-addr.arpa";
}

// The user's mail address form of an SOA responsible-person name.
std::string MailboxOf(const std::string& name) {
  std::string mail = name;
  if (size_t dot = mail.find('.'); dot != std::string::npos) mail[dot] = '@';
  return mail;
}

// The mnemonic of a record type.
std::string TypeName(std::uint16_t code) {
  switch (code) {
    case kTypeA: return "A";
    case kTypeNS: return "NS";
    case kTypeCNAME: return "CNAME";
    case kTypeSOA: return "SOA";
    case kTypePTR: return "PTR";
    case kTypeMX: return "MX";
    case kTypeTXT: return "TXT";
    default: return "TYPE" + std::to_string(code);
  }
}

// The record's type and value as named fields of its output line.
TLineFields RecordFields(const TResultRecord& r) {
  TLineFields f{{"type", TypeName(r.TypeCode)}};
  switch (r.Kind) {
    case TRecordKind::A: f.push_back({"value", r.IPAddress}); break;
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
    case TRecordKind::SOA:
      f.insert(f.end(), {{"value", r.Primary},     {"responsible", r.Responsible},
                         {"serial", r.Serial},     {"refresh", r.Refresh},
                         {"retry", r.Retry},       {"expire", r.Expire},
                         {"minimum_ttl", r.MinimumTTL}});
      break;
    case TRecordKind::Other: break;
  }
  f.push_back({"ttl", r.TTL});
  return f;
}

// The server's verdict on one query, as the section's result names it.
std::string RcodeName(int rcode) {
  static const char* const kNames[] = {"NOERROR", "FORMERR", "SERVFAIL", "NXDOMAIN",
                                       "NOTIMP",  "REFUSED", "YXDOMAIN", "YXRRSET",
                                       "NXRRSET", "NOTAUTH", "NOTZONE"};
  if (rcode >= 0 && rcode < static_cast<int>(std::size(kNames))) return kNames[rcode];
  return "RCODE" + std::to_string(rcode);
}

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
                                        &chkDnsExtendedResolve, &chkDnsDirectQuery},
                             .MainInput = &cmbDnsHost,
                             .Pane = &reDns,
                             .StatusKey = "Main|sbMainDnsNSL",
                             .StatusDefault = "Nameserver-Lookup für \"%s1%\"...",
                             .StatusArg = cmbDnsHost.Text()});

  IdDNSResolver.Host = ActiveDnsServerIP;

  // The query text.
  std::string query = Cut(Trim(cmbDnsHost.Text()), 256);
  // What the run found, however it ends: the look-up block's answers and
  // the server's verdict on each section's query.
  std::string hostName, address, domain;
  TLineFields rcodes;
  struct Summary {
    TfrmMain& f;
    const std::string &query, &hostName, &address, &domain;
    const TLineFields& rcodes;
    ~Summary() {
      TLineFields r{{"query", query}, {"host_name", hostName}, {"address", address},
                    {"server", f.IdDNSResolver.Host}};
      if (!domain.empty()) r.push_back({"domain", domain});
      if (!rcodes.empty()) r.push_back({"rcode", rcodes});
      f.SetToolResult(pgDns, std::move(r));
    }
  } summary{*this, query, hostName, address, domain, rcodes};
  AppendOutput(reDns, LangText("Main|OutDnsNslFor", "Nameserver-Lookup für \"%s1%\":", {query}),
               clBlue);
  const std::string encoded = Cut(EncodeIdn(query), 256);
  if (encoded != query) {
    AppendOutput(reDns, LangText("Main|OutInfoIdnEncoded", "  IDN-kodiert: %s1%", {encoded}),
                 clNavy);
    query = encoded;
  }

  // Name-server look-up.
  if (!IsHostName(query)) {
    hostName = ResolveIpToHost(query, NameResTimeout);
    address = query;
    if (hostName.empty()) {
      AppendOutput(reDns,
                   "\r\n" + LangText("Main|OutInfoNoHostName",
                                     "Der Hostname konnte nicht ermittelt werden."),
                   clRed);
      return;
    }
    AppendOutput(reDns, LangText("Main|OutInfoHostName", "  Hostname:    %s1%", {hostName}),
                 clNavy);
    if (chkDnsReverse.Checked()) {
      address = ResolveHostToIp(hostName, NameResTimeout);
      if (address.empty()) address = kNotFound;
      AppendOutput(reDns, LangText("Main|OutInfoIpAddr", "  IP-Adresse:  %s1%", {address}),
                   clNavy);
    }
  } else {
    address = ResolveHostToIp(query, NameResTimeout);
    if (address.empty()) address = kNotFound;
    hostName = query;
    AppendOutput(reDns, LangText("Main|OutInfoIpAddr", "  IP-Adresse:  %s1%", {address}),
                 clNavy);
    if (chkDnsReverse.Checked() && address != kNotFound) {
      hostName = ResolveIpToHost(address, NameResTimeout);
      if (hostName.empty()) hostName = kNotFound;
      AppendOutput(reDns, LangText("Main|OutInfoHostName", "  Hostname:    %s1%", {hostName}),
                   clNavy);
    }
  }
  const std::string country = LookupIpCountry(address);
  if (!country.empty())
    AppendOutput(reDns, LangText("Main|OutInfoCountry", "  Land:        %s1%", {country}),
                 clNavy);

  IdDNSResolver.WaitingTime = NameResTimeout;
  std::string server = IdDNSResolver.Host;
  if (chkDnsExtendedResolve.Checked())
    server += " (" + ResolveIpToHost(server, NameResTimeout) + ")";
  AppendOutput(reDns, "\r\n" + LangText("Main|OutDnsNslDNS", "DNS-Server: %s1%", {server}),
               clNavy);

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
  auto withAddress = [&](const std::string& name) {
    std::string shown = Printable(name);
    if (resolve) shown += " (" + ResolveHostToIp(name, NameResTimeout) + ")";
    return shown;
  };

  // One section: ask for one type, collect one line per record of that
  // type in the answer, write the heading and the lines when there are
  // any. Records of other sections are not the name's own data (an
  // authority's name servers, additional glue addresses) and are passed
  // over. A failed query leaves the section out without a word; a record
  // that cannot be formatted is skipped alone.
  using LineFor = std::function<std::string(const TResultRecord&, int number)>;
  auto section = [&](TQueryRecordType type, const std::string& name, const std::string& heading,
                     const LineFor& lineFor, const std::function<std::string()>& footer) {
    std::vector<std::pair<std::string, TLineFields>> lines;
    const std::string typeName = TypeName(QueryTypeCode(type));
    try {
      IdDNSResolver.QueryResult.Clear();
      IdDNSResolver.QueryType = {type};
      IdDNSResolver.SendQuery(name, 1);
      rcodes.push_back({typeName, IdDNSResolver.LastRcode() < 0
                                      ? std::string("timeout")
                                      : RcodeName(IdDNSResolver.LastRcode())});
      const std::uint16_t code = QueryTypeCode(type);
      int number = 0;
      for (const TResultRecord& rec : IdDNSResolver.QueryResult) {
        if (rec.TypeCode != code || rec.Section != TRecordSection::Answer) continue;
        try {
          std::string line = lineFor(rec, number + 1);
          if (line.empty()) continue;
          lines.emplace_back(std::move(line), RecordFields(rec));
          ++number;
        } catch (...) {
        }
      }
    } catch (const EIdDnsResolverError& e) {
      rcodes.push_back({typeName, e.Rcode >= 0 ? RcodeName(e.Rcode) : std::string("error")});
      return;
    } catch (...) {
      rcodes.push_back({typeName, "error"});
      return;
    }
    if (lines.empty()) return;
    AppendOutput(reDns, "\r\n" + heading, clNavy);
    for (auto& [line, fields] : lines) AppendOutput(reDns, line, clNavy, std::move(fields));
    if (footer) {
      const std::string tail = footer();
      if (!tail.empty()) AppendOutput(reDns, tail, clNavy);
    }
  };
  auto num = [](int n) { return std::to_string(n); };

  section(qtA, domain, LangText("Main|OutDnsInfoIPs", "IP-Adressen:"),
          [&](const TResultRecord& r, int n) {
            return LangText("Main|OutDnsInfoIPList", "  %s1%. IP-Adresse: %s2%",
                            {num(n), r.IPAddress});
          },
          nullptr);

  const std::string reverse = ReverseName(address);
  section(qtPTR, reverse,
          LangText("Main|OutDnsInfoReverseFor", "Reverse DNS-Abfrage für \"%s1%\":", {reverse}),
          [&](const TResultRecord& r, int n) {
            return LangText("Main|OutDnsInfoHostList", "  %s1%. Hostname: %s2%",
                            {num(n), withAddress(r.HostName)});
          },
          nullptr);

  section(qtNS, domain, LangText("Main|OutDnsInfoNS", "Nameserver:"),
          [&](const TResultRecord& r, int n) {
            return LangText("Main|OutDnsInfoNSList", "  %s1%. Nameserver: %s2%",
                            {num(n), withAddress(r.HostName)});
          },
          nullptr);

  // The primary exchanger: the first record of the lowest preference; a
  // preference of 65535 is never chosen.
  std::uint16_t lowest = 65535;
  std::string primary;
  section(qtMX, domain, LangText("Main|OutDnsInfoMXServer", "Mail Exchange Server:"),
          [&](const TResultRecord& r, int n) {
            std::string line =
                LangText("Main|OutDnsInfoMXList", "  %s1%. MX-Server: %s2%, Preference=%s3%",
                         {num(n), withAddress(r.HostName), std::to_string(r.Preference)});
            if (r.Preference < lowest) {
              lowest = r.Preference;
              primary = r.HostName;
            }
            return line;
          },
          [&] {
            if (lowest == 65535) return std::string();
            return LangText("Main|OutDnsInfoMXPrimary", "Primärer Mail Exchange Server: %s1%",
                            {Printable(primary)});
          });

  section(qtTXT, domain, LangText("Main|OutDnsInfoTxt", "Texteinträge:"),
          [&](const TResultRecord& r, int n) {
            // A record whose strings are all empty has no entry to show.
            if (r.Text.empty()) return std::string();
            return LangText("Main|OutDnsInfoTxtList", "  %s1%. Eintrag: %s2%",
                            {num(n), Printable(Trim(r.Text.front()))});
          },
          nullptr);

  bool soaTaken = false;
  section(qtSOA, domain, LangText("Main|OutDnsInfoSOA", "Start of Authority (Autoritätsursprung):"),
          [&](const TResultRecord& r, int) {
            if (soaTaken) return std::string();
            soaTaken = true;
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
          },
          nullptr);

  AppendOutput(reDns, "\r\n" + LangText("Main|OutQueriesFinished", "Anfragen beendet."), clBlue);
}

}  // namespace quovix
