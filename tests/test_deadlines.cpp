// Every exchange bounded as a whole: hostile peers on loopback dribble their
// answers byte by byte, and each client still hands control back within its
// time limit; an abort request ends any wait within one slice. The bounds
// asserted are generous (a bound, not a benchmark).
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "HttpTestPeers.h"
#include "app/formMain.h"
#include "clients/DnsClient.h"
#include "clients/HttpClient.h"
#include "clients/SmtpClient.h"
#include "clients/SntpClient.h"
#include "clients/WhoisClient.h"
#include "common/Deadline.h"
#include "common/Pump.h"
#include "common/fMain.h"
#include "dns_test_support.h"
#include "icmp_test_util.h"
#include "platform/Resolver.h"
#include "shell/gIni.h"
#include "support/DribblePeer.h"
#include "support/SmtpTestServer.h"
#include "support/TableResolver.h"
#include "tools/fOwn.h"

using namespace quovix;
using quovix::test::DribblePeer;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Runs f and returns how long it took, in ms.
long long Timed(const std::function<void()>& f) {
  const auto start = Clock::now();
  f();
  return MsSince(start);
}

HttpError::Kind KindOf(const std::function<void()>& f) {
  try {
    f();
  } catch (const HttpError& e) {
    return e.kind();
  }
  ADD_FAILURE() << "no HttpError raised";
  return HttpError::Kind::Status;
}

DribblePeer::Script Slowloris() {
  return {.first = DribblePeer::First::Head,
          .prefix = "HTTP/1.1 200 OK\r\n",
          .drip = "X-Slow: yes\r\n"};
}

// The user-interface thread's pump and abort question, as a window installs
// them; the abort is asked for abortAfterMs after the start (never when < 0).
class AbortAfter {
 public:
  explicit AbortAfter(int abortAfterMs) : start_(Clock::now()), after_(abortAfterMs) {
    SetMessagePump([this] { ++pumps; });
    SetAbortCheck([this] { return after_ >= 0 && MsSince(start_) >= after_; });
  }
  ~AbortAfter() {
    SetAbortCheck(nullptr);
    SetMessagePump(nullptr);
  }
  int pumps = 0;

 private:
  Clock::time_point start_;
  int after_;
};

}  // namespace

// ---- The shared waits ---------------------------------------------------------------------

TEST(SlicedWait, EndsAtTheDeadlineOrOneSliceAfterAnAbort) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  {
    AbortAfter never(-1);
    WaitEnd end = WaitEnd::Ready;
    const long long ms = Timed([&] { end = WaitForSocket(fds[0], POLLIN, Deadline::In(600)); });
    EXPECT_EQ(end, WaitEnd::TimedOut);
    EXPECT_GE(ms, 590);
    EXPECT_LT(ms, 1800);
    EXPECT_GE(never.pumps, 2);  // slices of at most 250 ms, the pump between them
  }
  {
    AbortAfter soon(300);
    WaitEnd end = WaitEnd::Ready;
    const long long ms = Timed([&] { end = WaitForSocket(fds[0], POLLIN, Deadline::In(10000)); });
    EXPECT_EQ(end, WaitEnd::Aborted);
    EXPECT_LT(ms, 300 + 250 + 450);
    EXPECT_EQ(PauseUntil(Deadline::In(10000)), WaitEnd::Aborted);  // asked already: at once
  }
  // Data waiting on a socket does not stretch a deadline that has passed.
  ASSERT_EQ(write(fds[1], "x", 1), 1);
  EXPECT_EQ(WaitForSocket(fds[0], POLLIN, Deadline::In(0)), WaitEnd::TimedOut);
  EXPECT_EQ(WaitForSocket(fds[0], POLLIN, Deadline::In(1000)), WaitEnd::Ready);
  close(fds[0]);
  close(fds[1]);
}

// ---- HTTP: connect, TLS, tunnel and the whole response under one limit -----------------

TEST(HttpDeadline, DribblingPeersCannotStretchARequest) {
  DribblePeer slowloris(Slowloris());
  DribblePeer trickle({.first = DribblePeer::First::Head,
                       .prefix = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n",
                       .drip = "x"});
  // A server hello that never ends: a record header announcing 16 KiB, then
  // its bytes one by one.
  DribblePeer tls({.first = DribblePeer::First::Nothing,
                   .drip = std::string("\x16\x03\x03\x40\x00", 5) + std::string(20, 'A')});
  DribblePeer proxy({.first = DribblePeer::First::Head,
                     .prefix = "HTTP/1.1 200 Conn",
                     .drip = "ection established\r\nX-Slow: yes\r\n"});
  ASSERT_TRUE(slowloris.ok() && trickle.ok() && tls.ok() && proxy.ok());
  HttpClient http;
  http.ConnectTimeout = http.ReadTimeout = 1000;

  long long ms = Timed([&] {
    EXPECT_EQ(KindOf([&] { http.Head(slowloris.Url()); }), HttpError::Kind::ReadTimeout);
  });
  EXPECT_LT(ms, 3000) << "slowloris";
  // What arrived stays visible, and is known to be incomplete.
  EXPECT_EQ(http.Response.ResponseText, "HTTP/1.1 200 OK");
  EXPECT_FALSE(http.Response.HeaderComplete);

  ms = Timed([&] {
    EXPECT_EQ(KindOf([&] { http.Get(trickle.Url()); }), HttpError::Kind::ReadTimeout);
  });
  EXPECT_LT(ms, 3000) << "trickling body";
  EXPECT_TRUE(http.Response.HeaderComplete);

  ms = Timed([&] {
    EXPECT_EQ(KindOf([&] { http.Head("https://127.0.0.1:" + std::to_string(tls.Port()) + "/"); }),
              HttpError::Kind::ReadTimeout);
  });
  EXPECT_LT(ms, 3000) << "TLS handshake";

  http.ProxyParams.ProxyServer = "127.0.0.1";
  http.ProxyParams.ProxyPort = proxy.Port();
  ms = Timed([&] {
    EXPECT_EQ(KindOf([&] { http.Head("https://secure.test/"); }), HttpError::Kind::ReadTimeout);
  });
  EXPECT_LT(ms, 3000) << "proxy CONNECT";
}

TEST(HttpDeadline, RedirectsTheClientFollowsShareTheLimit) {
  // Every hop answers late, never too late for a limit of its own.
  httptest::ScriptedServer s([](httptest::ScriptConn& c, const std::string&, int index) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    c.Send("HTTP/1.1 302 Found\r\nLocation: /hop" + std::to_string(index + 1) +
           "\r\nContent-Length: 0\r\n\r\n");
  });
  HttpClient http;
  http.ConnectTimeout = http.ReadTimeout = 1000;
  const long long ms = Timed([&] {
    EXPECT_EQ(KindOf([&] { http.Get(s.Url("/hop0")); }), HttpError::Kind::ReadTimeout);
  });
  EXPECT_LT(ms, 3000);
  EXPECT_LE(s.Requests().size(), 4u);  // not 15 hops of 400 ms
}

TEST(HttpDeadline, ExternalAddressRequestIsBounded) {
  DribblePeer trickle({.first = DribblePeer::First::Head,
                       .prefix = "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n192.0.2.1\n",
                       .drip = "x"});
  ASSERT_TRUE(trickle.ok());
  HttpClient http;
  ExternalAddress ext;
  bool found = true;
  const long long ms = Timed([&] { found = FetchExternalAddress(http, trickle.Url("/ip"), ext); });
  EXPECT_FALSE(found);
  EXPECT_LT(ms, 15000);  // its limit is 5 s
}

// ---- SMTP, whois: the other TCP exchanges ---------------------------------------------------

TEST(SmtpDeadline, DribblingGreetingEndsTheConnectInTime) {
  DribblePeer dribbler({.first = DribblePeer::First::Nothing,
                        .drip = "220-still greeting\r\n",
                        .pauseMs = 30});
  ASSERT_TRUE(dribbler.ok());
  TIdSMTP smtp;
  smtp.Host = "127.0.0.1";
  smtp.Port = dribbler.Port();
  smtp.HeloName = "client.test";
  smtp.ConnectTimeout = smtp.ReadTimeout = 1000;
  bool connected = true;
  const long long ms = Timed([&] { connected = smtp.Connect(); });
  EXPECT_FALSE(connected);
  EXPECT_EQ(smtp.LastReply.Code, 0);
  EXPECT_LT(ms, 3000);
}

TEST(WhoisDeadline, DribblingHeldAndRefusedServers) {
  DribblePeer dribbler(
      {.first = DribblePeer::First::Line, .drip = "domain: dribble.test\n", .pauseMs = 20});
  // A complete answer, and then the connection is never closed.
  DribblePeer holder({.first = DribblePeer::First::Line,
                      .prefix = "Domain Name: HELD.TEST\nRegistrar: Example Registrar\n"});
  ASSERT_TRUE(dribbler.ok() && holder.ok());
  WhoisExchangeInfo info;
  std::string answer;
  long long ms = Timed(
      [&] { answer = WhoisQuery("dribble.test", "127.0.0.1", 1000, false, dribbler.Port(), &info); });
  EXPECT_LT(ms, 3000);
  EXPECT_EQ(info.End, TWhoisEnd::TimeLimit);
  EXPECT_EQ(answer.rfind("domain: dribble.test\r\n", 0), 0u) << answer;

  ms = Timed(
      [&] { answer = WhoisQuery("held.test", "127.0.0.1", 1000, false, holder.Port(), &info); });
  EXPECT_LT(ms, 3000);
  EXPECT_EQ(info.End, TWhoisEnd::TimeLimit);
  EXPECT_EQ(answer, "Domain Name: HELD.TEST\r\nRegistrar: Example Registrar\r\n");

  // Refused, and a server name without an address: at once, not at the limit.
  int closedPort;
  {
    quovix::test::TcpTestServer gone("127.0.0.1", 0, [](int) {});
    closedPort = gone.port();
  }
  ms = Timed([&] { answer = WhoisQuery("q", "127.0.0.1", 15000, false, closedPort, &info); });
  EXPECT_EQ(answer, "");
  EXPECT_EQ(info.End, TWhoisEnd::Refused);
  EXPECT_LT(ms, 2000);
  platform::ScopedResolver names(std::make_shared<quovix::test::TableResolver>());
  ms = Timed([&] { answer = WhoisQuery("q", "whois.nowhere.test", 15000, false, 43, &info); });
  EXPECT_EQ(info.End, TWhoisEnd::NotFound);
  EXPECT_LT(ms, 2000);
}

// ---- One abort ends the wait of every client -------------------------------------------------

namespace {
// A resolver whose look-ups hang far beyond any limit.
class HangingResolver : public quovix::test::TableResolver {
 public:
  std::string HostToIp(const std::string&) override {
    std::this_thread::sleep_for(std::chrono::seconds(3));
    return "127.0.0.1";
  }
};
}  // namespace

TEST(AbortRequest, EndsTheWaitOfEveryClientWithinASlice) {
  DribblePeer slowloris(Slowloris());
  quovix::test::ScriptedSmtp silentSmtp;
  silentSmtp.silent = true;
  DribblePeer silentWhois({.first = DribblePeer::First::Line});
  dnstest::ScriptedDnsServer silentDns([](const std::string&) {
    return std::vector<dnstest::ScriptedDnsServer::Datagram>{};
  });
  ASSERT_TRUE(slowloris.ok() && silentSmtp.Start() && silentWhois.ok());
  // A silent UDP port for the time server.
  const int ntp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(bind(ntp, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  socklen_t len = sizeof a;
  getsockname(ntp, reinterpret_cast<sockaddr*>(&a), &len);

  constexpr long long kBound = 300 + 250 + 700;  // abort after 300 ms, one slice, margin
  {
    AbortAfter abort(300);
    HttpClient http;
    http.ConnectTimeout = http.ReadTimeout = 10000;
    const long long ms = Timed([&] {
      EXPECT_EQ(KindOf([&] { http.Head(slowloris.Url()); }), HttpError::Kind::Aborted);
    });
    EXPECT_LT(ms, kBound) << "HTTP";
  }
  {
    AbortAfter abort(300);
    TIdSMTP smtp;
    smtp.Host = "127.0.0.1";
    smtp.Port = silentSmtp.Port();
    smtp.ConnectTimeout = smtp.ReadTimeout = 10000;
    const long long ms = Timed([&] { EXPECT_FALSE(smtp.Connect()); });
    EXPECT_TRUE(smtp.Aborted());
    EXPECT_LT(ms, kBound) << "SMTP";
    // Nothing more is said to a server the user stopped waiting for.
    EXPECT_TRUE(silentSmtp.Received().empty());
  }
  {
    AbortAfter abort(300);
    WhoisExchangeInfo info;
    const long long ms = Timed([&] {
      EXPECT_EQ(WhoisQuery("q", "127.0.0.1", 15000, false, silentWhois.Port(), &info), "");
    });
    EXPECT_EQ(info.End, TWhoisEnd::Aborted);
    EXPECT_LT(ms, kBound) << "whois";
  }
  {
    AbortAfter abort(300);
    SntpClient sntp;
    sntp.Host = "127.0.0.1";
    sntp.Port = ntohs(a.sin_port);
    sntp.ReceiveTimeout = 10000;
    const long long ms = Timed([&] { EXPECT_EQ(sntp.DateTime(), 0); });
    EXPECT_LT(ms, kBound) << "SNTP";
  }
  {
    AbortAfter abort(300);
    TIdDNSResolver dns;
    dns.Host = "127.0.0.1";
    dns.Port = silentDns.Port();
    dns.WaitingTime = 10000;
    dns.QueryType = {qtA};
    const long long ms = Timed([&] { dns.SendQuery("quovix.test"); });
    EXPECT_LT(ms, kBound) << "DNS";
  }
  {
    AbortAfter abort(300);
    platform::ScopedResolver hanging(std::make_shared<HangingResolver>());
    const long long ms = Timed([&] { EXPECT_EQ(ResolveHostToIp("slow.test", 10000), ""); });
    EXPECT_LT(ms, kBound) << "name look-up";
  }
  close(ntp);
}

// ---- A close request ends the wait of whichever tool runs ----------------------------------

namespace {

// A window model whose waits pump and ask its abort question, as the real
// window's do; the close request comes 300 ms into the run.
struct ClosingWindow {
  std::shared_ptr<quovix::test::TableResolver> names =
      std::make_shared<quovix::test::TableResolver>();
  platform::ScopedResolver resolver{names};
  TfrmMain f;
  Clock::time_point start = Clock::now();
  bool refused = false;
  std::string savedExtIp = ExtIpUrl, savedDns = ActiveDnsServerIP;
  int savedNameRes = NameResTimeout;

  ClosingWindow() {
    SetMessagePump([this] { f.Pump(); });
    SetAbortCheck([this] { return f.StopRequested(); });
    f.ProcessMessages = [this] {
      if (!f.CloseRequested && !f.ToolIdle && MsSince(start) >= 300) refused = !f.FormCloseQuery();
    };
    ActiveDnsServerIP = "127.0.0.1";
    NameResTimeout = 10000;
  }
  ~ClosingWindow() {
    SetAbortCheck(nullptr);
    SetMessagePump(nullptr);
    ExtIpUrl = savedExtIp;
    ActiveDnsServerIP = savedDns;
    NameResTimeout = savedNameRes;
  }
  // Clicks start and returns how long the run took.
  long long Run(TButton& button) {
    start = Clock::now();
    button.Click();
    EXPECT_TRUE(refused) << "the close came while the tool was idle";
    EXPECT_TRUE(f.ToolIdle);
    return MsSince(start);
  }
  std::string LastLine(const TRichEdit& pane) {
    return pane.Lines().empty() ? std::string() : pane.Lines().back().Text;
  }
};

constexpr long long kCloseBound = 300 + 250 + 1200;

}  // namespace

TEST(CloseRequest, EndsTheWaitOfTheRunningTool) {
  quovix::test::ScriptedSmtp silentSmtp;
  silentSmtp.silent = true;
  DribblePeer silentWhois({.first = DribblePeer::First::Line});
  DribblePeer slowloris(Slowloris());
  dnstest::ScriptedDnsServer silentDns([](const std::string&) {
    return std::vector<dnstest::ScriptedDnsServer::Datagram>{};
  });
  ASSERT_TRUE(silentSmtp.Start() && silentWhois.ok() && slowloris.ok());
  {
    ClosingWindow w;
    w.f.cmbEMailAddress.SetText("user@quovix.test");
    w.f.cmbEMailMXServer.SetText("127.0.0.1:" + std::to_string(silentSmtp.Port()));
    w.f.cmbEMailTimeout.SetItemIndex(w.f.cmbEMailTimeout.IndexOf("10000"));
    EXPECT_LT(w.Run(w.f.btnEMailStart), kCloseBound) << "Mail-Check";
    EXPECT_EQ(w.LastLine(w.f.reEMail), "Abbruch durch Benutzer.");
  }
  {
    ClosingWindow w;
    w.f.chkWhoisDirectQuery.SetChecked(true);
    w.f.cmbWhoisHost.SetText("quovix.test");
    w.f.cmbWhoisServer.SetText("127.0.0.1:" + std::to_string(silentWhois.Port()));
    w.f.cmbWhoisTimeout.SetItemIndex(w.f.cmbWhoisTimeout.IndexOf("15000"));
    EXPECT_LT(w.Run(w.f.btnWhoisStart), kCloseBound) << "Whois";
    EXPECT_EQ(w.LastLine(w.f.reWhois), "Abbruch durch Benutzer.");
  }
  {
    ClosingWindow w;
    w.f.cmbHeadURL.SetText(slowloris.Url());
    w.f.cmbHeadTimeout.SetItemIndex(w.f.cmbHeadTimeout.IndexOf("10000"));
    EXPECT_LT(w.Run(w.f.btnHeadStart), kCloseBound) << "HTTP-Header";
    EXPECT_EQ(w.LastLine(w.f.reHead), "Abbruch durch Benutzer.");
  }
  {
    ClosingWindow w;
    w.f.IdDNSResolver.Port = silentDns.Port();
    w.f.chkDnsExtended.SetChecked(true);
    w.f.chkDnsDirectQuery.SetChecked(true);
    w.f.cmbDnsHost.SetText("quovix.test");
    EXPECT_LT(w.Run(w.f.btnDnsStart), kCloseBound) << "DNS";
  }
  {
    ClosingWindow w;
    ExtIpUrl = slowloris.Url("/ip");
    EXPECT_LT(w.Run(w.f.btnOwnStart), kCloseBound) << "Own computer";
  }
  {
    ClosingWindow w;
    quovix::icmptest::FakeIcmp icmp;
    platform::ScopedSeam<platform::IIcmp> seam{&icmp};
    icmp.Default = quovix::icmptest::EchoReply("127.0.0.1", std::string(32, 'A'), 1);
    w.f.chkPingResolve.SetCheckedSilently(false);
    w.f.cmbPingHost.SetText("127.0.0.1");
    w.f.cmbPingPause.SetText("5000");
    EXPECT_LT(w.Run(w.f.btnPingStart), kCloseBound) << "Ping's pause";
    // The abort line, then the tally of what was sent and its round-trip line.
    const auto& lines = w.f.rePing.Lines();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[lines.size() - 5].Text, "Abbruch durch Benutzer.");
    EXPECT_EQ(lines[lines.size() - 3].Text,
              "1 Ping(s) gesendet (1 korrekt, 0 fehlerhaft, 0 ohne Antwort).");
  }
}
