#include "KVPDFAnnotationWidgetText.h"

#include "KVColor.h"
#include "KVPDFAnnotationShape.h"
#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFFieldAppearance.h"
#include "KVPDFFont.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFOperandText.h"
#include "KVPDFPage.h"
#include "KVRTFReader.h"
#include "KVSystemFont.h"

#include <cmath>
#include <set>
#include <unordered_set>

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;
using Entries = std::vector<std::pair<QByteArray, KVPDFObjectPtr>>;

// A hostile file can make any read raise; a key that cannot be read counts as absent.
KVPDFObjectPtr readKey(const Dictionary &dictionary, QByteArrayView key)
{
    return kvReadableEntry(dictionary, key, u"Text field");
}

Dictionary dictionaryFor(const Dictionary &dictionary, QByteArrayView key)
{
    return kv_cast<KVPDFObjectDictionary>(readKey(dictionary, key));
}

// The form dictionary of the document `dictionary` belongs to.
Dictionary acroFormOf(const KVPDFObjectDictionary *dictionary)
{
    KVPDFDocument *document = dictionary ? kvpdf::documentOf(*dictionary) : nullptr;
    return document ? dictionaryFor(document->rootObject(), "AcroForm") : nullptr;
}

std::optional<double> finiteNumber(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// DA tokens: runs of characters between blanks; "/" starts a name even without a blank.
struct DAToken {
    qsizetype begin;
    qsizetype end;
};

std::vector<DAToken> daTokens(const QString &da)
{
    std::vector<DAToken> tokens;
    qsizetype i = 0;
    const qsizetype size = da.size();
    while (i < size) {
        if (da[i].isSpace()) {
            ++i;
            continue;
        }
        const qsizetype start = i++;
        while (i < size && !da[i].isSpace() && da[i] != QLatin1Char('/'))
            ++i;
        tokens.push_back({start, i});
    }
    return tokens;
}

// A range extended by one blank after it, as rewrites replace the blank with the part.
KVPDFAnnotationWidgetText::Range rangeWithBlank(const QString &da, qsizetype begin, qsizetype end)
{
    if (end < da.size() && da[end] == QLatin1Char(' '))
        ++end;
    return {begin, end - begin};
}

KVPDFAnnotationWidgetText::Range emptyRange(const QString &da)
{
    return {0, da.startsWith(QLatin1Char(' ')) ? 1 : 0};
}

QString replaced(const QString &text, const KVPDFAnnotationWidgetText::Range &range, const QString &with)
{
    const qsizetype location = std::clamp<qsizetype>(range.location, 0, text.size());
    const qsizetype length = std::clamp<qsizetype>(range.length, 0, text.size() - location);
    return text.left(location) + with + text.mid(location + length);
}

QString numberText(double value) { return QString::fromLatin1(kvpdf::operandText(value)); }

QColor rgbOf(const KVColor &color) { return color.toQColor(); }

KVPDFObjectPtr rgbArray(const KVColor &color)
{
    const QColor rgb = rgbOf(color);
    return KVPDFObjectArray::arrayWithArray({KVPDFObjectReal::realWithFloat(float(rgb.redF())),
                                             KVPDFObjectReal::realWithFloat(float(rgb.greenF())),
                                             KVPDFObjectReal::realWithFloat(float(rgb.blueF()))});
}

// The font a DA names, or the system font that stands for it: "Helv" is Helvetica.
std::shared_ptr<KVSystemFont> systemFont(const QString &name, double size)
{
    return KVSystemFont::fontWithName(name.isEmpty() ? QStringLiteral("Helvetica") : name, size > 0 ? size : 12.0);
}

// Every full name of the form's field tree (T joined by "."), walked without cycles.
void collectNames(const Dictionary &field, const QString &prefix, std::set<QString> &names,
                  std::unordered_set<const KVPDFObject *> &seen, int depth)
{
    if (!field || depth > KVPDFAnnotationWidget::kMaxAncestors || !seen.insert(field.get()).second)
        return;
    QString name = prefix;
    if (auto t = kv_cast<KVPDFObjectString>(readKey(field, "T"))) {
        name = prefix.isEmpty() ? t->stringValue() : prefix + QLatin1Char('.') + t->stringValue();
        names.insert(name);
    }
    auto kids = kv_cast<KVPDFObjectArray>(readKey(field, "Kids"));
    for (size_t i = 0; kids && i < kids->count(); ++i) {
        KVPDFObjectPtr kid;
        try {
            kid = kids->resolvedObjectAtIndex(i);
        } catch (const FolivoException &) {
            continue;
        }
        collectNames(kv_cast<KVPDFObjectDictionary>(kid), name, names, seen, depth + 1);
    }
}
}

// ---- Creation and loading ----------------------------------------------------------------

std::shared_ptr<KVPDFAnnotationWidgetText> KVPDFAnnotationWidgetText::imprintWithData(const QByteArray &data, QPointF location,
                                                                                     KVPDFPage *page)
{
    auto field = std::make_shared<KVPDFAnnotationWidgetText>();
    KVPDFOpenResult result = KVPDFOpenOK;
    std::shared_ptr<KVPDFDocument> rendering = KVPDFDocument::documentWithData(data, &result);
    field->setDocument(rendering);
    QSizeF size;
    if (std::shared_ptr<KVPDFPage> first = rendering ? rendering->pageAtIndex(0) : nullptr)
        size = first->mediaBox().size();
    field->storeEntries({
        {"Type", KVPDFObjectName::nameWithBytes("Annot")},
        {"Subtype", KVPDFObjectName::nameWithBytes("Widget")},
        {"F", KVPDFObjectInteger::integerWithLongLong(1 << (FlagPrint - 1))},
    });
    field->KVPDFImprint::setLocation(location);
    field->setSize(size);
    field->setFieldName(freeFieldName(page));
    if (page)
        field->setPage(page->weak_from_this());
    return field;
}

KVPDFAnnotationWidgetText::KVPDFAnnotationWidgetText()
{
    storeEntries({
        {"Type", KVPDFObjectName::nameWithBytes("Annot")},
        {"Subtype", KVPDFObjectName::nameWithBytes("Widget")},
        {"FT", KVPDFObjectName::nameWithBytes("Tx")},
    });
    setFieldType("Tx");
}

KVPDFAnnotationWidgetText::KVPDFAnnotationWidgetText(const Dictionary &dictionary, KVPDFPage *page)
    : KVPDFAnnotationWidget(dictionary, page)
{
    const Dictionary &widget = annotDict();
    const Dictionary field = fieldDictionary() ? fieldDictionary() : widget;
    Dictionary resources = dictionaryFor(field, "DR");
    if (!resources)
        resources = dictionaryFor(acroFormOf(widget.get()), "DR");
    setResources(resources);

    // Q is inherited, from the fields above and then from the form: a save writes it into the
    // field, so it must be the one in force.
    KVPDFObjectPtr q = readKey(field, "Q");
    std::unordered_set<const KVPDFObject *> seen{field.get(), widget.get()};
    Dictionary ancestor = fieldAncestor();
    for (int depth = 0; !q && ancestor && depth < kMaxAncestors && seen.insert(ancestor.get()).second; ++depth) {
        q = readKey(ancestor, "Q");
        ancestor = dictionaryFor(ancestor, "Parent");
    }
    if (!q)
        q = readKey(acroFormOf(widget.get()), "Q");
    if (q && q->objectType() == KVPDFObject::TypeInteger)
        m_quadding = uint64_t(std::clamp<int64_t>(q->longLongValue(), 0, 2));
    // Read, not written: MaxLen stays where the file has it until the field is saved.
    if (KVPDFObjectPtr maxLength = readKey(field, "MaxLen"); maxLength && maxLength->objectType() == KVPDFObject::TypeInteger)
        m_maxLength = uint64_t(std::max<int64_t>(maxLength->longLongValue(), 0));

    Dictionary borderStyle = dictionaryFor(widget, "BS");
    if (!borderStyle)
        borderStyle = dictionaryFor(field, "BS");
    if (borderStyle) {
        readBorderStyle(borderStyle);
    } else if (auto mk = dictionaryFor(widget, "MK"); mk && readKey(mk, "BC")) {
        // Without BS a border is 1 point wide; MK BC stays, as it is what viewers draw it with.
        m_strokeWidth = 1.0;
    }
    // AP and DR stay as read: a field saved without a new rendering keeps its appearance.
}

KVPDFAnnotationWidgetText::~KVPDFAnnotationWidgetText() = default;

QString KVPDFAnnotationWidgetText::freeFieldName(KVPDFPage *page)
{
    std::set<QString> names;
    KVPDFDocument *document = page ? page->document() : nullptr;
    if (document) {
        std::unordered_set<const KVPDFObject *> seen;
        if (auto fields = kv_cast<KVPDFObjectArray>(readKey(dictionaryFor(document->rootObject(), "AcroForm"), "Fields")))
            for (size_t i = 0; i < fields->count(); ++i) {
                try {
                    collectNames(kv_cast<KVPDFObjectDictionary>(fields->resolvedObjectAtIndex(i)), QString(), names, seen, 0);
                } catch (const FolivoException &) {
                }
            }
        // Fields made in this session are on pages, not yet in the form.
        for (const auto &each : document->pages())
            if (each)
                for (const auto &annotation : each->widgets())
                    if (auto widget = std::dynamic_pointer_cast<KVPDFAnnotationWidget>(annotation))
                        names.insert(widget->fieldName());
    }
    for (int n = 1;; ++n) {
        const QString name = QStringLiteral("TextField%1").arg(n);
        if (!names.count(name))
            return name;
    }
}

// ---- Plain properties --------------------------------------------------------------------

void KVPDFAnnotationWidgetText::writeEntry(QByteArrayView key, const KVPDFObjectPtr &value)
{
    Entries values = entries();
    std::erase_if(values, [&](const auto &entry) { return entry.first == key; });
    if (value)
        values.emplace_back(key.toByteArray(), value);
    storeEntries(std::move(values));
}

void KVPDFAnnotationWidgetText::setJustification(int quadding)
{
    m_quadding = uint64_t(std::clamp(quadding, 0, 2));
}

void KVPDFAnnotationWidgetText::setMaxLength(uint64_t length)
{
    m_maxLength = length;
    writeEntry("MaxLen", length ? KVPDFObjectInteger::integerWithLongLong(int64_t(std::min<uint64_t>(length, INT64_MAX)))
                                : nullptr);
}

void KVPDFAnnotationWidgetText::setDefaultValue(const QString &text)
{
    auto string = KVPDFObjectString::stringWithString(text);
    if (annotDict())
        string->setContext(annotDict()->context());
    KVPDFAnnotationWidget::setDefaultValue(string);
}

// ---- Border and colours ------------------------------------------------------------------

void KVPDFAnnotationWidgetText::dropAppearance()
{
    Entries values = entries();
    resetAppearance(values);
    storeEntries(std::move(values));
    setAppearance(nullptr);
    m_builtResources.reset();
}

void KVPDFAnnotationWidgetText::setStrokeWidth(double width)
{
    m_strokeWidth = std::isfinite(width) ? width : 0.0;
    if (m_strokeWidth > 0) {
        writeBorderStyle();
    } else {
        writeEntry("BS", nullptr);
        setColor(std::nullopt);
    }
    dropAppearance();
}

void KVPDFAnnotationWidgetText::setStrokePattern(const std::vector<double> &pattern)
{
    m_strokePattern = pattern;
    writeBorderStyle();
    dropAppearance();
}

void KVPDFAnnotationWidgetText::readBorderStyle(const Dictionary &borderStyle)
{
    float width = 1;
    KVPDFAnnotationShape::extractStrokeFromBorderStyleDict(borderStyle, nullptr, &width, &m_strokePattern);
    m_strokeWidth = width;
}

void KVPDFAnnotationWidgetText::writeBorderStyle()
{
    writeEntry("BS", KVPDFAnnotationShape::makeBorderStyleDict(m_strokePattern.empty() ? "S" : "D", float(m_strokeWidth),
                                                               m_strokePattern));
}

std::optional<KVColor> KVPDFAnnotationWidgetText::color() const
{
    auto mk = dictionaryFor(annotDict(), "MK");
    return mk ? colorFromArray(readKey(mk, "BC")) : std::nullopt;
}

namespace {
void setMKColor(KVPDFAnnotationWidgetText &field, const Dictionary &widget, const char *key, const std::optional<KVColor> &color)
{
    (void)field;
    if (!widget)
        return;
    Dictionary mk = dictionaryFor(widget, "MK");
    if (!mk) {
        if (!color || !color->isValid())
            return;
        mk = std::make_shared<KVPDFObjectDictionary>();
        widget->setObject("MK", mk);
    }
    if (color && color->isValid())
        mk->setObject(key, rgbArray(*color));
    else
        mk->removeObjectForKey(key);
}
}

void KVPDFAnnotationWidgetText::setColor(const std::optional<KVColor> &color)
{
    if (!annotDict())
        storeEntries({});
    setMKColor(*this, annotDict(), "BC", color);
}

std::optional<KVColor> KVPDFAnnotationWidgetText::fillColor() const { return KVPDFAnnotationWidget::fillColor(); }

void KVPDFAnnotationWidgetText::setFillColor(const std::optional<KVColor> &color)
{
    if (!annotDict())
        storeEntries({});
    setMKColor(*this, annotDict(), "BG", color);
}

// ---- DA ----------------------------------------------------------------------------------

QString KVPDFAnnotationWidgetText::defaultAppearance() const
{
    const Dictionary &widget = annotDict();
    if (auto own = kv_cast<KVPDFObjectString>(readKey(widget, "DA")))
        return own->stringValue();
    // The widget's Parent chain: the field dictionary and the fields above it.
    std::unordered_set<const KVPDFObject *> seen{widget.get()};
    Dictionary ancestor = parent();
    for (int depth = 0; ancestor && depth < kMaxAncestors && seen.insert(ancestor.get()).second; ++depth) {
        if (auto inherited = kv_cast<KVPDFObjectString>(readKey(ancestor, "DA")))
            return inherited->stringValue();
        ancestor = dictionaryFor(ancestor, "Parent");
    }
    if (auto form = kv_cast<KVPDFObjectString>(readKey(acroFormOf(widget.get()), "DA")))
        return form->stringValue();
    return QString();
}

void KVPDFAnnotationWidgetText::parseDA(const QString &da, QString *font, double *size, std::optional<KVColor> *color)
{
    const std::vector<DAToken> tokens = daTokens(da);
    auto text = [&](const DAToken &token) { return da.mid(token.begin, token.end - token.begin); };

    // Colour: gray before RGB before CMYK, whatever their order in the text.
    m_daColorRange = emptyRange(da);
    for (const auto &[op, count] : {std::pair<const char *, size_t>{"g", 1}, {"rg", 3}, {"k", 4}}) {
        size_t at = 0;
        while (at < tokens.size() && text(tokens[at]) != QLatin1String(op))
            ++at;
        if (at == tokens.size())
            continue;
        std::vector<double> operands;
        size_t first = at;
        while (first > 0 && operands.size() < count) {
            const std::optional<double> number = finiteNumber(text(tokens[first - 1]));
            if (!number)
                break;
            operands.insert(operands.begin(), *number);
            --first;
        }
        // The operator and what it has of its operands are replaced by a rewrite, so a broken
        // colour never stays beside a new one.
        m_daColorRange = rangeWithBlank(da, tokens[first].begin, tokens[at].end);
        if (color && operands.size() == count) {
            auto unit = [](double v) { return float(std::clamp(v, 0.0, 1.0)); };
            if (count == 1)
                *color = KVColor::gray(unit(operands[0]));
            else if (count == 3)
                *color = KVColor::rgb(unit(operands[0]), unit(operands[1]), unit(operands[2]));
            else
                *color = KVColor::cmyk(unit(operands[0]), unit(operands[1]), unit(operands[2]), unit(operands[3]));
        }
        break;
    }

    m_daFontRange = emptyRange(da);
    m_daFontResource.clear();
    if (!font)
        return;
    size_t tf = 0;
    while (tf < tokens.size() && text(tokens[tf]) != QLatin1String("Tf"))
        ++tf;
    if (tf < 2 || tf == tokens.size())
        return;
    const QString name = text(tokens[tf - 2]);
    const std::optional<double> fontSize = finiteNumber(text(tokens[tf - 1]));
    if (!name.startsWith(QLatin1Char('/')) || name.size() < 2 || !fontSize)
        return;
    m_daFontResource = name.mid(1);
    m_fontName = KVPDFFont::regularName(m_daFontResource);
    m_fontSize = std::max(*fontSize, 0.0);
    if (m_fontSize == 0)
        m_sizeToFit = true;
    *font = m_fontName;
    if (size)
        *size = m_fontSize;
    m_daFontRange = rangeWithBlank(da, tokens[tf - 2].begin, tokens[tf].end);
}

void KVPDFAnnotationWidgetText::getFontName(QString *font, double *size, std::optional<KVColor> *color)
{
    if (color)
        color->reset();
    const QString da = defaultAppearance();
    if (da.isNull()) {
        m_daColorRange = {};
        m_daFontRange = {};
        return;
    }
    parseDA(da, font, size, color);
}

void KVPDFAnnotationWidgetText::writeDA(const QString &da)
{
    auto string = KVPDFObjectString::stringWithString(da);
    if (annotDict())
        string->setContext(annotDict()->context());
    writeEntry("DA", string);
}

QString KVPDFAnnotationWidgetText::writeDAFont(const QString &da, const QString &name, double size)
{
    const std::shared_ptr<KVSystemFont> font = systemFont(name, size);
    const QString resource = QString::fromLatin1(KVPDFFont::abbreviatedNameForFont(*font)->bytes());
    const QString part = QLatin1Char('/') + resource + QLatin1Char(' ') + numberText(m_sizeToFit ? 0.0 : font->size())
                         + QStringLiteral(" Tf ");
    const QString written = replaced(da, m_daFontRange, part);
    writeDA(written);
    m_fontName = font->fullName();
    m_fontSize = font->size();
    return written;
}

// ---- Value and appearance ----------------------------------------------------------------

namespace {
// The text "textData" holds, nullopt when there is none or it is not rich text.
std::optional<KVRTFText> storedText(const KVPDFImprint &imprint)
{
    const QVariant data = imprint.dictionary().value(QStringLiteral("textData"));
    if (!data.isValid())
        return std::nullopt;
    return KVRTFReader::read(data.toByteArray());
}
}

void KVPDFAnnotationWidgetText::setValueFromTextData()
{
    const std::optional<KVRTFText> text = storedText(*this);
    if (!text)
        return;
    auto string = KVPDFObjectString::stringWithString(text->plainText);
    if (annotDict())
        string->setContext(annotDict()->context());
    setValue(string);
}

void KVPDFAnnotationWidgetText::update(const TextView *view)
{
    const std::optional<KVRTFText> text = storedText(*this);
    setValueFromTextData();

    QString da = defaultAppearance();
    if (da.isNull())
        da = QString();
    QString scratchFont;
    double scratchSize = 0;
    std::optional<KVColor> scratchColor;
    parseDA(da, &scratchFont, &scratchSize, &scratchColor);

    std::optional<KVColor> textColor;
    QString textFont;
    double textSize = 0;
    if (text && !text->plainText.isEmpty()) {
        textColor = text->color;
        textFont = text->fontName;
        textSize = text->fontSize;
    } else if (view) {
        textColor = view->textColor;
        textFont = view->fontName;
        textSize = view->fontSize;
    }

    if (textColor && textColor->isValid()) {
        const QColor rgb = rgbOf(*textColor);
        const QString part = numberText(rgb.redF()) + QLatin1Char(' ') + numberText(rgb.greenF()) + QLatin1Char(' ')
                             + numberText(rgb.blueF()) + QStringLiteral(" rg ");
        da = replaced(da, m_daColorRange, part);
        writeDA(da);
        parseDA(da, &scratchFont, &scratchSize, &scratchColor);
    }

    const bool hasTextFont = !textFont.isEmpty();
    const bool rewrite = (hasTextFont && (textFont != m_fontName || textSize != m_fontSize))
                         || (!hasTextFont && !m_fontName.isEmpty()) || m_sizeToFit;
    if (rewrite) {
        da = writeDAFont(da, hasTextFont ? textFont : m_fontName, hasTextFont ? textSize : m_fontSize);
        parseDA(da, &scratchFont, &scratchSize, &scratchColor);
    }

    buildFromRendering(m_daFontResource.toLatin1());
    m_updatedOnce = true;
}

void KVPDFAnnotationWidgetText::setFontName(const QString &name, double size)
{
    (void)name; // the font panel records the name through setFontName(name) first
    QString da = defaultAppearance();
    if (da.isNull())
        da = QString();
    QString scratchFont;
    double scratchSize = 0;
    parseDA(da, &scratchFont, &scratchSize, nullptr);
    da = writeDAFont(da, m_fontName, size);
    parseDA(da, &scratchFont, &scratchSize, nullptr);
    setValueFromTextData();
    buildFromRendering(m_daFontResource.toLatin1());
    m_updatedOnce = true;
}

void KVPDFAnnotationWidgetText::buildFromRendering(const QByteArray &resourceName)
{
    const std::shared_ptr<KVPDFDocument> &rendering = document();
    if (!rendering) {
        kvLog(QStringLiteral("Text field %1 has no rendering; its appearance stays").arg(fieldName()));
        return;
    }
    // Without a font part in DA the field font keeps the name the rendering gave it.
    std::optional<kvpdf::fieldappearance::Rendering> read = kvpdf::fieldappearance::fromRendering(*rendering, resourceName);
    if (!read) {
        kvLog(QStringLiteral("Text field %1: the rendering cannot be read; its appearance stays").arg(fieldName()));
        return;
    }
    m_subs = read->subobjects;
    updateAppearance(read->content, read->mediaBox, read->resources);

    // DR names the DA font, so a viewer that draws the field anew finds it.
    const Dictionary &current = resources();
    auto withFont = current ? kv_cast<KVPDFObjectDictionary>(current->copy()) : std::make_shared<KVPDFObjectDictionary>();
    if (!resourceName.isEmpty()) {
        Dictionary fonts = dictionaryFor(withFont, "Font");
        fonts = fonts ? kv_cast<KVPDFObjectDictionary>(fonts->copy()) : std::make_shared<KVPDFObjectDictionary>();
        if (!fonts->objectForKey(resourceName)) {
            const QString name = QString::fromLatin1(resourceName);
            fonts->setObject(resourceName, KVPDFObjectReference::referenceWithObject(
                                               KVPDFFont::fontWithName(name, KVPDFFont::regularName(name))));
        }
        withFont->setObject("Font", fonts);
    }
    m_builtResources = withFont;
}

void KVPDFAnnotationWidgetText::updateAppearance(const QByteArray &content, const QRectF &mediaBox,
                                                 const std::shared_ptr<KVPDFObjectDictionary> &resources)
{
    writeEntry("Q", KVPDFObjectInteger::integerWithLongLong(int64_t(m_quadding)));

    std::optional<KVColor> daColor;
    getFontName(nullptr, nullptr, &daColor);
    kvpdf::fieldappearance::Colors colors;
    colors.text = daColor ? *daColor : KVColor::gray(0);
    colors.background = fillColor();
    colors.border = color();

    KVPDFDocument *document = annotDict() ? kvpdf::documentOf(*annotDict()) : nullptr;
    const QByteArray eol = document ? document->EOL() : QByteArrayLiteral("\n");
    const QSizeF box = size();
    QByteArray data = "/Tx BMC" + eol + "q" + eol;
    // The rendering's page maps onto the widget's box.
    if (mediaBox.isValid() && box.width() > 0 && box.height() > 0 && mediaBox != QRectF(QPointF(0, 0), box)) {
        const double sx = box.width() / mediaBox.width();
        const double sy = box.height() / mediaBox.height();
        data += kvpdf::operandText(sx) + " 0 0 " + kvpdf::operandText(sy) + ' ' + kvpdf::operandText(-mediaBox.x() * sx)
                + ' ' + kvpdf::operandText(-mediaBox.y() * sy) + " cm" + eol;
    }
    data += kvpdf::fieldappearance::recolor(content, colors);
    data += eol + "Q" + eol + "EMC" + eol;

    auto stream = KVPDFObjectStream::streamByDeflatingData(data);
    auto formResources = resources ? resources : std::make_shared<KVPDFObjectDictionary>();
    formResources->setObject("ProcSet", KVPDFObjectArray::arrayWithArray({KVPDFObjectName::nameWithBytes("PDF"),
                                                                          KVPDFObjectName::nameWithBytes("Text")}));
    const Dictionary &dictionary = stream->dictionary();
    dictionary->setObject("BBox", arrayForRect(QRectF(QPointF(0, 0), box)));
    dictionary->setObject("Matrix", arrayForTransform(QTransform()));
    dictionary->setObject("Type", KVPDFObjectName::nameWithBytes("XObject"));
    dictionary->setObject("Subtype", KVPDFObjectName::nameWithBytes("Form"));
    dictionary->setObject("FormType", KVPDFObjectInteger::integerWithLongLong(1));
    dictionary->setObject("Resources", formResources);

    auto appearance = KVPDFObjectDictionary::dictionaryWithDictionary({{"N", KVPDFObjectReference::referenceWithObject(stream)}});
    Entries values = entries();
    resetAppearance(values);
    values.emplace_back("AP", appearance);
    storeEntries(std::move(values));
    setAppearance(appearance);
}

std::shared_ptr<KVPDFObjectDictionary> KVPDFAnnotationWidgetText::resourcesForWriting() const { return m_builtResources; }

// ---- Saving and copies -------------------------------------------------------------------

std::shared_ptr<KVPDFObjectDictionary> KVPDFAnnotationWidgetText::makeField() const
{
    Dictionary field = KVPDFAnnotationWidget::makeField();
    field->setObject("FT", KVPDFObjectName::nameWithBytes("Tx"));
    if (m_maxLength)
        field->setObject("MaxLen", KVPDFObjectInteger::integerWithLongLong(int64_t(std::min<uint64_t>(m_maxLength, INT64_MAX))));
    field->setObject("Q", KVPDFObjectInteger::integerWithLongLong(int64_t(m_quadding)));
    return field;
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationWidgetText::copy() const
{
    auto field = std::make_shared<KVPDFAnnotationWidgetText>();
    copyWidgetInto(*field);
    field->setJustification(justification());
    field->m_maxLength = m_maxLength;
    field->m_fontName = m_fontName;
    field->m_fontSize = m_fontSize;
    field->m_sizeToFit = m_sizeToFit;
    field->m_strokePattern = m_strokePattern;
    field->m_daFontResource = m_daFontResource;
    field->setStrokeWidth(m_strokeWidth);
    return field;
}
