#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/formMain.h"
#include "common/fCaseFold.h"
#include "common/fMain.h"

using namespace quovix;
namespace fs = std::filesystem;

namespace {

void WriteList(const fs::path& file, const std::string& text) {
  uLongf size = compressBound(text.size());
  std::string packed(size, '\0');
  ASSERT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &size,
                     reinterpret_cast<const Bytef*>(text.data()), text.size()),
            Z_OK);
  packed.resize(size);
  std::ofstream(file, std::ios::binary) << packed;
}

class ListSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() /
          ("quovix-list-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
           "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
    savedFolder = ProgramFolder;
    ProgramFolder = dir.string() + "/";
    WriteList(dir / "Ports.clf", "80  http\r\n25  smtp\r\n443 HTTPS\r\n53  domain\n110 pop3");
    WriteList(dir / "Orte.clf", "MÜNCHEN\nmünster\nBerlin\nÖhringen\n");
    f.cmbListList.SetItems({"Ports", "Orte"});
    f.cmbListList.SetItemIndex(0);
  }
  void TearDown() override {
    ProgramFolder = savedFolder;
    fs::remove_all(dir);
  }
  void Search(const std::string& list, const std::string& term) {
    f.cmbListList.SetText(list);
    f.cmbListSearch.SetText(term);
    f.btnListSearch.Click();
  }
  fs::path dir;
  std::string savedFolder;
  TfrmMain f;
};

}  // namespace

TEST(CaseFold, FoldsLatinGreekAndCyrillicLetters) {
  EXPECT_EQ(FoldCaseUtf8("ÄÖÜ äöü ß É Ÿ Ł ABC"), "äöü äöü ß é ÿ ł abc");
  EXPECT_EQ(FoldCaseUtf8("ΑΒΓ МОСКВА"), "αβγ москва");
  // Letters whose lower case is not the next code point: İ, long s, the
  // accented Greek capitals and the final sigma.
  EXPECT_EQ(FoldCaseUtf8("İSTANBUL ſ ΆΈΌΏ ΟΔΟΣ οδος"), "istanbul s άέόώ οδοσ οδοσ");
  EXPECT_EQ(FoldCaseUtf8(std::string("\xC3\x28 \xFF", 4)), std::string("\xC3\x28 \xFF", 4));
}

TEST_F(ListSearch, EmptyTermListsEverythingSorted) {
  Search("Ports", "");
  // Numbers by their value: port 25 before port 110.
  EXPECT_EQ(f.lstList.Items(),
            (std::vector<std::string>{"25  smtp", "53  domain", "80  http", "110 pop3", "443 HTTPS"}));
  EXPECT_EQ(f.sbMain.SimpleText(), " Bereit.");
  EXPECT_TRUE(f.btnListSearch.Enabled());
  EXPECT_TRUE(f.ToolIdle);
}

TEST_F(ListSearch, MatchIgnoresCaseIncludingUmlautsButKeepsBlanks) {
  Search("Ports", "http");
  EXPECT_EQ(f.lstList.Items(), (std::vector<std::string>{"80  http", "443 HTTPS"}));
  Search("Ports", " http");  // the blank takes part in the match
  EXPECT_EQ(f.lstList.Items(), (std::vector<std::string>{"80  http", "443 HTTPS"}));
  Search("Ports", "  http");
  EXPECT_EQ(f.lstList.Items(), (std::vector<std::string>{"80  http"}));
  Search("Orte", "mün");
  EXPECT_EQ(f.lstList.Items(), (std::vector<std::string>{"MÜNCHEN", "münster"}));
  Search("Orte", "öhr");
  EXPECT_EQ(f.lstList.Items(), (std::vector<std::string>{"Öhringen"}));
  EXPECT_EQ(f.cmbListSearch.Items().front(), "öhr");
}

TEST_F(ListSearch, SameListIsReadOnceAnotherListReloads) {
  Search("Ports", "smtp");
  ASSERT_EQ(f.lstList.Items().size(), 1u);
  // The file changes on disk: the cached lines still serve the same list.
  WriteList(dir / "Ports.clf", "nothing of the above\n");
  Search("Ports", "smtp");
  EXPECT_EQ(f.lstList.Items(), (std::vector<std::string>{"25  smtp"}));
  Search("Orte", "berlin");
  EXPECT_EQ(f.lstList.Items(), (std::vector<std::string>{"Berlin"}));
  Search("Ports", "");
  EXPECT_EQ(f.lstList.Items(), (std::vector<std::string>{"nothing of the above"}));
}

TEST_F(ListSearch, DamagedOrMissingListShowsNothingAndKeepsTheCachedList) {
  Search("Ports", "pop3");
  ASSERT_EQ(f.lstList.Items().size(), 1u);
  std::ofstream(dir / "Bad.clf", std::ios::binary) << "not a zlib stream";
  f.cmbListList.SetItems({"Ports", "Orte", "Bad", "Missing"});
  // Neither list can be read: the box stays empty rather than showing the
  // lines of the list searched before.
  Search("Bad", "pop3");
  EXPECT_TRUE(f.lstList.Items().empty());
  Search("Missing", "");
  EXPECT_TRUE(f.lstList.Items().empty());
  EXPECT_TRUE(f.btnListSearch.Enabled());
  EXPECT_EQ(f.sbMain.SimpleText(), " Die Liste \"Missing\" kann nicht gelesen werden.");
  // The cached list still serves its own searches without a new read.
  WriteList(dir / "Ports.clf", "changed\n");
  Search("Ports", "pop3");
  EXPECT_EQ(f.lstList.Items(), (std::vector<std::string>{"110 pop3"}));
}

TEST_F(ListSearch, NoHitSaysSoInTheStatusBar) {
  Search("Ports", "gopher");
  EXPECT_TRUE(f.lstList.Items().empty());
  EXPECT_EQ(f.sbMain.SimpleText(), " Kein Eintrag der Liste \"Ports\" enthält \"gopher\".");
  Search("Ports", "smtp");
  EXPECT_EQ(f.sbMain.SimpleText(), " Bereit.");
}

TEST_F(ListSearch, TheChosenListIsChosenAgainAtTheNextStart) {
  const std::string savedIni = IniFilePath;
  IniFilePath = (dir / "Quovix.ini").string();
  auto chosenAtStart = [] {
    TfrmMain g;
    g.FormCreate();
    return g.cmbListList.Text();
  };
  {
    TfrmMain g;
    g.FormCreate();
    g.cmbListList.SetText("Orte");
    g.FormClose();
  }
  // The other list files are found in whatever order the folder gives.
  EXPECT_EQ(chosenAtStart(), "Orte");
  // Its file gone: the first list.
  fs::rename(dir / "Orte.clf", dir / "Orte.off");
  EXPECT_EQ(chosenAtStart(), "Ports");
  // A session without any list file keeps the choice for their return.
  fs::rename(dir / "Ports.clf", dir / "Ports.off");
  {
    TfrmMain g;
    g.FormCreate();
    g.FormClose();
  }
  fs::rename(dir / "Orte.off", dir / "Orte.clf");
  fs::rename(dir / "Ports.off", dir / "Ports.clf");
  EXPECT_EQ(chosenAtStart(), "Orte");
  IniFilePath = savedIni;
}

TEST(NaturalOrder, NumbersCompareByValueTheRestByByte) {
  const std::vector<std::string> sorted = {
      "", "1/tcp", "7/tcp", "25/tcp", "110/tcp", "443/tcp", "0443/tcp", "443/udp",
      "a2", "a02", "a10", "a10b", "ab", "b"};
  for (size_t i = 0; i < sorted.size(); ++i)
    for (size_t j = 0; j < sorted.size(); ++j)
      EXPECT_EQ(NaturalLess(sorted[i], sorted[j]), i < j) << sorted[i] << " / " << sorted[j];
  EXPECT_TRUE(NaturalLess("99999999999999999999", "100000000000000000000"));  // past 64 bits
}

TEST(ListBox, SortedBoxOrdersByFoldedTextWhateverTheWayItemsCome) {
  TListBox box("lst");
  box.Sorted = true;
  const std::vector<std::string> expected = {"apfel", "Apfelbaum", "Berg", "berge", "zebra",
                                             "Äpfel", "ärger", "Öl"};
  box.SetItems({"zebra", "ärger", "Berg", "Öl", "Apfelbaum", "Äpfel", "berge", "apfel"});
  EXPECT_EQ(box.Items(), expected);
  box.Clear();
  for (const char* s : {"Öl", "berge", "Äpfel", "apfel", "zebra", "Apfelbaum", "ärger", "Berg"})
    box.AddItem(s);
  EXPECT_EQ(box.Items(), expected);
  // Items equal but for case keep the order in which they came.
  box.SetItems({"ÄRGER", "ärger", "Ärger"});
  EXPECT_EQ(box.Items(), (std::vector<std::string>{"ÄRGER", "ärger", "Ärger"}));
  box.AddItem("äRGER");
  EXPECT_EQ(box.Items().back(), "äRGER");
  // Switched to sorted after unsorted items came in: the next item sorts them.
  TListBox late("late");
  late.SetItems({"b", "C", "a"});
  late.Sorted = true;
  late.AddItem("B");
  EXPECT_EQ(late.Items(), (std::vector<std::string>{"a", "b", "B", "C"}));
}
