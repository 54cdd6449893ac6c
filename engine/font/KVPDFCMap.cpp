#include "KVPDFCMap.h"

#include "KVPDFCMapTokenizer.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectStream.h"
#include "KVPDFObjectString.h"
#include "KVPDFPredefinedCMaps.h"

#include <algorithm>

namespace {

// A destination string as UTF-16 units. A one-byte string is taken as the unit of that value
// (some writers drop the high zero byte); a trailing odd byte of a longer one is dropped.
QString unitsOf(const QByteArray &bytes)
{
    if (bytes.size() == 1)
        return QString(QChar(char16_t(uint8_t(bytes[0]))));
    QString units;
    units.reserve(bytes.size() / 2);
    for (qsizetype i = 0; i + 1 < bytes.size(); i += 2)
        units.append(QChar(char16_t((uint8_t(bytes[i]) << 8) | uint8_t(bytes[i + 1]))));
    return units;
}

bool isString(const KVPDFCMapToken &token)
{
    return token.kind == KVPDFCMapToken::HexString || token.kind == KVPDFCMapToken::LiteralString
        || token.kind == KVPDFCMapToken::Invalid;
}

// A section ends at its end keyword, at any other keyword (a count larger than the entries, or
// a missing end keyword) and at the end of the text. Answers true when `token` ends it, and
// leaves in `ending` the token the caller goes on with.
bool endsSection(KVPDFCMapToken &token, QByteArrayView endKeyword, KVPDFCMapTokenizer &tokens, KVPDFCMapToken &ending)
{
    if (token.kind != KVPDFCMapToken::End && token.kind != KVPDFCMapToken::Operator)
        return false;
    ending = token.isOperator(endKeyword) ? tokens.next() : std::move(token);
    return true;
}

QString textOf(const KVPDFObjectPtr &object)
{
    if (auto string = kv_cast<KVPDFObjectString>(object))
        return string->stringValue();
    if (auto name = kv_cast<KVPDFObjectName>(object))
        return name->stringValue();
    return QString();
}

} // namespace

std::shared_ptr<KVPDFCMap> KVPDFCMap::cmapWithStream(const std::shared_ptr<KVPDFObjectStream> &stream)
{
    auto cmap = std::make_shared<KVPDFCMap>();
    if (!stream)
        return cmap;
    QByteArray text;
    try {
        text = stream->decodedData();
    } catch (const FolivoException &) {
        text.clear();
    }
    if (text.isEmpty()) {
        kvLog(QStringLiteral("ToUnicode CMap %1 does not decode; its codes map to themselves").arg(stream->objectNumber()));
        return cmap;
    }
    cmap->processCMapString(text);
    return cmap;
}

std::shared_ptr<KVPDFCMap> KVPDFCMap::cmapWithCIDSystemInfo(const std::shared_ptr<KVPDFObjectDictionary> &info)
{
    auto cmap = std::make_shared<KVPDFCMap>();
    if (!info)
        return cmap;
    QString registry;
    QString ordering;
    try {
        registry = textOf(info->resolvedObjectForKey("Registry"));
        ordering = textOf(info->resolvedObjectForKey("Ordering"));
    } catch (const FolivoException &) {
        return cmap;
    }
    if (registry.isEmpty() || ordering.isEmpty())
        return cmap;
    const QString collection = registry + QLatin1Char('-') + ordering;
    const QString name = collection + QStringLiteral("-UCS2");
    const std::optional<QByteArray> text = kvpdf::predefinedcmaps::text(collection, name);
    if (!text) {
        kvLog(QStringLiteral("No predefined CMap %1; its codes map to themselves").arg(name));
        return cmap;
    }
    cmap->processCMapString(*text);
    return cmap;
}

void KVPDFCMap::processCMapString(QByteArrayView text)
{
    KVPDFCMapTokenizer tokens(text);
    KVPDFCMapToken token = tokens.next();
    while (token.kind != KVPDFCMapToken::End) {
        if (token.isOperator("beginbfchar"))
            readChars(tokens, token);
        else if (token.isOperator("beginbfrange"))
            readRanges(tokens, token);
        else
            token = tokens.next();
    }
    indexRanges();
}

bool KVPDFCMap::takeEntry()
{
    if (m_entries > kMaxEntries)
        return false;
    if (m_entries == kMaxEntries) {
        ++m_entries;
        kvLog(QStringLiteral("CMap has more than %1 mappings; the rest are dropped").arg(kMaxEntries));
        return false;
    }
    ++m_entries;
    return true;
}

void KVPDFCMap::readChars(KVPDFCMapTokenizer &tokens, KVPDFCMapToken &ending)
{
    for (;;) {
        KVPDFCMapToken source = tokens.next();
        if (endsSection(source, "endbfchar", tokens, ending))
            return;
        // Anything but a string cannot start an entry; a string that is no code still pairs
        // with its destination, so the entries after it stay aligned.
        if (!isString(source))
            continue;
        KVPDFCMapToken destination = tokens.next();
        if (endsSection(destination, "endbfchar", tokens, ending))
            return;
        // Destinations in name form (glyph names) are not mapped.
        if (!source.isCode() || (destination.kind != KVPDFCMapToken::HexString && destination.kind != KVPDFCMapToken::LiteralString))
            continue;
        if (takeEntry())
            m_chars.insert_or_assign(source.code(), unitsOf(destination.bytes));
    }
}

void KVPDFCMap::readRanges(KVPDFCMapTokenizer &tokens, KVPDFCMapToken &ending)
{
    for (;;) {
        KVPDFCMapToken low = tokens.next();
        if (endsSection(low, "endbfrange", tokens, ending))
            return;
        if (!isString(low))
            continue;
        KVPDFCMapToken high = tokens.next();
        if (endsSection(high, "endbfrange", tokens, ending))
            return;
        KVPDFCMapToken destination = tokens.next();
        if (endsSection(destination, "endbfrange", tokens, ending))
            return;
        const bool valid = low.isCode() && high.isCode() && high.code() >= low.code();
        Range range{valid ? low.code() : 0, valid ? high.code() : 0, QString(), {}};
        if (destination.kind == KVPDFCMapToken::ArrayOpen) {
            const uint64_t count = uint64_t(range.last) - range.first + 1;
            for (;;) {
                KVPDFCMapToken element = tokens.next();
                if (element.kind == KVPDFCMapToken::ArrayClose)
                    break;
                if (endsSection(element, "endbfrange", tokens, ending))
                    return;
                if (!valid || range.destinations.size() >= count)
                    continue;
                if (element.kind != KVPDFCMapToken::HexString && element.kind != KVPDFCMapToken::LiteralString)
                    element.bytes.clear();
                if (takeEntry())
                    range.destinations.push_back(unitsOf(element.bytes));
            }
            if (valid && !range.destinations.empty())
                m_ranges.push_back(std::move(range));
            continue;
        }
        if (!valid || (destination.kind != KVPDFCMapToken::HexString && destination.kind != KVPDFCMapToken::LiteralString))
            continue;
        range.destination = unitsOf(destination.bytes);
        if (takeEntry())
            m_ranges.push_back(std::move(range));
    }
}

void KVPDFCMap::indexRanges()
{
    m_rangeOrder.resize(m_ranges.size());
    for (size_t i = 0; i < m_ranges.size(); ++i)
        m_rangeOrder[i] = uint32_t(i);
    std::stable_sort(m_rangeOrder.begin(), m_rangeOrder.end(),
                     [this](uint32_t a, uint32_t b) { return m_ranges[a].first < m_ranges[b].first; });
    m_rangesOverlap = false;
    for (size_t i = 1; i < m_rangeOrder.size(); ++i) {
        if (m_ranges[m_rangeOrder[i]].first <= m_ranges[m_rangeOrder[i - 1]].last) {
            m_rangesOverlap = true;
            break;
        }
    }
}

const KVPDFCMap::Range *KVPDFCMap::rangeFor(uint32_t code) const
{
    auto gives = [code](const Range &range) {
        return range.first <= code && code <= range.last
            && (range.destinations.empty() || code - range.first < range.destinations.size());
    };
    if (!m_rangesOverlap) {
        auto after = std::upper_bound(m_rangeOrder.begin(), m_rangeOrder.end(), code,
                                      [this](uint32_t value, uint32_t index) { return value < m_ranges[index].first; });
        if (after == m_rangeOrder.begin())
            return nullptr;
        const Range &range = m_ranges[*std::prev(after)];
        return gives(range) ? &range : nullptr;
    }
    for (const Range &range : m_ranges) {
        if (gives(range))
            return &range;
    }
    return nullptr;
}

bool KVPDFCMap::maps(uint32_t code) const
{
    return m_chars.count(code) != 0 || rangeFor(code) != nullptr;
}

void KVPDFCMap::appendText(uint32_t code, QString &out) const
{
    auto found = m_chars.find(code);
    if (found != m_chars.end()) {
        out.append(found->second);
        return;
    }
    if (const Range *range = rangeFor(code)) {
        const uint32_t offset = code - range->first;
        if (!range->destinations.empty()) {
            out.append(range->destinations[offset]);
        } else if (!range->destination.isEmpty()) {
            out.append(range->destination);
            const qsizetype last = out.size() - 1;
            out[last] = QChar(char16_t(out[last].unicode() + offset));
        }
        return;
    }
    out.append(code <= 0xFFFF ? QChar(char16_t(code)) : QChar(QChar::ReplacementCharacter));
}

QByteArray KVPDFCMap::stringDataForGlyph(uint32_t code) const
{
    QString text;
    appendText(code, text);
    QByteArray bytes;
    bytes.reserve(text.size() * 2);
    for (QChar unit : text) {
        bytes.append(char(unit.unicode() >> 8));
        bytes.append(char(unit.unicode() & 0xFF));
    }
    return bytes;
}
