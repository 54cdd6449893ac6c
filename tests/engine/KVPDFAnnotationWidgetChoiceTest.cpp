// Choice fields: reading Opt, TI and I, the lookups, what a save writes (Opt, TI, I, V), copies,
// the appearance built from a rendering, and `kvprobe choose` on a corpus form checked with qpdf.
#include "KVPDFAnnotationWidgetChoice.h"

#include "KVPDFDocument.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "support/KVPDFSaveChecks.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace savechecks;

namespace {
using Choice = KVPDFAnnotationWidgetChoice;

// Three choice fields: a list box (Opt [(Yes) [(e2) (Two)] (Three) (Four)], TI 7, I [3 1]), a
// combo box with an I of its own, and a list box whose options share an export text.
QByteArray choices()
{
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [4 0 R 5 0 R 6 0 R] >> >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Annots [4 0 R 5 0 R 6 0 R] >>");
    b.add(4, "<< /Type /Annot /Subtype /Widget /FT /Ch /T (list) /Ff 2097152 /Rect [10 100 110 160]"
             " /Opt [(Yes) [(e2) (Two)] (Three) (Four)] /TI 7 /I [3 1] /V [(e2) (Four)] >>");
    b.add(5, "<< /Type /Annot /Subtype /Widget /FT /Ch /T (combo) /Ff 131072 /Rect [10 60 110 80]"
             " /Opt [(Red) (Green)] /I [1] /V (Green) >>");
    b.add(6, "<< /Type /Annot /Subtype /Widget /FT /Ch /T (same) /Rect [10 20 110 40] /Opt [[(x) (A)] [(x) (B)] (C) 7] >>");
    return b.build();
}

std::shared_ptr<KVPDFDocument> open(const QByteArray &data)
{
    KVPDFOpenResult result = KVPDFOpenOK;
    auto document = KVPDFDocument::documentWithData(data, &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

std::vector<std::shared_ptr<Choice>> choicesOf(KVPDFDocument &document)
{
    std::vector<std::shared_ptr<Choice>> found;
    for (const auto &page : document.pages())
        for (const auto &widget : page->widgets())
            if (auto choice = std::dynamic_pointer_cast<Choice>(widget))
                found.push_back(choice);
    return found;
}

// qpdf's JSON of the saved file's objects, and its fields by name.
struct Saved {
    QJsonObject objects;
    QHash<QString, QJsonObject> fields;

    // The field dictionary's value of `key`, references followed once.
    QJsonValue entry(const QString &field, const QString &key) const
    {
        const QString object = fields.value(field)[QStringLiteral("object")].toString();
        QJsonObject dictionary = objects[QStringLiteral("obj:") + object][QStringLiteral("value")].toObject();
        // A widget under a field: the field holds the entries.
        if (!dictionary.contains(QStringLiteral("/FT")) && dictionary.contains(QStringLiteral("/Parent")))
            dictionary = objects[QStringLiteral("obj:") + dictionary[QStringLiteral("/Parent")].toString()][QStringLiteral("value")].toObject();
        return dictionary.value(key);
    }
    QJsonValue resolved(const QJsonValue &value) const
    {
        if (value.isString() && value.toString().endsWith(QLatin1String(" R")))
            return objects[QStringLiteral("obj:") + value.toString()][QStringLiteral("value")];
        return value;
    }
};

Saved readSaved(const QString &path)
{
    Saved saved;
    const ToolResult qpdf = runTool(QStringLiteral("qpdf"), {QStringLiteral("--json"), QStringLiteral("--json-key=qpdf"),
                                                             QStringLiteral("--json-key=acroform"), path});
    const QJsonObject root = QJsonDocument::fromJson(qpdf.out).object();
    saved.objects = root[QStringLiteral("qpdf")].toArray()[1].toObject();
    for (const QJsonValue &field : root[QStringLiteral("acroform")][QStringLiteral("fields")].toArray())
        saved.fields.insert(field[QStringLiteral("fullname")].toString(), field.toObject());
    return saved;
}

QJsonArray strings(std::initializer_list<const char *> texts)
{
    QJsonArray array;
    for (const char *text : texts)
        array.append(QStringLiteral("u:") + QString::fromUtf8(text));
    return array;
}
}

TEST(KVPDFAnnotationWidgetChoiceTest, ReadsOptionsTopIndexAndSelection)
{
    auto document = open(choices());
    const auto fields = choicesOf(*document);
    ASSERT_EQ(fields.size(), 3u);
    const std::vector<Choice::Option> expected{{"Yes", ""}, {"Two", "e2"}, {"Three", ""}, {"Four", ""}};
    EXPECT_EQ(fields[0]->options(), expected);
    EXPECT_EQ(fields[0]->topIndex(), 3u); // TI 7 past four options: the last one
    EXPECT_EQ(fields[0]->selection(), (std::set<size_t>{1, 3}));
    EXPECT_TRUE(fields[0]->multiSelect());
    EXPECT_TRUE(fields[1]->combo());
    // The element that is neither string nor array is skipped.
    EXPECT_EQ(fields[2]->options().size(), 3u);
    // Once read, the object owns them: the widget dictionary holds none.
    for (const char *key : {"Opt", "TI", "I"})
        EXPECT_FALSE(fields[0]->annotDict()->objectForKey(key)) << key;

    struct Lookup {
        QString value;
        int64_t index;
    };
    for (const Lookup &row : {Lookup{"x", 1}, Lookup{"C", 2}, Lookup{"A", -1}, Lookup{"nothing", -1}})
        EXPECT_EQ(fields[2]->exportIndexForValue(row.value), row.index) << row.value.toStdString();
    EXPECT_EQ(fields[2]->exportValueForTitle(QStringLiteral("B")), QStringLiteral("x"));
    EXPECT_TRUE(fields[2]->exportValueForTitle(QStringLiteral("Z")).isNull());
    EXPECT_EQ(fields[0]->exportValueForIndex(1), QStringLiteral("e2"));
    EXPECT_EQ(fields[0]->exportValueForIndex(0), QStringLiteral("Yes"));
    EXPECT_TRUE(fields[0]->exportValueForIndex(-1).isNull());
    EXPECT_TRUE(fields[0]->exportValueForIndex(4).isNull());
    EXPECT_TRUE(fields[0]->objectValueForItemAtIndex(4).isNull());
}

TEST(KVPDFAnnotationWidgetChoiceTest, SelectionChangesAreAnnouncedAndMultiSelectOffKeepsTheLowest)
{
    auto document = open(choices());
    auto list = choicesOf(*document).front();
    int selectionChanges = 0, optionChanges = 0;
    list->setSelectionChangedHandler([&] { ++selectionChanges; });
    list->setOptionsChangedHandler([&] { ++optionChanges; });
    list->setSelection({0, 2, 9});
    EXPECT_EQ(list->selection(), (std::set<size_t>{0, 2}));
    list->setMultiSelect(false);
    EXPECT_EQ(list->selection(), (std::set<size_t>{0}));
    // Options going away take their indexes out of the selection.
    list->setSelection({0});
    list->setOptions({{"Only", ""}});
    EXPECT_EQ(list->selection(), (std::set<size_t>{0}));
    EXPECT_EQ(selectionChanges, 3);
    EXPECT_EQ(optionChanges, 1);
}

TEST(KVPDFAnnotationWidgetChoiceTest, SaveWritesOptionsIndexesAndValues)
{
    QTemporaryDir dir;
    auto document = open(choices());
    auto fields = choicesOf(*document);
    fields[2]->setSelection({});
    // A list box that had a value and loses its selection is cleared.
    fields[0]->setSelection({});
    // New fields: a combo box without a value, and a list box without a selection.
    std::shared_ptr<KVPDFPage> page = document->pageAtIndex(0);
    auto combo = Choice::choice(QStringLiteral("newCombo"), true, page.get());
    combo->setOptions({{"One", ""}});
    auto list = Choice::choice(QStringLiteral("newList"), false, page.get());
    combo->setLocation({150, 20});
    combo->setSize({100, 24});
    list->setLocation({150, 60});
    list->setSize({100, 24});
    page->addImprint(combo);
    page->addImprint(list);
    const QString out = dir.filePath(QStringLiteral("out.pdf"));
    ASSERT_TRUE(document->writeUpdatedDocument(out, {}));
    EXPECT_EQ(qpdfCheck(out).exitCode, 0);

    const Saved saved = readSaved(out);
    // Opt round-trips, as an object of its own.
    const QJsonValue opt = saved.entry(QStringLiteral("list"), QStringLiteral("/Opt"));
    ASSERT_TRUE(opt.toString().endsWith(QLatin1String(" R")));
    QJsonArray expectedOpt{QStringLiteral("u:Yes"), strings({"e2", "Two"}), QStringLiteral("u:Three"), QStringLiteral("u:Four")};
    EXPECT_EQ(saved.resolved(opt).toArray(), expectedOpt);
    EXPECT_EQ(saved.entry(QStringLiteral("list"), QStringLiteral("/TI")).toInt(), 3);
    EXPECT_EQ(saved.entry(QStringLiteral("list"), QStringLiteral("/I")).toArray(), QJsonArray());
    EXPECT_EQ(saved.resolved(saved.entry(QStringLiteral("list"), QStringLiteral("/V"))).toString(), QStringLiteral("u:"));
    // A combo box never writes I; its value stays.
    EXPECT_TRUE(saved.entry(QStringLiteral("combo"), QStringLiteral("/I")).isUndefined());
    EXPECT_EQ(saved.resolved(saved.entry(QStringLiteral("combo"), QStringLiteral("/V"))).toString(), QStringLiteral("u:Green"));
    // Nothing selected and never a value: no V; TI 0 is not written.
    EXPECT_TRUE(saved.entry(QStringLiteral("same"), QStringLiteral("/V")).isUndefined());
    EXPECT_TRUE(saved.entry(QStringLiteral("same"), QStringLiteral("/TI")).isUndefined());
    // A new combo box has no value until one is set, never /Off.
    ASSERT_TRUE(saved.fields.contains(QStringLiteral("newCombo")));
    EXPECT_TRUE(saved.fields.value(QStringLiteral("newCombo"))[QStringLiteral("value")].isNull());
    EXPECT_TRUE(saved.entry(QStringLiteral("newList"), QStringLiteral("/V")).isUndefined());

    combo->setExportValue(QStringLiteral("Typed"));
    const QString typed = dir.filePath(QStringLiteral("typed.pdf"));
    ASSERT_TRUE(document->writeUpdatedDocument(typed, {}));
    EXPECT_EQ(readSaved(typed).fields.value(QStringLiteral("newCombo"))[QStringLiteral("value")].toString(), QStringLiteral("u:Typed"));
}

TEST(KVPDFAnnotationWidgetChoiceTest, CopyKeepsValueAndSelection)
{
    auto document = open(choices());
    for (const auto &field : choicesOf(*document)) {
        SCOPED_TRACE(field->fieldName().toStdString());
        auto copy = std::dynamic_pointer_cast<Choice>(field->copy());
        ASSERT_TRUE(copy);
        EXPECT_EQ(copy->options(), field->options());
        EXPECT_EQ(copy->selection(), field->selection());
        EXPECT_EQ(copy->topIndex(), field->topIndex());
        EXPECT_EQ(copy->value(), field->value());
        EXPECT_EQ(copy->fieldFlags(), field->fieldFlags());
    }
}

TEST(KVPDFAnnotationWidgetChoiceTest, AppearanceNamesTheFontFVFontAtTheFieldsPlace)
{
    auto document = open(choices());
    auto list = choicesOf(*document).front();
    // No rendering yet: nothing to build from, AP stays.
    EXPECT_FALSE(list->update());
    PdfBuilder drawn;
    drawn.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    drawn.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    const QByteArray content = "BT /F1 12 Tf\n2 40 Td (Two) Tj ET";
    drawn.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 100 60] /Resources << /Font << /F1 5 0 R >> >> /Contents 4 0 R >>");
    drawn.add(4, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream");
    drawn.add(5, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    list->setDocument(open(drawn.build()));
    ASSERT_TRUE(list->update());
    auto normal = kv_cast<KVPDFObjectStream>(list->appearance()->resolvedObjectForKey("N"));
    ASSERT_TRUE(normal);
    const QByteArray data = normal->decodedData();
    EXPECT_TRUE(data.startsWith("q 1 0 0 1 10.000000 100.000000 cm")) << data.constData();
    EXPECT_TRUE(data.contains("/FVFont 12 Tf")) << data.constData();
    EXPECT_FALSE(data.contains("/F1 "));
    auto resources = kv_cast<KVPDFObjectDictionary>(normal->dictionary()->resolvedObjectForKey("Resources"));
    ASSERT_TRUE(resources);
    auto fonts = kv_cast<KVPDFObjectDictionary>(resources->resolvedObjectForKey("Font"));
    ASSERT_TRUE(fonts);
    EXPECT_TRUE(fonts->objectForKey("FVFont"));
}

TEST(KVPDFAnnotationWidgetChoiceTest, ProbeChooseOnCorpusFormWritesWhatQpdfReads)
{
    QTemporaryDir dir;
    const QString source = corpusDir() + QStringLiteral("/pdfjs/annotation-choice-widget.pdf");
    const QString prefix = QStringLiteral("formulier1[0].#subform[0].");
    const QString multi = dir.filePath(QStringLiteral("multi.pdf"));
    const QString combo = dir.filePath(QStringLiteral("combo.pdf"));
    const ToolResult chose = runTool(QStringLiteral(FOLIVO_KVPROBE), {QStringLiteral("choose"), source, QStringLiteral("--field"),
                                                                      prefix + QStringLiteral("Keuzelijst2[0]"), QStringLiteral("--select"),
                                                                      QStringLiteral("3,1"), QStringLiteral("-o"), multi});
    ASSERT_EQ(chose.exitCode, 0) << chose.err.constData();
    const ToolResult typed = runTool(QStringLiteral(FOLIVO_KVPROBE), {QStringLiteral("choose"), source, QStringLiteral("--field"),
                                                                      prefix + QStringLiteral("Vervolgkeuzelijst1[0]"), QStringLiteral("--value"),
                                                                      QStringLiteral("Typed"), QStringLiteral("-o"), combo});
    ASSERT_EQ(typed.exitCode, 0) << typed.err.constData();
    EXPECT_EQ(qpdfCheck(multi).exitCode, 0);

    const Saved before = readSaved(source);
    const Saved after = readSaved(multi);
    const QString list = prefix + QStringLiteral("Keuzelijst2[0]");
    // Opt is written back as it was, I ascends and V holds the export texts of the selection.
    const QJsonArray opt = after.resolved(after.entry(list, QStringLiteral("/Opt"))).toArray();
    EXPECT_EQ(opt, before.resolved(before.entry(list, QStringLiteral("/Opt"))).toArray());
    EXPECT_EQ(after.entry(list, QStringLiteral("/I")).toArray(), (QJsonArray{1, 3}));
    ASSERT_GE(opt.size(), 4);
    auto exportOf = [](const QJsonValue &option) { return option.isArray() ? option.toArray()[0] : option; };
    EXPECT_EQ(after.resolved(after.entry(list, QStringLiteral("/V"))).toArray(), (QJsonArray{exportOf(opt[1]), exportOf(opt[3])}));
    const Saved typedSaved = readSaved(combo);
    // Every combo box of both files: no I.
    for (const Saved *saved : {&after, &typedSaved})
        for (auto it = saved->fields.constBegin(); it != saved->fields.constEnd(); ++it)
            if (it.value()[QStringLiteral("fieldflags")].toInt() & 0x20000) {
                EXPECT_TRUE(saved->entry(it.key(), QStringLiteral("/I")).isUndefined()) << it.key().toStdString();
            }
    EXPECT_EQ(typedSaved.fields.value(prefix + QStringLiteral("Vervolgkeuzelijst1[0]"))[QStringLiteral("value")].toString(),
              QStringLiteral("u:Typed"));
}
