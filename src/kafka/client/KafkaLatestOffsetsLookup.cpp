#include "KafkaLatestOffsetsLookup.h"

#include "ErrorBatch.h"
#include "IsolationLevel.h"
#include "KafkaClusterClient.h"
#include "KafkaConnection.h"
#include "KafkaFetcherResponses.h"
#include "KafkaListOffsetsResponse.h"
#include "PartitionBatches.h"

#include <QHash>
#include <QSet>

#include <optional>
#include <utility>

using namespace KafkaFetcherResponses;

namespace {

using MetadataTopic = KafkaMetadataResponse::Topic;
using MetadataPartition = KafkaMetadataResponse::Partition;

// The cluster metadata as read when a pass starts, hashed by topic name, with
// each topic's partitions hashed by index where the metadata does not list
// them in index order.
class MetadataIndex {
public:
    explicit MetadataIndex(QList<MetadataTopic> topics)
        : m_topics(std::move(topics))
    {
        m_byName.reserve(m_topics.size());
        for (qsizetype i = 0; i < m_topics.size(); ++i)
            m_byName.insert(m_topics.at(i).name, i);
    }

    const MetadataTopic* topic(const QString& name) const
    {
        const auto found = m_byName.constFind(name);
        return found == m_byName.constEnd() ? nullptr : &m_topics.at(*found);
    }

    const MetadataPartition* partition(const MetadataTopic& topic, std::int32_t index)
    {
        const QList<MetadataPartition>& partitions = topic.partitions;
        if (index >= 0 && index < partitions.size() && partitions.at(index).partitionIndex == index)
            return &partitions.at(index);
        auto byIndex = m_partitionsByIndex.find(topic.name);
        if (byIndex == m_partitionsByIndex.end()) {
            byIndex = m_partitionsByIndex.insert(topic.name, {});
            for (qsizetype i = 0; i < partitions.size(); ++i)
                byIndex->insert(partitions.at(i).partitionIndex, i);
        }
        const auto found = byIndex->constFind(index);
        return found == byIndex->constEnd() ? nullptr : &partitions.at(*found);
    }

private:
    const QList<MetadataTopic> m_topics;
    QHash<QString, qsizetype> m_byName;
    QHash<QString, QHash<std::int32_t, qsizetype>> m_partitionsByIndex;
};

qsizetype partitionCount(const QList<KafkaLatestOffsetsLookup::Topic>& topics)
{
    qsizetype count = 0;
    for (const KafkaLatestOffsetsLookup::Topic& topic : topics)
        count += topic.partitions.size();
    return count;
}

QList<KafkaLatestOffsetsLookup::Topic> lookupTopics(const QList<KafkaListOffsetsRequest::Topic>& requested)
{
    QList<KafkaLatestOffsetsLookup::Topic> topics;
    topics.reserve(requested.size());
    for (const KafkaListOffsetsRequest::Topic& topic : requested) {
        KafkaLatestOffsetsLookup::Topic& entry = topics.emplaceBack();
        entry.name = topic.name;
        entry.partitions.reserve(topic.partitions.size());
        for (const KafkaListOffsetsRequest::Partition& partition : topic.partitions)
            entry.partitions.append(partition.partitionIndex);
    }
    return topics;
}

QString moreOfTopic(qsizetype more)
{
    return more > 0 ? QStringLiteral(" (and %1 more partitions of the topic)").arg(more) : QString();
}

} // namespace

KafkaLatestOffsetsLookup::KafkaLatestOffsetsLookup(
    KafkaClusterClient& client, OffsetsCallback offsets, ErrorsCallback errors, QObject* parent)
    : QObject(parent)
    , clusterClient(client)
    , offsetsFound(std::move(offsets))
    , errorsFound(std::move(errors))
{
}

void KafkaLatestOffsetsLookup::start(const QList<Topic>& topics)
{
    lookUp(topics);
    report();
}

void KafkaLatestOffsetsLookup::lookUp(const QList<Topic>& topics)
{
    const QList<KafkaMetadataResponse::Broker> brokers = clusterClient.brokers();
    if (brokers.isEmpty())
        return;
    MetadataIndex metadata(clusterClient.topics());
    QList<Topic> waiting; // for a leader
    QList<Topic> unknown; // to the metadata as read
    QHash<std::int32_t, QList<KafkaListOffsetsRequest::Topic>> byLeader;

    for (const Topic& topic : topics) {
        const MetadataTopic* known = metadata.topic(topic.name);
        if (!known && !metadataReadAgain) {
            unknown.append(topic);
            continue;
        }
        if (!known) {
            failures.add([&topic] {
                return KafkaError(KafkaErrorCode::UnknownTopicOrPartition,
                    QStringLiteral("Topic %1 with %2 assigned partitions not found in cluster metadata")
                        .arg(topic.name)
                        .arg(topic.partitions.size()));
            });
            continue;
        }
        std::int32_t firstMissing = -1;
        qsizetype missing = 0;
        const MetadataPartition* firstFailed = nullptr;
        qsizetype failed = 0;
        Topic leaderless { topic.name, {} };
        QList<KafkaListOffsetsRequest::Topic>* leaderTopics = nullptr;
        std::int32_t leaderId = -1;
        for (std::int32_t index : topic.partitions) {
            const MetadataPartition* partition = metadata.partition(*known, index);
            if (!partition) {
                firstMissing = missing++ == 0 ? index : firstMissing;
                continue;
            }
            if (partition->errorCode != KafkaProtocolError::None) {
                firstFailed = failed++ == 0 ? partition : firstFailed;
                continue;
            }
            if (partition->leaderId < 0) {
                leaderless.partitions.append(index);
                continue;
            }
            // Partitions of a topic mostly share few leaders in turn.
            if (!leaderTopics || leaderId != partition->leaderId) {
                leaderId = partition->leaderId;
                leaderTopics = &byLeader[leaderId];
            }
            if (leaderTopics->isEmpty() || leaderTopics->last().name != topic.name)
                leaderTopics->append(KafkaListOffsetsRequest::Topic { topic.name, {} });
            leaderTopics->last().partitions.append(KafkaListOffsetsRequest::Partition { index, NoLeaderEpoch, -1 });
        }
        if (missing > 0) {
            failures.add([&] {
                return KafkaError(KafkaErrorCode::UnknownTopicOrPartition,
                    QStringLiteral("Topic %1 with partition index %2 not found in cluster metadata%3")
                        .arg(topic.name)
                        .arg(firstMissing)
                        .arg(moreOfTopic(missing - 1)));
            });
        }
        if (failed > 0) {
            failures.add([&] {
                return KafkaError(KafkaConnection::mapProtocolError(firstFailed->errorCode, KafkaErrorCode::ListOffsetsError),
                    QStringLiteral("Partition %1-%2 is in a failed state%3")
                        .arg(topic.name)
                        .arg(firstFailed->partitionIndex)
                        .arg(moreOfTopic(failed - 1)));
            });
        }
        if (!leaderless.partitions.isEmpty())
            waiting.append(std::move(leaderless));
    }

    std::optional<KafkaError> unreachable;
    for (const KafkaMetadataResponse::Broker& broker : brokers) {
        const auto found = byLeader.constFind(broker.nodeId);
        if (found == byLeader.constEnd())
            continue;
        const QList<KafkaListOffsetsRequest::Topic> ofLeader = *found;
        byLeader.erase(found);
        Result<KafkaConnection*, KafkaError> connection = clusterClient.brokerConnectionForId(broker.nodeId);
        if (connection.isError()) {
            waiting.append(lookupTopics(ofLeader));
            unreachable = connection.error();
            continue;
        }
        KafkaConnection* leader = connection.value();
        for (const QList<KafkaListOffsetsRequest::Topic>& asked :
            partitionBatches(ofLeader, &KafkaListOffsetsRequest::Topic::partitions, MaxPartitionsPerRequest)) {
            ++awaited;
            leader->send(std::make_unique<KafkaListOffsetsRequest>(leader->nextCorrelationId(), clusterClient.clientId(),
                             -1, IsolationLevel::ReadUncommitted, asked),
                this, [this, asked](KafkaResult<KafkaRawResponse> answer) {
                    --awaited;
                    onAnswer(asked, answer);
                    report();
                });
        }
    }
    // Leaders that the metadata does not list among its brokers.
    for (const QList<KafkaListOffsetsRequest::Topic>& asked : std::as_const(byLeader))
        waiting.append(lookupTopics(asked));

    if (!unknown.isEmpty()) {
        // Topics created since the metadata was read: read it once more
        // before they count as missing.
        metadataReadAgain = true;
        ++awaited;
        clusterClient.refreshMetadata(this, [this, unknown](const std::optional<KafkaError>&) {
            --awaited;
            lookUp(unknown);
            report();
        });
    }
    if (!waiting.isEmpty()) {
        retry(waiting,
            unreachable.value_or(KafkaError(KafkaErrorCode::LeaderNotAvailable,
                QStringLiteral("The cluster metadata names no reachable leader for %1 partitions")
                    .arg(partitionCount(waiting)))));
    }
}

void KafkaLatestOffsetsLookup::onAnswer(
    const QList<KafkaListOffsetsRequest::Topic>& asked, KafkaResult<KafkaRawResponse>& answer)
{
    if (answer.isError()) {
        if (isConnectionFailure(answer.error().code))
            retry(lookupTopics(asked), answer.error());
        else
            failures.add([&answer] { return answer.error(); });
        return;
    }
    KafkaResult<KafkaListOffsetsResponse> response = KafkaListOffsetsResponse::parseFromRaw(answer.value());
    if (response.isError()) {
        failures.add([&response] { return response.error(); });
        return;
    }
    // Each partition asked for is taken once; whatever else the answer holds
    // is ignored.
    QHash<QString, QSet<std::int32_t>> unanswered = askedPartitions(
        asked, &KafkaListOffsetsRequest::Topic::partitions, &KafkaListOffsetsRequest::Partition::partitionIndex);
    QList<Offset> offsets;
    QList<Topic> moved;
    std::optional<KafkaError> leaderError;
    for (const KafkaListOffsetsResponse::Topic& topic : response.value().topics) {
        const auto expected = unanswered.find(topic.name);
        if (expected == unanswered.end())
            continue;
        Topic movedOfTopic { topic.name, {} };
        for (const KafkaListOffsetsResponse::Partition& partition : topic.partitions) {
            if (!expected->remove(partition.partitionIndex))
                continue;
            if (partition.errorCode == KafkaProtocolError::None) {
                offsets.append(Offset { topic.name, partition.partitionIndex, partition.offset });
            } else if (isLeaderError(partition.errorCode)) {
                movedOfTopic.partitions.append(partition.partitionIndex);
                if (!leaderError)
                    leaderError = brokerError(partition.errorCode, KafkaErrorCode::ListOffsetsError);
            } else {
                failures.add([&] {
                    return KafkaError(KafkaConnection::mapProtocolError(partition.errorCode, KafkaErrorCode::OffsetFetchError),
                        QStringLiteral("The server returned an error for partition %1-%2 when fetching the last topic offsets")
                            .arg(topic.name)
                            .arg(partition.partitionIndex));
                });
            }
        }
        if (!movedOfTopic.partitions.isEmpty())
            moved.append(std::move(movedOfTopic));
    }
    if (!offsets.isEmpty())
        offsetsFound(offsets);
    if (!moved.isEmpty())
        retry(moved, *leaderError);
}

void KafkaLatestOffsetsLookup::retry(const QList<Topic>& topics, KafkaError lastError)
{
    const int backoffMs = leaderRetry.nextBackoff();
    if (backoffMs < 0) {
        failures.add([&] {
            const KafkaErrorCode code = lastError.code;
            return lastError.wrap(code,
                QStringLiteral("No broker could serve %1 partitions within %2 s, the first of them %3-%4")
                    .arg(partitionCount(topics))
                    .arg(LeaderRetry::TimeLimitMs / 1000)
                    .arg(topics.first().name)
                    .arg(topics.first().partitions.value(0)));
        });
        return;
    }
    ++awaited;
    LeaderRetry::afterBackoffAndRefresh(clusterClient, this, backoffMs, [] { return true; }, [this, topics] {
        --awaited;
        lookUp(topics);
        report();
    });
}

// Hands on the errors kept since the last report, and once nothing is awaited
// any more, the count of those left out.
void KafkaLatestOffsetsLookup::report()
{
    QList<KafkaError> found = failures.takeAfterAnswer(awaited, KafkaErrorCode::ListOffsetsError);
    if (!found.isEmpty())
        errorsFound(std::move(found));
}
