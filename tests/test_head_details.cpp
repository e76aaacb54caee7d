// What the HTTP-Header tool shows beyond the headers: the timing of each
// hop (and the bar the window draws of it), the TLS details, the security
// headers, HTTP/2.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "HttpTestPeers.h"
#include "dns_test_support.h"
#include "app/TimingBar.h"
#include "app/formMain.h"
#include "clients/Http2Exchange.h"
#include "common/Pump.h"
#include "shell/gIni.h"
#include "tools/fHeadLines.h"

using namespace quovix;

namespace {

struct BarCase {
  const char* name;
  TLineFields fields;
  std::vector<std::tuple<TimingPhase, double, double>> want;  // phase, start, width
};

}  // namespace

TEST(HeadTimingBar, PhasesFollowEachOtherAsSharesOfTheWhole) {
  const TLineValue none;
  const std::vector<BarCase> cases = {
      {"plain HTTP, no look-up",
       {{"lookup_ms", none}, {"connect_ms", 10.0}, {"tls_ms", none}, {"first_byte_ms", 70.0},
        {"total_ms", 100.0}},
       {{TimingPhase::Connect, 0.0, 0.1}, {TimingPhase::FirstByte, 0.1, 0.7}, {TimingPhase::Rest, 0.8, 0.2}}},
      {"every phase",
       {{"lookup_ms", 5.0}, {"connect_ms", 5.0}, {"tls_ms", 20.0}, {"first_byte_ms", 20}, {"total_ms", 50}},
       {{TimingPhase::Lookup, 0.0, 0.1}, {TimingPhase::Connect, 0.1, 0.1}, {TimingPhase::Tls, 0.2, 0.4},
        {TimingPhase::FirstByte, 0.6, 0.4}}},
      {"phases beyond the total are cut at its end",
       {{"lookup_ms", 80.0}, {"connect_ms", 80.0}, {"total_ms", 100.0}},
       {{TimingPhase::Lookup, 0.0, 0.8}, {TimingPhase::Connect, 0.8, 0.2}}},
      {"a total of zero", {{"connect_ms", 0.0}, {"total_ms", 0.0}}, {}},
      {"no total: not a timing line", {{"connect_ms", 3.0}, {"hop", 1}}, {}},
      {"a total that is no number", {{"total_ms", "12"}}, {}},
  };
  for (const auto& c : cases) {
    const auto got = TimingBarOf(c.fields);
    ASSERT_EQ(got.size(), c.want.size()) << c.name;
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(got[i].Phase, std::get<0>(c.want[i])) << c.name << " #" << i;
      EXPECT_NEAR(got[i].Start, std::get<1>(c.want[i]), 1e-9) << c.name << " #" << i;
      EXPECT_NEAR(got[i].Width, std::get<2>(c.want[i]), 1e-9) << c.name << " #" << i;
    }
  }
}

namespace {

// A line that must appear: text containing want (or equal to it, exact), in colour.
struct Want {
  std::string text;
  TColor color;
  bool exact = false;
};

class HeadDetails : public ::testing::Test {
 protected:
  void SetUp() override {
    f_.cmbHeadTimeout.SetItemIndex(f_.cmbHeadTimeout.IndexOf("5000"));
    f_.chkHeadRedirect.SetCheckedSilently(true);
    f_.chkHeadTls.SetCheckedSilently(true);
  }
  bool StartNginx() {
    nginx_ = std::make_unique<httptest::NginxTls>(dir_);
    skip_ = nginx_->skipReason;
    f_.IdHTTP.TlsExtraCaFile = nginx_->ca;
    return nginx_->Ok();
  }
  const std::vector<TOutputLine>& Run(const std::string& url) {
    f_.cmbHeadURL.SetText(url);
    f_.btnHeadStart.Click();
    return f_.reHead.Lines();
  }
  // The lines wanted appear in this order; the first one missing is named.
  static std::string InOrder(const std::vector<TOutputLine>& lines, const std::vector<Want>& want) {
    size_t at = 0;
    for (const Want& w : want) {
      while (at < lines.size() &&
             !((w.exact ? lines[at].Text == w.text : lines[at].Text.find(w.text) != std::string::npos) &&
               lines[at].Color == w.color))
        ++at;
      if (at == lines.size()) return "missing or out of order: \"" + w.text + "\"";
      ++at;
    }
    return {};
  }
  static int Count(const std::vector<TOutputLine>& lines, const std::string& part) {
    int n = 0;
    for (const auto& l : lines) n += l.Text.find(part) != std::string::npos;
    return n;
  }
  static std::string Dump(const std::vector<TOutputLine>& lines) {
    std::string out;
    for (const auto& l : lines) out += l.Text + "\n";
    return out;
  }
  TfrmMain f_;
  httptest::TempDir dir_;
  std::unique_ptr<httptest::NginxTls> nginx_;
  std::string skip_;
};

struct TlsCase {
  const char* name;
  int httptest::NginxTls::*port;
  bool tlsBox;
  std::vector<Want> want;
  std::vector<std::string> absent;
  std::string path = "/";
};

}  // namespace

TEST_F(HeadDetails, EachHttpsHopShowsItsConnectionAndChainBeforeTheLineThatEndsIt) {
  if (!StartNginx()) GTEST_SKIP() << skip_;
  using N = httptest::NginxTls;
  const std::string failed = "Sichere Verbindung fehlgeschlagen: TLS certificate verification failed: ";
  const std::vector<TlsCase> cases = {
      {"a good chain",
       &N::good,
       true,
       {{"  Serverantwort:    HTTP/", clNavy},
        {"TLS-Verbindung:", clBlue, true},
        {"  Protokoll:        TLSv1.", clNavy},
        {"  OCSP (geheftet):  keine Antwort geheftet", clNavy, true},
        {"Zertifikatskette (wie gesendet):", clBlue, true},
        {"  1. Inhaber:     CN=localhost", clNavy, true},
        {"     Alt. Namen:    IP:127.0.0.1, DNS:localhost", clNavy, true},
        {"(noch 1 Tage)", clNavy},
        {"     Schlüssel:     EC 256 Bit (prime256v1)", clNavy, true},
        {"  2. Inhaber:     CN=Quovix Test Intermediate", clNavy, true},
        {"  Kette:            vertrauenswürdig", clGreen, true},
        {"  Name:             \"127.0.0.1\" passt zum Zertifikat", clGreen, true},
        {"Zeitverlauf:", clBlue, true},
        {"  TLS-Handshake:    ", clNavy},
        {"Anfrage beendet.", clBlue, true}},
       {}},
      {"an expired certificate",
       &N::expired,
       true,
       {{"  1. Inhaber:     CN=127.0.0.1", clNavy, true},
        {"(abgelaufen seit ", clRed},
        {"  Kette:            nicht vertrauenswürdig: certificate has expired (Zertifikat 1)", clRed, true},
        {failed + "certificate has expired", clRed, true}},
       {"Header-Informationen:"}},
      {"another name",
       &N::wrongName,
       true,
       {{"  1. Inhaber:     CN=wrong.test", clNavy, true},
        {"  Kette:            vertrauenswürdig", clGreen, true},
        {"  Name:             \"127.0.0.1\" passt nicht zum Zertifikat", clRed, true},
        {failed + "IP address mismatch", clRed, true}},
       {"Header-Informationen:"}},
      {"self-signed",
       &N::self,
       true,
       {{"  1. Inhaber:     CN=127.0.0.1", clNavy, true},
        {"nicht vertrauenswürdig: self-signed certificate", clRed},
        {failed + "self-signed certificate", clRed, true}},
       {"  2. Inhaber:"}},
      {"a stapled good answer",
       &N::stapledGood,
       true,
       {{"  Serverantwort:    HTTP/", clNavy}, {"  OCSP (geheftet):  gültig, Stand ", clNavy}},
       {"OCSP-Prüfung"}},
      {"a stapled revoked answer",
       &N::stapledRevoked,
       true,
       {{"  OCSP (geheftet):  widerrufen am ", clRed}, {"Sicherheits-Header:", clBlue, true}},
       {}},
      {"the box off: headers and time as without it",
       &N::good,
       false,
       {{"  Serverantwort:    HTTP/", clNavy}, {"Zeitverlauf:", clBlue, true}},
       {"TLS-Verbindung:", "Zertifikatskette"}},
      {"the last hop's security headers, its HTTP/3 advertisement",
       &N::good,
       true,
       {{"HTTP/3 angeboten (Alt-Svc):", clBlue, true},
        {"  h3=\":", clNavy},
        {"TLS-Verbindung:", clBlue, true},
        {"Sicherheits-Header:", clBlue, true},
        {"  Strict-Transport-Security:  max-age 365 Tage, includeSubDomains, preload", clNavy, true},
        {"  Cookie sid:", clNavy},
        {"  Cookie theme:", clMaroon},
        {"Anfrage beendet.", clBlue, true}},
       {"  h2="},
       "/secure"},
      {"the box off: the failure line alone",
       &N::expired,
       false,
       {{failed + "certificate has expired", clRed, true}},
       {"TLS-Verbindung:", "Zertifikatskette", "Inhaber"}},
  };
  for (const auto& c : cases) {
    f_.chkHeadTls.SetCheckedSilently(c.tlsBox);
    const auto& lines = Run(N::Url((*nginx_).*c.port, c.path));
    EXPECT_EQ(InOrder(lines, c.want), "") << c.name << "\n" << Dump(lines);
    for (const auto& a : c.absent) EXPECT_EQ(Count(lines, a), 0) << c.name << ": " << a;
    // Every hop that had a connection says where its time went, TLS included.
    const auto timing = std::find_if(lines.begin(), lines.end(),
                                     [](const TOutputLine& l) { return FindField(l.Fields, "total_ms"); });
    ASSERT_NE(timing, lines.end()) << c.name;
    EXPECT_EQ(FindField(timing->Fields, "tls_ms")->Kind(), TLineValue::TKind::Real) << c.name;
  }
}

namespace {

struct SecurityCase {
  const char* name;
  std::vector<std::string> headers;
  bool https;
  // The line of each header (and cookie) after the heading, as shown.
  std::vector<std::pair<std::string, TColor>> want;
};

}  // namespace

TEST(HeadSecurityHeaders, EachHeaderSaysWhatItSetsAndMissingOnesStandOutOnHttps) {
  const std::vector<std::string> none;
  const std::vector<SecurityCase> cases = {
      {"all present",
       {"Strict-Transport-Security: max-age=31536000; includeSubDomains; preload",
        "content-security-policy: default-src 'self'; frame-ancestors 'none'",
        "X-Content-Type-Options: nosniff", "X-Frame-Options: DENY", "Referrer-Policy: no-referrer",
        "Permissions-Policy: camera=()", "Cross-Origin-Opener-Policy: same-origin",
        "Set-Cookie: sid=1; Path=/; Secure; HttpOnly; SameSite=Lax"},
       true,
       {{"  Strict-Transport-Security:  max-age 365 Tage, includeSubDomains, preload", clNavy},
        {"  Content-Security-Policy:    vorhanden, frame-ancestors 'none'", clNavy},
        {"  X-Content-Type-Options:     nosniff", clNavy},
        {"  X-Frame-Options:            DENY", clNavy},
        {"  Referrer-Policy:            no-referrer", clNavy},
        {"  Permissions-Policy:         camera=()", clNavy},
        {"  Cross-Origin-Opener-Policy: same-origin", clNavy},
        {"  Cookie sid:                 Secure, HttpOnly, SameSite=Lax", clNavy}}},
      {"none on HTTPS",
       {"Server: nginx", "Set-Cookie: theme=dark"},
       true,
       {{"  Strict-Transport-Security:  fehlt", clMaroon},
        {"  Content-Security-Policy:    fehlt", clMaroon},
        {"  X-Content-Type-Options:     fehlt", clMaroon},
        {"  X-Frame-Options:            fehlt", clMaroon},
        {"  Referrer-Policy:            fehlt", clMaroon},
        {"  Permissions-Policy:         fehlt", clMaroon},
        {"  Cross-Origin-Opener-Policy: fehlt", clMaroon},
        {"  Cookie theme:               ohne Secure, ohne HttpOnly, ohne SameSite", clMaroon}}},
      {"none on plain HTTP: said, not marked",
       {},
       false,
       {{"  Strict-Transport-Security:  fehlt", clNavy},
        {"  Content-Security-Policy:    fehlt", clNavy},
        {"  X-Content-Type-Options:     fehlt", clNavy},
        {"  X-Frame-Options:            fehlt", clNavy},
        {"  Referrer-Policy:            fehlt", clNavy},
        {"  Permissions-Policy:         fehlt", clNavy},
        {"  Cross-Origin-Opener-Policy: fehlt", clNavy}}},
      {"quoted max-age, a policy without frame-ancestors, a cookie half set",
       {"strict-transport-security: max-age=\"86399\"", "Content-Security-Policy: default-src https:",
        "X-Content-Type-Options: nosniff", "X-Frame-Options: SAMEORIGIN", "Referrer-Policy: origin",
        "Permissions-Policy: geolocation=()", "Cross-Origin-Opener-Policy: unsafe-none",
        "Set-Cookie: a=\"x;y\"; secure; SameSite=None"},
       true,
       {{"  Strict-Transport-Security:  max-age 0 Tage", clNavy},
        {"  Content-Security-Policy:    vorhanden, ohne frame-ancestors", clNavy},
        {"  X-Content-Type-Options:     nosniff", clNavy},
        {"  X-Frame-Options:            SAMEORIGIN", clNavy},
        {"  Referrer-Policy:            origin", clNavy},
        {"  Permissions-Policy:         geolocation=()", clNavy},
        {"  Cross-Origin-Opener-Policy: unsafe-none", clNavy},
        {"  Cookie a:                   Secure, ohne HttpOnly, SameSite=None", clMaroon}}},
      {"an HSTS header without a usable max-age",
       {"Strict-Transport-Security: max-age=-5; preload"},
       true,
       {{"  Strict-Transport-Security:  ohne gültiges max-age, preload", clMaroon}}},
  };
  for (const auto& c : cases) {
    const auto lines = SecurityHeaderLines(c.headers, c.https, {{"hop", 2}});
    ASSERT_GE(lines.size(), 2u) << c.name;
    EXPECT_EQ(lines[1].Text, "Sicherheits-Header:") << c.name;
    for (size_t i = 0; i < c.want.size(); ++i) {
      ASSERT_LT(i + 2, lines.size()) << c.name;
      EXPECT_EQ(lines[i + 2].Text, c.want[i].first) << c.name;
      EXPECT_EQ(lines[i + 2].Color, c.want[i].second) << c.name << ": " << c.want[i].first;
      EXPECT_EQ(FindField(lines[i + 2].Fields, "hop")->AsInteger(), 2) << c.name;
    }
    if (c.want.size() > 1) {
      EXPECT_EQ(lines.size(), c.want.size() + 2) << c.name;
    }
  }
}

TEST(HeadSecurityHeaders, AltSvcKeepsTheHttp3EntriesAsSent) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"h3=\":443\"; ma=86400, h3-29=\":443\"; ma=86400, h2=\":443\"",
       {"h3=\":443\"; ma=86400", "h3-29=\":443\"; ma=86400"}},
      {"h2=\"alt.example:443\", H3=\"a,b:8443\"", {"H3=\"a,b:8443\""}},
      {"clear", {}},
      {"", {}},
      {",,, ;", {}},
  };
  for (const auto& [value, want] : cases) EXPECT_EQ(AltSvcH3Entries(value), want) << value;
  EXPECT_EQ(AltSvcH3Entries(std::string(10000, ',') + "h3=\":1\"").size(), 1u);
  std::string many;
  for (int i = 0; i < 100; ++i) many += "h3=\":" + std::to_string(i) + "\",";
  EXPECT_EQ(AltSvcH3Entries(many).size(), 20u);
}

namespace {

struct Http2Case {
  const char* name;
  bool http2Box;
  std::string path;
  std::vector<Want> want;
  std::vector<std::string> absent;
};

}  // namespace

TEST_F(HeadDetails, Http2IsSpokenWhenTheBoxAllowsItAndTheServerPicksIt) {
  if (!StartNginx()) GTEST_SKIP() << skip_;
  const std::string base = httptest::NginxTls::Url(nginx_->good, "");
  const std::vector<Http2Case> cases = {
      {"allowed: HTTP/2 with the names as sent",
       true,
       "/",
       {{"  Serverantwort:    HTTP/2 200", clNavy, true},
        {"HTTP/2 200", clBlack, true},
        {"server: nginx/", clBlack},
        {"  ALPN:             h2", clNavy, true}},
       {"HTTP/1.1"}},
      {"not allowed: HTTP/1.1 as before",
       false,
       "/",
       {{"  Serverantwort:    HTTP/1.1 200 OK", clNavy, true},
        {"Server: nginx/", clBlack},
        {"  ALPN:             keine Einigung", clNavy, true}},
       {"HTTP/2"}},
      {"a redirect over HTTP/2, hop by hop",
       true,
       "/moved",
       {{"  Serverantwort:    HTTP/2 301", clNavy, true},
        {"Umleitung nach: \"", clBlue},
        {"  Anfrage mit:      " + base + "/secure", clNavy, true},
        {"  Serverantwort:    HTTP/2 200", clNavy, true},
        {"Sicherheits-Header:", clBlue, true},
        {"  Strict-Transport-Security:  max-age 365 Tage, includeSubDomains, preload", clNavy, true},
        {"  Cookie sid:", clNavy}},
       {"HTTP/1.1"}},
  };
  for (const auto& c : cases) {
    f_.chkHeadHttp2.SetCheckedSilently(c.http2Box);
    const auto& lines = Run(base + c.path);
    EXPECT_EQ(InOrder(lines, c.want), "") << c.name << "\n" << Dump(lines);
    for (const auto& a : c.absent) EXPECT_EQ(Count(lines, a), 0) << c.name << ": " << a;
  }
}

TEST_F(HeadDetails, Http2GoesThroughTheProxyTunnel) {
  if (!StartNginx()) GTEST_SKIP() << skip_;
  httptest::Tinyproxy proxy(dir_, "quser", "qsecret");
  if (!proxy.Ok()) GTEST_SKIP() << proxy.skipReason;
  struct ProxyOn {
    ProxyOn(int port) {
      HttpProxyUseProxy = true;
      HttpProxyServerName = "127.0.0.1";
      HttpProxyServerPort = port;
      HttpProxyUsername = "quser";
      HttpProxyPassword = "qsecret";
    }
    ~ProxyOn() { HttpProxyUseProxy = false; }
  } on(proxy.port);
  f_.chkHeadHttp2.SetCheckedSilently(true);
  const auto& lines = Run(httptest::NginxTls::Url(nginx_->good));
  EXPECT_EQ(InOrder(lines, {{"  Serverantwort:    HTTP/2 200", clNavy, true}, {"  ALPN:             h2", clNavy, true}}),
            "")
      << Dump(lines);
}

TEST_F(HeadDetails, Http2KeepsTheTimingTheDeadlineAndTheAbort) {
  // nginx asks a scripted server behind it: 300 ms of think time, or none
  // at all until the client gives up.
  std::atomic<bool> silent{false};
  httptest::ScriptedServer upstream([&](httptest::ScriptConn& c, const std::string&, int) {
    if (silent) return c.Hold(5000);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  });
  nginx_ = std::make_unique<httptest::NginxTls>(dir_, upstream.Port());
  if (!nginx_->Ok()) GTEST_SKIP() << nginx_->skipReason;
  f_.IdHTTP.TlsExtraCaFile = nginx_->ca;
  f_.chkHeadHttp2.SetCheckedSilently(true);
  const std::string url = httptest::NginxTls::Url(nginx_->good, "/upstream");

  const auto& lines = Run(url);
  EXPECT_EQ(InOrder(lines, {{"  Serverantwort:    HTTP/2 200", clNavy, true}}), "") << Dump(lines);
  const auto timing = std::find_if(lines.begin(), lines.end(),
                                   [](const TOutputLine& l) { return FindField(l.Fields, "total_ms"); });
  ASSERT_NE(timing, lines.end());
  EXPECT_GE(FindField(timing->Fields, "first_byte_ms")->AsReal(), 300.0);
  EXPECT_LT(FindField(timing->Fields, "connect_ms")->AsReal(), 50.0);

  silent = true;
  f_.cmbHeadTimeout.SetItemIndex(f_.cmbHeadTimeout.IndexOf("1000"));
  auto start = std::chrono::steady_clock::now();
  Run(url);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(ms, 1000 + 1000);
  EXPECT_EQ(InOrder(f_.reHead.Lines(), {{"Keine Antwort des Servers: Zeitüberschreitung", clMaroon}}), "")
      << Dump(f_.reHead.Lines());

  f_.cmbHeadTimeout.SetItemIndex(f_.cmbHeadTimeout.IndexOf("10000"));
  SetMessagePump([this] { f_.Pump(); });
  SetAbortCheck([this] { return f_.StopRequested(); });
  start = std::chrono::steady_clock::now();
  f_.ProcessMessages = [&] {
    if (f_.btnHeadStart.RunState == 1 && std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300))
      f_.btnHeadStart.Click();
  };
  Run(url);
  ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  SetAbortCheck(nullptr);
  SetMessagePump(nullptr);
  f_.ProcessMessages = nullptr;
  EXPECT_LT(ms, 300 + 250 + 1000);
  EXPECT_EQ(f_.reHead.Lines().back().Text, "Abbruch durch Benutzer.");
}

TEST_F(HeadDetails, Http2GetReturnsTheBody) {
  if (!StartNginx()) GTEST_SKIP() << skip_;
  HttpClient http;
  http.TlsExtraCaFile = nginx_->ca;
  for (const bool h2 : {true, false}) {
    http.AllowHttp2 = h2;
    EXPECT_EQ(http.Get(httptest::NginxTls::Url(nginx_->good)), "secure page\n") << h2;
    EXPECT_EQ(http.ResponseText(), h2 ? "HTTP/2 200" : "HTTP/1.1 200 OK");
    // Redirects followed by the client itself.
    EXPECT_EQ(http.Get(httptest::NginxTls::Url(nginx_->good, "/moved")), "headers\n") << h2;
  }
}

namespace {

// A server's bytes after the handshake, handed out in small pieces; what
// the client writes is kept.
class CannedStream : public IHttpStream {
 public:
  explicit CannedStream(std::string in) : in_(std::move(in)) {}
  size_t Read(char* buf, size_t n) override {
    const size_t take = std::min({n, size_t{7}, in_.size() - pos_});
    in_.copy(buf, take, pos_);
    pos_ += take;
    return take;
  }
  void Write(const std::string& data) override { out += data; }
  std::string out;

 private:
  std::string in_;
  size_t pos_ = 0;
};

std::string Frame(int type, int flags, int stream, const std::string& payload) {
  std::string f;
  for (int shift : {16, 8, 0}) f += static_cast<char>((payload.size() >> shift) & 0xFF);
  f += static_cast<char>(type);
  f += static_cast<char>(flags);
  for (int shift : {24, 16, 8, 0}) f += static_cast<char>((stream >> shift) & 0xFF);
  return f + payload;
}

// HPACK: a literal header with a new name, not indexed (":status 200" is
// the static table's 0x88, "\x48" a literal ":status").
std::string Literal(const std::string& name, const std::string& value) {
  return std::string(1, '\0') + static_cast<char>(name.size()) + name + static_cast<char>(value.size()) + value;
}

struct Http2AnswerCase {
  const char* name;
  std::string server;
  bool wantBody;
  std::string status;  // "" when the exchange fails
  std::vector<std::string> headers;
  std::string body;
  HttpError::Kind failure = HttpError::Kind::Protocol;
};

}  // namespace

TEST(Http2Answer, HeadBodyInterimAnswersAndBrokenServers) {
  const std::string settings = Frame(4, 0, 0, "") + Frame(4, 1, 0, "");
  const std::string head200 = std::string("\x88") + Literal("server", "nginx") + Literal("x-b", "2");
  std::string many = "\x88";
  for (int i = 0; i < 300; ++i) many += Literal("x-" + std::to_string(i), "v");
  const std::vector<Http2AnswerCase> cases = {
      {"HEAD: the head ends the stream", settings + Frame(1, 0x05, 1, head200), false, "HTTP/2 200",
       {"server: nginx", "x-b: 2"}, ""},
      {"GET: the body follows in DATA frames",
       settings + Frame(1, 0x04, 1, head200) + Frame(0, 0, 1, "secure ") + Frame(0, 0x01, 1, "page\n"), true,
       "HTTP/2 200", {"server: nginx", "x-b: 2"}, "secure page\n"},
      {"an interim answer is skipped",
       settings + Frame(1, 0x04, 1, "\x48\x03" "103" + Literal("link", "</a>")) +
           Frame(1, 0x05, 1, "\x48\x03" "301" + Literal("location", "/secure")),
       false, "HTTP/2 301", {"location: /secure"}, ""},
      {"a reset before the head", settings + Frame(3, 0, 1, std::string("\0\0\0\x02", 4)), false, "", {}, ""},
      {"the connection ends before the head", settings, false, "", {}, "", HttpError::Kind::Closed},
      {"more header lines than the cap", settings + Frame(1, 0x05, 1, many), false, "", {}, ""},
      {"no HTTP/2 at all", "HTTP/1.1 200 OK\r\n\r\n", false, "", {}, ""},
  };
  for (const auto& c : cases) {
    CannedStream stream(c.server);
    Http2Request request;
    request.Method = c.wantBody ? "GET" : "HEAD";
    request.Authority = "127.0.0.1:8443";
    request.WantBody = c.wantBody;
    request.Headers = {{"user-agent", "test"}, {"cookie", ""}};
    Http2Answer answer;
    HttpLimits limits;
    try {
      Http2Exchange(stream, request, limits, answer);
      EXPECT_EQ(answer.Head.ResponseText, c.status) << c.name;
      EXPECT_EQ(answer.Head.RawHeaders, c.headers) << c.name;
      EXPECT_EQ(answer.Body, c.body) << c.name;
      EXPECT_TRUE(answer.Head.Complete) << c.name;
      EXPECT_TRUE(answer.FirstHeaders.has_value()) << c.name;
    } catch (const HttpError& e) {
      EXPECT_EQ(c.status, "") << c.name << ": " << e.what();
      EXPECT_EQ(e.kind(), c.failure) << c.name << ": " << e.what();
    }
    // The client's preface went out first, whatever followed.
    EXPECT_EQ(stream.out.substr(0, 24), "PRI * HTTP/2.0\r\n\r\nSM\r\n\r\n") << c.name;
  }
}

namespace {

struct HttpsRrCase {
  const char* name;
  // The DNS server's answer records for the host (none: an empty answer;
  // nullopt: the server is not there).
  std::optional<std::vector<std::string>> answer;
  std::vector<Want> want;
};

}  // namespace

TEST_F(HeadDetails, TheHostsDnsHttpsRecordIsAskedOncePerHost) {
  if (!StartNginx()) GTEST_SKIP() << skip_;
  using dnstest::Bytes;
  const std::string service = Bytes()
                                  .u16(1)
                                  .u8(0)  // target: the owner itself
                                  .u16(1).u16(6).u8(2).raw("h3").u8(2).raw("h2")
                                  .u16(3).u16(2).u16(8443)
                                  .u16(4).u16(4).u8(127).u8(0).u8(0).u8(1)
                                  .b;
  const std::string alias = Bytes().u16(0).name("cdn.localhost").b;
  const std::vector<HttpsRrCase> cases = {
      {"a service and an alias, by priority",
       std::vector<std::string>{dnstest::Rr(dnstest::WireName("localhost"), 65, service),
                                dnstest::Rr(dnstest::WireName("localhost"), 65, alias)},
       {{"DNS-HTTPS-Eintrag von localhost:", clBlue, true},
        {"  Alias auf cdn.localhost", clNavy, true},
        {"  Priorität 1, Ziel ., alpn=h3,h2, port=8443, ipv4hint=127.0.0.1", clNavy, true}}},
      {"none", std::vector<std::string>{}, {{"DNS-HTTPS-Eintrag von localhost:", clBlue, true}, {"  keiner", clNavy, true}}},
      {"no server", std::nullopt,
       {{"DNS-HTTPS-Eintrag von localhost:", clBlue, true}, {"  nicht abfragbar: ", clNavy}}},
  };
  const std::string savedServer = ActiveDnsServerIP;
  for (const auto& c : cases) {
    std::unique_ptr<dnstest::ScriptedDnsServer> dns;
    if (c.answer) {
      dns = std::make_unique<dnstest::ScriptedDnsServer>([&c](const std::string& query) {
        const auto q = dnstest::ParseQuestion(query);
        return std::vector<dnstest::ScriptedDnsServer::Datagram>{
            {dnstest::Reply(q, 0, q.type == 65 ? *c.answer : std::vector<std::string>{})}};
      });
      ActiveDnsServerIP = "127.0.0.1:" + std::to_string(dns->Port());
    } else {
      ActiveDnsServerIP = "127.0.0.1:" + std::to_string(httptest::FreePort());  // nothing listens
    }
    // Two hops to the same host: one question.
    const auto& lines = Run("https://localhost:" + std::to_string(nginx_->good) + "/moved");
    EXPECT_EQ(InOrder(lines, c.want), "") << c.name << "\n" << Dump(lines);
    EXPECT_EQ(Count(lines, "DNS-HTTPS-Eintrag von"), 1) << c.name;
    EXPECT_EQ(Count(lines, "  Serverantwort:    "), 2) << c.name;
    if (dns) {
      EXPECT_EQ(dns->Queries(), 1) << c.name;
    }
  }
  ActiveDnsServerIP = savedServer;
  // An address has no such record: nothing is asked.
  const auto& lines = Run(httptest::NginxTls::Url(nginx_->good));
  EXPECT_EQ(Count(lines, "DNS-HTTPS-Eintrag"), 0);
}
