#include "KafkaConsumerGroupDescribeResponse.h"

#include "KafkaConsumerGroupDescribeRequest.h"

KafkaResult<KafkaConsumerGroupDescribeResponse> KafkaConsumerGroupDescribeResponse::parseFromRaw(KafkaRawResponse& raw)
{
    KafkaVersionedBuffer in = versionedBuffer(raw, KafkaConsumerGroupDescribeRequest::FirstFlexibleVersion);
    KafkaConsumerGroupDescribeResponse response;
    response.correlationId = readHeader(in);
    response.throttleTimeMs = in.readS32();
    response.groups = readGroups(in);
    in.readTaggedFields();
    if (std::optional<KafkaError> error
        = checkParsed(raw.buffer, QStringLiteral("Invalid ConsumerGroupDescribe response")))
        return std::move(*error);
    return response;
}

QList<KafkaConsumerGroupDescribeResponse::Group> KafkaConsumerGroupDescribeResponse::readGroups(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        Group group;
        group.errorCode = static_cast<KafkaProtocolError>(b.readErrorCode());
        group.errorMessage = b.readNullableString();
        group.groupId = b.readString();
        group.groupState = b.readString();
        group.groupEpoch = b.readS32();
        group.assignmentEpoch = b.readS32();
        group.assignorName = b.readString();
        group.members = readMembers(b);
        group.authorizedOperations = b.readS32();
        b.readTaggedFields();
        return group;
    });
}

QList<KafkaConsumerGroupDescribeResponse::Member> KafkaConsumerGroupDescribeResponse::readMembers(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        Member member;
        member.memberId = b.readString();
        member.instanceId = b.readNullableString();
        member.rackId = b.readNullableString();
        member.memberEpoch = b.readS32();
        member.clientId = b.readString();
        member.clientHost = b.readString();
        member.subscribedTopicNames = b.readArray([](KafkaVersionedBuffer& names) { return names.readString(); });
        member.subscribedTopicRegex = b.readNullableString();
        member.assignment = readAssignment(b);
        member.targetAssignment = readAssignment(b);
        member.memberType = b.has(1) ? b.readS8(1) : std::int8_t(-1);
        b.readTaggedFields();
        return member;
    });
}

KafkaConsumerGroupDescribeResponse::Assignment KafkaConsumerGroupDescribeResponse::readAssignment(KafkaVersionedBuffer& in)
{
    Assignment assignment;
    assignment.topicPartitions = readTopicPartitions(in);
    in.readTaggedFields();
    return assignment;
}

QList<KafkaConsumerGroupDescribeResponse::TopicPartitions> KafkaConsumerGroupDescribeResponse::readTopicPartitions(
    KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        TopicPartitions topic;
        topic.topicId = readUuid(b);
        topic.topicName = b.readString();
        topic.partitions = b.readArray([](KafkaVersionedBuffer& p) { return p.readS32(); });
        b.readTaggedFields();
        return topic;
    });
}

QUuid KafkaConsumerGroupDescribeResponse::readUuid(KafkaVersionedBuffer& in)
{
    // 16 bytes, most significant first; a short read leaves the null id and
    // is counted as overrun.
    return QUuid::fromRfc4122(in.buffer.readRawBytes(16));
}
