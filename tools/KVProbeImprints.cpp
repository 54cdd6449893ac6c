// kvprobe add-imprint IN OUT --page N --at X,Y --size W,H [--pdf ONEPAGE.pdf] [--property K=V]...
//                    [--flatten] [--password P]
//   Opens IN, adds a content imprint to page N (counted from 1) at (X, Y) in page space with
//   size W x H, and saves the full rewrite to OUT. The imprint draws ONEPAGE.pdf's first page,
//   or by default a one-page PDF of W x H points filled black. Each --property adds a string
//   entry to the imprint's property dictionary; --flatten burns it into the page.
//   Prints {"written": OUT}. Exits 0 only when OUT was written; 1 when a file cannot be read,
//   2 on bad usage, 4 when IN does not open, 5 when OUT could not be written.
//
// kvprobe imprints FILE [--password P]
//   The stored imprints the engine reads back, page by page:
//   {"result": R, "pages": [[{"location": [x, y], "size": [w, h], "properties": {...}}, ...]]}
//   "properties" is null for an imprint without a readable property dictionary. Exits 0
//   when a result could be reported, 1 when the file cannot be read, 2 on bad usage.
#include "KVProbeJson.h"
#include "KVPDFDocument.h"
#include "KVPDFImprint.h"
#include "KVPDFPage.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <optional>

namespace {
std::optional<QPointF> pair(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 2)
        return std::nullopt;
    bool okX = false, okY = false;
    const double x = parts[0].toDouble(&okX);
    const double y = parts[1].toDouble(&okY);
    if (!okX || !okY || !std::isfinite(x) || !std::isfinite(y))
        return std::nullopt;
    return QPointF(x, y);
}

QByteArray number(double value) { return QByteArray::number(value, 'f', 4); }

// A one-page PDF of `size` points whose page is one filled black rectangle.
QByteArray filledRectanglePDF(QSizeF size)
{
    const QByteArray content = "0 g 0 0 " + number(size.width()) + ' ' + number(size.height()) + " re f\n";
    const QByteArray objects[] = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + number(size.width()) + ' ' + number(size.height())
            + "] /Resources << >> /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "endstream",
    };
    QByteArray out = "%PDF-1.4\n";
    QByteArray xref = "xref\n0 5\n0000000000 65535 f \n";
    for (int i = 0; i < 4; ++i) {
        xref += QByteArray::number(out.size()).rightJustified(10, '0') + " 00000 n \n";
        out += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype at = out.size();
    out += xref + "trailer\n<< /Size 5 /Root 1 0 R >>\nstartxref\n" + QByteArray::number(at) + "\n%%EOF\n";
    return out;
}

std::shared_ptr<KVPDFDocument> openDocument(const QString &path, const QString &password, KVPDFOpenResult *result, int *exitCode)
{
    std::shared_ptr<KVPDFDocument> document = KVPDFDocument::documentWithContentsOfFile(path, result);
    if (!document) {
        std::fprintf(stderr, "kvprobe: cannot read %s\n", qPrintable(path));
        *exitCode = 1;
        return nullptr;
    }
    if (*result == KVPDFOpenNeedsPassword && !password.isEmpty()
        && document->validatePassword(password) == KVPDFPasswordResult::Accepted)
        *result = KVPDFOpenOK;
    *exitCode = 0;
    return document;
}

int badUsage()
{
    std::fprintf(stderr, "usage: kvprobe add-imprint IN OUT --page N --at X,Y --size W,H [--pdf ONEPAGE.pdf] [--property K=V]..."
                         " [--flatten] [--password P]\n"
                         "       kvprobe imprints FILE [--password P]\n");
    return 2;
}
}

int kvprobeAddImprint(const QStringList &arguments)
{
    if (arguments.size() < 2)
        return badUsage();
    const QString in = arguments[0];
    const QString out = arguments[1];
    int pageNumber = 0;
    std::optional<QPointF> at;
    std::optional<QPointF> size;
    QString pdf;
    QString password;
    QVariantMap properties;
    bool flatten = false;
    for (qsizetype i = 2; i < arguments.size(); ++i) {
        const QString &name = arguments[i];
        if (name == QLatin1String("--flatten")) {
            flatten = true;
            continue;
        }
        if (i + 1 >= arguments.size())
            return badUsage();
        const QString value = arguments[++i];
        if (name == QLatin1String("--page")) {
            pageNumber = value.toInt();
        } else if (name == QLatin1String("--at")) {
            at = pair(value);
        } else if (name == QLatin1String("--size")) {
            size = pair(value);
        } else if (name == QLatin1String("--pdf")) {
            pdf = value;
        } else if (name == QLatin1String("--password")) {
            password = value;
        } else if (name == QLatin1String("--property")) {
            const qsizetype equals = value.indexOf(QLatin1Char('='));
            if (equals <= 0)
                return badUsage();
            properties.insert(value.left(equals), value.mid(equals + 1));
        } else {
            return badUsage();
        }
    }
    if (pageNumber < 1 || !at || !size || size->x() <= 0 || size->y() <= 0)
        return badUsage();

    KVPDFOpenResult result = KVPDFOpenOK;
    int exitCode = 0;
    std::shared_ptr<KVPDFDocument> document = openDocument(in, password, &result, &exitCode);
    if (!document)
        return exitCode;
    if (result != KVPDFOpenOK || size_t(pageNumber) > document->pageCount()) {
        std::fprintf(stderr, "kvprobe: %s opens with result %d and %zu pages\n", qPrintable(in), result, document->pageCount());
        return 4;
    }
    QByteArray imprintData;
    if (pdf.isEmpty()) {
        imprintData = filledRectanglePDF(QSizeF(size->x(), size->y()));
    } else {
        QFile file(pdf);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "kvprobe: cannot read %s\n", qPrintable(pdf));
            return 1;
        }
        imprintData = file.readAll();
    }
    std::shared_ptr<KVPDFImprint> imprint = KVPDFImprint::imprintWithData(imprintData, *at);
    imprint->setSize(QSizeF(size->x(), size->y()));
    imprint->setDictionary(properties);
    imprint->setFlatten(flatten);
    document->pageAtIndex(size_t(pageNumber - 1))->addImprint(imprint);
    if (!document->writeUpdatedDocument(out, {{QStringLiteral("compression"), 0}})) {
        std::fprintf(stderr, "kvprobe: could not write %s\n", qPrintable(out));
        return 5;
    }
    QJsonObject written;
    written[QStringLiteral("written")] = out;
    kvProbePrint(written);
    return 0;
}

int kvprobeImprints(const QString &path, const QStringList &options)
{
    QString password;
    for (qsizetype i = 0; i < options.size(); ++i) {
        if (options[i] == QLatin1String("--password") && i + 1 < options.size())
            password = options[++i];
        else
            return badUsage();
    }
    KVPDFOpenResult result = KVPDFOpenOK;
    int exitCode = 0;
    std::shared_ptr<KVPDFDocument> document = openDocument(path, password, &result, &exitCode);
    if (!document)
        return exitCode;
    QJsonArray pages;
    for (const auto &page : document->pages()) {
        QJsonArray imprints;
        for (const auto &imprint : page->contentImprints()) {
            QJsonObject entry;
            entry[QStringLiteral("location")] = QJsonArray{imprint->location().x(), imprint->location().y()};
            entry[QStringLiteral("size")] = QJsonArray{imprint->size().width(), imprint->size().height()};
            entry[QStringLiteral("properties")] =
                imprint->hasDictionary() ? QJsonValue(QJsonObject::fromVariantMap(imprint->dictionary())) : QJsonValue();
            imprints.append(entry);
        }
        pages.append(imprints);
    }
    QJsonObject out;
    out[QStringLiteral("result")] = result;
    out[QStringLiteral("pages")] = pages;
    kvProbePrint(out);
    return 0;
}
