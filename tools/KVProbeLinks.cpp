// kvprobe links FILE [--password P]
//
// Prints the link annotations the engine reads, page by page, opened the way the program opens
// files, as one JSON object:
//   {"pages": [[{"kind": K, "rect": [x0, y0, x1, y1], ...}, ...], ...]}
// K is the link kind: "page", "uri", "file" or "none". A page link gives "page" (its target,
// counted from 1, when it is a page of the document) and "fit" (the fit name, "" for none); a
// URI or file link gives "uri". "border" is the border width and "color" the link's colour
// components. "rect" is the Rect put in order.
#include "KVProbeLinks.h"

#include "KVPDFAnnotationLink.h"
#include "KVPDFDocument.h"
#include "KVPDFPage.h"
#include "KVProbeJson.h"

#include <QJsonArray>

#include <algorithm>
#include <cstdio>

namespace {
QString kindName(int kind)
{
    switch (kind) {
    case KVPDFAnnotationLink::LinkPage: return QStringLiteral("page");
    case KVPDFAnnotationLink::LinkURI: return QStringLiteral("uri");
    case KVPDFAnnotationLink::LinkFile: return QStringLiteral("file");
    default: return QStringLiteral("none");
    }
}
} // namespace

QJsonObject kvprobeLinksJson(const QString &path, const QStringList &options, int *exitCode)
{
    QString password;
    for (qsizetype i = 0; i < options.size(); ++i) {
        if (options[i] == QLatin1String("--password") && i + 1 < options.size()) {
            password = options[++i];
        } else {
            std::fprintf(stderr, "usage: kvprobe links FILE [--password P]\n");
            *exitCode = 2;
            return {};
        }
    }
    std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, password, exitCode, false);
    if (!document)
        return {};
    const auto &pages = document->pages();
    QJsonArray pagesJson;
    for (const auto &page : pages) {
        QJsonArray links;
        for (const auto &annotation : page->links()) {
            auto link = std::dynamic_pointer_cast<KVPDFAnnotationLink>(annotation);
            if (!link)
                continue;
            const QRectF rect = link->dictionaryRect();
            QJsonObject entry;
            entry[QStringLiteral("kind")] = kindName(link->linkType());
            entry[QStringLiteral("rect")] = QJsonArray{rect.left(), rect.top(), rect.right(), rect.bottom()};
            if (link->linkType() == KVPDFAnnotationLink::LinkPage) {
                auto found = std::find(pages.begin(), pages.end(), link->destinationPage());
                if (found != pages.end())
                    entry[QStringLiteral("page")] = qint64(found - pages.begin()) + 1;
                entry[QStringLiteral("fit")] = QString::fromLatin1(KVPDFFitOperands::nameForFit(link->fitStyle()));
            } else if (link->linkType() != KVPDFAnnotationLink::LinkNone) {
                entry[QStringLiteral("uri")] = link->destinationText();
            }
            entry[QStringLiteral("border")] = link->borderWidth();
            QJsonArray color;
            for (float component : link->color().components())
                color.append(component);
            entry[QStringLiteral("color")] = color;
            links.append(entry);
        }
        pagesJson.append(links);
    }
    QJsonObject out;
    out[QStringLiteral("pages")] = pagesJson;
    return out;
}

int kvprobeLinks(const QString &path, const QStringList &options)
{
    int exitCode = 0;
    const QJsonObject out = kvprobeLinksJson(path, options, &exitCode);
    return kvProbePrintUnlessFailed(out, exitCode);
}
