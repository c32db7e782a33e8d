// Decoded records keep their bytes where their batch holds them. Whatever a
// record set leaves out, the records it keeps hold no more than twice their
// own bytes alive, read right once everything else is gone, and change
// apart from one another.
#include "KafkaFetchedRecordSet.h"
#include "KafkaRecordStorage.h"
#include "TestRecordBatchBuilder.h"

#include <QTest>

#include <set>

using namespace TestBatches;

Q_DECLARE_METATYPE(TestBatches::Codec)

namespace {

constexpr int RecordsPerBatch = 400;
constexpr int Batches = 3;

QByteArray valueOf(std::int64_t offset)
{
    return QByteArray::number(offset).rightJustified(200, '.');
}

// Three batches of records with a key, a 200-byte value and, on every
// other record, a header; as one exact array, as a frame arrives.
QByteArray recordSet(Codec codec)
{
    QByteArray bytes;
    for (int b = 0; b < Batches; ++b) {
        TestBatch batch;
        batch.baseOffset = std::int64_t(b) * RecordsPerBatch;
        batch.codec = codec;
        for (int i = 0; i < RecordsPerBatch; ++i) {
            const std::int64_t offset = batch.baseOffset + i;
            TestRecord record { 0, i, i, "key-" + QByteArray::number(offset), valueOf(offset), {} };
            if (offset % 2 == 0)
                record.headers = { { QStringLiteral("h"), "header-" + QByteArray::number(offset) } };
            batch.records.append(record);
        }
        bytes += batch.bytes();
    }
    return QByteArray(bytes.constData(), bytes.size());
}

// The storage blocks the keys, values and header values of a list keep alive.
qint64 heldBytes(const QList<KafkaRecord>& records)
{
    std::set<const char*> seen;
    qint64 held = 0;
    const auto add = [&](QByteArray bytes) {
        // The copy shares the block of the array copied.
        QByteArray::DataPointer& storage = bytes.data_ptr();
        if (!storage.isMutable())
            return;
        if (seen.insert(bytes.constData() - storage.freeSpaceAtBegin()).second)
            held += storage.allocatedCapacity();
    };
    for (const KafkaRecord& record : records) {
        add(record.key);
        add(record.value);
        for (const KafkaHeader& header : record.headers)
            add(header.value);
    }
    return held;
}

qint64 ownBytes(const QList<KafkaRecord>& records)
{
    qint64 own = 0;
    for (const KafkaRecord& record : records) {
        own += record.key.size() + record.value.size();
        for (const KafkaHeader& header : record.headers)
            own += header.value.size();
    }
    return own;
}

void checkRecords(const QList<KafkaRecord>& records, std::int64_t first, std::int64_t last)
{
    QCOMPARE(records.size(), last - first + 1);
    for (const KafkaRecord& record : records) {
        QCOMPARE(record.offset, first + (&record - records.constData()));
        QCOMPARE(record.key, "key-" + QByteArray::number(record.offset));
        QCOMPARE(record.value, valueOf(record.offset));
        QCOMPARE(record.headers.size(), record.offset % 2 == 0 ? 1 : 0);
        if (!record.headers.isEmpty())
            QCOMPARE(record.headers.first().value, "header-" + QByteArray::number(record.offset));
    }
}

} // namespace

class KafkaRecordStorageTest : public QObject {
    Q_OBJECT

private slots:
    void keptRecordsHoldLittleMore_data()
    {
        QTest::addColumn<Codec>("codec");
        QTest::addColumn<qint64>("first");
        QTest::addColumn<qint64>("last");
        const std::pair<const char*, Codec> codecs[] = { { "none", Codec::None }, { "lz4", Codec::Lz4 },
            { "zstd", Codec::Zstd }, { "gzip", Codec::Gzip }, { "snappy", Codec::SnappyJava } };
        const qint64 end = Batches * RecordsPerBatch - 1;
        for (const auto& [name, codec] : codecs) {
            QTest::addRow("%s, every record", name) << codec << qint64(0) << end;
            QTest::addRow("%s, the last three", name) << codec << end - 2 << end;
            QTest::addRow("%s, the first three", name) << codec << qint64(0) << qint64(2);
            QTest::addRow("%s, one in the middle", name) << codec << qint64(RecordsPerBatch + 7) << qint64(RecordsPerBatch + 7);
            QTest::addRow("%s, most of the middle batch", name)
                << codec << qint64(RecordsPerBatch + 10) << qint64(2 * RecordsPerBatch - 10);
        }
    }

    void keptRecordsHoldLittleMore()
    {
        QFETCH(Codec, codec);
        QFETCH(qint64, first);
        QFETCH(qint64, last);
        QList<KafkaRecord> records;
        {
            KafkaFetchResponse::Partition partition;
            partition.records = recordSet(codec);
            KafkaFetchedRecordSet set(QStringLiteral("t"), 0, first, last, partition);
            QVERIFY(!set.scan());
            KafkaDecodeBudget budget;
            KafkaBatchDecompressor decompressor;
            // A decompressor that served a set before serves the next alike.
            QVERIFY(set.decode(budget, decompressor).hasValue());
            KafkaDecodeBudget again;
            KafkaResult<QList<KafkaRecord>> decoded = set.decode(again, decompressor);
            QVERIFY(decoded.hasValue());
            records = std::move(decoded).value();
        }
        // The response and the decompressor are gone: the records read on.
        checkRecords(records, first, last);
        const qint64 held = heldBytes(records);
        QVERIFY2(held <= KafkaRecordStorage::KeptFraction * ownBytes(records) + 64,
            qPrintable(QStringLiteral("%1 bytes held for %2 bytes of records").arg(held).arg(ownBytes(records))));
    }

    // What a filter keeps of a decoded list is held alone, as the fetcher's own leaving out.
    void sparseListsCopyOut_data()
    {
        QTest::addColumn<int>("step");
        QTest::newRow("every record") << 1;
        QTest::newRow("every other") << 2;
        QTest::newRow("one in three") << 3;
        QTest::newRow("one in a hundred") << 100;
    }

    void sparseListsCopyOut()
    {
        QFETCH(int, step);
        KafkaFetchResponse::Partition partition;
        partition.records = recordSet(Codec::None);
        KafkaFetchedRecordSet set(QStringLiteral("t"), 0, 0, -1, partition);
        QVERIFY(!set.scan());
        const QList<KafkaRecord> all = set.decode().value();
        partition.records.clear();
        QList<KafkaRecord> kept;
        for (qsizetype i = 0; i < all.size(); i += step)
            kept.append(all[i]);
        const qint64 heldBefore = heldBytes(kept);
        KafkaRecordStorage::releaseSparseBlocks(kept);
        for (const KafkaRecord& record : kept) {
            QCOMPARE(record.value, valueOf(record.offset));
            QCOMPARE(record.key, "key-" + QByteArray::number(record.offset));
        }
        const qint64 held = heldBytes(kept);
        QVERIFY2(held <= KafkaRecordStorage::KeptFraction * ownBytes(kept) + 64,
            qPrintable(QStringLiteral("%1 bytes held for %2 bytes of records").arg(held).arg(ownBytes(kept))));
        // A list dense enough keeps sharing: nothing is copied for nothing.
        if (step < KafkaRecordStorage::KeptFraction)
            QCOMPARE(held, heldBefore);
    }

    // A record changed in place leaves its neighbours, which shared its
    // batch, as they were; also once they are gone.
    void recordsChangeApart()
    {
        KafkaFetchResponse::Partition partition;
        partition.records = recordSet(Codec::Lz4);
        KafkaFetchedRecordSet set(QStringLiteral("t"), 0, 0, -1, partition);
        QVERIFY(!set.scan());
        QList<KafkaRecord> records = set.decode().value();
        records[0].value.append("appended");
        records[0].value[0] = 'X';
        records[1].key.replace(0, 3, "KEY");
        checkRecords(records.mid(2), 2, Batches * RecordsPerBatch - 1);
        QCOMPARE(records[0].value, 'X' + valueOf(0).mid(1) + "appended");
        QCOMPARE(records[1].key, "KEY-1");
        QCOMPARE(records[1].value, valueOf(1));

        records.remove(1, records.size() - 1);
        records[0].value.append(QByteArray(1000, 'y'));
        QCOMPARE(records[0].value, 'X' + valueOf(0).mid(1) + "appended" + QByteArray(1000, 'y'));
        QCOMPARE(records[0].key, "key-0");
    }
};

QTEST_GUILESS_MAIN(KafkaRecordStorageTest)
#include "KafkaRecordStorageTest.moc"
