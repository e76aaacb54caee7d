// Datei › Ausgabe speichern and Aufzeichnung öffnen: a tab's output into a
// file, and a run recorded by the console back into its tabs.
#include <sys/stat.h>

#include <array>
#include <ctime>
#include <fstream>

#include "app/fConsole.h"
#include "app/fJsonLines.h"
#include "app/fRecording.h"
#include "app/formMain.h"
#include "platform/Desktop.h"
#include "shell/fLanguage.h"

namespace quovix {

namespace {

TRichEdit* PaneOf(TfrmMain& f, int page) {
  switch (page) {
    case pgDns: return &f.reDns;
    case pgPing: return &f.rePing;
    case pgTrace: return &f.reTrace;
    case pgWhois: return &f.reWhois;
    case pgEMail: return &f.reEMail;
    case pgHead: return &f.reHead;
    case pgTime: return &f.reTime;
    case pgOwn: return &f.reOwn;
    default: return nullptr;
  }
}

std::string FileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file's time of last change, as the window writes dates.
std::string FileTime(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return "?";
  std::tm tm{};
  const std::time_t t = st.st_mtime;
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%d.%m.%Y %H:%M:%S", &tm);
  return buf;
}

}  // namespace

std::vector<TOutputLine> TfrmMain::TabOutputLines(int page) {
  std::vector<TOutputLine> lines;
  if (TRichEdit* pane = PaneOf(*this, page)) lines = pane->Lines();
  for (TOutputLine& l : ResultControlLines(*this, page)) lines.push_back(std::move(l));
  return lines;
}

bool TfrmMain::SaveOutput(int page, const std::string& path) {
  const std::vector<TOutputLine> lines = TabOutputLines(page);
  std::string content;
  switch (SaveFormatOf(path)) {
    case TSaveFormat::Text: content = OutputAsText(lines); break;
    case TSaveFormat::Html:
      content = OutputAsHtml(Caption + " - " + Page(page)->Caption(), lines);
      break;
    case TSaveFormat::JsonLines: {
      // The verdict as the console gives it: the tool's own where it has
      // one, else its error and time-out lines.
      bool failed = false;
      for (const TOutputLine& l : lines) failed = failed || IsFailureColor(l.Color);
      if (ToolFailed.at(page))
        failed = true;
      else if (ToolAnswered.at(page))
        failed = false;
      content = OutputAsJsonLines(ToolName(page), lines, failed ? "failed" : "ok",
                                  ToolResults.at(page));
      break;
    }
  }
  std::string error;
  if (!WriteFileAtomically(path, content, error)) {
    const std::string text =
        LangText("Main|SaveFailed", "Die Ausgabe konnte nicht in \"%s1%\" gespeichert werden: %s2%",
                 {path, error});
    SetStatus(" " + text);
    platform::Desktop().MessageBox(Caption, text);
    return false;
  }
  SetStatus(" " + LangText("Main|sbSaved", "Ausgabe gespeichert in \"%s1%\".", {FileName(path)}));
  return true;
}

bool TfrmMain::OpenRecording(const std::string& path) {
  auto refuse = [&](const std::string& text) {
    SetStatus(" " + text);
    platform::Desktop().MessageBox(Caption, text);
    return false;
  };
  std::ifstream in(path, std::ios::binary);
  struct stat st {};
  if (!in || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
    return refuse(LangText("Main|OpenFailed", "Die Aufzeichnung \"%s1%\" kann nicht gelesen werden.",
                           {path}));
  const TRecording rec = ReadRecording(in);

  // Only the tabs with an output pane show a recording; the lines of the
  // others count with the bad ones.
  int first = -1;
  size_t unshown = rec.BadLines, firstUnshown = rec.FirstBadLine;
  std::array<bool, 10> cleared{};
  for (const TRecordedLine& r : rec.Lines) {
    TRichEdit* pane = PaneOf(*this, r.Page);
    if (!pane) {
      ++unshown;
      continue;
    }
    if (!cleared.at(r.Page)) {
      cleared.at(r.Page) = true;
      pane->Clear();
      ToolResults.at(r.Page).clear();
      ToolFailed.at(r.Page) = false;
      ToolAnswered.at(r.Page) = false;
      if (first < 0) first = r.Page;
    }
    pane->AddLine(r.Line.Text, r.Line.Color, r.Line.Fields);
  }
  if (first < 0)
    return refuse(LangText("Main|RecordingEmpty",
                           "\"%s1%\" enthält keine Zeilen einer Aufzeichnung von quovix-cli --json.",
                           {path}));
  for (const TRecordedResult& r : rec.Results) {
    if (r.Page < 0 || !cleared.at(r.Page)) continue;
    ToolResults.at(r.Page) = r.Fields;
    // The verdict as it was, also where the colours alone would tell
    // another one (a run's own verdict).
    bool failureLines = false;
    for (const TOutputLine& l : PaneOf(*this, r.Page)->Lines())
      failureLines = failureLines || IsFailureColor(l.Color);
    if (r.Status == "failed" && !failureLines) ToolFailed.at(r.Page) = true;
    if (r.Status == "ok" && failureLines) ToolAnswered.at(r.Page) = true;
  }
  // A classic trace's lines are in the pane, not in the rounds table.
  if (cleared.at(pgTrace)) {
    lvTraceRounds.SetVisible(false);
    reTrace.SetVisible(true);
  }
  TRichEdit& shown = *PaneOf(*this, first);
  if (unshown > 0) {
    shown.AddLine(
        firstUnshown > 0
            ? LangText("Main|RecordingBadLines",
                       "%s1% Zeilen der Aufzeichnung nicht gezeigt (die erste: Zeile %s2%).",
                       {std::to_string(unshown), std::to_string(firstUnshown)})
            : LangText("Main|RecordingNoPane",
                       "%s1% Zeilen der Aufzeichnung nicht gezeigt (Werkzeuge ohne Ausgabefeld).",
                       {std::to_string(unshown)}),
        clRed);
  }
  if (rec.Capped)
    shown.AddLine(LangText("Main|RecordingCapped",
                           "Die Aufzeichnung ist länger als %s1% Zeilen oder %s2% MB; der Rest "
                           "wurde nicht gelesen.",
                           {std::to_string(kRecordingMaxLines),
                            std::to_string(kRecordingMaxBytes / (1024 * 1024))}),
                  clRed);
  pcMain.SetActivePageIndex(first);
  SetStatus(" " + LangText("Main|sbRecording", "Aufzeichnung \"%s1%\" vom %s2%",
                           {FileName(path), FileTime(path)}));
  return true;
}

void TfrmMain::mnuFileSaveClick() {
  // A running tool is still writing its lines.
  if (!ToolIdle || !AskSaveFileName) return;
  const int page = pcMain.ActivePageIndex();
  const std::string path = AskSaveFileName(ToolName(page));
  if (!path.empty()) SaveOutput(page, path);
}

void TfrmMain::mnuFileOpenClick() {
  if (!ToolIdle || !AskOpenFileName) return;
  const std::string path = AskOpenFileName();
  if (!path.empty()) OpenRecording(path);
}

}  // namespace quovix
