#pragma once

#include "Error.h"
#include "KafkaProtocolError.h"
#include "KafkaResponse.h"
#include "Result.h"

#include <QList>
#include <QString>

#include <cstdint>

// The offsets a group has committed.
class KafkaOffsetFetchResponse : public KafkaResponse {
public:
    struct Partition {
        std::int32_t partitionIndex = 0;
        // -1 when the group has committed nothing on the partition.
        std::int64_t committedOffset = 0;
        // From version 5.
        std::int32_t committedLeaderEpoch = 0;
        // Nullable.
        QString metadata;
        KafkaProtocolError errorCode = KafkaProtocolError::None;
    };

    struct Topic {
        QString name;
        QList<Partition> partitions;
    };

    KafkaOffsetFetchResponse() = default;
    KafkaOffsetFetchResponse(const KafkaOffsetFetchResponse&) = default;
    KafkaOffsetFetchResponse(KafkaOffsetFetchResponse&&) = default;
    KafkaOffsetFetchResponse& operator=(const KafkaOffsetFetchResponse&) = default;
    KafkaOffsetFetchResponse& operator=(KafkaOffsetFetchResponse&&) = default;
    virtual ~KafkaOffsetFetchResponse() = default;

    // From version 3.
    std::int32_t throttleTimeMs = 0;
    QList<Topic> topics;
    // From version 2.
    KafkaProtocolError errorCode = KafkaProtocolError::None;

    static KafkaResult<KafkaOffsetFetchResponse> parseFromRaw(KafkaRawResponse& raw);

private:
    static QList<Topic> readTopics(KafkaVersionedBuffer& in);
    static QList<Partition> readPartitions(KafkaVersionedBuffer& in);
};
