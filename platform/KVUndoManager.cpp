#include "KVUndoManager.h"

#include "KVLog.h"

#include <QObject>

#include <algorithm>
#include <vector>

namespace {

struct Group;

// An action, or a nested group (exactly one of the two is set; an action already run or
// removed while its group runs is empty).
struct Item {
    const void *target = nullptr;
    KVUndoManager::Action action;
    std::unique_ptr<Group> nested;
};

struct Group {
    std::vector<Item> items;
    QString actionName;
};

// Removes the target's items; groups left empty go with them.
void dropTarget(Group &group, const void *target)
{
    std::erase_if(group.items, [target](Item &item) {
        if (item.nested) {
            dropTarget(*item.nested, target);
            return item.nested->items.empty();
        }
        return item.target == target;
    });
}

void dropTarget(std::vector<Group> &stack, const void *target)
{
    for (Group &group : stack)
        dropTarget(group, target);
    std::erase_if(stack, [](const Group &group) { return group.items.empty(); });
}

// A group being run cannot lose items under its loop; its actions of the target are emptied.
void clearTarget(Group &group, const void *target)
{
    for (Item &item : group.items) {
        if (item.nested)
            clearTarget(*item.nested, target);
        else if (item.target == target)
            item.action = nullptr;
    }
}

} // namespace

struct KVUndoManager::Private {
    std::vector<Group> undoStack;
    std::vector<Group> redoStack;
    std::vector<Group> open; // innermost last
    std::vector<Group *> running; // the groups undo() or redo() is performing, innermost last
    int disabled = 0;
    bool undoing = false;
    bool redoing = false;
    bool byEvent = true;
    bool eventGroupOpen = false;
    quint64 eventSerial = 0;
    // Receives the queued end of an event group; destroyed with the manager, taking the queued
    // call with it.
    QObject eventContext;

    bool performing() const { return undoing || redoing; }

    void openEventGroup()
    {
        open.emplace_back();
        eventGroupOpen = true;
        const quint64 serial = ++eventSerial;
        QMetaObject::invokeMethod(
            &eventContext, [this, serial] { endEventGroup(serial); }, Qt::QueuedConnection);
    }

    void endEventGroup(quint64 serial)
    {
        if (!eventGroupOpen || serial != eventSerial || performing())
            return;
        if (open.size() > 1)
            kvLog(QStringLiteral("Undo: %1 undo groups left open at the end of an event; closing them").arg(open.size() - 1));
        while (!open.empty())
            closeTop();
    }

    void closeTop()
    {
        Group group = std::move(open.back());
        open.pop_back();
        if (open.empty())
            eventGroupOpen = false;
        if (group.items.empty())
            return;
        if (!open.empty())
            open.back().items.push_back(Item{nullptr, {}, std::make_unique<Group>(std::move(group))});
        else
            undoStack.push_back(std::move(group));
    }

    void run(Group &group)
    {
        running.push_back(&group);
        struct Pop {
            std::vector<Group *> &running;
            ~Pop() { running.pop_back(); }
        } pop{running};
        for (size_t i = group.items.size(); i-- > 0;) {
            Item &item = group.items[i];
            if (item.nested) {
                run(*item.nested);
            } else if (item.action) {
                // Moved out first: the action may remove its own target's records.
                Action action = std::move(item.action);
                item.action = nullptr;
                action();
            }
        }
    }

    // Runs the newest group of `from`, recording what it registers as one group of `to`.
    void perform(std::vector<Group> &from, std::vector<Group> &to, bool &flag, const char *verb)
    {
        if (performing()) {
            kvLog(QStringLiteral("Undo: %1 asked for while an undo or redo runs; ignored").arg(QLatin1String(verb)));
            return;
        }
        if (open.size() == 1)
            closeTop();
        if (!open.empty()) {
            kvLog(QStringLiteral("Undo: %1 asked for with %2 undo groups open; ignored").arg(QLatin1String(verb)).arg(open.size()));
            return;
        }
        if (from.empty())
            return;
        Group step = std::move(from.back());
        from.pop_back();
        flag = true;
        open.push_back(Group{{}, step.actionName});
        struct Finish {
            Private &d;
            std::vector<Group> &to;
            bool &flag;
            ~Finish()
            {
                if (d.open.size() > 1)
                    kvLog(QStringLiteral("Undo: an undone action left %1 undo groups open; closing them").arg(d.open.size() - 1));
                while (d.open.size() > 1)
                    d.closeTop();
                Group built = std::move(d.open.back());
                d.open.pop_back();
                flag = false;
                if (!built.items.empty())
                    to.push_back(std::move(built));
            }
        } finish{*this, to, flag};
        run(step);
    }
};

KVUndoManager::KVUndoManager() : d(std::make_unique<Private>()) { }

KVUndoManager::~KVUndoManager() = default;

void KVUndoManager::registerUndo(const void *target, Action inverse)
{
    if (d->disabled > 0 || !inverse)
        return;
    if (!d->performing())
        d->redoStack.clear();
    if (d->open.empty()) {
        if (!d->byEvent) {
            kvLog(QStringLiteral("Undo: an action registered outside every undo group; dropped"));
            return;
        }
        d->openEventGroup();
    }
    d->open.back().items.push_back(Item{target, std::move(inverse), nullptr});
}

void KVUndoManager::beginUndoGrouping()
{
    if (d->open.empty() && d->byEvent && !d->performing())
        d->openEventGroup();
    d->open.emplace_back();
}

void KVUndoManager::endUndoGrouping()
{
    // While undoing or redoing, the group at the bottom is the one being built for the other stack.
    const size_t floor = d->performing() ? 1 : 0;
    if (d->open.size() <= floor) {
        kvLog(QStringLiteral("Undo: endUndoGrouping without a matching beginUndoGrouping; ignored"));
        return;
    }
    d->closeTop();
}

int KVUndoManager::groupingLevel() const { return int(d->open.size()); }

bool KVUndoManager::groupsByEvent() const { return d->byEvent; }

void KVUndoManager::setGroupsByEvent(bool on) { d->byEvent = on; }

void KVUndoManager::disableUndoRegistration() { ++d->disabled; }

void KVUndoManager::enableUndoRegistration()
{
    if (d->disabled == 0) {
        kvLog(QStringLiteral("Undo: enableUndoRegistration without a matching disable; ignored"));
        return;
    }
    --d->disabled;
}

bool KVUndoManager::isUndoRegistrationEnabled() const { return d->disabled == 0; }

void KVUndoManager::undo() { d->perform(d->undoStack, d->redoStack, d->undoing, "undo"); }

void KVUndoManager::redo() { d->perform(d->redoStack, d->undoStack, d->redoing, "redo"); }

bool KVUndoManager::canUndo() const
{
    if (!d->undoStack.empty())
        return true;
    return !d->performing() && !d->open.empty() && !d->open.front().items.empty();
}

bool KVUndoManager::canRedo() const { return !d->redoStack.empty(); }

bool KVUndoManager::isUndoing() const { return d->undoing; }

bool KVUndoManager::isRedoing() const { return d->redoing; }

void KVUndoManager::setActionName(const QString &name)
{
    if (!d->open.empty())
        d->open.front().actionName = name;
    else if (!d->undoStack.empty())
        d->undoStack.back().actionName = name;
}

QString KVUndoManager::undoActionName() const
{
    if (!d->performing() && !d->open.empty() && !d->open.front().items.empty())
        return d->open.front().actionName;
    return d->undoStack.empty() ? QString() : d->undoStack.back().actionName;
}

QString KVUndoManager::redoActionName() const { return d->redoStack.empty() ? QString() : d->redoStack.back().actionName; }

void KVUndoManager::removeAllActions()
{
    d->undoStack.clear();
    d->redoStack.clear();
    for (Group &group : d->open)
        group.items.clear();
    d->disabled = 0;
}

void KVUndoManager::removeAllActionsWithTarget(const void *target)
{
    dropTarget(d->undoStack, target);
    dropTarget(d->redoStack, target);
    for (Group &group : d->open)
        dropTarget(group, target);
    for (Group *group : d->running)
        clearTarget(*group, target);
}
