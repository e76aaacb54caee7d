// DNS over TLS and over HTTPS against real peers on loopback: unbound
// serving a zone of its own over UDP and, with a certificate of the test CA,
// over TLS; a small DNS-over-HTTPS front (tests/support/doh_front.py) that
// hands each query to unbound. The same questions asked over each transport
// get the same records; a certificate for another name, a wrong path and an
// answer that is no DNS message are each named.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <sstream>

#include "DnsTransportPeers.h"
#include "HttpTestPeers.h"
#include "support/TcpTestServer.h"
#include "clients/DnsClient.h"
#include "common/fMain.h"

using namespace quovix;
using dnstest::Peers;

namespace {

// The records of one answer in presentation format, or the failure.
struct Asked {
  std::vector<std::string> records;
  bool answered = false;
  std::optional<EIdDnsResolverError> error;
  TDnsTransport transport = TDnsTransport::Udp;
};
Asked Ask(const std::string& server, std::uint16_t type, const std::string& name = "quovix.test") {
  TIdDNSResolver r;
  r.Host = server;
  r.WaitingTime = 3000;
  r.QuestionType = type;
  Asked out;
  try {
    r.SendQuery(name);
    out.answered = r.LastExchange().Answered;
    for (const TResultRecord& rec : r.QueryResult) out.records.push_back(RecordText(rec));
  } catch (const EIdDnsResolverError& e) {
    out.error = e;
  }
  out.transport = r.LastExchange().Transport;
  return out;
}

}  // namespace

TEST(DnsTransport, ServerTextsTakenApart) {
  const struct {
    const char* text;
    TDnsTransport transport;
    const char* host;
    int port;
  } cases[] = {
      {"192.0.2.53", TDnsTransport::Udp, "192.0.2.53", -1},
      {"[::1]:5353", TDnsTransport::Udp, "[::1]", 5353},
      {"tls://dns.example", TDnsTransport::Tls, "dns.example", -1},
      {"TLS://[2001:db8::53]:8853/", TDnsTransport::Tls, "2001:db8::53", 8853},
      {"https://dns.example/dns-query", TDnsTransport::Https, "dns.example", -1},
      {"https://127.0.0.1:8443/q?x=1", TDnsTransport::Https, "127.0.0.1", 8443},
  };
  for (const auto& c : cases) {
    const TDnsServer s = ParseDnsServer(c.text);
    EXPECT_EQ(s.Transport, c.transport) << c.text;
    EXPECT_EQ(s.Host, c.host) << c.text;
    EXPECT_EQ(s.Port, c.port) << c.text;
    EXPECT_EQ(s.Url, c.transport == TDnsTransport::Https ? c.text : "") << c.text;
  }
}

TEST(DnsTransport, TlsAndHttpsAnswerLikePlainDns) {
  SKIP_WITHOUT_PEERS();
  const std::string plain = "127.0.0.1:" + std::to_string(Peers().udp);
  const std::pair<std::string, TDnsTransport> servers[] = {
      {"tls://127.0.0.1:" + std::to_string(Peers().tls), TDnsTransport::Tls},
      {"https://127.0.0.1:" + std::to_string(Peers().doh) + "/dns-query", TDnsTransport::Https}};
  for (std::uint16_t type : {kTypeA, kTypeMX, kTypeTXT, kTypeHTTPS, kTypeSOA}) {
    const Asked expected = Ask(plain, type);
    ASSERT_TRUE(expected.answered) << TypeName(type);
    ASSERT_FALSE(expected.records.empty()) << TypeName(type);
    for (const auto& [server, transport] : servers) {
      const Asked got = Ask(server, type);
      EXPECT_TRUE(got.answered) << server << " " << (got.error ? got.error->what() : "");
      EXPECT_EQ(got.records, expected.records) << server;
      EXPECT_EQ(got.transport, transport) << server;
    }
  }
}

TEST(DnsTransport, FailuresOfTheEncryptedTransportsNamed) {
  SKIP_WITHOUT_PEERS();
  const std::string doh = "https://127.0.0.1:" + std::to_string(Peers().doh);
  const struct {
    std::string server;
    TDnsFailure kind;
    int httpStatus;
  } cases[] = {
      // A certificate for another name.
      {"tls://127.0.0.1:" + std::to_string(Peers().tlsOther), TDnsFailure::Tls, 0},
      {doh + "/elsewhere", TDnsFailure::Http, 404},
      {doh + "/not-dns", TDnsFailure::Http, 0},
      {"tls://127.0.0.1:" + std::to_string(httptest::FreePort()), TDnsFailure::Refused, 0},
  };
  for (const auto& c : cases) {
    const Asked got = Ask(c.server, kTypeA);
    ASSERT_TRUE(got.error.has_value()) << c.server;
    EXPECT_EQ(got.error->Kind, c.kind) << c.server << ": " << got.error->what();
    EXPECT_EQ(got.error->HttpStatus, c.httpStatus) << c.server;
  }
}

// The console front end asks over each transport and shows the same records
// as over plain DNS; the closing line names the transport.
TEST(DnsTransport, ConsoleTypeQueryOverEachTransport) {
  SKIP_WITHOUT_PEERS();
  const httptest::TempDir& dir = Peers().Dir();
  std::filesystem::copy_file(std::string(QUOVIX_BIN_DIR) + "/quovix-cli", dir.File("quovix-cli"),
                             std::filesystem::copy_options::overwrite_existing);
  dir.Write("Quovix.ini", "[Settings]\r\nActiveDnsServerIP=127.0.0.1:1\r\n");
  auto run = [&](const std::string& server) {
    const std::string cmd = "cd " + dir.Path() + " && NO_COLOR=1 SSL_CERT_FILE=" + Peers().Ca() +
                            " ./quovix-cli /Dns:quovix.test /DnsT:HTTPS \"/DnsS:" + server +
                            "\" >out.txt 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::vector<std::string> records;
    std::string last;
    std::istringstream out(httptest::ReadFile(dir.File("out.txt")));
    for (std::string line; std::getline(out, line);) {
      if (line.rfind("  quovix.test. 300 ", 0) == 0) records.push_back(line);
      if (line.rfind("Zeit: ", 0) == 0) last = line;
    }
    return std::pair{records, last};
  };
  const auto [plain, plainLast] = run("127.0.0.1:" + std::to_string(Peers().udp));
  ASSERT_EQ(plain, std::vector<std::string>{
                       "  quovix.test. 300 IN HTTPS 1 . alpn=\"h2\" port=8443"});
  for (const auto& [server, name] :
       {std::pair{"tls://127.0.0.1:" + std::to_string(Peers().tls), "TLS"},
        {"https://127.0.0.1:" + std::to_string(Peers().doh) + "/dns-query", "HTTPS"}}) {
    const auto [records, last] = run(server);
    EXPECT_EQ(records, plain) << server;
    EXPECT_NE(last.find("Server: " + server + " (" + name + ")"), std::string::npos) << last;
  }
}

// A server that takes the connection and then says nothing: the TLS
// handshake and the HTTPS request each end with the waiting time as no
// answer, not later.
TEST(DnsTransport, SilentServerCostsTheWaitingTimeOnly) {
  // Reads what comes until the client gives up and closes.
  quovix::test::TcpTestServer silent("127.0.0.1", 0, [](int fd) {
    char buf[512];
    while (recv(fd, buf, sizeof buf, 0) > 0) {
    }
  });
  ASSERT_TRUE(silent.ok());
  const std::string port = std::to_string(silent.port());
  for (const std::string& server : {"tls://127.0.0.1:" + port, "https://127.0.0.1:" + port + "/dns-query"}) {
    TIdDNSResolver r;
    r.Host = server;
    r.WaitingTime = 400;
    r.QuestionType = kTypeA;
    const auto start = std::chrono::steady_clock::now();
    try {
      r.SendQuery("quovix.test");
      EXPECT_FALSE(r.LastExchange().Answered) << server;
    } catch (const EIdDnsResolverError& e) {
      ADD_FAILURE() << server << ": " << e.what();
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
    EXPECT_GE(ms.count(), 350) << server;
    EXPECT_LT(ms.count(), 1500) << server;
  }
}
