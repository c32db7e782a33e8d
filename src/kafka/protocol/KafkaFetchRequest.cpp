#include "KafkaFetchRequest.h"

#include <algorithm>

KafkaFetchRequest::KafkaFetchRequest(std::int32_t correlationId, QString clientId, std::int32_t replica,
    std::int32_t maxWait, std::int32_t minimumBytes, std::int32_t maximumBytes, IsolationLevel isolation,
    std::int32_t session, std::int32_t epoch, QList<Topic> topicList, QList<ForgottenTopic> forgottenList,
    QString rack)
    : KafkaRequest(KafkaApiKey::Fetch, correlationId, std::move(clientId))
    , replicaId(replica)
    , maxWaitMs(maxWait)
    , minBytes(minimumBytes)
    , maxBytes(maximumBytes)
    , isolationLevel(isolation)
    , sessionId(session)
    , sessionEpoch(epoch)
    , topics(std::move(topicList))
    , forgottenTopics(std::move(forgottenList))
    , rackId(std::move(rack))
{
}

void KafkaFetchRequest::writePayloadToBuffer(KafkaBuffer& buffer, std::int16_t version) const
{
    KafkaVersionedBuffer out(buffer, version, isFlexible(version));
    out.writeS32(replicaId);
    out.writeS32(maxWaitMs);
    out.writeS32(minBytes);
    out.writeS32(maxBytes, 3);
    out.writeS8(static_cast<std::int8_t>(isolationLevel), 4);
    out.writeS32(sessionId, 7);
    out.writeS32(sessionEpoch, 7);
    out.writeArray(topics, [](KafkaVersionedBuffer& b, const Topic& topic) {
        b.writeString(topic.topic);
        writePartitionsToBuffer(b, topic.partitions);
    });
    out.writeArray(
        forgottenTopics,
        [](KafkaVersionedBuffer& b, const ForgottenTopic& forgotten) {
            b.writeString(forgotten.topic);
            writePartitionIdsToBuffer(b, forgotten.partitions);
        },
        7);
    out.writeString(rackId, 11);
}

std::chrono::milliseconds KafkaFetchRequest::brokerWait() const
{
    return std::chrono::milliseconds(std::max(maxWaitMs, 0));
}

std::int64_t KafkaFetchRequest::maxResponseSize() const
{
    return std::min(std::max<std::int64_t>(maxBytes, 0) + MaxFirstBatchSize + ResponseHeadroom, MaxResponseSizeCap);
}

void KafkaFetchRequest::writePartitionsToBuffer(KafkaVersionedBuffer& out, const QList<Partition>& partitions)
{
    out.writeArray(partitions, [](KafkaVersionedBuffer& b, const Partition& partition) {
        b.writeS32(partition.partition);
        b.writeS32(partition.currentLeaderEpoch, 9);
        b.writeS64(partition.fetchOffset);
        b.writeS64(partition.logStartOffset, 5);
        b.writeS32(partition.partitionMaxBytes);
    });
}

void KafkaFetchRequest::writePartitionIdsToBuffer(KafkaVersionedBuffer& out, const QList<std::int32_t>& partitions)
{
    out.writeArray(partitions, [](KafkaVersionedBuffer& b, std::int32_t partition) { b.writeS32(partition); });
}
