#pragma once

#include "KafkaRequest.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// The SCRAM client-first-message: GS2 header "n,," (no channel binding, no
// authorization identity) followed by the bare message with the user name and
// the client nonce.
class KafkaSaslScramFirstRequest final : public KafkaRequest {
public:
    static constexpr std::int16_t MinVersion = 0;
    static constexpr std::int16_t MaxVersion = 0;
    static constexpr std::int16_t FirstFlexibleVersion = 2;

    KafkaSaslScramFirstRequest(std::int32_t correlationId, QString clientId, QString username, QString nonce);

    std::int16_t minSupportedVersion() const override { return MinVersion; }
    std::int16_t maxSupportedVersion() const override { return MaxVersion; }
    std::int16_t firstFlexibleVersion() const override { return FirstFlexibleVersion; }
    bool isAuthenticationRequest() const override { return true; }
    void writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const override;

    const QString username;
    // The client nonce.
    const QString nonce;
    // "n=" + escaped user name + ",r=" + nonce; part of the SCRAM auth message.
    const QByteArray clientFirstMessageBare;
};
