#include "KafkaApiVersionsResponse.h"

#include "KafkaApiVersionsRequest.h"

KafkaResult<KafkaApiVersionsResponse> KafkaApiVersionsResponse::parseFromRaw(KafkaRawResponse& raw)
{
    KafkaVersionedBuffer in = versionedBuffer(raw, KafkaApiVersionsRequest::FirstFlexibleVersion);
    KafkaApiVersionsResponse response;
    response.correlationId = readHeader(in);
    response.errorCode = static_cast<KafkaProtocolError>(in.readErrorCode());
    response.apiKeys = readApiKeys(in);
    response.throttleTimeMs = in.readS32(1);
    if (std::optional<KafkaError> error = checkParsed(raw.buffer, QStringLiteral("Invalid ApiVersions response")))
        return std::move(*error);
    return response;
}

QList<KafkaApiVersionsResponse::ApiKey> KafkaApiVersionsResponse::readApiKeys(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        ApiKey key;
        key.apiKey = b.readS16();
        key.minVersion = b.readS16();
        key.maxVersion = b.readS16();
        return key;
    });
}
