// LZWDecode.
#include "KVPDFFilters.h"

#include "KVPDFLog.h"
#include "support/FilterTestData.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

using namespace filtertest;

namespace {

TEST(KVPDFFiltersTest, LZWDecodesReferenceExample)
{
    // Codes 256 45 258 258 65 259 66 257 in 9 bits.
    const QByteArray encoded = bytesOf({0x80, 0x0B, 0x60, 0x50, 0x22, 0x0C, 0x0C, 0x85, 0x01});
    const QByteArray expected = bytesOf({45, 45, 45, 45, 45, 65, 45, 45, 45, 66});
    const KVPDFFilterResult r = KVPDFDecodeLZW(encoded, 1);
    EXPECT_EQ(r.data, expected);
    EXPECT_TRUE(r.complete);
    EXPECT_EQ(encodeLZW(expected, 1), encoded);
    EXPECT_EQ(KVPDFDecodeLZW(encoded + bytesOf({0x00, 0x80, 0x40}), 1).data, expected) << "bytes after EOD are ignored";
}

TEST(KVPDFFiltersTest, LZWRoundTripsThroughCodeWidthsAndClears)
{
    Random r(12);
    struct Case {
        const char *name;
        QByteArray data;
    };
    const std::vector<Case> cases = {
        {"empty data", QByteArray()},
        {"one byte", QByteArray("x")},
        {"text crossing every code width", sampleText(40000)},
        {"random bytes filling the table several times", r.bytes(30000)},
        {"long runs", QByteArray(20000, 'a') + QByteArray(5000, 'b')},
    };
    for (const Case &c : cases) {
        for (int early : {1, 0}) {
            for (bool clearWhenFull : {true, false}) {
                SCOPED_TRACE(std::string(c.name) + " early " + std::to_string(early) + " clear " + std::to_string(clearWhenFull));
                const KVPDFFilterResult r = KVPDFDecodeLZW(encodeLZW(c.data, early, clearWhenFull), early);
                EXPECT_EQ(r.data, c.data);
                EXPECT_TRUE(r.complete);
            }
        }
    }
}

TEST(KVPDFFiltersTest, LZWStopsAtInvalidCodeKeepingOutput)
{
    // 256, 'A', then 300 while the next entry is 258.
    QByteArray encoded;
    quint32 buffer = 0;
    int count = 0;
    for (int code : {256, 65, 66, 300, 67, 257}) {
        buffer = (buffer << 9) | static_cast<quint32>(code);
        count += 9;
        while (count >= 8) {
            encoded += static_cast<char>(buffer >> (count - 8));
            count -= 8;
        }
    }
    encoded += static_cast<char>(buffer << (8 - count));
    KVPDFLogCapture log;
    const KVPDFFilterResult r = KVPDFDecodeLZW(encoded, 1);
    EXPECT_EQ(r.data, QByteArray("AB"));
    EXPECT_FALSE(r.complete);
    EXPECT_TRUE(log.contains(QStringLiteral("LZWDecode: invalid code 300.")));
}

TEST(KVPDFFiltersTest, LZWStopsAtOutputCap)
{
    const QByteArray data(100000, 'q');
    const KVPDFFilterResult r = KVPDFDecodeLZW(encodeLZW(data, 1), 1, 777);
    EXPECT_EQ(r.data, data.left(777));
    EXPECT_FALSE(r.complete);
}

} // namespace
