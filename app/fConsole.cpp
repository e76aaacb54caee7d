#include "app/fConsole.h"

#include <cstdio>
#include <ostream>

#include "app/fCommandLine.h"
#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/Desktop.h"

namespace quovix {

namespace {

// Message boxes of a console program are lines on the error stream; there
// is no browser or mail program to hand links to.
class ConsoleDesktop : public platform::IDesktop {
 public:
  explicit ConsoleDesktop(std::ostream& err) : err_(err) {}
  void MessageBox(const std::string& title, const std::string& text) override {
    err_ << ConsoleLine(title + ": " + text, clBlack, false) << std::endl;
  }
  bool OpenUrl(const std::string&) override { return false; }

 private:
  std::ostream& err_;
};

const char* AnsiColour(std::uint32_t color) {
  switch (color) {
    case clBlue: return "\x1b[1;34m";
    case clNavy: return "\x1b[34m";
    case clRed: return "\x1b[1;31m";
    case clGreen: return "\x1b[32m";
    case clMaroon: return "\x1b[31m";
    default: return nullptr;
  }
}

void PrintResultControls(TfrmMain& f, TPage page, std::ostream& out, bool colour) {
  auto line = [&](const std::string& text) {
    out << ConsoleLine(text, clBlack, colour) << std::endl;
  };
  switch (page) {
    case pgTime:
      line(f.lblTimeLoc.Caption() + " " + f.lblTimeLocTime.Caption());
      line(f.lblTimeNet.Caption() + " " + f.lblTimeNetTime.Caption());
      break;
    case pgList:
      for (const auto& item : f.lstList.Items()) line(item);
      break;
    case pgGPRank:
      if (f.lvGPRankMulti.Visible()) {
        for (const auto& row : f.lvGPRankMulti.Rows()) {
          std::string server = row.size() > 0 ? row[0] : std::string();
          std::string rank = row.size() > 1 ? row[1] : std::string();
          if (server.size() < 40) server.resize(40, ' ');
          line(server + " " + rank);
        }
      } else {
        line(f.lblGPRankResult.Caption() + " " + f.lblGPRankRank.Caption());
      }
      break;
    default:
      break;  // the other tools write into their output panes
  }
}

void PrintUsage(std::ostream& err) {
  err << "Usage: quovix-cli /Tool:value [/Parameter:value ...]\n"
         "Tools: /Dns /Ping /Trace /Whois /EMail /Head /Time /List /PRank /Own\n"
         "quovix-cli --help lists every parameter."
      << std::endl;
}

void PrintHelp(std::ostream& out) {
  out << "Usage: quovix-cli /Tool:value [/Parameter:value ...]\n"
         "Parameters begin with \"/\", \"-\" or \"--\"; the value follows \":\" or \"=\".\n"
         "Flags take 1 (check) or 0 (clear). A parameter without a value (/Own,\n"
         "/TimeSet) ends the search for values: put it last.\n"
         "Tools run in this order, one after another:\n";
  for (const auto& l : CommandLineHelp()) out << l << "\n";
  out << "Exit status: 0 every tool ran to its end, 130 aborted by Ctrl+C,\n"
         "2 no tool named on the command line.\n"
         "Ctrl+C aborts the running tool; a second Ctrl+C ends the program at once."
      << std::endl;
}

}  // namespace

std::string ConsoleLine(const std::string& text, std::uint32_t color, bool colour) {
  // Nothing a server sent may steer the terminal: control characters (C1
  // and stray 8-bit ones too) and bidirectional overrides show as "?".
  const std::string s = MaskControls(text);
  if (!colour) return s;
  if (const char* esc = AnsiColour(color)) return esc + s + "\x1b[0m";
  if (color == clBlack) return s;
  char esc[32];
  std::snprintf(esc, sizeof esc, "\x1b[38;2;%u;%u;%um", (color >> 16) & 0xFF, (color >> 8) & 0xFF,
                color & 0xFF);
  return esc + s + "\x1b[0m";
}

int RunConsole(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err,
               const ConsoleOptions& options) {
  if (argv.size() == 2 && (argv[1] == "--help" || argv[1] == "-h")) {
    PrintHelp(out);
    return kExitOk;
  }
  ParseCommandLine(argv);
  if (!CommandLineNamesTool()) {
    err << "quovix-cli: the command line names no tool." << std::endl;
    PrintUsage(err);
    return kExitUsage;
  }

  ConsoleDesktop desktop(err);
  platform::SetDesktop(&desktop);
  int status = kExitOk;
  {
    TfrmMain form;
    form.CommandLineArgs = argv;
    const bool colour = options.Colour;
    for (TRichEdit* pane : form.OutputPanes())
      pane->OnLineAdded = [&out, colour](const TOutputLine& l) {
        out << ConsoleLine(l.Text, l.Color, colour) << std::endl;
      };
    form.sbMain.OnText = [&err](const std::string& t) {
      if (!Trim(t).empty()) err << ConsoleLine(Trim(t), clBlack, false) << std::endl;
    };
    form.OnCommandLineToolDone = [&form, &out, colour](TPage page) {
      PrintResultControls(form, page, out, colour);
    };
    // Ctrl+C is the abort click of the running tool, and no further tool
    // starts after it.
    bool interrupted = false;
    auto interrupts = options.Interrupts;
    form.ProcessMessages = [&form, &interrupted, interrupts] {
      if (interrupted || !interrupts || interrupts() == 0) return;
      interrupted = true;
      form.CloseRequested = true;
      form.AbortRunningTool();
    };

    // The window's creation and show steps. Settings are read but not
    // written back: a script's runs do not rewrite the user's histories.
    form.FormCreate();
    if (options.Prepare) options.Prepare(form);
    form.FormShow();
    form.Pump();
    if (interrupted) status = kExitInterrupted;
  }
  platform::SetDesktop(nullptr);
  return status;
}

}  // namespace quovix
