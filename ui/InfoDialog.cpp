#include "ui/InfoDialog.h"

#include <QApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "ui/MainWindow.h"

namespace quovix::ui {

InfoDialog::InfoDialog(TfrmInfo& m, QWidget* parent) : QDialog(parent), model_(m) {
  setWindowTitle(ToQ(m.Caption));
  // The font of the window that opens it (the desktop's, where it set one),
  // else the language file's; the layouts size every control from it, the
  // few fixed distances come scaled from design units.
  setFont(parent ? parent->font() : QFont(ToQ(m.FontName), m.FontSize > 0 ? m.FontSize : 8));
  const DesignScale s = ScaleOf(this);
  // Fixed border, only the system menu.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);

  auto* imgIcon = MakeWidget<QLabel>(m.imgIcon, this);
  QIcon icon = QApplication::windowIcon();
  if (icon.isNull()) icon = ProgramIcon();
  if (icon.isNull()) icon = style()->standardIcon(QStyle::SP_DriveNetIcon);
  const QSize iconSize = s.ToPixels(QSize(m.imgIcon.Width, m.imgIcon.Height));
  imgIcon->setPixmap(icon.pixmap(iconSize));
  imgIcon->setFixedSize(iconSize);

  auto* lblTitle = MakeWidget<QLabel>(m.lblTitle, this);
  auto* lblDescription = MakeWidget<QLabel>(m.lblDescription, this);
  auto* lblVersion = MakeWidget<QLabel>(m.lblVersion, this);
  auto* lblCopyright = MakeWidget<QLabel>(m.lblCopyright, this);
  auto* lblRights = MakeWidget<QLabel>(m.lblRights, this);
  auto* lblData = MakeWidget<QLabel>(m.lblData, this);
  auto* lblHome = MakeWidget<QLabel>(m.lblHome, this);
  auto* lblHomePage = MakeWidget<QLabel>(m.lblHomePage, this);
  auto* lblMail = MakeWidget<QLabel>(m.lblMail, this);
  auto* lblMailAddr = MakeWidget<QLabel>(m.lblMailAddr, this);

  auto* grpLang = MakeWidget<QGroupBox>(m.grpLang, this);
  // The flag's place: a strip that keeps the texts right of the picture; the
  // picture itself is a child of the group outside its layout, so its left
  // is measured from the group's left edge as the model says.
  auto* flagArea = new QWidget(grpLang);
  flagArea->setFixedWidth(s.ToX(TfrmInfo::kFlagRight - 4));
  auto* imgLang = MakeWidget<QLabel>(m.imgLang, grpLang);
  auto* lblLang = MakeWidget<QLabel>(m.lblLang, grpLang);
  auto* lblLangAuthor = MakeWidget<QLabel>(m.lblLangAuthor, grpLang);
  auto* lblLangAuthorName = MakeWidget<QLabel>(m.lblLangAuthorName, grpLang);
  auto* lblLangHome = MakeWidget<QLabel>(m.lblLangHome, grpLang);
  auto* lblLangHomePage = MakeWidget<QLabel>(m.lblLangHomePage, grpLang);
  auto* lblLangMail = MakeWidget<QLabel>(m.lblLangMail, grpLang);
  auto* lblLangMailAddr = MakeWidget<QLabel>(m.lblLangMailAddr, grpLang);
  auto* btnOk = MakeWidget<QPushButton>(m.btnOk, this);

  for (QLabel* l : {lblHome, lblMail, lblLangAuthor, lblLangHome, lblLangMail})
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

  // Program block.
  auto* text = new QGridLayout;
  text->setVerticalSpacing(s.ToY(2));
  int row = 0;
  for (QLabel* l : {lblTitle, lblDescription, lblVersion, lblCopyright, lblRights, lblData})
    text->addWidget(l, row++, 0, 1, 2);
  text->setRowMinimumHeight(row++, s.ToY(8));
  text->addWidget(lblHome, row, 0);
  text->addWidget(lblHomePage, row++, 1);
  text->addWidget(lblMail, row, 0);
  text->addWidget(lblMailAddr, row++, 1);
  text->setColumnStretch(1, 1);
  auto* program = new QHBoxLayout;
  program->addWidget(imgIcon, 0, Qt::AlignTop);
  program->addSpacing(s.ToX(12));
  program->addLayout(text, 1);

  // Language block.
  auto* langText = new QGridLayout;
  langText->setVerticalSpacing(s.ToY(2));
  langText->addWidget(lblLang, 0, 0, 1, 2);
  langText->addWidget(lblLangAuthor, 1, 0);
  langText->addWidget(lblLangAuthorName, 1, 1);
  langText->addWidget(lblLangHome, 2, 0);
  langText->addWidget(lblLangHomePage, 2, 1);
  langText->addWidget(lblLangMail, 3, 0);
  langText->addWidget(lblLangMailAddr, 3, 1);
  langText->setColumnStretch(1, 1);
  auto* lang = new QHBoxLayout(grpLang);
  lang->setContentsMargins(0, lang->contentsMargins().top(), s.ToX(8), s.ToY(8));
  const int flagTop = lang->contentsMargins().top() + s.ToY(16);
  lang->addWidget(flagArea);
  lang->addLayout(langText, 1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOk);
  buttons->addStretch(1);

  auto* top = new QVBoxLayout(this);
  top->addLayout(program);
  top->addSpacing(s.ToY(6));
  top->addWidget(grpLang);
  top->addLayout(buttons);
  top->setSizeConstraint(QLayout::SetFixedSize);

  binder_.State(m.imgIcon, imgIcon);
  binder_.Label(m.lblTitle, lblTitle);
  binder_.Label(m.lblDescription, lblDescription);
  binder_.Label(m.lblVersion, lblVersion);
  binder_.Label(m.lblCopyright, lblCopyright);
  binder_.Label(m.lblRights, lblRights);
  binder_.Label(m.lblData, lblData);
  binder_.Label(m.lblHome, lblHome);
  binder_.Link(m.lblHomePage, lblHomePage);
  binder_.Label(m.lblMail, lblMail);
  binder_.Link(m.lblMailAddr, lblMailAddr);
  binder_.Group(m.grpLang, grpLang);
  binder_.Label(m.lblLang, lblLang);
  binder_.Label(m.lblLangAuthor, lblLangAuthor);
  binder_.Label(m.lblLangAuthorName, lblLangAuthorName);
  binder_.Label(m.lblLangHome, lblLangHome);
  binder_.Link(m.lblLangHomePage, lblLangHomePage);
  binder_.Label(m.lblLangMail, lblLangMail);
  binder_.Link(m.lblLangMailAddr, lblLangMailAddr);
  binder_.Button(m.btnOk, btnOk);

  TImage& flag = m.imgLang;
  binder_.State(flag, imgLang);
  QPixmap picture;
  if (!flag.FileName.empty() && picture.load(ToQ(flag.FileName), "BMP")) {
    imgLang->setPixmap(picture);
    imgLang->setAttribute(Qt::WA_TranslucentBackground, flag.Transparent);
  } else {
    imgLang->hide();
  }
  // A picture keeps its pixels; its right edge stays where the design has it.
  imgLang->setGeometry(s.ToX(flag.Left + flag.Width) - flag.Width, flagTop, flag.Width, flag.Height);
  imgLang->raise();
  flagArea->setMinimumHeight(flag.Height + 4);

  connect(btnOk, &QPushButton::clicked, this, [this] {
    if (model_.Closed) accept();
  });
  btnOk->setAutoDefault(true);
  btnOk->setFocus();
}

void InfoDialog::done(int r) {
  // Esc closes like OK.
  model_.Closed = true;
  QDialog::done(r);
}

}  // namespace quovix::ui
