#pragma once

#include "KafkaBuffer.h"

#include <QMetaType>

#include <cstdint>

// One answer from a broker: the API key and the version of the request it
// answers, and the frame without its size prefix, cursor at the correlation id.
struct KafkaRawResponse {
    std::int16_t apiKey = 0;
    std::int16_t apiVersion = 0;
    KafkaBuffer buffer;
};

Q_DECLARE_METATYPE(KafkaRawResponse)
