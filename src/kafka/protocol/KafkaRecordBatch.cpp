#include "KafkaRecordBatch.h"

#include <QtEndian>

#include <algorithm>

namespace {

// A control record's key: int16 version, int16 type.
constexpr qsizetype ControlKeySize = 4;

QString number(std::int64_t value)
{
    return QString::number(value);
}

// The bytes [position, position + size) of a buffer as a buffer of their own,
// sharing the bytes rather than copying them (see KafkaBuffer::slice).
KafkaBuffer sectionView(const KafkaBuffer& of, std::int64_t size)
{
    return KafkaBuffer(KafkaBuffer::slice(of.data, of.position, size));
}

} // namespace

std::int64_t KafkaRecordBatch::lastOffset() const
{
    // Wraps around rather than overflow on a corrupt header.
    return static_cast<std::int64_t>(
        static_cast<std::uint64_t>(baseOffset) + static_cast<std::uint64_t>(std::int64_t(lastOffsetDelta)));
}

std::optional<KafkaError> KafkaRecordBatch::checkBatchLength(std::int32_t batchLength, std::int64_t baseOffset)
{
    if (batchLength >= HeaderSize - LengthFieldEnd)
        return std::nullopt;
    return KafkaError(KafkaErrorCode::CorruptMessage,
        QStringLiteral("Invalid record batch length %1 at offset %2, the header alone takes %3")
            .arg(number(batchLength), number(baseOffset), number(HeaderSize - LengthFieldEnd)));
}

KafkaResult<KafkaRecordBatch> KafkaRecordBatch::parseFromBuffer(
    KafkaBuffer& recordSet, const QString& topic, std::int32_t partition)
{
    KafkaDecodeBudget budget;
    return parseFromBuffer(recordSet, topic, partition, budget);
}

KafkaResult<KafkaRecordBatch> KafkaRecordBatch::parseFromBuffer(
    KafkaBuffer& recordSet, const QString& topic, std::int32_t partition, KafkaDecodeBudget& budget)
{
    QList<KafkaRecord> records;
    KafkaResult<KafkaRecordBatch> batch = parseAppendingRecords(recordSet, topic, partition, budget, records);
    if (batch.hasValue())
        batch.value().records = std::move(records);
    return batch;
}

KafkaResult<KafkaRecordBatch> KafkaRecordBatch::parseAppendingRecords(KafkaBuffer& recordSet, const QString& topic,
    std::int32_t partition, KafkaDecodeBudget& budget, QList<KafkaRecord>& records,
    KafkaBatchDecompressor* decompressor)
{
    const std::int64_t start = recordSet.position;
    const std::int64_t available = recordSet.remaining();
    if (available < HeaderSize)
        return KafkaError(KafkaErrorCode::IncompleteRecordBatch,
            QStringLiteral("Unable to parse record batch %1 bytes are available, %2 are required to read the header")
                .arg(number(available), number(HeaderSize)));

    KafkaRecordBatch batch;
    batch.baseOffset = recordSet.readS64();
    batch.batchLength = recordSet.readS32();
    batch.partitionLeaderEpoch = recordSet.readS32();
    batch.magic = recordSet.readS8();
    batch.crc = recordSet.readU32();
    batch.attributes = recordSet.readS16();
    batch.lastOffsetDelta = recordSet.readS32();
    batch.firstTimestamp = recordSet.readS64();
    batch.maxTimestamp = recordSet.readS64();
    batch.producerId = recordSet.readS64();
    batch.producerEpoch = recordSet.readS16();
    batch.baseSequence = recordSet.readS32();
    const std::int32_t recordCount = recordSet.readS32();

    if (batch.magic != SupportedMagic)
        return KafkaError(KafkaErrorCode::CorruptMessage,
            QStringLiteral("Unsupported record batch format (magic %1) at offset %2")
                .arg(number(batch.magic), number(batch.baseOffset)));
    if (std::optional<KafkaError> error = checkBatchLength(batch.batchLength, batch.baseOffset))
        return std::move(*error);

    const std::int64_t batchSize = LengthFieldEnd + std::int64_t(batch.batchLength);
    if (available < batchSize)
        return KafkaError(KafkaErrorCode::IncompleteRecordBatch,
            QStringLiteral("Unable to parse record batch %1 bytes are available, %2 are required to read the data")
                .arg(number(available), number(batchSize)));

    if (recordCount < 0)
        return KafkaError(KafkaErrorCode::CorruptMessage,
            QStringLiteral("Invalid record count %1 in the record batch at offset %2")
                .arg(number(recordCount), number(batch.baseOffset)));

    const std::int64_t recordsSize = batchSize - HeaderSize;
    const std::int64_t end = start + batchSize;

    // Control batches are never compressed; only their first record, the
    // marker that ends a transaction, is of interest.
    if (batch.isControlBatch()) {
        KafkaBuffer section = sectionView(recordSet, recordsSize);
        if (std::optional<KafkaError> error = readControlType(batch, section, recordCount, budget))
            return std::move(*error);
        recordSet.position = end;
        return batch;
    }

    // The per-batch cap, or what is left of the budget when that is less.
    const std::int64_t decompressionLimit = std::min(MaxDecompressedSize, budget.remaining());
    KafkaResult<KafkaBuffer> section = recordsOf(batch, recordSet, recordsSize, decompressionLimit, decompressor);
    if (section.isError()) {
        if (section.error().code == KafkaErrorCode::RecordListTooLarge && decompressionLimit < MaxDecompressedSize) {
            budget.charge(decompressionLimit + 1);
            return budget.exceededError(batch.baseOffset);
        }
        return std::move(section).error();
    }
    if (batch.compression() != 0) {
        budget.charge(section.value().size());
        // The records keep their bytes where the batch holds them: the
        // decompressed batch gives back the room it did not use.
        QByteArray& bytes = section.value().data;
        if (bytes.capacity() > bytes.size())
            bytes.squeeze();
    }
    // A decompressor may stop short of the section's end (a gzip stream with
    // trailing bytes): the next batch starts where this one's length says.
    recordSet.position = end;

    if (std::optional<KafkaError> error
        = readRecords(batch, section.value(), recordCount, topic, partition, budget, records))
        return std::move(*error);
    return batch;
}

KafkaResult<KafkaBuffer> KafkaRecordBatch::recordsOf(KafkaRecordBatch& batch, KafkaBuffer& recordSet,
    std::int64_t recordsSize, std::int64_t maxDecompressedSize, KafkaBatchDecompressor* decompressor)
{
    switch (batch.compression()) {
    case 0: {
        // Read in place, bounded to the section.
        KafkaBuffer records = sectionView(recordSet, recordsSize);
        recordSet.position += recordsSize;
        return records;
    }
    case 1:
        return uncompressGZip(recordSet, recordsSize, maxDecompressedSize, decompressor);
    case 2:
        return uncompressSnappy(recordSet, recordsSize, maxDecompressedSize, decompressor);
    case 3:
        return uncompressLZ4(recordSet, recordsSize, maxDecompressedSize, decompressor);
    case 4:
        return uncompressZstd(recordSet, recordsSize, maxDecompressedSize, decompressor);
    default:
        return KafkaError(KafkaErrorCode::UnsupportedCompressionType,
            QStringLiteral("Unsupported compression type %1").arg(number(batch.compression())));
    }
}

std::optional<KafkaError> KafkaRecordBatch::readRecords(const KafkaRecordBatch& batch, KafkaBuffer& section,
    std::int32_t recordCount, const QString& topic, std::int32_t partition, KafkaDecodeBudget& budget,
    QList<KafkaRecord>& records)
{
    // No more than the section and the budget can back, whatever the count claims.
    const qsizetype wanted = static_cast<qsizetype>(std::min(
        section.fitting(recordCount, MinRecordSize), budget.remaining() / KafkaDecodeBudget::RecordOverhead));
    // Growing geometrically: batches that claim more records than the list
    // was reserved for do not move it each time.
    if (records.capacity() - records.size() < wanted)
        records.reserve(std::max(records.size() + wanted, 2 * records.capacity()));
    for (std::int32_t i = 0; i < recordCount; ++i) {
        if (section.atEnd())
            return KafkaError(KafkaErrorCode::CorruptMessage,
                QStringLiteral("The record batch at offset %1 declares %2 records but holds only %3")
                    .arg(number(batch.baseOffset), number(recordCount), number(i)));
        KafkaRecord& record = records.emplaceBack();
        KafkaRecord::readFromBuffer(
            record, section, batch.firstTimestamp, topic, partition, batch.baseOffset, budget);
        if (section.overrun > 0)
            return KafkaError(KafkaErrorCode::CorruptMessage,
                QStringLiteral("Record %1 of %2 in the record batch at offset %3 is malformed "
                               "or runs past the end of the batch")
                    .arg(number(i + 1), number(recordCount), number(batch.baseOffset)));
        if (budget.exceeded())
            return budget.exceededError(batch.baseOffset);
        if (batch.hasLogAppendTime())
            record.timestamp = batch.maxTimestamp;
    }
    return std::nullopt;
}

std::optional<KafkaError> KafkaRecordBatch::readControlType(
    KafkaRecordBatch& batch, KafkaBuffer& records, std::int32_t recordCount, KafkaDecodeBudget& budget)
{
    if (recordCount < 1)
        return std::nullopt;
    const KafkaRecord control = KafkaRecord::parseFromBuffer(records, 0, QString(), 0, batch.baseOffset, budget);
    if (records.overrun > 0 || control.key.size() < ControlKeySize)
        return KafkaError(KafkaErrorCode::CorruptMessage,
            QStringLiteral("Invalid control record in the record batch at offset %1").arg(number(batch.baseOffset)));
    if (budget.exceeded())
        return budget.exceededError(batch.baseOffset);
    batch.controlType = qFromBigEndian<std::int16_t>(control.key.constData() + 2);
    return std::nullopt;
}
