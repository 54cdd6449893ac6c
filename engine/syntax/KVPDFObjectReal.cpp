#include "KVPDFObjectReal.h"

#include "KVPDFParser.h"

#include <charconv>
#include <cmath>

KVPDFObjectReal::KVPDFObjectReal(float value) : m_value(value) { m_type = TypeReal; }

std::shared_ptr<KVPDFObjectReal> KVPDFObjectReal::realWithFloat(float value) { return std::make_shared<KVPDFObjectReal>(value); }

std::shared_ptr<KVPDFObjectReal> KVPDFObjectReal::realWithPtr(const char *text, const char *end, KVPDFObjectContext *context)
{
    const char *stop = text;
    auto object = std::make_shared<KVPDFObjectReal>(KVPDFObjectStrToFloat(text, end, &stop));
    object->m_context = context;
    object->m_rawLength = uint64_t(stop - text);
    return object;
}

int64_t KVPDFObjectReal::longLongValue() const
{
    if (!std::isfinite(m_value))
        return 0;
    if (m_value >= 9.2e18f || m_value <= -9.2e18f)
        return m_value > 0 ? INT64_MAX : INT64_MIN;
    return int64_t(m_value);
}

QByteArray KVPDFObjectReal::syntax(KVPDFEncryption)
{
    char buffer[64];
    if (!std::isfinite(m_value))
        return QByteArrayLiteral("0");
    const double value = m_value;
    std::to_chars_result r;
    if (std::fabs(value) < 9.2e18 && value == double(int64_t(value)))
        r = std::to_chars(buffer, buffer + sizeof buffer, int64_t(value));
    else if (std::fabs(value) >= 9.2e18)
        r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0);
    else
        r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    return QByteArray(buffer, r.ptr - buffer);
}

uint64_t KVPDFObjectReal::rawLength() const
{
    if (m_rawLength)
        return m_rawLength;
    return uint64_t(const_cast<KVPDFObjectReal *>(this)->directObject().size());
}

KVPDFObjectPtr KVPDFObjectReal::copy()
{
    auto object = std::make_shared<KVPDFObjectReal>(m_value);
    copyBaseInto(*object);
    return object;
}

QString KVPDFObjectReal::description()
{
    return QStringLiteral("<KVPDFObjectReal, 0x%1>: %2")
        .arg(quintptr(this), 8, 16, QLatin1Char('0'))
        .arg(QString::fromLatin1(directObject()));
}
