// The Qt views of the options and about dialogs, offscreen: every control
// has its widget, widgets and model follow each other, and the main window's
// menu handlers open the dialogs modally.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/DnsConfig.h"
#include "../support/FixedDnsConfig.h"
#include "shell/fLanguage.h"
#include "shell/formInfo.h"
#include "shell/formSettings.h"
#include "shell/gIni.h"
#include "ui/Dialogs.h"
#include "ui/InfoDialog.h"
#include "ui/SettingsDialog.h"

using namespace quovix;
namespace fs = std::filesystem;

namespace {

void PressKey(QWidget* w, int key) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
  QApplication::sendEvent(w, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
  QApplication::sendEvent(w, &release);
}

// Runs action on the modal dialog once the event loop has shown it.
void OnModal(std::function<void(QWidget*)> action) {
  QTimer::singleShot(0, [action] {
    QWidget* w = QApplication::activeModalWidget();
    ASSERT_NE(w, nullptr) << "no modal dialog open";
    action(w);
  });
}

class DialogViews : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quovix-dialog-view-XXXXXX";
    dir_ = mkdtemp(tmpl);
    fs::create_directories(dir_ / "Language");
    ProgramFolder = dir_.string() + "/";
    IniFilePath = ProgramFolder + "Quovix.ini";
    LanguageName.clear();
    LanguageTable.clear();
    OutputFontName = "Courier New";
    OutputFontSize = 9;
    MaxRecentItems = 25;
    HttpProxyUseProxy = false;
    ActiveDnsServerIP = "192.0.2.53";
  }
  void TearDown() override {
    LanguageName.clear();
    LanguageTable.clear();
    fs::remove_all(dir_);
  }
  fs::path dir_;
  TfrmMain form_;
  test::FixedDnsConfig dns_;
  platform::ScopedSeam<platform::IDnsConfig> dnsSeam_{&dns_};
};

template <class W>
W* As(QWidget* w, const TControl& c) {
  auto* typed = qobject_cast<W*>(w);
  EXPECT_NE(typed, nullptr) << c.Name;
  return typed;
}

}  // namespace

TEST_F(DialogViews, OptionsDialogShowsEveryControlAndFollowsTheModel) {
  TfrmSettings model(form_);
  ui::SettingsDialog view(model, nullptr);
  for (TControl* c : model.AllControls()) EXPECT_NE(view.WidgetOf(*c), nullptr) << c->Name;
  view.show();
  EXPECT_EQ(view.windowTitle(), "Optionen");
  auto* chkProxy = As<QCheckBox>(view.WidgetOf(model.chkUseHttpProxy), model.chkUseHttpProxy);
  auto* server = As<QLineEdit>(view.WidgetOf(model.txtProxyServer), model.txtProxyServer);
  auto* port = As<QSpinBox>(view.WidgetOf(model.udProxyPort), model.udProxyPort);
  auto* cmbMax = As<QComboBox>(view.WidgetOf(model.cmbMaxRecentItems), model.cmbMaxRecentItems);
  auto* cmbDns = As<QComboBox>(view.WidgetOf(model.cmbDns), model.cmbDns);
  auto* font = As<QLineEdit>(view.WidgetOf(model.txtFontName), model.txtFontName);
  ASSERT_TRUE(chkProxy && server && port && cmbMax && cmbDns && font);
  EXPECT_EQ(cmbMax->currentText(), "25");
  EXPECT_EQ(cmbDns->currentText(), "192.0.2.53");
  EXPECT_TRUE(font->isReadOnly());
  EXPECT_EQ(font->text(), "Courier New, 9 pt");
  EXPECT_FALSE(view.WidgetOf(model.lblFontTemplate)->isVisible());
  EXPECT_FALSE(port->isEnabled());
  EXPECT_FALSE(port->isGroupSeparatorShown());
  EXPECT_EQ(port->maximum(), 65535);
  auto* password = As<QLineEdit>(view.WidgetOf(model.txtProxyPassword), model.txtProxyPassword);
  ASSERT_TRUE(password);
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);

  chkProxy->click();
  EXPECT_TRUE(model.chkUseHttpProxy.Checked());
  EXPECT_TRUE(server->isEnabled());
  EXPECT_TRUE(port->isEnabled());
  server->setFocus();
  for (QChar ch : QString("proxy.test")) {
    QKeyEvent k(QEvent::KeyPress, 0, Qt::NoModifier, QString(ch));
    QApplication::sendEvent(server, &k);
  }
  EXPECT_EQ(model.txtProxyServer.Text(), "proxy.test");
  port->setValue(8080);
  EXPECT_EQ(model.udProxyPort.Position(), 8080);

  // Radio buttons: the model keeps the group.
  auto* chkIE = As<QCheckBox>(view.WidgetOf(model.chkIEIntActive), model.chkIEIntActive);
  auto* optUser = As<QRadioButton>(view.WidgetOf(model.optIEIntActUser), model.optIEIntActUser);
  ASSERT_TRUE(chkIE && optUser);
  EXPECT_FALSE(optUser->isEnabled());
  chkIE->click();
  EXPECT_TRUE(optUser->isEnabled());
  optUser->click();  // a second click on the selected one keeps it selected
  EXPECT_TRUE(optUser->isChecked());
  EXPECT_TRUE(model.optIEIntActUser.Checked());

  cmbMax->setCurrentIndex(cmbMax->findText("50"));
  emit cmbMax->activated(cmbMax->currentIndex());
  As<QPushButton>(view.WidgetOf(model.btnOk), model.btnOk)->click();
  EXPECT_EQ(view.result(), QDialog::Accepted);
  EXPECT_EQ(MaxRecentItems, 50);
  EXPECT_TRUE(HttpProxyUseProxy);
  EXPECT_EQ(HttpProxyServerName, "proxy.test");
  EXPECT_EQ(HttpProxyServerPort, 8080);
}

TEST_F(DialogViews, CtrlPOpensTheOptionsAndEscCancels) {
  ui::InstallDialogs(form_, nullptr);
  EXPECT_EQ(form_.mnuExtrasSettings.ShortCut, "Ctrl+P");
  bool seen = false;
  OnModal([&](QWidget* w) {
    seen = qobject_cast<ui::SettingsDialog*>(w) != nullptr;
    auto* ext = w->findChild<QLineEdit*>("txtExtIpUrl");
    ASSERT_NE(ext, nullptr);
    ext->setText("http://127.0.0.1/ip");
    emit ext->textEdited(ext->text());
    PressKey(w, Qt::Key_Escape);
  });
  ExtIpUrl = "unchanged";
  form_.mnuExtrasSettings.Click();
  EXPECT_TRUE(seen);
  EXPECT_EQ(ExtIpUrl, "unchanged");

  // OK applies, and the caller applies the output font.
  OutputFontName = "Courier New";
  OnModal([&](QWidget* w) {
    auto* ext = w->findChild<QLineEdit*>("txtExtIpUrl");
    ASSERT_NE(ext, nullptr);
    ext->setText("http://127.0.0.1/ip");
    emit ext->textEdited(ext->text());
    w->findChild<QPushButton*>("btnOk")->click();
  });
  form_.mnuExtrasSettings.Click();
  EXPECT_EQ(ExtIpUrl, "http://127.0.0.1/ip");
}

TEST_F(DialogViews, AboutDialogShowsEveryControlWithTheFlagAt32) {
  fs::copy_file(fs::path(QUOVIX_SOURCE_DIR) / "lang/English.lng", dir_ / "Language/English.lng");
  // A 48 × 16 picture: the shipped flag scaled up.
  QPixmap flag(QString::fromStdString(std::string(QUOVIX_SOURCE_DIR) + "/lang/English.bmp"));
  ASSERT_FALSE(flag.isNull());
  ASSERT_TRUE(flag.scaled(48, 16).save(QString::fromStdString((dir_ / "Language/English.bmp").string()), "BMP"));
  LanguageName = "English";
  ASSERT_GT(LoadLanguageFile(ProgramFolder + "Language/English.lng"), 0);

  TfrmInfo model(form_);
  ui::InfoDialog view(model, nullptr);
  for (TControl* c : model.AllControls()) EXPECT_NE(view.WidgetOf(*c), nullptr) << c->Name;
  view.show();
  QWidget* img = view.WidgetOf(model.imgLang);
  ASSERT_NE(img, nullptr);
  EXPECT_TRUE(img->isVisible());
  EXPECT_EQ(img->width(), 48);
  // The flag's strip starts at the group's left edge.
  QWidget* group = view.WidgetOf(model.grpLang);
  EXPECT_EQ(img->mapTo(group, QPoint(0, 0)).x(), 32);
  EXPECT_EQ(As<QLabel>(view.WidgetOf(model.lblLang), model.lblLang)->text(), "English");
  EXPECT_TRUE(As<QLabel>(view.WidgetOf(model.lblMailAddr), model.lblMailAddr)
                  ->text().contains(QString::fromStdString(model.lblMailAddr.Caption())));
}

TEST_F(DialogViews, HelpMenuOpensTheAboutDialogAndEscClosesIt) {
  ui::InstallDialogs(form_, nullptr);
  QString title;
  OnModal([&](QWidget* w) {
    title = w->windowTitle();
    PressKey(w, Qt::Key_Escape);
  });
  form_.mnuHelpInfo.Click();
  EXPECT_EQ(title.toStdString(), "Info über " + form_.ApplicationTitle);
}

// The main window's view tests bring their own main; this one serves when
// they are not linked in.
__attribute__((weak)) int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
