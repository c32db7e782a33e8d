// Fetching records from a real broker with the codec: Fetch requests over a
// plain socket, record sets parsed batch by batch, aborted transactions
// dropped. Every parsed record must equal what librdkafka produced.
#include "BrokerTestCase.h"
#include "KafkaAbortedTransactionFilter.h"
#include "KafkaFetchRequest.h"
#include "KafkaFetchResponse.h"
#include "KafkaRecordBatch.h"
#include "TestProducer.h"
#include "TestTopicAdmin.h"

#include <QDateTime>
#include <QTest>

namespace {

struct FetchedPartition {
    QList<KafkaRecord> records;
    QList<KafkaRecordBatch> batches; // without their records
    std::int64_t nextOffset = 0;
    std::int64_t highWatermark = -1;
    QString error;
};

// Reads the partition from offset 0 up to its high watermark.
FetchedPartition fetchAll(const QString& address, std::int16_t version, const QString& topic)
{
    FetchedPartition fetched;
    TestBrokerSocket socket(address);
    for (int round = 0; round < 1000; ++round) {
        KafkaFetchRequest::Partition partition { 0, -1, fetched.nextOffset, -1, 500000 };
        KafkaFetchRequest request(socket.nextCorrelationId(), BrokerTestCase::ClientId, -1, 500, 1, 500000,
            IsolationLevel::ReadCommitted, -1, -1, { { topic, { partition } } }, {}, QString());
        auto response = socket.roundTrip<KafkaFetchResponse>(request, version);
        if (response.isError()) {
            fetched.error = response.error().message;
            return fetched;
        }
        if (response.value().topics.size() != 1 || response.value().topics[0].partitions.size() != 1) {
            fetched.error = "the response does not hold the partition";
            return fetched;
        }
        const KafkaFetchResponse::Partition& answer = response.value().topics[0].partitions[0];
        if (answer.errorCode != KafkaProtocolError::None) {
            fetched.error = QString("partition error %1").arg(static_cast<int>(answer.errorCode));
            return fetched;
        }
        fetched.highWatermark = answer.highWatermark;
        KafkaAbortedTransactionFilter filter = KafkaAbortedTransactionFilter::fromTransactions(answer.abortedTransactions);
        KafkaBuffer recordSet(answer.records);
        while (!recordSet.atEnd()) {
            auto batch = KafkaRecordBatch::parseFromBuffer(recordSet, topic, 0);
            if (batch.isError()) {
                if (batch.error().code == KafkaErrorCode::IncompleteRecordBatch)
                    break;
                fetched.error = batch.error().message;
                return fetched;
            }
            KafkaRecordBatch& value = batch.value();
            if (!filter.isAborted(value))
                fetched.records.append(value.records);
            fetched.nextOffset = value.lastOffset() + 1;
            value.records.clear();
            fetched.batches.append(value);
        }
        if (fetched.nextOffset >= answer.highWatermark)
            return fetched;
    }
    fetched.error = "the partition was not read to its end";
    return fetched;
}

// What a produced record looks like once fetched.
void compareRecord(const KafkaRecord& fetched, const TestRecord& produced, qint64 offset)
{
    QCOMPARE(fetched.offset, offset);
    QCOMPARE(fetched.topic, produced.topic);
    QCOMPARE(fetched.partition, 0);
    QCOMPARE(fetched.key.isNull(), !produced.key.has_value());
    QCOMPARE(fetched.key, produced.key.value_or(QByteArray()));
    QCOMPARE(fetched.value.isNull(), !produced.value.has_value());
    QCOMPARE(fetched.value, produced.value.value_or(QByteArray()));
    QCOMPARE(fetched.timestamp, produced.timestamp);
    QCOMPARE(fetched.headers.size(), produced.headers.size());
    for (qsizetype i = 0; i < fetched.headers.size(); ++i) {
        QCOMPARE(fetched.headers[i].key.toUtf8(), produced.headers[i].name);
        QCOMPARE(fetched.headers[i].value.isNull(), !produced.headers[i].value.has_value());
        QCOMPARE(fetched.headers[i].value, produced.headers[i].value.value_or(QByteArray()));
    }
}

// Records with null, empty and binary keys, values and headers and explicit,
// distinct timestamps.
QList<TestRecord> sampleRecords(const QString& topic, int count)
{
    QList<TestRecord> records;
    const qint64 base = 1'650'000'000'000;
    for (int i = 0; i < count; ++i) {
        TestRecord record;
        record.topic = topic;
        record.partition = 0;
        record.timestamp = base + i * 1000 + (i % 3);
        switch (i % 5) {
        case 0:
            record.key = std::nullopt;
            record.value = QByteArray("value ") + QByteArray::number(i).repeated(20);
            break;
        case 1:
            record.key = QByteArray("");
            record.value = QByteArray("");
            break;
        case 2:
            record.key = QByteArray("key-") + QByteArray::number(i);
            record.value = std::nullopt; // a tombstone
            break;
        case 3:
            record.key = QByteArray("\x00\xff\x01 binary", 10);
            record.value = QByteArray(300 + i, char('a' + i % 26));
            record.headers = { { "h-null", std::nullopt }, { "h-empty", QByteArray("") }, { "h-text", QByteArray("été") } };
            break;
        default:
            record.key = QByteArray("k");
            record.value = QString("{\"n\": %1, \"text\": \"ünïcödé\"}").arg(i).toUtf8();
            record.headers = { { "", QByteArray("empty name") } };
            break;
        }
        records.append(record);
    }
    return records;
}

} // namespace

class KafkaFetchBrokerTest : public QObject {
    Q_OBJECT

private:
    KafkaTestEnvironment m_env = KafkaTestEnvironment::fromProcessEnvironment();
    QHash<QString, QString> m_codecTopics;
    QHash<QString, QList<TestRecord>> m_produced;

private slots:
    void initTestCase()
    {
        SKELVANE_REQUIRE_KAFKA_BROKER(m_env);
        TestTopicAdmin admin(m_env.plaintext());
        for (const QString codec : { "none", "gzip", "snappy", "lz4", "zstd" }) {
            const QString topic = KafkaTestEnvironment::uniqueTopicName("fetch-" + codec);
            QCOMPARE(admin.createTopic(topic, 1), QString());
            TestProducer producer;
            TestProducer::Options options { m_env.plaintext(), codec };
            QCOMPARE(producer.open(options), QString());
            const QList<TestRecord> records = sampleRecords(topic, 60);
            for (const TestRecord& record : records)
                QCOMPARE(producer.produce(record), QString());
            for (const auto& delivery : producer.flush())
                QCOMPARE(delivery.error, QString());
            m_codecTopics.insert(codec, topic);
            m_produced.insert(codec, records);
        }
    }

    void fetchEveryCodec_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("codec");
        QTest::addColumn<int>("codecId");
        const QList<std::pair<QString, int>> codecs { { "none", 0 }, { "gzip", 1 }, { "snappy", 2 }, { "lz4", 3 }, { "zstd", 4 } };
        for (int version : { 4, 11 })
            for (const auto& [codec, id] : codecs)
                QTest::addRow("v%d %s", version, qPrintable(codec)) << version << codec << id;
    }

    void fetchEveryCodec()
    {
        QFETCH(int, version);
        QFETCH(QString, codec);
        QFETCH(int, codecId);
        const FetchedPartition fetched = fetchAll(m_env.plaintext(), version, m_codecTopics.value(codec));
        QCOMPARE(fetched.error, QString());
        const QList<TestRecord> produced = m_produced.value(codec);
        QCOMPARE(fetched.records.size(), produced.size());
        for (qsizetype i = 0; i < produced.size(); ++i)
            compareRecord(fetched.records[i], produced[i], i);

        // The producer batched: at least one batch holds several records, and
        // every batch is compressed with the producer's codec.
        bool multiRecord = false;
        for (const KafkaRecordBatch& batch : fetched.batches) {
            QCOMPARE(batch.compression(), codecId);
            QCOMPARE(batch.magic, std::int8_t(2));
            multiRecord = multiRecord || batch.lastOffsetDelta > 0;
        }
        QVERIFY(multiRecord);
        QCOMPARE(fetched.nextOffset, fetched.highWatermark);
    }

    void logAppendTimeGivesEveryRecordTheBrokersTime()
    {
        const QString topic = KafkaTestEnvironment::uniqueTopicName("log-append-time");
        TestTopicAdmin admin(m_env.plaintext());
        QCOMPARE(admin.createTopic(topic, 1, TestTopicAdmin::TimestampType::LogAppendTime), QString());
        TestProducer producer;
        QCOMPARE(producer.open({ m_env.plaintext(), "lz4" }), QString());
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        for (int i = 0; i < 10; ++i)
            QCOMPARE(producer.produce({ topic, 0, QByteArray("k"), QByteArray::number(i), {}, 1'000'000'000'000 + i }), QString());
        for (const auto& delivery : producer.flush())
            QCOMPARE(delivery.error, QString());
        const qint64 after = QDateTime::currentMSecsSinceEpoch();

        const FetchedPartition fetched = fetchAll(m_env.plaintext(), 11, topic);
        QCOMPARE(fetched.error, QString());
        QCOMPARE(fetched.records.size(), 10);
        for (const KafkaRecord& record : fetched.records) {
            QVERIFY(record.timestamp >= before - 1000 && record.timestamp <= after + 1000);
            const auto batch = std::find_if(fetched.batches.begin(), fetched.batches.end(), [&](const KafkaRecordBatch& b) {
                return record.offset >= b.baseOffset && record.offset <= b.lastOffset();
            });
            QVERIFY(batch != fetched.batches.end());
            QCOMPARE(record.timestamp, batch->maxTimestamp);
        }
    }

    void readCommittedDropsAbortedTransactions_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("codec");
        QTest::newRow("v4 none") << 4 << "none";
        QTest::newRow("v11 zstd") << 11 << "zstd";
    }

    void readCommittedDropsAbortedTransactions()
    {
        QFETCH(int, version);
        QFETCH(QString, codec);
        const QString topic = KafkaTestEnvironment::uniqueTopicName("transactions");
        TestTopicAdmin admin(m_env.plaintext());
        QCOMPARE(admin.createTopic(topic, 1), QString());

        TestProducer transactional;
        QCOMPARE(transactional.open({ m_env.plaintext(), codec, topic + "-txn" }), QString());
        QCOMPARE(transactional.initTransactions(), QString());
        TestProducer plain;
        QCOMPARE(plain.open({ m_env.plaintext(), codec }), QString());

        QList<QByteArray> expected;
        auto produceTransaction = [&](const QByteArray& name, int count, bool commit) {
            QCOMPARE(transactional.beginTransaction(), QString());
            for (int i = 0; i < count; ++i)
                QCOMPARE(transactional.produce({ topic, 0, QByteArray("k"), name + QByteArray::number(i), {}, 0 }), QString());
            for (const auto& delivery : transactional.flush())
                QCOMPARE(delivery.error, QString());
            QCOMPARE(commit ? transactional.commitTransaction() : transactional.abortTransaction(), QString());
            if (commit)
                for (int i = 0; i < count; ++i)
                    expected.append(name + QByteArray::number(i));
        };
        auto producePlain = [&](const QByteArray& value) {
            QCOMPARE(plain.produce({ topic, 0, QByteArray("k"), value, {}, 0 }), QString());
            for (const auto& delivery : plain.flush())
                QCOMPARE(delivery.error, QString());
            expected.append(value);
        };

        produceTransaction("committed-a-", 3, true);
        produceTransaction("aborted-b-", 4, false);
        producePlain("plain-c");
        produceTransaction("aborted-d-", 2, false);
        produceTransaction("committed-e-", 2, true);
        producePlain("plain-f");

        const FetchedPartition fetched = fetchAll(m_env.plaintext(), version, topic);
        QCOMPARE(fetched.error, QString());
        QList<QByteArray> values;
        for (const KafkaRecord& record : fetched.records)
            values.append(record.value);
        QCOMPARE(values, expected);
        // Control batches carry no records but their offsets are passed.
        QCOMPARE(fetched.nextOffset, fetched.highWatermark);
        int markers = 0;
        for (const KafkaRecordBatch& batch : fetched.batches)
            markers += batch.isControlBatch() ? 1 : 0;
        QCOMPARE(markers, 4);
    }
};

QTEST_GUILESS_MAIN(KafkaFetchBrokerTest)
#include "KafkaFetchBrokerTest.moc"
