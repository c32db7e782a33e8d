// The committed and latest offsets of the selected group's partitions.
#include "ConsumersWidget.h"

#include "ConsumerAssignmentModel.h"
#include "ErrorBatch.h"
#include "KafkaClusterClient.h"
#include "KafkaConnection.h"
#include "KafkaLatestOffsetsLookup.h"
#include "KafkaOffsetFetchRequest.h"
#include "KafkaOffsetFetchResponse.h"
#include "PartitionBatches.h"

#include <QHash>
#include <QSet>

#include <memory>

namespace {

// Partitions per OffsetFetch request. A committed offset may carry up to 4 KB
// of metadata (the broker's default offset.metadata.max.bytes), so 2,000
// partitions stay below the connection's response limit of 16 MB.
constexpr qsizetype MaxPartitionsPerOffsetFetch = 2000;

// The partitions asked for, by topic; each is answered once.
using Unanswered = QHash<QString, QSet<std::int32_t>>;

// The OffsetFetch answers for one choice of a group: the errors of all of
// them are capped together.
struct OffsetFetchRound {
    ErrorBatch failures;
    qsizetype pendingAnswers = 0;
};

} // namespace

void ConsumersWidget::refreshConsumerOffsets(
    const Selection& selection, const QList<KafkaLatestOffsetsLookup::Topic>& partitions)
{
    Result<KafkaConnection*, KafkaError> connection = clusterClient->brokerConnectionForId(selection.group.coordinatorId);
    if (connection.isError()) {
        showError(connection.error());
        return;
    }
    QList<KafkaOffsetFetchRequest::Topic> topics;
    topics.reserve(partitions.size());
    for (const KafkaLatestOffsetsLookup::Topic& topic : partitions)
        topics.append(KafkaOffsetFetchRequest::Topic { topic.name, topic.partitions });
    KafkaConnection* coordinator = connection.value();
    QList<QList<KafkaOffsetFetchRequest::Topic>> batches
        = partitionBatches(topics, &KafkaOffsetFetchRequest::Topic::partitionIndexes, MaxPartitionsPerOffsetFetch);
    auto round = std::make_shared<OffsetFetchRound>();
    round->pendingAnswers = batches.size();
    for (QList<KafkaOffsetFetchRequest::Topic>& batch : batches) {
        // The partitions asked for are gathered when the answer comes, a
        // batch at a time.
        const QList<KafkaOffsetFetchRequest::Topic> asked = batch;
        coordinator->send(std::make_unique<KafkaOffsetFetchRequest>(coordinator->nextCorrelationId(),
                              clusterClient->clientId(), selection.group.name, std::move(batch), false),
            this, [this, selection, asked, round](KafkaResult<KafkaRawResponse> answer) {
                --round->pendingAnswers;
                Unanswered unanswered = askedPartitions(asked, &KafkaOffsetFetchRequest::Topic::partitionIndexes);
                onOffsetFetchAnswer(selection, unanswered, answer, round->failures);
                if (isSelected(selection)) {
                    appendErrors(
                        round->failures.takeAfterAnswer(round->pendingAnswers, KafkaErrorCode::OffsetFetchError));
                }
            });
    }
}

void ConsumersWidget::onOffsetFetchAnswer(
    const Selection& selection, Unanswered& unanswered, KafkaResult<KafkaRawResponse>& answer, ErrorBatch& failures)
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
    // Partitions that were not asked for, or answered before, are ignored;
    // of the errors of the group's answers the first few are kept.
    QList<PartitionOffset> committed;
    for (const KafkaOffsetFetchResponse::Topic& topic : response.value().topics) {
        const auto asked = unanswered.find(topic.name);
        if (asked == unanswered.end())
            continue;
        for (const KafkaOffsetFetchResponse::Partition& partition : topic.partitions) {
            if (!asked->remove(partition.partitionIndex))
                continue;
            if (partition.errorCode == KafkaProtocolError::None) {
                committed.append(PartitionOffset { topic.name, partition.partitionIndex, partition.committedOffset });
                continue;
            }
            failures.add([&] {
                return KafkaError(KafkaConnection::mapProtocolError(partition.errorCode, KafkaErrorCode::OffsetFetchError),
                    tr("The server returned an error for partition %1-%2 when fetching the offsets for consumer group '%3'")
                        .arg(topic.name)
                        .arg(partition.partitionIndex)
                        .arg(group));
            });
        }
    }
    assignmentModel->setConsumerOffsets(committed);
}

void ConsumersWidget::refreshTopicOffsets(const QList<KafkaLatestOffsetsLookup::Topic>& partitions)
{
    latestOffsets = std::make_unique<KafkaLatestOffsetsLookup>(
        *clusterClient,
        [this](const QList<KafkaLatestOffsetsLookup::Offset>& found) {
            QList<PartitionOffset> latest;
            latest.reserve(found.size());
            for (const KafkaLatestOffsetsLookup::Offset& offset : found)
                latest.append(PartitionOffset { offset.topic, offset.partition, offset.offset });
            assignmentModel->setLastOffsets(latest);
        },
        [this](const QList<KafkaError>& failures) { appendErrors(failures); });
    latestOffsets->start(partitions);
}
