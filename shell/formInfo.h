// The about dialog as a toolkit-free model: program name, version, legal
// notice and author links, and a block describing the current language file
// with its flag picture.
#pragma once

#include <string>
#include <vector>

#include "app/Controls.h"
#include "app/DialogControls.h"

namespace quovix {

class TfrmMain;

class TfrmInfo {
 public:
  // Runs the creation steps.
  explicit TfrmInfo(TfrmMain& owner);
  TfrmInfo(const TfrmInfo&) = delete;
  TfrmInfo& operator=(const TfrmInfo&) = delete;

  std::string Caption;
  std::string FontName;
  int FontSize = 8;
  bool Closed = false;

  TImage imgIcon{"imgIcon"};
  TLabel lblTitle{"lblTitle"};
  TLabel lblDescription{"lblDescription"};
  TLabel lblVersion{"lblVersion"};
  TLabel lblCopyright{"lblCopyright"};
  TLabel lblRights{"lblRights"};
  // The publication dates of the RDAP bootstrap files in use.
  TLabel lblData{"lblData"};
  TLabel lblHome{"lblHome"};
  TLinkLabel lblHomePage{"lblHomePage"};
  TLabel lblMail{"lblMail"};
  TLinkLabel lblMailAddr{"lblMailAddr"};
  TGroupBox grpLang{"grpLang"};
  // Left is relative to the group's left edge: the picture's right edge sits
  // at kFlagRight.
  TImage imgLang{"imgLang"};
  static constexpr int kFlagRight = 80;
  TLabel lblLang{"lblLang"};
  TLabel lblLangAuthor{"lblLangAuthor"};
  TLabel lblLangAuthorName{"lblLangAuthorName"};
  TLabel lblLangHome{"lblLangHome"};
  TLinkLabel lblLangHomePage{"lblLangHomePage"};
  TLabel lblLangMail{"lblLangMail"};
  TLinkLabel lblLangMailAddr{"lblLangMailAddr"};
  TButton btnOk{"btnOk"};

  void lblHomePageClick();
  void lblMailAddrClick();
  void lblLangHomePageClick();
  void lblLangMailAddrClick();
  void btnOkClick();  // also Esc

  // The subject of the mail links: the version caption from its ninth
  // character on (where the number starts in "Version %s1%").
  std::string VersionTail() const;

  std::vector<TControl*> AllControls();

 private:
  void LoadFlag();
};

}  // namespace quovix
