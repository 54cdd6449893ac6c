// Notes and pop-ups: what reading leaves alone, how the page pairs a pop-up with its parent,
// what asking for a pop-up and copying do to the source, what a colour change rewrites, and a
// new note as other readers see it once saved.
#include "KVPDFAnnotationFreeText.h"
#include "KVPDFAnnotationText.h"

#include "KVPDFDocument.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"
#include "support/KVPDFSaveChecks.h"
#include "support/PdfBuilder.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>

using namespace savechecks;

namespace {
using Dict = std::shared_ptr<KVPDFObjectDictionary>;

std::shared_ptr<KVPDFDocument> open(const QByteArray &data)
{
    KVPDFOpenResult result = KVPDFOpenResult(-1);
    auto document = KVPDFDocument::documentWithData(data, &result);
    EXPECT_EQ(result, KVPDFOpenOK);
    return document;
}

// One page whose Annots are objects 10 and up, given as text.
QByteArray pageWithAnnotations(const std::vector<QByteArray> &annotations, const std::map<int, QByteArray> &more = {})
{
    QByteArray annots;
    for (size_t i = 0; i < annotations.size(); ++i)
        annots += QByteArray::number(10 + int(i)) + " 0 R ";
    PdfBuilder b = PdfBuilder::withPages(1, "/MediaBox [0 0 612 792] /Annots [" + annots + "]");
    for (size_t i = 0; i < annotations.size(); ++i)
        b.add(10 + int(i), annotations[i]);
    for (const auto &[number, text] : more)
        b.add(number, text);
    return b.build();
}

template <class Annotation> std::vector<std::shared_ptr<Annotation>> annotationsOf(const std::shared_ptr<KVPDFDocument> &document)
{
    std::vector<std::shared_ptr<Annotation>> found;
    for (const auto &annotation : document->pageAtIndex(0)->annotationImprints())
        if (auto typed = std::dynamic_pointer_cast<Annotation>(annotation))
            found.push_back(typed);
    return found;
}

QByteArray syntaxOf(const KVPDFObjectPtr &object) { return object ? object->directObject() : QByteArray(); }

const QByteArray kIconStream = "<< /Type /XObject /Subtype /Form /BBox [0 0 20 18] /Length 8 >>\nstream\n0 0 1 rg\nendstream";
}

TEST(KVPDFAnnotationNoteTest, ReadingWritesNothing)
{
    // A note without C, M or Popup, with an appearance of its own; a free-text box without CA,
    // M, DA or DS; a pop-up.
    const QByteArray file =
        pageWithAnnotations({"<< /Type /Annot /Subtype /Text /Rect [10 10 30 28] /Contents (hi) /AP << /N 20 0 R /D 20 0 R >> >>",
                             "<< /Type /Annot /Subtype /FreeText /Rect [50 50 150 80] /Contents (box) >>",
                             "<< /Type /Annot /Subtype /Popup /Rect [0 0 0 0] /Parent 10 0 R >>"},
                            {{20, kIconStream}});
    auto document = open(file);
    auto fresh = open(file);
    auto note = annotationsOf<KVPDFAnnotationText>(document).at(0);
    auto box = annotationsOf<KVPDFAnnotationFreeText>(document).at(0);
    ASSERT_TRUE(annotationsOf<KVPDFAnnotationPopup>(document).at(0));

    EXPECT_EQ(note->fillColor(), KVPDFAnnotationText::defaultTextNoteColor());
    EXPECT_FALSE(note->hasFillColor());
    EXPECT_TRUE(note->modified().isValid());
    EXPECT_EQ(box->alpha(), 1.0f);
    EXPECT_TRUE(box->modified().isValid());
    EXPECT_EQ(box->fontName(), QStringLiteral("Helvetica"));
    EXPECT_EQ(box->fontSize(), 12.0f);
    EXPECT_EQ(box->textColor(), KVColor::gray(0));

    for (int number : {10, 11, 12}) {
        SCOPED_TRACE(number);
        EXPECT_EQ(syntaxOf(document->resolveObject(number, 0)), syntaxOf(fresh->resolveObject(number, 0)));
    }
    EXPECT_EQ(note->pdfDataForIcon("N").isEmpty(), false) << "the note's own appearance stays and draws";
}

TEST(KVPDFAnnotationNoteTest, PopupsJoinTheAnnotationTheirParentNames)
{
    const QByteArray file = pageWithAnnotations({
        "<< /Type /Annot /Subtype /Text /Rect [10 10 30 28] /Popup 11 0 R >>",             // 10
        "<< /Type /Annot /Subtype /Popup /Rect [40 10 200 100] /Parent 10 0 R >>",         // 11
        "<< /Type /Annot /Subtype /FreeText /Rect [50 150 150 180] >>",                    // 12
        "<< /Type /Annot /Subtype /Popup /Rect [60 150 200 250] /Parent 12 0 R >>",        // 13
        "<< /Type /Annot /Subtype /Popup /Rect [0 0 0 0] /Parent << /Subtype /Text >> >>", // 14
        "<< /Type /Annot /Subtype /Popup /Rect [0 0 0 0] /Parent 99 0 R >>",               // 15
        "<< /Type /Annot /Subtype /Square /Rect [300 300 320 320] >>",                     // 16
        "<< /Type /Annot /Subtype /Popup /Rect [0 0 0 0] /Parent 16 0 R >>",               // 17
        "<< /Type /Annot /Subtype /Text /Rect [400 10 420 28] >>",                         // 18
    });
    auto document = open(file);
    auto fresh = open(file);
    auto notes = annotationsOf<KVPDFAnnotationText>(document);
    auto boxes = annotationsOf<KVPDFAnnotationFreeText>(document);
    auto popups = annotationsOf<KVPDFAnnotationPopup>(document);
    ASSERT_EQ(notes.size(), 2u);
    ASSERT_EQ(popups.size(), 5u);

    EXPECT_EQ(notes[0]->popup(), popups[0]);
    EXPECT_EQ(popups[0]->text(), notes[0]);
    EXPECT_EQ(popups[1]->text(), boxes.at(0)) << "a free-text parent is named from the pop-up's side";
    EXPECT_EQ(popups[2]->text(), nullptr) << "a direct Parent names no annotation of the page";
    EXPECT_EQ(popups[3]->text(), nullptr) << "a Parent that is missing";
    EXPECT_EQ(popups[4]->text(), nullptr) << "a square is no parent candidate";
    EXPECT_EQ(notes[1]->popup(), nullptr);
    for (int number = 10; number <= 18; ++number) {
        SCOPED_TRACE(number);
        EXPECT_EQ(syntaxOf(document->resolveObject(number, 0)), syntaxOf(fresh->resolveObject(number, 0)))
            << "pairing writes neither Popup nor Parent";
    }
}

TEST(KVPDFAnnotationNoteTest, AskingForAPopupAndCopyingLeaveTheSourceAsItWas)
{
    const QByteArray file = pageWithAnnotations(
        {
            "<< /Type /Annot /Subtype /Text /Rect [10 10 30 28] /AP << /N 20 0 R >> >>",      // 10: no pop-up
            "<< /Type /Annot /Subtype /Text /Rect [50 10 70 28] /C [1 0 0] /Popup 12 0 R >>", // 11
            "<< /Type /Annot /Subtype /Popup /Rect [80 10 200 100] /Parent 11 0 R /F 28 >>",  // 12
        },
        {{20, kIconStream}});
    auto document = open(file);
    auto fresh = open(file);
    auto page = document->pageAtIndex(0);
    auto notes = annotationsOf<KVPDFAnnotationText>(document);
    const size_t imprints = page->imprints().size();

    // Without a pop-up.
    EXPECT_EQ(notes[0]->popup(), nullptr);
    auto copy = std::dynamic_pointer_cast<KVPDFAnnotationText>(notes[0]->copy());
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->popup(), nullptr);
    EXPECT_EQ(notes[0]->popup(), nullptr);
    EXPECT_EQ(page->imprints().size(), imprints);
    EXPECT_TRUE(page->extraObjects().empty());
    EXPECT_EQ(notes[0]->appearance(), nullptr) << "no yellow icon takes the place of the note's own";
    EXPECT_EQ(copy->annotDict()->objectForKey("AP")->directObject(), notes[0]->annotDict()->objectForKey("AP")->directObject())
        << "the copy shows what the source shows";

    // With one: the copy gets a copy of it, joined to the copy only.
    auto withPopup = std::dynamic_pointer_cast<KVPDFAnnotationText>(notes[1]->copy());
    ASSERT_TRUE(withPopup && withPopup->popup());
    EXPECT_NE(withPopup->popup(), notes[1]->popup());
    EXPECT_EQ(withPopup->popup()->text(), withPopup);
    auto parent = kv_cast<KVPDFObjectReference>(withPopup->popup()->annotDict()->objectForKey("Parent"));
    ASSERT_TRUE(parent);
    EXPECT_EQ(parent->resolvedObject(), withPopup->annotDict());
    auto popupRef = kv_cast<KVPDFObjectReference>(withPopup->annotDict()->objectForKey("Popup"));
    ASSERT_TRUE(popupRef);
    EXPECT_EQ(popupRef->resolvedObject(), withPopup->popup()->annotDict());
    EXPECT_EQ(notes[1]->popup()->text(), notes[1]);

    EXPECT_EQ(page->imprints().size(), imprints);
    for (int number : {10, 11, 12, 20}) {
        SCOPED_TRACE(number);
        EXPECT_EQ(syntaxOf(document->resolveObject(number, 0)), syntaxOf(fresh->resolveObject(number, 0)));
    }
}

TEST(KVPDFAnnotationNoteTest, ColourChangeRewritesOnlyTheIconStreamsAndNeverSharedOnes)
{
    struct Case {
        const char *name;
        QByteArray ap; // the note's AP text; empty: none
        bool newN;
        bool newD;
    };
    const Case cases[] = {
        {"both streams (shared with another note)", "/AP << /N 20 0 R /D 20 0 R >>", true, true},
        {"N a dictionary of states", "/AP << /N << /On 20 0 R >> /D 20 0 R >> /AS /On", false, true},
        {"N only", "/AP << /N 20 0 R >>", true, false},
        {"N no stream at all", "/AP << /N 5 >>", false, false},
        {"no AP", "", false, false},
    };
    const KVColor blue = KVColor::rgb(0, 0, 1);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        auto document = open(pageWithAnnotations({"<< /Type /Annot /Subtype /Text /Rect [10 10 30 28] " + c.ap + " >>",
                                                  "<< /Type /Annot /Subtype /Text /Rect [50 10 70 28] /AP << /N 20 0 R >> >>"},
                                                 {{20, kIconStream}}));
        auto notes = annotationsOf<KVPDFAnnotationText>(document);
        const QByteArray shared = syntaxOf(document->resolveObject(20, 0));
        const QByteArray before = syntaxOf(notes[0]->annotDict()->objectForKey("AP"));
        const QByteArray other = syntaxOf(notes[1]->annotDict()->objectForKey("AP"));
        notes[0]->setFillColor(blue);

        EXPECT_EQ(KVPDFAnnotation::colorFromArray(notes[0]->annotDict()->objectForKey("C")), blue);
        EXPECT_EQ(syntaxOf(document->resolveObject(20, 0)), shared) << "a stream another annotation shows is untouched";
        auto ap = kv_cast<KVPDFObjectDictionary>(notes[0]->annotDict()->resolvedObjectForKey("AP"));
        if (!c.newN && !c.newD) {
            EXPECT_EQ(syntaxOf(notes[0]->annotDict()->objectForKey("AP")), before);
            continue;
        }
        ASSERT_TRUE(ap);
        for (const auto &[key, replaced] : {std::pair{"N", c.newN}, std::pair{"D", c.newD}}) {
            SCOPED_TRACE(key);
            auto stream = kv_cast<KVPDFObjectStream>(ap->resolvedObjectForKey(key));
            if (!replaced) {
                EXPECT_FALSE(stream && stream->objectNumber() == 0);
                continue;
            }
            ASSERT_TRUE(stream);
            EXPECT_EQ(stream->objectNumber(), 0u) << "a new object";
            const QByteArray content = stream->decodedData();
            // Closed: the bubble filled blue; open: outlined blue.
            EXPECT_TRUE(content.contains(
                QByteArray(qstrcmp(key, "N") == 0 ? "0.000000 0.000000 1.000000 rg" : "0.000000 0.000000 1.000000 RG")))
                << content.left(80).constData();
        }
        EXPECT_EQ(syntaxOf(notes[1]->annotDict()->objectForKey("AP")), other);
    }
}

TEST(KVPDFAnnotationNoteTest, NewNoteSavesWithItsPopupAndShowsTheBubble)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString in = dir.filePath(QStringLiteral("in.pdf"));
    const QString out = dir.filePath(QStringLiteral("out.pdf"));
    ASSERT_TRUE(writeFile(in, PdfBuilder::withPages(1).build()));
    const ToolResult added =
        runTool(QStringLiteral(FOLIVO_KVPROBE),
                {QStringLiteral("add-note"), in, QStringLiteral("--page"), QStringLiteral("1"), QStringLiteral("--at"),
                 QStringLiteral("300,600"), QStringLiteral("Check this"), QStringLiteral("-o"), out});
    ASSERT_EQ(added.exitCode, 0) << added.err.constData();
    EXPECT_EQ(qpdfCheck(out).exitCode, 0);

    const ToolResult json =
        runTool(QStringLiteral("qpdf"), {QStringLiteral("--json=1"), QStringLiteral("--json-key=objects"), out});
    const QJsonObject objects = QJsonDocument::fromJson(json.out).object().value(QStringLiteral("objects")).toObject();
    QJsonObject note, popup;
    QString noteRef;
    for (auto it = objects.begin(); it != objects.end(); ++it) {
        const QJsonObject value = it.value().toObject();
        if (value.value(QStringLiteral("/Subtype")) == QStringLiteral("/Text")) {
            note = value;
            noteRef = it.key();
        } else if (value.value(QStringLiteral("/Subtype")) == QStringLiteral("/Popup")) {
            popup = value;
        }
    }
    for (const char *key : {"/Type", "/Subtype", "/C", "/Subj", "/Contents", "/T", "/M", "/AP", "/Popup"})
        EXPECT_TRUE(note.contains(QLatin1String(key))) << key;
    EXPECT_EQ(note.value(QStringLiteral("/Contents")).toString(), QStringLiteral("Check this"));
    const QJsonObject ap = note.value(QStringLiteral("/AP")).toObject();
    EXPECT_TRUE(ap.contains(QStringLiteral("/N")) && ap.contains(QStringLiteral("/D")));
    EXPECT_EQ(popup.value(QStringLiteral("/F")).toInt(), 28);
    EXPECT_EQ(popup.value(QStringLiteral("/Open")), QJsonValue(false));
    EXPECT_EQ(popup.value(QStringLiteral("/Parent")).toString(), noteRef);

    const ToolResult annots = runTool(QStringLiteral("mutool"), {QStringLiteral("show"), out, QStringLiteral("pages/1/Annots")});
    EXPECT_EQ(annots.out.count(" R"), 2) << annots.out.constData();

    // The icon at 4 points a pixel: the bubble's middle in the note colour, its edge black.
    const ToolResult drawn =
        runTool(QStringLiteral("pdftoppm"),
                {QStringLiteral("-r"), QStringLiteral("288"), QStringLiteral("-png"), QStringLiteral("-x"),
                 QStringLiteral("1200"), QStringLiteral("-y"), QStringLiteral("696"), QStringLiteral("-W"), QStringLiteral("80"),
                 QStringLiteral("-H"), QStringLiteral("72"), out, dir.filePath(QStringLiteral("crop"))});
    ASSERT_EQ(drawn.exitCode, 0);
    const QImage crop(dir.filePath(QStringLiteral("crop-1.png")));
    ASSERT_FALSE(crop.isNull());
    // Page point (310, 610) is the bubble's middle; (300.6, 610) lies on its left outline.
    const QColor middle = crop.pixelColor(40, 32);
    EXPECT_NEAR(middle.red(), 252, 3);
    EXPECT_NEAR(middle.green(), 254, 3);
    EXPECT_NEAR(middle.blue(), 124, 3);
    int darkest = 255;
    for (int x = 0; x < 8; ++x)
        darkest = std::min(darkest, qGray(crop.pixel(x, 32)));
    EXPECT_LT(darkest, 60) << "a black outline";
}

namespace {
// An annotation dictionary as qpdf reads it, references followed (to a depth), numbers to four
// decimals (the engine reads numbers in single precision, so the last digit of a real read from
// the file may move), and the keys that name other annotations (whose numbers change on
// saving) reduced to whether they are there. P is left out: the writer names every
// annotation's page, whether the file did or not.
QJsonValue comparable(const QJsonObject &objects, const QJsonValue &value, int depth = 0)
{
    if (value.isString()) {
        const QString text = value.toString();
        if (text.endsWith(QLatin1String(" R")) && objects.contains(text))
            return depth > 8 ? QJsonValue(QStringLiteral("deep")) : comparable(objects, objects.value(text), depth + 1);
        return value;
    }
    if (value.isDouble())
        return std::round(value.toDouble() * 1e4) / 1e4;
    if (value.isArray()) {
        QJsonArray out;
        for (const QJsonValue &element : value.toArray())
            out.append(comparable(objects, element, depth + 1));
        return out;
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        if (object.contains(QStringLiteral("stream")))
            return comparable(objects, object.value(QStringLiteral("stream")).toObject().value(QStringLiteral("dict")),
                              depth + 1);
        QJsonObject out;
        for (auto it = object.begin(); it != object.end(); ++it) {
            if (it.key() == QLatin1String("/Length") || it.key() == QLatin1String("/P"))
                continue;
            if (it.key() == QLatin1String("/Parent") || it.key() == QLatin1String("/Popup") || it.key() == QLatin1String("/IRT"))
                out.insert(it.key(), true);
            else
                out.insert(it.key(), comparable(objects, it.value(), depth + 1));
        }
        return out;
    }
    return value;
}

QJsonArray annotationsAsQpdfReadsThem(const QString &path)
{
    const ToolResult run = runTool(QStringLiteral("qpdf"), {QStringLiteral("--json=1"), QStringLiteral("--json-key=objects"),
                                                            QStringLiteral("--json-key=pages"), path});
    const QJsonObject json = QJsonDocument::fromJson(run.out).object();
    const QJsonObject objects = json.value(QStringLiteral("objects")).toObject();
    QJsonArray all;
    for (const QJsonValue &page : json.value(QStringLiteral("pages")).toArray()) {
        const QJsonObject pageObject = objects.value(page.toObject().value(QStringLiteral("object")).toString()).toObject();
        QJsonValue annots = pageObject.value(QStringLiteral("/Annots"));
        if (annots.isString())
            annots = objects.value(annots.toString());
        // Entries that are no dictionaries (a null, a missing object) are no annotations.
        for (const QJsonValue &annotation : annots.toArray())
            if (const QJsonValue value = comparable(objects, annotation); value.isObject())
                all.append(value);
    }
    return all;
}
}

TEST(KVPDFNotesCorpusTest, SavingWithoutEditsKeepsEveryNoteAndFreeTextDictionary)
{
    const QDir pdfjs(corpusDir() + QStringLiteral("/pdfjs"));
    // The files with notes, pop-ups and free-text boxes (annotation-text-widget holds text
    // fields, which are no notes).
    const QStringList files =
        pdfjs.entryList({QStringLiteral("annotation-text-without-popup.pdf"), QStringLiteral("annotation-freetext*.pdf"),
                         QStringLiteral("annotation-popup*.pdf"), QStringLiteral("annotation-link-text-popup.pdf")},
                        QDir::Files, QDir::Name);
    if (files.isEmpty())
        GTEST_SKIP() << "no corpus at " << corpusDir().toStdString();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const QString &file : files) {
        SCOPED_TRACE(file.toStdString());
        const QString in = pdfjs.filePath(file);
        const QString out = dir.filePath(file);
        auto document = open(readFile(in));
        ASSERT_TRUE(document);
        for (const auto &page : document->pages())
            page->annotationImprints();
        ASSERT_TRUE(document->writeUpdatedDocument(out, {}));
        const QJsonArray before = annotationsAsQpdfReadsThem(in);
        EXPECT_FALSE(before.isEmpty());
        const QJsonArray after = annotationsAsQpdfReadsThem(out);
        EXPECT_EQ(after, before) << QJsonDocument(after).toJson(QJsonDocument::Compact).constData() << "\n"
                                 << QJsonDocument(before).toJson(QJsonDocument::Compact).constData();
    }
}
