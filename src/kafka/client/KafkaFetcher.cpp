#include "KafkaFetcher.h"

#include "KafkaClusterClient.h"
#include "KafkaConnection.h"
#include "KafkaFetchRequest.h"
#include "KafkaFetchedRecordSet.h"
#include "KafkaFetcherResponses.h"
#include "KafkaRecordBatch.h"

#include <QSet>
#include <QThread>

#include <algorithm>
#include <utility>

using namespace KafkaFetcherResponses;

namespace {

// The timestamp that asks ListOffsets for a partition's log start offset.
constexpr std::int64_t EarliestTimestamp = -2;

// A partition error of a Fetch answer, with the broker's error as its cause.
KafkaError fetchPartitionError(const QString& topic, std::int32_t partition, std::int64_t offset,
    KafkaProtocolError code, std::int64_t logStartOffset = -1)
{
    return KafkaError(KafkaConnection::mapProtocolError(code, KafkaErrorCode::FetchError),
        QStringLiteral("The server returned an error while fetching records for %1-%2 at offset %3")
            .arg(topic, number(partition), number(offset)),
        { brokerError(code, KafkaErrorCode::FetchError, logStartOffset) });
}

// A record set whose batches have been scanned, waiting to be decoded.
struct ScannedRecordSet {
    std::int32_t jobId = 0;
    // The job's offset before the answer was taken, restored when the
    // batches cannot be decoded.
    std::int64_t previousOffset = 0;
    KafkaFetchedRecordSet recordSet;
};

} // namespace

KafkaFetcher::KafkaFetcher(KafkaClusterClient& client, std::int32_t maxWaitMs)
    : clusterClient(client)
    , connectionGroup(client.openConnectionGroup())
    , fetchMaxWaitMs(maxWaitMs)
    , fetchThread(std::make_unique<QThread>())
{
    fetchThread->setObjectName(QStringLiteral("FetchThread"));
    fetchThread->start(QThread::InheritPriority);
    // A connection coming up moves nothing on: a job waiting for its leader
    // goes on once the metadata has been read again.
    connect(&clusterClient, &KafkaClusterClient::connectionError, this, &KafkaFetcher::onClusterClientConnectionError,
        Qt::QueuedConnection);
    connect(
        &clusterClient, &KafkaClusterClient::groupConnectionError, this,
        [this](int32_t group, int32_t brokerId, const KafkaError& error) {
            if (group == connectionGroup)
                onFetchConnectionError(brokerId, error);
        },
        Qt::QueuedConnection);
    moveToThread(fetchThread.get());
}

KafkaFetcher::~KafkaFetcher()
{
    fetchThread->quit();
    fetchThread->wait();
    fetchThread.reset();
    clusterClient.closeConnectionGroup(connectionGroup);
}

// --- public operations (any thread) ----------------------------------------

int KafkaFetcher::fetchRecords(const QString& topic, int partition, long long startOffset, long long endOffset)
{
    FetchJob job;
    job.id = nextJobId.fetch_add(1);
    job.topic = topic;
    job.partition = partition;
    job.startOffset = startOffset;
    job.nextOffset = startOffset;
    job.endOffset = endOffset;
    QMetaObject::invokeMethod(this, [this, job]() { onFetchJobRequested(job); }, Qt::QueuedConnection);
    return job.id;
}

void KafkaFetcher::cancelFetchJob(int jobId)
{
    QMetaObject::invokeMethod(this, [this, jobId]() { onFetchJobCancelRequested(jobId); }, Qt::QueuedConnection);
}

void KafkaFetcher::pauseAllFetchJobs()
{
    QMetaObject::invokeMethod(this, [this]() { onFetchPauseAllRequested(); }, Qt::QueuedConnection);
}

void KafkaFetcher::resumeAllFetchJobs()
{
    QMetaObject::invokeMethod(this, [this]() { onFetchResumeAllRequested(); }, Qt::QueuedConnection);
}

// --- fetch jobs (fetch thread) ---------------------------------------------

FetchJob* KafkaFetcher::findRunningFetchJobById(int jobId)
{
    for (FetchJob& job : fetchJobs) {
        if (job.id == jobId)
            return &job;
    }
    return nullptr;
}

void KafkaFetcher::onFetchJobRequested(FetchJob requested)
{
    FetchJob* job = findRunningFetchJobById(requested.id);
    if (!job) {
        // Any other state means the job was cancelled meanwhile.
        if (requested.state != FetchJob::State::New)
            return;
        fetchJobs.append(requested);
        job = &fetchJobs.last();
    }
    // A job waiting for its next attempt is moved on by its timer, one asked
    // for already by the answer under way.
    if (job->paused || job->requested || job->state == FetchJob::State::WaitingForConnection)
        return;
    if (job->rangeComplete()) {
        job->state = FetchJob::State::Finished;
        updateFetchProgress();
        return;
    }

    KafkaResult<KafkaMetadataResponse::Partition> partition
        = clusterClient.findTopicPartition(job->topic, job->partition);
    if (partition.isError()) {
        retryMissingPartition(*job, std::move(partition).error());
        return;
    }
    const KafkaMetadataResponse::Partition& metadata = partition.value();
    if (metadata.errorCode != KafkaProtocolError::None || metadata.leaderId < 0) {
        retryFetchJob(*job,
            KafkaError(KafkaConnection::mapProtocolError(metadata.errorCode, KafkaErrorCode::LeaderNotAvailable),
                QStringLiteral("Partition %1-%2 has no leader in the cluster metadata")
                    .arg(job->topic, number(job->partition))));
        return;
    }
    Result<KafkaConnection*, KafkaError> connection
        = clusterClient.brokerConnectionForId(metadata.leaderId, connectionGroup);
    if (connection.isError()) {
        retryFetchJob(*job, std::move(connection).error());
        return;
    }
    job->brokerId = metadata.leaderId;
    sendBrokerFetch(job->brokerId);
}

bool KafkaFetcher::isDue(const FetchJob& job, std::int32_t brokerId) const
{
    return job.brokerId == brokerId && !job.paused && !job.requested && !job.rangeComplete()
        && (job.state == FetchJob::State::New || job.state == FetchJob::State::Fetching);
}

// The jobs of the next request to a broker: one per partition (a request
// names each partition once), a stalled partition first, the others in an
// order that turns with every request so that none is always last when the
// response fills up.
QList<FetchJob*> KafkaFetcher::chooseJobsForRequest(std::int32_t brokerId)
{
    QList<FetchJob*> due;
    for (FetchJob& job : fetchJobs) {
        if (isDue(job, brokerId))
            due.append(&job);
    }
    if (due.isEmpty())
        return due;
    std::rotate(due.begin(), due.begin() + static_cast<qsizetype>(nextFetchSequence % std::uint64_t(due.size())),
        due.end());
    std::stable_partition(due.begin(), due.end(), [](const FetchJob* job) { return job->stalled; });

    QList<FetchJob*> chosen;
    QSet<QPair<QString, std::int32_t>> named;
    for (FetchJob* job : due) {
        const QPair<QString, std::int32_t> key(job->topic, job->partition);
        if (named.contains(key))
            continue;
        named.insert(key);
        chosen.append(job);
    }
    return chosen;
}

void KafkaFetcher::sendBrokerFetch(std::int32_t brokerId)
{
    BrokerFetch& brokerFetch = brokerFetches[brokerId];
    if (brokerFetch.inFlight)
        return;
    const QList<FetchJob*> jobs = chooseJobsForRequest(brokerId);
    if (jobs.isEmpty())
        return;

    Result<KafkaConnection*, KafkaError> connection = clusterClient.brokerConnectionForId(brokerId, connectionGroup);
    if (connection.isError()) {
        const QList<std::int32_t> ids = [&jobs]() {
            QList<std::int32_t> list;
            for (const FetchJob* job : jobs)
                list.append(job->id);
            return list;
        }();
        for (std::int32_t id : ids) {
            if (FetchJob* job = findRunningFetchJobById(id))
                retryFetchJob(*job, connection.error());
        }
        return;
    }

    // Partitions of one topic go together, topics in the order of their
    // first partition.
    QList<KafkaFetchRequest::Topic> topics;
    std::int64_t requestedBytes = 0;
    brokerFetch.partitions.clear();
    for (FetchJob* job : jobs) {
        auto topic = std::find_if(topics.begin(), topics.end(),
            [job](const KafkaFetchRequest::Topic& candidate) { return candidate.topic == job->topic; });
        if (topic == topics.end()) {
            topics.append({ job->topic, {} });
            topic = topics.end() - 1;
        }
        const std::int64_t partitionMaxBytes = job->nextBatchSize > 0
            ? std::clamp<std::int64_t>(job->nextBatchSize + KafkaRecordBatch::HeaderSize, PartitionMaxBytes, MaxBytes)
            : PartitionMaxBytes;
        topic->partitions.append(
            { job->partition, NoLeaderEpoch, job->nextOffset, -1, static_cast<std::int32_t>(partitionMaxBytes) });
        requestedBytes += partitionMaxBytes;
        job->requested = true;
        brokerFetch.partitions.append({ job->id, job->nextOffset });
    }
    const auto maxBytes = static_cast<std::int32_t>(std::min<std::int64_t>(requestedBytes, MaxBytes));

    KafkaConnection* brokerConnection = connection.value();
    const std::uint64_t sequence = nextFetchSequence++;
    brokerFetch.sequence = sequence;
    brokerFetch.inFlight = true;
    brokerConnection->send(std::make_unique<KafkaFetchRequest>(brokerConnection->nextCorrelationId(),
                               clusterClient.clientId(), -1, fetchMaxWaitMs, MinBytes, maxBytes,
                               IsolationLevel::ReadCommitted, -1, -1, std::move(topics),
                               QList<KafkaFetchRequest::ForgottenTopic>(), QString()),
        this, [this, brokerId, sequence](KafkaResult<KafkaRawResponse> result) {
            onFetchResponseReceived(brokerId, sequence, std::move(result));
        });
}

void KafkaFetcher::onFetchResponseReceived(
    std::int32_t brokerId, std::uint64_t sequence, KafkaResult<KafkaRawResponse> result)
{
    auto brokerFetch = brokerFetches.find(brokerId);
    if (brokerFetch == brokerFetches.end() || !brokerFetch->second.inFlight
        || brokerFetch->second.sequence != sequence)
        return;
    const QList<RequestedPartition> requested = std::move(brokerFetch->second.partitions);
    brokerFetch->second.partitions.clear();
    brokerFetch->second.inFlight = false;

    // The jobs still waiting for this answer: neither cancelled, paused,
    // failed nor moved on meanwhile.
    QList<RequestedPartition> awaited;
    for (const RequestedPartition& partition : requested) {
        FetchJob* job = findRunningFetchJobById(partition.jobId);
        if (!job)
            continue;
        job->requested = false;
        if (!job->paused && job->nextOffset == partition.fetchOffset
            && (job->state == FetchJob::State::New || job->state == FetchJob::State::Fetching))
            awaited.append(partition);
    }

    const auto failAwaited = [this, &awaited](const std::function<KafkaError(const FetchJob&)>& makeError,
                                 bool retry = false) {
        for (const RequestedPartition& partition : awaited) {
            FetchJob* job = findRunningFetchJobById(partition.jobId);
            if (job && retry)
                retryFetchJob(*job, makeError(*job));
            else if (job)
                failFetchJob(*job, makeError(*job));
        }
    };

    if (result.isError()) {
        KafkaError error = std::move(result).error();
        // The leader's connection failed: another broker may lead by now.
        const bool retry = isConnectionFailure(error.code);
        failAwaited([&error](const FetchJob&) {
            KafkaError copy = error;
            return copy.wrap(KafkaErrorCode::FetchError, QStringLiteral("An error occurred while sending the record fetch request"));
        }, retry);
        sendBrokerFetch(brokerId);
        return;
    }
    KafkaResult<KafkaFetchResponse> response = KafkaFetchResponse::parseFromRaw(result.value());
    if (response.isError()) {
        KafkaError error = std::move(response).error();
        failAwaited([&error](const FetchJob& job) {
            KafkaError copy = error;
            return copy.wrap(KafkaErrorCode::FetchError,
                QStringLiteral("An error occurred while parsing the record fetch response for %1-%2 at offset %3")
                    .arg(job.topic, number(job.partition), number(job.nextOffset)));
        });
        sendBrokerFetch(brokerId);
        return;
    }
    if (response.value().errorCode != KafkaProtocolError::None) {
        const KafkaProtocolError code = response.value().errorCode;
        failAwaited([code](const FetchJob& job) {
            return KafkaError(KafkaConnection::mapProtocolError(code, KafkaErrorCode::FetchError),
                QStringLiteral("The server returned an error while fetching records for %1-%2 at offset %3")
                    .arg(job.topic, number(job.partition), number(job.nextOffset)));
        });
        sendBrokerFetch(brokerId);
        return;
    }
    handleFetchResponse(awaited, response.value(), brokerId);
}

// Takes the answer in two passes: the batch headers first, so that the next
// request goes out at once, then the decoding of the records while the broker
// prepares its next answer.
void KafkaFetcher::handleFetchResponse(
    const QList<RequestedPartition>& awaited, KafkaFetchResponse& response, std::int32_t brokerId)
{
    QList<ScannedRecordSet> scanned;
    for (const RequestedPartition& requested : awaited) {
        FetchJob* job = findRunningFetchJobById(requested.jobId);
        if (!job)
            continue;
        const KafkaFetchResponse::Partition* partition
            = findPartition(response.topics, &KafkaFetchResponse::Topic::topic, job->topic, job->partition);
        if (!partition) {
            failFetchJob(*job,
                KafkaError(KafkaErrorCode::FetchError,
                    QStringLiteral("The record fetch response for %1-%2 at offset %3 does not hold the partition")
                        .arg(job->topic, number(job->partition), number(job->nextOffset))));
            continue;
        }
        if (partition->errorCode == KafkaProtocolError::OffsetOutOfRange) {
            failBeyondLog(*job, partition->logStartOffset);
            continue;
        }
        if (partition->errorCode != KafkaProtocolError::None) {
            KafkaError error = fetchPartitionError(job->topic, job->partition, job->nextOffset, partition->errorCode);
            if (isLeaderError(partition->errorCode))
                retryFetchJob(*job, std::move(error));
            else
                failFetchJob(*job, std::move(error));
            continue;
        }
        job->retry.reset();
        job->highWatermark = partition->highWatermark;
        job->lastStableOffset = partition->lastStableOffset;
        KafkaFetchedRecordSet recordSet(job->topic, job->partition, job->nextOffset, job->endOffset, *partition);
        if (std::optional<KafkaError> error = recordSet.scan()) {
            failFetchJob(*job,
                error->wrap(KafkaErrorCode::FetchError,
                    QStringLiteral("An error occurred while parsing the record batch for %1-%2 at offset %3")
                        .arg(job->topic, number(job->partition), number(job->nextOffset))));
            continue;
        }
        const std::int64_t previousOffset = job->nextOffset;
        job->nextOffset = recordSet.nextOffset();
        job->stalled = recordSet.stalled();
        if (const std::optional<std::int64_t> nextBatchSize = recordSet.nextBatchSize())
            job->nextBatchSize = *nextBatchSize;
        finishOrContinue(*job);
        scanned.append({ job->id, previousOffset, std::move(recordSet) });
    }

    sendBrokerFetch(brokerId);

    // The record sets of one response share one budget: the job whose records
    // take it past its limit fails, and so do those decoded after it.
    KafkaDecodeBudget budget;
    for (ScannedRecordSet& set : scanned) {
        KafkaResult<QList<KafkaRecord>> records = set.recordSet.decode(budget, recordDecompressor);
        FetchJob* job = findRunningFetchJobById(set.jobId);
        if (!job)
            continue;
        if (records.isError()) {
            // Nothing of this answer counts: the job stands where it stood.
            job->nextOffset = set.previousOffset;
            failFetchJob(*job,
                records.error().wrap(KafkaErrorCode::FetchError,
                    QStringLiteral("An error occurred while parsing the record batch for %1-%2 at offset %3")
                        .arg(job->topic, number(job->partition), number(set.previousOffset))));
            continue;
        }
        if (!records.value().isEmpty())
            emit recordsFetched(set.jobId, std::move(records).value());
    }
    if (!scanned.isEmpty())
        updateFetchProgress();
}

// A bounded job ends once its range is read, or once it has read what the
// partition holds: the end is never waited for.
void KafkaFetcher::finishOrContinue(FetchJob& job)
{
    if (job.endOffset >= 0 && (job.rangeComplete() || job.nextOffset >= job.readableEnd()))
        job.state = FetchJob::State::Finished;
    else
        job.state = FetchJob::State::Fetching;
}

void KafkaFetcher::failFetchJob(FetchJob& job, KafkaError error)
{
    job.state = FetchJob::State::Failed;
    job.stalled = false;
    job.retry.reset();
    emit fetchJobFailed(job.id, std::move(error));
}

// The offset lies outside the partition's log, mostly below its start after
// records were deleted. A broker leaves the log start offset out of an error
// answer (-1), so it is looked up before the failure is reported.
void KafkaFetcher::failBeyondLog(FetchJob& job, std::int64_t logStartOffset)
{
    if (logStartOffset >= 0) {
        failFetchJob(job,
            fetchPartitionError(job.topic, job.partition, job.nextOffset, KafkaProtocolError::OffsetOutOfRange,
                logStartOffset));
        return;
    }
    job.state = FetchJob::State::Failed;
    job.stalled = false;
    job.retry.reset();
    const std::int32_t id = job.id;
    const std::int64_t offset = job.nextOffset;
    fetchTopicPartitionOffset(job.topic, job.partition, EarliestTimestamp,
        [this, id, offset](KafkaResult<long long> earliest) {
            const FetchJob* failed = findRunningFetchJobById(id);
            // Resumed or cancelled meanwhile: nothing more to report.
            if (!failed || failed->state != FetchJob::State::Failed)
                return;
            emit fetchJobFailed(id,
                fetchPartitionError(failed->topic, failed->partition, offset, KafkaProtocolError::OffsetOutOfRange,
                    earliest.hasValue() ? earliest.value() : -1));
        });
}

void KafkaFetcher::onFetchJobCancelRequested(int32_t jobId)
{
    fetchJobs.removeIf([jobId](const FetchJob& job) { return job.id == jobId; });
}

void KafkaFetcher::onFetchPauseAllRequested()
{
    for (FetchJob& job : fetchJobs) {
        if (job.state != FetchJob::State::Finished && job.state != FetchJob::State::Failed)
            job.paused = true;
    }
}

void KafkaFetcher::updateFetchProgress()
{
    std::int64_t fetched = 0;
    std::int64_t total = 0;
    bool caughtUp = true;
    bool done = true;
    bool known = true;
    for (const FetchJob& job : fetchJobs) {
        const std::int64_t readableEnd = job.readableEnd();
        if (job.state != FetchJob::State::Finished) {
            done = false;
            if (readableEnd < 0 || job.nextOffset < readableEnd)
                caughtUp = false;
            if (job.state != FetchJob::State::Fetching)
                continue;
        }
        std::int64_t limit = readableEnd;
        if (job.endOffset >= 0 && (readableEnd < 0 || job.endOffset < readableEnd))
            limit = job.endOffset + 1;
        if (limit < 0) {
            known = false;
            break;
        }
        const std::int64_t span = std::max<std::int64_t>(0, limit - job.startOffset);
        total += span;
        fetched += std::clamp<std::int64_t>(job.nextOffset - job.startOffset, 0, span);
    }
    if (known || done)
        emit recordsFetchProgress(fetched, total, caughtUp, done);
}
