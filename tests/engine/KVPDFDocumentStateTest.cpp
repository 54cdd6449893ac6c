// What a document keeps and lets go of: state that a second run of the open road must not
// inherit from the first, and the objects that must be freed once nobody holds the document.
#include "KVPDFAnnotation.h"
#include "KVPDFDocument.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFPage.h"
#include "KVPDFServices.h"
#include "KVPDFStandardSecurity.h"
#include "support/PdfBuilder.h"

#include <gtest/gtest.h>

namespace {
// A file encrypted with AES-128 crypt filters (V 4, R 4), empty user password, restricted
// permissions and clear metadata, whose one page does not parse: the open gets past the
// security step and then fails.
QByteArray aesFileWithBrokenPage()
{
    const QByteArray id = QByteArray::fromHex("00112233445566778899AABBCCDDEEFF");
    KVPDFStandardSecurity security;
    security.revision = 4;
    security.lengthBits = 128;
    security.permissions = -3904;
    security.firstID = id;
    security.encryptMetadata = false;
    security.ownerValue = security.computeOwnerValue("owner", QByteArray());
    security.userValue = security.computeUserValue(QByteArray());

    PdfBuilder builder = PdfBuilder::withPages(1);
    builder.add(3, "<< /Type /Page /Parent 2 0 R /Bad ) >>");
    builder.add(4, "<< /Filter /Standard /V 4 /R 4 /Length 128 /P -3904 /EncryptMetadata false"
                   " /CF << /StdCF << /CFM /AESV2 /Length 16 >> >> /StmF /StdCF /StrF /StdCF"
                   " /O <"
                       + security.ownerValue.toHex() + "> /U <" + security.userValue.toHex() + "> >>");
    builder.trailerExtra = "/Encrypt 4 0 R /ID [<" + id.toHex() + "> <" + id.toHex() + ">]";
    return builder.build();
}
}

TEST(KVPDFDocumentStateTest, SecondOpenOnTheSameObjectStartsWithPlainSecurity)
{
    // The redrawn copy is read by the same document object that read the encrypted file up to
    // its broken page: none of that file's security may carry over to the plain copy.
    KVPDFServices services;
    services.redraw = [](const QByteArray &) { return PdfBuilder::withPages(2).build(); };
    KVPDFServices::Installer installed(std::move(services));
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(aesFileWithBrokenPage(), &result, [] { return true; });
    ASSERT_TRUE(document);
    EXPECT_EQ(result, KVPDFOpenOK);
    EXPECT_TRUE(document->secondTry());
    EXPECT_EQ(document->pageCount(), 2u);
    EXPECT_FALSE(document->aesEncryption());
    EXPECT_FALSE(document->encryptDictionary());
    EXPECT_FALSE(document->isDecrypting());
    EXPECT_FALSE(document->isEncrypting());
    EXPECT_TRUE(document->fileKey().isEmpty());
    EXPECT_TRUE(document->isOwner());
    EXPECT_EQ(document->accessPermissions(), int64_t(0xFFFFFFFC));
    EXPECT_TRUE(document->pastDecryption());
    // A save of the plain copy is plain.
    const QByteArray saved = document->currentDataWithImprints(true);
    ASSERT_FALSE(saved.isEmpty());
    EXPECT_FALSE(saved.contains("/Encrypt"));
}

namespace {
// Two pages that refer to each other's annotations and back (P, Popup, Parent, a link to the
// other page), so the graph of objects is full of cycles.
std::shared_ptr<KVPDFDocument> documentWithLinkedAnnotations()
{
    PdfBuilder b = PdfBuilder::withPages(2, "/MediaBox [0 0 200 100] /Contents 7 0 R /Annots [10 0 R 11 0 R 12 0 R]");
    b.add(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 100] /Annots [13 0 R] >>");
    b.add(7, "<< /Length 23 >>\nstream\n0 0 1 rg 0 0 10 10 re f\nendstream");
    b.add(10, "<< /Type /Annot /Subtype /Square /Rect [20 20 60 40] /P 3 0 R /Popup 11 0 R /AP << /N 14 0 R >> >>");
    b.add(11, "<< /Type /Annot /Subtype /Popup /Rect [60 40 120 80] /P 3 0 R /Parent 10 0 R >>");
    b.add(12, "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /P 3 0 R /Dest [4 0 R /Fit] >>");
    b.add(13, "<< /Type /Annot /Subtype /Link /Rect [0 0 10 10] /P 4 0 R /Dest [3 0 R /Fit] >>");
    b.add(14, "<< /Type /XObject /Subtype /Form /BBox [0 0 40 20] /Length 14 >>\nstream\n0 0 40 20 re f\nendstream");
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(b.build(), &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}
}

TEST(KVPDFDocumentStateTest, DroppedDocumentLeavesNothingAliveOnceItsCopiesGo)
{
    struct Case {
        const char *name;
        bool pageCopy;
        bool annotationCopy;
        bool refreshed; // the table was read again, so replaced objects are retired, not freed
    };
    const Case cases[] = {
        {"nothing held elsewhere", false, false, false},
        {"a page copy held elsewhere", true, false, false},
        {"an annotation copy held elsewhere", false, true, false},
        {"both copies, after a refresh", true, true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = documentWithLinkedAnnotations();
        ASSERT_EQ(document->pageCount(), 2u);
        std::weak_ptr<KVPDFDocument> watchDocument = document;
        std::vector<std::weak_ptr<KVPDFPage>> watchPages;
        std::vector<std::weak_ptr<KVPDFAnnotation>> watchAnnotations;
        std::vector<std::weak_ptr<KVPDFObject>> watchObjects;
        auto watchTable = [&] {
            for (const auto &[number, object] : document->objects())
                watchObjects.push_back(object);
        };
        for (const auto &page : document->pages()) {
            watchPages.push_back(page);
            for (const auto &annotation : page->annotationImprints()) {
                watchAnnotations.push_back(annotation);
                watchObjects.push_back(annotation->annotDict());
            }
        }
        ASSERT_EQ(watchAnnotations.size(), 4u);
        // Every reference read, so the objects hold each other in cycles.
        KVPDFVisitedSet visited;
        ASSERT_FALSE(document->rootObject()->subobjects(visited).empty());
        watchTable();
        if (c.refreshed) {
            ASSERT_TRUE(document->updateDocData());
            watchTable();
        }

        std::shared_ptr<KVPDFPage> pageCopy = c.pageCopy ? document->pageAtIndex(0)->copy() : nullptr;
        std::shared_ptr<KVPDFImprint> annotationCopy =
            c.annotationCopy ? document->pageAtIndex(1)->annotationImprints().at(0)->copy() : nullptr;
        if (pageCopy) {
            watchPages.push_back(pageCopy);
            for (const auto &annotation : pageCopy->annotationImprints())
                watchAnnotations.push_back(annotation);
        }
        if (annotationCopy)
            watchAnnotations.push_back(std::static_pointer_cast<KVPDFAnnotation>(annotationCopy));

        document.reset();
        EXPECT_EQ(watchDocument.expired(), !c.pageCopy && !c.annotationCopy) << "a copy holds its document";
        pageCopy.reset();
        annotationCopy.reset();

        EXPECT_TRUE(watchDocument.expired());
        for (size_t i = 0; i < watchPages.size(); ++i)
            EXPECT_TRUE(watchPages[i].expired()) << "page " << i;
        for (size_t i = 0; i < watchAnnotations.size(); ++i)
            EXPECT_TRUE(watchAnnotations[i].expired()) << "annotation " << i;
        size_t alive = 0;
        for (const auto &object : watchObjects)
            alive += object.expired() ? 0 : 1;
        EXPECT_EQ(alive, 0u) << "of " << watchObjects.size() << " objects";
    }
}
