#include "KafkaFetchedRecordSet.h"

#include "KafkaAbortedTransactionFilter.h"
#include "KafkaBuffer.h"
#include "KafkaRecordBatch.h"

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
        if (size - position < batchSize)
            break;
        const std::int32_t lastOffsetDelta = readBigEndian<std::int32_t>(m_records, position + KafkaRecordBatch::LastOffsetDeltaPosition);
        m_nextOffset = std::max(m_nextOffset, addWrapping(addWrapping(baseOffset, lastOffsetDelta), 1));
        position += batchSize;
        m_scannedSize = position;
    }
    m_stalled = m_scannedSize == 0 && size > 0 && m_nextOffset == m_fetchOffset;
    return std::nullopt;
}

KafkaResult<QList<KafkaRecord>> KafkaFetchedRecordSet::decode() const
{
    KafkaDecodeBudget budget;
    return decode(budget);
}

KafkaResult<QList<KafkaRecord>> KafkaFetchedRecordSet::decode(KafkaDecodeBudget& budget) const
{
    if (m_scannedSize == 0)
        return QList<KafkaRecord>();
    KafkaAbortedTransactionFilter abortedTransactions
        = KafkaAbortedTransactionFilter::fromTransactions(m_abortedTransactions);
    const auto inRange = [this](const KafkaRecord& record) {
        return record.offset >= m_fetchOffset && (m_endOffset < 0 || record.offset <= m_endOffset);
    };
    // The records of each batch, joined once their number is known.
    QList<QList<KafkaRecord>> kept;
    qsizetype count = 0;
    // Only the complete batches the scan found are parsed.
    KafkaBuffer recordSet(QByteArray::fromRawData(m_records.constData(), static_cast<qsizetype>(m_scannedSize)));
    while (!recordSet.atEnd()) {
        KafkaResult<KafkaRecordBatch> parsed
            = KafkaRecordBatch::parseFromBuffer(recordSet, m_topic, m_partition, budget);
        if (parsed.isError())
            return std::move(parsed).error();
        KafkaRecordBatch& batch = parsed.value();
        if (abortedTransactions.isAborted(batch) || batch.records.isEmpty())
            continue;
        if (!std::all_of(batch.records.cbegin(), batch.records.cend(), inRange))
            batch.records.removeIf([&inRange](const KafkaRecord& record) { return !inRange(record); });
        count += batch.records.size();
        kept.append(std::move(batch.records));
    }
    if (kept.size() == 1)
        return std::move(kept.first());
    QList<KafkaRecord> records;
    records.reserve(count);
    for (QList<KafkaRecord>& part : kept) {
        std::move(part.begin(), part.end(), std::back_inserter(records));
        // Freed at once, so that the records are not held twice over.
        part = QList<KafkaRecord>();
    }
    return records;
}
