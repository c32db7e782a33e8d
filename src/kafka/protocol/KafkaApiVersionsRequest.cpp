#include "KafkaApiVersionsRequest.h"

KafkaApiVersionsRequest::KafkaApiVersionsRequest(std::int32_t correlationId, QString clientId)
    : KafkaRequest(KafkaApiKey::ApiVersions, correlationId, std::move(clientId))
{
}

void KafkaApiVersionsRequest::writePayloadToBuffer(KafkaBuffer&, std::int16_t) const
{
}
