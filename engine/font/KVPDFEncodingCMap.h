#pragma once
// The CMap named by a composite font's Encoding (a predefined name such as "90ms-RKSJ-H", or an
// embedded CMap stream): how string bytes split into codes, and which CID each code selects.
//
// Code lengths come from the "begincodespacerange" ranges (1 to 4 bytes); CIDs from
// "begincidrange"/"begincidchar" ("beginnotdefrange" gives the notdef CID). "usecmap" pulls in
// a predefined CMap by name, followed to a bounded depth. "/WMode 1" marks vertical writing.
// The names "Identity-H" and "Identity-V" are built in (two-byte codes, CID = code) and need no
// file.
//
// Splitting: at each position the shortest code-space range that holds the leading bytes
// gives the code. Bytes that start no valid code take the shortest code length of the map (at
// most the bytes left) as one code; inCodeSpace() tells such a code apart, and it selects CID
// 0, as the PDF standard asks of an unmatched code (the Identity maps answer every code
// itself, so their caller drops a trailing odd byte by its length). A map that states no
// code-space range reads two-byte codes.
//
// Later mappings win over earlier ones, so a map's own entries override those of the map it
// pulls in with usecmap (a vertical map over its horizontal base). Lookups are binary searches.
//
// Ownership: plain value, owned by its font. Threads: read-only after construction.
// Bad input never throws: an unknown name or an unreadable stream gives std::nullptr from
// the factories (the caller falls back to two-byte Identity), malformed entries are skipped and
// counted entries are capped (KVPDFCMap::kMaxEntries).
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class KVPDFObjectStream;

class KVPDFEncodingCMap {
public:
    // A predefined CMap by name, looked up under every "<Registry>-<Ordering>" folder of the
    // predefined-CMap folder; nullptr when none has it.
    static std::shared_ptr<KVPDFEncodingCMap> cmapWithName(const QByteArray &name);
    // An embedded CMap: the stream's text, after the map its "UseCMap" entry names (a
    // predefined name or another stream); "WMode" and "CIDSystemInfo" of the stream's
    // dictionary count when the text does not state them.
    static std::shared_ptr<KVPDFEncodingCMap> cmapWithStream(const std::shared_ptr<KVPDFObjectStream> &stream);
    // A CMap text as such (usecmap names still resolve through the predefined folder); nullptr
    // for an empty text.
    static std::shared_ptr<KVPDFEncodingCMap> cmapWithText(QByteArrayView text);
    // The two built-in maps.
    static std::shared_ptr<KVPDFEncodingCMap> identity(bool vertical);

    // Reads the code starting at `position`, moves `position` past it (always by at least one
    // byte while bytes are left) and answers the code; `length` gets its byte count.
    uint32_t nextCode(QByteArrayView data, qsizetype &position, int *length = nullptr) const;
    // Whether a code of `length` bytes lies in one of the map's code-space ranges.
    bool inCodeSpace(uint32_t code, int length) const;
    // The CID of a code: its cidrange/cidchar entry, else its notdefrange entry, else 0.
    uint32_t cidForCode(uint32_t code) const;
    bool isVertical() const { return m_vertical; }
    bool isIdentity() const { return m_identity; }
    // The CIDSystemInfo the CMap states ("Adobe", "Japan1"), empty when it states none.
    const QString &registry() const { return m_registry; }
    const QString &ordering() const { return m_ordering; }

private:
    struct CodeSpace {
        int length;
        uint8_t low[4];
        uint8_t high[4];
    };
    struct CIDRange {
        uint32_t first;
        uint32_t last;
        uint32_t cid;
    };
    // Reads CMap texts, usecmap and UseCMap included, into one map.
    struct Builder;
    static constexpr int kMaxUseDepth = 8;

    bool matches(const CodeSpace &space, const uint8_t *bytes) const;

    std::vector<CodeSpace> m_codeSpaces;
    // Sorted by first code and disjoint (later entries cut earlier ones); cidchar entries are
    // ranges of one code.
    std::vector<CIDRange> m_cidRanges;
    std::vector<CIDRange> m_notdefRanges;
    int m_shortestLength = 2;
    QString m_registry;
    QString m_ordering;
    bool m_vertical = false;
    bool m_identity = false;
};
