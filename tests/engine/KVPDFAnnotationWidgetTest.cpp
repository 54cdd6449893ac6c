// The form-field widget base: which dictionary holds a field, the name from the T chain, what a
// widget keeps of its own dictionary, makeField, and the form a save writes back from the
// widgets (fields grouped by name, in the places of the fields they came from).
#include "KVPDFAnnotationWidget.h"

#include "KVPDFDocument.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVProbeFields.h"
#include "KVProbeJson.h"
#include "support/KVPDFSaveChecks.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {
using Dict = std::shared_ptr<KVPDFObjectDictionary>;

std::shared_ptr<KVPDFDocument> open(const QByteArray &data)
{
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(data, &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

// One page whose Annots is [10 0 R] and the objects given.
std::shared_ptr<KVPDFDocument> withWidget(const std::map<int, QByteArray> &objects)
{
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Annots [10 0 R]");
    for (const auto &[number, text] : objects)
        b.add(number, text);
    return open(b.build());
}

std::shared_ptr<KVPDFAnnotationWidget> widgetOf(KVPDFPage &page, size_t index = 0)
{
    auto annotations = page.annotationImprints();
    return index < annotations.size() ? std::dynamic_pointer_cast<KVPDFAnnotationWidget>(annotations[index]) : nullptr;
}

QString text(const KVPDFObjectPtr &object)
{
    auto string = kv_cast<KVPDFObjectString>(object ? object->resolvedObject() : nullptr);
    return string ? string->stringValue() : QStringLiteral("<none>");
}

TEST(KVPDFAnnotationWidgetTest, TheFieldDictionaryAndTheNameFollowOneRule)
{
    struct Case {
        const char *name;
        std::map<int, QByteArray> objects;
        QString fieldName;
        QString value;
        uint64_t flags;
        QString tooltip;
    };
    const Case cases[] = {
        {"a Parent without FT: the widget holds the field, the Parent's T comes first",
         {{10, "<< /Subtype /Widget /FT /Tx /T (city) /V (Paris) /Ff 2 /TU (City) /Parent 11 0 R >>"},
          {11, "<< /T (address) /V (ignored) /Ff 1 /Kids [10 0 R] >>"}},
         QStringLiteral("address.city"), QStringLiteral("Paris"), 2, QStringLiteral("City")},
        {"a Parent with FT holds the field; the widget's own T is not part of the name",
         {{10, "<< /Subtype /Widget /T (own) /V (own value) /Parent 11 0 R >>"},
          {11, "<< /FT /Tx /T (shared) /V (shared value) /Ff 4096 /Parent 12 0 R /Kids [10 0 R] >>"},
          {12, "<< /T (form) /Kids [11 0 R] >>"}},
         QStringLiteral("form.shared"), QStringLiteral("shared value"), 4096, QString()},
        {"TM is no name",
         {{10, "<< /Subtype /Widget /FT /Tx /T (short) /TM (export_name) >>"}}, QStringLiteral("short"), QStringLiteral("<none>"), 0,
         QString()},
        {"an ancestor without T adds nothing",
         {{10, "<< /Subtype /Widget /FT /Ch /T (c) /Parent 11 0 R >>"}, {11, "<< /Kids [10 0 R] /Parent 12 0 R >>"},
          {12, "<< /T (a) /Kids [11 0 R] >>"}},
         QStringLiteral("a.c"), QStringLiteral("<none>"), 0, QString()},
        {"no T: no name", {{10, "<< /Subtype /Widget /FT /Btn >>"}}, QString(), QStringLiteral("<none>"), 0, QString()},
        {"a Parent chain that loops ends the name",
         {{10, "<< /Subtype /Widget /FT /Tx /T (x) /Parent 11 0 R >>"}, {11, "<< /T (p) /Parent 12 0 R >>"},
          {12, "<< /T (q) /Parent 11 0 R >>"}},
         QStringLiteral("q.p.x"), QStringLiteral("<none>"), 0, QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = withWidget(c.objects);
        auto widget = widgetOf(*document->pageAtIndex(0));
        ASSERT_TRUE(widget);
        EXPECT_EQ(widget->fieldName(), c.fieldName);
        EXPECT_EQ(widget->fieldName().isNull(), c.fieldName.isNull());
        EXPECT_EQ(text(widget->value()), c.value);
        EXPECT_EQ(widget->fieldFlags(), c.flags);
        EXPECT_EQ(widget->tooltip(), c.tooltip);
        const Dict &kept = widget->annotDict();
        for (const char *key : {"DV", "T", "FT", "V", "TU", "Ff", "Parent", "Kids"})
            EXPECT_FALSE(kept->objectForKey(key)) << key << " is the widget's to keep, not the dictionary's";
    }
}

TEST(KVPDFAnnotationWidgetTest, OnlyTheFieldDictionaryGivesTheClass)
{
    auto document = withWidget({{10, "<< /Subtype /Widget /Parent 11 0 R >>"},
                                {11, "<< /T (middle) /Parent 12 0 R >>"},
                                {12, "<< /FT /Tx /T (top) >>"}});
    auto annotations = document->pageAtIndex(0)->annotationImprints();
    ASSERT_EQ(annotations.size(), 1u);
    EXPECT_EQ(annotations[0]->annotationType(), KVPDFAnnotation::AnnotationBase) << "FT two levels up is not the field's";
    EXPECT_TRUE(annotations[0]->annotDict()->objectForKey("Parent")) << "a plain annotation keeps everything";

    auto signature = withWidget({{10, "<< /Subtype /Widget /FT /Sig /T (s) >>"}});
    EXPECT_EQ(signature->pageAtIndex(0)->annotationImprints().at(0)->annotationType(), KVPDFAnnotation::AnnotationBase);
}

class ButtonWidget : public KVPDFAnnotationWidget {
public:
    using KVPDFAnnotationWidget::KVPDFAnnotationWidget;
    int widgetType() const override { return WidgetButton; }
};

TEST(KVPDFAnnotationWidgetTest, MakeFieldGivesTheFieldEntriesBack)
{
    auto document = withWidget({{10, "<< /Subtype /Widget /FT /Tx /T (city) /DV (Rome) /Parent 11 0 R >>"},
                                {11, "<< /T (address) /Kids [10 0 R] >>"}});
    auto widget = widgetOf(*document->pageAtIndex(0));
    ASSERT_TRUE(widget);
    Dict field = widget->makeField();
    EXPECT_EQ(text(field->objectForKey("T")), QStringLiteral("city")) << "the name below the ancestor";
    EXPECT_EQ(field->objectForKey("Parent")->resolvedObject(), document->resolveObject(11, 0));
    EXPECT_EQ(text(field->objectForKey("DV")), QStringLiteral("Rome"));
    EXPECT_FALSE(field->objectForKey("V")) << "a text field without a value has none";
    EXPECT_EQ(field->nameForKey("FT"), QByteArray("Tx"));
    EXPECT_EQ(field->integerForKey("Ff", -1), 0);

    widget->setFieldName(QStringLiteral("address.street"));
    EXPECT_EQ(text(widget->makeField()->objectForKey("T")), QStringLiteral("street"));
    widget->setFieldName(QStringLiteral("elsewhere"));
    EXPECT_EQ(text(widget->makeField()->objectForKey("T")), QStringLiteral("elsewhere")) << "written whole, still below";

    ButtonWidget button(KVPDFObjectDictionary::dictionaryWithDictionary({}), nullptr);
    EXPECT_EQ(button.makeField()->nameForKey("V"), QByteArray("Off")) << "a button without a value is off";
    EXPECT_FALSE(button.makeField()->objectForKey("T")) << "no name, no T";
}

// ---------------------------------------------------------------------------------------------
// The form a save writes.

struct SavedForm {
    std::shared_ptr<KVPDFDocument> document; // as written; annotations not read
    QStringList fields;     // the full names of Fields, in order
    QStringList order;      // the full names of CO, in order
    QJsonArray report;      // kvprobe fields of the saved file
    Dict form;
};

QString fullName(const Dict &field)
{
    QStringList parts;
    Dict node = field;
    for (int depth = 0; node && depth < 16; ++depth) {
        if (auto t = kv_cast<KVPDFObjectString>(node->resolvedObjectForKey("T")))
            parts.prepend(t->stringValue());
        node = kv_cast<KVPDFObjectDictionary>(node->resolvedObjectForKey("Parent"));
    }
    return parts.join(QLatin1Char('.'));
}

QStringList namesOf(const KVPDFObjectPtr &list)
{
    QStringList names;
    auto array = kv_cast<KVPDFObjectArray>(list ? list->resolvedObject() : nullptr);
    for (size_t i = 0; array && i < array->count(); ++i)
        names << fullName(kv_cast<KVPDFObjectDictionary>(array->resolvedObjectAtIndex(i)));
    return names;
}

SavedForm save(KVPDFDocument &document, const QTemporaryDir &dir)
{
    SavedForm out;
    const QString path = dir.filePath(QStringLiteral("saved.pdf"));
    EXPECT_TRUE(document.writeUpdatedDocument(path, {}));
    const ToolResult check = savechecks::qpdfCheck(path);
    EXPECT_EQ(check.exitCode, 0) << check.out.toStdString() << check.err.toStdString();
    out.document = open(savechecks::readFile(path));
    if (!out.document)
        return out;
    out.form = kv_cast<KVPDFObjectDictionary>(out.document->rootObject()->resolvedObjectForKey("AcroForm"));
    if (out.form) {
        out.fields = namesOf(out.form->objectForKey("Fields"));
        out.order = namesOf(out.form->objectForKey("CO"));
    }
    // Read through the widget classes on a document of its own: they take the field entries
    // out of the dictionaries the checks look at.
    auto reread = open(savechecks::readFile(path));
    out.report = kvprobeFieldsJson(*reread).value(QStringLiteral("fields")).toArray();
    return out;
}

// Two pages: a field shared by widgets on both (Parent with AA, DA and MaxLen), a widget that is
// its own field, a signature, and a calculation order.
PdfBuilder formFixture()
{
    PdfBuilder b = PdfBuilder::withPages(2, "/MediaBox [0 0 612 792]");
    b.add(1, "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [20 0 R 12 0 R 30 0 R] /CO [12 0 R 20 0 R] >> >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [10 0 R 12 0 R 31 0 R] >>");
    b.add(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Annots [11 0 R] >>");
    b.add(10, "<< /Type /Annot /Subtype /Widget /Parent 20 0 R /Rect [10 10 100 30] /P 3 0 R >>");
    b.add(11, "<< /Type /Annot /Subtype /Widget /Parent 20 0 R /Rect [10 10 100 30] /P 4 0 R >>");
    b.add(12, "<< /Type /Annot /Subtype /Widget /FT /Tx /T (total) /TM (sum) /V (3) /Rect [10 50 100 70] /P 3 0 R"
              " /AA << /C << /S /JavaScript /JS (sum) >> >> >>");
    b.add(20, "<< /FT /Tx /T (name) /V (Ada) /DA (/Helv 9 Tf 0 g) /MaxLen 12"
              " /AA << /K << /S /JavaScript /JS (k) >> >> /Kids [10 0 R 11 0 R] >>");
    b.add(30, "<< /FT /Sig /T (signature) /Kids [31 0 R] >>");
    b.add(31, "<< /Type /Annot /Subtype /Widget /Parent 30 0 R /Rect [0 0 0 0] /P 3 0 R >>");
    return b;
}

void readAll(KVPDFDocument &document)
{
    for (size_t i = 0; i < document.pageCount(); ++i)
        document.pageAtIndex(i)->annotationImprints();
}

TEST(KVPDFAnnotationWidgetSaveTest, FieldsAreWrittenBackInThePlacesTheyCameFrom)
{
    struct Case {
        const char *name;
        std::function<void(KVPDFDocument &)> edit;
        QStringList fields;
        QStringList order;
        QStringList widgets; // the full name of every widget, in page order
    };
    const Case cases[] = {
        {"no edits", [](KVPDFDocument &) {}, {"name", "total", "signature"}, {"total", "name"},
         {"name", "total", "signature", "name"}},
        {"a widget of a shared field renamed leaves it",
         [](KVPDFDocument &d) { widgetOf(*d.pageAtIndex(1))->setFieldName(QStringLiteral("alias")); },
         {"name", "total", "signature", "alias"}, {"total", "name"}, {"name", "total", "signature", "alias"}},
        {"a field of its own renamed to a shared name joins it, listed once",
         [](KVPDFDocument &d) { widgetOf(*d.pageAtIndex(0), 1)->setFieldName(QStringLiteral("name")); },
         {"name", "signature"}, {"name"}, {"name", "name", "signature", "name"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = open(formFixture().build());
        ASSERT_TRUE(document);
        readAll(*document);
        c.edit(*document);
        QTemporaryDir dir;
        const SavedForm saved = save(*document, dir);
        ASSERT_TRUE(saved.form);
        EXPECT_EQ(saved.fields, c.fields);
        EXPECT_EQ(saved.order, c.order);
        QStringList widgets;
        for (const QJsonValue &field : saved.report)
            widgets << field[QStringLiteral("fullname")].toString();
        EXPECT_EQ(widgets, c.widgets);
    }
}

TEST(KVPDFAnnotationWidgetSaveTest, RebuiltFieldsKeepWhatTheEngineDoesNotModel)
{
    auto document = open(formFixture().build());
    ASSERT_TRUE(document);
    readAll(*document);
    widgetOf(*document->pageAtIndex(0))->setValue(KVPDFObjectString::stringWithString(QStringLiteral("Grace")));
    QTemporaryDir dir;
    const SavedForm saved = save(*document, dir);
    ASSERT_TRUE(saved.document);
    auto page = saved.document->pageAtIndex(0);
    auto annots = kv_cast<KVPDFObjectArray>(page->pageDictionary()->resolvedObjectForKey("Annots"));
    ASSERT_TRUE(annots);
    auto shared = kv_cast<KVPDFObjectDictionary>(
        kv_cast<KVPDFObjectDictionary>(annots->resolvedObjectAtIndex(0))->resolvedObjectForKey("Parent"));
    ASSERT_TRUE(shared);
    EXPECT_EQ(text(shared->objectForKey("V")), QStringLiteral("Grace"));
    EXPECT_EQ(text(shared->objectForKey("DA")), QStringLiteral("/Helv 9 Tf 0 g"));
    EXPECT_EQ(shared->integerForKey("MaxLen"), 12);
    EXPECT_TRUE(kv_cast<KVPDFObjectDictionary>(shared->resolvedObjectForKey("AA")));
    EXPECT_EQ(kv_cast<KVPDFObjectArray>(shared->resolvedObjectForKey("Kids"))->count(), 2u);

    auto own = kv_cast<KVPDFObjectDictionary>(annots->resolvedObjectAtIndex(1));
    EXPECT_EQ(text(own->objectForKey("T")), QStringLiteral("total")) << "TM is never written as T";
    EXPECT_EQ(text(own->objectForKey("TM")), QStringLiteral("sum"));
    EXPECT_TRUE(own->objectForKey("AA"));

    auto signature = kv_cast<KVPDFObjectDictionary>(annots->resolvedObjectAtIndex(2));
    EXPECT_EQ(fullName(signature), QStringLiteral("signature")) << "a field the engine does not model stays";
}

} // namespace
