#include "KVLocalizedStrings.h"

#include "JXNSStringExtensions.h"
#include "KVLog.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

const KVStringsTable &KVStringsTable::mainTable()
{
    static const KVStringsTable table = [] {
        QFile file(QStringLiteral(":/Localizable.json"));
        QJsonParseError error{};
        const QJsonDocument document = file.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(file.readAll(), &error) : QJsonDocument();
        if (!document.isObject()) {
            kvLog(QStringLiteral("The strings table is missing or unreadable; texts show as their keys"));
            return KVStringsTable({});
        }
        return KVStringsTable(document.object().toVariantMap());
    }();
    return table;
}

QString KVStringsTable::text(const QString &key, const QString &missing) const
{
    const QVariant value = m_entries.value(key);
    return value.typeId() == QMetaType::QString ? value.toString() : missing;
}

QString KVLocalizedString(const QString &key, const QString &) { return KVStringsTable::mainTable().text(key, key); }

QString JXLocalizedString(const QString &key, const QString &) { return JXLocalizedString(KVStringsTable::mainTable(), key, KVBundleName); }

QString JXLocalizedString(const KVStringsTable &table, const QString &key, const QString &bundleName)
{
    static const QString word = QStringLiteral("skorvel");
    const QString text = table.text(key, QString());
    if (bundleName.startsWith(word))
        return text;
    return JXNSStringExtensions::stringByReplacing(text, word, bundleName);
}

QString perhapsProString(const QString &text)
{
    static const QString word = QStringLiteral("Folivo");
    static const QString full = QStringLiteral("FolivoPro");
    QString result;
    qsizetype from = 0;
    for (qsizetype found = text.indexOf(word); found >= 0; found = text.indexOf(word, from)) {
        result += QStringView(text).mid(from, found - from);
        result += full;
        from = found + word.size();
        if (QStringView(text).mid(found).startsWith(full))
            from = found + full.size();
    }
    result += QStringView(text).mid(from);
    return result;
}
