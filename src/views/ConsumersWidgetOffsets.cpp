// The committed and latest offsets of the selected group's partitions.
#include "ConsumersWidget.h"

#include "ConsumerAssignmentModel.h"
#include "IsolationLevel.h"
#include "KafkaClusterClient.h"
#include "KafkaConnection.h"
#include "KafkaListOffsetsRequest.h"
#include "KafkaListOffsetsResponse.h"
#include "KafkaOffsetFetchRequest.h"
#include "KafkaOffsetFetchResponse.h"

#include <QHash>

namespace {

// The distinct topics of the assignments in order of first appearance.
QStringList topicsOf(const QList<ConsumerAssignment>& assignments)
{
    QStringList topics;
    for (const ConsumerAssignment& assignment : assignments) {
        if (!topics.contains(assignment.topic))
            topics.append(assignment.topic);
    }
    return topics;
}

} // namespace

void ConsumersWidget::refreshConsumerOffsets(const Selection& selection, const QList<ConsumerAssignment>& assignments)
{
    Result<KafkaConnection*, KafkaError> connection = clusterClient->brokerConnectionForId(selection.group.coordinatorId);
    if (connection.isError()) {
        showError(connection.error());
        return;
    }
    QList<KafkaOffsetFetchRequest::Topic> topics;
    for (const QString& topic : topicsOf(assignments)) {
        KafkaOffsetFetchRequest::Topic& entry = topics.emplaceBack(KafkaOffsetFetchRequest::Topic { topic, {} });
        for (const ConsumerAssignment& assignment : assignments) {
            if (assignment.topic == topic)
                entry.partitionIndexes.append(assignment.partition);
        }
    }
    KafkaConnection* coordinator = connection.value();
    coordinator->send(std::make_unique<KafkaOffsetFetchRequest>(coordinator->nextCorrelationId(),
                          clusterClient->clientId(), selection.group.name, std::move(topics), false),
        this, [this, selection](KafkaResult<KafkaRawResponse> answer) { onOffsetFetchAnswer(selection, answer); });
}

void ConsumersWidget::onOffsetFetchAnswer(const Selection& selection, KafkaResult<KafkaRawResponse>& answer)
{
    if (!isSelected(selection))
        return;
    if (answer.isError()) {
        showError(answer.error());
        return;
    }
    KafkaResult<KafkaOffsetFetchResponse> response = KafkaOffsetFetchResponse::parseFromRaw(answer.value());
    if (response.isError()) {
        showError(response.error());
        return;
    }
    const QString& group = selection.group.name;
    if (response.value().errorCode != KafkaProtocolError::None) {
        showError(KafkaError(KafkaConnection::mapProtocolError(response.value().errorCode, KafkaErrorCode::OffsetFetchError),
            tr("The server returned an error when fetching the offsets for consumer group '%1'").arg(group)));
        return;
    }
    QList<PartitionOffset> committed;
    for (const KafkaOffsetFetchResponse::Topic& topic : response.value().topics) {
        for (const KafkaOffsetFetchResponse::Partition& partition : topic.partitions) {
            if (partition.errorCode == KafkaProtocolError::None) {
                committed.append(PartitionOffset { topic.name, partition.partitionIndex, partition.committedOffset });
                continue;
            }
            appendError(KafkaError(KafkaConnection::mapProtocolError(partition.errorCode, KafkaErrorCode::OffsetFetchError),
                tr("The server returned an error for partition %1-%2 when fetching the offsets for consumer group '%3'")
                    .arg(topic.name)
                    .arg(partition.partitionIndex)
                    .arg(group)));
        }
    }
    assignmentModel->setConsumerOffsets(committed);
}

void ConsumersWidget::refreshTopicOffsets(const Selection& selection, const QList<ConsumerAssignment>& assignments)
{
    const QList<KafkaMetadataResponse::Broker> brokers = clusterClient->brokers();
    if (brokers.isEmpty())
        return;
    // The partitions by leader, each partition looked up once.
    QHash<std::int32_t, QList<KafkaListOffsetsRequest::Topic>> byLeader;
    for (const QString& topic : topicsOf(assignments)) {
        for (const ConsumerAssignment& assignment : assignments) {
            if (assignment.topic != topic)
                continue;
            Result<KafkaMetadataResponse::Partition, KafkaError> partition
                = clusterClient->findTopicPartition(topic, assignment.partition);
            if (partition.isError()) {
                appendError(partition.error());
                continue;
            }
            if (partition.value().errorCode != KafkaProtocolError::None) {
                appendError(KafkaError(
                    KafkaConnection::mapProtocolError(partition.value().errorCode, KafkaErrorCode::ListOffsetsError),
                    tr("Partition %1-%2 is in a failed state").arg(topic).arg(assignment.partition)));
                continue;
            }
            QList<KafkaListOffsetsRequest::Topic>& topics = byLeader[partition.value().leaderId];
            if (topics.isEmpty() || topics.last().name != topic)
                topics.append(KafkaListOffsetsRequest::Topic { topic, {} });
            topics.last().partitions.append(
                KafkaListOffsetsRequest::Partition { assignment.partition, partition.value().leaderEpoch, -1 });
        }
    }
    for (const KafkaMetadataResponse::Broker& broker : brokers) {
        const auto topics = byLeader.constFind(broker.nodeId);
        if (topics == byLeader.constEnd())
            continue;
        Result<KafkaConnection*, KafkaError> connection = clusterClient->brokerConnectionForId(broker.nodeId);
        if (connection.isError()) {
            appendError(connection.error());
            continue;
        }
        KafkaConnection* leader = connection.value();
        leader->send(std::make_unique<KafkaListOffsetsRequest>(leader->nextCorrelationId(), clusterClient->clientId(), -1,
                         IsolationLevel::ReadUncommitted, *topics),
            this, [this, selection](KafkaResult<KafkaRawResponse> answer) { onListOffsetsAnswer(selection, answer); });
    }
}

void ConsumersWidget::onListOffsetsAnswer(const Selection& selection, KafkaResult<KafkaRawResponse>& answer)
{
    if (!isSelected(selection))
        return;
    if (answer.isError()) {
        appendError(answer.error());
        return;
    }
    KafkaResult<KafkaListOffsetsResponse> response = KafkaListOffsetsResponse::parseFromRaw(answer.value());
    if (response.isError()) {
        appendError(response.error());
        return;
    }
    QList<PartitionOffset> latest;
    for (const KafkaListOffsetsResponse::Topic& topic : response.value().topics) {
        for (const KafkaListOffsetsResponse::Partition& partition : topic.partitions) {
            if (partition.errorCode == KafkaProtocolError::None) {
                latest.append(PartitionOffset { topic.name, partition.partitionIndex, partition.offset });
                continue;
            }
            appendError(KafkaError(KafkaConnection::mapProtocolError(partition.errorCode, KafkaErrorCode::OffsetFetchError),
                tr("The server returned an error for partition %1-%2 when fetching the last topic offsets")
                    .arg(topic.name)
                    .arg(partition.partitionIndex)));
        }
    }
    assignmentModel->setLastOffsets(latest);
}
