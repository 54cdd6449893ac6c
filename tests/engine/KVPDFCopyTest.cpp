// Copies between two documents: pages and annotations put into the other document become its
// own, so copies going both ways never keep the two documents alive, and each document saves
// what it was given in full. Pages and annotations listed twice are freed once taken out.
#include "KVPDFAnnotation.h"
#include "KVPDFDocument.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "support/KVPDFSaveChecks.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {
QByteArray stream(const QByteArray &keys, const QByteArray &data)
{
    return "<< " + keys + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// Two pages sharing resources (a font and a 2x2 image); the first page has a square whose
// appearance reaches an ExtGState, the square's pop-up, and a link to the second page, which
// links back. `name` tells the documents' text apart; each document's square sits elsewhere
// and has its own colour, so a copied square shows on the other document's page.
QByteArray twoPageFile(const QByteArray &name, int squareX, const QByteArray &colour)
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /MediaBox [0 0 300 200] /Resources 6 0 R >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /Contents 5 0 R /Annots [10 0 R 11 0 R 12 0 R] >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R /Contents 7 0 R /Annots [13 0 R] >>");
    b.add(5, stream("", "BT /F1 18 Tf 20 150 Td (" + name + " first) Tj ET q 40 0 0 40 20 20 cm /Im1 Do Q"));
    b.add(6, "<< /Font << /F1 8 0 R >> /XObject << /Im1 9 0 R >> >>");
    b.add(7, stream("", "BT /F1 18 Tf 20 150 Td (" + name + " second) Tj ET"));
    b.add(8, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    b.add(9, stream("/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8"
                    " /Filter /ASCIIHexDecode",
                    "FF0000 00FF00 0000FF 000000>"));
    const QByteArray rect = "[" + QByteArray::number(squareX) + " 20 " + QByteArray::number(squareX + 50) + " 60]";
    b.add(10, "<< /Type /Annot /Subtype /Square /Rect " + rect + " /P 3 0 R /Popup 11 0 R /AP << /N 14 0 R >> >>");
    b.add(11, "<< /Type /Annot /Subtype /Popup /Rect [200 100 290 190] /P 3 0 R /Parent 10 0 R /Contents (" + name + " note) >>");
    b.add(12, "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /P 3 0 R /Dest [4 0 R /Fit] >>");
    b.add(13, "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /P 4 0 R /Dest [3 0 R /Fit] >>");
    b.add(14, stream("/Type /XObject /Subtype /Form /BBox [0 0 50 40] /Resources << /ExtGState << /G 15 0 R >> >>",
                     "/G gs " + colour + " rg 0 0 50 40 re f"));
    b.add(15, "<< /Type /ExtGState /CA 1 /ca 1 >>");
    return b.build();
}

constexpr int kAlphaSquareX = 150;
constexpr int kBetaSquareX = 220;

std::shared_ptr<KVPDFDocument> open(const QByteArray &data)
{
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(data, &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

std::shared_ptr<KVPDFImprint> squareCopy(KVPDFDocument &document)
{
    return document.pageAtIndex(0)->annotationImprints().at(0)->copy();
}

QByteArray popupText(KVPDFAnnotation &annotation)
{
    auto popup = kv_cast<KVPDFObjectDictionary>(annotation.annotDict()->resolvedObjectForKey("Popup"));
    auto text = kv_cast<KVPDFObjectString>(popup ? popup->resolvedObjectForKey("Contents") : nullptr);
    return text ? text->stringData() : QByteArray();
}

// Both saves of `document` (the full rewrite and the working copy) pass qpdf --check; answers
// the full rewrite's path.
QString saveAndCheck(KVPDFDocument &document, const QDir &folder, const QString &name)
{
    const QString full = folder.filePath(name + QStringLiteral(".pdf"));
    const QString working = folder.filePath(name + QStringLiteral("-working.pdf"));
    EXPECT_TRUE(savechecks::writeFile(full, document.currentDataWithImprints(true)));
    EXPECT_TRUE(savechecks::writeFile(working, document.currentDataWithImprints(false)));
    for (const QString &path : {full, working}) {
        const ToolResult check = savechecks::qpdfCheck(path);
        EXPECT_EQ(check.exitCode, 0) << path.toStdString() << "\n" << check.out.toStdString() << check.err.toStdString();
    }
    EXPECT_TRUE(savechecks::fullRewriteShapeProblems(savechecks::readFile(full)).isEmpty());
    return full;
}

QStringList pageTexts(const QString &path)
{
    QStringList texts;
    for (const QString &page : savechecks::pdftotextPages(path))
        texts << page.simplified();
    return texts;
}

// The gray level pdftoppm draws at (x, y) of a 300 x 200 page.
int grayAt(const QImage &page, int x, int y) { return qGray(page.pixel(x, 199 - y)); }
}

TEST(KVPDFCopyTest, CopiesBothWaysLeaveNothingAliveAndSaveInFull)
{
    // A page of the other document's save that must draw as a page of the original file.
    struct SameDrawing {
        bool inAlpha;
        int page;
        bool fromAlpha;
        int sourcePage;
    };
    using Act = std::function<void(KVPDFDocument & alpha, KVPDFDocument & beta)>;
    struct Case {
        const char *name;
        Act act;
        QStringList alphaTexts;
        QStringList betaTexts;
        std::vector<SameDrawing> copied;
        // The first page shows the other document's square, whose pop-up came along.
        bool alphaGetsSquare;
        bool betaGetsSquare;
    };
    const Case cases[] = {
        {"pages both ways",
         [](KVPDFDocument &alpha, KVPDFDocument &beta) {
             auto fromBeta = beta.pageAtIndex(0)->copy();
             auto fromAlpha = alpha.pageAtIndex(1)->copy();
             alpha.insertPage(fromBeta, 2);
             beta.insertPage(fromAlpha, 0);
         },
         {"alpha first", "alpha second", "beta first"},
         {"alpha second", "beta first", "beta second"},
         {{true, 2, false, 0}, {false, 0, true, 1}},
         false,
         false},
        {"page lists both ways",
         [](KVPDFDocument &alpha, KVPDFDocument &beta) {
             auto fromBeta = beta.pageAtIndex(1)->copy();
             auto fromAlpha = alpha.pageAtIndex(0)->copy();
             alpha.setPagesFromArray({fromBeta, alpha.pageAtIndex(0)});
             beta.setPagesFromArray({beta.pageAtIndex(0), fromAlpha});
         },
         {"beta second", "alpha first"},
         {"beta first", "alpha first"},
         {{true, 0, false, 1}, {false, 1, true, 0}},
         false,
         false},
        {"annotations both ways",
         [](KVPDFDocument &alpha, KVPDFDocument &beta) {
             auto fromBeta = squareCopy(beta);
             auto fromAlpha = squareCopy(alpha);
             alpha.pageAtIndex(0)->addImprint(fromBeta);
             beta.pageAtIndex(0)->insertImprint(fromAlpha, 0);
         },
         {"alpha first", "alpha second"},
         {"beta first", "beta second"},
         {},
         true,
         true},
        {"a page of beta put into alpha, then a square of alpha put on it",
         [](KVPDFDocument &alpha, KVPDFDocument &beta) {
             auto page = beta.pageAtIndex(0)->copy();
             alpha.insertPage(page, 0);
             page->processAnnotations();
             page->addImprint(squareCopy(alpha));
         },
         {"beta first", "alpha first", "alpha second"},
         {"beta first", "beta second"},
         {},
         false,
         false},
        {"a page copied into beta and back into alpha",
         [](KVPDFDocument &alpha, KVPDFDocument &beta) {
             auto there = alpha.pageAtIndex(0)->copy();
             beta.insertPage(there, 2);
             alpha.insertPage(beta.pageAtIndex(2)->copy(), 2);
         },
         {"alpha first", "alpha second", "alpha first"},
         {"beta first", "beta second", "alpha first"},
         {{true, 2, true, 0}, {false, 2, true, 0}},
         false,
         false},
    };

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QDir folder(dir.path());
    const QByteArray alphaFile = twoPageFile("alpha", kAlphaSquareX, "0 0 1");
    const QByteArray betaFile = twoPageFile("beta", kBetaSquareX, "1 0 0");
    ASSERT_TRUE(savechecks::writeFile(folder.filePath(QStringLiteral("alpha-source.pdf")), alphaFile));
    ASSERT_TRUE(savechecks::writeFile(folder.filePath(QStringLiteral("beta-source.pdf")), betaFile));
    const std::vector<QImage> alphaSource =
        savechecks::renderGray(folder.filePath(QStringLiteral("alpha-source.pdf")), folder.filePath(QStringLiteral("r-a")));
    const std::vector<QImage> betaSource =
        savechecks::renderGray(folder.filePath(QStringLiteral("beta-source.pdf")), folder.filePath(QStringLiteral("r-b")));
    ASSERT_EQ(alphaSource.size(), 2u);
    ASSERT_EQ(betaSource.size(), 2u);

    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto alpha = open(alphaFile);
        auto beta = open(betaFile);
        ASSERT_TRUE(alpha && beta);
        std::weak_ptr<KVPDFDocument> watchAlpha = alpha, watchBeta = beta;
        c.act(*alpha, *beta);

        const QString alphaSaved = saveAndCheck(*alpha, folder, QStringLiteral("alpha"));
        const QString betaSaved = saveAndCheck(*beta, folder, QStringLiteral("beta"));
        EXPECT_EQ(pageTexts(alphaSaved), c.alphaTexts);
        EXPECT_EQ(pageTexts(betaSaved), c.betaTexts);
        const std::vector<QImage> alphaPages = savechecks::renderGray(alphaSaved, folder.filePath(QStringLiteral("r-as")));
        const std::vector<QImage> betaPages = savechecks::renderGray(betaSaved, folder.filePath(QStringLiteral("r-bs")));
        ASSERT_EQ(alphaPages.size(), size_t(c.alphaTexts.size()));
        ASSERT_EQ(betaPages.size(), size_t(c.betaTexts.size()));
        for (const SameDrawing &same : c.copied) {
            const QImage &copied = (same.inAlpha ? alphaPages : betaPages).at(size_t(same.page));
            const QImage &source = (same.fromAlpha ? alphaSource : betaSource).at(size_t(same.sourcePage));
            EXPECT_EQ(savechecks::differingPixelShare(copied, source), 0.0)
                << (same.inAlpha ? "alpha" : "beta") << " page " << same.page << " draws as the source page";
        }
        if (c.alphaGetsSquare) {
            EXPECT_LT(grayAt(alphaPages[0], kBetaSquareX + 25, 40), 128) << "beta's square is drawn on alpha's page";
            auto reread = open(savechecks::readFile(alphaSaved));
            ASSERT_TRUE(reread);
            const auto annotations = reread->pageAtIndex(0)->annotationImprints();
            ASSERT_FALSE(annotations.empty());
            EXPECT_EQ(popupText(*annotations.back()), QByteArray("beta note"));
        }
        if (c.betaGetsSquare) {
            EXPECT_LT(grayAt(betaPages[0], kAlphaSquareX + 25, 40), 128) << "alpha's square is drawn on beta's page";
            auto reread = open(savechecks::readFile(betaSaved));
            ASSERT_TRUE(reread);
            const auto annotations = reread->pageAtIndex(0)->annotationImprints();
            ASSERT_FALSE(annotations.empty());
            EXPECT_EQ(popupText(*annotations.front()), QByteArray("alpha note"));
        }

        alpha.reset();
        EXPECT_TRUE(watchAlpha.expired()) << "nothing of beta holds alpha";
        beta.reset();
        EXPECT_TRUE(watchBeta.expired());
    }
}

// A copy put into another document is drawn and saved from that document alone.
TEST(KVPDFCopyTest, CopiesPutIntoAnotherDocumentOutliveTheirSource)
{
    auto target = open(twoPageFile("alpha", kAlphaSquareX, "0 0 1"));
    std::weak_ptr<KVPDFDocument> watchSource;
    std::shared_ptr<KVPDFPage> page;
    {
        auto source = open(twoPageFile("beta", kBetaSquareX, "1 0 0"));
        watchSource = source;
        // Read first, so the copy carries the annotations themselves rather than Annots alone.
        source->pageAtIndex(0)->processAnnotations();
        page = source->pageAtIndex(0)->copy();
        target->insertPage(page, 0);
        target->pageAtIndex(1)->processAnnotations();
        target->pageAtIndex(1)->addImprint(squareCopy(*source));
    }
    EXPECT_TRUE(watchSource.expired());
    EXPECT_EQ(page->document(), target.get());
    EXPECT_EQ(page->heldDocument(), nullptr);
    EXPECT_TRUE(page->contentStreams().at(0)->decodedData().startsWith("BT /F1 18 Tf 20 150 Td (beta first) Tj ET"));
    const auto annotations = page->annotationImprints();
    ASSERT_EQ(annotations.size(), 2u) << "the square and its pop-up; the link to another page is left out";
    EXPECT_EQ(popupText(*annotations[0]), QByteArray("beta note"));
    EXPECT_EQ(annotations[1]->annotDict()->resolvedObjectForKey("Parent"), annotations[0]->annotDict())
        << "the pop-up's Parent is the square's copy";
    auto annots = kv_cast<KVPDFObjectArray>(page->pageDictionary()->resolvedObjectForKey("Annots"));
    ASSERT_TRUE(annots);
    EXPECT_EQ(annots->resolvedObjectAtIndex(0), annotations[0]->annotDict()) << "Annots lists the same copy";
    EXPECT_FALSE(annotations[0]->pdfDataForAppearance("N").isEmpty());

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString saved = saveAndCheck(*target, QDir(dir.path()), QStringLiteral("target"));
    EXPECT_EQ(pageTexts(saved), (QStringList{"beta first", "alpha first", "alpha second"}));
    const std::vector<QImage> pages = savechecks::renderGray(saved, QDir(dir.path()).filePath(QStringLiteral("render")));
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_LT(grayAt(pages[0], 20 + 10, 20 + 10), 128) << "the image came along";
    EXPECT_LT(grayAt(pages[1], kBetaSquareX + 25, 40), 128) << "the pasted square is drawn";
}

// A page or annotation listed twice stays in its list when one entry is taken out: it must not
// hold its document then, or the pair would keep each other alive.
TEST(KVPDFCopyTest, PagesAndAnnotationsListedTwiceAreFreedOnceTakenOut)
{
    using Act = std::function<void(KVPDFDocument & alpha, KVPDFDocument & beta)>;
    struct Case {
        const char *name;
        Act act;
        size_t alphaPages;
    };
    const Case cases[] = {
        {"a copy of its own page inserted twice, one removed",
         [](KVPDFDocument &alpha, KVPDFDocument &) {
             auto page = alpha.pageAtIndex(0)->copy();
             alpha.insertPage(page, 2);
             alpha.insertPage(page, 3);
             alpha.removePageAtIndex(3);
             EXPECT_EQ(page->heldDocument(), nullptr);
         },
         3},
        {"a page of beta inserted twice, one removed",
         [](KVPDFDocument &alpha, KVPDFDocument &beta) {
             auto page = beta.pageAtIndex(0)->copy();
             alpha.insertPage(page, 0);
             alpha.insertPage(page, 2);
             alpha.removePageAtIndex(0);
             EXPECT_EQ(page->heldDocument(), nullptr);
         },
         3},
        {"a page listed twice in a new list, one left out",
         [](KVPDFDocument &alpha, KVPDFDocument &) {
             auto page = alpha.pageAtIndex(1);
             alpha.setPagesFromArray({page, alpha.pageAtIndex(0), page});
             alpha.removePageAtIndex(2);
             EXPECT_EQ(page->heldDocument(), nullptr);
         },
         2},
        {"an annotation listed twice, one removed by index",
         [](KVPDFDocument &alpha, KVPDFDocument &) {
             auto page = alpha.pageAtIndex(1);
             auto square = squareCopy(alpha);
             page->addImprint(square);
             page->addImprint(square);
             page->removeImprintAtIndex(page->imprints().size() - 1);
             EXPECT_EQ(std::static_pointer_cast<KVPDFAnnotation>(square)->heldDocument(), nullptr);
         },
         2},
        {"an annotation of beta listed twice, one removed by index",
         [](KVPDFDocument &alpha, KVPDFDocument &beta) {
             auto page = alpha.pageAtIndex(0);
             auto square = squareCopy(beta);
             page->insertImprint(square, 0);
             page->insertImprint(square, 1);
             page->removeImprintAtIndex(0);
             EXPECT_EQ(std::static_pointer_cast<KVPDFAnnotation>(square)->heldDocument(), nullptr);
         },
         2},
    };
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto alpha = open(twoPageFile("alpha", kAlphaSquareX, "0 0 1"));
        auto beta = open(twoPageFile("beta", kBetaSquareX, "1 0 0"));
        std::weak_ptr<KVPDFDocument> watchAlpha = alpha, watchBeta = beta;
        c.act(*alpha, *beta);
        EXPECT_EQ(alpha->pageCount(), c.alphaPages);
        saveAndCheck(*alpha, QDir(dir.path()), QStringLiteral("alpha"));
        saveAndCheck(*beta, QDir(dir.path()), QStringLiteral("beta"));
        alpha.reset();
        beta.reset();
        EXPECT_TRUE(watchAlpha.expired());
        EXPECT_TRUE(watchBeta.expired());
    }

    // Once the last entry is taken out too, the page holds its document for whoever keeps it.
    auto alpha = open(twoPageFile("alpha", kAlphaSquareX, "0 0 1"));
    std::weak_ptr<KVPDFDocument> watch = alpha;
    auto page = alpha->pageAtIndex(0)->copy();
    alpha->insertPage(page, 0);
    alpha->insertPage(page, 1);
    alpha->removePageAtIndex(1);
    alpha->removePageAtIndex(0);
    EXPECT_EQ(page->heldDocument(), alpha);
    alpha.reset();
    ASSERT_FALSE(watch.expired());
    page.reset();
    EXPECT_TRUE(watch.expired());
}

// A page its own document still lists would belong to two documents if taken over: the other
// document gets a copy, and each keeps working without the other.
TEST(KVPDFCopyTest, APageStillListedByItsDocumentIsPutInAsACopy)
{
    auto alpha = open(twoPageFile("alpha", kAlphaSquareX, "0 0 1"));
    auto beta = open(twoPageFile("beta", kBetaSquareX, "1 0 0"));
    std::weak_ptr<KVPDFDocument> watchAlpha = alpha, watchBeta = beta;
    const std::shared_ptr<KVPDFPage> listed = beta->pageAtIndex(0);
    alpha->insertPage(listed, 0);
    EXPECT_NE(alpha->pageAtIndex(0), listed);
    EXPECT_EQ(alpha->pageAtIndex(0)->document(), alpha.get());
    EXPECT_EQ(listed->document(), beta.get());
    EXPECT_EQ(beta->pageAtIndex(0), listed);

    beta.reset();
    EXPECT_TRUE(watchBeta.expired()) << "nothing in alpha holds beta";
    EXPECT_TRUE(alpha->pageAtIndex(0)->contentStreams().at(0)->decodedData().contains("(beta first)"));
    alpha.reset();
    EXPECT_TRUE(watchAlpha.expired());
}
