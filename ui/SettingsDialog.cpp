#include "ui/SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include "ui/MainWindow.h"

namespace quovix::ui {

SettingsDialog::SettingsDialog(TfrmSettings& m, QWidget* parent) : QDialog(parent), model_(m) {
  setWindowTitle(ToQ(m.Caption));
  // The font of the window that opens it (the desktop's, where it set one),
  // else the language file's; the layouts size every control from it, the
  // few fixed distances come scaled from design units.
  setFont(parent ? parent->font() : QFont(ToQ(m.FontName), m.FontSize > 0 ? m.FontSize : 8));
  const DesignScale s = ScaleOf(this);
  // A fixed dialog border: no resizing, no help button.
  setWindowFlags((windowFlags() | Qt::MSWindowsFixedSizeDialogHint) &
                 ~Qt::WindowContextHelpButtonHint);

  auto* lblMax = MakeWidget<QLabel>(m.lblMaxRecentItems, this);
  auto* cmbMax = MakeWidget<QComboBox>(m.cmbMaxRecentItems, this);
  auto* lblTimeout = MakeWidget<QLabel>(m.lblNameResTimeout, this);
  auto* cmbTimeout = MakeWidget<QComboBox>(m.cmbNameResTimeout, this);
  auto* lblDns = MakeWidget<QLabel>(m.lblDns, this);
  auto* cmbDns = MakeWidget<QComboBox>(m.cmbDns, this);
  auto* btnDnsDefault = MakeWidget<QPushButton>(m.btnDnsDefault, this);
  auto* lblExtIp = MakeWidget<QLabel>(m.lblExtIpUrl, this);
  auto* txtExtIp = MakeWidget<QLineEdit>(m.txtExtIpUrl, this);
  auto* lblFont = MakeWidget<QLabel>(m.lblFont, this);
  auto* txtFont = MakeWidget<QLineEdit>(m.txtFontName, this);
  auto* btnFont = MakeWidget<QToolButton>(m.btnFontSel, this);
  auto* lblTemplate = MakeWidget<QLabel>(m.lblFontTemplate, this);

  auto* grpProxy = MakeWidget<QGroupBox>(m.grpHttpProxy, this);
  auto* chkProxy = MakeWidget<QCheckBox>(m.chkUseHttpProxy, this);
  auto* lblServer = MakeWidget<QLabel>(m.lblProxyServer, this);
  auto* txtServer = MakeWidget<QLineEdit>(m.txtProxyServer, this);
  auto* lblPort = MakeWidget<QLabel>(m.lblProxyPort, this);
  auto* spinPort = MakeWidget<QSpinBox>(m.udProxyPort, this);
  auto* lblUser = MakeWidget<QLabel>(m.lblProxyUsername, this);
  auto* txtUser = MakeWidget<QLineEdit>(m.txtProxyUsername, this);
  auto* lblPassword = MakeWidget<QLabel>(m.lblProxyPassword, this);
  auto* txtPassword = MakeWidget<QLineEdit>(m.txtProxyPassword, this);
  // Dots instead of the password, for eyes over the shoulder and screen shares.
  txtPassword->setEchoMode(QLineEdit::Password);

  auto* grpIE = MakeWidget<QGroupBox>(m.grpIEInt, this);
  auto* chkIE = MakeWidget<QCheckBox>(m.chkIEIntActive, this);
  auto* optAll = MakeWidget<QRadioButton>(m.optIEIntAllUsers, this);
  auto* optUser = MakeWidget<QRadioButton>(m.optIEIntActUser, this);
  auto* chkMenu = MakeWidget<QCheckBox>(m.chkIEIntMenu, this);
  auto* chkButton = MakeWidget<QCheckBox>(m.chkIEIntButton, this);

  auto* btnOk = MakeWidget<QPushButton>(m.btnOk, this);
  auto* btnCancel = MakeWidget<QPushButton>(m.btnCancel, this);

  // Layout, top to bottom.
  auto* general = new QGridLayout;
  general->addWidget(lblMax, 0, 0, 1, 2);
  general->addWidget(cmbMax, 0, 2);
  general->addWidget(lblTimeout, 1, 0, 1, 2);
  general->addWidget(cmbTimeout, 1, 2);
  general->addWidget(lblDns, 2, 0);
  general->addWidget(cmbDns, 2, 1);
  general->addWidget(btnDnsDefault, 2, 2);
  general->addWidget(lblExtIp, 3, 0);
  general->addWidget(txtExtIp, 3, 1, 1, 2);
  auto* fontRow = new QHBoxLayout;
  fontRow->setSpacing(s.ToX(2));
  fontRow->addWidget(txtFont, 1);
  fontRow->addWidget(btnFont);
  general->addWidget(lblFont, 4, 0);
  general->addLayout(fontRow, 4, 1, 1, 2);
  general->setColumnStretch(1, 1);
  lblTemplate->hide();

  auto* proxy = new QGridLayout(grpProxy);
  proxy->addWidget(chkProxy, 0, 0, 1, 4);
  proxy->addWidget(lblServer, 1, 0);
  proxy->addWidget(txtServer, 1, 1);
  proxy->addWidget(lblPort, 1, 2);
  proxy->addWidget(spinPort, 1, 3);
  proxy->addWidget(lblUser, 2, 0);
  proxy->addWidget(txtUser, 2, 1);
  proxy->addWidget(lblPassword, 2, 2);
  proxy->addWidget(txtPassword, 2, 3);
  proxy->setColumnStretch(1, 2);
  proxy->setColumnStretch(3, 1);

  auto* ie = new QVBoxLayout(grpIE);
  ie->addWidget(chkIE);
  auto* ieInner = new QVBoxLayout;
  ieInner->setContentsMargins(s.ToX(20), 0, 0, 0);
  ieInner->addWidget(optAll);
  ieInner->addWidget(optUser);
  ieInner->addWidget(chkMenu);
  ieInner->addWidget(chkButton);
  ie->addLayout(ieInner);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOk);
  buttons->addWidget(btnCancel);

  auto* top = new QVBoxLayout(this);
  top->addLayout(general);
  top->addWidget(grpProxy);
  top->addWidget(grpIE);
  top->addLayout(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);

  // The font button: a flat tool button with an icon and a hint.
  btnFont->setAutoRaise(true);
  btnFont->setIcon(QIcon::fromTheme("preferences-desktop-font",
                                    style()->standardIcon(QStyle::SP_FileDialogDetailedView)));
  btnFont->setToolTip(ToQ(m.btnFontSelHint));
  binder_.State(m.btnFontSel, btnFont);
  connect(btnFont, &QToolButton::clicked, this, [&m] { m.btnFontSel.Click(); });

  binder_.Label(m.lblMaxRecentItems, lblMax);
  binder_.Combo(m.cmbMaxRecentItems, cmbMax);
  binder_.Label(m.lblNameResTimeout, lblTimeout);
  binder_.Combo(m.cmbNameResTimeout, cmbTimeout);
  binder_.Label(m.lblDns, lblDns);
  binder_.Combo(m.cmbDns, cmbDns);
  binder_.Button(m.btnDnsDefault, btnDnsDefault);
  binder_.Label(m.lblExtIpUrl, lblExtIp);
  binder_.Edit(m.txtExtIpUrl, txtExtIp);
  binder_.Label(m.lblFont, lblFont);
  binder_.Edit(m.txtFontName, txtFont);
  binder_.Label(m.lblFontTemplate, lblTemplate);
  binder_.Group(m.grpHttpProxy, grpProxy);
  binder_.Check(m.chkUseHttpProxy, chkProxy);
  binder_.Label(m.lblProxyServer, lblServer);
  binder_.Edit(m.txtProxyServer, txtServer);
  binder_.Label(m.lblProxyPort, lblPort);
  binder_.UpDown(m.udProxyPort, spinPort);
  binder_.Label(m.lblProxyUsername, lblUser);
  binder_.Edit(m.txtProxyUsername, txtUser);
  binder_.Label(m.lblProxyPassword, lblPassword);
  binder_.Edit(m.txtProxyPassword, txtPassword);
  binder_.Group(m.grpIEInt, grpIE);
  binder_.Check(m.chkIEIntActive, chkIE);
  binder_.Radio(m.optIEIntAllUsers, optAll);
  binder_.Radio(m.optIEIntActUser, optUser);
  binder_.Check(m.chkIEIntMenu, chkMenu);
  binder_.Check(m.chkIEIntButton, chkButton);
  binder_.Button(m.btnOk, btnOk);
  binder_.Button(m.btnCancel, btnCancel);
  btnOk->setAutoDefault(true);
  // Each label's "&" is the access key to the input it names.
  lblMax->setBuddy(cmbMax);
  lblTimeout->setBuddy(cmbTimeout);
  lblDns->setBuddy(cmbDns);
  lblExtIp->setBuddy(txtExtIp);
  lblFont->setBuddy(btnFont);
  lblServer->setBuddy(txtServer);
  lblPort->setBuddy(spinPort);
  lblUser->setBuddy(txtUser);
  lblPassword->setBuddy(txtPassword);

  // The system's font dialog, fixed-pitch fonts only.
  m.dlgFontExecute = [this](TFontChoice& f) {
    const QFont start = OutputFont(f.Name, f.Size);
    bool ok = false;
    QFont chosen = QFontDialog::getFont(&ok, start, this, QString(),
                                        QFontDialog::MonospacedFonts);
    if (!ok) return false;
    f.Name = FromQ(chosen.family());
    f.Size = chosen.pointSize() > 0 ? chosen.pointSize() : f.Size;
    return true;
  };
  // The model's OK and Cancel set its result; the dialog closes on it.
  auto closeOnResult = [this] {
    if (model_.ModalResult == TfrmSettings::TModalResult::Ok) accept();
    else if (model_.ModalResult == TfrmSettings::TModalResult::Cancel) reject();
  };
  connect(btnOk, &QPushButton::clicked, this, closeOnResult);
  connect(btnCancel, &QPushButton::clicked, this, closeOnResult);
}

void SettingsDialog::done(int r) {
  // Esc and the title bar's close button cancel like the Cancel button.
  if (r != QDialog::Accepted && model_.ModalResult == TfrmSettings::TModalResult::None)
    model_.btnCancelClick();
  model_.dlgFontExecute = nullptr;
  QDialog::done(r);
}

}  // namespace quovix::ui
