#pragma once

#include "KafkaFetcher.h"

#include <cstdint>
#include <optional>

struct SubscriptionFilter;

// The offsets of one partition that one fetch job reads: from start up to
// and including end, or from start on for ever (following the partition)
// when end is -1.
struct FetchRange {
    std::int64_t start = 0;
    std::int64_t end = -1;

    friend bool operator==(const FetchRange&, const FetchRange&) = default;

    // The range that a filter's fetch bounds select in a partition whose
    // offsets were resolved from the bounds' time range; none when nothing
    // is to be fetched. nowMs: the current time, milliseconds since the epoch.
    //
    // The job follows the partition only when the bounds set no upper offset
    // (the largest offset, as "greater than" leaves it, sets none), no
    // first-N limit and no end time in the past. A time range that ends
    // before the partition's first record selects nothing.
    static std::optional<FetchRange> forBounds(const SubscriptionFilter& bounds,
        const KafkaFetcher::OffsetsResult& offsets, std::int64_t nowMs);

    // The timestamp at which the end offset of the bounds' time range is to
    // be looked up: a millisecond after the end time, since the range ends
    // before the first offset found there and includes the records stamped
    // with the end time itself. -1 (no end) and the largest value (a range
    // open upwards) are kept.
    static std::int64_t endLookupTimestamp(const SubscriptionFilter& bounds);
};
