#include "TestTopicAdmin.h"

#include "RdKafkaConfig.h"
#include "RdKafkaErrorText.h"

#include <QDeadlineTimer>
#include <QThread>

#include <array>
#include <utility>

namespace {

int toTimeoutMs(std::chrono::milliseconds timeout)
{
    return static_cast<int>(timeout.count());
}

// The per-topic errors of a CreateTopics or DeleteTopics result.
QString topicResultErrors(const rd_kafka_topic_result_t** results, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (rd_kafka_topic_result_error(results[i]) != RD_KAFKA_RESP_ERR_NO_ERROR) {
            const char* message = rd_kafka_topic_result_error_string(results[i]);
            return QStringLiteral("%1: %2").arg(QString::fromUtf8(rd_kafka_topic_result_name(results[i])),
                                                QString::fromUtf8(message != nullptr ? message : ""));
        }
    }
    return {};
}

} // namespace

TestTopicAdmin::TestTopicAdmin(QString bootstrap)
    : m_bootstrap(std::move(bootstrap))
{
}

QString TestTopicAdmin::connect()
{
    if (m_client) {
        return {};
    }
    RdKafkaConfig config(m_bootstrap);
    config.set("allow.auto.create.topics", "false");
    QString error;
    m_client = config.createClient(RD_KAFKA_PRODUCER, error);
    if (m_client) {
        m_queue.reset(rd_kafka_queue_new(m_client.get()));
    }
    return error;
}

QString TestTopicAdmin::createTopic(const QString& topic, int partitions, TimestampType timestampType,
                                    std::chrono::milliseconds timeout)
{
    if (QString error = connect(); !error.isEmpty()) {
        return error;
    }
    std::array<char, 512> reason {};
    RdKafkaNewTopicHandle newTopic(
        rd_kafka_NewTopic_new(topic.toUtf8().constData(), partitions, 1, reason.data(), reason.size()));
    if (!newTopic) {
        return QStringLiteral("Topic %1 refused: %2").arg(topic, QString::fromUtf8(reason.data()));
    }
    if (timestampType == TimestampType::LogAppendTime) {
        const rd_kafka_resp_err_t error =
            rd_kafka_NewTopic_set_config(newTopic.get(), "message.timestamp.type", "LogAppendTime");
        if (error != RD_KAFKA_RESP_ERR_NO_ERROR) {
            return rdKafkaErrorText(error);
        }
    }
    RdKafkaAdminOptionsHandle options(rd_kafka_AdminOptions_new(m_client.get(), RD_KAFKA_ADMIN_OP_CREATETOPICS));
    rd_kafka_AdminOptions_set_operation_timeout(options.get(), toTimeoutMs(timeout), reason.data(), reason.size());
    rd_kafka_AdminOptions_set_request_timeout(options.get(), toTimeoutMs(timeout), reason.data(), reason.size());

    std::array<rd_kafka_NewTopic_t*, 1> topics {newTopic.get()};
    rd_kafka_CreateTopics(m_client.get(), topics.data(), topics.size(), options.get(), m_queue.get());

    QString error;
    const RdKafkaEventHandle event = waitForResult(timeout, error);
    if (!event) {
        return error;
    }
    const rd_kafka_CreateTopics_result_t* result = rd_kafka_event_CreateTopics_result(event.get());
    if (result == nullptr) {
        return QStringLiteral("Unexpected event %1 while creating topic %2")
            .arg(QString::fromUtf8(rd_kafka_event_name(event.get())), topic);
    }
    size_t count = 0;
    const rd_kafka_topic_result_t** results = rd_kafka_CreateTopics_result_topics(result, &count);
    if (error = topicResultErrors(results, count); !error.isEmpty()) {
        return error;
    }
    return waitForLeaders(topic, partitions, timeout);
}

QString TestTopicAdmin::deleteTopic(const QString& topic, std::chrono::milliseconds timeout)
{
    if (QString error = connect(); !error.isEmpty()) {
        return error;
    }
    RdKafkaDeleteTopicHandle deleteTopic(rd_kafka_DeleteTopic_new(topic.toUtf8().constData()));
    RdKafkaAdminOptionsHandle options(rd_kafka_AdminOptions_new(m_client.get(), RD_KAFKA_ADMIN_OP_DELETETOPICS));
    std::array<char, 512> reason {};
    rd_kafka_AdminOptions_set_operation_timeout(options.get(), toTimeoutMs(timeout), reason.data(), reason.size());
    rd_kafka_AdminOptions_set_request_timeout(options.get(), toTimeoutMs(timeout), reason.data(), reason.size());

    std::array<rd_kafka_DeleteTopic_t*, 1> topics {deleteTopic.get()};
    rd_kafka_DeleteTopics(m_client.get(), topics.data(), topics.size(), options.get(), m_queue.get());

    QString error;
    const RdKafkaEventHandle event = waitForResult(timeout, error);
    if (!event) {
        return error;
    }
    const rd_kafka_DeleteTopics_result_t* result = rd_kafka_event_DeleteTopics_result(event.get());
    if (result == nullptr) {
        return QStringLiteral("Unexpected event %1 while deleting topic %2")
            .arg(QString::fromUtf8(rd_kafka_event_name(event.get())), topic);
    }
    size_t count = 0;
    return topicResultErrors(rd_kafka_DeleteTopics_result_topics(result, &count), count);
}

RdKafkaEventHandle TestTopicAdmin::waitForResult(std::chrono::milliseconds timeout, QString& error)
{
    // The operation itself is bounded by the same timeout; the margin lets its
    // own timeout error arrive first.
    RdKafkaEventHandle event(rd_kafka_queue_poll(m_queue.get(), toTimeoutMs(timeout) + 5000));
    if (!event) {
        error = QStringLiteral("No admin result within %1 ms").arg(timeout.count());
        return {};
    }
    if (rd_kafka_event_error(event.get()) != RD_KAFKA_RESP_ERR_NO_ERROR) {
        error = QStringLiteral("%1: %2").arg(QString::fromUtf8(rd_kafka_err2name(rd_kafka_event_error(event.get()))),
                                             QString::fromUtf8(rd_kafka_event_error_string(event.get())));
        return {};
    }
    return event;
}

QString TestTopicAdmin::waitForLeaders(const QString& topic, int partitions, std::chrono::milliseconds timeout)
{
    const QByteArray name = topic.toUtf8();
    const QDeadlineTimer deadline(timeout);
    QString lastState = QStringLiteral("not listed");
    while (!deadline.hasExpired()) {
        const rd_kafka_metadata_t* raw = nullptr;
        const rd_kafka_resp_err_t error = rd_kafka_metadata(m_client.get(), 1, nullptr, &raw, 5000);
        const RdKafkaMetadataHandle metadata(raw);
        if (error != RD_KAFKA_RESP_ERR_NO_ERROR) {
            lastState = rdKafkaErrorText(error);
        } else {
            for (int t = 0; t < metadata->topic_cnt; ++t) {
                const rd_kafka_metadata_topic_t& entry = metadata->topics[t];
                if (name != entry.topic) {
                    continue;
                }
                int ready = 0;
                for (int p = 0; p < entry.partition_cnt; ++p) {
                    if (entry.partitions[p].err == RD_KAFKA_RESP_ERR_NO_ERROR && entry.partitions[p].leader >= 0) {
                        ++ready;
                    }
                }
                if (entry.err == RD_KAFKA_RESP_ERR_NO_ERROR && ready == partitions) {
                    return {};
                }
                lastState = QStringLiteral("%1 of %2 partitions with a leader, topic error '%3'")
                                .arg(QString::number(ready), QString::number(partitions), rdKafkaErrorText(entry.err));
            }
        }
        QThread::msleep(100);
    }
    return QStringLiteral("Topic %1 not ready within %2 ms: %3").arg(topic, QString::number(timeout.count()), lastState);
}
