#include "CountingConsumer.h"

#include <QElapsedTimer>

#include <array>

namespace {

// Messages taken from the queue in one call.
constexpr int PollBatch = 10000;
// How long the consumer waits in one call for messages before it looks again.
constexpr int PollWaitMs = 100;
// A run that gets no message for this long has failed.
constexpr qint64 StallLimitMs = 60000;

// Large fetches, a deep prefetch queue and no pause at the broker: the
// settings a throughput-minded librdkafka consumer would choose.
const RdKafkaSettings TunedSettings {
    { "enable.auto.commit", "false" },
    { "enable.auto.offset.store", "false" },
    { "auto.offset.reset", "earliest" },
    { "fetch.max.bytes", "52428800" },
    { "max.partition.fetch.bytes", "4194304" },
    { "fetch.min.bytes", "1" },
    { "fetch.wait.max.ms", "10" },
    { "queued.min.messages", "1000000" },
    { "queued.max.messages.kbytes", "1048576" },
    { "receive.message.max.bytes", "104857600" },
    { "check.crcs", "false" },
    { "enable.partition.eof", "false" },
};

} // namespace

CountingConsumer::Run CountingConsumer::consume(
    const QString& bootstrap, const QString& topic, int partitions, std::int64_t expected)
{
    Run run;
    RdKafkaSettings settings = TunedSettings;
    settings.append(std::pair<const char*, QByteArray>("group.id", "skelvane-bench-peer"));
    RdKafkaHandle client = rdKafkaClient(RD_KAFKA_CONSUMER, bootstrap, settings, run.error);
    if (!client)
        return run;
    const QByteArray topicName = topic.toUtf8();
    const RdKafkaPartitionListHandle assignment(rd_kafka_topic_partition_list_new(partitions));
    for (int partition = 0; partition < partitions; ++partition)
        rd_kafka_topic_partition_list_add(assignment.get(), topicName.constData(), partition)->offset
            = RD_KAFKA_OFFSET_BEGINNING;
    if (const rd_kafka_resp_err_t error = rd_kafka_assign(client.get(), assignment.get())) {
        run.error = rdKafkaErrorText(error);
        return run;
    }
    const RdKafkaQueueHandle queue(rd_kafka_queue_get_consumer(client.get()));

    std::array<rd_kafka_message_t*, PollBatch> messages {};
    QElapsedTimer steady;
    QElapsedTimer sinceLast;
    sinceLast.start();
    while (run.messages < expected) {
        const ssize_t count = rd_kafka_consume_batch_queue(queue.get(), PollWaitMs, messages.data(), messages.size());
        if (count < 0) {
            run.error = rdKafkaErrorText(rd_kafka_last_error());
            break;
        }
        std::int64_t counted = 0;
        for (ssize_t i = 0; i < count; ++i) {
            if (messages[size_t(i)]->err == RD_KAFKA_RESP_ERR_NO_ERROR)
                ++counted;
            else if (run.error.isEmpty())
                run.error = rdKafkaErrorText(messages[size_t(i)]->err);
            rd_kafka_message_destroy(messages[size_t(i)]);
        }
        if (!run.error.isEmpty())
            break;
        if (counted > 0) {
            if (!steady.isValid())
                steady.start();
            else
                run.steadyMessages += counted;
            run.messages += counted;
            sinceLast.restart();
        } else if (sinceLast.elapsed() > StallLimitMs) {
            run.error = QStringLiteral("no message for %1 s after %2 of %3")
                            .arg(StallLimitMs / 1000).arg(run.messages).arg(expected);
            break;
        }
    }
    if (steady.isValid())
        run.steadySeconds = double(steady.nsecsElapsed()) / 1e9;
    rd_kafka_consumer_close(client.get());
    return run;
}

std::int64_t CountingConsumer::countMessages(const QString& bootstrap, const QString& topic, int partitions)
{
    QString error;
    RdKafkaHandle client = rdKafkaClient(RD_KAFKA_CONSUMER, bootstrap, { { "group.id", "skelvane-bench-peer" } }, error);
    if (!client)
        return -1;
    const QByteArray topicName = topic.toUtf8();
    std::int64_t total = 0;
    for (int partition = 0; partition < partitions; ++partition) {
        int64_t low = 0;
        int64_t high = 0;
        if (rd_kafka_query_watermark_offsets(client.get(), topicName.constData(), partition, &low, &high, 10000)
            != RD_KAFKA_RESP_ERR_NO_ERROR)
            return -1;
        total += high - low;
    }
    return total;
}
