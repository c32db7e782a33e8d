#include "KafkaFetchedRecordSet.h"

#include "KafkaAbortedTransactionFilter.h"
#include "KafkaBuffer.h"
#include "KafkaRecordBatch.h"
#include "KafkaRecordStorage.h"
#include "MemoryPrefault.h"

#include <QtEndian>

#include <algorithm>

namespace {

template <typename T>
T readBigEndian(const QByteArray& bytes, std::int64_t at)
{
    return qFromBigEndian<T>(bytes.constData() + at);
}

std::int64_t addWrapping(std::int64_t base, std::int64_t delta)
{
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(delta));
}

// The records a complete batch at `position` may be expected to yield, by its
// header: none for a control batch; never more than its section could hold
// uncompressed, nor (compressed) more than one per compressed byte. A count
// beyond that is not trusted ahead of decoding: the list grows if it was right.
std::int64_t expectedRecords(const QByteArray& bytes, std::int64_t position, std::int64_t batchSize)
{
    const auto attributes = readBigEndian<std::int16_t>(bytes, position + KafkaRecordBatch::AttributesPosition);
    if (attributes & KafkaRecordBatch::ControlFlag)
        return 0;
    const std::int64_t sectionSize = batchSize - KafkaRecordBatch::HeaderSize;
    const std::int64_t bound = (attributes & KafkaRecordBatch::CompressionMask) == 0
        ? sectionSize / KafkaRecordBatch::MinRecordSize
        : sectionSize;
    const auto count = readBigEndian<std::int32_t>(bytes, position + KafkaRecordBatch::RecordCountPosition);
    return std::clamp<std::int64_t>(count, 0, bound);
}

// Unused room in a decoded record list beyond 1/SpareRoomFraction of its
// records is given back.
constexpr qsizetype SpareRoomFraction = 4;

} // namespace

KafkaFetchedRecordSet::KafkaFetchedRecordSet(QString topic, std::int32_t partition, std::int64_t fetchOffset,
    std::int64_t endOffset, const KafkaFetchResponse::Partition& response)
    : m_topic(std::move(topic))
    , m_partition(partition)
    , m_fetchOffset(fetchOffset)
    , m_endOffset(endOffset)
    , m_records(response.records)
    , m_abortedTransactions(response.abortedTransactions)
    , m_nextOffset(fetchOffset)
{
}

std::optional<KafkaError> KafkaFetchedRecordSet::scan()
{
    const std::int64_t size = m_records.size();
    std::int64_t position = 0;
    while (size - position >= KafkaRecordBatch::HeaderSize) {
        const std::int64_t baseOffset = readBigEndian<std::int64_t>(m_records, position);
        const std::int32_t batchLength
            = readBigEndian<std::int32_t>(m_records, position + KafkaRecordBatch::BatchLengthPosition);
        if (std::optional<KafkaError> error = KafkaRecordBatch::checkBatchLength(batchLength, baseOffset))
            return error;
        if (m_endOffset >= 0 && baseOffset > m_endOffset) {
            // Nothing lies between the last batch and this one: the range is read.
            m_nextOffset = std::max(m_nextOffset, m_endOffset + 1);
            break;
        }
        const std::int64_t batchSize = KafkaRecordBatch::LengthFieldEnd + std::int64_t(batchLength);
        const bool compressed
            = readBigEndian<std::int16_t>(m_records, position + KafkaRecordBatch::AttributesPosition)
            & KafkaRecordBatch::CompressionMask;
        if (size - position < batchSize) {
            m_nextBatchSize = compressed ? 0 : batchSize;
            break;
        }
        const std::int32_t lastOffsetDelta = readBigEndian<std::int32_t>(m_records, position + KafkaRecordBatch::LastOffsetDeltaPosition);
        m_nextOffset = std::max(m_nextOffset, addWrapping(addWrapping(baseOffset, lastOffsetDelta), 1));
        m_expectedRecords += expectedRecords(m_records, position, batchSize);
        m_nextBatchSize = compressed ? 0 : std::max(m_nextBatchSize.value_or(0), batchSize);
        position += batchSize;
        m_scannedSize = position;
    }
    m_stalled = m_scannedSize == 0 && size > 0 && m_nextOffset == m_fetchOffset;
    return std::nullopt;
}

KafkaResult<QList<KafkaRecord>> KafkaFetchedRecordSet::decode() const
{
    KafkaDecodeBudget budget;
    KafkaBatchDecompressor decompressor;
    return decode(budget, decompressor);
}

KafkaResult<QList<KafkaRecord>> KafkaFetchedRecordSet::decode(
    KafkaDecodeBudget& budget, KafkaBatchDecompressor& decompressor) const
{
    if (m_scannedSize == 0)
        return QList<KafkaRecord>();
    KafkaAbortedTransactionFilter abortedTransactions
        = KafkaAbortedTransactionFilter::fromTransactions(m_abortedTransactions);
    const auto outOfRange = [this](const KafkaRecord& record) {
        return record.offset < m_fetchOffset || (m_endOffset >= 0 && record.offset > m_endOffset);
    };
    // Every batch appends to this one list, reserved once for them all.
    QList<KafkaRecord> records;
    records.reserve(static_cast<qsizetype>(
        std::min(m_expectedRecords, budget.remaining() / KafkaDecodeBudget::RecordOverhead)));
    // The list is kept with its records: fresh memory every time.
    MemoryPrefault::forWriting(reinterpret_cast<char*>(records.data()),
        static_cast<std::int64_t>(records.capacity()) * std::int64_t(sizeof(KafkaRecord)));
    // Only the complete batches the scan found are parsed.
    KafkaBuffer recordSet(KafkaBuffer::slice(m_records, 0, m_scannedSize));
    qsizetype decoded = 0;
    while (!recordSet.atEnd()) {
        const qsizetype batchStart = records.size();
        KafkaResult<KafkaRecordBatch> parsed
            = KafkaRecordBatch::parseAppendingRecords(recordSet, m_topic, m_partition, budget, records, &decompressor);
        if (parsed.isError())
            return std::move(parsed).error();
        decoded += records.size() - batchStart;
        if (abortedTransactions.isAborted(parsed.value())) {
            records.resize(batchStart);
            continue;
        }
        records.erase(std::remove_if(records.begin() + batchStart, records.end(), outOfRange), records.end());
    }
    // Records left out (aborted, out of range) leave their room unused: give
    // it back when it is much, as the list may be kept for long. Nor do the
    // records kept hold on to the bytes they shared with those left out.
    if (records.capacity() - records.size() > records.size() / SpareRoomFraction)
        records.squeeze();
    if (decoded > records.size())
        KafkaRecordStorage::releaseSparseBlocks(records);
    return records;
}
