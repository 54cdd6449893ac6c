#include "KVPDFObjectName.h"

#include "KVPDFExceptions.h"
#include "KVPDFParser.h"

#include <algorithm>
#include <QSet>
#include <QStringDecoder>

#include <string>

KVPDFObjectName::KVPDFObjectName(QByteArray bytes) : m_bytes(std::move(bytes)) { m_type = TypeName; }

std::shared_ptr<KVPDFObjectName> KVPDFObjectName::nameWithString(const QString &text)
{
    return std::make_shared<KVPDFObjectName>(text.toUtf8());
}

std::shared_ptr<KVPDFObjectName> KVPDFObjectName::nameWithBytes(const QByteArray &bytes)
{
    return std::make_shared<KVPDFObjectName>(bytes);
}

namespace {
// A file repeats a few dozen names (Type, Length, Font...) thousands of times: keep one buffer
// per name and share it, per thread, for short names and up to a bounded number of them.
QByteArray internedName(QByteArrayView name)
{
    constexpr qsizetype kMaxLength = 32;
    constexpr qsizetype kMaxNames = 8192;
    thread_local QSet<QByteArray> pool;
    if (name.size() > kMaxLength)
        return name.toByteArray();
    const QByteArray probe = QByteArray::fromRawData(name.data(), name.size());
    auto it = pool.constFind(probe);
    if (it != pool.constEnd())
        return *it;
    QByteArray owned = name.toByteArray();
    if (pool.size() < kMaxNames)
        pool.insert(owned);
    return owned;
}
}

std::shared_ptr<KVPDFObjectName> KVPDFObjectName::nameAtOffset(uint64_t offset, const QByteArray &data)
{
    const uint64_t size = uint64_t(data.size());
    if (offset >= size || data[qsizetype(offset)] != '/')
        throw FolivoParseFailure("Name must start with '/'.");
    const auto *bytes = reinterpret_cast<const uint8_t *>(data.constData());
    uint64_t p = offset + 1;
    uint64_t end = p;
    bool escaped = false;
    while (end < size && !kvIsWhite(bytes[end]) && !kvIsDelimiter(bytes[end]))
        escaped |= bytes[end++] == '#';
    if (!escaped) {
        // Nearly every name: its bytes are the name.
        auto object = std::make_shared<KVPDFObjectName>(
            internedName(QByteArrayView(data.constData() + p, qsizetype(end - p))));
        object->m_rawLength = end - offset;
        return object;
    }
    std::string name;
    while (p < size && !kvIsWhite(bytes[p]) && !kvIsDelimiter(bytes[p])) {
        if (bytes[p] == '#' && p + 2 < size && kvHexValue(bytes[p + 1]) >= 0 && kvHexValue(bytes[p + 2]) >= 0) {
            name.push_back(char(kvHexValue(bytes[p + 1]) * 16 + kvHexValue(bytes[p + 2])));
            p += 3;
            continue;
        }
        name.push_back(char(bytes[p]));
        ++p;
    }
    auto object = std::make_shared<KVPDFObjectName>(internedName(QByteArrayView(name.data(), qsizetype(name.size()))));
    object->m_rawLength = p - offset;
    return object;
}

QString KVPDFObjectName::stringValue() const
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString text = decoder(m_bytes);
    if (decoder.hasError())
        return QString::fromLatin1(m_bytes);
    return text;
}

bool KVPDFObjectName::isEqual(const KVPDFObject &other) const
{
    if (this == &other)
        return true;
    auto *name = dynamic_cast<const KVPDFObjectName *>(&other);
    return name && name->m_bytes == m_bytes;
}

QByteArray KVPDFObjectName::escapedName(const QByteArray &bytes)
{
    QByteArray out;
    out.reserve(bytes.size() + 1);
    appendEscapedName(out, bytes);
    return out;
}

void KVPDFObjectName::appendEscapedName(QByteArray &out, QByteArrayView bytes)
{
    static const char hex[] = "0123456789ABCDEF";
    auto needsEscape = [](char ch) {
        const auto c = uint8_t(ch);
        return c < 0x21 || c > 0x7E || c == '#' || kvIsDelimiter(c);
    };
    out.append('/');
    // Nearly every name is plain: one append instead of one per byte.
    if (std::none_of(bytes.begin(), bytes.end(), needsEscape)) {
        out.append(bytes);
        return;
    }
    for (char ch : bytes) {
        if (needsEscape(ch)) {
            const auto c = uint8_t(ch);
            out.append('#');
            out.append(hex[c >> 4]);
            out.append(hex[c & 15]);
        } else {
            out.append(ch);
        }
    }
}

QByteArray KVPDFObjectName::syntax(KVPDFEncryption) { return escapedName(m_bytes); }

void KVPDFObjectName::appendSyntax(QByteArray &out, KVPDFEncryption) { appendEscapedName(out, m_bytes); }

KVPDFObjectPtr KVPDFObjectName::copy()
{
    auto object = std::make_shared<KVPDFObjectName>(m_bytes);
    copyBaseInto(*object);
    return object;
}

QString KVPDFObjectName::description() { return QStringLiteral("<KVPDFObjectName>: %1").arg(stringValue()); }
