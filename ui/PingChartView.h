// The chart of a ping run under Ping's output: drawn with QPainter from the
// toolkit-free model of app/PingChart.h, in the palette's colours and the
// widget's font, and kept as PNG or SVG from its context menu.
#pragma once

#include <QColor>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <functional>
#include <vector>

#include "app/HopChart.h"
#include "app/PingChart.h"

namespace quovix::ui {

class PingChartView : public QWidget {
 public:
  explicit PingChartView(QWidget* parent = nullptr);

  PingChart& Model() { return model_; }
  const PingChart& Model() const { return model_; }
  // Takes a pane line; redraws when it was an echo line.
  void AddLine(const TLineFields& fields);
  void Clear();

  // Draws the whole chart into r.
  void Render(QPainter& p, const QRectF& r) const;
  // The plot area (inside the axes' labels) of a chart drawn into r.
  QRectF PlotArea(const QRectF& r) const;
  // Where a sample's point sits, and the band under the time axis where
  // loss marks are drawn, for a chart drawn into r.
  QPointF PointOf(const PingSample& s, const QRectF& r) const;
  QRectF LossBand(const QRectF& r) const;

  // Writes the chart at the widget's size as PNG, or as SVG for a name
  // ending in ".svg", through a temporary file that replaces the target
  // only when complete. Empty on success, else what went wrong.
  QString SaveTo(const QString& path) const;

  static QColor PointColour();
  static QColor LossColour();

 protected:
  void paintEvent(QPaintEvent* e) override;
  void contextMenuEvent(QContextMenuEvent* e) override;

 private:
  void AskAndSave(bool svg);
  PingChart model_;
};

// The round trip per hop of a trace as bars under Trace's output, a hop
// without answer as a red mark under the axis.
class HopChartView : public QWidget {
 public:
  explicit HopChartView(QWidget* parent = nullptr);
  const HopChart& Model() const { return model_; }
  // Takes a pane line; true (and a redraw) when it was a hop line.
  bool AddLine(const TLineFields& fields);
  void Clear();
  void Render(QPainter& p, const QRectF& r) const;
  QRectF PlotArea(const QRectF& r) const;
  // The bar of a hop in a chart drawn into r (no height without answer).
  QRectF BarOf(const HopSample& h, const QRectF& r) const;

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  HopChart model_;
};

// Pieces both charts draw alike: the plot area inside the value axis's
// labels, the band under it for marks, and the frame: background, value
// axis with its grid and labels, both axis lines.
QRectF ChartPlotArea(const QFont& font, const std::vector<double>& ticks, const QRectF& r);
QRectF ChartMarkBand(const QFont& font, const QRectF& plot);
void DrawChartFrame(QPainter& p, const QPalette& pal, const QFont& font, const QRectF& r,
                    const QRectF& plot, const std::vector<double>& ticks);

// The bar between a tool's output and its chart: dragging it moves the
// border between them.
class SplitHandle : public QWidget {
 public:
  explicit SplitHandle(QWidget* parent = nullptr);
  std::function<void(int dy)> Dragged;  // pixels moved down since the last call

 protected:
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void paintEvent(QPaintEvent* e) override;

 private:
  int pressY_ = 0;
};

}  // namespace quovix::ui
