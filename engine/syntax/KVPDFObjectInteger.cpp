#include "KVPDFObjectInteger.h"

#include "KVNumbers.h"

KVPDFObjectInteger::KVPDFObjectInteger(int64_t value) : m_value(value) { m_type = TypeInteger; }

std::shared_ptr<KVPDFObjectInteger> KVPDFObjectInteger::integerWithLongLong(int64_t value)
{
    return std::make_shared<KVPDFObjectInteger>(value);
}

int64_t KVPDFObjectInteger::parseInteger(const char *text, const char *end, size_t *consumed)
{
    // No digits: nothing is consumed, not even a sign (callers decide how to move on).
    return kvParseSigned(text, end, consumed).value_or(0);
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
