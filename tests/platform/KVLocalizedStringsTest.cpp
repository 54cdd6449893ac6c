#include "KVLocalizedStrings.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

TEST(KVLocalizedStringsTest, TheShippedTableHoldsTheLanguageAndTheRecentDocumentsList)
{
    const KVStringsTable &table = KVStringsTable::mainTable();
    EXPECT_EQ(table.text(QStringLiteral("ISOLangCode"), {}), QStringLiteral("en"));
    EXPECT_EQ(table.entry(QStringLiteral("KVOpenRecentOthersPref")).typeId(), QMetaType::QVariantList);
    EXPECT_EQ(KVLocalizedString(QStringLiteral("FolivoMenuMove")), QStringLiteral("Move"));

    // The compiled-in table is the file in resources/.
    QFile shipped(QStringLiteral(FOLIVO_TEST_DATA "/../../resources/Localizable.json"));
    ASSERT_TRUE(shipped.open(QIODevice::ReadOnly));
    const QJsonObject source = QJsonDocument::fromJson(shipped.readAll()).object();
    ASSERT_FALSE(source.isEmpty());
    for (auto it = source.begin(); it != source.end(); ++it)
        EXPECT_EQ(table.entry(it.key()), it.value().toVariant()) << it.key().toStdString();
}

TEST(KVLocalizedStringsTest, MissingKeysAndTheBundleName)
{
    const QString missing = QStringLiteral("NoSuchKey");
    EXPECT_EQ(KVLocalizedString(missing), missing) << "the plain lookup shows the key";
    EXPECT_EQ(JXLocalizedString(missing), QString());
    EXPECT_EQ(KVLocalizedString(QStringLiteral("KVOpenRecentOthersPref")), QStringLiteral("KVOpenRecentOthersPref"))
        << "a list is no text";

    const KVStringsTable table({{"open", "Open with skorvel; Skorvel stays; skorvelskorvel"}});
    struct Case {
        const char *bundleName;
        const char *expected;
    };
    const Case cases[] = {
        {"FolivoPro", "Open with FolivoPro; Skorvel stays; FolivoProFolivoPro"},
        {"skorvel Lite", "Open with skorvel; Skorvel stays; skorvelskorvel"},
        {"Skorvel", "Open with Skorvel; Skorvel stays; SkorvelSkorvel"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bundleName);
        EXPECT_EQ(JXLocalizedString(table, QStringLiteral("open"), QString::fromUtf8(c.bundleName)), QString::fromUtf8(c.expected));
    }
    EXPECT_EQ(JXLocalizedString(QStringLiteral("Open with FolivoPro")), QStringLiteral("Open with FolivoPro"));
}

TEST(KVLocalizedStringsTest, ProductWordBecomesTheFullName)
{
    struct Case {
        const char *text;
        const char *expected;
    };
    const Case cases[] = {
        {"Folivo does not open secure PDFs.", "FolivoPro does not open secure PDFs."},
        {"Folivo and Folivo", "FolivoPro and FolivoPro"},
        {"Open with FolivoPro", "Open with FolivoPro"},
        {"folivo", "folivo"},
        {"", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(perhapsProString(QString::fromUtf8(c.text)), QString::fromUtf8(c.expected));
    }
}

} // namespace
