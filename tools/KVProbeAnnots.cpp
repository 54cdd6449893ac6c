// kvprobe annots FILE [--password P]
//
// Prints the annotations the engine reads, page by page, as one JSON object:
//   {"result": R, "pages": [[{"subtype": "Link", "rect": [x0, y0, x1, y1], "flags": F}, ...], ...]}
// R is the open result; "rect" is the Rect put in order (x0 <= x1, y0 <= y1); "flags" is F (0
// when absent); "subtype" is "" when the Subtype is missing. A page whose annotations cannot be
// read lists none. Exits 0 when a result could be reported (open results 1 to 3 included), 1
// when the file cannot be read, 2 on bad usage.
#include "KVProbeAnnots.h"

#include "KVProbeJson.h"
#include "KVPDFAnnotation.h"
#include "KVPDFDocument.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFPage.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cstdio>

QJsonObject kvprobeAnnotsJson(const QString &path, const QStringList &options, int *exitCode)
{
    *exitCode = 0;
    QString password;
    for (qsizetype i = 0; i < options.size(); ++i) {
        if (options[i] == QLatin1String("--password") && i + 1 < options.size()) {
            password = options[++i];
        } else {
            std::fprintf(stderr, "usage: kvprobe annots FILE [--password P]\n");
            *exitCode = 2;
            return {};
        }
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "kvprobe: cannot read %s\n", qPrintable(path));
        *exitCode = 1;
        return {};
    }
    KVPDFOpenResult result = KVPDFOpenOK;
    std::shared_ptr<KVPDFDocument> document = KVPDFDocument::documentWithData(file.readAll(), &result);
    if (document && result == KVPDFOpenNeedsPassword && !password.isEmpty()
        && document->validatePassword(password) == KVPDFPasswordResult::Accepted)
        result = KVPDFOpenOK;

    QJsonArray pages;
    if (document) {
        for (const auto &page : document->pages()) {
            QJsonArray annotations;
            for (const auto &annotation : page->annotationImprints()) {
                const QRectF rect = annotation->dictionaryRect();
                QJsonObject entry;
                entry[QStringLiteral("subtype")] = QString::fromLatin1(annotation->subtype());
                entry[QStringLiteral("rect")] = QJsonArray{rect.left(), rect.top(), rect.right(), rect.bottom()};
                entry[QStringLiteral("flags")] =
                    qint64(annotation->annotDict() ? annotation->annotDict()->integerForKey("F", 0) : 0);
                annotations.append(entry);
            }
            pages.append(annotations);
        }
    }
    QJsonObject out;
    out[QStringLiteral("result")] = result;
    out[QStringLiteral("pages")] = pages;
    return out;
}

int kvprobeAnnots(const QString &path, const QStringList &options)
{
    int exitCode = 0;
    const QJsonObject out = kvprobeAnnotsJson(path, options, &exitCode);
    return kvProbePrintUnlessFailed(out, exitCode);
}
