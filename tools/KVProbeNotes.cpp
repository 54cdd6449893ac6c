#include "KVProbeNotes.h"

#include "KVPDFAnnotationFreeText.h"
#include "KVPDFAnnotationText.h"
#include "KVPDFDocument.h"
#include "KVPDFPage.h"
#include "KVProbeFill.h"
#include "KVProbeJson.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHash>
#include <QJsonObject>

#include <cmath>
#include <cstdio>
#include <optional>
#include <vector>

namespace {
struct Arguments {
    QString path;
    QString text;
    bool hasText = false;
    QHash<QString, QString> options;
};

// FILE first, then "--name value" or "-o value" pairs and one bare TEXT, in any order.
std::optional<Arguments> parse(const QStringList &args, const QStringList &known)
{
    if (args.isEmpty())
        return std::nullopt;
    Arguments parsed;
    parsed.path = args[0];
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("-o") || (arg.startsWith(QLatin1String("--")) && known.contains(arg))) {
            if (i + 1 >= args.size())
                return std::nullopt;
            parsed.options.insert(arg, args[++i]);
        } else if (!arg.startsWith(QLatin1Char('-')) && !parsed.hasText) {
            parsed.text = arg;
            parsed.hasText = true;
        } else {
            return std::nullopt;
        }
    }
    if (!parsed.hasText || !parsed.options.contains(QStringLiteral("-o")))
        return std::nullopt;
    return parsed;
}

// `count` finite numbers separated by commas.
std::optional<std::vector<double>> numbers(const QString &text, qsizetype count)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != count)
        return std::nullopt;
    std::vector<double> values;
    for (const QString &part : parts) {
        bool ok = false;
        const double value = part.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(value))
            return std::nullopt;
        values.push_back(value);
    }
    return values;
}

int usage(const char *line)
{
    std::fprintf(stderr, "usage: %s\n", line);
    return 2;
}

// The page to add to, its annotations read first so that the save writes them with the new ones.
std::shared_ptr<KVPDFPage> pageFor(KVPDFDocument &document, const Arguments &arguments, int *status)
{
    bool ok = false;
    const qlonglong number = arguments.options.value(QStringLiteral("--page"), QStringLiteral("1")).toLongLong(&ok);
    std::shared_ptr<KVPDFPage> page = ok && number >= 1 ? kvProbePage(document, arguments.path, number) : nullptr;
    if (!page) {
        *status = ok && number >= 1 ? 4 : 2;
        return nullptr;
    }
    page->annotationImprints();
    return page;
}

int save(KVPDFDocument &document, const QString &out, qlonglong page)
{
    if (!document.writeUpdatedDocument(out, {{QStringLiteral("compression"), 0}})) {
        std::fprintf(stderr, "kvprobe: could not write %s\n", qPrintable(out));
        return 5;
    }
    QJsonObject result;
    result[QStringLiteral("written")] = out;
    result[QStringLiteral("page")] = page;
    kvProbePrint(result);
    return 0;
}
}

int kvprobeAddNote(int argc, char **argv)
{
    static const char line[] = "kvprobe add-note FILE --page N --at X,Y TEXT -o OUT [--title T] [--password P]";
    QCoreApplication app(argc, argv);
    const auto arguments = parse(app.arguments().mid(2), {QStringLiteral("--page"), QStringLiteral("--at"),
                                                          QStringLiteral("--title"), QStringLiteral("--password")});
    if (!arguments)
        return usage(line);
    const auto at = numbers(arguments->options.value(QStringLiteral("--at")), 2);
    if (!at)
        return usage(line);
    int status = 0;
    std::shared_ptr<KVPDFDocument> document =
        kvProbeOpen(arguments->path, arguments->options.value(QStringLiteral("--password")), &status, false);
    if (!document)
        return status;
    std::shared_ptr<KVPDFPage> page = pageFor(*document, *arguments, &status);
    if (!page)
        return status == 2 ? usage(line) : status;

    const QRectF icon(QPointF((*at)[0], (*at)[1]), QSizeF(20, 18));
    const QRectF window(QPointF(icon.right() + 10, icon.top() - 100), QSizeF(200, 100));
    std::shared_ptr<KVPDFAnnotationPopup> popup;
    auto note = KVPDFAnnotationText::annotationWithContents(
        arguments->text, window, arguments->options.value(QStringLiteral("--title")), page.get(), icon, KVColor(), &popup);
    page->addImprint(note);
    page->addImprint(popup);
    return save(*document, arguments->options.value(QStringLiteral("-o")), page->pageNumberInDocument() + 1);
}

int kvprobeAddFreeText(int argc, char **argv)
{
    static const char line[] = "kvprobe add-freetext FILE --page N --rect X,Y,W,H TEXT -o OUT [--font F] [--size S]"
                               " [--password P]";
    // Fonts and painting need a GUI application; a probe has no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const auto arguments =
        parse(app.arguments().mid(2), {QStringLiteral("--page"), QStringLiteral("--rect"), QStringLiteral("--font"),
                                       QStringLiteral("--size"), QStringLiteral("--password")});
    if (!arguments)
        return usage(line);
    const auto rect = numbers(arguments->options.value(QStringLiteral("--rect")), 4);
    const auto size = numbers(arguments->options.value(QStringLiteral("--size"), QStringLiteral("12")), 1);
    if (!rect || !size || (*rect)[2] <= 0 || (*rect)[3] <= 0 || (*size)[0] <= 0)
        return usage(line);
    int status = 0;
    std::shared_ptr<KVPDFDocument> document =
        kvProbeOpen(arguments->path, arguments->options.value(QStringLiteral("--password")), &status, false);
    if (!document)
        return status;
    std::shared_ptr<KVPDFPage> page = pageFor(*document, *arguments, &status);
    if (!page)
        return status == 2 ? usage(line) : status;

    const QRectF box((*rect)[0], (*rect)[1], (*rect)[2], (*rect)[3]);
    auto freeText = KVPDFAnnotationFreeText::annotationWithContents(arguments->text, box, QString(), page.get(), std::nullopt);
    page->addImprint(freeText);

    KVProbeFieldLook look;
    look.size = box.size();
    look.text = arguments->text;
    look.fontName = arguments->options.value(QStringLiteral("--font"), QStringLiteral("Helvetica"));
    look.fontSize = (*size)[0];
    KVPDFOpenResult opened = KVPDFOpenOK;
    freeText->setDocument(KVPDFDocument::documentWithData(kvProbeRenderField(look), &opened));
    const KVPDFAnnotationFreeText::Edit edit{look.text, look.fontName, look.fontSize};
    freeText->update(&edit);
    return save(*document, arguments->options.value(QStringLiteral("-o")), page->pageNumberInDocument() + 1);
}
