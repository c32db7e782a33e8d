#pragma once

#include "Error.h"
#include "KafkaProtocolError.h"
#include "KafkaResponse.h"
#include "Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

// The state and members of the groups a coordinator was asked about.
class KafkaDescribeGroupsResponse : public KafkaResponse {
public:
    struct Member {
        QString memberId;
        // From version 4; null when the member has no static instance id.
        QString groupInstanceId;
        QString clientId;
        QString clientHost;
        // Left encoded.
        QByteArray memberMetadata;
        // Decoded by KafkaConsumerProtocolAssignment::parseFromBuffer.
        QByteArray memberAssignment;
    };

    struct Group {
        KafkaProtocolError errorCode = KafkaProtocolError::None;
        QString groupId;
        QString groupState;
        QString protocolType;
        QString protocolData;
        QList<Member> members;
        // From version 3.
        std::int32_t authorizedOperations = 0;
    };

    KafkaDescribeGroupsResponse() = default;
    KafkaDescribeGroupsResponse(const KafkaDescribeGroupsResponse&) = default;
    KafkaDescribeGroupsResponse(KafkaDescribeGroupsResponse&&) = default;
    KafkaDescribeGroupsResponse& operator=(const KafkaDescribeGroupsResponse&) = default;
    KafkaDescribeGroupsResponse& operator=(KafkaDescribeGroupsResponse&&) = default;
    virtual ~KafkaDescribeGroupsResponse() = default;

    std::int32_t throttleTimeMs = 0;
    QList<Group> groups;

    static KafkaResult<KafkaDescribeGroupsResponse> parseFromRaw(KafkaRawResponse& raw);

private:
    static QList<Group> readGroups(KafkaVersionedBuffer& in);
    static QList<Member> readMembers(KafkaVersionedBuffer& in);
};
