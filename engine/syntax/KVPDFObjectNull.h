#pragma once
// The null object (type 8).
#include "KVPDFObject.h"

class KVPDFObjectNull : public KVPDFObject {
public:
    KVPDFObjectNull();

    // A new null object (rawLength 4).
    static std::shared_ptr<KVPDFObjectNull> nullObject();
    // The bytes at `offset` must be "null" (FolivoParseFailure otherwise).
    static std::shared_ptr<KVPDFObjectNull> nullAtOffset(uint64_t offset, const QByteArray &data, KVPDFObjectContext *context);

    KVPDFObjectPtr resolvedObjectForKey(QByteArrayView key) override;
    QByteArray syntax(KVPDFEncryption) override { return QByteArrayLiteral("null"); }
    KVPDFObjectPtr copy() override;
    QString description() override { return QStringLiteral("<KVPDFObjectNull>"); }
};
