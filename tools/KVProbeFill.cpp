#include "KVProbeFill.h"

#include "KVPDFAnnotationWidgetText.h"
#include "KVPDFDocument.h"
#include "KVPDFFont.h"
#include "KVPDFFontTables.h"
#include "KVPDFPage.h"
#include "KVProbeJson.h"

#include <QBuffer>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QJsonObject>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cstdio>

QByteArray kvProbeRenderField(const KVProbeFieldLook &look)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        writer.setCreator(QStringLiteral("Folivo"));
        writer.setPageSize(QPageSize(look.size, QPageSize::Point, QString(), QPageSize::ExactMatch));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
        QPainter painter(&writer);
        const QRectF box(QPointF(0, 0), look.size);
        if (look.background)
            painter.fillRect(box, look.background->toQColor());
        const double width = look.border ? std::max(0.0, look.borderWidth) : 0.0;
        if (width > 0) {
            painter.setPen(QPen(look.border->toQColor(), width));
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(box.adjusted(width / 2, width / 2, -width / 2, -width / 2));
        }
        const QRectF inner = box.adjusted(width + 2, width, -width - 2, -width);
        QFont font(look.fontName);
        // Size to fit: the height, as far as the line fits.
        font.setPointSizeF(look.fontSize > 0 ? look.fontSize : std::clamp(inner.height() * 0.7, 4.0, 12.0));
        painter.setFont(font);
        painter.setPen(look.textColor.toQColor());
        const QFontMetricsF metrics(font, &writer);
        const double advance = metrics.horizontalAdvance(look.text);
        double x = inner.left();
        if (look.quadding == 1)
            x = inner.center().x() - advance / 2;
        else if (look.quadding == 2)
            x = inner.right() - advance;
        const double baseline = inner.center().y() + (metrics.ascent() - metrics.descent()) / 2;
        painter.setClipRect(inner);
        painter.drawText(QPointF(x, baseline), look.text);
        painter.end();
    }
    return buffer.data();
}

QByteArray kvProbeRichText(const QString &text, const QString &fontName, double fontSize, const KVColor &color)
{
    const QColor rgb = color.toQColor();
    QByteArray rtf = "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl\\f0\\fnil " + fontName.toLatin1() + ";}{\\colortbl;\\red"
                     + QByteArray::number(rgb.red()) + "\\green" + QByteArray::number(rgb.green()) + "\\blue"
                     + QByteArray::number(rgb.blue()) + ";}\\f0\\fs" + QByteArray::number(qRound(fontSize * 2)) + "\\cf1 ";
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit == '\\' || unit == '{' || unit == '}') {
            rtf += '\\';
            rtf += char(unit);
        } else if (unit == '\n') {
            rtf += "\\par ";
        } else if (unit >= 0x20 && unit < 0x80) {
            rtf += char(unit);
        } else {
            rtf += "\\u" + QByteArray::number(int(int16_t(unit))) + '?';
        }
    }
    return rtf + '}';
}

namespace {
int usage()
{
    std::fprintf(stderr, "usage: kvprobe fill FILE --field NAME --value TEXT -o OUT [--password P]\n");
    return 2;
}

// The font the field is drawn in: DA's when it names one of the standard fonts, else Helvetica.
QString drawingFont(const QString &daFont)
{
    const QByteArray name = daFont.toLatin1();
    return !name.isEmpty() && kvpdf::stdAbbreviation(name.constData(), size_t(name.size())) ? daFont
                                                                                              : QStringLiteral("Helvetica");
}

void fill(KVPDFAnnotationWidgetText &field, const QString &text)
{
    QString font;
    double size = 0;
    std::optional<KVColor> color;
    field.getFontName(&font, &size, &color);

    KVProbeFieldLook look;
    look.size = field.size();
    look.text = text;
    look.fontName = drawingFont(font);
    look.fontSize = field.sizeToFit() ? 0 : size;
    if (look.fontSize <= 0 && !field.sizeToFit())
        look.fontSize = 12;
    look.textColor = color ? *color : KVColor::gray(0);
    look.background = field.fillColor();
    look.border = field.color();
    look.borderWidth = field.strokeWidth();
    look.quadding = field.justification();

    KVPDFOpenResult result = KVPDFOpenOK;
    field.setDocument(KVPDFDocument::documentWithData(kvProbeRenderField(look), &result));
    QVariantMap properties = field.dictionary();
    properties.insert(QStringLiteral("textData"),
                      kvProbeRichText(text, look.fontName, look.fontSize > 0 ? look.fontSize : 12, look.textColor));
    field.setDictionary(properties);
    const KVPDFAnnotationWidgetText::TextView view{look.fontName, look.fontSize, look.textColor};
    field.update(&view);
}
}

int kvprobeFill(int argc, char **argv)
{
    // Fonts and painting need a GUI application; a probe has no display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(2);
    if (args.isEmpty())
        return usage();
    const QString path = args[0];
    QString name, text, out, password;
    bool hasText = false;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (i + 1 >= args.size())
            return usage();
        const QString &option = args[i];
        const QString value = args[++i];
        if (option == QLatin1String("--field")) {
            name = value;
        } else if (option == QLatin1String("--value")) {
            text = value;
            hasText = true;
        } else if (option == QLatin1String("-o")) {
            out = value;
        } else if (option == QLatin1String("--password")) {
            password = value;
        } else {
            return usage();
        }
    }
    if (name.isEmpty() || !hasText || out.isEmpty())
        return usage();

    int status = 0;
    std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, password, &status, false);
    if (!document)
        return status;
    int widgets = 0;
    QString da;
    for (const auto &page : document->pages()) {
        if (!page)
            continue;
        for (const auto &annotation : page->widgets()) {
            auto field = std::dynamic_pointer_cast<KVPDFAnnotationWidgetText>(annotation);
            if (!field || field->fieldName() != name)
                continue;
            fill(*field, text);
            if (widgets++ == 0)
                da = field->defaultAppearance();
        }
    }
    if (widgets == 0) {
        std::fprintf(stderr, "kvprobe: %s has no text field %s\n", qPrintable(path), qPrintable(name));
        return 6;
    }
    if (!document->writeUpdatedDocument(out, {{QStringLiteral("compression"), 0}})) {
        std::fprintf(stderr, "kvprobe: could not write %s\n", qPrintable(out));
        return 5;
    }
    QJsonObject result;
    result[QStringLiteral("written")] = out;
    result[QStringLiteral("field")] = name;
    result[QStringLiteral("widgets")] = widgets;
    result[QStringLiteral("da")] = da;
    kvProbePrint(result);
    return 0;
}
