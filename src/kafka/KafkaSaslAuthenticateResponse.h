#pragma once

#include "Error.h"
#include "KafkaProtocolError.h"
#include "KafkaResponse.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The wire form every SaslAuthenticate answer shares, whatever the mechanism:
// an error code, a nullable error message and the mechanism's bytes.
class KafkaSaslAuthenticateResponse : public KafkaResponse {
public:
    KafkaSaslAuthenticateResponse() = default;
    KafkaSaslAuthenticateResponse(const KafkaSaslAuthenticateResponse&) = default;
    KafkaSaslAuthenticateResponse(KafkaSaslAuthenticateResponse&&) = default;
    KafkaSaslAuthenticateResponse& operator=(const KafkaSaslAuthenticateResponse&) = default;
    KafkaSaslAuthenticateResponse& operator=(KafkaSaslAuthenticateResponse&&) = default;
    virtual ~KafkaSaslAuthenticateResponse() = default;

    KafkaProtocolError errorCode = KafkaProtocolError::None;
    // Nullable.
    QString errorMessage;
    QByteArray authBytes;

protected:
    // Reads header and fields from the raw answer; a malformed one gives the
    // corrupt-message error with failureMessage.
    std::optional<KafkaError> readFields(KafkaRawResponse& raw, const QString& failureMessage);

    // The broker's refusal as an error (its code mapped, its message kept),
    // or nothing when it accepted.
    std::optional<KafkaError> brokerError() const;
};
