#pragma once
// Named notifications from one part of the program to whoever listens, without either knowing
// the other: the document tells its views that pages changed, a form field tells the fields of
// its name that its value changed, the defaults tell everyone a setting changed.
//
// A notification is a name (the exact strings the callers agree on, "pagesChanged"), a sender
// (compared by address only, never dereferenced here) and a QVariantMap of keys. An observer
// names the notification it wants and, optionally, the one sender it wants it from; nullptr
// means from any sender. Observers are called in the order they were added.
//
// Delivery: post() calls the matching observers synchronously on the posting thread, with no
// lock of the centre held, so a handler may post again (the nested post is delivered before
// the outer one goes on to its next observer), add observers or remove them. An observer added
// during a post is not called for that post; one removed during a post is not called again,
// not even for the rest of that post. observeOnMainThread() is for handlers that touch
// widgets: a post on the main thread calls them at once like any other, a post on another
// thread queues the call to the main thread's event loop (it runs only once that loop runs,
// and not at all if the observation ends first). Without a QCoreApplication there is no main
// loop to queue to, and such a post calls the handler on the posting thread.
//
// Ownership: observe() answers a KVObservation; the observation lasts while that token lives
// and ends when it is destroyed or reset. Ending an observation while its handler runs on
// another thread waits for that call to return, so a handler never outlives the object that
// holds its token; ending it from inside its own handler does not wait. Hence never destroy a
// token while holding a lock its handler takes. A token may outlive its centre (it then does
// nothing).
//
// Threads: every member may be called from any thread at once.
//
// One centre per process: defaultCenter() lives in the platform's shared library, so plug-ins
// loaded into the process post to and observe the same centre as the program.
#include <QString>
#include <QVariantMap>

#include <functional>
#include <memory>

struct KVNotification {
    QString name;
    const void *sender = nullptr;
    QVariantMap userInfo;
};

namespace kvnotify {
struct State;
}

// Ends its observation when destroyed. Move-only; a default-constructed token observes nothing.
class KVObservation {
public:
    KVObservation() = default;
    ~KVObservation();
    KVObservation(KVObservation &&other) noexcept;
    KVObservation &operator=(KVObservation &&other) noexcept;
    KVObservation(const KVObservation &) = delete;
    KVObservation &operator=(const KVObservation &) = delete;

    // Ends the observation now; the same waiting rule as the destructor.
    void reset();
    bool isActive() const { return m_id != 0; }

private:
    friend class KVNotificationCenter;
    KVObservation(std::weak_ptr<kvnotify::State> state, quint64 id) : m_state(std::move(state)), m_id(id) { }

    std::weak_ptr<kvnotify::State> m_state;
    quint64 m_id = 0;
};

class KVNotificationCenter {
public:
    using Handler = std::function<void(const KVNotification &)>;

    KVNotificationCenter();
    ~KVNotificationCenter();
    KVNotificationCenter(const KVNotificationCenter &) = delete;
    KVNotificationCenter &operator=(const KVNotificationCenter &) = delete;

    // The process-wide centre.
    static KVNotificationCenter &defaultCenter();

    // Calls `handler` for every post of `name` from `sender` (any sender when nullptr). An empty
    // name or an empty handler observes nothing and answers an inactive token.
    [[nodiscard]] KVObservation observe(const QString &name, const void *sender, Handler handler);
    // The same, with the handler always run on the main thread (see above).
    [[nodiscard]] KVObservation observeOnMainThread(const QString &name, const void *sender, Handler handler);

    void post(const QString &name, const void *sender = nullptr, const QVariantMap &userInfo = {});
    void post(const KVNotification &notification);

private:
    KVObservation add(const QString &name, const void *sender, Handler handler, bool onMainThread);

    std::shared_ptr<kvnotify::State> m_state;
};
