#include "KafkaFetcher.h"

#include "KafkaClusterClient.h"
#include "KafkaFetcherResponses.h"

#include <utility>

using namespace KafkaFetcherResponses;

// --- following the leader (fetch thread) -----------------------------------

namespace {

KafkaError noBrokerServes(KafkaError error, const QString& topic, std::int32_t partition)
{
    const KafkaErrorCode code = error.code;
    return error.wrap(code,
        QStringLiteral("No broker could serve %1-%2 within %3 s")
            .arg(topic, number(partition), number(LeaderRetry::TimeLimitMs / 1000)));
}

} // namespace

void KafkaFetcher::retryFetchJob(FetchJob& job, KafkaError error)
{
    if (!awaitNextAttempt(job))
        failFetchJob(job, noBrokerServes(std::move(error), job.topic, job.partition));
}

// A job that has had a leader may find its partition missing from metadata
// read while it fails over: a broker that is starting answers for a moment
// with itself but not yet all of its topics. It waits like a job whose leader
// is not known; once the time limit has passed the partition is taken to be
// gone. A job that never had a leader looks once more only, after the
// metadata has been read again.
void KafkaFetcher::retryMissingPartition(FetchJob& job, KafkaError error)
{
    const bool failingOver = job.brokerId >= 0;
    if ((!failingOver && job.retry.attempts() > 0) || !awaitNextAttempt(job))
        failFetchJob(job, std::move(error));
}

bool KafkaFetcher::awaitNextAttempt(FetchJob& job)
{
    job.requested = false;
    job.stalled = false;
    if (job.state == FetchJob::State::WaitingForConnection)
        return true;
    const int backoffMs = job.retry.nextBackoff();
    if (backoffMs < 0)
        return false;
    job.state = FetchJob::State::WaitingForConnection;
    const auto waiting = [this, id = job.id, generation = job.retry.generation()]() -> FetchJob* {
        FetchJob* found = findRunningFetchJobById(id);
        return found && found->state == FetchJob::State::WaitingForConnection && found->retry.generation() == generation
            ? found
            : nullptr;
    };
    const auto stillWaiting = [waiting] { return waiting() != nullptr; };
    LeaderRetry::afterBackoffAndRefresh(clusterClient, this, backoffMs, stillWaiting, [this, waiting] {
        // A paused job waits for resume, which asks again.
        FetchJob* due = waiting();
        if (!due || due->paused)
            return;
        due->state = FetchJob::State::Fetching;
        onFetchJobRequested(*due);
    });
    return true;
}

void KafkaFetcher::retryOffsetLookup(FetchOffsetJob& job, KafkaError error)
{
    if (!awaitNextAttempt(job))
        finishFetchOffsetJob(job.id, noBrokerServes(std::move(error), job.topic, job.partition));
}

// As for a fetch job: a lookup that has asked a leader waits out the time
// limit for its partition to come back into the metadata.
void KafkaFetcher::retryMissingPartition(FetchOffsetJob& job, KafkaError error)
{
    const bool failingOver = job.brokerId >= 0;
    if ((!failingOver && job.retry.attempts() > 0) || !awaitNextAttempt(job))
        finishFetchOffsetJob(job.id, std::move(error));
}

bool KafkaFetcher::awaitNextAttempt(FetchOffsetJob& job)
{
    if (job.state == FetchOffsetJob::State::WaitingForConnection)
        return true;
    const int backoffMs = job.retry.nextBackoff();
    if (backoffMs < 0)
        return false;
    job.state = FetchOffsetJob::State::WaitingForConnection;
    const auto waiting = [this, id = job.id, generation = job.retry.generation()]() -> FetchOffsetJob* {
        FetchOffsetJob* found = findFetchOffsetJob(id);
        return found && found->state == FetchOffsetJob::State::WaitingForConnection
                && found->retry.generation() == generation
            ? found
            : nullptr;
    };
    const auto stillWaiting = [waiting] { return waiting() != nullptr; };
    LeaderRetry::afterBackoffAndRefresh(clusterClient, this, backoffMs, stillWaiting, [this, waiting] {
        if (FetchOffsetJob* due = waiting()) {
            due->state = FetchOffsetJob::State::New;
            doFetchTopicPartitionOffset(due->id, nullptr);
        }
    });
    return true;
}

// Failed jobs, and jobs that were waiting for the leader, start again from
// metadata read anew.
void KafkaFetcher::onFetchResumeAllRequested()
{
    QList<std::int32_t> resumed;
    bool refresh = false;
    for (FetchJob& job : fetchJobs) {
        if ((job.paused && job.state != FetchJob::State::Finished) || job.state == FetchJob::State::Failed) {
            refresh = refresh || job.state == FetchJob::State::Failed
                || job.state == FetchJob::State::WaitingForConnection;
            job.paused = false;
            job.retry.reset();
            job.state = FetchJob::State::WaitingForConnection;
            resumed.append(job.id);
        }
    }
    const auto request = [this, resumed] {
        for (std::int32_t id : resumed) {
            FetchJob* job = findRunningFetchJobById(id);
            if (!job || job->paused || job->state != FetchJob::State::WaitingForConnection)
                continue;
            job->state = FetchJob::State::Fetching;
            onFetchJobRequested(*job);
        }
    };
    if (refresh)
        clusterClient.refreshMetadata(this, [request](const std::optional<KafkaError>&) { request(); });
    else
        request();
}

// The fetcher's connection to a leader failed while nothing was waiting on
// it: every job that reads from that broker has lost its way there, also one
// whose first request was given to the connection just before the failure.
void KafkaFetcher::onFetchConnectionError(int32_t brokerId, KafkaError error)
{
    auto brokerFetch = brokerFetches.find(brokerId);
    if (brokerFetch != brokerFetches.end()) {
        brokerFetch->second.inFlight = false;
        brokerFetch->second.partitions.clear();
    }
    QList<std::int32_t> lost;
    for (FetchJob& job : fetchJobs) {
        if (job.brokerId != brokerId)
            continue;
        job.requested = false;
        if (job.state == FetchJob::State::New || job.state == FetchJob::State::Fetching)
            lost.append(job.id);
    }
    for (std::int32_t id : lost) {
        if (FetchJob* job = findRunningFetchJobById(id))
            retryFetchJob(*job, error);
    }
}

// A shared connection failed while nothing was waiting on it: the offset
// lookups asked of that broker have lost their answer.
void KafkaFetcher::onClusterClientConnectionError(int32_t brokerId, KafkaError error)
{
    QList<std::int32_t> lookups;
    for (const FetchOffsetJob& job : fetchOffsetJobs) {
        if (job.brokerId == brokerId && job.state == FetchOffsetJob::State::Requested)
            lookups.append(job.id);
    }
    for (std::int32_t id : lookups) {
        if (FetchOffsetJob* job = findFetchOffsetJob(id))
            retryOffsetLookup(*job, error);
    }
}
