#include "CompositeDeserializer.h"
#include "FilterEngine.h"

#include <QRandomGenerator>
#include <QTest>

#include <memory>

namespace {

using Target = FilterCondition::Target;
using Operator = FilterCondition::Operator;

constexpr int RecordsPerBatch = 120;
const QStringList Topics = { "json", "latin", "binary", "always" };

// Record i of batch b has offset b * 1000 + i, so an answer can be checked
// against the batch it came from.
QList<KafkaRecord> makeBatch(int b)
{
    QList<KafkaRecord> batch;
    for (int i = 0; i < RecordsPerBatch; ++i) {
        KafkaRecord r;
        r.topic = Topics.at(i % Topics.size());
        r.partition = i % 3;
        r.offset = std::int64_t(b) * 1000 + i;
        r.timestamp = r.offset;
        r.key = i % 5 == 0 ? QByteArray() : "key-" + QByteArray::number(i);
        if (r.topic == "json")
            r.value = "{\"n\":" + QByteArray::number(i) + "}";
        else if (r.topic == "latin")
            r.value = "caf\xE9 " + QByteArray::number(i);
        else if (r.topic == "binary")
            r.value = QByteArray("\0\1\2", 3) + QByteArray::number(i);
        else
            r.value = "plain";
        if (i % 2 == 0)
            r.headers = { { "trace", i % 4 == 0 ? QByteArray("") : QByteArray::number(i) } };
        batch.append(r);
    }
    return batch;
}

FilterCondition condition(Target target, Operator operation, const QString& text, std::int64_t min, std::int64_t max)
{
    FilterCondition c;
    c.target = target;
    c.operation = operation;
    c.headerName = "trace";
    c.expectedString = text;
    c.regex = QRegularExpression(text);
    c.min = min;
    c.max = max;
    return c;
}

// A filter for one of the changing topics with a random mix of conditions.
Filter randomFilter(QRandomGenerator& random, std::int64_t id)
{
    Filter filter;
    filter.id = id;
    filter.topic = Topics.at(random.bounded(3));
    const int count = random.bounded(4);
    for (int n = 0; n < count; ++n) {
        switch (random.bounded(5)) {
        case 0:
            filter.conditions.append(condition(Target::Body, Operator::Matching, "[0-9]+", 0, 0));
            break;
        case 1:
            filter.conditions.append(condition(Target::Body, Operator::Containing, QString::fromUtf8("é"), 0, 0));
            break;
        case 2:
            filter.conditions.append(condition(Target::Header, Operator::Containing, "", 0, 0));
            break;
        case 3:
            filter.conditions.append(condition(Target::Key, Operator::Matching, "[13579]$", 0, 0));
            break;
        default:
            filter.conditions.append(condition(Target::Partition, Operator::Between, {}, 0, random.bounded(3)));
            break;
        }
    }
    return filter;
}

CompositeDeserializer makeComposite()
{
    Config::Deserializer latin;
    latin.topicPattern = QRegularExpression("^latin$");
    latin.textEncoding = "ISO-8859-1";
    return CompositeDeserializer({ ConfigurableDeserializer(latin, nullptr) });
}

} // namespace

class FilterEngineStressTest : public QObject {
    Q_OBJECT

private slots:
    void filtersChangeWhileBatchesFlow()
    {
        const CompositeDeserializer composite = makeComposite();
        QRandomGenerator random(20240611);
        int answers = 0;
        QString fault;
        {
            FilterEngine engine;
            engine.deserializer = &composite;
            engine.updateFilter(Filter { 1000, "always", {} });
            connect(&engine, &FilterEngine::recordsFiltered, this, [&](const QList<KafkaRecord>& passed) {
                // Batches come back in the order they were posted, each a
                // subsequence of its input, and every "always" record passes.
                const int b = answers++;
                int always = 0;
                std::int64_t previous = -1;
                for (const KafkaRecord& r : passed) {
                    if (r.offset <= previous || r.offset < b * 1000 || r.offset >= b * 1000 + RecordsPerBatch)
                        fault = QString("batch %1: offset %2 out of place").arg(b).arg(r.offset);
                    previous = r.offset;
                    always += r.topic == "always";
                }
                if (always != RecordsPerBatch / Topics.size())
                    fault = QString("batch %1: %2 records of the unchanged filter").arg(b).arg(always);
            });

            const int batches = 300;
            for (int b = 0; b < batches; ++b) {
                QMetaObject::invokeMethod(
                    &engine, [&engine, batch = makeBatch(b)]() mutable { engine.filterRecords(std::move(batch)); },
                    Qt::QueuedConnection);
                for (int change = 0; change < 3; ++change) {
                    const int id = random.bounded(6);
                    switch (random.bounded(4)) {
                    case 0:
                    case 1:
                        engine.updateFilter(randomFilter(random, id));
                        break;
                    case 2:
                        engine.removeFilterById(id);
                        break;
                    default:
                        if (const std::optional<Filter> found = engine.findFilterById(id))
                            QCOMPARE(found->id, id);
                        break;
                    }
                }
                QVERIFY(!engine.buildSubscriptionFilters().isEmpty());
                // The detail pane decodes with the same deserializer meanwhile.
                const KafkaRecord shown = makeBatch(b).at(b % RecordsPerBatch);
                QVERIFY(composite.deserializeRecord(shown).hasValue());
                if (b % 16 == 0)
                    QCoreApplication::processEvents();
            }
            QTRY_COMPARE_WITH_TIMEOUT(answers, batches, 60000);
        }
        QVERIFY2(fault.isEmpty(), qPrintable(fault));
    }

    void destroyedWithBatchesQueued()
    {
        const CompositeDeserializer composite = makeComposite();
        for (int round = 0; round < 20; ++round) {
            int answers = 0;
            {
                FilterEngine engine;
                engine.deserializer = &composite;
                engine.updateFilter(Filter { 0, "json", { condition(Target::Body, Operator::Matching, "n", 0, 0) } });
                engine.updateFilter(Filter { 1, "always", {} });
                connect(&engine, &FilterEngine::recordsFiltered, this, [&answers] { ++answers; });
                for (int b = 0; b < 40; ++b) {
                    QMetaObject::invokeMethod(&engine, "filterRecords", Qt::QueuedConnection,
                        Q_ARG(QList<KafkaRecord>, makeBatch(b)));
                }
                if (round % 2)
                    QTest::qWait(1);
            }
            // Answers already emitted still arrive; the rest were dropped.
            QCoreApplication::processEvents();
            QVERIFY(answers <= 40);
        }
    }
};

QTEST_GUILESS_MAIN(FilterEngineStressTest)

#include "FilterEngineStressTest.moc"
