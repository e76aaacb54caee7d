// Desktop services: message boxes and opening URLs or mail links with the
// user's default program.
#pragma once

#include <string>

#include "platform/Seam.h"

namespace quovix::platform {

struct IDesktop {
  virtual ~IDesktop() = default;
  // A message box with an OK button.
  virtual void MessageBox(const std::string& title, const std::string& text) = 0;
  // Opens a web page or "mailto:" link; false when no program took it.
  virtual bool OpenUrl(const std::string& url) = 0;
  // A question with Yes and No (No the default); true for Yes. Where nobody
  // can be asked the answer is No.
  virtual bool Confirm(const std::string& /*title*/, const std::string& /*text*/) { return false; }
};

// The installed desktop (the front end installs its own; the default writes
// message boxes to stderr and opens URLs with xdg-open).
IDesktop& Desktop();
void SetDesktop(IDesktop* d);

}  // namespace quovix::platform
