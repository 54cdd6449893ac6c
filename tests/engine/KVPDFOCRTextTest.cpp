// Invisible text: which text counts, that removing it keeps every visible word where it was
// (pdftotext -bbox), that ' and " keep their line moves, and that pages whose content did not
// read whole, forms and pages of several streams are handled without losing anything.
#include "KVPDFDocument.h"
#include "KVPDFFilters.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"
#include "KVPDFTextBlob.h"

#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <vector>

namespace {

QByteArray stream(const QByteArray &keys, const QByteArray &data)
{
    return "<< " + keys + " /Length " + QByteArray::number(data.size()) + " >>\nstream\n" + data + "\nendstream";
}

// Every code 600 thousandths wide, so the engine and the peers measure alike.
QByteArray font()
{
    QByteArray widths;
    for (int i = 32; i <= 126; ++i)
        widths += "600 ";
    return "<< /Type /Font /Subtype /Type1 /BaseFont /Courier /FirstChar 32 /LastChar 126 /Widths [" + widths
           + "] /Encoding /WinAnsiEncoding >>";
}

const QByteArray kResources = "/Resources << /Font << /F1 20 0 R >> /ExtGState << /Clear << /ca 0 >> >> /XObject << /Fm 21 0 R >> >>";

// One page with `contents` (one stream, or several given as separate entries).
QByteArray page(const std::vector<QByteArray> &contents, const QByteArray &form = "q Q")
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    QByteArray references;
    for (size_t i = 0; i < contents.size(); ++i) {
        b.add(int(4 + i), stream("", contents[i]));
        references += QByteArray::number(4 + i) + " 0 R ";
    }
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + kResources + " /Contents ["
                 + references + "] >>");
    b.add(20, font());
    b.add(21, stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /Font << /F1 20 0 R >> >>", form));
    return b.build();
}

std::shared_ptr<KVPDFDocument> open(const QByteArray &data)
{
    KVPDFOpenResult result{};
    auto document = KVPDFDocument::documentWithData(data, &result);
    return result == KVPDFOpenOK ? document : nullptr;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

struct Word {
    QString text;
    double xMin, yMin, xMax, yMax;
};

std::vector<Word> words(const QString &path)
{
    const ToolResult result = runTool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), path, QStringLiteral("-")});
    std::vector<Word> out;
    static const QRegularExpression word(
        QStringLiteral("<word xMin=\"([-\\d.]+)\" yMin=\"([-\\d.]+)\" xMax=\"([-\\d.]+)\" yMax=\"([-\\d.]+)\">([^<]*)</word>"));
    for (auto it = word.globalMatch(QString::fromUtf8(result.out)); it.hasNext();) {
        const auto m = it.next();
        out.push_back({m.captured(5), m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                       m.captured(4).toDouble()});
    }
    return out;
}

TEST(KVPDFOCRTextTest, WhatCountsAsInvisibleText)
{
    struct Case {
        const char *content;
        bool invisible;
    };
    const Case cases[] = {
        {"BT /F1 12 Tf 72 700 Td 3 Tr (hidden) Tj ET", true},
        {"BT /F1 12 Tf 72 700 Td 7 Tr (clip only) Tj ET", true},
        {"BT /F1 12 Tf 72 700 Td 3 Tr () Tj ET", false},
        {"/Clear gs BT /F1 12 Tf 72 700 Td [-300] TJ ET", false},
        {"/Clear gs BT /F1 12 Tf 72 700 Td (under ca 0) Tj ET", true},
        {"/Clear gs BT /F1 12 Tf 72 700 Td 4 Tr (fill and clip) Tj ET", true},
        {"/Clear gs BT /F1 12 Tf 72 700 Td 1 Tr (stroked) Tj ET", false},
        {"/Clear gs BT /F1 12 Tf 72 700 Td 2 Tr (filled and stroked) Tj ET", false},
        {"BT /F1 12 Tf 72 700 Td 0 Tr (shown) Tj ET", false},
        {"BT /F1 12 Tf 72 700 Td 3 Tr (hidden) Tj ET /Fm Do", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.content);
        auto document = open(page({c.content}));
        ASSERT_TRUE(document);
        auto first = document->pageAtIndex(0);
        EXPECT_EQ(first->containsOCRText(), c.invisible);
        EXPECT_FALSE(first->parsedContent()) << "asking leaves the page as it was";
    }
}

// Invisible runs shown by Tj, ' and " and under ca 0 with Tr 0 go; every visible word stays
// where it was, the stroked one under ca 0 included.
TEST(KVPDFOCRTextTest, RemovalKeepsEveryVisibleWordInItsPlace)
{
    // Words end with a space, so neighbours never join into one word.
    const QByteArray content = "BT /F1 12 Tf 72 700 Td 14 TL 3 Tr (hidden ) Tj 0 Tr (shown ) Tj\n"
                               "3 Tr (quoted ) ' 0 Tr (after ) Tj\n"
                               "3 Tr 2 1 (doubled ) \" 0 Tr (spaced ) Tj\n"
                               "[(gap) -900 (ped )] TJ 3 Tr [(in) 250 (visible )] TJ 0 Tr (tail ) Tj ET\n"
                               "q /Clear gs BT /F1 12 Tf 2 Tc 150 Tz 72 600 Td 1 Tr (stroked ) Tj 0 Tr (ghost ) Tj 1 Tr (end) Tj ET Q\n";
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString input = QDir(folder.path()).filePath(QStringLiteral("in.pdf"));
    const QString output = QDir(folder.path()).filePath(QStringLiteral("out.pdf"));
    ASSERT_TRUE(writeFile(input, page({content})));

    auto document = open(page({content}));
    ASSERT_TRUE(document);
    auto first = document->pageAtIndex(0);
    ASSERT_TRUE(first->containsOCRText());
    ASSERT_TRUE(first->removeOCRText());
    EXPECT_FALSE(first->containsOCRText());
    ASSERT_TRUE(writeFile(output, document->currentDataWithImprints(true)));
    EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), output}).exitCode, 0);

    std::map<QString, Word> before;
    for (const Word &word : words(input))
        before.emplace(word.text, word);
    const std::vector<Word> after = words(output);
    std::vector<QString> kept;
    for (const Word &word : after) {
        kept.push_back(word.text);
        auto found = before.find(word.text);
        ASSERT_NE(found, before.end()) << word.text.toStdString();
        EXPECT_NEAR(word.xMin, found->second.xMin, 0.05) << word.text.toStdString();
        EXPECT_NEAR(word.yMin, found->second.yMin, 0.05) << word.text.toStdString();
        EXPECT_NEAR(word.xMax, found->second.xMax, 0.05) << word.text.toStdString();
    }
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (std::vector<QString>{"after", "end", "gap", "ped", "shown", "spaced", "stroked", "tail"}));
}

TEST(KVPDFOCRTextTest, SeveralStreamsAndFormsLoseOnlyTheirInvisibleText)
{
    const QByteArray form = "BT /F1 10 Tf 72 500 Td 3 Tr (formhidden) Tj 0 Tr (formshown) Tj ET";
    auto document = open(page({"BT /F1 12 Tf 72 700 Td 3 Tr (one) Tj 0 Tr", "(two) Tj ET /Fm Do"}, form));
    ASSERT_TRUE(document);
    auto first = document->pageAtIndex(0);
    ASSERT_TRUE(first->removeOCRText());
    EXPECT_FALSE(first->containsOCRText());
    QString text;
    first->parseContent();
    for (const auto &run : first->textBlobs())
        text += run->string;
    EXPECT_TRUE(text.contains(QLatin1String("two")));
    EXPECT_TRUE(text.contains(QLatin1String("formshown")));
    EXPECT_FALSE(text.contains(QLatin1String("one")));
    EXPECT_FALSE(text.contains(QLatin1String("formhidden")));
    // The edited form is still a form: its box and resources stay.
    auto edited = kv_cast<KVPDFObjectStream>(document->resolveObject(21, 0));
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->dictionary()->nameForKey("Subtype"), "Form");
    EXPECT_TRUE(edited->dictionary()->objectForKey("BBox"));
    EXPECT_TRUE(edited->dictionary()->objectForKey("Resources"));
    EXPECT_EQ(edited->dictionary()->nameForKey("Filter"), "FlateDecode");
}

TEST(KVPDFOCRTextTest, PageWhoseContentDidNotDecodeWholeIsLeft)
{
    QByteArray compressed = KVPDFDeflate("BT /F1 12 Tf 72 700 Td 3 Tr (hidden) Tj 0 Tr (shown) Tj ET\n" + QByteArray(400, ' ')).data;
    compressed.chop(compressed.size() / 3);
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] " + kResources + " /Contents 4 0 R >>");
    b.add(4, stream("/Filter /FlateDecode", compressed));
    b.add(20, font());
    b.add(21, stream("/Type /XObject /Subtype /Form /BBox [0 0 1 1]", "q Q"));
    auto document = open(b.build());
    ASSERT_TRUE(document);
    auto content = kv_cast<KVPDFObjectStream>(document->resolveObject(4, 0));
    const QByteArray raw = content->rawData();
    EXPECT_FALSE(document->pageAtIndex(0)->removeOCRText());
    EXPECT_EQ(kv_cast<KVPDFObjectStream>(document->resolveObject(4, 0))->rawData(), raw);
}

TEST(KVPDFOCRTextTest, RecognisedScanLosesItsTextAndDrawsTheSame)
{
    const QString input = testDataDir() + QStringLiteral("/ocr/tess-scan.pdf");
    ASSERT_TRUE(QFile::exists(input));
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString output = QDir(folder.path()).filePath(QStringLiteral("clean.pdf"));
    KVPDFOpenResult result{};
    auto document = KVPDFDocument::documentWithContentsOfFile(input, &result);
    ASSERT_TRUE(document);
    auto first = document->pageAtIndex(0);
    ASSERT_TRUE(first->containsOCRText());
    ASSERT_TRUE(first->removeOCRText());
    EXPECT_FALSE(first->containsOCRText());
    ASSERT_TRUE(writeFile(output, document->currentDataWithImprints(true)));

    EXPECT_EQ(runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), output}).exitCode, 0);
    const ToolResult text = runTool(QStringLiteral("pdftotext"), {output, QStringLiteral("-")});
    EXPECT_EQ(QString::fromUtf8(text.out).trimmed().remove(QLatin1Char('\f')), QString());
    EXPECT_FALSE(QString::fromUtf8(runTool(QStringLiteral("pdftotext"), {input, QStringLiteral("-")}).out).trimmed().isEmpty());

    auto render = [&](const QString &path, const QString &stem) {
        runTool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-png"),
                                             QStringLiteral("-singlefile"), path, QDir(folder.path()).filePath(stem)});
        return QImage(QDir(folder.path()).filePath(stem + QStringLiteral(".png"))).convertToFormat(QImage::Format_RGB888);
    };
    const QImage before = render(input, QStringLiteral("before"));
    ASSERT_FALSE(before.isNull());
    EXPECT_EQ(before, render(output, QStringLiteral("after")));

    auto reread = open(document->currentDataWithImprints(true));
    ASSERT_TRUE(reread);
    EXPECT_FALSE(reread->pageAtIndex(0)->containsOCRText());
}

} // namespace
