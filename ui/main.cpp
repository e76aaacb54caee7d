// Quovix: the window. Creates the model and its Qt view, runs the creation
// and show steps (the show steps run any tools the command line asks for)
// and then the event loop.
#include <QApplication>
#include <filesystem>
#include <string>
#include <vector>

#include "app/fCommandLine.h"
#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/Capabilities.h"
#include "shell/gIni.h"
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
  // Before Qt starts its threads, which would keep what this one gave up.
  quovix::platform::DropUnneededCapabilities();
  QApplication app(argc, argv);
  QApplication::setApplicationName("Quovix");
  QApplication::setWindowIcon(quovix::ui::ProgramIcon());

  // Data beside the program or in <prefix>/share/quovix/; settings beside it
  // in a writable build or portable folder, else in the user's config folder.
  const quovix::TSettingsLocation settings =
      quovix::ChooseSettingsLocation(ProgramFile(argv[0]), quovix::SettingsEnvironment());
  quovix::ProgramFolder = settings.ProgramFolder;
  quovix::IniFilePath = settings.IniFilePath;
  const bool prepared = quovix::PrepareSettingsFile(settings).empty();

  quovix::TfrmMain form;
  // QApplication has taken its own options (-platform, …) out of argv.
  // A URL from the desktop entry (Exec=quovix %U) presets the HTTP-Header tool.
  form.CommandLineArgs = quovix::DesktopUrlsAsHead({argv, argv + argc});

  quovix::ui::MainWindow window(form);
  // Ctrl+P and the Help menu's info item open the dialogs through these hooks.
  quovix::ui::InstallDialogs(form, &window);
  form.FormCreate();
  window.ShowCentred();
  // Told at once rather than at the close, when the changes would be lost.
  if (!prepared || !quovix::SettingsFileWritable(quovix::IniFilePath))
    quovix::ReportSettingsProblem(false, quovix::IniFilePath);
  form.FormShow();
  // /Open:FILE shows a recording of quovix-cli --json, as Datei › Aufzeichnung
  // öffnen does.
  if (const std::string recording = quovix::GetParamValue("Open"); !recording.empty())
    form.OpenRecording(recording);
  window.SyncFormState();
  // The window may have been closed while the command line's tools ran.
  if (!window.isVisible()) return 0;
  return app.exec();
}
