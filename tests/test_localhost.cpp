// Local host information: DNS servers from resolver files, Ethernet adapters
// from the interface table, and console commands with their output file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "common/fEthernetAddr.h"
#include "common/fMain.h"
#include "platform/ConsoleCommand.h"
#include "platform/DnsConfig.h"
#include "icmp_test_util.h"
#include "platform/NetInterfaces.h"
#include "support/TestFiles.h"

using namespace quovix;
namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

using quovix::test::ReadFile;

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/quovix-localhost-XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path path;
};

// The DNS servers as read from the two resolver files of dir.
struct ResolverFiles {
  TempDir dir;
  fs::path conf = dir.path / "resolv.conf";
  fs::path upstream = dir.path / "upstream.conf";
  platform::LinuxDnsConfig config{conf.string(), upstream.string()};
  platform::ScopedSeam<platform::IDnsConfig> seam{&config};
};

}  // namespace

TEST(LocalDns, ServersInFileOrderIPv4Only) {
  ResolverFiles r;
  WriteFile(r.conf,
            "# generated\n"
            "search example.test\n"
            "nameserver 192.0.2.1\n"
            "  nameserver\t198.51.100.2 # secondary\n"
            "nameserver 2001:db8::1\n"
            "nameserver 300.1.1.1\n"
            "nameserver 192.0.2.3;x\n"
            "nameservers 192.0.2.9\n"
            "; nameserver 192.0.2.8\n"
            "nameserver\n"
            "options edns0\r\n"
            "nameserver 203.0.113.4\r\n");
  EXPECT_EQ(SystemDnsServers(),
            (std::vector<std::string>{"192.0.2.1", "198.51.100.2", "192.0.2.3", "203.0.113.4"}));
  EXPECT_EQ(DefaultDnsServer(), "192.0.2.1");
}

TEST(LocalDns, BothFamiliesInFileOrderForThoseWhoAskForThem) {
  ResolverFiles r;
  WriteFile(r.conf,
            "nameserver 2001:DB8:0::1\n"
            "nameserver 192.0.2.1\n"
            "nameserver fe80::53%eth0 # link-local\n"
            "nameserver [::1]\n"
            "nameserver 2001:db8::zz\n");
  EXPECT_EQ(AllSystemDnsServers(),
            (std::vector<std::string>{"2001:db8::1", "192.0.2.1", "fe80::53%eth0"}));
  EXPECT_EQ(SystemDnsServers(), (std::vector<std::string>{"192.0.2.1"}));
  // Behind a local stub, the upstream servers of both families.
  WriteFile(r.conf, "nameserver 127.0.0.53\n");
  WriteFile(r.upstream, "nameserver 2001:db8::53\nnameserver 192.0.2.10\n");
  EXPECT_EQ(AllSystemDnsServers(), (std::vector<std::string>{"2001:db8::53", "192.0.2.10"}));
  EXPECT_EQ(SystemDnsServers(), (std::vector<std::string>{"192.0.2.10"}));
}

TEST(LocalDns, NoServerGivesEmptyResults) {
  ResolverFiles r;
  EXPECT_EQ(DefaultDnsServer(), "");  // no file at all
  EXPECT_TRUE(SystemDnsServers().empty());
  WriteFile(r.conf, "search example.test\nnameserver ::1\n");
  EXPECT_EQ(DefaultDnsServer(), "");
  EXPECT_TRUE(SystemDnsServers().empty());
  std::string garbage;
  for (int i = 0; i < 200000; ++i) garbage += static_cast<char>(i * 131);
  WriteFile(r.conf, garbage);
  EXPECT_NO_THROW(SystemDnsServers());
}

TEST(LocalDns, LocalStubIsReplacedByItsUpstreamServers) {
  ResolverFiles r;
  WriteFile(r.conf, "nameserver 127.0.0.53\noptions edns0 trust-ad\n");
  // Without an upstream list the stub is all there is.
  EXPECT_EQ(SystemDnsServers(), (std::vector<std::string>{"127.0.0.53"}));
  WriteFile(r.upstream, "# upstream\n");
  EXPECT_EQ(SystemDnsServers(), (std::vector<std::string>{"127.0.0.53"}));
  WriteFile(r.upstream, "nameserver 192.0.2.10\nnameserver 2001:db8::53\nnameserver 192.0.2.11\n");
  EXPECT_EQ(SystemDnsServers(), (std::vector<std::string>{"192.0.2.10", "192.0.2.11"}));
  EXPECT_EQ(DefaultDnsServer(), "192.0.2.10");
  // A loopback server beside a real one is taken as configured.
  WriteFile(r.conf, "nameserver 127.0.0.1\nnameserver 192.0.2.20\n");
  EXPECT_EQ(SystemDnsServers(), (std::vector<std::string>{"127.0.0.1", "192.0.2.20"}));
}

// ---- Ethernet adapters ----------------------------------------------------------------

namespace {

class FakeInterfaces : public platform::INetInterfaces {
 public:
  std::vector<platform::NetInterfaceRow> Table;
  std::vector<platform::NetInterfaceRow> Rows() override { return Table; }
};

platform::NetInterfaceRow Row(unsigned index, std::string name, unsigned type, std::string hw,
                              std::string model = {}, bool wireless = false) {
  platform::NetInterfaceRow r;
  r.Index = index;
  r.Name = std::move(name);
  r.LinkType = type;
  r.HwAddr = std::move(hw);
  r.Model = std::move(model);
  r.Wireless = wireless;
  return r;
}

}  // namespace

TEST(LocalAdapters, IPv6AddressesOfTheInterfacesInIndexOrder) {
  struct Table : FakeInterfaces {
    std::vector<platform::NetAddressRow> Addresses6() override {
      auto a = [](unsigned i, const char* n, const char* addr) {
        return platform::NetAddressRow{i, n, IpAddress::Parse(addr)};
      };
      return {a(2, "eth0", "fe80::1%eth0"), a(2, "eth0", "2001:db8::2"), a(1, "lo", "::1"),
              a(1, "lo", "fd00::99"), a(2, "eth0", "ff02::1%eth0")};
    }
  } fake;
  platform::ScopedSeam<platform::INetInterfaces> seam(&fake);
  const auto list = LocalIPv6Addresses();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].Address, "fd00::99");
  EXPECT_EQ(list[0].Interface, "lo");
  EXPECT_EQ(list[1].Address, "2001:db8::2");
  EXPECT_FALSE(list[1].LinkLocal);
  EXPECT_EQ(list[2].Address, "fe80::1");  // the interface is named beside it
  EXPECT_TRUE(list[2].LinkLocal);
}

TEST(LocalAdapters, IPv6AddressesFromTheKernel) {
  if (geteuid() != 0 || std::system("ip -V >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "needs root and iproute2 for a network namespace";
  icmptest::NetnsSet ns;
  const std::string name = ns.Add("a");
  ASSERT_FALSE(name.empty());
  ASSERT_TRUE(icmptest::Sh("ip -n " + name + " link add name qa0 type veth peer name qa1"));
  ASSERT_TRUE(icmptest::Sh("ip -n " + name + " -6 addr add fd00:7::7/64 dev qa0 nodad"));
  ASSERT_TRUE(icmptest::Sh("ip -n " + name + " link set qa0 up"));
  ASSERT_TRUE(icmptest::Sh("ip -n " + name + " link set qa1 up"));
  // The kernel gives the link its fe80:: address only once it has seen the
  // carrier, which it notes up to a second later on a busy machine.
  ASSERT_TRUE(icmptest::Sh("for i in $(seq 50); do ip -n " + name +
                           " -6 addr show dev qa0 scope link | grep -q fe80 && exit 0; sleep 0.1; done; exit 1"));
  const std::string out = icmptest::RunInNetns(name, false, [] {
    std::string s;
    for (const auto& a : platform::LinuxNetInterfaces().Addresses6())
      s += a.Name + " " + a.Address.ToString() + (a.Address.IsLinkLocal() ? " ll" : "") + "\n";
    return s;
  });
  EXPECT_NE(out.find("qa0 fd00:7::7\n"), std::string::npos) << out;
  EXPECT_NE(out.find("lo ::1\n"), std::string::npos) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("qa0 fe80::[0-9a-f:]+%qa0 ll\n"))) << out;
}

TEST(LocalAdapters, EthernetOnlyInIndexOrder) {
  FakeInterfaces fake;
  fake.Table = {
      Row(3, "enp0s8", platform::kLinkEthernet, std::string("\x00\x1a\x2b\x3c\x4d\x5e", 6), "Intel 82540EM"),
      Row(1, "lo", platform::kLinkLoopback, std::string(6, '\0')),
      Row(2, "eth0", platform::kLinkEthernet, std::string("\xde\xad\xbe\xef\x00\x01", 6)),
      Row(4, "wlan0", platform::kLinkEthernet, std::string("\x02\x00\x00\x00\x00\x07", 6), "WiFi", true),
      Row(5, "tun0", 65534, ""),
      Row(6, "dummy", platform::kLinkEthernet, ""),
      Row(7, "ib0", 32, std::string(20, '\x11')),
  };
  platform::ScopedSeam<platform::INetInterfaces> seam(&fake);
  EXPECT_EQ(EthernetAdapterList(), (std::vector<std::string>{
                                       "de:ad:be:ef:00:01|eth0",
                                       "00:1a:2b:3c:4d:5e|enp0s8 (Intel 82540EM)",
                                   }));
}

TEST(LocalAdapters, LongAddressesAndDescriptionsAreCut) {
  FakeInterfaces fake;
  std::string model;
  while (model.size() < 400) model += "Netzwerkkarte für Ärger ";
  fake.Table = {Row(1, "eth0", platform::kLinkEthernet, std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a", 10), model)};
  platform::ScopedSeam<platform::INetInterfaces> seam(&fake);
  auto list = EthernetAdapterList();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].substr(0, list[0].find('|')), "01:02:03:04:05:06:07:08");
  std::string description = list[0].substr(list[0].find('|') + 1);
  EXPECT_LE(description.size(), 256u);
  EXPECT_GE(description.size(), 250u);
  EXPECT_EQ(DecodeUtf8(description), description) << "never half a character";
}

TEST(LocalAdapters, SysfsTableWithModels) {
  TempDir t;
  const fs::path net = t.path / "class" / "net";
  auto iface = [&](const std::string& name, int index, int type, const std::string& addr) {
    WriteFile(net / name / "ifindex", std::to_string(index) + "\n");
    WriteFile(net / name / "type", std::to_string(type) + "\n");
    WriteFile(net / name / "address", addr + "\n");
    WriteFile(net / name / "addr_len", std::to_string((addr.size() + 1) / 3) + "\n");
  };
  iface("lo", 1, 772, "00:00:00:00:00:00");
  iface("enp1s0", 2, 1, "00:1a:2b:3c:4d:5e");
  WriteFile(t.path / "udev" / "n2", "I:123\nE:ID_VENDOR_FROM_DATABASE=Intel Corporation\n"
                                    "E:ID_MODEL_FROM_DATABASE=82574L Gigabit Network Connection\n");
  iface("eth1", 3, 1, "52:54:00:12:34:56");
  fs::create_directories(t.path / "drivers" / "virtio_net");
  fs::create_directories(net / "eth1" / "device");
  fs::create_symlink(t.path / "drivers" / "virtio_net", net / "eth1" / "device" / "driver");
  iface("wlp2s0", 4, 1, "a0:b1:c2:d3:e4:f5");
  WriteFile(net / "wlp2s0" / "uevent", "DEVTYPE=wlan\nINTERFACE=wlp2s0\n");
  iface("broken", 5, 1, "zz:1a");
  iface("usb0", 6, 1, "02:00:00:00:00:01");
  // A USB adapter: its interface's parent device names the product.
  fs::create_directories(net / "usb0" / "device");
  WriteFile(net / "usb0" / "product", "USB 10/100 LAN\n");

  platform::LinuxNetInterfaces table(net.string(), (t.path / "udev").string());
  platform::ScopedSeam<platform::INetInterfaces> seam(&table);
  EXPECT_EQ(EthernetAdapterList(), (std::vector<std::string>{
                                       "00:1a:2b:3c:4d:5e|enp1s0 (Intel Corporation 82574L Gigabit Network Connection)",
                                       "52:54:00:12:34:56|eth1 (virtio_net)",
                                       "02:00:00:00:00:01|usb0 (USB 10/100 LAN)",
                                   }));
}

TEST(LocalAdapters, RealTableHasTheEntryForm) {
  const std::regex form("([0-9a-f]{2}:){0,7}[0-9a-f]{2}\\|.{1,256}");
  for (const std::string& e : EthernetAdapterList()) {
    EXPECT_TRUE(std::regex_match(e, form)) << e;
    EXPECT_NE(e.substr(e.find('|') + 1), "lo");
  }
}

// ---- Console commands ------------------------------------------------------------------

namespace {

std::string g_seenPath;
mode_t g_seenMode = 0;
bool g_seenRegular = false;
void NoteOutputFile(const std::string& path) {
  g_seenPath = path;
  struct stat st {};
  g_seenRegular = lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
  g_seenMode = st.st_mode & 07777;
}

// Runs with $TMPDIR pointed at dir for the call.
std::string RunIn(const fs::path& dir, const std::string& command,
                  platform::LinuxConsoleCommand& runner) {
  const char* old = std::getenv("TMPDIR");
  std::string saved = old ? old : "";
  setenv("TMPDIR", dir.c_str(), 1);
  platform::ScopedSeam<platform::IConsoleCommand> seam(&runner);
  std::string out = RunConsoleCommand(command, 5000, false);
  if (old) setenv("TMPDIR", saved.c_str(), 1); else unsetenv("TMPDIR");
  return out;
}

}  // namespace

TEST(LocalCommand, OutputComesBackAndTheFileIsGone) {
  TempDir t;
  platform::LinuxConsoleCommand runner;
  runner.OnOutputFile = NoteOutputFile;
  EXPECT_EQ(RunIn(t.path, "printf 'eins\\nzwei Grüße\\n'; echo fehler >&2", runner), "eins\nzwei Grüße\n");
  EXPECT_EQ(fs::path(g_seenPath).filename(), "Quovix_CmdOut.tmp");
  EXPECT_EQ(fs::path(g_seenPath).parent_path().parent_path(), t.path);
  EXPECT_TRUE(g_seenRegular);
  EXPECT_EQ(g_seenMode, 0600u);
  EXPECT_FALSE(fs::exists(g_seenPath));
  EXPECT_TRUE(fs::is_empty(t.path)) << "the private folder is removed too";

  EXPECT_EQ(RunIn(t.path, "true", runner), "");
  EXPECT_FALSE(fs::exists(g_seenPath));
  EXPECT_EQ(RunIn(t.path, "exit 3", runner), "");
  EXPECT_EQ(RunIn(t.path, "printf 'vor\\0nach'", runner), "vor");
  // A command reading its input finds none instead of waiting for it.
  EXPECT_EQ(RunIn(t.path, "cat; echo done", runner), "done\n");
  EXPECT_TRUE(fs::is_empty(t.path));
}

TEST(LocalCommand, PlantedLinkIsNeverFollowed) {
  TempDir t;
  const fs::path victim = t.path / "victim.txt";
  WriteFile(victim, "precious\n");
  fs::create_symlink(victim, t.path / "Quovix_CmdOut.tmp");
  platform::LinuxConsoleCommand runner;
  EXPECT_EQ(RunIn(t.path, "echo output", runner), "output\n");
  EXPECT_EQ(ReadFile(victim), "precious\n");
  EXPECT_TRUE(fs::is_symlink(t.path / "Quovix_CmdOut.tmp"));
}

TEST(LocalCommand, MissingTempFolderFallsBackToTmp) {
  TempDir t;
  platform::LinuxConsoleCommand runner;
  runner.OnOutputFile = NoteOutputFile;
  EXPECT_EQ(RunIn(t.path / "does-not-exist", "echo ok", runner), "ok\n");
  EXPECT_EQ(g_seenPath.rfind("/tmp/", 0), 0u);
}

TEST(LocalCommand, RunsAtOnceKeepTheirOwnOutput) {
  TempDir t;
  setenv("TMPDIR", t.path.c_str(), 1);
  std::string outA, outB;
  {
    platform::LinuxConsoleCommand a, b;
    std::thread ta([&] { outA = a.Run("for i in 1 2 3 4 5; do echo A$i; sleep 0.05; done", 50); });
    std::thread tb([&] { outB = b.Run("for i in 1 2 3 4 5; do echo B$i; sleep 0.05; done", 50); });
    ta.join();
    tb.join();
  }
  unsetenv("TMPDIR");
  EXPECT_EQ(outA, "A1\nA2\nA3\nA4\nA5\n");
  EXPECT_EQ(outB, "B1\nB2\nB3\nB4\nB5\n");
  EXPECT_TRUE(fs::is_empty(t.path));
}

TEST(LocalCommand, HungCommandIsStoppedAtTheLimit) {
  TempDir t;
  platform::LinuxConsoleCommand runner;
  runner.LimitMs = 300;
  // The shell and the sleep it started both go; the output so far is kept.
  EXPECT_EQ(RunIn(t.path, "echo before; sleep 60 & wait", runner), "before\n");
  EXPECT_TRUE(fs::is_empty(t.path));
}
