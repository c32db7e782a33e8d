#pragma once

#include "RdKafkaPointers.h"

#include <QString>

#include <chrono>

// Creates and deletes the topics of a test through librdkafka's admin API.
// Every operation returns an error text, empty on success.
class TestTopicAdmin {
public:
    enum class TimestampType { CreateTime, LogAppendTime };

    explicit TestTopicAdmin(QString bootstrap);

    // Creates the topic with replication factor 1 and returns once the
    // broker's metadata lists every partition with a leader.
    QString createTopic(const QString& topic, int partitions, TimestampType timestampType = TimestampType::CreateTime,
                        std::chrono::milliseconds timeout = std::chrono::seconds(30));
    QString deleteTopic(const QString& topic, std::chrono::milliseconds timeout = std::chrono::seconds(30));

private:
    QString connect();
    QString waitForLeaders(const QString& topic, int partitions, std::chrono::milliseconds timeout);
    // Waits for the admin result event on the queue; returns it or null with error set.
    RdKafkaEventHandle waitForResult(std::chrono::milliseconds timeout, QString& error);

    QString m_bootstrap;
    RdKafkaHandle m_client;
    RdKafkaQueueHandle m_queue;
};
