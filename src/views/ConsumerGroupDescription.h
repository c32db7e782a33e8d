#pragma once

#include "ConsumerAssignmentModel.h"
#include "Error.h"
#include "KafkaLatestOffsetsLookup.h"
#include "KafkaProtocolError.h"
#include "KafkaRawResponse.h"

#include <QList>
#include <QString>

#include <optional>

// What a DescribeGroups or ConsumerGroupDescribe answer says of one group,
// read on any thread: the answer of a group of millions of assigned
// partitions takes a while to decode, and its rows a while to build, sort
// and index, which the consumer groups tab leaves to a worker thread. Holds
// values only.
struct ConsumerGroupDescription {
    // The protocol type of the groups that the consumer groups tab shows.
    static inline const QString ConsumerProtocolType = QStringLiteral("consumer");

    enum class Outcome {
        // State, protocol data and rows below.
        Described,
        // The answer does not list the group, or lists it dead or of another
        // protocol type.
        Gone,
        // Dead without a protocol type to DescribeGroups, which knows only the
        // classic protocol: perhaps a group of the consumer group protocol.
        OtherProtocol,
        // The answer lists the group with `errorCode`.
        Refused,
        // The answer, or a member's assignment, could not be decoded: `error`.
        Undecodable,
    };

    Outcome outcome = Outcome::Gone;
    KafkaProtocolError errorCode = KafkaProtocolError::None;
    std::optional<KafkaError> error;
    QString state;
    QString protocolData;
    // One row per assigned partition, sorted by the partition column.
    ConsumerAssignmentModel::Rows rows;
    // The assigned partitions by topic, topics in order of first appearance
    // and partitions in assignment order, for the offset requests.
    QList<KafkaLatestOffsetsLookup::Topic> partitions;

    // `group` is the group asked for.
    static ConsumerGroupDescription fromDescribeGroups(KafkaRawResponse answer, const QString& group);
    static ConsumerGroupDescription fromConsumerGroupDescribe(KafkaRawResponse answer, const QString& group);
};
