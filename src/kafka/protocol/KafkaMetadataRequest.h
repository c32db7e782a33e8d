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

    KafkaMetadataRequest(std::int32_t correlationId, QString clientId, std::optional<QStringList> topics,
        bool allowAutoTopicCreation, bool includeClusterAuthorizedOperations, bool includeTopicAuthorizedOperations);

    std::int16_t minSupportedVersion() const override { return MinVersion; }
    std::int16_t maxSupportedVersion() const override { return MaxVersion; }
    std::int16_t firstFlexibleVersion() const override { return FirstFlexibleVersion; }
    void writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const override;

    // Absent: all topics.
    const std::optional<QStringList> topics;
    const bool allowAutoTopicCreation;
    const bool includeClusterAuthorizedOperations;
    const bool includeTopicAuthorizedOperations;
};
