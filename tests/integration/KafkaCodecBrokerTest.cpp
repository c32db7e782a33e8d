// The codec against a real broker: requests built by the codec, sent over a
// plain socket, answers parsed by the codec. Test data comes from librdkafka.
#include "KafkaApiVersionsRequest.h"
#include "KafkaApiVersionsResponse.h"
#include "KafkaConsumerProtocolAssignment.h"
#include "KafkaDescribeGroupsRequest.h"
#include "KafkaDescribeGroupsResponse.h"
#include "KafkaListGroupsRequest.h"
#include "KafkaListGroupsResponse.h"
#include "KafkaListOffsetsRequest.h"
#include "KafkaListOffsetsResponse.h"
#include "KafkaMetadataRequest.h"
#include "KafkaMetadataResponse.h"
#include "KafkaOffsetFetchRequest.h"
#include "KafkaOffsetFetchResponse.h"
#include "KafkaSaslHandshakeRequest.h"
#include "KafkaSaslHandshakeResponse.h"
#include "KafkaSaslPlainAuthenticateRequest.h"
#include "KafkaSaslPlainAuthenticateResponse.h"
#include "KafkaTestEnvironment.h"
#include "TestBrokerSocket.h"
#include "TestConsumerGroup.h"
#include "TestProducer.h"
#include "TestTopicAdmin.h"

#include <QDateTime>
#include <QTest>

namespace {

constexpr auto ClientId = TestBrokerSocket::ClientId;
const QStringList Codecs { "none", "gzip", "snappy", "lz4", "zstd" };

#define VERIFY_VALUE(result) QVERIFY2((result).hasValue(), qPrintable((result).isError() ? (result).error().message : ""))

// Records with null, empty and binary keys, values and headers and distinct timestamps.
QList<TestRecord> sampleRecords(const QString& topic, int count)
{
    QList<TestRecord> records;
    for (int i = 0; i < count; ++i) {
        TestRecord r { topic, 0, QByteArray("k"), QByteArray("value ") + QByteArray::number(i).repeated(20), {},
            1'650'000'000'000 + i * 1000 + i % 3 };
        if (i % 4 == 0)
            r.key = std::nullopt;
        if (i % 4 == 1)
            r = { topic, 0, QByteArray(""), QByteArray(""), {}, r.timestamp };
        if (i % 4 == 2)
            r.value = std::nullopt; // a tombstone
        if (i % 4 == 3) {
            r.key = QByteArray("\x00\xff\x01 binary", 10);
            r.headers = { { "h-null", std::nullopt }, { "h-empty", QByteArray("") }, { "h-text", QByteArray("été") },
                { "", QByteArray("empty name") } };
        }
        records.append(r);
    }
    return records;
}

void compareRecord(const KafkaRecord& fetched, const TestRecord& produced, qint64 offset)
{
    QCOMPARE(fetched.offset, offset);
    QCOMPARE(fetched.topic, produced.topic);
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

} // namespace

class KafkaCodecBrokerTest : public QObject {
    Q_OBJECT

    KafkaTestEnvironment m_env = KafkaTestEnvironment::fromProcessEnvironment();
    QHash<std::int16_t, std::pair<std::int16_t, std::int16_t>> m_versions; // the broker's, by API key
    QString m_topic; // three partitions; three records in partition 0 at m_timestamps
    const QList<qint64> m_timestamps { 1'600'000'000'000, 1'600'000'001'000, 1'600'000'002'000 };
    QHash<QString, QString> m_codecTopics;
    QHash<QString, QList<TestRecord>> m_produced;

    // Both ends of the versions of [ours] the broker accepts.
    QList<std::int16_t> commonEnds(std::int16_t apiKey, std::int16_t ourMin, std::int16_t ourMax) const
    {
        const auto range = m_versions.value(apiKey, { -1, -1 });
        if (range.first < 0 || std::max(range.first, ourMin) > std::min(range.second, ourMax))
            return {};
        return { std::max(range.first, ourMin), std::min(range.second, ourMax) };
    }

    void produce(const QList<TestRecord>& records, const QString& codec = "none")
    {
        TestProducer producer;
        TestProducer::Options options;
        options.bootstrap = m_env.plaintext();
        options.compression = codec;
        QCOMPARE(producer.open(options), QString());
        for (const TestRecord& record : records)
            QCOMPARE(producer.produce(record), QString());
        for (const auto& delivery : producer.flush())
            QCOMPARE(delivery.error, QString());
    }

private slots:
    void initTestCase()
    {
        SKELVANE_REQUIRE_KAFKA_BROKER(m_env);
        TestBrokerSocket socket(m_env.plaintext());
        auto versions = socket.roundTrip<KafkaApiVersionsResponse>(
            KafkaApiVersionsRequest(socket.nextCorrelationId(), ClientId), 1);
        VERIFY_VALUE(versions);
        for (const auto& key : versions.value().apiKeys)
            m_versions.insert(key.apiKey, { key.minVersion, key.maxVersion });

        TestTopicAdmin admin(m_env.plaintext());
        m_topic = KafkaTestEnvironment::uniqueTopicName("codec");
        QCOMPARE(admin.createTopic(m_topic, 3), QString());
        QList<TestRecord> records;
        for (qint64 timestamp : m_timestamps)
            records.append({ m_topic, 0, QByteArray("k"), QByteArray("v"), {}, timestamp });
        produce(records);
        for (const QString& codec : Codecs) {
            const QString topic = KafkaTestEnvironment::uniqueTopicName("fetch-" + codec);
            QCOMPARE(admin.createTopic(topic, 1), QString());
            m_codecTopics.insert(codec, topic);
            m_produced.insert(codec, sampleRecords(topic, 60));
            produce(m_produced.value(codec), codec);
        }
    }

    void apiVersionsListsEveryApiTheClientSpeaks()
    {
        const std::pair<int, std::pair<int, int>> ours[] = { { 1, { 4, 11 } }, { 2, { 1, 5 } }, { 3, { 1, 8 } },
            { 9, { 0, 7 } }, { 15, { 0, 4 } }, { 16, { 0, 4 } }, { 17, { 1, 1 } }, { 18, { 1, 1 } }, { 36, { 0, 0 } } };
        for (const auto& [key, range] : ours)
            QVERIFY2(!commonEnds(key, range.first, range.second).isEmpty(), qPrintable(QString::number(key)));
    }

    void metadata_data()
    {
        QTest::addColumn<int>("version");
        QTest::newRow("v1") << 1;
        QTest::newRow("v8") << 8;
    }

    void metadata()
    {
        QFETCH(int, version);
        TestBrokerSocket socket(m_env.plaintext());
        const QString missing = KafkaTestEnvironment::uniqueTopicName("missing");
        auto response = socket.roundTrip<KafkaMetadataResponse>(
            KafkaMetadataRequest(socket.nextCorrelationId(), ClientId, QStringList { m_topic, missing }, false, true, true),
            version);
        VERIFY_VALUE(response);
        const KafkaMetadataResponse& value = response.value();
        QCOMPARE(value.brokers.size(), 1);
        QCOMPARE(value.brokers[0].host + ":" + QString::number(value.brokers[0].port), m_env.plaintext());
        QCOMPARE(value.clusterId.isNull(), version < 2);
        QCOMPARE(value.topics.size(), 2);
        const auto& topic = value.topics[value.topics[0].name == m_topic ? 0 : 1];
        QCOMPARE(topic.errorCode, KafkaProtocolError::None);
        QCOMPARE(topic.name, m_topic);
        QVERIFY(!topic.isInternal);
        QCOMPARE(topic.partitions.size(), 3);
        for (const auto& partition : topic.partitions) {
            QCOMPARE(partition.errorCode, KafkaProtocolError::None);
            QCOMPARE(partition.leaderId, value.brokers[0].nodeId);
            QCOMPARE(partition.replicaNodes, QList<std::int32_t> { value.brokers[0].nodeId });
            QCOMPARE(partition.isrNodes, QList<std::int32_t> { value.brokers[0].nodeId });
        }
        QCOMPARE(value.topics[value.topics[0].name == m_topic ? 1 : 0].errorCode,
            KafkaProtocolError::UnknownTopicOrPartition);
    }

    void listOffsets_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<qint64>("timestamp");
        QTest::addColumn<qint64>("offset");
        for (int version : { 1, 5 }) {
            QTest::addRow("v%d earliest", version) << version << qint64(-2) << qint64(0);
            QTest::addRow("v%d latest", version) << version << qint64(-1) << qint64(3);
            QTest::addRow("v%d between timestamps", version) << version << m_timestamps[1] - 1 << qint64(1);
            QTest::addRow("v%d exact timestamp", version) << version << m_timestamps[2] << qint64(2);
            QTest::addRow("v%d after the last", version) << version << m_timestamps[2] + 1 << qint64(-1);
        }
    }

    void listOffsets()
    {
        QFETCH(int, version);
        QFETCH(qint64, timestamp);
        QFETCH(qint64, offset);
        TestBrokerSocket socket(m_env.plaintext());
        KafkaListOffsetsRequest request(socket.nextCorrelationId(), ClientId, -1, IsolationLevel::ReadCommitted,
            { { m_topic, { { 0, -1, timestamp } } } });
        auto response = socket.roundTrip<KafkaListOffsetsResponse>(request, version);
        VERIFY_VALUE(response);
        QCOMPARE(response.value().topics.size(), 1);
        QCOMPARE(response.value().topics[0].name, m_topic);
        QCOMPARE(response.value().topics[0].partitions.size(), 1);
        const auto& partition = response.value().topics[0].partitions[0];
        QCOMPARE(partition.errorCode, KafkaProtocolError::None);
        QCOMPARE(partition.offset, offset);
        if (timestamp >= 0 && offset >= 0)
            QCOMPARE(partition.timestamp, m_timestamps[offset]);
    }

    // ListGroups, DescribeGroups and OffsetFetch at both ends of the common versions.
    void consumerGroup()
    {
        const QString group = KafkaTestEnvironment::uniqueTopicName("group");
        TestConsumerGroup member;
        QCOMPARE(member.join(m_env.plaintext(), group, { m_topic }), QString());
        QCOMPARE(member.commit({ { m_topic, 0, 2 }, { m_topic, 1, 0 } }), QString());

        for (std::int16_t version : commonEnds(16, 0, 4)) {
            TestBrokerSocket socket(m_env.plaintext());
            auto response = socket.roundTrip<KafkaListGroupsResponse>(
                KafkaListGroupsRequest(socket.nextCorrelationId(), ClientId, {}), version);
            VERIFY_VALUE(response);
            QCOMPARE(response.value().errorCode, KafkaProtocolError::None);
            const auto groups = response.value().groups;
            const auto it = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.groupId == group; });
            QVERIFY2(it != groups.end(), qPrintable(QString("ListGroups v%1 misses the group").arg(version)));
            QCOMPARE(it->protocolType, QString("consumer"));
            QCOMPARE(it->groupState.isNull(), version < 4);
            if (version >= 4)
                QCOMPARE(it->groupState, QString("Stable"));
        }
        for (std::int16_t version : commonEnds(15, 0, 4)) {
            TestBrokerSocket socket(m_env.plaintext());
            auto response = socket.roundTrip<KafkaDescribeGroupsResponse>(
                KafkaDescribeGroupsRequest(socket.nextCorrelationId(), ClientId, { group }, false), version);
            VERIFY_VALUE(response);
            QCOMPARE(response.value().groups.size(), 1);
            const auto& described = response.value().groups[0];
            QCOMPARE(described.errorCode, KafkaProtocolError::None);
            QCOMPARE(described.groupId, group);
            QCOMPARE(described.groupState, QString("Stable"));
            QCOMPARE(described.protocolType, QString("consumer"));
            QCOMPARE(described.members.size(), 1);
            KafkaBuffer blob(described.members[0].memberAssignment);
            auto assignment = KafkaConsumerProtocolAssignment::parseFromBuffer(blob);
            QVERIFY(assignment.hasValue());
            QCOMPARE(assignment.value().topics.size(), 1);
            QCOMPARE(assignment.value().topics[0].topic, m_topic);
            QList<std::int32_t> partitions = assignment.value().topics[0].partitions;
            std::sort(partitions.begin(), partitions.end());
            QCOMPARE(partitions, (QList<std::int32_t> { 0, 1, 2 }));
        }
        for (std::int16_t version : commonEnds(9, 0, 7)) {
            TestBrokerSocket socket(m_env.plaintext());
            auto response = socket.roundTrip<KafkaOffsetFetchResponse>(
                KafkaOffsetFetchRequest(socket.nextCorrelationId(), ClientId, group, { { m_topic, { 0, 1, 2 } } }, false),
                version);
            VERIFY_VALUE(response);
            QCOMPARE(response.value().errorCode, KafkaProtocolError::None);
            QCOMPARE(response.value().topics.size(), 1);
            QHash<int, qint64> committed;
            for (const auto& partition : response.value().topics[0].partitions) {
                QCOMPARE(partition.errorCode, KafkaProtocolError::None);
                committed.insert(partition.partitionIndex, partition.committedOffset);
            }
            QCOMPARE(committed, (QHash<int, qint64> { { 0, 2 }, { 1, 0 }, { 2, -1 } }));
        }
    }

    void saslPlain_data()
    {
        QTest::addColumn<bool>("rightPassword");
        QTest::newRow("right password") << true;
        QTest::newRow("wrong password") << false;
    }

    void saslPlain()
    {
        QFETCH(bool, rightPassword);
        TestBrokerSocket socket(m_env.saslPlaintext());
        auto handshake = socket.roundTrip<KafkaSaslHandshakeResponse>(
            KafkaSaslHandshakeRequest(socket.nextCorrelationId(), ClientId, "PLAIN"), 1);
        VERIFY_VALUE(handshake);
        QCOMPARE(handshake.value().errorCode, KafkaProtocolError::None);
        QVERIFY(handshake.value().mechanisms.contains("SCRAM-SHA-512"));

        const auto credentials = m_env.plain();
        auto response = socket.roundTrip<KafkaSaslPlainAuthenticateResponse>(
            KafkaSaslPlainAuthenticateRequest(socket.nextCorrelationId(), ClientId, QString(), credentials.user,
                rightPassword ? credentials.password : credentials.password + "x"),
            0);
        VERIFY_VALUE(response);
        if (!rightPassword) {
            QCOMPARE(response.value().errorCode, KafkaProtocolError::SaslAuthenticationFailed);
            QVERIFY(!response.value().errorMessage.isEmpty());
            return;
        }
        QCOMPARE(response.value().errorCode, KafkaProtocolError::None);
        // Authenticated: the connection now answers ordinary requests.
        auto metadata = socket.roundTrip<KafkaMetadataResponse>(
            KafkaMetadataRequest(socket.nextCorrelationId(), ClientId, QStringList { m_topic }, false, false, false), 8);
        VERIFY_VALUE(metadata);
        QCOMPARE(metadata.value().topics.size(), 1);
    }

    void fetchEveryCodec_data()
    {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("codec");
        for (int version : { 4, 11 })
            for (const QString& codec : Codecs)
                QTest::addRow("v%d %s", version, qPrintable(codec)) << version << codec;
    }

    void fetchEveryCodec()
    {
        QFETCH(int, version);
        QFETCH(QString, codec);
        const auto fetched = TestBrokerSocket(m_env.plaintext()).fetchAll(m_codecTopics.value(codec), 0, version);
        QCOMPARE(fetched.error, QString());
        const QList<TestRecord> produced = m_produced.value(codec);
        QCOMPARE(fetched.records.size(), produced.size());
        for (qsizetype i = 0; i < produced.size(); ++i)
            compareRecord(fetched.records[i], produced[i], i);
        // The producer batched, with its codec.
        bool multiRecord = false;
        for (const KafkaRecordBatch& batch : fetched.batches) {
            QCOMPARE(batch.compression(), Codecs.indexOf(codec));
            QCOMPARE(batch.magic, std::int8_t(2));
            multiRecord = multiRecord || batch.lastOffsetDelta > 0;
        }
        QVERIFY(multiRecord);
        QCOMPARE(fetched.nextOffset, fetched.highWatermark);
    }

    void logAppendTimeGivesEveryRecordTheBrokersTime()
    {
        const QString topic = KafkaTestEnvironment::uniqueTopicName("log-append-time");
        QCOMPARE(TestTopicAdmin(m_env.plaintext()).createTopic(topic, 1, TestTopicAdmin::TimestampType::LogAppendTime),
            QString());
        const qint64 before = QDateTime::currentMSecsSinceEpoch();
        QList<TestRecord> records;
        for (int i = 0; i < 10; ++i)
            records.append({ topic, 0, QByteArray("k"), QByteArray::number(i), {}, 1'000'000'000'000 + i });
        produce(records, "lz4");
        const qint64 after = QDateTime::currentMSecsSinceEpoch();

        const auto fetched = TestBrokerSocket(m_env.plaintext()).fetchAll(topic, 0);
        QCOMPARE(fetched.error, QString());
        QCOMPARE(fetched.records.size(), 10);
        for (const KafkaRecord& record : fetched.records) {
            QVERIFY(record.timestamp >= before - 1000 && record.timestamp <= after + 1000);
            const auto batch = std::find_if(fetched.batches.begin(), fetched.batches.end(),
                [&](const KafkaRecordBatch& b) { return record.offset >= b.baseOffset && record.offset <= b.lastOffset(); });
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
        QCOMPARE(TestTopicAdmin(m_env.plaintext()).createTopic(topic, 1), QString());
        TestProducer transactional;
        TestProducer::Options options;
        options.bootstrap = m_env.plaintext();
        options.compression = codec;
        options.transactionalId = topic + "-txn";
        QCOMPARE(transactional.open(options), QString());
        QCOMPARE(transactional.initTransactions(), QString());

        QList<QByteArray> expected;
        auto produceTransaction = [&](const QByteArray& name, int count, bool commit) {
            QCOMPARE(transactional.beginTransaction(), QString());
            for (int i = 0; i < count; ++i)
                QCOMPARE(transactional.produce({ topic, 0, QByteArray("k"), name + QByteArray::number(i), {}, 0 }), QString());
            for (const auto& delivery : transactional.flush())
                QCOMPARE(delivery.error, QString());
            QCOMPARE(commit ? transactional.commitTransaction() : transactional.abortTransaction(), QString());
            for (int i = 0; commit && i < count; ++i)
                expected.append(name + QByteArray::number(i));
        };
        auto producePlain = [&](const QByteArray& value) {
            produce({ { topic, 0, QByteArray("k"), value, {}, 0 } }, codec);
            expected.append(value);
        };
        produceTransaction("committed-a-", 3, true);
        produceTransaction("aborted-b-", 4, false);
        producePlain("plain-c");
        produceTransaction("aborted-d-", 2, false);
        produceTransaction("committed-e-", 2, true);
        producePlain("plain-f");

        const auto fetched = TestBrokerSocket(m_env.plaintext()).fetchAll(topic, 0, version);
        QCOMPARE(fetched.error, QString());
        QList<QByteArray> values;
        for (const KafkaRecord& record : fetched.records)
            values.append(record.value);
        QCOMPARE(values, expected);
        // Control batches carry no records but their offsets are passed.
        QCOMPARE(fetched.nextOffset, fetched.highWatermark);
        QCOMPARE(std::count_if(fetched.batches.begin(), fetched.batches.end(),
                     [](const KafkaRecordBatch& batch) { return batch.isControlBatch(); }),
            4);
    }
};

QTEST_GUILESS_MAIN(KafkaCodecBrokerTest)
#include "KafkaCodecBrokerTest.moc"
