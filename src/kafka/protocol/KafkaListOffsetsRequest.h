#pragma once

#include "IsolationLevel.h"
#include "KafkaRequest.h"
#include "KafkaVersionedBuffer.h"

#include <QList>
#include <QString>

#include <cstdint>

// Asks, per partition, for the offset that belongs to a timestamp: -1 asks
// for the latest offset, -2 for the earliest.
class KafkaListOffsetsRequest final : public KafkaRequest {
public:
    static constexpr std::int16_t MinVersion = 1;
    static constexpr std::int16_t MaxVersion = 5;
    static constexpr std::int16_t FirstFlexibleVersion = 6;

    struct Partition {
        std::int32_t partitionIndex = 0;
        std::int32_t currentLeaderEpoch = 0;
        // Milliseconds since the epoch, or -1 latest, -2 earliest.
        std::int64_t timestamp = 0;
    };

    struct Topic {
        QString name;
        QList<Partition> partitions;
    };

    KafkaListOffsetsRequest(std::int32_t correlationId, QString clientId, std::int32_t replicaId,
        IsolationLevel isolationLevel, QList<Topic> topics);

    std::int16_t minSupportedVersion() const override { return MinVersion; }
    std::int16_t maxSupportedVersion() const override { return MaxVersion; }
    std::int16_t firstFlexibleVersion() const override { return FirstFlexibleVersion; }
    void writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const override;

    static void writePartitionsToBuffer(KafkaVersionedBuffer& out, const QList<Partition>& partitions);

    const std::int32_t replicaId;
    const IsolationLevel isolationLevel;
    const QList<Topic> topics;
};
