#pragma once

#include "RdKafka.h"

#include <QString>

#include <cstdint>

// The peer of the fetcher benchmarks: a librdkafka consumer tuned for
// throughput that reads every partition of a topic from its first offset and
// only counts the messages, as a client that hands records on at once would.
class CountingConsumer {
public:
    struct Run {
        // Messages counted, and those after the first batch the consumer
        // handed over (the steady part).
        std::int64_t messages = 0;
        std::int64_t steadyMessages = 0;
        // From the first batch handed over to the last message.
        double steadySeconds = 0;
        QString error;
    };

    // Reads `expected` messages of `partitions` partitions of `topic`.
    static Run consume(const QString& bootstrap, const QString& topic, int partitions, std::int64_t expected);

    // The number of messages the partitions hold now; -1 when the broker
    // cannot say.
    static std::int64_t countMessages(const QString& bootstrap, const QString& topic, int partitions);
};
