// The PNG and TIFF predictors.
#include "KVPDFFilters.h"

#include "KVPDFLog.h"
#include "support/FilterTestData.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <utility>
#include <vector>

using namespace filtertest;

namespace {

TEST(KVPDFFiltersTest, PNGPredictorUndoesEveryRowType)
{
    struct Image {
        const char *name;
        int colors, bpc, columns;
        qsizetype bpp, rowBytes;
    };
    const std::vector<Image> images = {
        {"RGB 8 bits", 3, 8, 4, 3, 12}, {"two components of 16 bits", 2, 16, 3, 4, 12}, {"gray 4 bits", 1, 4, 5, 1, 3},
        {"RGB 2 bits", 3, 2, 3, 1, 3},  {"CMYK 8 bits, one column", 4, 8, 1, 4, 4},
    };
    const std::vector<std::pair<const char *, std::vector<int>>> typeLists = {
        {"None", {0}}, {"Sub", {1}}, {"Up", {2}}, {"Average", {3}}, {"Paeth", {4}}, {"mixed", {4, 3, 0, 2, 1, 4}},
    };
    Random r(10);
    for (const Image &image : images) {
        for (const auto &[typeName, types] : typeLists) {
            for (qsizetype shortBy : {qsizetype(0), image.rowBytes / 2}) {
                SCOPED_TRACE(std::string(image.name) + ", " + typeName + ", last row short by " + std::to_string(shortBy));
                const QByteArray raw = r.bytes(image.rowBytes * 6 - shortBy);
                for (int predictor : {10, 11, 12, 13, 14, 15}) {
                    const KVPDFPredictorParams p{predictor, image.colors, image.bpc, image.columns};
                    const KVPDFFilterResult r = KVPDFApplyPredictor(encodePNG(raw, image.rowBytes, image.bpp, types), p);
                    EXPECT_EQ(r.data.toHex(), raw.toHex());
                    EXPECT_TRUE(r.complete);
                }
            }
        }
    }
}

TEST(KVPDFFiltersTest, PNGUpRowsOfCrossReferenceStream)
{
    const QByteArray input = bytesOf({2, 1, 0, 0x10, 0, 0, 2, 0, 0, 0x05, 0, 1, 2, 0, 0, 0x20, 0, 0});
    const QByteArray expected = bytesOf({1, 0, 0x10, 0, 0, 1, 0, 0x15, 0, 1, 1, 0, 0x35, 0, 1});
    const KVPDFFilterResult r = KVPDFApplyPredictor(input, {12, 1, 8, 5});
    EXPECT_EQ(r.data, expected);
    EXPECT_TRUE(r.complete);
}

TEST(KVPDFFiltersTest, PNGPredictorEdgeCases)
{
    struct Case {
        const char *name;
        QByteArray input;
        KVPDFPredictorParams params;
        QByteArray expected;
        bool ok;
        const char *logged;
    };
    const std::vector<Case> cases = {
        {"unknown row type copied as None",
         bytesOf({7, 5, 6, 2, 1, 1}),
         {12, 1, 8, 2},
         bytesOf({5, 6, 6, 7}),
         false,
         "Unsupported PNG filter type: 7"},
        // Paeth ties, left to right: left before above before upper left.
        {"Paeth tie of above and upper left picks above",
         bytesOf({0, 10, 4, 4, 3, 96}),
         {12, 1, 8, 2},
         bytesOf({10, 4, 13, 100}),
         true,
         nullptr},
        {"Paeth tie of left and upper left picks left",
         bytesOf({0, 10, 14, 4, 248, 48}),
         {12, 1, 8, 2},
         bytesOf({10, 14, 2, 50}),
         true,
         nullptr},
        {"final row of only its type byte", bytesOf({0, 1, 2, 2}), {12, 1, 8, 2}, bytesOf({1, 2}), true, nullptr},
        {"empty data", QByteArray(), {12, 1, 8, 2}, QByteArray(), true, nullptr},
        {"predictor 1 leaves data", "abc", {1, 1, 8, 2}, "abc", true, nullptr},
        {"unknown predictor leaves data", "abc", {5, 1, 8, 2}, "abc", false, "Unsupported predictor function: 5"},
        {"zero columns leave data", "abc", {12, 1, 8, 0}, "abc", false, "Invalid predictor parameters"},
        {"bits per component 3 leave data", "abc", {12, 1, 3, 2}, "abc", false, "Invalid predictor parameters"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFLogCapture log;
        const KVPDFFilterResult r = KVPDFApplyPredictor(c.input, c.params);
        EXPECT_EQ(r.data, c.expected);
        EXPECT_EQ(r.complete, c.ok);
        if (c.logged) {
            EXPECT_TRUE(log.contains(QString::fromLatin1(c.logged))) << log.messages.join(QLatin1Char('\n')).toStdString();
        }
    }
}

TEST(KVPDFFiltersTest, TIFFPredictorUndoesHorizontalDifferencing)
{
    struct Case {
        const char *name;
        int colors, bpc, columns;
        qsizetype rowBytes, size;
    };
    const std::vector<Case> cases = {
        {"RGB 8 bits", 3, 8, 4, 12, 12 * 5},
        {"gray 8 bits with a short last row", 1, 8, 7, 7, 7 * 3 + 4},
        {"two components of 16 bits", 2, 16, 3, 12, 12 * 4},
        {"16 bits with a short last row ending on half a sample", 1, 16, 4, 8, 8 * 2 + 5},
    };
    Random r(2);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray raw = r.bytes(c.size);
        const KVPDFFilterResult r =
            KVPDFApplyPredictor(encodeTIFF(raw, c.colors, c.bpc, c.rowBytes), {2, c.colors, c.bpc, c.columns});
        EXPECT_EQ(r.data.toHex(), raw.toHex());
        EXPECT_TRUE(r.complete);
    }
}

TEST(KVPDFFiltersTest, TIFFPredictorBelowEightBitsLeavesData)
{
    KVPDFLogCapture log;
    const KVPDFFilterResult r = KVPDFApplyPredictor("abcdef", {2, 1, 4, 4});
    EXPECT_EQ(r.data, QByteArray("abcdef"));
    EXPECT_FALSE(r.complete);
    EXPECT_TRUE(log.contains(QStringLiteral("Unsupported predictor function")));
}

} // namespace
