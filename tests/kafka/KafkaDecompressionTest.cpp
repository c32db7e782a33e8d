#include "KafkaRecordBatch.h"
#include "TestBytes.h"
#include "TestCodecRows.h"
#include "TestRecordBatchBuilder.h"

#include <QTest>

#include <functional>

using namespace TestBatches;

namespace {

using Decompressor = std::function<KafkaResult<KafkaBuffer>(KafkaBuffer&, std::int64_t, std::int64_t)>;

Decompressor decompressorFor(Codec codec)
{
    switch (codec) {
    case Codec::Gzip:
    case Codec::Zlib:
        return &KafkaRecordBatch::uncompressGZip;
    case Codec::Snappy:
    case Codec::SnappyJava:
        return &KafkaRecordBatch::uncompressSnappy;
    case Codec::Lz4:
        return &KafkaRecordBatch::uncompressLZ4;
    case Codec::Zstd:
        return &KafkaRecordBatch::uncompressZstd;
    case Codec::None:
        break;
    }
    return {};
}

// Compressible about two to one: pseudo-random letters from a small alphabet.
QByteArray sample(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    std::uint32_t state = 12345;
    for (qsizetype i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = char('a' + (state >> 16) % 16);
    }
    return bytes;
}

// Position, in a framed snappy-java section, of chunk `index`'s bytes.
qsizetype snappyJavaChunkAt(const QByteArray& framed, int index)
{
    KafkaBuffer chunks(framed);
    chunks.position = 16;
    for (int i = 0; i < index; ++i)
        chunks.skip(chunks.readS32());
    return chunks.position + 4;
}

// Decompresses `section` placed after a 5-byte prefix and followed by a suffix.
KafkaResult<KafkaBuffer> run(
    Codec codec, const QByteArray& section, KafkaBuffer* bufferOut = nullptr, std::int64_t maxSize = KafkaRecordBatch::MaxDecompressedSize)
{
    KafkaBuffer buffer(QByteArray("12345") + section + "suffix");
    buffer.position = 5;
    auto result = decompressorFor(codec)(buffer, section.size(), maxSize);
    if (bufferOut)
        *bufferOut = buffer;
    return result;
}

void expectError(const KafkaResult<KafkaBuffer>& result, KafkaErrorCode code, const QString& message)
{
    QVERIFY(result.isError());
    QCOMPARE(result.error().code, code);
    QCOMPARE(result.error().message, message);
}

} // namespace

class KafkaDecompressionTest : public QObject {
    Q_OBJECT

private slots:
    void roundTrip_data() { addCodecRows(CodecRows::Compressed); }

    void roundTrip()
    {
        QFETCH(Codec, codec);
        const QByteArray data = sample(300'000);
        const QByteArray section = compress(codec, data);
        KafkaBuffer buffer;
        const auto result = run(codec, section, &buffer);
        QVERIFY(!result.isError());
        QCOMPARE(result.value().data, data);
        QCOMPARE(result.value().position, 0);
        QCOMPARE(result.value().overrun, 0);
        QCOMPARE(buffer.position, 5 + section.size());
    }

    void truncatedInputFails_data()
    {
        QTest::addColumn<Codec>("codec");
        QTest::addColumn<int>("keep");
        QTest::addColumn<KafkaErrorCode>("code");
        QTest::addColumn<QString>("message");
        const QString zlib = "Failed to decompress zlib encoded data";
        const QString lz4 = "Unable decompress LZ4 encoded data at 5 with size %1: truncated frame";
        const QString zstd = "Unable decompress Zstandard encoded data at 5 with size %1: truncated frame";
        for (const int keep : { 0, 1, 11, 40, 500 }) {
            const QByteArray k = QByteArray::number(keep);
            QTest::newRow("gzip " + k) << Codec::Gzip << keep << KafkaErrorCode::ZlibBufError << zlib;
            QTest::newRow("lz4 " + k) << Codec::Lz4 << keep << KafkaErrorCode::Lz4ZstdDecompressionError << lz4.arg(keep);
            QTest::newRow("zstd " + k) << Codec::Zstd << keep << KafkaErrorCode::Lz4ZstdDecompressionError << zstd.arg(keep);
        }
        QTest::newRow("zlib 500") << Codec::Zlib << 500 << KafkaErrorCode::ZlibBufError << zlib;
        QTest::newRow("gzip without trailer") << Codec::Gzip << -4 << KafkaErrorCode::ZlibBufError << zlib;
        QTest::newRow("lz4 without end mark") << Codec::Lz4 << -4 << KafkaErrorCode::Lz4ZstdDecompressionError
                                              << QString();
        QTest::newRow("snappy 500") << Codec::Snappy << 500 << KafkaErrorCode::SnappyDecompressionError
                                    << "Unable to decompress Snappy data at 5 with size 500";
        QTest::newRow("snappy 1") << Codec::Snappy << 1 << KafkaErrorCode::SnappyUncompressedLengthError
                                  << "Unable to retreive uncompressed Snappy size at 5 with compressed size 1";
    }

    void truncatedInputFails()
    {
        QFETCH(Codec, codec);
        QFETCH(int, keep);
        QFETCH(KafkaErrorCode, code);
        QFETCH(QString, message);
        const QByteArray full = compress(codec, sample(100'000));
        const QByteArray section = keep < 0 ? full.chopped(-keep) : full.left(keep);
        const auto result = run(codec, section);
        QVERIFY(result.isError());
        QCOMPARE(result.error().code, code);
        if (message.isEmpty())
            QVERIFY(result.error().message.endsWith(": truncated frame"));
        else
            QCOMPARE(result.error().message, message);
    }

    void corruptInputFails_data()
    {
        QTest::addColumn<Codec>("codec");
        QTest::addColumn<int>("at");
        QTest::addColumn<KafkaErrorCode>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("gzip header") << Codec::Gzip << 0 << KafkaErrorCode::ZlibDataError
                                     << "Failed to decompress zlib encoded data";
        QTest::newRow("gzip body") << Codec::Gzip << 20 << KafkaErrorCode::ZlibDataError
                                   << "Failed to decompress zlib encoded data";
        QTest::newRow("lz4 magic") << Codec::Lz4 << 0 << KafkaErrorCode::Lz4ZstdDecompressionError
                                   << "Unable decompress LZ4 encoded data at 5 with size %1: ERROR_frameType_unknown";
        QTest::newRow("lz4 header checksum") << Codec::Lz4 << 6 << KafkaErrorCode::Lz4ZstdDecompressionError
                                             << "Unable decompress LZ4 encoded data at 5 with size %1: ERROR_headerChecksum_invalid";
        QTest::newRow("zstd magic") << Codec::Zstd << 0 << KafkaErrorCode::Lz4ZstdDecompressionError
                                    << "Unable decompress Zstandard encoded data at 5 with size %1: Unknown frame descriptor";
    }

    void corruptInputFails()
    {
        QFETCH(Codec, codec);
        QFETCH(int, at);
        QFETCH(KafkaErrorCode, code);
        QFETCH(QString, message);
        QByteArray section = compress(codec, sample(100'000));
        section[at] = char(section.at(at) ^ 0x5A);
        const auto result = run(codec, section);
        expectError(result, code, message.contains("%1") ? message.arg(section.size()) : message);
    }

    void sizeBeyondTheBuffer_data() { addCodecRows(CodecRows::Compressed); }

    void sizeBeyondTheBuffer()
    {
        // Called directly with a size the buffer does not hold: nothing is read
        // beyond the data, and a negative size reads nothing.
        QFETCH(Codec, codec);
        const QByteArray section = compress(codec, sample(1000));
        for (const std::int64_t size : { std::int64_t(section.size()) + 100, std::int64_t(1) << 40, std::int64_t(-5) }) {
            KafkaBuffer buffer(section);
            const auto result = decompressorFor(codec)(buffer, size, KafkaRecordBatch::MaxDecompressedSize);
            if (!result.isError())
                QCOMPARE(result.value().data, sample(1000));
            QVERIFY(buffer.position <= buffer.size());
        }
    }

    void overTheLimit_data()
    {
        QTest::addColumn<Codec>("codec");
        QTest::addColumn<KafkaErrorCode>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("gzip") << Codec::Gzip << KafkaErrorCode::GzipDecompressionError
                              << "zlib encoded data at 5 decompresses to more than the limit of 1000000 bytes";
        QTest::newRow("zlib") << Codec::Zlib << KafkaErrorCode::GzipDecompressionError
                              << "zlib encoded data at 5 decompresses to more than the limit of 1000000 bytes";
        QTest::newRow("snappy") << Codec::Snappy << KafkaErrorCode::SnappyDecompressionError
                                << "Snappy data at 5 announces 2000000 decompressed bytes, more than the limit of 1000000 bytes";
        // 32 KiB chunks: the 31st would bring the total to 1015808 bytes.
        QTest::newRow("snappy-java") << Codec::SnappyJava << KafkaErrorCode::SnappyDecompressionError
                                     << "snappy-java data at %1 announces 1015808 decompressed bytes, more than the limit of 1000000 bytes";
        QTest::newRow("lz4") << Codec::Lz4 << KafkaErrorCode::Lz4ZstdDecompressionError
                             << "LZ4 encoded data at 5 decompresses to more than the limit of 1000000 bytes";
        QTest::newRow("zstd") << Codec::Zstd << KafkaErrorCode::Lz4ZstdDecompressionError
                              << "Zstandard encoded data at 5 decompresses to more than the limit of 1000000 bytes";
    }

    void overTheLimit()
    {
        QFETCH(Codec, codec);
        QFETCH(KafkaErrorCode, code);
        QFETCH(QString, message);
        const QByteArray data = sample(2'000'000);
        const QByteArray section = compress(codec, data);
        if (codec == Codec::SnappyJava)
            message = message.arg(5 + snappyJavaChunkAt(section, 30));
        expectError(run(codec, section, nullptr, 1'000'000), code, message);

        // Exactly at the limit is within it.
        const auto atLimit = run(codec, section, nullptr, data.size());
        QVERIFY(!atLimit.isError());
        QCOMPARE(atLimit.value().data.size(), data.size());
    }

    void hugeOutputStopsAtTheLimit_data()
    {
        QTest::addColumn<Codec>("codec");
        QTest::addColumn<KafkaErrorCode>("code");
        QTest::addColumn<QString>("format");
        QTest::newRow("gzip") << Codec::Gzip << KafkaErrorCode::GzipDecompressionError << "zlib encoded";
        QTest::newRow("zlib") << Codec::Zlib << KafkaErrorCode::GzipDecompressionError << "zlib encoded";
        QTest::newRow("lz4") << Codec::Lz4 << KafkaErrorCode::Lz4ZstdDecompressionError << "LZ4 encoded";
        QTest::newRow("zstd") << Codec::Zstd << KafkaErrorCode::Lz4ZstdDecompressionError << "Zstandard encoded";
    }

    void hugeOutputStopsAtTheLimit()
    {
        // 300 MiB of zeros in a few hundred kilobytes or less: decompression
        // stops at the limit instead of producing them all.
        QFETCH(Codec, codec);
        QFETCH(KafkaErrorCode, code);
        QFETCH(QString, format);
        const QByteArray section = compressedZeros(codec, std::int64_t(300) << 20);
        expectError(run(codec, section, nullptr, 4 << 20), code,
            format + " data at 5 decompresses to more than the limit of 4194304 bytes");
    }

    void snappyAnnouncedLengthIsCheckedBeforeAllocating()
    {
        QCOMPARE(KafkaRecordBatch::MaxDecompressedSize, 256 * 1024 * 1024);
        // A raw block announcing 300 MiB (varint 80 80 80 96 01) and nothing more.
        const QByteArray announce = hexBytes("80 80 80 96 01 00 00 00");
        expectError(run(Codec::Snappy, announce), KafkaErrorCode::SnappyDecompressionError,
            "Snappy data at 5 announces 314572800 decompressed bytes, more than the limit of 268435456 bytes");

        const QByteArray framed = snappyJavaHeader() + bigEndian32(announce.size()) + announce;
        expectError(run(Codec::SnappyJava, framed), KafkaErrorCode::SnappyDecompressionError,
            "snappy-java data at 25 announces 314572800 decompressed bytes, more than the limit of 268435456 bytes");
    }

    void snappyJavaFraming()
    {
        const QByteArray data = sample(100'000);
        // Small chunks, one of them empty.
        QByteArray section = snappyJava(data, 10'000);
        section += bigEndian32(1) + hexBytes("00");
        KafkaBuffer buffer;
        const auto result = run(Codec::SnappyJava, section, &buffer);
        QVERIFY(!result.isError());
        QCOMPARE(result.value().data, data);
        QCOMPARE(buffer.position, 5 + section.size());

        // Exactly 16 bytes of framing header are decoded as one raw block.
        expectError(run(Codec::Snappy, snappyJavaHeader()), KafkaErrorCode::SnappyDecompressionError,
            "Unable to decompress Snappy data at 5 with size 16");
    }

    void snappyJavaFailures_data()
    {
        QTest::addColumn<QByteArray>("chunks");
        QTest::addColumn<KafkaErrorCode>("code");
        QTest::addColumn<QString>("message");
        const QByteArray block = snappyRaw("hello hello hello");
        QTest::newRow("length 0") << bigEndian32(0) + block << KafkaErrorCode::SnappyJavaChunkSizeError
                                  << "Invalid snappy-java chunk size: 0";
        QTest::newRow("negative length") << bigEndian32(-3) + block << KafkaErrorCode::SnappyJavaChunkSizeError
                                         << "Invalid snappy-java chunk size: -3";
        QTest::newRow("longer than the rest")
            << bigEndian32(block.size() + 1) + block << KafkaErrorCode::SnappyJavaChunkSizeError
            << QString("Invalid snappy-java chunk size: %1 (max %2)").arg(block.size() + 1).arg(block.size());
        // The section ends inside a length field: the bytes after it are not read.
        QTest::newRow("length field cut short to zero")
            << bigEndian32(block.size()) + block + hexBytes("00 00") << KafkaErrorCode::SnappyJavaChunkSizeError
            << QString("Invalid snappy-java chunk size: 0");
        QTest::newRow("length field cut short")
            << bigEndian32(block.size()) + block + hexBytes("00 01") << KafkaErrorCode::SnappyJavaChunkSizeError
            << QString("Invalid snappy-java chunk size: 65536 (max -2)");
        QTest::newRow("length unreadable") << bigEndian32(1) + hexBytes("FF") << KafkaErrorCode::SnappyUncompressedLengthError
                                           << "Unable to retreive uncompressed snappy-java chunk size at 25 with compressed size 1";
        QTest::newRow("corrupt block") << bigEndian32(3) + hexBytes("05 FF FF") << KafkaErrorCode::SnappyDecompressionError
                                       << "Unable to decompress snappy-java chunk at 28 with size 3";
    }

    void snappyJavaFailures()
    {
        QFETCH(QByteArray, chunks);
        QFETCH(KafkaErrorCode, code);
        QFETCH(QString, message);
        expectError(run(Codec::SnappyJava, snappyJavaHeader() + chunks), code, message);
    }

    void gzipStopsAtTheStreamEnd()
    {
        // The cursor moves by what inflate consumed; trailing bytes stay.
        const QByteArray stream = compress(Codec::Gzip, sample(1000));
        KafkaBuffer buffer;
        const auto result = run(Codec::Gzip, stream + "trailing", &buffer);
        QCOMPARE(result.value().data, sample(1000));
        QCOMPARE(buffer.position, 5 + stream.size());
    }
};

QTEST_GUILESS_MAIN(KafkaDecompressionTest)
#include "KafkaDecompressionTest.moc"
