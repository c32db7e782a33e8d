#pragma once

#include "Error.h"
#include "KafkaProtocolError.h"
#include "KafkaSaslAuthenticateResponse.h"
#include "Result.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

// The SCRAM server-first-message with its attributes decoded. A broker error
// or a malformed message makes the parse fail.
class KafkaSaslScramFirstResponse : public KafkaSaslAuthenticateResponse {
public:
    KafkaSaslScramFirstResponse() = default;
    KafkaSaslScramFirstResponse(const KafkaSaslScramFirstResponse&) = default;
    KafkaSaslScramFirstResponse(KafkaSaslScramFirstResponse&&) = default;
    KafkaSaslScramFirstResponse& operator=(const KafkaSaslScramFirstResponse&) = default;
    KafkaSaslScramFirstResponse& operator=(KafkaSaslScramFirstResponse&&) = default;
    virtual ~KafkaSaslScramFirstResponse() = default;

    // The combined client and server nonce ("r=").
    QString nonce;
    // "s=", decoded from Base64.
    QByteArray salt;
    // "i=".
    std::int32_t iterationCount = 0;

    static KafkaResult<KafkaSaslScramFirstResponse> parseFromRaw(KafkaRawResponse& raw);

private:
    // Reads nonce, salt and iteration count out of authBytes.
    std::optional<KafkaError> parseAttributes();
};
