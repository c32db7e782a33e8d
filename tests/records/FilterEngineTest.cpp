#include "CompositeDeserializer.h"
#include "FilterEngine.h"

#include <QSemaphore>
#include <QTest>

#include <atomic>
#include <limits>
#include <memory>

Q_DECLARE_METATYPE(FilterCondition)

namespace {

using Target = FilterCondition::Target;
using Operator = FilterCondition::Operator;

KafkaRecord record(const QString& topic, std::int64_t offset, QByteArray value = "v", std::int32_t partition = 0)
{
    KafkaRecord r;
    r.topic = topic;
    r.partition = partition;
    r.offset = offset;
    r.timestamp = 1000 + offset;
    r.key = "k" + QByteArray::number(offset);
    r.value = std::move(value);
    return r;
}

KafkaRecord withHeaders(QList<KafkaHeader> headers)
{
    KafkaRecord r = record("t", 0);
    r.headers = std::move(headers);
    return r;
}

FilterCondition numeric(Target target, Operator operation, std::int64_t value, std::int64_t min, std::int64_t max)
{
    FilterCondition c;
    c.target = target;
    c.operation = operation;
    c.value = value;
    c.min = min;
    c.max = max;
    return c;
}

FilterCondition text(Target target, Operator operation, const QString& operand, const QString& headerName = {})
{
    FilterCondition c;
    c.target = target;
    c.operation = operation;
    c.headerName = headerName;
    c.expectedString = operand;
    c.regex = QRegularExpression(operand);
    return c;
}

Filter filter(std::int64_t id, const QString& topic, QList<FilterCondition> conditions = {})
{
    return Filter { id, topic, std::move(conditions) };
}

QList<std::int64_t> offsets(const QList<KafkaRecord>& records)
{
    QList<std::int64_t> list;
    for (const KafkaRecord& r : records)
        list.append(r.offset);
    return list;
}

QStringList topics(const QList<SubscriptionFilter>& subscriptions)
{
    QStringList list;
    for (const SubscriptionFilter& s : subscriptions)
        list.append(s.topic);
    return list;
}

// A deserializer with a fixed answer that counts its calls.
class FixedDeserializer final : public RecordDeserializer {
public:
    explicit FixedDeserializer(DeserializedRecord answer, bool fails = false)
        : m_answer(std::move(answer))
        , m_fails(fails)
    {
    }

    Result<DeserializedRecord, KafkaError> deserializeRecord(const KafkaRecord&) const override
    {
        ++calls;
        if (m_fails)
            return KafkaError(KafkaErrorCode::RecordDeserializationError, "failed");
        return m_answer;
    }

    mutable std::atomic<int> calls = 0;

private:
    DeserializedRecord m_answer;
    bool m_fails;
};

// Holds the filter thread inside a Body condition until released.
class BlockingDeserializer final : public RecordDeserializer {
public:
    Result<DeserializedRecord, KafkaError> deserializeRecord(const KafkaRecord& r) const override
    {
        entered.release();
        proceed.acquire();
        return DeserializedRecord { Config::ContentType::Text, {}, QString::fromUtf8(r.value) };
    }

    mutable QSemaphore entered;
    mutable QSemaphore proceed;
};

// Collects the engine's answers on the test thread, where they arrive queued
// as they do in the records tab.
class Answers : public QObject {
public:
    explicit Answers(FilterEngine& engine)
    {
        connect(&engine, &FilterEngine::recordsFiltered, this,
            [this](const QList<KafkaRecord>& records) { batches.append(records); });
    }

    bool waitFor(qsizetype count)
    {
        return QTest::qWaitFor([&] { return batches.size() >= count; }, 10000);
    }

    QList<QList<KafkaRecord>> batches;
};

} // namespace

class FilterEngineTest : public QObject {
    Q_OBJECT

    // Posts the batch to the engine's thread as the records tab does and waits
    // for the answer.
    static QList<KafkaRecord> filterOnThread(FilterEngine& engine, QList<KafkaRecord> batch)
    {
        Answers answers(engine);
        QMetaObject::invokeMethod(&engine, "filterRecords", Qt::QueuedConnection, Q_ARG(QList<KafkaRecord>, batch));
        if (!answers.waitFor(1))
            return { record("no answer", -1) };
        return answers.batches.at(0);
    }

private slots:
    void conditions_data()
    {
        QTest::addColumn<KafkaRecord>("input");
        QTest::addColumn<FilterCondition>("condition");
        QTest::addColumn<bool>("holds");

        const KafkaRecord r = record("t", 42, "body", 2); // timestamp 1042, key k42
        const std::int64_t big = std::numeric_limits<std::int64_t>::max();
        QTest::newRow("records last never rejects") << r << numeric(Target::Records, Operator::Last, 0, 1, 0) << true;
        QTest::newRow("records with any operator") << r << numeric(Target::Records, Operator::EqualTo, 9, 9, 9) << true;
        for (int partition : { 0, 1, 2, 3 }) {
            QTest::addRow("partition %d lower than 2", partition)
                << record("t", 0, "v", partition) << numeric(Target::Partition, Operator::LowerThan, 0, 0, 2)
                << (partition <= 2);
        }
        QTest::newRow("partition equal") << r << numeric(Target::Partition, Operator::EqualTo, 2, 0, 0) << true;
        QTest::newRow("partition equal, other") << r << numeric(Target::Partition, Operator::EqualTo, 3, 2, 2) << false;
        QTest::newRow("offset greater, inclusive") << r << numeric(Target::Offset, Operator::GreaterThan, 0, 42, 0) << true;
        QTest::newRow("offset greater, above") << r << numeric(Target::Offset, Operator::GreaterThan, 0, 43, big) << false;
        QTest::newRow("offset between, at both ends") << r << numeric(Target::Offset, Operator::Between, 0, 42, 42) << true;
        QTest::newRow("offset between, below") << r << numeric(Target::Offset, Operator::Between, 0, 43, 50) << false;
        QTest::newRow("offset between, above") << r << numeric(Target::Offset, Operator::Between, 0, 0, 41) << false;
        QTest::newRow("timestamp lower, inclusive") << r << numeric(Target::Timestamp, Operator::LowerThan, 0, 0, 1042) << true;
        QTest::newRow("timestamp lower, above") << r << numeric(Target::Timestamp, Operator::LowerThan, 0, 0, 1041) << false;
        QTest::newRow("numeric first fails") << r << numeric(Target::Offset, Operator::First, 42, 0, big) << false;
        QTest::newRow("numeric containing fails") << r << numeric(Target::Offset, Operator::Containing, 42, 0, big) << false;

        QTest::newRow("key equal") << r << text(Target::Key, Operator::EqualTo, "k42") << true;
        QTest::newRow("key equal is case-sensitive") << r << text(Target::Key, Operator::EqualTo, "K42") << false;
        QTest::newRow("key equal, prefix only") << r << text(Target::Key, Operator::EqualTo, "k4") << false;
        QTest::newRow("key containing") << r << text(Target::Key, Operator::Containing, "42") << true;
        QTest::newRow("key containing is case-sensitive") << r << text(Target::Key, Operator::Containing, "K") << false;
        QTest::newRow("key matching anywhere") << r << text(Target::Key, Operator::Matching, "4[0-9]$") << true;
        QTest::newRow("key matching, no match") << r << text(Target::Key, Operator::Matching, "^4") << false;
        QTest::newRow("key greater than fails") << r << text(Target::Key, Operator::GreaterThan, "a") << false;
        KafkaRecord nullKey = r;
        nullKey.key = QByteArray();
        QTest::newRow("null key equals empty text") << nullKey << text(Target::Key, Operator::EqualTo, "") << true;
        KafkaRecord utf8Key = r;
        utf8Key.key = "\xC3\xA9t\xC3\xA9";
        QTest::newRow("key read as UTF-8") << utf8Key << text(Target::Key, Operator::EqualTo, QString::fromUtf8("été")) << true;

        const KafkaRecord traced = withHeaders({ { "trace-id", "abc" }, { "Trace-Id", "xyz" }, { "trace-id", "xyz" } });
        QTest::newRow("header equal") << traced << text(Target::Header, Operator::EqualTo, "abc", "trace-id") << true;
        QTest::newRow("header name is case-sensitive")
            << traced << text(Target::Header, Operator::EqualTo, "xyz", "Trace-Id") << true;
        QTest::newRow("only the first header of a name counts")
            << traced << text(Target::Header, Operator::Containing, "xyz", "trace-id") << false;
        QTest::newRow("missing header fails containing empty")
            << traced << text(Target::Header, Operator::Containing, "", "span") << false;
        QTest::newRow("missing header fails matching anything")
            << traced << text(Target::Header, Operator::Matching, ".*", "span") << false;
        const KafkaRecord emptyValue = withHeaders({ { "span", QByteArray("") } });
        QTest::newRow("empty header value holds containing empty")
            << emptyValue << text(Target::Header, Operator::Containing, "", "span") << true;
        QTest::newRow("empty header value equals empty")
            << emptyValue << text(Target::Header, Operator::EqualTo, "", "span") << true;
        QTest::newRow("empty header value matches ^$")
            << emptyValue << text(Target::Header, Operator::Matching, "^$", "span") << true;
        const KafkaRecord nullValue = withHeaders({ { "span", QByteArray() }, { "span", "" } });
        QTest::newRow("null header value fails")
            << nullValue << text(Target::Header, Operator::Containing, "", "span") << false;

        QTest::newRow("body without deserializer") << r << text(Target::Body, Operator::EqualTo, "body") << true;
        QTest::newRow("body between fails") << r << text(Target::Body, Operator::Between, "body") << false;
    }

    void conditions()
    {
        QFETCH(KafkaRecord, input);
        QFETCH(FilterCondition, condition);
        QFETCH(bool, holds);
        FilterEngine engine;
        QCOMPARE(engine.recordMatchesCondition(input, condition), holds);
        // A filter is its topic plus its conditions.
        QCOMPARE(engine.recordMatchesFilter(input, filter(0, "t", { condition })), holds);
        QVERIFY(!engine.recordMatchesFilter(input, filter(0, "T", { condition })));
    }

    void bodyText_data()
    {
        QTest::addColumn<int>("contentType");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QString>("tested");
        QTest::newRow("text") << int(Config::ContentType::Text) << false << "decoded";
        QTest::newRow("json") << int(Config::ContentType::Json) << false << "decoded";
        QTest::newRow("xml") << int(Config::ContentType::Xml) << false << "decoded";
        QTest::newRow("binary") << int(Config::ContentType::Binary) << false << "raw\xC3\xA9";
        QTest::newRow("protobuf") << int(Config::ContentType::Protobuf) << false << "raw\xC3\xA9";
        QTest::newRow("failure") << int(Config::ContentType::Text) << true << "raw\xC3\xA9";
    }

    void bodyText()
    {
        QFETCH(int, contentType);
        QFETCH(bool, fails);
        QFETCH(QString, tested);
        const FixedDeserializer deserializer(DeserializedRecord { Config::ContentType(contentType), "raw", "decoded" }, fails);
        FilterEngine engine;
        engine.deserializer = &deserializer;
        const KafkaRecord r = record("t", 0, "raw\xC3\xA9");
        QVERIFY(engine.recordMatchesCondition(r, text(Target::Body, Operator::EqualTo, tested)));
        QCOMPARE(deserializer.calls.load(), 1);
    }

    void bodyOfSniffedBinaryIsTheRawValue()
    {
        const CompositeDeserializer composite;
        FilterEngine engine;
        engine.deserializer = &composite;
        const KafkaRecord r = record("t", 0, QByteArray("id\0needle", 9));
        QVERIFY(engine.recordMatchesCondition(r, text(Target::Body, Operator::Containing, "needle")));
        QVERIFY(engine.recordMatchesCondition(r, text(Target::Body, Operator::Matching, "^id\\x{0}n")));
    }

    void conditionsStopAtTheFirstThatFails()
    {
        const FixedDeserializer deserializer(DeserializedRecord { Config::ContentType::Json, {}, "{}" });
        FilterEngine engine;
        engine.deserializer = &deserializer;
        const FilterCondition body = text(Target::Body, Operator::Containing, "{");
        const Filter cheapFirst = filter(0, "t", { text(Target::Key, Operator::EqualTo, "k1"), body, body });
        QVERIFY(!engine.recordMatchesFilter(record("t", 0), cheapFirst));
        QCOMPARE(deserializer.calls.load(), 0);
        // Each Body condition reached decodes the value again.
        QVERIFY(engine.recordMatchesFilter(record("t", 1), cheapFirst));
        QCOMPARE(deserializer.calls.load(), 2);
        QVERIFY(!engine.recordMatchesFilter(record("u", 1), cheapFirst));
        QCOMPARE(deserializer.calls.load(), 2);
    }

    void filterList()
    {
        FilterEngine engine;
        QCOMPARE(engine.nextFilterId, 0);
        engine.updateFilter(filter(0, "a"));
        engine.updateFilter(filter(1, "b"));
        engine.updateFilter(filter(-1, "c"));
        QCOMPARE(topics(engine.buildSubscriptionFilters()), QStringList({ "a", "b", "c" }));

        // Same id: replaced in place.
        engine.updateFilter(filter(0, "a2", { numeric(Target::Partition, Operator::EqualTo, 3, 0, 0) }));
        const QList<SubscriptionFilter> subscriptions = engine.buildSubscriptionFilters();
        QCOMPARE(topics(subscriptions), QStringList({ "a2", "b", "c" }));
        QCOMPARE(subscriptions.at(0).partitionMin, 3);

        QCOMPARE(engine.findFilterById(0)->topic, QString("a2"));
        QCOMPARE(engine.findFilterById(0)->conditions.size(), 1);
        QCOMPARE(engine.findFilterById(-1)->topic, QString("c"));
        QVERIFY(!engine.findFilterById(7).has_value());

        engine.removeFilterById(7);
        QCOMPARE(topics(engine.buildSubscriptionFilters()), QStringList({ "a2", "b", "c" }));
        engine.removeFilterById(1);
        QCOMPARE(topics(engine.buildSubscriptionFilters()), QStringList({ "a2", "c" }));
        QVERIFY(!engine.findFilterById(1).has_value());

        // Ids compare with the argument widened with its sign.
        engine.updateFilter(filter(0xFFFFFFFFLL, "wide"));
        engine.removeFilterById(-1);
        QCOMPARE(topics(engine.buildSubscriptionFilters()), QStringList({ "a2", "wide" }));
        QVERIFY(!engine.findFilterById(-1).has_value());
    }

    void batchesOnTheFilterThread()
    {
        FilterEngine engine;
        QCOMPARE(engine.thread()->objectName(), QString("FilterThread"));
        QVERIFY(engine.thread()->isRunning());
        QVERIFY(engine.thread() != QThread::currentThread());

        std::atomic<bool> emittedOnFilterThread = false;
        connect(&engine, &FilterEngine::recordsFiltered, &engine,
            [&] { emittedOnFilterThread = QThread::currentThread()->objectName() == "FilterThread"; },
            Qt::DirectConnection);

        // No filter: an empty answer, still emitted.
        QCOMPARE(offsets(filterOnThread(engine, { record("a", 0), record("b", 1) })), QList<std::int64_t>());
        QVERIFY(emittedOnFilterThread);
        QCOMPARE(offsets(filterOnThread(engine, {})), QList<std::int64_t>());

        // Two filters on one topic: a record accepted by both comes once, and
        // the input order is kept.
        engine.updateFilter(filter(0, "a", { numeric(Target::Offset, Operator::LowerThan, 0, 0, 3) }));
        engine.updateFilter(filter(1, "a", { numeric(Target::Offset, Operator::GreaterThan, 0, 2, 0) }));
        engine.updateFilter(filter(2, "b", { text(Target::Key, Operator::Matching, "[02468]$") }));
        const QList<KafkaRecord> batch = { record("a", 5), record("b", 4), record("a", 2), record("c", 6),
            record("a", 3), record("b", 1), record("a", 0) };
        const QList<KafkaRecord> passed = filterOnThread(engine, batch);
        QCOMPARE(offsets(passed), QList<std::int64_t>({ 5, 4, 2, 3, 0 }));
        QCOMPARE(passed.at(1).topic, QString("b"));
        QCOMPARE(passed.at(1).key, QByteArray("k4"));

        engine.removeFilterById(1);
        QCOMPARE(offsets(filterOnThread(engine, batch)), QList<std::int64_t>({ 4, 2, 3, 0 }));
    }

    void aFilterChangedDuringABatchAppliesFromTheNextBatch()
    {
        BlockingDeserializer deserializer;
        FilterEngine engine;
        engine.deserializer = &deserializer;
        engine.updateFilter(filter(0, "a", { text(Target::Body, Operator::EqualTo, "x") }));
        Answers answers(engine);
        const QList<KafkaRecord> batch = { record("a", 0, "x") };
        QMetaObject::invokeMethod(&engine, "filterRecords", Qt::QueuedConnection, Q_ARG(QList<KafkaRecord>, batch));
        QVERIFY(deserializer.entered.tryAcquire(1, 10000));

        // The filter thread is matching: the list is not locked meanwhile.
        engine.removeFilterById(0);
        QVERIFY(!engine.findFilterById(0).has_value());
        deserializer.proceed.release();
        QVERIFY(answers.waitFor(1));
        QCOMPARE(offsets(answers.batches.at(0)), QList<std::int64_t>({ 0 }));

        QMetaObject::invokeMethod(&engine, "filterRecords", Qt::QueuedConnection, Q_ARG(QList<KafkaRecord>, batch));
        QVERIFY(answers.waitFor(2));
        QCOMPARE(offsets(answers.batches.at(1)), QList<std::int64_t>());
    }
};

QTEST_GUILESS_MAIN(FilterEngineTest)

#include "FilterEngineTest.moc"
