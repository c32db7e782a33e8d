#pragma once

#include "KafkaRequest.h"

#include <QString>
#include <QStringList>

#include <cstdint>

// Asks a broker for the groups it coordinates; from version 4 the answer can
// be limited to groups in the given states (empty: every group).
class KafkaListGroupsRequest final : public KafkaRequest {
public:
    static constexpr std::int16_t MinVersion = 0;
    static constexpr std::int16_t MaxVersion = 4;
    static constexpr std::int16_t FirstFlexibleVersion = 3;

    KafkaListGroupsRequest(std::int32_t correlationId, QString clientId, QStringList statesFilter);

    std::int16_t minSupportedVersion() const override { return MinVersion; }
    std::int16_t maxSupportedVersion() const override { return MaxVersion; }
    std::int16_t firstFlexibleVersion() const override { return FirstFlexibleVersion; }
    void writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const override;

    const QStringList statesFilter;
};
