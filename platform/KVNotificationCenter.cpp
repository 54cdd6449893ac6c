#include "KVNotificationCenter.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace kvnotify {

struct Observer {
    quint64 id = 0;
    QString name;
    const void *sender = nullptr;
    KVNotificationCenter::Handler handler;
    bool onMainThread = false;

    // Guards the two below. Calls in progress are counted per thread, so that ending the
    // observation can wait for other threads' calls and not for its own caller's.
    std::mutex mutex;
    std::condition_variable idle;
    bool alive = true;
    std::vector<std::thread::id> callers;
};

struct State {
    std::mutex mutex;
    std::vector<std::shared_ptr<Observer>> observers;
    quint64 nextId = 1;

    void remove(quint64 id)
    {
        std::shared_ptr<Observer> observer;
        {
            std::lock_guard<std::mutex> guard(mutex);
            auto it = std::find_if(observers.begin(), observers.end(), [id](const auto &o) { return o->id == id; });
            if (it == observers.end())
                return;
            observer = std::move(*it);
            observers.erase(it);
        }
        std::unique_lock<std::mutex> lock(observer->mutex);
        observer->alive = false;
        const std::thread::id self = std::this_thread::get_id();
        observer->idle.wait(lock, [&] {
            return std::all_of(observer->callers.begin(), observer->callers.end(),
                               [self](std::thread::id caller) { return caller == self; });
        });
    }
};

namespace {

void deliver(Observer &observer, const KVNotification &notification)
{
    const std::thread::id self = std::this_thread::get_id();
    {
        std::lock_guard<std::mutex> guard(observer.mutex);
        if (!observer.alive)
            return;
        observer.callers.push_back(self);
    }
    struct Done {
        Observer &observer;
        std::thread::id self;
        ~Done()
        {
            std::lock_guard<std::mutex> guard(observer.mutex);
            observer.callers.erase(std::find(observer.callers.begin(), observer.callers.end(), self));
            observer.idle.notify_all();
        }
    } done{observer, self};
    observer.handler(notification);
}

} // namespace
} // namespace kvnotify

KVObservation::~KVObservation() { reset(); }

KVObservation::KVObservation(KVObservation &&other) noexcept
    : m_state(std::move(other.m_state))
    , m_id(std::exchange(other.m_id, 0))
{
}

KVObservation &KVObservation::operator=(KVObservation &&other) noexcept
{
    if (this != &other) {
        reset();
        m_state = std::move(other.m_state);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

void KVObservation::reset()
{
    const quint64 id = std::exchange(m_id, 0);
    if (id == 0)
        return;
    if (std::shared_ptr<kvnotify::State> state = m_state.lock())
        state->remove(id);
    m_state.reset();
}

KVNotificationCenter::KVNotificationCenter() : m_state(std::make_shared<kvnotify::State>()) { }

KVNotificationCenter::~KVNotificationCenter() = default;

KVNotificationCenter &KVNotificationCenter::defaultCenter()
{
    static KVNotificationCenter center;
    return center;
}

KVObservation KVNotificationCenter::observe(const QString &name, const void *sender, Handler handler)
{
    return add(name, sender, std::move(handler), false);
}

KVObservation KVNotificationCenter::observeOnMainThread(const QString &name, const void *sender, Handler handler)
{
    return add(name, sender, std::move(handler), true);
}

KVObservation KVNotificationCenter::add(const QString &name, const void *sender, Handler handler, bool onMainThread)
{
    if (name.isEmpty() || !handler)
        return {};
    auto observer = std::make_shared<kvnotify::Observer>();
    observer->name = name;
    observer->sender = sender;
    observer->handler = std::move(handler);
    observer->onMainThread = onMainThread;
    std::lock_guard<std::mutex> guard(m_state->mutex);
    observer->id = m_state->nextId++;
    m_state->observers.push_back(observer);
    return KVObservation(m_state, observer->id);
}

void KVNotificationCenter::post(const QString &name, const void *sender, const QVariantMap &userInfo)
{
    post(KVNotification{name, sender, userInfo});
}

void KVNotificationCenter::post(const KVNotification &notification)
{
    // A snapshot, so that handlers run with the centre unlocked and may change the list.
    std::vector<std::shared_ptr<kvnotify::Observer>> matching;
    {
        std::lock_guard<std::mutex> guard(m_state->mutex);
        for (const auto &observer : m_state->observers)
            if (observer->name == notification.name && (!observer->sender || observer->sender == notification.sender))
                matching.push_back(observer);
    }
    QCoreApplication *app = QCoreApplication::instance();
    const bool offMainThread = app && QThread::currentThread() != app->thread();
    for (const auto &observer : matching) {
        if (observer->onMainThread && offMainThread) {
            QMetaObject::invokeMethod(
                app, [observer, notification] { kvnotify::deliver(*observer, notification); }, Qt::QueuedConnection);
            continue;
        }
        kvnotify::deliver(*observer, notification);
    }
}
