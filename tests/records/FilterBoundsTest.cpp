#include "Filter.h"
#include "SubscriptionFilter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTest>

#include <ctime>
#include <tuple>
#include <limits>

Q_DECLARE_METATYPE(SubscriptionFilter)

namespace {

using Target = FilterCondition::Target;
using Operator = FilterCondition::Operator;

constexpr std::int64_t Largest = std::numeric_limits<std::int64_t>::max();

// Local time (the zone is pinned to UTC+05:30 in main, hence functions).
std::int64_t localMs(QDate date, QTime time) { return QDateTime(date, time).toMSecsSinceEpoch(); }
std::int64_t t0() { return localMs(QDate(2021, 3, 3), QTime(1, 2, 3)); }
std::int64_t t1() { return localMs(QDate(2021, 3, 4), QTime(5, 6, 7)); }
std::int64_t t2() { return localMs(QDate(2021, 3, 5), QTime(6, 7, 8)); }

FilterCondition condition(Target target, Operator operation, std::int64_t value, std::int64_t min, std::int64_t max)
{
    return {target, operation, "trace-id", "x", value, min, max, QRegularExpression("^a.*")};
}

QString text(const SubscriptionFilter& s)
{
    return QString("%1 partitions %2..%3 offsets %4..%5 timestamps %6..%7 first %8 last %9")
        .arg(s.topic, QString::number(s.partitionMin), QString::number(s.partitionMax), QString::number(s.offsetMin),
            QString::number(s.offsetMax), QString::number(s.timestampMin), QString::number(s.timestampMax),
            QString::number(s.firstN), QString::number(s.lastN));
}

void addRow(const QByteArray& name, const QList<FilterCondition>& conditions, SubscriptionFilter expected,
    const QString& descriptionTail)
{
    expected.topic = "orders";
    QTest::newRow(name.constData()) << Filter {4, "orders", conditions} << expected << ("Topic orders" + descriptionTail);
}

} // namespace

class FilterBoundsTest : public QObject {
    Q_OBJECT

private slots:
    void boundsAndDescription_data()
    {
        QTest::addColumn<Filter>("filter");
        QTest::addColumn<SubscriptionFilter>("expected");
        QTest::addColumn<QString>("description");

        addRow("no conditions", {}, {}, "");
        // Every target with every operator over the operands value 7, min 3,
        // max 11 (timestamps t0, t1, t2), text x, pattern ^a.*, header trace-id.
        const char* const operatorNames[] = {"EqualTo", "GreaterThan", "LowerThan", "First", "Last", "Between",
            "Containing", "Matching"};
        const QString operatorText[] = {" equal to ", " greater than ", " lower than ", "", "", " between ",
            " containing ", " matching "};
        const QString numberText[] = {"7", "3", "11", "7", "7", "3 and 11", "7", "7"};
        const QString ts1 = "2021-03-04 05:06:07";
        const QString ts2 = "2021-03-05 06:07:08";
        const QString timeText[] = {"", ts1, ts2, "", "", ts1 + " and " + ts2, "", ""};
        const std::pair<const char*, QString> targets[] = {{"Records", ""}, {"Partition", ", partition"},
            {"Offset", ", offset"}, {"Timestamp", ", timestamp"}, {"Key", ", key"}, {"Header", ", header trace-id"},
            {"Body", ", body"}};
        for (int t = 0; t < 7; ++t) {
            for (int o = 0; o < 8; ++o) {
                const Target target = Target(t);
                const Operator operation = Operator(o);
                const FilterCondition c = target == Target::Timestamp ? condition(target, operation, t0(), t1(), t2())
                                                                      : condition(target, operation, 7, 3, 11);
                const std::int64_t lo[] = {c.value, c.min, 0, 0, 0, c.min, 0, 0};
                const std::int64_t hi[] = {c.value, Largest, c.max, Largest, Largest, c.max, Largest, Largest};
                SubscriptionFilter s;
                QString tail = targets[t].second + operatorText[o];
                if (target == Target::Records) {
                    s.firstN = operation == Operator::First ? 11 : -1;
                    s.lastN = operation == Operator::Last ? 3 : -1;
                    tail += operation == Operator::First ? ", first 11 records for each partition"
                                                         : ", last 3 records for each partition";
                } else if (target == Target::Partition) {
                    std::tie(s.partitionMin, s.partitionMax) = std::pair(lo[o], hi[o]);
                    tail += numberText[o];
                } else if (target == Target::Offset) {
                    std::tie(s.offsetMin, s.offsetMax) = std::pair(lo[o], hi[o]);
                    tail += numberText[o];
                } else if (target == Target::Timestamp) {
                    std::tie(s.timestampMin, s.timestampMax) = std::pair(lo[o], hi[o]);
                    tail += timeText[o];
                } else {
                    tail += operation == Operator::Matching ? "^a.*" : "x";
                }
                addRow(QByteArray(targets[t].first) + "/" + operatorNames[o], {c}, s, tail);
            }
        }

        addRow("counts: the smaller N, a negative N unset",
            {condition(Target::Records, Operator::Last, 0, 100, 0), condition(Target::Records, Operator::Last, 0, 20, 0),
                condition(Target::Records, Operator::First, 0, 0, -5),
                condition(Target::Records, Operator::First, 0, 0, 10)},
            {.topic = "orders", .firstN = 10, .lastN = 20},
            ", last 100 records for each partition, last 20 records for each partition"
            ", first -5 records for each partition, first 10 records for each partition");
        addRow("ranges of one target intersect, contradicting ones leave an empty range",
            {condition(Target::Offset, Operator::Between, 0, 10, 20), condition(Target::Offset, Operator::GreaterThan, 0, 15, 0),
                condition(Target::Timestamp, Operator::GreaterThan, 0, t1(), 0),
                condition(Target::Timestamp, Operator::LowerThan, 0, 0, t2()),
                condition(Target::Timestamp, Operator::Between, 0, t0(), t1() + 5),
                condition(Target::Partition, Operator::Between, 0, 5, 9),
                condition(Target::Partition, Operator::LowerThan, 0, 0, 2)},
            {.topic = "orders", .partitionMin = 5, .partitionMax = 2, .offsetMin = 15, .offsetMax = 20, .timestampMin = t1(),
                .timestampMax = t1() + 5},
            ", offset between 10 and 20, offset greater than 15, timestamp greater than 2021-03-04 05:06:07"
            ", timestamp lower than 2021-03-05 06:07:08, timestamp between 2021-03-03 01:02:03 and 2021-03-04 05:06:07"
            ", partition between 5 and 9, partition lower than 2");

        // Texts with placeholders are taken as they are.
        FilterCondition header = condition(Target::Header, Operator::EqualTo, 0, 0, 0);
        header.headerName = "h%1";
        header.expectedString = "%2%1";
        addRow("placeholders in texts", {header}, {}, ", header h%1 equal to %2%1");

        // Both ends today: times only.
        const QDate today = QDate::currentDate();
        const std::int64_t eight = localMs(today, QTime(8, 0));
        const std::int64_t half = localMs(today, QTime(9, 30));
        addRow("between two times of today", {condition(Target::Timestamp, Operator::Between, 0, eight, half)},
            {.topic = "orders", .timestampMin = eight, .timestampMax = half}, ", timestamp between 08:00:00 and 09:30:00");
        const std::int64_t late = localMs(today.addDays(-1), QTime(23, 0));
        addRow("from yesterday to today", {condition(Target::Timestamp, Operator::Between, 0, late, eight)},
            {.topic = "orders", .timestampMin = late, .timestampMax = eight},
            QString(", timestamp between %1 23:00:00 and %2 08:00:00")
                .arg(today.addDays(-1).toString("yyyy-MM-dd"), today.toString("yyyy-MM-dd")));
    }

    void boundsAndDescription()
    {
        QFETCH(Filter, filter);
        QFETCH(SubscriptionFilter, expected);
        QFETCH(QString, description);
        QCOMPARE(t1(), Q_INT64_C(1614814567000)); // the zone is pinned: 2021-03-04 05:06:07 at UTC+05:30
        QCOMPARE(text(buildSubscriptionFilter(filter)), text(expected));
        QCOMPARE(filter.buildDescription(), description);
    }
};

int main(int argc, char** argv)
{
    // Before anything reads the local zone.
    qputenv("TZ", "SKV-05:30");
    tzset();
    QCoreApplication application(argc, argv);
    FilterBoundsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "FilterBoundsTest.moc"
