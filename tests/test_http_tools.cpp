// The HTTP-Header and PageRank tabs driven like a user does: controls set,
// Start clicked, pane lines, result controls and message boxes read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>

#include "HttpTestPeers.h"
#include "icmp_test_util.h"
#include "common/Pump.h"
#include "support/DribblePeer.h"
#include "support/TableResolver.h"
#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/Desktop.h"
#include "shell/gIni.h"
#include "tools/fGPRank.h"
#include "tools/fHttpTools.h"

using namespace quovix;
using httptest::RequestLine;
using httptest::ScriptConn;
using httptest::ScriptedServer;

namespace {

struct RecordingDesktop : platform::IDesktop {
  std::vector<std::pair<std::string, std::string>> boxes;
  void MessageBox(const std::string& title, const std::string& text) override {
    boxes.emplace_back(title, text);
  }
  bool OpenUrl(const std::string&) override { return false; }
};

std::vector<std::string> Texts(const TRichEdit& pane) {
  std::vector<std::string> out;
  for (const auto& l : pane.Lines()) out.push_back(l.Text);
  return out;
}

bool HasLine(const TRichEdit& pane, const std::string& text, TColor color) {
  for (const auto& l : pane.Lines())
    if (l.Text == text && l.Color == color) return true;
  return false;
}

int CountPrefix(const TRichEdit& pane, const std::string& prefix) {
  int n = 0;
  for (const auto& l : pane.Lines()) n += l.Text.rfind(prefix, 0) == 0;
  return n;
}

class HeadTool : public ::testing::Test {
 protected:
  void SetUp() override {
    f_.sbMain.OnText = [this](const std::string& t) { status_.push_back(t); };
    f_.cmbHeadTimeout.SetItemIndex(f_.cmbHeadTimeout.IndexOf("2000"));
    f_.chkHeadRedirect.SetCheckedSilently(true);
  }
  void Run(const std::string& url) {
    f_.cmbHeadURL.SetText(url);
    f_.btnHeadStart.Click();
  }
  bool StartNginx() {
    certs_ = std::make_unique<httptest::TestCerts>(dir_);
    nginx_ = std::make_unique<httptest::Nginx>(dir_, certs_.get());
    skip_ = nginx_->skipReason;
    return nginx_->Ok();
  }
  TfrmMain f_;
  std::vector<std::string> status_;
  httptest::TempDir dir_;
  std::unique_ptr<httptest::TestCerts> certs_;
  std::unique_ptr<httptest::Nginx> nginx_;
  std::string skip_;
};

}  // namespace

TEST_F(HeadTool, RedirectChainIsWalkedHopByHop) {
  if (!StartNginx()) GTEST_SKIP() << skip_;
  // /c3 -> /c2 -> /c1 -> /page: every hop is one HEAD of its own, its
  // headers under its own URL, never a response of another URL.
  const std::string url = nginx_->Url("/c3");
  Run("  " + url + " ");
  const auto& lines = f_.reHead.Lines();
  ASSERT_GE(lines.size(), 12u);
  EXPECT_EQ(lines[0].Text, "Übersicht:");
  EXPECT_EQ(lines[0].Color, clBlue);
  EXPECT_EQ(lines[1].Text, "  Anfrage mit:      " + url);
  EXPECT_EQ(lines[1].Color, clNavy);
  EXPECT_EQ(lines[2].Text, "  Hostname:         127.0.0.1:" + std::to_string(nginx_->http));
  EXPECT_EQ(lines[3].Text, "");
  EXPECT_EQ(lines[4].Text, "Header-Informationen:");
  EXPECT_EQ(lines[5].Text, "  Serverantwort:    HTTP/1.1 301 Moved Permanently");
  EXPECT_EQ(lines[6].Text.substr(0, 26), "  Server (System):  nginx/");
  EXPECT_EQ(lines[7].Text.substr(0, 20), "  Systemzeit:       ");
  EXPECT_GT(lines[7].Text.size(), 20u);
  EXPECT_EQ(CountPrefix(f_.reHead, "Übersicht:"), 4);
  std::vector<std::string> asked, locations;
  for (const auto& l : lines) {
    if (l.Text.rfind("  Anfrage mit:      ", 0) == 0) asked.push_back(l.Text.substr(20));
    if (l.Text.rfind("Location: ", 0) == 0) locations.push_back(l.Text.substr(10));
  }
  EXPECT_EQ(asked, (std::vector<std::string>{url, nginx_->Url("/c2"), nginx_->Url("/c1"),
                                             nginx_->Url("/page")}));
  // The block under each URL names the next hop: it is that URL's answer.
  EXPECT_EQ(locations, (std::vector<std::string>{nginx_->Url("/c2"), nginx_->Url("/c1"),
                                                 nginx_->Url("/page")}));
  EXPECT_TRUE(HasLine(f_.reHead, "Umleitung nach: \"" + nginx_->Url("/c2") + "\":", clBlue));
  EXPECT_EQ(CountPrefix(f_.reHead, "Umleitung nach"), 3);
  EXPECT_TRUE(HasLine(f_.reHead, "Antwort des Servers:", clBlue));
  EXPECT_TRUE(HasLine(f_.reHead, "HTTP/1.1 200 OK", clBlack));
  EXPECT_EQ(CountPrefix(f_.reHead, "Content-Length: 11"), 1);  // the page's own headers
  EXPECT_EQ(lines.back().Text, "Anfrage beendet.");
  EXPECT_EQ(lines.back().Color, clBlue);
  EXPECT_EQ(lines[lines.size() - 2].Text, "");
  // Run convention: status while running and after, history, controls back.
  ASSERT_FALSE(status_.empty());
  EXPECT_EQ(status_.front(), " Headerdaten von \"  " + url + " \" werden abgefragt...");
  EXPECT_EQ(f_.sbMain.SimpleText(), " Bereit.");
  EXPECT_EQ(f_.cmbHeadURL.Items().at(0), url);
  EXPECT_TRUE(f_.btnHeadStart.Enabled());
  EXPECT_EQ(f_.btnHeadStart.Caption(), "&Start");
  EXPECT_TRUE(f_.cmbHeadURL.Enabled());
  EXPECT_TRUE(f_.ToolIdle);
  // The other HTTP tools keep the client's own redirect handling.
  EXPECT_TRUE(f_.IdHTTP.HandleRedirects);
}

TEST_F(HeadTool, EndlessRedirectsEndWithARedLine) {
  if (!StartNginx()) GTEST_SKIP() << skip_;
  // A loop to itself: the Location repeats the URL just asked.
  Run(nginx_->Url("/loop"));
  EXPECT_TRUE(HasLine(f_.reHead, "Umleitung nach: \"" + nginx_->Url("/loop") + "\":", clBlue));
  EXPECT_TRUE(HasLine(f_.reHead,
                      "Diese Adresse wurde bereits abgefragt, die Umleitung wird nicht weiter verfolgt.",
                      clRed));
  EXPECT_EQ(CountPrefix(f_.reHead, "Übersicht:"), 1);
  EXPECT_EQ(Texts(f_.reHead).back(), "Anfrage beendet.");

  // New URLs without end: bounded by the number of rounds.
  Run(nginx_->Url("/grow"));
  EXPECT_EQ(CountPrefix(f_.reHead, "Übersicht:"), 15);
  EXPECT_TRUE(HasLine(f_.reHead, "Nach 15 Abfragen wird die Umleitung nicht weiter verfolgt.", clRed));
  EXPECT_EQ(Texts(f_.reHead).back(), "Anfrage beendet.");

  // Without automatic redirection the tool never repeats.
  f_.chkHeadRedirect.SetCheckedSilently(false);
  Run(nginx_->Url("/loop"));
  EXPECT_EQ(CountPrefix(f_.reHead, "Umleitung nach"), 0);
  EXPECT_TRUE(HasLine(f_.reHead, "  Serverantwort:    HTTP/1.1 301 Moved Permanently", clNavy));
  EXPECT_EQ(Texts(f_.reHead).back(), "Anfrage beendet.");
}

TEST_F(HeadTool, ErrorStatusShowsHeadersUnreachableServerStops) {
  if (!StartNginx()) GTEST_SKIP() << skip_;
  Run(nginx_->Url("/missing"));
  EXPECT_TRUE(HasLine(f_.reHead, "  Serverantwort:    HTTP/1.1 404 Not Found", clNavy));
  EXPECT_TRUE(HasLine(f_.reHead, "HTTP/1.1 404 Not Found", clBlack));
  EXPECT_EQ(Texts(f_.reHead).back(), "Anfrage beendet.");

  const std::string hostPort = "127.0.0.1:" + std::to_string(httptest::FreePort());
  Run(hostPort + "/x");
  const auto texts = Texts(f_.reHead);
  EXPECT_EQ(texts.at(1), "  Anfrage mit:      " + hostPort + "/x");
  EXPECT_EQ(texts.at(2), "  Hostname:         " + hostPort);
  EXPECT_EQ(texts.at(3), "  Geändert auf:     http://" + hostPort + "/x");
  EXPECT_TRUE(HasLine(f_.reHead, "Server nicht erreichbar! (Verbindung abgelehnt)", clRed));
  EXPECT_EQ(texts.back(), "Server nicht erreichbar! (Verbindung abgelehnt)");  // no "Anfrage beendet."
  EXPECT_EQ(f_.sbMain.SimpleText(), " Bereit.");
}

// A URL with an IPv6 literal: the request goes to nginx on [::1] with the
// literal in brackets in its Host header; the console front end shows the
// same headers.
TEST_F(HeadTool, Ipv6LiteralUrlReachesNginxOnIpv6Loopback) {
  if (!StartNginx()) GTEST_SKIP() << skip_;
  if (!nginx_->http6) GTEST_SKIP() << "no IPv6 loopback address here";
  const std::string authority = "[::1]:" + std::to_string(nginx_->http);
  Run(nginx_->Url6("/host"));
  EXPECT_TRUE(HasLine(f_.reHead, "  Hostname:         " + authority, clNavy));
  EXPECT_TRUE(HasLine(f_.reHead, "  Serverantwort:    HTTP/1.1 200 OK", clNavy));
  const auto texts = Texts(f_.reHead);
  EXPECT_NE(std::find_if(texts.begin(), texts.end(),
                         [&](const std::string& t) {
                           return t.find("\r\nX-Host: " + authority + "\r\n") != std::string::npos ||
                                  t.find("X-Host: " + authority) != std::string::npos;
                         }),
            texts.end());
  EXPECT_EQ(texts.back(), "Anfrage beendet.");

  httptest::TempDir run;
  std::filesystem::copy_file(std::string(QUOVIX_BIN_DIR) + "/quovix-cli", run.File("quovix-cli"));
  run.Write("Quovix.ini", "[Settings]\r\nActiveDnsServerIP=127.0.0.1\r\n");
  const std::string cmd = "cd " + run.Path() + " && NO_COLOR=1 ./quovix-cli \"/Head:" +
                          nginx_->Url6("/") + "\" >out.txt 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  const std::string out = httptest::ReadFile(run.File("out.txt"));
  EXPECT_NE(out.find("  Serverantwort:    HTTP/1.1 200 OK\n"), std::string::npos) << out;
  EXPECT_NE(out.find("\nServer: nginx"), std::string::npos) << out;
  EXPECT_NE(out.find("\nAnfrage beendet.\n"), std::string::npos) << out;
}

// A server that was reached and then failed is never "not reachable": each
// failure gets one line that says what happened, with its reason for JSON.
TEST_F(HeadTool, EachFailureHasOneLineThatNamesIt) {
  ScriptedServer silent([](ScriptConn& c, const std::string&, int) { c.Hold(3000); });
  ScriptedServer closing([](ScriptConn&, const std::string&, int) {});
  // Accepts and never answers the TLS client hello.
  ScriptedServer mute([](ScriptConn& c, const std::string&, int) { c.Hold(3000); });
  const std::string tlsUrl = "https://127.0.0.1:" + std::to_string(mute.Port()) + "/";
  const std::string refusedUrl = "127.0.0.1:" + std::to_string(httptest::FreePort());
  struct Case {
    std::string url, line;
    TColor color;
    std::string reason, cause;
    bool runEnds;  // "Anfrage beendet." follows
  } cases[] = {
      {silent.Url("/"),
       "Keine Antwort des Servers: Zeitüberschreitung: die Verbindung steht, aber die Antwort bleibt aus.",
       clMaroon, "timeout", "timeout", true},
      {tlsUrl, "Keine Antwort des Servers: Zeitüberschreitung beim TLS-Handshake.", clMaroon, "timeout",
       "tls_timeout", true},
      {closing.Url("/"), "Keine Antwort des Servers: der Server hat die Verbindung ohne Antwort geschlossen.",
       clRed, "no_answer", "closed", true},
      {refusedUrl, "Server nicht erreichbar! (Verbindung abgelehnt)", clRed, "not_reachable", "refused", false},
      {"ftp://127.0.0.1/", "Diese URL kann nicht abgefragt werden: Unsupported protocol: ftp", clRed,
       "bad_url", "", true},
  };
  f_.cmbHeadTimeout.SetItemIndex(f_.cmbHeadTimeout.IndexOf("250"));
  for (const auto& c : cases) {
    Run(c.url);
    const auto& lines = f_.reHead.Lines();
    const auto it = std::find_if(lines.begin(), lines.end(),
                                 [&](const TOutputLine& l) { return l.Text == c.line; });
    ASSERT_NE(it, lines.end()) << c.url << "\n" << ::testing::PrintToString(Texts(f_.reHead));
    EXPECT_EQ(it->Color, c.color) << c.url;
    EXPECT_EQ(FindField(it->Fields, "reason")->AsText(), c.reason) << c.url;
    const TLineValue* cause = FindField(it->Fields, "cause");
    EXPECT_EQ(cause ? cause->AsText() : "", c.cause) << c.url;
    // The one failure line is the only red or maroon line of the run.
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const TOutputLine& l) {
                              return !l.Text.empty() && (l.Color == clRed || l.Color == clMaroon);
                            }),
              1)
        << c.url;
    EXPECT_EQ(Texts(f_.reHead).back() == "Anfrage beendet.", c.runEnds) << c.url;
  }
}

// No route and no connection in time: the server was never reached, and
// the line says which. In a network namespace of the test's own, where one
// range has an unreachable route and another leads to a neighbour that is
// not there (a veth pair whose other end takes nothing).
TEST(HeadToolNetns, UnreachedServersSayWhy) {
  if (const std::string why = quovix::icmptest::NetnsSkipReason(); !why.empty()) GTEST_SKIP() << why;
  quovix::icmptest::NetnsSet nets;
  const std::string ns = nets.Add("head");
  ASSERT_FALSE(ns.empty());
  ASSERT_TRUE(quovix::icmptest::Sh("ip -n " + ns + " route add unreachable 192.0.2.0/24"));
  const std::string ip = "ip -n " + ns + " ";
  ASSERT_TRUE(quovix::icmptest::Sh(ip + "link add v0 type veth peer name v1 && " + ip +
                                   "addr add 198.51.100.1/24 dev v0 && " + ip + "link set v0 up && " +
                                   ip + "link set v1 up && " + ip +
                                   "neigh add 198.51.100.7 lladdr 02:00:00:00:00:07 dev v0"));
  const std::string out = quovix::icmptest::RunInNetns(ns, false, [] {
    TfrmMain f;
    f.cmbHeadTimeout.SetItemIndex(f.cmbHeadTimeout.IndexOf("500"));
    std::string lines;
    for (const char* url : {"http://192.0.2.7/", "http://198.51.100.7/"}) {
      f.cmbHeadURL.SetText(url);
      f.btnHeadStart.Click();
      for (const auto& l : f.reHead.Lines())
        if (l.Color == clRed && !l.Text.empty()) lines += l.Text + "\n";
      lines += f.reHead.Lines().back().Text + "\n";
    }
    return lines;
  });
  EXPECT_EQ(out,
            "Server nicht erreichbar! (keine Route zum Ziel)\n"
            "Server nicht erreichbar! (keine Route zum Ziel)\n"
            "Server nicht erreichbar! (Zeitüberschreitung beim Verbindungsaufbau)\n"
            "Anfrage beendet.\n");
}

TEST_F(HeadTool, TlsFailureNamesTheReason) {
  if (!StartNginx()) GTEST_SKIP() << skip_;
  if (!certs_->ok) GTEST_SKIP() << "openssl could not make the test certificates";
  Run("https://127.0.0.1:" + std::to_string(nginx_->httpsSelf) + "/");
  EXPECT_TRUE(HasLine(f_.reHead,
                      "Sichere Verbindung fehlgeschlagen: TLS certificate verification failed: "
                      "self-signed certificate",
                      clRed));
  EXPECT_EQ(CountPrefix(f_.reHead, "Header-Informationen:"), 0);
  EXPECT_EQ(CountPrefix(f_.reHead, "Server nicht erreichbar"), 0);  // it was reached
  EXPECT_EQ(Texts(f_.reHead).back(), "Anfrage beendet.");
  f_.IdHTTP.TlsExtraCaFile = certs_->ca;
  Run("https://127.0.0.1:" + std::to_string(nginx_->httpsGood) + "/");
  EXPECT_TRUE(HasLine(f_.reHead, "  Serverantwort:    HTTP/1.1 200 OK", clNavy));
}

TEST_F(HeadTool, ProxyOptionsAreApplied) {
  ScriptedServer proxy([](ScriptConn& c, const std::string&, int) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  });
  HttpProxyUseProxy = true;
  HttpProxyServerName = "127.0.0.1";
  HttpProxyServerPort = proxy.Port();
  HttpProxyUsername = "u";
  HttpProxyPassword = "p";
  Run("http://www.example.test/a");
  HttpProxyUseProxy = false;
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(RequestLine(proxy.Requests()[0]), "HEAD http://www.example.test/a HTTP/1.1");
  EXPECT_NE(proxy.Requests()[0].find("Proxy-Authorization: Basic dTpw\r\n"), std::string::npos);
  EXPECT_EQ(Texts(f_.reHead).back(), "Anfrage beendet.");
  // Switched off: the next run clears the client's proxy.
  Run("127.0.0.1:" + std::to_string(httptest::FreePort()));
  EXPECT_TRUE(f_.IdHTTP.ProxyParams.ProxyServer.empty());
  HttpProxyServerName.clear();
  HttpProxyServerPort = 0;
  HttpProxyUsername.clear();
  HttpProxyPassword.clear();
}

TEST_F(HeadTool, EmptyUrlAsksLocalhost) {
  Run("");
  const auto texts = Texts(f_.reHead);
  ASSERT_GE(texts.size(), 4u);
  EXPECT_EQ(texts[1], "  Anfrage mit:      ");
  EXPECT_EQ(texts[2], "  Hostname:         localhost");
  EXPECT_EQ(texts[3], "  Geändert auf:     http://localhost");
}

TEST_F(HeadTool, IdnHostIsEncodedAndShown) {
  if (EncodeIdn("müller.example") == "müller.example") GTEST_SKIP() << "IDN encoding not available yet";
  // The encoded name must not reach the machine's name server.
  auto names = std::make_shared<test::TableResolver>();
  names->Forward["xn--mller-kva.example"] = "127.0.0.1";
  platform::ScopedResolver resolver(names);
  EXPECT_EQ(IdnHostPart("user@müller.example:8080"), "user@xn--mller-kva.example:8080");
  Run("müller.example:" + std::to_string(httptest::FreePort()) + "/p");
  const auto texts = Texts(f_.reHead);
  EXPECT_TRUE(texts.at(3).starts_with("  IDN-kodiert:      xn--mller-kva.example:")) << texts[3];
  EXPECT_TRUE(texts.at(4).starts_with("  Geändert auf:     http://xn--mller-kva.example:")) << texts[4];
}

TEST_F(HeadTool, OneRequestPerRoundAndExactlyOneWithoutRedirection) {
  // A cross-host chain: A (127.0.0.1) sends a HEAD on to B (127.0.0.2) with
  // 302, B sends it back to A: a cycle, and each HEAD stays a HEAD.
  int portB = 0;
  ScriptedServer a([&](ScriptConn& c, const std::string&, int) {
    c.Send("HTTP/1.1 302 Found\r\nLocation: http://127.0.0.2:" + std::to_string(portB) +
           "/b\r\nContent-Length: 0\r\n\r\n");
  });
  ScriptedServer b(
      [&](ScriptConn& c, const std::string&, int) {
        c.Send("HTTP/1.1 302 Found\r\nServer: host-b\r\nLocation: http://127.0.0.1:" +
               std::to_string(a.Port()) + "/a\r\nContent-Length: 0\r\n\r\n");
      },
      "127.0.0.2");
  portB = b.Port();
  const std::string urlA = a.Url("/a");
  const std::string urlB = "http://127.0.0.2:" + std::to_string(portB) + "/b";

  f_.chkHeadRedirect.SetCheckedSilently(false);
  Run(urlA);
  ASSERT_EQ(a.Requests().size(), 1u);
  EXPECT_EQ(RequestLine(a.Requests()[0]), "HEAD /a HTTP/1.1");
  EXPECT_TRUE(b.Requests().empty());
  EXPECT_TRUE(HasLine(f_.reHead, "  Serverantwort:    HTTP/1.1 302 Found", clNavy));
  EXPECT_TRUE(HasLine(f_.reHead, "Location: " + urlB, clBlack));
  EXPECT_EQ(CountPrefix(f_.reHead, "Umleitung nach"), 0);
  EXPECT_EQ(Texts(f_.reHead).back(), "Anfrage beendet.");

  f_.chkHeadRedirect.SetCheckedSilently(true);
  Run(urlA);
  ASSERT_EQ(a.Requests().size(), 2u);
  ASSERT_EQ(b.Requests().size(), 1u);
  EXPECT_EQ(RequestLine(b.Requests()[0]), "HEAD /b HTTP/1.1");
  // B's headers under B's URL, and the cycle back to A ends the walk.
  const auto texts = Texts(f_.reHead);
  const auto underB = std::find(texts.begin(), texts.end(), "  Anfrage mit:      " + urlB);
  ASSERT_NE(underB, texts.end());
  EXPECT_NE(std::find(underB, texts.end(), "  Server (System):  host-b"), texts.end());
  EXPECT_EQ(std::find(texts.begin(), underB, "  Server (System):  host-b"), underB);
  EXPECT_TRUE(HasLine(f_.reHead,
                      "Diese Adresse wurde bereits abgefragt, die Umleitung wird nicht weiter verfolgt.",
                      clRed));
}

TEST_F(HeadTool, BrokenAnswersAreNamedForWhatTheyAre) {
  ScriptedServer s([](ScriptConn& c, const std::string& request, int) {
    if (request.find(" /many ") != std::string::npos) {
      std::string head = "HTTP/1.1 200 OK\r\n";
      for (int i = 0; i < 300; ++i) head += "X-Line-" + std::to_string(i) + ": v\r\n";
      c.Send(head + "\r\n");
    } else if (request.find(" /cut ") != std::string::npos) {
      c.Send("HTTP/1.1 200 OK\r\nServer: half\r\nX-Par");  // closed inside the block
    } else {
      c.Send("SSH-2.0-OpenSSH_9.2\r\n\r\n");
    }
  });
  const std::string incomplete = "Die Antwort ist unvollständig, der Header-Block bricht ab: ";
  Run(s.Url("/many"));
  EXPECT_TRUE(HasLine(f_.reHead, "  Serverantwort:    HTTP/1.1 200 OK", clNavy));
  EXPECT_TRUE(HasLine(f_.reHead, incomplete + "Invalid HTTP response: more than 255 header lines", clRed));
  Run(s.Url("/cut"));
  EXPECT_TRUE(HasLine(f_.reHead, "  Server (System):  half", clNavy));
  EXPECT_TRUE(HasLine(f_.reHead, incomplete + "Connection Closed Gracefully.", clRed));
  Run(s.Url("/garbage"));
  EXPECT_TRUE(HasLine(f_.reHead,
                      "Fehlerhafte Antwort des Servers: Invalid HTTP response: malformed status line",
                      clRed));
  EXPECT_FALSE(HasLine(f_.reHead, "Server nicht erreichbar!", clRed));
  EXPECT_EQ(Texts(f_.reHead).back(), "Anfrage beendet.");
  // A complete answer carries no such line.
  ScriptedServer good([](ScriptConn& c, const std::string&, int) {
    c.Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  });
  Run(good.Url("/"));
  EXPECT_EQ(CountPrefix(f_.reHead, incomplete), 0);
}

TEST_F(HeadTool, AbortClickEndsTheWaitingRequest) {
  quovix::test::DribblePeer slowloris(
      {.prefix = "HTTP/1.1 200 OK\r\n", .drip = "X-Slow: yes\r\n"});
  ASSERT_TRUE(slowloris.ok());
  f_.cmbHeadTimeout.SetItemIndex(f_.cmbHeadTimeout.IndexOf("10000"));
  SetMessagePump([this] { f_.Pump(); });
  SetAbortCheck([this] { return f_.StopRequested(); });
  const auto start = std::chrono::steady_clock::now();
  std::string captionWhileRunning;
  f_.ProcessMessages = [&] {
    if (f_.btnHeadStart.RunState == 1 &&
        std::chrono::steady_clock::now() - start > std::chrono::milliseconds(300)) {
      captionWhileRunning = f_.btnHeadStart.Caption();
      f_.btnHeadStart.Click();  // "Abbrechen"
    }
  };
  Run(slowloris.Url("/"));
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - start).count();
  SetAbortCheck(nullptr);
  SetMessagePump(nullptr);
  EXPECT_EQ(captionWhileRunning, "Abbrechen");
  EXPECT_LT(ms, 300 + 250 + 1000);
  EXPECT_EQ(Texts(f_.reHead).back(), "Abbruch durch Benutzer.");
  EXPECT_EQ(f_.btnHeadStart.Caption(), "&Start");
  EXPECT_EQ(f_.btnHeadStart.RunState, 0);
  EXPECT_TRUE(f_.ToolIdle);
}

TEST(HeadUrlLeave, PrefixesOnlyWithoutScheme) {
  TfrmMain f;
  f.cmbHeadURL.SetText("");
  f.cmbHeadURL.OnExit();
  EXPECT_EQ(f.cmbHeadURL.Text(), "http://");
  f.cmbHeadURL.SetText("  host:81/p ");
  f.cmbHeadURL.OnExit();
  EXPECT_EQ(f.cmbHeadURL.Text(), "http://host:81/p");
  f.cmbHeadURL.SetText(" ftp://x ");
  f.cmbHeadURL.OnExit();
  EXPECT_EQ(f.cmbHeadURL.Text(), " ftp://x ");
  f.cmbHeadURL.SetText("keep");
  f.cmbGPRankURL.SetText("www.example.test");
  f.cmbGPRankURL.OnExit();
  EXPECT_EQ(f.cmbGPRankURL.Text(), "http://www.example.test");
  EXPECT_EQ(f.cmbHeadURL.Text(), "keep");
}

TEST(ToolUrl, SchemeHostPath) {
  ToolUrl u = SplitToolUrl("https://user@h.test:8443/a/b?c://d");
  EXPECT_EQ(u.Scheme, "https://");
  EXPECT_EQ(u.Host, "user@h.test:8443");
  EXPECT_EQ(u.Path, "/a/b?c://d");
  u = SplitToolUrl("h.test");
  EXPECT_EQ(u.Scheme, "http://");
  EXPECT_EQ(u.Host, "h.test");
  EXPECT_EQ(u.Path, "");
}

// ---- PageRank --------------------------------------------------------------------------

TEST(GPRankChecksum, KnownValues) {
  EXPECT_EQ(UrlChecksum("abc"), 8738946u);
  EXPECT_EQ(ChecksumCheckDigit(8738946u), '2');  // odd digit count: halved
  EXPECT_EQ(UrlChecksum("http://www.example.test/"), 2144264304u);
  EXPECT_EQ(ChecksumCheckDigit(2144264304u), '8');  // even digit count: 10 - s
  EXPECT_EQ(ChecksumCheckDigit(0), '0');
  EXPECT_EQ(ChecksumCheckDigit(1), '9');  // odd count, odd t: (t + 9) / 2
  EXPECT_EQ(ChecksumCheckDigit(12), '6');
  EXPECT_EQ(ChecksumCheckDigit(4294967295u), '1');
  EXPECT_EQ(GPRankQueryUrl("srv", "http://www.example.test/"),
            "http://srv/tbr?client=navclient-auto&ch=782144264304&features=Rank&q=info:"
            "http://www.example.test/");
}

TEST(GPRankAnswer, RankAfterTheLastColon) {
  EXPECT_EQ(ParseRankAnswer("Rank_1:1:5"), 5);
  EXPECT_EQ(ParseRankAnswer("\r\n Rank_1:2:10\n"), 10);
  EXPECT_EQ(ParseRankAnswer("Rank_1:1:7\r\nRank_1:1:3"), 7);
  // The scale ends at 10: a longer number is malformed, not cut.
  EXPECT_EQ(ParseRankAnswer("Rank_1:1:123"), -1);
  EXPECT_EQ(ParseRankAnswer("Rank_1:1:999"), -1);
  EXPECT_EQ(ParseRankAnswer("Rank_1:1:11"), -1);
  EXPECT_EQ(ParseRankAnswer("Rank_1:1:0"), 0);
  EXPECT_EQ(ParseRankAnswer("<html>no rank</html>"), -1);
  EXPECT_EQ(ParseRankAnswer("Rank_1:1:"), -1);
  EXPECT_EQ(ParseRankAnswer("Rank_1:1:x5"), -1);
  EXPECT_EQ(ParseRankAnswer("Rank_15"), -1);
  EXPECT_EQ(ParseRankAnswer(""), -1);
}

TEST(GPRankServers, HostNameThenThirtyFourAddresses) {
  const auto list = GPRankBuiltinServers();
  ASSERT_EQ(list.size(), 35u);
  EXPECT_NE(list[0].find_first_of("abcdefghijklmnopqrstuvwxyz"), std::string::npos);
  for (size_t i = 1; i < list.size(); ++i) EXPECT_NE(IpToNumber(list[i]), 0u) << list[i];
  EXPECT_EQ(TfrmMain().GPRankServers, list);
}

namespace {

// The ranking service in small: answers a rank for the page URLs it knows,
// but only when their checksum is right. The checksums were worked out
// independently of the program.
ScriptedServer RankService() {
  return ScriptedServer([](ScriptConn& c, const std::string& req, int) {
    static const std::map<std::string, std::string> known = {
        {"ch=782144264304&features=Rank&q=info:http://www.example.test/", "Rank_1:1:5"},
        {"ch=761619291919&features=Rank&q=info:http://www.example.test", "Rank_1:1:10"},
    };
    const std::string line = RequestLine(req);
    const std::string prefix = "GET /tbr?client=navclient-auto&";
    for (const auto& [query, answer] : known) {
      if (line == prefix + query + " HTTP/1.1") {
        c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(answer.size() + 1) + "\r\n\r\n" +
               answer + "\n");
        return;
      }
    }
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nunknown\r\n");
  });
}

class GPRankTool : public ::testing::Test {
 protected:
  void SetUp() override {
    f_.cmbGPRankTimeout.SetItemIndex(f_.cmbGPRankTimeout.IndexOf("2000"));
    f_.GPRankServers = {"127.0.0.1:" + std::to_string(service_.Port())};
  }
  void Run(const std::string& url) {
    f_.cmbGPRankURL.SetText(url);
    f_.btnGPRankStart.Click();
  }
  ScriptedServer service_ = RankService();
  RecordingDesktop desktop_;
  platform::ScopedSeam<platform::IDesktop> seam_{&desktop_};
  TfrmMain f_;
};

}  // namespace

TEST_F(GPRankTool, SingleModeShowsRankAndBar) {
  Run("www.example.test/");
  EXPECT_TRUE(desktop_.boxes.empty());
  EXPECT_EQ(f_.lblGPRankRank.Caption(), "5");
  EXPECT_EQ(f_.shpGPRankFront.Width, 50);
  const auto reqs = service_.Requests();
  ASSERT_EQ(reqs.size(), 1u);
  EXPECT_NE(reqs[0].find("\r\nHost: 127.0.0.1:" + std::to_string(service_.Port()) + "\r\n"),
            std::string::npos);
  Run("http://www.example.test");
  EXPECT_EQ(f_.lblGPRankRank.Caption(), "10");
  EXPECT_EQ(f_.shpGPRankFront.Width, 100);
  // Run convention: history, captions and enabled states.
  EXPECT_EQ(f_.cmbGPRankURL.Items().at(0), "http://www.example.test");
  EXPECT_EQ(f_.btnGPRankStart.Caption(), "&Start");
  EXPECT_EQ(f_.btnGPRankStart.RunState, 0);
  EXPECT_TRUE(f_.cmbGPRankURL.Enabled());
  EXPECT_TRUE(f_.cmbGPRankTimeout.Enabled());
  EXPECT_FALSE(f_.cmbGPRankCount.Enabled());
  EXPECT_FALSE(f_.lblGPRankCount.Enabled());
  EXPECT_EQ(f_.sbMain.SimpleText(), " Bereit.");
}

TEST_F(GPRankTool, SingleModeFailuresGoToMessageBoxes) {
  Run("www.example.test/");
  ASSERT_EQ(f_.lblGPRankRank.Caption(), "5");
  Run("http://unknown.example.test/");
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].first, "Google PageRank");
  EXPECT_EQ(desktop_.boxes[0].second, "Der Google PageRank konnte nicht ermittelt werden!");
  f_.GPRankServers = {"127.0.0.1:" + std::to_string(httptest::FreePort())};
  Run("www.example.test/");
  ASSERT_EQ(desktop_.boxes.size(), 2u);
  EXPECT_EQ(desktop_.boxes[1].second, "Der Google PageRank-Server ist nicht erreichbar! (Verbindung abgelehnt)");
  // The last rank shown stays.
  EXPECT_EQ(f_.lblGPRankRank.Caption(), "5");
  EXPECT_EQ(f_.shpGPRankFront.Width, 50);
  // An empty URL asks nobody and says nothing.
  Run("   ");
  EXPECT_EQ(desktop_.boxes.size(), 2u);
  EXPECT_EQ(service_.Requests().size(), 2u);
}

TEST_F(GPRankTool, HostWithoutIdnFormIsNotAsked) {
  Run("http://\xe2\x98\x83.test/");  // U+2603 has no IDNA form
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].second,
            "Der Name \"\xe2\x98\x83.test\" lässt sich nicht IDN-kodieren, die Abfrage wird nicht "
            "ausgeführt.");
  EXPECT_EQ(FindField(f_.ToolResults[pgGPRank], "error")->AsText(), "idn_not_encodable");
  EXPECT_TRUE(service_.Requests().empty());
  Run("http://b\xc3\xbc" "cher.example.test/");  // the A-label is what is asked for
  ASSERT_EQ(service_.Requests().size(), 1u);
  EXPECT_NE(service_.Requests()[0].find("q=info:http://xn--bcher-kva.example.test/"), std::string::npos);
}

TEST_F(GPRankTool, MultiModeListsEveryServerInOrder) {
  const std::string good = f_.GPRankServers[0];
  const std::string closed = "127.0.0.1:" + std::to_string(httptest::FreePort());
  f_.GPRankServers = {good, closed, good, good, good};
  f_.cmbGPRankCount.SetItemIndex(2);  // "3"
  f_.cmbGPRankCountChange();
  EXPECT_TRUE(f_.lvGPRankMulti.Visible());
  Run("www.example.test/");
  EXPECT_EQ(f_.lvGPRankMulti.Rows(),
            (std::vector<std::vector<std::string>>{{good, "5"}, {closed, "---"}, {good, "5"}}));
  EXPECT_EQ(service_.Requests().size(), 2u);
  EXPECT_TRUE(desktop_.boxes.empty());
  f_.cmbGPRankCount.SetItemIndex(0);
  f_.cmbGPRankCountChange();
  EXPECT_FALSE(f_.lvGPRankMulti.Visible());
}

TEST_F(GPRankTool, MultiModeAbortsAfterTheCurrentRow) {
  f_.GPRankServers.assign(8, f_.GPRankServers[0]);
  f_.cmbGPRankCount.SetItemIndex(4);  // "8"
  f_.ProcessMessages = [this] {
    if (f_.lvGPRankMulti.Rows().size() == 2 && f_.btnGPRankStart.RunState == 1)
      f_.btnGPRankStart.Click();  // the second click: abort
  };
  Run("www.example.test/");
  EXPECT_EQ(f_.lvGPRankMulti.Rows().size(), 2u);
  EXPECT_EQ(f_.btnGPRankStart.RunState, 0);
  EXPECT_EQ(f_.btnGPRankStart.Caption(), "&Start");
  EXPECT_TRUE(f_.ToolIdle);
}
