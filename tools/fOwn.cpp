// Own computer tab: this computer's address and name, as it sees itself and
// as an external-address service sees it, its DNS server and its Ethernet
// adapters; and the Tools menu command that empties the system's DNS cache.
#include "tools/fOwn.h"

#include <exception>

#include "app/formMain.h"
#include "common/fEthernetAddr.h"
#include "clients/HttpResponse.h"
#include "common/fMain.h"
#include "platform/DnsCache.h"
#include "platform/Desktop.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"

namespace quovix {
namespace {

// Name look-ups of this tab wait this long, whatever the setting says.
constexpr int kLookupMs = 2000;
constexpr int kServiceTimeoutMs = 5000;
constexpr size_t kMaxValue = 256;
// The flush waits for its command in slices of this length.
constexpr int kFlushSliceMs = 5000;

std::string NameOrUnknown(const std::string& name) { return name.empty() ? "???" : name; }

// The external block: heading, then the service's answer or the red line.
// Returns the answer (empty when there was none).
ExternalAddress ShowExternal(TfrmMain& f, bool resolve) {
  f.AppendOutput(f.reOwn, "\r\n" + LangText("Main|OutOwnExternal", "Externe Daten:"), clBlue);
  ExternalAddress ext;
  HttpFailure why;
  if (!FetchExternalAddress(f.IdHTTP, ExtIpUrl, ext, &why)) {
    if (why.Cause == "aborted") why = {};
    // The service's failure named as the other tools name it; an answer
    // that holds no address keeps the plain line.
    const std::string reason = why.Cause.empty() ? std::string() : HttpFailureLine(why);
    f.AppendOutput(f.reOwn,
                   "\r\n" + (reason.empty()
                                 ? LangText("Main|OutOwnExternError",
                                            "Die externe IP-Adresse konnte nicht ermittelt werden.")
                                 : LangText("Main|OutOwnExternErrorWhy",
                                            "Die externe IP-Adresse konnte nicht ermittelt werden: %s1%",
                                            {reason})),
                   why.TimedOut ? clMaroon : clRed,
                   why.Cause.empty() ? TLineFields{} : TLineFields{{"cause", why.Cause}});
    return {};
  }
  f.AppendOutput(f.reOwn, LangText("Main|OutOwnExtIPAddr", "  IP-Adresse: %s1%", {ext.Address}),
                 clNavy, {{"external_address", ext.Address}});
  if (resolve) {
    // A service that found no name repeats the address; the local resolver
    // may know one.
    std::string name = ext.HostName;
    if (name.empty() || name == ext.Address) name = ResolveIpToHost(ext.Address, kLookupMs);
    f.AppendOutput(f.reOwn,
                   LangText("Main|OutOwnExtHostName", "  Hostname:   %s1%", {NameOrUnknown(name)}),
                   clNavy);
  }
  if (ext.Proxy.empty()) return ext;
  f.AppendOutput(f.reOwn, LangText("Main|OutOwnExtProxyIPAddr", "  Proxy-IP:   %s1%", {ext.Proxy}),
                 clNavy);
  if (resolve) {
    const std::string name = NameOrUnknown(ResolveIpToHost(ext.Proxy, kLookupMs));
    f.AppendOutput(f.reOwn, LangText("Main|OutOwnExtProxyHostName", "  Proxy-Name: %s1%", {name}),
                   clNavy);
  }
  return ext;
}

}  // namespace

bool ParseExternalAddressBody(const std::string& body, ExternalAddress& out) {
  out = {};
  const std::string text = Trim(body);
  // A service on another system may end its lines with CR LF.
  auto line = [&](int n) { return CutUtf8(Trim(GetField(text, "\n", n)), kMaxValue); };
  const std::string address = line(1);
  if (address.empty() || !IsIpAddress(address)) return false;
  out.Address = address;
  out.Proxy = line(2);
  out.HostName = line(3);
  return true;
}

bool FetchExternalAddress(HttpClient& http, const std::string& url, ExternalAddress& out,
                          HttpFailure* why) {
  out = {};
  if (why) *why = {};
  std::string body;
  try {
    if (http.Connected()) http.Disconnect();
    http.ConnectTimeout = kServiceTimeoutMs;
    http.ReadTimeout = kServiceTimeoutMs;
    body = http.Get(url);
  } catch (const HttpError& e) {
    body.clear();  // time-out, refused, error status: no answer
    if (why) *why = DescribeHttpFailure(e);
  } catch (const std::exception&) {
    body.clear();
  }
  if (http.Connected()) http.Disconnect();
  return ParseExternalAddressBody(body, out);
}

void TfrmMain::btnOwnStartClick() {
  ToolRunGuard guard(*this, {.Start = &btnOwnStart,
                             .Pane = &reOwn,
                             .StatusKey = "Main|sbMainOwnStart",
                             .StatusDefault = "Ermittle Informationen..."});
  // Read once: the box stays usable while the run pumps messages.
  const bool resolve = chkOwnResolve.Checked();

  AppendOutput(reOwn, LangText("Main|OutOwnLocalHost", "Lokaler Rechner:"), clBlue);
  // The empty name stands for this computer.
  const std::string ownAddress = ResolveHostToIp("", kLookupMs);
  TLineFields result{{"address", ownAddress}};
  AppendOutput(reOwn, LangText("Main|OutOwnIPAddr", "  IP-Adresse: %s1%", {ownAddress}), clNavy,
               {{"address", ownAddress}, {"family", "ipv4"}});
  if (resolve) {
    const std::string name = NameOrUnknown(ResolveIpToHost(ownAddress, kLookupMs));
    AppendOutput(reOwn, LangText("Main|OutOwnHostName", "  Hostname:   %s1%", {name}), clNavy,
                 {{"host_name", name}});
    result.push_back({"host_name", name});
  }
  int ipv6Addresses = 0;
  for (const LocalIPv6Address& a : LocalIPv6Addresses()) {
    AppendOutput(reOwn,
                 a.LinkLocal ? LangText("Main|OutOwnIP6LinkLocal",
                                        "  IPv6-Adresse: %s1% (%s2%, link-lokal)",
                                        {a.Address, a.Interface})
                             : LangText("Main|OutOwnIP6Addr", "  IPv6-Adresse: %s1% (%s2%)",
                                        {a.Address, a.Interface}),
                 clNavy,
                 {{"address", a.Address}, {"family", "ipv6"}, {"interface", a.Interface},
                  {"link_local", a.LinkLocal}});
    ++ipv6Addresses;
  }
  result.push_back({"ipv6_addresses", ipv6Addresses});
  SetToolResult(pgOwn, result);

  if (!ExtIpUrl.empty()) {
    const ExternalAddress ext = ShowExternal(*this, resolve);
    result.push_back({"external_address", ext.Address.empty() ? TLineValue() : ext.Address});
    if (!ext.Proxy.empty()) result.push_back({"proxy", ext.Proxy});
  }

  auto withName = [resolve](std::string server) {
    if (resolve && !server.empty()) {
      const std::string name = ResolveIpToHost(server, kLookupMs);
      if (!name.empty()) server += " (" + name + ")";
    }
    return server;
  };
  std::vector<std::string> dns6;
  for (const std::string& s : AllSystemDnsServers())
    if (IpAddress::Parse(s).IsV6()) dns6.push_back(s);
  // The IPv4 server's line as ever; left out only when IPv6 servers are all
  // there is, since an empty value would claim that none is configured.
  const std::string dns = DefaultDnsServer();
  std::string gap = "\r\n";
  if (!dns.empty() || dns6.empty()) {
    AppendOutput(reOwn,
                 gap + LangText("Main|OutOwnDnsServer", "Lokaler DNS-Server: %s1%", {withName(dns)}),
                 clNavy, {{"dns_server", dns}, {"family", "ipv4"}});
    gap.clear();
  }
  for (const std::string& server : dns6) {
    AppendOutput(reOwn,
                 gap + LangText("Main|OutOwnDnsServer6", "Lokaler IPv6-DNS-Server: %s1%",
                                {withName(server)}),
                 clNavy, {{"dns_server", server}, {"family", "ipv6"}});
    gap.clear();
  }
  result.push_back({"dns_server", dns});
  result.push_back({"ipv6_dns_servers", static_cast<int>(dns6.size())});

  AppendOutput(reOwn, "\r\n" + LangText("Main|OutOwnEthernetAddr", "Ethernet-Adressen:"), clBlue);
  int adapters = 0;
  for (const std::string& adapter : EthernetAdapterList()) {
    AppendOutput(reOwn,
                 LangText("Main|OutOwnEthernetItem", "  %s1% (%s2%)",
                          {GetField(adapter, "|", 1), GetField(adapter, "|", 2)}),
                 clNavy, {{"adapter", GetField(adapter, "|", 2)}, {"mac", GetField(adapter, "|", 1)}});
    ++adapters;
  }
  result.push_back({"adapters", adapters});
  SetToolResult(pgOwn, std::move(result));

  AppendOutput(reOwn, "\r\n" + LangText("Main|OutQueriesFinished", "Anfragen beendet."), clBlue);
}

void TfrmMain::mnuToolsDnsFlushClick() {
  const std::string title = LangText("Main|MsgToolFlushDnsTitle", "DNS-Cache leeren");
  const std::string command = platform::DnsCache().FlushCommand();
  if (command.empty()) {
    platform::Desktop().MessageBox(
        title, LangText("Main|MsgToolFlushDnsNoCache",
                        "Auf diesem System läuft kein DNS-Cache (weder systemd-resolved noch "
                        "nscd); es gibt nichts zu leeren."));
    return;
  }
  // The error stream too: a refusal ("access denied") is what the user needs
  // to see, and these commands print nothing when they succeed.
  const std::string output = Trim(RunConsoleCommand("exec 2>&1; " + command, kFlushSliceMs, true));
  platform::Desktop().MessageBox(
      title, LangText("Main|MsgToolFlushDnsText", "Rückgabe von \"%s2%\":\r\n\r\n%s1%",
                      {output, command}));
}

}  // namespace quovix
