#include "app/fConsole.h"

#include <cstdio>
#include <ostream>

#include "app/fCommandLine.h"
#include "app/fJsonLines.h"
#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/Desktop.h"
#include "shell/fLanguage.h"

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
  // Nobody to ask: a script says beforehand what it wants (/TimeForce:1).
  bool Confirm(const std::string&, const std::string&) override { return false; }

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

// The command-line name of each tool (the /Focus names in lower case).
const char* ToolName(TPage page) {
  switch (page) {
    case pgDns: return "dns";
    case pgPing: return "ping";
    case pgTrace: return "trace";
    case pgWhois: return "whois";
    case pgEMail: return "email";
    case pgHead: return "head";
    case pgTime: return "time";
    case pgGPRank: return "prank";
    case pgList: return "list";
    case pgOwn: return "own";
  }
  return "";
}

std::string ResultError(const TLineFields& result) {
  const TLineValue* e = FindField(result, "error");
  return e && e->Kind() == TLineValue::TKind::Text ? e->AsText() : std::string();
}

// The result controls that are not panes as output lines. A run that found
// nothing (its result names an error) shows that line in red.
std::vector<TOutputLine> ResultControlLines(TfrmMain& f, TPage page) {
  std::vector<TOutputLine> lines;
  const bool failed = !ResultError(f.ToolResults.at(page)).empty();
  auto line = [&](const std::string& text, bool error = false) {
    lines.push_back({text, error ? clRed : clBlack, {}});
  };
  switch (page) {
    case pgTime:
      line(f.lblTimeLoc.Caption() + " " + f.lblTimeLocTime.Caption());
      line(f.lblTimeNet.Caption() + " " + f.lblTimeNetTime.Caption(), failed);
      line(f.lblTimeDiff.Caption() + " " + f.lblTimeDiffValue.Caption(), failed);
      break;
    case pgList:
      if (failed)
        line(ListUnreadableText(f.cmbListList.Text()), true);
      else if (f.lstList.Items().empty())
        lines.push_back({ListNoHitText(f.cmbListList.Text(), f.cmbListSearch.Text()), clNavy, {}});
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
        // Without an answer the rank label still shows an earlier value.
        line(f.lblGPRankResult.Caption() + " " + (failed ? "---" : f.lblGPRankRank.Caption()),
             failed);
      }
      break;
    default:
      break;  // the other tools write into their output panes
  }
  return lines;
}

// Where the output lines go: text for eyes, or JSON Lines for scripts.
class LineSink {
 public:
  LineSink(std::ostream& out, bool json, bool colour, const std::function<void(bool)>& writing)
      : out_(out), json_(json), colour_(colour), writing_(writing) {}

  void Line(TPage page, const TOutputLine& l) {
    Write(json_ ? JsonLine(ToolName(page), l) : ConsoleLine(l.Text, l.Color, colour_));
  }
  void Result(TPage page, const std::string& status, const TLineFields& fields) {
    if (json_) Write(JsonResult(ToolName(page), status, fields));
  }

 private:
  void Write(const std::string& text) {
    if (writing_) writing_(true);
    out_ << text << '\n' << std::flush;
    if (writing_) writing_(false);
  }
  std::ostream& out_;
  bool json_, colour_;
  std::function<void(bool)> writing_;
};

void PrintUsage(std::ostream& err) {
  err << "Usage: quovix-cli [--json] /Tool:value [/Parameter:value ...]\n"
         "Tools: /Dns /Ping /Trace /Whois /EMail /Head /Time /List /PRank /Own\n"
         "quovix-cli --help lists every parameter."
      << std::endl;
}

void PrintHelp(std::ostream& out) {
  out << "Usage: quovix-cli [--json] /Tool:value [/Parameter:value ...]\n"
         "Parameters begin with \"/\", \"-\" or \"--\"; the value follows \":\" or \"=\".\n"
         "Flags take 1 (check) or 0 (clear). A parameter without a value (/Own,\n"
         "/TimeSet) ends the search for values: put it last.\n"
         "--json (or --format=json) writes JSON Lines: one object per output line\n"
         "(tool, kind, text and the line's fields) and one \"result\" object per tool.\n"
         "Tools run in this order, one after another:\n";
  for (const auto& l : CommandLineHelp()) out << l << "\n";
  out << "Exit status: 0 every tool ran and none failed; 1 a tool failed (an error or\n"
         "time-out line, or its own verdict: a name without an address, a route that\n"
         "never reaches its target); 2 no tool named on the command line; 130 aborted.\n"
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
  // The output format is the console's own option, not a tool parameter: it
  // is taken out before those are read (a bare "--json" would otherwise
  // hide the values after it).
  std::vector<std::string> args;
  bool json = false;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& a = argv[i];
    if (i > 0 && (a == "--json" || a == "--format=json")) {
      json = true;
    } else if (i > 0 && a == "--format=text") {
      json = false;
    } else if (i > 0 && a.starts_with("--format=")) {
      err << "quovix-cli: unknown output format \"" << ConsoleLine(a.substr(9), clBlack, false)
          << "\" (json or text)." << std::endl;
      PrintUsage(err);
      return kExitUsage;
    } else {
      args.push_back(a);
    }
  }
  if (args.size() == 2 && (args[1] == "--help" || args[1] == "-h")) {
    PrintHelp(out);
    return kExitOk;
  }
  ParseCommandLine(args);
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
    form.CommandLineArgs = args;
    LineSink sink(out, json, options.Colour, options.Writing);
    // Whether the running tool has failed (an error or time-out line, or
    // its own verdict), and whether any tool has.
    bool toolFailed = false, anyFailed = false;
    auto write = [&](TPage page, const TOutputLine& l) {
      if (IsFailureColor(l.Color)) toolFailed = true;
      sink.Line(page, l);
    };
    const std::pair<TRichEdit*, TPage> panes[] = {
        {&form.reDns, pgDns},     {&form.rePing, pgPing}, {&form.reTrace, pgTrace},
        {&form.reWhois, pgWhois}, {&form.reEMail, pgEMail}, {&form.reHead, pgHead},
        {&form.reTime, pgTime},   {&form.reOwn, pgOwn}};
    for (const auto& [pane, paneTool] : panes) {
      const TPage page = paneTool;
      pane->OnLineAdded = [&write, page](const TOutputLine& l) { write(page, l); };
    }
    form.sbMain.OnText = [&err](const std::string& t) {
      if (!Trim(t).empty()) err << ConsoleLine(Trim(t), clBlack, false) << std::endl;
    };
    // Ctrl+C is the abort click of the running tool, and no further tool
    // starts after it.
    bool interrupted = false;
    form.OnCommandLineToolDone = [&](TPage page) {
      for (const TOutputLine& l : ResultControlLines(form, page)) write(page, l);
      // The tool's own verdict counts as much as its colours.
      if (form.ToolFailed.at(page))
        toolFailed = true;
      else if (form.ToolAnswered.at(page))
        toolFailed = false;
      sink.Result(page, interrupted ? "aborted" : toolFailed ? "failed" : "ok",
                  form.ToolResults.at(page));
      anyFailed = anyFailed || toolFailed;
      toolFailed = false;
    };
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
    if (interrupted)
      status = kExitInterrupted;
    else if (anyFailed)
      status = kExitFailed;
  }
  platform::SetDesktop(nullptr);
  return status;
}

}  // namespace quovix
