#pragma once

#include "KafkaBuffer.h"
#include "KafkaHeader.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>

#include <cstdint>

class KafkaDecodeBudget;

// One record of a record batch, with the topic and partition it was read from.
struct KafkaRecord {
    std::int8_t attributes = 0;
    // Milliseconds since the epoch.
    std::int64_t timestamp = 0;
    QString topic;
    std::int32_t partition = 0;
    std::int64_t offset = 0;
    // Null when absent (length -1), empty but not null when of length 0.
    QByteArray key;
    QByteArray value;
    QList<KafkaHeader> headers;

    // Reads one record at the buffer's cursor and charges it to the budget. A
    // record that runs past the end of the buffer, holds a length below -1 or
    // an over-long varint is counted as overrun in the buffer; one that
    // exceeds the budget stops short of the rest of its headers. The caller
    // checks both after each record.
    static KafkaRecord parseFromBuffer(KafkaBuffer& buffer, std::int64_t firstTimestamp, const QString& topic,
        std::int32_t partition, std::int64_t baseOffset, KafkaDecodeBudget& budget);
    // The same into a default-constructed record, so that a record is built
    // where it is kept, in its list, rather than moved there.
    static void readFromBuffer(KafkaRecord& record, KafkaBuffer& buffer, std::int64_t firstTimestamp,
        const QString& topic, std::int32_t partition, std::int64_t baseOffset, KafkaDecodeBudget& budget);

    // The `count` headers (count > 0) that follow a record's header count,
    // each its key and value. Each header is charged to the budget; reading
    // stops before the header that exceeds it.
    static QList<KafkaHeader> readHeadersFromBuffer(KafkaBuffer& buffer, std::int64_t count, KafkaDecodeBudget& budget);
};

Q_DECLARE_METATYPE(KafkaRecord)
