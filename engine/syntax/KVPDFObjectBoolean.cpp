#include "KVPDFObjectBoolean.h"

#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFParser.h"

KVPDFObjectBoolean::KVPDFObjectBoolean(bool value) : m_value(value)
{
    m_type = TypeBoolean;
    m_rawLength = value ? 4 : 5;
}

std::shared_ptr<KVPDFObjectBoolean> KVPDFObjectBoolean::boolWithBool(bool value)
{
    return std::make_shared<KVPDFObjectBoolean>(value);
}

std::shared_ptr<KVPDFObjectBoolean> KVPDFObjectBoolean::boolAtOffset(uint64_t offset, const QByteArray &data,
                                                                     KVPDFObjectContext *context)
{
    auto object = std::make_shared<KVPDFObjectBoolean>(false);
    object->m_context = context;
    const char first = offset < uint64_t(data.size()) ? data[qsizetype(offset)] : 0;
    if (first == 'f') {
        if (!kvHasKeyword(data, offset, "false"))
            throw FolivoParseFailure("Folivo encountered a boolean starting with 'f' but not equal to 'false'.");
        object->m_rawLength = 5;
    } else if (first == 't') {
        if (!kvHasKeyword(data, offset, "true"))
            throw FolivoParseFailure("Folivo encountered a boolean starting with 't' but not equal to 'true'.");
        object->m_value = true;
        object->m_rawLength = 4;
    } else {
        kvLog(QStringLiteral("Boolean value other than true or false found"));
        object->m_rawLength = 0;
    }
    return object;
}

QByteArray KVPDFObjectBoolean::syntax(KVPDFEncryption)
{
    return m_value ? QByteArrayLiteral("true") : QByteArrayLiteral("false");
}

KVPDFObjectPtr KVPDFObjectBoolean::copy()
{
    auto object = std::make_shared<KVPDFObjectBoolean>(m_value);
    copyBaseInto(*object);
    return object;
}

QString KVPDFObjectBoolean::description()
{
    return QStringLiteral("<KVPDFObjectBoolean>: %1").arg(m_value ? QStringLiteral("true") : QStringLiteral("false"));
}
