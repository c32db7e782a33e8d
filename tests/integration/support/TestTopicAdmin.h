#pragma once

#include "RdKafka.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <functional>

// Creates the topics of a test through librdkafka's admin API.
class TestTopicAdmin {
public:
    enum class TimestampType { CreateTime, LogAppendTime };

    explicit TestTopicAdmin(QString bootstrap) : m_bootstrap(std::move(bootstrap)) {}

    // Creates the topic with replication factor 1 and returns once the
    // broker's metadata lists every partition with a leader. An error text,
    // empty on success.
    QString createTopic(const QString& topic, int partitions, TimestampType timestampType = TimestampType::CreateTime);
    // As createTopic, with partition i on the brokers replicas[i] (node ids,
    // the first one leads).
    QString createTopic(const QString& topic, const QList<QList<std::int32_t>>& replicas);

private:
    QString create(const QString& topic, int partitions, int replicationFactor,
        const std::function<QString(rd_kafka_NewTopic_t*)>& configure);
    QString waitForLeaders(const QString& topic, int partitions);

    QString m_bootstrap;
    RdKafkaHandle m_client;
};
