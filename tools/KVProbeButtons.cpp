#include "KVProbeButtons.h"

#include "KVPDFAnnotationWidgetButton.h"
#include "KVPDFAnnotationWidgetChoice.h"
#include "KVPDFDocument.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFPage.h"
#include "KVProbeJson.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>
#include <optional>

namespace {
int usage()
{
    std::fprintf(stderr, "usage: kvprobe toggle FILE --field NAME [--widget K] -o OUT [--password P]\n"
                         "       kvprobe add-button FILE --kind check|radio --rect X,Y,W,H [--page N] [--name NAME]"
                         " [--export VALUE] [--on] -o OUT [--password P]\n"
                         "       kvprobe choose FILE --field NAME (--select I,J,... | --value TEXT) -o OUT [--password P]\n");
    return 2;
}

// FILE, then "--name value" options; flags listed in `switches` take no value.
struct Arguments {
    QString path;
    QHash<QString, QString> values;
    QString password;
};

std::optional<Arguments> parse(const QStringList &arguments, const QStringList &known, const QStringList &switches = {})
{
    if (arguments.isEmpty())
        return std::nullopt;
    Arguments parsed;
    parsed.path = arguments[0];
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &option = arguments[i];
        if (switches.contains(option)) {
            parsed.values.insert(option, QStringLiteral("1"));
            continue;
        }
        if (i + 1 >= arguments.size())
            return std::nullopt;
        if (option == QLatin1String("--password"))
            parsed.password = arguments[++i];
        else if (known.contains(option))
            parsed.values.insert(option, arguments[++i]);
        else
            return std::nullopt;
    }
    if (parsed.values.value(QStringLiteral("-o")).isEmpty())
        return std::nullopt;
    return parsed;
}

int saveTo(KVPDFDocument &document, const QString &out, QJsonObject result)
{
    if (!document.writeUpdatedDocument(out, {{QStringLiteral("compression"), 0}})) {
        std::fprintf(stderr, "kvprobe: could not write %s\n", qPrintable(out));
        return 5;
    }
    result[QStringLiteral("written")] = out;
    kvProbePrint(result);
    return 0;
}

template <class Widget>
std::vector<std::shared_ptr<Widget>> widgetsNamed(KVPDFDocument &document, const QString &name)
{
    std::vector<std::shared_ptr<Widget>> found;
    for (const auto &page : document.pages())
        if (page)
            for (const auto &annotation : page->widgets())
                if (auto widget = std::dynamic_pointer_cast<Widget>(annotation); widget && widget->fieldName() == name)
                    found.push_back(widget);
    return found;
}

std::optional<std::vector<double>> numbers(const QString &text, qsizetype count)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != count)
        return std::nullopt;
    std::vector<double> values;
    for (const QString &part : parts) {
        bool ok = false;
        values.push_back(part.toDouble(&ok));
        if (!ok || !std::isfinite(values.back()))
            return std::nullopt;
    }
    return values;
}
}

int kvprobeToggle(const QStringList &arguments)
{
    const std::optional<Arguments> args = parse(arguments, {QStringLiteral("--field"), QStringLiteral("--widget"), QStringLiteral("-o")});
    if (!args || args->values.value(QStringLiteral("--field")).isEmpty())
        return usage();
    bool ok = true;
    const qlonglong index = args->values.value(QStringLiteral("--widget"), QStringLiteral("0")).toLongLong(&ok);
    if (!ok || index < 0)
        return usage();
    int status = 0;
    std::shared_ptr<KVPDFDocument> document = kvProbeOpen(args->path, args->password, &status, false);
    if (!document)
        return status;
    const QString name = args->values.value(QStringLiteral("--field"));
    const auto buttons = widgetsNamed<KVPDFAnnotationWidgetButton>(*document, name);
    if (size_t(index) >= buttons.size()) {
        std::fprintf(stderr, "kvprobe: %s has no widget %lld of button field %s\n", qPrintable(args->path), index, qPrintable(name));
        return 6;
    }
    const auto &button = buttons[size_t(index)];
    if (!button->toggleState()) {
        std::fprintf(stderr, "kvprobe: button field %s has no other state\n", qPrintable(name));
        return 7;
    }
    for (const auto &other : buttons)
        if (other != button)
            other->setValue(button->value());
    QJsonObject result;
    result[QStringLiteral("field")] = name;
    result[QStringLiteral("widget")] = index;
    result[QStringLiteral("state")] = QString::fromUtf8(button->annotDict()->nameForKey("AS"));
    return saveTo(*document, args->values.value(QStringLiteral("-o")), result);
}

int kvprobeAddButton(const QStringList &arguments)
{
    const std::optional<Arguments> args =
        parse(arguments,
              {QStringLiteral("--kind"), QStringLiteral("--rect"), QStringLiteral("--page"), QStringLiteral("--name"),
               QStringLiteral("--export"), QStringLiteral("-o")},
              {QStringLiteral("--on")});
    if (!args)
        return usage();
    const QString kind = args->values.value(QStringLiteral("--kind"));
    const std::optional<std::vector<double>> rect = numbers(args->values.value(QStringLiteral("--rect")), 4);
    bool ok = true;
    const qlonglong pageNumber = args->values.value(QStringLiteral("--page"), QStringLiteral("1")).toLongLong(&ok);
    if ((kind != QLatin1String("check") && kind != QLatin1String("radio")) || !rect || (*rect)[2] <= 0 || (*rect)[3] <= 0 || !ok
        || pageNumber < 1)
        return usage();
    int status = 0;
    std::shared_ptr<KVPDFDocument> document = kvProbeOpen(args->path, args->password, &status, false);
    if (!document)
        return status;
    std::shared_ptr<KVPDFPage> page = kvProbePage(*document, args->path, pageNumber);
    if (!page)
        return 6;
    const QString name = args->values.value(QStringLiteral("--name"), QStringLiteral("Button"));
    const QString exportValue = args->values.value(QStringLiteral("--export"), QStringLiteral("Yes"));
    page->widgets();
    auto button = kind == QLatin1String("check") ? KVPDFAnnotationWidgetButton::checkbox(name, exportValue, page.get())
                                                 : KVPDFAnnotationWidgetButton::radio(name, exportValue, page.get());
    button->setLocation(QPointF((*rect)[0], (*rect)[1]));
    button->setSize(QSizeF((*rect)[2], (*rect)[3]));
    page->addImprint(button);
    if (args->values.contains(QStringLiteral("--on")))
        button->toggleState();
    QJsonObject result;
    result[QStringLiteral("field")] = name;
    result[QStringLiteral("state")] = QString::fromUtf8(button->annotDict()->nameForKey("AS"));
    return saveTo(*document, args->values.value(QStringLiteral("-o")), result);
}

int kvprobeChoose(const QStringList &arguments)
{
    const std::optional<Arguments> args =
        parse(arguments, {QStringLiteral("--field"), QStringLiteral("--select"), QStringLiteral("--value"), QStringLiteral("-o")});
    if (!args || args->values.value(QStringLiteral("--field")).isEmpty()
        || args->values.contains(QStringLiteral("--select")) == args->values.contains(QStringLiteral("--value")))
        return usage();
    std::set<size_t> selection;
    if (args->values.contains(QStringLiteral("--select")))
        for (const QString &part : args->values.value(QStringLiteral("--select")).split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            bool ok = false;
            const qlonglong index = part.toLongLong(&ok);
            if (!ok || index < 0)
                return usage();
            selection.insert(size_t(index));
        }
    int status = 0;
    std::shared_ptr<KVPDFDocument> document = kvProbeOpen(args->path, args->password, &status, false);
    if (!document)
        return status;
    const QString name = args->values.value(QStringLiteral("--field"));
    const auto choices = widgetsNamed<KVPDFAnnotationWidgetChoice>(*document, name);
    if (choices.empty()) {
        std::fprintf(stderr, "kvprobe: %s has no choice field %s\n", qPrintable(args->path), qPrintable(name));
        return 6;
    }
    // Every widget of the field shows the one value.
    for (const auto &choice : choices) {
        if (args->values.contains(QStringLiteral("--value"))) {
            const QString text = args->values.value(QStringLiteral("--value"));
            if (choice->combo()) {
                choice->setExportValue(text);
                continue;
            }
            const int64_t index = choice->exportIndexForValue(text);
            if (index < 0) {
                std::fprintf(stderr, "kvprobe: choice field %s has no option %s\n", qPrintable(name), qPrintable(text));
                return 7;
            }
            choice->setSelection({size_t(index)});
        } else {
            choice->setSelection(selection);
        }
    }
    QJsonArray selected;
    for (size_t index : choices.front()->selection())
        selected.append(qint64(index));
    QJsonObject result;
    result[QStringLiteral("field")] = name;
    result[QStringLiteral("selection")] = selected;
    return saveTo(*document, args->values.value(QStringLiteral("-o")), result);
}
