// Colours of the output panes on the desktop's palette. On a light palette
// the panes stay white with the program's own colours; on a dark one they
// take the palette's base and text colours, and each program colour becomes
// the variant of its hue that is readable there (WCAG contrast of 4.5:1)
// and still tells its kind of line apart from the others.
#pragma once

#include <QColor>
#include <QList>

namespace quovix::ui {

constexpr double kReadableContrast = 4.5;
// Least CIELAB difference (CIE 1976) between any two colours of a pane: at
// this distance a glance tells them apart.
constexpr double kDistinctColours = 25.0;

// WCAG 2 contrast ratio of two colours (1 to 21).
double ContrastRatio(const QColor& a, const QColor& b);
// A base colour on which light text reads better than dark text.
bool IsDarkBase(const QColor& base);
// The colour itself when it reads on base; otherwise the nearest colour of
// the same hue and saturation, lighter on a dark base (darker on a light
// one), that does.
QColor ReadableOn(const QColor& colour, const QColor& base);
// CIELAB difference (CIE 1976) of two colours.
double ColourDifference(const QColor& a, const QColor& b);
// The colours of a pane's kinds of line on base, in the order wanted: each
// readable there and at least kDistinctColours from the others. Each is its
// readable variant (ReadableOn) when that stays apart from the ones before
// it, else the colour nearest to that variant which does: of its hue in
// another lightness and saturation, or turned a little where none will do.
QList<QColor> DistinctReadableOn(const QList<QColor>& wanted, const QColor& base);

}  // namespace quovix::ui
