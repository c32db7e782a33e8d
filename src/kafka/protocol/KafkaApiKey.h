#pragma once

#include <cstdint>

// The API keys of the requests the client speaks.
enum class KafkaApiKey : std::int16_t {
    Fetch = 1,
    ListOffsets = 2,
    Metadata = 3,
    OffsetFetch = 9,
    DescribeGroups = 15,
    ListGroups = 16,
    SaslHandshake = 17,
    ApiVersions = 18,
    SaslAuthenticate = 36,
    ConsumerGroupDescribe = 69,
};
