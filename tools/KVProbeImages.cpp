// kvprobe images FILE [--page N] [--password P]
//
// One entry per Do of an image XObject in the content of page N (1-based), or of every page,
// in content order, forms' content included, as the engine's content interpretation records
// them:
//   {"images": [{"page": 1, "name": "Im0", "object": "12 0 R" | null, "pixels": [W, H] | null,
//     "bpc": 8, "grey": false, "colorSpace": "ICCBased" | null, "components": 3 | null,
//     "filters": ["FlateDecode"], "box": [x, y, width, height]}, ...]}
// "object" is the image's indirect object (null for a stream that has none); "pixels" are its
// Width and Height, null unless both are above 0; "box" is the bounding box of the unit square
// under the CTM at the Do, in page space with the crop box's lower-left corner as the origin,
// to four decimals. "colorSpace" is the family of the ColorSpace entry (a name, or an array's
// first element), null when there is none (a stencil mask); "components" the samples per pixel
// it gives (an ICCBased profile's N, 1 for Indexed), null when unknown; "filters" the Filter
// chain's names, in order. Inline images have no entry.
#include "KVProbeImages.h"

#include "KVProbeJson.h"
#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFImage.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectStream.h"
#include "KVPDFPage.h"

#include <QJsonArray>

#include <cstdio>
#include <optional>
#include <utility>

namespace {

int usage()
{
    std::fprintf(stderr, "usage: kvprobe images FILE [--page N] [--password P]\n");
    return 2;
}

KVPDFObjectPtr resolved(const KVPDFObjectPtr &value)
{
    try {
        return value ? value->resolvedObject() : nullptr;
    } catch (const FolivoException &) {
        return nullptr;
    }
}

// The colour space's family and the samples per pixel it gives (0 when unknown).
std::optional<std::pair<QByteArray, int>> colorSpaceOf(KVPDFObjectStream &stream)
{
    if (!stream.dictionary())
        return std::nullopt;
    KVPDFObjectPtr space;
    try {
        space = resolved(stream.dictionary()->resolvedObjectForKey("ColorSpace"));
    } catch (const FolivoException &) {
        return std::nullopt;
    }
    auto array = kv_cast<KVPDFObjectArray>(space);
    auto family = kv_cast<KVPDFObjectName>(array && array->count() ? resolved(array->objectAtIndex(0)) : space);
    if (!family)
        return std::nullopt;
    const QByteArray name = family->bytes();
    int components = 0;
    if (name == "DeviceGray" || name == "CalGray" || name == "Indexed" || name == "Separation")
        components = 1;
    else if (name == "DeviceRGB" || name == "CalRGB" || name == "Lab")
        components = 3;
    else if (name == "DeviceCMYK")
        components = 4;
    else if (name == "ICCBased" && array && array->count() > 1)
        if (auto profile = kv_cast<KVPDFObjectStream>(resolved(array->objectAtIndex(1))))
            if (profile->dictionary())
                components = int(profile->dictionary()->integerForKey("N"));
    return std::make_pair(name, components);
}

QJsonObject imageJson(const KVPDFImage &image, size_t pageIndex)
{
    QJsonObject entry;
    entry[QStringLiteral("page")] = qint64(pageIndex + 1);
    entry[QStringLiteral("name")] = QString::fromLatin1(image.name());
    const auto &stream = image.xObject();
    if (stream && stream->objectNumber() != 0)
        entry[QStringLiteral("object")] = QStringLiteral("%1 %2 R").arg(stream->objectNumber()).arg(stream->generation());
    else
        entry[QStringLiteral("object")] = QJsonValue();
    if (image.hasPixels())
        entry[QStringLiteral("pixels")] = QJsonArray{kvProbeRounded(image.pixelWidth()), kvProbeRounded(image.pixelHeight())};
    else
        entry[QStringLiteral("pixels")] = QJsonValue();
    entry[QStringLiteral("bpc")] = image.bitspercomponent();
    entry[QStringLiteral("grey")] = image.isGrayScale();
    const std::optional<std::pair<QByteArray, int>> space = stream ? colorSpaceOf(*stream) : std::nullopt;
    entry[QStringLiteral("colorSpace")] = space ? QJsonValue(QString::fromLatin1(space->first)) : QJsonValue();
    entry[QStringLiteral("components")] = space && space->second > 0 ? QJsonValue(space->second) : QJsonValue();
    QJsonArray filters;
    QList<QByteArray> names;
    if (stream && kvProbeFilters(*stream, &names))
        for (const QByteArray &name : names)
            filters.append(QString::fromLatin1(name));
    entry[QStringLiteral("filters")] = filters;
    entry[QStringLiteral("box")] =
        QJsonArray{kvProbeRounded(image.x()), kvProbeRounded(image.y()), kvProbeRounded(image.width()), kvProbeRounded(image.height())};
    return entry;
}

} // namespace

QJsonObject kvprobeImagesJson(const QString &path, const QStringList &options, int *exitCode)
{
    *exitCode = 0;
    const std::optional<KVProbeOptions> read = kvProbeOptions(options, {});
    if (!read) {
        *exitCode = usage();
        return {};
    }
    const std::shared_ptr<KVPDFDocument> document = kvProbeOpen(path, read->password, exitCode);
    if (!document)
        return {};
    const qlonglong pageNumber = read->page;
    if (pageNumber > 0 && !kvProbePage(*document, path, pageNumber)) {
        *exitCode = 2;
        return {};
    }
    const size_t first = pageNumber > 0 ? size_t(pageNumber - 1) : 0;
    const size_t end = pageNumber > 0 ? first + 1 : document->pageCount();
    QJsonArray images;
    for (size_t index = first; index < end; ++index) {
        const std::shared_ptr<KVPDFPage> page = document->pageAtIndex(index);
        if (!page)
            continue;
        page->parseContent();
        for (const auto &image : page->images())
            if (image)
                images.append(imageJson(*image, index));
    }
    QJsonObject out;
    out[QStringLiteral("images")] = images;
    return out;
}

int kvprobeImages(const QString &path, const QStringList &options)
{
    int exitCode = 0;
    const QJsonObject out = kvprobeImagesJson(path, options, &exitCode);
    return kvProbePrintUnlessFailed(out, exitCode);
}
