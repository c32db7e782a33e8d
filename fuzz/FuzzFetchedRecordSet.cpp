// Feeds arbitrary bytes to a partition's record set as the fetcher takes it:
// the header scan, then the decoding of the range, twice through one
// decompressor. The first two bytes pick the fetch offset and the end of the
// range. The records kept share the input's bytes, or own a copy where few
// were kept: all of them must read right once the input is gone.
#include "KafkaFetchedRecordSet.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::int64_t fetchOffset = data[0] % 16;
    const std::int64_t endOffset = data[1] == 0 ? -1 : fetchOffset + data[1] % 32;
    QList<KafkaRecord> kept;
    {
        KafkaFetchResponse::Partition partition;
        partition.records = QByteArray(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(size - 2));
        KafkaFetchedRecordSet set(QStringLiteral("topic"), 0, fetchOffset, endOffset, partition);
        if (set.scan())
            return 0;
        if (set.nextOffset() < fetchOffset)
            __builtin_trap();
        // A small budget keeps the fuzzer's memory down; the checks are the same.
        KafkaBatchDecompressor decompressor;
        for (int pass = 0; pass < 2; ++pass) {
            KafkaDecodeBudget budget(16 * 1024 * 1024);
            KafkaResult<QList<KafkaRecord>> records = set.decode(budget, decompressor);
            if (records.isError())
                return 0;
            kept = std::move(records).value();
        }
    }
    std::uint32_t sum = 0;
    for (const KafkaRecord& record : kept) {
        if (record.offset < fetchOffset || (endOffset >= 0 && record.offset > endOffset))
            __builtin_trap();
        for (const char byte : record.key)
            sum += static_cast<std::uint8_t>(byte);
        for (const char byte : record.value)
            sum += static_cast<std::uint8_t>(byte);
        for (const KafkaHeader& header : record.headers) {
            for (const char byte : header.value)
                sum += static_cast<std::uint8_t>(byte);
        }
    }
    // Keeps the reads from being optimised away.
    volatile std::uint32_t sink = sum;
    (void)sink;
    return 0;
}
