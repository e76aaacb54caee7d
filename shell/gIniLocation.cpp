// Where the data and the settings file live: beside the program in a build
// or portable folder, in <prefix>/share/quovix/ and the user's config folder
// once installed.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "common/fMain.h"
#include "platform/Desktop.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"

namespace quovix {
namespace {

namespace fs = std::filesystem;

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegular(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool Exists(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

std::string ParentOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates the folder and the missing ones above it; the new ones are private
// to the user as the base-directory rules ask.
bool MakeFolders(const std::string& folder) {
  if (folder.empty() || IsDirectory(folder)) return !folder.empty();
  if (!MakeFolders(ParentOf(folder))) return false;
  return mkdir(folder.c_str(), 0700) == 0 || (errno == EEXIST && IsDirectory(folder));
}

bool reported = false;

}  // namespace

TSettingsEnvironment SettingsEnvironment() {
  auto env = [](const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
  };
  TSettingsEnvironment e{env("XDG_CONFIG_HOME"), env("HOME"), env("XDG_CONFIG_DIRS")};
  if (e.Home.empty()) {
    // A service or cron job may run without HOME; the account still has one.
    passwd pw {};
    passwd* found = nullptr;
    char buf[4096];
    if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
      e.Home = found->pw_dir;
  }
  return e;
}

TSettingsLocation ChooseSettingsLocation(const std::string& programFile,
                                         const TSettingsEnvironment& env) {
  TSettingsLocation loc;
  const std::string programDir = ParentOf(programFile);
  const fs::path share = fs::path(programDir).parent_path() / "share" / "quovix";
  loc.Installed = fs::path(programDir).filename() == "bin" && IsDirectory(share.string());
  loc.ProgramFolder = loc.Installed ? share.lexically_normal().string() + "/"
                                    : (programDir == "/" ? "/" : programDir + "/");
  const std::string beside =
      (programDir == "/" ? std::string() : programDir) + "/" + kSettingsFileName;

  std::string configHome;
  if (!env.XdgConfigHome.empty() && env.XdgConfigHome[0] == '/')
    configHome = env.XdgConfigHome;
  else if (!env.Home.empty() && env.Home[0] == '/')
    configHome = (env.Home == "/" ? std::string() : env.Home) + "/.config";

  const bool besideWritable = access(programDir.c_str(), W_OK | X_OK) == 0;
  if ((!loc.Installed && besideWritable) || configHome.empty()) {
    // A build or portable folder; without any home there is no other place
    // (a read-only folder then gets its write failure reported).
    loc.IniFilePath = beside;
    return loc;
  }
  loc.UserConfig = true;
  loc.IniFilePath = configHome + "/quovix/" + kSettingsFileName;

  std::vector<std::string> candidates{beside};
  std::string dirs = env.XdgConfigDirs.empty() ? "/etc/xdg" : env.XdgConfigDirs;
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t colon = dirs.find(':', start);
    std::string d = dirs.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    if (!d.empty() && d[0] == '/') candidates.push_back(d + "/quovix/" + kSettingsFileName);
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  for (const std::string& c : candidates)
    if (IsRegular(c)) {
      loc.SiteDefault = c;
      break;
    }
  return loc;
}

std::string PrepareSettingsFile(const TSettingsLocation& location) {
  if (!location.UserConfig || Exists(location.IniFilePath)) return {};
  const std::string folder = ParentOf(location.IniFilePath);
  if (!MakeFolders(folder)) return folder;
  if (location.SiteDefault.empty()) return {};  // the first save makes the file
  TIniDocument site;
  if (site.Load(location.SiteDefault) != TIniDocument::LoadResult::Ok) return {};
  return site.Save(location.IniFilePath) ? std::string() : location.IniFilePath;
}

std::string SettingsFileToRead(const TSettingsLocation& location) {
  if (location.UserConfig && !location.SiteDefault.empty() && !Exists(location.IniFilePath))
    return location.SiteDefault;
  return location.IniFilePath;
}

bool SettingsFileWritable(const std::string& iniFile) {
  std::string target = iniFile;
  struct stat st {};
  if (lstat(iniFile.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      char* real = realpath(iniFile.c_str(), nullptr);
      if (!real) return false;
      target = real;
      std::free(real);
    }
    if (!IsRegular(target)) return false;
  }
  std::string folder = ParentOf(target);
  while (!IsDirectory(folder)) {
    if (Exists(folder) || folder == "/" || folder == ".") return false;
    folder = ParentOf(folder);
  }
  return access(folder.c_str(), W_OK | X_OK) == 0;
}

void ReportSettingsProblem(bool reading, const std::string& iniFile) {
  if (reported) return;
  reported = true;
  const std::string text =
      reading ? LangText("General|MsgSettingsUnreadable",
                         "Die Einstellungsdatei \"%s1%\" kann nicht gelesen werden. Es gelten "
                         "die Standardwerte, und die Datei wird nicht überschrieben.",
                         {iniFile})
              : LangText("General|MsgSettingsUnwritable",
                         "Die Einstellungen können nicht in \"%s1%\" gespeichert werden.",
                         {iniFile});
  platform::Desktop().MessageBox(LangText("General|MsgSettingsTitle", "Einstellungen"), text);
}

void ResetSettingsReport() { reported = false; }

TIniDropped SettingsDropped;

void ReportSettingsDropped(const std::string& iniFile) {
  if (SettingsDropped.Bound.empty()) return;
  const std::string& b = SettingsDropped.Bound;
  const std::string bound =
      b == "sections" ? LangText("General|MsgSettingsBoundSections", "%s1% Abschnitte",
                                 {std::to_string(kIniMaxSections)})
      : b == "keys"   ? LangText("General|MsgSettingsBoundKeys", "%s1% Schlüssel",
                                 {std::to_string(kIniMaxKeys)})
                      : LangText("General|MsgSettingsBoundLines", "%s1% Zeilen",
                                 {std::to_string(kIniMaxLines)});
  const std::string text = LangText(
      "General|MsgSettingsDropped",
      "Die Einstellungsdatei \"%s1%\" hat mehr als %s2%: ab Zeile %s3% ist sie nicht gelesen "
      "worden, und sie wird nicht überschrieben.",
      {iniFile, bound, std::to_string(SettingsDropped.FromLine)});
  std::fprintf(stderr, "%s\n", MaskControls(text).c_str());
}

}  // namespace quovix
