#include "KafkaListOffsetsResponse.h"

#include "KafkaListOffsetsRequest.h"

KafkaResult<KafkaListOffsetsResponse> KafkaListOffsetsResponse::parseFromRaw(KafkaRawResponse& raw)
{
    KafkaVersionedBuffer in = versionedBuffer(raw, KafkaListOffsetsRequest::FirstFlexibleVersion);
    KafkaListOffsetsResponse response;
    response.correlationId = readHeader(in);
    response.throttleTimeMs = in.readS32(2);
    response.topics = readTopics(in);
    if (std::optional<KafkaError> error = checkParsed(raw.buffer, QStringLiteral("Invalid ListOffsets response")))
        return std::move(*error);
    return response;
}

QList<KafkaListOffsetsResponse::Topic> KafkaListOffsetsResponse::readTopics(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        Topic topic;
        topic.name = b.readString();
        topic.partitions = readPartitions(b);
        return topic;
    });
}

QList<KafkaListOffsetsResponse::Partition> KafkaListOffsetsResponse::readPartitions(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        Partition partition;
        partition.partitionIndex = b.readS32();
        partition.errorCode = static_cast<KafkaProtocolError>(b.readErrorCode());
        partition.timestamp = b.readS64();
        partition.offset = b.readS64();
        partition.leaderEpoch = b.readS32(4);
        return partition;
    });
}
