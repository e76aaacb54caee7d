// Settings and input histories: reading at window creation, writing at close.
#include "shell/gIni.h"

#include <algorithm>

#include "app/formMain.h"
#include "clients/RdapBootstrap.h"
#include "common/fEthernetAddr.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"
#include "tools/fTrace.h"

namespace quovix {

int MaxRecentItems = 25;
int NameResTimeout = 2000;
int TimeSetLimit = 1000;
int TimeSamples = 4;
std::string ActiveDnsServerIP;
std::string ExtIpUrl;
bool HttpProxyUseProxy = false;
std::string HttpProxyServerName;
int HttpProxyServerPort = 0;
std::string HttpProxyUsername;
std::string HttpProxyPassword;
std::string OutputFontName;
int OutputFontSize = 0;
int OutputFontCharset = 0;

void ResetSettingsValues() {
  LanguageName.clear();
  MaxRecentItems = 25;
  NameResTimeout = 2000;
  TimeSetLimit = 1000;
  TimeSamples = 4;
  ActiveDnsServerIP.clear();
  ExtIpUrl.clear();
  RdapBootstrapUrl.clear();
  HttpProxyUseProxy = false;
  HttpProxyServerName.clear();
  HttpProxyServerPort = 0;
  HttpProxyUsername.clear();
  HttpProxyPassword.clear();
  OutputFontName.clear();
  OutputFontSize = 0;
  OutputFontCharset = 0;
}

const std::vector<std::string>& DefaultWhoisServers() {
  static const std::vector<std::string> servers = {
      "whois.internic.net",  // generic top-level domains
      "whois.ripe.net",      // RIPE NCC
      "whois.arin.net",      // ARIN
      "whois.apnic.net",     // APNIC
      "whois.denic.de",      // .de
      "whois.nic.at",        // .at
  };
  return servers;
}

const std::vector<std::string>& DefaultTimeServers() {
  static const std::vector<std::string> servers = {
      "pool.ntp.org",              // the global NTP pool
      "europe.pool.ntp.org",       // its European zone
      "time.nist.gov",             // NIST
      "ntp.nasa.gov",              // NASA
      "time.mit.edu",              // MIT
      "time.windows.com",          // the Windows time service
      "time.fu-berlin.de",         // Freie Universität Berlin
      "ntps1-0.cs.tu-berlin.de",   // TU Berlin
      "ptbtime1.ptb.de",           // PTB, the German national metrology institute
      "ntp2a.mcc.ac.uk",           // University of Manchester
  };
  return servers;
}

// ---- Password scrambling --------------------------------------------------------

namespace {

constexpr unsigned char kScrambleKey[10] = {0x5A, 0x3C, 0x91, 0x17, 0xE4,
                                            0x6B, 0x2D, 0xA8, 0x73, 0x0F};

std::string Rot13(std::string s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>('a' + (c - 'a' + 13) % 26);
    else if (c >= 'A' && c <= 'Z') c = static_cast<char>('A' + (c - 'A' + 13) % 26);
  }
  return s;
}

std::string HexUpper(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

// Pairs of characters to bytes; each character's value is its position in
// digits, characters not there count as 0 (an odd last character is dropped).
std::string PairsToBytes(const std::string& text, const std::string& digits, int offset) {
  auto value = [&](char c) {
    size_t p = digits.find(c);
    return p == std::string::npos ? 0 : static_cast<int>(p) + offset;
  };
  std::string out;
  out.reserve(text.size() / 2);
  for (size_t i = 0; i + 1 < text.size(); i += 2)
    out += static_cast<char>((value(text[i]) * 16 + value(text[i + 1])) & 0xFF);
  return out;
}

}  // namespace

std::string ScramblePassword(const std::string& password) {
  std::string bytes = Rot13(password);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(static_cast<unsigned char>(bytes[i]) ^ kScrambleKey[(i + 1) % 10]);
  return HexUpper(HexUpper(bytes));
}

std::string UnscramblePassword(const std::string& text) {
  if (text.size() % 2 != 0) return {};
  // The outer layer: "0" is not in the digit list and counts as 0 like any
  // stranger; the others count from 1.
  std::string inner = PairsToBytes(UpperAscii(text), "123456789ABCDEF", 1);
  std::string bytes = PairsToBytes(inner, "0123456789ABCDEF", 0);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<char>(static_cast<unsigned char>(bytes[i]) ^ kScrambleKey[(i + 1) % 10]);
  return Rot13(bytes);
}

// ---- Loading and saving -----------------------------------------------------------

namespace {

const char* const kSettings = "Settings";
const char* const kItem = "Item";

// Line breaks and zero bytes cannot live in an INI line; they become blanks.
std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\r' || c == '\n' || c == '\0') c = ' ';
  return s;
}

// A text setting as stored: quoted when the reader would otherwise take
// something away (blanks at its ends, a pair of quotes around it).
std::string StoredText(const std::string& value) {
  std::string v = OneLine(value);
  bool quotedAlready = v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0];
  if (quotedAlready || Trim(v) != v) return "\"" + v + "\"";
  return v;
}

// A history entry as stored: entries with blanks, control characters or
// double quotes go in double quotes with inner ones doubled; so do entries
// with a single quote at an end, which the reader would otherwise strip.
std::string StoredHistoryEntry(const std::string& entry) {
  std::string e = OneLine(entry);
  bool quote = !e.empty() && (e.front() == '\'' || e.back() == '\'');
  for (char c : e)
    if (static_cast<unsigned char>(c) <= 0x20 || c == '"') quote = true;
  return quote ? "\"" + ReplaceAll(e, "\"", "\"\"") + "\"" : e;
}

std::vector<std::string> LoadHistory(const TIniDocument& ini, const std::string& section,
                                     const std::vector<std::string>& defaults = {}) {
  std::vector<std::string> items;
  for (const std::string& stored : ini.ReadListItems(section, kItem)) {
    std::string e = Trim(ReplaceAll(stored, "\"\"", "\""));
    if (e.empty()) continue;
    items.push_back(std::move(e));
    if (static_cast<int>(items.size()) >= MaxRecentItems) break;
  }
  return items.empty() ? defaults : items;
}

bool SaveHistory(TIniDocument& ini, const std::string& section,
                 const std::vector<std::string>& items) {
  std::vector<std::string> stored;
  for (const std::string& item : items) stored.push_back(StoredHistoryEntry(item));
  if (stored.empty()) stored.emplace_back();
  return ini.WriteListItems(section, kItem, stored);
}

int ReadRanged(const TIniDocument& ini, const std::string& key, int def, int lo, int hi) {
  int v = ini.ReadInt(kSettings, key, def);
  return v < lo || v > hi ? def : v;
}

// The window's controls that keep their state in the file, in the order of
// reading and writing: per tab its histories and its options.
struct ControlEntry {
  enum Kind { History, Check, Index, Text } kind;
  const char* key;
  TComboBox TfrmMain::*combo = nullptr;  // History, Index
  TCheckBox TfrmMain::*box = nullptr;    // Check
  int def = 0;                           // Check: 0/1; Index: default item index
  int hi = 0;                            // Index: highest valid item index
  const std::vector<std::string>& (*defaults)() = nullptr;  // History: when empty
  void (TfrmMain::*afterLoad)() = nullptr;  // runs after reading, changed or not
};

ControlEntry Hist(const char* key, TComboBox TfrmMain::*combo,
                  const std::vector<std::string>& (*defaults)() = nullptr) {
  return {ControlEntry::History, key, combo, nullptr, 0, 0, defaults};
}
ControlEntry Check(const char* key, TCheckBox TfrmMain::*box, bool def,
                   void (TfrmMain::*afterLoad)() = nullptr) {
  return {ControlEntry::Check, key, nullptr, box, def ? 1 : 0, 0, nullptr, afterLoad};
}
ControlEntry Text(const char* key, TComboBox TfrmMain::*combo) {
  return {ControlEntry::Text, key, combo};
}
ControlEntry Index(const char* key, TComboBox TfrmMain::*combo, int def, int hi,
                   void (TfrmMain::*afterLoad)() = nullptr) {
  return {ControlEntry::Index, key, combo, nullptr, def, hi, nullptr, afterLoad};
}

const std::vector<ControlEntry>& ControlEntries() {
  using F = TfrmMain;
  static const std::vector<ControlEntry> entries = {
      // DNS
      Hist("HistDnsHost", &F::cmbDnsHost),
      Check("DnsExtended", &F::chkDnsExtended, true),
      Check("DnsExtendedResolve", &F::chkDnsExtendedResolve, true),
      Check("DnsReverse", &F::chkDnsReverse, true),
      Check("DnsDirectQuery", &F::chkDnsDirectQuery, false),
      Check("DnsDnssec", &F::chkDnsDnssec, false),
      Check("DnsIterate", &F::chkDnsIterate, false),
      Text("DnsType", &F::cmbDnsType),
      // Ping (PingCount's item 12 is "...", added at window creation)
      Hist("HistPingHost", &F::cmbPingHost),
      Index("PingCount", &F::cmbPingCount, 2, 12),
      Index("PingTimeout", &F::cmbPingTimeout, 5, 9),
      Index("PingByte", &F::cmbPingByte, 2, 7),
      Index("PingPause", &F::cmbPingPause, 4, 9),
      Check("PingResolve", &F::chkPingResolve, true),
      Check("PingPreferIPv6", &F::chkPingPreferIPv6, false),
      Check("PingChart", &F::chkPingChart, true),
      // Trace
      Hist("HistTraceHost", &F::cmbTraceHost),
      Index("TraceHops", &F::cmbTraceHops, 3, 7),
      Index("TraceTimeout", &F::cmbTraceTimeout, 5, 9),
      Check("TraceResolve", &F::chkTraceResolve, true),
      Check("TracePreferIPv6", &F::chkTracePreferIPv6, false),
      Check("TraceContinuous", &F::chkTraceContinuous, false),
      Index("TraceMethod", &F::cmbTraceMethod, 0, 2),
      // Whois
      Hist("HistWhoisHost", &F::cmbWhoisHost),
      Hist("HistWhoisServer", &F::cmbWhoisServer, DefaultWhoisServers),
      Index("WhoisTimeout", &F::cmbWhoisTimeout, 7, 11),
      Check("WhoisRedirect", &F::chkWhoisRedirect, true),
      Check("WhoisDirectQuery", &F::chkWhoisDirectQuery, false, &F::chkWhoisDirectQueryClick),
      Check("WhoisCheck", &F::chkWhoisCheck, true),
      Check("WhoisNetwork", &F::chkWhoisNetwork, true),
      Check("WhoisFormat", &F::chkWhoisFormat, true),
      Check("WhoisRdap", &F::chkWhoisRdap, true),
      // HTTP-Header
      Hist("HistHeadURL", &F::cmbHeadURL),
      Index("HeadTimeout", &F::cmbHeadTimeout, 5, 9),
      Check("HeadRedirect", &F::chkHeadRedirect, true),
      Check("HeadTls", &F::chkHeadTls, true),
      Check("HeadHttp2", &F::chkHeadHttp2, true),
      // Lists
      Hist("HistListSearch", &F::cmbListSearch),
      // Mail-Check
      Hist("EMailAddress", &F::cmbEMailAddress),
      Hist("EMailSender", &F::cmbEMailSender),
      Hist("EMailMXServer", &F::cmbEMailMXServer),
      Check("EMailPolicy", &F::chkEMailPolicy, true),
      Hist("EMailSpfIp", &F::cmbEMailSpfIp),
      Hist("EMailDkim", &F::cmbEMailDkim),
      Check("EMailTls", &F::chkEMailTls, true),
      Check("EMailAllMx", &F::chkEMailAllMx, false),
      // Time
      Hist("HistTimeServer", &F::cmbTimeServer, DefaultTimeServers),
      Check("TimeNts", &F::chkTimeNts, false),
      // PageRank
      Hist("HistGPRankURL", &F::cmbGPRankURL),
      Index("GPRankCount", &F::cmbGPRankCount, 0, 7, &F::cmbGPRankCountChange),
      Index("GPRankTimeout", &F::cmbGPRankTimeout, 5, 9),
      // Own computer
      Check("OwnResolve", &F::chkOwnResolve, true),
  };
  return entries;
}

void LoadControl(const TIniDocument& ini, TfrmMain& f, const ControlEntry& e) {
  switch (e.kind) {
    case ControlEntry::History:
      (f.*e.combo).SetItems(LoadHistory(ini, e.key, e.defaults ? e.defaults() : std::vector<std::string>{}));
      break;
    case ControlEntry::Check:
      // A stored mark changes the box as a user's click would, handler included.
      (f.*e.box).SetChecked(ini.ReadBool(kSettings, e.key, e.def != 0));
      break;
    case ControlEntry::Index: {
      TComboBox& combo = f.*e.combo;
      int v = ReadRanged(ini, e.key, e.def, 0, e.hi);
      combo.SetItemIndex(v < combo.Count() ? v : e.def);
      break;
    }
    case ControlEntry::Text:
      (f.*e.combo).SetText(Cut(Trim(ini.ReadString(kSettings, e.key, "")), 16));
      break;
  }
  if (e.afterLoad) (f.*e.afterLoad)();
}

bool SaveControl(TIniDocument& ini, TfrmMain& f, const ControlEntry& e) {
  switch (e.kind) {
    case ControlEntry::History:
      return SaveHistory(ini, e.key, (f.*e.combo).Items());
    case ControlEntry::Check:
      return ini.WriteBool(kSettings, e.key, (f.*e.box).Checked());
    case ControlEntry::Index:
      return ini.WriteInt(kSettings, e.key, (f.*e.combo).ItemIndex());
    case ControlEntry::Text:
      return ini.WriteString(kSettings, e.key, StoredText(Trim((f.*e.combo).Text())));
  }
  return false;
}

// [Window]: where the main window was when it closed, in pixels of the
// desktop. Sizes outside these bounds are no window's.
const char* const kWindow = "Window";
struct PlacementEntry {
  const char* key;
  int TfrmMain::TPlacement::*value;
  int lo, hi;
};
const PlacementEntry kPlacementEntries[] = {
    {"Left", &TfrmMain::TPlacement::Left, -100000, 100000},
    {"Top", &TfrmMain::TPlacement::Top, -100000, 100000},
    {"Width", &TfrmMain::TPlacement::Width, 0, 100000},
    {"Height", &TfrmMain::TPlacement::Height, 0, 100000},
};

void LoadPlacement(const TIniDocument& ini, TfrmMain::TPlacement& p) {
  p = {};
  for (const PlacementEntry& e : kPlacementEntries) {
    int v = ini.ReadInt(kWindow, e.key, 0);
    p.*e.value = v < e.lo || v > e.hi ? 0 : v;
  }
  p.Maximized = ini.ReadBool(kWindow, "Maximized", false);
  if (p.Width == 0 || p.Height == 0) p = {};  // half a placement is none
}

bool SavePlacement(TIniDocument& ini, const TfrmMain::TPlacement& p) {
  if (p.Width <= 0 || p.Height <= 0) return true;  // none known: the file keeps its own
  bool ok = true;
  for (const PlacementEntry& e : kPlacementEntries) ok = ini.WriteInt(kWindow, e.key, p.*e.value) && ok;
  return ini.WriteBool(kWindow, "Maximized", p.Maximized) && ok;
}

}  // namespace

std::vector<std::string> ReadHistoryList(const std::string& file, const std::string& section) {
  TIniDocument ini;
  ini.Load(file);
  return LoadHistory(ini, section);
}

bool WriteHistoryList(const std::string& file, const std::string& section,
                      const std::vector<std::string>& items) {
  TIniDocument ini;
  // A file that is there but cannot be read is left alone.
  if (ini.Load(file) == TIniDocument::LoadResult::Failed) return false;
  return SaveHistory(ini, section, items) && ini.Save(file);
}

bool LoadSettings(TfrmMain& f) {
  TIniDocument ini;
  // Missing or unreadable: every value takes its default.
  const bool readable = ini.Load(IniFilePath) != TIniDocument::LoadResult::Failed;
  SettingsDropped = ini.Dropped();
  auto text = [&](const char* key, const std::string& def) { return ini.ReadString(kSettings, key, def); };

  // 1. General values.
  LanguageName = text("Language", "");
  MaxRecentItems = ReadRanged(ini, "MaxRecentItems", 25, 5, 100);
  NameResTimeout = ReadRanged(ini, "NameResTimeout", 2000, 100, 10000);
  TimeSetLimit = ReadRanged(ini, "TimeSetLimit", 1000, 1, 1000000000);
  TimeSamples = ReadRanged(ini, "TimeSamples", 4, 1, SntpClient::kMaxSamples);
  ActiveDnsServerIP = ini.Has(kSettings, "ActiveDnsServerIP") ? text("ActiveDnsServerIP", "")
                                                                : FirstSystemDnsServer();
  HttpProxyUseProxy = ini.ReadBool(kSettings, "HttpProxyUseProxy", false);
  HttpProxyServerName = text("HttpProxyServerName", "");
  HttpProxyServerPort = ReadRanged(ini, "HttpProxyServerPort", 0, 0, 65535);
  HttpProxyUsername = text("HttpProxyUsername", "");
  HttpProxyPassword = UnscramblePassword(text("HttpProxyPassword", ""));
  ExtIpUrl = text("ExtIpUrl", "");
  // IANA's files unless the file says otherwise; an empty value turns the
  // refresh off.
  RdapBootstrapUrl = Trim(text("RdapBootstrapUrl", kIanaRdapBootstrapUrl));
  OutputFontName = Trim(text("OutputFontName", ""));
  OutputFontSize = ReadRanged(ini, "OutputFontSize", 0, 0, 96);
  // Earlier versions wrote their built-in choice back as if chosen: it
  // stands for the desktop's font, not for a face rarely installed here.
  if (OutputFontName == "Courier New" && OutputFontSize == 9) {
    OutputFontName.clear();
    OutputFontSize = 0;
  }
  if (OutputFontName.empty()) OutputFontSize = 0;
  OutputFontCharset = ini.ReadInt(kSettings, "OutputFontCharset", 0);

  // 2.
  f.pcMain.SetActivePageIndex(ReadRanged(ini, "LastPage", 0, 0, 9));
  // By name: list files come and go, so an index would pick another list.
  f.ListChosen = text("ListName", "");
  {
    const int port = ReadRanged(ini, "TracePort", 0, 0, 65535);
    f.cmbTracePort.SetText(port > 0 ? std::to_string(port) : std::string());
  }

  // 3.–12. The tabs' histories and options.
  for (const ControlEntry& e : ControlEntries()) LoadControl(ini, f, e);
  f.PingChartHeight = ReadRanged(ini, "PingChartHeight", TfrmMain::kPingChartDefaultHeight,
                                 TfrmMain::kPingChartMinHeight, TfrmMain::kPingChartMaxHeight);
  LoadPlacement(ini, f.Placement);
  return readable;
}

bool SaveSettings(TfrmMain& f) {
  TIniDocument ini;
  // A file that is there but cannot be read is left alone rather than
  // replaced by one that holds only what is written here.
  if (ini.Load(IniFilePath) == TIniDocument::LoadResult::Failed) return false;

  bool ok = true;
  auto text = [&](const char* key, const std::string& v) {
    ok = ini.WriteString(kSettings, key, StoredText(v)) && ok;
  };
  auto number = [&](const char* key, int v) { ok = ini.WriteInt(kSettings, key, v) && ok; };

  text("Language", LanguageName);
  number("MaxRecentItems", MaxRecentItems);
  number("NameResTimeout", NameResTimeout);
  {
    // Stored as a number as before, 0 for the method's own port.
    int port = 0;
    number("TracePort", ParseTracePort(f.cmbTracePort.Text(), port) ? port : 0);
  }
  number("TimeSetLimit", TimeSetLimit);
  number("TimeSamples", TimeSamples);
  ok = ini.WriteBool(kSettings, "HttpProxyUseProxy", HttpProxyUseProxy) && ok;
  text("HttpProxyServerName", HttpProxyServerName);
  number("HttpProxyServerPort", HttpProxyServerPort);
  text("HttpProxyUsername", HttpProxyUsername);
  text("HttpProxyPassword", ScramblePassword(HttpProxyPassword));
  text("ActiveDnsServerIP", ActiveDnsServerIP);
  text("ExtIpUrl", ExtIpUrl);
  text("RdapBootstrapUrl", RdapBootstrapUrl);
  text("OutputFontName", OutputFontName);
  number("OutputFontSize", OutputFontSize);
  number("OutputFontCharset", OutputFontCharset);
  number("LastPage", f.pcMain.ActivePageIndex());
  number("PingChartHeight", f.PingChartHeight);
  // Without list files this time the choice of before stays for their return.
  text("ListName", f.cmbListList.Count() > 0 ? f.cmbListList.Text() : f.ListChosen);

  for (const ControlEntry& e : ControlEntries()) ok = SaveControl(ini, f, e) && ok;
  ok = SavePlacement(ini, f.Placement) && ok;

  // The options dialog writes the browser keys and the DNS server list itself.
  return ini.Save(IniFilePath) && ok;
}

}  // namespace quovix
