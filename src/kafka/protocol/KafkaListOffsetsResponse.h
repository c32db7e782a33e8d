#pragma once

#include "Error.h"
#include "KafkaProtocolError.h"
#include "KafkaResponse.h"
#include "Result.h"

#include <QList>
#include <QMetaType>
#include <QString>

#include <cstdint>

// The offsets found for the timestamps of a ListOffsets request.
class KafkaListOffsetsResponse : public KafkaResponse {
public:
    struct Partition {
        std::int32_t partitionIndex = 0;
        KafkaProtocolError errorCode = KafkaProtocolError::None;
        std::int64_t timestamp = 0;
        // -1 when no offset matches.
        std::int64_t offset = 0;
        // From version 4.
        std::int32_t leaderEpoch = 0;
    };

    struct Topic {
        QString name;
        QList<Partition> partitions;
    };

    KafkaListOffsetsResponse() = default;
    KafkaListOffsetsResponse(const KafkaListOffsetsResponse&) = default;
    KafkaListOffsetsResponse(KafkaListOffsetsResponse&&) = default;
    KafkaListOffsetsResponse& operator=(const KafkaListOffsetsResponse&) = default;
    KafkaListOffsetsResponse& operator=(KafkaListOffsetsResponse&&) = default;
    virtual ~KafkaListOffsetsResponse() = default;

    // From version 2.
    std::int32_t throttleTimeMs = 0;
    QList<Topic> topics;

    static KafkaResult<KafkaListOffsetsResponse> parseFromRaw(KafkaRawResponse& raw);
    static QList<Topic> readTopics(KafkaVersionedBuffer& in);
    static QList<Partition> readPartitions(KafkaVersionedBuffer& in);
};

Q_DECLARE_METATYPE(KafkaListOffsetsResponse)
