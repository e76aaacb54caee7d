// Reaching a peer at one of its addresses: the order and pace of the
// attempts, loopback peers of both families, and a namespace in which an
// IPv6 address swallows every packet while the IPv4 one answers.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "HttpTestPeers.h"
#include "NtpTestPeers.h"
#include "clients/HttpClient.h"
#include "clients/SmtpClient.h"
#include "clients/SntpClient.h"
#include "clients/WhoisClient.h"
#include "icmp_test_util.h"
#include "platform/Connect.h"
#include "platform/Resolver.h"
#include "support/TableResolver.h"
#include "support/TcpTestServer.h"

using namespace quovix;
using quovix::test::TcpTestServer;

namespace {

IpAddress A(const char* text) { return IpAddress::Parse(text); }

std::vector<std::string> Texts(const std::vector<IpAddress>& v) {
  std::vector<std::string> out;
  for (const auto& a : v) out.push_back(a.ToString());
  return out;
}

long long MsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start)
      .count();
}

}  // namespace

TEST(AttemptOrder, FamiliesAlternateFromTheResolversFirstAndTheDelaySharesTheTime) {
  EXPECT_EQ(Texts(platform::AttemptOrder({A("2001:db8::1"), A("2001:db8::2"), A("2001:db8::3"),
                                          A("192.0.2.1"), A("192.0.2.2"), A("2001:db8::1")})),
            (std::vector<std::string>{"2001:db8::1", "192.0.2.1", "2001:db8::2", "192.0.2.2",
                                      "2001:db8::3"}));
  EXPECT_EQ(Texts(platform::AttemptOrder({A("192.0.2.1"), A("::1"), {}})),
            (std::vector<std::string>{"192.0.2.1", "::1"}));
  std::vector<IpAddress> many;
  for (int i = 1; i <= 40; ++i) many.push_back(IpAddress::FromV4(0xC0000200u + i));
  EXPECT_EQ(platform::AttemptOrder(many).size(), platform::kMaxAttempts);

  EXPECT_EQ(platform::AttemptDelayMs(10000, 3), 250);  // RFC 8305's delay
  EXPECT_EQ(platform::AttemptDelayMs(300, 2), 100);    // a third each
  EXPECT_EQ(platform::AttemptDelayMs(20, 5), 10);      // never below 10 ms
}

TEST(ConnectTcp, LoopbackPeersOfBothFamilies) {
  TcpTestServer four("127.0.0.1", 0, [](int) {});
  TcpTestServer six("::1", 0, [](int) {});
  ASSERT_TRUE(four.ok() && six.ok());
  const auto in = [] { return Deadline::In(5000); };

  // Nobody on ::1 at the IPv4 server's port: refused, and the next address
  // is tried at once.
  platform::Reach r = platform::ConnectTcp({A("::1"), A("127.0.0.1")},
                                           static_cast<std::uint16_t>(four.port()), in());
  ASSERT_EQ(r.End, platform::ReachEnd::Reached);
  EXPECT_EQ(r.Address, A("127.0.0.1"));
  EXPECT_EQ(r.Error, ECONNREFUSED);
  close(r.Fd);

  r = platform::ConnectTcp({A("[::1]")}, static_cast<std::uint16_t>(six.port()), in());
  ASSERT_EQ(r.End, platform::ReachEnd::Reached);
  EXPECT_EQ(r.Address, A("::1"));
  close(r.Fd);

  r = platform::ConnectTcp({A("::1"), A("127.0.0.1")}, static_cast<std::uint16_t>(six.port() ^ 1),
                           in());
  EXPECT_EQ(r.End, platform::ReachEnd::Failed);
  EXPECT_EQ(r.Error, ECONNREFUSED);
  EXPECT_EQ(r.Fd, -1);
  EXPECT_EQ(platform::ConnectTcp({}, 80, in()).End, platform::ReachEnd::NoAddress);
}

// The first attempt is still pending when the second starts: the listener's
// queue is full, so its first SYN goes unanswered until the retransmission a
// second later, while the second address (nobody listens on 127.0.0.2) has
// refused in the meantime. Only connects that run side by side end with the
// first address reached after the second one's refusal; one after another,
// the first would win before the second ever started (no refusal), or be
// given up before it (no connection at all).
TEST(HappyEyeballs, TheFirstAttemptRunsOnWhileTheSecondStarts) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  // One connection waiting to be accepted fills a queue of length 0.
  const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  // Room again well after the second attempt's start and long before the
  // deadline (the SYN is sent again after 1 s, 3 s …).
  std::thread release([listener] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const int accepted = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (accepted >= 0) ::close(accepted);
  });
  const platform::Reach r = platform::ConnectTcp({A("127.0.0.1"), A("127.0.0.2")},
                                                 ntohs(a.sin_port), Deadline::In(8000));
  release.join();
  EXPECT_EQ(r.End, platform::ReachEnd::Reached);
  EXPECT_EQ(r.Attempt, 0u);
  EXPECT_EQ(r.Error, ECONNREFUSED);
  if (r.Fd >= 0) ::close(r.Fd);
  ::close(filler);
  ::close(listener);
}

// Inside a namespace of its own, fd00:dead::2 is a neighbour whose link
// address nobody has: what is sent to it vanishes without an answer, as on a
// broken IPv6 path. A name with that address first and a working IPv4 one
// second is reached by every client within its time limit.
TEST(HappyEyeballs, SilentIpv6AddressCostsADelayNotTheTimeLimit) {
  if (const std::string why = icmptest::NetnsSkipReason(); !why.empty()) GTEST_SKIP() << why;
  icmptest::NetnsSet nets;
  const std::string ns = nets.Add("he");
  ASSERT_FALSE(ns.empty());
  const std::string ip = "ip -n " + ns + " ";
  ASSERT_TRUE(icmptest::Sh(ip + "link add hv0 type veth peer name hv1") &&
              icmptest::Sh(ip + "addr add fd00:dead::1/64 dev hv0 nodad") &&
              icmptest::Sh(ip + "link set hv0 up") && icmptest::Sh(ip + "link set hv1 up") &&
              icmptest::Sh(ip + "-6 neigh add fd00:dead::2 lladdr 02:00:00:00:00:99 dev hv0 nud permanent"))
      << "the namespace's links could not be set up";

  const std::string report = icmptest::RunInNetns(ns, false, [] {
    std::string out;
    auto check = [&out](bool ok, const std::string& what) {
      if (!ok) out += "failed: " + what + "\n";
    };
    auto names = std::make_shared<test::TableResolver>();
    names->All["dual.test"] = {"fd00:dead::2", "127.0.0.1"};
    names->All["mx.test"] = {"fd00:dead::2", "::1"};
    platform::ScopedResolver resolver(names);
    constexpr int kLimitMs = 2000;

    // The helper itself: the IPv4 address after the delay; the silent one
    // alone runs into the deadline.
    TcpTestServer listener("127.0.0.1", 0, [](int) {});
    auto start = std::chrono::steady_clock::now();
    platform::Reach r = platform::ConnectTcp({A("fd00:dead::2"), A("127.0.0.1")},
                                             static_cast<std::uint16_t>(listener.port()),
                                             Deadline::In(kLimitMs));
    check(r.End == platform::ReachEnd::Reached && r.Address == A("127.0.0.1") && r.Attempt == 1,
          "ConnectTcp reaches the IPv4 address");
    check(MsSince(start) < kLimitMs, "ConnectTcp within the limit");
    if (r.Fd >= 0) close(r.Fd);
    start = std::chrono::steady_clock::now();
    r = platform::ConnectTcp({A("fd00:dead::2")}, 80, Deadline::In(300));
    check(r.End == platform::ReachEnd::TimedOut && MsSince(start) >= 290,
          "the silent address alone times out at the deadline");

    // HTTP: the request goes out to the IPv4 address under the name.
    httptest::ScriptedServer web([](httptest::ScriptConn& c, const std::string&, int) {
      c.Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    });
    HttpClient http;
    http.ConnectTimeout = http.ReadTimeout = kLimitMs;
    start = std::chrono::steady_clock::now();
    try {
      http.Head("http://dual.test:" + std::to_string(web.Port()) + "/");
    } catch (const std::exception& e) {
      out += std::string("HTTP error: ") + e.what() + "\n";
    }
    check(http.ResponseCode() == 200 && MsSince(start) < kLimitMs, "HTTP within the limit");
    const auto requests = web.Requests();
    check(requests.size() == 1 &&
              requests[0].find("\r\nHost: dual.test:" + std::to_string(web.Port()) + "\r\n") !=
                  std::string::npos,
          "HTTP Host header");

    // SNTP: the request to the silent address stays unanswered, the IPv4
    // server's answer is taken.
    quovix::testing::ScriptedNtpPeer ntp([](const std::vector<std::uint8_t>& req) {
      return std::vector<quovix::testing::ScriptedNtpPeer::Datagram>{
          {quovix::testing::ServerReply(req, quovix::testing::NtpOfUnix(1709294400),
                                        quovix::testing::NtpOfUnix(1709294400))}};
    });
    SntpClient sntp;
    sntp.Host = "dual.test";
    sntp.Port = ntp.Port();
    sntp.ReceiveTimeout = kLimitMs;
    start = std::chrono::steady_clock::now();
    sntp.DateTime();
    check(sntp.Status() == TSntpStatus::Ok && MsSince(start) < kLimitMs, "SNTP within the limit");

    // Whois: the server's name, its IPv4 address after the silent one.
    TcpTestServer whois("127.0.0.1", 0, [](int fd) {
      TcpTestServer::ReadLine(fd);
      TcpTestServer::SendAll(fd, "inetnum: 192.0.2.0 - 192.0.2.255\n");
    });
    WhoisExchangeInfo info;
    start = std::chrono::steady_clock::now();
    const std::string answer = WhoisQuery("192.0.2.7", "dual.test", kLimitMs, false, whois.port(), &info);
    check(answer == "inetnum: 192.0.2.0 - 192.0.2.255\r\n" && info.End == TWhoisEnd::Complete &&
              MsSince(start) < kLimitMs,
          "whois within the limit");

    // SMTP: a mail exchanger with IPv6 addresses only, the first silent.
    TcpTestServer mx("::1", 0, [](int fd) {
      TcpTestServer::SendAll(fd, "220 mx.test ESMTP\r\n");
      TcpTestServer::ReadLine(fd);
      TcpTestServer::SendAll(fd, "250 mx.test\r\n");
      TcpTestServer::ReadLine(fd);
      TcpTestServer::SendAll(fd, "221 bye\r\n");
    });
    TIdSMTP smtp;
    smtp.Host = "mx.test";
    smtp.Port = mx.port();
    smtp.ConnectTimeout = smtp.ReadTimeout = kLimitMs;
    smtp.HeloName = "client.test";
    start = std::chrono::steady_clock::now();
    check(smtp.Connect() && MsSince(start) < kLimitMs, "SMTP within the limit");
    smtp.Disconnect();
    return out.empty() ? std::string("ok") : out;
  });
  EXPECT_EQ(report, "ok");
}
