#pragma once

// What the fetch loop and the offset lookups share in reading the broker's
// answers.

#include <QList>
#include <QString>

#include <cstdint>

namespace KafkaFetcherResponses {

// The leader epoch sent with fetches and offset lookups: none, so that the
// leader does not check it. The metadata is read once, at the bootstrap; the
// epoch it gave is out of date after a leader change (a broker restart is
// one), and checking it would fence every later request.
constexpr std::int32_t NoLeaderEpoch = -1;

inline QString number(std::int64_t value)
{
    return QString::number(value);
}

// The partition of a Fetch or ListOffsets response that answers for `topic`
// and `partition`; `name` is the member holding a response topic's name.
template <typename Topic>
auto findPartition(const QList<Topic>& topics, QString Topic::*name, const QString& topic, std::int32_t partition)
    -> const typename decltype(Topic::partitions)::value_type*
{
    for (const Topic& answered : topics) {
        if (answered.*name != topic)
            continue;
        for (const auto& candidate : answered.partitions) {
            if (candidate.partitionIndex == partition)
                return &candidate;
        }
    }
    return nullptr;
}

} // namespace KafkaFetcherResponses
