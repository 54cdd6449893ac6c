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
    const KVPDFEncryption encryption = encrypt ? KVPDFEncryption::Encrypt : KVPDFEncryption::Plain;
    const QByteArray &eol = m_context.EOL();
    if (object->objectType() == KVPDFObject::TypeUnknown)
        m_xref.addFree(number);
    else
        m_xref.addObject(number, m_writer.length());
    m_emitted.insert(object.get());
    QByteArray head = decimal(number) + " 0 obj" + eol;
    const QByteArray end = eol + "endobj" + eol;
    bool written;
    if (auto stream = kv_cast<KVPDFObjectStream>(object)) {
        // A stream's data goes to the writer as a view of its own buffer: large content and
        // images are not copied on the way out.
        const KVPDFObjectStream::SyntaxParts parts = stream->syntaxParts(encryption);
        head.append(parts.head);
        QByteArray tail = parts.tail;
        tail.append(end);
        written = m_writer.appendData(head) && m_writer.appendData(parts.data) && m_writer.appendData(tail);
    } else {
        object->appendSyntax(head, encryption);
        head.append(end);
        written = m_writer.appendData(head);
    }
    if (release) {
        // Other written objects refer to this one by number only: its contents can go.
        if (auto stream = kv_cast<KVPDFObjectStream>(object))
            stream->setRawData(QByteArray());
        object->releaseGraph();
    }
    return written;
}

bool KVPDFObjectEmitter::finish(const std::shared_ptr<KVPDFObjectDictionary> &trailer, Table table)
{
    const QByteArray &eol = m_context.EOL();
    const uint64_t xref = m_writer.length();
    QByteArray tail;
    switch (table) {
    case Table::Complete: tail = m_xref.tableWithOneSection(0, m_xref.highest() + 1, 65535, eol); break;
    case Table::CompleteFromOne: tail = m_xref.tableWithOneSection(1, m_xref.highest() + 1, 65535, eol); break;
    case Table::Update: tail = m_xref.tableWithSectionPerObject(eol); break;
    }
    tail +=
        KVPDFXrefWriter::trailerAndEnd(trailer, xref, eol, m_state.encrypt ? KVPDFEncryption::Encrypt : KVPDFEncryption::Plain);
    return m_writer.appendData(tail);
}
