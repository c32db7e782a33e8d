#include "KafkaConsumerProtocolAssignment.h"

KafkaResult<KafkaConsumerProtocolAssignment> KafkaConsumerProtocolAssignment::parseFromBuffer(KafkaBuffer& buffer)
{
    KafkaConsumerProtocolAssignment assignment;
    if (buffer.atEnd())
        return assignment;
    assignment.version = buffer.readS16();
    assignment.topics = readTopics(buffer);
    assignment.userData = buffer.readBytes();
    if (buffer.overrun > 0) {
        std::optional<KafkaError> error = buffer.checkBufferReadEntirely();
        return error->wrap(KafkaErrorCode::CorruptMessage, QStringLiteral("Invalid ConsumerProtocolAssignment data"));
    }
    return assignment;
}

QList<KafkaConsumerProtocolAssignment::Topic> KafkaConsumerProtocolAssignment::readTopics(KafkaBuffer& buffer)
{
    return buffer.readArray([](KafkaBuffer& b) {
        Topic topic;
        topic.topic = b.readString();
        topic.partitions = readPartitions(b);
        return topic;
    });
}

QList<std::int32_t> KafkaConsumerProtocolAssignment::readPartitions(KafkaBuffer& buffer)
{
    return buffer.readArray([](KafkaBuffer& b) { return b.readS32(); });
}
