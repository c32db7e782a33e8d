#include "KafkaSaslHandshakeRequest.h"

KafkaSaslHandshakeRequest::KafkaSaslHandshakeRequest(std::int32_t correlationId, QString clientId, QString name)
    : KafkaRequest(KafkaApiKey::SaslHandshake, correlationId, std::move(clientId))
    , mechanism(std::move(name))
{
}

void KafkaSaslHandshakeRequest::writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t) const
{
    buffer.writeString(mechanism);
}
