#pragma once

#include "Error.h"
#include "KafkaProtocolError.h"
#include "KafkaResponse.h"
#include "Result.h"

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>

#include <cstdint>

// The records a leader returned for the partitions of a Fetch request.
class KafkaFetchResponse : public KafkaResponse {
public:
    // A transaction aborted within the returned records.
    struct Transaction {
        std::int64_t producerId = 0;
        std::int64_t firstOffset = 0;
    };

    struct Partition {
        std::int32_t partitionIndex = 0;
        KafkaProtocolError errorCode = KafkaProtocolError::None;
        std::int64_t highWatermark = 0;
        // From version 4.
        std::int64_t lastStableOffset = 0;
        // From version 5.
        std::int64_t logStartOffset = 0;
        // From version 4.
        QList<Transaction> abortedTransactions;
        // From version 11.
        std::int32_t preferredReadReplica = 0;
        // The record set; null when the broker sent none.
        QByteArray records;
    };

    struct Topic {
        QString topic;
        QList<Partition> partitions;
    };

    KafkaFetchResponse() = default;
    KafkaFetchResponse(const KafkaFetchResponse&) = default;
    KafkaFetchResponse(KafkaFetchResponse&&) = default;
    KafkaFetchResponse& operator=(const KafkaFetchResponse&) = default;
    KafkaFetchResponse& operator=(KafkaFetchResponse&&) = default;
    virtual ~KafkaFetchResponse() = default;

    // From version 1.
    std::int32_t throttleTimeMs = 0;
    // From version 7.
    KafkaProtocolError errorCode = KafkaProtocolError::None;
    // From version 7.
    std::int32_t sessionId = 0;
    QList<Topic> topics;

    static KafkaResult<KafkaFetchResponse> parseFromRaw(KafkaRawResponse& raw);
    static QList<Topic> readTopicResponses(KafkaVersionedBuffer& in);
    static QList<Partition> readPartitionResponses(KafkaVersionedBuffer& in);
    static QList<Transaction> readTransactions(KafkaVersionedBuffer& in);
};

Q_DECLARE_METATYPE(KafkaFetchResponse)
