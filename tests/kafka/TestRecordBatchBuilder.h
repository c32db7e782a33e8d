#pragma once

// Writes magic-2 record batches for the codec tests: records, attributes,
// compression with the real libraries, control batches, and raw overrides for
// malformed input.

#include "KafkaBuffer.h"

#include <lz4frame.h>
#include <snappy.h>
#include <zlib.h>
#include <zstd.h>

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtEndian>

#include <cstdint>
#include <optional>
#include <string>

namespace TestBatches {

enum class Codec { None, Gzip, Zlib, Snappy, SnappyJava, Lz4, Zstd };

inline std::int16_t codecBits(Codec codec)
{
    switch (codec) {
    case Codec::None:
        return 0;
    case Codec::Gzip:
    case Codec::Zlib:
        return 1;
    case Codec::Snappy:
    case Codec::SnappyJava:
        return 2;
    case Codec::Lz4:
        return 3;
    case Codec::Zstd:
        return 4;
    }
    return 0;
}

inline QByteArray deflateWith(const QByteArray& data, int windowBits)
{
    z_stream stream {};
    deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY);
    QByteArray out(static_cast<qsizetype>(deflateBound(&stream, static_cast<uLong>(data.size()))) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(static_cast<qsizetype>(stream.total_out));
    deflateEnd(&stream);
    return out;
}

inline QByteArray snappyRaw(const QByteArray& data)
{
    std::string out;
    snappy::Compress(data.constData(), static_cast<size_t>(data.size()), &out);
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

inline QByteArray bigEndian32(std::int32_t value)
{
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

inline QByteArray snappyJavaHeader()
{
    return QByteArray("\x82SNAPPY\0", 8) + bigEndian32(1) + bigEndian32(1);
}

// The snappy-java framing: magic, versions, then length-prefixed raw blocks.
inline QByteArray snappyJava(const QByteArray& data, qsizetype chunkSize = 32 * 1024)
{
    QByteArray out = snappyJavaHeader();
    for (qsizetype at = 0; at < data.size(); at += chunkSize) {
        const QByteArray chunk = snappyRaw(data.mid(at, chunkSize));
        out += bigEndian32(static_cast<std::int32_t>(chunk.size())) + chunk;
    }
    return out;
}

inline QByteArray lz4Frame(const QByteArray& data)
{
    QByteArray out(static_cast<qsizetype>(LZ4F_compressFrameBound(static_cast<size_t>(data.size()), nullptr)), '\0');
    const size_t written = LZ4F_compressFrame(
        out.data(), static_cast<size_t>(out.size()), data.constData(), static_cast<size_t>(data.size()), nullptr);
    out.resize(static_cast<qsizetype>(written));
    return out;
}

inline QByteArray zstdFrame(const QByteArray& data)
{
    QByteArray out(static_cast<qsizetype>(ZSTD_compressBound(static_cast<size_t>(data.size()))), '\0');
    const size_t written = ZSTD_compress(
        out.data(), static_cast<size_t>(out.size()), data.constData(), static_cast<size_t>(data.size()), 3);
    out.resize(static_cast<qsizetype>(written));
    return out;
}

inline QByteArray compress(Codec codec, const QByteArray& data)
{
    switch (codec) {
    case Codec::None:
        return data;
    case Codec::Gzip:
        return deflateWith(data, 15 + 16);
    case Codec::Zlib:
        return deflateWith(data, 15);
    case Codec::Snappy:
        return snappyRaw(data);
    case Codec::SnappyJava:
        return snappyJava(data);
    case Codec::Lz4:
        return lz4Frame(data);
    case Codec::Zstd:
        return zstdFrame(data);
    }
    return data;
}

inline void writeZigzag(KafkaBuffer& out, std::int64_t value)
{
    out.writeVarU64((static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63));
}

// Null bytes are written with length -1, empty ones with length 0.
inline void writeNullable(KafkaBuffer& out, const QByteArray& bytes)
{
    writeZigzag(out, bytes.isNull() ? -1 : bytes.size());
    out.write(bytes.constData(), bytes.size());
}

struct TestHeader {
    QString key;
    QByteArray value;
};

struct TestRecord {
    std::int8_t attributes = 0;
    std::int64_t timestampDelta = 0;
    std::int64_t offsetDelta = 0;
    QByteArray key;
    QByteArray value;
    QList<TestHeader> headers;

    QByteArray bytes() const
    {
        KafkaBuffer body;
        body.writeS8(attributes);
        writeZigzag(body, timestampDelta);
        writeZigzag(body, offsetDelta);
        writeNullable(body, key);
        writeNullable(body, value);
        writeZigzag(body, headers.size());
        for (const TestHeader& header : headers) {
            writeNullable(body, header.key.isNull() ? QByteArray() : header.key.toUtf8());
            writeNullable(body, header.value);
        }
        KafkaBuffer record;
        writeZigzag(record, body.size());
        record.write(body.data.constData(), body.size());
        return record.data;
    }
};

// `count` records with offset deltas 0.. and values "v<offset delta>".
inline QList<TestRecord> numberedRecords(int count)
{
    QList<TestRecord> records;
    for (int i = 0; i < count; ++i) {
        TestRecord record;
        record.offsetDelta = i;
        record.timestampDelta = i;
        record.value = "v" + QByteArray::number(i);
        records.append(record);
    }
    return records;
}

struct TestBatch {
    std::int64_t baseOffset = 0;
    std::int32_t partitionLeaderEpoch = 0;
    std::int8_t magic = 2;
    std::uint32_t crc = 0;
    // Codec bits are added from `codec`.
    std::int16_t attributes = 0;
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
    // The records section as written, before compression.
    std::optional<QByteArray> uncompressedSection;
    // The records section as written, compression skipped.
    std::optional<QByteArray> section;

    QByteArray sectionBytes() const
    {
        if (section)
            return *section;
        QByteArray plain;
        if (uncompressedSection) {
            plain = *uncompressedSection;
        } else {
            for (const TestRecord& record : records)
                plain += record.bytes();
        }
        return compress(codec, plain);
    }

    QByteArray bytes() const
    {
        const QByteArray recordsSection = sectionBytes();
        KafkaBuffer out;
        out.writeS64(baseOffset);
        out.writeS32(batchLength.value_or(static_cast<std::int32_t>(49 + recordsSection.size())));
        out.writeS32(partitionLeaderEpoch);
        out.writeS8(magic);
        out.writeS32(static_cast<std::int32_t>(crc));
        out.writeS16(static_cast<std::int16_t>(attributes | codecBits(codec)));
        out.writeS32(lastOffsetDelta.value_or(records.isEmpty() ? 0 : static_cast<std::int32_t>(records.size() - 1)));
        out.writeS64(firstTimestamp);
        out.writeS64(maxTimestamp);
        out.writeS64(producerId);
        out.writeS16(producerEpoch);
        out.writeS32(baseSequence);
        out.writeS32(recordCount.value_or(static_cast<std::int32_t>(records.size())));
        out.write(recordsSection.constData(), recordsSection.size());
        return out.data;
    }
};

constexpr std::int16_t TransactionalFlag = 0x10;
constexpr std::int16_t ControlFlag = 0x20;

// A transaction's end marker: key (version 0, type), value (version 0,
// coordinator epoch).
inline TestBatch controlBatch(std::int64_t baseOffset, std::int64_t producerId, std::int16_t type)
{
    TestBatch batch;
    batch.baseOffset = baseOffset;
    batch.producerId = producerId;
    batch.producerEpoch = 0;
    batch.attributes = TransactionalFlag | ControlFlag;
    TestRecord marker;
    marker.key = QByteArray::fromHex("0000") + QByteArray::fromHex(type == 0 ? "0000" : "0001");
    marker.value = QByteArray::fromHex("0000 00000005");
    batch.records = { marker };
    return batch;
}

inline TestBatch transactionalBatch(std::int64_t baseOffset, std::int64_t producerId, int count)
{
    TestBatch batch;
    batch.baseOffset = baseOffset;
    batch.producerId = producerId;
    batch.producerEpoch = 0;
    batch.attributes = TransactionalFlag;
    batch.records = numberedRecords(count);
    return batch;
}

inline TestBatch plainBatch(std::int64_t baseOffset, int count)
{
    TestBatch batch;
    batch.baseOffset = baseOffset;
    batch.records = numberedRecords(count);
    return batch;
}

// `size` zero bytes compressed by a streaming encoder fed from one small
// buffer, so that huge decompressed sizes stay cheap to build.
inline QByteArray compressedZeros(Codec codec, std::int64_t size)
{
    const QByteArray zeros(1 << 20, '\0');
    QByteArray out;
    const auto piece = [&](std::int64_t done) {
        return static_cast<size_t>(std::min<std::int64_t>(zeros.size(), size - done));
    };
    switch (codec) {
    case Codec::Gzip:
    case Codec::Zlib: {
        z_stream stream {};
        deflateInit2(&stream, 1, Z_DEFLATED, codec == Codec::Gzip ? 31 : 15, 8, Z_DEFAULT_STRATEGY);
        QByteArray chunk(1 << 16, '\0');
        std::int64_t done = 0;
        int status = Z_OK;
        while (status != Z_STREAM_END) {
            const size_t n = piece(done);
            stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.constData()));
            stream.avail_in = static_cast<uInt>(n);
            done += static_cast<std::int64_t>(n);
            const int flush = done == size ? Z_FINISH : Z_NO_FLUSH;
            do {
                stream.next_out = reinterpret_cast<Bytef*>(chunk.data());
                stream.avail_out = static_cast<uInt>(chunk.size());
                status = deflate(&stream, flush);
                out.append(chunk.constData(), chunk.size() - static_cast<qsizetype>(stream.avail_out));
            } while (stream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
        }
        deflateEnd(&stream);
        break;
    }
    case Codec::Lz4: {
        LZ4F_cctx* context = nullptr;
        LZ4F_createCompressionContext(&context, LZ4F_VERSION);
        const size_t capacity = LZ4F_compressBound(static_cast<size_t>(zeros.size()), nullptr) + 64;
        QByteArray chunk(static_cast<qsizetype>(capacity), '\0');
        const auto append = [&](size_t written) { out.append(chunk.constData(), static_cast<qsizetype>(written)); };
        append(LZ4F_compressBegin(context, chunk.data(), capacity, nullptr));
        for (std::int64_t done = 0; done < size;) {
            const size_t n = piece(done);
            done += static_cast<std::int64_t>(n);
            append(LZ4F_compressUpdate(context, chunk.data(), capacity, zeros.constData(), n, nullptr));
        }
        append(LZ4F_compressEnd(context, chunk.data(), capacity, nullptr));
        LZ4F_freeCompressionContext(context);
        break;
    }
    case Codec::Zstd: {
        ZSTD_CCtx* context = ZSTD_createCCtx();
        QByteArray chunk(1 << 16, '\0');
        for (std::int64_t done = 0;;) {
            const size_t n = piece(done);
            done += static_cast<std::int64_t>(n);
            ZSTD_inBuffer input { zeros.constData(), n, 0 };
            const ZSTD_EndDirective mode = done == size ? ZSTD_e_end : ZSTD_e_continue;
            size_t left = 0;
            do {
                ZSTD_outBuffer output { chunk.data(), static_cast<size_t>(chunk.size()), 0 };
                left = ZSTD_compressStream2(context, &output, &input, mode);
                out.append(chunk.constData(), static_cast<qsizetype>(output.pos));
            } while (mode == ZSTD_e_end ? left != 0 : input.pos < input.size);
            if (mode == ZSTD_e_end)
                break;
        }
        ZSTD_freeCCtx(context);
        break;
    }
    default:
        break;
    }
    return out;
}

} // namespace TestBatches
