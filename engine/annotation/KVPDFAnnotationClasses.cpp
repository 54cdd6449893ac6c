// The engine's annotation classes, entered once into the table annotations are read through.
// Every class the engine models is listed here, in one function that KVPDFServices calls, so
// none can be lost from the static library the way a self-registering static can.
#include "KVPDFAnnotationLink.h"
#include "KVPDFServices.h"

void kvpdfRegisterEngineAnnotationClasses(KVPDFAnnotationClasses &classes)
{
    // By Subtype: classes.annotationFactories.insert("Link", ...).
    // By field type: classes.widgetFactories.insert("Tx", ...).
    classes.annotationFactories.insert("Link", [](const std::shared_ptr<KVPDFObjectDictionary> &dictionary, const QByteArray &,
                                                  KVPDFPage *page) -> std::shared_ptr<KVPDFAnnotation> {
        return std::make_shared<KVPDFAnnotationLink>(dictionary, page);
    });
}
