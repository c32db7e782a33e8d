// Feeds arbitrary bytes to one batch decompressor.
#include "KafkaRecordBatch.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    KafkaBuffer input(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    // A small limit keeps the fuzzer's memory down; the checks are the same.
    constexpr std::int64_t limit = 16 * 1024 * 1024;
    auto output = KafkaRecordBatch::FUZZ_UNCOMPRESS(input, static_cast<std::int64_t>(size), limit);
    if (!output.isError() && output.value().size() > limit)
        __builtin_trap();
    return 0;
}
