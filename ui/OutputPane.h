// The read-only output pane of a tab: the tool's coloured lines, and beside
// a line that carries an HTTP exchange's timing its bar (a waterfall: one
// segment per phase, in proportion to the whole exchange), drawn from the
// toolkit-free model of app/TimingBar.h.
#pragma once

#include <QPlainTextEdit>
#include <vector>

#include "app/TimingBar.h"

namespace quovix::ui {

class OutputPane : public QPlainTextEdit {
 public:
  using QPlainTextEdit::QPlainTextEdit;
  // Gives the last line (block) of the pane the bar of these segments.
  void SetLastLineBar(std::vector<TimingSegment> segments);
  // The segments of a line's bar (empty when it has none), for the tests.
  std::vector<TimingSegment> LineBar(int line) const;
  // The bar's width in pixels: thirty average characters of the pane's font.
  int BarWidth() const;

 protected:
  void paintEvent(QPaintEvent* e) override;
};

// The colour of a phase of the bar.
QColor TimingPhaseColour(TimingPhase phase);

}  // namespace quovix::ui
