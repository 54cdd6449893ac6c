#include "KVPDFFilters.h"

#include "KVPDFLog.h"
#include "KVPDFParser.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// Outcome of one decoder run: `error` is empty when the data was sound; `capped` tells that the
// output stopped at the size cap.
struct DecodeStatus {
    QString error;
    bool capped = false;
    bool good() const { return error.isEmpty(); }
};

// Records and logs a fault; a stream's first fault is the one reported.
void fault(DecodeStatus &status, const QString &message)
{
    kvLog(message);
    if (status.error.isEmpty())
        status.error = message;
}

// Grows `out` to `size` bytes, doubling the reservation so that many small appends stay linear.
void growTo(QByteArray &out, qsizetype size)
{
    if (size > out.capacity())
        out.reserve(std::max(size, out.capacity() * 2));
    out.resize(size);
}

// zlib's own counters are 32-bit; larger buffers are handed over in pieces.
constexpr qsizetype kZlibPiece = qsizetype(1) << 30;

// The two header bytes of a zlib stream: method 8 (deflate), a window of at most 32 KiB and a
// check value making the pair a multiple of 31.
bool hasZlibHeader(const QByteArray &in)
{
    if (in.size() < 2)
        return false;
    const auto cmf = static_cast<unsigned char>(in[0]);
    const auto flg = static_cast<unsigned char>(in[1]);
    return (cmf & 0x0f) == 8 && (cmf >> 4) <= 7 && (cmf * 256 + flg) % 31 == 0;
}

bool isA85Space(unsigned char c)
{
    // Besides PDF white space, writers have been seen to leave backspace and DEL in the data.
    return c == 0 || c == 0x08 || c == '\t' || c == '\n' || c == 0x0c || c == '\r' || c == ' ' || c == 0x7f;
}

QByteArray decodeRunLength(const QByteArray &in, qsizetype maxOutput, DecodeStatus &status)
{
    QByteArray out;
    const auto *p = reinterpret_cast<const unsigned char *>(in.constData());
    const qsizetype n = in.size();
    qsizetype i = 0;
    while (i < n) {
        const unsigned char length = p[i++];
        if (length == 128)
            break;
        qsizetype count = length < 128 ? length + 1 : 257 - length;
        if (length > 128 && i >= n) {
            fault(status, QStringLiteral("RunLengthDecode: data ends inside a run."));
            break;
        }
        if (out.size() + count > maxOutput) {
            count = maxOutput - out.size();
            status.capped = true;
        }
        if (length < 128) {
            const qsizetype available = std::min(count, n - i);
            out.append(reinterpret_cast<const char *>(p + i), available);
            i += available;
            if (available < count) {
                fault(status, QStringLiteral("RunLengthDecode: data ends inside a run."));
                break;
            }
        } else {
            out.append(count, static_cast<char>(p[i++]));
        }
        if (status.capped) {
            fault(status, QStringLiteral("Bailing on run-length decoding at maximum decoded size"));
            break;
        }
    }
    return out;
}

QByteArray decodeLZW(const QByteArray &in, int earlyChange, qsizetype maxOutput, DecodeStatus &status)
{
    constexpr int kClear = 256;
    constexpr int kEnd = 257;
    constexpr int kFirstEntry = 258;
    constexpr int kTableSize = 4096;

    // An entry's string always stands in the output already: it is the string emitted for the
    // previous code followed by the first byte emitted for the next one. So an entry is a range
    // of the output, and decoding a code is a copy from earlier output.
    struct Entry {
        qsizetype pos;
        qsizetype length;
    };
    std::vector<Entry> table(kTableSize);

    const auto *p = reinterpret_cast<const unsigned char *>(in.constData());
    const qsizetype n = in.size();
    const int early = earlyChange ? 1 : 0;
    QByteArray out;
    quint32 bits = 0;
    int bitCount = 0;
    qsizetype inPos = 0;
    int next = kFirstEntry;
    qsizetype prevPos = -1;
    qsizetype prevLength = 0;

    for (;;) {
        const int limit = next + early;
        const int width = limit >= 2048 ? 12 : limit >= 1024 ? 11 : limit >= 512 ? 10 : 9;
        while (bitCount < width && inPos < n) {
            bits = (bits << 8) | p[inPos++];
            bitCount += 8;
        }
        if (bitCount < width)
            break;
        const int code = static_cast<int>((bits >> (bitCount - width)) & ((1u << width) - 1));
        bitCount -= width;

        if (code == kClear) {
            next = kFirstEntry;
            prevPos = -1;
            continue;
        }
        if (code == kEnd)
            break;

        const qsizetype start = out.size();
        qsizetype length = 0;
        if (code < 256) {
            length = 1;
        } else if (code < next) {
            length = table[code].length;
        } else if (code == next && prevPos >= 0) {
            length = prevLength + 1;
        } else {
            fault(status, QStringLiteral("LZWDecode: invalid code %1.").arg(code));
            break;
        }
        if (start + length > maxOutput) {
            status.capped = true;
            fault(status, QStringLiteral("Bailing on LZW decoding at maximum decoded size"));
            length = maxOutput - start;
        }
        growTo(out, start + length);
        char *d = out.data();
        if (length > 0) {
            if (code < 256) {
                d[start] = static_cast<char>(code);
            } else if (code < next) {
                std::memcpy(d + start, d + table[code].pos, length);
            } else {
                // Code not yet in the table: the previous string and its own first byte.
                std::memcpy(d + start, d + prevPos, std::min(prevLength, length));
                if (length > prevLength)
                    d[start + prevLength] = d[prevPos];
            }
        }
        if (status.capped)
            break;
        if (prevPos >= 0 && next < kTableSize) {
            table[next] = {prevPos, prevLength + 1};
            ++next;
        }
        prevPos = start;
        prevLength = length;
    }
    return out;
}

int paeth(int a, int b, int c)
{
    const int p = a + b - c;
    const int pa = std::abs(p - a);
    const int pb = std::abs(p - b);
    const int pc = std::abs(p - c);
    if (pa <= pb && pa <= pc)
        return a;
    return pb <= pc ? b : c;
}

QByteArray undoPNG(const QByteArray &in, qsizetype bytesPerPixel, qsizetype rowBytes, DecodeStatus &status)
{
    const qsizetype n = in.size();
    const qsizetype rows = (n + rowBytes) / (rowBytes + 1);
    QByteArray out(n - rows, Qt::Uninitialized);
    const auto *src = reinterpret_cast<const unsigned char *>(in.constData());
    auto *dst = reinterpret_cast<unsigned char *>(out.data());
    qsizetype inPos = 0;
    qsizetype outPos = 0;
    bool typeLogged = false;
    for (qsizetype row = 0; row < rows; ++row) {
        int type = src[inPos++];
        const qsizetype length = std::min(rowBytes, n - inPos);
        const unsigned char *s = src + inPos;
        unsigned char *d = dst + outPos;
        // Only the last row can be short, so the row above is always complete.
        const unsigned char *up = row > 0 ? d - rowBytes : nullptr;
        if (type > 4) {
            // One message per stream: a damaged stream would otherwise log once per row.
            if (!typeLogged)
                fault(status, QString::asprintf("Unsupported PNG filter type: %d", type));
            typeLogged = true;
            type = 0;
        }
        for (qsizetype i = 0; i < length; ++i) {
            const int left = i >= bytesPerPixel ? d[i - bytesPerPixel] : 0;
            const int above = up ? up[i] : 0;
            const int aboveLeft = up && i >= bytesPerPixel ? up[i - bytesPerPixel] : 0;
            int predicted = 0;
            switch (type) {
            case 1: predicted = left; break;
            case 2: predicted = above; break;
            case 3: predicted = (left + above) / 2; break;
            case 4: predicted = paeth(left, above, aboveLeft); break;
            default: break;
            }
            d[i] = static_cast<unsigned char>(s[i] + predicted);
        }
        inPos += length;
        outPos += length;
    }
    return out;
}

QByteArray undoTIFF(const QByteArray &in, int colors, int bitsPerComponent, qsizetype rowBytes)
{
    QByteArray out = in;
    auto *d = reinterpret_cast<unsigned char *>(out.data());
    const qsizetype n = out.size();
    for (qsizetype rowStart = 0; rowStart < n; rowStart += rowBytes) {
        const qsizetype length = std::min(rowBytes, n - rowStart);
        unsigned char *row = d + rowStart;
        if (bitsPerComponent == 8) {
            for (qsizetype i = colors; i < length; ++i)
                row[i] = static_cast<unsigned char>(row[i] + row[i - colors]);
        } else {
            // 16-bit samples, high byte first; a lone last byte of a short row stays as it is.
            const qsizetype stride = qsizetype(colors) * 2;
            for (qsizetype i = stride; i + 1 < length; i += 2) {
                const unsigned sum = ((row[i] << 8) | row[i + 1]) + ((row[i - stride] << 8) | row[i - stride + 1]);
                row[i] = static_cast<unsigned char>(sum >> 8);
                row[i + 1] = static_cast<unsigned char>(sum);
            }
        }
    }
    return out;
}

QByteArray applyPredictor(const QByteArray &in, const KVPDFPredictorParams &p, DecodeStatus &status)
{
    if (p.predictor <= 1)
        return in;
    const bool png = p.predictor >= 10 && p.predictor <= 15;
    if (!png && p.predictor != 2) {
        fault(status, QString::asprintf("Unsupported predictor function: %d", p.predictor));
        return in;
    }
    const int bpc = p.bitsPerComponent;
    if (p.colors < 1 || p.colors > 32 || p.columns < 1 || (bpc != 1 && bpc != 2 && bpc != 4 && bpc != 8 && bpc != 16)) {
        fault(status, QString::asprintf("Invalid predictor parameters: Colors %d, BitsPerComponent %d, Columns %d", p.colors, bpc,
                                        p.columns));
        return in;
    }
    const qint64 bitsPerPixel = qint64(p.colors) * bpc;
    const qsizetype bytesPerPixel = (bitsPerPixel + 7) / 8;
    const qsizetype rowBytes = (bitsPerPixel * p.columns + 7) / 8;
    if (png)
        return undoPNG(in, bytesPerPixel, rowBytes, status);
    if (bpc < 8) {
        fault(status, QString::asprintf("Unsupported predictor function: %d (BitsPerComponent %d)", p.predictor, bpc));
        return in;
    }
    return undoTIFF(in, p.colors, bpc, rowBytes);
}

QByteArray decodeA85(const QByteArray &in, DecodeStatus &status)
{
    const auto *p = reinterpret_cast<const unsigned char *>(in.constData());
    const qsizetype n = in.size();
    QByteArray out;
    out.reserve(n);
    quint32 value = 0; // digits accumulate modulo 2^32, as a 32-bit group value does
    int digits = 0;

    auto appendGroup = [&](int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(static_cast<char>(value >> (24 - 8 * i)));
    };
    // A final group of k digits stands for k - 1 bytes; the missing digits are taken as "u" (84)
    // so that rounding gives back the bytes the writer encoded.
    auto flushPartial = [&]() {
        if (digits < 2)
            return;
        const int bytes = digits - 1;
        for (; digits < 5; ++digits)
            value = value * 85 + 84;
        appendGroup(bytes);
    };

    qsizetype i = 0;
    while (i < n && isA85Space(p[i]))
        ++i;
    if (i + 1 < n && p[i] == '<' && p[i + 1] == '~')
        i += 2;
    for (; i < n; ++i) {
        const unsigned char c = p[i];
        if (c >= '!' && c <= 'u') {
            value = value * 85 + (c - '!');
            if (++digits == 5) {
                appendGroup(4);
                value = 0;
                digits = 0;
            }
        } else if (c == 'z') {
            if (digits > 0) {
                fault(status, QStringLiteral("ASCII85Decode: z inside ascii85 5-tuple"));
                return {};
            }
            out.append(4, '\0');
        } else if (isA85Space(c)) {
            continue;
        } else if (c == '~') {
            qsizetype j = i + 1;
            while (j < n && isA85Space(p[j]))
                ++j;
            if (j >= n || p[j] != '>') {
                fault(status, QStringLiteral("ASCII85Decode: ~ without > in ascii85 section"));
                return out;
            }
            flushPartial();
            return out;
        } else {
            fault(status, QString::asprintf("ASCII85Decode: bad character in ascii85 region: %#o", unsigned(c)));
            return {};
        }
    }
    // Writers that leave out the end marker mean the data to end here.
    flushPartial();
    return out;
}

QByteArray decodeASCIIHex(const QByteArray &in, DecodeStatus &status)
{
    QByteArray out;
    out.reserve(in.size() / 2 + 1);
    int high = -1;
    for (const char ch : in) {
        const auto c = static_cast<unsigned char>(ch);
        const int v = kvHexValue(c);
        if (v >= 0) {
            if (high < 0) {
                high = v;
            } else {
                out.append(static_cast<char>(high << 4 | v));
                high = -1;
            }
        } else if (c == '>') {
            break;
        } else if (!kvIsWhite(c)) {
            fault(status, QString::asprintf("ASCIIHexDecode: bad character in hex data: %#o", unsigned(c)));
            return out;
        }
    }
    // An odd final digit counts as followed by 0.
    if (high >= 0)
        out.append(static_cast<char>(high << 4));
    return out;
}

// Hands zlib the next piece of the input once it has used up the last one.
void feedInput(z_stream &zs, const Bytef *&src, qsizetype &inLeft)
{
    if (zs.avail_in != 0 || inLeft <= 0)
        return;
    const qsizetype piece = std::min(inLeft, kZlibPiece);
    zs.next_in = const_cast<Bytef *>(src);
    zs.avail_in = static_cast<uInt>(piece);
    src += piece;
    inLeft -= piece;
}

int inflateInto(const QByteArray &in, QByteArray &out, qsizetype maxOutput)
{
    maxOutput = std::max<qsizetype>(maxOutput, 0);
    z_stream zs{};
    int rc = inflateInit2(&zs, hasZlibHeader(in) ? MAX_WBITS : -MAX_WBITS);
    if (rc != Z_OK)
        return rc;

    const auto *src = reinterpret_cast<const Bytef *>(in.constData());
    qsizetype inLeft = in.size();
    qsizetype produced = 0;
    // A probe byte tells, once the output is at the cap, whether the stream still has data.
    Bytef probe = 0;
    out.resize(std::min(maxOutput, std::max<qsizetype>(in.size() * 4, 16384)));
    for (;;) {
        feedInput(zs, src, inLeft);
        if (produced == out.size() && out.size() < maxOutput)
            out.resize(std::min(maxOutput, std::max<qsizetype>(out.size() * 2, 16384)));
        const bool atCap = produced == out.size();
        const qsizetype room = atCap ? 1 : std::min(out.size() - produced, kZlibPiece);
        zs.next_out = atCap ? &probe : reinterpret_cast<Bytef *>(out.data()) + produced;
        zs.avail_out = static_cast<uInt>(room);
        rc = inflate(&zs, Z_NO_FLUSH);
        const qsizetype written = room - zs.avail_out;
        if (atCap && written > 0) {
            rc = KVPDFInflateCapped;
            break;
        }
        produced += written;
        if (rc == Z_STREAM_END)
            break;
        if (rc == Z_OK)
            continue;
        // No progress was possible: go on only if more input is waiting; otherwise the data ended
        // before the stream did.
        if (rc == Z_BUF_ERROR && zs.avail_in == 0 && inLeft > 0)
            continue;
        break;
    }
    inflateEnd(&zs);
    out.resize(produced);
    // The doubling leaves up to as much room again as the data, and decoded data is often kept
    // (a stream caches it): hand the room back. Shrinking in place costs no copy.
    if (out.capacity() - produced > produced / 8 + 4096)
        out.squeeze();
    return rc;
}

int deflateInto(const QByteArray &in, QByteArray &out, int level)
{
    z_stream zs{};
    if (const int rc = deflateInit(&zs, level); rc != Z_OK)
        return rc;
    out.resize(static_cast<qsizetype>(deflateBound(&zs, static_cast<uLong>(in.size()))));
    const auto *src = reinterpret_cast<const Bytef *>(in.constData());
    qsizetype inLeft = in.size();
    qsizetype produced = 0;
    int rc = Z_OK;
    while (rc == Z_OK) {
        feedInput(zs, src, inLeft);
        if (produced == out.size())
            out.resize(out.size() * 2 + 64);
        const qsizetype room = std::min(out.size() - produced, kZlibPiece);
        zs.next_out = reinterpret_cast<Bytef *>(out.data()) + produced;
        zs.avail_out = static_cast<uInt>(room);
        rc = deflate(&zs, inLeft > 0 ? Z_NO_FLUSH : Z_FINISH);
        produced += room - zs.avail_out;
        if (rc == Z_BUF_ERROR)
            rc = Z_OK; // no progress this round only because the output was full
    }
    deflateEnd(&zs);
    out.resize(rc == Z_STREAM_END ? produced : 0);
    return rc;
}

// The result of a decoder that reported through `status`.
KVPDFFilterResult resultOf(QByteArray data, const DecodeStatus &status)
{
    KVPDFFilterResult result;
    result.data = std::move(data);
    result.complete = status.good();
    result.error = status.error;
    return result;
}

} // namespace

KVPDFFilterResult KVPDFInflate(const QByteArray &in, qsizetype maxOutput)
{
    KVPDFFilterResult result;
    result.zlibStatus = inflateInto(in, result.data, maxOutput);
    result.complete = result.zlibStatus == Z_STREAM_END;
    if (result.zlibStatus == KVPDFInflateCapped)
        result.error = QStringLiteral("Bailing on inflation at maximum decoded size");
    else if (!result.complete)
        result.error = QStringLiteral("FlateDecode: decoding error.");
    return result;
}

KVPDFFilterResult KVPDFDeflate(const QByteArray &in, int level)
{
    KVPDFFilterResult result;
    result.zlibStatus = deflateInto(in, result.data, level);
    result.complete = result.zlibStatus == Z_STREAM_END;
    if (!result.complete)
        result.error = QStringLiteral("Deflate: zlib error %1").arg(result.zlibStatus);
    return result;
}

KVPDFFilterResult KVPDFStreamDecode85(const QByteArray &in)
{
    DecodeStatus status;
    QByteArray out = decodeA85(in, status);
    return resultOf(std::move(out), status);
}

KVPDFFilterResult KVPDFDecodeASCIIHex(const QByteArray &in)
{
    DecodeStatus status;
    QByteArray out = decodeASCIIHex(in, status);
    return resultOf(std::move(out), status);
}

KVPDFFilterResult KVPDFDecodeRunLength(const QByteArray &in, qsizetype maxOutput)
{
    DecodeStatus status;
    QByteArray out = decodeRunLength(in, std::max<qsizetype>(maxOutput, 0), status);
    return resultOf(std::move(out), status);
}

KVPDFFilterResult KVPDFDecodeLZW(const QByteArray &in, int earlyChange, qsizetype maxOutput)
{
    DecodeStatus status;
    QByteArray out = decodeLZW(in, earlyChange, std::max<qsizetype>(maxOutput, 0), status);
    return resultOf(std::move(out), status);
}

KVPDFFilterResult KVPDFApplyPredictor(const QByteArray &in, const KVPDFPredictorParams &p)
{
    DecodeStatus status;
    QByteArray out = applyPredictor(in, p, status);
    return resultOf(std::move(out), status);
}

KVPDFFilterResult KVPDFApplyFilter(const QByteArray &filterName, const QByteArray &in, const KVPDFPredictorParams &p,
                                   int earlyChange, qsizetype maxOutput)
{
    const QByteArray name = filterName.startsWith('/') ? filterName.mid(1) : filterName;
    maxOutput = std::max<qsizetype>(maxOutput, 0);
    DecodeStatus status;
    QByteArray data;
    if (name == "FlateDecode" || name == "Fl") {
        KVPDFFilterResult inflated = KVPDFInflate(in, maxOutput);
        data = std::move(inflated.data);
        if (!inflated.complete)
            fault(status, inflated.error);
        // The predictor is undone over whatever was decoded, so a prefix kept after a fault is
        // usable too.
        data = applyPredictor(data, p, status);
    } else if (name == "LZWDecode" || name == "LZW") {
        data = decodeLZW(in, earlyChange, maxOutput, status);
        data = applyPredictor(data, p, status);
    } else if (name == "ASCII85Decode" || name == "A85") {
        data = decodeA85(in, status);
    } else if (name == "ASCIIHexDecode" || name == "AHx") {
        data = decodeASCIIHex(in, status);
    } else if (name == "RunLengthDecode" || name == "RL") {
        data = decodeRunLength(in, maxOutput, status);
    } else {
        fault(status, QStringLiteral("Unsupported filter: %1").arg(QString::fromLatin1(name)));
    }
    return resultOf(std::move(data), status);
}
