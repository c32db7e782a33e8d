#pragma once

#include "KafkaRequest.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// Asks a group coordinator for the state, assignor and members of groups of
// the consumer group protocol (the one where the coordinator assigns the
// partitions), which DescribeGroups reports as Dead.
class KafkaConsumerGroupDescribeRequest final : public KafkaRequest {
public:
    static constexpr std::int16_t MinVersion = 0;
    static constexpr std::int16_t MaxVersion = 1;
    static constexpr std::int16_t FirstFlexibleVersion = 0;

    KafkaConsumerGroupDescribeRequest(std::int32_t correlationId, QString clientId, QStringList groups,
        bool includeAuthorizedOperations);

    std::int16_t minSupportedVersion() const override { return MinVersion; }
    std::int16_t maxSupportedVersion() const override { return MaxVersion; }
    std::int16_t firstFlexibleVersion() const override { return FirstFlexibleVersion; }
    void writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const override;

    const QStringList groups;
    const bool includeAuthorizedOperations;
};
