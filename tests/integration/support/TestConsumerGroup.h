#pragma once

#include "RdKafkaPointers.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>

// A member of a consumer group ("consumer" protocol type) that holds its
// assignment and commits offsets only when told to, so that a test can show a
// group with known members and committed offsets. It leaves the group when
// destroyed. Every operation returns an error text, empty on success.
class TestConsumerGroup {
public:
    struct PartitionOffset {
        QString topic;
        qint32 partition = -1;
        qint64 offset = -1;

        friend bool operator==(const PartitionOffset&, const PartitionOffset&) = default;
    };

    TestConsumerGroup() = default;
    TestConsumerGroup(const TestConsumerGroup&) = delete;
    TestConsumerGroup& operator=(const TestConsumerGroup&) = delete;
    ~TestConsumerGroup();

    // Subscribes to the topics and polls until the group has assigned this
    // member at least one partition.
    QString join(const QString& bootstrap, const QString& groupId, const QStringList& topics,
                 std::chrono::milliseconds timeout = std::chrono::seconds(60));

    // The partitions assigned to this member (offset -1).
    QList<PartitionOffset> assignment() const;

    // Commits the offsets synchronously.
    QString commit(const QList<PartitionOffset>& offsets);

private:
    RdKafkaHandle m_client;
};
