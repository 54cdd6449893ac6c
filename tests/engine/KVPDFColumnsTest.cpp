// Column detection on small drawn bitmaps: the sections, their order, the separator list a
// cut leaves, and rectangles and bitmaps it must not read beyond.
#include "KVPDFColumns.h"

#include <gtest/gtest.h>

#include <climits>
#include <ostream>

static void PrintTo(const QRect &rect, std::ostream *out)
{
    *out << '(' << rect.x() << ", " << rect.y() << ", " << rect.width() << ", " << rect.height() << ')';
}

namespace {
// A white 8-bit gray page with black boxes, given in data rows (row 0 the top).
struct Page {
    int width;
    int height;
    std::vector<QRect> boxes;
    qsizetype spare = 0; // zero bytes after each row: black, were they read

    KVBitmap bitmap() const
    {
        const qsizetype rowBytes = width + spare;
        QByteArray bits(rowBytes * height, char(0));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                bits[y * rowBytes + x] = char(255);
        for (const QRect &box : boxes)
            for (int y = box.top(); y <= box.bottom(); ++y)
                for (int x = box.left(); x <= box.right(); ++x)
                    bits[y * rowBytes + x] = 0;
        return KVBitmap::fromData(bits, width, height, rowBytes, KVBitmap::ColorModel::Gray, false);
    }
};

// Two blocks of text, rows 10 to 109, with a white gutter at columns 91 to 109.
const Page twoColumns{200, 120, {QRect(10, 10, 81, 100), QRect(110, 10, 81, 100)}};
}

TEST(KVPDFColumnsTest, SectionsComeInReadingOrder)
{
    struct Case {
        const char *name;
        Page page;
        std::vector<QRect> sections; // bottom-up
    };
    const Case cases[] = {
        {"one block", {200, 120, {QRect(10, 10, 181, 100)}}, {QRect(9, 0, 182, 110)}},
        // The left section keeps the gutter: a cut at its right edge would lie within 23
        // pixels of the gutter's cut, which already spans it.
        {"two columns", twoColumns, {QRect(9, 0, 99, 110), QRect(109, 0, 82, 110)}},
        {"title above two columns",
         {200, 140, {QRect(10, 5, 181, 11), QRect(10, 25, 81, 100), QRect(110, 25, 81, 100)}},
         // The title is lower than 18 pixels, so its margins stay.
         {QRect(2, 124, 196, 11), QRect(9, 0, 99, 115), QRect(109, 0, 82, 115)}},
        // Columns over a footer: the gutter's white run ends at the footer.
        {"gutter of 18 rows is not cut",
         {200, 40, {QRect(10, 10, 81, 18), QRect(110, 10, 81, 18), QRect(10, 28, 181, 6)}},
         {QRect(9, 0, 182, 30)}},
        {"gutter of 19 rows is cut",
         {200, 40, {QRect(10, 10, 81, 19), QRect(110, 10, 81, 19), QRect(10, 29, 181, 6)}},
         {QRect(9, 11, 99, 19), QRect(109, 11, 82, 19), QRect(9, 0, 182, 11)}},
        {"all white", {200, 120, {}}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const KVBitmap bitmap = c.page.bitmap();
        EXPECT_EQ(KVPDFColumns::sectionsInRect(bitmap, QRect(0, 0, bitmap.width(), bitmap.height())), c.sections);
    }
}

TEST(KVPDFColumnsTest, EachCutLeavesItsStripInTheSeparatorList)
{
    const KVBitmap bitmap = twoColumns.bitmap();
    std::vector<QRect> separators;
    const auto sections = KVPDFColumns::columnsInRect(bitmap, QRect(2, 0, 196, 120), separators);
    EXPECT_EQ(sections, (std::vector<QRect>{QRect(9, 10, 99, 110), QRect(109, 10, 82, 110)}));
    // The left margin, the gutter's right edge and the right margin; the run is rows 10 to
    // 119 (length 110, start 0 in a rectangle from row 10), so y = 121 - 10 - 110 - 0.
    EXPECT_EQ(separators, (std::vector<QRect>{QRect(8, 1, 1, 109), QRect(108, 1, 1, 109), QRect(191, 1, 1, 109)}));
}

TEST(KVPDFColumnsTest, AnEarlierCutNearbyRefusesTheGutter)
{
    const KVBitmap bitmap = twoColumns.bitmap();
    struct Case {
        const char *name;
        QRect separator;
        size_t sections;
    };
    const Case cases[] = {
        {"22 columns left of the gutter's cut", QRect(86, 1, 1, 109), 1},
        {"23 columns left: too far to refuse", QRect(85, 1, 1, 109), 2},
        {"near, but not spanning the gutter's rows", QRect(100, 2, 1, 109), 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // Start inside the margins, so the first cut to try is the gutter's.
        std::vector<QRect> separators{c.separator};
        EXPECT_EQ(KVPDFColumns::columnsInRect(bitmap, QRect(9, 10, 183, 110), separators).size(), c.sections);
    }
}

TEST(KVPDFColumnsTest, SmallRectanglesAreNeverCut)
{
    // Two blocks with a 4-pixel gutter, 26 pixels wide in all.
    const KVBitmap bitmap = Page{60, 60, {QRect(10, 10, 11, 40), QRect(25, 10, 11, 40)}}.bitmap();
    std::vector<QRect> separators;
    EXPECT_EQ(KVPDFColumns::columnsInRect(bitmap, QRect(10, 0, 26, 60), separators), std::vector<QRect>{QRect(10, 0, 26, 60)});
    EXPECT_EQ(KVPDFColumns::columnsInRect(bitmap, QRect(40, 0, 20, 60), separators), std::vector<QRect>{});
    EXPECT_TRUE(separators.empty());
}

TEST(KVPDFColumnsTest, NothingIsReadOutsideTheBitmap)
{
    // Black blocks touching every edge, and rows whose spare bytes are zero: were the spare
    // bytes or the pixels beside the edges read, they would count as black.
    const Page padded{200, 120, {QRect(0, 0, 40, 120), QRect(160, 0, 40, 120)}, 13};
    const Page tight{200, 120, padded.boxes};
    const KVBitmap bitmap = padded.bitmap();
    const QRect whole(0, 0, 200, 120);
    EXPECT_EQ(KVPDFColumns::sectionsInRect(bitmap, whole), KVPDFColumns::sectionsInRect(tight.bitmap(), whole));
    for (const QRect &rect : {QRect(-50, -50, 400, 400), QRect(INT_MIN, INT_MIN, INT_MAX, INT_MAX),
                              QRect(INT_MAX - 5, 0, 5, 10), QRect(0, 0, -20, -20), QRect(190, 110, 100, 100)}) {
        SCOPED_TRACE(testing::PrintToString(rect));
        std::vector<QRect> separators;
        for (const QRect &section : KVPDFColumns::columnsInRect(bitmap, rect, separators))
            EXPECT_TRUE(whole.contains(section)) << testing::PrintToString(section);
        KVPDFColumns::sectionsInRect(bitmap, rect);
    }

    std::vector<QRect> separators;
    const KVBitmap rgb(50, 50, KVBitmap::ColorModel::RGB, false);
    EXPECT_TRUE(KVPDFColumns::columnsInRect(rgb, QRect(0, 0, 50, 50), separators).empty());
    EXPECT_TRUE(KVPDFColumns::sectionsInRect(KVBitmap(), QRect(0, 0, 50, 50)).empty());
}

TEST(KVPDFColumnsTest, ColumnsThirtyOnePixelsApartAreAllCut)
{
    // 400 columns, each 6 pixels of black and 25 of white: each cut lies 31 pixels from the
    // last, beyond the reach of its refusal.
    Page page{400 * 31 + 40, 300, {}};
    for (int i = 0; i < 400; ++i)
        page.boxes.push_back(QRect(20 + i * 31, 10, 6, 280));
    const auto sections = KVPDFColumns::sectionsInRect(page.bitmap(), QRect(0, 0, page.width, page.height));
    EXPECT_EQ(sections.size(), 400u);
}
