#include "KVPDFAnnotationFreeText.h"

#include "KVPDFAnnotationEdits.h"
#include "KVNumbers.h"
#include "KVPDFAnnotationShape.h"
#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFFieldAppearance.h"
#include "KVPDFFont.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDate.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFServices.h"

#include <array>
#include <cmath>

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;
using Entries = std::vector<std::pair<QByteArray, KVPDFObjectPtr>>;

const QByteArray kFontResource = QByteArrayLiteral("FVFont");

KVPDFObjectPtr readKey(const Dictionary &dictionary, QByteArrayView key) { return kvReadableEntry(dictionary, key, u"FreeText"); }

QString textOf(const Dictionary &dictionary, QByteArrayView key) { return kvpdf::annotation::readText(dictionary, key, u"FreeText"); }

using kvpdf::annotation::textString;

std::array<float, 3> rgbOf(const KVColor &color)
{
    const auto c = color.components();
    switch (color.space()) {
    case KVColor::Space::Gray: return {c[0], c[0], c[0]};
    case KVColor::Space::RGB: return {c[0], c[1], c[2]};
    case KVColor::Space::CMYK: {
        const QColor rgb = color.toQColor().toRgb();
        return {float(rgb.redF()), float(rgb.greenF()), float(rgb.blueF())};
    }
    case KVColor::Space::Invalid: break;
    }
    return {0, 0, 0};
}

KVColor withAlpha(const KVColor &color, float alpha)
{
    const auto c = color.components();
    switch (color.space()) {
    case KVColor::Space::Gray: return KVColor::gray(c[0], alpha);
    case KVColor::Space::RGB: return KVColor::rgb(c[0], c[1], c[2], alpha);
    case KVColor::Space::CMYK: return KVColor::cmyk(c[0], c[1], c[2], c[3], alpha);
    case KVColor::Space::Invalid: break;
    }
    return color;
}

// A number read from `text` at `position`; nullopt when none starts there.
std::optional<double> numberAt(const QByteArray &text, qsizetype position)
{
    if (position < 0 || position >= text.size())
        return std::nullopt;
    return kvParseDouble(text.constData() + position, text.constData() + text.size());
}

// A name as written in content ("#20" and the like decoded).
QString decodedName(const QByteArray &written)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < written.size(); ++i) {
        if (written[i] == '#' && i + 2 < written.size() && std::isxdigit(uchar(written[i + 1]))
            && std::isxdigit(uchar(written[i + 2]))) {
            bool ok = false;
            const int value = written.mid(i + 1, 2).toInt(&ok, 16);
            if (ok) {
                bytes += char(value);
                i += 2;
                continue;
            }
        }
        bytes += written[i];
    }
    return QString::fromUtf8(bytes);
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\0'; }

// Where operator `op` (with its leading blank) stands as a whole token, or -1.
qsizetype operatorAt(const QByteArray &text, const QByteArray &op)
{
    for (qsizetype from = 0;;) {
        const qsizetype at = text.indexOf(op, from);
        if (at < 0)
            return -1;
        const qsizetype end = at + op.size();
        if (end == text.size() || isBlank(text[end]))
            return at;
        from = at + 1;
    }
}

QByteArray hexByte(float component)
{
    const int value = std::clamp(int(component * 255), 0, 255);
    return QByteArray::number(value, 16).rightJustified(2, '0');
}
}

KVPDFAnnotationFreeText::KVPDFAnnotationFreeText(const Dictionary &dictionary, KVPDFPage *page)
    : KVPDFAnnotation(dictionary, page)
{
    const Dictionary &own = annotDict();
    m_contents = textOf(own, "Contents");
    m_fillColor = colorFromArray(readKey(own, "C"));

    const KVPDFDefaultFont font = KVPDFServices::defaultTextFont();
    m_fontName = font.name;
    m_fontSize = float(font.size);
    if (auto da = kv_cast<KVPDFObjectString>(readKey(own, "DA"))) {
        const DA parsed = parseDA(da->stringValue());
        m_borderColor = parsed.color;
        if (!parsed.fontName.isEmpty()) {
            m_fontName = parsed.fontName;
            m_fontSize = parsed.fontSize;
        }
    }
    if (auto ds = kv_cast<KVPDFObjectString>(readKey(own, "DS"))) {
        const QByteArray text = ds->stringValue().toLatin1();
        const qsizetype hash = text.indexOf('#');
        qsizetype end = hash + 1;
        while (hash >= 0 && end < text.size() && std::isxdigit(uchar(text[end])) && end - hash <= 8)
            ++end;
        bool ok = false;
        const uint value = hash >= 0 ? text.mid(hash + 1, end - hash - 1).toUInt(&ok, 16) : 0;
        if (ok)
            m_textColor =
                KVColor::rgb(float((value >> 16) & 255) / 255, float((value >> 8) & 255) / 255, float(value & 255) / 255);
    }
    const KVPDFObjectPtr opacity = readKey(own, "CA");
    if (kvIsNumber(opacity) && std::isfinite(opacity->realValue()))
        m_alpha = std::clamp(float(opacity->realValue()), 0.0f, 1.0f);
    m_title = textOf(own, "T");
    if (auto date = kv_cast<KVPDFObjectString>(readKey(own, "M")))
        m_modified = KVPDFObjectDate::dateFromPDFString(*date);
    m_name = textOf(own, "NM");
    m_subject = textOf(own, "Subj");
    const KVPDFObjectPtr quadding = readKey(own, "Q");
    if (kvIsNumber(quadding))
        m_quadding = std::clamp(int(std::clamp<int64_t>(quadding->longLongValue(), 0, 2)), 0, 2);
    KVPDFAnnotationShape::extractStrokeFromBorderStyleDict(kv_cast<KVPDFObjectDictionary>(readKey(own, "BS")), nullptr,
                                                           &m_strokeWidth, &m_strokePattern);
}

std::shared_ptr<KVPDFAnnotationFreeText> KVPDFAnnotationFreeText::annotationWithContents(const QString &contents,
                                                                                         const QRectF &rect, const QString &title,
                                                                                         KVPDFPage *page,
                                                                                         const std::optional<KVColor> &fillColor)
{
    std::vector<KVPDFObjectDictionary::Entry> entries{
        {"Type", KVPDFObjectName::nameWithBytes("Annot")},
        {"Subtype", KVPDFObjectName::nameWithBytes("FreeText")},
        {"Subj", textString(QStringLiteral("TextBox"), nullptr)},
        {"Contents", textString(contents, nullptr)},
        {"T", textString(title, nullptr)},
        {"CA", KVPDFObjectReal::realWithFloat(1.0f)},
    };
    if (fillColor && fillColor->isValid()) {
        const auto rgb = rgbOf(*fillColor);
        entries.emplace_back("C", arrayFromColor(KVColor::rgb(rgb[0], rgb[1], rgb[2])));
    }
    auto box =
        std::make_shared<KVPDFAnnotationFreeText>(KVPDFObjectDictionary::dictionaryWithDictionary(std::move(entries)), page);
    box->setModifiedNow();
    box->setLocation(rect.topLeft());
    box->setSize(rect.size());
    return box;
}

KVPDFAnnotationFreeText::~KVPDFAnnotationFreeText() = default;

QDateTime KVPDFAnnotationFreeText::modified()
{
    if (!m_modified)
        m_modified = QDateTime::currentDateTime();
    return *m_modified;
}

void KVPDFAnnotationFreeText::write(std::initializer_list<std::pair<QByteArray, KVPDFObjectPtr>> changes, bool look)
{
    kvpdf::annotation::Entries values = entries();
    kvpdf::annotation::apply(values, changes);
    if (look)
        resetAppearance(values);
    storeEntries(std::move(values));
}

void KVPDFAnnotationFreeText::setContents(const QString &contents)
{
    if (contents.isNull())
        return;
    m_contents = contents;
    write({{"Contents", textString(contents, nullptr)}});
}

void KVPDFAnnotationFreeText::setTitle(const QString &title)
{
    m_title = title;
    write({{"T", textString(title, annotDict())}});
}

void KVPDFAnnotationFreeText::setFillColor(const std::optional<KVColor> &color)
{
    if (color && color->isValid()) {
        const auto rgb = rgbOf(*color);
        m_fillColor = KVColor::rgb(rgb[0], rgb[1], rgb[2], color->alpha());
        write({{"C", arrayFromColor(*m_fillColor)}});
    } else {
        m_fillColor.reset();
        write({{"C", nullptr}});
    }
}

void KVPDFAnnotationFreeText::setBorderColor(const std::optional<KVColor> &color)
{
    m_borderColor = color && color->isValid() ? color : std::nullopt;
    updateDA();
}

void KVPDFAnnotationFreeText::setTextColor(const KVColor &color)
{
    m_textColor = color.isValid() ? color : KVColor::gray(0);
    updateDS();
}

void KVPDFAnnotationFreeText::setAlpha(float alpha)
{
    if (alpha == m_alpha)
        return;
    m_alpha = alpha;
    if (m_fillColor)
        m_fillColor = withAlpha(*m_fillColor, alpha);
    write({{"CA", KVPDFObjectReal::realWithFloat(alpha)}});
}

void KVPDFAnnotationFreeText::setModified(const QDateTime &date)
{
    m_modified = date;
    auto string = KVPDFObjectDate::dateWithDate(date);
    if (annotDict())
        string->setContext(annotDict()->context());
    write({{"M", string}});
}

void KVPDFAnnotationFreeText::setName(const QString &name)
{
    m_name = name;
    write({{"NM", textString(name, nullptr)}});
}

void KVPDFAnnotationFreeText::setSubject(const QString &subject)
{
    m_subject = subject;
    write({{"Subj", textString(subject, nullptr)}});
}

void KVPDFAnnotationFreeText::writeBorderStyle()
{
    const QByteArray style = m_strokePattern.empty() ? QByteArrayLiteral("S") : QByteArrayLiteral("D");
    write({{"BS", KVPDFAnnotationShape::makeBorderStyleDict(style, m_strokeWidth, m_strokePattern)}}, true);
}

void KVPDFAnnotationFreeText::setStrokeWidth(float width)
{
    m_strokeWidth = width;
    writeBorderStyle();
}

void KVPDFAnnotationFreeText::setStrokePattern(const std::vector<double> &pattern)
{
    m_strokePattern.clear();
    for (double length : pattern)
        m_strokePattern.push_back(double(float(length)));
    writeBorderStyle();
}

// ---- DA and DS ---------------------------------------------------------------------------

void KVPDFAnnotationFreeText::updateDA()
{
    if (m_fontName.isEmpty() || m_fontSize == 0)
        return;
    QByteArray da;
    if (m_borderColor) {
        for (float component : rgbOf(*m_borderColor))
            da += kvFormatFixed(component, 3) + ' ';
        da += "rg ";
    }
    da += KVPDFObjectName::escapedName(m_fontName.toUtf8()) + ' ' + kvFormatFixed(m_fontSize, 2) + " Tf";
    write({{"DA", KVPDFObjectString::stringWithData(da)}});
}

void KVPDFAnnotationFreeText::updateDS()
{
    const auto rgb = rgbOf(m_textColor);
    const QString ds = QStringLiteral("font: ") + m_fontName + QStringLiteral(",sans-serif ")
                       + QString::fromLatin1(kvFormatFixed(m_fontSize, 2)) + QStringLiteral("pt; text-align:left; color:#")
                       + QString::fromLatin1(hexByte(rgb[0]) + hexByte(rgb[1]) + hexByte(rgb[2]));
    write({{"DS", textString(ds, nullptr)}});
}

KVPDFAnnotationFreeText::DA KVPDFAnnotationFreeText::parseDA(const QString &daText)
{
    DA result;
    const QByteArray da = daText.toLatin1();
    struct Operator {
        QByteArray text;
        int operands;
    };
    for (const Operator &op : {Operator{" g", 1}, Operator{" rg", 3}, Operator{" k", 4}}) {
        const qsizetype at = operatorAt(da, op.text);
        if (at < 0)
            continue;
        std::vector<float> values(size_t(op.operands), 0.0f);
        qsizetype end = at;
        bool ok = true;
        for (int i = op.operands - 1; i >= 0 && ok; --i) {
            const qsizetype blank = end > 0 ? da.lastIndexOf(' ', end - 1) : -1;
            const std::optional<double> value = numberAt(da, blank + 1);
            ok = value && blank + 1 < end;
            if (ok)
                values[size_t(i)] = float(*value);
            end = blank;
        }
        if (ok) {
            if (op.operands == 1)
                result.color = KVColor::gray(values[0]);
            else if (op.operands == 3)
                result.color = KVColor::rgb(values[0], values[1], values[2]);
            else
                result.color = KVColor::cmyk(values[0], values[1], values[2], values[3]);
        }
        break;
    }
    const qsizetype tf = operatorAt(da, " Tf");
    if (tf >= 0) {
        const qsizetype slash = da.lastIndexOf('/', tf);
        if (slash >= 0) {
            qsizetype blank = slash + 1;
            while (blank < tf && !isBlank(da[blank]))
                ++blank;
            const QString name = decodedName(da.mid(slash + 1, blank - slash - 1));
            if (!name.isEmpty()) {
                result.fontName = KVPDFFont::regularName(name);
                result.fontSize = float(numberAt(da, blank + 1).value_or(0));
                if (!std::isfinite(result.fontSize))
                    result.fontSize = 0;
            }
        }
    }
    return result;
}

// ---- The appearance ----------------------------------------------------------------------

void KVPDFAnnotationFreeText::update(const Edit *edit)
{
    if (edit) {
        if (edit->text != m_contents) {
            setContents(edit->text.isNull() ? QString(QLatin1String("")) : edit->text);
            setModifiedNow();
        }
        if (!edit->fontName.isEmpty())
            m_fontName = edit->fontName;
        if (std::isfinite(edit->fontSize) && edit->fontSize > 0)
            m_fontSize = float(edit->fontSize);
    }
    updateDA();
    updateDS();

    const std::shared_ptr<KVPDFDocument> &rendering = document();
    if (!rendering) {
        kvLog(QStringLiteral("Free-text box has no rendering; its appearance stays"));
        return;
    }
    std::optional<kvpdf::fieldappearance::Rendering> read = kvpdf::fieldappearance::fromRendering(*rendering, kFontResource);
    if (!read) {
        kvLog(QStringLiteral("Free-text box: the rendering cannot be read; its appearance stays"));
        return;
    }
    m_subs = read->subobjects;
    updateAppearance(read->content, read->mediaBox, read->resources);
}

void KVPDFAnnotationFreeText::updateAppearance(const QByteArray &content, const QRectF &mediaBox, const Dictionary &resources)
{
    KVPDFDocument *document = annotDict() ? kvpdf::documentOf(*annotDict()) : nullptr;
    const QByteArray eol = document ? document->EOL() : QByteArrayLiteral("\n");
    const QRectF box = rect();
    QByteArray data = "q 1 0 0 1 " + kvFormatFixed(box.x()) + ' ' + kvFormatFixed(box.y()) + " cm" + eol;
    // A rendering of another size than the box is fitted into it.
    if (mediaBox.isValid() && box.width() > 0 && box.height() > 0 && mediaBox != QRectF(QPointF(0, 0), box.size())) {
        const double sx = box.width() / mediaBox.width();
        const double sy = box.height() / mediaBox.height();
        data += kvFormatFixed(sx) + " 0 0 " + kvFormatFixed(sy) + ' ' + kvFormatFixed(-mediaBox.x() * sx) + ' '
                + kvFormatFixed(-mediaBox.y() * sy) + " cm" + eol;
    }
    // The content keeps its line ends: a comment in it must not swallow what follows.
    data += content + eol + "Q" + eol;

    auto stream = KVPDFObjectStream::streamByDeflatingData(data);
    Dictionary formResources = resources ? resources : std::make_shared<KVPDFObjectDictionary>();
    formResources->setObject("ProcSet", KVPDFObjectArray::arrayWithArray(
                                            {KVPDFObjectName::nameWithBytes("PDF"), KVPDFObjectName::nameWithBytes("Text")}));
    const Dictionary &dictionary = stream->dictionary();
    dictionary->setObject("BBox", arrayForRect(box));
    dictionary->setObject("Matrix", arrayForTransform(QTransform::fromTranslate(-box.x(), -box.y())));
    dictionary->setObject("Type", KVPDFObjectName::nameWithBytes("XObject"));
    dictionary->setObject("Subtype", KVPDFObjectName::nameWithBytes("Form"));
    dictionary->setObject("FormType", KVPDFObjectInteger::integerWithLongLong(1));
    dictionary->setObject("Resources", formResources);

    auto appearance = KVPDFObjectDictionary::dictionaryWithDictionary({{"N", KVPDFObjectReference::referenceWithObject(stream)}});
    Entries values = entries();
    resetAppearance(values);
    values.emplace_back("AP", appearance);
    auto quadding = std::find_if(values.begin(), values.end(), [](const auto &entry) { return entry.first == "Q"; });
    if (quadding != values.end())
        quadding->second = KVPDFObjectInteger::integerWithLongLong(m_quadding);
    else
        values.emplace_back("Q", KVPDFObjectInteger::integerWithLongLong(m_quadding));
    storeEntries(std::move(values));
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationFreeText::copy() const
{
    // The dictionary copy carries every key and the appearance already; going through the
    // setters would drop the appearance (BS) and leave the copy blank until it is drawn again.
    std::shared_ptr<KVPDFAnnotationFreeText> box(new KVPDFAnnotationFreeText());
    copyAnnotationInto(*box);
    box->m_contents = m_contents;
    box->m_title = m_title;
    box->m_fillColor = m_fillColor;
    box->m_borderColor = m_borderColor;
    box->m_textColor = m_textColor;
    box->m_alpha = m_alpha;
    box->m_fontName = m_fontName;
    box->m_fontSize = m_fontSize;
    box->m_modified = m_modified;
    box->m_name = m_name;
    box->m_subject = m_subject;
    box->m_quadding = m_quadding;
    box->m_strokeWidth = m_strokeWidth;
    box->m_strokePattern = m_strokePattern;
    box->m_subs = m_subs;
    return box;
}
