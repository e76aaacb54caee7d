// Settings store: the INI layer, the password format, and loading and saving
// every setting and history of the main window through a real file.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/DnsConfig.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"
#include "support/TestFiles.h"

using namespace quovix;
namespace fs = std::filesystem;

namespace {

using quovix::test::ReadFile;
using quovix::test::WriteFile;

class FakeDns : public platform::IDnsConfig {
 public:
  std::vector<std::string> Servers;
  std::vector<std::string> All;  // both families; empty: Servers
  std::vector<std::string> NameServers() override { return Servers; }
  std::vector<std::string> AllNameServers() override { return All.empty() ? Servers : All; }
};

// A private folder holding the settings file; the globals are put back to
// their defaults before and after.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quovix-settings-XXXXXX";
    dir_ = mkdtemp(tmpl);
    ini_ = dir_ / "Quovix.ini";
    ProgramFolder = dir_.string() + "/";
    IniFilePath = ini_.string();
    dns_.Servers = {"192.0.2.53", "192.0.2.54"};
    ResetGlobals();
  }
  void TearDown() override {
    ResetGlobals();
    fs::remove_all(dir_);
  }
  static void ResetGlobals() { ResetSettingsValues(); }
  // A settings file holding only these lines of [Settings].
  void WriteSettings(const std::string& lines) { WriteFile(ini_, "[Settings]\n" + lines); }

  fs::path dir_, ini_;
  FakeDns dns_;
  platform::ScopedSeam<platform::IDnsConfig> dnsSeam_{&dns_};
};

using IniLayer = SettingsTest;

}  // namespace

// ---- INI layer ------------------------------------------------------------------

TEST_F(IniLayer, ReadsLikeTheProfileFunctions) {
  WriteFile(ini_,
            "; a comment\n"
            "key=before any section\n"
            "[General]\n"
            "  Name  =  spaced value  \n"
            "Double=\"  kept blanks  \"\n"
            "Single='quoted'\n"
            "Half=\"open only\n"
            "Empty=\n"
            "Num=42\n"
            "Hex=0x10\n"
            "Word=forty\n"
            "Bool1=1\n"
            "BoolTrue=true\n"
            "no equals sign here\n"
            "#Hidden=1\n"
            "Dup=first\n"
            "dup=second\n"
            "[general]\n"
            "Dup=third\n"
            "OnlyLater=found\n");
  const auto f = IniFilePath;
  EXPECT_EQ(IniReadString(f, "GENERAL", "name", "x"), "spaced value");
  EXPECT_EQ(IniReadString(f, "General", "Double", "x"), "  kept blanks  ");
  EXPECT_EQ(IniReadString(f, "General", "Single", "x"), "quoted");
  EXPECT_EQ(IniReadString(f, "General", "Half", "x"), "\"open only");
  EXPECT_EQ(IniReadString(f, "General", "Empty", "x"), "");
  EXPECT_EQ(IniReadString(f, "General", "Missing", "dflt"), "dflt");
  EXPECT_EQ(IniReadString(f, "Nowhere", "Name", "dflt"), "dflt");
  EXPECT_EQ(IniReadString(f, "", "key", "dflt"), "dflt");
  EXPECT_EQ(IniReadString(f, "General", "#Hidden", "dflt"), "dflt");
  EXPECT_EQ(IniReadString(f, "General", "no equals sign here", "dflt"), "dflt");
  // The first of duplicate keys and sections counts; a later duplicate
  // section still supplies keys the first one lacks.
  EXPECT_EQ(IniReadString(f, "General", "DUP", "x"), "first");
  EXPECT_EQ(IniReadString(f, "General", "OnlyLater", "x"), "found");
  EXPECT_EQ(IniReadInt(f, "General", "Num", 7), 42);
  EXPECT_EQ(IniReadInt(f, "General", "Hex", 7), 16);
  EXPECT_EQ(IniReadInt(f, "General", "Word", 7), 7);
  EXPECT_EQ(IniReadInt(f, "General", "Empty", 7), 7);
  EXPECT_EQ(IniReadInt(f, "General", "Missing", 7), 7);
  EXPECT_TRUE(IniReadBool(f, "General", "Bool1", false));
  EXPECT_FALSE(IniReadBool(f, "General", "BoolTrue", true));
  EXPECT_TRUE(IniReadBool(f, "General", "Missing", true));
  EXPECT_EQ(IniReadString(dir_.string() + "/none.ini", "General", "Name", "dflt"), "dflt");
}

TEST_F(IniLayer, DamagedFilesGiveDefinedValues) {
  std::string big(1 << 20, 'v');
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 37) & 0xFF);
  WriteFile(ini_, garbage + "\r[A]\rCr=only\r\r[B]\r\nCrLf=yes\r\nBig=" + big +
                      "\r\nZero=ab" + std::string(1, '\0') + "cd\r\n");
  EXPECT_EQ(IniReadString(IniFilePath, "A", "Cr", ""), "only");
  EXPECT_EQ(IniReadString(IniFilePath, "B", "CrLf", ""), "yes");
  EXPECT_EQ(IniReadString(IniFilePath, "B", "Big", "").size(), kIniMaxValue);
  EXPECT_EQ(IniReadString(IniFilePath, "B", "Zero", ""), "ab");
  // A write keeps the garbage and the other lines byte for byte.
  std::string before = ReadFile(ini_);
  ASSERT_TRUE(IniWriteString(IniFilePath, "A", "Cr", "changed"));
  std::string after = ReadFile(ini_);
  EXPECT_EQ(after, ReplaceAll(before, "Cr=only", "Cr=changed"));
}

TEST_F(IniLayer, WriteChangesOnlyItsLine) {
  const std::string original =
      "; settings of a careful user\r\n"
      "[Settings]\r\n"
      "  language = English \r\n"
      "Foreign=kept\r\n"
      "\r\n"
      "[Other]\r\n"
      "x=1\r\n";
  WriteFile(ini_, original);
  ASSERT_TRUE(IniWriteString(IniFilePath, "SETTINGS", "Language", "Deutsch"));
  ASSERT_TRUE(IniWriteString(IniFilePath, "settings", "NewKey", "new"));
  ASSERT_TRUE(IniWriteInt(IniFilePath, "Fresh", "Count", -3));
  EXPECT_EQ(ReadFile(ini_),
            "; settings of a careful user\r\n"
            "[Settings]\r\n"
            "  language =Deutsch\r\n"
            "Foreign=kept\r\n"
            "NewKey=new\r\n"
            "\r\n"
            "[Other]\r\n"
            "x=1\r\n"
            "\r\n"
            "[Fresh]\r\n"
            "Count=-3\r\n");
  EXPECT_EQ(IniReadInt(IniFilePath, "fresh", "count", 0), -3);
}

TEST_F(IniLayer, MissingFileIsCreatedAndBadNamesRefused) {
  ASSERT_FALSE(fs::exists(ini_));
  ASSERT_TRUE(IniWriteBool(IniFilePath, "S", "On", true));
  EXPECT_EQ(ReadFile(ini_), "[S]\nOn=1\n");
  // Nothing may break the line structure of the file.
  EXPECT_FALSE(IniWriteString(IniFilePath, "S", "K", "two\nlines"));
  EXPECT_FALSE(IniWriteString(IniFilePath, "S", "K", std::string("zero\0byte", 9)));
  EXPECT_FALSE(IniWriteString(IniFilePath, "S", "a=b", "v"));
  EXPECT_FALSE(IniWriteString(IniFilePath, "S]", "K", "v"));
  EXPECT_FALSE(IniWriteString(IniFilePath, "S", "", "v"));
  EXPECT_EQ(ReadFile(ini_), "[S]\nOn=1\n");
  // A file without a final line break gets one before the new line.
  WriteFile(ini_, "[S]\nOn=1");
  ASSERT_TRUE(IniWriteString(IniFilePath, "S", "Off", "0"));
  EXPECT_EQ(ReadFile(ini_), "[S]\nOn=1\nOff=0\n");
}

TEST_F(IniLayer, ListsJoinSplitAndKeepStaleKeys) {
  const std::string sep = "\x01";
  ASSERT_TRUE(IniWriteList(IniFilePath, "L", "Item", "a" + sep + "b" + sep + "c" + sep + "d" + sep + "e", sep));
  EXPECT_EQ(IniReadList(IniFilePath, "L", "Item", sep), "a\x01" "b\x01" "c\x01" "d\x01" "e");
  ASSERT_TRUE(IniWriteList(IniFilePath, "L", "Item", "x" + sep + "y" + sep + "z", sep));
  EXPECT_EQ(IniReadList(IniFilePath, "L", "Item", sep), "x\x01y\x01z");
  EXPECT_EQ(IniReadString(IniFilePath, "L", "Item4", ""), "d");
  EXPECT_EQ(IniReadString(IniFilePath, "L", "Item5", ""), "e");
  ASSERT_TRUE(IniWriteList(IniFilePath, "L", "Item", "", sep));
  EXPECT_EQ(IniReadInt(IniFilePath, "L", "Item", -1), 1);
  EXPECT_EQ(IniReadList(IniFilePath, "L", "Item", sep), "");
  // Hostile counts are bounded.
  for (const char* count : {"-5", "abc", "2147483647"}) {
    WriteFile(ini_, std::string("[L]\nItem=") + count + "\nItem1=one\n");
    std::string joined = IniReadList(IniFilePath, "L", "Item", sep);
    if (std::string(count) == "2147483647")
      EXPECT_EQ(CountOccurrences(joined, sep), kIniMaxListItems - 1);
    else
      EXPECT_EQ(joined, "");
  }
}

TEST_F(IniLayer, FailedSaveLeavesTheOldFile) {
  const std::string original = "[Settings]\nLanguage=English\n";
  WriteFile(ini_, original);
  chmod(ini_.c_str(), 0640);
  // A full disk: writes past 64 KiB fail (EFBIG) while the new file is written.
  TIniDocument doc;
  ASSERT_EQ(doc.Load(IniFilePath), TIniDocument::LoadResult::Ok);
  ASSERT_TRUE(doc.WriteString("Settings", "Huge", std::string(200000, 'h')));
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = 64 * 1024;
  auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  bool saved = doc.Save(IniFilePath);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_FALSE(saved);
  EXPECT_EQ(ReadFile(ini_), original);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 1)
      << "no half-written file is left beside it";

  // The same save with room succeeds and keeps the file's mode.
  ASSERT_TRUE(doc.Save(IniFilePath));
  EXPECT_EQ(IniReadString(IniFilePath, "Settings", "Huge", "").size(), kIniMaxValue);
  struct stat st {};
  stat(ini_.c_str(), &st);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // A folder that does not exist, or a folder where the file should be.
  EXPECT_FALSE(IniWriteString((dir_ / "missing" / "x.ini").string(), "S", "K", "v"));
  fs::create_directory(dir_ / "adir.ini");
  EXPECT_FALSE(IniWriteString((dir_ / "adir.ini").string(), "S", "K", "v"));
  EXPECT_TRUE(fs::is_directory(dir_ / "adir.ini"));
}

TEST_F(IniLayer, SaveThroughALinkReplacesItsTarget) {
  fs::create_directory(dir_ / "real");
  WriteFile(dir_ / "real" / "q.ini", "[S]\nA=1\n");
  fs::create_symlink(dir_ / "real" / "q.ini", ini_);
  ASSERT_TRUE(IniWriteString(IniFilePath, "S", "A", "2"));
  EXPECT_TRUE(fs::is_symlink(ini_));
  EXPECT_EQ(ReadFile(dir_ / "real" / "q.ini"), "[S]\nA=2\n");
}

// ---- Password --------------------------------------------------------------------

TEST(SettingsPassword, FourHexDigitsPerByteAndBack) {
  const std::string ten = "Secret-10!";
  std::string stored = ScramblePassword(ten);
  ASSERT_EQ(stored.size(), 40u);
  EXPECT_EQ(stored.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  // The inner layer is hex text again.
  for (size_t i = 0; i < stored.size(); i += 2) {
    int code = std::stoi(stored.substr(i, 2), nullptr, 16);
    EXPECT_TRUE(std::isxdigit(code) && !std::islower(code)) << stored;
  }
  EXPECT_EQ(stored.find(ten), std::string::npos);
  EXPECT_EQ(UnscramblePassword(stored), ten);
  EXPECT_EQ(UnscramblePassword(LowerAscii(stored)), ten);

  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(UnscramblePassword(ScramblePassword(all)), all);
  EXPECT_EQ(UnscramblePassword(ScramblePassword("Pässwört")), "Pässwört");
  EXPECT_EQ(ScramblePassword(""), "");
  EXPECT_EQ(UnscramblePassword(""), "");
  // Odd length: empty; garbage: decoded with 0 for bad digits, never a crash.
  EXPECT_EQ(UnscramblePassword(stored.substr(1)), "");
  EXPECT_EQ(UnscramblePassword("zz!!").size(), 1u);
  EXPECT_EQ(UnscramblePassword("123").size(), 0u);
}

// ---- Loading and saving the window's settings -----------------------------------

using Settings = SettingsTest;

// Without a stored server the DNS tool asks the system's first one, of
// either family.
TEST_F(Settings, DefaultDnsServerMayBeAnIpv6One) {
  dns_.All = {"2001:db8::53", "192.0.2.53"};
  TfrmMain f;
  f.FormCreate();
  EXPECT_EQ(ActiveDnsServerIP, "2001:db8::53");
}

TEST_F(Settings, DefaultsWithoutAFile) {
  TfrmMain f;
  f.FormCreate();
  EXPECT_EQ(MaxRecentItems, 25);
  EXPECT_EQ(NameResTimeout, 2000);
  EXPECT_EQ(ActiveDnsServerIP, "192.0.2.53");
  EXPECT_EQ(OutputFontName, "");  // the desktop's
  EXPECT_EQ(OutputFontSize, 0);
  EXPECT_EQ(f.pcMain.ActivePageIndex(), 0);
  EXPECT_EQ(f.cmbPingCount.Text(), "3");
  EXPECT_EQ(f.cmbPingTimeout.Text(), "2000");
  EXPECT_EQ(f.cmbPingByte.Text(), "32");
  EXPECT_EQ(f.cmbPingPause.Text(), "250");
  EXPECT_EQ(f.cmbTraceHops.Text(), "30");
  EXPECT_EQ(f.cmbWhoisTimeout.Text(), "5000");
  EXPECT_EQ(f.cmbGPRankCount.Text(), "1");
  EXPECT_TRUE(f.chkDnsExtended.Checked());
  EXPECT_FALSE(f.chkDnsDirectQuery.Checked());
  EXPECT_FALSE(f.chkWhoisDirectQuery.Checked());
  EXPECT_TRUE(f.chkWhoisRdap.Checked());
  EXPECT_TRUE(f.chkOwnResolve.Checked());
  EXPECT_EQ(f.cmbWhoisServer.Items(), DefaultWhoisServers());
  EXPECT_EQ(f.cmbTimeServer.Items(), DefaultTimeServers());
  EXPECT_EQ(DefaultWhoisServers().size(), 6u);
  EXPECT_EQ(DefaultTimeServers().size(), 10u);
  EXPECT_EQ(f.cmbTimeServer.Text(), DefaultTimeServers()[0]);
  EXPECT_EQ(f.cmbDnsHost.Count(), 0);
  EXPECT_FALSE(fs::exists(ini_)) << "loading never writes";
}

TEST_F(Settings, EverySettingAndHistorySurvivesCloseAndStart) {
  const std::vector<std::string> tricky = {
      "two words", "say \"hi\"", "a\x01" "b", "'single'", "\"", "tab\there", "plain.example"};
  std::vector<TComboBox*> combosA;
  {
    TfrmMain a;
    a.FormCreate();
    LanguageName = "English";
    MaxRecentItems = 40;
    NameResTimeout = 750;
    ActiveDnsServerIP = "198.51.100.7";
    ExtIpUrl = "http://127.0.0.1:8080/ip";
    HttpProxyUseProxy = true;
    HttpProxyServerName = "proxy.test";
    HttpProxyServerPort = 3128;
    HttpProxyUsername = " spaced user ";
    HttpProxyPassword = "pa ss\"word";
    OutputFontName = "'DejaVu Sans Mono'";
    OutputFontSize = 11;
    OutputFontCharset = 204;
    a.pcMain.SetActivePageIndex(pgTime);
    int n = 0;
    for (TComboBox* c : a.HistoryCombos()) {
      std::vector<std::string> items = {c->Name + "-newest"};
      if (n++ % 2 == 0) items.insert(items.end(), tricky.begin(), tricky.end());
      c->SetItems(items);
    }
    for (TCheckBox* b : {&a.chkDnsExtended, &a.chkDnsExtendedResolve, &a.chkDnsReverse,
                         &a.chkPingResolve, &a.chkTraceResolve, &a.chkWhoisRedirect,
                         &a.chkWhoisCheck, &a.chkWhoisNetwork, &a.chkWhoisFormat,
                         &a.chkWhoisRdap, &a.chkHeadRedirect, &a.chkOwnResolve})
      b->SetChecked(false);
    a.chkDnsDirectQuery.SetChecked(true);
    a.cmbDnsType.SetText("TYPE65534");
    a.chkWhoisDirectQuery.SetChecked(true);
    a.cmbPingCount.SetItemIndex(12);
    a.cmbPingTimeout.SetItemIndex(9);
    a.cmbPingByte.SetItemIndex(7);
    a.cmbPingPause.SetItemIndex(0);
    a.cmbTraceHops.SetItemIndex(7);
    a.cmbTraceTimeout.SetItemIndex(1);
    a.cmbTraceMethod.SetItemIndex(2);
    a.cmbTracePort.SetText("8443");
    a.cmbWhoisTimeout.SetItemIndex(11);
    a.cmbHeadTimeout.SetItemIndex(3);
    a.cmbGPRankCount.SetItemIndex(7);
    a.cmbGPRankTimeout.SetItemIndex(2);
    a.FormClose();
  }
  const std::string saved = ReadFile(ini_);
  EXPECT_NE(saved.find("HttpProxyPassword=" + ScramblePassword("pa ss\"word") + "\n"), std::string::npos);
  EXPECT_EQ(saved.find("pa ss"), std::string::npos) << "the password is never stored in plain";

  ResetGlobals();
  dns_.Servers = {"192.0.2.99"};  // the stored server wins over the system's
  TfrmMain b;
  b.FormCreate();
  EXPECT_EQ(LanguageName, "English");
  EXPECT_EQ(MaxRecentItems, 40);
  EXPECT_EQ(NameResTimeout, 750);
  EXPECT_EQ(ActiveDnsServerIP, "198.51.100.7");
  EXPECT_EQ(ExtIpUrl, "http://127.0.0.1:8080/ip");
  EXPECT_TRUE(HttpProxyUseProxy);
  EXPECT_EQ(HttpProxyServerName, "proxy.test");
  EXPECT_EQ(HttpProxyServerPort, 3128);
  EXPECT_EQ(HttpProxyUsername, " spaced user ");
  EXPECT_EQ(HttpProxyPassword, "pa ss\"word");
  EXPECT_EQ(OutputFontName, "'DejaVu Sans Mono'");
  EXPECT_EQ(OutputFontSize, 11);
  EXPECT_EQ(OutputFontCharset, 204);
  EXPECT_EQ(b.pcMain.ActivePageIndex(), pgTime);
  int n = 0;
  for (TComboBox* c : b.HistoryCombos()) {
    std::vector<std::string> items = {c->Name + "-newest"};
    if (n++ % 2 == 0) items.insert(items.end(), tricky.begin(), tricky.end());
    EXPECT_EQ(c->Items(), items) << c->Name;
  }
  for (TCheckBox* c : {&b.chkDnsExtended, &b.chkDnsExtendedResolve, &b.chkDnsReverse,
                       &b.chkPingResolve, &b.chkTraceResolve, &b.chkWhoisRedirect,
                       &b.chkWhoisCheck, &b.chkWhoisNetwork, &b.chkWhoisFormat,
                       &b.chkWhoisRdap, &b.chkHeadRedirect, &b.chkOwnResolve})
    EXPECT_FALSE(c->Checked()) << c->Name;
  EXPECT_TRUE(b.chkDnsDirectQuery.Checked());
  EXPECT_EQ(b.cmbDnsType.Text(), "TYPE65534");
  EXPECT_TRUE(b.chkWhoisDirectQuery.Checked());
  EXPECT_EQ(b.cmbPingCount.Text(), "...");
  EXPECT_EQ(b.cmbPingTimeout.ItemIndex(), 9);
  EXPECT_EQ(b.cmbPingByte.ItemIndex(), 7);
  EXPECT_EQ(b.cmbPingPause.ItemIndex(), 0);
  EXPECT_EQ(b.cmbTraceHops.ItemIndex(), 7);
  EXPECT_EQ(b.cmbTraceTimeout.ItemIndex(), 1);
  EXPECT_EQ(b.cmbTraceMethod.Text(), "TCP");
  EXPECT_EQ(b.cmbTracePort.Text(), "8443");
  EXPECT_EQ(b.cmbWhoisTimeout.ItemIndex(), 11);
  EXPECT_EQ(b.cmbHeadTimeout.ItemIndex(), 3);
  EXPECT_EQ(b.cmbGPRankCount.ItemIndex(), 7);
  EXPECT_EQ(b.cmbGPRankTimeout.ItemIndex(), 2);

  // Saving unchanged settings again gives the same file.
  b.FormClose();
  EXPECT_EQ(ReadFile(ini_), saved);
}

TEST_F(Settings, SaveKeepsForeignLinesAndShrunkLists) {
  WriteFile(ini_,
            "# my notes\n[Settings]\nIEIntActive=1\nUnknownKey=stays\n\n"
            "[DnsServerList]\nItem=1\nItem1=192.0.2.1\n\n"
            "[HistDnsHost]\nItem=5\nItem1=a\nItem2=b\nItem3=c\nItem4=d\nItem5=e\n");
  TfrmMain f;
  f.FormCreate();
  EXPECT_EQ(f.cmbDnsHost.Items(), (std::vector<std::string>{"a", "b", "c", "d", "e"}));
  f.cmbDnsHost.SetItems({"x", "y", "z"});
  ASSERT_TRUE(SaveSettings(f));
  const std::string text = ReadFile(ini_);
  EXPECT_EQ(text.rfind("# my notes\n[Settings]\nIEIntActive=1\nUnknownKey=stays\n", 0), 0u);
  EXPECT_NE(text.find("[DnsServerList]\nItem=1\nItem1=192.0.2.1\n"), std::string::npos);
  EXPECT_NE(text.find("[HistDnsHost]\nItem=3\nItem1=x\nItem2=y\nItem3=z\nItem4=d\nItem5=e\n"),
            std::string::npos);
  TfrmMain g;
  g.FormCreate();
  EXPECT_EQ(g.cmbDnsHost.Items(), (std::vector<std::string>{"x", "y", "z"}));
}

TEST_F(Settings, StoredValuesAreRangeChecked) {
  struct Case {
    std::string stored;
    std::function<int(TfrmMain&)> get;
    int expected;
  };
  const std::vector<Case> cases = {
      {"MaxRecentItems=3", [](TfrmMain&) { return MaxRecentItems; }, 25},
      {"MaxRecentItems=100", [](TfrmMain&) { return MaxRecentItems; }, 100},
      {"MaxRecentItems=many", [](TfrmMain&) { return MaxRecentItems; }, 25},
      {"NameResTimeout=50", [](TfrmMain&) { return NameResTimeout; }, 2000},
      {"NameResTimeout=10000", [](TfrmMain&) { return NameResTimeout; }, 10000},
      {"HttpProxyServerPort=65535", [](TfrmMain&) { return HttpProxyServerPort; }, 65535},
      {"HttpProxyServerPort=65536", [](TfrmMain&) { return HttpProxyServerPort; }, 0},
      {"HttpProxyServerPort=-1", [](TfrmMain&) { return HttpProxyServerPort; }, 0},
      {"LastPage=10", [](TfrmMain& f) { return f.pcMain.ActivePageIndex(); }, 0},
      {"LastPage=9", [](TfrmMain& f) { return f.pcMain.ActivePageIndex(); }, 9},
      {"PingPause=9", [](TfrmMain& f) { return f.cmbPingPause.ItemIndex(); }, 9},
      {"PingPause=10", [](TfrmMain& f) { return f.cmbPingPause.ItemIndex(); }, 4},
      {"PingCount=12", [](TfrmMain& f) { return f.cmbPingCount.ItemIndex(); }, 12},
      {"PingCount=13", [](TfrmMain& f) { return f.cmbPingCount.ItemIndex(); }, 2},
      {"WhoisTimeout=-1", [](TfrmMain& f) { return f.cmbWhoisTimeout.ItemIndex(); }, 7},
      {"GPRankCount=8", [](TfrmMain& f) { return f.cmbGPRankCount.ItemIndex(); }, 0},
      {"TraceHops=x", [](TfrmMain& f) { return f.cmbTraceHops.ItemIndex(); }, 3},
      {"TraceMethod=3", [](TfrmMain& f) { return f.cmbTraceMethod.ItemIndex(); }, 0},
      {"TracePort=65536", [](TfrmMain& f) { return int(f.cmbTracePort.Text().empty()); }, 1},
      {"DnsReverse=true", [](TfrmMain& f) { return int(f.chkDnsReverse.Checked()); }, 0},
      {"DnsReverse=01", [](TfrmMain& f) { return int(f.chkDnsReverse.Checked()); }, 0},
      {"DnsDirectQuery=1", [](TfrmMain& f) { return int(f.chkDnsDirectQuery.Checked()); }, 1},
      {"DnsType=  tlsa ", [](TfrmMain& f) { return int(f.cmbDnsType.Text() == "tlsa"); }, 1},
      {"DnsType=" + std::string(40, 'A'), [](TfrmMain& f) { return int(f.cmbDnsType.Text().size()); }, 16},
      {"OutputFontSize=-4", [](TfrmMain&) { return OutputFontSize; }, 0},
      // The pair earlier versions wrote unasked stands for the desktop's font.
      {"OutputFontName=Courier New\nOutputFontSize=9", [](TfrmMain&) { return int(OutputFontName.empty()); }, 1},
      {"OutputFontName=Courier New\nOutputFontSize=10", [](TfrmMain&) { return OutputFontSize; }, 10},
  };
  for (const Case& c : cases) {
    ResetGlobals();
    WriteSettings(c.stored + "\n");
    TfrmMain f;
    f.FormCreate();
    EXPECT_EQ(c.get(f), c.expected) << c.stored;
  }
}

TEST_F(Settings, WindowPlaceSurvivesCloseAndStartWithinBounds) {
  {
    TfrmMain f;
    f.FormCreate();
    EXPECT_EQ(f.Placement.Width, 0);  // none stored: the view centres the design size
    f.Placement = {-8, 40, 1024, 700, true};
    ASSERT_TRUE(SaveSettings(f));
  }
  TfrmMain g;
  g.FormCreate();
  EXPECT_EQ(g.Placement.Left, -8);
  EXPECT_EQ(g.Placement.Top, 40);
  EXPECT_EQ(g.Placement.Width, 1024);
  EXPECT_EQ(g.Placement.Height, 700);
  EXPECT_TRUE(g.Placement.Maximized);
  // Damaged values: no place rather than half of one.
  WriteFile(ini_, "[Window]\nLeft=10\nTop=20\nWidth=-5\nHeight=600\n");
  TfrmMain h;
  h.FormCreate();
  EXPECT_EQ(h.Placement.Width, 0);
  EXPECT_EQ(h.Placement.Left, 0);
  WriteFile(ini_, "[Window]\nLeft=10\nTop=20\nWidth=800\nHeight=9999999\n");
  TfrmMain k;
  k.FormCreate();
  EXPECT_EQ(k.Placement.Height, 0);
}

TEST_F(Settings, EmptyServerHistoriesGetTheDefaults) {
  for (const char* list : {"Item=0\n", "Item=1\nItem1=\n", "Item=2\nItem1=\"  \"\nItem2=\"\"\n"}) {
    WriteFile(ini_, std::string("[HistTimeServer]\n") + list + "[HistWhoisServer]\n" + list +
                        "[HistDnsHost]\n" + list);
    TfrmMain f;
    f.FormCreate();
    EXPECT_EQ(f.cmbTimeServer.Items(), DefaultTimeServers()) << list;
    EXPECT_EQ(f.cmbWhoisServer.Items(), DefaultWhoisServers()) << list;
    EXPECT_EQ(f.cmbDnsHost.Count(), 0) << list;
  }
  // An empty history is stored as one empty item.
  TfrmMain f;
  f.FormCreate();
  ASSERT_TRUE(SaveSettings(f));
  EXPECT_NE(ReadFile(ini_).find("[HistDnsHost]\nItem=1\nItem1=\n"), std::string::npos);
}

TEST_F(Settings, HostileFileLoadsWithoutHarm) {
  std::string text = std::string("\x7f" "ELF\x01\x02\x00\xff\xfe garbage", 15) +
                     "\r[Settings]\rMaxRecentItems=5\r"
                     "MaxRecentItems=99\rNameResTimeout=" + std::string(1 << 20, '9') + "\r"
                     "ExtIpUrl=" + std::string(1 << 20, 'u') + "\r"
                     "[Settings]\rLanguage=Second\r[HistPingHost]\rItem=5000\r";
  for (int i = 1; i <= 5000; ++i) text += "Item" + std::to_string(i) + "=host" + std::to_string(i) + "\r";
  WriteFile(ini_, text);
  TfrmMain f;
  f.FormCreate();
  EXPECT_EQ(MaxRecentItems, 5);  // the first of the duplicates
  EXPECT_EQ(NameResTimeout, 2000);
  EXPECT_EQ(ExtIpUrl.size(), kIniMaxValue);
  EXPECT_EQ(LanguageName, "Second");
  EXPECT_EQ(f.cmbPingHost.Items(),
            (std::vector<std::string>{"host1", "host2", "host3", "host4", "host5"}));
  // Saving into the damaged file keeps it loadable and keeps what it did not own.
  ASSERT_TRUE(SaveSettings(f));
  EXPECT_EQ(ReadFile(ini_).rfind("\x7f" "ELF", 0), 0u);
  TfrmMain g;
  g.FormCreate();
  EXPECT_EQ(g.cmbPingHost.Count(), 5);
}

TEST_F(Settings, UnwritableFileIsReportedAndLoadGivesDefaults) {
  fs::create_directory(ini_);  // a folder where the file belongs
  TfrmMain f;
  f.FormCreate();
  EXPECT_EQ(MaxRecentItems, 25);
  EXPECT_EQ(f.cmbTimeServer.Items(), DefaultTimeServers());
  EXPECT_FALSE(SaveSettings(f));
  EXPECT_TRUE(fs::is_directory(ini_));
}

TEST_F(Settings, CheckBoxHandlersRunWhenLoadChangesTheMark) {
  WriteSettings("DnsExtended=0\nWhoisDirectQuery=1\n");
  TfrmMain f;
  int extendedClicks = 0, directClicks = 0;
  f.chkDnsExtended.SetCheckedSilently(true);
  f.chkDnsExtended.OnClick = [&] { ++extendedClicks; };
  f.chkWhoisDirectQuery.OnClick = [&] { ++directClicks; };
  LoadSettings(f);
  EXPECT_EQ(extendedClicks, 1);
  EXPECT_EQ(directClicks, 1);
  EXPECT_FALSE(f.chkDnsExtended.Checked());
}

TEST_F(Settings, ConsoleFrontEndReadsButNeverWrites) {
  const fs::path cli = fs::path(QUOVIX_BIN_DIR) / "quovix-cli";
  ASSERT_TRUE(fs::exists(cli)) << cli << " is missing";
  // The console front end keeps its settings beside its own program file.
  fs::copy_file(cli, dir_ / "quovix-cli");
  const std::string text = "[Settings]\r\nMaxRecentItems=7\r\n[HistPingHost]\r\nItem=1\r\nItem1=127.0.0.1\r\n";
  WriteFile(ini_, text);
  struct stat before {};
  stat(ini_.c_str(), &before);
  // A harmless run: a list search in a folder without lists (which fails:
  // there is no list to read, exit status 1).
  std::string cmd = "cd / && " + (dir_ / "quovix-cli").string() + " /List:nothing >/dev/null 2>&1";
  const int status = std::system(cmd.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  struct stat after {};
  stat(ini_.c_str(), &after);
  EXPECT_EQ(ReadFile(ini_), text);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 2);
}

// Beyond the bounds of a real settings file the rest is left unread (its
// memory would be many times the file's size), said, and never saved over.
TEST_F(IniLayer, FilesBeyondTheBoundsAreReadInPartAndNeverSavedOver) {
  std::string sections, keys = "[Settings]\n", comments;
  for (size_t i = 0; i <= kIniMaxSections; ++i) sections += "[S" + std::to_string(i) + "]\nk=" + std::to_string(i) + "\n";
  for (size_t i = 0; i <= kIniMaxKeys; ++i) keys += "k" + std::to_string(i) + "=v\n";
  for (size_t i = 0; i < kIniMaxLines; ++i) comments += ";\n";
  const struct {
    std::string text, bound, lastKept, firstDropped;  // section:key pairs
    size_t fromLine;
  } cases[] = {
      {sections, "sections", "S999:k", "S1000:k", 2 * kIniMaxSections + 1},
      {keys, "keys", "Settings:k19999", "Settings:k20000", kIniMaxKeys + 2},
      {comments + "[Settings]\nk=v\n", "lines", "", "Settings:k", kIniMaxLines + 1},
      {"[Settings]\nk=v\n", "", "Settings:k", "", 0},
  };
  for (const auto& c : cases) {
    WriteFile(ini_, c.text);
    TIniDocument doc;
    ASSERT_EQ(doc.Load(ini_.string()), TIniDocument::LoadResult::Ok);
    EXPECT_EQ(doc.Dropped().Bound, c.bound);
    EXPECT_EQ(doc.Dropped().FromLine, c.fromLine) << c.bound;
    auto has = [&](const std::string& pair) {
      const size_t colon = pair.find(':');
      return doc.Has(pair.substr(0, colon), pair.substr(colon + 1));
    };
    if (!c.lastKept.empty()) {
      EXPECT_TRUE(has(c.lastKept)) << c.lastKept;
    }
    if (!c.firstDropped.empty()) {
      EXPECT_FALSE(has(c.firstDropped)) << c.firstDropped;
    }
    EXPECT_EQ(IniWriteString(ini_.string(), "Settings", "New", "1"), c.bound.empty()) << c.bound;
    if (!c.bound.empty()) {
      EXPECT_EQ(ReadFile(ini_), c.text);
    }
  }
}

// 60 MB of section headers took 2.65 GB: the console stays well under
// 200 MB and names what it left unread.
TEST_F(Settings, SixtyMegabytesOfSectionHeadersStayUnder200Megabytes) {
  const fs::path cli = fs::path(QUOVIX_BIN_DIR) / "quovix-cli";
  ASSERT_TRUE(fs::exists(cli));
  fs::copy_file(cli, dir_ / "quovix-cli");
  {
    std::ofstream f(ini_, std::ios::binary);
    const std::string block = [] {
      std::string b;
      for (int i = 0; i < 4096; ++i) b += "[s]\n";
      return b;
    }();
    for (size_t n = 0; n < (60u << 20) / block.size(); ++n) f << block;
  }
  const std::string err = (dir_ / "err").string();
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen("/dev/null", "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(99);
    execl((dir_ / "quovix-cli").c_str(), "quovix-cli", "/List:nothing", static_cast<char*>(nullptr));
    _exit(98);
  }
  int status = 0;
  rusage usage{};
  ASSERT_EQ(wait4(pid, &status, 0, &usage), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
  EXPECT_LT(usage.ru_maxrss, 200 * 1024) << "kB";
  EXPECT_NE(ReadFile(err).find("mehr als 1000 Abschnitte: ab Zeile 1001"), std::string::npos)
      << ReadFile(err);
}
