#include "KVPDFObjectDirectInteger.h"

#include "KVPDFExceptions.h"

#include <array>
#include <mutex>

namespace {
struct DirectIntegerCache {
    std::mutex lock;
    std::array<std::shared_ptr<KVPDFObjectDirectInteger>, size_t(KVPDFObjectDirectInteger::kSharedLimit)> instances;
    size_t filled = 0;
};

DirectIntegerCache &cache()
{
    // Never destroyed: instances may be referenced from static objects torn down later.
    static DirectIntegerCache *instance = new DirectIntegerCache;
    return *instance;
}
}

KVPDFObjectDirectInteger::KVPDFObjectDirectInteger(Token, int64_t value) : KVPDFObjectInteger(value) { }

std::shared_ptr<KVPDFObjectDirectInteger> KVPDFObjectDirectInteger::integerWithLongLong(int64_t value)
{
    if (value < 0 || value >= kSharedLimit)
        return std::make_shared<KVPDFObjectDirectInteger>(Token{}, value);
    DirectIntegerCache &c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    auto &slot = c.instances[size_t(value)];
    if (!slot) {
        slot = std::make_shared<KVPDFObjectDirectInteger>(Token{}, value);
        ++c.filled;
    }
    return slot;
}

std::shared_ptr<KVPDFObjectDirectInteger> KVPDFObjectDirectInteger::integerWithPtr(const char *text, const char *end,
                                                                                   size_t *consumed)
{
    return integerWithLongLong(parseInteger(text, end, consumed));
}

size_t KVPDFObjectDirectInteger::cacheSize()
{
    DirectIntegerCache &c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    return c.filled;
}

void KVPDFObjectDirectInteger::setLongLongValue(int64_t) { throw FolivoLogicFailure("KVPDFObjectDirectInteger is not mutable"); }

uint64_t KVPDFObjectDirectInteger::rawLength() const
{
    char buffer[24];
    return uint64_t(KVPDFObjectSignedToStringInPlace(m_value, buffer) - buffer);
}

KVPDFObjectPtr KVPDFObjectDirectInteger::copy() { return KVPDFObjectInteger::integerWithLongLong(m_value); }

QString KVPDFObjectDirectInteger::description()
{
    return QStringLiteral("<KVPDFObjectDirectInteger, 0x%1>: %2").arg(quintptr(this), 8, 16, QLatin1Char('0')).arg(m_value);
}
