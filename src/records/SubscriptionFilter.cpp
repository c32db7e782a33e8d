#include "SubscriptionFilter.h"

#include "Filter.h"

#include <algorithm>
#include <utility>

namespace {

constexpr std::int64_t Largest = std::numeric_limits<std::int64_t>::max();

// The inclusive range that a Partition, Offset or Timestamp condition allows.
std::pair<std::int64_t, std::int64_t> conditionRange(const FilterCondition& condition)
{
    switch (condition.operation) {
    case FilterCondition::Operator::EqualTo:
        return { condition.value, condition.value };
    case FilterCondition::Operator::GreaterThan:
        return { condition.min, Largest };
    case FilterCondition::Operator::LowerThan:
        return { 0, condition.max };
    case FilterCondition::Operator::Between:
        return { condition.min, condition.max };
    default:
        return { 0, Largest };
    }
}

// Limits the count to n; a negative count is unset.
void limitCount(std::int64_t& count, std::int64_t n)
{
    count = count < 0 ? n : std::min(count, n);
}

} // namespace

SubscriptionFilter buildSubscriptionFilter(const Filter& filter)
{
    SubscriptionFilter subscription;
    subscription.topic = filter.topic;
    for (const FilterCondition& condition : filter.conditions) {
        switch (condition.target) {
        case FilterCondition::Target::Records:
            if (condition.operation == FilterCondition::Operator::First)
                limitCount(subscription.firstN, condition.max);
            else if (condition.operation == FilterCondition::Operator::Last)
                limitCount(subscription.lastN, condition.min);
            break;
        case FilterCondition::Target::Partition: {
            const auto [lo, hi] = conditionRange(condition);
            subscription.partitionMin = std::max(subscription.partitionMin, lo);
            subscription.partitionMax = std::min(subscription.partitionMax, hi);
            break;
        }
        case FilterCondition::Target::Offset: {
            const auto [lo, hi] = conditionRange(condition);
            subscription.offsetMin = std::max(subscription.offsetMin, lo);
            subscription.offsetMax = subscription.offsetMax < 0 ? hi : std::min(subscription.offsetMax, hi);
            break;
        }
        case FilterCondition::Target::Timestamp: {
            const auto [lo, hi] = conditionRange(condition);
            subscription.timestampMin = subscription.timestampMin == -2 ? lo : std::max(subscription.timestampMin, lo);
            subscription.timestampMax = subscription.timestampMax == -1 ? hi : std::min(subscription.timestampMax, hi);
            break;
        }
        case FilterCondition::Target::Key:
        case FilterCondition::Target::Header:
        case FilterCondition::Target::Body:
            break;
        }
    }
    return subscription;
}
