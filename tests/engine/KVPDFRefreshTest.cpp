// Bytes rebuilt in place: the refresh after objects changed in memory keeps every object under
// its own number, with a plain trailer of its own, and the same page objects; the open road
// turns an encrypted file into a plain working copy that still saves encrypted, and a file
// holding imprints into one whose pages carry them as objects, Info surviving every cycle.
#include "KVPDFDocument.h"
#include "KVPDFImprint.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFTrailer.h"
#include "KVPDFVersion.h"
#include "support/KVPDFSaveChecks.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace savechecks;

namespace {
std::shared_ptr<KVPDFDocument> open(const QByteArray &data, const QString &password = QString())
{
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(data, &result);
    if (result == KVPDFOpenNeedsPassword && document->validatePassword(password) == KVPDFPasswordResult::Accepted)
        result = KVPDFOpenOK;
    EXPECT_EQ(result, KVPDFOpenOK);
    return result == KVPDFOpenOK ? document : nullptr;
}

QByteArray trailerOf(const QByteArray &file)
{
    const qsizetype at = file.lastIndexOf("trailer");
    return file.mid(at, file.lastIndexOf("startxref") - at);
}

// The keys of a trailer dictionary's text, in order.
QStringList trailerKeys(const QByteArray &file)
{
    QStringList keys;
    // Top-level keys only: skip what is nested in brackets.
    const QByteArray text = trailerOf(file);
    int depth = 0;
    for (qsizetype i = text.indexOf("<<") + 2; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '[' || (c == '<' && text.mid(i, 2) == "<<"))
            ++depth;
        else if (c == ']' || (c == '>' && text.mid(i, 2) == ">>"))
            --depth;
        else if (c == '/' && depth == 0) {
            qsizetype end = i + 1;
            while (end < text.size() && QChar::fromLatin1(text.at(end)).isLetterOrNumber())
                ++end;
            keys << QString::fromLatin1(text.mid(i + 1, end - i - 1));
            // The value of this key may itself be a name.
            i = end;
            while (i < text.size() && text.at(i) == ' ')
                ++i;
            --i;
            if (i + 1 < text.size() && text.at(i + 1) == '/') {
                ++i;
                while (i + 1 < text.size() && QChar::fromLatin1(text.at(i + 1)).isLetterOrNumber())
                    ++i;
            }
        }
    }
    return keys;
}

PdfBuilder gappedFile()
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [5 0 R] /Count 1 >>");
    b.add(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] >>");
    b.add(6, "<< /Title (Gaps) /Author (Tester) >>");
    b.trailerExtra = "/Info 6 0 R";
    return b;
}

class KVPDFRefreshTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    QString store(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        EXPECT_TRUE(writeFile(path, bytes));
        return path;
    }
    QTemporaryDir m_dir;
};
}

TEST_F(KVPDFRefreshTest, ChangedDataHoldsEveryObjectUnderItsOwnNumber)
{
    auto document = open(gappedFile().build());
    ASSERT_TRUE(document);
    const QByteArray data = document->changedDocData();
    ASSERT_TRUE(data.startsWith("%PDF-1.3\n"));
    const qsizetype xref = data.lastIndexOf("xref\n0 7\n");
    ASSERT_GE(xref, 0) << "one table from 0 to the highest number";
    const QByteArray rows = data.mid(xref + 9, 7 * 20);
    EXPECT_EQ(rows.mid(0, 20), QByteArray("0000000000 65535 f \n"));
    for (int number : {1, 2, 5, 6}) {
        const qsizetype at = data.indexOf("\n" + QByteArray::number(number) + " 0 obj") + 1;
        EXPECT_EQ(rows.mid(number * 20, 20), QByteArray::number(at).rightJustified(10, '0') + " 00000 n \n") << number;
    }
    for (int number : {3, 4})
        EXPECT_EQ(rows.mid(number * 20, 20), QByteArray("0000000000 00000 f \n")) << number;
    EXPECT_EQ(qpdfCheck(store(QStringLiteral("changed.pdf"), data)).exitCode, 0);
}

// A file whose newest section is a cross-reference stream: the rebuilt file's trailer is a
// plain one of its own, whatever the original's was.
TEST_F(KVPDFRefreshTest, ChangedDataTrailerIsRootInfoIdAndSizeOnly)
{
    const QString plain = store(QStringLiteral("plain.pdf"), gappedFile().build());
    const QString packed = m_dir.filePath(QStringLiteral("packed.pdf"));
    ASSERT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--object-streams=generate"), plain, packed}).exitCode, 0);
    struct Case {
        const char *name;
        QString file;
    };
    const Case cases[] = {{"classic table", plain}, {"cross-reference stream and object streams", packed}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = open(readFile(c.file));
        ASSERT_TRUE(document);
        const QByteArray data = document->changedDocData();
        QStringList keys = trailerKeys(data);
        keys.sort();
        EXPECT_EQ(keys,
                  (QStringList{QStringLiteral("ID"), QStringLiteral("Info"), QStringLiteral("Root"), QStringLiteral("Size")}))
            << trailerOf(data).toStdString();
        EXPECT_FALSE(withoutStreamData(data).contains("/ObjStm")) << "the members are written, not their container";
        const QString rebuilt = store(QStringLiteral("rebuilt.pdf"), data);
        EXPECT_EQ(qpdfCheck(rebuilt).exitCode, 0);
        EXPECT_EQ(pdfinfoField(rebuilt, QStringLiteral("Title")), QStringLiteral("Gaps"));
    }
}

// After the refresh the page objects are the same objects, each with the re-read dictionary of
// its own number, also when the page list was reordered in memory.
TEST_F(KVPDFRefreshTest, UpdateKeepsPageObjectsAndMatchesThemByNumber)
{
    PdfBuilder b = PdfBuilder::withPages(3);
    for (int i = 0; i < 3; ++i)
        b.add(3 + i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + QByteArray::number(100 * (i + 1)) + " 500] >>");
    auto document = open(b.build());
    ASSERT_TRUE(document);
    const auto opened = document->pages();
    document->setPagesFromArray({opened[2], opened[0], opened[1]});
    opened[1]->setRotate(90); // a changed object of the table
    std::vector<uint64_t> numbers;
    std::vector<const KVPDFObjectDictionary *> dictionaries;
    for (const auto &page : document->pages()) {
        numbers.push_back(page->pageDictionary()->objectNumber());
        dictionaries.push_back(page->pageDictionary().get());
    }
    ASSERT_TRUE(document->updateDocData());
    ASSERT_EQ(document->pageCount(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(document->pageAtIndex(i), i == 0 ? opened[2] : opened[i - 1]) << "the same page objects";
        EXPECT_EQ(document->pageAtIndex(i)->pageDictionary()->objectNumber(), numbers[i]);
        EXPECT_NE(document->pageAtIndex(i)->pageDictionary().get(), dictionaries[i]) << "re-read from the new bytes";
    }
    EXPECT_EQ(opened[0]->mediaBox().width(), 100);
    EXPECT_EQ(opened[1]->rotate().value_or(0), 90);
    EXPECT_EQ(opened[2]->mediaBox().width(), 300);
    // The data is the working copy of the rebuilt file, in the current page order.
    const QString current = store(QStringLiteral("current.pdf"), document->docData());
    EXPECT_EQ(qpdfCheck(current).exitCode, 0);
    const std::vector<QStringList> boxes = pdfinfoBoxes(current);
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("MediaBox 0.00 0.00 300.00 500.00")));
    EXPECT_TRUE(boxes[2].contains(QStringLiteral("rot 90")));
}

TEST_F(KVPDFRefreshTest, PageBroughtInFromAnotherDocumentKeepsItsOwnDictionary)
{
    // The rebuilt page tree still lists the pages the table had; a page imported since is not
    // among them and must not be given the dictionary of a page taken out, even when the counts
    // agree.
    PdfBuilder a = PdfBuilder::withPages(2);
    for (int i = 0; i < 2; ++i)
        a.add(3 + i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + QByteArray::number(100 * (i + 1)) + " 500] >>");
    auto document = open(a.build());
    auto other = open(PdfBuilder::withPages(1, "/MediaBox [0 0 700 500]").build());
    ASSERT_TRUE(document && other);
    document->removePageAtIndex(0);
    document->insertPage(other->pageAtIndex(0)->copy(), 1);
    other.reset();
    ASSERT_TRUE(document->updateDocData());
    ASSERT_EQ(document->pageCount(), 2u);
    EXPECT_EQ(document->pageAtIndex(0)->mediaBox().width(), 200);
    EXPECT_EQ(document->pageAtIndex(1)->mediaBox().width(), 700);
    const std::vector<QStringList> boxes = pdfinfoBoxes(store(QStringLiteral("current.pdf"), document->docData()));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("MediaBox 0.00 0.00 200.00 500.00")));
    EXPECT_TRUE(boxes[1].contains(QStringLiteral("MediaBox 0.00 0.00 700.00 500.00")));
}

TEST_F(KVPDFRefreshTest, ChangedDataIsPlainEvenWhenSavesEncrypt)
{
    auto document = open(gappedFile().build());
    ASSERT_TRUE(document);
    document->setUserPassword(QStringLiteral("u"), QStringLiteral("o"), 0xFFFFFFFC);
    ASSERT_TRUE(document->isEncrypting());
    const QByteArray data = document->changedDocData();
    EXPECT_TRUE(data.contains("(Gaps)"));
    EXPECT_FALSE(withoutStreamData(data).contains("/Encrypt"));
    EXPECT_TRUE(document->isEncrypting()) << "the next save still encrypts";
    ASSERT_TRUE(document->updateDocData());
    const QString saved = m_dir.filePath(QStringLiteral("saved.pdf"));
    ASSERT_TRUE(document->writeUpdatedDocument(saved, {}));
    EXPECT_EQ(pdfinfoField(saved, QStringLiteral("Title"), QStringLiteral("u")), QStringLiteral("Gaps"));
    EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--is-encrypted"), saved}).exitCode, 0);
}

// Fields the engine has no class for (a signature without a widget here) stay in the form
// through a refresh and a save.
TEST_F(KVPDFRefreshTest, FormFieldsTheEngineDoesNotModelSurvive)
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Annots [5 0 R]");
    b.add(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R 6 0 R] /SigFlags 3 >> >>");
    b.add(5, "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (Ada) /Rect [10 10 200 40] /P 3 0 R >>");
    b.add(6, "<< /FT /Sig /T (signature) /V 7 0 R >>");
    b.add(7, "<< /Type /Sig /Filter /Adobe.PPKLite /Contents <0011223344> >>");
    auto document = open(b.build());
    ASSERT_TRUE(document);
    ASSERT_TRUE(document->updateDocData());
    auto names = [](KVPDFDocument &d) {
        QStringList found;
        auto form = kv_cast<KVPDFObjectDictionary>(d.rootObject()->resolvedObjectForKey("AcroForm"));
        auto fields = form ? kv_cast<KVPDFObjectArray>(form->resolvedObjectForKey("Fields")) : nullptr;
        for (size_t i = 0; fields && i < fields->count(); ++i)
            if (auto field = kv_cast<KVPDFObjectDictionary>(fields->resolvedObjectAtIndex(i)))
                found << kv_cast<KVPDFObjectString>(field->resolvedObjectForKey("T"))->stringValue();
        return found;
    };
    const QStringList expected{QStringLiteral("name"), QStringLiteral("signature")};
    EXPECT_EQ(names(*document), expected);
    auto saved = open(document->currentDataWithImprints(true));
    ASSERT_TRUE(saved);
    EXPECT_EQ(names(*saved), expected);
}

// An encrypted file is read once into a plain copy; the document keeps what it needs to save
// encrypted again, and a later password only tells who the user is.
TEST_F(KVPDFRefreshTest, EncryptedFileBecomesAPlainWorkingCopy)
{
    struct Case {
        const char *name;
        QString file;
        QString password;
        bool owner;
    };
    const Case cases[] = {
        {"AES, empty user password", QStringLiteral("qpdf/V4-aes.pdf"), QString(), false},
        {"RC4, user password", QStringLiteral("qpdf/enc-R3,V2,U=view,O=master.pdf"), QStringLiteral("view"), false},
        {"RC4, owner password", QStringLiteral("qpdf/enc-R3,V2,U=view,O=master.pdf"), QStringLiteral("master"), true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString input = QDir(corpusDir()).filePath(c.file);
        auto document = open(readFile(input), c.password);
        ASSERT_TRUE(document);
        EXPECT_FALSE(document->isDecrypting()) << "the read key is gone";
        EXPECT_FALSE(document->fileKey().isEmpty());
        EXPECT_FALSE(document->awaitingPassword());
        EXPECT_TRUE(document->isEncrypting());
        ASSERT_TRUE(document->encryptDictionary());
        EXPECT_EQ(document->isOwner(), c.owner);
        EXPECT_FALSE(withoutStreamData(document->docData()).contains("/Encrypt")) << "the data is plain";
        const QString current = store(QStringLiteral("current.pdf"), document->docData());
        EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--is-encrypted"), current}).exitCode, 2);
        EXPECT_EQ(pdftotextPages(current),
                  pdftotextPages(input, c.password == QLatin1String("master") ? QStringLiteral("view") : c.password));

        const QByteArray data = document->docData();
        if (!c.owner) {
            EXPECT_EQ(document->validatePassword(QStringLiteral("wrong")), KVPDFPasswordResult::Refused);
            if (!c.password.isEmpty()) {
                EXPECT_EQ(document->validatePassword(QStringLiteral("master")), KVPDFPasswordResult::Accepted);
                EXPECT_TRUE(document->isOwner());
            }
        }
        EXPECT_TRUE(document->docData() == data) << "a later password reads nothing again";

        const QString saved = m_dir.filePath(QStringLiteral("saved.pdf"));
        ASSERT_TRUE(document->writeUpdatedDocument(saved, {}));
        EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--is-encrypted"), saved}).exitCode, 0);
        const QString readPassword = c.password.isEmpty() ? QString() : QStringLiteral("view");
        EXPECT_EQ(qpdfCheck(saved, readPassword).exitCode, 0);
        EXPECT_EQ(pdftotextPages(saved, readPassword), pdftotextPages(current));
    }
}

// Title, Author and the version mark survive opening and saving again and again, also for a
// file that holds an imprint; the working copy made at open draws the page without it.
TEST_F(KVPDFRefreshTest, InfoAndImprintsSurviveOpenSaveCycles)
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 200 200]");
    b.add(6, "<< /Title (Cycles) /Author (Ada Lovelace) /Producer (someone) >>");
    b.trailerExtra = "/Info 6 0 R";
    auto document = open(b.build());
    ASSERT_TRUE(document);
    const QByteArray box = PdfBuilder::withPages(1, "/MediaBox [0 0 50 50] /Contents 9 0 R")
                               .add(9, "<< /Length 17 >>\nstream\n0 g 0 0 50 50 re f\nendstream")
                               .build();
    auto imprint = KVPDFImprint::imprintWithData(box, {75, 75});
    imprint->setSize({50, 50});
    imprint->setDictionary({{QStringLiteral("kind"), QStringLiteral("box")}});
    document->pageAtIndex(0)->addImprint(imprint);
    QByteArray data = document->currentDataWithImprints(true);
    for (int cycle = 1; cycle <= 3; ++cycle) {
        SCOPED_TRACE(cycle);
        const QString saved = store(QStringLiteral("saved.pdf"), data);
        EXPECT_EQ(pdfinfoField(saved, QStringLiteral("Title")), QStringLiteral("Cycles"));
        EXPECT_EQ(pdfinfoField(saved, QStringLiteral("Author")), QStringLiteral("Ada Lovelace"));
        EXPECT_TRUE(trailerOf(data).contains("/FolivoVersion (" FOLIVO_VERSION ")"));
        const std::vector<QImage> drawn = renderGray(saved, m_dir.filePath(QStringLiteral("saved")));
        ASSERT_EQ(drawn.size(), 1u);
        EXPECT_EQ(qGray(drawn[0].pixel(100, 100)), 0) << "the saved file draws the imprint";

        auto reopened = open(data);
        ASSERT_TRUE(reopened);
        ASSERT_EQ(reopened->pageAtIndex(0)->contentImprints().size(), 1u);
        EXPECT_EQ(reopened->pageAtIndex(0)->contentImprints()[0]->dictionary().value(QStringLiteral("kind")),
                  QStringLiteral("box"));
        const QString working = store(QStringLiteral("working.pdf"), reopened->docData());
        EXPECT_EQ(qpdfCheck(working).exitCode, 0);
        EXPECT_EQ(pdfinfoField(working, QStringLiteral("Title")), QStringLiteral("Cycles"));
        const std::vector<QImage> bare = renderGray(working, m_dir.filePath(QStringLiteral("working")));
        ASSERT_EQ(bare.size(), 1u);
        EXPECT_EQ(qGray(bare[0].pixel(100, 100)), 255) << "the working copy leaves the imprint to the layers above";
        data = reopened->currentDataWithImprints(true);
        ASSERT_FALSE(data.isEmpty());
    }
}
