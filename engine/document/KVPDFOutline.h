#pragma once
// One outline (bookmark) item: title, the F flags kept as read, a colour, a destination and
// the sub-items in order. The document holds the root item (empty title, no destination),
// whose children are the top-level items (KVPDFDocument::outlines).
//
// Observers: the layer above installs one callback per item (setChildrenObserver); it is told
// after every change of the item's children, whether the list is replaced (setChildren) or
// edited in place (addChild, insertChild, removeChild, and the document's parking and
// restoring of items with their pages). The callback must not change the same item's children.
//
// Ownership: an item owns its children and its destination; the document is a raw back link
// (the document owns the root). Items do not know their parent: the document finds it
// (KVPDFDocument::outlineParentOf). An item must not become its own descendant.
// Threads: one thread at a time, the document's.
#include "KVColor.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class KVPDFDestination;
class KVPDFDocument;

class KVPDFOutline {
public:
    using ChildrenObserver = std::function<void(KVPDFOutline &item)>;

    // Black (all components 0) is stored as no colour.
    KVPDFOutline(const QString &title, int32_t flags, const std::optional<KVColor> &color,
                 std::shared_ptr<KVPDFDestination> destination);
    static std::shared_ptr<KVPDFOutline> outlineWithTitle(const QString &title, int32_t flags, const std::optional<KVColor> &color,
                                                          std::shared_ptr<KVPDFDestination> destination);

    const QString &title() const { return m_title; }
    void setTitle(const QString &title) { m_title = title; }
    // F as read; italic is bit value 2 and bold bit value 4 (bit value 1 means nothing here).
    int32_t flags() const { return m_flags; }
    void setFlags(int32_t flags) { m_flags = flags; }
    bool italic() const { return (m_flags & 2) != 0; }
    bool bold() const { return (m_flags & 4) != 0; }
    const std::optional<KVColor> &color() const { return m_color; }
    void setColor(const std::optional<KVColor> &color);
    bool colorIsBlack() const { return !m_color; }
    const std::shared_ptr<KVPDFDestination> &destination() const { return m_destination; }
    void setDestination(std::shared_ptr<KVPDFDestination> destination) { m_destination = std::move(destination); }
    KVPDFDocument *document() const { return m_document; }
    void setDocument(KVPDFDocument *document) { m_document = document; }
    bool isExpanded() const { return m_expanded; }
    void setExpanded(bool expanded) { m_expanded = expanded; }

    const std::vector<std::shared_ptr<KVPDFOutline>> &children() const { return m_children; }
    void setChildren(std::vector<std::shared_ptr<KVPDFOutline>> children);
    bool hasChildren() const { return !m_children.empty(); }
    size_t numberOfChildren() const { return m_children.size(); }
    void addChild(const std::shared_ptr<KVPDFOutline> &child);
    // An index past the end appends.
    void insertChild(const std::shared_ptr<KVPDFOutline> &child, size_t index);
    // False when `child` is not one of the children.
    bool removeChild(const KVPDFOutline *child);
    // Removes every child `remove` answers true for, then tells the observer once (when any went).
    void removeChildrenIf(const std::function<bool(const std::shared_ptr<KVPDFOutline> &)> &remove);
    void setChildrenObserver(ChildrenObserver observer) { m_observer = std::move(observer); }

    // The rows the item's subtree shows: its children plus, for each expanded child, that
    // child's own expandedChildNodes.
    size_t expandedChildNodes() const;
    // The item has a parent below the document's root (it is not a top-level item).
    bool canPromote() const;
    // The item is not the first child of its parent (the root for a top-level item).
    bool canDemote() const;

    // Same title, flags, colour, destination, children and document; no observer, collapsed.
    std::shared_ptr<KVPDFOutline> copy() const;
    QString description() const;

private:
    void childrenChanged();

    QString m_title;
    int32_t m_flags = 0;
    std::optional<KVColor> m_color;
    std::vector<std::shared_ptr<KVPDFOutline>> m_children;
    std::shared_ptr<KVPDFDestination> m_destination;
    KVPDFDocument *m_document = nullptr;
    bool m_expanded = false;
    ChildrenObserver m_observer;
};
