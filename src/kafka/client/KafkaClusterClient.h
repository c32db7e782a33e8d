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
#include <cstdint>
#include <memory>
#include <unordered_map>

class KafkaConnection;
class QThread;

// The handle on one configured cluster. It bootstraps (reads the cluster
// metadata through the first configured broker), keeps the brokers and topics
// of that metadata and hands out one connection per broker id. Every
// connection lives on the client's network thread; the client itself stays on
// the thread that created it.
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

    // Keeps its own copy of the cluster settings; the connections refer to it.
    KafkaClusterClient(QString clientId, const Config::Cluster& cluster);
    // Closes every connection, waits until each has closed and stops the
    // network thread.
    ~KafkaClusterClient() override;

    KafkaClusterClient(const KafkaClusterClient&) = delete;
    KafkaClusterClient& operator=(const KafkaClusterClient&) = delete;

    // Starts the bootstrap; called once.
    void bootstrap();

    // The connection to a broker of the metadata, created and started when
    // needed and reopened when it has closed or failed before becoming ready.
    // Any thread. The pointer stays valid until the client is destroyed.
    Result<KafkaConnection*, Error<KafkaErrorCode>> brokerConnectionForId(int brokerId);
    // A copy of one partition's metadata. Any thread.
    Result<KafkaMetadataResponse::Partition, Error<KafkaErrorCode>> findTopicPartition(
        const QString& topic, int partition) const;
    // The least loaded existing connection, else the first broker's.
    Result<KafkaConnection*, Error<KafkaErrorCode>> findAvailableBrokerConnection();

    BootstrapState bootstrapState() const { return bootstrapStateValue.load(std::memory_order_acquire); }
    // Written once before bootstrapComplete, read only afterwards.
    const QList<KafkaMetadataResponse::Broker>& brokers() const { return brokerList; }
    const QList<KafkaMetadataResponse::Topic>& topics() const { return topicList; }
    const QString& clientId() const { return clientIdValue; }

signals:
    void bootstrapComplete();
    void bootstrapError(KafkaError bootstrapError);
    // Emitted on the network thread for connections of brokerConnectionForId.
    void connectionReady(int32_t brokerId);
    void connectionError(int32_t brokerId, KafkaError connectionError);

private slots:
    void doBootstrap(KafkaResult<KafkaRawResponse>* response);

private:
    struct BrokerConnection {
        std::unique_ptr<KafkaConnection> connection;
        // A reopening has been posted and has not yet run on the network
        // thread; guarded by connectionsMutex.
        bool reopenPending = false;
    };

    void reportBootstrapError(KafkaError error);
    void reopenConnection(std::int32_t brokerId, BrokerConnection& entry);

    const QString clientIdValue;
    const Config::Cluster clusterSettings;
    std::atomic<BootstrapState> bootstrapStateValue { BootstrapState::NotStarted };
    // Set by the first bootstrap failure; later failures are not reported.
    std::atomic<bool> bootstrapFailed { false };
    // Set when destruction begins: a pending reopening then opens nothing.
    std::atomic<bool> closing { false };
    std::unique_ptr<KafkaConnection> bootstrapConnection;
    QList<KafkaMetadataResponse::Broker> brokerList;
    std::int32_t controllerId = -1;
    QList<KafkaMetadataResponse::Topic> topicList;
    mutable QMutex connectionsMutex;
    std::unordered_map<std::int32_t, BrokerConnection> connections;
    std::unique_ptr<QThread> networkThread;
};
