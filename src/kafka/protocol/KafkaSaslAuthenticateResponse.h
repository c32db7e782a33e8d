#pragma once

#include "Error.h"
#include "KafkaProtocolError.h"
#include "KafkaResponse.h"
#include "Result.h"

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

    // Parses a mechanism's answer: the fields, the broker's refusal, then the
    // mechanism's attributes read out of authBytes by `parseAttributes`; the
    // first failure is the result.
    template <typename Response>
    static KafkaResult<Response> parseWithAttributes(KafkaRawResponse& raw, const QString& failureMessage,
        std::optional<KafkaError> (Response::*parseAttributes)())
    {
        Response response;
        if (std::optional<KafkaError> error = response.readFields(raw, failureMessage))
            return std::move(*error);
        if (std::optional<KafkaError> error = response.brokerError())
            return std::move(*error);
        if (std::optional<KafkaError> error = (response.*parseAttributes)())
            return std::move(*error);
        return response;
    }
};
