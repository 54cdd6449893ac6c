#pragma once
// Small string utilities that the readers of string-valued settings rely on. Pure functions;
// thread-safe; nothing throws.
#include <QString>
#include <QVariant>

namespace JXNSStringExtensions {

// Equal without regard to case (full Unicode case folding).
bool isEqualToStringIgnoreCase(const QString &string, const QString &other);

// True when the string holds a line feed or a carriage return anywhere.
bool containsCR(const QString &string);

// Every occurrence of `target` replaced by `replacement`, literal and case-sensitive, scanning
// left to right and going on after each inserted text, which is never searched again (so "a" by
// "aa" in "aXa" gives "aaXaa"). An empty target matches nothing: the string comes back as it is.
QString stringByReplacing(const QString &string, const QString &target, const QString &replacement);

// The string truth of stored settings: true exactly when the string in lower case is "yes" or
// "true"; every other string, "1" and "on" included, is false. Not what KVDefaults::boolForKey
// answers for a stored string.
bool boolValue(const QString &string);

// False whatever it is given.
bool alwaysSame(const QString &string, const QVariant &other);

} // namespace JXNSStringExtensions
