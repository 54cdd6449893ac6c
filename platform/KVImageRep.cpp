#include "KVImageRep.h"

#include <QFile>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio> // jpeglib.h needs FILE
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>

namespace {
enum class DataFormat { None, TIFF, JPEG };

DataFormat bitmapDataFormat(const KVBitmap &bitmap)
{
    if (bitmap.isNull())
        return DataFormat::None;
    if (bitmap.hasAlpha() || bitmap.bitsPerPixel() <= 8)
        return DataFormat::TIFF;
    return DataFormat::JPEG;
}

// libtiff writes through these into a growing byte array.
struct MemoryFile {
    QByteArray bytes;
    qsizetype position = 0;
};

tsize_t memoryRead(thandle_t handle, tdata_t buffer, tsize_t size)
{
    auto *file = static_cast<MemoryFile *>(handle);
    const qsizetype count = std::clamp<qsizetype>(file->bytes.size() - file->position, 0, size);
    std::memcpy(buffer, file->bytes.constData() + file->position, size_t(count));
    file->position += count;
    return count;
}

tsize_t memoryWrite(thandle_t handle, tdata_t buffer, tsize_t size)
{
    auto *file = static_cast<MemoryFile *>(handle);
    if (size < 0 || file->position > std::numeric_limits<qsizetype>::max() - size)
        return -1;
    if (file->position + size > file->bytes.size())
        file->bytes.resize(file->position + size);
    std::memcpy(file->bytes.data() + file->position, buffer, size_t(size));
    file->position += size;
    return size;
}

toff_t memorySeek(thandle_t handle, toff_t offset, int whence)
{
    auto *file = static_cast<MemoryFile *>(handle);
    const qsizetype base = whence == SEEK_CUR ? file->position : whence == SEEK_END ? file->bytes.size() : 0;
    const auto target = qsizetype(base + qsizetype(offset));
    if (target < 0)
        return toff_t(-1);
    file->position = target;
    return toff_t(target);
}

int memoryClose(thandle_t) { return 0; }
toff_t memorySize(thandle_t handle) { return toff_t(static_cast<MemoryFile *>(handle)->bytes.size()); }
int memoryMap(thandle_t, tdata_t *, toff_t *) { return 0; }
void memoryUnmap(thandle_t, tdata_t, toff_t) { }

struct JPEGErrors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void onJPEGError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JPEGErrors *>(info->err)->jump, 1);
}

void ignoreJPEGMessage(j_common_ptr, int) { }

// The libjpeg calls alone, so that a longjmp out of libjpeg crosses no C++ object's lifetime.
// `rows` holds the samples as libjpeg takes them, one tight row after another.
bool compressJPEG(const unsigned char *rows, int width, int height, int components, J_COLOR_SPACE space, int quality,
                  unsigned char **out, unsigned long *outSize)
{
    jpeg_compress_struct info;
    JPEGErrors errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onJPEGError;
    errors.base.emit_message = ignoreJPEGMessage;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, out, outSize);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = components;
    info.in_color_space = space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    const size_t rowBytes = size_t(width) * size_t(components);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rows + size_t(info.next_scanline) * rowBytes);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

// The colour model a JPEG or TIFF file stores its samples in; RGB for anything else.
KVBitmap::ColorModel fileColorModel(const QByteArray &bytes)
{
    if (bytes.startsWith("\xFF\xD8")) {
        jpeg_decompress_struct info;
        JPEGErrors errors;
        info.err = jpeg_std_error(&errors.base);
        errors.base.error_exit = onJPEGError;
        errors.base.emit_message = ignoreJPEGMessage;
        if (setjmp(errors.jump)) {
            jpeg_destroy_decompress(&info);
            return KVBitmap::ColorModel::RGB;
        }
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, reinterpret_cast<const unsigned char *>(bytes.constData()), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&info, TRUE);
        const J_COLOR_SPACE space = info.jpeg_color_space;
        jpeg_destroy_decompress(&info);
        if (space == JCS_GRAYSCALE)
            return KVBitmap::ColorModel::Gray;
        return space == JCS_CMYK || space == JCS_YCCK ? KVBitmap::ColorModel::CMYK : KVBitmap::ColorModel::RGB;
    }
    return KVBitmap::ColorModel::RGB;
}

TIFF *openMemoryTIFF(MemoryFile &file, const char *mode)
{
    return TIFFClientOpen("memory", mode, &file, memoryRead, memoryWrite, memorySeek, memoryClose, memorySize, memoryMap,
                          memoryUnmap);
}

// Every TIFF libtiff reads, as straight RGBA with row 0 the top; the photometric model in `model`.
KVBitmap readTIFF(const QByteArray &bytes, KVBitmap::ColorModel &model)
{
    MemoryFile file{bytes, 0};
    TIFF *tiff = openMemoryTIFF(file, "rm");
    if (!tiff)
        return {};
    uint32_t width = 0, height = 0;
    uint16_t photometric = PHOTOMETRIC_RGB;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    model = photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE ? KVBitmap::ColorModel::Gray
        : photometric == PHOTOMETRIC_SEPARATED                                               ? KVBitmap::ColorModel::CMYK
                                                                                             : KVBitmap::ColorModel::RGB;
    KVBitmap bitmap(int(std::min<uint32_t>(width, INT32_MAX)), int(std::min<uint32_t>(height, INT32_MAX)),
                    KVBitmap::ColorModel::RGB, true);
    // TIFFReadRGBAImageOriented packs ABGR words in the machine's order: on a little-endian
    // machine that is R, G, B, A in memory, which is our layout.
    const bool read = !bitmap.isNull() && Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        && TIFFReadRGBAImageOriented(tiff, width, height, reinterpret_cast<uint32_t *>(bitmap.mutableBits()),
                                     ORIENTATION_TOPLEFT, 0);
    TIFFClose(tiff);
    return read ? bitmap : KVBitmap();
}
}

QByteArray KVBitmapTIFFData(const KVBitmap &bitmap)
{
    if (bitmap.isNull())
        return {};
    MemoryFile file;
    TIFF *tiff = openMemoryTIFF(file, "w");
    if (!tiff)
        return {};
    const int colorSamples = bitmap.samples() - (bitmap.hasAlpha() ? 1 : 0);
    const uint16_t photometric = colorSamples == 1 ? PHOTOMETRIC_MINISBLACK
        : colorSamples == 3                        ? PHOTOMETRIC_RGB
                                                   : PHOTOMETRIC_SEPARATED;
    bool ok = TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(bitmap.width()))
        && TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(bitmap.height()))
        && TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t(bitmap.bitsPerPixel() == 1 ? 1 : 8))
        && TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t(bitmap.samples()))
        && TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric)
        && TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG))
        && TIFFSetField(tiff, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_LZW))
        && TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tiff, 0));
    if (ok && photometric == PHOTOMETRIC_SEPARATED)
        ok = TIFFSetField(tiff, TIFFTAG_INKSET, uint16_t(INKSET_CMYK));
    if (ok && bitmap.hasAlpha()) {
        const uint16_t extra[] = {EXTRASAMPLE_UNASSALPHA};
        ok = TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, uint16_t(1), extra);
    }
    const QSizeF size = bitmap.size();
    if (ok && size.width() > 0 && size.height() > 0) {
        ok = TIFFSetField(tiff, TIFFTAG_RESOLUTIONUNIT, uint16_t(RESUNIT_INCH))
            && TIFFSetField(tiff, TIFFTAG_XRESOLUTION, float(72.0 * bitmap.width() / size.width()))
            && TIFFSetField(tiff, TIFFTAG_YRESOLUTION, float(72.0 * bitmap.height() / size.height()));
    }
    // The encoder may work in the row it is given, so each row goes through a copy.
    const qsizetype rowBytes = (qsizetype(bitmap.width()) * bitmap.bitsPerPixel() + 7) / 8;
    std::vector<uint8_t> row(static_cast<size_t>(rowBytes));
    for (int y = 0; ok && y < bitmap.height(); ++y) {
        std::copy_n(bitmap.row(y), rowBytes, row.data());
        ok = TIFFWriteScanline(tiff, row.data(), uint32_t(y), 0) == 1;
    }
    ok = ok && TIFFWriteDirectory(tiff);
    TIFFClose(tiff);
    return ok ? file.bytes : QByteArray();
}

QByteArray KVBitmapJPEGData(const KVBitmap &bitmap, double quality)
{
    if (bitmap.isNull() || bitmap.hasAlpha() || bitmap.bitsPerPixel() == 1)
        return {};
    const int components = bitmap.samples();
    const J_COLOR_SPACE space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    const qsizetype rowBytes = qsizetype(bitmap.width()) * components;
    std::vector<unsigned char> rows;
    try {
        rows.resize(size_t(rowBytes) * size_t(bitmap.height()));
    } catch (const std::bad_alloc &) {
        return {};
    }
    for (int y = 0; y < bitmap.height(); ++y) {
        unsigned char *out = rows.data() + size_t(y) * size_t(rowBytes);
        std::copy_n(bitmap.row(y), rowBytes, out);
        // A CMYK JPEG file holds its inks inverted, with the Adobe marker libjpeg writes; the
        // readers of such files expect that.
        if (space == JCS_CMYK)
            std::for_each(out, out + rowBytes, [](unsigned char &b) { b = static_cast<unsigned char>(255 - b); });
    }
    unsigned char *out = nullptr;
    unsigned long outSize = 0;
    const int level = int(std::lround(std::clamp(quality, 0.0, 1.0) * 100));
    const bool ok = compressJPEG(rows.data(), bitmap.width(), bitmap.height(), components, space, std::max(level, 1), &out,
                                 &outSize);
    QByteArray data;
    if (ok && out)
        data = QByteArray(reinterpret_cast<const char *>(out), qsizetype(outSize));
    std::free(out);
    return data;
}

QByteArray KVImageRep::getImageData() const
{
    QByteArray data;
    switch (m_kind) {
    case Kind::PDF:
    case Kind::EPS: data = m_data; break;
    case Kind::Bitmap:
        switch (bitmapDataFormat(m_bitmap)) {
        case DataFormat::TIFF: data = KVBitmapTIFFData(m_bitmap); break;
        case DataFormat::JPEG: data = KVBitmapJPEGData(m_bitmap, 0.85); break;
        case DataFormat::None: break;
        }
        break;
    }
    if (data.isEmpty())
        qWarning().noquote() << QStringLiteral("Cannot write image %1")
                                    .arg(m_kind == Kind::Bitmap ? QStringLiteral("bitmap %1 x %2, %3 bits per pixel")
                                                                      .arg(m_bitmap.width())
                                                                      .arg(m_bitmap.height())
                                                                      .arg(m_bitmap.bitsPerPixel())
                                                                : QStringLiteral("picture without data"));
    return data;
}

QString KVImageRep::getImageFileExtension() const
{
    switch (m_kind) {
    case Kind::PDF: return QStringLiteral("pdf");
    case Kind::EPS: return QStringLiteral("eps");
    case Kind::Bitmap:
        switch (bitmapDataFormat(m_bitmap)) {
        case DataFormat::TIFF: return QStringLiteral("tiff");
        case DataFormat::JPEG: return QStringLiteral("jpg");
        case DataFormat::None: break;
        }
        break;
    }
    return {};
}

KVImageRep KVImageRep::colorAdjustedImageRep(QString &filePath) const
{
    if (m_kind != Kind::Bitmap || m_bitmap.isNull() || m_bitmap.bitsPerPixel() <= 8 || m_bitmap.hasAlpha()
        || filePath.isEmpty())
        return *this;
    QFile file(filePath);
    if (!file.open(QIODevice::ReadOnly))
        return *this;
    const QByteArray bytes = file.readAll();
    KVBitmap::ColorModel model = fileColorModel(bytes);
    KVBitmap adjusted;
    if (bytes.startsWith("II*") || bytes.startsWith("MM\0*")) {
        adjusted = readTIFF(bytes, model);
    } else {
        if (model == KVBitmap::ColorModel::RGB)
            return *this;
        QImage image;
        if (!image.loadFromData(bytes))
            return *this;
        adjusted = KVBitmap::fromQImage(image.convertToFormat(QImage::Format_RGBA8888));
    }
    if (model == KVBitmap::ColorModel::RGB || adjusted.isNull())
        return *this;
    adjusted.setSize(m_bitmap.size());
    filePath.clear();
    return KVImageRep(adjusted);
}

KVBitmap KVPixelRepresentation(const KVBitmap &bitmap)
{
    if (bitmap.isNull())
        return {};
    QImage canvas(bitmap.width(), bitmap.height(), QImage::Format_RGBA8888_Premultiplied);
    if (canvas.isNull())
        return {};
    canvas.fill(Qt::transparent);
    {
        QPainter painter(&canvas);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(QPoint(0, 0), bitmap.toQImage());
    }
    KVBitmap result = KVBitmap::fromQImage(canvas.convertToFormat(QImage::Format_RGBA8888));
    result.setSize(bitmap.size());
    return result;
}

QImage KVCreateBitmapContext(int width, int height, uchar *pixels)
{
    if (!pixels || width <= 0 || height <= 0 || width > INT32_MAX / 4)
        return {};
    return QImage(pixels, width, height, qsizetype(width) * 4, QImage::Format_RGBA8888_Premultiplied);
}
