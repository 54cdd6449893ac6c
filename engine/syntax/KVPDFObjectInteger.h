#pragma once
// An integer (type 1) with a private value.
#include "KVPDFObject.h"

class KVPDFObjectInteger : public KVPDFObject {
public:
    explicit KVPDFObjectInteger(int64_t value = 0);

    static std::shared_ptr<KVPDFObjectInteger> integerWithLongLong(int64_t value);
    // Reads an optionally signed base-10 integer at `text` (bounded by `end`); the rawLength is
    // the bytes used. Values beyond 64 bits saturate.
    static std::shared_ptr<KVPDFObjectInteger> integerWithPtr(const char *text, const char *end, KVPDFObjectContext *context);
    static int64_t parseInteger(const char *text, const char *end, size_t *consumed);

    int64_t longLongValue() const override { return m_value; }
    virtual void setLongLongValue(int64_t value) { m_value = value; }
    float realValue() const override { return float(m_value); }
    uint64_t rawLength() const override;

    QByteArray syntax(KVPDFEncryption encryption) override;
    KVPDFObjectPtr copy() override;
    QString description() override;

protected:
    int64_t m_value;
};
