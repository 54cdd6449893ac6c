#include "KVNotificationCenter.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

namespace {

const int kDocumentA = 1;
const int kDocumentB = 2;

TEST(KVNotificationCenterTest, SenderFilterPassesOnlyTheNamedSender)
{
    struct Case {
        const char *name;
        const void *observedSender;
        const void *postingSender;
        QString postedName;
        bool called;
    };
    const std::vector<Case> cases = {
        {"any sender, posted by A", nullptr, &kDocumentA, "pagesChanged", true},
        {"any sender, posted without sender", nullptr, nullptr, "pagesChanged", true},
        {"A only, posted by A", &kDocumentA, &kDocumentA, "pagesChanged", true},
        {"A only, posted by B", &kDocumentA, &kDocumentB, "pagesChanged", false},
        {"A only, posted without sender", &kDocumentA, nullptr, "pagesChanged", false},
        {"other name", nullptr, &kDocumentA, "pagesSavedOrReverted", false},
        {"names compare exactly", nullptr, &kDocumentA, "PagesChanged", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        KVNotificationCenter center;
        int calls = 0;
        QVariantMap seen;
        KVObservation token = center.observe("pagesChanged", c.observedSender, [&](const KVNotification &n) {
            ++calls;
            seen = n.userInfo;
            EXPECT_EQ(n.sender, c.postingSender);
        });
        center.post(c.postedName, c.postingSender, {{"page", 3}});
        EXPECT_EQ(calls, c.called ? 1 : 0);
        if (c.called) {
            EXPECT_EQ(seen.value("page").toInt(), 3);
        }
    }
}

TEST(KVNotificationCenterTest, ChangesToTheObserversDuringAPost)
{
    KVNotificationCenter center;
    QStringList log;
    std::optional<KVObservation> first, second, third;

    // The first observer ends the second: the second is not called, not even for this post.
    first = center.observe("editMode", nullptr, [&](const KVNotification &) {
        log << "first";
        second.reset();
    });
    second = center.observe("editMode", nullptr, [&](const KVNotification &) { log << "second"; });
    // The third ends itself from inside its own handler (this must not wait for itself).
    third = center.observe("editMode", nullptr, [&](const KVNotification &) {
        log << "third";
        third->reset();
    });
    // An observer added during a post waits for the next post.
    std::optional<KVObservation> late;
    KVObservation adder = center.observe("editMode", nullptr, [&](const KVNotification &) {
        if (!late)
            late = center.observe("editMode", nullptr, [&](const KVNotification &) { log << "late"; });
    });

    center.post("editMode");
    EXPECT_EQ(log, QStringList({"first", "third"}));
    log.clear();
    center.post("editMode");
    EXPECT_EQ(log, QStringList({"first", "late"}));
}

TEST(KVNotificationCenterTest, AHandlersOwnPostIsDeliveredNested)
{
    KVNotificationCenter center;
    QStringList log;
    KVObservation outer1 = center.observe("preSave", nullptr, [&](const KVNotification &) {
        log << "preSave 1";
        center.post("pagesChanged");
        log << "preSave 1 done";
    });
    KVObservation outer2 = center.observe("preSave", nullptr, [&](const KVNotification &) { log << "preSave 2"; });
    KVObservation inner = center.observe("pagesChanged", nullptr, [&](const KVNotification &) { log << "pagesChanged"; });
    center.post("preSave");
    EXPECT_EQ(log, QStringList({"preSave 1", "pagesChanged", "preSave 1 done", "preSave 2"}));
}

// Two form fields of one name pass a value to each other through the same notification they
// observe; each posts again only when its value changed, so the exchange ends.
TEST(KVNotificationCenterTest, FieldsOfOneNameReachTheSameValueThroughRecursivePosts)
{
    KVNotificationCenter center;
    struct Field {
        QString value;
        KVObservation token;
    };
    Field fields[2];
    int posts = 0;
    for (Field &field : fields)
        field.token = center.observe("FolivoFieldChanged", &kDocumentA, [&](const KVNotification &n) {
            const QString value = n.userInfo.value("value").toString();
            if (field.value == value)
                return;
            field.value = value;
            ++posts;
            center.post("FolivoFieldChanged", &kDocumentA, {{"fieldName", "Name"}, {"value", value}});
        });
    center.post("FolivoFieldChanged", &kDocumentA, {{"fieldName", "Name"}, {"value", "Ada"}});
    EXPECT_EQ(fields[0].value, "Ada");
    EXPECT_EQ(fields[1].value, "Ada");
    EXPECT_EQ(posts, 2);
}

TEST(KVNotificationCenterTest, WorkerPostReachesAMainThreadObserverOnlyWhenTheLoopRuns)
{
    int argc = 1;
    char arg0[] = "platform_tests";
    char *argv[] = {arg0, nullptr};
    QCoreApplication app(argc, argv);
    KVNotificationCenter center;

    std::vector<QThread *> mainThreadCalls;
    std::atomic<int> directCalls{0};
    std::atomic<bool> directOnWorker{false};
    int endedCalls = 0;
    KVObservation onMain = center.observeOnMainThread("paveAvailable", nullptr, [&](const KVNotification &n) {
        EXPECT_EQ(n.userInfo.value("page").toInt(), 7);
        mainThreadCalls.push_back(QThread::currentThread());
    });
    KVObservation ended = center.observeOnMainThread("paveAvailable", nullptr, [&](const KVNotification &) { ++endedCalls; });
    const std::thread::id mainId = std::this_thread::get_id();
    KVObservation direct = center.observe("paveAvailable", nullptr, [&](const KVNotification &) {
        ++directCalls;
        directOnWorker = std::this_thread::get_id() != mainId;
    });

    std::thread worker([&] { center.post("paveAvailable", nullptr, {{"page", 7}}); });
    worker.join();
    EXPECT_EQ(directCalls, 1) << "a plain observer is called on the posting thread";
    EXPECT_TRUE(directOnWorker);
    EXPECT_TRUE(mainThreadCalls.empty()) << "delivered before the event loop ran";

    ended.reset();
    QCoreApplication::processEvents();
    ASSERT_EQ(mainThreadCalls.size(), 1u);
    EXPECT_EQ(mainThreadCalls[0], app.thread());
    EXPECT_EQ(endedCalls, 0) << "an observation ended before the loop ran is not called";

    // Posted on the main thread, the same observer is called at once.
    center.post("paveAvailable", nullptr, {{"page", 7}});
    EXPECT_EQ(mainThreadCalls.size(), 2u);
    QCoreApplication::processEvents();
    EXPECT_EQ(mainThreadCalls.size(), 2u);
}

// The object that owns a token may be destroyed on one thread while another thread is inside
// its handler; ending the observation must wait for that call, or the handler uses freed memory.
TEST(KVNotificationCenterTest, EndingAnObservationWaitsForItsCallOnAnotherThread)
{
    KVNotificationCenter center;
    std::atomic<bool> entered{false};
    std::atomic<bool> finished{false};
    KVObservation token = center.observe("KVPDFDocumentSaveProgress", nullptr, [&](const KVNotification &) {
        entered = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        finished = true;
    });
    std::thread worker([&] { center.post("KVPDFDocumentSaveProgress"); });
    while (!entered)
        std::this_thread::yield();
    token.reset();
    EXPECT_TRUE(finished);
    worker.join();
    center.post("KVPDFDocumentSaveProgress");
    EXPECT_FALSE(token.isActive());
}

TEST(KVNotificationCenterTest, TokensMoveAndOutliveTheirCentre)
{
    int calls = 0;
    KVObservation kept;
    {
        KVNotificationCenter center;
        KVObservation token = center.observe("gotoPageNo", nullptr, [&](const KVNotification &) { ++calls; });
        kept = std::move(token);
        EXPECT_FALSE(token.isActive());
        center.post("gotoPageNo");
        EXPECT_EQ(calls, 1);
        EXPECT_FALSE(center.observe(QString(), nullptr, [](const KVNotification &) { }).isActive());
        EXPECT_FALSE(center.observe("gotoPageNo", nullptr, {}).isActive());
    }
    EXPECT_TRUE(kept.isActive());
    kept.reset();
    EXPECT_FALSE(kept.isActive());
}

} // namespace
