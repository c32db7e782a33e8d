#pragma once

#include "KafkaRecord.h"

#include <QList>

// Decoded records keep their keys, values and header values in the bytes
// their batch came in (the Fetch response, or the batch decompressed), shared
// rather than copied: a batch costs one block of memory, not one per field.
// A list that keeps only some of the records decoded with it would keep
// every byte of those blocks alive; wherever records are left out, the list
// that remains goes through `releaseSparseBlocks`.
class KafkaRecordStorage {
public:
    // Gives each key, value and header value storage of its own when the
    // records of `records` use less than 1/KeptFraction of the block it
    // shares, so that what a list holds stays within that many times its
    // own bytes. Arrays with storage of their own are left as they are.
    static void releaseSparseBlocks(QList<KafkaRecord>& records);

    static constexpr qsizetype KeptFraction = 2;
};
