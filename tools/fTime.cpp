// Time tool: the local clock beside the time of an NTP server, both running,
// and setting the system clock from the server's time.
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
  {
    ToolRunGuard::Options run;
    run.Start = &btnTimeQuery;
    run.Inputs = {&lblTimeServer, &cmbTimeServer};
    run.MainInput = &cmbTimeServer;
    run.StatusKey = "Main|sbMainTimeGet";
    run.StatusDefault = "Hole Zeit von NTP-Server \"%s1%\"...";
    run.StatusArg = server;
    ToolRunGuard guard(*this, std::move(run));
    IdSNTP.Close();
    SplitServer(server, IdSNTP.Host, IdSNTP.Port);
    IdSNTP.ReceiveTimeout = NameResTimeout;

    NtpTime = 0;
    lblTimeNet.SetCaption(LangText("Main|sbMainTimeNtpServer", "Zeit vom NTP-Server:"));
    btnTimeUpdate.SetEnabled(false);

    double answer = 0;
    try {
      IdSNTP.Open();
      answer = IdSNTP.DateTime();
    } catch (const std::exception&) {
      // An unknown server or a socket failure: simply no network time.
      answer = 0;
    }
    TLineFields result{{"server", IdSNTP.Host}, {"port", IdSNTP.Port}};
    if (answer > kFirstValidTime && answer < kLastValidTime) {
      result.insert(result.end(),
                    {{"server_time", Iso8601Utc(DateTimeFromNtp(IdSNTP.LastReply().Transmit, 0))},
                     {"offset_ms", IdSNTP.ClockOffset() * kSecondsPerDay * 1000.0},
                     {"delay_ms", IdSNTP.RoundTripDelay() * kSecondsPerDay * 1000.0},
                     {"stratum", IdSNTP.LastReply().Stratum}});
    } else {
      result.push_back({"error", "no_answer"});
    }
    SetToolResult(pgTime, std::move(result));
    if (answer > kFirstValidTime && answer < kLastValidTime) {
      NtpTime = answer;
      lblTimeNet.SetCaption(LangText("Main|sbMainTimeLocal", "Zeit von \"%s1%\":", {IdSNTP.Host}));
      btnTimeUpdate.SetEnabled(platform::Clock().MaySetClock());
    }
  }
  // The fresh answer is shown as received; the regular ticks move it on.
  ShowClocks(*this, false);
}

void TfrmMain::btnTimeUpdateClick() {
  if (NtpTime < kFirstValidTime || NtpTime > kLastValidTime) {
    platform::Desktop().MessageBox(
        LangText("Main|MsgTimeSetInvalidTitle", "Systemzeit ungültig"),
        LangText("Main|MsgTimeSetInvalidText", "Die Systemzeit kann nicht gesetzt werden!"));
    return;
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
