// Link annotations: targets, border width and colour as read, the keys setters and copies
// write, and other-file targets resolved without touching the working directory.
#include "KVPDFAnnotationLink.h"
#include "KVPDFDocument.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "support/PdfBuilder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {
std::shared_ptr<KVPDFDocument> open(const QByteArray &bytes)
{
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(bytes, &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

// Four pages; the first carries the link `annotation` (object 10). Named destinations: "named"
// is a dictionary with D, "plain" an array.
std::shared_ptr<KVPDFDocument> documentWithLink(const QByteArray &annotation)
{
    PdfBuilder b = PdfBuilder::withPages(4);
    b.add(1, "<< /Type /Catalog /Pages 2 0 R /Dests << /named << /D [5 0 R /FitV 40] >> /plain [4 0 R /Fit] >> >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [10 0 R] >>");
    b.add(10, annotation);
    return open(b.build());
}

std::shared_ptr<KVPDFAnnotationLink> firstLink(KVPDFDocument &document)
{
    auto annotations = document.pageAtIndex(0)->annotationImprints();
    EXPECT_EQ(annotations.size(), 1u);
    return annotations.empty() ? nullptr : std::dynamic_pointer_cast<KVPDFAnnotationLink>(annotations[0]);
}

int pageIndex(KVPDFDocument &document, const std::shared_ptr<KVPDFPage> &page)
{
    const auto &pages = document.pages();
    auto found = std::find(pages.begin(), pages.end(), page);
    return found == pages.end() ? -1 : int(found - pages.begin());
}
} // namespace

TEST(KVPDFAnnotationLinkTest, ReadsTargetBorderAndColourWithoutWriting)
{
    struct Case {
        const char *keys;
        int kind;
        int page; // -1: none
        int fit;
        float border;
        QString uri;
    } cases[] = {
        {"/Border [0 0 2]", KVPDFAnnotationLink::LinkNone, -1, 0, 2.0f, {}},
        {"/Border [0 0]", KVPDFAnnotationLink::LinkNone, -1, 0, 1.0f, {}},
        {"", KVPDFAnnotationLink::LinkNone, -1, 0, 0.5f, {}},
        {"/Dest [3 /Fit]", KVPDFAnnotationLink::LinkPage, 3, KVPDFFitOperands::Fit, 0.5f, {}},
        {"/Dest /named", KVPDFAnnotationLink::LinkPage, 2, KVPDFFitOperands::FitV, 0.5f, {}},
        {"/Dest (plain)", KVPDFAnnotationLink::LinkPage, 1, KVPDFFitOperands::Fit, 0.5f, {}},
        {"/Dest [9 /Fit]", KVPDFAnnotationLink::LinkPage, -1, KVPDFFitOperands::Fit, 0.5f, {}},
        {"/Dest null", KVPDFAnnotationLink::LinkPage, -1, 0, 0.5f, {}},
        {"/Dest 7", KVPDFAnnotationLink::LinkPage, -1, 0, 0.5f, {}},
        {"/A << /S /GoTo /D [6 0 R /FitBH 10] >>", KVPDFAnnotationLink::LinkPage, 3, KVPDFFitOperands::FitBH, 0.5f, {}},
        {"/A << /S /URI /URI (http://ex ample.org/a\\000b c) >>", KVPDFAnnotationLink::LinkURI, -1, 0, 0.5f,
         QStringLiteral("http://example.org/abc")},
        {"/A << /S /Launch /F (run.sh) >>", KVPDFAnnotationLink::LinkNone, -1, 0, 0.5f, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.keys);
        auto document = documentWithLink(QByteArray("<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] ") + c.keys + " >>");
        auto link = firstLink(*document);
        ASSERT_TRUE(link);
        EXPECT_EQ(link->linkType(), c.kind);
        EXPECT_EQ(pageIndex(*document, link->destinationPage()), c.page);
        EXPECT_EQ(link->fitStyle(), c.fit);
        EXPECT_FLOAT_EQ(link->borderWidth(), c.border);
        EXPECT_EQ(link->destinationText(), c.uri);
        EXPECT_EQ(link->color(), KVPDFAnnotationLink::defaultLinkColor());
        EXPECT_FALSE(link->annotDict()->objectForKey("C"));
        EXPECT_EQ(link->annotDict()->objectForKey("Border") != nullptr, QByteArray(c.keys).contains("Border"));
    }
    auto black = firstLink(*documentWithLink("<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /C [0 0 0] >>"));
    EXPECT_EQ(black->color(), KVColor::rgb(0, 0, 0));
}

TEST(KVPDFAnnotationLinkTest, SettersWriteTheirKeys)
{
    auto document = documentWithLink("<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /A << /S /URI /URI (http://a.org) >> >>");
    auto link = firstLink(*document);
    link->setDestinationPage(document->pageAtIndex(2));
    EXPECT_FALSE(link->annotDict()->objectForKey("A"));
    auto dest = kv_cast<KVPDFObjectArray>(link->annotDict()->objectForKey("Dest"));
    ASSERT_TRUE(dest);
    EXPECT_EQ(dest->count(), 2u);
    EXPECT_EQ(document->pageForReference(dest->objectAtIndex(0)), document->pageAtIndex(2));

    link->setDestinationURL(QStringLiteral("http://b.org"));
    EXPECT_FALSE(link->annotDict()->objectForKey("Dest"));
    auto action = kv_cast<KVPDFObjectDictionary>(link->annotDict()->resolvedObjectForKey("A"));
    ASSERT_TRUE(action);
    EXPECT_EQ(kv_cast<KVPDFObjectString>(action->objectForKey("URI"))->stringValue(), QStringLiteral("http://b.org"));

    link->setBorderWidth(3);
    link->setColor(KVColor::rgb(1, 0, 0));
    EXPECT_EQ(kv_cast<KVPDFObjectArray>(link->annotDict()->objectForKey("Border"))->resolvedObjectAtIndex(2)->realValue(), 3.0f);
    EXPECT_EQ(kv_cast<KVPDFObjectArray>(link->annotDict()->objectForKey("C"))->count(), 3u);

    auto bad = KVPDFAnnotationLink::linkWithRect(QRectF(0, 0, 5, 5), QStringLiteral("http://[::1"), document->pageAtIndex(0).get());
    auto badAction = kv_cast<KVPDFObjectDictionary>(bad->annotDict()->objectForKey("A"));
    EXPECT_EQ(kv_cast<KVPDFObjectString>(badAction->objectForKey("URI"))->stringValue(), QString());
    EXPECT_EQ(bad->linkType(), KVPDFAnnotationLink::LinkURI);
}

TEST(KVPDFAnnotationLinkTest, CopiedPageLinkKeepsItsFitAndOperandsAndWritesNoBorderItDidNotHave)
{
    auto document = documentWithLink("<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /Dest [5 0 R /XYZ null 500 null] >>");
    auto link = firstLink(*document);
    auto copy = std::dynamic_pointer_cast<KVPDFAnnotationLink>(link->copy());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->linkType(), KVPDFAnnotationLink::LinkPage);
    EXPECT_EQ(copy->destinationPage(), document->pageAtIndex(2));
    auto dest = kv_cast<KVPDFObjectArray>(copy->annotDict()->objectForKey("Dest"));
    ASSERT_TRUE(dest);
    ASSERT_EQ(dest->count(), 5u);
    EXPECT_EQ(kv_cast<KVPDFObjectName>(dest->objectAtIndex(1))->bytes(), QByteArray("XYZ"));
    EXPECT_EQ(dest->objectAtIndex(2)->objectType(), KVPDFObject::TypeNull);
    EXPECT_EQ(dest->objectAtIndex(3)->realValue(), 500.0f);
    EXPECT_EQ(dest->objectAtIndex(4)->objectType(), KVPDFObject::TypeNull);
    EXPECT_FALSE(copy->annotDict()->objectForKey("Border"));
    EXPECT_FALSE(copy->annotDict()->objectForKey("C"));

    // A page copy leaves page links out, whatever spelling their target has.
    auto page = document->pageAtIndex(0)->copy();
    EXPECT_TRUE(page->annotationImprints().empty());
}

TEST(KVPDFAnnotationLinkTest, OtherFileLinkResolvesAgainstTheDocumentsFolderWithoutChangingDirectory)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("docs")));
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Annots [10 0 R]");
    b.add(10, "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /A << /S /GoToR /F (../other.pdf) /D [0 /Fit] >> >>");
    const QString path = dir.filePath(QStringLiteral("docs/file.pdf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(b.build());
    file.close();

    char before[4096];
    ASSERT_TRUE(getcwd(before, sizeof before));
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithContentsOfFile(path, &result);
    ASSERT_EQ(result, KVPDFOpenOK);
    auto link = firstLink(*document);
    char after[4096];
    ASSERT_TRUE(getcwd(after, sizeof after));
    EXPECT_STREQ(before, after);
    ASSERT_TRUE(link);
    EXPECT_EQ(link->linkType(), KVPDFAnnotationLink::LinkFile);
    EXPECT_EQ(QUrl(link->destinationText()).toLocalFile(), QDir::cleanPath(dir.filePath(QStringLiteral("other.pdf"))));
}
