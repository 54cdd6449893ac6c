#include "JXNSColorExtensions.h"

#include "KVNumbers.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

namespace JXNSColorExtensions {

namespace {

float clampUnit(double v) { return std::isfinite(v) ? static_cast<float>(std::clamp(v, 0.0, 1.0)) : 0.0f; }

// A leading number after blanks, as the platform's float reading took it; 0 when none.
double leadingNumber(const QString &piece)
{
    const QByteArray text = piece.trimmed().toLatin1();
    return kvParseDouble(text.constData(), text.constData() + text.size()).value_or(0.0);
}

} // namespace

QString colorString(const QColor &color)
{
    if (!color.isValid())
        return {};
    const QColor rgb = color.toRgb();
    const float parts[] = {rgb.redF(), rgb.greenF(), rgb.blueF(), rgb.alphaF()};
    QString text;
    for (const float part : parts) {
        if (!text.isEmpty())
            text += QLatin1String(", ");
        text += QString::fromLatin1(kvFormatFixed(part, 2));
    }
    return text;
}

QString colorString(const KVColor &color) { return colorString(color.toQColor()); }

QColor colorWithString(const QString &text)
{
    const QStringList pieces = text.split(QLatin1String(", "));
    if (pieces.size() != 4)
        return {};
    return QColor::fromRgbF(clampUnit(leadingNumber(pieces[0])), clampUnit(leadingNumber(pieces[1])), clampUnit(leadingNumber(pieces[2])),
                            clampUnit(leadingNumber(pieces[3])));
}

QVariantList colorArray(const QColor &color)
{
    if (!color.isValid())
        return {};
    const QColor rgb = color.toRgb();
    return {double(rgb.redF()), double(rgb.greenF()), double(rgb.blueF()), double(rgb.alphaF())};
}

QVariantList colorArray(const KVColor &color) { return colorArray(color.toQColor()); }

QColor colorWithArray(const QVariantList &array)
{
    if (array.size() < 4)
        return {};
    float parts[4];
    for (int i = 0; i < 4; ++i) {
        switch (array[i].typeId()) {
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::LongLong:
        case QMetaType::ULongLong:
        case QMetaType::Float:
        case QMetaType::Double:
            break;
        default:
            return {};
        }
        const double v = array[i].toDouble();
        if (!std::isfinite(v))
            return {};
        parts[i] = clampUnit(v);
    }
    return QColor::fromRgbF(parts[0], parts[1], parts[2], parts[3]);
}

} // namespace JXNSColorExtensions
