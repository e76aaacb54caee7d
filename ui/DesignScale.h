// Design units and pixels. The windows' coordinates are given for their
// design font (the language file's font) at 96 dpi; on screen they are
// scaled by the ratio of the window font's average character width and
// height to the design font's, as a form designer's scaled forms are. A
// fitting pass then widens what the scaled rectangle still cuts.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <vector>

namespace quovix::ui {

class DesignScale {
 public:
  DesignScale() = default;
  DesignScale(double x, double y) : X(x), Y(y) {}
  // From the font the window shows to the font its design is for (measured
  // at 96 dpi, whatever the screen's resolution).
  static DesignScale Between(const QFont& window, const QFont& design);

  // Design units to pixels: positions and lengths; a rectangle's edges are
  // rounded each, so rectangles that touch in the design touch on screen.
  int ToX(double d) const;
  int ToY(double d) const;
  QSize ToPixels(QSize design) const { return {ToX(design.width()), ToY(design.height())}; }
  QRect ToPixels(const QRect& design) const;
  // Pixels to the whole design units they hold.
  int FromX(int px) const;
  int FromY(int px) const;

  bool operator==(const DesignScale& o) const { return X == o.X && Y == o.Y; }

  double X = 1.0, Y = 1.0;
};

// One control of a page for the fitting pass. Positions are relative to the
// page, design rectangles in design units, results in pixels.
struct FitItem {
  enum class Stretch { Fixed, Width, Both };  // what the page's size decides
  QRect Design;
  int Frame = -1;        // index of the frame (group box, panel) holding it
  bool IsFrame = false;
  Stretch Stretches = Stretch::Fixed;
  // Pixels its text needs (style margins included); 0: it shows no text that
  // could be cut.
  int Needed = 0;
  // Label or check box: what lies right of its text is empty, so only the
  // text has to stay inside its frame.
  bool TextOnly = false;
  QRect Pixels;          // the result
};

// Scales the page's items, widens those whose text does not fit and moves
// what stands to their right along (controls that share a design column
// move together, so label and input stay aligned) and grows fixed frames
// around what they hold. Returns the smallest page size at which every control stays whole.
// pageDesign: the page's size in design units that the stretching items'
// design rectangles were computed for (it gives their margins to the page's
// edges); page: its size in pixels, which they fill up to those margins.
QSize FitPage(std::vector<FitItem>& items, const DesignScale& s, QSize pageDesign, QSize page);

}  // namespace quovix::ui
