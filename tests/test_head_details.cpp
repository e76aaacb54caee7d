// What the HTTP-Header tool shows beyond the headers: the timing of each
// hop (and the bar the window draws of it), the TLS details, the security
// headers, HTTP/2.
#include <gtest/gtest.h>

#include "HttpTestPeers.h"
#include "app/TimingBar.h"
#include "app/formMain.h"
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
