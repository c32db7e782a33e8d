#pragma once

#include "Error.h"
#include "KafkaProtocolError.h"
#include "KafkaSaslAuthenticateResponse.h"
#include "Result.h"

#include <QByteArray>
#include <QString>

// The SCRAM server-final-message with the server signature decoded. A broker
// error, a SCRAM error attribute or a malformed message makes the parse fail.
class KafkaSaslScramFinalResponse : public KafkaSaslAuthenticateResponse {
public:
    KafkaSaslScramFinalResponse() = default;
    KafkaSaslScramFinalResponse(const KafkaSaslScramFinalResponse&) = default;
    KafkaSaslScramFinalResponse(KafkaSaslScramFinalResponse&&) = default;
    KafkaSaslScramFinalResponse& operator=(const KafkaSaslScramFinalResponse&) = default;
    KafkaSaslScramFinalResponse& operator=(KafkaSaslScramFinalResponse&&) = default;
    virtual ~KafkaSaslScramFinalResponse() = default;

    // "v=", decoded from Base64.
    QByteArray serverSignature;

    static KafkaResult<KafkaSaslScramFinalResponse> parseFromRaw(KafkaRawResponse& raw);

private:
    // Reads the server signature out of authBytes.
    std::optional<KafkaError> parseAttributes();
};
