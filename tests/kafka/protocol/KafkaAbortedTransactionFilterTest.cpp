#include "KafkaAbortedTransactionFilter.h"
#include "KafkaFetchResponse.h"
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
        for (const KafkaRecord& record : filter.isAborted(batch.value()) ? QList<KafkaRecord>() : batch.value().records)
            offsets.append(record.offset);
    }
    return offsets;
}

constexpr std::int16_t Abort = 0;
constexpr std::int16_t Commit = 1;

} // namespace

class KafkaAbortedTransactionFilterTest : public QObject {
    Q_OBJECT

private slots:
    void abortedTransactionsAreDropped()
    {
        // Producer 10 aborts 2-3 and 7, commits 10-11, aborts 13, writes 18 after its marker; 11 and 12 commit.
        const QList<TestBatch> batches = { plainBatch(0, 2), transactionalBatch(2, 10, 2), transactionalBatch(4, 11, 2), plainBatch(6, 1),
            transactionalBatch(7, 10, 1), controlBatch(8, 10, Abort), controlBatch(9, 11, Commit), transactionalBatch(10, 10, 2),
            controlBatch(12, 10, Commit), transactionalBatch(13, 10, 1), transactionalBatch(14, 12, 1), plainBatch(15, 1),
            controlBatch(16, 10, Abort), controlBatch(17, 12, Commit), transactionalBatch(18, 10, 1) };
        // The broker's list, in any order.
        const QList<KafkaFetchResponse::Transaction> aborted = { { 10, 13 }, { 10, 2 } };
        QCOMPARE(deliveredOffsets(batches, KafkaAbortedTransactionFilter::fromTransactions(aborted)),
            QList<qint64>({ 0, 1, 4, 5, 6, 10, 11, 14, 15, 18 }));
        QCOMPARE(deliveredOffsets(batches, KafkaAbortedTransactionFilter()).size(), 14);
    }

    void edgeCases()
    {
        // A transaction starting at a batch's last offset aborts the batch.
        const QList<TestBatch> inside = { transactionalBatch(0, 7, 3), controlBatch(3, 7, Abort), plainBatch(4, 1) };
        QCOMPARE(deliveredOffsets(inside, KafkaAbortedTransactionFilter({ { 7, 2 } })), QList<qint64>({ 4 }));
        // An idempotent, non-transactional batch of an aborting producer stays.
        TestBatch idempotent = plainBatch(0, 1);
        idempotent.producerId = 7;
        const QList<TestBatch> mixed = { idempotent, transactionalBatch(1, 8, 1), transactionalBatch(2, 7, 1) };
        QCOMPARE(deliveredOffsets(mixed, KafkaAbortedTransactionFilter({ { 7, 0 } })), QList<qint64>({ 0, 1 }));
    }
};

QTEST_GUILESS_MAIN(KafkaAbortedTransactionFilterTest)
#include "KafkaAbortedTransactionFilterTest.moc"
