// One decompressor serving the batches of a response in turn: each batch
// decompresses as it would alone, also after a batch that failed part way,
// and an output handed out earlier keeps its bytes.
#include "KafkaBatchDecompressor.h"
#include "KafkaRecordBatch.h"
#include "TestRecordBatchBuilder.h"

#include <QTest>

using namespace TestBatches;

Q_DECLARE_METATYPE(TestBatches::Codec)

namespace {

using Decompressor = KafkaResult<KafkaBuffer> (*)(KafkaBuffer&, std::int64_t, std::int64_t, KafkaBatchDecompressor*);

// Indexed by Codec.
const Decompressor decompressors[] = { nullptr, &KafkaRecordBatch::uncompressGZip, &KafkaRecordBatch::uncompressGZip,
    &KafkaRecordBatch::uncompressSnappy, &KafkaRecordBatch::uncompressSnappy, &KafkaRecordBatch::uncompressLZ4,
    &KafkaRecordBatch::uncompressZstd };

QByteArray sample(qsizetype size, std::uint32_t seed)
{
    QByteArray bytes;
    for (std::uint32_t state = seed; bytes.size() < size; state = state * 1103515245u + 12345u)
        bytes += char('a' + (state >> 16) % 16);
    return bytes;
}

KafkaResult<KafkaBuffer> run(Codec codec, const QByteArray& section, KafkaBatchDecompressor* reuse)
{
    KafkaBuffer buffer(section);
    return decompressors[int(codec)](buffer, section.size(), KafkaRecordBatch::MaxDecompressedSize, reuse);
}

} // namespace

class KafkaBatchDecompressorTest : public QObject {
    Q_OBJECT

private slots:
    void batchesInTurn_data()
    {
        QTest::addColumn<Codec>("codec");
        for (const Codec codec : CompressedCodecs)
            QTest::newRow(QByteArray::number(int(codec)).constData()) << codec;
    }

    void batchesInTurn()
    {
        QFETCH(Codec, codec);
        KafkaBatchDecompressor decompressor;
        const QByteArray small = sample(10'000, 1);
        const QByteArray large = sample(700'000, 2);
        const QByteArray good = compress(codec, small);
        // Cut inside its data: the stream stops part way.
        const QByteArray cut = compress(codec, large).left(compress(codec, large).size() / 2);

        const KafkaResult<KafkaBuffer> first = run(codec, good, &decompressor);
        QVERIFY(first.hasValue());
        QCOMPARE(first.value().data, small);

        const KafkaResult<KafkaBuffer> failed = run(codec, cut, &decompressor);
        const KafkaResult<KafkaBuffer> alone = run(codec, cut, nullptr);
        QVERIFY(failed.isError() && alone.isError());
        QCOMPARE(failed.error().code, alone.error().code);
        QCOMPARE(failed.error().message, alone.error().message);

        // Larger than any output before it, then small again.
        for (const QByteArray& plain : { large, small, large }) {
            const KafkaResult<KafkaBuffer> next = run(codec, compress(codec, plain), &decompressor);
            QVERIFY(next.hasValue());
            QCOMPARE(next.value().data, plain);
            QVERIFY(next.value().position == 0 && next.value().overrun == 0);
        }
        QCOMPARE(first.value().data, small);
    }
};

QTEST_GUILESS_MAIN(KafkaBatchDecompressorTest)
#include "KafkaBatchDecompressorTest.moc"
