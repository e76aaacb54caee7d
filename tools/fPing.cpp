// Ping tool: a series of ICMP echo requests with a check of the echoed data
// and a tally.
#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>

#include "app/fCommandLine.h"
#include "app/formMain.h"
#include "common/Deadline.h"
#include "common/fMain.h"
#include "common/RoundTripStats.h"
#include "platform/Icmp.h"
#include "shell/fLanguage.h"
#include "tools/fAddressInfo.h"
#include "tools/fIcmpShared.h"

namespace quovix {

void TfrmMain::btnPingStartClick() {
  if (ToolRunGuard::AbortClick(btnPingStart)) return;

  ToolRunGuard::Options o;
  o.Start = &btnPingStart;
  o.Inputs = {&lblPingHost,  &cmbPingHost,  &lblPingCount, &cmbPingCount, &lblPingTimeout,
              &cmbPingTimeout, &lblPingByte, &cmbPingByte,  &lblPingPause, &cmbPingPause,
              &chkPingResolve, &chkPingPreferIPv6};
  o.MainInput = &cmbPingHost;
  o.Pane = &rePing;
  o.StatusKey = "Main|sbMainPingTo";
  o.StatusDefault = "Sende Ping(s) an \"%s1%\"...";
  o.StatusArg = cmbPingHost.Text();
  o.Abortable = true;
  ToolRunGuard guard(*this, o);

  std::string target = Trim(cmbPingHost.Text());
  if (target.empty()) target = "127.0.0.1";
  std::string idn;
  const int dataSize = StrToIntDef(cmbPingByte.Text(), 32);
  const int timeout = StrToIntDef(cmbPingTimeout.Text(), 2000);
  const int pause = StrToIntDef(cmbPingPause.Text(), 250);
  const bool continuous = cmbPingCount.Text() == "...";
  const int count = continuous ? -1 : StrToIntDef(cmbPingCount.Text(), 3);
  const bool preferIPv6 = chkPingPreferIPv6.Checked();
  int correct = 0, faulty = 0, missing = 0;
  // Round trips of the echoes that came back, for the loss and time line
  // (whole ms, as it always showed them) and, to the microsecond, for the
  // summary line and the result.
  long long rttSum = 0;
  std::uint32_t rttMin = 0, rttMax = 0;
  RoundTripStats precise;

  std::string address;
  // The tally so far, however the run ends.
  struct Tally {
    TfrmMain& f;
    const std::string& address;
    const int &correct, &faulty, &missing;
    const RoundTripStats& precise;
    ~Tally() {
      const int sent = correct + faulty + missing;
      TLineFields result{{"address", address},
                         {"sent", sent},
                         {"ok", correct},
                         {"faulty", faulty},
                         {"missing", missing}};
      if (sent > 0) result.push_back({"loss_pct", 100.0 * missing / sent});
      if (precise.Count() > 0)
        result.insert(result.end(), {{"rtt_min_ms", *precise.Min()},
                                     {"rtt_avg_ms", *precise.Mean()},
                                     {"rtt_max_ms", *precise.Max()},
                                     {"rtt_stdev_ms", *precise.StdDev()}});
      f.SetToolResult(pgPing, std::move(result));
    }
  } tally{*this, address, correct, faulty, missing, precise};
  // Refused, the run still closes with its (empty) tally.
  if (!EncodeHostOrSay(rePing, target, idn)) return;
  if (chkPingResolve.Checked()) {
    AppendOutput(rePing,
                 LangText("Main|sbMainPingInfoFor", "Host-Informationen für \"%s1%\":",
                          {cmbPingHost.Text()}),
                 clBlue);
    const IcmpTarget host = ResolveIcmpTarget(*this, rePing, target, idn, preferIPv6);
    if (!host.Found) return;
    address = host.Address;
    AppendOutput(rePing,
                 LangText("Main|OutInfoHostName", "  Hostname:    %s1%", {host.HostName}) +
                     "\r\n" +
                     LangText("Main|OutInfoIpAddr", "  IP-Adresse:  %s1%", {address}),
                 clNavy);
    AppendPlaceLines(*this, rePing, address);
    AppendOutput(rePing, "", clNavy);
  } else {
    address = CanonicalAddress(idn);
  }

  AppendOutput(rePing,
               LangText("Main|OutPingSend",
                        "Sende %s1% Ping(s) mit %s2% Byte an \"%s3%\", Timeout sind %s4% ms:",
                        {cmbPingCount.Text(), std::to_string(dataSize), address,
                         std::to_string(timeout)}) +
                   "\r\n",
               clBlue);

  // The tally line, then loss and round trips of the answers: written at
  // the end and after an abort alike, so an endless run keeps its figures.
  auto tallyLines = [&] {
    const int sent = correct + faulty + missing;
    AppendOutput(rePing,
                 "\r\n" + LangText("Main|OutPingResult",
                                   "%s1% Ping(s) gesendet (%s2% korrekt, %s3% fehlerhaft, %s4% "
                                   "ohne Antwort).",
                                   {std::to_string(sent), std::to_string(correct),
                                    std::to_string(faulty), std::to_string(missing)}),
                 clBlue);
    if (sent == 0) return;
    const std::string loss = FormatDecimal1(100.0 * missing / sent);
    if (sent == missing) {
      AppendOutput(rePing, LangText("Main|OutPingLoss", "Verlust: %s1% $%$", {loss}), clBlue);
      return;
    }
    AppendOutput(rePing,
                 LangText("Main|OutPingStats",
                          "Verlust: %s1% $%$, Antwortzeit min/avg/max: %s2%/%s3%/%s4% ms",
                          {loss, std::to_string(rttMin),
                           FormatDecimal1(static_cast<double>(rttSum) / (sent - missing)),
                           std::to_string(rttMax)}),
                 clBlue);
    AppendOutput(rePing,
                 LangText("Main|OutPingSummary",
                          "Antwortzeit min/avg/max/Standardabweichung: %s1%/%s2%/%s3%/%s4% ms, "
                          "Verlust: %s5% $%$",
                          {FormatDecimal1(*precise.Min()), FormatDecimal1(*precise.Mean()),
                           FormatDecimal1(*precise.Max()), FormatDecimal1(*precise.StdDev()), loss}),
                 clBlue);
  };
  auto abortLines = [&] {
    AppendOutput(rePing, "\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."),
                 clRed);
    tallyLines();
  };

  const int echoes = continuous ? INT_MAX : count;
  bool noServiceReported = false;
  // Each echo line says when its request went out, counted from the first,
  // so the chart's time axis is the same live and from a recording.
  const auto runStart = std::chrono::steady_clock::now();
  for (long long n = 1; n <= echoes; ++n) {
    const long long elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now() - runStart)
                                    .count();
    const IcmpEchoResult echo = SendIcmpEcho(address, dataSize, timeout, 128, preferIPv6);
    ReportIcmpNoService(*this, rePing, echo, noServiceReported);
    const std::string number = std::to_string(n);
    // An echo whose wait the abort ended has no answer to report.
    if (echo.Status != kIcmpSuccess && guard.Aborted()) return abortLines();
    if (echo.Unreachable != IcmpUnreachable::None) {
      if (echo.ReplyAddress.empty()) {
        // This computer's own stack refused to send (no route, a prohibit
        // route, a local firewall): no node answered, so none is named.
        AppendOutput(rePing,
                     LangText("Main|OutPingUnreachableLocal",
                              "  %s1%. Dieser Rechner kann %s2% nicht erreichen (%s3%).",
                              {number, address, UnreachableText(echo.Unreachable)}),
                     clMaroon,
                     {{"seq", n}, {"elapsed_ms", elapsedMs}, {"address", address},
                      {"verdict", "unreachable"}, {"reason", UnreachableReason(echo.Unreachable)},
                      {"local", true}});
      } else {
        // A router answered that the target cannot be reached: not a
        // timeout, and the line names the router.
        AppendOutput(rePing,
                     LangText("Main|OutPingUnreachable",
                              "  %s1%. Antwort von %s2%: Ziel nicht erreichbar (%s3%).",
                              {number, echo.ReplyAddress, UnreachableText(echo.Unreachable)}),
                     clMaroon,
                     {{"seq", n}, {"elapsed_ms", elapsedMs}, {"address", echo.ReplyAddress},
                      {"verdict", "unreachable"}, {"reason", UnreachableReason(echo.Unreachable)}});
      }
      ++missing;
    } else if (echo.Status != kIcmpSuccess) {
      AppendOutput(rePing,
                   LangText("Main|OutPingNoAnswer",
                            "  %s1%. Keine Antwort von %s2%: Zeitüberschreitung.",
                            {number, address}),
                   clMaroon,
                   {{"seq", n}, {"elapsed_ms", elapsedMs}, {"address", address}, {"verdict", "timeout"}});
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
      rttMin = correct + faulty == 1 ? echo.RoundTripMs : std::min(rttMin, echo.RoundTripMs);
      rttMax = std::max(rttMax, echo.RoundTripMs);
      rttSum += echo.RoundTripMs;
      const double rttMs = echo.RoundTripUs / 1000.0;
      precise.Add(rttMs);
      AppendOutput(rePing,
                   LangText("Main|OutPingReply", "  %s1%. Antwort von %s2%: %s3% ms, %s4%",
                            {number, address, std::to_string(echo.RoundTripMs), verdict}),
                   colour,
                   {{"seq", n}, {"elapsed_ms", elapsedMs}, {"address", address}, {"rtt_ms", rttMs},
                    {"verdict", verdictName}});
    }
    if (guard.Aborted()) return abortLines();
    // The pause ends early on an abort or a close request.
    PauseUntil(Deadline::In(pause));
    if (guard.Aborted()) return abortLines();
  }
  tallyLines();
}


}  // namespace quovix
