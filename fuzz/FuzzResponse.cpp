// Feeds arbitrary bytes to one response parser. The first byte picks the API
// version within the parser's range; the rest is the response frame.
#include FUZZ_RESPONSE_HEADER

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const int versions = FUZZ_MAX_VERSION - FUZZ_MIN_VERSION + 1;
    KafkaRawResponse raw;
    raw.apiKey = FUZZ_API_KEY;
    raw.apiVersion = static_cast<std::int16_t>(FUZZ_MIN_VERSION + data[0] % versions);
    raw.buffer = KafkaBuffer(QByteArray(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1)));
    auto result = FUZZ_RESPONSE_CLASS::parseFromRaw(raw);
    if (result.isError() && result.error().code != KafkaErrorCode::CorruptMessage
        && result.error().code != KafkaErrorCode::SaslAuthenticationError
        && static_cast<int>(result.error().code) < 61)
        __builtin_trap();
    return 0;
}
