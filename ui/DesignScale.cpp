#include "ui/DesignScale.h"

#include <QFontMetricsF>
#include <QImage>
#include <algorithm>
#include <cmath>

namespace quovix::ui {

namespace {

// The average width of the letters, as dialog units measure it.
double AverageCharWidth(const QFontMetricsF& fm) {
  static const QString kLetters =
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  return fm.horizontalAdvance(kLetters) / kLetters.size();
}

// Inner space between a frame's edge and what it holds, and the space kept
// right and below a control that stands on the page itself.
constexpr int kFramePad = 6;
constexpr int kPageMargin = 7;
// The smallest output pane still worth the name: a few lines of a few words.
constexpr int kMinPaneWidth = 120, kMinPaneHeight = 40;

}  // namespace

DesignScale DesignScale::Between(const QFont& window, const QFont& design) {
  // The design font as it was at 96 dpi: measured on an image of that
  // resolution, so a screen with another font resolution scales the layout.
  QImage at96(1, 1, QImage::Format_RGB32);
  at96.setDotsPerMeterX(3780);
  at96.setDotsPerMeterY(3780);
  const QFontMetricsF d(design, &at96);
  const QFontMetricsF w(window);
  const double dw = AverageCharWidth(d), dh = d.height();
  if (dw <= 0 || dh <= 0) return {};
  auto ratio = [](double r) {
    // Below a pixel's worth on the window's width the design stands as it is.
    if (!std::isfinite(r) || r <= 0) return 1.0;
    return std::abs(r - 1.0) < 0.0005 ? 1.0 : r;
  };
  return {ratio(AverageCharWidth(w) / dw), ratio(w.height() / dh)};
}

int DesignScale::ToX(double d) const { return static_cast<int>(std::lround(d * X)); }
int DesignScale::ToY(double d) const { return static_cast<int>(std::lround(d * Y)); }

QRect DesignScale::ToPixels(const QRect& r) const {
  const int left = ToX(r.x()), top = ToY(r.y());
  return {left, top, ToX(r.x() + r.width()) - left, ToY(r.y() + r.height()) - top};
}

int DesignScale::FromX(int px) const { return static_cast<int>(std::floor(px / X + 1e-9)); }
int DesignScale::FromY(int px) const { return static_cast<int>(std::floor(px / Y + 1e-9)); }

QSize FitPage(std::vector<FitItem>& items, const DesignScale& s, QSize pageDesign, QSize page) {
  const int n = static_cast<int>(items.size());
  using Stretch = FitItem::Stretch;
  // The design margins of what stretches, to the page's right and bottom.
  auto rightMargin = [&](const FitItem& it) {
    return s.ToX(std::max(0, pageDesign.width() - it.Design.x() - it.Design.width()));
  };
  auto bottomMargin = [&](const FitItem& it) {
    return s.ToY(std::max(0, pageDesign.height() - it.Design.y() - it.Design.height()));
  };

  // Scaled, and widened where the text needs more. What stretches fills the
  // page up to its margins and is never widened: the page's minimum size
  // takes care of it.
  for (FitItem& it : items) {
    it.Pixels = s.ToPixels(it.Design);
    if (it.Stretches == Stretch::Fixed) {
      if (it.Needed > it.Pixels.width()) it.Pixels.setWidth(it.Needed);
      continue;
    }
    it.Pixels.setWidth(std::max(0, page.width() - rightMargin(it) - it.Pixels.x()));
    if (it.Stretches == Stretch::Both)
      it.Pixels.setHeight(std::max(0, page.height() - bottomMargin(it) - it.Pixels.y()));
  }

  // Moving along: container by container (the page first, then each frame,
  // whose items move with it), column by column from the left. A column is
  // every item of the container with the same design left; it starts right of
  // the widened items left of it in its rows, at their scaled design gap.
  auto moveAlong = [&](int frame) {
    std::vector<int> members;
    for (int i = 0; i < n; ++i)
      if (items[i].Frame == frame) members.push_back(i);
    std::stable_sort(members.begin(), members.end(),
                     [&](int a, int b) { return items[a].Design.x() < items[b].Design.x(); });
    const int frameShift =
        frame >= 0 ? items[frame].Pixels.x() - s.ToX(items[frame].Design.x()) : 0;
    for (size_t k = 0; k < members.size();) {
      const int colLeft = items[members[k]].Design.x();
      size_t end = k;
      while (end < members.size() && items[members[end]].Design.x() == colLeft) ++end;
      int left = s.ToX(colLeft) + frameShift;
      for (size_t a = k; a < end; ++a) {
        const QRect& d = items[members[a]].Design;
        for (size_t b = 0; b < k; ++b) {
          const FitItem& j = items[members[b]];
          const int jRight = j.Design.x() + j.Design.width();
          const bool rowsMeet =
              j.Design.y() < d.y() + d.height() && d.y() < j.Design.y() + j.Design.height();
          if (!rowsMeet || jRight > colLeft) continue;
          const int gap = s.ToX(colLeft) - s.ToX(jRight);
          left = std::max(left, j.Pixels.x() + j.Pixels.width() + gap);
        }
      }
      for (size_t a = k; a < end; ++a) items[members[a]].Pixels.moveLeft(left);
      k = end;
    }
    // Rows keep their scaled places, moved with the frame.
    if (frame >= 0) {
      const int down = items[frame].Pixels.y() - s.ToY(items[frame].Design.y());
      for (int i : members) items[i].Pixels.translate(0, down);
    }
  };
  moveAlong(-1);
  for (int f = 0; f < n; ++f)
    if (items[f].IsFrame) moveAlong(f);

  // Where a control's text ends; for a label or check box that is all that
  // has to be whole.
  auto extent = [](const FitItem& it) {
    const int w = it.TextOnly && it.Needed > 0 ? std::min(it.Needed, it.Pixels.width())
                                                : it.Pixels.width();
    return it.Pixels.x() + w;
  };
  const int pad = s.ToX(kFramePad), padY = s.ToY(kFramePad);

  // Frames: a fixed one grows around what it holds.
  std::vector<int> contentRight(n, 0);
  for (int i = 0; i < n; ++i) {
    const int f = items[i].Frame;
    if (f < 0) continue;
    contentRight[f] = std::max(contentRight[f], extent(items[i]));
    if (items[f].Stretches == Stretch::Fixed) {
      QRect& fr = items[f].Pixels;
      const QRect& c = items[i].Pixels;
      if (extent(items[i]) + pad > fr.x() + fr.width()) fr.setWidth(extent(items[i]) + pad - fr.x());
      if (c.y() + c.height() + padY > fr.y() + fr.height())
        fr.setHeight(c.y() + c.height() + padY - fr.y());
    }
  }

  // The page's minimum: what stretches keeps its design margins to the
  // page's edges around its smallest content, the rest a margin of its own.
  int minW = 0, minH = 0;
  for (int i = 0; i < n; ++i) {
    const FitItem& it = items[i];
    if (it.Frame >= 0) continue;
    const QRect& p = it.Pixels;
    if (it.Stretches == Stretch::Fixed) {
      minW = std::max(minW, extent(it) + s.ToX(kPageMargin));
      minH = std::max(minH, p.y() + p.height() + s.ToY(kPageMargin));
      continue;
    }
    const int content = it.IsFrame ? std::max(contentRight[i] - p.x() + pad, it.Needed)
                                   : s.ToX(kMinPaneWidth);
    minW = std::max(minW, p.x() + content + rightMargin(it));
    if (it.Stretches == Stretch::Both) {
      minH = std::max(minH, p.y() + s.ToY(kMinPaneHeight) + bottomMargin(it));
    } else {
      minH = std::max(minH, p.y() + p.height() + s.ToY(kPageMargin));
    }
  }
  return {minW, minH};
}

}  // namespace quovix::ui
