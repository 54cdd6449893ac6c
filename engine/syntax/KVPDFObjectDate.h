#pragma once
// A PDF date: a literal string "D:YYYYMMDDHHmmSSOHH'mm'".
#include "KVPDFObjectString.h"

#include <QDateTime>

#include <optional>

class KVPDFObjectDate : public KVPDFObjectString {
public:
    KVPDFObjectDate() = default;

    // The date in the local time zone with its offset ("Z00'00'" in UTC).
    static std::shared_ptr<KVPDFObjectDate> dateWithDate(const QDateTime &date);
    // The instant a date string names; nullopt when it holds no year.
    static std::optional<QDateTime> dateFromPDFString(KVPDFObjectString &string);
    std::optional<QDateTime> dateValue() { return dateFromPDFString(*this); }

    KVPDFObjectPtr copy() override;
};
