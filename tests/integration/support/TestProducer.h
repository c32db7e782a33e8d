#pragma once

#include "RdKafkaPointers.h"
#include "TestRecord.h"

#include <QList>
#include <QString>

#include <chrono>
#include <vector>

// A librdkafka producer that writes the records the tests read back. Records
// produced together and then flushed are sent in multi-record batches: the
// producer lingers before it sends a batch and caps batches only by size.
// Every operation returns an error text, empty on success.
class TestProducer {
public:
    struct Options {
        QString bootstrap;
        QString compression = QStringLiteral("none"); // none, gzip, snappy, lz4 or zstd
        QString transactionalId;                      // empty: not transactional
        int lingerMs = 100;
    };

    // Where a record landed, or why it did not.
    struct Delivery {
        qint32 partition = -1;
        qint64 offset = -1;
        QString error;
    };

    TestProducer() = default;
    TestProducer(const TestProducer&) = delete;
    TestProducer& operator=(const TestProducer&) = delete;

    QString open(const Options& options);

    // Queues the record. A record librdkafka refuses at once still takes its
    // place in the next flush() result, with the error.
    QString produce(const TestRecord& record);

    // Waits until every record queued since the last flush is delivered and
    // returns their deliveries in the order they were produced.
    QList<Delivery> flush(std::chrono::milliseconds timeout = std::chrono::seconds(30));

    QString initTransactions(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    QString beginTransaction();
    QString commitTransaction(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    QString abortTransaction(std::chrono::milliseconds timeout = std::chrono::seconds(30));

private:
    static void onDelivery(rd_kafka_t* client, const rd_kafka_message_t* message, void* opaque);

    // Declared before the client so that they outlive its last delivery report.
    std::vector<Delivery> m_deliveries;
    std::vector<bool> m_delivered;
    size_t m_flushed = 0;
    RdKafkaHandle m_client;
};
