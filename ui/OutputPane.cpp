#include "ui/OutputPane.h"

#include <QPainter>
#include <QTextBlock>
#include <QTextBlockUserData>
#include <cmath>
#include <utility>

namespace quovix::ui {

namespace {

// A line's bar, kept with its block so it moves and goes with it.
struct BarData : QTextBlockUserData {
  std::vector<TimingSegment> Segments;
};

// Room between the line's text and its bar, in average characters.
constexpr int kGapChars = 2;
constexpr int kBarChars = 30;

}  // namespace

QColor TimingPhaseColour(TimingPhase phase) {
  // Apart from each other in hue, and mid-light, so that they show on a
  // light and a dark pane alike.
  switch (phase) {
    case TimingPhase::Lookup: return QColor(0x2e, 0x9e, 0x9e);     // teal
    case TimingPhase::Connect: return QColor(0xe0, 0x8a, 0x1e);    // orange
    case TimingPhase::Tls: return QColor(0x9b, 0x59, 0xb6);        // violet
    case TimingPhase::FirstByte: return QColor(0x3a, 0x9a, 0x3a);  // green
    case TimingPhase::Rest: return QColor(0x4a, 0x7a, 0xd0);       // blue
  }
  return QColor(Qt::gray);
}

void OutputPane::SetLastLineBar(std::vector<TimingSegment> segments) {
  QTextBlock b = document()->lastBlock();
  if (!b.isValid() || segments.empty()) return;
  auto* data = new BarData;
  data->Segments = std::move(segments);
  b.setUserData(data);  // the block owns it
  viewport()->update();
}

std::vector<TimingSegment> OutputPane::LineBar(int line) const {
  const QTextBlock b = document()->findBlockByNumber(line);
  if (const auto* data = b.isValid() ? static_cast<BarData*>(b.userData()) : nullptr)
    return data->Segments;
  return {};
}

int OutputPane::BarWidth() const { return fontMetrics().averageCharWidth() * kBarChars; }

void OutputPane::paintEvent(QPaintEvent* e) {
  QPlainTextEdit::paintEvent(e);
  QPainter p(viewport());
  const QFontMetrics fm = fontMetrics();
  const QPointF offset = contentOffset();
  for (QTextBlock b = firstVisibleBlock(); b.isValid(); b = b.next()) {
    const QRectF r = blockBoundingGeometry(b).translated(offset);
    if (r.top() > viewport()->height()) break;
    const auto* data = static_cast<BarData*>(b.userData());
    if (!data) continue;
    const double left = r.left() + document()->documentMargin() +
                        fm.horizontalAdvance(b.text()) + kGapChars * fm.averageCharWidth();
    const double height = std::max(4.0, std::round(fm.height() * 0.6));
    const double top = r.top() + (r.height() - height) / 2;
    const double width = BarWidth();
    for (const TimingSegment& s : data->Segments)
      p.fillRect(QRectF(left + s.Start * width, top, std::max(1.0, s.Width * width), height),
                 TimingPhaseColour(s.Phase));
  }
}

}  // namespace quovix::ui
