#include "KafkaMetadataResponse.h"

#include "KafkaMetadataRequest.h"

KafkaResult<KafkaMetadataResponse> KafkaMetadataResponse::parseFromRaw(KafkaRawResponse& raw)
{
    KafkaVersionedBuffer in = versionedBuffer(raw, KafkaMetadataRequest::FirstFlexibleVersion);
    KafkaMetadataResponse response;
    response.correlationId = readHeader(in);
    response.throttleTimeMs = in.readS32(3);
    response.brokers = readBrokers(in);
    response.clusterId = in.readNullableString(2);
    response.controllerId = in.readS32(1);
    response.topics = readTopics(in);
    response.clusterAuthorizedOperations = in.readS32(8);
    if (std::optional<KafkaError> error = checkParsed(raw.buffer, QStringLiteral("Invalid Metadata response")))
        return std::move(*error);
    return response;
}

QList<KafkaMetadataResponse::Broker> KafkaMetadataResponse::readBrokers(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        Broker broker;
        broker.nodeId = b.readS32();
        broker.host = b.readString();
        broker.port = b.readS32();
        broker.rack = b.readNullableString(1);
        return broker;
    });
}

QList<KafkaMetadataResponse::Topic> KafkaMetadataResponse::readTopics(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        Topic topic;
        topic.errorCode = static_cast<KafkaProtocolError>(b.readErrorCode());
        topic.name = b.readString();
        topic.isInternal = b.readBool(1);
        topic.partitions = readPartitions(b);
        topic.topicAuthorizedOperations = b.readS32(8);
        return topic;
    });
}

QList<KafkaMetadataResponse::Partition> KafkaMetadataResponse::readPartitions(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        Partition partition;
        partition.errorCode = static_cast<KafkaProtocolError>(b.readErrorCode());
        partition.partitionIndex = b.readS32();
        partition.leaderId = b.readS32();
        partition.leaderEpoch = b.readS32(7);
        partition.replicaNodes = readNodeIds(b);
        partition.isrNodes = readNodeIds(b);
        partition.offlineReplicas = readNodeIds(b, 5);
        return partition;
    });
}

QList<std::int32_t> KafkaMetadataResponse::readNodeIds(KafkaVersionedBuffer& in, std::int16_t minVersion)
{
    return in.readArray([](KafkaVersionedBuffer& b) { return b.readS32(); }, minVersion);
}
