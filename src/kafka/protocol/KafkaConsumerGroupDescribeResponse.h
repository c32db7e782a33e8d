#pragma once

#include "Error.h"
#include "KafkaProtocolError.h"
#include "KafkaResponse.h"
#include "Result.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <cstdint>

// The state, assignor and members of the consumer-protocol groups a
// coordinator was asked about. Every version is flexible.
class KafkaConsumerGroupDescribeResponse : public KafkaResponse {
public:
    struct TopicPartitions {
        QUuid topicId;
        QString topicName;
        QList<std::int32_t> partitions;
    };

    struct Assignment {
        QList<TopicPartitions> topicPartitions;
    };

    struct Member {
        QString memberId;
        // Null when the member has no static instance id.
        QString instanceId;
        // Nullable.
        QString rackId;
        std::int32_t memberEpoch = 0;
        QString clientId;
        QString clientHost;
        QStringList subscribedTopicNames;
        // Nullable.
        QString subscribedTopicRegex;
        // The partitions the member owns now, and those it is to own once
        // the group has settled.
        Assignment assignment;
        Assignment targetAssignment;
        // From version 1: 0 a member of the classic protocol, 1 of the
        // consumer protocol, -1 unknown.
        std::int8_t memberType = -1;
    };

    struct Group {
        KafkaProtocolError errorCode = KafkaProtocolError::None;
        // Nullable.
        QString errorMessage;
        QString groupId;
        QString groupState;
        std::int32_t groupEpoch = 0;
        std::int32_t assignmentEpoch = 0;
        QString assignorName;
        QList<Member> members;
        std::int32_t authorizedOperations = 0;
    };

    KafkaConsumerGroupDescribeResponse() = default;
    KafkaConsumerGroupDescribeResponse(const KafkaConsumerGroupDescribeResponse&) = default;
    KafkaConsumerGroupDescribeResponse(KafkaConsumerGroupDescribeResponse&&) = default;
    KafkaConsumerGroupDescribeResponse& operator=(const KafkaConsumerGroupDescribeResponse&) = default;
    KafkaConsumerGroupDescribeResponse& operator=(KafkaConsumerGroupDescribeResponse&&) = default;
    virtual ~KafkaConsumerGroupDescribeResponse() = default;

    std::int32_t throttleTimeMs = 0;
    QList<Group> groups;

    static KafkaResult<KafkaConsumerGroupDescribeResponse> parseFromRaw(KafkaRawResponse& raw);

private:
    static QList<Group> readGroups(KafkaVersionedBuffer& in);
    static QList<Member> readMembers(KafkaVersionedBuffer& in);
    static Assignment readAssignment(KafkaVersionedBuffer& in);
    static QList<TopicPartitions> readTopicPartitions(KafkaVersionedBuffer& in);
    static QUuid readUuid(KafkaVersionedBuffer& in);
};
