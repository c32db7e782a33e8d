#include "TestTopicReader.h"

#include "KafkaTestEnvironment.h"
#include "RdKafkaConfig.h"
#include "RdKafkaErrorText.h"

#include <QDeadlineTimer>
#include <QSet>

#include <algorithm>
#include <utility>

namespace {

std::optional<QByteArray> bytesOf(const void* data, size_t size)
{
    if (data == nullptr) {
        return std::nullopt;
    }
    return QByteArray(static_cast<const char*>(data), static_cast<qsizetype>(size));
}

TestTopicReader::Message toMessage(const rd_kafka_message_t& message)
{
    TestTopicReader::Message result;
    result.offset = message.offset;
    result.record.topic = QString::fromUtf8(rd_kafka_topic_name(message.rkt));
    result.record.partition = message.partition;
    result.record.key = bytesOf(message.key, message.key_len);
    result.record.value = bytesOf(message.payload, message.len);
    rd_kafka_timestamp_type_t timestampType = RD_KAFKA_TIMESTAMP_NOT_AVAILABLE;
    result.record.timestamp = rd_kafka_message_timestamp(&message, &timestampType);
    result.logAppendTime = timestampType == RD_KAFKA_TIMESTAMP_LOG_APPEND_TIME;

    rd_kafka_headers_t* headers = nullptr; // owned by the message
    if (rd_kafka_message_headers(&message, &headers) == RD_KAFKA_RESP_ERR_NO_ERROR) {
        const char* name = nullptr;
        const void* value = nullptr;
        size_t size = 0;
        for (size_t i = 0; rd_kafka_header_get_all(headers, i, &name, &value, &size) == RD_KAFKA_RESP_ERR_NO_ERROR;
             ++i) {
            result.record.headers.append({QByteArray(name), bytesOf(value, size)});
        }
    }
    return result;
}

} // namespace

TestTopicReader::TestTopicReader(QString bootstrap)
    : m_bootstrap(std::move(bootstrap))
{
}

TestTopicReader::Result TestTopicReader::readAll(const QString& topic, int partitions, Isolation isolation,
                                                 std::chrono::milliseconds timeout) const
{
    Result result;
    RdKafkaConfig config(m_bootstrap);
    // librdkafka's consumer wants a group even when it only reads assigned
    // partitions; this one never joins and never commits.
    config.set("group.id", KafkaTestEnvironment::uniqueTopicName(QStringLiteral("skelvane-test-reader")).toUtf8());
    config.set("enable.auto.commit", "false");
    config.set("enable.partition.eof", "true");
    config.set("isolation.level", isolation == Isolation::ReadCommitted ? "read_committed" : "read_uncommitted");
    const RdKafkaHandle client = config.createClient(RD_KAFKA_CONSUMER, result.error);
    if (!client) {
        return result;
    }
    const QByteArray topicName = topic.toUtf8();
    RdKafkaPartitionListHandle assignment(rd_kafka_topic_partition_list_new(partitions));
    for (qint32 partition = 0; partition < partitions; ++partition) {
        rd_kafka_topic_partition_list_add(assignment.get(), topicName.constData(), partition)->offset =
            RD_KAFKA_OFFSET_BEGINNING;
    }
    if (const rd_kafka_resp_err_t error = rd_kafka_assign(client.get(), assignment.get());
        error != RD_KAFKA_RESP_ERR_NO_ERROR) {
        result.error = rdKafkaErrorText(error);
        return result;
    }

    QSet<qint32> finished;
    const QDeadlineTimer deadline(timeout);
    while (finished.size() < partitions) {
        if (deadline.hasExpired()) {
            result.error = QStringLiteral("Reached the end of %1 of %2 partitions within %3 ms")
                               .arg(QString::number(finished.size()), QString::number(partitions),
                                    QString::number(timeout.count()));
            break;
        }
        const RdKafkaMessageHandle message(rd_kafka_consumer_poll(client.get(), 100));
        if (!message) {
            continue;
        }
        if (message->err == RD_KAFKA_RESP_ERR__PARTITION_EOF) {
            finished.insert(message->partition);
        } else if (message->err != RD_KAFKA_RESP_ERR_NO_ERROR) {
            result.error = rdKafkaErrorText(message->err);
            break;
        } else {
            result.messages.append(toMessage(*message));
        }
    }
    rd_kafka_consumer_close(client.get());
    std::stable_sort(result.messages.begin(), result.messages.end(), [](const Message& a, const Message& b) {
        return a.record.partition < b.record.partition;
    });
    return result;
}
