// Ping's chart in the Qt view, offscreen: the drawing checked on the
// rendered image (points where the data puts them, a mark per lost echo),
// its files, its place under the output, and a real run against a peer
// that drops every tenth echo.
#include <gtest/gtest.h>
#include <sched.h>
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "app/formMain.h"
#include "common/fMain.h"
#include "shell/gIni.h"
#include "ui/MainWindow.h"
#include "ui/PingChartView.h"
#include "ui/RoundTripBars.h"

using namespace quovix;

namespace {

QImage Rendered(const ui::PingChartView& chart, QSize size) {
  QImage image(size, QImage::Format_ARGB32);
  QPainter p(&image);
  chart.Render(p, QRectF(QPointF(0, 0), size));
  return image;
}

// Runs of the loss colour along the middle of the band under the time axis.
int LossMarks(const ui::PingChartView& chart, const QImage& image) {
  const QRectF band = chart.LossBand(QRectF(image.rect()));
  const int y = static_cast<int>(band.center().y());
  int marks = 0;
  bool in = false;
  for (int x = 0; x < image.width(); ++x) {
    const bool loss = image.pixelColor(x, y) == ui::PingChartView::LossColour();
    if (loss && !in) ++marks;
    in = loss;
  }
  return marks;
}

TLineFields Echo(int seq, int atMs, std::optional<double> rtt) {
  if (!rtt) return {{"seq", seq}, {"elapsed_ms", atMs}, {"verdict", "timeout"}};
  return {{"seq", seq}, {"elapsed_ms", atMs}, {"rtt_ms", *rtt}, {"verdict", "ok"}};
}

std::string Temp(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("quovix_chart_" + std::to_string(::getpid()) + "_" + name))
      .string();
}

// An empty program folder of the test's own, settings file beside it.
std::filesystem::path FreshProgramFolder(const std::string& tag) {
  const auto dir = std::filesystem::path(Temp(tag));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / "Language");
  ProgramFolder = dir.string() + "/";
  IniFilePath = ProgramFolder + "Quovix.ini";
  return dir;
}

// The window shown at a size with room for output and chart, a tab in front.
struct ShownWindow {
  TfrmMain form;
  ui::MainWindow view{form};
  explicit ShownWindow(TPage page) {
    form.FormCreate();
    view.resize(1000, 700);
    view.ShowCentred();
    form.pcMain.SetActivePageIndex(page);
    QCoreApplication::processEvents();
  }
};

}  // namespace

TEST(PingChartView, PointsAndLossMarksLandWhereTheDataSaysOnLightAndDarkPalettes) {
  const std::vector<std::optional<double>> rtts = {12.5, 3.0, std::nullopt, 40.0, 25.0,
                                                   std::nullopt, 7.25, 18.0};
  for (const QColor base : {QColor(Qt::white), QColor(0x20, 0x20, 0x24)}) {
    ui::PingChartView chart;
    QPalette pal = chart.palette();
    pal.setColor(QPalette::Base, base);
    pal.setColor(QPalette::Text, base.lightness() > 128 ? QColor(Qt::black) : QColor(0xe0, 0xe0, 0xe0));
    chart.setPalette(pal);
    for (std::size_t i = 0; i < rtts.size(); ++i)
      chart.AddLine(Echo(static_cast<int>(i) + 1, static_cast<int>(i) * 1000, rtts[i]));
    const QImage image = Rendered(chart, QSize(640, 220));
    const QRectF plot = chart.PlotArea(QRectF(image.rect()));
    const double top = chart.Model().Axes().Top;
    EXPECT_DOUBLE_EQ(top, 40);  // the largest, above the band (17.6 + 12.3)
    for (const PingSample& s : chart.Model().Samples()) {
      if (!s.RttMs) continue;
      // Independent of the view's mapping: the time from the left, the
      // value from the bottom, as shares of the plot.
      const double x = plot.left() + s.AtS / 7.0 * plot.width();
      const double y = plot.bottom() - *s.RttMs / top * plot.height();
      EXPECT_EQ(chart.PointOf(s, QRectF(image.rect())), QPointF(x, y)) << s.Seq;
      EXPECT_EQ(image.pixelColor(static_cast<int>(x), static_cast<int>(y)), ui::PingChartView::PointColour())
          << "echo " << s.Seq << " on base " << base.name().toStdString();
    }
    EXPECT_EQ(LossMarks(chart, image), 2);
    EXPECT_EQ(image.pixelColor(image.width() - 2, 1), base);
  }
}

TEST(PingChartView, SavesAsPngOrSvgThroughATemporaryFileAndNamesAFailure) {
  ui::PingChartView chart;
  chart.resize(400, 160);
  for (int i = 1; i <= 5; ++i) chart.AddLine(Echo(i, i * 250, i % 3 ? std::optional<double>(i) : std::nullopt));
  struct Case {
    const char* name;
    const char* start;  // what the file begins with
  };
  for (const Case& c : {Case{"chart.png", "\x89PNG"}, Case{"chart.svg", "<?xml"}}) {
    const std::string path = Temp(c.name);
    std::filesystem::remove(path);
    EXPECT_EQ(chart.SaveTo(QString::fromStdString(path)), QString()) << c.name;
    std::ifstream in(path, std::ios::binary);
    std::string head(5, '\0');
    in.read(head.data(), 5);
    EXPECT_EQ(head.substr(0, std::string(c.start).size()), c.start) << c.name;
    // Nothing left beside it.
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(path).parent_path()))
      EXPECT_EQ(e.path().string().find(path + "."), std::string::npos) << e.path();
    std::filesystem::remove(path);
  }
  const QString error = chart.SaveTo(QString::fromStdString(Temp("missing-dir") + "/chart.png"));
  EXPECT_FALSE(error.isEmpty());
}

TEST(PingChartView, SitsUnderTheOutputWithTheHeightItWasDraggedToAndHidesWithItsBox) {
  const auto dir = FreshProgramFolder("chart");
  int dragged = 0;
  {
    ShownWindow w(pgPing);
    TfrmMain& form = w.form;
    ui::MainWindow& view = w.view;
    QCoreApplication::processEvents();
    QWidget* pane = view.WidgetOf(form.rePing);
    ui::PingChartView* chart = view.PingChart();
    ASSERT_NE(chart, nullptr);
    ASSERT_TRUE(form.chkPingChart.Checked());  // on by default
    EXPECT_TRUE(chart->isVisible());
    EXPECT_GT(chart->y(), pane->y() + pane->height());
    EXPECT_EQ(chart->height(), view.Scale().ToY(TfrmMain::kPingChartDefaultHeight));

    auto* handle = view.findChild<ui::SplitHandle*>("PingChartSplit");
    ASSERT_NE(handle, nullptr);
    const int before = chart->height();
    handle->Dragged(-40);  // up: the chart grows, the output shrinks
    EXPECT_NEAR(chart->height(), before + 40, 2);
    EXPECT_EQ(view.Scale().ToY(form.PingChartHeight), chart->height());
    EXPECT_EQ(pane->y() + pane->height() + handle->height(), chart->y());

    const int chartBottom = chart->y() + chart->height();
    dragged = form.PingChartHeight;
    form.chkPingChart.SetChecked(false);
    EXPECT_FALSE(chart->isVisible());
    EXPECT_EQ(pane->y() + pane->height(), chartBottom);  // the output takes the room back
    form.FormClose();
  }
  // Box and height are kept from one start to the next.
  TfrmMain again;
  LoadSettings(again);
  EXPECT_FALSE(again.chkPingChart.Checked());
  EXPECT_EQ(again.PingChartHeight, dragged);
  std::filesystem::remove_all(dir);
}

namespace {

bool Sh(const std::string& cmd) { return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0; }

// This thread in a network namespace of its own with only loopback up, for
// the life of the object: whatever it sends stays in it.
class OwnNetns {
 public:
  OwnNetns() {
    home_ = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    if (home_ < 0 || ::unshare(CLONE_NEWNET) != 0) return;
    ok_ = Sh("ip link set lo up");
  }
  ~OwnNetns() {
    if (home_ >= 0) {
      if (::setns(home_, CLONE_NEWNET) != 0) std::abort();  // never run on in the wrong one
      ::close(home_);
    }
  }
  bool Ok() const { return ok_; }

 private:
  int home_ = -1;
  bool ok_ = false;
};

}  // namespace

TEST(PingChartView, TwoHundredEchoesWithEveryTenthDroppedGiveTwentyMarksAndTenPercentLoss) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for a network namespace and nftables";
  if (!Sh("command -v nft")) GTEST_SKIP() << "nft (nftables) is not installed";
  OwnNetns ns;
  ASSERT_TRUE(ns.Ok());
  // numgen inc counts the requests: the first of every ten is dropped, the
  // same ones on every run.
  ASSERT_TRUE(Sh("printf '%s\\n' 'table inet qvxdrop { chain in { type filter hook input priority 0; "
                 "icmp type echo-request numgen inc mod 10 == 0 drop; }; }' | nft -f -"));

  const auto dir = FreshProgramFolder("chartrun");
  {
    ShownWindow w(pgPing);
    TfrmMain& form = w.form;
    ui::MainWindow& view = w.view;
    form.cmbPingHost.SetText("127.0.0.1");
    form.chkPingResolve.SetChecked(false);
    form.cmbPingCount.AddItem("200");
    form.cmbPingCount.SetText("200");
    form.cmbPingTimeout.SetText("100");
    form.cmbPingPause.SetText("0");
    qobject_cast<QPushButton*>(view.WidgetOf(form.btnPingStart))->click();
    QCoreApplication::processEvents();

    const std::string text = form.rePing.Text();
    if (text.find("ICMP-Socket") != std::string::npos) GTEST_SKIP() << "no ICMP socket: " << text;
    EXPECT_NE(text.find("200 Ping(s) gesendet (180 korrekt, 0 fehlerhaft, 20 ohne Antwort)."), std::string::npos)
        << text;
    EXPECT_NE(text.find("ms, Verlust: 10.0 %"), std::string::npos);
    ui::PingChartView* chart = view.PingChart();
    ASSERT_TRUE(chart->isVisible());
    EXPECT_EQ(chart->Model().Samples().size(), 200u);
    EXPECT_EQ(chart->Model().Losses(), 20u);
    // The chart stays after the run, as the window shows it.
    const QImage image = chart->grab().toImage();
    EXPECT_EQ(LossMarks(*chart, image), 20);
  }
  std::filesystem::remove_all(dir);
}

TEST(RoundTripBars, ATraceRowsBarIsDrawnAsBarsOfItsHeightsWithLostRoundsMarked) {
  EXPECT_EQ(ui::RoundTripBarLevels(QString::fromUtf8("\u2581\u2584 \u2588")), (std::vector<int>{1, 4, 0, 8}));
  EXPECT_TRUE(ui::RoundTripBarLevels("12.5").empty());
  EXPECT_TRUE(ui::RoundTripBarLevels("").empty());

  QTreeWidget table;
  table.setColumnCount(1);
  table.setItemDelegate(new ui::RoundTripBarDelegate(&table));
  auto* item = new QTreeWidgetItem(&table, {QString::fromUtf8("\u2588 \u2584\u2581")});
  table.resize(300, 120);
  table.setColumnWidth(0, 200);
  table.show();
  QCoreApplication::processEvents();
  const QRect cell = table.visualItemRect(item).adjusted(2, 2, -2, -2);
  const QImage image = table.viewport()->grab().toImage();
  const int step = std::min(cell.width() / 4, table.fontMetrics().averageCharWidth());
  auto colourAt = [&](int sample, double height) {  // height: share of the cell from its bottom
    return image.pixelColor(cell.left() + sample * step + step / 2 - 1,
                            cell.bottom() - static_cast<int>(height * (cell.height() - 1)));
  };
  const QColor bar = ui::PingChartView::PointColour();
  EXPECT_EQ(colourAt(0, 0.9), bar);   // full height
  EXPECT_EQ(colourAt(2, 0.4), bar);   // half
  EXPECT_NE(colourAt(2, 0.7), bar);
  EXPECT_EQ(colourAt(3, 0.0), bar);   // the lowest
  EXPECT_NE(colourAt(3, 0.4), bar);
  EXPECT_EQ(colourAt(1, 0.0), ui::PingChartView::LossColour());  // no answer
}

TEST(HopChartView, AFinishedTraceShowsABarPerHopUnderItsOutput) {
  const auto dir = FreshProgramFolder("hop");
  ShownWindow w(pgTrace);
  TfrmMain& form = w.form;
  ui::MainWindow& view = w.view;
  QCoreApplication::processEvents();
  ui::HopChartView* chart = view.HopChart();
  ASSERT_NE(chart, nullptr);
  EXPECT_FALSE(chart->isVisible());  // no hop yet
  form.reTrace.AddLine("   1. Knoten: 192.0.2.1: 10 ms", clBlack, {{"hop", 1}, {"rtt_ms", 10}});
  form.reTrace.AddLine("   2. Knoten: Zeitüberschreitung.", clBlack, {{"hop", 2}, {"timeout", true}});
  form.reTrace.AddLine("   3. Knoten: 192.0.2.3: 40 ms", clBlack, {{"hop", 3}, {"rtt_ms", 40}});
  QCoreApplication::processEvents();
  ASSERT_TRUE(chart->isVisible());
  QWidget* pane = view.WidgetOf(form.reTrace);
  EXPECT_GT(chart->y(), pane->y() + pane->height());

  QImage image(chart->size(), QImage::Format_ARGB32);
  {
    QPainter p(&image);
    chart->Render(p, QRectF(image.rect()));
  }
  const QRectF r(image.rect());
  const QRectF plot = chart->PlotArea(r);
  // Each bar a third of the plot wide, as high as its share of the axis's 40 ms.
  for (const auto& [hop, ms] : std::vector<std::pair<int, double>>{{1, 10}, {3, 40}}) {
    const QRectF bar = chart->BarOf(HopSample{hop, ms}, r);
    EXPECT_NEAR(bar.center().x(), plot.left() + (hop - 0.5) * plot.width() / 3, 1) << hop;
    EXPECT_NEAR(bar.height(), ms / 40 * plot.height(), 1) << hop;
    EXPECT_EQ(image.pixelColor(bar.center().toPoint()), ui::PingChartView::PointColour()) << hop;
    EXPECT_NE(image.pixelColor(QPoint(static_cast<int>(bar.center().x()), static_cast<int>(bar.top()) - 3)),
              ui::PingChartView::PointColour()) << hop;
  }
  const QRectF lost = chart->BarOf(HopSample{2, std::nullopt}, r);
  const QRectF band = ui::ChartMarkBand(chart->font(), plot);
  EXPECT_EQ(image.pixelColor(QPoint(static_cast<int>(lost.center().x()), static_cast<int>(band.center().y()))),
            ui::PingChartView::LossColour());
  // A new run starts without them.
  form.reTrace.Clear();
  QCoreApplication::processEvents();
  EXPECT_TRUE(chart->Model().Hops().empty());
  EXPECT_FALSE(chart->isVisible());
  std::filesystem::remove_all(dir);
}
