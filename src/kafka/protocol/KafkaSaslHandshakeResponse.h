#pragma once

#include "Error.h"
#include "KafkaProtocolError.h"
#include "KafkaResponse.h"
#include "Result.h"

#include <QList>
#include <QString>

// Whether the broker accepts the mechanism, and the mechanisms it enables.
// The error code is left for the caller to test.
class KafkaSaslHandshakeResponse : public KafkaResponse {
public:
    KafkaSaslHandshakeResponse() = default;
    KafkaSaslHandshakeResponse(const KafkaSaslHandshakeResponse&) = default;
    KafkaSaslHandshakeResponse(KafkaSaslHandshakeResponse&&) = default;
    KafkaSaslHandshakeResponse& operator=(const KafkaSaslHandshakeResponse&) = default;
    KafkaSaslHandshakeResponse& operator=(KafkaSaslHandshakeResponse&&) = default;
    virtual ~KafkaSaslHandshakeResponse() = default;

    KafkaProtocolError errorCode = KafkaProtocolError::None;
    QList<QString> mechanisms;

    static KafkaResult<KafkaSaslHandshakeResponse> parseFromRaw(KafkaRawResponse& raw);
};
