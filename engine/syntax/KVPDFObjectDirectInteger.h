#pragma once
// The immutable integers the parser reads inside an array or dictionary. Those from 0 to
// kSharedLimit - 1 are shared process-wide by value, so the thousands of 0s of a file are one
// object; any other value is a fresh instance, so a file full of distinct numbers cannot grow
// the shared table past its fixed size. Both kinds behave and serialise alike.
// Changing the value raises FolivoLogicFailure; the setters of the common interface do nothing,
// so a shared instance never learns a container, document or number. Thread-safe.
#include "KVPDFObjectInteger.h"

class KVPDFObjectDirectInteger : public KVPDFObjectInteger {
    struct Token { };

public:
    KVPDFObjectDirectInteger(Token, int64_t value);

    // Values in [0, kSharedLimit) have one instance each, made on first use and kept for the
    // life of the process.
    static constexpr int64_t kSharedLimit = 1024;

    // The shared instance for `value` when it is in range, else a new one.
    static std::shared_ptr<KVPDFObjectDirectInteger> integerWithLongLong(int64_t value);
    // Reads the integer at `text` like KVPDFObjectInteger::integerWithPtr; `*consumed` gets the
    // bytes used, which the shared instance cannot remember.
    static std::shared_ptr<KVPDFObjectDirectInteger> integerWithPtr(const char *text, const char *end, size_t *consumed);
    // How many shared instances exist so far; never more than kSharedLimit.
    static size_t cacheSize();

    Type objectType() const override { return TypeInteger; }
    void setObjectType(Type) override { }
    bool isDirect() const override { return true; }
    void setDirect(bool) override { }
    uint8_t flags() const override { return FlagDirectInteger; }
    void setFlags(uint8_t) override { }
    void setContext(KVPDFObjectContext *) override { }
    uint64_t objectNumber() const override { return 0; }
    void setObjectNumber(uint64_t) override { }
    uint64_t generation() const override { return 0; }
    void setGeneration(uint64_t) override { }
    void setContainer(const std::weak_ptr<KVPDFObject> &) override { }
    void setLongLongValue(int64_t value) override;
    uint64_t rawLength() const override;

    KVPDFObjectPtr copy() override;
    using KVPDFObject::subobjects;
    std::vector<KVPDFObjectPtr> subobjects(KVPDFVisitedSet &) override { return {}; }
    void markSubobjects(KVPDFMarkArray &) override { }
    void fixReferences(const KVPDFTranslationTable &) override { }
    QString description() override;
};
