#pragma once

#include "RdKafka.h"

#include <QList>
#include <QString>
#include <QStringList>

// A member of a consumer group ("consumer" protocol type) that holds its
// assignment and commits offsets only when told to. It leaves the group when
// destroyed. Every operation returns an error text, empty on success.
class TestConsumerGroup {
public:
    struct PartitionOffset {
        QString topic;
        qint32 partition = -1;
        qint64 offset = -1;
    };

    ~TestConsumerGroup();

    // Subscribes to the topics and polls until the group assigns this member a partition.
    QString join(const QString& bootstrap, const QString& groupId, const QStringList& topics);
    // Commits the offsets synchronously.
    QString commit(const QList<PartitionOffset>& offsets);

private:
    RdKafkaHandle m_client;
};
