#pragma once
// Inputs for the filter tests: deterministic random bytes, sample text, and encoders written
// straight from each format's definition (or zlib itself), independent of the engine's code.
#include <QByteArray>

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <map>
#include <vector>

namespace filtertest {

// Deterministic pseudo-random bytes (xorshift), the same on every platform.
class Random {
public:
    explicit Random(quint64 seed) : m_state(seed ? seed : 1) { }
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

inline QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray b;
    for (int v : values)
        b.append(static_cast<char>(v));
    return b;
}

// Compression straight through zlib, independent of KVPDFDeflate.
inline QByteArray zlibCompress(const QByteArray &data, int level = Z_DEFAULT_COMPRESSION)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    QByteArray out(static_cast<qsizetype>(size), Qt::Uninitialized);
    const int rc = compress2(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(data.constData()),
                             static_cast<uLong>(data.size()), level);
    EXPECT_EQ(rc, Z_OK);
    out.resize(static_cast<qsizetype>(size));
    return out;
}

inline QByteArray rawDeflate(const QByteArray &data)
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
inline QByteArray sampleText(qsizetype n, quint64 seed = 7)
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

inline QByteArray encode85(const QByteArray &data)
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

// A plain LZW encoder: codes widen when the decoder's next table entry plus `earlyChange` reaches
// 512, 1024 and 2048; the decoder adds its entry one code later than the encoder does.
inline QByteArray encodeLZW(const QByteArray &data, int earlyChange, bool clearWhenFull = true)
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

// The PNG row filters, written straight from their definitions.
inline QByteArray encodePNG(const QByteArray &raw, qsizetype rowBytes, qsizetype bpp, const std::vector<int> &types)
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

// TIFF horizontal differencing, from its definition: each sample minus the same sample of the
// pixel to its left, per row.
inline QByteArray encodeTIFF(const QByteArray &raw, int colors, int bpc, qsizetype rowBytes)
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

} // namespace filtertest
