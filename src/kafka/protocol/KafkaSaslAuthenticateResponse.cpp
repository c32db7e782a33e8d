#include "KafkaSaslAuthenticateResponse.h"

#include "KafkaSaslPlainAuthenticateRequest.h"

std::optional<KafkaError> KafkaSaslAuthenticateResponse::readFields(KafkaRawResponse& raw, const QString& failureMessage)
{
    // Every SaslAuthenticate request shares one version range.
    KafkaVersionedBuffer in = versionedBuffer(raw, KafkaSaslPlainAuthenticateRequest::FirstFlexibleVersion);
    correlationId = readHeader(in);
    errorCode = static_cast<KafkaProtocolError>(in.readErrorCode());
    errorMessage = in.readNullableString();
    authBytes = in.readBytes();
    return checkParsed(raw.buffer, failureMessage);
}

std::optional<KafkaError> KafkaSaslAuthenticateResponse::brokerError() const
{
    if (errorCode == KafkaProtocolError::None)
        return std::nullopt;
    return KafkaError(mapProtocolError(errorCode, KafkaErrorCode::SaslAuthenticationError), errorMessage);
}
