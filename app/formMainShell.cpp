// Menus, edit popup, language texts and resizing of the main window.
#include "app/formMain.h"
#include "shell/fLanguage.h"

namespace quovix {

void TfrmMain::ApplyLanguageTexts() {}
void TfrmMain::FormResize() {}
void TfrmMain::pmnuEditPopup() {}
void TfrmMain::pmnuEditCopyClick() {}
void TfrmMain::pmnuEditSelectAllClick() {}
void TfrmMain::SendSelectionTo(TPage) {}
void TfrmMain::mnuFileExitClick() {}
void TfrmMain::mnuExtrasSettingsClick() {}
void TfrmMain::mnuHelpWebsiteClick() {}
void TfrmMain::mnuHelpEMailClick() {}
void TfrmMain::mnuHelpDonateClick() {}
void TfrmMain::mnuHelpInfoClick() {}
void TfrmMain::LanguageItemClick(TMenuItem&) {}

}  // namespace quovix
