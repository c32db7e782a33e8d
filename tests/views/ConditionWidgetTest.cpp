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

FilterCondition condition(Target target, Operator op, qint64 min = 0, qint64 max = 0, const QString& text = {},
    const QString& header = {})
{
    const bool matching = op == Operator::Matching;
    return { target, op, header, matching ? QString() : text, op == Operator::EqualTo ? min : 0, min, max,
        QRegularExpression(matching ? text : QString()) };
}

QString describe(const FilterCondition& c)
{
    return QStringLiteral("%1 %2 [%3] [%4] [%5] %6 %7 %8").arg(int(c.target)).arg(int(c.operation))
        .arg(c.headerName, c.expectedString, c.regex.pattern()).arg(c.value).arg(c.min).arg(c.max);
}

} // namespace

class ConditionWidgetTest : public QObject {
    Q_OBJECT

public:
    static void initMain() { pinTimeZoneAndLocale(); }

private slots:
    // The number typed for one pair (-1: none) as the next pair shows it, and that pair's inputs.
    void inputsAndCarriedNumbers_data()
    {
        QTest::addColumn<QList<int>>("pairs"); // target, operator, next target, next operator
        QTest::addColumn<qint64>("typed");
        QTest::addColumn<QString>("inputs");
        QTest::addColumn<QList<qint64>>("numbers");
        const auto add = [](const char* name, Target t, Operator o, qint64 typed, Target nt, Operator no, const char* inputs,
                             const QList<qint64>& numbers) {
            QTest::newRow(name) << QList<int> { int(t), int(o), int(nt), int(no) } << typed << QString(inputs) << numbers;
        };
        add("key contains", Target::Key, Operator::Containing, -1, Target::Key, Operator::Containing, "text", {});
        add("header equals", Target::Key, Operator::Containing, -1, Target::Header, Operator::EqualTo, "header text", {});
        add("timestamp between", Target::Timestamp, Operator::Between, -1, Target::Timestamp, Operator::Between, "time and time", {});
        add("timestamp lower", Target::Timestamp, Operator::Between, -1, Target::Timestamp, Operator::LowerThan, "time", {});
        add("equals, then between", Target::Offset, Operator::EqualTo, Big, Target::Offset, Operator::Between, "number and number", { Big, Big });
        add("partition, then lower", Target::Partition, Operator::EqualTo, 3, Target::Partition, Operator::LowerThan, "number", { 3 });
        add("between, then greater", Target::Offset, Operator::Between, 40, Target::Offset, Operator::GreaterThan, "number", { 40 });
        add("offset, then records", Target::Offset, Operator::EqualTo, Big, Target::Records, Operator::Last, "number", { Big });
        add("first not below 1", Target::Records, Operator::First, 0, Target::Records, Operator::First, "number", { 1 });
    }

    void inputsAndCarriedNumbers()
    {
        QFETCH(QList<int>, pairs);
        QFETCH(qint64, typed);
        QFETCH(QString, inputs);
        QFETCH(QList<qint64>, numbers);
        Settings settings { { QStringLiteral("trace-id") }, { QStringLiteral("abc") } };
        ConditionWidget row(settings);
        row.show();
        QVERIFY(QTest::qWaitForWindowExposed(&row));
        ConditionRowDriver driver(&row);
        driver.choose(Target(pairs[0]));
        driver.choose(Operator(pairs[1]));
        if (typed >= 0)
            ConditionRowDriver::typeNumber(driver.numberBoxes().constFirst(), typed);
        driver.choose(Target(pairs[2]));
        driver.choose(Operator(pairs[3]));
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
        for (const FilterCondition& c : { condition(Target::Timestamp, Operator::Between, 1'700'000'000'000, 1'700'000'000'000),
                 condition(Target::Offset, Operator::Between, Big, Big), condition(Target::Header, Operator::Matching, 0, 0, "^a.*", "trace-id") })
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
        QCOMPARE(read.isError() ? QString("%1 %2").arg(int(read.error().code)).arg(read.error().message) : describe(read.value()), result);
    }
};

QTEST_MAIN(ConditionWidgetTest)
#include "ConditionWidgetTest.moc"
