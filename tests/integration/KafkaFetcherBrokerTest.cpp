// The record fetcher against a real broker, for every compression codec:
// offset ranges cut out of multi-record batches, time windows resolved to
// offsets, following a partition, records larger than the fetch limits,
// aborted transactions, pause, resume and cancel, progress, destruction while
// fetching and a broker restart while following.
#include "Config.h"
#include "KafkaClusterClient.h"
#include "KafkaFetcher.h"
#include "KafkaTestEnvironment.h"
#include "TestProducer.h"
#include "TestTopicAdmin.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <optional>

#include <unistd.h>

namespace {

constexpr int WaitMs = 20000;

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
            [this](int32_t jobId, const QList<KafkaRecord>& fetched) { records[jobId].append(fetched); });
        connect(&fetcher, &KafkaFetcher::fetchJobFailed, this,
            [this](int32_t jobId, const KafkaError& error) { failures[jobId].append(error); });
        connect(&fetcher, &KafkaFetcher::recordsFetchProgress, this,
            [this](int64_t fetched, int64_t total, bool caughtUp, bool done) {
                progress.append({ fetched, total, caughtUp, done });
            });
    }

    bool done() const { return !progress.isEmpty() && progress.last().done; }
    bool caughtUp() const { return !progress.isEmpty() && progress.last().caughtUp; }
    qsizetype failureCount() const
    {
        qsizetype count = 0;
        for (const auto& list : failures)
            count += list.size();
        return count;
    }

    QHash<int, QList<KafkaRecord>> records;
    QHash<int, QList<KafkaError>> failures;
    QList<Progress> progress;
};

QList<qint64> offsetsOf(const QList<KafkaRecord>& records)
{
    QList<qint64> offsets;
    for (const KafkaRecord& record : records)
        offsets.append(record.offset);
    return offsets;
}

QList<qint64> offsetRange(qint64 first, qint64 last)
{
    QList<qint64> offsets;
    for (qint64 offset = first; offset <= last; ++offset)
        offsets.append(offset);
    return offsets;
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

QString errorText(const KafkaError& error)
{
    if (error.message.isEmpty() && error.causes.isEmpty())
        return QString();
    QStringList parts { error.message };
    for (const KafkaError& cause : error.causes)
        parts.append(cause.message);
    return parts.join(QStringLiteral(" / "));
}

// The error of a result, or nothing: failure messages are built eagerly.
template <typename T>
QString errorText(const KafkaResult<T>& result)
{
    return result.isError() ? errorText(result.error()) : QString();
}

} // namespace

class KafkaFetcherBrokerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();

    void offsetRanges_data() { codecRows(); }
    void offsetRanges();
    void timeWindows_data() { codecRows(); }
    void timeWindows();
    void followDeliversNewRecords_data() { codecRows(); }
    void followDeliversNewRecords();
    void recordLargerThanFetchLimits_data() { codecRows(); }
    void recordLargerThanFetchLimits();
    void abortedTransactionsStayHidden_data() { codecRows(); }
    void abortedTransactionsStayHidden();
    void pauseResumeAndCancel_data() { codecRows(); }
    void pauseResumeAndCancel();
    void destroyWhileFetching();
    void brokerRestartWhileFollowing();

private:
    void codecRows();
    // A client bootstrapped against `address` (the broker's plaintext
    // listener unless given); null after a failure already reported.
    std::unique_ptr<KafkaClusterClient> connectedClient(const QString& address = QString());
    void createTopic(const QString& topic, int partitions, const QString& bootstrap = QString());
    // Produces the records and flushes; the offsets they landed at.
    QList<qint64> produce(const QString& compression, const QList<TestRecord>& records,
        const QString& bootstrap = QString());
    KafkaResult<KafkaFetcher::OffsetsResult> resolve(
        KafkaFetcher& fetcher, const QString& topic, int partition, qint64 startTimestamp, qint64 endTimestamp);

    KafkaTestEnvironment environment;
};

void KafkaFetcherBrokerTest::initTestCase()
{
    environment = KafkaTestEnvironment::fromProcessEnvironment();
    SKELVANE_REQUIRE_KAFKA_BROKER(environment);
}

void KafkaFetcherBrokerTest::codecRows()
{
    QTest::addColumn<QString>("compression");
    for (const char* codec : { "none", "gzip", "snappy", "lz4", "zstd" })
        QTest::newRow(codec) << QString::fromLatin1(codec);
}

std::unique_ptr<KafkaClusterClient> KafkaFetcherBrokerTest::connectedClient(const QString& address)
{
    Config::Cluster cluster;
    auto broker = Config::Broker::fromString(address.isEmpty() ? environment.plaintext() : address);
    if (broker.isError()) {
        qWarning("bad broker address: %s", qPrintable(broker.error().message));
        return nullptr;
    }
    cluster.brokers = { broker.value() };
    auto client = std::make_unique<KafkaClusterClient>(QStringLiteral("skelvane-fetcher-test"), cluster);
    QSignalSpy failed(client.get(), &KafkaClusterClient::bootstrapError);
    client->bootstrap();
    const bool finished = QTest::qWaitFor(
        [&] { return client->bootstrapState() == KafkaClusterClient::BootstrapState::Complete || failed.count() > 0; },
        WaitMs);
    if (!finished || failed.count() > 0) {
        qWarning("bootstrap failed: %s",
            failed.isEmpty() ? "no answer" : qPrintable(errorText(failed.first().first().value<KafkaError>())));
        return nullptr;
    }
    return client;
}

void KafkaFetcherBrokerTest::createTopic(const QString& topic, int partitions, const QString& bootstrap)
{
    TestTopicAdmin admin(bootstrap.isEmpty() ? environment.plaintext() : bootstrap);
    const QString error = admin.createTopic(topic, partitions);
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

QList<qint64> KafkaFetcherBrokerTest::produce(
    const QString& compression, const QList<TestRecord>& records, const QString& bootstrap)
{
    TestProducer producer;
    TestProducer::Options options;
    options.bootstrap = bootstrap.isEmpty() ? environment.plaintext() : bootstrap;
    options.compression = compression;
    QList<qint64> offsets;
    if (const QString error = producer.open(options); !error.isEmpty()) {
        qWarning("producer: %s", qPrintable(error));
        return offsets;
    }
    // In slices, so that librdkafka's queue never fills up.
    constexpr qsizetype Slice = 50000;
    for (qsizetype from = 0; from < records.size(); from += Slice) {
        for (qsizetype i = from; i < std::min(records.size(), from + Slice); ++i)
            producer.produce(records[i]);
        for (const TestProducer::Delivery& delivery : producer.flush()) {
            if (!delivery.error.isEmpty())
                qWarning("delivery: %s", qPrintable(delivery.error));
            offsets.append(delivery.offset);
        }
    }
    return offsets;
}

KafkaResult<KafkaFetcher::OffsetsResult> KafkaFetcherBrokerTest::resolve(
    KafkaFetcher& fetcher, const QString& topic, int partition, qint64 startTimestamp, qint64 endTimestamp)
{
    std::optional<KafkaResult<KafkaFetcher::OffsetsResult>> result;
    fetcher.fetchOffsetsFromTimestamps(topic, partition, startTimestamp, endTimestamp, this,
        [&result](KafkaResult<KafkaFetcher::OffsetsResult> resolved) { result = std::move(resolved); });
    if (!QTest::qWaitFor([&] { return result.has_value(); }, WaitMs))
        return KafkaError(KafkaErrorCode::RequestTimedOut, QStringLiteral("no answer"));
    return std::move(*result);
}

// Ranges cut out of multi-record batches come out exactly; several jobs on
// one partition run side by side; progress ends done with every offset read.
void KafkaFetcherBrokerTest::offsetRanges()
{
    QFETCH(QString, compression);
    const QString topic = KafkaTestEnvironment::uniqueTopicName("fetcher-ranges-" + compression);
    createTopic(topic, 1);
    QList<TestRecord> produced;
    for (int i = 0; i < 60; ++i)
        produced.append({ topic, 0, "key-" + QByteArray::number(i), "value-" + QByteArray::number(i), {}, 0 });
    QCOMPARE(produce(compression, produced), offsetRange(0, 59));

    auto client = connectedClient();
    QVERIFY(client);
    auto fetcher = std::make_unique<KafkaFetcher>(*client);
    FetchRecorder recorder(*fetcher);

    // The whole partition: what "last N" starts from.
    auto bounds = resolve(*fetcher, topic, 0, -2, -1);
    QVERIFY2(bounds.hasValue(), qPrintable(errorText(bounds)));
    QCOMPARE(bounds.value().startOffset, 0);
    QCOMPARE(bounds.value().endOffset, 60);
    QCOMPARE(bounds.value().endOffsetKind, KafkaFetcher::OffsetsResult::EndOffsetKind::Latest);

    struct Range {
        qint64 start;
        qint64 end;
        QList<qint64> expected;
    };
    const QList<Range> ranges {
        { 53, 59, offsetRange(53, 59) }, // last 7
        { 0, 4, offsetRange(0, 4) }, // first 5
        { 21, 38, offsetRange(21, 38) },
        { 17, 17, { 17 } },
        { 55, 1000, offsetRange(55, 59) }, // ends at the partition's end
    };
    QList<int> jobs;
    for (const Range& range : ranges)
        jobs.append(fetcher->fetchRecords(topic, 0, range.start, range.end));
    QTRY_VERIFY_WITH_TIMEOUT(recorder.done(), WaitMs);
    QCOMPARE(recorder.failureCount(), 0);

    qint64 expectedTotal = 0;
    for (int i = 0; i < ranges.size(); ++i) {
        const QList<KafkaRecord>& records = recorder.records.value(jobs[i]);
        QCOMPARE(offsetsOf(records), ranges[i].expected);
        for (const KafkaRecord& record : records) {
            QCOMPARE(record.topic, topic);
            QCOMPARE(record.partition, 0);
            QCOMPARE(record.key, "key-" + QByteArray::number(record.offset));
            QCOMPARE(record.value, "value-" + QByteArray::number(record.offset));
        }
        expectedTotal += ranges[i].expected.size();
    }
    QCOMPARE(recorder.progress.last().fetched, expectedTotal);
    QCOMPARE(recorder.progress.last().total, expectedTotal);
    QVERIFY(recorder.progress.last().caughtUp);
}

// Start and end timestamps resolve to the first offsets at or after them;
// an end after the last record, or none, gives the latest offset.
void KafkaFetcherBrokerTest::timeWindows()
{
    QFETCH(QString, compression);
    const QString topic = KafkaTestEnvironment::uniqueTopicName("fetcher-times-" + compression);
    createTopic(topic, 1);
    const qint64 base = (QDateTime::currentMSecsSinceEpoch() - 3'600'000) / 1000 * 1000;
    QList<TestRecord> produced;
    for (int i = 0; i < 30; ++i)
        produced.append({ topic, 0, std::nullopt, "t" + QByteArray::number(i), {}, base + i * 1000 });
    QCOMPARE(produce(compression, produced).size(), 30);

    auto client = connectedClient();
    QVERIFY(client);
    KafkaFetcher fetcher(*client);

    using Kind = KafkaFetcher::OffsetsResult::EndOffsetKind;
    struct Window {
        const char* name;
        qint64 start;
        qint64 end;
        qint64 startOffset;
        qint64 endOffset;
        Kind kind;
    };
    const QList<Window> windows {
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
    const QList<KafkaRecord> records = recorder.records.value(job);
    QCOMPARE(offsetsOf(records), offsetRange(5, 9));
    for (const KafkaRecord& record : records)
        QCOMPARE(record.timestamp, base + record.offset * 1000);

    // Unknown partitions fail the resolution.
    auto missing = resolve(fetcher, topic, 7, -2, -1);
    QVERIFY(missing.isError());
    QCOMPARE(missing.error().code, KafkaErrorCode::UnknownTopicOrPartition);
}

// A job without an end catches up, then delivers a record produced later.
void KafkaFetcherBrokerTest::followDeliversNewRecords()
{
    QFETCH(QString, compression);
    const QString topic = KafkaTestEnvironment::uniqueTopicName("fetcher-follow-" + compression);
    createTopic(topic, 2);
    QList<TestRecord> produced;
    for (int i = 0; i < 20; ++i)
        produced.append({ topic, i % 2, std::nullopt, "old-" + QByteArray::number(i), {}, 0 });
    QCOMPARE(produce(compression, produced).size(), 20);

    auto client = connectedClient();
    QVERIFY(client);
    KafkaFetcher fetcher(*client);
    FetchRecorder recorder(fetcher);
    const int tail = fetcher.fetchRecords(topic, 0, 7, -1);
    const int other = fetcher.fetchRecords(topic, 1, 0, -1);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.caughtUp(), WaitMs);
    QCOMPARE(offsetsOf(recorder.records.value(tail)), offsetRange(7, 9));
    QCOMPARE(offsetsOf(recorder.records.value(other)), offsetRange(0, 9));
    QVERIFY(!recorder.done());

    QCOMPARE(produce(compression, { { topic, 0, std::nullopt, "new", {}, 0 } }), QList<qint64> { 10 });
    QTRY_COMPARE_WITH_TIMEOUT(recorder.records.value(tail).size(), 4, WaitMs);
    QCOMPARE(recorder.records.value(tail).last().value, "new");
    QCOMPARE(recorder.records.value(tail).last().offset, 10);
    QCOMPARE(recorder.records.value(other).size(), 10);
    QCOMPARE(recorder.failureCount(), 0);
}

// A batch larger than the request's byte limits still arrives, also while
// another partition of the same broker has plenty to return.
void KafkaFetcherBrokerTest::recordLargerThanFetchLimits()
{
    QFETCH(QString, compression);
    const QString topic = KafkaTestEnvironment::uniqueTopicName("fetcher-large-" + compression);
    createTopic(topic, 2);
    QList<TestRecord> produced;
    for (int i = 0; i < 600; ++i)
        produced.append({ topic, 0, std::nullopt, randomBytes(2000), {}, 0 });
    const QByteArray large = randomBytes(KafkaFetcher::PartitionMaxBytes + 200000);
    produced.append({ topic, 1, std::nullopt, "before", {}, 0 });
    produced.append({ topic, 1, std::nullopt, large, {}, 0 });
    produced.append({ topic, 1, std::nullopt, "after", {}, 0 });
    QCOMPARE(produce(compression, produced).size(), 603);

    auto client = connectedClient();
    QVERIFY(client);
    KafkaFetcher fetcher(*client);
    FetchRecorder recorder(fetcher);
    const int small = fetcher.fetchRecords(topic, 0, 0, 599);
    const int big = fetcher.fetchRecords(topic, 1, 0, 2);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.done(), WaitMs);
    QCOMPARE(recorder.failureCount(), 0);
    QCOMPARE(offsetsOf(recorder.records.value(small)), offsetRange(0, 599));
    const QList<KafkaRecord> records = recorder.records.value(big);
    QCOMPARE(offsetsOf(records), offsetRange(0, 2));
    QCOMPARE(records[0].value, "before");
    QVERIFY(records[1].value == large);
    QCOMPARE(records[2].value, "after");
}

// Records of aborted transactions never arrive, records of committed ones
// and of non-transactional producers do, in offset order.
void KafkaFetcherBrokerTest::abortedTransactionsStayHidden()
{
    QFETCH(QString, compression);
    const QString topic = KafkaTestEnvironment::uniqueTopicName("fetcher-txn-" + compression);
    createTopic(topic, 1);

    TestProducer transactional;
    TestProducer::Options options;
    options.bootstrap = environment.plaintext();
    options.compression = compression;
    options.transactionalId = KafkaTestEnvironment::uniqueTopicName("fetcher-txn-id");
    QCOMPARE(transactional.open(options), QString());
    QCOMPARE(transactional.initTransactions(), QString());
    const auto transaction = [&](const QByteArray& prefix, int count, bool commit) {
        QCOMPARE(transactional.beginTransaction(), QString());
        for (int i = 0; i < count; ++i)
            QCOMPARE(transactional.produce({ topic, 0, std::nullopt, prefix + QByteArray::number(i), {}, 0 }), QString());
        QCOMPARE(transactional.flush().size(), count);
        if (commit)
            QCOMPARE(transactional.commitTransaction(), QString());
        else
            QCOMPARE(transactional.abortTransaction(), QString());
    };
    transaction("aborted-a", 5, false);
    transaction("committed-a", 4, true);
    QCOMPARE(transactional.beginTransaction(), QString());
    for (int i = 0; i < 3; ++i)
        QCOMPARE(transactional.produce({ topic, 0, std::nullopt, "aborted-b" + QByteArray::number(i), {}, 0 }), QString());
    QCOMPARE(transactional.flush().size(), 3);
    // A plain producer writes between the records of an open transaction.
    QCOMPARE(produce(compression, { { topic, 0, std::nullopt, "plain-0", {}, 0 }, { topic, 0, std::nullopt, "plain-1", {}, 0 } })
                 .size(),
        2);
    QCOMPARE(transactional.abortTransaction(), QString());
    transaction("committed-b", 2, true);

    auto client = connectedClient();
    QVERIFY(client);
    KafkaFetcher fetcher(*client);
    auto bounds = resolve(fetcher, topic, 0, -2, -1);
    QVERIFY2(bounds.hasValue(), qPrintable(errorText(bounds)));
    FetchRecorder recorder(fetcher);
    const int job = fetcher.fetchRecords(topic, 0, 0, bounds.value().endOffset - 1);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.done(), WaitMs);
    QCOMPARE(recorder.failureCount(), 0);

    QList<QByteArray> values;
    qint64 previous = -1;
    for (const KafkaRecord& record : recorder.records.value(job)) {
        QVERIFY(record.offset > previous);
        previous = record.offset;
        values.append(record.value);
    }
    const QList<QByteArray> expected { "committed-a0", "committed-a1", "committed-a2", "committed-a3", "plain-0",
        "plain-1", "committed-b0", "committed-b1" };
    QCOMPARE(values, expected);
}

// Pausing drops what is under way and delivers nothing more; resuming goes on
// without loss or duplicates; a cancelled job hears nothing more.
void KafkaFetcherBrokerTest::pauseResumeAndCancel()
{
    QFETCH(QString, compression);
    const QString topic = KafkaTestEnvironment::uniqueTopicName("fetcher-pause-" + compression);
    createTopic(topic, 2);
    constexpr int Count = 40000;
    QList<TestRecord> produced;
    for (int i = 0; i < Count; ++i)
        produced.append({ topic, 0, std::nullopt, "record-" + QByteArray::number(i).rightJustified(90, '.'), {}, 0 });
    QCOMPARE(produce(compression, produced).size(), Count);

    auto client = connectedClient();
    QVERIFY(client);
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
    QCOMPARE(recorder.failureCount(), 0);
    QCOMPARE(offsetsOf(recorder.records.value(job)), offsetRange(0, Count - 1));
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

// Destroying the fetcher while answers are under way returns at once.
void KafkaFetcherBrokerTest::destroyWhileFetching()
{
    const QString topic = KafkaTestEnvironment::uniqueTopicName("fetcher-destroy");
    createTopic(topic, 3);
    QList<TestRecord> produced;
    for (int i = 0; i < 60000; ++i)
        produced.append({ topic, i % 2, std::nullopt, QByteArray(100, char('a' + i % 26)), {}, 0 });
    QCOMPARE(produce(QStringLiteral("lz4"), produced).size(), 60000);

    auto client = connectedClient();
    QVERIFY(client);
    for (int round = 0; round < 3; ++round) {
        auto fetcher = std::make_unique<KafkaFetcher>(*client);
        FetchRecorder recorder(*fetcher);
        fetcher->fetchRecords(topic, 0, 0, -1);
        fetcher->fetchRecords(topic, 1, 0, 29999);
        fetcher->fetchRecords(topic, 2, 0, -1);
        fetcher->fetchOffsetsFromTimestamps(topic, 0, -2, -1, this, [](auto) {});
        if (round > 0)
            QTRY_VERIFY_WITH_TIMEOUT(!recorder.records.isEmpty(), WaitMs);
        QElapsedTimer timer;
        timer.start();
        fetcher.reset();
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
    }
    // The client still serves a new fetcher.
    KafkaFetcher fetcher(*client);
    FetchRecorder recorder(fetcher);
    const int job = fetcher.fetchRecords(topic, 1, 29990, 29999);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.done(), WaitMs);
    QCOMPARE(offsetsOf(recorder.records.value(job)), offsetRange(29990, 29999));
}

// A broker restart fails the following job; resuming continues where it
// stood, without loss or duplicates. Restarts only a broker of its own (one
// started with its own SKELVANE_KAFKA_STATE), never the shared default one.
void KafkaFetcherBrokerTest::brokerRestartWhileFollowing()
{
    SKELVANE_REQUIRE_KAFKA(environment, KafkaTestEnvironment::Feature::Restart);
    const QString state = QDir::cleanPath(qEnvironmentVariable("SKELVANE_KAFKA_STATE"));
    const QString tmp = qEnvironmentVariable("TMPDIR", QStringLiteral("/tmp"));
    const QString shared = QDir::cleanPath(QStringLiteral("%1/skelvane-kafka-%2").arg(tmp, QString::number(getuid())));
    if (state.isEmpty() || state == shared)
        QSKIP("The broker restart test runs only against a broker with a state directory of its own");

    const QString topic = KafkaTestEnvironment::uniqueTopicName("fetcher-restart");
    createTopic(topic, 1);
    QList<TestRecord> produced;
    for (int i = 0; i < 10; ++i)
        produced.append({ topic, 0, std::nullopt, "before-" + QByteArray::number(i), {}, 0 });
    QCOMPARE(produce(QStringLiteral("lz4"), produced).size(), 10);

    auto client = connectedClient();
    QVERIFY(client);
    KafkaFetcher fetcher(*client);
    FetchRecorder recorder(fetcher);
    const int job = fetcher.fetchRecords(topic, 0, 0, -1);
    QTRY_VERIFY_WITH_TIMEOUT(recorder.caughtUp(), WaitMs);
    QCOMPARE(recorder.records.value(job).size(), 10);

    const QString restarted = environment.restartBroker();
    QVERIFY2(restarted.isEmpty(), qPrintable(restarted));
    QTRY_VERIFY_WITH_TIMEOUT(!recorder.failures.value(job).isEmpty(), WaitMs);
    QCOMPARE(recorder.records.value(job).size(), 10);

    QList<TestRecord> later;
    for (int i = 0; i < 5; ++i)
        later.append({ topic, 0, std::nullopt, "after-" + QByteArray::number(i), {}, 0 });
    QCOMPARE(produce(QStringLiteral("lz4"), later), offsetRange(10, 14));

    // The partition may need a moment after the restart: resume until the
    // job reads again.
    QElapsedTimer timer;
    timer.start();
    while (recorder.records.value(job).size() < 15 && timer.elapsed() < 60000) {
        const qsizetype failures = recorder.failures.value(job).size();
        fetcher.resumeAllFetchJobs();
        (void)QTest::qWaitFor(
            [&] { return recorder.records.value(job).size() >= 15 || recorder.failures.value(job).size() > failures; },
            5000);
    }
    for (const KafkaError& failure : recorder.failures.value(job))
        qInfo("failure %d: %s", int(failure.code), qPrintable(errorText(failure)));
    QCOMPARE(offsetsOf(recorder.records.value(job)), offsetRange(0, 14));
    const QList<KafkaRecord> records = recorder.records.value(job);
    QCOMPARE(records[9].value, "before-9");
    QCOMPARE(records[10].value, "after-0");
    QCOMPARE(records[14].value, "after-4");
}

QTEST_GUILESS_MAIN(KafkaFetcherBrokerTest)
#include "KafkaFetcherBrokerTest.moc"
