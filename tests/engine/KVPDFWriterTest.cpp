// The full rewrite gives a file peer tools accept, with one classic cross-reference table, the
// objects numbered 1..N without gaps, the current page list (reordered, shortened) and what the
// pages inherited, Info kept across saves; the working copy is a valid incremental update. A
// save that cannot be completed leaves the old file alone and says so.
#include "KVPDFAnnotation.h"
#include "KVPDFDataWriter.h"
#include "KVPDFDocument.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFTrailer.h"
#include "support/KVPDFSaveChecks.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::shared_ptr<KVPDFDocument> openData(const QByteArray &data)
{
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(data, &result);
    EXPECT_EQ(result, 0);
    return result == 0 ? document : nullptr;
}

using savechecks::pdfinfoBoxes;
using savechecks::pdfinfoField;
using savechecks::pdfinfoPages;
using savechecks::qpdfCheck;
using savechecks::readFile;
using savechecks::withoutStreamData;
using savechecks::writeFile;

void expectFullRewriteShape(const QByteArray &file, const QByteArray &eol = "\n")
{
    const QStringList problems = savechecks::fullRewriteShapeProblems(file, eol);
    EXPECT_TRUE(problems.isEmpty()) << problems.join(QStringLiteral("; ")).toStdString();
}

class KVPDFWriterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }

    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Saves through the file writer and answers the path.
    QString save(KVPDFDocument &document, const QString &name)
    {
        const QString target = path(name);
        EXPECT_TRUE(document.writeUpdatedDocument(target, {{QStringLiteral("compression"), 0}}));
        return target;
    }

    QString store(const QString &name, const QByteArray &bytes)
    {
        const QString target = path(name);
        EXPECT_TRUE(writeFile(target, bytes));
        return target;
    }

    void expectCleanCheck(const QString &file)
    {
        const ToolResult check = qpdfCheck(file);
        EXPECT_EQ(check.exitCode, 0) << check.out.toStdString() << check.err.toStdString();
    }

    QTemporaryDir m_dir;
};

// A page tree with an intermediate node that gives its page Rotate, MediaBox, CropBox and
// Resources, beside a page that has its own, under a root with Rotate of its own.
PdfBuilder nestedTree()
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 3 /Rotate 180 /MediaBox [0 0 500 500] >>");
    b.add(3, "<< /Type /Pages /Parent 2 0 R /Kids [5 0 R 6 0 R] /Count 2 /Rotate 90 /MediaBox [0 0 200 300]"
             " /CropBox [10 10 190 290] /Resources << /Font << /F1 7 0 R >> >> >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R /Contents 8 0 R >>");
    b.add(5, "<< /Type /Page /Parent 3 0 R /Contents 8 0 R >>");
    b.add(6, "<< /Type /Page /Parent 3 0 R /Rotate 0 /MediaBox [0 0 400 100] /Contents 8 0 R >>");
    b.add(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    b.add(8, "<< /Length 34 >>\nstream\nBT /F1 12 Tf 20 20 Td (Hi) Tj ET\n\nendstream");
    return b;
}

// Three pages of widths 100, 200, 300, each with its own marked content; page 1 links to page 2.
PdfBuilder threePages()
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>");
    for (int i = 0; i < 3; ++i) {
        const QByteArray n = QByteArray::number(i + 1);
        const QByteArray content = "% content of page " + n + "\n0 0 10 10 re f\n";
        b.add(3 + i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + QByteArray::number(100 * (i + 1)) + " 500] /Contents "
                         + QByteArray::number(6 + i) + " 0 R" + (i == 0 ? " /Annots [9 0 R]" : "") + " >>");
        b.add(6 + i, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream");
    }
    b.add(9, "<< /Type /Annot /Subtype /Link /Rect [0 0 50 50] /Border [0 0 0] /Dest [4 0 R /Fit] >>");
    return b;
}

QByteArray withInfo(PdfBuilder b, const QByteArray &info)
{
    b.add(20, info);
    b.trailerExtra = "/Info 20 0 R";
    return b.build();
}

// Appends an incremental update to `file` that replaces and frees objects.
QByteArray appendUpdate(const QByteArray &file, const std::map<int, QByteArray> &changed, const std::vector<int> &freed, int size,
                        int root = 1)
{
    QByteArray out = file;
    const qsizetype previous =
        QRegularExpression(QStringLiteral("startxref\\s+(\\d+)")).match(QString::fromLatin1(file)).captured(1).toLongLong();
    std::map<int, qsizetype> offsets;
    for (const auto &[number, text] : changed) {
        offsets[number] = out.size();
        out += QByteArray::number(number) + " 0 obj\n" + text + "\nendobj\n";
    }
    const qsizetype xref = out.size();
    out += "xref\n";
    for (const auto &[number, offset] : offsets)
        out += QByteArray::number(number) + " 1\n" + QByteArray::number(offset).rightJustified(10, '0') + " 00000 n\r\n";
    for (int number : freed)
        out += QByteArray::number(number) + " 1\n0000000000 00001 f\r\n";
    out += "trailer\n<< /Size " + QByteArray::number(size) + " /Root " + QByteArray::number(root) + " 0 R /Prev "
           + QByteArray::number(previous) + " >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return out;
}
}

TEST_F(KVPDFWriterTest, BuiltDocumentsRewriteIntoOneCleanTable)
{
    struct Case {
        const char *name;
        QByteArray input;
        bool peerReadsInput = true; // the reference reader finds the input's pages
    };
    PdfBuilder crlf = threePages();
    crlf.header = "%PDF-1.4\r\n%\xE2\xE3\xCF\xD3\r\n";
    PdfBuilder dangling = PdfBuilder::withPages(2, "/MediaBox [0 0 300 300] /Annots [99 0 R] /Foo 98 0 R");
    PdfBuilder noBox = PdfBuilder::withPages(1, "");
    PdfBuilder directPages = PdfBuilder::withPages(1);
    directPages.add(1, "<< /Type /Catalog /Pages << /Type /Pages /Kids [3 0 R] /Count 1 >> >>");
    const Case cases[] = {
        {"flat tree", PdfBuilder::withPages(2).build()},
        {"nested tree with inherited keys", nestedTree().build()},
        {"link between pages", threePages().build()},
        {"CRLF line ends", crlf.build()},
        {"references to missing objects", dangling.build()},
        {"page without a media box", noBox.build()},
        {"page tree root held directly in the catalogue", directPages.build(), false},
        {"incremental update replacing a page and freeing an object",
         appendUpdate(withInfo(threePages(), "<< /Title (Three) >>"),
                      {{4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 222 500] /Contents 7 0 R >>"}}, {9}, 21)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString input = store(QStringLiteral("input.pdf"), c.input);
        auto document = openData(c.input);
        ASSERT_TRUE(document);
        const QString output = save(*document, QStringLiteral("output.pdf"));
        const QByteArray file = readFile(output);
        expectFullRewriteShape(file, document->EOL());
        expectCleanCheck(output);
        EXPECT_EQ(size_t(pdfinfoPages(output)), document->pageCount());
        if (c.peerReadsInput) {
            EXPECT_EQ(pdfinfoBoxes(output), pdfinfoBoxes(input));
        }
        // The same bytes in memory, and again on a second save: saving changes nothing.
        EXPECT_TRUE(document->currentDataWithImprints(true) == file);
    }
}

TEST_F(KVPDFWriterTest, PagesKeepWhatTheyInheritedFromTheirPageTreeNode)
{
    auto document = openData(nestedTree().build());
    ASSERT_TRUE(document);
    const QString output = save(*document, QStringLiteral("nested.pdf"));
    const std::vector<QStringList> boxes = pdfinfoBoxes(output);
    ASSERT_EQ(boxes.size(), 3u);
    // Page order: the intermediate node's two pages, then the root's own page.
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("rot 90")));
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("MediaBox 0.00 0.00 200.00 300.00")));
    EXPECT_TRUE(boxes[0].contains(QStringLiteral("CropBox 10.00 10.00 190.00 290.00")));
    EXPECT_TRUE(boxes[1].contains(QStringLiteral("rot 0"))) << "a page's own value wins";
    EXPECT_TRUE(boxes[1].contains(QStringLiteral("MediaBox 0.00 0.00 400.00 100.00")));
    EXPECT_TRUE(boxes[2].contains(QStringLiteral("rot 180"))) << "inherited from the root";
    EXPECT_TRUE(boxes[2].contains(QStringLiteral("MediaBox 0.00 0.00 500.00 500.00")));

    // The inherited font is still there for the engine too.
    auto reread = openData(readFile(output));
    ASSERT_TRUE(reread);
    ASSERT_EQ(reread->pageCount(), 3u);
    auto resources = kv_cast<KVPDFObjectDictionary>(reread->pageAtIndex(0)->pageDictionary()->resolvedObjectForKey("Resources"));
    ASSERT_TRUE(resources);
    auto fonts = kv_cast<KVPDFObjectDictionary>(resources->resolvedObjectForKey("Font"));
    ASSERT_TRUE(fonts);
    auto font = kv_cast<KVPDFObjectDictionary>(fonts->resolvedObjectForKey("F1"));
    ASSERT_TRUE(font);
    EXPECT_EQ(font->nameForKey("BaseFont"), QByteArray("Helvetica"));
    EXPECT_EQ(reread->pageAtIndex(0)->rotate().value_or(-1), 90);
}

TEST_F(KVPDFWriterTest, TheCurrentPageListIsWhatGetsWritten)
{
    struct Case {
        const char *name;
        std::vector<size_t> order; // indexes into the opened pages
        std::vector<int> widths;
    };
    const Case cases[] = {
        {"reversed", {2, 1, 0}, {300, 200, 100}},
        {"middle page deleted and the rest swapped", {2, 0}, {300, 100}},
        {"first page only", {0}, {100}},
        {"a page twice", {1, 1}, {200, 200}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = openData(threePages().build());
        ASSERT_TRUE(document);
        const auto opened = document->pages();
        std::vector<std::shared_ptr<KVPDFPage>> pages;
        for (size_t index : c.order)
            pages.push_back(opened[index]);
        document->setPagesFromArray(pages);
        const QString output = save(*document, QStringLiteral("pages.pdf"));
        const QByteArray file = readFile(output);
        expectFullRewriteShape(file);
        expectCleanCheck(output);
        const std::vector<QStringList> boxes = pdfinfoBoxes(output);
        ASSERT_EQ(boxes.size(), c.widths.size());
        for (size_t i = 0; i < boxes.size(); ++i)
            EXPECT_TRUE(boxes[i].contains(QStringLiteral("MediaBox 0.00 0.00 %1.00 500.00").arg(c.widths[i]))) << i;
        // Pages left out leave nothing behind: not their content, not a page object.
        for (int page = 1; page <= 3; ++page) {
            const bool kept = std::find(c.order.begin(), c.order.end(), size_t(page - 1)) != c.order.end();
            EXPECT_EQ(file.contains("% content of page " + QByteArray::number(page)), kept) << page;
        }
        EXPECT_EQ(withoutStreamData(file).count("/Type /Page "), qsizetype(c.widths.size()));
    }
}

TEST_F(KVPDFWriterTest, LinkToADeletedPageBecomesNullAndLinkToAKeptPageFollowsIt)
{
    auto document = openData(threePages().build());
    ASSERT_TRUE(document);
    const auto opened = document->pages();
    // Page 1 links to page 2. Kept: the link must point at the written page 2.
    {
        auto reread = openData(document->currentDataWithImprints(true));
        ASSERT_TRUE(reread);
        auto annots = kv_cast<KVPDFObjectArray>(reread->pageAtIndex(0)->pageDictionary()->resolvedObjectForKey("Annots"));
        ASSERT_TRUE(annots);
        auto link = kv_cast<KVPDFObjectDictionary>(annots->resolvedObjectAtIndex(0));
        ASSERT_TRUE(link);
        auto dest = kv_cast<KVPDFObjectArray>(link->resolvedObjectForKey("Dest"));
        ASSERT_TRUE(dest);
        EXPECT_EQ(dest->resolvedObjectAtIndex(0), reread->pageAtIndex(1)->pageDictionary());
    }
    // Deleted: the destination's page is null, and no stray page object is written.
    document->setPagesFromArray({opened[0], opened[2]});
    KVPDFLogCapture capture;
    const QByteArray file = document->currentDataWithImprints(true);
    EXPECT_TRUE(capture.contains(QStringLiteral("no longer in the document")));
    EXPECT_TRUE(withoutStreamData(file).contains("/Dest [ null /Fit ]"));
    EXPECT_EQ(withoutStreamData(file).count("/Type /Page "), 2);
    EXPECT_FALSE(file.contains("% content of page 2"));
}

TEST_F(KVPDFWriterTest, InfoTextSurvivesTwoSaveCycles)
{
    const QByteArray info = "<< /Title (Quarterly report) /Author <FEFF004A00F6007200670020004D00FC006C006C00650072>"
                            " /CreationDate (D:20240102030405+01'00') /Trapped /False /Pages 3 0 R >>";
    QByteArray data = withInfo(PdfBuilder::withPages(1), info);
    for (int cycle = 1; cycle <= 2; ++cycle) {
        SCOPED_TRACE("cycle " + std::to_string(cycle));
        auto document = openData(data);
        ASSERT_TRUE(document);
        const QString output = save(*document, QStringLiteral("cycle%1.pdf").arg(cycle));
        data = readFile(output);
        expectCleanCheck(output);
        EXPECT_EQ(pdfinfoField(output, QStringLiteral("Title")), QStringLiteral("Quarterly report"));
        EXPECT_EQ(pdfinfoField(output, QStringLiteral("Author")), QString::fromUtf8("Jörg Müller"));
        EXPECT_TRUE(withoutStreamData(data).contains("/CreationDate (D:20240102030405+01'00')"));
        // Only text entries are kept.
        EXPECT_FALSE(withoutStreamData(data).contains("/Trapped"));
    }
}

TEST_F(KVPDFWriterTest, EveryLineEndsWithTheDocumentsLineEnd)
{
    struct Case {
        const char *name;
        QByteArray eol;
    };
    const Case cases[] = {{"LF", "\n"}, {"CR LF", "\r\n"}, {"CR", "\r"}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b = threePages();
        b.header = "%PDF-1.4" + c.eol + "%\xE2\xE3\xCF\xD3" + c.eol;
        auto document = openData(b.build());
        ASSERT_TRUE(document);
        ASSERT_EQ(document->EOL(), c.eol);
        const QByteArray file = document->currentDataWithImprints(true);
        expectFullRewriteShape(file, c.eol);
        // Take out what has a fixed form: stream data and the 20-byte table rows.
        QByteArray rest = withoutStreamData(file);
        QString text = QString::fromLatin1(rest);
        text.remove(QRegularExpression(QStringLiteral("\\d{10} \\d{5} [nf] \\n")));
        const QString eol = QString::fromLatin1(c.eol);
        for (const char *line : {"obj", "endobj", "xref", "trailer", "startxref", "%%EOF"})
            EXPECT_TRUE(text.contains(QString::fromLatin1(line) + eol)) << line;
        QString stripped = text;
        stripped.remove(eol);
        EXPECT_FALSE(stripped.contains(QLatin1Char('\n')) || stripped.contains(QLatin1Char('\r')))
            << "a line end other than the document's";
        const QString output = store(QStringLiteral("eol.pdf"), file);
        expectCleanCheck(output);
    }
}

TEST_F(KVPDFWriterTest, ProgressIsPostedOncePerPageAndTheOutlineNoticeOnlyWithAnOutline)
{
    struct Case {
        const char *name;
        QByteArray catalog;
        bool outline;
    };
    const Case cases[] = {
        {"without outline", "<< /Type /Catalog /Pages 2 0 R >>", false},
        {"with outline", "<< /Type /Catalog /Pages 2 0 R /Outlines 30 0 R >>", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b = threePages();
        b.add(1, c.catalog);
        b.add(30, "<< /Type /Outlines /First 31 0 R /Last 31 0 R /Count 1 >>");
        b.add(31, "<< /Title (Second page) /Parent 30 0 R /Dest [4 0 R /XYZ null null null] >>");
        auto document = openData(b.build());
        ASSERT_TRUE(document);
        std::vector<std::pair<QString, QVariantMap>> posted;
        document->setNotificationHandler(
            [&posted](const QString &name, const QVariantMap &info) { posted.emplace_back(name, info); });
        ASSERT_FALSE(document->currentDataWithImprints(true).isEmpty());
        std::vector<double> percentages;
        int outlineNotices = 0;
        for (const auto &[name, info] : posted) {
            if (name == QLatin1String("KVPDFDocumentSaveProgress"))
                percentages.push_back(info.value(QStringLiteral("Percentage")).toDouble());
            else if (name == QLatin1String("KVPDFDocumentWillSaveOutline"))
                ++outlineNotices;
            else
                ADD_FAILURE() << "unexpected notification " << name.toStdString();
        }
        ASSERT_EQ(percentages.size(), 3u);
        EXPECT_DOUBLE_EQ(percentages[0], 0.0);
        EXPECT_DOUBLE_EQ(percentages[1], 1.0 / 3.0);
        EXPECT_DOUBLE_EQ(percentages[2], 2.0 / 3.0);
        EXPECT_EQ(outlineNotices, c.outline ? 1 : 0);
    }
}

TEST_F(KVPDFWriterTest, OutlineDestinationsFollowTheirPages)
{
    PdfBuilder b = threePages();
    b.add(1, "<< /Type /Catalog /Pages 2 0 R /Outlines 30 0 R /PageMode /UseOutlines >>");
    b.add(30, "<< /Type /Outlines /First 31 0 R /Last 31 0 R /Count 1 >>");
    b.add(31, "<< /Title (Third page) /Parent 30 0 R /Dest [5 0 R /XYZ null null null] >>");
    auto document = openData(b.build());
    ASSERT_TRUE(document);
    const auto opened = document->pages();
    document->setPagesFromArray({opened[2], opened[0]});
    const QString output = store(QStringLiteral("outline.pdf"), document->currentDataWithImprints(true));
    expectCleanCheck(output);
    auto reread = openData(readFile(output));
    ASSERT_TRUE(reread);
    auto outlines = kv_cast<KVPDFObjectDictionary>(reread->rootObject()->resolvedObjectForKey("Outlines"));
    ASSERT_TRUE(outlines);
    auto item = kv_cast<KVPDFObjectDictionary>(outlines->resolvedObjectForKey("First"));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->resolvedObjectForKey("Parent"), outlines);
    auto dest = kv_cast<KVPDFObjectArray>(item->resolvedObjectForKey("Dest"));
    ASSERT_TRUE(dest);
    EXPECT_EQ(dest->resolvedObjectAtIndex(0), reread->pageAtIndex(0)->pageDictionary()) << "the third page is now the first";
    EXPECT_EQ(reread->rootObject()->nameForKey("PageMode"), QByteArray("UseOutlines"));
}

TEST_F(KVPDFWriterTest, FormFieldsTheEngineDoesNotModelAreKept)
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Annots [5 0 R]");
    b.add(1,
          "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R 6 0 R] /NeedAppearances true /DA (/Helv 0 Tf 0 g) >> >>");
    b.add(5, "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /V (Ada) /Rect [10 10 200 40] /P 3 0 R >>");
    // A field with no widget on any page, and one whose kids carry a signature.
    b.add(6, "<< /FT /Sig /T (signature) /Ff 0 /Kids [] >>");
    auto document = openData(b.build());
    ASSERT_TRUE(document);
    const QString output = save(*document, QStringLiteral("form.pdf"));
    expectCleanCheck(output);
    auto reread = openData(readFile(output));
    ASSERT_TRUE(reread);
    EXPECT_TRUE(reread->hasFields());
    auto form = kv_cast<KVPDFObjectDictionary>(reread->rootObject()->resolvedObjectForKey("AcroForm"));
    ASSERT_TRUE(form);
    EXPECT_TRUE(form->objectForKey("NeedAppearances"));
    auto fields = kv_cast<KVPDFObjectArray>(form->resolvedObjectForKey("Fields"));
    ASSERT_TRUE(fields);
    ASSERT_EQ(fields->count(), 2u);
    QStringList names;
    for (size_t i = 0; i < fields->count(); ++i) {
        auto field = kv_cast<KVPDFObjectDictionary>(fields->resolvedObjectAtIndex(i));
        ASSERT_TRUE(field);
        names << kv_cast<KVPDFObjectString>(field->resolvedObjectForKey("T"))->stringValue();
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("name"), QStringLiteral("signature")}));
    // The widget is the same object in Fields and in the page's Annots, and points at its page.
    auto annots = kv_cast<KVPDFObjectArray>(reread->pageAtIndex(0)->pageDictionary()->resolvedObjectForKey("Annots"));
    ASSERT_TRUE(annots);
    EXPECT_EQ(annots->resolvedObjectAtIndex(0), fields->resolvedObjectAtIndex(0));
    auto widget = kv_cast<KVPDFObjectDictionary>(fields->resolvedObjectAtIndex(0));
    EXPECT_EQ(widget->resolvedObjectForKey("P"), reread->pageAtIndex(0)->pageDictionary());
}

TEST_F(KVPDFWriterTest, ObjectStreamsAndCrossReferenceStreamsBecomeOneClassicTable)
{
    const QString input = store(QStringLiteral("plain.pdf"), withInfo(threePages(), "<< /Title (Packed) >>"));
    const QString packed = path(QStringLiteral("packed.pdf"));
    const ToolResult pack = runTool(QStringLiteral("qpdf"), {QStringLiteral("--object-streams=generate"), input, packed});
    ASSERT_EQ(pack.exitCode, 0) << pack.err.toStdString();
    ASSERT_TRUE(readFile(packed).contains("/ObjStm"));
    auto document = openData(readFile(packed));
    ASSERT_TRUE(document);
    const QString output = save(*document, QStringLiteral("unpacked.pdf"));
    expectFullRewriteShape(readFile(output));
    expectCleanCheck(output);
    EXPECT_EQ(pdfinfoBoxes(output), pdfinfoBoxes(input));
    EXPECT_EQ(pdfinfoField(output, QStringLiteral("Title")), QStringLiteral("Packed"));
}

TEST_F(KVPDFWriterTest, UnreachableObjectsAreLeftOut)
{
    PdfBuilder b = PdfBuilder::withPages(1);
    b.add(10, "(orphan string nobody refers to)");
    b.add(11, "<< /Kind /Orphan >>");
    const QByteArray updated = appendUpdate(b.build(), {{12, "(written later, never used)"}}, {10}, 13);
    auto document = openData(updated);
    ASSERT_TRUE(document);
    const QByteArray file = document->currentDataWithImprints(true);
    expectFullRewriteShape(file);
    EXPECT_FALSE(file.contains("orphan string"));
    EXPECT_FALSE(file.contains("/Orphan"));
    EXPECT_FALSE(file.contains("never used"));
    // Catalogue, page tree, page: three objects.
    EXPECT_TRUE(file.contains("/Size 4"));
}

// A file that opens but holds one object that does not parse: every writer writes that object
// as null (or leaves the key that named it out, which means the same) with a log line, and the
// rest of the file as usual.
TEST_F(KVPDFWriterTest, AnObjectThatDoesNotParseIsWrittenAsNull)
{
    const QByteArray unreadable = "<< /Garbage [1 ) 2] >>";
    const QByteArray content = "<< /Length 8 >>\nstream\n0 0 m S\n\nendstream";
    struct Case {
        const char *name;
        QByteArray pageKeys;
        QByteArray rootKeys;
        QByteArray info; // the trailer's Info (object 20 holds infoText)
        QByteArray infoText;
        QByteArray written; // in the full rewrite, besides what every case checks
    };
    const Case cases[] = {
        {"Info", "", "", "9 0 R", "", ""},
        {"a text of Info", "", "", "20 0 R", "<< /Title 9 0 R /Author (Kept) >>", "/Author (Kept)"},
        {"the page's Contents", "/Contents 9 0 R", "", "", "", ""},
        // Readers skip what is not a stream in Contents; written as null it is an error.
        {"one of the page's Contents", "/Contents [8 0 R 9 0 R]", "", "", "", "/Contents 5 0 R"},
        {"the page's Resources", "/Resources 9 0 R", "", "", "", ""},
        {"a font of the page's Resources", "/Resources << /Font << /F1 9 0 R >> >>", "", "", "", "/Font << >>"},
        {"the page's Rotate", "/Rotate 9 0 R", "", "", "", ""},
        {"the page's Parent", "/Parent 9 0 R", "", "", "", ""},
        {"the page's Annots", "/Annots [9 0 R]", "", "", "", "/Annots [ null ]"},
        {"the catalogue's AcroForm", "", "/AcroForm 9 0 R", "", "", ""},
        {"the form's Fields", "", "/AcroForm << /Fields 9 0 R >>", "", "", "/AcroForm << >>"},
        {"the page tree's inherited Resources", "", "", "", "", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        PdfBuilder b = PdfBuilder::withPages(2, "/MediaBox [0 0 300 300] " + c.pageKeys);
        b.add(1, "<< /Type /Catalog /Pages 2 0 R " + c.rootKeys + " >>");
        if (QByteArrayView(c.name) == "the page tree's inherited Resources")
            b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 /Resources 9 0 R >>");
        b.add(8, content);
        b.add(9, unreadable);
        if (!c.infoText.isEmpty())
            b.add(20, c.infoText);
        if (!c.info.isEmpty())
            b.trailerExtra = "/Info " + c.info;
        const QByteArray original = b.build();
        auto document = openData(original);
        ASSERT_TRUE(document);
        ASSERT_EQ(document->pageCount(), 2u);

        {
            SCOPED_TRACE("full rewrite");
            KVPDFLogCapture capture;
            const QString output = save(*document, QStringLiteral("rewrite.pdf"));
            const QByteArray file = readFile(output);
            expectFullRewriteShape(file);
            expectCleanCheck(output);
            EXPECT_EQ(pdfinfoPages(output), 2);
            EXPECT_FALSE(file.contains("/Garbage"));
            EXPECT_TRUE(withoutStreamData(file).contains(c.written));
            EXPECT_TRUE(capture.contains(QStringLiteral("could not be read"))) << capture.messages.join('\n').toStdString();
        }
        {
            SCOPED_TRACE("working copy");
            KVPDFLogCapture capture;
            const QByteArray file = document->currentDataWithImprints(false);
            ASSERT_TRUE(file.startsWith(original));
            // The update's objects leave the file's own object where it is and refer to it no
            // more (the trailer keeps the file's Info as it stands).
            const QByteArray update = file.mid(original.size());
            EXPECT_FALSE(update.left(update.lastIndexOf("trailer")).contains(" 9 0 R"));
            auto reread = openData(file);
            ASSERT_TRUE(reread);
            EXPECT_EQ(reread->pageCount(), 2u);
        }
        {
            SCOPED_TRACE("refresh");
            KVPDFLogCapture capture;
            const QByteArray file = document->changedDocData();
            EXPECT_FALSE(file.contains("/Garbage"));
            // Objects keep their numbers here: what referred to the object refers to a free
            // number, which reads as null (a warning to the peer in Contents, not an error).
            const ToolResult check = qpdfCheck(store(QStringLiteral("refresh.pdf"), file));
            EXPECT_TRUE(check.exitCode == 0 || check.exitCode == 3) << check.out.toStdString();
            EXPECT_TRUE(capture.contains(QStringLiteral("could not be read"))) << capture.messages.join('\n').toStdString();
        }
    }
}

TEST_F(KVPDFWriterTest, SavingLeavesTheDocumentAsItWas)
{
    auto document = openData(nestedTree().build());
    ASSERT_TRUE(document);
    // Objects still unread when the document opened are read (and take their parsed place in
    // the table) by the first write; the second must change nothing at all.
    const QByteArray first = document->currentDataWithImprints(true);
    ASSERT_FALSE(first.isEmpty());
    std::unordered_map<uint64_t, KVPDFObject *> before;
    for (const auto &[number, object] : document->objects())
        before[number] = object.get();
    std::vector<QByteArray> pageTexts;
    for (const auto &page : document->pages())
        pageTexts.push_back(page->pageDictionary()->directObject());
    EXPECT_TRUE(document->currentDataWithImprints(true) == first);
    for (const auto &[number, object] : document->objects()) {
        if (before.count(number)) {
            EXPECT_EQ(before[number], object.get()) << "object " << number << " was replaced";
        }
    }
    for (size_t i = 0; i < document->pageCount(); ++i) {
        EXPECT_EQ(document->pageAtIndex(i)->pageDictionary()->directObject(), pageTexts[i]);
        EXPECT_EQ(document->pageAtIndex(i)->pageDictionary()->objectNumber(), uint64_t(i == 2 ? 4 : 5 + i));
    }
    EXPECT_TRUE(document->currentDataWithImprints(true) == first);
}

TEST_F(KVPDFWriterTest, MissingFolderFailsWithoutCreatingAnything)
{
    auto document = openData(PdfBuilder::withPages(1).build());
    ASSERT_TRUE(document);
    const QString target = path(QStringLiteral("missing/out.pdf"));
    KVPDFLogCapture capture;
    EXPECT_FALSE(document->writeUpdatedDocument(target, {}));
    EXPECT_TRUE(capture.contains(QStringLiteral("Error creating file ") + target));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("missing"))));
}

TEST_F(KVPDFWriterTest, ReadOnlyFolderFailsAndKeepsTheOldFile)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const QString target = savechecks::readOnlyFolderWithOldFile(m_dir.path());
    ASSERT_FALSE(target.isEmpty());
    const QString folder = QFileInfo(target).path();
    const QByteArray data = threePages().build();
    EXPECT_EXIT(
        {
            // Root ignores permission bits: check as "nobody".
            if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
                std::_Exit(3);
            KVPDFOpenResult result = KVPDFOpenResult(-1);
            auto document = KVPDFDocument::documentWithData(data, &result);
            std::_Exit(result == 0 && !document->writeUpdatedDocument(target, {}) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    ::chmod(QFile::encodeName(folder).constData(), 0755);
    EXPECT_EQ(readFile(target), QByteArray("the old file"));
    EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList{QStringLiteral("old.pdf")});
}

TEST_F(KVPDFWriterTest, SaveOverTheOpenedFileReplacesIt)
{
    const QString target = store(QStringLiteral("same.pdf"), threePages().build());
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithContentsOfFile(target, &result);
    ASSERT_EQ(result, 0);
    document->setPagesFromArray({document->pageAtIndex(1)});
    ASSERT_TRUE(document->writeUpdatedDocument(target, {{QStringLiteral("compression"), 2}}));
    expectCleanCheck(target);
    EXPECT_EQ(pdfinfoPages(target), 1);
    EXPECT_EQ(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("same.pdf")});
}

TEST_F(KVPDFWriterTest, WorkingCopyIsAnUpdateOfTheCurrentBytes)
{
    struct Case {
        const char *name;
        std::vector<size_t> order;
        std::vector<int> widths;
    };
    const Case cases[] = {
        {"pages as opened", {0, 1, 2}, {100, 200, 300}},
        {"reordered and shortened", {2, 0}, {300, 100}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray original = withInfo(threePages(), "<< /Title (Working) >>");
        auto document = openData(original);
        ASSERT_TRUE(document);
        const auto opened = document->pages();
        std::vector<std::shared_ptr<KVPDFPage>> pages;
        for (size_t index : c.order)
            pages.push_back(opened[index]);
        document->setPagesFromArray(pages);
        const QByteArray file = document->currentDataWithImprints(false);
        ASSERT_TRUE(file.startsWith(original)) << "the current bytes come first, unchanged";
        const QByteArray update = file.mid(original.size());
        EXPECT_TRUE(update.contains("/Prev " + QByteArray::number(document->startxref())));
        EXPECT_EQ(update.count("startxref"), 1);
        const QString output = store(QStringLiteral("working.pdf"), file);
        expectCleanCheck(output);
        const std::vector<QStringList> boxes = pdfinfoBoxes(output);
        ASSERT_EQ(boxes.size(), c.widths.size());
        for (size_t i = 0; i < boxes.size(); ++i)
            EXPECT_TRUE(boxes[i].contains(QStringLiteral("MediaBox 0.00 0.00 %1.00 500.00").arg(c.widths[i]))) << i;
        EXPECT_EQ(pdfinfoField(output, QStringLiteral("Title")), QStringLiteral("Working"));
        // Page dictionaries keep their numbers, so the link on page 1 still reaches page 2.
        auto reread = openData(file);
        ASSERT_TRUE(reread);
        ASSERT_EQ(reread->pageCount(), c.widths.size());
    }
}

TEST_F(KVPDFWriterTest, WorkingCopyWithoutATableToUpdateIsACompleteFile)
{
    // No cross-reference table: the file is read object by object.
    auto document = openData(PdfBuilder::withPages(2).build(0, false));
    ASSERT_TRUE(document);
    const QByteArray file = document->currentDataWithImprints(false);
    expectFullRewriteShape(file);
    expectCleanCheck(store(QStringLiteral("walked.pdf"), file));
}

// Encrypted files that open without a password: a save keeps the encryption (readers need
// the same text through the written key), the working copy is the engine's plain copy.
TEST_F(KVPDFWriterTest, EncryptedFilesStayEncryptedAndTheWorkingCopyIsPlain)
{
    const char *files[] = {"qpdf/enc-R2,V1.pdf", "qpdf/enc-R3,V2.pdf", "qpdf/V4-aes.pdf"};
    for (const char *name : files) {
        SCOPED_TRACE(name);
        const QString input = QDir(corpusDir()).filePath(QString::fromLatin1(name));
        KVPDFOpenResult result = KVPDFOpenResult(-1);
        auto document = KVPDFDocument::documentWithContentsOfFile(input, &result);
        if (!document || result != 0) {
            ADD_FAILURE() << "does not open: " << result;
            continue;
        }
        const QString text = QString::fromUtf8(runTool(QStringLiteral("pdftotext"), {input, QStringLiteral("-")}).out);
        ASSERT_FALSE(text.trimmed().isEmpty());

        const QString saved = save(*document, QStringLiteral("encrypted.pdf"));
        expectFullRewriteShape(readFile(saved), document->EOL());
        expectCleanCheck(saved);
        EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--is-encrypted"), saved}).exitCode, 0);
        EXPECT_EQ(QString::fromUtf8(runTool(QStringLiteral("pdftotext"), {saved, QStringLiteral("-")}).out), text);

        const QString working = store(QStringLiteral("working.pdf"), document->currentDataWithImprints(false));
        expectCleanCheck(working);
        EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--is-encrypted"), working}).exitCode, 2) << "plain";
        EXPECT_EQ(QString::fromUtf8(runTool(QStringLiteral("pdftotext"), {working, QStringLiteral("-")}).out), text);
    }
}

TEST_F(KVPDFWriterTest, ASaveLeavesWhatTheProgramHasNotReadUnreadAndWritesWhatItChanged)
{
    // Three pages, each with a font whose widths are an object of their own.
    PdfBuilder b = PdfBuilder::withPages(0);
    QByteArray kids;
    for (int i = 0; i < 3; ++i) {
        const int page = 10 + 10 * i;
        kids += QByteArray::number(page) + " 0 R ";
        b.add(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Resources << /Font << /F1 "
                        + QByteArray::number(page + 1) + " 0 R >> >> >>");
        b.add(page + 1, "<< /Type /Font /Subtype /Type1 /BaseFont /Font" + QByteArray::number(i)
                            + " /FirstChar 32 /LastChar 33 /Widths " + QByteArray::number(page + 2) + " 0 R >>");
        b.add(page + 2, "[ 250 " + QByteArray::number(300 + i) + " ]");
    }
    b.add(2, "<< /Type /Pages /Kids [" + kids + "] /Count 3 >>");
    auto document = openData(b.build());
    ASSERT_TRUE(document);

    auto unread = [&](uint64_t number) {
        const KVPDFObjectPtr entry = document->objectWithNumber(number);
        return entry
               && (entry->objectType() == KVPDFObject::TypeUnknown
                   || (entry->objectType() == KVPDFObject::TypeReference && entry->dataRange().location != 0));
    };
    for (uint64_t number : {11, 12, 21, 22, 31, 32})
        ASSERT_TRUE(unread(number)) << number;
    // The program reads and changes the second page's font; the others it never looks at.
    auto font = kv_cast<KVPDFObjectDictionary>(document->resolveObject(21, 0));
    ASSERT_TRUE(font);
    font->setObject("BaseFont", KVPDFObjectName::nameWithBytes("Changed"));

    const QByteArray saved = document->currentDataWithImprints(true);
    ASSERT_FALSE(saved.isEmpty());
    for (uint64_t number : {11, 12, 22, 31, 32})
        EXPECT_TRUE(unread(number)) << "object " << number << " stayed parsed after the save";
    const QByteArray plain = withoutStreamData(saved);
    for (const char *text : {"/BaseFont /Font0", "/BaseFont /Changed", "/BaseFont /Font2", "250 300", "250 301", "250 302"})
        EXPECT_TRUE(plain.contains(text)) << text;
    EXPECT_FALSE(plain.contains("/Font1"));
    EXPECT_TRUE(document->currentDataWithImprints(true) == saved) << "a second save gives other bytes";

    const QString path = m_dir.filePath(QStringLiteral("unread.pdf"));
    ASSERT_TRUE(writeFile(path, saved));
    expectCleanCheck(path);
}

// Pages are written one after the other, and what an earlier page reaches is written with it:
// a widget of a field whose other widget sits on an earlier page is written before its own
// page is built, and must still get its new appearance and its page.
TEST_F(KVPDFWriterTest, AnnotationsReachedFromAnEarlierPageKeepWhatTheirPageGivesThem)
{
    for (size_t changed : {0u, 1u}) {
        SCOPED_TRACE(changed);
        PdfBuilder b;
        b.add(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [12 0 R] >> >>");
        b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
        b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Annots [10 0 R] >>");
        b.add(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Annots [11 0 R] >>");
        b.add(10, "<< /Type /Annot /Subtype /Widget /Rect [10 10 100 30] /Parent 12 0 R /P 3 0 R >>");
        b.add(11, "<< /Type /Annot /Subtype /Widget /Rect [10 10 100 30] /Parent 12 0 R /P 4 0 R >>");
        b.add(12, "<< /FT /Tx /T (name) /Kids [10 0 R 11 0 R] >>");
        auto document = openData(b.build());
        ASSERT_TRUE(document);
        for (size_t i = 0; i < document->pageCount(); ++i)
            ASSERT_EQ(document->pageAtIndex(i)->annotationImprints().size(), 1u);
        auto normal = KVPDFObjectStream::streamWithData("0 0 1 rg 0 0 90 20 re f");
        normal->dictionary()->setObject("BBox", KVPDFAnnotation::arrayForRect(QRectF(0, 0, 90, 20)));
        auto appearance = std::make_shared<KVPDFObjectDictionary>();
        appearance->setObject("N", KVPDFObjectReference::referenceWithObject(normal));
        document->pageAtIndex(changed)->annotationImprints().at(0)->setAppearance(appearance);

        const QByteArray saved = document->currentDataWithImprints(true);
        ASSERT_FALSE(saved.isEmpty());
        auto reopened = openData(saved);
        ASSERT_TRUE(reopened);
        ASSERT_EQ(reopened->pageCount(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            auto widget = reopened->pageAtIndex(i)->annotationImprints().at(0)->annotDict();
            EXPECT_EQ(reopened->pageForReference(widget->objectForKey("P")), reopened->pageAtIndex(i)) << "page " << i;
            auto ap = kv_cast<KVPDFObjectDictionary>(widget->resolvedObjectForKey("AP"));
            auto stream = ap ? kv_cast<KVPDFObjectStream>(ap->resolvedObjectForKey("N")) : nullptr;
            EXPECT_EQ(stream != nullptr, i == changed) << "page " << i;
            if (stream) {
                EXPECT_EQ(stream->decodedData(), QByteArray("0 0 1 rg 0 0 90 20 re f"));
            }
        }
        const QString path = m_dir.filePath(QStringLiteral("field.pdf"));
        ASSERT_TRUE(writeFile(path, saved));
        expectCleanCheck(path);
    }
}

// A duplicated page carries its original's object number; links to the original still lead
// to the original, wherever the duplicate stands.
TEST_F(KVPDFWriterTest, LinksToAPageStayWithItWhenItsDuplicateComesFirst)
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R 4 0 R] /Count 2 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 111 111] >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 222 222] /Annots [11 0 R] >>");
    b.add(11, "<< /Type /Annot /Subtype /Link /Rect [1 1 2 2] /Dest [3 0 R /Fit] >>");
    auto document = openData(b.build());
    ASSERT_TRUE(document);
    document->insertPage(document->pageAtIndex(0)->copy(), 0);
    auto reopened = openData(document->currentDataWithImprints(true));
    ASSERT_TRUE(reopened);
    ASSERT_EQ(reopened->pageCount(), 3u);
    auto link = kv_cast<KVPDFObjectDictionary>(
        kv_cast<KVPDFObjectArray>(reopened->pageAtIndex(2)->pageDictionary()->resolvedObjectForKey("Annots"))
            ->resolvedObjectAtIndex(0));
    ASSERT_TRUE(link);
    auto dest = kv_cast<KVPDFObjectArray>(link->resolvedObjectForKey("Dest"));
    ASSERT_TRUE(dest);
    EXPECT_EQ(reopened->pageForReference(dest->objectAtIndex(0)), reopened->pageAtIndex(1));
}
