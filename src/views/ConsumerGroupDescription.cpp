#include "ConsumerGroupDescription.h"

#include "KafkaConsumerGroupDescribeResponse.h"
#include "KafkaConsumerProtocolAssignment.h"
#include "KafkaDescribeGroupsResponse.h"

#include <QHash>

#include <algorithm>
#include <utility>

namespace {

const QString DeadState = QStringLiteral("Dead");

using Outcome = ConsumerGroupDescription::Outcome;

template <typename List>
auto findGroup(const List& groups, const QString& name)
{
    return std::find_if(groups.begin(), groups.end(), [&name](const auto& group) { return group.groupId == name; });
}

ConsumerGroupDescription withOutcome(Outcome outcome, KafkaProtocolError errorCode = KafkaProtocolError::None)
{
    ConsumerGroupDescription description;
    description.outcome = outcome;
    description.errorCode = errorCode;
    return description;
}

ConsumerGroupDescription undecodable(KafkaError error)
{
    ConsumerGroupDescription description = withOutcome(Outcome::Undecodable);
    description.error = std::move(error);
    return description;
}

QList<KafkaLatestOffsetsLookup::Topic> partitionsByTopic(const QList<ConsumerAssignment>& assignments)
{
    QList<KafkaLatestOffsetsLookup::Topic> topics;
    QHash<QString, qsizetype> positions;
    qsizetype position = -1;
    for (const ConsumerAssignment& assignment : assignments) {
        // Assignments come in runs of one topic: a run looks it up once.
        if (position < 0 || topics.at(position).name != assignment.topic) {
            auto found = positions.constFind(assignment.topic);
            if (found == positions.constEnd()) {
                found = positions.insert(assignment.topic, topics.size());
                topics.append(KafkaLatestOffsetsLookup::Topic { assignment.topic, {} });
            }
            position = *found;
        }
        topics[position].partitions.append(assignment.partition);
    }
    return topics;
}

ConsumerGroupDescription described(QString state, QString protocolData, QList<ConsumerAssignment> assignments)
{
    ConsumerGroupDescription description = withOutcome(Outcome::Described);
    description.state = std::move(state);
    description.protocolData = std::move(protocolData);
    description.partitions = partitionsByTopic(assignments);
    description.rows = ConsumerAssignmentModel::sortedRows(
        std::move(assignments), ConsumerAssignmentModel::PartitionColumn, Qt::AscendingOrder);
    return description;
}

} // namespace

ConsumerGroupDescription ConsumerGroupDescription::fromDescribeGroups(KafkaRawResponse answer, const QString& name)
{
    KafkaResult<KafkaDescribeGroupsResponse> response = KafkaDescribeGroupsResponse::parseFromRaw(answer);
    if (response.isError())
        return undecodable(response.error());
    const QList<KafkaDescribeGroupsResponse::Group>& groups = response.value().groups;
    const auto group = findGroup(groups, name);
    if (group == groups.end())
        return withOutcome(Outcome::Gone);
    if (group->errorCode != KafkaProtocolError::None)
        return withOutcome(Outcome::Refused, group->errorCode);
    if (group->groupState == DeadState && group->protocolType.isEmpty())
        return withOutcome(Outcome::OtherProtocol);
    if (group->groupState == DeadState || group->protocolType != ConsumerGroupDescription::ConsumerProtocolType)
        return withOutcome(Outcome::Gone);

    QList<KafkaConsumerProtocolAssignment> decoded;
    qsizetype partitions = 0;
    for (const KafkaDescribeGroupsResponse::Member& member : group->members) {
        // A member of a group in the middle of a rebalance has no assignment
        // yet: no bytes, no partitions.
        KafkaBuffer blob(member.memberAssignment);
        KafkaResult<KafkaConsumerProtocolAssignment> assignment = KafkaConsumerProtocolAssignment::parseFromBuffer(blob);
        if (assignment.isError())
            return undecodable(assignment.error());
        for (const KafkaConsumerProtocolAssignment::Topic& topic : assignment.value().topics)
            partitions += topic.partitions.size();
        decoded.append(std::move(assignment.value()));
    }
    QList<ConsumerAssignment> assignments;
    assignments.reserve(partitions);
    for (qsizetype i = 0; i < group->members.size(); ++i) {
        const KafkaDescribeGroupsResponse::Member& member = group->members.at(i);
        for (const KafkaConsumerProtocolAssignment::Topic& topic : decoded.at(i).topics) {
            for (std::int32_t partition : topic.partitions) {
                assignments.append(ConsumerAssignment { member.memberId, member.groupInstanceId, member.clientId,
                    member.clientHost, topic.topic, partition });
            }
        }
    }
    return described(group->groupState, group->protocolData, std::move(assignments));
}

ConsumerGroupDescription ConsumerGroupDescription::fromConsumerGroupDescribe(KafkaRawResponse answer, const QString& name)
{
    KafkaResult<KafkaConsumerGroupDescribeResponse> response = KafkaConsumerGroupDescribeResponse::parseFromRaw(answer);
    if (response.isError())
        return undecodable(response.error());
    const QList<KafkaConsumerGroupDescribeResponse::Group>& groups = response.value().groups;
    const auto group = findGroup(groups, name);
    // Brokers that offer the API without the consumer group protocol turned on
    // answer every group with UNSUPPORTED_VERSION: as to an older
    // coordinator, the group is dead to them.
    if (group == groups.end() || group->errorCode == KafkaProtocolError::GroupIdNotFound
        || group->errorCode == KafkaProtocolError::UnsupportedVersion)
        return withOutcome(Outcome::Gone);
    if (group->errorCode != KafkaProtocolError::None)
        return withOutcome(Outcome::Refused, group->errorCode);
    QList<ConsumerAssignment> assignments;
    for (const KafkaConsumerGroupDescribeResponse::Member& member : group->members) {
        for (const KafkaConsumerGroupDescribeResponse::TopicPartitions& topic : member.assignment.topicPartitions) {
            for (std::int32_t partition : topic.partitions) {
                assignments.append(ConsumerAssignment { member.memberId, member.instanceId, member.clientId,
                    member.clientHost, topic.topicName, partition });
            }
        }
    }
    return described(group->groupState, group->assignorName, std::move(assignments));
}
