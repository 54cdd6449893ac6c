#pragma once
// An image as the program stores it: a bitmap, or the bytes of a PDF or EPS picture, with the
// file data and file extension it is written with. A bitmap with alpha or of at most 8 bits
// per pixel is written as LZW-compressed TIFF, any other (RGB or CMYK without alpha) as JPEG at
// quality 0.85; the extension always names the format of that data.
//
// Bad input: a null bitmap, or one the encoders refuse, has no data and no extension; the data
// request logs "Cannot write image %1". Nothing throws.
// Threads: a value type; the encoders share no state, so separate images encode on any threads.
#include "KVBitmap.h"

#include <QByteArray>
#include <QString>

class KVImageRep {
public:
    enum class Kind : uint8_t { Bitmap, PDF, EPS };

    KVImageRep() = default;
    KVImageRep(KVBitmap bitmap) : m_bitmap(std::move(bitmap)) { }
    KVImageRep(Kind kind, QByteArray data) : m_kind(kind), m_data(std::move(data)) { }

    Kind kind() const { return m_kind; }
    const KVBitmap &bitmap() const { return m_bitmap; }

    // PDF and EPS pictures answer their own bytes; bitmaps TIFF or JPEG data as above.
    QByteArray getImageData() const;
    // "pdf", "eps", "tiff" or "jpg"; empty when there is no data to write.
    QString getImageFileExtension() const;

    // For an opaque bitmap of more than 8 bits per pixel read from `filePath`: when the file's
    // own colour model is not RGB (a CMYK or gray JPEG or TIFF whose samples were taken as they
    // are), the file read again into an RGBA bitmap of its pixel size, given this bitmap's size,
    // and `filePath` cleared, because the new bitmap no longer holds the file's samples.
    // Otherwise, or when the file does not read, this image unchanged.
    KVImageRep colorAdjustedImageRep(QString &filePath) const;

private:
    Kind m_kind = Kind::Bitmap;
    KVBitmap m_bitmap;
    QByteArray m_data;
};

// A new RGBA bitmap of the bitmap's pixel size and size, the bitmap drawn over transparency.
KVBitmap KVPixelRepresentation(const KVBitmap &bitmap);

// A drawing surface over the caller's pixels: width × 4 bytes per row, RGBA with premultiplied
// alpha. The caller keeps the pixels alive while the image is in use.
QImage KVCreateBitmapContext(int width, int height, uchar *pixels);

// LZW-compressed TIFF of the bitmap's pixels (gray, RGB or CMYK, alpha unassociated); empty
// when libtiff refuses it.
QByteArray KVBitmapTIFFData(const KVBitmap &bitmap);
// Baseline JPEG of an opaque 8-bit gray, RGB or CMYK bitmap at `quality` (0 to 1); empty
// otherwise.
QByteArray KVBitmapJPEGData(const KVBitmap &bitmap, double quality);
