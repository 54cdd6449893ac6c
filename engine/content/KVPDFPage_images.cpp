// The page's images as pixels: bitmaps of their samples, and recompression as JPEG for saves
// that ask for smaller files.
#include "KVPDFPage.h"

#include "KVBitmap.h"
#include "KVImageRep.h"
#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFContentInterpreter.h"
#include "KVPDFGraphicsState.h"
#include "KVPDFImage.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectBoolean.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectStream.h"
#include "KVPDFReferenceTranslator.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <exception>
#include <typeinfo>
#include <optional>
#include <unordered_set>

namespace {

KVPDFObjectPtr entry(KVPDFObjectDictionary &dictionary, QByteArrayView key) { return kvpdfImageEntry(dictionary, key); }
KVPDFObjectPtr element(KVPDFObjectArray &array, size_t index) { return kvpdfImageElement(array, index); }

std::optional<int64_t> integerEntry(KVPDFObjectDictionary &dictionary, QByteArrayView key)
{
    const KVPDFObjectPtr value = entry(dictionary, key);
    if (!value || value->objectType() != KVPDFObject::TypeInteger)
        return std::nullopt;
    return value->longLongValue();
}

// Samples per pixel of a colour space JPEG stores as it is: 1 for DeviceGray, 3 for DeviceRGB,
// the N of an ICCBased profile when it is 1 or 3; 0 for any other.
int jpegComponents(const KVPDFObjectPtr &space)
{
    if (auto name = kv_cast<KVPDFObjectName>(space)) {
        if (name->bytes() == "DeviceGray")
            return 1;
        return name->bytes() == "DeviceRGB" ? 3 : 0;
    }
    auto array = kv_cast<KVPDFObjectArray>(space);
    if (!array || array->count() != 2)
        return 0;
    auto family = kv_cast<KVPDFObjectName>(element(*array, 0));
    auto profile = kv_cast<KVPDFObjectStream>(element(*array, 1));
    if (!family || family->bytes() != "ICCBased" || !profile || !profile->dictionary())
        return 0;
    const std::optional<int64_t> n = integerEntry(*profile->dictionary(), "N");
    return n && (*n == 1 || *n == 3) ? int(*n) : 0;
}

bool isTrue(KVPDFObjectDictionary &dictionary, QByteArrayView key)
{
    auto value = kv_cast<KVPDFObjectBoolean>(entry(dictionary, key));
    return value && value->boolValue();
}

struct Samples {
    int width = 0;
    int height = 0;
    int components = 0;
};

// The pixel layout of an 8-bit gray or RGB image whose samples mean what they say (no Decode,
// not a mask, no colour key), when its decoded data holds every pixel; else nothing.
std::optional<Samples> plainSamples(KVPDFObjectStream &stream)
{
    if (!stream.dictionary())
        return std::nullopt;
    KVPDFObjectDictionary &dictionary = *stream.dictionary();
    if (dictionary.nameForKey("Subtype") != "Image" && dictionary.objectForKey("Subtype"))
        return std::nullopt;
    if (isTrue(dictionary, "ImageMask") || entry(dictionary, "Decode"))
        return std::nullopt;
    // A colour key names exact sample values; lossy samples would no longer match them.
    if (kv_cast<KVPDFObjectArray>(entry(dictionary, "Mask")))
        return std::nullopt;
    if (integerEntry(dictionary, "BitsPerComponent").value_or(0) != 8)
        return std::nullopt;
    const int components = jpegComponents(entry(dictionary, "ColorSpace"));
    const int64_t width = integerEntry(dictionary, "Width").value_or(0);
    const int64_t height = integerEntry(dictionary, "Height").value_or(0);
    // JPEG's own limit on each side.
    constexpr int64_t kMaxSide = 65500;
    if (components == 0 || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return std::nullopt;
    if (qsizetype(stream.decodedData().size()) < width * height * components)
        return std::nullopt;
    return Samples{int(width), int(height), components};
}

bool isFlateAlone(KVPDFObjectDictionary &dictionary)
{
    const KVPDFObjectPtr filter = entry(dictionary, "Filter");
    if (auto name = kv_cast<KVPDFObjectName>(filter))
        return name->bytes() == "FlateDecode";
    auto array = kv_cast<KVPDFObjectArray>(filter);
    if (!array || array->count() != 1)
        return false;
    auto only = kv_cast<KVPDFObjectName>(element(*array, 0));
    return only && only->bytes() == "FlateDecode";
}

} // namespace

KVBitmap KVPDFPage::bitmapFromImage(KVPDFObjectStream &stream)
{
    const std::optional<Samples> samples = plainSamples(stream);
    if (!samples)
        return KVBitmap();
    const qsizetype rowBytes = qsizetype(samples->width) * samples->components;
    const QByteArray data = stream.decodedData().left(rowBytes * samples->height);
    return KVBitmap::fromData(data, samples->width, samples->height, rowBytes,
                              samples->components == 1 ? KVBitmap::ColorModel::Gray : KVBitmap::ColorModel::RGB, false);
}

bool KVPDFPage::isRecompressibleImage(KVPDFObjectStream &stream)
{
    return stream.dictionary() && isFlateAlone(*stream.dictionary()) && plainSamples(stream).has_value();
}

bool KVPDFPage::compressImage(KVPDFObjectStream &stream, QSizeF actualSize, float compression, int maxPPI)
{
    if (!isRecompressibleImage(stream))
        return false;
    KVBitmap bitmap = bitmapFromImage(stream);
    if (bitmap.isNull())
        return false;
    const bool gray = bitmap.colorModel() == KVBitmap::ColorModel::Gray;
    if (actualSize.width() > 0 && actualSize.height() > 0 && maxPPI > 0) {
        const double inchesWide = actualSize.width() / 72.0;
        const double inchesHigh = actualSize.height() / 72.0;
        if (bitmap.width() / inchesWide > maxPPI || bitmap.height() / inchesHigh > maxPPI) {
            const int width = int(std::clamp<double>(std::lround(inchesWide * maxPPI), 1, bitmap.width()));
            const int height = int(std::clamp<double>(std::lround(inchesHigh * maxPPI), 1, bitmap.height()));
            // Smooth scaling may hand back a 32-bit image; the samples must stay as many as
            // the colour space says.
            QImage scaled = bitmap.toQImage().scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            scaled.convertTo(gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
            bitmap = KVBitmap::fromQImage(scaled);
            if (bitmap.isNull() || (bitmap.colorModel() == KVBitmap::ColorModel::Gray) != gray)
                return false;
        }
    }
    const QByteArray jpeg = KVBitmapJPEGData(bitmap, std::clamp(double(compression), 0.0, 1.0));
    if (jpeg.isEmpty())
        return false;
    KVPDFObjectDictionary &dictionary = *stream.dictionary();
    dictionary.setObject("Filter", KVPDFObjectName::nameWithBytes("DCTDecode"));
    dictionary.removeObjectForKey("DecodeParms");
    dictionary.removeObjectForKey("DP");
    dictionary.setObject("Width", KVPDFObjectInteger::integerWithLongLong(bitmap.width()));
    dictionary.setObject("Height", KVPDFObjectInteger::integerWithLongLong(bitmap.height()));
    dictionary.setObject("BitsPerComponent", KVPDFObjectInteger::integerWithLongLong(8));
    stream.updateRawData(jpeg);
    return true;
}

void KVPDFPage::compressImages(const QVariantMap &options)
{
    float compression = 1.0f;
    int maxPPI = 300;
    if (!options.isEmpty()) {
        compression = options.value(QStringLiteral("compression")).toFloat();
        maxPPI = options.value(QStringLiteral("ppi")).toInt();
    }
    parseContent();
    try {
        std::unordered_set<const KVPDFObjectStream *> done;
        for (const auto &image : images()) {
            if (!image || !image->xObject() || !done.insert(image->xObject().get()).second)
                continue;
            compressImage(*image->xObject(), QSizeF(image->width(), image->height()), compression, maxPPI);
        }
    } catch (const std::exception &failure) {
        kvLog(QStringLiteral("Unexpected exception (name: %1, reason: %2) compressing images on page: %3")
                  .arg(QString::fromLatin1(typeid(failure).name()), QString::fromUtf8(failure.what()))
                  .arg(m_pageNumber + 1));
    }
}

std::vector<KVPDFPage::ImageReplacement> KVPDFPage::compressedImageCopies(float compression, int maxPPI,
                                                                          const std::function<bool(const KVPDFObjectStream &)> &wanted)
{
    std::vector<ImageReplacement> replacements;
    try {
        // A page nobody interpreted yet is interpreted for its images alone, and kept as it
        // was: its text would only be thrown away.
        std::vector<std::shared_ptr<KVPDFImage>> drawn;
        if (parsedContent()) {
            drawn = images();
        } else {
            KVPDFGraphicsState initial;
            const QPointF origin = cropBox().value_or(mediaBox()).topLeft();
            initial.CTM = QTransform::fromTranslate(-origin.x(), -origin.y());
            const std::vector<std::shared_ptr<KVPDFObjectStream>> streams = contentStreams();
            const QByteArray data = streams.empty() || !streams.front() ? QByteArray() : streams.front()->decodedData();
            KVPDFGraphicsStateKeeper keeper(initial);
            KVPDFImageCollector collector(keeper);
            KVPDFContentSinkList sinks({&keeper, &collector});
            KVPDFContentInterpreter interpreter(sinks, m_document);
            interpreter.interpret(data, resources());
            drawn = collector.takeImages();
        }
        std::unordered_set<const KVPDFObjectStream *> seen;
        for (const auto &image : drawn) {
            const std::shared_ptr<KVPDFObjectStream> original = image ? image->xObject() : nullptr;
            if (!original || !seen.insert(original.get()).second || (wanted && !wanted(*original)))
                continue;
            if (!isRecompressibleImage(*original))
                continue;
            // Strings of an encrypted file decrypt under the number the copy would lose.
            KVPDFReferenceTranslator::settleStrings(original);
            auto copy = kv_cast<KVPDFObjectStream>(original->copy());
            if (copy && compressImage(*copy, QSizeF(image->width(), image->height()), compression, maxPPI))
                replacements.emplace_back(original, copy);
        }
    } catch (const std::exception &failure) {
        kvLog(QStringLiteral("Unexpected exception (name: %1, reason: %2) compressing images on page: %3")
                  .arg(QString::fromLatin1(typeid(failure).name()), QString::fromUtf8(failure.what()))
                  .arg(m_pageNumber + 1));
        replacements.clear();
    }
    return replacements;
}
