#pragma once

#include "Config.h"
#include "Error.h"
#include "KafkaMetadataResponse.h"
#include "KafkaRawResponse.h"
#include "Result.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class KafkaConnection;
class KafkaContextGuard;
class QThread;

// The handle on one configured cluster. It bootstraps (reads the cluster
// metadata through the first configured broker that answers, trying them in
// the configured order), keeps the brokers and topics of that metadata, reads
// them again when asked (a leader has moved or failed) and hands out one
// connection per broker id and connection group.
//
// Connection groups: the short requests of every view (offset lookups,
// metadata, the consumer groups tab) share group SharedConnections. A broker
// answers the requests of one connection one at a time, so a fetcher, whose
// Fetch requests wait at the broker for records, opens a group of its own and
// closes it when it is done: its long polls hold up nobody else's requests.
// There are thus at most (fetchers + 1) x brokers connections.
//
// Threads: the client lives on the thread that created it (the GUI thread),
// which runs the bootstrap but for the sending of its Metadata request, and
// the destructor. Every connection lives on the client's network thread
// ("NetworkThread"), which also sends the bootstrap's Metadata request and
// runs the metadata refreshes. The lookups, brokerConnectionForId,
// openConnectionGroup, closeConnectionGroup and refreshMetadata may be called
// from any thread: the fetch threads and the GUI thread call them.
//
// Locks; no thread holds both at once, nor emits a signal or runs a callback
// while holding one:
// - metadataMutex guards brokerList, controllerId and topicList (written by
//   the bootstrap and by every refresh, read by the lookups, which hand out
//   copies) and the refresh's waiters (refreshWaiters, refreshing);
// - connectionsMutex guards the connections table (every group's), each
//   entry's reopenPending included, for the whole of a lookup, creation,
//   reopening or closing of a group.
// The bootstrap state and the bootstrap attempt are atomic; the remaining
// bootstrap fields belong to the client's thread and the refresh's progress
// (refreshCandidates, refreshFailures) to the network thread.
class KafkaClusterClient : public QObject {
    Q_OBJECT

public:
    enum class BootstrapState : std::int32_t {
        NotStarted = 0,
        Connecting = 1,
        FetchingMetadata = 2,
        ClosingBootstrapConnection = 3,
        Complete = 4,
    };

    // Called with nothing when the metadata was read again, else with the
    // reason why no broker answered.
    using RefreshCallback = std::function<void(std::optional<KafkaError>)>;

    // The group of the connections that every view shares.
    static constexpr std::int32_t SharedConnections = 0;

    // Keeps its own copy of the cluster settings; the connections refer to it.
    KafkaClusterClient(QString clientId, const Config::Cluster& cluster);
    // Closes every connection, waits until each has closed and stops the
    // network thread.
    ~KafkaClusterClient() override;

    KafkaClusterClient(const KafkaClusterClient&) = delete;
    KafkaClusterClient& operator=(const KafkaClusterClient&) = delete;

    // Starts the bootstrap; called once.
    void bootstrap();

    // The shared connection to a broker of the metadata, created and started
    // when needed and reopened when it has closed or failed before becoming
    // ready. Any thread. The pointer stays valid until the client is destroyed.
    Result<KafkaConnection*, Error<KafkaErrorCode>> brokerConnectionForId(int brokerId);
    // The same within a connection group of openConnectionGroup (or
    // SharedConnections); such a pointer stays valid until its group is closed.
    Result<KafkaConnection*, Error<KafkaErrorCode>> brokerConnectionForId(int brokerId, std::int32_t group);
    // A new group of connections of its own, none opened yet. Any thread.
    std::int32_t openConnectionGroup();
    // Closes and destroys (on the network thread) every connection of a group
    // of openConnectionGroup; their requests still under way get no answer.
    // Any thread; called once no one uses the group's connections any more.
    void closeConnectionGroup(std::int32_t group);
    // A copy of one partition's metadata. Any thread.
    Result<KafkaMetadataResponse::Partition, Error<KafkaErrorCode>> findTopicPartition(
        const QString& topic, int partition) const;
    // The least loaded existing connection, else the first broker's.
    Result<KafkaConnection*, Error<KafkaErrorCode>> findAvailableBrokerConnection();

    // Any thread: reads the metadata of every topic again, through the
    // brokers of the metadata in turn (those with a ready connection first)
    // until one answers, and replaces brokers and topics with it. Calls made
    // while a refresh is under way share its outcome. `callback` runs once on
    // the thread of `context`, unless `context` is destroyed first.
    void refreshMetadata(QObject* context, RefreshCallback callback);

    BootstrapState bootstrapState() const { return bootstrapStateValue.load(std::memory_order_acquire); }
    // Copies of the metadata as last read; any thread.
    QList<KafkaMetadataResponse::Broker> brokers() const;
    QList<KafkaMetadataResponse::Topic> topics() const;
    const QString& clientId() const { return clientIdValue; }

signals:
    void bootstrapComplete();
    void bootstrapError(KafkaError bootstrapError);
    // Emitted on the network thread for the shared connections.
    void connectionReady(int32_t brokerId);
    void connectionError(int32_t brokerId, KafkaError connectionError);
    // Emitted on the network thread for the connections of the other groups.
    void groupConnectionError(int32_t group, int32_t brokerId, KafkaError connectionError);

private:
    // A connection's place in the table.
    struct ConnectionKey {
        std::int32_t group = SharedConnections;
        std::int32_t brokerId = -1;
        auto operator<=>(const ConnectionKey&) const = default;
    };

    struct BrokerConnection {
        std::unique_ptr<KafkaConnection> connection;
        // A reopening has been posted and has not yet run on the network
        // thread; guarded by connectionsMutex.
        bool reopenPending = false;
    };

    struct RefreshWaiter {
        std::shared_ptr<KafkaContextGuard> context;
        RefreshCallback callback;
    };

    // The bootstrap, on the client's thread but for requestBootstrapMetadata.
    void connectBootstrapBroker(int index);
    void requestBootstrapMetadata(KafkaConnection* connection, int index);
    void onBootstrapMetadata(int index, KafkaResult<KafkaRawResponse>& response);
    void onBootstrapAttemptFailed(int index, const KafkaError& error);
    void finishBootstrap();
    void disposeBootstrapConnection();
    void reportBootstrapError(KafkaError error);

    // The refresh, on the network thread.
    void startRefresh();
    void refreshThroughNextBroker();
    void onRefreshAnswer(std::int32_t brokerId, KafkaResult<KafkaRawResponse>& response);
    void finishRefresh(std::optional<KafkaError> error);

    void storeMetadata(KafkaMetadataResponse& metadata);
    std::optional<KafkaMetadataResponse::Broker> findBroker(std::int32_t brokerId) const;
    void reopenConnection(ConnectionKey key, BrokerConnection& entry);

    const QString clientIdValue;
    const Config::Cluster clusterSettings;
    std::atomic<BootstrapState> bootstrapStateValue { BootstrapState::NotStarted };
    // Index of the configured broker the bootstrap is trying; -1 once it has
    // ended. Answers of an earlier attempt are ignored.
    std::atomic<int> bootstrapAttempt { -1 };
    // Set by the bootstrap's failure; nothing is reported after it.
    std::atomic<bool> bootstrapFailed { false };
    // Set when destruction begins: a pending reopening then opens nothing,
    // and no connection is created any more.
    std::atomic<bool> closing { false };
    std::unique_ptr<KafkaConnection> bootstrapConnection;
    // One per configured broker tried, in order.
    QList<KafkaError> bootstrapFailures;

    mutable QMutex metadataMutex;
    QList<KafkaMetadataResponse::Broker> brokerList;
    std::int32_t controllerId = -1;
    QList<KafkaMetadataResponse::Topic> topicList;
    bool refreshing = false;
    std::vector<RefreshWaiter> refreshWaiters;

    QList<std::int32_t> refreshCandidates;
    QList<KafkaError> refreshFailures;

    mutable QMutex connectionsMutex;
    std::map<ConnectionKey, BrokerConnection> connections;
    std::atomic<std::int32_t> nextConnectionGroup { SharedConnections + 1 };
    std::unique_ptr<QThread> networkThread;
    // Lives on the network thread: the context of the refresh's requests.
    std::unique_ptr<QObject> refreshContext;
};
