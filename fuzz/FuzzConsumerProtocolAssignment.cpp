// Feeds arbitrary bytes to the consumer-protocol assignment decoder.
#include "KafkaConsumerProtocolAssignment.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    KafkaBuffer buffer(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    auto result = KafkaConsumerProtocolAssignment::parseFromBuffer(buffer);
    (void)result;
    return 0;
}
