// About dialog: texts and version values, the flag picture's place, the
// mail subjects and the link failures; the bitmap header reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>

#include "app/DialogControls.h"
#include "app/fShared.h"
#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/Desktop.h"
#include "shell/fLanguage.h"
#include "shell/formInfo.h"

using namespace quovix;
namespace fs = std::filesystem;

namespace {

// A 24-bit bitmap with the long info header (or the 12-byte core header).
std::string Bitmap(int width, int height, bool coreHeader = false) {
  std::string b;
  auto put16 = [&](uint32_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>((v >> 8) & 0xFF);
  };
  auto put32 = [&](uint32_t v) {
    put16(v & 0xFFFF);
    put16(v >> 16);
  };
  const uint32_t info = coreHeader ? 12 : 40;
  const uint32_t row = (static_cast<uint32_t>(width) * 3 + 3) / 4 * 4;
  const uint32_t pixels = row * static_cast<uint32_t>(height < 0 ? -height : height);
  b += "BM";
  put32(14 + info + pixels);
  put32(0);
  put32(14 + info);
  put32(info);
  if (coreHeader) {
    put16(static_cast<uint32_t>(width));
    put16(static_cast<uint32_t>(height));
    put16(1);
    put16(24);
  } else {
    put32(static_cast<uint32_t>(width));
    put32(static_cast<uint32_t>(height));
    put16(1);
    put16(24);
    for (int i = 0; i < 6; ++i) put32(0);
  }
  b += std::string(pixels, '\x7F');
  return b;
}

class RecordingDesktop : public platform::IDesktop {
 public:
  bool Opens = true;
  std::vector<std::string> Urls, Boxes;
  void MessageBox(const std::string& title, const std::string& text) override {
    Boxes.push_back(title + ": " + text);
  }
  bool OpenUrl(const std::string& url) override {
    Urls.push_back(url);
    return Opens;
  }
};

class InfoDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quovix-info-XXXXXX";
    dir_ = mkdtemp(tmpl);
    fs::create_directories(dir_ / "Language");
    ProgramFolder = dir_.string() + "/";
    LanguageName.clear();
    LanguageTable.clear();
  }
  void TearDown() override {
    LanguageName.clear();
    LanguageTable.clear();
    fs::remove_all(dir_);
  }
  void WriteFlag(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / "Language" / (name + ".bmp"), std::ios::binary) << bytes;
  }
  std::string Version() const { return GetVersionInfoValue(ProgramFolder + "Quovix", "ProductVersion"); }

  fs::path dir_;
  TfrmMain main_;
  RecordingDesktop desktop_;
  platform::ScopedSeam<platform::IDesktop> desktopSeam_{&desktop_};
};

}  // namespace

TEST_F(InfoDialog, BuiltInTextsDescribeThemselvesWithTheAuthorsData) {
  ASSERT_FALSE(Version().empty());
  TfrmInfo dlg(main_);
  EXPECT_EQ(dlg.Caption, "Info über " + main_.ApplicationTitle);
  EXPECT_EQ(dlg.lblTitle.Caption(), main_.ApplicationTitle);
  EXPECT_TRUE(dlg.lblTitle.Bold);
  EXPECT_EQ(dlg.lblVersion.Caption(), "Version " + Version());
  EXPECT_EQ(dlg.lblCopyright.Caption(), GetVersionInfoValue("", "LegalCopyright"));
  EXPECT_EQ(dlg.lblRights.Caption(), "Alle Rechte vorbehalten.");
  EXPECT_EQ(dlg.lblHomePage.Caption(), kAuthorUrl);
  EXPECT_EQ(dlg.lblMailAddr.Hint, "E-Mail an den Autor senden");
  EXPECT_EQ(dlg.grpLang.Caption(), "Sprachdatei");
  EXPECT_EQ(dlg.lblLang.Caption(), "Deutsch");
  EXPECT_EQ(dlg.lblLangAuthorName.Caption(), kAuthorName);
  EXPECT_EQ(dlg.lblLangHomePage.Caption(), kAuthorUrl);
  EXPECT_EQ(dlg.lblLangMailAddr.Caption(), kAuthorMail);
  EXPECT_EQ(dlg.lblLangHome.Caption(), "Homepage:");
  EXPECT_FALSE(dlg.imgLang.Visible());
  EXPECT_TRUE(dlg.imgLang.FileName.empty());
  EXPECT_EQ(dlg.btnOk.Caption(), "&Ok");
}

TEST_F(InfoDialog, LanguageFileDescribesItselfAndItsFlagEndsAt80) {
  fs::copy_file(fs::path(QUOVIX_SOURCE_DIR) / "lang/English.lng", dir_ / "Language/English.lng");
  WriteFlag("English", Bitmap(48, 32));
  LanguageName = "English";
  ASSERT_GT(LoadLanguageFile(ProgramFolder + "Language/English.lng"), 0);
  TfrmInfo dlg(main_);
  EXPECT_EQ(dlg.lblLang.Caption(), "English");
  EXPECT_EQ(dlg.lblRights.Caption(), "All rights reserved.");
  EXPECT_EQ(dlg.Caption.rfind("About ", 0), 0u) << dlg.Caption;
  EXPECT_TRUE(dlg.imgLang.Visible());
  EXPECT_EQ(dlg.imgLang.FileName, ProgramFolder + "Language/English.bmp");
  EXPECT_EQ(dlg.imgLang.Left, 32);
  EXPECT_EQ(dlg.imgLang.Width, 48);
  EXPECT_EQ(dlg.imgLang.Height, 32);

  // A top-down picture and an old core header give their size as well.
  WriteFlag("English", Bitmap(20, -16));
  EXPECT_EQ(TfrmInfo(main_).imgLang.Left, 60);
  WriteFlag("English", Bitmap(16, 11, true));
  EXPECT_EQ(TfrmInfo(main_).imgLang.Left, 64);
}

TEST_F(InfoDialog, DamagedFlagPicturesAreLeftOut) {
  LanguageName = "Broken";
  std::string good = Bitmap(48, 32);
  std::string hugeWidth = good, zeroWidth = good, badInfo = good;
  hugeWidth[21] = '\x7F';  // width 0x7F000030
  zeroWidth[18] = zeroWidth[19] = '\0';
  badInfo[14] = '\x05';    // no known header has 5 bytes
  for (const std::string& bytes :
       {std::string(), std::string("BM"), good.substr(0, 20), std::string("PK") + good.substr(2),
        hugeWidth, zeroWidth, badInfo}) {
    WriteFlag("Broken", bytes);
    TfrmInfo dlg(main_);
    EXPECT_FALSE(dlg.imgLang.Visible()) << bytes.size();
    int w = -1, h = -1;
    EXPECT_FALSE(ReadBitmapSize(ProgramFolder + "Language/Broken.bmp", w, h));
  }
  // A folder of that name is no picture either.
  fs::remove(dir_ / "Language/Broken.bmp");
  fs::create_directory(dir_ / "Language/Broken.bmp");
  EXPECT_FALSE(TfrmInfo(main_).imgLang.Visible());
}

TEST_F(InfoDialog, MailSubjectsTakeTheVersionCaptionFromItsNinthCharacter) {
  const std::string v = Version();
  {
    TfrmInfo dlg(main_);
    dlg.lblMailAddr.Click();
    dlg.lblLangMailAddr.Click();
    ASSERT_EQ(desktop_.Urls.size(), 2u);
    EXPECT_EQ(desktop_.Urls[0], MailtoLink(kAuthorMail, main_.ApplicationTitle + " " + v));
    EXPECT_EQ(desktop_.Urls[1],
              MailtoLink(kAuthorMail, "Sprachdatei: " + main_.ApplicationTitle + " " + v));
    EXPECT_TRUE(desktop_.Boxes.empty());
  }
  // Characters, not bytes: "Versión " is eight characters in nine bytes.
  LanguageTable = {"Info|lblVersion=Versión %s1%", "Lang|AuthorMail=tr@example.org"};
  desktop_.Urls.clear();
  {
    TfrmInfo dlg(main_);
    EXPECT_EQ(dlg.VersionTail(), v);
    dlg.lblLangMailAddr.Click();
    EXPECT_EQ(desktop_.Urls.at(0),
              MailtoLink("tr@example.org", "Sprachdatei: " + main_.ApplicationTitle + " " + v));
  }
  // A translation whose number starts elsewhere gives whatever stands there.
  LanguageTable = {"Info|lblVersion=Ver. %s1%"};
  EXPECT_EQ(TfrmInfo(main_).VersionTail(), ("Ver. " + v).substr(8));
  LanguageTable = {"Info|lblVersion=v%s1%"};
  const std::string shortCaption = "v" + v;
  EXPECT_EQ(TfrmInfo(main_).VersionTail(),
            shortCaption.size() > 8 ? shortCaption.substr(8) : std::string());
}

TEST_F(InfoDialog, LinksOpenWithTheDesktopAndFailuresSayWhy) {
  TfrmInfo dlg(main_);
  dlg.lblHomePage.Click();
  dlg.lblLangHomePage.Click();
  EXPECT_EQ(desktop_.Urls, (std::vector<std::string>{kAuthorUrl, kAuthorUrl}));
  EXPECT_TRUE(desktop_.Boxes.empty());

  desktop_.Opens = false;
  dlg.lblHomePage.Click();
  dlg.lblMailAddr.Click();
  ASSERT_EQ(desktop_.Boxes.size(), 2u);
  EXPECT_EQ(desktop_.Boxes[0],
            "Kein Standard-Webbrowser gefunden: Ihr Standard-Webbrowser konnte nicht geöffnet "
            "werden!\n\nDie Adresse zum Kopieren: " + std::string(kAuthorUrl));
  EXPECT_EQ(desktop_.Boxes[1].rfind("Kein Standard-Mailclient gefunden: ", 0), 0u);
  dlg.btnOk.Click();
  EXPECT_TRUE(dlg.Closed);
}
