#include "KafkaRecordBatch.h"

#include "KafkaBatchDecompressor.h"
#include "MemoryPrefault.h"

#include <lz4frame.h>
#include <snappy.h>
#include <zlib.h>
#include <zstd.h>

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Streaming decompressors produce output in steps of this size.
constexpr qsizetype ChunkSize = 64 * 1024;
// Fresh output is populated this much at a time (a multiple of ChunkSize).
constexpr qsizetype PrefaultStride = 8 * ChunkSize;

// Start of a framed snappy-java stream: magic (8 bytes), version and
// compatible version (4 bytes each).
constexpr char SnappyJavaMagic[8] = { '\x82', 'S', 'N', 'A', 'P', 'P', 'Y', '\0' };
constexpr std::int64_t SnappyJavaHeaderSize = 16;

QString number(std::int64_t value)
{
    return QString::number(value);
}

// The compressed section at the cursor: never beyond the buffer's end, never
// negative, and at most what an int32 batch length can hold.
std::int64_t sectionSize(const KafkaBuffer& buffer, std::int64_t size)
{
    const std::int64_t largest = std::min<std::int64_t>(buffer.remaining(), std::numeric_limits<std::int32_t>::max());
    return std::clamp<std::int64_t>(size, 0, largest);
}

const char* cursor(const KafkaBuffer& buffer)
{
    return buffer.data.constData() + buffer.position;
}

// Room for the decompressor's next step, appended to the output
// uninitialised: what is left of the output's capacity, and a step of
// ChunkSize once that is used up. finishChunk() trims it to what was
// produced. Using up the room first spares a batch of the size foreseen
// growing its buffer for the last step and shrinking it afterwards.
struct Chunk {
    char* data = nullptr;
    std::size_t size = 0;
};

Chunk growChunk(QByteArray& output)
{
    const qsizetype before = output.size();
    const qsizetype room = output.capacity() - before;
    const qsizetype step = room > 0 ? std::min(room, ChunkSize) : ChunkSize;
    output.resize(before + step);
    // The output is kept by the batch's records: fresh memory every time,
    // populated a stride ahead within the room it was given.
    if (before % PrefaultStride == 0)
        MemoryPrefault::forWriting(
            output.data() + before, std::max(step, std::min(PrefaultStride, output.capacity() - before)));
    return { output.data() + before, static_cast<std::size_t>(step) };
}

void finishChunk(QByteArray& output, const Chunk& chunk, std::size_t produced)
{
    output.resize(output.size() - static_cast<qsizetype>(chunk.size - produced));
}

// Output beyond the limit has a code of its own, apart from corrupt input:
// the batch parser tells by it whether the decompressor stopped at the limit.
KafkaError overLimit(const QString& format, std::int64_t position, std::int64_t maxSize)
{
    return KafkaError(KafkaErrorCode::RecordListTooLarge,
        QStringLiteral("%1 data at %2 decompresses to more than the limit of %3 bytes")
            .arg(format, number(position), number(maxSize)));
}

KafkaError announcedOverLimit(const QString& format, std::int64_t position, std::int64_t announced, std::int64_t maxSize)
{
    return KafkaError(KafkaErrorCode::RecordListTooLarge,
        QStringLiteral("%1 data at %2 announces %3 decompressed bytes, more than the limit of %4 bytes")
            .arg(format, number(position), number(announced), number(maxSize)));
}

KafkaErrorCode zlibErrorCode(int status)
{
    switch (status) {
    case Z_VERSION_ERROR:
        return KafkaErrorCode::ZlibVersionError;
    case Z_BUF_ERROR:
        return KafkaErrorCode::ZlibBufError;
    case Z_MEM_ERROR:
        return KafkaErrorCode::ZlibMemError;
    case Z_DATA_ERROR:
        return KafkaErrorCode::ZlibDataError;
    case Z_STREAM_ERROR:
        return KafkaErrorCode::ZlibStreamError;
    case Z_ERRNO:
        return KafkaErrorCode::ZlibErrno;
    case Z_STREAM_END:
        return KafkaErrorCode::ZlibStreamEnd;
    case Z_NEED_DICT:
        return KafkaErrorCode::ZlibNeedDict;
    default:
        return KafkaErrorCode::GzipDecompressionError;
    }
}

KafkaError inflateFailure(int status)
{
    return KafkaError(zlibErrorCode(status), QStringLiteral("Failed to decompress zlib encoded data"));
}

// Why a streaming decoder that neither consumed nor produced anything cannot go on.
QString stalled(bool inputUsedUp)
{
    return inputUsedUp ? QStringLiteral("truncated frame") : QStringLiteral("decompression made no progress");
}

} // namespace

KafkaResult<KafkaBuffer> KafkaRecordBatch::uncompressGZip(KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize)
{
    return uncompressGZip(buffer, size, maxSize, nullptr);
}

KafkaResult<KafkaBuffer> KafkaRecordBatch::uncompressSnappy(KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize)
{
    return uncompressSnappy(buffer, size, maxSize, nullptr);
}

KafkaResult<KafkaBuffer> KafkaRecordBatch::uncompressLZ4(KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize)
{
    return uncompressLZ4(buffer, size, maxSize, nullptr);
}

KafkaResult<KafkaBuffer> KafkaRecordBatch::uncompressZstd(KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize)
{
    return uncompressZstd(buffer, size, maxSize, nullptr);
}

KafkaResult<KafkaBuffer> KafkaRecordBatch::uncompressGZip(
    KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize, KafkaBatchDecompressor* reuse)
{
    const std::int64_t inputSize = sectionSize(buffer, size);
    KafkaBatchDecompressor own;
    KafkaBatchDecompressor& decompressor = reuse ? *reuse : own;
    int initStatus = Z_OK;
    z_stream* const zlibStream = decompressor.zlibStream(initStatus);
    if (!zlibStream)
        return KafkaError(zlibErrorCode(initStatus), QStringLiteral("Failed to initialize zlib decompression"));
    z_stream& stream = *zlibStream;
    // zlib's input pointer is not const but inflate never writes through it.
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(cursor(buffer)));
    stream.avail_in = static_cast<uInt>(inputSize);

    QByteArray& output = decompressor.output(std::min(inputSize, maxSize));
    for (;;) {
        const uInt inputBefore = stream.avail_in;
        const Chunk chunk = growChunk(output);
        stream.next_out = reinterpret_cast<Bytef*>(chunk.data);
        stream.avail_out = static_cast<uInt>(chunk.size);
        const int status = inflate(&stream, Z_SYNC_FLUSH);
        const std::size_t produced = chunk.size - stream.avail_out;
        finishChunk(output, chunk, produced);
        if (status < 0 || status == Z_NEED_DICT)
            return inflateFailure(status);
        if (output.size() > maxSize)
            return overLimit(QStringLiteral("zlib encoded"), buffer.position, maxSize);
        if (status == Z_STREAM_END) {
            buffer.position += static_cast<std::int64_t>(stream.total_in);
            return KafkaBuffer(decompressor.takeOutput());
        }
        // inflate reports a stall as Z_BUF_ERROR; never spin should it not.
        if (produced == 0 && stream.avail_in == inputBefore)
            return inflateFailure(Z_BUF_ERROR);
    }
}

KafkaResult<KafkaBuffer> KafkaRecordBatch::uncompressSnappy(
    KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize, KafkaBatchDecompressor* reuse)
{
    size = sectionSize(buffer, size);
    if (size > SnappyJavaHeaderSize && std::memcmp(cursor(buffer), SnappyJavaMagic, sizeof SnappyJavaMagic) == 0) {
        buffer.skip(SnappyJavaHeaderSize);
        return uncompressSnappyJava(buffer, size - SnappyJavaHeaderSize, maxSize, reuse);
    }
    return uncompressSnappyRaw(buffer, size, maxSize, reuse);
}

KafkaResult<KafkaBuffer> KafkaRecordBatch::uncompressSnappyJava(
    KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize, KafkaBatchDecompressor* reuse)
{
    std::int64_t remaining = sectionSize(buffer, size);
    KafkaBatchDecompressor own;
    KafkaBatchDecompressor& decompressor = reuse ? *reuse : own;
    QByteArray& output = decompressor.output(std::min(remaining, maxSize));
    while (remaining >= 1) {
        // The length field is read within the section only; missing bytes are zeros.
        uchar lengthField[4] = {};
        buffer.read(lengthField, std::min<std::int64_t>(remaining, sizeof lengthField));
        const std::int32_t length = qFromBigEndian<std::int32_t>(lengthField);
        if (length < 1)
            return KafkaError(KafkaErrorCode::SnappyJavaChunkSizeError,
                QStringLiteral("Invalid snappy-java chunk size: %1").arg(number(length)));
        if (length > remaining - 4)
            return KafkaError(KafkaErrorCode::SnappyJavaChunkSizeError,
                QStringLiteral("Invalid snappy-java chunk size: %1 (max %2)")
                    .arg(number(length), number(remaining - 4)));

        const std::int64_t chunkPosition = buffer.position;
        const char* chunk = cursor(buffer);
        std::size_t uncompressedLength = 0;
        if (!snappy::GetUncompressedLength(chunk, static_cast<std::size_t>(length), &uncompressedLength))
            return KafkaError(KafkaErrorCode::SnappyUncompressedLengthError,
                QStringLiteral("Unable to retreive uncompressed snappy-java chunk size at %1 with compressed size %2")
                    .arg(number(chunkPosition), number(length)));
        const std::int64_t total = output.size() + static_cast<std::int64_t>(uncompressedLength);
        if (total > maxSize)
            return announcedOverLimit(QStringLiteral("snappy-java"), chunkPosition, total, maxSize);

        // Checking the chunk costs one pass without output: garbage that
        // announces a large length is refused before anything is allocated.
        if (uncompressedLength != 0 && !snappy::IsValidCompressedBuffer(chunk, static_cast<std::size_t>(length)))
            return KafkaError(KafkaErrorCode::SnappyDecompressionError,
                QStringLiteral("Unable to decompress snappy-java chunk at %1 with size %2")
                    .arg(number(chunkPosition + length), number(length)));

        buffer.position += length;
        remaining -= 4 + std::int64_t(length);
        if (uncompressedLength != 0) {
            const qsizetype before = output.size();
            output.resize(static_cast<qsizetype>(total));
            MemoryPrefault::forWriting(output.data() + before, output.size() - before);
            if (!snappy::RawUncompress(chunk, static_cast<std::size_t>(length), output.data() + before))
                return KafkaError(KafkaErrorCode::SnappyDecompressionError,
                    QStringLiteral("Unable to decompress snappy-java chunk at %1 with size %2")
                        .arg(number(buffer.position), number(length)));
        }
    }
    return KafkaBuffer(decompressor.takeOutput());
}

KafkaResult<KafkaBuffer> KafkaRecordBatch::uncompressSnappyRaw(
    KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize, KafkaBatchDecompressor* reuse)
{
    size = sectionSize(buffer, size);
    const char* input = cursor(buffer);
    std::size_t uncompressedLength = 0;
    if (!snappy::GetUncompressedLength(input, static_cast<std::size_t>(size), &uncompressedLength))
        return KafkaError(KafkaErrorCode::SnappyUncompressedLengthError,
            QStringLiteral("Unable to retreive uncompressed Snappy size at %1 with compressed size %2")
                .arg(number(buffer.position), number(size)));
    if (static_cast<std::int64_t>(uncompressedLength) > maxSize)
        return announcedOverLimit(
            QStringLiteral("Snappy"), buffer.position, static_cast<std::int64_t>(uncompressedLength), maxSize);

    if (!snappy::IsValidCompressedBuffer(input, static_cast<std::size_t>(size)))
        return KafkaError(KafkaErrorCode::SnappyDecompressionError,
            QStringLiteral("Unable to decompress Snappy data at %1 with size %2")
                .arg(number(buffer.position), number(size)));
    KafkaBatchDecompressor own;
    KafkaBatchDecompressor& decompressor = reuse ? *reuse : own;
    QByteArray& output = decompressor.output(static_cast<std::int64_t>(uncompressedLength));
    output.resize(static_cast<qsizetype>(uncompressedLength));
    MemoryPrefault::forWriting(output.data(), output.size());
    if (!snappy::RawUncompress(input, static_cast<std::size_t>(size), output.data()))
        return KafkaError(KafkaErrorCode::SnappyDecompressionError,
            QStringLiteral("Unable to decompress Snappy data at %1 with size %2")
                .arg(number(buffer.position), number(size)));
    buffer.position += size;
    return KafkaBuffer(decompressor.takeOutput());
}

KafkaResult<KafkaBuffer> KafkaRecordBatch::uncompressLZ4(
    KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize, KafkaBatchDecompressor* reuse)
{
    size = sectionSize(buffer, size);
    KafkaBatchDecompressor own;
    KafkaBatchDecompressor& decompressor = reuse ? *reuse : own;
    std::size_t created = 0;
    LZ4F_dctx* const context = decompressor.lz4Context(created);
    if (!context)
        return KafkaError(KafkaErrorCode::Lz4ZstdDecompressionError,
            QStringLiteral("Unable initialize LZ4 decompression: %1")
                .arg(QString::fromUtf8(LZ4F_getErrorName(created))));

    const auto failure = [&](const QString& reason) {
        return KafkaError(KafkaErrorCode::Lz4ZstdDecompressionError,
            QStringLiteral("Unable decompress LZ4 encoded data at %1 with size %2: %3")
                .arg(number(buffer.position), number(size), reason));
    };

    const char* input = cursor(buffer);
    std::int64_t consumed = 0;
    QByteArray& output = decompressor.output(std::min(size, maxSize));
    for (;;) {
        const Chunk chunk = growChunk(output);
        std::size_t produced = chunk.size;
        std::size_t taken = static_cast<std::size_t>(size - consumed);
        const std::size_t hint = LZ4F_decompress(context, chunk.data, &produced, input + consumed, &taken, nullptr);
        finishChunk(output, chunk, LZ4F_isError(hint) ? 0 : produced);
        if (LZ4F_isError(hint))
            return failure(QString::fromUtf8(LZ4F_getErrorName(hint)));
        consumed += static_cast<std::int64_t>(taken);
        if (output.size() > maxSize)
            return overLimit(QStringLiteral("LZ4 encoded"), buffer.position, maxSize);
        if (hint == 0) {
            buffer.position += size;
            return KafkaBuffer(decompressor.takeOutput());
        }
        if (taken == 0 && produced == 0)
            return failure(stalled(consumed == size));
    }
}

KafkaResult<KafkaBuffer> KafkaRecordBatch::uncompressZstd(
    KafkaBuffer& buffer, std::int64_t size, std::int64_t maxSize, KafkaBatchDecompressor* reuse)
{
    size = sectionSize(buffer, size);
    KafkaBatchDecompressor own;
    KafkaBatchDecompressor& decompressor = reuse ? *reuse : own;
    ZSTD_DStream* const stream = decompressor.zstdStream();
    if (!stream)
        return KafkaError(KafkaErrorCode::Lz4ZstdDecompressionError,
            QStringLiteral("Unable initialize Zstandard decompression: out of memory"));

    ZSTD_inBuffer input { cursor(buffer), static_cast<std::size_t>(size), 0 };
    QByteArray& output = decompressor.output(std::min(size, maxSize));
    for (;;) {
        const std::size_t inputBefore = input.pos;
        const Chunk room = growChunk(output);
        ZSTD_outBuffer chunk { room.data, room.size, 0 };
        const std::size_t hint = ZSTD_decompressStream(stream, &chunk, &input);
        finishChunk(output, room, ZSTD_isError(hint) ? 0 : chunk.pos);
        if (ZSTD_isError(hint))
            return KafkaError(KafkaErrorCode::Lz4ZstdDecompressionError,
                QStringLiteral("Unable decompress Zstandard encoded data at %1 with size %2: %3")
                    .arg(number(buffer.position), number(size), QString::fromUtf8(ZSTD_getErrorName(hint))));
        if (output.size() > maxSize)
            return overLimit(QStringLiteral("Zstandard encoded"), buffer.position, maxSize);
        if (hint == 0) {
            buffer.position += size;
            return KafkaBuffer(decompressor.takeOutput());
        }
        if (input.pos == inputBefore && chunk.pos == 0)
            return KafkaError(KafkaErrorCode::Lz4ZstdDecompressionError,
                QStringLiteral("Unable decompress Zstandard encoded data at %1 with size %2: %3")
                    .arg(number(buffer.position), number(size), stalled(input.pos == input.size)));
    }
}
