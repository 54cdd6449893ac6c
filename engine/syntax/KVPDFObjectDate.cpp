#include "KVPDFObjectDate.h"

#include "KVDates.h"

std::shared_ptr<KVPDFObjectDate> KVPDFObjectDate::dateWithDate(const QDateTime &date)
{
    auto object = std::make_shared<KVPDFObjectDate>();
    object->setString(kvPDFDateString(date));
    return object;
}

std::optional<QDateTime> KVPDFObjectDate::dateFromPDFString(KVPDFObjectString &string)
{
    return kvPDFDateParse(string.stringValue());
}

KVPDFObjectPtr KVPDFObjectDate::copy()
{
    auto object = std::make_shared<KVPDFObjectDate>();
    copyStringInto(*object);
    return object;
}
