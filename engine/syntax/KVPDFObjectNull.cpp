#include "KVPDFObjectNull.h"

#include "KVPDFExceptions.h"
#include "KVPDFParser.h"

KVPDFObjectNull::KVPDFObjectNull()
{
    m_type = TypeNull;
    m_rawLength = 4;
}

std::shared_ptr<KVPDFObjectNull> KVPDFObjectNull::nullObject() { return std::make_shared<KVPDFObjectNull>(); }

std::shared_ptr<KVPDFObjectNull> KVPDFObjectNull::nullAtOffset(uint64_t offset, const QByteArray &data,
                                                               KVPDFObjectContext *context)
{
    if (!kvHasKeyword(data, offset, "null"))
        throw FolivoParseFailure("Null object does not start with 'null'.");
    auto object = nullObject();
    object->m_context = context;
    return object;
}

KVPDFObjectPtr KVPDFObjectNull::resolvedObjectForKey(QByteArrayView) { return shared_from_this(); }

KVPDFObjectPtr KVPDFObjectNull::copy()
{
    auto object = nullObject();
    copyBaseInto(*object);
    return object;
}
