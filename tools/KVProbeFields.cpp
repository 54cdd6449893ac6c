// kvprobe fields FILE [--password P]
//
// Every widget annotation of the pages, in page and Annots order, with its field as the engine
// reads it, in the shape of the peer tool's form report:
//   {"fields": [{"pageposfrom1": 1, "fullname": "form.name", "fieldtype": "/Tx",
//     "fieldflags": 4096, "value": "u:Ada", "defaultvalue": null, "alternativename": "Name",
//     "mappingname": "name", "quadding": 0}, ...]}
// Values print as KVProbeJson.h prints objects (null when absent; "N G R" for an object of its
// own). A widget of a field type the
// engine models is read through its class; any other widget (a signature) from its dictionary
// by the same rules: the field dictionary is the Parent when it has FT, else the widget.
// "alternativename" is TU, else the full name; "mappingname" is TM, else the alternative name;
// "quadding" is Q of the widget, else of the field dictionary, else of the form, else 0.
// A submit button adds "submiturl", the URL its SubmitForm action sends the form to.
#include "KVProbeFields.h"

#include "KVProbeJson.h"
#include "KVPDFAnnotationWidget.h"
#include "KVPDFAnnotationWidgetButton.h"
#include "KVPDFDocument.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cstdio>
#include <exception>

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;

int usage()
{
    std::fprintf(stderr, "usage: kvprobe fields FILE [--password P]\n");
    return 2;
}

KVPDFObjectPtr entry(const Dictionary &dictionary, QByteArrayView key)
{
    try {
        return dictionary ? dictionary->resolvedObjectForKey(key) : nullptr;
    } catch (const std::exception &) {
        return nullptr;
    }
}

QJsonValue valueJson(const KVPDFObjectPtr &object)
{
    if (!object)
        return QJsonValue();
    // An object of its own prints as the reference to it, as the peer prints it.
    if (object->objectNumber() != 0 && !object->isDirect())
        return QStringLiteral("%1 %2 R").arg(object->objectNumber()).arg(object->generation());
    try {
        return QJsonDocument::fromJson("[" + kvProbeValueJson(object) + "]").array().first();
    } catch (const std::exception &) {
        return QJsonValue();
    }
}

QString textOf(const KVPDFObjectPtr &object)
{
    auto string = kv_cast<KVPDFObjectString>(object);
    return string ? string->stringValue() : QString();
}

// What the report needs of a field, from the engine's widget or, for a widget the engine keeps
// as a plain annotation, from the dictionaries.
struct FieldView {
    QString name;
    QByteArray type;
    int64_t flags = 0;
    KVPDFObjectPtr value;
    KVPDFObjectPtr defaultValue;
    QString tooltip;
    Dictionary field;
};

FieldView viewOf(KVPDFAnnotation &annotation)
{
    FieldView view;
    if (auto *widget = dynamic_cast<KVPDFAnnotationWidget *>(&annotation)) {
        view.name = widget->fieldName();
        view.type = widget->fieldType();
        view.flags = int64_t(widget->fieldFlags());
        view.value = widget->value();
        view.defaultValue = widget->defaultValue();
        view.tooltip = widget->tooltip();
        view.field = widget->fieldDictionary();
        return view;
    }
    const Dictionary &dictionary = annotation.annotDict();
    view.field = KVPDFAnnotationWidget::fieldDictionaryFor(dictionary);
    view.name = KVPDFAnnotationWidget::fieldNameFor(dictionary);
    view.type = KVPDFAnnotationWidget::fieldTypeFor(dictionary);
    if (KVPDFObjectPtr flags = entry(view.field, "Ff"); flags && flags->objectType() == KVPDFObject::TypeInteger)
        view.flags = flags->longLongValue();
    view.value = entry(view.field, "V");
    view.defaultValue = entry(view.field, "DV");
    if (auto tooltip = kv_cast<KVPDFObjectString>(entry(view.field, "TU")))
        view.tooltip = tooltip->stringValue();
    return view;
}

int64_t quadding(KVPDFAnnotation &annotation, const FieldView &view, const Dictionary &form)
{
    for (const Dictionary &holder : {annotation.annotDict(), view.field, form})
        if (KVPDFObjectPtr q = entry(holder, "Q"); q && q->objectType() == KVPDFObject::TypeInteger)
            return q->longLongValue();
    return 0;
}
}

QJsonObject kvprobeFieldsJson(KVPDFDocument &document)
{
    const Dictionary form = kv_cast<KVPDFObjectDictionary>(entry(document.rootObject(), "AcroForm"));
    QJsonArray fields;
    for (size_t i = 0; i < document.pageCount(); ++i) {
        const std::shared_ptr<KVPDFPage> page = document.pageAtIndex(i);
        if (!page)
            continue;
        for (const auto &annotation : page->annotationImprints()) {
            if (annotation->subtype() != "Widget")
                continue;
            const FieldView view = viewOf(*annotation);
            QJsonObject out;
            out[QStringLiteral("pageposfrom1")] = qint64(i + 1);
            out[QStringLiteral("fullname")] = view.name.isNull() ? QString() : view.name;
            out[QStringLiteral("fieldtype")] =
                view.type.isEmpty() ? QJsonValue() : valueJson(KVPDFObjectName::nameWithBytes(view.type));
            out[QStringLiteral("fieldflags")] = qint64(view.flags);
            out[QStringLiteral("value")] = valueJson(view.value);
            out[QStringLiteral("defaultvalue")] = valueJson(view.defaultValue);
            const QString alternative = view.tooltip.isNull() ? view.name : view.tooltip;
            out[QStringLiteral("alternativename")] = alternative.isNull() ? QString() : alternative;
            const KVPDFObjectPtr mapping = entry(view.field, "TM");
            out[QStringLiteral("mappingname")] = kv_cast<KVPDFObjectString>(mapping) ? textOf(mapping) : alternative;
            out[QStringLiteral("quadding")] = qint64(quadding(*annotation, view, form));
            if (auto *button = dynamic_cast<KVPDFAnnotationWidgetButton *>(annotation.get()))
                if (const QString url = button->submitURLString(); !url.isNull())
                    out[QStringLiteral("submiturl")] = url;
            fields.append(out);
        }
    }
    QJsonObject out;
    out[QStringLiteral("fields")] = fields;
    return out;
}

QJsonObject kvprobeFieldsJson(const QString &path, const QStringList &options, int *exitCode)
{
    *exitCode = 0;
    QString password;
    for (qsizetype i = 0; i < options.size(); ++i) {
        if (options[i] == QLatin1String("--password") && i + 1 < options.size()) {
            password = options[++i];
        } else {
            *exitCode = usage();
            return {};
        }
    }
    const std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, password, exitCode);
    if (!document)
        return {};
    return kvprobeFieldsJson(*document);
}

int kvprobeFields(const QString &path, const QStringList &options)
{
    int exitCode = 0;
    const QJsonObject out = kvprobeFieldsJson(path, options, &exitCode);
    return kvProbePrintUnlessFailed(out, exitCode);
}
