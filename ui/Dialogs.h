// Opening the dialogs from the main window: fills the main window model's
// hooks so that its menu handlers (Ctrl+P, the Help menu's info item) show
// the options and the about dialog modally, centred on the owner.
#pragma once

class QWidget;

namespace quovix {
class TfrmMain;
}

namespace quovix::ui {

void InstallDialogs(TfrmMain& form, QWidget* owner);

}  // namespace quovix::ui
