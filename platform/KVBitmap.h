#pragma once
// A bitmap of our own: width × height pixels of packed (never planar) samples, row 0 the top,
// rows of bytesPerRow bytes, and a size in points for the operations that take points. Samples
// are 8 bits, or 1 bit for a one-sample bitmap (set bit = white, the most significant bit the
// leftmost pixel). Alpha, when present, is the last sample and is not premultiplied.
//
// Row layout: a bitmap made here has rows of exactly the pixel bytes, except 1-bit bitmaps,
// whose rows are padded to a multiple of 64 bits. A bitmap made over given bytes keeps the
// bytesPerRow it is given (QImage pads rows to 32 bits). Every operation walks each row's pixel
// bytes only, never the spare bytes at a row's end: they are neither read nor changed, so they
// count in no answer (a padded row of garbage does not make a bitmap look grey or transparent).
//
// Bad input: a shape that cannot hold (no pixels, samples that do not fit the colour model,
// bytesPerRow below the pixel bytes, fewer bytes than the rows need, a byte count beyond
// qsizetype) makes a null bitmap; every operation on a null bitmap does nothing and answers
// 0, false or a null bitmap. Points and rectangles outside the bitmap are clamped to it.
// Nothing throws.
// Threads: a value type (the bytes are shared copy-on-write through QByteArray); one bitmap is
// used by one thread at a time, separate copies by any.
#include <QByteArray>
#include <QImage>
#include <QRect>
#include <QRectF>
#include <QSizeF>

#include <cstdint>

class KVBitmap {
public:
    enum class ColorModel : uint8_t { Gray, RGB, CMYK };

    // Null.
    KVBitmap() = default;
    // A new bitmap of zero bytes in the row layout above: `samples` counts the colour samples
    // of `model` plus one for alpha; bitsPerSample is 8, or 1 for one gray sample. The size is
    // the pixel size. Null when the shape is not one of those or too large.
    KVBitmap(int width, int height, ColorModel model, bool hasAlpha, int bitsPerSample = 8);
    // Over the given rows, checked as the header says.
    static KVBitmap fromData(QByteArray bits, int width, int height, qsizetype bytesPerRow, ColorModel model,
                             bool hasAlpha, int bitsPerSample = 8);

    // QImage adapters. Gray, mono and RGB images keep their depth; images with alpha become RGBA,
    // any other format RGB; gray 16-bit becomes 8-bit. The size comes from the image's dots per
    // metre. A null image gives a null bitmap.
    static KVBitmap fromQImage(const QImage &image);
    // Gray8, Mono (colour table black, white), RGB888 or RGBA8888; gray with alpha becomes
    // RGBA, CMYK becomes RGB without a colour profile. The dots per metre follow the size.
    QImage toQImage() const;

    bool isNull() const { return m_width == 0; }
    int width() const { return m_width; }
    int height() const { return m_height; }
    qsizetype bytesPerRow() const { return m_bytesPerRow; }
    int samples() const { return m_samples; }
    int bitsPerPixel() const { return m_bitsPerPixel; }
    bool hasAlpha() const { return m_hasAlpha; }
    ColorModel colorModel() const { return m_model; }
    // Points; the pixel size unless set.
    QSizeF size() const { return m_size; }
    void setSize(const QSizeF &size);
    const QByteArray &bits() const { return m_bits; }
    // Detaches the bytes; null for a null bitmap.
    uint8_t *mutableBits();
    const uint8_t *row(int y) const { return reinterpret_cast<const uint8_t *>(m_bits.constData()) + y * m_bytesPerRow; }

    // The pixel at a point in size units, its column and row each rounded to the nearest pixel
    // and clamped, row 0 the top. RGBA with missing samples filled in: gray repeats into red,
    // green and blue, alpha is 255 without an alpha sample; CMYK answers its four samples as
    // they are.
    void pixelValueAtPoint(const QPointF &point, uint8_t &red, uint8_t &green, uint8_t &blue, uint8_t &alpha) const;
    // The first sample of that pixel (0 or 255 for a 1-bit bitmap).
    uint8_t grayscaleValueAtPoint(const QPointF &point) const;
    // RGBA bitmaps: pixels close to the colour (tolerance² > 3 dr² + 4 dg² + 2 db²) become
    // 0, 0, 0, 0. Others are left alone.
    void makeColorTransparent(uint8_t red, uint8_t green, uint8_t blue, float tolerance);
    // True when a pixel's alpha is below 255; false without alpha.
    bool reallyHasAlpha() const;
    // A new RGBA bitmap of the same pixel size and size: pixels whose red, green and blue are
    // all at least 246 become transparent white, all others keep their colour, opaque.
    KVBitmap bitmapWithWhiteTransparentInScreenshot() const;
    // True when the pixel bytes hold at most two distinct values.
    bool isBitmapReally() const;
    // Each pixel byte up to 216 becomes 0, from 217 on 255.
    void forceAdjustContrastGrayscale();
    // The share of zero bytes among the pixel bytes: 0.3 for 300 of 1,000.
    double proportionBlack() const;
    // Each pixel byte becomes 255 - byte.
    void invert();
    // On the pixel row of the rectangle's top edge (size units, y upwards from the bottom, as a
    // page's coordinates run), how often a pixel's first sample differs from its left
    // neighbour's within the rectangle's columns.
    int numberOfTransitionsInTopLineOfRect(const QRectF &rect) const;
    // 8-bit gray only: error diffusion at the threshold 128, an eighth of each pixel's error to
    // (x+1, y), (x+2, y), (x-1, y+1), (x, y+1), (x+1, y+1) and (x, y+2). Leaves pixels 0 or 255.
    void dither();
    // A new 1-bit bitmap of the same pixel size and size, rows padded to 64 bits: white where
    // the gray level is 128 or more. Gray levels come from an 8-bit gray bitmap directly (a
    // copy of it dithered first when asked), from a 1-bit one as they are, and from any other
    // by putting it over white and taking its luminance. This bitmap is not changed.
    KVBitmap convertToBitmap(bool dither) const;
    KVBitmap convertToBitmap() const { return convertToBitmap(false); }
    KVBitmap convertToBitmapDither() const { return convertToBitmap(true); }

    // The bytes per row a bitmap made here has.
    static qsizetype rowBytesFor(int width, int bitsPerPixel);

private:
    qsizetype pixelBytesPerRow() const { return (qsizetype(m_width) * m_bitsPerPixel + 7) / 8; }
    QPoint pixelAt(const QPointF &point) const;
    uint8_t firstSampleAt(int x, int y) const;
    // Red, green, blue and alpha of a pixel; CMYK through the naive complement.
    void rgbaAt(int x, int y, uint8_t rgba[4]) const;

    int m_width = 0;
    int m_height = 0;
    qsizetype m_bytesPerRow = 0;
    int m_samples = 0;
    int m_bitsPerPixel = 0;
    bool m_hasAlpha = false;
    ColorModel m_model = ColorModel::Gray;
    QSizeF m_size;
    QByteArray m_bits;
};
