#pragma once
// What peer tools say about a written PDF, for tests that check structure and drawing rather
// than bytes: qpdf's JSON of the objects, the depth of forms drawn inside forms, the images,
// and pdftoppm's drawing of a page as a QImage.
#include "TestSupport.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <functional>
#include <set>

// The objects of `path` as qpdf --json=2 gives them ("obj:N G R" -> {"value"|"stream"}).
inline QJsonObject qpdfObjects(const QString &path)
{
    const ToolResult result = runTool(QStringLiteral("qpdf"), {QStringLiteral("--json=2"), QStringLiteral("--json-key=qpdf"), path});
    const QJsonArray qpdf = QJsonDocument::fromJson(result.out).object().value(QStringLiteral("qpdf")).toArray();
    return qpdf.size() > 1 ? qpdf.at(1).toObject() : QJsonObject();
}

// The dictionary of an object entry, whether a stream or a value.
inline QJsonObject qpdfDictionary(const QJsonObject &entry)
{
    if (entry.contains(QStringLiteral("stream")))
        return entry.value(QStringLiteral("stream")).toObject().value(QStringLiteral("dict")).toObject();
    return entry.value(QStringLiteral("value")).toObject();
}

// A value resolved when it is a reference ("N G R").
inline QJsonValue qpdfResolved(const QJsonObject &objects, const QJsonValue &value)
{
    const QString text = value.toString();
    if (!text.endsWith(QLatin1String(" R")))
        return value;
    const QJsonObject entry = objects.value(QStringLiteral("obj:") + text).toObject();
    return entry.contains(QStringLiteral("stream")) ? QJsonValue(entry) : entry.value(QStringLiteral("value"));
}

// The deepest nesting of form objects drawn from any page's resources (0: no form).
inline int qpdfFormNesting(const QJsonObject &objects)
{
    std::function<int(const QJsonValue &, std::set<QString> &)> depthOf = [&](const QJsonValue &resourcesValue,
                                                                              std::set<QString> &seen) {
        const QJsonObject resources = qpdfResolved(objects, resourcesValue).toObject();
        const QJsonObject xobjects = qpdfResolved(objects, resources.value(QStringLiteral("/XObject"))).toObject();
        int deepest = 0;
        for (const QJsonValue &reference : xobjects) {
            if (!seen.insert(reference.toString()).second)
                continue;
            const QJsonObject entry = objects.value(QStringLiteral("obj:") + reference.toString()).toObject();
            const QJsonObject dictionary = qpdfDictionary(entry);
            if (dictionary.value(QStringLiteral("/Subtype")).toString() == QLatin1String("/Form"))
                deepest = std::max(deepest, 1 + depthOf(dictionary.value(QStringLiteral("/Resources")), seen));
            seen.erase(reference.toString());
        }
        return deepest;
    };
    int deepest = 0;
    for (const QJsonValue &entry : objects) {
        const QJsonObject dictionary = qpdfDictionary(entry.toObject());
        if (dictionary.value(QStringLiteral("/Type")).toString() == QLatin1String("/Page")) {
            std::set<QString> seen;
            deepest = std::max(deepest, depthOf(dictionary.value(QStringLiteral("/Resources")), seen));
        }
    }
    return deepest;
}

// The image objects' dictionaries.
inline QList<QJsonObject> qpdfImages(const QJsonObject &objects)
{
    QList<QJsonObject> images;
    for (const QJsonValue &entry : objects) {
        const QJsonObject dictionary = qpdfDictionary(entry.toObject());
        if (dictionary.value(QStringLiteral("/Subtype")).toString() == QLatin1String("/Image"))
            images.append(dictionary);
    }
    return images;
}

// Page 1 of `path` drawn by pdftoppm at `dpi`, or a null image.
inline QImage popplerRender(const QString &path, int dpi)
{
    QTemporaryDir dir;
    const QString stem = dir.filePath(QStringLiteral("page"));
    runTool(QStringLiteral("pdftoppm"), {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-png"),
                                         QStringLiteral("-singlefile"), path, stem});
    return QImage(stem + QStringLiteral(".png")).convertToFormat(QImage::Format_RGB32);
}
