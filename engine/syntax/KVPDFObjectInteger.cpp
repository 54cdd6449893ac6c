#include "KVPDFObjectInteger.h"

#include <limits>

KVPDFObjectInteger::KVPDFObjectInteger(int64_t value) : m_value(value) { m_type = TypeInteger; }

std::shared_ptr<KVPDFObjectInteger> KVPDFObjectInteger::integerWithLongLong(int64_t value)
{
    return std::make_shared<KVPDFObjectInteger>(value);
}

int64_t KVPDFObjectInteger::parseInteger(const char *text, const char *end, size_t *consumed)
{
    const char *p = text;
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) {
        negative = *p == '-';
        ++p;
    }
    const char *digits = p;
    uint64_t magnitude = 0;
    bool overflow = false;
    while (p < end && *p >= '0' && *p <= '9') {
        const uint64_t digit = uint64_t(*p - '0');
        if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + digit;
        ++p;
    }
    if (p == digits) {
        // No digits: nothing is consumed, not even a sign (callers decide how to move on).
        if (consumed)
            *consumed = 0;
        return 0;
    }
    if (consumed)
        *consumed = size_t(p - text);
    constexpr uint64_t maxPositive = uint64_t(std::numeric_limits<int64_t>::max());
    if (negative) {
        if (overflow || magnitude > maxPositive + 1)
            return std::numeric_limits<int64_t>::min();
        return magnitude == maxPositive + 1 ? std::numeric_limits<int64_t>::min() : -int64_t(magnitude);
    }
    if (overflow || magnitude > maxPositive)
        return std::numeric_limits<int64_t>::max();
    return int64_t(magnitude);
}

std::shared_ptr<KVPDFObjectInteger> KVPDFObjectInteger::integerWithPtr(const char *text, const char *end,
                                                                       KVPDFObjectContext *context)
{
    size_t consumed = 0;
    auto object = std::make_shared<KVPDFObjectInteger>(parseInteger(text, end, &consumed));
    object->m_context = context;
    object->m_rawLength = consumed;
    return object;
}

uint64_t KVPDFObjectInteger::rawLength() const
{
    if (m_rawLength)
        return m_rawLength;
    char buffer[24];
    return uint64_t(KVPDFObjectSignedToStringInPlace(m_value, buffer) - buffer);
}

QByteArray KVPDFObjectInteger::syntax(KVPDFEncryption)
{
    char buffer[24];
    return QByteArray(buffer, KVPDFObjectSignedToStringInPlace(m_value, buffer) - buffer);
}

KVPDFObjectPtr KVPDFObjectInteger::copy()
{
    auto object = std::make_shared<KVPDFObjectInteger>(m_value);
    copyBaseInto(*object);
    object->m_type = TypeInteger;
    object->m_flags = m_flags & 0x07;
    return object;
}

QString KVPDFObjectInteger::description()
{
    return QStringLiteral("<KVPDFObjectInteger, 0x%1>: %2").arg(quintptr(this), 8, 16, QLatin1Char('0')).arg(m_value);
}
