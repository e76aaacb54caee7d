// NTS key establishment: the records as read, and the exchange with a real
// chronyd serving NTS-KE on loopback with a certificate of the test CA.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "clients/NtsKe.h"
#include "support/LoopbackPort.h"
#include "support/TestCa.h"
#include "tests/HttpTestPeers.h"
#include "tests/NtpTestPeers.h"

using namespace quovix;

namespace {

std::string Be16(std::uint16_t v) { return {static_cast<char>(v >> 8), static_cast<char>(v)}; }

std::string Rec(bool critical, std::uint16_t type, const std::string& body) {
  return EncodeNtsKeRecord(critical, type, body);
}

}  // namespace

TEST(NtsKeRecords, TheAnswerGivesProtocolAeadCookiesServerAndPortOrSaysWhatIsMissing) {
  const std::string proto = Rec(true, kNtsKeNextProtocol, Be16(0));
  const std::string aead = Rec(true, kNtsKeAead, Be16(kNtsAeadAesSivCmac256));
  const std::string cookie = Rec(false, kNtsKeCookie, std::string(100, 'c'));
  const std::string end = Rec(true, kNtsKeEnd, "");
  struct Case {
    const char* what;
    std::string answer;
    bool complete;
    NtsKeStatus status;
    std::size_t cookies;
    std::uint16_t port;
  } cases[] = {
      {"full", proto + aead + cookie + cookie + Rec(false, 7, Be16(1234)) + end, true,
       NtsKeStatus::Ok, 2, 1234},
      {"error record", Rec(true, kNtsKeError, Be16(1)) + end, true, NtsKeStatus::ErrorRecord, 0, 123},
      {"no AEAD", proto + cookie + end, true, NtsKeStatus::NoCommonAead, 1, 123},
      {"other AEAD", proto + Rec(true, kNtsKeAead, Be16(30)) + cookie + end, true,
       NtsKeStatus::NoCommonAead, 1, 123},
      {"no NTPv4", Rec(true, kNtsKeNextProtocol, Be16(7)) + aead + cookie + end, true,
       NtsKeStatus::NoProtocol, 1, 123},
      {"no cookie", proto + aead + end, true, NtsKeStatus::NoCookies, 0, 123},
      {"unknown critical record", proto + aead + cookie + Rec(true, 999, "x") + end, true,
       NtsKeStatus::Malformed, 1, 123},
      {"unknown record not critical", proto + aead + cookie + Rec(false, 999, "x") + end, true,
       NtsKeStatus::Ok, 1, 123},
      {"cut in a record", proto + aead + cookie.substr(0, 20), false, NtsKeStatus::NoCookies, 0, 123},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<NtsKeRecord> records;
    bool complete = !c.complete;
    ASSERT_TRUE(ParseNtsKeRecords(c.answer, records, complete));
    EXPECT_EQ(complete, c.complete);
    NtsKeResult r;
    ReadNtsKeAnswer(records, r);
    EXPECT_EQ(r.Status, c.status);
    EXPECT_EQ(r.Cookies.size(), c.cookies);
    EXPECT_EQ(r.NtpPort, c.port);
  }
  // An endless stream of records is refused.
  std::string many;
  for (std::size_t i = 0; i <= kNtsKeMaxRecords; ++i) many += Rec(false, kNtsKeWarning, Be16(0));
  std::vector<NtsKeRecord> records;
  bool complete = false;
  EXPECT_FALSE(ParseNtsKeRecords(many, records, complete));
}

// chronyd as the NTS-KE server: with the test CA trusted the keys and
// cookies come; with a certificate nobody trusts the TLS step says so.
TEST(NtsKeWithChrony, KeyEstablishmentAndAnUntrustedCertificate) {
  httptest::TempDir dir;
  test::TestCa ca(dir.Path());
  const test::TestCa::Cert cert = ca.Issue("nts", "/CN=127.0.0.1", "IP:127.0.0.1");
  const test::TestCa::Cert self = ca.SelfSigned("self", "/CN=127.0.0.1", "IP:127.0.0.1");
  ASSERT_TRUE(ca.Ok() && cert.ok && self.ok);
  struct Case {
    const test::TestCa::Cert& cert;
    NtsKeStatus status;
  } cases[] = {{cert, NtsKeStatus::Ok}, {self, NtsKeStatus::Untrusted}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cert.cert);
    quovix::testing::ChronyServer chrony;
    const int kePort = test::FreeLoopbackPort(SOCK_STREAM);
    chrony.ExtraConfig = "ntsservercert " + c.cert.cert + "\nntsserverkey " + c.cert.key +
                         "\nntsport " + std::to_string(kePort) + "\n";
    if (std::string why = chrony.Start(); !why.empty()) GTEST_SKIP() << why;
    NtsKeResult r;
    for (int attempt = 0; attempt < 40 && chrony.Running(); ++attempt) {
      r = NtsKeyExchange("127.0.0.1", static_cast<std::uint16_t>(kePort), 2000, ca.Ca());
      if (r.Status != NtsKeStatus::Unreachable) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_EQ(r.Status, c.status) << r.Detail << chrony.Log();
    if (c.status != NtsKeStatus::Ok) continue;
    EXPECT_EQ(r.Aead, kNtsAeadAesSivCmac256);
    EXPECT_EQ(r.Cookies.size(), 8u);
    EXPECT_EQ(r.NtpPort, chrony.Port());
    EXPECT_EQ(r.KeyC2S.size(), 32u);
    EXPECT_EQ(r.KeyS2C.size(), 32u);
    EXPECT_NE(r.KeyC2S, r.KeyS2C);
  }
}
