#include "KVFolivoPreferences.h"

#include "KVDefaults.h"
#include "KVSystemFont.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

class KVFolivoPreferencesTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
};

TEST_F(KVFolivoPreferencesTest, TheEighteenEntriesInTheirOrder)
{
    const QStringList expected{"com.quorvane.FolivoPro", "customHighlightColor", "defaultfont", "checkforupdates", "checkfrequency",
                               "keyboardIncrement", "constrainAngle", "gridlineEvery", "defaultview", "rememberdocs", "lockLargeImages",
                               "ocrOnOpenDocument", "ocrOnTextSelection", "continuousScrolling", "keepToolsSelected", "measurementUnits",
                               "facingPagesStart", "windowHeight"};
    EXPECT_EQ(KVFolivoPreferenceTable(), expected);
}

TEST_F(KVFolivoPreferencesTest, HighlightColourIsFourZerosUnlessAColourArrayIsStored)
{
    KVDefaults defaults(path("d.json"));
    struct Case {
        const char *name;
        QVariant stored;
        QColor expected;
    };
    const QColor none = QColor::fromRgbF(0, 0, 0, 0);
    const Case cases[] = {
        {"absent", QVariant(), none},
        {"a colour array", QVariantList{1.0, 0.5, 0.0, 0.25}, QColor::fromRgbF(1, 0.5, 0, 0.25)},
        {"three numbers", QVariantList{1.0, 0.5, 0.0}, none},
        {"strings", QVariantList{"1", "0", "0", "1"}, none},
        {"a colour string", QStringLiteral("1.00, 0.50, 0.00, 1.00"), none},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.stored.isValid())
            ASSERT_TRUE(defaults.setObject(JXFolivoPrefsCustomHighlightColor, c.stored));
        else
            defaults.removeObject(JXFolivoPrefsCustomHighlightColor);
        const QColor color = KVFolivoCustomHighlightColor(defaults);
        EXPECT_EQ(color.rgba64(), c.expected.rgba64());
    }
}

TEST_F(KVFolivoPreferencesTest, DefaultFontFallsBackToHelvetica12)
{
    KVDefaults defaults(path("d.json"));
    const KVFolivoFont helvetica{QStringLiteral("Helvetica"), 12};
    struct Case {
        const char *name;
        QVariant stored;
        KVFolivoFont expected;
    };
    const Case cases[] = {
        {"absent", QVariant(), helvetica},
        {"a family with blanks", QStringLiteral("Nimbus Sans Bold 10.5"), {QStringLiteral("Nimbus Sans Bold"), 10.5}},
        {"whole size", QStringLiteral("Times 14"), {QStringLiteral("Times"), 14}},
        {"no size", QStringLiteral("Times"), helvetica},
        {"no name", QStringLiteral(" 12"), helvetica},
        {"a comma decimal", QStringLiteral("Times 10,5"), helvetica},
        {"size zero", QStringLiteral("Times 0"), helvetica},
        {"negative size", QStringLiteral("Times -3"), helvetica},
        {"absurd size", QStringLiteral("Times 1e9"), helvetica},
        {"platform archive bytes", QByteArray("bplist00\xd4\x01\x02", 11), helvetica},
        {"a number", 12, helvetica},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.stored.isValid())
            ASSERT_TRUE(defaults.setObject(JXFolivoPrefsDefaultFont, c.stored));
        else
            defaults.removeObject(JXFolivoPrefsDefaultFont);
        EXPECT_EQ(KVFolivoDefaultFont(defaults), c.expected);
    }

    EXPECT_EQ(KVFolivoFontString({QStringLiteral("Nimbus Sans Bold"), 10.5}), QStringLiteral("Nimbus Sans Bold 10.5"));
    defaults.removeObject(JXFolivoPrefsDefaultFont);
    const auto face = KVFolivoDefaultFont(defaults).systemFont();
    EXPECT_EQ(face->familyName(), QStringLiteral("Nimbus Sans"));
    EXPECT_EQ(face->size(), 12);
}

TEST_F(KVFolivoPreferencesTest, SetUpFillsOnlyMissingSettings)
{
    const QString shipped = QStringLiteral(":/FolivoPrefsDefaults.json");
    const QString bundle = KVFolivoBundleIdentifier;
    {
        SCOPED_TRACE("an empty store takes every shipped value");
        KVDefaults defaults(path("empty.json"));
        KVFolivoPreferences = QStringLiteral("before");
        KVFolivoPrefsSetupDefaults(defaults, shipped, bundle);
        EXPECT_EQ(KVFolivoPreferences, bundle);
        EXPECT_EQ(defaults.objectForKey(JXFolivoPrefsGridlineEvery), QVariant(18.0));
        EXPECT_EQ(defaults.objectForKey(JXFolivoPrefsGridlineEvery).typeId(), QMetaType::Double);
        EXPECT_EQ(defaults.objectForKey(JXFolivoPrefsOCROnOpenDocument), QVariant(true));
        EXPECT_EQ(KVFolivoDefaultFont(defaults), (KVFolivoFont{QStringLiteral("Helvetica"), 12}));
        EXPECT_EQ(KVDefaults(path("empty.json")).objectForKey(JXFolivoPrefsGridlineEvery), QVariant(18.0)) << "synchronised";
    }
    {
        SCOPED_TRACE("a stored value stays");
        KVDefaults defaults(path("stored.json"));
        defaults.setDouble(JXFolivoPrefsGridlineEvery, 36);
        KVFolivoPrefsSetupDefaults(defaults, shipped, bundle);
        EXPECT_EQ(defaults.doubleForKey(JXFolivoPrefsGridlineEvery), 36);
        EXPECT_TRUE(defaults.contains(JXFolivoPrefsKeyboardIncrement));
    }
    QFile wrongBundle(path("other.json"));
    ASSERT_TRUE(wrongBundle.open(QIODevice::WriteOnly));
    wrongBundle.write("{\"org.example.Other\": {\"gridlineEvery\": 9.0}}");
    wrongBundle.close();
    QFile damaged(path("damaged.json"));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("{\"com.quorvane.FolivoPro\": {\"gridlineEvery\": 9.");
    damaged.close();
    for (const QString &resource : {path("missing.json"), path("other.json"), path("damaged.json")}) {
        SCOPED_TRACE(resource.toStdString());
        KVDefaults defaults(path("untouched.json"));
        KVFolivoPrefsSetupDefaults(defaults, resource, bundle);
        EXPECT_EQ(KVFolivoPreferences, bundle);
        EXPECT_FALSE(defaults.contains(JXFolivoPrefsGridlineEvery));
    }
}

} // namespace
