// Trace tool: the route to a host, hop by hop, by echo requests with a rising
// time-to-live.
#include <cstdio>

#include "app/fCommandLine.h"
#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/Icmp.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"
#include "tools/fAddressInfo.h"
#include "tools/fIcmpShared.h"

namespace quovix {

void TfrmMain::btnTraceStartClick() {
  if (ToolRunGuard::AbortClick(btnTraceStart)) return;

  ToolRunGuard::Options o;
  o.Start = &btnTraceStart;
  o.Inputs = {&lblTraceHost,    &cmbTraceHost,    &lblTraceHops, &cmbTraceHops,
              &lblTraceTimeout, &cmbTraceTimeout, &chkTraceResolve, &chkTracePreferIPv6};
  o.MainInput = &cmbTraceHost;
  o.Pane = &reTrace;
  o.StatusKey = "Main|sbMainTraceTo";
  o.StatusDefault = "Verfolge Route zu \"%s1%\"...";
  o.StatusArg = cmbTraceHost.Text();
  o.Abortable = true;
  ToolRunGuard guard(*this, o);

  std::string target = Trim(cmbTraceHost.Text());
  if (target.empty()) target = "127.0.0.1";
  const int timeout = StrToIntDef(cmbTraceTimeout.Text(), 2000);
  const int maxHops = StrToIntDef(cmbTraceHops.Text(), 30);
  const bool resolve = chkTraceResolve.Checked();
  const bool preferIPv6 = chkTracePreferIPv6.Checked();

  AppendOutput(reTrace,
               LangText("Main|sbMainTraceInfoFor", "Host-Informationen für \"%s1%\":",
                        {cmbTraceHost.Text()}),
               clBlue);
  std::string idn;
  std::string address, hostName;
  int lastHop = 0;
  bool reached = false;
  struct Summary {
    TfrmMain& f;
    const std::string& address;
    const int& hops;
    const bool& reached;
    ~Summary() {
      f.SetToolResult(pgTrace, {{"address", address}, {"hops", hops}, {"reached", reached}});
      // A route that ends unreachable or never reaches the target is a
      // failed trace, though its hop lines are no error lines.
      if (!reached) f.SetToolFailed(pgTrace);
    }
  } summary{*this, address, lastHop, reached};
  if (!EncodeHostOrSay(reTrace, target, idn)) return;
  if (resolve) {
    const IcmpTarget host = ResolveIcmpTarget(*this, reTrace, target, idn, preferIPv6);
    if (!host.Found) return;
    address = host.Address;
    hostName = host.HostName;
  } else {
    address = CanonicalAddress(idn);
  }

  if (!hostName.empty())
    AppendOutput(reTrace, LangText("Main|OutInfoHostName", "  Hostname:    %s1%", {hostName}),
                 clNavy);
  if (!address.empty())
    AppendOutput(reTrace, LangText("Main|OutInfoIpAddr", "  IP-Adresse:  %s1%", {address}),
                 clNavy);
  if (!IsHostName(address)) {
    AppendCountryLine(*this, reTrace, address);
  }
  AppendOutput(reTrace, "", clNavy);

  AppendOutput(reTrace,
               LangText("Main|OutTraceRoute",
                        "Verfolge Route zu \"%s1%\" über max. %s2% Knoten zurück:",
                        {address, std::to_string(maxHops)}) +
                   "\r\n",
               clBlue);

  bool noServiceReported = false;
  for (int hop = 1; hop <= maxHops; ++hop) {
    if (guard.Aborted()) {
      AppendOutput(reTrace, "\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."),
                   clRed);
      return;
    }
    char number[16];
    std::snprintf(number, sizeof number, "%2d", hop);
    const std::string label = LangText("Main|OutTraceReplyHops", "  %s1%. Knoten: ", {number});

    const IcmpEchoResult echo = SendIcmpEcho(address, 8, timeout, hop, preferIPv6);
    lastHop = hop;
    Pump();
    // A hop whose wait the abort ended is not reported as silent.
    if (echo.Status != kIcmpSuccess && echo.Status != kIcmpTtlExpiredTransit && guard.Aborted()) {
      AppendOutput(reTrace, "\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."),
                   clRed);
      return;
    }
    ReportIcmpNoService(*this, reTrace, echo, noServiceReported);
    const bool unreachable = echo.Unreachable != IcmpUnreachable::None;
    if (!unreachable && echo.Status != kIcmpSuccess && echo.Status != kIcmpTtlExpiredTransit) {
      AppendOutput(reTrace, label + LangText("Main|OutTraceReplyTimeout", "Zeitüberschreitung."),
                   clBlack, {{"hop", hop}, {"address", TLineValue()}, {"timeout", true}});
      continue;
    }
    // The node that answered, with its name.
    std::string line = label + echo.ReplyAddress;
    TLineFields fields{{"hop", hop},
                       {"address", echo.ReplyAddress.empty() ? TLineValue() : TLineValue(echo.ReplyAddress)}};
    if (resolve && !echo.ReplyAddress.empty()) {
      const std::string name = ResolveIpToHost(echo.ReplyAddress, NameResTimeout);
      if (!name.empty()) line += " (" + name + ")";
      fields.push_back({"host_name", name});
    }
    if (unreachable) {
      // Nothing lies beyond a node that says the target cannot be reached.
      const std::string reason = UnreachableText(echo.Unreachable);
      fields.push_back({"verdict", "unreachable"});
      fields.push_back({"reason", UnreachableReason(echo.Unreachable)});
      if (echo.ReplyAddress.empty()) {
        // This computer's own stack refused the request: no node answered,
        // and the route is missing here, not somewhere on the way.
        fields.push_back({"local", true});
        AppendOutput(reTrace,
                     line + LangText("Main|OutTraceReplyLocal",
                                     "dieser Rechner: Ziel nicht erreichbar (%s1%)", {reason}),
                     clRed, std::move(fields));
        guard.SetEndStatus(LangText("Main|sbMainTraceLocal",
                                    "Dieser Rechner kann \"%s1%\" nicht erreichen (%s2%).",
                                    {address, reason}));
      } else {
        AppendOutput(reTrace,
                     line + ": " +
                         LangText("Main|OutTraceReplyUnreachable", "Ziel nicht erreichbar (%s1%)",
                                  {reason}),
                     clBlack, std::move(fields));
        guard.SetEndStatus(LangText("Main|sbMainTraceUnreachable",
                                    "Knoten %s1% meldet: Ziel nicht erreichbar (%s2%).",
                                    {echo.ReplyAddress, reason}));
      }
      AppendOutput(reTrace,
                   "\r\n" + LangText("Main|OutTraceUnreachable",
                                     "Routenrückverfolgung beendet: Ziel nicht erreichbar."),
                   clRed);
      break;
    }
    fields.push_back({"rtt_ms", echo.RoundTripMs});
    line += ": " + std::to_string(echo.RoundTripMs) + " " + LangText("Main|OutTraceReplyMSec", "ms");
    AppendOutput(reTrace, line, clBlack, std::move(fields));
    if (echo.ReplyAddress == address) {
      reached = true;
      AppendOutput(reTrace,
                   "\r\n" + LangText("Main|OutTraceDone", "Routenrückverfolgung abgeschlossen."),
                   clGreen);
      break;
    }
    Pump();
  }
  if (!reached && lastHop == maxHops)
    guard.SetEndStatus(LangText("Main|sbMainTraceNotReached",
                                "Ziel nach %s1% Knoten nicht erreicht.", {std::to_string(maxHops)}));
}


}  // namespace quovix
