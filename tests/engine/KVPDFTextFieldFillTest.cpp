// Filling a text field end to end through `kvprobe fill`: QPdfWriter draws the field, the engine
// builds V, DA and AP, and the saved file is checked with the peer tools (qpdf, pdftotext,
// pdftoppm) and read back.
#include "KVPDFAnnotationWidgetText.h"

#include "KVPDFDocument.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
const QByteArray kOtherAppearance = "0 1 0 rg 0 0 100 20 re f % kept as it is";

// Two text fields: "name" (blue Helvetica on light yellow, no appearance) and "other" (with an
// appearance of its own).
QByteArray twoFields()
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [4 0 R 5 0 R] /DA (/Helv 0 Tf 0 g)"
             " /DR << /Font << /Helv 7 0 R >> >> >> >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Annots [4 0 R 5 0 R] >>");
    b.add(4, "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /F 4 /Rect [20 100 220 130] /P 3 0 R"
             " /DA (/Helv 14 Tf 0 0 1 rg) /MK << /BG [1 1 0.8] >> >>");
    b.add(5, "<< /Type /Annot /Subtype /Widget /FT /Tx /T (other) /V (old) /F 4 /Rect [20 40 120 60] /P 3 0 R"
             " /DA (/Helv 10 Tf 0 g) /AP << /N 6 0 R >> >>");
    b.add(6, "<< /Type /XObject /Subtype /Form /BBox [0 0 100 20] /Length " + QByteArray::number(kOtherAppearance.size())
                 + " >>\nstream\n" + kOtherAppearance + "\nendstream");
    b.add(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    return b.build();
}

ToolResult fill(const QString &in, const QString &field, const QString &text, const QString &out)
{
    return runTool(QStringLiteral(FOLIVO_KVPROBE), {QStringLiteral("fill"), in, QStringLiteral("--field"), field,
                                                    QStringLiteral("--value"), text, QStringLiteral("-o"), out});
}

std::shared_ptr<KVPDFAnnotationWidgetText> fieldNamed(KVPDFDocument &document, const QString &name)
{
    for (const auto &page : document.pages())
        for (const auto &widget : page->widgets())
            if (auto field = std::dynamic_pointer_cast<KVPDFAnnotationWidgetText>(widget); field && field->fieldName() == name)
                return field;
    return nullptr;
}

std::shared_ptr<KVPDFObjectStream> normalAppearance(const std::shared_ptr<KVPDFObjectDictionary> &widget)
{
    auto appearances = kv_cast<KVPDFObjectDictionary>(widget ? widget->resolvedObjectForKey("AP") : nullptr);
    return kv_cast<KVPDFObjectStream>(appearances ? appearances->resolvedObjectForKey("N") : nullptr);
}

QString textOf(const KVPDFObjectPtr &value)
{
    auto string = kv_cast<KVPDFObjectString>(value);
    return string ? string->stringValue() : QString();
}
}

TEST(KVPDFTextFieldFillTest, AFilledFieldShowsItsTextInItsColourAndReadsBack)
{
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in.pdf"));
    const QString out = dir.filePath(QStringLiteral("out.pdf"));
    {
        QFile file(in);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(twoFields());
    }
    const QString text = QStringLiteral("Folivo fills");
    const ToolResult filled = fill(in, QStringLiteral("name"), text, out);
    ASSERT_EQ(filled.exitCode, 0) << filled.err.constData();
    const QJsonObject report = QJsonDocument::fromJson(filled.out).object();
    EXPECT_EQ(report.value(QStringLiteral("widgets")).toInt(), 1);
    EXPECT_EQ(report.value(QStringLiteral("da")).toString(), QStringLiteral("/Helv 14 Tf 0.000000 0.000000 1.000000 rg "));

    const ToolResult check = runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), out});
    EXPECT_EQ(check.exitCode, 0) << check.out.constData() << check.err.constData();
    const ToolResult words = runTool(QStringLiteral("pdftotext"), {out, QStringLiteral("-")});
    EXPECT_TRUE(QString::fromUtf8(words.out).contains(text)) << words.out.constData();

    // The field's box (x 20..220, y 100..130 from the bottom of a 200-point page) at 72 dpi:
    // the DA colour draws the text on the MK background.
    const QString crop = dir.filePath(QStringLiteral("crop"));
    const ToolResult drawn = runTool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QStringLiteral("72"), QStringLiteral("-x"),
                                                                  QStringLiteral("20"), QStringLiteral("-y"), QStringLiteral("70"),
                                                                  QStringLiteral("-W"), QStringLiteral("200"), QStringLiteral("-H"),
                                                                  QStringLiteral("30"), QStringLiteral("-png"),
                                                                  QStringLiteral("-singlefile"), out, crop});
    ASSERT_EQ(drawn.exitCode, 0) << drawn.err.constData();
    const QImage image(crop + QStringLiteral(".png"));
    ASSERT_FALSE(image.isNull());
    int blue = 0, background = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.blue() > 150 && pixel.red() < 90 && pixel.green() < 90)
                ++blue;
            if (pixel.red() > 240 && pixel.green() > 240 && pixel.blue() > 190 && pixel.blue() < 220)
                ++background;
        }
    EXPECT_GT(blue, 40);
    EXPECT_GT(background, 2000);

    KVPDFOpenResult result = KVPDFOpenOK;
    auto reread = KVPDFDocument::documentWithContentsOfFile(out, &result);
    ASSERT_TRUE(reread);
    ASSERT_EQ(result, KVPDFOpenOK);
    auto name = fieldNamed(*reread, QStringLiteral("name"));
    ASSERT_TRUE(name);
    EXPECT_EQ(textOf(name->value()), text);
    std::shared_ptr<KVPDFObjectStream> appearance = normalAppearance(name->annotDict());
    ASSERT_TRUE(appearance);
    auto resources = kv_cast<KVPDFObjectDictionary>(appearance->dictionary()->resolvedObjectForKey("Resources"));
    ASSERT_TRUE(resources);
    auto fonts = kv_cast<KVPDFObjectDictionary>(resources->resolvedObjectForKey("Font"));
    ASSERT_TRUE(fonts);
    EXPECT_TRUE(kv_cast<KVPDFObjectDictionary>(fonts->resolvedObjectForKey("Helv")));
    EXPECT_TRUE(kv_cast<KVPDFObjectDictionary>(resources->resolvedObjectForKey("ExtGState")));

    auto other = fieldNamed(*reread, QStringLiteral("other"));
    ASSERT_TRUE(other);
    EXPECT_EQ(textOf(other->value()), QStringLiteral("old"));
    std::shared_ptr<KVPDFObjectStream> kept = normalAppearance(other->annotDict());
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->decodedData(), kOtherAppearance);
}

TEST(KVPDFTextFieldFillTest, ProbeRefusesWhatItCannotFill)
{
    QTemporaryDir dir;
    const QString in = dir.filePath(QStringLiteral("in.pdf"));
    {
        QFile file(in);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(twoFields());
    }
    const QString out = dir.filePath(QStringLiteral("out.pdf"));
    EXPECT_EQ(fill(in, QStringLiteral("missing"), QStringLiteral("x"), out).exitCode, 6);
    EXPECT_EQ(fill(dir.filePath(QStringLiteral("absent.pdf")), QStringLiteral("name"), QStringLiteral("x"), out).exitCode, 1);
    EXPECT_EQ(runTool(QStringLiteral(FOLIVO_KVPROBE), {QStringLiteral("fill"), in, QStringLiteral("--field")}).exitCode, 2);
    EXPECT_FALSE(QFile::exists(out));
}

class KVPDFTextFieldFillCorpusTest : public ::testing::TestWithParam<std::pair<const char *, const char *>> { };

TEST_P(KVPDFTextFieldFillCorpusTest, FilledCorpusFormsStaySoundAndShowTheText)
{
    const QString in = corpusDir() + QLatin1Char('/') + QString::fromLatin1(GetParam().first);
    if (!QFile::exists(in))
        GTEST_SKIP() << "corpus file missing: " << in.toStdString();
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("out.pdf"));
    const QString text = QStringLiteral("Zq7 filled");
    const ToolResult filled = fill(in, QString::fromUtf8(GetParam().second), text, out);
    ASSERT_EQ(filled.exitCode, 0) << filled.err.constData();
    const ToolResult check = runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), out});
    EXPECT_EQ(check.exitCode, 0) << check.out.constData() << check.err.constData();
    const ToolResult words = runTool(QStringLiteral("pdftotext"), {out, QStringLiteral("-")});
    EXPECT_TRUE(QString::fromUtf8(words.out).contains(text)) << words.out.constData();
}

INSTANTIATE_TEST_SUITE_P(Corpus, KVPDFTextFieldFillCorpusTest,
                         ::testing::Values(std::make_pair("qpdf/form-no-need-appearances.pdf", "Text Box 1"),
                                           std::make_pair("pdfjs/annotation-tx.pdf", "Text2"),
                                           std::make_pair("pdfjs/annotation-text-widget.pdf",
                                                          "formulier1[0].#subform[0].Tekstveld2[0]")),
                         [](const auto &info) {
                             QString name = QString::fromLatin1(info.param.first);
                             name.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9]")), QStringLiteral("_"));
                             return name.toStdString();
                         });
