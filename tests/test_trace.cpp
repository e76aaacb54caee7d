#include <gtest/gtest.h>

#include <cerrno>
#include <memory>

#include "app/formMain.h"
#include "icmp_test_util.h"
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
  EXPECT_EQ(TraceFromClient(false, "1000", false, nullptr, "203.0.113.200"), v4);
  EXPECT_EQ(TraceFromClient(false, "1000", false, nullptr, "fd00:9::1"), v6);
  ASSERT_TRUE(chain_->AllowDatagramIcmp(true));
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
  EXPECT_EQ(ping("203.0.113.200", false), v4);
  EXPECT_EQ(ping("fd00:9::1", false), v6);
  ASSERT_TRUE(chain_->AllowDatagramIcmp(true));
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
