// The engine's annotation classes, entered once into the table annotations are read through.
// Every class the engine models is listed here, in one function that KVPDFServices calls, so
// none can be lost from the static library the way a self-registering static can.
#include "KVPDFServices.h"

#include "KVPDFAnnotationInk.h"
#include "KVPDFAnnotationLine.h"
#include "KVPDFAnnotationLink.h"
#include "KVPDFAnnotationMarkup.h"
#include "KVPDFAnnotationPolygon.h"
#include "KVPDFAnnotationShape.h"
#include "KVPDFAnnotationStamp.h"
#include "KVPDFAnnotationWidget.h"
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
    for (const char *markup : {"Highlight", "Underline", "StrikeOut", "Squiggly"})
        classes.annotationFactories.insert(markup, makeMarkup);
    // PolyLine has no class: it is carried unchanged.
    classes.annotationFactories.insert("Line", make<KVPDFAnnotationLine>);
    classes.annotationFactories.insert("Ink", make<KVPDFAnnotationInk>);
    classes.annotationFactories.insert("Polygon", make<KVPDFAnnotationPolygon>);
    classes.annotationFactories.insert("Stamp", make<KVPDFAnnotationStamp>);
    // By field type. Signatures (Sig) and unknown types stay plain annotations.
    classes.widgetFactories.insert("Tx", make<KVPDFAnnotationWidgetText>);
    classes.widgetFactories.insert("Btn", make<KVPDFAnnotationWidget>);
    classes.widgetFactories.insert("Ch", make<KVPDFAnnotationWidget>);
}
