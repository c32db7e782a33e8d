#pragma once

// Magic-2 record batches compressed with the real libraries, with raw overrides for malformed input.

#include "KafkaBuffer.h"

#include <lz4frame.h>
#include <snappy.h>
#include <zlib.h>
#include <zstd.h>

#include <QByteArray>

#include <optional>

namespace TestBatches {

enum class Codec { None, Gzip, Zlib, Snappy, SnappyJava, Lz4, Zstd };
constexpr Codec CompressedCodecs[] = { Codec::Gzip, Codec::Zlib, Codec::Snappy, Codec::SnappyJava, Codec::Lz4, Codec::Zstd };

inline QByteArray snappyRaw(const QByteArray& data)
{
    std::string out;
    snappy::Compress(data.constData(), static_cast<size_t>(data.size()), &out);
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

inline QByteArray bigEndian32(std::int32_t value)
{
    KafkaBuffer out;
    out.writeS32(value);
    return out.data;
}

// The snappy-java framing: magic, versions, then length-prefixed raw blocks.
inline QByteArray snappyJava(const QByteArray& data, qsizetype chunkSize = 32 * 1024)
{
    QByteArray out = QByteArray("\x82SNAPPY\0", 8) + bigEndian32(1) + bigEndian32(1);
    for (qsizetype at = 0; at < data.size(); at += chunkSize) {
        const QByteArray chunk = snappyRaw(data.mid(at, chunkSize));
        out += bigEndian32(static_cast<std::int32_t>(chunk.size())) + chunk;
    }
    return out;
}

inline QByteArray compress(Codec codec, const QByteArray& data)
{
    const auto size = static_cast<size_t>(data.size());
    QByteArray out;
    z_stream stream {};
    switch (codec) {
    case Codec::None:
        return data;
    case Codec::Gzip:
    case Codec::Zlib:
        deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, codec == Codec::Gzip ? 31 : 15, 8, Z_DEFAULT_STRATEGY);
        out.resize(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(size))) + 32);
        stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
        stream.avail_in = static_cast<uInt>(size);
        stream.next_out = reinterpret_cast<Bytef*>(out.data());
        stream.avail_out = static_cast<uInt>(out.size());
        deflate(&stream, Z_FINISH);
        out.resize(static_cast<qsizetype>(stream.total_out));
        deflateEnd(&stream);
        return out;
    case Codec::Snappy:
        return snappyRaw(data);
    case Codec::SnappyJava:
        return snappyJava(data);
    case Codec::Lz4:
        out.resize(static_cast<qsizetype>(LZ4F_compressFrameBound(size, nullptr)));
        out.resize(static_cast<qsizetype>(
            LZ4F_compressFrame(out.data(), static_cast<size_t>(out.size()), data.constData(), size, nullptr)));
        return out;
    case Codec::Zstd:
        out.resize(static_cast<qsizetype>(ZSTD_compressBound(size)));
        out.resize(static_cast<qsizetype>(
            ZSTD_compress(out.data(), static_cast<size_t>(out.size()), data.constData(), size, 3)));
        return out;
    }
    return data;
}

inline void writeZigzag(KafkaBuffer& out, std::int64_t value)
{
    out.writeVarU64((static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63));
}

struct TestRecord {
    std::int8_t attributes = 0;
    std::int64_t timestampDelta = 0;
    std::int64_t offsetDelta = 0;
    QByteArray key;
    QByteArray value;
    QList<std::pair<QString, QByteArray>> headers;

    QByteArray bytes() const
    {
        KafkaBuffer body;
        // Null bytes are written with length -1, empty ones with length 0.
        const auto writeNullable = [&body](const QByteArray& bytes) {
            writeZigzag(body, bytes.isNull() ? -1 : bytes.size());
            body.write(bytes.constData(), bytes.size());
        };
        body.writeS8(attributes);
        writeZigzag(body, timestampDelta);
        writeZigzag(body, offsetDelta);
        writeNullable(key);
        writeNullable(value);
        writeZigzag(body, headers.size());
        for (const auto& [headerKey, headerValue] : headers) {
            writeNullable(headerKey.isNull() ? QByteArray() : headerKey.toUtf8());
            writeNullable(headerValue);
        }
        KafkaBuffer record;
        writeZigzag(record, body.size());
        record.write(body.data.constData(), body.size());
        return record.data;
    }
};

struct TestBatch {
    std::int64_t baseOffset = 0;
    std::int32_t partitionLeaderEpoch = 0;
    std::int8_t magic = 2;
    std::uint32_t crc = 0;
    std::int16_t attributes = 0; // the codec bits are added from `codec`
    std::int64_t firstTimestamp = 1'700'000'000'000;
    std::int64_t maxTimestamp = 1'700'000'000'999;
    std::int64_t producerId = -1;
    std::int16_t producerEpoch = -1;
    std::int32_t baseSequence = -1;
    Codec codec = Codec::None;
    QList<TestRecord> records;

    // Overrides: by default derived from the records.
    std::optional<std::int32_t> lastOffsetDelta;
    std::optional<std::int32_t> recordCount;
    std::optional<std::int32_t> batchLength;
    std::optional<QByteArray> uncompressedSection; // the records section before compression
    std::optional<QByteArray> section; // the records section as written, compression skipped

    QByteArray bytes() const
    {
        static constexpr std::int16_t codecBits[] = { 0, 1, 1, 2, 2, 3, 4 };
        QByteArray plain = uncompressedSection.value_or(QByteArray());
        for (const TestRecord& record : uncompressedSection ? QList<TestRecord>() : records)
            plain += record.bytes();
        const QByteArray recordsSection = section.value_or(compress(codec, plain));
        KafkaBuffer out;
        out.writeS64(baseOffset);
        out.writeS32(batchLength.value_or(static_cast<std::int32_t>(49 + recordsSection.size())));
        out.writeS32(partitionLeaderEpoch);
        out.writeS8(magic);
        out.writeS32(static_cast<std::int32_t>(crc));
        out.writeS16(static_cast<std::int16_t>(attributes | codecBits[static_cast<int>(codec)]));
        out.writeS32(lastOffsetDelta.value_or(records.isEmpty() ? 0 : static_cast<std::int32_t>(records.size() - 1)));
        for (const std::int64_t value : { firstTimestamp, maxTimestamp, producerId })
            out.writeS64(value);
        out.writeS16(producerEpoch);
        out.writeS32(baseSequence);
        out.writeS32(recordCount.value_or(static_cast<std::int32_t>(records.size())));
        out.write(recordsSection.constData(), recordsSection.size());
        return out.data;
    }
};

// `count` records with values "v<offset delta>"; a producer id makes the batch transactional.
inline TestBatch plainBatch(std::int64_t baseOffset, int count, std::int64_t transactionalProducer = -1)
{
    TestBatch batch;
    batch.baseOffset = baseOffset;
    for (int i = 0; i < count; ++i)
        batch.records.append({ 0, i, i, QByteArray(), "v" + QByteArray::number(i), {} });
    if (transactionalProducer >= 0) {
        batch.producerId = transactionalProducer;
        batch.producerEpoch = 0;
        batch.attributes = 0x10; // transactional
    }
    return batch;
}

inline TestBatch transactionalBatch(std::int64_t baseOffset, std::int64_t producerId, int count)
{
    return plainBatch(baseOffset, count, producerId);
}

// A transaction's end marker: key (version 0, type), value (version 0, coordinator epoch).
inline TestBatch controlBatch(std::int64_t baseOffset, std::int64_t producerId, std::int16_t type)
{
    TestBatch batch = plainBatch(baseOffset, 0, producerId);
    batch.attributes = 0x30; // transactional control batch
    batch.records = { { 0, 0, 0, QByteArray::fromHex(type == 0 ? "00000000" : "00000001"), QByteArray::fromHex("000000000005"), {} } };
    return batch;
}

} // namespace TestBatches
