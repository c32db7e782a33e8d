#include "KafkaOffsetFetchRequest.h"

KafkaOffsetFetchRequest::KafkaOffsetFetchRequest(std::int32_t correlationId, QString clientId, QString group,
    QList<Topic> topicList, bool stable)
    : KafkaRequest(KafkaApiKey::OffsetFetch, correlationId, std::move(clientId))
    , groupId(std::move(group))
    , topics(std::move(topicList))
    , requireStable(stable)
{
}

void KafkaOffsetFetchRequest::writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const
{
    KafkaVersionedBuffer out(buffer, version, isFlexible(version));
    out.writeString(groupId);
    writeTopicsToBuffer(out, topics);
    out.writeBool(requireStable, 7);
    out.writeTaggedFields();
}

void KafkaOffsetFetchRequest::writeTopicsToBuffer(KafkaVersionedBuffer& out, const QList<Topic>& topics)
{
    out.writeArray(topics, [](KafkaVersionedBuffer& b, const Topic& topic) {
        b.writeString(topic.name);
        b.writeArray(topic.partitionIndexes, [](KafkaVersionedBuffer& p, std::int32_t index) { p.writeS32(index); });
        b.writeTaggedFields();
    });
}
