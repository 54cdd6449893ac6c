#include "KVPDFPageComposition.h"

#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFImprint.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFOperandText.h"
#include "KVPDFPage.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>

namespace {
using kvpdf::operandText;

bool isFiniteRect(const QRectF &rect)
{
    return std::isfinite(rect.x()) && std::isfinite(rect.y()) && std::isfinite(rect.width()) && std::isfinite(rect.height());
}

bool isFiniteTransform(const QTransform &m)
{
    for (double value : {m.m11(), m.m12(), m.m13(), m.m21(), m.m22(), m.m23(), m.m31(), m.m32(), m.m33()})
        if (!std::isfinite(value))
            return false;
    return true;
}

QByteArray rectOperands(const QRectF &rect)
{
    return operandText(rect.x()) + ' ' + operandText(rect.y()) + ' ' + operandText(rect.width()) + ' '
           + operandText(rect.height());
}

// A form object that draws `page` as it draws itself: its content joined and decoded (so a
// page of several streams becomes one), its Resources (inherited ones included), and its
// visible box as BBox. The stream is new; the resources are the page's own objects, which the
// one-page copy then copies.
std::shared_ptr<KVPDFObjectStream> formForPage(KVPDFPage &page, bool transparencyGroup, const QString &owner)
{
    const QByteArray content = KVPDFPage::joinedContent(page.contentStreams(), owner);
    if (!page.joinedContentWhole())
        kvLog(QStringLiteral("%1 is composed with the part of its content that decodes").arg(owner));
    auto form = KVPDFObjectStream::streamByDeflatingData(content);
    const std::shared_ptr<KVPDFObjectDictionary> &dictionary = form->dictionary();
    dictionary->setObject("Type", KVPDFObjectName::nameWithBytes("XObject"));
    dictionary->setObject("Subtype", KVPDFObjectName::nameWithBytes("Form"));
    dictionary->setObject("BBox", KVPDFPage::makePDFRect(KVPDFPageComposer::visibleBox(page)));
    std::shared_ptr<KVPDFObjectDictionary> resources = page.resources();
    if (resources && resources->objectNumber() != 0)
        dictionary->setObject("Resources", KVPDFObjectReference::referenceWithObject(resources));
    else if (resources)
        dictionary->setObject("Resources", resources->copy());
    else
        dictionary->setObject("Resources", std::make_shared<KVPDFObjectDictionary>());
    if (transparencyGroup) {
        auto group = std::make_shared<KVPDFObjectDictionary>();
        group->setObject("S", KVPDFObjectName::nameWithBytes("Transparency"));
        dictionary->setObject("Group", group);
    }
    return form;
}

QByteArray fail(const QString &reason, QString *error)
{
    kvLog(QStringLiteral("Page composition failed: %1").arg(reason));
    if (error)
        *error = reason;
    return QByteArray();
}
}

QRectF KVPDFPageComposer::visibleBox(KVPDFPage &page)
{
    const QRectF media = page.mediaBox();
    const std::optional<QRectF> crop = page.cropBox();
    if (!crop)
        return media;
    const QRectF visible = media.intersected(*crop);
    // Readers show the media box when the crop box misses it entirely.
    return visible.isEmpty() ? media : visible;
}

QTransform KVPDFPageComposer::uprightTransform(KVPDFPage &page)
{
    const QRectF box = visibleBox(page);
    const int angle = page.rotate().value_or(0);
    // /Rotate turns the page clockwise as shown; a positive QTransform angle turns it the
    // other way in PDF's y-up space.
    QTransform turn = QTransform::fromTranslate(-box.x(), -box.y()) * QTransform().rotate(-angle);
    const QRectF turned = turn.mapRect(QRectF(QPointF(), box.size()).translated(box.topLeft()));
    return turn * QTransform::fromTranslate(-turned.x(), -turned.y());
}

QByteArray KVPDFPageComposer::compose(KVPDFPage *source, const KVPDFPageComposition &composition, QString *error)
{
    if (!isFiniteRect(composition.mediaBox) || composition.mediaBox.width() <= 0 || composition.mediaBox.height() <= 0)
        return fail(QStringLiteral("the media box is empty or not finite"), error);
    if (!isFiniteTransform(composition.transform) || !composition.transform.isInvertible()
        || !composition.transform.isAffine())
        return fail(QStringLiteral("the transform is not an invertible affine map"), error);
    if (composition.clip && !isFiniteRect(*composition.clip))
        return fail(QStringLiteral("the clip is not finite"), error);
    if (std::isnan(composition.opacity))
        return fail(QStringLiteral("the opacity is not a number"), error);
    const double opacity = std::clamp(composition.opacity, 0.0, 1.0);

    try {
        // Held until the write: the layer's objects are copied out of it.
        std::shared_ptr<KVPDFDocument> layerDocument;
        std::shared_ptr<KVPDFPage> layerPage;
        if (!composition.layer.isEmpty()) {
            layerDocument = KVPDFDocument::documentWithData(composition.layer, nullptr);
            layerPage = layerDocument && layerDocument->pageCount() > 0 ? layerDocument->pageAtIndex(0) : nullptr;
            if (!layerPage || !layerPage->pageDictionary())
                return fail(QStringLiteral("the layer is not a PDF with a page"), error);
        }

        auto xobjects = std::make_shared<KVPDFObjectDictionary>();
        auto resources = std::make_shared<KVPDFObjectDictionary>();
        QByteArray content;
        if (source) {
            const bool faded = opacity < 1.0;
            auto form = formForPage(*source, faded, QStringLiteral("The composed page"));
            xobjects->setObject("Source", KVPDFObjectReference::referenceWithObject(form));
            const QTransform &m = composition.transform;
            content += "q\n";
            if (composition.clip)
                content += rectOperands(*composition.clip) + " re W n\n";
            content += operandText(m.m11()) + ' ' + operandText(m.m12()) + ' ' + operandText(m.m21()) + ' '
                       + operandText(m.m22()) + ' ' + operandText(m.dx()) + ' ' + operandText(m.dy()) + " cm\n";
            if (faded) {
                auto alpha = std::make_shared<KVPDFObjectDictionary>();
                alpha->setObject("Type", KVPDFObjectName::nameWithBytes("ExtGState"));
                alpha->setObject("CA", KVPDFObjectReal::realWithFloat(float(opacity)));
                alpha->setObject("ca", KVPDFObjectReal::realWithFloat(float(opacity)));
                auto states = std::make_shared<KVPDFObjectDictionary>();
                states->setObject("Faded", alpha);
                resources->setObject("ExtGState", states);
                content += "/Faded gs\n";
            }
            content += "/Source Do\nQ\n";
        }
        if (layerPage) {
            auto form = formForPage(*layerPage, false, QStringLiteral("The composed layer"));
            xobjects->setObject("Layer", KVPDFObjectReference::referenceWithObject(form));
            content += "q\n/Layer Do\nQ\n";
        }
        if (xobjects->count() > 0)
            resources->setObject("XObject", xobjects);

        // The new page's content is itself a form handed to the one-page copy, which copies
        // what its resources reach and numbers the new file.
        auto page = KVPDFObjectStream::streamWithData(content);
        page->dictionary()->setObject("Resources", resources);
        QByteArray data = KVPDFImprint::onePageDataForForm(page, KVPDFPage::makePDFRect(composition.mediaBox));
        if (data.isEmpty())
            return fail(QStringLiteral("the page could not be copied"), error);
        return data;
    } catch (const std::exception &failure) {
        return fail(QStringLiteral("the source's objects do not parse (%1)").arg(QString::fromUtf8(failure.what())), error);
    }
}
