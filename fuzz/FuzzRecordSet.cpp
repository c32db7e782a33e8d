// Feeds arbitrary bytes to the record-set parser, batch after batch, as the
// fetcher reads a Fetch response's records.
#include "KafkaRecordBatch.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    KafkaBuffer recordSet(QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    // One budget for the whole input, as for a response; a small one keeps
    // the fuzzer's memory down, the checks are the same.
    KafkaDecodeBudget budget(16 * 1024 * 1024);
    while (!recordSet.atEnd()) {
        const std::int64_t start = recordSet.position;
        auto batch = KafkaRecordBatch::parseFromBuffer(recordSet, QStringLiteral("topic"), 0, budget);
        if (batch.isError())
            break;
        // A parsed batch always moves the cursor forward and keeps within the budget.
        if (recordSet.position <= start || budget.exceeded())
            __builtin_trap();
    }
    return 0;
}
