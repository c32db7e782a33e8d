#include "KafkaFetcher.h"

#include "KafkaClusterClient.h"
#include "KafkaConnection.h"
#include "KafkaFetchRequest.h"
#include "KafkaFetchedRecordSet.h"
#include "KafkaFetcherResponses.h"

#include <QSet>
#include <QThread>

#include <algorithm>
#include <utility>

using namespace KafkaFetcherResponses;

namespace {

// A record set whose batches have been scanned, waiting to be decoded.
struct ScannedRecordSet {
    std::int32_t jobId = 0;
    // The job's offset before the answer was taken, restored when the
    // batches cannot be decoded.
    std::int64_t previousOffset = 0;
    KafkaFetchedRecordSet recordSet;
};

} // namespace

KafkaFetcher::KafkaFetcher(KafkaClusterClient& client)
    : clusterClient(client)
    , fetchThread(std::make_unique<QThread>())
{
    fetchThread->setObjectName(QStringLiteral("FetchThread"));
    fetchThread->start(QThread::InheritPriority);
    connect(&clusterClient, &KafkaClusterClient::connectionReady, this, &KafkaFetcher::onClusterClientConnectionReady,
        Qt::QueuedConnection);
    connect(&clusterClient, &KafkaClusterClient::connectionError, this, &KafkaFetcher::onClusterClientConnectionError,
        Qt::QueuedConnection);
    moveToThread(fetchThread.get());
}

KafkaFetcher::~KafkaFetcher()
{
    fetchThread->quit();
    fetchThread->wait();
    fetchThread.reset();
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
    if (job->paused)
        return;
    if (job->rangeComplete()) {
        job->state = FetchJob::State::Finished;
        updateFetchProgress();
        return;
    }

    KafkaResult<KafkaMetadataResponse::Partition> partition
        = clusterClient.findTopicPartition(job->topic, job->partition);
    if (partition.isError()) {
        failFetchJob(*job, std::move(partition).error());
        return;
    }
    Result<KafkaConnection*, KafkaError> connection = clusterClient.brokerConnectionForId(partition.value().leaderId);
    if (connection.isError()) {
        failFetchJob(*job, std::move(connection).error());
        return;
    }
    job->brokerId = partition.value().leaderId;
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

    Result<KafkaConnection*, KafkaError> connection = clusterClient.brokerConnectionForId(brokerId);
    if (connection.isError()) {
        const QList<std::int32_t> ids = [&jobs]() {
            QList<std::int32_t> list;
            for (const FetchJob* job : jobs)
                list.append(job->id);
            return list;
        }();
        for (std::int32_t id : ids) {
            if (FetchJob* job = findRunningFetchJobById(id))
                failFetchJob(*job, connection.error());
        }
        return;
    }

    // Partitions of one topic go together, topics in the order of their
    // first partition.
    QList<KafkaFetchRequest::Topic> topics;
    brokerFetch.partitions.clear();
    for (FetchJob* job : jobs) {
        auto topic = std::find_if(topics.begin(), topics.end(),
            [job](const KafkaFetchRequest::Topic& candidate) { return candidate.topic == job->topic; });
        if (topic == topics.end()) {
            topics.append({ job->topic, {} });
            topic = topics.end() - 1;
        }
        topic->partitions.append({ job->partition, NoLeaderEpoch, job->nextOffset, -1, PartitionMaxBytes });
        job->requested = true;
        brokerFetch.partitions.append({ job->id, job->nextOffset });
    }
    const auto maxBytes
        = static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t(PartitionMaxBytes) * jobs.size(), MaxBytes));

    KafkaConnection* brokerConnection = connection.value();
    const std::uint64_t sequence = nextFetchSequence++;
    brokerFetch.sequence = sequence;
    brokerFetch.inFlight = true;
    brokerConnection->send(std::make_unique<KafkaFetchRequest>(brokerConnection->nextCorrelationId(),
                               clusterClient.clientId(), -1, MaxWaitMs, MinBytes, maxBytes,
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

    const auto failAwaited = [this, &awaited](const std::function<KafkaError(const FetchJob&)>& makeError) {
        for (const RequestedPartition& partition : awaited) {
            if (FetchJob* job = findRunningFetchJobById(partition.jobId))
                failFetchJob(*job, makeError(*job));
        }
    };

    if (result.isError()) {
        KafkaError error = std::move(result).error();
        failAwaited([&error](const FetchJob&) {
            KafkaError copy = error;
            return copy.wrap(KafkaErrorCode::FetchError, QStringLiteral("An error occurred while sending the record fetch request"));
        });
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
        if (partition->errorCode != KafkaProtocolError::None) {
            failFetchJob(*job,
                KafkaError(KafkaConnection::mapProtocolError(partition->errorCode, KafkaErrorCode::FetchError),
                    QStringLiteral("The server returned an error while fetching records for %1-%2 at offset %3")
                        .arg(job->topic, number(job->partition), number(job->nextOffset))));
            continue;
        }
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
        finishOrContinue(*job);
        scanned.append({ job->id, previousOffset, std::move(recordSet) });
    }

    sendBrokerFetch(brokerId);

    for (ScannedRecordSet& set : scanned) {
        KafkaResult<QList<KafkaRecord>> records = set.recordSet.decode();
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
    emit fetchJobFailed(job.id, std::move(error));
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

void KafkaFetcher::onFetchResumeAllRequested()
{
    QList<FetchJob> resumed;
    for (FetchJob& job : fetchJobs) {
        if ((job.paused && job.state != FetchJob::State::Finished) || job.state == FetchJob::State::Failed) {
            job.paused = false;
            job.state = FetchJob::State::Fetching;
            resumed.append(job);
        }
    }
    for (const FetchJob& job : resumed)
        onFetchJobRequested(job);
}

void KafkaFetcher::onClusterClientConnectionReady(int32_t brokerId)
{
    QList<FetchJob> waiting;
    for (const FetchJob& job : fetchJobs) {
        if (job.brokerId == brokerId && job.state == FetchJob::State::WaitingForConnection)
            waiting.append(job);
    }
    for (const FetchJob& job : waiting)
        onFetchJobRequested(job);

    QList<std::int32_t> lookups;
    for (const FetchOffsetJob& job : fetchOffsetJobs) {
        if (job.brokerId == brokerId && job.state == FetchOffsetJob::State::WaitingForConnection)
            lookups.append(job.id);
    }
    for (std::int32_t id : lookups)
        doFetchTopicPartitionOffset(id, nullptr);
}

// The leader's connection failed while nothing was waiting on it: every job
// that reads from that broker has lost its way there, also one whose first
// request was given to the connection just before the failure.
void KafkaFetcher::onClusterClientConnectionError(int32_t brokerId, KafkaError error)
{
    auto brokerFetch = brokerFetches.find(brokerId);
    if (brokerFetch != brokerFetches.end()) {
        brokerFetch->second.inFlight = false;
        brokerFetch->second.partitions.clear();
    }
    QList<std::int32_t> failed;
    for (FetchJob& job : fetchJobs) {
        if (job.brokerId != brokerId)
            continue;
        job.requested = false;
        if (job.state == FetchJob::State::New || job.state == FetchJob::State::WaitingForConnection
            || job.state == FetchJob::State::Fetching)
            failed.append(job.id);
    }
    for (std::int32_t id : failed) {
        if (FetchJob* job = findRunningFetchJobById(id))
            failFetchJob(*job, error);
    }

    QList<std::int32_t> lookups;
    for (const FetchOffsetJob& job : fetchOffsetJobs) {
        if (job.brokerId == brokerId
            && (job.state == FetchOffsetJob::State::WaitingForConnection
                || job.state == FetchOffsetJob::State::Requested))
            lookups.append(job.id);
    }
    for (std::int32_t id : lookups)
        finishFetchOffsetJob(id, error);
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
