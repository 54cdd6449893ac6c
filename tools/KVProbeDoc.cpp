// kvprobe doc FILE [--password-answers A,B,C] [--password P] [--type T] [--redraw yes|no]
//
// Reads FILE through the application document (JXFolivoDocument) and prints one JSON object:
//   "read"            what the read returned
//   "openResult"      the engine's open result of the read's engine read, -1 when there was none
//   "error"           the reason the read gave for a failure, when it gave one
//   "pageCount"       the document's pages once the questions are answered
//   "enginePageCount" the engine document's pages (the two must agree)
//   "closed"          whether the document closed itself, and "closedAfterMs": how long after
//                     the last answer it did so
//   "prompts"         each password request's prompt: {"text", "bold", "pointSize"}
//   "alerts"          each alert: {"style", "title", "message"}
//   "redrawAsked"     how often the engine's redraw offer came up
//   "pages"           per page, its imprints in list order: {"class", "kind"}, where kind is
//                     "image" (an image of the page content), "stored" (an object stored in the
//                     page content) or the annotation's subtype (a widget as "Widget/<FT>")
//   "notifications"   each notification the document and its engine document posted, in order:
//                     {"name", "keys"} (the userInfo keys, sorted)
//   "log"             lines logged while the imprint lists were built (at most 50)
// The password request is answered with the answers in order (OK with the text), then
// cancelled; --password presets the open command's password; --type names the type the read is
// asked for (by default the one the file's name suggests); the redraw offer is declined unless
// --redraw yes.
#include "KVProbeDoc.h"

#include "JXFolivoDocument.h"
#include "JXFolivoImprint.h"
#include "JXFolivoPage.h"
#include "KVLog.h"
#include "KVNotificationCenter.h"
#include "KVPDFAnnotation.h"
#include "KVPDFAnnotationWidget.h"
#include "KVPDFDocument.h"
#include "KVPDFImprint.h"
#include "KVPDFRedraw.h"
#include "KVPDFServices.h"
#include "KVProbeJson.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QJsonArray>
#include <QMimeDatabase>
#include <QTimer>

#include <cstdio>
#include <deque>

namespace {
class ScriptedPrompter : public JXFolivoPrompter {
public:
    std::deque<QString> answers;
    bool redraw = false;
    QJsonArray prompts;
    QJsonArray alerts;
    int redrawAsked = 0;
    int pending = 0;
    QElapsedTimer sinceLastAnswer;

    void askPassword(JXFolivoDocument &, const JXPasswordPrompt &prompt,
                     std::function<void(int, const QString &)> done) override
    {
        prompts.append(QJsonObject{{QStringLiteral("text"), prompt.text},
                                   {QStringLiteral("bold"), prompt.bold},
                                   {QStringLiteral("pointSize"), prompt.pointSize}});
        ++pending;
        QString answer;
        int code = kCancel;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
            code = kOkay;
        }
        QTimer::singleShot(0, [this, code, answer, done = std::move(done)] {
            --pending;
            sinceLastAnswer.start();
            done(code, answer);
        });
    }
    void endPasswordRequest(JXFolivoDocument &) override { }
    void alert(JXFolivoDocument &, const JXAlert &alert) override
    {
        static const char *styles[] = {"warning", "informational", "critical"};
        alerts.append(QJsonObject{{QStringLiteral("style"), QString::fromLatin1(styles[int(alert.style)])},
                                  {QStringLiteral("title"), alert.title},
                                  {QStringLiteral("message"), alert.message}});
    }
    bool redrawConsent(JXFolivoDocument &) override
    {
        ++redrawAsked;
        return redraw;
    }
};

QString annotationKind(const KVPDFAnnotation &annotation)
{
    static const QHash<int, QString> names = {
        {KVPDFAnnotation::AnnotationText, QStringLiteral("Text")},
        {KVPDFAnnotation::AnnotationLink, QStringLiteral("Link")},
        {KVPDFAnnotation::AnnotationFreeText, QStringLiteral("FreeText")},
        {KVPDFAnnotation::AnnotationLine, QStringLiteral("Line")},
        {KVPDFAnnotation::AnnotationSquare, QStringLiteral("Square")},
        {KVPDFAnnotation::AnnotationCircle, QStringLiteral("Circle")},
        {KVPDFAnnotation::AnnotationHighlight, QStringLiteral("Highlight")},
        {KVPDFAnnotation::AnnotationUnderline, QStringLiteral("Underline")},
        {KVPDFAnnotation::AnnotationSquiggly, QStringLiteral("Squiggly")},
        {KVPDFAnnotation::AnnotationStrikeOut, QStringLiteral("StrikeOut")},
        {KVPDFAnnotation::AnnotationStamp, QStringLiteral("Stamp")},
        {KVPDFAnnotation::AnnotationInk, QStringLiteral("Ink")},
        {KVPDFAnnotation::AnnotationPopup, QStringLiteral("Popup")},
        {KVPDFAnnotation::AnnotationPolygon, QStringLiteral("Polygon")},
    };
    if (annotation.annotationType() == KVPDFAnnotation::AnnotationWidget) {
        auto widget = dynamic_cast<const KVPDFAnnotationWidget *>(&annotation);
        return QStringLiteral("Widget/") + QString::fromLatin1(widget ? widget->fieldType() : QByteArray());
    }
    return names.value(annotation.annotationType(), QStringLiteral("Other"));
}

QString imprintKind(const JXFolivoImprint &imprint)
{
    if (imprint.pdfImage())
        return QStringLiteral("image");
    if (auto annotation = std::dynamic_pointer_cast<KVPDFAnnotation>(imprint.pdfImprint()))
        return annotationKind(*annotation);
    if (imprint.pdfImprint())
        return QStringLiteral("stored");
    return QStringLiteral("none");
}

QString typeForPath(const QString &path)
{
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    if (mime.inherits(QStringLiteral("application/pdf")))
        return JXFolivoDocument::pdfTypeName();
    if (mime.inherits(QStringLiteral("application/msword"))
        || mime.inherits(QStringLiteral("application/vnd.openxmlformats-officedocument.wordprocessingml.document")))
        return JXFolivoDocument::wordTypeName();
    return mime.name();
}
}

QJsonObject kvprobeDocJson(const QString &path, const QStringList &options, int *exitCode)
{
    const auto parsed = kvProbeOptions(options, {QStringLiteral("--password-answers"), QStringLiteral("--type"),
                                                 QStringLiteral("--redraw")});
    if (!parsed) {
        *exitCode = 2;
        return {};
    }
    auto prompter = std::make_shared<ScriptedPrompter>();
    if (parsed->values.contains(QStringLiteral("--password-answers"))) {
        for (const QString &answer : parsed->values.value(QStringLiteral("--password-answers")).split(QLatin1Char(',')))
            prompter->answers.push_back(answer);
    }
    prompter->redraw = parsed->values.value(QStringLiteral("--redraw")) == QLatin1String("yes");
    JXFolivoDocument::setPasswordFromOpenScriptCommand(parsed->password);
    // The program offers a redraw of a file that does not parse, as the document's read does.
    KVPDFServices services = *KVPDFServices::installed();
    services.redraw = kvRedrawPDF;
    KVPDFServices::Installer installer(std::move(services));

    QJsonArray notifications;
    std::vector<KVObservation> observations;
    for (const QString &name :
         {JXFolivoDocument::pagesChangedNotification(), JXFolivoDocument::pagesSavedOrRevertedNotification(),
          JXFolivoDocument::documentReorderedNotification(), JXFolivoDocument::editModeNotification(),
          QString::fromLatin1(KVPDFDocument::SaveProgressNotification),
          QString::fromLatin1(KVPDFDocument::WillSaveOutlineNotification)}) {
        observations.push_back(
            KVNotificationCenter::defaultCenter().observe(name, nullptr, [&notifications](const KVNotification &note) {
                QStringList keys = note.userInfo.keys();
                keys.sort();
                notifications.append(QJsonObject{{QStringLiteral("name"), note.name},
                                                 {QStringLiteral("keys"), QJsonArray::fromStringList(keys)}});
            }));
    }

    JXFolivoDocument document;
    document.setPrompter(prompter);
    bool closed = false;
    qint64 closedAfter = -1;
    QEventLoop loop;
    QObject::connect(&document, &JXFolivoDocument::closed, [&] {
        closed = true;
        closedAfter = prompter->sinceLastAnswer.isValid() ? prompter->sinceLastAnswer.elapsed() : 0;
        loop.quit();
    });
    const QString type = parsed->values.value(QStringLiteral("--type"), typeForPath(path));
    const bool read = document.readFromFile(path, type);

    // The password request comes after the read; wait until it is settled one way or the
    // other (the pages arrive, or the document closes), within a bound.
    if (read && document.pdfDocument() && document.pdfDocument()->awaitingPassword()) {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (!document.pdfDocument() || !document.pdfDocument()->awaitingPassword())
                loop.quit();
        });
        poll.start(5);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        loop.exec();
    }

    QJsonArray pages;
    QStringList logLines;
    {
        KVPDFLogCapture capture;
        for (const auto &page : document.pages()) {
            QJsonArray kinds;
            for (const auto &imprint : page->imprints())
                kinds.append(QJsonObject{{QStringLiteral("class"), imprint->className()},
                                         {QStringLiteral("kind"), imprintKind(*imprint)}});
            pages.append(kinds);
        }
        logLines = capture.messages;
    }
    observations.clear();

    QJsonObject report;
    report[QStringLiteral("read")] = read;
    report[QStringLiteral("openResult")] = document.openResult();
    if (!document.readError().isEmpty())
        report[QStringLiteral("error")] = document.readError();
    report[QStringLiteral("pageCount")] = qint64(document.pageCount());
    report[QStringLiteral("enginePageCount")] = document.pdfDocument() ? qint64(document.pdfDocument()->pageCount()) : 0;
    report[QStringLiteral("closed")] = closed;
    if (closed)
        report[QStringLiteral("closedAfterMs")] = closedAfter;
    report[QStringLiteral("prompts")] = prompter->prompts;
    report[QStringLiteral("alerts")] = prompter->alerts;
    report[QStringLiteral("redrawAsked")] = prompter->redrawAsked;
    report[QStringLiteral("pages")] = pages;
    report[QStringLiteral("notifications")] = notifications;
    QJsonArray log;
    for (int i = 0; i < logLines.size() && i < 50; ++i)
        log.append(logLines[i]);
    report[QStringLiteral("log")] = log;
    *exitCode = 0;
    return report;
}

int kvprobeDoc(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: kvprobe doc FILE [--password-answers A,B,C] [--password P] [--type T] "
                             "[--redraw yes|no]\n");
        return 2;
    }
    int exitCode = 0;
    const QJsonObject report = kvprobeDocJson(args[2], args.mid(3), &exitCode);
    if (exitCode == 2)
        std::fprintf(stderr, "usage: kvprobe doc FILE [--password-answers A,B,C] [--password P] [--type T] "
                             "[--redraw yes|no]\n");
    return kvProbePrintUnlessFailed(report, exitCode);
}
