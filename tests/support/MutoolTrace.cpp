#include "support/MutoolTrace.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QXmlStreamReader>

#include <cmath>

namespace {

bool readNumbers(QStringView text, int count, double *out)
{
    const QList<QStringView> fields = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (fields.size() != count)
        return false;
    for (int i = 0; i < count; ++i) {
        bool ok = false;
        out[i] = fields[i].toDouble(&ok);
        if (!ok)
            return false;
    }
    return true;
}

bool readMatrix(QStringView text, QTransform &matrix)
{
    double m[6];
    if (!readNumbers(text, 6, m))
        return false;
    matrix = QTransform(m[0], m[1], m[2], m[3], m[4], m[5]);
    return true;
}

// mutool writes a code XML has no character for as "&#xNN;"; left as it is the reader stops at
// it. It is escaped here into plain text and turned back into the code by unescapeCode().
QByteArray escapeControlReferences(const QByteArray &xml)
{
    static const QRegularExpression reference(QStringLiteral("&#x([0-9A-Fa-f]+);"));
    const QString text = QString::fromUtf8(xml);
    QString out;
    out.reserve(text.size());
    qsizetype last = 0;
    for (QRegularExpressionMatchIterator it = reference.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const uint code = match.captured(1).toUInt(nullptr, 16);
        const bool allowed = code == 0x9 || code == 0xA || code == 0xD || (code >= 0x20 && code <= 0xD7FF)
                             || (code >= 0xE000 && code <= 0xFFFD) || (code >= 0x10000 && code <= 0x10FFFF);
        if (allowed)
            continue;
        out += QStringView(text).mid(last, match.capturedStart() - last);
        out += QStringLiteral("&amp;#x") + match.captured(1) + QLatin1Char(';');
        last = match.capturedEnd();
    }
    out += QStringView(text).mid(last);
    return out.toUtf8();
}

QString unescapeCode(const QString &value)
{
    static const QRegularExpression escaped(QStringLiteral("^&#x([0-9A-Fa-f]+);$"));
    const QRegularExpressionMatch match = escaped.match(value);
    if (!match.hasMatch())
        return value;
    const char32_t code = match.captured(1).toUInt(nullptr, 16);
    return QString::fromUcs4(&code, 1);
}

bool isTextElement(QStringView name)
{
    return name == u"fill_text" || name == u"stroke_text" || name == u"clip_text" || name == u"clip_stroke_text"
           || name == u"ignore_text";
}

bool sameGlyphs(const std::vector<MutoolGlyph> &a, const std::vector<MutoolGlyph> &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].unicode != b[i].unicode || a[i].glyph != b[i].glyph || a[i].font != b[i].font
            || std::fabs(a[i].position.x() - b[i].position.x()) > 1e-6
            || std::fabs(a[i].position.y() - b[i].position.y()) > 1e-6)
            return false;
    return true;
}

QRectF rectFromBox(QXmlStreamAttributes attributes)
{
    const double l = attributes.value(QLatin1String("l")).toDouble(), b = attributes.value(QLatin1String("b")).toDouble();
    const double r = attributes.value(QLatin1String("r")).toDouble(), t = attributes.value(QLatin1String("t")).toDouble();
    return QRectF(QPointF(std::min(l, r), std::min(b, t)), QPointF(std::max(l, r), std::max(b, t)));
}

} // namespace

QTransform mutoolPageTransform(const QRectF &mediaBox, const std::optional<QRectF> &cropBox, int rotate)
{
    QRectF visible = mediaBox;
    if (cropBox && !cropBox->isEmpty())
        visible = mediaBox.intersected(*cropBox);
    rotate = ((rotate % 360) + 360) % 360;
    QTransform turn;
    turn.rotate(-rotate);
    const QTransform oriented = turn * QTransform::fromScale(1, -1);
    const QRectF placed = oriented.mapRect(visible);
    return oriented * QTransform::fromTranslate(-placed.left(), -placed.top());
}

bool parseMutoolPages(const QByteArray &xml, MutoolPage &page, QString *error)
{
    QXmlStreamReader reader(xml);
    bool haveMedia = false;
    while (!reader.atEnd()) {
        if (reader.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        if (reader.name() == u"MediaBox") {
            page.mediaBox = rectFromBox(attributes);
            haveMedia = true;
        } else if (reader.name() == u"CropBox") {
            page.cropBox = rectFromBox(attributes);
        } else if (reader.name() == u"Rotate") {
            page.rotate = ((attributes.value(QLatin1String("v")).toInt() % 360) + 360) % 360;
        }
    }
    if (!haveMedia) {
        *error = QStringLiteral("mutool pages gives no MediaBox");
        return false;
    }
    page.pageTransform = mutoolPageTransform(page.mediaBox, page.cropBox, page.rotate);
    return true;
}

bool parseMutoolTrace(const QByteArray &xml, MutoolPage &page, QString *error)
{
    const QTransform toUser = page.pageTransform.inverted();
    QXmlStreamReader reader(escapeControlReferences(xml));
    QTransform textMatrix;
    QString element;
    QString font;
    QTransform trm;
    bool vertical = false;
    std::vector<MutoolGlyph> current, previous;
    int depth = 0;          // inside a text element: its nesting level, else 0
    bool sawPage = false;
    while (!reader.atEnd()) {
        const QXmlStreamReader::TokenType token = reader.readNext();
        if (token == QXmlStreamReader::EndElement && depth && isTextElement(reader.name())) {
            depth = 0;
            if (!sameGlyphs(current, previous))
                page.glyphs.insert(page.glyphs.end(), current.begin(), current.end());
            previous = std::move(current);
            current.clear();
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        const QStringView name = reader.name();
        const QXmlStreamAttributes attributes = reader.attributes();
        if (name == u"page") {
            if (sawPage) {
                *error = QStringLiteral("the trace holds more than one page");
                return false;
            }
            sawPage = true;
            double box[4];
            if (!readNumbers(attributes.value(QLatin1String("mediabox")), 4, box)) {
                *error = QStringLiteral("the trace's page has no mediabox");
                return false;
            }
            const QRectF expected = page.pageTransform.mapRect(
                page.cropBox && !page.cropBox->isEmpty() ? page.mediaBox.intersected(*page.cropBox) : page.mediaBox);
            if (std::fabs(box[2] - box[0] - expected.width()) > 0.01 || std::fabs(box[3] - box[1] - expected.height()) > 0.01) {
                *error = QStringLiteral("the trace's page is %1 x %2, the boxes give %3 x %4")
                             .arg(box[2] - box[0]).arg(box[3] - box[1]).arg(expected.width()).arg(expected.height());
                return false;
            }
        } else if (isTextElement(name)) {
            if (!readMatrix(attributes.value(QLatin1String("transform")), textMatrix)) {
                *error = QStringLiteral("%1 without a transform").arg(name);
                return false;
            }
            element = name.toString();
            depth = 1;
        } else if (name == u"span" && depth) {
            font = attributes.value(QLatin1String("font")).toString();
            vertical = attributes.value(QLatin1String("wmode")) == u"1";
            double m[4];
            if (!readNumbers(attributes.value(QLatin1String("trm")), 4, m)) {
                *error = QStringLiteral("span without a trm");
                return false;
            }
            trm = QTransform(m[0], m[1], m[2], m[3], 0, 0);
        } else if (name == u"g" && depth) {
            MutoolGlyph glyph;
            glyph.unicode = unescapeCode(attributes.value(QLatin1String("unicode")).toString());
            glyph.glyph = attributes.value(QLatin1String("glyph")).toString();
            const QPointF pen(attributes.value(QLatin1String("x")).toDouble(), attributes.value(QLatin1String("y")).toDouble());
            glyph.position = toUser.map(textMatrix.map(pen));
            glyph.font = font;
            glyph.trm = trm;
            glyph.vertical = vertical;
            glyph.element = element;
            current.push_back(std::move(glyph));
        } else if (name == u"fill_image" || name == u"fill_image_mask") {
            QTransform matrix;
            if (!readMatrix(attributes.value(QLatin1String("transform")), matrix)) {
                *error = QStringLiteral("%1 without a transform").arg(name);
                return false;
            }
            MutoolImage image;
            image.box = (matrix * toUser).mapRect(QRectF(0, 0, 1, 1));
            image.pixels = QSize(attributes.value(QLatin1String("width")).toInt(), attributes.value(QLatin1String("height")).toInt());
            image.mask = name == u"fill_image_mask";
            page.images.push_back(image);
        }
    }
    if (reader.hasError()) {
        *error = QStringLiteral("the trace does not read as XML: %1 (line %2)").arg(reader.errorString()).arg(reader.lineNumber());
        return false;
    }
    if (!sawPage) {
        *error = QStringLiteral("the trace holds no page");
        return false;
    }
    return true;
}

std::optional<MutoolPage> mutoolTracePage(const QString &path, int page, const QString &password, QString *error)
{
    auto run = [&](const QString &command, QByteArray *out) {
        QStringList arguments{command};
        if (!password.isEmpty())
            arguments << QStringLiteral("-p") << password;
        arguments << path << QString::number(page);
        QProcess process;
        process.start(QStringLiteral("mutool"), arguments);
        if (!process.waitForStarted(30000) || !process.waitForFinished(300000)) {
            process.kill();
            process.waitForFinished();
            *error = QStringLiteral("mutool %1 did not run to its end").arg(command);
            return false;
        }
        *out = process.readAllStandardOutput();
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
            *error = QStringLiteral("mutool %1 fails: %2").arg(command, QString::fromUtf8(process.readAllStandardError().left(500)));
            return false;
        }
        return true;
    };
    QByteArray pages, trace;
    if (!run(QStringLiteral("pages"), &pages) || !run(QStringLiteral("trace"), &trace))
        return std::nullopt;
    // `mutool pages` starts with the file's name and a colon, which is no XML.
    const qsizetype start = pages.indexOf("<page");
    MutoolPage result;
    if (start < 0 || !parseMutoolPages(pages.mid(start), result, error) || !parseMutoolTrace(trace, result, error))
        return std::nullopt;
    return result;
}
