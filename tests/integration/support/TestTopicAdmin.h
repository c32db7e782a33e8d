#pragma once

#include "RdKafka.h"

#include <QString>

// Creates the topics of a test through librdkafka's admin API.
class TestTopicAdmin {
public:
    enum class TimestampType { CreateTime, LogAppendTime };

    explicit TestTopicAdmin(QString bootstrap) : m_bootstrap(std::move(bootstrap)) {}

    // Creates the topic with replication factor 1 and returns once the
    // broker's metadata lists every partition with a leader. An error text,
    // empty on success.
    QString createTopic(const QString& topic, int partitions, TimestampType timestampType = TimestampType::CreateTime);

private:
    QString waitForLeaders(const QString& topic, int partitions);

    QString m_bootstrap;
    RdKafkaHandle m_client;
};
