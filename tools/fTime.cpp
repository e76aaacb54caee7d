// Time tool: the local clock beside the time of an NTP server, both running,
// and setting the system clock from the server's time.
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "app/formMain.h"
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
    default:
      return {"out_of_range", LangText("Main|OutTimeWhyRange",
                                       "die Zeit liegt nicht zwischen 1980 und 2099")};
  }
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
    run.Inputs = {&lblTimeServer, &cmbTimeServer};
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

    NtpTime = 0;
    TimeOffset = 0;
    lblTimeNet.SetCaption(LangText("Main|sbMainTimeNtpServer", "Zeit vom NTP-Server:"));
    btnTimeUpdate.SetEnabled(false);

    std::string idn = host;
    const char* refusal = IsHostName(host) ? EncodeHostName(host, idn) : nullptr;
    if (refusal) {
      AppendIdnFailure(reTime, host, refusal);
      failure = reTime.Lines().back().Text;
      SetToolResult(pgTime, {{"server", host}, {"error", "no_answer"}, {"reason", refusal}});
    } else {
      if (idn != host)
        AppendOutput(reTime, LangText("Main|OutInfoIdnEncoded", "  IDN-kodiert: %s1%", {idn}),
                     clNavy);
      IdSNTP.Host = idn;
      double answer = 0;
      try {
        IdSNTP.Open();
        answer = IdSNTP.DateTime();
      } catch (const std::exception&) {
        // An unknown server or a socket failure: no network time; the
        // client's status tells which.
        answer = 0;
      }
      TLineFields result{{"server", IdSNTP.Host}, {"port", IdSNTP.Port}};
      const TTimeFailure failed =
          QueryFailure(IdSNTP, answer > kFirstValidTime && answer < kLastValidTime);
      const char* error = failed.Reason;
      if (error) fail(failed.Text, failed.Color, JoinFields(result, {{"reason", error}}));
      if (!error) {
        result.insert(result.end(),
                      {{"server_time", Iso8601Utc(DateTimeFromNtp(IdSNTP.LastReply().Transmit, 0))},
                       {"offset_ms", IdSNTP.Measure().Offset * 1000.0},
                       {"delay_ms", IdSNTP.Measure().Delay * 1000.0},
                       {"stratum", IdSNTP.LastReply().Stratum}});
        NtpTime = answer;
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
