#pragma once

#include "KafkaRequest.h"
#include "KafkaVersionedBuffer.h"

#include <QList>
#include <QString>

#include <cstdint>

// Asks a group coordinator for the offsets a group has committed on the given
// partitions.
class KafkaOffsetFetchRequest final : public KafkaRequest {
public:
    static constexpr std::int16_t MinVersion = 0;
    static constexpr std::int16_t MaxVersion = 7;
    static constexpr std::int16_t FirstFlexibleVersion = 6;

    struct Topic {
        QString name;
        QList<std::int32_t> partitionIndexes;
    };

    KafkaOffsetFetchRequest(std::int32_t correlationId, QString clientId, QString groupId, QList<Topic> topics,
        bool requireStable);

    std::int16_t minSupportedVersion() const override { return MinVersion; }
    std::int16_t maxSupportedVersion() const override { return MaxVersion; }
    std::int16_t firstFlexibleVersion() const override { return FirstFlexibleVersion; }
    void writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const override;

    // Writes a topic list as the request carries it: always an explicit list
    // (count 0 when empty), never the null list that means every topic.
    static void writeTopicsToBuffer(KafkaVersionedBuffer& out, const QList<Topic>& topics);

    const QString groupId;
    const QList<Topic> topics;
    // Written from version 7.
    const bool requireStable;
};
