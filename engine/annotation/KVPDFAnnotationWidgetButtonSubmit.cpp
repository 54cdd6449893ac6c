#include "KVPDFAnnotationWidgetButtonSubmit.h"

#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFServices.h"

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;
using Entries = std::vector<std::pair<QByteArray, KVPDFObjectPtr>>;

KVPDFObjectPtr readKey(const KVPDFObjectPtr &dictionary, QByteArrayView key)
{
    return kvReadableEntry(dictionary, key, u"Submit button");
}
}

KVPDFAnnotationWidgetButtonSubmit::KVPDFAnnotationWidgetButtonSubmit(const Dictionary &dictionary, KVPDFPage *page,
                                                                     bool onMouseDown)
    : KVPDFAnnotationWidgetButton(dictionary, page), m_submitOnMouseDown(onMouseDown)
{
    const Dictionary &widget = annotDict();
    if (auto h = kv_cast<KVPDFObjectName>(readKey(widget, "H"))) {
        const QByteArray &mode = h->bytes();
        m_highlightMode = mode == "N" ? 1 : mode == "O" ? 2 : (mode == "P" || mode == "T") ? 3 : 0;
    }
    if (KVPDFObjectPtr flags = readKey(widget, "FolivoFlags"); flags && flags->objectType() == KVPDFObject::TypeInteger)
        m_folivoFlags = uint64_t(flags->longLongValue());
}

KVPDFAnnotationWidgetButtonSubmit::~KVPDFAnnotationWidgetButtonSubmit() = default;

std::shared_ptr<KVPDFAnnotationWidgetButtonSubmit> KVPDFAnnotationWidgetButtonSubmit::submit(const QString &name,
                                                                                             const QString &exportValue,
                                                                                             KVPDFPage *page)
{
    std::shared_ptr<KVPDFAnnotationWidgetButtonSubmit> button(new KVPDFAnnotationWidgetButtonSubmit());
    if (page)
        button->setPage(page->weak_from_this());
    button->setFieldFlags(FieldPushbutton);
    button->setFieldName(name);
    button->setTitle(KVPDFServices::localizedString(QStringLiteral("Submit")));
    button->setExportValue(exportValue);
    button->setFieldFlags(FieldPushbutton);
    return button;
}

void KVPDFAnnotationWidgetButtonSubmit::writeEntry(QByteArrayView key, const KVPDFObjectPtr &value)
{
    Entries values = entries();
    std::erase_if(values, [&](const auto &entry) { return entry.first == key; });
    if (value)
        values.emplace_back(key.toByteArray(), value);
    storeEntries(std::move(values));
}

void KVPDFAnnotationWidgetButtonSubmit::setFolivoFlags(uint64_t flags)
{
    m_folivoFlags = flags;
    writeEntry("FolivoFlags", KVPDFObjectInteger::integerWithLongLong(int64_t(flags)));
}

bool KVPDFAnnotationWidgetButtonSubmit::toggleState()
{
    if (m_toggleState == 0 || m_toggleState == 1)
        m_toggleState = 1 - m_toggleState;
    return true;
}

std::shared_ptr<KVPDFObjectDictionary> KVPDFAnnotationWidgetButtonSubmit::action() const
{
    const Dictionary &widget = annotDict();
    if (auto a = kv_cast<KVPDFObjectDictionary>(readKey(widget, "A")))
        return a;
    return kv_cast<KVPDFObjectDictionary>(readKey(readKey(widget, "AA"), m_submitOnMouseDown ? "D" : "U"));
}

QString KVPDFAnnotationWidgetButtonSubmit::submitURLString() const { return kvpdfSubmitURL(action()); }

void KVPDFAnnotationWidgetButtonSubmit::setSubmitURLString(const QString &url, uint64_t flags)
{
    m_folivoFlags = flags;
    const Dictionary &widget = annotDict();
    auto string = KVPDFObjectString::stringWithString(url);
    if (widget)
        string->setContext(widget->context());
    auto file = KVPDFObjectDictionary::dictionaryWithDictionary({
        {"FS", KVPDFObjectName::nameWithBytes("URL")},
        {"F", string},
    });
    // The XFDF bit: the program submits the form as XFDF.
    const int32_t submitFlags = int32_t(this->flags()) | 0x20;
    auto submit = KVPDFObjectDictionary::dictionaryWithDictionary({
        {"S", KVPDFObjectName::nameWithBytes("SubmitForm")},
        {"F", file},
        {"Flags", KVPDFObjectInteger::integerWithLongLong(submitFlags)},
    });
    if (widget)
        submit->setContext(widget->context());
    writeEntry("FolivoFlags", KVPDFObjectInteger::integerWithLongLong(int64_t(flags)));
    writeEntry("A", submit);
}

std::shared_ptr<KVPDFImprint> KVPDFAnnotationWidgetButtonSubmit::copy() const
{
    std::shared_ptr<KVPDFAnnotationWidgetButtonSubmit> button(new KVPDFAnnotationWidgetButtonSubmit());
    copyButtonInto(*button);
    button->m_submitOnMouseDown = m_submitOnMouseDown;
    button->m_highlightMode = m_highlightMode;
    button->m_folivoFlags = m_folivoFlags;
    return button;
}
