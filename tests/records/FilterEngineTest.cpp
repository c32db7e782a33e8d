#include "CompositeDeserializer.h"
#include "FilterEngine.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <memory>

Q_DECLARE_METATYPE(FilterCondition)

namespace {

using Target = FilterCondition::Target;
using Operator = FilterCondition::Operator;

KafkaRecord record(const QString& topic, std::int64_t offset, QByteArray value = "v", QList<KafkaHeader> headers = {})
{
    return KafkaRecord {.timestamp = 1000 + offset, .topic = topic, .partition = 2, .offset = offset,
        .key = "k" + QByteArray::number(offset), .value = std::move(value), .headers = std::move(headers)};
}

FilterCondition numeric(Target target, Operator operation, std::int64_t value, std::int64_t min, std::int64_t max)
{
    return FilterCondition {target, operation, {}, {}, value, min, max, {}};
}

FilterCondition text(Target target, Operator operation, const QString& operand, const QString& headerName = {})
{
    return FilterCondition {target, operation, headerName, operand, 0, 0, 0, QRegularExpression(operand)};
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

// Latin-1 text on topic "latin", a failing rule on topic "fail", else sniffed.
CompositeDeserializer makeComposite()
{
    const Config::Deserializer latin {QRegularExpression("^latin$"), {}, {}, Config::ContentType::Text, "ISO-8859-1", {}, {}};
    const Config::Deserializer fail {QRegularExpression("^fail$"), {}, {}, Config::ContentType::Protobuf, {}, {}, {}};
    return CompositeDeserializer({ConfigurableDeserializer(latin, nullptr), ConfigurableDeserializer(fail, nullptr)});
}

// Posts the batch to the engine's thread as the records tab does and waits for the answer.
QList<KafkaRecord> filterOnThread(FilterEngine& engine, const QList<KafkaRecord>& batch)
{
    QList<QList<KafkaRecord>> answers;
    QObject receiver;
    QObject::connect(&engine, &FilterEngine::recordsFiltered, &receiver,
        [&](const QList<KafkaRecord>& records) { answers.append(records); });
    QMetaObject::invokeMethod(&engine, "filterRecords", Qt::QueuedConnection, Q_ARG(QList<KafkaRecord>, batch));
    return QTest::qWaitFor([&] { return !answers.isEmpty(); }, 10000) ? answers.at(0) : QList {record("none", -1)};
}

// What the engine does to a filter while batches are queued behind one under way.
enum class Change { Removed, Replaced, EngineDestroyed };

} // namespace

Q_DECLARE_METATYPE(Change)

class FilterEngineTest : public QObject {
    Q_OBJECT

private slots:
    void conditions_data()
    {
        QTest::addColumn<KafkaRecord>("input");
        QTest::addColumn<FilterCondition>("condition");
        QTest::addColumn<bool>("holds");
        const auto row = [](const char* name, const KafkaRecord& input, const FilterCondition& c, bool holds) {
            QTest::newRow(name) << input << c << holds;
        };
        const KafkaRecord r = record("t", 42, "body"); // partition 2, timestamp 1042, key k42
        row("records with any operator", r, numeric(Target::Records, Operator::EqualTo, 9, 9, 9), true);
        row("offset greater, inclusive", r, numeric(Target::Offset, Operator::GreaterThan, 0, 42, 0), true);
        row("offset greater, below", r, numeric(Target::Offset, Operator::GreaterThan, 0, 43, 0), false);
        row("offset between, at both ends", r, numeric(Target::Offset, Operator::Between, 0, 42, 42), true);
        row("offset between, above", r, numeric(Target::Offset, Operator::Between, 0, 0, 41), false);
        row("timestamp lower, inclusive", r, numeric(Target::Timestamp, Operator::LowerThan, 0, 0, 1042), true);
        row("numeric first fails", r, numeric(Target::Offset, Operator::First, 42, 0, 100), false);
        row("key equal is case-sensitive", r, text(Target::Key, Operator::EqualTo, "K42"), false);
        row("key containing", r, text(Target::Key, Operator::Containing, "42"), true);
        row("key matching anywhere", r, text(Target::Key, Operator::Matching, "4[0-9]$"), true);
        KafkaRecord otherKey = r;
        otherKey.key = QByteArray();
        row("null key equals empty text", otherKey, text(Target::Key, Operator::EqualTo, ""), true);
        otherKey.key = "\xC3\xA9t\xC3\xA9";
        row("key read as UTF-8", otherKey, text(Target::Key, Operator::EqualTo, QString::fromUtf8("été")), true);
        const KafkaRecord traced = record("t", 0, "v", {{"trace-id", "abc"}, {"Trace-Id", "xyz"}, {"trace-id", "xyz"}});
        row("header name is case-sensitive", traced, text(Target::Header, Operator::EqualTo, "xyz", "Trace-Id"), true);
        row("only the first header of a name counts", traced, text(Target::Header, Operator::Containing, "xyz", "trace-id"),
            false);
        row("missing header fails", traced, text(Target::Header, Operator::Matching, ".*", "span"), false);
        const KafkaRecord empty = record("t", 0, "v", {{"span", QByteArray("")}});
        row("empty header value contains empty", empty, text(Target::Header, Operator::Containing, "", "span"), true);
        row("empty header value equals empty", empty, text(Target::Header, Operator::EqualTo, "", "span"), true);
        row("empty header value matches ^$", empty, text(Target::Header, Operator::Matching, "^$", "span"), true);
        row("null header value fails", record("t", 0, "v", {{"span", QByteArray()}, {"span", ""}}),
            text(Target::Header, Operator::Containing, "", "span"), false);
        // Body: the decoded text, else (failure, Binary) the raw value read as UTF-8.
        row("body decoded", record("latin", 0, "caf\xE9"), text(Target::Body, Operator::EqualTo, "café"), true);
        row("body of XML in its declared encoding",
            record("t", 0, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xE9</a>"),
            text(Target::Body, Operator::Containing, "<a>café</a>"), true);
        row("body of a failing rule", record("fail", 0, "caf\xC3\xA9"), text(Target::Body, Operator::EqualTo, "café"), true);
        row("body of sniffed binary", record("t", 0, QByteArray("id\0needle", 9)),
            text(Target::Body, Operator::Matching, "^id\\x{0}needle$"), true);
        row("body between fails", r, text(Target::Body, Operator::Between, "body"), false);
    }

    void conditions()
    {
        QFETCH(KafkaRecord, input);
        QFETCH(FilterCondition, condition);
        QFETCH(bool, holds);
        const CompositeDeserializer composite = makeComposite();
        FilterEngine engine;
        engine.deserializer = &composite;
        QCOMPARE(engine.recordMatchesCondition(input, condition), holds);
        // A filter is its topic plus its conditions.
        QCOMPARE(engine.recordMatchesFilter(input, Filter {0, input.topic, {condition}}), holds);
        QVERIFY(!engine.recordMatchesFilter(input, Filter {0, input.topic.toUpper(), {condition}}));
    }

    // Values read from one batch share its bytes; the few a filter lets
    // through no longer hold the bytes of those it left out.
    void passedRecordsLetGoOfTheRest()
    {
        QByteArray batch(1 << 20, Qt::Uninitialized);
        for (qsizetype i = 0; i < batch.size(); ++i)
            batch[i] = char('a' + i % 26);
        QList<KafkaRecord> records;
        for (std::int64_t offset = 0; offset < 1000; ++offset)
            records.append(record("t", offset, KafkaBuffer::slice(batch, offset * 1000, 1000)));
        batch.clear();
        FilterEngine engine;
        engine.updateFilter(Filter {0, "t", {numeric(Target::Offset, Operator::Between, 0, 500, 501)}});
        QList<KafkaRecord> passed = filterOnThread(engine, records);
        records.clear();
        QCOMPARE(offsets(passed), QList<std::int64_t>({500, 501}));
        for (KafkaRecord& kept : passed) {
            QCOMPARE(kept.value.size(), 1000);
            QCOMPARE(kept.value.front(), char('a' + (kept.offset * 1000) % 26));
            QVERIFY2(kept.value.data_ptr().allocatedCapacity() < 2000,
                qPrintable(QString::number(kept.value.data_ptr().allocatedCapacity())));
        }
    }

    // Update replaces in place or appends, remove drops every filter of the id.
    void filterList()
    {
        FilterEngine engine;
        engine.updateFilter(Filter {0, "a", {}});
        engine.updateFilter(Filter {1, "b", {}});
        engine.updateFilter(Filter {-1, "c", {}});
        engine.updateFilter(Filter {0, "a2", {numeric(Target::Partition, Operator::EqualTo, 3, 0, 0)}});
        QCOMPARE(topics(engine.buildSubscriptionFilters()), QStringList({"a2", "b", "c"}));
        QCOMPARE(engine.buildSubscriptionFilters().at(0).partitionMin, 3);
        QCOMPARE(engine.findFilterById(0)->conditions.size(), 1);
        QCOMPARE(engine.findFilterById(-1)->topic, QString("c"));
        QVERIFY(!engine.findFilterById(7).has_value());
        engine.removeFilterById(1);
        QCOMPARE(topics(engine.buildSubscriptionFilters()), QStringList({"a2", "c"}));
        // Ids compare with the argument widened with its sign.
        engine.updateFilter(Filter {0xFFFFFFFFLL, "wide", {}});
        engine.removeFilterById(-1);
        QCOMPARE(topics(engine.buildSubscriptionFilters()), QStringList({"a2", "wide"}));
    }

    void batchesOnTheFilterThread()
    {
        FilterEngine engine;
        QCOMPARE(engine.thread()->objectName(), QString("FilterThread"));
        QVERIFY(engine.thread()->isRunning() && engine.thread() != QThread::currentThread());
        std::atomic<bool> emittedOnFilterThread = false;
        connect(&engine, &FilterEngine::recordsFiltered, &engine,
            [&] { emittedOnFilterThread = QThread::currentThread()->objectName() == "FilterThread"; },
            Qt::DirectConnection);

        // No filter or no records: an empty answer, still emitted.
        QCOMPARE(offsets(filterOnThread(engine, {record("a", 0), record("b", 1)})), QList<std::int64_t>());
        QVERIFY(emittedOnFilterThread);
        QCOMPARE(offsets(filterOnThread(engine, {})), QList<std::int64_t>());

        // Two filters on one topic: a record both accept comes once, in input order.
        engine.updateFilter(Filter {0, "a", {numeric(Target::Offset, Operator::LowerThan, 0, 0, 3)}});
        engine.updateFilter(Filter {1, "a", {numeric(Target::Offset, Operator::GreaterThan, 0, 2, 0)}});
        engine.updateFilter(Filter {2, "b", {text(Target::Key, Operator::Matching, "[02468]$")}});
        const QList<KafkaRecord> batch = {record("a", 5), record("b", 4), record("a", 2), record("c", 6),
            record("a", 3), record("b", 1), record("a", 0)};
        const QList<KafkaRecord> passed = filterOnThread(engine, batch);
        QCOMPARE(offsets(passed), QList<std::int64_t>({5, 4, 2, 3, 0}));
        QCOMPARE(passed.at(1).topic, QString("b"));
        engine.removeFilterById(1);
        QCOMPARE(offsets(filterOnThread(engine, batch)), QList<std::int64_t>({4, 2, 3, 0}));
    }

    // A Body expression that backtracks for many milliseconds on every
    // record of a topic, with a long queue of batches behind the one under
    // way: withdrawing its filter stops its work between two records, so a
    // new batch comes back at once and the records of the other filter are
    // all kept; destroying the engine does not wait for the batch either.
    void withdrawnFilterStopsItsWork_data()
    {
        QTest::addColumn<Change>("change");
        QTest::newRow("filter removed") << Change::Removed;
        QTest::newRow("filter replaced") << Change::Replaced;
        QTest::newRow("engine destroyed") << Change::EngineDestroyed;
    }

    void withdrawnFilterStopsItsWork()
    {
        QFETCH(Change, change);
        constexpr int Batches = 20;
        constexpr int PerBatch = 1000; // half slow, half fast
        QList<QList<KafkaRecord>> answers;
        QObject receiver; // outlives the engine: no answer reaches a later row
        auto engine = std::make_unique<FilterEngine>();
        engine->updateFilter(Filter {0, "slow", {text(Target::Body, Operator::Matching, "(a+)+$")}});
        engine->updateFilter(Filter {1, "fast", {}});
        connect(engine.get(), &FilterEngine::recordsFiltered, &receiver,
            [&](const QList<KafkaRecord>& passed) { answers.append(passed); });
        std::atomic<bool> underWay = false;
        const auto post = [&](QList<KafkaRecord> batch) {
            QMetaObject::invokeMethod(engine.get(), [&underWay, e = engine.get(), batch = std::move(batch)]() mutable {
                underWay = true;
                e->filterRecords(std::move(batch));
            }, Qt::QueuedConnection);
        };
        for (int b = 0; b < Batches; ++b) {
            QList<KafkaRecord> batch;
            for (int i = 0; i < PerBatch; ++i)
                batch.append(record(i % 2 ? "fast" : "slow", b * PerBatch + i, QByteArray(30, 'a') + 'b'));
            post(batch);
        }
        QTRY_VERIFY(underWay);
        QTest::qWait(50);
        QVERIFY(answers.isEmpty());

        if (change == Change::EngineDestroyed) {
            QElapsedTimer timer;
            timer.start();
            engine.reset();
            QVERIFY2(timer.elapsed() < 200, qPrintable(QString::number(timer.elapsed())));
            QCoreApplication::processEvents();
            QVERIFY(answers.isEmpty());
            return;
        }
        if (change == Change::Removed)
            engine->removeFilterById(0);
        else
            engine->updateFilter(Filter {0, "slow", {text(Target::Key, Operator::EqualTo, "none")}});
        post({record("fast", -1)});
        QVERIFY(QTest::qWaitFor([&] { return answers.size() == Batches + 1; }, 1000));
        QCOMPARE(offsets(answers.constLast()), QList<std::int64_t>({-1}));
        for (int b = 0; b < Batches; ++b) {
            const QList<KafkaRecord>& passed = answers.at(b);
            QVERIFY(std::all_of(passed.cbegin(), passed.cend(), [](const KafkaRecord& r) { return r.topic == "fast"; }));
            QCOMPARE(passed.size(), PerBatch / 2);
        }
    }

    // Filters change and the detail pane decodes while batches flow; then
    // engines are destroyed with batches queued. Clean under the sanitizers.
    void stress()
    {
        const CompositeDeserializer composite = makeComposite();
        const QStringList topicNames = {"json", "latin", "binary", "always"};
        const auto makeBatch = [&](int b) { // record i of batch b has offset b * 1000 + i
            QList<KafkaRecord> batch;
            for (int i = 0; i < 120; ++i) {
                const QByteArray n = QByteArray::number(i);
                const QByteArray values[] = {"{\"n\":" + n + "}", "caf\xE9 " + n, QByteArray("\0\1\2", 3) + n, "plain"};
                KafkaRecord r = record(topicNames.at(i % 4), b * 1000 + i, values[i % 4]);
                r.partition = i % 3;
                r.key = i % 5 == 0 ? QByteArray() : "key-" + n;
                if (i % 2 == 0)
                    r.headers = {{"trace", i % 4 == 0 ? QByteArray("") : n}};
                batch.append(r);
            }
            return batch;
        };
        const FilterCondition choices[] = {text(Target::Body, Operator::Matching, "[0-9]+"),
            text(Target::Body, Operator::Containing, QString::fromUtf8("é")), text(Target::Header, Operator::Containing, "", "trace"),
            text(Target::Key, Operator::Matching, "[13579]$"), numeric(Target::Partition, Operator::Between, 0, 0, 1)};
        QRandomGenerator random(20240611);
        int answers = 0;
        QString fault;
        {
            FilterEngine engine;
            engine.deserializer = &composite;
            engine.updateFilter(Filter {1000, "always", {}});
            connect(&engine, &FilterEngine::recordsFiltered, this, [&](const QList<KafkaRecord>& passed) {
                // In posting order, each a subsequence of its batch, every "always" record kept.
                const int b = answers++;
                std::int64_t previous = -1;
                for (const KafkaRecord& r : passed) {
                    if (r.offset <= previous || r.offset < b * 1000 || r.offset >= b * 1000 + 120)
                        fault = QString("batch %1: offset %2 out of place").arg(b).arg(r.offset);
                    previous = r.offset;
                }
                if (std::count_if(passed.begin(), passed.end(), [](const KafkaRecord& r) { return r.topic == "always"; }) != 30)
                    fault = QString("batch %1: records of the unchanged filter lost").arg(b);
            });
            for (int b = 0; b < 300; ++b) {
                QMetaObject::invokeMethod(&engine, "filterRecords", Qt::QueuedConnection, Q_ARG(QList<KafkaRecord>, makeBatch(b)));
                for (int change = 0; change < 3; ++change) {
                    const int id = random.bounded(6);
                    const int action = random.bounded(4);
                    if (action < 2) {
                        Filter filter {id, topicNames.at(random.bounded(3)), {}};
                        for (int n = random.bounded(4); n > 0; --n)
                            filter.conditions.append(choices[random.bounded(5)]);
                        engine.updateFilter(filter);
                    } else if (action == 2) {
                        engine.removeFilterById(id);
                    } else if (const std::optional<Filter> found = engine.findFilterById(id)) {
                        QCOMPARE(found->id, id);
                    }
                }
                QVERIFY(!engine.buildSubscriptionFilters().isEmpty());
                QVERIFY(composite.deserializeRecord(makeBatch(b).at(b % 120)).hasValue());
                if (b % 16 == 0)
                    QCoreApplication::processEvents();
            }
            QTRY_COMPARE_WITH_TIMEOUT(answers, 300, 60000);
        }
        QVERIFY2(fault.isEmpty(), qPrintable(fault));

        int emitted = 0; // answers already emitted still arrive after the engine is gone
        for (int round = 0; round < 20; ++round) {
            {
                FilterEngine engine;
                engine.deserializer = &composite;
                engine.updateFilter(Filter {0, "json", {choices[0]}});
                engine.updateFilter(Filter {1, "always", {}});
                connect(&engine, &FilterEngine::recordsFiltered, this, [&emitted] { ++emitted; });
                for (int b = 0; b < 40; ++b)
                    QMetaObject::invokeMethod(&engine, "filterRecords", Qt::QueuedConnection, Q_ARG(QList<KafkaRecord>, makeBatch(b)));
                if (round % 2)
                    QTest::qWait(1);
            }
            QCoreApplication::processEvents();
        }
        QVERIFY(emitted <= 20 * 40);
    }
};

QTEST_GUILESS_MAIN(FilterEngineTest)
#include "FilterEngineTest.moc"
