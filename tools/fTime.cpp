#include "app/formMain.h"

namespace quovix {

// The tool is built in its own change; until then its button does nothing.
void TfrmMain::btnTimeQueryClick() {}
void TfrmMain::btnTimeUpdateClick() {}
void TfrmMain::tmrTimeTimer() {}

}  // namespace quovix
