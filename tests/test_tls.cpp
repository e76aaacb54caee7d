// The TLS session and its report against openssl s_server and nginx on
// loopback, with certificates from a test CA that the openssl command makes
// for the test; the lines every tool shows of a report.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "HttpTestPeers.h"
#include "app/fJsonLines.h"
#include "clients/HttpClient.h"
#include "clients/TlsSession.h"
#include "common/Pump.h"
#include "platform/Connect.h"
#include "tools/fTlsLines.h"

using namespace quovix;
using httptest::OpensslServer;
using quovix::test::TestCa;

namespace {

// The certificates of all tests here, made once.
struct Pki {
  httptest::TempDir dir;
  TestCa ca{dir.Path()};
  TestCa::Cert good = ca.Issue("good", "/CN=localhost", "DNS:localhost,IP:127.0.0.1", false, true);
  TestCa::Cert expired = ca.Issue("expired", "/CN=localhost", "DNS:localhost", true);
  TestCa::Cert self = ca.SelfSigned("self", "/CN=localhost", "DNS:localhost");
  TestCa::Cert wild = ca.Issue("wild", "/CN=wild", "DNS:*.example.test,DNS:127.0.0.2");
  // Issued by the root, whose responder answers for them.
  TestCa::Cert valid = ca.Issue("valid", "/CN=localhost", "DNS:localhost");
  TestCa::Cert revoked = ca.Issue("revoked", "/CN=localhost", "DNS:localhost");
  std::string validOcsp = dir.File("valid.ocsp"), revokedOcsp = dir.File("revoked.ocsp");
  bool ok = false;
  Pki() {
    ok = ca.Ok() && good.ok && expired.ok && self.ok && wild.ok && valid.ok && revoked.ok &&
         ca.OcspAnswer(valid, validOcsp) && ca.Revoke(revoked) && ca.OcspAnswer(revoked, revokedOcsp);
  }
};

Pki& Certs() {
  static Pki* pki = new Pki;
  return *pki;
}

int Connect(int port) {
  const platform::Reach r =
      platform::ConnectTcp({IpAddress::Parse("127.0.0.1")}, static_cast<std::uint16_t>(port), Deadline::In(2000));
  return r.End == platform::ReachEnd::Reached ? r.Fd : -1;
}

// One handshake with a fresh s_server.
struct Outcome {
  TlsStatus status = TlsStatus::Failed;
  TlsReport report;
  std::string error;
};
Outcome Handshake(const std::vector<std::string>& serverArgs, TlsOptions options) {
  Outcome run;
  OpensslServer server(Certs().dir, "hs", serverArgs);
  if (!server.Ok()) {
    run.error = server.skipReason;
    return run;
  }
  const int fd = Connect(server.port);
  TlsSession tls;
  if (options.ExtraCaFile.empty()) options.ExtraCaFile = Certs().ca.Ca();
  run.status = tls.Handshake(fd, options, Deadline::In(5000));
  run.report = tls.Report();
  run.error = tls.Error();
  tls.Close();
  close(fd);
  return run;
}

std::vector<std::string> ServerArgs(const TestCa::Cert& c, std::vector<std::string> more = {}) {
  std::vector<std::string> a{"-cert", c.cert, "-key", c.key, "-quiet"};
  if (!c.extra.empty()) a.insert(a.end(), {"-cert_chain", c.extra});
  a.insert(a.end(), more.begin(), more.end());
  return a;
}

#define SKIP_WITHOUT_PKI() \
  if (!Certs().ok) GTEST_SKIP() << "openssl could not make the test certificates: " << Certs().ca.Log()

}  // namespace

TEST(TlsSession, ReportsTheChainAsSentWithBothVerdicts) {
  SKIP_WITHOUT_PKI();
  Pki& p = Certs();
  struct Case {
    const TestCa::Cert* cert;
    std::string name;
    bool verified;
    std::string verifyError;
    bool nameMatch;
    size_t chain;
  } cases[] = {
      {&p.good, "localhost", true, "", true, 2},
      {&p.good, "127.0.0.1", true, "", true, 2},  // an address against the IP entry
      {&p.good, "other.test", true, "", false, 2},
      {&p.expired, "localhost", false, "certificate has expired", true, 1},
      {&p.self, "localhost", false, "self-signed certificate", true, 1},
  };
  for (const Case& c : cases) {
    const Outcome r = Handshake(ServerArgs(*c.cert), {.ServerName = c.name});
    ASSERT_EQ(r.status, TlsStatus::Ok) << c.cert->cert << ": " << r.error;
    EXPECT_TRUE(r.report.HandshakeDone);
    EXPECT_EQ(r.report.Verified, c.verified) << c.cert->cert;
    EXPECT_EQ(r.report.VerifyError, c.verifyError) << c.cert->cert;
    EXPECT_EQ(r.report.NameMatch, c.nameMatch) << c.name;
    EXPECT_EQ(r.report.CheckedName, c.name);
    ASSERT_EQ(r.report.Chain.size(), c.chain);
    if (!c.verified) {
      EXPECT_EQ(r.report.VerifyErrorDepth, 0);
    }
  }
  const Outcome r = Handshake(ServerArgs(p.good), {.ServerName = "localhost"});
  EXPECT_EQ(r.report.Version, "TLSv1.3");
  EXPECT_FALSE(r.report.Cipher.empty());
  EXPECT_FALSE(r.report.Group.empty());
  const TlsCertificate& leaf = r.report.Chain.at(0);
  EXPECT_EQ(leaf.Subject, "CN=localhost");
  EXPECT_EQ(leaf.Issuer, "CN=Quovix Test Intermediate");
  EXPECT_EQ(leaf.San, (std::vector<std::string>{"DNS:localhost", "IP:127.0.0.1"}));
  EXPECT_EQ(leaf.KeyType, "EC");
  EXPECT_EQ(leaf.KeyBits, 256);
  EXPECT_EQ(leaf.KeyGroup, "prime256v1");
  EXPECT_EQ(leaf.SignatureAlgorithm, "ecdsa-with-SHA256");
  EXPECT_EQ(leaf.DaysLeft, 1);  // a day and a half left, rounded down
  EXPECT_EQ(leaf.NotAfter - leaf.NotBefore, 2 * 86400);
  EXPECT_EQ(leaf.Sha256.size(), 64u);
  EXPECT_EQ(r.report.Chain.at(1).Subject, "CN=Quovix Test Intermediate");
  EXPECT_EQ(r.report.Chain.at(1).Issuer, "CN=Quovix Test Root CA");
  EXPECT_LT(Handshake(ServerArgs(p.expired), {.ServerName = "localhost"}).report.Chain.at(0).DaysLeft, -2000);
}

// RFC 6125: a wildcard stands for exactly one whole leftmost label; an
// address matches only an address entry, never a DNS entry that spells it.
TEST(TlsSession, NameCheckFollowsTheWildcardAndAddressRules) {
  SKIP_WITHOUT_PKI();
  FILE* f = std::fopen(Certs().wild.cert.c_str(), "r");
  ASSERT_TRUE(f);
  X509* cert = PEM_read_X509(f, nullptr, nullptr, nullptr);
  std::fclose(f);
  ASSERT_TRUE(cert);
  const std::pair<const char*, bool> cases[] = {
      {"www.example.test", true},  {"WWW.Example.Test.", true}, {"a.b.example.test", false},
      {"example.test", false},     {"127.0.0.2", false},        {"", false},
  };
  for (const auto& [name, match] : cases) EXPECT_EQ(CertificateMatchesName(cert, name), match) << name;
  X509_free(cert);
}

TEST(TlsSession, AlpnVersionsAndTrustAsAsked) {
  SKIP_WITHOUT_PKI();
  Pki& p = Certs();
  const auto alpnServer = ServerArgs(p.good, {"-alpn", "h2,http/1.1"});
  EXPECT_EQ(Handshake(alpnServer, {.ServerName = "localhost", .Alpn = {"h2", "http/1.1"}}).report.Alpn, "h2");
  EXPECT_EQ(Handshake(alpnServer, {.ServerName = "localhost", .Alpn = {"http/1.1"}}).report.Alpn, "http/1.1");
  EXPECT_EQ(Handshake(alpnServer, {.ServerName = "localhost"}).report.Alpn, "");
  EXPECT_EQ(Handshake(ServerArgs(p.good), {.ServerName = "localhost", .MaxVersion = TlsVersion::Tls12})
                .report.Version,
            "TLSv1.2");
  const Outcome old = Handshake(ServerArgs(p.good, {"-tls1_2"}),
                            {.ServerName = "localhost", .MinVersion = TlsVersion::Tls13});
  EXPECT_EQ(old.status, TlsStatus::Failed);
  EXPECT_NE(old.error.find("TLS handshake failed"), std::string::npos) << old.error;
  // Trust demanded: the handshake ends, the report still holds the chain.
  const Outcome self = Handshake(ServerArgs(p.self), {.ServerName = "localhost", .RequireTrusted = true});
  EXPECT_EQ(self.status, TlsStatus::Untrusted);
  EXPECT_EQ(self.error, "TLS certificate verification failed: self-signed certificate");
  EXPECT_EQ(self.report.Chain.size(), 1u);
  EXPECT_EQ(Handshake(ServerArgs(p.good), {.ServerName = "other.test", .RequireTrusted = true}).status,
            TlsStatus::Untrusted);
}

TEST(TlsSession, StapledOcspAnswerIsReadAndChecked) {
  SKIP_WITHOUT_PKI();
  Pki& p = Certs();
  const Outcome valid = Handshake(ServerArgs(p.valid, {"-status_file", p.validOcsp}), {.ServerName = "localhost"});
  EXPECT_EQ(valid.report.Ocsp.State, TlsOcsp::Status::Good) << valid.report.Ocsp.Problem;
  EXPECT_TRUE(valid.report.Ocsp.SignatureVerified) << valid.report.Ocsp.Problem;
  EXPECT_GT(valid.report.Ocsp.NextUpdate, valid.report.Ocsp.ThisUpdate);
  // An answer about another certificate is no answer about this one.
  const Outcome other = Handshake(ServerArgs(p.revoked, {"-status_file", p.validOcsp}), {.ServerName = "localhost"});
  EXPECT_EQ(other.report.Ocsp.State, TlsOcsp::Status::Invalid);
  EXPECT_EQ(other.report.Ocsp.Problem, "the OCSP answer is not about this certificate");

  const Outcome revoked =
      Handshake(ServerArgs(p.revoked, {"-status_file", p.revokedOcsp}), {.ServerName = "localhost"});
  const TlsOcsp& o = revoked.report.Ocsp;
  EXPECT_EQ(o.State, TlsOcsp::Status::Revoked);
  EXPECT_EQ(o.RevocationReason, "keyCompromise");
  EXPECT_TRUE(o.SignatureVerified) << o.Problem;
  const std::int64_t now = std::time(nullptr);
  EXPECT_LE(std::abs(o.RevokedAt - now), 600);
  EXPECT_LE(std::abs(o.ThisUpdate - now), 600);
  EXPECT_EQ(Handshake(ServerArgs(p.revoked), {.ServerName = "localhost"}).report.Ocsp.State, TlsOcsp::Status::None);
  EXPECT_EQ(Handshake(ServerArgs(p.revoked, {"-status_file", p.revokedOcsp}),
                      {.ServerName = "localhost", .RequestOcsp = false})
                .report.Ocsp.State,
            TlsOcsp::Status::None);
}

// The exported keys are the server's: what NTS-KE builds its keys from.
TEST(TlsSession, ExportedKeyingMaterialIsThePeersAndTheWaitsAreBounded) {
  SKIP_WITHOUT_PKI();
  // The server side in this process, OpenSSL's own computation of the keys.
  SSL_CTX* sctx = SSL_CTX_new(TLS_server_method());
  ASSERT_EQ(SSL_CTX_use_certificate_chain_file(sctx, Certs().good.chain.c_str()), 1);
  ASSERT_EQ(SSL_CTX_use_PrivateKey_file(sctx, Certs().good.key.c_str(), SSL_FILETYPE_PEM), 1);
  const int lfd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t alen = sizeof a;
  ASSERT_EQ(bind(lfd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  listen(lfd, 1);
  getsockname(lfd, reinterpret_cast<sockaddr*>(&a), &alen);
  std::string serverKey;
  std::thread server([&] {
    const int c = accept(lfd, nullptr, nullptr);
    SSL* s = SSL_new(sctx);
    SSL_set_fd(s, c);
    if (SSL_accept(s) == 1) {
      serverKey.resize(32);
      SSL_export_keying_material(s, reinterpret_cast<unsigned char*>(serverKey.data()), 32,
                                 "EXPORTER-quovix-test", 20, nullptr, 0, 0);
      char b[16];
      SSL_read(s, b, sizeof b);  // until the client is done
    }
    SSL_free(s);
    close(c);
  });
  const int fd = Connect(ntohs(a.sin_port));
  TlsSession tls;
  std::string before;
  EXPECT_FALSE(tls.ExportKeyingMaterial("EXPORTER-quovix-test", std::nullopt, 32, before));
  ASSERT_EQ(tls.Handshake(fd, {.ServerName = "localhost", .ExtraCaFile = Certs().ca.Ca()}, Deadline::In(5000)),
            TlsStatus::Ok)
      << tls.Error();
  std::string key, withContext;
  ASSERT_TRUE(tls.ExportKeyingMaterial("EXPORTER-quovix-test", std::nullopt, 32, key));
  ASSERT_TRUE(tls.ExportKeyingMaterial("EXPORTER-quovix-test", std::string("\0\0\0\x0F\0", 5), 32,
                                       withContext));
  EXPECT_NE(key, withContext);
  EXPECT_EQ(tls.Write("done", Deadline::In(2000)), TlsStatus::Ok);
  server.join();
  EXPECT_EQ(key, serverKey);
  tls.Close();
  close(fd);
  close(lfd);
  SSL_CTX_free(sctx);

  // A peer that takes the connection and never answers the hello: the
  // handshake ends at its deadline; an abort request ends it at once.
  httptest::ScriptedServer mute([](httptest::ScriptConn& c, const std::string&, int) { c.Hold(5000); });
  SetMessagePump([] {});  // this thread is the one that may be asked to stop
  for (const bool abort : {false, true}) {
    const int m = Connect(mute.Port());
    SetAbortCheck([abort] { return abort; });
    TlsSession t;
    const auto start = std::chrono::steady_clock::now();
    const TlsStatus st = t.Handshake(m, {.ServerName = "localhost"}, Deadline::In(300));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    SetAbortCheck(nullptr);
    EXPECT_EQ(st, abort ? TlsStatus::Aborted : TlsStatus::TimedOut) << t.Error();
    EXPECT_LT(ms.count(), 1500);
    close(m);
  }
  SetMessagePump(nullptr);
}

// The HTTP client keeps the report of its handshake, also when the
// certificate made it end the exchange; the system's store is the one
// SSL_CERT_FILE names, as the manual says.
TEST(TlsSession, HttpClientKeepsTheReportAndTrustsTheSystemStore) {
  SKIP_WITHOUT_PKI();
  httptest::TempDir dir;
  httptest::TestCerts certs(dir);
  ASSERT_TRUE(certs.ok);
  httptest::Nginx nginx(dir, &certs);
  if (!nginx.Ok()) GTEST_SKIP() << nginx.skipReason;
  HttpClient http;
  http.ConnectTimeout = http.ReadTimeout = 5000;
  http.TlsExtraCaFile = certs.ca;
  EXPECT_EQ(http.Get("https://127.0.0.1:" + std::to_string(nginx.httpsGood) + "/"), "secure page\n");
  EXPECT_TRUE(http.LastTls.Verified);
  EXPECT_EQ(http.LastTls.Chain.at(0).San, (std::vector<std::string>{"IP:127.0.0.1", "DNS:localhost"}));
  EXPECT_THROW(http.Get("https://127.0.0.1:" + std::to_string(nginx.httpsSelf) + "/"), HttpError);
  EXPECT_EQ(http.LastTls.VerifyError, "self-signed certificate");
  EXPECT_EQ(http.LastTls.Chain.size(), 1u);
  EXPECT_NO_THROW(http.Get("http://127.0.0.1:" + std::to_string(nginx.http) + "/page"));
  EXPECT_TRUE(http.LastTls.Chain.empty());  // plain HTTP: no report left over

  httptest::TempDir run;
  std::filesystem::copy_file(std::string(QUOVIX_BIN_DIR) + "/quovix-cli", run.File("quovix-cli"));
  run.Write("Quovix.ini", "[Settings]\r\nActiveDnsServerIP=127.0.0.1\r\n");
  const std::string url = "https://127.0.0.1:" + std::to_string(nginx.httpsGood) + "/";
  for (const bool trusted : {true, false}) {
    const std::string cmd = "cd " + run.Path() + " && NO_COLOR=1 SSL_CERT_FILE=" +
                            (trusted ? certs.ca : run.File("none.pem")) + " ./quovix-cli \"/Head:" + url +
                            "\" >out.txt 2>/dev/null";
    // The verdict is read from the output, whatever the exit status.
    const int status = std::system(cmd.c_str());
    (void)status;
    const std::string out = httptest::ReadFile(run.File("out.txt"));
    EXPECT_EQ(out.find("Serverantwort:    HTTP/1.1 200 OK") != std::string::npos, trusted) << out;
  }
}

TEST(TlsLines, EveryPartOfTheReportWithItsFields) {
  SKIP_WITHOUT_PKI();
  Pki& p = Certs();
  const TLineFields hop{{"hop", 1}};
  const Outcome good = Handshake(ServerArgs(p.good, {"-alpn", "h2"}), {.ServerName = "localhost", .Alpn = {"h2"}});
  const auto lines = TlsReportLines(good.report, hop);
  auto find = [&lines](const std::string& prefix) -> const TOutputLine* {
    for (const auto& l : lines)
      if (l.Text.rfind(prefix, 0) == 0) return &l;
    return nullptr;
  };
  ASSERT_EQ(lines.at(0).Text, "TLS-Verbindung:");
  const std::pair<std::string, TColor> expected[] = {
      {"  Protokoll:        TLSv1.3", clNavy},
      {"  ALPN:             h2", clNavy},
      {"  OCSP (geheftet):  keine Antwort geheftet", clNavy},
      {"Zertifikatskette (wie gesendet):", clBlue},
      {"  1. Inhaber:     CN=localhost", clNavy},
      {"     Aussteller:    CN=Quovix Test Intermediate", clNavy},
      {"     Alt. Namen:    DNS:localhost, IP:127.0.0.1", clNavy},
      {"     Schlüssel:     EC 256 Bit (prime256v1)", clNavy},
      {"  2. Inhaber:     CN=Quovix Test Intermediate", clNavy},
      {"  Kette:            vertrauenswürdig", clGreen},
      {"  Name:             \"localhost\" passt zum Zertifikat", clGreen},
  };
  for (const auto& [text, color] : expected) {
    const TOutputLine* l = find(text);
    ASSERT_TRUE(l) << text;
    EXPECT_EQ(l->Text, text);
    EXPECT_EQ(l->Color, color) << text;
    EXPECT_EQ(FindField(l->Fields, "hop")->AsInteger(), 1) << text;
  }
  const std::string json = JsonLine("head", *find("  1. Inhaber:"));
  for (const char* part : {"\"cert\":1", "\"subject\":\"CN=localhost\"", "\"san\":[\"DNS:localhost\",\"IP:127.0.0.1\"]",
                           "\"days_left\":1", "\"key_type\":\"EC\""})
    EXPECT_NE(json.find(part), std::string::npos) << part << " in " << json;
  const std::string connection = JsonLine("head", *find("  Protokoll:"));
  for (const char* part : {"\"tls_version\":\"TLSv1.3\"", "\"alpn\":\"h2\"", "\"cipher\":\"TLS_"})
    EXPECT_NE(connection.find(part), std::string::npos) << part << " in " << connection;

  // Faults in the colour the caller chose, the chain shown all the same.
  const Outcome expired = Handshake(ServerArgs(p.expired), {.ServerName = "other.test"});
  const auto bad = TlsReportLines(expired.report, {}, {.Fault = clMaroon});
  auto colorOf = [&bad](const std::string& part) {
    for (const auto& l : bad)
      if (l.Text.find(part) != std::string::npos) return l.Color;
    return clBlack;
  };
  EXPECT_EQ(colorOf("abgelaufen seit"), clMaroon);
  EXPECT_EQ(colorOf("  Kette:            nicht vertrauenswürdig: certificate has expired (Zertifikat 1)"), clMaroon);
  EXPECT_EQ(colorOf("\"other.test\" passt nicht zum Zertifikat"), clMaroon);
  const Outcome revoked =
      Handshake(ServerArgs(p.revoked, {"-status_file", p.revokedOcsp}), {.ServerName = "localhost"});
  const auto rev = TlsReportLines(revoked.report, {});
  EXPECT_TRUE(std::any_of(rev.begin(), rev.end(), [](const TOutputLine& l) {
    return l.Text.rfind("  OCSP (geheftet):  widerrufen am ", 0) == 0 &&
           l.Text.find("(keyCompromise)") != std::string::npos && l.Color == clRed;
  }));
}
