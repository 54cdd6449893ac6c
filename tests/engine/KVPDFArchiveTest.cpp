#include "KVPDFArchive.h"

#include <gtest/gtest.h>

#include <QCborArray>
#include <QCborMap>
#include <QCborValue>
#include <QColor>

namespace {

TEST(KVPDFArchiveTest, EachValueKeepsItsType)
{
    const QColor halfRed = QColor::fromRgbF(1, 0, 0, 0.5);
    const QVariantMap properties{
        {"true", true},
        {"one", 1},
        {"oneReal", 1.0},
        {"oneText", QStringLiteral("1")},
        {"data", QByteArray("\x00\x01", 2)},
        {"list", QVariantList{false, 0, 0.0, QColor(Qt::blue)}},
        {"dictionary", QVariantMap{{"color", halfRed}, {"nested", QVariantMap{{"n", 2}}}}},
        {"color", halfRed},
    };
    const std::optional<QVariantMap> back = KVPDFArchive::unarchive(KVPDFArchive::archive(properties));
    ASSERT_TRUE(back);
    struct Case {
        const char *key;
        QMetaType::Type type;
    };
    const Case cases[] = {
        {"true", QMetaType::Bool},         {"one", QMetaType::LongLong},       {"oneReal", QMetaType::Double},
        {"oneText", QMetaType::QString},   {"data", QMetaType::QByteArray},    {"list", QMetaType::QVariantList},
        {"dictionary", QMetaType::QVariantMap}, {"color", QMetaType::QColor},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.key);
        const QVariant value = back->value(QString::fromLatin1(c.key));
        EXPECT_EQ(value.typeId(), c.type) << value.typeName();
        EXPECT_EQ(value, properties.value(QString::fromLatin1(c.key)));
    }
    EXPECT_EQ(back->value("color").value<QColor>().rgba64(), halfRed.rgba64());
    const QVariantList list = back->value("list").toList();
    ASSERT_EQ(list.size(), 4);
    EXPECT_EQ(list[0].typeId(), QMetaType::Bool);
    EXPECT_EQ(list[1].typeId(), QMetaType::LongLong);
    EXPECT_EQ(list[2].typeId(), QMetaType::Double);
    EXPECT_EQ(list[3].value<QColor>(), QColor(Qt::blue));
    EXPECT_EQ(back->value("dictionary").toMap().value("color").value<QColor>().rgba64(), halfRed.rgba64());
}

TEST(KVPDFArchiveTest, ArchivesWrittenBeforeColoursWereTaggedStillRead)
{
    // Exactly how archives were written before: a colour became its "#aarrggbb" text.
    const QVariantMap old{
        {"color", QColor::fromRgbF(1, 0, 0, 0.5)}, {"visible", true}, {"count", 3}, {"ratio", 0.5}, {"points", QVariantList{1, 2.5}},
    };
    const QByteArray before = QCborValue::fromVariant(old).toCbor();
    const std::optional<QVariantMap> back = KVPDFArchive::unarchive(before);
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, QCborValue::fromCbor(before).toMap().toVariantMap());
    EXPECT_EQ(back->value("color"), QVariant(QStringLiteral("#80ff0000")));
}

TEST(KVPDFArchiveTest, AColourTagOverAnythingButFourNumbersReadsAsItsContent)
{
    struct Case {
        const char *name;
        QCborValue content;
        QVariant expected;
    };
    const Case cases[] = {
        {"three numbers", QCborArray{1.0, 0.0, 0.0}, QVariantList{1.0, 0.0, 0.0}},
        {"a string among them", QCborArray{1.0, "x", 0.0, 1.0}, QVariantList{1.0, "x", 0.0, 1.0}},
        {"a text", QStringLiteral("#ff0000"), QStringLiteral("#ff0000")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QCborMap map;
        map.insert(QStringLiteral("c"), QCborValue(QCborTag(KVPDFArchive::kColorTag), c.content));
        const std::optional<QVariantMap> back = KVPDFArchive::unarchive(QCborValue(map).toCbor());
        ASSERT_TRUE(back);
        EXPECT_EQ(back->value("c"), c.expected);
    }
}

} // namespace
