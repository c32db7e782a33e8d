#include "ConditionRowDriver.h"
#include "ConditionWidget.h"
#include "PinnedLocale.h"
#include "Settings.h"

#include <QTest>

using Target = FilterCondition::Target;
using Operator = FilterCondition::Operator;

Q_DECLARE_METATYPE(FilterCondition)

namespace {

constexpr qint64 Big = 5'000'000'000; // beyond the int range

FilterCondition condition(Target target, Operator operation, qint64 min = 0, qint64 max = 0, const QString& text = {},
    const QString& header = {})
{
    FilterCondition c { target, operation, header, operation == Operator::Matching ? QString() : text,
        operation == Operator::EqualTo ? min : 0, min, max, QRegularExpression() };
    if (operation == Operator::Matching)
        c.regex.setPattern(text);
    return c;
}

QString describe(const FilterCondition& c)
{
    return QStringLiteral("%1 %2 [%3] [%4] [%5] %6 %7 %8")
        .arg(int(c.target)).arg(int(c.operation)).arg(c.headerName, c.expectedString, c.regex.pattern())
        .arg(c.value).arg(c.min).arg(c.max);
}

} // namespace

class ConditionWidgetTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { pinTimeZoneAndLocale(); }

private slots:
    // What the row shows for a pair, and the number typed for one pair as
    // the next one finds it (no number typed: -1).
    void inputsAndCarriedNumbers_data()
    {
        QTest::addColumn<Target>("target");
        QTest::addColumn<Operator>("operation");
        QTest::addColumn<qint64>("typed");
        QTest::addColumn<Target>("nextTarget");
        QTest::addColumn<Operator>("nextOperation");
        QTest::addColumn<QString>("inputs");
        QTest::addColumn<QList<qint64>>("numbers");

        const QList<qint64> none;
        QTest::newRow("key contains") << Target::Key << Operator::Containing << -1LL << Target::Key << Operator::Containing << "text" << none;
        QTest::newRow("header equals") << Target::Key << Operator::Containing << -1LL << Target::Header << Operator::EqualTo << "header text" << none;
        QTest::newRow("timestamp between") << Target::Timestamp << Operator::Between << -1LL << Target::Timestamp << Operator::Between << "time and time" << none;
        QTest::newRow("timestamp lower") << Target::Timestamp << Operator::Between << -1LL << Target::Timestamp << Operator::LowerThan << "time" << none;
        QTest::newRow("offset equals, then between") << Target::Offset << Operator::EqualTo << Big << Target::Offset << Operator::Between
                                                     << "number and number" << QList<qint64> { Big, Big };
        QTest::newRow("offset greater, then equals") << Target::Offset << Operator::GreaterThan << Big << Target::Offset << Operator::EqualTo
                                                     << "number" << QList<qint64> { Big };
        QTest::newRow("partition equals, then lower") << Target::Partition << Operator::EqualTo << 3LL << Target::Partition
                                                      << Operator::LowerThan << "number" << QList<qint64> { 3 };
        QTest::newRow("between, then greater keeps the bound") << Target::Offset << Operator::Between << 40LL << Target::Offset
                                                               << Operator::GreaterThan << "number" << QList<qint64> { 40 };
        QTest::newRow("offset equals, then records") << Target::Offset << Operator::EqualTo << Big << Target::Records << Operator::Last
                                                     << "number" << QList<qint64> { Big };
        QTest::newRow("records first not below 1") << Target::Records << Operator::First << 0LL << Target::Records << Operator::First
                                                   << "number" << QList<qint64> { 1 };
    }

    void inputsAndCarriedNumbers()
    {
        QFETCH(Target, target);
        QFETCH(Operator, operation);
        QFETCH(qint64, typed);
        QFETCH(Target, nextTarget);
        QFETCH(Operator, nextOperation);
        QFETCH(QString, inputs);
        QFETCH(QList<qint64>, numbers);

        Settings settings { { QStringLiteral("trace-id") }, { QStringLiteral("abc") } };
        ConditionWidget row(settings);
        row.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row));
        ConditionRowDriver driver(&row);
        driver.choose(target);
        driver.choose(operation);
        if (typed >= 0)
            ConditionRowDriver::typeNumber(driver.numberBoxes().constFirst(), typed);
        driver.choose(nextTarget);
        driver.choose(nextOperation);
        QCOMPARE(driver.describeInputs(), inputs);
        QList<qint64> shown;
        for (const Int64SpinBox* box : driver.numberBoxes())
            shown.append(box->value());
        QCOMPARE(shown, numbers);
    }

    // A loaded condition comes back as it was, or with its first problem.
    void validation_data()
    {
        QTest::addColumn<FilterCondition>("loaded");
        QTest::addColumn<QString>("result");

        const QList<FilterCondition> valid { condition(Target::Records, Operator::Last, 100),
            condition(Target::Timestamp, Operator::Between, 1'700'000'000'000, 1'700'000'000'000),
            condition(Target::Offset, Operator::Between, Big, Big),
            condition(Target::Header, Operator::Matching, 0, 0, "^a.*", "trace-id") };
        for (const FilterCondition& c : valid)
            QTest::addRow("valid %d", int(c.target)) << c << describe(c);
        QTest::newRow("no header name") << condition(Target::Header, Operator::Containing, 0, 0, "x") << "59 The header name is required";
        QTest::newRow("no pattern") << condition(Target::Key, Operator::Matching) << "59 The regular expression pattern is required";
        QTest::newRow("bad pattern") << condition(Target::Body, Operator::Matching, 0, 0, "(")
                                     << "54 Invalid regular expression: " + QRegularExpression("(").errorString();
        QTest::newRow("no expected string") << condition(Target::Key, Operator::EqualTo) << "59 The expected string is required";
        QTest::newRow("end before start") << condition(Target::Timestamp, Operator::Between, 1'700'000'001'000, 1'700'000'000'000)
                                          << "60 The end time must be greater than the start time";
        QTest::newRow("upper below lower") << condition(Target::Offset, Operator::Between, 10, 9)
                                           << "60 The upper bound must be greater than the lower bound";
    }

    void validation()
    {
        QFETCH(FilterCondition, loaded);
        QFETCH(QString, result);

        Settings settings;
        ConditionWidget row(settings);
        row.setCondition(loaded);
        const Result<FilterCondition, KafkaError> read = row.condition();
        QCOMPARE(read.isError() ? QString("%1 %2").arg(int(read.error().code)).arg(read.error().message) : describe(read.value()),
            result);
    }
};

QTEST_MAIN(ConditionWidgetTest)
#include "ConditionWidgetTest.moc"
