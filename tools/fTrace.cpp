// Trace tool: the route to a host, hop by hop, by echo requests with a rising
// time-to-live, the requests of many hops in flight at once.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/fCommandLine.h"
#include "app/formMain.h"
#include "common/AsLookup.h"
#include "common/Deadline.h"
#include "common/Pump.h"
#include "common/TraceRounds.h"
#include "common/fMain.h"
#include "platform/Icmp.h"
#include "platform/TraceProbes.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"
#include "tools/fAddressInfo.h"
#include "tools/fIcmpShared.h"
#include "tools/fTrace.h"

namespace quovix {

namespace {

// The requests of many hops are out at once; each hop is final as soon as
// its answer is in or its wait is over, and taken in hop order, so a silent
// router costs one time limit for the whole route, not one per hop.
constexpr int kHopsInFlight = 16;
// Once a hop behind a silent one has answered, the silent one is given up
// after a multiple of that answer's round trip (at least a floor), not the
// whole time limit: a router that still has to answer is rarely that much
// slower than the one behind it.
constexpr int kLaterAnswerFactor = 10;
constexpr int kLaterAnswerFloorMs = 10;
// Longest wait between two looks at the abort button: an abort ends a run
// well within 200 ms.
constexpr int kAbortSliceMs = 50;

// A node answered: the target, a router on the way, or one that says the
// target is unreachable.
bool HasNode(const IcmpEchoResult& e) {
  return e.Unreachable != IcmpUnreachable::None || e.Status == kIcmpSuccess ||
         e.Status == kIcmpTtlExpiredTransit;
}

struct HopProbe {
  bool Final = false;
  IcmpEchoResult Echo;
  std::optional<Deadline> GiveUp;  // set when a later hop answered
};

// One round over hops 1..endHop. onAnswer sees each answer as it comes;
// onFinal gets each hop in hop order once it and all before it are final,
// and may stop the round (false). endHop shrinks to the hop that reached
// the target or said it is unreachable: no hop past it is taken. probes is
// none when no request can be sent (an address that does not resolve).
// False when the user aborted.
bool ProbeRound(ToolRunGuard& guard, platform::IIcmpProbes* probes, const std::string& address,
                const std::string& sent, int timeout, int& endHop,
                const std::function<void(int, const IcmpEchoResult&)>& onAnswer,
                const std::function<bool(int, const IcmpEchoResult&)>& onFinal) {
  std::vector<HopProbe> hops(static_cast<std::size_t>(std::max(0, endHop)) + 1);
  int nextSend = 1;
  for (int hop = 1; hop <= endHop;) {
    if (guard.Aborted()) return false;
    for (; nextSend <= endHop && nextSend < hop + kHopsInFlight; ++nextSend) {
      if (probes) {
        probes->Send(nextSend, std::clamp(nextSend, 1, 255));
      } else {
        hops[nextSend].Final = true;
        hops[nextSend].Echo.Status = kIcmpBadDestination;
      }
    }
    // An answer that came in: its hop is final, and the silent hops before
    // a hop that answered are given up soon.
    auto take = [&](const std::pair<int, platform::IcmpReply>& answer) {
      if (answer.first < hop || answer.first > endHop) return;
      HopProbe& h = hops[answer.first];
      if (h.Final) return;
      h.Final = true;
      h.Echo = EchoResultOf(answer.second, sent);
      if (!HasNode(h.Echo)) return;
      if (onAnswer) onAnswer(answer.first, h.Echo);
      if (h.Echo.Unreachable != IcmpUnreachable::None || h.Echo.ReplyAddress == address)
        endHop = std::min(endHop, answer.first);
      if (h.Echo.ReplyAddress.empty()) return;
      const Deadline giveUp = Deadline::In(static_cast<int>(std::clamp<long long>(
          static_cast<long long>(h.Echo.RoundTripMs) * kLaterAnswerFactor, kLaterAnswerFloorMs,
          std::max(timeout, kLaterAnswerFloorMs))));
      for (int j = hop; j < answer.first; ++j)
        if (!hops[j].Final && (!hops[j].GiveUp || giveUp.When() < hops[j].GiveUp->When()))
          hops[j].GiveUp = giveUp;
    };
    HopProbe& next = hops[hop];
    if (!next.Final && next.GiveUp && next.GiveUp->Passed()) {
      // What has already arrived is read before the hop is given up: a
      // pause of this program must not count as the router's silence.
      if (const auto answer = probes->Next(0)) {
        take(*answer);
        continue;
      }
      next.Final = true;
      next.Echo.Status = kIcmpTimedOut;
    }
    if (!next.Final) {
      const int waitMs =
          next.GiveUp ? std::clamp(next.GiveUp->LeftMs(), 1, kAbortSliceMs) : kAbortSliceMs;
      if (const auto answer = probes->Next(waitMs)) take(*answer);
      continue;
    }
    if (!onFinal(hop, next.Echo)) return true;
    ++hop;
  }
  return true;
}

// Once per run, the red line that tells why no probe could be sent.
void ReportTraceNoService(TfrmMain& form, TRichEdit& pane, TraceMethod method,
                          const IcmpEchoResult& echo, bool& reported) {
  if (method == TraceMethod::Icmp) {
    ReportIcmpNoService(form, pane, echo, reported);
    return;
  }
  if (reported || echo.Status != kIcmpNoService) return;
  reported = true;
  if (method == TraceMethod::Tcp && (echo.OpenError == EPERM || echo.OpenError == EACCES))
    form.AppendOutput(pane,
                      LangText("Main|OutTraceTcpNoRaw",
                               "TCP-Proben brauchen einen Raw-Socket: das Programm braucht "
                               "CAP_NET_RAW."),
                      clRed);
  else
    form.AppendOutput(pane,
                      LangText("Main|OutTraceNoSocket", "Socket konnte nicht geöffnet werden: %s1%",
                               {std::strerror(echo.OpenError)}),
                      clRed);
}

std::string Ms(const std::optional<double>& v) {
  if (!v) return "-";
  char b[32];
  std::snprintf(b, sizeof b, "%.1f", *v);
  return b;
}

std::string PadRight(std::string s, std::size_t width) {
  // Width in characters, not bytes: names may be UTF-8.
  std::size_t chars = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++chars;
  if (chars < width) s.append(width - chars, ' ');
  return s + " ";
}

std::string PadLeft(const std::string& s, std::size_t width) {
  return (s.size() < width ? std::string(width - s.size(), ' ') : std::string()) + s + " ";
}

const char* LossName(HopLoss l) {
  switch (l) {
    case HopLoss::RouterOnly: return "router";
    case HopLoss::Path: return "path";
    case HopLoss::None: break;
  }
  return "none";
}

// The host cell of a row: address with its name, and with its share when
// several nodes answered for the hop.
std::string HostText(const TraceHopRow& row, const TraceHopRow::Host& h) {
  std::string s = h.Address;
  if (!h.Name.empty()) s += " (" + h.Name + ")";
  if (row.Hosts.size() > 1) {
    char b[16];
    std::snprintf(b, sizeof b, " %.0f %%", row.SharePct(h));
    s += b;
  }
  return s;
}

std::string NetworkText(const std::string& address) {
  const std::optional<AsInfo> as = LookupAs(address);
  if (!as) return {};
  return "AS" + std::to_string(as->Asn) + (as->Name.empty() ? "" : " " + as->Name);
}

// Round trips shown in the bar of a row.
constexpr std::size_t kBarSamples = 20;

// The cells of one row, in the columns of the table.
std::vector<std::string> RowCells(const TraceRounds& table, std::size_t i) {
  const TraceHopRow& row = table.Rows()[i];
  std::string hosts, network;
  for (const auto& h : row.Hosts) {
    hosts += (hosts.empty() ? "" : ", ") + HostText(row, h);
    if (network.empty()) network = NetworkText(h.Address);
  }
  char loss[16];
  std::snprintf(loss, sizeof loss, "%.1f", row.LossPct());
  std::string lossCell = loss;
  if (table.LossOf(i) == HopLoss::RouterOnly)
    lossCell += " " + LangText("Main|OutTraceRateLimited", "Antwortrate begrenzt?");
  return {std::to_string(row.Hop), hosts.empty() ? "*" : hosts, network, lossCell,
          std::to_string(row.Sent), Ms(row.Last), Ms(row.Average()), Ms(row.Best()),
          Ms(row.Worst()), Ms(row.StdDev()), RoundTripBar(row.Samples, kBarSamples)};
}

// The JSON record of one row: the figures and the samples of each round.
TLineFields RowFields(const TraceRounds& table, std::size_t i) {
  const TraceHopRow& row = table.Rows()[i];
  std::vector<TLineValue> hosts, samples;
  for (const auto& h : row.Hosts) {
    TLineFields host{{"address", h.Address}, {"answers", h.Answers}, {"share_pct", row.SharePct(h)}};
    if (!h.Name.empty()) host.push_back({"host_name", h.Name});
    if (const std::optional<AsInfo> as = LookupAs(h.Address)) {
      host.push_back({"asn", static_cast<long long>(as->Asn)});
      host.push_back({"as_name", as->Name});
    }
    hosts.emplace_back(std::move(host));
  }
  for (const auto& s : row.Samples) samples.push_back(s ? TLineValue(*s) : TLineValue());
  TLineFields f{{"hop", row.Hop},
                {"address", row.Hosts.empty() ? TLineValue() : TLineValue(row.Hosts[0].Address)},
                {"hosts", TLineValue::List(std::move(hosts))},
                {"sent", row.Sent},
                {"received", row.Received},
                {"loss_pct", row.LossPct()},
                {"loss", LossName(table.LossOf(i))}};
  if (!row.Hosts.empty())
    if (const std::optional<AsInfo> as = LookupAs(row.Hosts[0].Address)) {
      f.push_back({"asn", static_cast<long long>(as->Asn)});
      f.push_back({"as_name", as->Name});
    }
  auto figure = [&](const char* name, const std::optional<double>& v) {
    if (v) f.push_back({name, *v});
  };
  figure("last_ms", row.Last);
  figure("avg_ms", row.Average());
  figure("best_ms", row.Best());
  figure("worst_ms", row.Worst());
  figure("stdev_ms", row.StdDev());
  f.push_back({"samples", TLineValue::List(std::move(samples))});
  return f;
}

// Text widths of the report's columns.
constexpr std::size_t kReportWidths[] = {3, 36, 24, 8, 6, 7, 7, 7, 7, 7};

std::string ReportLine(const std::vector<std::string>& cells) {
  std::string line;
  for (std::size_t c = 0; c < cells.size(); ++c) {
    if (c >= std::size(kReportWidths)) {
      line += cells[c];
      continue;
    }
    // Text columns left, figures right.
    line += c == 1 || c == 2 ? PadRight(cells[c], kReportWidths[c])
                             : PadLeft(cells[c], kReportWidths[c]);
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line;
}

void FillTraceTable(TListView& view, const TraceRounds& table) {
  std::vector<std::vector<std::string>> rows;
  for (std::size_t i = 0; i < table.Rows().size(); ++i) rows.push_back(RowCells(table, i));
  view.SetRows(std::move(rows));
}

}  // namespace

namespace {
// The method box's item, ICMP for none chosen.
TraceMethod MethodOf(const TComboBox& box) {
  return static_cast<TraceMethod>(std::clamp(box.ItemIndex(), 0, 2));
}
}  // namespace

bool ParseTracePort(const std::string& text, int& port) {
  const std::string t = Trim(text);
  port = 0;
  if (t.empty()) return true;
  if (t.size() > 5 || t.find_first_not_of("0123456789") != std::string::npos) return false;
  port = std::stoi(t);
  return port <= 65535;
}

bool ParseTraceMethod(const std::string& text, TraceMethod& out) {
  const std::pair<const char*, TraceMethod> names[] = {
      {"icmp", TraceMethod::Icmp}, {"udp", TraceMethod::Udp}, {"tcp", TraceMethod::Tcp}};
  for (const auto& [name, method] : names)
    if (SameText(text, name)) {
      out = method;
      return true;
    }
  return false;
}

std::vector<std::string> TraceTableCaptions() {
  return {LangText("Main|lvTraceHop", "Nr."),
          LangText("Main|lvTraceHost", "Host"),
          LangText("Main|lvTraceNetwork", "Netz (AS)"),
          LangText("Main|lvTraceLoss", "Verlust %"),
          LangText("Main|lvTraceSent", "Gesendet"),
          LangText("Main|lvTraceLast", "Letzte"),
          LangText("Main|lvTraceAvg", "Mittel"),
          LangText("Main|lvTraceBest", "Beste"),
          LangText("Main|lvTraceWorst", "Schlechteste"),
          LangText("Main|lvTraceStdDev", "Std.-Abw."),
          LangText("Main|lvTraceBar", "Verlauf")};
}

void TfrmMain::btnTraceStartClick() {
  if (ToolRunGuard::AbortClick(btnTraceStart)) return;

  ToolRunGuard::Options o;
  o.Start = &btnTraceStart;
  o.Inputs = {&lblTraceHost,    &cmbTraceHost,    &lblTraceHops,   &cmbTraceHops,
              &lblTraceTimeout, &cmbTraceTimeout, &lblTraceMethod, &cmbTraceMethod,
              &lblTracePort,    &cmbTracePort,    &chkTraceResolve, &chkTracePreferIPv6,
              &chkTraceContinuous};
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
  const bool continuous = chkTraceContinuous.Checked();
  // A classic run shows its lines; rounds show the table (kept after the run).
  lvTraceRounds.SetVisible(false);
  reTrace.SetVisible(true);
  TraceTable = TraceRounds();
  lvTraceRounds.Clear();

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
      TLineFields result{{"address", address}, {"hops", hops}, {"reached", reached}};
      if (f.chkTraceContinuous.Checked()) result.push_back({"rounds", f.TraceTable.Rounds()});
      f.SetToolResult(pgTrace, std::move(result));
      // A route that ends unreachable or never reaches the target is a
      // failed trace, though its hop lines are no error lines.
      if (!reached) f.SetToolFailed(pgTrace);
    }
  } summary{*this, address, lastHop, reached};
  const TraceMethod method = MethodOf(cmbTraceMethod);
  int port = 0;
  if (!ParseTracePort(cmbTracePort.Text(), port)) {
    AppendOutput(reTrace,
                 LangText("Main|OutTracePortBad", "Ungültiger Port \"%s1%\" (1–65535, leer: Standard).",
                          {CutUtf8(Trim(cmbTracePort.Text()), 40)}),
                 clRed);
    return;
  }
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

  // Without name resolution a host name is sent to its address (fixed
  // limit, as a single echo does it), and that address is the target.
  if (IsHostName(address)) address = ResolveHostToAddress(address, 2000, preferIPv6);
  const IpAddress to = IpAddress::Parse(address);
  const std::string sent(8, 'A');
  // ICMP echoes, UDP to a port per hop, or TCP SYNs, as chosen.
  std::unique_ptr<platform::IIcmpProbes> probes;
  if (to.Empty())
    ;  // nothing can be sent
  else if (method == TraceMethod::Udp)
    probes = platform::OpenUdpProbes(to, port > 0 ? port : 33434, timeout);
  else if (method == TraceMethod::Tcp)
    probes = platform::OpenTcpProbes(to, port > 0 ? port : 443, timeout);
  else
    probes = platform::Icmp().Probes(to, sent, timeout);
  auto reportAbort = [&] {
    AppendOutput(reTrace, "\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."), clRed);
  };
  int endHop = maxHops;
  bool noServiceReported = false;

  if (continuous) {
    TraceRoundsRun(guard, probes.get(), address, sent, timeout, endHop, resolve, reached, lastHop);
    return;
  }

  // Name look-ups run side by side while the probing goes on, each within
  // the name-resolution limit from its answer.
  struct Name {
    std::unique_ptr<PendingHostName> Pending;
    Deadline By = Deadline::In(0);
  };
  std::vector<Name> names(static_cast<std::size_t>(std::max(0, maxHops)) + 1);
  auto onAnswer = [&](int hop, const IcmpEchoResult& echo) {
    if (!resolve || echo.ReplyAddress.empty()) return;
    names[hop].Pending = std::make_unique<PendingHostName>(echo.ReplyAddress);
    names[hop].By = Deadline::In(NameResTimeout);
  };
  bool ended = false;
  auto onFinal = [&](int hop, const IcmpEchoResult& echo) {
    char number[16];
    std::snprintf(number, sizeof number, "%2d", hop);
    const std::string label = LangText("Main|OutTraceReplyHops", "  %s1%. Knoten: ", {number});
    lastHop = hop;
    ReportTraceNoService(*this, reTrace, method, echo, noServiceReported);
    const bool unreachable = echo.Unreachable != IcmpUnreachable::None;
    if (!HasNode(echo)) {
      AppendOutput(reTrace, label + LangText("Main|OutTraceReplyTimeout", "Zeitüberschreitung."),
                   clBlack, {{"hop", hop}, {"address", TLineValue()}, {"timeout", true}});
      Pump();
      return true;
    }
    // The node that answered, with its name.
    std::string line = label + echo.ReplyAddress;
    TLineFields fields{{"hop", hop},
                       {"address", echo.ReplyAddress.empty() ? TLineValue() : TLineValue(echo.ReplyAddress)}};
    if (names[hop].Pending) {
      const std::string name = names[hop].Pending->Take(names[hop].By);
      if (!name.empty()) line += " (" + name + ")";
      fields.push_back({"host_name", name});
    }
    // The network of the node, for scripts; the line stays as it is.
    if (const std::optional<AsInfo> as = LookupAs(echo.ReplyAddress)) {
      fields.push_back({"asn", static_cast<long long>(as->Asn)});
      fields.push_back({"as_name", as->Name});
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
      ended = true;
      return false;
    }
    fields.push_back({"rtt_ms", echo.RoundTripMs});
    line += ": " + std::to_string(echo.RoundTripMs) + " " + LangText("Main|OutTraceReplyMSec", "ms");
    AppendOutput(reTrace, line, clBlack, std::move(fields));
    if (echo.ReplyAddress == address) {
      reached = true;
      AppendOutput(reTrace,
                   "\r\n" + LangText("Main|OutTraceDone", "Routenrückverfolgung abgeschlossen."),
                   clGreen);
      ended = true;
      return false;
    }
    Pump();
    return true;
  };
  if (!ProbeRound(guard, probes.get(), address, sent, timeout, endHop, onAnswer, onFinal)) {
    reportAbort();
    return;
  }
  if (!ended && !reached && lastHop == maxHops)
    guard.SetEndStatus(LangText("Main|sbMainTraceNotReached",
                                "Ziel nach %s1% Knoten nicht erreicht.", {std::to_string(maxHops)}));
}

void TfrmMain::TraceRoundsRun(ToolRunGuard& guard, platform::IIcmpProbes* probes,
                              const std::string& address, const std::string& sent, int timeout,
                              int& endHop, bool resolve, bool& reached, int& lastHop) {
  bool noServiceReported = false;
  lvTraceRounds.SetVisible(true);
  reTrace.SetVisible(false);
  const int rounds = std::max(0, TraceRoundCount);
  const int interval = std::max(0, TraceIntervalMs);
  // Names are looked up once per node, side by side with the probing.
  std::vector<std::pair<std::string, std::shared_ptr<PendingHostName>>> names;
  std::vector<Deadline> namesBy;
  auto takeNames = [&] {
    for (std::size_t i = 0; i < names.size(); ++i) {
      if (!names[i].second) continue;
      const std::string name = names[i].second->Take(Deadline::In(0));
      if (!name.empty() || namesBy[i].Passed()) {
        TraceTable.SetName(names[i].first, name);
        names[i].second.reset();
      }
    }
  };
  auto show = [&] {
    if (TraceShownRevision == TraceTable.Revision()) return;
    TraceShownRevision = TraceTable.Revision();
    FillTraceTable(lvTraceRounds, TraceTable);
  };
  TraceShownRevision = ~0ull;
  bool aborted = false;
  for (int round = 1; rounds == 0 || round <= rounds; ++round) {
    const Deadline nextRound = Deadline::In(interval);
    auto onAnswer = [&](int, const IcmpEchoResult& echo) {
      if (!resolve || echo.ReplyAddress.empty()) return;
      for (const auto& n : names)
        if (n.first == echo.ReplyAddress) return;
      names.emplace_back(echo.ReplyAddress, std::make_shared<PendingHostName>(echo.ReplyAddress));
      namesBy.push_back(Deadline::In(NameResTimeout));
    };
    auto onFinal = [&](int hop, const IcmpEchoResult& echo) {
      ReportTraceNoService(*this, reTrace, MethodOf(cmbTraceMethod), echo, noServiceReported);
      std::optional<double> rtt;
      if (HasNode(echo)) rtt = echo.RoundTripUs / 1000.0;
      TraceTable.Record(hop, rtt, echo.ReplyAddress);
      if (HasNode(echo) && (echo.Unreachable != IcmpUnreachable::None || echo.ReplyAddress == address)) {
        TraceTable.EndAt(hop);
        if (echo.ReplyAddress == address && echo.Unreachable == IcmpUnreachable::None) reached = true;
      }
      lastHop = std::max(lastHop, hop);
      takeNames();
      show();
      Pump();
      return true;
    };
    aborted = !ProbeRound(guard, probes, address, sent, timeout, endHop, onAnswer, onFinal);
    if (probes) probes->Forget();
    if (!aborted) TraceTable.EndRound();
    takeNames();
    show();
    if (aborted || (rounds != 0 && round >= rounds)) break;
    // The pause until the next round, in short slices that look at the
    // abort button.
    while (!nextRound.Passed() && !aborted) {
      PauseUntil(nextRound.Within(kAbortSliceMs));
      aborted = guard.Aborted();
    }
    if (aborted) break;
  }
  // The report: the same table as lines, for the console and for scripts
  // (one record per hop with its figures and the samples of each round).
  AppendOutput(reTrace, ReportLine(TraceTableCaptions()), clBlue);
  for (std::size_t i = 0; i < TraceTable.Rows().size(); ++i)
    AppendOutput(reTrace, ReportLine(RowCells(TraceTable, i)),
                 TraceTable.LossOf(i) == HopLoss::Path ? clMaroon : clBlack, RowFields(TraceTable, i));
  if (aborted)
    AppendOutput(reTrace, "\r\n" + LangText("Main|OutUserAbort", "Abbruch durch Benutzer."), clRed);
}

}  // namespace quovix
