#pragma once

// The offsets of delivered records, and the runs of offsets the tests expect.

#include "KafkaRecord.h"

#include <QList>

#include <cstdint>

namespace TestBatches {

inline QList<std::int64_t> offsetsOf(const QList<KafkaRecord>& records)
{
    QList<std::int64_t> offsets;
    for (const KafkaRecord& record : records)
        offsets.append(record.offset);
    return offsets;
}

// first, first + 1, ..., last.
inline QList<std::int64_t> offsetRange(std::int64_t first, std::int64_t last)
{
    QList<std::int64_t> offsets;
    for (std::int64_t offset = first; offset <= last; ++offset)
        offsets.append(offset);
    return offsets;
}

} // namespace TestBatches
