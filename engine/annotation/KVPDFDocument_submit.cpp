// What a save does for the form's submit buttons: the submit information page and the two
// fields that carry the document's identity with the submitted form.
#include "KVPDFDocument.h"

#include "KVPDFAnnotationWidgetButtonSubmit.h"
#include "KVPDFAnnotationWidgetText.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFServices.h"
#include "KVPDFTrailer.h"

#include <QFile>

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;
using Submit = KVPDFAnnotationWidgetButtonSubmit;

const QString kDocIDField = QStringLiteral("com.folivo.docID");
const QString kDocTitleField = QStringLiteral("com.folivo.docTitle");

KVPDFObjectPtr readKey(const KVPDFObjectPtr &dictionary, QByteArrayView key)
{
    return kvReadableEntry(dictionary, key, u"Form submission");
}

int64_t folivoFlagsOf(const KVPDFObjectPtr &dictionary)
{
    KVPDFObjectPtr flags = readKey(dictionary, "FolivoFlags");
    return flags && flags->objectType() == KVPDFObject::TypeInteger ? flags->longLongValue() : 0;
}

// Whether a page whose annotations were not read holds a widget asking for something; only
// such pages are read, so a save of any other file reads no more than it did.
bool asksForSubmission(KVPDFPage &page)
{
    auto annots = kv_cast<KVPDFObjectArray>(readKey(page.pageDictionary(), "Annots"));
    for (size_t i = 0; annots && i < annots->count(); ++i) {
        KVPDFObjectPtr annotation;
        try {
            annotation = annots->resolvedObjectAtIndex(i);
        } catch (const FolivoException &) {
            continue;
        }
        if (folivoFlagsOf(annotation) & (Submit::AddSubmitInformationPage | Submit::AddDocumentIDFields))
            return true;
    }
    return false;
}

QString infoTitle(KVPDFDocument &document)
{
    KVPDFTrailer *trailer = document.trailer();
    Dictionary info = trailer ? kv_cast<KVPDFObjectDictionary>(readKey(trailer->trailerDictionary(), "Info")) : nullptr;
    auto title = kv_cast<KVPDFObjectString>(readKey(info, "Title"));
    return title ? title->stringValue() : QString();
}

std::shared_ptr<KVPDFAnnotationWidgetText> idField(const QString &name, const QString &text)
{
    auto field = std::make_shared<KVPDFAnnotationWidgetText>();
    field->setFieldName(name);
    field->setValue(KVPDFObjectString::stringWithString(text));
    field->setLocation(QPointF(0, 0));
    field->setSize(QSizeF(0, 0));
    // They travel with the submitted form; the reader has nothing to do with them.
    field->setFlag(KVPDFAnnotation::FlagHidden, true);
    return field;
}
}

bool KVPDFDocument::prepareFormSubmission()
{
    std::vector<std::shared_ptr<Submit>> submits;
    for (const auto &page : pages()) {
        if (!page || !page->pageDictionary() || (!page->processedAnnotations() && !asksForSubmission(*page)))
            continue;
        for (const auto &annotation : page->widgets())
            if (auto submit = std::dynamic_pointer_cast<Submit>(annotation); submit && submit->isSubmitButton())
                submits.push_back(submit);
    }
    uint64_t asked = 0;
    for (const auto &submit : submits)
        asked |= submit->folivoFlags();

    bool inserted = false;
    if (asked & Submit::AddSubmitInformationPage) {
        const std::shared_ptr<KVPDFPage> first = pageAtIndex(0);
        if (first && (folivoFlagsOf(first->pageDictionary()) & Submit::SubmitInformationPage)) {
            // In place from an earlier save.
        } else if (hadFormSubmitInstructionsOnOpen()) {
            // The user took the page out: the buttons stop asking for it.
            for (const auto &submit : submits)
                if (submit->folivoFlags() & Submit::AddSubmitInformationPage)
                    submit->setFolivoFlags(submit->folivoFlags() & ~uint64_t(Submit::AddSubmitInformationPage));
        } else {
            QFile resource(QStringLiteral(":/folivo/submitinfo.pdf"));
            KVPDFOpenResult result = KVPDFOpenOK;
            std::shared_ptr<KVPDFDocument> source =
                resource.open(QIODevice::ReadOnly) ? documentWithData(resource.readAll(), &result) : nullptr;
            std::shared_ptr<KVPDFPage> page = source && result == KVPDFOpenOK ? source->pageAtIndex(0) : nullptr;
            if (!page || !page->pageDictionary()) {
                kvLog(QStringLiteral("The submit information page resource is missing from this build"));
            } else {
                page->pageDictionary()->setObject(
                    "FolivoFlags", KVPDFObjectInteger::integerWithLongLong(folivoFlagsOf(page->pageDictionary())
                                                                           | Submit::SubmitInformationPage));
                insertPage(page, 0);
                inserted = true;
            }
        }
    }

    if (asked & Submit::AddDocumentIDFields) {
        std::shared_ptr<KVPDFPage> first = pageAtIndex(0);
        if (first)
            first->widgets();
        bool hasID = false, hasTitle = false;
        for (const auto &page : pages())
            if (page && page->processedAnnotations())
                for (const auto &annotation : page->widgets())
                    if (auto widget = std::dynamic_pointer_cast<KVPDFAnnotationWidget>(annotation)) {
                        hasID = hasID || widget->fieldName() == kDocIDField;
                        hasTitle = hasTitle || widget->fieldName() == kDocTitleField;
                    }
        if (first) {
            if (!hasID)
                first->addImprint(idField(kDocIDField, docID(0)));
            if (!hasTitle) {
                const QString title = infoTitle(*this);
                first->addImprint(idField(kDocTitleField, title.isEmpty() ? KVPDFServices::localizedString(QStringLiteral("Untitled"))
                                                                          : title));
            }
        }
    }
    return inserted;
}
