#pragma once

#include "RdKafka.h"
#include "TestRecord.h"

#include <QList>
#include <QString>

#include <vector>

// A librdkafka producer that writes the records the tests read back. Records
// produced together and then flushed are sent in multi-record batches.
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

    QString open(const Options& options);
    QString produce(const TestRecord& record);
    // Waits for the records produced since the last flush; their deliveries in order.
    QList<Delivery> flush();

    QString initTransactions();
    QString beginTransaction();
    QString commitTransaction();
    QString abortTransaction();

private:
    static void onDelivery(rd_kafka_t* client, const rd_kafka_message_t* message, void* opaque);

    // Declared before the client so that they outlive its last delivery report.
    std::vector<Delivery> m_deliveries;
    std::vector<bool> m_delivered;
    size_t m_flushed = 0;
    RdKafkaHandle m_client;
};
