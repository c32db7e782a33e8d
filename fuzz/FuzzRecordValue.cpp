// Feeds arbitrary bytes as a record value to the deserializer that the records
// view uses when no rule applies: content sniffing and text decoding.
#include "CompositeDeserializer.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const CompositeDeserializer deserializer;
    KafkaRecord record;
    record.topic = QStringLiteral("topic");
    record.value = QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    auto decoded = deserializer.deserializeRecord(record);
    (void)decoded;
    return 0;
}
