#pragma once
// One value of every kind the settings file keeps, shared by the test and the second process
// that reads them back.
#include <QDateTime>
#include <QVariant>

#include <utility>
#include <vector>

inline std::vector<std::pair<QString, QVariant>> kvDefaultsPeerValues()
{
    return {
        {"bool", true},
        {"integer", qlonglong(36)},
        {"negative", qlonglong(-7)},
        {"largeInteger", qlonglong(1) << 60},
        {"real", 0.5},
        {"integralReal", 36.0},
        {"string", QStringLiteral("a \"quoted\" text\nwith a line, a tab\t, and ü€😀")},
        {"flag", QStringLiteral("TRUE")},
        {"numericString", QStringLiteral("1")},
        {"data", QByteArray("\x00\xff{}\"", 5)},
        {"date", QDateTime(QDate(2024, 2, 29), QTime(12, 30, 1, 250), Qt::UTC)},
        {"array", QVariantList{1.0, 0.5, qlonglong(0), QStringLiteral("x"), false}},
        {"dictionary", QVariantMap{{"name", QStringLiteral("Other")}, {"suite", QStringLiteral("org.example")}, {"nested", QVariantList{QVariantMap{}}}}},
        {"key with blanks/and a slash", QStringLiteral("kept")},
    };
}
