#pragma once

#include "KafkaRequest.h"

#include <QString>

#include <cstdint>

// Authenticates with the PLAIN mechanism: the authorization id, user name and
// password in one message.
class KafkaSaslPlainAuthenticateRequest final : public KafkaRequest {
public:
    static constexpr std::int16_t MinVersion = 0;
    static constexpr std::int16_t MaxVersion = 0;
    static constexpr std::int16_t FirstFlexibleVersion = 2;

    KafkaSaslPlainAuthenticateRequest(std::int32_t correlationId, QString clientId, QString authorizationId,
        QString username, QString password);

    std::int16_t minSupportedVersion() const override { return MinVersion; }
    std::int16_t maxSupportedVersion() const override { return MaxVersion; }
    std::int16_t firstFlexibleVersion() const override { return FirstFlexibleVersion; }
    bool isAuthenticationRequest() const override { return true; }
    void writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const override;

    const QString authorizationId;
    const QString username;
    const QString password;
};
