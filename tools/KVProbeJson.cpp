#include "KVProbeJson.h"

#include "KVPDFDocument.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectBoolean.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPage.h"
#include "KVPDFTextString.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>

namespace {
bool isUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder.decode(bytes); // errors show once the text is made
    return !decoder.hasError();
}

// The peer tool prints a string as hex when it holds a control character other than the five
// text ones, or when more than a fifth of it is 8-bit or PDFDocEncoding's accent characters
// (0x18-0x1F) or DEL.
bool looksBinary(const QByteArray &bytes)
{
    qsizetype unusual = 0;
    for (const char ch : bytes) {
        const auto c = uint8_t(ch);
        if (c >= 0x20 && c < 0x7F)
            continue;
        if (c >= 0x18) {
            ++unusual;
            continue;
        }
        if (c != '\n' && c != '\r' && c != '\t' && c != '\b' && c != '\f')
            return true;
    }
    return 5 * unusual > bytes.size();
}

QByteArray realJson(float value)
{
    if (!std::isfinite(value))
        return QByteArrayLiteral("null");
    char buffer[64];
    // Shortest text that reads back as the same float: what the engine holds, nothing more.
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    QByteArray text(buffer, result.ptr - buffer);
    if (!text.contains('.') && !text.contains('e'))
        text.append(".0");
    return text;
}

// As deep as the parser nests. A count of our own: the parser's guard would count the printer's
// nesting against a value that parses on first use while being printed.
constexpr int kMaxDepth = 256;

void appendValue(QByteArray &out, const KVPDFObjectPtr &object, int depth);

void appendDictionary(QByteArray &out, KVPDFObjectDictionary &dictionary, int depth)
{
    // Byte order of the keys like the peer tool; a key read twice answers what the engine's
    // lookup answers.
    std::map<QByteArray, KVPDFObjectPtr> sorted;
    for (const auto &entry : dictionary.value())
        sorted.emplace(entry.first, nullptr);
    for (auto &entry : sorted)
        entry.second = dictionary.objectForKey(entry.first);
    out.append('{');
    bool first = true;
    for (const auto &entry : sorted) {
        if (!first)
            out.append(',');
        first = false;
        out.append(kvProbeNameJson(entry.first));
        out.append(':');
        appendValue(out, entry.second, depth + 1);
    }
    out.append('}');
}

void appendValue(QByteArray &out, const KVPDFObjectPtr &object, int depth)
{
    if (!object || depth > kMaxDepth) {
        out.append("null");
        return;
    }
    switch (object->objectType()) {
    case KVPDFObject::TypeInteger: {
        char buffer[24];
        out.append(buffer, KVPDFObjectSignedToStringInPlace(object->longLongValue(), buffer) - buffer);
        return;
    }
    case KVPDFObject::TypeReal: out.append(realJson(object->realValue())); return;
    case KVPDFObject::TypeString:
        if (auto string = kv_cast<KVPDFObjectString>(object)) {
            out.append(kvProbeStringJson(string->stringData()));
            return;
        }
        break;
    case KVPDFObject::TypeName:
        if (auto name = kv_cast<KVPDFObjectName>(object)) {
            out.append(kvProbeNameJson(name->bytes()));
            return;
        }
        break;
    case KVPDFObject::TypeBoolean:
        if (auto boolean = kv_cast<KVPDFObjectBoolean>(object)) {
            out.append(boolean->boolValue() ? "true" : "false");
            return;
        }
        break;
    case KVPDFObject::TypeReference:
        if (auto reference = kv_cast<KVPDFObjectReference>(object)) {
            out.append('"');
            out.append(QByteArray::number(reference->objectNumber()));
            out.append(' ');
            out.append(QByteArray::number(reference->generation()));
            out.append(" R\"");
            return;
        }
        break;
    case KVPDFObject::TypeArray:
        if (auto array = kv_cast<KVPDFObjectArray>(object)) {
            out.append('[');
            bool first = true;
            for (const auto &element : array->value()) {
                if (!first)
                    out.append(',');
                first = false;
                appendValue(out, element, depth + 1);
            }
            out.append(']');
            return;
        }
        break;
    case KVPDFObject::TypeDictionary:
        if (auto dictionary = kv_cast<KVPDFObjectDictionary>(object)) {
            appendDictionary(out, *dictionary, depth);
            return;
        }
        break;
    case KVPDFObject::TypeStream:
        if (auto stream = kv_cast<KVPDFObjectStream>(object)) {
            out.append("{\"stream\":{\"dict\":");
            if (stream->dictionary())
                appendDictionary(out, *stream->dictionary(), depth);
            else
                out.append("{}");
            out.append("}}");
            return;
        }
        break;
    default: break;
    }
    // Null, and anything whose class does not match its type (an unparsed placeholder).
    out.append("null");
}
}

QByteArray kvProbeQuoted(const QByteArray &utf8)
{
    static const char hex[] = "0123456789abcdef";
    QByteArray out;
    out.reserve(utf8.size() + 2);
    out.append('"');
    for (const char ch : utf8) {
        const auto c = uint8_t(ch);
        switch (c) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        case '\b': out.append("\\b"); break;
        case '\f': out.append("\\f"); break;
        default:
            if (c < 0x20) {
                out.append("\\u00");
                out.append(hex[c >> 4]);
                out.append(hex[c & 15]);
            } else {
                out.append(ch);
            }
        }
    }
    out.append('"');
    return out;
}

QByteArray kvProbeNameJson(const QByteArray &bytes)
{
    if (isUtf8(bytes))
        return kvProbeQuoted('/' + bytes);
    return kvProbeQuoted("n:" + KVPDFObjectName::escapedName(bytes));
}

QByteArray kvProbeStringJson(const QByteArray &bytes)
{
    const auto *b = reinterpret_cast<const uint8_t *>(bytes.constData());
    const qsizetype n = bytes.size();
    const bool utf16 = n >= 2 && ((b[0] == 0xFE && b[1] == 0xFF) || (b[0] == 0xFF && b[1] == 0xFE));
    const bool utf8 = n >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF;
    if (utf16 || utf8)
        return kvProbeQuoted("u:" + kvDecodeTextString(bytes).toUtf8());
    if (!looksBinary(bytes)) {
        const QString text = kvDecodeTextString(bytes);
        if (kvEncodeTextString(text) == bytes)
            return kvProbeQuoted("u:" + text.toUtf8());
    }
    return kvProbeQuoted("b:" + bytes.toHex());
}

QByteArray kvProbeValueJson(const KVPDFObjectPtr &object)
{
    QByteArray out;
    appendValue(out, object, 0);
    return out;
}

QByteArray kvProbeEntryJson(const KVPDFObjectPtr &object)
{
    if (object && object->objectType() == KVPDFObject::TypeStream && kv_cast<KVPDFObjectStream>(object))
        return kvProbeValueJson(object);
    return "{\"value\":" + kvProbeValueJson(object) + '}';
}

bool kvProbeFilters(KVPDFObjectStream &stream, QList<QByteArray> *names)
{
    names->clear();
    if (!stream.dictionary())
        return true;
    const KVPDFObjectPtr filter = stream.dictionary()->resolvedObjectForKey("Filter");
    if (!filter || filter->objectType() == KVPDFObject::TypeNull)
        return true;
    if (auto name = kv_cast<KVPDFObjectName>(filter)) {
        names->append(name->bytes());
        return true;
    }
    auto array = kv_cast<KVPDFObjectArray>(filter);
    if (!array)
        return false;
    for (size_t i = 0; i < array->count(); ++i) {
        auto name = kv_cast<KVPDFObjectName>(array->resolvedObjectAtIndex(i));
        if (!name)
            return false;
        names->append(name->bytes());
    }
    return true;
}

bool kvProbeDecodable(const QList<QByteArray> &filters, KVProbeDecodeLevel level)
{
    static const std::map<QByteArray, KVProbeDecodeLevel> levels = {
        {"FlateDecode", KVProbeDecodeLevel::Generalized},
        {"Fl", KVProbeDecodeLevel::Generalized},
        {"LZWDecode", KVProbeDecodeLevel::Generalized},
        {"LZW", KVProbeDecodeLevel::Generalized},
        {"ASCII85Decode", KVProbeDecodeLevel::Generalized},
        {"A85", KVProbeDecodeLevel::Generalized},
        {"ASCIIHexDecode", KVProbeDecodeLevel::Generalized},
        {"AHx", KVProbeDecodeLevel::Generalized},
        {"RunLengthDecode", KVProbeDecodeLevel::Specialized},
        {"RL", KVProbeDecodeLevel::Specialized},
        {"DCTDecode", KVProbeDecodeLevel::All},
        {"DCT", KVProbeDecodeLevel::All},
    };
    if (filters.isEmpty())
        return true;
    if (level == KVProbeDecodeLevel::None)
        return false;
    for (const QByteArray &filter : filters) {
        auto it = levels.find(filter);
        if (it == levels.end() || int(it->second) > int(level))
            return false;
    }
    return true;
}

KVProbeStreamData kvProbeStreamData(KVPDFObjectStream &stream, KVProbeDecodeLevel level)
{
    KVProbeStreamData result;
    const bool known = kvProbeFilters(stream, &result.filters);
    if (known && kvProbeDecodable(result.filters, level)) {
        result.data = stream.decodedData();
        result.complete = stream.decodeComplete();
        result.decoded = true;
    } else {
        result.data = stream.rawData();
    }
    return result;
}

void kvProbePrint(const QJsonObject &object)
{
    const QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Compact);
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
    std::fputc('\n', stdout);
}

int kvProbePrintUnlessFailed(const QJsonObject &object, int exitCode)
{
    if (exitCode == 0)
        kvProbePrint(object);
    return exitCode;
}

std::shared_ptr<KVPDFDocument> kvProbeOpen(const QString &path, const QString &password, int *status, bool asStored)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "kvprobe: cannot read %s\n", qPrintable(path));
        *status = 1;
        return nullptr;
    }
    file.close();
    KVPDFOpenResult result = KVPDFOpenOK;
    // The object subcommands show the file's own objects, numbered as the file numbers them;
    // save opens the way the program does.
    std::shared_ptr<KVPDFDocument> document =
        KVPDFDocument::documentWithContentsOfFile(path, &result, {}, asStored ? KVPDFOpenMode::AsStored : KVPDFOpenMode::Editing);
    if (document && result == KVPDFOpenNeedsPassword && !password.isEmpty()
        && document->validatePassword(password) == KVPDFPasswordResult::Accepted)
        result = KVPDFOpenOK;
    if (!document || result != KVPDFOpenOK) {
        std::fprintf(stderr, "kvprobe: %s opens with result %d\n", qPrintable(path), result);
        *status = 4;
        return nullptr;
    }
    *status = 0;
    return document;
}

std::optional<KVProbeOptions> kvProbeOptions(const QStringList &options, const QStringList &known)
{
    KVProbeOptions read;
    for (qsizetype i = 0; i < options.size(); i += 2) {
        if (i + 1 >= options.size())
            return std::nullopt;
        const QString &option = options[i];
        const QString &value = options[i + 1];
        if (option == QLatin1String("--password")) {
            read.password = value;
        } else if (option == QLatin1String("--page")) {
            bool ok = false;
            read.page = value.toLongLong(&ok);
            if (!ok || read.page < 1)
                return std::nullopt;
        } else if (known.contains(option)) {
            read.values.insert(option, value);
        } else {
            return std::nullopt;
        }
    }
    return read;
}

std::shared_ptr<KVPDFPage> kvProbePage(KVPDFDocument &document, const QString &path, qlonglong page)
{
    if (page < 1 || qulonglong(page) > document.pageCount()) {
        std::fprintf(stderr, "kvprobe: %s has %zu pages\n", qPrintable(path), document.pageCount());
        return nullptr;
    }
    return document.pageAtIndex(size_t(page - 1));
}

double kvProbeRounded(double value, int places) { return std::round(value * std::pow(10.0, places)) / std::pow(10.0, places); }
