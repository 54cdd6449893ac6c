#include "KVPDFFilters.h"

#include "KVPDFDocument.h"

#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectStream.h"
#include "KVPDFParser.h"
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

namespace {

// Deterministic pseudo-random bytes (xorshift), the same on every platform.
class Random
{
public:
    explicit Random(quint64 seed) : m_state(seed ? seed : 1) {}
    quint32 next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 7;
        m_state ^= m_state << 17;
        return static_cast<quint32>(m_state >> 11);
    }
    int below(int n) { return static_cast<int>(next() % static_cast<quint32>(n)); }
    QByteArray bytes(qsizetype n)
    {
        QByteArray b(n, Qt::Uninitialized);
        for (qsizetype i = 0; i < n; ++i)
            b[i] = static_cast<char>(next());
        return b;
    }
    QByteArray fromAlphabet(qsizetype n, const QByteArray &alphabet)
    {
        QByteArray b(n, Qt::Uninitialized);
        for (qsizetype i = 0; i < n; ++i)
            b[i] = alphabet[below(static_cast<int>(alphabet.size()))];
        return b;
    }

private:
    quint64 m_state;
};

QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}

// Compression straight through zlib, independent of KVPDFDeflate.
QByteArray zlibCompress(const QByteArray &data, int level = Z_DEFAULT_COMPRESSION)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
    const int rc = compress2(reinterpret_cast<Bytef *>(out.data()), &size,
                             reinterpret_cast<const Bytef *>(data.constData()), static_cast<uLong>(data.size()), level);
    EXPECT_EQ(rc, Z_OK);
    out.resize(static_cast<qsizetype>(size));
    return out;
}

QByteArray rawDeflate(const QByteArray &data)
{
    z_stream zs{};
    EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
    QByteArray out(static_cast<qsizetype>(deflateBound(&zs, static_cast<uLong>(data.size()))), Qt::Uninitialized);
    zs.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.constData()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef *>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(static_cast<qsizetype>(zs.total_out));
    deflateEnd(&zs);
    return out;
}

// Text that compresses moderately, so a cut stream still holds several blocks.
QByteArray sampleText(qsizetype n, quint64 seed = 7)
{
    Random r(seed);
    static const QByteArray words[] = {"stream ", "endobj ", "BT ", "/F1 12 Tf ", "(Hello) Tj ", "ET\n", "0 0 1 rg "};
    QByteArray out;
    while (out.size() < n) {
        out += words[r.below(7)];
        out += QByteArray::number(r.below(100000));
    }
    out.truncate(n);
    return out;
}

// ---------------------------------------------------------------------------------------------
// Flate

TEST(KVPDFFiltersTest, InflateKnownZlibStreamOfHello)
{
    const QByteArray stream = bytesOf({0x78, 0x9c, 0xcb, 0x48, 0xcd, 0xc9, 0xc9, 0x07, 0x00, 0x06, 0x2c, 0x02, 0x15});
    QByteArray out;
    EXPECT_EQ(KVPDFInflate(stream, out, KVPDFMaxDecodedSize), Z_STREAM_END);
    EXPECT_EQ(out, QByteArray("hello"));
}

TEST(KVPDFFiltersTest, InflateDataMadeByZlibCompress)
{
    struct Case
    {
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
        QByteArray out;
        EXPECT_EQ(KVPDFInflate(zlibCompress(c.data, c.level), out, KVPDFMaxDecodedSize), Z_STREAM_END);
        EXPECT_EQ(out, c.data);
    }
}

TEST(KVPDFFiltersTest, InflateAcceptsRawDeflateWithoutZlibHeader)
{
    const QByteArray data = sampleText(5000);
    QByteArray out;
    EXPECT_EQ(KVPDFInflate(rawDeflate(data), out, KVPDFMaxDecodedSize), Z_STREAM_END);
    EXPECT_EQ(out, data);
}

TEST(KVPDFFiltersTest, InflateIgnoresBytesAfterStreamEnd)
{
    QByteArray out;
    EXPECT_EQ(KVPDFInflate(zlibCompress("abc") + "\r\nendstream", out, KVPDFMaxDecodedSize), Z_STREAM_END);
    EXPECT_EQ(out, QByteArray("abc"));
}

TEST(KVPDFFiltersTest, InflateOfTruncatedStreamKeepsPrefix)
{
    const QByteArray data = sampleText(200000);
    const QByteArray compressed = zlibCompress(data);
    QByteArray out;
    const int rc = KVPDFInflate(compressed.left(compressed.size() / 2), out, KVPDFMaxDecodedSize);
    EXPECT_EQ(rc, Z_BUF_ERROR);
    EXPECT_GT(out.size(), 0);
    EXPECT_LT(out.size(), data.size());
    EXPECT_EQ(out, data.left(out.size()));

    KVPDFLogCapture log;
    const KVPDFFilterResult r = KVPDFApplyFilter("FlateDecode", compressed.left(compressed.size() / 2), {});
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.error, QStringLiteral("FlateDecode: decoding error."));
    EXPECT_EQ(r.data, out);
    EXPECT_TRUE(log.contains(QStringLiteral("FlateDecode: decoding error."))) << log.messages.join(QLatin1Char('\n')).toStdString();
}

TEST(KVPDFFiltersTest, InflateWithBadChecksumKeepsData)
{
    const QByteArray data = sampleText(50000);
    QByteArray compressed = zlibCompress(data);
    compressed[compressed.size() - 1] = static_cast<char>(compressed[compressed.size() - 1] ^ 0x5a);
    QByteArray out;
    EXPECT_EQ(KVPDFInflate(compressed, out, KVPDFMaxDecodedSize), Z_DATA_ERROR);
    EXPECT_EQ(out, data);

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
    struct Case
    {
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
        QByteArray out;
        EXPECT_EQ(KVPDFInflate(compressed, out, c.cap), c.expectedCode);
        EXPECT_EQ(out, data.left(c.expectedSize));
    }

    KVPDFLogCapture log;
    const KVPDFFilterResult r = KVPDFApplyFilter("FlateDecode", compressed, {}, 1, 1000);
    EXPECT_FALSE(r.complete);
    EXPECT_EQ(r.data, data.left(1000));
    EXPECT_TRUE(log.contains(QStringLiteral("Bailing on inflation at maximum decoded size")));
}

TEST(KVPDFFiltersTest, InflateRejectsGarbage)
{
    QByteArray out;
    EXPECT_NE(KVPDFInflate(QByteArray(), out, KVPDFMaxDecodedSize), Z_STREAM_END);
    EXPECT_TRUE(out.isEmpty());
    EXPECT_NE(KVPDFInflate(QByteArray("\x78\x9c\xff\xff\xff\xff\xff\xff", 8), out, KVPDFMaxDecodedSize), Z_STREAM_END);
}

TEST(KVPDFFiltersTest, DeflateRoundTripsThroughZlib)
{
    for (int level : {Z_DEFAULT_COMPRESSION, 0, 1, 9}) {
        SCOPED_TRACE(level);
        const QByteArray data = sampleText(120000);
        QByteArray compressed;
        ASSERT_TRUE(KVPDFDeflate(data, compressed, level));
        uLongf size = static_cast<uLongf>(data.size());
        QByteArray back(data.size(), Qt::Uninitialized);
        ASSERT_EQ(uncompress(reinterpret_cast<Bytef *>(back.data()), &size,
                             reinterpret_cast<const Bytef *>(compressed.constData()), static_cast<uLong>(compressed.size())),
                  Z_OK);
        EXPECT_EQ(back, data);
    }
    QByteArray compressed;
    ASSERT_TRUE(KVPDFDeflate(QByteArray(), compressed));
    QByteArray out;
    EXPECT_EQ(KVPDFInflate(compressed, out, KVPDFMaxDecodedSize), Z_STREAM_END);
    EXPECT_TRUE(out.isEmpty());
}

TEST(KVPDFFiltersTest, DeflateRefusesInvalidLevel)
{
    QByteArray out("left over");
    EXPECT_FALSE(KVPDFDeflate("abc", out, 42));
    EXPECT_TRUE(out.isEmpty());
}

// ---------------------------------------------------------------------------------------------
// ASCII base-85

const QByteArray kLeviathan =
    "Man is distinguished, by his reason, but by this singular passion from other animals, which is a lust "
    "of the mind, that by a perseverance of delight in the continued and indefatigable generation of "
    "knowledge, exceeds the short vehemence of any carnal pleasure.";
const QByteArray kLeviathan85 =
    "9jqo^BlbD-BleB1DJ+*+F(f,q/0JDI+D>J1+ED%%F)PqI+C]J8+C]U=FD,B0+EM77B6A$!EZf=0F)u&6DBNP3Df$V8FD,6++CT/%D..7%/"
    "0K.MBk(g!BlbD*+Dc1AF<GL6+EV:.+Dkh1A1SjFBOQ!*@X0))+E1n4F(KN+Ea`iqAKYo'+Co&\"BkM+$+DG^9FD,5.@rH7,Bl8')A0>;uA0>T("
    "A7]@]FD5Ar@VfTuB4YslEaa'(Df-\\9Aftl,Dg-#/A7oI)+D#e-AS#Cn+EV:.+EM47Ec`FIAS>XlASu!h+E(j7@;^?5@psCq@;I'*Ch7$rF`M%G~>";

TEST(KVPDFFiltersTest, ASCII85DecodesKnownAnswers)
{
    struct Case
    {
        const char *name;
        QByteArray input;
        QByteArray expected;
        bool ok;
        const char *logged;
    };
    const std::vector<Case> cases = {
        {"standard text vector", kLeviathan85, kLeviathan, true, nullptr},
        {"standard text vector with leading <~", "<~" + kLeviathan85, kLeviathan, true, nullptr},
        {"z stands for four zero bytes", "z~>", QByteArray(4, '\0'), true, nullptr},
        {"z between groups", "BOu!rzBOu!r~>", "hell" + QByteArray(4, '\0') + "hell", true, nullptr},
        {"largest group", "s8W-!~>", bytesOf({0xff, 0xff, 0xff, 0xff}), true, nullptr},
        {"final group of 2 digits gives 1 byte", "BE~>", "h", true, nullptr},
        {"final group of 3 digits gives 2 bytes", "BOq~>", "he", true, nullptr},
        {"final group of 4 digits gives 3 bytes", "BOtu~>", "hel", true, nullptr},
        {"full group and a final group of 2 digits", "BOu!rDZ~>", "hello", true, nullptr},
        {"lone final digit gives nothing", "BOu!rD~>", "hell", true, nullptr},
        {"white space, backspace and DEL are skipped", "BO u!\r\n\tr\x7f\bDZ~ \n>", "hello", true, nullptr},
        {"bytes after the end marker are ignored", "BE~>garbage", "h", true, nullptr},
        {"missing end marker decodes to the end", "BOu!rDZ", "hello", true, nullptr},
        {"empty data", "", "", true, nullptr},
        {"tilde without > keeps complete groups", "BOu!rDZ~x", "hell", false,
         "ASCII85Decode: ~ without > in ascii85 section"},
        {"tilde as the last byte", "BOu!r~", "hell", false, "ASCII85Decode: ~ without > in ascii85 section"},
        {"tilde followed only by white space", "BOu!r~  \n", "hell", false,
         "ASCII85Decode: ~ without > in ascii85 section"},
        {"z inside a group answers nothing", "BOu!rBOz~>", "", false, "ASCII85Decode: z inside ascii85 5-tuple"},
        {"bad character answers nothing", "BOu!rv~>", "", false, "ASCII85Decode: bad character in ascii85 region: 0166"},
        {"bad control character", "BO\x01u!r~>", "", false, "ASCII85Decode: bad character in ascii85 region: 01"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFLogCapture log;
        bool ok = !c.ok;
        EXPECT_EQ(KVPDFStreamDecode85(c.input, &ok), c.expected);
        EXPECT_EQ(ok, c.ok);
        if (c.logged) {
            EXPECT_TRUE(log.contains(QString::fromLatin1(c.logged))) << log.messages.join(QLatin1Char('\n')).toStdString();
        } else {
            EXPECT_TRUE(log.messages.isEmpty()) << log.messages.join(QLatin1Char('\n')).toStdString();
        }
    }
}

QByteArray encode85(const QByteArray &data)
{
    QByteArray out;
    for (qsizetype i = 0; i < data.size(); i += 4) {
        const qsizetype k = std::min<qsizetype>(4, data.size() - i);
        quint32 v = 0;
        for (int j = 0; j < 4; ++j)
            v = (v << 8) | (j < k ? static_cast<unsigned char>(data[i + j]) : 0u);
        if (k == 4 && v == 0) {
            out += 'z';
            continue;
        }
        char digits[5];
        for (int j = 4; j >= 0; --j) {
            digits[j] = static_cast<char>('!' + v % 85);
            v /= 85;
        }
        out.append(digits, k + 1);
        if (i % 64 == 60)
            out += '\n';
    }
    return out + "~>";
}

TEST(KVPDFFiltersTest, ASCII85RoundTripsRandomData)
{
    Random r(85);
    for (int i = 0; i < 200; ++i) {
        QByteArray data = r.bytes(r.below(60));
        if (i % 5 == 0)
            data += QByteArray(4 + r.below(9), '\0');
        SCOPED_TRACE(data.toHex().toStdString());
        bool ok = false;
        EXPECT_EQ(KVPDFStreamDecode85(encode85(data), &ok), data);
        EXPECT_TRUE(ok);
    }
}

// ---------------------------------------------------------------------------------------------
// ASCII hex

TEST(KVPDFFiltersTest, ASCIIHexDecodesKnownAnswers)
{
    struct Case
    {
        const char *name;
        QByteArray input;
        QByteArray expected;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"upper and lower case digits", "48656C6c6F>", "Hello", true},
        {"white space is skipped", QByteArray(" 48 65\n6c\t6C\r\f6f") + '\0' + ">", "Hello", true},
        {"missing > decodes to the end", "4865", "He", true},
        {"odd final digit counts as followed by 0", "48656>", "He`", true},
        {"single digit", "7>", "p", true},
        {"bytes after > are ignored", "4865>zz", "He", true},
        {"empty data", ">", "", true},
        {"bad character keeps the decoded prefix", "48654G6c", "He", false},
        {"bad character right away", "x48", "", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        bool ok = !c.ok;
        EXPECT_EQ(KVPDFDecodeASCIIHex(c.input, &ok), c.expected);
        EXPECT_EQ(ok, c.ok);
    }
}

// ---------------------------------------------------------------------------------------------
// Run length

TEST(KVPDFFiltersTest, RunLengthDecodesKnownAnswers)
{
    struct Case
    {
        const char *name;
        QByteArray input;
        QByteArray expected;
        bool ok;
    };
    const std::vector<Case> cases = {
        {"literal run then repeat", bytesOf({2, 'a', 'b', 'c', 254, 'x', 128}), "abcxxx", true},
        {"shortest repeat", bytesOf({255, 'y', 128}), "yy", true},
        {"longest repeat", bytesOf({129, 'z', 128}), QByteArray(128, 'z'), true},
        {"longest literal run", QByteArray(1, char(127)) + QByteArray(128, 'q') + char(128), QByteArray(128, 'q'), true},
        {"missing end of data", bytesOf({0, 'a', 253, 'b'}), "abbbb", true},
        {"bytes after end of data are ignored", bytesOf({0, 'a', 128, 0, 'b'}), "a", true},
        {"end of data first", bytesOf({128, 0, 'b'}), "", true},
        {"literal run cut short keeps its bytes", bytesOf({5, 'a', 'b'}), "ab", false},
        {"repeat without its byte", bytesOf({2, 'a', 'b', 'c', 200}), "abc", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        bool ok = !c.ok;
        EXPECT_EQ(KVPDFDecodeRunLength(c.input, &ok), c.expected);
        EXPECT_EQ(ok, c.ok);
    }
}

TEST(KVPDFFiltersTest, RunLengthStopsAtOutputCap)
{
    QByteArray input;
    for (int i = 0; i < 10; ++i)
        input += bytesOf({129, 'a'});
    bool ok = true;
    EXPECT_EQ(KVPDFDecodeRunLength(input, &ok, 300), QByteArray(300, 'a'));
    EXPECT_FALSE(ok);
    EXPECT_EQ(KVPDFDecodeRunLength(input, &ok, 1280), QByteArray(1280, 'a'));
    EXPECT_TRUE(ok);
}

// ---------------------------------------------------------------------------------------------
// LZW

// A plain LZW encoder: codes widen when the decoder's next table entry plus `earlyChange` reaches
// 512, 1024 and 2048; the decoder adds its entry one code later than the encoder does.
QByteArray encodeLZW(const QByteArray &data, int earlyChange, bool clearWhenFull = true)
{
    QByteArray out;
    quint32 bitBuffer = 0;
    int bitCount = 0;
    std::map<QByteArray, int> table;
    int nextEncoder = 258;
    int emitted = 0;
    auto reset = [&]() {
        table.clear();
        for (int i = 0; i < 256; ++i)
            table[QByteArray(1, static_cast<char>(i))] = i;
        nextEncoder = 258;
        emitted = 0;
    };
    auto put = [&](int code) {
        const int decoderNext = std::min(4096, 258 + std::max(0, emitted - 1));
        const int limit = decoderNext + earlyChange;
        const int width = limit >= 2048 ? 12 : limit >= 1024 ? 11 : limit >= 512 ? 10 : 9;
        bitBuffer = (bitBuffer << width) | static_cast<quint32>(code);
        bitCount += width;
        while (bitCount >= 8) {
            out += static_cast<char>(bitBuffer >> (bitCount - 8));
            bitCount -= 8;
        }
        ++emitted;
    };
    reset();
    put(256);
    emitted = 0;
    QByteArray w;
    for (const char c : data) {
        QByteArray wc = w + c;
        if (table.count(wc)) {
            w = wc;
            continue;
        }
        put(table[w]);
        if (nextEncoder < 4096)
            table[wc] = nextEncoder++;
        if (clearWhenFull && nextEncoder == 4096) {
            put(256);
            reset();
        }
        w = QByteArray(1, c);
    }
    if (!w.isEmpty())
        put(table[w]);
    put(257);
    if (bitCount > 0)
        out += static_cast<char>(bitBuffer << (8 - bitCount));
    return out;
}

TEST(KVPDFFiltersTest, LZWDecodesReferenceExample)
{
    // Codes 256 45 258 258 65 259 66 257 in 9 bits.
    const QByteArray encoded = bytesOf({0x80, 0x0B, 0x60, 0x50, 0x22, 0x0C, 0x0C, 0x85, 0x01});
    const QByteArray expected = bytesOf({45, 45, 45, 45, 45, 65, 45, 45, 45, 66});
    bool ok = false;
    EXPECT_EQ(KVPDFDecodeLZW(encoded, 1, &ok), expected);
    EXPECT_TRUE(ok);
    EXPECT_EQ(encodeLZW(expected, 1), encoded);
    EXPECT_EQ(KVPDFDecodeLZW(encoded + bytesOf({0x00, 0x80, 0x40}), 1, &ok), expected) << "bytes after EOD are ignored";
}

TEST(KVPDFFiltersTest, LZWRoundTripsThroughCodeWidthsAndClears)
{
    Random r(12);
    struct Case
    {
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
                SCOPED_TRACE(std::string(c.name) + " early " + std::to_string(early) + " clear "
                             + std::to_string(clearWhenFull));
                bool ok = false;
                EXPECT_EQ(KVPDFDecodeLZW(encodeLZW(c.data, early, clearWhenFull), early, &ok), c.data);
                EXPECT_TRUE(ok);
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
    bool ok = true;
    EXPECT_EQ(KVPDFDecodeLZW(encoded, 1, &ok), QByteArray("AB"));
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.contains(QStringLiteral("LZWDecode: invalid code 300.")));
}

TEST(KVPDFFiltersTest, LZWStopsAtOutputCap)
{
    const QByteArray data(100000, 'q');
    bool ok = true;
    EXPECT_EQ(KVPDFDecodeLZW(encodeLZW(data, 1), 1, &ok, 777), data.left(777));
    EXPECT_FALSE(ok);
}

// ---------------------------------------------------------------------------------------------
// Predictors

// The PNG row filters, written straight from their definitions.
QByteArray encodePNG(const QByteArray &raw, qsizetype rowBytes, qsizetype bpp, const std::vector<int> &types)
{
    QByteArray out;
    const auto at = [&](qsizetype pos) { return pos >= 0 ? static_cast<int>(static_cast<unsigned char>(raw[pos])) : 0; };
    qsizetype row = 0;
    for (qsizetype start = 0; start < raw.size(); start += rowBytes, ++row) {
        const int type = types[row % types.size()];
        out += static_cast<char>(type);
        for (qsizetype i = 0; i < rowBytes && start + i < raw.size(); ++i) {
            const int x = at(start + i);
            const int a = i >= bpp ? at(start + i - bpp) : 0;
            const int b = row > 0 ? at(start - rowBytes + i) : 0;
            const int c = row > 0 && i >= bpp ? at(start - rowBytes + i - bpp) : 0;
            int pred = 0;
            if (type == 1)
                pred = a;
            else if (type == 2)
                pred = b;
            else if (type == 3)
                pred = (a + b) / 2;
            else if (type == 4) {
                const int p = a + b - c;
                const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
                pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
            }
            out += static_cast<char>((x - pred) & 0xff);
        }
    }
    return out;
}

TEST(KVPDFFiltersTest, PNGPredictorUndoesEveryRowType)
{
    struct Image
    {
        const char *name;
        int colors, bpc, columns;
        qsizetype bpp, rowBytes;
    };
    const std::vector<Image> images = {
        {"RGB 8 bits", 3, 8, 4, 3, 12},
        {"two components of 16 bits", 2, 16, 3, 4, 12},
        {"gray 4 bits", 1, 4, 5, 1, 3},
        {"RGB 2 bits", 3, 2, 3, 1, 3},
        {"CMYK 8 bits, one column", 4, 8, 1, 4, 4},
    };
    const std::vector<std::pair<const char *, std::vector<int>>> typeLists = {
        {"None", {0}}, {"Sub", {1}}, {"Up", {2}}, {"Average", {3}}, {"Paeth", {4}}, {"mixed", {4, 3, 0, 2, 1, 4}},
    };
    Random r(10);
    for (const Image &image : images) {
        for (const auto &[typeName, types] : typeLists) {
            for (qsizetype shortBy : {qsizetype(0), image.rowBytes / 2}) {
                SCOPED_TRACE(std::string(image.name) + ", " + typeName + ", last row short by " + std::to_string(shortBy));
                const QByteArray raw = r.bytes(image.rowBytes * 6 - shortBy);
                for (int predictor : {10, 11, 12, 13, 14, 15}) {
                    bool ok = false;
                    const KVPDFPredictorParams p{predictor, image.colors, image.bpc, image.columns};
                    EXPECT_EQ(KVPDFApplyPredictor(encodePNG(raw, image.rowBytes, image.bpp, types), p, &ok).toHex(),
                              raw.toHex());
                    EXPECT_TRUE(ok);
                }
            }
        }
    }
}

TEST(KVPDFFiltersTest, PNGUpRowsOfCrossReferenceStream)
{
    const QByteArray input = bytesOf({2, 1, 0, 0x10, 0, 0, 2, 0, 0, 0x05, 0, 1, 2, 0, 0, 0x20, 0, 0});
    const QByteArray expected = bytesOf({1, 0, 0x10, 0, 0, 1, 0, 0x15, 0, 1, 1, 0, 0x35, 0, 1});
    bool ok = false;
    EXPECT_EQ(KVPDFApplyPredictor(input, {12, 1, 8, 5}, &ok), expected);
    EXPECT_TRUE(ok);
}

TEST(KVPDFFiltersTest, PNGPredictorEdgeCases)
{
    struct Case
    {
        const char *name;
        QByteArray input;
        KVPDFPredictorParams params;
        QByteArray expected;
        bool ok;
        const char *logged;
    };
    const std::vector<Case> cases = {
        {"unknown row type copied as None", bytesOf({7, 5, 6, 2, 1, 1}), {12, 1, 8, 2}, bytesOf({5, 6, 6, 7}), false,
         "Unsupported PNG filter type: 7"},
        // Paeth ties, left to right: left before above before upper left.
        {"Paeth tie of above and upper left picks above", bytesOf({0, 10, 4, 4, 3, 96}), {12, 1, 8, 2},
         bytesOf({10, 4, 13, 100}), true, nullptr},
        {"Paeth tie of left and upper left picks left", bytesOf({0, 10, 14, 4, 248, 48}), {12, 1, 8, 2},
         bytesOf({10, 14, 2, 50}), true, nullptr},
        {"final row of only its type byte", bytesOf({0, 1, 2, 2}), {12, 1, 8, 2}, bytesOf({1, 2}), true, nullptr},
        {"empty data", QByteArray(), {12, 1, 8, 2}, QByteArray(), true, nullptr},
        {"predictor 1 leaves data", "abc", {1, 1, 8, 2}, "abc", true, nullptr},
        {"unknown predictor leaves data", "abc", {5, 1, 8, 2}, "abc", false, "Unsupported predictor function: 5"},
        {"zero columns leave data", "abc", {12, 1, 8, 0}, "abc", false, "Invalid predictor parameters"},
        {"bits per component 3 leave data", "abc", {12, 1, 3, 2}, "abc", false, "Invalid predictor parameters"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVPDFLogCapture log;
        bool ok = !c.ok;
        EXPECT_EQ(KVPDFApplyPredictor(c.input, c.params, &ok), c.expected);
        EXPECT_EQ(ok, c.ok);
        if (c.logged) {
            EXPECT_TRUE(log.contains(QString::fromLatin1(c.logged))) << log.messages.join(QLatin1Char('\n')).toStdString();
        }
    }
}

// TIFF horizontal differencing, from its definition: each sample minus the same sample of the
// pixel to its left, per row.
QByteArray encodeTIFF(const QByteArray &raw, int colors, int bpc, qsizetype rowBytes)
{
    QByteArray out = raw;
    const qsizetype sampleBytes = bpc / 8;
    const qsizetype stride = colors * sampleBytes;
    for (qsizetype start = 0; start < raw.size(); start += rowBytes) {
        const qsizetype length = std::min(rowBytes, raw.size() - start);
        for (qsizetype i = stride; i + sampleBytes <= length; i += sampleBytes) {
            auto sample = [&](qsizetype pos) {
                unsigned v = 0;
                for (qsizetype k = 0; k < sampleBytes; ++k)
                    v = (v << 8) | static_cast<unsigned char>(raw[start + pos + k]);
                return v;
            };
            unsigned d = sample(i) - sample(i - stride);
            for (qsizetype k = sampleBytes - 1; k >= 0; --k, d >>= 8)
                out[start + i + k] = static_cast<char>(d & 0xff);
        }
    }
    return out;
}

TEST(KVPDFFiltersTest, TIFFPredictorUndoesHorizontalDifferencing)
{
    struct Case
    {
        const char *name;
        int colors, bpc, columns;
        qsizetype rowBytes, size;
    };
    const std::vector<Case> cases = {
        {"RGB 8 bits", 3, 8, 4, 12, 12 * 5},
        {"gray 8 bits with a short last row", 1, 8, 7, 7, 7 * 3 + 4},
        {"two components of 16 bits", 2, 16, 3, 12, 12 * 4},
        {"16 bits with a short last row ending on half a sample", 1, 16, 4, 8, 8 * 2 + 5},
    };
    Random r(2);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray raw = r.bytes(c.size);
        bool ok = false;
        EXPECT_EQ(KVPDFApplyPredictor(encodeTIFF(raw, c.colors, c.bpc, c.rowBytes), {2, c.colors, c.bpc, c.columns}, &ok)
                      .toHex(),
                  raw.toHex());
        EXPECT_TRUE(ok);
    }
}

TEST(KVPDFFiltersTest, TIFFPredictorBelowEightBitsLeavesData)
{
    KVPDFLogCapture log;
    bool ok = true;
    EXPECT_EQ(KVPDFApplyPredictor("abcdef", {2, 1, 4, 4}, &ok), QByteArray("abcdef"));
    EXPECT_FALSE(ok);
    EXPECT_TRUE(log.contains(QStringLiteral("Unsupported predictor function")));
}

// ---------------------------------------------------------------------------------------------
// Applying filters by name

TEST(KVPDFFiltersTest, ApplyFilterByNameAndAbbreviation)
{
    const QByteArray data = sampleText(3000);
    const QByteArray rle = QByteArray(1, char(4)) + "hello" + char(128);
    struct Case
    {
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
    struct Case
    {
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
    KVPDFLogCapture log;  // keeps the expected flood of messages out of the test output
    Random r(20240601);
    const QByteArray sample = sampleText(2000);
    const QByteArray valid[] = {zlibCompress(sample), encodeLZW(sample, 1), encodeLZW(sample, 0), encode85(sample),
                                sample.toHex(), rawDeflate(sample)};
    const QByteArray a85Alphabet = "!\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUuz~> \n\r\t\x7f";
    const QByteArray names[] = {"FlateDecode", "LZWDecode", "ASCII85Decode", "ASCIIHexDecode", "RunLengthDecode"};
    const int bpcs[] = {1, 2, 4, 8, 16, 3, 0};
    const int predictors[] = {1, 2, 10, 11, 12, 13, 14, 15, 5, 0};

    for (int i = 0; i < 400; ++i) {
        QByteArray input;
        switch (i % 4) {
        case 0:
            input = r.bytes(r.below(700));
            break;
        case 1:
            input = r.fromAlphabet(r.below(700), a85Alphabet);
            break;
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

        QByteArray out;
        KVPDFInflate(input, out, cap);
        EXPECT_LE(out.size(), cap);
        EXPECT_LE(KVPDFDecodeLZW(input, r.below(2), nullptr, cap).size(), cap);
        EXPECT_LE(KVPDFDecodeRunLength(input, nullptr, cap).size(), cap);
        EXPECT_LE(KVPDFStreamDecode85(input).size(), input.size() * 4);
        EXPECT_LE(KVPDFDecodeASCIIHex(input).size(), input.size() / 2 + 1);
        EXPECT_LE(KVPDFApplyPredictor(input, p).size(), input.size());
        const KVPDFFilterResult result = KVPDFApplyFilter(names[r.below(5)], input, p, r.below(2), cap);
        EXPECT_EQ(result.complete, result.error.isEmpty());
    }
}

} // namespace

// ---------------------------------------------------------------------------------------------
// DCTDecode (through an image stream: the image dictionary says what shape the data must have)

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
    out += bytesOf({0xFF, 0xC4}) + be16(2 + 29 + 18) + bytesOf({0x00}) + dcBits
        + bytesOf({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}) + bytesOf({0x10}) + acBits + bytesOf({0x00});
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
                out += char(0);  // byte stuffing
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

}  // namespace

// The decoded data holds each pixel's samples as the JPEG stores them: as many bytes per pixel
// as its components (what the image's ColorSpace implies), whatever the colours in it.
TEST(KVPDFFiltersTest, DCTDecodeGivesOneByteForEachComponentOfEachPixel)
{
    const QRgb red = qRgb(230, 20, 20), blue = qRgb(20, 40, 220), light = qRgb(200, 200, 200), dark = qRgb(40, 40, 40);
    struct Case {
        const char *name;
        QByteArray entries;
        QByteArray jpeg;
        std::vector<std::vector<int>> pixels;  // samples of the blocks, in the order they repeat
    };
    const std::vector<Case> cases = {
        {"gray", "/ColorSpace /DeviceGray", jpegOf(blocks(48, 32, QImage::Format_Grayscale8, {light, dark})),
         {{200}, {40}}},
        {"RGB", "/ColorSpace /DeviceRGB", jpegOf(blocks(48, 32, QImage::Format_RGB32, {red, blue})),
         {{230, 20, 20}, {20, 40, 220}}},
        // All its pixels are gray, but the JPEG has three components and the ColorSpace says RGB.
        {"RGB of gray colours", "/ColorSpace /DeviceRGB", jpegOf(blocks(48, 32, QImage::Format_RGB32, {light, dark})),
         {{200, 200, 200}, {40, 40, 40}}},
        {"CMYK", "/ColorSpace /DeviceCMYK", solidJPEG(48, 32, {255, 128, 0, 200}), {{255, 128, 0, 200}}},
        {"CMYK with full black", "/ColorSpace /DeviceCMYK /Decode [1 0 1 0 1 0 1 0]", solidJPEG(21, 13, {64, 255, 191, 255}),
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
