// The fetcher: record set ranges, and against a hand-answered stand-in broker.
#include "FakeBroker.h"
#include "KafkaClusterClient.h"
#include "KafkaFetchedRecordSet.h"
#include "KafkaFetcher.h"
#include "KafkaRecordBatch.h"
#include "TestRecordBatchBuilder.h"

#include <QElapsedTimer>
#include <QSet>

#include <list>
#include <optional>

using namespace TestBatches;

Q_DECLARE_METATYPE(TestBatches::TestBatch)

namespace {

constexpr int WaitMs = 5000;

QList<std::int64_t> offsetsOf(const QList<KafkaRecord>& records)
{
    QList<std::int64_t> offsets;
    for (const KafkaRecord& record : records)
        offsets.append(record.offset);
    return offsets;
}

QList<std::int64_t> offsetRange(std::int64_t first, std::int64_t last)
{
    QList<std::int64_t> offsets;
    for (std::int64_t offset = first; offset <= last; ++offset)
        offsets.append(offset);
    return offsets;
}

// A Fetch (v7) or ListOffsets (v1) request of topic "t" kept for the test.
struct Request {
    FakeBroker::Frame frame;
    std::int32_t maxWaitMs = 0;
    std::int32_t minBytes = 0;
    std::int8_t isolationLevel = 0;
    QList<std::pair<std::int32_t, std::int64_t>> partitions; // partition, offset (ListOffsets: timestamp)
    // Fetch only: the request's limit and each partition's.
    std::int32_t maxBytes = 0;
    QList<std::int32_t> partitionMaxBytes;
    bool answered = false;
};

struct FetchAnswer {
    std::int32_t partition = 0;
    std::int64_t highWatermark = 0;
    QByteArray records;
    std::int16_t errorCode = 0;
    std::int64_t logStartOffset = 0;
};

ResponseImage offsetAnswer(std::int16_t errorCode, std::int64_t offset)
{
    return ResponseImage().s32(1).string("t").s32(1).s32(0).s16(errorCode).s64(-1).s64(offset);
}

Request readRequest(const FakeBroker::Frame& frame)
{
    Request request;
    request.frame = frame;
    KafkaBuffer body(frame.body);
    body.readS32(); // replica id
    const bool fetch = frame.apiKey == std::int16_t(KafkaApiKey::Fetch);
    if (fetch) {
        request.maxWaitMs = body.readS32();
        request.minBytes = body.readS32();
        request.maxBytes = body.readS32();
        request.isolationLevel = body.readS8();
        body.readRawBytes(8); // session id and epoch
    }
    for (std::int32_t topics = body.readS32(); topics > 0; --topics) {
        body.readString();
        for (std::int32_t partitions = body.readS32(); partitions > 0; --partitions) {
            const std::int32_t partition = body.readS32();
            request.partitions.append({ partition, body.readS64() });
            if (fetch) {
                body.readS64(); // log start offset
                request.partitionMaxBytes.append(body.readS32());
            }
        }
    }
    return request;
}

} // namespace

class KafkaFetcherTest : public QObject {
    Q_OBJECT

    std::unique_ptr<FakeBroker> broker;
    std::unique_ptr<FakeBroker> newLeader; // node 2, once the leadership moves there
    std::unique_ptr<FakeBroker> movedLeader; // node 2 again, back at another port
    std::list<Request> requests;
    std::unique_ptr<KafkaClusterClient> client;
    std::unique_ptr<KafkaFetcher> fetcher;
    QHash<int, QList<KafkaRecord>> records;
    QHash<int, QList<KafkaError>> failures;

    // Node 1 leads every partition of "t" and keeps every other request for the test.
    void startFetcher(int partitions)
    {
        requests.clear();
        records.clear();
        failures.clear();
        broker = std::make_unique<FakeBroker>(FakeBroker::Mode::Cluster);
        broker->apiVersions = { { 18, 0, 1 }, { 3, 1, 1 }, { 1, 4, 7 }, { 2, 1, 1 } };
        broker->topics = { { "t", QList<std::int32_t>(partitions, 1) } };
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
    }

    void moveLeadersToSecondBroker()
    {
        newLeader = std::make_unique<FakeBroker>(FakeBroker::Mode::Cluster);
        newLeader->apiVersions = broker->apiVersions;
        newLeader->onFrame = broker->onFrame;
        const auto partitions = broker->topics.first().partitionLeaders.size();
        for (FakeBroker* fake : { broker.get(), newLeader.get() }) {
            fake->brokers = { { 1, broker->port() }, { 2, newLeader->port() } };
            fake->topics = { { "t", QList<std::int32_t>(partitions, 2) } };
        }
    }

    QList<Request*> pending(KafkaApiKey apiKey, const FakeBroker* at = nullptr) // unanswered
    {
        QList<Request*> list;
        for (Request& request : requests) {
            if (request.frame.apiKey == std::int16_t(apiKey) && !request.answered
                && (!at || (request.frame.peer && request.frame.peer->localPort() == at->port())))
                list.append(&request);
        }
        return list;
    }

    Request* nextPending(KafkaApiKey apiKey = KafkaApiKey::Fetch, const FakeBroker* at = nullptr)
    {
        return QTest::qWaitFor([&] { return !pending(apiKey, at).isEmpty(); }, WaitMs) ? pending(apiKey, at).first() : nullptr;
    }

    void reply(Request* request, const ResponseImage& image)
    {
        request->answered = true;
        broker->reply(request->frame, image.data());
    }

    void answerFetch(Request* request, const QList<FetchAnswer>& partitions, std::int16_t errorCode = 0)
    {
        ResponseImage image;
        image.s32(0).s16(errorCode).s32(0).s32(partitions.isEmpty() ? 0 : 1);
        if (!partitions.isEmpty())
            image.string("t").s32(std::int32_t(partitions.size()));
        for (const FetchAnswer& answer : partitions)
            image.s32(answer.partition).s16(answer.errorCode).s64(answer.highWatermark).s64(answer.highWatermark)
                .s64(answer.logStartOffset).s32(-1).bytes(answer.records);
        reply(request, image);
    }

    // Answers Fetch requests with nothing new until one names `partitions` partitions.
    Request* fetchNaming(int partitions)
    {
        for (int round = 0; round < 20; ++round) {
            Request* request = nextPending();
            if (!request || request->partitions.size() == partitions)
                return request;
            QList<FetchAnswer> answers;
            for (const auto& [partition, offset] : request->partitions)
                answers.append({ partition, offset, QByteArray() });
            answerFetch(request, answers);
        }
        return nullptr;
    }

private slots:
    void cleanup()
    {
        fetcher.reset();
        client.reset();
        broker.reset();
        newLeader.reset();
        movedLeader.reset();
    }

    // Both ends of a range are inclusive; a job ends once the next offset passes its end.
    void recordSetRanges_data()
    {
        QTest::addColumn<QList<TestBatch>>("batches");
        QTest::addColumn<qsizetype>("cutBytes");
        QTest::addColumn<std::int64_t>("fetchOffset");
        QTest::addColumn<std::int64_t>("endOffset");
        QTest::addColumn<QList<std::int64_t>>("expected");
        QTest::addColumn<std::int64_t>("nextOffset");
        QTest::addColumn<bool>("stalled");

        const auto row = [](const char* name, const QList<TestBatch>& batches, qsizetype cut, std::int64_t fetch,
                             std::int64_t end, const QList<std::int64_t>& expected, std::int64_t next, bool stalled = false) {
            QTest::newRow(name) << batches << cut << fetch << end << expected << next << stalled;
        };
        QList<TestBatch> three { plainBatch(0, 10), plainBatch(10, 10), plainBatch(20, 10) };
        row("inside batches", three, 0, 5, 24, offsetRange(5, 24), 30);
        row("end in the first batch", three, 0, 3, 6, offsetRange(3, 6), 10);
        row("last batch cut short", three, 7, 12, -1, offsetRange(12, 19), 20);
        for (TestBatch& batch : three)
            batch.codec = Codec::Zstd;
        row("inside zstd batches", three, 0, 5, 24, offsetRange(5, 24), 30);
        row("cut first batch", { plainBatch(40, 10) }, 20, 40, -1, {}, 40, true);
        row("gap past the end", { plainBatch(20, 5) }, 0, 6, 12, {}, 13);
        row("gap then range", { plainBatch(20, 5) }, 0, 6, 22, offsetRange(20, 22), 25);
    }

    void recordSetRanges()
    {
        QFETCH(QList<TestBatch>, batches);
        QFETCH(qsizetype, cutBytes);
        QFETCH(std::int64_t, fetchOffset);
        QFETCH(std::int64_t, endOffset);
        QFETCH(QList<std::int64_t>, expected);
        QFETCH(std::int64_t, nextOffset);
        QFETCH(bool, stalled);

        KafkaFetchResponse::Partition partition;
        for (const TestBatch& batch : batches)
            partition.records += batch.bytes();
        partition.records.chop(cutBytes);
        KafkaFetchedRecordSet recordSet(QStringLiteral("topic"), 3, fetchOffset, endOffset, partition);
        QVERIFY(!recordSet.scan());
        QCOMPARE(recordSet.nextOffset(), nextOffset);
        QCOMPARE(recordSet.stalled(), stalled);
        KafkaResult<QList<KafkaRecord>> decoded = recordSet.decode();
        QVERIFY(decoded.hasValue());
        QCOMPARE(offsetsOf(decoded.value()), expected);
        for (const KafkaRecord& record : decoded.value())
            QCOMPARE(record.value, "v" + QByteArray::number(record.offset % 10));
    }

    // The batches of a record set decode into one list, its room reserved from
    // their headers; what is left out (aborted, out of range) leaves little of it unused.
    void recordSetDecodesIntoOneList_data()
    {
        QTest::addColumn<QList<TestBatch>>("batches");
        QTest::addColumn<std::int64_t>("abortedProducer");
        QTest::addColumn<std::int64_t>("fetchOffset");
        QTest::addColumn<std::int64_t>("endOffset");
        QTest::addColumn<QList<std::int64_t>>("expected");
        const QList<TestBatch> three { plainBatch(0, 10), plainBatch(10, 10), plainBatch(20, 10) };
        QList<TestBatch> threeLz4 = three;
        for (TestBatch& batch : threeLz4)
            batch.codec = Codec::Lz4;
        const QList<TestBatch> aborted { plainBatch(0, 5), transactionalBatch(5, 7, 5), controlBatch(10, 7, 0),
            plainBatch(11, 5) };
        QTest::newRow("end in the first batch") << three << std::int64_t(-1) << std::int64_t(3) << std::int64_t(6)
                                                << offsetRange(3, 6);
        QTest::newRow("start in the last batch") << three << std::int64_t(-1) << std::int64_t(25) << std::int64_t(-1)
                                                 << offsetRange(25, 29);
        QTest::newRow("lz4 batches") << threeLz4 << std::int64_t(-1) << std::int64_t(5) << std::int64_t(24)
                                     << offsetRange(5, 24);
        QTest::newRow("aborted between committed") << aborted << std::int64_t(7) << std::int64_t(0) << std::int64_t(-1)
                                                   << offsetRange(0, 4) + offsetRange(11, 15);
        QTest::newRow("mostly aborted") << aborted << std::int64_t(7) << std::int64_t(3) << std::int64_t(-1)
                                        << offsetRange(3, 4) + offsetRange(11, 15);
    }

    void recordSetDecodesIntoOneList()
    {
        QFETCH(QList<TestBatch>, batches);
        QFETCH(std::int64_t, abortedProducer);
        QFETCH(std::int64_t, fetchOffset);
        QFETCH(std::int64_t, endOffset);
        QFETCH(QList<std::int64_t>, expected);

        KafkaFetchResponse::Partition partition;
        for (const TestBatch& batch : batches)
            partition.records += batch.bytes();
        if (abortedProducer >= 0)
            partition.abortedTransactions = { { abortedProducer, 5 } };
        KafkaFetchedRecordSet recordSet(QStringLiteral("topic"), 3, fetchOffset, endOffset, partition);
        QVERIFY(!recordSet.scan());
        KafkaResult<QList<KafkaRecord>> decoded = recordSet.decode();
        QVERIFY(decoded.hasValue());
        const QList<KafkaRecord>& kept = decoded.value();
        QCOMPARE(offsetsOf(kept), expected);
        QVERIFY2(kept.capacity() - kept.size() <= kept.size() / 4,
            qPrintable(QStringLiteral("room for %1 records, %2 kept").arg(kept.capacity()).arg(kept.size())));
    }

    // One read-committed long poll at a time names each due partition once; records reach their job only.
    void jobsOfOneBrokerShareOneLongPoll()
    {
        startFetcher(3);
        const int first = fetcher->fetchRecords("t", 0, 10, -1);
        const int second = fetcher->fetchRecords("t", 1, 20, -1);
        const int third = fetcher->fetchRecords("t", 2, 30, -1);
        const int twin = fetcher->fetchRecords("t", 2, 0, -1); // asked after the other job of its partition

        Request* request = nextPending();
        QVERIFY(request);
        QCOMPARE(request->maxWaitMs, KafkaFetcher::MaxWaitMs);
        QCOMPARE(request->isolationLevel, 1);
        QTest::qWait(100);
        QCOMPARE(pending(KafkaApiKey::Fetch).size(), 1);

        request = fetchNaming(3);
        QVERIFY(request);
        const QHash<std::int32_t, std::int64_t> offsets(request->partitions.cbegin(), request->partitions.cend());
        QCOMPARE(offsets.value(0), 10);
        QCOMPARE(offsets.value(1), 20);
        QVERIFY(offsets.value(2) == 30 || offsets.value(2) == 0);
        answerFetch(request, { { 0, 10, {} }, { 1, 22, plainBatch(20, 2).bytes() }, { 2, 40, {} } });
        QTRY_COMPARE_WITH_TIMEOUT(offsetsOf(records.value(second)), offsetRange(20, 21), WaitMs);
        QVERIFY(records.value(first).isEmpty() && records.value(third).isEmpty() && records.value(twin).isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(pending(KafkaApiKey::Fetch).size(), 1, WaitMs);
        QVERIFY(failures.isEmpty());
    }

    // Each fetcher's long polls travel on a connection of its own, offset lookups on the shared one;
    // a fetcher destroyed closes its connection.
    void longPollsTravelOnConnectionsOfTheirOwn()
    {
        startFetcher(1);
        auto other = std::make_unique<KafkaFetcher>(*client);
        fetcher->fetchRecords("t", 0, 0, -1);
        other->fetchRecords("t", 0, 0, -1);
        QTRY_COMPARE_WITH_TIMEOUT(pending(KafkaApiKey::Fetch).size(), 2, WaitMs);
        std::optional<KafkaResult<KafkaFetcher::OffsetsResult>> result;
        other->fetchOffsetsFromTimestamps("t", 0, 1000, -1, this,
            [&result](KafkaResult<KafkaFetcher::OffsetsResult> resolved) { result = std::move(resolved); });
        for (const std::int64_t offset : { 3, 5 }) {
            Request* request = nextPending(KafkaApiKey::ListOffsets);
            QVERIFY(request);
            reply(request, offsetAnswer(0, offset));
        }
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value() && !result->isError(), WaitMs);

        QSet<QTcpSocket*> fetchPeers;
        QSet<QTcpSocket*> lookupPeers;
        for (const Request& request : requests)
            (request.frame.apiKey == std::int16_t(KafkaApiKey::Fetch) ? fetchPeers : lookupPeers).insert(request.frame.peer);
        QCOMPARE(fetchPeers.size(), 2);
        QCOMPARE(lookupPeers.size(), 1);
        QVERIFY(!fetchPeers.intersects(lookupPeers));
        QCOMPARE(broker->openConnections(), 3);
        other.reset();
        QTRY_COMPARE_WITH_TIMEOUT(broker->openConnections(), 2, WaitMs);
        QVERIFY(failures.isEmpty());
    }

    void brokenAnswersFailTheirJobs_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("partition left out") << "missing" << int(KafkaErrorCode::FetchError)
                                            << "The record fetch response for t-0 at offset 5 does not hold the partition";
        QTest::newRow("request error") << "top-level error" << int(KafkaErrorCode::InvalidFetchSessionEpoch)
                                       << "The server returned an error while fetching records for t-0 at offset 5";
        QTest::newRow("corrupt batch") << "corrupt" << int(KafkaErrorCode::FetchError)
                                       << "An error occurred while parsing the record batch for t-0 at offset 5";
    }

    void brokenAnswersFailTheirJobs()
    {
        QFETCH(QString, answer);
        QFETCH(int, code);
        QFETCH(QString, message);

        startFetcher(2);
        const int broken = fetcher->fetchRecords("t", 0, 5, -1);
        const int healthy = fetcher->fetchRecords("t", 1, 0, -1);
        Request* request = fetchNaming(2);
        QVERIFY(request);
        const FetchAnswer good { 1, 3, plainBatch(0, 3).bytes() };
        TestBatch corrupt = plainBatch(5, 2);
        corrupt.codec = Codec::Zstd;
        corrupt.section = QByteArray("not zstd");
        if (answer == "missing")
            answerFetch(request, { good });
        else if (answer == "top-level error")
            answerFetch(request, {}, 71);
        else
            answerFetch(request, { { 0, 7, corrupt.bytes() }, good });

        QTRY_COMPARE_WITH_TIMEOUT(failures.value(broken).size(), 1, WaitMs);
        QCOMPARE(int(failures.value(broken).first().code), code);
        QCOMPARE(failures.value(broken).first().message, message);
        QVERIFY(records.value(broken).isEmpty());
        if (answer == "top-level error") {
            QTRY_COMPARE_WITH_TIMEOUT(failures.value(healthy).size(), 1, WaitMs);
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(records.value(healthy).size(), 3, WaitMs);
        if (answer == "missing") { // the failed job is no longer asked for
            request = nextPending();
            QVERIFY(request);
            QCOMPARE(request->partitions, (QList<std::pair<std::int32_t, std::int64_t>> { { 1, 3 } }));
        }
    }

    // A lost leader or NOT_LEADER_OR_FOLLOWER sends the job or lookup, same offset, to the new leader.
    void leaderMovesKeepTheOffset_data()
    {
        QTest::addColumn<bool>("lookup");
        QTest::addColumn<bool>("connectionLost");
        QTest::newRow("fetch, connection lost") << false << true;
        QTest::newRow("fetch, NOT_LEADER_OR_FOLLOWER") << false << false;
        QTest::newRow("offset lookup, connection lost") << true << true;
        QTest::newRow("offset lookup, NOT_LEADER_OR_FOLLOWER") << true << false;
    }

    void leaderMovesKeepTheOffset()
    {
        QFETCH(bool, lookup);
        QFETCH(bool, connectionLost);

        startFetcher(1);
        const KafkaApiKey apiKey = lookup ? KafkaApiKey::ListOffsets : KafkaApiKey::Fetch;
        std::optional<KafkaResult<KafkaFetcher::OffsetsResult>> resolved;
        const int job = lookup ? -1 : fetcher->fetchRecords("t", 0, 7, -1);
        if (lookup) {
            fetcher->fetchOffsetsFromTimestamps("t", 0, 1000, -1, this,
                [&resolved](KafkaResult<KafkaFetcher::OffsetsResult> result) { resolved = std::move(result); });
        }
        Request* request = nextPending(apiKey);
        QVERIFY(request);
        moveLeadersToSecondBroker();
        if (connectionLost) {
            request->answered = true;
            broker->closeAll();
        } else if (lookup) {
            reply(request, offsetAnswer(6, -1));
        } else {
            answerFetch(request, { { 0, -1, {}, 6 } });
        }

        QVERIFY((request = nextPending(apiKey, newLeader.get())));
        QCOMPARE(request->partitions.first().second, lookup ? 1000 : 7);
        if (lookup) {
            reply(request, offsetAnswer(0, 3));
            QVERIFY((request = nextPending(apiKey, newLeader.get())));
            reply(request, offsetAnswer(0, 9));
            QTRY_VERIFY_WITH_TIMEOUT(resolved.has_value(), WaitMs);
            QCOMPARE(resolved->value().endOffset, 9);
        } else {
            answerFetch(request, { { 0, 9, plainBatch(7, 2).bytes() } });
            QTRY_COMPARE_WITH_TIMEOUT(offsetsOf(records.value(job)), offsetRange(7, 8), WaitMs);
        }
        QVERIFY(failures.isEmpty());
        QVERIFY(pending(apiKey, broker.get()).isEmpty());
    }

    // A following job goes on, contiguous, when its leader restarts: answering Metadata with no broker, or
    // with itself but not yet the partition, for a moment, or back at another port while its old connection
    // refuses or hangs.
    void followingThroughABrokerRestart_data()
    {
        QTest::addColumn<QString>("restart");
        QTest::newRow("one Metadata answer lists no broker") << "lists no broker";
        QTest::newRow("one Metadata answer lists the broker but no topics") << "lists no topics";
        QTest::newRow("one Metadata answer lists the topic without the partition") << "lists no partitions";
        QTest::newRow("back at another port, old address refuses") << "moved, refuses";
        QTest::newRow("back at another port, old connection hangs") << "moved, hangs";
    }

    void followingThroughABrokerRestart()
    {
        QFETCH(QString, restart);

        startFetcher(1);
        const bool moves = restart.startsWith("moved");
        const int job = fetcher->fetchRecords("t", 0, 0, -1);
        Request* request = nextPending();
        QVERIFY(request);
        FakeBroker* leader = broker.get();
        if (moves) { // node 2 leads first
            moveLeadersToSecondBroker();
            answerFetch(request, { { 0, -1, {}, 6 } });
            leader = newLeader.get();
            QVERIFY((request = nextPending(KafkaApiKey::Fetch, leader)));
        }
        answerFetch(request, { { 0, 2, plainBatch(0, 2).bytes() } });
        QTRY_COMPARE_WITH_TIMEOUT(offsetsOf(records.value(job)), offsetRange(0, 1), WaitMs);
        QVERIFY((request = nextPending(KafkaApiKey::Fetch, leader)));
        request->answered = true; // left to the restart

        if (restart == "lists no broker") {
            broker->emptyMetadataAnswers = 1;
            broker->closeAll();
        } else if (restart.startsWith("lists no")) {
            const QList<FakeBroker::Topic> listed;
            broker->partialMetadataAnswers = { restart == "lists no topics" ? listed : QList { FakeBroker::Topic { "t", {} } } };
            broker->closeAll();
        } else {
            movedLeader = std::make_unique<FakeBroker>(FakeBroker::Mode::Cluster);
            movedLeader->apiVersions = broker->apiVersions;
            movedLeader->onFrame = broker->onFrame;
            for (FakeBroker* fake : { broker.get(), movedLeader.get() }) {
                fake->brokers = { { 1, broker->port() }, { 2, movedLeader->port() } };
                fake->topics = { { "t", { 2 } } };
            }
            leader = movedLeader.get();
            if (restart == "moved, refuses")
                newLeader.reset();
            else // the metadata is read again on another job's account
                client->refreshMetadata(this, [](const std::optional<KafkaError>&) { });
        }

        QVERIFY((request = nextPending(KafkaApiKey::Fetch, leader)));
        QCOMPARE(request->partitions.first().second, 2);
        answerFetch(request, { { 0, 4, plainBatch(2, 2).bytes() } });
        QTRY_COMPARE_WITH_TIMEOUT(offsetsOf(records.value(job)), offsetRange(0, 3), WaitMs);
        QVERIFY(failures.isEmpty());
        if (newLeader) // the connection to the old address is closed
            QTRY_COMPARE_WITH_TIMEOUT(newLeader->openConnections(), 0, WaitMs);
    }

    // A partition gone from the metadata for good fails a job or lookup that had a leader only once the
    // failover window has passed, and one that never had a leader at once, each with the metadata's message.
    void missingPartitionFailsFailoverOnlyAtTheWindowsEnd()
    {
        startFetcher(1);
        const auto missing = [](int partition) {
            return QStringLiteral("Topic t with partition index %1 not found in cluster metadata").arg(partition);
        };
        QElapsedTimer sinceAsked;
        sinceAsked.start();
        const int unknown = fetcher->fetchRecords("t", 5, 0, -1);
        QTRY_COMPARE_WITH_TIMEOUT(failures.value(unknown).size(), 1, WaitMs);
        QVERIFY2(sinceAsked.elapsed() < 2000, qPrintable(QString::number(sinceAsked.elapsed())));
        QCOMPARE(failures.value(unknown).first().message, missing(5));

        const int job = fetcher->fetchRecords("t", 0, 0, -1);
        Request* request = nextPending();
        QVERIFY(request);
        answerFetch(request, { { 0, 2, plainBatch(0, 2).bytes() } });
        QVERIFY((request = nextPending()));
        request->answered = true; // left to the deletion
        std::optional<KafkaResult<KafkaFetcher::OffsetsResult>> resolved;
        fetcher->fetchOffsetsFromTimestamps("t", 0, 1000, -1, this,
            [&resolved](KafkaResult<KafkaFetcher::OffsetsResult> result) { resolved = std::move(result); });
        QVERIFY((request = nextPending(KafkaApiKey::ListOffsets)));
        request->answered = true;

        broker->topics.clear();
        broker->closeAll();
        QElapsedTimer sinceGone;
        sinceGone.start();
        QTest::qWait(LeaderRetry::TimeLimitMs / 2);
        QVERIFY(failures.value(job).isEmpty() && !resolved.has_value());
        QTRY_VERIFY_WITH_TIMEOUT(!failures.value(job).isEmpty() && resolved.has_value(), LeaderRetry::TimeLimitMs + WaitMs);
        QVERIFY2(sinceGone.elapsed() >= LeaderRetry::TimeLimitMs, qPrintable(QString::number(sinceGone.elapsed())));
        QCOMPARE(failures.value(job).size(), 1);
        for (const KafkaError& error : { failures.value(job).first(), resolved->error() }) {
            QCOMPARE(error.code, KafkaErrorCode::UnknownTopicOrPartition);
            QCOMPARE(error.message, missing(0));
        }
        QCOMPARE(offsetsOf(records.value(job)), offsetRange(0, 1));
    }

    // Below the log start: the broker's error is the cause, with the log start answered or looked up.
    void offsetOutOfRangeNamesTheLogStart_data()
    {
        QTest::addColumn<std::int64_t>("answeredLogStart");
        QTest::newRow("in the answer") << std::int64_t(25);
        QTest::newRow("looked up") << std::int64_t(-1);
    }

    void offsetOutOfRangeNamesTheLogStart()
    {
        QFETCH(std::int64_t, answeredLogStart);
        startFetcher(1);
        const int job = fetcher->fetchRecords("t", 0, 10, -1);
        Request* request = nextPending();
        QVERIFY(request);
        answerFetch(request, { { 0, -1, {}, 1, answeredLogStart } });
        if (answeredLogStart < 0) {
            request = nextPending(KafkaApiKey::ListOffsets);
            QVERIFY(request);
            QCOMPARE(request->partitions.first().second, -2);
            reply(request, offsetAnswer(0, 25));
        }
        QTRY_COMPARE_WITH_TIMEOUT(failures.value(job).size(), 1, WaitMs);
        const KafkaError error = failures.value(job).first();
        QCOMPARE(error.code, KafkaErrorCode::OffsetOutOfRange);
        QCOMPARE(error.message, QStringLiteral("The server returned an error while fetching records for t-0 at offset 10"));
        QCOMPARE(error.causes.size(), 1);
        QCOMPARE(error.causes.first().message,
            QStringLiteral("OFFSET_OUT_OF_RANGE: the offset lies outside the partition's log, which starts at offset 25"));
    }

    void offsetAnswerWithoutThePartitionFails()
    {
        startFetcher(1);
        std::optional<KafkaResult<KafkaFetcher::OffsetsResult>> result;
        fetcher->fetchOffsetsFromTimestamps("t", 0, 1000, -1, this,
            [&result](KafkaResult<KafkaFetcher::OffsetsResult> resolved) { result = std::move(resolved); });
        Request* request = nextPending(KafkaApiKey::ListOffsets);
        QVERIFY(request);
        reply(request, offsetAnswer(0, 3));
        request = nextPending(KafkaApiKey::ListOffsets);
        QVERIFY(request);
        QCOMPARE(request->partitions.first().second, -1);
        reply(request, ResponseImage().s32(0));
        QTRY_VERIFY_WITH_TIMEOUT(result.has_value() && result->isError(), WaitMs);
        QCOMPARE(result->error().code, KafkaErrorCode::ListOffsetsError);
        QCOMPARE(result->error().message, QStringLiteral("The offset response for the timestamp -1 does not hold the partition t-0"));
    }

    // A partition whose next batch is uncompressed and larger than the
    // partition limit asks for that batch and the header after it, so that
    // it comes whole in every answer, not only when the partition comes
    // first; an answer that holds no batch changes nothing.
    void largeBatchesAskForTheirSize_data()
    {
        QTest::addColumn<QList<TestBatch>>("batches");
        QTest::addColumn<qsizetype>("cutBytes");
        QTest::addColumn<std::int64_t>("askedBytes");
        const auto batchOf = [](std::int64_t offset, int valueSize, Codec codec = Codec::None) {
            TestBatch batch;
            batch.baseOffset = offset;
            batch.codec = codec;
            batch.records = { { 0, 0, 0, QByteArray(), QByteArray(valueSize, 'v'), {} } };
            return batch;
        };
        const auto sizeOf = [](const TestBatch& batch) { return std::int64_t(batch.bytes().size()); };
        const std::int64_t header = KafkaRecordBatch::HeaderSize;
        const TestBatch small = batchOf(0, 1000);
        const TestBatch large = batchOf(1, 700'000);
        const TestBatch larger = batchOf(1, 900'000);
        QTest::newRow("small batches") << QList<TestBatch> { small, batchOf(1, 1000) } << qsizetype(0)
                                       << std::int64_t(KafkaFetcher::PartitionMaxBytes);
        QTest::newRow("the header of a large next batch")
            << QList<TestBatch> { small, larger } << qsizetype(sizeOf(larger) - header) << sizeOf(larger) + header;
        QTest::newRow("a large batch whole, nothing after")
            << QList<TestBatch> { small, large } << qsizetype(0) << sizeOf(large) + header;
        QTest::newRow("part of a large batch's header")
            << QList<TestBatch> { small, large } << qsizetype(sizeOf(large) - 20)
            << std::int64_t(KafkaFetcher::PartitionMaxBytes);
        QTest::newRow("a compressed next batch")
            << QList<TestBatch> { small, batchOf(1, 900'000, Codec::Lz4) } << qsizetype(100)
            << std::int64_t(KafkaFetcher::PartitionMaxBytes);
        TestBatch huge = batchOf(1, 10);
        huge.batchLength = 2'000'000'000;
        QTest::newRow("a next batch claiming 2 GB") << QList<TestBatch> { small, huge } << qsizetype(0)
                                                    << std::int64_t(KafkaFetcher::MaxBytes);
    }

    void largeBatchesAskForTheirSize()
    {
        QFETCH(QList<TestBatch>, batches);
        QFETCH(qsizetype, cutBytes);
        QFETCH(std::int64_t, askedBytes);
        startFetcher(1);
        const int job = fetcher->fetchRecords("t", 0, 0, -1);
        Request* request = nextPending();
        QVERIFY(request);
        QCOMPARE(request->partitionMaxBytes, QList<std::int32_t> { KafkaFetcher::PartitionMaxBytes });
        QByteArray bytes;
        for (const TestBatch& batch : batches)
            bytes += batch.bytes();
        bytes.chop(cutBytes);
        answerFetch(request, { { 0, 100, bytes } });
        QTRY_VERIFY_WITH_TIMEOUT(!records.value(job).isEmpty(), WaitMs);
        for (int answer = 0; answer < 2; ++answer) {
            request = nextPending();
            QVERIFY(request);
            QCOMPARE(request->partitionMaxBytes, QList<std::int32_t> { std::int32_t(askedBytes) });
            QCOMPARE(request->maxBytes, std::int32_t(askedBytes));
            answerFetch(request, { { 0, 100, QByteArray() } });
        }
        QVERIFY(failures.isEmpty());
    }

    // Batches decoding past the response budget fail their job within that memory; resume goes on.
    void answerPastTheBudgetFailsItsJob()
    {
        startFetcher(1);
        const int job = fetcher->fetchRecords("t", 0, 0, -1);
        Request* request = nextPending();
        QVERIFY(request);
        // Eight batches of one 64 MiB record each: each within the per-batch cap, together past the budget.
        TestBatch bomb;
        bomb.codec = Codec::Zstd;
        bomb.recordCount = 1;
        bomb.section = compress(Codec::Zstd, TestRecord { 0, 0, 0, QByteArray(), QByteArray(64 << 20, '\0'), {} }.bytes());
        QByteArray bombs;
        for (bomb.baseOffset = 0; bomb.baseOffset < 8; ++bomb.baseOffset)
            bombs += bomb.bytes();
        answerFetch(request, { { 0, 8, bombs } });

        QTRY_COMPARE_WITH_TIMEOUT(failures.value(job).size(), 1, WaitMs);
        const KafkaError error = failures.value(job).first();
        QCOMPARE(error.message, QStringLiteral("An error occurred while parsing the record batch for t-0 at offset 0"));
        QCOMPARE(error.causes.last().message, QStringLiteral("The record batches of the Fetch response decode to more "
                                                             "than the limit of 536870912 bytes (reached in the batch at offset 3)"));
        QVERIFY(peakResidentBytes() <= KafkaDecodeBudget::FetchResponseLimit + 100'000'000);
        fetcher->resumeAllFetchJobs();
        for (int round = 0; (request = nextPending()) && request->partitions.value(0).second != 0 && round < 5; ++round)
            answerFetch(request, {});
        QVERIFY(request);
        answerFetch(request, { { 0, 2, plainBatch(0, 2).bytes() } });
        QTRY_COMPARE_WITH_TIMEOUT(offsetsOf(records.value(job)), offsetRange(0, 1), WaitMs);
    }
};

QTEST_GUILESS_MAIN(KafkaFetcherTest)
#include "KafkaFetcherTest.moc"
