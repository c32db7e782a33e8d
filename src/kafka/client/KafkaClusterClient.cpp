#include "KafkaClusterClient.h"

#include "KafkaConnection.h"
#include "KafkaContextGuard.h"
#include "KafkaMetadataRequest.h"

#include <QFuture>
#include <QFutureSynchronizer>
#include <QMetaObject>
#include <QMutexLocker>
#include <QStringList>
#include <QThread>

#include <algorithm>
#include <utility>

namespace {

// The error of one broker among several, naming the broker.
KafkaError brokerFailure(const QString& host, int port, const KafkaError& error)
{
    return KafkaError(error.code, QStringLiteral("%1:%2: %3").arg(host, QString::number(port), error.message),
        error.causes);
}

// A broker that is starting or stopping may answer Metadata with no brokers
// and no topics; such an answer describes no cluster.
std::optional<KafkaError> unusableMetadata(const KafkaMetadataResponse& metadata)
{
    if (!metadata.brokers.isEmpty())
        return std::nullopt;
    return KafkaError(KafkaErrorCode::MetadataError,
        QStringLiteral("The metadata answer lists no broker (the broker may be starting or stopping)"));
}

bool sameAddress(const KafkaConnection& connection, const KafkaMetadataResponse::Broker& broker)
{
    return connection.host() == broker.host && connection.port() == broker.port;
}

} // namespace

KafkaClusterClient::KafkaClusterClient(
    QString clientId, const Config::Cluster& cluster, KafkaConnection::Limits limits)
    : clientIdValue(std::move(clientId))
    , clusterSettings(cluster)
    , connectionLimits(limits)
    , networkThread(std::make_unique<QThread>())
    , refreshContext(std::make_unique<QObject>())
{
    networkThread->setObjectName(QStringLiteral("NetworkThread"));
    networkThread->start(QThread::InheritPriority);
    refreshContext->moveToThread(networkThread.get());
}

KafkaClusterClient::~KafkaClusterClient()
{
    // From here on no reopening posted earlier may start a socket again, and
    // a refresh under way creates no connection.
    closing.store(true);

    QFutureSynchronizer<void> closed;
    {
        QMutexLocker locker(&connectionsMutex);
        for (auto& [key, entry] : connections)
            closed.addFuture(entry.connection->disconnectFromHost());
        for (RetiredConnection& retired : retiredConnections)
            closed.addFuture(retired.connection->disconnectFromHost());
        if (refreshConnection)
            closed.addFuture(refreshConnection->disconnectFromHost());
    }
    if (bootstrapConnection)
        closed.addFuture(bootstrapConnection->disconnectFromHost());
    closed.waitForFinished();

    // Connections belong to the network thread and are destroyed there; the
    // thread deletes what is still pending before it finishes.
    {
        QMutexLocker locker(&connectionsMutex);
        for (auto& [key, entry] : connections)
            entry.connection.release()->deleteLater();
        connections.clear();
        for (RetiredConnection& retired : retiredConnections)
            retired.connection.release()->deleteLater();
        retiredConnections.clear();
        if (refreshConnection)
            refreshConnection.release()->deleteLater();
    }
    if (bootstrapConnection)
        bootstrapConnection.release()->deleteLater();

    networkThread->quit();
    networkThread->wait();
    // The thread has ended: nothing runs on the refresh's context any more.
    refreshContext.reset();
}

// --- bootstrap (client's thread) ---------------------------------------------

void KafkaClusterClient::bootstrap()
{
    if (bootstrapState() != BootstrapState::NotStarted)
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
    connectBootstrapBroker(0);
}

void KafkaClusterClient::connectBootstrapBroker(int index)
{
    disposeBootstrapConnection();
    bootstrapAttempt.store(index);
    bootstrapStateValue.store(BootstrapState::Connecting);
    const Config::Broker& broker = clusterSettings.brokers.at(index);
    bootstrapConnection = std::make_unique<KafkaConnection>(
        broker.host, broker.port, clientIdValue, clusterSettings, connectionLimits);
    KafkaConnection* connection = bootstrapConnection.get();
    connect(connection, &KafkaConnection::connectionReady, this,
        [this, connection, index] { requestBootstrapMetadata(connection, index); }, Qt::DirectConnection);
    // Delivered on the client's thread.
    connect(connection, &KafkaConnection::connectionError, this,
        [this, index](const KafkaError& error) { onBootstrapAttemptFailed(index, error); }, Qt::QueuedConnection);
    connection->moveToThread(networkThread.get());
    QMetaObject::invokeMethod(connection, &KafkaConnection::connectToHost, Qt::QueuedConnection);
}

// Network thread: the bootstrap connection is Ready.
void KafkaClusterClient::requestBootstrapMetadata(KafkaConnection* connection, int index)
{
    if (bootstrapAttempt.load() != index)
        return;
    BootstrapState expected = BootstrapState::Connecting;
    if (!bootstrapStateValue.compare_exchange_strong(expected, BootstrapState::FetchingMetadata))
        return;
    connection->send(std::make_unique<KafkaMetadataRequest>(
                         connection->nextCorrelationId(), clientIdValue, std::nullopt, false, true, true),
        this, [this, index](KafkaResult<KafkaRawResponse> result) { onBootstrapMetadata(index, result); });
}

void KafkaClusterClient::onBootstrapMetadata(int index, KafkaResult<KafkaRawResponse>& response)
{
    if (bootstrapAttempt.load() != index || bootstrapState() != BootstrapState::FetchingMetadata)
        return;
    if (response.isError()) {
        // A broker that let the time limit pass is told apart from one that failed.
        const bool timedOut = response.error().code == KafkaErrorCode::SocketTimeoutError;
        onBootstrapAttemptFailed(index, response.error().wrap(KafkaErrorCode::MetadataError,
            timedOut ? QStringLiteral("The broker did not answer the cluster metadata request within the time limit")
                     : QStringLiteral("An error occurred while sending the cluster metadata fetch request")));
        return;
    }
    auto metadata = KafkaMetadataResponse::parseFromRaw(response.value());
    if (metadata.isError()) {
        onBootstrapAttemptFailed(index, metadata.error().wrap(KafkaErrorCode::MetadataError,
            QStringLiteral("An error occurred while parsing the cluster metadata response")));
        return;
    }
    if (std::optional<KafkaError> unusable = unusableMetadata(metadata.value())) {
        onBootstrapAttemptFailed(index, *unusable);
        return;
    }
    bootstrapAttempt.store(-1);
    // Readers on other threads look for the metadata once they see this state.
    storeMetadata(metadata.value());
    bootstrapStateValue.store(BootstrapState::ClosingBootstrapConnection, std::memory_order_release);
    bootstrapConnection->disconnectFromHost().then(this, [this] { finishBootstrap(); });
}

// The next configured broker is tried; after the last one the bootstrap fails
// with one cause per broker.
void KafkaClusterClient::onBootstrapAttemptFailed(int index, const KafkaError& error)
{
    if (bootstrapAttempt.load() != index)
        return;
    const Config::Broker& broker = clusterSettings.brokers.at(index);
    bootstrapFailures.append(brokerFailure(broker.host, broker.port, error));
    if (index + 1 < clusterSettings.brokers.size()) {
        connectBootstrapBroker(index + 1);
        return;
    }
    bootstrapAttempt.store(-1);
    bootstrapStateValue.store(BootstrapState::Connecting);
    QStringList addresses;
    for (const Config::Broker& configured : clusterSettings.brokers)
        addresses.append(QStringLiteral("%1:%2").arg(configured.host, QString::number(configured.port)));
    reportBootstrapError(KafkaError(error.code,
        QStringLiteral("Unable to bootstrap from any of the configured brokers (%1)").arg(addresses.join(", ")),
        bootstrapFailures));
}

void KafkaClusterClient::finishBootstrap()
{
    if (bootstrapState() != BootstrapState::ClosingBootstrapConnection)
        return;
    disposeBootstrapConnection();
    bootstrapStateValue.store(BootstrapState::Complete);
    emit bootstrapComplete();
}

void KafkaClusterClient::disposeBootstrapConnection()
{
    if (!bootstrapConnection)
        return;
    disconnect(bootstrapConnection.get(), nullptr, this, nullptr);
    // Destroyed on its own thread; the destructor closes its socket.
    bootstrapConnection.release()->deleteLater();
}

void KafkaClusterClient::reportBootstrapError(KafkaError error)
{
    // One bootstrap reports one failure, however the connections go on failing.
    if (bootstrapFailed.exchange(true))
        return;
    emit bootstrapError(std::move(error));
}

// --- metadata (any thread) ---------------------------------------------------

void KafkaClusterClient::storeMetadata(KafkaMetadataResponse& metadata)
{
    {
        QMutexLocker locker(&metadataMutex);
        brokerList = std::move(metadata.brokers);
        controllerId = metadata.controllerId;
        topicList = std::move(metadata.topics);
    }
    retireMovedConnections();
}

QList<KafkaMetadataResponse::Broker> KafkaClusterClient::brokers() const
{
    QMutexLocker locker(&metadataMutex);
    return brokerList;
}

QList<KafkaMetadataResponse::Topic> KafkaClusterClient::topics() const
{
    QMutexLocker locker(&metadataMutex);
    return topicList;
}

std::optional<KafkaMetadataResponse::Broker> KafkaClusterClient::findBroker(std::int32_t brokerId) const
{
    QMutexLocker locker(&metadataMutex);
    for (const auto& candidate : brokerList) {
        if (candidate.nodeId == brokerId)
            return candidate;
    }
    return std::nullopt;
}

Result<KafkaMetadataResponse::Partition, Error<KafkaErrorCode>> KafkaClusterClient::findTopicPartition(
    const QString& topic, int partition) const
{
    {
        QMutexLocker locker(&metadataMutex);
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

// --- connections (any thread) ------------------------------------------------

Result<KafkaConnection*, Error<KafkaErrorCode>> KafkaClusterClient::brokerConnectionForId(
    int brokerId, std::int32_t group)
{
    const ConnectionKey key { group, brokerId };
    // Read apart from the connections: no thread holds both locks.
    const std::optional<KafkaMetadataResponse::Broker> broker = findBroker(brokerId);

    QMutexLocker locker(&connectionsMutex);
    const auto existing = connections.find(key);
    if (existing != connections.end()) {
        BrokerConnection& entry = existing->second;
        if (!broker || sameAddress(*entry.connection, *broker)) {
            if (entry.connection->state() >= KafkaConnection::State::Disconnecting && !entry.reopenPending)
                reopenConnection(key, entry);
            return entry.connection.get();
        }
        // The broker has moved since this connection was opened.
        retireConnection(entry);
        connections.erase(existing);
    }
    if (!broker) {
        return KafkaError(KafkaErrorCode::BrokerNotAvailable,
            QStringLiteral("Broker %1 not found in cluster metadata").arg(brokerId));
    }
    if (closing.load()) {
        return KafkaError(KafkaErrorCode::ConnectionClosed,
            QStringLiteral("The connection to broker %1 is not opened: the cluster client is closing").arg(brokerId));
    }
    auto connection = std::make_unique<KafkaConnection>(
        broker->host, broker->port, clientIdValue, clusterSettings, connectionLimits);
    KafkaConnection* created = connection.get();
    const std::int32_t id = brokerId;
    if (group == SharedConnections) {
        connect(created, &KafkaConnection::connectionReady, this, [this, id] { emit connectionReady(id); },
            Qt::DirectConnection);
        connect(created, &KafkaConnection::connectionError, this,
            [this, id](const KafkaError& error) { emit connectionError(id, error); }, Qt::DirectConnection);
    } else {
        connect(created, &KafkaConnection::connectionError, this,
            [this, group, id](const KafkaError& error) { emit groupConnectionError(group, id, error); },
            Qt::DirectConnection);
    }
    created->moveToThread(networkThread.get());
    QMetaObject::invokeMethod(created, &KafkaConnection::connectToHost, Qt::QueuedConnection);
    connections.emplace(key, BrokerConnection { std::move(connection), false });
    return created;
}

void KafkaClusterClient::reopenConnection(ConnectionKey key, BrokerConnection& entry)
{
    // Decided under the mutex: until the posted call has run, further callers
    // see the reopening as pending and post nothing.
    entry.reopenPending = true;
    KafkaConnection* connection = entry.connection.get();
    const auto current = [this, connection, key]() -> BrokerConnection* {
        const auto found = connections.find(key);
        return found != connections.end() && found->second.connection.get() == connection ? &found->second : nullptr;
    };
    QMetaObject::invokeMethod(
        connection,
        [this, connection, current] {
            {
                // A connection retired meanwhile stays closed.
                QMutexLocker locker(&connectionsMutex);
                if (!current())
                    return;
            }
            if (!closing.load())
                connection->connectToHost();
            QMutexLocker locker(&connectionsMutex);
            if (BrokerConnection* reopened = current())
                reopened->reopenPending = false;
        },
        Qt::QueuedConnection);
}

// Any thread but under no lock: compares every connection with the address
// that the newest metadata gives its broker.
void KafkaClusterClient::retireMovedConnections()
{
    const QList<KafkaMetadataResponse::Broker> known = brokers();
    QMutexLocker locker(&connectionsMutex);
    for (auto entry = connections.begin(); entry != connections.end();) {
        const std::int32_t brokerId = entry->first.brokerId;
        const auto broker = std::find_if(known.begin(), known.end(),
            [brokerId](const KafkaMetadataResponse::Broker& candidate) { return candidate.nodeId == brokerId; });
        if (broker == known.end() || sameAddress(*entry->second.connection, *broker)) {
            ++entry;
            continue;
        }
        retireConnection(entry->second);
        entry = connections.erase(entry);
    }
}

void KafkaClusterClient::retireConnection(BrokerConnection& entry)
{
    // Connections retired long enough ago are handed out by no lookup and
    // used by no caller any more.
    for (auto retired = retiredConnections.begin(); retired != retiredConnections.end();) {
        if (!retired->keptUntil.hasExpired()) {
            ++retired;
            continue;
        }
        retired->connection.release()->deleteLater();
        retired = retiredConnections.erase(retired);
    }

    // Its waiting requests fail as closed, which their callers take as a
    // broken connection. Its events no longer speak for the broker id.
    closeConnection(*entry.connection, false);
    retiredConnections.push_back(
        RetiredConnection { std::move(entry.connection), QDeadlineTimer(RetiredConnectionGrace) });
}

std::int32_t KafkaClusterClient::openConnectionGroup()
{
    return nextConnectionGroup.fetch_add(1);
}

void KafkaClusterClient::closeConnectionGroup(std::int32_t group)
{
    if (group == SharedConnections)
        return;
    QMutexLocker locker(&connectionsMutex);
    for (auto entry = connections.begin(); entry != connections.end();) {
        if (entry->first.group != group) {
            ++entry;
            continue;
        }
        KafkaConnection* connection = entry->second.connection.release();
        entry = connections.erase(entry);
        closeConnection(*connection, true);
    }
}

void KafkaClusterClient::closeConnection(KafkaConnection& connection, bool destroy)
{
    disconnect(&connection, nullptr, this, nullptr);
    // Emits nothing and waits for nothing: the close runs on the network
    // thread, and with `destroy` the destruction after it there, which closes
    // what the disconnection has not closed yet.
    connection.disconnectFromHost();
    if (destroy)
        connection.deleteLater();
}

Result<KafkaConnection*, Error<KafkaErrorCode>> KafkaClusterClient::findAvailableBrokerConnection()
{
    {
        QMutexLocker locker(&connectionsMutex);
        KafkaConnection* best = nullptr;
        int bestScore = 0;
        for (const auto& [key, entry] : connections) {
            if (key.group != SharedConnections)
                continue;
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
    const QList<KafkaMetadataResponse::Broker> known = brokers();
    if (known.isEmpty()) {
        return KafkaError(
            KafkaErrorCode::BrokerNotAvailable, QStringLiteral("No broker is known from the cluster metadata"));
    }
    return brokerConnectionForId(known.first().nodeId);
}

// --- refresh -------------------------------------------------------------------

void KafkaClusterClient::refreshMetadata(QObject* context, RefreshCallback callback)
{
    {
        QMutexLocker locker(&metadataMutex);
        refreshWaiters.push_back(RefreshWaiter { KafkaContextGuard::create(context), std::move(callback) });
        if (refreshing)
            return;
        refreshing = true;
    }
    QMetaObject::invokeMethod(refreshContext.get(), [this] { startRefresh(); }, Qt::QueuedConnection);
}

// Network thread: the brokers with a ready connection are asked first, then
// the others in the order of the metadata.
void KafkaClusterClient::startRefresh()
{
    refreshCandidates.clear();
    refreshFailures.clear();
    nextConfiguredBroker = 0;
    for (const KafkaMetadataResponse::Broker& broker : brokers())
        refreshCandidates.append(broker.nodeId);
    {
        QMutexLocker locker(&connectionsMutex);
        std::stable_partition(refreshCandidates.begin(), refreshCandidates.end(), [this](std::int32_t id) {
            const auto found = connections.find(ConnectionKey { SharedConnections, id });
            return found != connections.end() && found->second.connection->state() == KafkaConnection::State::Ready;
        });
    }
    refreshThroughNextBroker();
}

void KafkaClusterClient::refreshThroughNextBroker()
{
    while (!refreshCandidates.isEmpty() && !closing.load()) {
        const std::int32_t brokerId = refreshCandidates.takeFirst();
        Result<KafkaConnection*, KafkaError> connection = brokerConnectionForId(brokerId);
        if (connection.isError()) {
            refreshFailures.append(connection.error());
            continue;
        }
        KafkaConnection* brokerConnection = connection.value();
        brokerConnection->send(std::make_unique<KafkaMetadataRequest>(
                                   brokerConnection->nextCorrelationId(), clientIdValue, std::nullopt, false, false, false),
            refreshContext.get(),
            [this, host = brokerConnection->host(), port = brokerConnection->port()](
                KafkaResult<KafkaRawResponse> result) { onRefreshAnswer(host, port, result); });
        return;
    }
    if (refreshThroughConfiguredBroker())
        return;
    finishRefresh(KafkaError(KafkaErrorCode::MetadataError,
        QStringLiteral("No broker of the cluster answered the metadata request"), refreshFailures));
}

// The brokers of the metadata may all have gone, or moved, while the
// configured addresses still lead to the cluster: each configured broker is
// asked in turn through a connection of the refresh's own, closed again with
// its answer. False once every configured broker has been asked.
bool KafkaClusterClient::refreshThroughConfiguredBroker()
{
    disposeRefreshConnection();
    if (closing.load() || nextConfiguredBroker >= clusterSettings.brokers.size())
        return false;
    const Config::Broker& broker = clusterSettings.brokers.at(nextConfiguredBroker++);
    // Created on the network thread, where it stays.
    auto connection = std::make_unique<KafkaConnection>(
        broker.host, broker.port, clientIdValue, clusterSettings, connectionLimits);
    KafkaConnection* created = connection.get();
    {
        QMutexLocker locker(&connectionsMutex);
        // Decided under the mutex: the destructor closes what it finds here.
        if (closing.load())
            return false;
        refreshConnection = std::move(connection);
    }
    // The request waits for the connection; its failure fails the request.
    created->send(std::make_unique<KafkaMetadataRequest>(
                      created->nextCorrelationId(), clientIdValue, std::nullopt, false, false, false),
        refreshContext.get(), [this, host = broker.host, port = broker.port](KafkaResult<KafkaRawResponse> result) {
            disposeRefreshConnection();
            onRefreshAnswer(host, port, result);
        });
    created->connectToHost();
    return true;
}

void KafkaClusterClient::disposeRefreshConnection()
{
    std::unique_ptr<KafkaConnection> connection;
    {
        QMutexLocker locker(&connectionsMutex);
        connection = std::move(refreshConnection);
    }
    if (!connection)
        return;
    connection->disconnectFromHost();
    // Its own callbacks may still be on the stack.
    connection.release()->deleteLater();
}

void KafkaClusterClient::onRefreshAnswer(const QString& host, int port, KafkaResult<KafkaRawResponse>& response)
{
    KafkaResult<KafkaMetadataResponse> metadata = response.isError()
        ? KafkaResult<KafkaMetadataResponse>(response.error())
        : KafkaMetadataResponse::parseFromRaw(response.value());
    const std::optional<KafkaError> failure
        = metadata.isError() ? std::optional<KafkaError>(metadata.error()) : unusableMetadata(metadata.value());
    if (failure) {
        refreshFailures.append(brokerFailure(host, port, *failure));
        refreshThroughNextBroker();
        return;
    }
    storeMetadata(metadata.value());
    finishRefresh(std::nullopt);
}

void KafkaClusterClient::finishRefresh(std::optional<KafkaError> error)
{
    std::vector<RefreshWaiter> waiters;
    {
        QMutexLocker locker(&metadataMutex);
        waiters.swap(refreshWaiters);
        refreshing = false;
    }
    for (RefreshWaiter& waiter : waiters)
        waiter.context->post([callback = std::move(waiter.callback), error] { callback(error); });
}
