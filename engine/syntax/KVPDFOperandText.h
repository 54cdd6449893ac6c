#pragma once
// Numbers the engine writes into the content it makes itself (imprint placements and clips,
// appearance colours): six decimals and a point whatever the locale. A value that is not
// finite has no PDF syntax and is written as 0.
// Differs from kvFormatFixed on exact halfway cases and on negative zero (this one rounds
// halfway away from zero and drops the sign of zero), so the content keeps the bytes earlier
// versions wrote.
#include <QByteArray>

#include <cmath>

namespace kvpdf {
inline QByteArray operandText(double value) { return QByteArray::number(std::isfinite(value) ? value : 0.0, 'f', 6); }
}
