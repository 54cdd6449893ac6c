#include "KVPDFImage.h"

#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFImport.h"
#include "KVPDFImprint.h"
#include "KVPDFLog.h"
#include "KVPDFPage.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectBoolean.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"

#include <QRectF>

#include <algorithm>
#include <cmath>
#include <limits>

KVPDFObjectPtr kvpdfImageEntry(KVPDFObjectDictionary &dictionary, QByteArrayView key)
{
    try {
        KVPDFObjectPtr value = dictionary.resolvedObjectForKey(key);
        return value ? value->resolvedObject() : nullptr;
    } catch (const FolivoException &) {
        return nullptr;
    }
}

KVPDFObjectPtr kvpdfImageElement(KVPDFObjectArray &array, size_t index)
{
    try {
        KVPDFObjectPtr value = index < array.count() ? array.objectAtIndex(index) : nullptr;
        return value ? value->resolvedObject() : nullptr;
    } catch (const FolivoException &) {
        return nullptr;
    }
}

namespace {

KVPDFObjectPtr entry(KVPDFObjectDictionary &dictionary, QByteArrayView key) { return kvpdfImageEntry(dictionary, key); }
KVPDFObjectPtr element(KVPDFObjectArray &array, size_t index) { return kvpdfImageElement(array, index); }

float realEntry(KVPDFObjectDictionary &dictionary, QByteArrayView key)
{
    const KVPDFObjectPtr value = entry(dictionary, key);
    return kvIsNumber(value) ? value->realValue() : 0;
}

// Saturated, so a value out of range does not wrap into a small one.
int32_t integerEntry(KVPDFObjectDictionary &dictionary, QByteArrayView key, int32_t fallback = 0)
{
    const KVPDFObjectPtr value = entry(dictionary, key);
    if (!kvIsNumber(value))
        return fallback;
    if (value->objectType() == KVPDFObject::TypeReal) {
        const float real = value->realValue();
        if (!std::isfinite(real))
            return fallback;
        return int32_t(std::clamp<double>(std::trunc(real), std::numeric_limits<int32_t>::min(),
                                          std::numeric_limits<int32_t>::max()));
    }
    return int32_t(std::clamp<int64_t>(value->longLongValue(), std::numeric_limits<int32_t>::min(),
                                       std::numeric_limits<int32_t>::max()));
}

// Whether a colour space has one grey component. An ICC profile says so by its Alternate or,
// without one, by N 1; `depth` bounds an Alternate that names another ICCBased space.
bool isGrey(const KVPDFObjectPtr &space, int depth = 0)
{
    if (!space || depth > 2)
        return false;
    if (auto name = kv_cast<KVPDFObjectName>(space))
        return name->bytes() == "DeviceGray" || name->bytes() == "CalGray";
    auto array = kv_cast<KVPDFObjectArray>(space);
    if (!array)
        return false;
    auto family = kv_cast<KVPDFObjectName>(element(*array, 0));
    if (!family)
        return false;
    if (family->bytes() == "DeviceGray" || family->bytes() == "CalGray")
        return true;
    if (family->bytes() != "ICCBased")
        return false;
    auto profile = kv_cast<KVPDFObjectStream>(element(*array, 1));
    if (!profile || !profile->dictionary())
        return false;
    if (KVPDFObjectPtr alternate = entry(*profile->dictionary(), "Alternate"))
        return isGrey(alternate, depth + 1);
    return integerEntry(*profile->dictionary(), "N") == 1;
}

bool isImage(KVPDFObjectStream &stream)
{
    if (!stream.dictionary())
        return false;
    auto subtype = kv_cast<KVPDFObjectName>(entry(*stream.dictionary(), "Subtype"));
    return subtype && subtype->bytes() == "Image";
}

} // namespace

std::shared_ptr<KVPDFImage> KVPDFImage::imageWithXObject(const std::shared_ptr<KVPDFObjectStream> &xObject)
{
    return xObject ? std::make_shared<KVPDFImage>(xObject) : nullptr;
}

KVPDFImage::KVPDFImage(const std::shared_ptr<KVPDFObjectStream> &xObject) : m_xObject(xObject)
{
    if (!m_xObject || !m_xObject->dictionary())
        return;
    KVPDFObjectDictionary &dictionary = *m_xObject->dictionary();
    m_urlString = kv_cast<KVPDFObjectString>(entry(dictionary, "FolivoURL"));
    m_pixelWidth = m_width = realEntry(dictionary, "Width");
    m_pixelHeight = m_height = realEntry(dictionary, "Height");
    // A stencil mask has one bit per pixel whether or not it says so.
    auto mask = kv_cast<KVPDFObjectBoolean>(entry(dictionary, "ImageMask"));
    m_bitsPerComponent = integerEntry(dictionary, "BitsPerComponent", mask && mask->boolValue() ? 1 : 0);
    m_grayscale = isGrey(entry(dictionary, "ColorSpace"));
    m_length = integerEntry(dictionary, "Length");
}

QString KVPDFImage::description() const
{
    return QStringLiteral("KVPDFImage %1: %2 %3 %4 %5")
        .arg(QString::fromLatin1(m_name))
        .arg(double(m_x))
        .arg(double(m_y))
        .arg(double(m_width))
        .arg(double(m_height));
}

namespace {

// Puts `stream` in the table under the image's number and rebuilds the data; on failure the
// table gets `previous` back, so the document stays as it was.
bool replaceInTable(KVPDFDocument &document, const std::shared_ptr<KVPDFObjectStream> &image,
                    const std::shared_ptr<KVPDFObjectStream> &stream)
{
    if (!image || image->objectNumber() == 0 || !stream)
        return false;
    const uint64_t number = image->objectNumber();
    const uint64_t generation = image->generation();
    const KVPDFObjectPtr previous = document.objectWithNumber(number, generation);
    document.setObject(stream, number, generation);
    if (document.updateDocData())
        return true;
    if (previous)
        document.setObject(previous, number, generation);
    return false;
}

} // namespace

bool KVPDFImage::blankOutImage(KVPDFDocument &document)
{
    using Entry = KVPDFObjectDictionary::Entry;
    auto integer = [](int64_t value) { return KVPDFObjectInteger::integerWithLongLong(value); };
    auto name = [](const char *bytes) { return KVPDFObjectName::nameWithBytes(bytes); };
    auto dictionary = KVPDFObjectDictionary::dictionaryWithDictionary(std::vector<Entry>{
        {"Type", name("XObject")},
        {"Subtype", name("Image")},
        {"FolivoBlank", name("FolivoBlank")},
        {"Length", integer(1)},
        {"Height", integer(1)},
        {"Width", integer(1)},
        {"BitsPerComponent", integer(8)},
        {"ColorSpace", name("DeviceGray")},
    });
    const QByteArray white(1, char(0xFF));
    auto blank = KVPDFObjectStream::streamWithDictionary(dictionary, white, {0, 1});
    // Marked first: a successful rebuild rereads the pages and may drop the last reference to
    // this record, so nothing of it is touched afterwards.
    m_blankedOut = true;
    if (replaceInTable(document, m_xObject, blank))
        return true;
    m_blankedOut = false;
    return false;
}

bool KVPDFImage::restoreImage(KVPDFDocument &document)
{
    const bool wasBlankedOut = m_blankedOut;
    m_blankedOut = false;
    if (replaceInTable(document, m_xObject, m_xObject))
        return true;
    m_blankedOut = wasBlankedOut;
    return false;
}

bool KVPDFImage::hasBeenBlankedOut() const
{
    return m_blankedOut || (m_xObject && m_xObject->dictionary() && m_xObject->dictionary()->objectForKey("FolivoBlank"));
}

void KVPDFImage::restore() const { kvLog(QStringLiteral("restore only works with browseback for now")); }

namespace {

// Draws `image` (an object of the page's document) alone on the page under `ctm`, the page's
// size becoming `mediaBox`.
void drawImageAlone(KVPDFPage &page, const KVPDFObjectPtr &image, const QTransform &ctm, const QRectF &mediaBox)
{
    const QByteArray content = QStringLiteral("q\r\t\t%1 %2 %3 %4 %5 %6 cm\r\t\t/FolivoImage Do\r\t\tQ")
                                   .arg(ctm.m11(), 0, 'f', 6)
                                   .arg(ctm.m12(), 0, 'f', 6)
                                   .arg(ctm.m21(), 0, 'f', 6)
                                   .arg(ctm.m22(), 0, 'f', 6)
                                   .arg(ctm.dx(), 0, 'f', 6)
                                   .arg(ctm.dy(), 0, 'f', 6)
                                   .toLatin1();
    auto contents = KVPDFObjectStream::streamWithData(content);
    page.addExtraObject(contents);
    auto xObjects = KVPDFObjectDictionary::dictionaryWithDictionary(
        std::vector<KVPDFObjectDictionary::Entry>{{"FolivoImage", KVPDFObjectReference::referenceWithObject(image)}});
    auto resources =
        KVPDFObjectDictionary::dictionaryWithDictionary(std::vector<KVPDFObjectDictionary::Entry>{{"XObject", xObjects}});
    const std::shared_ptr<KVPDFObjectDictionary> &pageDictionary = page.pageDictionary();
    pageDictionary->setObject("MediaBox", KVPDFPage::makePDFRect(mediaBox));
    pageDictionary->removeObjectForKey("CropBox");
    pageDictionary->setObject("Resources", resources);
    pageDictionary->setObject("Contents", KVPDFObjectReference::referenceWithObject(contents));
}

// A one-page document made from the engine's blank page, and that page; null when it cannot
// be made.
std::pair<std::shared_ptr<KVPDFDocument>, std::shared_ptr<KVPDFPage>> blankDocumentAndPage()
{
    std::shared_ptr<KVPDFDocument> document = KVPDFDocument::documentWithData(KVPDFBlankPage(), nullptr);
    std::shared_ptr<KVPDFPage> page = document ? document->pageAtIndex(0) : nullptr;
    if (!page || !page->pageDictionary())
        return {};
    return {document, page};
}

// Why `samples` cannot be written, or empty when they can.
QString faultOfSamples(const KVPDFImageSamples &samples)
{
    if (samples.width <= 0 || samples.height <= 0)
        return QStringLiteral("an image without pixels");
    const qint64 pixels = qint64(samples.width) * samples.height;
    switch (samples.kind) {
    case KVPDFImageSamples::Kind::Gray:
        if (samples.data.size() != pixels)
            return QStringLiteral("grey samples of the wrong size");
        break;
    case KVPDFImageSamples::Kind::RGB:
        if (samples.data.size() != pixels * 3)
            return QStringLiteral("colour samples of the wrong size");
        break;
    case KVPDFImageSamples::Kind::JPEG:
        if (samples.data.isEmpty())
            return QStringLiteral("no JPEG data");
        if (samples.components != 1 && samples.components != 3 && samples.components != 4)
            return QStringLiteral("a JPEG of %1 components").arg(samples.components);
        break;
    }
    if (!samples.alpha.isEmpty() && samples.alpha.size() != pixels)
        return QStringLiteral("alpha of the wrong size");
    return {};
}

std::shared_ptr<KVPDFObjectDictionary> imageDictionary(const KVPDFImageSamples &samples, const char *colorSpace)
{
    using Entry = KVPDFObjectDictionary::Entry;
    auto integer = [](int64_t value) { return KVPDFObjectInteger::integerWithLongLong(value); };
    auto name = [](const char *bytes) { return KVPDFObjectName::nameWithBytes(bytes); };
    return KVPDFObjectDictionary::dictionaryWithDictionary(std::vector<Entry>{
        {"Type", name("XObject")},
        {"Subtype", name("Image")},
        {"Width", integer(samples.width)},
        {"Height", integer(samples.height)},
        {"BitsPerComponent", integer(8)},
        {"ColorSpace", name(colorSpace)},
    });
}

// A Flate-compressed image stream of `data` under `dictionary`'s entries.
std::shared_ptr<KVPDFObjectStream> deflatedImage(const QByteArray &data, const std::shared_ptr<KVPDFObjectDictionary> &dictionary)
{
    auto stream = KVPDFObjectStream::streamByDeflatingData(data);
    for (const auto &[key, value] : dictionary->value())
        stream->dictionary()->setObject(key, value);
    return stream;
}

// The image XObject of `samples` (and its SMask), made extra objects of `page`.
std::shared_ptr<KVPDFObjectStream> imageStream(KVPDFPage &page, const KVPDFImageSamples &samples)
{
    std::shared_ptr<KVPDFObjectStream> image;
    switch (samples.kind) {
    case KVPDFImageSamples::Kind::Gray:
        image = deflatedImage(samples.data, imageDictionary(samples, "DeviceGray"));
        break;
    case KVPDFImageSamples::Kind::RGB:
        image = deflatedImage(samples.data, imageDictionary(samples, "DeviceRGB"));
        break;
    case KVPDFImageSamples::Kind::JPEG: {
        const char *space = samples.components == 1 ? "DeviceGray" : samples.components == 3 ? "DeviceRGB" : "DeviceCMYK";
        auto dictionary = imageDictionary(samples, space);
        dictionary->setObject("Filter", KVPDFObjectName::nameWithBytes("DCTDecode"));
        dictionary->setObject("Length", KVPDFObjectInteger::integerWithLongLong(samples.data.size()));
        if (samples.components == 4 && samples.invertedCMYK) {
            std::vector<KVPDFObjectPtr> decode;
            for (int i = 0; i < 4; ++i) {
                decode.push_back(KVPDFObjectInteger::integerWithLongLong(1));
                decode.push_back(KVPDFObjectInteger::integerWithLongLong(0));
            }
            dictionary->setObject("Decode", KVPDFObjectArray::arrayWithArray(std::move(decode)));
        }
        image = KVPDFObjectStream::streamWithDictionary(dictionary, samples.data, {0, uint64_t(samples.data.size())});
        break;
    }
    }
    if (!samples.alpha.isEmpty()) {
        KVPDFImageSamples mask;
        mask.width = samples.width;
        mask.height = samples.height;
        auto smask = deflatedImage(samples.alpha, imageDictionary(mask, "DeviceGray"));
        page.addExtraObject(smask);
        image->dictionary()->setObject("SMask", KVPDFObjectReference::referenceWithObject(smask));
    }
    page.addExtraObject(image);
    return image;
}

} // namespace

QByteArray KVPDFImage::pdfData() const
{
    if (!m_xObject)
        return QByteArray();
    auto [document, page] = blankDocumentAndPage();
    if (!page)
        return QByteArray();
    // The image and what it reaches (its soft mask, its colour space) become the new
    // document's own, so the one-page file depends on nothing of the image's document.
    KVPDFImport import(*document);
    KVPDFObjectPtr image = import.add(m_xObject);
    import.finish();
    if (!image)
        return QByteArray();
    drawImageAlone(*page, image, m_gstate.CTM, m_gstate.CTM.mapRect(QRectF(0, 0, 1, 1)));
    return document->currentDataWithImprints(true);
}

QByteArray KVPDFImage::pdfDataWithImages(const std::vector<KVPDFImagePage> &pages)
{
    if (pages.empty()) {
        kvLog(QStringLiteral("A PDF of images needs at least one image"));
        return QByteArray();
    }
    for (size_t index = 0; index < pages.size(); ++index) {
        const KVPDFImagePage &entry = pages[index];
        QString fault = faultOfSamples(entry.image);
        const QSizeF size = entry.pageSize;
        if (fault.isEmpty() && !(size.width() > 0 && size.height() > 0 && std::isfinite(size.width()) && std::isfinite(size.height())))
            fault = QStringLiteral("a page without area");
        if (fault.isEmpty() && !entry.ctm.isInvertible())
            fault = QStringLiteral("an image drawn without area");
        if (!fault.isEmpty()) {
            kvLog(QStringLiteral("Image %1 of a PDF of images cannot be written: %2").arg(index + 1).arg(fault));
            return QByteArray();
        }
    }
    try {
        std::shared_ptr<KVPDFDocument> document;
        for (size_t index = 0; index < pages.size(); ++index) {
            const KVPDFImagePage &entry = pages[index];
            // Each page starts in a document of its own and moves into the first, which
            // brings its objects along; the blank page's tree is not one pages can be added to
            // in place.
            auto [pageDocument, page] = blankDocumentAndPage();
            if (!page)
                return QByteArray();
            drawImageAlone(*page, imageStream(*page, entry.image), entry.ctm,
                           QRectF(0, 0, entry.pageSize.width(), entry.pageSize.height()));
            if (!document) {
                document = pageDocument;
            } else {
                // Out of its own list first, so it moves rather than being copied.
                pageDocument->removePageAtIndex(0);
                document->insertPage(page, document->pageCount());
            }
        }
        return document->currentDataWithImprints(true);
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("A PDF of images could not be written: %1").arg(QString::fromStdString(failure.reason())));
        return QByteArray();
    }
}

void KVPDFImageCollector::xobject(const KVPDFContentEvent &, const QByteArray &name,
                                  const std::shared_ptr<KVPDFObjectStream> &object)
{
    if (!object || !isImage(*object))
        return;
    std::shared_ptr<KVPDFImage> image = KVPDFImage::imageWithXObject(object);
    const KVPDFGraphicsState &state = m_keeper.state();
    image->setGstate(state);
    const QRectF box = state.CTM.mapRect(QRectF(0, 0, 1, 1));
    image->setX(float(box.x()));
    image->setY(float(box.y()));
    image->setWidth(float(box.width()));
    image->setHeight(float(box.height()));
    image->setName(name);
    m_images.push_back(std::move(image));
}
