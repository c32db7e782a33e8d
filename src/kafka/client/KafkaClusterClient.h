#pragma once

#include "Config.h"
#include "Error.h"
#include "KafkaConnection.h"
#include "KafkaMetadataResponse.h"
#include "KafkaRawResponse.h"
#include "Result.h"

#include <QList>
#include <QDeadlineTimer>
#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <chrono>
#include <compare>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

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
// A broker that is starting or stopping may answer Metadata, for a moment,
// with no brokers and no topics: such an answer counts as a failed one, and
// the metadata read before stays. When no broker of the metadata answers, a
// refresh asks the configured brokers again, each through a connection of its
// own. The connections follow the addresses of the newest metadata: when it
// places a known broker at another host or port (restarted elsewhere), the
// connection to the old address is closed, so that its waiting requests fail
// as closed, and the next lookup opens one to the new address.
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
//   reopening, retirement or closing of a group, and with it the retired
//   connections and the refresh's connection to a configured broker
//   (refreshConnection), which the destructor closes. Retiring a connection
//   only posts its close (its waiting requests fail later, on the network
//   thread), so it runs under the mutex.
// A lookup reads the broker's address before it takes connectionsMutex; a
// connection that a lookup opened from an address that a refresh replaced
// meanwhile is retired by the next lookup.
// The bootstrap state and the bootstrap attempt are atomic; the remaining
// bootstrap fields belong to the client's thread and the refresh's progress
// (refreshCandidates, refreshFailures, nextConfiguredBroker) to the network
// thread.
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

    // How long a connection to a broker's former address outlives the move.
    // Callers use a connection only for the request they send right after the
    // lookup that handed it out; the grace covers that many times over and
    // bounds what brokers that keep moving leave behind.
    static constexpr std::chrono::milliseconds RetiredConnectionGrace { 60'000 };
    // The group of the connections that every view shares.
    static constexpr std::int32_t SharedConnections = 0;

    // Keeps its own copy of the cluster settings; the connections refer to it.
    // Every connection of the client keeps `limits`.
    KafkaClusterClient(QString clientId, const Config::Cluster& cluster,
        KafkaConnection::Limits limits = KafkaConnection::DefaultLimits);
    // Closes every connection, waits until each has closed and stops the
    // network thread.
    ~KafkaClusterClient() override;

    KafkaClusterClient(const KafkaClusterClient&) = delete;
    KafkaClusterClient& operator=(const KafkaClusterClient&) = delete;

    // Starts the bootstrap; called once.
    void bootstrap();

    // The shared connection to a broker of the metadata, created and started
    // when needed and reopened when it has closed or failed before becoming
    // ready; a new one when the broker has moved to another address. Any
    // thread. The pointer stays valid until the client is destroyed, or, for
    // a broker that has moved, for RetiredConnectionGrace after the move (the
    // connection is closed by then, and requests sent on it fail as closed).
    // With a `group` of openConnectionGroup, the same within that group; such
    // a pointer stays valid until its group is closed.
    Result<KafkaConnection*, Error<KafkaErrorCode>> brokerConnectionForId(
        int brokerId, std::int32_t group = SharedConnections);
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
    // brokers of the metadata in turn (those with a ready connection first),
    // then through the configured brokers, until one answers with at least
    // one broker, and replaces brokers and topics with it. Calls made
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

    // A connection to an address that its broker has left.
    struct RetiredConnection {
        std::unique_ptr<KafkaConnection> connection;
        QDeadlineTimer keptUntil;
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
    bool refreshThroughConfiguredBroker();
    void disposeRefreshConnection();
    void onRefreshAnswer(const QString& host, int port, KafkaResult<KafkaRawResponse>& response);
    void finishRefresh(std::optional<KafkaError> error);

    // Stores the metadata and retires the connections it has moved.
    void storeMetadata(KafkaMetadataResponse& metadata);
    std::optional<KafkaMetadataResponse::Broker> findBroker(std::int32_t brokerId) const;
    void reopenConnection(ConnectionKey key, BrokerConnection& entry);
    void retireMovedConnections();
    // Under connectionsMutex: closes the entry's connection and keeps it
    // among the retired ones; the entry is left without a connection.
    void retireConnection(BrokerConnection& entry);
    // Closes a connection of the client on the network thread, the client no
    // longer hearing from it, and with `destroy` destroys it there next.
    void closeConnection(KafkaConnection& connection, bool destroy);

    const QString clientIdValue;
    const Config::Cluster clusterSettings;
    const KafkaConnection::Limits connectionLimits;
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
    // Index of the configured broker that the refresh asks next once no
    // broker of the metadata has answered.
    int nextConfiguredBroker = 0;

    mutable QMutex connectionsMutex;
    std::map<ConnectionKey, BrokerConnection> connections;
    std::vector<RetiredConnection> retiredConnections;
    std::unique_ptr<KafkaConnection> refreshConnection;
    std::atomic<std::int32_t> nextConnectionGroup { SharedConnections + 1 };
    std::unique_ptr<QThread> networkThread;
    // Lives on the network thread: the context of the refresh's requests.
    std::unique_ptr<QObject> refreshContext;
};
