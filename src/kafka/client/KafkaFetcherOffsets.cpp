#include "KafkaFetcher.h"

#include "KafkaClusterClient.h"
#include "KafkaConnection.h"
#include "KafkaFetcherResponses.h"
#include "KafkaListOffsetsRequest.h"
#include "KafkaListOffsetsResponse.h"

#include <QThread>

#include <utility>

using namespace KafkaFetcherResponses;

// --- offset lookups (fetch thread but for the public operations) -----------

void KafkaFetcher::fetchTopicPartitionOffset(
    const QString& topic, int partition, long long timestamp, OffsetCallback callback)
{
    FetchOffsetJob job;
    job.id = nextJobId.fetch_add(1);
    job.topic = topic;
    job.partition = partition;
    job.timestamp = timestamp;
    job.callback = std::move(callback);
    QMetaObject::invokeMethod(
        this,
        [this, job]() {
            fetchOffsetJobs.append(job);
            doFetchTopicPartitionOffset(job.id, nullptr);
        },
        Qt::QueuedConnection);
}

void KafkaFetcher::fetchOffsetsFromTimestamps(const QString& topic, int partition, long long startTimestamp,
    long long endTimestamp, QObject* context, OffsetsCallback callback)
{
    ResolveTimestampsJob job;
    job.id = nextJobId.fetch_add(1);
    job.topic = topic;
    job.partition = partition;
    job.startTimestamp = startTimestamp;
    job.endTimestamp = endTimestamp;
    job.context = context;
    job.callback = std::move(callback);
    QMetaObject::invokeMethod(
        this,
        [this, job]() {
            resolveTimestampsJobs.append(job);
            doResolveTimestampsTopicPartitionOffset(job.id, nullptr);
        },
        Qt::QueuedConnection);
}

KafkaFetcher::FetchOffsetJob* KafkaFetcher::findFetchOffsetJob(int jobId)
{
    for (FetchOffsetJob& job : fetchOffsetJobs) {
        if (job.id == jobId)
            return &job;
    }
    return nullptr;
}

KafkaFetcher::ResolveTimestampsJob* KafkaFetcher::findResolveTimestampsJob(int jobId)
{
    for (ResolveTimestampsJob& job : resolveTimestampsJobs) {
        if (job.id == jobId)
            return &job;
    }
    return nullptr;
}

void KafkaFetcher::doFetchTopicPartitionOffset(int jobId, KafkaResult<KafkaRawResponse>* response)
{
    FetchOffsetJob* job = findFetchOffsetJob(jobId);
    if (!job)
        return;
    switch (job->state) {
    case FetchOffsetJob::State::New:
    case FetchOffsetJob::State::WaitingForConnection:
        if (!response)
            requestTopicPartitionOffset(*job);
        return;
    case FetchOffsetJob::State::Requested:
        if (response)
            readTopicPartitionOffset(*job, *response);
        return;
    case FetchOffsetJob::State::Done:
        return;
    }
}

void KafkaFetcher::requestTopicPartitionOffset(FetchOffsetJob& job)
{
    KafkaResult<KafkaMetadataResponse::Partition> partition = clusterClient.findTopicPartition(job.topic, job.partition);
    if (partition.isError()) {
        retryMissingPartition(job, std::move(partition).error());
        return;
    }
    const KafkaMetadataResponse::Partition& metadata = partition.value();
    if (metadata.errorCode != KafkaProtocolError::None || metadata.leaderId < 0) {
        retryOffsetLookup(job,
            KafkaError(KafkaConnection::mapProtocolError(metadata.errorCode, KafkaErrorCode::ListOffsetsError),
                QStringLiteral("Partition %1-%2 is in a failed state").arg(job.topic, number(job.partition))));
        return;
    }
    Result<KafkaConnection*, KafkaError> connection = clusterClient.brokerConnectionForId(metadata.leaderId);
    if (connection.isError()) {
        retryOffsetLookup(job, std::move(connection).error());
        return;
    }
    job.brokerId = metadata.leaderId;
    job.state = FetchOffsetJob::State::Requested;

    KafkaConnection* brokerConnection = connection.value();
    QList<KafkaListOffsetsRequest::Topic> topics {
        { job.topic, { { job.partition, NoLeaderEpoch, job.timestamp } } },
    };
    // An answer to an attempt that was given up is ignored.
    brokerConnection->send(std::make_unique<KafkaListOffsetsRequest>(brokerConnection->nextCorrelationId(),
                               clusterClient.clientId(), -1, IsolationLevel::ReadCommitted, std::move(topics)),
        this, [this, id = job.id, generation = job.retry.generation()](KafkaResult<KafkaRawResponse> result) {
            const FetchOffsetJob* answered = findFetchOffsetJob(id);
            if (answered && answered->retry.generation() == generation)
                doFetchTopicPartitionOffset(id, &result);
        });
}

// Ends the lookup with the offset or the failure, or tries again when the
// leader could not be reached or has moved.
void KafkaFetcher::readTopicPartitionOffset(FetchOffsetJob& job, KafkaResult<KafkaRawResponse>& response)
{
    const QString timestamp = number(job.timestamp);
    const QString partitionIndex = number(job.partition);
    if (response.isError()) {
        const bool retry = isConnectionFailure(response.error().code);
        KafkaError error = std::move(response).error().wrap(
            KafkaErrorCode::ListOffsetsError, QStringLiteral("An error occurred while sending the offset fetch request"));
        if (retry)
            retryOffsetLookup(job, std::move(error));
        else
            finishFetchOffsetJob(job.id, std::move(error));
        return;
    }
    KafkaResult<KafkaListOffsetsResponse> parsed = KafkaListOffsetsResponse::parseFromRaw(response.value());
    if (parsed.isError()) {
        finishFetchOffsetJob(job.id,
            std::move(parsed).error().wrap(KafkaErrorCode::ListOffsetsError,
                QStringLiteral("Received a corrupt OffsetFetch response while fetching the offset at timestamp %1 for %2-%3")
                    .arg(timestamp, job.topic, partitionIndex)));
        return;
    }
    const KafkaListOffsetsResponse::Partition* partition
        = findPartition(parsed.value().topics, &KafkaListOffsetsResponse::Topic::name, job.topic, job.partition);
    if (!partition) {
        finishFetchOffsetJob(job.id,
            KafkaError(KafkaErrorCode::ListOffsetsError,
                QStringLiteral("The offset response for the timestamp %1 does not hold the partition %2-%3")
                    .arg(timestamp, job.topic, partitionIndex)));
        return;
    }
    if (partition->errorCode != KafkaProtocolError::None) {
        KafkaError error(KafkaConnection::mapProtocolError(partition->errorCode, KafkaErrorCode::ListOffsetsError),
            QStringLiteral("The server returned an error while fetching the offset at timestamp %1 for %2-%3")
                .arg(timestamp, job.topic, partitionIndex),
            { brokerError(partition->errorCode, KafkaErrorCode::ListOffsetsError) });
        if (isLeaderError(partition->errorCode))
            retryOffsetLookup(job, std::move(error));
        else
            finishFetchOffsetJob(job.id, std::move(error));
        return;
    }
    job.state = FetchOffsetJob::State::Done;
    finishFetchOffsetJob(job.id, static_cast<long long>(partition->offset));
}

// Ends a lookup: it leaves the list before its callback runs.
void KafkaFetcher::finishFetchOffsetJob(int jobId, Result<long long, Error<KafkaErrorCode>> result)
{
    const auto job = std::find_if(fetchOffsetJobs.begin(), fetchOffsetJobs.end(),
        [jobId](const FetchOffsetJob& candidate) { return candidate.id == jobId; });
    if (job == fetchOffsetJobs.end())
        return;
    OffsetCallback callback = std::move(job->callback);
    fetchOffsetJobs.erase(job);
    if (callback)
        callback(std::move(result));
}

void KafkaFetcher::doResolveTimestampsTopicPartitionOffset(int jobId, KafkaResult<long long>* result)
{
    ResolveTimestampsJob* job = findResolveTimestampsJob(jobId);
    if (!job)
        return;
    const auto lookUp = [this, jobId](ResolveTimestampsJob& resolving, std::int64_t timestamp) {
        fetchTopicPartitionOffset(resolving.topic, resolving.partition, timestamp,
            [this, jobId](KafkaResult<long long> offset) { doResolveTimestampsTopicPartitionOffset(jobId, &offset); });
    };

    switch (job->state) {
    case ResolveTimestampsJob::State::New:
        job->state = ResolveTimestampsJob::State::ResolvingStart;
        lookUp(*job, job->startTimestamp);
        return;
    case ResolveTimestampsJob::State::ResolvingStart:
        if (!result)
            return;
        if (result->isError()) {
            deliverResolvedOffsets(jobId, std::move(*result).error());
            return;
        }
        job->startOffset = result->value();
        job->state = ResolveTimestampsJob::State::ResolvingEnd;
        lookUp(*job, job->endTimestamp);
        return;
    case ResolveTimestampsJob::State::ResolvingEnd:
        if (!result)
            return;
        if (result->isError()) {
            deliverResolvedOffsets(jobId, std::move(*result).error());
            return;
        }
        job->endOffset = result->value();
        if (job->endOffset == -1 && job->endTimestamp != -1) {
            // Nothing at or after the end timestamp: up to the latest offset.
            job->endTimestamp = -1;
            job->endOffsetKind = OffsetsResult::EndOffsetKind::Latest;
            lookUp(*job, -1);
            return;
        }
        job->state = ResolveTimestampsJob::State::Done;
        job->endOffsetKind = job->endTimestamp == -1 ? OffsetsResult::EndOffsetKind::Latest
                                                     : OffsetsResult::EndOffsetKind::AtEndTimestamp;
        deliverResolvedOffsets(jobId, OffsetsResult { job->startOffset, job->endOffset, job->endOffsetKind });
        return;
    case ResolveTimestampsJob::State::Done:
        return;
    }
}

// Hands the outcome to the callback on its context's thread and forgets the
// resolution.
void KafkaFetcher::deliverResolvedOffsets(int jobId, Result<OffsetsResult, Error<KafkaErrorCode>> result)
{
    const auto job = std::find_if(resolveTimestampsJobs.begin(), resolveTimestampsJobs.end(),
        [jobId](const ResolveTimestampsJob& candidate) { return candidate.id == jobId; });
    if (job == resolveTimestampsJobs.end())
        return;
    QObject* context = job->context;
    OffsetsCallback callback = std::move(job->callback);
    resolveTimestampsJobs.erase(job);
    if (!context || !callback)
        return;
    QMetaObject::invokeMethod(
        context, [callback = std::move(callback), result = std::move(result)]() { callback(result); },
        Qt::QueuedConnection);
}
