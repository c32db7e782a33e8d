#include "KafkaSaslHandshakeResponse.h"

#include "KafkaSaslHandshakeRequest.h"

KafkaResult<KafkaSaslHandshakeResponse> KafkaSaslHandshakeResponse::parseFromRaw(KafkaRawResponse& raw)
{
    KafkaVersionedBuffer in = versionedBuffer(raw, KafkaSaslHandshakeRequest::FirstFlexibleVersion);
    KafkaSaslHandshakeResponse response;
    response.correlationId = readHeader(in);
    response.errorCode = static_cast<KafkaProtocolError>(in.readErrorCode());
    response.mechanisms = in.readArray([](KafkaVersionedBuffer& b) { return b.readString(); });
    if (std::optional<KafkaError> error = checkParsed(raw.buffer, QStringLiteral("Invalid SaslHandshake response")))
        return std::move(*error);
    return response;
}
