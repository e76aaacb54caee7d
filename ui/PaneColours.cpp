#include "ui/PaneColours.h"

#include <cmath>

namespace quovix::ui {

namespace {

double Linear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }

double Luminance(const QColor& c) {
  return 0.2126 * Linear(c.redF()) + 0.7152 * Linear(c.greenF()) + 0.0722 * Linear(c.blueF());
}

}  // namespace

double ContrastRatio(const QColor& a, const QColor& b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool IsDarkBase(const QColor& base) {
  return ContrastRatio(base, Qt::white) > ContrastRatio(base, Qt::black);
}

QColor ReadableOn(const QColor& colour, const QColor& base) {
  if (ContrastRatio(colour, base) >= kReadableContrast) return colour;
  const bool lighter = IsDarkBase(base);
  float h = 0, s = 0, l = 0, a = 1;
  colour.getHslF(&h, &s, &l, &a);
  // Lightness in small steps: the first variant that reads is the one
  // closest to the original.
  for (int step = 1; step <= 100; ++step) {
    const float nl = lighter ? l + (1.0f - l) * step / 100.0f : l * (100 - step) / 100.0f;
    QColor c = QColor::fromHslF(h < 0 ? 0 : h, s, nl, a);
    if (ContrastRatio(c, base) >= kReadableContrast) return c;
  }
  // A base of middle grey: nothing of this hue reads; the better extreme.
  return lighter ? QColor(Qt::white) : QColor(Qt::black);
}

}  // namespace quovix::ui
