#pragma once

#include "Error.h"
#include "KafkaProtocolError.h"
#include "KafkaResponse.h"
#include "Result.h"

#include <QList>
#include <QMetaType>
#include <QString>

#include <cstdint>

// The cluster's brokers and topics with their partitions and leaders.
class KafkaMetadataResponse : public KafkaResponse {
public:
    struct Broker {
        std::int32_t nodeId = 0;
        QString host;
        std::int32_t port = 0;
        // From version 1; may be null.
        QString rack;
    };

    struct Partition {
        // Non-zero when the partition cannot be served.
        KafkaProtocolError errorCode = KafkaProtocolError::None;
        std::int32_t partitionIndex = 0;
        // The broker that serves the partition.
        std::int32_t leaderId = 0;
        // From version 7; sent back as the current leader epoch of fetches
        // and offset lookups.
        std::int32_t leaderEpoch = 0;
        QList<std::int32_t> replicaNodes;
        QList<std::int32_t> isrNodes;
        // From version 5.
        QList<std::int32_t> offlineReplicas;
    };

    struct Topic {
        KafkaProtocolError errorCode = KafkaProtocolError::None;
        QString name;
        // From version 1.
        bool isInternal = false;
        QList<Partition> partitions;
        // From version 8.
        std::int32_t topicAuthorizedOperations = 0;
    };

    KafkaMetadataResponse() = default;
    KafkaMetadataResponse(const KafkaMetadataResponse&) = default;
    KafkaMetadataResponse(KafkaMetadataResponse&&) = default;
    KafkaMetadataResponse& operator=(const KafkaMetadataResponse&) = default;
    KafkaMetadataResponse& operator=(KafkaMetadataResponse&&) = default;
    virtual ~KafkaMetadataResponse() = default;

    // From version 3.
    std::int32_t throttleTimeMs = 0;
    QList<Broker> brokers;
    // From version 2; may be null.
    QString clusterId;
    // From version 1.
    std::int32_t controllerId = 0;
    // In the order the broker sent them.
    QList<Topic> topics;
    // From version 8.
    std::int32_t clusterAuthorizedOperations = 0;

    static KafkaResult<KafkaMetadataResponse> parseFromRaw(KafkaRawResponse& raw);
    static QList<Broker> readBrokers(KafkaVersionedBuffer& in);
    static QList<Topic> readTopics(KafkaVersionedBuffer& in);
    static QList<Partition> readPartitions(KafkaVersionedBuffer& in);
    static QList<std::int32_t> readNodeIds(KafkaVersionedBuffer& in, std::int16_t minVersion = 0);
};

Q_DECLARE_METATYPE(KafkaMetadataResponse)
