// The fetcher against a stand-in broker that the test answers by hand: how
// jobs of one broker share one long-polling Fetch request, which answers
// count, how broken or incomplete answers fail a job, and what pause, resume
// and a lost connection do to requests under way.
#include "KafkaClusterClient.h"
#include "KafkaFetcher.h"
#include "MessageImages.h"
#include "TestRecordBatchBuilder.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <QtEndian>

#include <functional>
#include <list>
#include <memory>
#include <optional>

using namespace TestBatches;

namespace {

constexpr int WaitMs = 5000;

// A broker on loopback serving the test's thread. It announces ApiVersions
// 0-1, Metadata 1, Fetch 4-7 and ListOffsets 1, describes itself as node 1
// leading every partition of its topics, and keeps the Fetch and ListOffsets
// requests it receives for the test to answer.
class FakeFetchBroker {
public:
    struct FetchPartition {
        QString topic;
        std::int32_t partition = 0;
        std::int64_t offset = 0;
    };

    struct Request {
        QPointer<QTcpSocket> socket;
        std::int16_t apiKey = 0;
        std::int32_t correlationId = 0;
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

    explicit FakeFetchBroker(QMap<QString, int> topicPartitions)
        : topics(std::move(topicPartitions))
    {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this] {
            while (QTcpSocket* socket = server.nextPendingConnection()) {
                auto buffer = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    buffer->append(socket->readAll());
                    serve(socket, *buffer);
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                peers.append(socket);
            }
        });
        server.listen(QHostAddress::LocalHost, 0);
    }

    Config::Cluster cluster() const
    {
        Config::Cluster settings;
        settings.brokers = { Config::Broker { QStringLiteral("127.0.0.1"), server.serverPort() } };
        return settings;
    }

    QList<Request*> pending(KafkaApiKey apiKey)
    {
        QList<Request*> list;
        for (Request& request : requests) {
            if (request.apiKey == std::int16_t(apiKey) && !request.answered)
                list.append(&request);
        }
        return list;
    }

    int count(KafkaApiKey apiKey) const
    {
        return int(std::count_if(requests.cbegin(), requests.cend(),
            [apiKey](const Request& request) { return request.apiKey == std::int16_t(apiKey); }));
    }

    void answerFetch(Request* request, const QList<FetchAnswer>& partitions, std::int16_t errorCode = 0)
    {
        ResponseImage image;
        image.s32(request->correlationId).s32(0).s16(errorCode).s32(0);
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
        send(request, image);
    }

    // Answers every partition of the request with no records; a negative
    // high watermark stands for each partition's fetch offset (caught up).
    void answerFetchEmpty(Request* request, std::int64_t highWatermark = -1)
    {
        QList<FetchAnswer> answers;
        for (const FetchPartition& partition : request->partitions)
            answers.append({ partition.topic, partition.partition, 0,
                highWatermark < 0 ? partition.offset : highWatermark, QByteArray() });
        answerFetch(request, answers);
    }

    // Answers with the given offset for each partition, or leaves them out.
    void answerListOffsets(Request* request, std::optional<std::int64_t> offset)
    {
        ResponseImage image;
        image.s32(request->correlationId);
        if (!offset) {
            image.s32(0);
        } else {
            image.s32(1).string(request->partitions[0].topic).s32(1);
            image.s32(request->partitions[0].partition).s16(0).s64(-1).s64(*offset);
        }
        send(request, image);
    }

    void closeAll()
    {
        for (const QPointer<QTcpSocket>& peer : peers) {
            if (peer)
                peer->abort();
        }
    }

    QTcpServer server;
    QMap<QString, int> topics;
    std::list<Request> requests;
    QList<QPointer<QTcpSocket>> peers;

private:
    void send(Request* request, const ResponseImage& image)
    {
        request->answered = true;
        if (!request->socket)
            return;
        KafkaBuffer frame;
        frame.writeS32(std::int32_t(image.data().size()));
        frame.write(image.data().constData(), image.data().size());
        request->socket->write(frame.data);
    }

    void serve(QTcpSocket* socket, QByteArray& buffer)
    {
        while (buffer.size() >= 4) {
            const std::int32_t size = qFromBigEndian<std::int32_t>(buffer.constData());
            if (buffer.size() < 4 + size)
                return;
            KafkaBuffer frame(buffer.mid(4, size));
            buffer.remove(0, 4 + size);
            Request request;
            request.socket = socket;
            request.apiKey = frame.readS16();
            frame.readS16();
            request.correlationId = frame.readS32();
            frame.readString(); // client id
            switch (static_cast<KafkaApiKey>(request.apiKey)) {
            case KafkaApiKey::ApiVersions:
                answerApiVersions(socket, request.correlationId);
                continue;
            case KafkaApiKey::Metadata:
                answerMetadata(socket, request.correlationId);
                continue;
            case KafkaApiKey::Fetch:
                readFetch(frame, request);
                break;
            case KafkaApiKey::ListOffsets:
                readListOffsets(frame, request);
                break;
            default:
                break;
            }
            requests.push_back(request);
        }
    }

    static void readFetch(KafkaBuffer& frame, Request& request)
    {
        frame.readS32(); // replica id
        request.maxWaitMs = frame.readS32();
        request.minBytes = frame.readS32();
        frame.readS32(); // max bytes
        request.isolationLevel = frame.readS8();
        frame.readS32(); // session id
        frame.readS32(); // session epoch
        const std::int32_t topicCount = frame.readS32();
        for (std::int32_t t = 0; t < topicCount; ++t) {
            const QString topic = frame.readString();
            const std::int32_t partitionCount = frame.readS32();
            for (std::int32_t p = 0; p < partitionCount; ++p) {
                FetchPartition partition { topic, frame.readS32(), frame.readS64() };
                frame.readS64(); // log start offset
                frame.readS32(); // partition max bytes
                request.partitions.append(partition);
            }
        }
    }

    static void readListOffsets(KafkaBuffer& frame, Request& request)
    {
        frame.readS32(); // replica id
        const std::int32_t topicCount = frame.readS32();
        for (std::int32_t t = 0; t < topicCount; ++t) {
            const QString topic = frame.readString();
            const std::int32_t partitionCount = frame.readS32();
            for (std::int32_t p = 0; p < partitionCount; ++p)
                request.partitions.append({ topic, frame.readS32(), frame.readS64() });
        }
    }

    void answerApiVersions(QTcpSocket* socket, std::int32_t correlationId)
    {
        ResponseImage image;
        image.s32(correlationId).s16(0).s32(4);
        image.s16(std::int16_t(KafkaApiKey::ApiVersions)).s16(0).s16(1);
        image.s16(std::int16_t(KafkaApiKey::Metadata)).s16(1).s16(1);
        image.s16(std::int16_t(KafkaApiKey::Fetch)).s16(4).s16(7);
        image.s16(std::int16_t(KafkaApiKey::ListOffsets)).s16(1).s16(1);
        image.s32(0);
        write(socket, image);
    }

    void answerMetadata(QTcpSocket* socket, std::int32_t correlationId)
    {
        ResponseImage image;
        image.s32(correlationId).s32(1).s32(1).string(QStringLiteral("127.0.0.1")).s32(server.serverPort()).nullString();
        image.s32(1).s32(std::int32_t(topics.size()));
        for (auto topic = topics.cbegin(); topic != topics.cend(); ++topic) {
            image.s16(0).string(topic.key()).s8(0).s32(topic.value());
            for (int index = 0; index < topic.value(); ++index)
                image.s16(0).s32(index).s32(1).int32Array({ 1 }).int32Array({ 1 });
        }
        write(socket, image);
    }

    static void write(QTcpSocket* socket, const ResponseImage& image)
    {
        KafkaBuffer frame;
        frame.writeS32(std::int32_t(image.data().size()));
        frame.write(image.data().constData(), image.data().size());
        socket->write(frame.data);
    }
};

struct Progress {
    qint64 fetched = 0;
    qint64 total = 0;
    bool caughtUp = false;
    bool done = false;
};

QList<std::int64_t> offsetsOf(const QList<KafkaRecord>& records)
{
    QList<std::int64_t> offsets;
    for (const KafkaRecord& record : records)
        offsets.append(record.offset);
    return offsets;
}

QList<std::int64_t> range(std::int64_t first, std::int64_t last)
{
    QList<std::int64_t> offsets;
    for (std::int64_t offset = first; offset <= last; ++offset)
        offsets.append(offset);
    return offsets;
}

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
    // Starts the fetcher over a bootstrapped client of the fake broker.
    void startFetcher(QMap<QString, int> topics);
    FakeFetchBroker::Request* nextFetch();
    // Answers Fetch requests with nothing new until one is `wanted`.
    FakeFetchBroker::Request* answerEmptyUntil(const std::function<bool(const FakeFetchBroker::Request&)>& wanted);
    FakeFetchBroker::Request* fetchNaming(int partitions);

    std::unique_ptr<FakeFetchBroker> broker;
    std::unique_ptr<KafkaClusterClient> client;
    std::unique_ptr<KafkaFetcher> fetcher;
    QHash<int, QList<KafkaRecord>> records;
    QHash<int, QList<KafkaError>> failures;
    QList<Progress> progress;
};

void KafkaFetcherTest::init()
{
    records.clear();
    failures.clear();
    progress.clear();
}

void KafkaFetcherTest::cleanup()
{
    fetcher.reset();
    client.reset();
    broker.reset();
}

void KafkaFetcherTest::startFetcher(QMap<QString, int> topics)
{
    broker = std::make_unique<FakeFetchBroker>(std::move(topics));
    client = std::make_unique<KafkaClusterClient>(QStringLiteral("fetcher-test"), broker->cluster());
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

FakeFetchBroker::Request* KafkaFetcherTest::nextFetch()
{
    if (!QTest::qWaitFor([this] { return !broker->pending(KafkaApiKey::Fetch).isEmpty(); }, WaitMs))
        return nullptr;
    return broker->pending(KafkaApiKey::Fetch).first();
}

FakeFetchBroker::Request* KafkaFetcherTest::answerEmptyUntil(
    const std::function<bool(const FakeFetchBroker::Request&)>& wanted)
{
    for (int round = 0; round < 20; ++round) {
        FakeFetchBroker::Request* request = nextFetch();
        if (!request || wanted(*request))
            return request;
        broker->answerFetchEmpty(request);
    }
    return nullptr;
}

FakeFetchBroker::Request* KafkaFetcherTest::fetchNaming(int partitions)
{
    return answerEmptyUntil(
        [partitions](const FakeFetchBroker::Request& request) { return request.partitions.size() == partitions; });
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

    FakeFetchBroker::Request* request = nextFetch();
    QVERIFY(request);
    QCOMPARE(request->maxWaitMs, KafkaFetcher::MaxWaitMs);
    QCOMPARE(request->minBytes, 1);
    QCOMPARE(request->isolationLevel, 1);
    QTest::qWait(100);
    QCOMPARE(broker->pending(KafkaApiKey::Fetch).size(), 1);

    request = fetchNaming(3);
    QVERIFY(request);
    QHash<std::int32_t, std::int64_t> offsets;
    for (const auto& partition : request->partitions)
        offsets.insert(partition.partition, partition.offset);
    QCOMPARE(offsets.value(0), 10);
    QCOMPARE(offsets.value(1), 20);
    QVERIFY(offsets.value(2) == 30 || offsets.value(2) == 0);
    broker->answerFetch(request,
        { { "t", 0, 0, 10, {} }, { "t", 1, 0, 22, plainBatch(20, 2).bytes() }, { "t", 2, 0, 40, {} } });
    QTRY_COMPARE_WITH_TIMEOUT(records.value(second).size(), 2, WaitMs);
    QCOMPARE(offsetsOf(records.value(second)), range(20, 21));
    QVERIFY(records.value(first).isEmpty());
    QVERIFY(records.value(third).isEmpty());
    QVERIFY(records.value(twin).isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(broker->pending(KafkaApiKey::Fetch).size(), 1, WaitMs);
    QVERIFY(failures.isEmpty());
}

void KafkaFetcherTest::recordsOutsideTheRangeAreNotDelivered_data()
{
    QTest::addColumn<std::int64_t>("start");
    QTest::addColumn<std::int64_t>("end");
    QTest::addColumn<std::int64_t>("highWatermark");
    QTest::addColumn<QList<std::int64_t>>("expected");
    QTest::addColumn<qint64>("total");

    QTest::newRow("inside one batch") << std::int64_t(5) << std::int64_t(14) << std::int64_t(20) << range(5, 14) << qint64(10);
    QTest::newRow("single offset") << std::int64_t(19) << std::int64_t(19) << std::int64_t(20) << range(19, 19) << qint64(1);
    QTest::newRow("end beyond the high watermark")
        << std::int64_t(5) << std::int64_t(100) << std::int64_t(20) << range(5, 19) << qint64(15);
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
    FakeFetchBroker::Request* request = nextFetch();
    QVERIFY(request);
    TestBatch batch = plainBatch(0, 20);
    batch.codec = Codec::Lz4;
    broker->answerFetch(request, { { "t", 0, 0, highWatermark, batch.bytes() } });
    QTRY_VERIFY_WITH_TIMEOUT(!progress.isEmpty() && progress.last().done, WaitMs);
    QCOMPARE(offsetsOf(records.value(job)), expected);
    QCOMPARE(progress.last().fetched, total);
    QCOMPARE(progress.last().total, total);
    QTest::qWait(50);
    QCOMPARE(broker->count(KafkaApiKey::Fetch), 1);
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
    FakeFetchBroker::Request* request = fetchNaming(2);
    QVERIFY(request);

    const QByteArray good = plainBatch(0, 3).bytes();
    TestBatch corrupt = plainBatch(5, 2);
    corrupt.codec = Codec::Zstd;
    corrupt.section = QByteArray("not zstd");
    if (answer == "missing")
        broker->answerFetch(request, { { "t", 1, 0, 3, good } });
    else if (answer == "partition error")
        broker->answerFetch(request, { { "t", 0, 1, 5, {} }, { "t", 1, 0, 3, good } });
    else if (answer == "top-level error")
        broker->answerFetch(request, {}, 71);
    else
        broker->answerFetch(request, { { "t", 0, 0, 7, corrupt.bytes() }, { "t", 1, 0, 3, good } });

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
    request = answerEmptyUntil([](const FakeFetchBroker::Request& candidate) {
        return std::any_of(candidate.partitions.cbegin(), candidate.partitions.cend(),
            [](const FakeFetchBroker::FetchPartition& partition) { return partition.partition == 0 && partition.offset == 5; });
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
    FakeFetchBroker::Request* request = fetchNaming(3);
    QVERIFY(request);

    const QByteArray large = plainBatch(0, 50).bytes();
    broker->answerFetch(request, { { "t", 0, 0, 50, {} }, { "t", 1, 0, 50, {} }, { "t", 2, 0, 50, large.left(80) } });
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
    FakeFetchBroker::Request* request = nextFetch();
    QVERIFY(request);
    fetcher->pauseAllFetchJobs();
    QTest::qWait(50);
    broker->answerFetch(request, { { "t", 0, 0, 4, plainBatch(0, 4).bytes() } });
    QTest::qWait(300);
    QVERIFY(records.value(job).isEmpty());
    QCOMPARE(broker->count(KafkaApiKey::Fetch), 1);

    fetcher->resumeAllFetchJobs();
    request = nextFetch();
    QVERIFY(request);
    QCOMPARE(request->partitions.first().offset, 0);
    broker->answerFetch(request, { { "t", 0, 0, 4, plainBatch(0, 4).bytes() } });
    QTRY_COMPARE_WITH_TIMEOUT(offsetsOf(records.value(job)), range(0, 3), WaitMs);
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
    QTRY_VERIFY_WITH_TIMEOUT(broker->pending(KafkaApiKey::Fetch).size() == 2, WaitMs);
    FakeFetchBroker::Request* request = broker->pending(KafkaApiKey::Fetch).last();
    QCOMPARE(request->partitions.first().offset, 7);
    broker->answerFetch(request, { { "t", 0, 0, 9, plainBatch(7, 2).bytes() } });
    QTRY_COMPARE_WITH_TIMEOUT(offsetsOf(records.value(job)), range(7, 8), WaitMs);
    QCOMPARE(failures.value(job).size(), 1);
}

// An offset answer that leaves the asked partition out fails the resolution.
void KafkaFetcherTest::offsetAnswerWithoutThePartitionFails()
{
    startFetcher({ { "t", 1 } });
    std::optional<KafkaResult<KafkaFetcher::OffsetsResult>> result;
    fetcher->fetchOffsetsFromTimestamps("t", 0, 1000, -1, this,
        [&result](KafkaResult<KafkaFetcher::OffsetsResult> resolved) { result = std::move(resolved); });
    QTRY_COMPARE_WITH_TIMEOUT(broker->pending(KafkaApiKey::ListOffsets).size(), 1, WaitMs);
    FakeFetchBroker::Request* request = broker->pending(KafkaApiKey::ListOffsets).first();
    QCOMPARE(request->partitions.first().offset, 1000);
    broker->answerListOffsets(request, 3);
    QTRY_COMPARE_WITH_TIMEOUT(broker->pending(KafkaApiKey::ListOffsets).size(), 1, WaitMs);
    request = broker->pending(KafkaApiKey::ListOffsets).first();
    QCOMPARE(request->partitions.first().offset, -1);
    broker->answerListOffsets(request, std::nullopt);
    QTRY_VERIFY_WITH_TIMEOUT(result.has_value(), WaitMs);
    QVERIFY(result->isError());
    QCOMPARE(result->error().code, KafkaErrorCode::ListOffsetsError);
    QCOMPARE(result->error().message, QStringLiteral("The offset response for the timestamp -1 does not hold the partition t-0"));
}

QTEST_GUILESS_MAIN(KafkaFetcherTest)
#include "KafkaFetcherTest.moc"
