#pragma once

#include "IsolationLevel.h"
#include "KafkaRequest.h"
#include "KafkaVersionedBuffer.h"

#include <QList>
#include <QString>

#include <cstdint>

// Reads records of partitions from their leader, starting at given offsets.
class KafkaFetchRequest final : public KafkaRequest {
public:
    static constexpr std::int16_t MinVersion = 4;
    static constexpr std::int16_t MaxVersion = 11;
    static constexpr std::int16_t FirstFlexibleVersion = 12;

    // A broker sends the first record batch of the first partition with
    // records whole, however far it exceeds maxBytes and partitionMaxBytes,
    // so that a reader always makes progress. Such a batch was produced in
    // one request, and a broker takes no request above 100 MiB unless its
    // socket.request.max.bytes is raised.
    static constexpr std::int64_t MaxFirstBatchSize = 100 * 1024 * 1024;
    // Room for the topic and partition headers and the aborted transaction
    // lists beside the records.
    static constexpr std::int64_t ResponseHeadroom = 4 * 1024 * 1024;
    // No Fetch answer above this is taken, whatever the request's limits.
    static constexpr std::int64_t MaxResponseSizeCap = 256 * 1024 * 1024;

    struct Partition {
        std::int32_t partition = 0;
        std::int32_t currentLeaderEpoch = 0;
        std::int64_t fetchOffset = 0;
        std::int64_t logStartOffset = 0;
        std::int32_t partitionMaxBytes = 0;
    };

    struct Topic {
        QString topic;
        QList<Partition> partitions;
    };

    // Partitions to drop from an incremental fetch session.
    struct ForgottenTopic {
        QString topic;
        QList<std::int32_t> partitions;
    };

    KafkaFetchRequest(std::int32_t correlationId, QString clientId, std::int32_t replicaId, std::int32_t maxWaitMs,
        std::int32_t minBytes, std::int32_t maxBytes, IsolationLevel isolationLevel, std::int32_t sessionId,
        std::int32_t sessionEpoch, QList<Topic> topics, QList<ForgottenTopic> forgottenTopics, QString rackId);

    std::int16_t minSupportedVersion() const override { return MinVersion; }
    std::int16_t maxSupportedVersion() const override { return MaxVersion; }
    std::int16_t firstFlexibleVersion() const override { return FirstFlexibleVersion; }
    void writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const override;
    // maxWaitMs.
    std::chrono::milliseconds brokerWait() const override;
    // maxBytes + MaxFirstBatchSize + ResponseHeadroom, at most MaxResponseSizeCap.
    std::int64_t maxResponseSize() const override;

    static void writePartitionsToBuffer(KafkaVersionedBuffer& out, const QList<Partition>& partitions);
    static void writePartitionIdsToBuffer(KafkaVersionedBuffer& out, const QList<std::int32_t>& partitions);

    const std::int32_t replicaId;
    const std::int32_t maxWaitMs;
    const std::int32_t minBytes;
    const std::int32_t maxBytes;
    const IsolationLevel isolationLevel;
    const std::int32_t sessionId;
    const std::int32_t sessionEpoch;
    const QList<Topic> topics;
    const QList<ForgottenTopic> forgottenTopics;
    const QString rackId;
};
