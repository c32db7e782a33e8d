#pragma once

#include "Error.h"
#include "ErrorBatch.h"
#include "KafkaListOffsetsRequest.h"
#include "KafkaRawResponse.h"
#include "LeaderRetry.h"
#include "Result.h"

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

class KafkaClusterClient;

// The latest offsets of many partitions at once, from which a consumer
// group's lag is derived: one ListOffsets request to the leader of each
// partition as the cluster metadata names it, without a leader epoch (as the
// record fetcher sends none: an epoch read before a leader change would fence
// the request). A partition whose leader has moved or cannot be reached is
// asked again after LeaderRetry's backoff and a metadata refresh, until its
// window has passed. A topic that the metadata does not list, which may have
// been created since it was read, is looked up once more after the metadata
// has been read again before it counts as missing.
//
// A pass over a million partitions looks each one up in hashed copies of the
// metadata; failures are reported one per cause (a topic missing from the
// metadata, a failed partition state), at most ErrorBatch::MaxKept of them
// for the whole lookup and then one entry counting the rest once nothing is
// awaited any more; partitions that an answer holds without being asked are
// ignored. A leader's partitions go in requests of at most
// MaxPartitionsPerRequest.
//
// Threads: lives on the thread that creates it (the GUI thread); the
// connections answer on it, with the lookup as context object, so deleting
// the lookup drops its answers and retries.
class KafkaLatestOffsetsLookup : public QObject {
    Q_OBJECT

public:
    struct Topic {
        QString name;
        QList<std::int32_t> partitions;
    };
    struct Offset {
        QString topic;
        std::int32_t partition = 0;
        std::int64_t offset = -1;
    };
    using OffsetsCallback = std::function<void(const QList<Offset>&)>;
    using ErrorsCallback = std::function<void(QList<KafkaError>)>;

    // Partitions per ListOffsets request: an answer takes about 30 bytes a
    // partition and 250 more a topic, so 10,000 partitions stay far below the
    // connection's response limit of 16 MB while a group of a million
    // partitions needs only 100 requests.
    static constexpr qsizetype MaxPartitionsPerRequest = 10000;

    // The callbacks run on the lookup's thread, once per answer or pass that
    // found something.
    KafkaLatestOffsetsLookup(KafkaClusterClient& clusterClient, OffsetsCallback offsetsFound,
        ErrorsCallback errorsFound, QObject* parent = nullptr);

    void start(const QList<Topic>& topics);

private:
    void lookUp(const QList<Topic>& topics);
    void onAnswer(const QList<KafkaListOffsetsRequest::Topic>& asked, KafkaResult<KafkaRawResponse>& answer);
    void retry(const QList<Topic>& topics, KafkaError lastError);
    void report();

    KafkaClusterClient& clusterClient;
    OffsetsCallback offsetsFound;
    ErrorsCallback errorsFound;
    LeaderRetry leaderRetry;
    ErrorBatch failures;
    // Requests sent and retries waiting, not yet answered or resumed.
    int awaited = 0;
    // Whether the metadata has been read again for topics it did not list.
    bool metadataReadAgain = false;
};
