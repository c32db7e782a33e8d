// The record fetcher against a real broker, for every compression codec:
// offset ranges, time windows, following, oversized records, aborted
// transactions, pause, resume and cancel, progress, and a broker restart
// while following.
#include "KafkaClusterClient.h"
#include "KafkaFetcher.h"
#include "TestClusterSettings.h"
#include "TestProducer.h"
#include "TestTopicAdmin.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace {

constexpr int WaitMs = 20000;
using Kind = KafkaFetcher::OffsetsResult::EndOffsetKind;

// What a fetcher reported, collected on the test's thread.
class FetchRecorder : public QObject {
public:
    struct Progress {
        qint64 fetched = 0;
        qint64 total = 0;
        bool caughtUp = false;
        bool done = false;
    };

    explicit FetchRecorder(KafkaFetcher& fetcher)
    {
        connect(&fetcher, &KafkaFetcher::recordsFetched, this,
            [this](int32_t job, const QList<KafkaRecord>& fetched) { records[job].append(fetched); });
        connect(&fetcher, &KafkaFetcher::fetchJobFailed, this,
            [this](int32_t job, const KafkaError& error) { failures[job].append(error); });
        connect(&fetcher, &KafkaFetcher::recordsFetchProgress, this,
            [this](int64_t fetched, int64_t total, bool caughtUp, bool done) {
                progress.append({ fetched, total, caughtUp, done });
            });
    }

    bool done() const { return !progress.isEmpty() && progress.last().done; }
    bool caughtUp() const { return !progress.isEmpty() && progress.last().caughtUp; }
    QList<qint64> offsets(int job) const
    {
        QList<qint64> offsets;
        for (const KafkaRecord& record : records.value(job))
            offsets.append(record.offset);
        return offsets;
    }

    QHash<int, QList<KafkaRecord>> records;
    QHash<int, QList<KafkaError>> failures;
    QList<Progress> progress;
};

QList<qint64> offsetRange(qint64 first, qint64 last)
{
    QList<qint64> offsets;
    for (qint64 offset = first; offset <= last; ++offset)
        offsets.append(offset);
    return offsets;
}

// `count` records, made by `make` from their index.
QList<TestRecord> records(int count, const std::function<TestRecord(int)>& make)
{
    QList<TestRecord> made;
    for (int i = 0; i < count; ++i)
        made.append(make(i));
    return made;
}

} // namespace

class KafkaFetcherBrokerTest : public QObject {
    Q_OBJECT

    KafkaTestEnvironment environment = KafkaTestEnvironment::fromProcessEnvironment();
    std::unique_ptr<KafkaClusterClient> client;

    // A new topic; and a client bootstrapped against the broker's plaintext listener.
    QString newTopic(const QString& prefix, int partitions)
    {
        const QString topic = KafkaTestEnvironment::uniqueTopicName("fetcher-" + prefix);
        if (const QString error = TestTopicAdmin(environment.plaintext()).createTopic(topic, partitions); !error.isEmpty())
            qWarning("%s", qPrintable(error));
        Config::Cluster cluster;
        cluster.brokers = { Config::Broker::fromString(environment.plaintext()).value() };
        client = std::make_unique<KafkaClusterClient>(QStringLiteral("skelvane-fetcher-test"), cluster);
        QSignalSpy failed(client.get(), &KafkaClusterClient::bootstrapError);
        client->bootstrap();
        if (!QTest::qWaitFor([&] { return client->bootstrapState() == KafkaClusterClient::BootstrapState::Complete; }, WaitMs))
            qWarning("bootstrap failed: %s", failed.isEmpty() ? "no answer" : qPrintable(errorText(failed[0][0].value<KafkaError>())));
        return topic;
    }

    // Produces the records in slices that librdkafka's queue holds; the offsets they landed at.
    QList<qint64> produce(const QString& compression, const QList<TestRecord>& records)
    {
        TestProducer producer;
        TestProducer::Options options;
        options.bootstrap = environment.plaintext();
        options.compression = compression;
        QList<qint64> offsets;
        if (const QString error = producer.open(options); !error.isEmpty()) {
            qWarning("producer: %s", qPrintable(error));
            return offsets;
        }
        for (qsizetype from = 0; offsets.size() == from && from < records.size(); from += 50000) {
            for (const TestRecord& record : records.mid(from, 50000))
                producer.produce(record);
            for (const TestProducer::Delivery& delivery : producer.flush()) {
                if (delivery.error.isEmpty())
                    offsets.append(delivery.offset);
                else
                    qWarning("delivery: %s", qPrintable(delivery.error));
            }
        }
        return offsets;
    }

    KafkaResult<KafkaFetcher::OffsetsResult> resolve(
        KafkaFetcher& fetcher, const QString& topic, int partition, qint64 startTimestamp, qint64 endTimestamp)
    {
        std::optional<KafkaResult<KafkaFetcher::OffsetsResult>> result;
        fetcher.fetchOffsetsFromTimestamps(topic, partition, startTimestamp, endTimestamp, this,
            [&result](KafkaResult<KafkaFetcher::OffsetsResult> resolved) { result = std::move(resolved); });
        if (!QTest::qWaitFor([&] { return result.has_value(); }, WaitMs))
            return KafkaError(KafkaErrorCode::RequestTimedOut, QStringLiteral("no answer"));
        return std::move(*result);
    }

    void codecRows()
    {
        QTest::addColumn<QString>("compression");
        for (const char* codec : { "none", "gzip", "snappy", "lz4", "zstd" })
            QTest::newRow(codec) << QString::fromLatin1(codec);
    }

private slots:
    void initTestCase() { SKELVANE_REQUIRE_KAFKA_BROKER(environment); }
    void cleanup() { client.reset(); }

    void offsetRanges_data() { codecRows(); }
    void timeWindows_data() { codecRows(); }
    void followDeliversNewRecords_data() { codecRows(); }
    void recordLargerThanFetchLimits_data() { codecRows(); }
    void abortedTransactionsStayHidden_data() { codecRows(); }
    void pauseResumeAndCancel_data() { codecRows(); }

    // Ranges cut out of multi-record batches come out exactly ("last N", "first N");
    // several jobs on one partition run side by side; progress ends done with every offset read.
    void offsetRanges()
    {
        QFETCH(QString, compression);
        const QString topic = newTopic("ranges-" + compression, 1);
        QCOMPARE(produce(compression, records(60, [&](int i) {
            return TestRecord { topic, 0, "key-" + QByteArray::number(i), "value-" + QByteArray::number(i), {}, 0 };
        })), offsetRange(0, 59));
        KafkaFetcher fetcher(*client);
        FetchRecorder recorder(fetcher);
        auto bounds = resolve(fetcher, topic, 0, -2, -1); // what "last N" starts from
        QVERIFY2(bounds.hasValue(), qPrintable(errorText(bounds)));
        QCOMPARE(bounds.value().startOffset, 0);
        QCOMPARE(bounds.value().endOffset, 60);
        QCOMPARE(bounds.value().endOffsetKind, Kind::Latest);

        const QList<std::pair<qint64, qint64>> ranges { { 53, 59 }, { 0, 4 }, { 21, 38 }, { 17, 17 }, { 55, 1000 } };
        QList<int> jobs;
        for (const auto& [start, end] : ranges)
            jobs.append(fetcher.fetchRecords(topic, 0, start, end));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.done(), WaitMs);
        QVERIFY(recorder.failures.isEmpty());
        qint64 total = 0;
        for (int i = 0; i < ranges.size(); ++i) {
            QCOMPARE(recorder.offsets(jobs[i]), offsetRange(ranges[i].first, std::min<qint64>(ranges[i].second, 59)));
            for (const KafkaRecord& record : recorder.records.value(jobs[i])) {
                QCOMPARE(record.topic, topic);
                QCOMPARE(record.partition, 0);
                QCOMPARE(record.key, "key-" + QByteArray::number(record.offset));
                QCOMPARE(record.value, "value-" + QByteArray::number(record.offset));
            }
            total += recorder.records.value(jobs[i]).size();
        }
        QCOMPARE(recorder.progress.last().fetched, total);
        QCOMPARE(recorder.progress.last().total, total);
        QVERIFY(recorder.progress.last().caughtUp);
    }

    // Start and end timestamps resolve to the first offsets at or after them;
    // an end after the last record, or none, gives the latest offset.
    void timeWindows()
    {
        QFETCH(QString, compression);
        const QString topic = newTopic("times-" + compression, 1);
        const qint64 base = (QDateTime::currentMSecsSinceEpoch() - 3'600'000) / 1000 * 1000;
        QCOMPARE(produce(compression, records(30, [&](int i) {
            return TestRecord { topic, 0, std::nullopt, "t" + QByteArray::number(i), {}, base + i * 1000 };
        })).size(), 30);
        KafkaFetcher fetcher(*client);
        struct Window {
            const char* name;
            qint64 start, end, startOffset, endOffset;
            Kind kind;
        };
        const Window windows[] {
            { "on record timestamps", base + 5000, base + 10000, 5, 10, Kind::AtEndTimestamp },
            { "between record timestamps", base + 5500, base + 10500, 6, 11, Kind::AtEndTimestamp },
            { "end after the last record", base + 5000, base + 1'000'000, 5, 30, Kind::Latest },
            { "no end", base + 5000, -1, 5, 30, Kind::Latest },
            { "start after the last record", base + 1'000'000, -1, -1, 30, Kind::Latest },
            { "earliest to latest", -2, -1, 0, 30, Kind::Latest },
        };
        for (const Window& window : windows) {
            auto resolved = resolve(fetcher, topic, 0, window.start, window.end);
            QVERIFY2(resolved.hasValue(), qPrintable(QString("%1: %2").arg(window.name, errorText(resolved))));
            QVERIFY2(resolved.value().startOffset == window.startOffset, window.name);
            QVERIFY2(resolved.value().endOffset == window.endOffset, window.name);
            QVERIFY2(resolved.value().endOffsetKind == window.kind, window.name);
        }
        // A time window turned into a fetch range: records 5..9.
        FetchRecorder recorder(fetcher);
        const int job = fetcher.fetchRecords(topic, 0, 5, 9);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.done(), WaitMs);
        QCOMPARE(recorder.offsets(job), offsetRange(5, 9));
        for (const KafkaRecord& record : recorder.records.value(job))
            QCOMPARE(record.timestamp, base + record.offset * 1000);
        auto missing = resolve(fetcher, topic, 7, -2, -1);
        QVERIFY(missing.isError());
        QCOMPARE(missing.error().code, KafkaErrorCode::UnknownTopicOrPartition);
    }

    // A job without an end catches up, then delivers a record produced later.
    void followDeliversNewRecords()
    {
        QFETCH(QString, compression);
        const QString topic = newTopic("follow-" + compression, 2);
        QCOMPARE(produce(compression, records(20, [&](int i) {
            return TestRecord { topic, i % 2, std::nullopt, "old", {}, 0 };
        })).size(), 20);
        KafkaFetcher fetcher(*client);
        FetchRecorder recorder(fetcher);
        const int tail = fetcher.fetchRecords(topic, 0, 7, -1);
        const int other = fetcher.fetchRecords(topic, 1, 0, -1);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.caughtUp(), WaitMs);
        QCOMPARE(recorder.offsets(tail), offsetRange(7, 9));
        QCOMPARE(recorder.offsets(other), offsetRange(0, 9));
        QVERIFY(!recorder.done());

        QCOMPARE(produce(compression, { { topic, 0, std::nullopt, "new", {}, 0 } }), QList<qint64> { 10 });
        QTRY_COMPARE_WITH_TIMEOUT(recorder.offsets(tail), offsetRange(7, 10), WaitMs);
        QCOMPARE(recorder.records.value(tail).last().value, "new");
        QCOMPARE(recorder.records.value(other).size(), 10);
        QVERIFY(recorder.failures.isEmpty());
    }

    // A batch larger than the request's byte limits still arrives, also while
    // another partition of the same broker has plenty to return.
    void recordLargerThanFetchLimits()
    {
        QFETCH(QString, compression);
        const QString topic = newTopic("large-" + compression, 2);
        QByteArray large(KafkaFetcher::PartitionMaxBytes + 200000, Qt::Uninitialized);
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(large.data()), large.size() / 4);
        QList<TestRecord> produced = records(600, [&](int i) {
            return TestRecord { topic, 0, std::nullopt, large.mid(i * 2000, 2000), {}, 0 };
        });
        produced += { { topic, 1, std::nullopt, "before", {}, 0 }, { topic, 1, std::nullopt, large, {}, 0 },
            { topic, 1, std::nullopt, "after", {}, 0 } };
        QCOMPARE(produce(compression, produced).size(), 603);
        KafkaFetcher fetcher(*client);
        FetchRecorder recorder(fetcher);
        const int small = fetcher.fetchRecords(topic, 0, 0, 599);
        const int big = fetcher.fetchRecords(topic, 1, 0, 2);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.done(), WaitMs);
        QVERIFY(recorder.failures.isEmpty());
        QCOMPARE(recorder.offsets(small), offsetRange(0, 599));
        QCOMPARE(recorder.offsets(big), offsetRange(0, 2));
        QCOMPARE(recorder.records.value(big)[0].value, "before");
        QVERIFY(recorder.records.value(big)[1].value == large);
        QCOMPARE(recorder.records.value(big)[2].value, "after");
    }

    // Records of aborted transactions never arrive, records of committed ones
    // and of non-transactional producers do, in offset order.
    void abortedTransactionsStayHidden()
    {
        QFETCH(QString, compression);
        const QString topic = newTopic("txn-" + compression, 1);
        TestProducer transactional;
        TestProducer::Options options;
        options.bootstrap = environment.plaintext();
        options.compression = compression;
        options.transactionalId = topic + "-id";
        QCOMPARE(transactional.open(options), QString());
        QCOMPARE(transactional.initTransactions(), QString());
        const auto open = [&](const QByteArray& prefix, int count) {
            QCOMPARE(transactional.beginTransaction(), QString());
            for (int i = 0; i < count; ++i)
                QCOMPARE(transactional.produce({ topic, 0, std::nullopt, prefix + QByteArray::number(i), {}, 0 }), QString());
            QCOMPARE(transactional.flush().size(), count);
        };
        open("aborted-a", 5);
        QCOMPARE(transactional.abortTransaction(), QString());
        open("committed-a", 4);
        QCOMPARE(transactional.commitTransaction(), QString());
        open("aborted-b", 3);
        // A plain producer writes between the records of an open transaction.
        QCOMPARE(produce(compression, { { topic, 0, std::nullopt, "plain-0", {}, 0 }, { topic, 0, std::nullopt, "plain-1", {}, 0 } }).size(), 2);
        QCOMPARE(transactional.abortTransaction(), QString());
        open("committed-b", 2);
        QCOMPARE(transactional.commitTransaction(), QString());

        KafkaFetcher fetcher(*client);
        // A commit returns before the coordinator's markers are in the
        // partition: the last stable offset reaches the end (16 records and 4
        // markers) only once they are.
        constexpr qint64 End = 20;
        KafkaResult<KafkaFetcher::OffsetsResult> bounds;
        QTRY_VERIFY_WITH_TIMEOUT(
            (bounds = resolve(fetcher, topic, 0, -2, -1)).hasValue() && bounds.value().endOffset == End, WaitMs);
        FetchRecorder recorder(fetcher);
        const int job = fetcher.fetchRecords(topic, 0, 0, End - 1);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.done(), WaitMs);
        QVERIFY(recorder.failures.isEmpty());
        QList<QByteArray> values;
        for (const KafkaRecord& record : recorder.records.value(job))
            values.append(record.value);
        QCOMPARE(values, (QList<QByteArray> { "committed-a0", "committed-a1", "committed-a2", "committed-a3", "plain-0",
                             "plain-1", "committed-b0", "committed-b1" }));
        const QList<qint64> offsets = recorder.offsets(job);
        QVERIFY(std::is_sorted(offsets.begin(), offsets.end()));
    }

    // Pausing drops what is under way and delivers nothing more; resuming goes on
    // without loss or duplicates; a cancelled job hears nothing more.
    void pauseResumeAndCancel()
    {
        QFETCH(QString, compression);
        const QString topic = newTopic("pause-" + compression, 2);
        constexpr int Count = 40000;
        QCOMPARE(produce(compression, records(Count, [&](int i) {
            return TestRecord { topic, 0, std::nullopt, "record-" + QByteArray::number(i).rightJustified(90, '.'), {}, 0 };
        })).size(), Count);
        KafkaFetcher fetcher(*client);
        FetchRecorder recorder(fetcher);
        // Paused before the first answer: nothing arrives.
        const int job = fetcher.fetchRecords(topic, 0, 0, Count - 1);
        fetcher.pauseAllFetchJobs();
        QTest::qWait(1000);
        QCOMPARE(recorder.records.value(job).size(), 0);
        // Paused again once records flow: the count stands still.
        fetcher.resumeAllFetchJobs();
        QTRY_VERIFY_WITH_TIMEOUT(!recorder.records.value(job).isEmpty(), WaitMs);
        fetcher.pauseAllFetchJobs();
        QTest::qWait(700);
        const qsizetype paused = recorder.records.value(job).size();
        QTest::qWait(700);
        QCOMPARE(recorder.records.value(job).size(), paused);
        fetcher.resumeAllFetchJobs();
        QTRY_VERIFY_WITH_TIMEOUT(recorder.done(), WaitMs);
        QVERIFY(recorder.failures.isEmpty());
        QCOMPARE(recorder.offsets(job), offsetRange(0, Count - 1));
        QCOMPARE(recorder.progress.last().fetched, Count);
        QCOMPARE(recorder.progress.last().total, Count);

        // Two followers of the empty partition; one is cancelled.
        const int cancelled = fetcher.fetchRecords(topic, 1, 0, -1);
        const int kept = fetcher.fetchRecords(topic, 1, 0, -1);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.caughtUp() && !recorder.done(), WaitMs);
        fetcher.cancelFetchJob(cancelled);
        QCOMPARE(produce(compression, { { topic, 1, std::nullopt, "late", {}, 0 } }).size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(recorder.records.value(kept).size(), 1, WaitMs);
        QTest::qWait(1000);
        QCOMPARE(recorder.records.value(cancelled).size(), 0);
    }

    // Fetchers following an idle partition keep long polls waiting at the
    // broker; an offset lookup and a metadata read meanwhile are answered long
    // before those waits end.
    void longPollsHoldUpNoOtherRequest()
    {
        constexpr int LongPollMs = 8000;
        constexpr int Followers = 4;
        const QString topic = newTopic("long-polls", 1);
        QCOMPARE(produce("none", records(3, [&](int) { return TestRecord { topic, 0, std::nullopt, "v", {}, 0 }; })).size(), 3);
        std::vector<std::unique_ptr<KafkaFetcher>> followers;
        std::vector<std::unique_ptr<FetchRecorder>> recorders;
        for (int i = 0; i < Followers; ++i) {
            followers.push_back(std::make_unique<KafkaFetcher>(*client, LongPollMs));
            recorders.push_back(std::make_unique<FetchRecorder>(*followers.back()));
            followers.back()->fetchRecords(topic, 0, 0, -1);
        }
        for (const auto& recorder : recorders)
            QTRY_VERIFY_WITH_TIMEOUT(recorder->caughtUp(), WaitMs);
        QTest::qWait(500); // every follower's next long poll has reached the broker

        KafkaFetcher asking(*client);
        QElapsedTimer timer;
        timer.start();
        qint64 lookupMs = -1;
        qint64 metadataMs = -1;
        std::optional<KafkaResult<KafkaFetcher::OffsetsResult>> offsets;
        asking.fetchOffsetsFromTimestamps(topic, 0, 0, -1, this, [&](KafkaResult<KafkaFetcher::OffsetsResult> resolved) {
            offsets = std::move(resolved);
            lookupMs = timer.elapsed();
        });
        std::optional<std::optional<KafkaError>> refreshed;
        client->refreshMetadata(this, [&](std::optional<KafkaError> error) {
            refreshed = std::move(error);
            metadataMs = timer.elapsed();
        });
        // Behind the long polls each answer would wait for several of them.
        // The check below says which answer is missing.
        (void)QTest::qWaitFor([&] { return offsets.has_value() && refreshed.has_value(); }, (Followers + 1) * LongPollMs);
        QVERIFY2(lookupMs >= 0 && lookupMs < LongPollMs / 4 && metadataMs >= 0 && metadataMs < LongPollMs / 4,
            qPrintable(QStringLiteral("offsets after %1 ms, metadata after %2 ms (-1: none yet)").arg(lookupMs).arg(metadataMs)));
        QVERIFY2(!offsets->isError(), qPrintable(errorText(*offsets)));
        QCOMPARE(offsets->value().endOffset, 3);
        QVERIFY2(!refreshed->has_value(), qPrintable(refreshed->has_value() ? errorText(**refreshed) : QString()));
        for (const auto& recorder : recorders)
            QVERIFY(recorder->failures.isEmpty());
    }

    // Across a broker restart the following job waits for the broker and
    // goes on where it stood, by itself or, when the restart outlasts the
    // retries, on resume; without loss or duplicates.
    void brokerRestartWhileFollowing()
    {
        SKELVANE_REQUIRE_KAFKA_RESTART(environment);
        const QString topic = newTopic("restart", 1);
        const auto values = [&](const QByteArray& prefix) {
            return records(prefix == "before-" ? 10 : 5, [&](int i) {
                return TestRecord { topic, 0, std::nullopt, prefix + QByteArray::number(i), {}, 0 };
            });
        };
        QCOMPARE(produce("lz4", values("before-")).size(), 10);
        KafkaFetcher fetcher(*client);
        FetchRecorder recorder(fetcher);
        const int job = fetcher.fetchRecords(topic, 0, 0, -1);
        QTRY_VERIFY_WITH_TIMEOUT(recorder.caughtUp(), WaitMs);
        QCOMPARE(recorder.records.value(job).size(), 10);

        QCOMPARE(environment.restartBroker(), QString());
        QCOMPARE(recorder.records.value(job).size(), 10);
        QCOMPARE(produce("lz4", values("after-")), offsetRange(10, 14));
        QElapsedTimer timer;
        timer.start();
        while (recorder.records.value(job).size() < 15 && timer.elapsed() < 60000) {
            const qsizetype failures = recorder.failures.value(job).size();
            if (QTest::qWaitFor([&] { return recorder.failures.value(job).size() > failures; }, 1000))
                fetcher.resumeAllFetchJobs();
        }
        QCOMPARE(recorder.offsets(job), offsetRange(0, 14));
        QCOMPARE(recorder.records.value(job)[9].value, "before-9");
        QCOMPARE(recorder.records.value(job)[10].value, "after-0");
        QCOMPARE(recorder.records.value(job)[14].value, "after-4");
    }
};

QTEST_GUILESS_MAIN(KafkaFetcherBrokerTest)
#include "KafkaFetcherBrokerTest.moc"
