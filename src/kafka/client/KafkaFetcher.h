#pragma once

#include "Error.h"
#include "FetchJob.h"
#include "KafkaBatchDecompressor.h"
#include "KafkaFetchResponse.h"
#include "KafkaRawResponse.h"
#include "KafkaRecord.h"
#include "LeaderRetry.h"
#include "Result.h"

#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <unordered_map>

class KafkaClusterClient;
class QThread;

// Reads the records of topic partitions on a thread of its own
// ("FetchThread"): one fetch job per requested range, fetched from the
// partition leaders through the cluster client's connections, decoded and
// delivered by signal. A job without an end follows its partition: records
// produced later keep arriving. The fetcher also resolves timestamps to
// offsets.
//
// A job follows its partition's leader. When the connection to the leader
// fails, or the broker answers that it does not (or no longer) lead the
// partition, the job waits a short backoff, the cluster client reads the
// metadata again through any live broker, and the job goes on from the same
// offset at the leader the metadata now names, without anyone asking. It
// fails only when no broker could serve the partition within LeaderRetry's
// time limit; resuming it reads the metadata again first. A partition missing
// from the metadata read meanwhile (a broker that is starting may not list
// its topics yet) is waited for in the same way. Offset lookups do the same.
//
// The jobs of one broker are fetched together: one Fetch request per broker
// at a time names every partition due there, and the broker holds it until
// one of them has records or the wait limit has passed. Partitions that are
// caught up thus cost one request per wait limit and broker, and no partition
// waits behind another's request.
//
// The Fetch requests go through connections of the fetcher's own (a
// connection group of the cluster client, closed with the fetcher), so that
// their waits at the broker hold up no other request; the offset lookups are
// short and use the shared connections.
//
// Threads: public methods may be called from any thread; they post their
// work to the fetch thread and return at once. Everything else (the job
// lists, the slots, the retry timers, the callbacks of offset lookups and of
// the cluster client's metadata refresh) runs on the fetch thread, and the
// signals are emitted there. The fetcher calls the cluster client's lookups
// and brokerConnectionForId from the fetch thread; the client guards them.
// The fetcher's connection group is opened by the constructor and closed by
// the destructor once the fetch thread has stopped.
class KafkaFetcher : public QObject {
    Q_OBJECT

public:
    // Limits of each Fetch request. The broker answers at once when any named
    // partition has records, else after MaxWaitMs, which also bounds how long
    // a new or resumed job waits for the request under way to its broker. A
    // response holds up to PartitionMaxBytes per partition and MaxBytes in
    // all (the first batch of the first partition comes whole whatever its
    // size).
    //
    // The broker sends nothing of a batch larger than the partition limit
    // but for the first partition of a request, so batches larger than
    // PartitionMaxBytes would come one per answer. A partition whose next
    // batch is uncompressed and that large asks for the batch and the header
    // of the one after it, up to MaxBytes: its answer holds the whole batch,
    // little of the next, and the size of the next. Compressed batches keep
    // the limit that the decode budget of a response is sized for.
    static constexpr std::int32_t MaxWaitMs = 500;
    static constexpr std::int32_t MinBytes = 1;
    static constexpr std::int32_t PartitionMaxBytes = 500000;
    static constexpr std::int32_t MaxBytes = 16'000'000;

    // Offsets resolved from a start and an end timestamp.
    struct OffsetsResult {
        enum class EndOffsetKind : std::int32_t {
            // endOffset is the first offset whose timestamp is at or after
            // the end timestamp.
            AtEndTimestamp = 0,
            // endOffset is the partition's latest offset: the end timestamp
            // was -1 or no offset lies at or after it.
            Latest = 1,
        };

        // First offset whose timestamp is at or after the start timestamp;
        // -1 when there is none.
        std::int64_t startOffset = -1;
        std::int64_t endOffset = -1;
        EndOffsetKind endOffsetKind = EndOffsetKind::AtEndTimestamp;
    };

    using OffsetCallback = std::function<void(Result<long long, Error<KafkaErrorCode>>)>;
    using OffsetsCallback = std::function<void(Result<OffsetsResult, Error<KafkaErrorCode>>)>;

    // One ListOffsets lookup of one partition.
    struct FetchOffsetJob {
        // WaitingForConnection: the leader could not be reached or has
        // moved; the lookup waits for its next attempt.
        enum class State : std::int32_t { New = 0, WaitingForConnection = 1, Requested = 2, Done = 3 };

        std::int32_t id = 0;
        std::int32_t brokerId = -1;
        State state = State::New;
        QString topic;
        std::int32_t partition = 0;
        // Milliseconds since the epoch; -1 asks for the latest offset.
        std::int64_t timestamp = -1;
        // Runs on the fetch thread.
        OffsetCallback callback;
        LeaderRetry retry;
    };

    // The two lookups that turn a time range into offsets.
    struct ResolveTimestampsJob {
        enum class State : std::int32_t { New = 0, ResolvingStart = 1, ResolvingEnd = 2, Done = 3 };

        std::int32_t id = 0;
        State state = State::New;
        QString topic;
        std::int32_t partition = 0;
        std::int64_t startTimestamp = 0;
        // -1: up to the latest offset.
        std::int64_t endTimestamp = -1;
        // The callback runs on this object's thread; it must outlive the fetcher.
        QObject* context = nullptr;
        OffsetsCallback callback;
        std::int64_t startOffset = -1;
        std::int64_t endOffset = -1;
        OffsetsResult::EndOffsetKind endOffsetKind = OffsetsResult::EndOffsetKind::AtEndTimestamp;
    };

    // Starts the fetch thread. The client must outlive the fetcher.
    // `maxWaitMs` is how long the broker holds a Fetch request that finds
    // nothing to return.
    explicit KafkaFetcher(KafkaClusterClient& clusterClient, std::int32_t maxWaitMs = MaxWaitMs);
    // Stops the fetch thread; pending jobs and lookups end without callbacks.
    ~KafkaFetcher() override;

    KafkaFetcher(const KafkaFetcher&) = delete;
    KafkaFetcher& operator=(const KafkaFetcher&) = delete;

    // Fetches startOffset up to and including endOffset, or follows the
    // partition from startOffset when endOffset is -1. Returns the job's id.
    int fetchRecords(const QString& topic, int partition, long long startOffset, long long endOffset);
    void cancelFetchJob(int jobId);
    // Pausing drops the answers still under way; resuming asks again from
    // where each job stood, and restarts failed jobs.
    void pauseAllFetchJobs();
    void resumeAllFetchJobs();

    // The first offset whose timestamp is at or after `timestamp` (-1 asks
    // for the latest offset), or -1 when there is none. The callback runs on
    // the fetch thread.
    void fetchTopicPartitionOffset(const QString& topic, int partition, long long timestamp, OffsetCallback callback);
    // Resolves a start and an end timestamp (-1: none) to offsets; the
    // callback runs on the thread of `context`.
    void fetchOffsetsFromTimestamps(const QString& topic, int partition, long long startTimestamp,
        long long endTimestamp, QObject* context, OffsetsCallback callback);

signals:
    void recordsFetched(int32_t jobId, QList<KafkaRecord> fetchedRecords);
    void fetchJobFailed(int32_t jobId, KafkaError error);
    // Over every job: records read and to read, whether every unfinished job
    // has read what its partition holds, and whether every job has finished.
    void recordsFetchProgress(int64_t fetchedRecords, int64_t totalRecordsToFetch, bool caughtUp, bool done);

private slots:
    void onFetchJobRequested(FetchJob job);
    void onFetchJobCancelRequested(int32_t jobId);
    void onFetchPauseAllRequested();
    void onFetchResumeAllRequested();
    void onClusterClientConnectionError(int32_t brokerId, KafkaError error);
    void onFetchConnectionError(int32_t brokerId, KafkaError error);

private:
    // A partition named in the Fetch request under way to a broker.
    struct RequestedPartition {
        std::int32_t jobId = 0;
        std::int64_t fetchOffset = 0;
    };

    // The Fetch request under way to one broker, if any.
    struct BrokerFetch {
        // Tells an answer to the request under way from a stale one.
        std::uint64_t sequence = 0;
        bool inFlight = false;
        QList<RequestedPartition> partitions;
    };

    FetchJob* findRunningFetchJobById(int jobId);
    bool isDue(const FetchJob& job, std::int32_t brokerId) const;
    void sendBrokerFetch(std::int32_t brokerId);
    QList<FetchJob*> chooseJobsForRequest(std::int32_t brokerId);
    void onFetchResponseReceived(std::int32_t brokerId, std::uint64_t sequence, KafkaResult<KafkaRawResponse> result);
    void handleFetchResponse(const QList<RequestedPartition>& requested, KafkaFetchResponse& response,
        std::int32_t brokerId);
    void failFetchJob(FetchJob& job, KafkaError error);
    void failBeyondLog(FetchJob& job, std::int64_t logStartOffset);
    // A failure that another leader may cure: the job tries again after a
    // backoff and a metadata refresh, or fails once the time limit has passed.
    void retryFetchJob(FetchJob& job, KafkaError error);
    // The partition is missing from the metadata: tried again like a leader
    // that is not known while the job fails over, else failed with `error`.
    void retryMissingPartition(FetchJob& job, KafkaError error);
    // Starts the wait for the job's next attempt, unless one is under way;
    // false once the time limit has passed.
    bool awaitNextAttempt(FetchJob& job);
    void finishOrContinue(FetchJob& job);
    void updateFetchProgress();

    FetchOffsetJob* findFetchOffsetJob(int jobId);
    ResolveTimestampsJob* findResolveTimestampsJob(int jobId);
    void doFetchTopicPartitionOffset(int jobId, KafkaResult<KafkaRawResponse>* response);
    void doResolveTimestampsTopicPartitionOffset(int jobId, KafkaResult<long long>* result);
    void requestTopicPartitionOffset(FetchOffsetJob& job);
    void readTopicPartitionOffset(FetchOffsetJob& job, KafkaResult<KafkaRawResponse>& response);
    void retryOffsetLookup(FetchOffsetJob& job, KafkaError error);
    void retryMissingPartition(FetchOffsetJob& job, KafkaError error);
    bool awaitNextAttempt(FetchOffsetJob& job);
    void finishFetchOffsetJob(int jobId, Result<long long, Error<KafkaErrorCode>> result);
    void deliverResolvedOffsets(int jobId, Result<OffsetsResult, Error<KafkaErrorCode>> result);

    KafkaClusterClient& clusterClient;
    // The group of the connections that carry this fetcher's Fetch requests.
    const std::int32_t connectionGroup;
    const std::int32_t fetchMaxWaitMs;
    QList<FetchJob> fetchJobs;
    QList<FetchOffsetJob> fetchOffsetJobs;
    QList<ResolveTimestampsJob> resolveTimestampsJobs;
    std::atomic<std::int32_t> nextJobId { 0 };
    std::unique_ptr<QThread> fetchThread;

    std::unordered_map<std::int32_t, BrokerFetch> brokerFetches;
    // Fetch thread only: the decompression contexts of every record set decoded.
    KafkaBatchDecompressor recordDecompressor;
    std::uint64_t nextFetchSequence = 1;
};
