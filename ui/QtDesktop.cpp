#include "ui/QtDesktop.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QUrl>

namespace quovix::ui {

void QtDesktop::MessageBox(const std::string& title, const std::string& text) {
  QMessageBox box(QMessageBox::Information, QString::fromStdString(title),
                  QString::fromStdString(text), QMessageBox::Ok, owner_.data());
  // Plain text that can be selected and copied (an address to paste into
  // a browser by hand, a file name, a reason to look up).
  box.setTextFormat(Qt::PlainText);
  box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  box.exec();
}

bool QtDesktop::Confirm(const std::string& title, const std::string& text) {
  return QMessageBox::question(owner_.data(), QString::fromStdString(title),
                               QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

bool QtDesktop::OpenUrl(const std::string& url) {
  // The link arrives already percent-encoded (mailto texts): take its bytes
  // as they are instead of encoding them a second time.
  QUrl u = QUrl::fromEncoded(QByteArray::fromStdString(url), QUrl::TolerantMode);
  if (!u.isValid() || u.scheme().isEmpty()) return false;
  return QDesktopServices::openUrl(u);
}

}  // namespace quovix::ui
