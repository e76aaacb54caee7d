// Language texts: look-up, placeholders, the file format, the language menu
// and the switch of language in the main window.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <set>

#include "app/DialogControls.h"
#include "app/formMain.h"
#include "common/fCaseFold.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"
#include "shell/formSettings.h"

using namespace quovix;
namespace fs = std::filesystem;

namespace {

class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("quovix_lang_" + std::to_string(getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_ / "Language");
    savedFolder_ = ProgramFolder;
    savedIni_ = IniFilePath;
    ProgramFolder = dir_.string() + "/";
    IniFilePath = (dir_ / "Quovix.ini").string();
    LanguageTable.clear();
    LanguageName.clear();
  }
  void TearDown() override {
    LanguageTable.clear();
    LanguageName.clear();
    ProgramFolder = savedFolder_;
    IniFilePath = savedIni_;
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string Write(const std::string& name, const std::string& content) {
    fs::path p = dir_ / "Language" / name;
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
  }
  fs::path dir_;
  std::string savedFolder_, savedIni_;
};

}  // namespace

TEST_F(LanguageTest, LookupRulesOfTheFile) {
  std::string path = Write("T.lng",
                           "# comment line\r\n"
                           "\r\n"
                           "   \t\r\n"
                           "[Main]\r\n"
                           "  Main|Spaced  =  text with blank  \r\n"
                           "main|CASE=lower-case key\r\n"
                           "Main|Twice=first\r\n"
                           "Main|Twice=second\r\n"
                           "Main|Empty=\r\n"
                           "Main|Url=http://h/?a=b\r\n");
  EXPECT_EQ(LoadLanguageFile(path), 7);  // comments and blank lines dropped
  EXPECT_EQ(LangText("Main|Spaced", "d"), "  text with blank");
  EXPECT_EQ(LangText("MAIN|case", "d"), "lower-case key");
  EXPECT_EQ(LangText("Main|Twice", "d"), "first");
  EXPECT_EQ(LangText("Main|Empty", "default stands"), "default stands");
  EXPECT_EQ(LangText("Main|Missing", "default stands"), "default stands");
  EXPECT_EQ(LangText("Main|Url", "d"), "http://h/?a=b");
  // A heading line never yields a text.
  EXPECT_EQ(LangText("[Main]", "d"), "d");
}

TEST_F(LanguageTest, MissingFileEmptiesTheTable) {
  LoadLanguageFile(Write("A.lng", "Main|X=x\n"));
  EXPECT_EQ(LangText("Main|X", "d"), "x");
  EXPECT_EQ(LoadLanguageFile((dir_ / "Language" / ".lng").string()), -1);
  EXPECT_TRUE(LanguageTable.empty());
  EXPECT_EQ(LangText("Main|X", "d"), "d");
  // A folder is no language file either.
  EXPECT_EQ(LoadLanguageFile((dir_ / "Language").string()), -1);
}

TEST_F(LanguageTest, LineEndsAndByteOrderMark) {
  std::string path = Write("B.lng", "\xEF\xBB\xBFMain|A=a\rMain|B=b\nMain|C=c\r\nMain|D=d");
  EXPECT_EQ(LoadLanguageFile(path), 4);
  EXPECT_EQ(LangText("Main|A", "-"), "a");
  EXPECT_EQ(LangText("Main|B", "-"), "b");
  EXPECT_EQ(LangText("Main|C", "-"), "c");
  EXPECT_EQ(LangText("Main|D", "-"), "d");
}

TEST_F(LanguageTest, PlaceholdersAndEscapes) {
  EXPECT_EQ(LangText("Main|mnuHelpInfo", "&Info über %s1%", {"Quovix"}), "&Info über Quovix");
  EXPECT_EQ(LangText("k|k", "one%w%two"), "one\r\ntwo");
  EXPECT_EQ(LangText("k|k", "a%r%b%n%c%t%d"), "a\rb\nc\td");
  EXPECT_EQ(LangText("k|k", "%_%padded%_%"), " padded ");
  EXPECT_EQ(LangText("k|k", "100$%$s1%", {"X"}), "100%s1%");
  EXPECT_EQ(LangText("k|k", "%s1% %s2% %s3%", {"a", "b"}), "a b %s3%");
  // Arguments are put in as they are: a placeholder or an escape inside
  // one (a server's text, say) is never expanded.
  EXPECT_EQ(LangText("k|k", "%s1%", {"<%s2%>", "two"}), "<%s2%>");
  EXPECT_EQ(LangText("k|k", "[%s1%]", {"x%w%y"}), "[x%w%y]");
  EXPECT_EQ(LangText("k|k", "%s1%|%s2%", {"a$%$%t%%n%%r%%_%", "%s1%"}), "a$%$%t%%n%%r%%_%|%s1%");
  // Escapes of the text itself next to placeholders.
  EXPECT_EQ(LangText("k|k", "%s1%%w%%s2%$%$s1%", {"a", "b"}), "a\r\nb%s1%");
  // Arguments given but empty: %s1% becomes empty; none given: it stays.
  EXPECT_EQ(LangText("k|k", "[%s1%]", {""}), "[]");
  EXPECT_EQ(LangText("k|k", "[%s1%]"), "[%s1%]");
  // Replacements are case-sensitive.
  EXPECT_EQ(LangText("k|k", "%W%%S1%", {"x"}), "%W%%S1%");
  // The joined form of the arguments.
  EXPECT_EQ(LangTextJoined("k|k", "%s1%-%s2%", "a\x01" "b"), "a-b");
  EXPECT_EQ(LangTextJoined("k|k", "[%s1%]", std::string(1, '\0')), "[%s1%]");
  EXPECT_EQ(LangTextJoined("k|k", "[%s1%]", ""), "[]");
}

TEST_F(LanguageTest, FileTextsTakePlaceholdersToo) {
  LoadLanguageFile(Write("P.lng", "Main|Out=Host %s1% has%_%%s2% $%$ %w%next\n"));
  EXPECT_EQ(LangText("Main|Out", "d", {"h", "2"}), "Host h has 2 % \r\nnext");
}

TEST_F(LanguageTest, MenuListsFilesAndChecksTheCurrentLanguage) {
  Write("English.lng", "Main|frmTitle=Q-en\n");
  Write("Deutsch (intern).lng", "Main|frmTitle=Q-de-file\n");
  Write(".Hidden.lng", "");
  Write("Upper.LNG", "");
  Write("notes.txt", "");
  fs::create_directories(dir_ / "Language" / "Folder.lng");
  TMenuItem menu("mnuLanguage");
  int clicks = 0;
  auto click = [&](TMenuItem&) { ++clicks; };

  LanguageName = "english";
  BuildLanguageMenu(menu, ProgramFolder + "Language/", click);
  std::vector<std::string> captions;
  for (TMenuItem* m : menu.Items) captions.push_back(m->Caption());
  EXPECT_EQ(captions, (std::vector<std::string>{"Deutsch (intern)", "Deutsch (intern)", "English"}));
  EXPECT_FALSE(menu.Items[0]->Checked());
  EXPECT_TRUE(menu.Items[2]->Checked());
  for (TMenuItem* m : menu.Items) EXPECT_TRUE(m->RadioItem);
  menu.Items[1]->Click();
  EXPECT_EQ(clicks, 1);

  // Rebuilding replaces the items; an unknown language checks the built-in.
  LanguageName = "Klingon";
  BuildLanguageMenu(menu, ProgramFolder + "Language/", click);
  ASSERT_EQ(menu.Items.size(), 3u);
  EXPECT_TRUE(menu.Items[0]->Checked());
  EXPECT_FALSE(menu.Items[2]->Checked());

  // No folder at all: only the built-in texts.
  BuildLanguageMenu(menu, ProgramFolder + "Nowhere/", click);
  ASSERT_EQ(menu.Items.size(), 1u);
  EXPECT_TRUE(menu.Items[0]->Checked());
}

TEST_F(LanguageTest, ChoosingALanguageRecaptionsTheWindowAtOnce) {
  Write("English.lng",
        "Main|frmTitle=Quovix EN\nMain|tabOwn=Own computer\nMain|mnuLanguage=Language\n"
        "Font|Name=DejaVu Sans\nFont|Size=11\n");
  Write("Deutsch (intern).lng", "Main|tabOwn=Aus der Datei\n");
  Write("Odd.lng", "Main|mnuLanguage=language\nFont|Size=big\n");
  TfrmMain f;
  int formChanges = 0;
  f.OnFormChanged = [&] { ++formChanges; };
  f.FormCreate();
  EXPECT_EQ(f.tabOwn.Caption(), "Eigener Rechner");
  EXPECT_EQ(f.mnuLanguage.Caption(), "Sprache / &Language");
  EXPECT_EQ(f.mnuHelpDonate.Caption(), "Quovix &unterstützen");
  ASSERT_EQ(f.mnuLanguage.Items.size(), 4u);  // built-in, file "Deutsch (intern)", English, Odd

  TMenuItem* english = f.mnuLanguage.Items[2];
  ASSERT_EQ(english->Caption(), "English");
  formChanges = 0;
  english->Click();
  EXPECT_EQ(LanguageName, "English");
  EXPECT_EQ(f.tabOwn.Caption(), "Own computer");
  EXPECT_EQ(f.Caption, "Quovix EN");
  EXPECT_EQ(f.ApplicationTitle, "Quovix EN");
  EXPECT_EQ(f.mnuLanguage.Caption(), "&Language");
  EXPECT_EQ(f.FontName, "DejaVu Sans");
  EXPECT_EQ(f.FontSize, 11);
  EXPECT_GE(formChanges, 1);
  int checked = 0;
  for (TMenuItem* m : f.mnuLanguage.Items) checked += m->Checked();
  EXPECT_EQ(checked, 1);
  EXPECT_TRUE(english->Checked());

  // The check is exact: "language" is not "Language". A size that is not a
  // number gives 8.
  f.mnuLanguage.Items[3]->Click();
  EXPECT_EQ(f.mnuLanguage.Caption(), "language / &Language");
  EXPECT_EQ(f.FontSize, 8);
  EXPECT_EQ(f.FontName, "Tahoma");

  // Both "Deutsch (intern)" items load the file of that name.
  f.mnuLanguage.Items[0]->Click();
  EXPECT_EQ(f.tabOwn.Caption(), "Aus der Datei");
  EXPECT_TRUE(f.mnuLanguage.Items[0]->Checked());
  f.mnuLanguage.Items[1]->Click();
  EXPECT_EQ(f.tabOwn.Caption(), "Aus der Datei");
  EXPECT_FALSE(f.mnuLanguage.Items[0]->Checked());
}

TEST_F(LanguageTest, StoredLanguageIsLoadedAtCreation) {
  Write("English.lng", "Main|btnStart=Go\nMain|grpConnection=Connection\n");
  // The settings store reads the language name; the memory value stands in
  // where it is not built.
  std::ofstream(IniFilePath) << "[Settings]\nLanguage=English\n";
  LanguageName = "English";
  TfrmMain f;
  f.FormCreate();
  EXPECT_EQ(f.btnPingStart.Caption(), "Go");
  EXPECT_EQ(f.btnOwnStart.Caption(), "Go");
  EXPECT_EQ(f.grpGPRank.Caption(), "Connection");
  EXPECT_EQ(f.grpList.Caption(), "Suche");  // a key of its own
  EXPECT_TRUE(f.mnuLanguage.Items[1]->Checked());
}

TEST_F(LanguageTest, OnlyARegularFileInsideTheFolderIsOpened) {
  // A FIFO named by the settings would block an open for good; a name with
  // a path in it would reach files outside the folder.
  const fs::path fifo = dir_ / "Language" / "Pipe.lng";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(dir_ / "Outside.lng") << "Main|btnStart=Outside\n";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(LoadLanguageFile(fifo.string()), -1);
  EXPECT_EQ(LoadLanguageFile("/dev/zero"), -1);
  for (const char* name : {"Pipe", "../Outside", "..", "sub/English", ".hidden"}) {
    std::ofstream(IniFilePath) << "[Settings]\nLanguage=" << name << "\n";
    TfrmMain f;
    f.FormCreate();
    EXPECT_EQ(LanguageName, name);
    EXPECT_EQ(f.btnPingStart.Caption(), "&Start") << name;
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  EXPECT_EQ(LanguageFile("../Outside", ".lng"), "");
  EXPECT_EQ(LanguageFile("English", ".bmp"), ProgramFolder + "Language/English.bmp");
  // The flag picture beside it is looked at the same way.
  ASSERT_EQ(mkfifo((dir_ / "Language" / "Pipe.bmp").c_str(), 0600), 0);
  int w = 0, h = 0;
  EXPECT_FALSE(ReadBitmapSize((dir_ / "Language" / "Pipe.bmp").string(), w, h));
}

// Every key the program looks up has an English text, and the file
// describes itself.
TEST(LanguageFile, EnglishHasEveryKeyTheSourcesUse) {
  const fs::path root = QUOVIX_SOURCE_DIR;
  std::set<std::string> english;
  {
    std::ifstream in(root / "lang" / "English.lng");
    ASSERT_TRUE(in) << "lang/English.lng missing";
    std::string line;
    while (std::getline(in, line)) {
      line = Trim(line);
      if (line.empty() || line[0] == '#') continue;
      size_t eq = line.find('=');
      ASSERT_NE(eq, std::string::npos) << line;
      EXPECT_FALSE(Trim(line.substr(eq + 1)).empty()) << "empty English text: " << line;
      english.insert(LowerLatin(Trim(line.substr(0, eq))));
    }
  }
  const std::regex call(R"re(LangText(?:Joined)?\(\s*"([A-Za-z]+\|[A-Za-z0-9_]+)")re");
  std::set<std::string> used;
  for (const char* folder : {"app", "shell", "common", "clients", "tools", "platform", "cli"}) {
    if (!fs::exists(root / folder)) continue;
    for (const auto& e : fs::recursive_directory_iterator(root / folder)) {
      if (e.path().extension() != ".cpp" && e.path().extension() != ".h") continue;
      std::ifstream in(e.path());
      std::string src((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      for (std::sregex_iterator it(src.begin(), src.end(), call), end; it != end; ++it)
        used.insert((*it)[1]);
    }
  }
  EXPECT_GT(used.size(), 60u);
  for (const auto& key : used) EXPECT_TRUE(english.count(LowerLatin(key))) << key;
  for (const char* key : {"Lang|Language", "Lang|AuthorName", "Lang|AuthorSite", "Lang|AuthorMail",
                          "Font|Name", "Font|Size"})
    EXPECT_TRUE(english.count(LowerLatin(key))) << key;
}

namespace {
// The access key of a caption: the character after a single "&", folded.
std::string AccessKey(const std::string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != '&') continue;
    if (caption[i + 1] == '&') {
      ++i;
      continue;
    }
    size_t n = 1;
    while (i + 1 + n < caption.size() && (static_cast<unsigned char>(caption[i + 1 + n]) & 0xC0) == 0x80) ++n;
    return FoldCaseUtf8(caption.substr(i + 1, n));
  }
  return {};
}

// The window with its texts in German (the defaults) or in English.
std::unique_ptr<TfrmMain> FormInLanguage(bool english) {
  LanguageTable.clear();
  if (english) {
    EXPECT_GT(LoadLanguageFile(std::string(QUOVIX_SOURCE_DIR) + "/lang/English.lng"), 0);
  }
  auto f = std::make_unique<TfrmMain>();
  f->ApplyLanguageTexts();
  return f;
}
}  // namespace

TEST(LanguageFile, AccessKeysAreUniquePerTabAndDialogAndOnEveryButtonAndBox) {
  for (const bool english : {false, true}) {
    const std::unique_ptr<TfrmMain> form = FormInLanguage(english);
    TfrmMain& f = *form;
    TfrmSettings dlg(f);
    std::set<std::string> menuKeys;
    for (TMenuItem* m : {&f.mnuFile, &f.mnuTools, &f.mnuExtras, &f.mnuHelp}) menuKeys.insert(AccessKey(m->Caption()));
    // The menu bar's keys count on every tab; the options dialog has none.
    std::vector<std::pair<std::string, std::vector<TControl*>>> groups;
    for (int p = 0; p < 10; ++p) groups.emplace_back(f.Page(p)->Name, f.TabControls(static_cast<TPage>(p)));
    groups.emplace_back("options", std::vector<TControl*>{
        &dlg.lblMaxRecentItems, &dlg.lblNameResTimeout, &dlg.lblDns, &dlg.btnDnsDefault, &dlg.lblExtIpUrl,
        &dlg.lblFont, &dlg.chkUseHttpProxy, &dlg.lblProxyServer, &dlg.lblProxyPort, &dlg.lblProxyUsername,
        &dlg.lblProxyPassword, &dlg.chkIEIntActive, &dlg.optIEIntAllUsers, &dlg.optIEIntActUser,
        &dlg.chkIEIntMenu, &dlg.chkIEIntButton, &dlg.btnOk, &dlg.btnCancel});
    for (const auto& [group, controls] : groups) {
      std::set<std::string> seen = group == "options" ? std::set<std::string>{} : menuKeys;
      for (TControl* c : controls) {
        std::string caption;
        bool needsKey = true;  // buttons and boxes; a label only when it has a caption of its own
        if (auto* b = dynamic_cast<TButton*>(c)) caption = b->Caption();
        else if (auto* k = dynamic_cast<TCheckBox*>(c)) caption = k->Caption();
        else if (auto* l = dynamic_cast<TLabel*>(c)) caption = l->Caption(), needsKey = false;
        else continue;
        const std::string key = AccessKey(caption);
        if (key.empty()) {
          EXPECT_FALSE(needsKey) << group << ": " << c->Name << " \"" << caption << "\" english=" << english;
          continue;
        }
        EXPECT_TRUE(seen.insert(key).second)
            << group << ": " << c->Name << " \"" << caption << "\" repeats \"" << key << "\" english=" << english;
      }
    }
  }
  LanguageTable.clear();
}

TEST(LanguageFile, EveryOptionOfTheTabsHasATooltip) {
  for (const bool english : {false, true}) {
    const std::unique_ptr<TfrmMain> form = FormInLanguage(english);
    TfrmMain& f = *form;
    for (int p = 0; p < 10; ++p)
      for (TControl* c : f.TabControls(static_cast<TPage>(p))) {
        auto* combo = dynamic_cast<TComboBox*>(c);
        // Check boxes, and the pick-only lists whose labels are one word.
        const bool option = dynamic_cast<TCheckBox*>(c) ||
                            (combo && combo->Style == TComboStyle::DropDownList && combo != &f.cmbListList);
        if (option) {
          EXPECT_FALSE(c->Hint().empty()) << c->Name << " english=" << english;
        }
      }
  }
  LanguageTable.clear();
}
