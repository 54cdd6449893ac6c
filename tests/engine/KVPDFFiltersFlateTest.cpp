// Flate: inflating what zlib made, damaged and capped streams, and compressing.
#include "KVPDFFilters.h"

#include "KVPDFLog.h"
#include "support/FilterTestData.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

using namespace filtertest;

namespace {

TEST(KVPDFFiltersTest, InflateKnownZlibStreamOfHello)
{
    const QByteArray stream = bytesOf({0x78, 0x9c, 0xcb, 0x48, 0xcd, 0xc9, 0xc9, 0x07, 0x00, 0x06, 0x2c, 0x02, 0x15});
    const KVPDFFilterResult r = KVPDFInflate(stream, KVPDFMaxDecodedSize);
    EXPECT_EQ(r.zlibStatus, Z_STREAM_END);
    EXPECT_EQ(r.data, QByteArray("hello"));
}

TEST(KVPDFFiltersTest, InflateDataMadeByZlibCompress)
{
    struct Case {
        const char *name;
        QByteArray data;
        int level;
    };
    const std::vector<Case> cases = {
        {"empty data", QByteArray(), Z_DEFAULT_COMPRESSION},
        {"short text", QByteArray("hello, world"), Z_DEFAULT_COMPRESSION},
        {"stored blocks at level 0", sampleText(100000), 0},
        {"text at best compression", sampleText(300000), 9},
        {"output more than a thousand times the input", QByteArray(4 * 1024 * 1024, '\0'), 9},
        {"random bytes that do not compress", Random(3).bytes(70000), Z_DEFAULT_COMPRESSION},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const KVPDFFilterResult r = KVPDFInflate(zlibCompress(c.data, c.level), KVPDFMaxDecodedSize);
        EXPECT_EQ(r.zlibStatus, Z_STREAM_END);
        EXPECT_EQ(r.data, c.data);
    }
}

TEST(KVPDFFiltersTest, InflateAcceptsRawDeflateWithoutZlibHeader)
{
    const QByteArray data = sampleText(5000);
    const KVPDFFilterResult r = KVPDFInflate(rawDeflate(data), KVPDFMaxDecodedSize);
    EXPECT_EQ(r.zlibStatus, Z_STREAM_END);
    EXPECT_EQ(r.data, data);
}

TEST(KVPDFFiltersTest, InflateIgnoresBytesAfterStreamEnd)
{
    const KVPDFFilterResult r = KVPDFInflate(zlibCompress("abc") + "\r\nendstream", KVPDFMaxDecodedSize);
    EXPECT_EQ(r.zlibStatus, Z_STREAM_END);
    EXPECT_EQ(r.data, QByteArray("abc"));
}

TEST(KVPDFFiltersTest, InflateOfTruncatedStreamKeepsPrefix)
{
    const QByteArray data = sampleText(200000);
    const QByteArray compressed = zlibCompress(data);
    const KVPDFFilterResult inflated = KVPDFInflate(compressed.left(compressed.size() / 2), KVPDFMaxDecodedSize);
    const QByteArray &out = inflated.data;
    EXPECT_EQ(inflated.zlibStatus, Z_BUF_ERROR);
    EXPECT_GT(out.size(), 0);
    EXPECT_LT(out.size(), data.size());
    EXPECT_EQ(out, data.left(out.size()));

    KVPDFLogCapture log;
    const KVPDFFilterResult r = KVPDFApplyFilter("FlateDecode", compressed.left(compressed.size() / 2), {});
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.error, QStringLiteral("FlateDecode: decoding error."));
    EXPECT_EQ(r.data, out);
    EXPECT_TRUE(log.contains(QStringLiteral("FlateDecode: decoding error.")))
        << log.messages.join(QLatin1Char('\n')).toStdString();
}

TEST(KVPDFFiltersTest, InflateWithBadChecksumKeepsData)
{
    const QByteArray data = sampleText(50000);
    QByteArray compressed = zlibCompress(data);
    compressed[compressed.size() - 1] = static_cast<char>(compressed[compressed.size() - 1] ^ 0x5a);
    const KVPDFFilterResult inflated = KVPDFInflate(compressed, KVPDFMaxDecodedSize);
    EXPECT_EQ(inflated.zlibStatus, Z_DATA_ERROR);
    EXPECT_EQ(inflated.data, data);

    KVPDFLogCapture log;
    const KVPDFFilterResult r = KVPDFApplyFilter("Fl", compressed, {});
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.data, data);
    EXPECT_TRUE(log.contains(QStringLiteral("FlateDecode: decoding error.")));
}

TEST(KVPDFFiltersTest, InflateStopsAtOutputCap)
{
    const QByteArray data(1024 * 1024, 'a');
    const QByteArray compressed = zlibCompress(data);
    struct Case {
        const char *name;
        qsizetype cap;
        int expectedCode;
        qsizetype expectedSize;
    };
    const std::vector<Case> cases = {
        {"cap far below the output", 4096, KVPDFInflateCapped, 4096},
        {"cap one byte short", data.size() - 1, KVPDFInflateCapped, data.size() - 1},
        {"cap equal to the output", data.size(), Z_STREAM_END, data.size()},
        {"zero cap", 0, KVPDFInflateCapped, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const KVPDFFilterResult inflated = KVPDFInflate(compressed, c.cap);
        EXPECT_EQ(inflated.zlibStatus, c.expectedCode);
        EXPECT_EQ(inflated.data, data.left(c.expectedSize));
    }

    KVPDFLogCapture log;
    const KVPDFFilterResult r = KVPDFApplyFilter("FlateDecode", compressed, {}, 1, 1000);
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.data, data.left(1000));
    EXPECT_TRUE(log.contains(QStringLiteral("Bailing on inflation at maximum decoded size")));
}

TEST(KVPDFFiltersTest, InflateRejectsGarbage)
{
    const KVPDFFilterResult empty = KVPDFInflate(QByteArray(), KVPDFMaxDecodedSize);
    EXPECT_NE(empty.zlibStatus, Z_STREAM_END);
    EXPECT_TRUE(empty.data.isEmpty());
    EXPECT_NE(KVPDFInflate(QByteArray("\x78\x9c\xff\xff\xff\xff\xff\xff", 8), KVPDFMaxDecodedSize).zlibStatus, Z_STREAM_END);
}

TEST(KVPDFFiltersTest, DeflateRoundTripsThroughZlib)
{
    for (int level : {Z_DEFAULT_COMPRESSION, 0, 1, 9}) {
        SCOPED_TRACE(level);
        const QByteArray data = sampleText(120000);
        const KVPDFFilterResult deflated = KVPDFDeflate(data, level);
        ASSERT_TRUE(deflated.complete);
        const QByteArray &compressed = deflated.data;
        uLongf size = static_cast<uLongf>(data.size());
        QByteArray back(data.size(), Qt::Uninitialized);
        ASSERT_EQ(uncompress(reinterpret_cast<Bytef *>(back.data()), &size,
                             reinterpret_cast<const Bytef *>(compressed.constData()), static_cast<uLong>(compressed.size())),
                  Z_OK);
        EXPECT_EQ(back, data);
    }
    const KVPDFFilterResult compressed = KVPDFDeflate(QByteArray());
    ASSERT_TRUE(compressed.complete);
    const KVPDFFilterResult out = KVPDFInflate(compressed.data, KVPDFMaxDecodedSize);
    EXPECT_EQ(out.zlibStatus, Z_STREAM_END);
    EXPECT_TRUE(out.data.isEmpty());
}

TEST(KVPDFFiltersTest, DeflateRefusesInvalidLevel)
{
    const KVPDFFilterResult out = KVPDFDeflate("abc", 42);
    EXPECT_FALSE(out.complete);
    EXPECT_TRUE(out.data.isEmpty());
}

} // namespace
