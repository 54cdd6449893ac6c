#include "KVPDFXrefWriter.h"

#include "KVPDFObject.h"
#include "KVPDFObjectDictionary.h"

namespace {
QByteArray decimal(uint64_t value)
{
    char buffer[24];
    return QByteArray(buffer, KVPDFObjectUnsignedToStringInPlace(value, buffer) - buffer);
}
}

void KVPDFXrefWriter::addObject(uint64_t number, uint64_t offset, uint64_t generation)
{
    m_rows.emplace(number, Row{offset, generation, true});
}

void KVPDFXrefWriter::addFree(uint64_t number) { m_rows.emplace(number, Row{0, 65535, false}); }

QByteArray KVPDFXrefWriter::row(uint64_t offset, uint64_t generation, bool inUse)
{
    return decimal(offset).rightJustified(10, '0') + ' ' + decimal(generation & 0xFFFF).rightJustified(5, '0')
           + (inUse ? QByteArrayLiteral(" n \n") : QByteArrayLiteral(" f \n"));
}

QByteArray KVPDFXrefWriter::tableWithOneSection(uint64_t first, uint64_t end, uint16_t missingGeneration,
                                                const QByteArray &eol) const
{
    QByteArray table = "xref" + eol + decimal(first) + ' ' + decimal(end > first ? end - first : 0) + eol;
    if (end > first)
        table.reserve(table.size() + qsizetype(end - first) * 20);
    for (uint64_t number = first; number < end; ++number) {
        if (number == 0) {
            table += row(0, 65535, false);
            continue;
        }
        auto it = m_rows.find(number);
        table += it == m_rows.end() ? row(0, missingGeneration, false)
                                    : row(it->second.offset, it->second.generation, it->second.inUse);
    }
    return table;
}

QByteArray KVPDFXrefWriter::tableWithSectionPerObject(const QByteArray &eol) const
{
    QByteArray table = "xref" + eol;
    for (const auto &[number, entry] : m_rows)
        table += decimal(number) + " 1" + eol + row(entry.offset, entry.generation, entry.inUse);
    return table;
}

QByteArray KVPDFXrefWriter::trailerAndEnd(const std::shared_ptr<KVPDFObjectDictionary> &trailer, uint64_t xrefOffset,
                                          const QByteArray &eol, KVPDFEncryption encryption)
{
    return "trailer" + eol + trailer->directObject(encryption) + eol + "startxref" + eol + decimal(xrefOffset) + eol + "%%EOF"
           + eol;
}
