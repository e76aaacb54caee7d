#include "ui/RoundTripBars.h"

#include <QApplication>
#include <QPainter>
#include <algorithm>

#include "ui/PingChartView.h"

namespace quovix::ui {

std::vector<int> RoundTripBarLevels(const QString& text) {
  std::vector<int> levels;
  for (const QChar c : text) {
    if (c == u' ') {
      levels.push_back(0);
    } else if (c.unicode() >= 0x2581 && c.unicode() <= 0x2588) {
      levels.push_back(c.unicode() - 0x2580);
    } else {
      return {};
    }
  }
  return levels;
}

void RoundTripBarDelegate::paint(QPainter* p, const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
  const std::vector<int> levels = RoundTripBarLevels(index.data().toString());
  if (levels.empty()) return QStyledItemDelegate::paint(p, option, index);
  QStyleOptionViewItem o(option);
  initStyleOption(&o, index);
  o.text.clear();
  const QStyle* style = o.widget ? o.widget->style() : QApplication::style();
  style->drawControl(QStyle::CE_ItemViewItem, &o, p, o.widget);  // background, selection
  const QRect r = o.rect.adjusted(2, 2, -2, -2);
  if (r.width() <= 0 || r.height() <= 0) return;
  // At most the width of an average character per sample, as the text had.
  const double step = std::min(static_cast<double>(r.width()) / static_cast<double>(levels.size()),
                               static_cast<double>(o.fontMetrics.averageCharWidth()));
  const double barW = std::max(1.0, step - 1);
  p->save();
  for (std::size_t i = 0; i < levels.size(); ++i) {
    const double x = r.left() + static_cast<double>(i) * step;
    if (levels[i] == 0) {
      p->fillRect(QRectF(x, r.bottom() - 1, barW, 2), PingChartView::LossColour());
      continue;
    }
    const double h = std::max(1.0, r.height() * levels[i] / 8.0);
    p->fillRect(QRectF(x, r.bottom() + 1 - h, barW, h), PingChartView::PointColour());
  }
  p->restore();
}

}  // namespace quovix::ui
