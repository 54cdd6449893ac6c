#include "KVPDFObjectStreamCache.h"

#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectContext.h"

#include <algorithm>
#include <utility>

KVPDFObjectStreamCache &KVPDFObjectStreamCache::operator=(KVPDFObjectStreamCache &&other) noexcept
{
    m_budget = other.m_budget;
    m_kept = std::exchange(other.m_kept, 0);
    m_clock = other.m_clock;
    m_entries = std::move(other.m_entries);
    m_decodes = std::move(other.m_decodes);
    m_unreadable = std::move(other.m_unreadable);
    return *this;
}

std::shared_ptr<const KVPDFObjectStreamCache::Contents> KVPDFObjectStreamCache::contents(KVPDFObjectContext &context,
                                                                                         uint64_t stream, bool quiet)
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        auto found = m_entries.find(stream);
        if (found != m_entries.end()) {
            found->second.lastUse = ++m_clock;
            return found->second.contents;
        }
        if (m_unreadable.count(stream))
            return nullptr;
    }
    // Resolving and decoding run unlocked: they read other objects, and other threads' members
    // of other streams need not wait for them.
    auto object = kv_cast<KVPDFObjectStream>(context.resolveObject(stream, 0));
    if (!object) {
        bool first = false;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            first = m_unreadable.insert(stream).second;
        }
        if (!quiet && first)
            kvLog(QStringLiteral("Object %1 is named as an object stream but is not a stream").arg(stream));
        return nullptr;
    }
    auto fresh = std::make_shared<Contents>();
    try {
        fresh->data = object->objectStreamContents(fresh->members);
    } catch (const FolivoParseFailure &) {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_unreadable.insert(stream);
        throw;
    }
    fresh->starts.reserve(fresh->members.size());
    for (const KVPDFObjectStream::Member &member : fresh->members)
        fresh->starts.push_back(member.offset);
    std::sort(fresh->starts.begin(), fresh->starts.end());

    bool pinnedNow = false;
    std::shared_ptr<const Contents> answer;
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        auto found = m_entries.find(stream);
        if (found != m_entries.end()) {
            // Another thread decoded the stream meanwhile: its entry stays, ours is dropped.
            found->second.lastUse = ++m_clock;
            return found->second.contents;
        }
        Entry entry;
        entry.cost = uint64_t(fresh->data.size()) + fresh->members.size() * sizeof(KVPDFObjectStream::Member)
                     + fresh->starts.size() * sizeof(uint64_t);
        entry.lastUse = ++m_clock;
        entry.pinned = pinnedNow = ++m_decodes[stream] >= kMaxDecodes;
        entry.contents = fresh;
        m_kept += entry.cost;
        m_entries[stream] = std::move(entry);
        evictBeyondBudget(stream);
        answer = std::move(fresh);
    }
    if (pinnedNow)
        kvLog(QStringLiteral("Object stream %1 was decoded %2 times; kept decoded until the operation ends")
                  .arg(stream)
                  .arg(kMaxDecodes));
    return answer;
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
    const std::shared_ptr<const Contents> found = contents(context, stream, true);
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
    std::shared_ptr<const Contents> found;
    try {
        found = contents(context, stream, false);
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
    // The parse reads from the contents it holds, whatever becomes of the entry meanwhile.
    return KVPDFObjectStream::parseMember(&context, found->data, member->offset, bound, stream, number);
}

void KVPDFObjectStreamCache::beginOperation()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    m_decodes.clear();
    for (auto &[stream, kept] : m_entries)
        kept.pinned = false;
    auto newest = std::max_element(m_entries.begin(), m_entries.end(),
                                   [](const auto &a, const auto &b) { return a.second.lastUse < b.second.lastUse; });
    evictBeyondBudget(newest == m_entries.end() ? 0 : newest->first);
}

uint64_t KVPDFObjectStreamCache::keptBytes() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_kept;
}

bool KVPDFObjectStreamCache::holds(uint64_t stream) const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_entries.count(stream) != 0;
}

unsigned KVPDFObjectStreamCache::decodeCount(uint64_t stream) const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    auto found = m_decodes.find(stream);
    return found == m_decodes.end() ? 0 : found->second;
}
