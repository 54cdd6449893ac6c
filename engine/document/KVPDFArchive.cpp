#include "KVPDFArchive.h"

#include "KVPDFLog.h"

#include <QCborArray>
#include <QCborMap>
#include <QCborStreamReader>
#include <QCborValue>
#include <QColor>

#include <algorithm>
#include <cmath>

namespace {

// QCborValue::fromVariant would write a colour as the text "#80ff0000", which reads back as a
// string, so containers are walked here and colours tagged on the way.
QCborValue toCbor(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QColor: {
        const QColor rgb = value.value<QColor>().toRgb();
        return QCborValue(QCborKnownTags(KVPDFArchive::kColorTag),
                          QCborArray{double(rgb.redF()), double(rgb.greenF()), double(rgb.blueF()), double(rgb.alphaF())});
    }
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        QCborArray array;
        for (const QVariant &item : value.toList())
            array.append(toCbor(item));
        return array;
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        QCborMap map;
        const QVariantMap items = value.toMap();
        for (auto it = items.cbegin(); it != items.cend(); ++it)
            map.insert(it.key(), toCbor(it.value()));
        return map;
    }
    default:
        return QCborValue::fromVariant(value);
    }
}

QVariant fromCbor(const QCborValue &value)
{
    if (value.isTag() && value.tag() == QCborTag(KVPDFArchive::kColorTag)) {
        const QCborValue content = value.taggedValue();
        const QCborArray parts = content.toArray();
        bool numbers = content.isArray() && parts.size() == 4;
        float components[4] = {};
        for (qsizetype i = 0; numbers && i < 4; ++i) {
            const double v = parts.at(i).toDouble(std::nan(""));
            numbers = (parts.at(i).isDouble() || parts.at(i).isInteger()) && std::isfinite(v);
            components[i] = numbers ? static_cast<float>(std::clamp(v, 0.0, 1.0)) : 0.0f;
        }
        if (numbers)
            return QColor::fromRgbF(components[0], components[1], components[2], components[3]);
        return fromCbor(content);
    }
    if (value.isArray()) {
        QVariantList list;
        for (const QCborValue &item : value.toArray())
            list.append(fromCbor(item));
        return list;
    }
    if (value.isMap()) {
        QVariantMap map;
        const QCborMap items = value.toMap();
        for (auto it = items.cbegin(); it != items.cend(); ++it) {
            // Keys as QCborMap::toVariantMap spells them, so a non-text key reads as before.
            const QString key = it.key().isString() ? it.key().toString() : QCborMap{{it.key(), QCborValue()}}.toVariantMap().firstKey();
            map.insert(key, fromCbor(it.value()));
        }
        return map;
    }
    return value.toVariant();
}

} // namespace

QByteArray KVPDFArchive::archive(const QVariantMap &dictionary) { return toCbor(dictionary).toCbor(); }

bool KVPDFArchive::isWithinBounds(const QByteArray &data)
{
    if (data.isEmpty() || data.size() > kMaxBytes)
        return false;
    QCborStreamReader reader(data);
    int depth = 0;
    int tagRun = 0;
    qint64 items = 0;
    // Iterative on purpose: the stream reader's own skipping and QCborValue's parser recurse
    // per nesting level, so the depth is checked here before either sees the data.
    for (;;) {
        if (reader.lastError() != QCborError::NoError)
            return false;
        if (depth > 0 && !reader.hasNext()) {
            if (!reader.leaveContainer())
                return false;
            --depth;
            if (depth == 0)
                break;
            continue;
        }
        if (++items > kMaxItems)
            return false;
        if (reader.isTag()) {
            // A tag wraps the next item; a run of tags nests just like containers do.
            if (++tagRun > 8 || !reader.next())
                return false;
            continue;
        }
        tagRun = 0;
        if (reader.isArray() || reader.isMap()) {
            if (++depth > kMaxDepth || !reader.enterContainer())
                return false;
            continue;
        }
        if (reader.isInvalid() || !reader.next())
            return false;
        if (depth == 0)
            break;
    }
    return reader.lastError() == QCborError::NoError && reader.currentOffset() == data.size();
}

std::optional<QVariantMap> KVPDFArchive::unarchive(const QByteArray &data)
{
    if (!isWithinBounds(data)) {
        kvLog(QStringLiteral("Imprint properties are not a readable archive (%1 bytes); kept as they are").arg(data.size()));
        return std::nullopt;
    }
    QCborParserError error;
    const QCborValue value = QCborValue::fromCbor(data, &error);
    if (error.error != QCborError::NoError || !value.isMap()) {
        kvLog(QStringLiteral("Imprint properties are not a dictionary archive; kept as they are"));
        return std::nullopt;
    }
    return fromCbor(value).toMap();
}
