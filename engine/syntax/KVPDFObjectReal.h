#pragma once
// A real number (type 2), held in single precision as the engine reads all number text.
#include "KVPDFObject.h"

class KVPDFObjectReal : public KVPDFObject {
public:
    explicit KVPDFObjectReal(float value = 0);

    static std::shared_ptr<KVPDFObjectReal> realWithFloat(float value);
    // Reads number text at `text` (bounded by `end`) with KVPDFObjectStrToFloat; rawLength = bytes used.
    static std::shared_ptr<KVPDFObjectReal> realWithPtr(const char *text, const char *end, KVPDFObjectContext *context);

    float realValue() const override { return m_value; }
    void setRealValue(float value) { m_value = value; }
    int64_t longLongValue() const override;
    uint64_t rawLength() const override;

    // Whole values as integers ("2"), others with six decimals ("0.500000"); a value that is
    // not a number or infinite is written as 0, since neither has PDF syntax.
    QByteArray syntax(KVPDFEncryption encryption) override;
    KVPDFObjectPtr copy() override;
    QString description() override;

private:
    float m_value;
};
