// The engine page: boxes, rotation, content streams, copies and the default paper size.
#include "KVPDFAnnotation.h"
#include "KVPDFDocument.h"
#include "KVPDFImprint.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"
#include "KVPDFServices.h"
#include "support/PdfBuilder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

namespace {
std::shared_ptr<KVPDFDocument> open(const QByteArray &bytes)
{
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(bytes, &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

// A page whose content, annotation and appearance are objects of the document, so a copy of
// it only works while that document lives.
std::shared_ptr<KVPDFDocument> pageWithContentAndSquare()
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 200 100] /Contents 5 0 R /Annots [10 0 R]");
    b.add(5, "<< /Length 23 >>\nstream\n0 0 1 rg 0 0 10 10 re f\nendstream");
    b.add(10, "<< /Type /Annot /Subtype /Square /Rect [20 20 60 40] /AP << /N 11 0 R >> >>");
    b.add(11, "<< /Type /XObject /Subtype /Form /BBox [0 0 40 20] /Length 14 >>\nstream\n0 0 40 20 re f\nendstream");
    return open(b.build());
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
        {"inherits media box and rotation", "", "/MediaBox [0 0 300 400] /Rotate 90", QRectF(0, 0, 300, 400), 90,
         QSizeF(400, 300)},
        {"negative rotation counts back", "/MediaBox [0 0 10 20] /Rotate -90", "", QRectF(0, 0, 10, 20), 270, QSizeF(20, 10)},
        {"rotation past a turn", "/MediaBox [0 0 10 20] /Rotate 450", "", QRectF(0, 0, 10, 20), 90, QSizeF(20, 10)},
        {"rotation 0 is present", "/MediaBox [0 0 10 20] /Rotate 0", "", QRectF(0, 0, 10, 20), 0, QSizeF(10, 20)},
        {"corners in reverse order", "/MediaBox [612 792 0 0]", "", QRectF(0, 0, 612, 792), std::nullopt, QSizeF(612, 792)},
        {"crop box cuts the media box", "/MediaBox [0 0 600 800] /CropBox [50 50 550 750]", "", QRectF(0, 0, 600, 800),
         std::nullopt, QSizeF(500, 700)},
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

TEST(KVPDFPageTest, CopyOutlivesItsDocument)
{
    auto document = pageWithContentAndSquare();
    std::weak_ptr<KVPDFDocument> watch = document;
    auto copy = document->pageAtIndex(0)->copy();
    EXPECT_EQ(copy->heldDocument(), document);
    document.reset();
    ASSERT_FALSE(watch.expired()) << "the copy holds its document";

    EXPECT_EQ(copy->mediaBox(), QRectF(0, 0, 200, 100));
    const auto streams = copy->contentStreams();
    ASSERT_EQ(streams.size(), 1u);
    EXPECT_EQ(streams[0]->decodedData(), QByteArray("0 0 1 rg 0 0 10 10 re f"));
    const auto annotations = copy->annotationImprints();
    ASSERT_EQ(annotations.size(), 1u);
    EXPECT_EQ(annotations[0]->page(), copy) << "the annotation copies are on the page copy";
    EXPECT_EQ(annotations[0]->heldDocument(), nullptr) << "the page copy holds the document for them";
    const QByteArray appearance = annotations[0]->pdfDataForAppearance("N");
    ASSERT_FALSE(appearance.isEmpty());
    auto drawn = open(appearance);
    ASSERT_EQ(drawn->pageCount(), 1u);
    EXPECT_EQ(drawn->pageAtIndex(0)->mediaBox(), QRectF(0, 0, 40, 20));

    copy.reset();
    EXPECT_TRUE(watch.expired());
}

// A page copy put into its own document lets go of it (the document owns the copy); put into
// another it becomes that document's (its objects are imported) and lets go of its source too.
// Either way nothing is left once everybody lets go.
TEST(KVPDFPageTest, CopiesPutIntoADocumentHoldNoSource)
{
    using Put = std::function<void(KVPDFDocument & target, const std::shared_ptr<KVPDFPage> &copy)>;
    struct Case {
        const char *name;
        bool otherDocument;
        Put put;
        bool holds;
    };
    const Case cases[] = {
        {"inserted into its own document", false, [](KVPDFDocument &t, const auto &copy) { t.insertPage(copy, 1); }, false},
        {"in its own document's new page list", false,
         [](KVPDFDocument &t, const auto &copy) {
             t.setPagesFromArray({copy, t.pageAtIndex(0)});
         },
         false},
        {"inserted into another document", true, [](KVPDFDocument &t, const auto &copy) { t.insertPage(copy, 0); }, false},
        {"in another document's new page list", true, [](KVPDFDocument &t, const auto &copy) { t.setPagesFromArray({copy}); },
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto source = pageWithContentAndSquare();
        auto other = open(PdfBuilder::withPages(1).build());
        std::weak_ptr<KVPDFDocument> watchSource = source, watchOther = other;
        std::weak_ptr<KVPDFPage> watchCopy;
        std::weak_ptr<KVPDFAnnotation> watchAnnotation;
        {
            auto copy = source->pageAtIndex(0)->copy();
            watchCopy = copy;
            watchAnnotation = copy->annotationImprints().at(0);
            c.put(c.otherDocument ? *other : *source, copy);
            EXPECT_EQ(copy->heldDocument() != nullptr, c.holds);
            EXPECT_EQ(copy->contentStreams().at(0)->decodedData(), QByteArray("0 0 1 rg 0 0 10 10 re f"));
        }
        source.reset();
        EXPECT_EQ(watchSource.expired(), !c.holds) << "held only through the other document";
        other.reset();
        EXPECT_TRUE(watchSource.expired()) << "no cycle keeps the source";
        EXPECT_TRUE(watchOther.expired());
        EXPECT_TRUE(watchCopy.expired());
        EXPECT_TRUE(watchAnnotation.expired());
    }
}

// A page or annotation taken out of its document may be all that is left of it: from then on
// it holds the document itself. Put back, it lets go again, so nothing is left once everybody
// lets go.
TEST(KVPDFPageTest, PagesAndAnnotationsTakenOutHoldTheirDocument)
{
    using Take = std::function<std::shared_ptr<KVPDFPage>(KVPDFDocument & document)>;
    using TakeAnnotation = std::function<void(KVPDFPage & page, const std::shared_ptr<KVPDFImprint> &annotation)>;
    struct PageCase {
        const char *name;
        Take take;
        bool putBack;
    };
    const PageCase pageCases[] = {
        {"removed by index",
         [](KVPDFDocument &d) {
             auto p = d.pageAtIndex(0);
             d.removePageAtIndex(0);
             return p;
         },
         false},
        {"left out of a new page list",
         [](KVPDFDocument &d) {
             auto p = d.pageAtIndex(0);
             d.setPagesFromArray({});
             return p;
         },
         false},
        {"removed and inserted again",
         [](KVPDFDocument &d) {
             auto p = d.pageAtIndex(0);
             d.removePageAtIndex(0);
             d.insertPage(p, 0);
             return p;
         },
         true},
    };
    for (const PageCase &c : pageCases) {
        SCOPED_TRACE(c.name);
        auto document = pageWithContentAndSquare();
        std::weak_ptr<KVPDFDocument> watch = document;
        std::shared_ptr<KVPDFPage> page = c.take(*document);
        EXPECT_EQ(page->heldDocument() != nullptr, !c.putBack);
        document.reset();
        EXPECT_EQ(watch.expired(), c.putBack);
        if (!c.putBack) {
            EXPECT_EQ(page->contentStreams().at(0)->decodedData(), QByteArray("0 0 1 rg 0 0 10 10 re f"));
            EXPECT_FALSE(page->annotationImprints().at(0)->pdfDataForAppearance("N").isEmpty());
        }
        page.reset();
        EXPECT_TRUE(watch.expired());
    }

    struct AnnotationCase {
        const char *name;
        TakeAnnotation take;
    };
    const AnnotationCase annotationCases[] = {
        {"removed by index", [](KVPDFPage &p, const auto &) { p.removeImprintAtIndex(p.imprints().size() - 1); }},
        {"removed", [](KVPDFPage &p, const auto &a) { p.removeImprint(a); }},
        {"left out of a new list", [](KVPDFPage &p, const auto &) { p.setImprints({}); }},
    };
    for (const AnnotationCase &c : annotationCases) {
        SCOPED_TRACE(c.name);
        auto document = pageWithContentAndSquare();
        std::weak_ptr<KVPDFDocument> watch = document;
        auto page = document->pageAtIndex(0);
        std::shared_ptr<KVPDFAnnotation> annotation = page->annotationImprints().at(0);
        c.take(*page, annotation);
        EXPECT_TRUE(page->annotationImprints().empty());
        page.reset();
        document.reset();
        ASSERT_FALSE(watch.expired()) << "the annotation holds its document";
        EXPECT_FALSE(annotation->pdfDataForAppearance("N").isEmpty());
        annotation.reset();
        EXPECT_TRUE(watch.expired());
    }
}

// Pages of documents opened on other threads read the default size and orientation as one
// pair while it changes: a box made of one setting's size and the other's orientation is a
// torn read.
TEST(KVPDFPageTest, DefaultPaperSizeIsReadAsOnePair)
{
    const QSizeF portrait(100, 200), other(300, 400);
    // (100 x 200, portrait) and (300 x 400, landscape) give these; a mix gives 200 x 100 or 300 x 400.
    const QSizeF allowed[] = {QSizeF(100, 200), QSizeF(400, 300)};
    KVPDFServices first, second;
    first.defaultPaper = {portrait, false};
    second.defaultPaper = {other, true};
    KVPDFServices::Installer installed(first);
    std::atomic<bool> done = false;
    // As the application does when the user picks another paper: a changed copy is installed.
    std::thread writer([&] {
        for (int i = 0; !done; ++i)
            KVPDFServices::install(i % 2 ? second : first);
    });
    auto readBoxes = [&] {
        int torn = 0;
        for (int i = 0; i < 5000; ++i) {
            auto page = KVPDFPage::pageWithDocument(nullptr, 0, std::make_shared<KVPDFObjectDictionary>());
            const QSizeF size = page->mediaBox().size();
            torn += size != allowed[0] && size != allowed[1];
        }
        return torn;
    };
    int torn[2] = {};
    std::thread reader([&] { torn[0] = readBoxes(); });
    torn[1] = readBoxes();
    reader.join();
    done = true;
    writer.join();
    EXPECT_EQ(torn[0] + torn[1], 0);
}
