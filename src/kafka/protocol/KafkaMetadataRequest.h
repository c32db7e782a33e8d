#pragma once

#include "KafkaRequest.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// Asks for the cluster's brokers and topics. Without a topic list the broker
// describes every topic.
class KafkaMetadataRequest final : public KafkaRequest {
public:
    static constexpr std::int16_t MinVersion = 1;
    static constexpr std::int16_t MaxVersion = 8;
    static constexpr std::int16_t FirstFlexibleVersion = 9;
    // About 50 bytes per partition with three replicas: room for over a
    // million partitions.
    static constexpr std::int64_t MaxResponseSize = 64 * 1024 * 1024;

    KafkaMetadataRequest(std::int32_t correlationId, QString clientId, std::optional<QStringList> topics,
        bool allowAutoTopicCreation, bool includeClusterAuthorizedOperations, bool includeTopicAuthorizedOperations);

    std::int16_t minSupportedVersion() const override { return MinVersion; }
    std::int16_t maxSupportedVersion() const override { return MaxVersion; }
    std::int16_t firstFlexibleVersion() const override { return FirstFlexibleVersion; }
    void writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const override;
    std::int64_t maxResponseSize() const override { return MaxResponseSize; }

    // Absent: all topics.
    const std::optional<QStringList> topics;
    const bool allowAutoTopicCreation;
    const bool includeClusterAuthorizedOperations;
    const bool includeTopicAuthorizedOperations;
};
