// Own computer tab and the DNS-cache flush: the run against the external-
// address service (the real scripts/extip-service on loopback, behind nginx
// as a forwarding proxy, and a scripted server for the odd answers), with
// the resolver, DNS configuration and interface table replaced by fakes.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <map>
#include <mutex>

#include "HttpTestPeers.h"
#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/ConsoleCommand.h"
#include "platform/Desktop.h"
#include "platform/DnsCache.h"
#include "platform/DnsConfig.h"
#include "platform/NetInterfaces.h"
#include "platform/Resolver.h"
#include "shell/gIni.h"
#include "tools/fOwn.h"

using namespace quovix;
using httptest::ChildProcess;
using httptest::FindProgram;
using httptest::ScriptConn;
using httptest::ScriptedServer;
using httptest::TempDir;

namespace {

// Names for a few addresses; every reverse look-up is counted.
class FakeResolver : public platform::IResolver {
 public:
  std::map<std::string, std::string> names = {{"192.0.2.200", "workstation.quovix.test"},
                                              {"127.0.0.1", "loopback.quovix.test"},
                                              {"198.51.100.7", "gateway.quovix.test"},
                                              {"127.0.0.3", "proxy.quovix.test"},
                                              {"192.0.2.53", "ns.quovix.test"}};
  std::string HostToIp(const std::string&) override { return {}; }
  std::string IpToHost(std::uint32_t address) override {
    std::lock_guard<std::mutex> lock(m_);
    ++reverseCalls;
    auto it = names.find(NumberToIp(address));
    return it == names.end() ? std::string() : it->second;
  }
  std::string own = "192.0.2.200";
  std::string OwnAddress() override { return own; }
  std::string SystemHostName() override { return "workstation"; }
  int ReverseCalls() {
    std::lock_guard<std::mutex> lock(m_);
    return reverseCalls;
  }

 private:
  std::mutex m_;
  int reverseCalls = 0;
};

class FakeDnsConfig : public platform::IDnsConfig {
 public:
  std::vector<std::string> servers = {"192.0.2.53", "192.0.2.54"};
  std::vector<std::string> NameServers() override { return servers; }
};

// Two Ethernet adapters (listed out of index order), a loopback and a WLAN
// device that reports the Ethernet link type.
class FakeInterfaces : public platform::INetInterfaces {
 public:
  std::vector<platform::NetInterfaceRow> Rows() override {
    auto hw = [](const char* bytes) { return std::string(bytes, 6); };
    return {{3, "enp5s0", platform::kLinkEthernet, false, hw("\x00\x1b\x21\xaa\xbb\x02"), "I210"},
            {1, "lo", platform::kLinkLoopback, false, std::string(6, '\0'), ""},
            {4, "wlp3s0", platform::kLinkEthernet, true, hw("\x00\x1b\x21\xaa\xbb\x09"), ""},
            {2, "eth0", platform::kLinkEthernet, false, hw("\x52\x54\x00\x12\x34\x56"), ""}};
  }
};

struct Box {
  std::string title, text;
};
class FakeDesktop : public platform::IDesktop {
 public:
  std::vector<Box> boxes;
  void MessageBox(const std::string& title, const std::string& text) override {
    boxes.push_back({title, text});
  }
  bool OpenUrl(const std::string&) override { return false; }
};

class FakeDnsCache : public platform::IDnsCache {
 public:
  std::string command;
  std::string FlushCommand() override { return command; }
};

class FakeConsole : public platform::IConsoleCommand {
 public:
  std::vector<std::string> commands;
  std::string output;
  std::string Run(const std::string& command, int) override {
    commands.push_back(command);
    return output;
  }
};

// "colour|text" per line; an empty line (its colour unseen) as "".
std::vector<std::string> Shown(const TRichEdit& pane) {
  std::vector<std::string> out;
  for (const auto& l : pane.Lines()) {
    if (l.Text.empty()) {
      out.emplace_back();
      continue;
    }
    const char* c = l.Color == clBlue ? "blue" : l.Color == clNavy ? "navy" : l.Color == clRed ? "red" : l.Color == clMaroon ? "maroon" : "other";
    out.push_back(std::string(c) + "|" + l.Text);
  }
  return out;
}

// The window with every system service of the tab replaced.
class OwnTool : public ::testing::Test {
 protected:
  std::shared_ptr<FakeResolver> resolver = std::make_shared<FakeResolver>();
  platform::ScopedResolver resolverSeam{resolver};
  FakeDnsConfig dns;
  platform::ScopedSeam<platform::IDnsConfig> dnsSeam{&dns};
  FakeInterfaces interfaces;
  platform::ScopedSeam<platform::INetInterfaces> ifSeam{&interfaces};
  std::string savedUrl = ExtIpUrl;
  TfrmMain f;

  OwnTool() { f.chkOwnResolve.SetChecked(true); }
  ~OwnTool() override { ExtIpUrl = savedUrl; }

  std::vector<std::string> Run(const std::string& url) {
    ExtIpUrl = url;
    f.btnOwnStart.Click();
    return Shown(f.reOwn);
  }
  // The lines between "Externe Daten:" and the DNS server line.
  std::vector<std::string> ExternalBlock(const std::string& url) {
    const auto all = Run(url);
    std::vector<std::string> block;
    bool in = false;
    for (const auto& l : all) {
      if (l == "blue|Externe Daten:") in = true;
      else if (l.rfind("navy|Lokaler DNS-Server:", 0) == 0) break;
      else if (in) block.push_back(l);
    }
    return block;
  }
};

// The same with IPv6: addresses on two interfaces and IPv6 name servers.
class DualStackDns : public platform::IDnsConfig {
 public:
  std::vector<std::string> all = {"2001:db8::53", "192.0.2.53", "fe80::1%eth0"};
  std::vector<std::string> NameServers() override {
    std::vector<std::string> v4;
    for (const auto& s : all)
      if (IpAddress::Parse(s).IsV4()) v4.push_back(s);
    return v4;
  }
  std::vector<std::string> AllNameServers() override { return all; }
};

class DualStackInterfaces : public FakeInterfaces {
 public:
  std::vector<platform::NetAddressRow> Addresses6() override {
    auto a = [](unsigned i, const char* n, const char* addr) {
      return platform::NetAddressRow{i, n, IpAddress::Parse(addr)};
    };
    return {a(3, "enp5s0", "fe80::21b:21ff:feaa:bb02%enp5s0"), a(1, "lo", "::1"),
            a(3, "enp5s0", "2001:DB8:1::2"), a(2, "eth0", "fd00::2"),
            a(2, "eth0", "ff02::1%eth0")};
  }
};

// The lines every run ends with, after the external block.
const std::vector<std::string> kTail = {
    "",
    "navy|Lokaler DNS-Server: 192.0.2.53 (ns.quovix.test)",
    "",
    "blue|Ethernet-Adressen:",
    "navy|  52:54:00:12:34:56 (eth0)",
    "navy|  00:1b:21:aa:bb:02 (enp5s0 (I210))",
    "",
    "blue|Anfragen beendet.",
};

// scripts/extip-service started on a loopback port, stopped with the object.
class ExtIpService {
 public:
  std::string skipReason;
  int port = 0;

  explicit ExtIpService(const TempDir& dir, const std::string& bind = "127.0.0.1") {
    const std::string python = FindProgram("python3");
    if (python.empty()) {
      skipReason = "python3 is not installed (Debian package python3)";
      return;
    }
    // No reverse look-ups by the service: they could reach the system's
    // name server; the tool's own look-ups go to the fake resolver.
    const std::string log = dir.File("extip-" + bind + ".log");
    if (!child_.Start({python, std::string(QUOVIX_SOURCE_DIR) + "/scripts/extip-service", "--bind",
                       bind, "--port", "0", "--no-lookup"},
                      log)) {
      skipReason = "extip-service could not be started";
      return;
    }
    // "listening ADDR:PORT" tells the port it was given.
    for (int i = 0; i < 250 && port == 0; ++i) {
      const std::string out = httptest::ReadFile(log);
      const size_t p = out.find("listening ");
      const size_t nl = p == std::string::npos ? p : out.find('\n', p);
      if (nl != std::string::npos) {
        const std::string line = out.substr(p, nl - p);
        port = StrToIntDef(line.substr(line.rfind(':') + 1), 0);
        if (port == 0) break;
      } else if (!child_.Running()) {
        break;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    if (port == 0) skipReason = "extip-service did not start: " + httptest::ReadFile(log);
  }
  std::string Url() const { return "http://127.0.0.1:" + std::to_string(port) + "/"; }
  void Stop() { child_.Stop(); }

 private:
  ChildProcess child_;
};

}  // namespace

TEST_F(OwnTool, WithoutServiceAddressTheLocalLinesLeadStraightToTheDnsServer) {
  const auto lines = Run("");
  std::vector<std::string> expected = {"blue|Lokaler Rechner:",
                                       "navy|  IP-Adresse: 192.0.2.200",
                                       "navy|  Hostname:   workstation.quovix.test"};
  expected.insert(expected.end(), kTail.begin(), kTail.end());
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(f.sbMain.SimpleText(), " Bereit.");
  EXPECT_TRUE(f.btnOwnStart.Enabled());
  EXPECT_TRUE(f.ToolIdle);
  EXPECT_EQ(f.ActiveControl, &f.btnOwnStart);
}

TEST_F(OwnTool, UntickedResolveShowsNoNamesAndLooksNothingUp) {
  f.chkOwnResolve.SetChecked(false);
  ScriptedServer service([](ScriptConn& c, const std::string&, int) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: 35\r\nConnection: close\r\n\r\n"
           "198.51.100.7\n127.0.0.3\nignored.test\n");
  });
  const auto lines = Run(service.Url());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "blue|Lokaler Rechner:", "navy|  IP-Adresse: 192.0.2.200", "",
                       "blue|Externe Daten:", "navy|  IP-Adresse: 198.51.100.7",
                       "navy|  Proxy-IP:   127.0.0.3", "",
                       "navy|Lokaler DNS-Server: 192.0.2.53", "", "blue|Ethernet-Adressen:",
                       "navy|  52:54:00:12:34:56 (eth0)", "navy|  00:1b:21:aa:bb:02 (enp5s0 (I210))",
                       "", "blue|Anfragen beendet."}));
  EXPECT_EQ(resolver->ReverseCalls(), 0);
}

TEST_F(OwnTool, MissingNamesAndDnsServerShowQuestionMarksOrBareValues) {
  resolver->names.clear();
  dns.servers.clear();
  auto lines = Run("");
  // Without a reverse entry this computer still has its own name.
  EXPECT_EQ(lines.at(2), "navy|  Hostname:   workstation");
  EXPECT_EQ(lines.at(4), "navy|Lokaler DNS-Server: ");
  // No address at all: the address line stays, empty, and the name is "???".
  resolver->own.clear();
  dns.servers = {"192.0.2.99"};  // a server without a name stands bare
  lines = Run("");
  EXPECT_EQ(lines.at(1), "navy|  IP-Adresse: ");
  EXPECT_EQ(lines.at(2), "navy|  Hostname:   ???");
  EXPECT_EQ(lines.at(4), "navy|Lokaler DNS-Server: 192.0.2.99");
}

TEST_F(OwnTool, RealServiceWithoutProxyGivesAddressAndLocallyResolvedName) {
  TempDir dir;
  ExtIpService service(dir);
  if (!service.skipReason.empty()) GTEST_SKIP() << service.skipReason;
  // The service answers "127.0.0.1", an empty proxy line and no name: the
  // name comes from the local resolver, and there are no proxy lines.
  const auto lines = Run(service.Url());
  std::vector<std::string> expected = {"blue|Lokaler Rechner:",
                                       "navy|  IP-Adresse: 192.0.2.200",
                                       "navy|  Hostname:   workstation.quovix.test",
                                       "",
                                       "blue|Externe Daten:",
                                       "navy|  IP-Adresse: 127.0.0.1",
                                       "navy|  Hostname:   loopback.quovix.test"};
  expected.insert(expected.end(), kTail.begin(), kTail.end());
  EXPECT_EQ(lines, expected);
  EXPECT_FALSE(f.IdHTTP.Connected());
  EXPECT_EQ(f.IdHTTP.ConnectTimeout, 5000);
  EXPECT_EQ(f.IdHTTP.ReadTimeout, 5000);

  // The service gone: the red line, and the run goes on.
  service.Stop();
  EXPECT_EQ(ExternalBlock(service.Url()),
            (std::vector<std::string>{"",
                                      "red|Die externe IP-Adresse konnte nicht ermittelt werden: "
                                      "Server nicht erreichbar! (Verbindung abgelehnt)",
                                      ""}));
  EXPECT_EQ(Shown(f.reOwn).back(), "blue|Anfragen beendet.");
}

TEST_F(OwnTool, RealServiceBehindAForwardingProxyShowsTheProxyLines) {
  TempDir dir;
  ExtIpService service(dir);
  if (!service.skipReason.empty()) GTEST_SKIP() << service.skipReason;
  const std::string nginx = FindProgram("nginx");
  if (nginx.empty()) GTEST_SKIP() << "nginx is not installed (Debian package nginx)";
  // nginx on 127.0.0.1 forwards to the service from 127.0.0.3 and names the
  // original client in X-Forwarded-For.
  const int port = httptest::FreePort();
  const std::string d = dir.Path();
  dir.Write("nginx.conf",
            "worker_processes 1;\ndaemon off;\npid " + d + "/nginx.pid;\nerror_log " + d +
                "/error.log;\n" + (geteuid() == 0 ? "user root;\n" : "") +
                "events { worker_connections 16; }\nhttp {\n  access_log off;\n"
                "  client_body_temp_path " + d + "/t_body;\n  proxy_temp_path " + d + "/t_proxy;\n"
                "  fastcgi_temp_path " + d + "/t_fcgi;\n  uwsgi_temp_path " + d + "/t_uwsgi;\n"
                "  scgi_temp_path " + d + "/t_scgi;\n"
                "  server {\n    listen 127.0.0.1:" + std::to_string(port) + ";\n"
                "    location / {\n      proxy_bind 127.0.0.3;\n"
                "      proxy_set_header X-Forwarded-For $proxy_add_x_forwarded_for;\n"
                "      proxy_pass http://127.0.0.1:" + std::to_string(service.port) + ";\n"
                "    }\n  }\n}\n");
  ChildProcess proxy;
  if (!proxy.Start({nginx, "-p", d, "-e", d + "/error.log", "-c", d + "/nginx.conf"},
                   d + "/nginx.out") ||
      !httptest::WaitForPort(proxy, port))
    GTEST_SKIP() << "nginx did not start: " << httptest::ReadFile(d + "/error.log");

  EXPECT_EQ(ExternalBlock("http://127.0.0.1:" + std::to_string(port) + "/"),
            (std::vector<std::string>{"navy|  IP-Adresse: 127.0.0.1",
                                      "navy|  Hostname:   loopback.quovix.test",
                                      "navy|  Proxy-IP:   127.0.0.3",
                                      "navy|  Proxy-Name: proxy.quovix.test", ""}));
}

TEST_F(OwnTool, ServiceNameEqualToItsAddressIsLookedUpLocally) {
  std::string body = "198.51.100.7\r\n\r\n198.51.100.7\r\nfurther line\r\n";
  ScriptedServer service([&](ScriptConn& c, const std::string&, int) {
    c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body);
  });
  const auto expected = std::vector<std::string>{"navy|  IP-Adresse: 198.51.100.7",
                                                 "navy|  Hostname:   gateway.quovix.test", ""};
  EXPECT_EQ(ExternalBlock(service.Url()), expected);
  // A name the service found stands as given; an unknown proxy has no name.
  body = "198.51.100.7\n203.0.113.9\nname.from.service\n";
  EXPECT_EQ(ExternalBlock(service.Url()),
            (std::vector<std::string>{"navy|  IP-Adresse: 198.51.100.7",
                                      "navy|  Hostname:   name.from.service",
                                      "navy|  Proxy-IP:   203.0.113.9", "navy|  Proxy-Name: ???",
                                      ""}));
  // Nothing anywhere: "???".
  resolver->names.clear();
  body = "198.51.100.7\n";
  EXPECT_EQ(ExternalBlock(service.Url()).at(1), "navy|  Hostname:   ???");
}

TEST_F(OwnTool, FailingServiceAnswersGiveOnlyTheRedLine) {
  // An error status, an empty body, a page that is no address, a service
  // that never answers within its 5 s, a refused connection.
  const std::vector<std::string> replies = {
      "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 10\r\n\r\n127.0.0.1\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n \n\n",
      "HTTP/1.1 200 OK\r\nContent-Length: 24\r\n\r\n<html>127.0.0.1</html>\n\n",
      ""};
  ScriptedServer service([&](ScriptConn& c, const std::string&, int index) {
    if (index < static_cast<int>(replies.size()) && !replies[index].empty()) c.Send(replies[index]);
    else c.Hold(8000);
  });
  // An answer without an address keeps the plain line; a failed request
  // says how it failed, as the other tools say it.
  const std::string line = "Die externe IP-Adresse konnte nicht ermittelt werden";
  const std::vector<std::string> expected = {
      "red|" + line + ": Antwort \"HTTP/1.1 500 Internal Server Error\"",
      "red|" + line + ".",
      "red|" + line + ".",
      "maroon|" + line + ": Zeitüberschreitung: die Verbindung steht, aber die Antwort bleibt aus"};
  for (size_t i = 0; i < replies.size(); ++i)
    EXPECT_EQ(ExternalBlock(service.Url()), (std::vector<std::string>{"", expected[i], ""}))
        << "reply " << i;
  EXPECT_EQ(ExternalBlock("http://127.0.0.1:" + std::to_string(httptest::FreePort()) + "/"),
            (std::vector<std::string>{"", "red|" + line + ": Server nicht erreichbar! (Verbindung abgelehnt)", ""}));
  EXPECT_EQ(ExternalBlock("no scheme://at all"),
            (std::vector<std::string>{"", "red|" + line + ": ungültige URL: Unsupported protocol: no scheme", ""}));
  EXPECT_FALSE(f.IdHTTP.Connected());
}

TEST(ExternalAddressBody, LinesAreTrimmedCutAndTheFirstMustBeAnAddress) {
  ExternalAddress a;
  ASSERT_TRUE(ParseExternalAddressBody("\n 192.0.2.1 \r\n\t\r\nhost.test\r\nmore\n", a));
  EXPECT_EQ(a.Address, "192.0.2.1");
  EXPECT_EQ(a.Proxy, "");
  EXPECT_EQ(a.HostName, "host.test");
  ASSERT_TRUE(ParseExternalAddressBody("2001:db8::1\n192.0.2.9", a));
  EXPECT_EQ(a.Address, "2001:db8::1");
  EXPECT_EQ(a.Proxy, "192.0.2.9");
  EXPECT_EQ(a.HostName, "");
  ASSERT_TRUE(ParseExternalAddressBody("192.0.2.1\n\n" + std::string(5000, 'x'), a));
  EXPECT_EQ(a.HostName.size(), 256u);
  for (const char* bad : {"", "   \n\n", "OK", "192.0.2", "300.1.1.1\nx\ny", "<html>"})
    EXPECT_FALSE(ParseExternalAddressBody(bad, a)) << bad;
  EXPECT_TRUE(a.Address.empty());
}

// ---- DNS-cache flush ----------------------------------------------------------------

class DnsFlush : public ::testing::Test {
 protected:
  FakeDesktop desktop;
  platform::ScopedSeam<platform::IDesktop> desktopSeam{&desktop};
  FakeDnsCache cache;
  platform::ScopedSeam<platform::IDnsCache> cacheSeam{&cache};
  TfrmMain f;
};

TEST_F(DnsFlush, EachCacheKindRunsItsCommandAndNamesIt) {
  FakeConsole console;
  platform::ScopedSeam<platform::IConsoleCommand> consoleSeam{&console};
  cache.command = "resolvectl flush-caches";
  console.output = "\n";  // it prints nothing when it succeeds
  f.mnuToolsDnsFlush.Click();
  cache.command = "/usr/sbin/nscd --invalidate=hosts";
  console.output = "  nscd: Only root is allowed to use this option!\n\n";
  f.mnuToolsDnsFlush.Click();
  cache.command.clear();
  f.mnuToolsDnsFlush.Click();

  ASSERT_EQ(console.commands.size(), 2u);  // nothing run without a cache
  EXPECT_NE(console.commands[0].find("resolvectl flush-caches"), std::string::npos);
  EXPECT_NE(console.commands[1].find("/usr/sbin/nscd --invalidate=hosts"), std::string::npos);
  ASSERT_EQ(desktop.boxes.size(), 3u);
  for (const auto& b : desktop.boxes) EXPECT_EQ(b.title, "DNS-Cache leeren");
  EXPECT_EQ(desktop.boxes[0].text, "Rückgabe von \"resolvectl flush-caches\":\r\n\r\n");
  EXPECT_EQ(desktop.boxes[1].text,
            "Rückgabe von \"/usr/sbin/nscd --invalidate=hosts\":\r\n\r\n"
            "nscd: Only root is allowed to use this option!");
  EXPECT_EQ(desktop.boxes[2].text,
            "Auf diesem System läuft kein DNS-Cache (weder systemd-resolved noch nscd); es gibt "
            "nichts zu leeren.");
}

TEST_F(DnsFlush, WhatTheCommandWritesToItsErrorStreamIsShownToo) {
  // A harmless stand-in for the flush program, run by the real console runner.
  TempDir dir;
  dir.Write("flush", "#!/bin/sh\necho \"flushed $1\"\necho 'Failed: access denied' >&2\n");
  chmod(dir.File("flush").c_str(), 0755);
  cache.command = dir.File("flush") + " hosts";
  f.mnuToolsDnsFlush.Click();
  ASSERT_EQ(desktop.boxes.size(), 1u);
  EXPECT_EQ(desktop.boxes[0].text, "Rückgabe von \"" + cache.command +
                                       "\":\r\n\r\nflushed hosts\nFailed: access denied");
}

// A Unix socket that accepts while the object lives.
class UnixListener {
 public:
  explicit UnixListener(const std::string& path) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(fd_, 4);
  }
  ~UnixListener() { close(fd_); }
  void StopListening() {
    close(fd_);
    fd_ = -1;  // the socket file stays behind, as after a crash
  }

 private:
  int fd_;
};

TEST(DnsCacheDetection, FindsResolvedNscdBothOrNone) {
  TempDir dir;
  const std::string d = dir.Path();
  dir.Write("bin/resolvectl", "#!/bin/sh\n");
  dir.Write("sbin/nscd", "#!/bin/sh\n");
  chmod((d + "/bin/resolvectl").c_str(), 0755);
  chmod((d + "/sbin/nscd").c_str(), 0755);
  std::filesystem::create_directories(d + "/run/resolve");
  std::filesystem::create_directories(d + "/run/nscd");
  platform::LinuxDnsCache::Paths paths;
  paths.ResolvedDir = d + "/run/resolve";
  paths.ResolvedSocket = d + "/run/resolve/io.systemd.Resolve";
  paths.NscdSocket = d + "/run/nscd/socket";
  paths.SearchPath = d + "/bin";   // the user's PATH
  paths.SystemDirs = d + "/sbin";  // where nscd lives
  auto command = [&] { return platform::LinuxDnsCache(paths).FlushCommand(); };

  // resolved without its varlink socket (older versions): its folder counts.
  EXPECT_EQ(command(), "resolvectl flush-caches");
  {
    UnixListener resolved(paths.ResolvedSocket);
    EXPECT_EQ(command(), "resolvectl flush-caches");
    UnixListener nscd(paths.NscdSocket);
    // Both run: both caches are emptied; nscd by its full path, since the
    // search path does not have it.
    EXPECT_EQ(command(), "resolvectl flush-caches; " + d + "/sbin/nscd --invalidate=hosts");
    resolved.StopListening();
    EXPECT_EQ(command(), d + "/sbin/nscd --invalidate=hosts");
    nscd.StopListening();
    EXPECT_EQ(command(), "");  // sockets left behind by stopped services
  }
  std::filesystem::remove(paths.ResolvedSocket);
  std::filesystem::remove_all(paths.ResolvedDir);
  EXPECT_EQ(command(), "");
  // A running service whose program is missing cannot be flushed.
  std::filesystem::remove(paths.NscdSocket);
  UnixListener nscd(paths.NscdSocket);
  paths.SystemDirs = d + "/nowhere";
  EXPECT_EQ(command(), "");
}

TEST_F(OwnTool, IPv6AddressesWithTheirInterfacesAndIPv6NameServers) {
  DualStackDns dual;
  platform::ScopedSeam<platform::IDnsConfig> dnsSeam6{&dual};
  DualStackInterfaces withV6;
  platform::ScopedSeam<platform::INetInterfaces> ifSeam6{&withV6};
  resolver->names.clear();
  auto lines = Run("");
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "blue|Lokaler Rechner:", "navy|  IP-Adresse: 192.0.2.200",
                       "navy|  Hostname:   workstation",
                       "navy|  IPv6-Adresse: fd00::2 (eth0)",
                       "navy|  IPv6-Adresse: 2001:db8:1::2 (enp5s0)",
                       "navy|  IPv6-Adresse: fe80::21b:21ff:feaa:bb02 (enp5s0, link-lokal)", "",
                       "navy|Lokaler DNS-Server: 192.0.2.53",
                       "navy|Lokaler IPv6-DNS-Server: 2001:db8::53",
                       "navy|Lokaler IPv6-DNS-Server: fe80::1%eth0", "", "blue|Ethernet-Adressen:",
                       "navy|  52:54:00:12:34:56 (eth0)", "navy|  00:1b:21:aa:bb:02 (enp5s0 (I210))",
                       "", "blue|Anfragen beendet."}));
  // Only IPv6 servers: no empty IPv4 line claims that none is configured.
  dual.all = {"::1"};
  lines = Run("");
  EXPECT_EQ(lines.at(7), "navy|Lokaler IPv6-DNS-Server: ::1");
  EXPECT_EQ(lines.at(6), "");
}
