#pragma once

#include "KafkaBuffer.h"

#include <QString>

#include <cstdint>

// The header in front of every request. The API version is passed when writing.
struct KafkaRequestHeader {
    std::int16_t apiKey = 0;
    std::int32_t correlationId = 0;
    QString clientId;

    // Header version 1 or 2: the client id is always an int16 string (a null
    // one is written empty); version 2 adds an empty tagged-field section.
    void writeToBuffer(KafkaBuffer& buffer, std::int16_t headerVersion, std::int16_t apiVersion) const;
};
