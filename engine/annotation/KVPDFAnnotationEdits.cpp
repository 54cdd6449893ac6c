#include "KVPDFAnnotationEdits.h"

#include "KVPDFExceptions.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDate.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectString.h"

#include <algorithm>
#include <cmath>

namespace kvpdf::annotation {
KVPDFObjectPtr readKey(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, QByteArrayView key, QStringView owner)
{
    return kvReadableEntry(dictionary, key, owner);
}

QString readText(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, QByteArrayView key, QStringView owner)
{
    if (auto string = kv_cast<KVPDFObjectString>(readKey(dictionary, key, owner)))
        return string->stringValue();
    return QString();
}

std::optional<QDateTime> readDate(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, QByteArrayView key,
                                  QStringView owner)
{
    if (auto string = kv_cast<KVPDFObjectString>(readKey(dictionary, key, owner)))
        return KVPDFObjectDate::dateFromPDFString(*string);
    return std::nullopt;
}

std::optional<float> readNumber(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, QByteArrayView key, QStringView owner)
{
    const KVPDFObjectPtr number = readKey(dictionary, key, owner);
    if (!kvIsNumber(number) || !std::isfinite(number->realValue()))
        return std::nullopt;
    return number->realValue();
}

std::vector<double> storedDashLengths(const std::vector<double> &lengths)
{
    std::vector<double> stored;
    stored.reserve(lengths.size());
    for (double length : lengths)
        stored.push_back(double(float(length)));
    return stored;
}

void apply(Entries &entries, std::initializer_list<Change> changes)
{
    for (const Change &change : changes) {
        const QByteArray &key = change.first;
        auto found = std::find_if(entries.begin(), entries.end(), [&key](const auto &entry) { return entry.first == key; });
        if (!change.second) {
            if (found != entries.end())
                entries.erase(found);
        } else if (found != entries.end()) {
            found->second = change.second;
        } else {
            entries.emplace_back(key, change.second);
        }
    }
}

KVPDFObjectPtr textString(const QString &text, const std::shared_ptr<KVPDFObjectDictionary> &owner)
{
    auto string = KVPDFObjectString::stringWithString(text.isNull() ? QString(QLatin1String("")) : text);
    if (owner)
        string->setContext(owner->context());
    return string;
}

KVPDFObjectPtr dateString(const QDateTime &date, const std::shared_ptr<KVPDFObjectDictionary> &owner)
{
    auto string = KVPDFObjectDate::dateWithDate(date);
    if (owner)
        string->setContext(owner->context());
    return string;
}

KVColor withAlpha(const KVColor &color, float alpha)
{
    const auto c = color.components();
    switch (color.space()) {
    case KVColor::Space::Gray: return KVColor::gray(c[0], alpha);
    case KVColor::Space::RGB: return KVColor::rgb(c[0], c[1], c[2], alpha);
    case KVColor::Space::CMYK: return KVColor::cmyk(c[0], c[1], c[2], c[3], alpha);
    case KVColor::Space::Invalid: break;
    }
    return color;
}

bool partialAlpha(const KVColor &color) { return color.isValid() && color.alpha() != 1.0f && color.alpha() != 0.0f; }

std::shared_ptr<KVPDFObjectArray> pointsAsPDFArray(const std::vector<QPointF> &points)
{
    std::vector<KVPDFObjectPtr> numbers;
    numbers.reserve(points.size() * 2);
    for (const QPointF &point : points) {
        numbers.push_back(KVPDFObjectReal::realWithFloat(float(point.x())));
        numbers.push_back(KVPDFObjectReal::realWithFloat(float(point.y())));
    }
    return KVPDFObjectArray::arrayWithArray(std::move(numbers));
}

std::vector<QPointF> pointArrayFromPDFArrayPoints(const KVPDFObjectPtr &object)
{
    std::vector<QPointF> points;
    auto array = kv_cast<KVPDFObjectArray>(object ? object->resolvedObject() : nullptr);
    if (!array)
        return points;
    auto number = [&array](size_t i) {
        KVPDFObjectPtr element;
        try {
            element = array->resolvedObjectAtIndex(i);
        } catch (const FolivoException &) {
        }
        const float value = kvIsNumber(element) ? element->realValue() : 0.0f;
        return std::isfinite(value) ? double(value) : 0.0;
    };
    const size_t count = array->count();
    points.reserve(count / 2);
    for (size_t i = 0; i + 1 < count; i += 2)
        points.emplace_back(number(i), number(i + 1));
    return points;
}

QRectF boundsOfPoints(std::span<const QPointF> points)
{
    if (points.empty())
        return QRectF();
    double left = points.front().x(), right = left, bottom = points.front().y(), top = bottom;
    for (const QPointF &point : points) {
        left = std::min(left, point.x());
        right = std::max(right, point.x());
        bottom = std::min(bottom, point.y());
        top = std::max(top, point.y());
    }
    return QRectF(left, bottom, right - left, top - bottom);
}
}
