// The options dialog as a toolkit-free model: it edits the program-wide
// settings held in memory. Created for one modal showing by the main window;
// the view binds its widgets to the controls and calls the handlers.
#pragma once

#include <functional>
#include <string>

#include "app/Controls.h"
#include "app/DialogControls.h"

namespace quovix {

class TfrmMain;

// A font as the dialog passes it around.
struct TFontChoice {
  std::string Name;
  int Size = 0;  // points
  int Charset = 0;
};

// The key of this program's extension below a root of the browser's registry.
inline constexpr const char* kIEExtensionGuid = "{E2075F5E-6D6B-437D-A671-7DCC2CD4EBEA}";
inline constexpr const char* kIEExtensionsKey = "Software\\Microsoft\\Internet Explorer\\Extensions";

class TfrmSettings {
 public:
  // Runs the creation steps: texts, then the values from memory and file.
  explicit TfrmSettings(TfrmMain& owner);
  TfrmSettings(const TfrmSettings&) = delete;
  TfrmSettings& operator=(const TfrmSettings&) = delete;

  enum class TModalResult { None, Ok, Cancel };
  TModalResult ModalResult = TModalResult::None;

  std::string Caption;
  std::string FontName;
  int FontSize = 8;

  TLabel lblMaxRecentItems{"lblMaxRecentItems"};
  TComboBox cmbMaxRecentItems{"cmbMaxRecentItems", TComboStyle::DropDownList};
  TLabel lblNameResTimeout{"lblNameResTimeout"};
  TComboBox cmbNameResTimeout{"cmbNameResTimeout", TComboStyle::DropDownList};
  TLabel lblDns{"lblDns"};
  TComboBox cmbDns{"cmbDns", TComboStyle::DropDown, 256};
  TButton btnDnsDefault{"btnDnsDefault"};
  TLabel lblExtIpUrl{"lblExtIpUrl"};
  TEdit txtExtIpUrl{"txtExtIpUrl"};
  TLabel lblFont{"lblFont"};
  TEdit txtFontName{"txtFontName"};
  TButton btnFontSel{"btnFontSel"};
  std::string btnFontSelHint;
  TFontLabel lblFontTemplate{"lblFontTemplate"};

  TGroupBox grpHttpProxy{"grpHttpProxy"};
  TCheckBox chkUseHttpProxy{"chkUseHttpProxy"};
  TLabel lblProxyServer{"lblProxyServer"};
  TEdit txtProxyServer{"txtProxyServer"};
  TLabel lblProxyPort{"lblProxyPort"};
  TEdit txtProxyPort{"txtProxyPort"};
  TUpDown udProxyPort{"udProxyPort", &txtProxyPort, 0, 65535};
  TLabel lblProxyUsername{"lblProxyUsername"};
  TEdit txtProxyUsername{"txtProxyUsername"};
  TLabel lblProxyPassword{"lblProxyPassword"};
  TEdit txtProxyPassword{"txtProxyPassword"};

  TGroupBox grpIEInt{"grpIEInt"};
  TCheckBox chkIEIntActive{"chkIEIntActive"};
  TRadioButton optIEIntAllUsers{"optIEIntAllUsers"};
  TRadioButton optIEIntActUser{"optIEIntActUser"};
  TCheckBox chkIEIntMenu{"chkIEIntMenu"};
  TCheckBox chkIEIntButton{"chkIEIntButton"};

  TButton btnOk{"btnOk"};
  TButton btnCancel{"btnCancel"};

  // The font dialog, restricted to fixed-pitch fonts: called with the font
  // to start from; true when the user chose one (written into the argument).
  // The view installs the real dialog; without one the button does nothing.
  std::function<bool(TFontChoice&)> dlgFontExecute;

  void btnDnsDefaultClick();
  void btnFontSelClick();
  void chkUseHttpProxyClick();
  void chkIEIntActiveClick();
  void btnOkClick();
  void btnCancelClick();  // also Esc

  // Every control in the order of the dialog, for the view and tests.
  std::vector<TControl*> AllControls();

 private:
  void ApplyTexts();
  void ShowFont(const TFontChoice& f);
  void WriteBrowserIntegration();

  TfrmMain& owner_;
};

}  // namespace quovix
