// The document's outline and named destinations: reading them at open, keeping outline items
// with the pages they lead to when pages leave and come back, and writing the outline.
#include "KVPDFDestination.h"
#include "KVPDFDocument.h"
#include "KVPDFExceptions.h"
#include "KVPDFLog.h"
#include "KVPDFObjectArray.h"
#include "KVPDFObjectDictionary.h"
#include "KVPDFObjectInteger.h"
#include "KVPDFObjectName.h"
#include "KVPDFObjectReal.h"
#include "KVPDFObjectReference.h"
#include "KVPDFObjectString.h"
#include "KVPDFOutline.h"
#include "KVPDFPage.h"
#include "KVPDFWriteState.h"

#include <algorithm>
#include <cmath>
#include <optional>

namespace {
using Dictionary = std::shared_ptr<KVPDFObjectDictionary>;

// Deeper nesting than any outline a person reads; the limit keeps a hostile file from running
// the reader's stack out.
constexpr int kMaxOutlineDepth = 256;
constexpr int kMaxNameTreeDepth = 64;

KVPDFObjectPtr resolved(const KVPDFObjectPtr &object) { return object ? object->resolvedObject() : nullptr; }

// The text a name or string stands for as a key of the named destinations.
std::optional<QString> keyText(const KVPDFObjectPtr &object)
{
    KVPDFObjectPtr value = resolved(object);
    if (auto string = kv_cast<KVPDFObjectString>(value))
        return string->stringValue();
    if (auto name = kv_cast<KVPDFObjectName>(value))
        return name->stringValue();
    return std::nullopt;
}

std::optional<KVColor> outlineColor(const KVPDFObjectPtr &object)
{
    auto array = kv_cast<KVPDFObjectArray>(resolved(object));
    if (!array)
        return std::nullopt;
    float rgb[3] = {0, 0, 0};
    for (size_t i = 0; i < 3 && i < array->count(); ++i) {
        KVPDFObjectPtr value = array->resolvedObjectAtIndex(i);
        const float component = value ? value->realValue() : 0.0f;
        rgb[i] = std::isfinite(component) ? component : 0.0f;
    }
    return KVColor::rgb(rgb[0], rgb[1], rgb[2]);
}

std::optional<size_t> indexOfPage(const std::vector<std::shared_ptr<KVPDFPage>> &pages, const std::shared_ptr<KVPDFPage> &page)
{
    if (!page)
        return std::nullopt;
    auto found = std::find(pages.begin(), pages.end(), page);
    return found == pages.end() ? std::nullopt : std::optional<size_t>(size_t(found - pages.begin()));
}

std::shared_ptr<KVPDFPage> pageOf(const KVPDFOutline &item)
{
    const auto &destination = item.destination();
    return destination && destination->type() == KVPDFDestination::TypePage ? destination->page() : nullptr;
}

KVPDFObjectPtr referenceTo(const KVPDFObjectPtr &object) { return KVPDFObjectReference::referenceWithObject(object); }

// Writes the children of `item` under its written dictionary `written`, depth first.
void writeOutlineChildren(KVPDFDocument &document, const KVPDFOutline &item, const Dictionary &written, KVPDFWriteState &state,
                          int depth)
{
    std::vector<Dictionary> children;
    for (const auto &child : item.children()) {
        if (!child)
            continue;
        auto entry = std::make_shared<KVPDFObjectDictionary>();
        state.addObject(entry);
        entry->setObject("Title", KVPDFObjectString::stringWithString(child->title()));
        entry->setObject("Parent", referenceTo(written));
        const auto &destination = child->destination();
        const std::shared_ptr<KVPDFPage> page = pageOf(*child);
        if (page && indexOfPage(document.pages(), page)) {
            entry->setObject("Dest", destination->pageDestination());
        } else if (destination && destination->action()) {
            // URI, GoToR, Named, Launch and the rest: the item's own action is its target.
            entry->setObject("A", destination->action()->copy());
        } else if (destination && destination->unresolvedDest()) {
            entry->setObject("Dest", destination->unresolvedDest()->copy());
        }
        if (const auto &color = child->color()) {
            const QColor rgb = color->toQColor().toRgb();
            entry->setObject("C", KVPDFObjectArray::arrayWithArray({KVPDFObjectReal::realWithFloat(float(rgb.redF())),
                                                                     KVPDFObjectReal::realWithFloat(float(rgb.greenF())),
                                                                     KVPDFObjectReal::realWithFloat(float(rgb.blueF()))}));
        }
        if (child->flags() != 0)
            entry->setObject("F", KVPDFObjectInteger::integerWithLongLong(child->flags()));
        if (depth < kMaxOutlineDepth)
            writeOutlineChildren(document, *child, entry, state, depth + 1);
        if (child->hasChildren()) {
            // A closed item states how many children it hides, negated, so it reads closed again.
            const int64_t count = child->isExpanded() ? int64_t(child->expandedChildNodes()) : -int64_t(child->numberOfChildren());
            entry->setObject("Count", KVPDFObjectInteger::integerWithLongLong(count));
        }
        children.push_back(entry);
    }
    for (size_t i = 0; i < children.size(); ++i) {
        if (i > 0)
            children[i]->setObject("Prev", referenceTo(children[i - 1]));
        if (i + 1 < children.size())
            children[i]->setObject("Next", referenceTo(children[i + 1]));
    }
    if (!children.empty()) {
        written->setObject("First", referenceTo(children.front()));
        written->setObject("Last", referenceTo(children.back()));
    }
}
} // namespace

const std::shared_ptr<KVPDFOutline> &KVPDFDocument::outlines()
{
    if (!m_contents.outlines) {
        m_contents.outlines = KVPDFOutline::outlineWithTitle(QString(), 0, std::nullopt, nullptr);
        m_contents.outlines->setDocument(this);
    }
    return m_contents.outlines;
}

void KVPDFDocument::setOutlines(std::shared_ptr<KVPDFOutline> root) { m_contents.outlines = std::move(root); }

void KVPDFDocument::processDests()
{
    m_contents.dests.clear();
    const Dictionary &catalog = m_structure.rootObject;
    if (!catalog)
        return;
    try {
        if (auto dests = kv_cast<KVPDFObjectDictionary>(catalog->resolvedObjectForKey("Dests")))
            for (const auto &[key, value] : dests->value())
                if (value)
                    m_contents.dests.insert(KVPDFObjectName(key).stringValue(), value);
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("The catalogue's Dests could not be read: %1").arg(QString::fromStdString(failure.reason())));
    }
    // Both may be present (a file updated by tools that know only one of them): a name the
    // tree defines is the tree's.
    QHash<QString, KVPDFObjectPtr> tree;
    std::unordered_set<const KVPDFObject *> visited;
    try {
        auto names = kv_cast<KVPDFObjectDictionary>(catalog->resolvedObjectForKey("Names"));
        if (auto root = names ? kv_cast<KVPDFObjectDictionary>(names->resolvedObjectForKey("Dests")) : nullptr)
            processNameTree(root, tree, visited, 0);
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("The named destinations tree could not be read: %1").arg(QString::fromStdString(failure.reason())));
    }
    for (auto it = tree.cbegin(); it != tree.cend(); ++it)
        m_contents.dests.insert(it.key(), it.value());
}

void KVPDFDocument::processNameTree(const Dictionary &node, QHash<QString, KVPDFObjectPtr> &into,
                                    std::unordered_set<const KVPDFObject *> &visited, int depth)
{
    if (!node)
        return;
    if (!visited.insert(node.get()).second) {
        kvLog(QStringLiteral("A name tree node is its own descendant; it is read once"));
        return;
    }
    if (depth > kMaxNameTreeDepth) {
        kvLog(QStringLiteral("A name tree nests too deeply; the nodes below are left out"));
        return;
    }
    if (auto kids = kv_cast<KVPDFObjectArray>(node->resolvedObjectForKey("Kids"))) {
        for (size_t i = 0; i < kids->count(); ++i)
            processNameTree(kv_cast<KVPDFObjectDictionary>(kids->resolvedObjectAtIndex(i)), into, visited, depth + 1);
        return;
    }
    auto names = kv_cast<KVPDFObjectArray>(node->resolvedObjectForKey("Names"));
    // A key without a value at the end is ignored.
    for (size_t i = 0; names && i + 1 < names->count(); i += 2) {
        const std::optional<QString> key = keyText(names->objectAtIndex(i));
        if (key && names->objectAtIndex(i + 1))
            into.insert(*key, names->objectAtIndex(i + 1));
    }
}

KVPDFObjectPtr KVPDFDocument::resolveDestination(const KVPDFObjectPtr &destination)
{
    KVPDFObjectPtr value = resolved(destination);
    if (!value)
        return nullptr;
    if (value->objectType() == KVPDFObject::TypeString || value->objectType() == KVPDFObject::TypeName) {
        const std::optional<QString> key = keyText(value);
        auto found = m_contents.dests.constFind(*key);
        if (found == m_contents.dests.cend())
            return nullptr;
        value = resolved(found.value());
    }
    if (auto dictionary = kv_cast<KVPDFObjectDictionary>(value))
        value = resolved(dictionary->objectForKey("D"));
    return value;
}

void KVPDFDocument::processOutline()
{
    m_contents.outlines.reset();
    const std::shared_ptr<KVPDFOutline> &root = outlines();
    if (!m_structure.rootObject)
        return;
    std::unordered_set<const KVPDFObject *> visited;
    try {
        auto top = kv_cast<KVPDFObjectDictionary>(m_structure.rootObject->resolvedObjectForKey("Outlines"));
        if (!top)
            return;
        visited.insert(top.get());
        processOutlineLevel(kv_cast<KVPDFObjectDictionary>(top->resolvedObjectForKey("First")), *root, visited, 0);
    } catch (const FolivoException &failure) {
        kvLog(QStringLiteral("The outline could not be read to its end: %1").arg(QString::fromStdString(failure.reason())));
    }
}

void KVPDFDocument::processOutlineLevel(const Dictionary &first, KVPDFOutline &parent,
                                        std::unordered_set<const KVPDFObject *> &visited, int depth)
{
    if (first && depth >= kMaxOutlineDepth) {
        kvLog(QStringLiteral("The outline nests too deeply; the items below are left out"));
        return;
    }
    for (Dictionary item = first; item; item = kv_cast<KVPDFObjectDictionary>(item->resolvedObjectForKey("Next"))) {
        if (!visited.insert(item.get()).second) {
            kvLog(QStringLiteral("The outline leads back to an item already read; the chain stops there"));
            return;
        }
        QString title;
        if (auto string = kv_cast<KVPDFObjectString>(item->resolvedObjectForKey("Title")))
            title = string->stringValue();
        const auto flags = int32_t(item->integerForKey("F", 0));
        auto outline = KVPDFOutline::outlineWithTitle(title, flags, outlineColor(item->objectForKey("C")),
                                                      KVPDFDestination::destinationFromDictionary(item, *this));
        outline->setDocument(this);
        processOutlineLevel(kv_cast<KVPDFObjectDictionary>(item->resolvedObjectForKey("First")), *outline, visited, depth + 1);
        KVPDFObjectPtr count = resolved(item->objectForKey("Count"));
        if (count && count->objectType() == KVPDFObject::TypeInteger && int32_t(count->longLongValue()) > 0)
            outline->setExpanded(true);
        parent.addChild(outline);
    }
}

KVPDFOutline *KVPDFDocument::outlineParentOf(const KVPDFOutline *item, const KVPDFOutline &start) const
{
    for (const auto &child : start.children()) {
        if (!child)
            continue;
        for (const auto &grandchild : child->children())
            if (grandchild.get() == item)
                return child.get();
        if (KVPDFOutline *parent = outlineParentOf(item, *child))
            return parent;
    }
    return nullptr;
}

std::vector<std::shared_ptr<KVPDFOutline>> KVPDFDocument::flattenedOutlineItemsStartingAt(const KVPDFOutline &start) const
{
    std::vector<std::shared_ptr<KVPDFOutline>> items;
    for (const auto &child : start.children()) {
        if (!child)
            continue;
        items.push_back(child);
        std::vector<std::shared_ptr<KVPDFOutline>> below = flattenedOutlineItemsStartingAt(*child);
        items.insert(items.end(), below.begin(), below.end());
    }
    return items;
}

void KVPDFDocument::removeTOCEntriesForPages(const std::vector<std::shared_ptr<KVPDFPage>> &pages, KVPDFOutline &node)
{
    const std::vector<std::shared_ptr<KVPDFOutline>> children = node.children();
    std::unordered_set<const KVPDFOutline *> parked;
    for (const auto &child : children) {
        if (!child)
            continue;
        removeTOCEntriesForPages(pages, *child);
        const std::shared_ptr<KVPDFPage> target = pageOf(*child);
        if (!target)
            continue;
        for (const auto &page : pages) {
            if (page && (page == target || (page->pageDictionary() && page->pageDictionary() == target->pageDictionary()))) {
                page->deletedTOCEntries().push_back(child);
                parked.insert(child.get());
                break;
            }
        }
    }
    if (!parked.empty())
        node.removeChildrenIf([&parked](const std::shared_ptr<KVPDFOutline> &child) { return parked.count(child.get()) != 0; });
}

void KVPDFDocument::addTOCEntriesForPages(const std::vector<std::shared_ptr<KVPDFPage>> &pages)
{
    const std::shared_ptr<KVPDFOutline> root = outlines();
    const std::vector<std::shared_ptr<KVPDFOutline>> flattened = flattenedOutlineItemsStartingAt(*root);
    for (const auto &page : pages) {
        if (!page || page->deletedTOCEntries().empty())
            continue;
        std::vector<std::shared_ptr<KVPDFOutline>> entries = std::move(page->deletedTOCEntries());
        page->deletedTOCEntries().clear();
        const size_t position = indexOfPage(m_contents.pages, pageOf(*entries.front())).value_or(0);
        std::shared_ptr<KVPDFOutline> before;
        for (const auto &item : flattened) {
            const std::optional<size_t> index = indexOfPage(m_contents.pages, pageOf(*item));
            if (index && *index > position) {
                before = item;
                break;
            }
        }
        KVPDFOutline *parent = before ? outlineParentOf(before.get(), *root) : nullptr;
        if (!parent)
            parent = root.get();
        std::vector<std::shared_ptr<KVPDFOutline>> children = parent->children();
        auto at = before ? std::find(children.begin(), children.end(), before) : children.end();
        children.insert(at, entries.begin(), entries.end());
        parent->setChildren(std::move(children));
    }
}

KVPDFObjectPtr KVPDFDocument::outlinesForWriting(KVPDFWriteState &state)
{
    const std::shared_ptr<KVPDFOutline> &root = outlines();
    const bool hadOutline = m_structure.rootObject && m_structure.rootObject->objectForKey("Outlines");
    if (!root->hasChildren() && !hadOutline)
        return nullptr;
    auto written = std::make_shared<KVPDFObjectDictionary>();
    state.addObject(written);
    written->setObject("Type", KVPDFObjectName::nameWithBytes("Outlines"));
    writeOutlineChildren(*this, *root, written, state, 0);
    if (root->hasChildren())
        written->setObject("Count", KVPDFObjectInteger::integerWithLongLong(int64_t(root->expandedChildNodes())));
    return referenceTo(written);
}
