// kvprobe: prints what the engine reads from a PDF as JSON, so tests and people can compare the
// engine with other PDF tools. Not installed; built with the tests.
//
//   kvprobe info FILE [--password P]   open result, page count, per-page boxes and rotation
//
// Exits 0 whenever a result could be reported (open results 1 to 3 included), 1 when the file
// cannot be read, 2 on bad usage.
#include "KVPDFDocument.h"
#include "KVPDFPage.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {
int usage()
{
    std::fprintf(stderr, "usage: kvprobe info FILE [--password P]\n");
    return 2;
}

void print(const QJsonObject &object)
{
    const QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fputc('\n', stdout);
}

QJsonArray boxJson(const QRectF &rect)
{
    return {rect.left(), rect.top(), rect.right(), rect.bottom()};
}

int info(const QString &path, const QStringList &)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "kvprobe: cannot read %s\n", qPrintable(path));
        return 1;
    }
    int result = 0;
    std::shared_ptr<KVPDFDocument> document = KVPDFDocument::documentWithData(file.readAll(), &result);
    QJsonObject out;
    out[QStringLiteral("result")] = result;
    out[QStringLiteral("pages")] = document ? qint64(document->pageCount()) : 0;
    out[QStringLiteral("version")] = document ? document->pdfVersion() : QString();
    QJsonArray boxes;
    if (document) {
        for (const auto &page : document->pages()) {
            QJsonObject box;
            const QRectF media = page->mediaBox();
            box[QStringLiteral("media")] = boxJson(media);
            // Like other readers, report the crop box clipped to the media box, or the media box.
            QRectF crop = page->cropBox().value_or(media).intersected(media);
            if (!crop.isValid())
                crop = media;
            box[QStringLiteral("crop")] = boxJson(crop);
            box[QStringLiteral("rotate")] = page->rotate().value_or(0);
            boxes.append(box);
        }
    }
    out[QStringLiteral("boxes")] = boxes;
    QJsonArray warnings;
    if (document)
        for (const QString &warning : document->warnings())
            warnings.append(warning);
    out[QStringLiteral("warnings")] = warnings;
    print(out);
    return 0;
}
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3)
        return usage();
    const QString command = args[1];
    if (command == QLatin1String("info"))
        return info(args[2], args.mid(3));
    return usage();
}
