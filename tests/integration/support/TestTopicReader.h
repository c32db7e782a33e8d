#pragma once

#include "TestRecord.h"

#include <QList>
#include <QString>

#include <chrono>

// Reads a topic back with librdkafka's consumer, without a consumer group:
// every partition from its first offset to its end.
class TestTopicReader {
public:
    enum class Isolation { ReadUncommitted, ReadCommitted };

    struct Message {
        TestRecord record;
        qint64 offset = -1;
        bool logAppendTime = false;
    };

    struct Result {
        QList<Message> messages; // per partition in offset order, partitions ascending
        QString error;           // empty on success
    };

    explicit TestTopicReader(QString bootstrap);

    // With ReadCommitted a partition ends at its last stable offset and the
    // records of aborted transactions are left out.
    Result readAll(const QString& topic, int partitions, Isolation isolation = Isolation::ReadCommitted,
                   std::chrono::milliseconds timeout = std::chrono::seconds(30)) const;

private:
    QString m_bootstrap;
};
