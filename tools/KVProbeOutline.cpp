// kvprobe outline FILE [--password P]
//
// Prints the outline the engine reads, opened the way the program opens files, as one JSON
// object in the shape a peer tool's outline JSON has:
//   {"outlines": [{"title": T, "open": B, "flags": F, "kids": [...], ...}, ...]}
// with, by the item's destination: "destpageposfrom1" (its page, counted from 1) and "fit"
// (the fit name, "" for none) for a page; "url" for a web address or another file; and
// "color" [r, g, b] when the item is not black. "open" is true for an expanded item and for
// an item without children (as the peer tool counts a missing Count).
#include "KVProbeOutline.h"

#include "KVPDFDestination.h"
#include "KVPDFDocument.h"
#include "KVPDFOutline.h"
#include "KVPDFPage.h"
#include "KVProbeJson.h"

#include <QJsonArray>

#include <algorithm>
#include <cstdio>

namespace {
QJsonArray itemsJson(KVPDFDocument &document, const KVPDFOutline &parent)
{
    QJsonArray items;
    for (const auto &child : parent.children()) {
        QJsonObject item;
        item[QStringLiteral("title")] = child->title();
        item[QStringLiteral("open")] = child->isExpanded() || !child->hasChildren();
        item[QStringLiteral("flags")] = child->flags();
        if (const auto &color = child->color()) {
            const QColor rgb = color->toQColor().toRgb();
            item[QStringLiteral("color")] = QJsonArray{rgb.redF(), rgb.greenF(), rgb.blueF()};
        }
        if (const auto &destination = child->destination()) {
            if (destination->type() == KVPDFDestination::TypePage) {
                const auto &pages = document.pages();
                auto found = std::find(pages.begin(), pages.end(), destination->page());
                if (found != pages.end())
                    item[QStringLiteral("destpageposfrom1")] = qint64(found - pages.begin()) + 1;
                item[QStringLiteral("fit")] = QString::fromLatin1(KVPDFFitOperands::nameForFit(destination->fit()));
            } else if (destination->type() != KVPDFDestination::TypeNone) {
                item[QStringLiteral("url")] = destination->url();
            }
        }
        item[QStringLiteral("kids")] = itemsJson(document, *child);
        items.append(item);
    }
    return items;
}
} // namespace

QJsonObject kvprobeOutlineJson(const QString &path, const QStringList &options, int *exitCode)
{
    QString password;
    for (qsizetype i = 0; i < options.size(); ++i) {
        if (options[i] == QLatin1String("--password") && i + 1 < options.size()) {
            password = options[++i];
        } else {
            std::fprintf(stderr, "usage: kvprobe outline FILE [--password P]\n");
            *exitCode = 2;
            return {};
        }
    }
    std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, password, exitCode, false);
    if (!document)
        return {};
    QJsonObject out;
    out[QStringLiteral("outlines")] = itemsJson(*document, *document->outlines());
    return out;
}

int kvprobeOutline(const QString &path, const QStringList &options)
{
    int exitCode = 0;
    const QJsonObject out = kvprobeOutlineJson(path, options, &exitCode);
    return kvProbePrintUnlessFailed(out, exitCode);
}
