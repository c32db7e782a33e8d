#pragma once

#include "Error.h"
#include "KafkaBuffer.h"
#include "Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>

// The partitions a consumer group member was assigned, as the consumer
// protocol encodes them in the member's assignment bytes.
class KafkaConsumerProtocolAssignment {
public:
    struct Topic {
        QString topic;
        QList<std::int32_t> partitions;
    };

    // Not checked: every version starts with the same fields.
    std::int16_t version = 0;
    QList<Topic> topics;
    QByteArray userData;

    // Empty bytes (a member of a group that is rebalancing has none) give an
    // assignment without topics. Bytes after the known fields are left unread,
    // as newer versions of the protocol append fields; only a blob cut short
    // fails.
    static KafkaResult<KafkaConsumerProtocolAssignment> parseFromBuffer(KafkaBuffer& buffer);

private:
    static QList<Topic> readTopics(KafkaBuffer& buffer);
    static QList<std::int32_t> readPartitions(KafkaBuffer& buffer);
};
