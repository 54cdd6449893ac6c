// Button fields: the state artwork, loading and toggling, setup, the submit button, and what a
// save does for submit buttons; end to end through `kvprobe toggle` and `kvprobe add-button`,
// checked with qpdf, pdftoppm and mutool.
#include "KVPDFAnnotationWidgetButton.h"
#include "KVPDFAnnotationWidgetButtonSubmit.h"

#include "KVPDFDocument.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFPage.h"
#include "KVPDFServices.h"
#include "support/KVPDFSaveChecks.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QGuiApplication>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace savechecks;

namespace {
using Button = KVPDFAnnotationWidgetButton;
using Submit = KVPDFAnnotationWidgetButtonSubmit;

std::vector<double> numbersOf(const QByteArray &text)
{
    std::vector<double> numbers;
    for (const QByteArray &token : text.simplified().split(' ')) {
        bool ok = false;
        const double value = token.toDouble(&ok);
        if (ok)
            numbers.push_back(value);
    }
    return numbers;
}

// One page of 300 x 200 whose Annots are `annots` (objects 4 on), with `extra` objects.
QByteArray pageWith(const QByteArray &annots, const std::vector<QByteArray> &widgets, const QByteArray &catalogExtra = {},
                    const QByteArray &info = {})
{
    PdfBuilder b;
    // An ID and an Info of object 20 holding `info`.
    if (!info.isEmpty()) {
        b.add(20, info);
        b.trailerExtra = "/Info 20 0 R /ID [<00112233445566778899AABBCCDDEEFF> <00112233445566778899AABBCCDDEEFF>]";
    }
    b.add(1, "<< /Type /Catalog /Pages 2 0 R " + catalogExtra + " >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 200] /Annots [" + annots + "] >>");
    int number = 4;
    for (const QByteArray &widget : widgets)
        b.add(number++, widget);
    return b.build();
}

std::vector<std::shared_ptr<Button>> buttonsOf(KVPDFDocument &document)
{
    std::vector<std::shared_ptr<Button>> buttons;
    for (const auto &page : document.pages())
        for (const auto &widget : page->widgets())
            if (auto button = std::dynamic_pointer_cast<Button>(widget))
                buttons.push_back(button);
    return buttons;
}

std::shared_ptr<KVPDFDocument> open(const QByteArray &data)
{
    KVPDFOpenResult result = KVPDFOpenOK;
    auto document = KVPDFDocument::documentWithData(data, &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

QByteArray stateOf(const Button &button) { return button.annotDict()->nameForKey("AS"); }

QByteArray valueOf(const Button &button)
{
    auto name = kv_cast<KVPDFObjectName>(button.value());
    return name ? name->bytes() : QByteArray();
}

ToolResult kvprobe(const QStringList &arguments) { return runTool(QStringLiteral(FOLIVO_KVPROBE), arguments); }

// The fields qpdf reports, by full name; each widget once.
std::vector<QJsonObject> qpdfFields(const QString &path)
{
    const ToolResult qpdf = runTool(QStringLiteral("qpdf"), {QStringLiteral("--json"), QStringLiteral("--json-key=acroform"), path});
    std::vector<QJsonObject> fields;
    for (const QJsonValue &field : QJsonDocument::fromJson(qpdf.out)[QStringLiteral("acroform")][QStringLiteral("fields")].toArray())
        fields.push_back(field.toObject());
    return fields;
}

QImage render(const QString &program, const QStringList &arguments, const QString &png)
{
    const ToolResult result = runTool(program, arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err.constData();
    return QImage(png).convertToFormat(QImage::Format_Grayscale8);
}

int darkPixels(const QImage &image, const QRect &area)
{
    int dark = 0;
    for (int y = area.top(); y <= area.bottom() && y < image.height(); ++y)
        for (int x = area.left(); x <= area.right() && x < image.width(); ++x)
            dark += qGray(image.pixel(x, y)) < 128;
    return dark;
}

// Push buttons are drawn with QPainter into QPdfWriter, which needs a GUI application.
void ensureGuiApplication()
{
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "engine_tests";
    static char *argv[] = {name, nullptr};
    static QGuiApplication *application = new QGuiApplication(argc, argv);
    (void)application;
}
}

// ---- Artwork -----------------------------------------------------------------------------

TEST(KVPDFAnnotationWidgetButtonTest, UnitSquareIsTheLargestCentredSquare)
{
    struct Row {
        QSizeF size;
        std::vector<double> expected;
    };
    const Row rows[] = {
        {{100, 20}, {20, 0, 0, -20, 40, 0}},
        {{20, 100}, {20, 0, 0, -20, 0, 40}},
        {{30, 30}, {30, 0, 0, -30, 0, 0}},
    };
    for (const Row &row : rows) {
        const QByteArray ctm = Button::ctmUsingSize(row.size);
        EXPECT_TRUE(ctm.endsWith(" cm")) << ctm.constData();
        EXPECT_EQ(numbersOf(ctm), row.expected) << ctm.constData();
    }
}

TEST(KVPDFAnnotationWidgetButtonTest, StateStreamsDrawTheMarkOnlyWhenOn)
{
    const Button::Colors colors{KVColor::rgb(1, 0, 0), KVColor::rgb(0, 0, 1), KVColor::rgb(0, 1, 0)};
    const QByteArray checkOn = Button::checkboxOfSize({100, 20}, true, colors);
    const QByteArray checkOff = Button::checkboxOfSize({100, 20}, false, colors);
    const QByteArray radioOn = Button::radioOfSize({100, 20}, true, colors);
    const QByteArray radioOff = Button::radioOfSize({100, 20}, false, colors);
    EXPECT_TRUE(checkOn.contains("0.9502 -0.96338 m"));
    EXPECT_FALSE(checkOff.contains("0.9502 -0.96338 m"));
    EXPECT_TRUE(radioOn.contains("0.75 -0.5 m"));
    EXPECT_FALSE(radioOff.contains("0.75 -0.5 m"));
    // The fill colour paints the background before the transform; the border strokes the box.
    EXPECT_TRUE(checkOff.startsWith("0.000000 0.000000 1.000000 rg 0.000000 0.000000 100.000000 20.000000 re f "))
        << checkOff.constData();
    EXPECT_TRUE(checkOff.contains("1.000000 0.000000 0.000000 RG f\n0.05 w"));
    // Without a fill colour there is no background.
    EXPECT_FALSE(Button::radioOfSize({100, 20}, true, {}).contains(" re f"));
}

// ---- Loading and toggling ----------------------------------------------------------------

TEST(KVPDFAnnotationWidgetButtonTest, ToggleSwitchesAsAndVBetweenTheStates)
{
    const QByteArray form = "/AcroForm << /Fields [4 0 R 5 0 R 6 0 R 7 0 R 8 0 R] >>";
    auto document = open(pageWith(
        "4 0 R 5 0 R 6 0 R 7 0 R 8 0 R",
        {
            // Yes first, Off second.
            "<< /Type /Annot /Subtype /Widget /FT /Btn /T (a) /V /Off /AS /Off /Rect [0 0 20 20]"
            " /AP << /N << /Yes 9 0 R /Off 9 0 R >> >> >>",
            // Off first: the export value is the other key whatever the order.
            "<< /Type /Annot /Subtype /Widget /FT /Btn /T (b) /V /On /AS /On /Rect [0 0 20 20]"
            " /AP << /N << /Off 9 0 R /On 9 0 R >> >> >>",
            // AS names neither key: the first key in stored order.
            "<< /Type /Annot /Subtype /Widget /FT /Btn /T (c) /AS /Gone /Rect [0 0 20 20]"
            " /AP << /N << /Off 9 0 R /Yes 9 0 R >> >> >>",
            // N has one state, D two: D decides.
            "<< /Type /Annot /Subtype /Widget /FT /Btn /Ff 49152 /T (d) /AS /Off /Rect [0 0 20 20]"
            " /AP << /N << /Off 9 0 R >> /D << /Off 9 0 R /R1 9 0 R >> >> >>",
            // One state only: nothing to switch to.
            "<< /Type /Annot /Subtype /Widget /FT /Btn /T (e) /V /Off /AS /Off /Rect [0 0 20 20] /AP << /N << /Off 9 0 R >> >> >>",
            "<< /Type /XObject /Subtype /Form /BBox [0 0 20 20] /Length 0 >>\nstream\n\nendstream",
        },
        form));
    const auto buttons = buttonsOf(*document);
    ASSERT_EQ(buttons.size(), 5u);
    struct Row {
        QString exportValue;
        bool toggles;
        QByteArray first;
        QByteArray second;
    };
    const Row rows[] = {
        {"Yes", true, "Yes", "Off"}, {"On", true, "Off", "On"}, {"Yes", true, "Off", "Yes"}, {"", true, "R1", "Off"}, {"", false, "Off", "Off"},
    };
    for (size_t i = 0; i < buttons.size(); ++i) {
        SCOPED_TRACE(buttons[i]->fieldName().toStdString());
        EXPECT_EQ(buttons[i]->exportValue(), rows[i].exportValue);
        EXPECT_EQ(buttons[i]->toggleState(), rows[i].toggles);
        EXPECT_EQ(stateOf(*buttons[i]), rows[i].first);
        if (rows[i].toggles) {
            EXPECT_EQ(valueOf(*buttons[i]), rows[i].first);
        }
        buttons[i]->toggleState();
        EXPECT_EQ(stateOf(*buttons[i]), rows[i].second);
    }
}

TEST(KVPDFAnnotationWidgetButtonTest, SetupKeepsTheUsersFlagsAndSetsPrint)
{
    // Hidden (2), no view (32) and locked (128) stay; print (4) is added.
    auto document = open(pageWith("4 0 R", {"<< /Type /Annot /Subtype /Widget /FT /Btn /T (a) /V /Yes /F 162 /Rect [10 10 110 30] >>"},
                                  "/AcroForm << /Fields [4 0 R] >>"));
    auto button = buttonsOf(*document).front();
    button->setExportValue(QStringLiteral("Yes"));
    EXPECT_EQ(button->annotDict()->integerForKey("F"), 162 | 4);
    // V names the on state: the button shows it.
    EXPECT_EQ(stateOf(*button), "Yes");
    button->setExportValue(QStringLiteral("Other"));
    EXPECT_EQ(stateOf(*button), "Off");
    auto states = kv_cast<KVPDFObjectDictionary>(
        kv_cast<KVPDFObjectDictionary>(button->annotDict()->resolvedObjectForKey("AP"))->resolvedObjectForKey("N"));
    ASSERT_TRUE(states);
    EXPECT_EQ(states->keys(), (std::vector<QByteArray>{"Other", "Off"}));
}

TEST(KVPDFAnnotationWidgetButtonTest, ToggleOnCorpusButtonsChangesOnlyThatWidget)
{
    QTemporaryDir dir;
    const QString source = corpusDir() + QStringLiteral("/pdfjs/annotation-button-widget.pdf");
    const QString field = QStringLiteral("formulier1[0].#subform[0].Selectievakje1[0]");
    const QString on = dir.filePath(QStringLiteral("on.pdf"));
    const QString off = dir.filePath(QStringLiteral("off.pdf"));
    ASSERT_EQ(kvprobe({QStringLiteral("toggle"), source, QStringLiteral("--field"), field, QStringLiteral("-o"), on}).exitCode, 0);
    ASSERT_EQ(kvprobe({QStringLiteral("toggle"), on, QStringLiteral("--field"), field, QStringLiteral("-o"), off}).exitCode, 0);

    const std::vector<QJsonObject> before = qpdfFields(source);
    const std::vector<QJsonObject> after = qpdfFields(on);
    const std::vector<QJsonObject> again = qpdfFields(off);
    ASSERT_EQ(before.size(), after.size());
    ASSERT_EQ(before.size(), again.size());
    QRect box;
    for (size_t i = 0; i < before.size(); ++i) {
        const QString name = before[i][QStringLiteral("fullname")].toString();
        SCOPED_TRACE(name.toStdString());
        const QString state = after[i][QStringLiteral("annotation")][QStringLiteral("appearancestate")].toString();
        if (name == field) {
            EXPECT_EQ(after[i][QStringLiteral("value")].toString(), QStringLiteral("/1"));
            EXPECT_EQ(state, QStringLiteral("/1"));
            EXPECT_EQ(again[i][QStringLiteral("value")].toString(), QStringLiteral("/Off"));
            EXPECT_EQ(again[i][QStringLiteral("annotation")][QStringLiteral("appearancestate")].toString(), QStringLiteral("/Off"));
        } else {
            EXPECT_EQ(after[i][QStringLiteral("value")], before[i][QStringLiteral("value")]);
            EXPECT_EQ(state, before[i][QStringLiteral("annotation")][QStringLiteral("appearancestate")].toString());
        }
    }
    // The field's box at 144 dpi, from the engine's reading of the file.
    auto document = KVPDFDocument::documentWithContentsOfFile(on, nullptr);
    ASSERT_TRUE(document);
    std::shared_ptr<KVPDFPage> page = document->pageAtIndex(0);
    for (const auto &button : buttonsOf(*document))
        if (button->fieldName() == field) {
            const QRectF rect = button->rect();
            const double height = page->mediaBox().height();
            box = QRect(int(rect.left() * 2), int((height - rect.bottom()) * 2), int(rect.width() * 2), int(rect.height() * 2));
        }
    ASSERT_FALSE(box.isEmpty());
    const QString args = QStringLiteral("-r 144 -f 1 -l 1 -singlefile -png");
    const QImage shownOn = render(QStringLiteral("pdftoppm"), args.split(' ') + QStringList{on, dir.filePath(QStringLiteral("on"))},
                                  dir.filePath(QStringLiteral("on.png")));
    const QImage shownOff = render(QStringLiteral("pdftoppm"), args.split(' ') + QStringList{off, dir.filePath(QStringLiteral("off"))},
                                   dir.filePath(QStringLiteral("off.png")));
    EXPECT_GT(darkPixels(shownOn, box), darkPixels(shownOff, box) + 20);
}

TEST(KVPDFAnnotationWidgetButtonTest, CheckBoxWithoutAppearanceGetsItsStatesWhenToggled)
{
    QTemporaryDir dir;
    const QString source = corpusDir() + QStringLiteral("/pdfjs/checkbox_no_appearance.pdf");
    const QString on = dir.filePath(QStringLiteral("on.pdf"));
    const QString off = dir.filePath(QStringLiteral("off.pdf"));
    ASSERT_EQ(kvprobe({QStringLiteral("toggle"), source, QStringLiteral("--field"), QStringLiteral("cbOff"), QStringLiteral("-o"), on}).exitCode, 0);
    ASSERT_EQ(kvprobe({QStringLiteral("toggle"), on, QStringLiteral("--field"), QStringLiteral("cbOff"), QStringLiteral("-o"), off}).exitCode, 0);
    for (const auto &[path, expected] : {std::pair{on, QStringLiteral("/Yes")}, std::pair{off, QStringLiteral("/Off")}}) {
        bool seen = false;
        for (const QJsonObject &field : qpdfFields(path))
            if (field[QStringLiteral("fullname")].toString() == QStringLiteral("cbOff")) {
                seen = true;
                EXPECT_EQ(field[QStringLiteral("value")].toString(), expected);
                EXPECT_EQ(field[QStringLiteral("annotation")][QStringLiteral("appearancestate")].toString(), expected);
            }
        EXPECT_TRUE(seen);
    }
    // The file asks readers to draw its fields (NeedAppearances), which pdftoppm does itself and
    // fails at without a DA; mutool draws the appearance streams. cbOff is [90 140 130 180] on a
    // 200-point page: at 144 dpi, x 180..260 and y 40..120.
    const QRect box(180, 40, 80, 80);
    const QImage shownOn = render(QStringLiteral("mutool"), {QStringLiteral("draw"), QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("144"),
                                                             QStringLiteral("-o"), dir.filePath(QStringLiteral("on.png")), on},
                                  dir.filePath(QStringLiteral("on.png")));
    const QImage shownOff = render(QStringLiteral("mutool"), {QStringLiteral("draw"), QStringLiteral("-q"), QStringLiteral("-r"), QStringLiteral("144"),
                                                              QStringLiteral("-o"), dir.filePath(QStringLiteral("off.png")), off},
                                   dir.filePath(QStringLiteral("off.png")));
    EXPECT_GT(darkPixels(shownOn, box), darkPixels(shownOff, box) + 200);
    EXPECT_GT(darkPixels(shownOff, box), 100); // the box itself
}

// ---- New buttons -------------------------------------------------------------------------

TEST(KVPDFAnnotationWidgetButtonTest, NewButtonsMatchTheirGoldenImages)
{
    QTemporaryDir dir;
    const QString blank = dir.filePath(QStringLiteral("blank.pdf"));
    PdfBuilder b;
    b.add(1, "<< /Type /Catalog /Pages 2 0 R >>");
    b.add(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    b.add(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 140 40] >>");
    ASSERT_TRUE(writeFile(blank, b.build()));
    for (const QString &kind : {QStringLiteral("check"), QStringLiteral("radio")})
        for (const bool on : {false, true}) {
            const QString name = kind + (on ? QStringLiteral("-on") : QStringLiteral("-off"));
            SCOPED_TRACE(name.toStdString());
            const QString out = dir.filePath(name + QStringLiteral(".pdf"));
            QStringList arguments{QStringLiteral("add-button"), blank, QStringLiteral("--kind"), kind, QStringLiteral("--rect"),
                                  QStringLiteral("20,10,100,20"), QStringLiteral("-o"), out};
            if (on)
                arguments << QStringLiteral("--on");
            const ToolResult added = kvprobe(arguments);
            ASSERT_EQ(added.exitCode, 0) << added.err.constData();
            EXPECT_EQ(qpdfCheck(out).exitCode, 0);
            const std::vector<QJsonObject> fields = qpdfFields(out);
            ASSERT_EQ(fields.size(), 1u);
            EXPECT_EQ(fields[0][QStringLiteral("value")].toString(), on ? QStringLiteral("/Yes") : QStringLiteral("/Off"));
            EXPECT_EQ(fields[0][QStringLiteral("annotation")][QStringLiteral("annotationflags")].toInt(), 4);
            const QImage shown = render(QStringLiteral("pdftoppm"),
                                        {QStringLiteral("-r"), QStringLiteral("288"), QStringLiteral("-gray"), QStringLiteral("-singlefile"),
                                         QStringLiteral("-png"), out, dir.filePath(name)},
                                        dir.filePath(name + QStringLiteral(".png")));
            const QImage golden =
                QImage(testDataDir() + QStringLiteral("/golden/button-") + name + QStringLiteral(".png")).convertToFormat(QImage::Format_Grayscale8);
            ASSERT_FALSE(golden.isNull());
            EXPECT_LE(differingPixelShare(shown, golden), 0.01);
        }
}

// ---- Submit buttons ----------------------------------------------------------------------

namespace {
// Six submit buttons, one per highlight mode (P, T, O, N, I, none); the first sends to
// https://example.test/form with Flags 4, the last submits only on mouse up (AA U).
QByteArray submitFixture(int64_t folivoFlags = 0, const QByteArray &info = {})
{
    const QByteArray action = "/A << /S /SubmitForm /F << /FS /URL /F (https://example.test/form) >> /Flags 4 >>";
    std::vector<QByteArray> widgets;
    const QByteArray modes[] = {"/H /P", "/H /T", "/H /O", "/H /N", "/H /I", ""};
    for (int i = 0; i < 6; ++i) {
        const QByteArray rect = "/Rect [20 " + QByteArray::number(160 - 30 * i) + " 120 " + QByteArray::number(180 - 30 * i) + "]";
        const QByteArray act = i == 5 ? "/AA << /U << /S /SubmitForm /F << /FS /URL /F (https://example.test/up) >> >> >>" : action;
        widgets.push_back("<< /Type /Annot /Subtype /Widget /FT /Btn /Ff 65536 /T (send" + QByteArray::number(i) + ") /F 4 " + rect
                          + ' ' + modes[i] + ' ' + act + " /MK << /CA (Send form) /BG [0.9 0.9 0.9] /BC [0 0 0] >>"
                          + (i == 0 && folivoFlags ? " /FolivoFlags " + QByteArray::number(folivoFlags) : QByteArray()) + " >>");
    }
    return pageWith("4 0 R 5 0 R 6 0 R 7 0 R 8 0 R 9 0 R", widgets,
                    "/AcroForm << /Fields [4 0 R 5 0 R 6 0 R 7 0 R 8 0 R 9 0 R] >>", info);
}

std::vector<std::shared_ptr<Submit>> submitsOf(KVPDFDocument &document)
{
    std::vector<std::shared_ptr<Submit>> submits;
    for (const auto &button : buttonsOf(document))
        if (auto submit = std::dynamic_pointer_cast<Submit>(button))
            submits.push_back(submit);
    return submits;
}
}

TEST(KVPDFAnnotationWidgetButtonTest, SubmitButtonsReadModeUrlAndAction)
{
    auto document = open(submitFixture());
    const auto submits = submitsOf(*document);
    ASSERT_EQ(submits.size(), 6u);
    const int modes[] = {3, 3, 2, 1, 0, 0};
    for (size_t i = 0; i < submits.size(); ++i)
        EXPECT_EQ(submits[i]->highlightMode(), modes[i]) << i;
    EXPECT_EQ(submits[0]->submitURLString(), QStringLiteral("https://example.test/form"));
    EXPECT_TRUE(submits[0]->isSubmitButton());
    // AA U only: that is the action, and the button does not submit on mouse down.
    EXPECT_EQ(submits[5]->submitURLString(), QStringLiteral("https://example.test/up"));
    EXPECT_FALSE(submits[5]->submitOnMouseDown());
    EXPECT_EQ(submits[5]->flags(), 0);

    EXPECT_EQ(submits[0]->flags(), 4);
    submits[0]->setSubmitURLString(QStringLiteral("https://example.test/other"), 6);
    EXPECT_EQ(submits[0]->flags(), 36);
    EXPECT_EQ(submits[0]->folivoFlags(), 6u);
    EXPECT_EQ(submits[0]->annotDict()->integerForKey("FolivoFlags"), 6);
    EXPECT_EQ(submits[0]->submitURLString(), QStringLiteral("https://example.test/other"));
    // Without an earlier A the new action's Flags is the XFDF bit alone.
    submits[5]->setSubmitURLString(QStringLiteral("https://example.test/new"), 0);
    EXPECT_EQ(submits[5]->flags(), 32);

    // The pressed state is display state only.
    const QByteArray state = submits[1]->annotDict()->nameForKey("AS");
    submits[1]->toggleState();
    EXPECT_EQ(submits[1]->currentState(), 1);
    submits[1]->toggleState();
    EXPECT_EQ(submits[1]->currentState(), 0);
    EXPECT_EQ(submits[1]->annotDict()->nameForKey("AS"), state);

    // A SubmitForm whose F is no URL file specification is no submit target.
    auto plain = open(pageWith("4 0 R", {"<< /Type /Annot /Subtype /Widget /FT /Btn /Ff 65536 /T (x) /Rect [0 0 50 20]"
                                         " /A << /S /SubmitForm /F << /F (local.fdf) >> >> >>"}));
    ASSERT_EQ(buttonsOf(*plain).size(), 1u);
    EXPECT_TRUE(buttonsOf(*plain).front()->submitURLString().isNull());
}

TEST(KVPDFAnnotationWidgetButtonTest, ProbeFieldsGivesTheSubmitUrl)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("submit.pdf"));
    ASSERT_TRUE(writeFile(path, submitFixture()));
    const ToolResult fields = kvprobe({QStringLiteral("fields"), path});
    ASSERT_EQ(fields.exitCode, 0);
    const QJsonArray list = QJsonDocument::fromJson(fields.out)[QStringLiteral("fields")].toArray();
    ASSERT_EQ(list.size(), 6);
    EXPECT_EQ(list[0][QStringLiteral("submiturl")].toString(), QStringLiteral("https://example.test/form"));
    EXPECT_EQ(list[5][QStringLiteral("submiturl")].toString(), QStringLiteral("https://example.test/up"));
}

TEST(KVPDFAnnotationWidgetButtonTest, SavedPushButtonShowsItsCaption)
{
    ensureGuiApplication();
    QTemporaryDir dir;
    auto document = open(submitFixture());
    auto submit = submitsOf(*document).front();
    submit->setTitle(QStringLiteral("Send it now"));
    ASSERT_TRUE(submit->appearance());
    const QString out = dir.filePath(QStringLiteral("saved.pdf"));
    ASSERT_TRUE(document->writeUpdatedDocument(out, {}));
    EXPECT_EQ(qpdfCheck(out).exitCode, 0);
    const QStringList pages = pdftotextPages(out);
    ASSERT_EQ(pages.size(), 1);
    EXPECT_TRUE(pages[0].contains(QStringLiteral("Send it now"))) << pages[0].toStdString();
    // The saved appearance is the one-state Form XObject at the widget's place.
    auto reread = KVPDFDocument::documentWithContentsOfFile(out, nullptr);
    ASSERT_TRUE(reread);
    auto saved = submitsOf(*reread).front();
    auto ap = kv_cast<KVPDFObjectDictionary>(saved->annotDict()->resolvedObjectForKey("AP"));
    ASSERT_TRUE(ap);
    EXPECT_TRUE(kv_cast<KVPDFObjectStream>(ap->resolvedObjectForKey("N")));
    EXPECT_EQ(saved->submitURLString(), QStringLiteral("https://example.test/form"));
}

TEST(KVPDFAnnotationWidgetButtonTest, SubmitInformationPageIsInsertedOnceWithOpenAction)
{
    QTemporaryDir dir;
    auto document = open(submitFixture(Submit::AddSubmitInformationPage));
    const QString first = dir.filePath(QStringLiteral("first.pdf"));
    const QString second = dir.filePath(QStringLiteral("second.pdf"));
    const QString third = dir.filePath(QStringLiteral("third.pdf"));
    ASSERT_TRUE(document->writeUpdatedDocument(first, {}));
    ASSERT_TRUE(document->writeUpdatedDocument(second, {}));
    // Opened again, the file has the page: a save leaves it as it is.
    ASSERT_EQ(kvprobe({QStringLiteral("save"), second, third}).exitCode, 0);
    for (const QString &path : {first, second, third}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(qpdfCheck(path).exitCode, 0);
        EXPECT_EQ(pdfinfoPages(path), 2);
        const QStringList text = pdftotextPages(path);
        ASSERT_EQ(text.size(), 2);
        EXPECT_TRUE(text[0].contains(QStringLiteral("Submitting this form")));
    }
    // The first save opens the file at the form.
    const ToolResult json = runTool(QStringLiteral("qpdf"), {QStringLiteral("--json"), QStringLiteral("--json-key=pages"),
                                                             QStringLiteral("--json-key=qpdf"), first});
    const QJsonObject root = QJsonDocument::fromJson(json.out).object();
    const QString secondPage = root[QStringLiteral("pages")].toArray()[1][QStringLiteral("object")].toString();
    const QJsonObject objects = root[QStringLiteral("qpdf")].toArray()[1].toObject();
    const QString catalogRef = objects[QStringLiteral("trailer")][QStringLiteral("value")][QStringLiteral("/Root")].toString();
    const QJsonObject catalog = objects[QStringLiteral("obj:") + catalogRef][QStringLiteral("value")].toObject();
    const QJsonObject openAction = catalog[QStringLiteral("/OpenAction")].toObject();
    EXPECT_EQ(openAction[QStringLiteral("/S")].toString(), QStringLiteral("/GoTo"));
    const QJsonArray destination = openAction[QStringLiteral("/D")].toArray();
    ASSERT_EQ(destination.size(), 5);
    EXPECT_EQ(destination[0].toString(), secondPage);
    EXPECT_EQ(destination[1].toString(), QStringLiteral("/XYZ"));
}

TEST(KVPDFAnnotationWidgetButtonTest, DocumentIdFieldsAreAddedOnce)
{
    QTemporaryDir dir;
    const QByteArray fixture = submitFixture(Submit::AddDocumentIDFields, "<< /Title (Tax return) >>");
    auto document = open(fixture);
    const QString first = dir.filePath(QStringLiteral("first.pdf"));
    const QString second = dir.filePath(QStringLiteral("second.pdf"));
    ASSERT_TRUE(document->writeUpdatedDocument(first, {}));
    ASSERT_EQ(kvprobe({QStringLiteral("save"), first, second}).exitCode, 0);
    for (const QString &path : {first, second}) {
        SCOPED_TRACE(path.toStdString());
        QHash<QString, int> count;
        QHash<QString, QString> values;
        for (const QJsonObject &field : qpdfFields(path)) {
            const QString name = field[QStringLiteral("fullname")].toString();
            ++count[name];
            values[name] = field[QStringLiteral("value")].toString();
        }
        EXPECT_EQ(count.value(QStringLiteral("com.folivo.docID")), 1);
        EXPECT_EQ(count.value(QStringLiteral("com.folivo.docTitle")), 1);
        EXPECT_EQ(values.value(QStringLiteral("com.folivo.docID")), QStringLiteral("u:00112233445566778899AABBCCDDEEFF"));
        EXPECT_EQ(values.value(QStringLiteral("com.folivo.docTitle")), QStringLiteral("u:Tax return"));
    }
}

TEST(KVPDFAnnotationWidgetButtonTest, UntitledComesFromTheInstalledStrings)
{
    KVPDFServices services;
    services.localizedStrings = [](const QString &key) { return key == QLatin1String("Untitled") ? QStringLiteral("Sans titre") : QString(); };
    KVPDFServices::Installer installer(services);
    QTemporaryDir dir;
    auto document = open(submitFixture(Submit::AddDocumentIDFields));
    const QString out = dir.filePath(QStringLiteral("out.pdf"));
    ASSERT_TRUE(document->writeUpdatedDocument(out, {}));
    bool seen = false;
    for (const QJsonObject &field : qpdfFields(out))
        if (field[QStringLiteral("fullname")].toString() == QStringLiteral("com.folivo.docTitle")) {
            seen = true;
            EXPECT_EQ(field[QStringLiteral("value")].toString(), QStringLiteral("u:Sans titre"));
        }
    EXPECT_TRUE(seen);
}
