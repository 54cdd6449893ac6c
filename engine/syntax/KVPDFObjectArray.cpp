#include "KVPDFObjectArray.h"

#include "KVPDFExceptions.h"
#include "KVPDFGuards.h"
#include "KVPDFLog.h"
#include "KVPDFObjectName.h"
#include "KVPDFParser.h"

KVPDFObjectArray::KVPDFObjectArray() { m_type = TypeArray; }

std::shared_ptr<KVPDFObjectArray> KVPDFObjectArray::arrayAtOffset(uint64_t offset, KVPDFObjectContext *context,
                                                                  const QByteArray &data, bool directOnly)
{
    auto array = std::make_shared<KVPDFObjectArray>();
    array->m_context = context;
    array->m_directOnly = directOnly;
    array->parse(data, offset);
    return array;
}

std::shared_ptr<KVPDFObjectArray> KVPDFObjectArray::arrayWithArray(std::vector<KVPDFObjectPtr> elements)
{
    auto array = std::make_shared<KVPDFObjectArray>();
    array->setValue(std::move(elements));
    return array;
}

void KVPDFObjectArray::parse(const QByteArray &data, uint64_t offset)
{
    KVPDFDepthGuard depth;
    if (!depth.ok())
        throw FolivoParseFailure("Folivo failed to parse an object");
    const uint64_t size = uint64_t(data.size());
    if (offset >= size || data[qsizetype(offset)] != '[')
        throw FolivoParseFailure("Array must start with '['.");
    m_elements.clear();
    uint64_t p = offset + 1;
    bool indexed = false;
    for (;;) {
        p = kvSkipWhiteAndComments(data, p);
        if (p >= size) {
            kvLog(QStringLiteral("Array without closing bracket"));
            break;
        }
        if (data[qsizetype(p)] == ']') {
            ++p;
            break;
        }
        // An unclosed array ends with its object rather than taking in the objects after it.
        if (kvIsObjectBoundary(data, p)) {
            kvLog(QStringLiteral("Array without closing bracket"));
            break;
        }
        uint64_t end = p;
        KVPDFObjectPtr element =
            KVPDFParser::objectAtOffset(m_context, p, data, m_directOnly, true, !m_directOnly && indexed, false, &end);
        if (!element) {
            kvLog(QStringLiteral("Unable to parse array element at index: %1").arg(m_elements.size()));
            // Skip at least one byte so the same bytes are not parsed forever.
            p = std::max(end, p + 1);
            continue;
        }
        p = std::max(end, p + 1);
        adopt(element);
        m_elements.push_back(element);
        if (m_elements.size() == 1) {
            auto name = kv_cast<KVPDFObjectName>(element);
            indexed = name && name->bytes() == "Indexed";
        }
        if (indexed)
            element->setFlags(element->flags() | FlagIndexedLookup);
    }
    m_rawLength = p - offset;
}

const std::vector<KVPDFObjectPtr> &KVPDFObjectArray::value() { return m_elements; }

void KVPDFObjectArray::adopt(const KVPDFObjectPtr &element)
{
    if (element)
        element->setContainer(weak_from_this());
}

void KVPDFObjectArray::setValue(std::vector<KVPDFObjectPtr> elements)
{
    m_elements = std::move(elements);
    for (const auto &element : m_elements)
        adopt(element);
}

KVPDFObjectPtr KVPDFObjectArray::objectAtIndex(size_t index)
{
    const auto &elements = value();
    return index < elements.size() ? elements[index] : nullptr;
}

KVPDFObjectPtr KVPDFObjectArray::resolvedObjectAtIndex(size_t index)
{
    KVPDFObjectPtr element = objectAtIndex(index);
    return element ? element->resolvedObject() : nullptr;
}

void KVPDFObjectArray::addObject(const KVPDFObjectPtr &object)
{
    adopt(object);
    m_elements.push_back(object);
}

void KVPDFObjectArray::insertObject(const KVPDFObjectPtr &object, size_t index)
{
    adopt(object);
    m_elements.insert(m_elements.begin() + qsizetype(std::min(index, m_elements.size())), object);
}

void KVPDFObjectArray::replaceObjectAtIndex(size_t index, const KVPDFObjectPtr &object)
{
    if (index >= m_elements.size())
        return;
    adopt(object);
    m_elements[index] = object;
}

void KVPDFObjectArray::removeObjectAtIndex(size_t index)
{
    if (index < m_elements.size())
        m_elements.erase(m_elements.begin() + qsizetype(index));
}

void KVPDFObjectArray::setContext(KVPDFObjectContext *context)
{
    m_context = context;
    for (const auto &element : m_elements)
        if (element)
            element->setContext(context);
}

void KVPDFObjectArray::setContainer(const std::weak_ptr<KVPDFObject> &container)
{
    m_container = container;
    for (const auto &element : m_elements)
        adopt(element);
}

QByteArray KVPDFObjectArray::syntax(KVPDFEncryption encryption)
{
    QByteArray out;
    appendSyntax(out, encryption);
    return out;
}

void KVPDFObjectArray::appendSyntax(QByteArray &out, KVPDFEncryption encryption)
{
    out.append("[ ");
    for (const auto &element : value()) {
        if (!element)
            continue;
        element->appendSyntax(out, encryption);
        out.append(' ');
    }
    out.append(']');
}

KVPDFObjectPtr KVPDFObjectArray::copy()
{
    KVPDFDepthGuard depth;
    if (!depth.ok())
        throw FolivoParseFailure("Objects nested too deeply to copy");
    auto array = std::make_shared<KVPDFObjectArray>();
    copyBaseInto(*array);
    std::vector<KVPDFObjectPtr> elements;
    elements.reserve(value().size());
    for (const auto &element : value())
        elements.push_back(kvCopyElement(element));
    array->setValue(std::move(elements));
    return array;
}

void KVPDFObjectArray::fixReferences(const KVPDFTranslationTable &table)
{
    for (const auto &element : value())
        if (element)
            element->fixReferences(table);
}

void KVPDFObjectArray::appendChildren(std::vector<KVPDFObjectPtr> &out, bool)
{
    const auto &elements = value();
    out.insert(out.end(), elements.begin(), elements.end());
}

void KVPDFObjectArray::releaseGraph()
{
    std::vector<KVPDFObjectPtr> elements;
    elements.swap(m_elements);
}

QString KVPDFObjectArray::attributedObject()
{
    QString text = QStringLiteral("[ ");
    for (const auto &element : value()) {
        if (!element)
            continue;
        text += element->attributedObject();
        text += QLatin1Char(' ');
    }
    text += QLatin1Char(']');
    return text;
}

QString KVPDFObjectArray::description()
{
    return QStringLiteral("<KVPDFObjectArray, 0x%1>: %2")
        .arg(quintptr(this), 8, 16, QLatin1Char('0'))
        .arg(QString::fromLatin1(directObject()));
}
