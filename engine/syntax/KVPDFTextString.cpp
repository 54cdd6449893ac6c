#include "KVPDFTextString.h"

namespace {
// PDFDocEncoding where it differs from Latin-1; 0 = same as Latin-1.
char16_t docEncodingSpecial(uint8_t byte)
{
    static const char16_t low[8] = {0x02D8, 0x02C7, 0x02C6, 0x02D9, 0x02DD, 0x02DB, 0x02DA, 0x02DC}; // 0x18-0x1F
    static const char16_t high[33] = {0x2022, 0x2020, 0x2021, 0x2026, 0x2014, 0x2013, 0x0192, 0x2044, 0x2039,
                                      0x203A, 0x2212, 0x2030, 0x201E, 0x201C, 0x201D, 0x2018, 0x2019, 0x201A,
                                      0x2122, 0xFB01, 0xFB02, 0x0141, 0x0152, 0x0160, 0x0178, 0x017D, 0x0131,
                                      0x0142, 0x0153, 0x0161, 0x017E, 0,      0x20AC}; // 0x80-0xA0
    if (byte >= 0x18 && byte <= 0x1F)
        return low[byte - 0x18];
    if (byte >= 0x80 && byte <= 0xA0)
        return high[byte - 0x80];
    return 0;
}

int docEncodingByte(char16_t ch)
{
    if (ch < 0x18 || (ch >= 0x20 && ch < 0x7F) || (ch >= 0xA1 && ch <= 0xFF && ch != 0xAD))
        return ch;
    for (int b = 0x18; b <= 0xA0; ++b) {
        if (b == 0x20)
            b = 0x80;
        if (docEncodingSpecial(uint8_t(b)) == ch)
            return b;
    }
    return -1;
}
}

QString kvDecodeTextString(const QByteArray &bytes)
{
    const auto *b = reinterpret_cast<const uint8_t *>(bytes.constData());
    const qsizetype n = bytes.size();
    if (n >= 2 && ((b[0] == 0xFE && b[1] == 0xFF) || (b[0] == 0xFF && b[1] == 0xFE))) {
        const bool bigEndian = b[0] == 0xFE;
        QString text;
        text.reserve((n - 2) / 2);
        for (qsizetype i = 2; i + 1 < n; i += 2)
            text.append(QChar(bigEndian ? char16_t(b[i] << 8 | b[i + 1]) : char16_t(b[i + 1] << 8 | b[i])));
        return text;
    }
    if (n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)
        return QString::fromUtf8(bytes.constData() + 3, n - 3);
    QString text;
    text.reserve(n);
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t special = docEncodingSpecial(b[i]);
        text.append(QChar(special ? special : char16_t(b[i])));
    }
    return text;
}

QByteArray kvEncodeTextString(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (QChar ch : text) {
        const int b = docEncodingByte(ch.unicode());
        if (b < 0) {
            bytes = QByteArray("\xFE\xFF", 2);
            bytes.reserve(2 + text.size() * 2);
            for (QChar c : text) {
                bytes.append(char(c.unicode() >> 8));
                bytes.append(char(c.unicode() & 0xFF));
            }
            return bytes;
        }
        bytes.append(char(b));
    }
    return bytes;
}

QByteArray kvBigEndianTextBytes(const QByteArray &bytes)
{
    if (bytes.size() < 2 || uint8_t(bytes[0]) != 0xFF || uint8_t(bytes[1]) != 0xFE)
        return bytes;
    QByteArray out = bytes;
    out[0] = char(0xFE);
    out[1] = char(0xFF);
    for (qsizetype i = 2; i + 1 < out.size(); i += 2)
        std::swap(out[i], out[i + 1]);
    return out;
}
