#pragma once
// The archive an imprint's property dictionary is stored in (under "FolivoDictionary" in the
// imprint's form object). The dictionary belongs to the editing layer; the engine only turns it
// into bytes and back. The format is CBOR as QCborValue writes it for a QVariantMap, so values
// must be types CBOR can carry: strings, byte arrays, numbers, booleans, dates, URLs, UUIDs,
// and lists and maps of those. Anything else is stored as its string form, or dropped.
//
// Bad input: unarchive() reads bytes from files and so from anyone. It answers nothing, without
// building any value, for data larger than kMaxBytes, nested deeper than kMaxDepth, holding more
// than kMaxItems items, malformed, followed by trailing bytes, or whose top item is not a map.
// Callers keep such data as an opaque blob. Pure functions; thread-safe.
#include <QByteArray>
#include <QVariantMap>

#include <optional>

class KVPDFArchive {
public:
    static constexpr qsizetype kMaxBytes = 64 * 1024 * 1024;
    static constexpr int kMaxDepth = 64;
    static constexpr qint64 kMaxItems = 1 << 20;

    static QByteArray archive(const QVariantMap &dictionary);
    static std::optional<QVariantMap> unarchive(const QByteArray &data);

private:
    // Walks the data without building values: true when it is one well-formed item within the
    // bounds above, ending exactly at the end of the data.
    static bool isWithinBounds(const QByteArray &data);
};
