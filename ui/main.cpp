// Quovix: the window. Creates the model and its Qt view, runs the creation
// and show steps (the show steps run any tools the command line asks for)
// and then the event loop.
#include <QApplication>
#include <filesystem>
#include <string>
#include <vector>

#include "app/formMain.h"
#include "common/fMain.h"
#include "ui/Dialogs.h"
#include "ui/MainWindow.h"

namespace {

std::string ProgramFile(const char* argv0) {
  std::error_code ec;
  auto p = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) return p.string();
  return std::filesystem::absolute(argv0, ec).string();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quovix");
  QApplication::setWindowIcon(quovix::ui::ProgramIcon());

  const std::string exe = ProgramFile(argv[0]);
  quovix::ProgramFolder = exe.substr(0, exe.find_last_of('/') + 1);
  quovix::IniFilePath = exe + ".ini";

  quovix::TfrmMain form;
  // QApplication has taken its own options (-platform, …) out of argv.
  form.CommandLineArgs.assign(argv, argv + argc);

  quovix::ui::MainWindow window(form);
  // Ctrl+P and the Help menu's info item open the dialogs through these hooks.
  quovix::ui::InstallDialogs(form, &window);
  form.FormCreate();
  window.ShowCentred();
  form.FormShow();
  window.SyncFormState();
  // The window may have been closed while the command line's tools ran.
  if (!window.isVisible()) return 0;
  return app.exec();
}
