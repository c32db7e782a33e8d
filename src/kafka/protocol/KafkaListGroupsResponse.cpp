#include "KafkaListGroupsResponse.h"

#include "KafkaListGroupsRequest.h"

KafkaResult<KafkaListGroupsResponse> KafkaListGroupsResponse::parseFromRaw(KafkaRawResponse& raw)
{
    KafkaVersionedBuffer in = versionedBuffer(raw, KafkaListGroupsRequest::FirstFlexibleVersion);
    KafkaListGroupsResponse response;
    response.correlationId = readHeader(in);
    response.throttleTimeMs = in.readS32(1);
    response.errorCode = static_cast<KafkaProtocolError>(in.readErrorCode());
    response.groups = readGroups(in);
    in.readTaggedFields();
    if (std::optional<KafkaError> error = checkParsed(raw.buffer, QStringLiteral("Invalid ListGroups response")))
        return std::move(*error);
    return response;
}

QList<KafkaListGroupsResponse::Group> KafkaListGroupsResponse::readGroups(KafkaVersionedBuffer& in)
{
    return in.readArray([](KafkaVersionedBuffer& b) {
        Group group;
        group.groupId = b.readString();
        group.protocolType = b.readString();
        group.groupState = b.readString(4);
        b.readTaggedFields();
        return group;
    });
}
