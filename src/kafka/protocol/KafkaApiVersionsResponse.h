#pragma once

#include "Error.h"
#include "KafkaProtocolError.h"
#include "KafkaResponse.h"
#include "Result.h"

#include <QList>
#include <QMetaType>

#include <cstdint>

// The versions of each API the broker accepts.
class KafkaApiVersionsResponse : public KafkaResponse {
public:
    struct ApiKey {
        std::int16_t apiKey = 0;
        std::int16_t minVersion = 0;
        std::int16_t maxVersion = 0;
    };

    KafkaApiVersionsResponse() = default;
    KafkaApiVersionsResponse(const KafkaApiVersionsResponse&) = default;
    KafkaApiVersionsResponse(KafkaApiVersionsResponse&&) = default;
    KafkaApiVersionsResponse& operator=(const KafkaApiVersionsResponse&) = default;
    KafkaApiVersionsResponse& operator=(KafkaApiVersionsResponse&&) = default;
    virtual ~KafkaApiVersionsResponse() = default;

    KafkaProtocolError errorCode = KafkaProtocolError::None;
    // In the order the broker sent them.
    QList<ApiKey> apiKeys;
    std::int32_t throttleTimeMs = 0;

    static KafkaResult<KafkaApiVersionsResponse> parseFromRaw(KafkaRawResponse& raw);
    static QList<ApiKey> readApiKeys(KafkaVersionedBuffer& in);
};

Q_DECLARE_METATYPE(KafkaApiVersionsResponse)
