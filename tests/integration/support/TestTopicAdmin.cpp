#include "TestTopicAdmin.h"

#include <QDeadlineTimer>
#include <QThread>

#include <array>

namespace {
constexpr int TimeoutMs = 30000;
}

QString TestTopicAdmin::createTopic(const QString& topic, int partitions, TimestampType timestampType)
{
    return create(topic, partitions, 1, [timestampType](rd_kafka_NewTopic_t* newTopic) {
        if (timestampType == TimestampType::LogAppendTime)
            rd_kafka_NewTopic_set_config(newTopic, "message.timestamp.type", "LogAppendTime");
        return QString();
    });
}

QString TestTopicAdmin::createTopic(const QString& topic, const QList<QList<std::int32_t>>& replicas)
{
    return create(topic, int(replicas.size()), -1, [&replicas](rd_kafka_NewTopic_t* newTopic) {
        std::array<char, 512> reason {};
        for (int partition = 0; partition < replicas.size(); ++partition) {
            QList<std::int32_t> brokers = replicas[partition];
            if (rd_kafka_NewTopic_set_replica_assignment(newTopic, partition, brokers.data(), size_t(brokers.size()),
                    reason.data(), reason.size())
                != RD_KAFKA_RESP_ERR_NO_ERROR)
                return QString::fromUtf8(reason.data());
        }
        return QString();
    });
}

QString TestTopicAdmin::create(const QString& topic, int partitions, int replicationFactor,
    const std::function<QString(rd_kafka_NewTopic_t*)>& configure)
{
    QString error;
    if (!m_client && !(m_client = rdKafkaClient(RD_KAFKA_PRODUCER, m_bootstrap, {}, error)))
        return error;
    std::array<char, 512> reason {};
    RdKafkaNewTopicHandle newTopic(
        rd_kafka_NewTopic_new(topic.toUtf8().constData(), partitions, replicationFactor, reason.data(), reason.size()));
    if (!newTopic)
        return QStringLiteral("Topic %1 refused: %2").arg(topic, QString::fromUtf8(reason.data()));
    if (const QString refused = configure(newTopic.get()); !refused.isEmpty())
        return QStringLiteral("Topic %1 refused: %2").arg(topic, refused);
    RdKafkaAdminOptionsHandle options(rd_kafka_AdminOptions_new(m_client.get(), RD_KAFKA_ADMIN_OP_CREATETOPICS));
    rd_kafka_AdminOptions_set_operation_timeout(options.get(), TimeoutMs, reason.data(), reason.size());
    rd_kafka_AdminOptions_set_request_timeout(options.get(), TimeoutMs, reason.data(), reason.size());
    const RdKafkaQueueHandle queue(rd_kafka_queue_new(m_client.get()));
    std::array<rd_kafka_NewTopic_t*, 1> topics { newTopic.get() };
    rd_kafka_CreateTopics(m_client.get(), topics.data(), topics.size(), options.get(), queue.get());

    // The operation's own timeout error arrives before this one.
    const RdKafkaEventHandle event(rd_kafka_queue_poll(queue.get(), TimeoutMs + 5000));
    if (!event)
        return QStringLiteral("No answer to creating topic %1").arg(topic);
    if (const QString failed = rdKafkaErrorText(rd_kafka_event_error(event.get())); !failed.isEmpty())
        return failed;
    size_t count = 0;
    const rd_kafka_topic_result_t** results
        = rd_kafka_CreateTopics_result_topics(rd_kafka_event_CreateTopics_result(event.get()), &count);
    for (size_t i = 0; i < count; ++i) {
        if (rd_kafka_topic_result_error(results[i]) != RD_KAFKA_RESP_ERR_NO_ERROR)
            return QStringLiteral("%1: %2").arg(topic, QString::fromUtf8(rd_kafka_topic_result_error_string(results[i])));
    }
    return waitForLeaders(topic, partitions);
}

QString TestTopicAdmin::waitForLeaders(const QString& topic, int partitions)
{
    const QByteArray name = topic.toUtf8();
    const QDeadlineTimer deadline(TimeoutMs);
    while (!deadline.hasExpired()) {
        const rd_kafka_metadata_t* raw = nullptr;
        const rd_kafka_resp_err_t error = rd_kafka_metadata(m_client.get(), 1, nullptr, &raw, 5000);
        const RdKafkaMetadataHandle metadata(raw);
        for (int t = 0; error == RD_KAFKA_RESP_ERR_NO_ERROR && t < metadata->topic_cnt; ++t) {
            const rd_kafka_metadata_topic_t& entry = metadata->topics[t];
            int ready = 0;
            for (int p = 0; p < entry.partition_cnt; ++p)
                ready += entry.partitions[p].err == RD_KAFKA_RESP_ERR_NO_ERROR && entry.partitions[p].leader >= 0;
            if (name == entry.topic && entry.err == RD_KAFKA_RESP_ERR_NO_ERROR && ready == partitions)
                return {};
        }
        QThread::msleep(100);
    }
    return QStringLiteral("Topic %1 has no leader for every partition within %2 ms").arg(topic).arg(TimeoutMs);
}
