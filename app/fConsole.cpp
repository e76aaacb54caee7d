#include "app/fConsole.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "app/fCommandLine.h"
#include "app/fJsonLines.h"
#include "app/fRecording.h"
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

void ReportWriteError(std::ostream& err, int error) {
  err << "quovix-cli: cannot write to standard output: "
      << (error ? std::strerror(error) : "write failed") << std::endl;
}

// Where the output lines go: text for eyes, or JSON Lines for scripts. A
// failed write (a full disk, a closed pipe) is said once on the error
// stream; nothing more is written after it.
class LineSink {
 public:
  LineSink(std::ostream& out, std::ostream& err, bool json, bool colour,
           const std::function<void(bool)>& writing, std::function<void()> onFailure)
      : out_(out), err_(err), json_(json), colour_(colour), writing_(writing),
        onFailure_(std::move(onFailure)) {}

  void Line(TPage page, const TOutputLine& l) {
    Write(json_ ? JsonLine(ToolName(page), l) : ConsoleLine(l.Text, l.Color, colour_));
  }
  void Result(TPage page, const std::string& status, const TLineFields& fields) {
    if (json_) Write(JsonResult(ToolName(page), status, fields));
  }
  bool Failed() const { return failed_; }

 private:
  void Write(const std::string& text) {
    if (failed_) return;
    if (writing_) writing_(true);
    out_ << text << '\n' << std::flush;
    const bool ok = static_cast<bool>(out_);
    const int error = errno;
    if (writing_) writing_(false);
    if (ok) return;
    failed_ = true;
    ReportWriteError(err_, error);
    if (onFailure_) onFailure_();
  }
  std::ostream& out_;
  std::ostream& err_;
  bool json_, colour_;
  std::function<void(bool)> writing_;
  std::function<void()> onFailure_;
  bool failed_ = false;
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
         "never reaches its target) or standard output could not be written; 2 no tool\n"
         "named on the command line, or a value that names nothing (/ListL); 130 aborted.\n"
         "Ctrl+C aborts the running tool; a second Ctrl+C ends the program at once (after\n"
         "the line being written). With --json the help goes to the error stream."
      << std::endl;
}

}  // namespace

namespace {
std::string ResultError(const TLineFields& result) {
  const TLineValue* e = FindField(result, "error");
  return e && e->Kind() == TLineValue::TKind::Text ? e->AsText() : std::string();
}

}  // namespace

// The result controls that are not panes as output lines. A run that found
// nothing (its result names an error) shows that line in red.
std::vector<TOutputLine> ResultControlLines(TfrmMain& f, int page) {
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
    // With --json the output stream carries JSON Lines only: the help is
    // for the person who asked, on the error stream.
    std::ostream& to = json ? err : out;
    PrintHelp(to);
    if (!to) {
      ReportWriteError(err, errno);
      return kExitFailed;
    }
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
    // A failed write ends the run as Ctrl+C does: no tool goes on writing
    // into nothing.
    LineSink sink(out, err, json, options.Colour, options.Writing, [&form] {
      form.CloseRequested = true;
      form.AbortRunningTool();
    });
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
    // A list name that names none of the lists would search another one.
    if (const std::string list = GetParamValue("ListL"); !list.empty()) {
      const auto& lists = form.cmbListList.Items();
      if (std::none_of(lists.begin(), lists.end(),
                       [&](const std::string& l) { return SameText(l, list); })) {
        std::string names;
        for (const std::string& l : lists) names += (names.empty() ? "" : ", ") + l;
        err << "quovix-cli: there is no list \"" << ConsoleLine(list, clBlack, false)
            << "\" (lists: " << ConsoleLine(names, clBlack, false) << ")." << std::endl;
        PrintUsage(err);
        platform::SetDesktop(nullptr);
        return kExitUsage;
      }
    }
    form.FormShow();
    form.Pump();
    if (sink.Failed())
      status = kExitFailed;
    else if (interrupted)
      status = kExitInterrupted;
    else if (anyFailed)
      status = kExitFailed;
  }
  platform::SetDesktop(nullptr);
  return status;
}

}  // namespace quovix
