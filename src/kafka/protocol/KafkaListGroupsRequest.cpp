#include "KafkaListGroupsRequest.h"

#include "KafkaVersionedBuffer.h"

KafkaListGroupsRequest::KafkaListGroupsRequest(std::int32_t correlationId, QString clientId, QStringList states)
    : KafkaRequest(KafkaApiKey::ListGroups, correlationId, std::move(clientId))
    , statesFilter(std::move(states))
{
}

void KafkaListGroupsRequest::writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const
{
    KafkaVersionedBuffer out(buffer, version, isFlexible(version));
    out.writeArray(
        statesFilter, [](KafkaVersionedBuffer& b, const QString& state) { b.writeString(state); }, 4);
    out.writeTaggedFields();
}
