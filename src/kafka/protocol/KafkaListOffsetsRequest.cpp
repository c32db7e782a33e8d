#include "KafkaListOffsetsRequest.h"

#include "KafkaVersionedBuffer.h"

KafkaListOffsetsRequest::KafkaListOffsetsRequest(std::int32_t correlationId, QString clientId,
    std::int32_t replica, IsolationLevel isolation, QList<Topic> topicList)
    : KafkaRequest(KafkaApiKey::ListOffsets, correlationId, std::move(clientId))
    , replicaId(replica)
    , isolationLevel(isolation)
    , topics(std::move(topicList))
{
}

void KafkaListOffsetsRequest::writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const
{
    KafkaVersionedBuffer out(buffer, version, isFlexible(version));
    out.writeS32(replicaId);
    out.writeS8(static_cast<std::int8_t>(isolationLevel), 2);
    out.writeArray(topics, [](KafkaVersionedBuffer& b, const Topic& topic) {
        b.writeString(topic.name);
        writePartitionsToBuffer(b, topic.partitions);
    });
}

void KafkaListOffsetsRequest::writePartitionsToBuffer(KafkaVersionedBuffer& out, const QList<Partition>& partitions)
{
    out.writeArray(partitions, [](KafkaVersionedBuffer& b, const Partition& partition) {
        b.writeS32(partition.partitionIndex);
        b.writeS32(partition.currentLeaderEpoch, 4);
        b.writeS64(partition.timestamp);
    });
}
