// The text field: DA read and rewritten in place, V and AP built from the program's rendering,
// appearances kept until rebuilt, names of new fields, and the written DR.
#include "KVPDFAnnotationWidgetText.h"

#include "KVColor.h"
#include "KVPDFDocument.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {
using Range = KVPDFAnnotationWidgetText::Range;

std::shared_ptr<KVPDFDocument> open(const QByteArray &data, KVPDFOpenMode mode = KVPDFOpenMode::Editing)
{
    KVPDFOpenResult result = KVPDFOpenOK;
    auto document = KVPDFDocument::documentWithData(data, &result, {}, mode);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

// A page with one text field (object 4) whose dictionary has `widgetKeys`, and the form's
// `formKeys`.
QByteArray formFile(const QByteArray &widgetKeys, const QByteArray &formKeys = "")
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [4 0 R] " + formKeys + " >> >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Annots [4 0 R] >>");
    b.add(4, "<< /Type /Annot /Subtype /Widget /FT /Tx /T (name) /F 4 /Rect [20 100 220 130] /P 3 0 R " + widgetKeys + " >>");
    return b.build();
}

std::shared_ptr<KVPDFAnnotationWidgetText> textField(KVPDFDocument &document, size_t index = 0)
{
    std::vector<std::shared_ptr<KVPDFAnnotation>> widgets = document.pageAtIndex(0)->widgets();
    EXPECT_GT(widgets.size(), index);
    return widgets.size() > index ? std::dynamic_pointer_cast<KVPDFAnnotationWidgetText>(widgets[index]) : nullptr;
}

QString daOf(const KVPDFAnnotationWidgetText &field)
{
    auto string = kv_cast<KVPDFObjectString>(field.annotDict()->objectForKey("DA"));
    return string ? string->stringValue() : QString();
}

// Rich text of "text" in one font and colour, as the text view stores it.
QByteArray richText(const QByteArray &text, const QByteArray &font, int halfPoints, const QByteArray &rgb)
{
    return "{\\rtf1\\ansi{\\fonttbl\\f0\\fnil " + font + ";}{\\colortbl;" + rgb + ";}\\f0\\fs" + QByteArray::number(halfPoints)
           + "\\cf1 " + text + "}";
}

// A rendering shaped as QPdfWriter writes one: colour space and graphics state set first, a
// background fill, the text's colour set before its BT, one font per run, CR LF line ends.
QByteArray rendering(double width, double height)
{
    const QByteArray w = QByteArray::number(width), h = QByteArray::number(height);
    const QByteArray content = "/GSa gs /CSp cs /CSp CS\r\n1 0 0 -1 0 " + h + " cm\r\nq\r\n/CSp cs 0.9 0.9 0.9 scn\r\n0 0 " + w
                               + ' ' + h + " re\r\nf\r\nQ\r\nq\r\n/CSp cs 0 0 0 scn\r\nBT\r\n/F7 12 Tf 1 0 0 -1 0 0 Tm\r\n"
                                 "4 -20 Td <0001> Tj % /F7 again\r\nET\r\nQ";
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 " + w + ' ' + h + "] /Contents 4 0 R /Resources 5 0 R");
    b.add(4, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream");
    b.add(5, "<< /ColorSpace << /CSp /DeviceRGB /CSpg /DeviceGray >> /ExtGState << /GSa 6 0 R >> /Font << /F7 7 0 R >>"
             " /Pattern << >> /XObject << >> >>");
    b.add(6, "<< /Type /ExtGState /CA 1 /ca 1 >>");
    b.add(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    return b.build();
}

std::shared_ptr<KVPDFObjectStream> normalAppearance(const std::shared_ptr<KVPDFObjectDictionary> &widget)
{
    auto appearances = kv_cast<KVPDFObjectDictionary>(widget ? widget->resolvedObjectForKey("AP") : nullptr);
    return kv_cast<KVPDFObjectStream>(appearances ? appearances->resolvedObjectForKey("N") : nullptr);
}
}

TEST(KVPDFAnnotationWidgetTextTest, DAPartsAndWhereTheyLie)
{
    struct Case {
        const char *name;
        QString da;
        std::optional<KVColor> color;
        QString font;
        double size;
        bool sizeToFit;
        Range colorRange;
        Range fontRange;
    };
    const Case cases[] = {
        {"gray after the font: nothing follows the colour", "/Helv 12 Tf 0 g", KVColor::gray(0), "Helvetica", 12, false, {12, 3},
         {0, 12}},
        {"RGB first, size 0 fits", "0 0 1 rg /Cour 0 Tf", KVColor::rgb(0, 0, 1), "Courier", 0, true, {0, 9}, {9, 10}},
        {"CMYK ends the text", "/F1 10 Tf 0.1 0.2 0.3 0.4 k", KVColor::cmyk(0.1f, 0.2f, 0.3f, 0.4f), "F1", 10, false, {10, 17},
         {0, 10}},
        {"gray wins over RGB wherever it stands", "0 0 1 rg 0.5 g", KVColor::gray(0.5f), "", 0, false, {9, 5}, {0, 0}},
        {"a leading blank is where a missing part goes", " /Helv 9 Tf", std::nullopt, "Helvetica", 9, false, {0, 1}, {1, 10}},
        {"a colour short of operands is no colour, but is what a rewrite replaces", "/Helv Tf 1 0 rg", std::nullopt, "", 0,
         false, {9, 6}, {0, 0}},
        {"gs is no gray operator", "/GS1 gs /Helv 12 Tf", std::nullopt, "Helvetica", 12, false, {0, 0}, {8, 11}},
        {"a Tf without a name before its size", "12 Tf 0 g", KVColor::gray(0), "", 0, false, {6, 3}, {0, 0}},
        {"empty", "", std::nullopt, "", 0, false, {0, 0}, {0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFAnnotationWidgetText field;
        QString font;
        double size = 0;
        std::optional<KVColor> color;
        field.parseDA(c.da, &font, &size, &color);
        EXPECT_EQ(color, c.color);
        EXPECT_EQ(font, c.font);
        EXPECT_DOUBLE_EQ(size, c.size);
        EXPECT_EQ(field.sizeToFit(), c.sizeToFit);
        EXPECT_EQ(field.daColorRange(), c.colorRange);
        EXPECT_EQ(field.daFontRange(), c.fontRange);
    }
    // Without a font out-argument the font part is not read.
    KVPDFAnnotationWidgetText field;
    field.parseDA("/Helv 12 Tf 0 g", nullptr, nullptr, nullptr);
    EXPECT_EQ(field.daFontRange(), (Range{0, 0}));
    EXPECT_TRUE(field.fontName().isEmpty());
}

TEST(KVPDFAnnotationWidgetTextTest, UpdateRewritesOnlyTheColourAndFontParts)
{
    struct Case {
        const char *name;
        QByteArray widgetKeys;
        QByteArray formKeys;
        QByteArray textData; // empty: none stored
        QString expectedDA;  // null: DA not written into the widget
    };
    const QByteArray blue = "\\red0\\green0\\blue255";
    const Case cases[] = {
        {"same font: the colour alone changes, other operators stay", "/DA (/Helv 12 Tf 2 Tz 0 g)", "",
         richText("Hi", "Helvetica", 24, blue), "/Helv 12 Tf 2 Tz 0.000000 0.000000 1.000000 rg "},
        {"another font and size", "/DA (/Helv 12 Tf 0 g)", "", richText("Hi", "Courier", 20, "\\red255\\green0\\blue0"),
         "/Cour 10.000000 Tf 1.000000 0.000000 0.000000 rg "},
        {"DA inherited from the form is written into the widget", "", "/DA (0 g /Helv 12 Tf)",
         richText("Hi", "Helvetica", 24, blue), "0.000000 0.000000 1.000000 rg /Helv 12 Tf"},
        {"no DA anywhere: both parts are inserted", "", "", richText("Hi", "Helvetica", 24, "\\red0\\green255\\blue0"),
         "/Helv 12.000000 Tf 0.000000 1.000000 0.000000 rg "},
        {"size to fit rewrites the font part with size 0", "/DA (/Helv 0 Tf 0 g)", "", richText("Hi", "Helvetica", 24, blue),
         "/Helv 0.000000 Tf 0.000000 0.000000 1.000000 rg "},
        {"empty text, no view, a font recorded: the font part is written again", "/DA (/Helv 12 Tf 0 g)", "", "",
         "/Helv 12.000000 Tf 0 g"},
        {"empty text, no view, no font: nothing is rewritten", "", "/DA (0 g)", "", QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = open(formFile(c.widgetKeys, c.formKeys));
        auto field = textField(*document);
        ASSERT_TRUE(field);
        if (!c.textData.isEmpty())
            field->setDictionary({{QStringLiteral("textData"), c.textData}});
        field->update(nullptr);
        if (c.expectedDA.isNull())
            EXPECT_FALSE(field->annotDict()->objectForKey("DA"));
        else
            EXPECT_EQ(daOf(*field), c.expectedDA);
        if (!c.textData.isEmpty()) {
            auto value = kv_cast<KVPDFObjectString>(field->value());
            ASSERT_TRUE(value);
            EXPECT_EQ(value->stringValue(), QStringLiteral("Hi"));
        }
    }
}

TEST(KVPDFAnnotationWidgetTextTest, AppearanceComesFromTheRenderingWithDAAndMKColours)
{
    auto document = open(formFile("/DA (/Helv 12 Tf 0 g) /MK << /BG [1 1 0] >>",
                                  "/DR << /Font << /Helv << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >>"));
    auto field = textField(*document);
    ASSERT_TRUE(field);
    field->setDocument(open(rendering(200, 30)));
    field->setDictionary({{QStringLiteral("textData"), richText("Hi", "Helvetica", 24, "\\red0\\green0\\blue255")}});
    field->update(nullptr);
    EXPECT_TRUE(field->updatedOnce());

    std::shared_ptr<KVPDFObjectStream> stream = normalAppearance(field->annotDict());
    ASSERT_TRUE(stream);
    ASSERT_EQ(field->appearance(), field->annotDict()->objectForKey("AP"));
    const QByteArray content = stream->decodedData();
    EXPECT_TRUE(content.startsWith("/Tx BMC\nq\n/GSa gs /CSp cs /CSp CS\r\n")) << content.constData();
    EXPECT_TRUE(content.endsWith("\nQ\nEMC\n"));
    EXPECT_TRUE(content.contains("/CSp cs 1.000000 1.000000 0.000000 rg\r\n0 0 200 30 re")) << content.constData();
    EXPECT_TRUE(content.contains("/CSp cs 0.000000 0.000000 1.000000 rg\r\nBT\r\n/Helv 12 Tf")) << content.constData();
    // Renamed as a name, not as text in a comment.
    EXPECT_TRUE(content.contains("% /F7 again"));
    EXPECT_EQ(stream->dictionary()->nameForKey("Subtype"), "Form");
    EXPECT_EQ(KVPDFPage::getPDFRectFromArray(stream->dictionary()->resolvedObjectForKey("BBox")), QRectF(0, 0, 200, 30));

    auto resources = kv_cast<KVPDFObjectDictionary>(stream->dictionary()->resolvedObjectForKey("Resources"));
    ASSERT_TRUE(resources);
    auto fonts = kv_cast<KVPDFObjectDictionary>(resources->resolvedObjectForKey("Font"));
    auto states = kv_cast<KVPDFObjectDictionary>(resources->resolvedObjectForKey("ExtGState"));
    ASSERT_TRUE(fonts && states);
    EXPECT_EQ(fonts->keys(), (std::vector<QByteArray>{"Helv"}));
    EXPECT_EQ(states->keys(), (std::vector<QByteArray>{"GSa"}));
    auto spaces = kv_cast<KVPDFObjectDictionary>(resources->resolvedObjectForKey("ColorSpace"));
    ASSERT_TRUE(spaces);
    EXPECT_EQ(spaces->keys(), (std::vector<QByteArray>{"CSp"}));
    EXPECT_FALSE(resources->objectForKey("XObject"));
    EXPECT_EQ(field->subobjects().size(), 2u); // the font and the graphics state

    // Saved: AP reaches what it names, DR names the DA font, and the file is sound.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("out.pdf"));
    ASSERT_TRUE(document->writeUpdatedDocument(path, {}));
    const ToolResult check = runTool(QStringLiteral("qpdf"), {QStringLiteral("--check"), path});
    EXPECT_EQ(check.exitCode, 0) << check.out.constData() << check.err.constData();
    auto reread = KVPDFDocument::documentWithContentsOfFile(path, nullptr, {}, KVPDFOpenMode::AsStored);
    ASSERT_TRUE(reread);
    auto annots = kv_cast<KVPDFObjectArray>(reread->pageAtIndex(0)->pageDictionary()->resolvedObjectForKey("Annots"));
    ASSERT_TRUE(annots && annots->count() == 1);
    auto written = kv_cast<KVPDFObjectDictionary>(annots->resolvedObjectAtIndex(0));
    std::shared_ptr<KVPDFObjectStream> writtenStream = normalAppearance(written);
    ASSERT_TRUE(writtenStream);
    EXPECT_EQ(writtenStream->decodedData(), content);
    auto writtenFonts = kv_cast<KVPDFObjectDictionary>(
        kv_cast<KVPDFObjectDictionary>(writtenStream->dictionary()->resolvedObjectForKey("Resources"))->resolvedObjectForKey("Font"));
    ASSERT_TRUE(writtenFonts);
    auto font = kv_cast<KVPDFObjectDictionary>(writtenFonts->resolvedObjectForKey("Helv"));
    ASSERT_TRUE(font);
    EXPECT_EQ(font->nameForKey("BaseFont"), "Helvetica");
    auto defaultResources = kv_cast<KVPDFObjectDictionary>(written->resolvedObjectForKey("DR"));
    ASSERT_TRUE(defaultResources);
    auto drFonts = kv_cast<KVPDFObjectDictionary>(defaultResources->resolvedObjectForKey("Font"));
    ASSERT_TRUE(drFonts && drFonts->objectForKey("Helv"));
}

TEST(KVPDFAnnotationWidgetTextTest, ALoadedFieldKeepsItsAppearanceUntilANewOneIsBuilt)
{
    const QByteArray ap = "0 1 0 rg 0 0 200 30 re f";
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [4 0 R] /DA (/Helv 0 Tf 0 g) >> >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Annots [4 0 R] >>");
    b.add(4, "<< /Type /Annot /Subtype /Widget /FT /Tx /T (kept) /DA (/Helv 12 Tf 0 g) /Rect [20 100 220 130] /AP << /N 5 0 R >> >>");
    b.add(5, "<< /Type /XObject /Subtype /Form /BBox [0 0 200 30] /Length " + QByteArray::number(ap.size()) + " >>\nstream\n" + ap
                 + "\nendstream");
    auto document = open(b.build());
    auto field = textField(*document);
    ASSERT_TRUE(field);
    EXPECT_FALSE(field->appearance());
    ASSERT_TRUE(normalAppearance(field->annotDict()));

    auto saved = open(document->currentDataWithImprints(true), KVPDFOpenMode::AsStored);
    ASSERT_TRUE(saved);
    auto annots = kv_cast<KVPDFObjectArray>(saved->pageAtIndex(0)->pageDictionary()->resolvedObjectForKey("Annots"));
    ASSERT_TRUE(annots && annots->count() == 1);
    auto widget = kv_cast<KVPDFObjectDictionary>(annots->resolvedObjectAtIndex(0));
    // AP is still the dictionary of the stream it was, never DA.
    ASSERT_TRUE(kv_cast<KVPDFObjectDictionary>(widget->resolvedObjectForKey("AP")));
    std::shared_ptr<KVPDFObjectStream> stream = normalAppearance(widget);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->decodedData(), ap);
    EXPECT_FALSE(widget->objectForKey("DR"));
}

TEST(KVPDFAnnotationWidgetTextTest, NewFieldsTakeTheFirstFreeNameAndMarkTheDocument)
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Annots [4 0 R] >>");
    b.add(4, "<< /Type /Annot /Subtype /Widget /FT /Tx /T (TextField1) /Rect [0 0 10 10] >>");
    auto document = open(b.build());
    std::shared_ptr<KVPDFPage> page = document->pageAtIndex(0);
    EXPECT_FALSE(document->hasFields());

    auto first = KVPDFAnnotationWidgetText::imprintWithData(rendering(100, 20), QPointF(10, 20), page.get());
    EXPECT_EQ(first->fieldName(), QStringLiteral("TextField2"));
    EXPECT_EQ(first->rect(), QRectF(10, 20, 100, 20));
    EXPECT_EQ(KVPDFPage::getPDFRectFromArray(first->annotDict()->resolvedObjectForKey("Rect")), QRectF(10, 20, 100, 20));
    page->addImprint(first);
    EXPECT_TRUE(document->hasFields());
    // The form's Fields are not all there is: fields of this session sit on pages only.
    auto second = KVPDFAnnotationWidgetText::imprintWithData(rendering(100, 20), QPointF(10, 50), page.get());
    EXPECT_EQ(second->fieldName(), QStringLiteral("TextField3"));
}

TEST(KVPDFAnnotationWidgetTextTest, FieldEntriesAndBorderSetters)
{
    auto document = open(formFile("/MaxLen 5 /Q 2 /MK << /BC [1 0 0] >>"));
    auto field = textField(*document);
    ASSERT_TRUE(field);
    EXPECT_EQ(field->maxLength(), 5u);
    EXPECT_EQ(field->justification(), 2);
    // No BS: the standard's one-point border, drawn in MK BC.
    EXPECT_DOUBLE_EQ(field->strokeWidth(), 1.0);
    EXPECT_EQ(field->color(), KVColor::rgb(1, 0, 0));

    auto entries = field->makeField();
    EXPECT_EQ(entries->nameForKey("FT"), "Tx");
    EXPECT_EQ(entries->integerForKey("MaxLen"), 5);
    EXPECT_EQ(entries->integerForKey("Q"), 2);
    field->setMaxLength(0);
    EXPECT_FALSE(field->annotDict()->objectForKey("MaxLen"));
    entries = field->makeField();
    EXPECT_FALSE(entries->objectForKey("MaxLen"));
    EXPECT_EQ(entries->integerForKey("Q"), 2);

    field->setStrokePattern({3});
    auto style = kv_cast<KVPDFObjectDictionary>(field->annotDict()->resolvedObjectForKey("BS"));
    ASSERT_TRUE(style);
    EXPECT_EQ(style->nameForKey("S"), "D");

    // A copy carries the field's own settings and is drawn anew.
    auto copy = std::dynamic_pointer_cast<KVPDFAnnotationWidgetText>(field->copy());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->justification(), 2);
    EXPECT_EQ(copy->strokePattern(), (std::vector<double>{3}));
    EXPECT_DOUBLE_EQ(copy->strokeWidth(), 1.0);
    EXPECT_EQ(copy->fieldName(), QStringLiteral("name"));
    EXPECT_FALSE(copy->annotDict()->objectForKey("AP"));
    EXPECT_NE(copy->annotDict().get(), field->annotDict().get());

    field->setStrokeWidth(0);
    EXPECT_FALSE(field->annotDict()->objectForKey("BS"));
    EXPECT_FALSE(field->color());
    field->setFillColor(KVColor::gray(0.6f));
    EXPECT_EQ(field->fillColor(), KVColor::rgb(0.6f, 0.6f, 0.6f));
    field->setFillColor(std::nullopt);
    EXPECT_FALSE(field->fillColor());

    // Q is inherited from the form, and a save writes the one in force into the field.
    auto inherited = open(formFile("", "/Q 1"));
    auto centred = textField(*inherited);
    ASSERT_TRUE(centred);
    EXPECT_EQ(centred->justification(), 1);
    EXPECT_EQ(centred->makeField()->integerForKey("Q"), 1);
}
