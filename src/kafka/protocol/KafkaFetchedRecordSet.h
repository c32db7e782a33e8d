#pragma once

#include "Error.h"
#include "KafkaBatchDecompressor.h"
#include "KafkaDecodeBudget.h"
#include "KafkaFetchResponse.h"
#include "KafkaRecord.h"
#include "Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

// The record set one partition returned for a Fetch request, taken in two
// steps: `scan` walks the batch headers only, to learn at once where the next
// request starts; `decode` then decompresses and parses the batches, drops
// those of aborted transactions and keeps the records of the requested range.
// Brokers return whole batches, so a batch may begin before the fetch offset
// or run past the end of the range; those records are not kept.
class KafkaFetchedRecordSet {
public:
    // `fetchOffset` is the offset the request asked for; `endOffset` the last
    // offset wanted, -1 for none.
    KafkaFetchedRecordSet(QString topic, std::int32_t partition, std::int64_t fetchOffset, std::int64_t endOffset,
        const KafkaFetchResponse::Partition& response);

    // Walks the complete batches (a batch cut short by the broker's size
    // limit ends the walk). Fails with code 63 on a batch whose length field
    // is impossible.
    std::optional<KafkaError> scan();

    // Offset of the next request: after the last batch of the set, past the
    // end of the range when a batch beyond it was met, else the fetch offset.
    std::int64_t nextOffset() const { return m_nextOffset; }
    // The set held nothing but the start of one batch: the limits of the
    // request cut a batch larger than themselves.
    bool stalled() const { return m_stalled; }
    // Bytes of the batch after the last complete one when the set ends with
    // its header (the limits of the request cut it), else of the largest
    // complete batch: what the partition's next batch may take. 0 when that
    // batch is compressed (its size on the wire says little of what it takes
    // decoded); none when the set held no batch header.
    std::optional<std::int64_t> nextBatchSize() const { return m_nextBatchSize; }

    // The committed records of the scanned batches within the range, in
    // offset order, in one list reserved once from the batch headers. The
    // record sets of one response share one budget (see KafkaDecodeBudget).
    // Fails with the batch parser's error. The decompressor's contexts
    // outlive the record set (the fetcher keeps one set of them for every
    // answer it decodes).
    KafkaResult<QList<KafkaRecord>> decode(KafkaDecodeBudget& budget, KafkaBatchDecompressor& decompressor) const;
    // The same with a budget and a decompressor of its own, for a record set
    // decoded alone.
    KafkaResult<QList<KafkaRecord>> decode() const;

private:
    QString m_topic;
    std::int32_t m_partition = 0;
    std::int64_t m_fetchOffset = 0;
    std::int64_t m_endOffset = -1;
    QByteArray m_records;
    QList<KafkaFetchResponse::Transaction> m_abortedTransactions;

    // Bytes of the set taken by the complete batches to decode.
    std::int64_t m_scannedSize = 0;
    // How many records those batches hold, by their headers, as far as their
    // bytes can back the counts: the room the record list is reserved at.
    std::int64_t m_expectedRecords = 0;
    std::optional<std::int64_t> m_nextBatchSize;
    std::int64_t m_nextOffset = 0;
    bool m_stalled = false;
};
