// The Trace tab's table of rounds in the Qt view, offscreen: its model after
// a run, and its rows kept (updated in place) from round to round.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>

#include "../icmp_test_util.h"
#include "app/formMain.h"
#include "common/fMain.h"
#include "shell/gIni.h"
#include "ui/MainWindow.h"

using namespace quovix;
using namespace quovix::icmptest;

TEST(TraceView, TableOfRoundsShowsEachHopOnceWithItsFiguresUpdatedInPlace) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("quovix_gui_trace_" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "Language");
  ProgramFolder = dir.string() + "/";
  IniFilePath = ProgramFolder + "Quovix.ini";
  FakeIcmp icmp;
  platform::ScopedSeam<platform::IIcmp> seam{&icmp};
  {
    TfrmMain form;
    ui::MainWindow view(form);
    form.FormCreate();
    view.ShowCentred();
    auto* table = qobject_cast<QTreeWidget*>(view.WidgetOf(form.lvTraceRounds));
    auto* pane = qobject_cast<QPlainTextEdit*>(view.WidgetOf(form.reTrace));
    ASSERT_NE(table, nullptr);
    ASSERT_NE(pane, nullptr);
    // Hop 1 is a router that misses every second round, hop 2 the target.
    std::vector<QTreeWidgetItem*> firstRows;
    int calls = 0;
    icmp.Responder = [&](const FakeIcmp::Call& c) {
      QCoreApplication::processEvents();
      if (table->topLevelItemCount() > 0) firstRows.push_back(table->topLevelItem(0));
      if (c.Ttl >= 2) return EchoReply("203.0.113.2", "AAAAAAAA", 6);
      return ++calls % 2 ? StatusReply(kIcmpTtlExpiredTransit, "192.0.2.1", 3)
                         : StatusReply(kIcmpTimedOut);
    };
    form.pcMain.SetActivePageIndex(pgTrace);
    form.cmbTraceHost.SetText("203.0.113.2");
    form.chkTraceResolve.SetChecked(false);
    form.chkTraceContinuous.SetChecked(true);
    form.TraceRoundCount = 4;
    form.TraceIntervalMs = 0;
    qobject_cast<QPushButton*>(view.WidgetOf(form.btnTraceStart))->click();
    QCoreApplication::processEvents();

    EXPECT_TRUE(table->isVisible());
    EXPECT_FALSE(pane->isVisible());
    const QAbstractItemModel* model = table->model();
    ASSERT_EQ(model->rowCount(), 2);
    ASSERT_EQ(model->columnCount(), 11);
    auto cell = [&](int row, int col) { return model->index(row, col).data().toString().toStdString(); };
    EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString().toStdString(), "Verlust %");
    EXPECT_EQ(cell(0, 1), "192.0.2.1");
    EXPECT_EQ(cell(0, 4), "4");
    // Half of hop 1's answers are missing while the target loses none.
    EXPECT_EQ(cell(0, 3), "50.0 Antwortrate begrenzt?");
    EXPECT_EQ(cell(1, 3), "0.0");
    EXPECT_EQ(cell(1, 5), "6.0");
    // The same row object from the first round on: updated, not rebuilt.
    ASSERT_FALSE(firstRows.empty());
    for (QTreeWidgetItem* item : firstRows) EXPECT_EQ(item, table->topLevelItem(0));
  }
  std::filesystem::remove_all(dir);
}
