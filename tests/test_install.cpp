// What an installation consists of: the installed programs finding their
// data in share/quovix/ and the settings in the user's config folder, the
// desktop files accepted by the freedesktop validators, and a manual page
// that names every parameter.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/fCommandLine.h"
#include "support/TestFiles.h"

namespace fs = std::filesystem;
using quovix::test::ReadFile;
using quovix::test::WriteFile;

namespace {

const fs::path kSource = QUOVIX_SOURCE_DIR;

struct CommandResult {
  int status = -1;
  std::string output;  // stdout and stderr together
};

// Runs a shell command line; its output goes through a file beside out.
CommandResult RunShell(const std::string& command, const fs::path& out) {
  CommandResult r;
  int rc = std::system((command + " >'" + out.string() + "' 2>&1").c_str());
  r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  r.output = ReadFile(out);
  return r;
}

bool HaveTool(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

class Installation : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/quovix-install-XXXXXX";
    dir_ = mkdtemp(tmpl);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

}  // namespace

TEST_F(Installation, InstalledProgramsFindTheirDataAndTheUsersSettings) {
  const fs::path prefix = dir_ / "prefix";
  CommandResult inst = RunShell("'" QUOVIX_CMAKE_COMMAND "' --install '" QUOVIX_BUILD_DIR
                           "' --prefix '" + prefix.string() + "'",
                           dir_ / "install.log");
  ASSERT_EQ(inst.status, 0) << inst.output;
  for (const char* f : {"bin/quovix-cli", "share/quovix/Whois.pak", "share/quovix/Ports.clf",
                        "share/quovix/Language/English.lng", "share/quovix/RDAP/dns.json",
                        "share/quovix/RDAP/ipv4.json", "share/quovix/RDAP/ipv6.json",
                        "share/quovix/RDAP/asn.json", "share/doc/quovix/copyright"})
    EXPECT_TRUE(fs::is_regular_file(prefix / f)) << f;
  if (fs::exists(fs::path(QUOVIX_BIN_DIR) / "Quovix")) {
    for (const char* f : {"bin/quovix", "share/applications/quovix.desktop",
                          "share/icons/hicolor/scalable/apps/quovix.svg",
                          "share/metainfo/org.example.quovix.Quovix.metainfo.xml"})
      EXPECT_TRUE(fs::is_regular_file(prefix / f)) << f;
    EXPECT_FALSE(fs::exists(prefix / "bin/Quovix"));
  }
  if (HaveTool("scdoc")) {
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/man/man1/quovix.1.gz"));
    EXPECT_TRUE(fs::is_regular_file(prefix / "share/man/man1/quovix-cli.1.gz"));
  }
  EXPECT_FALSE(fs::exists(prefix / "bin/Ports.clf")) << "no data beside the installed programs";

  // The user's settings point the DNS server at loopback; the line that
  // names it shows they were read (the lookup of localhost asks no server).
  fs::create_directories(dir_ / "cfg/quovix");
  WriteFile(dir_ / "cfg/quovix/Quovix.ini", "[Settings]\nActiveDnsServerIP=127.0.0.1\n");
  const std::string cli = "cd / && env XDG_CONFIG_HOME='" + (dir_ / "cfg").string() + "' '" +
                          (prefix / "bin/quovix-cli").string() + "' ";
  CommandResult list = RunShell(cli + "/List:443 /ListL:Ports", dir_ / "list.out");
  EXPECT_EQ(list.status, 0) << list.output;
  EXPECT_NE(list.output.find("443/tcp"), std::string::npos) << list.output;
  CommandResult dns = RunShell(cli + "/Dns:localhost /DnsI:0 /DnsD:0", dir_ / "dns.out");
  EXPECT_EQ(dns.status, 0) << dns.output;
  EXPECT_NE(dns.output.find("DNS-Server: 127.0.0.1"), std::string::npos) << dns.output;
  EXPECT_EQ(ReadFile(dir_ / "cfg/quovix/Quovix.ini"), "[Settings]\nActiveDnsServerIP=127.0.0.1\n");
}

// As the package installs them (stripped), both programs have every
// hardening feature hardening-check looks for; nothing is setuid or setgid.
TEST_F(Installation, InstalledProgramsAreHardenedAndNothingIsSetuid) {
  if (!QUOVIX_HARDENED) GTEST_SKIP() << "not a hardened build (sanitizers, or QUOVIX_HARDENING=OFF)";
  if (!HaveTool("hardening-check")) GTEST_SKIP() << "hardening-check missing (devscripts)";
  const fs::path prefix = dir_ / "prefix";
  CommandResult inst = RunShell("'" QUOVIX_CMAKE_COMMAND "' --install '" QUOVIX_BUILD_DIR
                                "' --strip --prefix '" + prefix.string() + "'",
                                dir_ / "install.log");
  ASSERT_EQ(inst.status, 0) << inst.output;
  int checked = 0;
  for (const char* program : {"bin/quovix-cli", "bin/quovix"}) {
    if (!fs::exists(prefix / program)) continue;
    ++checked;
    CommandResult r = RunShell("hardening-check '" + (prefix / program).string() + "'",
                               dir_ / "hardening.out");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find(": no"), std::string::npos) << r.output;
  }
  EXPECT_GE(checked, 1);
  for (const auto& e : fs::recursive_directory_iterator(prefix)) {
    const fs::perms p = e.symlink_status().permissions();
    EXPECT_EQ(p & (fs::perms::set_uid | fs::perms::set_gid), fs::perms::none) << e.path();
  }
}

TEST_F(Installation, DesktopFilesPassTheValidators) {
  const fs::path desktop = kSource / "desktop/quovix.desktop";
  const fs::path metainfo = kSource / "desktop/org.example.quovix.Quovix.metainfo.xml";
  const std::string entry = ReadFile(desktop);
  // A URL from the desktop reaches the program; the icon and the metadata
  // name the files that are installed.
  EXPECT_NE(entry.find("\nExec=quovix %U\n"), std::string::npos);
  EXPECT_NE(entry.find("\nIcon=quovix\n"), std::string::npos);
  EXPECT_NE(entry.find("\nCategories=Network;Monitor;\n"), std::string::npos);
  EXPECT_NE(entry.find("\nKeywords[de]="), std::string::npos);
  EXPECT_TRUE(fs::is_regular_file(kSource / "desktop/quovix.svg"));
  EXPECT_NE(ReadFile(metainfo).find("<launchable type=\"desktop-id\">quovix.desktop</launchable>"),
            std::string::npos);

  bool ran = false;
  if (HaveTool("desktop-file-validate")) {
    ran = true;
    CommandResult r = RunShell("desktop-file-validate '" + desktop.string() + "'", dir_ / "d.out");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output, "") << "not even a hint";
  }
  if (HaveTool("appstreamcli")) {
    ran = true;
    CommandResult r = RunShell("appstreamcli validate --no-net '" + metainfo.string() + "'", dir_ / "a.out");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("W:"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("E:"), std::string::npos) << r.output;
  }
  if (!ran) GTEST_SKIP() << "desktop-file-validate and appstreamcli missing (scripts/install-deps)";
}

// Other parameters will come: the manual page has to grow with the help.
TEST(ManualPage, NamesEveryParameterOfTheHelp) {
  const std::string page = ReadFile(kSource / "doc/quovix-cli.1.scd");
  ASSERT_FALSE(page.empty());
  for (const std::string& line : quovix::CommandLineHelp()) {
    std::string param = line.substr(line.find_first_not_of(' '));
    param = param.substr(0, param.find(' '));
    if (size_t colon = param.find(':'); colon != std::string::npos) param.resize(colon + 1);
    EXPECT_NE(page.find("*" + param + "*"), std::string::npos) << param;
  }
  for (const char* section : {"# EXIT STATUS", "# EXAMPLES", "# FILES", "# ENVIRONMENT"})
    EXPECT_NE(page.find(section), std::string::npos) << section;
}
