// What a document keeps and lets go of: state that a second run of the open road must not
// inherit from the first, and the objects that must be freed once nobody holds the document.
#include "KVPDFAnnotation.h"
#include "KVPDFDocument.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFPage.h"
#include "KVPDFStandardSecurity.h"
#include "support/PdfBuilder.h"

#include <gtest/gtest.h>

namespace {
// Unsets the redraw function however the test ends.
struct RedrawInstalled {
    explicit RedrawInstalled(KVPDFRedrawFunction function) { KVPDFDocument::setRedrawFunction(std::move(function)); }
    ~RedrawInstalled() { KVPDFDocument::setRedrawFunction({}); }
    RedrawInstalled(const RedrawInstalled &) = delete;
    RedrawInstalled &operator=(const RedrawInstalled &) = delete;
};

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
                   " /O <" + security.ownerValue.toHex() + "> /U <" + security.userValue.toHex() + "> >>");
    builder.trailerExtra = "/Encrypt 4 0 R /ID [<" + id.toHex() + "> <" + id.toHex() + ">]";
    return builder.build();
}
}

TEST(KVPDFDocumentStateTest, SecondOpenOnTheSameObjectStartsWithPlainSecurity)
{
    // The redrawn copy is read by the same document object that read the encrypted file up to
    // its broken page: none of that file's security may carry over to the plain copy.
    RedrawInstalled redraw([](const QByteArray &) { return PdfBuilder::withPages(2).build(); });
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
