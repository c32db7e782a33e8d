#pragma once

#include "KafkaRequest.h"

#include <QString>

#include <cstdint>

// Names the SASL mechanism the client wants to authenticate with.
class KafkaSaslHandshakeRequest final : public KafkaRequest {
public:
    static constexpr std::int16_t MinVersion = 1;
    static constexpr std::int16_t MaxVersion = 1;
    static constexpr std::int16_t FirstFlexibleVersion = -1;

    // mechanism: "PLAIN", "SCRAM-SHA-256" or "SCRAM-SHA-512".
    KafkaSaslHandshakeRequest(std::int32_t correlationId, QString clientId, QString mechanism);

    std::int16_t minSupportedVersion() const override { return MinVersion; }
    std::int16_t maxSupportedVersion() const override { return MaxVersion; }
    std::int16_t firstFlexibleVersion() const override { return FirstFlexibleVersion; }
    bool isAuthenticationRequest() const override { return true; }
    void writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const override;

    const QString mechanism;
};
