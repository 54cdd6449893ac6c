#include "KVPDFEncodingCMap.h"

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
#include <climits>
#include <map>

namespace {

// first code -> (last code, CID of the first code); the intervals never overlap.
using RangeMap = std::map<uint32_t, std::pair<uint32_t, uint32_t>>;

// Puts [first, last] -> cid over whatever the map held there, cutting older intervals.
void overlay(RangeMap &ranges, uint32_t first, uint32_t last, uint32_t cid)
{
    auto it = ranges.upper_bound(first);
    if (it != ranges.begin()) {
        auto before = std::prev(it);
        const uint32_t oldFirst = before->first;
        const auto [oldLast, oldCid] = before->second;
        if (oldLast >= first) {
            if (oldFirst < first)
                before->second.first = first - 1;
            else
                ranges.erase(before);
            if (oldLast > last)
                ranges[last + 1] = {oldLast, oldCid + (last + 1 - oldFirst)};
        }
    }
    it = ranges.lower_bound(first);
    while (it != ranges.end() && it->first <= last) {
        const uint32_t oldFirst = it->first;
        const auto [oldLast, oldCid] = it->second;
        it = ranges.erase(it);
        if (oldLast > last) {
            ranges[last + 1] = {oldLast, oldCid + (last + 1 - oldFirst)};
            break;
        }
    }
    ranges[first] = {last, cid};
}

bool isString(const KVPDFCMapToken &token)
{
    return token.kind == KVPDFCMapToken::HexString || token.kind == KVPDFCMapToken::LiteralString
        || token.kind == KVPDFCMapToken::Invalid;
}

bool isCID(const KVPDFCMapToken &token)
{
    return token.kind == KVPDFCMapToken::Integer && token.integer >= 0 && token.integer <= int64_t(UINT32_MAX);
}

bool isIdentityName(QByteArrayView name)
{
    return name == "Identity-H" || name == "Identity-V";
}

} // namespace

struct KVPDFEncodingCMap::Builder {
    explicit Builder(KVPDFEncodingCMap &map) : map(map) { }

    KVPDFEncodingCMap &map;
    RangeMap cids;
    RangeMap notdefs;
    size_t entries = 0;
    // The depth at which each value was stated: the nearest statement wins, so a map's own
    // WMode and CIDSystemInfo beat those of the map it uses.
    int verticalDepth = INT_MAX;
    int systemInfoDepth = INT_MAX;

    bool take()
    {
        if (entries > KVPDFCMap::kMaxEntries)
            return false;
        if (entries++ == KVPDFCMap::kMaxEntries) {
            kvLog(QStringLiteral("CMap has more than %1 mappings; the rest are dropped").arg(KVPDFCMap::kMaxEntries));
            return false;
        }
        return true;
    }

    void setVertical(bool vertical, int depth)
    {
        if (depth > verticalDepth)
            return;
        verticalDepth = depth;
        map.m_vertical = vertical;
    }

    void setSystemInfo(const QString &registry, const QString &ordering, int depth)
    {
        if (depth > systemInfoDepth)
            return;
        if (!registry.isEmpty())
            map.m_registry = registry;
        if (!ordering.isEmpty())
            map.m_ordering = ordering;
        if (!map.m_registry.isEmpty() && !map.m_ordering.isEmpty())
            systemInfoDepth = depth;
    }

    void addIdentity()
    {
        map.m_codeSpaces.push_back({2, {0, 0}, {0xFF, 0xFF}});
        overlay(cids, 0, 0xFFFF, 0);
    }

    void useName(QByteArrayView name, int depth)
    {
        if (depth > kMaxUseDepth) {
            kvLog(QStringLiteral("CMap %1 is used deeper than %2 levels; not read").arg(QString::fromLatin1(name)).arg(kMaxUseDepth));
            return;
        }
        if (isIdentityName(name)) {
            addIdentity();
            setVertical(name.endsWith("-V"), depth);
            return;
        }
        const std::optional<QByteArray> text = kvpdf::predefinedcmaps::textNamed(QString::fromLatin1(name));
        if (!text) {
            kvLog(QStringLiteral("No predefined CMap %1 to use").arg(QString::fromLatin1(name)));
            return;
        }
        read(*text, depth);
    }

    void useStream(const std::shared_ptr<KVPDFObjectStream> &stream, int depth, bool *readable = nullptr)
    {
        if (depth > kMaxUseDepth) {
            kvLog(QStringLiteral("CMap streams are used deeper than %1 levels; not read").arg(kMaxUseDepth));
            return;
        }
        QByteArray text;
        std::shared_ptr<KVPDFObjectDictionary> dictionary = stream->dictionary();
        int64_t wmode = -1;
        QString registry;
        QString ordering;
        try {
            if (dictionary) {
                KVPDFObjectPtr use = dictionary->resolvedObjectForKey("UseCMap");
                if (auto name = kv_cast<KVPDFObjectName>(use))
                    useName(name->bytes(), depth + 1);
                else if (auto base = kv_cast<KVPDFObjectStream>(use))
                    useStream(base, depth + 1);
                if (dictionary->resolvedObjectForKey("WMode"))
                    wmode = dictionary->integerForKey("WMode", 0);
                if (auto info = kv_cast<KVPDFObjectDictionary>(dictionary->resolvedObjectForKey("CIDSystemInfo"))) {
                    if (auto value = kv_cast<KVPDFObjectString>(info->resolvedObjectForKey("Registry")))
                        registry = value->stringValue();
                    if (auto value = kv_cast<KVPDFObjectString>(info->resolvedObjectForKey("Ordering")))
                        ordering = value->stringValue();
                }
            }
            text = stream->decodedData();
        } catch (const FolivoException &) {
        }
        if (readable)
            *readable = !text.isEmpty();
        read(text, depth);
        // The dictionary's entries count only where the text says nothing (one level deeper
        // than the text, so the text wins).
        if (wmode >= 0)
            setVertical(wmode == 1, depth + 1);
        setSystemInfo(registry, ordering, depth + 1);
    }

    // Reads the entries of one section into `add` (called with the entry's tokens) until the
    // section ends; answers the token to go on with.
    template <size_t Arity, typename Add>
    KVPDFCMapToken readSection(KVPDFCMapTokenizer &tokens, QByteArrayView endKeyword, Add add)
    {
        for (;;) {
            KVPDFCMapToken entry[Arity];
            for (size_t i = 0; i < Arity; ++i) {
                entry[i] = tokens.next();
                if (entry[i].kind == KVPDFCMapToken::End)
                    return entry[i];
                if (entry[i].kind == KVPDFCMapToken::Operator)
                    return entry[i].isOperator(endKeyword) ? tokens.next() : std::move(entry[i]);
                // Entries start with a string; anything else is stepped over alone.
                if (i == 0 && !isString(entry[0]))
                    i = size_t(-1);
            }
            add(entry);
        }
    }

    void read(QByteArrayView text, int depth)
    {
        KVPDFCMapTokenizer tokens(text);
        KVPDFCMapToken previous;
        KVPDFCMapToken token = tokens.next();
        QString registry;
        QString ordering;
        while (token.kind != KVPDFCMapToken::End) {
            if (token.isOperator("begincodespacerange")) {
                token = readSection<2>(tokens, "endcodespacerange", [this](KVPDFCMapToken *entry) {
                    const KVPDFCMapToken &low = entry[0];
                    const KVPDFCMapToken &high = entry[1];
                    if (!low.isCode() || !high.isCode() || low.bytes.size() != high.bytes.size() || !take())
                        return;
                    CodeSpace space{int(low.bytes.size()), {}, {}};
                    for (int i = 0; i < space.length; ++i) {
                        space.low[i] = uint8_t(low.bytes[i]);
                        space.high[i] = uint8_t(high.bytes[i]);
                    }
                    map.m_codeSpaces.push_back(space);
                });
                previous = KVPDFCMapToken();
                continue;
            }
            const bool cidRange = token.isOperator("begincidrange");
            if (cidRange || token.isOperator("beginnotdefrange")) {
                RangeMap &target = cidRange ? cids : notdefs;
                token = readSection<3>(tokens, cidRange ? "endcidrange" : "endnotdefrange", [this, &target](KVPDFCMapToken *entry) {
                    if (!entry[0].isCode() || !entry[1].isCode() || !isCID(entry[2]) || entry[1].code() < entry[0].code()
                        || !take())
                        return;
                    overlay(target, entry[0].code(), entry[1].code(), uint32_t(entry[2].integer));
                });
                previous = KVPDFCMapToken();
                continue;
            }
            if (token.isOperator("begincidchar")) {
                token = readSection<2>(tokens, "endcidchar", [this](KVPDFCMapToken *entry) {
                    if (!entry[0].isCode() || !isCID(entry[1]) || !take())
                        return;
                    overlay(cids, entry[0].code(), entry[0].code(), uint32_t(entry[1].integer));
                });
                previous = KVPDFCMapToken();
                continue;
            }
            if (token.isOperator("usecmap") && previous.kind == KVPDFCMapToken::Name) {
                useName(previous.text, depth + 1);
            } else if (previous.kind == KVPDFCMapToken::Name) {
                if (previous.text == "WMode" && token.kind == KVPDFCMapToken::Integer)
                    setVertical(token.integer == 1, depth);
                else if (previous.text == "Registry" && token.kind == KVPDFCMapToken::LiteralString)
                    registry = QString::fromLatin1(token.bytes);
                else if (previous.text == "Ordering" && token.kind == KVPDFCMapToken::LiteralString)
                    ordering = QString::fromLatin1(token.bytes);
            }
            previous = std::move(token);
            token = tokens.next();
        }
        if (!registry.isEmpty() || !ordering.isEmpty())
            setSystemInfo(registry, ordering, depth);
    }

    static std::vector<CIDRange> flatten(const RangeMap &ranges)
    {
        std::vector<CIDRange> flat;
        flat.reserve(ranges.size());
        for (const auto &[first, value] : ranges)
            flat.push_back({first, value.first, value.second});
        return flat;
    }

    void finish()
    {
        map.m_cidRanges = flatten(cids);
        map.m_notdefRanges = flatten(notdefs);
        map.m_shortestLength = 4;
        for (const CodeSpace &space : map.m_codeSpaces)
            map.m_shortestLength = std::min(map.m_shortestLength, space.length);
        if (map.m_codeSpaces.empty())
            map.m_shortestLength = 2;
    }
};

std::shared_ptr<KVPDFEncodingCMap> KVPDFEncodingCMap::identity(bool vertical)
{
    auto map = std::make_shared<KVPDFEncodingCMap>();
    map->m_identity = true;
    map->m_vertical = vertical;
    map->m_registry = QStringLiteral("Adobe");
    map->m_ordering = QStringLiteral("Identity");
    map->m_codeSpaces.push_back({2, {0, 0}, {0xFF, 0xFF}});
    map->m_shortestLength = 2;
    return map;
}

std::shared_ptr<KVPDFEncodingCMap> KVPDFEncodingCMap::cmapWithName(const QByteArray &name)
{
    if (isIdentityName(name))
        return identity(name.endsWith("-V"));
    const std::optional<QByteArray> text = kvpdf::predefinedcmaps::textNamed(QString::fromLatin1(name));
    if (!text)
        return nullptr;
    auto map = std::make_shared<KVPDFEncodingCMap>();
    Builder builder(*map);
    builder.read(*text, 0);
    builder.finish();
    return map;
}

std::shared_ptr<KVPDFEncodingCMap> KVPDFEncodingCMap::cmapWithText(QByteArrayView text)
{
    if (text.isEmpty())
        return nullptr;
    auto map = std::make_shared<KVPDFEncodingCMap>();
    Builder builder(*map);
    builder.read(text, 0);
    builder.finish();
    return map;
}

std::shared_ptr<KVPDFEncodingCMap> KVPDFEncodingCMap::cmapWithStream(const std::shared_ptr<KVPDFObjectStream> &stream)
{
    if (!stream)
        return nullptr;
    auto map = std::make_shared<KVPDFEncodingCMap>();
    Builder builder(*map);
    bool readable = false;
    builder.useStream(stream, 0, &readable);
    if (!readable) {
        kvLog(QStringLiteral("Encoding CMap %1 does not decode").arg(stream->objectNumber()));
        return nullptr;
    }
    builder.finish();
    return map;
}

bool KVPDFEncodingCMap::matches(const CodeSpace &space, const uint8_t *bytes) const
{
    for (int i = 0; i < space.length; ++i) {
        if (bytes[i] < space.low[i] || bytes[i] > space.high[i])
            return false;
    }
    return true;
}

uint32_t KVPDFEncodingCMap::nextCode(QByteArrayView data, qsizetype &position, int *length) const
{
    const qsizetype left = data.size() - position;
    if (position < 0 || left <= 0) {
        if (length)
            *length = 0;
        return 0;
    }
    const auto *bytes = reinterpret_cast<const uint8_t *>(data.data()) + position;
    int taken = 0;
    for (int n = 1; n <= 4 && n <= left && !taken; ++n) {
        for (const CodeSpace &space : m_codeSpaces) {
            if (space.length == n && matches(space, bytes)) {
                taken = n;
                break;
            }
        }
    }
    if (!taken)
        taken = int(std::min<qsizetype>(m_shortestLength, left));
    uint32_t code = 0;
    for (int i = 0; i < taken; ++i)
        code = (code << 8) | bytes[i];
    position += taken;
    if (length)
        *length = taken;
    return code;
}

bool KVPDFEncodingCMap::inCodeSpace(uint32_t code, int length) const
{
    if (length < 1 || length > 4 || (length < 4 && code >> (8 * length)))
        return false;
    uint8_t bytes[4];
    for (int i = 0; i < length; ++i)
        bytes[i] = uint8_t(code >> (8 * (length - 1 - i)));
    for (const CodeSpace &space : m_codeSpaces) {
        if (space.length == length && matches(space, bytes))
            return true;
    }
    return false;
}

uint32_t KVPDFEncodingCMap::cidForCode(uint32_t code) const
{
    if (m_identity)
        return code;
    auto find = [code](const std::vector<CIDRange> &ranges) -> const CIDRange * {
        auto after = std::upper_bound(ranges.begin(), ranges.end(), code,
                                      [](uint32_t value, const CIDRange &range) { return value < range.first; });
        if (after == ranges.begin())
            return nullptr;
        const CIDRange &range = *std::prev(after);
        return code <= range.last ? &range : nullptr;
    };
    if (const CIDRange *range = find(m_cidRanges))
        return range->cid + (code - range->first);
    if (const CIDRange *range = find(m_notdefRanges))
        return range->cid;
    return 0;
}
