#include "KVPDFObjectStreamCache.h"

#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectContext.h"

#include <algorithm>

KVPDFObjectStreamCache::Entry *KVPDFObjectStreamCache::entry(KVPDFObjectContext &context, uint64_t stream, bool quiet)
{
    auto found = m_entries.find(stream);
    if (found != m_entries.end()) {
        found->second.lastUse = ++m_clock;
        return &found->second;
    }
    if (m_unreadable.count(stream))
        return nullptr;
    auto object = kv_cast<KVPDFObjectStream>(context.resolveObject(stream, 0));
    if (!object) {
        m_unreadable.insert(stream);
        if (!quiet)
            kvLog(QStringLiteral("Object %1 is named as an object stream but is not a stream").arg(stream));
        return nullptr;
    }
    Entry fresh;
    try {
        fresh.data = object->objectStreamContents(fresh.members);
    } catch (const FolivoParseFailure &) {
        m_unreadable.insert(stream);
        throw;
    }
    fresh.starts.reserve(fresh.members.size());
    for (const KVPDFObjectStream::Member &member : fresh.members)
        fresh.starts.push_back(member.offset);
    std::sort(fresh.starts.begin(), fresh.starts.end());
    fresh.cost = uint64_t(fresh.data.size()) + fresh.members.size() * sizeof(KVPDFObjectStream::Member)
                 + fresh.starts.size() * sizeof(uint64_t);
    fresh.lastUse = ++m_clock;
    fresh.pinned = ++m_decodes[stream] >= kMaxDecodes;
    if (fresh.pinned)
        kvLog(QStringLiteral("Object stream %1 was decoded %2 times; kept decoded until the operation ends")
                  .arg(stream)
                  .arg(kMaxDecodes));
    m_kept += fresh.cost;
    Entry &kept = m_entries[stream] = std::move(fresh);
    evictBeyondBudget(stream);
    return &kept;
}

void KVPDFObjectStreamCache::evictBeyondBudget(uint64_t keep)
{
    while (m_kept > m_budget) {
        auto oldest = m_entries.end();
        for (auto it = m_entries.begin(); it != m_entries.end(); ++it)
            if (it->first != keep && !it->second.pinned
                && (oldest == m_entries.end() || it->second.lastUse < oldest->second.lastUse))
                oldest = it;
        if (oldest == m_entries.end())
            return;
        m_kept -= oldest->second.cost;
        m_entries.erase(oldest);
    }
}

std::optional<std::vector<uint64_t>> KVPDFObjectStreamCache::memberNumbers(KVPDFObjectContext &context, uint64_t stream)
{
    const Entry *found = entry(context, stream, true);
    if (!found)
        return std::nullopt;
    std::vector<uint64_t> numbers;
    numbers.reserve(found->members.size());
    for (const KVPDFObjectStream::Member &member : found->members)
        numbers.push_back(member.number);
    return numbers;
}

KVPDFObjectPtr KVPDFObjectStreamCache::member(KVPDFObjectContext &context, uint64_t stream, uint64_t index, uint64_t number)
{
    const Entry *found = nullptr;
    try {
        found = entry(context, stream, false);
    } catch (const FolivoParseFailure &failure) {
        kvLog(QStringLiteral("Object stream %1 could not be read: %2").arg(stream).arg(QString::fromStdString(failure.reason())));
    }
    if (!found)
        return nullptr;
    const std::vector<KVPDFObjectStream::Member> &members = found->members;
    const KVPDFObjectStream::Member *member =
        index < members.size() && members[index].number == number ? &members[index] : nullptr;
    for (size_t i = members.size(); !member && i-- > 0;)
        if (members[i].number == number)
            member = &members[i];
    if (!member) {
        kvLog(QStringLiteral("Object stream %1 holds no object %2").arg(stream).arg(number));
        return nullptr;
    }
    const uint64_t bound = KVPDFObjectStream::memberBound(found->starts, member->offset, uint64_t(found->data.size()));
    // The parse reads from its own share of the bytes, whatever becomes of the entry meanwhile.
    const QByteArray data = found->data;
    return KVPDFObjectStream::parseMember(&context, data, member->offset, bound, stream, number);
}

void KVPDFObjectStreamCache::beginOperation()
{
    m_decodes.clear();
    for (auto &[stream, kept] : m_entries)
        kept.pinned = false;
    auto newest = std::max_element(m_entries.begin(), m_entries.end(),
                                   [](const auto &a, const auto &b) { return a.second.lastUse < b.second.lastUse; });
    evictBeyondBudget(newest == m_entries.end() ? 0 : newest->first);
}

unsigned KVPDFObjectStreamCache::decodeCount(uint64_t stream) const
{
    auto found = m_decodes.find(stream);
    return found == m_decodes.end() ? 0 : found->second;
}
