#include "KVBitmap.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace {
int colorSamples(KVBitmap::ColorModel model)
{
    switch (model) {
    case KVBitmap::ColorModel::Gray: return 1;
    case KVBitmap::ColorModel::RGB: return 3;
    case KVBitmap::ColorModel::CMYK: return 4;
    }
    return 0;
}

// 8-bit samples of any model, or one 1-bit gray sample.
bool shapeHolds(int width, int height, KVBitmap::ColorModel model, bool hasAlpha, int bitsPerSample)
{
    if (width <= 0 || height <= 0)
        return false;
    if (bitsPerSample == 1)
        return model == KVBitmap::ColorModel::Gray && !hasAlpha;
    return bitsPerSample == 8;
}

constexpr double kPointsPerMetre = 72.0 / 0.0254;

uint8_t luminance(const uint8_t rgb[3])
{
    return uint8_t((rgb[0] * 299 + rgb[1] * 587 + rgb[2] * 114 + 500) / 1000);
}
}

qsizetype KVBitmap::rowBytesFor(int width, int bitsPerPixel)
{
    const qsizetype bits = qsizetype(width) * bitsPerPixel;
    if (bitsPerPixel == 1)
        return (bits + 63) / 64 * 8;
    return (bits + 7) / 8;
}

KVBitmap::KVBitmap(int width, int height, ColorModel model, bool hasAlpha, int bitsPerSample)
{
    if (!shapeHolds(width, height, model, hasAlpha, bitsPerSample))
        return;
    const int samples = colorSamples(model) + (hasAlpha ? 1 : 0);
    const qsizetype rowBytes = rowBytesFor(width, samples * bitsPerSample);
    if (rowBytes > std::numeric_limits<qsizetype>::max() / height)
        return;
    QByteArray bits;
    try {
        bits = QByteArray(rowBytes * height, char(0));
    } catch (const std::bad_alloc &) {
        return;
    }
    *this = fromData(std::move(bits), width, height, rowBytes, model, hasAlpha, bitsPerSample);
}

KVBitmap KVBitmap::fromData(QByteArray bits, int width, int height, qsizetype bytesPerRow, ColorModel model,
                            bool hasAlpha, int bitsPerSample)
{
    KVBitmap bitmap;
    if (!shapeHolds(width, height, model, hasAlpha, bitsPerSample))
        return bitmap;
    const int samples = colorSamples(model) + (hasAlpha ? 1 : 0);
    const int bitsPerPixel = samples * bitsPerSample;
    if (bytesPerRow < (qsizetype(width) * bitsPerPixel + 7) / 8
        || bytesPerRow > std::numeric_limits<qsizetype>::max() / height || bits.size() < bytesPerRow * height)
        return bitmap;
    bitmap.m_width = width;
    bitmap.m_height = height;
    bitmap.m_bytesPerRow = bytesPerRow;
    bitmap.m_samples = samples;
    bitmap.m_bitsPerPixel = bitsPerPixel;
    bitmap.m_hasAlpha = hasAlpha;
    bitmap.m_model = model;
    bitmap.m_size = QSizeF(width, height);
    bitmap.m_bits = std::move(bits);
    return bitmap;
}

void KVBitmap::setSize(const QSizeF &size)
{
    if (!isNull())
        m_size = size;
}

uint8_t *KVBitmap::mutableBits()
{
    return isNull() ? nullptr : reinterpret_cast<uint8_t *>(m_bits.data());
}

KVBitmap KVBitmap::fromQImage(const QImage &image)
{
    if (image.isNull())
        return {};
    QImage source = image;
    ColorModel model = ColorModel::RGB;
    bool alpha = false;
    int bitsPerSample = 8;
    switch (image.format()) {
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        source = image.convertToFormat(QImage::Format_Mono);
        model = ColorModel::Gray;
        bitsPerSample = 1;
        break;
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
        source = image.convertToFormat(QImage::Format_Grayscale8);
        model = ColorModel::Gray;
        break;
    case QImage::Format_Indexed8:
        if (image.allGray() && !image.hasAlphaChannel()) {
            source = image.convertToFormat(QImage::Format_Grayscale8);
            model = ColorModel::Gray;
            break;
        }
        [[fallthrough]];
    default:
        alpha = image.hasAlphaChannel();
        source = image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
        break;
    }
    KVBitmap bitmap(source.width(), source.height(), model, alpha, bitsPerSample);
    if (bitmap.isNull() || source.isNull())
        return {};
    const qsizetype rowBytes = bitmap.pixelBytesPerRow();
    uint8_t *to = bitmap.mutableBits();
    // A mono image's colour table may put black at either index; ours has white as the set bit.
    const bool flip = bitsPerSample == 1 && source.colorCount() >= 2 && qGray(source.color(1)) < qGray(source.color(0));
    for (int y = 0; y < source.height(); ++y) {
        const uchar *from = source.constScanLine(y);
        uint8_t *out = to + y * bitmap.m_bytesPerRow;
        std::copy(from, from + rowBytes, out);
        if (flip)
            std::for_each(out, out + rowBytes, [](uint8_t &b) { b = uint8_t(~b); });
    }
    if (image.dotsPerMeterX() > 0 && image.dotsPerMeterY() > 0)
        bitmap.m_size = QSizeF(image.width() * kPointsPerMetre / image.dotsPerMeterX(),
                               image.height() * kPointsPerMetre / image.dotsPerMeterY());
    return bitmap;
}

QImage KVBitmap::toQImage() const
{
    if (isNull())
        return {};
    // Gray with alpha and CMYK have no QImage format of their own: they go through RGBA.
    const bool direct = m_bitsPerPixel == 1 || m_model == ColorModel::RGB || (m_model == ColorModel::Gray && !m_hasAlpha);
    QImage image;
    if (m_bitsPerPixel == 1) {
        image = QImage(m_width, m_height, QImage::Format_Mono);
        image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    } else if (m_model == ColorModel::Gray && !m_hasAlpha) {
        image = QImage(m_width, m_height, QImage::Format_Grayscale8);
    } else {
        image = QImage(m_width, m_height, m_hasAlpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    }
    if (image.isNull())
        return {};
    for (int y = 0; y < m_height; ++y) {
        uchar *out = image.scanLine(y);
        if (direct) {
            std::copy(row(y), row(y) + pixelBytesPerRow(), out);
            continue;
        }
        const int outSamples = m_hasAlpha ? 4 : 3;
        for (int x = 0; x < m_width; ++x) {
            uint8_t rgba[4];
            rgbaAt(x, y, rgba);
            std::copy(rgba, rgba + outSamples, out + qsizetype(x) * outSamples);
        }
    }
    if (m_size.width() > 0 && m_size.height() > 0) {
        image.setDotsPerMeterX(int(std::lround(m_width * kPointsPerMetre / m_size.width())));
        image.setDotsPerMeterY(int(std::lround(m_height * kPointsPerMetre / m_size.height())));
    }
    return image;
}

QPoint KVBitmap::pixelAt(const QPointF &point) const
{
    const double sx = m_size.width() > 0 ? m_width * point.x() / m_size.width() : point.x();
    const double sy = m_size.height() > 0 ? m_height * point.y() / m_size.height() : point.y();
    // Clamped as doubles first: a point far outside must not overflow the conversion to int.
    const double x = std::clamp(std::round(sx), 0.0, double(m_width - 1));
    const double y = std::clamp(std::round(sy), 0.0, double(m_height - 1));
    return {std::isnan(x) ? 0 : int(x), std::isnan(y) ? 0 : int(y)};
}

uint8_t KVBitmap::firstSampleAt(int x, int y) const
{
    const uint8_t *line = row(y);
    if (m_bitsPerPixel == 1)
        return (line[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
    return line[qsizetype(x) * (m_bitsPerPixel / 8)];
}

void KVBitmap::rgbaAt(int x, int y, uint8_t rgba[4]) const
{
    if (m_bitsPerPixel == 1) {
        rgba[0] = rgba[1] = rgba[2] = firstSampleAt(x, y);
        rgba[3] = 255;
        return;
    }
    const uint8_t *pixel = row(y) + qsizetype(x) * m_samples;
    switch (m_model) {
    case ColorModel::Gray:
        rgba[0] = rgba[1] = rgba[2] = pixel[0];
        break;
    case ColorModel::RGB:
        std::copy(pixel, pixel + 3, rgba);
        break;
    case ColorModel::CMYK:
        for (int i = 0; i < 3; ++i)
            rgba[i] = uint8_t((255 - pixel[i]) * (255 - pixel[3]) / 255);
        break;
    }
    rgba[3] = m_hasAlpha ? pixel[m_samples - 1] : 255;
}

void KVBitmap::pixelValueAtPoint(const QPointF &point, uint8_t &red, uint8_t &green, uint8_t &blue, uint8_t &alpha) const
{
    red = green = blue = alpha = 0;
    if (isNull())
        return;
    const QPoint at = pixelAt(point);
    uint8_t rgba[4];
    if (m_model == ColorModel::CMYK && !m_hasAlpha)
        std::copy_n(row(at.y()) + qsizetype(at.x()) * 4, 4, rgba);
    else
        rgbaAt(at.x(), at.y(), rgba);
    red = rgba[0];
    green = rgba[1];
    blue = rgba[2];
    alpha = rgba[3];
}

uint8_t KVBitmap::grayscaleValueAtPoint(const QPointF &point) const
{
    if (isNull())
        return 0;
    const QPoint at = pixelAt(point);
    return firstSampleAt(at.x(), at.y());
}

void KVBitmap::makeColorTransparent(uint8_t red, uint8_t green, uint8_t blue, float tolerance)
{
    if (isNull() || m_model != ColorModel::RGB || !m_hasAlpha)
        return;
    const double limit = double(tolerance) * tolerance;
    uint8_t *bits = mutableBits();
    for (int y = 0; y < m_height; ++y) {
        uint8_t *pixel = bits + y * m_bytesPerRow;
        for (int x = 0; x < m_width; ++x, pixel += 4) {
            const int dr = pixel[0] - red, dg = pixel[1] - green, db = pixel[2] - blue;
            if (limit > 3.0 * dr * dr + 4.0 * dg * dg + 2.0 * db * db)
                std::fill_n(pixel, 4, 0);
        }
    }
}

bool KVBitmap::reallyHasAlpha() const
{
    if (isNull() || !m_hasAlpha)
        return false;
    for (int y = 0; y < m_height; ++y) {
        const uint8_t *pixel = row(y);
        for (int x = 0; x < m_width; ++x, pixel += m_samples)
            if (pixel[m_samples - 1] < 255)
                return true;
    }
    return false;
}

KVBitmap KVBitmap::bitmapWithWhiteTransparentInScreenshot() const
{
    if (isNull())
        return {};
    KVBitmap result(m_width, m_height, ColorModel::RGB, true);
    if (result.isNull())
        return {};
    result.m_size = m_size;
    uint8_t *bits = result.mutableBits();
    for (int y = 0; y < m_height; ++y) {
        uint8_t *out = bits + y * result.m_bytesPerRow;
        for (int x = 0; x < m_width; ++x, out += 4) {
            uint8_t rgba[4];
            rgbaAt(x, y, rgba);
            const bool white = rgba[0] >= 246 && rgba[1] >= 246 && rgba[2] >= 246;
            if (white) {
                out[0] = out[1] = out[2] = 255;
                out[3] = 0;
            } else {
                std::copy_n(rgba, 3, out);
                out[3] = 255;
            }
        }
    }
    return result;
}

bool KVBitmap::isBitmapReally() const
{
    if (isNull())
        return false;
    int first = -1, second = -1;
    for (int y = 0; y < m_height; ++y) {
        const uint8_t *line = row(y);
        for (qsizetype i = 0, n = pixelBytesPerRow(); i < n; ++i) {
            const int value = line[i];
            if (value == first || value == second)
                continue;
            if (first < 0)
                first = value;
            else if (second < 0)
                second = value;
            else
                return false;
        }
    }
    return true;
}

void KVBitmap::forceAdjustContrastGrayscale()
{
    if (isNull())
        return;
    uint8_t *bits = mutableBits();
    for (int y = 0; y < m_height; ++y) {
        uint8_t *line = bits + y * m_bytesPerRow;
        std::for_each(line, line + pixelBytesPerRow(), [](uint8_t &b) { b = b <= 216 ? 0 : 255; });
    }
}

double KVBitmap::proportionBlack() const
{
    if (isNull())
        return 0;
    qsizetype zeros = 0;
    const qsizetype rowBytes = pixelBytesPerRow();
    for (int y = 0; y < m_height; ++y)
        zeros += std::count(row(y), row(y) + rowBytes, uint8_t(0));
    return double(zeros) / (double(rowBytes) * m_height);
}

void KVBitmap::invert()
{
    if (isNull())
        return;
    uint8_t *bits = mutableBits();
    for (int y = 0; y < m_height; ++y) {
        uint8_t *line = bits + y * m_bytesPerRow;
        std::for_each(line, line + pixelBytesPerRow(), [](uint8_t &b) { b = uint8_t(255 - b); });
    }
}

int KVBitmap::numberOfTransitionsInTopLineOfRect(const QRectF &rect) const
{
    if (isNull())
        return 0;
    const QPoint left = pixelAt(QPointF(rect.x(), rect.y() + rect.height()));
    const double end = m_size.width() > 0 ? m_width * (rect.x() + rect.width()) / m_size.width() : rect.x() + rect.width();
    const double right = std::isnan(end) ? left.x() : std::clamp(std::round(end), double(left.x()), double(m_width));
    const int y = m_height - 1 - left.y();
    int transitions = 0;
    for (int x = left.x() + 1; x < int(right); ++x)
        if (firstSampleAt(x, y) != firstSampleAt(x - 1, y))
            ++transitions;
    return transitions;
}

void KVBitmap::dither()
{
    if (isNull() || m_bitsPerPixel != 8)
        return;
    uint8_t *bits = mutableBits();
    auto spread = [&](int x, int y, int error) {
        if (x < 0 || x >= m_width || y >= m_height)
            return;
        uint8_t &b = bits[y * m_bytesPerRow + x];
        b = uint8_t(std::clamp(b + error, 0, 255));
    };
    for (int y = 0; y < m_height; ++y) {
        for (int x = 0; x < m_width; ++x) {
            uint8_t &b = bits[y * m_bytesPerRow + x];
            const int level = b >= 128 ? 255 : 0;
            const int eighth = (b - level) / 8;
            b = uint8_t(level);
            spread(x + 1, y, eighth);
            spread(x + 2, y, eighth);
            spread(x - 1, y + 1, eighth);
            spread(x, y + 1, eighth);
            spread(x + 1, y + 1, eighth);
            spread(x, y + 2, eighth);
        }
    }
}

KVBitmap KVBitmap::convertToBitmap(bool withDither) const
{
    if (isNull())
        return {};
    KVBitmap result(m_width, m_height, ColorModel::Gray, false, 1);
    if (result.isNull())
        return {};
    result.m_size = m_size;
    uint8_t *to = result.mutableBits();
    if (m_bitsPerPixel == 1) {
        for (int y = 0; y < m_height; ++y)
            std::copy(row(y), row(y) + pixelBytesPerRow(), to + y * result.m_bytesPerRow);
        return result;
    }
    KVBitmap gray;
    if (m_bitsPerPixel == 8) {
        gray = *this;
    } else {
        gray = KVBitmap(m_width, m_height, ColorModel::Gray, false);
        if (gray.isNull())
            return {};
        uint8_t *out = gray.mutableBits();
        for (int y = 0; y < m_height; ++y) {
            for (int x = 0; x < m_width; ++x) {
                uint8_t rgba[4];
                rgbaAt(x, y, rgba);
                for (int i = 0; i < 3; ++i)
                    rgba[i] = uint8_t((rgba[i] * rgba[3] + 255 * (255 - rgba[3]) + 127) / 255);
                out[y * gray.m_bytesPerRow + x] = luminance(rgba);
            }
        }
    }
    if (withDither)
        gray.dither();
    for (int y = 0; y < m_height; ++y) {
        const uint8_t *from = gray.row(y);
        uint8_t *out = to + y * result.m_bytesPerRow;
        for (int x = 0; x < m_width; ++x)
            if (from[x] >= 128)
                out[x >> 3] |= uint8_t(0x80 >> (x & 7));
    }
    return result;
}
