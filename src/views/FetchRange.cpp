#include "FetchRange.h"

#include "SubscriptionFilter.h"

#include <QtNumeric>

#include <algorithm>
#include <limits>

namespace {

constexpr std::int64_t Largest = std::numeric_limits<std::int64_t>::max();

} // namespace

std::optional<FetchRange> FetchRange::forBounds(const SubscriptionFilter& bounds,
    const KafkaFetcher::OffsetsResult& offsets, std::int64_t nowMs)
{
    using EndOffsetKind = KafkaFetcher::OffsetsResult::EndOffsetKind;
    const std::int64_t offsetMax = bounds.offsetMax == Largest ? -1 : bounds.offsetMax;
    const bool latest = offsets.endOffsetKind == EndOffsetKind::Latest;

    FetchRange range;
    range.start = offsets.startOffset;
    if (bounds.timestampMax < 0 || (latest && bounds.timestampMax >= nowMs)) {
        range.end = offsetMax >= 0 ? offsetMax : -1;
    } else {
        // The end time has passed: the range ends before the first offset
        // after it, or at the latest offset when there is none.
        range.end = latest ? offsets.endOffset : offsets.endOffset - 1;
        if (range.end < 0)
            return std::nullopt;
        if (offsetMax >= 0)
            range.end = std::min(range.end, offsetMax);
    }
    if (bounds.offsetMin >= 0 && range.start >= 0)
        range.start = std::max(range.start, bounds.offsetMin);
    if (bounds.firstN == 0)
        return std::nullopt;
    if (bounds.firstN > 0) {
        std::int64_t limit = 0;
        if (qAddOverflow(range.start, bounds.firstN - 1, &limit))
            limit = Largest;
        if (range.end < 0 || range.end > limit)
            range.end = limit;
    }
    if (bounds.lastN >= 0)
        range.start = std::max(range.start, offsets.endOffset - bounds.lastN);
    if (range.start < 0 || (range.end >= 0 && range.start > range.end))
        return std::nullopt;
    return range;
}

std::int64_t FetchRange::endLookupTimestamp(const SubscriptionFilter& bounds)
{
    return bounds.timestampMax >= 0 && bounds.timestampMax < Largest ? bounds.timestampMax + 1 : bounds.timestampMax;
}
