// The about dialog: texts, version values, links and the language block.
#include "shell/formInfo.h"

#include <utility>

#include "app/fShared.h"
#include "app/formMain.h"
#include "clients/RdapBootstrap.h"
#include "common/fMain.h"
#include "shell/fLanguage.h"

namespace quovix {

namespace {

// Byte offset of the n-th character (0-based) of UTF-8 text; the size when
// the text is shorter. A stray continuation byte counts as a character of
// its own, so damaged text still moves forward.
size_t Utf8Offset(const std::string& s, size_t n) {
  size_t i = 0;
  for (size_t k = 0; k < n && i < s.size(); ++k) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t len = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    ++i;
    for (size_t j = 1; j < len && i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80;
         ++j)
      ++i;
  }
  return i;
}

}  // namespace

TfrmInfo::TfrmInfo(TfrmMain& owner) {
  const std::string program = ProgramFolder + "Quovix";
  const std::string title = owner.ApplicationTitle;

  // The main window has read the dialog font from Font|Name and Font|Size.
  FontName = owner.FontName;
  FontSize = owner.FontSize;
  Caption = LangText("Info|frmTitle", "Info über %s1%", {title});
  imgIcon.Width = imgIcon.Height = 32;
  lblTitle.SetCaption(title);
  lblTitle.Bold = true;
  lblDescription.SetCaption(
      LangText("Info|lblDescription", "Die wichtigsten Tools fürs Internet"));
  lblVersion.SetCaption(
      LangText("Info|lblVersion", "Version %s1%", {GetVersionInfoValue(program, "ProductVersion")}));
  lblCopyright.SetCaption(GetVersionInfoValue(program, "LegalCopyright"));
  lblRights.SetCaption(LangText("Info|lblRights", "Alle Rechte vorbehalten."));
  {
    // Which bootstrap files the Whois tool goes by: shipped, put beside the
    // program or fetched, whichever is newest.
    std::string dates;
    for (auto [name, registry] : {std::pair{"DNS", RdapRegistry::Dns}, {"IPv4", RdapRegistry::Ipv4},
                                  {"IPv6", RdapRegistry::Ipv6}, {"AS", RdapRegistry::Asn}}) {
      const std::string p = RdapBootstrapPublication(registry);
      dates += (dates.empty() ? "" : ", ") + std::string(name) + " " + (p.empty() ? "-" : p.substr(0, 10));
    }
    lblData.SetCaption(LangText("Info|lblData", "RDAP-Bootstrap-Dateien: %s1%", {dates}));
  }

  lblHome.SetCaption(LangText("Info|lblHome", "Homepage:"));
  lblHomePage.SetCaption(kAuthorUrl);
  lblHomePage.Hint = LangText("Info|lblHomePage", "Homepage des Autors besuchen");
  lblMail.SetCaption(LangText("Info|lblMail", "E-Mail:"));
  lblMailAddr.SetCaption(kAuthorMail);
  lblMailAddr.Hint = LangText("Info|lblMailAddr", "E-Mail an den Autor senden");

  grpLang.SetCaption(LangText("Info|grpLang", "Sprachdatei"));
  LoadFlag();
  lblLang.SetCaption(LangText("Lang|Language", "Deutsch"));
  lblLangAuthor.SetCaption(LangText("Info|lblLangAuthor", "Autor:"));
  lblLangAuthorName.SetCaption(LangText("Lang|AuthorName", kAuthorName));
  lblLangHome.SetCaption(LangText("Info|lblHome", "Homepage:"));
  lblLangHomePage.SetCaption(LangText("Lang|AuthorSite", kAuthorUrl));
  lblLangHomePage.Hint = LangText("Info|lblLangHomePage", "Homepage des Übersetzers besuchen");
  lblLangMail.SetCaption(LangText("Info|lblMail", "E-Mail:"));
  lblLangMailAddr.SetCaption(LangText("Lang|AuthorMail", kAuthorMail));
  lblLangMailAddr.Hint = LangText("Info|lblLangMailAddr", "E-Mail an den Übersetzer senden");
  btnOk.SetCaption(LangText("General|btnOk", "&Ok"));
  btnOk.Default = true;

  lblHomePage.OnClick = [this] { lblHomePageClick(); };
  lblMailAddr.OnClick = [this] { lblMailAddrClick(); };
  lblLangHomePage.OnClick = [this] { lblLangHomePageClick(); };
  lblLangMailAddr.OnClick = [this] { lblLangMailAddrClick(); };
  btnOk.OnClick = [this] { btnOkClick(); };
}

void TfrmInfo::LoadFlag() {
  imgLang.Transparent = true;
  imgLang.FileName.clear();
  imgLang.SetVisible(false);
  // The built-in German texts have no file and no flag.
  if (LanguageName.empty()) return;
  const std::string path = LanguageFile(LanguageName, ".bmp");
  int w = 0, h = 0;
  // A missing or damaged picture leaves the place empty.
  if (!ReadBitmapSize(path, w, h)) return;
  imgLang.FileName = path;
  imgLang.SetBounds(kFlagRight - w, imgLang.Top, w, h);
  imgLang.SetVisible(true);
}

std::string TfrmInfo::VersionTail() const {
  const std::string& v = lblVersion.Caption();
  return v.substr(Utf8Offset(v, 8));
}

void TfrmInfo::lblHomePageClick() { OpenWebPage(lblHomePage.Caption()); }

void TfrmInfo::lblLangHomePageClick() { OpenWebPage(lblLangHomePage.Caption()); }

void TfrmInfo::lblMailAddrClick() {
  OpenMailLink(MailtoLink(lblMailAddr.Caption(), lblTitle.Caption() + " " + VersionTail()));
}

void TfrmInfo::lblLangMailAddrClick() {
  OpenMailLink(MailtoLink(lblLangMailAddr.Caption(), grpLang.Caption() + ": " +
                                                         lblTitle.Caption() + " " + VersionTail()));
}

void TfrmInfo::btnOkClick() { Closed = true; }

std::vector<TControl*> TfrmInfo::AllControls() {
  return {&imgIcon,        &lblTitle,      &lblDescription, &lblVersion,        &lblCopyright,
          &lblRights,      &lblData,       &lblHome,       &lblHomePage,    &lblMail,           &lblMailAddr,
          &grpLang,        &imgLang,       &lblLang,        &lblLangAuthor,     &lblLangAuthorName,
          &lblLangHome,    &lblLangHomePage, &lblLangMail,  &lblLangMailAddr,   &btnOk};
}

}  // namespace quovix
