// Time tool: the local clock beside the time of an NTP server, both running,
// and setting the system clock from the server's time.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "app/formMain.h"
#include "clients/NtpSelection.h"
#include "clients/NtsKe.h"
#include "common/DateTime.h"
#include "common/fMain.h"
#include "platform/Clock.h"
#include "platform/Desktop.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"

namespace quovix {
namespace {

// Server times outside 1980-01-01 … 2099-12-31 are not believed.
constexpr double kFirstValidTime = 29221.0;
constexpr double kLastValidTime = 73050.0;
constexpr std::uint16_t kNtpPort = 123;
constexpr double kOneSecond = 1.0 / kSecondsPerDay;

// Refreshes both clock labels; advance moves the network clock on by the one
// second that passed since the last tick.
void ShowClocks(TfrmMain& f, bool advance) {
  f.lblTimeLocTime.SetCaption(FormatDateTimeUser(LocalNow()));
  if (f.NtpTime > 0) {
    if (advance) f.NtpTime += kOneSecond;
    f.lblTimeNetTime.SetCaption(FormatDateTimeUser(f.NtpTime));
  } else {
    f.lblTimeNetTime.SetCaption("---");
  }
}

// The server field may name a port ("host:port", "[v6]:port"), for servers
// that do not listen on the standard one. An IPv6 address without brackets
// has no port.
void SplitServer(const std::string& server, std::string& host, std::uint16_t& port) {
  host = server;
  port = kNtpPort;
  auto [rest, p] = SplitUrlPort(server);
  const bool bracketed = !rest.empty() && rest.front() == '[' && IpAddress::Parse(rest).IsV6();
  if (rest != server && p > 0 && p <= 65535 &&
      (rest.find(':') == std::string::npos || bracketed)) {
    host = rest;
    port = static_cast<std::uint16_t>(p);
  }
}

// Why a query found no time: the reason's name for scripts, the line and
// its colour.
struct TTimeFailure {
  const char* Reason = nullptr;
  std::string Text;
  TColor Color = clRed;
};

// The reason an answer was not taken, as the end of the "verworfen" line.
std::pair<const char*, std::string> Rejection(const SntpClient& c) {
  switch (c.Status()) {
    case TSntpStatus::ShortReply:
      return {"short_reply", LangText("Main|OutTimeWhyShort", "kürzer als 48 Bytes")};
    case TSntpStatus::WrongOriginate:
      return {"foreign_origin",
              LangText("Main|OutTimeWhyOrigin",
                       "sie nennt als Ursprungszeit nicht die unserer Anfrage (veraltet oder gefälscht)")};
    case TSntpStatus::NotServer:
      return {"not_server", LangText("Main|OutTimeWhyMode", "sie kommt nicht im Server-Modus")};
    case TSntpStatus::Unsynchronised:
      if (c.LastReply().LeapIndicator != 3)
        return {"unsynchronised",
                LangText("Main|OutTimeWhyStratum16",
                         "der Server ist nicht synchronisiert (Stratum 16)")};
      return {"unsynchronised", LangText("Main|OutTimeWhyLeap",
                                         "der Server ist nicht synchronisiert (Leap Indicator 3)")};
    case TSntpStatus::ZeroTimestamp:
      return {"zero_timestamp",
              LangText("Main|OutTimeWhyZero", "ihr Empfangs- oder Sendezeitstempel ist 0")};
    case TSntpStatus::BadStratum:
      return {"bad_stratum", LangText("Main|OutTimeWhyStratum", "Stratum %s1%",
                                      {std::to_string(c.LastReply().Stratum)})};
    case TSntpStatus::NegativeDelay:
      return {"negative_delay", LangText("Main|OutTimeWhyNegative", "ihre Umlaufzeit ist negativ")};
    case TSntpStatus::DelayTooLong:
      return {"delay_too_long",
              LangText("Main|OutTimeWhyLong",
                       "ihre Umlaufzeit ist länger, als der Austausch gedauert hat")};
    case TSntpStatus::NtsAuthFailed:
      return {"nts_auth_failed", LangText("Main|OutTimeWhyNtsAuth",
                                          "sie besteht die NTS-Authentifizierung nicht")};
    case TSntpStatus::NtsNoCookie:
      return {"nts_no_cookie", LangText("Main|OutTimeWhyNtsCookie", "kein NTS-Cookie mehr übrig")};
    default:
      return {"out_of_range", LangText("Main|OutTimeWhyRange",
                                       "die Zeit liegt nicht zwischen 1980 und 2099")};
  }
}

// What a kiss code says, by the codes RFC 5905 and RFC 8915 name; others
// are shown by their code alone.
std::string KissMeaning(const std::string& code) {
  static const struct {
    const char* Code;
    const char* Key;
    const char* Text;
  } kCodes[] = {
      {"DENY", "Main|OutTimeKissDENY", "Zugang verweigert"},
      {"RSTR", "Main|OutTimeKissRSTR", "Zugang nach den Regeln des Servers verweigert"},
      {"RATE", "Main|OutTimeKissRATE", "zu viele Anfragen, später wieder fragen"},
      {"INIT", "Main|OutTimeKissINIT", "der Server ist noch nicht synchronisiert"},
      {"STEP", "Main|OutTimeKissSTEP", "die Uhr des Servers wurde eben gestellt"},
      {"AUTH", "Main|OutTimeKissAUTH", "die Authentifizierung ist gescheitert"},
      {"CRYP", "Main|OutTimeKissCRYP", "die kryptographische Authentifizierung ist gescheitert"},
      {"NKEY", "Main|OutTimeKissNKEY", "kein Schlüssel gefunden"},
      {"NTSN", "Main|OutTimeKissNTSN", "NTS-Cookie nicht angenommen (NTS NAK)"},
  };
  for (const auto& k : kCodes)
    if (code == k.Code) return LangText(k.Key, k.Text);
  return LangText("Main|OutTimeKissOther", "Code ohne bekannte Bedeutung");
}

// The kiss-o'-death line; DENY and RSTR also say that the server is not
// asked again.
std::string KissLine(const SntpClient& c) {
  std::string text = LangText("Main|OutTimeKiss",
                              "Der NTP-Server \"%s1%\" sendet Kiss-o'-Death %s2% (%s3%).",
                              {c.Host, c.Kiss(), KissMeaning(c.Kiss())});
  if (KissForbidsQueries(c.Kiss()))
    text += " " + LangText("Main|OutTimeKissNoMore", "Er wird nicht mehr gefragt.");
  return text;
}

// Nothing (Reason null) when the client's answer is a valid time.
TTimeFailure QueryFailure(const SntpClient& c, bool validTime) {
  const std::string& host = c.Host;
  switch (c.Status()) {
    case TSntpStatus::NoAddress:
      return {"not_found",
              LangText("Main|OutTimeNotFound", "Der NTP-Server \"%s1%\" wurde nicht gefunden.",
                       {host})};
    case TSntpStatus::NoAnswer:
      return {"timeout",
              LangText("Main|OutTimeNoAnswer",
                       "Keine Antwort von \"%s1%\" innerhalb von %s2% ms (Zeitüberschreitung).",
                       {host, std::to_string(c.ReceiveTimeout)}),
              clMaroon};
    case TSntpStatus::KissOfDeath:
      if (c.KissRemembered())
        return {"kiss_of_death",
                LangText("Main|OutTimeKissRemembered",
                         "Der NTP-Server \"%s1%\" wird nicht mehr gefragt: er hat zuvor den "
                         "Zugang verweigert (Kiss-o'-Death %s2%).",
                         {host, c.Kiss()})};
      return {"kiss_of_death", KissLine(c)};
    case TSntpStatus::Unreachable:
      return {"unreachable",
              LangText("Main|OutTimeUnreachable",
                       "Der NTP-Server \"%s1%\" ist nicht erreichbar (Port %s2% abgewiesen).",
                       {host, std::to_string(c.Port)})};
    default:
      if (validTime) return {};
      const auto [reason, why] = Rejection(c);
      return {reason, LangText("Main|OutTimeRejected",
                               "Die Antwort von \"%s1%\" wurde verworfen: %s2%.", {host, why})};
  }
}

// Seconds with the given decimals, a sign when asked, and the decimal mark
// of the language (a comma in German).
std::string FormatSeconds(double seconds, int decimals, bool sign) {
  char buf[64];
  std::snprintf(buf, sizeof buf, sign ? "%+.*f" : "%.*f", decimals, seconds);
  std::string text = buf;
  if (const size_t dot = text.find('.'); dot != std::string::npos)
    text.replace(dot, 1, LangText("Main|DecimalSeparator", ","));
  return text;
}

// Milliseconds of a time in seconds, to the microsecond.
std::string FormatMs(double seconds, bool sign) { return FormatSeconds(seconds * 1000.0, 3, sign); }

// A reference time older than this (or none at all) says the server's clock
// is no longer disciplined: NTP servers poll their sources at most every 36 h.
constexpr double kStaleReferenceSeconds = 36 * 3600.0;

// The lines of a measured answer: each sample, the one chosen with the
// jitter, then what the server says of itself. The fields go to the result
// too.
void ShowMeasurement(TfrmMain& f, const SntpClient& c, TLineFields& result) {
  const TLineFields server{{"server", c.Host}, {"address", c.Answerer().ToString()}};
  const std::vector<NtpSample>& samples = c.Samples();
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const NtpMeasure& m = samples[i].Measure;
    std::string text =
        LangText("Main|OutTimeSample", "Probe %s1%: Abweichung %s2% ms, Umlaufzeit %s3% ms",
                 {std::to_string(i + 1), FormatMs(m.Offset, true), FormatMs(m.Delay, false)});
    TLineFields fields = JoinFields(server, {{"sample", static_cast<std::int64_t>(i + 1)},
                                             {"offset_ms", m.Offset * 1000.0},
                                             {"delay_ms", m.Delay * 1000.0}});
    // Only an NTS query marks its samples; the others' lines stay as they were.
    if (samples[i].Authenticated) {
      text += ", " + LangText("Main|OutTimeNtsVerified", "authentifiziert");
      fields.push_back({"nts", true});
    }
    f.AppendOutput(f.reTime, text, samples[i].Authenticated ? clGreen : clBlack, std::move(fields));
  }
  const NtpMeasure& best = c.Measure();
  f.AppendOutput(f.reTime,
                 LangText("Main|OutTimeChosen",
                          "Gewählt: Probe %s1% von %s2% (kleinste Umlaufzeit), Abweichung %s3% ms, "
                          "Umlaufzeit %s4% ms, Jitter %s5% ms",
                          {std::to_string(c.Chosen() + 1), std::to_string(samples.size()),
                           FormatMs(best.Offset, true), FormatMs(best.Delay, false),
                           FormatMs(c.Jitter(), false)}),
                 clNavy,
                 JoinFields(server, {{"sample", static_cast<std::int64_t>(c.Chosen() + 1)},
                                     {"samples", static_cast<std::int64_t>(samples.size())},
                                     {"offset_ms", best.Offset * 1000.0},
                                     {"delay_ms", best.Delay * 1000.0},
                                     {"jitter_ms", c.Jitter() * 1000.0}}));
  if (c.ForeignReplies() > 0)
    f.AppendOutput(f.reTime,
                   LangText("Main|OutTimeForeign",
                            "%s1% Antwort(en) übergangen: sie nannten als Ursprungszeit nicht die "
                            "unserer Anfrage (veraltet oder gefälscht).",
                            {std::to_string(c.ForeignReplies())}),
                   clNavy, JoinFields(server, {{"foreign_replies", c.ForeignReplies()}}));

  const SntpPacket& r = c.LastReply();
  const char* refKind = "ipv4";
  const std::string refid = ReferenceIdText(r, c.Answerer().IsV6(), &refKind);
  const double rootDelay = NtpShortSeconds(r.RootDelay), rootDisp = NtpShortSeconds(r.RootDispersion);
  const char* leapKeys[] = {"Main|OutTimeLeap0", "Main|OutTimeLeap1", "Main|OutTimeLeap2",
                            "Main|OutTimeLeap3"};
  const char* leapTexts[] = {"keine Schaltsekunde angekündigt",
                             "Schaltsekunde angekündigt: die letzte Minute des Tages hat 61 Sekunden",
                             "Schaltsekunde angekündigt: die letzte Minute des Tages hat 59 Sekunden",
                             "nicht synchronisiert"};
  const std::string precision =
      FormatSeconds(std::ldexp(1.0, std::clamp(int{r.Precision}, -64, 64)) * 1e6, 3, false);
  const double bias = LocalBiasDays();
  const bool noReference = r.Reference.IsZero();
  const double age = noReference ? 0 : NtpDifference(r.Transmit, r.Reference);
  struct Line {
    std::string Text;
    TLineFields Fields;
  } lines[] = {
      {LangText("Main|OutTimeStratum", "Stratum: %s1%", {std::to_string(r.Stratum)}),
       {{"stratum", r.Stratum}}},
      {LangText("Main|OutTimeRefId", "Referenz-ID: %s1%", {refid}),
       {{"refid", refid}, {"refid_kind", refKind}}},
      {LangText("Main|OutTimeLeap", "Leap Indicator: %s1% (%s2%)",
                {std::to_string(r.LeapIndicator), LangText(leapKeys[r.LeapIndicator & 3],
                                                           leapTexts[r.LeapIndicator & 3])}),
       {{"leap", r.LeapIndicator}}},
      {LangText("Main|OutTimePrecision", "Genauigkeit: 2^%s1% s (%s2% µs)",
                {std::to_string(r.Precision), precision}),
       {{"precision", r.Precision}}},
      {LangText("Main|OutTimeRoot", "Root Delay: %s1% ms, Root Dispersion: %s2% ms",
                {FormatMs(rootDelay, false), FormatMs(rootDisp, false)}),
       {{"root_delay_ms", rootDelay * 1000.0}, {"root_dispersion_ms", rootDisp * 1000.0}}},
      {noReference ? LangText("Main|OutTimeNoReference", "Referenzzeit: keine")
                   : LangText("Main|OutTimeReference", "Referenzzeit: %s1% (%s2% s vor der Antwort)",
                              {FormatDateTimeUser(DateTimeFromNtp(r.Reference, bias)),
                               FormatSeconds(age, 3, false)}),
       noReference ? TLineFields{{"reference_time", nullptr}}
                   : TLineFields{{"reference_time", Iso8601Utc(DateTimeFromNtp(r.Reference, 0))},
                                 {"reference_age_s", age}}},
  };
  for (Line& l : lines) {
    result.insert(result.end(), l.Fields.begin(), l.Fields.end());
    f.AppendOutput(f.reTime, l.Text, clBlack, JoinFields(server, l.Fields));
  }
  result.push_back({"nts", samples[c.Chosen()].Authenticated});
  if (noReference || age > kStaleReferenceSeconds)
    f.AppendOutput(f.reTime,
                   noReference
                       ? LangText("Main|OutTimeNeverSynced",
                                  "Der Server nennt keine Referenzzeit: seine Uhr war nie "
                                  "synchronisiert.")
                       : LangText("Main|OutTimeStale",
                                  "Die Referenzzeit des Servers liegt %s1% Stunden zurück: seine "
                                  "Uhr wird vermutlich nicht mehr nachgeführt.",
                                  {FormatSeconds(age / 3600.0, 1, false)}),
                   clMaroon, JoinFields(server, {{"reason", "stale_reference"}}));
  // A kiss after the first samples ends the measurement; those samples stay.
  if (!c.Kiss().empty())
    f.AppendOutput(f.reTime, KissLine(c), clMaroon,
                   JoinFields(server, {{"reason", "kiss_of_death"}, {"kiss", c.Kiss()}}));
}

// The servers the field names when it names several: a list "a, b, c", or
// one name with several addresses (a pool), at most kMaxServers addresses.
// Entries that cannot be asked keep their line. No addresses: the field
// names one server, asked as a single query.
constexpr std::size_t kMaxServers = 16;
struct TTimeTargets {
  std::vector<std::pair<IpAddress, std::uint16_t>> Addresses;
  std::vector<std::string> Unknown;  // entries without an address
  bool OnePool = false;              // one name, several addresses
};

TTimeTargets SeveralServers(const std::string& field, int timeoutMs) {
  TTimeTargets t;
  std::vector<std::string> entries;
  for (std::size_t start = 0; start <= field.size();) {
    const std::size_t comma = std::min(field.find(',', start), field.size());
    if (std::string e = Trim(field.substr(start, comma - start)); !e.empty()) entries.push_back(e);
    start = comma + 1;
  }
  if (entries.size() > kMaxServers) entries.resize(kMaxServers);
  // One literal, or one name (its addresses are looked at below).
  if (entries.size() == 1 && !IsHostName(entries[0])) return t;
  for (const std::string& entry : entries) {
    std::string host;
    std::uint16_t port = kNtpPort;
    SplitServer(entry, host, port);
    std::vector<IpAddress> found;
    std::string idn = host;
    if (!IsHostName(host)) {
      if (const IpAddress a = IpAddress::Parse(host); !a.Empty()) found.push_back(a);
    } else if (!EncodeHostName(host, idn)) {
      found = ResolveHostAddresses(idn, timeoutMs);
    }
    if (found.empty()) t.Unknown.push_back(entry);
    for (const IpAddress& a : found) {
      const auto key = std::make_pair(a, port);
      if (t.Addresses.size() < kMaxServers &&
          std::find(t.Addresses.begin(), t.Addresses.end(), key) == t.Addresses.end())
        t.Addresses.push_back(key);
    }
  }
  t.OnePool = entries.size() == 1;
  // One name with one address: the single query, as ever.
  if (t.OnePool && t.Addresses.size() < 2) return {};
  return t;
}

// Why NTS key establishment gave no keys: the reason's name for scripts and
// the end of the line, each step by its name.
std::pair<const char*, std::string> NtsKeFailure(const NtsKeResult& r, std::uint16_t port) {
  switch (r.Status) {
    case NtsKeStatus::NoAddress:
      return {"not_found", LangText("Main|OutTimeNtsNoAddress", "der Name hat keine Adresse")};
    case NtsKeStatus::Unreachable:
      return {"nts_unreachable", LangText("Main|OutTimeNtsUnreachable",
                                          "keine TCP-Verbindung zu Port %s1%", {std::to_string(port)})};
    case NtsKeStatus::Timeout:
      return {"nts_timeout", LangText("Main|OutTimeNtsTimeout", "Zeitüberschreitung")};
    case NtsKeStatus::Untrusted:
      return {"nts_tls_untrusted",
              LangText("Main|OutTimeNtsUntrusted",
                       "TLS: das Zertifikat des Servers ist nicht vertrauenswürdig")};
    case NtsKeStatus::Tls:
      return {"nts_tls", LangText("Main|OutTimeNtsTls", "TLS-Handshake gescheitert (%s1%)", {r.Detail})};
    case NtsKeStatus::Alpn:
      return {"nts_alpn",
              LangText("Main|OutTimeNtsAlpn", "der Server hat ALPN \"ntske/1\" nicht gewählt")};
    case NtsKeStatus::ErrorRecord:
      return {"nts_error_record", LangText("Main|OutTimeNtsErrorRecord",
                                           "der Server sendet einen Error-Record (Code %s1%)",
                                           {std::to_string(r.ErrorCode)})};
    case NtsKeStatus::NoProtocol:
      return {"nts_no_protocol",
              LangText("Main|OutTimeNtsNoProtocol", "der Server bietet kein NTPv4 an")};
    case NtsKeStatus::NoCommonAead:
      return {"nts_no_common_aead",
              LangText("Main|OutTimeNtsNoAead", "kein gemeinsamer AEAD-Algorithmus")};
    case NtsKeStatus::NoCookies:
      return {"nts_no_cookies", LangText("Main|OutTimeNtsNoCookies", "der Server sendet keine Cookies")};
    case NtsKeStatus::NoKeys:
      return {"nts_no_keys",
              LangText("Main|OutTimeNtsNoKeys", "die Schlüssel lassen sich nicht ableiten")};
    default:
      return {"nts_malformed", LangText("Main|OutTimeNtsMalformed", "die Antwort ist fehlerhaft")};
  }
}

// NTS key establishment with host at port: the lines of what it gave, and
// the session and NTP server for the client. On failure the red line and
// its reason instead.
bool EstablishNts(TfrmMain& f, const std::string& host, std::uint16_t port, NtsSession& session,
                  const char*& reason, std::string& line) {
  const NtsKeResult r = NtsKeyExchange(host, port, NameResTimeout, f.TimeNtsCaFile);
  if (r.Status != NtsKeStatus::Ok) {
    const auto [why, text] = NtsKeFailure(r, port);
    reason = why;
    line = LangText("Main|OutTimeNtsFailed", "NTS-Schlüsselaustausch mit \"%s1%\" gescheitert: %s2%.",
                    {host, text});
    f.AppendOutput(f.reTime, line, clRed,
                   {{"server", host}, {"port", port}, {"reason", why}, {"nts", false}});
    return false;
  }
  f.AppendOutput(f.reTime,
                 LangText("Main|OutTimeNtsKe",
                          "NTS-Schlüsselaustausch mit \"%s1%\" (%s2%, Port %s3%): %s4%, %s5% Cookies",
                          {host, r.Address, std::to_string(port), NtsAeadName(r.Aead),
                           std::to_string(r.Cookies.size())}),
                 clNavy,
                 {{"nts_ke_server", host},
                  {"nts_ke_address", r.Address},
                  {"nts_ke_port", port},
                  {"aead", NtsAeadName(r.Aead)},
                  {"cookies", static_cast<std::int64_t>(r.Cookies.size())}});
  // Without a server record the NTP server is the one that answered.
  f.IdSNTP.Host = r.NtpServer.empty() ? r.Address : r.NtpServer;
  f.IdSNTP.Port = r.NtpPort;
  f.AppendOutput(f.reTime,
                 LangText("Main|OutTimeNtsServer", "NTP-Server laut NTS-KE: %s1%, Port %s2%",
                          {f.IdSNTP.Host, std::to_string(r.NtpPort)}),
                 clNavy, {{"nts_server", f.IdSNTP.Host}, {"nts_port", r.NtpPort}});
  session = {r.Aead, r.KeyC2S, r.KeyS2C, r.Cookies};
  return true;
}

// Several servers at once: a row per address, the falsetickers marked. The
// clock follows only a pool's first agreeing address; of a list, none.
void QueryServersSideBySide(TfrmMain& f, TTimeTargets& targets, std::string& failure) {
  std::vector<NtpServerQuery> queries(targets.Addresses.size());
  for (std::size_t i = 0; i < queries.size(); ++i) {
    SntpClient& c = *queries[i].Client;
    c.Host = targets.Addresses[i].first.ToString();
    c.Port = targets.Addresses[i].second;
    c.ReceiveTimeout = NameResTimeout;
    c.SampleCount = f.IdSNTP.SampleCount;
    c.SampleSpacingMs = f.IdSNTP.SampleSpacingMs;
    c.CheckStratum = f.IdSNTP.CheckStratum;
  }
  QueryInParallel(queries);

  std::vector<NtpInterval> intervals;
  std::vector<std::size_t> answered;
  std::vector<TTimeFailure> failures(queries.size());
  for (std::size_t i = 0; i < queries.size(); ++i) {
    const SntpClient& c = *queries[i].Client;
    const double t = queries[i].Time;
    failures[i] = QueryFailure(c, t > kFirstValidTime && t < kLastValidTime);
    if (failures[i].Reason) continue;
    intervals.push_back(OffsetInterval(c.Measure(), c.LastReply().Precision));
    answered.push_back(i);
  }
  bool agreed = false;
  const std::vector<bool> falseticker = Falsetickers(intervals, &agreed);

  f.AppendOutput(f.reTime,
               LangText("Main|OutTimeSeveral", "%s1% Server, gleichzeitig gefragt:",
                        {std::to_string(queries.size())}),
               clBlue);
  for (const std::string& entry : targets.Unknown)
    f.AppendOutput(f.reTime,
                 LangText("Main|OutTimeNotFound", "Der NTP-Server \"%s1%\" wurde nicht gefunden.",
                          {entry}),
                 clRed, {{"server", entry}, {"reason", "not_found"}});
  std::vector<TLineValue> rows;
  int falsetickers = 0;
  std::size_t chosen = queries.size();
  for (std::size_t i = 0; i < queries.size(); ++i) {
    const SntpClient& c = *queries[i].Client;
    const std::string name = c.Port == kNtpPort
                                 ? c.Host
                                 : targets.Addresses[i].first.UrlHost() + ":" + std::to_string(c.Port);
    if (failures[i].Reason) {
      f.AppendOutput(f.reTime, failures[i].Text, failures[i].Color,
                   {{"server", c.Host}, {"port", c.Port}, {"reason", failures[i].Reason}});
      rows.push_back(TLineFields{{"server", c.Host}, {"port", c.Port}, {"reason", failures[i].Reason}});
      continue;
    }
    const std::size_t k = std::find(answered.begin(), answered.end(), i) - answered.begin();
    const bool bad = agreed && falseticker[k];
    if (bad) ++falsetickers;
    if (!bad && chosen == queries.size()) chosen = i;
    const SntpPacket& r = c.LastReply();
    const std::string refid = ReferenceIdText(r, targets.Addresses[i].first.IsV6());
    std::string text = LangText(
        "Main|OutTimeRow", "%s1%: Abweichung %s2% ms, Umlaufzeit %s3% ms, Jitter %s4% ms, Stratum %s5%, Referenz %s6%",
        {name, FormatMs(c.Measure().Offset, true), FormatMs(c.Measure().Delay, false),
         FormatMs(c.Jitter(), false), std::to_string(r.Stratum), refid});
    if (bad)
      text += " " + LangText("Main|OutTimeFalseticker",
                             "– Falseticker: außerhalb der Übereinstimmung der anderen");
    TLineFields fields{{"server", c.Host},
                       {"port", c.Port},
                       {"offset_ms", c.Measure().Offset * 1000.0},
                       {"delay_ms", c.Measure().Delay * 1000.0},
                       {"jitter_ms", c.Jitter() * 1000.0},
                       {"samples", static_cast<std::int64_t>(c.Samples().size())},
                       {"stratum", r.Stratum},
                       {"refid", refid},
                       {"leap", r.LeapIndicator},
                       {"falseticker", bad},
                       {"nts", false}};
    rows.push_back(fields);
    f.AppendOutput(f.reTime, text, bad ? clMaroon : clBlack, std::move(fields));
  }
  if (!agreed && answered.size() >= 2)
    f.AppendOutput(f.reTime,
                 LangText("Main|OutTimeNoAgreement",
                          "Keine Mehrheit der Server stimmt überein: kein Falseticker bestimmbar."),
                 clNavy);
  TLineFields result{{"servers", TLineValue::List(std::move(rows))},
                     {"answered", static_cast<std::int64_t>(answered.size())},
                     {"falsetickers", falsetickers}};
  if (answered.empty()) {
    failure = failures.empty() ? std::string() : failures.front().Text;
    result.insert(result.end(), {{"error", "no_answer"},
                                 {"reason", failures.empty() ? "not_found" : failures.front().Reason}});
  } else {
    f.SetToolAnswered(pgTime);
  }
  if (targets.OnePool && chosen < queries.size()) {
    const SntpClient& c = *queries[chosen].Client;
    f.NtpTime = queries[chosen].Time + c.SinceChosen() / kSecondsPerDay;
    f.TimeOffset = c.Measure().Offset;
    f.IdSNTP.Host = c.Host;
    f.lblTimeNet.SetCaption(LangText("Main|sbMainTimeLocal", "Zeit von \"%s1%\":", {c.Host}));
    f.btnTimeUpdate.SetEnabled(platform::Clock().MaySetClock());
  } else if (!targets.OnePool && !answered.empty()) {
    f.AppendOutput(f.reTime,
                 LangText("Main|OutTimeSetOne",
                          "Die Systemzeit wird nur nach einem einzeln gefragten Server gestellt."),
                 clNavy);
  }
  f.SetToolResult(pgTime, std::move(result));
}

}  // namespace

void TfrmMain::tmrTimeTimer() { ShowClocks(*this, true); }

void TfrmMain::btnTimeQueryClick() {
  const std::string server = Trim(cmbTimeServer.Text());
  if (server.empty()) {
    platform::Desktop().MessageBox(
        LangText("Main|MsgTimeNoNtpServerTitle", "NTP-Server fehlt"),
        LangText("Main|MsgTimeNoNtpServerText",
                 "Zur Abfrage der Zeit muss ein NTP-Server angegeben werden!"));
    return;
  }
  // The line naming why no time came; the status bar repeats it.
  std::string failure;
  auto fail = [&](const std::string& text, TColor color, TLineFields fields) {
    failure = text;
    AppendOutput(reTime, text, color, std::move(fields));
  };
  {
    ToolRunGuard::Options run;
    run.Start = &btnTimeQuery;
    run.Inputs = {&lblTimeServer, &cmbTimeServer, &chkTimeNts};
    run.MainInput = &cmbTimeServer;
    run.Pane = &reTime;
    run.StatusKey = "Main|sbMainTimeGet";
    run.StatusDefault = "Hole Zeit von NTP-Server \"%s1%\"...";
    run.StatusArg = server;
    ToolRunGuard guard(*this, std::move(run));
    IdSNTP.Close();
    std::string host;
    SplitServer(server, host, IdSNTP.Port);
    IdSNTP.ReceiveTimeout = NameResTimeout;
    IdSNTP.SampleCount = TimeSamplesRun > 0 ? TimeSamplesRun : TimeSamples;

    NtpTime = 0;
    TimeOffset = 0;
    lblTimeNet.SetCaption(LangText("Main|sbMainTimeNtpServer", "Zeit vom NTP-Server:"));
    btnTimeUpdate.SetEnabled(false);

    std::string idn = host;
    const char* refusal = IsHostName(host) ? EncodeHostName(host, idn) : nullptr;
    // NTS asks the one server named (a pool's name too: its key
    // establishment decides the NTP server); a list goes without.
    const bool list = server.find(',') != std::string::npos;
    const bool nts = chkTimeNts.Checked() && !list;
    if (chkTimeNts.Checked() && list)
      AppendOutput(reTime,
                   LangText("Main|OutTimeNtsList",
                            "NTS gilt nur für einen einzeln gefragten Server: die Liste wird ohne "
                            "NTS gefragt."),
                   clNavy);
    TTimeTargets several = nts ? TTimeTargets{} : SeveralServers(server, NameResTimeout);
    if (!several.Addresses.empty() || !several.Unknown.empty()) {
      QueryServersSideBySide(*this, several, failure);
    } else if (refusal) {
      AppendIdnFailure(reTime, host, refusal);
      failure = reTime.Lines().back().Text;
      SetToolResult(pgTime, {{"server", host}, {"error", "no_answer"}, {"reason", refusal}});
    } else {
      if (idn != host)
        AppendOutput(reTime, LangText("Main|OutInfoIdnEncoded", "  IDN-kodiert: %s1%", {idn}),
                     clNavy);
      IdSNTP.Host = idn;
      double answer = 0;
      NtsSession session;
      const char* ntsReason = nullptr;
      std::string ntsLine;
      // A port in the field is the key establishment's; the NTP server
      // and port are those it names.
      if (nts && !EstablishNts(*this, idn, host != server ? IdSNTP.Port : kNtsKePort, session,
                               ntsReason, ntsLine)) {
        failure = ntsLine;
        SetToolResult(pgTime,
                      {{"server", idn}, {"error", "no_answer"}, {"reason", ntsReason}, {"nts", false}});
      } else {
        if (nts) IdSNTP.Nts = &session;
        try {
          IdSNTP.Open();
          answer = IdSNTP.DateTime();
        } catch (const std::exception&) {
          // An unknown server or a socket failure: no network time; the
          // client's status tells which.
          answer = 0;
        }
        IdSNTP.Nts = nullptr;
        TLineFields result{{"server", IdSNTP.Host}, {"port", IdSNTP.Port}};
        const TTimeFailure failed =
            QueryFailure(IdSNTP, answer > kFirstValidTime && answer < kLastValidTime);
        const char* error = failed.Reason;
        if (error) {
          TLineFields fields = JoinFields(result, {{"reason", error}});
          if (!IdSNTP.Kiss().empty()) fields.push_back({"kiss", IdSNTP.Kiss()});
          fail(failed.Text, failed.Color, std::move(fields));
        }
        if (!error) {
          result.insert(result.end(),
                        {{"server_time", Iso8601Utc(DateTimeFromNtp(IdSNTP.LastReply().Transmit, 0))},
                         {"offset_ms", IdSNTP.Measure().Offset * 1000.0},
                         {"delay_ms", IdSNTP.Measure().Delay * 1000.0},
                         {"jitter_ms", IdSNTP.Jitter() * 1000.0},
                         {"samples", static_cast<std::int64_t>(IdSNTP.Samples().size())}});
          ShowMeasurement(*this, IdSNTP, result);
          // Warnings about the server (its reference, a kiss) do not undo the
          // time it gave.
          SetToolAnswered(pgTime);
          // The chosen sample may be seconds old by now: its time moves on
          // by what passed since it arrived.
          NtpTime = answer + IdSNTP.SinceChosen() / kSecondsPerDay;
          TimeOffset = IdSNTP.Measure().Offset;
          lblTimeNet.SetCaption(
              LangText("Main|sbMainTimeLocal", "Zeit von \"%s1%\":", {IdSNTP.Host}));
          btnTimeUpdate.SetEnabled(platform::Clock().MaySetClock());
        } else {
          // Scripts know a failed query by this one name; the reason tells why.
          result.insert(result.end(), {{"error", "no_answer"}, {"reason", error}});
        }
        SetToolResult(pgTime, std::move(result));
      }
    }
  }
  // The fresh answer is shown as received; the regular ticks move it on.
  ShowClocks(*this, false);
  lblTimeDiffValue.SetCaption(NtpTime > 0 ? FormatSeconds(TimeOffset, 6, true) + " s" : "---");
  if (!failure.empty()) SetStatus(" " + failure);
}

void TfrmMain::btnTimeUpdateClick() {
  if (NtpTime < kFirstValidTime || NtpTime > kLastValidTime) {
    platform::Desktop().MessageBox(
        LangText("Main|MsgTimeSetInvalidTitle", "Systemzeit ungültig"),
        LangText("Main|MsgTimeSetInvalidText", "Die Systemzeit kann nicht gesetzt werden!"));
    return;
  }
  // A step larger than the limit is more likely a wrong or forged answer
  // than a clock that far off: it needs the user's word (or the console's
  // /TimeForce:1).
  const double step = (NtpTime - LocalNow()) * kSecondsPerDay;
  if (std::fabs(step) > TimeSetLimit && !TimeSetForced) {
    const std::vector<std::string> args = {FormatSeconds(step, 3, true), IdSNTP.Host,
                                           std::to_string(TimeSetLimit)};
    const bool confirmed = platform::Desktop().Confirm(
        LangText("Main|MsgTimeSetStepTitle", "Große Zeitabweichung"),
        LangText("Main|MsgTimeSetStepText",
                 "Die Zeit von \"%s2%\" weicht um %s1% s von der Systemzeit ab, mehr als die "
                 "Grenze von %s3% s. Soll die Systemzeit trotzdem gesetzt werden?",
                 args));
    if (!confirmed) {
      const std::string text =
          LangText("Main|OutTimeStepRefused",
                   "Die Systemzeit wurde nicht gesetzt: die Zeit von \"%s2%\" weicht um %s1% s "
                   "ab, mehr als die Grenze von %s3% s.",
                   args);
      AppendOutput(reTime, text, clRed,
                   {{"server", IdSNTP.Host},
                    {"reason", "step_over_limit"},
                    {"step_s", step},
                    {"limit_s", TimeSetLimit}});
      // The time came, but what was asked of it was refused.
      SetToolFailed(pgTime);
      SetStatus(" " + text);
      return;
    }
  }
  const std::vector<TControl*> controls = {&btnTimeQuery, &btnTimeUpdate, &lblTimeServer,
                                           &cmbTimeServer};
  Cursor = TCursor::HourGlass;
  for (TControl* c : controls) c->SetEnabled(false);
  timespec utc{};
  try {
    utc = TimespecFromDateTime(NtpTime + LocalBiasDays());
  } catch (...) {
    for (TControl* c : controls) c->SetEnabled(true);
    Cursor = TCursor::Default;
    throw;
  }
  for (TControl* c : controls) c->SetEnabled(true);
  Cursor = TCursor::Default;

  if (platform::Clock().SetNow(utc) != 0) {
    platform::Desktop().MessageBox(
        LangText("Main|MsgTimeSetErrTitle", "Systemzeit setzen"),
        LangText("Main|MsgTimeSetErrText", "Die Systemzeit konnte nicht gesetzt werden!"));
  }
}

}  // namespace quovix
