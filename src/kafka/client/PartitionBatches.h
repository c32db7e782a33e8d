#pragma once

// Requests that name many partitions (OffsetFetch, ListOffsets) are sent in
// batches, so that no answer outgrows the response size limit of the
// connection, however many partitions a group has.

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <functional>

// The topics of one request split into requests of at most `maxPartitions`
// partitions each, in order; `partitions` is the member holding a topic's
// partitions. A topic whose partitions straddle two batches is named in both.
template <typename Topic, typename Partitions>
QList<QList<Topic>> partitionBatches(const QList<Topic>& topics, Partitions Topic::*partitions, qsizetype maxPartitions)
{
    QList<QList<Topic>> batches;
    qsizetype inLast = maxPartitions;
    for (const Topic& topic : topics) {
        const Partitions& all = topic.*partitions;
        for (qsizetype first = 0; first < all.size();) {
            if (inLast == maxPartitions) {
                batches.emplaceBack();
                inLast = 0;
            }
            const qsizetype count = std::min(all.size() - first, maxPartitions - inLast);
            Topic& part = batches.last().emplaceBack(topic);
            part.*partitions = all.mid(first, count);
            inLast += count;
            first += count;
        }
    }
    return batches;
}

// The partitions that one batch asks for, by topic name, for an answer to be
// checked against: each partition answered is taken out, so that one named
// twice, or not asked for, is seen. `index` gives the number of an element of
// `partitions`.
template <typename Topic, typename Partitions, typename Index = std::identity>
QHash<QString, QSet<std::int32_t>> askedPartitions(
    const QList<Topic>& batch, Partitions Topic::*partitions, Index index = {})
{
    QHash<QString, QSet<std::int32_t>> asked;
    for (const Topic& topic : batch) {
        QSet<std::int32_t>& ofTopic = asked[topic.name];
        for (const auto& partition : topic.*partitions)
            ofTopic.insert(std::invoke(index, partition));
    }
    return asked;
}
