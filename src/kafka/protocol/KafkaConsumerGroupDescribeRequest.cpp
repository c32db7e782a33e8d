#include "KafkaConsumerGroupDescribeRequest.h"

#include "KafkaVersionedBuffer.h"

KafkaConsumerGroupDescribeRequest::KafkaConsumerGroupDescribeRequest(std::int32_t correlationId, QString clientId,
    QStringList groupIds, bool includeOperations)
    : KafkaRequest(KafkaApiKey::ConsumerGroupDescribe, correlationId, std::move(clientId))
    , groups(std::move(groupIds))
    , includeAuthorizedOperations(includeOperations)
{
}

void KafkaConsumerGroupDescribeRequest::writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const
{
    KafkaVersionedBuffer out(buffer, version, isFlexible(version));
    out.writeArray(groups, [](KafkaVersionedBuffer& b, const QString& group) { b.writeString(group); });
    out.writeBool(includeAuthorizedOperations);
    out.writeTaggedFields();
}
