#include "KafkaRequestHeader.h"

void KafkaRequestHeader::writeToBuffer(KafkaBuffer& buffer, std::int16_t headerVersion, std::int16_t apiVersion) const
{
    buffer.writeS16(apiKey);
    buffer.writeS16(apiVersion);
    buffer.writeS32(correlationId);
    if (headerVersion >= 1)
        buffer.writeString(clientId);
    if (headerVersion >= 2)
        buffer.writeTaggedFields({});
}
