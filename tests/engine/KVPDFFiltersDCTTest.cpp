// DCTDecode (through an image stream: the image dictionary says what shape the data must have).
#include "KVPDFFilters.h"

#include "KVPDFDocument.h"

#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFParser.h"
#include "support/FilterTestData.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using namespace filtertest;

namespace {

// A baseline JPEG of `width` x `height` in which component i holds `samples[i]` everywhere,
// stored without colour transform (APP14 marker, transform 0), so that libjpeg-based readers give
// the samples back exactly. QImage writes only gray and RGB JPEGs; this makes CMYK ones.
QByteArray solidJPEG(int width, int height, const std::vector<int> &samples)
{
    const int n = int(samples.size());
    auto be16 = [](int v) { return bytesOf({(v >> 8) & 0xFF, v & 0xFF}); };
    QByteArray out = bytesOf({0xFF, 0xD8});
    out += bytesOf({0xFF, 0xEE, 0x00, 0x0E}) + "Adobe" + bytesOf({0x00, 0x64, 0x00, 0x00, 0x00, 0x00, 0x00});
    // Quantisation by 1: a flat block's DC coefficient is 8 * (sample - 128).
    out += bytesOf({0xFF, 0xDB, 0x00, 0x43, 0x00}) + QByteArray(64, '\x01');
    out += bytesOf({0xFF, 0xC0}) + be16(8 + 3 * n) + bytesOf({8}) + be16(height) + be16(width) + bytesOf({n});
    for (int i = 0; i < n; ++i)
        out += bytesOf({i + 1, 0x11, 0});
    // DC categories 0 to 11 as 4-bit codes (the code is the category); AC: only end-of-block, "0".
    QByteArray dcBits(16, '\0'), acBits(16, '\0');
    dcBits[3] = 12;
    acBits[0] = 1;
    out += bytesOf({0xFF, 0xC4}) + be16(2 + 29 + 18) + bytesOf({0x00}) + dcBits + bytesOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11})
           + bytesOf({0x10}) + acBits + bytesOf({0x00});
    out += bytesOf({0xFF, 0xDA}) + be16(6 + 2 * n) + bytesOf({n});
    for (int i = 0; i < n; ++i)
        out += bytesOf({i + 1, 0x00});
    out += bytesOf({0x00, 0x3F, 0x00});

    quint32 pending = 0;
    int pendingBits = 0;
    auto put = [&](int value, int bits) {
        pending = (pending << bits) | quint32(value & ((1 << bits) - 1));
        pendingBits += bits;
        while (pendingBits >= 8) {
            const int byte = int(pending >> (pendingBits - 8)) & 0xFF;
            pendingBits -= 8;
            out += char(byte);
            if (byte == 0xFF)
                out += char(0); // byte stuffing
        }
    };
    std::vector<int> previous(size_t(n), 0);
    const int blocks = ((width + 7) / 8) * ((height + 7) / 8);
    for (int b = 0; b < blocks; ++b) {
        for (int i = 0; i < n; ++i) {
            const int dc = 8 * (samples[size_t(i)] - 128);
            const int diff = dc - previous[size_t(i)];
            previous[size_t(i)] = dc;
            int category = 0;
            for (int a = std::abs(diff); a; a >>= 1)
                ++category;
            put(category, 4);
            if (category)
                put(diff < 0 ? diff + (1 << category) - 1 : diff, category);
            put(0, 1);
        }
    }
    if (pendingBits)
        put(0x7F, 8 - pendingBits);
    out += bytesOf({0xFF, 0xD9});
    return out;
}

// `image` written by QImage as a JPEG of the best quality.
QByteArray jpegOf(const QImage &image)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "JPEG", 100));
    return buffer.data();
}

// An image of 16 x 16 blocks (a JPEG's largest unit, so that colours do not bleed into each
// other), block (bx, by) filled with colours[(bx + by) % colours.size()].
QImage blocks(int width, int height, QImage::Format format, const std::vector<QRgb> &colours)
{
    QImage image(width, height, format);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, colours[size_t(x / 16 + y / 16) % colours.size()]);
    return image;
}

std::shared_ptr<KVPDFObjectStream> imageStream(const QByteArray &entries, const QByteArray &jpeg)
{
    const QByteArray text = "<< /Type /XObject /Subtype /Image /Filter /DCTDecode " + entries + " >>";
    auto dictionary = kv_cast<KVPDFObjectDictionary>(KVPDFParser::objectAtOffset(nullptr, 0, text, true, false, false, false));
    EXPECT_TRUE(dictionary);
    return KVPDFObjectStream::streamWithDictionary(dictionary, jpeg, {0, uint64_t(jpeg.size())});
}

} // namespace

// The decoded data holds each pixel's samples as the JPEG stores them: as many bytes per pixel
// as its components (what the image's ColorSpace implies), whatever the colours in it.
TEST(KVPDFFiltersTest, DCTDecodeGivesOneByteForEachComponentOfEachPixel)
{
    const QRgb red = qRgb(230, 20, 20), blue = qRgb(20, 40, 220), light = qRgb(200, 200, 200), dark = qRgb(40, 40, 40);
    struct Case {
        const char *name;
        QByteArray entries;
        QByteArray jpeg;
        std::vector<std::vector<int>> pixels; // samples of the blocks, in the order they repeat
    };
    const std::vector<Case> cases = {
        {"gray", "/ColorSpace /DeviceGray", jpegOf(blocks(48, 32, QImage::Format_Grayscale8, {light, dark})), {{200}, {40}}},
        {"RGB",
         "/ColorSpace /DeviceRGB",
         jpegOf(blocks(48, 32, QImage::Format_RGB32, {red, blue})),
         {{230, 20, 20}, {20, 40, 220}}},
        // All its pixels are gray, but the JPEG has three components and the ColorSpace says RGB.
        {"RGB of gray colours",
         "/ColorSpace /DeviceRGB",
         jpegOf(blocks(48, 32, QImage::Format_RGB32, {light, dark})),
         {{200, 200, 200}, {40, 40, 40}}},
        {"CMYK", "/ColorSpace /DeviceCMYK", solidJPEG(48, 32, {255, 128, 0, 200}), {{255, 128, 0, 200}}},
        {"CMYK with full black",
         "/ColorSpace /DeviceCMYK /Decode [1 0 1 0 1 0 1 0]",
         solidJPEG(21, 13, {64, 255, 191, 255}),
         {{64, 255, 191, 255}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QImage reference = QImage::fromData(c.jpeg, "JPEG");
        ASSERT_FALSE(reference.isNull());
        const int width = reference.width(), height = reference.height();
        const int components = int(c.pixels[0].size());
        KVPDFLogCapture log;
        auto stream = imageStream("/Width " + QByteArray::number(width) + " /Height " + QByteArray::number(height)
                                      + " /BitsPerComponent 8 " + c.entries,
                                  c.jpeg);
        const QByteArray data = stream->decodedData();
        EXPECT_TRUE(stream->decodeComplete());
        EXPECT_TRUE(log.messages.isEmpty()) << log.messages.join('\n').toStdString();
        EXPECT_EQ(data.size(), qsizetype(width) * height * components);
        if (data.size() != qsizetype(width) * height * components)
            continue;
        // The first sample off by more than the encoders' rounding, inside the blocks (at their
        // edges a decoder blends the colours of neighbours).
        const auto *bytes = reinterpret_cast<const uint8_t *>(data.constData());
        std::string wrong;
        for (int y = 0; y < height && wrong.empty(); ++y) {
            for (int x = 0; x < width && wrong.empty(); ++x) {
                if (x % 16 < 4 || x % 16 > 11 || y % 16 < 4 || y % 16 > 11)
                    continue;
                const auto &expected = c.pixels[size_t(x / 16 + y / 16) % c.pixels.size()];
                for (int i = 0; i < components && wrong.empty(); ++i) {
                    const int sample = bytes[(qsizetype(y) * width + x) * components + i];
                    if (std::abs(sample - expected[size_t(i)]) > 3)
                        wrong = "pixel " + std::to_string(x) + "," + std::to_string(y) + " component " + std::to_string(i)
                                + " is " + std::to_string(sample) + ", not " + std::to_string(expected[size_t(i)]);
                }
            }
        }
        EXPECT_EQ(wrong, "");
    }
}

// An image dictionary that disagrees with its JPEG is reported; the data stays what the JPEG
// holds, so nothing reads rows or pixels it does not have.
TEST(KVPDFFiltersTest, DCTDecodeReportsAnImageDictionaryThatDisagreesWithTheJPEG)
{
    const QByteArray gray = jpegOf(blocks(24, 16, QImage::Format_Grayscale8, {qRgb(90, 90, 90)}));
    const QByteArray cmyk = solidJPEG(8, 8, {255, 0, 0, 255});
    struct Case {
        const char *name;
        QByteArray entries;
        QByteArray jpeg;
        qsizetype size;
    };
    const std::vector<Case> cases = {
        {"larger than the JPEG", "/Width 64 /Height 64 /ColorSpace /DeviceGray /BitsPerComponent 8", gray, 24 * 16},
        {"smaller than the JPEG", "/Width 4 /Height 2 /ColorSpace /DeviceGray /BitsPerComponent 8", gray, 24 * 16},
        {"RGB for a gray JPEG", "/Width 24 /Height 16 /ColorSpace /DeviceRGB /BitsPerComponent 8", gray, 24 * 16},
        {"gray for a CMYK JPEG", "/Width 8 /Height 8 /ColorSpace [/CalGray << >>] /BitsPerComponent 8", cmyk, 8 * 8 * 4},
        {"four bits per component", "/Width 24 /Height 16 /ColorSpace /DeviceGray /BitsPerComponent 4", gray, 24 * 16},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFLogCapture log;
        auto stream = imageStream(c.entries, c.jpeg);
        EXPECT_EQ(stream->decodedData().size(), c.size);
        EXPECT_TRUE(log.contains("DCTDecode: the JPEG is")) << log.messages.join('\n').toStdString();
    }
}

TEST(KVPDFFiltersTest, DCTDecodeOfDataThatIsNoJPEGIsIncomplete)
{
    // A scan cut short but closed with an end marker is no more complete than one that just ends.
    const QByteArray whole = solidJPEG(64, 64, {1, 2, 3});
    const QByteArray cutAndClosed = whole.left(whole.size() * 3 / 4) + QByteArray("\xFF\xD9", 2);
    for (const QByteArray &data : {QByteArray("not a JPEG"), solidJPEG(8, 8, {1, 2, 3}).left(40), cutAndClosed, QByteArray()}) {
        KVPDFLogCapture log;
        auto stream = imageStream("/Width 8 /Height 8 /ColorSpace /DeviceRGB /BitsPerComponent 8", data);
        EXPECT_TRUE(stream->decodedData().isEmpty());
        EXPECT_FALSE(stream->decodeComplete());
        EXPECT_TRUE(log.contains("DCTDecode"));
    }
}

// Every JPEG image of the corpus decodes to the bytes qpdf gives at its fullest decode level:
// gray, RGB and (Adobe) CMYK samples as stored.
TEST(KVPDFFiltersTest, DCTDecodeOfCorpusImagesEqualsQpdf)
{
    if (!QDir(corpusDir()).exists())
        GTEST_SKIP() << "no corpus at " << corpusDir().toStdString();
    int compared = 0;
    for (const char *name : {"pdfjs/cmykjpeg.pdf", "pdfjs/alphatrans.pdf", "qpdf/encrypted-with-images.pdf"}) {
        SCOPED_TRACE(name);
        const QString path = QDir(corpusDir()).filePath(QString::fromLatin1(name));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        KVPDFOpenResult result = KVPDFOpenResult(-1);
        auto document = KVPDFDocument::documentWithData(file.readAll(), &result, {}, KVPDFOpenMode::AsStored);
        ASSERT_EQ(result, KVPDFOpenOK);
        std::vector<uint64_t> numbers;
        for (const auto &entry : document->objects())
            numbers.push_back(entry.first);
        for (uint64_t number : numbers) {
            auto stream = kv_cast<KVPDFObjectStream>(document->resolveObject(number, 0));
            if (!stream || !stream->dictionary())
                continue;
            auto filter = stream->dictionary()->resolvedObjectForKey("Filter");
            if (!filter || !filter->directObject().contains("DCTDecode"))
                continue;
            const ToolResult qpdf = runTool(QStringLiteral("qpdf"), {QStringLiteral("--show-object=%1").arg(number),
                                                                     QStringLiteral("--filtered-stream-data"),
                                                                     QStringLiteral("--decode-level=all"), path});
            ASSERT_EQ(qpdf.exitCode, 0) << qpdf.err.toStdString();
            const QByteArray ours = stream->decodedData();
            EXPECT_TRUE(stream->decodeComplete()) << number;
            EXPECT_EQ(ours.size(), qpdf.out.size()) << number;
            EXPECT_TRUE(ours == qpdf.out) << "object " << number << " decodes to other bytes";
            ++compared;
        }
    }
    EXPECT_EQ(compared, 4) << "the corpus images were not all found";
}
