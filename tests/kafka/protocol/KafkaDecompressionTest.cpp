#include "KafkaRecordBatch.h"
#include "TestBytes.h"
#include "TestRecordBatchBuilder.h"

#include <QTest>

using namespace TestBatches;

Q_DECLARE_METATYPE(TestBatches::Codec)

namespace {

using Decompressor = KafkaResult<KafkaBuffer> (*)(KafkaBuffer&, std::int64_t, std::int64_t);

// Indexed by Codec.
const Decompressor decompressors[] = { nullptr, &KafkaRecordBatch::uncompressGZip, &KafkaRecordBatch::uncompressGZip,
    &KafkaRecordBatch::uncompressSnappy, &KafkaRecordBatch::uncompressSnappy, &KafkaRecordBatch::uncompressLZ4,
    &KafkaRecordBatch::uncompressZstd };

// Compressible about two to one.
QByteArray sample(qsizetype size)
{
    QByteArray bytes;
    for (std::uint32_t state = 12345; bytes.size() < size; state = state * 1103515245u + 12345u)
        bytes += char('a' + (state >> 16) % 16);
    return bytes;
}

// Decompresses `section` placed after a 5-byte prefix and followed by a suffix;
// `position` receives the cursor afterwards.
KafkaResult<KafkaBuffer> run(Codec codec, const QByteArray& section, std::int64_t maxSize = KafkaRecordBatch::MaxDecompressedSize,
    qint64* position = nullptr)
{
    KafkaBuffer buffer(QByteArray("12345") + section + "suffix");
    buffer.position = 5;
    auto result = decompressors[int(codec)](buffer, section.size(), maxSize);
    if (position)
        *position = buffer.position;
    return result;
}

} // namespace

class KafkaDecompressionTest : public QObject {
    Q_OBJECT

private slots:
    void roundTrip()
    {
        for (const Codec codec : CompressedCodecs) {
            const QByteArray section = compress(codec, sample(300'000));
            qint64 position = 0;
            const auto result = run(codec, section, KafkaRecordBatch::MaxDecompressedSize, &position);
            QVERIFY(!result.isError());
            QCOMPARE(result.value().data, sample(300'000));
            QVERIFY(result.value().position == 0 && result.value().overrun == 0);
            QCOMPARE(position, 5 + section.size());
        }
        // Small snappy-java chunks, one of them empty.
        const QByteArray framed = snappyJava(sample(100'000), 10'000) + bigEndian32(1) + hexBytes("00");
        qint64 position = 0;
        QCOMPARE(run(Codec::SnappyJava, framed, KafkaRecordBatch::MaxDecompressedSize, &position).value().data, sample(100'000));
        QCOMPARE(position, 5 + framed.size());
    }

    void failures_data()
    {
        QTest::addColumn<Codec>("codec");
        QTest::addColumn<QByteArray>("section");
        QTest::addColumn<qint64>("maxSize");
        QTest::addColumn<KafkaErrorCode>("code");
        QTest::addColumn<QString>("message");
        const auto row = [&](const QByteArray& name, Codec codec, const QByteArray& section, KafkaErrorCode code,
                             const QString& message, qint64 maxSize = KafkaRecordBatch::MaxDecompressedSize) {
            QTest::newRow(name.constData()) << codec << section << maxSize << code << message;
        };
        const KafkaErrorCode lz4Zstd = KafkaErrorCode::Lz4ZstdDecompressionError;
        const QString zlib = "Failed to decompress zlib encoded data";
        const QByteArray gzip = compress(Codec::Gzip, sample(100'000));
        const QByteArray lz4 = compress(Codec::Lz4, sample(100'000));
        const QByteArray zstd = compress(Codec::Zstd, sample(100'000));
        for (const int keep : { 0, 1, 11, 40, 500 }) {
            const QByteArray k = QByteArray::number(keep);
            const QString library = "Unable decompress %1 encoded data at 5 with size %2: truncated frame";
            row("gzip " + k, Codec::Gzip, gzip.left(keep), KafkaErrorCode::ZlibBufError, zlib);
            row("lz4 " + k, Codec::Lz4, lz4.left(keep), lz4Zstd, library.arg("LZ4").arg(keep));
            row("zstd " + k, Codec::Zstd, zstd.left(keep), lz4Zstd, library.arg("Zstandard").arg(keep));
        }
        row("lz4 without end mark", Codec::Lz4, lz4.chopped(4), lz4Zstd,
            QString("Unable decompress LZ4 encoded data at 5 with size %1: truncated frame").arg(lz4.size() - 4));
        row("snappy 1", Codec::Snappy, compress(Codec::Snappy, sample(100'000)).left(1), KafkaErrorCode::SnappyUncompressedLengthError,
            "Unable to retreive uncompressed Snappy size at 5 with compressed size 1");
        // Exactly 16 bytes of framing header are decoded as one raw block.
        row("snappy-java header alone", Codec::Snappy, snappyJava(QByteArray()), KafkaErrorCode::SnappyDecompressionError,
            "Unable to decompress Snappy data at 5 with size 16");

        const auto flipped = [](QByteArray bytes, int at) {
            bytes[at] = char(bytes.at(at) ^ 0x5A);
            return bytes;
        };
        const QString corruptLibrary = "Unable decompress %1 encoded data at 5 with size %2: %3";
        row("gzip body", Codec::Gzip, flipped(gzip, 20), KafkaErrorCode::ZlibDataError, zlib);
        row("lz4 magic", Codec::Lz4, flipped(lz4, 0), lz4Zstd, corruptLibrary.arg("LZ4").arg(lz4.size()).arg("ERROR_frameType_unknown"));
        row("zstd magic", Codec::Zstd, flipped(zstd, 0), lz4Zstd,
            corruptLibrary.arg("Zstandard").arg(zstd.size()).arg("Unknown frame descriptor"));

        const QByteArray block = snappyRaw("hello hello hello");
        const QString chunkSize = "Invalid snappy-java chunk size: %1";
        const auto framed = [&](const char* name, const QByteArray& chunks, KafkaErrorCode code, const QString& message) {
            row(name, Codec::SnappyJava, snappyJava(QByteArray()) + chunks, code, message);
        };
        framed("length 0", bigEndian32(0) + block, KafkaErrorCode::SnappyJavaChunkSizeError, chunkSize.arg(0));
        framed("longer than the rest", bigEndian32(block.size() + 1) + block, KafkaErrorCode::SnappyJavaChunkSizeError,
            chunkSize.arg(QString("%1 (max %2)").arg(block.size() + 1).arg(block.size())));
        // The section ends inside a length field: the bytes after it are not read.
        framed("length field cut short", bigEndian32(block.size()) + block + hexBytes("00 01"), KafkaErrorCode::SnappyJavaChunkSizeError,
            chunkSize.arg("65536 (max -2)"));
        framed("length unreadable", bigEndian32(1) + hexBytes("FF"), KafkaErrorCode::SnappyUncompressedLengthError,
            "Unable to retreive uncompressed snappy-java chunk size at 25 with compressed size 1");
        framed("corrupt block", bigEndian32(3) + hexBytes("05 FF FF"), KafkaErrorCode::SnappyDecompressionError,
            "Unable to decompress snappy-java chunk at 28 with size 3");

        // Decompressed sizes beyond the limit; snappy checks the announced length before allocating.
        const QByteArray big = sample(2'000'000);
        const QString beyond = "%1 data at %2 decompresses to more than the limit of 1000000 bytes";
        const QString announces = "%1 data at %2 announces %3 decompressed bytes, more than the limit of %4 bytes";
        const KafkaErrorCode tooLarge = KafkaErrorCode::RecordListTooLarge;
        row("gzip over", Codec::Gzip, compress(Codec::Gzip, big), tooLarge, beyond.arg("zlib encoded").arg(5), 1'000'000);
        row("lz4 over", Codec::Lz4, compress(Codec::Lz4, big), tooLarge, beyond.arg("LZ4 encoded").arg(5), 1'000'000);
        row("zstd over", Codec::Zstd, compress(Codec::Zstd, big), tooLarge, beyond.arg("Zstandard encoded").arg(5), 1'000'000);
        row("snappy over", Codec::Snappy, compress(Codec::Snappy, big), tooLarge,
            announces.arg("Snappy").arg(5).arg(2'000'000).arg(1'000'000), 1'000'000);
        // 32 KiB chunks: the 31st (after 30 chunks and the 16-byte header) brings the total to 1015808 bytes.
        const QByteArray java = compress(Codec::SnappyJava, big);
        KafkaBuffer chunks(java);
        chunks.position = 16;
        for (int i = 0; i < 30; ++i)
            chunks.skip(chunks.readS32());
        row("snappy-java over", Codec::SnappyJava, java, tooLarge,
            announces.arg("snappy-java").arg(5 + chunks.position + 4).arg(1015808).arg(1'000'000), 1'000'000);
        // 64 MiB of zeros in a few kilobytes: decompression stops at the limit instead of producing them all.
        const QByteArray zeros(64 << 20, '\0');
        const QString bomb = "%1 encoded data at 5 decompresses to more than the limit of 4194304 bytes";
        row("gzip bomb", Codec::Gzip, compress(Codec::Gzip, zeros), tooLarge, bomb.arg("zlib"), 4 << 20);
        row("zlib bomb", Codec::Zlib, compress(Codec::Zlib, zeros), tooLarge, bomb.arg("zlib"), 4 << 20);
        row("lz4 bomb", Codec::Lz4, compress(Codec::Lz4, zeros), tooLarge, bomb.arg("LZ4"), 4 << 20);
        row("zstd bomb", Codec::Zstd, compress(Codec::Zstd, zeros), tooLarge, bomb.arg("Zstandard"), 4 << 20);
        // A raw block announcing 300 MiB (varint 80 80 80 96 01) and nothing more.
        const QByteArray announce = hexBytes("80 80 80 96 01 00 00 00");
        row("snappy announces 300 MiB", Codec::Snappy, announce, tooLarge,
            announces.arg("Snappy").arg(5).arg(314572800).arg(268435456));
        framed("snappy-java announces 300 MiB", bigEndian32(announce.size()) + announce, tooLarge,
            announces.arg("snappy-java").arg(25).arg(314572800).arg(268435456));
    }

    void failures()
    {
        QFETCH(Codec, codec);
        QFETCH(QByteArray, section);
        QFETCH(qint64, maxSize);
        QFETCH(KafkaErrorCode, code);
        QFETCH(QString, message);
        const auto result = run(codec, section, maxSize);
        QVERIFY(result.isError());
        QCOMPARE(result.error().code, code);
        QCOMPARE(result.error().message, message);
    }

    void limits()
    {
        for (const Codec codec : CompressedCodecs) {
            // Exactly at the limit is within it.
            const QByteArray data = sample(2'000'000);
            const auto atLimit = run(codec, compress(codec, data), data.size());
            QVERIFY(!atLimit.isError());
            QCOMPARE(atLimit.value().data.size(), data.size());

            // Called with a size the buffer does not hold: nothing is read beyond the data, a negative size reads nothing.
            const QByteArray section = compress(codec, sample(1000));
            for (const std::int64_t size : { std::int64_t(section.size()) + 100, std::int64_t(1) << 40, std::int64_t(-5) }) {
                KafkaBuffer buffer(section);
                const auto result = decompressors[int(codec)](buffer, size, KafkaRecordBatch::MaxDecompressedSize);
                if (!result.isError())
                    QCOMPARE(result.value().data, sample(1000));
                QVERIFY(buffer.position <= buffer.size());
            }
        }
    }
};

QTEST_GUILESS_MAIN(KafkaDecompressionTest)
#include "KafkaDecompressionTest.moc"
