// Options dialog: initial values, enable rules, the DNS default, the font
// choice, OK and Cancel, and the browser integration's calls.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/fShared.h"
#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/BrowserIntegration.h"
#include "platform/DnsConfig.h"
#include "platform/Privilege.h"
#include "shell/fLanguage.h"
#include "shell/formSettings.h"
#include "shell/gIni.h"

using namespace quovix;
namespace fs = std::filesystem;

namespace {

class FakeDns : public platform::IDnsConfig {
 public:
  std::vector<std::string> Servers;
  int Calls = 0;
  std::vector<std::string> NameServers() override {
    ++Calls;
    return Servers;
  }
};

class FakePrivilege : public platform::IPrivilege {
 public:
  bool Admin = false;
  bool IsAdministrator() override { return Admin; }
};

// Records every call as one line: "W LM path|name=value", "DK CU path",
// "DV CU path|name".
class RecordingIntegration : public platform::IBrowserIntegration {
 public:
  std::vector<std::string> Calls;
  bool WriteString(const std::string& root, const std::string& path, const std::string& name,
                   const std::string& value) override {
    Calls.push_back("W " + root + " " + path + "|" + name + "=" + value);
    return true;
  }
  bool DeleteKey(const std::string& root, const std::string& path) override {
    Calls.push_back("DK " + root + " " + path);
    return true;
  }
  bool DeleteValue(const std::string& root, const std::string& path,
                   const std::string& name) override {
    Calls.push_back("DV " + root + " " + path + "|" + name);
    return true;
  }
};

const std::string kExt =
    "Software\\Microsoft\\Internet Explorer\\Extensions\\{E2075F5E-6D6B-437D-A671-7DCC2CD4EBEA}";
const std::string kMapping = "Software\\Microsoft\\Internet Explorer\\Extensions\\CmdMapping";

class SettingsDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quovix-options-XXXXXX";
    dir_ = mkdtemp(tmpl);
    ProgramFolder = dir_.string() + "/";
    IniFilePath = (dir_ / "Quovix.ini").string();
    dns_.Servers = {"192.0.2.53", "192.0.2.54", "192.0.2.55"};
    Reset();
  }
  void TearDown() override {
    Reset();
    fs::remove_all(dir_);
  }
  static void Reset() {
    ResetSettingsValues();
    LanguageTable.clear();
    ActiveDnsServerIP = "198.51.100.7";
  }
  std::string IniText() const {
    std::ifstream in(IniFilePath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void WriteIni(const std::string& text) { std::ofstream(IniFilePath, std::ios::binary) << text; }

  fs::path dir_;
  TfrmMain main_;
  FakeDns dns_;
  FakePrivilege priv_;
  RecordingIntegration reg_;
  platform::ScopedSeam<platform::IDnsConfig> dnsSeam_{&dns_};
  platform::ScopedSeam<platform::IPrivilege> privSeam_{&priv_};
  platform::ScopedSeam<platform::IBrowserIntegration> regSeam_{&reg_};
};

}  // namespace

TEST_F(SettingsDialog, NumbersOutsideTheListsShowTheDesignItemAndAreSavedAsShown) {
  MaxRecentItems = 33;
  NameResTimeout = 1234;
  {
    TfrmSettings dlg(main_);
    EXPECT_EQ(dlg.cmbMaxRecentItems.Text(), "30");
    EXPECT_EQ(dlg.cmbNameResTimeout.Text(), "2000");
    dlg.btnOk.Click();
    EXPECT_EQ(dlg.ModalResult, TfrmSettings::TModalResult::Ok);
  }
  EXPECT_EQ(MaxRecentItems, 30);
  EXPECT_EQ(NameResTimeout, 2000);

  // Values in the lists are selected and a new choice is taken.
  MaxRecentItems = 75;
  NameResTimeout = 500;
  TfrmSettings dlg(main_);
  EXPECT_EQ(dlg.cmbMaxRecentItems.Text(), "75");
  EXPECT_EQ(dlg.cmbNameResTimeout.Text(), "500");
  dlg.cmbMaxRecentItems.SetItemIndex(dlg.cmbMaxRecentItems.IndexOf("5"));
  dlg.cmbNameResTimeout.SetItemIndex(dlg.cmbNameResTimeout.IndexOf("10000"));
  dlg.btnOk.Click();
  EXPECT_EQ(MaxRecentItems, 5);
  EXPECT_EQ(NameResTimeout, 10000);
}

TEST_F(SettingsDialog, EmptyServerListIsFilledFromTheSystemFirstServerOnTop) {
  TfrmSettings dlg(main_);
  EXPECT_EQ(dlg.cmbDns.Items(),
            (std::vector<std::string>{"192.0.2.53", "192.0.2.54", "192.0.2.55"}));
  EXPECT_EQ(dlg.cmbDns.Text(), "198.51.100.7");  // the active server, not the system's

  // "Standard verwenden" puts the system's servers back on top and shows the first.
  dlg.cmbDns.SetText("203.0.113.9");
  main_.AddRecentItem(dlg.cmbDns, "203.0.113.9");
  dns_.Servers = {"192.0.2.60", "192.0.2.53"};
  dlg.btnDnsDefault.Click();
  EXPECT_EQ(dlg.cmbDns.Items(), (std::vector<std::string>{"192.0.2.60", "192.0.2.53",
                                                           "203.0.113.9", "192.0.2.54",
                                                           "192.0.2.55"}));
  EXPECT_EQ(dlg.cmbDns.Text(), "192.0.2.60");

  // Without any system server the list stays as it is and the text empties.
  dns_.Servers.clear();
  dlg.btnDnsDefault.Click();
  EXPECT_EQ(dlg.cmbDns.Count(), 5);
  EXPECT_EQ(dlg.cmbDns.Text(), "");
}

// The resolver configuration's IPv6 servers are offered beside the IPv4
// ones, in its order, and may be chosen.
TEST_F(SettingsDialog, Ipv6ServersOfTheResolverConfigurationAreOffered) {
  const fs::path conf = fs::temp_directory_path() / ("quovix-resolv-" + std::to_string(getpid()));
  std::ofstream(conf) << "nameserver 2001:DB8::53\nnameserver 192.0.2.53\n"
                         "nameserver fe80::1%lo\nnameserver [2001:db8::54]\n";
  platform::LinuxDnsConfig system(conf.string(), (conf.string() + ".none"));
  platform::ScopedSeam<platform::IDnsConfig> seam{&system};
  {
    TfrmSettings dlg(main_);
    EXPECT_EQ(dlg.cmbDns.Items(),
              (std::vector<std::string>{"2001:db8::53", "192.0.2.53", "fe80::1%lo"}));
    dlg.cmbDns.SetText("");
    dlg.btnDnsDefault.Click();
    EXPECT_EQ(dlg.cmbDns.Text(), "2001:db8::53");
    dlg.btnOk.Click();
  }
  EXPECT_EQ(ActiveDnsServerIP, "2001:db8::53");
  fs::remove(conf);
}

TEST_F(SettingsDialog, StoredServerListIsShownAndOkWritesItAtOnce) {
  WriteIni("[DnsServerList]\nItem=2\nItem1=192.0.2.1\nItem2=\" 192.0.2.2 \"\n");
  {
    TfrmSettings dlg(main_);
    EXPECT_EQ(dns_.Calls, 0);  // the system is not asked when a list is stored
    EXPECT_EQ(dlg.cmbDns.Items(), (std::vector<std::string>{"192.0.2.1", "192.0.2.2"}));
    dlg.cmbDns.SetText("  192.0.2.2");
    dlg.btnOk.Click();
  }
  // The typed text without its blanks becomes the active server; the list
  // has it on top.
  EXPECT_EQ(ActiveDnsServerIP, "192.0.2.2");
  EXPECT_EQ(ReadHistoryList(IniFilePath, "DnsServerList"),
            (std::vector<std::string>{"192.0.2.2", "192.0.2.1"}));
  // The general settings wait for the main window's close.
  EXPECT_EQ(IniText().find("ActiveDnsServerIP"), std::string::npos);
  for (const char* key : {"IEIntActive=0", "IEIntForAll=0", "IEIntMenu=1", "IEIntButton=1"})
    EXPECT_NE(IniText().find(key), std::string::npos) << key;
}

TEST_F(SettingsDialog, ProxyControlsFollowTheirBoxAndThePortStaysInRange) {
  HttpProxyServerName = "proxy.example";
  HttpProxyServerPort = 3128;
  HttpProxyUsername = "user";
  HttpProxyPassword = "sec ret";
  TfrmSettings dlg(main_);
  EXPECT_EQ(dlg.txtProxyPort.Text(), "3128");
  EXPECT_EQ(dlg.txtProxyPassword.Text(), "sec ret");
  std::vector<TControl*> proxy = {&dlg.lblProxyServer,   &dlg.txtProxyServer, &dlg.lblProxyPort,
                                  &dlg.txtProxyPort,     &dlg.udProxyPort,    &dlg.lblProxyUsername,
                                  &dlg.txtProxyUsername, &dlg.lblProxyPassword,
                                  &dlg.txtProxyPassword};
  for (TControl* c : proxy) EXPECT_FALSE(c->Enabled()) << c->Name;
  dlg.chkUseHttpProxy.Toggle();
  for (TControl* c : proxy) EXPECT_TRUE(c->Enabled()) << c->Name;

  dlg.txtProxyPort.SetText("70000");
  EXPECT_EQ(dlg.udProxyPort.Position(), 65535);  // every TCP port, no more
  dlg.txtProxyPort.SetText("8080");
  EXPECT_EQ(dlg.udProxyPort.Position(), 8080);
  dlg.txtProxyPort.SetText("80x");  // no number: the last position stands
  dlg.txtProxyServer.SetText("other.example");
  dlg.btnOk.Click();
  EXPECT_TRUE(HttpProxyUseProxy);
  EXPECT_EQ(HttpProxyServerPort, 8080);
  EXPECT_EQ(HttpProxyServerName, "other.example");
}

TEST_F(SettingsDialog, IntegrationBoxesFollowActivationAndAdministrator) {
  {
    TfrmSettings dlg(main_);
    EXPECT_FALSE(dlg.chkIEIntActive.Checked());
    EXPECT_TRUE(dlg.optIEIntActUser.Checked());
    EXPECT_TRUE(dlg.chkIEIntMenu.Checked());
    EXPECT_TRUE(dlg.chkIEIntButton.Checked());
    for (TControl* c : std::vector<TControl*>{&dlg.optIEIntAllUsers, &dlg.optIEIntActUser,
                                              &dlg.chkIEIntMenu, &dlg.chkIEIntButton})
      EXPECT_FALSE(c->Enabled()) << c->Name;
    dlg.chkIEIntActive.Toggle();
    EXPECT_FALSE(dlg.optIEIntAllUsers.Enabled());  // not an administrator
    EXPECT_TRUE(dlg.optIEIntActUser.Enabled());
    EXPECT_TRUE(dlg.chkIEIntMenu.Enabled());
    EXPECT_TRUE(dlg.chkIEIntButton.Enabled());
  }
  priv_.Admin = true;
  WriteIni("[Settings]\nIEIntActive=1\nIEIntForAll=1\nIEIntMenu=0\n");
  TfrmSettings dlg(main_);
  EXPECT_TRUE(dlg.optIEIntAllUsers.Enabled());
  EXPECT_TRUE(dlg.optIEIntAllUsers.Checked());
  EXPECT_FALSE(dlg.optIEIntActUser.Checked());
  EXPECT_FALSE(dlg.chkIEIntMenu.Checked());
  dlg.optIEIntActUser.Select();
  EXPECT_FALSE(dlg.optIEIntAllUsers.Checked());
}

TEST_F(SettingsDialog, IntegrationForAllUsersWritesTheMachineKeyAndRemovesTheUsersOne) {
  priv_.Admin = true;
  main_.ApplicationTitle = "Quovix";
  TfrmSettings dlg(main_);
  dlg.chkIEIntActive.Toggle();
  dlg.optIEIntAllUsers.Select();
  dlg.btnOk.Click();
  const std::string program = ProgramFolder + "Quovix";
  const std::string description = GetVersionInfoValue(program, "FileDescription");
  ASSERT_FALSE(description.empty());
  EXPECT_EQ(reg_.Calls, (std::vector<std::string>{
                            "W LM " + kExt + "|CLSID={1FBA04EE-3024-11d2-8F1F-0000F87ABD16}",
                            "W LM " + kExt + "|ButtonText=Quovix - " + description,
                            "W LM " + kExt + "|Exec=\"" + program + "\"",
                            "W LM " + kExt + "|Icon=\"" + program + "\",1",
                            "W LM " + kExt + "|HotIcon=\"" + program + "\",1",
                            "W LM " + kExt + "|Default Visible=Yes",
                            "W LM " + kExt + "|MenuText=Quovix",
                            "W LM " + kExt + "|MenuStatusBar=" + description + ".",
                            "DK CU " + kExt,
                        }));
  EXPECT_NE(IniText().find("IEIntForAll=1"), std::string::npos);
}

TEST_F(SettingsDialog, SwitchingToTheCurrentUserRemovesTheMachineKeyForAnAdministrator) {
  priv_.Admin = true;
  WriteIni("[Settings]\nIEIntActive=1\nIEIntForAll=1\n");
  TfrmSettings dlg(main_);
  dlg.optIEIntActUser.Select();
  dlg.chkIEIntButton.Toggle();
  dlg.chkIEIntMenu.Toggle();
  dlg.btnOk.Click();
  ASSERT_EQ(reg_.Calls.size(), 11u);
  EXPECT_EQ(reg_.Calls[0].substr(0, 5), "W CU ");
  EXPECT_EQ(reg_.Calls[5], "W CU " + kExt + "|Default Visible=No");
  EXPECT_EQ(reg_.Calls[6], "DV LM " + kMapping + "|{E2075F5E-6D6B-437D-A671-7DCC2CD4EBEA}");
  EXPECT_EQ(reg_.Calls[7], "DV CU " + kMapping + "|{E2075F5E-6D6B-437D-A671-7DCC2CD4EBEA}");
  EXPECT_EQ(reg_.Calls[8], "DV CU " + kExt + "|MenuText");
  EXPECT_EQ(reg_.Calls[9], "DV CU " + kExt + "|MenuStatusBar");
  EXPECT_EQ(reg_.Calls[10], "DK LM " + kExt);
  EXPECT_NE(IniText().find("IEIntForAll=0"), std::string::npos);
}

TEST_F(SettingsDialog, StoredAllUsersChoiceOfANonAdministratorWritesForTheUserOnly) {
  WriteIni("[Settings]\nIEIntActive=1\nIEIntForAll=1\nIEIntButton=0\n");
  TfrmSettings dlg(main_);
  dlg.btnOk.Click();
  for (const std::string& c : reg_.Calls) EXPECT_EQ(c.find(" LM "), std::string::npos) << c;
  EXPECT_EQ(reg_.Calls.front().substr(0, 5), "W CU ");
  EXPECT_NE(std::find(reg_.Calls.begin(), reg_.Calls.end(),
                      "DV CU " + kMapping + "|{E2075F5E-6D6B-437D-A671-7DCC2CD4EBEA}"),
            reg_.Calls.end());
  // The stored choice itself stays.
  EXPECT_NE(IniText().find("IEIntForAll=1"), std::string::npos);
}

TEST_F(SettingsDialog, UncheckingTheIntegrationRemovesBothKeys) {
  WriteIni("[Settings]\nIEIntActive=1\n");
  {
    TfrmSettings dlg(main_);
    dlg.chkIEIntActive.Toggle();
    dlg.btnOk.Click();
  }
  EXPECT_EQ(reg_.Calls, (std::vector<std::string>{"DK CU " + kExt}));
  reg_.Calls.clear();
  priv_.Admin = true;
  TfrmSettings dlg(main_);
  dlg.btnOk.Click();
  EXPECT_EQ(reg_.Calls, (std::vector<std::string>{"DK LM " + kExt, "DK CU " + kExt}));
  EXPECT_NE(IniText().find("IEIntActive=0"), std::string::npos);
}

TEST_F(SettingsDialog, LinuxHasNoBrowserRegistryAndSaysSo) {
  platform::ScopedSeam<platform::IBrowserIntegration> real(nullptr);
  platform::IBrowserIntegration& reg = platform::BrowserIntegration();
  EXPECT_FALSE(reg.WriteString("CU", kExt, "CLSID", "x"));
  EXPECT_FALSE(reg.DeleteValue("CU", kExt, "CLSID"));
  EXPECT_FALSE(reg.DeleteKey("CU", kExt));
  // The group is hidden; the INI keys are written regardless.
  TfrmSettings dlg(main_);
  EXPECT_FALSE(dlg.grpIEInt.Visible());
  EXPECT_FALSE(dlg.chkIEIntActive.Visible());
  dlg.chkIEIntActive.Toggle();
  dlg.btnOk.Click();
  EXPECT_NE(IniText().find("IEIntActive=1"), std::string::npos);
}

TEST_F(SettingsDialog, FontChoiceReachesThePanesOnlyThroughOk) {
  std::vector<TFontChoice> offered;
  auto chooser = [&](TFontChoice& f) {
    offered.push_back(f);
    f = {"DejaVu Sans Mono", 12, 0};
    return true;
  };
  // Cancel after a change leaves the output font.
  main_.ShowSettingsDialog = [&] {
    TfrmSettings dlg(main_);
    EXPECT_EQ(dlg.txtFontName.Text(), "Schrift des Desktops");  // none chosen yet
    EXPECT_TRUE(dlg.txtFontName.ReadOnly);
    dlg.dlgFontExecute = chooser;
    dlg.btnFontSel.Click();
    EXPECT_EQ(dlg.txtFontName.Text(), "DejaVu Sans Mono, 12 pt");
    dlg.btnCancel.Click();
    return dlg.ModalResult == TfrmSettings::TModalResult::Ok;
  };
  main_.mnuExtrasSettingsClick();
  ASSERT_EQ(offered.size(), 1u);
  EXPECT_EQ(offered[0].Name, "");
  EXPECT_EQ(offered[0].Size, 0);
  EXPECT_EQ(OutputFontName, "");
  EXPECT_EQ(OutputFontSize, 0);
  EXPECT_EQ(main_.reDns.FontName, "");

  // A dialog the user left without a choice changes nothing either.
  main_.ShowSettingsDialog = [&] {
    TfrmSettings dlg(main_);
    dlg.dlgFontExecute = [](TFontChoice& f) {
      f = {"Other", 20, 0};
      return false;
    };
    dlg.btnFontSel.Click();
    EXPECT_EQ(dlg.txtFontName.Text(), "Schrift des Desktops");
    dlg.dlgFontExecute = chooser;
    dlg.btnFontSel.Click();
    dlg.btnOk.Click();
    return dlg.ModalResult == TfrmSettings::TModalResult::Ok;
  };
  main_.mnuExtrasSettingsClick();
  EXPECT_EQ(OutputFontName, "DejaVu Sans Mono");
  EXPECT_EQ(OutputFontSize, 12);
  for (TRichEdit* pane : main_.OutputPanes()) {
    EXPECT_EQ(pane->FontName, "DejaVu Sans Mono") << pane->Name;
    EXPECT_EQ(pane->FontSize, 12) << pane->Name;
  }
}

TEST_F(SettingsDialog, CancelChangesNothing) {
  const std::string before = "[Settings]\nIEIntActive=1\n";
  WriteIni(before);
  TfrmSettings dlg(main_);
  dlg.cmbMaxRecentItems.SetItemIndex(0);
  dlg.cmbDns.SetText("203.0.113.1");
  dlg.txtExtIpUrl.SetText("http://127.0.0.1/ip");
  dlg.chkUseHttpProxy.Toggle();
  dlg.chkIEIntActive.Toggle();
  dlg.btnCancel.Click();
  EXPECT_EQ(dlg.ModalResult, TfrmSettings::TModalResult::Cancel);
  EXPECT_EQ(MaxRecentItems, 25);
  EXPECT_EQ(ActiveDnsServerIP, "198.51.100.7");
  EXPECT_EQ(ExtIpUrl, "");
  EXPECT_FALSE(HttpProxyUseProxy);
  EXPECT_EQ(IniText(), before);
  EXPECT_TRUE(reg_.Calls.empty());
}

TEST_F(SettingsDialog, TextsComeFromTheLanguageTable) {
  {
    TfrmSettings dlg(main_);
    EXPECT_EQ(dlg.Caption, "Optionen");
    EXPECT_EQ(dlg.btnDnsDefault.Caption(), "Standard &verwenden");
    EXPECT_EQ(dlg.chkIEIntMenu.Caption(), "Menüeintrag unter \"Extras\" an&zeigen");
    EXPECT_EQ(dlg.btnCancel.Caption(), "Abbre&chen");
    EXPECT_EQ(dlg.btnFontSelHint, "Schriftart auswählen...");
  }
  ASSERT_GT(LoadLanguageFile(std::string(QUOVIX_SOURCE_DIR) + "/lang/English.lng"), 0);
  TfrmSettings dlg(main_);
  EXPECT_EQ(dlg.Caption, "Options");
  EXPECT_EQ(dlg.btnDnsDefault.Caption(), "Use d&efault");
  EXPECT_EQ(dlg.txtFontName.Text(), "Desktop font");
  EXPECT_EQ(dlg.btnCancel.Caption(), "&Cancel");
}
