#pragma once
// The classic cross-reference table and the trailer that end a file or an update, for every
// writer of the engine: the full rewrite and the working copy (through KVPDFObjectEmitter),
// the data refresh's rebuilt bytes and the one-page PDFs of imprints and appearances.
//
// Rows are always 20 bytes ending in a space and a line feed, whatever the file's line end, so
// readers can index the table: "oooooooooo ggggg n \n" in use, "0000000000 ggggg f \n" free.
// Every other line ends with the `eol` given.
// Bad input: a number given twice keeps its first row; a generation past 65535 is written
// modulo 65536 (five digits), an offset past ten digits with all its digits.
// Ownership: a value; holds only its rows.
#include "KVPDFObject.h"

#include <QByteArray>

#include <cstdint>
#include <map>
#include <memory>

class KVPDFObjectDictionary;

class KVPDFXrefWriter {
public:
    // Object `number` (generation `generation`) starts at byte `offset` of the file.
    void addObject(uint64_t number, uint64_t offset, uint64_t generation = 0);
    // Object `number` is written but holds nothing: a free row of generation 65535.
    void addFree(uint64_t number);
    size_t count() const { return m_rows.size(); }
    // The highest number given a row, 0 for none.
    uint64_t highest() const { return m_rows.empty() ? 0 : m_rows.rbegin()->first; }

    // "xref" and one section over the numbers first .. end - 1: number 0 is the free head of
    // the free list (generation 65535); a number without a row is free with
    // `missingGeneration`.
    QByteArray tableWithOneSection(uint64_t first, uint64_t end, uint16_t missingGeneration, const QByteArray &eol) const;
    // "xref" and a one-row section per number given a row (an update).
    QByteArray tableWithSectionPerObject(const QByteArray &eol) const;
    // "trailer", the dictionary as given (serialised with `encryption`), then "startxref",
    // `xrefOffset` and "%%EOF".
    static QByteArray trailerAndEnd(const std::shared_ptr<KVPDFObjectDictionary> &trailer, uint64_t xrefOffset,
                                    const QByteArray &eol, KVPDFEncryption encryption = KVPDFEncryption::AsContext);

    static QByteArray row(uint64_t offset, uint64_t generation, bool inUse);

private:
    struct Row {
        uint64_t offset = 0;
        uint64_t generation = 0;
        bool inUse = true;
    };
    std::map<uint64_t, Row> m_rows;
};
