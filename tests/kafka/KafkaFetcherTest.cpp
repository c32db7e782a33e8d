// The fetcher against a stand-in broker that the test answers by hand: how
// jobs of one broker share one long-polling Fetch request, which answers
// count, how broken or incomplete answers fail a job, and what pause, resume
// and a lost connection do to requests under way.
#include "FakeBroker.h"
#include "KafkaClusterClient.h"
#include "KafkaFetcher.h"
#include "MessageImages.h"
#include "TestRecordBatchBuilder.h"
#include "TestRecordOffsets.h"

#include <QSignalSpy>
#include <QTest>

#include <functional>
#include <list>
#include <memory>
#include <optional>

using namespace TestBatches;

namespace {

constexpr int WaitMs = 5000;

struct FetchPartition {
    QString topic;
    std::int32_t partition = 0;
    std::int64_t offset = 0;
};

// A Fetch or ListOffsets request the broker kept for the test to answer.
struct Request {
    FakeBroker::Frame frame;
    std::int32_t maxWaitMs = 0;
    std::int32_t minBytes = 0;
    std::int8_t isolationLevel = 0;
    QList<FetchPartition> partitions; // ListOffsets: offset holds the timestamp
    bool answered = false;
};

// The partition of a Fetch answer.
struct FetchAnswer {
    QString topic;
    std::int32_t partition = 0;
    std::int16_t errorCode = 0;
    std::int64_t highWatermark = 0;
    QByteArray records;
};

// A Fetch body of versions 4 to 7.
void readFetch(KafkaBuffer& body, Request& request)
{
    body.readS32(); // replica id
    request.maxWaitMs = body.readS32();
    request.minBytes = body.readS32();
    body.readS32(); // max bytes
    request.isolationLevel = body.readS8();
    body.readS32(); // session id
    body.readS32(); // session epoch
    const std::int32_t topicCount = body.readS32();
    for (std::int32_t t = 0; t < topicCount; ++t) {
        const QString topic = body.readString();
        const std::int32_t partitionCount = body.readS32();
        for (std::int32_t p = 0; p < partitionCount; ++p) {
            FetchPartition partition { topic, body.readS32(), body.readS64() };
            body.readS64(); // log start offset
            body.readS32(); // partition max bytes
            request.partitions.append(partition);
        }
    }
}

// A ListOffsets v1 body.
void readListOffsets(KafkaBuffer& body, Request& request)
{
    body.readS32(); // replica id
    const std::int32_t topicCount = body.readS32();
    for (std::int32_t t = 0; t < topicCount; ++t) {
        const QString topic = body.readString();
        const std::int32_t partitionCount = body.readS32();
        for (std::int32_t p = 0; p < partitionCount; ++p)
            request.partitions.append({ topic, body.readS32(), body.readS64() });
    }
}

Request readRequest(const FakeBroker::Frame& frame)
{
    Request request;
    request.frame = frame;
    KafkaBuffer body(frame.body);
    if (frame.apiKey == std::int16_t(KafkaApiKey::Fetch))
        readFetch(body, request);
    else if (frame.apiKey == std::int16_t(KafkaApiKey::ListOffsets))
        readListOffsets(body, request);
    return request;
}

struct Progress {
    qint64 fetched = 0;
    qint64 total = 0;
    bool caughtUp = false;
    bool done = false;
};

} // namespace

class KafkaFetcherTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void jobsOfOneBrokerShareOneLongPoll();
    void recordsOutsideTheRangeAreNotDelivered_data();
    void recordsOutsideTheRangeAreNotDelivered();
    void brokenAnswersFailTheirJobs_data();
    void brokenAnswersFailTheirJobs();
    void stalledPartitionIsAskedFirst();
    void pauseDropsAnswersAndResumeAsksAgain();
    void lostConnectionFailsJobAwaitingFirstAnswer();
    void offsetAnswerWithoutThePartitionFails();

private:
    // Starts the fetcher over a bootstrapped client of a fake broker that
    // announces ApiVersions 0-1, Metadata 1, Fetch 4-7 and ListOffsets 1,
    // describes itself as node 1 leading every partition of `topics`, and
    // keeps every other request for the test to answer.
    void startFetcher(const QMap<QString, int>& topics);
    QList<Request*> pending(KafkaApiKey apiKey);
    void reply(Request* request, const QByteArray& payload);
    void answerFetch(Request* request, const QList<FetchAnswer>& partitions, std::int16_t errorCode = 0);
    // Answers every partition of the request with no records; a negative
    // high watermark stands for each partition's fetch offset (caught up).
    void answerFetchEmpty(Request* request, std::int64_t highWatermark = -1);
    // Answers with the given offset for the asked partition, or leaves it out.
    void answerListOffsets(Request* request, std::optional<std::int64_t> offset);
    Request* nextFetch();
    // Answers Fetch requests with nothing new until one is `wanted`.
    Request* answerEmptyUntil(const std::function<bool(const Request&)>& wanted);
    Request* fetchNaming(int partitions);

    std::unique_ptr<FakeBroker> broker;
    std::list<Request> requests;
    std::unique_ptr<KafkaClusterClient> client;
    std::unique_ptr<KafkaFetcher> fetcher;
    QHash<int, QList<KafkaRecord>> records;
    QHash<int, QList<KafkaError>> failures;
    QList<Progress> progress;
};

void KafkaFetcherTest::init()
{
    requests.clear();
    records.clear();
    failures.clear();
    progress.clear();
}

void KafkaFetcherTest::cleanup()
{
    fetcher.reset();
    client.reset();
    broker.reset();
    requests.clear();
}

void KafkaFetcherTest::startFetcher(const QMap<QString, int>& topics)
{
    broker = std::make_unique<FakeBroker>(FakeBroker::Mode::Cluster);
    broker->apiVersions = { { std::int16_t(KafkaApiKey::ApiVersions), 0, 1 },
        { std::int16_t(KafkaApiKey::Metadata), 1, 1 }, { std::int16_t(KafkaApiKey::Fetch), 4, 7 },
        { std::int16_t(KafkaApiKey::ListOffsets), 1, 1 } };
    for (auto topic = topics.cbegin(); topic != topics.cend(); ++topic)
        broker->topics.append({ topic.key(), QList<std::int32_t>(topic.value(), 1) });
    broker->onFrame = [this](const FakeBroker::Frame& frame) { requests.push_back(readRequest(frame)); };
    Config::Cluster cluster;
    cluster.brokers = { Config::Broker { QStringLiteral("127.0.0.1"), broker->port() } };
    client = std::make_unique<KafkaClusterClient>(QStringLiteral("fetcher-test"), cluster);
    client->bootstrap();
    QTRY_COMPARE_WITH_TIMEOUT(client->bootstrapState(), KafkaClusterClient::BootstrapState::Complete, WaitMs);
    fetcher = std::make_unique<KafkaFetcher>(*client);
    connect(fetcher.get(), &KafkaFetcher::recordsFetched, this,
        [this](int32_t job, const QList<KafkaRecord>& fetched) { records[job].append(fetched); });
    connect(fetcher.get(), &KafkaFetcher::fetchJobFailed, this,
        [this](int32_t job, const KafkaError& error) { failures[job].append(error); });
    connect(fetcher.get(), &KafkaFetcher::recordsFetchProgress, this,
        [this](int64_t fetched, int64_t total, bool caughtUp, bool done) {
            progress.append({ fetched, total, caughtUp, done });
        });
}

QList<Request*> KafkaFetcherTest::pending(KafkaApiKey apiKey)
{
    QList<Request*> list;
    for (Request& request : requests) {
        if (request.frame.apiKey == std::int16_t(apiKey) && !request.answered)
            list.append(&request);
    }
    return list;
}

void KafkaFetcherTest::reply(Request* request, const QByteArray& payload)
{
    request->answered = true;
    broker->reply(request->frame, payload);
}

void KafkaFetcherTest::answerFetch(Request* request, const QList<FetchAnswer>& partitions, std::int16_t errorCode)
{
    ResponseImage image;
    image.s32(0).s16(errorCode).s32(0);
    QMap<QString, QList<FetchAnswer>> byTopic;
    for (const FetchAnswer& answer : partitions)
        byTopic[answer.topic].append(answer);
    image.s32(std::int32_t(byTopic.size()));
    for (auto topic = byTopic.cbegin(); topic != byTopic.cend(); ++topic) {
        image.string(topic.key()).s32(std::int32_t(topic->size()));
        for (const FetchAnswer& answer : *topic) {
            image.s32(answer.partition).s16(answer.errorCode).s64(answer.highWatermark).s64(answer.highWatermark);
            image.s64(0).s32(-1).bytes(answer.records);
        }
    }
    reply(request, image.data());
}

void KafkaFetcherTest::answerFetchEmpty(Request* request, std::int64_t highWatermark)
{
    QList<FetchAnswer> answers;
    for (const FetchPartition& partition : request->partitions)
        answers.append({ partition.topic, partition.partition, 0, highWatermark < 0 ? partition.offset : highWatermark,
            QByteArray() });
    answerFetch(request, answers);
}

void KafkaFetcherTest::answerListOffsets(Request* request, std::optional<std::int64_t> offset)
{
    ResponseImage image;
    if (!offset) {
        image.s32(0);
    } else {
        image.s32(1).string(request->partitions[0].topic).s32(1);
        image.s32(request->partitions[0].partition).s16(0).s64(-1).s64(*offset);
    }
    reply(request, image.data());
}

Request* KafkaFetcherTest::nextFetch()
{
    if (!QTest::qWaitFor([this] { return !pending(KafkaApiKey::Fetch).isEmpty(); }, WaitMs))
        return nullptr;
    return pending(KafkaApiKey::Fetch).first();
}

Request* KafkaFetcherTest::answerEmptyUntil(
    const std::function<bool(const Request&)>& wanted)
{
    for (int round = 0; round < 20; ++round) {
        Request* request = nextFetch();
        if (!request || wanted(*request))
            return request;
        answerFetchEmpty(request);
    }
    return nullptr;
}

Request* KafkaFetcherTest::fetchNaming(int partitions)
{
    return answerEmptyUntil(
        [partitions](const Request& request) { return request.partitions.size() == partitions; });
}

// One request at a time goes to the broker, naming every due partition once,
// with the read-committed isolation and a wait the broker may use up; an
// answer with records for one partition delivers them to that job only.
void KafkaFetcherTest::jobsOfOneBrokerShareOneLongPoll()
{
    startFetcher({ { "t", 3 } });
    const int first = fetcher->fetchRecords("t", 0, 10, -1);
    const int second = fetcher->fetchRecords("t", 1, 20, -1);
    const int third = fetcher->fetchRecords("t", 2, 30, -1);
    // Two jobs on one partition: asked one after the other.
    const int twin = fetcher->fetchRecords("t", 2, 0, -1);

    Request* request = nextFetch();
    QVERIFY(request);
    QCOMPARE(request->maxWaitMs, KafkaFetcher::MaxWaitMs);
    QCOMPARE(request->minBytes, 1);
    QCOMPARE(request->isolationLevel, 1);
    QTest::qWait(100);
    QCOMPARE(pending(KafkaApiKey::Fetch).size(), 1);

    request = fetchNaming(3);
    QVERIFY(request);
    QHash<std::int32_t, std::int64_t> offsets;
    for (const auto& partition : request->partitions)
        offsets.insert(partition.partition, partition.offset);
    QCOMPARE(offsets.value(0), 10);
    QCOMPARE(offsets.value(1), 20);
    QVERIFY(offsets.value(2) == 30 || offsets.value(2) == 0);
    answerFetch(request,
        { { "t", 0, 0, 10, {} }, { "t", 1, 0, 22, plainBatch(20, 2).bytes() }, { "t", 2, 0, 40, {} } });
    QTRY_COMPARE_WITH_TIMEOUT(records.value(second).size(), 2, WaitMs);
    QCOMPARE(offsetsOf(records.value(second)), offsetRange(20, 21));
    QVERIFY(records.value(first).isEmpty());
    QVERIFY(records.value(third).isEmpty());
    QVERIFY(records.value(twin).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(pending(KafkaApiKey::Fetch).size(), 1, WaitMs);
    QVERIFY(failures.isEmpty());
}

void KafkaFetcherTest::recordsOutsideTheRangeAreNotDelivered_data()
{
    QTest::addColumn<std::int64_t>("start");
    QTest::addColumn<std::int64_t>("end");
    QTest::addColumn<std::int64_t>("highWatermark");
    QTest::addColumn<QList<std::int64_t>>("expected");
    QTest::addColumn<qint64>("total");

    QTest::newRow("inside one batch") << std::int64_t(5) << std::int64_t(14) << std::int64_t(20) << offsetRange(5, 14) << qint64(10);
    QTest::newRow("single offset") << std::int64_t(19) << std::int64_t(19) << std::int64_t(20) << offsetRange(19, 19) << qint64(1);
    QTest::newRow("end beyond the high watermark")
        << std::int64_t(5) << std::int64_t(100) << std::int64_t(20) << offsetRange(5, 19) << qint64(15);
}

// A bounded job finishes in one answer that returns a whole batch around its
// range; progress counts the range only.
void KafkaFetcherTest::recordsOutsideTheRangeAreNotDelivered()
{
    QFETCH(std::int64_t, start);
    QFETCH(std::int64_t, end);
    QFETCH(std::int64_t, highWatermark);
    QFETCH(QList<std::int64_t>, expected);
    QFETCH(qint64, total);

    startFetcher({ { "t", 1 } });
    const int job = fetcher->fetchRecords("t", 0, start, end);
    Request* request = nextFetch();
    QVERIFY(request);
    TestBatch batch = plainBatch(0, 20);
    batch.codec = Codec::Lz4;
    answerFetch(request, { { "t", 0, 0, highWatermark, batch.bytes() } });
    QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().done, WaitMs);
    QCOMPARE(offsetsOf(records.value(job)), expected);
    QCOMPARE(progress.last().fetched, total);
    QCOMPARE(progress.last().total, total);
    QTest::qWait(50);
    QCOMPARE(broker->requestCount(KafkaApiKey::Fetch), 1);
}

void KafkaFetcherTest::brokenAnswersFailTheirJobs_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("bothFail");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    QTest::newRow("partition left out") << "missing" << false << int(KafkaErrorCode::FetchError)
                                        << "The record fetch response for t-0 at offset 5 does not hold the partition";
    QTest::newRow("partition error") << "partition error" << false << int(KafkaErrorCode::OffsetOutOfRange)
                                     << "The server returned an error while fetching records for t-0 at offset 5";
    QTest::newRow("request error") << "top-level error" << true << int(KafkaErrorCode::InvalidFetchSessionEpoch)
                                   << "The server returned an error while fetching records for t-0 at offset 5";
    QTest::newRow("corrupt batch") << "corrupt" << false << int(KafkaErrorCode::FetchError)
                                   << "An error occurred while parsing the record batch for t-0 at offset 5";
}

// A broken answer fails the jobs it concerns; the others go on.
void KafkaFetcherTest::brokenAnswersFailTheirJobs()
{
    QFETCH(QString, answer);
    QFETCH(bool, bothFail);
    QFETCH(int, code);
    QFETCH(QString, message);

    startFetcher({ { "t", 2 } });
    const int broken = fetcher->fetchRecords("t", 0, 5, -1);
    const int healthy = fetcher->fetchRecords("t", 1, 0, -1);
    Request* request = fetchNaming(2);
    QVERIFY(request);

    const QByteArray good = plainBatch(0, 3).bytes();
    TestBatch corrupt = plainBatch(5, 2);
    corrupt.codec = Codec::Zstd;
    corrupt.section = QByteArray("not zstd");
    if (answer == "missing")
        answerFetch(request, { { "t", 1, 0, 3, good } });
    else if (answer == "partition error")
        answerFetch(request, { { "t", 0, 1, 5, {} }, { "t", 1, 0, 3, good } });
    else if (answer == "top-level error")
        answerFetch(request, {}, 71);
    else
        answerFetch(request, { { "t", 0, 0, 7, corrupt.bytes() }, { "t", 1, 0, 3, good } });

    QTRY_COMPARE_WITH_TIMEOUT(failures.value(broken).size(), 1, WaitMs);
    QCOMPARE(int(failures.value(broken).first().code), code);
    QCOMPARE(failures.value(broken).first().message, message);
    if (bothFail) {
        QTRY_COMPARE_WITH_TIMEOUT(failures.value(healthy).size(), 1, WaitMs);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(records.value(healthy).size(), 3, WaitMs);
    QVERIFY(records.value(broken).isEmpty());
    if (answer != "corrupt") {
        // The failed job is no longer asked for; the healthy one is. (A
        // corrupt batch is found after the next request has left.)
        request = nextFetch();
        QVERIFY(request);
        QCOMPARE(request->partitions.size(), 1);
        QCOMPARE(request->partitions.first().partition, 1);
        QCOMPARE(request->partitions.first().offset, 3);
    }

    // Resume asks for the failed job again from where it stood (an answer
    // for a request that left before the failure does not count).
    fetcher->resumeAllFetchJobs();
    request = answerEmptyUntil([](const Request& candidate) {
        return std::any_of(candidate.partitions.cbegin(), candidate.partitions.cend(),
            [](const FetchPartition& partition) { return partition.partition == 0 && partition.offset == 5; });
    });
    QVERIFY(request);
    for (const auto& partition : request->partitions)
        QCOMPARE(partition.offset, partition.partition == 0 ? 5 : 3);
    QCOMPARE(failures.value(broken).size(), 1);
}

// A partition whose answer held only the start of a batch too large for the
// limits is named first in the next request: the broker returns the first
// partition's first batch whatever its size.
void KafkaFetcherTest::stalledPartitionIsAskedFirst()
{
    startFetcher({ { "t", 3 } });
    for (int partition = 0; partition < 3; ++partition)
        fetcher->fetchRecords("t", partition, 0, -1);
    Request* request = fetchNaming(3);
    QVERIFY(request);

    const QByteArray large = plainBatch(0, 50).bytes();
    answerFetch(request, { { "t", 0, 0, 50, {} }, { "t", 1, 0, 50, {} }, { "t", 2, 0, 50, large.left(80) } });
    request = nextFetch();
    QVERIFY(request);
    QCOMPARE(request->partitions.first().partition, 2);
    QCOMPARE(request->partitions.first().offset, 0);
}

// Answers under way when jobs are paused are dropped; resume asks again from
// the same offsets, so nothing is lost.
void KafkaFetcherTest::pauseDropsAnswersAndResumeAsksAgain()
{
    startFetcher({ { "t", 1 } });
    const int job = fetcher->fetchRecords("t", 0, 0, -1);
    Request* request = nextFetch();
    QVERIFY(request);
    fetcher->pauseAllFetchJobs();
    QTest::qWait(50);
    answerFetch(request, { { "t", 0, 0, 4, plainBatch(0, 4).bytes() } });
    QTest::qWait(300);
    QVERIFY(records.value(job).isEmpty());
    QCOMPARE(broker->requestCount(KafkaApiKey::Fetch), 1);

    fetcher->resumeAllFetchJobs();
    request = nextFetch();
    QVERIFY(request);
    QCOMPARE(request->partitions.first().offset, 0);
    answerFetch(request, { { "t", 0, 0, 4, plainBatch(0, 4).bytes() } });
    QTRY_COMPARE_WITH_TIMEOUT(offsetsOf(records.value(job)), offsetRange(0, 3), WaitMs);
    QVERIFY(!progress.isEmpty());
    QVERIFY(progress.last().caughtUp);
    QVERIFY(!progress.last().done);
}

// A connection lost while a job's first request is under way fails the job;
// resume reconnects and asks for the same offset.
void KafkaFetcherTest::lostConnectionFailsJobAwaitingFirstAnswer()
{
    startFetcher({ { "t", 1 } });
    const int job = fetcher->fetchRecords("t", 0, 7, -1);
    QVERIFY(nextFetch());
    broker->closeAll();
    QTRY_COMPARE_WITH_TIMEOUT(failures.value(job).size(), 1, WaitMs);

    fetcher->resumeAllFetchJobs();
    QTRY_VERIFY_WITH_TIMEOUT(pending(KafkaApiKey::Fetch).size() == 2, WaitMs);
    Request* request = pending(KafkaApiKey::Fetch).last();
    QCOMPARE(request->partitions.first().offset, 7);
    answerFetch(request, { { "t", 0, 0, 9, plainBatch(7, 2).bytes() } });
    QTRY_COMPARE_WITH_TIMEOUT(offsetsOf(records.value(job)), offsetRange(7, 8), WaitMs);
    QCOMPARE(failures.value(job).size(), 1);
}

// An offset answer that leaves the asked partition out fails the resolution.
void KafkaFetcherTest::offsetAnswerWithoutThePartitionFails()
{
    startFetcher({ { "t", 1 } });
    std::optional<KafkaResult<KafkaFetcher::OffsetsResult>> result;
    fetcher->fetchOffsetsFromTimestamps("t", 0, 1000, -1, this,
        [&result](KafkaResult<KafkaFetcher::OffsetsResult> resolved) { result = std::move(resolved); });
    QTRY_COMPARE_WITH_TIMEOUT(pending(KafkaApiKey::ListOffsets).size(), 1, WaitMs);
    Request* request = pending(KafkaApiKey::ListOffsets).first();
    QCOMPARE(request->partitions.first().offset, 1000);
    answerListOffsets(request, 3);
    QTRY_COMPARE_WITH_TIMEOUT(pending(KafkaApiKey::ListOffsets).size(), 1, WaitMs);
    request = pending(KafkaApiKey::ListOffsets).first();
    QCOMPARE(request->partitions.first().offset, -1);
    answerListOffsets(request, std::nullopt);
    QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), WaitMs);
    QVERIFY(result->isError());
    QCOMPARE(result->error().code, KafkaErrorCode::ListOffsetsError);
    QCOMPARE(result->error().message, QStringLiteral("The offset response for the timestamp -1 does not hold the partition t-0"));
}

QTEST_GUILESS_MAIN(KafkaFetcherTest)
#include "KafkaFetcherTest.moc"
