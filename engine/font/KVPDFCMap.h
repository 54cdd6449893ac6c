#pragma once
// A font's map from character codes to Unicode: a "ToUnicode" stream, or, for a composite
// font without one, the predefined "<Registry>-<Ordering>-UCS2" CMap (CID to Unicode) read from
// the predefined-CMap folder (see KVPDFPredefinedCMaps).
//
// Only the mapping sections are read: "beginbfchar" and "beginbfrange", in any layout the
// PostScript tokens allow (a blank after the keyword, several entries on one line, entries
// split over lines), with destinations as hex strings of one or more UTF-16 units (surrogate
// pairs and ligatures included) or as arrays of hex strings (bfrange, one string per code).
// Codes are up to four bytes; the code length is decided by the font, never by this map.
//
// Lookup: a bfchar entry first; then the ranges in the order they were read, the first that
// holds the code winning (the destination's last unit counts up with the code); else the code
// itself, as one unit. A later bfchar entry for the same code replaces an earlier one.
//
// Ownership: plain value, owned by its font. Threads: read-only after construction, so any
// number of threads may look up at once.
// Bad input never throws: a stream that does not decode gives an empty map (with a log line);
// malformed entries are skipped; a section count larger than its entries ends at the next
// keyword or the end of the text; the number of entries read is capped (kMaxEntries).
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

class KVPDFObjectDictionary;
class KVPDFObjectStream;
class KVPDFCMapTokenizer;
struct KVPDFCMapToken;

class KVPDFCMap {
public:
    // Mappings beyond this count are dropped with a log line (a hostile stream cannot grow
    // the map without bound).
    static constexpr size_t kMaxEntries = 1u << 20;

    KVPDFCMap() = default;
    // Decodes the stream and parses it; an undecodable stream gives an empty map.
    static std::shared_ptr<KVPDFCMap> cmapWithStream(const std::shared_ptr<KVPDFObjectStream> &stream);
    // The predefined "<Registry>-<Ordering>-UCS2" map for a CIDSystemInfo dictionary, parsed
    // from the cached file text; empty (every code maps to itself) when there is no such file.
    static std::shared_ptr<KVPDFCMap> cmapWithCIDSystemInfo(const std::shared_ptr<KVPDFObjectDictionary> &info);

    // Adds the mappings of a CMap text (bytes as read; only ASCII matters).
    void processCMapString(QByteArrayView text);

    bool isEmpty() const { return m_chars.empty() && m_ranges.empty(); }
    // Whether the map says anything about `code` (bfchar or range).
    bool maps(uint32_t code) const;
    // Appends the text for `code`: the mapped units, else the code itself as one unit (codes
    // above 0xFFFF then give U+FFFD).
    void appendText(uint32_t code, QString &out) const;
    // The same as UTF-16 big-endian bytes.
    QByteArray stringDataForGlyph(uint32_t code) const;

private:
    struct Range {
        uint32_t first;
        uint32_t last;
        // The destination of `first`; later codes add their offset to its last unit.
        QString destination;
        // For the array form: one destination per code, first..last (may be shorter).
        std::vector<QString> destinations;
    };
    // The range that holds `code` and gives it a destination, or nullptr.
    const Range *rangeFor(uint32_t code) const;
    void readChars(KVPDFCMapTokenizer &tokens, KVPDFCMapToken &ending);
    void readRanges(KVPDFCMapTokenizer &tokens, KVPDFCMapToken &ending);
    bool takeEntry();
    void indexRanges();

    std::unordered_map<uint32_t, QString> m_chars;
    std::vector<Range> m_ranges;
    // m_ranges' indexes ordered by first code; used for a binary search while no two ranges
    // overlap (real maps), else the ranges are searched in reading order.
    std::vector<uint32_t> m_rangeOrder;
    bool m_rangesOverlap = false;
    size_t m_entries = 0;
};
