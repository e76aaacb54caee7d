// Desktop services of the window: Qt message boxes and the desktop's URL
// handler, installed with platform::SetDesktop while the window lives.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/Desktop.h"

namespace quovix::ui {

class QtDesktop : public platform::IDesktop {
 public:
  // Message boxes are modal to the given window (may be null).
  explicit QtDesktop(QWidget* owner = nullptr) : owner_(owner) {}
  void MessageBox(const std::string& title, const std::string& text) override;
  bool OpenUrl(const std::string& url) override;
  bool Confirm(const std::string& title, const std::string& text) override;

 private:
  QPointer<QWidget> owner_;
};

}  // namespace quovix::ui
