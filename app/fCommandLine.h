// The command line: parameters "/Name:value" or "-Name=value" that preset a
// tool and run it when the window is shown.
#pragma once

#include <string>
#include <vector>

namespace quovix {

class TfrmMain;

// Builds the argument list from the process arguments (argv, program first).
void ParseCommandLine(const std::vector<std::string>& argv);
bool HasParam(const std::string& name);
std::string GetParamValue(const std::string& name);

// Walks the parameter groups in table order and runs each requested tool;
// Focus last.
void RunCommandLineActions(TfrmMain& form);

}  // namespace quovix
