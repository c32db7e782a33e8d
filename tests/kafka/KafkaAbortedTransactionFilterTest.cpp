#include "KafkaAbortedTransactionFilter.h"
#include "KafkaRecordBatch.h"
#include "TestRecordBatchBuilder.h"

#include <QTest>

using namespace TestBatches;

namespace {

// Parses a record set as the fetcher does and returns the offsets of the
// records the filter lets through.
QList<qint64> deliveredOffsets(const QList<TestBatch>& batches, KafkaAbortedTransactionFilter filter)
{
    QByteArray bytes;
    for (const TestBatch& batch : batches)
        bytes += batch.bytes();
    KafkaBuffer recordSet(bytes);
    QList<qint64> offsets;
    while (!recordSet.atEnd()) {
        const auto batch = KafkaRecordBatch::parseFromBuffer(recordSet, QStringLiteral("t"), 0);
        if (batch.isError())
            qFatal("%s", qPrintable(batch.error().message));
        if (filter.isAborted(batch.value()))
            continue;
        for (const KafkaRecord& record : batch.value().records)
            offsets.append(record.offset);
    }
    return offsets;
}

struct Transaction {
    std::int64_t producerId = 0;
    std::int64_t firstOffset = 0;
};

} // namespace

class KafkaAbortedTransactionFilterTest : public QObject {
    Q_OBJECT

private slots:
    void abortedTransactionsAreDropped()
    {
        constexpr std::int16_t Abort = 0;
        constexpr std::int16_t Commit = 1;
        const QList<TestBatch> batches = {
            plainBatch(0, 2), // 0-1
            transactionalBatch(2, 10, 2), // 2-3, aborted
            transactionalBatch(4, 11, 2), // 4-5, committed
            plainBatch(6, 1), // 6
            transactionalBatch(7, 10, 1), // 7, aborted
            controlBatch(8, 10, Abort),
            controlBatch(9, 11, Commit),
            transactionalBatch(10, 10, 2), // 10-11: producer 10's next transaction, committed
            controlBatch(12, 10, Commit),
            transactionalBatch(13, 10, 1), // 13, aborted again
            transactionalBatch(14, 12, 1), // 14, producer 12 committed
            plainBatch(15, 1), // 15
            controlBatch(16, 10, Abort),
            controlBatch(17, 12, Commit),
            transactionalBatch(18, 10, 1), // 18, after the abort marker
        };
        const QList<qint64> expected = { 0, 1, 4, 5, 6, 10, 11, 14, 15, 18 };

        // The broker's list, in any order.
        const QList<Transaction> aborted = { { 10, 13 }, { 10, 2 } };
        QCOMPARE(deliveredOffsets(batches, KafkaAbortedTransactionFilter::fromTransactions(aborted)), expected);

        // Without the list nothing is dropped.
        QCOMPARE(deliveredOffsets(batches, KafkaAbortedTransactionFilter()).size(), 14);
    }

    void abortStartingInsideABatch()
    {
        // The transaction starts at the batch's last offset: the batch is aborted.
        const QList<TestBatch> batches = { transactionalBatch(0, 7, 3), controlBatch(3, 7, 0), plainBatch(4, 1) };
        QCOMPARE(deliveredOffsets(batches, KafkaAbortedTransactionFilter({ { 7, 2 } })), QList<qint64>({ 4 }));
    }

    void onlyTransactionalBatchesOfTheProducerAreDropped()
    {
        // An idempotent, non-transactional batch of an aborting producer stays.
        TestBatch idempotent = plainBatch(0, 1);
        idempotent.producerId = 7;
        const QList<TestBatch> batches = { idempotent, transactionalBatch(1, 8, 1), transactionalBatch(2, 7, 1) };
        QCOMPARE(deliveredOffsets(batches, KafkaAbortedTransactionFilter({ { 7, 0 } })), QList<qint64>({ 0, 1 }));
    }
};

QTEST_GUILESS_MAIN(KafkaAbortedTransactionFilterTest)
#include "KafkaAbortedTransactionFilterTest.moc"
