#include "TestProducer.h"

#include <cstdint>

namespace {

constexpr int TimeoutMs = 30000;

// librdkafka tells a null key, value or header value (null pointer) from an
// empty one (a pointer with length 0).
const char* bytesOrNull(const std::optional<QByteArray>& bytes)
{
    static const char empty = '\0';
    return !bytes ? nullptr : bytes->isEmpty() ? &empty : bytes->constData();
}

size_t sizeOf(const std::optional<QByteArray>& bytes) { return bytes ? size_t(bytes->size()) : 0; }

} // namespace

QString TestProducer::open(const Options& options)
{
    RdKafkaSettings settings { { "compression.codec", options.compression.toUtf8() },
        { "linger.ms", QByteArray::number(options.lingerMs) }, { "batch.num.messages", "1000000" },
        { "enable.idempotence", "true" }, { "allow.auto.create.topics", "false" } };
    if (!options.transactionalId.isEmpty())
        settings.append({ "transactional.id", options.transactionalId.toUtf8() });
    QString error;
    m_client = rdKafkaClient(RD_KAFKA_PRODUCER, options.bootstrap, settings, error, [this](rd_kafka_conf_t* conf) {
        rd_kafka_conf_set_dr_msg_cb(conf, &TestProducer::onDelivery);
        rd_kafka_conf_set_opaque(conf, this);
    });
    return error;
}

QString TestProducer::produce(const TestRecord& record)
{
    RdKafkaHeadersHandle headers(record.headers.isEmpty() ? nullptr : rd_kafka_headers_new(size_t(record.headers.size())));
    for (const TestRecord::Header& header : record.headers)
        rd_kafka_header_add(headers.get(), header.name.constData(), header.name.size(), bytesOrNull(header.value),
            ssize_t(sizeOf(header.value)));
    const size_t index = m_deliveries.size();
    m_deliveries.push_back({});
    m_delivered.push_back(false);

    const QByteArray topic = record.topic.toUtf8();
    // The RD_KAFKA_V_* macros cast their arguments C-style, inside GNU
    // statement expressions.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"
#pragma GCC diagnostic ignored "-Wpedantic"
    const rd_kafka_resp_err_t error = rd_kafka_producev(m_client.get(), RD_KAFKA_V_TOPIC(topic.constData()),
        RD_KAFKA_V_PARTITION(record.partition), RD_KAFKA_V_MSGFLAGS(RD_KAFKA_MSG_F_COPY),
        RD_KAFKA_V_KEY(bytesOrNull(record.key), sizeOf(record.key)),
        RD_KAFKA_V_VALUE(const_cast<char*>(bytesOrNull(record.value)), sizeOf(record.value)),
        RD_KAFKA_V_HEADERS(headers.get()), RD_KAFKA_V_TIMESTAMP(record.timestamp),
        RD_KAFKA_V_OPAQUE(reinterpret_cast<void*>(uintptr_t(index))), RD_KAFKA_V_END);
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
    const auto index = size_t(reinterpret_cast<uintptr_t>(message->_private));
    producer->m_deliveries.at(index) = { message->partition, message->offset, rdKafkaErrorText(message->err) };
    producer->m_delivered.at(index) = true;
}

QList<TestProducer::Delivery> TestProducer::flush()
{
    rd_kafka_flush(m_client.get(), TimeoutMs);
    QList<Delivery> result;
    for (size_t i = m_flushed; i < m_deliveries.size(); ++i) {
        result.append(m_deliveries[i]);
        if (!m_delivered[i])
            result.last().error = QStringLiteral("Not delivered within %1 ms").arg(TimeoutMs);
    }
    m_flushed = m_deliveries.size();
    return result;
}

QString TestProducer::initTransactions() { return rdKafkaErrorText(rd_kafka_init_transactions(m_client.get(), TimeoutMs)); }
QString TestProducer::beginTransaction() { return rdKafkaErrorText(rd_kafka_begin_transaction(m_client.get())); }
QString TestProducer::commitTransaction() { return rdKafkaErrorText(rd_kafka_commit_transaction(m_client.get(), TimeoutMs)); }
QString TestProducer::abortTransaction() { return rdKafkaErrorText(rd_kafka_abort_transaction(m_client.get(), TimeoutMs)); }
