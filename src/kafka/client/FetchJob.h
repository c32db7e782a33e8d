#pragma once

#include "LeaderRetry.h"

#include <QMetaType>
#include <QString>

#include <cstdint>

// One range of offsets of one partition that the fetcher reads: from
// startOffset up to and including endOffset, or for ever when endOffset is -1.
struct FetchJob {
    enum class State : std::int32_t {
        New = 0,
        // The leader could not be reached or has moved, or the metadata
        // lacks the partition: the job waits for its next attempt (see
        // LeaderRetry).
        WaitingForConnection = 1,
        Fetching = 2,
        Finished = 3,
        Failed = 4,
    };

    std::int32_t id = 0;
    // Node id of the partition leader; -1 until known.
    std::int32_t brokerId = -1;
    QString topic;
    std::int32_t partition = 0;
    // From the last Fetch response; -1 until known.
    std::int64_t highWatermark = -1;
    // End of the committed records (what a read-committed fetch can see) from
    // the last Fetch response; -1 until known.
    std::int64_t lastStableOffset = -1;
    std::int64_t startOffset = 0;
    // Offset of the next Fetch request.
    std::int64_t nextOffset = 0;
    // Last offset wanted (inclusive); -1 follows the partition for ever.
    std::int64_t endOffset = -1;
    State state = State::New;
    bool paused = false;

    // A Fetch request for the job is under way.
    bool requested = false;
    // The last response held only the start of a batch larger than the
    // fetch limits: the next request puts the partition first, where the
    // broker returns a whole batch whatever its size.
    bool stalled = false;
    // Bytes of the batch the next request starts with, as far as the last
    // answer that held any batch showed it (see
    // KafkaFetchedRecordSet::nextBatchSize); 0 until then.
    std::int64_t nextBatchSize = 0;
    // Attempts to reach the partition's current leader since the last answer.
    LeaderRetry retry;

    // Whether the range has been read: the next offset lies past the end.
    bool rangeComplete() const { return endOffset >= 0 && nextOffset > endOffset; }
    // Offset up to which the partition can be read now, or -1 when unknown.
    std::int64_t readableEnd() const { return lastStableOffset >= 0 ? lastStableOffset : highWatermark; }
};

Q_DECLARE_METATYPE(FetchJob)
