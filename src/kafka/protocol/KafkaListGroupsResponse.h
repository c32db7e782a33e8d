#pragma once

#include "Error.h"
#include "KafkaProtocolError.h"
#include "KafkaResponse.h"
#include "Result.h"

#include <QList>
#include <QString>

#include <cstdint>

// The groups a broker coordinates.
class KafkaListGroupsResponse : public KafkaResponse {
public:
    struct Group {
        QString groupId;
        // "consumer" for groups of the consumer protocol.
        QString protocolType;
        // From version 4; null before.
        QString groupState;
    };

    KafkaListGroupsResponse() = default;
    KafkaListGroupsResponse(const KafkaListGroupsResponse&) = default;
    KafkaListGroupsResponse(KafkaListGroupsResponse&&) = default;
    KafkaListGroupsResponse& operator=(const KafkaListGroupsResponse&) = default;
    KafkaListGroupsResponse& operator=(KafkaListGroupsResponse&&) = default;
    virtual ~KafkaListGroupsResponse() = default;

    std::int32_t throttleTimeMs = 0;
    KafkaProtocolError errorCode = KafkaProtocolError::None;
    QList<Group> groups;

    static KafkaResult<KafkaListGroupsResponse> parseFromRaw(KafkaRawResponse& raw);

private:
    static QList<Group> readGroups(KafkaVersionedBuffer& in);
};
