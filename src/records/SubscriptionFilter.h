#pragma once

#include <QString>

#include <cstdint>
#include <limits>

struct Filter;

// What to fetch for one filter: the ranges and per-partition limits that its
// conditions imply. All ranges are inclusive.
struct SubscriptionFilter {
    QString topic;
    std::int64_t partitionMin = 0;
    std::int64_t partitionMax = std::numeric_limits<std::int64_t>::max();
    std::int64_t offsetMin = 0;
    std::int64_t offsetMax = -1; // -1: no bound
    std::int64_t timestampMin = -2; // -2: from the earliest offset
    std::int64_t timestampMax = -1; // -1: up to the latest offset
    std::int64_t firstN = -1; // -1: no limit
    std::int64_t lastN = -1; // -1: no limit

    friend bool operator==(const SubscriptionFilter&, const SubscriptionFilter&) = default;
};

// The fetch bounds of a filter. Conditions on one target intersect, so
// contradicting conditions may leave an empty range (min above max). Key,
// Header and Body conditions leave the bounds alone.
SubscriptionFilter buildSubscriptionFilter(const Filter& filter);
