#include "KafkaSaslPlainAuthenticateResponse.h"

KafkaResult<KafkaSaslPlainAuthenticateResponse> KafkaSaslPlainAuthenticateResponse::parseFromRaw(
    KafkaRawResponse& raw)
{
    KafkaSaslPlainAuthenticateResponse response;
    if (std::optional<KafkaError> error = response.readFields(raw, QStringLiteral("Invalid SaslAuthenticate response")))
        return std::move(*error);
    return response;
}
