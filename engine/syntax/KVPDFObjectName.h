#pragma once
// A name (type 4). The value is the name's bytes without "/", with "#xx" escapes decoded on
// read and applied on write to delimiters, white space, "#" and bytes outside the printable
// range, so "/A#20B" reads as "A B" and writes back as "/A#20B".
#include "KVPDFObject.h"

class KVPDFObjectName : public KVPDFObject {
public:
    explicit KVPDFObjectName(QByteArray bytes = {});

    static std::shared_ptr<KVPDFObjectName> nameWithString(const QString &text); // UTF-8 bytes
    static std::shared_ptr<KVPDFObjectName> nameWithBytes(const QByteArray &bytes);
    // The byte at `offset` must be "/" (FolivoParseFailure otherwise); the name runs to the next
    // white space or delimiter, at any length.
    static std::shared_ptr<KVPDFObjectName> nameAtOffset(uint64_t offset, const QByteArray &data);

    const QByteArray &bytes() const { return m_bytes; }
    QString stringValue() const; // UTF-8 when valid, else Latin-1
    bool operator==(QByteArrayView other) const { return m_bytes == other; }

    bool isEqual(const KVPDFObject &other) const override;
    QByteArray syntax(KVPDFEncryption encryption) override;
    void appendSyntax(QByteArray &out, KVPDFEncryption encryption) override;
    static QByteArray escapedName(const QByteArray &bytes);
    static void appendEscapedName(QByteArray &out, QByteArrayView bytes);
    KVPDFObjectPtr copy() override;
    QString description() override;

private:
    QByteArray m_bytes;
};
