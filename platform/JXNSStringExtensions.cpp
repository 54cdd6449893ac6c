#include "JXNSStringExtensions.h"

namespace JXNSStringExtensions {

bool isEqualToStringIgnoreCase(const QString &string, const QString &other)
{
    return string.compare(other, Qt::CaseInsensitive) == 0;
}

bool containsCR(const QString &string)
{
    for (qsizetype i = string.size(); i-- > 0;) {
        const char16_t c = string.at(i).unicode();
        if (c == u'\n' || c == u'\r')
            return true;
    }
    return false;
}

QString stringByReplacing(const QString &string, const QString &target, const QString &replacement)
{
    if (target.isEmpty())
        return string;
    qsizetype found = string.indexOf(target, 0, Qt::CaseSensitive);
    if (found < 0)
        return string;
    QString result;
    result.reserve(string.size());
    qsizetype from = 0;
    while (found >= 0) {
        result += QStringView(string).mid(from, found - from);
        result += replacement;
        from = found + target.size();
        found = string.indexOf(target, from, Qt::CaseSensitive);
    }
    result += QStringView(string).mid(from);
    return result;
}

bool boolValue(const QString &string)
{
    const QString lower = string.toLower();
    return lower == QLatin1String("yes") || lower == QLatin1String("true");
}

bool alwaysSame(const QString &, const QVariant &) { return false; }

} // namespace JXNSStringExtensions
