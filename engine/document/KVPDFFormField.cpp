#include "KVPDFFormField.h"

#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"

std::shared_ptr<KVPDFObjectDictionary> KVPDFFormField::fieldDictionaryFor(const std::shared_ptr<KVPDFObjectDictionary> &widget)
{
    if (!widget)
        return nullptr;
    try {
        auto parent = kv_cast<KVPDFObjectDictionary>(widget->resolvedObjectForKey("Parent"));
        if (parent && parent != widget && parent->resolvedObjectForKey("FT"))
            return parent;
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Parent field unreadable: %1").arg(QString::fromStdString(failure.reason())));
    }
    return widget;
}
