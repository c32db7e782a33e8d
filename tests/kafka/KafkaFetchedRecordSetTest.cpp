// Taking a partition's fetched record set: where the next request starts, and
// which records of the returned batches are kept.
#include "KafkaFetchedRecordSet.h"
#include "TestRecordBatchBuilder.h"
#include "TestRecordOffsets.h"

#include <QTest>

using namespace TestBatches;

Q_DECLARE_METATYPE(TestBatches::TestBatch)

namespace {

KafkaFetchResponse::Partition partitionOf(const QList<TestBatch>& batches,
    QList<KafkaFetchResponse::Transaction> aborted = {}, qsizetype cutBytes = 0)
{
    KafkaFetchResponse::Partition partition;
    for (const TestBatch& batch : batches)
        partition.records += batch.bytes();
    partition.records.chop(cutBytes);
    partition.abortedTransactions = std::move(aborted);
    return partition;
}

TestBatch batchOf(Codec codec, std::int64_t baseOffset, int count)
{
    TestBatch batch = plainBatch(baseOffset, count);
    batch.codec = codec;
    return batch;
}

} // namespace

class KafkaFetchedRecordSetTest : public QObject {
    Q_OBJECT

private slots:
    void rangesWithinBatches_data();
    void rangesWithinBatches();
    void abortedTransactionsAreDropped();
    void impossibleBatchLengthFails();
    void undecodableBatchFails();
};

void KafkaFetchedRecordSetTest::rangesWithinBatches_data()
{
    QTest::addColumn<int>("codec");
    QTest::addColumn<QList<TestBatch>>("batches");
    QTest::addColumn<qsizetype>("cutBytes");
    QTest::addColumn<std::int64_t>("fetchOffset");
    QTest::addColumn<std::int64_t>("endOffset");
    QTest::addColumn<QList<std::int64_t>>("expected");
    QTest::addColumn<std::int64_t>("nextOffset");
    QTest::addColumn<bool>("stalled");

    const struct {
        const char* name;
        Codec codec;
    } codecs[] = { { "none", Codec::None }, { "gzip", Codec::Gzip }, { "snappy", Codec::SnappyJava },
        { "lz4", Codec::Lz4 }, { "zstd", Codec::Zstd } };
    for (const auto& [name, codec] : codecs) {
        const QList<TestBatch> three { batchOf(codec, 0, 10), batchOf(codec, 10, 10), batchOf(codec, 20, 10) };
        const auto row = [&](const char* what) -> QTestData& { return QTest::addRow("%s %s", name, what) << int(codec) << three; };
        row("whole set") << qsizetype(0) << std::int64_t(0) << std::int64_t(-1) << offsetRange(0, 29) << std::int64_t(30) << false;
        row("inside batches") << qsizetype(0) << std::int64_t(5) << std::int64_t(24) << offsetRange(5, 24) << std::int64_t(30) << false;
        row("last record") << qsizetype(0) << std::int64_t(29) << std::int64_t(29) << offsetRange(29, 29) << std::int64_t(30) << false;
        row("end in the first batch") << qsizetype(0) << std::int64_t(3) << std::int64_t(6) << offsetRange(3, 6) << std::int64_t(10) << false;
        row("last batch cut short") << qsizetype(7) << std::int64_t(12) << std::int64_t(-1) << offsetRange(12, 19) << std::int64_t(20) << false;
    }
    // The beginning of one batch larger than the limits.
    QTest::newRow("cut first batch") << int(Codec::None) << QList<TestBatch> { plainBatch(40, 10) } << qsizetype(20)
                                     << std::int64_t(40) << std::int64_t(-1) << QList<std::int64_t>() << std::int64_t(40) << true;
    QTest::newRow("cut header") << int(Codec::None) << QList<TestBatch> { plainBatch(40, 10) }
                                << qsizetype(plainBatch(40, 10).bytes().size() - 30) << std::int64_t(40) << std::int64_t(-1)
                                << QList<std::int64_t>() << std::int64_t(40) << true;
    QTest::newRow("empty set") << int(Codec::None) << QList<TestBatch>() << qsizetype(0) << std::int64_t(40)
                               << std::int64_t(-1) << QList<std::int64_t>() << std::int64_t(40) << false;
    // Offsets 5..19 were removed (compaction): the range 6..12 is empty and read.
    QTest::newRow("gap past the end") << int(Codec::None) << QList<TestBatch> { plainBatch(20, 5) } << qsizetype(0)
                                      << std::int64_t(6) << std::int64_t(12) << QList<std::int64_t>() << std::int64_t(13) << false;
    QTest::newRow("gap then range") << int(Codec::None) << QList<TestBatch> { plainBatch(20, 5) } << qsizetype(0)
                                    << std::int64_t(6) << std::int64_t(22) << offsetRange(20, 22) << std::int64_t(25) << false;
}

void KafkaFetchedRecordSetTest::rangesWithinBatches()
{
    QFETCH(QList<TestBatch>, batches);
    QFETCH(qsizetype, cutBytes);
    QFETCH(std::int64_t, fetchOffset);
    QFETCH(std::int64_t, endOffset);
    QFETCH(QList<std::int64_t>, expected);
    QFETCH(std::int64_t, nextOffset);
    QFETCH(bool, stalled);

    KafkaFetchedRecordSet recordSet(QStringLiteral("topic"), 3, fetchOffset, endOffset, partitionOf(batches, {}, cutBytes));
    QVERIFY(!recordSet.scan());
    QCOMPARE(recordSet.nextOffset(), nextOffset);
    QCOMPARE(recordSet.stalled(), stalled);
    KafkaResult<QList<KafkaRecord>> records = recordSet.decode();
    QVERIFY(records.hasValue());
    QCOMPARE(offsetsOf(records.value()), expected);
    for (const KafkaRecord& record : records.value()) {
        QCOMPARE(record.topic, QStringLiteral("topic"));
        QCOMPARE(record.partition, 3);
        QCOMPARE(record.value, "v" + QByteArray::number(record.offset % 10));
    }
}

// Batches of an aborted transaction are dropped up to its marker; the same
// producer's later transaction and other producers' batches are kept; the
// markers move the next offset on.
void KafkaFetchedRecordSetTest::abortedTransactionsAreDropped()
{
    const QList<TestBatch> batches {
        transactionalBatch(0, 7, 3), // aborted
        plainBatch(3, 2),
        controlBatch(5, 7, 0),
        transactionalBatch(6, 7, 2), // committed
        transactionalBatch(8, 9, 2), // aborted
        controlBatch(10, 7, 1),
        controlBatch(11, 9, 0),
    };
    KafkaFetchedRecordSet recordSet(
        QStringLiteral("topic"), 0, 1, -1, partitionOf(batches, { { 7, 0 }, { 9, 8 } }));
    QVERIFY(!recordSet.scan());
    QCOMPARE(recordSet.nextOffset(), 12);
    KafkaResult<QList<KafkaRecord>> records = recordSet.decode();
    QVERIFY(records.hasValue());
    QCOMPARE(offsetsOf(records.value()), (QList<std::int64_t> { 3, 4, 6, 7 }));
}

void KafkaFetchedRecordSetTest::impossibleBatchLengthFails()
{
    TestBatch broken = plainBatch(10, 2);
    broken.batchLength = 48;
    KafkaFetchedRecordSet recordSet(QStringLiteral("topic"), 0, 0, -1, partitionOf({ plainBatch(0, 10), broken }));
    std::optional<KafkaError> error = recordSet.scan();
    QVERIFY(error);
    QCOMPARE(error->code, KafkaErrorCode::CorruptMessage);
    QCOMPARE(error->message, QStringLiteral("Invalid record batch length 48 at offset 10, the header alone takes 49"));
}

void KafkaFetchedRecordSetTest::undecodableBatchFails()
{
    TestBatch broken = plainBatch(10, 2);
    broken.codec = Codec::Lz4;
    broken.section = QByteArray("not an lz4 frame at all");
    KafkaFetchedRecordSet recordSet(QStringLiteral("topic"), 0, 0, -1, partitionOf({ plainBatch(0, 10), broken }));
    QVERIFY(!recordSet.scan());
    QCOMPARE(recordSet.nextOffset(), 12);
    KafkaResult<QList<KafkaRecord>> records = recordSet.decode();
    QVERIFY(records.isError());
}

QTEST_GUILESS_MAIN(KafkaFetchedRecordSetTest)
#include "KafkaFetchedRecordSetTest.moc"
