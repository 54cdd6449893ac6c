#pragma once
// Colours as short texts and number arrays, the form in which they travel through property
// dictionaries, settings and scripts.
//
// Colour string: red, green, blue and alpha, each with two decimals and a point whatever the
// locale, separated by a comma and a blank: "1.00, 0.50, 0.00, 1.00". Colour array: four reals
// in the same order. Both are RGB: a colour of another space (CMYK, HSV, a gray KVColor) is
// converted to RGB first, so a gray gives three equal components.
//
// Bad input (settings and dictionaries come from files anyone can edit): a text that does not
// split into exactly four pieces at ", ", or an array whose first four items are not all
// numbers, gives no colour (an invalid QColor) and the caller's fallback applies. A piece that is
// not a number reads 0, as the platform's float reading did ("x" and "" read 0, "0.5x" reads 0.5).
// Components are clamped to 0..1. Pure functions; thread-safe; nothing throws.
#include "KVColor.h"

#include <QColor>
#include <QString>
#include <QVariantList>

namespace JXNSColorExtensions {

// Empty for an invalid colour.
QString colorString(const QColor &color);
QString colorString(const KVColor &color);
QColor colorWithString(const QString &text);

// Empty for an invalid colour.
QVariantList colorArray(const QColor &color);
QVariantList colorArray(const KVColor &color);
// Items beyond the fourth are ignored.
QColor colorWithArray(const QVariantList &array);

} // namespace JXNSColorExtensions
