// Saving a tab's output (text, HTML, JSON Lines) and reading a recorded run
// back into its tabs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/fCommandLine.h"
#include "app/fJsonLines.h"
#include "app/fRecording.h"
#include "app/formMain.h"
#include "common/fMain.h"

using namespace quovix;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// A folder of the test's own, removed afterwards.
struct TempDir {
  fs::path path;
  TempDir() {
    std::string t = (fs::temp_directory_path() / "quovix-rec-XXXXXX").string();
    path = mkdtemp(t.data());
  }
  ~TempDir() { fs::remove_all(path); }
};

// The window's model without a settings file of a real installation.
struct RecordingForm : ::testing::Test {
  std::string savedFolder = ProgramFolder, savedIni = IniFilePath;
  std::unique_ptr<TfrmMain> f;
  TempDir dir;
  void SetUp() override {
    ProgramFolder = "/nonexistent/quovix-test/";
    IniFilePath = ProgramFolder + "Quovix.ini";
    f = std::make_unique<TfrmMain>();
    f->FormCreate();
  }
  void TearDown() override {
    f.reset();
    ProgramFolder = savedFolder;
    IniFilePath = savedIni;
    ParseCommandLine({});
  }
};

const std::vector<TOutputLine> kSample = {
    {"Ping 127.0.0.1", clBlue, {}},
    {"Antwort von 127.0.0.1: Zeit=1 ms", clBlack, {{"seq", 1}, {"rtt_ms", 0.25}}},
    {"<b>&\"x\" \x1b[31m", clRed, {{"reason", "server"}, {"list", TLineValue::List({1, "a"})}}},
    {"Zeitüberschreitung", clMaroon, {{"seq", 2}, {"obj", TLineFields{{"k", true}}}}},
};

// The lines as the console writes them, the measure of a faithful reopen.
std::vector<std::string> AsJson(const std::string& tool, const std::vector<TOutputLine>& lines) {
  std::vector<std::string> out;
  for (const auto& l : lines) out.push_back(JsonLine(tool, l));
  return out;
}

}  // namespace

TEST(SaveFormats, ChosenByExtensionAndEachWriterKeepsTextAndColour) {
  const struct {
    const char* path;
    TSaveFormat format;
  } kinds[] = {{"/a/b.txt", TSaveFormat::Text},      {"/a/b.HTML", TSaveFormat::Html},
               {"b.htm", TSaveFormat::Html},         {"x.jsonl", TSaveFormat::JsonLines},
               {"x.json", TSaveFormat::JsonLines},   {"/a.html/b", TSaveFormat::Text},
               {"noext", TSaveFormat::Text}};
  for (const auto& k : kinds) EXPECT_EQ(SaveFormatOf(k.path), k.format) << k.path;

  const std::string text = OutputAsText(kSample);
  EXPECT_EQ(text.find('\x1b'), std::string::npos) << "a server's escape reached the text file";
  EXPECT_NE(text.find("Zeitüberschreitung\n"), std::string::npos);

  const std::string html = OutputAsHtml("Quovix - <Ping>", kSample);
  EXPECT_EQ(html.find("<b>"), std::string::npos) << "server text became markup";
  EXPECT_NE(html.find("&lt;b&gt;&amp;&quot;x&quot;"), std::string::npos);
  EXPECT_NE(html.find("<title>Quovix - &lt;Ping&gt;</title>"), std::string::npos);
  for (const char* c : {"#0000ff\">Ping", "#000000\">Antwort", "#ff0000\">&lt;", "#800000\">Zeit"})
    EXPECT_NE(html.find(c), std::string::npos) << c;

  std::istringstream jsonl(OutputAsJsonLines("ping", kSample, "failed", {{"sent", 2}}));
  std::vector<std::string> got;
  for (std::string l; std::getline(jsonl, l);) got.push_back(l);
  std::vector<std::string> want = AsJson("ping", kSample);
  want.push_back(JsonResult("ping", "failed", {{"sent", 2}}));
  EXPECT_EQ(got, want);
}

TEST(RecordingReader, OpensWhatItCanAndCountsTheRest) {
  const std::string deep = std::string(40, '[') + std::string(40, ']');
  const struct {
    const char* name;
    std::string input;
    size_t lines, results, bad, firstBad;
  } cases[] = {
      {"line and result", R"({"tool":"ping","kind":"ok","text":"a","seq":1})" "\n"
                          R"({"tool":"ping","kind":"result","status":"ok","sent":1})" "\n",
       1, 1, 0, 0},
      {"blank lines are no bad ones", "\n  \r\n" R"({"tool":"dns","kind":"data","text":"x"})",
       1, 0, 0, 0},
      {"not JSON, foreign tool, unknown kind, no text",
       "garbage\n" R"({"tool":"nmap","kind":"data","text":"x"})" "\n"
       R"({"tool":"dns","kind":"blink","text":"x"})" "\n" R"({"tool":"dns","kind":"data"})" "\n"
       R"(["tool"])" "\n" R"({"tool":"dns","kind":"info","text":"ok"})",
       1, 0, 5, 1},
      {"nested too deep", R"({"tool":"dns","kind":"data","text":"x"})" "\n"
                          R"({"tool":"dns","kind":"data","text":"x","f":)" + deep + "}\n",
       1, 0, 1, 2},
      {"line longer than the cap", R"({"tool":"dns","kind":"data","text":")" +
                                        std::string(kRecordingMaxLineLength, 'a') + "\"}\n" +
                                        R"({"tool":"dns","kind":"data","text":"x"})",
       1, 0, 1, 1},
  };
  for (const auto& c : cases) {
    std::istringstream in(c.input);
    const TRecording r = ReadRecording(in);
    EXPECT_EQ(r.Lines.size(), c.lines) << c.name;
    EXPECT_EQ(r.Results.size(), c.results) << c.name;
    EXPECT_EQ(r.BadLines, c.bad) << c.name;
    EXPECT_EQ(r.FirstBadLine, c.firstBad) << c.name;
    EXPECT_FALSE(r.Capped) << c.name;
  }
}

TEST(RecordingReader, StopsAtTheLineCapAndSaysSo) {
  std::string many;
  for (size_t i = 0; i <= kRecordingMaxLines; ++i) many += R"({"tool":"ping","kind":"data","text":""})" "\n";
  std::istringstream in(many);
  const TRecording r = ReadRecording(in);
  EXPECT_EQ(r.Lines.size(), kRecordingMaxLines);
  EXPECT_TRUE(r.Capped);
  std::istringstream exact(many.substr(many.find('\n') + 1));
  EXPECT_FALSE(ReadRecording(exact).Capped) << "a file of exactly the cap was read whole";
}

TEST_F(RecordingForm, SavedJsonLinesReopenWithColoursFieldsAndVerdict) {
  for (const auto& l : kSample) f->rePing.AddLine(l.Text, l.Color, l.Fields);
  f->SetToolResult(pgPing, {{"sent", 2}, {"received", 1}});
  const fs::path file = dir.path / "ping.jsonl";
  ASSERT_TRUE(f->SaveOutput(pgPing, file.string()));
  const std::string saved = ReadAll(file);
  EXPECT_EQ(fs::directory_iterator(dir.path)->path(), file) << "a temporary file was left";
  EXPECT_EQ((fs::status(file).permissions() & fs::perms::others_write), fs::perms::none);

  // Another window opens it: the Ping tab in front, the same lines, and its
  // own save gives the same file back.
  TfrmMain g;
  g.FormCreate();
  g.pcMain.SetActivePageIndex(pgDns);
  g.rePing.AddLine("old line", clBlack);
  ASSERT_TRUE(g.OpenRecording(file.string()));
  EXPECT_EQ(g.pcMain.ActivePageIndex(), pgPing);
  EXPECT_EQ(AsJson("ping", g.rePing.Lines()), AsJson("ping", kSample));
  EXPECT_NE(g.sbMain.SimpleText().find("ping.jsonl"), std::string::npos) << g.sbMain.SimpleText();
  const fs::path again = dir.path / "again.jsonl";
  ASSERT_TRUE(g.SaveOutput(pgPing, again.string()));
  EXPECT_EQ(ReadAll(again), saved);
}

TEST_F(RecordingForm, BadLinesAreNamedInOneLineAndUnreadableFilesInTheStatusBar) {
  const fs::path file = dir.path / "mixed.jsonl";
  std::ofstream(file) << R"({"tool":"trace","kind":"heading","text":"Route"})" "\n"
                      << "not json\n"
                      << R"({"tool":"list","kind":"data","text":"entry"})" "\n"
                      << R"({"tool":"trace","kind":"data","text":" 1  127.0.0.1","hop":1})" "\n"
                      << "{broken\n";
  ASSERT_TRUE(f->OpenRecording(file.string()));
  ASSERT_EQ(f->reTrace.Lines().size(), 3u);
  EXPECT_TRUE(f->reTrace.Visible());
  const TOutputLine& summary = f->reTrace.Lines().back();
  EXPECT_EQ(summary.Color, clRed);
  EXPECT_NE(summary.Text.find("3 "), std::string::npos) << summary.Text;
  EXPECT_NE(summary.Text.find("Zeile 2"), std::string::npos) << summary.Text;

  for (const fs::path& p : {dir.path / "missing.jsonl", dir.path}) {
    f->SetStatus(" Bereit.");
    EXPECT_FALSE(f->OpenRecording(p.string())) << p;
    EXPECT_NE(f->sbMain.SimpleText().find(p.string()), std::string::npos) << f->sbMain.SimpleText();
  }
  const fs::path foreign = dir.path / "foreign.jsonl";
  std::ofstream(foreign) << "{}\n";
  EXPECT_FALSE(f->OpenRecording(foreign.string()));
  EXPECT_EQ(f->reTrace.Lines().size(), 3u) << "a file with nothing to show replaced the output";

  // A save that cannot be written says so and leaves nothing behind.
  EXPECT_FALSE(f->SaveOutput(pgTrace, (dir.path / "no" / "such.txt").string()));
  EXPECT_NE(f->sbMain.SimpleText().find("no/such.txt"), std::string::npos) << f->sbMain.SimpleText();
}

// The console's JSON Lines of a real run, reopened and saved as HTML, show
// the same lines and colours as the pane of the same run in the window.
TEST_F(RecordingForm, ConsoleRunReopenedMatchesTheLivePane) {
  const std::vector<std::string> args = {"/Dns:localhost", "/DnsI:0", "/DnsV:0", "/DnsD:0"};
  const fs::path rec = dir.path / "dns.jsonl";
  std::string cmd = std::string(QUOVIX_BIN_DIR) + "/quovix-cli --json";
  for (const auto& a : args) cmd += " " + a;
  cmd += " > " + rec.string() + " 2>/dev/null";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;

  // The live run: the same command line in the window's model.
  f->CommandLineArgs = {"Quovix"};
  f->CommandLineArgs.insert(f->CommandLineArgs.end(), args.begin(), args.end());
  f->FormShow();
  const std::vector<TOutputLine> live = f->reDns.Lines();
  ASSERT_FALSE(live.empty());

  TfrmMain g;
  g.FormCreate();
  ASSERT_TRUE(g.OpenRecording(rec.string()));
  EXPECT_EQ(AsJson("dns", g.reDns.Lines()), AsJson("dns", live));
  const fs::path liveHtml = dir.path / "live.html", reopenedHtml = dir.path / "reopened.html";
  ASSERT_TRUE(f->SaveOutput(pgDns, liveHtml.string()));
  ASSERT_TRUE(g.SaveOutput(pgDns, reopenedHtml.string()));
  EXPECT_EQ(ReadAll(reopenedHtml), ReadAll(liveHtml));
}
