#include "ui/PaneColours.h"

#include <cmath>

namespace quovix::ui {

namespace {

double Linear(double c) { return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }

double Luminance(const QColor& c) {
  return 0.2126 * Linear(c.redF()) + 0.7152 * Linear(c.greenF()) + 0.0722 * Linear(c.blueF());
}

struct Lab {
  double L, a, b;
};

Lab ToLab(const QColor& c) {
  const double r = Linear(c.redF()), g = Linear(c.greenF()), bl = Linear(c.blueF());
  // sRGB to XYZ, relative to the D65 white.
  const double x = (0.4124 * r + 0.3576 * g + 0.1805 * bl) / 0.95047;
  const double y = 0.2126 * r + 0.7152 * g + 0.0722 * bl;
  const double z = (0.0193 * r + 0.1192 * g + 0.9505 * bl) / 1.08883;
  auto f = [](double t) { return t > 216.0 / 24389 ? std::cbrt(t) : (24389.0 / 27 * t + 16) / 116; };
  return {116 * f(y) - 16, 500 * (f(x) - f(y)), 200 * (f(y) - f(z))};
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

double ColourDifference(const QColor& a, const QColor& b) {
  const Lab p = ToLab(a), q = ToLab(b);
  return std::hypot(p.L - q.L, p.a - q.a, p.b - q.b);
}

QList<QColor> DistinctReadableOn(const QList<QColor>& wanted, const QColor& base) {
  QList<QColor> chosen;
  auto apart = [&chosen](const QColor& c) {
    for (const QColor& o : chosen)
      if (ColourDifference(c, o) < kDistinctColours) return false;
    return true;
  };
  for (const QColor& w : wanted) {
    const QColor readable = ReadableOn(w, base);
    if (apart(readable)) {
      chosen.push_back(readable);
      continue;
    }
    float h = 0, s = 0, l = 0, a = 1;
    readable.getHslF(&h, &s, &l, &a);
    if (h < 0) h = 0;
    QColor best = readable;
    double bestCost = -1;
    // Its own hue first, turned a little further only where no lightness
    // and saturation of it will do; the nearest that reads and keeps its
    // distance wins. A few thousand candidates, once per palette.
    for (int turn = 0; turn <= 40 && bestCost < 0; turn += 5) {
      for (const int sign : {1, -1}) {
        if (turn == 0 && sign < 0) continue;
        for (const float saturation : {1.0f, 0.85f, 0.7f, 0.55f, 0.4f, 0.25f}) {
          if (s == 0 && saturation != 1.0f) continue;
          for (int step = 0; step <= 50; ++step) {
            const float hue = std::fmod(h + sign * turn / 360.0f + 1.0f, 1.0f);
            const QColor c = QColor::fromHslF(hue, s * saturation, step / 50.0f, a);
            if (ContrastRatio(c, base) < kReadableContrast || !apart(c)) continue;
            const double cost = ColourDifference(c, readable);
            if (bestCost < 0 || cost < bestCost) {
              bestCost = cost;
              best = c;
            }
          }
        }
      }
    }
    chosen.push_back(best);
  }
  return chosen;
}

}  // namespace quovix::ui
