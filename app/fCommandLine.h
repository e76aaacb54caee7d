// The command line: parameters "/Name:value" or "-Name=value" that preset a
// tool and run it when the window is shown.
#pragma once

#include <string>
#include <vector>

namespace quovix {

class TfrmMain;

// Cuts one command-line string into arguments: an argument beginning with a
// double quote runs to the first double quote followed by a blank (both
// dropped); any other runs to the next blank. The program path is included.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Joins process arguments into one command-line string that SplitCommandLine
// cuts back into the same arguments: an argument that is empty, holds a
// character up to 0x20 or begins with a double quote is put in double
// quotes. (The one argument that cannot come back whole is one that holds a
// double quote followed by a blank: it ends there.)
std::string JoinCommandLine(const std::vector<std::string>& argv);

// The window's desktop entry hands it URLs as plain arguments (a link opened
// with it, a URL dropped on its launcher): each http or https URL among argv
// becomes "/Head:URL", so the HTTP-Header tool is preset with it and runs.
// Every other argument stays as it is.
std::vector<std::string> DesktopUrlsAsHead(const std::vector<std::string>& argv);

// Builds the argument list from the process arguments (argv, program first).
void ParseCommandLine(const std::vector<std::string>& argv);
// The current argument list (after the program path).
const std::vector<std::string>& CommandLineArguments();

bool HasParam(const std::string& name, bool caseSensitive = false);
// The value of the parameter; the search stops at the first parameter that
// has no value ("/Own"), so a value after a bare switch is not found.
std::string GetParamValue(const std::string& name, bool caseSensitive = false);

// True when the arguments ask for at least one tool run.
bool CommandLineNamesTool();

// Walks the parameter groups in table order and runs each requested tool;
// Focus last.
void RunCommandLineActions(TfrmMain& form);

// One line per parameter, in English, for "--help".
std::vector<std::string> CommandLineHelp();

}  // namespace quovix
