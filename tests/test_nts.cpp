// NTS for the NTP exchanges: AES-SIV against RFC 5297's examples, the
// extension fields of request and answer, and the client against a scripted
// responder holding the session's keys and against chronyd's NTS server.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "clients/AesSiv.h"
#include "clients/NtsKe.h"
#include "clients/NtsNtp.h"
#include "clients/SntpClient.h"
#include "support/LoopbackPort.h"
#include "support/TestCa.h"
#include "tests/HttpTestPeers.h"
#include "tests/NtpTestPeers.h"

using namespace quovix;
using namespace quovix::testing;
using Datagram = ScriptedNtpPeer::Datagram;

namespace {

std::string Hex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::string Flipped(std::string s, std::size_t at) {
  s[at] = static_cast<char>(s[at] ^ 1);
  return s;
}

}  // namespace

// RFC 5297, A.1 (deterministic, one associated string) and A.2 (two strings
// and a nonce): OpenSSL's SIV and S2V alone give the same IV; the empty
// plaintext, which OpenSSL's SIV does not take, goes through S2V alone and
// still verifies, and any flipped bit fails.
TEST(AesSiv, RfcExamplesAndTheEmptyPlaintext) {
  struct Case {
    const char* what;
    std::string key;
    std::vector<std::string> associated;
    std::string plain, v, cipher;
  } cases[] = {
      {"A.1", Hex("fffefdfcfbfaf9f8f7f6f5f4f3f2f1f0f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff"),
       {Hex("101112131415161718191a1b1c1d1e1f2021222324252627")},
       Hex("112233445566778899aabbccddee"), Hex("85632d07c6e8f37f950acd320a2ecc93"),
       Hex("40c02b9690c4dc04daef7f6afe5c")},
      {"A.2", Hex("7f7e7d7c7b7a79787776757473727170404142434445464748494a4b4c4d4e4f"),
       {Hex("00112233445566778899aabbccddeeffdeaddadadeaddadaffeeddccbbaa99887766554433221100"),
        Hex("102030405060708090a0"), Hex("09f911029d74e35bd84156c5635688c0")},
       Hex("7468697320697320736f6d6520706c61696e7465787420746f20656e6372797074207573696e67205349"
           "562d414553"),
       Hex("7bdb6e3b432667eb06f4d14bff2fbd0f"),
       Hex("cb900f2fddbe404326601965c889bf17dba77ceb094fa663b7a3f748ba8af829ea64ad544a272e9c485b"
           "62a3fd5c0d")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string sealed, plain, v;
    ASSERT_TRUE(SivEncrypt(c.key, c.associated, c.plain, sealed));
    EXPECT_EQ(sealed, c.v + c.cipher);
    std::vector<std::string> strings = c.associated;
    strings.push_back(c.plain);
    ASSERT_TRUE(SivS2V(c.key.substr(0, 16), strings, v));
    EXPECT_EQ(v, c.v);
    ASSERT_TRUE(SivDecrypt(c.key, c.associated, sealed, plain));
    EXPECT_EQ(plain, c.plain);
    for (const std::size_t at : {std::size_t{0}, sealed.size() - 1})
      EXPECT_FALSE(SivDecrypt(c.key, c.associated, Flipped(sealed, at), plain));

    ASSERT_TRUE(SivEncrypt(c.key, c.associated, "", sealed));
    ASSERT_EQ(sealed.size(), kSivTagLength);
    strings.back().clear();
    ASSERT_TRUE(SivS2V(c.key.substr(0, 16), strings, v));
    EXPECT_EQ(sealed, v);
    EXPECT_TRUE(SivDecrypt(c.key, c.associated, sealed, plain));
    EXPECT_FALSE(SivDecrypt(c.key, c.associated, Flipped(sealed, 5), plain));
    EXPECT_FALSE(SivDecrypt(c.key, {c.associated.front() + "x"}, sealed, plain));
  }
  // The longer keys of AEAD_AES_SIV_CMAC_384 and _512 seal and open alike;
  // a key of another length is refused.
  for (const std::size_t length : {48u, 64u}) {
    const std::string key(length, '\x5a');
    std::string sealed, plain;
    ASSERT_TRUE(SivEncrypt(key, {"ad", "nonce"}, "text", sealed)) << length;
    EXPECT_TRUE(SivDecrypt(key, {"ad", "nonce"}, sealed, plain));
    EXPECT_EQ(plain, "text");
    ASSERT_TRUE(SivEncrypt(key, {"ad"}, "", sealed));
    EXPECT_TRUE(SivDecrypt(key, {"ad"}, sealed, plain));
  }
  std::string sealed;
  EXPECT_FALSE(SivEncrypt(std::string(20, 'k'), {"ad"}, "text", sealed));
}

namespace {

const std::string kC2S(32, '\x11'), kS2C(32, '\x22');

NtsSession Session(std::size_t cookies) {
  NtsSession s{kNtsAeadAesSivCmac256, kC2S, kS2C, {}};
  for (std::size_t i = 0; i < cookies; ++i) s.Cookies.push_back(std::string(100, char('a' + i)));
  return s;
}

// The server's side of a request: its unique identifier and cookie, the
// placeholders counted, and the request's authenticator checked.
struct SeenRequest {
  std::string UniqueId, Cookie;
  std::size_t Placeholders = 0;
  bool Verified = false;
};
SeenRequest Inspect(const std::string& packet) {
  SeenRequest r;
  std::vector<NtpExtensionField> fields;
  if (!ParseNtpExtensionFields(packet, 48, fields)) return r;
  for (const NtpExtensionField& f : fields) {
    if (f.Type == kNtsUniqueIdField) r.UniqueId = f.Body;
    if (f.Type == kNtsCookieField) r.Cookie = f.Body;
    if (f.Type == kNtsPlaceholderField) ++r.Placeholders;
    if (f.Type == kNtsAuthenticatorField && f.Body.size() >= 4 + 16 + 16) {
      std::string plain;
      r.Verified = SivDecrypt(kC2S, {packet.substr(0, f.Offset), f.Body.substr(4, 16)},
                              f.Body.substr(20), plain);
    }
  }
  return r;
}

enum class Answer { Good, Tampered, Nak, OtherId, NoAuthenticator, CutField };

// The answer a server holding the session's keys gives: the header, the
// identifier, and the authenticator sealing one new cookie.
std::string NtsAnswerTo(const std::vector<std::uint8_t>& request, Answer kind,
                        const std::string& cookie = std::string(100, 'n')) {
  const std::string packet(request.begin(), request.end());
  const SeenRequest seen = Inspect(packet);
  std::vector<std::uint8_t> h = ServerReply(request, NtpOfUnix(1709294400), NtpOfUnix(1709294400));
  h[0] = 0x24;  // version 4, server
  if (kind == Answer::Nak) {
    h[1] = 0;
    h[12] = 'N', h[13] = 'T', h[14] = 'S', h[15] = 'N';
  }
  std::string out(h.begin(), h.end());
  out += EncodeNtpExtensionField(kNtsUniqueIdField,
                                 kind == Answer::OtherId ? std::string(32, 'x') : seen.UniqueId);
  if (kind == Answer::Nak || kind == Answer::NoAuthenticator) return out;
  const std::string nonce(16, 'N');
  std::string sealed;
  SivEncrypt(kS2C, {out, nonce}, EncodeNtpExtensionField(kNtsCookieField, cookie), sealed);
  if (kind == Answer::Tampered) sealed = Flipped(sealed, 20);
  out += EncodeNtpExtensionField(kNtsAuthenticatorField,
                                 std::string{0, 16} + char(sealed.size() >> 8) +
                                     char(sealed.size() & 0xFF) + nonce + sealed);
  if (kind == Answer::CutField) out.resize(out.size() - 2);
  return out;
}

std::vector<std::uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

}  // namespace

// The request spends one cookie, asks for the missing ones, and its
// authenticator verifies with the client's key; each kind of answer is told.
TEST(NtsFields, TheRequestAndEveryKindOfAnswer) {
  NtsSession session = Session(3);
  std::string packet, uid;
  ASSERT_TRUE(BuildNtsRequest(std::string(48, '\0'), session, packet, uid));
  EXPECT_EQ(session.Cookies.size(), 2u);
  const SeenRequest seen = Inspect(packet);
  EXPECT_EQ(seen.UniqueId, uid);
  EXPECT_EQ(seen.UniqueId.size(), 32u);
  EXPECT_EQ(seen.Cookie, std::string(100, 'a'));
  EXPECT_EQ(seen.Placeholders, kNtsCookiesKept - 3);
  EXPECT_TRUE(seen.Verified);

  struct Case {
    Answer kind;
    NtsAnswer expected;
    std::size_t cookies;
  } cases[] = {
      {Answer::Good, NtsAnswer::Ok, 1},
      {Answer::Tampered, NtsAnswer::AuthFailed, 0},
      {Answer::Nak, NtsAnswer::Nak, 0},
      {Answer::OtherId, NtsAnswer::Foreign, 0},
      {Answer::NoAuthenticator, NtsAnswer::AuthFailed, 0},
      {Answer::CutField, NtsAnswer::Malformed, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    std::vector<std::string> cookies;
    EXPECT_EQ(CheckNtsAnswer(NtsAnswerTo(Bytes(packet), c.kind), uid, session, cookies), c.expected);
    EXPECT_EQ(cookies.size(), c.cookies);
  }
  // Without a cookie there is no request.
  NtsSession empty = Session(0);
  EXPECT_FALSE(BuildNtsRequest(std::string(48, '\0'), empty, packet, uid));
}

// Against a responder that holds the session's keys: authenticated samples
// refill the cookies; a tampered answer fails authentication, a NAK ends
// the query as kiss code NTSN, and an answer for another identifier is
// passed over as not ours.
TEST(NtsClient, AnswersOfAScriptedServer) {
  struct Case {
    Answer kind;
    TSntpStatus status;
    const char* kiss;
  } cases[] = {
      {Answer::Good, TSntpStatus::Ok, ""},
      {Answer::Tampered, TSntpStatus::NtsAuthFailed, ""},
      {Answer::Nak, TSntpStatus::KissOfDeath, "NTSN"},
      {Answer::OtherId, TSntpStatus::WrongOriginate, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.kind));
    int answered = 0;
    ScriptedNtpPeer peer([&](const std::vector<std::uint8_t>& req) {
      return std::vector<Datagram>{
          {Bytes(NtsAnswerTo(req, c.kind, std::string(100, char('p' + answered++))))}};
    });
    NtsSession session = Session(2);
    SntpClient client;
    client.Host = "127.0.0.1";
    client.Port = peer.Port();
    client.ReceiveTimeout = 400;
    client.SampleCount = 3;
    client.SampleSpacingMs = 10;
    client.Nts = &session;
    client.DateTime();
    EXPECT_EQ(client.Status(), c.status);
    EXPECT_EQ(client.Kiss(), c.kiss);
    const auto requests = peer.Requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_TRUE(Inspect({requests[0].begin(), requests[0].end()}).Verified);
    EXPECT_EQ(requests[0][0], 0x23);  // NTPv4, client
    if (c.kind != Answer::Good) continue;
    ASSERT_EQ(client.Samples().size(), 3u);
    for (const NtpSample& s : client.Samples()) EXPECT_TRUE(s.Authenticated);
    // Each answer gave one cookie for the one spent: never one used twice.
    EXPECT_EQ(session.Cookies.size(), 2u);
    EXPECT_EQ(Inspect({requests[2].begin(), requests[2].end()}).Cookie, std::string(100, 'p'));
  }
}

// chronyd's NTS server: key establishment, then authenticated samples.
TEST(NtsWithChrony, AuthenticatedSamples) {
  httptest::TempDir dir;
  test::TestCa ca(dir.Path());
  const test::TestCa::Cert cert = ca.Issue("nts", "/CN=127.0.0.1", "IP:127.0.0.1");
  ASSERT_TRUE(ca.Ok() && cert.ok);
  ChronyServer chrony;
  const int kePort = test::FreeLoopbackPort(SOCK_STREAM);
  chrony.ExtraConfig = "ntsservercert " + cert.cert + "\nntsserverkey " + cert.key +
                       "\nntsport " + std::to_string(kePort) + "\n";
  if (std::string why = chrony.Start(); !why.empty()) GTEST_SKIP() << why;
  NtsKeResult ke;
  for (int attempt = 0; attempt < 40 && chrony.Running(); ++attempt) {
    ke = NtsKeyExchange("127.0.0.1", static_cast<std::uint16_t>(kePort), 2000, ca.Ca());
    if (ke.Status != NtsKeStatus::Unreachable) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  ASSERT_EQ(ke.Status, NtsKeStatus::Ok) << ke.Detail << chrony.Log();
  NtsSession session{ke.Aead, ke.KeyC2S, ke.KeyS2C, ke.Cookies};
  SntpClient client;
  client.Host = "127.0.0.1";
  client.Port = ke.NtpPort;
  client.ReceiveTimeout = 1000;
  client.SampleCount = 3;
  client.SampleSpacingMs = 50;
  client.Nts = &session;
  client.DateTime();
  ASSERT_EQ(client.Status(), TSntpStatus::Ok) << chrony.Log();
  ASSERT_EQ(client.Samples().size(), 3u);
  for (const NtpSample& s : client.Samples()) EXPECT_TRUE(s.Authenticated);
  EXPECT_EQ(client.LastReply().Stratum, 8);
  EXPECT_LT(std::fabs(client.Measure().Offset), 1.0);
  EXPECT_EQ(session.Cookies.size(), kNtsCookiesKept);
  // A wrong key is noticed: chronyd's answers then fail authentication.
  session.KeyS2C = std::string(32, '\0');
  client.SampleCount = 1;
  client.ReceiveTimeout = 500;
  client.DateTime();
  EXPECT_EQ(client.Status(), TSntpStatus::NtsAuthFailed);
}
