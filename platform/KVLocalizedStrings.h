#pragma once
// The application's texts by key, from the English strings table shipped as the resource
// ":/Localizable.json" (one JSON object; values are texts, except the list
// "KVOpenRecentOthersPref").
//
// Three lookups, which differ on a missing key:
//   KVLocalizedString      the key itself, so a key missing from the table shows as itself;
//   JXLocalizedString      the empty text, and "skorvel" replaced by the bundle name;
//   perhapsProString       not a lookup: puts the full product name in a message.
//
// Threads: the shared table is read once, on first use, and is immutable afterwards. A missing
// or unreadable resource gives an empty table (every lookup then misses) and a log line.
#include <QString>
#include <QVariant>
#include <QVariantMap>

class KVStringsTable {
public:
    static const KVStringsTable &mainTable();
    explicit KVStringsTable(QVariantMap entries) : m_entries(std::move(entries)) {}

    // Invalid when missing.
    QVariant entry(const QString &key) const { return m_entries.value(key); }
    // Text entries only: a list answers as missing.
    QString text(const QString &key, const QString &missing) const;

private:
    QVariantMap m_entries;
};

// The bundle name the application's texts carry ("FolivoPro").
inline const QString KVBundleName = QStringLiteral("FolivoPro");

// The comment is for translators and is not used.
QString KVLocalizedString(const QString &key, const QString &comment = {});
QString JXLocalizedString(const QString &key, const QString &comment = {});
// The same lookup in a given table under a given bundle name: every "skorvel" (case-sensitive)
// becomes the bundle name, unless the bundle name itself begins with "skorvel".
QString JXLocalizedString(const KVStringsTable &table, const QString &key, const QString &bundleName);

// Every "Folivo" of the text becomes "FolivoPro"; an occurrence that already reads "FolivoPro"
// is left alone, so a message never says "FolivoProPro".
QString perhapsProString(const QString &text);
