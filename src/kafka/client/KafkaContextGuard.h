#pragma once

#include <QMetaObject>
#include <QMutex>
#include <QMutexLocker>
#include <QObject>

#include <memory>
#include <utility>

// Lets one thread post calls to an object that another thread may destroy at
// any moment. The object's `destroyed` signal (a direct connection, so it runs
// on the destroying thread before the object is gone) clears the pointer under
// the guard's mutex; `post` holds that mutex while it queues the call, so the
// object either is still alive when the call is queued, and Qt drops the event
// when the object is destroyed later, or the call is not queued at all.
class KafkaContextGuard {
public:
    // A guard for `context`; a null context gives a guard that never posts.
    static std::shared_ptr<KafkaContextGuard> create(QObject* context);

    explicit KafkaContextGuard(QObject* context);
    ~KafkaContextGuard();

    KafkaContextGuard(const KafkaContextGuard&) = delete;
    KafkaContextGuard& operator=(const KafkaContextGuard&) = delete;

    // Queues `function` to run on the context's thread. False when the context
    // is gone; the function is then dropped without being called.
    template <typename Function>
    bool post(Function&& function)
    {
        QMutexLocker locker(&m_mutex);
        if (m_context == nullptr)
            return false;
        QMetaObject::invokeMethod(m_context, std::forward<Function>(function), Qt::QueuedConnection);
        return true;
    }

    bool isAlive() const;
    // Whether the guarded object is `object` (and still alive).
    bool guards(const QObject* object) const;

private:
    void clear();

    mutable QMutex m_mutex;
    QObject* m_context = nullptr;
    QMetaObject::Connection m_destroyedConnection;
};
