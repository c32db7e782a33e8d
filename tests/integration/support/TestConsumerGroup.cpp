#include "TestConsumerGroup.h"

#include "RdKafkaConfig.h"
#include "RdKafkaErrorText.h"

#include <QDeadlineTimer>

TestConsumerGroup::~TestConsumerGroup()
{
    if (m_client) {
        rd_kafka_consumer_close(m_client.get());
    }
}

QString TestConsumerGroup::join(const QString& bootstrap, const QString& groupId, const QStringList& topics,
                                std::chrono::milliseconds timeout)
{
    if (m_client) {
        return QStringLiteral("The consumer has already joined a group");
    }
    RdKafkaConfig config(bootstrap);
    config.set("group.id", groupId.toUtf8());
    config.set("enable.auto.commit", "false");
    config.set("enable.auto.offset.store", "false");
    config.set("auto.offset.reset", "earliest");
    // The test does not poll while it looks at the group; stay a member meanwhile.
    config.set("max.poll.interval.ms", "3600000");
    QString error;
    m_client = config.createClient(RD_KAFKA_CONSUMER, error);
    if (!m_client) {
        return error;
    }
    rd_kafka_poll_set_consumer(m_client.get());

    RdKafkaPartitionListHandle subscription(rd_kafka_topic_partition_list_new(static_cast<int>(topics.size())));
    for (const QString& topic : topics) {
        rd_kafka_topic_partition_list_add(subscription.get(), topic.toUtf8().constData(), RD_KAFKA_PARTITION_UA);
    }
    if (const rd_kafka_resp_err_t result = rd_kafka_subscribe(m_client.get(), subscription.get());
        result != RD_KAFKA_RESP_ERR_NO_ERROR) {
        return rdKafkaErrorText(result);
    }

    const QDeadlineTimer deadline(timeout);
    while (!deadline.hasExpired()) {
        // Polling serves the rebalance; records and events it returns are dropped.
        const RdKafkaMessageHandle message(rd_kafka_consumer_poll(m_client.get(), 100));
        if (message && message->err != RD_KAFKA_RESP_ERR_NO_ERROR
            && message->err != RD_KAFKA_RESP_ERR__PARTITION_EOF) {
            error = rdKafkaErrorText(message->err);
        }
        if (!assignment().isEmpty()) {
            return {};
        }
    }
    return QStringLiteral("No partitions assigned within %1 ms (%2)")
        .arg(QString::number(timeout.count()), error.isEmpty() ? QStringLiteral("no error") : error);
}

QList<TestConsumerGroup::PartitionOffset> TestConsumerGroup::assignment() const
{
    QList<PartitionOffset> result;
    if (!m_client) {
        return result;
    }
    rd_kafka_topic_partition_list_t* raw = nullptr;
    if (rd_kafka_assignment(m_client.get(), &raw) != RD_KAFKA_RESP_ERR_NO_ERROR) {
        return result;
    }
    const RdKafkaPartitionListHandle partitions(raw);
    for (int i = 0; i < partitions->cnt; ++i) {
        result.append({QString::fromUtf8(partitions->elems[i].topic), partitions->elems[i].partition, -1});
    }
    return result;
}

QString TestConsumerGroup::commit(const QList<PartitionOffset>& offsets)
{
    if (!m_client) {
        return QStringLiteral("The consumer has not joined a group");
    }
    RdKafkaPartitionListHandle list(rd_kafka_topic_partition_list_new(static_cast<int>(offsets.size())));
    for (const PartitionOffset& entry : offsets) {
        rd_kafka_topic_partition_list_add(list.get(), entry.topic.toUtf8().constData(), entry.partition)->offset =
            entry.offset;
    }
    if (const rd_kafka_resp_err_t result = rd_kafka_commit(m_client.get(), list.get(), 0);
        result != RD_KAFKA_RESP_ERR_NO_ERROR) {
        return rdKafkaErrorText(result);
    }
    for (int i = 0; i < list->cnt; ++i) {
        if (list->elems[i].err != RD_KAFKA_RESP_ERR_NO_ERROR) {
            return QStringLiteral("%1/%2: %3")
                .arg(QString::fromUtf8(list->elems[i].topic), QString::number(list->elems[i].partition),
                     rdKafkaErrorText(list->elems[i].err));
        }
    }
    return {};
}
