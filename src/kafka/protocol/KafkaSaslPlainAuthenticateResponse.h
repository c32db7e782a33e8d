#pragma once

#include "Error.h"
#include "KafkaProtocolError.h"
#include "KafkaSaslAuthenticateResponse.h"
#include "Result.h"

#include <QByteArray>
#include <QString>

// The broker's answer to PLAIN authentication. The error code is left for the
// caller to test.
class KafkaSaslPlainAuthenticateResponse : public KafkaSaslAuthenticateResponse {
public:
    KafkaSaslPlainAuthenticateResponse() = default;
    KafkaSaslPlainAuthenticateResponse(const KafkaSaslPlainAuthenticateResponse&) = default;
    KafkaSaslPlainAuthenticateResponse(KafkaSaslPlainAuthenticateResponse&&) = default;
    KafkaSaslPlainAuthenticateResponse& operator=(const KafkaSaslPlainAuthenticateResponse&) = default;
    KafkaSaslPlainAuthenticateResponse& operator=(KafkaSaslPlainAuthenticateResponse&&) = default;
    virtual ~KafkaSaslPlainAuthenticateResponse() = default;

    static KafkaResult<KafkaSaslPlainAuthenticateResponse> parseFromRaw(KafkaRawResponse& raw);
};
