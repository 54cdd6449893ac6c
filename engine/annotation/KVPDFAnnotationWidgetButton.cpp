#include "KVPDFAnnotationWidgetButton.h"

#include "KVColor.h"
#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFFieldAppearance.h"
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

#include <QBuffer>
#include <QCoreApplication>
#include <QFont>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <cmath>

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;
using Entries = std::vector<std::pair<QByteArray, KVPDFObjectPtr>>;

// A hostile file can make any read raise; a key that cannot be read counts as absent.
KVPDFObjectPtr readKey(const KVPDFObjectPtr &dictionary, QByteArrayView key)
{
    return kvReadableEntry(dictionary, key, u"Button");
}

Dictionary dictionaryFor(const KVPDFObjectPtr &dictionary, QByteArrayView key)
{
    return kv_cast<KVPDFObjectDictionary>(readKey(dictionary, key));
}

// The states of an AP entry: the dictionary itself, or a stream's dictionary.
Dictionary statesOf(const KVPDFObjectPtr &entry)
{
    if (auto stream = kv_cast<KVPDFObjectStream>(entry))
        return stream->dictionary();
    return kv_cast<KVPDFObjectDictionary>(entry);
}

Dictionary acroFormOf(const KVPDFObjectDictionary *dictionary)
{
    KVPDFDocument *document = dictionary ? kvpdf::documentOf(*dictionary) : nullptr;
    return document ? dictionaryFor(document->rootObject(), "AcroForm") : nullptr;
}

// The art is drawn in the unit square with y running from 0 down to -1.
const char kCheckBoxArt[] = "f\n0.05 w 4 M 0 j 0 J []0 d \n0.84277 -0.04297 m\n0.84277 -0.04297 0.04297 -0.04297 0.04297 -0.04297 c\n"
                            "0.04297 -0.04297 0.04297 -0.84277 0.04297 -0.84277 c\n0.04297 -0.84277 0.84277 -0.84277 0.84277 -0.84277 c\n"
                            "0.84277 -0.84277 0.84277 -0.04297 0.84277 -0.04297 c\nh\nS\n";
const char kRadioArt[] = "0.05 w 4 M 0 j 0 J []0 d \n0.95557 -0.5 m\n0.95557 -0.24805 0.75195 -0.04443 0.5 -0.04443 c\n"
                         "0.24805 -0.04443 0.04443 -0.24805 0.04443 -0.5 c\n0.04443 -0.75195 0.24805 -0.95557 0.5 -0.95557 c\n"
                         "0.75195 -0.95557 0.95557 -0.75195 0.95557 -0.5 c\nh\nS\n";
const char kRadioDot[] = "0.75 -0.5 m\n0.75 -0.36182 0.63818 -0.25 0.5 -0.25 c\n0.36182 -0.25 0.25 -0.36182 0.25 -0.5 c\n"
                         "0.25 -0.63818 0.36182 -0.75 0.5 -0.75 c\n0.63818 -0.75 0.75 -0.63818 0.75 -0.5 c\nh\nf";
// Ends without a painting operator: the box art's leading "f" fills it.
const char kCheckMark[] =
    "0.9502 -0.96338 m\n0.84229 -0.84326 0.74219 -0.72021 0.64795 -0.5918 c\n0.55469 -0.46387 0.46826 -0.33252 0.38916 -0.19727 c\n"
    "0.38379 -0.1875 0.37598 -0.17383 0.36719 -0.15576 c\n0.34082 -0.10156 0.30176 -0.07471 0.25244 -0.07471 c\n"
    "0.23096 -0.07471 0.21338 -0.07764 0.2002 -0.08447 c\n0.18652 -0.09033 0.17383 -0.10059 0.16211 -0.1167 c\n"
    "0.15283 -0.12988 0.14307 -0.14697 0.13525 -0.16797 c\n0.12744 -0.18994 0.11719 -0.22119 0.10645 -0.2627 c\n"
    "0.10547 -0.26514 0.104 -0.26807 0.10352 -0.27197 c\n0.09033 -0.31787 0.08447 -0.34668 0.08447 -0.3584 c\n"
    "0.08447 -0.38184 0.09814 -0.40381 0.12549 -0.42334 c\n0.15332 -0.44336 0.18066 -0.45313 0.20752 -0.45313 c\n"
    "0.21631 -0.45313 0.22314 -0.45068 0.22852 -0.4458 c\n0.23438 -0.43994 0.24023 -0.42871 0.24756 -0.41211 c\n"
    "0.25195 -0.40137 0.25684 -0.3877 0.2627 -0.36963 c\n0.27734 -0.32959 0.28906 -0.31006 0.29834 -0.31006 c\n"
    "0.30615 -0.31006 0.33936 -0.35547 0.39648 -0.44629 c\n0.45117 -0.53271 0.49902 -0.60547 0.53809 -0.66455 c\n"
    "0.59326 -0.74707 0.63525 -0.80615 0.66406 -0.84326 c\n0.69238 -0.87939 0.71875 -0.90771 0.7417 -0.92676 c\n"
    "0.7627 -0.94385 0.78857 -0.95703 0.81982 -0.96631 c\n0.85156 -0.9751 0.89209 -0.98242 0.94141 -0.98535 c\n"
    "0.94141 -0.98535 0.9502 -0.96338 0.9502 -0.96338 c\n";

QByteArray number(double value) { return kvpdf::operandText(value); }

// r g b of a colour in device RGB; a missing colour gives 0 0 0.
QByteArray components(const std::optional<KVColor> &color)
{
    float r = 0, g = 0, b = 0;
    if (color && color->isValid()) {
        const QColor rgb = color->toQColor();
        r = float(rgb.redF());
        g = float(rgb.greenF());
        b = float(rgb.blueF());
    }
    return number(r) + ' ' + number(g) + ' ' + number(b);
}

KVPDFObjectPtr rgbArray(const KVColor &color)
{
    const QColor rgb = color.toQColor();
    return KVPDFObjectArray::arrayWithArray({KVPDFObjectReal::realWithFloat(float(rgb.redF())),
                                             KVPDFObjectReal::realWithFloat(float(rgb.greenF())),
                                             KVPDFObjectReal::realWithFloat(float(rgb.blueF()))});
}

QByteArray stateStream(QSizeF size, bool checked, const KVPDFAnnotationWidgetButton::Colors &colors, const char *mark,
                       const char *box)
{
    const QByteArray background = colors.fill && colors.fill->isValid()
                                      ? "0.000000 0.000000 " + number(size.width()) + ' ' + number(size.height()) + " re f"
                                      : QByteArray();
    const QByteArray text = components(colors.text);
    return components(colors.fill) + " rg " + background + ' ' + KVPDFAnnotationWidgetButton::ctmUsingSize(size) + ' ' + text
           + " rg " + text + " RG " + (checked ? QByteArray(mark) : QByteArray()) + ' ' + components(colors.border) + " RG "
           + QByteArray(box);
}

std::shared_ptr<KVPDFObjectStream> formStream(const QByteArray &data, const QRectF &bbox)
{
    auto stream = KVPDFObjectStream::streamByDeflatingData(data);
    const Dictionary &dictionary = stream->dictionary();
    dictionary->setObject("BBox", KVPDFAnnotation::arrayForRect(bbox));
    dictionary->setObject("Type", KVPDFObjectName::nameWithBytes("XObject"));
    dictionary->setObject("Subtype", KVPDFObjectName::nameWithBytes("Form"));
    dictionary->setObject("FormType", KVPDFObjectInteger::integerWithLongLong(1));
    return stream;
}

QString textOf(const KVPDFObjectPtr &value)
{
    if (auto name = kv_cast<KVPDFObjectName>(value))
        return name->stringValue();
    if (auto string = kv_cast<KVPDFObjectString>(value))
        return string->stringValue();
    return QString();
}
}

// ---- Creation and loading ----------------------------------------------------------------

KVPDFAnnotationWidgetButton::KVPDFAnnotationWidgetButton()
{
    storeEntries({
        {"Type", KVPDFObjectName::nameWithBytes("Annot")},
        {"Subtype", KVPDFObjectName::nameWithBytes("Widget")},
    });
    setFieldType("Btn");
}

KVPDFAnnotationWidgetButton::KVPDFAnnotationWidgetButton(const Dictionary &dictionary, KVPDFPage *page)
    : KVPDFAnnotationWidget(dictionary, page)
{
    const Dictionary &widget = annotDict();
    if (!widget)
        return;
    Dictionary resources = parent() ? dictionaryFor(parent(), "DR") : dictionaryFor(widget, "DR");
    if (!resources)
        resources = dictionaryFor(acroFormOf(widget.get()), "DR");
    setResources(resources);

    if (auto mk = dictionaryFor(widget, "MK"))
        if (auto caption = kv_cast<KVPDFObjectString>(readKey(mk, "CA")))
            m_title = caption->stringValue();

    Dictionary appearances = dictionaryFor(widget, "AP");
    if (Dictionary states = statesOf(readKey(appearances, "N")))
        for (const QByteArray &key : states->keys())
            if (key != "Off") {
                m_exportValue = QString::fromUtf8(key);
                break;
            }
    // A loaded appearance stays until a setter changes what it shows.
    m_keepsFileAppearance = appearances != nullptr;
}

KVPDFAnnotationWidgetButton::~KVPDFAnnotationWidgetButton() = default;

namespace {
std::shared_ptr<KVPDFAnnotationWidgetButton> newStateButton(std::shared_ptr<KVPDFAnnotationWidgetButton> button, const QString &name,
                                                            const QString &exportValue, KVPDFPage *page, bool radio)
{
    if (page)
        button->setPage(page->weak_from_this());
    if (radio)
        button->setRadioButton(true);
    button->setFieldName(name);
    button->setValue(KVPDFObjectName::nameWithBytes("Off"));
    button->setExportValue(exportValue);
    return button;
}
}

std::shared_ptr<KVPDFAnnotationWidgetButton> KVPDFAnnotationWidgetButton::checkbox(const QString &name, const QString &exportValue,
                                                                                   KVPDFPage *page)
{
    return newStateButton(std::shared_ptr<KVPDFAnnotationWidgetButton>(new KVPDFAnnotationWidgetButton()), name, exportValue, page,
                          false);
}

std::shared_ptr<KVPDFAnnotationWidgetButton> KVPDFAnnotationWidgetButton::radio(const QString &name, const QString &exportValue,
                                                                                KVPDFPage *page)
{
    return newStateButton(std::shared_ptr<KVPDFAnnotationWidgetButton>(new KVPDFAnnotationWidgetButton()), name, exportValue, page,
                          true);
}

int KVPDFAnnotationWidgetButton::buttonType() const
{
    if (radioButton())
        return ButtonRadio;
    return pushButton() ? ButtonPush : ButtonCheck;
}

// ---- Streams and colours -----------------------------------------------------------------

void KVPDFAnnotationWidgetButton::setOnStream(const std::shared_ptr<KVPDFObjectStream> &stream) { m_onStream = stream; }

void KVPDFAnnotationWidgetButton::setOffStream(const std::shared_ptr<KVPDFObjectStream> &stream) { m_offStream = stream; }

std::optional<KVColor> KVPDFAnnotationWidgetButton::borderColor() const
{
    auto mk = dictionaryFor(annotDict(), "MK");
    return mk ? colorFromArray(readKey(mk, "BC")) : std::nullopt;
}

KVColor KVPDFAnnotationWidgetButton::textColor() const
{
    const std::optional<KVColor> border = borderColor();
    return border ? *border : KVColor::rgb(0, 0, 0);
}

KVPDFAnnotationWidgetButton::Colors KVPDFAnnotationWidgetButton::currentColors() const
{
    return {borderColor(), fillColor(), textColor()};
}

void KVPDFAnnotationWidgetButton::writeMK(QByteArrayView key, const KVPDFObjectPtr &value)
{
    Dictionary old = dictionaryFor(annotDict(), "MK");
    // A fresh MK: the old one may be shared with another widget.
    auto mk = old ? kv_cast<KVPDFObjectDictionary>(old->copy()) : std::make_shared<KVPDFObjectDictionary>();
    if (value)
        mk->setObject(key, value);
    else
        mk->removeObjectForKey(key);
    Entries values = entries();
    std::erase_if(values, [](const auto &entry) { return entry.first == "MK"; });
    values.emplace_back("MK", mk);
    storeEntries(std::move(values));
}

void KVPDFAnnotationWidgetButton::dropLoadedAppearance()
{
    m_keepsFileAppearance = false;
    setAppearance(nullptr);
    setResources(nullptr);
}

void KVPDFAnnotationWidgetButton::rebuild(const Colors &colors)
{
    update(m_exportValue, rect(), colors);
}

void KVPDFAnnotationWidgetButton::setFillColor(const std::optional<KVColor> &color)
{
    writeMK("BG", color && color->isValid() ? rgbArray(*color) : nullptr);
    dropLoadedAppearance();
    rebuild(currentColors());
}

void KVPDFAnnotationWidgetButton::setBorderColor(const std::optional<KVColor> &color)
{
    writeMK("BC", color && color->isValid() ? rgbArray(*color) : nullptr);
    dropLoadedAppearance();
    rebuild(currentColors());
}

void KVPDFAnnotationWidgetButton::setExportValue(const QString &exportValue)
{
    m_exportValue = exportValue;
    dropLoadedAppearance();
    rebuild(currentColors());
}

void KVPDFAnnotationWidgetButton::setTitle(const QString &title)
{
    m_title = title;
    auto caption = KVPDFObjectString::stringWithString(title);
    if (annotDict())
        caption->setContext(annotDict()->context());
    writeMK("CA", caption);
    rebuild(currentColors());
}

void KVPDFAnnotationWidgetButton::setSize(QSizeF size)
{
    if (size == this->size())
        return;
    KVPDFAnnotationWidget::setSize(size);
    dropLoadedAppearance();
    rebuild(currentColors());
}

// ---- Appearance --------------------------------------------------------------------------

QByteArray KVPDFAnnotationWidgetButton::ctmUsingSize(QSizeF size)
{
    const double w = size.width();
    const double h = size.height();
    const double s = float(w) < h ? w : h;
    return number(s) + " 0 0 -" + number(s) + ' ' + number((w - s) / 2) + ' ' + number((h - s) / 2) + " cm";
}

QByteArray KVPDFAnnotationWidgetButton::checkboxOfSize(QSizeF size, bool checked, const Colors &colors)
{
    return stateStream(size, checked, colors, kCheckMark, kCheckBoxArt);
}

QByteArray KVPDFAnnotationWidgetButton::radioOfSize(QSizeF size, bool checked, const Colors &colors)
{
    return stateStream(size, checked, colors, kRadioDot, kRadioArt);
}

void KVPDFAnnotationWidgetButton::update(const QString &onName, const QRectF &frame, const Colors &colors)
{
    const int type = buttonType();
    // A push button has no states to name: it is drawn all the same.
    if (onName.isEmpty() && type != ButtonPush)
        return;
    if (m_keepsFileAppearance && type != ButtonPush) {
        m_lastPDFData.clear();
        return;
    }
    QByteArray onData, offData;
    if (type == ButtonCheck) {
        onData = checkboxOfSize(frame.size(), true, colors);
        offData = checkboxOfSize(frame.size(), false, colors);
    } else if (type == ButtonRadio) {
        onData = radioOfSize(frame.size(), true, colors);
        offData = radioOfSize(frame.size(), false, colors);
    } else {
        onData = offData = submitOfSize(frame.size(), colors);
    }
    setup(offData, onData, onName, frame, colors);
    m_lastPDFData.clear();
}

void KVPDFAnnotationWidgetButton::setup(const QByteArray &offData, const QByteArray &onData, const QString &onName,
                                        const QRectF &frame, const Colors &colors)
{
    const QRectF box(QPointF(0, 0), frame.size());
    m_onStream = formStream(onData, box);
    m_offStream = formStream(offData, box);
    const QByteArray on = onName.toUtf8();
    auto states = KVPDFObjectDictionary::dictionaryWithDictionary({{"Off", KVPDFObjectReference::referenceWithObject(m_offStream)}});
    if (!on.isEmpty() && on != "Off")
        states->setValue({{on, KVPDFObjectReference::referenceWithObject(m_onStream)},
                          {"Off", KVPDFObjectReference::referenceWithObject(m_offStream)}});
    auto appearances = KVPDFObjectDictionary::dictionaryWithDictionary({{"N", states}});

    Dictionary old = dictionaryFor(annotDict(), "MK");
    auto mk = old ? kv_cast<KVPDFObjectDictionary>(old->copy()) : std::make_shared<KVPDFObjectDictionary>();
    if (colors.border && colors.border->isValid())
        mk->setObject("BC", rgbArray(*colors.border));
    if (colors.fill && colors.fill->isValid())
        mk->setObject("BG", rgbArray(*colors.fill));
    if (isSubmitButton()) {
        auto caption = KVPDFObjectString::stringWithString(m_title);
        if (annotDict())
            caption->setContext(annotDict()->context());
        mk->setObject("CA", caption);
    }

    const QString current = textOf(value());
    const QByteArray state = !current.isEmpty() && current == onName ? on : QByteArrayLiteral("Off");

    // Whatever else F says (hidden, locked, no view) is the user's; a field must print.
    int64_t flags = 0;
    if (KVPDFObjectPtr f = readKey(annotDict(), "F"); f && f->objectType() == KVPDFObject::TypeInteger)
        flags = f->longLongValue();
    flags |= int64_t(1) << (FlagPrint - 1);

    Entries values = entries();
    static const QByteArray replaced[] = {"AS", "F", "MK", "Rect", "AP", "Type", "Subtype"};
    std::erase_if(values, [](const auto &entry) {
        return std::find(std::begin(replaced), std::end(replaced), entry.first) != std::end(replaced);
    });
    resetAppearance(values);
    values.emplace_back("AS", KVPDFObjectName::nameWithBytes(state));
    values.emplace_back("F", KVPDFObjectInteger::integerWithLongLong(flags));
    values.emplace_back("MK", mk);
    values.emplace_back("Rect", arrayForRect(frame));
    values.emplace_back("AP", appearances);
    values.emplace_back("Type", KVPDFObjectName::nameWithBytes("Annot"));
    values.emplace_back("Subtype", KVPDFObjectName::nameWithBytes("Widget"));
    storeEntries(std::move(values));
}

QByteArray KVPDFAnnotationWidgetButton::submitOfSize(QSizeF size, const Colors &colors)
{
    (void)size;   // the renderer draws at the widget's size
    (void)colors; // and in the colours MK holds
    const QByteArray data = KVFolivoImprintRenderer::pdfDataForImprint(*this, false);
    if (data.isEmpty())
        return QByteArray();
    KVPDFOpenResult result = KVPDFOpenOK;
    std::shared_ptr<KVPDFDocument> rendering = KVPDFDocument::documentWithData(data, &result);
    if (!rendering || result != KVPDFOpenOK || !update(*rendering))
        return QByteArray();
    return m_renderedContent;
}

bool KVPDFAnnotationWidgetButton::update(KVPDFDocument &rendering)
{
    std::optional<kvpdf::fieldappearance::Rendering> read = kvpdf::fieldappearance::fromRendering(rendering, "FVFont");
    if (!read) {
        kvLog(QStringLiteral("Button %1: the rendering cannot be read; its appearance stays").arg(fieldName()));
        return false;
    }
    installPlacedAppearance(*read);
    m_subs = read->subobjects;
    m_renderedContent = read->content;
    m_updatedOnce = true;
    return true;
}

void KVPDFAnnotationWidgetButton::draw(QPainter &painter, bool pressed) const
{
    const QRectF box = QRectF(QPointF(0, 0), size()).normalized();
    QPainterPath path;
    // The stroke is centred on the outline: half a point in keeps all of it on the page.
    path.addRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
    const std::optional<KVColor> border = borderColor();
    const std::optional<KVColor> fill = pressed ? border : fillColor();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (fill && fill->isValid())
        painter.fillPath(path, fill->toQColor());
    painter.strokePath(path, QPen(border && border->isValid() ? border->toQColor() : QColor(Qt::black), 1));
    painter.setClipPath(path);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(12);
    painter.setFont(font);
    painter.setPen(textColor().toQColor());
    painter.drawText(box, Qt::AlignCenter, m_title.isEmpty() ? QStringLiteral("Submit") : m_title);
    painter.restore();
}

QByteArray KVFolivoImprintRenderer::pdfDataForImprint(const KVPDFAnnotationWidgetButton &button, bool pressed)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        kvLog(QStringLiteral("Push buttons are drawn only in a GUI application"));
        return QByteArray();
    }
    const QSizeF size = button.size();
    if (!(size.width() > 0 && size.height() > 0))
        return QByteArray();
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        writer.setCreator(QStringLiteral("Folivo"));
        writer.setPageSize(QPageSize(size, QPageSize::Point, QString(), QPageSize::ExactMatch));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
        QPainter painter(&writer);
        button.draw(painter, pressed);
    }
    return buffer.data();
}

// ---- State and actions -------------------------------------------------------------------

bool KVPDFAnnotationWidgetButton::toggleState()
{
    const Dictionary &widget = annotDict();
    Dictionary appearances = appearance() ? appearance() : dictionaryFor(widget, "AP");
    if (!appearances && buttonType() != ButtonPush && widget) {
        // A file that leaves drawing to the reader (NeedAppearances): the states are drawn
        // now, on the state the file names when it is not Off, else on the usual "Yes".
        if (m_exportValue.isEmpty()) {
            for (const KVPDFObjectPtr &named : {value(), readKey(widget, "AS")})
                if (const QString text = textOf(named); !text.isEmpty() && text != QLatin1String("Off")) {
                    m_exportValue = text;
                    break;
                }
            if (m_exportValue.isEmpty())
                m_exportValue = QStringLiteral("Yes");
        }
        dropLoadedAppearance();
        rebuild(currentColors());
        appearances = dictionaryFor(widget, "AP");
    }
    Dictionary states = statesOf(readKey(appearances, "N"));
    if (!states || states->count() < 2)
        states = statesOf(readKey(appearances, "D"));
    if (!states || states->count() < 2)
        return false;
    const std::vector<QByteArray> keys = states->keys();
    auto as = kv_cast<KVPDFObjectName>(readKey(widget, "AS"));
    const QByteArray next = as && as->bytes() == keys[0] ? keys[1] : keys[0];

    Entries values = entries();
    std::erase_if(values, [](const auto &entry) { return entry.first == "AS"; });
    values.emplace_back("AS", KVPDFObjectName::nameWithBytes(next));
    Entries none;
    resetAppearance(none);
    storeEntries(std::move(values));
    setValue(KVPDFObjectName::nameWithBytes(next));
    m_lastPDFData.clear();
    return true;
}

std::shared_ptr<KVPDFObjectDictionary> KVPDFAnnotationWidgetButton::action() const
{
    if (Dictionary a = dictionaryFor(annotDict(), "A"))
        return a;
    return dictionaryFor(dictionaryFor(annotDict(), "AA"), "D");
}

int64_t KVPDFAnnotationWidgetButton::flags() const
{
    KVPDFObjectPtr value = readKey(action(), "Flags");
    return value && value->objectType() == KVPDFObject::TypeInteger ? value->longLongValue() : 0;
}

QString KVPDFAnnotationWidgetButton::submitURLString() const
{
    Dictionary a = action();
    auto s = kv_cast<KVPDFObjectName>(readKey(a, "S"));
    if (!s || s->bytes() != "SubmitForm" || !readKey(a, "F"))
        return QString();
    return kvpdfSubmitURL(a);
}

QString kvpdfSubmitURL(const std::shared_ptr<KVPDFObjectDictionary> &action)
{
    KVPDFObjectPtr file = readKey(action, "F");
    if (!file)
        return QString();
    auto spec = kv_cast<KVPDFObjectDictionary>(file);
    auto fs = kv_cast<KVPDFObjectName>(readKey(spec, "FS"));
    if (!fs || fs->bytes() != "URL") {
        kvLog(QStringLiteral("SubmitForm does not have FS URL entry"));
        return QString();
    }
    auto url = kv_cast<KVPDFObjectString>(readKey(spec, "F"));
    return url ? url->stringValue() : QString();
}

QByteArray KVPDFAnnotationWidgetButton::pdfDataForButton()
{
    if (m_lastPDFData.isEmpty())
        m_lastPDFData = pdfDataForAppearance("N");
    return m_lastPDFData;
}

// ---- Saving and copies -------------------------------------------------------------------

std::shared_ptr<KVPDFObjectDictionary> KVPDFAnnotationWidgetButton::makeField() const
{
    Dictionary field = KVPDFAnnotationWidget::makeField();
    field->setObject("FT", KVPDFObjectName::nameWithBytes("Btn"));
    // A button read without V keeps having none: saving an untouched form leaves it as it was.
    if (!value() && fieldDictionary())
        field->removeObjectForKey("V");
    return field;
}

void KVPDFAnnotationWidgetButton::copyButtonInto(KVPDFAnnotationWidgetButton &target) const
{
    copyWidgetInto(target);
    target.m_exportValue = m_exportValue;
    target.m_title = m_title;
    target.m_keepsFileAppearance = m_keepsFileAppearance;
    if (!m_onStream || !m_offStream)
        return;
    // The copy's AP names streams of its own, so a change to one button's look leaves the
    // other's alone.
    target.m_onStream = kv_cast<KVPDFObjectStream>(m_onStream->copy());
    target.m_offStream = kv_cast<KVPDFObjectStream>(m_offStream->copy());
    if (!target.m_onStream || !target.m_offStream || appearance())
        return;
    auto states = KVPDFObjectDictionary::dictionaryWithDictionary({
        {m_exportValue.toUtf8(), KVPDFObjectReference::referenceWithObject(target.m_onStream)},
        {"Off", KVPDFObjectReference::referenceWithObject(target.m_offStream)},
    });
    Entries values = target.entries();
    std::erase_if(values, [](const auto &entry) { return entry.first == "AP"; });
    values.emplace_back("AP", KVPDFObjectDictionary::dictionaryWithDictionary({{"N", states}}));
    target.storeEntries(std::move(values));
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationWidgetButton::copy() const
{
    std::shared_ptr<KVPDFAnnotationWidgetButton> button(new KVPDFAnnotationWidgetButton());
    copyButtonInto(*button);
    return button;
}
