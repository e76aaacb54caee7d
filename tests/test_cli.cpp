// The console front end: in-process with stand-in tool handlers, and the
// built quovix-cli binary.
#include <gtest/gtest.h>
#include <fstream>
#include <filesystem>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "HttpTestPeers.h"
#include "app/fCommandLine.h"
#include "app/fConsole.h"
#include "app/fJsonLines.h"
#include "app/formMain.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"
#include "support/DribblePeer.h"

extern char** environ;

using namespace quovix;
using Args = std::vector<std::string>;

namespace {

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string l; std::getline(in, l);) out.push_back(l);
  return out;
}

struct ConsoleRun {
  int status = -1;
  std::string out, err;
};

ConsoleRun RunIn(const Args& args, const ConsoleOptions& options) {
  // No settings file or language folder of a real installation is read.
  std::string savedFolder = ProgramFolder, savedIni = IniFilePath;
  ProgramFolder = "/nonexistent/quovix-test/";
  IniFilePath = ProgramFolder + "Quovix.ini";
  Args argv = args;
  argv.insert(argv.begin(), "quovix-cli");
  std::ostringstream out, err;
  ConsoleRun r;
  r.status = RunConsole(argv, out, err, options);
  r.out = out.str();
  r.err = err.str();
  ProgramFolder = savedFolder;
  IniFilePath = savedIni;
  ParseCommandLine({});
  return r;
}

}  // namespace

TEST(ConsoleFrontEnd, PaneLinesToOutStatusToErr) {
  ConsoleOptions o;
  o.Prepare = [](TfrmMain& f) {
    f.btnDnsStart.OnClick = [&f] {
      ToolRunGuard g(f, {.Start = &f.btnDnsStart, .Inputs = {&f.cmbDnsHost},
                         .MainInput = &f.cmbDnsHost, .Histories = {}, .Pane = &f.reDns,
                         .StatusKey = "Main|sbTestDns", .StatusDefault = "Suche %s1%...",
                         .StatusArg = f.cmbDnsHost.Text(), .Abortable = false});
      f.AppendOutput(f.reDns, "Host: " + f.cmbDnsHost.Text(), clBlack);
      f.AppendOutput(f.reDns, "\r\nAddress: 127.0.0.1", clGreen);
      f.AppendOutput(f.reDns, "evil \x1b[2J text\a", clRed);
    };
    f.btnOwnStart.OnClick = [&f] { f.AppendOutput(f.reOwn, "own line", clBlue); };
  };
  ConsoleRun r = RunIn({"/Dns:localhost", "/Own"}, o);
  // The red line makes the run a failed one.
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_EQ(Lines(r.out), (Args{"Host: localhost", "", "Address: 127.0.0.1", "evil ?[2J text?",
                                "own line"}));
  EXPECT_EQ(Lines(r.err), (Args{"Suche localhost...", "Bereit."}));
}

TEST(ConsoleFrontEnd, ColoursOnlyWhenAsked) {
  EXPECT_EQ(ConsoleLine("plain", clBlack, true), "plain");
  EXPECT_EQ(ConsoleLine("error", clRed, false), "error");
  const std::string red = ConsoleLine("error", clRed, true);
  EXPECT_EQ(red.front(), '\x1b');
  EXPECT_NE(red.find("error"), std::string::npos);
  EXPECT_EQ(red.substr(red.size() - 4), "\x1b[0m");
  EXPECT_NE(ConsoleLine("x", clGreen, true), ConsoleLine("x", clBlue, true));
  // C1 controls in UTF-8 are neutralised too; other text passes.
  EXPECT_EQ(ConsoleLine("a\xC2\x9B" "b äö\tc", clBlack, false), "a?b äö\tc");
  // A stray 0x9B (CSI to an 8-bit terminal) and a right-to-left override.
  EXPECT_EQ(ConsoleLine("a\x9B" "2Jb\xE2\x80\xAE" "c", clBlack, false), "a?2Jb?c");
}

TEST(ConsoleFrontEnd, ResultControlsThatAreNotPanesArePrinted) {
  ConsoleOptions o;
  o.Prepare = [](TfrmMain& f) {
    f.btnTimeQuery.OnClick = [&f] {
      f.lblTimeLocTime.SetCaption("01.02.2026 10:00:00");
      f.lblTimeNet.SetCaption("Zeit von \"ntp.test\":");
      f.lblTimeNetTime.SetCaption("01.02.2026 10:00:01");
      f.lblTimeDiffValue.SetCaption("+1,000000 s");
    };
    f.btnListSearch.OnClick = [&f] {
      f.lstList.AddItem("zeta 80");
      f.lstList.AddItem("Alpha 80");
    };
    f.btnGPRankStart.OnClick = [&f] { f.lblGPRankRank.SetCaption("7"); };
  };
  ConsoleRun r = RunIn({"/Time:ntp.test", "/List:80", "/PRank:http://example.org"}, o);
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_EQ(Lines(r.out), (Args{"Lokale Systemzeit: 01.02.2026 10:00:00",
                                "Zeit von \"ntp.test\": 01.02.2026 10:00:01",
                                "Differenz (Server − lokal): +1,000000 s", "Alpha 80",
                                "zeta 80", "Google PageRank: 7"}));

  // Several servers: one line per row of the list view.
  o.Prepare = [](TfrmMain& f) {
    f.btnGPRankStart.OnClick = [&f] {
      f.lvGPRankMulti.SetVisible(true);
      f.lvGPRankMulti.AddRow({"srv1.example", "5"});
      f.lvGPRankMulti.AddRow({"srv2.example"});
    };
  };
  r = RunIn({"/PRank:http://example.org"}, o);
  auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(Trim(lines[0]).substr(0, 12), "srv1.example");
  EXPECT_EQ(lines[0].back(), '5');
  EXPECT_EQ(Trim(lines[1]), "srv2.example");
}

TEST(ConsoleFrontEnd, CtrlCAbortsTheRunningToolAndNoFurtherToolStarts) {
  int interrupts = 0;
  bool ownRan = false;
  ConsoleOptions o;
  o.Interrupts = [&] { return interrupts; };
  o.Prepare = [&](TfrmMain& f) {
    f.btnPingStart.OnClick = [&f, &interrupts] {
      if (ToolRunGuard::AbortClick(f.btnPingStart)) return;
      ToolRunGuard g(f, {.Start = &f.btnPingStart, .Inputs = {&f.cmbPingHost},
                         .MainInput = &f.cmbPingHost, .Histories = {}, .Pane = &f.rePing,
                         .StatusKey = "Main|sbTestPing", .StatusDefault = "Ping %s1%",
                         .StatusArg = "", .Abortable = true});
      for (int i = 1; i <= 1000; ++i) {
        f.AppendOutput(f.rePing, "echo " + std::to_string(i), clBlack);
        if (i == 2) interrupts = 1;  // Ctrl+C while the second echo is out
        if (g.Aborted()) {
          f.AppendOutput(f.rePing, LangText("Main|OutUserAbort", "Abbruch durch Benutzer."),
                         clRed);
          return;
        }
      }
    };
    f.btnOwnStart.OnClick = [&] { ownRan = true; };
  };
  ConsoleRun r = RunIn({"/Ping:127.0.0.1", "/PingC:-1", "/Own"}, o);
  EXPECT_EQ(r.status, kExitInterrupted);
  EXPECT_EQ(Lines(r.out), (Args{"echo 1", "echo 2", "Abbruch durch Benutzer."}));
  EXPECT_FALSE(ownRan);
}

TEST(ConsoleFrontEnd, UsageAndHelp) {
  ConsoleOptions o;
  ConsoleRun r = RunIn({}, o);
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_TRUE(r.out.empty());
  EXPECT_NE(r.err.find("Usage"), std::string::npos);
  r = RunIn({"/Focus:dns", "stray"}, o);
  EXPECT_EQ(r.status, kExitUsage);
  r = RunIn({"--help"}, o);
  EXPECT_EQ(r.status, kExitOk);
  for (const auto& l : CommandLineHelp()) EXPECT_NE(r.out.find(l), std::string::npos) << l;
  EXPECT_TRUE(r.err.empty());
  r = RunIn({"-h"}, o);
  EXPECT_EQ(r.status, kExitOk);
  // "--help" beside a tool is not the help request but a bare switch, which
  // hides the values after it.
  r = RunIn({"--help", "/Dns:localhost"}, o);
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_TRUE(r.out.empty());
}

// ---- JSON Lines --------------------------------------------------------------------------

namespace {
// The stand-in Ping tool of the JSON cases: two replies with fields, a
// time-out, and its result; Own writes one plain line.
void PrepareJsonTools(TfrmMain& f) {
  f.btnPingStart.OnClick = [&f] {
    f.AppendOutput(f.rePing, "Sende:\r\n", clBlue);
    f.AppendOutput(f.rePing, "\r\n  1. Antwort", clGreen, {{"seq", 1}, {"rtt_ms", 3}});
    f.AppendOutput(f.rePing, "  2. Zeitüberschreitung", clMaroon, {{"seq", 2}});
    f.SetToolResult(pgPing, {{"sent", 2}, {"ok", 1}, {"status", "forged"}});
  };
  f.btnOwnStart.OnClick = [&f] { f.AppendOutput(f.reOwn, "own", clNavy); };
}
}  // namespace

TEST(ConsoleJson, OneObjectPerLineFieldsOnTheirLineAndAResultPerTool) {
  ConsoleOptions o;
  o.Prepare = PrepareJsonTools;
  // "--json" anywhere, even before values it would otherwise hide.
  ConsoleRun r = RunIn({"--json", "/Ping:127.0.0.1", "/PingC:2", "/Own"}, o);
  EXPECT_EQ(r.status, kExitFailed);  // the time-out line
  EXPECT_EQ(Lines(r.out),
            (Args{R"({"tool":"ping","kind":"heading","text":"Sende:"})",
                  R"({"tool":"ping","kind":"heading","text":""})",
                  R"({"tool":"ping","kind":"ok","text":""})",
                  R"({"tool":"ping","kind":"ok","text":"  1. Antwort","seq":1,"rtt_ms":3})",
                  R"({"tool":"ping","kind":"timeout","text":"  2. Zeitüberschreitung","seq":2})",
                  R"({"tool":"ping","kind":"result","status":"failed","sent":2,"ok":1})",
                  R"({"tool":"own","kind":"info","text":"own"})",
                  R"({"tool":"own","kind":"result","status":"ok"})"}));
  // The same lines as text; no result lines there.
  r = RunIn({"/Ping:127.0.0.1", "--format=json", "--format=text", "/Own"}, o);
  EXPECT_EQ(Lines(r.out), (Args{"Sende:", "", "", "  1. Antwort", "  2. Zeitüberschreitung", "own"}));
  // A tool's own verdict fails it without any red line.
  o.Prepare = [](TfrmMain& f) {
    PrepareJsonTools(f);
    f.btnOwnStart.OnClick = [&f] {
      f.AppendOutput(f.reOwn, "  IP-Adresse:  ???", clNavy);
      f.SetToolFailed(pgOwn);
    };
  };
  r = RunIn({"--json", "/Own"}, o);
  EXPECT_EQ(r.status, kExitFailed);
  EXPECT_EQ(Lines(r.out).back(), R"({"tool":"own","kind":"result","status":"failed"})");
  o.Prepare = PrepareJsonTools;
  EXPECT_EQ(RunIn({"--format=yaml", "/Own"}, o).status, kExitUsage);
  EXPECT_EQ(RunIn({"--json"}, o).status, kExitUsage);
  EXPECT_EQ(RunIn({"--json", "--help"}, o).status, kExitOk);
}

TEST(ConsoleJson, ServerTextStaysInsideItsStringAsValidUtf8) {
  TOutputLine l{"a\x1b[2J\"\\\n\x7f" "b\xC2\x9B" "c\xE2\x80\xAE" "d\xFF\xFE" "e ä\xE2\x80\x8B",
                clRed, {{"value", "\x01\xC0"}, {"tool", "forged"}, {"n", TLineFields{{"x", 1.5}}}}};
  EXPECT_EQ(JsonLine("head", l),
            R"({"tool":"head","kind":"error","text":"a\u001b[2J\"\\\n\u007fb\u009bc\u202ed)"
            "\xEF\xBF\xBD\xEF\xBF\xBD" R"(e )" "\xC3\xA4" R"(\u200b","value":"\u0001)"
            "\xEF\xBF\xBD" R"(","n":{"x":1.5}})");
  EXPECT_STREQ(LineKind(clNavy), "info");
  EXPECT_STREQ(LineKind(0x123456), "data");
}

// ---- The binary ----------------------------------------------------------------------------

namespace {

struct Child {
  pid_t pid = -1;
  int out = -1, err = -1;
};

// A copy of quovix-cli in a folder of its own, beside settings that point
// the DNS server at loopback: the runs ask nothing of the machine's name
// server.
std::string PrivateBinary() {
  static const std::string path = [] {
    namespace fs = std::filesystem;
    fs::path dir = fs::temp_directory_path() / ("quovix-cli-test-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::copy_file(fs::path(QUOVIX_BIN_DIR) / "quovix-cli", dir / "quovix-cli",
                  fs::copy_options::overwrite_existing);
    std::ofstream(dir / "Quovix.ini") << "[Settings]\nActiveDnsServerIP=127.0.0.1\n";
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(fs::temp_directory_path() / ("quovix-cli-test-" + std::to_string(getpid())), ec);
    });
    return (dir / "quovix-cli").string();
  }();
  return path;
}

Child Spawn(const Args& args) {
  Child c;
  int o[2], e[2];
  if (pipe(o) != 0 || pipe(e) != 0) return c;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, o[1], 1);
  posix_spawn_file_actions_adddup2(&fa, e[1], 2);
  posix_spawn_file_actions_addclose(&fa, o[0]);
  posix_spawn_file_actions_addclose(&fa, e[0]);
  std::string exe = PrivateBinary();
  std::vector<char*> argv;
  argv.push_back(exe.data());
  Args copy = args;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  if (posix_spawn(&c.pid, exe.c_str(), &fa, nullptr, argv.data(), environ) != 0) c.pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  close(o[1]);
  close(e[1]);
  c.out = o[0];
  c.err = e[0];
  return c;
}

// Reads both pipes until the child ends or the time runs out; returns the
// exit status (-1 on time-out, the child then killed).
int Collect(Child& c, std::string& out, std::string& err, int seconds,
            const std::function<bool(const std::string&)>& onOut = {}) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  bool outOpen = true, errOpen = true;
  while ((outOpen || errOpen) && std::chrono::steady_clock::now() < deadline) {
    pollfd fds[2] = {{c.out, POLLIN, 0}, {c.err, POLLIN, 0}};
    if (poll(fds, 2, 200) <= 0) continue;
    char buf[4096];
    if (outOpen && (fds[0].revents & (POLLIN | POLLHUP))) {
      ssize_t n = read(c.out, buf, sizeof buf);
      if (n <= 0) outOpen = false; else out.append(buf, n);
      if (n > 0 && onOut && onOut(out)) {}
    }
    if (errOpen && (fds[1].revents & (POLLIN | POLLHUP))) {
      ssize_t n = read(c.err, buf, sizeof buf);
      if (n <= 0) errOpen = false; else err.append(buf, n);
    }
  }
  int status = 0;
  if (outOpen || errOpen) {
    kill(c.pid, SIGKILL);
    waitpid(c.pid, &status, 0);
    close(c.out);
    close(c.err);
    return -1;
  }
  waitpid(c.pid, &status, 0);
  close(c.out);
  close(c.err);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunBinary(const Args& args, std::string& out, std::string& err) {
  Child c = Spawn(args);
  if (c.pid < 0) return -2;
  return Collect(c, out, err, 60);
}

}  // namespace

TEST(ConsoleBinary, ExitStatusesOfUsageAndHelp) {
  std::string out, err;
  EXPECT_EQ(RunBinary({}, out, err), kExitUsage);
  EXPECT_TRUE(out.empty());
  EXPECT_NE(err.find("Usage"), std::string::npos);
  out.clear();
  err.clear();
  EXPECT_EQ(RunBinary({"--help"}, out, err), kExitOk);
  for (const auto& l : CommandLineHelp()) EXPECT_NE(out.find(l + "\n"), std::string::npos) << l;
  out.clear();
  err.clear();
  EXPECT_EQ(RunBinary({"/NoSuchTool:x", "Dns:nosign"}, out, err), kExitUsage);
}

// DNS of localhost (no DNS-information query, so nothing leaves the
// machine) and one echo to the loopback address: both run, in this order.
TEST(ConsoleBinary, DnsThenPingOnLoopback) {
  std::string out, err;
  int status = RunBinary({"/Dns:localhost", "/DnsI:0", "/DnsV:0", "/DnsD:0", "/Ping:127.0.0.1",
                          "/PingC:1", "/PingR:0"},
                         out, err);
  EXPECT_EQ(status, kExitOk) << err;
  // Piped output carries no colour escapes.
  EXPECT_EQ(out.find('\x1b'), std::string::npos);
  ASSERT_FALSE(out.empty()) << "the DNS and Ping tools wrote nothing";
  size_t localhost = out.find("localhost"), loopback = out.rfind("127.0.0.1");
  EXPECT_NE(localhost, std::string::npos);
  EXPECT_NE(loopback, std::string::npos);
  EXPECT_LT(localhost, loopback);
}

TEST(ConsoleBinary, CtrlCAbortsAnEndlessPingWith130) {
  Child c = Spawn({"/Ping:127.0.0.1", "/PingC:-1", "/PingP:100"});
  ASSERT_GT(c.pid, 0);
  std::string out, err;
  bool signalled = false;
  // Once two lines are out, the first Ctrl+C.
  int status = Collect(c, out, err, 60, [&](const std::string& o) {
    if (!signalled && Lines(o).size() >= 2) {
      signalled = true;
      kill(c.pid, SIGINT);
    }
    return signalled;
  });
  ASSERT_TRUE(signalled) << "the Ping tool wrote nothing to interrupt";
  EXPECT_EQ(status, kExitInterrupted) << out << err;
}

TEST(ConsoleBinary, SecondCtrlCEndsAtOnce) {
  Child c = Spawn({"/Ping:127.0.0.1", "/PingC:-1", "/PingP:100"});
  ASSERT_GT(c.pid, 0);
  std::string out, err;
  bool signalled = false;
  int status = Collect(c, out, err, 60, [&](const std::string& o) {
    if (!signalled && !o.empty()) {
      signalled = true;
      kill(c.pid, SIGINT);
      kill(c.pid, SIGINT);
    }
    return signalled;
  });
  ASSERT_TRUE(signalled) << "the Ping tool wrote nothing to interrupt";
  EXPECT_EQ(status, kExitInterrupted);
}

// ---- Hostile HTTP servers against the binary -------------------------------------------------

TEST(ConsoleBinary, SlowlorisEndsInTimeAndOneRequestWithoutRedirection) {
  quovix::test::DribblePeer slowloris({.prefix = "HTTP/1.1 200 OK\r\n", .drip = "X-Slow: yes\r\n"});
  ASSERT_TRUE(slowloris.ok());
  std::string out, err;
  auto start = std::chrono::steady_clock::now();
  // The broken-off answer's red line makes it a failed run.
  EXPECT_EQ(RunBinary({"/Head:" + slowloris.Url(), "/HeadT:1000"}, out, err), kExitFailed) << err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_NE(out.find("Die Antwort ist unvollständig"), std::string::npos) << out;

  httptest::ScriptedServer redirecting([](httptest::ScriptConn& c, const std::string&, int i) {
    c.Send("HTTP/1.1 301 Moved\r\nLocation: /next" + std::to_string(i) + "\r\nContent-Length: 0\r\n\r\n");
  });
  out.clear();
  EXPECT_EQ(RunBinary({"/Head:" + redirecting.Url("/"), "/HeadR:0"}, out, err), kExitOk);
  EXPECT_EQ(redirecting.Requests().size(), 1u);
  EXPECT_NE(out.find("\nLocation: /next0\n"), std::string::npos) << out;
}

TEST(ConsoleBinary, OneCtrlCEndsAWaitingExchangeAtOnce) {
  quovix::test::DribblePeer slowloris({.prefix = "HTTP/1.1 200 OK\r\n", .drip = "X-Slow: yes\r\n"});
  ASSERT_TRUE(slowloris.ok());
  Child c = Spawn({"/Head:" + slowloris.Url(), "/HeadT:10000"});
  ASSERT_GT(c.pid, 0);
  std::string out, err;
  std::chrono::steady_clock::time_point signalled{};
  // Once the request is under way (its host line is out, the server has
  // the connection), one Ctrl+C.
  const int status = Collect(c, out, err, 30, [&](const std::string& o) {
    if (signalled == std::chrono::steady_clock::time_point{} &&
        o.find("Hostname:") != std::string::npos) {
      for (int i = 0; i < 100 && slowloris.Connections() == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      signalled = std::chrono::steady_clock::now();
      kill(c.pid, SIGINT);
    }
    return true;
  });
  ASSERT_NE(signalled, std::chrono::steady_clock::time_point{}) << out << err;
  const auto after = std::chrono::steady_clock::now() - signalled;
  EXPECT_EQ(status, kExitInterrupted) << out << err;
  EXPECT_LT(after, std::chrono::milliseconds(1500));
  EXPECT_NE(out.find("Abbruch durch Benutzer."), std::string::npos) << out;
}

TEST(ConsoleBinary, ServerTextNeitherForgesLinesNorSteersTheTerminal) {
  httptest::ScriptedServer s([](httptest::ScriptConn& c, const std::string&, int) {
    c.Send("HTTP/1.1 200 OK\r\n"
           "Server: x%w%  Serverantwort:    FORGED\r\n"
           "X-Steer: a\x9b[2Jb\xc2\x9b" "c\xe2\x80\xae" "d\xe2\x81\xa6" "e\x1b[31mf\r\n"
           "Content-Length: 0\r\n\r\n");
  });
  std::string out, err;
  EXPECT_EQ(RunBinary({"/Head:" + s.Url("/")}, out, err), kExitOk) << err;
  int replies = 0;
  for (const auto& l : Lines(out)) replies += l.rfind("  Serverantwort:", 0) == 0;
  EXPECT_EQ(replies, 1) << out;
  EXPECT_NE(out.find("  Server (System):  x%w%  Serverantwort:    FORGED\n"), std::string::npos) << out;
  EXPECT_NE(out.find("X-Steer: a?[2Jb?c?d?e?[31mf\n"), std::string::npos) << out;
  for (const std::string bad : {"\x9b", "\xe2\x80\xae", "\xe2\x81\xa6", "\x1b"})
    EXPECT_EQ(out.find(bad), std::string::npos);
}
