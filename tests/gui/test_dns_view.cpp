// The DNS tab in the Qt view, offscreen: a run against a scripted server on
// the loopback address, as the user sees its end.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <filesystem>

#include "../dns_test_support.h"
#include "app/formMain.h"
#include "common/fMain.h"
#include "platform/Resolver.h"
#include "shell/gIni.h"
#include "ui/MainWindow.h"

using namespace quovix;
using namespace dnstest;

namespace {

// Only the domain has an address; nothing is asked of a real resolver.
class DomainOnly : public platform::IResolver {
 public:
  std::string HostToIp(const std::string& name) override {
    return name == "quovix.test" ? "192.0.2.10" : "";
  }
  std::string IpToHost(std::uint32_t) override { return {}; }
  std::string OwnAddress() override { return "192.0.2.200"; }
  std::string SystemHostName() override { return "testbox"; }
};

// The name asked for does not exist; its domain has sixty name servers,
// more lines than the pane shows at once.
std::vector<ScriptedDnsServer::Datagram> Zone(const std::string& query) {
  const Question q = ParseQuestion(query);
  if (q.name != "quovix.test") return {{Reply(q, 3, {})}};
  std::vector<std::string> answer;
  for (int i = 1; q.type == 2 && i <= 60; ++i)
    answer.push_back(Rr(Bytes().ptr(12).b, 2, WireName("ns" + std::to_string(i) + ".quovix.test")));
  return {{Reply(q, 0, answer)}};
}

}  // namespace

TEST(DnsView, NameErrorLineIsInViewAfterTheDomainInformation) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("quovix_gui_dns_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "Language");
  ProgramFolder = dir.string() + "/";
  IniFilePath = ProgramFolder + "Quovix.ini";
  platform::ScopedResolver names{std::make_shared<DomainOnly>()};
  ScriptedDnsServer server(Zone);
  const std::string savedServer = ActiveDnsServerIP;
  {
    TfrmMain form;
    ui::MainWindow view(form);
    form.FormCreate();
    view.ShowCentred();
    ActiveDnsServerIP = "127.0.0.1";
    form.IdDNSResolver.Port = server.Port();
    form.chkDnsExtended.SetChecked(true);
    form.chkDnsDirectQuery.SetChecked(false);
    form.chkDnsExtendedResolve.SetChecked(false);
    form.cmbDnsHost.SetText("nosuch.quovix.test");
    qobject_cast<QPushButton*>(view.WidgetOf(form.btnDnsStart))->click();
    QCoreApplication::processEvents();

    auto* pane = qobject_cast<QPlainTextEdit*>(view.WidgetOf(form.reDns));
    ASSERT_NE(pane, nullptr);
    EXPECT_GT(pane->verticalScrollBar()->maximum(), 0) << "the output fits the pane: no test";
    const QString line = QString::fromUtf8("Der Name \"nosuch.quovix.test\" existiert nicht (NXDOMAIN).");
    QTextBlock block = pane->document()->firstBlock();
    while (block.isValid() && block.text() != line) block = block.next();
    ASSERT_TRUE(block.isValid());
    EXPECT_EQ(block.begin().fragment().charFormat().foreground().color(), QColor(255, 0, 0));
    EXPECT_TRUE(pane->viewport()->rect().contains(pane->cursorRect(QTextCursor(block))));
    EXPECT_EQ(form.sbMain.SimpleText(), " " + line.toStdString());
  }
  ActiveDnsServerIP = savedServer;
  std::filesystem::remove_all(dir);
}
