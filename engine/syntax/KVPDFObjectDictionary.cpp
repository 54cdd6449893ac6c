#include "KVPDFObjectDictionary.h"

#include "KVPDFObjectContext.h"
#include "KVPDFExceptions.h"
#include "KVPDFGuards.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFParser.h"

#include <unordered_set>

KVPDFObjectDictionary::KVPDFObjectDictionary() { m_type = TypeDictionary; }

KVPDFObjectDictionary::~KVPDFObjectDictionary() { reindex(); }

std::shared_ptr<KVPDFObjectDictionary> KVPDFObjectDictionary::dictionaryAtOffset(uint64_t offset, KVPDFObjectContext *context,
                                                                                 const QByteArray &data, bool directOnly)
{
    auto dictionary = std::make_shared<KVPDFObjectDictionary>();
    dictionary->m_context = context;
    dictionary->m_directOnly = directOnly;
    dictionary->parse(data, offset);
    return dictionary;
}

std::shared_ptr<KVPDFObjectDictionary> KVPDFObjectDictionary::dictionaryWithDictionary(std::vector<Entry> entries)
{
    auto dictionary = std::make_shared<KVPDFObjectDictionary>();
    dictionary->setValue(std::move(entries));
    return dictionary;
}

void KVPDFObjectDictionary::parse(const QByteArray &data, uint64_t offset)
{
    KVPDFDepthGuard depth;
    if (!depth.ok())
        throw FolivoParseFailure("Folivo failed to parse an object");
    const uint64_t size = uint64_t(data.size());
    if (!kvHasKeyword(data, offset, "<<"))
        throw FolivoParseFailure("Dictionary must start with '<<'.");
    m_entries.clear();
    reindex();
    uint64_t p = offset + 2;
    bool closed = false;
    while (p < size) {
        p = kvSkipWhiteAndComments(data, p);
        if (p >= size)
            break;
        const char c = data[qsizetype(p)];
        if (c == '>' && p + 1 < size && data[qsizetype(p + 1)] == '>') {
            p += 2;
            closed = true;
            break;
        }
        if (kvIsObjectBoundary(data, p))
            break;
        if (c != '/') {
            ++p; // stray bytes are skipped one at a time
            continue;
        }
        auto key = KVPDFObjectName::nameAtOffset(p, data);
        p += key->rawLength();
        p = kvSkipWhiteAndComments(data, p);
        if (p >= size || data[qsizetype(p)] == '>') {
            kvLog(QStringLiteral("Unable to parse dictionary element at index: %1").arg(m_entries.size()));
            continue;
        }
        if (kvIsObjectBoundary(data, p))
            break;
        uint64_t end = p;
        KVPDFObjectPtr value = KVPDFParser::objectAtOffset(m_context, p, data, m_directOnly, true, false, false, &end);
        if (!value) {
            kvLog(QStringLiteral("Unable to parse dictionary element at index: %1").arg(m_entries.size()));
            p = std::max(end, p + 1);
            continue;
        }
        p = std::max(end, p + 1);
        if (key->bytes().startsWith("Length") && value->objectType() != TypeInteger) {
            // Stream lengths are needed before the stream can be read: settle them now. A
            // reference that cannot be resolved (missing, or a loop) reads as 0 and the stream
            // reader then searches for "endstream".
            KVPDFObjectPtr resolved = value->resolvedObject();
            value = KVPDFObjectInteger::integerWithLongLong(resolved ? resolved->longLongValue() : 0);
        }
        setEntry(key->bytes(), value);
    }
    if (!closed)
        kvLog(QStringLiteral("Dictionary without closing '>>'"));
    m_rawLength = std::min(p, size) - offset;
}

const std::vector<KVPDFObjectDictionary::Entry> &KVPDFObjectDictionary::value() { return m_entries; }

void KVPDFObjectDictionary::adopt(const KVPDFObjectPtr &value)
{
    if (value)
        value->setContainer(weak_from_this());
}

void KVPDFObjectDictionary::reindex() { delete m_index.exchange(nullptr, std::memory_order_acq_rel); }

const KVPDFObjectDictionary::Index &KVPDFObjectDictionary::index()
{
    if (const Index *built = m_index.load(std::memory_order_acquire))
        return *built;
    auto fresh = std::make_unique<Index>();
    fresh->reserve(qsizetype(m_entries.size()));
    for (qsizetype i = 0; i < qsizetype(m_entries.size()); ++i)
        fresh->insert(m_entries[size_t(i)].first, i);
    Index *expected = nullptr;
    if (m_index.compare_exchange_strong(expected, fresh.get(), std::memory_order_acq_rel, std::memory_order_acquire))
        return *fresh.release();
    return *expected;
}

qsizetype KVPDFObjectDictionary::indexOf(QByteArrayView key)
{
    // Most dictionaries hold a handful of keys: a scan is faster and a hash index per
    // dictionary would cost more memory than the entries themselves.
    if (m_entries.size() <= kLinearLookup) {
        for (size_t i = 0; i < m_entries.size(); ++i)
            if (m_entries[i].first == key)
                return qsizetype(i);
        return -1;
    }
    const Index &keys = index();
    auto it = keys.constFind(key.toByteArray());
    return it == keys.constEnd() ? -1 : it.value();
}

void KVPDFObjectDictionary::setValue(std::vector<Entry> entries)
{
    m_entries.clear();
    reindex();
    m_entries.reserve(entries.size());
    for (auto &entry : entries)
        setEntry(std::move(entry.first), entry.second);
}

std::vector<QByteArray> KVPDFObjectDictionary::keys()
{
    std::vector<QByteArray> keys;
    for (const auto &entry : value())
        keys.push_back(entry.first);
    return keys;
}

KVPDFObjectPtr KVPDFObjectDictionary::objectForKey(QByteArrayView key)
{
    const qsizetype i = indexOf(key);
    return i < 0 ? nullptr : m_entries[size_t(i)].second;
}

KVPDFObjectPtr KVPDFObjectDictionary::resolvedObjectForKey(QByteArrayView key)
{
    KVPDFObjectPtr object = objectForKey(key);
    return object ? object->resolvedObject() : nullptr;
}

bool KVPDFObjectDictionary::replaceEntry(QByteArrayView key, const KVPDFObjectPtr &object)
{
    if (!object) {
        removeObjectForKey(key);
        return true;
    }
    adopt(object);
    const qsizetype i = indexOf(key);
    if (i < 0)
        return false;
    m_entries[size_t(i)].second = object;
    return true;
}

void KVPDFObjectDictionary::setObject(QByteArrayView key, const KVPDFObjectPtr &object)
{
    // The key's bytes are copied only for a new entry.
    if (!replaceEntry(key, object))
        appendEntry(key.toByteArray(), object);
}

void KVPDFObjectDictionary::setEntry(QByteArray key, const KVPDFObjectPtr &object)
{
    if (!replaceEntry(key, object))
        appendEntry(std::move(key), object);
}

void KVPDFObjectDictionary::appendEntry(QByteArray key, const KVPDFObjectPtr &object)
{
    m_entries.emplace_back(std::move(key), object);
    if (Index *keys = m_index.load(std::memory_order_relaxed))
        keys->insert(m_entries.back().first, qsizetype(m_entries.size()) - 1);
}

void KVPDFObjectDictionary::removeObjectForKey(QByteArrayView key)
{
    const qsizetype i = indexOf(key);
    if (i < 0)
        return;
    m_entries.erase(m_entries.begin() + i);
    reindex();
}

QByteArray KVPDFObjectDictionary::nameForKey(QByteArrayView key)
{
    auto name = kv_cast<KVPDFObjectName>(resolvedObjectForKey(key));
    return name ? name->bytes() : QByteArray();
}

int64_t KVPDFObjectDictionary::integerForKey(QByteArrayView key, int64_t fallback)
{
    KVPDFObjectPtr object = resolvedObjectForKey(key);
    if (!object || (object->objectType() != TypeInteger && object->objectType() != TypeReal))
        return fallback;
    return object->longLongValue();
}

KVPDFObjectPtr KVPDFObjectDictionary::objectFromAncestorsForKey(QByteArrayView key)
{
    if (KVPDFObjectPtr own = resolvedObjectForKey(key))
        return own;
    std::unordered_set<const KVPDFObject *> seen{this};
    auto parent = kv_cast<KVPDFObjectDictionary>(resolvedObjectForKey("Parent"));
    while (parent && seen.insert(parent.get()).second) {
        if (KVPDFObjectPtr found = parent->resolvedObjectForKey(key))
            return found;
        parent = kv_cast<KVPDFObjectDictionary>(parent->resolvedObjectForKey("Parent"));
    }
    return nullptr;
}

std::shared_ptr<KVPDFObjectDictionary>
KVPDFObjectDictionary::mergeWithDictionary(const std::shared_ptr<KVPDFObjectDictionary> &other)
{
    KVPDFDepthGuard depth;
    if (!depth.ok())
        throw FolivoParseFailure("Objects nested too deeply to merge");
    std::vector<Entry> merged = value();
    if (other) {
        for (auto &entry : merged) {
            KVPDFObjectPtr theirs = other->objectForKey(entry.first);
            if (!theirs)
                continue;
            if (auto theirDictionary = kv_cast<KVPDFObjectDictionary>(theirs)) {
                if (auto ownDictionary = kv_cast<KVPDFObjectDictionary>(entry.second))
                    entry.second = ownDictionary->mergeWithDictionary(theirDictionary);
            } else if (auto theirArray = kv_cast<KVPDFObjectArray>(theirs)) {
                if (auto ownArray = kv_cast<KVPDFObjectArray>(entry.second)) {
                    std::vector<KVPDFObjectPtr> elements = ownArray->value();
                    const auto &more = theirArray->value();
                    elements.insert(elements.end(), more.begin(), more.end());
                    entry.second = KVPDFObjectArray::arrayWithArray(std::move(elements));
                }
            }
        }
        for (const auto &entry : other->value())
            if (!objectForKey(entry.first))
                merged.push_back(entry);
    }
    auto result = std::make_shared<KVPDFObjectDictionary>();
    result->m_context = m_context;
    // Values are shared with the inputs; the result does not claim them as its own.
    result->m_entries = std::move(merged);
    return result;
}

KVPDFObjectPtr KVPDFObjectDictionary::resolvedObject()
{
    for (auto &entry : m_entries) {
        if (!entry.second || entry.second->objectType() != TypeReference)
            continue;
        KVPDFObjectPtr resolved = entry.second->resolvedObject();
        // Only written where the value changes, so that dictionaries read from a file, whose
        // references never resolve to a shared integer, are never written here.
        if (resolved && (resolved->flags() & FlagDirectInteger))
            entry.second = resolved;
    }
    return shared_from_this();
}

void KVPDFObjectDictionary::setContext(KVPDFObjectContext *context)
{
    if (context == m_context)
        return;
    m_context = context;
    // Parent is not followed, so a page's move does not climb the page tree.
    for (const auto &entry : m_entries)
        if (entry.second && entry.first != "Parent")
            entry.second->setContext(context);
}

void KVPDFObjectDictionary::setContainer(const std::weak_ptr<KVPDFObject> &container)
{
    m_container = container;
    for (const auto &entry : m_entries)
        adopt(entry.second);
}

QByteArray KVPDFObjectDictionary::syntax(KVPDFEncryption encryption)
{
    QByteArray out;
    appendSyntaxReplacing(out, encryption, {}, nullptr);
    return out;
}

void KVPDFObjectDictionary::appendSyntax(QByteArray &out, KVPDFEncryption encryption)
{
    appendSyntaxReplacing(out, encryption, {}, nullptr);
}

void KVPDFObjectDictionary::appendSyntaxReplacing(QByteArray &out, KVPDFEncryption encryption, QByteArrayView key,
                                                  const KVPDFObjectPtr &replacement)
{
    out.append("<< ");
    bool any = false;
    bool replaced = replacement == nullptr;
    auto append = [&](QByteArrayView name, const KVPDFObjectPtr &object) {
        KVPDFObjectName::appendEscapedName(out, name);
        out.append(' ');
        object->appendSyntax(out, encryption);
        out.append(' ');
        any = true;
    };
    for (const auto &entry : value()) {
        if (!replaced && entry.first == key) {
            append(entry.first, replacement);
            replaced = true;
        } else if (entry.second) {
            append(entry.first, entry.second);
        }
    }
    if (!replaced)
        append(key, replacement);
    if (any) {
        out[out.size() - 1] = '>';
        out.append('>');
    } else {
        out.append(">>");
    }
}

KVPDFObjectPtr KVPDFObjectDictionary::copy()
{
    KVPDFDepthGuard depth;
    if (!depth.ok())
        throw FolivoParseFailure("Objects nested too deeply to copy");
    auto dictionary = std::make_shared<KVPDFObjectDictionary>();
    copyBaseInto(*dictionary);
    std::vector<Entry> entries;
    entries.reserve(value().size());
    for (const auto &entry : value())
        entries.emplace_back(entry.first, kvCopyElement(entry.second));
    dictionary->setValue(std::move(entries));
    return dictionary;
}

void KVPDFObjectDictionary::fixReferences(const KVPDFTranslationTable &table)
{
    for (const auto &entry : value())
        if (entry.second)
            entry.second->fixReferences(table);
}

void KVPDFObjectDictionary::appendChildren(std::vector<KVPDFObjectPtr> &out, bool forMarking)
{
    for (const auto &entry : value())
        if (entry.second && !(forMarking && (entry.second->flags() & FlagSkipMark)))
            out.push_back(entry.second);
}

void KVPDFObjectDictionary::releaseGraph()
{
    std::vector<Entry> entries;
    entries.swap(m_entries);
    reindex();
}

QString KVPDFObjectDictionary::attributedObject()
{
    const QString eol = m_context ? QString::fromLatin1(m_context->EOL()) : QStringLiteral("\n");
    QString text = QStringLiteral("<< ");
    for (const char *key : {"Type", "Subtype"}) {
        if (KVPDFObjectPtr object = objectForKey(key))
            text += QStringLiteral("/%1 %2%3").arg(QLatin1String(key), object->attributedObject(), eol);
    }
    std::vector<const Entry *> rest;
    for (const auto &entry : value())
        if (entry.second && entry.first != "Type" && entry.first != "Subtype")
            rest.push_back(&entry);
    for (const Entry *entry : rest) {
        text += QLatin1Char('/') + QString::fromLatin1(entry->first) + QLatin1Char(' ') + entry->second->attributedObject();
        text += rest.size() > 1 ? eol + QStringLiteral("   ") : QStringLiteral(" ");
    }
    text += QStringLiteral(">>");
    text.replace(eol, QString(QChar(0x00AC)));
    return text;
}

QString KVPDFObjectDictionary::description()
{
    return QStringLiteral("<KVPDFObjectDictionary, 0x%1>: %2")
        .arg(quintptr(this), 8, 16, QLatin1Char('0'))
        .arg(QString::fromLatin1(directObject()));
}
