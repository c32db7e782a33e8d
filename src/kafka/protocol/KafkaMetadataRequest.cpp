#include "KafkaMetadataRequest.h"

#include "KafkaVersionedBuffer.h"

KafkaMetadataRequest::KafkaMetadataRequest(std::int32_t correlationId, QString clientId,
    std::optional<QStringList> topicNames, bool allowAutoCreation, bool includeClusterOperations,
    bool includeTopicOperations)
    : KafkaRequest(KafkaApiKey::Metadata, correlationId, std::move(clientId))
    , topics(std::move(topicNames))
    , allowAutoTopicCreation(allowAutoCreation)
    , includeClusterAuthorizedOperations(includeClusterOperations)
    , includeTopicAuthorizedOperations(includeTopicOperations)
{
}

void KafkaMetadataRequest::writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const
{
    KafkaVersionedBuffer out(buffer, version, isFlexible(version));
    if (topics)
        out.writeArray(*topics, [](KafkaVersionedBuffer& b, const QString& name) { b.writeString(name); });
    else
        out.writeArrayLength(-1);
    out.writeBool(allowAutoTopicCreation, 4);
    out.writeBool(includeClusterAuthorizedOperations, 8);
    out.writeBool(includeTopicAuthorizedOperations, 8);
}
