// Where data and settings live: beside the program in a writable build or
// portable folder, in share/quovix/ and the user's config folder once
// installed or when the program's folder is read-only; the site default that
// starts the user's file; the one report of a settings file that cannot be
// written.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/Desktop.h"
#include "shell/fLanguage.h"
#include "shell/gIni.h"
#include "support/TestFiles.h"

using namespace quovix;
namespace fs = std::filesystem;

namespace {

using quovix::test::ReadFile;
using quovix::test::WriteFile;

unsigned Mode(const fs::path& p) {
  struct stat st {};
  return stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

constexpr int kNoReadOnlyMount = 77;

struct ChildResult {
  int status = -1;
  std::string out;
};

// Runs fn in a child process for which folder is read-only: for root through
// a read-only bind mount in a mount namespace of its own (root writes through
// any mode), for anybody else by the folder's mode. What the child writes to
// stdout and stderr comes back; its exit status is fn's result.
ChildResult InReadOnlyFolder(const fs::path& folder, const std::function<int()>& fn) {
  const bool root = geteuid() == 0;
  if (!root) chmod(folder.c_str(), 0555);
  int p[2];
  ChildResult r;
  if (pipe(p) != 0) return r;
  pid_t pid = fork();
  if (pid == 0) {
    close(p[0]);
    dup2(p[1], 1);
    dup2(p[1], 2);
    if (root && (unshare(CLONE_NEWNS) != 0 ||
                 mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                 mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
                 mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                       nullptr) != 0))
      _exit(kNoReadOnlyMount);
    int rc = fn();
    fflush(stdout);
    _exit(rc);
  }
  close(p[1]);
  char buf[4096];
  for (ssize_t n; (n = read(p[0], buf, sizeof buf)) > 0;) r.out.append(buf, static_cast<size_t>(n));
  close(p[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  if (!root) chmod(folder.c_str(), 0755);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

class RecordingDesktop : public platform::IDesktop {
 public:
  std::vector<std::string> Boxes;
  void MessageBox(const std::string& title, const std::string& text) override {
    Boxes.push_back(title + ": " + text);
  }
  bool OpenUrl(const std::string&) override { return false; }
};

class SettingsLocationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quovix-location-XXXXXX";
    root_ = mkdtemp(tmpl);
    env_.XdgConfigHome = (root_ / "cfg").string();
    env_.Home = (root_ / "home").string();
    env_.XdgConfigDirs = (root_ / "nosuchdir").string();
    savedFolder_ = ProgramFolder;
    savedIni_ = IniFilePath;
    ResetSettingsReport();
  }
  void TearDown() override {
    ProgramFolder = savedFolder_;
    IniFilePath = savedIni_;
    ResetSettingsValues();
    ResetSettingsReport();
    fs::remove_all(root_);
  }
  fs::path root_;
  TSettingsEnvironment env_;
  std::string savedFolder_, savedIni_;
};

}  // namespace

TEST_F(SettingsLocationTest, BuildOrPortableFolderKeepsEverythingBeside) {
  fs::create_directories(root_ / "build" / "bin");
  TSettingsLocation loc = ChooseSettingsLocation((root_ / "build/bin/Quovix").string(), env_);
  EXPECT_FALSE(loc.Installed);
  EXPECT_FALSE(loc.UserConfig);
  EXPECT_EQ(loc.ProgramFolder, (root_ / "build/bin").string() + "/");
  EXPECT_EQ(loc.IniFilePath, (root_ / "build/bin/Quovix.ini").string());
  EXPECT_EQ(loc.SiteDefault, "");
  EXPECT_EQ(SettingsFileToRead(loc), loc.IniFilePath);
  EXPECT_EQ(PrepareSettingsFile(loc), "");
  EXPECT_FALSE(fs::exists(root_ / "cfg")) << "nothing is made in the user's folder";
}

TEST_F(SettingsLocationTest, InstalledTakesShareAndTheUsersConfigFolder) {
  fs::create_directories(root_ / "usr/bin");
  fs::create_directories(root_ / "usr/share/quovix");
  const std::string exe = (root_ / "usr/bin/quovix").string();
  TSettingsLocation loc = ChooseSettingsLocation(exe, env_);
  EXPECT_TRUE(loc.Installed);
  EXPECT_TRUE(loc.UserConfig);
  EXPECT_EQ(loc.ProgramFolder, (root_ / "usr/share/quovix").string() + "/");
  EXPECT_EQ(loc.IniFilePath, (root_ / "cfg/quovix/Quovix.ini").string());
  EXPECT_EQ(loc.SiteDefault, "");

  // A relative XDG_CONFIG_HOME is not a base directory: ~/.config is.
  env_.XdgConfigHome = "relative/cfg";
  EXPECT_EQ(ChooseSettingsLocation(exe, env_).IniFilePath,
            (root_ / "home/.config/quovix/Quovix.ini").string());
  // No home at all: the settings stay beside the program (and cannot be written).
  env_.XdgConfigHome.clear();
  env_.Home.clear();
  loc = ChooseSettingsLocation(exe, env_);
  EXPECT_FALSE(loc.UserConfig);
  EXPECT_EQ(loc.IniFilePath, (root_ / "usr/bin/Quovix.ini").string());

  // A site default in the second of the system's config folders.
  env_.XdgConfigHome = (root_ / "cfg").string();
  fs::create_directories(root_ / "etc2/quovix");
  WriteFile(root_ / "etc2/quovix/Quovix.ini", "[Settings]\nActiveDnsServerIP=127.0.0.1\n");
  env_.XdgConfigDirs = (root_ / "etc1").string() + ":relative:" + (root_ / "etc2").string();
  loc = ChooseSettingsLocation(exe, env_);
  EXPECT_EQ(loc.SiteDefault, (root_ / "etc2/quovix/Quovix.ini").string());
  // The console reads it while the user has no file of their own.
  EXPECT_EQ(SettingsFileToRead(loc), loc.SiteDefault);
  // A folder named bin without share/quovix beside it is a portable folder.
  fs::create_directories(root_ / "opt/bin");
  EXPECT_FALSE(ChooseSettingsLocation((root_ / "opt/bin/quovix").string(), env_).Installed);
}

// The program copied to a folder it cannot write, with a site default beside
// it: the window's first start makes the user's file from it, the next start
// finds that file, and settings saved at the close come back.
TEST_F(SettingsLocationTest, ReadOnlyProgramFolderMovesTheSettingsToTheUser) {
  const fs::path prog = root_ / "portable";
  fs::create_directories(prog);
  WriteFile(prog / "Quovix.ini",
            "[Settings]\nActiveDnsServerIP=127.0.0.1\nMaxRecentItems=40\n[Window]\nKeep=1\n");
  const std::string exe = (prog / "Quovix").string();

  auto startInChild = [&] {
    return InReadOnlyFolder(prog, [&] {
      TSettingsLocation loc = ChooseSettingsLocation(exe, env_);
      std::printf("%d\n%s\n%s\n%s\n%s\n", loc.UserConfig ? 1 : 0, loc.IniFilePath.c_str(),
                  loc.SiteDefault.c_str(), PrepareSettingsFile(loc).c_str(),
                  SettingsFileWritable((prog / "Quovix.ini").string()) ? "beside-writable" : "");
      return 0;
    });
  };
  ChildResult r = startInChild();
  if (r.status == kNoReadOnlyMount) GTEST_SKIP() << "no private read-only mount possible here";
  ASSERT_EQ(r.status, 0) << r.out;
  const fs::path user = root_ / "cfg/quovix/Quovix.ini";
  std::string lines = "1\n" + user.string() + "\n" + (prog / "Quovix.ini").string() + "\n\n\n";
  EXPECT_EQ(r.out, lines);
  EXPECT_EQ(ReadFile(user), ReadFile(prog / "Quovix.ini")) << "the site default, every section";
  EXPECT_EQ(Mode(user), 0600u);
  EXPECT_EQ(Mode(user.parent_path()), 0700u);

  // The window closes with changed settings, in the user's file.
  ProgramFolder = prog.string() + "/";
  IniFilePath = user.string();
  {
    TfrmMain f;
    f.FormCreate();
    EXPECT_EQ(MaxRecentItems, 40);
    EXPECT_EQ(ActiveDnsServerIP, "127.0.0.1");
    f.AddRecentItem(f.cmbDnsHost, "host.example");
    f.FormClose();
  }
  // The next start keeps the user's file (the site default is only a start)
  // and finds what was saved.
  r = startInChild();
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, lines);
  ResetSettingsValues();
  TfrmMain g;
  g.FormCreate();
  EXPECT_EQ(g.cmbDnsHost.Items(), std::vector<std::string>{"host.example"});
  EXPECT_EQ(MaxRecentItems, 40);
  EXPECT_EQ(IniReadString(IniFilePath, "Window", "Keep", ""), "1");
  EXPECT_EQ(Mode(user), 0600u);
  EXPECT_EQ(ReadFile(prog / "Quovix.ini").find("host.example"), std::string::npos);
}

// The console binary in a read-only copy reads the site default until the
// user has a file, then the user's file, and makes nothing itself.
TEST_F(SettingsLocationTest, ConsoleInAReadOnlyCopyReadsTheSiteDefaultThenTheUsersFile) {
  const fs::path cli = fs::path(QUOVIX_BIN_DIR) / "quovix-cli";
  ASSERT_TRUE(fs::exists(cli)) << cli << " is missing";
  const fs::path prog = root_ / "portable";
  fs::create_directories(prog / "Language");
  fs::copy_file(cli, prog / "quovix-cli");
  fs::copy_file(fs::path(QUOVIX_SOURCE_DIR) / "lang/English.lng", prog / "Language/English.lng");
  WriteFile(prog / "Quovix.ini", "[Settings]\nLanguage=English\nActiveDnsServerIP=127.0.0.1\n");
  const std::string exe = (prog / "quovix-cli").string();
  const std::string cfg = "XDG_CONFIG_HOME=" + (root_ / "cfg").string();
  auto run = [&] {
    return InReadOnlyFolder(prog, [&] {
      char* argv[] = {const_cast<char*>(exe.c_str()), const_cast<char*>("/List:nothing"), nullptr};
      char* envp[] = {const_cast<char*>(cfg.c_str()), const_cast<char*>("HOME=/nonexistent"),
                      nullptr};
      execve(exe.c_str(), argv, envp);
      return 126;
    });
  };
  ChildResult r = run();
  if (r.status == kNoReadOnlyMount) GTEST_SKIP() << "no private read-only mount possible here";
  // There is no list to search beside this copy: the search fails (1).
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("cannot be read."), std::string::npos) << r.out;
  EXPECT_FALSE(fs::exists(root_ / "cfg")) << "the console writes nothing";

  fs::create_directories(root_ / "cfg/quovix");
  WriteFile(root_ / "cfg/quovix/Quovix.ini", "[Settings]\nLanguage=\n");
  r = run();
  EXPECT_EQ(r.status, 1) << r.out;
  EXPECT_NE(r.out.find("kann nicht gelesen werden."), std::string::npos) << r.out;
}

TEST_F(SettingsLocationTest, WritabilityAndTheOneReport) {
  fs::create_directories(root_ / "cfg");
  EXPECT_TRUE(SettingsFileWritable((root_ / "cfg/quovix/deeper/Quovix.ini").string()));
  fs::create_directories(root_ / "cfg/adir.ini");
  EXPECT_FALSE(SettingsFileWritable((root_ / "cfg/adir.ini").string()));
  WriteFile(root_ / "cfg/plain", "x");
  EXPECT_FALSE(SettingsFileWritable((root_ / "cfg/plain/Quovix.ini").string()));
  ChildResult r = InReadOnlyFolder(root_ / "cfg", [&] {
    return SettingsFileWritable((root_ / "cfg/Quovix.ini").string()) ? 1 : 0;
  });
  if (r.status != kNoReadOnlyMount) {
    EXPECT_EQ(r.status, 0);
  }

  // A folder where the file belongs: the load says so at the start, the
  // close cannot save; the user hears of it once.
  RecordingDesktop desktop;
  platform::SetDesktop(&desktop);
  ProgramFolder = root_.string() + "/";
  IniFilePath = (root_ / "cfg/adir.ini").string();
  {
    TfrmMain f;
    f.FormCreate();
    f.FormClose();
    f.FormClose();
  }
  ASSERT_EQ(desktop.Boxes.size(), 1u);
  EXPECT_NE(desktop.Boxes[0].find("adir.ini"), std::string::npos);
  EXPECT_NE(desktop.Boxes[0].find("kann nicht gelesen"), std::string::npos);

  // A file that reads but cannot be replaced: reported at the close.
  ResetSettingsReport();
  IniFilePath = (root_ / "cfg/plain/Quovix.ini").string();
  {
    TfrmMain f;
    f.FormCreate();
    EXPECT_TRUE(desktop.Boxes.size() == 1u);
    f.FormClose();
  }
  platform::SetDesktop(nullptr);
  ASSERT_EQ(desktop.Boxes.size(), 2u);
  EXPECT_NE(desktop.Boxes[1].find("können nicht in"), std::string::npos);
}
