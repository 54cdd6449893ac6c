#include "KVUndoManager.h"

#include "KVLog.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStringList>

#include <memory>
#include <stdexcept>
#include <vector>

namespace {

// A value edited the way the document view edits: the setter registers its own inverse.
struct Model {
    explicit Model(KVUndoManager &manager) : undo(manager) { }

    KVUndoManager &undo;
    int value = 0;
    QStringList log;

    void set(int v)
    {
        const int old = value;
        value = v;
        log << QString::number(v);
        undo.registerUndo(this, [this, old] { set(old); });
    }
};

class KVUndoManagerTest : public ::testing::Test {
protected:
    void SetUp() override { app = std::make_unique<QCoreApplication>(argc, argv); }
    void TearDown() override { app.reset(); }
    // Control returns to the event loop: the group opened by the event closes.
    static void endOfEvent() { QCoreApplication::processEvents(); }

    int argc = 1;
    char arg0[16] = "platform_tests";
    char *argv[2] = {arg0, nullptr};
    std::unique_ptr<QCoreApplication> app;
};

// Scripts: a digit sets the value in the current event, "." ends the event, "u" undoes, "r" redoes.
TEST_F(KVUndoManagerTest, UndoAndRedoFollowTheScript)
{
    struct Case {
        const char *name;
        const char *script;
        int value;
        bool canUndo;
        bool canRedo;
    };
    const std::vector<Case> cases = {
        {"one step undone", "1.u", 0, false, true},
        {"undo then redo restores", "1.u.r", 1, true, false},
        {"two steps, both undone, one redone", "1.2.uur", 1, true, true},
        {"three registrations in one event are one step", "123.u", 0, false, true},
        {"undo closes the event's group itself", "12u", 0, false, true},
        {"a registration after an undo clears redo", "1.2.u.5.", 5, true, false},
        {"after the cleared redo, undo goes back past the new step", "1.2.u.5.u", 1, true, true},
        {"redo of nothing does nothing", "1.r", 1, true, false},
        {"undo of nothing does nothing", "u", 0, false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVUndoManager undo;
        Model model{undo};
        for (const char *p = c.script; *p; ++p) {
            if (*p == '.')
                endOfEvent();
            else if (*p == 'u')
                undo.undo();
            else if (*p == 'r')
                undo.redo();
            else
                model.set(*p - '0');
        }
        EXPECT_EQ(model.value, c.value);
        EXPECT_EQ(undo.canUndo(), c.canUndo);
        EXPECT_EQ(undo.canRedo(), c.canRedo);
        EXPECT_FALSE(undo.isUndoing());
        EXPECT_FALSE(undo.isRedoing());
    }
}

TEST_F(KVUndoManagerTest, UndoRunsAStepsActionsNewestFirstAndKnowsItIsUndoing)
{
    KVUndoManager undo;
    QStringList ran;
    for (const char *name : {"delete", "add", "select"})
        undo.registerUndo(nullptr, [&, name] {
            ran << name;
            EXPECT_TRUE(undo.isUndoing());
            EXPECT_FALSE(undo.isRedoing());
            undo.registerUndo(nullptr, [&, name] {
                ran << QStringLiteral("re-") + name;
                EXPECT_TRUE(undo.isRedoing());
            });
        });
    endOfEvent();
    undo.undo();
    EXPECT_EQ(ran, QStringList({"select", "add", "delete"}));
    ran.clear();
    undo.redo();
    EXPECT_EQ(ran, QStringList({"re-delete", "re-add", "re-select"}));
}

TEST_F(KVUndoManagerTest, NestedGroupsUndoAsOneStep)
{
    struct Case {
        const char *name;
        bool byEvent;
        int stepsAfterward; // undo() calls that still do something
    };
    // Moving a selection to another page: a group around the deletion and the addition, inside
    // a command that also registers a selection change.
    const std::vector<Case> cases = {
        {"inside the event's group", true, 1},
        {"as explicit top-level groups", false, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVUndoManager undo;
        undo.setGroupsByEvent(c.byEvent);
        Model model{undo};
        undo.beginUndoGrouping();
        model.set(1);
        undo.beginUndoGrouping();
        model.set(2);
        model.set(3);
        undo.endUndoGrouping();
        EXPECT_EQ(undo.groupingLevel(), c.byEvent ? 2 : 1);
        undo.endUndoGrouping();
        endOfEvent();
        EXPECT_EQ(undo.groupingLevel(), 0);
        model.log.clear();
        undo.undo();
        EXPECT_EQ(model.log, QStringList({"2", "1", "0"}));
        EXPECT_EQ(model.value, 0);
        EXPECT_FALSE(undo.canUndo());
        undo.redo();
        EXPECT_EQ(model.value, 3);
        EXPECT_FALSE(undo.canRedo());
    }
}

TEST_F(KVUndoManagerTest, EmptyGroupsLeaveNoStep)
{
    KVUndoManager undo;
    Model model{undo};
    model.set(1);
    endOfEvent();
    undo.beginUndoGrouping();
    undo.endUndoGrouping();
    endOfEvent();
    undo.undo();
    EXPECT_EQ(model.value, 0) << "the empty group hid the real step";
}

TEST_F(KVUndoManagerTest, NothingIsRecordedWhileDisabled)
{
    KVUndoManager undo;
    Model model{undo};
    undo.disableUndoRegistration();
    undo.disableUndoRegistration();
    model.set(1);
    undo.enableUndoRegistration();
    EXPECT_FALSE(undo.isUndoRegistrationEnabled()) << "the count, not a flag";
    model.set(2);
    undo.enableUndoRegistration();
    endOfEvent();
    EXPECT_FALSE(undo.canUndo());
    EXPECT_EQ(model.value, 2);

    model.set(3);
    endOfEvent();
    undo.disableUndoRegistration();
    undo.removeAllActions();
    EXPECT_TRUE(undo.isUndoRegistrationEnabled()) << "removing all actions enables again";
    EXPECT_FALSE(undo.canUndo());
}

TEST_F(KVUndoManagerTest, ActionNamesFollowTheirSteps)
{
    KVUndoManager undo;
    Model model{undo};
    model.set(1);
    undo.setActionName("Move");
    endOfEvent();
    model.set(2);
    undo.setActionName("Scale");
    EXPECT_EQ(undo.undoActionName(), "Scale") << "the step still being recorded";
    endOfEvent();

    undo.undo();
    EXPECT_EQ(undo.undoActionName(), "Move");
    EXPECT_EQ(undo.redoActionName(), "Scale");
    undo.redo();
    EXPECT_EQ(undo.undoActionName(), "Scale");
    EXPECT_EQ(undo.redoActionName(), "");

    // A name set while undoing names the redo step (a rotation names itself both ways).
    undo.registerUndo(nullptr, [&] {
        undo.registerUndo(nullptr, [] { });
        undo.setActionName("Rotate back");
    });
    undo.setActionName("Rotate");
    undo.undo();
    EXPECT_EQ(undo.redoActionName(), "Rotate back");
    EXPECT_EQ(undo.undoActionName(), "Scale");
}

TEST_F(KVUndoManagerTest, RemovingATargetsActionsLeavesTheOthers)
{
    KVUndoManager undo;
    Model imprint{undo};
    Model view{undo};
    imprint.set(1); // a step of the imprint alone
    endOfEvent();
    imprint.set(2); // a step of both
    view.set(7);
    endOfEvent();
    view.set(8);
    undo.undo(); // a redo step of the view alone
    imprint.log.clear();
    view.log.clear();

    undo.removeAllActionsWithTarget(&view);
    EXPECT_FALSE(undo.canRedo()) << "the view's redo step is gone";
    undo.undo();
    EXPECT_EQ(imprint.value, 1);
    EXPECT_EQ(view.value, 7) << "the view's part of the shared step was dropped";
    undo.undo();
    EXPECT_EQ(imprint.value, 0);
    EXPECT_FALSE(undo.canUndo());
    EXPECT_TRUE(view.log.isEmpty());
}

// An action that destroys an object (closing its view) takes the object's later records in the
// same step along, so they never run on the destroyed object.
TEST_F(KVUndoManagerTest, ATargetRemovedDuringAnUndoIsNotCalledInThatStep)
{
    KVUndoManager undo;
    int doomedCalls = 0;
    const int doomed = 0;
    undo.registerUndo(&doomed, [&] { ++doomedCalls; });
    undo.registerUndo(nullptr, [&] { undo.removeAllActionsWithTarget(&doomed); });
    undo.undo();
    EXPECT_EQ(doomedCalls, 0);
}

TEST_F(KVUndoManagerTest, MisuseIsLoggedAndChangesNothing)
{
    KVUndoManager undo;
    Model model{undo};
    KVPDFLogCapture capture;
    undo.endUndoGrouping();
    undo.enableUndoRegistration();
    EXPECT_TRUE(capture.contains("endUndoGrouping without a matching beginUndoGrouping"));
    EXPECT_TRUE(capture.contains("enableUndoRegistration without a matching disable"));
    EXPECT_TRUE(undo.isUndoRegistrationEnabled());

    model.set(1);
    undo.beginUndoGrouping();
    undo.undo();
    EXPECT_TRUE(capture.contains("undo asked for with 2 undo groups open"));
    EXPECT_EQ(model.value, 1);
    undo.endUndoGrouping();

    undo.registerUndo(nullptr, [&] { undo.undo(); });
    undo.undo();
    EXPECT_TRUE(capture.contains("undo asked for while an undo or redo runs"));
    EXPECT_EQ(model.value, 0) << "the rest of the step still ran";

    KVUndoManager manual;
    manual.setGroupsByEvent(false);
    manual.registerUndo(nullptr, [] { });
    EXPECT_TRUE(capture.contains("registered outside every undo group"));
    EXPECT_FALSE(manual.canUndo());
}

TEST_F(KVUndoManagerTest, AThrowingActionEndsTheUndoAndKeepsWhatItRegistered)
{
    KVUndoManager undo;
    Model model{undo};
    model.set(1);
    undo.registerUndo(nullptr, [] { throw std::runtime_error("disk full"); });
    EXPECT_THROW(undo.undo(), std::runtime_error);
    EXPECT_FALSE(undo.isUndoing());
    EXPECT_EQ(undo.groupingLevel(), 0);
    EXPECT_EQ(model.value, 1) << "actions after the throwing one did not run";
    model.set(4);
    endOfEvent();
    undo.undo();
    EXPECT_EQ(model.value, 1);
}

} // namespace
