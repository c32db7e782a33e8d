#include "TestConsumerGroup.h"

#include <QDeadlineTimer>

TestConsumerGroup::~TestConsumerGroup()
{
    if (m_client)
        rd_kafka_consumer_close(m_client.get());
}

QString TestConsumerGroup::join(const QString& bootstrap, const QString& groupId, const QStringList& topics)
{
    QString error;
    // The test does not poll while it looks at the group; stay a member meanwhile.
    m_client = rdKafkaClient(RD_KAFKA_CONSUMER, bootstrap,
        { { "group.id", groupId.toUtf8() }, { "enable.auto.commit", "false" }, { "auto.offset.reset", "earliest" },
            { "max.poll.interval.ms", "3600000" } },
        error);
    if (!m_client)
        return error;
    rd_kafka_poll_set_consumer(m_client.get());
    const RdKafkaPartitionListHandle subscription(rd_kafka_topic_partition_list_new(int(topics.size())));
    for (const QString& topic : topics)
        rd_kafka_topic_partition_list_add(subscription.get(), topic.toUtf8().constData(), RD_KAFKA_PARTITION_UA);
    if (const rd_kafka_resp_err_t result = rd_kafka_subscribe(m_client.get(), subscription.get()))
        return rdKafkaErrorText(result);

    const QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        // Polling serves the rebalance; what it returns is dropped.
        const RdKafkaMessageHandle message(rd_kafka_consumer_poll(m_client.get(), 100));
        rd_kafka_topic_partition_list_t* raw = nullptr;
        if (rd_kafka_assignment(m_client.get(), &raw) == RD_KAFKA_RESP_ERR_NO_ERROR
            && RdKafkaPartitionListHandle(raw)->cnt > 0)
            return {};
    }
    return QStringLiteral("No partitions assigned within 60 s");
}

QString TestConsumerGroup::commit(const QList<PartitionOffset>& offsets)
{
    const RdKafkaPartitionListHandle list(rd_kafka_topic_partition_list_new(int(offsets.size())));
    for (const PartitionOffset& entry : offsets)
        rd_kafka_topic_partition_list_add(list.get(), entry.topic.toUtf8().constData(), entry.partition)->offset
            = entry.offset;
    if (const rd_kafka_resp_err_t result = rd_kafka_commit(m_client.get(), list.get(), 0))
        return rdKafkaErrorText(result);
    for (int i = 0; i < list->cnt; ++i) {
        if (list->elems[i].err != RD_KAFKA_RESP_ERR_NO_ERROR)
            return rdKafkaErrorText(list->elems[i].err);
    }
    return {};
}
