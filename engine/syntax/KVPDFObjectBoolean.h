#pragma once
// A boolean (type 7).
#include "KVPDFObject.h"

class KVPDFObjectBoolean : public KVPDFObject {
public:
    explicit KVPDFObjectBoolean(bool value = false);

    static std::shared_ptr<KVPDFObjectBoolean> boolWithBool(bool value);
    // At "f" the bytes must be "false", at "t" "true" (FolivoParseFailure otherwise); any other
    // first byte is logged and answers false with rawLength 0.
    static std::shared_ptr<KVPDFObjectBoolean> boolAtOffset(uint64_t offset, const QByteArray &data, KVPDFObjectContext *context);

    bool boolValue() const { return m_value; }
    void setBoolValue(bool value) { m_value = value; }
    int64_t longLongValue() const override { return m_value ? 1 : 0; }

    QByteArray syntax(KVPDFEncryption encryption) override;
    KVPDFObjectPtr copy() override;
    QString description() override;

private:
    bool m_value;
};
