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
