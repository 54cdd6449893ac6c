#pragma once
// Undo and redo the way the document views expect: an operation registers its own inverse while
// it runs, so undo and redo are one operation with swapped arguments.
//
// Recording: registerUndo() adds an inverse to the innermost open group. While undo() runs a
// step, what its actions register goes into one group on the redo stack; while redo() runs,
// into one group on the undo stack; at any other time a registration clears the redo stack.
// Groups nest (beginUndoGrouping / endUndoGrouping); a nested group is undone with, and as part
// of, the group around it. A group closed empty leaves nothing behind.
//
// Grouping by event (on by default): the first registration or group opened outside any group
// opens a group of its own, which closes when control returns to the thread's event loop. So
// a command that registers several inverses, on one page or on three, is one undo step. undo()
// and redo() close that group first, so they also work where no loop runs. Without grouping by
// event, a registration outside every group is a programming error (logged and dropped).
//
// Undo performs the newest step's actions newest first. The redo step gets the undone step's
// action name (and the other way round); setActionName() names the step being recorded: the
// group open at the top level (while undoing or redoing, the group it builds), else the newest
// undo step.
//
// Disabling: disableUndoRegistration() and enableUndoRegistration() count; while the count is
// above 0 registrations are ignored. removeAllActions() empties both stacks (open groups stay
// open, emptied) and sets the count back to 0; removeAllActionsWithTarget() drops the actions
// of one target everywhere, also from a step being undone at that moment, so an object being
// destroyed can take its records along.
//
// Misuse never throws: an end without a begin, an enable without a disable, undo() or redo()
// with a nested group open or from inside an action are logged (kvLog) and ignored. An action
// that throws ends the undo or redo it ran in (what it registered so far is kept) and the
// exception goes on to the caller.
//
// Threads: one thread, the one that made the manager (its event loop closes the event groups).
// Ownership: the manager owns the actions and whatever they capture until they run or are
// removed; a target is an address that is compared, never dereferenced.
#include <QString>

#include <functional>
#include <memory>

class KVUndoManager {
public:
    using Action = std::function<void()>;

    KVUndoManager();
    ~KVUndoManager();
    KVUndoManager(const KVUndoManager &) = delete;
    KVUndoManager &operator=(const KVUndoManager &) = delete;

    void registerUndo(const void *target, Action inverse);

    void beginUndoGrouping();
    void endUndoGrouping();
    int groupingLevel() const;
    bool groupsByEvent() const;
    void setGroupsByEvent(bool on);

    void disableUndoRegistration();
    void enableUndoRegistration();
    bool isUndoRegistrationEnabled() const;

    void undo();
    void redo();
    bool canUndo() const;
    bool canRedo() const;
    bool isUndoing() const;
    bool isRedoing() const;

    void setActionName(const QString &name);
    QString undoActionName() const;
    QString redoActionName() const;

    void removeAllActions();
    void removeAllActionsWithTarget(const void *target);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
