#pragma once

#include "KafkaRequest.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// The SCRAM client-final-message: channel binding of the "n,," header, the
// combined nonce and the client proof.
class KafkaSaslScramFinalRequest final : public KafkaRequest {
public:
    static constexpr std::int16_t MinVersion = 0;
    static constexpr std::int16_t MaxVersion = 0;
    static constexpr std::int16_t FirstFlexibleVersion = 2;

    KafkaSaslScramFinalRequest(std::int32_t correlationId, QString clientId, QString nonce, QByteArray proof);

    std::int16_t minSupportedVersion() const override { return MinVersion; }
    std::int16_t maxSupportedVersion() const override { return MaxVersion; }
    std::int16_t firstFlexibleVersion() const override { return FirstFlexibleVersion; }
    bool isAuthenticationRequest() const override { return true; }
    void writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const override;

    // "c=biws,r=" + nonce: the part of the SCRAM auth message before the proof.
    static QByteArray clientFinalMessageWithoutProof(const QString& nonce);

    // The combined client and server nonce.
    const QString nonce;
    // The raw client proof.
    const QByteArray proof;
};
