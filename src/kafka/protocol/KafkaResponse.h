#pragma once

#include "Error.h"
#include "KafkaRawResponse.h"
#include "KafkaVersionedBuffer.h"

#include <QString>

#include <cstdint>
#include <optional>

// The base of every response: the correlation id of the request it answers.
class KafkaResponse {
public:
    std::int32_t correlationId = 0;

    // Reads the correlation id and, when flexible, the header's tagged fields.
    static std::int32_t readHeader(KafkaVersionedBuffer& buffer);

    // The versioned view of a raw response: flexible from firstFlexibleVersion
    // (-1 for never).
    static KafkaVersionedBuffer versionedBuffer(KafkaRawResponse& raw, std::int16_t firstFlexibleVersion);

    // After every field has been read: when the buffer was overrun or not read
    // to its end, that error wrapped as a corrupt message with the API's
    // parse failure message.
    static std::optional<KafkaError> checkParsed(const KafkaBuffer& buffer, const QString& failureMessage);
};
