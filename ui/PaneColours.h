// Colours of the output panes on the desktop's palette. On a light palette
// the panes stay white with the program's own colours; on a dark one they
// take the palette's base and text colours, and each program colour becomes
// the variant of its hue that is readable there (WCAG contrast of 4.5:1).
#pragma once

#include <QColor>

namespace quovix::ui {

constexpr double kReadableContrast = 4.5;

// WCAG 2 contrast ratio of two colours (1 to 21).
double ContrastRatio(const QColor& a, const QColor& b);
// A base colour on which light text reads better than dark text.
bool IsDarkBase(const QColor& base);
// The colour itself when it reads on base; otherwise the nearest colour of
// the same hue and saturation, lighter on a dark base (darker on a light
// one), that does.
QColor ReadableOn(const QColor& colour, const QColor& base);

}  // namespace quovix::ui
