#pragma once

#include "Error.h"
#include "KafkaBuffer.h"
#include "KafkaDecodeBudget.h"
#include "KafkaRecord.h"
#include "Result.h"

#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

class KafkaBatchDecompressor;

// One record batch (magic 2) of a fetched record set, with its records
// decompressed and decoded.
class KafkaRecordBatch {
public:
    // Bytes of the batch header; batchLength counts the header from its 13th byte.
    static constexpr std::int64_t HeaderSize = 61;
    static constexpr std::int64_t LengthFieldEnd = 12;
    // Where header fields lie, for reading them without parsing the batch.
    static constexpr std::int64_t BatchLengthPosition = 8;
    static constexpr std::int64_t AttributesPosition = 21;
    static constexpr std::int64_t LastOffsetDeltaPosition = 23;
    static constexpr std::int64_t RecordCountPosition = 57;
    // The smallest record: length, attributes, two deltas, key length, value
    // length and header count, one byte each.
    static constexpr std::int64_t MinRecordSize = 7;
    // The only batch format read.
    static constexpr std::int8_t SupportedMagic = 2;
    // Decompressing one batch never yields more than this many bytes.
    static constexpr std::int64_t MaxDecompressedSize = 256 * 1024 * 1024;

    static constexpr std::int16_t CompressionMask = 0x07;
    static constexpr std::int16_t LogAppendTimeFlag = 0x08;
    static constexpr std::int16_t TransactionalFlag = 0x10;
    static constexpr std::int16_t ControlFlag = 0x20;

    // Types of the control record that ends a transaction.
    static constexpr std::int16_t ControlTypeAbort = 0;
    static constexpr std::int16_t ControlTypeCommit = 1;
    // No control record was read (not a control batch, or an empty one).
    static constexpr std::int16_t ControlTypeNone = -1;

    std::int64_t baseOffset = 0;
    std::int32_t batchLength = 0;
    std::int32_t partitionLeaderEpoch = 0;
    std::int8_t magic = 0;
    std::uint32_t crc = 0;
    std::int16_t attributes = 0;
    std::int32_t lastOffsetDelta = 0;
    std::int64_t firstTimestamp = 0;
    std::int64_t maxTimestamp = 0;
    std::int64_t producerId = 0;
    std::int16_t producerEpoch = 0;
    std::int32_t baseSequence = 0;
    // Of a control batch: the type in its first control record's key.
    std::int16_t controlType = ControlTypeNone;
    // In wire order; none for a control batch.
    QList<KafkaRecord> records;

    int compression() const { return attributes & CompressionMask; }
    bool isTransactional() const { return attributes & TransactionalFlag; }
    bool isControlBatch() const { return attributes & ControlFlag; }
    bool hasLogAppendTime() const { return attributes & LogAppendTimeFlag; }
    bool isAbortMarker() const { return isControlBatch() && controlType == ControlTypeAbort; }
    // Offset of the batch's last record.
    std::int64_t lastOffset() const;

    // A batchLength too small for the header fails the batch.
    static std::optional<KafkaError> checkBatchLength(std::int32_t batchLength, std::int64_t baseOffset);

    // Reads the batch at the record set's cursor. On success the cursor stands
    // right after the batch. A batch cut short by the end of the record set
    // fails with code 37; malformed batches with code 63; the decompressors'
    // errors are returned unchanged. What the batch decompresses to and its
    // records are charged to the budget, which the batches of one Fetch
    // response share: a batch that takes it past its limit fails with code 79
    // and the budget's message.
    static KafkaResult<KafkaRecordBatch> parseFromBuffer(
        KafkaBuffer& recordSet, const QString& topic, std::int32_t partition, KafkaDecodeBudget& budget);
    // The same with a budget of its own, for a batch read alone.
    static KafkaResult<KafkaRecordBatch> parseFromBuffer(
        KafkaBuffer& recordSet, const QString& topic, std::int32_t partition);
    // As parseFromBuffer, but the records are appended to `records`, the list
    // of every batch of a record set, and the batch's own list stays empty.
    // The list should have room for them; it grows by the batch's record
    // count when it has not. On failure `records` may hold part of the batch.
    // The decompressor, when given, serves every batch its owner decodes.
    static KafkaResult<KafkaRecordBatch> parseAppendingRecords(KafkaBuffer& recordSet, const QString& topic,
        std::int32_t partition, KafkaDecodeBudget& budget, QList<KafkaRecord>& records,
        KafkaBatchDecompressor* decompressor = nullptr);

    // Each decompresses `size` bytes at the buffer's cursor into a new buffer
    // (cursor 0) and moves the cursor past the compressed bytes. Output beyond
    // maxSize bytes fails with code 79. Given a decompressor, they reuse its
    // contexts, and their output is reserved at the size of the one before.
    static KafkaResult<KafkaBuffer> uncompressGZip(
        KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize = MaxDecompressedSize);
    static KafkaResult<KafkaBuffer> uncompressGZip(
        KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize, KafkaBatchDecompressor* reuse);
    // Framed snappy-java stream when it starts with the framing magic, else one
    // raw block.
    static KafkaResult<KafkaBuffer> uncompressSnappy(
        KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize = MaxDecompressedSize);
    static KafkaResult<KafkaBuffer> uncompressSnappy(
        KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize, KafkaBatchDecompressor* reuse);
    static KafkaResult<KafkaBuffer> uncompressSnappyJava(
        KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize, KafkaBatchDecompressor* reuse);
    static KafkaResult<KafkaBuffer> uncompressSnappyRaw(
        KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize, KafkaBatchDecompressor* reuse);
    static KafkaResult<KafkaBuffer> uncompressLZ4(
        KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize = MaxDecompressedSize);
    static KafkaResult<KafkaBuffer> uncompressLZ4(
        KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize, KafkaBatchDecompressor* reuse);
    static KafkaResult<KafkaBuffer> uncompressZstd(
        KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize = MaxDecompressedSize);
    static KafkaResult<KafkaBuffer> uncompressZstd(
        KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize, KafkaBatchDecompressor* reuse);

private:
    static KafkaResult<KafkaBuffer> recordsOf(KafkaRecordBatch& batch, KafkaBuffer& recordSet,
        std::int64_t recordsSize, std::int64_t maxDecompressedSize, KafkaBatchDecompressor* decompressor);
    static std::optional<KafkaError> readRecords(const KafkaRecordBatch& batch, KafkaBuffer& section,
        std::int32_t recordCount, const QString& topic, std::int32_t partition, KafkaDecodeBudget& budget,
        QList<KafkaRecord>& records);
    static std::optional<KafkaError> readControlType(
        KafkaRecordBatch& batch, KafkaBuffer& records, std::int32_t recordCount, KafkaDecodeBudget& budget);
};
