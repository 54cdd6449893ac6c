#pragma once
// The archive an imprint's property dictionary is stored in (under "FolivoDictionary" in the
// imprint's form object). The dictionary belongs to the editing layer; the engine only turns it
// into bytes and back. The format is CBOR as QCborValue writes it for a QVariantMap, so values
// must be types CBOR can carry: strings, byte arrays, numbers, booleans, dates, URLs, UUIDs,
// colours, and lists and maps of those. Anything else is stored as its string form, or dropped.
// Each value reads back as its own type: a boolean is no integer, an integer no real (1 and 1.0
// stay apart), and a colour comes back as a QColor, at any depth.
//
// Colours: a CBOR array [red, green, blue, alpha] of reals in 0..1 (RGB; another space is
// converted first) under the tag kColorTag. Archives written before colours were tagged carry a
// colour as the text "#aarrggbb" and read back as that text, as they always did; a tagged item
// that is not four numbers reads as its untagged content.
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
    // From the first-come range of CBOR tags, where no registered meaning can collide.
    static constexpr quint64 kColorTag = 0x4b5643; // "KVC"

    static QByteArray archive(const QVariantMap &dictionary);
    static std::optional<QVariantMap> unarchive(const QByteArray &data);

private:
    // Walks the data without building values: true when it is one well-formed item within the
    // bounds above, ending exactly at the end of the data.
    static bool isWithinBounds(const QByteArray &data);
};
