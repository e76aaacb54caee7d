#include "app/fCommandLine.h"

#include "app/formMain.h"

namespace quovix {

// Filled in with the command-line mechanism.
void ParseCommandLine(const std::vector<std::string>&) {}
bool HasParam(const std::string&) { return false; }
std::string GetParamValue(const std::string&) { return {}; }
void RunCommandLineActions(TfrmMain& form) {
  form.PingCommandLine();
  form.TraceCommandLine();
}

}  // namespace quovix
