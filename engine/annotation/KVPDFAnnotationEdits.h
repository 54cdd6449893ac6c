#pragma once
// Small pieces the markup, line, ink, polygon and stamp annotations share: reading an entry that
// may be damaged, the text, date and colour values their setters write, and applying a batch
// of key changes to a copy of a dictionary's entries. Pure functions; they never throw the
// engine's failures.
#include "KVColor.h"
#include "KVPDFObject.h"

#include <QByteArray>
#include <QDateTime>
#include <QPointF>
#include <QRectF>
#include <QString>

#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

class KVPDFObjectDictionary;

namespace kvpdf::annotation {
using Entries = std::vector<std::pair<QByteArray, KVPDFObjectPtr>>;
// A key and its new value; a null value removes the key.
using Change = std::pair<QByteArray, KVPDFObjectPtr>;

// The resolved entry, or nullptr when it is absent or cannot be read (logged under `owner`).
KVPDFObjectPtr readKey(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, QByteArrayView key, QStringView owner);
// The text of a string entry; a null string when there is none.
QString readText(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, QByteArrayView key, QStringView owner);
// The date of M (or another date entry); nothing when absent or not a date.
std::optional<QDateTime> readDate(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, QByteArrayView key,
                                  QStringView owner);
// A finite number entry, or nothing.
std::optional<float> readNumber(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, QByteArrayView key, QStringView owner);

// Sets, replaces or (for a null value) removes each key, in order; new keys go last.
void apply(Entries &entries, std::initializer_list<Change> changes);

// A PDF string of the text (a null text is the empty string) bound to `owner`'s document.
KVPDFObjectPtr textString(const QString &text, const std::shared_ptr<KVPDFObjectDictionary> &owner);
// A PDF date string bound to `owner`'s document.
KVPDFObjectPtr dateString(const QDateTime &date, const std::shared_ptr<KVPDFObjectDictionary> &owner);

// Dash lengths as they are stored: each at 32-bit float precision.
std::vector<double> storedDashLengths(const std::vector<double> &lengths);

KVColor withAlpha(const KVColor &color, float alpha);
// An alpha neither 1 nor 0: the only ones CA is written for.
bool partialAlpha(const KVColor &color);

// Numbers x0 y0 x1 y1 ... as reals (each coordinate at 32-bit float precision).
std::shared_ptr<KVPDFObjectArray> pointsAsPDFArray(const std::vector<QPointF> &points);
// One point per pair of numbers; an unpaired last number is ignored, an element that is no
// finite number reads as 0. No array gives no points.
std::vector<QPointF> pointArrayFromPDFArrayPoints(const KVPDFObjectPtr &array);
// The smallest rectangle holding every point; empty for none.
QRectF boundsOfPoints(std::span<const QPointF> points);
}
