#include "FetchRange.h"
#include "SubscriptionFilter.h"

#include <QTest>

#include <limits>

using Kind = KafkaFetcher::OffsetsResult::EndOffsetKind;

constexpr qint64 Now = 1'700'000'000'000;
constexpr qint64 Largest = std::numeric_limits<qint64>::max();

class FetchRangeTest : public QObject {
    Q_OBJECT

private slots:
    // Bounds (offsetMin, offsetMax, timestampMax, firstN, lastN), resolved offsets, and
    // "start..end" (end -1 follows the partition) or "none".
    void range_data()
    {
        QTest::addColumn<QList<qint64>>("bounds");
        QTest::addColumn<qint64>("start");
        QTest::addColumn<qint64>("end");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("range");
        using L = QList<qint64>;
        QTest::newRow("last 100") << L { 0, -1, -1, -1, 100 } << 0LL << 1000LL << Kind::Latest << "900..-1";
        QTest::newRow("first 10") << L { 0, -1, -1, 10, -1 } << 50LL << 900LL << Kind::Latest << "50..59";
        QTest::newRow("huge first N") << L { 0, -1, -1, Largest, -1 } << 50LL << 900LL << Kind::Latest
                                      << QString("50..%1").arg(Largest);
        QTest::newRow("end in the future") << L { 0, -1, Now + 1, -1, -1 } << 5LL << 90LL << Kind::Latest << "5..-1";
        QTest::newRow("past window") << L { 0, -1, Now - 1, -1, -1 } << 100LL << 500LL << Kind::AtEndTimestamp << "100..499";
        QTest::newRow("past end, none after") << L { 0, -1, Now - 1, -1, -1 } << 100LL << 300LL << Kind::Latest << "100..300";
        QTest::newRow("window before first record") << L { 0, -1, Now - 1, -1, -1 } << 0LL << 0LL << Kind::AtEndTimestamp << "none";
        QTest::newRow("nothing after start time") << L { 0, -1, -1, -1, -1 } << -1LL << 90LL << Kind::Latest << "none";
        QTest::newRow("offset greater follows") << L { 25, Largest, -1, -1, -1 } << 0LL << 90LL << Kind::Latest << "25..-1";
        QTest::newRow("offset between") << L { 25, 30, -1, -1, -1 } << 0LL << 90LL << Kind::Latest << "25..30";
        QTest::newRow("empty offset range") << L { 25, 20, -1, -1, -1 } << 0LL << 90LL << Kind::Latest << "none";
    }

    void range()
    {
        QFETCH(QList<qint64>, bounds);
        QFETCH(qint64, start);
        QFETCH(qint64, end);
        QFETCH(Kind, kind);
        QFETCH(QString, range);
        SubscriptionFilter b;
        b.offsetMin = bounds[0];
        b.offsetMax = bounds[1];
        b.timestampMax = bounds[2];
        b.firstN = bounds[3];
        b.lastN = bounds[4];
        const std::optional<FetchRange> result = FetchRange::forBounds(b, { start, end, kind }, Now);
        QCOMPARE(result ? QString("%1..%2").arg(result->start).arg(result->end) : QString("none"), range);
    }
};

QTEST_GUILESS_MAIN(FetchRangeTest)
#include "FetchRangeTest.moc"
