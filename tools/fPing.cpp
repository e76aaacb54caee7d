// Ping tool: a series of ICMP echo requests with a check of the echoed data
// and a tally.
#include <algorithm>
#include <chrono>
#include <climits>
#include <thread>

#include "app/fCommandLine.h"
#include "app/formMain.h"
#include "common/Pump.h"
#include "common/fMain.h"
#include "platform/Icmp.h"
#include "shell/fLanguage.h"
#include "tools/fIcmpShared.h"

namespace quovix {

namespace {

// The pause between echoes; the window keeps painting meanwhile, but the
// pause runs to its end (the abort is looked at after it).
void PausePumping(int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, ms));
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(left, kWaitSliceMs)));
    if (left > kWaitSliceMs) ProcessPendingMessages();
  }
}

}  // namespace

void TfrmMain::btnPingStartClick() {
  if (ToolRunGuard::AbortClick(btnPingStart)) return;

  ToolRunGuard::Options o;
  o.Start = &btnPingStart;
  o.Inputs = {&lblPingHost,  &cmbPingHost,  &lblPingCount, &cmbPingCount, &lblPingTimeout,
              &cmbPingTimeout, &lblPingByte, &cmbPingByte,  &lblPingPause, &cmbPingPause,
              &chkPingResolve};
  o.MainInput = &cmbPingHost;
  o.Pane = &rePing;
  o.StatusKey = "Main|sbMainPingTo";
  o.StatusDefault = "Sende Ping(s) an \"%s1%\"...";
  o.StatusArg = cmbPingHost.Text();
  o.Abortable = true;
  ToolRunGuard guard(*this, o);

  std::string target = Cut(Trim(cmbPingHost.Text()), 256);
  if (target.empty()) target = "127.0.0.1";
  const std::string idn = Cut(EncodeIdn(target), 256);
  const int dataSize = StrToIntDef(cmbPingByte.Text(), 32);
  const int timeout = StrToIntDef(cmbPingTimeout.Text(), 2000);
  const int pause = StrToIntDef(cmbPingPause.Text(), 250);
  const bool continuous = cmbPingCount.Text() == "...";
  const int count = continuous ? -1 : StrToIntDef(cmbPingCount.Text(), 3);
  int correct = 0, faulty = 0, missing = 0;

  std::string address;
  // The tally so far, however the run ends.
  struct Tally {
    TfrmMain& f;
    const std::string& address;
    const int &correct, &faulty, &missing;
    ~Tally() {
      f.SetToolResult(pgPing, {{"address", address},
                               {"sent", correct + faulty + missing},
                               {"ok", correct},
                               {"faulty", faulty},
                               {"missing", missing}});
    }
  } tally{*this, address, correct, faulty, missing};
  if (chkPingResolve.Checked()) {
    AppendOutput(rePing,
                 LangText("Main|sbMainPingInfoFor", "Host-Informationen für \"%s1%\":",
                          {cmbPingHost.Text()}),
                 clBlue);
    const IcmpTarget host = ResolveIcmpTarget(*this, rePing, target, idn);
    if (!host.Found) return;
    address = host.Address;
    AppendOutput(rePing,
                 LangText("Main|OutInfoHostName", "  Hostname:    %s1%", {host.HostName}) +
                     "\r\n" +
                     LangText("Main|OutInfoIpAddr", "  IP-Adresse:  %s1%", {address}),
                 clNavy);
    const std::string country = LookupIpCountry(address);
    if (!country.empty())
      AppendOutput(rePing, LangText("Main|OutInfoCountry", "  Land:        %s1%", {country}),
                   clNavy);
    AppendOutput(rePing, "", clNavy);
  } else {
    address = idn;
  }

  AppendOutput(rePing,
               LangText("Main|OutPingSend",
                        "Sende %s1% Ping(s) mit %s2% Byte an \"%s3%\", Timeout sind %s4% ms:",
                        {cmbPingCount.Text(), std::to_string(dataSize), address,
                         std::to_string(timeout)}) +
                   "\r\n",
               clBlue);

  const int echoes = continuous ? INT_MAX : count;
  bool noServiceReported = false;
  for (long long n = 1; n <= echoes; ++n) {
    const IcmpEchoResult echo = SendIcmpEcho(address, dataSize, timeout, 128);
    ReportIcmpNoService(*this, rePing, echo, noServiceReported);
    const std::string number = std::to_string(n);
    if (echo.Status != kIcmpSuccess) {
      AppendOutput(rePing,
                   LangText("Main|OutPingTimeout", "  %s1%. Antwort von %s2%: Zeitüberschreitung.",
                            {number, address}),
                   clMaroon, {{"seq", n}, {"address", address}, {"verdict", "timeout"}});
      ++missing;
    } else {
      std::string verdict;
      TColor colour = clRed;
      const char* verdictName = echo.DataVerdict == 0 ? "ok"
                                : echo.DataVerdict == -1 ? "size_differs"
                                                         : "data_changed";
      if (echo.DataVerdict == 0) {
        verdict = LangText("Main|OutPingReplyOk", "Daten korrekt.");
        colour = clGreen;
        ++correct;
      } else {
        verdict = echo.DataVerdict == -1
                      ? LangText("Main|OutPingReplySize", "Daten unterschiedlich groß!")
                      : LangText("Main|OutPingReplyChanged", "Daten sind verändert!");
        ++faulty;
      }
      AppendOutput(rePing,
                   LangText("Main|OutPingReply", "  %s1%. Antwort von %s2%: %s3% ms, %s4%",
                            {number, address, std::to_string(echo.RoundTripMs), verdict}),
                   colour,
                   {{"seq", n}, {"address", address}, {"rtt_ms", echo.RoundTripMs},
                    {"verdict", verdictName}});
    }
    auto abortLine = [this] {
      AppendOutput(rePing, "\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."),
                   clRed);
    };
    if (guard.Aborted()) return abortLine();
    PausePumping(pause);
    if (guard.Aborted()) return abortLine();
  }

  AppendOutput(rePing,
               "\r\n" + LangText("Main|OutPingResult",
                                 "%s1% Ping(s) gesendet (%s2% korrekt, %s3% fehlerhaft, %s4% "
                                 "ohne Antwort).",
                                 {std::to_string(correct + faulty + missing),
                                  std::to_string(correct), std::to_string(faulty),
                                  std::to_string(missing)}),
               clBlue);
}


}  // namespace quovix
