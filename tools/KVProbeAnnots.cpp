// kvprobe annots FILE [--password P]
//
// Prints the annotations the engine reads, page by page, as one JSON object:
//   {"result": R, "pages": [[{"subtype": "Link", "rect": [x0, y0, x1, y1], "flags": F, ...}, ...], ...]}
// R is the open result; "rect" is the Rect put in order (x0 <= x1, y0 <= y1); "flags" is F (0
// when absent); "subtype" is "" when the Subtype is missing. A page whose annotations cannot be
// read lists none.
//
// Each entry then holds, where the annotation dictionary has them once the engine has read it
// (so a key the reading added shows), the values of Contents, T, M, NM, Subj, C, IC, CA, BS,
// QuadPoints, L, LE, InkList, Vertices and a pop-up's Parent, each under its key and as the
// peer tool's JSON prints them (a value of its own prints as "N G R"), and:
//   "modified": M as the engine reads the date, in UTC ("yyyy-MM-ddTHH:mm:ssZ"), whatever the
//               time zone the probe runs in; a date without a zone as its wall-clock time
//               ("yyyy-MM-ddTHH:mm:ss"); absent when M is no date;
//   "DA": {"font": "/F1", "size": 12, "color": [r, g, b]}: the last Tf's font and size and the
//         last fill colour operator's numbers (g 1, rg 3, k 4) of the default appearance; each
//         part absent when DA does not give it;
//   "DS": {"color": "#rrggbb"}: the colour of the default style, lower case.
// Exits 0 when a result could be reported (open results 1 to 3 included), 1 when the file
// cannot be read, 2 on bad usage.
#include "KVProbeAnnots.h"

#include "KVNumbers.h"
#include "KVProbeJson.h"
#include "KVPDFAnnotation.h"
#include "KVPDFDocument.h"
#include "KVPDFObjectDate.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStringList>

#include <cstdio>

namespace {
QJsonValue valueJson(const KVPDFObjectPtr &object)
{
    if (!object)
        return QJsonValue();
    try {
        return QJsonDocument::fromJson("[" + kvProbeValueJson(object) + "]").array().first();
    } catch (const std::exception &) {
        return QJsonValue();
    }
}

QByteArray stringBytes(const KVPDFObjectPtr &entry)
{
    try {
        if (auto string = kv_cast<KVPDFObjectString>(entry ? entry->resolvedObject() : nullptr))
            return string->stringValue().toUtf8();
    } catch (const std::exception &) {
    }
    return QByteArray();
}

std::optional<double> number(const QByteArray &token)
{
    size_t used = 0;
    std::optional<double> value = kvParseDouble(token.constData(), token.constData() + token.size(), &used);
    if (!value || used != size_t(token.size()))
        return std::nullopt;
    return value;
}

// The font, size and fill colour a default appearance string sets.
QJsonObject defaultAppearance(const QByteArray &da)
{
    QJsonObject out;
    const QList<QByteArray> tokens = da.simplified().split(' ');
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const QByteArray &op = tokens[i];
        if (op == "Tf" && i >= 2 && tokens[i - 2].startsWith('/')) {
            if (std::optional<double> size = number(tokens[i - 1])) {
                out[QStringLiteral("font")] = QString::fromUtf8(tokens[i - 2]);
                out[QStringLiteral("size")] = kvProbeRounded(*size);
            }
            continue;
        }
        const int count = op == "g" ? 1 : op == "rg" ? 3 : op == "k" ? 4 : 0;
        if (count == 0 || i < count)
            continue;
        QJsonArray color;
        for (qsizetype k = i - count; k < i; ++k) {
            std::optional<double> value = number(tokens[k]);
            if (!value) {
                color = QJsonArray();
                break;
            }
            color.append(kvProbeRounded(*value));
        }
        if (!color.isEmpty())
            out[QStringLiteral("color")] = color;
    }
    return out;
}

// The colour of a default style ("font: ...; color:#FF0000").
QJsonObject defaultStyle(const QByteArray &ds)
{
    static const QRegularExpression color(QStringLiteral("(?:^|[;\\s])color\\s*:\\s*(#[0-9A-Fa-f]{6}|#[0-9A-Fa-f]{3})\\b"));
    QJsonObject out;
    const QRegularExpressionMatch match = color.match(QString::fromUtf8(ds));
    if (match.hasMatch())
        out[QStringLiteral("color")] = match.captured(1).toLower();
    return out;
}

QJsonObject annotationJson(KVPDFAnnotation &annotation)
{
    const QRectF rect = annotation.dictionaryRect();
    QJsonObject entry;
    entry[QStringLiteral("subtype")] = QString::fromLatin1(annotation.subtype());
    entry[QStringLiteral("rect")] = QJsonArray{rect.left(), rect.top(), rect.right(), rect.bottom()};
    const std::shared_ptr<KVPDFObjectDictionary> &dictionary = annotation.annotDict();
    entry[QStringLiteral("flags")] = qint64(dictionary ? dictionary->integerForKey("F", 0) : 0);
    if (!dictionary)
        return entry;
    static const char *const keys[] = {"Contents", "T",          "M", "NM", "Subj",    "C",        "IC",
                                       "CA",       "BS",         "L", "LE", "InkList", "Vertices", "QuadPoints"};
    for (const char *key : keys)
        if (KVPDFObjectPtr value = dictionary->objectForKey(key))
            entry[QLatin1String(key)] = valueJson(value);
    if (annotation.annotationType() == KVPDFAnnotation::AnnotationPopup || annotation.subtype() == "Popup")
        if (KVPDFObjectPtr parent = dictionary->objectForKey("Parent"))
            entry[QStringLiteral("Parent")] = valueJson(parent);
    try {
        if (auto m = kv_cast<KVPDFObjectString>(dictionary->resolvedObjectForKey("M")))
            if (std::optional<QDateTime> date = KVPDFObjectDate::dateFromPDFString(*m); date && date->isValid()) {
                // A date that names no zone is the writer's wall-clock time, read in the
                // reader's own zone: printed as that wall-clock time, so the output is the same
                // in every zone.
                static const QRegularExpression zoned(QStringLiteral("^(D:)?\\d{14}(Z|[+-])"));
                if (zoned.match(m->stringValue()).hasMatch())
                    entry[QStringLiteral("modified")] = date->toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
                else
                    entry[QStringLiteral("modified")] = date->toLocalTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
            }
    } catch (const std::exception &) {
    }
    if (KVPDFObjectPtr da = dictionary->objectForKey("DA"))
        entry[QStringLiteral("DA")] = defaultAppearance(stringBytes(da));
    if (KVPDFObjectPtr ds = dictionary->objectForKey("DS"))
        entry[QStringLiteral("DS")] = defaultStyle(stringBytes(ds));
    return entry;
}
}

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
            for (const auto &annotation : page->annotationImprints())
                annotations.append(annotationJson(*annotation));
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
