#include "KafkaClusterClient.h"

#include "KafkaConnection.h"
#include "KafkaMetadataRequest.h"

#include <QFuture>
#include <QFutureSynchronizer>
#include <QMetaObject>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <optional>
#include <utility>

KafkaClusterClient::KafkaClusterClient(QString clientId, const Config::Cluster& cluster)
    : clientIdValue(std::move(clientId))
    , clusterSettings(cluster)
    , networkThread(std::make_unique<QThread>())
{
    networkThread->setObjectName(QStringLiteral("NetworkThread"));
    networkThread->start(QThread::InheritPriority);
}

KafkaClusterClient::~KafkaClusterClient()
{
    // From here on no reopening posted earlier may start a socket again.
    closing.store(true);

    QFutureSynchronizer<void> closed;
    {
        QMutexLocker locker(&connectionsMutex);
        for (auto& [brokerId, entry] : connections)
            closed.addFuture(entry.connection->disconnectFromHost());
    }
    if (bootstrapConnection)
        closed.addFuture(bootstrapConnection->disconnectFromHost());
    closed.waitForFinished();

    // Connections belong to the network thread and are destroyed there; the
    // thread deletes what is still pending before it finishes.
    {
        QMutexLocker locker(&connectionsMutex);
        for (auto& [brokerId, entry] : connections)
            entry.connection.release()->deleteLater();
        connections.clear();
    }
    if (bootstrapConnection)
        bootstrapConnection.release()->deleteLater();

    networkThread->quit();
    networkThread->wait();
}

void KafkaClusterClient::bootstrap()
{
    if (bootstrapState() != BootstrapState::NotStarted)
        return;
    doBootstrap(nullptr);
}

void KafkaClusterClient::doBootstrap(KafkaResult<KafkaRawResponse>* response)
{
    switch (bootstrapState()) {
    case BootstrapState::NotStarted: {
        if (response != nullptr)
            return;
        bootstrapStateValue.store(BootstrapState::Connecting);
        if (clusterSettings.brokers.isEmpty()) {
            // Reported like every other bootstrap failure: later, on this thread.
            QMetaObject::invokeMethod(
                this,
                [this] {
                    reportBootstrapError(KafkaError(KafkaErrorCode::MissingRequiredValue,
                        QStringLiteral("The cluster configuration lists no broker to connect to")));
                },
                Qt::QueuedConnection);
            return;
        }
        const Config::Broker& broker = clusterSettings.brokers.first();
        bootstrapConnection = std::make_unique<KafkaConnection>(broker.host, broker.port, clientIdValue, clusterSettings);
        KafkaConnection* connection = bootstrapConnection.get();
        connect(connection, &KafkaConnection::connectionReady, this, [this] { doBootstrap(nullptr); },
            Qt::DirectConnection);
        // Delivered on the client's thread.
        connect(connection, &KafkaConnection::connectionError, this,
            [this](const KafkaError& error) { reportBootstrapError(error); }, Qt::QueuedConnection);
        connection->moveToThread(networkThread.get());
        QMetaObject::invokeMethod(connection, &KafkaConnection::connectToHost, Qt::QueuedConnection);
        return;
    }
    case BootstrapState::Connecting: {
        // The bootstrap connection is Ready; this runs on the network thread.
        if (response != nullptr)
            return;
        bootstrapStateValue.store(BootstrapState::FetchingMetadata);
        auto request = std::make_unique<KafkaMetadataRequest>(
            bootstrapConnection->nextCorrelationId(), clientIdValue, std::nullopt, false, true, true);
        bootstrapConnection->send(std::move(request), this,
            [this](KafkaResult<KafkaRawResponse> result) { doBootstrap(&result); });
        return;
    }
    case BootstrapState::FetchingMetadata: {
        if (response == nullptr)
            return;
        if (response->isError()) {
            reportBootstrapError(response->error().wrap(KafkaErrorCode::MetadataError,
                QStringLiteral("An error occurred while sending the cluster metadata fetch request")));
            return;
        }
        auto metadata = KafkaMetadataResponse::parseFromRaw(response->value());
        if (metadata.isError()) {
            reportBootstrapError(metadata.error().wrap(KafkaErrorCode::MetadataError,
                QStringLiteral("An error occurred while parsing the cluster metadata response")));
            return;
        }
        {
            // Readers on other threads see the metadata once they see this state.
            QMutexLocker locker(&connectionsMutex);
            brokerList = std::move(metadata.value().brokers);
            controllerId = metadata.value().controllerId;
            topicList = std::move(metadata.value().topics);
            bootstrapStateValue.store(BootstrapState::ClosingBootstrapConnection, std::memory_order_release);
        }
        bootstrapConnection->disconnectFromHost().then(this, [this] { doBootstrap(nullptr); });
        return;
    }
    case BootstrapState::ClosingBootstrapConnection: {
        if (response != nullptr)
            return;
        bootstrapConnection.release()->deleteLater();
        bootstrapStateValue.store(BootstrapState::Complete);
        emit bootstrapComplete();
        return;
    }
    case BootstrapState::Complete:
        return;
    }
}

void KafkaClusterClient::reportBootstrapError(KafkaError error)
{
    // One bootstrap reports one failure, however the connection goes on failing.
    if (bootstrapFailed.exchange(true))
        return;
    emit bootstrapError(std::move(error));
}

Result<KafkaConnection*, Error<KafkaErrorCode>> KafkaClusterClient::brokerConnectionForId(int brokerId)
{
    QMutexLocker locker(&connectionsMutex);

    const auto existing = connections.find(brokerId);
    if (existing != connections.end()) {
        BrokerConnection& entry = existing->second;
        if (entry.connection->state() >= KafkaConnection::State::Disconnecting && !entry.reopenPending)
            reopenConnection(brokerId, entry);
        return entry.connection.get();
    }

    const KafkaMetadataResponse::Broker* broker = nullptr;
    if (bootstrapState() >= BootstrapState::ClosingBootstrapConnection) {
        for (const auto& candidate : brokerList) {
            if (candidate.nodeId == brokerId) {
                broker = &candidate;
                break;
            }
        }
    }
    if (broker == nullptr) {
        return KafkaError(KafkaErrorCode::BrokerNotAvailable,
            QStringLiteral("Broker %1 not found in cluster metadata").arg(brokerId));
    }

    auto connection = std::make_unique<KafkaConnection>(broker->host, broker->port, clientIdValue, clusterSettings);
    KafkaConnection* created = connection.get();
    const std::int32_t id = brokerId;
    connect(created, &KafkaConnection::connectionReady, this, [this, id] { emit connectionReady(id); },
        Qt::DirectConnection);
    connect(created, &KafkaConnection::connectionError, this,
        [this, id](const KafkaError& error) { emit connectionError(id, error); }, Qt::DirectConnection);
    created->moveToThread(networkThread.get());
    QMetaObject::invokeMethod(created, &KafkaConnection::connectToHost, Qt::QueuedConnection);
    connections.emplace(id, BrokerConnection { std::move(connection), false });
    return created;
}

void KafkaClusterClient::reopenConnection(std::int32_t brokerId, BrokerConnection& entry)
{
    // Decided under the mutex: until the posted call has run, further callers
    // see the reopening as pending and post nothing.
    entry.reopenPending = true;
    KafkaConnection* connection = entry.connection.get();
    QMetaObject::invokeMethod(
        connection,
        [this, connection, brokerId] {
            if (!closing.load())
                connection->connectToHost();
            QMutexLocker locker(&connectionsMutex);
            const auto found = connections.find(brokerId);
            if (found != connections.end())
                found->second.reopenPending = false;
        },
        Qt::QueuedConnection);
}

Result<KafkaMetadataResponse::Partition, Error<KafkaErrorCode>> KafkaClusterClient::findTopicPartition(
    const QString& topic, int partition) const
{
    if (bootstrapState() >= BootstrapState::ClosingBootstrapConnection) {
        for (const auto& candidate : topicList) {
            if (candidate.name != topic)
                continue;
            for (const auto& partitionMetadata : candidate.partitions) {
                if (partitionMetadata.partitionIndex == partition)
                    return partitionMetadata;
            }
        }
    }
    return KafkaError(KafkaErrorCode::UnknownTopicOrPartition,
        QStringLiteral("Topic %1 with partition index %2 not found in cluster metadata")
            .arg(topic, QString::number(partition)));
}

Result<KafkaConnection*, Error<KafkaErrorCode>> KafkaClusterClient::findAvailableBrokerConnection()
{
    {
        QMutexLocker locker(&connectionsMutex);
        KafkaConnection* best = nullptr;
        int bestScore = 0;
        for (const auto& [brokerId, entry] : connections) {
            KafkaConnection* connection = entry.connection.get();
            int score = 0;
            switch (connection->state()) {
            case KafkaConnection::State::Ready: {
                const int inFlight = connection->inFlightRequestCount();
                if (inFlight > 999)
                    continue;
                score = 2000 - inFlight;
                break;
            }
            case KafkaConnection::State::Idle:
            case KafkaConnection::State::Connecting:
            case KafkaConnection::State::Initializing:
            case KafkaConnection::State::Authenticating:
                // A connection still opening with a long queue is the last choice.
                score = std::max(1, 1000 - connection->queuedRequestCount());
                break;
            case KafkaConnection::State::Disconnecting:
            case KafkaConnection::State::Disconnected:
                continue;
            }
            if (best == nullptr || score > bestScore) {
                best = connection;
                bestScore = score;
            }
        }
        if (best != nullptr)
            return best;
    }
    // Read without the lock: brokers do not change after the bootstrap.
    if (bootstrapState() < BootstrapState::ClosingBootstrapConnection || brokerList.isEmpty()) {
        return KafkaError(
            KafkaErrorCode::BrokerNotAvailable, QStringLiteral("No broker is known from the cluster metadata"));
    }
    return brokerConnectionForId(brokerList.first().nodeId);
}
