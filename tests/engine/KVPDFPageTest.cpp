// The engine page: boxes, rotation and content streams.
#include "KVPDFAnnotation.h"
#include "KVPDFDocument.h"
#include "KVPDFImprint.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"
#include "support/PdfBuilder.h"

#include <gtest/gtest.h>

namespace {
std::shared_ptr<KVPDFDocument> open(const QByteArray &bytes)
{
    int result = -1;
    auto document = KVPDFDocument::documentWithData(bytes, &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}
}

TEST(KVPDFPageTest, BoxesAndRotation)
{
    struct Case {
        const char *name;
        QByteArray pageKeys;
        QByteArray nodeKeys;
        QRectF media;
        std::optional<int> rotate;
        QSizeF cropped;
    };
    const Case cases[] = {
        {"inherits media box and rotation", "", "/MediaBox [0 0 300 400] /Rotate 90", QRectF(0, 0, 300, 400), 90, QSizeF(400, 300)},
        {"negative rotation counts back", "/MediaBox [0 0 10 20] /Rotate -90", "", QRectF(0, 0, 10, 20), 270, QSizeF(20, 10)},
        {"rotation past a turn", "/MediaBox [0 0 10 20] /Rotate 450", "", QRectF(0, 0, 10, 20), 90, QSizeF(20, 10)},
        {"rotation 0 is present", "/MediaBox [0 0 10 20] /Rotate 0", "", QRectF(0, 0, 10, 20), 0, QSizeF(10, 20)},
        {"corners in reverse order", "/MediaBox [612 792 0 0]", "", QRectF(0, 0, 612, 792), std::nullopt, QSizeF(612, 792)},
        {"crop box cuts the media box", "/MediaBox [0 0 600 800] /CropBox [50 50 550 750]", "", QRectF(0, 0, 600, 800), std::nullopt, QSizeF(500, 700)},
        {"no media box takes the paper size", "", "", QRectF(0, 0, 612, 792), std::nullopt, QSizeF(612, 792)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b = PdfBuilder::withPages(1, c.pageKeys);
        b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 " + c.nodeKeys + " >>");
        auto document = open(b.build());
        ASSERT_EQ(document->pageCount(), 1u);
        auto page = document->pageAtIndex(0);
        EXPECT_EQ(page->mediaBox(), c.media);
        EXPECT_EQ(page->rotate(), c.rotate);
        EXPECT_EQ(page->croppedMediaBox().size(), c.cropped);
        // The fallback box is written into the page.
        EXPECT_TRUE(page->pageDictionary()->objectFromAncestorsForKey("MediaBox"));
    }
}

TEST(KVPDFPageTest, JoinedContentKeepsOperatorsApart)
{
    PdfBuilder b = PdfBuilder::withPages(2, "/MediaBox [0 0 10 10] /Contents [5 0 R 6 0 R]");
    b.add(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] /Contents [6 0 R] >>");
    b.add(5, "<< /Length 1 >>\nstream\nQ\nendstream");
    b.add(6, "<< /Length 1 >>\nstream\nq\nendstream");
    auto document = open(b.build());
    auto first = document->pageAtIndex(0);
    auto streams = first->contentStreams();
    ASSERT_EQ(streams.size(), 1u);
    const QByteArray joined = streams[0]->decodedData();
    EXPECT_FALSE(joined.contains("Qq"));
    EXPECT_EQ(joined.simplified(), "Q q");

    // Making the joined stream the page's content leaves the stream page 2 shares intact.
    first->useNewStream();
    first->useNewStream();
    auto shared = kv_cast<KVPDFObjectStream>(document->resolveObject(6, 0));
    ASSERT_TRUE(shared);
    EXPECT_EQ(shared->decodedData(), "q");
    auto contents = kv_cast<KVPDFObjectArray>(first->pageDictionary()->resolvedObjectForKey("Contents"));
    ASSERT_TRUE(contents);
    ASSERT_EQ(contents->count(), 1u);
    EXPECT_EQ(kv_cast<KVPDFObjectStream>(contents->resolvedObjectAtIndex(0))->decodedData().simplified(), "Q q");
    EXPECT_EQ(document->pageAtIndex(1)->contentStreams()[0]->decodedData(), "q");
}

TEST(KVPDFPageTest, LiveImprintStreamsAndMarkersAreLeftOutOfTheJoin)
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 10 10] /Contents [5 0 R 6 0 R 7 0 R 8 0 R]");
    b.add(5, "<< /Length 1 /FolivoMarker true >>\nstream\nq\nendstream");
    b.add(6, "<< /Length 3 >>\nstream\nown\nendstream");
    b.add(7, "<< /Length 1 /FolivoMarker true >>\nstream\nQ\nendstream");
    b.add(8, "<< /Length 4 /FolivoImprint 9 0 R >>\nstream\nlive\nendstream");
    b.add(9, "<< /Type /XObject /Subtype /Form /BBox [0 0 1 1] /Length 0 >>\nstream\n\nendstream");
    auto document = open(b.build());
    auto page = document->pageAtIndex(0);
    auto streams = page->contentStreams();
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0]->decodedData().simplified(), "own");
}

TEST(KVPDFPageTest, CopiesAndSetRotate)
{
    auto document = open(PdfBuilder::withPages(1).build());
    auto page = document->pageAtIndex(0);
    auto copy = page->copy();
    EXPECT_TRUE(copy->isEqual(*page));
    EXPECT_EQ(copy->pageDictionary()->objectNumber(), page->pageDictionary()->objectNumber());
    EXPECT_NE(copy->pageDictionary(), page->pageDictionary());
    page->setRotate(-90);
    EXPECT_EQ(page->rotate(), 270);
    EXPECT_EQ(copy->rotate(), std::nullopt);
}

TEST(KVPDFPageTest, CopiesCarryImprintsButNotPageLinks)
{
    PdfBuilder b = PdfBuilder::withPages(2, "/MediaBox [0 0 200 200] /Annots [5 0 R 6 0 R 7 0 R]");
    b.add(5, "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /Dest [4 0 R /Fit] >>");
    b.add(6, "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /A << /S /URI /URI (https://example.org) >> >>");
    b.add(7, "<< /Type /Annot /Subtype /Square /Rect [20 20 60 60] >>");
    auto document = open(b.build());
    auto page = document->pageAtIndex(0);
    page->addImprint(KVPDFImprint::imprintWithData(KVPDFBlankPage(), QPointF(5, 5)));
    ASSERT_EQ(page->annotationImprints().size(), 3u);
    auto copy = page->copy();
    EXPECT_EQ(copy->contentImprints().size(), 1u);
    std::vector<QByteArray> subtypes;
    for (const auto &annotation : copy->annotationImprints())
        subtypes.push_back(annotation->annotDict()->nameForKey("Subtype"));
    // The link to a page is left out; the web link and the square stay.
    EXPECT_EQ(subtypes, (std::vector<QByteArray>{"Link", "Square"}));
}
