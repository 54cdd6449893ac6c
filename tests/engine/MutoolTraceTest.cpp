// The reducer of `mutool trace` that peer tests compare with: glyph positions and image boxes
// come back in PDF user space whatever the page's boxes and rotation, and text mutool paints
// twice comes once.
#include "support/MutoolTrace.h"
#include "support/PdfBuilder.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QByteArray stream(const QByteArray &dictionary, const QByteArray &data)
{
    return "<< " + dictionary + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// One page with Helvetica as /F1, a 2 x 1 grey image as /Im1, a stencil as /Mk1 and a form as
// /Fm1 whose Matrix moves by (10, 20) and which shows "Z" at (5, 5) of its own space.
QString writePage(const QString &folder, const QByteArray &pageKeys, const QByteArray &content)
{
    PdfBuilder pdf = PdfBuilder::withPages(1, pageKeys + " /Contents 4 0 R /Resources << /Font << /F1 5 0 R >>"
                                                        " /XObject << /Im1 6 0 R /Mk1 7 0 R /Fm1 8 0 R >> >>");
    pdf.add(4, stream("", content));
    pdf.add(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    pdf.add(6, stream("/Type /XObject /Subtype /Image /Width 2 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8",
                      QByteArray("\x00\xff", 2)));
    pdf.add(7, stream("/Type /XObject /Subtype /Image /Width 8 /Height 1 /ImageMask true", QByteArray("\x0f", 1)));
    pdf.add(8, stream("/Type /XObject /Subtype /Form /BBox [0 0 100 100] /Matrix [1 0 0 1 10 20]"
                      " /Resources << /Font << /F1 5 0 R >> >>",
                      "BT /F1 10 Tf 5 5 Td (Z) Tj ET"));
    const QString path = folder + QStringLiteral("/page.pdf");
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(pdf.build()) < 0)
        return {};
    return path;
}

struct PlaceCase {
    const char *name;
    QByteArray pageKeys;
    QPointF glyph; // where "A" stands
    QRectF image;  // where /Im1 is drawn
};

const PlaceCase kPlaceCases[] = {
    {"plain page", "/MediaBox [0 0 612 792]", {100, 700}, {50, 60, 200, 100}},
    {"crop box at 36 36", "/MediaBox [0 0 612 792] /CropBox [36 36 576 756]", {100, 700}, {50, 60, 200, 100}},
    {"media box below zero", "/MediaBox [-50 -80 562 712]", {100, 700}, {50, 60, 200, 100}},
    {"crop box beyond the media box", "/MediaBox [0 0 612 792] /CropBox [-20 30 700 760]", {100, 700}, {50, 60, 200, 100}},
    {"turned a quarter", "/MediaBox [0 0 612 792] /CropBox [10 20 600 780] /Rotate 90", {100, 700}, {50, 60, 200, 100}},
    {"turned upside down", "/MediaBox [0 0 612 792] /Rotate 180", {100, 700}, {50, 60, 200, 100}},
    {"turned three quarters", "/MediaBox [0 0 612 792] /CropBox [36 36 576 756] /Rotate -90", {100, 700}, {50, 60, 200, 100}},
};

} // namespace

TEST(MutoolTraceTest, GlyphsAndImagesComeBackInUserSpace)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const PlaceCase &row : kPlaceCases) {
        SCOPED_TRACE(row.name);
        const QString path = writePage(folder.path(), row.pageKeys,
                                       "BT /F1 12 Tf 100 700 Td (A) Tj ET q 200 0 0 100 50 60 cm /Im1 Do Q"
                                       " q 0 -30 40 0 300 400 cm /Mk1 Do Q /Fm1 Do");
        QString error;
        const std::optional<MutoolPage> page = mutoolTracePage(path, 1, {}, &error);
        ASSERT_TRUE(page) << error.toStdString();
        ASSERT_EQ(page->glyphs.size(), 2u);
        EXPECT_EQ(page->glyphs[0].unicode, QStringLiteral("A"));
        EXPECT_NEAR(page->glyphs[0].position.x(), row.glyph.x(), 0.01);
        EXPECT_NEAR(page->glyphs[0].position.y(), row.glyph.y(), 0.01);
        EXPECT_EQ(page->glyphs[0].font, QStringLiteral("Helvetica"));
        EXPECT_NEAR(page->glyphs[0].trm.m11(), 12, 1e-6);
        EXPECT_EQ(page->glyphs[0].element, QStringLiteral("fill_text"));
        // The form's text: its Matrix applies.
        EXPECT_EQ(page->glyphs[1].unicode, QStringLiteral("Z"));
        EXPECT_NEAR(page->glyphs[1].position.x(), 15, 0.01);
        EXPECT_NEAR(page->glyphs[1].position.y(), 25, 0.01);

        ASSERT_EQ(page->images.size(), 2u);
        const QRectF &box = page->images[0].box;
        EXPECT_NEAR(box.x(), row.image.x(), 0.01);
        EXPECT_NEAR(box.y(), row.image.y(), 0.01);
        EXPECT_NEAR(box.width(), row.image.width(), 0.01);
        EXPECT_NEAR(box.height(), row.image.height(), 0.01);
        EXPECT_EQ(page->images[0].pixels, QSize(2, 1));
        EXPECT_FALSE(page->images[0].mask);
        // The stencil, turned by its matrix: the unit square's corners land on (300, 400),
        // (300, 370), (340, 400) and (340, 370).
        EXPECT_TRUE(page->images[1].mask);
        EXPECT_NEAR(page->images[1].box.x(), 300, 0.01);
        EXPECT_NEAR(page->images[1].box.y(), 370, 0.01);
        EXPECT_NEAR(page->images[1].box.width(), 40, 0.01);
        EXPECT_NEAR(page->images[1].box.height(), 30, 0.01);
    }
}

TEST(MutoolTraceTest, TextPaintedTwiceComesOnce)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // Fill and stroke (2), fill and clip (4), everything (6), invisible (3), clip only (7);
    // two shows in one mode, then the same text shown twice in plain fill (fake bold), which
    // is content and stays.
    const QString path = writePage(folder.path(), "/MediaBox [0 0 612 792]",
                                   "BT /F1 12 Tf 100 700 Td 2 Tr (Ab) Tj ET BT /F1 12 Tf 4 Tr (Cd) Tj ET"
                                   " BT /F1 12 Tf 6 Tr (Ef) Tj (Gh) Tj ET BT /F1 12 Tf 3 Tr (Ij) Tj ET"
                                   " BT /F1 12 Tf 7 Tr (Kl) Tj ET BT /F1 12 Tf 0 Tr (Mn) Tj 0 0 Td (Mn) Tj ET");
    QString error;
    const std::optional<MutoolPage> page = mutoolTracePage(path, 1, {}, &error);
    ASSERT_TRUE(page) << error.toStdString();
    QString text;
    for (const MutoolGlyph &glyph : page->glyphs)
        text += glyph.unicode;
    EXPECT_EQ(text, QStringLiteral("AbCdEfGhIjKlMnMn"));
}

TEST(MutoolTraceTest, ControlCodesAndOddInputRead)
{
    MutoolPage page;
    page.mediaBox = QRectF(0, 0, 612, 792);
    page.pageTransform = mutoolPageTransform(page.mediaBox, std::nullopt, 0);
    const QByteArray trace = "<document filename=\"x.pdf\">\n<page number=\"1\" mediabox=\"0 0 612 792\">\n"
                             "<fill_text colorspace=\"DeviceGray\" color=\"0\" transform=\"1 0 0 -1 0 792\">\n"
                             "<span font=\"F&amp;1\" wmode=\"1\" bidi=\"0\" trm=\"10 0 2 10\">\n"
                             "<g unicode=\"&#x18;\" glyph=\"cid24\" x=\"1\" y=\"2\" adv=\"1\"/>\n"
                             "<g unicode=\"&lt;\" glyph=\"less\" x=\"3\" y=\"2\" adv=\"1\"/>\n"
                             "</span>\n</fill_text>\n</page>\n</document>\n";
    QString error;
    ASSERT_TRUE(parseMutoolTrace(trace, page, &error)) << error.toStdString();
    ASSERT_EQ(page.glyphs.size(), 2u);
    EXPECT_EQ(page.glyphs[0].unicode, QString(QChar(0x18)));
    EXPECT_EQ(page.glyphs[1].unicode, QStringLiteral("<"));
    EXPECT_EQ(page.glyphs[0].font, QStringLiteral("F&1"));
    EXPECT_TRUE(page.glyphs[0].vertical);
    EXPECT_EQ(page.glyphs[0].trm, QTransform(10, 0, 2, 10, 0, 0));
    EXPECT_EQ(page.glyphs[0].position, QPointF(1, 2));

    struct Refused {
        const char *name;
        QByteArray trace;
    };
    const Refused refused[] = {
        {"a page of another size", "<document><page number=\"1\" mediabox=\"0 0 595 842\"></page></document>"},
        {"no page", "<document></document>"},
        {"cut short", "<document><page number=\"1\" mediabox=\"0 0 612 792\"><fill_text transform=\"1 0 0 -1 0 792\">"},
        {"text without a transform", "<document><page number=\"1\" mediabox=\"0 0 612 792\"><fill_text></fill_text></page></document>"},
    };
    for (const Refused &row : refused) {
        SCOPED_TRACE(row.name);
        MutoolPage other;
        other.mediaBox = page.mediaBox;
        other.pageTransform = page.pageTransform;
        QString why;
        EXPECT_FALSE(parseMutoolTrace(row.trace, other, &why));
        EXPECT_FALSE(why.isEmpty());
    }
}
