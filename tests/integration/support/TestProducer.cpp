#include "TestProducer.h"

#include "RdKafkaConfig.h"
#include "RdKafkaErrorText.h"

#include <cstdint>

namespace {

// librdkafka tells a null key, value or header value (null pointer) from an
// empty one (a pointer with length 0).
const char* bytesOrNull(const std::optional<QByteArray>& bytes)
{
    static const char empty = '\0';
    if (!bytes) {
        return nullptr;
    }
    return bytes->isEmpty() ? &empty : bytes->constData();
}

size_t sizeOf(const std::optional<QByteArray>& bytes)
{
    return bytes ? static_cast<size_t>(bytes->size()) : 0;
}

int toTimeoutMs(std::chrono::milliseconds timeout)
{
    return static_cast<int>(timeout.count());
}

} // namespace

QString TestProducer::open(const Options& options)
{
    if (m_client) {
        return QStringLiteral("The producer is already open");
    }
    RdKafkaConfig config(options.bootstrap);
    config.set("compression.codec", options.compression.toUtf8());
    config.set("linger.ms", QByteArray::number(options.lingerMs));
    config.set("batch.num.messages", "1000000");
    // No duplicates when a batch is retried.
    config.set("enable.idempotence", "true");
    config.set("allow.auto.create.topics", "false");
    if (!options.transactionalId.isEmpty()) {
        config.set("transactional.id", options.transactionalId.toUtf8());
    }
    rd_kafka_conf_set_dr_msg_cb(config.get(), &TestProducer::onDelivery);
    rd_kafka_conf_set_opaque(config.get(), this);
    QString error;
    m_client = config.createClient(RD_KAFKA_PRODUCER, error);
    return error;
}

QString TestProducer::produce(const TestRecord& record)
{
    if (!m_client) {
        return QStringLiteral("The producer is not open");
    }
    RdKafkaHeadersHandle headers;
    if (!record.headers.isEmpty()) {
        headers.reset(rd_kafka_headers_new(static_cast<size_t>(record.headers.size())));
        for (const TestRecord::Header& header : record.headers) {
            rd_kafka_header_add(headers.get(), header.name.constData(), header.name.size(), bytesOrNull(header.value),
                                static_cast<ssize_t>(sizeOf(header.value)));
        }
    }
    const size_t index = m_deliveries.size();
    m_deliveries.push_back({});
    m_delivered.push_back(false);

    const QByteArray topic = record.topic.toUtf8();
    // The RD_KAFKA_V_* macros cast their arguments C-style.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
    const rd_kafka_resp_err_t error = rd_kafka_producev(
        m_client.get(), RD_KAFKA_V_TOPIC(topic.constData()), RD_KAFKA_V_PARTITION(record.partition),
        RD_KAFKA_V_MSGFLAGS(RD_KAFKA_MSG_F_COPY), RD_KAFKA_V_KEY(bytesOrNull(record.key), sizeOf(record.key)),
        RD_KAFKA_V_VALUE(const_cast<char*>(bytesOrNull(record.value)), sizeOf(record.value)),
        RD_KAFKA_V_HEADERS(headers.get()), RD_KAFKA_V_TIMESTAMP(record.timestamp),
        RD_KAFKA_V_OPAQUE(reinterpret_cast<void*>(static_cast<uintptr_t>(index))), RD_KAFKA_V_END);
#pragma GCC diagnostic pop
    if (error != RD_KAFKA_RESP_ERR_NO_ERROR) {
        m_deliveries[index].error = rdKafkaErrorText(error);
        m_delivered[index] = true;
        return m_deliveries[index].error;
    }
    static_cast<void>(headers.release()); // owned by the queued message now
    return {};
}

void TestProducer::onDelivery(rd_kafka_t*, const rd_kafka_message_t* message, void* opaque)
{
    auto* producer = static_cast<TestProducer*>(opaque);
    const auto index = static_cast<size_t>(reinterpret_cast<uintptr_t>(message->_private));
    Delivery& delivery = producer->m_deliveries.at(index);
    delivery.partition = message->partition;
    delivery.offset = message->offset;
    delivery.error = rdKafkaErrorText(message->err);
    producer->m_delivered.at(index) = true;
}

QList<TestProducer::Delivery> TestProducer::flush(std::chrono::milliseconds timeout)
{
    if (m_client) {
        rd_kafka_flush(m_client.get(), toTimeoutMs(timeout));
    }
    QList<Delivery> result;
    for (size_t i = m_flushed; i < m_deliveries.size(); ++i) {
        Delivery delivery = m_deliveries[i];
        if (!m_delivered[i]) {
            delivery.error = QStringLiteral("Not delivered within %1 ms").arg(timeout.count());
        }
        result.append(delivery);
    }
    m_flushed = m_deliveries.size();
    return result;
}

QString TestProducer::initTransactions(std::chrono::milliseconds timeout)
{
    if (!m_client) {
        return QStringLiteral("The producer is not open");
    }
    return rdKafkaErrorText(RdKafkaErrorHandle(rd_kafka_init_transactions(m_client.get(), toTimeoutMs(timeout))));
}

QString TestProducer::beginTransaction()
{
    if (!m_client) {
        return QStringLiteral("The producer is not open");
    }
    return rdKafkaErrorText(RdKafkaErrorHandle(rd_kafka_begin_transaction(m_client.get())));
}

QString TestProducer::commitTransaction(std::chrono::milliseconds timeout)
{
    if (!m_client) {
        return QStringLiteral("The producer is not open");
    }
    return rdKafkaErrorText(RdKafkaErrorHandle(rd_kafka_commit_transaction(m_client.get(), toTimeoutMs(timeout))));
}

QString TestProducer::abortTransaction(std::chrono::milliseconds timeout)
{
    if (!m_client) {
        return QStringLiteral("The producer is not open");
    }
    return rdKafkaErrorText(RdKafkaErrorHandle(rd_kafka_abort_transaction(m_client.get(), toTimeoutMs(timeout))));
}
