#include "KafkaDescribeGroupsResponse.h"

#include "KafkaDescribeGroupsRequest.h"

KafkaResult<KafkaDescribeGroupsResponse> KafkaDescribeGroupsResponse::parseFromRaw(KafkaRawResponse& raw)
{
    KafkaVersionedBuffer in = versionedBuffer(raw, KafkaDescribeGroupsRequest::FirstFlexibleVersion);
    KafkaDescribeGroupsResponse response;
    response.correlationId = readHeader(in);
    response.throttleTimeMs = in.readS32(1);
    response.groups = readGroups(in);
    if (std::optional<KafkaError> error = checkParsed(raw.buffer, QStringLiteral("Invalid DescribeGroups response")))
        return std::move(*error);
    return response;
}

QList<KafkaDescribeGroupsResponse::Group> KafkaDescribeGroupsResponse::readGroups(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        Group group;
        group.errorCode = static_cast<KafkaProtocolError>(b.readErrorCode());
        group.groupId = b.readString();
        group.groupState = b.readString();
        group.protocolType = b.readString();
        group.protocolData = b.readString();
        group.members = readMembers(b);
        group.authorizedOperations = b.readS32(3);
        return group;
    });
}

QList<KafkaDescribeGroupsResponse::Member> KafkaDescribeGroupsResponse::readMembers(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        Member member;
        member.memberId = b.readString();
        member.groupInstanceId = b.readNullableString(4);
        member.clientId = b.readString();
        member.clientHost = b.readString();
        member.memberMetadata = b.readBytes();
        member.memberAssignment = b.readBytes();
        return member;
    });
}
