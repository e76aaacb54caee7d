#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <sstream>

#include "app/formMain.h"
#include "icmp_test_util.h"
#include "support/RouterChain.h"
#include "tools/fTrace.h"
#include "platform/Icmp.h"
#include "shell/gIni.h"

using namespace quovix;
using namespace quovix::icmptest;

namespace {

void PrepareTrace(TfrmMain& f, const std::string& host, const std::string& hops,
                  const std::string& timeout, bool resolve) {
  f.cmbTraceHost.SetText(host);
  f.cmbTraceHops.SetText(hops);
  f.cmbTraceTimeout.SetText(timeout);
  f.chkTraceResolve.SetCheckedSilently(resolve);
}

struct TraceForm : ::testing::Test {
  TfrmMain f;
  FakeIcmp icmp;
  platform::ScopedSeam<platform::IIcmp> seam{&icmp};
};

}  // namespace

TEST_F(TraceForm, HopsRoutersSilentHopsAndCompletion) {
  PrepareTrace(f, " 203.0.113.2", "10", "500", false);
  icmp.Script = {StatusReply(kIcmpTtlExpiredTransit, "192.0.2.1", 1),
                 StatusReply(kIcmpTimedOut),
                 StatusReply(kIcmpParamProblem, "198.51.100.2", 3),
                 EchoReply("203.0.113.2", std::string(8, 'A'), 12)};
  f.btnTraceStartClick();

  EXPECT_EQ(LinesOf(f.reTrace),
            (Lines{{"Host-Informationen für \" 203.0.113.2\":", clBlue},
                   {"  IP-Adresse:  203.0.113.2", clNavy},
                   {"", clNavy},
                   {"Verfolge Route zu \"203.0.113.2\" über max. 10 Knoten zurück:", clBlue},
                   {"", clBlue},
                   {"   1. Knoten: 192.0.2.1: 1 ms", clBlack},
                   {"   2. Knoten: Zeitüberschreitung.", clBlack},
                   {"   3. Knoten: Zeitüberschreitung.", clBlack},
                   {"   4. Knoten: 203.0.113.2: 12 ms", clBlack},
                   {"", clGreen},
                   {"Routenrückverfolgung abgeschlossen.", clGreen}}));
  ASSERT_EQ(icmp.Calls.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(icmp.Calls[i].Ttl, i + 1);
    EXPECT_EQ(icmp.Calls[i].Data, "AAAAAAAA");
    EXPECT_EQ(icmp.Calls[i].TimeoutMs, 500);
    EXPECT_EQ(icmp.Calls[i].Address, Addr("203.0.113.2"));
  }
  EXPECT_EQ(f.btnTraceStart.Caption(), "&Start");
  EXPECT_TRUE(f.cmbTraceHops.Enabled());
  EXPECT_EQ(f.cmbTraceHost.Items().at(0), "203.0.113.2");
  EXPECT_EQ(f.sbMain.SimpleText(), " Bereit.");
}

TEST_F(TraceForm, APortItCannotUseIsNamedAndNothingIsSent) {
  for (const char* port : {"65536", "44x", "-1", "123456"}) {
    PrepareTrace(f, "203.0.113.2", "10", "500", false);
    f.cmbTraceMethod.SetItemIndex(1);
    f.cmbTracePort.SetText(port);
    f.btnTraceStartClick();
    const Lines lines = LinesOf(f.reTrace);
    ASSERT_EQ(lines.size(), 2u) << port;
    EXPECT_EQ(lines[1], std::make_pair(std::string("Ungültiger Port \"") + port + "\" (1–65535, leer: Standard).", clRed));
    f.reTrace.Clear();
  }
  EXPECT_TRUE(icmp.Calls.empty());
  int port = -1;
  EXPECT_TRUE(ParseTracePort(" 0 ", port));
  EXPECT_EQ(port, 0);
  EXPECT_TRUE(ParseTracePort("65535", port));
  EXPECT_EQ(port, 65535);
}

TEST_F(TraceForm, UnreachableAnswerEndsTheTraceWithAVerdict) {
  PrepareTrace(f, "203.0.113.2", "10", "500", false);
  platform::IcmpReply prohibited = StatusReply(kIcmpDestHostUnreachable, "198.51.100.2", 3);
  prohibited.Unreachable = IcmpUnreachable::Prohibited;
  icmp.Script = {StatusReply(kIcmpTtlExpiredTransit, "192.0.2.1", 1), prohibited};
  f.btnTraceStartClick();
  auto lines = LinesOf(f.reTrace);
  ASSERT_EQ(lines.size(), 9u);
  EXPECT_EQ(lines[5].first, "   1. Knoten: 192.0.2.1: 1 ms");
  EXPECT_EQ(lines[6], std::make_pair(std::string("   2. Knoten: 198.51.100.2: Ziel nicht erreichbar "
                                                 "(administrativ untersagt)"),
                                     clBlack));
  EXPECT_EQ(lines[8], std::make_pair(std::string("Routenrückverfolgung beendet: Ziel nicht erreichbar."),
                                     clRed));
  EXPECT_EQ(f.sbMain.SimpleText(),
            " Knoten 198.51.100.2 meldet: Ziel nicht erreichbar (administrativ untersagt).");
  EXPECT_EQ(icmp.Calls.size(), 2u);

  // This computer's own stack refused: no node answered, and the line and
  // the status say the route is missing here.
  platform::IcmpReply local = StatusReply(kIcmpDestNetUnreachable);
  local.Unreachable = IcmpUnreachable::NoRoute;
  icmp.Script = {local};
  f.btnTraceStartClick();
  lines = LinesOf(f.reTrace);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[5], std::make_pair(std::string("   1. Knoten: dieser Rechner: Ziel nicht erreichbar "
                                                 "(keine Route)"),
                                     clRed));
  EXPECT_EQ(lines[7].first, "Routenrückverfolgung beendet: Ziel nicht erreichbar.");
  EXPECT_EQ(f.sbMain.SimpleText(), " Dieser Rechner kann \"203.0.113.2\" nicht erreichen (keine Route).");
  EXPECT_TRUE(f.ToolFailed[pgTrace]);
}

TEST_F(TraceForm, AnswerFromAnotherAddressRunsToTheHopLimit) {
  PrepareTrace(f, "203.0.113.2", "10", "100", false);
  icmp.Default = EchoReply("203.0.113.9", "AAAAAAAA", 2);
  f.btnTraceStartClick();
  const auto lines = LinesOf(f.reTrace);
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[5].first, "   1. Knoten: 203.0.113.9: 2 ms");
  EXPECT_EQ(lines[14].first, "  10. Knoten: 203.0.113.9: 2 ms");
  EXPECT_EQ(icmp.Calls.size(), 10u);
  EXPECT_EQ(f.sbMain.SimpleText(), " Ziel nach 10 Knoten nicht erreicht.");
}

TEST_F(TraceForm, AbortBetweenHops) {
  PrepareTrace(f, "203.0.113.2", "30", "100", false);
  icmp.Default = StatusReply(kIcmpTtlExpiredTransit, "192.0.2.1", 1);
  bool sawBusy = false;
  f.ProcessMessages = [&] {
    if (f.reTrace.Lines().size() == 6 && f.btnTraceStart.RunState == 1) {
      sawBusy = f.btnTraceStart.Caption() == "Abbrechen" && !f.chkTraceResolve.Enabled() &&
                f.sbMain.SimpleText() == " Verfolge Route zu \"203.0.113.2\"...";
      f.btnTraceStart.Click();
    }
  };
  f.btnTraceStartClick();
  EXPECT_TRUE(sawBusy);
  EXPECT_EQ(icmp.Calls.size(), 1u);
  const auto lines = LinesOf(f.reTrace);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[5].first, "   1. Knoten: 192.0.2.1: 1 ms");
  EXPECT_EQ(lines[6], std::make_pair(std::string(), clRed));
  EXPECT_EQ(lines[7], std::make_pair(std::string("Abbruch durch Benutzer."), clRed));
  EXPECT_EQ(f.btnTraceStart.RunState, 0);
}

TEST_F(TraceForm, MissingIcmpSocketIsExplainedOnce) {
  PrepareTrace(f, "127.0.0.1", "10", "100", false);
  icmp.Default.Status = kIcmpNoService;
  icmp.Default.OpenError = EACCES;
  f.btnTraceStartClick();
  const auto lines = LinesOf(f.reTrace);
  ASSERT_EQ(lines.size(), 16u);
  EXPECT_EQ(lines[5].second, clRed);
  EXPECT_NE(lines[5].first.find("CAP_NET_RAW"), std::string::npos);
  EXPECT_EQ(lines[6].first, "   1. Knoten: Zeitüberschreitung.");
  EXPECT_EQ(lines[15].first, "  10. Knoten: Zeitüberschreitung.");
}

// ---- A routed chain of namespaces: client → r1 → r2 → target -------------------

namespace {

const char* kTarget = "203.0.113.2";

class Chain {
 public:
  std::string Client, R1, R2, Target;
  std::string Error;

  Chain() {
    Client = ns_.Add("c");
    R1 = ns_.Add("a");
    R2 = ns_.Add("b");
    Target = ns_.Add("t");
    if (Client.empty() || R1.empty() || R2.empty() || Target.empty()) {
      Error = "ip netns add failed";
      return;
    }
    const std::string c = "ip -n " + Client + " ", a = "ip -n " + R1 + " ",
                      b = "ip -n " + R2 + " ", t = "ip -n " + Target + " ";
    // Only routes to the three test networks, no default route: nothing sent
    // here (name look-ups included) can leave the chain.
    const std::vector<std::string> steps = {
        c + "link add name v0 type veth peer name v1 netns " + R1,
        a + "link add name v2 type veth peer name v3 netns " + R2,
        b + "link add name v4 type veth peer name v5 netns " + Target,
        c + "addr add 192.0.2.2/24 dev v0",
        a + "addr add 192.0.2.1/24 dev v1",
        a + "addr add 198.51.100.1/24 dev v2",
        b + "addr add 198.51.100.2/24 dev v3",
        b + "addr add 203.0.113.1/24 dev v4",
        t + "addr add 203.0.113.2/24 dev v5",
        c + "link set v0 up",
        a + "link set v1 up",
        a + "link set v2 up",
        b + "link set v3 up",
        b + "link set v4 up",
        t + "link set v5 up",
        c + "route add 198.51.100.0/24 via 192.0.2.1",
        c + "route add 203.0.113.0/24 via 192.0.2.1",
        a + "route add 203.0.113.0/24 via 198.51.100.2",
        b + "route add 192.0.2.0/24 via 198.51.100.1",
        t + "route add 192.0.2.0/24 via 203.0.113.1",
        t + "route add 198.51.100.0/24 via 203.0.113.1",
        // Beyond r2 the upper half of the target network leads nowhere.
        b + "route add unreachable 203.0.113.128/25",
        // The same chain over IPv6, with unique local addresses.
        c + "-6 addr add fd00:1::2/64 dev v0 nodad",
        a + "-6 addr add fd00:1::1/64 dev v1 nodad",
        a + "-6 addr add fd00:2::1/64 dev v2 nodad",
        b + "-6 addr add fd00:2::2/64 dev v3 nodad",
        b + "-6 addr add fd00:3::1/64 dev v4 nodad",
        t + "-6 addr add fd00:3::2/64 dev v5 nodad",
        c + "-6 route add fd00:2::/64 via fd00:1::1",
        c + "-6 route add fd00:3::/64 via fd00:1::1",
        c + "-6 route add fd00:9::/64 via fd00:1::1",
        a + "-6 route add fd00:3::/64 via fd00:2::2",
        a + "-6 route add fd00:9::/64 via fd00:2::2",
        b + "-6 route add fd00:1::/64 via fd00:2::1",
        b + "-6 route add unreachable fd00:9::/64",
        t + "-6 route add fd00:1::/64 via fd00:3::1",
        t + "-6 route add fd00:2::/64 via fd00:3::1",
    };
    for (const auto& s : steps)
      if (!Sh(s)) {
        Error = "failed: " + s;
        return;
      }
    for (const auto& r : {R1, R2}) {
      if (!Sh("ip netns exec " + r + " sysctl -w net.ipv4.ip_forward=1") ||
          !Sh("ip netns exec " + r + " sysctl -w net.ipv6.conf.all.forwarding=1"))
        Error = "forwarding";
      // Every test traces through the same routers within a second.
      Sh("ip netns exec " + r + " sysctl -w net.ipv4.icmp_ratelimit=0");
      // A rate-limited ICMP message (even at limit 0) empties the per-peer
      // budget that the kernel also spends on unreachable answers (five at
      // once, then one a second): no type is rate-limited here, so that
      // budget is left to the unreachable route alone.
      Sh("ip netns exec " + r + " sysctl -w net.ipv4.icmp_ratemask=0");
      Sh("ip netns exec " + r + " sysctl -w net.ipv6.icmp.ratelimit=0");
    }
    // Neighbour discovery along the IPv6 chain answers only after a moment;
    // until the target answers, the first packets of a trace may be lost.
    const std::string warm = RunInNetns(Client, false, [] {
      for (int i = 0; i < 40; ++i) {
        std::string t = "fd00:3::2";
        if (SendIcmpEcho(t, 8, 250, 64).Status == kIcmpSuccess) return std::string("up");
      }
      return std::string("down");
    });
    if (Error.empty() && warm != "up") Error = "the IPv6 chain does not answer: " + warm;
  }

  // r2 stops telling about expired packets (its own packets to the client
  // are refused; what it forwards still passes).
  bool SilenceR2(bool silent) {
    return Sh("ip -n " + R2 + " rule " + (silent ? "add" : "del") +
              " iif lo to 192.0.2.0/24 priority 100 prohibit") &&
           Sh("ip -n " + R2 + " -6 rule " + (silent ? "add" : "del") +
              " iif lo to fd00:1::/64 priority 100 prohibit");
  }
  // An IPv4 unreachable route answers from a budget of its own that no
  // namespace can change: five answers at once, then one a second. A trace
  // sends the requests of all hops at once, and those behind the route use
  // it up; the next run gets its answer once a second has passed.
  static void AwaitRouteErrorBudget() { usleep(1100 * 1000); }
  bool AllowDatagramIcmp(bool allow) {
    return Sh("ip netns exec " + Client + " sysctl -w net.ipv4.ping_group_range='" +
              (allow ? "0 2147483647" : "1 0") + "'");
  }

 private:
  NetnsSet ns_;
};

const char* kRoute =
    "0000FF|Host-Informationen für \"203.0.113.2\":\n"
    "000080|  IP-Adresse:  203.0.113.2\n"
    "000080|\n"
    "0000FF|Verfolge Route zu \"203.0.113.2\" über max. 10 Knoten zurück:\n"
    "0000FF|\n";

const std::string kFullRoute = std::string(kRoute) +
                               "000000|   1. Knoten: 192.0.2.1: N ms\n"
                               "000000|   2. Knoten: 198.51.100.2: N ms\n"
                               "000000|   3. Knoten: 203.0.113.2: N ms\n"
                               "008000|\n"
                               "008000|Routenrückverfolgung abgeschlossen.\n";

}  // namespace

class TraceReal : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (NetnsSkipReason().empty()) chain_ = std::make_unique<Chain>();
  }
  static void TearDownTestSuite() { chain_.reset(); }
  void SetUp() override {
    if (auto why = NetnsSkipReason(); !why.empty()) GTEST_SKIP() << why;
    ASSERT_TRUE(chain_ && chain_->Error.empty()) << (chain_ ? chain_->Error : "no chain");
  }

  // Runs a trace in the client namespace and returns the pane, times masked.
  static std::string TraceFromClient(bool datagramOnly, const std::string& timeout,
                                     bool resolve = false,
                                     std::function<void(TfrmMain&)> pump = nullptr,
                                     const std::string& target = kTarget) {
    return MaskTimes(RunInNetns(chain_->Client, datagramOnly, [=] {
      TfrmMain f;
      NameResTimeout = 500;
      PrepareTrace(f, target, "10", timeout, resolve);
      if (pump) f.ProcessMessages = [&f, pump] { pump(f); };
      f.btnTraceStartClick();
      return PaneDump(f.reTrace);
    }));
  }

  static std::unique_ptr<Chain> chain_;
};
std::unique_ptr<Chain> TraceReal::chain_;

TEST_F(TraceReal, RawSocketShowsEachRouterAndCompletes) {
  EXPECT_EQ(TraceFromClient(false, "1000"),
            kFullRoute);
}

TEST_F(TraceReal, DatagramSocketReadsRoutersFromTheErrorQueue) {
  ASSERT_TRUE(chain_->AllowDatagramIcmp(true));
  const std::string out = TraceFromClient(true, "1000");
  chain_->AllowDatagramIcmp(false);
  EXPECT_EQ(out,
            kFullRoute);
}

TEST_F(TraceReal, SilentRouterAndResolvedNames) {
  ASSERT_TRUE(chain_->SilenceR2(true));
  // Nobody in the chain knows names: the address has none ("???") and the
  // hops show only their addresses.
  std::string out = TraceFromClient(false, "250", true);
  chain_->SilenceR2(false);
  EXPECT_EQ(out,
            "0000FF|Host-Informationen für \"203.0.113.2\":\n"
            "000080|  Hostname:    ???\n"
            "000080|  IP-Adresse:  203.0.113.2\n"
            "000080|\n"
            "0000FF|Verfolge Route zu \"203.0.113.2\" über max. 10 Knoten zurück:\n"
            "0000FF|\n"
            "000000|   1. Knoten: 192.0.2.1: N ms\n"
            "000000|   2. Knoten: Zeitüberschreitung.\n"
            "000000|   3. Knoten: 203.0.113.2: N ms\n"
            "008000|\n"
            "008000|Routenrückverfolgung abgeschlossen.\n");
}

TEST_F(TraceReal, AbortAfterFirstHop) {
  auto clickAbortAfterHop1 = [](TfrmMain& f) {
    if (f.reTrace.Lines().size() == 6 && f.btnTraceStart.RunState == 1) f.btnTraceStart.Click();
  };
  EXPECT_EQ(TraceFromClient(false, "1000", false, clickAbortAfterHop1),
            std::string(kRoute) +
                "000000|   1. Knoten: 192.0.2.1: N ms\n"
                "FF0000|\n"
                "FF0000|Abbruch durch Benutzer.\n");
}

// ---- The same chain over IPv6, and unreachable routes of both families ---------

namespace {

std::string RouteHead(const std::string& target) {
  return "0000FF|Host-Informationen für \"" + target + "\":\n"
         "000080|  IP-Adresse:  " + target + "\n"
         "000080|\n"
         "0000FF|Verfolge Route zu \"" + target + "\" über max. 10 Knoten zurück:\n"
         "0000FF|\n";
}

const std::string kFullRoute6 = RouteHead("fd00:3::2") +
                                "000000|   1. Knoten: fd00:1::1: N ms\n"
                                "000000|   2. Knoten: fd00:2::2: N ms\n"
                                "000000|   3. Knoten: fd00:3::2: N ms\n"
                                "008000|\n"
                                "008000|Routenrückverfolgung abgeschlossen.\n";

}  // namespace

TEST_F(TraceReal, IPv6OverBothSocketKindsShowsEachRouterAndCompletes) {
  EXPECT_EQ(TraceFromClient(false, "1000", false, nullptr, "fd00:3::2"), kFullRoute6);
  ASSERT_TRUE(chain_->AllowDatagramIcmp(true));
  // Typed with brackets and leading zeros: traced as its RFC 5952 form.
  const std::string out = TraceFromClient(true, "1000", false, nullptr, "[fd00:3:0::0002]");
  chain_->AllowDatagramIcmp(false);
  const std::string head = "0000FF|Host-Informationen für \"fd00:3::2\":\n";
  EXPECT_EQ(out, "0000FF|Host-Informationen für \"[fd00:3:0::0002]\":\n" +
                     kFullRoute6.substr(head.size()));
}

TEST_F(TraceReal, IPv6SilentRouter) {
  ASSERT_TRUE(chain_->SilenceR2(true));
  std::string out = TraceFromClient(false, "250", false, nullptr, "fd00:3::2");
  chain_->SilenceR2(false);
  EXPECT_EQ(out, RouteHead("fd00:3::2") +
                     "000000|   1. Knoten: fd00:1::1: N ms\n"
                     "000000|   2. Knoten: Zeitüberschreitung.\n"
                     "000000|   3. Knoten: fd00:3::2: N ms\n"
                     "008000|\n"
                     "008000|Routenrückverfolgung abgeschlossen.\n");
}

TEST_F(TraceReal, UnreachableRouteEndsTheTraceAtItsRouter) {
  const std::string verdict = "FF0000|\nFF0000|Routenrückverfolgung beendet: Ziel nicht erreichbar.\n";
  const std::string v4 = RouteHead("203.0.113.200") +
                         "000000|   1. Knoten: 192.0.2.1: N ms\n"
                         "000000|   2. Knoten: 198.51.100.2: Ziel nicht erreichbar (Host)\n" + verdict;
  const std::string v6 = RouteHead("fd00:9::1") +
                         "000000|   1. Knoten: fd00:1::1: N ms\n"
                         "000000|   2. Knoten: fd00:2::2: Ziel nicht erreichbar (keine Route)\n" + verdict;
  // No route at all in the client's own table: nothing is sent, this
  // computer is named.
  const std::string local4 = RouteHead("198.18.0.1") +
                             "FF0000|   1. Knoten: dieser Rechner: Ziel nicht erreichbar (keine Route)\n" +
                             verdict;
  const std::string local6 = RouteHead("fd00:99::1") +
                             "FF0000|   1. Knoten: dieser Rechner: Ziel nicht erreichbar (keine Route)\n" +
                             verdict;
  EXPECT_EQ(TraceFromClient(false, "1000", false, nullptr, "198.18.0.1"), local4);
  EXPECT_EQ(TraceFromClient(false, "1000", false, nullptr, "fd00:99::1"), local6);
  Chain::AwaitRouteErrorBudget();
  EXPECT_EQ(TraceFromClient(false, "1000", false, nullptr, "203.0.113.200"), v4);
  EXPECT_EQ(TraceFromClient(false, "1000", false, nullptr, "fd00:9::1"), v6);
  ASSERT_TRUE(chain_->AllowDatagramIcmp(true));
  Chain::AwaitRouteErrorBudget();
  const std::string v4d = TraceFromClient(true, "1000", false, nullptr, "203.0.113.200");
  const std::string v6d = TraceFromClient(true, "1000", false, nullptr, "fd00:9::1");
  chain_->AllowDatagramIcmp(false);
  EXPECT_EQ(v4d, v4);
  EXPECT_EQ(v6d, v6);
}

TEST_F(TraceReal, PingGetsTheUnreachableLineOfBothFamilies) {
  auto ping = [](const std::string& host, bool datagramOnly) {
    return MaskTimes(RunInNetns(chain_->Client, datagramOnly, [host] {
      TfrmMain f;
      f.chkPingResolve.SetCheckedSilently(false);
      f.cmbPingHost.SetText(host);
      f.cmbPingCount.SetText("1");
      f.cmbPingPause.SetText("0");
      f.cmbPingTimeout.SetText("1000");
      f.btnPingStartClick();
      return PaneDump(f.rePing);
    }));
  };
  auto expected = [](const std::string& host, const std::string& line) {
    return "0000FF|Sende 1 Ping(s) mit 32 Byte an \"" + host + "\", Timeout sind 1000 ms:\n"
           "0000FF|\n"
           "800000|  1. Antwort von " + line + "\n"
           "0000FF|\n"
           "0000FF|1 Ping(s) gesendet (0 korrekt, 0 fehlerhaft, 1 ohne Antwort).\n"
           "0000FF|Verlust: 100.0 %\n";
  };
  const std::string v4 = expected("203.0.113.200", "198.51.100.2: Ziel nicht erreichbar (Host).");
  const std::string v6 = expected("fd00:9::1", "fd00:2::2: Ziel nicht erreichbar (keine Route).");
  Chain::AwaitRouteErrorBudget();
  EXPECT_EQ(ping("203.0.113.200", false), v4);
  EXPECT_EQ(ping("fd00:9::1", false), v6);
  ASSERT_TRUE(chain_->AllowDatagramIcmp(true));
  Chain::AwaitRouteErrorBudget();
  const std::string v4d = ping("203.0.113.200", true), v6d = ping("fd00:9::1", true);
  // The target itself answers over IPv6 with correct data.
  const std::string ok = ping("fd00:3::2", true);
  chain_->AllowDatagramIcmp(false);
  EXPECT_EQ(v4d, v4);
  EXPECT_EQ(v6d, v6);
  EXPECT_NE(ok.find("1 Ping(s) gesendet (1 korrekt, 0 fehlerhaft, 0 ohne Antwort)."),
            std::string::npos)
      << ok;
}

// ---- A long chain: the requests of all hops are out at once -------------------

namespace {

using quovix::testsupport::RouterChain;

// Hops 1..11 are routers; these six of them never tell that a packet expired.
const std::vector<int> kSilentRouters = {2, 4, 5, 7, 9, 10};

class TraceLongChain : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!NetnsSkipReason().empty()) return;
    chain_ = std::make_unique<RouterChain>(11);
    if (!chain_->Error.empty()) return;
    for (int k : kSilentRouters) chain_->Answering(k, 0);
    // Neighbour discovery along the chain before anything is timed.
    RunInNetns(chain_->Client(), false, [] {
      for (std::string t : {chain_->Target4(), chain_->Target6()})
        for (int i = 0; i < 20 && SendIcmpEcho(t, 8, 250, 64).Status != kIcmpSuccess; ++i) {
        }
      return std::string();
    });
  }
  static void TearDownTestSuite() { chain_.reset(); }
  void SetUp() override {
    if (auto why = NetnsSkipReason(); !why.empty()) GTEST_SKIP() << why;
    ASSERT_TRUE(chain_ && chain_->Error.empty()) << (chain_ ? chain_->Error : "no chain");
  }

  struct Run {
    std::string Pane;
    long long Ms;
  };
  // method: 0 ICMP, 1 UDP, 2 TCP; port 0: its default.
  static Run Trace(const std::string& target, bool datagramOnly, const std::string& hops,
                   const std::string& timeout, int method = 0, int port = 0) {
    if (datagramOnly)
      Sh("ip netns exec " + chain_->Client() + " sysctl -w net.ipv4.ping_group_range='0 2147483647'");
    const auto start = std::chrono::steady_clock::now();
    std::string pane = RunInNetns(chain_->Client(), datagramOnly, [=] {
      TfrmMain f;
      PrepareTrace(f, target, hops, timeout, false);
      f.cmbTraceMethod.SetItemIndex(method);
      f.cmbTracePort.SetText(port > 0 ? std::to_string(port) : std::string());
      f.btnTraceStartClick();
      return PaneDump(f.reTrace);
    });
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now() - start)
                             .count();
    if (datagramOnly)
      Sh("ip netns exec " + chain_->Client() + " sysctl -w net.ipv4.ping_group_range='1 0'");
    return {MaskTimes(pane), ms};
  }

  // The pane a trace of the whole chain shows, one line per hop.
  static std::string Expected(const std::string& target, bool v6, const std::string& hops) {
    std::string s = "0000FF|Host-Informationen für \"" + target + "\":\n"
                    "000080|  IP-Adresse:  " + target + "\n"
                    "000080|\n"
                    "0000FF|Verfolge Route zu \"" + target + "\" über max. " + hops +
                    " Knoten zurück:\n"
                    "0000FF|\n";
    for (int k = 1; k <= chain_->Routers() + 1; ++k) {
      char n[16];
      std::snprintf(n, sizeof n, "%2d", k);
      const bool silent =
          std::find(kSilentRouters.begin(), kSilentRouters.end(), k) != kSilentRouters.end();
      const std::string from = k > chain_->Routers() ? target
                               : v6                  ? RouterChain::Router6(k)
                                                     : RouterChain::Router4(k);
      s += std::string("000000|  ") + n + ". Knoten: " +
           (silent ? "Zeitüberschreitung." : from + ": N ms") + "\n";
    }
    return s + "008000|\n008000|Routenrückverfolgung abgeschlossen.\n";
  }

  static std::unique_ptr<RouterChain> chain_;
};
std::unique_ptr<RouterChain> TraceLongChain::chain_;

}  // namespace

TEST_F(TraceLongChain, SilentRoutersCostOneTimeLimitForTheWholeRoute) {
  struct Case {
    bool V6, Datagram;
  } cases[] = {{false, false}, {false, true}, {true, false}, {true, true}};
  for (const Case& c : cases) {
    const std::string target = c.V6 ? chain_->Target6() : chain_->Target4();
    SCOPED_TRACE(target + (c.Datagram ? " datagram" : " raw"));
    const Run run = Trace(target, c.Datagram, "30", "1000");
    EXPECT_EQ(run.Pane, Expected(target, c.V6, "30"));
    // One time limit for the six silent hops together, not six of them.
    EXPECT_LT(run.Ms, 3000);
  }
}

TEST_F(TraceLongChain, TargetThatAnswersNothingEndsAfterAboutTwoTimeLimits) {
  ASSERT_TRUE(chain_->SilentTarget(true));
  const Run run = Trace(chain_->Target4(), false, "30", "500");
  chain_->SilentTarget(false);
  std::string tail;
  for (int k = 28; k <= 30; ++k) tail += "000000|  " + std::to_string(k) + ". Knoten: Zeitüberschreitung.\n";
  EXPECT_NE(run.Pane.find(tail), std::string::npos) << run.Pane;
  // Hop 12, the target, and every hop behind it stay silent.
  EXPECT_NE(run.Pane.find("000000|  12. Knoten: Zeitüberschreitung.\n"), std::string::npos);
  EXPECT_EQ(run.Pane.find("31. Knoten"), std::string::npos);
  // 30 hops in two windows of 16: two limits, not 24.
  EXPECT_LT(run.Ms, 2000);
}

namespace {

// Loss per hop of a run in rounds on the long chain: (loss %, kind) by hop.
std::vector<std::pair<double, std::string>> RoundsLoss(const RouterChain& chain, int rounds) {
  const std::string out = RunInNetns(chain.Client(), false, [&chain, rounds] {
    TfrmMain f;
    // A lost answer of the target costs the whole time limit.
    PrepareTrace(f, chain.Target4(), "30", "200", false);
    f.chkTraceContinuous.SetCheckedSilently(true);
    f.TraceRoundCount = rounds;
    f.TraceIntervalMs = 0;
    f.btnTraceStartClick();
    std::string s;
    for (const auto& l : f.reTrace.Lines())
      if (const TLineValue* loss = FindField(l.Fields, "loss_pct"))
        s += std::to_string(loss->AsReal()) + " " + FindField(l.Fields, "loss")->AsText() + "\n";
    return s;
  }, 60000);
  std::vector<std::pair<double, std::string>> rows;
  std::istringstream in(out);
  double pct;
  std::string kind;
  while (in >> pct >> kind) rows.emplace_back(pct, kind);
  return rows;
}

}  // namespace

TEST_F(TraceLongChain, RoundsTellARoutersOwnSilenceFromLossOnThePath) {
  for (int k = 1; k <= chain_->Routers(); ++k) chain_->Answering(k, 3);
  // Router 3 leaves one probe in three unanswered: its row alone loses,
  // marked as its own. 90 rounds keep a third well inside 15 to 50 %.
  ASSERT_TRUE(chain_->Answering(3, 2));
  const auto rateLimited = RoundsLoss(*chain_, 90);
  chain_->Answering(3, 3);
  // Router 6 drops a third of what it forwards: every hop behind it loses
  // (30 rounds leave none of them without loss but once in 10^5 runs).
  ASSERT_TRUE(chain_->LossyLink(6, true));
  const auto lossy = RoundsLoss(*chain_, 30);
  chain_->LossyLink(6, false);
  for (int k : kSilentRouters) chain_->Answering(k, 0);

  const std::size_t hops = static_cast<std::size_t>(chain_->Routers()) + 1;
  ASSERT_EQ(rateLimited.size(), hops);
  ASSERT_EQ(lossy.size(), hops);
  for (std::size_t i = 0; i < hops; ++i) {
    const int hop = static_cast<int>(i) + 1;
    SCOPED_TRACE("hop " + std::to_string(hop));
    if (hop == 3) {
      EXPECT_GE(rateLimited[i].first, 15.0);
      EXPECT_LE(rateLimited[i].first, 50.0);
      EXPECT_EQ(rateLimited[i].second, "router");
    } else {
      EXPECT_EQ(rateLimited[i].first, 0.0);
      EXPECT_EQ(rateLimited[i].second, "none");
    }
    if (hop > 6) {
      EXPECT_GT(lossy[i].first, 0.0);
      EXPECT_EQ(lossy[i].second, "path");
    } else {
      EXPECT_EQ(lossy[i].first, 0.0);
    }
  }
}

// ---- Probe methods: UDP and TCP where echo requests are filtered ----------------

namespace {

// A TCP listener in a namespace for as long as the object lives (the kernel
// answers SYNs with SYN-ACK; nothing is accepted).
class ListenerIn {
 public:
  ListenerIn(const std::string& ns, bool v6, int port) {
    pid_ = fork();
    if (pid_ != 0) return;
    const int nsfd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
    if (nsfd < 0 || setns(nsfd, CLONE_NEWNET) != 0) _exit(1);
    const int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    sockaddr_storage a{};
    socklen_t len = 0;
    if (v6) {
      auto& s6 = reinterpret_cast<sockaddr_in6&>(a);
      s6.sin6_family = AF_INET6;
      s6.sin6_port = htons(static_cast<std::uint16_t>(port));
      len = sizeof s6;
    } else {
      auto& s4 = reinterpret_cast<sockaddr_in&>(a);
      s4.sin_family = AF_INET;
      s4.sin_port = htons(static_cast<std::uint16_t>(port));
      len = sizeof s4;
    }
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(fd, 64) != 0) _exit(1);
    for (;;) pause();
  }
  ~ListenerIn() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  ListenerIn(const ListenerIn&) = delete;
  ListenerIn& operator=(const ListenerIn&) = delete;

 private:
  pid_t pid_ = -1;
};

}  // namespace

TEST_F(TraceLongChain, UdpAndTcpReachATargetWhoseEchoIsFiltered) {
  ASSERT_TRUE(chain_->EchoFiltered(true));
  ListenerIn listener4(chain_->TargetNs(), false, 8443), listener6(chain_->TargetNs(), true, 8443);
  usleep(200 * 1000);  // the listeners are up
  const struct {
    int Method;  // 1 UDP, 2 TCP
    int Port;    // 0: the method's default (UDP 33434 up, closed; TCP 443, closed)
    bool V6, Datagram;
  } cases[] = {{1, 0, false, true}, {1, 0, true, true}, {2, 8443, false, false},
               {2, 0, false, false}, {2, 8443, true, false}, {2, 0, true, false}};
  // Echo requests get no answer from the target now.
  const Run icmp = Trace(chain_->Target4(), false, "30", "300");
  for (const auto& c : cases) {
    const std::string target = c.V6 ? chain_->Target6() : chain_->Target4();
    SCOPED_TRACE(target + " method " + std::to_string(c.Method) + " port " + std::to_string(c.Port));
    const Run run = Trace(target, c.Datagram, "30", "1000", c.Method, c.Port);
    EXPECT_EQ(run.Pane, Expected(target, c.V6, "30"));
    EXPECT_LT(run.Ms, 3000);
  }
  chain_->EchoFiltered(false);
  EXPECT_EQ(icmp.Pane.find("abgeschlossen"), std::string::npos) << icmp.Pane;
}

TEST_F(TraceLongChain, TcpWithoutRawSocketsNamesTheMissingCapabilityOnce) {
  const Run run = Trace(chain_->Target4(), true, "10", "100", 2, 0);
  std::size_t lines = 0, at = 0;
  while ((at = run.Pane.find("CAP_NET_RAW", at)) != std::string::npos) ++lines, ++at;
  EXPECT_EQ(lines, 1u) << run.Pane;
  EXPECT_NE(run.Pane.find("FF0000|TCP-Proben brauchen einen Raw-Socket"), std::string::npos);
  EXPECT_NE(run.Pane.find("  10. Knoten: Zeitüberschreitung."), std::string::npos);
}
