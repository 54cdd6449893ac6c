// Text runs as records: boxes of page-string ranges, the two orders, and the bytes a run's
// clearing blanks.
#include "KVPDFObjectStream.h"
#include "KVPDFTextBlob.h"

#include <QByteArray>

#include <gtest/gtest.h>

#include <memory>

namespace {

KVPDFTextBlob blobAt(double x, double y, uint64_t dataLocation = 0, std::shared_ptr<KVPDFObjectStream> stream = nullptr)
{
    return KVPDFTextBlob(QPointF(x, y), 9, -3, KVPDFGraphicsState(), std::move(stream), {dataLocation, 3}, QStringLiteral("abc"));
}

TEST(KVPDFTextBlobTest, KeepsTheStateOfItsShow)
{
    KVPDFGraphicsState state;
    state.Tfont = "F1";
    state.TfontSize = 12;
    const KVPDFTextBlob blob(QPointF(1, 2), 9, -3, state, nullptr, {4, 5}, QStringLiteral("x"));
    state.Tfont = "F2";
    EXPECT_EQ(blob.gstate().Tfont, "F1");
    EXPECT_EQ(blob.TfontSize, 12.0f);
    EXPECT_EQ(blob.height(), 12.0f);
    EXPECT_EQ(blob.width, 0.0f);
    EXPECT_TRUE(blob.widths.empty());
}

TEST(KVPDFTextBlobTest, RectForRangeInPageString)
{
    KVPDFTextBlob blob = blobAt(100, 700);
    blob.rangeInPageString = {10, 3};
    blob.widths = {5, 6, 7};
    struct Row {
        const char *name;
        KVPDFRange asked;
        QRectF rect;
    };
    const Row rows[] = {
        {"TailOfTheRun", {11, 5}, QRectF(105, 697, 13, 12)}, {"WholeRun", {0, 100}, QRectF(100, 697, 18, 12)},
        {"OneCharacter", {12, 1}, QRectF(111, 697, 7, 12)},  {"BeforeTheRun", {0, 5}, QRectF(100, 697, 0, 12)},
        {"AfterTheRun", {20, 5}, QRectF(118, 697, 0, 12)},   {"Empty", {11, 0}, QRectF(105, 697, 0, 12)},
    };
    for (const Row &row : rows)
        EXPECT_EQ(blob.rectForRangeInPageString(row.asked), row.rect) << row.name;

    // Not measured yet: no widths are read.
    KVPDFTextBlob unmeasured = blobAt(100, 700);
    unmeasured.rangeInPageString = {10, 3};
    EXPECT_EQ(unmeasured.rectForRangeInPageString({10, 3}), QRectF(100, 697, 0, 12));
}

TEST(KVPDFTextBlobTest, CompareIsReadingOrder)
{
    struct Row {
        const char *name;
        KVPDFTextBlob a, b;
        int order;
    };
    const Row rows[] = {
        {"HigherFirst", blobAt(300, 700), blobAt(72, 690), -1},
        {"LowerLast", blobAt(72, 690), blobAt(300, 700), 1},
        {"LeftFirstOnOneLine", blobAt(72, 700), blobAt(300, 700), -1},
        {"EarlierDataFirstAtOnePlace", blobAt(72, 700, 4), blobAt(72, 700, 9), -1},
        {"Same", blobAt(72, 700, 4), blobAt(72, 700, 4), 0},
    };
    for (const Row &row : rows)
        EXPECT_EQ(row.a.compare(row.b), row.order) << row.name;
}

TEST(KVPDFTextBlobTest, OrderBlobsIsContentOrderAndNeverEqual)
{
    auto first = KVPDFObjectStream::streamWithData("(a) Tj");
    auto second = KVPDFObjectStream::streamWithData("(b) Tj");
    EXPECT_EQ(blobAt(0, 0, 2, first).orderBlobs(blobAt(0, 0, 8, first)), -1);
    EXPECT_EQ(blobAt(0, 0, 8, first).orderBlobs(blobAt(0, 0, 2, first)), 1);
    EXPECT_EQ(blobAt(0, 0, 2, first).orderBlobs(blobAt(0, 0, 2, first)), 1);
    const int across = blobAt(0, 0, 2, first).orderBlobs(blobAt(0, 0, 2, second));
    EXPECT_EQ(blobAt(0, 0, 2, second).orderBlobs(blobAt(0, 0, 2, first)), -across);
}

TEST(KVPDFTextBlobTest, ContentForClearingReachesThroughTheShowOperator)
{
    struct Row {
        const char *name;
        QByteArray content;
        KVPDFRange operand;
        QString text;
        std::optional<KVPDFRange> cleared;
        // A quote operator moves to the next line as well: it stays, with nothing to show.
        std::optional<QByteArray> replacement = std::nullopt;
    };
    const Row rows[] = {
        {"Tj", "BT (Hello) Tj ET", {3, 7}, QStringLiteral("Hello"), KVPDFRange{3, 10}},
        {"TJ", "BT [(A) -20 (B)] TJ ET", {3, 13}, QStringLiteral("AB"), KVPDFRange{3, 16}},
        {"Quote", "BT (x) ' ET", {3, 3}, QStringLiteral("x"), KVPDFRange{3, 5}, QByteArray("() '")},
        {"DoubleQuoteKeepsItsNumbersBeforeTheRange", "BT 1 2 (x) \" ET", {7, 3}, QStringLiteral("x"), KVPDFRange{7, 5},
         QByteArray("() \"")},
        {"NoOperatorAfter", "BT (x)", {3, 3}, QStringLiteral("x"), KVPDFRange{3, 3}},
        {"LoneLineFeed", "BT (\\n) Tj ET", {3, 4}, QStringLiteral("\n"), std::nullopt},
        {"NoText", "BT () Tj ET", {3, 2}, QString(), std::nullopt},
    };
    for (const Row &row : rows) {
        auto stream = KVPDFObjectStream::streamWithData(row.content);
        const KVPDFTextBlob blob(QPointF(), 9, -3, KVPDFGraphicsState(), stream, row.operand, row.text);
        const std::optional<KVPDFTextBlob::Clearing> clearing = blob.contentForClearing();
        ASSERT_EQ(clearing.has_value(), row.cleared.has_value()) << row.name;
        if (clearing) {
            EXPECT_EQ(clearing->range, *row.cleared) << row.name;
            EXPECT_EQ(clearing->contentObject, stream) << row.name;
            EXPECT_EQ(clearing->replacement, row.replacement) << row.name;
        }
    }
}

TEST(KVPDFTextBlobTest, DescriptionKeepsPercentSignsOfTheText)
{
    const KVPDFTextBlob blob(QPointF(1, 2), 9, -3, KVPDFGraphicsState(), nullptr, {4, 5}, QStringLiteral("50%1 off"));
    EXPECT_TRUE(blob.description().contains(QStringLiteral("'50%1 off' (1.0, 2.0) 0.0 {0, 0}")))
        << blob.description().toStdString();
}

} // namespace
