#include "KafkaRequest.h"

KafkaRequest::KafkaRequest(KafkaApiKey apiKey, std::int32_t correlationId, QString clientId)
{
    header.apiKey = static_cast<std::int16_t>(apiKey);
    header.correlationId = correlationId;
    header.clientId = std::move(clientId);
}

KafkaRequest::~KafkaRequest() = default;

bool KafkaRequest::isAuthenticationRequest() const
{
    return false;
}

std::chrono::milliseconds KafkaRequest::brokerWait() const
{
    return std::chrono::milliseconds(0);
}

std::int64_t KafkaRequest::maxResponseSize() const
{
    return DefaultMaxResponseSize;
}

void KafkaRequest::writeToBuffer(KafkaBuffer& buffer, std::int16_t version) const
{
    const std::int64_t start = buffer.position;
    buffer.position += 4;
    if (buffer.position > buffer.size())
        buffer.data.resize(static_cast<qsizetype>(buffer.position));
    header.writeToBuffer(buffer, isFlexible(version) ? 2 : 1, version);
    writePayloadToBuffer(buffer, version);
    buffer.position = start;
    buffer.writeS32(static_cast<std::int32_t>(buffer.size() - 4 - start));
}
