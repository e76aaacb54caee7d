// Table cells that hold a bar of round trips (one block character per
// sample, a space for one without answer) drawn as a small chart: a bar
// per sample at the character's height, a red mark for a lost one.
#pragma once

#include <QStyledItemDelegate>
#include <vector>

namespace quovix::ui {

// The heights (1 … 8) of a cell text made of block characters, 0 for a
// space; empty when the text is anything else.
std::vector<int> RoundTripBarLevels(const QString& text);

class RoundTripBarDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;
  void paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace quovix::ui
