#include "KVPDFAnnotationText.h"

#include "KVPDFAnnotationEdits.h"
#include "KVNumbers.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectBoolean.h"
#include "KVPDFObjectDate.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;
using Entries = std::vector<std::pair<QByteArray, KVPDFObjectPtr>>;

KVPDFObjectPtr readKey(const Dictionary &dictionary, QByteArrayView key) { return kvReadableEntry(dictionary, key, u"Note"); }

QString textOf(const Dictionary &dictionary, QByteArrayView key) { return kvpdf::annotation::readText(dictionary, key, u"Note"); }

using kvpdf::annotation::textString;

void change(Entries &values, const QByteArray &key, const KVPDFObjectPtr &value)
{
    auto found = std::find_if(values.begin(), values.end(), [&key](const auto &entry) { return entry.first == key; });
    if (!value) {
        if (found != values.end())
            values.erase(found);
    } else if (found != values.end()) {
        found->second = value;
    } else {
        values.emplace_back(key, value);
    }
}

// One colour operator, its numbers in the fixed form every locale writes alike.
QByteArray colorOperator(const KVColor &color, bool stroke)
{
    QByteArray out;
    for (float value : color.components())
        out += kvFormatFixed(double(value)) + ' ';
    switch (color.space()) {
    case KVColor::Space::Gray: return out + (stroke ? "G" : "g");
    case KVColor::Space::RGB: return out + (stroke ? "RG" : "rg");
    case KVColor::Space::CMYK: return out + (stroke ? "K" : "k");
    case KVColor::Space::Invalid: break;
    }
    return QByteArray();
}

// The bubble with its tail, y flipped: one closed path that the icon fills, then strokes.
constexpr char kBubblePath[] =
    "3.5166 -1.14258 m 3.5166 -1.14258 12.2998 -4.75391 12.2998 -4.75391 c 12.2998 -4.75391 16.20508 -4.75391 "
    "16.20508 -4.75391 c 17.93164 -4.75391 19.33008 -6.00391 19.33008 -7.73047 c 19.33008 -7.73047 19.33008 -13.19385 "
    "19.33008 -13.19385 c 19.33008 -14.91895 17.93164 -16.46631 16.20508 -16.46631 c 16.20508 -16.46631 3.7085 -16.46631 "
    "3.7085 -16.46631 c 1.98291 -16.46631 0.58398 -14.91895 0.58398 -13.19385 c 0.58398 -13.19385 0.58398 -7.73047 "
    "0.58398 -7.73047 c 0.58398 -6.27441 1.58008 -5.10059 2.92725 -4.75391 c 2.92725 -4.75391 7.61475 -4.75391 7.61475 "
    "-4.75391 c 7.61475 -4.75391 3.5166 -1.14258 3.5166 -1.14258 c h";

std::shared_ptr<KVPDFObjectStream> iconStream(const QByteArray &beforeFill, const QByteArray &beforeStroke, const QRectF &bbox)
{
    const QByteArray content = beforeFill + " 1 0 0 -1 0 0 cm 0 i " + kBubblePath + " f " + beforeStroke
                               + " 1 w 4 M 0 j 0 J []0 d " + kBubblePath + " S";
    auto stream = KVPDFObjectStream::streamWithData(content);
    const Dictionary &dictionary = stream->dictionary();
    dictionary->setObject("Type", KVPDFObjectName::nameWithBytes("XObject"));
    dictionary->setObject("Subtype", KVPDFObjectName::nameWithBytes("Form"));
    dictionary->setObject("BBox", KVPDFAnnotation::arrayForRect(bbox));
    return stream;
}

QRectF iconBox(QSizeF size) { return QRectF(QPointF(0, 0), size); }
}

// ---- The note ----------------------------------------------------------------------------

KVPDFAnnotationText::KVPDFAnnotationText(const Dictionary &dictionary, KVPDFPage *page) : KVPDFAnnotation(dictionary, page)
{
    const Dictionary &own = annotDict();
    m_contents = textOf(own, "Contents");
    m_fillColor = colorFromArray(readKey(own, "C"));
    m_title = textOf(own, "T");
    if (auto date = kv_cast<KVPDFObjectString>(readKey(own, "M")))
        m_modified = KVPDFObjectDate::dateFromPDFString(*date);
    m_name = textOf(own, "NM");
    m_subject = textOf(own, "Subj");
}

std::shared_ptr<KVPDFAnnotationText> KVPDFAnnotationText::annotationWithContents(const QString &contents, const QRectF &popupRect,
                                                                                 const QString &title, KVPDFPage *page,
                                                                                 const QRectF &iconRect, const KVColor &fillColor,
                                                                                 std::shared_ptr<KVPDFAnnotationPopup> *popup)
{
    const KVColor color = fillColor.isValid() ? fillColor : defaultTextNoteColor();
    const Dictionary appearance = makeAPDictWithColor(color, iconBox(iconRect.size()));
    auto dictionary = KVPDFObjectDictionary::dictionaryWithDictionary({
        {"Type", KVPDFObjectName::nameWithBytes("Annot")},
        {"Subtype", KVPDFObjectName::nameWithBytes("Text")},
        {"C", arrayFromColor(color)},
        {"Subj", textString(QStringLiteral("Note"), nullptr)},
        {"Contents", textString(contents, nullptr)},
        {"T", textString(title, nullptr)},
        {"AP", appearance},
    });
    auto note = std::make_shared<KVPDFAnnotationText>(dictionary, page);
    note->setAppearance(appearance);
    note->setModified(QDateTime::currentDateTime());
    note->setLocation(iconRect.topLeft());
    note->setSize(iconRect.size());
    std::shared_ptr<KVPDFAnnotationPopup> made = createDefaultPopup(note, popupRect, page);
    if (popup)
        *popup = made;
    return note;
}

KVPDFAnnotationText::~KVPDFAnnotationText() = default;

QDateTime KVPDFAnnotationText::modified()
{
    if (!m_modified)
        m_modified = QDateTime::currentDateTime();
    return *m_modified;
}

void KVPDFAnnotationText::write(std::initializer_list<std::pair<QByteArray, KVPDFObjectPtr>> changes)
{
    Entries values = entries();
    for (const auto &[key, value] : changes)
        change(values, key, value);
    storeEntries(std::move(values));
}

void KVPDFAnnotationText::setContents(const QString &contents)
{
    m_contents = contents;
    write({{"Contents", textString(contents, annotDict())}});
}

void KVPDFAnnotationText::setTitle(const QString &title)
{
    m_title = title;
    write({{"T", textString(title, annotDict())}});
}

void KVPDFAnnotationText::setName(const QString &name)
{
    m_name = name;
    write({{"NM", textString(name, nullptr)}});
}

void KVPDFAnnotationText::setSubject(const QString &subject)
{
    m_subject = subject;
    write({{"Subj", textString(subject, nullptr)}});
}

void KVPDFAnnotationText::setModified(const QDateTime &date)
{
    m_modified = date;
    auto string = KVPDFObjectDate::dateWithDate(date);
    if (annotDict())
        string->setContext(annotDict()->context());
    write({{"M", string}});
}

Dictionary KVPDFAnnotationText::recoloured(const Dictionary &appearance) const
{
    if (!appearance)
        return nullptr;
    auto copy = kv_cast<KVPDFObjectDictionary>(appearance->copy());
    if (!copy)
        return nullptr;
    // A copy is a new object: the AP dictionary itself may be shared as well.
    copy->setObjectNumber(0);
    copy->setGeneration(0);
    const QRectF box = iconBox(size());
    const KVColor color = fillColor();
    bool replaced = false;
    for (const char *key : {"N", "D"}) {
        KVPDFObjectPtr entry;
        try {
            entry = appearance->resolvedObjectForKey(key);
        } catch (const FolivoException &failure) {
            kvLog(QStringLiteral("Note appearance %1 unreadable: %2")
                      .arg(QLatin1String(key), QString::fromStdString(failure.reason())));
            continue;
        }
        if (!kv_cast<KVPDFObjectStream>(entry))
            continue;
        const bool open = qstrcmp(key, "D") == 0;
        copy->setObject(
            key, KVPDFObjectReference::referenceWithObject(open ? openButtonStream(color, box) : closedButtonStream(color, box)));
        replaced = true;
    }
    return replaced ? copy : nullptr;
}

void KVPDFAnnotationText::setFillColor(const KVColor &color)
{
    m_fillColor = color.isValid() ? color : defaultTextNoteColor();
    Entries values = entries();
    change(values, "C", arrayFromColor(*m_fillColor));
    auto stored = kv_cast<KVPDFObjectDictionary>(readKey(annotDict(), "AP"));
    if (Dictionary recolouredStored = recoloured(stored)) {
        resetAppearance(values);
        values.emplace_back("AP", recolouredStored);
        // A replacement appearance that was the stored one stays the stored one.
        if (appearance() == stored)
            setAppearance(recolouredStored);
    }
    if (appearance() && appearance() != stored)
        if (Dictionary recolouredOwn = recoloured(appearance()))
            setAppearance(recolouredOwn);
    storeEntries(std::move(values));
    m_openIcon.clear();
    m_closedIcon.clear();
}

void KVPDFAnnotationText::setPopup(const std::shared_ptr<KVPDFAnnotationPopup> &popup)
{
    m_popup = popup;
    write({{"Popup", popup && popup->annotDict() ? KVPDFObjectReference::referenceWithObject(popup->annotDict()) : nullptr}});
}

std::shared_ptr<KVPDFAnnotationPopup> KVPDFAnnotationText::createDefaultPopup(const std::shared_ptr<KVPDFAnnotationText> &note,
                                                                              const QRectF &rect, KVPDFPage *page)
{
    auto popup = KVPDFAnnotationPopup::annotationWithRect(rect, KVPDFAnnotationPopup::kDefaultFlags, false, page);
    popup->setText(note);
    return popup;
}

std::shared_ptr<KVPDFObjectStream> KVPDFAnnotationText::openButtonStream(const KVColor &color, const QRectF &bbox)
{
    const KVColor black = KVColor::gray(0);
    return iconStream(colorOperator(color, true) + ' ' + colorOperator(black, false), colorOperator(color, false), bbox);
}

std::shared_ptr<KVPDFObjectStream> KVPDFAnnotationText::closedButtonStream(const KVColor &color, const QRectF &bbox)
{
    const KVColor black = KVColor::gray(0);
    return iconStream(colorOperator(black, true) + ' ' + colorOperator(color, false), colorOperator(black, false), bbox);
}

Dictionary KVPDFAnnotationText::makeAPDictWithColor(const KVColor &color, const QRectF &bbox)
{
    return KVPDFObjectDictionary::dictionaryWithDictionary({
        {"D", KVPDFObjectReference::referenceWithObject(openButtonStream(color, bbox))},
        {"N", KVPDFObjectReference::referenceWithObject(closedButtonStream(color, bbox))},
    });
}

QByteArray KVPDFAnnotationText::pdfDataForIcon(const QByteArray &key) const
{
    try {
        auto appearances = kv_cast<KVPDFObjectDictionary>(readKey(annotDict(), "AP"));
        if (!appearances)
            appearances = appearance();
        if (!appearances)
            return QByteArray();
        KVPDFObjectPtr entry = appearances->resolvedObjectForKey(key);
        if (auto states = kv_cast<KVPDFObjectDictionary>(entry)) {
            const QByteArray state = annotDict() ? annotDict()->nameForKey("AS") : QByteArray();
            entry = state.isEmpty() ? nullptr : states->resolvedObjectForKey(state);
        }
        auto stream = kv_cast<KVPDFObjectStream>(entry);
        if (!stream)
            return QByteArray();
        return KVPDFImprint::onePageDataForForm(stream, arrayForRect(iconBox(size())));
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("Note icon %1 could not be drawn: %2")
                  .arg(QString::fromLatin1(key), QString::fromStdString(failure.reason())));
        return QByteArray();
    }
}

QByteArray KVPDFAnnotationText::openIcon()
{
    if (m_openIcon.isEmpty())
        m_openIcon = pdfDataForIcon("D");
    return m_openIcon;
}

QByteArray KVPDFAnnotationText::closedIcon()
{
    if (m_closedIcon.isEmpty())
        m_closedIcon = pdfDataForIcon("N");
    return m_closedIcon;
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationText::copy() const
{
    // The dictionary copy carries every key and the appearance already; going through the
    // setters would rebuild the icon and lose a look the note was read with.
    std::shared_ptr<KVPDFAnnotationText> note(new KVPDFAnnotationText());
    copyAnnotationInto(*note);
    note->setAppearance(appearance());
    note->m_contents = m_contents;
    note->m_title = m_title;
    note->m_modified = m_modified;
    note->m_name = m_name;
    note->m_subject = m_subject;
    note->m_fillColor = m_fillColor;
    auto popup = m_popup ? std::dynamic_pointer_cast<KVPDFAnnotationPopup>(m_popup->copy()) : nullptr;
    if (popup)
        popup->setText(note);
    else if (note->annotDict() && note->annotDict()->objectForKey("Popup"))
        // A pop-up the page never read (not in Annots) stays the source's alone.
        note->write({{"Popup", nullptr}});
    return note;
}

// ---- The pop-up --------------------------------------------------------------------------

KVPDFAnnotationPopup::KVPDFAnnotationPopup(const Dictionary &dictionary, KVPDFPage *page) : KVPDFAnnotation(dictionary, page) { }

std::shared_ptr<KVPDFAnnotationPopup> KVPDFAnnotationPopup::annotationWithRect(const QRectF &rect, int64_t flags, bool open,
                                                                               KVPDFPage *page)
{
    auto dictionary = KVPDFObjectDictionary::dictionaryWithDictionary({
        {"Type", KVPDFObjectName::nameWithBytes("Annot")},
        {"Subtype", KVPDFObjectName::nameWithBytes("Popup")},
        {"Open", KVPDFObjectBoolean::boolWithBool(open)},
        {"F", KVPDFObjectInteger::integerWithLongLong(flags)},
    });
    auto popup = std::make_shared<KVPDFAnnotationPopup>(dictionary, page);
    popup->setLocation(rect.topLeft());
    popup->setSize(rect.size());
    return popup;
}

KVPDFAnnotationPopup::~KVPDFAnnotationPopup() = default;

void KVPDFAnnotationPopup::setText(const std::shared_ptr<KVPDFAnnotation> &parent)
{
    m_text = parent;
    Entries values = entries();
    // The note holds its pop-up through Popup; a strong link back would keep both alive.
    change(values, "Parent",
           parent && parent->annotDict() ? KVPDFObjectReference::referenceWithObjectWeakly(parent->annotDict()) : nullptr);
    storeEntries(std::move(values));
    if (auto note = std::dynamic_pointer_cast<KVPDFAnnotationText>(parent); note && note->popup().get() != this)
        note->setPopup(shared_from_this());
}

void KVPDFAnnotationPopup::joinParent(const std::shared_ptr<KVPDFAnnotation> &parent)
{
    m_text = parent;
    if (auto note = std::dynamic_pointer_cast<KVPDFAnnotationText>(parent))
        note->m_popup = shared_from_this();
}

bool KVPDFAnnotationPopup::isOpen() const
{
    auto open = kv_cast<KVPDFObjectBoolean>(kvReadableEntry(annotDict(), "Open", u"Popup"));
    return open && open->boolValue();
}

void KVPDFAnnotationPopup::setOpen(bool open)
{
    Entries values = entries();
    change(values, "Open", KVPDFObjectBoolean::boolWithBool(open));
    storeEntries(std::move(values));
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationPopup::copy() const
{
    std::shared_ptr<KVPDFAnnotationPopup> popup(new KVPDFAnnotationPopup());
    copyAnnotationInto(*popup);
    popup->m_text = m_text;
    return popup;
}
