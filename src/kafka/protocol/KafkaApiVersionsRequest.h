#pragma once

#include "KafkaRequest.h"

#include <QString>

#include <cstdint>

// The first request on every connection: asks which versions of each API the
// broker accepts. Its body is empty.
class KafkaApiVersionsRequest final : public KafkaRequest {
public:
    static constexpr std::int16_t MinVersion = 1;
    static constexpr std::int16_t MaxVersion = 1;
    static constexpr std::int16_t FirstFlexibleVersion = 3;

    KafkaApiVersionsRequest(std::int32_t correlationId, QString clientId);

    std::int16_t minSupportedVersion() const override { return MinVersion; }
    std::int16_t maxSupportedVersion() const override { return MaxVersion; }
    std::int16_t firstFlexibleVersion() const override { return FirstFlexibleVersion; }
    void writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const override;
};
