#include "KafkaContextGuard.h"

std::shared_ptr<KafkaContextGuard> KafkaContextGuard::create(QObject* context)
{
    auto guard = std::make_shared<KafkaContextGuard>(context);
    if (context != nullptr) {
        // The lambda holds the guard weakly: the guard ends with the last
        // request that refers to it and then removes this connection.
        std::weak_ptr<KafkaContextGuard> weakGuard = guard;
        guard->m_destroyedConnection = QObject::connect(
            context, &QObject::destroyed, context,
            [weakGuard]() {
                if (std::shared_ptr<KafkaContextGuard> alive = weakGuard.lock())
                    alive->clear();
            },
            Qt::DirectConnection);
    }
    return guard;
}

KafkaContextGuard::KafkaContextGuard(QObject* context) : m_context(context) { }

KafkaContextGuard::~KafkaContextGuard()
{
    if (m_destroyedConnection)
        QObject::disconnect(m_destroyedConnection);
}

bool KafkaContextGuard::isAlive() const
{
    QMutexLocker locker(&m_mutex);
    return m_context != nullptr;
}

bool KafkaContextGuard::guards(const QObject* object) const
{
    QMutexLocker locker(&m_mutex);
    return m_context != nullptr && m_context == object;
}

void KafkaContextGuard::clear()
{
    QMutexLocker locker(&m_mutex);
    m_context = nullptr;
}
