#include "KafkaFetchResponse.h"

#include "KafkaFetchRequest.h"

KafkaResult<KafkaFetchResponse> KafkaFetchResponse::parseFromRaw(KafkaRawResponse& raw)
{
    KafkaVersionedBuffer in = versionedBuffer(raw, KafkaFetchRequest::FirstFlexibleVersion);
    KafkaFetchResponse response;
    response.correlationId = readHeader(in);
    response.throttleTimeMs = in.readS32(1);
    response.errorCode = static_cast<KafkaProtocolError>(in.readErrorCode(7));
    response.sessionId = in.readS32(7);
    response.topics = readTopicResponses(in);
    if (std::optional<KafkaError> error = checkParsed(raw.buffer, QStringLiteral("Invalid Fetch response")))
        return std::move(*error);
    return response;
}

QList<KafkaFetchResponse::Topic> KafkaFetchResponse::readTopicResponses(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        Topic topic;
        topic.topic = b.readString();
        topic.partitions = readPartitionResponses(b);
        return topic;
    });
}

QList<KafkaFetchResponse::Partition> KafkaFetchResponse::readPartitionResponses(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        Partition partition;
        partition.partitionIndex = b.readS32();
        partition.errorCode = static_cast<KafkaProtocolError>(b.readErrorCode());
        partition.highWatermark = b.readS64();
        partition.lastStableOffset = b.readS64(4);
        partition.logStartOffset = b.readS64(5);
        partition.abortedTransactions = readTransactions(b);
        partition.preferredReadReplica = b.readS32(11);
        // Record sets make up most of the response: they are not copied out of it.
        partition.records = b.readSharedBytes();
        return partition;
    });
}

QList<KafkaFetchResponse::Transaction> KafkaFetchResponse::readTransactions(KafkaVersionedBuffer& in)
{
    return in.readArray(
        [](KafkaVersionedBuffer& b) {
            Transaction transaction;
            transaction.producerId = b.readS64();
            transaction.firstOffset = b.readS64();
            return transaction;
        },
        4);
}
