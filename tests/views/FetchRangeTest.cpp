#include "FetchRange.h"
#include "SubscriptionFilter.h"

#include <QTest>

#include <limits>

using Kind = KafkaFetcher::OffsetsResult::EndOffsetKind;

namespace {

constexpr qint64 Now = 1'700'000'000'000;
constexpr qint64 Largest = std::numeric_limits<qint64>::max();

} // namespace

class FetchRangeTest : public QObject {
    Q_OBJECT

private slots:
    // "start..end" (end -1 follows the partition) or "none".
    void range_data()
    {
        QTest::addColumn<qint64>("offsetMin");
        QTest::addColumn<qint64>("offsetMax");
        QTest::addColumn<qint64>("timestampMax");
        QTest::addColumn<qint64>("firstN");
        QTest::addColumn<qint64>("lastN");
        QTest::addColumn<qint64>("start");
        QTest::addColumn<qint64>("end");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("range");

        QTest::newRow("last 100 of 0..999") << 0LL << -1LL << -1LL << -1LL << 100LL << 0LL << 1000LL << Kind::Latest << "900..-1";
        QTest::newRow("last 100 of 30") << 0LL << -1LL << -1LL << -1LL << 100LL << 0LL << 30LL << Kind::Latest << "0..-1";
        QTest::newRow("first 10 from 50") << 0LL << -1LL << -1LL << 10LL << -1LL << 50LL << 900LL << Kind::Latest << "50..59";
        QTest::newRow("first of a huge N") << 0LL << -1LL << -1LL << Largest << -1LL << 50LL << 900LL << Kind::Latest
                                           << QString("50..%1").arg(Largest);
        QTest::newRow("end in the future follows") << 0LL << -1LL << Now + 1 << -1LL << -1LL << 5LL << 90LL << Kind::Latest << "5..-1";
        QTest::newRow("end in the future, offset bound") << 0LL << 77LL << Now + 1 << -1LL << -1LL << 5LL << 90LL
                                                         << Kind::Latest << "5..77";
        QTest::newRow("past window") << 0LL << -1LL << Now - 1 << -1LL << -1LL << 100LL << 500LL << Kind::AtEndTimestamp << "100..499";
        QTest::newRow("past end, none after") << 0LL << -1LL << Now - 1 << -1LL << -1LL << 100LL << 300LL << Kind::Latest << "100..300";
        QTest::newRow("window before the first record") << 0LL << -1LL << Now - 1 << -1LL << -1LL << 0LL << 0LL
                                                        << Kind::AtEndTimestamp << "none";
        QTest::newRow("window before the first record, offset bound") << 0LL << 40LL << Now - 1 << -1LL << -1LL << 0LL << 0LL
                                                                      << Kind::AtEndTimestamp << "none";
        QTest::newRow("nothing after the start time") << 0LL << -1LL << -1LL << -1LL << -1LL << -1LL << 90LL << Kind::Latest << "none";
        QTest::newRow("offset greater than follows") << 25LL << Largest << -1LL << -1LL << -1LL << 0LL << 90LL << Kind::Latest << "25..-1";
        QTest::newRow("offset between") << 25LL << 30LL << -1LL << -1LL << -1LL << 0LL << 90LL << Kind::Latest << "25..30";
        QTest::newRow("empty offset range") << 25LL << 20LL << -1LL << -1LL << -1LL << 0LL << 90LL << Kind::Latest << "none";
    }

    void range()
    {
        QFETCH(qint64, offsetMin);
        QFETCH(qint64, offsetMax);
        QFETCH(qint64, timestampMax);
        QFETCH(qint64, firstN);
        QFETCH(qint64, lastN);
        QFETCH(qint64, start);
        QFETCH(qint64, end);
        QFETCH(Kind, kind);
        QFETCH(QString, range);

        SubscriptionFilter bounds;
        bounds.offsetMin = offsetMin;
        bounds.offsetMax = offsetMax;
        bounds.timestampMax = timestampMax;
        bounds.firstN = firstN;
        bounds.lastN = lastN;
        const std::optional<FetchRange> result = FetchRange::forBounds(bounds, { start, end, kind }, Now);
        QCOMPARE(result ? QString("%1..%2").arg(result->start).arg(result->end) : QString("none"), range);
    }
};

QTEST_GUILESS_MAIN(FetchRangeTest)
#include "FetchRangeTest.moc"
