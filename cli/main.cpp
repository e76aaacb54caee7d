// quovix-cli: the window's model without a window. Pane lines go to stdout,
// status texts and message boxes to stderr.
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/fCommandLine.h"
#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/Desktop.h"

using namespace quovix;

namespace {

volatile std::sig_atomic_t g_interrupts = 0;

void OnSigint(int) {
  g_interrupts = g_interrupts + 1;
  if (g_interrupts >= 2) _exit(130);
}

class ConsoleDesktop : public platform::IDesktop {
 public:
  void MessageBox(const std::string& title, const std::string& text) override {
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
  }
  bool OpenUrl(const std::string&) override { return false; }
};

bool UseColour() { return isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr; }

void PrintLine(const TOutputLine& line, bool colour) {
  if (colour && line.Color != clBlack) {
    std::printf("\x1b[38;2;%u;%u;%um%s\x1b[0m\n", (line.Color >> 16) & 0xFF,
                (line.Color >> 8) & 0xFF, line.Color & 0xFF, line.Text.c_str());
  } else {
    std::printf("%s\n", line.Text.c_str());
  }
  std::fflush(stdout);
}

std::string ProgramFile() {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::string("quovix-cli") : p.string();
}

}  // namespace

int main(int argc, char** argv) {
  std::string exe = ProgramFile();
  ProgramFolder = exe.substr(0, exe.find_last_of('/') + 1);
  IniFilePath = ProgramFolder + "Quovix.ini";

  ConsoleDesktop desktop;
  platform::SetDesktop(&desktop);

  TfrmMain form;
  form.CommandLineArgs.assign(argv, argv + argc);
  const bool colour = UseColour();
  for (TRichEdit* pane : form.OutputPanes())
    pane->OnLineAdded = [colour](const TOutputLine& l) { PrintLine(l, colour); };
  form.sbMain.OnText = [](const std::string& t) { std::fprintf(stderr, "%s\n", t.c_str()); };

  struct sigaction sa {};
  sa.sa_handler = OnSigint;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  // Ctrl+C is the abort click of the running tool.
  form.ProcessMessages = [&form] {
    if (g_interrupts > 0) {
      for (TButton* b : {&form.btnPingStart, &form.btnTraceStart, &form.btnWhoisStart,
                         &form.btnGPRankStart})
        if (b->RunState == 1) b->RunState = -1;
    }
  };

  form.FormCreate();
  form.FormShow();
  // The console front end reads the settings but never writes them: no
  // FormClose, whose only work is saving them.
  return g_interrupts > 0 ? 130 : 0;
}
