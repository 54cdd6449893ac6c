#include "JXFolivoPage.h"

#include "JXDocumentTestSupport.h"
#include "JXFolivoDocument.h"
#include "JXFolivoImprint.h"
#include "KVLog.h"
#include "KVPDFAnnotation.h"
#include "KVPDFAnnotationLink.h"
#include "KVPDFAnnotationWidgetButton.h"
#include "KVPDFDocument.h"
#include "KVPDFImage.h"
#include "KVPDFImprint.h"
#include "KVPDFPage.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextTable>

#include <gtest/gtest.h>

namespace {
// A form field as the field kinds answer: a name, a value, a required flag, and a class name
// of its own (the values are collected by class).
class TestField : public JXFolivoImprint {
public:
    TestField(QString name, std::shared_ptr<KVPDFImprint> record = nullptr, QVariant value = {},
              QString className = QStringLiteral("JXFolivoAnnotationWidgetText"), bool required = false)
        : m_name(std::move(name)), m_value(std::move(value)), m_className(std::move(className)), m_required(required)
    {
        JXFolivoImprint::initWith(record, nullptr);
    }
    QString className() const override { return m_className; }
    bool hasName() const override { return true; }
    QString fieldName() const override { return m_name; }
    void setFieldName(const QString &name) override { m_name = name; }
    QVariant valueOrNil() const override { return m_value; }
    bool required() const override { return m_required; }

private:
    QString m_name;
    QVariant m_value;
    QString m_className;
    bool m_required;
};

// A base imprint made from a record (or none), on no page.
std::shared_ptr<JXFolivoImprint> plainImprint(const std::shared_ptr<KVPDFImprint> &record)
{
    auto imprint = std::make_shared<JXFolivoImprint>();
    imprint->initWith(record, nullptr);
    return imprint;
}

class LayeredImprint : public JXFolivoImprint {
public:
    LayeredImprint(int layer, bool locked = false) : m_layer(layer)
    {
        setLocked(locked);
    }
    int layer() const override { return m_layer; }

private:
    int m_layer;
};

QByteArray grayPixel(int value)
{
    return "<< /Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray /BitsPerComponent 8 "
           "/Length 1 >>\nstream\n"
           + QByteArray(1, char(value)) + "\nendstream";
}

// One page drawing two images (Im1 at (10, 20), Im2 at (300, 400)), with annotations in this
// order: a hidden square, a link, a pop-up, a check box, a signature field, one of an unknown
// subtype.
QByteArray kindsFixture()
{
    PdfBuilder builder = PdfBuilder::withPages(
        1, "/MediaBox [0 0 612 792] /Resources << /XObject << /Im1 10 0 R /Im2 11 0 R >> >> /Contents 12 0 R "
           "/Annots [20 0 R 21 0 R 22 0 R 23 0 R 24 0 R 25 0 R]");
    const QByteArray content = "q 50 0 0 60 10 20 cm /Im1 Do Q q 70 0 0 80 300 400 cm /Im2 Do Q\n";
    builder.add(10, grayPixel(0x20));
    builder.add(11, grayPixel(0xC0));
    builder.add(12, "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream");
    builder.add(20, "<< /Type /Annot /Subtype /Square /F 2 /Rect [0 0 10 10] >>");
    builder.add(21, "<< /Type /Annot /Subtype /Link /Rect [100 100 200 120] /A << /S /URI /URI (https://example.com) >> >>");
    builder.add(22, "<< /Type /Annot /Subtype /Popup /Rect [300 300 400 400] >>");
    builder.add(23, "<< /Type /Annot /Subtype /Widget /FT /Btn /T (Check) /V /Off /AS /Off /Rect [50 500 70 520] >>");
    builder.add(24, "<< /Type /Annot /Subtype /Widget /FT /Sig /T (Signed) /Rect [50 600 150 640] >>");
    builder.add(25, "<< /Type /Annot /Subtype /Foo /Rect [50 700 60 710] >>");
    return builder.build();
}

QString kindOf(const JXFolivoImprint &imprint)
{
    if (imprint.pdfImage())
        return QStringLiteral("image");
    if (auto annotation = std::dynamic_pointer_cast<KVPDFAnnotation>(imprint.pdfImprint()))
        return QString::number(annotation->annotationType());
    return imprint.pdfImprint() ? QStringLiteral("stored") : QStringLiteral("none");
}

QStringList kinds(const JXImprintList &list)
{
    QStringList out;
    for (const auto &imprint : list)
        out.push_back(kindOf(*imprint));
    return out;
}

// A one-page document of `pages` blank pages, read through the application document.
struct OpenDocument {
    QTemporaryDir dir;
    JXFolivoDocument document;
    explicit OpenDocument(const QByteArray &data = PdfBuilder::withPages(1).build())
    {
        EXPECT_TRUE(document.readFromFile(writeFile(dir, QStringLiteral("in.pdf"), data), JXFolivoDocument::pdfTypeName()));
    }
    JXFolivoPage &page(size_t index = 0) { return *document.pages().at(index); }
};
}

TEST(JXFolivoPageTest, ImprintListHoldsImagesThenStoredObjectsThenAnnotations)
{
    QTemporaryDir dir;
    const QString input = writeFile(dir, QStringLiteral("kinds.pdf"), kindsFixture());
    const QString output = dir.filePath(QStringLiteral("stored.pdf"));
    const ToolResult added = runTool(QStringLiteral(FOLIVO_KVPROBE),
                                     {QStringLiteral("add-imprint"), input, output, QStringLiteral("--page"),
                                      QStringLiteral("1"), QStringLiteral("--at"), QStringLiteral("200,200"),
                                      QStringLiteral("--size"), QStringLiteral("40,30")});
    ASSERT_EQ(added.exitCode, 0) << added.err.toStdString();

    const QStringList expected{"image", "image", "stored", "2", "17"};
    for (bool contentFirst : {false, true}) {
        SCOPED_TRACE(contentFirst ? "contentImprints first" : "imprints alone");
        JXFolivoDocument document;
        ASSERT_TRUE(document.readFromFile(output, JXFolivoDocument::pdfTypeName()));
        JXFolivoPage &page = *document.pages()[0];
        EXPECT_TRUE(page.hasImprints());
        EXPECT_FALSE(page.hasProcessedImprints()) << "hasImprints built the list";
        JXNotificationRecorder recorder({JXFolivoDocument::pagesChangedNotification()});
        KVPDFLogCapture capture;
        if (contentFirst)
            EXPECT_EQ(kinds(page.contentImprints()), QStringList{"stored"});
        const JXImprintList &list = page.imprints();
        EXPECT_EQ(kinds(list), expected);
        EXPECT_TRUE(recorder.posted.empty()) << "building the list reported changes";
        EXPECT_TRUE(capture.contains(QStringLiteral("KVPDFAnnotationWidgetTypeSignature not implemented")));
        EXPECT_TRUE(capture.contains(QStringLiteral("Unknown annotation type")));
        ASSERT_EQ(list.size(), expected.size());
        // The proxies come in the engine's order: Im1 first.
        EXPECT_EQ(list[0]->bounds(), QRectF(10, 20, 50, 60));
        EXPECT_EQ(list[1]->bounds(), QRectF(300, 400, 70, 80));
        for (const auto &imprint : list)
            EXPECT_EQ(imprint->page(), &page);
    }
}

TEST(JXFolivoPageTest, ABlankedOutImageGetsNoProxy)
{
    QTemporaryDir dir;
    JXFolivoDocument document;
    ASSERT_TRUE(document.readFromFile(writeFile(dir, QStringLiteral("kinds.pdf"), kindsFixture()),
                                      JXFolivoDocument::pdfTypeName()));
    auto pdfPage = document.pages()[0]->pdfPage();
    pdfPage->parseContent();
    ASSERT_EQ(pdfPage->images().size(), 2u);
    ASSERT_TRUE(pdfPage->images()[0]->blankOutImage(*document.pdfDocument()));
    pdfPage->resetContent();
    auto fresh = JXFolivoPage::pageWith(pdfPage, &document);
    const JXImprintList &list = fresh->imprints();
    ASSERT_FALSE(list.empty());
    EXPECT_EQ(kinds(list).count(QStringLiteral("image")), 1);
    EXPECT_EQ(list[0]->bounds(), QRectF(300, 400, 70, 80));
}

TEST(JXFolivoPageTest, InsertAndRemoveKeepTheEnginePageInStep)
{
    OpenDocument open;
    JXFolivoPage &page = open.page();
    ASSERT_TRUE(page.imprints().empty());
    auto pdfPage = page.pdfPage();
    auto first = plainImprint(KVPDFAnnotationLink::linkWithRect(QRectF(10, 10, 50, 20), QStringLiteral("https://a.example"), pdfPage.get()));
    auto second = plainImprint(KVPDFAnnotationLink::linkWithRect(QRectF(10, 40, 50, 20), QStringLiteral("https://b.example"), pdfPage.get()));
    auto proxy = plainImprint(nullptr);

    JXNotificationRecorder recorder({JXFolivoDocument::pagesChangedNotification()});
    page.insertImprint(first, 0);
    page.insertImprint(second, 0);
    page.insertImprint(proxy, 99);
    EXPECT_EQ(page.imprints(), (JXImprintList{second, first, proxy}));
    ASSERT_EQ(pdfPage->imprints().size(), 2u);
    EXPECT_EQ(pdfPage->imprints()[0], second->pdfImprint());
    EXPECT_EQ(pdfPage->imprints()[1], first->pdfImprint());
    EXPECT_EQ(first->page(), &page);
    ASSERT_EQ(recorder.posted.size(), 3u);
    EXPECT_EQ(recorder.posted[0].userInfo.value(JXFolivoDocument::imprintKey()).value<JXFolivoImprint *>(), first.get());
    EXPECT_EQ(recorder.posted[0].userInfo.value(JXFolivoDocument::imprintRectKey()).toRectF(), first->bounds());

    page.removeImprint(second);
    EXPECT_EQ(page.imprints(), (JXImprintList{first, proxy}));
    ASSERT_EQ(pdfPage->imprints().size(), 1u);
    EXPECT_EQ(pdfPage->imprints()[0], first->pdfImprint());
    EXPECT_EQ(second->page(), nullptr);

    // Undo of an arrangement puts a whole list back.
    const JXImprintList arrangement{proxy, second, first};
    page.removeAllImprints();
    EXPECT_TRUE(page.imprints().empty());
    EXPECT_TRUE(pdfPage->imprints().empty());
    page.addImprintsFromArray(arrangement);
    EXPECT_EQ(page.imprints(), arrangement);
    EXPECT_EQ(pdfPage->imprints().size(), 2u);
    EXPECT_EQ(recorder.posted.size(), 3u + 1 + 2 + 3);
}

TEST(JXFolivoPageTest, FieldsNewToTheDocumentAreRenamedOthersKeepTheirNames)
{
    OpenDocument open(PdfBuilder::withPages(2).build());
    JXFolivoPage &first = open.page(0);
    JXFolivoPage &second = open.page(1);
    first.insertImprint(std::make_shared<TestField>("Text3"), 0);
    second.insertImprint(std::make_shared<TestField>("Text1"), 0);
    second.insertImprint(std::make_shared<TestField>("Name"), 0);
    second.insertImprint(std::make_shared<TestField>("5"), 0);
    second.insertImprint(std::make_shared<TestField>("Group"), 0);

    struct Case {
        const char *name;
        QString given;
        JXFieldNaming naming;
        QString expected;
    };
    const Case cases[] = {
        {"first free number after the base", "Text3", JXFieldNaming::RenameIfTaken, "Text2"},
        {"a name in use gets 1", "Name", JXFieldNaming::RenameIfTaken, "Name1"},
        {"a lone digit is its own base", "5", JXFieldNaming::RenameIfTaken, "51"},
        {"a free name stays", "Fresh", JXFieldNaming::RenameIfTaken, "Fresh"},
        {"undo and reordering keep a radio group's name", "Group", JXFieldNaming::Keep, "Group"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto field = std::make_shared<TestField>(c.given);
        first.insertImprint(field, 0, c.naming);
        EXPECT_EQ(field->fieldName(), c.expected);
        first.removeImprint(field);
    }

    // A reorder (remove, then insert elsewhere) keeps a group together.
    auto radioA = std::make_shared<TestField>("Radio");
    auto radioB = std::make_shared<TestField>("Radio");
    first.insertImprint(radioA, 0);
    first.insertImprint(radioB, 1);
    first.removeImprint(radioA);
    first.insertImprint(radioA, 1);
    EXPECT_EQ(radioA->fieldName(), QStringLiteral("Radio"));
    EXPECT_EQ(first.widgetsNamed(QStringLiteral("Radio")).size(), 2u);
    EXPECT_EQ(open.document.widgetNames().count(QStringLiteral("Radio")), 2);
}

TEST(JXFolivoPageTest, PastedPagesRenameTakenFieldsAndKeepSharedNamesShared)
{
    OpenDocument open;
    JXFolivoPage &pasted = open.page();
    auto groupA = std::make_shared<TestField>("Group");
    auto groupB = std::make_shared<TestField>("Group");
    auto own = std::make_shared<TestField>("Own");
    auto text = std::make_shared<TestField>("Text1");
    for (const auto &field : {groupA, own, groupB, text})
        pasted.insertImprint(field, pasted.imprints().size());
    pasted.renameFieldsNamedIn({QStringLiteral("Group"), QStringLiteral("Text1"), QStringLiteral("Text2")});
    EXPECT_EQ(groupA->fieldName(), QStringLiteral("Group1"));
    EXPECT_EQ(groupB->fieldName(), QStringLiteral("Group1"));
    EXPECT_EQ(own->fieldName(), QStringLiteral("Own"));
    EXPECT_EQ(text->fieldName(), QStringLiteral("Text3"));
}

TEST(JXFolivoPageTest, ButtonGroupsCollectTheValueOfTheButtonThatIsOn)
{
    OpenDocument open;
    JXFolivoPage &page = open.page();
    auto pdfPage = page.pdfPage().get();
    const QString button = QStringLiteral("JXFolivoAnnotationWidgetButton");
    auto radio = [&](const QString &value) {
        return std::make_shared<TestField>("Choice", KVPDFAnnotationWidgetButton::radio("Choice", "x", pdfPage), value,
                                           button);
    };
    struct Case {
        const char *name;
        QStringList values; // of the group's buttons in list order
        QString collected;
    };
    const Case cases[] = {
        {"on first", {"Yes", "Off", ""}, "Yes"},
        {"on last", {"Off", "", "No"}, "No"},
        {"none on", {"Off", "Off"}, "Off"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        page.removeAllImprints();
        for (const QString &value : c.values)
            page.insertImprint(radio(value), page.imprints().size());
        QVariantMap values;
        page.widgetValuesInto(values);
        EXPECT_EQ(values.value(button).toMap().value("Choice").toString(), c.collected);
    }

    // Text fields are collected as they are: the last one of a name wins, no value is "".
    page.removeAllImprints();
    page.insertImprint(std::make_shared<TestField>("Name", nullptr, QStringLiteral("Ann")), 0);
    page.insertImprint(std::make_shared<TestField>("Name", nullptr, QVariant()), 1);
    auto required = std::make_shared<TestField>("Needed", nullptr, QVariant(), "JXFolivoAnnotationWidgetText", true);
    auto filled = std::make_shared<TestField>("Given", nullptr, QStringLiteral("x"), "JXFolivoAnnotationWidgetText", true);
    page.insertImprint(required, 2);
    page.insertImprint(filled, 3);
    QVariantMap values;
    page.widgetValuesInto(values);
    const QVariantMap text = values.value("JXFolivoAnnotationWidgetText").toMap();
    EXPECT_EQ(text.value("Name"), QVariant(QString()));
    EXPECT_EQ(page.widgetsRequiredAndNotFilledValuesFrom(values), JXImprintList{required});
}

TEST(JXFolivoPageTest, LayerIndexes)
{
    OpenDocument open;
    JXFolivoPage &page = open.page();
    EXPECT_EQ(page.minIndexForLayer(1), 0);
    EXPECT_EQ(page.maxIndexForLayer(1), 0);
    // Layers by index: 0 0 1 1 1 -1, with index 3 locked.
    const int layers[] = {0, 0, 1, 1, 1, -1};
    for (size_t i = 0; i < std::size(layers); ++i)
        page.insertImprint(std::make_shared<LayeredImprint>(layers[i], i == 3), i);
    struct Case {
        int layer, min, max;
    };
    const Case cases[] = {
        {0, 0, 1}, {1, 2, 4}, {-1, 5, 5}, {2, 4, 4}, {7, 4, 4}, {std::numeric_limits<int>::max(), 4, 4}, {-3, 0, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.layer);
        EXPECT_EQ(page.minIndexForLayer(c.layer), c.min);
        EXPECT_EQ(page.maxIndexForLayer(c.layer), c.max);
    }
    EXPECT_EQ(page.lockedItemsInLayer(1), JXImprintList{page.imprints()[3]});
    EXPECT_TRUE(page.lockedItemsInLayer(0).empty());

    // All in layer 1: nothing at or below layer 0.
    page.removeAllImprints();
    page.insertImprint(std::make_shared<LayeredImprint>(1), 0);
    EXPECT_EQ(page.maxIndexForLayer(0), -1);
}

TEST(JXFolivoPageTest, NotesAreNumberedInReadingOrder)
{
    PdfBuilder builder = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Annots [20 0 R 21 0 R 22 0 R 23 0 R]");
    // Reading order: top first, then left first.
    builder.add(20, "<< /Type /Annot /Subtype /Text /Rect [300 500 320 520] /Contents (third) >>");
    builder.add(21, "<< /Type /Annot /Subtype /Text /Rect [100 700 120 720] /Contents (first) >>");
    builder.add(22, "<< /Type /Annot /Subtype /Link /Rect [10 750 20 760] >>");
    builder.add(23, "<< /Type /Annot /Subtype /Text /Rect [50 500 70 520] /Contents (second) >>");
    OpenDocument open(builder.build());
    JXFolivoPage &page = open.page();
    const JXImprintList &list = page.imprints();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(page.noteNumber(list[1].get()), 1u);
    EXPECT_EQ(page.noteNumber(list[3].get()), 2u);
    EXPECT_EQ(page.noteNumber(list[0].get()), 3u);
    EXPECT_EQ(page.noteNumber(list[2].get()), 0u);

    std::unique_ptr<QTextDocument> table = page.generateNotesTable();
    QTextTable *textTable = qobject_cast<QTextTable *>(table->rootFrame()->childFrames().value(0));
    ASSERT_NE(textTable, nullptr);
    EXPECT_EQ(textTable->rows(), 3);
    EXPECT_EQ(textTable->columns(), 2);
    const auto widths = textTable->format().columnWidthConstraints();
    ASSERT_EQ(widths.size(), 2);
    EXPECT_EQ(widths[0], QTextLength(QTextLength::PercentageLength, 10));
    EXPECT_EQ(widths[1], QTextLength(QTextLength::PercentageLength, 90));
    auto cellText = [&](int row, int column) {
        QTextTableCell cell = textTable->cellAt(row, column);
        QTextCursor from = cell.firstCursorPosition();
        from.setPosition(cell.lastCursorPosition().position(), QTextCursor::KeepAnchor);
        return from.selectedText();
    };
    EXPECT_EQ(cellText(1, 1), QStringLiteral("second") + QChar(0x2029));
    EXPECT_EQ(cellText(2, 0), QStringLiteral("3") + QChar(0x2029));
    EXPECT_EQ(textTable->cellAt(0, 0).firstCursorPosition().blockFormat().alignment() & Qt::AlignHorizontal_Mask,
              Qt::AlignRight);
    EXPECT_EQ(textTable->cellAt(0, 0).firstCursorPosition().blockFormat().rightMargin(), 10);
}

TEST(JXFolivoPageTest, CopyBuildsItsOwnList)
{
    QTemporaryDir dir;
    JXFolivoDocument document;
    ASSERT_TRUE(document.readFromFile(writeFile(dir, QStringLiteral("kinds.pdf"), kindsFixture()),
                                      JXFolivoDocument::pdfTypeName()));
    JXFolivoPage &page = *document.pages()[0];
    const JXImprintList original = page.imprints();
    auto copy = page.copy();
    EXPECT_EQ(copy->document(), &document);
    EXPECT_NE(copy->pdfPage(), page.pdfPage());
    EXPECT_FALSE(copy->hasProcessedImprints());
    const JXImprintList &copied = copy->imprints();
    EXPECT_EQ(kinds(copied), kinds(original));
    for (size_t i = 0; i < copied.size() && i < original.size(); ++i)
        EXPECT_NE(copied[i], original[i]);
}

TEST(JXFolivoPageTest, BaseNames)
{
    const std::pair<const char *, const char *> cases[] = {
        {"Text12", "Text"}, {"7", "7"}, {"A7", "A"}, {"77", "7"}, {"", ""}, {"Name", "Name"},
    };
    for (const auto &[given, base] : cases)
        EXPECT_EQ(JXFolivoPage::baseName(given), QString::fromLatin1(base)) << given;
}
