// The engine's annotation classes, entered once into the table annotations are read through.
// Every class the engine models is listed here, in one function that KVPDFServices calls, so
// none can be lost from the static library the way a self-registering static can.
#include "KVPDFServices.h"

#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"

#include "KVPDFAnnotationFreeText.h"
#include "KVPDFAnnotationInk.h"
#include "KVPDFAnnotationLine.h"
#include "KVPDFAnnotationLink.h"
#include "KVPDFAnnotationMarkup.h"
#include "KVPDFAnnotationPolygon.h"
#include "KVPDFAnnotationShape.h"
#include "KVPDFAnnotationText.h"
#include "KVPDFAnnotationStamp.h"
#include "KVPDFAnnotationWidget.h"
#include "KVPDFAnnotationWidgetButton.h"
#include "KVPDFAnnotationWidgetButtonSubmit.h"
#include "KVPDFAnnotationWidgetChoice.h"
#include "KVPDFAnnotationWidgetText.h"

namespace {
template <class Annotation>
std::shared_ptr<KVPDFAnnotation> make(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, const QByteArray &, KVPDFPage *page)
{
    return std::make_shared<Annotation>(dictionary, page);
}

std::shared_ptr<KVPDFAnnotation> makeShape(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, const QByteArray &subtype,
                                           KVPDFPage *page)
{
    return std::make_shared<KVPDFAnnotationShape>(dictionary, subtype, page);
}

bool submits(const KVPDFObjectPtr &action)
{
    auto dictionary = kv_cast<KVPDFObjectDictionary>(action);
    return dictionary && kv_cast<KVPDFObjectName>(kvReadableEntry(dictionary, "S", u"Button action"))
           && dictionary->nameForKey("S") == "SubmitForm";
}

// A button whose A, AA D or AA U submits the form is a submit button.
std::shared_ptr<KVPDFAnnotation> makeButton(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, const QByteArray &,
                                            KVPDFPage *page)
{
    KVPDFObjectPtr actions = kvReadableEntry(dictionary, "AA", u"Button");
    const bool down = submits(kvReadableEntry(actions, "D", u"Button"));
    if (down || submits(kvReadableEntry(dictionary, "A", u"Button")) || submits(kvReadableEntry(actions, "U", u"Button")))
        return std::make_shared<KVPDFAnnotationWidgetButtonSubmit>(dictionary, page, down);
    return std::make_shared<KVPDFAnnotationWidgetButton>(dictionary, page);
}

std::shared_ptr<KVPDFAnnotation> makeMarkup(const std::shared_ptr<KVPDFObjectDictionary> &dictionary, const QByteArray &subtype,
                                            KVPDFPage *page)
{
    return std::make_shared<KVPDFAnnotationMarkup>(dictionary, subtype, page);
}
}

void kvpdfRegisterEngineAnnotationClasses(KVPDFAnnotationClasses &classes)
{
    // By Subtype.
    classes.annotationFactories.insert("Link", make<KVPDFAnnotationLink>);
    classes.annotationFactories.insert("Square", makeShape);
    classes.annotationFactories.insert("Circle", makeShape);
    classes.annotationFactories.insert("Text", make<KVPDFAnnotationText>);
    classes.annotationFactories.insert("Popup", make<KVPDFAnnotationPopup>);
    classes.annotationFactories.insert("FreeText", make<KVPDFAnnotationFreeText>);
    for (const char *markup : {"Highlight", "Underline", "StrikeOut", "Squiggly"})
        classes.annotationFactories.insert(markup, makeMarkup);
    // PolyLine has no class: it is carried unchanged.
    classes.annotationFactories.insert("Line", make<KVPDFAnnotationLine>);
    classes.annotationFactories.insert("Ink", make<KVPDFAnnotationInk>);
    classes.annotationFactories.insert("Polygon", make<KVPDFAnnotationPolygon>);
    classes.annotationFactories.insert("Stamp", make<KVPDFAnnotationStamp>);
    // By field type. Signatures (Sig) and unknown types stay plain annotations.
    classes.widgetFactories.insert("Tx", make<KVPDFAnnotationWidgetText>);
    classes.widgetFactories.insert("Btn", makeButton);
    classes.widgetFactories.insert("Ch", make<KVPDFAnnotationWidgetChoice>);
}
