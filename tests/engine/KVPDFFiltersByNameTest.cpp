// Applying filters by name, and every decoder over random and damaged inputs.
#include "KVPDFFilters.h"

#include "KVPDFLog.h"
#include "support/FilterTestData.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <vector>

using namespace filtertest;

namespace {

TEST(KVPDFFiltersTest, ApplyFilterByNameAndAbbreviation)
{
    const QByteArray data = sampleText(3000);
    const QByteArray rle = QByteArray(1, char(4)) + "hello" + char(128);
    struct Case {
        const char *name;
        QByteArray filter;
        QByteArray input;
        QByteArray expected;
    };
    const std::vector<Case> cases = {
        {"Flate", "FlateDecode", zlibCompress(data), data},
        {"Flate abbreviated", "Fl", zlibCompress(data), data},
        {"Flate with a slash", "/FlateDecode", zlibCompress(data), data},
        {"LZW", "LZWDecode", encodeLZW(data, 1), data},
        {"LZW abbreviated", "LZW", encodeLZW(data, 1), data},
        {"ASCII85", "ASCII85Decode", encode85(data), data},
        {"ASCII85 abbreviated", "A85", encode85(data), data},
        {"ASCII hex", "ASCIIHexDecode", data.toHex() + ">", data},
        {"ASCII hex abbreviated", "AHx", data.toHex(), data},
        {"run length", "RunLengthDecode", rle, "hello"},
        {"run length abbreviated", "RL", rle, "hello"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const KVPDFFilterResult r = KVPDFApplyFilter(c.filter, c.input, {});
        EXPECT_TRUE(r.complete) << r.error.toStdString();
        EXPECT_TRUE(r.error.isEmpty());
        EXPECT_EQ(r.data, c.expected);
    }
}

TEST(KVPDFFiltersTest, ApplyFilterUndoesPredictorAfterFlateAndLZW)
{
    Random r(5);
    const QByteArray raw = r.bytes(16 * 20);
    const QByteArray predicted = encodePNG(raw, 16, 4, {4, 1, 2, 3});
    const KVPDFPredictorParams p{15, 4, 8, 4};

    KVPDFFilterResult flate = KVPDFApplyFilter("FlateDecode", zlibCompress(predicted), p);
    EXPECT_TRUE(flate.complete);
    EXPECT_EQ(flate.data, raw);

    KVPDFFilterResult lzw = KVPDFApplyFilter("LZWDecode", encodeLZW(predicted, 0), p, 0);
    EXPECT_TRUE(lzw.complete);
    EXPECT_EQ(lzw.data, raw);
}

TEST(KVPDFFiltersTest, ApplyFilterReportsFaults)
{
    struct Case {
        const char *name;
        QByteArray filter;
        QByteArray input;
        QByteArray expected;
        const char *error;
    };
    const std::vector<Case> cases = {
        {"unknown filter", "JBIG2Decode", "abc", "", "Unsupported filter: JBIG2Decode"},
        {"ASCII85 bad character", "ASCII85Decode", "BOu!rv~>", "", "ASCII85Decode: bad character in ascii85 region: 0166"},
        {"ASCII hex bad character", "AHx", "4865G", "He", "ASCIIHexDecode: bad character in hex data: 0107"},
        {"run length cut short", "RL", bytesOf({5, 'a', 'b'}), "ab", "RunLengthDecode: data ends inside a run."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFLogCapture log;
        const KVPDFFilterResult r = KVPDFApplyFilter(c.filter, c.input, {});
        EXPECT_FALSE(r.complete);
        EXPECT_EQ(r.error, QString::fromLatin1(c.error));
        EXPECT_EQ(r.data, c.expected);
        EXPECT_TRUE(log.contains(QString::fromLatin1(c.error))) << log.messages.join(QLatin1Char('\n')).toStdString();
    }
}

// ---------------------------------------------------------------------------------------------
// Garbage: every decoder over random and damaged inputs, for the sanitizers to watch.

TEST(KVPDFFiltersTest, DecodersSurviveGarbage)
{
    KVPDFLogCapture log; // keeps the expected flood of messages out of the test output
    Random r(20240601);
    const QByteArray sample = sampleText(2000);
    const QByteArray valid[] = {zlibCompress(sample), encodeLZW(sample, 1), encodeLZW(sample, 0),
                                encode85(sample),     sample.toHex(),       rawDeflate(sample)};
    const QByteArray a85Alphabet = "!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUuz~> \n\r\t\x7f";
    const QByteArray names[] = {"FlateDecode", "LZWDecode", "ASCII85Decode", "ASCIIHexDecode", "RunLengthDecode"};
    const int bpcs[] = {1, 2, 4, 8, 16, 3, 0};
    const int predictors[] = {1, 2, 10, 11, 12, 13, 14, 15, 5, 0};

    for (int i = 0; i < 400; ++i) {
        QByteArray input;
        switch (i % 4) {
        case 0: input = r.bytes(r.below(700)); break;
        case 1: input = r.fromAlphabet(r.below(700), a85Alphabet); break;
        default: {
            // A valid stream with a few bytes changed and maybe cut.
            input = valid[r.below(6)];
            for (int k = r.below(4) + 1; k > 0 && !input.isEmpty(); --k)
                input[r.below(static_cast<int>(input.size()))] = static_cast<char>(r.next());
            if (r.below(2))
                input.truncate(r.below(static_cast<int>(input.size()) + 1));
            break;
        }
        }
        const qsizetype cap = r.below(2) ? KVPDFMaxDecodedSize : r.below(5000);
        const KVPDFPredictorParams p{predictors[r.below(10)], r.below(5), bpcs[r.below(7)], r.below(10)};

        EXPECT_LE(KVPDFInflate(input, cap).data.size(), cap);
        EXPECT_LE(KVPDFDecodeLZW(input, r.below(2), cap).data.size(), cap);
        EXPECT_LE(KVPDFDecodeRunLength(input, cap).data.size(), cap);
        EXPECT_LE(KVPDFStreamDecode85(input).data.size(), input.size() * 4);
        EXPECT_LE(KVPDFDecodeASCIIHex(input).data.size(), input.size() / 2 + 1);
        EXPECT_LE(KVPDFApplyPredictor(input, p).data.size(), input.size());
        const KVPDFFilterResult result = KVPDFApplyFilter(names[r.below(5)], input, p, r.below(2), cap);
        EXPECT_EQ(result.complete, result.error.isEmpty());
    }
}

} // namespace
