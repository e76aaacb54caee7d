// Command line: cutting, parameter look-up, and the actions that preset the
// tabs and click their Start buttons when the window is shown.
//
// On Linux the process receives its arguments as a vector, not as one
// string. They are joined into one command line (JoinCommandLine) and cut
// with the same rules a single command-line string is cut with, so that a
// quoted argument keeps its blanks: the shell's "/Head:http://h/a b" (one
// argument holding a blank) reaches the program as the value "http://h/a b".
#include "app/fCommandLine.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/formMain.h"
#include "tools/fTrace.h"
#include "common/fMain.h"

namespace quovix {

namespace {

std::vector<std::string>& Arguments() {
  static std::vector<std::string> args;
  return args;
}

bool IsSpaceOrControl(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// One argument taken apart. A parameter begins with "/", "-" or "--"; its
// name runs to the first ":" or "=", its value is everything after that.
struct Parameter {
  bool IsParam = false;
  std::string Name;     // up to ":" or "="
  std::string HasName;  // up to ":", "=" or a double quote (for HasParam)
  bool HasValue = false;
  std::string Value;
};

Parameter Parse(const std::string& arg) {
  Parameter p;
  std::string rest;
  if (arg.compare(0, 2, "--") == 0)
    rest = arg.substr(2);
  else if (!arg.empty() && (arg[0] == '/' || arg[0] == '-'))
    rest = arg.substr(1);
  else
    return p;
  p.IsParam = true;
  size_t sep = rest.find_first_of(":=");
  p.Name = rest.substr(0, sep);
  p.HasName = rest.substr(0, rest.find_first_of(":=\""));
  if (sep != std::string::npos) {
    p.HasValue = true;
    p.Value = rest.substr(sep + 1);
  }
  return p;
}

bool SameName(const std::string& a, const std::string& b, bool caseSensitive) {
  return caseSensitive ? a == b : SameText(a, b);
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& commandLine) {
  std::vector<std::string> out;
  std::string s = Trim(commandLine) + " ";
  size_t i = 0;
  while (i < s.size()) {
    if (s[i] == '"') {
      size_t close = s.find("\" ", i + 1);
      if (close == std::string::npos) {
        // No closing quote-and-blank: an empty argument, and the text after
        // the quote is cut normally.
        out.emplace_back();
        ++i;
      } else {
        out.push_back(s.substr(i + 1, close - i - 1));
        i = close + 2;
      }
    } else {
      size_t blank = s.find(' ', i);  // there is always one: appended above
      out.push_back(s.substr(i, blank - i));
      i = blank + 1;
    }
    while (i < s.size() && IsSpaceOrControl(s[i])) ++i;
  }
  return out;
}

std::string JoinCommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (size_t n = 0; n < argv.size(); ++n) {
    const std::string& a = argv[n];
    bool quote = a.empty() || a[0] == '"';
    for (char c : a)
      if (IsSpaceOrControl(c)) quote = true;
    if (n) line += ' ';
    line += quote ? "\"" + a + "\"" : a;
  }
  return line;
}

std::vector<std::string> DesktopUrlsAsHead(const std::vector<std::string>& argv) {
  std::vector<std::string> out = argv;
  for (size_t i = 1; i < out.size(); ++i) {
    const std::string lower = LowerAscii(out[i].substr(0, 8));
    if (lower.rfind("http://", 0) == 0 || lower.rfind("https://", 0) == 0) out[i] = "/Head:" + out[i];
  }
  return out;
}

void ParseCommandLine(const std::vector<std::string>& argv) {
  std::vector<std::string> args = SplitCommandLine(JoinCommandLine(argv));
  if (!args.empty()) args.erase(args.begin());  // the program path
  Arguments() = std::move(args);
}

const std::vector<std::string>& CommandLineArguments() { return Arguments(); }

bool HasParam(const std::string& name, bool caseSensitive) {
  for (const auto& a : Arguments()) {
    Parameter p = Parse(a);
    if (p.IsParam && SameName(p.HasName, name, caseSensitive)) return true;
  }
  return false;
}

std::string GetParamValue(const std::string& name, bool caseSensitive) {
  std::string value;
  for (const auto& a : Arguments()) {
    Parameter p = Parse(a);
    if (!p.IsParam) continue;
    if (!p.HasValue) break;  // a bare switch ends the search
    if (SameName(p.Name, name, caseSensitive)) value = p.Value;
  }
  return value;
}

namespace {

// The groups in the order they are carried out; Own needs no value.
struct Group {
  const char* Param;
  TPage Page;
};
constexpr Group kGroups[] = {{"Dns", pgDns},     {"Ping", pgPing},   {"Trace", pgTrace},
                             {"Whois", pgWhois}, {"EMail", pgEMail}, {"Head", pgHead},
                             {"Time", pgTime},   {"List", pgList},   {"PRank", pgGPRank},
                             {"Own", pgOwn}};

bool GroupRequested(const Group& g) {
  if (!HasParam(g.Param)) return false;
  return g.Page == pgOwn || !GetParamValue(g.Param).empty();
}

// A flag with a value checks its box for exactly "1" and clears it for
// anything else; without a value (absent, or hidden behind a bare switch)
// the box keeps the state the settings gave it. A change runs the box's
// click handler, as a user's click would.
void ApplyFlag(TCheckBox& box, const char* name) {
  std::string v = GetParamValue(name);
  if (!v.empty()) box.SetChecked(v == "1");
}

// Selects an item as a user's choice would: a change runs the change handler.
void SelectIndex(TComboBox& combo, int i) {
  if (i < 0 || i >= combo.Count() || combo.ItemIndex() == i) return;
  combo.SetItemIndex(i);
  if (combo.OnChange) combo.OnChange();
}

// Selects the item whose text equals the value without regard to case; no
// match leaves the selection as it is.
void SelectItem(TComboBox& combo, const std::string& text) {
  if (text.empty()) return;
  for (int i = 0; i < combo.Count(); ++i)
    if (SameText(combo.Items()[i], text)) return SelectIndex(combo, i);
}

void SelectItemParam(TComboBox& combo, const char* name) { SelectItem(combo, GetParamValue(name)); }

void SetTextParam(TComboBox& combo, const char* name) {
  std::string v = GetParamValue(name);
  if (!v.empty()) combo.SetText(v);
}

void RunGroup(TfrmMain& f, TPage page, const std::string& value) {
  f.pcMain.SetActivePageIndex(page);
  switch (page) {
    case pgDns:
      f.cmbDnsHost.SetText(value);
      ApplyFlag(f.chkDnsReverse, "DnsV");
      ApplyFlag(f.chkDnsDirectQuery, "DnsD");
      ApplyFlag(f.chkDnsExtended, "DnsI");
      ApplyFlag(f.chkDnsExtendedResolve, "DnsR");
      ApplyFlag(f.chkDnsDnssec, "DnsSec");
      ApplyFlag(f.chkDnsIterate, "DnsIter");
      // Given, even empty, the type replaces the stored one.
      if (HasParam("DnsT")) f.cmbDnsType.SetText(GetParamValue("DnsT"));
      f.DnsServerSwitch = Trim(GetParamValue("DnsS"));
      f.btnDnsStart.Click();
      break;
    case pgPing:
      f.cmbPingHost.SetText(value);
      ApplyFlag(f.chkPingResolve, "PingR");
      ApplyFlag(f.chkPingPreferIPv6, "PingV6");
      if (GetParamValue("PingC") == "-1") {
        SelectIndex(f.cmbPingCount, 12);  // the 13th item "...": until aborted
      } else {
        SelectItemParam(f.cmbPingCount, "PingC");
      }
      SelectItemParam(f.cmbPingTimeout, "PingT");
      SelectItemParam(f.cmbPingByte, "PingB");
      SelectItemParam(f.cmbPingPause, "PingP");
      f.btnPingStart.Click();
      break;
    case pgTrace:
      f.cmbTraceHost.SetText(value);
      ApplyFlag(f.chkTraceResolve, "TraceR");
      ApplyFlag(f.chkTracePreferIPv6, "TraceV6");
      SelectItemParam(f.cmbTraceHops, "TraceC");
      SelectItemParam(f.cmbTraceTimeout, "TraceT");
      // A number of rounds turns the run into rounds (0: until aborted).
      if (const std::string n = GetParamValue("TraceRounds"); !n.empty()) {
        f.TraceRoundCount = std::clamp(StrToIntDef(n, 0), 0, 1000000);
        f.chkTraceContinuous.SetChecked(true);
      }
      if (TraceMethod m; ParseTraceMethod(GetParamValue("TraceM"), m))
        f.cmbTraceMethod.SetItemIndex(static_cast<int>(m));
      // Kept as typed: the run names a port it cannot use.
      if (const std::string port = GetParamValue("TraceP"); !port.empty())
        f.cmbTracePort.SetText(Trim(port) == "0" ? std::string() : port);
      if (const std::string ms = GetParamValue("TraceI"); !ms.empty())
        f.TraceIntervalMs = std::clamp(StrToIntDef(ms, 1000), 0, 3600000);
      f.btnTraceStart.Click();
      break;
    case pgWhois:
      f.cmbWhoisHost.SetText(value);
      SetTextParam(f.cmbWhoisServer, "WhoisS");
      SelectItemParam(f.cmbWhoisTimeout, "WhoisT");
      ApplyFlag(f.chkWhoisRedirect, "WhoisR");
      ApplyFlag(f.chkWhoisDirectQuery, "WhoisD");
      ApplyFlag(f.chkWhoisCheck, "WhoisC");
      ApplyFlag(f.chkWhoisNetwork, "WhoisN");
      ApplyFlag(f.chkWhoisFormat, "WhoisF");
      ApplyFlag(f.chkWhoisRdap, "WhoisRdap");
      f.btnWhoisStart.Click();
      break;
    case pgEMail:
      f.cmbEMailAddress.SetText(value);
      SetTextParam(f.cmbEMailSender, "EMailS");
      SetTextParam(f.cmbEMailMXServer, "EMailMX");
      SelectItemParam(f.cmbEMailTimeout, "EMailT");
      ApplyFlag(f.chkEMailPolicy, "EMailPolicy");
      SetTextParam(f.cmbEMailSpfIp, "EMailSpfIp");
      SetTextParam(f.cmbEMailDkim, "EMailDkim");
      ApplyFlag(f.chkEMailTls, "EMailTls");
      ApplyFlag(f.chkEMailAllMx, "EMailAllMx");
      if (HasParam("EMailSpfHelo")) f.EMailSpfHelo = GetParamValue("EMailSpfHelo");
      if (HasParam("EMailConnect")) f.EMailConnect = GetParamValue("EMailConnect") != "0";
      f.btnEMailStart.Click();
      break;
    case pgHead:
      f.cmbHeadURL.SetText(value);
      SelectItemParam(f.cmbHeadTimeout, "HeadT");
      ApplyFlag(f.chkHeadRedirect, "HeadR");
      ApplyFlag(f.chkHeadTls, "HeadTls");
      ApplyFlag(f.chkHeadHttp2, "HeadH2");
      f.btnHeadStart.Click();
      break;
    case pgTime:
      f.cmbTimeServer.SetText(value);
      ApplyFlag(f.chkTimeNts, "TimeNts");
      // A count outside 1-16 is brought into that range; no number keeps
      // the setting.
      if (const std::string n = GetParamValue("TimeN"); !n.empty()) {
        char* end = nullptr;
        const long v = std::strtol(n.c_str(), &end, 10);
        if (end && *end == '\0') f.TimeSamplesRun = static_cast<int>(std::clamp(v, 1L, 16L));
      }
      f.btnTimeQuery.Click();
      // Only when the query enabled it (a time arrived and the user may
      // set the clock) does this click do anything.
      f.TimeSetForced = GetParamValue("TimeForce") == "1";
      if (HasParam("TimeSet")) f.btnTimeUpdate.Click();
      break;
    case pgList:
      f.cmbListSearch.SetText(value);
      SelectItemParam(f.cmbListList, "ListL");
      f.btnListSearch.Click();
      break;
    case pgGPRank:
      f.cmbGPRankURL.SetText(value);
      SelectIndex(f.cmbGPRankCount, 0);  // one server
      SelectItemParam(f.cmbGPRankTimeout, "PRankT");
      f.btnGPRankStart.Click();
      break;
    case pgOwn:
      ApplyFlag(f.chkOwnResolve, "OwnR");
      f.btnOwnStart.Click();
      break;
  }
}

}  // namespace

bool CommandLineNamesTool() {
  for (const Group& g : kGroups)
    if (GroupRequested(g)) return true;
  return false;
}

void RunCommandLineActions(TfrmMain& form) {
  for (const Group& g : kGroups) {
    // Let a close request or Ctrl+C that arrived meanwhile through; once the
    // window is closing, no further tool starts.
    form.Pump();
    if (form.CloseRequested) break;
    if (!GroupRequested(g)) continue;
    form.ToolResults.at(g.Page).clear();
    form.ToolFailed.at(g.Page) = false;
    form.ToolAnswered.at(g.Page) = false;
    RunGroup(form, g.Page, GetParamValue(g.Param));
    if (form.OnCommandLineToolDone) form.OnCommandLineToolDone(g.Page);
  }
  if (HasParam("Focus")) {
    static const std::pair<const char*, TPage> kFocus[] = {
        {"DNS", pgDns},   {"PING", pgPing}, {"TRACE", pgTrace}, {"WHOIS", pgWhois},
        {"EMAIL", pgEMail}, {"HEAD", pgHead}, {"TIME", pgTime},   {"LIST", pgList},
        {"PRANK", pgGPRank}, {"OWN", pgOwn}};
    const std::string v = UpperAscii(GetParamValue("Focus"));
    for (auto [name, page] : kFocus)
      if (v == name) form.pcMain.SetActivePageIndex(page);
  }
}

std::vector<std::string> CommandLineHelp() {
  struct Line {
    const char* Param;
    const char* Text;
  };
  static const Line kLines[] = {
      {"/Dns:HOST", "DNS tab: look up a host name or address (IPv4 or IPv6), then run"},
      {"/DnsV:1|0", "DNS: check host name / address (reverse check)"},
      {"/DnsD:1|0", "DNS: direct query to the DNS server"},
      {"/DnsI:1|0", "DNS: DNS information (A, AAAA, PTR, NS, MX, TXT, CAA, SOA records)"},
      {"/DnsR:1|0", "DNS: resolve host names and addresses in the DNS information"},
      {"/DnsSec:1|0", "DNS: check the DNSSEC chain from the root's trust anchor down"},
      {"/DnsIter:1|0", "DNS: resolve the name from the root servers down, step by step"},
      {"/DnsT:TYPE", "DNS: ask one record type (A … HTTPS, TYPEnnn) and show the whole reply"},
      {"/DnsS:SERVER", "DNS: DNS server of this run (address[:port])"},
      {"/Ping:HOST", "Ping tab: ping a host (name, IPv4 or IPv6 address), then run"},
      {"/PingR:1|0", "Ping: resolve host names and addresses"},
      {"/PingV6:1|0", "Ping: a host name uses its IPv6 address first"},
      {"/PingC:N", "Ping: number of echoes (1 2 3 4 5 6 7 8 10 20 25 50; -1 = until Ctrl+C)"},
      {"/PingT:MS", "Ping: timeout in ms (100 250 500 1000 1500 2000 3000 5000 7500 10000)"},
      {"/PingB:N", "Ping: bytes of data (8 16 32 64 128 256 512 1024)"},
      {"/PingP:MS", "Ping: pause between echoes in ms (0 50 100 200 250 500 750 1000 2000 5000)"},
      {"/Trace:HOST", "Trace tab: trace the route to a host (name, IPv4 or IPv6 address), then run"},
      {"/TraceR:1|0", "Trace: resolve host names and addresses"},
      {"/TraceV6:1|0", "Trace: a host name uses its IPv6 address first"},
      {"/TraceC:N", "Trace: maximum hops (10 20 25 30 40 50 75 90)"},
      {"/TraceT:MS", "Trace: timeout in ms per hop"},
      {"/TraceRounds:N", "Trace: measure in N rounds and print the table of hops (0: until aborted)"},
      {"/TraceI:MS", "Trace: interval between rounds in ms (default 1000)"},
      {"/TraceM:icmp|udp|tcp", "Trace: probe method (UDP needs no privilege, TCP needs CAP_NET_RAW)"},
      {"/TraceP:PORT", "Trace: first UDP port (default 33434) or the TCP port (default 443)"},
      {"/Whois:NAME", "Whois tab: registration data of a domain or address, then run"},
      {"/WhoisS:SERVER", "Whois: whois server to ask"},
      {"/WhoisT:MS", "Whois: timeout in ms (up to 15000)"},
      {"/WhoisR:1|0", "Whois: follow referrals automatically"},
      {"/WhoisD:1|0", "Whois: direct query (only the given server)"},
      {"/WhoisC:1|0", "Whois: check domain name / address"},
      {"/WhoisN:1|0", "Whois: network query at the regional registries"},
      {"/WhoisF:1|0", "Whois: format the output"},
      {"/WhoisRdap:1|0", "Whois: ask RDAP first, port 43 where RDAP fails"},
      {"/EMail:ADDRESS", "Mail-Check tab: check whether a mail address is accepted, then run"},
      {"/EMailS:ADDRESS", "Mail-Check: sender address"},
      {"/EMailMX:SERVER", "Mail-Check: mail exchanger to ask"},
      {"/EMailT:MS", "Mail-Check: timeout in ms"},
      {"/EMailPolicy:1|0", "Mail-Check: check the sender policies (SPF) of the sender's domain"},
      {"/EMailSpfIp:ADDRESS", "Mail-Check: the sending server's address SPF is evaluated for"},
      {"/EMailSpfHelo:NAME", "Mail-Check: the HELO name SPF sees"},
      {"/EMailDkim:SEL1,SEL2", "Mail-Check: DKIM selectors to look up beside the built-in ones"},
      {"/EMailConnect:1|0", "Mail-Check: 0 checks the policies alone, with no SMTP connection"},
      {"/EMailTls:1|0", "Mail-Check: STARTTLS (TLS at once on port 465), the certificate chain, DANE "
                        "(the exchanger's TLSA records matched against it), the domain's MTA-STS policy and "
                        "TLS reporting"},
      {"/EMailAllMx:1|0", "Mail-Check: every mail exchanger in parallel up to STARTTLS, then the dialogue "
                          "with the first that answers"},
      {"/Head:URL", "HTTP-Header tab: show the response headers of a URL, then run"},
      {"/HeadT:MS", "HTTP-Header: timeout in ms"},
      {"/HeadR:1|0", "HTTP-Header: follow redirections automatically"},
      {"/HeadTls:1|0", "HTTP-Header: TLS connection and certificate chain of each HTTPS hop"},
      {"/HeadH2:1|0", "HTTP-Header: offer HTTP/2 over HTTPS and use it when the server picks it"},
      {"/Time:SERVER", "Time tab: ask an NTP server for the time"},
      {"/TimeN:N", "Time: NTP exchanges per query, 1-16 (default: the setting TimeSamples, 4)"},
      {"/TimeNts:1|0", "Time: NTS (key establishment over TLS to port 4460, authenticated answers)"},
      {"/TimeSet", "Time: then set the system clock (needs root; must follow /Time)"},
      {"/TimeForce:1|0", "Time: 1 lets /TimeSet step the clock beyond TimeSetLimit (put it before)"},
      {"/List:TEXT", "Lists tab: search a list for a text"},
      {"/ListL:NAME", "Lists: the list to search (a name that is no list is a usage error)"},
      {"/PRank:URL", "PageRank tab: ask for the PageRank of a URL"},
      {"/PRankT:MS", "PageRank: timeout in ms"},
      {"/Own", "Own computer tab: this computer's network picture"},
      {"/OwnR:1|0", "Own computer: resolve host names and addresses (must precede /Own)"},
      {"/Focus:TAB", "bring a tab to the front: DNS PING TRACE WHOIS EMAIL HEAD TIME LIST PRANK OWN"},
  };
  std::vector<std::string> out;
  for (const auto& l : kLines) {
    char buf[256];
    std::snprintf(buf, sizeof buf, "  %-16s %s", l.Param, l.Text);
    out.emplace_back(buf);
  }
  return out;
}

}  // namespace quovix
