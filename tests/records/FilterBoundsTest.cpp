#include "Filter.h"
#include "SubscriptionFilter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTest>

#include <ctime>
#include <limits>

Q_DECLARE_METATYPE(SubscriptionFilter)

namespace {

using Target = FilterCondition::Target;
using Operator = FilterCondition::Operator;

constexpr std::int64_t Largest = std::numeric_limits<std::int64_t>::max();

// Local time (the test pins the zone to UTC+05:30).
std::int64_t localMs(QDate date, QTime time)
{
    return QDateTime(date, time).toMSecsSinceEpoch();
}

// Functions, not constants: the zone is pinned in main.
std::int64_t t0() { return localMs(QDate(2021, 3, 3), QTime(1, 2, 3)); }
std::int64_t t1() { return localMs(QDate(2021, 3, 4), QTime(5, 6, 7)); }
std::int64_t t2() { return localMs(QDate(2021, 3, 5), QTime(6, 7, 8)); }

FilterCondition condition(Target target, Operator operation, std::int64_t value, std::int64_t min, std::int64_t max)
{
    FilterCondition c;
    c.target = target;
    c.operation = operation;
    c.headerName = "trace-id";
    c.expectedString = "x";
    c.value = value;
    c.min = min;
    c.max = max;
    c.regex = QRegularExpression("^a.*");
    return c;
}

FilterCondition numeric(Target target, Operator operation)
{
    return target == Target::Timestamp ? condition(target, operation, t0(), t1(), t2()) : condition(target, operation, 7, 3, 11);
}

QString text(const SubscriptionFilter& s)
{
    return QString("%1 partitions %2..%3 offsets %4..%5 timestamps %6..%7 first %8 last %9")
        .arg(s.topic, QString::number(s.partitionMin), QString::number(s.partitionMax), QString::number(s.offsetMin),
            QString::number(s.offsetMax), QString::number(s.timestampMin), QString::number(s.timestampMax),
            QString::number(s.firstN), QString::number(s.lastN));
}

const char* operatorName(Operator operation)
{
    static const char* const names[] = { "EqualTo", "GreaterThan", "LowerThan", "First", "Last", "Between",
        "Containing", "Matching" };
    return names[int(operation)];
}

const char* targetName(Target target)
{
    static const char* const names[] = { "Records", "Partition", "Offset", "Timestamp", "Key", "Header", "Body" };
    return names[int(target)];
}

} // namespace

class FilterBoundsTest : public QObject {
    Q_OBJECT

    static void addRow(const QByteArray& name, QList<FilterCondition> conditions, SubscriptionFilter expected,
        const QString& descriptionTail)
    {
        Filter filter;
        filter.id = 4;
        filter.topic = "orders";
        filter.conditions = std::move(conditions);
        expected.topic = "orders";
        QTest::newRow(name.constData()) << filter << expected << ("Topic orders" + descriptionTail);
    }

    // One row per target and operator, with the operands value 7, min 3,
    // max 11 (timestamps t0, t1, t2), text x, pattern ^a.*, header trace-id.
    static void addSingleConditionRows()
    {
        const QString ts1 = "2021-03-04 05:06:07";
        const QString ts2 = "2021-03-05 06:07:08";
        const QList<Operator> operators = { Operator::EqualTo, Operator::GreaterThan, Operator::LowerThan,
            Operator::First, Operator::Last, Operator::Between, Operator::Containing, Operator::Matching };
        const QString operatorFragment[] = { " equal to ", " greater than ", " lower than ", "", "", " between ",
            " containing ", " matching " };
        for (Target target : { Target::Records, Target::Partition, Target::Offset, Target::Timestamp, Target::Key,
                 Target::Header, Target::Body }) {
            for (Operator operation : operators) {
                const QByteArray name = QByteArray(targetName(target)) + "/" + operatorName(operation);
                const QString op = operatorFragment[int(operation)];
                SubscriptionFilter s;
                QString tail;
                // The range [lo, hi] of a numeric condition.
                std::int64_t lo = 0;
                std::int64_t hi = Largest;
                const FilterCondition c = numeric(target, operation);
                switch (operation) {
                case Operator::EqualTo:
                    lo = hi = c.value;
                    break;
                case Operator::GreaterThan:
                    lo = c.min;
                    break;
                case Operator::LowerThan:
                    hi = c.max;
                    break;
                case Operator::Between:
                    lo = c.min;
                    hi = c.max;
                    break;
                default:
                    break;
                }
                switch (target) {
                case Target::Records:
                    if (operation == Operator::First) {
                        s.firstN = 11;
                        tail = ", first 11 records for each partition";
                    } else {
                        if (operation == Operator::Last)
                            s.lastN = 3;
                        tail = op + ", last 3 records for each partition";
                    }
                    break;
                case Target::Partition:
                case Target::Offset: {
                    if (target == Target::Partition) {
                        s.partitionMin = lo;
                        s.partitionMax = hi;
                    } else {
                        s.offsetMin = lo;
                        s.offsetMax = hi;
                    }
                    const QString number = operation == Operator::Between ? QString("3 and 11")
                        : operation == Operator::GreaterThan              ? QString("3")
                        : operation == Operator::LowerThan                ? QString("11")
                                                                          : QString("7");
                    tail = (target == Target::Partition ? ", partition" : ", offset") + op + number;
                    break;
                }
                case Target::Timestamp: {
                    s.timestampMin = lo;
                    s.timestampMax = hi;
                    const QString time = operation == Operator::Between ? ts1 + " and " + ts2
                        : operation == Operator::GreaterThan            ? ts1
                        : operation == Operator::LowerThan              ? ts2
                                                                        : QString();
                    tail = ", timestamp" + op + time;
                    break;
                }
                case Target::Key:
                case Target::Header:
                case Target::Body: {
                    const QString targetText = target == Target::Key ? QString(", key")
                        : target == Target::Header                   ? QString(", header trace-id")
                                                                     : QString(", body");
                    tail = targetText + op + (operation == Operator::Matching ? "^a.*" : "x");
                    break;
                }
                }
                addRow(name, { c }, s, tail);
            }
        }
    }

private slots:
    void boundsAndDescription_data()
    {
        QTest::addColumn<Filter>("filter");
        QTest::addColumn<SubscriptionFilter>("expected");
        QTest::addColumn<QString>("description");

        addRow("no conditions", {}, {}, "");
        addSingleConditionRows();

        addRow("two Last: the smaller N",
            { condition(Target::Records, Operator::Last, 0, 100, 0), condition(Target::Records, Operator::Last, 0, 20, 0) },
            { .topic = "orders", .lastN = 20 }, ", last 100 records for each partition, last 20 records for each partition");
        addRow("two First: the smaller N",
            { condition(Target::Records, Operator::First, 0, 0, 5), condition(Target::Records, Operator::First, 0, 0, 50) },
            { .topic = "orders", .firstN = 5 }, ", first 5 records for each partition, first 50 records for each partition");
        addRow("a negative N counts as unset",
            { condition(Target::Records, Operator::First, 0, 0, -5), condition(Target::Records, Operator::First, 0, 0, 10) },
            { .topic = "orders", .firstN = 10 }, ", first -5 records for each partition, first 10 records for each partition");
        addRow("offset ranges intersect",
            { condition(Target::Offset, Operator::Between, 0, 10, 20),
                condition(Target::Offset, Operator::GreaterThan, 0, 15, 0) },
            { .topic = "orders", .offsetMin = 15, .offsetMax = 20 }, ", offset between 10 and 20, offset greater than 15");
        addRow("timestamp ranges intersect",
            { condition(Target::Timestamp, Operator::GreaterThan, 0, t1(), 0),
                condition(Target::Timestamp, Operator::LowerThan, 0, 0, t2()),
                condition(Target::Timestamp, Operator::Between, 0, t0(), t1() + 5) },
            { .topic = "orders", .timestampMin = t1(), .timestampMax = t1() + 5 },
            ", timestamp greater than 2021-03-04 05:06:07, timestamp lower than 2021-03-05 06:07:08"
            ", timestamp between 2021-03-03 01:02:03 and 2021-03-04 05:06:07");
        addRow("contradicting partitions leave an empty range",
            { condition(Target::Partition, Operator::Between, 0, 5, 9),
                condition(Target::Partition, Operator::LowerThan, 0, 0, 2) },
            { .topic = "orders", .partitionMin = 5, .partitionMax = 2 }, ", partition between 5 and 9, partition lower than 2");

        FilterCondition keyContaining = condition(Target::Key, Operator::Containing, 0, 0, 0);
        keyContaining.expectedString = "abc";
        addRow("partition and key", { condition(Target::Partition, Operator::Between, 0, 0, 3), keyContaining },
            { .topic = "orders", .partitionMin = 0, .partitionMax = 3 }, ", partition between 0 and 3, key containing abc");

        // Texts with placeholders are taken as they are.
        FilterCondition header = condition(Target::Header, Operator::EqualTo, 0, 0, 0);
        header.headerName = "h%1";
        header.expectedString = "%2%1";
        addRow("placeholders in texts", { header }, {}, ", header h%1 equal to %2%1");

        const QDate today = QDate::currentDate();
        addRow("between two times of today",
            { condition(Target::Timestamp, Operator::Between, 0, localMs(today, QTime(8, 0)),
                localMs(today, QTime(9, 30))) },
            { .topic = "orders", .timestampMin = localMs(today, QTime(8, 0)), .timestampMax = localMs(today, QTime(9, 30)) },
            ", timestamp between 08:00:00 and 09:30:00");
        const QDate yesterday = today.addDays(-1);
        addRow("from yesterday to today",
            { condition(Target::Timestamp, Operator::Between, 0, localMs(yesterday, QTime(23, 0)),
                localMs(today, QTime(1, 0))) },
            { .topic = "orders", .timestampMin = localMs(yesterday, QTime(23, 0)), .timestampMax = localMs(today, QTime(1, 0)) },
            QString(", timestamp between %1 23:00:00 and %2 01:00:00")
                .arg(yesterday.toString("yyyy-MM-dd"), today.toString("yyyy-MM-dd")));
    }

    void boundsAndDescription()
    {
        QFETCH(Filter, filter);
        QFETCH(SubscriptionFilter, expected);
        QFETCH(QString, description);
        QCOMPARE(text(buildSubscriptionFilter(filter)), text(expected));
        QCOMPARE(filter.buildDescription(), description);
    }

    void theZoneIsPinned()
    {
        // Guards the expectations above: 2021-03-04 05:06:07 at UTC+05:30.
        QCOMPARE(t1(), Q_INT64_C(1614814567000));
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
