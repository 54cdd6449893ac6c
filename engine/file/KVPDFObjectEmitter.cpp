#include "KVPDFObjectEmitter.h"

#include "KVPDFDataWriter.h"
#include "KVPDFObjectContext.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFWriteState.h"

namespace {
QByteArray decimal(uint64_t value)
{
    char buffer[24];
    return QByteArray(buffer, KVPDFObjectUnsignedToStringInPlace(value, buffer) - buffer);
}
}

QByteArray KVPDFObjectEmitter::xrefRow(uint64_t offset, bool inUse)
{
    if (!inUse)
        return QByteArrayLiteral("0000000000 65535 f \n");
    return decimal(offset).rightJustified(10, '0') + QByteArrayLiteral(" 00000 n \n");
}

bool KVPDFObjectEmitter::writeObject(const KVPDFObjectPtr &object, uint64_t number, bool release)
{
    if (!object || number == 0)
        return false;
    // Strings and streams brought in from another document encrypt (and end their lines) like
    // this document's, with the number they are written under.
    object->setContext(&m_context);
    object->setObjectNumber(number);
    object->setGeneration(0);
    object->setDirect(false);
    // The Encrypt dictionary is the key to the rest and is itself never encrypted.
    const bool encrypt = m_state.encrypt && object.get() != m_encrypt;
    const QByteArray value = object->directObject(encrypt ? KVPDFEncryption::Encrypt : KVPDFEncryption::Plain);
    const QByteArray &eol = m_context.EOL();
    QByteArray text;
    text.reserve(value.size() + 32);
    text.append(decimal(number) + " 0 obj" + eol);
    text.append(value);
    text.append(eol + "endobj" + eol);
    m_rows.emplace(number, std::make_pair(m_writer.length(), object->objectType() != KVPDFObject::TypeUnknown));
    m_emitted.insert(object.get());
    if (release) {
        // Other written objects refer to this one by number only: its contents can go.
        if (auto stream = kv_cast<KVPDFObjectStream>(object))
            stream->setRawData(QByteArray());
        object->releaseGraph();
    }
    return m_writer.appendData(text);
}

bool KVPDFObjectEmitter::finish(const std::shared_ptr<KVPDFObjectDictionary> &trailer, bool oneSection)
{
    const QByteArray &eol = m_context.EOL();
    const uint64_t xref = m_writer.length();
    QByteArray table = "xref" + eol;
    if (oneSection) {
        const uint64_t highest = m_rows.empty() ? 0 : m_rows.rbegin()->first;
        table.reserve(qsizetype(highest + 2) * 20 + 32);
        table += "0 " + decimal(highest + 1) + eol + xrefRow(0, false);
        for (uint64_t number = 1; number <= highest; ++number) {
            auto it = m_rows.find(number);
            table += it == m_rows.end() ? xrefRow(0, false) : xrefRow(it->second.first, it->second.second);
        }
    } else {
        for (const auto &[number, row] : m_rows)
            table += decimal(number) + " 1" + eol + xrefRow(row.first, row.second);
    }
    table += "trailer" + eol + trailer->directObject(m_state.encrypt ? KVPDFEncryption::Encrypt : KVPDFEncryption::Plain) + eol;
    table += "startxref" + eol + decimal(xref) + eol + "%%EOF" + eol;
    return m_writer.appendData(table);
}
