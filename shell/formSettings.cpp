// The options dialog: creation, enable rules, the DNS default, the font
// choice and the OK steps that carry the controls back into the settings.
#include "shell/formSettings.h"

#include "app/fShared.h"
#include "app/formMain.h"
#include "common/fEthernetAddr.h"
#include "common/fMain.h"
#include "platform/BrowserIntegration.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"

namespace quovix {

namespace {

const char* const kSettings = "Settings";
const char* const kDnsServerList = "DnsServerList";
// The browser's class for extensions that start a program.
const char* const kIEExecClsid = "{1FBA04EE-3024-11d2-8F1F-0000F87ABD16}";

// Design-time lists and the item selected when the value is not among them.
const std::vector<std::string> kMaxRecentItemsList = {"5",  "10", "15", "20", "25",
                                                      "30", "40", "50", "75", "100"};
constexpr int kMaxRecentItemsDesign = 5;  // "30"
const std::vector<std::string> kNameResTimeoutList = {"100",  "250",  "500",  "1000", "1500",
                                                      "2000", "3000", "5000", "7500", "10000"};
constexpr int kNameResTimeoutDesign = 5;  // "2000"

// The item whose text is the number, or the design-time item.
void SelectNumber(TComboBox& combo, int value, int designIndex) {
  int i = combo.IndexOf(std::to_string(value));
  combo.SetItemIndex(i >= 0 ? i : designIndex);
}

int SelectedNumber(const TComboBox& combo, int current) {
  int i = combo.ItemIndex();
  if (i < 0 || i >= combo.Count()) return current;
  return StrToIntDef(combo.Items()[i], current);
}

std::string ProgramFile() { return ProgramFolder + "Quovix"; }

}  // namespace

TfrmSettings::TfrmSettings(TfrmMain& owner) : owner_(owner) {
  cmbMaxRecentItems.SetItems(kMaxRecentItemsList);
  cmbMaxRecentItems.SetItemIndex(kMaxRecentItemsDesign);
  cmbNameResTimeout.SetItems(kNameResTimeoutList);
  cmbNameResTimeout.SetItemIndex(kNameResTimeoutDesign);
  cmbDns.Delimiter = '\x01';
  txtFontName.ReadOnly = true;
  txtFontName.Grey = true;
  lblFontTemplate.SetVisible(false);
  optIEIntAllUsers.Group = optIEIntActUser.Group = {&optIEIntAllUsers, &optIEIntActUser};
  optIEIntActUser.SetCheckedSilently(true);
  chkIEIntMenu.SetCheckedSilently(true);
  chkIEIntButton.SetCheckedSilently(true);
  btnOk.Default = true;

  btnDnsDefault.OnClick = [this] { btnDnsDefaultClick(); };
  btnFontSel.OnClick = [this] { btnFontSelClick(); };
  chkUseHttpProxy.OnClick = [this] { chkUseHttpProxyClick(); };
  chkIEIntActive.OnClick = [this] { chkIEIntActiveClick(); };
  btnOk.OnClick = [this] { btnOkClick(); };
  btnCancel.OnClick = [this] { btnCancelClick(); };

  // 1.
  ApplyTexts();
  // 2.
  SelectNumber(cmbMaxRecentItems, MaxRecentItems, kMaxRecentItemsDesign);
  SelectNumber(cmbNameResTimeout, NameResTimeout, kNameResTimeoutDesign);
  // 3.
  chkUseHttpProxy.SetCheckedSilently(HttpProxyUseProxy);
  txtProxyServer.SetText(HttpProxyServerName);
  udProxyPort.SetPosition(HttpProxyServerPort);
  txtProxyUsername.SetText(HttpProxyUsername);
  txtProxyPassword.SetText(HttpProxyPassword);
  chkUseHttpProxyClick();
  // 4.
  cmbDns.SetItems(ReadHistoryList(IniFilePath, kDnsServerList));
  if (cmbDns.Count() == 0) btnDnsDefaultClick();
  cmbDns.SetText(ActiveDnsServerIP);
  // 5.
  chkIEIntActive.SetCheckedSilently(IniReadBool(IniFilePath, kSettings, "IEIntActive", false));
  chkIEIntActiveClick();
  const bool forAll = IniReadBool(IniFilePath, kSettings, "IEIntForAll", false);
  optIEIntAllUsers.SetCheckedSilently(forAll);
  optIEIntActUser.SetCheckedSilently(!forAll);
  chkIEIntMenu.SetCheckedSilently(IniReadBool(IniFilePath, kSettings, "IEIntMenu", true));
  chkIEIntButton.SetCheckedSilently(IniReadBool(IniFilePath, kSettings, "IEIntButton", true));
  // Where the platform has no browser integration the group would promise
  // something that does not exist: it is hidden, its stored keys kept.
  if (!platform::BrowserIntegration().Offered())
    for (TControl* c : std::initializer_list<TControl*>{&grpIEInt, &chkIEIntActive,
                                                        &optIEIntAllUsers, &optIEIntActUser,
                                                        &chkIEIntMenu, &chkIEIntButton})
      c->SetVisible(false);
  // 6.
  txtExtIpUrl.SetText(ExtIpUrl);
  lblFontTemplate.FontName = OutputFontName;
  lblFontTemplate.FontSize = OutputFontSize;
  lblFontTemplate.FontCharset = OutputFontCharset;
  ShowFont({OutputFontName, OutputFontSize, OutputFontCharset});
}

void TfrmSettings::ApplyTexts() {
  // The main window has read the dialog font from the same keys.
  FontName = owner_.FontName;
  FontSize = owner_.FontSize;
  Caption = LangText("Opt|frmTitle", "Optionen");
  lblMaxRecentItems.SetCaption(LangText(
      "Opt|lblMaxRecentItems", "&Maximale Anzahl der zuletzt eingegebenen Hostnamen / IP-Adressen:"));
  lblNameResTimeout.SetCaption(LangText(
      "Opt|lblNameResTimeout", "&Timeout für die Auflösung von Hostnamen und IP-Adressen:"));
  lblDns.SetCaption(LangText("Opt|lblDns", "&DNS-Server:"));
  btnDnsDefault.SetCaption(LangText("Opt|btnDnsDefault", "Standard &verwenden"));
  lblExtIpUrl.SetCaption(LangText("Opt|lblExtIpUrl", "&URL für externe IP:"));
  lblFont.SetCaption(LangText("Opt|lblFont", "Ausgabe&schrift:"));
  btnFontSelHint = LangText("Opt|btnFontSel", "Schriftart auswählen...");
  grpHttpProxy.SetCaption(LangText("Opt|grpHttpProxy", "HTTP-Proxy"));
  chkUseHttpProxy.SetCaption(LangText("Opt|chkUseHttpProxy", "HTTP-Pro&xy verwenden"));
  lblProxyServer.SetCaption(LangText("Opt|lblProxyServer", "Proxy-Se&rver:"));
  lblProxyPort.SetCaption(LangText("Opt|lblProxyPort", "&Port:"));
  lblProxyUsername.SetCaption(LangText("Opt|lblProxyUsername", "&Benutzername:"));
  lblProxyPassword.SetCaption(LangText("Opt|lblProxyPassword", "Pass&wort:"));
  grpIEInt.SetCaption(LangText("Opt|grpIEInt", "Internet Explorer Integration"));
  chkIEIntActive.SetCaption(
      LangText("Opt|chkIEIntActive", "Internet Explorer Integration &aktivieren"));
  optIEIntAllUsers.SetCaption(LangText("Opt|optIEIntAllUsers", "Für a&lle Benutzer"));
  optIEIntActUser.SetCaption(LangText("Opt|optIEIntActUser", "&Nur für den aktuellen Benutzer"));
  chkIEIntMenu.SetCaption(LangText("Opt|chkIEIntMenu", "Menüeintrag unter \"Extras\" an&zeigen"));
  chkIEIntButton.SetCaption(
      LangText("Opt|chkIEIntButton", "Schaltfläche in der Symbolleiste anzei&gen"));
  btnOk.SetCaption(LangText("General|btnOk", "&Ok"));
  btnCancel.SetCaption(LangText("General|btnCancel", "Abbre&chen"));
}

void TfrmSettings::ShowFont(const TFontChoice& f) {
  if (f.Name.empty()) {
    txtFontName.SetText(LangText("Opt|txtFontDesktop", "Schrift des Desktops"));
    return;
  }
  txtFontName.SetText(
      LangText("Opt|txtFontName", "%s1%, %s2% pt", {f.Name, std::to_string(f.Size)}));
}

void TfrmSettings::chkUseHttpProxyClick() {
  const bool on = chkUseHttpProxy.Checked();
  for (TControl* c : std::initializer_list<TControl*>{
           &lblProxyServer, &txtProxyServer, &lblProxyPort, &txtProxyPort, &udProxyPort,
           &lblProxyUsername, &txtProxyUsername, &lblProxyPassword, &txtProxyPassword})
    c->SetEnabled(on);
}

void TfrmSettings::chkIEIntActiveClick() {
  const bool on = chkIEIntActive.Checked();
  optIEIntAllUsers.SetEnabled(on && IsUserAdmin());
  optIEIntActUser.SetEnabled(on);
  chkIEIntMenu.SetEnabled(on);
  chkIEIntButton.SetEnabled(on);
}

void TfrmSettings::btnDnsDefaultClick() {
  // Added from the last to the first, so the system's first server ends on
  // top; IPv6 servers of the system's list too.
  const std::vector<std::string> servers = AllSystemDnsServers();
  for (auto it = servers.rbegin(); it != servers.rend(); ++it) owner_.AddRecentItem(cmbDns, *it);
  cmbDns.SetText(FirstSystemDnsServer());
}

void TfrmSettings::btnFontSelClick() {
  if (!dlgFontExecute) return;
  TFontChoice f{lblFontTemplate.FontName, lblFontTemplate.FontSize, lblFontTemplate.FontCharset};
  if (!dlgFontExecute(f) || Trim(f.Name).empty() || f.Size <= 0) return;
  lblFontTemplate.FontName = f.Name;
  lblFontTemplate.FontSize = f.Size;
  lblFontTemplate.FontCharset = f.Charset;
  ShowFont(f);
}

void TfrmSettings::btnOkClick() {
  // 1.
  MaxRecentItems = SelectedNumber(cmbMaxRecentItems, MaxRecentItems);
  NameResTimeout = SelectedNumber(cmbNameResTimeout, NameResTimeout);
  // 2. Blanks around a typed address would make every query of the DNS
  // tool fail; the history drops them too.
  ActiveDnsServerIP = Trim(cmbDns.Text());
  // 3.
  HttpProxyUseProxy = chkUseHttpProxy.Checked();
  HttpProxyServerName = txtProxyServer.Text();
  HttpProxyServerPort = udProxyPort.Position();
  HttpProxyUsername = txtProxyUsername.Text();
  HttpProxyPassword = txtProxyPassword.Text();
  // 4.
  owner_.AddRecentItem(cmbDns, cmbDns.Text());
  bool written = WriteHistoryList(IniFilePath, kDnsServerList, cmbDns.Items());
  // 5.
  ExtIpUrl = txtExtIpUrl.Text();
  // 6.
  written = IniWriteBool(IniFilePath, kSettings, "IEIntActive", chkIEIntActive.Checked()) && written;
  written = IniWriteBool(IniFilePath, kSettings, "IEIntForAll", optIEIntAllUsers.Checked()) && written;
  written = IniWriteBool(IniFilePath, kSettings, "IEIntMenu", chkIEIntMenu.Checked()) && written;
  written = IniWriteBool(IniFilePath, kSettings, "IEIntButton", chkIEIntButton.Checked()) && written;
  if (!written) ReportSettingsProblem(false, IniFilePath);
  // 7.
  WriteBrowserIntegration();
  // 8.
  OutputFontName = lblFontTemplate.FontName;
  OutputFontSize = lblFontTemplate.FontSize;
  OutputFontCharset = lblFontTemplate.FontCharset;
  ModalResult = TModalResult::Ok;
}

void TfrmSettings::btnCancelClick() { ModalResult = TModalResult::Cancel; }

void TfrmSettings::WriteBrowserIntegration() {
  // Failures (no rights, no such key, no registry at all) are not reported:
  // the settings above are kept either way.
  platform::IBrowserIntegration& reg = platform::BrowserIntegration();
  if (!reg.Offered()) return;
  const bool admin = IsUserAdmin();
  const std::string key = std::string(kIEExtensionsKey) + "\\" + kIEExtensionGuid;
  if (!chkIEIntActive.Checked()) {
    if (admin) reg.DeleteKey("LM", key);
    reg.DeleteKey("CU", key);
    return;
  }
  const std::string root = admin && optIEIntAllUsers.Checked() ? "LM" : "CU";
  const std::string program = ProgramFile();
  const std::string title = owner_.ApplicationTitle;
  const std::string description = GetVersionInfoValue(program, "FileDescription");
  const std::string icon = "\"" + program + "\",1";
  reg.WriteString(root, key, "CLSID", kIEExecClsid);
  reg.WriteString(root, key, "ButtonText", title + " - " + description);
  reg.WriteString(root, key, "Exec", "\"" + program + "\"");
  reg.WriteString(root, key, "Icon", icon);
  reg.WriteString(root, key, "HotIcon", icon);
  if (chkIEIntButton.Checked()) {
    reg.WriteString(root, key, "Default Visible", "Yes");
  } else {
    reg.WriteString(root, key, "Default Visible", "No");
    const std::string mapping = std::string(kIEExtensionsKey) + "\\CmdMapping";
    if (admin) reg.DeleteValue("LM", mapping, kIEExtensionGuid);
    reg.DeleteValue("CU", mapping, kIEExtensionGuid);
  }
  if (chkIEIntMenu.Checked()) {
    reg.WriteString(root, key, "MenuText", title);
    reg.WriteString(root, key, "MenuStatusBar", description + ".");
  } else {
    reg.DeleteValue(root, key, "MenuText");
    reg.DeleteValue(root, key, "MenuStatusBar");
  }
  if (root == "LM")
    reg.DeleteKey("CU", key);
  else if (admin)
    reg.DeleteKey("LM", key);
}

std::vector<TControl*> TfrmSettings::AllControls() {
  return {&lblMaxRecentItems, &cmbMaxRecentItems, &lblNameResTimeout, &cmbNameResTimeout,
          &lblDns,            &cmbDns,            &btnDnsDefault,     &lblExtIpUrl,
          &txtExtIpUrl,       &lblFont,           &txtFontName,       &btnFontSel,
          &lblFontTemplate,   &grpHttpProxy,      &chkUseHttpProxy,   &lblProxyServer,
          &txtProxyServer,    &lblProxyPort,      &txtProxyPort,      &udProxyPort,
          &lblProxyUsername,  &txtProxyUsername,  &lblProxyPassword,  &txtProxyPassword,
          &grpIEInt,          &chkIEIntActive,    &optIEIntAllUsers,  &optIEIntActUser,
          &chkIEIntMenu,      &chkIEIntButton,    &btnOk,             &btnCancel};
}

}  // namespace quovix
