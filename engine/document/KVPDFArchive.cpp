#include "KVPDFArchive.h"

#include "KVPDFLog.h"

#include <QCborMap>
#include <QCborStreamReader>
#include <QCborValue>

QByteArray KVPDFArchive::archive(const QVariantMap &dictionary) { return QCborValue::fromVariant(dictionary).toCbor(); }

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
    return value.toMap().toVariantMap();
}
