#include "KVPDFOutline.h"

#include "KVPDFDestination.h"
#include "KVPDFDocument.h"

#include <QStringList>

#include <algorithm>

namespace {
bool isBlack(const KVColor &color)
{
    const QColor rgb = color.toQColor().toRgb();
    return rgb.redF() == 0 && rgb.greenF() == 0 && rgb.blueF() == 0;
}
} // namespace

KVPDFOutline::KVPDFOutline(const QString &title, int32_t flags, const std::optional<KVColor> &color,
                           std::shared_ptr<KVPDFDestination> destination)
    : m_title(title), m_flags(flags), m_destination(std::move(destination))
{
    setColor(color);
}

std::shared_ptr<KVPDFOutline> KVPDFOutline::outlineWithTitle(const QString &title, int32_t flags, const std::optional<KVColor> &color,
                                                             std::shared_ptr<KVPDFDestination> destination)
{
    return std::make_shared<KVPDFOutline>(title, flags, color, std::move(destination));
}

void KVPDFOutline::setColor(const std::optional<KVColor> &color)
{
    if (color && color->isValid() && !isBlack(*color))
        m_color = color;
    else
        m_color.reset();
}

void KVPDFOutline::childrenChanged()
{
    if (m_observer)
        m_observer(*this);
}

void KVPDFOutline::setChildren(std::vector<std::shared_ptr<KVPDFOutline>> children)
{
    m_children = std::move(children);
    childrenChanged();
}

void KVPDFOutline::addChild(const std::shared_ptr<KVPDFOutline> &child)
{
    m_children.push_back(child);
    childrenChanged();
}

void KVPDFOutline::insertChild(const std::shared_ptr<KVPDFOutline> &child, size_t index)
{
    m_children.insert(m_children.begin() + qsizetype(std::min(index, m_children.size())), child);
    childrenChanged();
}

bool KVPDFOutline::removeChild(const KVPDFOutline *child)
{
    auto found = std::find_if(m_children.begin(), m_children.end(), [child](const auto &c) { return c.get() == child; });
    if (found == m_children.end())
        return false;
    m_children.erase(found);
    childrenChanged();
    return true;
}

void KVPDFOutline::removeChildrenIf(const std::function<bool(const std::shared_ptr<KVPDFOutline> &)> &remove)
{
    if (std::erase_if(m_children, remove) != 0)
        childrenChanged();
}

size_t KVPDFOutline::expandedChildNodes() const
{
    size_t rows = m_children.size();
    for (const auto &child : m_children)
        if (child && child->isExpanded())
            rows += child->expandedChildNodes();
    return rows;
}

bool KVPDFOutline::canPromote() const
{
    return m_document && m_document->outlines() && m_document->outlineParentOf(this, *m_document->outlines());
}

bool KVPDFOutline::canDemote() const
{
    if (!m_document || !m_document->outlines())
        return false;
    const std::shared_ptr<KVPDFOutline> &root = m_document->outlines();
    KVPDFOutline *parent = m_document->outlineParentOf(this, *root);
    if (!parent)
        parent = root.get();
    return parent->hasChildren() && parent->children().front().get() != this;
}

std::shared_ptr<KVPDFOutline> KVPDFOutline::copy() const
{
    auto item = std::make_shared<KVPDFOutline>(m_title, m_flags, m_color, m_destination);
    item->m_children = m_children;
    item->m_document = m_document;
    return item;
}

QString KVPDFOutline::description() const
{
    QStringList children;
    for (const auto &child : m_children)
        children << (child ? child->description() : QStringLiteral("(none)"));
    QString color = QStringLiteral("black");
    if (m_color) {
        QStringList components;
        for (float c : m_color->components())
            components << QString::number(c);
        color = components.join(QLatin1Char(' '));
    }
    return QStringLiteral("title:'%1'  flags:%2  color:%3  destination:%4  children:(%5)")
        .arg(m_title)
        .arg(m_flags)
        .arg(color, m_destination ? m_destination->description() : QStringLiteral("(none)"), children.join(QStringLiteral(", ")));
}
