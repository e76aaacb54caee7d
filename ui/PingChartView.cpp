#include "ui/PingChartView.h"

#include <QContextMenuEvent>
#include <QFileDialog>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSaveFile>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>

#include "common/fMain.h"
#include "shell/fLanguage.h"

namespace quovix::ui {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// A tick's label: as few decimals as the step needs.
QString TickText(double v, double step) {
  const int decimals = step >= 1 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step))));
  return QString::number(v, 'f', decimals);
}

QString TimeText(double s) {
  const long long whole = std::llround(s);
  if (std::fabs(s - static_cast<double>(whole)) > 1e-6) return QString::number(s, 'f', 1) + " s";
  if (whole < 60) return QString::number(whole) + " s";
  return QString("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QChar('0'));
}

QColor MeanColour() { return QColor(0x3a, 0xa0, 0x3a); }

}  // namespace

static double ChartMarkHeight(const QFont& font) {
  return std::max(4.0, std::round(QFontMetricsF(font).height() * 0.5));
}

QRectF ChartPlotArea(const QFont& font, const std::vector<double>& ticks, const QRectF& r) {
  const QFontMetricsF fm(font);
  double label = fm.horizontalAdvance("ms");
  const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1;
  for (double t : ticks) label = std::max(label, fm.horizontalAdvance(TickText(t, step)));
  const double gap = fm.averageCharWidth();
  const double left = r.left() + label + 1.5 * gap;
  // Room above for the unit over the top tick's label.
  const double top = r.top() + 1.5 * fm.height();
  const double bottom = r.bottom() - fm.height() - ChartMarkHeight(font) - gap / 2;
  const double right = r.right() - 2 * gap;
  return QRectF(QPointF(left, top), QPointF(std::max(left + 1, right), std::max(top + 1, bottom)));
}

QRectF ChartMarkBand(const QFont& font, const QRectF& plot) {
  return QRectF(plot.left(), plot.bottom() + 1, plot.width(), ChartMarkHeight(font));
}

void DrawChartFrame(QPainter& p, const QPalette& pal, const QFont& font, const QRectF& r,
                    const QRectF& plot, const std::vector<double>& ticks) {
  p.setFont(font);
  p.fillRect(r, pal.base());
  const QFontMetricsF fm(font);
  const double gap = fm.averageCharWidth();
  const double step = ticks.size() > 1 ? ticks[1] - ticks[0] : 1;
  const double top = ticks.empty() ? 1 : ticks.back();
  QColor grid = pal.color(QPalette::Text);
  grid.setAlpha(50);
  for (double t : ticks) {
    const double y = plot.bottom() - t / top * plot.height();
    p.setPen(QPen(grid, 1));
    p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    p.setPen(pal.color(QPalette::Text));
    p.drawText(QRectF(r.left(), y - fm.height() / 2, plot.left() - r.left() - gap, fm.height()),
               Qt::AlignRight | Qt::AlignVCenter, TickText(t, step));
  }
  p.drawText(QRectF(r.left(), r.top(), plot.left() - r.left() - gap, fm.height()),
             Qt::AlignRight | Qt::AlignTop, "ms");
  p.setPen(QPen(pal.color(QPalette::Text), 1));
  p.drawLine(plot.bottomLeft(), plot.bottomRight());
  p.drawLine(plot.bottomLeft(), plot.topLeft());
}


PingChartView::PingChartView(QWidget* parent) : QWidget(parent) {
  setAutoFillBackground(false);
  setMinimumHeight(0);
}

QColor PingChartView::PointColour() { return QColor(0x30, 0x80, 0xe0); }
QColor PingChartView::LossColour() { return QColor(0xe0, 0x30, 0x30); }

void PingChartView::AddLine(const TLineFields& fields) {
  if (model_.Add(fields)) update();
}

void PingChartView::Clear() {
  model_.Clear();
  update();
}

QRectF PingChartView::PlotArea(const QRectF& r) const { return ChartPlotArea(font(), model_.Ticks(), r); }

QRectF PingChartView::LossBand(const QRectF& r) const {
  return ChartMarkBand(font(), PlotArea(r));
}

QPointF PingChartView::PointOf(const PingSample& s, const QRectF& r) const {
  const QRectF plot = PlotArea(r);
  const PingChart::Frame f = model_.Axes();
  return QPointF(plot.left() + f.X(s.AtS) * plot.width(),
                 plot.bottom() - f.Y(s.RttMs.value_or(0)) * plot.height());
}

void PingChartView::Render(QPainter& p, const QRectF& r) const {
  const QPalette& pal = palette();
  const QFontMetricsF fm(font());
  p.save();
  const QRectF plot = PlotArea(r);
  const PingChart::Frame f = model_.Axes();
  auto xOf = [&](double at) { return plot.left() + f.X(at) * plot.width(); };
  auto yOf = [&](double ms) { return plot.bottom() - f.Y(ms) * plot.height(); };
  const double gap = fm.averageCharWidth();

  // The value axis: a grid line and a label per tick, the unit on top.
  DrawChartFrame(p, pal, font(), r, plot, model_.Ticks());

  // The time axis, its labels under the loss marks' band.
  const QRectF band = LossBand(r);
  const std::vector<double> timeTicks = NiceTicks(f.To - f.From, 6);
  const double timeStep = timeTicks.size() > 1 ? timeTicks[1] : 1;
  double lastRight = -1e9;
  for (double off : timeTicks) {
    const double at = std::ceil(f.From / timeStep - 1e-9) * timeStep + off;
    if (at > f.To + 1e-9) break;
    const double x = xOf(at);
    const QString text = TimeText(at);
    const double w = fm.horizontalAdvance(text);
    const double left = std::clamp(x - w / 2, r.left(), r.right() - w);
    if (left < lastRight + gap) continue;  // no label on another
    p.setPen(pal.color(QPalette::Text));
    p.drawText(QRectF(left, band.bottom(), w + 1, fm.height()), Qt::AlignLeft | Qt::AlignTop, text);
    lastRight = left + w;
  }

  // The mean and the band of one standard deviation around it.
  if (const auto mean = model_.Mean()) {
    const double sd = model_.StdDev().value_or(0);
    QColor bandColour = MeanColour();
    bandColour.setAlpha(45);
    p.fillRect(QRectF(QPointF(plot.left(), yOf(*mean + sd)),
                      QPointF(plot.right(), yOf(std::max(0.0, *mean - sd)))),
               bandColour);
    p.setPen(QPen(MeanColour(), 1, Qt::DashLine));
    p.drawLine(QPointF(plot.left(), yOf(*mean)), QPointF(plot.right(), yOf(*mean)));
  }

  // The round trips as a line that a lost echo interrupts, with a point each.
  const auto& samples = model_.Samples();
  p.setRenderHint(QPainter::Antialiasing, true);
  p.setPen(QPen(PointColour(), std::max(1.0, fm.height() / 12)));
  QPainterPath path;
  bool open = false;
  for (const PingSample& s : samples) {
    if (!s.RttMs) {
      open = false;
      continue;
    }
    const QPointF pt(xOf(s.AtS), yOf(*s.RttMs));
    if (open) path.lineTo(pt); else path.moveTo(pt);
    open = true;
  }
  p.drawPath(path);
  const double radius = std::max(2.5, fm.height() / 5);
  // Points only where they stay apart: a long run is its line.
  if (samples.size() <= static_cast<std::size_t>(plot.width() / (radius * 1.5))) {
    p.setPen(Qt::NoPen);
    p.setBrush(PointColour());
    for (const PingSample& s : samples)
      if (s.RttMs) p.drawEllipse(QPointF(xOf(s.AtS), yOf(*s.RttMs)), radius, radius);
  }
  p.setRenderHint(QPainter::Antialiasing, false);

  // Each lost echo a mark in the band under the time axis.
  const double markW = std::max(2.0, std::round(fm.averageCharWidth() / 3));
  for (const PingSample& s : samples)
    if (!s.RttMs)
      p.fillRect(QRectF(std::round(xOf(s.AtS) - markW / 2), band.top(), markW, band.height()),
                 LossColour());
  p.restore();
}

void PingChartView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Render(p, rect());
}

QString PingChartView::SaveTo(const QString& path) const {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return file.errorString();
  const QRect area(QPoint(0, 0), size().expandedTo(QSize(200, 100)));
  if (path.endsWith(".svg", Qt::CaseInsensitive)) {
    QSvgGenerator svg;
    svg.setOutputDevice(&file);
    svg.setSize(area.size());
    svg.setViewBox(area);
    svg.setTitle("Ping");
    QPainter p;
    if (!p.begin(&svg)) return QString::fromUtf8("SVG");
    Render(p, area);
    p.end();
  } else {
    QImage image(area.size(), QImage::Format_ARGB32);
    image.fill(palette().color(QPalette::Base));
    {
      QPainter p(&image);
      Render(p, area);
    }
    if (!image.save(&file, "PNG")) {
      file.cancelWriting();
      return file.errorString().isEmpty() ? QString::fromUtf8("PNG") : file.errorString();
    }
  }
  if (!file.commit()) return file.errorString();
  return {};
}

void PingChartView::AskAndSave(bool svg) {
  const QString filter = svg ? "SVG (*.svg)" : "PNG (*.png)";
  const QString suffix = svg ? ".svg" : ".png";
  QString path = QFileDialog::getSaveFileName(this, Q(LangText("Main|dlgChartSave", "Diagramm speichern")),
                                              "ping" + suffix, filter);
  if (path.isEmpty()) return;
  if (!path.endsWith(suffix, Qt::CaseInsensitive)) path += suffix;
  if (const QString error = SaveTo(path); !error.isEmpty())
    QMessageBox::warning(this, Q(LangText("Main|dlgChartSave", "Diagramm speichern")),
                         Q(LangText("Main|msgChartSaveFailed",
                                    "Das Diagramm konnte nicht als \"%s1%\" gespeichert werden: %s2%",
                                    {path.toStdString(), error.toStdString()})));
}

void PingChartView::contextMenuEvent(QContextMenuEvent* e) {
  QMenu menu(this);
  QAction* png = menu.addAction(Q(LangText("Main|mnuChartSavePng", "Als &PNG speichern...")));
  QAction* svg = menu.addAction(Q(LangText("Main|mnuChartSaveSvg", "Als &SVG speichern...")));
  QAction* chosen = menu.exec(e->globalPos());
  if (chosen == png) AskAndSave(false);
  if (chosen == svg) AskAndSave(true);
}

SplitHandle::SplitHandle(QWidget* parent) : QWidget(parent) { setCursor(Qt::SplitVCursor); }

void SplitHandle::mousePressEvent(QMouseEvent* e) {
  pressY_ = static_cast<int>(e->globalPosition().y());
}

void SplitHandle::mouseMoveEvent(QMouseEvent* e) {
  if (!(e->buttons() & Qt::LeftButton) || !Dragged) return;
  const int y = static_cast<int>(e->globalPosition().y());
  Dragged(y - pressY_);
  pressY_ = y;
}

void SplitHandle::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QColor c = palette().color(QPalette::WindowText);
  c.setAlpha(90);
  const int w = std::min(width(), fontMetrics().averageCharWidth() * 6);
  p.fillRect(QRect((width() - w) / 2, height() / 2 - 1, w, 2), c);
}

HopChartView::HopChartView(QWidget* parent) : QWidget(parent) {}

bool HopChartView::AddLine(const TLineFields& fields) {
  if (!model_.Add(fields)) return false;
  update();
  return true;
}

void HopChartView::Clear() {
  model_.Clear();
  update();
}

QRectF HopChartView::PlotArea(const QRectF& r) const { return ChartPlotArea(font(), model_.Ticks(), r); }

QRectF HopChartView::BarOf(const HopSample& h, const QRectF& r) const {
  const QRectF plot = PlotArea(r);
  const std::vector<HopSample>& hops = model_.Hops();
  const int last = hops.empty() ? 1 : hops.back().Hop;
  const double slot = plot.width() / last;
  const double top = model_.Ticks().back();
  const double height = h.RttMs ? std::clamp(*h.RttMs / top, 0.0, 1.0) * plot.height() : 0;
  return QRectF(plot.left() + (h.Hop - 1 + 0.2) * slot, plot.bottom() - height, slot * 0.6, height);
}

void HopChartView::Render(QPainter& p, const QRectF& r) const {
  const QPalette& pal = palette();
  const QFontMetricsF fm(font());
  p.save();
  const QRectF plot = PlotArea(r);
  DrawChartFrame(p, pal, font(), r, plot, model_.Ticks());
  const QRectF band = ChartMarkBand(font(), plot);
  double lastRight = -1e9;
  for (const HopSample& h : model_.Hops()) {
    const QRectF bar = BarOf(h, r);
    if (h.RttMs)
      p.fillRect(QRectF(bar.left(), bar.top(), bar.width(), std::max(1.0, bar.height())),
                 PingChartView::PointColour());
    else
      p.fillRect(QRectF(bar.left(), band.top(), bar.width(), band.height()), PingChartView::LossColour());
    // The hop's number under it where there is room.
    const QString text = QString::number(h.Hop);
    const double w = fm.horizontalAdvance(text);
    const double left = bar.center().x() - w / 2;
    if (left < lastRight + fm.averageCharWidth() / 2) continue;
    p.setPen(pal.color(QPalette::Text));
    p.drawText(QRectF(left, band.bottom(), w + 1, fm.height()), Qt::AlignLeft | Qt::AlignTop, text);
    lastRight = left + w;
  }
  p.restore();
}

void HopChartView::paintEvent(QPaintEvent*) {
  QPainter p(this);
  Render(p, rect());
}

}  // namespace quovix::ui
