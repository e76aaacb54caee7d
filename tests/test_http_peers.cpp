// The HTTP client against real servers on loopback: nginx (plain and HTTPS
// with a test certificate authority) and tinyproxy with basic authentication.
#include <gtest/gtest.h>

#include "HttpTestPeers.h"
#include "clients/HttpClient.h"

using namespace quovix;

namespace {

class HttpPeers : public ::testing::Test {
 protected:
  void SetUp() override {
    certs_ = std::make_unique<httptest::TestCerts>(dir_);
    nginx_ = std::make_unique<httptest::Nginx>(dir_, certs_.get());
    if (!nginx_->Ok()) GTEST_SKIP() << nginx_->skipReason;
    http_.ConnectTimeout = 3000;
    http_.ReadTimeout = 3000;
  }
  std::string HttpsUrl(int port, const std::string& path = "/") {
    return "https://127.0.0.1:" + std::to_string(port) + path;
  }
  void NeedTls() {
    if (!certs_->ok || nginx_->httpsGood == 0) GTEST_SKIP() << "openssl could not make the test certificates";
  }
  std::string ErrorText(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const HttpError& e) {
      return e.what();
    }
    return "(no error)";
  }

  httptest::TempDir dir_;
  std::unique_ptr<httptest::TestCerts> certs_;
  std::unique_ptr<httptest::Nginx> nginx_;
  HttpClient http_;
};

}  // namespace

TEST_F(HttpPeers, PagesStatusesAndDates) {
  EXPECT_EQ(http_.Get(nginx_->Url("/page")), "plain page\n");
  EXPECT_EQ(http_.ResponseCode(), 200);
  EXPECT_EQ(http_.Response.Server.substr(0, 6), "nginx/");
  EXPECT_GT(http_.Response.Date, 40000);  // a date of this century
  http_.ClearResponse();
  http_.Head(nginx_->Url("/"));
  EXPECT_NE(http_.Response.LastModified, 0);  // a static file has one
  EXPECT_EQ(ErrorText([&] { http_.Head(nginx_->Url("/missing")); }), "HTTP/1.1 404 Not Found");
  EXPECT_EQ(http_.ResponseCode(), 404);
  EXPECT_FALSE(http_.Response.RawHeaders.empty());
}

TEST_F(HttpPeers, RedirectChainsLoopsAndHeadToGet) {
  EXPECT_EQ(http_.Get(nginx_->Url("/c3")), "plain page\n");
  http_.Head(nginx_->Url("/moved"));  // 302: followed with GET
  EXPECT_EQ(http_.ResponseCode(), 200);
  EXPECT_TRUE(http_.Response.Location.empty());
  // An endless loop ends after the 15th redirect with its Location.
  EXPECT_EQ(http_.Get(nginx_->Url("/loop")), "");
  EXPECT_EQ(http_.ResponseCode(), 301);
  EXPECT_EQ(http_.Response.Location, nginx_->Url("/loop"));
}

TEST_F(HttpPeers, ChunkedBodyAndCookies) {
  EXPECT_EQ(http_.Get(nginx_->Url("/chunked.html")), "first part, middle, last part\n");
  bool chunked = false;
  for (const auto& h : http_.Response.RawHeaders) chunked = chunked || h == "Transfer-Encoding: chunked";
  EXPECT_TRUE(chunked) << "nginx did not answer chunked; the test proves less than it should";
  EXPECT_EQ(http_.Get(nginx_->Url("/cookie")), "cookie=sid=abc123\n");
}

TEST_F(HttpPeers, HttpsTrustsOnlyVerifiedCertificates) {
  NeedTls();
  // The system trust store alone does not know the test CA.
  EXPECT_EQ(ErrorText([&] { http_.Get(HttpsUrl(nginx_->httpsGood)); }),
            "TLS certificate verification failed: unable to get local issuer certificate");
  http_.TlsExtraCaFile = certs_->ca;
  EXPECT_EQ(http_.Get(HttpsUrl(nginx_->httpsGood)), "secure page\n");
  EXPECT_EQ(ErrorText([&] { http_.Get(HttpsUrl(nginx_->httpsWrong)); }),
            "TLS certificate verification failed: IP address mismatch");
  EXPECT_EQ(ErrorText([&] { http_.Get(HttpsUrl(nginx_->httpsSelf)); }),
            "TLS certificate verification failed: self-signed certificate");
  // Redirects cross between the schemes.
  EXPECT_EQ(http_.Get(nginx_->Url("/to-https")), "secure page\n");
  EXPECT_EQ(http_.Get(HttpsUrl(nginx_->httpsGood, "/to-plain")),
            "<html><body>Quovix test page</body></html>\n");
}

TEST_F(HttpPeers, ProxyWithBasicAuthenticationAndConnect) {
  httptest::Tinyproxy proxy(dir_, "quser", "qsecret");
  if (!proxy.Ok()) GTEST_SKIP() << proxy.skipReason;
  http_.ProxyParams.ProxyServer = "127.0.0.1";
  http_.ProxyParams.ProxyPort = proxy.port;
  http_.ProxyParams.ProxyUsername = "quser";
  http_.ProxyParams.ProxyPassword = "qsecret";
  EXPECT_EQ(http_.Get(nginx_->Url("/page")), "plain page\n");
  if (certs_->ok && nginx_->httpsGood) {
    http_.TlsExtraCaFile = certs_->ca;
    EXPECT_EQ(http_.Get(HttpsUrl(nginx_->httpsGood)), "secure page\n");  // through CONNECT
  }
  // Wrong credentials are refused with the proxy's status line as the error
  // (tinyproxy 1.11 answers 401 where 407 would be expected).
  http_.ProxyParams.ProxyPassword = "wrong";
  const std::string refused = ErrorText([&] { http_.Get(nginx_->Url("/page")); });
  EXPECT_TRUE(http_.ResponseCode() == 407 || http_.ResponseCode() == 401) << refused;
  EXPECT_EQ(refused, http_.ResponseText());
  if (certs_->ok && nginx_->httpsGood) {
    http_.ClearResponse();
    const std::string tunnel = ErrorText([&] { http_.Get(HttpsUrl(nginx_->httpsGood)); });
    EXPECT_TRUE(http_.ResponseCode() == 407 || http_.ResponseCode() == 401) << tunnel;
    EXPECT_EQ(tunnel, http_.ResponseText());
  }
}
