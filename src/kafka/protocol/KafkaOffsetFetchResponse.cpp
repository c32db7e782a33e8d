#include "KafkaOffsetFetchResponse.h"

#include "KafkaOffsetFetchRequest.h"

KafkaResult<KafkaOffsetFetchResponse> KafkaOffsetFetchResponse::parseFromRaw(KafkaRawResponse& raw)
{
    KafkaVersionedBuffer in = versionedBuffer(raw, KafkaOffsetFetchRequest::FirstFlexibleVersion);
    KafkaOffsetFetchResponse response;
    response.correlationId = readHeader(in);
    response.throttleTimeMs = in.readS32(3);
    response.topics = readTopics(in);
    response.errorCode = static_cast<KafkaProtocolError>(in.readErrorCode(2));
    in.readTaggedFields();
    if (std::optional<KafkaError> error = checkParsed(raw.buffer, QStringLiteral("Invalid OffsetFetch response")))
        return std::move(*error);
    return response;
}

QList<KafkaOffsetFetchResponse::Topic> KafkaOffsetFetchResponse::readTopics(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        Topic topic;
        topic.name = b.readString();
        topic.partitions = readPartitions(b);
        b.readTaggedFields();
        return topic;
    });
}

QList<KafkaOffsetFetchResponse::Partition> KafkaOffsetFetchResponse::readPartitions(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        Partition partition;
        partition.partitionIndex = b.readS32();
        partition.committedOffset = b.readS64();
        partition.committedLeaderEpoch = b.readS32(5);
        partition.metadata = b.readNullableString();
        partition.errorCode = static_cast<KafkaProtocolError>(b.readErrorCode());
        b.readTaggedFields();
        return partition;
    });
}
